#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "fio/fio.h"
#include "thr/thr.h"
#include "logdb/logdb_database.h"
#include "logdb/logdb_fsyn_log_file.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_save_restore.h"
#include "log_records.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_log_test {

namespace {

std::vector<int32_t> file_entry_ids(const std::string& name)
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name);
    std::vector<int32_t> ids;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = file.read_fsyn_log_entry()) ids.push_back(record->m_entry_id);
    return ids;
}

std::string bytes_of(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& name)
{
    return std::filesystem::exists(name);
}

// The records a synthesis stage left: one revision and one marker.
void write_synthesis_log(const std::string& name)
{
    LOGDB_FSYN_LOG_FILE log;
    log.set_file_name(name);
    log.delete_file();
    log.init(true);
    const LOGDB_FSYN_LOG_ENTRY_PRE_PLACEMENT_FLOW marker(424242);
    ASSERT_TRUE(log.write_fsyn_log_entry(&marker));
}

// One compile of a BRK design with an MRL migration part: the facade keeps a
// live change log. The project and compile names may differ.
struct LOGGED_COMPILE
{
    LOGGED_COMPILE(const char* project, const char* compile, bool with_ports = false)
        : host(std::make_unique<MORV_TEST_HOST>(CDB_FAMILY_BRK))
    {
        host->cmp.set_project_name(project);
        host->cmp.set_compile_base_name(compile);
        ids = host->build_chain(3);
        if (with_ports) {
            bpm = std::make_unique<BPM_BOUNDARY_PORT_MANAGER>(&host->ap);
            bpm_drl_set_active_boundary_port_manager(bpm.get());
        }
        morv_install_migration_device(CDB_FAMILY_BRK, 2401);
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        auto* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert != nullptr ? expert->get_fsyn_api() : nullptr;
    }
    ~LOGGED_COMPILE()
    {
        env.reset();
        bpm.reset();
        host.reset();
        DMGR_UTILITY::set_current_device(nullptr);
    }
    MORV_LOG* log() const { return api->get_fsyn_log(); }
    CDB_ATOM_NODE* node(int k) const { return env->get_node(ids[static_cast<size_t>(k)]); }
    // What the flow driver does at the end of a physical-synthesis call,
    // and the host once the compile succeeded: the merged log is final.
    void merge(const std::string& final_name) const
    {
        log()->merge_log_files(final_name);
        MORV_LOG::delete_chunk_files();
        EXPECT_EQ(MORV_LOG::settle_final_files(true), "");
    }

    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> bpm;
    std::unique_ptr<MORV_TEST_ENV> env;
    std::vector<int> ids;
    MORV_API* api = nullptr;
};

class MorvLogTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        MORV_LOG::delete_chunk_files();
        LOGDB_DATABASE::unload_database();
        // A final log another test left would be held aside by the first
        // merge, as an earlier compile's is, and change what these see.
        std::filesystem::remove("db/top.cmp.psl");
    }
    void TearDown() override
    {
        MORV_LOG::settle_final_files(false);
        MORV_LOG::delete_chunk_files();
        LOGDB_DATABASE::unload_database();
        MORV_CLEAN_STATE_TEST::TearDown();
    }
};

// ------------------------------------------------------------------ writers

TEST_F(MorvLogTest, InsertsAndDeletesOfOneLogFoldTogether)
{
    LOGGED_COMPILE c("top", "top");
    ASSERT_NE(c.api, nullptr);
    MORV_LOG* log = c.log();
    log->clear_pending_entries();
    MORV_CDB_INTERFACE* cdb = c.api->get_fsyn_cdb_interface();
    CDB_ATOM_NODE* origin = c.node(0);
    std::unique_ptr<CDB_ATOM_NODE> copy(
        cdb->create_lcell_comb_brk(nullptr, c.host->names.find_or_create_path("copy", 0)));
    std::unique_ptr<CDB_ATOM_NODE> copy2(
        cdb->create_lcell_comb_brk(nullptr, c.host->names.find_or_create_path("copy2", 0)));
    const std::string origin_name = short_name_of(*origin->begin_oterm());

    // A copy of a copy names the node that existed when logging began.
    log->log_insert_atom(copy.get(), origin, false);
    log->log_insert_atom(copy2.get(), copy.get(), true);
    EXPECT_EQ(pending_record_lines(*log),
              (std::vector<std::string>{log_line("INSERT_ATOM", copy.get(), "\"" + origin_name + "\" 1 0"),
                                        log_line("INSERT_ATOM", copy2.get(), "\"" + origin_name + "\" 1 1")}));
    // A second insert of one node replaces the first.
    log->log_insert_atom(copy.get(), origin, true);
    EXPECT_EQ(log->get_insert_atom_map().size(), 2u);
    EXPECT_EQ(pending_record_lines(*log).back(), log_line("INSERT_ATOM", copy.get(), "\"" + origin_name + "\" 1 1"));

    // Inserted then deleted: only the flagged delete is left.
    log->log_delete_atom(copy.get());
    EXPECT_EQ(pending_record_lines(*log),
              (std::vector<std::string>{log_line("INSERT_ATOM", copy2.get(), "\"" + origin_name + "\" 1 1"),
                                        log_line("DELETE_ATOM", copy.get(), "[] 1")}));
    // A node that existed before keeps its output names and no flag.
    CDB_ATOM_NODE* last = c.node(2);
    log->log_delete_atom(last);
    EXPECT_EQ(pending_record_lines(*log).back(),
              log_line("DELETE_ATOM", last, "[\"" + short_name_of(*last->begin_oterm()) + "\"] 0"));
    // A node that still drives something cannot go.
    EXPECT_EQ(internal_error_of([&] { log->log_delete_atom(origin); }), "!oterm->has_fanout()");
    log->clear_pending_entries();
}

TEST_F(MorvLogTest, EntryIdsRiseAcrossRecordsChunksAndSnapshots)
{
    LOGGED_COMPILE c("top", "top");
    MORV_LOG* log = c.log();
    const uint32_t before = MORV_LOG::peek_entry_id();
    log->log_set_user_lcell(c.node(0));
    log->start_new_log_chunk();  // its revision record takes an id too
    log->log_set_user_lcell(c.node(1));
    const std::vector<const LOGDB_FSYN_LOG_ENTRY*> records = log->get_all_pending_entries();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(static_cast<uint32_t>(records[0]->m_entry_id), before);
    EXPECT_EQ(static_cast<uint32_t>(records[1]->m_entry_id), before + 2);
    log->clear_pending_entries();
}

// ------------------------------------------------------------------ slots

TEST_F(MorvLogTest, SlotTablesAgreeWithTheirInverseForEveryGroup)
{
    for (int atom_type :
         {CDB_ATOM_BRK_LCELL_COMB_ENUM, CDB_ATOM_MORLIN_LCELL_COMB_ENUM, CDB_ATOM_MORLIN_LCELL_HSADDER_ENUM,
          CDB_ATOM_BRK_LCELL_FF_ENUM, CDB_ATOM_MORLIN_LCELL_FF_ENUM, CDB_ATOM_BRK_IO_ENUM, CDB_ATOM_MORLIN_IO_ENUM}) {
        const int slots = MORV_LOG::get_connection_slot_count(atom_type);
        ASSERT_GT(slots, 0) << atom_type;
        for (int slot = 0; slot < slots; ++slot)
            EXPECT_EQ(MORV_LOG::get_connection_slot(MORV_LOG::get_port_type_of_slot(slot, atom_type), atom_type), slot)
                << atom_type << " slot " << slot;
        EXPECT_EQ(internal_error_of([&] { MORV_LOG::get_port_type_of_slot(slots, atom_type); }),
                  "This input type not currently supported by the log");
    }
    EXPECT_EQ(MORV_LOG::get_connection_slot_count(CDB_ATOM_BRK_LCELL_COMB_ENUM), 11);
    EXPECT_EQ(MORV_LOG::get_connection_slot_count(CDB_ATOM_BRK_LCELL_FF_ENUM), 9);
    EXPECT_EQ(MORV_LOG::get_connection_slot_count(CDB_ATOM_MORLIN_IO_ENUM), 16);
    // Carry and share inputs follow the data inputs; a register's clear and
    // clock sit against their numeric order.
    EXPECT_EQ(MORV_LOG::get_connection_slot(DB_CARRY_IN, CDB_ATOM_BRK_LCELL_COMB_ENUM), 7);
    EXPECT_EQ(MORV_LOG::get_connection_slot(DB_SHARE_IN, CDB_ATOM_BRK_LCELL_COMB_ENUM), 8);
    EXPECT_EQ(MORV_LOG::get_connection_slot(DB_CLEAR, CDB_ATOM_BRK_LCELL_FF_ENUM), 6);
    EXPECT_EQ(MORV_LOG::get_connection_slot(DB_CLOCK, CDB_ATOM_BRK_LCELL_FF_ENUM), 5);
    EXPECT_EQ(MORV_LOG::get_connection_slot(72, CDB_ATOM_MORLIN_IO_ENUM), 13);
    EXPECT_EQ(internal_error_of([&] { MORV_LOG::get_connection_slot(DB_CLOCK, CDB_ATOM_BRK_LCELL_COMB_ENUM); }),
              "Unrecgonized input port type");
    EXPECT_EQ(internal_error_of([&] { MORV_LOG::get_connection_slot(DB_DATA_A, CDB_ATOM_BRK_LCELL_FF_ENUM); }),
              "Unrecognized input port type");
    EXPECT_EQ(internal_error_of([&] { MORV_LOG::get_connection_slot(DB_DATA_A, CDB_ATOM_BRK_CLKBUF_ENUM); }),
              "Unrecognized node type");
    EXPECT_EQ(internal_error_of([&] { MORV_LOG::get_port_type_of_slot(0, CDB_ATOM_BRK_CLKBUF_ENUM); }),
              "Unrecognized node type");
}

// ------------------------------------------------------------------ names

TEST_F(MorvLogTest, LoggedNamesFindNodesAndTermsWithoutAPortManager)
{
    LOGGED_COMPILE plain("top", "top");
    MORV_LOG* log = plain.log();
    // Without a boundary-port manager the port maps stay empty and names
    // are found through the instance names alone.
    log->build_boundary_port_map();
    log->build_partition_map();
    log->build_boundary_port_term_map();
    EXPECT_TRUE(log->get_boundary_port_map().empty());
    EXPECT_TRUE(log->get_partition_map().empty());
    EXPECT_TRUE(log->get_boundary_port_term_map().empty());
    EXPECT_TRUE(log->get_boundary_port_ids_by_term().empty());
    CDB_ATOM_NODE* node = plain.node(1);
    CDB_ATOM_OTERM* out = *node->begin_oterm();
    const std::string node_name = node->get_instance_name()->get_short_hpath();
    EXPECT_EQ(log->find_node_by_logged_name(node_name), nullptr);  // not indexed yet
    log->index_node_by_name_id(node);
    EXPECT_EQ(log->find_node_by_logged_name(node_name), node);
    EXPECT_EQ(log->find_node_by_logged_name("top|" + node_name), node);
    EXPECT_EQ(log->find_oterm_by_logged_name(short_name_of(out)), out);
    EXPECT_EQ(log->find_node_by_logged_name("no_such_name"), nullptr);
    EXPECT_EQ(log->find_boundary_port_id("no_such_port"), -1);
    EXPECT_EQ(log->find_oterm_by_logged_name("bus_dupbp_3"), nullptr);
}

// A new node's invert-observable output is recorded right after the output
// itself, with the output's port type; a plain output has no such record.
TEST_F(MorvLogTest, ANewNodeRecordsItsInvertObservableOutputs)
{
    LOGGED_COMPILE c("top", "top");
    MORV_LOG* log = c.log();
    CDB_ATOM_NODE* flagged = c.node(1);
    (*flagged->begin_oterm())->set_invert_observable(true);
    log->clear_pending_entries();
    log->log_new_node(nullptr, flagged, DB_COMB_OUT, 0);
    log->log_new_node(nullptr, c.node(2), DB_COMB_OUT, 0);
    const std::vector<std::string> kinds = pending_record_kinds(*log);
    const std::vector<std::string> lines = pending_record_lines(*log);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "CREATE_OTERM"), 2);
    ASSERT_EQ(std::count(kinds.begin(), kinds.end(), "SET_INVERT_OBSERVABLE"), 1);
    const size_t at =
        static_cast<size_t>(std::find(kinds.begin(), kinds.end(), "SET_INVERT_OBSERVABLE") - kinds.begin());
    ASSERT_GT(at, 0u);
    EXPECT_EQ(lines[at - 1].rfind(log_line("CREATE_OTERM", flagged, ""), 0), 0u) << lines[at - 1];
    EXPECT_EQ(lines[at], log_line("SET_INVERT_OBSERVABLE", flagged, std::to_string(DB_COMB_OUT)));
}

// A bus port bound to a term stands for its member ports too: the term map
// enters the members depth first, then the bus. The name map leaves out the
// two kinds of port the host never logs, unless a tree walk asks for them.
TEST_F(MorvLogTest, PortTreesAndPartitionsAreMappedByName)
{
    LOGGED_COMPILE c("top", "top", true);
    BPM_BOUNDARY_PORT_MANAGER& bpm = *c.bpm;
    const int bus = bpm.create_port("p|bus");
    const int bit0 = bpm.create_port("p|bus[0]");
    const int bit1 = bpm.create_port("p|bus[1]");
    const int half = bpm.create_port("p|bus[1]_half");
    ASSERT_TRUE(bpm.add_child_port(bus, bit0));
    ASSERT_TRUE(bpm.add_child_port(bus, bit1));
    ASSERT_TRUE(bpm.add_child_port(bit1, half));
    const int hidden = bpm.create_port("p|hidden");
    const int hidden_member = bpm.create_port("p|hidden_member");
    bpm.set_port_kind(hidden, 3);
    bpm.set_port_kind(hidden_member, 4);
    ASSERT_TRUE(bpm.add_child_port(hidden, hidden_member));
    CDB_ATOM_OTERM* out = *c.node(1)->begin_oterm();
    ASSERT_TRUE(bpm.bind_port_id(out, bus));
    // A port bound to a term that drives nothing stays out of the term map.
    ASSERT_TRUE(bpm.bind_port_id(*c.node(2)->begin_oterm(), hidden));
    bpm.set_partition_name(2, "core");
    bpm.add_partition(1);

    MORV_LOG* log = c.log();
    log->build_boundary_port_map();
    EXPECT_EQ(log->get_boundary_port_map(),
              (std::map<std::string, uint32_t>{
                  {"p|bus", bus}, {"p|bus[0]", bit0}, {"p|bus[1]", bit1}, {"p|bus[1]_half", half}}));
    log->add_boundary_port_tree(hidden);
    EXPECT_EQ(log->find_boundary_port_id("p|hidden"), hidden);
    EXPECT_EQ(log->find_boundary_port_id("p|hidden_member"), hidden_member);
    EXPECT_EQ(internal_error_of([&] { log->add_boundary_port_tree(-1); }), "bpid != BPM_OPEN");

    log->build_partition_map();
    EXPECT_EQ(log->get_partition_map(),
              (std::map<std::string, int>{{"partition_0", 0}, {"partition_1", 1}, {"core", 2}}));

    log->build_boundary_port_term_map();
    EXPECT_EQ(log->get_boundary_port_term_map().size(), 4u);
    for (const char* name : {"p|bus", "p|bus[0]", "p|bus[1]", "p|bus[1]_half"})
        EXPECT_EQ(log->find_oterm_by_logged_name(name), out) << name;
    EXPECT_EQ(log->get_boundary_port_ids_by_term().at(out),
              (std::vector<uint32_t>{static_cast<uint32_t>(bit0), static_cast<uint32_t>(half),
                                     static_cast<uint32_t>(bit1), static_cast<uint32_t>(bus)}));
    EXPECT_EQ(internal_error_of([&] { log->add_boundary_port_term(bus, nullptr); }), "oterm");
}

// A "_dupbp" name is cut at its first "_dupbp" and found as the port's
// "_r_dupbp" copy; the alias then answers directly, with the copy's id.
TEST_F(MorvLogTest, ADuplicatedPortNameFindsThePortsCopy)
{
    LOGGED_COMPILE c("top", "top", true);
    const int port = c.bpm->create_port("bus_r_dupbp");
    CDB_ATOM_OTERM* out = *c.node(1)->begin_oterm();
    ASSERT_TRUE(c.bpm->bind_port_id(out, port));
    MORV_LOG* log = c.log();
    log->build_boundary_port_map();
    log->build_boundary_port_term_map();
    EXPECT_EQ(log->find_boundary_port_id("bus_r_dupbp"), port);
    EXPECT_EQ(log->get_boundary_port_term_map().size(), 1u);
    EXPECT_EQ(log->find_oterm_by_logged_name("bus_r_dupbp"), out);

    const std::string asked = "bus_dupbp_7_dupbp";
    EXPECT_EQ(log->get_boundary_port_term_map().count(asked), 0u);
    EXPECT_EQ(log->find_oterm_by_logged_name(asked), out);
    EXPECT_EQ(log->get_boundary_port_term_map().count(asked), 1u);
    EXPECT_EQ(log->find_boundary_port_id(asked), port);
    EXPECT_EQ(log->find_oterm_by_logged_name(asked), out);
    // Cut at the first "_dupbp": "bus_dupbp_7" would look for "bus_r_dupbp"
    // too, while "other_dupbp" looks for a copy that does not exist.
    EXPECT_EQ(log->find_oterm_by_logged_name("other_dupbp"), nullptr);
}

// ------------------------------------------------------------------ chunks and merge

TEST_F(MorvLogTest, ChunksAreNumberedAcrossCallsAndMergedInOrder)
{
    LOGGED_COMPILE c("proj", "top");
    MORV_LOG* log = c.log();
    ASSERT_EQ(log->get_chunk_file_names().size(), 1u);
    const std::string first = log->get_chunk_file_names()[0];
    EXPECT_EQ(first.rfind("db/proj", 0), 0u);
    const int32_t counter = MORV_LOG::get_chunk_counter();
    EXPECT_EQ(first, "db/proj" + std::to_string(counter - 1) + ".kas");
    write_synthesis_log("db/top.map.psl");

    log->log_set_user_lcell(c.node(0));
    log->write_pending_entries();
    log->start_new_log_chunk();
    EXPECT_EQ(log->get_chunk_file_names().back(), "db/proj" + std::to_string(counter) + ".kas");
    log->log_set_user_lcell(c.node(1));
    log->write_pending_entries();
    c.merge("db/top.cmp.psl");
    EXPECT_TRUE(log->get_chunk_file_names().empty());
    EXPECT_FALSE(exists(first));

    // The next call opens a chunk of a higher number; the merge keeps what the
    // first call merged.
    log->ensure_open_chunk();
    EXPECT_EQ(log->get_chunk_file_names().back(), "db/proj" + std::to_string(counter + 1) + ".kas");
    log->log_set_user_lcell(c.node(2));
    log->write_pending_entries();
    c.merge("db/top.cmp.psl");
    const std::vector<std::string> lines = file_lines("db/top.cmp.psl");
    std::vector<std::string> kinds;
    for (const std::string& line : lines) kinds.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"PRE_PLACEMENT_FLOW", "REVISION_NUMBER", "SET_USER_LCELL", "END_OF_LOG_PRINT",
                                        "REVISION_NUMBER", "SET_USER_LCELL", "END_OF_LOG_PRINT", "REVISION_NUMBER",
                                        "SET_USER_LCELL", "END_OF_LOG_PRINT"}));
    EXPECT_EQ(lines[2], log_line("SET_USER_LCELL", c.node(0), ""));
    EXPECT_EQ(lines[8], log_line("SET_USER_LCELL", c.node(2), ""));
    EXPECT_TRUE(MORV_LOG::get_created_chunk_files().empty());
    std::filesystem::remove("db/top.cmp.psl");
    std::filesystem::remove("db/top.map.psl");
}

// A chunk of the same name left in the folder by an earlier compile that
// stopped before its merge must not lend its records to this one.
TEST_F(MorvLogTest, AChunkLeftByAnEarlierCompileIsStartedAfresh)
{
    LOGGED_COMPILE c("proj", "top");
    MORV_LOG* log = c.log();
    const std::string next = "db/proj" + std::to_string(MORV_LOG::get_chunk_counter()) + ".kas";
    std::ofstream(next, std::ios::binary) << "\x07 records of another compile";
    log->log_set_user_lcell(c.node(0));
    log->write_pending_entries();
    log->start_new_log_chunk();
    ASSERT_EQ(log->get_chunk_file_names().back(), next);
    log->log_set_user_lcell(c.node(1));
    log->write_pending_entries();
    c.merge("db/top.cmp.psl");
    std::vector<std::string> kinds;
    for (const std::string& line : file_lines("db/top.cmp.psl")) kinds.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(kinds, (std::vector<std::string>{"REVISION_NUMBER", "SET_USER_LCELL", "END_OF_LOG_PRINT",
                                               "REVISION_NUMBER", "SET_USER_LCELL", "END_OF_LOG_PRINT"}));
    std::filesystem::remove("db/top.cmp.psl");
}

// What earlier calls merged is read back into the new final file; when it
// cannot be read, the compile stops with the file and the offset, and the
// final file stays as it was with no temporary file or chunk left.
TEST_F(MorvLogTest, AFailingAppendOfTheMergedLogPutsItBack)
{
    LOGGED_COMPILE c("top", "top");
    MORV_LOG* log = c.log();
    log->log_set_user_lcell(c.node(0));
    log->write_pending_entries();
    c.merge("db/top.cmp.psl");
    std::ofstream("db/top.cmp.psl", std::ios::app | std::ios::binary) << "\x07 damaged tail";
    const std::string merged = bytes_of("db/top.cmp.psl");

    log->ensure_open_chunk();
    log->log_set_user_lcell(c.node(1));
    log->write_pending_entries();
    std::string error;
    try {
        log->merge_log_files("db/top.cmp.psl");
    } catch (const FIO_WRITE_ERROR& e) {
        error = e.what();
    }
    EXPECT_EQ(error.rfind("cannot write file 'db/top.cmp.psl': cannot use db/top.cmp.psl: offset ", 0), 0u) << error;
    EXPECT_NE(error.find("after the closing record"), std::string::npos) << error;
    EXPECT_EQ(bytes_of("db/top.cmp.psl"), merged);
    EXPECT_FALSE(exists("db/temp.kas"));
    for (const auto& entry : std::filesystem::directory_iterator("db"))
        EXPECT_EQ(entry.path().filename().string().find("top.cmp.psl.tmp."), std::string::npos) << entry.path();
    EXPECT_TRUE(MORV_LOG::get_created_chunk_files().empty());
    std::filesystem::remove("db/top.cmp.psl");
}

// Two compiles in one process whose project name is not the compile name:
// each starts its final log from its own synthesis log and registers it
// once; exactly the chunks made are removed.
TEST_F(MorvLogTest, TwoCompilesInOneProcessEachStartTheirOwnLog)
{
    std::ofstream("db/alpha0.kas") << "not a chunk of this process";
    std::ofstream("db/beta0.kas") << "not a chunk of this process";
    write_synthesis_log("db/alpha.map.psl");
    {
        LOGGED_COMPILE c("proj", "alpha");
        c.log()->log_set_user_lcell(c.node(0));
        c.log()->write_pending_entries();
        c.merge("db/alpha.cmp.psl");
    }
    {
        LOGGED_COMPILE c("proj", "beta");
        c.log()->log_set_user_lcell(c.node(1));
        c.log()->write_pending_entries();
        c.merge("db/beta.cmp.psl");
    }
    // The same compile name again in a new compile starts afresh too.
    {
        LOGGED_COMPILE c("proj", "alpha");
        c.log()->log_set_user_lcell(c.node(2));
        c.log()->write_pending_entries();
        c.merge("db/alpha.cmp.psl");
        const std::vector<std::string> alpha = file_lines("db/alpha.cmp.psl");
        ASSERT_EQ(alpha.size(), 4u);
        EXPECT_EQ(alpha[0].rfind("PRE_PLACEMENT_FLOW", 0), 0u);  // from the synthesis log
        EXPECT_EQ(alpha[2], log_line("SET_USER_LCELL", c.node(2), ""));
    }
    const std::vector<std::string> beta = file_lines("db/beta.cmp.psl");
    ASSERT_EQ(beta.size(), 3u);  // no synthesis log: revision, record, marker
    EXPECT_EQ(beta[0].rfind("REVISION_NUMBER", 0), 0u);
    EXPECT_EQ(bytes_of("db/alpha0.kas"), "not a chunk of this process");
    EXPECT_EQ(bytes_of("db/beta0.kas"), "not a chunk of this process");
    for (const auto& entry : std::filesystem::directory_iterator("db"))
        EXPECT_NE(entry.path().filename().string().rfind("proj", 0), 0u) << entry.path();
    int created = 0;
    for (const LOGDB_DATABASE_ENTRY& entry : LOGDB_DATABASE::get_database()->get_entries())
        created += entry.get_kind() == 4 && entry.get_strings().at(0) == "FSYN_LOG_CREATED";
    EXPECT_EQ(created, 3);
    for (const char* name :
         {"db/alpha0.kas", "db/beta0.kas", "db/alpha.map.psl", "db/alpha.cmp.psl", "db/beta.cmp.psl"})
        std::filesystem::remove(name);
}

// The records of an iteration that a restore rolls back never reach the
// final log; every kept record is there once, in the order made.
TEST_F(MorvLogTest, ARestoredSnapshotDropsTheRecordsWrittenAfterIt)
{
    LOGGED_COMPILE c("top", "top");
    MORV_LOG* log = c.log();
    log->log_set_user_lcell(c.node(0));
    log->write_pending_entries();

    MORV_SAVE_RESTORE_SNAPSHOT snapshot(0);
    c.api->take_snapshot(&snapshot);
    c.log()->log_set_user_lcell(c.node(1));  // the iteration that is rolled back
    c.log()->write_pending_entries();
    c.api->restore_snapshot(&snapshot);
    c.api->delete_snapshot(&snapshot);

    c.log()->log_set_user_lcell(c.node(2));
    c.log()->write_pending_entries();
    c.merge("db/top.cmp.psl");
    std::vector<std::string> kept;
    for (const std::string& line : file_lines("db/top.cmp.psl"))
        if (line.rfind("SET_USER_LCELL", 0) == 0) kept.push_back(line);
    EXPECT_EQ(kept, (std::vector<std::string>{log_line("SET_USER_LCELL", c.node(0), ""),
                                              log_line("SET_USER_LCELL", c.node(2), "")}));
    const std::vector<int32_t> ids = file_entry_ids("db/top.cmp.psl");
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_LT(ids[i - 1], ids[i]) << i;
    EXPECT_TRUE(MORV_LOG::get_created_chunk_files().empty());
    std::filesystem::remove("db/top.cmp.psl");
}

// A placement that fails after the early netlist was saved sends the
// compile back to that netlist: what later calls merged into the compile's
// log is undone with it, so that a replay does not repeat it.
TEST_F(MorvLogTest, ARestoredEarlyNetlistDropsTheRecordsMergedAfterItsSave)
{
    LOGGED_COMPILE c("top", "top");
    auto* expert = dynamic_cast<MORV_EXPERT*>(c.env->get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    const auto call = [&](int k) {
        c.log()->ensure_open_chunk();
        c.log()->log_set_user_lcell(c.node(k));
        c.log()->write_pending_entries();
        c.merge("db/top.cmp.psl");
    };
    call(0);  // the early flow
    expert->save_early_netlist_incase_vpr_fails();
    call(1);  // the post-clustering flow, before the placement that fails
    expert->restore_early_netlist();
    call(2);  // the cluster retry
    std::vector<std::string> kept;
    for (const std::string& line : file_lines("db/top.cmp.psl"))
        if (line.rfind("SET_USER_LCELL", 0) == 0) kept.push_back(line);
    EXPECT_EQ(kept, (std::vector<std::string>{log_line("SET_USER_LCELL", c.node(0), ""),
                                              log_line("SET_USER_LCELL", c.node(2), "")}));

    // A placement that succeeds keeps every merged call.
    call(0);
    expert->save_early_netlist_incase_vpr_fails();
    call(1);
    expert->discard_early_netlist();
    const auto marks = [] {
        size_t n = 0;
        for (const std::string& line : file_lines("db/top.cmp.psl")) n += line.rfind("SET_USER_LCELL", 0) == 0;
        return n;
    };
    EXPECT_EQ(marks(), 4u);

    // Until the host settles the compile, what it merges waits beside the
    // final file, which keeps what it held (a killed compile leaves it so);
    // the cut works on the waiting log, and a failed compile drops it.
    const auto merge_only = [&](int k) {
        const std::string settled = bytes_of("db/top.cmp.psl");
        c.log()->ensure_open_chunk();
        c.log()->log_set_user_lcell(c.node(k));
        c.log()->write_pending_entries();
        c.log()->merge_log_files("db/top.cmp.psl");
        MORV_LOG::delete_chunk_files();
        EXPECT_EQ(bytes_of("db/top.cmp.psl"), settled) << k;
    };
    merge_only(0);
    expert->save_early_netlist_incase_vpr_fails();
    merge_only(1);
    expert->restore_early_netlist();
    EXPECT_EQ(MORV_LOG::settle_final_files(true), "");
    EXPECT_EQ(marks(), 5u);
    const std::string whole = bytes_of("db/top.cmp.psl");
    merge_only(2);
    EXPECT_EQ(MORV_LOG::settle_final_files(false), "");
    EXPECT_EQ(bytes_of("db/top.cmp.psl"), whole);
    for (const auto& entry : std::filesystem::directory_iterator("db"))
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
    std::filesystem::remove("db/top.cmp.psl");
}

}  // namespace

}  // namespace morv_log_test
