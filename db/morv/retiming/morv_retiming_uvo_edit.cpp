// The register edits of a committed push on UVO cells: a register is taken
// out of a cell, detached from a cell it feeds, hung on a cell's output
// (packed into the cell, or into a new register cell) and inserted in front
// of an input (reused, packed into the source cell, or a new register
// cell). A register cell is a UVO cell whose LUT passes DB_DATA_A (0xAAAA)
// or its complement (0x5555) to its packed register.
//
// A register that must power up to 1 stores the complement of its value
// and is read through an inversion; that inversion is the reader's, never
// a second one on a constant that already carries it.
#include <utility>
#include <vector>

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
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming_family.h"

namespace {

const int k_register_ports[] = {DB_CLEAR,      DB_SYNCH_CLEAR, DB_CLOCK,      DB_CLOCK_ENABLE,
                                DB_SYNCH_LOAD, DB_ASYNCH_LOAD, DB_SYNCH_DATA, DB_ASYNCH_DATA};

}  // namespace

void MORV_RETIMING_UVO::write_lutmask(CDB_ATOM_NODE* node, uint64_t mask)
{
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(4, mask & 0xffffu), CDB_ATOM_BIT_LUTMASK_FLAG);
    m_fsyn_api->modify_node(node);
}

CDB_ATOM_OTERM* MORV_RETIMING_UVO::ensure_combout(CDB_ATOM_NODE* node)
{
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
    if (combout != nullptr) return combout;
    MORV_DEBUG_STREAM::print(100, "Creating new COMBOUT: node %d", static_cast<int>(node->get_id()));
    HDB_INSTANCE_NAME* base = node->get_instance_name();
    MORV_ASSERT_TEXT(base, "base_name");
    m_cdb_interface->create_oterm(nullptr, combout, node, DB_COMB_OUT,
                                  m_net_util->make_unique_instance_name(base, "_RTM2"));
    MORV_ASSERT_TEXT(combout, "combout");
    m_fsyn_api->modify_node(node);
    return combout;
}

// The clear, synchronous clear, clock, enable and loads leave the cell; the
// terms stay and give up their boundary ports.
void MORV_RETIMING_UVO::release_register_inputs(CDB_ATOM_NODE* node)
{
    for (int port : {DB_CLEAR, DB_SYNCH_CLEAR, DB_CLOCK, DB_CLOCK_ENABLE, DB_ASYNCH_LOAD, DB_SYNCH_LOAD}) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr) continue;
        if (m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1) m_fsyn_api->set_boundary_port_id(iterm, -1);
        if (iterm->is_connected()) disconnect_iterm(iterm);
    }
}

// The controls go with their terms; a data term shared with DB_DATA_C only
// loses its register usage.
void MORV_RETIMING_UVO::strip_register_controls(CDB_ATOM_NODE* node)
{
    for (int port : {DB_CLEAR, DB_SYNCH_CLEAR, DB_CLOCK, DB_CLOCK_ENABLE}) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr) continue;
        m_fsyn_api->set_boundary_port_id(iterm, -1);
        m_net_util->delete_iterm(iterm);
    }
    for (auto [load_port, data_port] :
         {std::pair{DB_SYNCH_LOAD, DB_SYNCH_DATA}, std::pair{DB_ASYNCH_LOAD, DB_ASYNCH_DATA}}) {
        if (CDB_ATOM_ITERM* data = node->get_input_term_by_type(data_port)) {
            if (data->is_used_as(DB_DATA_C)) {
                data->clear_usage_as(data_port);
            } else {
                m_fsyn_api->set_boundary_port_id(data, -1);
                m_net_util->delete_iterm(data);
            }
        }
        if (CDB_ATOM_ITERM* load = node->get_input_term_by_type(load_port)) {
            m_fsyn_api->set_boundary_port_id(load, -1);
            m_net_util->delete_iterm(load);
        }
    }
    for (int port : k_register_ports)
        MORV_ASSERT_TEXT(!morv_iterm_connected(node->get_input_term_by_type(port)),
                         "!m_net_util->is_connected(node, port)");
}

// The register output is destroyed; the demux pass calls this once no
// register origin can name it any more.
void MORV_RETIMING_UVO::drop_register_part(CDB_ATOM_NODE* node)
{
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    MORV_ASSERT_TEXT(!regout->has_fanout(), "!regout->has_fanout()");
    m_fsyn_api->modify_node(node);
    release_register_inputs(node);
    node->replace_output_term_by_type(nullptr, DB_REG_OUT);
    delete regout;
    m_fsyn_api->modify_node(node);
}

void MORV_RETIMING_UVO::turn_synch_data_into_data_c(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* sdata)
{
    m_cdb_interface->clear_node_bit(node, CDB_ATOM_BIT_QFBK_MODE);
    m_cdb_interface->set_node_bit(node, CDB_ATOM_BIT_FOUR_INPUT_COMB);
    m_cdb_interface->set_iterm_usage_as(sdata, DB_DATA_C);
    write_lutmask(node, m_net_util->get_lutmask(node));
}

void MORV_RETIMING_UVO::remove_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_lcell(), "node->is_lcell()");
    MORV_ASSERT_TEXT(m_net_util->is_register_present(node), "m_net_util->is_register_present(node)");
    MORV_ASSERT_TEXT(!is_register_complex(node, false), "!is_register_complex (node)");
    MORV_ASSERT_TEXT(!is_logging(), "!is_logging()");
    MORV_DEBUG_STREAM::print(100, "remove_register (): %s", path_of(node));
    const bool sload_vcc = is_sload_always(node);
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    release_register_inputs(node);
    m_registers_to_check.insert(node);
    if (sload_vcc) {
        hand_synch_data_to_readers(node, regout);
    } else {
        MORV_ASSERT_TEXT(regout && regout->has_fanout(), "m_net_util->is_connected (regout)");
        MORV_ASSERT_TEXT(!m_net_util->is_in_qfbk_mode(node), "!m_net_util->is_in_qfbk_mode (node)");
        m_net_util->adopt_fanouts(ensure_combout(node), regout);
    }
    if (is_wire_lut(node)) m_wire_luts.insert(node);
}

// The register loaded its synchronous data on every clock: its readers read
// that data. In QFBK mode the data term is also the LUT's DB_DATA_C and stays
// as that; otherwise it serves nothing any more.
void MORV_RETIMING_UVO::hand_synch_data_to_readers(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* regout)
{
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    for (CDB_ATOM_ITERM* sink : fanouts_of(regout)) reconnect_to_value_of(sink, sdata);
    if (sdata == nullptr) return;
    if (m_net_util->is_in_qfbk_mode(node)) {
        MORV_ASSERT_TEXT(node->get_output_term_by_type(DB_COMB_OUT), "combout");
        turn_synch_data_into_data_c(node, sdata);
    } else if (!sdata->is_used_as(DB_DATA_C) && sdata->is_connected()) {
        disconnect_iterm(sdata);
    }
    sdata->clear_usage_as(DB_SYNCH_DATA);
}

void MORV_RETIMING_UVO::disconnect_register(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* iterm_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(iterm_node, "iterm_node");
    if (!m_net_util->is_lut_data_input(iterm) && !iterm->is_used_as(DB_REG_CONTROL)) {
        MORV_ASSERT_TEXT(iterm_node->is_lcell(), "iterm_node->is_lcell()");
        MORV_ASSERT_TEXT(m_net_util->is_register_present(iterm_node), "m_net_util->is_register_present(iterm_node)");
        MORV_ASSERT_TEXT(!is_register_complex(iterm_node, true), "!is_register_complex(iterm_node)");
        MORV_ASSERT_TEXT(m_net_util->is_in_qfbk_mode(iterm_node), "m_net_util->is_in_qfbk_mode(iterm_node)");
        MORV_DEBUG_STREAM::print(100, "Disconnecting QFBK reg (%d)", static_cast<int>(iterm_node->get_id()));
        turn_synch_data_into_data_c(iterm_node, iterm);
        CDB_ATOM_ITERM* reg_input = iterm_node->get_input_term_by_type(DB_SYNCH_DATA);
        MORV_ASSERT_TEXT(reg_input, "reg_input");
        MORV_ASSERT_TEXT(reg_input->get_source() || reg_input->is_gnd() || reg_input->is_vcc(),
                         "reg_source || reg_input->is_gnd() || reg_input->is_vcc()");
        return;
    }
    CDB_ATOM_OTERM* source_regout = iterm->get_source();
    MORV_ASSERT_TEXT(source_regout, "source_regout");
    CDB_ATOM_NODE* source_node = source_regout->get_my_node();
    MORV_ASSERT_TEXT(source_node, "source_node");
    MORV_ASSERT_TEXT(source_node->is_lcell(), "source_node->is_lcell()");
    MORV_ASSERT_TEXT(m_net_util->is_register_present(source_node), "m_net_util->is_register_present(source_node)");
    MORV_ASSERT_TEXT(!is_register_complex(source_node, true), "!is_register_complex(source_node)");
    MORV_DEBUG_STREAM::print(100, "Disconnecting reg (%d) from node (%d)", static_cast<int>(source_node->get_id()),
                             static_cast<int>(iterm_node->get_id()));
    m_registers_to_check.insert(source_node);
    if (!is_lutout_feeding_regout(source_node)) {
        CDB_ATOM_ITERM* source_reg_input = source_node->get_input_term_by_type(DB_SYNCH_DATA);
        MORV_ASSERT_TEXT(source_reg_input, "source_reg_input");
        reconnect_to_value_of(iterm, source_reg_input);
    } else {
        move_iterm(iterm, ensure_combout(source_node));
        if (iterm->is_connected_to_delay_chain(s_DELAY_CHAIN)) {
            m_cdb_interface->reset_iterm_delay_chain(iterm);
            m_cdb_interface->set_iterm_connected_to_delay_chain(iterm, false);
        }
    }
    if (iterm->get_global() != 0) m_cdb_interface->set_iterm_global(iterm, 0);
    m_fsyn_api->modify_node(iterm_node);
}

CDB_ATOM_OTERM* MORV_RETIMING_UVO::pack_register(CDB_ATOM_NODE* node, const RETIME_REG& reg, const char* suffix)
{
    MORV_ASSERT_TEXT(!m_net_util->is_register_present(node), "!m_net_util->is_register_present(node)");
    MORV_ASSERT_TEXT(!is_logging(), "!is_logging()");
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr) {
        HDB_INSTANCE_NAME* base = reg.name != nullptr ? reg.name : node->get_instance_name();
        MORV_ASSERT_TEXT(base, "base_name");
        m_cdb_interface->create_oterm(nullptr, regout, node, DB_REG_OUT,
                                      m_net_util->make_unique_instance_name(base, suffix));
        MORV_ASSERT_TEXT(regout, "reg_oterm");
    } else {
        if (suffix[4] == '1') MORV_DEBUG_STREAM::print(100, "Warning: regout seems to already exist");
        MORV_ASSERT_TEXT(regout->get_number_of_fanout_nodes() == 0, "reg_oterm->get_number_of_fanout_nodes() == 0");
    }
    strip_register_controls(node);
    finish_new_register(node, reg);
    if (m_net_util->is_in_qfbk_mode(node)) m_cdb_interface->clear_node_bit(node, CDB_ATOM_BIT_QFBK_MODE);
    m_fsyn_api->modify_node(node);
    return regout;
}

CDB_ATOM_NODE* MORV_RETIMING_UVO::create_register_cell(CDB_ATOM_NODE* loc_node, const RETIME_REG& reg, uint64_t mask,
                                                       CDB_ATOM_ITERM*& data_a)
{
    HDB_INSTANCE_NAME* base = reg.name != nullptr ? reg.name : loc_node->get_instance_name();
    MORV_ASSERT_TEXT(base, "base_name");
    HDB_INSTANCE_NAME* name = m_net_util->make_unique_instance_name(base, "_RTM0");
    CDB_ATOM_NODE* cell = m_cdb_interface->create_lcell_uvo(nullptr, name);
    MORV_ASSERT_TEXT(cell, "new_reg");
    data_a = nullptr;
    m_cdb_interface->create_input_term(nullptr, data_a, cell, DB_DATA_A, 0);
    MORV_ASSERT_TEXT(data_a, "data_a");
    m_touched_iterms.insert(data_a);
    CDB_ATOM_OTERM* regout = nullptr;
    m_cdb_interface->create_oterm(nullptr, regout, cell, DB_REG_OUT, name);
    MORV_ASSERT_TEXT(regout, "new_regout");
    copy_location(loc_node, cell);
    if (!m_consumed_register_ids.empty()) record_tracking(cell, MORV_NT_TYPE_SPLIT);
    write_lutmask(cell, mask);
    finish_new_register(cell, reg);
    return cell;
}

CDB_ATOM_NODE* MORV_RETIMING_UVO::unpack_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(!m_net_util->is_in_qfbk_mode(node), "!m_net_util->is_in_qfbk_mode(node)");
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    MORV_DEBUG_STREAM::print(100, "Unpacking Register at node %d", static_cast<int>(node->get_id()));
    CDB_ATOM_OTERM* combout = ensure_combout(node);
    RETIME_REG own = describe_register(node);
    own.clear_low = true;
    CDB_ATOM_ITERM* data_a = nullptr;
    CDB_ATOM_NODE* cell = create_register_cell(node, own, s_BUFFER_MASK, data_a);
    CDB_ATOM_OTERM* new_regout = cell->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(new_regout, "new_regout");
    m_net_util->adopt_fanouts(new_regout, regout);
    m_net_util->insert_fanout(combout, data_a);
    m_fsyn_api->modify_edge(data_a, false);
    return cell;
}

// The carry mask is written back: the LUT mask write must not leave the
// arithmetic cell's carry function to chance.
void MORV_RETIMING_UVO::complement_lut(CDB_ATOM_NODE* node)
{
    const bool arithmetic = m_net_util->is_in_arithmetic_mode(node);
    const uint64_t carry = arithmetic ? m_net_util->get_carry_lutmask(node) : 0;
    write_lutmask(node, ~m_net_util->get_lutmask(node));
    if (arithmetic)
        m_cdb_interface->set_carry_lutmask(node, CDB_LUTMASK(4, carry & 0xffffu), CDB_ATOM_BIT_LUTMASK_FLAG);
}

// A register that must power up to 1 is a register of the complement read
// through an inversion: the cell's packed register stores its complemented
// LUT, a register cell of a block without a LUT (or beside a LUT whose
// register is taken) stores NOT DB_DATA_A.
void MORV_RETIMING_UVO::add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& given)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "Adding reg on COMBOUT: node %d", static_cast<int>(node->get_id()));
    RETIME_REG reg = given;
    reg.signals[RETIME_CLOCK_ENABLE].is_vcc = false;
    const bool lcell = m_net_util->is_lcell(node);
    const bool new_cell = !lcell || !is_lutout_feeding_regout(node);
    CDB_ATOM_OTERM* source = lcell ? ensure_combout(node) : oterm;
    const bool packs = lcell && oterm == source && !m_net_util->is_register_present(node) &&
                       !m_net_util->is_connected(node, DB_REG_CASCADE_IN);
    CDB_ATOM_OTERM* reg_oterm = nullptr;
    CDB_ATOM_ITERM* data_a = nullptr;
    if (packs) {
        reg_oterm = pack_register(node, reg, "_RTM0");
    } else if (new_cell) {
        CDB_ATOM_NODE* cell = create_register_cell(node, reg, reg.clear_low ? s_BUFFER_MASK : s_INVERTER_MASK, data_a);
        reg_oterm = cell->get_output_term_by_type(DB_REG_OUT);
        if (!lcell && m_fsyn_api->get_assigned_boundary_port_id(oterm) != -1)
            m_fsyn_api->move_boundary_port_id(oterm, reg_oterm);
    } else {
        unpack_register(node);
        reg_oterm = pack_register(node, reg, "_RTM0");
    }
    MORV_ASSERT_TEXT(reg_oterm, "reg_oterm");
    for (CDB_ATOM_ITERM* sink : fanouts_of(source)) move_iterm(sink, reg_oterm);
    if (!reg.clear_low) {
        if (packs || !new_cell) complement_lut(node);
        invert_fanouts(reg_oterm, fanouts_of(reg_oterm));
    }
    if (data_a != nullptr) {
        m_net_util->insert_fanout(source, data_a);
        m_fsyn_api->modify_edge(data_a, false);
    }
}

// A register on another fanout of the same source, equal to the one asked
// for, power-up value included, that a backward push would take from its
// logic cell.
CDB_ATOM_OTERM* MORV_RETIMING_UVO::find_reusable_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    CDB_ATOM_OTERM* source = term->get_source();
    for (auto it = source->begin_iterm_fanout(); it != source->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* sink = *it;
        if (sink == term || m_new_register_iterms.contains(sink) || !sink->get_my_node()->is_lcell()) continue;
        RETIME_REG found;
        CDB_ATOM_OTERM* regout = backward_push_get_reg(sink, found, true);
        if (regout != nullptr && same_controls(found, retime_iterm.reg)) return regout;
    }
    return nullptr;
}

// The source cell's own register: reused when its LUT already feeds an
// equal one, packed when the cell has none. A QFBK cell always holds one,
// so only the reuse can meet it.
CDB_ATOM_OTERM* MORV_RETIMING_UVO::reuse_or_pack_source(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    const RETIME_REG& reg = retime_iterm.reg;
    CDB_ATOM_OTERM* source = term->get_source();
    CDB_ATOM_NODE* src_node = source->get_my_node();
    if (!src_node->is_lcell() || !source->is_used_as(DB_COMB_OUT)) return nullptr;
    if ((term->get_global() != 0 && term->get_global() != 2) || m_fsyn_api->get_assigned_boundary_port_id(term) != -1)
        return nullptr;
    if (m_net_util->is_connected(src_node, DB_REG_CASCADE_IN)) return nullptr;
    if (m_net_util->is_register_present(src_node)) {
        if (is_register_complex(src_node, false) || !is_lutout_feeding_regout(src_node)) return nullptr;
        if (!same_controls(describe_register(src_node), reg)) return nullptr;
        return src_node->get_output_term_by_type(DB_REG_OUT);
    }
    if (m_fsyn_api->is_oterm_dont_touch(source, AMM_OP_FITTER_FSYN_RETIME)) return nullptr;
    CDB_ATOM_OTERM* own = src_node->get_output_term_by_type(DB_REG_OUT);
    for (const RETIME_SIGNAL& signal : reg.signals)
        if (own != nullptr && signal.source == own) return nullptr;
    if (m_net_util->is_lcell_part_of_a_carry_chain(src_node) && !fits_chain_registers(src_node, reg)) return nullptr;
    MORV_DEBUG_STREAM::print(100, "insert_register_new(): %s %s", MORV_NET_UTIL::get_edge_name(term).c_str(),
                             path_of(src_node));
    CDB_ATOM_OTERM* regout = pack_register(src_node, reg, "_RTM1");
    if (!reg.clear_low) store_complement_in_source(src_node, source, term);
    return regout;
}

// The registers of a carry chain share their cells' clock, enable and
// clears: one packed into a chain cell must be equal, control by control,
// to every register the chain already holds, and interchangeable with it
// for timing.
bool MORV_RETIMING_UVO::fits_chain_registers(CDB_ATOM_NODE* cell, const RETIME_REG& reg)
{
    RETIME_REG wanted = reg;
    for (CDB_ATOM_NODE* c = m_net_util->get_carry_chain_head(cell); c != nullptr;
         c = m_net_util->get_next_node_in_carry_chain(c)) {
        if (!m_net_util->is_register_present(c)) continue;
        RETIME_REG held = describe_register(c);
        held.clear_low = wanted.clear_low;
        if (!same_controls(held, wanted) || !is_register_compatible(held, wanted)) return false;
    }
    return true;
}

// A register that powers up to 1, packed into its source, stores the
// complement of the source's LUT and is read through the term's inversion;
// the source's other readers read the complemented LUT back through one
// shared inverter. Within the push the cell counts as inverted, so no
// register that powers up to 0 is asked of it.
void MORV_RETIMING_UVO::store_complement_in_source(CDB_ATOM_NODE* src_node, CDB_ATOM_OTERM* combout,
                                                   CDB_ATOM_ITERM* term)
{
    MORV_ASSERT_TEXT(!m_inverted_nodes.contains(src_node), "!m_inverted_nodes.find(node)");
    complement_lut(src_node);
    m_inverted_nodes.insert(src_node);
    std::vector<CDB_ATOM_ITERM*> others;
    for (CDB_ATOM_ITERM* sink : fanouts_of(combout))
        if (sink != term) others.push_back(sink);
    if (!others.empty()) invert_fanouts(combout, others);
}

// The new cell's DB_DATA_A reads the term's source with the term's routing;
// the term keeps its inversion bit and reads the register through it. The
// design keeps the bit on a constant term too; here a constant term hands
// its logical value to DB_DATA_A and drops its inversion bit, which that
// value already holds, so the register would apply it twice.
void MORV_RETIMING_UVO::create_inserted_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    const RETIME_REG& reg = retime_iterm.reg;
    MORV_DEBUG_STREAM::print(100, "insert_register_new_lcell(): %s", MORV_NET_UTIL::get_edge_name(term).c_str());
    CDB_ATOM_NODE* loc_node = find_reference_lcell(term);
    CDB_ATOM_ITERM* data_a = nullptr;
    CDB_ATOM_NODE* cell = create_register_cell(loc_node != nullptr ? loc_node : term->get_my_node(), reg,
                                               reg.clear_low ? s_BUFFER_MASK : s_INVERTER_MASK, data_a);
    CDB_ATOM_OTERM* regout = cell->get_output_term_by_type(DB_REG_OUT);
    if (term->is_driven()) {
        MORV_ITERM_PROPERTIES properties;
        m_net_util->save_iterm_properties(term, &properties);
        m_net_util->insert_fanout(term->get_source(), data_a);
        properties.inverted = false;
        properties.boundary_port_id = -1;
        properties.global_setting = 0;
        m_net_util->restore_iterm_properties(properties, data_a);
        move_iterm(term, regout);
    } else {
        tie_to_constant(data_a, term->is_connected() && term->is_logical_vcc());
        disconnect_iterm(term);
        m_net_util->insert_fanout(regout, term);
        m_fsyn_api->modify_edge(term, false);
        if (term->is_inverted()) toggle_invert(term);
    }
}

// A register of logical VCC already in front of another input of the term's
// cell: a wire-LUT cell whose LUT gives 1, from its one tie to logical VCC
// or from an all-ones mask, and whose register takes nothing but that LUT.
CDB_ATOM_OTERM* MORV_RETIMING_UVO::find_vcc_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_NODE* node = retime_iterm.iterm->get_my_node();
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
        CDB_ATOM_OTERM* source = (*in)->get_source();
        if (source == nullptr || !source->is_used_as(DB_REG_OUT)) continue;
        if (holds_vcc_register(source->get_my_node(), retime_iterm.reg)) return source;
    }
    return nullptr;
}

bool MORV_RETIMING_UVO::holds_vcc_register(CDB_ATOM_NODE* cell, const RETIME_REG& reg)
{
    if (!m_net_util->is_lcell(cell) || !m_net_util->is_register_present(cell)) return false;
    CDB_ATOM_ITERM* aload = cell->get_input_term_by_type(DB_ASYNCH_LOAD);
    if (morv_iterm_connected(aload) && !aload->is_logical_gnd()) return false;
    if (!m_net_util->is_synch_load_unused(cell) || !same_controls(describe_register(cell), reg)) return false;
    // The design reuses a wire LUT whose first connected input is tied to
    // VCC, or one of mask 0xFFFF; here the LUT must give 1 whatever its one
    // input reads. A LUT that complements the tie holds 0, not VCC.
    return holds_constant_one(cell);
}

CDB_ATOM_OTERM* MORV_RETIMING_UVO::find_register_to_reuse(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    if (!term->is_driven())
        return term->is_connected() && term->is_logical_vcc() ? find_vcc_register(retime_iterm) : nullptr;
    MORV_ASSERT_TEXT(!retime_iterm.reg.clear_low || !m_inverted_nodes.contains(term->get_source()->get_my_node()),
                     "!m_inverted_nodes.find(src_node )");
    CDB_ATOM_OTERM* reused = find_reusable_register(retime_iterm);
    return reused != nullptr ? reused : reuse_or_pack_source(retime_iterm);
}

// The term's delay chain goes before anything is wired, so that a new
// register cell's DB_DATA_A does not take it over.
void MORV_RETIMING_UVO::insert_register(const RETIME_ITERM& retime_iterm)
{
    CDB_ATOM_ITERM* term = retime_iterm.iterm;
    MORV_ASSERT_TEXT(term, "retime_iterm.iterm");
    CDB_ATOM_NODE* node = term->get_my_node();
    MORV_DEBUG_STREAM::print(100, "insert_register (): %s %d", MORV_NET_UTIL::get_edge_name(term).c_str(),
                             retime_iterm.slack);
    reset_term_delay_chain(term);
    CDB_ATOM_OTERM* reused = find_register_to_reuse(retime_iterm);
    if (reused != nullptr) take_reused_register(term, reused->get_my_node());
    else create_inserted_register(retime_iterm);
    clear_inverted_term_routing(term);
    if (!retime_iterm.reg.clear_low) invert_value_of(term);
    CDB_ATOM_NODE* reg_node = term->get_source() != nullptr ? term->get_source()->get_my_node() : nullptr;
    if (reg_node != nullptr && !m_net_util->is_lcell_part_of_a_carry_chain(reg_node))
        take_source_kardel_region(reg_node, retime_iterm.reg);
    m_fsyn_api->modify_node(node);
}

CDB_ATOM_NODE* MORV_RETIMING_UVO::insert_wire_cell(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, uint64_t mask)
{
    HDB_INSTANCE_NAME* base_name = base_node->get_instance_name();
    MORV_ASSERT_TEXT(base_name, "base_name");
    CDB_ATOM_NODE* cell =
        m_cdb_interface->create_lcell_uvo(nullptr, m_net_util->make_unique_instance_name(base_name, "_RTM0"));
    wire_cell_in_front_of(iterm, base_node, cell, CDB_LUTMASK(4, mask));
    return cell;
}

void MORV_RETIMING_UVO::insert_inverter_lcell(CDB_ATOM_ITERM* iterm)
{
    if (flip_tied_term(iterm)) return;
    MORV_DEBUG_STREAM::print(100, "insert_inverter_lcell (): %s", MORV_NET_UTIL::get_edge_name(iterm).c_str());
    insert_wire_cell(iterm, inverter_base_node(iterm, &CDB_ATOM_NODE::is_lcell), s_INVERTER_MASK);
}

void MORV_RETIMING_UVO::insert_buffer_lcell(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_DEBUG_STREAM::print(100, "insert_buffer_lcell (): %s", MORV_NET_UTIL::get_edge_name(iterm).c_str());
    insert_wire_cell(iterm, iterm->get_my_node(), s_BUFFER_MASK);
    clear_inverted_term_routing(iterm);
}

// A cell keeps its LUT: only a register output left without readers goes,
// and only when some other output stays.
void MORV_RETIMING_UVO::delete_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->get_output_term_by_type(DB_REG_OUT), "regout");
    for (int port : {DB_COMB_OUT, DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1}) {
        if (node->get_output_term_by_type(port) == nullptr) continue;
        drop_register_part(node);
        return;
    }
}

// A register that leaves through the synchronous data is the cell's own:
// its register goes, and in QFBK mode the cell's register readers get new
// registers of their own.
void MORV_RETIMING_UVO::add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type, bool clear_low)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE,
                     "port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE");
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (!morv_iterm_connected(iterm) && port_type == DB_DATA_C && m_net_util->is_in_qfbk_mode(node))
        iterm = node->get_input_term_by_type(DB_SYNCH_DATA);
    if (!morv_iterm_connected(iterm)) return;
    RETIME_ITERM entry;
    entry.slack = get_iterm_slack(iterm);
    entry.iterm = iterm;
    entry.reg = reg;
    entry.reg.clear_low = clear_low;
    entry.initial_condition = clear_low;
    MORV_DEBUG_STREAM::print(100, "add_retime_iterm (): insert_set1 %s %d", MORV_NET_UTIL::get_edge_name(iterm).c_str(),
                             entry.slack);
    if (!iterm->is_used_as(DB_SYNCH_DATA) || !m_net_util->is_register_present(node)) {
        insert_set1.insert(entry);
        return;
    }
    delete_set0.insert(node);
    MORV_DEBUG_STREAM::print(100, "add_retime_iterm (): delete_set0 %s", path_of(node));
    entry.reg = describe_register(node);
    if (!m_net_util->is_in_qfbk_mode(node)) {
        insert_set1.insert(entry);
        return;
    }
    insert_set0.insert(entry);
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    for (CDB_ATOM_ITERM* sink : fanouts_of(regout)) {
        RETIME_ITERM fanout = entry;
        fanout.iterm = sink;
        fanout.slack = get_iterm_slack(sink);
        insert_set0.insert(fanout);
        MORV_DEBUG_STREAM::print(100, "add_retime_iterm (): insert_set0 %s %d",
                                 MORV_NET_UTIL::get_edge_name(sink).c_str(), fanout.slack);
    }
}
