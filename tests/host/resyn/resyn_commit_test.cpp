// RESYN commit, single-node entry, dot dump and family classes.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "log_capture.h"
#include "abc_equiv.h"
#include "bpm/bpm_boundary_port_manager.h"
#include "cfg/cfg.h"
#include "io/blif_writer.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/resyn/morv_resyn_family.h"
#include "resyn_test_support.h"
#include "test_build.h"

namespace resyn_commit_test {

using namespace resyn_test;

namespace {

int count_nodes(CDB_ATOM_NETLIST* netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : *netlist) n += node != nullptr ? 1 : 0;
    return n;
}

// The text with the digits after "_RESYN" and "_BDD" dropped.
std::string without_name_numbers(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        const bool suffix = out.size() >= 6 && (out.compare(out.size() - 6, 6, "_RESYN") == 0 ||
                                                out.compare(out.size() - 4, 4, "_BDD") == 0);
        if (!suffix) continue;
        while (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
    }
    return out;
}

// y = f(a, b, c, d) over four primary inputs.
const char* const k_four = ".model four\n.inputs a b c d\n.outputs y\n.names a b c d y\n11-- 1\n--11 1\n.end\n";

// A BRK class whose root offers three inputs and takes the third on D.
class PREPARED_BRK : public MORV_RESYN_BRK
{
public:
    using MORV_RESYN_BRK::MORV_RESYN_BRK;
    bool prepare_base_node(CDB_ATOM_NODE*, int) override { return true; }
    int get_available_inputs(CDB_ATOM_NODE*) override { return 3; }
};

// A solution over the sources of y's inputs A .. D, in that order.
RESYN_SOLN solution_over(CDB_ATOM_NODE* y)
{
    RESYN_SOLN soln;
    soln.node = y;
    for (int k = 0; k < 4; ++k) {
        RESYN_SOLN_INPUT in;
        in.oterm = y->get_input_term_by_type(DB_DATA_A + k)->get_source();
        soln.inputs.push_back(in);
    }
    return soln;
}

// Slack of every connected input term, by node id and port.
std::map<std::pair<unsigned, int>, int> all_slacks(MORV_API* api)
{
    std::map<std::pair<unsigned, int>, int> result;
    MORV_TIMING* timing = api->get_fsyn_timing();
    for (CDB_ATOM_NODE* node : *api->get_atom_netlist())
        for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in)
            if ((*in)->get_source() != nullptr)
                result[{node->get_id(), (*in)->get_port_index()}] = timing->get_slack(*in);
    return result;
}

}  // namespace

TEST(ResynCommit, OneLutSolutionRewiresTheRootAndAddsNoNode)
{
    RESYN_COMPILE c(blif_text(k_four, CDB_FAMILY_BRK), CDB_FAMILY_BRK, LATE_FSYN_FLOW);
    MORV_PARAMETER_MAP params;
    MORV_RESYN_BRK r(c.api, &params);
    CDB_ATOM_NODE* y = lut_named(c.design->netlist(), "y");
    RESYN_SOLN soln = solution_over(y);
    // y = d & !a over inputs (d, a).
    soln.luts.push_back(RESYN_SOLN_LUT{{3, 0}, 0});
    uint64_t mask = 0;
    {
        BDD_JBDD_MGR* m = r.get_bdd_mgr();
        r.bdd_to_lutmask(m->ithvar(0) & m->nithvar(1), {0, 1}, 0, mask, 0);
    }
    soln.luts[0].mask = mask;
    CDB_ATOM_OTERM* a = soln.inputs[0].oterm;
    CDB_ATOM_OTERM* d = soln.inputs[3].oterm;
    const int before = count_nodes(c.design->netlist());
    r.implement_solution(soln);
    EXPECT_EQ(count_nodes(c.design->netlist()), before);
    EXPECT_EQ(y->get_input_term_by_type(DB_DATA_A)->get_source(), d);
    EXPECT_EQ(y->get_input_term_by_type(DB_DATA_B)->get_source(), a);
    for (int k = 2; k < 6; ++k) {
        CDB_ATOM_ITERM* t = y->get_input_term_by_type(DB_DATA_A + k);
        EXPECT_TRUE(t == nullptr || !t->is_connected()) << k;
    }
    EXPECT_EQ(y->get_lutmask().get_value(), mask);
}

TEST(ResynCommit, DivisorLutsAreNewNodesNextToTheRootAndTheNetworkKeepsTheFunction)
{
    RESYN_COMPILE c(blif_text(k_four, CDB_FAMILY_BRK), CDB_FAMILY_BRK, LATE_FSYN_FLOW);
    blif_write_netlist_file(*c.design->netlist(), "commit_before.blif", "top");
    MORV_PARAMETER_MAP params;
    MORV_RESYN_BRK r(c.api, &params);
    CDB_ATOM_NODE* y = lut_named(c.design->netlist(), "y");
    RESYN_SOLN soln = solution_over(y);
    BDD_JBDD_MGR* m = r.get_bdd_mgr();
    // Divisor 4 = a & b, divisor 5 = c & d, root = 4 | 5.
    auto lut = [&](const BDD_JBDD& f, std::vector<int> inputs) {
        RESYN_SOLN_LUT l{inputs, 0};
        std::vector<int> support;
        for (size_t i = 0; i < inputs.size(); ++i) support.push_back(static_cast<int>(i));
        r.bdd_to_lutmask(f, support, 0, l.mask, 0);
        return l;
    };
    soln.luts.push_back(lut(m->ithvar(0) & m->ithvar(1), {0, 1}));
    soln.luts.push_back(lut(m->ithvar(0) & m->ithvar(1), {2, 3}));
    soln.luts.push_back(lut(m->ithvar(0) | m->ithvar(1), {4, 5}));
    const int before = count_nodes(c.design->netlist());
    r.implement_solution(soln);
    EXPECT_EQ(count_nodes(c.design->netlist()), before + 2);
    ASSERT_EQ(soln.inputs.size(), 6u);
    CDB_ATOM_NODE* first = soln.inputs[4].oterm->get_my_node();
    EXPECT_NE(first->get_instance_name()->get_short_hpath().find("_RESYN"), std::string::npos);
    EXPECT_NE(soln.inputs[4].oterm->get_instance_name()->get_short_hpath().find("_BDD"), std::string::npos);
    MORV_LOC root_loc;
    MORV_LOC new_loc;
    ASSERT_TRUE(c.api->get_fsyn_chip_map()->get_node_location(static_cast<int>(y->get_id()), &root_loc));
    ASSERT_TRUE(c.api->get_fsyn_chip_map()->get_node_location(static_cast<int>(first->get_id()), &new_loc));
    EXPECT_EQ(new_loc.x, root_loc.x);
    EXPECT_EQ(new_loc.y, root_loc.y);
    blif_write_netlist_file(*c.design->netlist(), "commit_after.blif", "top");
    if (abc_is_available()) {
        const ABC_RESULT result = abc_check_equivalence("commit_before.blif", "commit_after.blif", false);
        EXPECT_TRUE(result.is_equivalent()) << result.m_output;
    }
}

TEST(ResynCommit, PreparedRootTakesItsThirdInputOnDWithTheMaskExchanged)
{
    RESYN_COMPILE c(blif_text(k_four, CDB_FAMILY_BRK), CDB_FAMILY_BRK, LATE_FSYN_FLOW);
    MORV_PARAMETER_MAP params;
    PREPARED_BRK r(c.api, &params);
    CDB_ATOM_NODE* y = lut_named(c.design->netlist(), "y");
    RESYN_SOLN soln = solution_over(y);
    BDD_JBDD_MGR* m = r.get_bdd_mgr();
    RESYN_SOLN_LUT l{{0, 1, 2}, 0};
    r.bdd_to_lutmask((m->ithvar(0) & m->ithvar(1)) | m->ithvar(2), {0, 1, 2}, 0, l.mask, 0);
    soln.luts.push_back(l);
    r.implement_solution(soln);
    EXPECT_EQ(y->get_input_term_by_type(DB_DATA_D)->get_source(), soln.inputs[2].oterm);
    CDB_ATOM_ITERM* on_c = y->get_input_term_by_type(DB_DATA_C);
    EXPECT_TRUE(on_c == nullptr || !on_c->is_connected());
    CDB_LUTMASK expected(6, l.mask);
    expected.switch_inputs(2, 3);
    EXPECT_EQ(y->get_lutmask().get_value(), expected.get_value());
    EXPECT_NE(expected.get_value(), l.mask);
}

TEST(ResynCommit, RootInputsAreClearedAndConeInputsBringTheirProperties)
{
    BPM_BOUNDARY_PORT_MANAGER* manager = nullptr;
    int port = -1;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = blif_text(k_four, CDB_FAMILY_BRK);
    CDB_ATOM_NODE* y = lut_named(netlist.get(), "y");
    CDB_ATOM_ITERM* on_c = y->get_input_term_by_type(DB_DATA_C);
    on_c->set_invert();
    on_c->set_global(2);
    on_c->set_connected_to_delay_chain(8, true);
    RESYN_COMPILE c(std::move(netlist), CDB_FAMILY_BRK, LATE_FSYN_FLOW, [&](HOST_DESIGN& d) {
        manager = d.install_boundary_port_manager();
        port = manager->create_port("p|c");
        manager->assign_port_id(on_c, port);
    });
    MORV_PARAMETER_MAP params;
    MORV_RESYN_BRK r(c.api, &params);
    RESYN_SOLN soln = solution_over(y);
    // Input 0 of the new root reads b as the cone input that had d's
    // settings; input 1 reads d, a plain signal without binding.
    soln.inputs[1].is_input = true;
    soln.inputs[1].props.inverted = true;
    soln.inputs[1].props.global_setting = 4;
    soln.inputs[1].bp_id = port;
    RESYN_SOLN_LUT l{{1, 3}, 0};
    r.bdd_to_lutmask(r.get_bdd_mgr()->ithvar(0) | r.get_bdd_mgr()->ithvar(1), {0, 1}, 0, l.mask, 0);
    soln.luts.push_back(l);
    r.implement_solution(soln);
    CDB_ATOM_ITERM* first = y->get_input_term_by_type(DB_DATA_A);
    EXPECT_FALSE(first->is_inverted());  // the cone function reads through it
    EXPECT_EQ(first->get_global(), 4);
    EXPECT_EQ(c.api->get_assigned_boundary_port_id(first), port);
    CDB_ATOM_ITERM* second = y->get_input_term_by_type(DB_DATA_B);
    EXPECT_EQ(second->get_global(), 0);
    EXPECT_EQ(c.api->get_assigned_boundary_port_id(second), -1);
    // The old third input is free and keeps nothing of its signal.
    EXPECT_FALSE(on_c->is_connected());
    EXPECT_FALSE(on_c->is_inverted());
    EXPECT_EQ(on_c->get_global(), 0);
    EXPECT_FALSE(on_c->is_connected_to_delay_chain(8));
    EXPECT_EQ(c.api->get_assigned_boundary_port_id(on_c), -1);
}

TEST(ResynCommit, LoggingChangesNoEdit)
{
    std::string text[2];
    for (bool logging : {false, true}) {
        RESYN_COMPILE c(read_blif(source("bench/iscas89_k6/s1423.blif"), CDB_FAMILY_BRK), CDB_FAMILY_BRK,
                        LATE_FSYN_FLOW);
        c.api->get_fsyn_cdb_interface()->set_logging(logging);
        MORV_PARAMETER_MAP params = params_of("ABB=4:ABE=4");
        MORV_RESYN_BRK r(c.api, &params);
        int done = 0;
        for (int iter = 0; iter < 2; ++iter) done += r.do_iter();
        EXPECT_GT(done, 0);
        c.api->get_fsyn_cdb_interface()->set_logging(false);
        blif_write_netlist_file(*c.design->netlist(), "logged.blif", "top");
        std::ifstream in("logged.blif");
        std::stringstream all;
        all << in.rdbuf();
        // New names count up through the process: compare them without numbers.
        text[logging ? 1 : 0] = without_name_numbers(all.str());
    }
    EXPECT_EQ(text[0], text[1]);
}

// ---------------------------------------------------------------- single node

TEST(ResynNode, MessagesOfTheSingleNodeEntry)
{
    RESYN_COMPILE c(read_blif(source("bench/iscas89_k6/s27.blif"), CDB_FAMILY_BRK), CDB_FAMILY_BRK);
    MORV_PARAMETER_MAP params;
    MORV_RESYN_BRK r(c.api, &params);
    MORV_LOG_CAPTURE log(1);
    EXPECT_FALSE(r.resynthesize_node(999999));
    EXPECT_TRUE(printed(log.lines(), "Attempting to resynthesize node 999999."));
    EXPECT_TRUE(printed(log.lines(), "Atom not found."));
    CDB_ATOM_NODE* reg = nullptr;
    for (CDB_ATOM_NODE* node : *c.design->netlist())
        if (node->get_output_term_by_type(DB_REG_OUT) != nullptr && !node->is_lcell_comb()) reg = node;
    ASSERT_NE(reg, nullptr);
    EXPECT_FALSE(r.resynthesize_node(static_cast<int>(reg->get_id())));
    EXPECT_TRUE(printed(log.lines(), "Unable to resynthesize. Node checks failed."));
}

TEST(ResynNode, AFailedDivisionEditsNothing)
{
    RESYN_COMPILE c(blif_text(k_four, CDB_FAMILY_BRK), CDB_FAMILY_BRK, LATE_FSYN_FLOW);
    blif_write_netlist_file(*c.design->netlist(), "node_before.blif", "top");
    // Nothing to expand and a function that fits: neither faster nor smaller.
    MORV_PARAMETER_MAP params;
    MORV_RESYN_BRK r(c.api, &params);
    MORV_LOG_CAPTURE log(1);
    EXPECT_FALSE(r.resynthesize_node(static_cast<int>(lut_named(c.design->netlist(), "y")->get_id())));
    EXPECT_TRUE(printed(log.lines(), "Resyn operation failed."));
    EXPECT_FALSE(printed(log.lines(), "performing timing analysis"));
    blif_write_netlist_file(*c.design->netlist(), "node_after.blif", "top");
    std::ifstream a("node_before.blif");
    std::ifstream b("node_after.blif");
    std::stringstream sa;
    std::stringstream sb;
    sa << a.rdbuf();
    sb << b.rdbuf();
    EXPECT_EQ(sa.str(), sb.str());
}

namespace {

// carry_flag: every third UVO cell outside a chain is flagged to read its
// (unconnected) carry-in in place of data C, as a stored netlist may say.
template <typename FAMILY>
void resynthesize_every_lut(const char* path, int family, int every, bool carry_flag = false)
{
    RESYN_COMPILE c(read_blif(source(path), family), family, LATE_FSYN_FLOW);
    int cells = 0;
    for (CDB_ATOM_NODE* node : *c.design->netlist())
        if (carry_flag && node->is_lcell() && node->get_input_term_by_type(DB_CARRY_IN) == nullptr && ++cells % 3 == 0)
            node->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
    blif_write_netlist_file(*c.design->netlist(), "each_before.blif", "top");
    MORV_PARAMETER_MAP params;
    FAMILY r(c.api, &params);
    std::vector<int> ids;
    for (CDB_ATOM_NODE* node : *c.design->netlist())
        if (r.is_lut_node(node)) ids.push_back(static_cast<int>(node->get_id()));
    int successes = 0;
    int compared = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!r.resynthesize_node(ids[i])) continue;
        ++successes;
        if (successes % every != 0) continue;
        const auto after = all_slacks(c.api);
        c.api->get_fsyn_timing()->sync_timing_netlist(false, true);
        c.api->get_fsyn_timing()->perform_timing_analysis();
        EXPECT_EQ(after, all_slacks(c.api)) << path << " after node " << ids[i];
        ++compared;
    }
    std::printf("%s: %zu LUTs, %d resynthesized, %d analyses compared\n", path, ids.size(), successes, compared);
    EXPECT_GT(successes, 0) << path;
    blif_write_netlist_file(*c.design->netlist(), "each_after.blif", "top");
    if (abc_is_available()) {
        const ABC_RESULT result = abc_check_equivalence("each_before.blif", "each_after.blif", true);
        EXPECT_TRUE(result.is_equivalent()) << path << ": " << result.m_output;
    }
}

}  // namespace

TEST(ResynNode, EveryLutInTurnKeepsTheDesignAndItsAnalysisIsFresh)
{
    if (k_small_designs_only) {
        resynthesize_every_lut<MORV_RESYN_BRK>("bench/iscas89_k6/s1423.blif", CDB_FAMILY_BRK, 1);
        resynthesize_every_lut<MORV_RESYN_UVO>("bench/mcnc_k4/ex5p.blif", CDB_FAMILY_UVO, 4, true);
        return;
    }
    resynthesize_every_lut<MORV_RESYN_ZEPLA>("bench/mcnc_k4/alu4.blif", CDB_FAMILY_ZEPLA, 1);
    resynthesize_every_lut<MORV_RESYN_BRK>("bench/mcnc_k4/frisc.blif", CDB_FAMILY_BRK, 1);
    resynthesize_every_lut<MORV_RESYN_UVO>("bench/mcnc_k4/ex5p.blif", CDB_FAMILY_UVO, 4, true);
}

// ---------------------------------------------------------------- dot dump

TEST(ResynDot, OneCompleteGraphPerAcceptedRoot)
{
    const std::filesystem::path home = std::filesystem::current_path();
    const std::filesystem::path folder = home / "dot";
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    std::filesystem::remove("resynth.dot");
    cfg_set_value("fsyn_resyn_dump_dot", "on");
    const char* path = k_small_designs_only ? "bench/iscas89_k6/s1423.blif" : "bench/mcnc_k4/frisc.blif";
    int accepted = 0;
    {
        RESYN_COMPILE c(read_blif(source(path), CDB_FAMILY_BRK), CDB_FAMILY_BRK, LATE_FSYN_FLOW);
        MORV_PARAMETER_MAP params = params_of("ME=200:ABB=2:ABE=2");
        MORV_RESYN_BRK r(c.api, &params);
        MORV_LOG_CAPTURE log(100);
        r.do_iter();
        for (const std::string& line : log.lines())
            if (line.rfind("improved ", 0) == 0) ++accepted;
    }
    cfg_unset("fsyn_resyn_dump_dot");
    std::ifstream in("resynth.dot");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::filesystem::current_path(home);
    int graphs = 0;
    bool open = false;
    for (const std::string& line : lines) {
        if (line.rfind("digraph G", 0) == 0) {
            EXPECT_FALSE(open);
            EXPECT_EQ(line, "digraph G" + std::to_string(graphs) + " {");
            open = true;
            ++graphs;
        } else if (line == "}") {
            EXPECT_TRUE(open);
            open = false;
        } else {
            EXPECT_TRUE(open) << line;
        }
    }
    EXPECT_FALSE(open);
    EXPECT_GT(accepted, 0);
    EXPECT_EQ(graphs, accepted);
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "  o [style = filled, color = lavender];") != lines.end());
}

// ---------------------------------------------------------------- zero threshold

namespace {

// Two register-to-register chains of two-input LUTs, alternately xor and
// and: "a1" .. "a48" and "b1" .. "b46". Timed below the longer one, every
// LUT of chain a has slack ratio 0, far more than the quantile's share.
std::string two_chains()
{
    std::string text = ".model chains\n.inputs clk\n.outputs qa qb\n";
    for (const auto& [chain, length] : {std::pair<char, int>{'a', 48}, {'b', 46}}) {
        const std::string c(1, chain);
        text += ".inputs";
        for (int k = 0; k <= length; ++k) text += " d" + c + std::to_string(k);
        text += "\n";
        for (int k = 0; k <= length; ++k)
            text += ".latch d" + c + std::to_string(k) + " r" + c + std::to_string(k) + " re clk 0\n";
        std::string previous = "r" + c + "0";
        for (int k = 1; k <= length; ++k) {
            const std::string out = c + std::to_string(k);
            text += ".names " + previous + " r" + c + std::to_string(k) + " " + out + "\n";
            text += k % 2 == 0 ? "11 1\n" : "10 1\n01 1\n";
            previous = out;
        }
        text += ".latch " + previous + " q" + c + " re clk 0\n";
    }
    return text + ".end\n";
}

int count_luts(CDB_ATOM_NETLIST* netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : *netlist) n += node->is_lcell_comb() ? 1 : 0;
    return n;
}

// The LUTs that feed register `reg` and the most of them on one path.
struct CONE_SIZE
{
    int luts = 0;
    int depth = 0;
};

int lut_depth(CDB_ATOM_OTERM* oterm, std::map<CDB_ATOM_NODE*, int>& depths)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (!node->is_lcell_comb()) return 0;
    auto found = depths.find(node);
    if (found != depths.end()) return found->second;
    int depth = 0;
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in)
        if ((*in)->get_source() != nullptr) depth = std::max(depth, lut_depth((*in)->get_source(), depths));
    return depths[node] = depth + 1;
}

CONE_SIZE register_cone(CDB_ATOM_NETLIST* netlist, const std::string& reg)
{
    std::map<CDB_ATOM_NODE*, int> depths;
    CONE_SIZE size;
    for (CDB_ATOM_NODE* node : *netlist) {
        CDB_ATOM_OTERM* q = node->get_output_term_by_type(DB_REG_OUT);
        if (q == nullptr || node->is_lcell_comb() || node->get_instance_name()->get_short_hpath() != reg) continue;
        for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in)
            if ((*in)->get_source() != nullptr)
                size.depth = std::max(size.depth, lut_depth((*in)->get_source(), depths));
    }
    size.luts = static_cast<int>(depths.size());
    return size;
}

}  // namespace

// Once the fraction's worth of LUTs has no slack ratio left, the quantile
// is 0 and the strict test admitted no root (nothing changed). The ties at
// the worst slack are admitted: chain a is resynthesized into fewer LUTs,
// chain b (above 0, more slack) is left alone, and ABC proves the design
// unchanged.
TEST(ResynZeroThreshold, TiesAtZeroAreAdmittedWorstSlackFirstAndKeepTheDesign)
{
    RESYN_COMPILE c(blif_text(two_chains(), CDB_FAMILY_BRK), CDB_FAMILY_BRK, LATE_FSYN_FLOW);
    CDB_ATOM_NETLIST* netlist = c.design->netlist();
    blif_write_netlist_file(*netlist, "chains_before.blif", "top");
    MORV_PARAMETER_MAP params;
    MORV_RESYN_BRK r(c.api, &params);
    ASSERT_EQ(count_luts(netlist), 94);
    ASSERT_EQ(register_cone(netlist, "qa").depth, 48);
    const int slack_a = r.get_min_data_input_slack(lut_named(netlist, "a24"));
    const int slack_b = r.get_min_data_input_slack(lut_named(netlist, "b23"));
    ASSERT_LT(slack_a, slack_b);
    // Chain a is the critical path, at ratio 0; chain b is just above.
    MORV_TIMING* timing = c.api->get_fsyn_timing();
    auto worst_ratio = [&](const char* name) {
        CDB_ATOM_NODE* lut = lut_named(netlist, name);
        double worst = 1.0;
        for (int k = 0; k < 2; ++k)
            worst = std::min(worst, timing->get_slack_ratio(lut->get_input_term_by_type(DB_DATA_A + k)));
        return worst;
    };
    ASSERT_DOUBLE_EQ(worst_ratio("a24"), 0.0);
    ASSERT_GT(worst_ratio("b23"), 0.0);
    ASSERT_DOUBLE_EQ(r.get_slack_ratio_quantile(0.12), 0.0);

    MORV_LOG_CAPTURE log(100);
    const int implemented = r.do_iter();
    EXPECT_DOUBLE_EQ(r.get_sr_threshold(), 0.0);
    EXPECT_TRUE(r.admits_zero_ratio_ties());
    EXPECT_EQ(r.get_zero_ratio_tie_slack(), slack_a);
    std::map<char, int> roots;
    for (const std::string& line : log.lines()) {
        if (line.rfind("resynthesis at ", 0) != 0) continue;
        const std::string name = line.substr(line.rfind('|') == std::string::npos ? 15 : line.rfind('|') + 1);
        roots[name[0]] += 1;
    }
    EXPECT_EQ(roots['a'], 48);
    EXPECT_EQ(roots['b'], 0);
    EXPECT_GT(implemented, 0);
    for (int k = 1; k <= 46; ++k) EXPECT_NE(lut_named(netlist, "b" + std::to_string(k)), nullptr) << k;
    const CONE_SIZE a = register_cone(netlist, "qa");
    const CONE_SIZE b = register_cone(netlist, "qb");
    std::printf("chain a: %d LUTs, %d deep (48 and 48 before)\n", a.luts, a.depth);
    EXPECT_LE(a.luts, 20);
    EXPECT_LE(a.depth, 18);
    EXPECT_EQ(b.luts, 46);
    EXPECT_EQ(b.depth, 46);

    blif_write_netlist_file(*netlist, "chains_after.blif", "top");
    if (!abc_is_available()) return;
    const ABC_RESULT result = abc_check_equivalence("chains_before.blif", "chains_after.blif", false);
    EXPECT_TRUE(result.is_equivalent()) << result.m_output;
}

// y reads a and the late b3 (b0 through three buffers) but its mask ignores
// b3: resynthesis keeps y = a and cuts the path from b3. A root in a
// partition has that partition's boundary-port information set aside.
// y2 = a & b3 reads both and cuts nothing. ABC proves each result equal to the design it started from.
TEST(ResynCutPath, ARootThatDropsAConeInputIgnoresItsPartitionsPortInformation)
{
    const char* const text = ".model cut\n.inputs a b0\n.outputs y y2\n.names b0 b1\n1 1\n.names b1 b2\n1 1\n"
                             ".names b2 b3\n1 1\n.names a b3 y\n1- 1\n.names a b3 y2\n11 1\n.end\n";
    struct CASE
    {
        const char* what;
        int partition;  // y's; -1 none
        const char* root;
        bool cut;
    };
    const CASE cases[] = {{"y in no partition", -1, "y", true},
                          {"y in partition 2", 2, "y", true},
                          {"y2 in partition 2", 2, "y2", false}};
    const RESYN_SWITCH gate_off("fsyn_resyn_use_guardband_slack", "off");
    for (const CASE& k : cases) {
        BPM_BOUNDARY_PORT_MANAGER* bpm = nullptr;
        RESYN_COMPILE c(blif_text(text, CDB_FAMILY_BRK), CDB_FAMILY_BRK, FIT_EARLY_FSYN_FLOW, [&](HOST_DESIGN& d) {
            bpm = d.install_boundary_port_manager();
            bpm->add_partition(3);
            if (k.partition >= 0) bpm->add_atom_to_partition(lut_named(d.netlist(), k.root)->get_id(), k.partition);
        });
        blif_write_netlist_file(*c.design->netlist(), "cut_before.blif", "top");
        const MORV_PARAMETER_MAP params = params_of("ASRN=1:ASRX=1:NI=1");
        MORV_RESYN_BRK r(c.api, &params);
        MORV_LOG_CAPTURE log(100);
        EXPECT_GT(r.do_iter(), 0) << k.what;
        const std::vector<std::string> lines = log.lines();
        auto said = [&](const std::string& start, const std::string& end) {
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.rfind(start, 0) == 0 && l.size() >= end.size() &&
                       l.compare(l.size() - end.size(), end.size(), end) == 0;
            });
        };
        EXPECT_EQ(said("resynthesis of ", "|" + std::string(k.root) + " cut a path.") ||
                      said("resynthesis of " + std::string(k.root), " cut a path."),
                  k.cut)
            << k.what;
        const bool ignored = k.cut && k.partition >= 0;
        EXPECT_EQ(printed(lines, "ignoring partition info for 2."), ignored) << k.what;
        EXPECT_EQ(bpm->is_partition_ignored(2), ignored) << k.what;
        EXPECT_FALSE(bpm->is_partition_ignored(3)) << k.what;
        if (k.cut) {
            // y reads a alone now.
            CDB_ATOM_NODE* y = lut_named(c.design->netlist(), "y");
            int connected = 0;
            for (auto in = y->begin_iterm(); in != y->end_iterm(); ++in) connected += (*in)->is_connected() ? 1 : 0;
            EXPECT_EQ(connected, 1) << k.what;
        }
        blif_write_netlist_file(*c.design->netlist(), "cut_after.blif", "top");
        if (!abc_is_available()) continue;
        const ABC_RESULT result = abc_check_equivalence("cut_before.blif", "cut_after.blif", false);
        EXPECT_TRUE(result.is_equivalent()) << k.what << ": " << result.m_output;
    }
}

// ---------------------------------------------------------------- families

TEST(ResynFamily, DefaultsAndOverrides)
{
    struct CASE
    {
        int family;
        double afrb;
        double asrx;
        int abe;
        int ports;
    };
    const char* k4 = ".model f\n.inputs a b\n.outputs y\n.names a b y\n11 1\n.end\n";
    for (const CASE& k : {CASE{CDB_FAMILY_TEV, 0.16, 1.0, 4, 4}, CASE{CDB_FAMILY_ZEPLA, 0.12, 1.0, 4, 4},
                          CASE{CDB_FAMILY_BRK, 0.12, 0.33, 2, 6}, CASE{CDB_FAMILY_OBRAN, 0.2, 0.33, 2, 6},
                          CASE{CDB_FAMILY_MRL, 0.12, 1.0, 2, 6}, CASE{CDB_FAMILY_UVO, 0.12, 1.0, 4, 4}}) {
        RESYN_COMPILE c(blif_text(k4, k.family), k.family);
        MORV_PARAMETER_MAP none;
        MORV_OWNER<MORV_ALGORITHM_BASE> made;
        const std::string name = std::string("MORV_RESYN_") + cdb_get_family_info(k.family)->name;
        ASSERT_TRUE(morv_make_family_algorithm(name, c.api, &none, &made)) << name;
        auto* r = dynamic_cast<MORV_RESYN*>(made.get());
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->get_num_data_ports(), k.ports) << name;
        EXPECT_DOUBLE_EQ(r->get_quantile_fraction(0), k.afrb) << name;
        EXPECT_DOUBLE_EQ(r->get_area_sr_max(), k.asrx) << name;
        EXPECT_EQ(r->get_area_bound_end(), k.abe) << name;
        MORV_PARAMETER_MAP three = params_of("ABE=3");
        ASSERT_TRUE(morv_make_family_algorithm(name, c.api, &three, &made)) << name;
        EXPECT_EQ(dynamic_cast<MORV_RESYN*>(made.get())->get_area_bound_end(), 3) << name;
    }
}

TEST(ResynFamily, MrlAsksItsLegaliserOnlyFromFiveVariables)
{
    const char* k4 = ".model f\n.inputs a b\n.outputs y\n.names a b y\n11 1\n.end\n";
    RESYN_COMPILE c(blif_text(k4, CDB_FAMILY_MRL), CDB_FAMILY_MRL);
    MORV_PARAMETER_MAP params;
    MORV_RESYN_MRL r(c.api, &params);
    BDD_JBDD_MGR* m = r.get_bdd_mgr();
    BDD_JBDD f = m->true_bdd();
    for (int i = 0; i < 4; ++i) f = f & m->ithvar(i);
    EXPECT_TRUE(r.is_lut_function_legal(f, {0, 1, 2, 3}));
    EXPECT_EQ(r.get_legality_queries(), 0);
    r.is_lut_function_legal(f & m->ithvar(4), {0, 1, 2, 3, 4});
    EXPECT_EQ(r.get_legality_queries(), 1);
}

// A UVO cell whose register data port (0 or 29) is in use offers three LUT
// inputs; other cells all four. A 4-input root is marked as a four-input
// cell.
TEST(ResynFamily, UvoOffersThreeInputsBesideARegisterDataPortAndFourInputRootsAreMarked)
{
    const char* blif = ".model uvo\n.inputs a b c s\n.outputs z\n.names a b n1\n11 1\n"
                       ".names n1 c z\n1- 1\n-1 1\n.end\n";
    for (int data_port : {DB_SYNCH_DATA, DB_ASYNCH_DATA}) {
        std::unique_ptr<CDB_ATOM_NETLIST> netlist = blif_text(blif, CDB_FAMILY_UVO);
        CDB_ATOM_NODE* z = lut_named(netlist.get(), "z");
        CDB_ATOM_OTERM* s = nullptr;
        for (CDB_ATOM_NODE* other : *netlist)
            if (other->is_pin() && other->get_instance_name() != nullptr &&
                other->get_instance_name()->get_short_hpath() == "s")
                s = other->get_output_term(0);
        ASSERT_NE(s, nullptr);
        z->add_input_term(data_port)->insert_fanin(s);
        RESYN_COMPILE c(std::move(netlist), CDB_FAMILY_UVO);
        MORV_PARAMETER_MAP params;
        MORV_RESYN_UVO r(c.api, &params);
        EXPECT_EQ(r.get_available_inputs(z), 3) << data_port;
        EXPECT_EQ(r.get_available_inputs(lut_named(c.design->netlist(), "n1")), 4) << data_port;
    }
    RESYN_COMPILE c(blif_text(blif, CDB_FAMILY_ZEPLA), CDB_FAMILY_ZEPLA);
    MORV_PARAMETER_MAP params;
    MORV_RESYN_ZEPLA r(c.api, &params);
    CDB_ATOM_NODE* z = lut_named(c.design->netlist(), "z");
    z->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    r.mark_node(z);
    EXPECT_TRUE(z->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
}

}  // namespace resyn_commit_test
