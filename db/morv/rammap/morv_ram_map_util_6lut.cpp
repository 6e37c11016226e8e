#include "morv/rammap/morv_ram_map_util_6lut.h"

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// A wire from data input A to the carry output, carry-in passed on.
constexpr uint64_t CARRY_WIRE_MASK = 0xAAAA00005555ull;
// The carry input passed to the sum output.
constexpr uint64_t SUM_WIRE_MASK = 0x000000000000FFFFull;

}  // namespace

void MORV_RAM_MAP_UTIL_6LUT::prepare_cluster_carry_chains()
{
    count_free_rams();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!m_fsyn_net_util->is_lcell_in_a_chain(node)) continue;
        CDB_ATOM_NODE* head = node;
        while (CDB_ATOM_NODE* previous = m_fsyn_net_util->get_previous_node_in_carry_chain(head)) head = previous;
        if (m_carry_chain_parity.count(static_cast<int>(head->get_id()))) continue;
        int position = 0;
        for (CDB_ATOM_NODE* cell = head; cell != nullptr; cell = next_chain_cell(cell))
            m_carry_chain_parity[static_cast<int>(cell->get_id())] = position++ % 2;
    }
}

bool MORV_RAM_MAP_UTIL_6LUT::is_shared_arithmetic_node(CDB_ATOM_NODE* node) const
{
    if (!node->is_lcell_comb()) return false;
    const CDB_ATOM_ITERM* share_in = node->get_input_term_by_type(DB_SHARE_IN);
    const CDB_ATOM_OTERM* share_out = node->get_output_term_by_type(DB_SHARE_OUT);
    return (share_in != nullptr && share_in->is_connected()) || (share_out != nullptr && share_out->has_fanout());
}

CDB_ATOM_OTERM* MORV_RAM_MAP_UTIL_6LUT::create_aclr_register(CDB_ATOM_NODE* node)
{
    return build_aclr_register(node)->get_output_term_by_type(DB_REG_OUT);
}

void MORV_RAM_MAP_UTIL_6LUT::copy_register_control_input(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node,
                                                         int port_type)
{
    copy_control(new_node, old_node, port_type, true);
}

CDB_ATOM_NODE* MORV_RAM_MAP_UTIL_6LUT::next_chain_cell(CDB_ATOM_NODE* cell) const
{
    // A carry output read by anything but a logic cell (an output pin, say)
    // ends the chain.
    CDB_ATOM_NODE* next = m_fsyn_net_util->get_next_node_in_carry_chain(cell);
    return next != nullptr && (next->is_lcell_comb() || next->is_lcell_hsadder()) ? next : nullptr;
}

int MORV_RAM_MAP_UTIL_6LUT::get_carry_chain_parity(const CDB_ATOM_NODE* node) const
{
    auto it = m_carry_chain_parity.find(static_cast<int>(node->get_id()));
    return it == m_carry_chain_parity.end() ? -1 : it->second;
}

int MORV_RAM_MAP_UTIL_6LUT::parity_of(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node, "next_node");
    const int parity = get_carry_chain_parity(node);
    MORV_ASSERT_TEXT(parity >= 0, "m_carry_chain_parity.count(next_node->get_id())");
    return parity;
}

CDB_ATOM_NODE* MORV_RAM_MAP_UTIL_6LUT::new_carry_wire_lut(CDB_ATOM_NODE* name_node, const char* suffix, uint64_t mask)
{
    CDB_ATOM_NODE* lut = create_lut_cell(nullptr, cell_name(name_node, suffix));
    new_output(lut, DB_CARRY_OUT);
    new_output(lut, DB_COMB_OUT);
    m_fsyn_cdb_interface->set_lutmask(lut, CDB_LUTMASK(6, mask), 0);
    return lut;
}

CDB_ATOM_ITERM* MORV_RAM_MAP_UTIL_6LUT::create_carry_out_wire_lut(CDB_ATOM_ITERM* carry_in)
{
    MORV_DEBUG_STREAM::print(100, "creating carry-out wirelut");
    CDB_ATOM_NODE* next_node = carry_in != nullptr ? carry_in->get_my_node() : nullptr;
    const int next_parity = parity_of(next_node);
    CDB_ATOM_NODE* lut = create_lut_cell(nullptr, cell_name(next_node, "_carryout"));
    CDB_ATOM_ITERM* data_a = new_input(lut, DB_DATA_A);
    CDB_ATOM_ITERM* lut_carry_in = next_parity == 0 ? new_input(lut, DB_CARRY_IN) : nullptr;
    CDB_ATOM_OTERM* carry_out = new_output(lut, DB_CARRY_OUT);
    new_output(lut, DB_COMB_OUT);
    m_fsyn_cdb_interface->set_lutmask(lut, CDB_LUTMASK(6, CARRY_WIRE_MASK), 0);
    m_carry_chain_parity[static_cast<int>(lut->get_id())] = 1 - next_parity;
    rewire(carry_in, carry_out);
    place_and_announce(lut, next_node);
    if (next_parity == 0) {
        // A chain starts on an even cell: one more cell before keeps the
        // alternation.
        MORV_DEBUG_STREAM::print(2, "creating extra node before %d", static_cast<int>(next_node->get_id()));
        MORV_ASSERT_TEXT(lut_carry_in, "carryin");
        CDB_ATOM_NODE* extra = new_carry_wire_lut(next_node, "_carryout_2", 0);
        m_carry_chain_parity[static_cast<int>(extra->get_id())] = 0;
        rewire(lut_carry_in, extra->get_output_term_by_type(DB_CARRY_OUT));
        place_and_announce(extra, next_node);
    }
    return data_a;
}

CDB_ATOM_OTERM* MORV_RAM_MAP_UTIL_6LUT::convert_to_carry_chain_wire_lut(CDB_ATOM_NODE* node)
{
    MORV_DEBUG_STREAM::print(100, "Converting node %d to a carry_chain_wirelut!", static_cast<int>(node->get_id()));
    CDB_ATOM_OTERM* sumout = node->get_output_term_by_type(DB_SUM_OUT);
    MORV_ASSERT_TEXT(sumout, "sumout");
    m_fsyn_cdb_interface->set_lutmask(node, CDB_LUTMASK(6, SUM_WIRE_MASK), 0);
    m_fsyn_api->modify_node(node);
    m_fsyn_net_util->remove_unused_lut_inputs(node);
    return sumout;
}

bool MORV_RAM_MAP_UTIL_6LUT::is_lut(CDB_ATOM_NODE* node) const
{
    return node->is_lcell_comb();
}

bool MORV_RAM_MAP_UTIL_6LUT::has_carry_chain_parity(CDB_ATOM_OTERM* oterm) const
{
    CDB_ATOM_NODE* next_node = next_chain_cell(oterm->get_my_node());
    if (next_node == nullptr) return false;
    return parity_of(next_node) == 0;
}
