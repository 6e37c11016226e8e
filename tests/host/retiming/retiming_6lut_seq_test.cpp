// The retiming engine on 6-LUT netlists through the 6-LUT branch: a test
// leaf of each of BRK, KESTLIN, RZK and OBRAN runs four passes (backward,
// forward, backward, forward), on generated netlists with every feature the
// branch handles (unit-delay slacks scripted before every iteration) and on
// benchmark designs (the timing object's own analysis before every
// iteration), with synchronous-load pushes on and off; every pass is proved
// equivalent from the all-zero state.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "retiming_6lut_bench.h"
#include "retiming_ref_leaf.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "test_build.h"

namespace retiming_6lut_seq_test {

namespace {

// Counts what the engine asks of the branch.
class COUNTING_LEAF : public TEST_RETIMING_6LUT_LEAF
{
public:
    using TEST_RETIMING_6LUT_LEAF::TEST_RETIMING_6LUT_LEAF;
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& c, bool& s) override
    {
        const bool ok = TEST_RETIMING_6LUT_LEAF::create_input_registers(node, reg, c, s);
        m_pushes += ok ? 1 : 0;
        return ok;
    }
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& c, bool& s) override
    {
        const bool ok = TEST_RETIMING_6LUT_LEAF::create_output_registers(node, reg, c, s);
        m_pushes += ok ? 1 : 0;
        return ok;
    }
    bool create_control_mux(CDB_ATOM_NODE* node) override
    {
        const bool ok = TEST_RETIMING_6LUT_LEAF::create_control_mux(node);
        m_demuxed += ok ? 1 : 0;
        return ok;
    }
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override
    {
        TEST_RETIMING_6LUT_LEAF::insert_inverter_lcell(iterm);
        ++m_counts.inverters;
    }
    // What the shared runner reads to tell node splits from inverter cells.
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    int m_pushes = 0;
    int m_demuxed = 0;

private:
    COUNTS m_counts;
};

int generated_count()
{
    if (const char* n = std::getenv("MORV_RTM_6LUT_NETLISTS")) return std::max(1, std::atoi(n));
    return k_small_designs_only ? 2 : 100;
}

struct DESIGN_CASE
{
    std::string name;
    std::function<std::unique_ptr<CDB_ATOM_NETLIST>()> make;
    RETIMING_SLACK_SCRIPT slacks = script_unit_delay_slacks;
};

std::vector<DESIGN_CASE> design_cases(int family)
{
    std::vector<DESIGN_CASE> cases;
    for (int k = 0; k < generated_count(); ++k) {
        const uint64_t seed = 9100 + static_cast<uint64_t>(k);
        SEQ_GEN_OPTIONS o;
        o.m_family = family;
        o.m_cells = 12 + static_cast<int>(seed % 9);
        o.m_registers = 6 + static_cast<int>(seed % 5);
        // Half without chains: in these seeds the critical enables and
        // synchronous clears the demuxer needs sit on plain cells.
        o.m_chains = seed % 2 == 0;
        cases.push_back({rtm6_name("gen_", static_cast<long long>(seed)), [o, seed] { return seq_generate(o, seed); }});
    }
    std::vector<std::string> files = {std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif"};
    if (!k_small_designs_only && std::getenv("MORV_RTM_6LUT_NO_BENCH") == nullptr) {
        for (const char* name : {"iscas89_k6/s1423.blif", "iscas89_k6/s5378.blif", "iscas89_k6/s9234.1.blif",
                                 "misc_k6/riscv_core_lut6.blif"})
            files.push_back(std::string(MORV_BENCH_DIR) + "/" + name);
    }
    // The loaded designs take the timing object's own analysis.
    for (const std::string& path : files)
        cases.push_back({path.substr(path.find_last_of('/') + 1),
                         [path, family] { return BLIF_READER(family).read_file(path); }, RETIMING_SLACK_SCRIPT{}});
    return cases;
}

class Retiming6LutSeq : public ::testing::TestWithParam<int>
{};

}  // namespace

TEST_P(Retiming6LutSeq, FourPassesStayEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const int family = GetParam();
    int netlists = 0, pushes = 0, iterations = 0, demuxed = 0, equivalent = 0;
    for (const DESIGN_CASE& c : design_cases(family)) {
        std::unique_ptr<CDB_ATOM_NETLIST> before = c.make();
        RETIMING_SEQ_RUN<COUNTING_LEAF> run(family, c.make(), "", c.slacks);
        place_every_node(run.api(), run.netlist());
        run.leaf().set_srt(0.1);
        run.leaf().set_sload_push(netlists % 2 == 1);
        bool all_passes = true;
        for (int pass = 0; pass < 4 && all_passes; ++pass) {
            run.run_pass(pass, 3);
            const SEQ_VERDICT v = seq_check(*before, run.netlist(), c.name + rtm6_name("_pass", pass), true, 300,
                                            static_cast<uint64_t>(pass + 1));
            EXPECT_TRUE(v.equivalent()) << c.name << " after pass " << pass << ": " << v.describe();
            all_passes = v.equivalent();
        }
        if (c.name.rfind("gen_", 0) != 0)
            std::printf("RTM-6LUT %s %s: pushes %d, demuxed %d\n", cdb_get_family_info(family)->name, c.name.c_str(),
                        run.leaf().m_pushes, run.leaf().m_demuxed);
        ++netlists;
        equivalent += all_passes ? 1 : 0;
        pushes += run.leaf().m_pushes;
        demuxed += run.leaf().m_demuxed;
        iterations += run.iterations();
    }
    std::printf("RTM-6LUT: netlists %d, pushes %d, iterations %d, demuxed %d, equivalent %d/%d\n", netlists, pushes,
                iterations, demuxed, equivalent, netlists);
    EXPECT_GT(pushes, 0);
    EXPECT_EQ(equivalent, netlists);
    // Only the full set is sure to make an enable or a synchronous clear critical.
    if (generated_count() >= 100) {
        EXPECT_GT(demuxed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Retiming6LutSeq,
                         ::testing::Values(CDB_FAMILY_BRK, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK, CDB_FAMILY_OBRAN),
                         [](const ::testing::TestParamInfo<int>& family) {
                             return std::string(cdb_get_family_info(family.param)->name);
                         });

}  // namespace retiming_6lut_seq_test
