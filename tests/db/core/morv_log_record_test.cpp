// The change log's prior states and write-out, on small netlists built by
// hand for both families.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"
#include "logdb/logdb_fsyn_log_file.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_save_restore.h"
#include "log_records.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_log_record_test {

namespace {

// The truth table of the first inputs as a 6-input mask in the family's
// bit order, repeated over the rows of the inputs it does not read.
CDB_LUTMASK family_mask(int family, int inputs, uint64_t truth)
{
    uint64_t value = truth & CDB_LUTMASK::full_mask(inputs);
    for (int width = 1 << inputs; width < 64; width <<= 1) value |= value << width;
    CDB_LUTMASK mask(6, value);
    if (family == CDB_FAMILY_BRK) mask.mirror_mask();
    return mask;
}

// A migration compile of either family on a netlist the test builds; the
// log's start is set once the netlist is built, as a flow start does.
struct RECORDING
{
    // A compile that asks for an optimisation edits through a logging
    // editing interface also on MRL, whose flat compile keeps no log.
    explicit RECORDING(int family, bool optimising = false) : host(std::make_unique<MORV_TEST_HOST>(family))
    {
        if (optimising) host->ap.get_options().set_bool(662, true);
        morv_install_migration_device(family, family == CDB_FAMILY_BRK ? 2401 : 600);
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        auto* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert != nullptr ? expert->get_fsyn_api() : nullptr;
    }
    ~RECORDING()
    {
        env.reset();
        host.reset();
        DMGR_UTILITY::set_current_device(nullptr);
    }
    MORV_LOG* log() const { return api->get_fsyn_log(); }
    int family() const { return host->cmp.get_base_family_code(); }

    CDB_ATOM_NODE* add(int kind, const std::string& name)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(family(), kind, host->names.find_or_create_path(name, 0));
        node->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* out(CDB_ATOM_NODE* node, int port, const std::string& name)
    {
        return node->add_output_term(port, host->names.find_or_create_path(name, 0));
    }
    // A LUT on DB_DATA_A.. fed by the sources computing the truth table
    // (first source at row bit 0), by default the AND of the sources; its
    // output is named after it.
    static constexpr uint64_t AND = ~uint64_t(0);
    CDB_ATOM_NODE* lut(const std::string& name, const std::vector<CDB_ATOM_OTERM*>& sources, uint64_t mask = AND)
    {
        if (mask == AND) mask = uint64_t(1) << ((1u << sources.size()) - 1);
        CDB_ATOM_NODE* node = add(CDB_KIND_LCELL_COMB, name);
        out(node, DB_COMB_OUT, name);
        for (size_t k = 0; k < sources.size(); ++k)
            node->add_input_term(DB_DATA_A + static_cast<int>(k))->insert_fanin(sources[k]);
        node->set_lutmask(family_mask(family(), static_cast<int>(sources.size()), mask));
        return node;
    }
    // A carry chain of n arithmetic cells, each adding its DB_DATA_A to the carry.
    std::vector<CDB_ATOM_NODE*> chain(const std::string& name, int n, CDB_ATOM_OTERM* data)
    {
        std::vector<CDB_ATOM_NODE*> cells;
        CDB_ATOM_OTERM* carry = nullptr;
        for (int k = 0; k < n; ++k) {
            const std::string cell_name = name + std::to_string(k);
            CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, cell_name);
            cell->add_input_term(DB_DATA_A)->insert_fanin(data);
            if (carry != nullptr) cell->add_input_term(DB_CARRY_IN)->insert_fanin(carry);
            sinks.push_back(lut(cell_name + "_use", {out(cell, DB_SUM_OUT, cell_name + "_sum")}));
            carry = out(cell, DB_CARRY_OUT, cell_name + "_cout");
            cells.push_back(cell);
        }
        return cells;
    }
    CDB_ATOM_OTERM* input(const std::string& name)
    {
        CDB_ATOM_NODE* io = add(CDB_KIND_IO, name);
        return out(io, DB_DATA_OUT, name);
    }
    // Every node made so far existed when the flow began.
    void start_flow() const { log()->set_max_node_id_at_start(static_cast<int32_t>(CDB_ATOM_NODE::s_next_id) - 1); }

    // The records the log wrote so far, after its chunk's revision record.
    std::vector<std::string> written()
    {
        LOGDB_FSYN_LOG_FILE* file = log()->get_log_file();
        file->close();
        LOGDB_FSYN_LOG_FILE reader;
        reader.set_file_name(file->get_file_name());
        std::vector<std::string> lines;
        while (LOGDB_FSYN_LOG_ENTRY_OWNER record = reader.read_fsyn_log_entry())
            if (record->m_type != LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER) lines.push_back(record_line(*record));
        return lines;
    }
    std::vector<std::string> written_kinds()
    {
        std::vector<std::string> kinds;
        for (const std::string& line : written()) kinds.push_back(line.substr(0, line.find(' ')));
        return kinds;
    }

    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<MORV_TEST_ENV> env;
    std::vector<CDB_ATOM_NODE*> sinks;
    MORV_API* api = nullptr;
};

// The pending STORE_NODE_INFO records by node id: how many, and the first.
std::map<uint32_t, int> stored_counts(const MORV_LOG& log)
{
    std::map<uint32_t, int> counts;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log.get_store_node_info_entries())
        if (record->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO)
            ++counts[static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record)->m_node_id];
    return counts;
}

const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* stored_state(const MORV_LOG& log, const CDB_ATOM_NODE* node)
{
    for (const LOGDB_FSYN_LOG_ENTRY* record : log.get_store_node_info_entries())
        if (record->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO &&
            static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record)->m_node_id == node->get_id())
            return static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record);
    return nullptr;
}

// The pending clock-buffer confirmations as "clock output enable".
std::vector<std::string> confirmed_clkbufs(const MORV_LOG& log)
{
    std::vector<std::string> confirmed;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log.get_store_node_info_entries())
        if (record->m_type == LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF) {
            const auto* confirm = static_cast<const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF*>(record);
            confirmed.push_back(confirm->m_clk_source_name + " " + confirm->m_output_name + " " +
                                confirm->m_ena_source_name);
        }
    return confirmed;
}

std::vector<uint32_t> ids_of(const std::vector<CDB_ATOM_NODE*>& nodes)
{
    std::vector<uint32_t> ids;
    for (const CDB_ATOM_NODE* node : nodes) ids.push_back(node->get_id());
    return ids;
}

std::vector<uint32_t> stored_ids(const MORV_LOG& log)
{
    std::vector<uint32_t> ids;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log.get_store_node_info_entries())
        if (record->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO)
            ids.push_back(static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record)->m_node_id);
    return ids;
}

class MorvLogRecordTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        MORV_LOG::delete_chunk_files();
    }
    void TearDown() override
    {
        MORV_LOG::delete_chunk_files();
        MORV_CLEAN_STATE_TEST::TearDown();
    }
};

// ------------------------------------------------------------------ brennock

TEST_F(MorvLogRecordTest, BrkStoresAChangedCellsStateOnceAndNoneForANewCell)
{
    RECORDING r(CDB_FAMILY_BRK);
    ASSERT_NE(r.api, nullptr);
    CDB_ATOM_OTERM* a = r.input("a");
    CDB_ATOM_NODE* first = r.lut("first", {a}, 0x2);
    CDB_ATOM_NODE* second = r.lut("second", {a, first->get_output_term_by_type(DB_COMB_OUT)});
    second->get_input_term_by_type(DB_DATA_B)->set_invert();
    CDB_ATOM_NODE* unused = r.lut("unused", {a});
    r.lut("sink", {second->get_output_term_by_type(DB_COMB_OUT)});
    r.start_flow();
    CDB_ATOM_NODE* made = r.lut("made", {a});
    MORV_LOG* log = r.log();
    const uint64_t second_mask = r.api->get_fsyn_net_util()->get_lutmask(second);

    log->log_set_lutmask(second, CDB_LUTMASK(6, 0x6), 0);
    log->log_set_lutmask(second, CDB_LUTMASK(6, 0x7), 0);
    log->log_set_lutmask(made, CDB_LUTMASK(6, 0x7), 0);
    log->log_set_lutmask(unused, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_EQ(stored_ids(*log), ids_of({second, unused}));
    const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* state = stored_state(*log, second);
    ASSERT_NE(state, nullptr);
    // Slots of DB_DATA_A and DB_DATA_B, their sources, the mask before the change.
    EXPECT_EQ(state->m_input_ports, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(state->m_sources, (std::vector<std::string>{"a", "first"}));
    EXPECT_EQ(state->m_lutmask, second_mask);
    EXPECT_EQ(state->m_output_port_name, (std::vector<std::string>{"second"}));
    EXPECT_FALSE(state->m_is_constant_driver);
    // The inverted input's properties go with the state.
    const std::vector<std::string> kinds = pending_record_kinds(*log);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), std::string("SET_ITERM_PROPERTIES")), 1);
    // A cell whose output drives nothing is logged by its primary output.
    const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* unused_state = stored_state(*log, unused);
    ASSERT_NE(unused_state, nullptr);
    EXPECT_EQ(unused_state->m_output_ports, (std::vector<int32_t>{DB_COMB_OUT}));
    EXPECT_EQ(unused_state->m_output_port_name, (std::vector<std::string>{"unused"}));

    // Stored once per run: after a write-out too.
    log->write_pending_entries();
    log->log_set_lutmask(second, CDB_LUTMASK(6, 0x9), 0);
    EXPECT_TRUE(stored_ids(*log).empty());
    // An inserted cell has no prior state either.
    CDB_ATOM_NODE* copy = r.lut("copy", {a});
    log->log_insert_atom(copy, first, false);
    log->log_set_lutmask(copy, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_TRUE(stored_ids(*log).empty());
    log->clear_pending_entries();
}

TEST_F(MorvLogRecordTest, BrkChainStatesStartAtTheHeadOnceEachAndStopBehindAHighSpeedAdder)
{
    RECORDING r(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = r.input("a");
    std::vector<CDB_ATOM_NODE*> chain = r.chain("c", 4, a);
    std::vector<CDB_ATOM_NODE*> behind = r.chain("h", 2, a);
    // A high-speed adder feeding the second chain's head.
    CDB_ATOM_NODE* adder =
        cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, r.host->names.find_or_create_path("hs", 0));
    r.host->netlist->add_node(adder);
    behind[0]->add_input_term(DB_CARRY_IN)->insert_fanin(r.out(adder, DB_CARRY_OUT, "hs_cout"));
    r.start_flow();
    MORV_LOG* log = r.log();

    // A state stored before the chain is walked stays the first one.
    log->store_node_info(chain[2], 0);
    chain[2]->set_lutmask(CDB_LUTMASK(6, 0x5));
    log->log_set_lutmask(chain[1], CDB_LUTMASK(6, 0x3), 0);
    EXPECT_EQ(stored_ids(*log), ids_of({chain[2], chain[0], chain[1], chain[3]}));
    for (const auto& [id, count] : stored_counts(*log)) EXPECT_EQ(count, 1) << id;
    ASSERT_NE(stored_state(*log, chain[2]), nullptr);
    EXPECT_EQ(stored_state(*log, chain[2])->m_lutmask, 0u);
    // A middle cell's state names its carry input's source.
    const std::vector<std::string>& sources = stored_state(*log, chain[1])->m_sources;
    EXPECT_NE(std::find(sources.begin(), sources.end(), "c0_cout"), sources.end());
    log->log_set_lutmask(chain[3], CDB_LUTMASK(6, 0x3), 0);
    EXPECT_EQ(stored_ids(*log).size(), 4u);

    log->log_set_lutmask(behind[1], CDB_LUTMASK(6, 0x3), 0);
    EXPECT_EQ(stored_ids(*log).size(), 4u);
    log->clear_pending_entries();
}

// The batch goes out states first, then inserts, edits, connections,
// partition records and deletes in the order they were logged; a node
// inserted and deleted in the batch leaves nothing, an old node deleted in
// it only its DELETE_ATOM.
TEST_F(MorvLogRecordTest, BrkWriteOutKeepsTheReplayOrder)
{
    RECORDING r(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = r.input("a");
    CDB_ATOM_NODE* ground = r.lut("ground", {}, 0);
    CDB_ATOM_NODE* user = r.lut("user", {a, ground->get_output_term_by_type(DB_COMB_OUT)});
    r.lut("sink", {user->get_output_term_by_type(DB_COMB_OUT)});
    CDB_ATOM_NODE* old1 = r.lut("old1", {a});
    CDB_ATOM_NODE* old2 = r.lut("old2", {a});
    r.start_flow();
    MORV_LOG* log = r.log();

    // Nothing pending: the marker alone.
    log->write_pending_entries();
    EXPECT_EQ(r.written_kinds(), (std::vector<std::string>{"END_OF_LOG_PRINT"}));

    CDB_ATOM_NODE* temp = r.lut("temp", {a});
    log->log_insert_atom(temp, user, false);
    CDB_ATOM_NODE* kept = r.lut("kept", {a});
    log->log_insert_atom(kept, user, false);
    log->log_set_lutmask(kept, CDB_LUTMASK(6, 0x2), 0);
    log->log_delete_atom(temp);
    // The ground cell's state is taken with the state of the cell it feeds.
    log->log_disconnection(user->get_input_term_by_type(DB_DATA_B));
    EXPECT_NE(stored_state(*log, ground), nullptr);
    EXPECT_TRUE(stored_state(*log, ground)->m_is_constant_driver);
    user->get_input_term_by_type(DB_DATA_B)->disconnect_from_source(0);
    log->log_ignore_partition_bp_info(0);
    // An old cell edited and then deleted in the batch: neither its state
    // nor its edit is of use to a replay that deletes it.
    log->log_set_lutmask(old1, CDB_LUTMASK(6, 0x1), 0);
    log->log_delete_atom(old2);
    log->log_delete_atom(ground);
    log->log_delete_atom(old1);
    log->write_pending_entries();

    std::vector<std::string> kinds = r.written_kinds();
    kinds.erase(kinds.begin());  // the empty batch's marker
    EXPECT_EQ(kinds, (std::vector<std::string>{"STORE_NODE_INFO", "STORE_NODE_INFO", "INSERT_ATOM", "SET_LUTMASK",
                                               "ADD_REMOVE_CONNECTION_LCELL_COMB", "IGNORE_PARTITION_BP_INFO",
                                               "DELETE_ATOM", "DELETE_ATOM", "DELETE_ATOM", "END_OF_LOG_PRINT"}));
    std::vector<std::string> lines = r.written();
    const auto line_of = [&](const char* kind, const CDB_ATOM_NODE* node) {
        for (size_t k = 0; k < lines.size(); ++k)
            if (lines[k].rfind(std::string(kind) + " " + std::to_string(node->get_id()) + " ", 0) == 0) return k;
        return lines.size();
    };
    EXPECT_LT(line_of("STORE_NODE_INFO", ground), line_of("DELETE_ATOM", ground));
    EXPECT_LT(line_of("DELETE_ATOM", old2), line_of("DELETE_ATOM", ground));
    EXPECT_LT(line_of("DELETE_ATOM", ground), line_of("DELETE_ATOM", old1));
    EXPECT_EQ(line_of("INSERT_ATOM", temp), lines.size());
    EXPECT_EQ(line_of("DELETE_ATOM", temp), lines.size());
    EXPECT_EQ(line_of("STORE_NODE_INFO", old1), lines.size());
    EXPECT_EQ(line_of("SET_LUTMASK", old1), lines.size());
    EXPECT_TRUE(log->get_all_pending_entries().empty());
}

// A sink that stopped reading a cell and went in the same batch as that
// cell: the replay deletes in logging order and keeps a cell that still
// drives, so the sink's record goes out, cutting every input the log saw
// it change (its new source may be a cell the batch made and deleted, which
// the replay never sees). A node made and deleted in the batch leaves none.
TEST_F(MorvLogRecordTest, ADeletedSinksChangedInputsReachTheReplayAsDisconnections)
{
    RECORDING r(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = r.input("a");
    CDB_ATOM_NODE* head = r.lut("head", {a}, 0x1);
    CDB_ATOM_NODE* mid = r.lut("mid", {head->get_output_term_by_type(DB_COMB_OUT), a});
    r.start_flow();
    MORV_LOG* log = r.log();

    CDB_ATOM_NODE* temp = r.lut("temp", {a}, 0x2);
    log->log_insert_atom(temp, head, false);
    CDB_ATOM_ITERM* temp_b = temp->add_input_term(DB_DATA_B);
    log->log_connection(a, temp_b);
    temp_b->insert_fanin(a);
    CDB_ATOM_ITERM* mid_a = mid->get_input_term_by_type(DB_DATA_A);
    log->log_disconnection(mid_a);
    mid_a->disconnect_from_source(0);
    log->log_connection(temp->get_output_term_by_type(DB_COMB_OUT), mid_a);
    mid_a->insert_fanin(temp->get_output_term_by_type(DB_COMB_OUT));
    log->log_delete_atom(head);
    log->log_delete_atom(mid);
    mid_a->disconnect_from_source(0);
    log->log_delete_atom(temp);
    log->write_pending_entries();

    const std::vector<std::string> lines = r.written();
    const std::string release = log_line(
        "ADD_REMOVE_CONNECTION_LCELL_COMB", mid,
        slot_list(static_cast<size_t>(MORV_LOG::get_connection_slot_count(mid->get_atom_type())), {{0, "DISCONNECT"}}));
    const auto at = [&](const std::string& line) {
        return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
    };
    const auto starting = [&](const std::string& start) {
        for (size_t k = 0; k < lines.size(); ++k)
            if (lines[k].rfind(start, 0) == 0) return k;
        return lines.size();
    };
    ASSERT_LT(at(release), lines.size()) << ::testing::PrintToString(lines);
    EXPECT_LT(at(release), starting("DELETE_ATOM " + std::to_string(head->get_id()) + " "));
    EXPECT_LT(starting("DELETE_ATOM " + std::to_string(head->get_id()) + " "),
              starting("DELETE_ATOM " + std::to_string(mid->get_id()) + " "));
    for (const std::string& line : lines) EXPECT_EQ(line.find("temp"), std::string::npos) << line;
    EXPECT_TRUE(log->get_all_pending_entries().empty());
}

TEST_F(MorvLogRecordTest, BrkLatchStateNamesItsRolesAndAClockBufferIsConfirmedOnce)
{
    RECORDING r(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* d = r.input("d");
    CDB_ATOM_OTERM* en = r.input("en");
    CDB_ATOM_NODE* latch = r.lut("latch", {d});
    latch->add_input_term(DB_DATA_D)->insert_fanin(en);
    latch->add_input_term(DB_DATA_C)->insert_fanin(latch->get_output_term_by_type(DB_COMB_OUT));
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, 0);
    info->enable_mode = 1;
    cut_set_atom_latch_info(latch, info);
    CDB_ATOM_NODE* clkbuf =
        CUT_CLKBUF_UTIL::create_clkbuf_atom(r.host->netlist.get(), CUT_CLOCK_TYPE_GLOBAL, CDB_FAMILY_BRK);
    clkbuf->set_chip_db_entry(&r.host->chip_entry);
    clkbuf->add_input_term(DB_CLKBUF_IN)->insert_fanin(r.input("clk"));
    CDB_ATOM_OTERM* clock = r.out(clkbuf, DB_CLKBUF_OUT, "clk_global");
    CDB_ATOM_NODE* gated = r.lut("gated", {clock, d});
    CDB_ATOM_NODE* gated2 = r.lut("gated2", {clock});
    r.start_flow();
    MORV_LOG* log = r.log();

    log->log_set_lutmask(latch, CDB_LUTMASK(6, 0x3), 0);
    const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* state = stored_state(*log, latch);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->m_node_kind, 4u);
    const std::vector<std::string> roles(state->m_sources.end() - 2, state->m_sources.end());
    EXPECT_EQ(roles, (std::vector<std::string>{"ENABLE1", "FEEDBACK"}));

    log->log_set_lutmask(gated, CDB_LUTMASK(6, 0x3), 0);
    log->log_set_lutmask(gated2, CDB_LUTMASK(6, 0x3), 0);
    EXPECT_EQ(confirmed_clkbufs(*log), (std::vector<std::string>{"clk clk_global "}));
    EXPECT_EQ(internal_error_of([&] { log->log_confirm_clkbuf(latch); }),
              "node->get_atom_type() == CDB_ATOM_BRK_CLKBUF_ENUM");

    // A latch's inputs are logged in the slots of their roles: the enable
    // in slot 2, the data input among the others (slot 4).
    log->clear_pending_entries();
    log->log_disconnection(latch->get_input_term_by_type(DB_DATA_D));
    log->log_disconnection(latch->get_input_term_by_type(DB_DATA_A));
    const size_t slots = static_cast<size_t>(MORV_LOG::get_connection_slot_count(latch->get_atom_type()));
    const std::vector<std::string> lines = pending_record_lines(*log);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", latch,
                                 slot_list(slots, {{2, "DISCONNECT"}, {4, "DISCONNECT"}}))),
              lines.end());
    log->clear_pending_entries();
}

// A morlin compile confirms a clock buffer that a logged connection reads,
// once, and refuses to confirm any other node.
TEST_F(MorvLogRecordTest, MrlConfirmsAClockBufferSourceOnce)
{
    RECORDING r(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* clkbuf =
        CUT_CLKBUF_UTIL::create_clkbuf_atom(r.host->netlist.get(), CUT_CLOCK_TYPE_GLOBAL, CDB_FAMILY_MRL);
    clkbuf->set_chip_db_entry(&r.host->chip_entry);
    clkbuf->add_input_term(DB_CLKBUF_IN)->insert_fanin(r.input("clk"));
    CDB_ATOM_OTERM* clock = r.out(clkbuf, DB_CLKBUF_OUT, "clk_global");
    CDB_ATOM_OTERM* d = r.input("d");
    CDB_ATOM_NODE* first = r.lut("first", {d});
    CDB_ATOM_NODE* second = r.lut("second", {d});
    r.start_flow();
    MORV_LOG* log = r.log();
    log->log_connection(clock, first->get_input_term_by_type(DB_DATA_A));
    log->log_connection(clock, second->get_input_term_by_type(DB_DATA_A));
    EXPECT_EQ(confirmed_clkbufs(*log), (std::vector<std::string>{"clk clk_global "}));
    EXPECT_EQ(internal_error_of([&] { log->log_confirm_clkbuf(first); }),
              "node->get_atom_type() == CDB_ATOM_MORLIN_CLKBUF_ENUM");
    log->clear_pending_entries();
}

// A user cell's state comes with the record that marks it a user cell
// again on replay, after its state in the file; a plain cell's does not, and
// a snapshot of the log keeps the pending record once.
TEST_F(MorvLogRecordTest, BrkUserCellStateCarriesItsFlagAndAPlainCellsDoesNot)
{
    RECORDING r(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = r.input("a");
    CDB_ATOM_NODE* user = r.lut("user", {a});
    user->set_user_lcell(true);
    CDB_ATOM_NODE* plain = r.lut("plain", {a});
    r.lut("sink", {user->get_output_term_by_type(DB_COMB_OUT), plain->get_output_term_by_type(DB_COMB_OUT)});
    r.start_flow();
    MORV_LOG* log = r.log();

    log->log_set_lutmask(plain, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_NE(stored_state(*log, plain), nullptr);
    std::vector<std::string> kinds = pending_record_kinds(*log);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), std::string("SET_USER_LCELL")), 0);
    log->log_set_lutmask(user, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_NE(stored_state(*log, user), nullptr);
    const std::vector<std::string> lines = pending_record_lines(*log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), log_line("SET_USER_LCELL", user, "")), 1);

    MORV_SAVE_RESTORE_SNAPSHOT snapshot(0);
    r.api->take_snapshot(&snapshot);
    r.api->restore_snapshot(&snapshot);
    r.api->delete_snapshot(&snapshot);
    r.log()->write_pending_entries();
    const std::vector<std::string> written = r.written();
    const std::string state_prefix = "STORE_NODE_INFO " + std::to_string(user->get_id()) + " ";
    const auto state = std::find_if(written.begin(), written.end(),
                                    [&](const std::string& line) { return line.rfind(state_prefix, 0) == 0; });
    const auto mark = std::find(written.begin(), written.end(), log_line("SET_USER_LCELL", user, ""));
    ASSERT_NE(state, written.end());
    ASSERT_NE(mark, written.end());
    EXPECT_LT(state, mark);
    EXPECT_EQ(std::count(written.begin(), written.end(), *mark), 1);
}

// ------------------------------------------------------------------ both families

// The editing interface makes some edits before it logs them (a mask, a
// new input): the state the log stores is still the cell before the edit.
TEST_F(MorvLogRecordTest, EditsThroughTheEditingInterfaceStoreTheStateBeforeTheEdit)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL}) {
        RECORDING r(family, true);
        CDB_ATOM_OTERM* a = r.input("a");
        CDB_ATOM_OTERM* b = r.input("b");
        CDB_ATOM_NODE* masked = r.lut("masked", {a, b});
        CDB_ATOM_NODE* widened = r.lut("widened", {a});
        r.lut("masked_sink", {masked->get_output_term_by_type(DB_COMB_OUT)});
        r.lut("widened_sink", {widened->get_output_term_by_type(DB_COMB_OUT)});
        r.start_flow();
        MORV_NET_UTIL* net_util = r.api->get_fsyn_net_util();
        const uint64_t and_mask = net_util->get_lutmask(masked);
        MORV_CDB_INTERFACE* cdb = r.api->get_fsyn_cdb_interface();
        ASSERT_TRUE(cdb->is_logging()) << family;

        cdb->set_lutmask(masked, family_mask(family, 2, 0xe), 0);  // AND becomes OR
        CDB_ATOM_ITERM* added = nullptr;
        cdb->create_input_term(nullptr, added, widened, DB_DATA_B, 0);
        const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* state = stored_state(*r.log(), masked);
        ASSERT_NE(state, nullptr) << family;
        EXPECT_EQ(state->m_lutmask, and_mask) << family;
        state = stored_state(*r.log(), widened);
        ASSERT_NE(state, nullptr) << family;
        EXPECT_EQ(state->m_input_ports, (std::vector<int32_t>{0})) << family;
        r.log()->clear_pending_entries();
    }
}

// ------------------------------------------------------------------ morlin

// in -> p1 -> x -> f1 (two real fanouts of x: f1 and f2); x's change stores
// p1 as a cell feeding it, f1 and f2 as cells it feeds, and walks on from
// f1 and f2 through the queue; the high-speed adder that x feeds is kind 3,
// the latch it feeds kind 4.
TEST_F(MorvLogRecordTest, MrlStoresTheCellsAroundAChangedCellByKind)
{
    RECORDING r(CDB_FAMILY_MRL);
    ASSERT_NE(r.api, nullptr);
    CDB_ATOM_OTERM* in = r.input("in");
    CDB_ATOM_NODE* p1 = r.lut("p1", {in});
    // Recording p1's inverted input is no change of p1.
    p1->get_input_term_by_type(DB_DATA_A)->set_invert();
    CDB_ATOM_NODE* x = r.lut("x", {p1->get_output_term_by_type(DB_COMB_OUT)});
    CDB_ATOM_OTERM* x_out = x->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_NODE* f1 = r.lut("f1", {x_out});
    CDB_ATOM_NODE* f2 = r.lut("f2", {x_out, in});
    CDB_ATOM_NODE* adder = r.add(CDB_KIND_HSADDER, "hs");
    adder->add_input_term(DB_DATA_A)->insert_fanin(x_out);
    r.out(adder, DB_HSADDER_SUM_0, "hs_sum");
    CDB_ATOM_NODE* latch = r.lut("latch", {x_out});
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_MAX_INPUT_PORT_TYPE, DB_MAX_INPUT_PORT_TYPE,
                              DB_COMB_OUT, 0);
    cut_set_atom_latch_info(latch, info);
    CDB_ATOM_NODE* far = r.lut("far", {f1->get_output_term_by_type(DB_COMB_OUT)});
    r.start_flow();
    MORV_LOG* log = r.log();

    log->log_set_lutmask(x, CDB_LUTMASK(6, 0x3), 0);
    std::map<uint32_t, uint32_t> kinds;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log->get_store_node_info_entries()) {
        ASSERT_EQ(record->m_type, LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO);
        const auto* state = static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record);
        EXPECT_TRUE(kinds.emplace(state->m_node_id, state->m_node_kind).second) << state->m_node_id;
    }
    EXPECT_EQ(kinds[x->get_id()], 0u);
    EXPECT_EQ(kinds[p1->get_id()], 1u);
    EXPECT_EQ(kinds[f1->get_id()], 2u);
    EXPECT_EQ(kinds[adder->get_id()], 3u);
    EXPECT_EQ(kinds[latch->get_id()], 4u);
    // f2 reads x and the input: it is fed by a stored cell.
    EXPECT_EQ(kinds[f2->get_id()], 2u);
    // The forward walk goes on from f1 to far.
    EXPECT_EQ(kinds.count(far->get_id()), 1u);
    // Sources come before the cell they feed.
    const std::vector<uint32_t> order = stored_ids(*log);
    const auto at = [&](const CDB_ATOM_NODE* node) { return std::find(order.begin(), order.end(), node->get_id()); };
    EXPECT_LT(at(p1), at(x));
    // A stored neighbour changed itself is replayed as a normal cell.
    log->log_set_lutmask(f1, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_EQ(stored_state(*log, f1)->m_node_kind, 0u);
    EXPECT_EQ(stored_state(*log, adder)->m_node_kind, 3u);
    log->clear_pending_entries();
}

// A snapshot's copy of the log and the restored copy hold each state once;
// a change of a state's kind made through the map after the copy is the
// one written.
TEST_F(MorvLogRecordTest, MrlSnapshotAndRestoreWriteEachStateOnce)
{
    RECORDING r(CDB_FAMILY_MRL);
    CDB_ATOM_OTERM* in = r.input("in");
    CDB_ATOM_NODE* p1 = r.lut("p1", {in});
    CDB_ATOM_NODE* x = r.lut("x", {p1->get_output_term_by_type(DB_COMB_OUT)});
    r.lut("sink", {x->get_output_term_by_type(DB_COMB_OUT)});
    r.start_flow();
    r.log()->log_set_lutmask(x, CDB_LUTMASK(6, 0x3), 0);
    ASSERT_EQ(stored_state(*r.log(), p1)->m_node_kind, 1u);

    MORV_SAVE_RESTORE_SNAPSHOT snapshot(0);
    r.api->take_snapshot(&snapshot);
    r.api->restore_snapshot(&snapshot);
    r.api->delete_snapshot(&snapshot);
    MORV_LOG* log = r.log();
    EXPECT_EQ(log->get_store_node_info_entries().size(), log->get_store_node_info_map().size());
    for (const LOGDB_FSYN_LOG_ENTRY* record : log->get_store_node_info_entries()) {
        const auto* state = static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record);
        auto it = log->get_store_node_info_map().find(static_cast<int32_t>(state->m_node_id));
        ASSERT_NE(it, log->get_store_node_info_map().end());
        EXPECT_EQ(it->second.get(), record);
    }
    log->log_set_lutmask(p1, CDB_LUTMASK(6, 0x1), 0);
    log->write_pending_entries();
    int states = 0;
    for (const std::string& line : r.written()) {
        if (line.rfind("STORE_NODE_INFO", 0) != 0) continue;
        ++states;
        if (line.rfind("STORE_NODE_INFO " + std::to_string(p1->get_id()) + " ", 0) == 0) {
            EXPECT_NE(line.find("\"p1\"] 0 \""), std::string::npos) << line;
        }
    }
    EXPECT_EQ(states, 3);
}

// A cell reached as the source of a changed cell sends its other fanouts
// through the queue only when it has at least two real fanouts: a signal
// probe on its output is no second one.
TEST_F(MorvLogRecordTest, MrlSignalProbeIsNoRealFanoutOfAStoredSource)
{
    RECORDING r(CDB_FAMILY_MRL);
    CDB_ATOM_OTERM* in = r.input("in");
    CDB_ATOM_NODE* probed = r.lut("probed", {in});
    CDB_ATOM_NODE* x = r.lut("x", {probed->get_output_term_by_type(DB_COMB_OUT)});
    CDB_ATOM_NODE* probe = r.lut("probe", {probed->get_output_term_by_type(DB_COMB_OUT)});
    probe->get_input_term_by_type(DB_DATA_A)->set_signal_probe(true);
    CDB_ATOM_NODE* shared = r.lut("shared", {in});
    CDB_ATOM_NODE* y = r.lut("y", {shared->get_output_term_by_type(DB_COMB_OUT)});
    CDB_ATOM_NODE* other = r.lut("other", {shared->get_output_term_by_type(DB_COMB_OUT)});
    r.start_flow();
    MORV_LOG* log = r.log();

    log->log_set_lutmask(x, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_EQ(stored_ids(*log), ids_of({probed, x}));
    log->log_set_lutmask(y, CDB_LUTMASK(6, 0x1), 0);
    EXPECT_EQ(stored_ids(*log), ids_of({probed, x, shared, y, other}));
    log->clear_pending_entries();
}

}  // namespace

}  // namespace morv_log_record_test
