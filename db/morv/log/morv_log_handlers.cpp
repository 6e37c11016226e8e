// Replay of one stored entry of each kind onto the netlist of the device
// the design migrated to. A stored log is user input: a node or term it
// names that this netlist lacks fails the entry, and the driver stops.

#include <algorithm>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cmp/cmp_facade.h"
#include "cut/cut_cell_util.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_msgs.h"
#include "morv/log/morv_log.h"
#include "morv/log/morv_log_internal.h"
#include "morv/log/morv_log_texts.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

namespace {

const char* text_of(const std::string& s)
{
    return s.c_str();
}

bool is_old_version(const std::string& version)
{
    return version == "6.0" || version == "5.1";
}

}  // namespace

// ------------------------------------------------------------------ shared steps

bool MORV_LOG::replay_logging() const
{
    return m_fsyn_api->get_fsyn_cdb_interface()->is_logging();
}

MORV_CDB_INTERFACE* MORV_LOG::cdb() const
{
    return m_fsyn_api->get_fsyn_cdb_interface();
}

void MORV_LOG::replay_disconnect(CDB_ATOM_ITERM* iterm)
{
    if (iterm->is_connected()) m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
}

void MORV_LOG::replay_connect(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm)
{
    replay_disconnect(iterm);
    m_net_util->insert_fanout(source, iterm);
}

void MORV_LOG::replay_tie(CDB_ATOM_ITERM* iterm, bool vcc)
{
    replay_disconnect(iterm);
    if (vcc) cdb()->set_iterm_vcc(iterm);
    else cdb()->set_iterm_gnd(iterm);
    m_fsyn_api->modify_edge(iterm, false);
}

void MORV_LOG::replay_clear_invert(CDB_ATOM_ITERM* iterm)
{
    if (!iterm->is_inverted()) return;
    if (replay_logging()) log_clear_invert(iterm);
    iterm->clear_invert();
}

// A logged source for one input term: a constant, or the output the log
// names. "~GND" means a ground only in logs of revision "6.0".
bool MORV_LOG::replay_connection_text(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type,
                                      const std::string& text)
{
    if (iterm == nullptr) {
        MORV_DEBUG_STREAM::print(1, "Add/remove connection could not find the input %d", port_type);
        return false;
    }
    if (text == MORV_LOG_VCC_TEXT) replay_tie(iterm, true);
    else if (text == MORV_LOG_GND_TEXT) replay_ground_text(node, iterm);
    else if (text == MORV_LOG_NOT_GND_TEXT && m_log_version == "6.0") replay_tie(iterm, false);
    else {
        CDB_ATOM_OTERM* source = find_oterm_by_logged_name(text);
        if (source == nullptr) return false;
        if (iterm->is_gnd()) replay_clear_invert(iterm);
        replay_connect(source, iterm);
    }
    return true;
}

// The source a slot's text names is here, and so is the term it connects
// or ties; a disconnection of a term that is not here is no edit.
bool MORV_LOG::connection_slot_ready(CDB_ATOM_NODE* node, int port_type, const std::string& text)
{
    if (text == MORV_LOG_DISCONNECT_TEXT) return true;
    const bool constant = text == MORV_LOG_VCC_TEXT || text == MORV_LOG_GND_TEXT ||
                          (text == MORV_LOG_NOT_GND_TEXT && m_log_version == "6.0");
    if (!constant && find_oterm_by_logged_name(text) == nullptr) {
        MORV_DEBUG_STREAM::print(1, "Add/remove connection could not find the oterm %s", text.c_str());
        return refuse_missing_name("source", text);
    }
    if (node->get_input_term_by_type(port_type) != nullptr) return true;
    MORV_DEBUG_STREAM::print(1, "Add/remove connection could not find the input %d", port_type);
    return false;
}

void MORV_LOG::replay_ground_text(CDB_ATOM_NODE*, CDB_ATOM_ITERM* iterm)
{
    replay_tie(iterm, false);
}

HDB_INSTANCE_NAME* MORV_LOG::find_instance_name(const std::string& name) const
{
    HDB_ACTION_PT_INSTANCE* ap = morv_log_action_point(m_fsyn_api);
    return ap != nullptr ? ap->get_instance_name(name) : nullptr;
}

HDB_INSTANCE_NAME* MORV_LOG::get_or_create_instance_name(const std::string& name) const
{
    if (HDB_INSTANCE_NAME* found = find_instance_name(name)) return found;
    HDB_ACTION_PT_INSTANCE* ap = morv_log_action_point(m_fsyn_api);
    HDB_NAME_MGR* names = ap != nullptr ? ap->get_name_mgr() : nullptr;
    HDB_INSTANCE_NAME* ap_root = names != nullptr ? names->get_root() : nullptr;
    MORV_ASSERT_TEXT(ap_root, "ap_root");
    const std::string temp_name = ap_root->get_hpath_to_root();
    MORV_ASSERT_TEXT(!temp_name.empty(), "!temp_name.empty()");
    return names->find_or_create_path(name, HDB_INAME_FLAG_UNUSED | HDB_INAME_FLAG_SYNTHESIZED);
}

CDB_ATOM_NODE* MORV_LOG::require_node(const std::string& name, const char* kind)
{
    CDB_ATOM_NODE* node = find_node_by_logged_name(name);
    if (node == nullptr) {
        MORV_DEBUG_STREAM::print(1, "%s: Can't find the node %s", kind, text_of(name));
        refuse_missing_name("node", name);
    }
    return node;
}

CDB_ATOM_ITERM* MORV_LOG::require_iterm(CDB_ATOM_NODE* node, const LOGDB_FSYN_LOG_ENTRY_TERM_BASE* entry,
                                        const char* kind)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(static_cast<int>(entry->m_usage_as), entry->m_term_index);
    if (iterm == nullptr)
        MORV_DEBUG_STREAM::print(1, "%s: Can't find the input %u:%u of %s", kind, entry->m_usage_as,
                                 unsigned(entry->m_term_index), text_of(entry->m_node_name));
    return iterm;
}

void MORV_LOG::place_in_same_lab(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map == nullptr || !chip_map->get_node_location(static_cast<int>(old_node->get_id()), &location)) return;
    if (location.x == MORV_OPEN) return;
    location.sub_loc = MORV_OPEN;
    location.saved_info_index = MORV_OPEN;
    chip_map->set_node_location(static_cast<int>(new_node->get_id()), location);
}

void MORV_LOG::forget_node(CDB_ATOM_NODE* node)
{
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        HDB_INSTANCE_NAME* name = (*it)->get_instance_name();
        if (name == nullptr) continue;
        auto found = m_oterm_by_name_id.find(name->get_id());
        if (found != m_oterm_by_name_id.end() && found->second == *it) m_oterm_by_name_id.erase(found);
    }
    for (auto it = m_bp_name_to_oterm_map.begin(); it != m_bp_name_to_oterm_map.end();)
        it = it->second->get_my_node() == node ? m_bp_name_to_oterm_map.erase(it) : std::next(it);
    if (HDB_INSTANCE_NAME* name = node->get_instance_name()) {
        auto found = m_node_by_name_id.find(name->get_id());
        if (found != m_node_by_name_id.end() && found->second == node) m_node_by_name_id.erase(found);
    }
}

// A sink of a deleted register keeps a defined value: it is tied to GND.
void MORV_LOG::release_fanouts(CDB_ATOM_OTERM* oterm)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    const bool is_register = m_net_util->is_ff(node);
    if (!is_register && !node->is_lcell_comb()) return;
    std::vector<CDB_ATOM_ITERM*> sinks(oterm->begin_iterm_fanout(), oterm->end_iterm_fanout());
    for (CDB_ATOM_ITERM* sink : sinks) {
        replay_disconnect(sink);
        if (!is_register) continue;
        store_node_info_before_change(sink->get_my_node());
        cdb()->set_iterm_gnd(sink);
        m_fsyn_api->modify_edge(sink, false);
    }
}

// A node the replay deletes is announced first when it is still pending,
// and so is every pending node made from it: the host never hears of a
// node after it was freed.
void MORV_LOG::delete_logged_node(CDB_ATOM_NODE* node)
{
    if (m_nodes_in_pending_inserts.count(node) != 0) insert_pending_nodes();
    std::vector<CDB_ATOM_ITERM*> inputs(node->begin_iterm(), node->end_iterm());
    for (CDB_ATOM_ITERM* iterm : inputs) replay_disconnect(iterm);
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) release_fanouts(*it);
    forget_node(node);
    m_fsyn_api->delete_node(node);
}

// ------------------------------------------------------------------ insert and delete

bool MORV_LOG::reproduce_insert_atom(LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM* entry)
{
    MORV_DEBUG_STREAM::print(100, "Reproducing insert atom %s", text_of(entry->m_node_name));
    CDB_ATOM_OTERM* source = find_oterm_by_logged_name(entry->m_made_from_name);
    if (source == nullptr) {
        MORV_DEBUG_STREAM::print(1, "Unable to find the oterm %s", text_of(entry->m_made_from_name));
        return refuse_missing_name("output", entry->m_made_from_name);
    }
    CDB_ATOM_NODE* old_node = source->get_my_node();
    if (old_node == nullptr) {
        MORV_DEBUG_STREAM::print(1, "Unable to find the node %s", text_of(entry->m_made_from_name));
        return false;
    }
    // Two nodes of one name would make every later entry ambiguous.
    if (find_node_by_logged_name(entry->m_node_name) != nullptr) {
        MORV_DEBUG_STREAM::print(1, "The node %s exists already", text_of(entry->m_node_name));
        return refuse_entry("the node it makes exists already");
    }
    HDB_INSTANCE_NAME* name = get_or_create_instance_name(entry->m_node_name);
    CDB_ATOM_NODE* node = entry->m_is_comb ? create_lcell_comb(name) : create_lcell_ff(name);
    if (node == nullptr) return false;
    place_in_same_lab(node, old_node);
    m_nodes_to_insert[name->get_id()] = {node, old_node, entry->m_is_kind3};
    m_nodes_in_pending_inserts.insert(node);
    m_nodes_in_pending_inserts.insert(old_node);
    m_node_by_name_id[name->get_id()] = node;
    if (!entry->m_is_comb) {
        CDB_ATOM_ITERM* clear = nullptr;
        cdb()->create_input_term(nullptr, clear, node, DB_CLEAR, 0);
        cdb()->set_iterm_vcc(clear);
    }
    return true;
}

namespace {

// Port usages of a combinational cell's outputs that a deletion may cut.
bool is_carry_or_share_output(const CDB_ATOM_OTERM* oterm)
{
    return oterm->get_usage() == DB_CARRY_OUT || oterm->get_usage() == DB_SHARE_OUT;
}

}  // namespace

bool MORV_LOG::reproduce_delete_atom(LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM* entry)
{
    std::vector<CDB_ATOM_OTERM*> found;
    for (const std::string& name : entry->m_oterm_names)
        if (CDB_ATOM_OTERM* oterm = find_oterm_by_logged_name(name)) {
            MORV_DEBUG_STREAM::print(100, "Reproducing delete atom %s", text_of(name));
            found.push_back(oterm);
        }
    // A cell whose output still feeds logic here is kept whole: deleting it
    // would leave its sinks without a source.
    for (CDB_ATOM_OTERM* oterm : found)
        if (oterm->get_my_node()->is_lcell_comb() && oterm->has_fanout() && !is_carry_or_share_output(oterm)) {
            MORV_DEBUG_STREAM::print(100, "Warning:  Node to be deleted still has fanout");
            const std::string node_name = entry->m_node_name.empty() ? std::string("?") : entry->m_node_name;
            morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_LOG_NODE_STILL_HAS_FANOUT, node_name));
            return true;
        }
    std::vector<CDB_ATOM_NODE*> nodes;
    for (CDB_ATOM_OTERM* oterm : found) {
        release_fanouts(oterm);
        if (std::find(nodes.begin(), nodes.end(), oterm->get_my_node()) == nodes.end())
            nodes.push_back(oterm->get_my_node());
    }
    for (CDB_ATOM_NODE* node : nodes) delete_logged_node(node);
    return true;
}

// ------------------------------------------------------------------ terms

namespace {

// A port the node does not have, or an index an ordered port cannot take,
// comes from a log of another netlist.
bool may_hold_input(const CDB_ATOM_NODE* node, int port_type, int index)
{
    if (port_type < 0 || port_type >= DB_MAX_INPUT_PORT_TYPE || !node->implements(port_type)) return false;
    return index == 0 || node->get_input_port_number(port_type) >= node->get_ordered_input_count();
}

}  // namespace

bool MORV_LOG::reproduce_create_iterm(LOGDB_FSYN_LOG_ENTRY_CREATE_ITERM* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "CREATE_ITERM");
    if (node == nullptr) return false;
    const int port_type = static_cast<int>(entry->m_port_type);
    MORV_DEBUG_STREAM::print(100, "Reproducing create iterm %s %d", text_of(entry->m_node_name), port_type);
    const int index = is_old_version(m_log_version) ? 0 : entry->m_unordered_index;
    if (!may_hold_input(node, port_type, index)) return false;
    if (CDB_ATOM_ITERM* existing = node->get_input_term_by_type(port_type, index)) m_net_util->delete_iterm(existing);
    if (node->get_input_term_by_type(port_type, index) != nullptr) return true;
    CDB_ATOM_ITERM* iterm = nullptr;
    cdb()->create_input_term(nullptr, iterm, node, port_type, index);
    return true;
}

bool MORV_LOG::reproduce_create_oterm(LOGDB_FSYN_LOG_ENTRY_CREATE_OTERM* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "CREATE_OTERM");
    if (node == nullptr) return false;
    const int port_type = static_cast<int>(entry->m_port_type);
    MORV_DEBUG_STREAM::print(100, "Reproducing create oterm %s %d", text_of(entry->m_node_name), port_type);
    if (!node->implements_output(port_type) || node->get_output_term_by_type(port_type) != nullptr) return false;
    HDB_INSTANCE_NAME* name = get_or_create_instance_name(entry->m_term_name);
    CDB_ATOM_OTERM* oterm = nullptr;
    cdb()->create_oterm(nullptr, oterm, node, port_type, name);
    m_oterm_by_name_id[name->get_id()] = oterm;
    return true;
}

CDB_LUTMASK MORV_LOG::convert_lutmask_bit_order(uint64_t mask, bool extended, bool arithmetic)
{
    if (extended) {
        CDB_LUTMASK converted(6, mask);
        for (int input = 0; input < 4; ++input) converted.invert_input(input);
        return converted;
    }
    if (arithmetic) {
        CDB_LUTMASK low(4, mask & 0xffff);
        CDB_LUTMASK high(4, (mask >> 32) & 0xffff);
        for (int input = 0; input < 4; ++input) {
            low.invert_input(input);
            high.invert_input(input);
        }
        return CDB_LUTMASK(6, (high.get_value() << 32) | low.get_value());
    }
    CDB_LUTMASK converted(6, mask);
    for (int input = 0; input < 6; ++input) converted.invert_input(input);
    return converted;
}

bool MORV_LOG::reproduce_set_lutmask(LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "SET_LUTMASK");
    if (node == nullptr || !node->is_lcell_comb()) return false;
    MORV_DEBUG_STREAM::print(100, "Reproducing set lutmask %s", text_of(entry->m_node_name));
    const bool extended = m_net_util->is_in_extended_mode(node) || node->get_input_term_by_type(DB_DATA_G) != nullptr;
    const CDB_LUTMASK mask =
        convert_lutmask_bit_order(entry->m_lutmask, extended, m_net_util->is_in_arithmetic_mode(node));
    const int flag = entry->m_flag ? 1 : 0;
    switch (entry->m_lutmask_type) {
    case 0: cdb()->set_lutmask(node, mask, flag); break;
    case LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK::SUM: cdb()->set_sum_lutmask(node, mask, flag); break;
    case MORV_LOG_LUTMASK_VIA_NODE:
        node->set_lutmask(mask, flag);
        if (replay_logging()) log_set_lutmask_via_node(node, mask, flag);
        break;
    default: return false;
    }
    m_fsyn_api->modify_node(node);
    return true;
}

// The common first steps of the entries about one input term: an adder
// pair takes the entry as a whole; otherwise node and term must exist.
#define MORV_REPLAY_TERM(ENTRY, KIND, TRACE)                                                                           \
    if (m_hs_adder_names.count((ENTRY)->m_node_name) != 0) return reproduce_entry_for_hs_adder(ENTRY);                 \
    CDB_ATOM_NODE* node = require_node((ENTRY)->m_node_name, KIND);                                                    \
    if (node == nullptr) return false;                                                                                 \
    MORV_DEBUG_STREAM::print(100, TRACE, text_of((ENTRY)->m_node_name), int((ENTRY)->m_usage_as));                     \
    CDB_ATOM_ITERM* iterm = require_iterm(node, ENTRY, KIND);

bool MORV_LOG::reproduce_set_usage_as(LOGDB_FSYN_LOG_ENTRY_SET_USAGE_AS* entry)
{
    MORV_REPLAY_TERM(entry, "SET_USAGE_AS", "Reproducing set usage as %s %d")
    const int usage = static_cast<int>(entry->m_new_usage);
    if (iterm == nullptr || usage >= DB_MAX_INPUT_PORT_TYPE || !node->implements(usage)) return false;
    if (!iterm->is_used_as(usage)) {
        if (iterm->get_usage_count() >= CDB_ATOM_ITERM::MAX_USAGES) return false;
        iterm->set_usage_as(usage);
    }
    if (replay_logging()) log_set_usage_as(iterm, usage);
    return true;
}

bool MORV_LOG::reproduce_reset_delay_chain(LOGDB_FSYN_LOG_ENTRY_RESET_DELAY_CHAIN* entry)
{
    MORV_REPLAY_TERM(entry, "RESET_DELAY_CHAIN", "Reproducing reset delay chain %s %d")
    if (iterm == nullptr) return false;
    cdb()->reset_iterm_delay_chain(iterm);
    return true;
}

bool MORV_LOG::reproduce_set_connected_to_delay_chain(LOGDB_FSYN_LOG_ENTRY_SET_CONNECTED_TO_DELAY_CHAIN* entry)
{
    MORV_REPLAY_TERM(entry, "SET_CONNECTED_TO_DELAY_CHAIN", "Reproducing set connected to delay chain %s %d")
    if (iterm == nullptr) return false;
    cdb()->set_iterm_connected_to_delay_chain(iterm, entry->m_connected);
    return true;
}

bool MORV_LOG::reproduce_clear_invert(LOGDB_FSYN_LOG_ENTRY_CLEAR_INVERT* entry)
{
    MORV_REPLAY_TERM(entry, "CLEAR_INVERT", "Reproducing clear invert %s %d")
    if (iterm == nullptr) return false;
    replay_clear_invert(iterm);
    return true;
}

bool MORV_LOG::reproduce_set_invert(LOGDB_FSYN_LOG_ENTRY_SET_INVERT* entry)
{
    MORV_REPLAY_TERM(entry, "SET_INVERT", "Reproducing set invert %s %d")
    if (iterm == nullptr) return false;
    if (replay_logging()) log_set_invert(iterm);
    iterm->set_invert();
    return true;
}

bool MORV_LOG::reproduce_set_global(LOGDB_FSYN_LOG_ENTRY_SET_GLOBAL* entry)
{
    MORV_REPLAY_TERM(entry, "SET_GLOBAL", "Reproducing set global %s %d")
    if (iterm == nullptr) return false;
    const int value = static_cast<int>(entry->m_global_type & 0x1f);
    if ((iterm->get_global() & 0x1f) == value) return true;
    if (replay_logging()) log_set_global(iterm, value);
    iterm->set_global(value);
    return true;
}

bool MORV_LOG::reproduce_clear_global(LOGDB_FSYN_LOG_ENTRY_CLEAR_GLOBAL* entry)
{
    MORV_REPLAY_TERM(entry, "CLEAR_GLOBAL", "Reproducing clear global %s %d")
    if (iterm == nullptr) return false;
    if (replay_logging()) log_clear_global(iterm);
    iterm->set_global(0);
    return true;
}

bool MORV_LOG::reproduce_set_iterm_properties(LOGDB_FSYN_LOG_ENTRY_SET_ITERM_PROPERTIES* entry)
{
    MORV_REPLAY_TERM(entry, "SET_ITERM_PROPERTIES", "Reproducing set iterm properties %s %d")
    if (iterm == nullptr) return false;
    cdb()->set_iterm_properties(iterm, entry->m_invert, entry->m_global, DB_DELAY_CHAIN_INPUT,
                                entry->m_connected_to_delay_chain, entry->m_use_delay_chain, entry->m_delay_chain_index,
                                entry->m_user_delay_chain);
    return true;
}

bool MORV_LOG::reproduce_disconnect_boundary_port_id(LOGDB_FSYN_LOG_ENTRY_DISCONNECT_BOUNDARY_PORT_ID* entry)
{
    MORV_REPLAY_TERM(entry, "DISCONNECT_BOUNDARY_PORT_ID", "Reproducing disconnect boundary port id %s %d")
    // A register of this family may lack the term the other family had.
    if (iterm == nullptr) return m_net_util->is_ff(node);
    m_fsyn_api->set_boundary_port_id(iterm, -1);
    return true;
}

bool MORV_LOG::reproduce_set_boundary_port_id(LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID* entry)
{
    MORV_REPLAY_TERM(entry, "SET_BOUNDARY_PORT_ID", "Reproducing set boundary port id %s %d")
    const int bp_id = find_boundary_port_id(entry->m_bp_name);
    MORV_DEBUG_STREAM::print(100, "TO BPID: %s (%d)", text_of(entry->m_bp_name), bp_id);
    auto bp_oterm = m_bp_name_to_oterm_map.find(entry->m_bp_name);
    if (iterm == nullptr || bp_id < 0 || bp_oterm == m_bp_name_to_oterm_map.end()) return false;
    m_fsyn_api->set_boundary_port_id(iterm, bp_id);
    replay_connect(bp_oterm->second, iterm);
    return true;
}

#undef MORV_REPLAY_TERM

bool MORV_LOG::reproduce_replace_input_term_by_type(LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE* entry)
{
    if (m_hs_adder_names.count(entry->m_node_name) != 0) return reproduce_entry_for_hs_adder(entry);
    const int port_type = static_cast<int>(entry->m_port_type);
    MORV_DEBUG_STREAM::print(100, "Reproducing replace input term by type %s %d", text_of(entry->m_node_name),
                             port_type);
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "REPLACE_INPUT_TERM_BY_TYPE");
    if (node == nullptr) return false;
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (iterm == nullptr) return m_net_util->is_ff(node);
    replay_disconnect(iterm);
    m_net_util->remove_input_term(node, nullptr, iterm->get_any_usage_as());
    delete iterm;
    return true;
}

bool MORV_LOG::reproduce_remove_unordered_fanout_term(LOGDB_FSYN_LOG_ENTRY_REMOVE_UNORDERED_FANOUT_TERM* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "REMOVE_UNORDERED_FANOUT_TERM");
    if (node == nullptr) return false;
    const int port_type = static_cast<int>(entry->m_port_type);
    if (replay_logging()) log_remove_unordered_fanout_term(node, port_type, entry->m_index);
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(port_type, entry->m_index);
    if (oterm == nullptr) return true;
    if (HDB_INSTANCE_NAME* name = oterm->get_instance_name()) {
        auto found = m_oterm_by_name_id.find(name->get_id());
        if (found != m_oterm_by_name_id.end() && found->second == oterm) m_oterm_by_name_id.erase(found);
    }
    node->remove_unordered_fanout_term(oterm);
    delete oterm;
    return true;
}

// ------------------------------------------------------------------ boundary ports

bool MORV_LOG::reproduce_move_boundary_port_id(LOGDB_FSYN_LOG_ENTRY_MOVE_BOUNDARY_PORT_ID* entry)
{
    MORV_DEBUG_STREAM::print(100, "Reproducing move boundary port id");
    MORV_DEBUG_STREAM::print(100, "%s -> %s", text_of(entry->m_from_term_name), text_of(entry->m_to_term_name));
    CDB_ATOM_OTERM* src = find_oterm_by_logged_name(entry->m_from_term_name);
    CDB_ATOM_OTERM* dst = find_oterm_by_logged_name(entry->m_to_term_name);
    if (src == nullptr || dst == nullptr || src == dst) return false;
    m_fsyn_api->move_boundary_port_id(src, dst);
    auto bound = m_oterm_to_bp_ids_map.find(src);
    if (bound != m_oterm_to_bp_ids_map.end()) {
        std::vector<uint32_t> ids = std::move(bound->second);
        m_oterm_to_bp_ids_map.erase(bound);
        for (uint32_t id : ids) m_bp_name_to_oterm_map[m_fsyn_api->get_boundary_port_name(int(id))] = dst;
        std::vector<uint32_t>& dst_ids = m_oterm_to_bp_ids_map[dst];
        dst_ids.insert(dst_ids.end(), ids.begin(), ids.end());
    }
    std::vector<CDB_ATOM_ITERM*> sinks(src->begin_iterm_fanout(), src->end_iterm_fanout());
    for (CDB_ATOM_ITERM* sink : sinks)
        if (m_fsyn_api->get_assigned_boundary_port_id(sink) != -1) replay_connect(dst, sink);
    return true;
}

// ------------------------------------------------------------------ DSP ports and node-level kinds

bool MORV_LOG::reproduce_mac_port_setting(LOGDB_FSYN_LOG_ENTRY_NODE_BASE* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "DSP port setting");
    if (node == nullptr || !(node->is_mac_mult() || node->is_mac_out())) return false;
    switch (entry->m_type) {
    case LOGDB_FSYN_LOG_OPERATION_SET_OUTPUT_PORT_CLOCK: {
        auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_SET_OUTPUT_PORT_CLOCK*>(entry);
        cdb()->set_output_port_clock(node, int(e->m_port_type), e->m_value);
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_SET_OUTPUT_PORT_CLEAR: {
        auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_SET_OUTPUT_PORT_CLEAR*>(entry);
        cdb()->set_output_port_clear(node, int(e->m_port_type), e->m_value);
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_CLOCK: {
        auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_SET_INPUT_PORT_CLOCK*>(entry);
        cdb()->set_input_port_clock(node, int(e->m_port_type), e->m_value);
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_CLEAR: {
        auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_SET_INPUT_PORT_CLEAR*>(entry);
        cdb()->set_input_port_clear(node, int(e->m_port_type), e->m_value);
        break;
    }
    default: {
        auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_SET_INPUT_PORT_WIDTH*>(entry);
        cdb()->set_input_port_width(node, int(e->m_port_type), int(e->m_width));
        break;
    }
    }
    return true;
}

bool MORV_LOG::reproduce_clear_node_assignments(LOGDB_FSYN_LOG_ENTRY_CLEAR_NODE_ASSIGNMENTS* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "clear node assignments");
    if (node == nullptr) return false;
    m_fsyn_api->get_morv_env()->clear_node_assignments(node);
    return true;
}

bool MORV_LOG::reproduce_copy_node_assignments(LOGDB_FSYN_LOG_ENTRY_COPY_NODE_ASSIGNMENTS* entry)
{
    CDB_ATOM_NODE* first = require_node(entry->m_node_name, "copy node assignments");
    CDB_ATOM_NODE* second = require_node(entry->m_second_node_name, "copy node assignments");
    if (first == nullptr || second == nullptr) return false;
    m_fsyn_api->get_morv_env()->copy_node_assignments(second, first, 0, 0);
    return true;
}

bool MORV_LOG::reproduce_copy_oterm_timing_assignments(LOGDB_FSYN_LOG_ENTRY_COPY_OTERM_TIMING_ASSIGNMENTS* entry)
{
    HDB_INSTANCE_NAME* source = find_instance_name(entry->m_source_name);
    HDB_INSTANCE_NAME* copy = find_instance_name(entry->m_new_name);
    if (source != nullptr && copy != nullptr) m_fsyn_api->copy_oterm_timing_assignment(source, copy);
    return true;
}

bool MORV_LOG::reproduce_set_user_lcell(LOGDB_FSYN_LOG_ENTRY_SET_USER_LCELL* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "SET_USER_LCELL");
    if (node == nullptr) return false;
    node->set_user_lcell(true);
    if (replay_logging()) log_set_user_lcell(node);
    return true;
}

bool MORV_LOG::reproduce_set_invert_observable(LOGDB_FSYN_LOG_ENTRY_SET_INVERT_OBSERVABLE* entry)
{
    CDB_ATOM_NODE* node = require_node(entry->m_node_name, "SET_INVERT_OBSERVABLE");
    if (node == nullptr) return false;
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(static_cast<int>(entry->m_port_type), 0);
    if (oterm == nullptr) return false;
    oterm->set_invert_observable(true);
    if (replay_logging()) log_set_invert_observable(node, static_cast<int>(entry->m_port_type));
    return true;
}

// ------------------------------------------------------------------ connections of other nodes

namespace {

bool is_family_cell(int atom_type)
{
    return MORV_LOG::get_connection_slot_count(atom_type) != 0;
}

}  // namespace

bool MORV_LOG::apply_connection_array(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry, CDB_ATOM_NODE* node)
{
    if (is_family_cell(node->get_atom_type())) return false;
    // The RAM form lists the changes in order; other kinds carry no
    // term of their own per slot and have nothing to apply.
    if (entry->m_type != LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM) return true;
    auto* ram = static_cast<LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_RAM*>(entry);
    for (size_t i = 0; i < ram->m_sources.size(); ++i) {
        CDB_ATOM_ITERM* iterm =
            node->get_input_term_by_type(static_cast<int>(ram->m_usage_as[i]), ram->m_term_indices[i]);
        if (iterm == nullptr || m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1) continue;
        const std::string& text = ram->m_sources[i];
        if (text == "DISCONNECT") replay_disconnect(iterm);
        else if (text == "VCC") replay_tie(iterm, true);
        else if (text == "GND" || text == "~GND") replay_tie(iterm, false);
        else if (CDB_ATOM_OTERM* source = find_oterm_by_logged_name(text)) {
            replay_connect(source, iterm);
            if (CUT_CLKBUF_UTIL::is_pure_clkbuf(source->get_my_node())) {
                cdb()->reset_iterm_delay_chain(iterm);
                cdb()->set_iterm_connected_to_delay_chain(iterm, false);
            }
        }
    }
    return true;
}
