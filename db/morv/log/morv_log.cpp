#include "morv/log/morv_log.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

#include "cdb/cdb_atom_netlist.h"
#include "fio/fio.h"

#include "morv/core/morv_assert.h"

// ------------------------------------------------------------------ log

MORV_LOG::MORV_LOG(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_fsyn_api);
}

// A snapshot copy keeps the file name, the chunk list and the pending
// records; its file is closed.
MORV_LOG::MORV_LOG(const MORV_LOG& source, MORV_API* fsyn_api)
    : m_fsyn_api(fsyn_api), m_net_util(source.m_net_util), m_log_file(source.m_log_file),
      m_chunk_number(source.m_chunk_number), m_chunk_files(source.m_chunk_files),
      m_max_node_id_at_start(source.m_max_node_id_at_start)
{
    MORV_ASSERT(m_fsyn_api);
    m_log_file.close();
    source.seal_pending();
    m_sealed = source.m_sealed;
    m_sealed_prior_states = source.m_sealed_prior_states;
}

MORV_LOG::~MORV_LOG() {}

void MORV_LOG::record(const char* writer, std::vector<std::string> args)
{
    m_pending.push_back(MORV_LOG_ENTRY{writer, std::move(args)});
}

void MORV_LOG::seal_pending() const
{
    if (!m_prior_states.empty()) {
        m_sealed_prior_states.push_back(
            std::allocate_shared<const PRIOR_STATES>(MORV_ALLOCATOR<PRIOR_STATES>(), std::move(m_prior_states)));
        m_prior_states.clear();
    }
    if (m_pending.empty()) return;
    m_sealed.push_back(
        std::allocate_shared<const SEALED_ENTRIES>(MORV_ALLOCATOR<SEALED_ENTRIES>(), std::move(m_pending)));
    m_pending.clear();
}

std::vector<MORV_LOG_ENTRY> MORV_LOG::get_pending_entries() const
{
    std::vector<MORV_LOG_ENTRY> entries;
    entries.reserve(get_pending_entry_count());
    for (const auto& block : m_sealed) entries.insert(entries.end(), block->begin(), block->end());
    entries.insert(entries.end(), m_pending.begin(), m_pending.end());
    return entries;
}

size_t MORV_LOG::get_pending_entry_count() const
{
    size_t count = m_pending.size();
    for (const auto& block : m_sealed) count += block->size();
    return count;
}

void MORV_LOG::clear_pending_entries()
{
    m_sealed.clear();
    m_pending.clear();
}

namespace {

std::string text(int value)
{
    return std::to_string(value);
}
std::string text(bool value)
{
    return value ? "1" : "0";
}

std::string text(const CDB_ATOM_NODE* node)
{
    return node ? std::to_string(node->get_id()) : "none";
}

std::string text(const CDB_ATOM_ITERM* iterm)
{
    if (iterm == nullptr) return "none";
    return text(iterm->get_my_node()) + ":" + std::to_string(iterm->get_any_usage_as()) + ":" +
           std::to_string(iterm->get_port_index());
}

std::string text(const CDB_ATOM_OTERM* oterm)
{
    if (oterm == nullptr) return "none";
    return text(oterm->get_my_node()) + ":" + std::to_string(oterm->get_any_usage_as()) + ":" +
           std::to_string(oterm->get_port_index());
}

std::string text(const HDB_INSTANCE_NAME* name)
{
    return name ? name->get_short_hpath() : "none";
}

std::string text(const CDB_LUTMASK& mask)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, mask.get_value());
    return buffer;
}

}  // namespace

void MORV_LOG::log_insert_atom(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* from_node, bool is_duplication)
{
    record("log_insert_atom", {text(new_node), text(from_node), text(is_duplication)});
}

void MORV_LOG::log_delete_atom(CDB_ATOM_NODE* node)
{
    record("log_delete_atom", {text(node)});
}

// The facade calls this also when the host made no copy: there is nothing
// to record then, and a record naming no node could not be replayed.
void MORV_LOG::log_new_node(CDB_ATOM_NODE* node, CDB_ATOM_NODE* new_node, int output_port_type, int flag)
{
    if (new_node == nullptr) return;
    record("log_new_node", {text(node), text(new_node), text(output_port_type), text(flag)});
}

void MORV_LOG::log_copy_oterm_timing_assignments(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to)
{
    record("log_copy_oterm_timing_assignments", {text(from), text(to)});
}

void MORV_LOG::log_ignore_partition_bp_info(int partition_id)
{
    record("log_ignore_partition_bp_info", {text(partition_id)});
}

namespace {

// "mask <hex>" then, per input term, "usage:index" and its driver.
std::string prior_form(const CDB_ATOM_NODE* node)
{
    std::string form = "mask " + text(node->get_lutmask());
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* iterm = *it;
        form += "; " + std::to_string(iterm->get_any_usage_as()) + ":" + std::to_string(iterm->get_port_index()) + " ";
        if (iterm->get_source() != nullptr) form += text(iterm->get_source());
        else if (iterm->is_vcc()) form += "vcc";
        else if (iterm->is_gnd()) form += "gnd";
        else form += "open";
        if (iterm->is_inverted()) form += " inverted";
    }
    return form;
}

}  // namespace

void MORV_LOG::store_node_info_before_change(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    if (find_prior_state(node->get_id()) == nullptr) m_prior_states.emplace(node->get_id(), prior_form(node));
    record("store_node_info_before_change", {text(node)});
}

const std::string* MORV_LOG::find_prior_state(uint32_t atom_id) const
{
    auto it = m_prior_states.find(atom_id);
    if (it != m_prior_states.end()) return &it->second;
    for (const auto& block : m_sealed_prior_states) {
        auto found = block->find(atom_id);
        if (found != block->end()) return &found->second;
    }
    return nullptr;
}

std::string MORV_LOG::get_prior_state(uint32_t atom_id) const
{
    const std::string* state = find_prior_state(atom_id);
    return state != nullptr ? *state : std::string();
}

void MORV_LOG::log_connection(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm)
{
    record("log_connection", {text(source), text(iterm)});
}

void MORV_LOG::log_connection(int source, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(source == MORV_LOG_GND_SOURCE || source == MORV_LOG_VCC_SOURCE);
    record("log_connection", {text(source), text(iterm)});
}

void MORV_LOG::log_disconnection(CDB_ATOM_ITERM* iterm)
{
    record("log_disconnection", {text(iterm)});
}
void MORV_LOG::log_connect_to_gnd(CDB_ATOM_ITERM* iterm)
{
    record("log_connect_to_gnd", {text(iterm)});
}
void MORV_LOG::log_connect_to_vcc(CDB_ATOM_ITERM* iterm)
{
    record("log_connect_to_vcc", {text(iterm)});
}

void MORV_LOG::log_adopt_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm)
{
    record("log_adopt_fanouts", {text(new_oterm), text(old_oterm)});
}

void MORV_LOG::log_create_iterm(CDB_ATOM_NODE* node, int input_port_type, int unordered_index)
{
    record("log_create_iterm", {text(node), text(input_port_type), text(unordered_index)});
}

void MORV_LOG::log_create_oterm(CDB_ATOM_NODE* node, int output_port_type, HDB_INSTANCE_NAME* name)
{
    record("log_create_oterm", {text(node), text(output_port_type), text(name)});
}

void MORV_LOG::log_set_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag)
{
    record("log_set_lutmask", {text(node), text(mask), text(flag)});
}

void MORV_LOG::log_set_lutmask_via_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag)
{
    record("log_set_lutmask_via_node", {text(node), text(mask), text(flag)});
}

void MORV_LOG::log_set_sum_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag)
{
    record("log_set_sum_lutmask", {text(node), text(mask), text(flag)});
}

void MORV_LOG::log_set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type, int delay_chain,
                                        bool connected_to_delay_chain, bool use_delay_chain, int delay_chain_index,
                                        bool user_delay_chain)
{
    // The index means nothing for a chain that is not used.
    record("log_set_iterm_properties",
           {text(iterm), text(invert), text(global_type), text(delay_chain), text(connected_to_delay_chain),
            text(use_delay_chain), text(use_delay_chain ? delay_chain_index : 0), text(user_delay_chain)});
}

void MORV_LOG::log_set_usage_as(CDB_ATOM_ITERM* iterm, int input_port_type)
{
    record("log_set_usage_as", {text(iterm), text(input_port_type)});
}

void MORV_LOG::log_clear_usage_as(CDB_ATOM_ITERM* iterm, int input_port_type)
{
    record("log_clear_usage_as", {text(iterm), text(input_port_type)});
}

void MORV_LOG::log_replace_input_term_by_type(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int input_port_type)
{
    record("log_replace_input_term_by_type", {text(node), text(iterm), text(input_port_type)});
}

void MORV_LOG::log_reset_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain)
{
    record("log_reset_delay_chain", {text(iterm), text(delay_chain)});
}

void MORV_LOG::log_set_connected_to_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain, bool connected)
{
    record("log_set_connected_to_delay_chain", {text(iterm), text(delay_chain), text(connected)});
}

void MORV_LOG::log_set_global(CDB_ATOM_ITERM* iterm, int global_type)
{
    record("log_set_global", {text(iterm), text(global_type)});
}

void MORV_LOG::log_clear_invert(CDB_ATOM_ITERM* iterm)
{
    record("log_clear_invert", {text(iterm)});
}
void MORV_LOG::log_set_invert(CDB_ATOM_ITERM* iterm)
{
    record("log_set_invert", {text(iterm)});
}

void MORV_LOG::log_move_boundary_port_id(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to)
{
    record("log_move_boundary_port_id", {text(from), text(to)});
}

void MORV_LOG::log_set_boundary_port_id(CDB_ATOM_OTERM* oterm, int port_id)
{
    record("log_set_boundary_port_id", {text(oterm), text(port_id)});
}

void MORV_LOG::log_set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id)
{
    record("log_set_boundary_port_id", {text(iterm), text(port_id)});
}

void MORV_LOG::log_disconnect_boundary_port_id(CDB_ATOM_OTERM* oterm)
{
    record("log_disconnect_boundary_port_id", {text(oterm)});
}

void MORV_LOG::log_disconnect_boundary_port_id(CDB_ATOM_ITERM* iterm)
{
    record("log_disconnect_boundary_port_id", {text(iterm)});
}

void MORV_LOG::log_set_output_port_clock(CDB_ATOM_NODE* node, int port_type, int value)
{
    record("log_set_output_port_clock", {text(node), text(port_type), text(value)});
}

void MORV_LOG::log_set_output_port_clear(CDB_ATOM_NODE* node, int port_type, int value)
{
    record("log_set_output_port_clear", {text(node), text(port_type), text(value)});
}

void MORV_LOG::log_set_input_port_clock(CDB_ATOM_NODE* node, int port_type, int value)
{
    record("log_set_input_port_clock", {text(node), text(port_type), text(value)});
}

void MORV_LOG::log_set_input_port_clear(CDB_ATOM_NODE* node, int port_type, int value)
{
    record("log_set_input_port_clear", {text(node), text(port_type), text(value)});
}

void MORV_LOG::log_set_input_port_width(CDB_ATOM_NODE* node, int port_type, int value)
{
    record("log_set_input_port_width", {text(node), text(port_type), text(value)});
}
