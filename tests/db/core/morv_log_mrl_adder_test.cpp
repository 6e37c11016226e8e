#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv_log_replay_host.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_log_mrl_adder_test {

namespace {

const char* const BRK_REVISION = "43 0 \"7.2\" 6";
const char* const END = "0 999";
const char* const ADDER_INPUTS[] = {"a", "b", "c", "d", "cin"};
const char* const SINKS[] = {"r0", "r1", "r2"};
// A brennock carry-chain cell as its log stores it: D and F (slots 3 and
// 5) added with the carry-in (slot 7), the mask in brennock bit order.
const char* const CHAIN_CELL_SLOTS = "[3 5 7]";
const char* const CHAIN_CELL_MASK = "0x0000ff00000000ff";

std::string chain_cell_state(int id, const std::string& cell, const std::string& sources, const std::string& outputs)
{
    return "27 " + std::to_string(id) + " 1 \"" + cell + "\" " + CHAIN_CELL_SLOTS + " " + sources + " " +
           CHAIN_CELL_MASK + " [7 0] " + outputs + " 0 \"\" 0";
}

// A morlin compile of a design that has the high-speed adder "add" over
// registers a, b, c, d and carry-in cin, its two sums and carry-out read by
// registers r0, r1 and r2; its low carry is named as this family names it.
struct CHAIN_REPLAY : MORV_LOG_REPLAY_HOST
{
    explicit CHAIN_REPLAY(const std::string& log_name) : MORV_LOG_REPLAY_HOST(24, log_name)
    {
        for (const char* input : ADDER_INPUTS) add_register(input);
        CDB_ATOM_NODE* adder = cdb_create_atom(24, CDB_KIND_HSADDER, host->names.find_or_create_path("add", 0));
        adder->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(adder);
        const int inputs[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_CHAIN_IN_0};
        for (int i = 0; i < 5; ++i) adder->add_input_term(inputs[i])->insert_fanin(oterm(ADDER_INPUTS[i]));
        const std::pair<int, const char*> outputs[] = {
            {DB_HSADDER_SUM_0, "sum0"}, {DB_HSADDER_SUM_1, "sum1"}, {DB_CHAIN_OUT_0, "cout"}, {44, "lo_c_cout1"}};
        for (const auto& [port, term] : outputs) adder->add_output_term(port, host->names.find_or_create_path(term, 0));
        const char* sources[] = {"sum0", "sum1", "cout"};
        for (int i = 0; i < 3; ++i) {
            CDB_ATOM_NODE* reg = add_register(SINKS[i]);
            reg->add_input_term(DB_DATAIN)->insert_fanin(oterm(sources[i]));
            std::string pin_name = "out_";
            pin_name += SINKS[i];
            add_output_pin(pin_name, reg->get_output_term_by_type(DB_REG_OUT));
        }
        start();
    }
    // What the expert's replay flow does after the replay on this family.
    void legalize_and_restore_adders() const
    {
        MORV_LEGALIZER legalizer(api);
        legalizer.legalize_netlist();
        EXPECT_EQ(log()->restore_hs_adders(), 0);
    }
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
    // The three sinks' values for every combination of the five inputs.
    std::vector<unsigned> truth_table() const
    {
        std::vector<unsigned> table;
        for (unsigned bits = 0; bits < 32; ++bits) {
            std::unordered_map<std::string, unsigned> values;
            for (unsigned i = 0; i < 5; ++i) values[ADDER_INPUTS[i]] = (bits >> i) & 1u;
            for (const char* sink : SINKS) values[sink] = 0;
            unsigned row = 0;
            for (int o = 0; o < 3; ++o) row |= read(node(SINKS[o])->get_input_term_by_type(DB_DATAIN), values) << o;
            table.push_back(row);
        }
        return table;
    }
    int count(bool (CDB_ATOM_NODE::*is_kind)() const) const
    {
        int n = 0;
        for (CDB_ATOM_NODE* atom : *host->netlist) n += (atom->*is_kind)() ? 1 : 0;
        return n;
    }
};

class MorvLogMrlAdderTest : public MORV_CLEAN_STATE_TEST
{};

// The brennock compile logged the two cells its carry chain had in place of
// the adder; on morlin they are rebuilt as chain cells and, after the
// legaliser, turned back into one high-speed adder that adds the same.
TEST_F(MorvLogMrlAdderTest, ABrennockCarryChainReplayedOnMorlinEndsAsHighSpeedAddersAndStaysEquivalent)
{
    CHAIN_REPLAY run("mrl_chain.psl");
    const std::vector<unsigned> design = run.truth_table();
    ASSERT_TRUE(run.replay({BRK_REVISION, chain_cell_state(1, "lo", "[\"a\" \"b\" \"cin\"]", "[\"sum0\" \"lo_c\"]"),
                            chain_cell_state(2, "hi", "[\"c\" \"d\" \"lo_c\"]", "[\"sum1\" \"cout\"]"), END}))
        << run.netlist_text();
    // Replayed: two chain cells, no adder, the same sums and carry.
    EXPECT_EQ(run.count(&CDB_ATOM_NODE::is_lcell_hsadder), 0) << run.netlist_text();
    ASSERT_NE(run.node("lo"), nullptr) << run.netlist_text();
    ASSERT_NE(run.node("hi"), nullptr) << run.netlist_text();
    EXPECT_EQ(run.truth_table(), design) << run.netlist_text();

    run.legalize_and_restore_adders();
    EXPECT_EQ(run.count(&CDB_ATOM_NODE::is_lcell_hsadder), 1) << run.netlist_text();
    EXPECT_EQ(run.count(&CDB_ATOM_NODE::is_lcell_comb), 0) << run.netlist_text();
    EXPECT_EQ(run.truth_table(), design) << run.netlist_text();
}

}  // namespace

}  // namespace morv_log_mrl_adder_test
