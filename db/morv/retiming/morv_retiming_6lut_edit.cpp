// The register edits of a committed push on 6-LUT cells: removing a pushed
// register, disconnecting it from a cell it feeds, a new register on a cell
// output and a new (or reused) register on a cell input.
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming_6lut.h"
#include "morv/timing/morv_timing.h"

void MORV_RETIMING_6LUT::disconnect_controls(CDB_ATOM_NODE* node, bool* sload_vcc)
{
    for (int port : {DB_CLEAR, DB_SYNCH_CLEAR, DB_CLOCK, DB_CLOCK_ENABLE, DB_ASYNCH_LOAD, DB_SYNCH_LOAD}) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr) continue;
        if (port == DB_SYNCH_LOAD) *sload_vcc = iterm->is_connected() && iterm->is_logical_vcc();
        if (m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1) {
            MORV_DEBUG_STREAM::print(100, "clearing boundary port of %s", path_of(node));
            m_fsyn_api->set_boundary_port_id(iterm, -1);
        }
        if (iterm->is_connected()) disconnect_iterm(iterm);
    }
}

// Every fanout of the register output reads what the register stored: the
// input's source exclusive-or the input's inversion bit, or its constant.
void MORV_RETIMING_6LUT::hand_fanouts_to_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* input)
{
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    const std::vector<CDB_ATOM_ITERM*> sinks = fanouts_of(regout);
    if (input != nullptr && input->is_driven()) {
        m_registers_to_check.insert(node);
        for (CDB_ATOM_ITERM* sink : sinks) reconnect_to_value_of(sink, input);
        return;
    }
    MORV_ASSERT_TEXT(input == nullptr || !input->is_connected() || input->is_logical_vcc() || input->is_logical_gnd(),
                     "vcc || gnd");
    for (CDB_ATOM_ITERM* sink : sinks) reconnect_to_value_of(sink, input);
}

void MORV_RETIMING_6LUT::remove_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(node)");
    MORV_DEBUG_STREAM::print(100, "remove_register (): %s", path_of(node));
    m_demux_queue.erase(node);
    m_fsyn_api->modify_node(node);
    // A register that always loads stores its synchronous data: read that
    // before its load goes.
    CDB_ATOM_ITERM* input = get_effective_data_input(node);
    bool sload_vcc = false;
    disconnect_controls(node, &sload_vcc);
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr || !regout->has_fanout()) return;
    hand_fanouts_to_input(node, input);
    if (!sload_vcc || input == nullptr) return;
    m_registers_to_check.insert(node);
    // The fanouts read the synchronous data now: the term serves nothing.
    // The design names its usage first, then its boundary port and its
    // connection; here the usage goes last: the boundary port and the change
    // log's disconnection record both find the term by its usage.
    m_fsyn_api->set_boundary_port_id(input, -1);
    if (input->is_connected()) disconnect_iterm(input);
    clear_iterm_usage(input, DB_SYNCH_DATA);
}

void MORV_RETIMING_6LUT::disconnect_register(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(iterm->get_source(), "iterm->get_source()");
    CDB_ATOM_NODE* reg_node = iterm->get_source()->get_my_node();
    MORV_ASSERT_TEXT(m_net_util->is_ff(reg_node), "m_net_util->is_ff(node)");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_DEBUG_STREAM::print(100, "Disconnecting reg (%d) from node (%d)", static_cast<int>(reg_node->get_id()),
                             static_cast<int>(node->get_id()));
    m_demux_queue.erase(reg_node);
    CDB_ATOM_ITERM* sload = reg_node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (sload != nullptr && sload->is_connected() && !sload->is_logical_gnd() && !sload->is_logical_vcc()) {
        disconnect_sload_register(iterm, reg_node);
        return;
    }
    CDB_ATOM_ITERM* reg_input = get_effective_data_input(reg_node);
    MORV_ASSERT_TEXT(reg_input, "reg_input");
    if (CDB_ATOM_NODE* duplicate = get_duplicate(node)) {
        CDB_ATOM_ITERM* dup_term = duplicate->get_input_term_by_type(iterm->get_any_usage_as());
        if (dup_term != nullptr && dup_term->get_source() == iterm->get_source())
            reconnect_to_value_of(dup_term, reg_input);
    }
    reconnect_to_value_of(iterm, reg_input);
    m_fsyn_api->modify_node(node);
}

void MORV_RETIMING_6LUT::disconnect_sload_register(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* reg_node)
{
    MORV_ASSERT_TEXT(m_sload_push, "m_sload_push");
    CDB_ATOM_NODE* comb_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(!m_net_util->is_lcell_part_of_a_carry_chain(comb_node),
                     "!m_net_util->is_lcell_part_of_a_carry_chain(comb_node)");
    CDB_ATOM_NODE* duplicate = get_duplicate(comb_node);
    if (duplicate == nullptr) {
        MORV_DEBUG_STREAM::print(100, "Duplicate node (%d) for sload push.", static_cast<int>(comb_node->get_id()));
        duplicate = m_fsyn_api->duplicate_oterm(comb_node, DB_COMB_OUT, true);
        MORV_ASSERT_TEXT(duplicate, "duplicate_node");
        place_next_to(comb_node, duplicate);
        m_node_to_duplicate_map[comb_node] = duplicate;
        for (auto in = duplicate->begin_iterm(); in != duplicate->end_iterm(); ++in)
            if ((*in)->is_connected()) m_touched_iterms.insert(*in);
    }
    CDB_ATOM_ITERM* dup_term = duplicate->get_input_term_by_type(iterm->get_any_usage_as());
    MORV_ASSERT_TEXT(dup_term, "dup_term");
    reconnect_to_value_of(dup_term, reg_node->get_input_term_by_type(DB_SYNCH_DATA));
    reconnect_to_value_of(iterm, reg_node->get_input_term_by_type(DB_DATAIN));
    m_fsyn_api->modify_node(comb_node);
}

CDB_ATOM_NODE* MORV_RETIMING_6LUT::register_model(CDB_ATOM_NODE* node, const RETIME_REG& reg)
{
    if (m_retime_side_clocks && !m_disable_location_copying && reg.regout != nullptr) {
        CDB_ATOM_NODE* reg_node = reg.regout->get_my_node();
        MORV_ASSERT_TEXT(reg_node, "reg_node");
        return reg_node;
    }
    return node;
}

void MORV_RETIMING_6LUT::add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    if (!oterm->has_fanout()) return;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_DEBUG_STREAM::print(100, "Adding reg on OTERM: node %d", static_cast<int>(node->get_id()));
    CDB_ATOM_NODE* model = register_model(node, reg);
    CDB_ATOM_ITERM* data = nullptr;
    CDB_ATOM_OTERM* out = nullptr;
    CDB_ATOM_NODE* reg_node = create_new_register(model, nullptr, data, out);
    place_next_to(model, reg_node);
    record_tracking(reg_node, MORV_NT_TYPE_MERGE);
    if (m_fsyn_api->get_assigned_boundary_port_id(oterm) != -1) m_fsyn_api->move_boundary_port_id(oterm, out);
    finish_new_register(reg_node, reg);
    CDB_ATOM_ITERM* sdata = nullptr;
    // A load tied to a constant was resolved when the register was
    // disconnected (never loads, or always loads its synchronous data).
    if (reg.signals[RETIME_SYNCH_LOAD].source != nullptr) {
        MORV_ASSERT_TEXT(m_sload_push, "m_sload_push");
        connect_register_input(reg_node, reg.signals[RETIME_SYNCH_LOAD], DB_SYNCH_LOAD, 0);
        m_cdb_interface->create_input_term(nullptr, sdata, reg_node, DB_SYNCH_DATA, 0);
        MORV_ASSERT_TEXT(sdata, "reg_sdata_iterm");
        m_touched_iterms.insert(sdata);
    }
    const std::vector<CDB_ATOM_ITERM*> sinks = fanouts_of(oterm);
    for (CDB_ATOM_ITERM* sink : sinks) move_iterm(sink, out);
    if (!reg.clear_low) invert_fanouts(out, sinks);
    if (sdata != nullptr) {
        MORV_ASSERT_TEXT(m_node_to_duplicate_map.count(node), "m_node_to_duplicate_map.count(node)");
        CDB_ATOM_OTERM* dup_out = m_node_to_duplicate_map[node]->get_output_term_by_type(oterm->get_any_usage_as());
        MORV_ASSERT_TEXT(dup_out, "duplicate_oterm");
        m_net_util->insert_fanout(dup_out, sdata);
        if (!reg.clear_low) toggle_invert(sdata);
    }
    m_net_util->insert_fanout(oterm, data);
    if (data->is_inverted() == reg.clear_low) toggle_invert(data);
    reset_neighbour_mobilities(reg_node);
    reset_packed_neighbours(oterm, out);
}

// Two nodes packed into the two halves of one sublocation pair cannot both
// stay there once a register sits between them.
void MORV_RETIMING_6LUT::reset_packed_neighbours(CDB_ATOM_OTERM* oterm, CDB_ATOM_OTERM* reg_out)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_LOC here;
    if (chip_map == nullptr || !chip_map->get_node_location(static_cast<int>(node->get_id()), &here)) return;
    for (CDB_ATOM_ITERM* sink : fanouts_of(reg_out)) {
        CDB_ATOM_NODE* other = sink->get_my_node();
        MORV_LOC there;
        if (!chip_map->get_node_location(static_cast<int>(other->get_id()), &there)) {
            MORV_DEBUG_STREAM::print(100, "Warning - could not find location for node id %d",
                                     static_cast<int>(other->get_id()));
            continue;
        }
        if (here.x != there.x || here.y != there.y || here.sub_loc == MORV_OPEN || there.sub_loc == MORV_OPEN) continue;
        if (here.sub_loc == there.sub_loc || here.sub_loc / 2 != there.sub_loc / 2) continue;
        MORV_DEBUG_STREAM::print(100, "Resetting sublocation of previously packed nodes %d and %d",
                                 static_cast<int>(node->get_id()), static_cast<int>(other->get_id()));
        for (CDB_ATOM_NODE* moved : {node, other}) {
            if (moved->is_lcell_comb() && m_net_util->is_lcell_part_of_a_carry_chain(moved)) continue;
            MORV_LOC open = moved == node ? here : there;
            open.sub_loc = MORV_OPEN;
            chip_map->set_node_location(static_cast<int>(moved->get_id()), open);
        }
    }
}
