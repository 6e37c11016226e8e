// The writers: one record per announced edit, held in the pending
// containers until the family writes them out.

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/log/morv_log_internal.h"
#include "morv/log/morv_log_texts.h"
#include "morv/netlist/morv_net_util.h"

namespace {

[[noreturn]] void writer_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

std::string short_name(const CDB_ATOM_NODE* node)
{
    return morv_log_short_name(node->get_instance_name());
}

std::string short_name(const CDB_ATOM_OTERM* oterm)
{
    return morv_log_short_name(oterm->get_instance_name());
}

// The mask of a LUT of fewer inputs repeated over the rows of six inputs,
// which it does not depend on.
uint64_t six_input_mask(const CDB_LUTMASK& mask)
{
    const int rows = mask.get_num_rows();
    uint64_t value = mask.get_value();
    for (int width = rows; width < 64; width *= 2) value |= value << width;
    return value;
}

bool computes_constant(const CDB_ATOM_NODE* node)
{
    const CDB_LUTMASK mask = node->get_lutmask();
    return mask.get_value() == 0 || mask.get_value() == CDB_LUTMASK::full_mask(mask.get_num_inputs());
}

CDB_ATOM_OTERM* primary_oterm(const CDB_ATOM_NODE* node)
{
    auto it = node->begin_oterm();
    return it != node->end_oterm() ? *it : nullptr;
}

bool is_io_cell(const CDB_ATOM_NODE* node)
{
    return node->get_kind() == CDB_KIND_IO;
}

}  // namespace

// ------------------------------------------------------------------ helpers

template <typename T>
T* MORV_LOG::new_record()
{
    return MEM_NEW("MORV", T, static_cast<int32_t>(next_entry_id()));
}

template <typename T>
T* MORV_LOG::node_record(CDB_ATOM_NODE* node, bool store_prior_state)
{
    MORV_ASSERT(node);
    T* record = new_record<T>();
    record->m_node_id = node->get_id();
    record->m_node_name = short_name(node);
    if (store_prior_state) store_node_info_before_change(node);
    return record;
}

template <typename T>
T* MORV_LOG::term_record(CDB_ATOM_ITERM* iterm, bool store_prior_state)
{
    MORV_ASSERT(iterm);
    T* record = node_record<T>(iterm->get_my_node(), store_prior_state);
    record->m_usage_as = static_cast<uint32_t>(iterm->get_any_usage_as());
    record->m_term_index = static_cast<uint16_t>(iterm->get_port_index());
    return record;
}

void MORV_LOG::add_pending(RECORD_OWNER record)
{
    m_pending_entries.push_back(std::move(record));
}

// ------------------------------------------------------------------ nodes

void MORV_LOG::log_insert_atom(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* from_node, bool is_kind3)
{
    MORV_ASSERT(new_node && from_node);
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM>(new_node, false);
    RECORD_OWNER owner(record);
    // A copy of a copy names the node that existed when logging began.
    auto earlier = m_insert_atom_map.find(static_cast<int32_t>(from_node->get_id()));
    if (earlier != m_insert_atom_map.end()) {
        record->m_made_from_name =
            static_cast<LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM*>(earlier->second.get())->m_made_from_name;
    } else {
        CDB_ATOM_OTERM* from_oterm = primary_oterm(from_node);
        if (from_oterm != nullptr) record->m_made_from_name = short_name(from_oterm);
        if (record->m_made_from_name.empty()) record->m_made_from_name = short_name(from_node);
    }
    record->m_is_comb = new_node->is_lcell_comb();
    record->m_is_kind3 = is_kind3;
    m_insert_atom_map[static_cast<int32_t>(new_node->get_id())] = std::move(owner);
}

void MORV_LOG::log_delete_atom(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM>(node, false);
    RECORD_OWNER owner(record);
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        MORV_ASSERT_TEXT(!oterm->has_fanout(), "!oterm->has_fanout()");
        record->m_oterm_names.push_back(short_name(oterm));
    }
    const int32_t id = static_cast<int32_t>(node->get_id());
    if (m_insert_atom_map.erase(id) != 0) record->m_deleted_inserted_node = true;
    m_delete_atom_map[id] = std::move(owner);
}

// The facade calls this also when the host made no copy: there is nothing
// to record then.
void MORV_LOG::log_new_node(CDB_ATOM_NODE*, CDB_ATOM_NODE* new_node, int, int)
{
    if (new_node == nullptr) return;
    for (auto it = new_node->begin_iterm(); it != new_node->end_iterm(); ++it) log_new_node_iterm(*it);
    for (auto it = new_node->begin_oterm(); it != new_node->end_oterm(); ++it) log_new_node_oterm(new_node, *it);
    if (!new_node->is_lcell_comb()) return;
    MORV_ASSERT(m_net_util);
    auto* mask = node_record<LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK>(new_node, true);
    mask->m_lutmask_type = 0;
    mask->m_lutmask = six_input_mask(CDB_LUTMASK(new_node->get_lut_size(), m_net_util->get_lutmask(new_node)));
    mask->m_flag = false;
    add_pending(RECORD_OWNER(mask));
}

void MORV_LOG::log_new_node_iterm(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    const int usage = iterm->get_any_usage_as();
    log_create_iterm(node, usage, 0);
    if (usage == DB_ASYNCH_DATA && iterm->is_used_as(DB_SYNCH_DATA)) log_set_usage_as(iterm, DB_SYNCH_DATA);
    else if (usage == DB_SYNCH_DATA && iterm->is_used_as(DB_ASYNCH_DATA)) log_set_usage_as(iterm, DB_ASYNCH_DATA);
    if (iterm->is_vcc() || iterm->is_gnd()) {
        store_node_info_before_change(node);
        log_connection(iterm->is_vcc() ? MORV_LOG_VCC_SOURCE : MORV_LOG_GND_SOURCE, iterm);
    } else if (iterm->get_source() != nullptr) {
        log_connection(iterm->get_source(), iterm);
    }
    const int chain = DB_DELAY_CHAIN_INPUT;
    log_set_iterm_properties(iterm, iterm->is_inverted(), iterm->get_global(), chain,
                             iterm->is_connected_to_delay_chain(chain), iterm->use_delay_chain(chain),
                             iterm->get_delay_chain_index(chain), iterm->has_user_delay_chain(chain));
    BPM_BOUNDARY_PORT_MANAGER* bpm = m_fsyn_api->get_morv_env()->get_boundary_port_manager();
    if (bpm == nullptr) return;
    const int port_id = bpm->get_assigned_port_id(iterm);
    if (port_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) log_set_boundary_port_id(iterm, port_id);
}

void MORV_LOG::log_new_node_oterm(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm)
{
    log_create_oterm(node, oterm->get_any_usage_as(), oterm->get_instance_name());
    if (oterm->is_invert_observable()) log_set_invert_observable(node, oterm->get_any_usage_as());
}

void MORV_LOG::log_copy_oterm_timing_assignments(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to)
{
    MORV_ASSERT_TEXT(from != nullptr && from->get_instance_name() != nullptr, "source_oterm");
    MORV_ASSERT_TEXT(to != nullptr && to->get_instance_name() != nullptr, "new_oterm");
    auto* record = new_record<LOGDB_FSYN_LOG_ENTRY_COPY_OTERM_TIMING_ASSIGNMENTS>();
    record->m_source_name = short_name(from);
    record->m_source_name_again = record->m_source_name;
    record->m_new_name = short_name(to);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_ignore_partition_bp_info(int partition_id)
{
    auto* record = new_record<LOGDB_FSYN_LOG_ENTRY_IGNORE_PARTITION_BP_INFO>();
    record->m_partition_name = m_fsyn_api->get_partition_name(partition_id);
    record->m_partition_name_again = record->m_partition_name;
    m_partition_entries.push_back(RECORD_OWNER(record));
}

// ------------------------------------------------------------------ connections

LOGDB_FSYN_LOG_ENTRY* MORV_LOG::find_or_make_connection_record(CDB_ATOM_NODE* node)
{
    const int32_t id = static_cast<int32_t>(node->get_id());
    auto it = m_connection_map.find(id);
    if (it != m_connection_map.end()) return it->second.get();
    const int slots = get_connection_slot_count(node->get_atom_type());
    LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* record = nullptr;
    const int32_t entry_id = static_cast<int32_t>(next_entry_id());
    if (node->is_lcell_comb())
        record = MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_LCELL_COMB, entry_id, slots);
    else if (node->is_register())
        record = MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_LCELL_FF, entry_id, slots);
    else if (is_io_cell(node)) record = MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_IO, entry_id, slots);
    else record = MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_RAM, entry_id, 0);
    if (record->m_type != LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM && slots == 0) {
        mem_delete_wrapper(record);
        writer_error("Unsupported node type found in log", __LINE__);
    }
    record->m_node_id = node->get_id();
    record->m_node_name = short_name(node);
    m_connection_map[id] = RECORD_OWNER(record);
    return record;
}

namespace {

bool uses_connection_slots(const CDB_ATOM_NODE* node)
{
    return node->is_lcell_comb() || node->is_register() || is_io_cell(node);
}

}  // namespace

void MORV_LOG::set_connection_slot(CDB_ATOM_ITERM* iterm, const std::string& source_text)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    auto* record = static_cast<LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION*>(find_or_make_connection_record(node));
    // A brennock latch's inputs are logged by their role in the latch.
    const bool latch =
        m_fsyn_api->get_base_family_code() == CDB_FAMILY_BRK && m_net_util != nullptr && m_net_util->is_latch(node);
    const int slot =
        latch ? get_latch_port_role(iterm) : get_connection_slot(iterm->get_any_usage_as(), node->get_atom_type());
    MORV_ASSERT(slot >= 0 && static_cast<size_t>(slot) < record->m_connection_array.size());
    const std::string& held = record->m_connection_array[static_cast<size_t>(slot)];
    if (source_text != MORV_LOG_DISCONNECT_TEXT && held != MORV_LOG_DISCONNECT_TEXT &&
        held != LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION::s_unchanged)
        writer_error("log_entry->m_connection_array[port_index]", __LINE__);
    record->m_connection_array[static_cast<size_t>(slot)] = source_text;
}

void MORV_LOG::log_ram_connection(const std::string& source_text, CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    const int type = node->get_atom_type();
    if (type == CDB_ATOM_BRK_LCELL_COMB_ENUM || type == CDB_ATOM_BRK_LCELL_FF_ENUM || type == CDB_ATOM_BRK_IO_ENUM)
        writer_error("dest_node_type != CDB_ATOM_BRK_LCELL_COMB_ENUM && dest_node_type != CDB_ATOM_BRK_LCELL_FF_ENUM "
                     "&& dest_node_type != CDB_ATOM_BRK_IO_ENUM",
                     __LINE__);
    if (source != nullptr) {
        const int chain = DB_DELAY_CHAIN_INPUT;
        log_set_iterm_properties(iterm, iterm->is_inverted(), iterm->get_global(), chain,
                                 iterm->is_connected_to_delay_chain(chain), iterm->use_delay_chain(chain),
                                 iterm->get_delay_chain_index(chain), iterm->has_user_delay_chain(chain));
        if (source->get_my_node()->is_clkbuf()) log_confirm_clkbuf(source->get_my_node());
    }
    auto* record = static_cast<LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_RAM*>(find_or_make_connection_record(node));
    record->add(source_text, static_cast<uint32_t>(iterm->get_any_usage_as()),
                static_cast<uint16_t>(iterm->get_port_index()));
}

// A constant cell made during this log has no record of its own to replay
// from, so its state goes into the log; a clock buffer is confirmed.
void MORV_LOG::before_real_source(CDB_ATOM_OTERM* source)
{
    CDB_ATOM_NODE* source_node = source->get_my_node();
    if (source_node->is_lcell_comb() && is_node_made_during_log(source_node->get_id()) &&
        computes_constant(source_node))
        store_node_info_before_change(source_node);
    else if (source_node->is_clkbuf()) log_confirm_clkbuf(source_node);
}

void MORV_LOG::log_connection(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(source && iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    store_node_info_before_change(node);
    if (m_fsyn_api->get_base_family_code() == CDB_FAMILY_MRL) store_node_info_before_change(source->get_my_node());
    if (!uses_connection_slots(node)) {
        log_ram_connection(short_name(source), source, iterm);
        return;
    }
    before_real_source(source);
    set_connection_slot(iterm, short_name(source));
}

void MORV_LOG::log_connection(int source, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(source == MORV_LOG_GND_SOURCE || source == MORV_LOG_VCC_SOURCE);
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    store_node_info_before_change(node);
    const char* text = source == MORV_LOG_GND_SOURCE ? MORV_LOG_GND_TEXT : MORV_LOG_VCC_TEXT;
    if (!uses_connection_slots(node)) log_ram_connection(text, nullptr, iterm);
    else set_connection_slot(iterm, text);
}

void MORV_LOG::log_disconnection(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    store_node_info_before_change(node);
    if (CDB_ATOM_OTERM* source = iterm->get_source()) {
        CDB_ATOM_NODE* source_node = source->get_my_node();
        const bool keep = m_fsyn_api->get_morv_env()->must_keep_node(source_node);
        if (keep || m_fsyn_api->get_base_family_code() == CDB_FAMILY_MRL) store_node_info_before_change(source_node);
        if (keep) log_clear_invert(iterm);
    }
    if (!uses_connection_slots(node)) log_ram_connection(MORV_LOG_DISCONNECT_TEXT, nullptr, iterm);
    else set_connection_slot(iterm, MORV_LOG_DISCONNECT_TEXT);
}

void MORV_LOG::log_connect_to_gnd(CDB_ATOM_ITERM* iterm)
{
    log_connection(MORV_LOG_GND_SOURCE, iterm);
}

void MORV_LOG::log_connect_to_vcc(CDB_ATOM_ITERM* iterm)
{
    log_connection(MORV_LOG_VCC_SOURCE, iterm);
}

void MORV_LOG::log_adopt_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm)
{
    MORV_ASSERT(new_oterm && old_oterm);
    std::vector<CDB_ATOM_ITERM*> fanouts(old_oterm->begin_iterm_fanout(), old_oterm->end_iterm_fanout());
    for (CDB_ATOM_ITERM* iterm : fanouts) {
        log_disconnection(iterm);
        log_connection(new_oterm, iterm);
    }
}

// ------------------------------------------------------------------ terms and properties

void MORV_LOG::log_create_iterm(CDB_ATOM_NODE* node, int input_port_type, int unordered_index)
{
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_CREATE_ITERM>(node, true);
    record->m_port_type = static_cast<uint32_t>(input_port_type);
    record->m_unordered_index = static_cast<uint16_t>(unordered_index);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_create_oterm(CDB_ATOM_NODE* node, int output_port_type, HDB_INSTANCE_NAME* name)
{
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_CREATE_OTERM>(node, true);
    record->m_term_name = morv_log_short_name(name);
    record->m_port_type = static_cast<uint32_t>(output_port_type);
    add_pending(RECORD_OWNER(record));
}

namespace {

constexpr uint32_t LUTMASK_PLAIN = 0;

}  // namespace

#define MORV_LOG_LUTMASK_WRITER(NAME, TYPE)                                                                            \
    void MORV_LOG::NAME(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag)                                        \
    {                                                                                                                  \
        auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK>(node, true);                                      \
        record->m_lutmask_type = (TYPE);                                                                               \
        record->m_lutmask = six_input_mask(mask);                                                                      \
        record->m_flag = flag != 0;                                                                                    \
        add_pending(RECORD_OWNER(record));                                                                             \
    }

MORV_LOG_LUTMASK_WRITER(log_set_lutmask, LUTMASK_PLAIN)
MORV_LOG_LUTMASK_WRITER(log_set_sum_lutmask, LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK::SUM)
MORV_LOG_LUTMASK_WRITER(log_set_lutmask_via_node, MORV_LOG_LUTMASK_VIA_NODE)
#undef MORV_LOG_LUTMASK_WRITER

void MORV_LOG::log_set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type, int,
                                        bool connected_to_delay_chain, bool use_delay_chain, int delay_chain_index,
                                        bool user_delay_chain)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_ITERM_PROPERTIES>(iterm, true);
    record->m_invert = invert;
    // The global setting is a 5-bit signed field.
    record->m_global = static_cast<int32_t>(static_cast<uint32_t>(global_type) << 27) >> 27;
    record->m_connected_to_delay_chain = connected_to_delay_chain;
    record->m_use_delay_chain = use_delay_chain;
    // The index means nothing for a chain that is not used.
    record->m_delay_chain_index = use_delay_chain ? delay_chain_index : 0;
    record->m_user_delay_chain = user_delay_chain;
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_set_usage_as(CDB_ATOM_ITERM* iterm, int input_port_type)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_USAGE_AS>(iterm, true);
    record->m_new_usage = static_cast<uint32_t>(input_port_type);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_clear_usage_as(CDB_ATOM_ITERM* iterm, int input_port_type)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_CLEAR_USAGE_AS>(iterm, true);
    record->m_usage_as = static_cast<uint32_t>(input_port_type);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_replace_input_term_by_type(CDB_ATOM_NODE* node, CDB_ATOM_ITERM*, int input_port_type)
{
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE>(node, true);
    record->m_port_type = static_cast<uint32_t>(input_port_type);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_reset_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_RESET_DELAY_CHAIN>(iterm, true);
    record->m_delay_chain = static_cast<uint32_t>(delay_chain);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_set_connected_to_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain, bool connected)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_CONNECTED_TO_DELAY_CHAIN>(iterm, true);
    record->m_delay_chain = static_cast<uint32_t>(delay_chain);
    record->m_connected = connected;
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_set_delay_chain_index(CDB_ATOM_ITERM* iterm, int delay_chain, int index)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_DELAY_CHAIN_INDEX>(iterm, true);
    record->m_delay_chain = static_cast<uint32_t>(delay_chain);
    record->m_index = index;
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_set_user_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain, bool user)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_USER_DELAY_CHAIN>(iterm, true);
    record->m_delay_chain = static_cast<uint32_t>(delay_chain);
    record->m_user = user;
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_set_global(CDB_ATOM_ITERM* iterm, int global_type)
{
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_GLOBAL>(iterm, true);
    record->m_global_type = static_cast<uint32_t>(global_type) & 0x1fu;
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_clear_global(CDB_ATOM_ITERM* iterm)
{
    add_pending(RECORD_OWNER(term_record<LOGDB_FSYN_LOG_ENTRY_CLEAR_GLOBAL>(iterm, true)));
}

void MORV_LOG::log_clear_invert(CDB_ATOM_ITERM* iterm)
{
    add_pending(RECORD_OWNER(term_record<LOGDB_FSYN_LOG_ENTRY_CLEAR_INVERT>(iterm, true)));
}

void MORV_LOG::log_set_invert(CDB_ATOM_ITERM* iterm)
{
    add_pending(RECORD_OWNER(term_record<LOGDB_FSYN_LOG_ENTRY_SET_INVERT>(iterm, true)));
}

void MORV_LOG::log_remove_unordered_fanout_term(CDB_ATOM_NODE* node, int port_type, int index)
{
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_REMOVE_UNORDERED_FANOUT_TERM>(node, false);
    record->m_port_type = static_cast<uint32_t>(port_type);
    record->m_index = static_cast<uint16_t>(index);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_set_instance_name(CDB_ATOM_NODE* node, int output_port_type, const std::string& new_name)
{
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_SET_INSTANCE_NAME>(node, true);
    record->m_port_type = static_cast<uint32_t>(output_port_type);
    record->m_new_name = new_name;
    add_pending(RECORD_OWNER(record));
}

// ------------------------------------------------------------------ boundary ports

void MORV_LOG::log_move_boundary_port_id(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to)
{
    MORV_ASSERT(from && to);
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_MOVE_BOUNDARY_PORT_ID>(from->get_my_node(), true);
    store_node_info_before_change(to->get_my_node());
    record->m_from_term_name = short_name(from);
    record->m_to_term_name = short_name(to);
    add_pending(RECORD_OWNER(record));
}

namespace {

template <typename RECORD, typename TERM>
void fill_term_part(RECORD* record, TERM* term)
{
    record->m_usage_as = static_cast<uint32_t>(term->get_any_usage_as());
    record->m_term_index = static_cast<uint16_t>(term->get_port_index());
}

}  // namespace

void MORV_LOG::log_set_boundary_port_id(CDB_ATOM_OTERM* oterm, int port_id)
{
    MORV_ASSERT(oterm);
    MORV_ASSERT_TEXT(port_id != 0, "bpid");
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID>(oterm->get_my_node(), true);
    RECORD_OWNER owner(record);
    fill_term_part(record, oterm);
    record->m_bp_name = m_fsyn_api->get_boundary_port_name(port_id);
    MORV_ASSERT_TEXT(!record->m_bp_name.empty(), "bp_name != \"\"");
    add_pending(std::move(owner));
}

void MORV_LOG::log_set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id)
{
    MORV_ASSERT(iterm);
    MORV_ASSERT_TEXT(port_id != 0, "bpid");
    auto* record = term_record<LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID>(iterm, true);
    RECORD_OWNER owner(record);
    record->m_bp_name = m_fsyn_api->get_boundary_port_name(port_id);
    MORV_ASSERT_TEXT(!record->m_bp_name.empty(), "bp_name != \"\"");
    add_pending(std::move(owner));
}

void MORV_LOG::log_disconnect_boundary_port_id(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(oterm);
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_DISCONNECT_BOUNDARY_PORT_ID>(oterm->get_my_node(), true);
    fill_term_part(record, oterm);
    add_pending(RECORD_OWNER(record));
}

void MORV_LOG::log_disconnect_boundary_port_id(CDB_ATOM_ITERM* iterm)
{
    add_pending(RECORD_OWNER(term_record<LOGDB_FSYN_LOG_ENTRY_DISCONNECT_BOUNDARY_PORT_ID>(iterm, true)));
}

// ------------------------------------------------------------------ MAC ports and cell marks

#define MORV_LOG_MAC_PORT_WRITER(NAME, CLASS, FIELD)                                                                   \
    void MORV_LOG::NAME(CDB_ATOM_NODE* node, int port_type, int value)                                                 \
    {                                                                                                                  \
        auto* record = node_record<CLASS>(node, false);                                                                \
        record->m_port_type = static_cast<uint32_t>(port_type);                                                        \
        record->FIELD = static_cast<decltype(record->FIELD)>(value);                                                   \
        add_pending(RECORD_OWNER(record));                                                                             \
    }

MORV_LOG_MAC_PORT_WRITER(log_set_output_port_clock, LOGDB_FSYN_LOG_ENTRY_SET_OUTPUT_PORT_CLOCK, m_value)
MORV_LOG_MAC_PORT_WRITER(log_set_output_port_clear, LOGDB_FSYN_LOG_ENTRY_SET_OUTPUT_PORT_CLEAR, m_value)
MORV_LOG_MAC_PORT_WRITER(log_set_input_port_clock, LOGDB_FSYN_LOG_ENTRY_SET_INPUT_PORT_CLOCK, m_value)
MORV_LOG_MAC_PORT_WRITER(log_set_input_port_clear, LOGDB_FSYN_LOG_ENTRY_SET_INPUT_PORT_CLEAR, m_value)
MORV_LOG_MAC_PORT_WRITER(log_set_input_port_width, LOGDB_FSYN_LOG_ENTRY_SET_INPUT_PORT_WIDTH, m_width)
#undef MORV_LOG_MAC_PORT_WRITER

void MORV_LOG::log_set_user_lcell(CDB_ATOM_NODE* node)
{
    add_pending(RECORD_OWNER(node_record<LOGDB_FSYN_LOG_ENTRY_SET_USER_LCELL>(node, false)));
}

void MORV_LOG::log_set_invert_observable(CDB_ATOM_NODE* node, int output_port_type)
{
    auto* record = node_record<LOGDB_FSYN_LOG_ENTRY_SET_INVERT_OBSERVABLE>(node, false);
    record->m_port_type = static_cast<uint32_t>(output_port_type);
    add_pending(RECORD_OWNER(record));
}
