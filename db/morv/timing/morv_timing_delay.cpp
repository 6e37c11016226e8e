// Delays the timing front end answers: internal cell delays from the device
// model, connection and output-to-output delays read off the timing
// netlist, the weighted averages of critical interconnect delays and the
// structured-ASIC LUT delay.

#include <algorithm>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "nevra/nevra_estimator.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing.h"

namespace {

// Node classes of the device model's LUT cells.
constexpr int NODE_CLASS_4LUT = 3;
constexpr int NODE_CLASS_6LUT = 94;
constexpr int NODE_CLASS_6LUT_500 = 95;
constexpr int NODE_CLASS_ALM = 159;
constexpr int NODE_CLASS_HALF_A = 58;
constexpr int NODE_CLASS_HALF_B = 59;
// Below this slack ratio a connection counts in the annotated averages.
constexpr float CRITICAL_RATIO = 0.25f;
// Delay queries of an edge's record: cell delay, and interconnect delay.
constexpr int CELL_DELAY_KIND = 1;
constexpr int IC_DELAY_KIND = 0;
constexpr int LARGER_TRANSITION = 2;

// Fan-in edges of a node, data then clock.
constexpr int FANIN_SELECTOR = TDB_SELECT_ALL_FANIN;

TDB_NETLIST* timing_netlist()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    return accessories != nullptr ? accessories->get_tdb_netlist() : nullptr;
}

}  // namespace

int MORV_TIMING::get_internal_delay(int cell_kind, int input_port, int) const
{
    DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    MORV_ASSERT_TEXT(device, "current_device");
    const DTM_TIMING_INFO* info = device->get_timing_info();
    if (morv_family_traits(m_fsyn_api->get_base_family_code()).m_timing.m_alm_internal_delay) {
        if (cell_kind != s_CELL_KIND_6LUT) return CDB_ILLEGAL_TSM_DELAY;
        // The average over the four half-cell combinations of the ALM.
        int sum = 0;
        for (int a : {NODE_CLASS_HALF_B, NODE_CLASS_HALF_A})
            for (int b : {NODE_CLASS_HALF_B, NODE_CLASS_HALF_A})
                sum += info->get_p2p_node_delay(input_port, DB_COMB_OUT, 0, NODE_CLASS_ALM, NODE_CLASS_6LUT, a, b);
        return sum / 4;
    }
    int node_class = 0;
    switch (cell_kind) {
    case s_CELL_KIND_4LUT: node_class = NODE_CLASS_4LUT; break;
    case s_CELL_KIND_6LUT: node_class = NODE_CLASS_6LUT; break;
    case s_CELL_KIND_6LUT_500: node_class = NODE_CLASS_6LUT_500; break;
    default:
        MSG_INTERNAL_ERROR::report("NOT SUPPORTED get_internal_delay", "MORV", __FILE__, __LINE__);
        return CDB_ILLEGAL_TSM_DELAY;
    }
    return info->get_p2p_node_delay(input_port, DB_COMB_OUT, 0, node_class);
}

// Walks back from the node of the sink's combinational output to the edge
// from the driver. An intermediate timing node that carries this iterm leads
// on. Of parallel edges from the driver (it drives several inputs of the
// cell) the one of this iterm is taken, so each input answers its own delay.
int MORV_TIMING::get_connection_delay(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (m_timing_mode == MORV_TIMING_MODE_NEVRA) return get_estimated_connection_delay(iterm);
    TDB_NETLIST* tdb_netlist = timing_netlist();
    MORV_ASSERT_TEXT(tdb_netlist, "tdb_netlist");
    CDB_ATOM_NODE* dst_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(dst_node, "dst_node");
    CDB_ATOM_OTERM* src_oterm = iterm->get_source();
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    CDB_ATOM_OTERM* dst_oterm = dst_node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(dst_oterm, "dst_oterm");
    const TDB_NODE* src_tdb_node = tdb_netlist->get_tdb_node_from_oterm(src_oterm);
    MORV_ASSERT_TEXT(src_tdb_node, "src_tdb_node");
    const TDB_NODE* node = tdb_netlist->get_tdb_node_from_oterm(dst_oterm);
    MORV_ASSERT_TEXT(node, "dst_tdb_node");
    // Each step moves to a node carrying the iterm; a cycle of such nodes
    // cannot hold more steps than the netlist has nodes.
    for (int steps = 0; node != nullptr && steps <= tdb_netlist->get_num_nodes(); ++steps) {
        const TDB_NODE* next = nullptr;
        for (TDB_EDGE_COMPOUND_ITER it(node, FANIN_SELECTOR); !it.done(); ++it) {
            TDB_EDGE* tdb_edge = *it;
            const TDB_NODE* source = tdb_edge->get_src_node();
            if (source == src_tdb_node && tdb_edge->get_iterm() == iterm) {
                MORV_ASSERT_TEXT(tdb_edge, "tdb_edge");
                const TDB_DELAY* delay = tdb_edge->get_delay();
                MORV_ASSERT_TEXT(delay, "delay");
                return delay->get_delay(CELL_DELAY_KIND, TDB_MAX, LARGER_TRANSITION);
            }
            if (next == nullptr && source->get_iterm() == iterm) next = source;
        }
        node = next;
    }
    return MORV_TIMING::s_NO_PATH;
}

// The estimator keeps no analyser netlist to walk. Its edge of the
// connection carries, as the analyser's does, the delay through the cell
// from this input, taken from the table model it times with; that delay is
// what tells one input of a LUT from another (their interconnect delays
// from the same source are equal), so LIR and INV_PUSH weigh the same
// delay in either mode.
int MORV_TIMING::get_estimated_connection_delay(CDB_ATOM_ITERM* iterm) const
{
    CDB_ATOM_NODE* dst_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(dst_node, "dst_node");
    MORV_ASSERT_TEXT(iterm->get_source(), "src_oterm");
    MORV_ASSERT_TEXT(dst_node->get_output_term_by_type(DB_COMB_OUT), "dst_oterm");
    MORV_ASSERT_TEXT(m_table_timing_model, "m_table_timing_model");
    const int delay = m_table_timing_model->get_cell_delay(dst_node, iterm->get_any_usage_as(), DB_MAX_OUTPUT_PORT_TYPE,
                                                           DB_COMB_OUT, true);
    return delay < 0 ? MORV_TIMING::s_NO_PATH : delay;
}

// Like the connection delay, walking back through nodes whose iterm the
// source drives; among parallel edges from the source the slowest counts.
int MORV_TIMING::get_oterm_to_oterm_delay(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* dst_oterm) const
{
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    MORV_ASSERT_TEXT(dst_oterm, "dst_oterm");
    TDB_NETLIST* tdb_netlist = timing_netlist();
    MORV_ASSERT_TEXT(tdb_netlist, "tdb_netlist");
    MORV_ASSERT_TEXT(dst_oterm->get_my_node(), "dst_node");
    const TDB_NODE* src_tdb_node = tdb_netlist->get_tdb_node_from_oterm(src_oterm);
    const TDB_NODE* node = tdb_netlist->get_tdb_node_from_oterm(dst_oterm);
    if (src_tdb_node == nullptr || node == nullptr) return MORV_TIMING::s_NO_PATH;
    for (int steps = 0; node != nullptr && steps <= tdb_netlist->get_num_nodes(); ++steps) {
        const TDB_NODE* next = nullptr;
        int worst = MORV_TIMING::s_NO_PATH;
        for (TDB_EDGE_COMPOUND_ITER it(node, FANIN_SELECTOR); !it.done(); ++it) {
            const TDB_EDGE* tdb_edge = *it;
            const TDB_NODE* source = tdb_edge->get_src_node();
            if (source == src_tdb_node) {
                const TDB_DELAY* delay = tdb_edge->get_delay();
                const int d = delay->get_delay(CELL_DELAY_KIND, TDB_MAX, LARGER_TRANSITION) +
                              delay->get_delay(IC_DELAY_KIND, TDB_MAX, LARGER_TRANSITION);
                worst = worst == MORV_TIMING::s_NO_PATH ? d : std::max(worst, d);
            } else if (next == nullptr && source->get_iterm() != nullptr &&
                       source->get_iterm()->get_source() == src_oterm) {
                next = source;
            }
        }
        if (worst != MORV_TIMING::s_NO_PATH) return worst;
        node = next;
    }
    return MORV_TIMING::s_NO_PATH;
}

int MORV_TIMING::get_max_delay_to_node(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_NODE* dst_node) const
{
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    MORV_ASSERT_TEXT(dst_node, "dst_node");
    int worst = MORV_TIMING::s_NO_PATH;
    for (auto it = dst_node->begin_oterm(); it != dst_node->end_oterm(); ++it) {
        const int d = get_oterm_to_oterm_delay(src_oterm, *it);
        if (d != MORV_TIMING::s_NO_PATH) worst = worst == MORV_TIMING::s_NO_PATH ? d : std::max(worst, d);
    }
    return worst;
}

// Weighted by (1 - ratio)^2 over the connections below a ratio of 0.25;
// the weights start at 1.0 so that no critical connection answers 0.
// The edge vector is only the host's index of its edges, dropped with a
// discarded timing netlist (after any register change): it is recreated, as
// for every other walk over the edges, so that the answer does not depend on
// whether some earlier run happened to recreate it. Answering 0 there made
// RESYN's stage delay the bare LUT delay after placement whenever retiming
// had touched a register before it.
void MORV_TIMING::get_average_annotated_delays(int& avg, int& comb_avg) const
{
    // The only caller reads both: they are written before any way out.
    avg = 0;
    comb_avg = 0;
    MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
    double sum = 0.0, weight = 1.0, comb_sum = 0.0, comb_weight = 1.0;
    auto add = [&](float ratio, int delay, bool comb) {
        if (!(ratio < CRITICAL_RATIO)) return;
        const double w = (1.0 - ratio) * (1.0 - ratio);
        sum += delay * w;
        weight += w;
        if (comb) {
            comb_sum += delay * w;
            comb_weight += w;
        }
    };
    if (m_nevra == nullptr) {
        for (const TDB_EDGE* e :
             tdb_edges("tdb_netlist", "tdb_vec_of_edges != NULL", "TDB_NETLIST vector of edges not found.\n")) {
            if (e == nullptr || !e->is_for_tdc() || e->get_iterm()->get_source() == nullptr) continue;
            const CDB_ATOM_NODE* sink = e->get_iterm()->get_my_node();
            if (sink == nullptr || e->get_iterm()->get_source()->get_my_node() == nullptr) continue;
            add(e->get_slack_ratio(), e->get_max_ic_delay(), sink->is_lcell() || sink->is_lcell_comb());
        }
    } else {
        CDB_ATOM_NETLIST* atom_netlist = m_fsyn_api->get_atom_netlist();
        MORV_ASSERT_TEXT(atom_netlist != nullptr, "atom_netlist != NULL");
        MORV_ASSERT_TEXT(m_fsyn_net_util, "m_fsyn_net_util");
        for (CDB_ATOM_NODE* node : *atom_netlist)
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
                if ((*it)->get_source() == nullptr) continue;
                if (m_timing_snapshot != nullptr) {
                    // The graph holds the replaced netlist; a term the
                    // snapshot does not know has no edge in either.
                    if (const SNAPSHOT_ANSWER* answer = snapshot_answer(*it))
                        add(answer->m_slack_ratio, answer->m_delay, m_fsyn_net_util->is_lut(node));
                    continue;
                }
                add(m_nevra->get_slack_ratio_of_connection(*it), m_nevra->get_delay_of_connection(*it),
                    m_fsyn_net_util->is_lut(node));
            }
    }
    avg = static_cast<int>(sum / weight);
    comb_avg = static_cast<int>(comb_sum / comb_weight);
    MORV_DEBUG_STREAM::print(2, "annotated delays, all: %d, comb: %d", avg, comb_avg);
}

int MORV_TIMING::get_fl_lut_delay() const
{
    DEV_FL_INFO* info = m_fsyn_api->get_device_fl_info();
    std::vector<int> cells;
    const int found = info->get_matching_records(0, 14, 0x8000, cells);
    MORV_ASSERT_TEXT(found > 0, "found > 0");
    FLT_MORLIN_TIMING* timing = FLT_MORLIN_TIMING::get_instance();
    return timing->get_cell_delay(cells.front(), DB_DATA_A, 0, DB_COMB_OUT, 0, timing->get_int_setting(),
                                  timing->get_float_setting(), 4);
}
