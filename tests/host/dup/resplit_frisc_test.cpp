// Resplitting on a real placed design: copies of frisc's most critical
// registers and LUTs put far from their originals take the sinks nearest to
// them, and the design loses no slack.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "test_compile_setup.h"

#include "morv/core/morv_env.h"
#include "morv/dup/morv_resplit.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace resplit_frisc_test {

namespace {

struct FRISC : PLACED_LATE_COMPILE
{
    FRISC() : PLACED_LATE_COMPILE(std::string(MORV_BENCH_DIR) + "/mcnc_k4/frisc.blif")
    {
        api->reset_fsyn_chip_map(false);
        for (CDB_ATOM_NODE* n : *design->netlist())
            if (n->get_lab_x() >= 0) place(n, n->get_lab_x(), n->get_lab_y());
        retime();
    }
    void place(CDB_ATOM_NODE* n, int x, int y)
    {
        api->get_fsyn_chip_map()->set_node_location(static_cast<int>(n->get_id()), MORV_LOC{x, y, -1, -1});
        n->set_location(x, y);
    }
    void retime()
    {
        MORV_TIMING* timing = api->get_fsyn_timing();
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
    }
    int worst_slack()
    {
        MORV_TIMING* timing = api->get_fsyn_timing();
        int worst = INT_MAX;
        for (CDB_ATOM_NODE* n : *design->netlist())
            for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it)
                if ((*it)->get_source() != nullptr) worst = std::min(worst, timing->get_slack(*it));
        return worst;
    }
    // The smallest slack over the output's sinks.
    int output_slack(CDB_ATOM_OTERM* oterm)
    {
        int worst = INT_MAX;
        for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
            worst = std::min(worst, api->get_fsyn_timing()->get_slack(*it));
        return worst;
    }
};

int distance(const CDB_ATOM_NODE* a, const CDB_ATOM_NODE* b)
{
    return std::abs(a->get_lab_x() - b->get_lab_x()) + std::abs(a->get_lab_y() - b->get_lab_y());
}

}  // namespace

TEST(ResplitFrisc, FarCopiesOfTheMostCriticalCellsTakeTheirNearestSinksWithoutLosingSlack)
{
    FRISC c;
    MORV_NET_UTIL* util = c.api->get_fsyn_net_util();
    // The three most critical registers and LUTs with more than one sink.
    std::vector<std::pair<int, CDB_ATOM_OTERM*>> registers, luts;
    for (CDB_ATOM_NODE* n : *c.design->netlist()) {
        const bool reg = n->is_lcell_ff();
        if (!reg && !(n->is_lcell_comb() && !util->is_lcell_in_a_chain(n))) continue;
        CDB_ATOM_OTERM* out = n->get_output_term_by_type(reg ? DB_REG_OUT : DB_COMB_OUT);
        if (out == nullptr || out->get_number_of_fanout() < 2) continue;
        (reg ? registers : luts).emplace_back(c.output_slack(out), out);
    }
    ASSERT_GE(registers.size(), 3u);
    ASSERT_GE(luts.size(), 3u);
    auto by_slack = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::partial_sort(registers.begin(), registers.begin() + 3, registers.end(), by_slack);
    std::partial_sort(luts.begin(), luts.begin() + 3, luts.end(), by_slack);
    const int worst_before = c.worst_slack();

    // Each copy on the LAB of the original's farthest sink, or 10 LABs off.
    std::map<CDB_ATOM_OTERM*, CDB_ATOM_OTERM*> copy_of;
    for (const auto* list : {&registers, &luts}) {
        for (size_t i = 0; i < 3; ++i) {
            CDB_ATOM_OTERM* out = (*list)[i].second;
            CDB_ATOM_NODE* original = out->get_my_node();
            const int port = out->get_any_usage_as();
            CDB_ATOM_NODE* copy = c.api->duplicate_oterm(original, port, true);
            ASSERT_NE(copy, nullptr);
            c.api->node_added(copy, original, MORV_MODIFICATION_DUPLICATE, port, true, nullptr);
            const CDB_ATOM_NODE* far = nullptr;
            for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
                if (far == nullptr || distance((*it)->get_my_node(), original) > distance(far, original))
                    far = (*it)->get_my_node();
            int x = far->get_lab_x(), y = far->get_lab_y();
            if (distance(far, original) < 10)
                x = original->get_lab_x() >= 12 ? original->get_lab_x() - 10 : original->get_lab_x() + 10;
            c.place(copy, x, y);
            EXPECT_GE(distance(copy, original), 10);
            copy_of[out] = copy->get_output_term_by_type(port);
        }
    }
    c.retime();
    std::map<CDB_ATOM_ITERM*, CDB_ATOM_OTERM*> before;
    for (const auto& [out, copy] : copy_of)
        for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) before[*it] = out;

    MORV_PARAMETER_MAP params;
    int moved = 0;
    for (int pass = 0; pass < 2; ++pass) {
        MORV_RESPLIT resplit(c.api, &params);
        int ni = -1, hci = -1;
        resplit.set_default_pass_parameters(pass, ni, hci);
        moved += resplit.do_iter();
        if (pass == 0) {
            // Every moved sink reads the copy or original nearest to it.
            for (const auto& [sink, original] : before) {
                CDB_ATOM_OTERM* source = sink->get_source();
                if (source == original) continue;
                ASSERT_EQ(source, copy_of[original]);
                EXPECT_LT(distance(sink->get_my_node(), source->get_my_node()),
                          distance(sink->get_my_node(), original->get_my_node()));
            }
        }
        c.retime();
    }
    EXPECT_GT(moved, 0);
    EXPECT_GE(c.worst_slack(), worst_before);
}

}  // namespace resplit_frisc_test
