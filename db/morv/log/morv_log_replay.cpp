// The replay of a stored change log: the whole file is read and checked
// before the first edit, since a log is user input and a damaged one must
// leave the netlist as it was; then every entry goes to its handler in
// file order until one fails.

#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_cell_util.h"
#include "dev/dev_device.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_msgs.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/netlist/morv_net_util.h"

namespace {

[[noreturn]] void replay_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

constexpr uint32_t LAST_TYPE = 46;
constexpr int CLOCK_TYPE_KEPT_A = 4;
constexpr int CLOCK_TYPE_KEPT_B = 5;

// ------------------------------------------------------------------ checks of one record

// Built by appending: GCC 12 warns falsely on a literal plus a string.
std::string with_number(const char* text, long long number, const char* tail = "")
{
    std::string out = text;
    out += std::to_string(number);
    out += tail;
    return out;
}

bool is_unrecognized_type(uint32_t type)
{
    return type > LAST_TYPE || type == 4 || type == 5;
}

// Slots of the connection forms that carry one text per input port.
int expected_slot_count(uint32_t type)
{
    switch (type) {
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_COMB:
        return MORV_LOG::get_connection_slot_count(CDB_ATOM_BRK_LCELL_COMB_ENUM);
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_FF:
        return MORV_LOG::get_connection_slot_count(CDB_ATOM_BRK_LCELL_FF_ENUM);
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_IO:
        return MORV_LOG::get_connection_slot_count(CDB_ATOM_BRK_IO_ENUM);
    default: return -1;
    }
}

bool any_empty(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        if (name.empty()) return true;
    return false;
}

std::string check_connection(const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION& entry)
{
    const int slots = expected_slot_count(entry.m_type);
    if (slots >= 0 && entry.m_connection_array.size() != static_cast<size_t>(slots))
        return with_number("connection record with ", static_cast<long long>(entry.m_connection_array.size()),
                           " slots, not ") +
               std::to_string(slots);
    if (any_empty(entry.m_connection_array)) return "connection record with an empty source name";
    if (entry.m_type != LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM) return {};
    const auto& ram = static_cast<const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_RAM&>(entry);
    if (any_empty(ram.m_sources)) return "RAM connection record with an empty source name";
    for (uint32_t usage : ram.m_usage_as)
        if (usage >= static_cast<uint32_t>(DB_MAX_INPUT_PORT_TYPE)) return "RAM connection record with a bad port";
    return {};
}

// Every rebuilt cell is a combinational cell: its inputs are that group's
// slots, for an adder as much as for a plain cell or a latch.
std::string check_store_node_info(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO& entry)
{
    const int slots = MORV_LOG::get_connection_slot_count(CDB_ATOM_BRK_LCELL_COMB_ENUM);
    for (int32_t slot : entry.m_input_ports)
        if (slot < 0 || slot >= slots) return with_number("stored node with input slot ", slot);
    for (int32_t port : entry.m_output_ports)
        if (port < 0 || port >= DB_MAX_OUTPUT_PORT_TYPE) return with_number("stored node with output port ", port);
    if (any_empty(entry.m_sources) || any_empty(entry.m_output_port_name)) return "stored node with an empty name";
    if (entry.m_is_constant_driver && entry.m_output_port_name.size() != 1)
        return "stored constant driver without exactly one output";
    return {};
}

// Names every handler looks things up by.
std::string check_names(const LOGDB_FSYN_LOG_ENTRY& record)
{
    const char* const empty = "record with an empty name";
    switch (record.m_type) {
    case LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM:
        if (static_cast<const LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM&>(record).m_made_from_name.empty()) return empty;
        break;
    case LOGDB_FSYN_LOG_OPERATION_DELETE_ATOM:
        if (any_empty(static_cast<const LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM&>(record).m_oterm_names)) return empty;
        break;
    case LOGDB_FSYN_LOG_OPERATION_CREATE_OTERM:
        if (static_cast<const LOGDB_FSYN_LOG_ENTRY_CREATE_OTERM&>(record).m_term_name.empty()) return empty;
        break;
    case LOGDB_FSYN_LOG_OPERATION_MOVE_BOUNDARY_PORT_ID: {
        const auto& e = static_cast<const LOGDB_FSYN_LOG_ENTRY_MOVE_BOUNDARY_PORT_ID&>(record);
        if (e.m_from_term_name.empty() || e.m_to_term_name.empty()) return empty;
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_SET_BOUNDARY_PORT_ID:
        if (static_cast<const LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID&>(record).m_bp_name.empty()) return empty;
        break;
    case LOGDB_FSYN_LOG_OPERATION_COPY_NODE_ASSIGNMENTS:
        if (static_cast<const LOGDB_FSYN_LOG_ENTRY_COPY_NODE_ASSIGNMENTS&>(record).m_second_node_name.empty())
            return empty;
        break;
    case LOGDB_FSYN_LOG_OPERATION_COPY_OTERM_TIMING_ASSIGNMENTS: {
        const auto& e = static_cast<const LOGDB_FSYN_LOG_ENTRY_COPY_OTERM_TIMING_ASSIGNMENTS&>(record);
        if (e.m_source_name.empty() || e.m_new_name.empty()) return empty;
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_IGNORE_PARTITION_BP_INFO:
        if (static_cast<const LOGDB_FSYN_LOG_ENTRY_IGNORE_PARTITION_BP_INFO&>(record).m_partition_name_again.empty())
            return empty;
        break;
    case LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF: {
        const auto& e = static_cast<const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF&>(record);
        if (e.m_output_name.empty() || e.m_clk_source_name.empty()) return empty;
        break;
    }
    default: break;
    }
    const auto* node_record = dynamic_cast<const LOGDB_FSYN_LOG_ENTRY_NODE_BASE*>(&record);
    if (node_record != nullptr && node_record->m_node_name.empty() &&
        record.m_type != LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF)
        return empty;
    return {};
}

std::string check_record(const LOGDB_FSYN_LOG_ENTRY& record)
{
    if (is_unrecognized_type(record.m_type)) return with_number("Unrecognized log entry type ", record.m_type);
    if (const char* fault = record.check_fields()) return fault;
    if (const auto* connection = dynamic_cast<const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION*>(&record)) {
        std::string fault = check_connection(*connection);
        if (!fault.empty()) return fault;
    }
    switch (record.m_type) {
    case LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO: {
        std::string fault = check_store_node_info(static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO&>(record));
        if (!fault.empty()) return fault;
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_SET_LUTMASK:
        if (static_cast<const LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK&>(record).m_lutmask_type > 2)
            return "unknown LUT-mask kind";
        break;
    default: break;
    }
    return check_names(record);
}

// The masks of a log are converted for the other family: replayed on its
// own family, every LUT would come out reversed.
bool is_recorded_on_family(const LOGDB_FSYN_LOG_ENTRY& record, int family)
{
    const auto* revision = dynamic_cast<const LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER*>(&record);
    return revision != nullptr && revision->get_base_family() == static_cast<uint32_t>(family);
}

std::string at_offset(uint64_t offset, const std::string& reason)
{
    std::string text = "offset ";
    text += std::to_string(offset);
    text += ": ";
    text += reason;
    return text;
}

}  // namespace

// ------------------------------------------------------------------ reading

bool MORV_LOG::read_stored_log(RECORD_LIST& out_records, std::string& out_error)
{
    out_records.clear();
    m_record_offsets.clear();
    m_recorded_on_this_family = false;
    m_log_file->close();
    uint64_t last_offset = 0;
    for (;;) {
        const uint64_t offset = m_log_file->get_read_offset();
        LOGDB_FSYN_LOG_ENTRY_OWNER record = m_log_file->read_fsyn_log_entry();
        if (!record) break;
        if (is_recorded_on_family(*record, m_fsyn_api->get_base_family_code())) {
            m_recorded_on_this_family = true;
            out_error = at_offset(offset, "the log was recorded on a device of this family");
            break;
        }
        const std::string fault = check_record(*record);
        if (!fault.empty()) {
            out_error = at_offset(offset, fault);
            break;
        }
        last_offset = offset;
        m_record_offsets.push_back(offset);
        out_records.push_back(std::move(record));
    }
    const LOGDB_READ_ERROR read_error = m_log_file->error();
    m_log_file->close();
    if (out_error.empty() && read_error.is_set()) out_error = at_offset(read_error.m_offset, read_error.m_reason);
    // A written log holds at least its closing record: a file without any
    // record is what a full disk or a killed copy leaves, not an empty log.
    if (out_error.empty() && out_records.empty() && !m_log_file->is_chained())
        out_error = at_offset(0, "the file holds no record, not even the closing record every written log ends "
                                 "with; it was cut short or never written");
    // Every flow ends its part of the log with END_OF_LOG: a log that ends
    // otherwise was cut short.
    if (out_error.empty() && !out_records.empty() && out_records.back()->m_type != LOGDB_FSYN_LOG_OPERATION_END_OF_LOG)
        out_error = at_offset(last_offset, "the log does not end with an END_OF_LOG record; it was cut short");
    if (out_error.empty()) return true;
    out_records.clear();
    return false;
}

// ------------------------------------------------------------------ the driver

bool MORV_LOG::dispatch_entry(LOGDB_FSYN_LOG_ENTRY* entry, bool& first_delete)
{
    switch (entry->m_type) {
    case LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM:
        return reproduce_insert_atom(static_cast<LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_DELETE_ATOM:
        if (first_delete) insert_pending_nodes();
        first_delete = false;
        return reproduce_delete_atom(static_cast<LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_CREATE_ITERM:
        return reproduce_create_iterm(static_cast<LOGDB_FSYN_LOG_ENTRY_CREATE_ITERM*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_CREATE_OTERM:
        return reproduce_create_oterm(static_cast<LOGDB_FSYN_LOG_ENTRY_CREATE_OTERM*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_LUTMASK:
        return reproduce_set_lutmask(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_USAGE_AS:
        return reproduce_set_usage_as(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_USAGE_AS*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_RESET_DELAY_CHAIN:
        return reproduce_reset_delay_chain(static_cast<LOGDB_FSYN_LOG_ENTRY_RESET_DELAY_CHAIN*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_CONNECTED_TO_DELAY_CHAIN:
        return reproduce_set_connected_to_delay_chain(
            static_cast<LOGDB_FSYN_LOG_ENTRY_SET_CONNECTED_TO_DELAY_CHAIN*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_INVERT:
        return reproduce_clear_invert(static_cast<LOGDB_FSYN_LOG_ENTRY_CLEAR_INVERT*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_INVERT:
        return reproduce_set_invert(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_INVERT*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_GLOBAL:
        return reproduce_set_global(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_GLOBAL*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_GLOBAL:
        return reproduce_clear_global(static_cast<LOGDB_FSYN_LOG_ENTRY_CLEAR_GLOBAL*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_REPLACE_INPUT_TERM_BY_TYPE:
        return reproduce_replace_input_term_by_type(
            static_cast<LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_REMOVE_UNORDERED_FANOUT_TERM:
        return reproduce_remove_unordered_fanout_term(
            static_cast<LOGDB_FSYN_LOG_ENTRY_REMOVE_UNORDERED_FANOUT_TERM*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_MOVE_BOUNDARY_PORT_ID:
        return reproduce_move_boundary_port_id(static_cast<LOGDB_FSYN_LOG_ENTRY_MOVE_BOUNDARY_PORT_ID*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_BOUNDARY_PORT_ID:
        return reproduce_set_boundary_port_id(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_DISCONNECT_BOUNDARY_PORT_ID:
        return reproduce_disconnect_boundary_port_id(
            static_cast<LOGDB_FSYN_LOG_ENTRY_DISCONNECT_BOUNDARY_PORT_ID*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_ITERM_PROPERTIES:
        return reproduce_set_iterm_properties(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_ITERM_PROPERTIES*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO:
        // Stored states replay only in the layout of this version.
        if (m_log_version == LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER::s_current_version)
            return reproduce_store_node_info(static_cast<LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(entry));
        morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_LOG_CREATED_FROM_WRONG_VELMORA_REVISION));
        return false;
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_COMB:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_FF:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_IO:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM:
        return reproduce_add_remove_connection(static_cast<LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_OUTPUT_PORT_CLOCK:
    case LOGDB_FSYN_LOG_OPERATION_SET_OUTPUT_PORT_CLEAR:
    case LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_CLOCK:
    case LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_CLEAR:
    case LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_WIDTH:
        return reproduce_mac_port_setting(static_cast<LOGDB_FSYN_LOG_ENTRY_NODE_BASE*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_NODE_ASSIGNMENTS:
        return reproduce_clear_node_assignments(static_cast<LOGDB_FSYN_LOG_ENTRY_CLEAR_NODE_ASSIGNMENTS*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_COPY_NODE_ASSIGNMENTS:
        return reproduce_copy_node_assignments(static_cast<LOGDB_FSYN_LOG_ENTRY_COPY_NODE_ASSIGNMENTS*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_COPY_OTERM_TIMING_ASSIGNMENTS:
        return reproduce_copy_oterm_timing_assignments(
            static_cast<LOGDB_FSYN_LOG_ENTRY_COPY_OTERM_TIMING_ASSIGNMENTS*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_USER_LCELL:
        return reproduce_set_user_lcell(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_USER_LCELL*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_SET_INVERT_OBSERVABLE:
        return reproduce_set_invert_observable(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_INVERT_OBSERVABLE*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_PRE_PLACEMENT_FLOW:
        insert_pending_nodes();
        first_delete = true;
        return true;
    case LOGDB_FSYN_LOG_OPERATION_END_OF_LOG_PRINT:
    case LOGDB_FSYN_LOG_OPERATION_END_OF_LOG:
        // The end of a batch: its new nodes are whole. Later batches name
        // them as sources and origins, so they are announced here, not
        // only when a flow's first deletion comes.
        insert_pending_nodes();
        return true;
    case LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER:
        m_log_version = static_cast<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER*>(entry)->get_version();
        return true;
    case LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF:
        return reproduce_confirm_clkbuf(static_cast<LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_IGNORE_PARTITION_BP_INFO: {
        const auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_IGNORE_PARTITION_BP_INFO*>(entry);
        auto found = m_part_name_to_part_id_map.find(e->m_partition_name_again);
        if (found == m_part_name_to_part_id_map.end()) {
            MORV_DEBUG_STREAM::print(1, "Unknown partition %s", e->m_partition_name_again.c_str());
            return false;
        }
        MORV_ASSERT_TEXT(found->second != BPM_BOUNDARY_PORT_MANAGER::NO_PORT, "partition_id != BPM_OPEN");
        m_fsyn_api->ignore_partition_bp_info(found->second);
        return true;
    }
    default:
        if (is_unrecognized_type(entry->m_type)) replay_error("Unrecognized log entry type", __LINE__);
        return true;
    }
}

bool MORV_LOG::reproduce_log()
{
    const int family = m_fsyn_api->get_base_family_code();
    if (family != CDB_FAMILY_MRL && family != CDB_FAMILY_BRK)
        replay_error("m_fsyn_api->get_base_family_code() == DEV_FAMILY_MORLIN || m_fsyn_api->get_base_family_code() == "
                     "DEV_FAMILY_BRENNOCK",
                     __LINE__);
    RECORD_LIST records;
    std::string fault;
    if (!read_stored_log(records, fault)) {
        if (m_recorded_on_this_family)
            morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_LOG_FILE_OF_THIS_FAMILY, m_log_file->get_file_name()));
        else morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_LOG_FILE_DAMAGED, m_log_file->get_file_name(), fault));
        return false;
    }
    if (!records.empty() && !m_log_file->is_chained())
        morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_LOG_FILE_NOT_CHECKED, m_log_file->get_file_name()));
    index_nodes_by_name_id();
    build_boundary_port_map();
    build_partition_map();
    build_boundary_port_term_map();
    m_log_version = "5.1";
    m_nodes_to_insert.clear();
    m_nodes_in_pending_inserts.clear();
    m_replayed_registers.clear();
    MORV_DEBUG_STREAM::print(1, "Beginning the reproduction of all log operations");
    m_fsyn_api->dump_atom_netlist(".pre_log");

    bool success = true;
    bool first_delete = true;
    for (size_t i = 0; i < records.size() && success; ++i) {
        m_replay_fault.clear();
        success = dispatch_entry(records[i].get(), first_delete);
        if (!success) report_failed_entry(records, i);
        else note_replayed_register(*records[i], i);
    }
    // Nodes inserted after the last flush point are announced too: the
    // sweep and the host must see every node the replay made.
    insert_pending_nodes();
    if (success) success = check_replayed_registers(records);
    sweep_after_replay(!success);
    if (success) {
        delete_dangling_clkbufs();
        MORV_DEBUG_STREAM::print(1, "Successfully reproduced all the log operations");
    }
    m_fsyn_api->dump_atom_netlist(".post_log");
    m_fsyn_api->taint(nullptr);
    return success;
}

// ------------------------------------------------------------------ what a failed entry was

bool MORV_LOG::refuse_entry(const std::string& reason)
{
    if (m_replay_fault.empty()) m_replay_fault = reason;
    return false;
}

bool MORV_LOG::refuse_missing_name(const char* what, const std::string& name)
{
    std::string reason = "it names the ";
    reason.append(what).append(" ").append(name).append(", which does not exist at that point of the log");
    return refuse_entry(reason);
}

namespace {

std::string describe_record(const LOGDB_FSYN_LOG_ENTRY& record)
{
    const char* kind = logdb_fsyn_log_entry_kind_name(record.m_type);
    std::string text = "the ";
    text += kind != nullptr ? kind : "unknown";
    text += " record";
    const auto* node_record = dynamic_cast<const LOGDB_FSYN_LOG_ENTRY_NODE_BASE*>(&record);
    if (node_record != nullptr && !node_record->m_node_name.empty())
        text.append(" of node ").append(node_record->m_node_name);
    return text;
}

}  // namespace

// The handler's own debug line says more; the user is told which record of
// which file stopped the replay.
void MORV_LOG::report_failed_entry(const RECORD_LIST& records, size_t index)
{
    std::string reason = describe_record(*records[index]);
    reason += m_replay_fault.empty() ? std::string(" cannot be reproduced on this netlist") : ": " + m_replay_fault;
    const uint64_t offset = index < m_record_offsets.size() ? m_record_offsets[index] : 0;
    morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED, m_log_file->get_file_name(),
                               at_offset(offset, reason)));
}

void MORV_LOG::note_replayed_register(const LOGDB_FSYN_LOG_ENTRY& record, size_t index)
{
    if (record.m_type != LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM) return;
    const auto& insert = static_cast<const LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM&>(record);
    if (!insert.m_is_comb) m_replayed_registers[insert.m_node_name] = index;
}

namespace {

bool is_driven(const CDB_ATOM_ITERM* iterm)
{
    return iterm != nullptr && iterm->get_source() != nullptr;
}

}  // namespace

// Only a register that drives something matters: one that drives nothing
// is swept away with whatever it lacks.
bool MORV_LOG::check_replayed_registers(const RECORD_LIST& records)
{
    for (const auto& [name, index] : m_replayed_registers) {
        CDB_ATOM_NODE* node = find_node_by_logged_name(name);
        if (node == nullptr || !node->is_register()) continue;
        const CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_REG_OUT);
        if (out == nullptr || !out->has_fanout()) continue;
        const CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_DATAIN);
        const bool has_data = is_driven(data) || (data != nullptr && (data->is_vcc() || data->is_gnd()));
        const char* missing = !has_data                                            ? "data input"
                              : !is_driven(node->get_input_term_by_type(DB_CLOCK)) ? "clock"
                                                                                   : nullptr;
        if (missing == nullptr) continue;
        m_replay_fault = "it makes register " + name + ", which drives other nodes but has no " + missing +
                         ": no record of the log connects one";
        report_failed_entry(records, index);
        return false;
    }
    return true;
}

void MORV_LOG::insert_pending_nodes()
{
    // Taken out first: announcing may lead to deletions that look here.
    std::map<uint32_t, MORV_LOG_NEW_NODE_TO_INSERT> pending;
    pending.swap(m_nodes_to_insert);
    m_nodes_in_pending_inserts.clear();
    // A node made from another pending node goes after it: it takes its
    // origin's chip entry, which the origin gets when it is announced.
    std::unordered_set<const CDB_ATOM_NODE*> waiting;
    for (const auto& [name_id, record] : pending) waiting.insert(record.m_new_node);
    std::vector<const MORV_LOG_NEW_NODE_TO_INSERT*> order;
    while (!waiting.empty()) {
        const size_t before = waiting.size();
        for (const auto& [name_id, record] : pending) {
            if (waiting.count(record.m_new_node) == 0) continue;
            if (waiting.count(record.m_old_node) != 0 && record.m_old_node != record.m_new_node) continue;
            order.push_back(&record);
            waiting.erase(record.m_new_node);
        }
        MORV_ASSERT_TEXT(waiting.size() < before, "pending nodes made from each other");
    }
    for (const MORV_LOG_NEW_NODE_TO_INSERT* record : order) {
        CDB_ATOM_NODE* node = record->m_new_node;
        if (record->m_is_kind3) {
            CDB_ATOM_OTERM* main = get_primary_oterm(node);
            const int code = main != nullptr ? main->get_usage() : 0;
            m_fsyn_api->node_added(node, record->m_old_node, MORV_MODIFICATION_DUPLICATE, code, true, nullptr);
        } else {
            m_fsyn_api->node_added(node, record->m_old_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true,
                                   nullptr);
        }
    }
}

void MORV_LOG::announce_replayed_node(CDB_ATOM_NODE* node, CDB_ATOM_NODE* origin, const int* partition)
{
    if (m_nodes_in_pending_inserts.count(origin) != 0) insert_pending_nodes();
    m_fsyn_api->node_added(node, origin, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, partition);
}

void MORV_LOG::delete_dangling_clkbufs()
{
    CDB_ATOM_NETLIST* netlist = m_fsyn_api->get_atom_netlist();
    std::set<int32_t> dangling;
    for (CDB_ATOM_NODE* node : *netlist) {
        const int type = node->get_atom_type();
        if (type != CDB_ATOM_BRK_CLKBUF_ENUM && type != CDB_ATOM_MORLIN_CLKBUF_ENUM) continue;
        const int clock_type = CUT_CLKBUF_UTIL::get_clock_type(node);
        if (clock_type == CLOCK_TYPE_KEPT_A || clock_type == CLOCK_TYPE_KEPT_B) continue;
        CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_CLKBUF_OUT);
        if (out == nullptr || !out->has_fanout()) dangling.insert(static_cast<int32_t>(node->get_id()));
    }
    for (int32_t id : dangling) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        if (node == nullptr) continue;
        std::vector<CDB_ATOM_ITERM*> inputs(node->begin_iterm(), node->end_iterm());
        for (CDB_ATOM_ITERM* iterm : inputs) replay_disconnect(iterm);
        const HDB_INSTANCE_NAME* name = node->get_instance_name();
        MORV_DEBUG_STREAM::print(100, "Deleting the clkbuf atom %s",
                                 name != nullptr ? name->get_short_hpath().c_str() : "");
        forget_node(node);
        m_fsyn_api->delete_node(node);
    }
}

// Every other cell of a replayed chain that had been an adder, from its
// head on, goes back into a high-speed adder with the cell after it.
int MORV_LOG::restore_hs_adders()
{
    m_fsyn_api->dump_atom_netlist(".pre_hs_adder");
    std::vector<int32_t> collected;
    for (int32_t id : m_hs_adder_node_ids) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        if (node == nullptr || get_carry_chain_head(node) != node) continue;
        MORV_ASSERT_TEXT(node->is_lcell_comb() && m_net_util->is_lcell_part_of_a_carry_chain(node),
                         "node->is_lcell_comb() && net_util->is_lcell_part_of_a_carry_chain(node)");
        bool take = true;
        for (CDB_ATOM_NODE* cell = node; cell != nullptr; cell = get_next_in_carry_chain(cell)) {
            if (take) collected.push_back(static_cast<int32_t>(cell->get_id()));
            take = !take;
        }
    }
    MORV_LEGALIZER legalizer(m_fsyn_api);
    for (int32_t id : collected) {
        CDB_ATOM_NODE* cell = m_fsyn_api->get_node(id);
        MORV_ASSERT_TEXT(cell, "node");
        (void)legalizer.turn_into_high_speed_adder(cell);
    }
    return 0;
}

// ------------------------------------------------------------------ slots of a family without a replay

void MORV_LOG::warn_replay_not_available(const char* what)
{
    if (!m_not_available_reported.insert(what).second) return;
    MSG_W* msg = new MSG_W();
    msg->fill_args("%1!s! is not available yet in this build and is skipped./WMORV_FSYN_NOT_AVAILABLE_YET", what);
    morv_send_msg(msg);
}

void MORV_LOG::index_nodes_by_name_id()
{
    m_node_by_name_id.clear();
    m_oterm_by_name_id.clear();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) index_node_by_name_id(node);
}

bool MORV_LOG::reproduce_confirm_clkbuf(LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF*)
{
    warn_replay_not_available("Clock buffers of a replayed log on this family");
    return false;
}

bool MORV_LOG::reproduce_store_node_info(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*)
{
    warn_replay_not_available("Stored node states of a replayed log on this family");
    return false;
}

bool MORV_LOG::register_logged_output_node(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*)
{
    return false;
}

bool MORV_LOG::reproduce_add_remove_connection(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION*)
{
    warn_replay_not_available("Connections of a replayed log on this family");
    return false;
}

bool MORV_LOG::reproduce_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_NODE_BASE*)
{
    warn_replay_not_available("High-speed adders of a replayed log");
    return false;
}

void MORV_LOG::sweep_after_replay(bool)
{
    warn_replay_not_available("The sweep after a replayed log on this family");
}

CDB_ATOM_NODE* MORV_LOG::create_lcell_comb(HDB_INSTANCE_NAME*)
{
    warn_replay_not_available("Cells of a replayed log on this family");
    return nullptr;
}

CDB_ATOM_NODE* MORV_LOG::create_lcell_ff(HDB_INSTANCE_NAME*)
{
    warn_replay_not_available("Cells of a replayed log on this family");
    return nullptr;
}
