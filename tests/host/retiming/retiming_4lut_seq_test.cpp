// The retiming engine on 4-LUT netlists through test leaves of ZEPLA and
// TEV: four passes (backward, forward, backward, forward) driven iteration
// by iteration, on generated netlists with carry chains, inverted inputs,
// constant ties, clears, and enables, synchronous clears and loads on
// critical paths, and on bundled designs loaded in each family. Every pass
// is proved sequentially equivalent to the netlist it started from (ABC
// from the all-zero state, and co-simulation).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "io/blif_reader.h"

#include "retiming_4lut_test_leaf.h"
#include "retiming_ref_leaf.h"
#include "retiming_seq_run.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"

namespace retiming_4lut_seq_test {

namespace {

using RUN_4LUT = RETIMING_SEQ_RUN<TEST_RETIMING_4LUT_LEAF>;

// Unit-delay slacks, and every synchronous control of a register driven by
// a signal is critical: the demuxer has registers to free.
void script_critical_controls(CDB_ATOM_NETLIST& netlist, SCRIPTED_SLACK_SOURCE& slacks)
{
    script_unit_delay_slacks(netlist, slacks);
    for (CDB_ATOM_NODE* node : netlist) {
        if (!node->is_register()) continue;
        for (int port : {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD}) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(port);
            if (t != nullptr && t->is_driven()) slacks.set(t, 0, 0.0);
        }
    }
}

int generated_count()
{
    if (const char* n = std::getenv("MORV_RTM_4LUT_NETLISTS")) return std::max(1, std::atoi(n));
    return k_small_designs_only ? 6 : 50;
}

SEQ_GEN_OPTIONS options_for(int family, uint64_t seed)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = family;
    o.m_cells = 12 + static_cast<int>(seed % 9);
    o.m_registers = 6 + static_cast<int>(seed % 5);
    return o;
}

struct DESIGN_CASE
{
    std::string name;
    int family;
    std::function<std::unique_ptr<CDB_ATOM_NETLIST>()> make;
    RETIMING_SLACK_SCRIPT slacks;
};

std::vector<DESIGN_CASE> design_cases(int family)
{
    std::vector<DESIGN_CASE> cases;
    for (int k = 0; k < generated_count(); ++k) {
        const uint64_t seed = 9000 + static_cast<uint64_t>(k);
        cases.push_back({"gen_" + std::to_string(seed), family,
                         [family, seed] { return seq_generate(options_for(family, seed), seed); },
                         script_critical_controls});
    }
    if (k_small_designs_only) return cases;
    // The timing object's analysis on the bundled designs; on dsip the
    // engine finds no push under it, so dsip takes unit-delay slacks. Both
    // families push the same registers on these designs, so each design runs
    // in one of them (frisc in TEV, where one push more happens).
    const bool zepla = family == CDB_FAMILY_ZEPLA;
    for (const char* design :
         zepla ? std::vector<const char*>{"tseng", "s298", "dsip"} : std::vector<const char*>{"diffeq", "frisc"}) {
        const std::string path = std::string(MORV_BENCH_DIR) + "/mcnc_k4/" + design + ".blif";
        const bool analysed = std::string(design) != "dsip";
        cases.push_back({design, family, [path, family] { return BLIF_READER(family).read_file(path); },
                         analysed ? RETIMING_SLACK_SCRIPT{} : RETIMING_SLACK_SCRIPT{script_unit_delay_slacks}});
    }
    return cases;
}

struct TOTALS
{
    int netlists = 0, pushes = 0, iterations = 0, demuxed = 0, equivalent = 0;
};

void run_case(const DESIGN_CASE& c, TOTALS& totals, bool report)
{
    std::unique_ptr<CDB_ATOM_NETLIST> before = c.make();
    RUN_4LUT run(c.family, c.make(), "", c.slacks);
    place_every_node(run.api(), run.netlist());
    bool all_passes = true;
    for (int pass = 0; pass < 4 && all_passes; ++pass) {
        run.run_pass(pass, 3);
        const SEQ_VERDICT v = seq_check(*before, run.netlist(), c.name + "_pass" + std::to_string(pass), true, 300,
                                        static_cast<uint64_t>(pass + 1));
        EXPECT_TRUE(v.equivalent()) << c.name << " after pass " << pass << ": " << v.describe();
        all_passes = v.equivalent();
    }
    ++totals.netlists;
    totals.equivalent += all_passes ? 1 : 0;
    totals.pushes += run.leaf().counts().pushes;
    totals.iterations += run.iterations();
    totals.demuxed += run.leaf().counts().demuxed;
    if (report)
        std::printf("RTM-4LUT %s (family %d): pushes %d, iterations %d, demuxed %d\n", c.name.c_str(), c.family,
                    run.leaf().counts().pushes, run.iterations(), run.leaf().counts().demuxed);
}

}  // namespace

TEST(Retiming4LutSeq, FourPassesOnGeneratedAndBundledNetlistsStayEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    TOTALS totals;
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV})
        for (const DESIGN_CASE& c : design_cases(family)) run_case(c, totals, c.name.rfind("gen_", 0) != 0);
    std::printf("RTM-4LUT: netlists %d, pushes %d, iterations %d, demuxed %d, equivalent %d/%d\n", totals.netlists,
                totals.pushes, totals.iterations, totals.demuxed, totals.equivalent, totals.netlists);
    EXPECT_GT(totals.pushes, 0);
    EXPECT_GT(totals.demuxed, 0);
    EXPECT_EQ(totals.equivalent, totals.netlists);
}

}  // namespace retiming_4lut_seq_test
