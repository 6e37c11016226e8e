#include "morv/resyn/morv_resyn_family.h"

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "dev/dev_device.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/resyn/morv_bdd_syn.h"
#include "morv/resyn/morv_uvo_lut_hooks.h"
#include "morv/timing/morv_timing.h"

namespace {

// LUT functions of fewer variables are legal on MRL without asking.
constexpr int MRL_FREE_VARIABLES = 5;

}  // namespace

// ---------------------------------------------------------------- shared

void MORV_RESYN::set_family_defaults(const MORV_RESYN_FAMILY_DEFAULTS& d)
{
    m_num_data_ports = d.num_data_ports;
    m_default_stage_sr = 0.1;
    m_duplicate_fr = 0.66;
    m_noise_fr = 0.2;
    m_area_sr_min = 0.0;
    m_max_expansions = 20;
    m_max_vars = 15;
    m_max_literals = 5000;
    m_knock_var_base = 5;
    m_knock_var_mult0 = 5.0;
    m_knock_var_mult1 = 20.0;
    m_area_bound_bgn = 0;
    m_area_fr_bgn = d.area_fr_bgn;
    m_area_fr_end = d.area_fr_end;
    m_area_sr_max = d.area_sr_max;
    m_area_bound_end = d.area_bound_end;
}

void MORV_RESYN_FAMILY_BASE::init_family(const MORV_RESYN_FAMILY_DEFAULTS& d, double lut_part, bool check_lut_part,
                                         const MORV_PARAMETER_MAP* params)
{
    set_family_defaults(d);
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    int avg = 0;
    int comb_avg = 0;
    timing->get_average_annotated_delays(avg, comb_avg);
    if (check_lut_part) MORV_ASSERT_TEXT(lut_part >= 0.0, "lut_delay >= 0");
    m_stage_delay = comb_avg + lut_part;
    MORV_DEBUG_STREAM::print(100, "stage delay is %d (%d, %d)", static_cast<int>(m_stage_delay), comb_avg,
                             static_cast<int>(lut_part));
    m_guardband_slack = timing->get_guardband_slack();
    MORV_DEBUG_STREAM::print(100, "guardband slack is %d", m_guardband_slack);
    parse_parameters(params);
}

CDB_ATOM_NODE* MORV_RESYN_FAMILY_BASE::create_lut_node(CDB_ATOM_NODE* root_node, int /*lut_index*/)
{
    MORV_ASSERT_TEXT(root_node, "root_node");
    return MORV_BDD_SYN::create_lut_node_near(m_fsyn_api, root_node, "_RESYN",
                                              [this](HDB_INSTANCE_NAME* name) { return make_cell(name); });
}

void MORV_RESYN_FAMILY_BASE::free_lut_input(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    m_fsyn_api->modify_edge(iterm, true);
    if (m_cdb_interface->is_logging() && iterm->get_source() != nullptr)
        m_cdb_interface->get_fsyn_log()->log_disconnection(iterm);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
}

void MORV_RESYN_FAMILY_BASE::disconnect_lut_input(CDB_ATOM_ITERM* iterm, int /*position*/)
{
    free_lut_input(iterm);
}

bool MORV_RESYN_FAMILY_BASE::prepare_base_node(CDB_ATOM_NODE* root_node, int /*available_inputs*/)
{
    MORV_ASSERT_TEXT(root_node, "base_node");
    return false;
}

bool MORV_RESYN_FAMILY_BASE::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb() && !m_net_util->is_lcell_part_of_a_carry_chain(node) &&
           cut_get_atom_latch_info(node) == nullptr;
}

bool MORV_RESYN_FAMILY_BASE::is_lut_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb();
}

bool MORV_RESYN_FAMILY_BASE::lut_feeds_register(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    return false;
}

bool MORV_RESYN_FAMILY_BASE::uses_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

int MORV_RESYN_FAMILY_BASE::get_available_inputs(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_num_data_ports;
}

void MORV_RESYN_FAMILY_BASE::mark_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
}

bool MORV_RESYN_FAMILY_BASE::is_lut_function_legal(BDD_JBDD /*function*/, const std::vector<int>& /*support*/)
{
    return true;
}

// ---------------------------------------------------------------- branches

void MORV_RESYN_4LUT::mark_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    m_cdb_interface->set_node_bit(node, CDB_ATOM_BIT_FOUR_INPUT_COMB);
}

double MORV_RESYN_4LUT::lut_part() const
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    const int d = timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_D, DB_COMB_OUT);
    const int c = timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_C, DB_COMB_OUT);
    return (3 * d + 2 * c) / 5.0;
}

bool MORV_RESYN_6LUT::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    return MORV_RESYN_FAMILY_BASE::is_resynthesizable_node(node) && !m_net_util->is_in_extended_mode(node);
}

bool MORV_RESYN_6LUT::swaps_cofactors()
{
    // The families that hold combination c at bit 63 - c read every input
    // complemented.
    return morv_family_traits(m_fsyn_api->get_base_family_code()).m_mask_bits_reversed;
}

double MORV_RESYN_6LUT::lut_part() const
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    const int e = timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_E, DB_COMB_OUT);
    const int f = timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F, DB_COMB_OUT);
    return (4 * e + f) / 5.0;
}

// ---------------------------------------------------------------- MRL

MORV_RESYN_MRL::MORV_RESYN_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RESYN_6LUT(api, params), m_legalizer(api)
{
    init_family(resyn_family_defaults::MRL, m_fsyn_api->get_fsyn_timing()->get_fl_lut_delay(), true, params);
}

CDB_ATOM_NODE* MORV_RESYN_MRL::make_cell(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_mrl(nullptr, name);
}

bool MORV_RESYN_MRL::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb() && !m_net_util->is_lcell_part_of_a_carry_chain(node) &&
           m_fsyn_api->get_fl_cell_record_type(node) != 7;
}

bool MORV_RESYN_MRL::is_lut_function_legal(BDD_JBDD function, const std::vector<int>& support)
{
    if (static_cast<int>(support.size()) < MRL_FREE_VARIABLES) return true;
    uint64_t mask = 0;
    bdd_to_lutmask(function, support, 0, mask, 0);
    ++m_legality_queries;
    return m_legalizer.is_lutmask_legal_by_rotation(mask);
}

// ---------------------------------------------------------------- UVO

MORV_RESYN_UVO::MORV_RESYN_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RESYN_FAMILY_BASE(api, params)
{
    init_family(resyn_family_defaults::UVO, (3 * uvo_lut_delay(DB_DATA_D) + 2 * uvo_lut_delay(DB_DATA_C)) / 5.0, true,
                params);
}

CDB_ATOM_NODE* MORV_RESYN_UVO::make_cell(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_uvo(nullptr, name);
}

void MORV_RESYN_UVO::disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position)
{
    if (!uvo_release_register_shared_input(m_cdb_interface, iterm, position)) free_lut_input(iterm);
}

bool MORV_RESYN_UVO::prepare_base_node(CDB_ATOM_NODE* root_node, int available_inputs)
{
    return uvo_prepare_base_node(m_cdb_interface, m_net_util, root_node, available_inputs);
}

bool MORV_RESYN_UVO::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    return uvo_is_resynthesizable_node(m_net_util, node);
}

bool MORV_RESYN_UVO::is_lut_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell();
}

bool MORV_RESYN_UVO::lut_feeds_register(CDB_ATOM_OTERM* oterm)
{
    return uvo_lut_feeds_register(m_net_util, oterm);
}

bool MORV_RESYN_UVO::uses_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->is_in_qfbk_mode(node);
}

int MORV_RESYN_UVO::get_available_inputs(CDB_ATOM_NODE* node)
{
    return uvo_available_inputs(m_net_util, node, m_num_data_ports);
}
