// Mux folding on a real design: stereovision0 was mapped with its register
// enables turned into LUTs that read the register's own output. Registered
// as demuxed nodes, those LUTs fold back into register controls in every
// 6-input family, the sweep removes them, and the design stays equivalent.

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>
#include <string>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/resyn/morv_remux.h"
#include "test_build.h"

namespace flow_remux_test {

using namespace morv_host;

namespace {

class FlowRemux : public ::testing::Test
{
protected:
    void SetUp() override { msg_set_quiet(true); }
    void TearDown() override { cfg_clear_all(); }
};

// The LUTs that alone drive a register's data input and read that
// register's output: the muxes a demux of its controls would have made.
std::set<int> feedback_muxes(CDB_ATOM_NETLIST* netlist)
{
    std::set<int> muxes;
    for (CDB_ATOM_NODE* reg : *netlist) {
        CDB_ATOM_ITERM* datain = reg->is_register() ? reg->get_input_term_by_type(DB_DATAIN) : nullptr;
        CDB_ATOM_OTERM* q = reg->get_output_term_by_type(DB_REG_OUT);
        CDB_ATOM_OTERM* d = datain != nullptr ? datain->get_source() : nullptr;
        if (d == nullptr || q == nullptr || !d->get_my_node()->is_lcell_comb() || !d->is_used_as(DB_COMB_OUT)) continue;
        CDB_ATOM_NODE* lut = d->get_my_node();
        for (int k = 0; k < 6; ++k) {
            CDB_ATOM_ITERM* in = lut->get_input_term_by_type(DB_DATA_A + k);
            if (in != nullptr && in->get_source() == q) muxes.insert(static_cast<int>(lut->get_id()));
        }
    }
    return muxes;
}

int count_luts(CDB_ATOM_NETLIST* netlist)
{
    int luts = 0;
    for (CDB_ATOM_NODE* node : *netlist) luts += node->is_lcell_comb() ? 1 : 0;
    return luts;
}

TEST_F(FlowRemux, StereovisionsFeedbackMuxesFoldIntoRegisterControlsAndTheDesignStaysEquivalent)
{
    const std::string input = std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif";
    std::map<int, std::string> families = {
        {CDB_FAMILY_BRK, "BRK"}, {CDB_FAMILY_OBRAN, "OBRAN"}, {CDB_FAMILY_MRL, "MRL"}};
    if (k_small_designs_only) families.erase(CDB_FAMILY_OBRAN);  // a plain family and MRL, whose sweep legalises
    for (const auto& [family, name] : families) {
        BLIF_READER reader(family);
        HOST_DESIGN design(family, reader.read_file(input));
        HOST_ENV env(design);
        MORV_API* api = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())->get_fsyn_api();
        // A first sweep takes what it finds anyway, so that the LUTs the
        // second one removes are the folded muxes.
        MORV_ALGORITHM_BASE::sweep_family_netlist(api);
        const std::set<int> muxes = feedback_muxes(design.netlist());
        EXPECT_EQ(muxes.size(), 6347u) << name;
        for (int id : muxes) MORV_REMUX::add_demuxed_node(api, id);
        cfg_set_value("fsyn_remux_dont_check_criticality", "on");

        // What each mux folds as, read by a second object so that the run's
        // report counts every mux once.
        MORV_PARAMETER_MAP params;
        std::map<std::string, int> patterns;
        {
            MORV_REMUX probe(api, &params);
            for (int id : muxes) {
                MORV_REMUX_PATTERN pm;
                CDB_ATOM_NODE* mux = api->get_node(id);
                if (probe.analyse_mux(mux, &pm) && probe.are_control_inputs_free(probe.get_register_behind(mux), pm))
                    ++patterns[pm.text()];
            }
        }
        const int luts_before = count_luts(design.netlist());
        MORV_REMUX remux(api, &params);
        const int folded = remux.do_iter();
        const int swept = MORV_ALGORITHM_BASE::sweep_family_netlist(api);
        const int removed = luts_before - count_luts(design.netlist());
        int predicted = 0;
        std::string text;
        for (const auto& [pattern, n] : patterns) {
            predicted += n;
            text += " " + pattern + ":" + std::to_string(n);
        }
        for (const auto& [reason, n] : remux.get_stats().m_fail_counts)
            if (n > 0) text += " refused(" + std::to_string(reason) + "):" + std::to_string(n);
        std::cout << name << ": " << folded << " of " << muxes.size() << " folded (" << text << " ), " << removed
                  << " LUTs removed, sweep " << swept << " operations\n";
        EXPECT_EQ(folded, predicted) << name;
        EXPECT_EQ(remux.get_stats().m_successes, folded) << name;
        EXPECT_GT(folded, 0) << name;
        // MRL's sweep also legalises: a few cells more may go.
        EXPECT_GE(removed, folded) << name << ": the folded muxes are left without fanout for the sweep";
        EXPECT_TRUE(design.netlist()->verify()) << name;
        const std::string output = "remuxed_" + name + ".blif";
        blif_write_netlist_file(*design.netlist(), output, "stereovision0");
        cfg_clear_all();
        if (!abc_is_available()) continue;
        // Folding keeps every register and its name, so the registers'
        // next-state functions compare one to one: the combinational check,
        // which matches them by name, decides in seconds where the
        // sequential one needs many minutes on this design.
        const ABC_RESULT r = abc_check_equivalence(input, output, false, 300);
        EXPECT_TRUE(r.is_equivalent()) << name << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

}  // namespace

}  // namespace flow_remux_test
