// Demuxing a UVO register whose enable, synchronous clear or synchronous
// load is critical. The synchronous load becomes a 2-to-1 mux in the cell's
// own LUT (the old LUT moves to a duplicate that feeds the mux); the enable
// and synchronous clear move into the LUT of a new register cell that reads
// the old cell's LUT, so the register left behind is a plain one.
//
// The register rule is ena ? (sclr ? 0 : (sload ? sdata : d)) : q: the
// enable gates the synchronous clear, and the masks follow it.
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
#include "morv/retiming/morv_retiming_family.h"
#include "morv/retiming/morv_retiming_internal.h"

// A = data, B = register feedback, C = enable, D = synchronous clear:
// C ? (D ? 0 : A) : B with both, C ? A : B with the enable, D ? 0 : A with
// the clear.
uint64_t morv_retiming_uvo_control_mask(bool clear, bool enable)
{
    if (enable) return clear ? 0x0CAC : 0xACAC;
    return 0x00AA;
}

// A = old LUT output, B = synchronous data, C = synchronous load.
uint64_t morv_retiming_uvo_sload_mask(bool inverted_load)
{
    return inverted_load ? 0xACAC : 0xCACA;
}

bool MORV_RETIMING_UVO::has_critical_data_input(CDB_ATOM_NODE* node)
{
    for (int port : MORV_RETIMING_LUT4_PORTS)
        if (is_input_critical(node, port)) return true;
    return false;
}

void MORV_RETIMING_UVO::queue_for_demux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_lcell(node)) return;
    const bool data_critical = has_critical_data_input(node);
    if ((is_input_critical(node, DB_CLOCK_ENABLE) || is_input_critical(node, DB_SYNCH_CLEAR)) &&
        (m_net_util->is_connected(node, DB_SYNCH_DATA) || !data_critical)) {
        m_demux_queue.insert(node);
        MORV_DEBUG_STREAM::print(100, "Inserted node %d to be demuxed", static_cast<int>(node->get_id()));
    }
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (data_critical && morv_iterm_connected(sload) && !sload->is_vcc() && !sload->is_gnd()) {
        m_demux_queue.insert(node);
        MORV_DEBUG_STREAM::print(100, "Inserted node %d to be SLOAD_demuxed", static_cast<int>(node->get_id()));
    }
}

int MORV_RETIMING_UVO::run_demuxer()
{
    MORV_DEBUG_STREAM::print(100, "Running the Demuxa");
    int demuxed = 0;
    for (CDB_ATOM_NODE* node : m_demux_queue) {
        // The queue holds only cells the iteration queued for their critical
        // controls or data; what must hold now is that an earlier push has
        // not deleted the cell. The live-node set says that, and unlike
        // the iteration's own critical set it is there for the single demux
        // step as well, as in the LUT branches.
        if (!m_live_nodes.contains(node) || !m_net_util->is_lcell(node) || m_net_util->is_in_register_cascade(node))
            continue;
        if (create_sload_mux(node)) {
            m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
            ++demuxed;
        }
        if (!m_net_util->is_connected(node, DB_CLOCK_ENABLE) && !m_net_util->is_connected(node, DB_SYNCH_CLEAR))
            continue;
        if (!m_net_util->is_register_present(node) || is_register_complex(node, true)) continue;
        // The register also feeds the LUT back inside the cell: nothing in
        // front of it can take its controls.
        if (m_net_util->is_in_qfbk_mode(node)) continue;
        if (!can_demux_enable(node) || !create_control_mux(node)) continue;
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        MORV_DEBUG_STREAM::print(100, "DEMUXING {%s}", path_of(node));
        ++demuxed;
    }
    m_demux_queue.clear();
    return demuxed;
}

bool MORV_RETIMING_UVO::allows_sload_mux(CDB_ATOM_NODE* node)
{
    if (!m_net_util->is_register_present(node)) return false;
    if (!morv_iterm_driven(node->get_input_term_by_type(DB_SYNCH_LOAD)) ||
        !morv_iterm_driven(node->get_input_term_by_type(DB_SYNCH_DATA)))
        return false;
    if (morv_iterm_connected(node->get_input_term_by_type(DB_ASYNCH_DATA)) ||
        morv_iterm_connected(node->get_input_term_by_type(DB_ASYNCH_LOAD)))
        return false;
    // In QFBK mode the cell's LUT reads its own register: the old LUT
    // cannot move to a duplicate.
    if (m_net_util->is_lcell_part_of_a_carry_chain(node) || m_net_util->is_in_qfbk_mode(node)) return false;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "old_regout");
    return !m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME);
}

// The LUT function moves to a duplicate cell that takes every reader of
// the combinational output; the cell's LUT is left to become the mux.
CDB_ATOM_OTERM* MORV_RETIMING_UVO::move_lut_to_duplicate(CDB_ATOM_NODE* node)
{
    CDB_ATOM_OTERM* old_combout = ensure_combout(node);
    MORV_ASSERT_TEXT(old_combout, "old_combout");
    CDB_ATOM_NODE* new_node = m_fsyn_api->duplicate_oterm(node, DB_COMB_OUT, true);
    MORV_ASSERT_TEXT(new_node, "new_node");
    copy_location(node, new_node);
    CDB_ATOM_OTERM* new_combout = new_node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(new_combout, "new_combout");
    if (old_combout->has_fanout()) m_net_util->adopt_fanouts(new_combout, old_combout);
    // The copy is combinational only: its copied register would read the
    // controls a second time and drive nothing.
    if (CDB_ATOM_OTERM* copied_regout = new_node->get_output_term_by_type(DB_REG_OUT)) {
        MORV_ASSERT_TEXT(!copied_regout->has_fanout(), "!copied_regout->has_fanout()");
        strip_register_controls(new_node);
        new_node->replace_output_term_by_type(nullptr, DB_REG_OUT);
        delete copied_regout;
        m_fsyn_api->modify_node(new_node);
    }
    return new_combout;
}

// A free LUT input of the mux: created when missing, else emptied.
CDB_ATOM_ITERM* MORV_RETIMING_UVO::free_lut_input(CDB_ATOM_NODE* node, int port)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    if (iterm == nullptr) return create_mux_input(node, port);
    if (iterm->is_connected()) disconnect_iterm(iterm);
    if (iterm->is_inverted()) toggle_invert(iterm);
    m_fsyn_api->set_boundary_port_id(iterm, -1);
    m_cdb_interface->reset_iterm_delay_chain(iterm);
    m_cdb_interface->set_iterm_connected_to_delay_chain(iterm, false);
    return iterm;
}

// The data term gives up the register: it stays (or becomes) the LUT's
// DB_DATA_C, or goes when the cell already has another DB_DATA_C term.
void MORV_RETIMING_UVO::release_synch_data(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* sdata)
{
    if (sdata->is_connected()) disconnect_iterm(sdata);
    m_fsyn_api->set_boundary_port_id(sdata, -1);
    if (sdata->is_used_as(DB_DATA_C)) {
        sdata->clear_usage_as(DB_SYNCH_DATA);
        return;
    }
    if (node->get_input_term_by_type(DB_DATA_C) != nullptr) {
        m_net_util->delete_iterm(sdata);
        return;
    }
    m_cdb_interface->set_iterm_usage_as(sdata, DB_DATA_C);
    sdata->clear_usage_as(DB_SYNCH_DATA);
}

bool MORV_RETIMING_UVO::create_sload_mux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!allows_sload_mux(node)) return false;
    MORV_DEBUG_STREAM::print(100, "create sload_mux (): %s", path_of(node));
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    MORV_ITERM_PROPERTIES load_properties;
    MORV_ITERM_PROPERTIES data_properties;
    m_net_util->save_iterm_properties(sload, &load_properties);
    m_net_util->save_iterm_properties(sdata, &data_properties);
    if (morv_iterm_connected(node->get_input_term_by_type(DB_CLOCK_ENABLE)) ||
        morv_iterm_connected(node->get_input_term_by_type(DB_SYNCH_CLEAR)))
        MORV_DEBUG_STREAM::print(100, "...should call DE-MUXer next");
    const bool inverted_load = load_properties.inverted;
    CDB_ATOM_OTERM* new_combout = move_lut_to_duplicate(node);
    CDB_ATOM_OTERM* sdata_source = sdata->get_source();
    MORV_ASSERT_TEXT(sdata_source, "sdata_source");
    CDB_ATOM_OTERM* sload_source = sload->get_source();
    MORV_ASSERT_TEXT(sload_source, "sload_source");
    release_synch_data(node, sdata);
    m_fsyn_api->set_boundary_port_id(sload, -1);
    disconnect_iterm(sload);
    if (sload->is_inverted()) toggle_invert(sload);
    CDB_ATOM_ITERM* emu_din = free_lut_input(node, DB_DATA_A);
    CDB_ATOM_ITERM* emu_sdata = free_lut_input(node, DB_DATA_B);
    CDB_ATOM_ITERM* sel = free_lut_input(node, DB_DATA_C);
    if (CDB_ATOM_ITERM* data_d = node->get_input_term_by_type(DB_DATA_D); morv_iterm_connected(data_d))
        disconnect_iterm(data_d);
    MORV_ASSERT_TEXT(sel && emu_sdata && emu_din, "sel && emu_sdata && emu_din");
    MORV_ASSERT_TEXT(!sel->is_connected(), "!sel ->is_connected()");
    MORV_ASSERT_TEXT(!emu_sdata->is_connected(), "!emu_sdata ->is_connected()");
    MORV_ASSERT_TEXT(!emu_din->is_connected(), "! emu_din->is_connected()");
    m_net_util->insert_fanout(sload_source, sel);
    load_properties.inverted = false;
    m_net_util->restore_iterm_properties(load_properties, sel);
    m_net_util->insert_fanout(sdata_source, emu_sdata);
    m_net_util->restore_iterm_properties(data_properties, emu_sdata);
    m_net_util->insert_fanout(new_combout, emu_din);
    for (CDB_ATOM_ITERM* iterm : {sel, emu_sdata, emu_din}) m_fsyn_api->modify_edge(iterm, false);
    m_cdb_interface->clear_node_bit(node, CDB_ATOM_BIT_QFBK_MODE);
    m_cdb_interface->set_node_bit(node, CDB_ATOM_BIT_FOUR_INPUT_COMB);
    // The mux selects at LUT position C with DB_DATA_C. A cell whose LUT
    // read its carry-in there (bit 28) would keep selecting with that
    // carry-in, unconnected outside a chain, and so lose the load: setting
    // bit 29 alone does not undo it. The old LUT keeps its reading in the
    // duplicate, which copies the bit.
    m_cdb_interface->clear_node_bit(node, CDB_ATOM_BIT_LUTMASK_FLAG);
    write_lutmask(node, morv_retiming_uvo_sload_mask(inverted_load));
    MORV_DEBUG_STREAM::print(100, "SUCCESS: created sload_mux (): %s", path_of(node));
    return true;
}

// The control of port on the new register cell's LUT input: a signal with
// its routing, inversion and boundary port; a constant as its value.
void MORV_RETIMING_UVO::move_control_to_lut(CDB_ATOM_ITERM* control, CDB_ATOM_ITERM* lut_input)
{
    if (morv_iterm_driven(control)) {
        take_driver_of(control, lut_input, true);
    } else {
        tie_to_constant(lut_input, control->is_logical_vcc());
    }
    m_fsyn_api->modify_edge(lut_input, false);
}

// What the old register stored when neither control acts: its LUT, or its
// synchronous data when the load is held high.
void MORV_RETIMING_UVO::feed_control_mux_data(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* data_a)
{
    if (!is_sload_always(node)) {
        m_net_util->insert_fanout(ensure_combout(node), data_a);
        m_fsyn_api->modify_edge(data_a, false);
        return;
    }
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    MORV_ASSERT_TEXT(morv_iterm_driven(sdata), "sdata_source");
    move_control_to_lut(sdata, data_a);
}

// Which controls the mux takes. A clear tied to logical GND never acts and
// an enable at logical VCC always does; an enable at GND holds the
// register, and a synchronous load that is a real signal would be lost:
// such a register is refused.
bool MORV_RETIMING_UVO::control_mux_inputs(CDB_ATOM_NODE* node, bool& enable_used, bool& clear_used)
{
    CDB_ATOM_ITERM* enable = node->get_input_term_by_type(DB_CLOCK_ENABLE);
    CDB_ATOM_ITERM* sclear = node->get_input_term_by_type(DB_SYNCH_CLEAR);
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    if (morv_iterm_connected(enable) && enable->is_logical_gnd()) return false;
    enable_used = morv_iterm_connected(enable) && !enable->is_logical_vcc();
    clear_used = morv_iterm_connected(sclear) && !sclear->is_logical_gnd();
    if (!enable_used && !clear_used) return false;
    MORV_ASSERT_TEXT(enable_used || clear_used, "enable_connected || sclear_connected");
    if (morv_iterm_connected(sload) && !sload->is_logical_gnd() && !sload->is_logical_vcc()) return false;
    if (is_sload_always(node) && !morv_iterm_driven(sdata)) return false;
    if (morv_iterm_connected(node->get_input_term_by_type(DB_ASYNCH_LOAD))) return false;
    return true;
}

// The old cell keeps its LUT; its register loses every control and, read
// by nobody, is deleted by the demux pass.
void MORV_RETIMING_UVO::retire_demuxed_register(CDB_ATOM_NODE* node)
{
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    if (sdata != nullptr) {
        m_fsyn_api->set_boundary_port_id(sdata, -1);
        if (sdata->is_used_as(DB_DATA_C)) {
            sdata->clear_usage_as(DB_SYNCH_DATA);
        } else if (sdata->is_connected()) {
            disconnect_iterm(sdata);
        }
    }
    release_register_inputs(node);
    m_registers_to_check.insert(node);
    m_fsyn_api->modify_node(node);
}

bool MORV_RETIMING_UVO::create_control_mux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "create control_mux (): %s", path_of(node));
    CDB_ATOM_OTERM* old_regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(old_regout, "old_regout");
    if (has_register_feedback(node) || m_fsyn_api->is_oterm_dont_touch(old_regout, AMM_OP_FITTER_FSYN_RETIME))
        return false;
    bool enable_used = false;
    bool clear_used = false;
    if (!control_mux_inputs(node, enable_used, clear_used)) return false;
    MORV_ASSERT_TEXT(!is_logging(), "!is_logging()");
    RETIME_REG reg = describe_register(node);
    reg.signals[RETIME_SYNCH_CLEAR] = RETIME_SIGNAL();
    reg.signals[RETIME_CLOCK_ENABLE] = RETIME_SIGNAL();
    reg.signals[RETIME_SYNCH_LOAD] = RETIME_SIGNAL();
    reg.clear_low = true;
    CDB_ATOM_ITERM* data_a = nullptr;
    CDB_ATOM_NODE* cell =
        create_register_cell(node, reg, morv_retiming_uvo_control_mask(clear_used, enable_used), data_a);
    CDB_ATOM_OTERM* new_regout = cell->get_output_term_by_type(DB_REG_OUT);
    m_net_util->adopt_fanouts(new_regout, old_regout);
    if (enable_used) {
        move_control_to_lut(node->get_input_term_by_type(DB_CLOCK_ENABLE), create_mux_input(cell, DB_DATA_C));
        CDB_ATOM_ITERM* feedback = create_mux_input(cell, DB_DATA_B);
        m_net_util->insert_fanout(new_regout, feedback);
        m_fsyn_api->modify_edge(feedback, false);
    }
    if (clear_used)
        move_control_to_lut(node->get_input_term_by_type(DB_SYNCH_CLEAR), create_mux_input(cell, DB_DATA_D));
    feed_control_mux_data(node, data_a);
    retire_demuxed_register(node);
    m_fsyn_api->modify_node(cell);
    return true;
}
