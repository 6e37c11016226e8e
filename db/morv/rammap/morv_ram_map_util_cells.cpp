// The cells both branches build alike: the clear-emulation register, its
// wrapper LUT, the inverter and the constant-one LUT.

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/rammap/morv_ram_map_util.h"

namespace {

// Rows of the functions over A (bit 0) and B (bit 1).
constexpr uint64_t ROWS_A_AND_B = 0x8;
constexpr uint64_t ROWS_NOT_A_OR_B = 0xD;
constexpr uint64_t ROWS_NOT_A = 0x1;
constexpr uint64_t ROWS_ONE = 0x1;

}  // namespace

CDB_ATOM_NODE* MORV_RAM_MAP_UTIL::build_aclr_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_NODE* reg = create_register_cell(nullptr, cell_name(node, "_REGGED"));
    new_output(reg, DB_REG_OUT);
    CDB_ATOM_ITERM* data_in = m_fsyn_net_util->create_iterm(reg, DB_DATAIN);
    MORV_ASSERT_TEXT(data_in, "new_iterm");
    m_fsyn_cdb_interface->set_iterm_vcc(data_in);
    m_fsyn_net_util->clear_invert(data_in);
    m_fsyn_cdb_interface->set_iterm_global(data_in, 0);
    copy_register_control_input(reg, node, DB_CLOCK);
    copy_register_control_input(reg, node, DB_CLEAR);
    copy_register_control_input(reg, node, DB_CLOCK_ENABLE);
    place_and_announce(reg, node);
    MORV_DEBUG_STREAM::print(100, "TEST: created asynch clear register %d (%s)", static_cast<int>(reg->get_id()),
                             reg->get_instance_name()->get_short_hpath().c_str());
    return reg;
}

void MORV_RAM_MAP_UTIL::copy_control(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, int port_type,
                                     bool only_connected)
{
    MORV_ASSERT_TEXT(new_node, "node");
    MORV_ASSERT_TEXT(old_node, "old_node");
    CDB_ATOM_ITERM* old_iterm = old_node->get_input_term_by_type(port_type);
    if (old_iterm == nullptr || (only_connected && !old_iterm->is_connected())) return;
    CDB_ATOM_ITERM* new_iterm = new_input(new_node, port_type);
    MORV_ASSERT_TEXT(new_iterm, "new_iterm");
    // A constant control is reproduced as it is: a GND-tied enable keeps
    // the register from ever loading, a GND-tied clear holds it cleared.
    if (CDB_ATOM_OTERM* source = old_iterm->get_source()) m_fsyn_net_util->insert_fanout(source, new_iterm);
    else if (old_iterm->is_vcc()) m_fsyn_cdb_interface->set_iterm_vcc(new_iterm);
    else if (old_iterm->is_gnd()) m_fsyn_cdb_interface->set_iterm_gnd(new_iterm);
    MORV_ITERM_PROPERTIES properties;
    m_fsyn_net_util->save_iterm_properties(new_iterm, &properties);
    properties.inverted = old_iterm->is_inverted();
    properties.global_setting = old_iterm->get_global();
    m_fsyn_net_util->restore_iterm_properties(properties, new_iterm);
}

CDB_ATOM_ITERM* MORV_RAM_MAP_UTIL::create_aclr_wrapper(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* aclr_oterm, bool invert)
{
    MORV_ASSERT_TEXT(aclr_oterm, "aclr_reg_oterm");
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(iterm->get_my_node(), "node");
    MORV_ASSERT_TEXT(iterm->get_source(), "src_oterm");
    CDB_ATOM_NODE* aclr_node = aclr_oterm->get_my_node();
    CDB_ATOM_NODE* lut = create_lut_cell(nullptr, cell_name(aclr_node, "_ORER"));
    CDB_ATOM_ITERM* data_a = new_input(lut, DB_DATA_A);
    CDB_ATOM_ITERM* data_b = new_input(lut, DB_DATA_B);
    CDB_ATOM_OTERM* out = new_output(lut, DB_COMB_OUT);
    m_fsyn_cdb_interface->set_lutmask(lut, family_mask(invert ? ROWS_NOT_A_OR_B : ROWS_A_AND_B, 2), 0);
    m_fsyn_net_util->insert_fanout(aclr_oterm, data_a);
    rewire_keeping_properties(iterm, out, data_b);
    place_and_announce(lut, aclr_node);
    MORV_DEBUG_STREAM::print(100, "TEST: created asynch clear register wrapper %d (%s)",
                             static_cast<int>(lut->get_id()), lut->get_instance_name()->get_short_hpath().c_str());
    return data_b;
}

CDB_ATOM_ITERM* MORV_RAM_MAP_UTIL::insert_inverter_lut(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_OTERM* source = iterm->get_source();
    MORV_ASSERT_TEXT(source, "src_oterm");
    CDB_ATOM_NODE* name_node = node;
    if (!node->is_lcell() && source->get_my_node()->is_lcell()) name_node = source->get_my_node();
    CDB_ATOM_NODE* lut = create_lut_cell(nullptr, cell_name(name_node, "_RTM0"));
    CDB_ATOM_ITERM* data_a = new_input(lut, DB_DATA_A);
    CDB_ATOM_OTERM* out = new_output(lut, DB_COMB_OUT);
    m_fsyn_cdb_interface->set_lutmask(lut, family_mask(ROWS_NOT_A, 1), 0);
    rewire_keeping_properties(iterm, out, data_a);
    place_and_announce(lut, node);
    return data_a;
}

CDB_ATOM_OTERM* MORV_RAM_MAP_UTIL::create_vcc_lut(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* shared_oterm)
{
    MORV_ASSERT_TEXT(node && get_instance()->is_ff(node), "MORV_RAM_MAP_UTIL::get_instance()->is_ff(node)");
    CDB_ATOM_ITERM* data_in = node->get_input_term_by_type(DB_DATAIN);
    MORV_ASSERT_TEXT(data_in && data_in->is_vcc(), "data_in && data_in->is_vcc()");
    if (shared_oterm == nullptr) {
        CDB_ATOM_NODE* lut = create_lut_cell(nullptr, cell_name(node, "_RTM0"));
        shared_oterm = new_output(lut, DB_COMB_OUT);
        m_fsyn_cdb_interface->set_lutmask(lut, family_mask(ROWS_ONE, 0), 0);
        place_and_announce(lut, node);
    }
    MORV_ITERM_PROPERTIES saved;
    m_fsyn_net_util->save_iterm_properties(data_in, &saved);
    rewire(data_in, shared_oterm);
    // The inversion is kept: an inverted VCC tie reads 0, and so must the
    // register's input that replaces it.
    m_fsyn_net_util->restore_iterm_properties(saved, data_in);
    return shared_oterm;
}
