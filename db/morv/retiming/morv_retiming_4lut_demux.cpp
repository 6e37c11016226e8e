// Demuxing a register whose synchronous load, enable or synchronous clear
// is critical: a 4-input LUT in front of the data input computes the
// register's next value and the register keeps only its clock and clear.
// Every mux input reads what the register input read (source exclusive-or
// inversion bit, or the constant); a load's inversion is absorbed in the
// mask and an enable's or clear's comes back as an inverter cell.
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_4lut.h"

uint64_t morv_retiming_4lut_control_mask(bool clear, bool enable)
{
    if (enable) return clear ? 0x0CAC : 0xACAC;
    return 0x00AA;
}

uint64_t morv_retiming_4lut_sload_mask(bool inverted_load)
{
    return inverted_load ? 0xACAC : 0xCACA;
}

void MORV_RETIMING_4LUT::queue_for_demux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_ff(node) || !is_critical_by_slack(node)) return;
    if ((is_input_critical(node, DB_CLOCK_ENABLE) || is_input_critical(node, DB_SYNCH_CLEAR)) &&
        !is_input_critical(node, DB_DATAIN)) {
        m_demux_queue.insert(node);
        MORV_DEBUG_STREAM::print(100, "Inserted node %d to be demuxed", static_cast<int>(node->get_id()));
    }
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (morv_iterm_connected(sload) && !sload->is_vcc() && !sload->is_gnd()) {
        m_demux_queue.insert(node);
        MORV_DEBUG_STREAM::print(100, "Inserted node %d to be SLOAD_demuxed", static_cast<int>(node->get_id()));
    }
}

int MORV_RETIMING_4LUT::run_demuxer()
{
    MORV_DEBUG_STREAM::print(100, "Running the Demuxa");
    int demuxed = 0;
    for (CDB_ATOM_NODE* node : m_demux_queue) {
        if (!m_live_nodes.contains(node) || !m_net_util->is_ff(node)) continue;
        if (create_sload_mux(node)) {
            m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
            ++demuxed;
        }
        if (!m_net_util->is_connected(node, DB_CLOCK_ENABLE) && !m_net_util->is_connected(node, DB_SYNCH_CLEAR))
            continue;
        if (is_register_complex(node, true) || !can_demux_enable(node) || !create_control_mux(node)) continue;
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        MORV_DEBUG_STREAM::print(100, "DEMUXING {%s}", path_of(node));
        ++demuxed;
    }
    return demuxed;
}

CDB_ATOM_NODE* MORV_RETIMING_4LUT::create_mux_cell(CDB_ATOM_NODE* reg_node, uint64_t mask)
{
    CDB_ATOM_NODE* mux = m_net_util->create_lcell_comb(reg_node);
    MORV_ASSERT_TEXT(mux, "mux");
    CDB_ATOM_OTERM* out = nullptr;
    m_cdb_interface->create_oterm(nullptr, out, mux, DB_COMB_OUT, mux->get_instance_name());
    MORV_ASSERT_TEXT(out, "mux_out");
    place_next_to(reg_node, mux);
    m_cdb_interface->set_lutmask(mux, CDB_LUTMASK(4, mask), 0);
    m_fsyn_api->modify_node(mux);
    return mux;
}

// The design makes a new constant cell for every mux input tied to a
// constant; here one cell per value serves every such input while it lives.
// Every tie reads the same value, so a cell per tie would only use up logic
// cells: a demux pass over many registers with constant data or controls
// would add one per register.
void MORV_RETIMING_4LUT::create_constant_generator(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, bool value)
{
    CDB_ATOM_OTERM*& out = m_constant_outputs[value ? 1 : 0];
    if (out == nullptr || !m_live_nodes.contains(out->get_my_node())) {
        CDB_ATOM_NODE* generator = m_net_util->create_lcell_comb(node);
        MORV_ASSERT_TEXT(generator, "constant_generator");
        out = nullptr;
        m_cdb_interface->create_oterm(nullptr, out, generator, DB_COMB_OUT, generator->get_instance_name());
        MORV_ASSERT_TEXT(out, "constant_comb_out");
        m_cdb_interface->set_lutmask(generator, CDB_LUTMASK(4, value ? 0xFFFF : 0x0000), 0);
        place_next_to(node, generator);
    }
    if (iterm->is_connected()) disconnect_iterm(iterm);
    if (iterm->is_inverted()) toggle_invert(iterm);
    m_net_util->insert_fanout(out, iterm);
    m_fsyn_api->modify_edge(iterm, false);
}

// The mux input takes the register input's driver and properties, its
// boundary port included; the inversion bit only where asked. A constant
// becomes a constant cell of its logical value, and an unconnected input a
// constant 0, what the register read.
void MORV_RETIMING_4LUT::feed_mux_input(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to,
                                        bool keep_invert)
{
    if (!morv_iterm_driven(from)) {
        create_constant_generator(reg_node, to, morv_iterm_connected(from) && from->is_logical_vcc());
        return;
    }
    take_driver_of(from, to, keep_invert);
}

// The mux output drives the data input, which loses its inversion bit
// (DB_DATA_A carries it) and its delay chain.
void MORV_RETIMING_4LUT::drive_register_data(CDB_ATOM_NODE* reg_node, CDB_ATOM_OTERM* mux_out)
{
    CDB_ATOM_ITERM* data_in = reg_node->get_input_term_by_type(DB_DATAIN);
    if (data_in == nullptr) m_cdb_interface->create_input_term(nullptr, data_in, reg_node, DB_DATAIN, 0);
    MORV_ASSERT_TEXT(data_in, "datain");
    if (data_in->is_connected()) disconnect_iterm(data_in);
    if (data_in->is_inverted()) toggle_invert(data_in);
    m_cdb_interface->reset_iterm_delay_chain(data_in);
    m_cdb_interface->set_iterm_connected_to_delay_chain(data_in, false);
    m_net_util->insert_fanout(mux_out, data_in);
    m_fsyn_api->modify_edge(data_in, false);
    m_fsyn_api->modify_node(reg_node);
}

bool MORV_RETIMING_4LUT::create_sload_mux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    if (!morv_iterm_driven(sload) || !morv_iterm_driven(sdata)) return false;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    if (m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return false;
    MORV_DEBUG_STREAM::print(100, "create sload_mux (): %s", path_of(node));
    CDB_ATOM_ITERM* data_in = node->get_input_term_by_type(DB_DATAIN);
    MORV_ASSERT_TEXT(data_in, "datain");
    if (morv_iterm_connected(node->get_input_term_by_type(DB_CLOCK_ENABLE)) ||
        morv_iterm_connected(node->get_input_term_by_type(DB_SYNCH_CLEAR)))
        MORV_DEBUG_STREAM::print(100, "...should call DE-MUXer next");
    const bool inverted_load = sload->is_inverted();
    CDB_ATOM_NODE* mux = create_mux_cell(node, morv_retiming_4lut_sload_mask(inverted_load));
    feed_mux_input(node, data_in, create_mux_input(mux, DB_DATA_A), true);
    feed_mux_input(node, sdata, create_mux_input(mux, DB_DATA_B), true);
    feed_mux_input(node, sload, create_mux_input(mux, DB_DATA_C), false);
    for (CDB_ATOM_ITERM* folded : {sload, sdata})
        if (folded->is_connected()) disconnect_iterm(folded);
    drive_register_data(node, mux->get_output_term_by_type(DB_COMB_OUT));
    MORV_DEBUG_STREAM::print(100, "SUCCESS: created sload_mux (): %s", path_of(node));
    return true;
}

bool MORV_RETIMING_4LUT::create_control_mux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "create control_mux(): %s", path_of(node));
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr || m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return false;
    CDB_ATOM_ITERM* enable = node->get_input_term_by_type(DB_CLOCK_ENABLE);
    CDB_ATOM_ITERM* sclear = node->get_input_term_by_type(DB_SYNCH_CLEAR);
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    const bool enable_used = morv_iterm_connected(enable) && !enable->is_logical_vcc();
    // The design gives a connected clear DB_DATA_D, a constant-0 cell when
    // tied low, and builds a buffer mux for a register with only that clear;
    // here a clear tied to logical GND counts as absent. It never acts: its
    // input would only cost a constant cell, and a mux for it alone a cell
    // and a LUT delay in front of the data input.
    const bool clear_used = morv_iterm_connected(sclear) && !sclear->is_logical_gnd();
    if (!enable_used && !clear_used) return false;
    if (morv_iterm_connected(sload) && !sload->is_logical_gnd()) return false;
    CDB_ATOM_NODE* mux = create_mux_cell(node, morv_retiming_4lut_control_mask(clear_used, enable_used));
    // The design puts the synchronous data on DB_DATA_A when the data input
    // is unconnected; here DB_DATA_A reads a constant 0 and the synchronous
    // data is dropped with the controls. This mux is built only for a
    // register that never loads (its load open or tied low), and by the
    // register rule such a register reads 0 from an open data input and
    // never its synchronous data: that data on DB_DATA_A would change what
    // the register computes. The data inversion goes onto DB_DATA_A alone.
    feed_mux_input(node, node->get_input_term_by_type(DB_DATAIN), create_mux_input(mux, DB_DATA_A), true);
    if (enable_used) {
        feed_mux_input(node, enable, create_mux_input(mux, DB_DATA_C), false);
        m_net_util->insert_fanout(regout, create_mux_input(mux, DB_DATA_B));
    }
    if (clear_used) feed_mux_input(node, sclear, create_mux_input(mux, DB_DATA_D), false);
    const bool enable_inverted = enable_used && morv_iterm_driven_inverted(enable);
    const bool clear_inverted = clear_used && morv_iterm_driven_inverted(sclear);
    for (CDB_ATOM_ITERM* control : {sclear, enable, node->get_input_term_by_type(DB_SYNCH_DATA)}) {
        if (control == nullptr) continue;
        m_fsyn_api->set_boundary_port_id(control, -1);
        if (control->is_connected()) disconnect_iterm(control);
        if (control->is_inverted()) toggle_invert(control);
    }
    drive_register_data(node, mux->get_output_term_by_type(DB_COMB_OUT));
    // Behind its inverter the mux input reads the inverter's output, no
    // longer the control's signal: it stands for no boundary port.
    for (const auto& [inverted, port] : {std::pair{enable_inverted, DB_DATA_C}, std::pair{clear_inverted, DB_DATA_D}}) {
        if (!inverted) continue;
        CDB_ATOM_ITERM* mux_input = mux->get_input_term_by_type(port);
        insert_inverter_lcell(mux_input);
        m_fsyn_api->set_boundary_port_id(mux_input, -1);
    }
    return true;
}
