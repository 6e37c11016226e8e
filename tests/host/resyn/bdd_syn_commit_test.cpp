// BDD resynthesis commits: the area acceptance, the rebuild of the base
// node and the new LUTs (every function checked against the host's
// evaluation of the netlist before), constants, inversions, boundary ports
// and the change log; the family classes' tuning and hooks; the MRL
// legality test.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "log_capture.h"
#include "../../support/abc_equiv.h"
#include "bdd_syn_fixture.h"
#include "bpm/bpm_boundary_port_manager.h"
#include "io/blif_writer.h"
#include "morv/log/morv_log.h"
#include "log_records.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/resyn/morv_bdd_syn_family.h"
#include "test_build.h"

namespace bdd_syn_commit_test {

using namespace bdd_syn_test;

namespace {

std::string write_blif(const std::string& name, const std::string& body)
{
    std::ofstream(name) << body;
    return name;
}

// What the tests ask of any family's open object.
class OPEN_ANY
{
public:
    virtual ~OPEN_ANY() = default;
    virtual bool run_node(CDB_ATOM_NODE* base, double area_limit) = 0;
    virtual int do_iter() = 0;
};

// A family class with its insides open to the tests.
template <typename FAMILY>
class OPEN_SYN : public FAMILY, public OPEN_ANY
{
public:
    explicit OPEN_SYN(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr) : FAMILY(api, params) {}
    int do_iter() override { return FAMILY::do_iter(); }
    using MORV_BDD_SYN::m_area_accept_bgn;
    using MORV_BDD_SYN::m_area_accept_curr;
    using MORV_BDD_SYN::m_area_accept_end;
    using MORV_BDD_SYN::m_avg_logic_level_delay;
    using MORV_BDD_SYN::m_avg_lut_delay;
    using MORV_BDD_SYN::m_avg_routing_delay;
    using MORV_BDD_SYN::m_bdd_mgr;
    using MORV_BDD_SYN::m_done_nodes;
    using MORV_BDD_SYN::m_fast_logic_level_delay;
    using MORV_BDD_SYN::m_max_bdd_nodes;
    using MORV_BDD_SYN::m_max_bdd_vars;
    using MORV_BDD_SYN::m_max_expansions;
    using MORV_BDD_SYN::m_max_iterations;
    using MORV_BDD_SYN::m_num_data_ports;
    using MORV_BDD_SYN::m_slack_ratio_bgn;
    using MORV_BDD_SYN::m_slack_ratio_curr;
    using MORV_BDD_SYN::m_slack_ratio_end;
    using MORV_BDD_SYN::m_slack_ratio_factor;
    using MORV_BDD_SYN::m_vars;
    using MORV_BDD_SYN::score_node;

    // The per-node flow on one base node with every input counted critical.
    bool run_node(CDB_ATOM_NODE* base, double area_limit) override
    {
        // Before placement the early flows enter every atom at LAB (0, 0).
        MORV_LOC loc;
        MORV_CHIP_MAP* map = this->m_fsyn_api->get_fsyn_chip_map();
        if (map == nullptr || !map->get_node_location(static_cast<int>(base->get_id()), &loc))
            this->m_fsyn_api->reset_fsyn_chip_map(true);
        this->m_slack_ratio_curr = 1.0;
        this->m_area_accept_curr = area_limit;
        MORV_BDD_SYN_SCORE entry;
        if (!this->score_node(base, &entry)) return false;
        return this->resynthesize_node(entry);
    }
};

// The host's evaluation of one output over the sources that are not LUTs.
class TRUTH_TABLE
{
public:
    // The leaves are found on the first table and kept for later ones.
    std::vector<unsigned> of(CDB_ATOM_OTERM* out)
    {
        gather(out);
        std::vector<unsigned> table;
        for (unsigned a = 0; a < (1u << m_leaves.size()); ++a) {
            std::map<CDB_ATOM_OTERM*, unsigned> memo;
            table.push_back(value(out, a, memo));
        }
        return table;
    }
    size_t leaves() const { return m_leaves.size(); }
    bool ok = true;

private:
    static bool is_lut(CDB_ATOM_OTERM* o)
    {
        CDB_ATOM_NODE* n = o->get_my_node();
        return (n->is_lcell_comb() || n->is_lcell()) && o->get_usage() == DB_COMB_OUT;
    }
    void gather(CDB_ATOM_OTERM* o)
    {
        if (!is_lut(o)) {
            if (m_leaves.count(o) == 0) {
                const int next = static_cast<int>(m_leaves.size());
                m_leaves[o] = next;
            }
            return;
        }
        for (int port : CDB_ATOM_NODE::EVALUATE_INPUT_PORTS) {
            CDB_ATOM_ITERM* t = o->get_my_node()->get_input_term_by_type(port);
            if (t != nullptr && t->is_connected() && t->is_driven()) gather(t->get_source());
        }
    }
    unsigned value(CDB_ATOM_OTERM* o, unsigned a, std::map<CDB_ATOM_OTERM*, unsigned>& memo)
    {
        if (!is_lut(o)) return (a >> m_leaves.at(o)) & 1u;
        auto known = memo.find(o);
        if (known != memo.end()) return known->second;
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k) {
            CDB_ATOM_ITERM* t = o->get_my_node()->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]);
            if (t == nullptr || !t->is_connected()) continue;
            if (!t->is_driven()) in[k] = t->is_logical_vcc() ? 1u : 0u;
            else in[k] = value(t->get_source(), a, memo) ^ (t->reads_complemented() ? 1u : 0u);
        }
        return memo[o] = o->get_my_node()->evaluate_output(o->get_usage(), in) & 1u;
    }

    std::map<CDB_ATOM_OTERM*, int> m_leaves;
};

// The LUT of that name, a combinational cell or (UVO) a logic cell.
CDB_ATOM_NODE* lut_named(const BDD_COMPILE& c, const std::string& name)
{
    for (CDB_ATOM_NODE* node : *c.design->netlist())
        if ((node->is_lcell_comb() || node->is_lcell()) && short_name(node) == name) return node;
    return nullptr;
}

CDB_ATOM_OTERM* comb_out(CDB_ATOM_NODE* node)
{
    return node->get_output_term_by_type(DB_COMB_OUT);
}

// The LUTs named after the base node by the rebuild.
std::vector<CDB_ATOM_NODE*> new_luts(CDB_ATOM_NETLIST& netlist)
{
    std::vector<CDB_ATOM_NODE*> out;
    for (CDB_ATOM_NODE* node : netlist)
        if (short_name(node).find("_BDD") != std::string::npos) out.push_back(node);
    return out;
}

// a reaches n1 through a chain of three LUTs, so z's input n1 is the
// critical one; the cone of z after absorbing n1 is wider than one LUT.
const char* const k_wide6 = ".model wide6\n.inputs a b c d e f g p q\n.outputs z\n"
                            ".names a g a1\n11 1\n.names a1 g a2\n11 1\n.names a2 g a3\n11 1\n"
                            ".names a3 b c d e f n1\n11-1-1 1\n11--11 1\n1-11-1 1\n1-1-11 1\n"
                            ".names n1 p q z\n1-- 1\n-11 1\n.end\n";
const char* const k_wide4 = ".model wide4\n.inputs a b c d g p q\n.outputs z\n"
                            ".names a g a1\n11 1\n.names a1 g a2\n11 1\n.names a2 g a3\n11 1\n"
                            ".names a3 b c d n1\n11-1 1\n1-11 1\n"
                            ".names n1 p q z\n1-- 1\n-10 1\n.end\n";

const std::vector<int> k_all_families = {CDB_FAMILY_BRK,     CDB_FAMILY_ZEPLA, CDB_FAMILY_MRL,   CDB_FAMILY_TEV,
                                         CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK,   CDB_FAMILY_OBRAN, CDB_FAMILY_UVO};

// The family's class, opened.
std::unique_ptr<OPEN_ANY> make_open_syn(MORV_API* api)
{
    switch (api->get_base_family_code()) {
    case CDB_FAMILY_BRK: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_BRK>>(api, nullptr);
    case CDB_FAMILY_ZEPLA: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_ZEPLA>>(api, nullptr);
    case CDB_FAMILY_MRL: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_MRL>>(api, nullptr);
    case CDB_FAMILY_TEV: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_TEV>>(api, nullptr);
    case CDB_FAMILY_KESTLIN: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_KESTLIN>>(api, nullptr);
    case CDB_FAMILY_RZK: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_RZK>>(api, nullptr);
    case CDB_FAMILY_OBRAN: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_OBRAN>>(api, nullptr);
    default: return std::make_unique<OPEN_SYN<MORV_BDD_SYN_UVO>>(api, nullptr);
    }
}

// The class the flow driver names for BDD resynthesis in the family.
std::string class_of(int family)
{
    switch (family) {
    case CDB_FAMILY_BRK: return "MORV_BDD_SYN_BRK";
    case CDB_FAMILY_ZEPLA: return "MORV_BDD_SYN_ZEPLA";
    case CDB_FAMILY_MRL: return "MORV_BDD_SYN_MRL";
    case CDB_FAMILY_TEV: return "MORV_BDD_SYN_TEV";
    case CDB_FAMILY_KESTLIN: return "MORV_BDD_SYN_KESTLIN";
    case CDB_FAMILY_RZK: return "MORV_BDD_SYN_RZK";
    case CDB_FAMILY_OBRAN: return "MORV_BDD_SYN_OBRAN";
    default: return "MORV_BDD_SYN_UVO";
    }
}

}  // namespace

// ---------------------------------------------------------------- acceptance

TEST(BddSynCommit, OneExpansionWithoutDuplicationGivesHalfAndARejectionEditsNothing)
{
    // n1 feeds z only: absorbing it leaves one LUT where there were two.
    const std::string blif = write_blif("half.blif", ".model half\n.inputs a b c g\n.outputs z\n"
                                                     ".names a g a1\n11 1\n.names a1 g a2\n11 1\n"
                                                     ".names a2 b n1\n10 1\n.names n1 c z\n11 1\n.end\n");
    for (double limit : {0.5, 0.51}) {
        BDD_COMPILE c(blif, CDB_FAMILY_BRK);
        MORV_PARAMETER_MAP one{{"ME", "1"}};
        OPEN_SYN<MORV_BDD_SYN_BRK> syn(c.api, &one);
        CDB_ATOM_NODE* z = lut_named(c, "z");
        blif_write_netlist_file(*c.design->netlist(), "before.blif");
        TRUTH_TABLE tt;
        const std::vector<unsigned> before = tt.of(comb_out(z));
        MORV_LOG_CAPTURE log(100);
        const bool accepted = syn.run_node(z, limit);
        bool half = false;
        for (const std::string& line : log.lines()) half = half || line == "  decomp area ratio: 0.500000";
        EXPECT_TRUE(half) << limit;
        EXPECT_EQ(accepted, limit > 0.5);
        blif_write_netlist_file(*c.design->netlist(), "after.blif");
        std::ifstream a("before.blif"), b("after.blif");
        const std::string text_a((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
        const std::string text_b((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
        if (!accepted) EXPECT_EQ(text_a, text_b);
        else {
            EXPECT_EQ(tt.of(comb_out(z)), before);
            EXPECT_TRUE(new_luts(*c.design->netlist()).empty());  // the root alone re-expresses the cone
            EXPECT_EQ(syn.m_done_nodes.count(static_cast<int>(z->get_id())), 1u);
        }
    }
    std::remove("half.blif");
    std::remove("before.blif");
    std::remove("after.blif");
}

// ---------------------------------------------------------------- rebuild

// Every family: the rebuilt cone computes what it did, new LUTs sit in the
// base node's LAB and read at most the family's LUT size.
TEST(BddSynCommit, EveryFamilyRebuildsTheConeWithTheFunctionTheHostEvaluatedBefore)
{
    for (int family : k_all_families) {
        const int size = cdb_family_lut_size(family);
        BDD_COMPILE c(write_blif("wide.blif", size == 6 ? k_wide6 : k_wide4), family, true);
        std::unique_ptr<OPEN_ANY> syn = make_open_syn(c.api);
        CDB_ATOM_NODE* z = lut_named(c, "z");
        ASSERT_NE(z, nullptr) << family;
        TRUTH_TABLE tt;
        const std::vector<unsigned> before = tt.of(comb_out(z));
        ASSERT_TRUE(syn->run_node(z, 10.0)) << family;
        EXPECT_EQ(tt.of(comb_out(z)), before) << family;
        const std::vector<CDB_ATOM_NODE*> made = new_luts(*c.design->netlist());
        EXPECT_FALSE(made.empty()) << family;
        int x = -1, y = -1, nx = -1, ny = -1;
        ASSERT_TRUE(c.api->get_fsyn_chip_map()->get_node_xy(static_cast<int>(z->get_id()), &x, &y));
        for (CDB_ATOM_NODE* n : made) {
            EXPECT_TRUE(c.api->get_fsyn_chip_map()->get_node_xy(static_cast<int>(n->get_id()), &nx, &ny));
            EXPECT_EQ(nx, x) << family;
            EXPECT_EQ(ny, y) << family;
            EXPECT_NE(MORV_NET_UTIL::get_hpath_name(comb_out(n)).find("_BDD"), std::string::npos);
            EXPECT_EQ(n->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB), size == 4) << family;
        }
        std::remove("wide.blif");
    }
}

TEST(BddSynCommit, ARootThatIgnoresAPositionLeavesThatInputDisconnected)
{
    // n1 = a2 ^ c and z = (n1 ^ c) & d: the cone is a2 & d, so of z's three
    // inputs the root reads two and the third stays unconnected.
    BDD_COMPILE c(write_blif("ignored.blif", ".model ignored\n.inputs a c d g\n.outputs z\n"
                                             ".names a g a1\n11 1\n.names a1 g a2\n11 1\n"
                                             ".names a2 c n1\n10 1\n01 1\n.names n1 c d z\n101 1\n011 1\n.end\n"),
                  CDB_FAMILY_ZEPLA);
    MORV_PARAMETER_MAP one{{"ME", "1"}};
    OPEN_SYN<MORV_BDD_SYN_ZEPLA> syn(c.api, &one);
    CDB_ATOM_NODE* z = lut_named(c, "z");
    TRUTH_TABLE tt;
    const std::vector<unsigned> before = tt.of(comb_out(z));
    ASSERT_TRUE(syn.run_node(z, 10.0));
    EXPECT_EQ(tt.of(comb_out(z)), before);
    for (int port : {DB_DATA_A, DB_DATA_B}) EXPECT_TRUE(z->get_input_term_by_type(port)->is_connected()) << port;
    CDB_ATOM_ITERM* third = z->get_input_term_by_type(DB_DATA_C);
    ASSERT_NE(third, nullptr);  // the term stays on the node
    EXPECT_FALSE(third->is_connected());
    std::remove("ignored.blif");
}

TEST(BddSynCommit, ConstantInputsBecomeTiesAndVccAndGndStayTwoVariables)
{
    const std::string blif = write_blif("consts.blif", ".model consts\n.inputs a b c d e f g p q v w\n.outputs z\n"
                                                       ".names a g a1\n11 1\n.names a1 g a2\n11 1\n"
                                                       ".names a2 g a3\n11 1\n"
                                                       ".names a3 b c d e f n1\n11-1-1 1\n11--11 1\n1-11-1 1\n"
                                                       ".names n1 p q v w z\n1---- 1\n-1110 1\n.end\n");
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL}) {
        BDD_COMPILE c(blif, family, false, [](CDB_ATOM_NETLIST& netlist) {
            for (CDB_ATOM_NODE* node : netlist) {
                if (!node->is_lcell_comb() || short_name(node) != "z") continue;
                CDB_ATOM_ITERM* v = node->get_input_term_by_type(DB_DATA_D);
                CDB_ATOM_ITERM* w = node->get_input_term_by_type(DB_DATA_E);
                v->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                v->set_vcc();
                w->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                w->set_gnd();
            }
        });
        std::unique_ptr<OPEN_ANY> syn = make_open_syn(c.api);
        CDB_ATOM_NODE* z = lut_named(c, "z");
        TRUTH_TABLE tt;
        const std::vector<unsigned> before = tt.of(comb_out(z));
        ASSERT_TRUE(syn->run_node(z, 10.0)) << family;
        EXPECT_EQ(tt.of(comb_out(z)), before) << family;
        int vcc = 0, gnd = 0;
        std::vector<CDB_ATOM_NODE*> nodes = new_luts(*c.design->netlist());
        nodes.push_back(z);
        for (CDB_ATOM_NODE* n : nodes)
            for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
                CDB_ATOM_ITERM* t = n->get_input_term_by_type(port);
                if (t == nullptr || !t->is_connected() || t->is_driven()) continue;
                vcc += t->is_vcc();
                gnd += t->is_gnd();
            }
        EXPECT_EQ(vcc, 1) << family;
        EXPECT_EQ(gnd, 1) << family;
    }
    std::remove("consts.blif");
}

// b reaches the cone twice, through n1 plainly and through z inverted: one
// variable, and after the rebuild no input is inverted (the function holds
// the inversion) while the truth table stays.
TEST(BddSynCommit, OneSourceThroughAnInvertedAndAPlainInputRebuildsToTheSameTruthTable)
{
    const std::string blif =
        write_blif("inv.blif", ".model inv\n.inputs a b c d g p r\n.outputs z\n"
                               ".names a g a1\n11 1\n.names a1 g a2\n11 1\n.names a2 g a3\n11 1\n"
                               ".names a3 b c d n1\n11-1 1\n1-11 1\n.names n1 p r z\n1-- 1\n-11 1\n.end\n");
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_BRK}) {
        BDD_COMPILE c(blif, family, false, [](CDB_ATOM_NETLIST& netlist) {
            CDB_ATOM_OTERM* b = nullptr;
            CDB_ATOM_NODE* z = nullptr;
            for (CDB_ATOM_NODE* node : netlist) {
                if (!node->is_lcell_comb()) continue;
                if (short_name(node) == "n1") b = node->get_input_term_by_type(DB_DATA_B)->get_source();
                if (short_name(node) == "z") z = node;
            }
            CDB_ATOM_ITERM* r = z->get_input_term_by_type(DB_DATA_C);
            r->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            r->insert_fanin(b);
            r->set_invert();
        });
        std::unique_ptr<OPEN_ANY> syn = make_open_syn(c.api);
        CDB_ATOM_NODE* z = lut_named(c, "z");
        TRUTH_TABLE tt;
        const std::vector<unsigned> before = tt.of(comb_out(z));
        ASSERT_TRUE(syn->run_node(z, 10.0)) << family;
        EXPECT_EQ(tt.of(comb_out(z)), before) << family;
        std::vector<CDB_ATOM_NODE*> nodes = new_luts(*c.design->netlist());
        nodes.push_back(z);
        for (CDB_ATOM_NODE* n : nodes)
            for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
                CDB_ATOM_ITERM* t = n->get_input_term_by_type(port);
                if (t != nullptr) {
                    EXPECT_FALSE(t->is_inverted()) << family << " " << short_name(n);
                }
            }
    }
    std::remove("inv.blif");
}

TEST(BddSynCommit, BoundaryPortIdsFollowTheSignal)
{
    int bound_port = -1;
    BPM_BOUNDARY_PORT_MANAGER* bpm = nullptr;
    BDD_COMPILE c(write_blif("bp.blif", k_wide6), CDB_FAMILY_BRK, false, nullptr, [&](HOST_DESIGN& d) {
        bpm = d.install_boundary_port_manager();
        bound_port = bpm->create_port("wide6|q");
        for (CDB_ATOM_NODE* node : *d.netlist())
            if (node->is_lcell_comb() && short_name(node) == "z")
                bpm->assign_port_id(node->get_input_term_by_type(DB_DATA_C), bound_port);
    });
    CDB_ATOM_NODE* z = lut_named(c, "z");
    CDB_ATOM_OTERM* q = z->get_input_term_by_type(DB_DATA_C)->get_source();
    std::unique_ptr<OPEN_ANY> syn = make_open_syn(c.api);
    TRUTH_TABLE tt;
    const std::vector<unsigned> before = tt.of(comb_out(z));
    ASSERT_TRUE(syn->run_node(z, 10.0));
    EXPECT_EQ(tt.of(comb_out(z)), before);
    std::vector<CDB_ATOM_NODE*> nodes = new_luts(*c.design->netlist());
    nodes.push_back(z);
    int readers_of_q = 0;
    for (CDB_ATOM_NODE* n : nodes)
        for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
            CDB_ATOM_ITERM* t = n->get_input_term_by_type(port);
            if (t == nullptr || !t->is_connected()) continue;
            const bool reads_q = t->is_driven() && t->get_source() == q;
            readers_of_q += reads_q;
            EXPECT_EQ(bpm->get_assigned_port_id(t), reads_q ? bound_port : BPM_BOUNDARY_PORT_MANAGER::NO_PORT)
                << short_name(n) << " port " << port;
        }
    EXPECT_GE(readers_of_q, 1);
    std::remove("bp.blif");
}

// With change logging on, an accepted node logs its new output and input
// terms and a mask for each new LUT and the base node; each input is freed
// before it is connected again (the log refuses a connection over a logged
// source), and the connection records end with the new sources.
TEST(BddSynCommit, TheChangeLogShowsTermsConnectionsAfterDisconnectionsAndMasksInOrder)
{
    BDD_COMPILE c(write_blif("log.blif", k_wide6), CDB_FAMILY_BRK);
    std::unique_ptr<TEST_CHANGE_LOG> log = std::make_unique<TEST_CHANGE_LOG>(c.api);
    c.api->get_fsyn_cdb_interface()->set_fsyn_log(log.get());
    c.api->get_fsyn_cdb_interface()->set_logging(true);
    OPEN_SYN<MORV_BDD_SYN_BRK> syn(c.api);
    CDB_ATOM_NODE* z = lut_named(c, "z");
    ASSERT_TRUE(syn.run_node(z, 10.0));
    c.api->get_fsyn_cdb_interface()->set_logging(false);
    const std::vector<std::string> kinds = pending_record_kinds(*log);
    const auto first = [&](const char* kind) { return std::find(kinds.begin(), kinds.end(), kind) - kinds.begin(); };
    ASSERT_LT(static_cast<size_t>(first("CREATE_OTERM")), kinds.size());
    EXPECT_LT(first("CREATE_OTERM"), first("CREATE_ITERM"));
    const size_t made = new_luts(*c.design->netlist()).size();
    EXPECT_EQ(static_cast<size_t>(std::count(kinds.begin(), kinds.end(), "SET_LUTMASK")), made + 1);
    int reconnected = 0;
    for (const auto& [node_id, record] : log->get_connection_map())
        for (const std::string& slot :
             static_cast<const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION&>(*record).m_connection_array)
            reconnected += slot != "UNCHANGED" && slot != "DISCONNECT";
    EXPECT_GT(reconnected, 0);
    c.api->get_fsyn_cdb_interface()->set_fsyn_log(nullptr);
    std::remove("log.blif");
}

// ---------------------------------------------------------------- family classes

TEST(BddSynFamilies, KeysOverrideOnlyThemselvesAndAnEmptyValueKeepsTheDefault)
{
    BDD_COMPILE c(write_blif("keys.blif", k_wide6), CDB_FAMILY_OBRAN);
    MORV_PARAMETER_MAP params{{"SRB", "0.3"}, {"ME", "2"}, {"MN", ""}, {"AAE", "abc"}};
    MORV_LOG_CAPTURE log(100);
    OPEN_SYN<MORV_BDD_SYN_OBRAN> syn(c.api, &params);
    EXPECT_EQ(syn.m_slack_ratio_bgn, 0.3);
    EXPECT_EQ(syn.m_max_expansions, 2);
    EXPECT_EQ(syn.m_max_bdd_nodes, MORV_BDD_SYN::s_DEFAULT_MAX_BDD_NODES);
    EXPECT_EQ(syn.m_area_accept_end, 0.0);  // text that is no number reads as 0
    EXPECT_EQ(syn.m_max_iterations, MORV_BDD_SYN::s_DEFAULT_MAX_ITERATIONS);
    EXPECT_EQ(syn.m_slack_ratio_end, MORV_BDD_SYN::s_DEFAULT_SLACK_RATIO_END);
    EXPECT_EQ(syn.m_max_bdd_vars, MORV_BDD_SYN::s_DEFAULT_MAX_BDD_VARS);
    EXPECT_EQ(syn.m_slack_ratio_factor, MORV_BDD_SYN::s_DEFAULT_SLACK_RATIO_FACTOR);
    EXPECT_EQ(syn.m_area_accept_bgn, MORV_BDD_SYN::s_DEFAULT_AREA_ACCEPT_BGN);
    const std::vector<std::string> banner = {"family: obran",
                                             "max iterations: 4",
                                             "slack ratio bgn: 0.300000",
                                             "slack ratio end: 0.060000",
                                             "max bdd nodes: 32",
                                             "max bdd vars: 16",
                                             "max expansions: 2",
                                             "slack ratio factor: 4.000000",
                                             "area accept bgn: 1.010000",
                                             "area accept end: 0.000000",
                                             "max lut size: 6"};
    size_t next = 0;
    for (const std::string& line : log.lines())
        if (next < banner.size() && line == banner[next]) ++next;
    EXPECT_EQ(next, banner.size());
    // The delays do not depend on the parameters.
    OPEN_SYN<MORV_BDD_SYN_OBRAN> plain(c.api);
    EXPECT_EQ(plain.m_avg_lut_delay, syn.m_avg_lut_delay);
    EXPECT_EQ(syn.m_avg_lut_delay, static_cast<int>(2.5 * c.timing->get_internal_delay(499, DB_DATA_D, DB_COMB_OUT)));
    EXPECT_EQ(syn.m_avg_logic_level_delay, syn.m_avg_lut_delay + syn.m_avg_routing_delay);
    EXPECT_EQ(syn.m_fast_logic_level_delay, 0);
    std::remove("keys.blif");
}

TEST(BddSynFamilies, TheFlowDriverCreatesEveryFamilyClass)
{
    for (int family : k_all_families) {
        BDD_COMPILE c(write_blif("wide.blif", k_wide4), family);
        MORV_PARAMETER_MAP params;
        MORV_LOG_CAPTURE log(100);
        MORV_OWNER<MORV_ALGORITHM_BASE> syn;
        ASSERT_TRUE(morv_make_family_algorithm(class_of(family), c.api, &params, &syn)) << family;
        ASSERT_NE(syn, nullptr) << family;
        EXPECT_EQ(syn->get_short_name(), "BDD_SYN");
        const std::string size = "max lut size: " + std::to_string(cdb_family_lut_size(family));
        bool sized = false;
        for (const std::string& line : log.lines()) sized = sized || line == size;
        EXPECT_TRUE(sized) << family;
    }
    std::remove("wide.blif");
}

// A UVO cell whose register data port is in use offers three LUT inputs;
// its rebuilt root reads ports A, B and D and the mask has inputs 2 and 3
// exchanged, so the function stays.
TEST(BddSynFamilies, UvoOffersThreeInputsBesideARegisterDataPortAndRewiresThroughD)
{
    const char* blif = ".model uvo\n.inputs a b c d g p q s\n.outputs z\n"
                       ".names a g a1\n11 1\n.names a1 g a2\n11 1\n.names a2 g a3\n11 1\n"
                       ".names a3 b c n1\n11- 1\n1-1 1\n.names n1 p q z\n1-- 1\n-10 1\n.end\n";
    for (int data_port : {DB_SYNCH_DATA, DB_ASYNCH_DATA}) {
        CDB_ATOM_OTERM* s = nullptr;
        BDD_COMPILE c(write_blif("uvo.blif", blif), CDB_FAMILY_UVO, false, [&](CDB_ATOM_NETLIST& netlist) {
            for (CDB_ATOM_NODE* node : netlist)
                if (node->is_lcell() && short_name(node) == "z") {
                    // s, otherwise unread, feeds the register's data port.
                    for (CDB_ATOM_NODE* other : netlist)
                        if (other->is_pin() && short_name(other) == "s") s = other->get_output_term(0);
                    ASSERT_NE(s, nullptr);
                    node->add_input_term(data_port)->insert_fanin(s);
                }
        });
        OPEN_SYN<MORV_BDD_SYN_UVO> syn(c.api);
        CDB_ATOM_NODE* z = lut_named(c, "z");
        EXPECT_EQ(syn.get_max_lut_size(z), 3);
        EXPECT_EQ(syn.get_max_lut_size(lut_named(c, "n1")), 4);
        TRUTH_TABLE tt;
        const std::vector<unsigned> before = tt.of(comb_out(z));
        ASSERT_TRUE(syn.run_node(z, 10.0)) << data_port;
        EXPECT_EQ(tt.of(comb_out(z)), before) << data_port;
        for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_D}) {
            CDB_ATOM_ITERM* t = z->get_input_term_by_type(port);
            EXPECT_TRUE(t != nullptr && t->is_connected()) << port;
        }
        CDB_ATOM_ITERM* data_c = z->get_input_term_by_type(DB_DATA_C);
        EXPECT_TRUE(data_c == nullptr || !data_c->is_connected());
        EXPECT_TRUE(z->get_input_term_by_type(data_port)->is_connected());
    }
    std::remove("uvo.blif");
}

TEST(BddSynFamilies, UvoKeepsADataCInputThatTheRegisterSharesAndWeighsItsDelays)
{
    BDD_COMPILE c(write_blif("uvo.blif", k_wide4), CDB_FAMILY_UVO);
    OPEN_SYN<MORV_BDD_SYN_UVO> syn(c.api);
    CDB_ATOM_NODE* z = lut_named(c, "z");
    CDB_ATOM_ITERM* data_c = z->get_input_term_by_type(DB_DATA_C);
    ASSERT_NE(data_c, nullptr);
    data_c->set_usage_as(DB_SYNCH_DATA);
    syn.disconnect_lut_input(data_c, 2);
    EXPECT_TRUE(data_c->is_connected());
    EXPECT_FALSE(data_c->is_used_as(DB_DATA_C));
    CDB_ATOM_ITERM* data_a = z->get_input_term_by_type(DB_DATA_A);
    syn.disconnect_lut_input(data_a, 0);
    EXPECT_FALSE(data_a->is_connected());
    EXPECT_FALSE(syn.prepare_base_node(z, 4));
    EXPECT_TRUE(syn.prepare_base_node(z, 3));
    // A cell that fed its register back into the LUT leaves that mode and
    // becomes a plain four-input cell.
    z->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    z->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    syn.prepare_base_node(z, 4);
    EXPECT_FALSE(z->test_bit(CDB_ATOM_BIT_QFBK_MODE));
    EXPECT_TRUE(z->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));

    auto d = [&](int port) { return c.timing->get_internal_delay(7, port, DB_COMB_OUT); };
    const int weighted = (60 * d(DB_DATA_D) + 12 * d(DB_DATA_B) + 6 * d(DB_DATA_A) + 22 * d(DB_DATA_C)) / 100;
    EXPECT_EQ(syn.m_avg_lut_delay, static_cast<int>(2.5 * weighted));
    EXPECT_EQ(syn.m_fast_logic_level_delay, d(DB_DATA_D) + c.api->get_fsyn_net_util()->get_sample_location_delay());
    std::remove("uvo.blif");
}

// ---------------------------------------------------------------- MRL legality

namespace {

class OPEN_MRL : public OPEN_SYN<MORV_BDD_SYN_MRL>
{
public:
    using OPEN_SYN<MORV_BDD_SYN_MRL>::OPEN_SYN;
    using MORV_BDD_SYN_MRL::test_lut_function;
    // Every function the legaliser is asked about, and the answer to give.
    bool is_bdd_legal(const BDD_JBDD& bdd) override
    {
        asked.push_back(bdd);
        if (answer_all) return MORV_BDD_SYN_MRL::is_bdd_legal(bdd);
        return static_cast<int>(asked.size()) != refuse_at;
    }
    std::vector<BDD_JBDD> asked;
    int refuse_at = -1;  // 1-based; -1: every answer is true
    bool answer_all = false;
};

}  // namespace

TEST(BddSynMrl, TheLegalityTestCountsTheEncodingsTheDecompositionBuilds)
{
    for (int n : {2, 3, 4, 5, 8, 16})
        EXPECT_EQ(MORV_BDD_SYN_MRL::get_encoding_bits(n), MORV_NET_UTIL::ceil_log2(static_cast<uint64_t>(n))) << n;
    EXPECT_EQ(MORV_BDD_SYN_MRL::get_encoding_bits(1), 0);

    BDD_COMPILE c(write_blif("mrl.blif", k_wide6), CDB_FAMILY_MRL);
    OPEN_MRL syn(c.api);
    BDD_JBDD_MGR& m = *syn.m_bdd_mgr;
    const BDD_JBDD x0 = m.ithvar(0), x1 = m.ithvar(1), x2 = m.ithvar(2), x3 = m.ithvar(3);

    // One cut node below level 2: no encoding, the image is the cut node.
    const BDD_JBDD g = x2 & x3;
    syn.asked.clear();
    EXPECT_TRUE(syn.test_lut_function(g | (x0 & !x0), 2, true));
    ASSERT_EQ(syn.asked.size(), 1u);
    EXPECT_EQ(syn.asked[0], g);

    // n cut nodes at level 2 ask k encodings, then the image.
    const std::vector<BDD_JBDD> lows = {x2 & x3, x2 | x3, x2 ^ x3, !x2};
    for (int n : {2, 3, 4}) {
        BDD_JBDD f = m.false_bdd();
        for (int code = 0; code < 4; ++code) {
            const BDD_JBDD minterm = ((code & 1) ? x0 : !x0) & ((code & 2) ? x1 : !x1);
            f |= minterm & lows[std::min(code, n - 1)];
        }
        ASSERT_EQ(static_cast<int>(f.get_cut_nodes(2).size()), n);
        const int k = n == 2 ? 1 : 2;  // what decompose_at_cut builds
        ASSERT_EQ(MORV_BDD_SYN_MRL::get_encoding_bits(n), k);
        syn.asked.clear();
        EXPECT_TRUE(syn.test_lut_function(f, 2, true));
        ASSERT_EQ(static_cast<int>(syn.asked.size()), k + 1) << n;
        // The image maps each code to its cut node, the spare ones to the last.
        const BDD_JBDD& image = syn.asked.back();
        const std::vector<BDD_JBDD> cuts = f.get_cut_nodes(2);
        const int first = static_cast<int>(syn.m_vars.size());
        for (int code = 0; code < (1 << k); ++code) {
            BDD_JBDD pick = image;
            for (int b = 0; b < k; ++b) pick = pick.Compose((code >> b) & 1 ? m.true_bdd() : m.false_bdd(), first + b);
            EXPECT_EQ(pick, cuts[std::min(code, n - 1)]) << n << " code " << code;
        }
        // The public test leaves no node of its own behind.
        m.garbage_collect();
        const long long live = m.get_stats().allocated - m.get_stats().dead;
        syn.is_lut_function_legal(f, 2, true);
        EXPECT_EQ(m.get_stats().allocated - m.get_stats().dead, live) << n;
        syn.asked.clear();
        EXPECT_TRUE(syn.test_lut_function(f, 2, false));
        EXPECT_EQ(static_cast<int>(syn.asked.size()), k) << n;  // only the encodings
        if (k >= 2) {
            syn.asked.clear();
            syn.refuse_at = 1;
            EXPECT_FALSE(syn.test_lut_function(f, 2, true));
            EXPECT_EQ(syn.asked.size(), 1u) << n;  // the first refusal ends the test
            syn.refuse_at = -1;
        }
    }
    std::remove("mrl.blif");
}

TEST(BddSynMrl, SmallFunctionsAreLegalWithoutAskingAndTheRotationMaskFollowsTheSupport)
{
    BDD_COMPILE c(write_blif("mrl.blif", k_wide6), CDB_FAMILY_MRL);
    OPEN_MRL syn(c.api);
    syn.answer_all = true;
    BDD_JBDD_MGR& m = *syn.m_bdd_mgr;
    std::vector<BDD_JBDD> x;
    for (int i = 0; i < 7; ++i) x.push_back(m.ithvar(i));
    MORV_LEGALIZER legalizer(c.api);
    // Up to four variables: legal whatever the mask.
    EXPECT_TRUE(syn.MORV_BDD_SYN_MRL::is_bdd_legal(x[0] ^ x[1] ^ x[2] ^ x[3]));
    // The mask of a 5- and a 6-variable function: input p is support position p.
    const BDD_JBDD f5 = (x[0] & x[1]) | (x[2] & !x[3]) | (x[4] & x[1]);
    const BDD_JBDD f6 = (x[0] ^ x[5]) & (x[2] | x[4]) & !(x[1] & x[3]);
    for (const BDD_JBDD& f : {f5, f6}) {
        const std::vector<int> s = f.build_support();
        uint64_t mask = 0;
        syn.compute_rotation_mask(f, s, 0, mask, 0);
        for (unsigned row = 0; row < 64; ++row) {
            std::vector<unsigned> values(7, 0);
            for (size_t p = 0; p < s.size(); ++p) values[s[p]] = (row >> p) & 1u;
            EXPECT_EQ((mask >> row) & 1u, bdd_value(f, values, m.true_bdd())) << row;
        }
        EXPECT_EQ(syn.MORV_BDD_SYN_MRL::is_bdd_legal(f), legalizer.is_lutmask_legal_by_rotation(mask));
    }
    // Wider than the LUT: never legal.
    EXPECT_FALSE(syn.MORV_BDD_SYN_MRL::is_bdd_legal(f6 & x[6]));
    std::remove("mrl.blif");
}

// ---------------------------------------------------------------- whole iterations

// Four iterations of every family's class on small designs: ABC proves the
// result equivalent and at least one family commits a decomposition.
TEST(BddSynCommit, IterationsOfEveryFamilyKeepTheDesignEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "ABC is not available";
    int committed = 0;
    // The sanitizer build keeps one family per kind of class (6-input, 4-input, MRL's and UVO's)
    // and the smallest 4-input benchmark.
    const std::vector<int> families =
        k_small_designs_only ? std::vector<int>{CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_MRL, CDB_FAMILY_UVO}
                             : k_all_families;
    const char* const design4 = k_small_designs_only ? "bench/mcnc_k4/tseng.blif" : "bench/mcnc_k4/s298.blif";
    for (int family : families)
        for (const char* design : {cdb_family_lut_size(family) == 6 ? "bench/iscas89_k6/s1423.blif" : design4}) {
            const std::string where = std::string(design) + " family " + std::to_string(family);
            BDD_COMPILE c(source(design), family, true);
            blif_write_netlist_file(*c.design->netlist(), "before.blif");
            std::unique_ptr<OPEN_ANY> syn = make_open_syn(c.api);
            for (int iter = 0; iter < 4; ++iter) committed += syn->do_iter();
            blif_write_netlist_file(*c.design->netlist(), "after.blif");
            const ABC_RESULT r = abc_check_equivalence("before.blif", "after.blif", true);
            EXPECT_TRUE(r.is_equivalent()) << where << "\n" << r.m_output;
        }
    EXPECT_GT(committed, 0);
    std::remove("before.blif");
    std::remove("after.blif");
}

}  // namespace bdd_syn_commit_test
