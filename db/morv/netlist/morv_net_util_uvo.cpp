#include "morv/netlist/morv_net_util_uvo.h"

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "morv/netlist/morv_cdb_interface.h"

MORV_NET_UTIL_UVO::MORV_NET_UTIL_UVO(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL(netlist, api)
{
    m_max_lut_inputs = 4;
}

bool MORV_NET_UTIL_UVO::is_lcell_in_a_chain(CDB_ATOM_NODE* node) const
{
    return is_lcell_part_of_a_carry_chain(node) || is_in_register_cascade(node);
}

bool MORV_NET_UTIL_UVO::is_lcell_part_of_a_carry_chain(CDB_ATOM_NODE* lcell_atom) const
{
    MORV_ASSERT(lcell_atom->is_lcell());
    return any_output_connected(lcell_atom, {DB_CARRY_OUT}) ||
           any_input_connected(lcell_atom, {DB_CARRY_IN, DB_CHAIN_IN_0, DB_CHAIN_IN_1}) ||
           any_output_connected(lcell_atom, {DB_CHAIN_OUT_0, DB_CHAIN_OUT_1});
}

bool MORV_NET_UTIL_UVO::is_in_register_cascade(CDB_ATOM_NODE* node) const
{
    if (is_connected(node, DB_REG_CASCADE_IN)) return true;
    CDB_ATOM_OTERM* regout = connected_output(node, DB_REG_OUT);
    if (regout == nullptr) return false;
    for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* lut_input = *it;
        MORV_ASSERT(lut_input && lut_input->is_connected());
        if (lut_input->is_used_as(DB_REG_CASCADE_IN)) return true;
    }
    return false;
}

bool MORV_NET_UTIL_UVO::is_in_arithmetic_mode(CDB_ATOM_NODE* node) const
{
    return any_output_connected(node, {DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1});
}

bool MORV_NET_UTIL_UVO::is_in_qfbk_mode(CDB_ATOM_NODE* node) const
{
    return node->test_bit(CDB_ATOM_BIT_QFBK_MODE);
}

bool MORV_NET_UTIL_UVO::is_sload_tied_to_vcc(CDB_ATOM_NODE* lcell_atom) const
{
    MORV_ASSERT(lcell_atom);
    CDB_ATOM_ITERM* sload = lcell_atom->get_input_term_by_type(DB_SYNCH_LOAD);
    return sload != nullptr && sload->is_connected() && sload->is_logical_vcc();
}

bool MORV_NET_UTIL_UVO::is_lut_data_input(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(iterm);
    for (int port = DB_DATA_A; port <= DB_DATA_D; ++port)
        if (iterm->is_used_as(port)) return true;
    return false;
}

bool MORV_NET_UTIL_UVO::is_lcell(CDB_ATOM_NODE* node) const
{
    return node->is_lcell();
}

bool MORV_NET_UTIL_UVO::is_lcell_hsadder(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return false;
}

bool MORV_NET_UTIL_UVO::is_ff(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_UVO::is_lut(CDB_ATOM_NODE* node) const
{
    return node->is_lcell();
}

bool MORV_NET_UTIL_UVO::is_in_extended_mode(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_UVO::is_register_control_input(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(iterm);
    for (int port : {DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR, DB_ASYNCH_LOAD, DB_SYNCH_LOAD, DB_REG_CONTROL})
        if (iterm->is_used_as(port)) return true;
    return false;
}

bool MORV_NET_UTIL_UVO::is_register_present(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node && is_lcell(node));
    return is_output_connected(node, DB_REG_OUT) || is_in_qfbk_mode(node);
}

CDB_LUTMASK MORV_NET_UTIL_UVO::create_or_lutmask(int /*number_of_inputs*/) const
{
    unsupported("This function is not supported by UVO");
}

bool MORV_NET_UTIL_UVO::is_carry_in_connected(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell());
    return any_input_connected(node, {DB_CARRY_IN, DB_CHAIN_IN_0, DB_CHAIN_IN_1});
}

bool MORV_NET_UTIL_UVO::has_carry_out_fanout(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell());
    return any_output_connected(node, {DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1});
}

bool MORV_NET_UTIL_UVO::does_lut_feed_register(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    if (!is_output_connected(node, DB_REG_OUT) && !node->test_bit(CDB_ATOM_BIT_QFBK_MODE)) return false;
    if (is_connected(node, DB_REG_CASCADE_IN)) return false;
    CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
    const bool aload_connected = aload != nullptr && aload->is_connected();
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    const bool sload_connected = sload != nullptr && sload->is_connected();
    if (!aload_connected && !sload_connected) return true;
    if (aload_connected && !aload->is_logical_gnd()) return true;
    if (!sload_connected) return false;
    return !sload->is_logical_vcc();
}

bool MORV_NET_UTIL_UVO::is_driven_by_constant_gnd(CDB_ATOM_ITERM* iterm) const
{
    return is_driven_by_constant(iterm, false, true);
}

bool MORV_NET_UTIL_UVO::is_driven_by_constant_vcc(CDB_ATOM_ITERM* iterm) const
{
    return is_driven_by_constant(iterm, true, true);
}

// ---------------------------------------------------------------- masks

uint64_t MORV_NET_UTIL_UVO::first_present_mask(CDB_ATOM_NODE* node, std::initializer_list<int> output_port_types)
{
    for (int port : output_port_types)
        if (CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(port)) return oterm_mask(oterm);
    MORV_ASSERT_TEXT(false, "oterm");
    return 0;
}

uint64_t MORV_NET_UTIL_UVO::get_lcell_lutmask(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell());
    if (CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT)) return oterm_mask(combout);
    if (CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT))
        return is_connected(node, DB_REG_CASCADE_IN) ? 0 : oterm_mask(regout);
    return 0;
}

uint64_t MORV_NET_UTIL_UVO::get_lutmask(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return first_present_mask(node, {DB_COMB_OUT, DB_REG_OUT, DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1});
}

uint64_t MORV_NET_UTIL_UVO::get_carry_lutmask(CDB_ATOM_NODE* node) const
{
    return first_present_mask(node, {DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1});
}

// ---------------------------------------------------------------- evaluation

unsigned MORV_NET_UTIL_UVO::evaluate_comb_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT_TEXT(node && in, "node && port_type >= 0 && port_type < DB_MAX_OUTPUT_PORT_TYPE");
    if (!any_output_connected(node, {DB_COMB_OUT, DB_REG_OUT})) return MORV_NO_LUT_VALUE;
    const uint64_t mask = get_lutmask(node);
    // The flag makes the carry-in the third LUT variable.
    const unsigned t = node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG) ? in[MORV_EVALUATE_CARRY_IN] : in[2];
    return (mask >> (in[0] + 2 * in[1] + 4 * t + 8 * in[3])) & 1u;
}

unsigned MORV_NET_UTIL_UVO::evaluate_carry_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell());
    if (!any_output_connected(node, {DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1})) return MORV_NO_LUT_VALUE;
    return (get_carry_lutmask(node) >> (in[0] + 2 * in[1] + 4 * in[MORV_EVALUATE_CARRY_IN])) & 1u;
}

unsigned MORV_NET_UTIL_UVO::evaluate_sum_out(CDB_ATOM_NODE* /*node*/, const unsigned* /*in*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

unsigned MORV_NET_UTIL_UVO::evaluate_share_out(CDB_ATOM_NODE* /*node*/, const unsigned* /*in*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

int MORV_NET_UTIL_UVO::remove_unused_lut_inputs(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    const CDB_LUTMASK comb_mask(4, get_lcell_lutmask(node));
    if (is_in_arithmetic_mode(node))
        return remove_unused_arithmetic_inputs(node, CDB_LUTMASK(4, get_carry_lutmask(node)), comb_mask);
    return remove_unused_normal_inputs(node, comb_mask);
}

// ---------------------------------------------------------------- carry chains

CDB_ATOM_NODE* MORV_NET_UTIL_UVO::get_next_node_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    if (CDB_ATOM_OTERM* carry_out = connected_output(node, DB_CARRY_OUT)) {
        // The carry-out also feeds cells outside the chain; the next cell
        // is the first one that takes it as its plain carry-in.
        for (auto it = carry_out->begin_iterm_fanout(); it != carry_out->end_iterm_fanout(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            MORV_ASSERT(iterm);
            CDB_ATOM_NODE* fanout = iterm->get_my_node();
            if (fanout != nullptr && !any_input_connected(fanout, {DB_CHAIN_IN_0, DB_CHAIN_IN_1}) &&
                is_connected(fanout, DB_CARRY_IN))
                return fanout;
        }
        MORV_ASSERT_TEXT(false, "found");
        return nullptr;
    }
    for (int port : {DB_CHAIN_OUT_0, DB_CHAIN_OUT_1})
        if (CDB_ATOM_OTERM* chain_out = connected_output(node, port)) return first_fanout_node(chain_out);
    return nullptr;
}

CDB_ATOM_NODE* MORV_NET_UTIL_UVO::get_previous_node_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    for (int port : {DB_CARRY_IN, DB_CHAIN_IN_1, DB_CHAIN_IN_0}) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm != nullptr && iterm->is_connected()) return source_node(iterm);
    }
    return nullptr;
}

int MORV_NET_UTIL_UVO::get_average_neighbour_delay() const
{
    return grid_average_neighbour_delay();
}

int MORV_NET_UTIL_UVO::get_sample_location_delay() const
{
    return grid_sample_location_delay();
}

MORV_OWNER<MORV_CANONICAL_NODE_INFO> MORV_NET_UTIL_UVO::create_canonical_node_info(CDB_ATOM_OTERM* oterm) const
{
    return MORV_MAKE_OWNER(MORV_CANONICAL_NODE_INFO_UVO, m_api, oterm);
}

// ---------------------------------------------------------------- new atoms

CDB_ATOM_NODE* MORV_NET_UTIL_UVO::create_lcell_comb(CDB_ATOM_NODE* node)
{
    return m_cdb_interface->create_lcell_uvo(nullptr, new_lcell_comb_name(node));
}

CDB_ATOM_NODE* MORV_NET_UTIL_UVO::create_register(CDB_ATOM_NODE* /*node*/, HDB_INSTANCE_NAME* /*base_name*/)
{
    unsupported(FUNCTION_NOT_SUPPORTED);
}
