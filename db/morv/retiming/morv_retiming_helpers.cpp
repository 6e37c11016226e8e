// Helpers the family hooks call: a placement reference for a new register,
// the mobility refresh around a moved register in skew mode, the slack test
// of the demux queue, the permission to demux an enable, and the register
// queries of the families whose registers stand beside their LUT cells.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_cell_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

namespace {

bool is_skew_element(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node)
{
    return net_util->is_ff(node) || node->is_mac_mult() || node->is_mac_out();
}

}  // namespace

CDB_ATOM_NODE* MORV_RETIMING::find_reference_lcell(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (m_net_util->is_lcell(node)) return node;
    if (iterm->get_source() != nullptr && m_net_util->is_lcell(iterm->get_source()->get_my_node()))
        return iterm->get_source()->get_my_node();
    for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
        for (auto sink = (*out)->begin_iterm_fanout(); sink != (*out)->end_iterm_fanout(); ++sink)
            if (m_net_util->is_lcell((*sink)->get_my_node())) return (*sink)->get_my_node();
    // The net utility's test, as in every step: the host atom's own flag
    // marks only the cells that carry a register too.
    for (CDB_ATOM_NODE* candidate : *m_atom_netlist)
        if (m_net_util->is_lcell(candidate)) return candidate;
    return node;
}

// The skew loop lowers a register's mobility each time its move fails; a
// register that moved changes what its neighbours can do, so they are
// offered again at full mobility. A leaf that switches the mode on without
// a calculator has no mobilities to refresh.
void MORV_RETIMING::reset_neighbour_mobilities(CDB_ATOM_NODE* node)
{
    if (!m_skew_mode || !m_opt_skew) return;
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_net_util()->is_ff(node), "m_fsyn_api->get_fsyn_net_util()->is_ff(node)");
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_DATAIN, 0);
    if (data != nullptr && data->get_source() != nullptr) {
        CDB_ATOM_OTERM* source = data->get_source();
        MORV_ASSERT_TEXT(source->get_my_node(), "source_node");
        for (auto sink = source->begin_iterm_fanout(); sink != source->end_iterm_fanout(); ++sink) {
            CDB_ATOM_NODE* source_out_node = (*sink)->get_my_node();
            MORV_ASSERT_TEXT(source_out_node, "source_out_node");
            if (is_skew_element(m_net_util, source_out_node)) m_opt_skew->reset_bwd_mobility(source_out_node);
        }
    }
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT, 0);
    if (regout == nullptr) return;
    for (auto sink = regout->begin_iterm_fanout(); sink != regout->end_iterm_fanout(); ++sink) {
        CDB_ATOM_NODE* dest = (*sink)->get_my_node();
        for (auto in = dest->begin_iterm(); in != dest->end_iterm(); ++in) {
            if (!(*in)->is_connected() || (*in)->get_source() == nullptr) continue;
            CDB_ATOM_NODE* dest_source_node = (*in)->get_source()->get_my_node();
            MORV_ASSERT_TEXT(dest_source_node, "dest_source_node");
            if (is_skew_element(m_net_util, dest_source_node)) m_opt_skew->reset_fwd_mobility(dest_source_node);
        }
    }
}

// Critical when the worst slack around the node is at most the guardband.
bool MORV_RETIMING::is_critical_by_slack(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    int64_t min_slack = INT_MAX;
    for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
        for (auto sink = (*out)->begin_iterm_fanout(); sink != (*out)->end_iterm_fanout(); ++sink)
            if ((*sink)->is_connected()) min_slack = std::min<int64_t>(min_slack, m_fsyn_timing->get_slack(*sink));
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in)
        if ((*in)->is_connected()) min_slack = std::min<int64_t>(min_slack, m_fsyn_timing->get_slack(*in));
    return min_slack - m_fsyn_timing->get_guardband_slack() < 1;
}

bool MORV_RETIMING::can_demux_enable(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->implements(DB_CLOCK_ENABLE)) return true;
    CDB_ATOM_ITERM* enable = node->get_input_term_by_type(DB_CLOCK_ENABLE, 0);
    if (enable == nullptr || enable->get_source() == nullptr) return true;
    const auto forbids = [this](const HDB_INSTANCE_NAME* name) {
        return m_fsyn_api->find_instance_bool_option(name, MORV_SETTING_RETIMING_NO_DEMUX).value_or(false);
    };
    CDB_ATOM_OTERM* source = enable->get_source();
    CDB_ATOM_NODE* source_node = source->get_my_node();
    if (forbids(source->get_instance_name()) || forbids(source_node->get_instance_name())) return false;
    if (!source_node->is_pin()) return true;
    CDB_ATOM_NODE* pad = CUT_ATOM_IO::get_pad_from_buffer(source_node, true);
    if (pad == nullptr) return true;
    if (forbids(pad->get_instance_name())) return false;
    CDB_ATOM_OTERM* pad_out = pad->get_output_term_by_type(DB_PAD_TO_BUFFER_OUT, 0);
    return pad_out == nullptr || !forbids(pad_out->get_instance_name());
}

bool MORV_RETIMING::is_sload_always(CDB_ATOM_NODE* node) const
{
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    return sload != nullptr && sload->is_connected() && sload->is_logical_vcc();
}

CDB_ATOM_ITERM* MORV_RETIMING::get_effective_data_input(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node, "node");
    return node->get_input_term_by_type(is_sload_always(node) ? DB_SYNCH_DATA : DB_DATAIN);
}

unsigned MORV_RETIMING::seen_value(CDB_ATOM_ITERM* iterm, unsigned reg_value)
{
    return (reg_value ^ (iterm->is_inverted() ? 1u : 0u)) & 1u;
}

void MORV_RETIMING::tie_to_constant(CDB_ATOM_ITERM* iterm, bool vcc)
{
    if (iterm->is_connected()) disconnect_iterm(iterm);
    RETIME_SIGNAL signal;
    signal.is_vcc = vcc;
    signal.is_gnd = !vcc;
    recreate_connection(iterm, signal);
    m_fsyn_api->modify_edge(iterm, false);
}

void MORV_RETIMING::invert_value_of(CDB_ATOM_ITERM* iterm)
{
    const int port = iterm->get_any_usage_as();
    const bool bit = m_net_util->is_lut_data_input(iterm) || port == DB_DATAIN || port == DB_SYNCH_DATA ||
                     (port >= DB_DATA_A && port <= DB_DATA_G && iterm->get_my_node()->is_lcell_comb());
    if (bit && !iterm->get_my_node()->is_pin()) toggle_invert(iterm);
    else invert_iterm(iterm);
}

void MORV_RETIMING::reconnect_to_value_of(CDB_ATOM_ITERM* term, CDB_ATOM_ITERM* source_iterm)
{
    const bool own_invert = term->is_inverted();
    if (source_iterm != nullptr && source_iterm->is_driven()) {
        move_iterm(term, source_iterm->get_source());
        if (source_iterm->is_inverted()) invert_value_of(term);
        return;
    }
    const bool value = source_iterm != nullptr && source_iterm->is_connected() && source_iterm->is_logical_vcc();
    tie_to_constant(term, value != own_invert);
}

const char* MORV_RETIMING::path_of(CDB_ATOM_NODE* node)
{
    static thread_local std::string text;
    text = node->get_instance_name() != nullptr ? node->get_instance_name()->get_short_hpath() : std::string("?");
    return text.c_str();
}

std::vector<CDB_ATOM_ITERM*> MORV_RETIMING::fanouts_of(CDB_ATOM_OTERM* oterm)
{
    std::vector<CDB_ATOM_ITERM*> sinks;
    if (oterm == nullptr) return sinks;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) sinks.push_back(*it);
    return sinks;
}

bool MORV_RETIMING::same_controls(const RETIME_REG& a, const RETIME_REG& b)
{
    for (int control = 0; control < RETIME_NUM_CONTROLS; ++control)
        if (!(a.signals[control] == b.signals[control])) return false;
    return a.clear_low == b.clear_low;
}

bool MORV_RETIMING::constant_data_value(CDB_ATOM_ITERM* iterm, bool clear_low)
{
    return (iterm->is_connected() && iterm->is_logical_vcc()) != !clear_low;
}

bool MORV_RETIMING::register_oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_ff(node)) {
        MORV_DEBUG_STREAM::print(2, "Warning: We don't handle wireluts in front of MACs");
        return false;
    }
    CDB_ATOM_ITERM* regin = get_effective_data_input(node);
    MORV_ASSERT_TEXT(regin && regin->is_connected(), "m_net_util->is_connected(regin)");
    double oslack = 1.0;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout != nullptr) {
        for (auto sink = regout->begin_iterm_fanout(); sink != regout->end_iterm_fanout(); ++sink) {
            if (!(*sink)->is_connected() || m_touched_iterms.contains(*sink)) continue;
            oslack = std::min(oslack, m_fsyn_timing->get_slack_ratio(*sink));
        }
    }
    const double islack = m_touched_iterms.contains(regin) ? 1.0 : m_fsyn_timing->get_slack_ratio(regin);
    if (threshold && m_retime_backwards && oslack >= m_slack_ratio_threshold) {
        MORV_DEBUG_STREAM::print(100, "oslack_less_islack () [backward pushing]: output slack ratio is not below "
                                      "threshold, so returning FALSE regardless of actual slack ratios");
        return false;
    }
    if (threshold && !m_retime_backwards && islack >= m_slack_ratio_threshold) {
        MORV_DEBUG_STREAM::print(100, "oslack_less_islack () [forward pushing]: input slack ratio is not below "
                                      "threshold, so returning TRUE regardless of actual slack ratios");
        return true;
    }
    return islack > oslack + margin;
}

RETIME_REG MORV_RETIMING::describe_pushed_register(CDB_ATOM_NODE* reg_node, bool extra_invert)
{
    RETIME_REG reg = describe_register(reg_node);
    CDB_ATOM_ITERM* data = get_effective_data_input(reg_node);
    const bool data_invert = data != nullptr && data->is_driven() && data->is_inverted();
    if (data_invert != extra_invert) reg.clear_low = !reg.clear_low;
    return reg;
}
