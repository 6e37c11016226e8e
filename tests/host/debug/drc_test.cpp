// The netlist checks around a flow: a reference taken on a small design with
// a clock-domain crossing, one forbidden edit made between the two steps,
// and the counters the verification ends with.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "../dup/dup_test_run.h"
#include "cfg/cfg.h"
#include "dsp_gen.h"
#include "io/blif_reader.h"
#include "log_capture.h"

#include "morv/debug/morv_drc.h"
#include "morv/debug/morv_drc_snapshot.h"
#include "morv/netlist/morv_nt.h"

namespace drc_test {

namespace {

const char* const FLOW = "LATE";

// Two clock domains: ra (clock A) feeds rb (clock B) directly, rb feeds rc
// (clock B): a trivial synchronizer of two stages. rb's clear comes from a
// LUT, which therefore must not be touched.
FIXTURE_NETLIST crossing_design()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* x = f.input("x");
    CDB_ATOM_OTERM* y = f.input("y");
    CDB_ATOM_OTERM* clk_a = f.input("clka");
    CDB_ATOM_OTERM* clk_b = f.input("clkb");
    CDB_ATOM_OTERM* clr = f.lut("clr", {x, y}, 0x8);
    CDB_ATOM_OTERM* ra = f.reg("ra", a, clk_a);
    CDB_ATOM_OTERM* rb = f.reg("rb", ra, clk_b, nullptr, clr);
    CDB_ATOM_OTERM* rc = f.reg("rc", rb, clk_b);
    f.output("o", rc);
    return f;
}

class DRC_TEST : public ::testing::Test
{
protected:
    DRC_TEST() : m_fixture(crossing_design()), m_run(m_fixture) {}

    CDB_ATOM_NODE* find(const char* name) { return m_run.find(name); }
    CDB_ATOM_OTERM* out(const char* name, int port) { return find(name)->get_output_term_by_type(port); }
    // A register of clock B reading d, clear from the clr LUT.
    CDB_ATOM_NODE* add_register(const char* name, CDB_ATOM_OTERM* d, bool with_clear)
    {
        CDB_ATOM_NETLIST& netlist = m_run.netlist();
        CDB_ATOM_NODE* r =
            cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_REGISTER, netlist.get_name_mgr()->create_unique_name(name, 0));
        netlist.add_node(r);
        d->insert_fanout(r->add_input_term(DB_DATAIN));
        out("clkb", DB_DATA_OUT)->insert_fanout(r->add_input_term(DB_CLOCK));
        if (with_clear) out("clr", DB_COMB_OUT)->insert_fanout(r->add_input_term(DB_CLEAR));
        return r;
    }
    // The fixture gave its netlist away: output pins made here.
    void add_output(const char* name, CDB_ATOM_OTERM* driver)
    {
        CDB_ATOM_NETLIST& netlist = m_run.netlist();
        CDB_ATOM_NODE* pin = cdb_create_output_pin(
            CDB_FAMILY_BRK, netlist.get_name_mgr()->create_unique_name(std::string(name) + BLIF_OUTPUT_PIN_SUFFIX, 0));
        netlist.add_node(pin);
        driver->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
    }
    // The verification: true when it failed with the checks' internal error.
    bool verify_fails()
    {
        try {
            morv_drc_verify(m_run.api(), FLOW);
        } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
            EXPECT_EQ(e.get_condition(), "counts[MORV_DRC_VERIFY_TOTAL_ERRORS] == 0");
            return true;
        }
        return false;
    }
    const MORV_DRC_COUNTS& counts() { return morv_drc_last_counts(); }
    // Only the named counter and its total are raised, by one.
    void expect_only(int counter, int total)
    {
        for (int c = 0; c < MORV_DRC_COUNTER_COUNT; ++c)
            EXPECT_EQ(counts()[c], c == counter || c == total ? 1u : 0u) << "counter " << c;
    }

    FIXTURE_NETLIST m_fixture;
    DUP_RUN m_run;
};

MORV_NT_NODE_ID id_of(const CDB_ATOM_NODE* node)
{
    return MORV_NT_NODE_ID(static_cast<int>(node->get_id()));
}

}  // namespace

// ---------------------------------------------------------------- the snapshot

TEST(DrcSnapshot, ClassifiesSynchronizersAndMarksTheAsyncFanIn)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* x = f.input("x");
    CDB_ATOM_OTERM* clk_a = f.input("clka");
    CDB_ATOM_OTERM* clk_b = f.input("clkb");
    CDB_ATOM_OTERM* ra = f.reg("ra", a, clk_a);
    CDB_ATOM_OTERM* rs = f.reg("rs", a, clk_a);
    CDB_ATOM_OTERM* rt = f.reg("rt", a, clk_a);
    CDB_ATOM_OTERM* clr = f.lut("clr", {x}, 0x1);
    // Trivial: ra straight into rb; rb's one fanout continues the chain.
    CDB_ATOM_OTERM* rb = f.reg("rb", ra, clk_b, nullptr, clr);
    CDB_ATOM_OTERM* rb2 = f.reg("rb2", rb, clk_b);
    f.output("o1", rb2);
    // Non-reconvergent: rs through one LUT (with another input) into rd.
    f.output("o2", f.reg("rd", f.lut("l", {rs, x}, 0x6), clk_b));
    // Reconvergent: rt reaches re by two routes.
    CDB_ATOM_OTERM* p = f.lut("p", {rt, x}, 0x8);
    CDB_ATOM_OTERM* q = f.lut("q", {rt, x}, 0xe);
    f.output("o3", f.reg("re", f.lut("m", {p, q}, 0x6), clk_b));
    DUP_RUN run(f);

    MORV_DRC_SYNCHRONIZER_REGISTRY registry;
    const MORV_DRC_LOG log(1);
    const MORV_DRC_INST_SET snapshot(&run.netlist(), run.api()->get_fsyn_net_util(), &registry, log);
    auto pair_of = [&](const MORV_DRC_SYNCHRONIZER& s) {
        return run.netlist().get_node_by_id(s.m_source.m_atom_id)->get_instance_name()->get_short_hpath() + "->" +
               run.netlist().get_node_by_id(s.m_dest.m_atom_id)->get_instance_name()->get_short_hpath();
    };
    ASSERT_EQ(registry.get(MORV_DRC_TRIVIAL).size(), 1u);
    ASSERT_EQ(registry.get(MORV_DRC_NON_RECONVERGENT).size(), 1u);
    ASSERT_EQ(registry.get(MORV_DRC_RECONVERGENT).size(), 1u);
    const MORV_DRC_SYNCHRONIZER& trivial = *registry.get(MORV_DRC_TRIVIAL).begin();
    EXPECT_EQ(pair_of(trivial), "ra->rb");
    EXPECT_EQ(trivial.m_stages, 2);
    EXPECT_EQ(pair_of(*registry.get(MORV_DRC_NON_RECONVERGENT).begin()), "rs->rd");
    EXPECT_EQ(pair_of(*registry.get(MORV_DRC_RECONVERGENT).begin()), "rt->re");

    // Only the clear's LUT lies in an asynchronous fan-in; every mark is cleared.
    for (const auto& [id, node] : snapshot.get_nodes()) {
        const std::string name = run.netlist().get_node_by_id(id.m_atom_id)->get_instance_name()->get_short_hpath();
        EXPECT_EQ(node.m_dont_touch, name == "clr") << name;
        EXPECT_EQ(node.m_mark, MORV_DRC_MARK_NONE) << name;
    }
    const MORV_DRC_NODE* rb_node = snapshot.find(id_of(run.find("rb")));
    ASSERT_NE(rb_node, nullptr);
    EXPECT_TRUE(rb_node->m_chain_member);
    ASSERT_TRUE(rb_node->m_clock.has_value());
    EXPECT_EQ(rb_node->m_clock->m_id, id_of(run.find("clkb")));
    EXPECT_EQ(rb_node->m_inbound.size(), 2u);  // data and clear; the clock gives the colour
}

TEST(DrcSnapshot, WireCellsAndAsyncPortTypes)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* b = f.input("b");
    CDB_ATOM_OTERM* clk = f.input("clk");
    f.output("o1", f.lut("wire", {a}, 0x2));
    f.output("o2", f.lut("inv", {a}, 0x1));
    f.output("o3", f.lut("and", {a, b}, 0x8));
    f.output("o4", f.reg("plain", a, clk, nullptr, b));
    f.output("o5", f.reg("enabled", a, clk, b));
    const MORV_DRC_LOG log(1);
    const MORV_NET_UTIL* util = nullptr;
    DUP_RUN run(f);
    util = run.api()->get_fsyn_net_util();
    EXPECT_TRUE(morv_drc_is_wire_lut(run.find("wire"), util, log));
    EXPECT_TRUE(morv_drc_is_wire_lut(run.find("inv"), util, log));  // any function of the one input
    EXPECT_FALSE(morv_drc_is_wire_lut(run.find("and"), util, log));
    EXPECT_TRUE(morv_drc_is_wire_register(run.find("plain"), log));  // a clear does not count
    EXPECT_FALSE(morv_drc_is_wire_register(run.find("enabled"), log));
    EXPECT_FALSE(morv_drc_is_wire_register(run.find("wire"), log));

    int count = 0;
    for (int port = 0; port < 600; ++port) count += morv_drc_is_async_port(port) ? 1 : 0;
    EXPECT_EQ(count, 197);
    EXPECT_TRUE(morv_drc_is_async_port(DB_CLEAR));
    EXPECT_TRUE(morv_drc_is_async_port(DB_ASYNCH_LOAD));
    EXPECT_FALSE(morv_drc_is_async_port(DB_CLOCK_ENABLE));
    EXPECT_FALSE(morv_drc_is_async_port(DB_DATAIN));
}

// A DSP block's register stages are nodes of their own: the operand
// registers of the multiplier hold the operands and the clear, the output
// register of the output block (on a second clock here) drives the block's
// sinks, so the crossings behind it start at that stage.
TEST(DrcSnapshot, DspRegisterStagesAreNodesWithTheirClocksAndClears)
{
    DSP_GEN_OPTIONS o;
    o.m_mults = 1;
    o.m_packed_inputs = true;
    o.m_external_inputs = false;
    o.m_packed_output = true;
    o.m_output_clock_slot = 1;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = dsp_generate(o);
    CDB_ATOM_NODE* clk2 =
        cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_IO, netlist->get_name_mgr()->create_unique_name("clk2", 0));
    netlist->add_node(clk2);
    CDB_ATOM_OTERM* clk2_out = clk2->add_output_term(DB_DATA_OUT, clk2->get_instance_name());
    DUP_RUN run(CDB_FAMILY_BRK, std::move(netlist), LATE_FSYN_FLOW);
    CDB_ATOM_NODE* mult = run.find("d_m0");
    CDB_ATOM_NODE* out = run.find("d_o");
    ASSERT_TRUE(mult && out);
    CDB_ATOM_ITERM* out_clock = out->get_input_term_by_type(DB_CLOCK, 1);
    ASSERT_NE(out_clock, nullptr);
    out_clock->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    clk2_out->insert_fanout(out_clock);

    MORV_DRC_SYNCHRONIZER_REGISTRY registry;
    const MORV_DRC_LOG log(1);
    const MORV_DRC_INST_SET snapshot(&run.netlist(), run.api()->get_fsyn_net_util(), &registry, log);
    const MORV_NT_NODE_ID stage_a(id_of(mult).m_atom_id, MORV_NT_NODE_ID::PACKED_INPUT_REG_A);
    const MORV_NT_NODE_ID stage_b(id_of(mult).m_atom_id, MORV_NT_NODE_ID::PACKED_INPUT_REG_B);
    const MORV_NT_NODE_ID stage_out(id_of(out).m_atom_id, MORV_NT_NODE_ID::PACKED_OUTPUT_REG);
    const MORV_DRC_NODE* a = snapshot.find(stage_a);
    const MORV_DRC_NODE* b = snapshot.find(stage_b);
    const MORV_DRC_NODE* q = snapshot.find(stage_out);
    const MORV_DRC_NODE* block = snapshot.find(id_of(mult));
    ASSERT_TRUE(a && b && q && block);
    ASSERT_TRUE(a->m_clock && b->m_clock && q->m_clock);
    EXPECT_EQ(a->m_clock->m_id, id_of(run.find("clk")));
    EXPECT_EQ(b->m_clock->m_id, id_of(run.find("clk")));
    EXPECT_EQ(q->m_clock->m_id, id_of(clk2));
    // Operand A's four bits and the clear, the clear as a register's own.
    int operands = 0, clears = 0;
    for (const auto& [dest, inbound] : a->m_inbound) {
        operands += dest.m_port_type == DB_DATA_A ? 1 : 0;
        clears += dest.m_port_type == DB_CLEAR && dest.m_index == 0 && inbound.m_async ? 1 : 0;
    }
    EXPECT_EQ(operands, o.m_width_a);
    EXPECT_EQ(clears, 1);
    // The block keeps neither; it reads its two stages.
    int internal = 0;
    for (const auto& [dest, inbound] : block->m_inbound) {
        EXPECT_NE(dest.m_port_type, DB_DATA_A);
        EXPECT_NE(dest.m_port_type, DB_CLEAR);
        if (dest.m_port_type != MORV_DRC_INTERNAL_MAC_PORT) continue;
        ++internal;
        EXPECT_TRUE(inbound.m_source.m_id == stage_a || inbound.m_source.m_id == stage_b) << inbound;
        std::ostringstream text;
        text << inbound;
        EXPECT_NE(text.str().find("usage INTERNAL MAC CONNECTION"), std::string::npos) << text.str();
    }
    EXPECT_EQ(internal, 2);
    // The clk registers behind the block's logic read the clk2 output stage.
    size_t crossings = 0;
    for (int c = 0; c < MORV_DRC_CLASS_COUNT; ++c)
        for (const MORV_DRC_SYNCHRONIZER& sync : registry.get(c)) {
            if (!(sync.m_colour.m_id == id_of(run.find("clk")))) continue;
            EXPECT_EQ(sync.m_source, stage_out);
            const std::string dest =
                run.netlist().get_node_by_id(sync.m_dest.m_atom_id)->get_instance_name()->get_short_hpath();
            EXPECT_EQ(dest.rfind("rq", 0), 0u) << dest;
            ++crossings;
        }
    EXPECT_GT(crossings, 0u);
}

// ---------------------------------------------------------------- the two steps

TEST_F(DRC_TEST, AnUntouchedNetlistPasses)
{
    morv_drc_reference(m_run.api(), FLOW);
    EXPECT_FALSE(verify_fails());
    for (int c = 0; c < MORV_DRC_COUNTER_COUNT; ++c) EXPECT_EQ(counts()[c], 0u);
}

TEST_F(DRC_TEST, ALutBetweenTheSynchronizerRegistersIsAReclassification)
{
    morv_drc_reference(m_run.api(), FLOW);
    CDB_ATOM_NETLIST& netlist = m_run.netlist();
    CDB_ATOM_NODE* w =
        cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, netlist.get_name_mgr()->create_unique_name("w", 0));
    netlist.add_node(w);
    out("ra", DB_REG_OUT)->insert_fanout(w->add_input_term(DB_DATA_A));
    w->set_lutmask(blif_family_lutmask(CDB_FAMILY_BRK, 1, 0x2));
    w->add_output_term(DB_COMB_OUT, w->get_instance_name())
        ->insert_fanout(find("rb")->get_input_term_by_type(DB_DATAIN));
    EXPECT_TRUE(verify_fails());
    expect_only(MORV_DRC_SYNC_RECLASSIFICATION_ERRORS, MORV_DRC_VERIFY_TOTAL_ERRORS);
}

TEST_F(DRC_TEST, ARewiredAsyncInputIsAMismatch)
{
    morv_drc_reference(m_run.api(), FLOW);
    out("x", DB_DATA_OUT)->insert_fanout(find("rb")->get_input_term_by_type(DB_CLEAR));
    EXPECT_TRUE(verify_fails());
    expect_only(MORV_DRC_MISMATCHED_ITERM_ERRORS, MORV_DRC_VERIFY_TOTAL_ERRORS);
}

TEST_F(DRC_TEST, ALostAsyncInputIsMissing)
{
    morv_drc_reference(m_run.api(), FLOW);
    CDB_ATOM_NODE* rb = find("rb");
    CDB_ATOM_ITERM* clear = rb->get_input_term_by_type(DB_CLEAR);
    clear->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    rb->delete_input_term(clear);
    EXPECT_TRUE(verify_fails());
    expect_only(MORV_DRC_MISSING_ITERM_ERRORS, MORV_DRC_VERIFY_TOTAL_ERRORS);
}

TEST_F(DRC_TEST, AnAddedGlobalSignalIsAnError)
{
    morv_drc_reference(m_run.api(), FLOW);
    find("rc")->get_input_term_by_type(DB_CLOCK)->set_global(1);
    EXPECT_TRUE(verify_fails());
    expect_only(MORV_DRC_GLOBAL_COUNT_ERRORS, MORV_DRC_VERIFY_TOTAL_ERRORS);
}

TEST_F(DRC_TEST, ADeletedAsyncAtomIsOnlyAWarning)
{
    morv_drc_reference(m_run.api(), FLOW);
    m_run.api()->delete_node(find("rb"));
    EXPECT_FALSE(verify_fails());
    expect_only(MORV_DRC_NODE_DELETION_WARNINGS, MORV_DRC_VERIFY_TOTAL_WARNINGS);
}

TEST_F(DRC_TEST, TrackingADontTouchNodeIsAnError)
{
    morv_drc_reference(m_run.api(), FLOW);
    CDB_ATOM_NODE* clr = find("clr");
    m_run.api()->get_fsyn_nt()->record_operation(id_of(clr), id_of(clr), MORV_NT_TYPE_REUSE, "test");
    EXPECT_TRUE(verify_fails());
    expect_only(MORV_DRC_TRACKED_DONT_TOUCH_ERRORS, MORV_DRC_VERIFY_TOTAL_ERRORS);
}

// Node tracking said so in an earlier flow: this flow did not touch it.
TEST_F(DRC_TEST, AnEarlierFlowsTrackingDoesNotCount)
{
    CDB_ATOM_NODE* clr = find("clr");
    m_run.api()->get_fsyn_nt()->record_operation(id_of(clr), id_of(clr), MORV_NT_TYPE_REUSE, "earlier");
    morv_drc_reference(m_run.api(), FLOW);
    EXPECT_FALSE(verify_fails());
    EXPECT_EQ(counts()[MORV_DRC_VERIFY_TOTAL_ERRORS], 0u);
}

TEST_F(DRC_TEST, ARetimedRegisterIsComparedWithBothCopies)
{
    morv_drc_reference(m_run.api(), FLOW);
    CDB_ATOM_NODE* rb = find("rb");
    CDB_ATOM_NODE* rb1 = add_register("rb1", out("ra", DB_REG_OUT), true);
    CDB_ATOM_NODE* rb2 = add_register("rb2", out("ra", DB_REG_OUT), false);
    CDB_ATOM_NODE* rc2 = add_register("rc2", rb2->add_output_term(DB_REG_OUT, rb2->get_instance_name()), false);
    add_output("o2", rc2->add_output_term(DB_REG_OUT, rc2->get_instance_name()));
    rb1->add_output_term(DB_REG_OUT, rb1->get_instance_name())->adopt_fanouts(rb->get_output_term_by_type(DB_REG_OUT));
    MORV_NT_NODE_ID_LIST copies{id_of(rb1), id_of(rb2)};
    m_run.api()->get_fsyn_nt()->record_operation_to_many(id_of(rb), &copies, MORV_NT_TYPE_SPLIT, "test");
    m_run.api()->delete_node(rb);
    // rb2 lost the clear rb had; rb1 kept it.
    EXPECT_TRUE(verify_fails());
    expect_only(MORV_DRC_MISSING_ITERM_ERRORS, MORV_DRC_VERIFY_TOTAL_ERRORS);
}

// A synchronizer that kept its class but lost a stage is weaker; the
// comparison is with the same pair in the new netlist.
TEST_F(DRC_TEST, ASynchronizerThatLostAStageIsWeakened)
{
    morv_drc_reference(m_run.api(), FLOW);
    add_output("probe", out("rb", DB_REG_OUT));  // rb no longer feeds only rc
    EXPECT_FALSE(verify_fails());
    expect_only(MORV_DRC_SYNC_WEAKENING_WARNINGS, MORV_DRC_VERIFY_TOTAL_WARNINGS);
}

TEST_F(DRC_TEST, TrackingFilesOnlyWithTheirSwitch)
{
    const char* const files[] = {"fsyn_drc_tracking_PRE_LATE.txt", "fsyn_drc_tracking_REF_LATE.txt",
                                 "fsyn_drc_tracking_POST_LATE.txt"};
    for (const char* name : files) std::remove(name);
    morv_drc_reference(m_run.api(), FLOW);
    EXPECT_FALSE(verify_fails());
    for (const char* name : files) EXPECT_FALSE(std::ifstream(name).good()) << name;

    cfg_set_value("fsyn_dump_drc_tracking", "on");
    morv_drc_reference(m_run.api(), FLOW);
    EXPECT_FALSE(verify_fails());
    cfg_unset("fsyn_dump_drc_tracking");
    for (const char* name : files) {
        std::ifstream in(name);
        ASSERT_TRUE(in.good()) << name;
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_NE(text.str().find("1 trivial synchronizers:"), std::string::npos) << name;
        EXPECT_NE(text.str().find(" NODES:"), std::string::npos) << name;
        std::remove(name);
    }
}

TEST_F(DRC_TEST, VerificationWithoutAReferenceIsAnInternalError)
{
    EXPECT_THROW(morv_drc_verify(m_run.api(), FLOW), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(DrcFamilies, UvoOnlySaysItIsNotSupported)
{
    FIXTURE_NETLIST f(CDB_FAMILY_UVO);
    f.output("o", f.input("a"));
    DUP_RUN run(f, LATE_FSYN_FLOW);
    MORV_LOG_CAPTURE capture(0);
    morv_drc_reference(run.api(), FLOW);
    run.find(std::string("o") + BLIF_OUTPUT_PIN_SUFFIX)
        ->get_input_term_by_type(DB_DATAIN)
        ->set_global(1);  // would fail a supported family
    EXPECT_NO_THROW(morv_drc_verify(run.api(), FLOW));
    const std::vector<std::string> lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "***** DRC: DOES NOT SUPPORT FAMILY UVO *****");
    EXPECT_EQ(lines[1], lines[0]);
}

TEST(DrcCounts, TotalsFollowTheirCountersAndPrintLast)
{
    MORV_DRC_COUNTS counts;
    counts.add(MORV_DRC_MISSING_ITERM_ERRORS, 2);
    counts.add(MORV_DRC_GLOBAL_COUNT_ERRORS, 1);
    counts.add(MORV_DRC_NODE_DELETION_WARNINGS, 3);
    counts.add(MORV_DRC_SYNC_WEAKENING_WARNINGS, 1);
    EXPECT_EQ(counts[MORV_DRC_VERIFY_TOTAL_ERRORS], 3u);
    EXPECT_EQ(counts[MORV_DRC_VERIFY_TOTAL_WARNINGS], 4u);
    std::ostringstream text;
    text << counts;
    EXPECT_EQ(text.str(), "0 tracked don't-touch node error\n2 missing iterm error\n0 mismatched iterm error\n"
                          "0 synchronizer reclassification error\n1 global count error\n3 node deletion warning\n"
                          "1 synchronizer weakening warning\n\n3 total error\n4 total warning\n");
}

}  // namespace drc_test
