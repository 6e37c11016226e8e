// A register on a cell input for a backward push: an equal register on the
// same driver is reused, otherwise a new one is made. The term ends reading
// REG(x) when the register powers up to 0 and NOT REG(NOT x) when it powers
// up to 1, its own inversion bit kept on top; a constant term ends reading
// a register that holds the constant.
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming_6lut.h"
#include "morv/timing/morv_timing.h"

namespace {

bool is_undriven(CDB_ATOM_ITERM* iterm)
{
    return !iterm->is_driven();
}

}  // namespace

CDB_ATOM_NODE* MORV_RETIMING_6LUT::find_reusable_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    if (!is_undriven(term)) {
        CDB_ATOM_OTERM* source = term->get_source();
        const int port_id = m_fsyn_api->get_assigned_boundary_port_id(term);
        for (auto it = source->begin_iterm_fanout(); it != source->end_iterm_fanout(); ++it) {
            CDB_ATOM_ITERM* sink = *it;
            if (sink == term || m_new_register_iterms.contains(sink)) continue;
            RETIME_REG found;
            CDB_ATOM_OTERM* regout = backward_push_get_reg(sink, found, false);
            if (regout == nullptr || !same_controls(found, retime_iterm.reg)) continue;
            if (m_fsyn_api->get_assigned_boundary_port_id(sink) != port_id) continue;
            return regout->get_my_node();
        }
        return nullptr;
    }
    const bool value = constant_data_value(term, retime_iterm.reg.clear_low);
    CDB_ATOM_NODE* node = term->get_my_node();
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
        if ((*in)->get_source() == nullptr) continue;
        CDB_ATOM_NODE* candidate = (*in)->get_source()->get_my_node();
        if (!m_net_util->is_ff(candidate) || !(*in)->get_source()->is_used_as(DB_REG_OUT)) continue;
        if (is_register_complex(candidate, false) || is_sload_always(candidate)) continue;
        RETIME_REG found = describe_register(candidate);
        found.clear_low = retime_iterm.reg.clear_low;
        CDB_ATOM_ITERM* data = candidate->get_input_term_by_type(DB_DATAIN);
        if (data == nullptr || data->is_driven() || !same_controls(found, retime_iterm.reg)) continue;
        if (!describe_register(candidate).clear_low) continue;
        if ((data->is_connected() && data->is_logical_vcc()) == value) return candidate;
    }
    return nullptr;
}

CDB_ATOM_NODE* MORV_RETIMING_6LUT::create_inserted_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    const RETIME_REG& reg = retime_iterm.reg;
    CDB_ATOM_NODE* loc_node = find_reference_lcell(term);
    CDB_ATOM_NODE* model = register_model(loc_node, reg);
    CDB_ATOM_ITERM* data = nullptr;
    CDB_ATOM_OTERM* out = nullptr;
    CDB_ATOM_NODE* reg_node = create_new_register(model, reg.name, data, out);
    place_next_to(model, reg_node);
    record_tracking(reg_node, MORV_NT_TYPE_SPLIT);
    if (is_undriven(term)) {
        hold_constant_in_register(term, data, out, reg.clear_low);
    } else {
        MORV_ITERM_PROPERTIES properties;
        m_net_util->save_iterm_properties(term, &properties);
        m_net_util->insert_fanout(term->get_source(), data);
        m_net_util->restore_iterm_properties(properties, data);
        // The term keeps its own inversion: what the LUT sees stays the same.
        if (data->is_inverted() == reg.clear_low) toggle_invert(data);
        m_fsyn_api->set_boundary_port_id(data, -1);
        move_iterm(term, out);
    }
    finish_new_register(reg_node, reg);
    return reg_node;
}

void MORV_RETIMING_6LUT::insert_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    MORV_ASSERT_TEXT(term, "retime_iterm.iterm");
    CDB_ATOM_NODE* node = term->get_my_node();
    MORV_DEBUG_STREAM::print(100, "insert_register (): %s %d", node->get_instance_name()->get_short_hpath().c_str(),
                             retime_iterm.slack);
    CDB_ATOM_NODE* reg_node = find_reusable_register(retime_iterm);
    if (reg_node != nullptr) take_reused_register(term, reg_node);
    else reg_node = create_inserted_register(retime_iterm);
    clear_inverted_term_routing(term);
    if (!retime_iterm.reg.clear_low) toggle_invert(term);
    take_source_kardel_region(reg_node, retime_iterm.reg);
    if (!m_fsyn_timing->is_node_changed(static_cast<int>(node->get_id())) &&
        !m_fsyn_timing->is_node_changed(static_cast<int>(reg_node->get_id())))
        m_fsyn_api->modify_node(reg_node);
    reset_neighbour_mobilities(reg_node);
}
