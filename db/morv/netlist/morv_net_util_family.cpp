#include "morv/netlist/morv_net_util_family.h"

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"

// ---------------------------------------------------------------- MRL

uint64_t MORV_NET_UTIL_MRL::get_lutmask(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb());
    if (any_output_connected(node, {DB_SUM_OUT, DB_CARRY_OUT})) return get_spread_adder_lutmask(node);
    return node_mask(node);
}

unsigned MORV_NET_UTIL_MRL::evaluate_share_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT(node->is_lcell_comb());
    if (!is_output_connected(node, DB_SHARE_OUT)) return MORV_NO_LUT_VALUE;
    return share_out(node, in, false);
}

unsigned MORV_NET_UTIL_MRL::evaluate_comb_out_normal_mode(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return comb_out_normal_mode(node, in, false);
}

unsigned MORV_NET_UTIL_MRL::evaluate_comb_out_extended_mode(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return comb_out_extended_mode(node, in, false);
}

unsigned MORV_NET_UTIL_MRL::evaluate_sum_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, true, false).sum();
}

unsigned MORV_NET_UTIL_MRL::evaluate_sum_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, false, false).sum();
}

unsigned MORV_NET_UTIL_MRL::evaluate_carry_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, true, false).carry();
}

unsigned MORV_NET_UTIL_MRL::evaluate_carry_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, false, false).carry();
}
