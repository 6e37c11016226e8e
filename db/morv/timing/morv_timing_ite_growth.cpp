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
    const int bit = forward ? DKT_DST : DKT_SRC;
    begin_node_walk();
    std::vector<const TDB_NODE*> stack{start};
    visit_node(start);
    while (!stack.empty()) {
        const TDB_NODE* node = stack.back();
        stack.pop_back();
        for (const TDB_EDGE* e : forward ? node->fanout() : node->fanin()) {
            const TDB_NODE* next = forward ? e->get_dst_node() : e->get_src_node();
            if (next->is_keeper()) {
                for (int d : domains)
                    if (m_domain_info[static_cast<size_t>(d)].has_keeper_role(next->get_id(), bit)) return true;
                continue;
            }
            if (visit_node(next)) stack.push_back(next);
        }
    }
    return false;
}
