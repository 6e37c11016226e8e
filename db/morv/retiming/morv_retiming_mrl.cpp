// MRL retiming: how it walks cones and chains through hsadders, which
// registers a forward push may take (through wire LUTs too), how it takes
// them off a cell, which pushes the region map blocks and its control mux.
#include "morv/retiming/morv_retiming_mrl.h"

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/retiming/morv_retiming_internal.h"

namespace {

const int k_hsadder_ports[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
constexpr int k_max_cone_depth = 5;

}  // namespace

uint64_t morv_retiming_mrl_mux_mask(bool clear, bool enable, bool sdata)
{
    static const uint64_t k_masks[8] = {
        0x0,                    // nothing in use: no mux
        0xffff0000aaaaaaaaULL,  // synchronous data
        0xacacacacacacacacULL,  // enable
        0xfcfc0c0cacacacacULL,  // enable, synchronous data
        0x00aa00aa00aa00aaULL,  // clear
        0x00ff000000aa00aaULL,  // clear, synchronous data
        0x0cac0cac0cac0cacULL,  // clear, enable
        0x0cfc0c0c0cac0cacULL,  // clear, enable, synchronous data
    };
    return k_masks[(clear ? 4 : 0) | (enable ? 2 : 0) | (sdata ? 1 : 0)];
}

// The family's LUT rotation delay is 0: its inputs are not rotated.
MORV_RETIMING_MRL::MORV_RETIMING_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_6LUT_FAMILY(api, params, "mrl", false)
{}

MORV_RETIMING_MRL::~MORV_RETIMING_MRL() = default;

CDB_ATOM_NODE* MORV_RETIMING_MRL::create_family_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_mrl(nullptr, name);
}

void MORV_RETIMING_MRL::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    morv_retiming_apply_pass_defaults(MORV_RETIMING_SCHEDULE_B, pass, m_retime_backwards, m_slack_ratio_threshold,
                                      num_iters, hill_climb_iters);
}

// ---------------------------------------------------------------- cones

void MORV_RETIMING_MRL::collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone)
{
    MORV_ASSERT_TEXT(node, "node");
    for (CDB_ATOM_NODE* cell = m_net_util->get_carry_chain_head(node); cell != nullptr;
         cell = m_net_util->get_next_node_in_carry_chain(cell)) {
        if (cell->is_lcell_hsadder()) {
            for (int port : k_hsadder_ports) collect_fanin_cone(cell, port, cone, 0);
        } else {
            for (int port : MORV_RETIMING_LUT6_PORTS) collect_fanin_cone(cell, port, cone, 0);
        }
    }
}

void MORV_RETIMING_MRL::collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell_comb() && !node->is_lcell_hsadder()) return;
    if (depth >= k_max_cone_depth || !m_net_util->is_connected(node, port_type)) return;
    CDB_ATOM_OTERM* source = node->get_input_term_by_type(port_type)->get_source();
    if (source == nullptr) return;
    CDB_ATOM_NODE* driver = source->get_my_node();
    if (driver->is_lcell_hsadder()) {
        cone.insert(driver);
        for (int port : k_hsadder_ports) collect_fanin_cone(driver, port, cone, depth + 1);
    } else if (driver->is_lcell_comb()) {
        cone.insert(driver);
        for (int port : MORV_RETIMING_LUT6_PORTS) collect_fanin_cone(driver, port, cone, depth + 1);
    }
}

CDB_ATOM_OTERM* MORV_RETIMING_MRL::get_secondary_output_term(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->get_output_term_by_type(node->is_lcell_hsadder() ? DB_HSADDER_SUM_0 : DB_SUM_OUT);
}

CDB_ATOM_OTERM* MORV_RETIMING_MRL::get_hsadder_output_term(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_hsadder() ? node->get_output_term_by_type(DB_HSADDER_SUM_1) : nullptr;
}

void MORV_RETIMING_MRL::get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* port_types)
{
    MORV_ASSERT_TEXT(node, "node");
    count = 0;
    if (node->is_lcell_hsadder()) {
        for (int port : k_hsadder_ports) port_types[count++] = port;
        return;
    }
    for (int port : MORV_RETIMING_LUT6_PORTS) port_types[count++] = port;
}

bool MORV_RETIMING_MRL::has_critical_input(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell_hsadder()) return MORV_RETIMING_6LUT::has_critical_input(node);
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_CHAIN_IN_0, DB_CHAIN_IN_1})
        if (is_input_critical(node, port)) return true;
    return false;
}

// ---------------------------------------------------------------- registers in front of a cell

CDB_ATOM_NODE* MORV_RETIMING_MRL::find_input_register(CDB_ATOM_ITERM* iterm, bool* through_invert)
{
    *through_invert = false;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return nullptr;
    CDB_ATOM_NODE* driver = source->get_my_node();
    if (m_net_util->is_ff(driver)) return driver;
    if (!driver->is_lcell_comb() || !is_wire_lut(driver)) return nullptr;
    CDB_ATOM_ITERM* in = get_wire_lut_input(driver);
    if (in->get_source() == nullptr || !m_net_util->is_ff(in->get_source()->get_my_node())) return nullptr;
    *through_invert = is_inverting_wire_lut(driver) != in->is_inverted();
    return in->get_source()->get_my_node();
}

bool MORV_RETIMING_MRL::is_forward_push_candidate(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const auto refuse = [](const char* reason) {
        MORV_DEBUG_STREAM::print(100, "%s", reason);
        return false;
    };
    CDB_ATOM_OTERM* source = iterm->get_source();
    CDB_ATOM_NODE* driver = source != nullptr ? source->get_my_node() : nullptr;
    if (driver == nullptr || (!m_net_util->is_ff(driver) && !driver->is_lcell_comb() && !driver->is_lcell_hsadder()))
        return refuse("FP: NON-LCELL");
    if (m_remove_set.contains(driver)) return refuse("FP: DELETE-SET");
    CDB_ATOM_OTERM* regout = source;
    if (!source->is_used_as(DB_REG_OUT)) {
        if (!driver->is_lcell_comb() || !is_wire_lut(driver)) return refuse("FP: NON_REGOUT");
        CDB_ATOM_ITERM* in = get_wire_lut_input(driver);
        if (in == nullptr || in->get_source() == nullptr) return false;
        regout = in->get_source();
        if (!regout->is_used_as(DB_REG_OUT)) return refuse("FP: NON_REGOUT");
    }
    CDB_ATOM_NODE* reg_node = regout->get_my_node();
    if (!m_net_util->is_ff(reg_node)) return refuse("FP: NON_REGOUT");
    if (is_register_complex(reg_node, true)) return refuse("FP: REG-COMPLEX");
    if (m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return refuse("FP: DONT TOUCH");
    CDB_ATOM_ITERM* data = get_effective_data_input(reg_node);
    if (data == nullptr || !data->is_connected() || !data->is_driven()) return false;
    if (m_greedy && !oslack_less_islack(reg_node, 0.0, false)) return refuse("FP: GREEDY SLACK VIOLATION");
    return !has_register_feedback(reg_node);
}

bool MORV_RETIMING_MRL::get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const int port = iterm->get_any_usage_as();
    MORV_ASSERT_TEXT(port >= DB_DATA_A && port <= DB_DATA_G, "is_data_input(iterm)");
    if (!is_forward_push_candidate(iterm)) return false;
    bool through_invert = false;
    CDB_ATOM_NODE* reg_node = find_input_register(iterm, &through_invert);
    MORV_ASSERT_TEXT(reg_node, "reg_node");
    if (iterm->get_source()->get_my_node()->is_lcell_comb() && !through_invert)
        MORV_DEBUG_STREAM::print(100, "Warning: input is_wire_lut but not is_wire_lut_inverting!");
    if (!delete_set0.insert(reg_node)) MORV_DEBUG_STREAM::print(100, "FP: Already Deleted");
    m_iterms_to_disconnect.insert(iterm);
    reg = describe_register(reg_node);
    reg.clear_low = !through_invert;
    return true;
}

// The term takes what the register stored; a wire that inverted comes
// back as an inverter in front of the term.
void MORV_RETIMING_MRL::disconnect_register(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(iterm->get_source(), "regout");
    CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
    CDB_ATOM_NODE* node = iterm->get_my_node();
    bool through_invert = false;
    CDB_ATOM_NODE* reg_node = find_input_register(iterm, &through_invert);
    if (driver->is_lcell_comb()) {
        MORV_ASSERT_TEXT(reg_node, "node->is_lcell_ff()");
        MORV_DEBUG_STREAM::print(100, "Disconnecting reg (%d) from node (%d) through wire",
                                 static_cast<int>(reg_node->get_id()), static_cast<int>(node->get_id()));
    } else {
        MORV_ASSERT_TEXT(reg_node == driver, "node->is_lcell_ff()");
        MORV_DEBUG_STREAM::print(100, "Disconnecting reg (%d) from node (%d)", static_cast<int>(reg_node->get_id()),
                                 static_cast<int>(node->get_id()));
    }
    m_demux_queue.erase(reg_node);
    CDB_ATOM_ITERM* reg_input = get_effective_data_input(reg_node);
    MORV_ASSERT_TEXT(reg_input, "reg_input");
    reconnect_to_value_of(iterm, reg_input);
    if (through_invert) insert_inverter_lcell(iterm);
    m_fsyn_api->modify_node(node);
}

// ---------------------------------------------------------------- chains

int MORV_RETIMING_MRL::chain_head_carry_in(CDB_ATOM_NODE* node)
{
    CDB_ATOM_ITERM* chain_in = node->get_input_term_by_type(DB_CHAIN_IN_0);
    if (chain_in == nullptr || !chain_in->is_connected()) return 0;
    if (chain_in->is_driven()) return -1;
    return chain_in->is_logical_vcc() ? 1 : 0;
}

int MORV_RETIMING_MRL::hsadder_carry_in(CDB_ATOM_NODE* node, bool carry_low_ret)
{
    CDB_ATOM_NODE* previous = m_net_util->get_previous_node_in_carry_chain(node);
    if (previous == nullptr) return chain_head_carry_in(node);
    if (!previous->is_lcell_hsadder()) return -1;
    return carry_low_ret ? 0 : 1;
}

bool MORV_RETIMING_MRL::has_foreign_chain_connection(CDB_ATOM_NODE* node)
{
    if (morv_output_has_fanout(node, DB_CHAIN_OUT_1)) return true;
    CDB_ATOM_OTERM* carry_out = node->get_output_term_by_type(DB_CHAIN_OUT_0);
    if (carry_out != nullptr && carry_out->has_fanout()) {
        if (carry_out->get_number_of_fanout() != 1) return true;
        CDB_ATOM_ITERM* sink = carry_out->get_first_fanout();
        if (!sink->get_my_node()->is_lcell_hsadder() || !sink->is_used_as(DB_CHAIN_IN_0) || sink->is_inverted())
            return true;
    }
    CDB_ATOM_ITERM* chain_in = node->get_input_term_by_type(DB_CHAIN_IN_0);
    if (chain_in == nullptr || !chain_in->is_driven()) return false;
    return !chain_in->get_source()->get_my_node()->is_lcell_hsadder() || chain_in->is_inverted();
}

bool MORV_RETIMING_MRL::is_push_blocked_by_region_map(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_lcell_hsadder(), "node->is_lcell_hsadder()");
    if (has_foreign_chain_connection(node)) {
        MORV_DEBUG_STREAM::print(100, "hsadder %s: its chain ports reach outside the chain: not pushed", path_of(node));
        return true;
    }
    const bool sum0 = morv_output_has_fanout(node, DB_HSADDER_SUM_0),
               sum1 = morv_output_has_fanout(node, DB_HSADDER_SUM_1);
    if (!sum0 && !sum1) {
        if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME)) return true;
        if (m_retime_backwards && !m_has_current_register) return true;
    }
    MORV_REGION_MAP* region_map = m_fsyn_api->get_fsyn_region_map();
    MORV_ASSERT_TEXT(region_map, "fsyn_region_map");
    for (int port : {DB_HSADDER_SUM_0, DB_HSADDER_SUM_1}) {
        if (!morv_output_has_fanout(node, port)) continue;
        CDB_ATOM_OTERM* out = node->get_output_term_by_type(port);
        if (m_fsyn_api->is_oterm_dont_touch(out, AMM_OP_FITTER_FSYN_RETIME)) return true;
        if (m_retime_backwards) continue;
        for (auto sink = out->begin_iterm_fanout(); sink != out->end_iterm_fanout(); ++sink) {
            if (!region_map->is_node_locked_by_region((*sink)->get_my_node())) continue;
            MORV_DEBUG_STREAM::print(100, "warning: retiming push disabled because of region map");
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- control mux

// The branch's mux with this family's masks, standing for no boundary port:
// the controls lose theirs and the data input keeps its own. An open data
// input leaves the mux's data input open (both read 0). Only the edge into
// the data input is announced.
// The design reconnects the register's existing data input, and stops with
// an internal error when there is none or when the clear is not driven;
// here a register without a data input is refused before anything is made,
// as nothing would read the mux, and a clear tied low counts as absent and
// one tied high is folded into the mask, as in the branch: a register
// without a data input or with a constant clear is a valid netlist, not a
// fault. The design's mux, as the branch's, takes the synchronous load only
// with connected synchronous data and drops a live one without; here, as in
// the branch, a live load with open synchronous data reads a constant 0 on
// DB_DATA_E, which is what such a register loads.
bool MORV_RETIMING_MRL::create_control_mux(CDB_ATOM_NODE* node)
{
    CONTROL_MUX_STYLE style;
    style.mux_takes_ports = false;
    style.open_data_tied_low = false;
    style.makes_data_input = false;
    style.announces_register = false;
    return build_control_mux(node, style);
}

uint64_t MORV_RETIMING_MRL::control_mux_mask(bool clear, bool enable, bool sdata, bool clear_high)
{
    const uint64_t mask = morv_retiming_mrl_mux_mask(clear || clear_high, enable, sdata);
    // The synchronous clear is the mux's DB_DATA_D, index bit 3.
    return clear_high ? morv_retiming_fold_input_high(mask, 3, false) : mask;
}
