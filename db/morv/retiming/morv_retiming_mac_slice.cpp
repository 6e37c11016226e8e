// DSP slices as retiming sees them, which DSP atoms a push may cross, and
// the slack tests that decide whether crossing one is worth it.

#include <algorithm>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_retiming_mac.h"
#include "morv/timing/morv_timing.h"

namespace {

// The operand and adder inputs a slack or register test reads.
bool is_mac_data_port(int port)
{
    return port >= DB_DATA_A && port <= DB_DATA_D;
}

bool is_port_registered(const CDB_ATOM_NODE* mac, int port)
{
    return CUT_MAC_UTIL::is_input_port_registered(mac, port) || CUT_MAC_UTIL::is_pipeline_registered(mac, port);
}

}  // namespace

bool RETIME_MAC_PORT_LESS::operator()(const std::pair<CDB_ATOM_NODE*, int>& a,
                                      const std::pair<CDB_ATOM_NODE*, int>& b) const
{
    if (a.first != b.first) return DETERMINISTIC_LESS<CDB_ATOM_NODE*>()(a.first, b.first);
    return a.second < b.second;
}

const char* morv_mac_mode_name(int mode)
{
    switch (mode) {
    case CUT_MAC_MODE_SIMPLE_MULTIPLIER: return "simple multiplier mode";
    case CUT_MAC_MODE_MULTIPLY_ACCUMULATE: return "multiply/accumulate mode";
    case CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER: return "two mult -> add mode";
    case CUT_MAC_MODE_FOUR_MULTIPLIERS_ADDER: return "four mult -> add mode";
    case CUT_MAC_MODE_36_BIT_ADDER: return "36-bit adder mode";
    case CUT_MAC_MODE_DYNAMIC: return "dynamic mode";
    default: return "";
    }
}

bool morv_mac_refuse(const char* text)
{
    MORV_DEBUG_STREAM::print(100, "%s", text);
    return false;
}

bool morv_mac_signal_has_value(const RETIME_SIGNAL& signal)
{
    return signal.source != nullptr || signal.is_gnd || signal.is_vcc;
}

bool morv_mac_mode_is_retimeable(int mode)
{
    return mode == CUT_MAC_MODE_SIMPLE_MULTIPLIER || mode == CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER ||
           mode == CUT_MAC_MODE_FOUR_MULTIPLIERS_ADDER || mode == CUT_MAC_MODE_36_BIT_ADDER;
}

int MORV_RETIMING::mac_slice_shape() const
{
    return morv_rtm_mac_slice_shape(m_fsyn_api->get_base_family_code());
}

int MORV_RETIMING::get_num_mac_out_data_ports()
{
    const int shape = mac_slice_shape();
    MORV_ASSERT_TEXT(shape != MORV_MAC_SLICE_NONE, "This function is not implememented");
    return shape == MORV_MAC_SLICE_ONE_MULT ? 1 : CDB_MAC_REGISTER_SLOTS;
}

int MORV_RETIMING::get_num_mac_clock_ports()
{
    const int shape = mac_slice_shape();
    MORV_ASSERT_TEXT(shape != MORV_MAC_SLICE_NONE, "This function is not implemented");
    return shape == MORV_MAC_SLICE_ONE_MULT ? 1 : CDB_MAC_REGISTER_SLOTS;
}

// ------------------------------------------------------------ slices

void MORV_RETIMING::build_mac_slices()
{
    MORV_DEBUG_STREAM::print(2, "-GENERATING MAC SLICE RETIMING INFO-");
    m_mac_slices.clear();
    const int ports = get_num_mac_out_data_ports();
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!node->is_mac_out()) continue;
        RETIME_NODE_SET mults;
        for (int port = DB_DATA_A; port < DB_DATA_A + ports; ++port) {
            for (int k = 0; k < MORV_MAC_MAX_PORT_BITS; ++k) {
                CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port, k);
                if (iterm == nullptr || iterm->get_source() == nullptr) continue;
                CDB_ATOM_NODE* source_node = iterm->get_source()->get_my_node();
                MORV_ASSERT_TEXT(source_node->is_mac_mult(), "source_node->is_mac_mult()");
                mults.insert(source_node);
            }
        }
        MORV_ASSERT_TEXT(mults.size() <= 4 && !mults.empty(),
                         "predecessor_set.size() <= 4 && predecessor_set.size() > 0");
        RETIME_MAC_SLICE slice;
        slice.m_mac_mults.assign(mults.begin(), mults.end());
        slice.m_mac_out = node;
        slice.m_mode = CUT_MAC_UTIL::get_mode(node);
        MORV_DEBUG_STREAM::print(100, "Inserting mac{%s} slice {%s} with {%d} MAC_MULTS",
                                 morv_mac_mode_name(slice.m_mode), MORV_NET_UTIL::get_hpath_name(node).c_str(),
                                 static_cast<int>(mults.size()));
        m_mac_slices.push_back(std::move(slice));
    }
    MORV_DEBUG_STREAM::print(2, "MAC Slices Found: %d", static_cast<int>(m_mac_slices.size()));
    MORV_DEBUG_STREAM::print(2, "------------------------------------");
}

RETIME_MAC_SLICE* MORV_RETIMING::find_mac_slice(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac && (mac->is_mac_mult() || mac->is_mac_out())");
    for (RETIME_MAC_SLICE& slice : m_mac_slices) {
        if (slice.m_mac_out == mac) return &slice;
        if (std::find(slice.m_mac_mults.begin(), slice.m_mac_mults.end(), mac) != slice.m_mac_mults.end())
            return &slice;
    }
    return nullptr;
}

// ------------------------------------------------------------ eligibility

bool MORV_RETIMING::is_retimeable_mac(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac->is_mac_mult() || mac->is_mac_out()");
    return mac->is_mac_mult() ? is_retimeable_mac_mult(mac) : is_retimeable_mac_out(mac);
}

namespace {

bool is_tied_to_constant(CDB_ATOM_ITERM* iterm)
{
    return iterm->is_logical_vcc() || iterm->is_logical_gnd();
}

}  // namespace

bool MORV_RETIMING::is_retimeable_mac_mult(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(mac && mac->is_mac_mult(), "mac && mac->is_mac_mult()");
    MORV_DEBUG_STREAM::print(100, "is_retimeable_mac_mult(%s)", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    RETIME_MAC_SLICE* slice = find_mac_slice(mac);
    // A multiplier outside every slice (one that feeds no scanned port of an
    // output block) has nothing to push across.
    if (slice == nullptr) return morv_mac_refuse("MAC: no slice");
    if (!morv_mac_mode_is_retimeable(slice->m_mode)) {
        MORV_DEBUG_STREAM::print(100, "MAC_MULT: UN-RETIMEABLE due to COMPLEX MODE (%d)", slice->m_mode);
        return false;
    }
    const int controls[] = {MORV_MAC_CONTROL_PORT_0, MORV_MAC_CONTROL_PORT_1, MORV_MAC_MULT_CONTROL_PORT_0,
                            MORV_MAC_MULT_CONTROL_PORT_1};
    for (int k = 0; k < 4; ++k) {
        if (!mac->implements(controls[k])) {
            MORV_DEBUG_STREAM::print(100, "MAC: Warning -- some control signals not implemented (%d)", k);
            continue;
        }
        CDB_ATOM_ITERM* iterm = mac->get_input_term_by_type(controls[k], 0);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        // A control tied to a constant through a cell still holds a constant.
        CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
        if (driver->begin_iterm() == driver->end_iterm() || is_tied_to_constant(iterm)) continue;
        MORV_DEBUG_STREAM::print(100, "MAC_MULT: UN-RETIMEABLE due to SIGNAL feeding {%s}",
                                 iterm->get_wysiwyg_port_name());
        return false;
    }
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        const int port = (*it)->get_any_usage_as();
        if (port != DB_DATA_A && port != DB_DATA_B) continue;
        if (CUT_MAC_UTIL::get_scan_in_mult(mac, port) != nullptr ||
            CUT_MAC_UTIL::get_scan_out_mult(mac, port) != nullptr)
            return morv_mac_refuse("MAC_MULT: UN-RETIMEABLE due to SCAN_CHAIN");
        if (m_retime_backwards && CUT_MAC_UTIL::is_input_port_registered(mac, port))
            return morv_mac_refuse("MAC_MULT: UN-RETIMEABLE due to MAC_MULT input register");
    }
    if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(mac->get_id()), AMM_OP_FITTER_FSYN_SKEW_RETIME))
        return morv_mac_refuse("MAC: UN-RETIMEABLE due to DONT-TOUCH condition on MAC_MULT");
    MORV_DEBUG_STREAM::print(100, "MAC_MULT: {%s} looks OK to RETIME!", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    return true;
}

bool MORV_RETIMING::is_retimeable_mac_out(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(mac && mac->is_mac_out(), "mac && mac->is_mac_out()");
    MORV_DEBUG_STREAM::print(100, "is_retimeable_mac_out(%s)", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    RETIME_MAC_SLICE* slice = find_mac_slice(mac);
    // A multiplier outside every slice (one that feeds no scanned port of an
    // output block) has nothing to push across.
    if (slice == nullptr) return morv_mac_refuse("MAC: no slice");
    if (!morv_mac_mode_is_retimeable(slice->m_mode)) {
        MORV_DEBUG_STREAM::print(100, "MAC_OUT: UN-RETIMEABLE due to COMPLEX MODE (%d)", slice->m_mode);
        return false;
    }
    const int shape = mac_slice_shape();
    if (shape == MORV_MAC_SLICE_ALL_MULTS &&
        (CUT_MAC_UTIL::is_pipeline_registered(mac, DB_DATA_A) || CUT_MAC_UTIL::is_pipeline_registered(mac, DB_DATA_C) ||
         CUT_MAC_UTIL::is_output_register_used(mac, DB_DATA_A)))
        return false;
    if (shape != MORV_MAC_SLICE_ONE_MULT) {
        for (int port : {MORV_MAC_CONTROL_PORT_0, MORV_MAC_CONTROL_PORT_1}) {
            // A constant refuses here as well as a driver.
            CDB_ATOM_ITERM* iterm = mac->get_input_term_by_type(port, 0);
            if (iterm == nullptr || !iterm->is_connected()) continue;
            MORV_DEBUG_STREAM::print(100, "MAC_OUT: UN-RETIMEABLE due to SIGNAL feeding {%s}",
                                     iterm->get_wysiwyg_port_name());
            return false;
        }
    }
    if (m_retime_backwards && !mac_out_inputs_allow_backward_push(mac)) return false;
    if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(mac->get_id()), AMM_OP_FITTER_FSYN_SKEW_RETIME))
        return morv_mac_refuse("MAC: UN-RETIMEABLE due to DONT-TOUCH condition on MAC_OUT");
    MORV_DEBUG_STREAM::print(100, "MAC_OUT: {%s} looks OK to RETIME!", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    return true;
}

// A backward push puts the register where the output block's inputs are:
// they must hold none yet, nor may the multipliers hold one at their output.
bool MORV_RETIMING::mac_out_inputs_allow_backward_push(CDB_ATOM_NODE* mac)
{
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        const int port = iterm->get_any_usage_as();
        if (is_port_registered(mac, port))
            return morv_mac_refuse("MAC_OUT: UN-RETIMEABLE due to MAC_OUT input/pipeline register");
        if (!is_mac_data_port(port) || iterm->get_source() == nullptr) continue;
        CDB_ATOM_NODE* source_node = iterm->get_source()->get_my_node();
        MORV_ASSERT_TEXT(source_node->is_mac_mult(), "source_node->is_mac_mult()");
        if (CUT_MAC_UTIL::is_output_port_registered(source_node, DB_DATA_OUT))
            return morv_mac_refuse("MAC_OUT: UN-BACKWARD-RETIMEABLE due to MAC_MULTs having an output register");
    }
    return true;
}

// ------------------------------------------------------------ slack

double MORV_RETIMING::get_mac_output_slack_ratio(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(mac, "mac");
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac->is_mac_mult() || mac->is_mac_out()");
    double ratio = 1.0;
    for (auto out = mac->begin_oterm(); out != mac->end_oterm(); ++out) {
        if ((*out)->get_any_usage_as() != DB_DATA_OUT) continue;
        for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it) {
            CDB_ATOM_ITERM* fanout = *it;
            if (fanout == nullptr || !fanout->is_connected() || m_touched_iterms.contains(fanout)) continue;
            ratio = std::min(ratio, m_fsyn_timing->get_slack_ratio(fanout));
        }
    }
    return ratio;
}

double MORV_RETIMING::get_mac_input_slack_ratio(CDB_ATOM_NODE* mac, int port_type)
{
    MORV_ASSERT_TEXT(mac, "mac");
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac->is_mac_mult() || mac->is_mac_out()");
    double ratio = 1.0;
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm->get_any_usage_as() != port_type || !iterm->is_connected() || m_touched_iterms.contains(iterm))
            continue;
        ratio = std::min(ratio, m_fsyn_timing->get_slack_ratio(iterm));
    }
    return ratio;
}

bool MORV_RETIMING::mac_oslack_less_islack(CDB_ATOM_NODE* mac, int port_type, double margin, bool use_threshold)
{
    const bool input_is_registered = CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_A) ||
                                     CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_B);
    const bool output_is_registered = CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT);
    MORV_ASSERT_TEXT(input_is_registered || output_is_registered, "input_is_registered || output_is_registered");
    if (mac->is_mac_mult() && input_is_registered && output_is_registered) return !m_retime_backwards;
    const double out = get_mac_output_slack_ratio(mac);
    double in = 1.0;
    if (port_type != DB_MAX_INPUT_PORT_TYPE) {
        in = get_mac_input_slack_ratio(mac, port_type);
    } else {
        const int last = mac->is_mac_out() ? DB_DATA_D : DB_DATA_B;
        for (int port = DB_DATA_A; port <= last; ++port) in = std::min(in, get_mac_input_slack_ratio(mac, port));
    }
    if (use_threshold) {
        if (m_retime_backwards && out >= m_slack_ratio_threshold) return false;
        if (!m_retime_backwards && in >= m_slack_ratio_threshold) return true;
    }
    return in > out + margin;
}

namespace {

bool any_fanout_at_most(MORV_TIMING* timing, CDB_ATOM_OTERM* out, double threshold, bool strictly)
{
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) {
        const double ratio = timing->get_slack_ratio(*it);
        if (strictly ? ratio < threshold : ratio <= threshold) return true;
    }
    return false;
}

}  // namespace

bool MORV_RETIMING::has_critical_mac_input(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac->is_mac_mult() || mac->is_mac_out()");
    const double threshold = m_slack_ratio_threshold;
    if (CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_A)) {
        if (CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT)) return false;
        for (auto out = mac->begin_oterm(); out != mac->end_oterm(); ++out)
            if (any_fanout_at_most(m_fsyn_timing, *out, threshold, false)) return true;
        return false;
    }
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it)
        if (m_fsyn_timing->get_slack_ratio(*it) <= threshold) return true;
    return false;
}

bool MORV_RETIMING::is_mac_output_critical(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac->is_mac_mult() || mac->is_mac_out()");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    if (m_skew_mode) return true;
    const int width = CUT_MAC_UTIL::get_output_port_width(mac, DB_DATA_OUT);
    for (int bit = 0; bit < width; ++bit) {
        CDB_ATOM_OTERM* out = mac->get_output_term_by_type(DB_DATA_OUT, bit);
        if (out != nullptr && any_fanout_at_most(m_fsyn_timing, out, m_slack_ratio_threshold, true)) return true;
    }
    return false;
}

bool MORV_RETIMING::is_mac_clock_used(CDB_ATOM_NODE* mac, int clock_index)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "node && (node->is_mac_mult() || node->is_mac_out())");
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        const int port = (*it)->get_any_usage_as();
        if (CUT_MAC_UTIL::is_input_port_registered(mac, port) &&
            CUT_MAC_UTIL::get_input_port_clock(mac, port) == clock_index)
            return true;
        if (CUT_MAC_UTIL::is_pipeline_registered(mac, port) &&
            CUT_MAC_UTIL::get_pipeline_clock(mac, port) == clock_index)
            return true;
    }
    return CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT) == clock_index;
}

bool MORV_RETIMING::is_mac_clear_used(CDB_ATOM_NODE* mac, int clear_index)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "node && (node->is_mac_mult() || node->is_mac_out())");
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        const int port = (*it)->get_any_usage_as();
        if (CUT_MAC_UTIL::is_input_port_registered(mac, port) &&
            CUT_MAC_UTIL::get_input_port_clear(mac, port) == clear_index)
            return true;
        if (CUT_MAC_UTIL::is_pipeline_registered(mac, port) &&
            CUT_MAC_UTIL::get_pipeline_clear(mac, port) == clear_index)
            return true;
    }
    return CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT) &&
           CUT_MAC_UTIL::get_output_port_clear(mac, DB_DATA_OUT) == clear_index;
}

// ------------------------------------------------------------ the core's visit

int MORV_RETIMING::retime_mac_node(CDB_ATOM_NODE* mac, bool ask_output_critical)
{
    MORV_DEBUG_STREAM::print(100, "%s", "");
    MORV_DEBUG_STREAM::print(100, "MAC: attempting to retime {%s}", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    int count = 0;
    if (m_retime_backwards) {
        if (m_mac_backward_pushes && mac_backward_push(mac) > 0) {
            m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
            MORV_DEBUG_STREAM::print(100, "MAC: performed pushback!!!");
            ++count;
        }
        return count;
    }
    if (mac->is_mac_out() && (!ask_output_critical || is_mac_output_critical(mac)) && mac_out_forward_push(mac)) {
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        MORV_DEBUG_STREAM::print(100, "MAC: performed pushforward (really just unpacking MACOUT registers)!!!");
        ++count;
    }
    if (m_mac_forward_pushes && mac_forward_push(mac)) {
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        MORV_DEBUG_STREAM::print(100, "MAC: performed pushforward!!!");
        ++count;
    }
    return count;
}
