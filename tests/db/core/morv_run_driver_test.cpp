#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "thr/thr.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/log/morv_log.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing.h"
#include "nevra/nevra_estimator.h"
#include "log_capture.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_run_driver_test {

namespace {

// A host whose placement-and-timing calls answer from a script: each call
// takes the next status (success when the script is empty). A full call
// may shift the figure of merit, as real post-placement timing does.
class SCRIPTED_ICP_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;
    MORV_ICP_RESULT run_icp(bool full, bool, double, bool, bool, bool, bool) override
    {
        ++m_icp_calls;
        m_placed = true;
        if (full) m_fom_shift += m_shift_on_full_icp;
        MORV_ICP_RESULT result;
        result.m_status = 1;
        if (!m_statuses.empty()) {
            result.m_status = m_statuses.front();
            m_statuses.pop_front();
        }
        return result;
    }
    // The figures of merit are keyed by atom count: the sweep after each
    // iteration must not remove the unread LUTs the script adds.
    bool must_keep_node(CDB_ATOM_NODE*) override { return true; }
    std::deque<int> m_statuses;
    int m_icp_calls = 0;
    double m_shift_on_full_icp = 0.0;
    double m_fom_shift = 0.0;
    // Figures by atom count once a placement has run since the last
    // iteration; a count not listed keeps its estimated figure.
    std::map<int, double> m_placed_fom_by_atoms;
    std::map<int, int> m_worst_slack_by_atoms;
    bool m_placed = false;
};

// Adds one LUT per iteration; its figure of merit is looked up by the
// number of atoms, so a restored netlist brings its old figure back.
class SCRIPTED_ALGORITHM : public MORV_ALGORITHM_BASE
{
public:
    SCRIPTED_ALGORITHM(MORV_API* api, const MORV_PARAMETER_MAP* params, MORV_TEST_HOST* host, SCRIPTED_ICP_ENV* env,
                       std::map<int, double> fom_by_atoms)
        : MORV_ALGORITHM_BASE(api, params), m_host(host), m_env(env), m_fom_by_atoms(std::move(fom_by_atoms))
    {}
    ~SCRIPTED_ALGORITHM() override {}
    std::string get_short_name() override { return "SCRIPTED"; }
    void set_default_algorithm_parameters(int& np, int& icp_at_end, double& fom, int& restore) override
    {
        if (np == -1) np = 1;
        if (icp_at_end == -1) icp_at_end = 1;
        if (fom == -1.0) fom = 0.0;
        if (restore == -1) restore = 1;
    }
    void set_default_pass_parameters(int, int& ni, int& hci) override
    {
        if (ni == -1) ni = 10;
        if (hci == -1) hci = 0;
    }
    int do_iter() override
    {
        ++m_iterations;
        m_env->m_placed = false;
        // Names stay unique across runs on the same netlist.
        static int s_added = 0;
        m_host->build_chain(1, ("added" + std::to_string(s_added++) + "_").c_str());
        return m_ops;
    }
    double compute_figure_of_merit() override
    {
        if (m_env->m_placed) {
            auto placed = m_env->m_placed_fom_by_atoms.find(atoms());
            if (placed != m_env->m_placed_fom_by_atoms.end()) return placed->second + m_env->m_fom_shift;
        }
        auto found = m_fom_by_atoms.find(atoms());
        return (found == m_fom_by_atoms.end() ? 0.0 : found->second) + m_env->m_fom_shift;
    }
    // The worst slack by atom count; a count not listed has the same worst
    // slack as every other, so that the figure of merit decides.
    int compute_worst_slack() override
    {
        auto found = m_env->m_worst_slack_by_atoms.find(atoms());
        return found == m_env->m_worst_slack_by_atoms.end() ? 0 : found->second;
    }
    int atoms() const
    {
        int n = 0;
        for (CDB_ATOM_NODE* node : *m_env->get_atom_netlist()) {
            (void)node;
            ++n;
        }
        return n;
    }
    void judge_passes_after_placement() { m_judge_passes_after_placement = true; }
    int m_iterations = 0;
    int m_ops = 1;

private:
    MORV_TEST_HOST* m_host;
    SCRIPTED_ICP_ENV* m_env;
    std::map<int, double> m_fom_by_atoms;
};

// Reaches the flow flags of the flow driver, so that a run counts as one
// after placement.
class RUN_DRIVER_FLOW_FLAGS : public MORV_EXPERT
{
public:
    static void set_late_running(MORV_EXPERT* expert, bool on) { set_running(expert, LATE_FSYN_FLOW, on); }
    static void set_running(MORV_EXPERT* expert, int flow, bool on)
    {
        bool(&running)[NUM_FSYN_FLOWS] = expert->*(&RUN_DRIVER_FLOW_FLAGS::m_fsyn_flow_is_running);
        running[flow] = on;
    }
    static void set_estimator(MORV_EXPERT* expert, bool on) { expert->*(&RUN_DRIVER_FLOW_FLAGS::m_enable_nevra) = on; }
};

class MorvRunDriverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        thr_drl_reset();
        msg_set_quiet(true);
        msg_clear_posted_messages();
        // Every timing analysis of the driver then reaches the scripted host.
        cfg_set_value("fsyn_disable_experimental_icp", "on");
        m_ids = m_host.build_chain(3);
        m_env = std::make_unique<SCRIPTED_ICP_ENV>(&m_host.cmp);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
    }
    void TearDown() override
    {
        m_env.reset();
        cfg_clear_all();
    }

    // Runs the scripted algorithm with the parameter string; returns the atom count after the run.
    int run(const std::string& parameters, std::map<int, double> foms, int* iterations = nullptr, int ops = 1,
            bool judge_passes = false)
    {
        MORV_ALGORITHM_BASE::parse_algorithm_params(m_params, parameters);
        SCRIPTED_ALGORITHM algorithm(m_api, &m_params, &m_host, m_env.get(), std::move(foms));
        if (judge_passes) algorithm.judge_passes_after_placement();
        algorithm.m_ops = ops;
        algorithm.run_algorithm();
        if (iterations != nullptr) *iterations = algorithm.m_iterations;
        return algorithm.atoms();
    }

    int live_saved_states() const
    {
        int live = 0;
        for (int i = 0; i < m_env->m_snapshots.get_number_of_snapshots(); ++i)
            if (m_env->m_snapshots.get_snapshot_at_position(i)->m_id != -1) ++live;
        return live;
    }

    // Input pin and clock pin, two registers around two LUTs: the
    // connections between them are constrained.
    void build_register_pipeline()
    {
        auto atom = [&](int kind) {
            static int s_count = 0;
            HDB_INSTANCE_NAME* name = m_host.names.find_or_create_path("pipe" + std::to_string(s_count++), 0);
            CDB_ATOM_NODE* node = cdb_create_atom(m_host.cmp.get_base_family_code(), kind, name);
            node->set_chip_db_entry(&m_host.chip_entry);
            m_env->get_atom_netlist()->add_node(node);
            return std::make_pair(node, name);
        };
        auto pin = [&] {
            auto [node, name] = atom(CDB_KIND_IO);
            return node->add_output_term(DB_DATA_OUT, name);
        };
        CDB_ATOM_OTERM* clock = pin();
        auto reg = [&](CDB_ATOM_OTERM* d) {
            auto [node, name] = atom(CDB_KIND_REGISTER);
            d->insert_fanout(node->add_input_term(DB_DATAIN));
            clock->insert_fanout(node->add_input_term(DB_CLOCK));
            return node->add_output_term(DB_REG_OUT, name);
        };
        auto lut = [&](CDB_ATOM_OTERM* a) {
            auto [node, name] = atom(CDB_KIND_LCELL_COMB);
            a->insert_fanout(node->add_input_term(DB_DATA_A));
            return node->add_output_term(DB_COMB_OUT, name);
        };
        reg(lut(lut(reg(pin()))));
    }

    static int count_lines(const std::vector<std::string>& lines, const std::string& text)
    {
        int n = 0;
        for (const std::string& line : lines) n += line.find(text) != std::string::npos;
        return n;
    }

    static std::string last_message_text()
    {
        const auto& posted = msg_posted_messages();
        return posted.empty() ? std::string() : posted.back().text;
    }

    MORV_TEST_HOST m_host{6};
    std::vector<int> m_ids;
    std::unique_ptr<SCRIPTED_ICP_ENV> m_env;
    MORV_API* m_api = nullptr;
    MORV_PARAMETER_MAP m_params;
};

}  // namespace

TEST_F(MorvRunDriverTest, HillClimbingEndsThePassAfterHciWorseIterations)
{
    const std::map<int, double> worse_each_time = {{3, 100}, {4, 90}, {5, 80}, {6, 70}, {7, 60}};
    int iterations = 0;
    // Every iteration is worse: the pass stops at the HCI-th one and the
    // initial netlist comes back.
    EXPECT_EQ(run("NI=10:HCI=3", worse_each_time, &iterations), 3);
    EXPECT_EQ(iterations, 3);
    EXPECT_EQ(run("NI=10:HCI=0", worse_each_time, &iterations), 3);
    EXPECT_EQ(iterations, 1);
    EXPECT_EQ(run("NI=10:HCI=1", worse_each_time, &iterations), 3);
    EXPECT_EQ(iterations, 1);
    // The count restarts on an improvement: better, worse, better, worse, worse.
    EXPECT_EQ(run("NI=10:HCI=2", {{3, 100}, {4, 110}, {5, 105}, {6, 120}, {7, 90}, {8, 80}}, &iterations), 6);
    EXPECT_EQ(iterations, 5);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, HcCutEndsThePassWhateverHciSays)
{
    int iterations = 0;
    EXPECT_EQ(run("NI=10:HCI=5:HC_CUT=0", {{3, 100}, {4, 90}}, &iterations), 3);
    EXPECT_EQ(iterations, 1);
    // HC_CUT 2 lets iterations 0 and 1 be worse but stops at iteration 2.
    EXPECT_EQ(run("NI=10:HCI=5:HC_CUT=2", {{3, 100}, {4, 90}, {5, 80}, {6, 70}}, &iterations), 3);
    EXPECT_EQ(iterations, 3);
}

TEST_F(MorvRunDriverTest, AWorseIterationRollsBackToTheBestNetlist)
{
    int iterations = 0;
    // Better (4 atoms), better (5), worse (6): the run keeps 5 atoms.
    EXPECT_EQ(run("NI=10", {{3, 100}, {4, 120}, {5, 130}, {6, 110}}, &iterations), 5);
    EXPECT_EQ(iterations, 3);
    EXPECT_NE(last_message_text().find("estimated slack improvement of 30 ps"), std::string::npos)
        << last_message_text();
    EXPECT_EQ(live_saved_states(), 0);

    // Two passes: the second starts from the best netlist of the first.
    // Pass 0: better, worse; pass 1 restarts from 6 atoms: worse.
    EXPECT_EQ(run("NP=2:NI=2", {{5, 100}, {6, 110}, {7, 105}, {8, 95}}, &iterations), 6);
    EXPECT_EQ(iterations, 3);

    // A figure equal to the best plus the margin counts as an improvement.
    EXPECT_EQ(run("NI=1:FOM=10", {{6, 100}, {7, 110}}), 7);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, DoIterWithoutOperationsEndsThePassWithoutTiming)
{
    int iterations = 0;
    const int icp_before = m_env->m_icp_calls;
    // ops 0 ends the pass as "better": no timing, no restore of the best netlist.
    EXPECT_EQ(run("NI=10:ICP_AT_END=0:RESTORE_NETLIST=0", {{3, 100}, {4, 100}}, &iterations, 0), 4);
    EXPECT_EQ(iterations, 1);
    EXPECT_EQ(m_env->m_icp_calls, icp_before);
}

TEST_F(MorvRunDriverTest, ClosingCheckHonoursRestoreNetlist)
{
    // The final full timing makes the kept netlist look 30 worse than the
    // estimate, below the initial figure.
    m_env->m_shift_on_full_icp = -30.0;
    EXPECT_EQ(run("NI=1:RESTORE_NETLIST=1", {{3, 100}, {4, 120}}), 3);
    EXPECT_NE(last_message_text().find("improvement of 0 ps"), std::string::npos) << last_message_text();

    m_env->m_fom_shift = 0.0;
    EXPECT_EQ(run("NI=1:RESTORE_NETLIST=0", {{3, 100}, {4, 120}}), 4);
    EXPECT_EQ(live_saved_states(), 0);

    // NP 0: no pass, nothing saved remains, no improvement.
    int iterations = 0;
    EXPECT_EQ(run("NP=0", {{4, 100}}, &iterations), 4);
    EXPECT_EQ(iterations, 0);
    EXPECT_NE(last_message_text().find("improvement of 0 ps"), std::string::npos);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, APassThePlacementMakesWorseIsUndoneWhenPassesAreJudged)
{
    // Estimates: every iteration improves. Placed: pass 0 (4 atoms) is
    // still better than the start, pass 1 (5 atoms) falls below both.
    const std::map<int, double> estimated = {{3, 100}, {4, 120}, {5, 130}};
    m_env->m_placed_fom_by_atoms = {{4, 110}, {5, 80}};
    int iterations = 0;
    // Judged per pass: pass 1 is undone, pass 0 stays.
    EXPECT_EQ(run("NP=2:NI=1", estimated, &iterations, 1, true), 4);
    EXPECT_EQ(iterations, 2);
    EXPECT_NE(last_message_text().find("improvement of 10 ps"), std::string::npos) << last_message_text();
    EXPECT_EQ(live_saved_states(), 0);
    // Unjudged, the closing check can only take everything back...
    const std::map<int, double> estimated_from_4 = {{4, 100}, {5, 120}, {6, 130}};
    m_env->m_placed_fom_by_atoms = {{5, 110}, {6, 80}};
    EXPECT_EQ(run("NP=2:NI=1", estimated_from_4, nullptr, 1, false), 4);
    // ...or, without RESTORE_NETLIST, keep the worse netlist; judged passes
    // follow the switch too.
    EXPECT_EQ(run("NP=2:NI=1:RESTORE_NETLIST=0", estimated_from_4, nullptr, 1, true), 6);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, PassesThePlacementKeepsBetterAreKeptAndSetTheFigureToBeat)
{
    // Placed figures below the estimates but above each pass's start: both
    // passes stay, and pass 1's iteration is judged against pass 0's placed
    // figure (115), not its estimate (120).
    m_env->m_placed_fom_by_atoms = {{4, 115}, {5, 118}};
    int iterations = 0;
    EXPECT_EQ(run("NP=2:NI=1", {{3, 100}, {4, 120}, {5, 118}}, &iterations, 1, true), 5);
    EXPECT_EQ(iterations, 2);
    EXPECT_NE(last_message_text().find("improvement of 18 ps"), std::string::npos) << last_message_text();
    EXPECT_EQ(live_saved_states(), 0);

    // A pass whose worse iteration was rolled back is as good as its start
    // and stays; a pass without operations is not judged at all.
    m_env->m_placed_fom_by_atoms.clear();
    EXPECT_EQ(run("NP=2:NI=3:HCI=0", {{5, 100}, {6, 90}}, &iterations, 1, true), 5);
    EXPECT_EQ(iterations, 2);
    const int icp_before = m_env->m_icp_calls;
    EXPECT_EQ(run("NP=2:NI=3", {{5, 100}, {6, 100}, {7, 100}}, &iterations, 0, true), 7);
    EXPECT_EQ(iterations, 2);
    EXPECT_EQ(m_env->m_icp_calls, icp_before);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, AJudgedPassIsKeptByItsWorstSlackFirstAndByItsFigureOnlyAtAnEqualOne)
{
    // Estimates improve every iteration, so each pass ends one atom longer.
    const std::map<int, double> estimated = {{3, 100}, {4, 120}, {5, 130}};
    // Placed, pass 0 trades slack elsewhere for a better worst slack: the
    // circuit is faster, so both the pass and the run keep it although the
    // figure of merit fell below the start.
    m_env->m_placed_fom_by_atoms = {{4, 90}};
    m_env->m_worst_slack_by_atoms = {{3, -500}, {4, -400}};
    EXPECT_EQ(run("NP=1:NI=1", estimated, nullptr, 1, true), 4);
    // A better figure does not buy back a worse worst slack (the netlist
    // goes on from 4 atoms).
    m_env->m_placed_fom_by_atoms = {{5, 130}};
    m_env->m_worst_slack_by_atoms = {{4, -500}, {5, -600}};
    EXPECT_EQ(run("NP=1:NI=1", {{4, 100}, {5, 120}}, nullptr, 1, true), 4);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, ARunOfJudgedPassesEndsOnItsBestWorstSlackNotOnItsBestFigure)
{
    // Pass 0 raises the worst slack at a lower figure; pass 1 keeps the
    // worst slack and lowers the figure again, so it alone is undone, and the
    // closing check must not take pass 0 back for its figure.
    const std::map<int, double> estimated = {{3, 100}, {4, 120}, {5, 130}};
    m_env->m_placed_fom_by_atoms = {{4, 90}, {5, 85}};
    m_env->m_worst_slack_by_atoms = {{3, -500}, {4, -400}, {5, -400}};
    int iterations = 0;
    EXPECT_EQ(run("NP=2:NI=1", estimated, &iterations, 1, true), 4);
    EXPECT_EQ(iterations, 2);
    // Unjudged, the closing check still decides by the figure alone and
    // takes back a run that raised the worst slack twice.
    m_env->m_placed_fom_by_atoms = {{5, 90}, {6, 85}};
    m_env->m_worst_slack_by_atoms = {{4, -500}, {5, -400}, {6, -300}};
    EXPECT_EQ(run("NP=2:NI=1", {{4, 100}, {5, 120}, {6, 130}}, nullptr, 1, false), 4);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, AfterPlacementARunIsKeptByItsWorstSlackFirstUnlessItAcceptsALoss)
{
    MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert());
    // Every iteration raises the figure of merit; the worst slack of the
    // best netlist decides whether the run stands.
    const std::map<int, double> better_each_time = {{3, 100}, {4, 110}, {5, 120}};
    const char* const two_iterations = "NP=1:NI=2:HCI=2:ICP_AT_END=0";
    // Before placement the figure of merit alone decides: the run is kept
    // although its worst slack fell.
    m_env->m_worst_slack_by_atoms = {{3, -500}, {4, -450}, {5, -550}};
    EXPECT_EQ(run(two_iterations, better_each_time), 5);
    RUN_DRIVER_FLOW_FLAGS::set_late_running(expert, true);
    // After placement the same run slowed the design down: it is undone,
    // although its first iteration alone raised the worst slack (the
    // iterations of a longer pass are picked by their figure).
    m_env->m_worst_slack_by_atoms = {{5, -500}, {6, -450}, {7, -550}};
    EXPECT_EQ(run(two_iterations, {{5, 100}, {6, 110}, {7, 120}}), 5);
    // A raised worst slack keeps the run, and so does an equal one at a
    // better figure.
    m_env->m_worst_slack_by_atoms = {{5, -500}, {6, -550}, {7, -450}};
    EXPECT_EQ(run(two_iterations, {{5, 100}, {6, 110}, {7, 120}}), 7);
    m_env->m_worst_slack_by_atoms = {{7, -500}, {8, -500}};
    EXPECT_EQ(run("NP=1:NI=1:ICP_AT_END=0", {{7, 100}, {8, 110}}), 8);
    // A pass of one iteration is judged as a pass: one that raises the worst
    // slack is a faster circuit although its figure fell, and stays; one
    // that lowers it goes at once, whatever its figure.
    m_env->m_worst_slack_by_atoms = {{8, -500}, {9, -480}, {10, -490}};
    EXPECT_EQ(run("NP=2:NI=1:ICP_AT_END=0", {{8, 100}, {9, 90}, {10, 120}}), 9);
    m_env->m_worst_slack_by_atoms = {{9, -500}, {10, -480}};
    EXPECT_EQ(run("NP=1:NI=1:ICP_AT_END=0", {{9, 100}, {10, 90}}), 10);
    // A run that accepts a loss keeps its result whatever the slack says.
    m_env->m_worst_slack_by_atoms = {{10, -500}, {11, -600}};
    EXPECT_EQ(run("NP=1:NI=1:ICP_AT_END=0:FOM=-99999", {{10, 100}, {11, 90}}), 11);
    RUN_DRIVER_FLOW_FLAGS::set_late_running(expert, false);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, AnUndonePassIsTimedAgainUnlessATimingSnapshotStandsIn)
{
    // Pass 1 is placed below its start and undone both times; the restored
    // netlist needs timing of its own, or the snapshot's.
    m_env->m_placed_fom_by_atoms = {{4, 110}, {5, 80}};
    int icp_before = m_env->m_icp_calls;
    EXPECT_EQ(run("NP=2:NI=1", {{3, 100}, {4, 120}, {5, 130}}, nullptr, 1, true), 4);
    const int with_timing = m_env->m_icp_calls - icp_before;

    // The analyser's figures are not kept: asking for snapshots re-times as
    // before, said once per run in the log and never as a warning.
    cfg_set_value("fsyn_enable_timing_snapshots", "on");
    {
        MORV_LOG_CAPTURE log(1);
        for (int atoms : {4, 5}) {
            m_env->m_placed_fom_by_atoms = {{atoms + 1, 110}, {atoms + 2, 80}};
            icp_before = m_env->m_icp_calls;
            EXPECT_EQ(run("NP=2:NI=1", {{atoms, 100}, {atoms + 1, 120}, {atoms + 2, 130}}, nullptr, 1, true),
                      atoms + 1);
            EXPECT_EQ(m_env->m_icp_calls - icp_before, with_timing);
        }
        EXPECT_EQ(count_lines(log.lines(), "No timing snapshot answers for the restored netlist"), 2);
        EXPECT_EQ(count_lines(log.lines(), "Skipping ICP/timing analysis"), 0);
    }
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        EXPECT_EQ(m.text.find("fsyn_enable_timing_snapshots"), std::string::npos) << m.text;
    EXPECT_EQ(live_saved_states(), 0);

    // In the early flow the estimator times the netlist, and its figures are
    // kept. A register pipeline gives the chain constrained connections.
    MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert());
    MORV_TIMING* timing = m_api->get_fsyn_timing();
    CDB_ATOM_NETLIST* netlist = m_env->get_atom_netlist();
    build_register_pipeline();
    const e_fsyn_flow early = MORV_ENV::where_does_early_fsyn_run(m_env->get_cmp());
    RUN_DRIVER_FLOW_FLAGS::set_running(expert, early, true);
    RUN_DRIVER_FLOW_FLAGS::set_estimator(expert, true);
    timing->switch_to_tdc_mode(false);
    timing->select_timing_mode(early);
    ASSERT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_NEVRA);
    timing->perform_pre_placement_timing_analysis(false);
    const int atoms = SCRIPTED_ALGORITHM(m_api, &m_params, &m_host, m_env.get(), {}).atoms();
    // The only iteration is worse: its pass restores the netlist it started from.
    const std::map<int, double> worse = {{atoms, 100}, {atoms + 1, 90}};
    auto estimates = [&](const char* snapshots, int& skipped) {
        cfg_set_value("fsyn_enable_timing_snapshots", snapshots);
        MORV_LOG_CAPTURE log(1);
        EXPECT_EQ(run("NI=10:HCI=0", worse), atoms);
        skipped = count_lines(log.lines(), "Skipping ICP/timing analysis; using timing snapshot on restore");
        return count_lines(log.lines(), "Syncing NEVRA to changed atom netlist");
    };
    int skipped_off = 0, skipped_on = 0;
    const int off = estimates("off", skipped_off);
    EXPECT_FALSE(timing->is_using_timing_snapshot());
    const int on = estimates("on", skipped_on);
    EXPECT_EQ(skipped_off, 0);
    EXPECT_EQ(skipped_on, 1);
    EXPECT_EQ(on, off - 1);
    ASSERT_TRUE(timing->is_using_timing_snapshot());
    // The snapshots went with their states.
    EXPECT_EQ(timing->count_timing_snapshots(), 0);
    EXPECT_EQ(live_saved_states(), 0);

    // What the restored netlist answers is what a fresh estimator of it answers.
    MORV_TIMING::NEVRA fresh(timing->get_table_timing_model());
    fresh.initialize_and_sync_to_netlist(netlist, nullptr, 0);
    fresh.run_timing_estimation(netlist);
    int constrained = 0;
    for (CDB_ATOM_NODE* node : *netlist)
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const int slack = fresh.get_slack_of_connection(*it);
            constrained += slack != MORV_TIMING::s_NO_PATH;
            EXPECT_EQ(timing->get_slack(*it), slack) << node->get_id();
            EXPECT_EQ(timing->get_slack_ratio(*it),
                      MORV_TIMING::adjust_slack_ratio(fresh.get_slack_ratio_of_connection(*it), true, false,
                                                      timing->get_sr_skew()))
                << node->get_id();
        }
    EXPECT_GE(constrained, 4);
    EXPECT_EQ(timing->get_figure_of_merit(false), fresh.get_figure_of_merit());
    timing->end_timing_snapshot();
    EXPECT_FALSE(timing->is_using_timing_snapshot());
    EXPECT_EQ(timing->get_figure_of_merit(false), fresh.get_figure_of_merit());
    RUN_DRIVER_FLOW_FLAGS::set_running(expert, early, false);
}

TEST_F(MorvRunDriverTest, APassAsGoodAsItsStartAndAPassWithoutOperationsCostNoExtraPlacement)
{
    // Each script runs judged and then unjudged from the same three atoms.
    auto icp_calls = [&](const std::map<int, double>& foms, int ops, bool judged) {
        const int before = m_env->m_icp_calls;
        EXPECT_EQ(run("NP=2:NI=3:HCI=0", foms, nullptr, ops, judged), 3);
        return m_env->m_icp_calls - before;
    };
    // The worse iteration is rolled back, so the pass ends where it started
    // and is kept as it is.
    const std::map<int, double> rolled_back = {{3, 100}, {4, 90}};
    EXPECT_EQ(icp_calls(rolled_back, 1, true), icp_calls(rolled_back, 1, false));
    // Iterations that report no operations are not judged, whatever their
    // figures (the closing check takes the netlist back).
    const std::map<int, double> falling = {{3, 100}, {4, 90}, {5, 80}};
    EXPECT_EQ(icp_calls(falling, 0, true), icp_calls(falling, 0, false));
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverTest, FailedTimingInsideAnIterationRestoresTheBestNetlist)
{
    int iterations = 0;
    m_env->m_statuses = {0};
    EXPECT_EQ(run("NI=5:ICP_AT_END=0", {{3, 100}, {4, 200}}, &iterations), 3);
    EXPECT_EQ(iterations, 1);
    EXPECT_EQ(live_saved_states(), 0);

    cfg_set_value("fsyn_fail_if_icp_fails", "on");
    m_env->m_statuses = {0};
    EXPECT_EQ(internal_error_of([&] { run("NI=5:ICP_AT_END=0", {{3, 100}, {4, 200}}); }), "icp_ok");
}

TEST_F(MorvRunDriverTest, FailedFinalTimingRestoresTheInitialNetlist)
{
    // The only timing of the pass is the full one at its end; it fails.
    m_env->m_statuses = {0};
    EXPECT_EQ(run("NI=1:RESTORE_NETLIST=0", {{3, 100}, {4, 200}}), 3);
    EXPECT_EQ(live_saved_states(), 0);

    // The re-timing after that restore must succeed whatever the switch says.
    m_env->m_statuses = {0, 0};
    EXPECT_EQ(internal_error_of([&] { run("NI=1", {{3, 100}, {4, 200}}); }), "icp_ok");

    cfg_set_value("fsyn_fail_if_icp_fails", "on");
    m_env->m_statuses = {0};
    EXPECT_EQ(internal_error_of([&] { run("NI=1", {{4, 100}, {5, 200}}); }), "icp_ok");
}

TEST_F(MorvRunDriverTest, ImprovementIsRoundedFromTheUnroundedDifference)
{
    // 1200.4 - 1000.6 = 199.8 rounds to 200; rounding each figure first would give 199.
    EXPECT_EQ(run("NI=1", {{3, 1000.6}, {4, 1200.4}}), 4);
    EXPECT_NE(last_message_text().find("improvement of 200 ps"), std::string::npos) << last_message_text();
}

TEST_F(MorvRunDriverTest, RunCounterNumbersEveryRun)
{
    const int before = MORV_ALGORITHM_BASE::get_run_counter();
    run("NI=1", {{3, 100}});
    run("NP=0", {{3, 100}});
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 2);
}

TEST_F(MorvRunDriverTest, SweepingFollowsTheFacadesSweeperSwitch)
{
    auto sweeper_disabled_lines = [] {
        int n = 0;
        for (const auto& line : msg_vdebug_lines())
            if (line.text == "Netlist sweeper is disabled for all algorithms") ++n;
        return n;
    };
    msg_clear_vdebug_lines();
    run("NI=2", {{3, 100}, {4, 110}, {5, 120}});
    EXPECT_EQ(sweeper_disabled_lines(), 0);

    m_api->set_netlist_sweeper_enabled(false);
    msg_clear_vdebug_lines();
    run("NI=2", {{5, 100}, {6, 110}, {7, 120}});
    EXPECT_EQ(sweeper_disabled_lines(), 2) << "one line per productive iteration";

    // The developer switch turns it off whatever the facade says.
    m_api->set_netlist_sweeper_enabled(true);
    cfg_set_value("fsyn_disable_netlist_sweeper", "on");
    msg_clear_vdebug_lines();
    run("NI=1", {{7, 100}, {8, 110}});
    EXPECT_EQ(sweeper_disabled_lines(), 1);
}

// Debug checkpoints: one before and one after each do_iter, one after each
// sweep. Outside the early flows a stop-late checkpoint is in its stopping flow.
class MorvRunDriverCheckpointTest : public MorvRunDriverTest
{
protected:
    void stop_at(int count)
    {
        m_env.reset();
        cfg_set_value("fsyn_enable_debug_checkpoints", "on");
        cfg_set_value("fsyn_debug_checkpoint_stop_late", "on");
        cfg_set_value("fsyn_debug_checkpoint_stop_count", std::to_string(count).c_str());
        m_env = std::make_unique<SCRIPTED_ICP_ENV>(&m_host.cmp);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
    }
};

TEST_F(MorvRunDriverCheckpointTest, TheRunEndsOnTheNetlistOfTheStopCheckpoint)
{
    // Every iteration is worse; without the stop the initial 3 atoms come back.
    const std::map<int, double> worse_each_time = {{3, 100}, {4, 90}, {5, 80}, {6, 70}, {7, 60}};
    EXPECT_EQ(run("NP=2:NI=3:HCI=5", worse_each_time), 3);
    stop_at(3);  // after the first sweep: 4 atoms
    int iterations = 0;
    EXPECT_EQ(run("NP=2:NI=3:HCI=5", worse_each_time, &iterations), 4);
    EXPECT_EQ(iterations, 3);  // the pass runs out; no second pass follows the stop
    EXPECT_TRUE(m_api->fsyn_debug_stopped());
    EXPECT_EQ(live_saved_states(), 0);
    // A later run in the stopped flow runs no pass.
    EXPECT_EQ(run("NI=3", worse_each_time, &iterations), 4);
    EXPECT_EQ(iterations, 0);
    EXPECT_EQ(live_saved_states(), 0);
}

TEST_F(MorvRunDriverCheckpointTest, AStopWithoutASavedNetlistRestoresNothing)
{
    stop_at(0);  // stopped from the start, nothing saved: -1
    int iterations = 0;
    EXPECT_EQ(run("NI=3", {{3, 100}, {4, 120}}, &iterations), 3);
    EXPECT_EQ(iterations, 0);
    EXPECT_EQ(live_saved_states(), 0);
}

namespace {

// The END_OF_LOG_PRINT markers in the log's chunks so far.
int write_outs(MORV_LOG* log)
{
    log->get_log_file()->close();
    int markers = 0;
    for (const std::string& chunk : log->get_chunk_file_names()) {
        LOGDB_FSYN_LOG_FILE file;
        file.set_file_name(chunk);
        while (LOGDB_FSYN_LOG_ENTRY_OWNER record = file.read_fsyn_log_entry())
            markers += record->m_type == LOGDB_FSYN_LOG_OPERATION_END_OF_LOG_PRINT;
    }
    return markers;
}

}  // namespace

// In a migration compile each productive iteration's records go out after
// its sweep and timing; an iteration without operations writes nothing.
TEST_F(MorvRunDriverTest, EachProductiveIterationWritesTheLogsPendingRecords)
{
    m_env.reset();
    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    m_env = std::make_unique<SCRIPTED_ICP_ENV>(&m_host.cmp);
    m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
    ASSERT_TRUE(m_api->is_fsyn_write_log_required());
    int iterations = 0;
    run("NI=3:HCI=5", {{3, 100}, {4, 110}, {5, 120}, {6, 130}}, &iterations);
    EXPECT_EQ(iterations, 3);
    EXPECT_EQ(write_outs(m_api->get_fsyn_log()), 3);
    run("NI=3:HCI=5", {}, &iterations, 0);
    EXPECT_EQ(write_outs(m_api->get_fsyn_log()), 3);
    m_env.reset();
    MORV_LOG::delete_chunk_files();
    DMGR_UTILITY::set_current_device(nullptr);
}

namespace {

// Records what each pass hands in and fills a default that differs per
// pass, as the retiming algorithms do.
class PER_PASS_ALGORITHM : public SCRIPTED_ALGORITHM
{
public:
    using SCRIPTED_ALGORITHM::SCRIPTED_ALGORITHM;
    void set_default_algorithm_parameters(int& np, int& icp_at_end, double& fom, int& restore) override
    {
        SCRIPTED_ALGORITHM::set_default_algorithm_parameters(np, icp_at_end, fom, restore);
        if (np == 1) np = 3;
    }
    void set_default_pass_parameters(int pass, int& ni, int& hci) override
    {
        m_handed.emplace_back(ni, hci);
        if (ni == -1) ni = pass == 1 ? 5 : 2;
        if (hci == -1) hci = pass == 0 ? 4 : 1;
        m_used.emplace_back(ni, hci);
    }
    std::vector<std::pair<int, int>> m_handed;
    std::vector<std::pair<int, int>> m_used;
};

}  // namespace

// A later pass gets its own default for what the string left unset, not
// the value the pass before it filled; what the string gave holds in all.
TEST_F(MorvRunDriverTest, EveryPassFillsItsOwnDefaultsForWhatTheStringLeftUnset)
{
    using PAIRS = std::vector<std::pair<int, int>>;
    for (const auto& [text, handed, used] :
         {std::tuple<std::string, PAIRS, PAIRS>{"", {{-1, -1}, {-1, -1}, {-1, -1}}, {{2, 4}, {5, 1}, {2, 1}}},
          std::tuple<std::string, PAIRS, PAIRS>{"NI=7", {{7, -1}, {7, -1}, {7, -1}}, {{7, 4}, {7, 1}, {7, 1}}},
          std::tuple<std::string, PAIRS, PAIRS>{"HCI=3", {{-1, 3}, {-1, 3}, {-1, 3}}, {{2, 3}, {5, 3}, {2, 3}}}}) {
        MORV_ALGORITHM_BASE::parse_algorithm_params(m_params, text);
        PER_PASS_ALGORITHM algorithm(m_api, &m_params, &m_host, m_env.get(), {});
        algorithm.m_ops = 0;
        algorithm.run_algorithm();
        EXPECT_EQ(algorithm.m_handed, handed) << text;
        EXPECT_EQ(algorithm.m_used, used) << text;
        EXPECT_EQ(algorithm.get_num_iters(), used.back().first) << text;
    }
}

}  // namespace morv_run_driver_test
