// The per-node flow on every candidate of every bundled design in BRK,
// ZEPLA and MRL, each successful decomposition checked: the image with its
// encodings composed back is the expanded cone, every new LUT fits, and the
// cone is what the host's evaluation of the absorbed LUTs computes. Then
// whole iterations over a BRK and a ZEPLA netlist: the counter lines agree
// with the decompositions seen and the netlist stays as it was.
//
// The large designs run in the optimised build only; the sanitizer build
// takes the small ones (the same checks, a fraction of the time).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "log_capture.h"
#include "../../support/abc_equiv.h"
#include "bdd_syn_fixture.h"
#include "io/blif_writer.h"
#include "test_build.h"

namespace bdd_syn_decomposition_test {

using namespace bdd_syn_test;

namespace {

struct DESIGN
{
    const char* path;
    int lut_size;  // inputs of its widest LUT
    bool small;
};

const DESIGN k_designs[] = {
    {"bench/mcnc_k4/alu4.blif", 4, false},
    {"bench/mcnc_k4/apex2.blif", 4, false},
    {"bench/mcnc_k4/apex4.blif", 4, false},
    {"bench/mcnc_k4/bigkey.blif", 4, false},
    {"bench/mcnc_k4/des.blif", 4, false},
    {"bench/mcnc_k4/diffeq.blif", 4, false},
    {"bench/mcnc_k4/dsip.blif", 4, false},
    {"bench/mcnc_k4/elliptic.blif", 4, false},
    {"bench/mcnc_k4/ex1010.blif", 4, false},
    {"bench/mcnc_k4/ex5p.blif", 4, false},
    {"bench/mcnc_k4/frisc.blif", 4, false},
    {"bench/mcnc_k4/misex3.blif", 4, false},
    {"bench/mcnc_k4/pdc.blif", 4, false},
    {"bench/mcnc_k4/s298.blif", 4, false},
    {"bench/mcnc_k4/s38417.blif", 4, false},
    {"bench/mcnc_k4/seq.blif", 4, false},
    {"bench/mcnc_k4/spla.blif", 4, false},
    {"bench/mcnc_k4/tseng.blif", 4, true},  // the sanitizer build's one 4-input benchmark
    {"bench/iscas89_k6/s27.blif", 6, true},
    {"bench/iscas89_k6/s1423.blif", 6, true},
    {"bench/iscas89_k6/s5378.blif", 6, true},
    {"bench/iscas89_k6/s9234.1.blif", 6, true},
    {"bench/misc_k6/mem_ctrl_size_2024.blif", 6, false},
    {"bench/misc_k6/riscv_core_lut6.blif", 6, false},
    {"bench/misc_k6/stereovision0.lut6.blif", 6, false},
    {"designs/adder_tree.blif", 4, true},
    {"designs/counter.blif", 4, true},
    {"designs/pipeline.blif", 4, true},
};

std::vector<std::string> designs_to_run(int family)
{
    std::vector<std::string> out;
    for (const DESIGN& d : k_designs)
        if ((d.small || !k_small_designs_only) && d.lut_size <= cdb_family_lut_size(family)) out.push_back(d.path);
    return out;
}

// The checks of one successful decomposition; failures go to the test.
template <typename SYN>
void check_decomposition(SYN& syn, const DECOMPOSITION& d, const std::string& where)
{
    const auto& vars = syn.m_vars;
    ASSERT_GE(vars.size(), 2u) << where;
    size_t first_new = vars.size();
    for (size_t i = 0; i < vars.size() && first_new == vars.size(); ++i)
        if (vars[i]->oterm == nullptr && !vars[i]->is_vcc && !vars[i]->is_gnd) first_new = i;
    std::vector<const MORV_BDD_SYN_ITERM_SRC*> records;
    for (size_t i = 0; i < first_new; ++i) records.push_back(vars[i].get());
    const MORV_BDD_SYN_ITERM_SRC& root = *vars.back();
    EXPECT_LE(root.bdd.support_size(), d.available_inputs) << where;
    BDD_JBDD composed = root.bdd;
    for (size_t i = vars.size() - 1; i-- > first_new;) {
        EXPECT_EQ(vars[i]->oterm, nullptr) << where;
        EXPECT_LE(vars[i]->bdd.support_size(), syn.m_num_data_ports) << where;
        composed = composed.Compose(vars[i]->bdd, vars[i]->var_index);
    }
    EXPECT_TRUE(composed == syn.m_expanded_cone) << where;
    EXPECT_EQ(compare_cone_with_host(d.base, syn.m_expanded_cone, records, syn.m_bdd_mgr->true_bdd()), "") << where;
}

struct SWEEP_FIGURES
{
    int candidates = 0;
    int tried = 0;
    int succeeded = 0;
    double seconds = 0.0;
};

// Every candidate of the first iteration through the per-node flow.
template <typename SYN>
SWEEP_FIGURES sweep(SYN& syn, const std::string& where)
{
    SWEEP_FIGURES figures;
    double checking = 0.0;  // seconds in the checks, left out of the figures
    syn.on_accept = [&](const DECOMPOSITION& d) {
        const auto start = std::chrono::steady_clock::now();
        check_decomposition(syn, d, where + " node " + std::to_string(d.base->get_id()));
        checking += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    syn.m_slack_ratio_curr =
        syn.ramp(MORV_BDD_SYN::s_DEFAULT_SLACK_RATIO_BGN, MORV_BDD_SYN::s_DEFAULT_SLACK_RATIO_END, 0);
    syn.m_area_accept_curr = MORV_BDD_SYN::s_DEFAULT_AREA_ACCEPT_BGN;
    syn.score_nodes();
    const auto start = std::chrono::steady_clock::now();
    for (const MORV_BDD_SYN_SCORE& entry : syn.m_syn_nodes) {
        syn.resynthesize_node(entry);
        ++figures.candidates;
        for (int v = 0; v < syn.m_bdd_mgr->var_count(); ++v)
            if (syn.m_bdd_mgr->level_of_var(v) != v) {
                ADD_FAILURE() << where << ": variable " << v << " not back at its level";
                break;
            }
    }
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - checking;
    figures.tried = syn.m_decomp_tried;
    figures.succeeded = syn.m_decomp_succeeded;
    EXPECT_EQ(syn.accepted, figures.succeeded) << where;
    syn.m_syn_nodes.clear();
    return figures;
}

template <typename SYN>
void sweep_design(MORV_API* api, const std::string& where)
{
    SYN syn(api);
    const SWEEP_FIGURES f = sweep(syn, where);
    std::printf("[ figures  ] %s: %d candidates, %d decompositions tried, %d succeeded, %.1f us per candidate\n",
                where.c_str(), f.candidates, f.tried, f.succeeded,
                f.candidates > 0 ? 1e6 * f.seconds / f.candidates : 0.0);
}

}  // namespace

TEST(BddSynDecomposition, EveryCandidateOfEveryBundledDesignDecomposesIntoItsOwnCone)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_MRL})
        for (const std::string& path : designs_to_run(family)) {
            const std::string where = path + " family " + std::to_string(family);
            BDD_COMPILE c(source(path), family);
            if (cdb_family_lut_size(family) == 4) sweep_design<TEST_BDD_SYN_4LUT>(c.api, where);
            else sweep_design<TEST_BDD_SYN_6LUT>(c.api, where);
        }
}

TEST(BddSynDecomposition, TestBuiltConesWithEveryKindOfInputDecomposeIntoTheirOwnCones)
{
    // Deep chains into wide LUTs so that cones absorb and decompose; inputs
    // inverted, cut off, tied to constants and fed back from registers.
    std::string blif = ".model kinds\n.inputs a b c d e f g h clk\n.outputs z0 z1 z2 z3\n";
    blif += ".names a b t0\n10 1\n01 1\n.names t0 c t1\n11 1\n00 1\n.names t1 d t2\n10 1\n01 1\n";
    blif += ".names t2 e t3\n11 1\n.names e f u0\n11 1\n00 1\n.names u0 g u1\n10 1\n01 1\n";
    blif += ".names t3 u1 q h a b z0\n1-0-1- 1\n01--01 1\n-11-0- 1\n";
    blif += ".names t3 u1 z0 c d z1\n11--- 1\n0-11- 1\n--0-1 1\n";
    blif += ".names t2 u1 q g z2\n1-0- 1\n01-1 1\n-110 1\n";
    blif += ".names t3 z2 f h z3\n10-- 1\n0-11 1\n";
    blif += ".latch z1 q re clk 2\n.end\n";
    std::ofstream("kinds.blif") << blif;
    std::string blif4 = ".model kinds4\n.inputs a b c d e f g h clk\n.outputs z0 z1 z2 z3\n";
    blif4 += ".names a b t0\n10 1\n01 1\n.names t0 c t1\n11 1\n00 1\n.names t1 d t2\n10 1\n01 1\n";
    blif4 += ".names t2 e t3\n11 1\n.names e f u0\n11 1\n00 1\n.names u0 g u1\n10 1\n01 1\n";
    blif4 += ".names t3 u1 q h z0\n1-0- 1\n01-1 1\n-110 1\n";
    blif4 += ".names t3 u1 z0 c z1\n11-- 1\n0-11 1\n--01 1\n";
    blif4 += ".names t2 u1 q g z2\n1-0- 1\n01-1 1\n-110 1\n";
    blif4 += ".names t3 z2 f h z3\n10-- 1\n0-11 1\n";
    blif4 += ".latch z1 q re clk 2\n.end\n";
    std::ofstream("kinds4.blif") << blif4;
    int decompositions = 0;
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_ZEPLA}) {
        const char* file = cdb_family_lut_size(family) == 4 ? "kinds4.blif" : "kinds.blif";
        BDD_COMPILE c(file, family, false, [](CDB_ATOM_NETLIST& netlist) {
            for (CDB_ATOM_NODE* node : netlist) {
                if (!node->is_lcell_comb()) continue;
                const std::string name = short_name(node);
                if (name == "z0" || name == "z2") node->get_input_term_by_type(DB_DATA_A)->set_invert();
                if (name == "t2") node->get_input_term_by_type(DB_DATA_B)->set_invert();
                if (name == "z1") {
                    CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_D);
                    if (t) t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                }
                if (name == "z3") {
                    CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_D);
                    t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                    t->set_vcc();
                }
                if (name == "z0") {
                    CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_D);
                    if (t) {
                        t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                        t->set_gnd();
                    }
                }
            }
        });
        MORV_PARAMETER_MAP all{{"SRB", "1.0"}};
        if (cdb_family_lut_size(family) == 4) {
            TEST_BDD_SYN_4LUT syn(c.api, &all);
            const SWEEP_FIGURES f = sweep(syn, "kinds family " + std::to_string(family));
            decompositions += f.succeeded;
        } else {
            TEST_BDD_SYN_6LUT syn(c.api, &all);
            const SWEEP_FIGURES f = sweep(syn, "kinds family " + std::to_string(family));
            decompositions += f.succeeded;
        }
    }
    EXPECT_GT(decompositions, 0);
    std::remove("kinds.blif");
    std::remove("kinds4.blif");
}

TEST(BddSynDecomposition, IterationsCountTheirDecompositionsAndLeaveTheNetlistAlone)
{
    struct RUN
    {
        int family;
        const char* path;
    };
    // The sanitizer build iterates over the small 6- and 4-input benchmarks.
    const RUN runs[] = {
        {CDB_FAMILY_BRK, k_small_designs_only ? "bench/iscas89_k6/s1423.blif" : "bench/misc_k6/riscv_core_lut6.blif"},
        {CDB_FAMILY_ZEPLA, k_small_designs_only ? "bench/mcnc_k4/tseng.blif" : "bench/mcnc_k4/alu4.blif"}};
    for (const RUN& run : runs) {
        const std::string where = std::string(run.path) + " family " + std::to_string(run.family);
        BDD_COMPILE c(source(run.path), run.family);
        blif_write_netlist_file(*c.design->netlist(), "before.blif");
        std::unique_ptr<MORV_BDD_SYN> syn = make_test_syn(c.api);
        int accepted = 0, iterations_total = 0;
        if (auto* s6 = dynamic_cast<TEST_BDD_SYN_6LUT*>(syn.get()))
            s6->on_accept = [&, s6](const DECOMPOSITION& d) { check_decomposition(*s6, d, where), ++accepted; };
        if (auto* s4 = dynamic_cast<TEST_BDD_SYN_4LUT*>(syn.get()))
            s4->on_accept = [&, s4](const DECOMPOSITION& d) { check_decomposition(*s4, d, where), ++accepted; };
        int num_iters = MORV_ALGORITHM_BASE::s_UNSET_INT, hci = MORV_ALGORITHM_BASE::s_UNSET_INT;
        syn->set_default_pass_parameters(0, num_iters, hci);
        ASSERT_EQ(num_iters, 4);
        int counted = 0, logged_succeeded = 0, logged_tried = 0, tried_lines = 0;
        for (int iter = 0; iter < num_iters; ++iter) {
            MORV_LOG_CAPTURE log(100);
            counted += syn->do_iter();
            ++iterations_total;
            for (const std::string& line : log.lines()) {
                int value = 0;
                if (std::sscanf(line.c_str(), "decomp succeeded: %d", &value) == 1) logged_succeeded += value;
                if (std::sscanf(line.c_str(), "decomp tried: %d", &value) == 1) logged_tried += value;
                tried_lines += line == "  decomposition succeeded." || line == "  decomposition failed.";
            }
        }
        EXPECT_EQ(logged_succeeded, counted) << where;
        EXPECT_EQ(accepted, counted) << where;
        EXPECT_EQ(logged_tried, tried_lines) << where;
        EXPECT_GT(counted, 0) << where;
        std::printf("[ figures  ] %s: %d iterations, %d decompositions tried, %d succeeded\n", where.c_str(),
                    iterations_total, logged_tried, counted);
        blif_write_netlist_file(*c.design->netlist(), "after.blif");
        if (abc_is_available()) {
            const ABC_RESULT r = abc_check_equivalence("before.blif", "after.blif", false);
            EXPECT_TRUE(r.is_equivalent()) << where << "\n" << r.m_output;
        }
        std::remove("before.blif");
        std::remove("after.blif");
    }
}

}  // namespace bdd_syn_decomposition_test
