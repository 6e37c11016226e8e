// The early timing model: the estimate of each kind of connection, the
// area compensation, the analysis that writes the estimates into the
// timing netlist, and the reports of the full analysis.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/timing/morv_table_timing_model.h"
#include "log_capture.h"
#include "timing_fixture.h"

namespace morv_timing_early_test {

namespace {

using MorvTimingEarly = MORV_CLEAN_STATE_TEST;

// The parts one after another (GCC 12 in Release misreads operator+ on a
// temporary string as an overlapping copy).
std::string cat(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (std::string_view part : parts) text.append(part);
    return text;
}

std::vector<TDB_EDGE*>& edges()
{
    TDB_NETLIST* tdb = tdc_get_accessories()->get_tdb_netlist();
    if (tdb->get_vec_of_edges() == nullptr) tdb->create_vec_of_edges();
    return *tdb->get_vec_of_edges();
}

TDB_EDGE* edge_of(CDB_ATOM_ITERM* iterm)
{
    for (TDB_EDGE* e : edges())
        if (e != nullptr && e->get_iterm() == iterm) return e;
    return nullptr;
}

int table(MORV_TABLE_TIMING_MODEL* model, int src_type, int src_port, const CDB_ATOM_ITERM* sink)
{
    const CSU_IC_TIMING_ELEMENT key{src_type, src_port, sink->get_my_node()->get_atom_type(), sink->get_any_usage_as(),
                                    0,        0};
    return model->get_ic_delay(key).m_delay_2;
}

void write_file(const std::string& text)
{
    std::ofstream(MORV_TIMING::s_DELAY_FILE_NAME, std::ios::binary) << text;
}

}  // namespace

// Locks a at (1, 1) and b at (30, 30): far enough apart that the device's
// delay between them is well above the early estimate.
void lock_far_apart(CDB_ATOM_NODE* a, CDB_ATOM_NODE* b)
{
    CDB_ATOM_ASSIGNMENTS far_left, far_right;
    far_left.locked_x1 = far_left.locked_x2 = 1;
    far_left.locked_y1 = far_left.locked_y2 = 1;
    far_right.locked_x1 = far_right.locked_x2 = 30;
    far_right.locked_y1 = far_right.locked_y2 = 30;
    a->set_assignments(far_left);
    b->set_assignments(far_right);
}

TEST_F(MorvTimingEarly, EachKindOfConnectionGetsItsEstimate)
{
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
    TIMING_NETLIST t(CDB_FAMILY_OBRAN);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    MORV_TABLE_TIMING_MODEL* model = timing->get_table_timing_model();
    CDB_ATOM_NODE* y1 = t.y1->get_my_node();
    CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    CDB_ATOM_ITERM* y1_to_y2 = y2->get_input_term_by_type(DB_DATA_A);
    const int plain = model->get_ic_delay(y1_to_y2);
    ASSERT_GT(plain, 0);
    EXPECT_EQ(timing->get_early_delay(y1_to_y2), plain);
    EXPECT_EQ(timing->get_early_delay(nullptr), 0);

    // Inside one LAB cluster while the post-clustering flow runs: nothing,
    // and a back-annotated delay does not apply to it.
    write_file(std::to_string(y1->get_id()) + " ( 8 0 ) -> " + std::to_string(y2->get_id()) + " ( 11 0 ) = 777\n");
    timing->read_backannotated_delays();
    t.api()->add_node_to_cluster(y1, 3, 0);
    t.api()->add_node_to_cluster(y2, 3, 1);
    t.run_only(POST_CLUSTERING_FSYN_FLOW);
    EXPECT_EQ(timing->get_early_delay(y1_to_y2), 0);
    // Outside it the back-annotated delay stands, unscaled.
    t.run_only(-1);
    EXPECT_EQ(timing->get_early_delay(y1_to_y2), 777);
    // The estimator, which stands in for the early model, times with it too.
    EXPECT_EQ(model->get_ic_delay(y1_to_y2), 777);
    // Until the connection is redriven.
    t.q1->insert_fanout(y1_to_y2);
    EXPECT_EQ(timing->get_early_delay(y1_to_y2), model->get_ic_delay(y1_to_y2));

    // During SYN_EARLY a clock port is timed from the family's clock buffer.
    CDB_ATOM_ITERM* clock_in = t.q1->get_my_node()->get_input_term_by_type(DB_CLOCK);
    t.run_only(SYN_EARLY_FSYN_FLOW);
    EXPECT_EQ(timing->get_early_delay(clock_in), table(model, 194, DB_CLKBUF_OUT, clock_in));
    t.run_only(-1);

    // A boundary port: none into it; out of it, the source behind it.
    CDB_ATOM_NODE* port = new CDB_ATOM_LCELL_COMB(CDB_FAMILY_OBRAN, CDB_ATOM_BOUNDARY_PORT_ENUM);
    t.netlist()->add_node(port);
    CDB_ATOM_ITERM* into_port = port->add_input_term(DB_DATA_A);
    t.y2->insert_fanout(into_port);
    EXPECT_EQ(timing->get_early_delay(into_port), 0);
    CDB_ATOM_OTERM* port_out = port->add_output_term(DB_COMB_OUT);
    CDB_ATOM_ITERM* from_port = y2->add_input_term(DB_DATA_C);
    port_out->insert_fanout(from_port);
    t.env().m_hidden_source_type = t.q1->get_my_node()->get_atom_type();
    t.env().m_hidden_source_port = DB_REG_OUT;
    EXPECT_EQ(timing->get_early_delay(from_port), table(model, t.env().m_hidden_source_type, DB_REG_OUT, from_port));
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

TEST_F(MorvTimingEarly, TheDelayFileIsReadOnlyWhenAskedFor)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    const CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    write_file(std::to_string(t.y1->get_my_node()->get_id()) + " ( 8 0 ) -> " + std::to_string(y2->get_id()) +
               " ( 11 0 ) = 777\n");
    t.analyse();
    t.timing()->perform_early_timing_analysis(false, false);
    EXPECT_TRUE(t.timing()->get_backannotated_delays().empty());
    cfg_set_value("fsyn_read_backannotated_delays", "on");
    t.timing()->perform_early_timing_analysis(false, false);
    EXPECT_EQ(t.timing()->get_backannotated_delays().size(), 1u);
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

TEST_F(MorvTimingEarly, AClockBufferKeepsTheNetworkDelayWhateverTheScale)
{
    cfg_set_value("fsyn_early_area_compensation", "on");
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.env().m_resource_count = 10;
    CDB_ATOM_NODE* buffer = t.atom(CDB_KIND_CLKBUF);
    CDB_ATOM_OTERM* global = buffer->add_output_term(DB_CLKBUF_OUT);
    CDB_ATOM_OTERM* q = t.reg(nullptr, global);
    CDB_ATOM_ITERM* clock_in = q->get_my_node()->get_input_term_by_type(DB_CLOCK);
    MORV_TIMING* timing = t.timing();
    const int network = static_cast<int>(timing->get_early_clock_buffer_delay());
    EXPECT_EQ(timing->get_early_delay(clock_in), network);
    for (int i = 0; i < 5; ++i) t.lut({q});
    timing->compute_area_compensation();
    ASSERT_GT(timing->get_area_compensation(), 1.0);
    EXPECT_EQ(timing->get_early_delay(clock_in), network);
    // A plain connection grows with the design.
    CDB_ATOM_ITERM* data = t.lut({q})->get_my_node()->get_input_term_by_type(DB_DATA_A);
    const int estimate = t.timing()->get_table_timing_model()->get_ic_delay(data);
    EXPECT_EQ(timing->get_early_delay(data), static_cast<int>(estimate * timing->get_area_compensation()));
}

TEST_F(MorvTimingEarly, AreaCompensationFollowsGrowthAndGuardsItsBounds)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.env().m_resource_count = 100;
    MORV_TIMING* timing = t.timing();
    // Built before any logic: the netlist starts at 0 logic elements.
    std::vector<CDB_ATOM_NODE*> cells;
    timing->compute_area_compensation();
    EXPECT_EQ(timing->get_area_compensation(), 1.0) << "no growth";
    for (int i = 0; i < 16; ++i) cells.push_back(t.lut({})->get_my_node());
    ASSERT_EQ(t.api()->get_used_le_count(), 16);
    timing->compute_area_compensation();
    EXPECT_EQ(timing->get_area_compensation(), 1.0) << "off unless switched on";
    cfg_set_value("fsyn_early_area_compensation", "on");
    timing->compute_area_compensation();
    EXPECT_NEAR(timing->get_area_compensation(), std::pow(1.16, 0.25), 1e-12);
    EXPECT_NEAR(timing->get_area_compensation(), 1.0378, 1e-4);

    // Without logic elements on the device, or with the switch off: none.
    t.env().m_resource_count = 0;
    timing->compute_area_compensation();
    EXPECT_EQ(timing->get_area_compensation(), 1.0);
    cfg_set_value("fsyn_early_area_compensation", "off");
    t.env().m_resource_count = 100;
    timing->compute_area_compensation();
    EXPECT_EQ(timing->get_area_compensation(), 1.0);
}

TEST_F(MorvTimingEarly, AShrinkingNetlistCompensatesBelowOneButNeverToZeroOrLess)
{
    cfg_set_value("fsyn_early_area_compensation", "on");
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    std::vector<CDB_ATOM_NODE*> cells;
    for (int i = 0; i < 20; ++i) cells.push_back(t.lut({})->get_my_node());
    // A second timing object counts its start on the netlist as it is now.
    t.env().m_resource_count = 100;
    MORV_TIMING timing(t.api());
    timing.init_tdc_timing();
    for (int i = 0; i < 10; ++i) t.netlist()->delete_node(cells[static_cast<size_t>(i)]);
    timing.compute_area_compensation();
    EXPECT_NEAR(timing.get_area_compensation(), std::pow(0.9, 0.25), 1e-12);
    // Shrunk by more than the device holds: the growth is not positive.
    t.env().m_resource_count = 5;
    timing.compute_area_compensation();
    EXPECT_EQ(timing.get_area_compensation(), 1.0);
    t.env().m_resource_count = 10;  // exactly zero growth
    timing.compute_area_compensation();
    EXPECT_EQ(timing.get_area_compensation(), 1.0);
    EXPECT_FALSE(std::isnan(timing.get_area_compensation()));
}

TEST_F(MorvTimingEarly, TheAnalysisWritesEveryEstimateAndPerturbsWithinATenth)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    const long before = tdc_get_accessories()->get_num_analyses();
    timing->perform_early_timing_analysis(false, false);
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
    std::vector<int> estimates;
    int positive = 0;
    for (TDB_EDGE* e : edges()) {
        if (e == nullptr || !e->is_for_tdc()) continue;
        const int d = timing->get_early_delay(e->get_iterm());
        EXPECT_EQ(e->get_max_ic_delay(), d);
        EXPECT_EQ(e->get_min_ic_delay(), d);
        estimates.push_back(d);
        if (d > 0) ++positive;
    }
    ASSERT_GT(positive, 0);

    // Each edge draws the next number of the run's random sequence (the
    // placer seed's): a fraction u of [0, 1) moves it by (0.2u - 0.1) of itself.
    uint64_t state = t.api()->get_random_state();
    timing->perform_early_timing_analysis(true, false);
    size_t i = 0;
    int moved = 0;
    for (TDB_EDGE* e : edges()) {
        if (e == nullptr || !e->is_for_tdc()) continue;
        const int d = estimates[i++];
        state = state * 0xAC564B05ull + 1;
        const double u = static_cast<double>(state) / 4294967296.0 / 4294967297.0;
        const int p = e->get_max_ic_delay();
        EXPECT_EQ(p, d + static_cast<int>(std::trunc(u * 0.2 * d - 0.1 * d)));
        if (d == 0) {
            EXPECT_EQ(p, 0);
        }
        EXPECT_LE(std::abs(p - d), d / 10 + 1);
        if (p != d) ++moved;
    }
    EXPECT_GT(moved, 0);
    EXPECT_EQ(t.api()->get_random_state(), state);
}

TEST_F(MorvTimingEarly, LockedEndsBoundTheEstimateAndTheirEstimatesAreDroppedAfter)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    t.env().m_grid_nx = 40;
    t.env().m_grid_ny = 40;
    MORV_TIMING* timing = t.timing();
    t.analyse();
    CDB_ATOM_NODE* a = t.y1->get_my_node();
    CDB_ATOM_NODE* b = t.y2->get_my_node();
    CDB_ATOM_ITERM* a_to_b = b->get_input_term_by_type(DB_DATA_A);
    lock_far_apart(a, b);
    timing->perform_early_timing_analysis(false, false);
    const int free_delay = edge_of(a_to_b)->get_max_ic_delay();
    timing->perform_early_timing_analysis(false, true);
    EXPECT_EQ(edge_of(a_to_b)->get_max_ic_delay(),
              DMGR_UTILITY::get_current_device()->get_routing_delay_ps(1, 1, 30, 30));
    EXPECT_GT(edge_of(a_to_b)->get_max_ic_delay(), free_delay);
    EXPECT_TRUE(t.api()->get_locked_location_estimates().empty());
}

// fsyn_disable_ll_timing keeps the part's delay model out of the timing
// analysis before placement: a connection between locked ends keeps the
// early estimate instead of the delay between the locked locations.
TEST_F(MorvTimingEarly, TheLowLevelTimingSwitchKeepsTheDelayModelOutOfPrePlacementTiming)
{
    for (const bool disabled : {false, true}) {
        cfg_clear_all();
        if (disabled) cfg_set_value("fsyn_disable_ll_timing", "on");
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        t.env().m_grid_nx = 40;
        t.env().m_grid_ny = 40;
        t.analyse();
        CDB_ATOM_NODE* a = t.y1->get_my_node();
        CDB_ATOM_NODE* b = t.y2->get_my_node();
        CDB_ATOM_ITERM* a_to_b = b->get_input_term_by_type(DB_DATA_A);
        t.timing()->perform_early_timing_analysis(false, false);
        const int free_delay = edge_of(a_to_b)->get_max_ic_delay();
        lock_far_apart(a, b);
        t.run_only(FIT_EARLY_FSYN_FLOW);
        EXPECT_TRUE(t.api()->run_timing_analysis(false, false, 1.0, false, false, false));
        t.run_only(-1);
        const int locked = DMGR_UTILITY::get_current_device()->get_routing_delay_ps(1, 1, 30, 30);
        ASSERT_NE(locked, free_delay);
        EXPECT_EQ(edge_of(a_to_b)->get_max_ic_delay(), disabled ? free_delay : locked) << disabled;
    }
    cfg_clear_all();
}

TEST_F(MorvTimingEarly, PrePlacementTimingRunsTheEarlyModelWithoutWarnings)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.run_only(CLUSTER_RETRY_FSYN_FLOW);
    cfg_set_value("fsyn_print_slack_ratio_histogram", "on");
    MORV_LOG_CAPTURE log(100);
    const long before = tdc_get_accessories()->get_num_analyses();
    EXPECT_EQ(not_available_warnings_of([&] { timing->perform_pre_placement_timing_analysis(false); }), "");
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
    const std::vector<std::string> lines = log.lines();
    auto has = [&](const std::string& text) {
        for (const std::string& line : lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("Early Timing Model Using t_pow=1.000000 t_amp=0.000000 t_passes=1"));
    EXPECT_TRUE(has("MORV_TIMING slack ratio histogram:"));
    // The last bin counts the unconstrained connections among all of them.
    int total = 0, unconstrained = 0;
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            if ((*it)->get_source() == nullptr) continue;
            ++total;
            unconstrained += timing->get_slack(*it) == 0x7fffffff;
        }
    ASSERT_GT(unconstrained, 0);
    ASSERT_LT(unconstrained, total);
    const std::string tail = " : " + std::to_string(unconstrained) + " / " + std::to_string(total);
    int last_bins = 0;
    for (const std::string& line : lines)
        if (line.rfind("   1.00 (inf): ", 0) == 0) {
            ++last_bins;
            EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
        }
    EXPECT_EQ(last_bins, 1);
}

TEST_F(MorvTimingEarly, TheLateFlowAnalysesWithTighterParameters)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    t.analyse();
    MORV_LOG_CAPTURE log(1);
    t.run_only(LATE_FSYN_FLOW);
    t.timing()->perform_timing_analysis();
    t.run_only(-1);
    t.timing()->perform_timing_analysis();
    std::vector<std::string> parameters;
    for (const std::string& line : log.lines())
        if (line.rfind("TAN Parameters: ", 0) == 0) parameters.push_back(line);
    EXPECT_EQ(parameters, (std::vector<std::string>{
                              "TAN Parameters: 350 350, 0.16 0.16, 0 0, 0 0, 0, 0, 0, 0, 1, 0, 0, None",
                              "TAN Parameters: 0 0, 0 0, 0 0, 0 0, 0, 0, 0, 1, 0, 1, 0, None",
                          }));
}

// ------------------------------------------------------------------ reports

TEST(MorvTimingHistogram, BinsWithNoneOneAndManyConnections)
{
    int counts[21] = {};
    // No connection at all: no bars, no NaN.
    std::vector<std::string> lines = MORV_TIMING::format_slack_ratio_histogram(counts, 0, 0);
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0], cat({"  0.00 - 0.05: ", std::string(50, ' '), " 0.0% : 0 / 0"}));
    EXPECT_EQ(lines[20], cat({"   1.00 (inf): ", std::string(50, ' '), " 0.0% : 0 / 0"}));
    for (const std::string& line : lines) EXPECT_EQ(line.find("nan"), std::string::npos) << line;

    // One connection, constrained, in the last bin.
    counts[19] = 1;
    lines = MORV_TIMING::format_slack_ratio_histogram(counts, 1, 1);
    EXPECT_EQ(lines[19], cat({"  0.95 - 1.00: ", std::string(50, '='), " 100.0% : 1 / 1"}));
    EXPECT_EQ(lines[20], cat({"   1.00 (inf): ", std::string(50, ' '), " 0.0% : 0 / 1"}));

    // One among thousands still shows; the unconstrained bin is over all.
    counts[19] = 0;
    counts[3] = 1;
    counts[4] = 2999;
    counts[20] = 1000;
    lines = MORV_TIMING::format_slack_ratio_histogram(counts, 3000, 4000);
    EXPECT_EQ(lines[3], cat({"  0.15 - 0.20: =", std::string(49, ' '), " 0.0% : 1 / 3000"}));
    EXPECT_EQ(lines[4], cat({"  0.20 - 0.25: ", std::string(50, '='), " 100.0% : 2999 / 3000"}));
    EXPECT_EQ(lines[20], cat({"   1.00 (inf): ", std::string(13, '='), std::string(37, ' '), " 25.0% : 1000 / 4000"}));
}

TEST_F(MorvTimingEarly, TheTimingNetlistDumpIsNumberedByEveryAnalysis)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    auto dumps = [] {
        std::vector<int> found;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().filename().string().rfind("morv_tdb_dump_", 0) == 0)
                found.push_back(std::stoi(entry.path().filename().string().substr(14)));
        std::sort(found.begin(), found.end());
        return found;
    };
    for (int i : dumps()) std::remove(("morv_tdb_dump_" + std::to_string(i)).c_str());
    cfg_set_value("fsyn_enable_tdb_netlist_dump", "on");
    t.analyse();
    const std::vector<int> first = dumps();
    ASSERT_EQ(first.size(), 1u);
    cfg_set_value("fsyn_enable_tdb_netlist_dump", "off");
    t.timing()->perform_timing_analysis();
    t.timing()->perform_timing_analysis();
    EXPECT_EQ(dumps(), first) << "nothing written while off";
    cfg_set_value("fsyn_enable_tdb_netlist_dump", "on");
    t.timing()->perform_timing_analysis();
    EXPECT_EQ(dumps(), (std::vector<int>{first[0], first[0] + 3})) << "yet the count went on";
    for (int i : dumps()) std::remove(("morv_tdb_dump_" + std::to_string(i)).c_str());
    // A dump that cannot be written says so.
    MORV_LOG_CAPTURE log(0);
    t.timing()->dump_tdb_netlist("no_such_folder/dump");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "Warning: could not write the TDB netlist dump no_such_folder/dump");
}

TEST_F(MorvTimingEarly, TheLegacyAnalysisForgetsTheHostsFigureOfMerit)
{
    cfg_set_value("fsyn_use_legacy_fom", "on");
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    t.analyse();
    t.timing()->set_fom_from_env(true);
    t.timing()->perform_timing_analysis();
    EXPECT_FALSE(t.timing()->is_fom_from_env());
}

TEST_F(MorvTimingEarly, TheTimingDumpListsRegistersCellsAndConnections)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    t.analyse();
    TDB_NETLIST* tdb = tdc_get_accessories()->get_tdb_netlist();
    tdb->discard_vec_of_edges();
    MORV_LOG_CAPTURE log(2);
    t.timing()->dump_timing();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"TDB_NETLIST vector of edges not found.", ""}));
    tdb->create_vec_of_edges();
    t.timing()->dump_timing();
    int regs = 0, dumps = 0, cells = 0;
    for (const std::string& line : log.lines()) {
        regs += line.rfind("reg: ", 0) == 0;
        dumps += line.rfind("dump: ", 0) == 0;
        cells += line.rfind("cell_dump_", 0) == 0;
    }
    EXPECT_EQ(regs, 2);
    // One line per connection: clock and data of both registers, four LUT inputs.
    EXPECT_EQ(dumps, 8);
    EXPECT_GT(cells, 0);
}

}  // namespace morv_timing_early_test
