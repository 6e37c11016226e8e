#include "morv/netlist/morv_save_restore.h"

#include "morv/core/morv_assert.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_save_restore.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/netlist/morv_nt.h"

MORV_SAVE_RESTORE_SNAPSHOT::MORV_SAVE_RESTORE_SNAPSHOT(int id) : m_id(id) {}

MORV_SAVE_RESTORE_SNAPSHOT::~MORV_SAVE_RESTORE_SNAPSHOT() {}

void MORV_SAVE_RESTORE_SNAPSHOT::release_facade_share()
{
    m_chip_map.reset();
    m_cluster_map.reset();
    m_log.reset();
    m_stats.reset();
    m_nt.reset();
    m_modified_atoms_for_icp.reset();
}

MORV_SAVE_RESTORE_MGR::~MORV_SAVE_RESTORE_MGR()
{
    while (!m_snapshots_stack.empty()) {
        MORV_SAVE_RESTORE_SNAPSHOT* snapshot = m_snapshots_stack.back();
        m_snapshots_stack.pop_back();
        MORV_ASSERT(snapshot);
        delete snapshot;
    }
}

MORV_SAVE_RESTORE_SNAPSHOT* MORV_SAVE_RESTORE_MGR::get_snapshot_at_position(int position) const
{
    MORV_ASSERT(position >= 0 && position < (int)(m_snapshots_stack.size()));
    MORV_SAVE_RESTORE_SNAPSHOT* snapshot = m_snapshots_stack[position];
    MORV_ASSERT(snapshot);
    return snapshot;
}
