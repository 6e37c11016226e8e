// The component's timing front end on the bundled designs: in analyser mode
// it answers the stand-in analyser's own slacks, slack ratios and figure of
// merit; the estimator agrees with the analyser on the same delays; and
// after edits announced through the facade, synchronising and updating
// gives what a fresh build and analysis gives.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing.h"

namespace host_timing_test {

using namespace morv_host;

namespace {

const char* const DESIGNS[] = {"adder_tree", "counter", "pipeline"};
const int FAMILIES[] = {CDB_FAMILY_BRK,     CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV,   CDB_FAMILY_MRL,
                        CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK,   CDB_FAMILY_OBRAN, CDB_FAMILY_UVO};

// The estimator flag of the flow driver, whatever the family chose.
class ESTIMATOR_FLAG : public MORV_EXPERT
{
public:
    static void set(MORV_EXPERT* expert, bool on) { expert->*(&ESTIMATOR_FLAG::m_enable_nevra) = on; }
};

struct COMPILE
{
    COMPILE(const std::string& name, int family, bool placed)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(
            family, reader.read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + name + ".blif"));
        env = std::make_unique<HOST_ENV>(*design);
        env->set_clock_period_ps(1500);
        // The host hands the period to its analyser before each build; the
        // estimator reads the analyser's settings.
        tdc_get_accessories()->set_default_clock_period_ps(1500);
        if (placed) {
            env->place_unplaced_atoms();
            env->set_placed(true);
        }
        expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        timing = api->get_fsyn_timing();
    }
    ~COMPILE() { env.reset(); }

    // The stand-in analyser on the same netlist, built and analysed afresh.
    std::unique_ptr<TDC_ACCESSORIES> fresh_analyser() const
    {
        auto acc = std::make_unique<TDC_ACCESSORIES>();
        acc->set_atom_netlist(design->netlist());
        acc->set_default_clock_period_ps(1500);
        acc->build_timing_netlist();
        return acc;
    }
    std::vector<CDB_ATOM_ITERM*> connected_iterms() const
    {
        std::vector<CDB_ATOM_ITERM*> iterms;
        for (CDB_ATOM_NODE* node : *design->netlist())
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
                if ((*it)->get_source() != nullptr) iterms.push_back(*it);
        return iterms;
    }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_EXPERT* expert = nullptr;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
};

// The analyser's ratio as the front end reports it after placement.
double remapped(double raw, double skew)
{
    const double r = raw < skew ? raw / skew * 0.125 : (raw - skew) / (1.0 - skew) * 0.875 + 0.125;
    return r < 0.0 ? 0.0 : r > 1.0 ? 1.0 : r;
}

// Every connection of the compile against a fresh analysis of its netlist.
void expect_analyser_numbers(COMPILE& c, const std::string& where)
{
    std::unique_ptr<TDC_ACCESSORIES> acc = c.fresh_analyser();
    acc->run_tan(*acc->get_tan_parameters(), true);
    EXPECT_EQ(c.timing->get_figure_of_merit(false), static_cast<int>(acc->get_figure_of_merit())) << where;
    TDC_UTILITY* reference = acc->get_tdc_utility();
    int constrained = 0;
    for (CDB_ATOM_ITERM* iterm : c.connected_iterms()) {
        CDB_ATOM_NODE* node = iterm->get_my_node();
        const int port = iterm->get_any_usage_as(), index = iterm->get_port_index();
        const int slack = reference->get_slack(node, port, index);
        ASSERT_EQ(c.timing->get_slack(iterm), slack) << where;
        ASSERT_DOUBLE_EQ(c.timing->get_slack_ratio(iterm),
                         remapped(reference->get_slack_ratio(node, port, index), c.timing->get_sr_skew()))
            << where;
        constrained += slack != 0x7fffffff;
    }
    EXPECT_GT(constrained, 0) << where;
}

}  // namespace

TEST(HostTiming, AnalyserModeAnswersTheStandInAnalysersNumbersOnEveryDesign)
{
    for (const char* design : DESIGNS)
        for (int family : FAMILIES)
            for (bool placed : {false, true}) {
                const std::string where =
                    std::string(design) + " family " + std::to_string(family) + (placed ? " placed" : " unplaced");
                COMPILE c(design, family, placed);
                ASSERT_EQ(c.timing->get_timing_mode(), MORV_TIMING_MODE_TDC);
                c.timing->sync_timing_netlist(false, true);
                c.timing->perform_timing_analysis();
                expect_analyser_numbers(c, where);
            }
}

TEST(HostTiming, TheEstimatorAgreesWithTheAnalyserOnTheSameDelays)
{
    for (const char* design : DESIGNS)
        for (int family : FAMILIES) {
            const std::string where = std::string(design) + " family " + std::to_string(family);
            COMPILE c(design, family, false);
            ESTIMATOR_FLAG::set(c.expert, true);
            c.timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(c.env->get_cmp()));
            ASSERT_EQ(c.timing->get_timing_mode(), MORV_TIMING_MODE_NEVRA) << where;
            c.timing->sync_timing_netlist(true, true);
            c.timing->run_estimator_timing_analysis();

            // The analyser with the table model's interconnect delays.
            std::unique_ptr<TDC_ACCESSORIES> acc = c.fresh_analyser();
            MORV_TABLE_TIMING_MODEL* model = c.timing->get_table_timing_model();
            int nonzero = 0;
            for (TDB_EDGE* e : acc->get_tdb_netlist()->edge_table())
                if (e != nullptr && e->get_iterm() != nullptr) {
                    const int delay = model->get_ic_delay(e->get_iterm());
                    e->get_delay()->set_delay(TDB_DELAY_IC, delay);
                    nonzero += delay != 0;
                }
            EXPECT_GT(nonzero, 0) << where;
            acc->run_tan(*acc->get_tan_parameters(), true);
            EXPECT_EQ(c.timing->get_figure_of_merit(false), static_cast<int>(acc->get_figure_of_merit())) << where;
            for (CDB_ATOM_ITERM* iterm : c.connected_iterms()) {
                CDB_ATOM_NODE* node = iterm->get_my_node();
                const int port = iterm->get_any_usage_as(), index = iterm->get_port_index();
                ASSERT_EQ(c.timing->get_slack(iterm), acc->get_tdc_utility()->get_slack(node, port, index)) << where;
                ASSERT_FLOAT_EQ(static_cast<float>(c.timing->get_slack_ratio(iterm)),
                                static_cast<float>(acc->get_tdc_utility()->get_slack_ratio(node, port, index)))
                    << where;
            }
            c.timing->switch_to_tdc_mode(false);
        }
}

namespace {

// Random edits of the kinds algorithms make, each announced to the facade:
// a LUT added behind another, a LUT deleted, an input moved to another
// source, a mask changed. Inputs only ever move to pins and registers, so
// that no combinational loop appears.
class EDITOR
{
public:
    EDITOR(COMPILE& c, unsigned seed) : m_c(c), m_rng(seed) {}

    int edits() const { return m_edits; }
    void round()
    {
        for (int k = 0; k < 4; ++k) {
            switch (m_rng() % 4) {
            case 0: add(); break;
            case 1: remove(); break;
            case 2: rewire(); break;
            default: change_mask(); break;
            }
        }
    }

private:
    std::vector<CDB_ATOM_NODE*> nodes(bool luts)
    {
        std::vector<CDB_ATOM_NODE*> out;
        for (CDB_ATOM_NODE* n : *m_c.design->netlist()) {
            const bool lut = n->get_lut_size() > 0 && n->get_output_term_by_type(DB_COMB_OUT) != nullptr &&
                             !n->get_output_term_by_type(DB_REG_OUT);
            const bool source = n->get_output_term_by_type(DB_REG_OUT) != nullptr ||
                                (n->is_pin() && n->get_output_term_by_type(DB_DATA_OUT) != nullptr);
            if (luts ? lut : source) out.push_back(n);
        }
        return out;
    }
    CDB_ATOM_NODE* pick(const std::vector<CDB_ATOM_NODE*>& from)
    {
        return from.empty() ? nullptr : from[m_rng() % from.size()];
    }

    void add()
    {
        CDB_ATOM_NODE* driver = pick(nodes(true));
        if (driver == nullptr) return;
        CDB_ATOM_OTERM* from = driver->get_output_term_by_type(DB_COMB_OUT);
        HDB_NAME_MGR* names = m_c.design->action_point().get_name_mgr();
        HDB_INSTANCE_NAME* name = names->find_or_create_path("added" + std::to_string(m_added++), 0);
        CDB_ATOM_NODE* lut = cdb_create_atom(m_c.design->netlist()->get_family(), CDB_KIND_LCELL_COMB, name);
        MORV_CDB_INTERFACE* cdb = m_c.api->get_fsyn_cdb_interface();
        CDB_ATOM_ITERM* in = nullptr;
        CDB_ATOM_OTERM* out = nullptr;
        cdb->create_input_term(nullptr, in, lut, DB_DATA_A, 0);
        cdb->create_oterm(nullptr, out, lut, DB_COMB_OUT, name);
        m_c.api->node_added(lut, driver, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
        ++m_edits;
        if (CDB_ATOM_ITERM* sink = from->get_first_fanout()) {
            m_c.api->modify_edge(sink, true);
            cdb->disconnect_fanin(sink, CDB_NET_ITERM::UNCONNECTED);
            cdb->insert_fanin(sink, out);
            m_c.api->modify_edge(sink, false);
        }
        cdb->insert_fanin(in, from);
        m_c.api->modify_edge(in, false);
    }
    void remove()
    {
        std::vector<CDB_ATOM_NODE*> luts = nodes(true);
        if (luts.size() < 4) return;
        m_c.api->delete_node(pick(luts));
        ++m_edits;
    }
    void rewire()
    {
        CDB_ATOM_NODE* lut = pick(nodes(true));
        CDB_ATOM_NODE* source = pick(nodes(false));
        if (lut == nullptr || source == nullptr) return;
        CDB_ATOM_OTERM* to = source->get_output_term_by_type(DB_REG_OUT);
        if (to == nullptr) to = source->get_output_term_by_type(DB_DATA_OUT);
        for (auto it = lut->begin_iterm(); it != lut->end_iterm(); ++it) {
            CDB_ATOM_ITERM* t = *it;
            if (t->get_source() == nullptr || t->get_source() == to) continue;
            MORV_CDB_INTERFACE* cdb = m_c.api->get_fsyn_cdb_interface();
            m_c.api->modify_edge(t, true);
            cdb->disconnect_fanin(t, CDB_NET_ITERM::UNCONNECTED);
            cdb->insert_fanin(t, to);
            m_c.api->modify_edge(t, false);
            ++m_edits;
            return;
        }
    }
    void change_mask()
    {
        CDB_ATOM_NODE* lut = pick(nodes(true));
        if (lut == nullptr) return;
        m_c.api->get_fsyn_cdb_interface()->set_lutmask(lut, ~lut->get_lutmask(), 0);
        m_c.api->modify_node(lut);
        ++m_edits;
    }

    COMPILE& m_c;
    std::mt19937 m_rng;
    int m_added = 0;
    int m_edits = 0;
};

}  // namespace

TEST(HostTiming, AfterFacadeEditsAnUpdateGivesWhatAFreshBuildAndAnalysisGives)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO})
        for (const char* design : {"adder_tree", "pipeline"}) {
            COMPILE c(design, family, true);
            c.timing->sync_timing_netlist(false, true);
            c.timing->perform_timing_analysis();
            EDITOR editor(c, static_cast<unsigned>(family * 31 + design[0]));
            const long builds = tdc_get_accessories()->get_num_full_builds();
            for (int round = 0; round < 25; ++round) {
                editor.round();
                c.timing->sync_timing_netlist(true, true);
                c.timing->update_timing();
                expect_analyser_numbers(c, std::string(design) + " family " + std::to_string(family) + " round " +
                                               std::to_string(round));
                if (::testing::Test::HasFatalFailure()) return;
            }
            EXPECT_GT(editor.edits(), 60) << design << " " << family;
            // Edits of logic cells were refreshed, never rebuilt.
            EXPECT_EQ(tdc_get_accessories()->get_num_full_builds(), builds) << design << " " << family;
        }
}

// The legaliser's refresh after each MRL sweep comes after edits the host
// was told of one by one: the timing netlist is refreshed, not rebuilt, so
// the ids of what still stands stay what they were.
TEST(HostTiming, ARefreshAfterANetlistChangeKeepsTheTimingNetlistAndItsIds)
{
    for (const char* design : {"adder_tree", "pipeline"}) {
        COMPILE c(design, CDB_FAMILY_MRL, true);
        c.timing->sync_timing_netlist(false, true);
        c.timing->perform_timing_analysis();
        EDITOR editor(c, 7u + static_cast<unsigned>(design[0]));
        const long builds = tdc_get_accessories()->get_num_full_builds();
        const TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
        const int node_base = netlist->get_node_id_base(), edge_base = netlist->get_edge_id_base();
        for (int round = 0; round < 10; ++round) {
            editor.round();
            c.env->refresh_after_netlist_change();
            c.timing->sync_timing_netlist(true, true);
            c.timing->update_timing();
            expect_analyser_numbers(c, std::string(design) + " round " + std::to_string(round));
            if (::testing::Test::HasFatalFailure()) return;
        }
        EXPECT_EQ(tdc_get_accessories()->get_num_full_builds(), builds) << design;
        ASSERT_EQ(tdc_get_accessories()->get_tdb_netlist(), netlist) << design;
        EXPECT_EQ(netlist->get_node_id_base(), node_base) << design;
        EXPECT_EQ(netlist->get_edge_id_base(), edge_base) << design;
    }
}

}  // namespace host_timing_test
