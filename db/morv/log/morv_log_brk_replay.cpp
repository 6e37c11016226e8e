// Replay onto a brennock device: the netlist indexed by name, a stored
// cell rebuilt from its state, clock buffers found or made, and the
// connection records of cells and I/Os. Every name an entry needs is looked
// up before the first edit, so that an entry that fails leaves no
// half-built cell behind.

#include <algorithm>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/log/morv_log_internal.h"
#include "morv/log/morv_log_texts.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper_family.h"

namespace {

bool names_no_source(const std::string& text)
{
    return text == MORV_LOG_DISCONNECT_TEXT || text == MORV_LOG_VCC_TEXT || text == MORV_LOG_GND_TEXT;
}

// The inputs before the latch roles.
size_t plain_input_count(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    size_t count = 0;
    while (count < entry->m_sources.size() && !morv_log_is_latch_text(entry->m_sources[count])) ++count;
    return count;
}

}  // namespace

// ------------------------------------------------------------------ indexing

void MORV_LOG_BRK::index_nodes_by_name_id()
{
    m_node_by_name_id.clear();
    m_oterm_by_name_id.clear();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        CDB_ATOM_OTERM* primary = get_primary_oterm(node);
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            CDB_ATOM_OTERM* oterm = *it;
            if (oterm->get_usage() == MORV_LOG_UNINDEXED_OUTPUT_PORT) continue;
            if (!oterm->has_fanout() && !node->is_lcell_hsadder() && oterm != primary) continue;
            if (HDB_INSTANCE_NAME* name = oterm->get_instance_name()) m_oterm_by_name_id[name->get_id()] = oterm;
        }
        if (HDB_INSTANCE_NAME* name = node->get_instance_name()) m_node_by_name_id[name->get_id()] = node;
    }
}

bool MORV_LOG_BRK::register_logged_output_node(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    MORV_ASSERT_TEXT(entry->m_output_port_name.size() == 1, "log_entry->m_output_port_name.size() == 1");
    CDB_ATOM_OTERM* oterm = find_oterm_by_logged_name(entry->m_output_port_name[0]);
    if (oterm == nullptr) return false;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (HDB_INSTANCE_NAME* name = node->get_instance_name()) m_node_by_name_id[name->get_id()] = node;
    return true;
}

// ------------------------------------------------------------------ rebuilding a stored cell

// Every source the cell is rebuilt from must be here; so must the node it
// is announced as made from and its partition.
bool MORV_LOG_BRK::find_rebuild_sources(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry,
                                        std::vector<CDB_ATOM_OTERM*>& out_sources)
{
    out_sources.assign(plain_input_count(entry), nullptr);
    bool has_origin = false;
    for (size_t i = 0; i < out_sources.size(); ++i) {
        const std::string& text = entry->m_sources[i];
        if (names_no_source(text)) continue;
        out_sources[i] = find_oterm_by_logged_name(text);
        if (out_sources[i] == nullptr) {
            MORV_DEBUG_STREAM::print(100, "Unable to find the oterm %s", text.c_str());
            return refuse_missing_name("source", text);
        }
        has_origin = true;
    }
    for (const std::string& name : entry->m_output_port_name) has_origin |= find_oterm_by_logged_name(name) != nullptr;
    if (!has_origin) {
        MORV_DEBUG_STREAM::print(1, "No source and no output of %s is in the netlist", entry->m_node_name.c_str());
        return false;
    }
    if (!entry->m_part_name.empty() && m_part_name_to_part_id_map.count(entry->m_part_name) == 0) {
        MORV_DEBUG_STREAM::print(1, "Unknown partition %s", entry->m_part_name.c_str());
        return false;
    }
    return true;
}

// Answers the node of the last source connected.
CDB_ATOM_NODE* MORV_LOG_BRK::rebuild_inputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell,
                                            const std::vector<CDB_ATOM_OTERM*>& sources)
{
    CDB_ATOM_NODE* last_source = nullptr;
    for (size_t i = 0; i < sources.size(); ++i) {
        const int port_type = get_port_type_of_slot(entry->m_input_ports[i], cell->get_atom_type());
        CDB_ATOM_ITERM* iterm = nullptr;
        cdb()->create_input_term(nullptr, iterm, cell, port_type, 0);
        const std::string& text = entry->m_sources[i];
        if (text == MORV_LOG_VCC_TEXT) cdb()->set_iterm_vcc(iterm);
        else if (text == MORV_LOG_GND_TEXT) cdb()->set_iterm_gnd(iterm);
        else if (sources[i] != nullptr) {
            m_net_util->insert_fanout(sources[i], iterm);
            last_source = sources[i]->get_my_node();
        }
    }
    return last_source;
}

void MORV_LOG::move_logged_boundary_ports(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to)
{
    auto bound = m_oterm_to_bp_ids_map.find(from);
    if (bound == m_oterm_to_bp_ids_map.end()) return;
    std::vector<uint32_t> ids = std::move(bound->second);
    m_oterm_to_bp_ids_map.erase(bound);
    for (uint32_t id : ids) m_bp_name_to_oterm_map[m_fsyn_api->get_boundary_port_name(static_cast<int>(id))] = to;
    std::vector<uint32_t>& to_ids = m_oterm_to_bp_ids_map[to];
    to_ids.insert(to_ids.end(), ids.begin(), ids.end());
    m_fsyn_api->move_boundary_port_id(from, to);
}

void MORV_LOG_BRK::rebuild_output(CDB_ATOM_NODE* cell, int port_type, const std::string& logged_name,
                                  std::vector<CDB_ATOM_NODE*>& replaced, CDB_ATOM_NODE*& origin)
{
    HDB_INSTANCE_NAME* iname = find_instance_name(logged_name);
    CDB_ATOM_OTERM* existing = find_oterm_by_logged_name(logged_name);
    HDB_INSTANCE_NAME* name = iname;
    if (iname == nullptr) name = get_or_create_instance_name(logged_name);
    else if (existing != nullptr && existing->get_instance_name() != iname)
        name = m_net_util->make_unique_instance_name(iname, "_LOG");
    CDB_ATOM_OTERM* oterm = nullptr;
    cdb()->create_oterm(nullptr, oterm, cell, port_type, name);
    if (existing != nullptr) {
        CDB_ATOM_NODE* old_node = existing->get_my_node();
        m_net_util->adopt_fanouts(oterm, existing);
        move_logged_boundary_ports(existing, oterm);
        if (std::find(replaced.begin(), replaced.end(), old_node) == replaced.end()) replaced.push_back(old_node);
        if (existing->get_usage() == DB_CARRY_OUT)
            if (CDB_ATOM_ITERM* carry_in = old_node->get_input_term_by_type(DB_CARRY_IN)) replay_disconnect(carry_in);
        if (HDB_INSTANCE_NAME* old_name = existing->get_instance_name()) {
            m_oterm_by_name_id.erase(old_name->get_id());
            if (old_name != name) m_oterm_by_name_id[old_name->get_id()] = oterm;
        }
        origin = old_node;
        // The old node lives on by another output: it takes that output's name.
        for (auto it = old_node->begin_oterm(); it != old_node->end_oterm(); ++it)
            if ((*it)->has_fanout() && (*it)->get_instance_name() != nullptr) {
                MORV_ASSERT_TEXT(!replay_logging(), "Should not need to log a change of a node name in current code");
                old_node->set_instance_name((*it)->get_instance_name());
                m_node_by_name_id[(*it)->get_instance_name()->get_id()] = old_node;
                break;
            }
    }
    m_oterm_by_name_id[name->get_id()] = oterm;
}

CDB_ATOM_NODE* MORV_LOG_BRK::rebuild_outputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell,
                                             std::vector<CDB_ATOM_NODE*>& replaced)
{
    CDB_ATOM_NODE* origin = nullptr;
    for (size_t i = 0; i < entry->m_output_ports.size(); ++i)
        rebuild_output(cell, entry->m_output_ports[i], entry->m_output_port_name[i], replaced, origin);
    return origin;
}

void MORV_LOG_BRK::rebuild_latch(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell)
{
    CDB_ATOM_LATCH_INFO info;
    info.is_latch = true;
    for (size_t i = plain_input_count(entry); i < entry->m_sources.size(); ++i) {
        const int port_type = get_port_type_of_slot(entry->m_input_ports[i], cell->get_atom_type());
        const CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(port_type);
        if (iterm != nullptr && (iterm->is_vcc() || iterm->is_gnd())) continue;
        const std::string& role = entry->m_sources[i];
        if (role == "CLEAR") info.clear_port = port_type;
        else if (role == "PRESET") info.preset_port = port_type;
        else if (role == "FEEDBACK") info.feedback_port = port_type;
        else {
            info.enable_port = port_type;
            info.enable_mode = role == "ENABLE1" ? CDB_LATCH_ENABLE_MODE_NON_INVERTED : CDB_LATCH_ENABLE_MODE_INVERTED;
        }
    }
    info.output_port = DB_COMB_OUT;
    // The atom owns its latch record and frees it the host's way.
    cut_set_atom_latch_info(cell, new CDB_ATOM_LATCH_INFO(info));
    MORV_NETLIST_SWEEPER_BRK sweeper(m_fsyn_api);
    sweeper.propagate_constants_into_node(cell);
}

// A replaced node that still drives something through an output the new
// cell did not take stays; its share output alone does not keep it.
void MORV_LOG_BRK::delete_replaced_nodes(const std::vector<CDB_ATOM_NODE*>& replaced)
{
    for (CDB_ATOM_NODE* node : replaced) {
        bool kept = false;
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            CDB_ATOM_OTERM* oterm = *it;
            if (!oterm->has_fanout()) continue;
            if (oterm->get_usage() != DB_SHARE_OUT) {
                kept = true;
                continue;
            }
            if (HDB_INSTANCE_NAME* name = oterm->get_instance_name()) {
                auto found = m_oterm_by_name_id.find(name->get_id());
                if (found != m_oterm_by_name_id.end() && found->second == oterm) m_oterm_by_name_id.erase(found);
            }
            replay_disconnect(oterm->get_first_fanout());
        }
        if (!kept) delete_logged_node(node);
    }
}

bool MORV_LOG_BRK::reproduce_store_node_info(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    if (CDB_ATOM_NODE* named = find_node_by_logged_name(entry->m_node_name))
        if (CUT_VIRTUAL_IO_UTIL::is_virtual_io(named)) {
            MORV_DEBUG_STREAM::print(1, "The log stores the state of the virtual I/O %s", entry->m_node_name.c_str());
            return false;
        }
    MORV_DEBUG_STREAM::print(100, "Reproducing store node info %s (log entry id %d)", entry->m_node_name.c_str(),
                             entry->m_entry_id);
    if (entry->m_node_kind == MORV_LOG_HS_ADDER_NODE) return reproduce_entry_for_hs_adder(entry);
    if (entry->m_is_constant_driver && register_logged_output_node(entry)) return true;

    std::vector<CDB_ATOM_OTERM*> sources;
    if (!find_rebuild_sources(entry, sources)) return false;
    const MORV_LOG_LUT_READS before = read_recorded_node(entry);
    CDB_ATOM_NODE* cell = create_lcell_comb(get_or_create_instance_name(entry->m_node_name));
    // Ports this cell does not have come from a log of another netlist.
    for (size_t i = 0; i < entry->m_input_ports.size(); ++i)
        if (!cell->implements(get_port_type_of_slot(entry->m_input_ports[i], cell->get_atom_type()))) {
            delete cell;
            return false;
        }
    for (int32_t port : entry->m_output_ports)
        if (!cell->implements_output(port)) {
            delete cell;
            return false;
        }

    CDB_ATOM_NODE* origin = rebuild_inputs(entry, cell, sources);
    std::vector<CDB_ATOM_NODE*> replaced;
    if (CDB_ATOM_NODE* output_origin = rebuild_outputs(entry, cell, replaced)) origin = output_origin;
    MORV_ASSERT_TEXT(origin, "src_node");
    const int* partition = nullptr;
    if (!entry->m_part_name.empty()) partition = &m_part_name_to_part_id_map.at(entry->m_part_name);
    announce_replayed_node(cell, origin, partition);
    m_node_by_name_id[cell->get_instance_name()->get_id()] = cell;
    place_in_same_lab(cell, origin);

    const bool extended = m_net_util->is_in_extended_mode(cell) || cell->get_input_term_by_type(DB_DATA_G) != nullptr;
    cdb()->set_lutmask(
        cell, convert_lutmask_bit_order(entry->m_lutmask, extended, m_net_util->is_in_arithmetic_mode(cell)), 0);
    m_fsyn_api->modify_node(cell);
    warn_if_changed_since_recording(entry, before, cell);
    if (entry->m_node_kind == MORV_LOG_LATCH_NODE) rebuild_latch(entry, cell);
    delete_replaced_nodes(replaced);
    return true;
}

// ------------------------------------------------------------------ clock buffers

namespace {

bool reads_logged_source(const CDB_ATOM_NODE* node, int port_type, const std::string& name)
{
    const CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    const CDB_ATOM_OTERM* source = iterm != nullptr ? iterm->get_source() : nullptr;
    if (name.empty()) return iterm == nullptr || !iterm->is_connected();
    return source != nullptr && morv_log_short_name(source->get_instance_name()) == name;
}

}  // namespace

CDB_ATOM_NODE* MORV_LOG_BRK::find_existing_clkbuf(const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry) const
{
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!node->is_clkbuf() || CUT_CLKBUF_UTIL::get_clock_type(node) != static_cast<int>(entry->m_clock_type))
            continue;
        if (reads_logged_source(node, DB_CLKBUF_IN, entry->m_clk_source_name) &&
            reads_logged_source(node, DB_CLOCK_ENABLE, entry->m_ena_source_name) &&
            node->get_output_term_by_type(DB_CLKBUF_OUT) != nullptr)
            return node;
    }
    return nullptr;
}

bool MORV_LOG_BRK::find_clkbuf_sources(const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry, CDB_ATOM_OTERM*& clk,
                                       CDB_ATOM_OTERM*& ena)
{
    clk = find_oterm_by_logged_name(entry->m_clk_source_name);
    ena = entry->m_ena_source_name.empty() ? nullptr : find_oterm_by_logged_name(entry->m_ena_source_name);
    return clk != nullptr && (entry->m_ena_source_name.empty() || ena != nullptr);
}

bool MORV_LOG_BRK::reproduce_confirm_clkbuf(LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry)
{
    if (find_oterm_by_logged_name(entry->m_output_name) != nullptr) return true;
    HDB_INSTANCE_NAME* out_name = get_or_create_instance_name(entry->m_output_name);
    if (CDB_ATOM_NODE* existing = find_existing_clkbuf(entry)) {
        CDB_ATOM_OTERM* out = existing->get_output_term_by_type(DB_CLKBUF_OUT);
        MORV_DEBUG_STREAM::print(100, "Found that the TVII clock %s is really the FLII clock %d %s",
                                 entry->m_output_name.c_str(), int(existing->get_id()),
                                 morv_log_short_name(out->get_instance_name()).c_str());
        m_oterm_by_name_id[out_name->get_id()] = out;
        return true;
    }
    CDB_ATOM_OTERM* clk = nullptr;
    CDB_ATOM_OTERM* ena = nullptr;
    if (!find_clkbuf_sources(entry, clk, ena)) return false;
    CDB_ATOM_NODE* clkbuf =
        CUT_CLKBUF_UTIL::create_clkbuf_atom(nullptr, nullptr, static_cast<int>(entry->m_clock_type), CDB_FAMILY_BRK);
    MORV_ASSERT(clkbuf);
    CDB_ATOM_OTERM* out = nullptr;
    cdb()->create_oterm(nullptr, out, clkbuf, DB_CLKBUF_OUT, out_name);
    CDB_ATOM_ITERM* clk_in = nullptr;
    cdb()->create_input_term(nullptr, clk_in, clkbuf, DB_CLKBUF_IN, 0);
    (void)m_fsyn_api->check_boundary_port_node(clk->get_my_node());
    m_net_util->insert_fanout(clk, clk_in);
    if (ena != nullptr) {
        CDB_ATOM_ITERM* ena_in = nullptr;
        cdb()->create_input_term(nullptr, ena_in, clkbuf, DB_CLOCK_ENABLE, 0);
        m_net_util->insert_fanout(ena, ena_in);
    }
    MORV_ASSERT_TEXT(!replay_logging(), "Should not need to log a change of a node name in current code");
    clkbuf->set_instance_name(out_name);
    announce_replayed_node(clkbuf, clk->get_my_node(), nullptr);
    m_node_by_name_id[out_name->get_id()] = clkbuf;
    m_oterm_by_name_id[out_name->get_id()] = out;
    m_fsyn_api->copy_boundary_port_binding(clk, out);
    BPM_BOUNDARY_PORT_MANAGER* bpm = m_fsyn_api->get_morv_env()->get_boundary_port_manager();
    const int bp_id = bpm != nullptr ? m_fsyn_api->get_boundary_port_id(out) : BPM_BOUNDARY_PORT_MANAGER::NO_PORT;
    if (bp_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) {
        add_boundary_port_tree(bp_id);
        add_boundary_port_term(bp_id, out);
    }
    return true;
}

// ------------------------------------------------------------------ connections

void MORV_LOG_BRK::tie_to_ground_cell(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm)
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    const int partition = m_fsyn_api->get_atom_partition_id(node);
    CDB_ATOM_NODE* gnd_lcell = partition >= 0 ? env->get_partition_gnd_lcell(partition) : env->get_gnd_lcell(partition);
    CDB_ATOM_OTERM* gnd_out = gnd_lcell != nullptr ? gnd_lcell->get_output_term_by_type(DB_COMB_OUT) : nullptr;
    // Without a ground cell the register's data input is tied to the
    // constant itself, which computes the same.
    if (gnd_out == nullptr) replay_tie(iterm, false);
    else replay_connect(gnd_out, iterm);
}

int MORV_LOG_BRK::connection_slot_port(CDB_ATOM_NODE* node, int slot) const
{
    if (CUT_VIRTUAL_IO_UTIL::is_virtual_io(node)) return CUT_VIRTUAL_IO_UTIL::get_pad_iport_for_vio(node);
    return get_port_type_of_slot(slot, node->get_atom_type());
}

bool MORV_LOG_BRK::apply_connection_slot(CDB_ATOM_NODE* node, int slot, const std::string& text)
{
    const int port_type = connection_slot_port(node, slot);
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (iterm != nullptr && m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1) return true;
    if (text == MORV_LOG_DISCONNECT_TEXT) {
        if (iterm == nullptr) return true;
        replay_disconnect(iterm);
        if (node->is_lcell_comb()) replay_clear_invert(iterm);
        return true;
    }
    return replay_connection_text(node, iterm, port_type, text);
}

// A register's data input takes the ground from the partition's ground cell.
void MORV_LOG_BRK::replay_ground_text(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm)
{
    if (m_net_util->is_ff(node) && iterm->is_used_as(DB_DATAIN)) tie_to_ground_cell(node, iterm);
    else replay_tie(iterm, false);
}

bool MORV_LOG_BRK::reproduce_add_remove_connection(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry)
{
    if (m_hs_adder_names.count(entry->m_node_name) != 0) return reproduce_entry_for_hs_adder(entry);
    CDB_ATOM_NODE* node = find_node_by_logged_name(entry->m_node_name);
    MORV_DEBUG_STREAM::print(100, "Reproducing add/remove connection %s", entry->m_node_name.c_str());
    if (node == nullptr) {
        MORV_DEBUG_STREAM::print(100, "Warning, unable to find the node.  This could be due to boundary ports");
        return true;
    }
    const int slots = get_connection_slot_count(node->get_atom_type());
    if (slots == 0) return apply_connection_array(entry, node);
    if (m_net_util->is_ff(node) && m_net_util->is_sload_tied_to_vcc(node)) {
        MORV_DEBUG_STREAM::print(100, "Register %s has a VCC sload", entry->m_node_name.c_str());
        return false;
    }
    // A record of another kind of node than this one names other ports.
    if (entry->m_connection_array.size() != static_cast<size_t>(slots)) return false;
    // Every term and source first: a missing one fails the entry before any edit.
    for (int slot = 0; slot < slots; ++slot) {
        const std::string& text = entry->m_connection_array[static_cast<size_t>(slot)];
        if (text != MORV_LOG_UNCHANGED_TEXT && !connection_slot_ready(node, connection_slot_port(node, slot), text))
            return false;
    }
    for (int slot = 0; slot < slots; ++slot) {
        const std::string& text = entry->m_connection_array[static_cast<size_t>(slot)];
        if (text == MORV_LOG_UNCHANGED_TEXT) continue;
        if (!apply_connection_slot(node, slot, text)) return false;
    }
    return true;
}

// ------------------------------------------------------------------ sweeping and new cells

void MORV_LOG_BRK::sweep_after_replay(bool remove_unused_nodes)
{
    MORV_NETLIST_SWEEPER_BRK sweeper(m_fsyn_api);
    if (remove_unused_nodes) sweeper.remove_unused_nodes();
    sweeper.propagate_constants();
}

CDB_ATOM_NODE* MORV_LOG_BRK::create_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return cdb()->create_lcell_comb_brk(nullptr, name);
}

CDB_ATOM_NODE* MORV_LOG_BRK::create_lcell_ff(HDB_INSTANCE_NAME* name)
{
    return cdb()->create_lcell_ff_brk(nullptr, name);
}
