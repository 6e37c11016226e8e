// Removal of the LUT inputs a cell's mask does not read, as the branches
// share it. A 4-input cell loses the term (a DB_DATA_C that also feeds the
// register only its LUT usage); a 6-input cell keeps the term, disconnected
// and no longer inverted. Every step is announced and logged like any
// other edit of the net utility.

#include "cdb/cdb_atom_node.h"
#include "cut/cut_atom_util.h"

#include "morv/core/morv_debug_stream.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

void MORV_NET_UTIL::print_removed_input(int input, CDB_ATOM_NODE* node)
{
    MORV_DEBUG_STREAM::print(100, "Removing unused lut input %d of node %u", input, node->get_id());
}

void MORV_NET_UTIL::remove_and_delete_lut_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    clear_boundary_port_id(iterm);
    disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    remove_input_term(node, iterm, port_type);
    delete iterm;
}

void MORV_NET_UTIL::disconnect_lut_input(CDB_ATOM_ITERM* iterm)
{
    disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    clear_invert(iterm);
}

void MORV_NET_UTIL::clear_data_c_usage(CDB_ATOM_ITERM* iterm)
{
    // The term stays connected for the register; only the LUT stops reading it.
    announce_edge(iterm, false);
    if (MORV_LOG* log = change_log()) log->log_clear_usage_as(iterm, DB_DATA_C);
    iterm->clear_usage_as(DB_DATA_C);
}

bool MORV_NET_UTIL::is_latch_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm)
{
    const CDB_ATOM_LATCH_INFO* latch_info = cut_get_atom_latch_info(node);
    if (latch_info == nullptr) return false;
    const int usage = iterm->get_any_usage_as();
    return usage == latch_info->data_port || usage == latch_info->data_port_2;
}

void MORV_NET_UTIL::remove_lut_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    if (port_type == DB_DATA_C && (iterm->is_used_as(DB_SYNCH_DATA) || iterm->is_used_as(DB_ASYNCH_DATA)))
        clear_data_c_usage(iterm);
    else remove_and_delete_lut_input(node, iterm, port_type);
}

int MORV_NET_UTIL::remove_unused_arithmetic_inputs(CDB_ATOM_NODE* node, const CDB_LUTMASK& carry_mask,
                                                   const CDB_LUTMASK& comb_mask)
{
    int count = 0;
    for (int input = 0; input < 2; ++input) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + input);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (!carry_mask.is_independent_of(input) || !comb_mask.is_independent_of(input)) continue;
        print_removed_input(input, node);
        remove_and_delete_lut_input(node, iterm, DB_DATA_A + input);
        ++count;
    }
    if (!node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB)) return count;
    CDB_ATOM_ITERM* data_c = node->get_input_term_by_type(DB_DATA_C);
    if (data_c == nullptr || !data_c->is_connected() || !comb_mask.is_independent_of(2)) return count;
    print_removed_input(2, node);
    remove_lut_data_input(node, data_c, DB_DATA_C);
    return count + 1;
}

int MORV_NET_UTIL::remove_unused_normal_inputs(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask)
{
    int count = 0;
    for (int input = 0; input < 4; ++input) {
        const int port = DB_DATA_A + input;
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected() || !mask.is_independent_of(input)) continue;
        print_removed_input(input, node);
        remove_lut_data_input(node, iterm, port);
        ++count;
    }
    return count;
}
