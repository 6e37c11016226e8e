#include "morv/netlist/morv_cluster.h"

#include <algorithm>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// The terms every walk of the cluster follows. Data oterms: a register's
// register output; a combinational cell's carry, sum, comb and share outputs.
// Data iterms: every input of a combinational cell, every input of a
// register except its control ports. Oterms without fanout and iterms
// without a source are skipped.
bool is_data_oterm(const CDB_ATOM_NODE* node, const CDB_ATOM_OTERM* oterm)
{
    const int usage = oterm->get_usage();
    if (node->is_register()) return usage == DB_REG_OUT;
    if (node->is_lcell_comb())
        return usage == DB_CARRY_OUT || usage == DB_SUM_OUT || usage == DB_COMB_OUT || usage == DB_SHARE_OUT;
    return false;
}

template <typename F>
void for_each_data_oterm(const CDB_ATOM_NODE* node, F&& visit)
{
    MORV_ASSERT_TEXT(node, "m_node");
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if ((*it)->has_fanout() && is_data_oterm(node, *it)) visit(*it);
}

// The oterms that carry a node's membership: its data oterms with fanout or,
// when none has fanout, its first data oterm. Without the fallback a node
// whose outputs feed nothing would leave no trace of its membership: every
// add would count its inputs again and a remove would undo nothing.
template <typename F>
void for_each_member_oterm(const CDB_ATOM_NODE* node, F&& visit)
{
    MORV_ASSERT_TEXT(node, "m_node");
    CDB_ATOM_OTERM* first = nullptr;
    bool any_with_fanout = false;
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        if (!is_data_oterm(node, *it)) continue;
        if (!first) first = *it;
        if (!(*it)->has_fanout()) continue;
        any_with_fanout = true;
        visit(*it);
    }
    if (!any_with_fanout && first) visit(first);
}

// Visits the source of every data iterm.
template <typename F>
void for_each_data_source(const CDB_ATOM_NODE* node, F&& visit)
{
    MORV_ASSERT_TEXT(node, "m_node");
    if (!node->is_register() && !node->is_lcell_comb()) return;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_OTERM* source = (*it)->get_source();
        if (source && !MORV_CLUSTER::is_register_control_port(node, (*it)->get_any_usage_as())) visit(source);
    }
}

int atom_id(const CDB_ATOM_OTERM* oterm)
{
    return static_cast<int>(oterm->get_my_node()->get_id());
}

}  // namespace

// ---------------------------------------------------------------- node info

bool MORV_CLUSTER_NODE_INFO::is_state(bool boundary_mode) const
{
    if (!m_is_included) return false;
    if (m_highest_fanout_output_distance > m_min_output_distance &&
        (m_max_input_distance >= s_MORV_CLUSTER_MAX_DISTANCE || m_max_input_distance == -1))
        return true;
    if (boundary_mode) return m_is_ff && m_max_output_distance >= 1;
    if (m_is_ff && m_min_output_distance == 0 && m_min_input_distance == 0 && m_max_output_distance > 0) return true;
    if (m_feeding_ff_count <= 0) return false;
    if (m_is_ff) return true;
    return m_max_input_distance > 0 || m_max_input_distance == -1;
}

void MORV_CLUSTER_NODE_INFO::print() const
{
    MORV_DEBUG_STREAM::print(100, "  %4d is_included", m_is_included);
    MORV_DEBUG_STREAM::print(100, "  %4d feeding_ff_count", m_feeding_ff_count);
    MORV_DEBUG_STREAM::print(100, "  %4d is_ff", m_is_ff);
    MORV_DEBUG_STREAM::print(100, "  %4d is_output(0), %4d is_output(1), %4d is_input(0), %4d is_input(1)",
                             is_output(false), is_output(true), is_input(false), is_input(true));
    MORV_DEBUG_STREAM::print(100, "  %4d buried_fanout_count", m_buried_fanout_count);
    MORV_DEBUG_STREAM::print(100, "  %4d total_fanout_count", m_total_fanout_count);
    MORV_DEBUG_STREAM::print(100, "  %4d buried_fanin_count", m_buried_fanin_count);
    MORV_DEBUG_STREAM::print(100, "  %4d total_fanin_count", m_total_fanin_count);
    MORV_DEBUG_STREAM::print(100, "  %4d min_output_distance", m_min_output_distance);
    MORV_DEBUG_STREAM::print(100, "  %4d min_input_distance", m_min_input_distance);
    MORV_DEBUG_STREAM::print(100, "  %4d max_output_distance", m_max_output_distance);
    MORV_DEBUG_STREAM::print(100, "  %4d max_input_distance", m_max_input_distance);
    MORV_DEBUG_STREAM::print(100, "  %4d lowest_fanin_output_distance", m_lowest_fanin_output_distance);
    MORV_DEBUG_STREAM::print(100, "  %4d highest_fanout_output_distance", m_highest_fanout_output_distance);
}

// ---------------------------------------------------------------- iterators

MORV_CLUSTER::NODE_ITERATOR::NODE_ITERATOR(const MORV_CLUSTER* cluster, MORV_OTERM_SET::const_iterator at, int type)
    : m_cluster(cluster), m_at(at), m_type(type)
{
    skip_filtered();
}

MORV_CLUSTER::NODE_ITERATOR& MORV_CLUSTER::NODE_ITERATOR::operator++()
{
    ++m_at;
    skip_filtered();
    return *this;
}

void MORV_CLUSTER::NODE_ITERATOR::skip_filtered()
{
    while (m_at != m_cluster->m_known_oterms.end() && !m_cluster->passes(m_type, *m_at)) ++m_at;
}

bool MORV_CLUSTER::passes(int type, CDB_ATOM_OTERM* oterm) const
{
    const MORV_CLUSTER_NODE_INFO& info = get_node_info(oterm);
    switch (type) {
    case INCLUDED: return info.is_included();
    case OUTPUTS: return info.is_output(m_boundary_mode);
    case INPUTS: return info.is_input(m_boundary_mode);
    default: MSG_INTERNAL_ERROR::report("illegal iterator type", "MORV", __FILE__, __LINE__);
    }
}

MORV_CLUSTER::NODE_ITERATOR MORV_CLUSTER::begin(int type) const
{
    MORV_ASSERT(!m_dirty);
    return NODE_ITERATOR(this, m_known_oterms.begin(), type);
}

MORV_CLUSTER::NODE_ITERATOR MORV_CLUSTER::end(int type) const
{
    MORV_ASSERT(!m_dirty);
    return NODE_ITERATOR(this, m_known_oterms.end(), type);
}

// ---------------------------------------------------------------- records

MORV_CLUSTER::MORV_CLUSTER(MORV_CLUSTER_MANAGER* manager) : m_cluster_manager(manager), m_node_info(720) {}

const MORV_CLUSTER_NODE_INFO& MORV_CLUSTER::get_node_info(CDB_ATOM_OTERM* oterm) const
{
    auto found = m_node_info.find(oterm);
    MORV_ASSERT_TEXT(found != m_node_info.end(), "m_node_info.exists(oterm)");
    return found->second;
}

MORV_CLUSTER_NODE_INFO& MORV_CLUSTER::edit_node_info(CDB_ATOM_OTERM* oterm)
{
    m_dirty = true;
    return record_of(oterm);
}

MORV_CLUSTER_NODE_INFO& MORV_CLUSTER::record_of(CDB_ATOM_OTERM* oterm)
{
    auto found = m_node_info.find(oterm);
    MORV_ASSERT_TEXT(found != m_node_info.end(), "m_node_info.exists(oterm)");
    return found->second;
}

MORV_CLUSTER_NODE_INFO& MORV_CLUSTER::find_or_create(CDB_ATOM_OTERM* oterm)
{
    auto found = m_node_info.find(oterm);
    if (found != m_node_info.end()) return found->second;
    m_known_oterms.insert(oterm);
    MORV_CLUSTER_NODE_INFO& info = m_node_info[oterm];
    info = MORV_CLUSTER_NODE_INFO(oterm->get_number_of_fanout());
    return info;
}

void MORV_CLUSTER::erase_record(CDB_ATOM_OTERM* oterm)
{
    m_node_info.erase(m_node_info.find(oterm));
    m_known_oterms.erase(oterm);
}

bool MORV_CLUSTER::is_register_control_port(const CDB_ATOM_NODE* node, int port_type)
{
    return node->is_register() && (port_type == DB_ASYNCH_LOAD || port_type == DB_CLEAR || port_type == DB_CLOCK ||
                                   port_type == DB_CLOCK_ENABLE);
}

// ---------------------------------------------------------------- membership

void MORV_CLUSTER::add_node(CDB_ATOM_NODE* node)
{
    m_dirty = true;
    MORV_ASSERT(node);
    const int id = static_cast<int>(node->get_id());
    MORV_DEBUG_STREAM::print(100, "Adding node %d", id);
    const bool reg = node->is_register();
    bool was_included = false;
    bool first = true;
    bool recorded = false;
    for_each_member_oterm(node, [&](CDB_ATOM_OTERM* oterm) {
        recorded = true;
        MORV_CLUSTER_NODE_INFO& info = find_or_create(oterm);
        was_included = was_included || info.m_is_included;
        info.m_is_included = true;
        info.m_is_ff = reg;
        info.m_is_added = first;
        first = false;
        MORV_DEBUG_STREAM::print(100, "Adding oterm of %d (%s)", id, cdb_output_port_name(oterm->get_usage()));
    });
    if (was_included) return;  // already a member: its inputs are counted
    // A node without data outputs cannot be recorded as a member, so its
    // inputs are not counted either (a remove could not undo them).
    if (!recorded) return;

    for_each_data_source(node, [&](CDB_ATOM_OTERM* source) {
        MORV_CLUSTER_NODE_INFO& info = find_or_create(source);
        ++info.m_buried_fanout_count;
        if (reg) ++info.m_feeding_ff_count;
        info.m_is_ff = source->get_my_node()->is_register();
    });
}

void MORV_CLUSTER::remove_node(CDB_ATOM_NODE* node)
{
    m_dirty = true;
    MORV_ASSERT(node);
    MORV_DEBUG_STREAM::print(100, "Removing node %d", static_cast<int>(node->get_id()));
    const bool reg = node->is_register();
    bool had_record = false;
    for_each_member_oterm(node, [&](CDB_ATOM_OTERM* oterm) {
        if (!has_node_info(oterm)) return;
        had_record = true;
        MORV_CLUSTER_NODE_INFO& node_info = record_of(oterm);
        MORV_ASSERT(node_info.is_included());
        node_info.m_is_included = false;
        node_info.m_is_added = false;
        if (node_info.m_buried_fanout_count == 0) erase_record(oterm);
    });
    if (!had_record) return;

    for_each_data_source(node, [&](CDB_ATOM_OTERM* source_oterm) {
        MORV_ASSERT(has_node_info(source_oterm));
        MORV_CLUSTER_NODE_INFO& source_node_info = record_of(source_oterm);
        --source_node_info.m_buried_fanout_count;
        MORV_ASSERT(source_node_info.get_buried_fanout_count() >= 0);
        if (reg) --source_node_info.m_feeding_ff_count;
        if (source_node_info.m_buried_fanout_count == 0 && !source_node_info.m_is_included) erase_record(source_oterm);
    });
}

MORV_OTERM_SET MORV_CLUSTER::get_added_oterms() const
{
    MORV_OTERM_SET added;
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        const MORV_CLUSTER_NODE_INFO& info = get_node_info(oterm);
        if (info.m_is_included && info.m_is_added) added.insert(added.end(), oterm);
    }
    return added;
}

void MORV_CLUSTER::pop_to_stack(const MORV_OTERM_SET& target)
{
    const MORV_OTERM_SET current = get_added_oterms();
    std::vector<CDB_ATOM_OTERM*> removals, additions;
    for (CDB_ATOM_OTERM* oterm : current)
        if (!target.count(oterm)) removals.push_back(oterm);
    for (CDB_ATOM_OTERM* oterm : target)
        if (!current.count(oterm)) additions.push_back(oterm);
    for (CDB_ATOM_OTERM* oterm : removals) remove_node(oterm->get_my_node());
    for (CDB_ATOM_OTERM* oterm : additions) add_node(oterm->get_my_node());
    MORV_DEBUG_STREAM::print(100, "Pop-to-stack: %d nodes removed, %d nodes added", static_cast<int>(removals.size()),
                             static_cast<int>(additions.size()));
    update_distances();
}

void MORV_CLUSTER::reset_topology()
{
    m_dirty = true;
    MORV_DEBUG_STREAM::print(100, "Resetting cluster topology!");
    const MORV_OTERM_SET members = get_added_oterms();
    m_node_info.clear();
    m_known_oterms.clear();
    for (CDB_ATOM_OTERM* oterm : members) add_node(oterm->get_my_node());
    update_distances();
    MORV_DEBUG_STREAM::print(100, "Cluster topology reset complete.");
}

// ---------------------------------------------------------------- distances

void MORV_CLUSTER::update_distances()
{
    if (!m_dirty) return;
    compute_fanin_distances();
    compute_fanout_distances(false);
    m_dirty = false;
}

void MORV_CLUSTER::compute_fanin_distances()
{
    std::vector<CDB_ATOM_OTERM*> current, next;
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        info.m_min_output_distance = info.m_max_output_distance = info.m_highest_fanout_output_distance = -1;
        // Set again below for members only: a record that left the cluster
        // must not keep the value of its member days.
        info.m_lowest_fanin_output_distance = -1;
        if (info.is_legal_output()) current.push_back(oterm);
    }
    for (int d = 0; !current.empty(); ++d) {
        visit_output_level(current, next, d);
        current.swap(next);
        next.clear();
    }
    set_fanin_output_distances();
}

// Oterms reached through a combinational node stay on the level; through a
// register they go one level further back.
void MORV_CLUSTER::visit_output_level(std::vector<CDB_ATOM_OTERM*>& current, std::vector<CDB_ATOM_OTERM*>& next, int d)
{
    for (size_t i = 0; i < current.size(); ++i) {
        CDB_ATOM_OTERM* oterm = current[i];
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        if (info.m_max_output_distance >= d) continue;  // nothing new: not expanded
        info.m_max_output_distance = d;
        if (info.m_min_output_distance == -1) info.m_min_output_distance = d;
        if (d >= s_MORV_CLUSTER_MAX_DISTANCE || !info.m_is_included) continue;
        std::vector<CDB_ATOM_OTERM*>& level = info.m_is_ff ? next : current;
        for_each_data_source(oterm->get_my_node(), [&](CDB_ATOM_OTERM* source) { level.push_back(source); });
    }
}

void MORV_CLUSTER::set_fanin_output_distances()
{
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        if (!info.m_is_included) continue;
        int lowest = -1;
        // A member without fanout feeds nothing: walks skip it.
        if (!oterm->has_fanout()) {
            info.m_lowest_fanin_output_distance = lowest;
            continue;
        }
        bool any = false;
        const int through = info.m_min_output_distance + (info.m_is_ff ? 1 : 0);
        for_each_data_source(oterm->get_my_node(), [&](CDB_ATOM_OTERM* source) {
            MORV_CLUSTER_NODE_INFO& source_info = record_of(source);
            lowest = any ? std::min(lowest, source_info.m_min_output_distance) : source_info.m_min_output_distance;
            any = true;
            source_info.m_highest_fanout_output_distance =
                std::max(source_info.m_highest_fanout_output_distance, through);
        });
        info.m_lowest_fanin_output_distance = lowest;
    }
}

void MORV_CLUSTER::compute_fanout_distances(bool step)
{
    std::vector<CDB_ATOM_OTERM*> current, next;
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        info.m_min_input_distance = info.m_max_input_distance = -1;
        if (info.is_legal_input()) current.push_back(oterm);
    }
    for (int d = 0; !current.empty(); ++d) {
        visit_input_level(current, next, d, step);
        current.swap(next);
        next.clear();
    }
}

// The included data oterms fed by an oterm stay on its level, unless the
// oterm is an included register (or step is set): then they go one further.
void MORV_CLUSTER::visit_input_level(std::vector<CDB_ATOM_OTERM*>& current, std::vector<CDB_ATOM_OTERM*>& next, int d,
                                     bool step)
{
    for (size_t i = 0; i < current.size(); ++i) {
        CDB_ATOM_OTERM* oterm = current[i];
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        if (info.m_max_input_distance >= s_MORV_CLUSTER_MAX_DISTANCE || info.m_max_input_distance >= d) continue;
        info.m_max_input_distance = d;
        if (info.m_min_input_distance == -1) info.m_min_input_distance = d;
        if (info.m_buried_fanout_count <= 0) continue;
        std::vector<CDB_ATOM_OTERM*>& level = info.m_is_included && (info.m_is_ff || step) ? next : current;
        for (auto fanout = oterm->begin_iterm_fanout(); fanout != oterm->end_iterm_fanout(); ++fanout)
            for_each_data_oterm((*fanout)->get_my_node(), [&](CDB_ATOM_OTERM* sink_oterm) {
                auto found = m_node_info.find(sink_oterm);
                if (found != m_node_info.end() && found->second.m_is_included) level.push_back(sink_oterm);
            });
    }
}

// ---------------------------------------------------------------- queries

bool MORV_CLUSTER::is_input_fed_output_register(CDB_ATOM_OTERM* oterm) const
{
    MORV_ASSERT(has_node_info(oterm));
    const MORV_CLUSTER_NODE_INFO& info = get_node_info(oterm);
    if (!info.m_is_ff || !info.is_legal_output()) return false;
    bool fed_from_outside = true;
    for_each_data_source(oterm->get_my_node(), [&](CDB_ATOM_OTERM* source) {
        MORV_ASSERT(has_node_info(source));
        const MORV_CLUSTER_NODE_INFO& source_info = get_node_info(source);
        if (source_info.m_is_included || source_info.m_buried_fanout_count < 1) fed_from_outside = false;
    });
    return fed_from_outside;
}

bool MORV_CLUSTER::check_input_distances() const
{
    MORV_ASSERT(!m_dirty);
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_ASSERT(oterm);
        const MORV_CLUSTER_NODE_INFO& info = get_node_info(oterm);
        if (!info.m_is_included) continue;
        if (info.m_feeding_ff_count >= 1 && (info.m_is_ff || info.m_max_input_distance >= 1) &&
            info.m_min_input_distance == 0)
            return false;
    }
    return true;
}

void MORV_CLUSTER::print() const
{
    MORV_DEBUG_STREAM::print(100, "Printing Cluster");
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        CDB_ATOM_NODE* node = oterm->get_my_node();
        MORV_DEBUG_STREAM::print(100, "Node ID %d (%s) %s", atom_id(oterm), cdb_output_port_name(oterm->get_usage()),
                                 MORV_NET_UTIL::get_hpath_name(node).c_str());
        get_node_info(oterm).print();
    }
    MORV_DEBUG_STREAM::print(100, "%d node(s) printed.", static_cast<int>(m_known_oterms.size()));
}
