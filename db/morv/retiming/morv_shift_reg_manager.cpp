#include "morv/retiming/morv_shift_reg_manager.h"

#include <exception>
#include <utility>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_internal.h"
#include "morv/retiming/morv_shift_reg_sim.h"

namespace {

// The inputs the support walk follows back from a counter node: those that
// decide the node's value in the next state (clocks, asynchronous controls
// and everything else are not part of the counter's function).
bool is_followed_input(const CDB_ATOM_ITERM* iterm)
{
    for (int port : {DB_CARRY_IN, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_DATA, DB_SYNCH_LOAD, DB_SHARE_IN})
        if (iterm->is_used_as(port)) return true;
    for (int port = DB_DATA_A; port <= DB_DATAIN; ++port)
        if (iterm->is_used_as(port)) return true;
    return false;
}

// A RAM's inputs that belong to its counter: both addresses and the clears.
bool is_counter_input(const CDB_ATOM_ITERM* iterm)
{
    for (int port : {DB_RAM_PORTA_ADDRESS, DB_RAM_PORTB_ADDRESS, DB_RAM_CLR0, DB_RAM_CLR1})
        if (iterm->is_used_as(port)) return true;
    return false;
}

}  // namespace

MORV_SHIFT_REG_MANAGER::MORV_SHIFT_REG_MANAGER(MORV_API* api)
    : m_api(api), m_uncaught_at_construction(std::uncaught_exceptions())
{
    MORV_ASSERT_TEXT(m_api, "m_api");
    m_net_util = m_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_fsyn_cdb_interface = m_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
    MORV_DEBUG_STREAM::print(100, "MORV_SHIFT_REG_MANAGER Created.");
}

// The design raises the internal error from the destructor when nodes are
// still queued; here the report goes to the facade, which raises it once the
// owner is gone, and none is made while an error unwinds. The owners'
// destructors may not throw (a raised report would end the process), and
// while an error unwinds the queue is only its consequence.
MORV_SHIFT_REG_MANAGER::~MORV_SHIFT_REG_MANAGER()
{
    if (!m_nodes_to_remove.empty() && std::uncaught_exceptions() <= m_uncaught_at_construction)
        m_api->defer_internal_error("!m_nodes_to_remove.size()", __FILE__, __LINE__);
    MORV_DEBUG_STREAM::print(100, "MORV_SHIFT_REG_MANAGER Destroyed");
}

// ---------------------------------------------------------------- grouping

void MORV_SHIFT_REG_MANAGER::make_group(int id)
{
    m_sr_parent[id] = id;
    m_sr_rank[id] = 0;
}

int MORV_SHIFT_REG_MANAGER::find_group(int id)
{
    int& parent = m_sr_parent[id];  // an id never made resolves to group 0
    if (parent == id) return id;
    const int root = find_group(parent);
    m_sr_parent[id] = root;
    return root;
}

void MORV_SHIFT_REG_MANAGER::merge_groups(int a, int b)
{
    const int ra = find_group(a);
    const int rb = find_group(b);
    if (ra == rb) return;
    const int rank_a = m_sr_rank[ra];
    const int rank_b = m_sr_rank[rb];
    if (rank_a > rank_b) {
        m_sr_parent[rb] = ra;
    } else if (rank_a < rank_b) {
        m_sr_parent[ra] = rb;
    } else {
        m_sr_parent[rb] = ra;
        ++m_sr_rank[ra];
    }
}

int MORV_SHIFT_REG_MANAGER::find_node_group(const CDB_ATOM_NODE* node)
{
    auto found = m_node_sr_id.find(node->get_id());
    return found == m_node_sr_id.end() ? -1 : find_group(found->second);
}

bool MORV_SHIFT_REG_MANAGER::initialize()
{
    m_initialized = true;
    MORV_ASSERT_TEXT(!m_nodes_to_remove.size(), "!m_nodes_to_remove.size()");
    m_valid_sr_ids.clear();
    m_sr_parent.clear();
    m_sr_rank.clear();
    m_node_sr_id.clear();
    m_sr_results.clear();
    m_scripted_active.clear();
    m_atom_netlist = m_api->get_atom_netlist();
    MORV_ASSERT_TEXT(m_atom_netlist, "m_atom_netlist");
    make_group(0);
    int next_id = 1;
    std::vector<int> failed;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!node->is_ram()) continue;
        auto scripted = m_scripted_sr_ids.find(node->get_id());
        if (scripted != m_scripted_sr_ids.end()) m_scripted_active[node->get_id()] = scripted->second;
        const int id = next_id++;
        make_group(id);
        m_node_sr_id[node->get_id()] = id;
        if (!group_ram(node, id)) failed.push_back(id);
        else if (find_group(id) == id) m_valid_sr_ids.insert(id);
    }
    // The design keeps a group valid when a later RAM joins it and that
    // RAM's own walk then fails; here a group holding a RAM whose walk
    // failed is no shift register: that RAM's counter was not followed to
    // the end, so the simulation of the group would read registers outside
    // it, and the group is left whole.
    for (int id : failed) m_valid_sr_ids.erase(find_group(id));
    return true;
}

bool MORV_SHIFT_REG_MANAGER::group_ram(CDB_ATOM_NODE* ram, int id)
{
    NODE_SET visited;
    for (auto it = ram->begin_iterm(); it != ram->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (!is_counter_input(iterm) || iterm->get_source() == nullptr) continue;
        if (!create_support_set(visited, iterm->get_source()->get_my_node(), id)) return false;
    }
    return true;
}

// A failure poisons (group 0) every node on the path back to the RAM, so
// that any later RAM whose counter meets one of them fails as well.
bool MORV_SHIFT_REG_MANAGER::create_support_set(NODE_SET& visited, CDB_ATOM_NODE* node, int id)
{
    visited.insert(node);
    bool ok = true;
    const bool comb = node->is_lcell_comb();
    if (comb && m_net_util->is_in_extended_mode(node)) {
        m_node_sr_id[node->get_id()] = 0;
        ok = false;
    }
    auto entry = m_node_sr_id.find(node->get_id());
    if (entry != m_node_sr_id.end()) {
        const int group = find_group(entry->second);
        if (group == 0) return false;
        if (m_net_util->is_ff(node)) merge_groups(group, id);
    } else {
        m_node_sr_id[node->get_id()] = id;
    }
    if (!ok) return false;
    const bool dont_touch = m_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME);
    if ((!comb && !m_net_util->is_ff(node)) || dont_touch) {
        m_node_sr_id[node->get_id()] = 0;
        return false;
    }
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm->get_source() == nullptr || !is_followed_input(iterm)) continue;
        CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
        if (visited.count(driver) != 0) continue;
        if (!create_support_set(visited, driver, id)) {
            m_node_sr_id[node->get_id()] = 0;
            return false;
        }
    }
    return true;
}

MORV_SHIFT_REG_MANAGER::NODE_SET MORV_SHIFT_REG_MANAGER::working_set(int id)
{
    NODE_SET set;
    for (const auto& [atom_id, entry] : m_node_sr_id) {
        if (find_group(entry) != id) continue;
        CDB_ATOM_NODE* node = m_api->get_node(static_cast<int>(atom_id));
        if (node != nullptr) set.insert(node);
    }
    return set;
}

// A node the walk passed without taking (a cell of another group) leaves
// the set's counter open: the simulation would read a register it never
// started.
bool MORV_SHIFT_REG_MANAGER::is_closed(const NODE_SET& set) const
{
    for (CDB_ATOM_NODE* node : set)
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            const bool read = node->is_ram() ? is_counter_input(iterm) : is_followed_input(iterm);
            if (!read || iterm->get_source() == nullptr) continue;
            if (set.count(iterm->get_source()->get_my_node()) == 0) {
                MORV_DEBUG_STREAM::print(100, "%d reads %d from outside the set", static_cast<int>(node->get_id()),
                                         static_cast<int>(iterm->get_source()->get_my_node()->get_id()));
                return false;
            }
        }
    return true;
}

int MORV_SHIFT_REG_MANAGER::remove_queued_nodes()
{
    int deleted = 0;
    for (uint32_t id : m_nodes_to_remove) {
        MORV_ASSERT_TEXT(m_api->get_morv_env(), "m_morv_env");
        CDB_ATOM_NODE* node = m_api->get_node(static_cast<int>(id));
        if (node == nullptr) continue;  // someone else deleted it since
        m_api->delete_node(node);
        ++deleted;
    }
    m_nodes_to_remove.clear();
    // Until the next initialize no RAM is a shift register.
    m_valid_sr_ids.clear();
    m_sr_parent.clear();
    m_sr_rank.clear();
    m_node_sr_id.clear();
    m_sr_results.clear();
    m_scripted_active.clear();
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
