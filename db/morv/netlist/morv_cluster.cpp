#include "morv/netlist/morv_cluster.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
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

bool MORV_CLUSTER::is_data_oterm(const CDB_ATOM_NODE* node, const CDB_ATOM_OTERM* oterm)
{
    return ::is_data_oterm(node, oterm);
}

bool MORV_CLUSTER::is_state_candidate_free() const
{
    MORV_ASSERT(!m_dirty);
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        const MORV_CLUSTER_NODE_INFO& info = get_node_info(oterm);
        if (!info.m_is_included) continue;
        if (info.m_feeding_ff_count >= 1 && (info.m_is_ff || info.m_max_output_distance > 0) &&
            info.m_min_input_distance == 0)
            return false;
    }
    return true;
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

bool MORV_CLUSTER::try_remove_node(CDB_ATOM_NODE* node, const std::function<bool()>& keep)
{
    MORV_ASSERT(node);
    update_distances();
    bool member = false;
    std::vector<std::pair<CDB_ATOM_OTERM*, MORV_CLUSTER_NODE_INFO>> touched;
    auto save = [&](CDB_ATOM_OTERM* oterm) {
        auto found = m_node_info.find(oterm);
        if (found != m_node_info.end()) touched.emplace_back(oterm, found->second);
    };
    for_each_member_oterm(node, [&](CDB_ATOM_OTERM* oterm) {
        member = member || (has_node_info(oterm) && get_node_info(oterm).m_is_included);
        save(oterm);
    });
    if (!member) return false;
    for_each_data_source(node, save);
    // The registration is cheaper to copy than to work out again.
    const std::vector<uint8_t> registration = registration_flags();
    remove_node(node);
    update_registration();
    // Registration is all keep may read: the stale distances stay unseen.
    m_dirty = false;
    if (keep()) {
        m_dirty = true;
        update_distances();
        return true;
    }
    add_node(node);
    for (const auto& [oterm, info] : touched) record_of(oterm) = info;
    put_back_registration(registration);
    m_dirty = false;
    return false;
}

// Per known oterm: bit 0 feedback, bit 1 registered; last, the loop flag.
std::vector<uint8_t> MORV_CLUSTER::registration_flags() const
{
    std::vector<uint8_t> flags;
    flags.reserve(m_known_oterms.size() + 1);
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        const MORV_CLUSTER_NODE_INFO& info = get_node_info(oterm);
        flags.push_back(static_cast<uint8_t>((info.m_is_feedback ? 1 : 0) | (info.m_is_registered ? 2 : 0)));
    }
    flags.push_back(m_combinational_loop ? 1 : 0);
    return flags;
}

void MORV_CLUSTER::put_back_registration(const std::vector<uint8_t>& flags)
{
    MORV_ASSERT(flags.size() == m_known_oterms.size() + 1);
    size_t at = 0;
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        info.m_is_feedback = (flags[at] & 1) != 0;
        info.m_is_registered = (flags[at++] & 2) != 0;
    }
    m_combinational_loop = flags[at] != 0;
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
    update_registration();
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
        if (info.is_true_output()) current.push_back(oterm);
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
        if (info.is_true_input()) current.push_back(oterm);
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
    if (!info.m_is_ff || !info.is_true_output()) return false;
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
        MORV_DEBUG_STREAM::print(100, "Node ID %d (%s) %s", morv_oterm_atom_id(oterm),
                                 cdb_output_port_name(oterm->get_usage()), MORV_NET_UTIL::get_hpath_name(node).c_str());
        get_node_info(oterm).print();
    }
    MORV_DEBUG_STREAM::print(100, "%d node(s) printed.", static_cast<int>(m_known_oterms.size()));
}

// ---------------------------------------------------------------- registration

namespace {

// The smallest and largest register count over a set of paths.
struct COUNT_RANGE
{
    int lo = 1 << 30;
    int hi = -(1 << 30);
    bool any() const { return lo <= hi; }
    void add(int v)
    {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    void merge(const COUNT_RANGE& other, int shift)
    {
        if (!other.any()) return;
        add(other.lo + shift);
        add(other.hi + shift);
    }
    // No path at all is no wrong path.
    bool only(int v) const { return !any() || (lo == v && hi == v); }
};

struct MEMBER
{
    CDB_ATOM_NODE* node = nullptr;
    int reg = 0;
    bool feedback = false;
    bool true_output = false;
    std::vector<CDB_ATOM_OTERM*> oterms;
    std::vector<CDB_ATOM_OTERM*> true_inputs;  // sources outside the cluster
    std::vector<int> fanins;                   // member sources
    std::vector<int> fanouts;                  // members fed
    // Forward: registers from a true input (counting a driving register),
    // and registers from a state bit; before and after this member.
    COUNT_RANGE from_input_in, from_state_in, from_input, from_state;
    // Backward: registers after this member up to a true output, and up to
    // a state bit's data input.
    COUNT_RANGE to_output, to_state;
};

// Members that share a loop: iterative Tarjan over the member graph.
std::vector<int> strongly_connected(const std::vector<MEMBER>& members)
{
    const int n = static_cast<int>(members.size());
    std::vector<int> index(n, -1), low(n, 0), component(n, -1), stack;
    std::vector<bool> on_stack(n, false);
    std::vector<std::pair<int, size_t>> frames;
    int next_index = 0, next_component = 0;
    for (int root = 0; root < n; ++root) {
        if (index[root] != -1) continue;
        frames.emplace_back(root, 0);
        index[root] = low[root] = next_index++;
        stack.push_back(root);
        on_stack[root] = true;
        while (!frames.empty()) {
            auto& [v, edge] = frames.back();
            if (edge < members[v].fanouts.size()) {
                const int w = members[v].fanouts[edge++];
                if (index[w] == -1) {
                    index[w] = low[w] = next_index++;
                    stack.push_back(w);
                    on_stack[w] = true;
                    frames.emplace_back(w, 0);
                } else if (on_stack[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            const int done = v;
            frames.pop_back();
            if (!frames.empty()) low[frames.back().first] = std::min(low[frames.back().first], low[done]);
            if (low[done] != index[done]) continue;
            int w;
            do {
                w = stack.back();
                stack.pop_back();
                on_stack[w] = false;
                component[w] = next_component;
            } while (w != done);
            ++next_component;
        }
    }
    return component;
}

void mark_feedback(std::vector<MEMBER>& members)
{
    const std::vector<int> component = strongly_connected(members);
    std::vector<int> size(members.size(), 0);
    for (int c : component) ++size[c];
    for (size_t i = 0; i < members.size(); ++i) {
        MEMBER& m = members[i];
        if (!m.reg) continue;
        const bool self_loop = std::find(m.fanins.begin(), m.fanins.end(), static_cast<int>(i)) != m.fanins.end();
        m.feedback = self_loop || size[component[i]] > 1;
    }
}

// Members in an order where every member comes after its sources, state
// bits' outputs cut; empty when a loop without a register remains.
std::vector<int> cut_topological_order(const std::vector<MEMBER>& members)
{
    std::vector<int> pending(members.size(), 0), order;
    for (const MEMBER& m : members)
        if (!m.feedback)
            for (int f : m.fanouts) ++pending[f];
    for (size_t i = 0; i < members.size(); ++i)
        if (pending[i] == 0) order.push_back(static_cast<int>(i));
    for (size_t at = 0; at < order.size(); ++at) {
        const MEMBER& m = members[order[at]];
        if (m.feedback) continue;
        for (int f : m.fanouts)
            if (--pending[f] == 0) order.push_back(f);
    }
    if (order.size() != members.size()) order.clear();
    return order;
}

void propagate_forward(std::vector<MEMBER>& members, const std::vector<int>& order)
{
    for (int i : order) {
        MEMBER& m = members[i];
        for (CDB_ATOM_OTERM* source : m.true_inputs) m.from_input_in.add(source->get_my_node()->is_register() ? 1 : 0);
        for (int k : m.fanins) {
            const MEMBER& source = members[k];
            if (source.feedback) {
                m.from_state_in.add(0);
                continue;
            }
            m.from_input_in.merge(source.from_input, 0);
            m.from_state_in.merge(source.from_state, 0);
        }
        if (m.feedback) continue;
        m.from_input.merge(m.from_input_in, m.reg);
        m.from_state.merge(m.from_state_in, m.reg);
    }
}

template <typename FANOUTS>
void gather_backward(const std::vector<MEMBER>& members, const FANOUTS& fanouts, COUNT_RANGE& to_output,
                     COUNT_RANGE& to_state)
{
    for (int f : fanouts) {
        const MEMBER& sink = members[f];
        if (sink.feedback) {
            to_state.add(0);
            continue;
        }
        to_output.merge(sink.to_output, sink.reg);
        to_state.merge(sink.to_state, sink.reg);
    }
}

void propagate_backward(std::vector<MEMBER>& members, const std::vector<int>& order)
{
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        MEMBER& m = members[*it];
        if (m.feedback) continue;
        if (m.true_output) m.to_output.add(0);
        gather_backward(members, m.fanouts, m.to_output, m.to_state);
    }
    // A state bit's sinks are done by now: the cut made them later members
    // or other state bits.
    for (MEMBER& m : members)
        if (m.feedback) gather_backward(members, m.fanouts, m.to_output, m.to_state);
}

bool member_registered(const MEMBER& m)
{
    if (!m.feedback) return m.from_input.only(1) && m.from_state.only(0);
    return m.from_input_in.only(0) && m.from_state_in.only(0) && m.to_output.only(0) && m.to_state.only(0);
}

}  // namespace

void MORV_CLUSTER::update_registration()
{
    std::vector<MEMBER> members;
    std::unordered_map<const CDB_ATOM_NODE*, int> member_of;
    member_of.reserve(m_known_oterms.size());
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        info.m_is_feedback = info.m_is_registered = false;
        if (!info.m_is_included) continue;
        CDB_ATOM_NODE* node = oterm->get_my_node();
        auto [at, added] = member_of.emplace(node, static_cast<int>(members.size()));
        if (added) {
            members.emplace_back();
            members.back().node = node;
            members.back().reg = node->is_register() ? 1 : 0;
        }
        MEMBER& m = members[at->second];
        m.oterms.push_back(oterm);
        m.true_output = m.true_output || info.is_true_output();
    }
    // The members each true input feeds, gathered from the members' side:
    // a true input's fanout outside the cluster may be huge.
    std::vector<std::pair<CDB_ATOM_OTERM*, int>> input_sinks;
    for (size_t i = 0; i < members.size(); ++i)
        for_each_data_source(members[i].node, [&](CDB_ATOM_OTERM* source) {
            auto found = member_of.find(source->get_my_node());
            if (found == member_of.end() || !record_of(source).m_is_included) {
                members[i].true_inputs.push_back(source);
                input_sinks.emplace_back(source, static_cast<int>(i));
                return;
            }
            members[i].fanins.push_back(found->second);
            members[found->second].fanouts.push_back(static_cast<int>(i));
        });
    mark_feedback(members);
    const std::vector<int> order = cut_topological_order(members);
    m_combinational_loop = !members.empty() && order.empty();
    if (m_combinational_loop) return;
    propagate_forward(members, order);
    propagate_backward(members, order);
    for (const MEMBER& m : members)
        for (CDB_ATOM_OTERM* oterm : m.oterms) {
            MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
            info.m_is_feedback = m.feedback;
            info.m_is_registered = member_registered(m);
        }
    // Any order groups the pairs: what a group gives does not depend on it.
    auto before = [](const std::pair<CDB_ATOM_OTERM*, int>& a, const std::pair<CDB_ATOM_OTERM*, int>& b) {
        return std::less<>()(a.first, b.first) || (a.first == b.first && a.second < b.second);
    };
    std::sort(input_sinks.begin(), input_sinks.end(), before);
    std::vector<int> sinks;
    for (CDB_ATOM_OTERM* oterm : m_known_oterms) {
        MORV_CLUSTER_NODE_INFO& info = record_of(oterm);
        if (!info.is_true_input()) continue;
        sinks.clear();
        auto group = std::lower_bound(input_sinks.begin(), input_sinks.end(), std::make_pair(oterm, -1), before);
        for (; group != input_sinks.end() && group->first == oterm; ++group) sinks.push_back(group->second);
        COUNT_RANGE to_output, to_state;
        gather_backward(members, sinks, to_output, to_state);
        const int reg = oterm->get_my_node()->is_register() ? 1 : 0;
        info.m_is_registered = to_output.only(1 - reg) && to_state.only(-reg);
    }
}
