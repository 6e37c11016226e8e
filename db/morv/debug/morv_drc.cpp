#include "morv/debug/morv_drc.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "mem_alloc_sys.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/debug/morv_drc_snapshot.h"
#include "morv/netlist/morv_nt.h"

namespace {

const char* const COUNTER_NAMES[MORV_DRC_COUNTER_COUNT] = {"tracked don't-touch node error",
                                                           "missing iterm error",
                                                           "mismatched iterm error",
                                                           "synchronizer reclassification error",
                                                           "global count error",
                                                           "total error",
                                                           "node deletion warning",
                                                           "synchronizer weakening warning",
                                                           "total warning"};

using CLOCK = std::chrono::steady_clock;

// What lives from the reference step to the end of the verification step.
struct MORV_DRC_STATE
{
    MORV_OWNER<MORV_DRC_LOG> log;
    MORV_OWNER<MORV_DRC_SYNCHRONIZER_REGISTRY> registry;
    MORV_OWNER<MORV_DRC_INST_SET> reference;
    // Operations the node tracker held when the reference was taken: later
    // ones are this flow's.
    int first_operation = 0;
    CLOCK::time_point start;
};

MORV_DRC_STATE s_state;
MORV_DRC_COUNTS s_last_counts;

std::string elapsed_since(CLOCK::time_point start)
{
    const double seconds = std::chrono::duration<double>(CLOCK::now() - start).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

template <typename T>
std::string to_text(const T& value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

void free_state()
{
    s_state.reference.reset();
    s_state.registry.reset();
    s_state.log.reset();
}

// Families without the checks only say so; they never fail.
bool announce_unsupported_family(MORV_API* fsyn_api)
{
    const int family = fsyn_api->get_base_family_code();
    if (morv_family_traits(family).m_drc) return false;
    std::string text("***** DRC: DOES NOT SUPPORT FAMILY ");
    text.append(dev_family_name(family)).append(" *****");
    MORV_DRC_LOG(MORV_DRC_LOG::s_LEVEL).write(0, text);
    return true;
}

void dump_tracking(const MORV_DRC_LOG& log, const char* stage, const std::string& flow_name,
                   const MORV_DRC_SYNCHRONIZER_REGISTRY& registry, const MORV_DRC_INST_SET& snapshot)
{
    if (!cfg_is_on("fsyn_dump_drc_tracking", false)) return;
    std::string name("fsyn_drc_tracking_");
    name.append(stage).append("_").append(flow_name).append(".txt");
    log.write(0, "Dumping DRC TRACK info to file < " + name + " >");
    std::ofstream file(name);
    if (!file) return;
    file << registry << "\n" << snapshot;
}

MORV_NET_UTIL* net_util_of(MORV_API* fsyn_api)
{
    MORV_NET_UTIL* net_util = fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(net_util, "m_net_util");
    return net_util;
}

// ------------------------------------------------------------------ this flow's tracking

// What the node tracker records of this flow: the nodes an id became
// through the operations recorded since the reference step. An earlier
// flow's operations say nothing about this one.
class FLOW_TRACKING
{
public:
    FLOW_TRACKING(const MORV_NT& nt, int first_operation) : m_impl(nt.get_impl()), m_first(first_operation) {}

    bool is_tracked(const MORV_NT_NODE_ID& id) const { return !flow_operations(id).empty(); }

    // The final nodes of id; id itself when this flow did not track it.
    MORV_NT_NODE_ID_LIST leaves(const MORV_NT_NODE_ID& id) const
    {
        MORV_NT_NODE_ID_LIST result;
        std::vector<MORV_NT_NODE_ID> work{id};
        std::set<MORV_NT_NODE_ID> visited;
        while (!work.empty()) {
            const MORV_NT_NODE_ID current = work.back();
            work.pop_back();
            if (!visited.insert(current).second) continue;
            const std::vector<int> operations = flow_operations(current);
            if (operations.empty()) result.push_back(current);
            for (int operation : operations)
                for (const MORV_NT_NODE_ID& next : m_impl.get_operations()[operation].m_node_lists[MORV_NT_DST]) {
                    if (next == current) result.push_back(current);
                    else work.push_back(next);
                }
        }
        return result;
    }

private:
    std::vector<int> flow_operations(const MORV_NT_NODE_ID& id) const
    {
        std::vector<int> operations;
        const MORV_NT_NODE* node = m_impl.find_node(id);
        if (node == nullptr) return operations;
        for (int operation : node->m_operation_lists[MORV_NT_SRC])
            if (operation >= m_first) operations.push_back(operation);
        return operations;
    }

    const MORV_NT_IMPL& m_impl;
    int m_first;
};

// ------------------------------------------------------------------ synchronizers

MORV_OWNER<MORV_DRC_SYNCHRONIZER_REGISTRY> map_registry(const MORV_DRC_SYNCHRONIZER_REGISTRY& reference,
                                                        const FLOW_TRACKING& tracking)
{
    MORV_OWNER<MORV_DRC_SYNCHRONIZER_REGISTRY> mapped = MORV_MAKE_OWNER(MORV_DRC_SYNCHRONIZER_REGISTRY);
    for (int c = 0; c < MORV_DRC_CLASS_COUNT; ++c)
        for (const MORV_DRC_SYNCHRONIZER& sync : reference.get(c)) {
            const MORV_NT_NODE_ID_LIST sources = tracking.leaves(sync.m_source);
            const MORV_NT_NODE_ID_LIST dests = tracking.leaves(sync.m_dest);
            for (const MORV_NT_NODE_ID& source : sources)
                for (const MORV_NT_NODE_ID& dest : dests) {
                    MORV_DRC_SYNCHRONIZER copy = sync;
                    copy.m_source = source;
                    copy.m_dest = dest;
                    copy.m_from_source = sync.m_source;
                    copy.m_from_dest = sync.m_dest;
                    mapped->add(copy, c);
                }
        }
    return mapped;
}

struct FOUND_SYNC
{
    int strength_class;
    int stages;
};
using SYNC_KEY = std::pair<MORV_NT_NODE_ID, MORV_NT_NODE_ID>;

// The new synchronizers by source and destination: a clock source the flow
// replaced must not hide the pair.
std::map<SYNC_KEY, FOUND_SYNC> index_registry(const MORV_DRC_SYNCHRONIZER_REGISTRY& registry)
{
    std::map<SYNC_KEY, FOUND_SYNC> index;
    for (int c = 0; c < MORV_DRC_CLASS_COUNT; ++c)
        for (const MORV_DRC_SYNCHRONIZER& sync : registry.get(c))
            index[{sync.m_source, sync.m_dest}] = {c, sync.m_stages};
    return index;
}

void check_synchronizers(const MORV_DRC_SYNCHRONIZER_REGISTRY& mapped, const MORV_DRC_SYNCHRONIZER_REGISTRY& current,
                         const MORV_DRC_LOG& log, MORV_DRC_COUNTS& counts)
{
    const std::map<SYNC_KEY, FOUND_SYNC> index = index_registry(current);
    std::vector<const MORV_DRC_SYNCHRONIZER*> worse;
    std::vector<const MORV_DRC_SYNCHRONIZER*> weakened;
    for (int c = 0; c < MORV_DRC_CLASS_COUNT; ++c)
        for (const MORV_DRC_SYNCHRONIZER& sync : mapped.get(c)) {
            auto found = index.find({sync.m_source, sync.m_dest});
            if (found == index.end()) continue;
            if (found->second.strength_class > c) worse.push_back(&sync);
            // Fewer stages in the same pair means less time to settle.
            if (found->second.stages < sync.m_stages) weakened.push_back(&sync);
        }
    if (!worse.empty()) {
        log.write(2, "FOUND SOME BAD SYNCHRONIZERS (increased in complexity trivial->non-reconvergent->reconvergent)");
        for (const MORV_DRC_SYNCHRONIZER* sync : worse) log.write(2, to_text(*sync));
        counts.add(MORV_DRC_SYNC_RECLASSIFICATION_ERRORS, static_cast<uint32_t>(worse.size()));
    }
    if (!weakened.empty()) {
        log.write(2, "FOUND SOME WEAKENED SYNCHRONIZERS");
        for (const MORV_DRC_SYNCHRONIZER* sync : weakened) log.write(2, to_text(*sync));
        counts.add(MORV_DRC_SYNC_WEAKENING_WARNINGS, static_cast<uint32_t>(weakened.size()));
    }
}

// ------------------------------------------------------------------ connections

struct NODE_CHECK
{
    const MORV_DRC_INST_SET& current;
    const FLOW_TRACKING& tracking;
    const MORV_DRC_LOG& log;
    MORV_DRC_COUNTS& counts;
};

bool same_source(const MORV_DRC_SOURCE& old_source, const MORV_DRC_SOURCE& new_source, const FLOW_TRACKING& tracking)
{
    if (old_source.m_index != new_source.m_index || old_source.m_port_type != new_source.m_port_type) return false;
    for (const MORV_NT_NODE_ID& id : tracking.leaves(old_source.m_id))
        if (id == new_source.m_id) return true;
    return false;
}

void report_failure(const NODE_CHECK& check, const MORV_DRC_NODE& old_node, const MORV_NT_NODE_ID& new_id,
                    const MORV_DRC_INBOUND& inbound, const std::string& first_line)
{
    check.log.write(2, first_line);
    check.log.write(2, std::string("IS ASYNC? ") + (inbound.m_async ? "1" : "0") + " DONTTOUCH NODE? " +
                           (old_node.m_dont_touch ? "1" : "0"));
    check.log.write(2, "(The affected node is #" + to_text(old_node.m_id) + " in old set, #" + to_text(new_id) +
                           " in new)");
}

void compare_nodes(const NODE_CHECK& check, const MORV_DRC_NODE& old_node, const MORV_NT_NODE_ID& new_id)
{
    const MORV_DRC_NODE* new_node = check.current.find(new_id);
    if (new_node == nullptr) {
        check.log.write(2, "WARNING: Old node " + to_text(old_node.m_id) + " mapped to new node " + to_text(new_id) +
                               ", but that node was DELETED!");
        check.counts.add(MORV_DRC_NODE_DELETION_WARNINGS, 1);
        return;
    }
    for (const auto& [old_dest, inbound] : old_node.m_inbound) {
        if (!old_node.m_dont_touch && !inbound.m_async) continue;
        MORV_DRC_DEST dest = old_dest;
        dest.m_id = new_id;
        auto found = new_node->m_inbound.find(dest);
        if (found != new_node->m_inbound.end()) {
            if (same_source(inbound.m_source, found->second.m_source, check.tracking)) continue;
            report_failure(check, old_node, new_id, inbound,
                           "verify FAILED: node " + to_text(new_id) + " connected-iterm " + to_text(dest) +
                               " mismatch");
            check.counts.add(MORV_DRC_MISMATCHED_ITERM_ERRORS, 1);
            continue;
        }
        report_failure(check, old_node, new_id, inbound,
                       "verify FAILED: had to match an iterm (" + to_text(old_dest) + ") which no longer exists");
        check.log.write(2, "EXISTING NEW ITERMS:");
        for (const auto& entry : new_node->m_inbound) check.log.write(2, to_text(entry.first));
        check.counts.add(MORV_DRC_MISSING_ITERM_ERRORS, 1);
    }
}

void check_node(const NODE_CHECK& check, const MORV_DRC_NODE& old_node)
{
    const std::string id = to_text(old_node.m_id);
    if (!check.tracking.is_tracked(old_node.m_id)) {
        check.log.write(100, "Node " + id + " IS NOT TRACKED");
        compare_nodes(check, old_node, old_node.m_id);
        return;
    }
    check.log.write(100, "Node " + id + " IS TRACKED");
    if (old_node.m_dont_touch) {
        check.log.write(2, "Verify node " + id + " FAILED: it has tracked changes, but was marked don't touch!");
        check.counts.add(MORV_DRC_TRACKED_DONT_TOUCH_ERRORS, 1);
        return;
    }
    check.log.write(100, "Verifying TRACKED node " + id);
    for (const MORV_NT_NODE_ID& child : check.tracking.leaves(old_node.m_id)) {
        check.log.write(100, "  verifying child node " + to_text(child));
        compare_nodes(check, old_node, child);
    }
}

void check_globals(const MORV_DRC_INST_SET& reference, const MORV_DRC_INST_SET& current, const MORV_DRC_LOG& log,
                   MORV_DRC_COUNTS& counts)
{
    if (current.get_global_count() <= reference.get_global_count()) return;
    log.write(2, "ERROR: There are now " + std::to_string(current.get_global_count()) +
                     " globals when there used to be only " + std::to_string(reference.get_global_count()));
    counts.add(MORV_DRC_GLOBAL_COUNT_ERRORS, 1);
}

MORV_DRC_COUNTS verify_against_reference(MORV_API* fsyn_api, const std::string& flow_name)
{
    const MORV_DRC_LOG& log = *s_state.log;
    MORV_NT* nt = fsyn_api->get_fsyn_nt();
    MORV_ASSERT_TEXT(nt, "tracker_ptr");
    const FLOW_TRACKING tracking(*nt, s_state.first_operation);

    MORV_OWNER<MORV_DRC_SYNCHRONIZER_REGISTRY> mapped = map_registry(*s_state.registry, tracking);
    s_state.registry = MORV_MAKE_OWNER(MORV_DRC_SYNCHRONIZER_REGISTRY);
    MORV_OWNER<MORV_DRC_INST_SET> current = MORV_MAKE_OWNER(MORV_DRC_INST_SET, fsyn_api->get_atom_netlist(),
                                                            net_util_of(fsyn_api), s_state.registry.get(), log);
    dump_tracking(log, "REF", flow_name, *mapped, *current);
    dump_tracking(log, "POST", flow_name, *s_state.registry, *current);
    log.write(0, "***** END DRC INSTRUMENTATION (VERIFICATION) (done in " + elapsed_since(s_state.start) + " ) *****");

    MORV_DRC_COUNTS counts;
    check_synchronizers(*mapped, *s_state.registry, log, counts);
    check_globals(*s_state.reference, *current, log, counts);
    const NODE_CHECK check{*current, tracking, log, counts};
    for (const auto& entry : s_state.reference->get_nodes()) check_node(check, entry.second);
    return counts;
}

}  // namespace

// ------------------------------------------------------------------ counters

void MORV_DRC_COUNTS::add(int counter, uint32_t amount)
{
    MORV_ASSERT(counter >= 0 && counter < MORV_DRC_COUNTER_COUNT);
    m_counts[counter] += amount;
    if (counter < MORV_DRC_VERIFY_TOTAL_ERRORS) m_counts[MORV_DRC_VERIFY_TOTAL_ERRORS] += amount;
    else if (counter > MORV_DRC_VERIFY_TOTAL_ERRORS && counter < MORV_DRC_VERIFY_TOTAL_WARNINGS)
        m_counts[MORV_DRC_VERIFY_TOTAL_WARNINGS] += amount;
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_COUNTS& counts)
{
    for (int c : {0, 1, 2, 3, 4, 6, 7}) out << counts[c] << " " << COUNTER_NAMES[c] << "\n";
    out << "\n";
    for (int c : {5, 8}) out << counts[c] << " " << COUNTER_NAMES[c] << "\n";
    return out;
}

const MORV_DRC_COUNTS& morv_drc_last_counts()
{
    return s_last_counts;
}

// ------------------------------------------------------------------ the two steps

void morv_drc_reference(MORV_API* fsyn_api, const char* flow_name)
{
    MORV_ASSERT(fsyn_api);
    if (announce_unsupported_family(fsyn_api)) return;
    free_state();
    s_state.start = CLOCK::now();
    s_state.log = MORV_MAKE_OWNER(MORV_DRC_LOG);
    s_state.registry = MORV_MAKE_OWNER(MORV_DRC_SYNCHRONIZER_REGISTRY);
    const MORV_DRC_LOG& log = *s_state.log;
    log.write(0, "***** BEGIN DRC INSTRUMENTATION (REFERENCE) *****");
    MORV_NT* nt = fsyn_api->get_fsyn_nt();
    MORV_ASSERT_TEXT(nt, "tracker_ptr");
    s_state.first_operation = nt->get_number_of_operations();
    s_state.reference = MORV_MAKE_OWNER(MORV_DRC_INST_SET, fsyn_api->get_atom_netlist(), net_util_of(fsyn_api),
                                        s_state.registry.get(), log);
    dump_tracking(log, "PRE", flow_name ? flow_name : "", *s_state.registry, *s_state.reference);
    log.write(0, "***** END DRC INSTRUMENTATION (REFERENCE) (done in " + elapsed_since(s_state.start) + " ) *****");
}

void morv_drc_verify(MORV_API* fsyn_api, const char* flow_name)
{
    MORV_ASSERT(fsyn_api);
    if (announce_unsupported_family(fsyn_api)) return;
    MORV_ASSERT_TEXT(s_state.reference && s_state.registry && s_state.log, "DRC reference taken before the flow");
    s_state.start = CLOCK::now();
    s_state.log->write(0, "***** BEGIN DRC INSTRUMENTATION (VERIFICATION) *****");
    const MORV_DRC_COUNTS counts = verify_against_reference(fsyn_api, flow_name ? flow_name : "");
    s_state.log->write(0, "***** DRC COMPLETE (done in " + elapsed_since(s_state.start) + " ) *****");
    s_state.log->write(0, to_text(counts));
    s_last_counts = counts;
    free_state();
    if (counts[MORV_DRC_VERIFY_TOTAL_ERRORS] != 0)
        MSG_INTERNAL_ERROR::report("counts[MORV_DRC_VERIFY_TOTAL_ERRORS] == 0", "MORV", __FILE__, __LINE__);
}
