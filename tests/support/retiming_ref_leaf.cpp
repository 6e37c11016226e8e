#include "retiming_ref_leaf.h"

#include <algorithm>
#include <unordered_map>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"
#include "scripted_slack.h"

namespace {

constexpr int k_lut_inputs = 6;
// Node-tracking kinds of created registers: forward, backward, inverter.
constexpr int k_nt_forward_register = 1;
constexpr int k_nt_backward_register = 2;
// Controls a new register takes from the pushed one; a register with a
// synchronous load never moves here.
const int k_moved_controls[] = {RETIME_CLEAR, RETIME_SYNCH_CLEAR, RETIME_CLOCK, RETIME_CLOCK_ENABLE};
const int k_feedback_ports[] = {DB_CLOCK, DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR};
const int k_removed_controls[] = {DB_CLEAR, DB_SYNCH_CLEAR, DB_CLOCK, DB_CLOCK_ENABLE, DB_ASYNCH_LOAD, DB_SYNCH_LOAD};

bool is_constant(const CDB_ATOM_ITERM* t)
{
    return t->is_connected() && !t->is_driven();
}

std::vector<CDB_ATOM_ITERM*> fanouts_of(CDB_ATOM_OTERM* out)
{
    std::vector<CDB_ATOM_ITERM*> sinks;
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) sinks.push_back(*it);
    return sinks;
}

bool is_plain_cell(MORV_NET_UTIL* util, CDB_ATOM_NODE* node)
{
    return node->is_lcell_comb() && !util->is_lcell_part_of_a_carry_chain(node) && !util->is_in_extended_mode(node) &&
           !util->is_carry_in_connected(node) && !util->has_carry_out_fanout(node);
}

}  // namespace

RETIMING_REF_LEAF::RETIMING_REF_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params, int max_critical_slack)
    : MORV_RETIMING(api, params)
{
    m_num_lut_inputs = k_lut_inputs;
    m_trade = 1.0;
    m_max_critical_slack = max_critical_slack;
}

void RETIMING_REF_LEAF::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    m_retime_backwards = pass % 2 == 0;
    if (m_slack_ratio_threshold < 0.0) m_slack_ratio_threshold = 0.1;
    if (num_iters < 0) num_iters = 4;
    if (hill_climb_iters < 0) hill_climb_iters = 2;
}

void RETIMING_REF_LEAF::begin_push()
{
    insert_set1.clear();
    delete_set0.clear();
    m_iterms_to_disconnect.clear();
    m_output_registers.clear();
    m_push_max_age = -1;
}

int RETIMING_REF_LEAF::age_of(CDB_ATOM_NODE* node) const
{
    auto it = m_register_age.find(static_cast<int>(node->get_id()));
    return it == m_register_age.end() ? 0 : it->second;
}

void RETIMING_REF_LEAF::note_commit()
{
    if (!m_committing) ++m_counts.pushes;
    m_committing = true;
}

unsigned RETIMING_REF_LEAF::evaluate_cell(CDB_ATOM_NODE* node, unsigned index)
{
    unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
    for (int k = 0; k < k_lut_inputs; ++k) in[k] = index >> k & 1u;
    return node->evaluate_output(DB_COMB_OUT, in);
}

// ---- backward pushes

bool RETIMING_REF_LEAF::is_movable_register(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* data_input, bool flag)
{
    if (!m_net_util->is_ff(node) || !data_input->is_used_as(DB_DATAIN)) return false;
    if (is_register_complex(node, flag) || has_register_feedback(node)) return false;
    // A load tied high reads the synchronous data, not this input.
    if (m_net_util->is_connected(node, DB_SYNCH_LOAD) && !node->get_input_term_by_type(DB_SYNCH_LOAD)->is_logical_gnd())
        return false;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    return regout != nullptr && !m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME);
}

// Once the register goes, its fanouts read the cell through the wire LUT
// and the register's data-input inversion; the cell must then give the
// value that reads as the register's power-up 0.
bool RETIMING_REF_LEAF::target_clear_low(CDB_ATOM_NODE* reg_node, CDB_ATOM_NODE* wire_lut)
{
    bool flip = reg_node->get_input_term_by_type(DB_DATAIN)->is_inverted();
    if (wire_lut != nullptr) {
        CDB_ATOM_ITERM* input = get_wire_lut_input(wire_lut);
        const int slot = input->get_any_usage_as() - DB_DATA_A;
        flip ^= (evaluate_cell(wire_lut, (input->is_inverted() ? 1u : 0u) << slot) != 0);
    }
    return !flip;
}

CDB_ATOM_OTERM* RETIMING_REF_LEAF::backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    note_query();
    CDB_ATOM_NODE* node = iterm->get_my_node();
    CDB_ATOM_NODE* wire_lut = nullptr;
    CDB_ATOM_ITERM* data_input = iterm;
    if (node->is_lcell_comb()) {
        if (!is_plain_cell(m_net_util, node) || !is_wire_lut(node)) return nullptr;
        CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
        if (comb == nullptr || comb->get_number_of_fanout() != 1) return nullptr;
        wire_lut = node;
        data_input = *comb->begin_iterm_fanout();
        node = data_input->get_my_node();
    }
    if (!is_movable_register(node, data_input, flag)) return nullptr;
    reg = describe_register(node);
    reg.clear_low = target_clear_low(node, wire_lut);
    return reg.regout;
}

int RETIMING_REF_LEAF::search_input_combination(CDB_ATOM_NODE* node, unsigned value)
{
    unsigned unconnected = 0;
    for (int k = 0; k < k_lut_inputs; ++k)
        if (!m_net_util->is_connected(node, DB_DATA_A + k)) unconnected |= 1u << k;
    uint32_t index = ~0u;
    while (next_input_subset(&index)) {
        if ((index & unconnected) != 0) continue;
        if (evaluate_cell(node, index) == value) return static_cast<int>(index);
    }
    return -1;
}

bool RETIMING_REF_LEAF::create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool&, bool&)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!is_plain_cell(m_net_util, node)) return false;
    const int index = search_input_combination(node, reg.clear_low ? 0u : 1u);
    if (index < 0) return false;
    for (int k = 0; k < k_lut_inputs; ++k) {
        CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_A + k);
        if (t == nullptr || !t->is_connected()) continue;
        const bool bit = (index >> k & 1) != 0;
        // A constant equal to the value needs no register.
        if (is_constant(t) && t->is_logical_vcc() == bit) continue;
        add_retime_iterm(reg, node, DB_DATA_A + k, !bit);
    }
    return true;
}

void RETIMING_REF_LEAF::add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type, bool clear_low)
{
    MORV_ASSERT_TEXT(port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE,
                     "port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE");
    CDB_ATOM_ITERM* t = node->get_input_term_by_type(port_type);
    if (t == nullptr || !t->is_connected()) return;
    RETIME_ITERM e;
    e.slack = get_iterm_slack(t);
    e.iterm = t;
    e.reg = reg;
    e.reg.clear_low = clear_low;
    insert_set1.insert(e);
}

// ---- forward pushes

void RETIMING_REF_LEAF::get_forward_push_ports(CDB_ATOM_NODE*, int& count, int* port_types)
{
    note_query();
    count = 7;
    for (int k = 0; k < count; ++k) port_types[k] = DB_DATA_A + k;
}

bool RETIMING_REF_LEAF::is_forward_push_candidate(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr || !m_net_util->is_lcell(source->get_my_node())) return false;
    CDB_ATOM_NODE* reg = source->get_my_node();
    if (m_remove_set.contains(reg) || !source->is_used_as(DB_REG_OUT) || !m_net_util->is_ff(reg)) return false;
    if (is_register_complex(reg, true) || m_fsyn_api->is_oterm_dont_touch(source, AMM_OP_FITTER_FSYN_RETIME))
        return false;
    if (m_net_util->is_connected(reg, DB_SYNCH_LOAD) && !reg->get_input_term_by_type(DB_SYNCH_LOAD)->is_logical_gnd())
        return false;
    CDB_ATOM_ITERM* data = reg->get_input_term_by_type(DB_DATAIN);
    if (data == nullptr || !data->is_driven()) return false;
    if (m_greedy && !oslack_less_islack(reg, 0.0, false)) return false;
    return !has_register_feedback(reg);
}

bool RETIMING_REF_LEAF::get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    note_query();
    if (!is_forward_push_candidate(iterm)) return false;
    CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
    delete_set0.insert(driver);
    m_iterms_to_disconnect.insert(iterm);
    reg = describe_register(driver);
    return true;
}

// Every pushed register powers up to 0: a port reads its inversion bit,
// a constant its value.
unsigned RETIMING_REF_LEAF::power_up_inputs(CDB_ATOM_NODE* node)
{
    unsigned index = 0;
    for (int k = 0; k < k_lut_inputs; ++k) {
        CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_A + k);
        if (t == nullptr || !t->is_connected()) continue;
        const bool value = is_constant(t) ? t->is_logical_vcc() : t->is_inverted();
        if (value) index |= 1u << k;
    }
    return index;
}

bool RETIMING_REF_LEAF::create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool&, bool&)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!is_plain_cell(m_net_util, node)) return false;
    CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    if (comb == nullptr || !comb->has_fanout()) return true;
    RETIME_REG out = reg;
    out.clear_low = evaluate_cell(node, power_up_inputs(node)) == 0;
    m_output_registers[comb] = out;
    return true;
}

// ---- judgements

bool RETIMING_REF_LEAF::is_push_allowed(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    note_query();
    if (!is_plain_cell(m_net_util, node)) return false;
    CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_OTERM* sum = node->get_output_term_by_type(DB_SUM_OUT);
    const bool comb_used = comb != nullptr && comb->has_fanout();
    const bool sum_used = sum != nullptr && sum->has_fanout();
    if (!comb_used && !sum_used) {
        if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME)) return false;
        return !m_retime_backwards || m_has_current_register;
    }
    if (sum_used || is_inverter_lut(node)) return false;
    return !m_fsyn_api->is_oterm_dont_touch(comb, AMM_OP_FITTER_FSYN_RETIME);
}

bool RETIMING_REF_LEAF::is_inverting_wire_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(is_wire_lut(node), "is_wire_lut(node)");
    return evaluate_cell(node, 0) != 0;
}

bool RETIMING_REF_LEAF::is_inverter_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell_comb() || !is_wire_lut(node)) return false;
    CDB_ATOM_ITERM* input = get_wire_lut_input(node);
    if (input == nullptr) return false;
    const int slot = input->get_any_usage_as() - DB_DATA_A;
    if (slot < 0 || slot >= k_lut_inputs) return false;
    return evaluate_cell(node, 0) == 1 && evaluate_cell(node, 1u << slot) == 0;
}

bool RETIMING_REF_LEAF::is_register_complex(CDB_ATOM_NODE* node, bool flag)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_ff(node)) return false;
    CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
    if (aload != nullptr && aload->is_connected() && !aload->is_logical_gnd()) return true;
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (sload != nullptr && sload->is_connected() && !sload->is_logical_gnd() && !sload->is_logical_vcc()) return true;
    return flag && m_fsyn_api->has_connected_secondary_iterm(node, !m_retime_side_clocks);
}

bool RETIMING_REF_LEAF::has_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(node)");
    for (int port : k_feedback_ports) {
        CDB_ATOM_ITERM* t = node->get_input_term_by_type(port);
        if (t != nullptr && t->get_source() != nullptr && t->get_source()->get_my_node() == node) return true;
    }
    return false;
}

bool RETIMING_REF_LEAF::is_retimeable_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    return iterm->get_my_node()->is_lcell_comb() && m_net_util->is_lut_data_input(iterm) &&
           m_fsyn_api->get_assigned_boundary_port_id(iterm) == -1;
}

bool RETIMING_REF_LEAF::has_critical_input(CDB_ATOM_NODE* node)
{
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port)
        if (is_input_critical(node, port)) return true;
    return is_input_critical(node, DB_CARRY_IN) || is_input_critical(node, DB_SHARE_IN);
}

bool RETIMING_REF_LEAF::oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold)
{
    if (!m_net_util->is_ff(node)) return false;
    CDB_ATOM_ITERM* regin = node->get_input_term_by_type(DB_DATAIN);
    MORV_ASSERT_TEXT(regin != nullptr && regin->is_connected(), "m_net_util->is_connected(regin)");
    double oslack = 1.0;
    if (CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT))
        for (CDB_ATOM_ITERM* t : fanouts_of(regout))
            if (t->is_connected() && !m_touched_iterms.contains(t))
                oslack = std::min(oslack, m_fsyn_timing->get_slack_ratio(t));
    const double islack = m_touched_iterms.contains(regin) ? 1.0 : m_fsyn_timing->get_slack_ratio(regin);
    if (threshold && m_retime_backwards && oslack >= m_slack_ratio_threshold) return false;
    if (threshold && !m_retime_backwards && islack >= m_slack_ratio_threshold) return true;
    return islack > oslack + margin;
}

// ---- register edits

void RETIMING_REF_LEAF::place_next_to(CDB_ATOM_NODE* model, CDB_ATOM_NODE* node)
{
    MORV_LOC location;
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map != nullptr && chip_map->get_node_location(static_cast<int>(model->get_id()), &location) &&
        location.x != MORV_OPEN && location.y != MORV_OPEN) {
        copy_location(model, node);
        return;
    }
    m_fsyn_api->node_added(node, model, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
    m_live_nodes.insert(node);
    ++m_created_node_count;
}

CDB_ATOM_NODE* RETIMING_REF_LEAF::new_register(CDB_ATOM_NODE* model, const RETIME_REG& reg, CDB_ATOM_OTERM*& regout,
                                               CDB_ATOM_ITERM*& datain)
{
    CDB_ATOM_NODE* node = m_net_util->create_register(model, reg.name);
    MORV_ASSERT_TEXT(node, "reg_node");
    regout = nullptr;
    datain = nullptr;
    m_cdb_interface->create_oterm(nullptr, regout, node, DB_REG_OUT, node->get_instance_name());
    m_cdb_interface->create_input_term(nullptr, datain, node, DB_DATAIN, 0);
    MORV_ASSERT_TEXT(regout && datain, "reg_oterm");
    m_touched_iterms.insert(datain);
    connect_controls(node, reg);
    if (reg.regout != nullptr) m_fsyn_api->copy_oterm_timing_assignment(reg.regout, regout);
    place_next_to(model, node);
    ++m_counts.registers_created;
    return node;
}

void RETIMING_REF_LEAF::connect_controls(CDB_ATOM_NODE* node, const RETIME_REG& reg)
{
    for (int control : k_moved_controls) {
        const RETIME_SIGNAL& signal = reg.signals[control];
        if (control == RETIME_CLOCK_ENABLE && signal.is_vcc) continue;
        connect_register_input(node, signal, k_retime_control_ports[control], 0);
    }
}

void RETIMING_REF_LEAF::take_new_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* regout, const RETIME_REG& reg,
                                          int nt_kind)
{
    // A push through cells without registers of their own consumed none.
    if (!m_consumed_register_ids.empty()) record_tracking(node, nt_kind);
    m_new_registers.insert(node);
    if (reg.regout != nullptr) alias_regout(regout, reg.regout);
    m_register_age[static_cast<int>(node->get_id())] = m_push_max_age + 1;
}

void RETIMING_REF_LEAF::remove_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(node)");
    note_commit();
    m_demux_queue.erase(node);
    m_fsyn_api->modify_node(node);
    for (int port : k_removed_controls)
        if (CDB_ATOM_ITERM* t = node->get_input_term_by_type(port)) disconnect_iterm_and_port(t);
    ++m_counts.registers_removed;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr || !regout->has_fanout()) return;
    CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_DATAIN);
    MORV_ASSERT_TEXT(data != nullptr && data->is_connected(), "vcc || gnd");
    const std::vector<CDB_ATOM_ITERM*> sinks = fanouts_of(regout);
    if (data->is_driven()) {
        CDB_ATOM_OTERM* driver = data->get_source();
        m_net_util->adopt_fanouts(driver, regout);
        for (CDB_ATOM_ITERM* t : sinks) m_fsyn_api->modify_edge(t, false);
        // The register read its data complemented: so must its fanouts now.
        if (data->is_inverted()) invert_fanouts(driver, sinks);
        m_registers_to_check.insert(node);
        return;
    }
    const bool vcc = data->is_logical_vcc();
    for (CDB_ATOM_ITERM* t : sinks) {
        disconnect_iterm(t);
        vcc ? m_cdb_interface->set_iterm_logical_vcc(t) : m_cdb_interface->set_iterm_logical_gnd(t);
    }
}

void RETIMING_REF_LEAF::disconnect_register(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    note_commit();
    CDB_ATOM_NODE* reg = iterm->get_source()->get_my_node();
    MORV_ASSERT_TEXT(m_net_util->is_ff(reg), "m_net_util->is_ff(node)");
    m_demux_queue.erase(reg);
    CDB_ATOM_ITERM* input = reg->get_input_term_by_type(DB_DATAIN);
    MORV_ASSERT_TEXT(input, "reg_input");
    copy_iterm_connection(input, iterm);
    m_touched_iterms.insert(iterm);
    m_fsyn_api->modify_node(iterm->get_my_node());
}

void RETIMING_REF_LEAF::add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    note_commit();
    if (!oterm->has_fanout()) return;
    CDB_ATOM_NODE* cell = oterm->get_my_node();
    CDB_ATOM_OTERM* regout = nullptr;
    CDB_ATOM_ITERM* datain = nullptr;
    CDB_ATOM_NODE* node = new_register(cell, reg, regout, datain);
    take_new_register(node, regout, reg, k_nt_forward_register);
    const std::vector<CDB_ATOM_ITERM*> sinks = fanouts_of(oterm);
    m_net_util->adopt_fanouts(regout, oterm);
    for (CDB_ATOM_ITERM* t : sinks) m_fsyn_api->modify_edge(t, false);
    m_net_util->insert_fanout(oterm, datain);
    m_fsyn_api->modify_edge(datain, false);
    // Powering up to 1: the register holds the complement.
    if (!reg.clear_low) {
        datain->set_invert();
        invert_fanouts(regout, sinks);
    }
}

void RETIMING_REF_LEAF::insert_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* t = retime_iterm.iterm;
    MORV_ASSERT_TEXT(t, "iterm");
    note_commit();
    CDB_ATOM_NODE* cell = t->get_my_node();
    CDB_ATOM_OTERM* regout = nullptr;
    CDB_ATOM_ITERM* datain = nullptr;
    CDB_ATOM_NODE* node = new_register(cell, retime_iterm.reg, regout, datain);
    take_new_register(node, regout, retime_iterm.reg, k_nt_backward_register);
    // The register reads what the term read; the term reads the register.
    copy_iterm_connection(t, datain);
    move_iterm(t, regout);
    m_saved_invert = !retime_iterm.reg.clear_low;
    apply_saved_invert(t);
    if (!retime_iterm.reg.clear_low) datain->set_invert(!datain->is_inverted());
    m_touched_iterms.insert(t);
}

void RETIMING_REF_LEAF::insert_inverter_lcell(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_OTERM* former = iterm->get_source();
    CDB_ATOM_NODE* model = iterm->get_my_node();
    CDB_ATOM_NODE* cell = m_net_util->create_lcell_comb(model);
    CDB_ATOM_OTERM* out = nullptr;
    m_cdb_interface->create_oterm(nullptr, out, cell, DB_COMB_OUT, cell->get_instance_name());
    CDB_ATOM_ITERM* in = nullptr;
    m_cdb_interface->create_input_term(nullptr, in, cell, DB_DATA_A, 0);
    const CDB_FAMILY_INFO* info = cdb_get_family_info(m_fsyn_api->get_base_family_code());
    uint64_t value = 0x1;
    for (int width = 2; width < (1 << info->lut_size); width <<= 1) value |= value << width;
    CDB_LUTMASK mask(info->lut_size, value);
    if (info->reversed_bit_order) mask.mirror_mask();
    m_cdb_interface->set_lutmask(cell, mask, 0);
    place_next_to(model, cell);
    if (former != nullptr) m_net_util->insert_fanout(former, in);
    m_touched_iterms.insert(in);
    move_iterm(iterm, out);
    ++m_counts.inverters;
}

// ---- unit-delay slacks

namespace {

class UNIT_DELAY
{
public:
    explicit UNIT_DELAY(CDB_ATOM_NETLIST& netlist) : m_netlist(netlist)
    {
        for (CDB_ATOM_NODE* node : netlist)
            for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
                m_period = std::max(m_period, arrival(*it));
        m_period = std::max(m_period, 1);
    }
    int period() const { return m_period; }

    int arrival(CDB_ATOM_OTERM* o)
    {
        CDB_ATOM_NODE* node = o->get_my_node();
        if (!node->is_lcell_comb()) return 0;
        auto [it, fresh] = m_arrival.emplace(o, 0);
        if (!fresh) return it->second;
        int deepest = 0;
        for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in)
            if ((*in)->is_driven()) deepest = std::max(deepest, arrival((*in)->get_source()));
        m_arrival[o] = deepest + 1;
        return deepest + 1;
    }

    // Latest arrival at the term that meets the period; -1 for untimed terms.
    int required(CDB_ATOM_ITERM* t)
    {
        CDB_ATOM_NODE* node = t->get_my_node();
        if (!node->is_lcell_comb()) {
            for (int port : k_removed_controls)
                if (t->is_used_as(port)) return -1;
            return t->is_used_as(DB_CLOCK) ? -1 : m_period;
        }
        auto [it, fresh] = m_required.emplace(node, m_period);
        if (!fresh) return it->second;
        int earliest = m_period;
        for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
            for (CDB_ATOM_ITERM* sink : fanouts_of(*out)) {
                const int r = required(sink);
                if (r >= 0) earliest = std::min(earliest, r);
            }
        m_required[node] = earliest - 1;
        return earliest - 1;
    }

private:
    CDB_ATOM_NETLIST& m_netlist;
    int m_period = 0;
    std::unordered_map<CDB_ATOM_OTERM*, int> m_arrival;
    std::unordered_map<CDB_ATOM_NODE*, int> m_required;
};

constexpr int k_level_ps = 100;

}  // namespace

void script_unit_delay_slacks(CDB_ATOM_NETLIST& netlist, SCRIPTED_SLACK_SOURCE& slacks)
{
    UNIT_DELAY delay(netlist);
    const int period = delay.period();
    for (CDB_ATOM_NODE* node : netlist) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* t = *it;
            const int required = t->is_driven() ? delay.required(t) : -1;
            if (required < 0) {
                slacks.set(t, period * k_level_ps, 1.0);
                continue;
            }
            const int slack = std::max(0, required - delay.arrival(t->get_source()));
            slacks.set(t, slack * k_level_ps, static_cast<double>(slack) / period);
        }
    }
}

int deepest_lut_path(CDB_ATOM_NETLIST& netlist)
{
    return UNIT_DELAY(netlist).period();
}
