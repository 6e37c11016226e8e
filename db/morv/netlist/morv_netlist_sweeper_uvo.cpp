// The UVO sweeper. A logic cell holds a 4-input LUT and a register; the
// remover may take just the output nobody reads. A register output that
// can only be 0 (held cleared, or loaded only with zeros while it holds its
// power-up 0) and a RAM that can only put out 0 are constants like a
// constant LUT.

#include "cdb/cdb_atom_node.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper_family.h"

namespace {

constexpr int LUT_INPUT_C = 2;
// The RAM mode the host asks about, on both RAM ports, before a RAM may
// count as constant.
constexpr int UVO_RAM_CONSTANT_MODE = 2;
constexpr int UVO_RAM_PORTS = 2;

}  // namespace

MORV_NETLIST_SWEEPER_UVO::MORV_NETLIST_SWEEPER_UVO(MORV_API* api) : MORV_NETLIST_SWEEPER(api)
{
    m_max_lut_inputs = 4;
}

MORV_OWNER<MORV_NODE_COLLAPSER> MORV_NETLIST_SWEEPER_UVO::make_node_collapser()
{
    return MORV_MAKE_OWNER(MORV_NODE_COLLAPSER_UVO, m_api);
}

bool MORV_NETLIST_SWEEPER_UVO::is_in_qfbk_mode(CDB_ATOM_NODE* node)
{
    return m_net_util->is_in_qfbk_mode(node);
}

// ---------------------------------------------------------------- removal

bool MORV_NETLIST_SWEEPER_UVO::is_uvo_removal_candidate(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(morv_family_traits(m_api->get_base_family_code()).m_one_cell_holds_lut_and_ff);
    if (!m_net_util->is_lcell(node)) return false;
    return !m_net_util->is_lcell_in_a_chain(node) && !m_net_util->is_in_arithmetic_mode(node);
}

MORV_NETLIST_SWEEPER::REMOVAL MORV_NETLIST_SWEEPER_UVO::get_removal(CDB_ATOM_NODE* node)
{
    if (!is_uvo_removal_candidate(node)) return KEEP_NODE;
    CDB_ATOM_OTERM* combout = nullptr;
    CDB_ATOM_OTERM* regout = nullptr;
    if (!m_net_util->get_lcell_output_terms(node, &combout, &regout)) return KEEP_NODE;
    const bool comb_goes = combout == nullptr || is_oterm_removable(combout);
    const bool reg_goes = regout == nullptr || is_oterm_removable(regout);
    if (comb_goes && reg_goes) return REMOVE_NODE;
    // One output in use: only the other one goes.
    if (combout == nullptr || regout == nullptr) return KEEP_NODE;
    return comb_goes ? REMOVE_COMBOUT : reg_goes ? REMOVE_REGOUT : KEEP_NODE;
}

void MORV_NETLIST_SWEEPER_UVO::remove_regout(CDB_ATOM_OTERM* regout_oterm, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(regout_oterm && node->get_output_term_by_type(DB_COMB_OUT), "reg_oterm && comb_oterm");
    m_api->modify_node(node);
    node->replace_output_term_by_type(nullptr, DB_REG_OUT);
    delete regout_oterm;
    m_net_util->remove_register_control_inputs(node);
    CDB_ATOM_ITERM* cascade = node->get_input_term_by_type(DB_REG_CASCADE_IN);
    if (cascade != nullptr && cascade->is_connected()) m_net_util->delete_iterm(cascade);
    // The data inputs of the register (one term may serve both).
    for (int port : {DB_SYNCH_DATA, DB_ASYNCH_DATA})
        if (CDB_ATOM_ITERM* data = node->get_input_term_by_type(port)) keep_or_remove_data_input(node, data);
}

// A register data input that is also the LUT's input C stays as input C;
// any other goes with the register.
void MORV_NETLIST_SWEEPER_UVO::keep_or_remove_data_input(CDB_ATOM_NODE* /*node*/, CDB_ATOM_ITERM* iterm)
{
    if (!iterm->is_connected() || !iterm->is_used_as(DB_DATA_C)) {
        m_net_util->delete_iterm(iterm);
        return;
    }
    for (int port : {DB_SYNCH_DATA, DB_ASYNCH_DATA}) {
        if (!iterm->is_used_as(port)) continue;
        m_api->modify_edge(iterm, false);
        if (m_cdb_interface->is_logging()) m_cdb_interface->get_fsyn_log()->log_clear_usage_as(iterm, port);
        iterm->clear_usage_as(port);
    }
}

void MORV_NETLIST_SWEEPER_UVO::remove_combout(CDB_ATOM_OTERM* combout_oterm, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(combout_oterm && node->get_output_term_by_type(DB_REG_OUT), "reg_oterm && comb_oterm");
    const int id = static_cast<int>(node->get_id());
    m_api->modify_node(node);
    const bool lut_feeds_register =
        !m_net_util->is_sload_tied_to_vcc(node) && !m_net_util->is_connected(node, DB_REG_CASCADE_IN);
    if (node->test_bit(CDB_ATOM_BIT_QFBK_MODE)) {
        MORV_ASSERT(!lut_feeds_register);
        MORV_DEBUG_STREAM::print(100, "Unsetting QFBK for node %d before removing combout", id);
        m_cdb_interface->clear_node_bit(node, CDB_ATOM_BIT_QFBK_MODE);
        const bool has_carry_in = node->get_input_term_by_type(DB_CARRY_IN) != nullptr;
        m_cdb_interface->set_node_bit(node, has_carry_in ? CDB_ATOM_BIT_LUTMASK_FLAG : CDB_ATOM_BIT_FOUR_INPUT_COMB);
    }
    node->replace_output_term_by_type(nullptr, DB_COMB_OUT);
    delete combout_oterm;
    if (lut_feeds_register) return;
    MORV_DEBUG_STREAM::print(100, "Removing LUT for node %d", id);
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(m_max_lut_inputs, 0), 0);
    m_api->modify_node(node);
    m_net_util->remove_unused_lut_inputs(node);
}

// ---------------------------------------------------------------- constants

bool MORV_NETLIST_SWEEPER_UVO::get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val)
{
    if (!m_net_util->is_lcell(node) || m_net_util->is_in_arithmetic_mode(node)) return false;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node) || m_net_util->is_latch(node)) return false;
    *lutmask_val = m_net_util->get_lcell_lutmask(node);
    return true;
}

bool MORV_NETLIST_SWEEPER_UVO::get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node == nullptr || !m_net_util->is_lcell(node)) return false;
    if (!oterm->is_used_as(DB_COMB_OUT) && !oterm->is_used_as(DB_REG_OUT)) return false;
    *lutmask_val = m_net_util->get_lcell_lutmask(node);
    return !node->test_bit(CDB_ATOM_BIT_VIRTUAL_IO);
}

bool MORV_NETLIST_SWEEPER_UVO::get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant)
{
    *constant = -1;
    if (get_tied_constant(iterm, constant)) return true;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return false;
    CDB_ATOM_NODE* driver = source->get_my_node();
    MORV_ASSERT_TEXT(driver, "driver_node");
    int value = -1;
    if (driver->is_ram()) {
        if (!get_ram_constant(driver, &value)) return false;
    } else {
        uint64_t mask = 0;
        if (!get_lutmask_of_combout(source, &mask)) return false;
        const bool known = source->is_used_as(DB_COMB_OUT) ? get_constant_of_mask(mask, 4, &value)
                                                           : get_register_constant(driver, &value);
        if (!known) return false;
    }
    *constant = read_through(iterm, value);
    return true;
}

int MORV_NETLIST_SWEEPER_UVO::get_input_value(CDB_ATOM_NODE* node, int port_type)
{
    return get_term_value(node->get_input_term_by_type(port_type), node->floats_high(port_type) ? 1 : 0);
}

int MORV_NETLIST_SWEEPER_UVO::get_term_value(CDB_ATOM_ITERM* iterm, int floating)
{
    if (iterm == nullptr || !iterm->is_connected()) return floating;
    if (m_api->get_assigned_boundary_port_id(iterm) != -1) return -1;
    int value = -1;
    if (get_tied_constant(iterm, &value)) return value;
    CDB_ATOM_OTERM* source = iterm->get_source();
    uint64_t mask = 0;
    if (source == nullptr || !source->is_used_as(DB_COMB_OUT) || !get_lutmask_of_combout(source, &mask)) return -1;
    if (!get_constant_of_mask(mask, 4, &value)) return -1;
    return read_through(iterm, value);
}

// The register powers up at 0; it stays there when its clear holds it, or
// when no asynchronous load can force a 1 and every clock edge loads 0.
bool MORV_NETLIST_SWEEPER_UVO::get_register_constant(CDB_ATOM_NODE* node, int* constant)
{
    const int id = static_cast<int>(node->get_id());
    if (get_input_value(node, DB_CLEAR) == 0) {
        MORV_DEBUG_STREAM::print(2, "found gnd asynch clear on driver node %d", id);
        *constant = 0;
        return true;
    }
    if (get_input_value(node, DB_ASYNCH_LOAD) != 0 && get_input_value(node, DB_ASYNCH_DATA) != 0) return false;
    if (!loads_only_zero(node)) return false;
    *constant = 0;
    return true;
}

bool MORV_NETLIST_SWEEPER_UVO::loads_only_zero(CDB_ATOM_NODE* node)
{
    if (get_input_value(node, DB_CLOCK_ENABLE) == 0) return true;
    if (get_input_value(node, DB_SYNCH_CLEAR) == 1) {
        MORV_DEBUG_STREAM::print(2, "found vcc synch clear on driver node %d", static_cast<int>(node->get_id()));
        return true;
    }
    // The LUT is the data, unless the register cascade brings it.
    const bool data_is_zero =
        !m_net_util->is_connected(node, DB_REG_CASCADE_IN) && (m_net_util->get_lcell_lutmask(node) & 0xFFFF) == 0;
    const int sload = get_input_value(node, DB_SYNCH_LOAD);
    const bool sdata_is_zero = get_input_value(node, DB_SYNCH_DATA) == 0;
    if (sload == 1) return sdata_is_zero;
    if (sload == 0) return data_is_zero;
    return sdata_is_zero && data_is_zero;
}

// A RAM counts as putting out 0 when the host's mode allows it and every
// data input it could store is 0 (a RAM without data inputs stores nothing).
bool MORV_NETLIST_SWEEPER_UVO::get_ram_constant(CDB_ATOM_NODE* node, int* constant)
{
    MORV_ASSERT_TEXT(node->get_atom_type() == CDB_ATOM_UVO_EC_ENUM, "node->get_atom_type() == CDB_ATOM_UVO_EC_ENUM");
    for (int port = 0; port < UVO_RAM_PORTS; ++port)
        if (m_cdb_interface->is_ram_mode(node, UVO_RAM_CONSTANT_MODE, port)) return false;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        for (int port : {DB_RAM_PORTA_DATAIN, DB_RAM_DATAIN_2})
            if (iterm->is_used_as(port) && get_term_value(iterm, 0) != 0) return false;
    }
    MORV_DEBUG_STREAM::print(2, "Found GND RAM at driver node %d", static_cast<int>(node->get_id()));
    *constant = 0;
    return true;
}

uint64_t MORV_NETLIST_SWEEPER_UVO::fold_constant_input_in_arithmetic_mode(uint64_t /*lutmask*/, int /*input*/,
                                                                          int /*constant*/, bool /*share_in_connected*/)
{
    MORV_ASSERT_TEXT(false, "This function is not implemented for this family");
    return 0;
}

void MORV_NETLIST_SWEEPER_UVO::set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask)
{
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(m_max_lut_inputs, lutmask), 0);
    m_api->modify_node(node);
}

// Position C reads the carry-in under the LUT-mask flag, and the register
// in QFBK mode.
bool MORV_NETLIST_SWEEPER_UVO::is_foldable_input(CDB_ATOM_NODE* node, int input, bool /*arithmetic*/,
                                                 bool /*share_in_connected*/)
{
    if (input != LUT_INPUT_C) return true;
    return !node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG) && !m_net_util->is_in_qfbk_mode(node);
}

// A register or RAM reading a changed signal may have become constant
// itself: its readers are visited too. One level is enough: whether a
// register or RAM is constant depends only on its own mask and on the
// comb-outs and ties it reads, never on another register's output.
void MORV_NETLIST_SWEEPER_UVO::add_constant_dependents(CDB_ATOM_NODE* reader, std::vector<uint32_t>* next)
{
    const bool holds_state =
        reader->is_ram() || (m_net_util->is_lcell(reader) && reader->get_output_term_by_type(DB_REG_OUT) != nullptr);
    if (!holds_state) return;
    for (auto ot = reader->begin_oterm(); ot != reader->end_oterm(); ++ot)
        for (auto it = (*ot)->begin_iterm_fanout(); it != (*ot)->end_iterm_fanout(); ++it)
            if (CDB_ATOM_NODE* fanout = (*it)->get_my_node()) next->push_back(fanout->get_id());
}
