// Carrying out one rewiring: the optional duplication of node_a, the
// exchange of each input pair with its term settings, the two new masks and
// the removal of inputs the masks no longer read. Every edit is announced
// to the facade and mirrored into the change log.

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_rwr.h"

// What an input carried before it was detached.
struct MORV_RWR::DETACHED
{
    CDB_ATOM_OTERM* source = nullptr;
    bool gnd = false;
    bool vcc = false;
    MORV_ITERM_PROPERTIES properties;

    bool carries_signal() const { return source != nullptr || gnd || vcc; }
};

void MORV_RWR::detach_input(CDB_ATOM_NODE* node, int port, DETACHED& out)
{
    out = DETACHED();
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    if (iterm == nullptr) return;
    out.source = iterm->get_source();
    out.gnd = iterm->is_gnd();
    out.vcc = iterm->is_vcc();
    m_net_util->save_iterm_properties(iterm, &out.properties);
    m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
}

void MORV_RWR::attach_input(CDB_ATOM_NODE* node, int port, const DETACHED& signal)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    if (iterm == nullptr) iterm = m_net_util->create_iterm(node, port);
    if (signal.source != nullptr) {
        m_net_util->insert_fanout(signal.source, iterm);
    } else if (signal.gnd) {
        m_cdb_interface->set_iterm_gnd(iterm);
    } else {
        m_cdb_interface->set_iterm_vcc(iterm);
    }
    m_net_util->restore_iterm_properties(signal.properties, iterm);
}

void MORV_RWR::write_mask(CDB_ATOM_NODE* node, uint64_t value)
{
    // The whole LUT mask is replaced: the comb-out's mask setter, logged
    // with the family's flag.
    const int flag = get_lutmask_flag(node) ? 1 : 0;
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(m_lut_size, value), flag);
    m_fsyn_api->modify_node(node);
}

bool MORV_RWR::do_swap(MORV_RWR_SWAP& swap)
{
    MORV_ASSERT_TEXT(swap.node_a && swap.node_b, "swap.node_a && swap.node_b");
    if (swap.dup && !duplicate_to_avoid_fanout(swap)) return false;
    for (int k = 0; k < swap.num_swaps; ++k) {
        DETACHED from_a;
        DETACHED from_b;
        detach_input(swap.node_a, swap.port_a[k], from_a);
        detach_input(swap.node_b, swap.port_b[k], from_b);
        if (from_a.carries_signal()) attach_input(swap.node_b, swap.port_b[k], from_a);
        if (from_b.carries_signal()) attach_input(swap.node_a, swap.port_a[k], from_b);
    }
    write_mask(swap.node_a, swap.new_mask_a);
    write_mask(swap.node_b, swap.new_mask_b);
    m_net_util->remove_unused_lut_inputs(swap.node_a);
    m_net_util->remove_unused_lut_inputs(swap.node_b);
    m_fsyn_api->modify_node(swap.node_a);
    m_fsyn_api->modify_node(swap.node_b);
    return true;
}

bool MORV_RWR::duplicate_to_avoid_fanout(MORV_RWR_SWAP& swap)
{
    MORV_ASSERT_TEXT(swap.iterm_ab, "swap->iterm_ab");
    CDB_ATOM_OTERM* oterm = swap.iterm_ab->get_source();
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* node = swap.node_a;
    MORV_ASSERT_TEXT(node == oterm->get_my_node(), "node == oterm->get_my_node()");
    MORV_ASSERT_TEXT(is_lcell_a_lut(node), "is_lcell_a_lut(node)");
    if (m_net_util->is_carry_in_connected(node) && node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG)) return false;
    if (is_duplication_blocked(node)) return false;
    MORV_DEBUG_STREAM::print(100, "duplicating to avoid fanout");
    MORV_ASSERT_TEXT(oterm->get_any_usage_as() == DB_COMB_OUT, "oterm->get_any_usage_as() == ::DB_COMB_OUT");
    CDB_ATOM_NODE* copy = m_fsyn_api->duplicate_oterm(node, DB_COMB_OUT, true);
    if (copy == nullptr) return false;
    swap.node_a = copy;

    CDB_ATOM_OTERM* copy_out = copy->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT(copy_out);
    m_net_util->disconnect_iterm(swap.iterm_ab, CDB_NET_ITERM::UNCONNECTED);
    m_net_util->insert_fanout(copy_out, swap.iterm_ab);
    place_duplicate(node, copy);
    return true;
}

void MORV_RWR::place_duplicate(CDB_ATOM_NODE* node_a, CDB_ATOM_NODE* dup)
{
    // Before placement there is no LAB to share: the copy is only announced.
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map != nullptr && chip_map->get_node_location(static_cast<int>(node_a->get_atom_id()), &location) &&
        location.x != MORV_OPEN) {
        MORV_ASSERT_TEXT(location.y != MORV_OPEN, "x_loc != MORV_OPEN && y_loc != MORV_OPEN");
        MORV_LOC copy_location;
        copy_location.x = location.x;
        copy_location.y = location.y;
        chip_map->set_node_location(static_cast<int>(dup->get_atom_id()), copy_location);
    }
    m_fsyn_api->node_added(dup, node_a, MORV_MODIFICATION_DUPLICATE, DB_COMB_OUT, true, nullptr);
}
