// The sources of a cell that a replay rebuilds, looked for around the nodes
// it replaces before anywhere else. The other family's log names each
// input's source, and a name can stand for more than one output here (an
// output an earlier rebuild renamed, a clock found under another name, an
// output the name index leaves out): the source next to the old node is the
// one the log meant.

#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv/log/morv_log_internal.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// Levels of sources the search reads; the old nodes' own inputs are the first.
constexpr int SEARCH_LEVELS = 5;

// Whether the clock buffer a text names hangs off the source. The design
// looks for the buffer among the source's fanouts; a clock's fanout can be
// most of the netlist, so here the buffer is found by its name and the
// source checked from the buffer's side.
bool is_clock_buffer_of(const CDB_ATOM_OTERM* named, const CDB_ATOM_OTERM* source)
{
    if (named == nullptr || named->get_usage() != DB_CLKBUF_OUT || !named->get_my_node()->is_clkbuf()) return false;
    const CDB_ATOM_NODE* clkbuf = named->get_my_node();
    for (auto it = clkbuf->begin_iterm(); it != clkbuf->end_iterm(); ++it)
        if ((*it)->get_source() == source) return true;
    return false;
}

}  // namespace

// Registers and I/O cells pass a signal on under another name; the search
// goes on through them and through nothing else.
bool MORV_LOG_MRL::is_entered_by_search(CDB_ATOM_NODE* node) const
{
    if (node->is_lcell_hsadder()) return false;
    return m_net_util->is_ff(node) || node->get_atom_type() == CDB_ATOM_MORLIN_IO_ENUM;
}

// Fills each open slot that the source matches: by its own name, by the name
// the replay's index or a boundary port gives it, or through a clock buffer
// of that name it drives. True once no slot is open.
bool MORV_LOG_MRL::fill_from_source(CDB_ATOM_OTERM* source, const std::vector<CDB_ATOM_OTERM*>& named,
                                    REBUILD_PLAN& plan)
{
    const std::string name = morv_log_short_name(source->get_instance_name());
    bool open = false;
    for (size_t slot = 0; slot < plan.sources.size(); ++slot) {
        if (plan.source_terms[slot] != nullptr || !names_a_source(plan.sources[slot])) continue;
        if (name == plan.sources[slot] || named[slot] == source) plan.source_terms[slot] = source;
        else if (is_clock_buffer_of(named[slot], source)) plan.source_terms[slot] = named[slot];
        else open = true;
    }
    return !open;
}

// Level by level from the old nodes, each node read once, so that the
// nearest match wins and the work stays within the five levels. The design
// searches once the old fanouts have moved to the new cell, and does not
// continue from high-speed adders; here the search runs before any edit
// (plan_rebuild says why), and an old node that is a high-speed adder is
// no start either, as the design would not continue from it: its sources
// are looked up by name, first among its own output terms.
void MORV_LOG_MRL::search_rebuild_sources(REBUILD_PLAN& plan)
{
    std::vector<CDB_ATOM_OTERM*> named(plan.sources.size(), nullptr);
    for (size_t slot = 0; slot < plan.sources.size(); ++slot)
        if (names_a_source(plan.sources[slot])) named[slot] = find_oterm_by_logged_name(plan.sources[slot]);
    std::vector<CDB_ATOM_NODE*> level;
    std::set<const CDB_ATOM_NODE*> seen;
    for (CDB_ATOM_OTERM* existing : plan.existing)
        if (existing != nullptr && !existing->get_my_node()->is_lcell_hsadder() &&
            seen.insert(existing->get_my_node()).second)
            level.push_back(existing->get_my_node());
    for (int depth = 1; depth <= SEARCH_LEVELS && !level.empty(); ++depth) {
        std::vector<CDB_ATOM_NODE*> next;
        for (CDB_ATOM_NODE* node : level)
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
                CDB_ATOM_OTERM* source = (*it)->get_source();
                if (source == nullptr || m_fsyn_api->get_assigned_boundary_port_id(*it) != -1) continue;
                if (fill_from_source(source, named, plan)) return;
                CDB_ATOM_NODE* from = source->get_my_node();
                if (is_entered_by_search(from) && seen.insert(from).second) next.push_back(from);
            }
        level.swap(next);
    }
}
