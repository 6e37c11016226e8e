#include "morv/debug/morv_plumrix.h"

#include "cfg/cfg.h"

#include "morv/core/morv_assert.h"

int MORV_PLUMRIX::s_interface_users = 0;

MORV_PLUMRIX::MORV_PLUMRIX(MORV_API* fsyn_api)
    : m_fsyn_api(fsyn_api), m_enabled(cfg_is_on("fsyn_enable_plumrix", false))
{
    MORV_ASSERT(m_fsyn_api);
}

MORV_PLUMRIX::~MORV_PLUMRIX()
{
    // A driver torn down without shutdown must not leave the interface counted.
    if (m_attached) shutdown();
}

void MORV_PLUMRIX::initialize()
{
    if (!m_enabled || m_attached) return;
    m_attached = true;
    ++s_interface_users;
}

void MORV_PLUMRIX::shutdown()
{
    if (!m_attached) return;
    m_attached = false;
    m_connected = false;
    --s_interface_users;
}

void MORV_PLUMRIX::breakpoint(const char* tag)
{
    (void)tag;
    // Without a connected tool there is nobody to hand the netlist to.
    if (!m_connected) return;
}

void MORV_PLUMRIX::note_node_modified(int atom_id)
{
    if (m_enabled) ++m_modified_nodes[atom_id];
}

int MORV_PLUMRIX::get_modification_count(int atom_id) const
{
    auto found = m_modified_nodes.find(atom_id);
    return found == m_modified_nodes.end() ? 0 : found->second;
}
