#include "morv/retiming/morv_shift_reg_manager.h"

#include <utility>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"

MORV_SHIFT_REG_MANAGER::MORV_SHIFT_REG_MANAGER(MORV_API* api) : m_api(api)
{
    MORV_ASSERT_TEXT(m_api, "m_api");
    m_net_util = m_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_fsyn_cdb_interface = m_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
    MORV_DEBUG_STREAM::print(100, "MORV_SHIFT_REG_MANAGER Created.");
}

MORV_SHIFT_REG_MANAGER::~MORV_SHIFT_REG_MANAGER()
{
    MORV_DEBUG_STREAM::print(100, "MORV_SHIFT_REG_MANAGER Destroyed");
}

bool MORV_SHIFT_REG_MANAGER::initialize()
{
    m_initialized = true;
    m_node_sr_id.clear();
    m_atom_netlist = m_api->get_atom_netlist();
    MORV_ASSERT_TEXT(m_atom_netlist, "m_atom_netlist");
    bool has_ram = false;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!node->is_ram()) continue;
        has_ram = true;
        auto scripted = m_scripted_sr_ids.find(node->get_id());
        if (scripted != m_scripted_sr_ids.end()) m_node_sr_id[node->get_id()] = scripted->second;
    }
    // Without recognition every RAM stays out of the shift registers; say so
    // where it could matter.
    if (has_ram && m_api->get_fsyn_expert() != nullptr)
        m_api->get_fsyn_expert()->warn_not_available(
            "The recognition of RAM-based shift registers (MORV_SHIFT_REG_MANAGER::initialize)");
    return true;
}

int MORV_SHIFT_REG_MANAGER::is_node_shift_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && node->is_ram(), "node->is_ram()");
    MORV_ASSERT_TEXT(m_initialized, "m_initialized");
    auto found = m_node_sr_id.find(node->get_id());
    return found == m_node_sr_id.end() ? 0 : found->second;
}

bool MORV_SHIFT_REG_MANAGER::reduce_shift_register(CDB_ATOM_NODE* node, bool)
{
    MORV_ASSERT_TEXT(node != nullptr && node->is_ram(), "node->is_ram()");
    MORV_ASSERT_TEXT(m_initialized, "m_initialized");
    if (m_scripted_reduction) {
        m_nodes_to_remove.insert(m_nodes_to_remove.end(), m_scripted_unused.begin(), m_scripted_unused.end());
        return true;
    }
    if (m_api->get_fsyn_expert() != nullptr)
        m_api->get_fsyn_expert()->warn_not_available(
            "The reduction of RAM-based shift registers (MORV_SHIFT_REG_MANAGER::reduce_shift_register)");
    return false;
}

// An atom someone else deleted since it was queued is skipped.
int MORV_SHIFT_REG_MANAGER::remove_queued_nodes()
{
    int deleted = 0;
    for (uint32_t id : m_nodes_to_remove) {
        CDB_ATOM_NODE* node = m_api->get_node(static_cast<int>(id));
        if (node == nullptr) continue;
        m_api->delete_node(node);
        ++deleted;
    }
    m_nodes_to_remove.clear();
    // Until the next initialize no RAM is a shift register.
    m_node_sr_id.clear();
    return deleted;
}

void MORV_SHIFT_REG_MANAGER::script_shift_register(const CDB_ATOM_NODE* ram, int sr_id)
{
    MORV_ASSERT_TEXT(ram != nullptr && ram->is_ram(), "node->is_ram()");
    if (sr_id > 0) m_scripted_sr_ids[ram->get_id()] = sr_id;
    else m_scripted_sr_ids.erase(ram->get_id());
}

void MORV_SHIFT_REG_MANAGER::script_reduction(std::vector<uint32_t> unused_atom_ids)
{
    m_scripted_reduction = true;
    m_scripted_unused = std::move(unused_atom_ids);
}
