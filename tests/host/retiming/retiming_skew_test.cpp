// The skew-driven loop of classic retiming (SKEW_RTM=1). With candidates a
// test chooses (node, skew, critical): the heap's order, the skew threshold
// at its boundary, the direction by the skew's sign, the refusals, the
// mobility a failed move costs, and the count an iteration reports when it
// shortens shift registers. With the optimal skews of the timing object's
// own analysis: passes on generated and small designs through the test
// leaves, proved equivalent from the all-zero state.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "io/blif_reader.h"

#include "log_capture.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "morv/timing/morv_opt_skew.h"
#include "retiming_4lut_test_leaf.h"
#include "retiming_6lut_test_leaf.h"
#include "retiming_ref_leaf.h"
#include "retiming_seq_run.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"

// The start of a skew computation without its passes: skews sized for the
// netlist and, in the families with RAM-based shift registers, the
// shift-register manager made and initialised.
struct MORV_OPT_SKEW_PROBE
{
    static void start(MORV_OPT_SKEW& skews) { skews.start_computation(); }
};

namespace retiming_skew_test {

namespace {

using namespace morv_host;

struct SCRIPTED_CANDIDATE
{
    CDB_ATOM_NODE* node;
    int skew;
    bool critical;
};

// A leaf whose iterations take the candidates the test scripts instead of
// the optimal skews (while a script is set).
template <typename BASE>
class SKEW_LEAF : public BASE
{
public:
    using BASE::BASE;
    void script(std::vector<SCRIPTED_CANDIDATE> candidates)
    {
        m_candidates = std::move(candidates);
        m_scripted = true;
    }
    // Called with the iteration's fresh shift-register manager.
    std::function<void(MORV_SHIFT_REG_MANAGER&)> m_on_manager;
    bool is_queued_for_demux(CDB_ATOM_NODE* node) const { return this->m_demux_queue.contains(node); }
    void set_direction(bool backward) { this->m_retime_backwards = backward; }
    void set_iteration(int iteration) { this->m_curr_iter = iteration; }

protected:
    void compute_skew_candidates() override
    {
        if (!m_scripted) {
            BASE::compute_skew_candidates();
            return;
        }
        MORV_OPT_SKEW* skews = this->get_opt_skew();
        MORV_OPT_SKEW_PROBE::start(*skews);
        if (m_on_manager && skews->get_shift_reg_manager() != nullptr) {
            m_on_manager(*skews->get_shift_reg_manager());
            skews->get_shift_reg_manager()->initialize();
        }
        MORV_OPT_SKEW::CANDIDATE_HEAP& heap = skews->get_candidate_heap();
        while (!heap.empty()) heap.pop();
        for (const SCRIPTED_CANDIDATE& c : m_candidates)
            heap.push({c.node, c.skew, c.node->is_ram() ? 1 : 0, c.critical});
    }

private:
    std::vector<SCRIPTED_CANDIDATE> m_candidates;
    bool m_scripted = false;
};

using REF_SKEW_LEAF = SKEW_LEAF<RETIMING_REF_LEAF>;

// A netlist under the reference leaf in skew mode, unit-delay slacks
// scripted before every iteration.
class SKEW_RUN : public RETIMING_SEQ_RUN<REF_SKEW_LEAF>
{
public:
    SKEW_RUN(const char* blif, const std::string& params = "SKEW_RTM=1:NO_LB=1")
        : RETIMING_SEQ_RUN(CDB_FAMILY_BRK, BLIF_READER(CDB_FAMILY_BRK).read_text(blif, "skew.blif"), params)
    {
        leaf().set_srt(0.1);
    }
    CDB_ATOM_NODE* node(const char* name)
    {
        CDB_ATOM_NODE* n = seq_find(netlist(), name);
        EXPECT_NE(n, nullptr) << name;
        return n;
    }
    // One backward-pass iteration with these candidates; its modifications.
    int iterate(std::vector<SCRIPTED_CANDIDATE> candidates)
    {
        leaf().script(std::move(candidates));
        const int before = iterations();
        run_pass(0, 1);
        EXPECT_EQ(iterations(), before + 1);
        return last_modifications();
    }
    double bwd(const char* name) { return leaf().get_opt_skew()->get_bwd_mobility(node(name)); }
    double fwd(const char* name) { return leaf().get_opt_skew()->get_fwd_mobility(node(name)); }
    // The node driving the named node's input term.
    std::string driver_of(const char* name, int port)
    {
        CDB_ATOM_ITERM* t = node(name)->get_input_term_by_type(port);
        if (t == nullptr || t->get_source() == nullptr) return "";
        CDB_ATOM_NODE* d = t->get_source()->get_my_node();
        if (d->is_register()) return "register";
        return d->get_instance_name() != nullptr ? d->get_instance_name()->get_short_hpath() : "?";
    }
    // The named cell's output feeds a register.
    bool feeds_register(const char* name)
    {
        CDB_ATOM_OTERM* out = node(name)->get_output_term_by_type(DB_COMB_OUT);
        for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
            if ((*it)->get_my_node()->is_register()) return true;
        return false;
    }
};

// Two stages of two LUT levels each, both critical:
// ra, rb -> l1 -> l2 -> r1 -> l3 -> o, with rc into l2 and rd into l3.
// Backward, r1 crosses l2; forward, r1 and rd cross l3. rq -> rq2 is a
// register feeding a register.
const char* k_two_stages = R"(.model two
.inputs clk a b c d
.outputs o q
.latch a ra re clk 0
.latch b rb re clk 0
.latch c rc re clk 0
.latch d rd re clk 0
.names ra rb l1
11 1
.names l1 rc l2
10 1
01 1
.latch l2 r1 re clk 0
.names r1 rd l3
11 1
.names l3 a o
10 1
01 1
.latch c rq re clk 0
.latch rq rq2 re clk 0
.names rq2 q
1 1
.end
)";

// Three LUT levels into r1, one out of it.
const char* k_three_one = R"(.model p31
.inputs clk a b c d e
.outputs o
.names a b l1
11 1
.names l1 c l2
10 1
01 1
.names l2 d l3
00 0
.latch l3 r1 re clk 0
.names r1 e l4
10 1
01 1
.latch l4 r2 re clk 0
.names r2 o
1 1
.end
)";

int count_lines_starting(const std::vector<std::string>& lines, const std::string& prefix)
{
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

}  // namespace

TEST(RetimingSkewLoop, CandidatesComeLargestSkewFirstAndOnlyFromTheThresholdOn)
{
    SKEW_RUN run(k_two_stages);
    MORV_LOG_CAPTURE log(100);
    // Given in no particular order; the heap puts the largest |skew| on top.
    run.iterate({{run.node("rq"), 99, true},
                 {run.node("rd"), -100, false},
                 {run.node("rb"), 450, true},
                 {run.node("ra"), -99, true},
                 {run.node("rq2"), 100, true},
                 {run.node("rc"), -700, false}});
    std::vector<std::string> popped;
    for (const std::string& line : log.lines())
        if (line.rfind("   NODE <", 0) == 0) popped.push_back(line.substr(0, line.find(" B_MOBILITY")));
    auto entry = [&](const char* name, int skew) {
        return "   NODE <" + std::to_string(run.node(name)->get_id()) + "> SKEW <" + std::to_string(skew) + ">";
    };
    const std::vector<std::string> expected = {entry("rc", -700), entry("rb", 450), entry("rq2", 100),
                                               entry("rd", -100), entry("rq", 99),  entry("ra", -99)};
    // Equal sizes leave the larger atom id on top.
    std::vector<std::string> want = expected;
    if (run.node("rq2")->get_id() < run.node("rd")->get_id()) std::swap(want[2], want[3]);
    if (run.node("rq")->get_id() < run.node("ra")->get_id()) std::swap(want[4], want[5]);
    EXPECT_EQ(popped, want);
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_lines_starting(lines, "Skew too little. Not retiming."), 2);
    EXPECT_EQ(count_lines_starting(lines, "Node non critical. Not retiming."), 2);
    // 99 and -99 stay untried: their mobilities are untouched. 100 is tried
    // (rq2's data comes from a register, so the move fails).
    EXPECT_DOUBLE_EQ(run.bwd("rq"), 1.0);
    EXPECT_DOUBLE_EQ(run.fwd("ra"), 1.0);
    EXPECT_DOUBLE_EQ(run.bwd("rq2"), 0.2);
    EXPECT_DOUBLE_EQ(run.fwd("rd"), 1.0);
    EXPECT_DOUBLE_EQ(run.fwd("rc"), 1.0);
}

TEST(RetimingSkewLoop, OnlyThePassesFirstGreedyIterationsRunASinglePassOfTheAnalysis)
{
    // The analysis logs one line per pass of its first phase.
    auto analysis_passes = [](int iteration) {
        RETIMING_SEQ_RUN<REF_SKEW_LEAF> run(CDB_FAMILY_BRK,
                                            BLIF_READER(CDB_FAMILY_BRK).read_text(k_three_one, "greedy.blif"),
                                            "SKEW_RTM=1:NO_LB=1:GI=1", RETIMING_SLACK_SCRIPT{});
        place_every_node(run.api(), run.netlist());
        run.leaf().set_iteration(iteration);
        MORV_LOG_CAPTURE log(1);
        run.run_pass(0, 1);
        int passes = 0;
        for (const std::string& line : log.lines())
            passes += line.find("pass=") != std::string::npos && line.find("clock_off") != std::string::npos;
        return passes;
    };
    EXPECT_EQ(analysis_passes(0), 1);
    EXPECT_GT(analysis_passes(1), 1);
}

TEST(RetimingSkewLoop, AtTheThresholdARegisterMovesAndBelowItStays)
{
    // Backward: 99 leaves r1 where it is, 100 moves it across l3 (a push,
    // and r1 deleted once nothing reads it).
    SKEW_RUN back(k_three_one);
    EXPECT_EQ(back.iterate({{back.node("r1"), 99, true}}), 0);
    EXPECT_EQ(deepest_lut_path(back.netlist()), 3);
    EXPECT_EQ(back.iterate({{back.node("r1"), 100, true}}), 2);
    EXPECT_EQ(deepest_lut_path(back.netlist()), 2);
    EXPECT_EQ(back.retimed_notes(), 1);

    // Forward: -99 leaves ra and rb in front of l1, -100 moves them past it.
    SKEW_RUN fwd(k_two_stages);
    EXPECT_EQ(fwd.iterate({{fwd.node("ra"), -99, true}}), 0);
    EXPECT_EQ(fwd.driver_of("l2", DB_DATA_A), "l1");
    EXPECT_GE(fwd.iterate({{fwd.node("ra"), -100, true}}), 1);
    EXPECT_EQ(fwd.driver_of("l2", DB_DATA_A), "register");

    // A threshold of 0 takes a skew of 0, backward.
    SKEW_RUN zero(k_three_one, "SKEW_RTM=1:NO_LB=1:STHR=0");
    EXPECT_EQ(zero.iterate({{zero.node("r1"), 0, true}}), 2);
    EXPECT_EQ(deepest_lut_path(zero.netlist()), 2);
}

TEST(RetimingSkewLoop, TheSignOfTheSkewChoosesTheDirection)
{
    auto read = [] { return BLIF_READER(CDB_FAMILY_BRK).read_text(k_two_stages, "two.blif"); };
    std::unique_ptr<CDB_ATOM_NETLIST> before = read();
    // A later clock: r1 goes back across l2, which then drives l3 itself.
    SKEW_RUN later(k_two_stages);
    EXPECT_EQ(later.iterate({{later.node("r1"), 300, true}}), 2);  // the push, and r1 deleted
    EXPECT_EQ(later.driver_of("l3", DB_DATA_A), "l2");
    EXPECT_FALSE(later.feeds_register("l3"));
    // An earlier clock: r1 and rd go forward across l3, which then reads l2.
    SKEW_RUN earlier(k_two_stages);
    EXPECT_GE(earlier.iterate({{earlier.node("r1"), -300, true}}), 1);
    EXPECT_EQ(earlier.driver_of("l3", DB_DATA_A), "l2");
    EXPECT_TRUE(earlier.feeds_register("l3"));
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (SKEW_RUN* run : {&later, &earlier}) {
        const SEQ_VERDICT v = seq_check(*before, run->netlist(), "skew_direction", true);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

TEST(RetimingSkewLoop, RefusedAndFailedMovesCostMobilityInTheirDirection)
{
    SKEW_RUN run(k_two_stages);
    MORV_LOG_CAPTURE log(100);
    // rb's data comes from a pin, rq's fanout is a register: neither is a
    // combinational node. Not critical: r1 is left alone altogether.
    EXPECT_EQ(run.iterate({{run.node("rb"), 300, true}, {run.node("rq"), -300, true}, {run.node("r1"), 300, false}}),
              0);
    EXPECT_EQ(count_lines_starting(log.lines(), "Not a combinational node or mac"), 2);
    EXPECT_DOUBLE_EQ(run.bwd("rb"), 0.2);
    EXPECT_DOUBLE_EQ(run.fwd("rb"), 1.0);
    EXPECT_DOUBLE_EQ(run.fwd("rq"), 0.2);
    EXPECT_DOUBLE_EQ(run.bwd("rq"), 1.0);
    EXPECT_DOUBLE_EQ(run.bwd("r1"), 1.0);
    EXPECT_EQ(run.driver_of("l3", DB_DATA_A), "register");
    // A second failure multiplies again.
    run.iterate({{run.node("rb"), 300, true}});
    EXPECT_DOUBLE_EQ(run.bwd("rb"), 0.04);

    // A cell off the critical set: l4 is one level behind r1 of three.
    SKEW_RUN p31(k_three_one);
    MORV_LOG_CAPTURE log31(100);
    EXPECT_EQ(p31.iterate({{p31.node("r1"), -300, true}}), 0);
    const std::string refusal = "Combinational node <" + std::to_string(p31.node("l4")->get_id()) + "> not critical";
    EXPECT_EQ(count_lines_starting(log31.lines(), refusal), 1);
    EXPECT_DOUBLE_EQ(p31.fwd("r1"), 0.2);
    EXPECT_EQ(deepest_lut_path(p31.netlist()), 3);
}

TEST(RetimingSkewLoop, AForwardMoveThatMovesCostsNoMobilityThoughAnotherFanoutIsRefused)
{
    // ra feeds l1 and a pin: the push across l1 moves it, the pin refuses.
    std::string blif(k_two_stages);
    blif.replace(blif.find(".outputs o q"), 12, ".outputs o q ra");
    SKEW_RUN run(blif.c_str());
    MORV_LOG_CAPTURE log(100);
    EXPECT_GE(run.iterate({{run.node("ra"), -300, true}}), 1);
    EXPECT_EQ(count_lines_starting(log.lines(), "Not a combinational node or mac"), 1);
    EXPECT_EQ(run.driver_of("l2", DB_DATA_A), "register");
    EXPECT_DOUBLE_EQ(run.fwd("ra"), 1.0);
}

TEST(RetimingSkewLoop, AFailedMoveOfASynchronouslyLoadedRegisterQueuesItForTheDemuxer)
{
    SKEW_RUN run(k_two_stages);
    ASSERT_TRUE(run.leaf().is_sload_demuxing());
    // rq gets a synchronous data input; its move fails (a register fanout).
    CDB_ATOM_NODE* rq = run.node("rq");
    MORV_CDB_INTERFACE* cdb = run.api()->get_fsyn_cdb_interface();
    CDB_ATOM_ITERM* sdata = rq->get_input_term_by_type(DB_SYNCH_DATA);
    if (sdata == nullptr) cdb->create_input_term(nullptr, sdata, rq, DB_SYNCH_DATA, 0);
    run.node("l1")->get_output_term_by_type(DB_COMB_OUT)->insert_fanout(sdata);
    CDB_ATOM_NODE* rb = run.node("rb");  // no synchronous data: not queued
    run.iterate({{rq, -300, true}, {rb, 300, true}});
    EXPECT_TRUE(run.leaf().is_queued_for_demux(rq));
    EXPECT_FALSE(run.leaf().is_queued_for_demux(rb));
    EXPECT_DOUBLE_EQ(run.fwd("rq"), 0.2);
}

// A shift-register shortening edits the netlist: the iteration that makes
// only shortenings still reports them, with the nodes the shortenings left
// unused, and the host hears of it.
TEST(RetimingSkewLoop, ShiftRegisterShorteningsAndTheirDeletionsCountAsModifications)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_OBRAN;
    o.m_rams = true;
    o.m_chains = false;
    RETIMING_SEQ_RUN<REF_SKEW_LEAF> run(CDB_FAMILY_OBRAN, seq_generate(o, 31), "SKEW_RTM=1:NO_LB=1");
    run.leaf().set_srt(0.1);
    CDB_ATOM_NODE* ram = seq_find(run.netlist(), "m0");
    ASSERT_NE(ram, nullptr);
    // A cell a shortening leaves without use.
    MORV_NET_UTIL* util = run.api()->get_fsyn_net_util();
    CDB_ATOM_NODE* spare = util->create_lcell_comb(ram);
    ASSERT_NE(spare, nullptr);
    run.api()->node_added(spare, ram, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    const uint32_t spare_id = spare->get_id();
    run.leaf().m_on_manager = [&](MORV_SHIFT_REG_MANAGER& manager) {
        manager.script_shift_register(ram, 5);
        manager.script_reduction({spare_id});
    };
    MORV_LOG_CAPTURE log(1);
    // Popped on both sides, twice each: one shortening per side.
    run.leaf().script({{ram, 400, true}, {ram, -300, true}, {ram, 200, true}, {ram, -100, true}});
    run.run_pass(0, 1);
    // Two shortenings, and one deletion: both queued the spare cell, which
    // is gone when the second entry comes up.
    EXPECT_EQ(run.last_modifications(), 3);
    EXPECT_EQ(run.retimed_notes(), 1);
    EXPECT_EQ(run.api()->get_node(static_cast<int>(spare_id)), nullptr);
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_lines_starting(lines, "Reducing shift register on input"), 2);
    EXPECT_EQ(count_lines_starting(lines, "Reducing shift register on output"), 2);
    // Every RAM candidate ends in the failure step.
    EXPECT_DOUBLE_EQ(run.leaf().get_opt_skew()->get_bwd_mobility(ram), 0.04);
    EXPECT_DOUBLE_EQ(run.leaf().get_opt_skew()->get_fwd_mobility(ram), 0.04);
}

namespace {

// The 6-LUT test leaf, counting its pushes and inverter cells.
class COUNTING_6LUT_LEAF : public TEST_RETIMING_6LUT_LEAF
{
public:
    using TEST_RETIMING_6LUT_LEAF::TEST_RETIMING_6LUT_LEAF;
    struct COUNTS
    {
        int pushes = 0;
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& c, bool& s) override
    {
        const bool ok = TEST_RETIMING_6LUT_LEAF::create_input_registers(node, reg, c, s);
        m_counts.pushes += ok ? 1 : 0;
        return ok;
    }
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& c, bool& s) override
    {
        const bool ok = TEST_RETIMING_6LUT_LEAF::create_output_registers(node, reg, c, s);
        m_counts.pushes += ok ? 1 : 0;
        return ok;
    }
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override
    {
        TEST_RETIMING_6LUT_LEAF::insert_inverter_lcell(iterm);
        ++m_counts.inverters;
    }

private:
    COUNTS m_counts;
};

struct SKEW_DESIGN
{
    std::string name;
    std::function<std::unique_ptr<CDB_ATOM_NETLIST>(int family)> make;
};

int generated_skew_count()
{
    if (const char* n = std::getenv("MORV_RTM_SKEW_NETLISTS")) return std::max(1, std::atoi(n));
    return k_small_designs_only ? 4 : 30;
}

std::vector<SKEW_DESIGN> skew_designs(int lut_size)
{
    std::vector<SKEW_DESIGN> cases;
    for (int k = 0; k < generated_skew_count(); ++k) {
        const uint64_t seed = 4300 + static_cast<uint64_t>(k);
        cases.push_back({"gen_" + std::to_string(seed), [seed](int family) {
                             SEQ_GEN_OPTIONS o;
                             o.m_family = family;
                             o.m_chains = false;
                             o.m_cells = 12 + static_cast<int>(seed % 9);
                             o.m_registers = 6 + static_cast<int>(seed % 5);
                             return seq_generate(o, seed);
                         }});
    }
    std::vector<std::string> files = {std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif"};
    if (lut_size == 6) files.push_back(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s27.blif");
    // The sanitizer build takes the smallest 4-input benchmark.
    if (lut_size == 4)
        files.push_back(std::string(MORV_BENCH_DIR) +
                        (k_small_designs_only ? "/mcnc_k4/tseng.blif" : "/mcnc_k4/s298.blif"));
    if (!k_small_designs_only && lut_size == 6) files.push_back(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s1423.blif");
    for (const std::string& path : files)
        cases.push_back({path.substr(path.find_last_of('/') + 1),
                         [path](int family) { return BLIF_READER(family).read_file(path); }});
    return cases;
}

struct SKEW_FIGURES
{
    int netlists = 0;
    int moved = 0;  // netlists on which a register moved
    int pushes = 0;
    int equivalent = 0;
};

// Four passes of at most three iterations on the optimal skews of the
// timing object's own analysis, each pass proved equivalent.
template <typename LEAF>
SKEW_FIGURES run_skew_passes(int family, int lut_size, const char* leaf_name)
{
    SKEW_FIGURES f;
    for (const SKEW_DESIGN& c : skew_designs(lut_size)) {
        std::unique_ptr<CDB_ATOM_NETLIST> before = c.make(family);
        RETIMING_SEQ_RUN<SKEW_LEAF<LEAF>> run(family, c.make(family), "SKEW_RTM=1:NO_LB=1", RETIMING_SLACK_SCRIPT{});
        place_every_node(run.api(), run.netlist());
        bool all_passes = true;
        for (int pass = 0; pass < 4 && all_passes; ++pass) {
            run.run_pass(pass, 3);
            const SEQ_VERDICT v = seq_check(*before, run.netlist(), c.name + "_skew" + std::to_string(pass), true, 300,
                                            static_cast<uint64_t>(pass + 1));
            EXPECT_TRUE(v.equivalent()) << leaf_name << " " << c.name << " after pass " << pass << ": " << v.describe();
            all_passes = v.equivalent();
        }
        const int pushes = run.leaf().counts().pushes;
        if (c.name.rfind("gen_", 0) != 0)
            std::printf("RTM-SKEW %s %s: pushes %d, iterations %d\n", leaf_name, c.name.c_str(), pushes,
                        run.iterations());
        ++f.netlists;
        f.moved += pushes > 0 ? 1 : 0;
        f.pushes += pushes;
        f.equivalent += all_passes ? 1 : 0;
    }
    std::printf("RTM-SKEW %s: netlists %d, moved on %d, pushes %d, equivalent %d/%d\n", leaf_name, f.netlists, f.moved,
                f.pushes, f.equivalent, f.netlists);
    return f;
}

}  // namespace

TEST(RetimingSkewSeq, SkewDrivenPassesThroughTheTestLeavesStayEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const SKEW_FIGURES ref = run_skew_passes<RETIMING_REF_LEAF>(CDB_FAMILY_BRK, 6, "ref");
    const SKEW_FIGURES lut6 = run_skew_passes<COUNTING_6LUT_LEAF>(CDB_FAMILY_BRK, 6, "6lut");
    const SKEW_FIGURES lut4 = run_skew_passes<TEST_RETIMING_4LUT_LEAF>(CDB_FAMILY_ZEPLA, 4, "4lut");
    for (const SKEW_FIGURES* f : {&ref, &lut6, &lut4}) {
        EXPECT_EQ(f->equivalent, f->netlists);
        EXPECT_GT(f->pushes, 0);
    }
}

}  // namespace retiming_skew_test
