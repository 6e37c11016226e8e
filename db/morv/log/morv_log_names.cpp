// Logged names and port slots: what lets a record made on one netlist find
// its node, term and input again on another.

#include <algorithm>
#include <iterator>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cmp/cmp_facade.h"
#include "cut/cut_atom_util.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/log/morv_log_internal.h"
#include "morv/netlist/morv_net_util.h"

namespace {

[[noreturn]] void names_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

enum SLOT_GROUP
{
    GROUP_NONE,
    GROUP_COMB,
    GROUP_REGISTER,
    GROUP_IO,
};

SLOT_GROUP slot_group(int atom_type)
{
    switch (atom_type) {
    case CDB_ATOM_BRK_LCELL_COMB_ENUM:
    case CDB_ATOM_MORLIN_LCELL_COMB_ENUM:
    case CDB_ATOM_MORLIN_LCELL_HSADDER_ENUM: return GROUP_COMB;
    case CDB_ATOM_BRK_LCELL_FF_ENUM:
    case CDB_ATOM_MORLIN_LCELL_FF_ENUM: return GROUP_REGISTER;
    case CDB_ATOM_BRK_IO_ENUM:
    case CDB_ATOM_MORLIN_IO_ENUM: return GROUP_IO;
    default: return GROUP_NONE;
    }
}

// The ports of each group in slot order.
constexpr int COMB_PORTS[] = {11, 12, 13, 14, 15, 16, 17, 2, 268, 102, 103};
constexpr int REGISTER_PORTS[] = {7, 18, 28, 29, 30, 6, 5, 0, 1};
constexpr int IO_PORTS[] = {387, 20, 18, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 266, 267};

template <size_t N>
int slot_in(const int (&ports)[N], int port_type)
{
    for (size_t slot = 0; slot < N; ++slot)
        if (ports[slot] == port_type) return static_cast<int>(slot);
    return -1;
}

}  // namespace

int MORV_LOG::get_connection_slot_count(int atom_type)
{
    switch (slot_group(atom_type)) {
    case GROUP_COMB: return static_cast<int>(std::size(COMB_PORTS));
    case GROUP_REGISTER: return static_cast<int>(std::size(REGISTER_PORTS));
    case GROUP_IO: return static_cast<int>(std::size(IO_PORTS));
    default: return 0;
    }
}

int MORV_LOG::get_connection_slot(int port_type, int atom_type)
{
    int slot = -1;
    switch (slot_group(atom_type)) {
    case GROUP_COMB:
        slot = slot_in(COMB_PORTS, port_type);
        if (slot < 0) names_error("Unrecgonized input port type", __LINE__);
        return slot;
    case GROUP_REGISTER: slot = slot_in(REGISTER_PORTS, port_type); break;
    case GROUP_IO: slot = slot_in(IO_PORTS, port_type); break;
    default: names_error("Unrecognized node type", __LINE__);
    }
    if (slot < 0) names_error("Unrecognized input port type", __LINE__);
    return slot;
}

int MORV_LOG::get_port_type_of_slot(int slot, int atom_type)
{
    const SLOT_GROUP group = slot_group(atom_type);
    if (group == GROUP_NONE) names_error("Unrecognized node type", __LINE__);
    if (slot < 0 || slot >= get_connection_slot_count(atom_type))
        names_error("This input type not currently supported by the log", __LINE__);
    const size_t at = static_cast<size_t>(slot);
    if (group == GROUP_COMB) return COMB_PORTS[at];
    if (group == GROUP_REGISTER) return REGISTER_PORTS[at];
    return IO_PORTS[at];
}

// ------------------------------------------------------------------ latches

namespace {

// The latch information's ports by role; one fixed order for both ways.
int latch_port(const CDB_ATOM_LATCH_INFO& info, int role)
{
    switch (role) {
    case MORV_LOG_LATCH_CLEAR: return info.clear_port;
    case MORV_LOG_LATCH_PRESET: return info.preset_port;
    case MORV_LOG_LATCH_ENABLE: return info.enable_port;
    case MORV_LOG_LATCH_FEEDBACK: return info.feedback_port;
    default: return MORV_LOG_NO_PORT;
    }
}

}  // namespace

int MORV_LOG::get_latch_port_role(CDB_ATOM_ITERM* iterm) const
{
    CDB_ATOM_NODE* node = iterm != nullptr ? iterm->get_my_node() : nullptr;
    MORV_ASSERT_TEXT(node && m_net_util && m_net_util->is_latch(node), "node && m_net_util->is_latch(node)");
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    const int usage = iterm->get_any_usage_as();
    for (int role = MORV_LOG_LATCH_CLEAR; role < MORV_LOG_LATCH_OTHER; ++role)
        if (latch_port(*info, role) == usage) return role;
    return MORV_LOG_LATCH_OTHER;
}

int MORV_LOG::get_latch_port_of_role(int role, CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node && m_net_util && m_net_util->is_latch(node), "m_net_util->is_latch(node)");
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    if (role >= MORV_LOG_LATCH_CLEAR && role < MORV_LOG_LATCH_OTHER) return latch_port(*info, role);
    if (role != MORV_LOG_LATCH_OTHER) names_error("Illegal port type for latch", __LINE__);
    int found = MORV_LOG_NO_PORT;
    int count = 0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        const int usage = (*it)->get_any_usage_as();
        bool has_role = false;
        for (int r = MORV_LOG_LATCH_CLEAR; r < MORV_LOG_LATCH_OTHER; ++r) has_role |= latch_port(*info, r) == usage;
        if (has_role) continue;
        found = usage;
        ++count;
    }
    return count == 1 ? found : MORV_LOG_NO_PORT;
}

// ------------------------------------------------------------------ carry chains

CDB_ATOM_NODE* MORV_LOG::get_next_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_CARRY_OUT);
    if (out == nullptr || !out->has_fanout()) out = node->get_output_term_by_type(DB_SHARE_OUT);
    if (out == nullptr || !out->has_fanout()) return nullptr;
    CDB_ATOM_ITERM* carry_in_iterm = *out->begin_iterm_fanout();
    MORV_ASSERT_TEXT(carry_in_iterm->is_connected(), "net_util->is_connected(carry_in_iterm)");
    // The last carry may leave the chain for other logic; the chain ends there.
    CDB_ATOM_NODE* next = carry_in_iterm->get_my_node();
    return next->is_lcell_comb() || next->is_lcell_hsadder() ? next : nullptr;
}

CDB_ATOM_NODE* MORV_LOG::get_previous_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_CARRY_IN);
    if (in == nullptr || !in->is_connected()) in = node->get_input_term_by_type(DB_SHARE_IN);
    if (in == nullptr || !in->is_connected() || in->get_source() == nullptr) return nullptr;
    // Logic outside a chain may drive its first carry input; the chain
    // starts after it.
    CDB_ATOM_NODE* driver = in->get_source()->get_my_node();
    return driver->is_lcell_comb() || driver->is_lcell_hsadder() ? driver : nullptr;
}

CDB_ATOM_NODE* MORV_LOG::get_carry_chain_head(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_NODE* head = node;
    // A chain is at most as long as the netlist; the bound stops a loop.
    for (CDB_ATOM_NODE* previous = get_previous_in_carry_chain(head); previous != nullptr && previous != node;
         previous = get_previous_in_carry_chain(head)) {
        if (previous->is_lcell_hsadder()) return nullptr;
        head = previous;
    }
    return head;
}

// ------------------------------------------------------------------ lookups by name

BPM_BOUNDARY_PORT_MANAGER* morv_log_port_manager(MORV_API* api)
{
    return api->get_morv_env()->get_boundary_port_manager();
}

HDB_ACTION_PT_INSTANCE* morv_log_action_point(MORV_API* api)
{
    CMP_FACADE* cmp = api->get_morv_env()->get_cmp();
    return cmp != nullptr ? cmp->get_action_point_instance() : nullptr;
}

namespace {

const char* const DUPBP = "_dupbp";

// The host's kinds of ports that no log names.
bool is_logged_port_kind(int kind)
{
    constexpr int UNLOGGED_PORT_KINDS[] = {3, 4};
    if (kind == BPM_BOUNDARY_PORT_MANAGER::NO_KIND) return false;
    return std::find(std::begin(UNLOGGED_PORT_KINDS), std::end(UNLOGGED_PORT_KINDS), kind) ==
           std::end(UNLOGGED_PORT_KINDS);
}

}  // namespace

void MORV_LOG::enter_boundary_port(int bp_id)
{
    const std::string bp_name = m_fsyn_api->get_boundary_port_name(bp_id);
    MORV_ASSERT_TEXT(!bp_name.empty(), "bp_name != \"\"");
    m_bp_name_to_bp_id_map[bp_name] = static_cast<uint32_t>(bp_id);
}

void MORV_LOG::build_boundary_port_map()
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api);
    if (bpm == nullptr) return;
    const int count = bpm->get_port_count();
    for (int id = 0; id < count; ++id)
        if (is_logged_port_kind(bpm->get_port_kind(id))) enter_boundary_port(id);
}

void MORV_LOG::add_boundary_port_tree(int bp_id)
{
    MORV_ASSERT_TEXT(bp_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT, "bpid != BPM_OPEN");
    BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api);
    if (bpm == nullptr) return;
    for (int child : bpm->get_child_ports(bp_id)) add_boundary_port_tree(child);
    enter_boundary_port(bp_id);
}

void MORV_LOG::build_partition_map()
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api);
    if (bpm == nullptr) return;
    const int count = bpm->get_partition_count();
    for (int id = 0; id < count; ++id) {
        const std::string part_name = m_fsyn_api->get_partition_name(id);
        MORV_ASSERT_TEXT(!part_name.empty(), "part_name != \"\"");
        m_part_name_to_part_id_map[part_name] = id;
    }
}

// A term bound to a bus port carries every port listed under it as well.
void MORV_LOG::build_boundary_port_term_map()
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api);
    CDB_ATOM_NETLIST* netlist = m_fsyn_api->get_atom_netlist();
    if (bpm == nullptr || netlist == nullptr) return;
    for (CDB_ATOM_NODE* node : *netlist)
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            if (!(*it)->has_fanout()) continue;
            const int bp_id = bpm->get_bound_port_id(*it);
            if (bp_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) add_boundary_port_term(bp_id, *it);
        }
}

void MORV_LOG::add_boundary_port_term(int bp_id, CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(bp_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT, "bpid != BPM_OPEN");
    MORV_ASSERT_TEXT(oterm, "oterm");
    if (BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api))
        for (int child : bpm->get_child_ports(bp_id)) add_boundary_port_term(child, oterm);
    m_bp_name_to_oterm_map[m_fsyn_api->get_boundary_port_name(bp_id)] = oterm;
    m_oterm_to_bp_ids_map[oterm].push_back(static_cast<uint32_t>(bp_id));
}

void MORV_LOG::index_node_by_name_id(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    if (HDB_INSTANCE_NAME* name = node->get_instance_name()) m_node_by_name_id[name->get_id()] = node;
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if (HDB_INSTANCE_NAME* name = (*it)->get_instance_name()) m_oterm_by_name_id[name->get_id()] = *it;
}

CDB_ATOM_NODE* MORV_LOG::find_node_by_logged_name(const std::string& name) const
{
    HDB_ACTION_PT_INSTANCE* ap = morv_log_action_point(m_fsyn_api);
    HDB_INSTANCE_NAME* iname = ap != nullptr ? ap->get_instance_name(name) : nullptr;
    if (iname == nullptr) return nullptr;
    auto it = m_node_by_name_id.find(iname->get_id());
    return it != m_node_by_name_id.end() ? it->second : nullptr;
}

int MORV_LOG::find_boundary_port_id(const std::string& name) const
{
    auto it = m_bp_name_to_bp_id_map.find(name);
    return it != m_bp_name_to_bp_id_map.end() ? static_cast<int>(it->second) : -1;
}

// A port duplicated for a boundary carries "_dupbp" in its name: it is the
// term of the port's "_r_dupbp" copy, entered under the asked name so that
// the next lookup finds it at once.
CDB_ATOM_OTERM* MORV_LOG::find_oterm_by_logged_name(const std::string& name)
{
    auto by_port = m_bp_name_to_oterm_map.find(name);
    if (by_port != m_bp_name_to_oterm_map.end()) return by_port->second;
    HDB_ACTION_PT_INSTANCE* ap = morv_log_action_point(m_fsyn_api);
    if (HDB_INSTANCE_NAME* iname = ap != nullptr ? ap->get_instance_name(name) : nullptr) {
        auto by_name = m_oterm_by_name_id.find(iname->get_id());
        if (by_name != m_oterm_by_name_id.end()) return by_name->second;
    }
    const size_t cut = name.find(DUPBP);
    if (cut == std::string::npos) return nullptr;
    std::string replica = name.substr(0, cut);
    replica += "_r_dupbp";
    auto found = m_bp_name_to_oterm_map.find(replica);
    if (found == m_bp_name_to_oterm_map.end()) return nullptr;
    CDB_ATOM_OTERM* oterm = found->second;
    m_bp_name_to_oterm_map[name] = oterm;
    auto id = m_bp_name_to_bp_id_map.find(replica);
    if (id != m_bp_name_to_bp_id_map.end()) m_bp_name_to_bp_id_map[name] = id->second;
    return oterm;
}
