// The full analysis by the current back end, and the timing front end's
// reports: the timing-netlist dump after each analysis, the slack-ratio
// histogram and the cell and register timing dump.

#include <cmath>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_block_util.h"
#include "dev/dev_device.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "nevra/nevra_estimator.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr int HISTOGRAM_BINS = 20;
constexpr float HISTOGRAM_STEP = 0.05f;
constexpr int HISTOGRAM_BAR_WIDTH = 50;

// Numbers the timing-netlist dumps of the whole process, also while the
// dump is switched off.
int s_tdb_dump_count = 0;

// The host's late-flow analysis runs with tighter effort settings.
void tighten_for_late_flow(TAN_PARAMETERS& params)
{
    params.m_i1 = 350;
    params.m_i2 = 350;
    params.m_f1 = 0.16f;
    params.m_f2 = 0.16f;
    params.m_b3 = false;
    params.m_b4 = true;
    params.m_b5 = false;
}

}  // namespace

void MORV_TIMING::perform_timing_analysis()
{
    if (m_timing_mode == MORV_TIMING_MODE_NEVRA) {
        run_estimator_timing_analysis();
    } else if (m_timing_mode != MORV_TIMING_MODE_TDC) {
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    } else if (m_use_legacy_fom) {
        m_fsyn_expert->fix_tdb_netlist_for_virtual_nodes();
        MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
        m_tdc_utility->run_legacy_analysis(true);
        m_fom_from_env = false;
    } else {
        full_tdc_analysis();
    }
    m_itest_is_current = false;
    m_itest_annotated = false;
}

// The host's analysis with its parameters, tightened in the LATE flow.
void MORV_TIMING::full_tdc_analysis()
{
    m_fom_from_env = false;
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    TAN_PARAMETERS params = *accessories->get_tan_parameters();
    if (m_fsyn_expert->is_fsyn_running(LATE_FSYN_FLOW)) tighten_for_late_flow(params);
    MORV_DEBUG_STREAM::print(1, "TAN Parameters: %d %d, %g %g, %d %d, %g %g, %d, %d, %d, %d, %d, %d, %d, %s",
                             params.m_i1, params.m_i2, static_cast<double>(params.m_f1),
                             static_cast<double>(params.m_f2), params.m_i3, params.m_i4,
                             static_cast<double>(params.m_f3), static_cast<double>(params.m_f4), params.m_i5,
                             params.m_b1 ? 1 : 0, params.m_b2 ? 1 : 0, params.m_b3 ? 1 : 0, params.m_b4 ? 1 : 0,
                             params.m_b5 ? 1 : 0, params.m_b6 ? 1 : 0, params.m_s != nullptr ? params.m_s : "None");
    m_fsyn_expert->fix_tdb_netlist_for_virtual_nodes();
    const TAN_RESULT result = accessories->run_tan(nullptr, params, true);
    dump_tdb_netlist("morv_tdb_dump_" + std::to_string(s_tdb_dump_count++));
    m_figure_of_merit = result.m_figure_of_merit;
    MORV_DEBUG_STREAM::print(1, "Figure of merit from TDC_ACCESSORIES is %f", m_figure_of_merit);
}

void MORV_TIMING::dump_tdb_netlist(const std::string& file_name) const
{
    if (!cfg_is_on("fsyn_enable_tdb_netlist_dump", false)) return;
    TDB_NETLIST* tdb_netlist = tdc_get_accessories()->get_tdb_netlist();
    MORV_ASSERT_TEXT(tdb_netlist, "tdb_netlist");
    MORV_DEBUG_STREAM::print(2, "Dumping TDB netlist to %s", file_name.c_str());
    // A debug file that cannot be written must not pass unnoticed.
    if (!tdb_netlist->dump_to_file(FIO_PATH(file_name), false))
        MORV_DEBUG_STREAM::print(0, "Warning: could not write the TDB netlist dump %s", file_name.c_str());
}

// ------------------------------------------------------------------ slack-ratio histogram

void MORV_TIMING::print_slack_ratio_histogram()
{
    int counts[HISTOGRAM_BINS + 1] = {};
    int total = 0;
    int constrained = 0;
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            if (iterm->get_source() == nullptr) continue;
            ++total;
            const int slack = get_slack(iterm);
            const double ratio = get_slack_ratio(iterm);
            if (slack == MORV_TIMING::s_NO_PATH) {
                ++counts[HISTOGRAM_BINS];
                continue;
            }
            int bin = static_cast<int>(static_cast<float>(ratio) / HISTOGRAM_STEP);
            if (bin > HISTOGRAM_BINS - 1) bin = HISTOGRAM_BINS - 1;
            ++counts[bin];
            ++constrained;
        }
    MORV_DEBUG_STREAM::print(2, "MORV_TIMING slack ratio histogram:");
    for (const std::string& line : format_slack_ratio_histogram(counts, constrained, total))
        MORV_DEBUG_STREAM::print(2, "%s", line.c_str());
}

// A bin whose divisor is 0 (no connection of its kind) shows no bar and 0 %.
std::vector<std::string> MORV_TIMING::format_slack_ratio_histogram(const int (&counts)[21], int constrained, int total)
{
    std::vector<std::string> lines;
    char text[128];
    for (int bin = 0; bin <= HISTOGRAM_BINS; ++bin) {
        std::string line;
        if (bin < HISTOGRAM_BINS) std::snprintf(text, sizeof text, "  %0.2f - %0.2f: ", bin * 0.05, (bin + 1) * 0.05);
        else std::snprintf(text, sizeof text, "   1.00 (inf): ");
        line = text;
        const int divisor = bin < HISTOGRAM_BINS ? constrained : total;
        const float percent = divisor > 0 ? static_cast<float>(counts[bin]) / divisor * 100.0f : 0.0f;
        int bar = static_cast<int>(std::ceil(percent * 0.5f));
        if (bar < 1 && counts[bin] > 0 && divisor > 0) bar = 1;
        line.append(static_cast<size_t>(bar), '=');
        line.append(static_cast<size_t>(HISTOGRAM_BAR_WIDTH - bar), ' ');
        std::snprintf(text, sizeof text, " %03.1f%% : %d / %d", static_cast<double>(percent), counts[bin], divisor);
        line += text;
        lines.push_back(line);
    }
    return lines;
}

// ------------------------------------------------------------------ timing dump

namespace {

bool is_plain_keeper(const TDB_NODE* node)
{
    return (node->get_flags() & TDB_NODE_KEEPER_MASK) != 0 && (node->get_flags() & TDB_NODE_LATCH) == 0;
}

// The atom an edge belongs to: the source's input term's, else the source's
// output term's, else the destination's output term's.
const CDB_ATOM_NODE* edge_atom(const TDB_EDGE* edge)
{
    const TDB_NODE* src = edge->get_src_node();
    if (src->get_iterm() != nullptr) return src->get_iterm()->get_my_node();
    if (src->get_oterm() != nullptr) return src->get_oterm()->get_my_node();
    const TDB_NODE* dst = edge->get_dst_node();
    return dst->get_oterm() != nullptr ? dst->get_oterm()->get_my_node() : nullptr;
}

std::string block_prefix(const CDB_ATOM_NODE* atom)
{
    if (atom == nullptr) return "";
    if (atom->is_ram()) return "RAM" + std::to_string(CUT_RAM_UTIL::get_ram_mode(atom)) + " ";
    if (atom->is_mac_mult() || atom->is_mac_out()) return "MAC" + std::to_string(CUT_MAC_UTIL::get_mode(atom)) + " ";
    return "";
}

void dump_registers(const TDB_NETLIST& tdb)
{
    const TDB_UTILITY utility;
    for (const TDB_NODE* node : tdb.node_table()) {
        if (node == nullptr || (node->get_flags() & (TDB_NODE_REGISTER | TDB_NODE_LATCH)) == 0) continue;
        const CDB_ATOM_OTERM* oterm = node->get_oterm();
        if (oterm == nullptr && node->get_num_of_fanout() == 1)
            oterm = node->fanout().front()->get_dst_node()->get_oterm();
        if (oterm == nullptr) continue;
        MORV_DEBUG_STREAM::print(2, "reg: %d %d %d %d", oterm->get_my_node()->get_atom_type(),
                                 oterm->get_any_usage_as(), utility.get_tsu_delay(node), utility.get_tco_delay(node));
    }
}

}  // namespace

void MORV_TIMING::dump_timing()
{
    MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
    TDB_NETLIST* tdb_netlist = tdc_get_accessories()->get_tdb_netlist();
    MORV_ASSERT_TEXT(tdb_netlist != nullptr, "tdb_netlist != NULL");
    // The dump is of the analyser's timing netlist, which holds the
    // figures of the flow where the analyser times it. Where the timing
    // estimator times the flow, that netlist is not timed in it (no delay
    // and a slack ratio of 1 on every edge); the dump reads the estimator's
    // own graph instead, built alike from the same atoms, so that it shows
    // the delays, slack ratios and register times (the estimator's tables)
    // the flow was timed with.
    const TDB_NETLIST* timed = tdb_netlist;
    const std::vector<TDB_EDGE*>* edges = tdb_netlist->get_vec_of_edges();
    if (m_timing_mode == MORV_TIMING_MODE_NEVRA && m_nevra && m_nevra->has_estimation()) {
        timed = m_nevra->get_timing_graph();
        edges = &timed->edge_table();
    }
    if (edges == nullptr) {
        MORV_DEBUG_STREAM::print(2, "TDB_NETLIST vector of edges not found.\n");
        return;
    }
    const DTM_ROOT_NODE* dtm_root_node = DMGR_UTILITY::retrieve_dtm_root_node(false);
    MORV_ASSERT_TEXT(dtm_root_node != nullptr, "dtm_root_node != NULL");
    MORV_DEBUG_STREAM::print(
        2, "scaling_factor: %f",
        dtm_root_node->get_scaling_factor(DTM_ROOT_NODE::DUMP_SCALING_TABLE, DTM_ROOT_NODE::DUMP_SCALING_CORNER));
    dump_registers(*timed);
    for (const TDB_EDGE* edge : *edges)
        if (edge != nullptr) dump_edge_timing(edge);
}

void MORV_TIMING::dump_edge_timing(const TDB_EDGE* edge) const
{
    const TDB_NODE* src = edge->get_src_node();
    const TDB_NODE* dst = edge->get_dst_node();
    const std::string prefix = block_prefix(edge_atom(edge));
    const char* p = prefix.c_str();
    const int delay = edge->get_max_cell_delay();
    auto type_of = [](const auto* term) { return term->get_my_node()->get_atom_type(); };
    const CDB_ATOM_ITERM* src_iterm = src->get_iterm();
    const CDB_ATOM_OTERM* src_oterm = src->get_oterm();
    const CDB_ATOM_OTERM* dst_oterm = dst->get_oterm();
    if (src_iterm != nullptr && dst_oterm != nullptr) {
        MORV_DEBUG_STREAM::print(2, "cell_dump_io: %s%d %d %d %d %d", p, type_of(src_iterm),
                                 src_iterm->get_any_usage_as(), type_of(dst_oterm), dst_oterm->get_any_usage_as(),
                                 delay);
    } else if (src_oterm != nullptr && dst_oterm != nullptr) {
        MORV_DEBUG_STREAM::print(2, "cell_dump_oo: %s%d %d %d %d %d", p, type_of(src_oterm),
                                 src_oterm->get_any_usage_as(), type_of(dst_oterm), dst_oterm->get_any_usage_as(),
                                 delay);
    } else if (is_plain_keeper(dst) && (src_iterm != nullptr || src_oterm != nullptr)) {
        const CDB_ATOM_NODE* keeper = m_fsyn_api->get_node(dst->get_atom_id());
        const int src_type = src_iterm != nullptr ? type_of(src_iterm) : type_of(src_oterm);
        const int src_usage = src_iterm != nullptr ? src_iterm->get_any_usage_as() : src_oterm->get_any_usage_as();
        MORV_DEBUG_STREAM::print(2,
                                 src_iterm != nullptr ? "cell_dump_ik: %s%d %d %d %d" : "cell_dump_ok: %s%d %d %d %d",
                                 p, src_type, src_usage, keeper != nullptr ? keeper->get_atom_type() : -1, delay);
    } else if (is_plain_keeper(src) && dst_oterm != nullptr) {
        const CDB_ATOM_NODE* keeper = m_fsyn_api->get_node(src->get_atom_id());
        MORV_DEBUG_STREAM::print(2, "cell_dump_ko: %s%d %d %d %d", p, keeper != nullptr ? keeper->get_atom_type() : -1,
                                 type_of(dst_oterm), dst_oterm->get_any_usage_as(), delay);
    }
    CDB_ATOM_ITERM* iterm = edge->get_iterm();
    if (iterm == nullptr || iterm->get_source() == nullptr || iterm->get_my_node() == nullptr ||
        iterm->get_source()->get_my_node() == nullptr)
        return;
    const CDB_ATOM_OTERM* driver = iterm->get_source();
    MORV_DEBUG_STREAM::print(2, "dump: %d %d %d %d %d %f %d", type_of(driver), driver->get_any_usage_as(),
                             iterm->get_my_node()->get_atom_type(), iterm->get_any_usage_as(), edge->get_max_ic_delay(),
                             static_cast<double>(edge->get_slack_ratio()), edge->is_for_tdc() ? 1 : 0);
}
