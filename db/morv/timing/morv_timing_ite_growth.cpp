// Whether a new edge opens paths of a domain through edges that do not hold
// it. The domain records only ever lose domains after an edit: a new edge
// gets the domains its source brings and its destination passes on, and the
// edges around it keep theirs. When the source brings a domain that the
// destination's cone reaches a destination keeper of (or the other way
// round), the edges of that cone belong to the domain now, and only a full
// analysis can give them their slacks. A keeper at the new edge's end that
// is not yet a source (destination) of a domain the other end passes on
// (brings), and whose kind can start (end) that domain's paths, starts
// (ends) new paths of it: the same holds.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

namespace {
// Registers start clock and clock-to-output paths, input pins setup and
// pin-to-pin paths; other keepers are taken as able to start any.
bool can_start_paths_of(const TDB_NODE* keeper, int type)
{
    if (keeper->is_input_pin()) return type == ITE_DOMAIN_TSU || type == ITE_DOMAIN_TPD;
    if (keeper->is_reg()) return type == ITE_DOMAIN_CLOCK || type == ITE_DOMAIN_TCO;
    return true;
}

bool can_end_paths_of(const TDB_NODE* keeper, int type)
{
    if (keeper->is_output_pin()) return type == ITE_DOMAIN_TCO || type == ITE_DOMAIN_TPD;
    if (keeper->is_reg()) return type == ITE_DOMAIN_CLOCK || type == ITE_DOMAIN_TSU;
    return true;
}
}  // namespace

void MORV_TIMING_ITE::check_domain_growth(const TDB_EDGE* edge, const MORV_BIT_VECTOR& in, const MORV_BIT_VECTOR& out)
{
    const TDB_NODE* src = edge->get_src_node();
    const TDB_NODE* dst = edge->get_dst_node();
    std::vector<int> forward, backward;
    bool keeper_gains_role = false;
    for (int d = 0; d < m_num_domains; ++d) {
        const bool i = in.test(static_cast<uint64_t>(d)), o = out.test(static_cast<uint64_t>(d));
        const int type = m_domain_info[static_cast<size_t>(d)].m_type;
        if (i && !o) {
            if (!dst->is_keeper()) forward.push_back(d);
            else if (can_end_paths_of(dst, type)) keeper_gains_role = true;
        }
        if (o && !i) {
            if (!src->is_keeper()) backward.push_back(d);
            else if (can_start_paths_of(src, type)) keeper_gains_role = true;
        }
    }
    if (keeper_gains_role || (!forward.empty() && reaches_keeper_in(dst, forward, true)) ||
        (!backward.empty() && reaches_keeper_in(src, backward, false))) {
        m_domains_grow = true;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    new edge %d extends a domain over existing edges", edge->get_id());
    }
}

// Forward: a destination keeper of one of the domains in the cone of start;
// backward: a source keeper. The walk stops at keepers.
bool MORV_TIMING_ITE::reaches_keeper_in(const TDB_NODE* start, const std::vector<int>& domains, bool forward)
{
    const uint64_t* reached = &m_cone_rows[cone_keeper_domains(start, forward)];
    for (int d : domains)
        if (reached[static_cast<size_t>(d) / 64] & domain_bit(d)) return true;
    return false;
}

void MORV_TIMING_ITE::begin_cone_memo()
{
    m_cone_words = static_cast<size_t>(m_num_domains + 63) / 64;
    const size_t span = static_cast<size_t>(std::max(0, m_num_node_ids - m_node_id_base));
    for (int direction = 0; direction < 2; ++direction) {
        for (size_t pos : m_cone_touched[direction]) m_cone_row[direction][pos] = 0;
        m_cone_touched[direction].clear();
        if (m_cone_row[direction].size() < span) m_cone_row[direction].resize(span, 0);
    }
    m_cone_rows.clear();
    if (m_cone_order.size() < span) m_cone_order.resize(span, 0);
}

size_t MORV_TIMING_ITE::new_cone_row()
{
    const size_t row = m_cone_rows.size();
    m_cone_rows.resize(row + std::max<size_t>(m_cone_words, 1), 0);
    return row;
}

void MORV_TIMING_ITE::set_cone_row(const TDB_NODE* node, int direction, size_t row)
{
    const size_t pos = static_cast<size_t>(node->get_id() - m_node_id_base);
    uint32_t& slot = m_cone_row[direction][pos];
    if (slot == 0) m_cone_touched[direction].push_back(pos);
    slot = static_cast<uint32_t>(row / std::max<size_t>(m_cone_words, 1) + 1);
}

size_t MORV_TIMING_ITE::cone_row_of(const TDB_NODE* node, int direction) const
{
    const uint32_t slot = m_cone_row[direction][static_cast<size_t>(node->get_id() - m_node_id_base)];
    return slot == 0 ? SIZE_MAX : (slot - 1) * std::max<size_t>(m_cone_words, 1);
}

// The roles a keeper ends (forward) or starts (backward) paths with.
size_t MORV_TIMING_ITE::keeper_cone_row(const TDB_NODE* keeper, int direction)
{
    size_t row = cone_row_of(keeper, direction);
    if (row != SIZE_MAX) return row;
    row = new_cone_row();
    const int bit = direction == 1 ? DKT_DST : DKT_SRC;
    for (int d = 0; d < m_num_domains; ++d)
        if (m_domain_info[static_cast<size_t>(d)].has_keeper_role(keeper->get_id(), bit))
            m_cone_rows[row + static_cast<size_t>(d) / 64] |= domain_bit(d);
    set_cone_row(keeper, direction, row);
    return row;
}

void MORV_TIMING_ITE::or_cone_row(size_t into, size_t from)
{
    for (size_t w = 0; w < m_cone_words; ++w) m_cone_rows[into + w] |= m_cone_rows[from + w];
}

// The domains whose destination (forward) or source (backward) keepers the
// cone of a non-keeper reaches through non-keepers, as the row of those
// domains in m_cone_rows. Every node's set is kept for the rest of the new
// edges of the estimation: the cones of a rewritten region's edges overlap,
// and walking the cone again for each edge cost its size per edge. Nodes on
// a loop share one set (strongly connected components, Tarjan's order).
size_t MORV_TIMING_ITE::cone_keeper_domains(const TDB_NODE* start, bool forward)
{
    const int direction = forward ? 1 : 0;
    MORV_ASSERT_TEXT(!start->is_keeper(), "!node->is_keeper()");
    if (const size_t known = cone_row_of(start, direction); known != SIZE_MAX) return known;
    struct FRAME
    {
        const TDB_NODE* node;
        uint32_t next;
        uint32_t low;
    };
    std::vector<FRAME> stack;
    std::vector<const TDB_NODE*> component;
    uint32_t counter = 0;
    auto order = [this](const TDB_NODE* node) -> uint32_t& {
        return m_cone_order[static_cast<size_t>(node->get_id() - m_node_id_base)];
    };
    auto enter = [&](const TDB_NODE* node) {
        order(node) = ++counter;
        set_cone_row(node, direction, new_cone_row());
        component.push_back(node);
        stack.push_back({node, 0, counter});
        ++m_cone_evaluations;
    };
    enter(start);
    while (!stack.empty()) {
        FRAME& top = stack.back();
        const TDB_NODE* node = top.node;
        const TDB_EDGE_RANGE edges = forward ? node->fanout() : node->fanin();
        if (top.next < edges.size()) {
            const TDB_EDGE* edge = edges[top.next++];
            const TDB_NODE* next = forward ? edge->get_dst_node() : edge->get_src_node();
            const size_t row = cone_row_of(node, direction);
            if (next->is_keeper()) {
                or_cone_row(row, keeper_cone_row(next, direction));
            } else if (order(next) != 0) {
                top.low = std::min(top.low, order(next));  // on the component stack: a loop
            } else if (const size_t done = cone_row_of(next, direction); done != SIZE_MAX) {
                or_cone_row(row, done);
            } else {
                enter(next);
            }
            continue;
        }
        const FRAME done = top;
        stack.pop_back();
        const size_t row = cone_row_of(done.node, direction);
        if (done.low == order(done.node)) {
            // The component is complete: its nodes share the union of its sets.
            for (size_t i = component.size(); i-- > 0;) {
                const TDB_NODE* member = component[i];
                if (member != done.node) or_cone_row(row, cone_row_of(member, direction));
                if (member == done.node) break;
            }
            while (true) {
                const TDB_NODE* member = component.back();
                component.pop_back();
                order(member) = 0;
                set_cone_row(member, direction, row);
                if (member == done.node) break;
            }
        }
        if (stack.empty()) break;
        FRAME& parent = stack.back();
        or_cone_row(cone_row_of(parent.node, direction), row);
        if (order(done.node) != 0) parent.low = std::min(parent.low, done.low);
    }
    return cone_row_of(start, direction);
}
