#include "morv/netlist/morv_save_restore.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_atom_save_restore.h"

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
