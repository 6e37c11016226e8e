#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv_log_replay_host.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_log_adder_replay_test {

namespace {

const char* const MRL_REVISION = "43 0 \"7.2\" 24";
const char* const END = "0 999";
const char* const ADDER_INPUTS[] = {"a", "b", "c", "d", "cin"};
// Logged input slots of the adder's A, B, C, D and carry-in (port 102).
const char* const ADDER_SLOTS = "[0 1 2 3 9]";

std::string quoted_list(const std::vector<std::string>& items)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) text.append(i == 0 ? "\"" : " \"").append(items[i]).append("\"");
    return text + "]";
}

// The stored state of the morlin adder "add" over the given sources of
// A, B, C, D and carry-in, with its two sums and carry-out.
std::string adder_state(const std::vector<std::string>& sources, const std::string& outputs = "[437 438 43]",
                        const std::string& names = "[\"sum0\" \"sum1\" \"cout\"]")
{
    return "27 1 1 \"add\" " + std::string(ADDER_SLOTS) + " " + quoted_list(sources) + " 0x0 " + outputs + " " + names +
           " 3 \"\" 0";
}

// A brennock netlist where the adder had been two chained cells: registers
// a, b, c, d and cin drive old_lo (A on D, B on F, cin on its carry input)
// and old_hi (C, D and old_lo's carry); registers r0, r1 and r2 take the
// two sums and the carry-out, named as the morlin adder's outputs.
struct ADDER_REPLAY : MORV_LOG_REPLAY_HOST
{
    explicit ADDER_REPLAY(const std::string& log_name) : MORV_LOG_REPLAY_HOST(6, log_name)
    {
        for (const char* input : ADDER_INPUTS) add_register(input);
        CDB_ATOM_NODE* lo = add_cell("old_lo");
        CDB_ATOM_NODE* hi = add_cell("old_hi");
        lo->add_output_term(DB_SUM_OUT, host->names.find_or_create_path("sum0", 0));
        CDB_ATOM_OTERM* lo_carry = lo->add_output_term(DB_CARRY_OUT, host->names.find_or_create_path("lo_c", 0));
        hi->add_output_term(DB_SUM_OUT, host->names.find_or_create_path("sum1", 0));
        hi->add_output_term(DB_CARRY_OUT, host->names.find_or_create_path("cout", 0));
        connect("a", lo, DB_DATA_D);
        connect("b", lo, DB_DATA_F);
        connect("cin", lo, DB_CARRY_IN);
        connect("c", hi, DB_DATA_D);
        connect("d", hi, DB_DATA_F);
        hi->add_input_term(DB_CARRY_IN)->insert_fanin(lo_carry);
        const char* sinks[][2] = {{"r0", "sum0"}, {"r1", "sum1"}, {"r2", "cout"}};
        for (const auto& [sink, source] : sinks) {
            CDB_ATOM_NODE* reg = add_register(sink);
            reg->add_input_term(DB_DATAIN)->insert_fanin(oterm(source));
            // Output pins: the sweep after a failed replay keeps what they observe.
            std::string pin_name = "out_";
            pin_name += sink;
            add_output_pin(pin_name, reg->get_output_term_by_type(DB_REG_OUT));
        }
        start();
    }
    CDB_ATOM_NODE* add_cell(const char* cell) const
    {
        CDB_ATOM_NODE* node = cdb_create_atom(6, CDB_KIND_LCELL_COMB, host->names.find_or_create_path(cell, 0));
        node->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(node);
        return node;
    }
    void connect(const char* source, CDB_ATOM_NODE* node, int port) const
    {
        node->add_input_term(port)->insert_fanin(oterm(source));
    }
    // The value a register's data input reads with the source registers at
    // the values given, through the netlist's cells as the host evaluates them.
    unsigned value_of(const CDB_ATOM_OTERM* o, const std::unordered_map<std::string, unsigned>& inputs) const
    {
        const CDB_ATOM_NODE* n = o->get_my_node();
        if (n->get_kind() == CDB_KIND_REGISTER) return inputs.at(replay_short_name(n->get_instance_name()));
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
            in[k] = read(n->get_input_term_by_type(n->get_evaluate_input_port(k)), inputs);
        return n->evaluate_output(o->get_usage(), in);
    }
    unsigned read(const CDB_ATOM_ITERM* t, const std::unordered_map<std::string, unsigned>& inputs) const
    {
        if (t == nullptr || !t->is_connected()) return 0;
        if (!t->is_driven()) return t->is_logical_vcc() ? 1u : 0u;
        return value_of(t->get_source(), inputs) ^ (t->reads_complemented() ? 1u : 0u);
    }
    unsigned sink_value(const char* sink, const std::unordered_map<std::string, unsigned>& inputs) const
    {
        return read(node(sink)->get_input_term_by_type(DB_DATAIN), inputs);
    }
};

// What the morlin adder computes on its own evaluator: each input is a
// register value, or the constant its source text names; inverted_input
// (0..3 for A..D, -1 for none) reads complemented.
struct ADDER_MODEL
{
    std::vector<std::string> sources;
    int inverted_input = -1;
    std::unique_ptr<CDB_ATOM_NODE> adder{cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr)};

    unsigned input(size_t i, const std::unordered_map<std::string, unsigned>& values) const
    {
        unsigned v = sources[i] == "VCC" ? 1u : sources[i] == "GND" ? 0u : values.at(sources[i]);
        return static_cast<int>(i) == inverted_input ? v ^ 1u : v;
    }
    unsigned output(int port, const std::unordered_map<std::string, unsigned>& values) const
    {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        for (size_t i = 0; i < 4; ++i) in[i] = input(i, values);
        in[CDB_ATOM_NODE::EVALUATE_CARRY_SLOT] = input(4, values);
        return adder->evaluate_output(port, in);
    }
};

// Every input combination: the pair's two sums and carry-out against the adder's.
void expect_pair_computes_adder(const ADDER_REPLAY& run, const ADDER_MODEL& model, const std::string& what)
{
    const int ports[] = {DB_HSADDER_SUM_0, DB_HSADDER_SUM_1, DB_CHAIN_OUT_0};
    const char* sinks[] = {"r0", "r1", "r2"};
    for (unsigned bits = 0; bits < 32; ++bits) {
        std::unordered_map<std::string, unsigned> values;
        for (unsigned i = 0; i < 5; ++i) values[ADDER_INPUTS[i]] = (bits >> i) & 1u;
        values["r0"] = values["r1"] = values["r2"] = 0;
        for (int o = 0; o < 3; ++o)
            ASSERT_EQ(run.sink_value(sinks[o], values), model.output(ports[o], values))
                << what << " output " << ports[o] << " inputs " << bits << "\n"
                << run.netlist_text();
    }
}

class MorvLogAdderReplayTest : public MORV_CLEAN_STATE_TEST
{};

// ------------------------------------------------------------------ the pair computes the adder

TEST_F(MorvLogAdderReplayTest, ThePairComputesTheAdderForEverySignalAndConstantOnEachInput)
{
    std::vector<std::vector<std::string>> variants = {{"a", "b", "c", "d", "cin"}};
    for (size_t i = 0; i < 5; ++i)
        for (const char* constant : {"GND", "VCC"}) {
            std::vector<std::string> sources = {"a", "b", "c", "d", "cin"};
            sources[i] = constant;
            variants.push_back(sources);
        }
    for (const std::vector<std::string>& sources : variants) {
        const std::string what = quoted_list(sources);
        ADDER_REPLAY run("adder_pair.psl");
        ASSERT_TRUE(run.replay({MRL_REVISION, adder_state(sources), END})) << what;
        ASSERT_NE(run.node("add_HS_ADDER_NODE1"), nullptr) << what;
        ASSERT_NE(run.node("add_HS_ADDER_NODE2"), nullptr) << what;
        // The cells the pair replaced are gone; no constant stays tied to a pair input.
        EXPECT_EQ(run.node("old_lo"), nullptr) << run.netlist_text();
        EXPECT_EQ(run.node("old_hi"), nullptr) << run.netlist_text();
        for (const char* cell : {"add_HS_ADDER_NODE1", "add_HS_ADDER_NODE2"})
            for (int port : {DB_DATA_D, DB_DATA_F}) {
                const CDB_ATOM_ITERM* t = run.node(cell)->get_input_term_by_type(port);
                EXPECT_TRUE(t == nullptr || t->is_driven() || !t->is_connected()) << what << run.netlist_text();
            }
        ADDER_MODEL model{sources};
        expect_pair_computes_adder(run, model, what);
    }
}

TEST_F(MorvLogAdderReplayTest, AnInvertedAdderInputStaysInvertedOnThePair)
{
    // SET_ITERM_PROPERTIES with the inversion on, for each of A..D.
    for (int input = 0; input < 4; ++input) {
        ADDER_REPLAY run("adder_invert.psl");
        const std::string props = "26 2 1 \"add\" " + std::to_string(DB_DATA_A + input) + " 0 1 0 0 0 0 0";
        ASSERT_TRUE(run.replay({MRL_REVISION, adder_state({"a", "b", "c", "d", "cin"}), props, END}));
        ADDER_MODEL model{{"a", "b", "c", "d", "cin"}, input};
        expect_pair_computes_adder(run, model, "inverted " + std::to_string(input));
    }
}

TEST_F(MorvLogAdderReplayTest, AConnectionEntryRewiresThePairAndKeepsAFoldedConstant)
{
    ADDER_REPLAY run("adder_connect.psl");
    // A starts tied to GND (folded into the first cell's mask); the entry
    // moves B to VCC and C to register d, and leaves A alone.
    const std::string connection = "28 3 1 \"add\" [\"UNCHANGED\" \"VCC\" \"d\" \"UNCHANGED\" \"UNCHANGED\" "
                                   "\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" "
                                   "\"UNCHANGED\"]";
    ASSERT_TRUE(run.replay({MRL_REVISION, adder_state({"GND", "b", "c", "d", "cin"}), connection, END}));
    ADDER_MODEL model{{"GND", "VCC", "d", "d", "cin"}};
    expect_pair_computes_adder(run, model, "after the connection entry");
}

// ------------------------------------------------------------------ rebuilding

TEST_F(MorvLogAdderReplayTest, ASecondStateOfOneAdderBuildsNothingMore)
{
    ADDER_REPLAY run("adder_twice.psl");
    const std::string state = adder_state({"a", "b", "c", "d", "cin"});
    ASSERT_TRUE(run.replay({MRL_REVISION, state, state, END}));
    int pair_cells = 0;
    for (CDB_ATOM_NODE* n : *run.host->netlist)
        pair_cells += replay_short_name(n->get_instance_name()).find("_HS_ADDER_NODE") != std::string::npos;
    EXPECT_EQ(pair_cells, 2) << run.netlist_text();
}

TEST_F(MorvLogAdderReplayTest, ALogThatWouldDriveThePairsCarryLinkOrNamesNoSuchSourceFailsUnchanged)
{
    const std::vector<std::string> bad = {
        // A source on the adder's second chain input (port 103, slot 10).
        "27 1 1 \"add\" [0 1 2 3 9 10] [\"a\" \"b\" \"c\" \"d\" \"cin\" \"a\"] 0x0 [437] [\"sum0\"] 3 \"\" 0",
        "27 1 1 \"add\" [0 1 2 3 9 10] [\"a\" \"b\" \"c\" \"d\" \"cin\" \"VCC\"] 0x0 [437] [\"sum0\"] 3 \"\" 0",
        // A missing source, an input the adder does not have (E, slot 4), an
        // output it does not have, a partition nobody knows.
        adder_state({"a", "b", "no_such", "d", "cin"}),
        "27 1 1 \"add\" [0 4] [\"a\" \"b\"] 0x0 [437] [\"sum0\"] 3 \"\" 0",
        "27 1 1 \"add\" [0 1] [\"a\" \"b\"] 0x0 [8] [\"sum0\"] 3 \"\" 0",
        "27 1 1 \"add\" [0 1] [\"a\" \"b\"] 0x0 [437] [\"sum0\"] 3 \"nowhere\" 0",
    };
    for (const std::string& state : bad) {
        ADDER_REPLAY run("adder_bad.psl");
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay({MRL_REVISION, state, END})) << state;
        EXPECT_EQ(run.netlist_text(), before) << state;
    }
    {
        // Disconnected there, it is no source: the link is the pair's own.
        ADDER_REPLAY run("adder_bad.psl");
        EXPECT_TRUE(run.replay(
            {MRL_REVISION,
             "27 1 1 \"add\" [0 1 2 3 9 10] [\"a\" \"b\" \"c\" \"d\" \"cin\" \"DISCONNECT\"] 0x0 [437 438 43] "
             "[\"sum0\" \"sum1\" \"cout\"] 3 \"\" 0",
             END}));
        expect_pair_computes_adder(run, ADDER_MODEL{{"a", "b", "c", "d", "cin"}}, "103 disconnected");
    }
}

TEST_F(MorvLogAdderReplayTest, TheLowCarryOutputDropsOnlyATrailingCout1)
{
    // Short names and names without the suffix stay as they are.
    const char* const cases[][2] = {{"add_c_cout1", "add_c"}, {"c1", "c1"}, {"carry_out", "carry_out"}};
    for (const auto& [logged, expected] : cases) {
        ADDER_REPLAY run("adder_cout1.psl");
        const std::string state = "27 1 1 \"add\" " + std::string(ADDER_SLOTS) + " [\"a\" \"b\" \"c\" \"d\" \"cin\"] " +
                                  "0x0 [437 44] [\"sum0\" \"" + logged + "\"] 3 \"\" 0";
        ASSERT_TRUE(run.replay({MRL_REVISION, state, END})) << logged;
        const CDB_ATOM_OTERM* link = run.node("add_HS_ADDER_NODE1")->get_output_term_by_type(DB_CARRY_OUT);
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(replay_short_name(link->get_instance_name()), expected) << logged;
        EXPECT_EQ(run.log()->find_oterm_by_logged_name(expected), link) << logged;
    }
}

// ------------------------------------------------------------------ recorded, then replayed

// The log a morlin compile writes for a brennock migration device while it
// edits its adder "add" (over registers a, b, c, d and cin; sums and carry
// read by r0, r1 and r2); answers the bytes of the log.
std::string record_adder_edit(const std::function<void(MORV_LOG*, CDB_ATOM_NODE*)>& edit)
{
    auto host = std::make_unique<MORV_TEST_HOST>(CDB_FAMILY_MRL);
    morv_install_migration_device(CDB_FAMILY_MRL, 600);
    auto add = [&](int kind, const std::string& name) {
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_MRL, kind, host->names.find_or_create_path(name, 0));
        node->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(node);
        return node;
    };
    CDB_ATOM_NODE* adder = add(CDB_KIND_HSADDER, "add");
    const int inputs[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_CHAIN_IN_0};
    for (int i = 0; i < 5; ++i) {
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, ADDER_INPUTS[i]);
        CDB_ATOM_OTERM* out = reg->add_output_term(DB_REG_OUT, host->names.find_or_create_path(ADDER_INPUTS[i], 0));
        adder->add_input_term(inputs[i])->insert_fanin(out);
    }
    const std::pair<int, const char*> outputs[] = {
        {DB_HSADDER_SUM_0, "sum0"}, {DB_HSADDER_SUM_1, "sum1"}, {DB_CHAIN_OUT_0, "cout"}};
    const char* sinks[] = {"r0", "r1", "r2"};
    for (int i = 0; i < 3; ++i) {
        CDB_ATOM_OTERM* out =
            adder->add_output_term(outputs[i].first, host->names.find_or_create_path(outputs[i].second, 0));
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, sinks[i]);
        reg->add_output_term(DB_REG_OUT, host->names.find_or_create_path(sinks[i], 0));
        reg->add_input_term(DB_DATAIN)->insert_fanin(out);
    }
    auto env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
    MORV_LOG* log = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api()->get_fsyn_log();
    EXPECT_NE(log, nullptr);
    std::string bytes;
    if (log != nullptr) {
        // What a flow writes around its edits.
        log->set_max_node_id_at_start(static_cast<int32_t>(CDB_ATOM_NODE::s_next_id) - 1);
        log->ensure_open_chunk();
        log->write_marker(LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER);
        edit(log, adder);
        log->write_pending_entries();
        log->write_marker(LOGDB_FSYN_LOG_OPERATION_END_OF_LOG);
        log->get_log_file()->close();
        std::ifstream in(log->get_log_file()->get_file_name(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    env.reset();
    host.reset();
    DMGR_UTILITY::set_current_device(nullptr);
    return bytes;
}

// The recorder's own log of an edited adder, replayed on brennock: the pair
// computes, for every input, what the edited adder computed.
TEST_F(MorvLogAdderReplayTest, ARecordedAdderEditReplaysOnThePairAndComputesTheSame)
{
    struct EDIT
    {
        const char* what;
        std::function<void(MORV_LOG*, CDB_ATOM_NODE*)> edit;
        ADDER_MODEL model;
    };
    std::vector<EDIT> edits;
    edits.push_back({"A inverted",
                     [](MORV_LOG* log, CDB_ATOM_NODE* adder) {
                         CDB_ATOM_ITERM* a = adder->get_input_term_by_type(DB_DATA_A);
                         log->log_set_invert(a);
                         a->set_invert();
                     },
                     ADDER_MODEL{{"a", "b", "c", "d", "cin"}, 0}});
    edits.push_back({"B tied high",
                     [](MORV_LOG* log, CDB_ATOM_NODE* adder) {
                         CDB_ATOM_ITERM* b = adder->get_input_term_by_type(DB_DATA_B);
                         log->log_connect_to_vcc(b);
                         b->set_vcc();
                     },
                     ADDER_MODEL{{"a", "VCC", "c", "d", "cin"}}});
    for (const EDIT& edit : edits) {
        const std::string bytes = record_adder_edit(edit.edit);
        ASSERT_FALSE(bytes.empty()) << edit.what;
        ADDER_REPLAY run("adder_recorded.psl");
        std::ofstream(run.name, std::ios::binary | std::ios::trunc) << bytes;
        msg_clear_posted_messages();
        ASSERT_TRUE(run.log()->reproduce_log()) << edit.what << "\n" << run.netlist_text();
        ASSERT_NE(run.node("add_HS_ADDER_NODE1"), nullptr) << edit.what << "\n" << run.netlist_text();
        expect_pair_computes_adder(run, edit.model, edit.what);
    }
}

// ------------------------------------------------------------------ entries about the pair

TEST_F(MorvLogAdderReplayTest, TermEntriesReachTheMappedTermAndAMissingPairOrTermChangesNothing)
{
    ADDER_REPLAY run("adder_terms.psl");
    // Global on B (the first cell's F), inversion set and cleared on C (the
    // second cell's D); entries about an adder without its pair do nothing.
    ASSERT_TRUE(run.replay(
        {MRL_REVISION, adder_state({"a", "b", "c", "d", "cin"}), "16 2 1 \"add\" 12 0 3", "15 3 1 \"add\" 13 0", END}));
    EXPECT_EQ(run.node("add_HS_ADDER_NODE1")->get_input_term_by_type(DB_DATA_F)->get_global() & 0x1f, 3);
    EXPECT_TRUE(run.node("add_HS_ADDER_NODE2")->get_input_term_by_type(DB_DATA_D)->is_inverted());
    ASSERT_TRUE(run.replay({MRL_REVISION, "14 4 1 \"add\" 13 0", END}));
    EXPECT_FALSE(run.node("add_HS_ADDER_NODE2")->get_input_term_by_type(DB_DATA_D)->is_inverted());

    // Its cells gone, the adder's entries answer true and change nothing.
    ADDER_REPLAY gone("adder_terms_gone.psl");
    ASSERT_TRUE(gone.replay({MRL_REVISION, adder_state({"a", "b", "c", "d", "cin"}), END}));
    for (const char* cell : {"add_HS_ADDER_NODE2", "add_HS_ADDER_NODE1"}) gone.api->delete_node(gone.node(cell));
    const std::string before = gone.netlist_text();
    EXPECT_TRUE(gone.replay({MRL_REVISION, "15 3 1 \"add\" 13 0", "17 4 1 \"add\" 11 0", "10 5 1 \"add\" 11 0 8",
                             "11 6 1 \"add\" 11 0 8 1", "19 7 1 \"add\" 14", END}));
    EXPECT_EQ(gone.netlist_text(), before);
}

TEST_F(MorvLogAdderReplayTest, EntriesFromTheFileThatDoNotFitThePairFailTheEntry)
{
    const std::vector<std::string> bad = {
        // Term index other than 0, a port the pair does not have, a usage
        // change, an unknown boundary port, a connection of the other kind.
        "15 3 1 \"add\" 11 1",
        "15 3 1 \"add\" 15 0",
        "9 3 1 \"add\" 11 0 12",
        "24 3 1 \"add\" 11 0 \"no_such_port\"",
        "29 3 1 \"add\" [\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" "
        "\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\"]",
        // A source on the carry link, and a source nobody has.
        "28 3 1 \"add\" [\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" "
        "\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"a\"]",
        "28 3 1 \"add\" [\"no_such\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" "
        "\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\"]",
        // The list form: a term index other than 0, a source on the carry link.
        "31 3 1 \"add\" [\"a\"] [11] [1]",
        "31 3 1 \"add\" [\"a\"] [103] [0]",
    };
    for (const std::string& entry : bad) {
        ADDER_REPLAY run("adder_bad_entry.psl");
        ASSERT_TRUE(run.replay({MRL_REVISION, adder_state({"a", "b", "c", "d", "cin"}), END}));
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay({MRL_REVISION, entry, END})) << entry;
        EXPECT_EQ(run.netlist_text(), before) << entry;
    }
}

}  // namespace

}  // namespace morv_log_adder_replay_test
