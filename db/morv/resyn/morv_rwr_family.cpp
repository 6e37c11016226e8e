#include "morv/resyn/morv_rwr_family.h"

#include <climits>
#include <cstdint>

#include "cdb/cdb_atom_node.h"
#include "dev/dev_device.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_uvo_lut_hooks.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr int LAB_LUTS_FOR_PENALTY = 13;
constexpr int UVO_LAB_LUTS_FOR_PENALTY = 8;

// Delay arithmetic on values that may be the not-computed sentinel.
int clamp_delay(int64_t value)
{
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int two_and_a_half_times(int delay)
{
    return clamp_delay(static_cast<int64_t>(delay) * 5 / 2);
}

int difference(int a, int b)
{
    return clamp_delay(static_cast<int64_t>(a) - b);
}

}  // namespace

// ---------------------------------------------------------------- shared bodies

bool MORV_RWR::is_plain_comb_out(CDB_ATOM_OTERM* oterm, bool lcell)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    if (!(lcell ? node->is_lcell() : node->is_lcell_comb())) return false;
    if (!oterm->is_used_as(DB_COMB_OUT)) return false;
    return !m_fsyn_api->is_oterm_dont_touch(oterm, AMM_OP_FITTER_FSYN_DUPLICATE);
}

bool MORV_RWR::source_has_other_loads(MORV_RWR_SWAP* swap)
{
    MORV_ASSERT_TEXT(swap, "swap");
    CDB_ATOM_OTERM* oterm_ab = swap->iterm_ab != nullptr ? swap->iterm_ab->get_source() : nullptr;
    MORV_ASSERT_TEXT(oterm_ab, "oterm_ab");
    swap->dup = oterm_ab->get_number_of_fanout() > 1;
    return swap->dup;
}

int MORV_RWR::lut_delay(int port) const
{
    return m_fsyn_timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, port, DB_COMB_OUT);
}

// ---------------------------------------------------------------- 4-input branch

bool MORV_RWR_4LUT::is_rewire_candidate(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb();
}

bool MORV_RWR_4LUT::get_lutmask_flag(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB)) return false;
    if (m_net_util->is_carry_in_connected(node)) return true;
    m_cdb_interface->set_node_bit(node, CDB_ATOM_BIT_FOUR_INPUT_COMB);
    return false;
}

int MORV_RWR_4LUT::get_ale_input_count(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return 0;
}

bool MORV_RWR_4LUT::is_excluded_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_RWR_4LUT::is_swappable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_plain_comb_out(oterm, false);
}

bool MORV_RWR_4LUT::is_excluded_port_a(CDB_ATOM_NODE* node, int)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_RWR_4LUT::is_excluded_port_b(CDB_ATOM_NODE* node, int)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_RWR_4LUT::needs_duplication(MORV_RWR_SWAP* swap)
{
    return source_has_other_loads(swap);
}

bool MORV_RWR_4LUT::is_lcell_a_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb();
}

bool MORV_RWR_4LUT::is_duplication_blocked(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

int MORV_RWR_4LUT::get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(feeds_lutout, "feeds_lutout");
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) return 0;
    for (int k = 0; k < 4; ++k) feeds_lutout[k] = DB_DATA_A + k;
    return 4;
}

bool MORV_RWR_4LUT::can_duplicate_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return !m_net_util->is_lcell_part_of_a_carry_chain(node);
}

MORV_RWR_4LUT_FAMILY::MORV_RWR_4LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RWR_4LUT(api, params)
{
    set_family_values(s_RECURSIVE, difference(lut_delay(DB_DATA_A), lut_delay(DB_DATA_D)),
                      two_and_a_half_times(lut_delay(DB_DATA_D)), LAB_LUTS_FOR_PENALTY, 4);
}

// ---------------------------------------------------------------- 6-input branch

bool MORV_RWR_6LUT::is_rewire_candidate(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb() && !m_net_util->is_in_extended_mode(node);
}

bool MORV_RWR_6LUT::get_lutmask_flag(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

int MORV_RWR_6LUT::get_ale_input_count(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_NODE* partner = nullptr;
    if (MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map()) {
        const int partner_id = chip_map->find_ale_partner_node(static_cast<int>(node->get_atom_id()));
        if (partner_id >= 0) partner = m_fsyn_api->get_morv_env()->get_node(partner_id);
    }
    return m_net_util->count_common_lut_input_sources(node, partner);
}

bool MORV_RWR_6LUT::is_excluded_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->is_connected(node, DB_DATA_G) ||
           m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_atom_id()), AMM_OP_FITTER_FSYN_DUPLICATE);
}

bool MORV_RWR_6LUT::is_swappable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_plain_comb_out(oterm, false) && !m_net_util->is_connected(oterm->get_my_node(), DB_DATA_G);
}

bool MORV_RWR_6LUT::is_excluded_port_a(CDB_ATOM_NODE* node, int port)
{
    return get_input_slack_ratio(node, port) > m_slack_ratio_threshold;
}

bool MORV_RWR_6LUT::is_excluded_port_b(CDB_ATOM_NODE* node, int port)
{
    return !(get_input_slack_ratio(node, port) > m_slack_ratio_threshold);
}

bool MORV_RWR_6LUT::needs_duplication(MORV_RWR_SWAP* swap)
{
    return source_has_other_loads(swap);
}

bool MORV_RWR_6LUT::is_lcell_a_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb();
}

bool MORV_RWR_6LUT::is_duplication_blocked(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

int MORV_RWR_6LUT::get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(feeds_lutout, "feeds_lutout");
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) return 0;
    int count = 0;
    feeds_lutout[count++] = DB_DATA_A;
    feeds_lutout[count++] = DB_DATA_B;
    // In extended mode input C is read through the G input's half.
    if (!m_net_util->is_in_extended_mode(node)) feeds_lutout[count++] = DB_DATA_C;
    feeds_lutout[count++] = DB_DATA_D;
    feeds_lutout[count++] = DB_DATA_E;
    feeds_lutout[count++] = DB_DATA_F;
    return count;
}

bool MORV_RWR_6LUT::can_duplicate_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return !m_net_util->is_lcell_part_of_a_carry_chain(node);
}

MORV_RWR_6LUT_FAMILY::MORV_RWR_6LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RWR_6LUT(api, params)
{
    set_family_values(s_GREEDY, difference(lut_delay(DB_DATA_A), lut_delay(DB_DATA_F)), lut_delay(DB_DATA_D),
                      LAB_LUTS_FOR_PENALTY, 6);
}

// ---------------------------------------------------------------- MRL

MORV_RWR_MRL::MORV_RWR_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RWR_6LUT(api, params)
{
    set_family_values(s_GREEDY, 0, m_fsyn_timing->get_fl_lut_delay(), LAB_LUTS_FOR_PENALTY, 6);
}

bool MORV_RWR_MRL::is_rewire_candidate(CDB_ATOM_NODE* node)
{
    return MORV_RWR_6LUT::is_rewire_candidate(node) && !m_net_util->is_lcell_part_of_a_carry_chain(node);
}

int MORV_RWR_MRL::get_ale_input_count(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return 0;
}

bool MORV_RWR_MRL::is_excluded_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_atom_id()), AMM_OP_FITTER_FSYN_DUPLICATE);
}

bool MORV_RWR_MRL::is_swappable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_plain_comb_out(oterm, false);
}

// ---------------------------------------------------------------- UVO

MORV_RWR_UVO::MORV_RWR_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RWR(api, params)
{
    set_family_values(s_RECURSIVE, difference(uvo_lut_delay(DB_DATA_A), uvo_lut_delay(DB_DATA_D)),
                      two_and_a_half_times(uvo_lut_delay(DB_DATA_D)), UVO_LAB_LUTS_FOR_PENALTY, 4);
}

bool MORV_RWR_UVO::is_rewire_candidate(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell();
}

bool MORV_RWR_UVO::get_lutmask_flag(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
}

int MORV_RWR_UVO::get_ale_input_count(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return 0;
}

bool MORV_RWR_UVO::is_excluded_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_RWR_UVO::is_swappable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_plain_comb_out(oterm, true);
}

bool MORV_RWR_UVO::is_excluded_port_a(CDB_ATOM_NODE* node, int)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_RWR_UVO::is_excluded_port_b(CDB_ATOM_NODE* node, int)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_RWR_UVO::needs_duplication(MORV_RWR_SWAP* swap)
{
    if (source_has_other_loads(swap)) return true;
    swap->dup = m_net_util->does_lut_feed_register(swap->node_a);
    return swap->dup;
}

bool MORV_RWR_UVO::is_lcell_a_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell();
}

bool MORV_RWR_UVO::is_duplication_blocked(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->is_connected(node, DB_REG_CONTROL);
}

int MORV_RWR_UVO::get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(feeds_lutout, "feeds_lutout");
    int count = 0;
    if (!m_net_util->has_carry_out_fanout(node)) {
        // Input A doubles as the register control when that is connected.
        if (!m_net_util->is_connected(node, DB_REG_CONTROL)) feeds_lutout[count++] = DB_DATA_A;
        feeds_lutout[count++] = DB_DATA_B;
        feeds_lutout[count++] = DB_DATA_D;
    }
    // Input C is the LUT's only while neither the register nor the carry-in takes it.
    const bool c_free = !m_net_util->is_connected(node, DB_ASYNCH_DATA) &&
                        !m_net_util->is_connected(node, DB_SYNCH_DATA) && !node->test_bit(CDB_ATOM_BIT_QFBK_MODE) &&
                        !node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
    if (c_free) feeds_lutout[count++] = DB_DATA_C;
    return count;
}

bool MORV_RWR_UVO::can_duplicate_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return !m_net_util->is_lcell_part_of_a_carry_chain(node) && !m_net_util->is_connected(node, DB_REG_CASCADE_IN);
}
