// The register edits of a committed push on 4-LUT cells: removing a pushed
// register, disconnecting it from a cell it feeds, a new register on a cell
// output, a new (or reused) register on a cell input, and the inverter and
// buffer cells those need.
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming_4lut.h"
#include "morv/timing/morv_timing.h"

void MORV_RETIMING_4LUT::disconnect_controls(CDB_ATOM_NODE* node)
{
    for (int port : {DB_CLEAR, DB_SYNCH_CLEAR, DB_CLOCK, DB_CLOCK_ENABLE, DB_SYNCH_LOAD}) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr) continue;
        if (m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1) {
            MORV_DEBUG_STREAM::print(100, "DISCONNECT_BOUNDARY_PORT_ID %s", path_of(node));
            m_fsyn_api->set_boundary_port_id(iterm, -1);
        }
        if (iterm->is_connected()) disconnect_iterm(iterm);
    }
}

// Every fanout of the register output ends reading what the register
// stored: its input's source exclusive-or the input's inversion bit, or its
// constant.
void MORV_RETIMING_4LUT::remove_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(node)");
    MORV_DEBUG_STREAM::print(100, "remove_register(): %s (id: %d)", path_of(node), static_cast<int>(node->get_id()));
    m_demux_queue.erase(node);
    m_fsyn_api->modify_node(node);
    const bool sload_vcc = is_sload_always(node);
    CDB_ATOM_ITERM* input = get_effective_data_input(node);
    disconnect_controls(node);
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr || !regout->has_fanout()) return;
    if (input != nullptr && input->is_driven()) m_registers_to_check.insert(node);
    else
        MORV_ASSERT_TEXT(input == nullptr || !input->is_connected() || input->is_logical_vcc() ||
                             input->is_logical_gnd(),
                         "vcc || gnd");
    for (CDB_ATOM_ITERM* sink : fanouts_of(regout)) reconnect_to_value_of(sink, input);
    if (!sload_vcc || input == nullptr) return;
    m_registers_to_check.insert(node);
    // The fanouts read the synchronous data now: the term serves nothing.
    // The design clears its usage before its connection; here the usage goes
    // last, as the change log's disconnection record finds the term by it.
    if (input->is_connected()) disconnect_iterm(input);
    clear_iterm_usage(input, DB_SYNCH_DATA);
}

void MORV_RETIMING_4LUT::disconnect_register(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(iterm->get_source(), "regout");
    CDB_ATOM_NODE* reg_node = iterm->get_source()->get_my_node();
    MORV_ASSERT_TEXT(reg_node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_ff(reg_node), "m_net_util->is_ff(node)");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_DEBUG_STREAM::print(100, "Disconnecting reg (%d) from node (%d)", static_cast<int>(reg_node->get_id()),
                             static_cast<int>(node->get_id()));
    m_demux_queue.erase(reg_node);
    CDB_ATOM_ITERM* reg_input = get_effective_data_input(reg_node);
    MORV_ASSERT_TEXT(reg_input, "reg_input");
    reconnect_to_value_of(iterm, reg_input);
    m_fsyn_api->modify_node(node);
}

// A register that powers up to 1 is a register of the complement between
// two inversions: its data input is inverted and its fanouts share one
// inverter.
void MORV_RETIMING_4LUT::add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    if (!oterm->has_fanout()) return;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_DEBUG_STREAM::print(100, "Adding reg on COMBOUT: node %d", static_cast<int>(node->get_id()));
    CDB_ATOM_ITERM* data = nullptr;
    CDB_ATOM_OTERM* out = nullptr;
    CDB_ATOM_NODE* reg_node = create_new_register(node, nullptr, data, out);
    place_next_to(node, reg_node);
    record_tracking(reg_node, MORV_NT_TYPE_MERGE);
    if (m_fsyn_api->get_assigned_boundary_port_id(oterm) != -1) m_fsyn_api->move_boundary_port_id(oterm, out);
    finish_new_register(reg_node, reg);
    const std::vector<CDB_ATOM_ITERM*> sinks = fanouts_of(oterm);
    for (CDB_ATOM_ITERM* sink : sinks) move_iterm(sink, out);
    if (!reg.clear_low) invert_fanouts(out, sinks);
    m_net_util->insert_fanout(oterm, data);
    if (data->is_inverted() == reg.clear_low) toggle_invert(data);
}

// An equal register on the same driver (its record, read as the value its
// output holds, has the same controls and power-up value), or for a term
// tied to logical VCC an equal register holding the constant among the
// node's drivers.
CDB_ATOM_NODE* MORV_RETIMING_4LUT::find_reusable_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    if (term->is_driven()) {
        CDB_ATOM_OTERM* source = term->get_source();
        for (auto it = source->begin_iterm_fanout(); it != source->end_iterm_fanout(); ++it) {
            CDB_ATOM_ITERM* sink = *it;
            if (sink == term || m_new_register_iterms.contains(sink)) continue;
            RETIME_REG found;
            CDB_ATOM_OTERM* regout = backward_push_get_reg(sink, found, true);
            if (regout == nullptr || !same_controls(found, retime_iterm.reg)) continue;
            if (m_net_util->is_lcell(regout->get_my_node())) return regout->get_my_node();
        }
        return nullptr;
    }
    if (!term->is_connected() || !term->is_logical_vcc()) return nullptr;
    const bool value = constant_data_value(term, retime_iterm.reg.clear_low);
    CDB_ATOM_NODE* node = term->get_my_node();
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
        CDB_ATOM_OTERM* driver = (*in)->get_source();
        if (driver == nullptr || !driver->is_used_as(DB_REG_OUT) || !m_net_util->is_ff(driver->get_my_node())) continue;
        CDB_ATOM_NODE* candidate = driver->get_my_node();
        if (is_register_complex(candidate, false) || is_sload_always(candidate)) continue;
        RETIME_REG found = describe_register(candidate);
        CDB_ATOM_ITERM* data = candidate->get_input_term_by_type(DB_DATAIN);
        if (!found.clear_low || data == nullptr || !data->is_connected() || data->is_driven()) continue;
        if (data->is_logical_vcc() != value) continue;
        found.clear_low = retime_iterm.reg.clear_low;
        if (same_controls(found, retime_iterm.reg)) return candidate;
    }
    return nullptr;
}

// The register stores the term's value, complemented when it is to power up
// to 1: its data input takes the term's source with its own inversion bit
// (never the term's copied one) and the constant of a constant term.
CDB_ATOM_NODE* MORV_RETIMING_4LUT::create_inserted_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    const RETIME_REG& reg = retime_iterm.reg;
    CDB_ATOM_NODE* loc_node = find_reference_lcell(term);
    CDB_ATOM_ITERM* data = nullptr;
    CDB_ATOM_OTERM* out = nullptr;
    CDB_ATOM_NODE* reg_node = create_new_register(term->get_my_node(), reg.name, data, out);
    record_tracking(reg_node, MORV_NT_TYPE_SPLIT);
    place_next_to(loc_node != nullptr ? loc_node : term->get_my_node(), reg_node);
    if (!term->is_driven()) {
        MORV_ASSERT_TEXT(term->is_logical_gnd() || term->is_logical_vcc(), "retime_iterm.iterm->is_logical_vcc()");
        hold_constant_in_register(term, data, out, reg.clear_low);
    } else {
        MORV_ITERM_PROPERTIES properties;
        m_net_util->save_iterm_properties(term, &properties);
        m_net_util->insert_fanout(term->get_source(), data);
        properties.inverted = !reg.clear_low;
        properties.boundary_port_id = -1;
        m_net_util->restore_iterm_properties(properties, data);
        move_iterm(term, out);
    }
    finish_new_register(reg_node, reg);
    return reg_node;
}

void MORV_RETIMING_4LUT::insert_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    MORV_ASSERT_TEXT(term, "retime_iterm.iterm");
    CDB_ATOM_NODE* node = term->get_my_node();
    MORV_DEBUG_STREAM::print(100, "insert_register (): %s %d", MORV_NET_UTIL::get_edge_name(term).c_str(),
                             retime_iterm.slack);
    CDB_ATOM_NODE* reg_node = find_reusable_register(retime_iterm);
    if (reg_node != nullptr) take_reused_register(term, reg_node);
    else reg_node = create_inserted_register(retime_iterm);
    clear_inverted_term_routing(term);
    if (!retime_iterm.reg.clear_low) toggle_invert(term);
    take_source_kardel_region(reg_node, retime_iterm.reg);
    m_fsyn_api->modify_node(node);
}

CDB_ATOM_NODE* MORV_RETIMING_4LUT::insert_wire_cell(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, uint64_t mask)
{
    HDB_INSTANCE_NAME* base_name = base_node->get_instance_name();
    MORV_ASSERT_TEXT(base_name, "base_name");
    CDB_ATOM_NODE* cell = create_lcell_comb(nullptr, m_net_util->make_unique_instance_name(base_name, "_RTM0"));
    wire_cell_in_front_of(iterm, base_node, cell, CDB_LUTMASK(4, mask));
    return cell;
}

void MORV_RETIMING_4LUT::insert_inverter_lcell(CDB_ATOM_ITERM* iterm)
{
    if (flip_tied_term(iterm)) return;
    MORV_DEBUG_STREAM::print(100, "insert_inverter_lcell(): %s", MORV_NET_UTIL::get_edge_name(iterm).c_str());
    insert_wire_cell(iterm, inverter_base_node(iterm, &CDB_ATOM_NODE::is_lcell_comb), s_INVERTER_MASK);
}

void MORV_RETIMING_4LUT::insert_buffer_lcell(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_DEBUG_STREAM::print(100, "insert_buffer_lcell(): %s", MORV_NET_UTIL::get_edge_name(iterm).c_str());
    insert_wire_cell(iterm, iterm->get_my_node(), s_BUFFER_MASK);
}
