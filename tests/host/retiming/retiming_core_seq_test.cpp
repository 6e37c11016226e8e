// The retiming engine on real netlists through the reference family leaf:
// four passes (backward, forward, backward, forward) driven iteration by
// iteration with unit-delay slacks scripted afresh before each, every pass
// proved sequentially equivalent to the netlist it started from (ABC from
// the all-zero state, and co-simulation).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "io/blif_reader.h"

#include "retiming_ref_leaf.h"
#include "retiming_seq_run.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"

namespace retiming_core_seq_test {

namespace {

using namespace morv_host;

// A netlist under the reference leaf, its slack-ratio threshold set before
// the first pass.
class CORE_RUN : public RETIMING_SEQ_RUN<RETIMING_REF_LEAF>
{
public:
    CORE_RUN(std::unique_ptr<CDB_ATOM_NETLIST> netlist, const std::string& params = "")
        : RETIMING_SEQ_RUN(CDB_FAMILY_BRK, std::move(netlist), params)
    {
        leaf().set_srt(0.1);
    }
};

int generated_count()
{
    if (const char* n = std::getenv("MORV_RTM_CORE_NETLISTS")) return std::max(1, std::atoi(n));
    return k_small_designs_only ? 8 : 50;
}

SEQ_GEN_OPTIONS options_for(uint64_t seed)
{
    SEQ_GEN_OPTIONS o;
    o.m_chains = false;
    o.m_cells = 12 + static_cast<int>(seed % 9);
    o.m_registers = 6 + static_cast<int>(seed % 5);
    return o;
}

// A netlist source: the same netlist made twice, one to keep.
struct DESIGN_CASE
{
    std::string name;
    std::function<std::unique_ptr<CDB_ATOM_NETLIST>()> make;
};

std::vector<DESIGN_CASE> design_cases()
{
    std::vector<DESIGN_CASE> cases;
    for (int k = 0; k < generated_count(); ++k) {
        const uint64_t seed = 7000 + static_cast<uint64_t>(k);
        cases.push_back({"gen_" + std::to_string(seed), [seed] { return seq_generate(options_for(seed), seed); }});
    }
    std::vector<std::string> files = {std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif",
                                      std::string(MORV_BENCH_DIR) + "/iscas89_k6/s27.blif"};
    if (!k_small_designs_only) {
        files.push_back(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s1423.blif");
        files.push_back(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s5378.blif");
    }
    for (const std::string& path : files)
        cases.push_back(
            {path.substr(path.find_last_of('/') + 1), [path] { return BLIF_READER(CDB_FAMILY_BRK).read_file(path); }});
    return cases;
}

}  // namespace

TEST(RetimingCoreSeq, FourPassesOnGeneratedAndBenchmarkNetlistsStayEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    int netlists = 0, pushes = 0, iterations = 0, splits = 0, equivalent = 0;
    for (const DESIGN_CASE& c : design_cases()) {
        std::unique_ptr<CDB_ATOM_NETLIST> before = c.make();
        CORE_RUN run(c.make());
        bool all_passes = true;
        for (int pass = 0; pass < 4 && all_passes; ++pass) {
            run.run_pass(pass, 3);
            const SEQ_VERDICT v = seq_check(*before, run.netlist(), c.name + "_pass" + std::to_string(pass), true, 300,
                                            static_cast<uint64_t>(pass + 1));
            EXPECT_TRUE(v.equivalent()) << c.name << " after pass " << pass << ": " << v.describe();
            all_passes = v.equivalent();
        }
        ++netlists;
        equivalent += all_passes ? 1 : 0;
        pushes += run.leaf().counts().pushes;
        iterations += run.iterations();
        splits += run.splits();
    }
    std::printf("RTM-CORE: netlists %d, pushes %d, iterations %d, splits %d, equivalent %d/%d\n", netlists, pushes,
                iterations, splits, equivalent, netlists);
    EXPECT_GT(pushes, 0);
    EXPECT_GT(splits, 0);
    EXPECT_EQ(equivalent, netlists);
}

namespace {

// Stage A: three LUT levels from the inputs to r1; stage B: one level from
// r1 to r2, which drives the outputs.
const char* k_pipeline_3_1 = R"(.model p31
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

}  // namespace

TEST(RetimingCoreSeq, OneBackwardAndOneForwardPassBalanceAThreeAndOneLevelPipeline)
{
    auto read = [] { return BLIF_READER(CDB_FAMILY_BRK).read_text(k_pipeline_3_1, "p31.blif"); };
    std::unique_ptr<CDB_ATOM_NETLIST> before = read();
    // Greedy: a register moves only towards the side with less slack, so the
    // forward pass leaves the balanced stages alone.
    CORE_RUN run(read(), "ALG=GREEDY");
    ASSERT_EQ(deepest_lut_path(run.netlist()), 3);
    run.run_pass(0, 1);
    EXPECT_EQ(deepest_lut_path(run.netlist()), 2);
    EXPECT_GT(run.leaf().counts().pushes, 0);
    run.run_pass(1, 1);
    EXPECT_EQ(deepest_lut_path(run.netlist()), 2);
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const SEQ_VERDICT v = seq_check(*before, run.netlist(), "p31", true);
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

TEST(RetimingCoreSeq, TheHostHearsOfRetimedRegistersOncePerModifyingIteration)
{
    auto read = [] { return BLIF_READER(CDB_FAMILY_BRK).read_text(k_pipeline_3_1, "p31.blif"); };
    CORE_RUN run(read());
    // run_pass checks the count after every iteration; the last iteration
    // of a pass that runs dry changes nothing and is not reported.
    run.run_pass(0, 6);
    run.run_pass(1, 6);
    EXPECT_GT(run.leaf().counts().pushes, 0);
    EXPECT_GT(run.iterations(), 2);
    EXPECT_GT(run.retimed_notes(), 0);
    // Nothing to move: the iteration edits nothing and the host hears nothing.
    CORE_RUN plain(BLIF_READER(CDB_FAMILY_BRK)
                       .read_text(".model c\n.inputs a b\n.outputs o\n.names a b o\n11 1\n.end\n", "c.blif"));
    plain.run_pass(0, 1);
    EXPECT_EQ(plain.iterations(), 1);
    EXPECT_EQ(plain.leaf().counts().pushes, 0);
    EXPECT_EQ(plain.retimed_notes(), 0);
}

}  // namespace retiming_core_seq_test
