#include "morv/resyn/morv_lir.h"

#include <algorithm>
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "cfg/cfg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_timing.h"

namespace {

int port_of(int input_index)
{
    return DB_DATA_A + input_index;
}

}  // namespace

MORV_LIR::MORV_LIR(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr)
{
    MORV_DEBUG_STREAM::print(100, "MORV_LIR Created");
    m_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_fsyn_net_util");
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_cdb_interface(), "m_fsyn_cdb_interface");
    MORV_ASSERT_TEXT(m_cdb_interface, "m_cdb_interface");
}

MORV_LIR::~MORV_LIR()
{
    MORV_DEBUG_STREAM::print(100, "MORV_LIR Destroyed");
}

void MORV_LIR::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_LIR::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    if (num_iters == s_UNSET_INT) num_iters = 10;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

// Cells whose mask is not a plain 6-input function are left alone: in
// extended mode E and F select quarters of the mask and G stands in for an
// input, in arithmetic mode the carry logic reads the mask too, so inputs
// symmetric in the mask need not be symmetric in the cell.
bool MORV_LIR::is_candidate(CDB_ATOM_NODE* node) const
{
    if (!node->is_lcell_comb()) return false;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) return false;
    if (m_net_util->is_latch(node)) return false;
    if (m_net_util->is_in_extended_mode(node) || m_net_util->is_in_arithmetic_mode(node)) return false;
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT, 0);
    return combout != nullptr && combout->has_fanout();
}

int MORV_LIR::do_iter()
{
    MORV_ASSERT_TEXT(m_atom_netlist, "m_atom_netlist");
    int count = 0;
    for (auto it = m_atom_netlist->begin_node_list(); it != m_atom_netlist->end_node_list(); ++it) {
        CDB_ATOM_NODE* node = *it;
        MORV_ASSERT_TEXT(node, "node");
        if (!is_candidate(node)) continue;
        EQUIVALENCE_SET_LIST list;
        find_equivalent_inputs(node, &list);
        if (remap_node_inputs(node, &list)) ++count;
        clear_equivalence_sets(&list);
    }
    if (cfg_is_on("fsyn_lir_return_zero_operations", false)) return 0;
    return count;
}

void MORV_LIR::find_equivalent_inputs(CDB_ATOM_NODE* node, EQUIVALENCE_SET_LIST* list) const
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(list, "equivalence_set_list");
    const uint64_t value = m_net_util->get_lutmask(node);
    MORV_DEBUG_STREAM::print(100, "Processing NODE <%d>: %04X.%04X.%04X.%04X", static_cast<int>(node->get_id()),
                             static_cast<unsigned>((value >> 48) & 0xFFFF),
                             static_cast<unsigned>((value >> 32) & 0xFFFF),
                             static_cast<unsigned>((value >> 16) & 0xFFFF), static_cast<unsigned>(value & 0xFFFF));
    // Exchanging two inputs commutes with complementing all of them, so the
    // test holds for either bit order of the families' masks.
    CDB_LUTMASK mask;
    mask.set_value(s_INPUT_NUMBER, value);
    for (int i = 0; i < s_INPUT_NUMBER - 1; ++i) {
        if (mask.is_independent_of(i)) continue;
        for (int j = i + 1; j < s_INPUT_NUMBER; ++j) {
            if (mask.is_independent_of(j)) continue;
            CDB_LUTMASK swapped = mask;
            swapped.switch_inputs(i, j);
            if (!(swapped == mask)) continue;
            MORV_DEBUG_STREAM::print(100, "   Equivalence: %d <-> %d", i, j);
            add_equivalence(i, j, list);
        }
    }
}

void MORV_LIR::add_equivalence(int i, int j, EQUIVALENCE_SET_LIST* list)
{
    MORV_ASSERT_TEXT(list, "equivalence_set_list");
    for (const MORV_OWNER<EQUIVALENCE_SET>& set : *list) {
        MORV_ASSERT_TEXT(set, "equivalence_set");
        if (set->count(i) != 0) {
            set->insert(j);
            return;
        }
    }
    MORV_OWNER<EQUIVALENCE_SET> set = MORV_MAKE_OWNER(EQUIVALENCE_SET);
    MORV_ASSERT_TEXT(set, "equivalence_set");
    set->insert(i);
    set->insert(j);
    list->push_back(std::move(set));
}

bool MORV_LIR::remap_node_inputs(CDB_ATOM_NODE* node, EQUIVALENCE_SET_LIST* list)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(list, "equivalence_set_list");
    bool changed = false;
    for (const MORV_OWNER<EQUIVALENCE_SET>& set : *list) {
        MORV_ASSERT_TEXT(set, "equivalence_set");
        if (remap_equivalence_set(node, set.get())) changed = true;
    }
    return changed;
}

double MORV_LIR::input_slack_ratio(CDB_ATOM_ITERM* iterm)
{
    return m_fsyn_timing->get_slack_ratio(iterm);
}

int MORV_LIR::input_delay(CDB_ATOM_ITERM* iterm)
{
    return m_fsyn_timing->get_connection_delay(iterm);
}

void MORV_LIR::collect_input_timing(CDB_ATOM_NODE* node, EQUIVALENCE_SET* set, DELAY_LIST* input_delay_list,
                                    SLACK_RATIO_LIST* input_slack_ratio_list, PORT_TO_OTERM_MAP* port_to_oterm_map,
                                    PORT_TO_FLAGS_MAP* port_to_flags_map)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(set, "equivalence_set");
    MORV_ASSERT_TEXT(input_delay_list, "input_delay_list");
    MORV_ASSERT_TEXT(input_slack_ratio_list, "input_slack_ratio_list");
    MORV_ASSERT_TEXT(port_to_oterm_map, "port_to_oterm_map");
    MORV_ASSERT_TEXT(port_to_flags_map, "port_to_flags_map");
    for (int port_index : *set) {
        MORV_ASSERT_TEXT(port_index >= 0 && port_index < s_INPUT_NUMBER,
                         "port_index >= 0 && port_index < input_number");
        const int port = port_of(port_index);
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port, 0);
        // The design stops on an internal error here; a cell without the
        // input reads a constant there, as at an input without a source: no
        // signal moves onto it or off it.
        if (iterm == nullptr) continue;
        CDB_ATOM_OTERM* source = iterm->get_source();
        if (source == nullptr) continue;
        const double slack_ratio = input_slack_ratio(iterm);
        const int delay = input_delay(iterm);
        if (delay == MORV_TIMING::s_NO_PATH) {
            MORV_DEBUG_STREAM::print(2, "Warning: can't compute delay on node <%d> iterm <%d>",
                                     static_cast<int>(node->get_id()), port_index);
            continue;
        }
        input_delay_list->emplace_back(port, delay);
        input_slack_ratio_list->emplace_back(port, slack_ratio);
        (*port_to_oterm_map)[port] = source;
        MORV_ITERM_PROPERTIES properties;
        m_net_util->save_iterm_properties(iterm, &properties);
        (*port_to_flags_map)[port] = properties;
    }
}

bool MORV_LIR::remap_equivalence_set(CDB_ATOM_NODE* node, EQUIVALENCE_SET* set)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(set, "equivalence_set");
    DELAY_LIST delays;
    SLACK_RATIO_LIST slack_ratios;
    PORT_TO_OTERM_MAP oterms;
    PORT_TO_FLAGS_MAP flags;
    collect_input_timing(node, set, &delays, &slack_ratios, &oterms, &flags);
    // Stable: equal keys keep the order of their input indices.
    std::stable_sort(delays.begin(), delays.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    std::stable_sort(slack_ratios.begin(), slack_ratios.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    const size_t size = delays.size();
    MORV_ASSERT_TEXT(slack_ratios.size() == size, "input_slack_ratio_list.size() == size");
    if (size < 2) return false;
    bool changed = false;
    for (size_t p = 0; p < size; ++p) {
        const int target = delays[p].first;
        const int src_port = slack_ratios[p].first;
        if (target == src_port) continue;
        MORV_DEBUG_STREAM::print(100, "      Remapping oterm (%d)  to -> (%d) ( SR [%f] -> DELAY [%d] )",
                                 src_port - DB_DATA_A, target - DB_DATA_A, slack_ratios[p].second, delays[p].second);
        move_signal(node, src_port, target, oterms, flags);
        changed = true;
    }
    return changed;
}

void MORV_LIR::move_signal(CDB_ATOM_NODE* node, int src_port, int target_port, const PORT_TO_OTERM_MAP& oterms,
                           const PORT_TO_FLAGS_MAP& flags)
{
    CDB_ATOM_ITERM* target = node->get_input_term_by_type(target_port, 0);
    MORV_ASSERT_TEXT(target, "iterm");
    m_net_util->disconnect_iterm(target, CDB_NET_ITERM::UNCONNECTED);
    auto oterm_it = oterms.find(src_port);
    MORV_ASSERT_TEXT(oterm_it != oterms.end(), "port_to_oterm_map.find(src_port_type) != port_to_oterm_map.end()");
    CDB_ATOM_OTERM* oterm = oterm_it->second;
    MORV_ASSERT_TEXT(oterm, "oterm");
    m_net_util->insert_fanout(oterm, target);
    m_fsyn_api->modify_node(oterm->get_my_node());
    auto flags_it = flags.find(src_port);
    MORV_ASSERT_TEXT(flags_it != flags.end(), "port_to_flags_map.find(src_port_type) != port_to_flags_map.end()");
    m_net_util->restore_iterm_properties(flags_it->second, target);
}

void MORV_LIR::clear_equivalence_sets(EQUIVALENCE_SET_LIST* list)
{
    MORV_ASSERT_TEXT(list, "equivalence_set_list");
    while (!list->empty()) {
        MORV_ASSERT_TEXT(list->front(), "equivalence_set");
        list->pop_front();
    }
}
