// Replay onto a morlin device of a log the brennock family wrote: the
// netlist indexed by name, a stored cell rebuilt as a morlin cell, constant
// drivers found or made, clock buffers found or made, and the connection
// records of cells and I/Os. Every name an entry needs is resolved before
// its first edit, so that an entry that fails leaves the netlist as it was.

#include <algorithm>
#include <set>
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

const char* const COUT1_SUFFIXES[] = {"~_cout1", "_cout1"};
constexpr size_t SOURCE_TABLE_SIZE = 11;

[[noreturn]] void mrl_replay_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

// The name a carry output of an adder's low bit is found by: the other
// family logs it without the suffix this family gives it.
std::string without_cout1(const std::string& name)
{
    for (const char* suffix : COUT1_SUFFIXES) {
        const std::string s = suffix;
        if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
            return name.substr(0, name.size() - s.size());
    }
    return name;
}

}  // namespace

// ------------------------------------------------------------------ indexing

void MORV_LOG_MRL::index_nodes_by_name_id()
{
    m_node_by_name_id.clear();
    m_oterm_by_name_id.clear();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        CDB_ATOM_OTERM* primary = get_primary_oterm(node);
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            CDB_ATOM_OTERM* oterm = *it;
            if (oterm->get_usage() == MORV_LOG_UNINDEXED_OUTPUT_PORT) continue;
            if (!oterm->has_fanout() && oterm != primary && !node->is_lcell_hsadder()) continue;
            HDB_INSTANCE_NAME* name = oterm->get_instance_name();
            if (name == nullptr) continue;
            if (node->is_lcell_hsadder() && oterm->get_usage() == MORV_LOG_ADDER_LOW_CARRY_OUT &&
                m_log_version != "6.0") {
                const std::string text = name->get_short_hpath();
                const std::string shortened = without_cout1(text);
                if (shortened != text) name = get_or_create_instance_name(shortened);
            }
            m_oterm_by_name_id[name->get_id()] = oterm;
        }
        if (HDB_INSTANCE_NAME* name = node->get_instance_name()) m_node_by_name_id[name->get_id()] = node;
    }
}

// ------------------------------------------------------------------ constant drivers

CDB_ATOM_NODE* MORV_LOG_MRL::find_root_lcell_comb() const
{
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!node->is_lcell_comb() || node->get_instance_name() == nullptr) continue;
        if (node->get_instance_name()->get_short_hpath().find('|') == std::string::npos) return node;
    }
    return nullptr;
}

bool MORV_LOG_MRL::register_logged_output_node(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    if (entry->m_output_port_name.size() != 1) return false;
    const std::string& out_name = entry->m_output_port_name[0];
    if (CDB_ATOM_OTERM* oterm = find_oterm_by_logged_name(out_name)) {
        m_node_by_name_id[get_or_create_instance_name(entry->m_node_name)->get_id()] = oterm->get_my_node();
        return true;
    }
    CDB_ATOM_NODE* origin = find_root_lcell_comb();
    if (origin == nullptr || (!entry->m_part_name.empty() && m_part_name_to_part_id_map.count(entry->m_part_name) == 0))
        return false;
    HDB_INSTANCE_NAME* name = get_or_create_instance_name(out_name);
    CDB_ATOM_NODE* node = nullptr;
    if (entry->m_lutmask != 0) {
        node = create_lcell_comb(name);
        CDB_ATOM_OTERM* out = nullptr;
        cdb()->create_oterm(nullptr, out, node, DB_COMB_OUT, name);
        cdb()->set_lutmask(node, convert_lutmask_bit_order(entry->m_lutmask, false, false), 0);
    } else {
        node = CUT_LCELL_UTIL::create_gnd_lcell_atom(nullptr, CDB_FAMILY_MRL, name);
    }
    CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_COMB_OUT);
    m_node_by_name_id[get_or_create_instance_name(entry->m_node_name)->get_id()] = node;
    m_node_by_name_id[name->get_id()] = node;
    m_oterm_by_name_id[name->get_id()] = out;
    const int* partition = nullptr;
    if (!entry->m_part_name.empty()) partition = &m_part_name_to_part_id_map.at(entry->m_part_name);
    announce_replayed_node(node, origin, partition);
    if (entry->m_lutmask != 0) m_fsyn_api->modify_node(node);
    return true;
}

// ------------------------------------------------------------------ rebuilding a stored cell

// The source texts by logged input index, up to the first latch role; a
// damaged or foreign log's index outside the table fails the entry.
bool MORV_LOG_MRL::fill_source_table(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry,
                                     std::vector<std::string>& out_table) const
{
    out_table.assign(SOURCE_TABLE_SIZE, std::string());
    for (size_t i = 0; i < entry->m_sources.size() && !morv_log_is_latch_text(entry->m_sources[i]); ++i) {
        const int32_t slot = entry->m_input_ports[i];
        if (slot < 0 || static_cast<size_t>(slot) >= SOURCE_TABLE_SIZE) {
            MORV_DEBUG_STREAM::print(1, "Input slot %d of %s is not one of this family", int(slot),
                                     entry->m_node_name.c_str());
            return false;
        }
        out_table[static_cast<size_t>(slot)] = entry->m_sources[i];
    }
    return true;
}

// Every output the entry logs and every source it names, before any edit.
// The design searches the sources after the new cell is made and the old
// outputs' fanouts have moved to it; here the search comes first, on cells
// still whole, so that an entry that fails (an output, a source or a
// partition not found) leaves the netlist as it was, not half rebuilt.
bool MORV_LOG_MRL::plan_rebuild(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, REBUILD_PLAN& plan)
{
    if (!fill_source_table(entry, plan.sources)) return false;
    for (size_t i = 0; i < entry->m_output_ports.size(); ++i) {
        CDB_ATOM_OTERM* existing = find_oterm_by_logged_name(entry->m_output_port_name[i]);
        if (existing == nullptr && entry->m_output_ports[i] != DB_SHARE_OUT) {
            MORV_DEBUG_STREAM::print(1, "Unable to find the oterm %s", entry->m_output_port_name[i].c_str());
            return false;
        }
        plan.existing.push_back(existing);
        if (existing != nullptr) plan.origin = existing->get_my_node();
    }
    if (!resolve_rebuild_sources(plan)) return false;
    if (!entry->m_part_name.empty() && m_part_name_to_part_id_map.count(entry->m_part_name) == 0) {
        MORV_DEBUG_STREAM::print(1, "Unknown partition %s", entry->m_part_name.c_str());
        return false;
    }
    if (plan.origin == nullptr) {
        MORV_DEBUG_STREAM::print(1, "No source and no output of %s is in the netlist", entry->m_node_name.c_str());
        return false;
    }
    return true;
}

// The source of each input: found around the old nodes, else by name.
bool MORV_LOG_MRL::resolve_rebuild_sources(REBUILD_PLAN& plan)
{
    plan.source_terms.assign(SOURCE_TABLE_SIZE, nullptr);
    search_rebuild_sources(plan);
    for (size_t slot = 0; slot < SOURCE_TABLE_SIZE; ++slot) {
        if (plan.source_terms[slot] != nullptr || !names_a_source(plan.sources[slot])) continue;
        plan.source_terms[slot] = find_rebuild_source(slot, plan);
        if (plan.source_terms[slot] == nullptr) {
            MORV_DEBUG_STREAM::print(100, "Unable to find the iterm source %s", plan.sources[slot].c_str());
            return false;
        }
    }
    for (const CDB_ATOM_OTERM* source : plan.source_terms)
        if (plan.origin == nullptr && source != nullptr) plan.origin = source->get_my_node();
    return true;
}

// A source text, not a constant or an open input.
bool MORV_LOG_MRL::names_a_source(const std::string& text) const
{
    if (text.empty() || text == MORV_LOG_DISCONNECT_TEXT || text == MORV_LOG_VCC_TEXT || text == MORV_LOG_GND_TEXT)
        return false;
    return text != MORV_LOG_NOT_GND_TEXT || m_log_version != "6.0";
}

// A source the search around the old nodes did not find: an old adder's own
// output of that name, used or not; else the output of that name wherever it
// is, which for an input other than the share and extended inputs means
// that the search missed it.
CDB_ATOM_OTERM* MORV_LOG_MRL::find_rebuild_source(size_t slot, const REBUILD_PLAN& plan)
{
    const std::string& text = plan.sources[slot];
    for (CDB_ATOM_OTERM* existing : plan.existing) {
        if (existing == nullptr || !existing->get_my_node()->is_lcell_hsadder()) continue;
        CDB_ATOM_NODE* adder = existing->get_my_node();
        for (auto it = adder->begin_oterm(); it != adder->end_oterm(); ++it)
            if (morv_log_short_name((*it)->get_instance_name()) == text) return *it;
    }
    const int port = get_port_type_of_slot(static_cast<int>(slot), CDB_ATOM_MORLIN_LCELL_COMB_ENUM);
    if (port != DB_SHARE_IN && port != DB_DATA_G)
        MORV_DEBUG_STREAM::print(100, "Warning:  the iterm %s could not be found through a traversal", text.c_str());
    return find_oterm_by_logged_name(text);
}

// The new output under the logged name; the fanouts of the output it
// replaces move to it.
CDB_ATOM_OTERM* MORV_LOG_MRL::rebuild_output(CDB_ATOM_NODE* cell, int port_type, const std::string& logged_name,
                                             CDB_ATOM_OTERM* existing, std::vector<int32_t>& replaced)
{
    HDB_INSTANCE_NAME* iname = get_or_create_instance_name(logged_name);
    HDB_INSTANCE_NAME* name = iname;
    if (existing != nullptr && existing->get_instance_name() != iname)
        name = m_net_util->make_unique_instance_name(existing->get_instance_name(), "_LOG");
    CDB_ATOM_OTERM* oterm = nullptr;
    cdb()->create_oterm(nullptr, oterm, cell, port_type, name);
    m_oterm_by_name_id[iname->get_id()] = oterm;
    if (existing == nullptr) return oterm;
    CDB_ATOM_NODE* old_node = existing->get_my_node();
    m_net_util->adopt_fanouts(oterm, existing);
    move_logged_boundary_ports(existing, oterm);
    if (HDB_INSTANCE_NAME* old_name = existing->get_instance_name()) {
        auto found = m_oterm_by_name_id.find(old_name->get_id());
        if (found != m_oterm_by_name_id.end() && found->second == existing) m_oterm_by_name_id.erase(found);
        if (old_node->is_lcell_hsadder()) {
            std::string useless = old_name->get_short_hpath();
            useless += "_USELESS_OTERM";
            if (replay_logging()) log_set_instance_name(old_node, existing->get_usage(), useless);
            existing->set_instance_name(get_or_create_instance_name(useless));
        }
    }
    m_oterm_by_name_id[iname->get_id()] = oterm;
    const int32_t old_id = static_cast<int32_t>(old_node->get_id());
    if (std::find(replaced.begin(), replaced.end(), old_id) == replaced.end()) replaced.push_back(old_id);
    if (old_node->is_lcell_hsadder() || m_hs_adder_node_ids.erase(old_id) != 0)
        m_hs_adder_node_ids.insert(static_cast<int32_t>(cell->get_id()));
    // The old node lives on by another output: it takes that output's name.
    for (auto it = old_node->begin_oterm(); it != old_node->end_oterm(); ++it)
        if ((*it)->has_fanout() && (*it)->get_instance_name() != nullptr) {
            old_node->set_instance_name((*it)->get_instance_name());
            m_node_by_name_id[(*it)->get_instance_name()->get_id()] = old_node;
            break;
        }
    return oterm;
}

// A source that is one of the replaced outputs is read from the output made
// in its place: a cell that reads itself still does so, and the old cell
// goes.
void MORV_LOG_MRL::rebuild_inputs(CDB_ATOM_NODE* cell, const REBUILD_PLAN& plan,
                                  const std::vector<CDB_ATOM_OTERM*>& made)
{
    for (size_t slot = 0; slot < SOURCE_TABLE_SIZE; ++slot) {
        const std::string& text = plan.sources[slot];
        if (text.empty()) continue;
        CDB_ATOM_ITERM* iterm = nullptr;
        cdb()->create_input_term(nullptr, iterm, cell,
                                 get_port_type_of_slot(static_cast<int>(slot), cell->get_atom_type()), 0);
        if (text == MORV_LOG_VCC_TEXT) cdb()->set_iterm_vcc(iterm);
        else if (text == MORV_LOG_GND_TEXT || (text == MORV_LOG_NOT_GND_TEXT && m_log_version == "6.0"))
            cdb()->set_iterm_gnd(iterm);
        else if (CDB_ATOM_OTERM* source = plan.source_terms[slot]) {
            const auto replaced = std::find(plan.existing.begin(), plan.existing.end(), source);
            if (replaced != plan.existing.end()) source = made[static_cast<size_t>(replaced - plan.existing.begin())];
            m_net_util->insert_fanout(source, iterm);
        }
    }
}

void MORV_LOG_MRL::rebuild_latch(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell)
{
    CDB_ATOM_LATCH_INFO info;
    info.is_latch = true;
    info.output_port = DB_COMB_OUT;
    for (size_t i = 0; i < entry->m_sources.size(); ++i) {
        const std::string& role = entry->m_sources[i];
        if (!morv_log_is_latch_text(role)) continue;
        const int port_type = get_port_type_of_slot(entry->m_input_ports[i], cell->get_atom_type());
        const CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(port_type);
        if (iterm != nullptr && (iterm->is_vcc() || iterm->is_gnd())) continue;
        if (role == "CLEAR") info.clear_port = port_type;
        else if (role == "PRESET") info.preset_port = port_type;
        else if (role == "FEEDBACK") info.feedback_port = port_type;
        else {
            info.enable_port = port_type;
            info.enable_mode = role == "ENABLE1" ? CDB_LATCH_ENABLE_MODE_NON_INVERTED : CDB_LATCH_ENABLE_MODE_INVERTED;
        }
    }
    // The atom owns its latch record and frees it the host's way.
    cut_set_atom_latch_info(cell, new CDB_ATOM_LATCH_INFO(info));
    MORV_NETLIST_SWEEPER_MRL sweeper(m_fsyn_api);
    sweeper.propagate_constants_into_node(cell);
}

// A replaced node goes once nothing reads it; so, in turn, do the sources
// that only it read, as far as they were in the netlist before the replay.
void MORV_LOG_MRL::delete_replaced_nodes(std::vector<int32_t> work)
{
    std::set<int32_t> seen(work.begin(), work.end());
    while (!work.empty()) {
        const int32_t id = work.back();
        work.pop_back();
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        if (node == nullptr) continue;
        bool has_fanout = false;
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) has_fanout |= (*it)->has_fanout();
        if (has_fanout) continue;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const CDB_ATOM_OTERM* source = (*it)->get_source();
            if (source == nullptr) continue;
            const int32_t source_id = static_cast<int32_t>(source->get_my_node()->get_id());
            if (m_fsyn_api->is_atom_dont_touch(source_id, AMM_OP_FITTER_FSYN_LOG_REMOVE) ||
                is_node_made_during_log(static_cast<uint32_t>(source_id)) || !seen.insert(source_id).second)
                continue;
            work.insert(work.begin(), source_id);
        }
        delete_logged_node(node);
    }
}

bool MORV_LOG_MRL::reproduce_store_node_info(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    if (entry->m_is_constant_driver) return register_logged_output_node(entry);
    if (CDB_ATOM_NODE* named = find_node_by_logged_name(entry->m_node_name))
        if (CUT_VIRTUAL_IO_UTIL::is_virtual_io(named)) {
            MORV_DEBUG_STREAM::print(1, "The log stores the state of the virtual I/O %s", entry->m_node_name.c_str());
            return false;
        }
    MORV_DEBUG_STREAM::print(100, "Reproducing store node info %s (log entry id %d)", entry->m_node_name.c_str(),
                             entry->m_entry_id);
    if (entry->m_node_kind != MORV_LOG_NORMAL_NODE && entry->m_node_kind != MORV_LOG_LATCH_NODE) {
        MORV_DEBUG_STREAM::print(1, "The stored node %s is of kind %u, which replays on no morlin cell",
                                 entry->m_node_name.c_str(), entry->m_node_kind);
        return false;
    }
    REBUILD_PLAN plan;
    if (!plan_rebuild(entry, plan)) return false;
    const MORV_LOG_LUT_READS before = read_recorded_node(entry);

    HDB_INSTANCE_NAME* cell_name = get_or_create_instance_name(entry->m_node_name);
    CDB_ATOM_NODE* cell = create_lcell_comb(cell_name);
    m_node_by_name_id[cell_name->get_id()] = cell;
    std::vector<int32_t> replaced;
    std::vector<CDB_ATOM_OTERM*> made;
    for (size_t i = 0; i < entry->m_output_ports.size(); ++i)
        made.push_back(
            rebuild_output(cell, entry->m_output_ports[i], entry->m_output_port_name[i], plan.existing[i], replaced));
    rebuild_inputs(cell, plan, made);
    const int* partition = nullptr;
    if (!entry->m_part_name.empty()) partition = &m_part_name_to_part_id_map.at(entry->m_part_name);
    announce_replayed_node(cell, plan.origin, partition);
    place_in_same_lab(cell, plan.origin);
    cdb()->set_lutmask(cell,
                       convert_lutmask_bit_order(entry->m_lutmask, m_net_util->is_in_extended_mode(cell),
                                                 m_net_util->is_in_arithmetic_mode(cell)),
                       0);
    m_fsyn_api->modify_node(cell);
    warn_if_changed_since_recording(entry, before, cell);
    if (entry->m_node_kind == MORV_LOG_LATCH_NODE) rebuild_latch(entry, cell);
    delete_replaced_nodes(replaced);
    return true;
}

// ------------------------------------------------------------------ clock buffers

namespace {

bool is_driven_by_named(const CDB_ATOM_NODE* node, int port_type, const std::string& name)
{
    const CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    const CDB_ATOM_OTERM* source = iterm != nullptr ? iterm->get_source() : nullptr;
    return source != nullptr && morv_log_short_name(source->get_instance_name()) == name;
}

bool drives_only_signal_probes(const CDB_ATOM_OTERM* oterm)
{
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        if (!(*it)->is_signal_probe()) return false;
    return true;
}

}  // namespace

// The last matching clock buffer found stays mapped, unless a later one
// feeds nothing but signal probes.
bool MORV_LOG_MRL::confirm_existing_clkbuf(const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry)
{
    CDB_ATOM_OTERM* taken = nullptr;
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!node->is_clkbuf() || CUT_CLKBUF_UTIL::get_clock_type(node) != static_cast<int>(entry->m_clock_type))
            continue;
        CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_CLKBUF_OUT);
        if (out == nullptr || !is_driven_by_named(node, DB_CLKBUF_IN, entry->m_clk_source_name)) continue;
        if (!entry->m_ena_source_name.empty() && !is_driven_by_named(node, DB_CLOCK_ENABLE, entry->m_ena_source_name))
            continue;
        if (taken != nullptr && drives_only_signal_probes(out)) continue;
        MORV_DEBUG_STREAM::print(100, "Found that the TVII clock %s is really the FLII clock %d %s",
                                 entry->m_output_name.c_str(), int(node->get_id()),
                                 morv_log_short_name(out->get_instance_name()).c_str());
        taken = out;
    }
    if (taken == nullptr) return false;
    m_oterm_by_name_id[get_or_create_instance_name(entry->m_output_name)->get_id()] = taken;
    return true;
}

// A clock that came from logic reaches its sinks through the new buffer.
void MORV_LOG_MRL::move_clock_sinks(CDB_ATOM_OTERM* source, CDB_ATOM_NODE* clkbuf, CDB_ATOM_OTERM* out)
{
    std::vector<CDB_ATOM_ITERM*> sinks(source->begin_iterm_fanout(), source->end_iterm_fanout());
    for (CDB_ATOM_ITERM* sink : sinks)
        if (sink->get_my_node() != clkbuf) replay_connect(out, sink);
}

bool MORV_LOG_MRL::reproduce_confirm_clkbuf(LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry)
{
    if (find_oterm_by_logged_name(entry->m_output_name) != nullptr) return true;
    if (confirm_existing_clkbuf(entry)) return true;
    CDB_ATOM_OTERM* clk = find_oterm_by_logged_name(entry->m_clk_source_name);
    CDB_ATOM_OTERM* ena =
        entry->m_ena_source_name.empty() ? nullptr : find_oterm_by_logged_name(entry->m_ena_source_name);
    if (clk == nullptr || (!entry->m_ena_source_name.empty() && ena == nullptr)) return false;

    HDB_INSTANCE_NAME* out_name = get_or_create_instance_name(entry->m_output_name);
    CDB_ATOM_NODE* clkbuf =
        CUT_CLKBUF_UTIL::create_clkbuf_atom(nullptr, nullptr, static_cast<int>(entry->m_clock_type), CDB_FAMILY_MRL);
    MORV_ASSERT(clkbuf);
    CDB_ATOM_OTERM* out = nullptr;
    cdb()->create_oterm(nullptr, out, clkbuf, DB_CLKBUF_OUT, out_name);
    CDB_ATOM_ITERM* clk_in = nullptr;
    cdb()->create_input_term(nullptr, clk_in, clkbuf, DB_CLKBUF_IN, 0);
    (void)m_fsyn_api->check_boundary_port_node(clk->get_my_node());
    m_net_util->insert_fanout(clk, clk_in);
    CDB_ATOM_OTERM* last_source = clk;
    if (ena != nullptr) {
        CDB_ATOM_ITERM* ena_in = nullptr;
        cdb()->create_input_term(nullptr, ena_in, clkbuf, DB_CLOCK_ENABLE, 0);
        m_net_util->insert_fanout(ena, ena_in);
        last_source = ena;
    }
    MORV_DEBUG_STREAM::print(100, "Creating the clkbuf %s (id %d)", entry->m_output_name.c_str(),
                             int(clkbuf->get_id()));
    MORV_ASSERT_TEXT(!replay_logging(), "Should not need to log a change of a node name in current code");
    clkbuf->set_instance_name(out_name);
    m_nodes_to_insert[out_name->get_id()] = {clkbuf, clk->get_my_node(), false};
    m_nodes_in_pending_inserts.insert(clkbuf);
    m_nodes_in_pending_inserts.insert(clk->get_my_node());
    m_node_by_name_id[out_name->get_id()] = clkbuf;
    m_oterm_by_name_id[out_name->get_id()] = out;
    m_fsyn_api->copy_boundary_port_binding(last_source, out);
    BPM_BOUNDARY_PORT_MANAGER* bpm = m_fsyn_api->get_morv_env()->get_boundary_port_manager();
    const int bp_id = bpm != nullptr ? m_fsyn_api->get_boundary_port_id(out) : BPM_BOUNDARY_PORT_MANAGER::NO_PORT;
    if (bp_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) {
        add_boundary_port_tree(bp_id);
        add_boundary_port_term(bp_id, out);
    }
    CDB_ATOM_NODE* clk_node = clk->get_my_node();
    if (clk_node->is_lcell_comb() || m_net_util->is_ff(clk_node)) move_clock_sinks(last_source, clkbuf, out);
    return true;
}

// ------------------------------------------------------------------ connections

// The term of a connection slot; false when a latch's slot names no role
// or two inputs could be its data input.
bool MORV_LOG_MRL::connection_slot_port(CDB_ATOM_NODE* node, int slot, int& out_port) const
{
    if (CUT_VIRTUAL_IO_UTIL::is_virtual_io(node)) {
        out_port = CUT_VIRTUAL_IO_UTIL::get_pad_iport_for_vio(node);
        return true;
    }
    if (!m_net_util->is_latch(node)) {
        out_port = get_port_type_of_slot(slot, node->get_atom_type());
        return true;
    }
    if (slot > MORV_LOG_LATCH_OTHER) return false;
    out_port = get_latch_port_of_role(slot, node);
    if (out_port != MORV_LOG_NO_PORT) return true;
    MORV_DEBUG_STREAM::print(100, "Found two possible data inputs on a latch");
    return false;
}

bool MORV_LOG_MRL::apply_connection_slot(CDB_ATOM_NODE* node, int port_type, const std::string& text)
{
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

bool MORV_LOG_MRL::reproduce_add_remove_connection(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry)
{
    if (m_hs_adder_names.count(entry->m_node_name) != 0) return reproduce_entry_for_hs_adder(entry);
    CDB_ATOM_NODE* node = find_node_by_logged_name(entry->m_node_name);
    MORV_DEBUG_STREAM::print(100, "Reproducing add/remove connection %s", entry->m_node_name.c_str());
    if (node == nullptr) {
        MORV_DEBUG_STREAM::print(100,
                                 "Warning: Can't find the node in add remove connection.  Could be boundary ports");
        return true;
    }
    const int slots = get_connection_slot_count(node->get_atom_type());
    if (slots == 0) return apply_connection_array(entry, node);
    const CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (m_net_util->is_ff(node) && sload != nullptr && sload->is_vcc()) {
        MORV_DEBUG_STREAM::print(100, "Register %s has a VCC sload", entry->m_node_name.c_str());
        return false;
    }
    if (entry->m_connection_array.size() != static_cast<size_t>(slots)) return false;
    // Every port, term and source first: a bad one fails the entry before any edit.
    std::vector<int> ports(static_cast<size_t>(slots), MORV_LOG_NO_PORT);
    for (int slot = 0; slot < slots; ++slot) {
        const std::string& text = entry->m_connection_array[static_cast<size_t>(slot)];
        if (text == MORV_LOG_UNCHANGED_TEXT) continue;
        if (!connection_slot_port(node, slot, ports[static_cast<size_t>(slot)])) return false;
        if (!connection_slot_ready(node, ports[static_cast<size_t>(slot)], text)) return false;
    }
    for (int slot = 0; slot < slots; ++slot) {
        const std::string& text = entry->m_connection_array[static_cast<size_t>(slot)];
        if (text == MORV_LOG_UNCHANGED_TEXT) continue;
        if (!apply_connection_slot(node, ports[static_cast<size_t>(slot)], text)) return false;
    }
    return true;
}

// ------------------------------------------------------------------ sweeping, new cells, adders

void MORV_LOG_MRL::sweep_after_replay(bool)
{
    // Cells a replay replaced and nothing reads any more go in either case.
    MORV_NETLIST_SWEEPER_MRL sweeper(m_fsyn_api);
    sweeper.remove_unused_nodes();
}

CDB_ATOM_NODE* MORV_LOG_MRL::create_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return cdb()->create_lcell_comb_mrl(nullptr, name);
}

CDB_ATOM_NODE* MORV_LOG_MRL::create_lcell_ff(HDB_INSTANCE_NAME* name)
{
    return cdb()->create_lcell_ff_mrl(nullptr, name);
}

// This family's own adders are never rebuilt as pairs: no entry reaches here.
bool MORV_LOG_MRL::reproduce_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_NODE_BASE*)
{
    mrl_replay_error("This function should never be called while running Morlin", __LINE__);
}
