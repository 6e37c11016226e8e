#include "morv/rammap/morv_ram_map_util_4lut.h"

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

void MORV_RAM_MAP_UTIL_4LUT::prepare_cluster_carry_chains()
{
    count_free_rams();
}

CDB_ATOM_OTERM* MORV_RAM_MAP_UTIL_4LUT::create_aclr_register(CDB_ATOM_NODE* node)
{
    CDB_ATOM_NODE* reg = build_aclr_register(node);
    CDB_ATOM_OTERM* regout = reg->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "old_regout");
    // The register's own assignments onto itself: nothing changes, and the
    // replaced register's assignments are deliberately not copied.
    m_fsyn_api->copy_oterm_timing_assignment(regout, regout);
    return regout;
}

void MORV_RAM_MAP_UTIL_4LUT::copy_register_control_input(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node,
                                                         int port_type)
{
    copy_control(new_node, old_node, port_type, false);
}

CDB_ATOM_ITERM* MORV_RAM_MAP_UTIL_4LUT::create_carry_out_wire_lut(CDB_ATOM_ITERM* carry_in)
{
    MORV_DEBUG_STREAM::print(100, "creating carry-out wirelut");
    MORV_ASSERT_TEXT(carry_in && carry_in->get_my_node(), "next_node");
    CDB_ATOM_NODE* next_node = carry_in->get_my_node();
    CDB_ATOM_NODE* lut = create_lut_cell(nullptr, cell_name(next_node, "_carryout"));
    CDB_ATOM_ITERM* data_a = new_input(lut, DB_DATA_A);
    tie_to_vcc(new_input(lut, DB_DATA_D));
    CDB_ATOM_OTERM* carry_out = new_output(lut, DB_CARRY_OUT);
    new_output(lut, DB_COMB_OUT);
    m_fsyn_cdb_interface->set_lutmask(lut, CDB_LUTMASK(4, 0x0000), 0);
    m_fsyn_cdb_interface->set_carry_lutmask(lut, CDB_LUTMASK(4, 0xAAAA), 1);
    rewire(carry_in, carry_out);
    place_and_announce(lut, next_node);
    return data_a;
}

CDB_ATOM_OTERM* MORV_RAM_MAP_UTIL_4LUT::convert_to_carry_chain_wire_lut(CDB_ATOM_NODE* node)
{
    MORV_DEBUG_STREAM::print(100, "Converting node %d to a carry_chain_wirelut!", static_cast<int>(node->get_id()));
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(combout, "combout");
    CDB_ATOM_ITERM* data_d = node->get_input_term_by_type(DB_DATA_D);
    if (data_d == nullptr) data_d = new_input(node, DB_DATA_D);
    MORV_ASSERT_TEXT(data_d, "data_d");
    tie_to_vcc(data_d);
    m_fsyn_cdb_interface->set_lutmask(node, CDB_LUTMASK(4, 0xF0F0), 1);
    m_fsyn_cdb_interface->set_carry_lutmask(node, CDB_LUTMASK(4, 0x0000), 1);
    m_fsyn_api->modify_node(node);
    m_fsyn_net_util->remove_unused_lut_inputs(node);
    return combout;
}

bool MORV_RAM_MAP_UTIL_4LUT::is_lut(CDB_ATOM_NODE* node) const
{
    return node->is_lcell_comb();
}
