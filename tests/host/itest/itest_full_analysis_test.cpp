// iTEst's full analysis on every bundled sequential design, for BRK and MRL,
// before and after placement: its figure of merit is the analyser's, the
// slacks and ratios it annotates are the analyser's, and a comparison run
// right after finds no differing edge. Each case prints the least R^2 of
// the domains' slack-ratio lines per design.
//
// The large designs run in the optimised build only; the sanitizer build
// takes the small ones (the same checks, a fraction of the time).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"
#include "itest_designs.h"
#include "test_compile_setup.h"
#include "test_build.h"

namespace itest_full_analysis_test {

using namespace morv_host;

namespace {

// One design in one family inside FIT_EARLY (timed by the early model) or
// LATE (placed), at 90 % of its critical path before placement.
struct COMPILE
{
    COMPILE(const std::string& path, int family, bool placed)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_file(path));
        env = std::make_unique<HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        if (placed) {
            env->place_unplaced_atoms();
            env->set_placed(true);
        }
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        timing = expert->get_fsyn_api()->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, placed ? LATE_FSYN_FLOW : FIT_EARLY_FSYN_FLOW);
        timing->sync_timing_netlist(false, true);
        // Before placement the early model writes its delays first.
        if (!placed) timing->perform_pre_placement_timing_analysis(false);
    }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_TIMING* timing = nullptr;
};

struct EDGE_TIMING
{
    int id;
    int slack;
    float ratio;
};

std::vector<EDGE_TIMING> annotated_edges()
{
    std::vector<EDGE_TIMING> out;
    for (const TDB_EDGE* e : tdc_get_accessories()->get_tdb_netlist()->edge_table())
        if (e != nullptr) out.push_back({e->get_id(), e->get_slack(), e->get_slack_ratio()});
    return out;
}

// The least R^2 over the domains' lines (1 for a design without domains).
float least_r2(MORV_TIMING_ITE* ite)
{
    float least = 1.0f;
    for (int d = 0; d < ite->get_num_domains(); ++d) {
        MORV_TIMING_ITE_DOMAIN_INFO* domain = ite->get_domain(d);
        if (domain->m_edge_slack_ratios.empty()) continue;
        ite->compute_sr_lr_approximation_for_domain(domain);
        least = std::min(least, ite->compute_sr_lr_r2(domain));
    }
    return least;
}

void check_family(int family, bool placed)
{
    for (const ITEST_DESIGN& d : k_itest_designs) {
        if (k_small_designs_only && !d.small) continue;
        const std::string where = std::string(d.path) + (placed ? " placed" : " unplaced");
        COMPILE c(std::string(MORV_SOURCE_DIR) + "/" + d.path, family, placed);
        c.timing->set_use_itest(true);
        c.timing->update_timing();
        MORV_TIMING_ITE* ite = c.timing->get_itest();
        ASSERT_NE(ite, nullptr) << where;
        const double analyser_fom = tdc_get_accessories()->get_figure_of_merit();
        const double scale = std::max(1.0, std::fabs(analyser_fom));
        EXPECT_LT(std::fabs(ite->get_figure_of_merit() - analyser_fom) / scale, 1e-12) << where;

        // iTEst's annotation over the analyser's: the same slack, the ratio
        // within 1e-6, on every edge.
        const std::vector<EDGE_TIMING> analyser = annotated_edges();
        ite->fsyn_ite_annotate_slacks_and_slack_ratios();
        const std::vector<EDGE_TIMING> annotated = annotated_edges();
        ASSERT_EQ(annotated.size(), analyser.size()) << where;
        int differing = 0;
        for (size_t i = 0; i < analyser.size(); ++i)
            if (annotated[i].slack != analyser[i].slack || std::fabs(annotated[i].ratio - analyser[i].ratio) > 1e-6f) {
                if (differing++ < 3)
                    ADD_FAILURE() << where << ": edge " << analyser[i].id << " slack " << annotated[i].slack << " / "
                                  << analyser[i].slack << " ratio " << annotated[i].ratio << " / " << analyser[i].ratio;
            }
        EXPECT_EQ(differing, 0) << where;
        const MORV_TIMING_ITE_COMPARISON comparison = ite->compare_with_full_timing_analysis();
        EXPECT_EQ(comparison.m_slack_diffs, 0) << where;
        EXPECT_EQ(comparison.m_sr_diffs, 0) << where;
        std::printf("%-40s %-4s %-8s domains %3d edges %6d least R^2 %.4f\n", d.path,
                    family == CDB_FAMILY_BRK ? "BRK" : "MRL", placed ? "placed" : "unplaced", ite->get_num_domains(),
                    comparison.m_num_edges, static_cast<double>(least_r2(ite)));
    }
}

}  // namespace

TEST(ItestFullAnalysis, BrkUnplaced)
{
    check_family(CDB_FAMILY_BRK, false);
}

TEST(ItestFullAnalysis, BrkPlaced)
{
    check_family(CDB_FAMILY_BRK, true);
}

TEST(ItestFullAnalysis, MrlUnplaced)
{
    check_family(CDB_FAMILY_MRL, false);
}

TEST(ItestFullAnalysis, MrlPlaced)
{
    check_family(CDB_FAMILY_MRL, true);
}

}  // namespace itest_full_analysis_test
