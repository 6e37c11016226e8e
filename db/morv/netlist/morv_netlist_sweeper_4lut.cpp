// The sweeper of the 4-input-LUT families (TEV, ZEPLA): 16-bit masks, and
// cells in carry chains or arithmetic mode take no fold.

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper_family.h"

namespace {

constexpr uint64_t FULL_4LUT_MASK = 0xFFFF;

}  // namespace

MORV_NETLIST_SWEEPER_4LUT::MORV_NETLIST_SWEEPER_4LUT(MORV_API* api) : MORV_NETLIST_SWEEPER(api)
{
    m_max_lut_inputs = 4;
}

MORV_OWNER<MORV_NODE_COLLAPSER> MORV_NETLIST_SWEEPER_4LUT::make_node_collapser()
{
    return MORV_MAKE_OWNER(MORV_NODE_COLLAPSER_4LUT, m_api);
}

bool MORV_NETLIST_SWEEPER_4LUT::is_removal_candidate(CDB_ATOM_NODE* node)
{
    if (!m_net_util->is_lcell(node)) return false;
    if (m_net_util->is_lcell_in_a_chain(node) && !is_pre_placement()) return false;
    return !node->is_lcell_comb() || !m_net_util->is_in_arithmetic_mode(node);
}

MORV_NETLIST_SWEEPER::REMOVAL MORV_NETLIST_SWEEPER_4LUT::get_removal(CDB_ATOM_NODE* node)
{
    if (!is_removal_candidate(node)) return KEEP_NODE;
    if (m_net_util->is_ff(node)) {
        CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        return regout == nullptr || is_oterm_removable(regout) ? REMOVE_NODE : KEEP_NODE;
    }
    MORV_ASSERT_TEXT(node->is_lcell_comb(), "curr_node->is_lcell_comb()");
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
    if (combout != nullptr && !is_oterm_removable(combout)) return KEEP_NODE;
    return m_net_util->is_output_connected(node, DB_CARRY_OUT) ? KEEP_NODE : REMOVE_NODE;
}

bool MORV_NETLIST_SWEEPER_4LUT::get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val)
{
    if (!node->is_lcell_comb() || m_net_util->is_in_arithmetic_mode(node)) return false;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node) || m_net_util->is_latch(node)) return false;
    *lutmask_val = m_net_util->get_lutmask(node);
    return true;
}

bool MORV_NETLIST_SWEEPER_4LUT::get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node == nullptr || !node->is_lcell_comb() || !oterm->is_used_as(DB_COMB_OUT)) return false;
    *lutmask_val = oterm->get_lutmask().get_value();
    return !node->test_bit(CDB_ATOM_BIT_VIRTUAL_IO);
}

bool MORV_NETLIST_SWEEPER_4LUT::get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant)
{
    *constant = -1;
    if (get_tied_constant(iterm, constant)) return true;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return false;
    MORV_ASSERT_TEXT(source->get_my_node(), "driver_node");
    uint64_t mask = 0;
    if (!get_lutmask_of_combout(source, &mask)) return false;
    int value = -1;
    if (mask == FULL_4LUT_MASK) value = 1;
    else if (mask == 0) value = 0;
    else return false;
    *constant = read_through(iterm, value);
    return true;
}

uint64_t MORV_NETLIST_SWEEPER_4LUT::fold_constant_input_in_arithmetic_mode(uint64_t /*lutmask*/, int /*input*/,
                                                                           int /*constant*/,
                                                                           bool /*share_in_connected*/)
{
    MORV_ASSERT_TEXT(false, "This function is not supported for the Sorvex II family");
    return 0;
}

void MORV_NETLIST_SWEEPER_4LUT::set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask)
{
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(4, lutmask), !node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
    m_api->modify_node(node);
}

// Without the four-input flag LUT position C reads the carry-in, not the
// cell's data input C.
bool MORV_NETLIST_SWEEPER_4LUT::is_foldable_input(CDB_ATOM_NODE* node, int input, bool /*arithmetic*/,
                                                  bool /*share_in_connected*/)
{
    return input != 2 || node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
}
