#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace {

// The revision a BRK compile writes first, and the END_OF_LOG every flow
// ends with.
const char* const BRK_REVISION = "43 0 \"7.2\" 6";
const char* const END = "0 999";
constexpr uint64_t WIRE_A = 0xaaaaaaaaaaaaaaaaull;

std::string short_name(const HDB_INSTANCE_NAME* name)
{
    return name != nullptr ? name->get_short_hpath() : std::string("?");
}

// An MRL compile asked to replay a log onto the chain lut0 -> lut1 -> lut2
// (each cell's DATA_A from the one before), beside a register reg0.
struct REPLAY
{
    explicit REPLAY(const std::string& log_name) : name(log_name), host(std::make_unique<MORV_TEST_HOST>(24))
    {
        ids = host->build_chain(3);
        // Wires of their DATA_A, so that the sweep after a replay finds no constant.
        for (int id : ids)
            host->netlist->get_node_by_id(static_cast<uint32_t>(id))->set_lutmask(CDB_LUTMASK(6, WIRE_A));
        CDB_ATOM_NODE* src = add_register("src");
        node("lut0")->add_input_term(DB_DATA_A)->insert_fanin(src->get_output_term_by_type(DB_REG_OUT));
        CDB_ATOM_NODE* reg = add_register("reg0");
        reg->add_input_term(DB_DATAIN)->insert_fanin(node("lut2")->get_output_term_by_type(DB_COMB_OUT));
        // An output pin: the sweep after a failed replay keeps what it observes.
        CDB_ATOM_NODE* pin = cdb_create_atom(24, CDB_KIND_IO, host->names.find_or_create_path("out0", 0));
        pin->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(pin);
        pin->add_input_term(DB_DATAIN)->insert_fanin(reg->get_output_term_by_type(DB_REG_OUT));
        host->ap.get_options().set_string(661, log_name);
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        log()->get_log_file()->set_file_name(log_name);
    }
    ~REPLAY()
    {
        env.reset();
        host.reset();
        std::remove(name.c_str());
    }
    CDB_ATOM_NODE* add_register(const char* reg) const
    {
        HDB_INSTANCE_NAME* reg_name = host->names.find_or_create_path(reg, 0);
        CDB_ATOM_NODE* node = cdb_create_atom(24, CDB_KIND_REGISTER, reg_name);
        node->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(node);
        node->add_output_term(DB_REG_OUT, reg_name);
        return node;
    }
    MORV_LOG* log() const { return api->get_fsyn_log(); }
    CDB_ATOM_NODE* node(const std::string& node_name) const
    {
        for (CDB_ATOM_NODE* n : *host->netlist)
            if (short_name(n->get_instance_name()) == node_name) return n;
        return nullptr;
    }
    CDB_ATOM_ITERM* data_a(const std::string& node_name) const
    {
        return node(node_name)->get_input_term_by_type(DB_DATA_A);
    }
    // Writes the lines (the log database's text form) as the log to replay.
    void write(const std::vector<std::string>& lines) const
    {
        LOGDB_FSYN_LOG_FILE file;
        file.set_file_name(name);
        file.delete_file();
        file.init(true);
        for (const std::string& line : lines) {
            std::string error;
            LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_record_from_text(line, error);
            ASSERT_TRUE(record) << line << ": " << error;
            ASSERT_TRUE(file.write_fsyn_log_entry(record.get()));
        }
        file.close();
        if (lines.empty()) std::ofstream(name, std::ios::trunc);
    }
    bool replay(const std::vector<std::string>& lines)
    {
        write(lines);
        msg_clear_posted_messages();
        return log()->reproduce_log();
    }
    // Every node with its type, mask and inputs, in netlist order.
    std::string netlist_text() const
    {
        std::string text;
        for (CDB_ATOM_NODE* n : *host->netlist) {
            text += short_name(n->get_instance_name());
            text += ' ';
            text += std::to_string(n->get_atom_type());
            if (n->is_lcell_comb()) text.append(" mask=").append(std::to_string(n->get_lutmask().get_value()));
            for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) {
                const CDB_ATOM_ITERM* t = *it;
                text.append(" ").append(std::to_string(t->get_any_usage_as())).append(t->is_inverted() ? "~:" : ":");
                text += t->get_source() != nullptr ? short_name(t->get_source()->get_instance_name())
                        : t->is_vcc()              ? "VCC"
                        : t->is_gnd()              ? "GND"
                                                   : "-";
            }
            text += "\n";
        }
        return text;
    }
    std::string posted_text(const std::string& id) const
    {
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            if (m.id == id) return m.text;
        return std::string();
    }

    std::string name;
    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<MORV_TEST_ENV> env;
    std::vector<int> ids;
    MORV_API* api = nullptr;
};

class MorvLogMrlReplayTest : public MORV_CLEAN_STATE_TEST
{};

std::string unchanged_slots(size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) text += i == 0 ? "\"UNCHANGED\"" : " \"UNCHANGED\"";
    return text;
}

// ------------------------------------------------------------------ a stored log is user input

TEST_F(MorvLogMrlReplayTest, ADamagedLogIsRefusedBeforeItsFirstEditWithTheFileAndOffset)
{
    // Each log starts with a good edit (lut1's DATA_A inverted), then goes wrong.
    const std::string first_edit = "15 1 1 \"lut1\" 11 0";
    struct BAD
    {
        std::vector<std::string> lines;
        const char* reason;
    };
    const std::vector<BAD> bad_logs = {
        {{BRK_REVISION, first_edit}, "cut short"},
        {{BRK_REVISION, first_edit, "28 2 1 \"lut1\" [\"lut0\"]", END}, "1 slots, not 11"},
        {{BRK_REVISION, first_edit, "29 2 9 \"reg0\" [\"UNCHANGED\" \"UNCHANGED\"]", END}, "not 9"},
        {{BRK_REVISION, first_edit, "27 2 1 \"lut1\" [11] [\"lut0\"] 0x0 [8] [\"lut1\"] 0 \"\" 0", END},
         "input slot 11"},
        {{BRK_REVISION, first_edit, "15 2 1 \"\" 11 0", END}, "empty name"},
        {{BRK_REVISION, first_edit, "28 2 1 \"lut1\" [\"\" " + unchanged_slots(10) + "]", END}, "empty source name"},
        {{BRK_REVISION, first_edit, "8 2 1 \"lut1\" 7 0x1 0", END}, "LUT-mask kind"},
        {{"43 0 \"7.2\" 24", first_edit, END}, "recorded on a device of this family"},
        {{BRK_REVISION, first_edit, "2 2 7 \"new\" \"\" 1 0", END}, "empty name"},
    };
    for (const BAD& bad : bad_logs) {
        REPLAY run("mrl_damaged.psl");
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay(bad.lines)) << bad.reason;
        EXPECT_EQ(run.netlist_text(), before) << bad.reason;
        const std::string text = run.posted_text("EMORV_FSYN_LOG_FILE_DAMAGED");
        EXPECT_NE(text.find("mrl_damaged.psl: offset "), std::string::npos) << text;
        EXPECT_NE(text.find(bad.reason), std::string::npos) << text;
    }
}

TEST_F(MorvLogMrlReplayTest, ChangedBytesAndACutAnywhereAreRefusedAndTheNetlistStays)
{
    REPLAY run("mrl_bytes.psl");
    run.write({BRK_REVISION, "15 1 1 \"lut1\" 11 0", "15 2 2 \"lut2\" 11 0", END});
    std::ifstream in(run.name, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string before = run.netlist_text();
    for (size_t at = 1; at < good.size(); at += 7) {
        for (bool cut : {true, false}) {
            std::string bad = good;
            if (cut) bad.resize(at);
            else bad[at] = static_cast<char>(bad[at] ^ 0x5a);
            std::ofstream(run.name, std::ios::binary | std::ios::trunc) << bad;
            msg_clear_posted_messages();
            EXPECT_FALSE(run.log()->reproduce_log()) << at << " " << cut;
            EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_DAMAGED"), 1) << at << " " << cut;
            ASSERT_EQ(run.netlist_text(), before) << at << " " << cut;
        }
    }
}

// ------------------------------------------------------------------ rebuilding a stored cell

TEST_F(MorvLogMrlReplayTest, AStoredCellIsRebuiltAsAMorlinCellInPlaceOfTheOneThatBearsItsOutput)
{
    REPLAY run("mrl_rebuild.psl");
    ASSERT_TRUE(run.replay(
        {BRK_REVISION, "27 1 1 \"lut1\" [0 1] [\"lut0\" \"VCC\"] 0x6666666666666666 [8] [\"lut1\"] 0 \"\" 0", END}))
        << run.netlist_text();
    CDB_ATOM_NODE* rebuilt = run.node("lut1");
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(rebuilt->get_atom_type(), CDB_ATOM_MORLIN_LCELL_COMB_ENUM);
    EXPECT_NE(static_cast<int>(rebuilt->get_id()), run.ids[1]);
    EXPECT_EQ(run.api->get_node(run.ids[1]), nullptr);
    EXPECT_EQ(run.data_a("lut2")->get_source(), rebuilt->get_output_term_by_type(DB_COMB_OUT));
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), run.node("lut0"));

    // A stored node deleted later in the same log is replayed all the same.
    REPLAY later("mrl_rebuild_later.psl");
    EXPECT_TRUE(later.replay({BRK_REVISION, "27 1 1 \"lut1\" [0] [\"lut0\"] 0xaaaaaaaaaaaaaaaa [8] [\"lut1\"] 0 \"\" 0",
                              "3 2 1 \"lut1\" [\"lut1\"] 0", END}))
        << later.netlist_text();
}

TEST_F(MorvLogMrlReplayTest, AnOutputOrSourceThatIsNotHereFailsTheEntryBeforeAnyEdit)
{
    const std::vector<std::string> bad = {
        // The first output moves lut1's fanouts, the second is not here.
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8 7] [\"lut1\" \"no_such_output\"] 0 \"\" 0",
        "27 1 1 \"lut1\" [0 1] [\"lut0\" \"no_such_term\"] 0x0 [8] [\"lut1\"] 0 \"\" 0",
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8] [\"lut1\"] 0 \"nowhere\" 0",
        // Kinds a morlin cell cannot be rebuilt from.
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8] [\"lut1\"] 3 \"\" 0",
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8] [\"lut1\"] 2 \"\" 0",
    };
    for (const std::string& state : bad) {
        REPLAY run("mrl_missing.psl");
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay({BRK_REVISION, state, END})) << state;
        EXPECT_EQ(run.netlist_text(), before) << state;
        // The name still stands for the node it stood for.
        run.log()->index_nodes_by_name_id();
        EXPECT_EQ(run.log()->find_node_by_logged_name("lut1"), run.node("lut1")) << state;
    }
    // A share output may come from nothing.
    REPLAY run("mrl_missing.psl");
    EXPECT_TRUE(run.replay(
        {BRK_REVISION, "27 1 1 \"lut1\" [0] [\"lut0\"] 0xaaaaaaaaaaaaaaaa [8 251] [\"lut1\" \"lut1_share\"] 0 \"\" 0",
         END}))
        << run.netlist_text();
}

TEST_F(MorvLogMrlReplayTest, AnInputIndexOutsideTheTableFailsTheEntryUnchanged)
{
    REPLAY run("mrl_index.psl");
    run.log()->index_nodes_by_name_id();
    const std::string before = run.netlist_text();
    for (int32_t slot : {11, 64, -1}) {
        LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO entry(1);
        entry.m_node_name = "lut1";
        entry.m_input_ports = {0, slot};
        entry.m_sources = {"lut0", "lut0"};
        entry.m_output_ports = {DB_COMB_OUT};
        entry.m_output_port_name = {"lut1"};
        EXPECT_FALSE(run.log()->reproduce_store_node_info(&entry)) << slot;
        EXPECT_EQ(run.netlist_text(), before) << slot;
    }
}

TEST_F(MorvLogMrlReplayTest, ALatchTakesItsRolesButNotAConstantEnable)
{
    REPLAY run("mrl_latch.psl");
    // Inputs: A from lut0, B tied to VCC and logged as the enable, C from
    // lut0 as the clear.
    ASSERT_TRUE(run.replay({BRK_REVISION,
                            "27 1 1 \"lut1\" [0 1 2 1 2] [\"lut0\" \"VCC\" \"lut0\" \"ENABLE1\" \"CLEAR\"] "
                            "0xcacacacacacacaca [8] [\"lut1\"] 4 \"\" 0",
                            END}))
        << run.netlist_text();
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(run.node("lut1"));
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->is_latch);
    EXPECT_EQ(info->enable_port, DB_MAX_INPUT_PORT_TYPE);
    EXPECT_EQ(info->clear_port, DB_DATA_C);
}

TEST_F(MorvLogMrlReplayTest, AConstantDriverIsIndexedWhenHereAndMadeWhenNot)
{
    REPLAY run("mrl_constant.psl");
    const std::string before = run.netlist_text();
    EXPECT_TRUE(run.replay({BRK_REVISION, "27 1 0 \"lut0\" [] [] 0x0 [8] [\"lut0\"] 0 \"\" 1", END}));
    EXPECT_EQ(run.netlist_text(), before);

    // Not here: a ground cell under the logged output's name, which a
    // connection then uses.
    ASSERT_TRUE(run.replay({BRK_REVISION, "27 1 0 \"gnd_cell\" [] [] 0x0 [8] [\"gnd_out\"] 0 \"\" 1",
                            "28 2 1 \"lut2\" [\"gnd_out\" " + unchanged_slots(10) + "]", END}))
        << run.netlist_text();
    const CDB_ATOM_OTERM* source = run.data_a("lut2")->get_source();
    ASSERT_NE(source, nullptr) << run.netlist_text();
    EXPECT_EQ(short_name(source->get_instance_name()), "gnd_out");
    EXPECT_EQ(source->get_my_node()->get_atom_type(), CDB_ATOM_MORLIN_LCELL_COMB_ENUM);
}

// ------------------------------------------------------------------ connections and clock buffers

TEST_F(MorvLogMrlReplayTest, ConnectionsFollowTheSlotsAndNotGndTiesOnlyInOldLogs)
{
    {
        REPLAY run("mrl_connect.psl");
        ASSERT_TRUE(run.replay({BRK_REVISION, "28 1 1 \"lut1\" [\"src\" " + unchanged_slots(10) + "]", END}))
            << run.netlist_text();
        EXPECT_EQ(run.data_a("lut1")->get_source()->get_my_node(), run.node("src"));
        // lut0, read by nothing now, went with the sweep.
        EXPECT_EQ(run.node("lut0"), nullptr);
        // A missing node is no failure; a missing source is, before any edit.
        EXPECT_TRUE(run.replay({BRK_REVISION, "28 3 9 \"ghost\" [\"src\" " + unchanged_slots(10) + "]", END}));
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay(
            {BRK_REVISION, "28 4 2 \"lut2\" [\"src\" \"UNCHANGED\" \"no_such\" " + unchanged_slots(8) + "]", END}));
        EXPECT_EQ(run.netlist_text(), before);
    }
    for (const char* version : {"7.2", "6.0"}) {
        REPLAY run("mrl_not_gnd.psl");
        const std::string revision = std::string("43 0 \"") + version + "\" 6";
        const bool old = std::string(version) == "6.0";
        EXPECT_EQ(run.replay({revision, "28 1 2 \"lut2\" [\"~GND\" " + unchanged_slots(10) + "]", END}), old)
            << version << run.netlist_text();
    }
}

TEST_F(MorvLogMrlReplayTest, ARegisterWithAVccSynchronousLoadFailsItsConnections)
{
    REPLAY run("mrl_sload.psl");
    CDB_ATOM_ITERM* sload = run.node("reg0")->add_input_term(DB_SYNCH_LOAD);
    sload->set_vcc();
    const std::string before = run.netlist_text();
    EXPECT_FALSE(
        run.replay({BRK_REVISION, "29 1 9 \"reg0\" [\"UNCHANGED\" \"lut0\" " + unchanged_slots(7) + "]", END}));
    EXPECT_EQ(run.netlist_text(), before);
}

TEST_F(MorvLogMrlReplayTest, AClockBufferIsReusedOrMadeAndAMissingSourceMakesNone)
{
    REPLAY run("mrl_clkbuf.psl");
    const std::string before = run.netlist_text();
    EXPECT_FALSE(run.replay({BRK_REVISION, "44 1 70 \"clk_buf\" \"lut0\" \"clk_buf\" \"no_such_enable\" 1", END}));
    EXPECT_EQ(run.netlist_text(), before);

    // Made from a cell: the cell's sinks now read the buffer.
    ASSERT_TRUE(run.replay({BRK_REVISION, "44 1 70 \"clk_buf\" \"lut0\" \"clk_buf\" \"\" 1", END}))
        << run.netlist_text();
    CDB_ATOM_NODE* clkbuf = run.node("clk_buf");
    ASSERT_NE(clkbuf, nullptr) << run.netlist_text();
    EXPECT_EQ(clkbuf->get_atom_type(), CDB_ATOM_MORLIN_CLKBUF_ENUM);
    EXPECT_EQ(run.data_a("lut1")->get_source()->get_my_node(), clkbuf);

    // The same buffer under another name is found, not made again.
    const size_t with_buffer = run.host->netlist->get_node_count();
    EXPECT_TRUE(run.replay({BRK_REVISION, "44 1 70 \"other_buf\" \"lut0\" \"other_buf\" \"\" 1", END}));
    EXPECT_EQ(run.host->netlist->get_node_count(), with_buffer);
    EXPECT_EQ(run.log()->find_oterm_by_logged_name("other_buf"), clkbuf->get_output_term_by_type(DB_CLKBUF_OUT));
}

TEST_F(MorvLogMrlReplayTest, TheNodeRemoverRunsAfterASuccessfulReplayToo)
{
    REPLAY run("mrl_sweep.psl");
    // A cell that nothing reads.
    HDB_INSTANCE_NAME* name = run.host->names.find_or_create_path("dangling", 0);
    CDB_ATOM_NODE* dangling = cdb_create_atom(24, CDB_KIND_LCELL_COMB, name);
    dangling->set_chip_db_entry(&run.host->chip_entry);
    run.host->netlist->add_node(dangling);
    dangling->add_output_term(DB_COMB_OUT, name);
    EXPECT_TRUE(run.replay({BRK_REVISION, END}));
    EXPECT_EQ(run.node("dangling"), nullptr) << run.netlist_text();
}

}  // namespace
