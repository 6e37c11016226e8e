// Fanout resplitting: the object, what both passes share and the inter-LAB
// pass, which hands each sink of a critical group to its nearest copy.

#include "morv/dup/morv_resplit.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cfg/cfg_known_keys.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

const char* const k_resplit_cutoff_switch = "fsyn_cutoff_resplit_msr";
const char* const k_bypass_switch = "fsyn_resplit_bypass_constraint_check";

bool is_register_output(const CDB_ATOM_OTERM* oterm)
{
    return oterm->is_used_as(DB_REG_OUT);
}

}  // namespace

bool MORV_RESPLIT_SINK_LESS::operator()(const MORV_RESPLIT_SINK& a, const MORV_RESPLIT_SINK& b) const
{
    if (a.slack_ratio != b.slack_ratio) return a.slack_ratio < b.slack_ratio;
    return DETERMINISTIC_LESS<CDB_ATOM_ITERM*>()(a.iterm, b.iterm);
}

MORV_RESPLIT::MORV_RESPLIT(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(api, params)
{
    MORV_DEBUG_STREAM::print(100, "MORV_RESPLIT Created.");
    m_fsyn_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_fsyn_net_util, "m_net_util");
    m_aggressive = params != nullptr && !get_algorithm_param(*params, "AGG").empty();
    MORV_DEBUG_STREAM::print(100, "aggressive: %d", m_aggressive ? 1 : 0);
    m_bypass_constraint_check = cfg_is_on(k_bypass_switch);
    m_xicp_modify_dest_node_on_modify_edge = true;
}

MORV_RESPLIT::~MORV_RESPLIT()
{
    MORV_DEBUG_STREAM::print(100, "MORV_RESPLIT Destroyed");
}

void MORV_RESPLIT::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                    int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_RESPLIT::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    m_pass = pass;
    if (num_iters == s_UNSET_INT) num_iters = 10;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

int MORV_RESPLIT::do_iter()
{
    if (m_pass == 0) return interlab_split();
    if (m_pass != 1) return 0;
    const int moved = intralab_split();
    m_effort = 0.0f;
    return moved;
}

// ---------------------------------------------------------------- shared

void MORV_RESPLIT::find_groups(std::vector<MORV_OTERM_SET>* groups) const
{
    MORV_OTERM_SET_SET all;
    m_fsyn_net_util->find_equivalent_oterms(&all, false);
    while (!all.empty()) groups->push_back(std::move(all.extract(all.begin()).value()));
}

// A value that is not a number would silently read as 0 and switch the
// pass off in the LATE flow: it is the user's error, reported once.
bool MORV_RESPLIT::read_cutoff(double* cutoff)
{
    *cutoff = s_DEFAULT_CUTOFF;
    const char* text = cfg_get_value(k_resplit_cutoff_switch);
    if (text == nullptr || *text == '\0') return true;
    const CFG_KNOWN_KEY* key = cfg_find_known_key(k_resplit_cutoff_switch);
    MORV_ASSERT_TEXT(key, "cfg_find_known_key(fsyn_cutoff_resplit_msr)");
    const std::string fault = cfg_check_value(*key, text);
    if (fault.empty()) {
        *cutoff = std::atof(text);
        return true;
    }
    if (!m_cutoff_error_reported) {
        m_cutoff_error_reported = true;
        MSG_E* msg = new MSG_E();
        msg->fill_args("Developer switch %1!s! %2!s!; RESPLIT reconnects no fanout./EMORV_FSYN_RESPLIT_BAD_CUTOFF",
                       k_resplit_cutoff_switch, fault);
        morv_send_msg(msg);
    }
    return false;
}

bool MORV_RESPLIT::passes_cutoff(const std::vector<MORV_OTERM_SET>& groups)
{
    double cutoff = s_DEFAULT_CUTOFF;
    if (!read_cutoff(&cutoff)) return false;
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    double minimum = 1.0;
    for (const MORV_OTERM_SET& group : groups)
        for (CDB_ATOM_OTERM* member : group)
            for (auto it = member->begin_iterm_fanout(); it != member->end_iterm_fanout(); ++it)
                minimum = std::min(minimum, timing->get_slack_ratio(*it));
    MORV_DEBUG_STREAM::print(1, "RESPLIT CUTOFF: minimum slack ratio is %f", minimum);
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (minimum > cutoff && expert != nullptr && expert->is_fsyn_running(LATE_FSYN_FLOW)) {
        MORV_DEBUG_STREAM::print(1, "RESPLIT CUTOFF: Will not execute (exceeds minimum slack ratio of %f)", cutoff);
        return false;
    }
    return true;
}

// Before placement nothing has a LAB yet: every node counts as one place.
void MORV_RESPLIT::location_of(CDB_ATOM_NODE* node, int* x, int* y)
{
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn()) {
        *x = *y = 0;
        return;
    }
    m_fsyn_api->get_block_location(node, x, y);
}

MORV_RESPLIT_SINK MORV_RESPLIT::rate_sink(CDB_ATOM_ITERM* iterm)
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    MORV_RESPLIT_SINK sink;
    sink.iterm = iterm;
    sink.slack = timing->get_slack(iterm);
    sink.slack_ratio = timing->get_slack_ratio(iterm);
    location_of(iterm->get_my_node(), &sink.x, &sink.y);
    return sink;
}

bool MORV_RESPLIT::is_critical(const MORV_RESPLIT_SINK& sink) const
{
    return static_cast<long long>(sink.slack) - m_guardband < 0;
}

// Carry and cascade chains fix where their cells sit relative to each
// other: such a sink stays on the copy it reads.
bool MORV_RESPLIT::is_chain_sink(CDB_ATOM_ITERM* iterm) const
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    return m_fsyn_net_util->is_lcell(node) && m_fsyn_net_util->is_lcell_in_a_chain(node);
}

// Two register copies may be constrained differently (a timing assignment
// on one name): handing sinks between them would change what is checked.
bool MORV_RESPLIT::is_admitted(CDB_ATOM_OTERM* representative, CDB_ATOM_OTERM* member, bool interlab) const
{
    if (member == representative || !is_register_output(representative) || !is_register_output(member)) return true;
    if (!morv_oterm_has_fanout(representative) || !morv_oterm_has_fanout(member)) return false;
    if (m_bypass_constraint_check) return true;
    if (interlab) return m_fsyn_api->compare_oterms_for_timing(representative, member) == MORV_API::s_TIMING_EQUIVALENT;
    return tdc_get_accessories()->are_oterms_timing_equivalent(representative, member);
}

bool MORV_RESPLIT::reconnect(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* target)
{
    MORV_ASSERT_TEXT(iterm && target, "iterm && target_oterm");
    if (iterm->get_source() == target) return false;
    MORV_CDB_INTERFACE* cdb = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_LOG* log = cdb != nullptr && cdb->is_logging() ? cdb->get_fsyn_log() : nullptr;
    // The sink's inversion and delay settings belong to the connection and
    // go with it to the new driver.
    MORV_ITERM_PROPERTIES properties;
    m_fsyn_net_util->save_iterm_properties(iterm, &properties);
    m_fsyn_api->modify_edge(iterm, true);
    if (log != nullptr && iterm->is_connected()) log->log_disconnection(iterm);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    if (log != nullptr) log->log_connection(target, iterm);
    target->insert_fanout(iterm);
    m_fsyn_net_util->restore_iterm_properties(properties, iterm);
    m_fsyn_api->modify_edge(iterm, false);
    CDB_ATOM_NODE* sink_node = iterm->get_my_node();
    CDB_ATOM_NODE* target_node = target->get_my_node();
    m_fsyn_api->modify_node(sink_node);
    m_fsyn_api->modify_node(target_node);
    if (m_fsyn_net_util->is_ff(sink_node) && m_fsyn_net_util->is_ff(target_node))
        m_fsyn_api->merge_nodes(target_node, sink_node);
    m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    return true;
}

// ---------------------------------------------------------------- inter-LAB

int MORV_RESPLIT::interlab_split()
{
    std::vector<MORV_OTERM_SET> groups;
    find_groups(&groups);
    MORV_DEBUG_STREAM::print(1, "<<< RESPLIT performing interlab fanout splitting! >>>");
    MORV_DEBUG_STREAM::print(100, "DUP_SETS: %d", static_cast<int>(groups.size()));
    if (!passes_cutoff(groups)) return 0;
    m_guardband = m_fsyn_api->get_fsyn_timing()->get_guardband_slack();
    int moved = 0;
    for (const MORV_OTERM_SET& group : groups) moved += interlab_group(group);
    return moved;
}

int MORV_RESPLIT::interlab_group(const MORV_OTERM_SET& group)
{
    CDB_ATOM_OTERM* representative = *group.begin();
    MORV_DEBUG_STREAM::print(100, "DUP_SET %s", MORV_NET_UTIL::get_hpath_name(representative).c_str());
    MORV_RESPLIT_SINK_SET sinks;
    bool critical = false;
    for (CDB_ATOM_OTERM* member : group) {
        if (!is_admitted(representative, member, true)) continue;
        int x = -1, y = -1;
        location_of(member->get_my_node(), &x, &y);
        MORV_DEBUG_STREAM::print(100, "        (%d, %d) - %s", x, y, MORV_NET_UTIL::get_hpath_name(member).c_str());
        for (auto it = member->begin_iterm_fanout(); it != member->end_iterm_fanout(); ++it) {
            const MORV_RESPLIT_SINK sink = rate_sink(*it);
            critical = critical || is_critical(sink);
            if (is_chain_sink(sink.iterm)) continue;
            sinks.insert(sink);
            MORV_DEBUG_STREAM::print(100, "        - %5lf at (%d, %d)", sink.slack_ratio, sink.x, sink.y);
        }
    }
    if (!critical) return 0;
    std::vector<std::pair<CDB_ATOM_ITERM*, CDB_ATOM_OTERM*>> queue;
    if (!m_aggressive) collect_member_sites(group);
    for (const MORV_RESPLIT_SINK& sink : sinks) {
        CDB_ATOM_OTERM* target = m_aggressive ? representative : nearest_member(sink);
        CDB_ATOM_OTERM* source = sink.iterm->get_source();
        if (source == target) continue;
        int sx = -1, sy = -1, tx = -1, ty = -1;
        if (source != nullptr) location_of(source->get_my_node(), &sx, &sy);
        location_of(target->get_my_node(), &tx, &ty);
        MORV_DEBUG_STREAM::print(100, "re-connected iterm at (%d, %d) from (%d, %d) to (%d, %d)", sink.x, sink.y, sx,
                                 sy, tx, ty);
        queue.emplace_back(sink.iterm, target);
    }
    int moved = 0;
    for (const auto& [iterm, target] : queue) moved += reconnect(iterm, target) ? 1 : 0;
    return moved;
}

// Every copy may take sinks, also one whose own sinks were not collected.
void MORV_RESPLIT::collect_member_sites(const MORV_OTERM_SET& group)
{
    m_member_sites.clear();
    std::map<std::pair<int, int>, size_t> site_of;
    for (CDB_ATOM_OTERM* member : group) {
        int x = -1, y = -1;
        location_of(member->get_my_node(), &x, &y);
        if (site_of.emplace(std::make_pair(x, y), m_member_sites.size()).second)
            m_member_sites.push_back(SITE{x, y, member});
    }
}

// Ties go to the first member in set order: sites are listed in that order.
CDB_ATOM_OTERM* MORV_RESPLIT::nearest_member(const MORV_RESPLIT_SINK& sink) const
{
    CDB_ATOM_OTERM* best = nullptr;
    long long best_distance = 0;
    for (const SITE& site : m_member_sites) {
        const long long distance =
            std::llabs(static_cast<long long>(site.x) - sink.x) + std::llabs(static_cast<long long>(site.y) - sink.y);
        if (best == nullptr || distance < best_distance) {
            best = site.member;
            best_distance = distance;
        }
    }
    return best;
}
