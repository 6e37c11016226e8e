// Timing snapshots of saved netlists. A run that rolls a netlist back would
// otherwise time the restored netlist again, although the run timed exactly
// that netlist before it saved it. The snapshot keeps what the slack
// queries answered then, by atom and input position (a restored netlist is
// made of new terms under the same atom ids), and answers for the restored
// netlist until the run next synchronises or analyses.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "nevra/nevra_estimator.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing.h"

struct MORV_TIMING::TIMING_SNAPSHOT
{
    struct ENTRY
    {
        uint32_t m_atom_id;
        uint32_t m_position;  // among the atom's input terms
        int m_port_type;
        int m_port_index;
        SNAPSHOT_ANSWER m_answer;
    };
    int m_timing_mode = MORV_TIMING_MODE_DEFAULT;
    int m_figure_of_merit = 0;
    std::vector<ENTRY> m_entries;  // by atom id, then position
};

void MORV_TIMING::set_keep_timing_snapshots(bool on)
{
    m_keep_timing_snapshots = on;
}

// The estimator is current when it estimated after the last synchronisation
// and nothing was recorded since. Clock offsets are excluded: a restore
// drops them, so an estimate made with them is not the restored netlist's.
bool MORV_TIMING::is_estimate_current() const
{
    return m_timing_mode == MORV_TIMING_MODE_NEVRA && m_nevra != nullptr && m_estimate_current &&
           m_nevra->has_estimation() && m_nevra->get_num_clock_offsets() == 0 && !m_mode_switched &&
           m_taint_change_set.empty() && m_changed_connections.empty() && m_slack_source == nullptr;
}

std::shared_ptr<const MORV_TIMING::TIMING_SNAPSHOT> MORV_TIMING::make_timing_snapshot() const
{
    auto snapshot = std::make_shared<TIMING_SNAPSHOT>();
    snapshot->m_timing_mode = m_timing_mode;
    snapshot->m_figure_of_merit = m_nevra->get_figure_of_merit();
    CDB_ATOM_NETLIST* netlist = m_fsyn_api->get_atom_netlist();
    for (CDB_ATOM_NODE* node : *netlist) {
        uint32_t position = 0;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it, ++position) {
            const CDB_ATOM_ITERM* iterm = *it;
            snapshot->m_entries.push_back(
                {node->get_id(),
                 position,
                 iterm->get_any_usage_as(),
                 iterm->get_port_index(),
                 {m_nevra->get_slack_of_connection(iterm), m_nevra->get_slack_ratio_of_connection(iterm),
                  m_nevra->get_delay_of_connection(iterm)}});
        }
    }
    std::sort(snapshot->m_entries.begin(), snapshot->m_entries.end(), [](const auto& a, const auto& b) {
        return a.m_atom_id != b.m_atom_id ? a.m_atom_id < b.m_atom_id : a.m_position < b.m_position;
    });
    return snapshot;
}

void MORV_TIMING::save_timing_snapshot(int snapshot_id)
{
    if (!m_keep_timing_snapshots) return;
    // A netlist saved again right after its restore has the snapshot it came with.
    std::shared_ptr<const TIMING_SNAPSHOT> snapshot;
    if (m_timing_snapshot != nullptr && !m_edited_since_restore) snapshot = m_timing_snapshot;
    else if (m_timing_snapshot == nullptr && is_estimate_current()) snapshot = make_timing_snapshot();
    if (snapshot == nullptr) return;
    m_saved_timing_snapshots[snapshot_id] = std::move(snapshot);
}

void MORV_TIMING::drop_timing_snapshot(int snapshot_id)
{
    m_saved_timing_snapshots.erase(snapshot_id);
}

bool MORV_TIMING::restore_timing_snapshot(int snapshot_id)
{
    leave_timing_snapshot();
    const auto saved = m_saved_timing_snapshots.find(snapshot_id);
    if (saved == m_saved_timing_snapshots.end()) return false;
    std::shared_ptr<const TIMING_SNAPSHOT> snapshot = saved->second;
    m_saved_timing_snapshots.erase(saved);
    if (!m_keep_timing_snapshots || snapshot->m_timing_mode != m_timing_mode || m_nevra == nullptr) return false;
    // Every input term of the restored netlist must find its entry, or the
    // snapshot describes another netlist.
    const auto& entries = snapshot->m_entries;
    std::unordered_map<const CDB_ATOM_ITERM*, SNAPSHOT_ANSWER> answers;
    answers.reserve(entries.size());
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        auto at = std::lower_bound(entries.begin(), entries.end(), node->get_id(),
                                   [](const auto& entry, uint32_t id) { return entry.m_atom_id < id; });
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it, ++at) {
            const CDB_ATOM_ITERM* iterm = *it;
            if (at == entries.end() || at->m_atom_id != node->get_id() ||
                at->m_port_type != iterm->get_any_usage_as() || at->m_port_index != iterm->get_port_index())
                return false;
            answers.emplace(iterm, at->m_answer);
        }
    }
    if (answers.size() != entries.size()) return false;
    m_snapshot_answers = std::move(answers);
    m_timing_snapshot = std::move(snapshot);
    m_edited_since_restore = false;
    return true;
}

void MORV_TIMING::leave_timing_snapshot()
{
    if (m_timing_snapshot == nullptr) return;
    m_timing_snapshot.reset();
    std::unordered_map<const CDB_ATOM_ITERM*, SNAPSHOT_ANSWER>().swap(m_snapshot_answers);
}

// The estimator's graph still holds the replaced netlist: it is rebuilt
// here, and estimated too while the restored netlist is unchanged, which is
// the timing the restore went without. After an edit the caller's own
// estimate follows the synchronisation, as it would have without the
// snapshot.
void MORV_TIMING::end_timing_snapshot()
{
    if (m_timing_snapshot == nullptr) return;
    const bool untouched = !m_edited_since_restore;
    leave_timing_snapshot();
    if (m_timing_mode != MORV_TIMING_MODE_NEVRA || m_nevra == nullptr) return;
    MORV_DEBUG_STREAM::print(1, "Timing the restored netlist its timing snapshot answered for");
    sync_timing_netlist(true, true);
    if (untouched) run_estimator_timing_analysis();
}

MORV_TIMING::NEVRA* MORV_TIMING::get_nevra()
{
    end_timing_snapshot();
    // The caller may give registers clock offsets.
    m_estimate_current = false;
    return m_nevra.get();
}

const MORV_TIMING::SNAPSHOT_ANSWER* MORV_TIMING::snapshot_answer(const CDB_ATOM_ITERM* iterm) const
{
    if (m_timing_snapshot == nullptr || m_timing_mode != m_timing_snapshot->m_timing_mode) return nullptr;
    const auto found = m_snapshot_answers.find(iterm);
    return found == m_snapshot_answers.end() ? nullptr : &found->second;
}

int MORV_TIMING::snapshot_figure_of_merit() const
{
    return m_timing_snapshot->m_figure_of_merit;
}
