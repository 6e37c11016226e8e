// The two searches of the rewiring algorithm and the score they maximise.
// Both work on one truth table per candidate connection and undo every
// exchange instead of copying the table.

#include <cmath>
#include <optional>

#include "cdb/cdb_atom_node.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_rwr.h"
#include "morv/resyn/morv_rwr_truth_table.h"

namespace {

constexpr int MAX_PORTS = 6;

bool is_valid_slack(int slack)
{
    return slack > -MORV_RWR::s_VALID_SLACK && slack < MORV_RWR::s_VALID_SLACK;
}

int port_index(int port)
{
    return port - DB_DATA_A;
}

bool contains(const int* ports, int count, int port)
{
    for (int i = 0; i < count; ++i)
        if (ports[i] == port) return true;
    return false;
}

}  // namespace

// What one candidate node_b carries through its search.
struct MORV_RWR::SEARCH
{
    MORV_RWR_SWAP* best = nullptr;
    MORV_RWR_SWAP curr;
    CDB_ATOM_NODE* node_b = nullptr;
    int ports_a[MAX_PORTS] = {};
    int num_ports_a = 0;
    int ports_b[MAX_PORTS] = {};
    int num_ports_b = 0;
    bool used_a[MAX_PORTS] = {};
    bool used_b[MAX_PORTS] = {};
    std::optional<MORV_RWR_TRUTH_TABLE> table;
    // Distinct signals an ALE may read after an exchange; 0: no limit.
    int ale_limit = 0;
    // GREEDY: both nodes' data inputs, most critical first.
    int sorted_a[MAX_PORTS] = {};
    int sorted_b[MAX_PORTS] = {};
};

bool MORV_RWR::start_search(CDB_ATOM_NODE* node_b, MORV_RWR_SWAP* best_swap, SEARCH& search)
{
    MORV_ASSERT_TEXT(node_b && m_net_util->is_lcell(node_b) && best_swap,
                     "node_b && m_net_util->is_lcell(node_b) && best_swap");
    if (is_excluded_node(node_b)) return false;
    *best_swap = MORV_RWR_SWAP();
    search.best = best_swap;
    search.node_b = node_b;
    search.num_ports_b = get_ports_feeding_lutout(node_b, search.ports_b);
    search.ale_limit = morv_rwr_ale_signal_limit(m_fsyn_api->get_base_family_code());
    return true;
}

bool MORV_RWR::reads_carry_in_in_use(CDB_ATOM_NODE* node) const
{
    return m_net_util->reads_carry_in_at_c(node) && m_net_util->is_carry_in_connected(node);
}

void MORV_RWR::find_shared_input(SEARCH& search, int* shared_a, int* shared_b)
{
    *shared_a = MORV_RWR_TRUTH_TABLE::s_NO_SHARED;
    *shared_b = MORV_RWR_TRUTH_TABLE::s_NO_SHARED;
    CDB_ATOM_NODE* node_a = search.curr.node_a;
    for (int i = 0; i < search.num_ports_a; ++i) {
        CDB_ATOM_ITERM* term_a = node_a->get_input_term_by_type(search.ports_a[i]);
        CDB_ATOM_OTERM* source = term_a != nullptr ? term_a->get_source() : nullptr;
        if (source == nullptr || source->get_my_node() == node_a) continue;
        for (int j = 0; j < search.num_ports_b; ++j) {
            CDB_ATOM_ITERM* term_b = search.node_b->get_input_term_by_type(search.ports_b[j]);
            // Two copies carry one value only when both read it alike.
            if (term_b == nullptr || term_b->get_source() != source) continue;
            if (term_b->is_inverted() != term_a->is_inverted()) continue;
            *shared_a = port_index(search.ports_a[i]);
            *shared_b = port_index(search.ports_b[j]);
            return;
        }
    }
}

int MORV_RWR::duplication_penalty(const MORV_RWR_SWAP& swap)
{
    CDB_ATOM_NODE* node_a = swap.node_a;
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map == nullptr || !chip_map->get_node_location(static_cast<int>(node_a->get_atom_id()), &location) ||
        location.x == MORV_OPEN)
        return 0;
    if (chip_map->get_num_luts_in_lab(location) < m_dup_lab_threshold) return 0;
    if (!can_duplicate_node(node_a)) return m_dup_delay;
    // The copy costs nothing when every other load keeps enough slack.
    for (auto it = node_a->begin_oterm(); it != node_a->end_oterm(); ++it)
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) {
            if (*f == swap.iterm_ab) continue;
            if (static_cast<int64_t>(get_term_slack(*f)) - m_dup_delay < swap.slack_ab) return m_dup_delay;
        }
    return 0;
}

bool MORV_RWR::set_up_port(SEARCH& search, int port_ab, bool greedy)
{
    MORV_RWR_SWAP& curr = search.curr;
    curr = MORV_RWR_SWAP();
    curr.node_b = search.node_b;
    curr.port_ab = port_ab;
    curr.slack_ab = get_input_slack(search.node_b, port_ab);
    curr.slack_ratio_ab = get_input_slack_ratio(search.node_b, port_ab);
    if (curr.slack_ratio_ab >= m_slack_ratio_threshold) return false;
    curr.iterm_ab = search.node_b->get_input_term_by_type(port_ab);
    const bool connected = curr.iterm_ab != nullptr && curr.iterm_ab->is_connected();
    if (greedy) MORV_ASSERT_TEXT(connected, "m_net_util->is_connected (curr_swap.iterm_ab)");
    if (!connected) return false;
    CDB_ATOM_OTERM* source = curr.iterm_ab->get_source();
    if (source == nullptr || !is_swappable_oterm(source)) return false;
    curr.node_a = source->get_my_node();
    // A LUT reading itself has no second LUT to exchange inputs with.
    if (curr.node_a == nullptr || curr.node_a == search.node_b) return false;
    // The design builds the tables from the two masks alone; they are over
    // data terms, and a carry-in read at C is none of them, so such a pair
    // is refused.
    if (reads_carry_in_in_use(curr.node_a) || reads_carry_in_in_use(search.node_b)) return false;

    needs_duplication(&curr);
    curr.min_gain = curr.dup ? duplication_penalty(curr) : 0;
    if (curr.slack_ratio_ab > s_DUP_PENALTY_RATIO && curr.dup) curr.min_gain = s_DUP_PENALTY_SLACK;
    search.num_ports_a = get_ports_feeding_lutout(curr.node_a, search.ports_a);
    for (int i = 0; i < MAX_PORTS; ++i) search.used_a[i] = search.used_b[i] = false;
    int shared_a = 0;
    int shared_b = 0;
    find_shared_input(search, &shared_a, &shared_b);
    search.table.emplace(m_net_util->get_data_lutmask(curr.node_a), m_net_util->get_data_lutmask(search.node_b),
                         port_index(port_ab), shared_a, shared_b, m_lut_size, m_mask_bits,
                         MORV_RWR_TRUTH_TABLE::has_reversed_bits(m_fsyn_api), curr.iterm_ab->is_inverted());
    curr.delay_ab = estimate_routing_delay(curr.iterm_ab, search.node_b) + m_level_delay;
    return true;
}

bool MORV_RWR::try_pair(SEARCH& search, int port_a, int port_b)
{
    MORV_RWR_SWAP& curr = search.curr;
    MORV_ASSERT(curr.num_swaps < MORV_RWR_SWAP::s_MAX_PAIRS);
    search.table->swap_ports(port_index(port_a), port_index(port_b));
    curr.port_a[curr.num_swaps] = port_a;
    curr.port_b[curr.num_swaps] = port_b;
    ++curr.num_swaps;
    search.used_a[port_index(port_a)] = true;
    search.used_b[port_index(port_b)] = true;
    if (!search.table->decompose(curr.new_mask_a, curr.new_mask_b)) return false;
    score_swap(curr);
    if (curr.score <= search.best->score) return false;
    *search.best = curr;
    return true;
}

void MORV_RWR::undo_pair(SEARCH& search)
{
    MORV_RWR_SWAP& curr = search.curr;
    --curr.num_swaps;
    const int port_a = curr.port_a[curr.num_swaps];
    const int port_b = curr.port_b[curr.num_swaps];
    search.used_a[port_index(port_a)] = false;
    search.used_b[port_index(port_b)] = false;
    search.table->swap_ports(port_index(port_a), port_index(port_b));
}

// ---------------------------------------------------------------- score

bool MORV_RWR::sources_equal(const MORV_RWR_SWAP& curr, int k)
{
    CDB_ATOM_ITERM* term_a = curr.node_a->get_input_term_by_type(curr.port_a[k]);
    CDB_ATOM_ITERM* term_b = curr.node_b->get_input_term_by_type(curr.port_b[k]);
    CDB_ATOM_OTERM* source_a = term_a != nullptr ? term_a->get_source() : nullptr;
    CDB_ATOM_OTERM* source_b = term_b != nullptr ? term_b->get_source() : nullptr;
    return source_a == source_b;
}

void MORV_RWR::walk_score_ports(const MORV_RWR_SWAP& curr, CDB_ATOM_NODE* node, bool is_a, int& before, int& after,
                                double& sum, double& min_sr)
{
    for (int p = DB_DATA_A; p < DB_DATA_A + get_max_lut_size(); ++p) {
        if (!is_a && p == curr.port_ab) continue;
        const int s = get_input_slack(node, p);
        const double sr = get_input_slack_ratio(node, p);
        const int* moved = is_a ? curr.port_a : curr.port_b;
        bool moves = false;
        for (int k = 0; k < curr.num_swaps; ++k) moves = moves || moved[k] == p;
        CDB_ATOM_ITERM* term = node->get_input_term_by_type(p);
        int d = 0;
        if (is_a) {
            d = moves ? curr.delay_ab - estimate_routing_delay(term, curr.node_b) +
                            estimate_routing_delay(term, curr.node_a)
                      : -curr.min_gain;
        } else if (moves) {
            d = estimate_routing_delay(term, curr.node_b) - curr.min_gain - curr.delay_ab -
                estimate_routing_delay(term, curr.node_a);
        }
        if (is_valid_slack(s)) {
            before = std::min(before, s);
            after = std::min(after, s + d);
            sum += std::pow(1.0 - sr, m_cf) * d;
        }
        min_sr = std::min(min_sr, sr);
    }
}

void MORV_RWR::score_swap(MORV_RWR_SWAP& curr)
{
    for (int k = 0; k < curr.num_swaps; ++k) {
        if (sources_equal(curr, k)) {
            curr.score = s_REJECTED_SCORE;
            return;
        }
    }
    int before = s_VALID_SLACK;
    int after = s_VALID_SLACK;
    double sum = 0.0;
    double min_sr = 1.0;
    walk_score_ports(curr, curr.node_a, true, before, after, sum, min_sr);
    walk_score_ports(curr, curr.node_b, false, before, after, sum, min_sr);
    if (after <= before) {
        curr.score = s_REJECTED_SCORE;
        return;
    }
    curr.improvement = after - before;
    curr.score = m_of * std::pow(1.0 - min_sr, m_cf) * curr.improvement + (1.0 - m_of) * sum;
}

// ---------------------------------------------------------------- GREEDY

void MORV_RWR::greedy_step(SEARCH& search, int count_a, int count_b)
{
    const int* sorted_a = search.sorted_a;
    const int* sorted_b = search.sorted_b;
    const int n = m_net_util->get_max_lut_inputs();
    CDB_ATOM_NODE* node_a = search.curr.node_a;
    for (int ia = 0; ia < n; ++ia) {
        const int port_a = sorted_a[ia];
        if (!contains(search.ports_a, search.num_ports_a, port_a) || search.used_a[port_index(port_a)] ||
            is_excluded_port_a(node_a, port_a))
            continue;
        for (int ib = n - 1; ib >= 0; --ib) {
            const int port_b = sorted_b[ib];
            if (!contains(search.ports_b, search.num_ports_b, port_b) || search.used_b[port_index(port_b)] ||
                port_b == search.curr.port_ab || is_excluded_port_b(search.node_b, port_b))
                continue;
            int next_a = count_a;
            int next_b = count_b;
            if (search.ale_limit > 0) {
                const bool a_connected = m_net_util->is_connected(node_a, port_a);
                const bool b_connected = m_net_util->is_connected(search.node_b, port_b);
                next_a += !a_connected && b_connected ? 1 : 0;
                next_b += !b_connected && a_connected ? 1 : 0;
                if (next_a > search.ale_limit || next_b > search.ale_limit) continue;
            }
            const bool found = try_pair(search, port_a, port_b);
            if (found) greedy_step(search, next_a, next_b);
            undo_pair(search);
            if (found) return;
        }
    }
}

bool MORV_RWR::greedy_search(CDB_ATOM_NODE* node_b, MORV_RWR_SWAP* best_swap)
{
    SEARCH search;
    if (!start_search(node_b, best_swap, search)) return false;
    const int port_ab = m_net_util->get_most_critical_lut_input(node_b);
    if (port_ab == DB_MAX_INPUT_PORT_TYPE || !contains(search.ports_b, search.num_ports_b, port_ab)) return false;
    if (!set_up_port(search, port_ab, true)) return false;
    m_net_util->sort_lut_inputs_by_slack_ratio(search.curr.node_a, search.sorted_a);
    m_net_util->sort_lut_inputs_by_slack_ratio(node_b, search.sorted_b);
    greedy_step(search, get_ale_input_count(search.curr.node_a), get_ale_input_count(node_b));
    return best_swap->node_a != nullptr;
}

// ---------------------------------------------------------------- RECURSIVE

bool MORV_RWR::skips_unconnected_chain_input(SEARCH& search, int port_a, int port_b)
{
    if (!morv_rwr_keeps_chain_inputs(m_fsyn_api->get_family_code())) return false;
    CDB_ATOM_NODE* node_a = search.curr.node_a;
    if (m_net_util->is_lcell_part_of_a_carry_chain(search.node_b) && !m_net_util->is_connected(search.node_b, port_b))
        return true;
    return m_net_util->is_lcell_part_of_a_carry_chain(node_a) && !m_net_util->is_connected(node_a, port_a);
}

void MORV_RWR::exhaustive_step(SEARCH& search)
{
    for (int ib = 0; ib < search.num_ports_b; ++ib) {
        const int port_b = search.ports_b[ib];
        if (search.used_b[port_index(port_b)] || port_b == search.curr.port_ab ||
            is_excluded_port_b(search.node_b, port_b))
            continue;
        for (int ia = 0; ia < search.num_ports_a; ++ia) {
            const int port_a = search.ports_a[ia];
            if (search.used_a[port_index(port_a)] || is_excluded_port_a(search.curr.node_a, port_a)) continue;
            if (skips_unconnected_chain_input(search, port_a, port_b)) continue;
            try_pair(search, port_a, port_b);
            exhaustive_step(search);
            undo_pair(search);
        }
    }
}

bool MORV_RWR::recursive_search(CDB_ATOM_NODE* node_b, MORV_RWR_SWAP* best_swap)
{
    SEARCH search;
    if (!start_search(node_b, best_swap, search)) return false;
    int ports_b[MAX_PORTS];
    const int num_ports_b = search.num_ports_b;
    for (int i = 0; i < num_ports_b; ++i) ports_b[i] = search.ports_b[i];
    for (int i = 0; i < num_ports_b; ++i) {
        if (!set_up_port(search, ports_b[i], false)) continue;
        exhaustive_step(search);
    }
    return best_swap->node_a != nullptr;
}
