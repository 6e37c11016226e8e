// The skew-driven engine end to end on logic cells: candidates by skew,
// moves across single cells, wires and carry chains in both directions,
// their power-up values, the commit and the refusals, each edited netlist
// proved sequentially equivalent to the one it came from.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "fixture_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "morv_test_util.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_opt_skew.h"
#include "rtm_test_run.h"
#include "seq_harness.h"
#include "test_files.h"
#include "tdc/tdc_accessories.h"

namespace rtm_engine_test {

namespace {

using NETLIST_BUILDER = std::function<std::unique_ptr<CDB_ATOM_NETLIST>()>;

void mark_all_cells_critical(RTM_RUN& run)
{
    for (CDB_ATOM_NODE* node : run.netlist())
        if (node->is_lcell_comb()) run.rtm().critical_nodes().insert(static_cast<int>(node->get_id()));
}

// One iteration of the engine on the named registers, every cell critical,
// skews standing in for the analyser's; the moves it committed.
int move_registers(RTM_RUN& run, const std::vector<std::string>& names, int skew)
{
    MORV_RTM& rtm = run.rtm();
    rtm.clear_iteration_state();
    mark_all_cells_critical(run);
    MORV_RTM_REG_LIST list;
    for (const std::string& name : names) {
        CDB_ATOM_NODE* node = run.find(name);
        EXPECT_NE(node, nullptr) << name;
        if (node != nullptr) rtm.add_candidate(&list, node, skew, true);
    }
    const int moves = rtm.retime_registers(&list);
    rtm.run_demux_and_split();
    return moves;
}

std::vector<std::string> register_names(CDB_ATOM_NETLIST& netlist)
{
    std::vector<std::string> names;
    for (CDB_ATOM_NODE* node : netlist)
        if (node->is_lcell_ff()) names.push_back(std::string(node->get_instance_name()->get_short_hpath()));
    return names;
}

int reason_count(MORV_RTM& rtm, int reason)
{
    return rtm.get_outcome_counts().at(static_cast<size_t>(reason));
}

void expect_equivalent(RTM_RUN& run, const NETLIST_BUILDER& build, const std::string& tag)
{
    std::unique_ptr<CDB_ATOM_NETLIST> before = build();
    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), tag, true);
    EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
}

// ---------------------------------------------------------------- a hand-made design
//
// r0 (read inverted), r1 (through an inverting wire) and r2 (through a
// plain wire) feed x,
// whose register r3 loads x inverted and drives o1 inverted; y reads r3 and
// a LUT input tied high into r7; r4 loads its synchronous data for ever
// (synchronous load tied high) and meets r5 in z, registered by r6.
std::unique_ptr<CDB_ATOM_NETLIST> build_wires()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* b = f.input("b");
    CDB_ATOM_OTERM* c = f.input("c");
    CDB_ATOM_OTERM* d = f.input("d");
    CDB_ATOM_OTERM* r0 = f.reg("r0", c, clk);
    CDB_ATOM_OTERM* r1 = f.reg("r1", a, clk);
    CDB_ATOM_OTERM* r2 = f.reg("r2", b, clk);
    CDB_ATOM_OTERM* w1 = f.lut("w1", {r1}, 0x1);
    CDB_ATOM_OTERM* w2 = f.lut("w2", {r2}, 0x2);
    // x = r0 ? (w1 | w2) : (w1 & ~w2): rows r0 + 2 w1 + 4 w2.
    CDB_ATOM_OTERM* x = f.lut("x", {r0, w1, w2}, 0xE4);
    x->get_my_node()->get_input_term_by_type(DB_DATA_A)->set_invert(true);
    CDB_ATOM_OTERM* r3 = f.reg("r3", x, clk);
    r3->get_my_node()->get_input_term_by_type(DB_DATAIN)->set_invert(true);
    f.output("o1", r3, true);
    // y = r3 ^ k with k tied high.
    CDB_ATOM_OTERM* y = f.lut("y", {r3, a}, 0x6);
    CDB_ATOM_ITERM* k = y->get_my_node()->get_input_term_by_type(DB_DATA_B);
    k->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    FIXTURE_NETLIST::tie(k, true);
    CDB_ATOM_OTERM* r7 = f.reg("r7", y, clk);
    f.output("o2", r7);
    // r3 & k into registers that load the cell inverted, so the cell must
    // show 1: with k tied high only r3 = 1 and k = 1 does, with k tied low
    // nothing does.
    for (bool high : {true, false}) {
        CDB_ATOM_OTERM* and_k = f.lut(high ? "yh" : "yl", {r3, a}, 0x8);
        CDB_ATOM_ITERM* tied = and_k->get_my_node()->get_input_term_by_type(DB_DATA_B);
        tied->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        FIXTURE_NETLIST::tie(tied, high);
        CDB_ATOM_OTERM* held = f.reg(high ? "r8" : "r9", and_k, clk);
        held->get_my_node()->get_input_term_by_type(DB_DATAIN)->set_invert(true);
        f.output(high ? "o8" : "o9", held);
    }
    CDB_ATOM_OTERM* r4 = f.reg("r4", d, clk);
    CDB_ATOM_NODE* r4_node = r4->get_my_node();
    FIXTURE_NETLIST::tie(r4_node->add_input_term(DB_SYNCH_LOAD), true);
    a->insert_fanout(r4_node->add_input_term(DB_SYNCH_DATA));
    CDB_ATOM_OTERM* r5 = f.reg("r5", b, clk);
    CDB_ATOM_OTERM* z = f.lut("z", {r4, r5}, 0x8);
    CDB_ATOM_OTERM* r6 = f.reg("r6", z, clk);
    f.output("o3", r6);
    return f.release();
}

struct MOVE_CASE
{
    const char* m_register;
    int m_skew;
    int m_expected_moves;
    int m_expected_reason;  // counted once at least
};

TEST(RtmEngineMoves, WiresInversionsConstantsAndLoadedRegistersStayEquivalent)
{
    const MOVE_CASE cases[] = {
        // Forward across x: r1 is bypassed on the inverting wire's input,
        // the term it really drives, and x's register powers up high.
        {"r0", -100, 1, MORV_RTM_NO_FAILURE},
        // Backward across x from a register that loads x inverted.
        {"r3", 100, 1, MORV_RTM_NO_FAILURE},
        // Backward across y: the input tied high gets a register that powers
        // up low with its data tied high, or none.
        {"r7", 100, 1, MORV_RTM_NO_FAILURE},
        {"r8", 100, 1, MORV_RTM_NO_FAILURE},
        {"r9", 100, 0, MORV_RTM_BAD_IC},
        // A register whose synchronous load is tied high is refused.
        {"r5", -100, 0, MORV_RTM_REG_NO_GOOD},
        {"r6", 100, 1, MORV_RTM_NO_FAILURE},
    };
    for (const MOVE_CASE& move : cases) {
        SCOPED_TRACE(move.m_register);
        RTM_RUN run(build_wires());
        const int moves = move_registers(run, {move.m_register}, move.m_skew);
        EXPECT_EQ(moves, move.m_expected_moves);
        EXPECT_GE(reason_count(run.rtm(), move.m_expected_reason), 1);
        std::unique_ptr<CDB_ATOM_NETLIST> before = build_wires();
        const SEQ_VERDICT verdict =
            seq_check(*before, run.netlist(), std::string("rtm_wires_") + move.m_register, true);
        EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
    }
}

// A term on a global network other than the local kinds and the clock
// network pins its register: the register does not move.
TEST(RtmEngineMoves, OnlyLocalAndClockGlobalSettingsLeaveARegisterMovable)
{
    RTM_RUN run(build_wires());
    CDB_ATOM_NODE* r6 = run.find("r6");
    ASSERT_NE(r6, nullptr);
    CDB_ATOM_ITERM* clock = r6->get_input_term_by_type(DB_CLOCK);
    ASSERT_TRUE(clock != nullptr && clock->is_connected());
    for (const auto& [global, movable] : {std::pair{0, true}, {2, true}, {4, true}, {1, false}, {3, false}}) {
        clock->set_global(global);
        EXPECT_EQ(run.rtm().is_retimeable_register(r6), movable) << global;
    }
}

// A cell is a wire only when exactly one input is connected, whichever it
// is: an OR of two registers is no wire, though it passes its first input
// while the second reads 0.
TEST(RtmEngineMoves, ACellReadingTwoSignalsIsNoWire)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* r = f.reg("r", f.input("a"), clk);
    CDB_ATOM_OTERM* s = f.reg("s", f.input("b"), clk);
    f.output("o", f.lut("either", {r, s}, 0xE));
    f.output("n", f.lut("not_r", {r}, 0x1));
    RTM_RUN run(f.release());
    bool inverted = false;
    EXPECT_EQ(run.rtm().is_wire_lut(run.find("either"), &inverted), 0);
    EXPECT_EQ(run.rtm().is_wire_lut(run.find("not_r"), &inverted), DB_DATA_A);
    EXPECT_TRUE(inverted);
}

// Registers r0 and r1 of the inputs a and b, ANDed by the cell m, which
// drives the output o.
CDB_ATOM_OTERM* and_of_two_registers(FIXTURE_NETLIST& f)
{
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* r0 = f.reg("r0", f.input("a"), clk);
    CDB_ATOM_OTERM* r1 = f.reg("r1", f.input("b"), clk);
    CDB_ATOM_OTERM* m = f.lut("m", {r0, r1}, 0x8);
    f.output("o", m);
    return m;
}

// r0 & r1 in m, registered by t; m's sum output drives the pin s as well
// when asked. A register moves across m either way while m has one used
// output; with two, the move forward would need a copy on each output and
// the move backward one power-up value for each: both are refused.
std::unique_ptr<CDB_ATOM_NETLIST> two_output_design(bool sum_used)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* r0 = f.reg("r0", f.input("a"), clk);
    CDB_ATOM_OTERM* r1 = f.reg("r1", f.input("b"), clk);
    CDB_ATOM_OTERM* m = f.lut("m", {r0, r1}, 0x8);
    f.output("o", f.reg("t", m, clk));
    CDB_ATOM_NODE* cell = m->get_my_node();
    if (sum_used) f.output("s", cell->add_output_term(DB_SUM_OUT, cell->get_instance_name()));
    return f.release();
}

TEST(RtmEngineMoves, ACellWithTwoUsedOutputsIsNotCrossed)
{
    for (bool sum_used : {false, true})
        for (int skew : {-100, 100}) {
            SCOPED_TRACE(std::to_string(skew) + (sum_used ? " sum used" : ""));
            RTM_RUN run(two_output_design(sum_used));
            const std::string before = native_text(run.netlist());
            const std::vector<std::string> movers =
                skew < 0 ? std::vector<std::string>{"r0", "r1"} : std::vector<std::string>{"t"};
            EXPECT_EQ(move_registers(run, movers, skew), sum_used ? 0 : 1);
            EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_MULTI_OUTPUTS), sum_used ? static_cast<int>(movers.size()) : 0);
            if (sum_used) {
                EXPECT_EQ(native_text(run.netlist()), before);
            } else {
                expect_equivalent(
                    run, [] { return two_output_design(false); }, skew < 0 ? "rtm_one_out_fwd" : "rtm_one_out_bwd");
            }
        }
}

// The register a move adds behind a cell takes that cell's LAB, one LAB
// inward when the cell sits on the outermost column or row, as classic
// retiming places its registers: the host places it there and the timing
// estimate assumes it there.
TEST(RtmEngineMoves, AddedRegisterTakesItsCellsLabOffTheChipEdge)
{
    // The cell in two opposite corners: first column and last row, then
    // last column and first row.
    for (bool first_column : {true, false}) {
        SCOPED_TRACE(first_column);
        FIXTURE_NETLIST f(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* m = and_of_two_registers(f);
        RTM_RUN run(f.release());
        run.api()->reset_fsyn_chip_map(false);
        MORV_CHIP_MAP* map = run.api()->get_fsyn_chip_map();
        ASSERT_NE(map, nullptr);
        const int nx = map->get_nx(), ny = map->get_ny();
        const MORV_LOC corner{first_column ? 0 : nx - 1, first_column ? ny - 1 : 0, MORV_OPEN, MORV_OPEN};
        map->set_node_location(static_cast<int>(m->get_my_node()->get_id()), corner);
        for (const char* name : {"r0", "r1"})
            map->set_node_location(static_cast<int>(run.find(name)->get_id()), MORV_LOC{3, 3, MORV_OPEN, MORV_OPEN});
        ASSERT_EQ(move_registers(run, {"r0", "r1"}, -100), 1);
        CDB_ATOM_ITERM* fanout = m->get_first_fanout();
        ASSERT_NE(fanout, nullptr);
        CDB_ATOM_NODE* added = fanout->get_my_node();
        ASSERT_TRUE(added->is_lcell_ff());
        MORV_LOC at;
        ASSERT_TRUE(map->get_node_location(static_cast<int>(added->get_id()), &at));
        EXPECT_EQ(at.x, first_column ? 1 : nx - 2);
        EXPECT_EQ(at.y, first_column ? ny - 2 : 1);
    }
}

TEST(RtmEngineMoves, LoadedRegisterGoesToTheDemuxerInsteadOfTheList)
{
    RTM_RUN run(build_wires());
    CDB_ATOM_NODE* r4 = run.find("r4");
    ASSERT_NE(r4, nullptr);
    EXPECT_FALSE(run.rtm().is_retimeable_register(r4));
    MORV_RTM_REG_LIST list;
    run.rtm().add_candidate(&list, r4, 500, true);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(run.rtm().nodes_to_demux().count(static_cast<int>(r4->get_id())), 1u);
    // The moved register's neighbour that is refused is queued as well.
    RTM_RUN other(build_wires());
    move_registers(other, {"r5"}, -100);
    EXPECT_EQ(other.rtm().get_outcome_counts().at(0), 0);
}

TEST(RtmEngineMoves, EveryRegisterBothWaysThenBackAgain)
{
    RTM_RUN run(build_wires());
    const std::vector<std::string> names = register_names(run.netlist());
    int moves = move_registers(run, names, -100);
    moves += move_registers(run, names, 100);
    moves += move_registers(run, names, 100);
    EXPECT_GT(moves, 2);
    std::unique_ptr<CDB_ATOM_NETLIST> before = build_wires();
    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), "rtm_wires_all", true);
    EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
}

// ---------------------------------------------------------------- carry chains
//
// A two-bit adder on a carry chain between registers. SHARED: the second
// bit adds ra0, so a backward move leaves two new chain inputs loading the
// same source, which the commit merges. PAIRED: the second bit adds ra1 to
// itself and its register loads the sum inverted, so it needs the carry of
// the first bit, which only a0 = b0 = 1 gives: the first bit's first
// answer (0, 0) must be taken back once the second bit is tried.
enum class ADDER
{
    PLAIN,
    SHARED,
    SHARED_INVERTED,  // as SHARED, the second bit reading ra0 inverted
    SHARED_HIGH,      // as SHARED, rs0 loading the first sum bit inverted
    PAIRED
};

NETLIST_BUILDER adder_design(ADDER kind)
{
    return [kind] {
        FIXTURE_NETLIST f(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* clk = f.input("clk");
        std::vector<CDB_ATOM_OTERM*> a, b;
        for (int i = 0; i < 2; ++i) {
            a.push_back(f.reg(rtm_name("ra", i), f.input(rtm_name("ia", i)), clk));
            b.push_back(f.reg(rtm_name("rb", i), f.input(rtm_name("ib", i)), clk));
        }
        if (kind == ADDER::SHARED || kind == ADDER::SHARED_INVERTED || kind == ADDER::SHARED_HIGH) b[1] = a[0];
        if (kind == ADDER::PAIRED) b[1] = a[1];
        const std::vector<CDB_ATOM_OTERM*> sum = f.adder("add", a, b);
        if (kind == ADDER::SHARED_INVERTED) sum[1]->get_my_node()->get_input_term_by_type(DB_DATA_B)->set_invert(true);
        for (int i = 0; i < 2; ++i) {
            CDB_ATOM_OTERM* held = f.reg(rtm_name("rs", i), sum[static_cast<size_t>(i)], clk);
            if ((kind == ADDER::PAIRED && i == 1) || (kind == ADDER::SHARED_HIGH && i == 0))
                held->get_my_node()->get_input_term_by_type(DB_DATAIN)->set_invert(true);
            f.output(rtm_name("o", i), held);
        }
        return f.release();
    };
}

TEST(RtmEngineChains, ForwardAndBackwardAcrossACarryChain)
{
    const NETLIST_BUILDER build = adder_design(ADDER::PLAIN);
    {
        RTM_RUN run(build());
        EXPECT_EQ(move_registers(run, {"ra0"}, -100), 1);
        expect_equivalent(run, build, "rtm_chain_fwd");
    }
    {
        RTM_RUN run(build());
        EXPECT_EQ(move_registers(run, {"rs1"}, 100), 1);
        expect_equivalent(run, build, "rtm_chain_bwd");
    }
    {
        // The chain is tried once per iteration: rs1, left without fanout
        // by the first move, still loads the chain.
        RTM_RUN run(build());
        EXPECT_EQ(move_registers(run, {"rs0", "rs1"}, 100), 1);
        EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_ALREADY_PROCESSED_CARRY_CHAIN), 1);
        expect_equivalent(run, build, "rtm_chain_twice");
    }
}

TEST(RtmEngineChains, BackwardMoveMergesChainInputsLoadingOneSource)
{
    const NETLIST_BUILDER build = adder_design(ADDER::SHARED);
    RTM_RUN run(build());
    EXPECT_EQ(move_registers(run, {"rs0"}, 100), 1);
    CDB_ATOM_NODE* bit0 = run.find("add_0");
    CDB_ATOM_NODE* bit1 = run.find("add_1");
    ASSERT_NE(bit0, nullptr);
    ASSERT_NE(bit1, nullptr);
    CDB_ATOM_OTERM* first = bit0->get_input_term_by_type(DB_DATA_A)->get_source();
    EXPECT_EQ(bit1->get_input_term_by_type(DB_DATA_B)->get_source(), first);
    EXPECT_TRUE(first->get_my_node()->is_lcell_ff());
    EXPECT_NE(first->get_my_node(), run.find("ra0"));
    expect_equivalent(run, build, "rtm_chain_merge");
}

// rs0 must show 1 at power-up: the search gives ra0 the value 1 at both of
// its chain inputs (sum0 = a0 ^ b0 = 1 takes a0 = 1 first; sum1 = a1 ^ a0
// = 0 then takes a1 = 1), so both new registers power up high, each built
// between two inverters. The second chain input is reconnected to the
// inverter behind the first register.
TEST(RtmEngineChains, BackwardMoveMergesChainInputsLoadingOneSourceThroughInverters)
{
    const NETLIST_BUILDER build = adder_design(ADDER::SHARED_HIGH);
    RTM_RUN run(build());
    EXPECT_EQ(move_registers(run, {"rs0"}, 100), 1);
    CDB_ATOM_NODE* bit0 = run.find("add_0");
    CDB_ATOM_NODE* bit1 = run.find("add_1");
    ASSERT_NE(bit0, nullptr);
    ASSERT_NE(bit1, nullptr);
    CDB_ATOM_OTERM* first = bit0->get_input_term_by_type(DB_DATA_A)->get_source();
    EXPECT_EQ(bit1->get_input_term_by_type(DB_DATA_B)->get_source(), first);
    CDB_ATOM_NODE* back = first->get_my_node();
    ASSERT_TRUE(back->is_lcell_comb());
    CDB_ATOM_OTERM* held = back->get_input_term_by_type(DB_DATA_A)->get_source();
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(held->get_my_node()->is_lcell_ff());
    EXPECT_NE(held->get_my_node(), run.find("ra0"));
    expect_equivalent(run, build, "rtm_chain_merge_high");
}

// The bundled designs/adder_chain_brk.txt, as SHARED_HIGH but with x =
// ra0 ^ rc0 ^ rc1 (two LUTs) in ra0's place: the path into the adder is
// the long one, so a compile's skews move rs0 and rs1 backward across the
// chain, and the two registers in front of x's chain inputs are merged
// through their inverters.
std::unique_ptr<CDB_ATOM_NETLIST> chain_sample_design()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* ra0 = f.reg("ra0", f.input("ia0"), clk);
    CDB_ATOM_OTERM* ra1 = f.reg("ra1", f.input("ia1"), clk);
    CDB_ATOM_OTERM* rb0 = f.reg("rb0", f.input("ib0"), clk);
    CDB_ATOM_OTERM* x = ra0;
    for (int k = 0; k < 2; ++k)
        x = f.lut(rtm_name("l", k), {x, f.reg(rtm_name("rc", k), f.input(rtm_name("ic", k)), clk)}, 0x6);
    const std::vector<CDB_ATOM_OTERM*> sum = f.adder("add", {x, ra1}, {rb0, x});
    for (int i = 0; i < 2; ++i) {
        CDB_ATOM_OTERM* held = f.reg(rtm_name("rs", i), sum[static_cast<size_t>(i)], clk);
        if (i == 0) held->get_my_node()->get_input_term_by_type(DB_DATAIN)->set_invert(true);
        f.output(rtm_name("o", i), held);
    }
    return f.release();
}

TEST(RtmEngineChains, SampleDesignIsTheGeneratorsOwn)
{
    const std::string text = canonical_ids(native_text(*chain_sample_design()));
    const std::string path = std::string(MORV_SOURCE_DIR) + "/designs/adder_chain_brk.txt";
    EXPECT_TRUE(sample_design_is_current(path, text));
}

TEST(RtmEngineChains, BackwardSearchTakesBackTheFirstCellsAnswerForItsPartner)
{
    const NETLIST_BUILDER build = adder_design(ADDER::PAIRED);
    RTM_RUN run(build());
    EXPECT_EQ(move_registers(run, {"rs0"}, 100), 1);
    EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_BAD_IC), 0);
    expect_equivalent(run, build, "rtm_chain_pair");
}

// Chain inputs from registers that load a constant: the forward move
// bypasses each register onto a constant cell of its own, one a fanout
// (k1 feeds two bits), and the chain then reads one cell of each value.
// With chain_source, rb2 loads the sum of a chain's first cell that reads
// nothing and whose adder halves are zero: its mask reads 0, its sum is 1,
// and the chain must keep reading it after the move.
std::unique_ptr<CDB_ATOM_NETLIST> constant_chain_design(bool chain_source)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    auto held = [&f, clk](const char* name, bool value) {
        std::string pin = "i";
        pin += name;
        CDB_ATOM_OTERM* q = f.reg(name, f.input(pin), clk);
        CDB_ATOM_ITERM* datain = q->get_my_node()->get_input_term_by_type(DB_DATAIN);
        datain->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        FIXTURE_NETLIST::tie(datain, value);
        return q;
    };
    CDB_ATOM_OTERM* one = held("k1", true);
    const std::vector<CDB_ATOM_OTERM*> a = {f.reg("ra0", f.input("ia0"), clk), held("z1", false), held("z2", false)};
    CDB_ATOM_OTERM* b2 = f.input("ib2");
    if (chain_source) {
        const std::vector<CDB_ATOM_OTERM*> z = f.adder("zc", {b2, b2}, {b2, b2});
        CDB_ATOM_NODE* head = z[0]->get_my_node();
        for (int port : {DB_DATA_A, DB_DATA_B})
            head->get_input_term_by_type(port)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        head->set_sum_lutmask(CDB_LUTMASK(5, 0));
        f.output("oz", z[1]);
        b2 = z[0];
    }
    const std::vector<CDB_ATOM_OTERM*> b = {one, one, f.reg("rb2", b2, clk)};
    const std::vector<CDB_ATOM_OTERM*> sum = f.adder("add", a, b);
    for (int i = 0; i < 3; ++i) f.output(rtm_name("o", i), f.reg(rtm_name("rs", i), sum[static_cast<size_t>(i)], clk));
    return f.release();
}

void check_constant_chain(const NETLIST_BUILDER& build, const std::string& tag)
{
    RTM_RUN run(build());
    EXPECT_EQ(move_registers(run, {"ra0"}, -100), 1);
    CDB_ATOM_NODE* bit[3] = {run.find("add_0"), run.find("add_1"), run.find("add_2")};
    // By value: z1 and z2 fed a1 and a2, k1 fed b0 and b1.
    const std::pair<CDB_ATOM_ITERM*, CDB_ATOM_ITERM*> reads[2] = {
        {bit[1]->get_input_term_by_type(DB_DATA_A), bit[2]->get_input_term_by_type(DB_DATA_A)},
        {bit[0]->get_input_term_by_type(DB_DATA_B), bit[1]->get_input_term_by_type(DB_DATA_B)}};
    for (int value : {0, 1}) {
        SCOPED_TRACE(value);
        CDB_ATOM_OTERM* shared = reads[value].first->get_source();
        ASSERT_NE(shared, nullptr);
        EXPECT_EQ(reads[value].second->get_source(), shared);
        CDB_ATOM_NODE* cell = shared->get_my_node();
        EXPECT_TRUE(cell->is_lcell_comb());
        EXPECT_EQ(cell->begin_iterm(), cell->end_iterm());
        EXPECT_EQ(run.api()->get_fsyn_net_util()->get_lutmask(cell), value == 1 ? ~uint64_t{0} : uint64_t{0});
    }
    expect_equivalent(run, build, tag);
}

TEST(RtmEngineChains, ForwardMoveLeavesOneConstantCellOfEachValue)
{
    for (bool chain_source : {false, true}) {
        SCOPED_TRACE(chain_source);
        const NETLIST_BUILDER build = [chain_source] { return constant_chain_design(chain_source); };
        check_constant_chain(build, chain_source ? "rtm_chain_constants_chain_source" : "rtm_chain_constants");
    }
}

TEST(RtmEngineChains, RegistersLoadingOneSourceInvertedAreNotMerged)
{
    const NETLIST_BUILDER build = adder_design(ADDER::SHARED_INVERTED);
    RTM_RUN run(build());
    EXPECT_EQ(move_registers(run, {"rs0"}, 100), 1);
    CDB_ATOM_NODE* bit0 = run.find("add_0");
    CDB_ATOM_NODE* bit1 = run.find("add_1");
    ASSERT_NE(bit0, nullptr);
    ASSERT_NE(bit1, nullptr);
    EXPECT_NE(bit1->get_input_term_by_type(DB_DATA_B)->get_source(),
              bit0->get_input_term_by_type(DB_DATA_A)->get_source());
    expect_equivalent(run, build, "rtm_chain_no_merge");
}

// ---------------------------------------------------------------- refusals
//
// p, q plain registers; e a register with a clock enable; g reads p and an
// unregistered input; h = p & q feeds t1 directly and t2 through an
// inverting wire; k = p | q feeds t3 and an output; m = p ^ e.
std::unique_ptr<CDB_ATOM_NETLIST> build_refusals()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* b = f.input("b");
    CDB_ATOM_OTERM* en = f.input("en");
    CDB_ATOM_OTERM* p = f.reg("p", a, clk);
    CDB_ATOM_OTERM* q = f.reg("q", b, clk);
    CDB_ATOM_OTERM* e = f.reg("e", a, clk, en);
    f.output("og", f.reg("tg", f.lut("g", {p, b}, 0x8), clk));
    CDB_ATOM_OTERM* h = f.lut("h", {p, q}, 0x8);
    f.output("o1", f.reg("t1", h, clk));
    f.output("o2", f.reg("t2", f.lut("wn", {h}, 0x1), clk));
    CDB_ATOM_OTERM* k = f.lut("k", {p, q}, 0xE);
    f.output("o3", f.reg("t3", k, clk));
    f.output("o4", k);
    f.output("o5", f.reg("tm", f.lut("m", {p, e}, 0x6), clk));
    f.output("o6", f.reg("tw", f.lut("w", {q}, 0x2), clk));
    return f.release();
}

struct REFUSAL
{
    const char* m_register;
    int m_skew;
    const char* m_also_critical;  // a node that is no logic cell, or null
    int m_reason;
};

TEST(RtmEngineRefusals, EachReasonLeavesTheNetlistAlone)
{
    const REFUSAL cases[] = {
        {"q", -100, nullptr, MORV_RTM_COMB_NO_GOOD},               // q's fanout w is a wire
        {"p", -100, nullptr, MORV_RTM_NO_REG_ON_INPUT},            // g reads the input b
        {"t1", 100, nullptr, MORV_RTM_BAD_IC},                     // t1 low, t2 behind an inverter
        {"t3", 100, nullptr, MORV_RTM_NO_REG_ON_OUTPUT},           // k also drives o4
        {"p", -100, nullptr, MORV_RTM_REG_INCOMPATIBLE_SIGNALS},   // m reads e, which has an enable
        {"q", 100, "b", MORV_RTM_NO_RETIMEABLE_FANOUT},            // q loads an input pin
        {"t1", -100, "o1~output", MORV_RTM_NO_RETIMEABLE_FANOUT},  // t1 feeds an output pin
    };
    for (const REFUSAL& refusal : cases) {
        SCOPED_TRACE(std::string(refusal.m_register) + " " + morv_rtm_failure_reason_text(refusal.m_reason));
        RTM_RUN run(build_refusals());
        if (refusal.m_also_critical != nullptr) {
            CDB_ATOM_NODE* node = run.find(refusal.m_also_critical);
            ASSERT_NE(node, nullptr);
            run.rtm().critical_nodes().insert(static_cast<int>(node->get_id()));
        }
        MORV_RTM& rtm = run.rtm();
        mark_all_cells_critical(run);
        MORV_RTM_REG_LIST list;
        rtm.add_candidate(&list, run.find(refusal.m_register), refusal.m_skew, true);
        rtm.retime_registers(&list);
        EXPECT_GE(reason_count(rtm, refusal.m_reason), 1);
        expect_equivalent(run, build_refusals, std::string("rtm_refusal_") + refusal.m_register);
    }
}

// A register that loads its own cell: the move takes it out before the new
// register is added, so the new one closes the loop.
std::unique_ptr<CDB_ATOM_NETLIST> build_toggle()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* en = f.input("en");
    CDB_ATOM_OTERM* r = f.reg("r", en, clk);
    CDB_ATOM_ITERM* datain = r->get_my_node()->get_input_term_by_type(DB_DATAIN);
    datain->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    CDB_ATOM_OTERM* next = f.lut("t", {r, f.reg("re", en, clk)}, 0x6);
    next->insert_fanout(datain);
    datain->set_invert(true);
    f.output("o", r);
    return f.release();
}

TEST(RtmEngineMoves, RegisterInItsOwnLoopMovesBothWays)
{
    for (int skew : {-100, 100}) {
        SCOPED_TRACE(skew);
        RTM_RUN run(build_toggle());
        EXPECT_EQ(move_registers(run, {"r"}, skew), 1);
        expect_equivalent(run, build_toggle, skew < 0 ? "rtm_toggle_fwd" : "rtm_toggle_bwd");
    }
}

// A register under another timing assignment than the moved one refuses
// the move; under the same one the move goes ahead.
TEST(RtmEngineRefusals, DifferentTimingAssignmentRefusesTheMove)
{
    for (bool both : {false, true}) {
        SCOPED_TRACE(both);
        RTM_RUN run(build_refusals());
        tdc_get_accessories()->clear_timing_assignments();
        for (const char* name : {"q", "p"}) {
            if (!both && std::string(name) == "p") continue;
            CDB_ATOM_OTERM* regout = run.find(name)->get_output_term_by_type(DB_REG_OUT);
            tdc_get_accessories()->set_timing_assignment(std::string(regout->get_instance_name()->get_short_hpath()),
                                                         "MULTICYCLE", "2");
        }
        move_registers(run, {"p"}, -100);
        EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS) > 0, !both);
        EXPECT_EQ(run.rtm().moved_nodes().count(static_cast<int>(run.find("h")->get_id())), both ? 1u : 0u);
        tdc_get_accessories()->clear_timing_assignments();
        expect_equivalent(run, build_refusals, both ? "rtm_timing_alike" : "rtm_timing_apart");
    }
}

// ---------------------------------------------------------------- generated designs

SEQ_GEN_OPTIONS generated(bool chains)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_BRK;
    o.m_cells = 14;
    o.m_registers = 8;
    o.m_chains = chains;
    return o;
}

TEST(RtmEngineMoves, GeneratedDesignsStayEquivalentIterationAfterIteration)
{
    int committed = 0, refused = 0;
    for (bool chains : {false, true}) {
        for (uint64_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(seed);
            const SEQ_GEN_OPTIONS options = generated(chains);
            RTM_RUN run(options, seed);
            const std::vector<std::string> names = register_names(run.netlist());
            for (int skew : {-100, 100, -100, 100}) move_registers(run, names, skew);
            const std::vector<int>& counts = run.rtm().get_outcome_counts();
            committed += counts.at(0);
            for (size_t i = 1; i < counts.size(); ++i) refused += counts[i];
            std::unique_ptr<CDB_ATOM_NETLIST> before = seq_generate(options, seed);
            const SEQ_VERDICT verdict =
                seq_check(*before, run.netlist(),
                          rtm_name(chains ? "rtm_gen_chain_" : "rtm_gen_", static_cast<long long>(seed)), true);
            EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
        }
    }
    EXPECT_GT(committed, 10);
    EXPECT_GT(refused, 0);
}

// ---------------------------------------------------------------- candidates and mobility

TEST(RtmEngineCandidates, SkewThresholdCriticalFlagAndDirection)
{
    RTM_RUN run(build_wires());
    CDB_ATOM_NODE* r0 = run.find("r0");
    ASSERT_NE(r0, nullptr);
    MORV_RTM_REG_LIST list;
    for (int skew : {99, -99, 0}) run.rtm().add_candidate(&list, r0, skew, true);
    run.rtm().add_candidate(&list, r0, 5000, false);
    // Neither a register nor a DSP block: a cell, a pin.
    for (const char* other : {"x", "a"}) run.rtm().add_candidate(&list, run.find(other), -5000, true);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(run.rtm().nodes_to_demux().empty());
    run.rtm().add_candidate(&list, r0, -100, true);
    run.rtm().add_candidate(&list, r0, 100, true);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front()->m_direction, MORV_RTM_FORWARD);
    EXPECT_EQ(list.back()->m_direction, MORV_RTM_BACKWARD);
    EXPECT_EQ(list.front()->m_type, MORV_RTM_REG_LCELL);
    EXPECT_EQ(list.front()->m_ref_oterm, r0->get_output_term_by_type(DB_REG_OUT));
}

TEST(RtmEngineCandidates, FailedRecordLosesMobilityAndKeepsIt)
{
    RTM_RUN run(build_wires());
    CDB_ATOM_NODE* r5 = run.find("r5");
    ASSERT_NE(r5, nullptr);
    MORV_OPT_SKEW* skew = run.rtm().get_opt_skew();
    const double fwd = skew->get_fwd_mobility(r5);
    const double bwd = skew->get_bwd_mobility(r5);
    EXPECT_EQ(move_registers(run, {"r5"}, -100), 0);
    EXPECT_DOUBLE_EQ(skew->get_fwd_mobility(r5), fwd * 0.2);
    EXPECT_DOUBLE_EQ(skew->get_bwd_mobility(r5), bwd);
    run.rtm().clear_iteration_state();
    EXPECT_DOUBLE_EQ(skew->get_fwd_mobility(r5), fwd * 0.2);
}

// DSP records are listed and moved like the others: a block the slice
// table does not know (the table is built per iteration) makes no move,
// loses mobility and warns of nothing.
TEST(RtmEngineCandidates, DspRecordsOutsideTheSliceTableAreRefused)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_BRK;
    o.m_dsps = true;
    RTM_RUN run(o, 1);
    CDB_ATOM_NODE* out = run.find("d0_o");
    ASSERT_NE(out, nullptr);
    MORV_RTM& rtm = run.rtm();
    const double bwd = rtm.get_opt_skew()->get_bwd_mobility(out);
    MORV_RTM_REG_LIST list;
    rtm.add_candidate(&list, out, 200, true);
    rtm.add_candidate(&list, out, 300, true);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front()->m_type, MORV_RTM_REG_MAC_OUT);
    int moves = -1;
    const std::string warned = not_available_warnings_of([&] { moves = rtm.retime_registers(&list); });
    EXPECT_EQ(moves, 0);
    EXPECT_EQ(warned, "");
    EXPECT_EQ(rtm.get_outcome_counts().at(MORV_RTM_UNRETIMEABLE_MAC_OUT), 2);
    EXPECT_DOUBLE_EQ(rtm.get_opt_skew()->get_bwd_mobility(out), bwd * 0.2 * 0.2);
}

TEST(RtmEngineCandidates, IterationWithNothingToMoveReturnsZero)
{
    RTM_RUN run(build_wires());
    MORV_RTM_REG_LIST list;
    EXPECT_EQ(run.rtm().retime_registers(&list), 0);
    EXPECT_EQ(run.rtm().run_demux_and_split(), 0);
}

}  // namespace

namespace {

TEST(RtmEngineParameters, DefaultsFillOnlyWhatTheStringLeftUnset)
{
    RTM_RUN run(build_wires());
    MORV_RTM& rtm = run.rtm();
    EXPECT_EQ(rtm.get_short_name(), "NEW_RTM");
    EXPECT_EQ(rtm.get_description(), "NEW register retiming");
    EXPECT_DOUBLE_EQ(rtm.get_slack_ratio_threshold(), 0.125);
    int passes = -1, icp = -1, restore = -1;
    double fom = -1.0;
    rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
    EXPECT_EQ(passes, 4);
    EXPECT_EQ(icp, 1);
    EXPECT_DOUBLE_EQ(fom, 1e-10);
    EXPECT_EQ(restore, 1);
    passes = 2, icp = 0, restore = 0, fom = 0.5;
    rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(icp, 0);
    EXPECT_DOUBLE_EQ(fom, 0.5);
    EXPECT_EQ(restore, 0);
    const int expected[3][2] = {{16, 8}, {48, 8}, {16, 2}};
    for (int pass = 0; pass < 3; ++pass) {
        int iters = -1, climb = -1;
        rtm.set_default_pass_parameters(pass, iters, climb);
        EXPECT_EQ(iters, expected[pass][0]) << pass;
        EXPECT_EQ(climb, expected[pass][1]) << pass;
    }
    int iters = 5, climb = 0;
    rtm.set_default_pass_parameters(1, iters, climb);
    EXPECT_EQ(iters, 5);
    EXPECT_EQ(climb, 0);
}

}  // namespace

}  // namespace rtm_engine_test
