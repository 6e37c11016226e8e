// The term edits every push is made of. Each edit is announced to the
// facade and, while the change log is on, written to it before it is made.
#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming.h"

void MORV_RETIMING::apply_saved_invert(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (m_saved_invert) {
        if (is_logging()) m_cdb_interface->get_fsyn_log()->log_set_invert(iterm);
        iterm->set_invert();
    } else if (iterm->is_inverted()) {
        if (is_logging()) m_cdb_interface->get_fsyn_log()->log_clear_invert(iterm);
        iterm->clear_invert();
    }
}

void MORV_RETIMING::toggle_invert(CDB_ATOM_ITERM* iterm)
{
    m_saved_invert = !iterm->is_inverted();
    apply_saved_invert(iterm);
}

void MORV_RETIMING::disconnect_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    m_fsyn_api->modify_edge(iterm, true);
    if (is_logging() && iterm->is_connected()) m_cdb_interface->get_fsyn_log()->log_disconnection(iterm);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
}

void MORV_RETIMING::disconnect_iterm_and_port(CDB_ATOM_ITERM* iterm)
{
    disconnect_iterm(iterm);
    m_fsyn_api->set_boundary_port_id(iterm, -1);
}

void MORV_RETIMING::clear_iterm_usage(CDB_ATOM_ITERM* iterm, int port_type)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (is_logging()) m_cdb_interface->get_fsyn_log()->log_clear_usage_as(iterm, port_type);
    iterm->clear_usage_as(port_type);
}

void MORV_RETIMING::move_iterm(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* new_source)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(new_source, "oterm");
    m_saved_invert = iterm->is_inverted();
    disconnect_iterm(iterm);
    if (is_logging()) m_cdb_interface->get_fsyn_log()->log_connection(new_source, iterm);
    new_source->insert_fanout(iterm);
    m_fsyn_api->modify_edge(iterm, false);
    apply_saved_invert(iterm);
}

void MORV_RETIMING::wire_cell_in_front_of(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, CDB_ATOM_NODE* cell,
                                          const CDB_LUTMASK& mask)
{
    MORV_ASSERT_TEXT(cell, "cell");
    CDB_ATOM_ITERM* in = nullptr;
    m_cdb_interface->create_input_term(nullptr, in, cell, DB_DATA_A, 0);
    MORV_ASSERT_TEXT(in, "dataa");
    m_touched_iterms.insert(in);
    CDB_ATOM_OTERM* out = nullptr;
    m_cdb_interface->create_oterm(nullptr, out, cell, DB_COMB_OUT, cell->get_instance_name());
    MORV_ASSERT_TEXT(out, "combout");
    m_cdb_interface->set_lutmask(cell, mask, 0);
    copy_location(base_node, cell);
    CDB_ATOM_OTERM* src_oterm = iterm->get_source();
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(iterm, &properties);
    m_net_util->insert_fanout(src_oterm, in);
    properties.inverted = false;
    properties.boundary_port_id = -1;
    m_net_util->restore_iterm_properties(properties, in);
    move_iterm(iterm, out);
    m_fsyn_api->modify_node(cell);
}

// A constant goes on as its logical value, so that the port sees that value
// whatever the inversion bit was where the signal was captured: tying the
// physical constant (or the logical one) and then writing the captured
// inversion bit on top would turn an enable tied to GND through its
// inversion bit (always on) into a register that never loads.
void MORV_RETIMING::recreate_connection(CDB_ATOM_ITERM* iterm, const RETIME_SIGNAL& signal)
{
    const bool constant = signal.is_gnd || signal.is_vcc;
    if (constant) {
        if (iterm->is_inverted()) {
            if (is_logging()) m_cdb_interface->get_fsyn_log()->log_clear_invert(iterm);
            iterm->clear_invert();
        }
        if (signal.is_gnd) m_cdb_interface->set_iterm_logical_gnd(iterm);
        else m_cdb_interface->set_iterm_logical_vcc(iterm);
    } else if (signal.source != nullptr) {
        m_net_util->insert_fanout(signal.source, iterm);
    }
    m_cdb_interface->set_iterm_properties(iterm, constant ? false : signal.inverted, signal.global_type, s_DELAY_CHAIN,
                                          signal.delay_chain_connected, signal.use_delay_chain,
                                          signal.delay_chain_index, signal.user_delay_chain);
}

// f takes s's connection; a driven or open s also hands on its inversion
// bit, exclusive-or f's former one.
void MORV_RETIMING::copy_iterm_connection(CDB_ATOM_ITERM* siterm, CDB_ATOM_ITERM* fiterm)
{
    MORV_ASSERT_TEXT(siterm, "siterm");
    MORV_ASSERT_TEXT(fiterm, "fiterm");
    const bool former_invert = fiterm->is_inverted();
    disconnect_iterm(fiterm);
    RETIME_SIGNAL signal = read_term_signal(siterm);
    signal.inverted = siterm->is_inverted() != former_invert;
    recreate_connection(fiterm, signal);
}

void MORV_RETIMING::connect_register_input(CDB_ATOM_NODE* node, const RETIME_SIGNAL& signal, int port_type, int index)
{
    MORV_ASSERT_TEXT(node, "node");
    if (signal.source == nullptr && !signal.is_gnd && !signal.is_vcc) return;
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type, index);
    if (iterm == nullptr) {
        m_cdb_interface->create_input_term(nullptr, iterm, node, port_type, index);
        MORV_ASSERT_TEXT(iterm, "new_iterm");
    }
    if (iterm->is_connected()) disconnect_iterm(iterm);
    recreate_connection(iterm, signal);
    m_fsyn_api->set_boundary_port_id(iterm, signal.boundary_port_id);
    m_touched_iterms.insert(iterm);
}

CDB_ATOM_NODE* MORV_RETIMING::create_new_register(CDB_ATOM_NODE* model, HDB_INSTANCE_NAME* base_name,
                                                  CDB_ATOM_ITERM*& data, CDB_ATOM_OTERM*& out)
{
    CDB_ATOM_NODE* reg_node = m_net_util->create_register(model, base_name);
    MORV_ASSERT_TEXT(reg_node, "reg_node");
    data = nullptr;
    m_cdb_interface->create_input_term(nullptr, data, reg_node, DB_DATAIN, 0);
    MORV_ASSERT_TEXT(data, "reg_iterm");
    m_touched_iterms.insert(data);
    out = nullptr;
    m_cdb_interface->create_oterm(nullptr, out, reg_node, DB_REG_OUT, reg_node->get_instance_name());
    MORV_ASSERT_TEXT(out, "reg_oterm");
    return reg_node;
}

void MORV_RETIMING::take_source_kardel_region(CDB_ATOM_NODE* reg_node, const RETIME_REG& source)
{
    const int source_region = source.kardel_region;
    if (source_region == -1 || source_region == m_fsyn_api->get_morv_env()->get_node_kardel_region(reg_node)) return;
    MORV_DEBUG_STREAM::print(100, "Setting node %d to kardel region %d", static_cast<int>(reg_node->get_id()),
                             source_region);
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    int own[4] = {-1, -1, -1, -1};
    env->get_node_locked_region(reg_node, &own[0], &own[1], &own[2], &own[3]);
    m_fsyn_api->set_node_kardel_region(reg_node, source_region);
    // Joining the region copied another cell's assignments, its lock with
    // them: the register keeps its own.
    env->set_node_locked_region(reg_node, own[0], own[1], own[2], own[3]);
}

void MORV_RETIMING::take_source_locked_region(CDB_ATOM_NODE* reg_node, const RETIME_REG& source)
{
    if (source.locked[0] < 0) return;
    MORV_DEBUG_STREAM::print(100, "Locking node %d to (%d, %d) - (%d, %d)", static_cast<int>(reg_node->get_id()),
                             source.locked[0], source.locked[1], source.locked[2], source.locked[3]);
    m_fsyn_api->lock_new_node_to_region(reg_node, source.locked[0], source.locked[1], source.locked[2],
                                        source.locked[3]);
}

CDB_ATOM_ITERM* MORV_RETIMING::create_mux_input(CDB_ATOM_NODE* mux, int port_type)
{
    CDB_ATOM_ITERM* iterm = mux->get_input_term_by_type(port_type);
    if (iterm == nullptr) m_cdb_interface->create_input_term(nullptr, iterm, mux, port_type, 0);
    MORV_ASSERT_TEXT(iterm, "iterm");
    m_touched_iterms.insert(iterm);
    return iterm;
}

void MORV_RETIMING::take_driver_of(CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to, bool keep_invert, bool move_port)
{
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(from, &properties);
    m_net_util->insert_fanout(from->get_source(), to);
    properties.inverted = keep_invert && properties.inverted;
    if (!move_port) properties.boundary_port_id = -1;
    m_net_util->restore_iterm_properties(properties, to);
    if (move_port) m_fsyn_api->set_boundary_port_id(from, -1);
}

void MORV_RETIMING::hold_constant_in_register(CDB_ATOM_ITERM* term, CDB_ATOM_ITERM* data, CDB_ATOM_OTERM* out,
                                              bool clear_low)
{
    tie_to_constant(data, constant_data_value(term, clear_low));
    disconnect_iterm(term);
    m_net_util->insert_fanout(out, term);
    if (term->is_inverted()) toggle_invert(term);
}

void MORV_RETIMING::finish_new_register(CDB_ATOM_NODE* reg_node, const RETIME_REG& reg)
{
    for (int control : {RETIME_CLEAR, RETIME_SYNCH_CLEAR, RETIME_CLOCK, RETIME_CLOCK_ENABLE}) {
        const RETIME_SIGNAL& signal = reg.signals[control];
        if (control == RETIME_CLOCK_ENABLE && signal.is_vcc) continue;
        connect_register_input(reg_node, signal, k_retime_control_ports[control], 0);
    }
    CDB_ATOM_OTERM* out = reg_node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(out, "reg_oterm");
    if (reg.regout != nullptr) {
        m_fsyn_api->copy_oterm_timing_assignment(reg.regout, out);
        record_register_origin(out, reg.regout);
    }
    m_new_registers.insert(reg_node);
    m_register_age[static_cast<int>(reg_node->get_id())] = m_push_max_age + 1;
    take_source_locked_region(reg_node, reg);
}

void MORV_RETIMING::take_reused_register(CDB_ATOM_ITERM* term, CDB_ATOM_NODE* reg_node)
{
    const bool constant = !term->is_driven();
    move_iterm(term, reg_node->get_output_term_by_type(DB_REG_OUT));
    if (constant && term->is_inverted()) toggle_invert(term);
    m_new_registers.insert(reg_node);
    // The design records the tracking of every reuse; here only inside a
    // push: a register asked for outside a push stands in for none.
    if (!m_consumed_register_ids.empty()) record_tracking(reg_node, MORV_NT_TYPE_REUSE);
}

bool MORV_RETIMING::flip_tied_term(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (!iterm->is_connected()) return false;
    if (iterm->is_vcc()) m_cdb_interface->set_iterm_gnd(iterm);
    else if (iterm->is_gnd()) m_cdb_interface->set_iterm_vcc(iterm);
    else return false;
    return true;
}

CDB_ATOM_NODE* MORV_RETIMING::inverter_base_node(CDB_ATOM_ITERM* iterm, bool (CDB_ATOM_NODE::*is_logic_cell)() const)
{
    CDB_ATOM_NODE* base_node = iterm->get_my_node();
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (!(base_node->*is_logic_cell)() && source != nullptr && (source->get_my_node()->*is_logic_cell)())
        return source->get_my_node();
    return base_node;
}

void MORV_RETIMING::clear_inverted_term_routing(CDB_ATOM_ITERM* iterm)
{
    MORV_LOG* log = is_logging() ? m_cdb_interface->get_fsyn_log() : nullptr;
    if (iterm->is_connected_to_delay_chain(s_DELAY_CHAIN)) {
        if (log) log->log_reset_delay_chain(iterm, s_DELAY_CHAIN);
        iterm->reset_delay_chain(s_DELAY_CHAIN);
        if (log) log->log_set_connected_to_delay_chain(iterm, s_DELAY_CHAIN, false);
        iterm->set_connected_to_delay_chain(s_DELAY_CHAIN, false);
    }
    if (iterm->get_global() != 0) {
        if (log) log->log_set_global(iterm, 0);
        iterm->set_global(0);
    }
}

void MORV_RETIMING::reset_term_delay_chain(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (!iterm->is_connected_to_delay_chain(s_DELAY_CHAIN) && !iterm->use_delay_chain(s_DELAY_CHAIN) &&
        !iterm->has_user_delay_chain(s_DELAY_CHAIN) && iterm->get_delay_chain_index(s_DELAY_CHAIN) == -1)
        return;
    m_cdb_interface->reset_iterm_delay_chain(iterm);
    m_cdb_interface->set_iterm_connected_to_delay_chain(iterm, false);
}

void MORV_RETIMING::invert_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* iterm_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(iterm_node, "iterm_node");
    if (iterm_node->is_mac_mult()) {
        toggle_invert(iterm);
        return;
    }
    insert_inverter_lcell(iterm);
    clear_inverted_term_routing(iterm);
}

// One inverter serves every term of the list that is not a DSP input.
void MORV_RETIMING::invert_fanouts(CDB_ATOM_OTERM* oterm, const std::vector<CDB_ATOM_ITERM*>& iterms)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_OTERM* inverted_source = nullptr;
    for (CDB_ATOM_ITERM* curr_iterm : iterms) {
        MORV_ASSERT_TEXT(curr_iterm->get_source() == oterm, "curr_iterm->get_source() == oterm");
        CDB_ATOM_NODE* iterm_node = curr_iterm->get_my_node();
        MORV_ASSERT_TEXT(iterm_node, "iterm_node");
        if (iterm_node->is_mac_mult() || iterm_node->is_mac_out()) {
            toggle_invert(curr_iterm);
            continue;
        }
        if (inverted_source == nullptr) {
            insert_inverter_lcell(curr_iterm);
            CDB_ATOM_OTERM* inv_node_oterm = curr_iterm->get_source();
            MORV_ASSERT_TEXT(inv_node_oterm != nullptr && inv_node_oterm != oterm, "inv_node_oterm");
            inverted_source = inv_node_oterm;
        } else {
            move_iterm(curr_iterm, inverted_source);
        }
        clear_inverted_term_routing(curr_iterm);
    }
}
