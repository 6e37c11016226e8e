// Replay onto a brennock device of a high-speed adder of the other family:
// the adder named N becomes two chained combinational cells, N +
// "_HS_ADDER_NODE1" (the low bit) and N + "_HS_ADDER_NODE2" (the high bit),
// whose carry output and carry input form the adder's internal carry. Every
// later entry about N is redirected to the pair.
//
// The adder adds A + B + carry-in (its port 102) into its first sum, and C +
// D + that internal carry into its second sum and its carry-out; it does not
// read its port 103. On the pair, the first cell adds its inputs D and F and
// its carry input, the second cell its D and F and the first cell's carry.
// Port 103 has no place on the pair: the only free carry input is the link
// itself, and a second source there would change what the pair computes,
// so an entry that would connect 103 fails and one that only disconnects or
// marks it changes nothing.

#include <algorithm>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
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

namespace {

const char* const FIRST_CELL_SUFFIX = "_HS_ADDER_NODE1";
const char* const SECOND_CELL_SUFFIX = "_HS_ADDER_NODE2";
// What a morlin carry output of an adder's low bit is called beside the name it is logged under.
const char* const COUT1_SUFFIX = "_cout1";

// The adder's ports, as the other family numbers them.
constexpr int ADDER_CARRY_IN = 102;
constexpr int ADDER_SECOND_CHAIN_IN = 103;
constexpr int ADDER_CARRY_OUT = 43;
constexpr int ADDER_LOW_SUM = 437;
constexpr int ADDER_HIGH_SUM = 438;

// Mask halves of a pair cell: the low half adds the term on DB_DATA_D, the
// high half the term on DB_DATA_F (its complement read back by the cell).
constexpr uint64_t LOW_SIGNAL = 0xff;
constexpr uint64_t LOW_GND = 0;
constexpr uint64_t LOW_VCC = 0xffff;
constexpr uint64_t HIGH_SIGNAL = 0xff00;
constexpr uint64_t HIGH_GND = 0xffff;
constexpr uint64_t HIGH_VCC = 0;
constexpr int HIGH_HALF_SHIFT = 32;
constexpr uint64_t HALF_MASK = 0xffff;

bool ends_with(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool is_vcc_or_gnd_text(const std::string& text)
{
    return text == MORV_LOG_VCC_TEXT || text == MORV_LOG_GND_TEXT;
}

std::string cell_name(const std::string& adder, int cell)
{
    std::string name = adder;
    name += cell == 0 ? FIRST_CELL_SUFFIX : SECOND_CELL_SUFFIX;
    return name;
}

}  // namespace

// ------------------------------------------------------------------ the pair

bool MORV_LOG_BRK::map_adder_port(int adder_port, ADDER_TERM& out)
{
    switch (adder_port) {
    case DB_DATA_A: out = {0, DB_DATA_D}; return true;
    case DB_DATA_B: out = {0, DB_DATA_F}; return true;
    case DB_DATA_C: out = {1, DB_DATA_D}; return true;
    case DB_DATA_D: out = {1, DB_DATA_F}; return true;
    case ADDER_CARRY_IN: out = {0, DB_CARRY_IN}; return true;
    case ADDER_SECOND_CHAIN_IN: out = {1, DB_CARRY_IN}; return true;
    default: return false;
    }
}

bool MORV_LOG_BRK::is_carry_link(const ADDER_TERM& term)
{
    return term.cell == 1 && term.port_type == DB_CARRY_IN;
}

bool MORV_LOG_BRK::find_adder_pair(const std::string& adder, CDB_ATOM_NODE* (&cells)[2]) const
{
    for (int i = 0; i < 2; ++i) cells[i] = find_node_by_logged_name(cell_name(adder, i));
    return cells[0] != nullptr && cells[1] != nullptr;
}

uint64_t MORV_LOG_BRK::pair_mask_half(CDB_ATOM_ITERM* iterm, bool high)
{
    if (iterm != nullptr && iterm->is_connected() && !iterm->is_driven()) {
        if (iterm->is_vcc()) return high ? HIGH_VCC : LOW_VCC;
        return high ? HIGH_GND : LOW_GND;
    }
    return high ? HIGH_SIGNAL : LOW_SIGNAL;
}

// A constant on an adder input lives on in the mask; the term is let go.
void MORV_LOG_BRK::release_folded_constant(CDB_ATOM_ITERM* iterm)
{
    if (iterm == nullptr || !iterm->is_connected() || iterm->is_driven()) return;
    const bool gnd = iterm->is_gnd();
    replay_disconnect(iterm);
    if (gnd) replay_clear_invert(iterm);
}

// keep_unconnected: a half whose term is not connected keeps what the
// cell's mask holds now (an earlier constant folded into it).
void MORV_LOG_BRK::set_pair_mask(CDB_ATOM_NODE* cell, bool keep_unconnected)
{
    const uint64_t current = cell->get_lutmask().get_value();
    uint64_t halves[2];
    const int ports[2] = {DB_DATA_D, DB_DATA_F};
    for (int h = 0; h < 2; ++h) {
        CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(ports[h]);
        if (keep_unconnected && (iterm == nullptr || !iterm->is_connected()))
            halves[h] = (current >> (h * HIGH_HALF_SHIFT)) & HALF_MASK;
        else halves[h] = pair_mask_half(iterm, h == 1);
        release_folded_constant(iterm);
    }
    cdb()->set_lutmask(cell, CDB_LUTMASK(6, halves[0] | (halves[1] << HIGH_HALF_SHIFT)), 0);
    m_fsyn_api->modify_node(cell);
}

CDB_ATOM_ITERM* MORV_LOG_BRK::get_or_create_pair_term(CDB_ATOM_NODE* cell, int port_type)
{
    if (CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(port_type)) return iterm;
    CDB_ATOM_ITERM* iterm = nullptr;
    cdb()->create_input_term(nullptr, iterm, cell, port_type, 0);
    return iterm;
}

// ------------------------------------------------------------------ rebuilding

// Everything the rebuild reads is resolved here, before the first edit.
bool MORV_LOG_BRK::plan_adder_inputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, ADDER_PLAN& plan)
{
    const int slots = get_connection_slot_count(CDB_ATOM_BRK_LCELL_COMB_ENUM);
    for (size_t i = 0; i < entry->m_input_ports.size(); ++i) {
        const int slot = entry->m_input_ports[i];
        const std::string& text = entry->m_sources[i];
        ADDER_INPUT input;
        if (slot < 0 || slot >= slots ||
            !map_adder_port(get_port_type_of_slot(slot, CDB_ATOM_BRK_LCELL_COMB_ENUM), input.term)) {
            MORV_DEBUG_STREAM::print(1, "Unrecognized input port type for hs adder %s (slot %d)",
                                     entry->m_node_name.c_str(), slot);
            return false;
        }
        input.text = text;
        if (text != MORV_LOG_DISCONNECT_TEXT && !is_vcc_or_gnd_text(text))
            input.source = find_oterm_by_logged_name(text);
        if (is_carry_link(input.term)) {
            if (input.source != nullptr || is_vcc_or_gnd_text(text)) {
                MORV_DEBUG_STREAM::print(1, "The second chain input of hs adder %s would drive its internal carry",
                                         entry->m_node_name.c_str());
                return false;
            }
            continue;
        }
        if (input.source == nullptr && text != MORV_LOG_DISCONNECT_TEXT && !is_vcc_or_gnd_text(text)) {
            MORV_DEBUG_STREAM::print(1, "Unable to find the oterm %s", text.c_str());
            return false;
        }
        if (input.source != nullptr) plan.origin = input.source->get_my_node();
        plan.inputs.push_back(input);
    }
    return true;
}

bool MORV_LOG_BRK::plan_adder_outputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, ADDER_PLAN& plan)
{
    for (size_t i = 0; i < entry->m_output_ports.size(); ++i) {
        ADDER_OUTPUT output;
        output.port = entry->m_output_ports[i];
        output.name = entry->m_output_port_name[i];
        if (output.port != ADDER_CARRY_OUT && output.port != MORV_LOG_ADDER_LOW_CARRY_OUT &&
            output.port != ADDER_LOW_SUM && output.port != ADDER_HIGH_SUM) {
            MORV_DEBUG_STREAM::print(1, "Unrecognized port type %d of hs adder %s", output.port,
                                     entry->m_node_name.c_str());
            return false;
        }
        output.existing = find_oterm_by_logged_name(output.name);
        if (output.existing == nullptr && output.port != MORV_LOG_ADDER_LOW_CARRY_OUT)
            MORV_DEBUG_STREAM::print(0, "Warning: Can't find the oterm %s for this hsadder in the TVII netlist",
                                     output.name.c_str());
        if (output.existing != nullptr) plan.origin = output.existing->get_my_node();
        plan.outputs.push_back(output);
    }
    if (!entry->m_part_name.empty() && m_part_name_to_part_id_map.count(entry->m_part_name) == 0) {
        MORV_DEBUG_STREAM::print(1, "Unknown partition %s", entry->m_part_name.c_str());
        return false;
    }
    if (plan.origin == nullptr) {
        MORV_DEBUG_STREAM::print(1, "No source and no output of hs adder %s is in the netlist",
                                 entry->m_node_name.c_str());
        return false;
    }
    return true;
}

void MORV_LOG_BRK::build_adder_inputs(const ADDER_PLAN& plan, CDB_ATOM_NODE* const (&cells)[2])
{
    for (const ADDER_INPUT& input : plan.inputs) {
        CDB_ATOM_ITERM* iterm = get_or_create_pair_term(cells[input.term.cell], input.term.port_type);
        if (input.text == MORV_LOG_VCC_TEXT) cdb()->set_iterm_vcc(iterm);
        else if (input.text == MORV_LOG_GND_TEXT) cdb()->set_iterm_gnd(iterm);
        else if (input.source != nullptr) m_net_util->insert_fanout(input.source, iterm);
    }
}

// The low bit's carry output is logged by the other family with a trailing
// "_cout1" that its own name index leaves out.
std::string MORV_LOG_BRK::low_carry_out_name(const ADDER_OUTPUT& output) const
{
    if (m_log_version == "6.0" || output.existing != nullptr || !ends_with(output.name, COUT1_SUFFIX))
        return output.name;
    return output.name.substr(0, output.name.size() - std::char_traits<char>::length(COUT1_SUFFIX));
}

void MORV_LOG_BRK::build_adder_output(const ADDER_OUTPUT& output, CDB_ATOM_NODE* const (&cells)[2],
                                      std::vector<CDB_ATOM_NODE*>& replaced)
{
    if (output.existing != nullptr) {
        CDB_ATOM_NODE* old_node = output.existing->get_my_node();
        if (std::find(replaced.begin(), replaced.end(), old_node) == replaced.end()) replaced.push_back(old_node);
        if (output.port == ADDER_CARRY_OUT || output.port == ADDER_HIGH_SUM) {
            const CDB_ATOM_ITERM* carry_in = old_node->get_input_term_by_type(DB_CARRY_IN);
            CDB_ATOM_OTERM* driver = carry_in != nullptr ? carry_in->get_source() : nullptr;
            if (driver != nullptr &&
                std::find(replaced.begin(), replaced.end(), driver->get_my_node()) == replaced.end())
                replaced.push_back(driver->get_my_node());
        }
    }
    int cell = 0;
    int port_type = DB_CARRY_OUT;
    switch (output.port) {
    case ADDER_CARRY_OUT: cell = 1; break;
    case ADDER_LOW_SUM: port_type = DB_SUM_OUT; break;
    case ADDER_HIGH_SUM:
        cell = 1;
        port_type = DB_SUM_OUT;
        break;
    default: break;
    }
    const bool low_carry = output.port == MORV_LOG_ADDER_LOW_CARRY_OUT;
    if (!low_carry && output.existing == nullptr) return;
    HDB_INSTANCE_NAME* name = get_or_create_instance_name(low_carry ? low_carry_out_name(output) : output.name);
    CDB_ATOM_OTERM* oterm = cells[cell]->get_output_term_by_type(port_type);
    if (oterm == nullptr) cdb()->create_oterm(nullptr, oterm, cells[cell], port_type, name);
    if (!low_carry) {
        m_net_util->adopt_fanouts(oterm, output.existing);
        move_logged_boundary_ports(output.existing, oterm);
    }
    m_oterm_by_name_id[name->get_id()] = oterm;
}

void MORV_LOG_BRK::build_carry_link(CDB_ATOM_NODE* const (&cells)[2])
{
    CDB_ATOM_OTERM* link = cells[0]->get_output_term_by_type(DB_CARRY_OUT);
    if (link == nullptr) {
        std::string name = cells[0]->get_instance_name()->get_short_hpath();
        name += "COUT0";
        cdb()->create_oterm(nullptr, link, cells[0], DB_CARRY_OUT, get_or_create_instance_name(name));
    }
    CDB_ATOM_ITERM* carry_in = get_or_create_pair_term(cells[1], DB_CARRY_IN);
    replay_clear_invert(carry_in);
    replay_connect(link, carry_in);
    m_oterm_by_name_id[link->get_instance_name()->get_id()] = link;
    if (cells[1]->get_output_term_by_type(DB_CARRY_OUT) == nullptr) {
        std::string name = cells[1]->get_instance_name()->get_short_hpath();
        name += "COUT1";
        CDB_ATOM_OTERM* carry_out = nullptr;
        cdb()->create_oterm(nullptr, carry_out, cells[1], DB_CARRY_OUT, get_or_create_instance_name(name));
    }
}

// A replaced node keeps living while it drives something through an output
// the pair did not take; its carry and share outputs alone do not keep it.
void MORV_LOG_BRK::delete_adder_replaced_nodes(const std::vector<CDB_ATOM_NODE*>& replaced)
{
    for (CDB_ATOM_NODE* node : replaced) {
        bool kept = false;
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            CDB_ATOM_OTERM* oterm = *it;
            if (!oterm->has_fanout()) continue;
            if (oterm->get_usage() != DB_SHARE_OUT && oterm->get_usage() != DB_CARRY_OUT) {
                kept = true;
                continue;
            }
            if (HDB_INSTANCE_NAME* name = oterm->get_instance_name()) {
                auto found = m_oterm_by_name_id.find(name->get_id());
                if (found != m_oterm_by_name_id.end() && found->second == oterm) m_oterm_by_name_id.erase(found);
            }
            replay_disconnect(oterm->get_first_fanout());
        }
        if (!kept) {
            delete_logged_node(node);
            continue;
        }
        for (int port : {DB_CARRY_IN, DB_SHARE_IN})
            if (CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port)) {
                replay_disconnect(iterm);
                replay_clear_invert(iterm);
            }
    }
}

bool MORV_LOG_BRK::reproduce_store_node_info_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    if (m_hs_adder_names.count(entry->m_node_name) != 0) return true;
    ADDER_PLAN plan;
    if (!plan_adder_inputs(entry, plan) || !plan_adder_outputs(entry, plan)) return false;
    m_hs_adder_names.insert(entry->m_node_name);

    CDB_ATOM_NODE* cells[2];
    m_node_by_name_id[get_or_create_instance_name(entry->m_node_name)->get_id()] = nullptr;
    for (int i = 0; i < 2; ++i) {
        HDB_INSTANCE_NAME* name = get_or_create_instance_name(cell_name(entry->m_node_name, i));
        cells[i] = create_lcell_comb(name);
        m_node_by_name_id[name->get_id()] = cells[i];
    }
    build_adder_inputs(plan, cells);
    std::vector<CDB_ATOM_NODE*> replaced;
    for (const ADDER_OUTPUT& output : plan.outputs) build_adder_output(output, cells, replaced);
    build_carry_link(cells);
    const int* partition = nullptr;
    if (!entry->m_part_name.empty()) partition = &m_part_name_to_part_id_map.at(entry->m_part_name);
    for (CDB_ATOM_NODE* cell : cells) {
        m_fsyn_api->node_added(cell, plan.origin, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, partition);
        place_in_same_lab(cell, plan.origin);
    }
    for (CDB_ATOM_NODE* cell : cells) set_pair_mask(cell, false);
    delete_adder_replaced_nodes(replaced);
    return true;
}

// ------------------------------------------------------------------ connections

// The slot form of the entry, or the list form the morlin recorder writes
// for a node that is no cell: one change per logged (source, port, index).
bool MORV_LOG_BRK::reproduce_add_remove_connection_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry)
{
    CDB_ATOM_NODE* cells[2];
    MORV_DEBUG_STREAM::print(100, "Reproducing add/remove connection for hs adder %s", entry->m_node_name.c_str());
    if (!find_adder_pair(entry->m_node_name, cells)) {
        MORV_DEBUG_STREAM::print(0, "Waning: Can't find the hs adder nodes for %s", entry->m_node_name.c_str());
        return true;
    }
    // Every change and source first: a bad one fails the entry before any edit.
    std::vector<ADDER_INPUT> changes;
    auto plan = [&](int adder_port, const std::string& text) {
        ADDER_INPUT change;
        change.text = text;
        if (!map_adder_port(adder_port, change.term)) {
            MORV_DEBUG_STREAM::print(1, "Unrecognized port type in reproduce add/remove connection for hs adder %s",
                                     entry->m_node_name.c_str());
            return false;
        }
        if (change.text != MORV_LOG_DISCONNECT_TEXT && !is_vcc_or_gnd_text(change.text)) {
            change.source = find_oterm_by_logged_name(change.text);
            if (change.source == nullptr) {
                MORV_DEBUG_STREAM::print(1, "Add/remove connection could not find the oterm %s", change.text.c_str());
                return false;
            }
        }
        // Nothing but a disconnection may reach the pair's own carry link.
        if (is_carry_link(change.term)) return change.text == MORV_LOG_DISCONNECT_TEXT;
        changes.push_back(change);
        return true;
    };
    if (entry->m_type == LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM) {
        const auto* lists = static_cast<const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_RAM*>(entry);
        if (lists->m_usage_as.size() != lists->m_sources.size() ||
            lists->m_term_indices.size() != lists->m_sources.size())
            return false;
        for (size_t i = 0; i < lists->m_sources.size(); ++i)
            if (lists->m_term_indices[i] != 0 || !plan(static_cast<int>(lists->m_usage_as[i]), lists->m_sources[i]))
                return false;
    } else {
        const int slots = get_connection_slot_count(CDB_ATOM_BRK_LCELL_COMB_ENUM);
        if (entry->m_type != LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_COMB ||
            entry->m_connection_array.size() != static_cast<size_t>(slots))
            return false;
        for (int slot = 0; slot < slots; ++slot) {
            const std::string& text = entry->m_connection_array[static_cast<size_t>(slot)];
            if (text != MORV_LOG_UNCHANGED_TEXT &&
                !plan(get_port_type_of_slot(slot, CDB_ATOM_BRK_LCELL_COMB_ENUM), text))
                return false;
        }
    }
    for (const ADDER_INPUT& change : changes) apply_adder_connection(cells[change.term.cell], change);
    for (CDB_ATOM_NODE* cell : cells) set_pair_mask(cell, true);
    return true;
}

void MORV_LOG_BRK::apply_adder_connection(CDB_ATOM_NODE* cell, const ADDER_INPUT& change)
{
    CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(change.term.port_type);
    if (iterm != nullptr && m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1) return;
    if (change.text == MORV_LOG_DISCONNECT_TEXT) {
        if (iterm != nullptr) replay_disconnect(iterm);
        return;
    }
    iterm = get_or_create_pair_term(cell, change.term.port_type);
    if (change.text == MORV_LOG_VCC_TEXT) replay_tie(iterm, true);
    else if (change.text == MORV_LOG_GND_TEXT) replay_tie(iterm, false);
    else replay_connect(change.source, iterm);
}

// ------------------------------------------------------------------ term-level entries

// out_iterm stays null when the entry changes nothing: a cell or term of
// the pair is missing, or the term is the internal carry, which the adder's
// own function does not read.
bool MORV_LOG_BRK::find_adder_term(const LOGDB_FSYN_LOG_ENTRY_TERM_BASE* entry, CDB_ATOM_ITERM*& out_iterm,
                                   ADDER_TERM& out_term)
{
    out_iterm = nullptr;
    if (entry->m_term_index != 0 || !map_adder_port(static_cast<int>(entry->m_usage_as), out_term)) {
        MORV_DEBUG_STREAM::print(1, "Unrecognized port type %u:%u for hs adder %s", entry->m_usage_as,
                                 unsigned(entry->m_term_index), entry->m_node_name.c_str());
        return false;
    }
    CDB_ATOM_NODE* cells[2];
    if (!find_adder_pair(entry->m_node_name, cells) || is_carry_link(out_term)) return true;
    out_iterm = cells[out_term.cell]->get_input_term_by_type(out_term.port_type);
    return true;
}

bool MORV_LOG_BRK::reproduce_term_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_TERM_BASE* entry)
{
    CDB_ATOM_ITERM* iterm = nullptr;
    ADDER_TERM term;
    if (!find_adder_term(entry, iterm, term)) return false;
    MORV_DEBUG_STREAM::print(100, "Reproducing %s for hs adder %s %d", logdb_fsyn_log_entry_kind_name(entry->m_type),
                             entry->m_node_name.c_str(), int(entry->m_usage_as));
    if (entry->m_type == LOGDB_FSYN_LOG_OPERATION_SET_BOUNDARY_PORT_ID)
        return reproduce_set_boundary_port_id_for_hs_adder(
            static_cast<LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID*>(entry), iterm, term);
    if (iterm == nullptr) return true;
    switch (entry->m_type) {
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_INVERT: replay_clear_invert(iterm); break;
    case LOGDB_FSYN_LOG_OPERATION_SET_INVERT:
        if (replay_logging()) log_set_invert(iterm);
        iterm->set_invert();
        break;
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_GLOBAL:
        if (replay_logging()) log_clear_global(iterm);
        iterm->set_global(0);
        break;
    case LOGDB_FSYN_LOG_OPERATION_SET_GLOBAL: {
        const int value = static_cast<int>(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_GLOBAL*>(entry)->m_global_type & 0x1f);
        if (replay_logging()) log_set_global(iterm, value);
        iterm->set_global(value);
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_RESET_DELAY_CHAIN: cdb()->reset_iterm_delay_chain(iterm); break;
    case LOGDB_FSYN_LOG_OPERATION_SET_CONNECTED_TO_DELAY_CHAIN:
        cdb()->set_iterm_connected_to_delay_chain(
            iterm, static_cast<LOGDB_FSYN_LOG_ENTRY_SET_CONNECTED_TO_DELAY_CHAIN*>(entry)->m_connected);
        break;
    case LOGDB_FSYN_LOG_OPERATION_SET_ITERM_PROPERTIES: {
        // The inversion stays as logged: the adder read its input inverted,
        // and so must the pair.
        const auto* e = static_cast<LOGDB_FSYN_LOG_ENTRY_SET_ITERM_PROPERTIES*>(entry);
        cdb()->set_iterm_properties(iterm, e->m_invert, e->m_global, DB_DELAY_CHAIN_INPUT,
                                    e->m_connected_to_delay_chain, e->m_use_delay_chain, e->m_delay_chain_index,
                                    e->m_user_delay_chain);
        break;
    }
    case LOGDB_FSYN_LOG_OPERATION_DISCONNECT_BOUNDARY_PORT_ID: m_fsyn_api->set_boundary_port_id(iterm, -1); break;
    default: return false;
    }
    return true;
}

bool MORV_LOG_BRK::reproduce_set_boundary_port_id_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID* entry,
                                                               CDB_ATOM_ITERM* iterm, const ADDER_TERM& term)
{
    const int bp_id = find_boundary_port_id(entry->m_bp_name);
    auto bp_oterm = m_bp_name_to_oterm_map.find(entry->m_bp_name);
    if (bp_id < 0 || bp_oterm == m_bp_name_to_oterm_map.end() || is_carry_link(term)) return false;
    if (iterm == nullptr) return true;
    m_fsyn_api->set_boundary_port_id(iterm, bp_id);
    replay_connect(bp_oterm->second, iterm);
    return true;
}

bool MORV_LOG_BRK::reproduce_replace_input_term_by_type_for_hs_adder(
    LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE* entry)
{
    MORV_DEBUG_STREAM::print(100, "Reproducing replace input term by type %s %d", entry->m_node_name.c_str(),
                             int(entry->m_port_type));
    ADDER_TERM term;
    if (!map_adder_port(static_cast<int>(entry->m_port_type), term)) {
        MORV_DEBUG_STREAM::print(1, "Unrecognized port type %u for hs adder %s", entry->m_port_type,
                                 entry->m_node_name.c_str());
        return false;
    }
    CDB_ATOM_NODE* cells[2];
    if (!find_adder_pair(entry->m_node_name, cells) || is_carry_link(term)) return true;
    CDB_ATOM_ITERM* iterm = cells[term.cell]->get_input_term_by_type(term.port_type);
    if (iterm == nullptr) return true;
    replay_disconnect(iterm);
    m_net_util->remove_input_term(cells[term.cell], nullptr, iterm->get_any_usage_as());
    delete iterm;
    return true;
}

// ------------------------------------------------------------------ dispatch

bool MORV_LOG_BRK::reproduce_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_NODE_BASE* entry)
{
    switch (entry->m_type) {
    case LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO:
        return reproduce_store_node_info_for_hs_adder(static_cast<LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_COMB:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_FF:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_IO:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM:
        return reproduce_add_remove_connection_for_hs_adder(
            static_cast<LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_REPLACE_INPUT_TERM_BY_TYPE:
        return reproduce_replace_input_term_by_type_for_hs_adder(
            static_cast<LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE*>(entry));
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_INVERT:
    case LOGDB_FSYN_LOG_OPERATION_SET_INVERT:
    case LOGDB_FSYN_LOG_OPERATION_CLEAR_GLOBAL:
    case LOGDB_FSYN_LOG_OPERATION_SET_GLOBAL:
    case LOGDB_FSYN_LOG_OPERATION_RESET_DELAY_CHAIN:
    case LOGDB_FSYN_LOG_OPERATION_SET_CONNECTED_TO_DELAY_CHAIN:
    case LOGDB_FSYN_LOG_OPERATION_SET_ITERM_PROPERTIES:
    case LOGDB_FSYN_LOG_OPERATION_SET_BOUNDARY_PORT_ID:
    case LOGDB_FSYN_LOG_OPERATION_DISCONNECT_BOUNDARY_PORT_ID:
        return reproduce_term_entry_for_hs_adder(static_cast<LOGDB_FSYN_LOG_ENTRY_TERM_BASE*>(entry));
    default:
        // A usage change has no place on the pair: its ports are fixed.
        MORV_DEBUG_STREAM::print(1, "Can't handle hs adder nodes in this function (%s %s)",
                                 logdb_fsyn_log_entry_kind_name(entry->m_type), entry->m_node_name.c_str());
        return false;
    }
}
