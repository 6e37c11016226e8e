// What both families share of recording: a node's prior state, the
// clock-buffer confirmation, the constant-driver tests and the write-out
// that puts every state before the records that depend on it.

#include <algorithm>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/log/morv_log_internal.h"
#include "morv/log/morv_log_texts.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"

namespace {

[[noreturn]] void record_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

}  // namespace

// ------------------------------------------------------------------ acceptance

bool MORV_LOG::may_store_prior_state(CDB_ATOM_NODE* node) const
{
    if (CUT_VIRTUAL_IO_UTIL::is_virtual_io(node)) return false;
    const int32_t id = static_cast<int32_t>(node->get_id());
    if (has_stored_state(id) || is_node_made_during_log(node->get_id())) return false;
    if (m_insert_atom_map.count(id) != 0) return false;
    return m_fsyn_api->get_node(id) != nullptr;
}

// ------------------------------------------------------------------ constant drivers

namespace {

// The first conditions of both constant-driver tests.
bool may_be_constant_driver(const CDB_ATOM_NODE* node, bool made_during_log)
{
    if (!node->is_lcell_comb() || made_during_log) return false;
    for (int port : {DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT})
        if (morv_output_has_fanout(node, port)) return false;
    return !morv_input_connected(node, DB_CARRY_IN) && !morv_input_connected(node, DB_SHARE_IN);
}

}  // namespace

bool MORV_LOG::is_constant_gnd_lcell(CDB_ATOM_NODE* node) const
{
    if (!may_be_constant_driver(node, is_node_made_during_log(node->get_id()))) return false;
    const CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    return comb != nullptr && CUT_LCELL_UTIL::oterm_is_comb_gnd(comb);
}

bool MORV_LOG::is_constant_vcc_lcell(CDB_ATOM_NODE* node) const
{
    if (!may_be_constant_driver(node, is_node_made_during_log(node->get_id()))) return false;
    MORV_ASSERT(m_net_util);
    return m_net_util->get_number_of_connected_lut_inputs(node) == 0 && m_net_util->get_lutmask(node) == ~uint64_t(0);
}

// ------------------------------------------------------------------ stored states

LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* MORV_LOG::file_store_node_info(CDB_ATOM_NODE* node, uint32_t kind)
{
    MORV_ASSERT(node);
    const int32_t id = static_cast<int32_t>(node->get_id());
    if (m_store_node_info_map.count(id) != 0) return nullptr;
    auto* entry = MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO, static_cast<int32_t>(next_entry_id()));
    entry->m_node_id = node->get_id();
    entry->m_node_name = morv_log_short_name(node->get_instance_name());
    entry->m_node_kind = kind;
    m_store_node_info_map.emplace(id, RECORD_OWNER(entry));
    m_stored_node_ids.insert(id);
    return entry;
}

std::string MORV_LOG::get_iterm_source_name(CDB_ATOM_ITERM* iterm) const
{
    if (BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api)) {
        const int port_id = bpm->get_assigned_port_id(iterm);
        if (port_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) return m_fsyn_api->get_boundary_port_name(port_id);
    }
    CDB_ATOM_OTERM* source = iterm->get_source();
    return source != nullptr ? morv_log_short_name(source->get_instance_name()) : std::string();
}

namespace {

bool needs_term_properties(const CDB_ATOM_ITERM* iterm)
{
    const int chain = DB_DELAY_CHAIN_INPUT;
    return iterm->is_inverted() || (iterm->get_global() & 0x1f) != 0 || iterm->is_connected_to_delay_chain(chain) ||
           iterm->use_delay_chain(chain) || iterm->has_user_delay_chain(chain);
}

}  // namespace

void MORV_LOG::record_input_states(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* node, bool visit_sources)
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api);
    std::vector<CDB_ATOM_ITERM*> iterms(node->begin_iterm(), node->end_iterm());
    for (CDB_ATOM_ITERM* iterm : iterms) {
        entry->m_input_ports.push_back(get_connection_slot(iterm->get_any_usage_as(), node->get_atom_type()));
        if (!iterm->is_connected()) entry->m_sources.push_back(MORV_LOG_DISCONNECT_TEXT);
        else if (iterm->is_vcc()) entry->m_sources.push_back(MORV_LOG_VCC_TEXT);
        else if (iterm->is_gnd()) entry->m_sources.push_back(MORV_LOG_GND_TEXT);
        else {
            CDB_ATOM_NODE* source = iterm->get_source() != nullptr ? iterm->get_source()->get_my_node() : nullptr;
            if (visit_sources && source != nullptr && source != node) {
                if (is_constant_driver(source)) store_node_info_before_change(source);
                else if (CUT_CLKBUF_UTIL::is_pure_clkbuf(source)) log_confirm_clkbuf(source);
            }
            entry->m_sources.push_back(get_iterm_source_name(iterm));
        }
        const int chain = DB_DELAY_CHAIN_INPUT;
        if (needs_term_properties(iterm))
            log_set_iterm_properties(iterm, iterm->is_inverted(), iterm->get_global(), chain,
                                     iterm->is_connected_to_delay_chain(chain), iterm->use_delay_chain(chain),
                                     iterm->get_delay_chain_index(chain), iterm->has_user_delay_chain(chain));
        if (bpm == nullptr) continue;
        const int port_id = bpm->get_assigned_port_id(iterm);
        if (port_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) log_set_boundary_port_id(iterm, port_id);
    }
}

void MORV_LOG::record_output(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_OTERM* oterm) const
{
    entry->m_output_ports.push_back(oterm->get_any_usage_as());
    entry->m_output_port_name.push_back(morv_log_short_name(oterm->get_instance_name()));
}

bool MORV_LOG::has_boundary_port(CDB_ATOM_OTERM* oterm) const
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = morv_log_port_manager(m_fsyn_api);
    if (bpm == nullptr) return false;
    return bpm->get_assigned_port_id(oterm) != BPM_BOUNDARY_PORT_MANAGER::NO_PORT ||
           bpm->get_bound_port_id(oterm) != BPM_BOUNDARY_PORT_MANAGER::NO_PORT;
}

CDB_ATOM_OTERM* MORV_LOG::get_primary_oterm(CDB_ATOM_NODE* node)
{
    if (CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT)) return comb;
    auto it = node->begin_oterm();
    return it != node->end_oterm() ? *it : nullptr;
}

void MORV_LOG::record_node_properties(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* node)
{
    // A replay rebuilds the cell from its state and has it marked a user
    // cell again only through this record.
    if (node->is_user_lcell()) log_set_user_lcell(node);
    MORV_ASSERT(m_net_util);
    entry->m_lutmask = node->is_lcell_comb() ? m_net_util->get_lutmask(node) : 0;
    entry->m_part_name = m_fsyn_api->get_atom_partition_name(node);
    entry->m_is_constant_driver = is_constant_driver(node);
}

void MORV_LOG::record_latch_roles(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* node)
{
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    if (info == nullptr || !info->is_latch) record_error("latch_info && latch_info->is_latch()", __LINE__);
    const auto add_role = [&](int port, const char* role) {
        if (port == MORV_LOG_NO_PORT) return;
        entry->m_input_ports.push_back(get_connection_slot(port, node->get_atom_type()));
        entry->m_sources.push_back(role);
    };
    add_role(info->clear_port, "CLEAR");
    add_role(info->preset_port, "PRESET");
    add_role(info->enable_port, info->enable_mode == 1 ? "ENABLE1" : "ENABLE0");
    add_role(info->feedback_port, "FEEDBACK");
}

void MORV_LOG::file_confirm_clkbuf(CDB_ATOM_NODE* clkbuf)
{
    const int32_t id = static_cast<int32_t>(clkbuf->get_id());
    if (m_store_node_info_map.count(id) != 0) return;
    auto* entry = MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF, static_cast<int32_t>(next_entry_id()));
    entry->m_node_id = clkbuf->get_id();
    entry->m_node_name = morv_log_short_name(clkbuf->get_instance_name());
    const auto source_name = [&](int port) {
        CDB_ATOM_ITERM* iterm = clkbuf->get_input_term_by_type(port);
        return iterm != nullptr && iterm->is_driven() ? get_iterm_source_name(iterm) : std::string();
    };
    entry->m_clk_source_name = source_name(DB_CLKBUF_IN);
    CDB_ATOM_OTERM* out = clkbuf->get_output_term_by_type(DB_CLKBUF_OUT);
    entry->m_output_name = out != nullptr ? morv_log_short_name(out->get_instance_name()) : std::string();
    entry->m_ena_source_name = source_name(DB_CLOCK_ENABLE);
    entry->m_clock_type = static_cast<uint32_t>(CUT_CLKBUF_UTIL::get_clock_type(clkbuf));
    m_store_node_info_map.emplace(id, RECORD_OWNER(entry));
    m_store_node_info_entries.push_back(entry);
}

// ------------------------------------------------------------------ write-out

namespace {

bool is_constant_driver_state(const LOGDB_FSYN_LOG_ENTRY* record)
{
    return record->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO &&
           static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record)->m_is_constant_driver;
}

int32_t node_id_of(const LOGDB_FSYN_LOG_ENTRY* record)
{
    const auto* node_record = dynamic_cast<const LOGDB_FSYN_LOG_ENTRY_NODE_BASE*>(record);
    return node_record != nullptr ? static_cast<int32_t>(node_record->m_node_id) : -1;
}

}  // namespace

// A deleted pre-existing node needs nothing but its DELETE_ATOM in the file,
// except a constant driver's state, which replay rebuilds other nodes from.
void MORV_LOG::write_pending_in_replay_order()
{
    const auto deleted = [&](const LOGDB_FSYN_LOG_ENTRY* record) {
        const int32_t id = node_id_of(record);
        return id >= 0 && m_delete_atom_map.count(id) != 0;
    };
    const auto write = [&](const LOGDB_FSYN_LOG_ENTRY* record) { m_log_file->write_fsyn_log_entry(record); };
    for (const LOGDB_FSYN_LOG_ENTRY* record : m_store_node_info_entries) {
        if (record->m_type != LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO &&
            record->m_type != LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF)
            record_error("log_entry->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO || log_entry->m_type == "
                         "LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF",
                         __LINE__);
        if (!deleted(record) || is_constant_driver_state(record)) write(record);
    }
    for (const auto& [id, record] : m_insert_atom_map) {
        if (record->m_type != LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM)
            record_error("log_entry->m_type == LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM", __LINE__);
        if (!deleted(record.get())) write(record.get());
    }
    for (const RECORD_OWNER& record : m_pending_entries)
        if (!deleted(record.get())) write(record.get());
    for (const auto& [id, record] : m_connection_map)
        if (!deleted(record.get())) write(record.get());
    for (const RECORD_OWNER& record : m_partition_entries) write(record.get());
    std::vector<const LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM*> deletes;
    for (const auto& [id, record] : m_delete_atom_map) {
        if (record->m_type != LOGDB_FSYN_LOG_OPERATION_DELETE_ATOM)
            record_error("log_entry->m_type == LOGDB_FSYN_LOG_OPERATION_DELETE_ATOM", __LINE__);
        deletes.push_back(static_cast<const LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM*>(record.get()));
    }
    std::sort(deletes.begin(), deletes.end(), [](const auto* a, const auto* b) {
        return static_cast<uint32_t>(a->m_entry_id) < static_cast<uint32_t>(b->m_entry_id);
    });
    for (const LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM* record : deletes)
        if (!record->m_deleted_inserted_node) write(record);
    write_marker(LOGDB_FSYN_LOG_OPERATION_END_OF_LOG_PRINT);
    clear_pending_entries();
}
