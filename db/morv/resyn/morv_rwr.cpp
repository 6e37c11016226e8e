#include "morv/resyn/morv_rwr.h"

#include <cinttypes>
#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

MORV_RWR_SWAP::MORV_RWR_SWAP() : port_ab(DB_MAX_INPUT_PORT_TYPE), slack_ab(MORV_RWR::s_VALID_SLACK) {}

bool MORV_RWR_SWAP_ORDER::operator()(const MORV_RWR_SWAP& a, const MORV_RWR_SWAP& b) const
{
    if (a.score != b.score) return a.score > b.score;
    MORV_ASSERT_TEXT(a.node_a && a.node_b && b.node_a && b.node_b, "node_a && node_b");
    if (a.node_a->get_atom_id() != b.node_a->get_atom_id()) return a.node_a->get_atom_id() < b.node_a->get_atom_id();
    return a.node_b->get_atom_id() < b.node_b->get_atom_id();
}

MORV_RWR::MORV_RWR(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_dup_lab_threshold(0), m_dup_delay(0), m_rotation_delay(0), m_level_delay(0),
      m_cf(10.0), m_of(0.9), m_max_swaps(0), m_max_dups(0), m_swaps_done(0), m_dups_done(0), m_lut_size(0),
      m_mask_bits(0), m_net_util(nullptr), m_alg(s_GREEDY), m_rtm_aware(false)
{
    MORV_DEBUG_STREAM::print(100, "creating a MORV_RWR class");
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    const MORV_PARAMETER_MAP empty;
    const MORV_PARAMETER_MAP& map = params != nullptr ? *params : empty;
    const std::string cf = get_algorithm_param(map, "CF");
    if (!cf.empty()) m_cf = atof(cf.c_str());
    const std::string of = get_algorithm_param(map, "OF");
    if (!of.empty()) m_of = atof(of.c_str());
    const int size = m_atom_netlist != nullptr ? static_cast<int>(m_atom_netlist->get_node_count()) : 0;
    m_max_swaps = size / 8 + 1;
    m_max_dups = size / 128 + 1;
    m_dup_delay = m_net_util->get_average_neighbour_delay() - m_net_util->get_sample_location_delay();
    MORV_DEBUG_STREAM::print(100, "duplication delay: %d ps", m_dup_delay);
    if (atoi(get_algorithm_param(map, "RTM_AWARE").c_str()) == 1) {
        MORV_DEBUG_STREAM::print(2, "**********************************");
        MORV_DEBUG_STREAM::print(2, "* Running in RETIMING AWARE MODE *");
        MORV_DEBUG_STREAM::print(2, "**********************************");
        m_rtm_aware = true;
    }
}

MORV_RWR::~MORV_RWR()
{
    MORV_DEBUG_STREAM::print(100, "destroying a MORV_RWR class");
}

int MORV_RWR::parse_alg(const std::string& value, int family_default)
{
    int alg = family_default;
    if (value.find("GREEDY") != std::string::npos) alg = s_GREEDY;
    // Tested second, so that it wins when both words occur.
    if (value.find("RECURSIVE") != std::string::npos) alg = s_RECURSIVE;
    return alg;
}

void MORV_RWR::set_family_values(int alg_default, int rotation_delay, int level_delay, int dup_lab_threshold,
                                 int lut_size)
{
    const MORV_PARAMETER_MAP empty;
    m_alg = parse_alg(get_algorithm_param(m_params != nullptr ? *m_params : empty, "ALG"), alg_default);
    m_rotation_delay = rotation_delay;
    MORV_DEBUG_STREAM::print(100, "lut rotation delay: %d ps", m_rotation_delay);
    m_level_delay = level_delay;
    MORV_DEBUG_STREAM::print(100, "lut level delay: %d ps", m_level_delay);
    m_dup_lab_threshold = dup_lab_threshold;
    m_lut_size = lut_size;
    m_mask_bits = 1 << lut_size;
}

void MORV_RWR::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 1;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_RWR::set_default_pass_parameters(int, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 8;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.19;
}

int MORV_RWR::do_iter()
{
    // The skews apply while candidates are chosen and come off before the
    // run driver judges the iteration.
    MORV_OWNER<MORV_RTM_AWARE_SKEWS> skews;
    if (m_rtm_aware) {
        skews = MORV_MAKE_OWNER(MORV_RTM_AWARE_SKEWS, m_fsyn_api, m_slack_ratio_threshold);
        MORV_ASSERT_TEXT(skews, "fsyn_opt_skew");
    }
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (node == nullptr || !is_rewire_candidate(node)) continue;
        if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_atom_id()), AMM_OP_FITTER_FSYN_RESYNTHESIS))
            continue;
        MORV_RWR_SWAP best;
        const bool found = m_alg == s_GREEDY ? greedy_search(node, &best) : recursive_search(node, &best);
        if (found) m_swaps.insert(best);
    }
    return execute_swaps();
}

void MORV_RWR::print_swap(const MORV_RWR_SWAP& swap)
{
    MORV_DEBUG_STREAM::print(100, "node a: %s", MORV_NET_UTIL::get_hpath_name(swap.node_a).c_str());
    MORV_DEBUG_STREAM::print(100, "node b: %s", MORV_NET_UTIL::get_hpath_name(swap.node_b).c_str());
    for (int k = 0; k < swap.num_swaps; ++k) {
        MORV_DEBUG_STREAM::print(100, "swap %d port a: %d", k, swap.port_a[k] - DB_DATA_A);
        MORV_DEBUG_STREAM::print(100, "swap %d port b: %d", k, swap.port_b[k] - DB_DATA_A);
    }
    MORV_DEBUG_STREAM::print(100, "port ab: %d", swap.port_ab - DB_DATA_A);
    CDB_ATOM_OTERM* source = swap.iterm_ab != nullptr ? swap.iterm_ab->get_source() : nullptr;
    MORV_DEBUG_STREAM::print(100, "iterm ab: %s",
                             source != nullptr ? MORV_NET_UTIL::get_hpath_name(source).c_str() : "");
    MORV_DEBUG_STREAM::print(100, "delay ab: %d", swap.delay_ab);
    MORV_DEBUG_STREAM::print(100, "slack ab: %d", swap.slack_ab);
    MORV_DEBUG_STREAM::print(100, "slack ratio ab: %f", swap.slack_ratio_ab);
    MORV_DEBUG_STREAM::print(100, "min gain: %d", swap.min_gain);
    MORV_DEBUG_STREAM::print(100, "improvement: %d", swap.improvement);
    MORV_DEBUG_STREAM::print(100, "score: %f", swap.score);
    // Six-input masks are 64 bits wide: printed whole.
    MORV_DEBUG_STREAM::print(100, "orig mask a: %.4" PRIx64, m_net_util->get_lutmask(swap.node_a));
    MORV_DEBUG_STREAM::print(100, "orig mask b: %.4" PRIx64, m_net_util->get_lutmask(swap.node_b));
    MORV_DEBUG_STREAM::print(100, "new mask a: %.4" PRIx64, swap.new_mask_a);
    MORV_DEBUG_STREAM::print(100, "new mask b: %.4" PRIx64, swap.new_mask_b);
}

int MORV_RWR::execute_swaps()
{
    int swaps = 0;
    int dups = 0;
    for (const MORV_RWR_SWAP& swap : m_swaps) {
        const int id_a = static_cast<int>(swap.node_a->get_atom_id());
        const int id_b = static_cast<int>(swap.node_b->get_atom_id());
        if (m_touched_ids.count(id_a) != 0 || m_touched_ids.count(id_b) != 0) continue;
        if (swap.dup && dups >= m_max_dups) continue;
        print_swap(swap);
        MORV_RWR_SWAP copy = swap;
        if (!do_swap(copy)) continue;
        m_touched_ids.insert(id_a);
        m_touched_ids.insert(id_b);
        ++swaps;
        if (swap.dup) ++dups;
        if (swaps >= m_max_swaps) break;
    }
    m_swaps.clear();
    m_touched_ids.clear();
    MORV_DEBUG_STREAM::print(100, "RWR: swaps tried: %d", swaps);
    MORV_DEBUG_STREAM::print(100, "RWR: dups tried: %d", dups);
    return swaps;
}

// ---------------------------------------------------------------- local-optimisation protocol

void MORV_RWR::init_iteration_for_local_optimization()
{
    m_swaps_done = 0;
    m_dups_done = 0;
}

MORV_OWNER<MORV_LOCAL_OPT_INFO> MORV_RWR::evaluate_local_optimization(CDB_ATOM_ITERM* local_iterm)
{
    MORV_ASSERT_TEXT(local_iterm, "local_iterm");
    MORV_OWNER<MORV_RWR_SWAP> swap = MORV_MAKE_OWNER(MORV_RWR_SWAP);
    CDB_ATOM_NODE* node_b = local_iterm->get_my_node();
    MORV_ASSERT_TEXT(node_b, "swap_node_b");
    if (!recursive_search(node_b, swap.get())) swap.reset();
    return swap;
}

bool MORV_RWR::perform_local_optimization(CDB_ATOM_ITERM* local_iterm, const MORV_LOCAL_OPT_INFO* record,
                                          std::set<int>* touched_ids)
{
    MORV_ASSERT_TEXT(local_iterm, "local_iterm");
    // A record another algorithm made is no rewiring.
    const auto* opt_info = dynamic_cast<const MORV_RWR_SWAP*>(record);
    MORV_ASSERT_TEXT(opt_info, "opt_info");
    MORV_ASSERT_TEXT(touched_ids, "touched_ids");
    const int id_a = static_cast<int>(opt_info->node_a->get_atom_id());
    const int id_b = static_cast<int>(opt_info->node_b->get_atom_id());
    if (touched_ids->count(id_a) != 0 || touched_ids->count(id_b) != 0) {
        MORV_DEBUG_STREAM::print(100, "MORV_RWR: Warning - could not perform requested optimization; touched_id "
                                      "violation");
        return false;
    }
    if (opt_info->dup && m_dups_done >= m_max_dups) {
        MORV_DEBUG_STREAM::print(100, "MORV_RWR: Warning - could not perform requested optimization; reached max "
                                      "dups to try");
        return false;
    }
    if (m_swaps_done >= m_max_swaps) {
        MORV_DEBUG_STREAM::print(100, "MORV_RWR: Warning - could not perform requested optimization; reached max "
                                      "swaps to try");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "MORV_RWR: will perform requested optimization");
    MORV_RWR_SWAP copy = *opt_info;
    if (!do_swap(copy)) {
        MORV_DEBUG_STREAM::print(100, "MORV_RWR: Warning - do_swap() returned FALSE");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "MORV_RWR: done swap!");
    touched_ids->insert(id_a);
    touched_ids->insert(id_b);
    ++m_swaps_done;
    if (opt_info->dup) ++m_dups_done;
    return true;
}

void MORV_RWR::cleanup_local_optimization(MORV_OWNER<MORV_LOCAL_OPT_INFO>& opt_info)
{
    MORV_ASSERT_TEXT(opt_info, "opt_info");
    opt_info.reset();
}

// ---------------------------------------------------------------- member queries

int MORV_RWR::get_input_slack(CDB_ATOM_NODE* node, int port)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    return iterm != nullptr ? m_fsyn_timing->get_slack(iterm) : s_VALID_SLACK;
}

double MORV_RWR::get_input_slack_ratio(CDB_ATOM_NODE* node, int port)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    return iterm != nullptr ? m_fsyn_timing->get_slack_ratio(iterm) : 1.0;
}

int MORV_RWR::get_term_slack(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    return m_fsyn_timing->get_slack(iterm);
}

int MORV_RWR::estimate_routing_delay(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* node)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (iterm == nullptr || node == nullptr || chip_map == nullptr) return 0;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr || source->get_my_node() == nullptr) return 0;
    MORV_LOC from;
    MORV_LOC to;
    if (!chip_map->get_node_location(static_cast<int>(source->get_my_node()->get_atom_id()), &from)) return 0;
    if (!chip_map->get_node_location(static_cast<int>(node->get_atom_id()), &to)) return 0;
    if (from.x == MORV_OPEN || to.x == MORV_OPEN) return 0;
    return m_fsyn_api->get_routing_delay(from.x, from.y, to.x, to.y, m_fsyn_api->get_oterm_fl_value(source));
}
