#include "morv/debug/morv_plumrix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cfg/cfg.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_block_util.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_env_timing.h"
#include "morv/core/morv_expert.h"
#include "morv/debug/morv_plumrix_interface.h"
#include "morv/debug/morv_plumrix_tables.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

int MORV_PLUMRIX::s_interface_users = 0;
bool MORV_PLUMRIX::s_setup_done = false;

namespace {

constexpr int NO_SLACK = INT_MAX;
constexpr uint8_t EOT = 0x04;
constexpr int OUTPUT_PORT_TYPE_252 = 252;

MORV_OWNER<MORV_PLUMRIX_INTERFACE>& interface_owner()
{
    static MORV_OWNER<MORV_PLUMRIX_INTERFACE> owner;
    return owner;
}

bool has_registered_output(const CDB_ATOM_NODE* node)
{
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if ((*it)->is_registered()) return true;
    return false;
}

// The output the edge delays of an atom's inputs are measured to: the first
// with fanout, or for an I/O atom also one without.
const CDB_ATOM_OTERM* chosen_output(const CDB_ATOM_NODE* node)
{
    const bool io = node->is_pin();
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        const CDB_ATOM_OTERM* oterm = *it;
        if (morv_oterm_has_fanout(oterm)) return oterm;
        if (io && (!has_registered_output(node) || oterm->get_usage() == OUTPUT_PORT_TYPE_252)) return oterm;
    }
    return nullptr;
}

const TDB_EDGE* find_fanin_from(const TDB_NODE* start, const TDB_NODE* source, const CDB_ATOM_ITERM* iterm,
                                const TDB_NODE** via)
{
    for (const TDB_EDGE_RANGE& group : {start->fanin(), start->clkin()}) {
        for (const TDB_EDGE* edge : group) {
            if (edge->get_src_node() == source) return edge;
            if (*via == nullptr && edge->get_src_node()->get_iterm() == iterm) *via = edge->get_src_node();
        }
    }
    return nullptr;
}

// Delay of the timing edge from the driving output into the input: searched
// from the chosen output, and again from the input's own pin node.
int edge_delay(TDB_NETLIST* tdb, const CDB_ATOM_OTERM* source, const CDB_ATOM_OTERM* chosen,
               const CDB_ATOM_ITERM* iterm)
{
    if (tdb == nullptr) return NO_SLACK;
    const TDB_NODE* src = tdb->get_tdb_node_from_oterm(source);
    const TDB_NODE* dst = tdb->get_tdb_node_from_oterm(chosen);
    if (src == nullptr || dst == nullptr) return NO_SLACK;
    const TDB_NODE* via = nullptr;
    const TDB_EDGE* edge = find_fanin_from(dst, src, iterm, &via);
    if (edge == nullptr && via != nullptr) {
        const TDB_NODE* again = nullptr;
        edge = find_fanin_from(via, src, iterm, &again);
    }
    return edge != nullptr ? edge->get_data_delay() : NO_SLACK;
}

bool is_source_registered(const CDB_ATOM_NODE* node, int output_port_type)
{
    if (node->is_mac_mult() || node->is_mac_out())
        return CUT_MAC_UTIL::is_output_port_registered(node, output_port_type);
    if (!node->is_ram()) return false;
    if (output_port_type == DB_RAM_PORTA_DATAOUT)
        return CUT_RAM_UTIL::ram_mode_is(node, 0, CDB_RAM_FLAG_OUTPUT_REGISTERED);
    if (output_port_type == DB_RAM_PORTB_DATAOUT)
        return CUT_RAM_UTIL::ram_mode_is(node, 1, CDB_RAM_FLAG_OUTPUT_REGISTERED);
    return false;
}

bool is_input_registered(const CDB_ATOM_NODE* node, int input_port_type)
{
    if (node->is_mac_mult() && CUT_MAC_UTIL::is_input_port_registered(node, input_port_type)) return true;
    return node->is_ram();
}

int category_of(const CDB_ATOM_NODE* node)
{
    const bool lcell_register = node->is_lcell() && node->get_output_term_by_type(DB_REG_OUT) != nullptr;
    if (node->is_lcell_comb() || (node->is_lcell() && !lcell_register)) return MORV_PLX_CATEGORY_LUT;
    if (node->is_register() || lcell_register) return MORV_PLX_CATEGORY_REGISTER;
    if (node->is_pin()) return MORV_PLX_CATEGORY_IO;
    if (node->is_clkbuf()) return MORV_PLX_CATEGORY_CLOCK_BUFFER;
    if (node->is_mac_mult()) return MORV_PLX_CATEGORY_MAC_MULT;
    if (node->is_mac_out()) return MORV_PLX_CATEGORY_MAC_OUT;
    if (node->is_ram()) return MORV_PLX_CATEGORY_RAM;
    return MORV_PLX_CATEGORY_OTHER;
}

std::string atom_name(const CDB_ATOM_NODE* node)
{
    const HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name != nullptr ? name->get_short_hpath() : std::string();
}

// A whole decimal integer that fits an int, and nothing else.
bool parse_atom_id(const std::string& text, int* id)
{
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || end == text.c_str() || value < INT_MIN || value > INT_MAX) return false;
    *id = static_cast<int>(value);
    return true;
}

}  // namespace

std::string morv_plx_breakpoint_name(const char* format, ...)
{
    char name[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(name, sizeof(name), format, args);
    va_end(args);
    const std::string result(name);
    if (result.size() > static_cast<size_t>(MORV_PLX_MAX_NETLIST_NAME)) return "ALGO_SHORT_NAME_TOO_LONG";
    return result;
}

std::string morv_plx_format_dump(const std::string& dump)
{
    std::string text;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        bool leading = true;
        for (char c : line) {
            if (c != '\t') {
                leading = false;
                text += c;
            } else {
                text += leading ? "  " : " | ";
            }
        }
        text += '\n';
    }
    return text;
}

MORV_PLUMRIX_INTERFACE* MORV_PLUMRIX::get_interface()
{
    return interface_owner().get();
}

MORV_PLUMRIX::MORV_PLUMRIX(MORV_API* fsyn_api)
    : m_fsyn_api(fsyn_api), m_enabled(fsyn_api != nullptr && fsyn_api->is_plumrix_enabled())
{
    MORV_ASSERT(m_fsyn_api);
}

MORV_PLUMRIX::~MORV_PLUMRIX()
{
    // A driver torn down without shutdown must not leave the interface counted.
    if (m_attached) shutdown();
}

bool MORV_PLUMRIX::is_connected() const
{
    return m_attached && get_interface() != nullptr && get_interface()->is_connected();
}

void MORV_PLUMRIX::initialize()
{
    if (!m_enabled || m_attached) return;
    m_attached = true;
    ++s_interface_users;
    if (get_interface() == nullptr) interface_owner() = MORV_MAKE_OWNER(MORV_PLUMRIX_INTERFACE);
    // Nothing can answer a session file.
    if (get_interface()->is_file_mode()) m_run_all = true;
    if (s_setup_done) {
        get_interface()->send_text("FSYN flow latching onto old interface.\n");
        return;
    }
    set_up_interface();
}

void MORV_PLUMRIX::set_up_interface()
{
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    link->connect();
    link->send_record_sizes();
    link->send_text("Initializing FSYN Plumrix.");
    link->send_register_command(MORV_PLX_CMD_RUN, "run", "Runs FSYN until the next breakpoint");
    link->send_register_command(MORV_PLX_CMD_NODEINFO, "nodeinfo", "Displays an atom dump of the specified node id");
    link->send_register_command(MORV_PLX_CMD_RUNALL, "runall", "Runs all FSYN algorithms");
    m_next_command_id = MORV_PLX_FIRST_USER_COMMAND;
    send_name_tables();
    s_setup_done = true;
}

void MORV_PLUMRIX::send_name_tables()
{
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    if (!link->is_connected()) return;
    for (uint32_t table = MORV_PLX_CELL_TYPE_TABLE; table <= MORV_PLX_OUTPUT_PORT_TABLE; ++table) {
        const int entries = morv_plx_table_size(table);
        link->send_table_start(static_cast<uint32_t>(entries), table);
        for (int index = 0; index < entries; ++index)
            link->send_table_entry(static_cast<uint32_t>(index), morv_plx_short_name(morv_plx_table_name(table, index)),
                                   table);
    }
}

void MORV_PLUMRIX::shutdown()
{
    if (!m_attached) return;
    m_attached = false;
    if (--s_interface_users > 0 || get_interface() == nullptr) return;
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    link->send_text("Closing the FSYN Plumrix interface.");
    link->send_code(MORV_PLX_CLOSING);
    link->disconnect();
    interface_owner().reset();
    // A later link in this process must connect afresh, not latch onto the
    // interface just deleted.
    s_setup_done = false;
}

int MORV_PLUMRIX::register_command(std::string name, std::string description, MORV_PLUMRIX_FUNCTIONOID* functionoid)
{
    if (!m_enabled || get_interface() == nullptr) return -1;
    const int id = m_next_command_id++;
    get_interface()->send_register_command(static_cast<uint32_t>(id), name, description);
    m_commands[id] = functionoid;
    return id;
}

void MORV_PLUMRIX::unregister_command(int id)
{
    if (!m_enabled || get_interface() == nullptr) return;
    auto found = m_commands.find(id);
    if (found == m_commands.end()) {
        get_interface()->send_text("Could not unregister command.  Command not found.");
        return;
    }
    m_commands.erase(found);
    get_interface()->send_unregister_command(static_cast<uint32_t>(id));
}

void MORV_PLUMRIX::print(const char* format, ...)
{
    if (!m_enabled || get_interface() == nullptr) return;
    char text[MORV_PLX_TEXT_FIELD + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    get_interface()->send_text("%s", text);
}

void MORV_PLUMRIX::breakpoint(const char* name)
{
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    if (!m_attached || link == nullptr) return;
    link->send_text("Breakpoint '%s'...", name);
    upload_netlist(name);
    if (m_run_all) return;
    for (;;) {
        link->send_code(MORV_PLX_WAITING);
        uint32_t raw_id = 0;
        std::string argument;
        const bool read = link->read_command(&raw_id, &argument);
        argument = argument.substr(0, argument.find(static_cast<char>(EOT)));
        link->send_code(MORV_PLX_BUSY);
        if (!read) {
            MORV_DEBUG_STREAM::print(1, "MORV_PLUMRIX: Warning - An error occured while trying to read the pipe.");
            return;
        }
        // An id past the signed range is no command of ours, never a failed read.
        const int id = raw_id > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(raw_id);
        if (!obey_command(id, argument, name)) return;
    }
}

bool MORV_PLUMRIX::obey_command(int id, const std::string& argument, const char* name)
{
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    switch (id) {
    case MORV_PLX_CMD_RUN: return false;
    case MORV_PLX_CMD_RUNALL: m_run_all = true; return false;
    case MORV_PLX_CMD_NODEINFO: {
        int atom_id = 0;
        if (parse_atom_id(argument, &atom_id)) dump_node_info(atom_id, name);
        else link->send_text("A node ID is required.");
        return true;
    }
    default: break;
    }
    auto found = m_commands.find(id);
    if (found != m_commands.end()) {
        found->second->invoke(id, argument);
        return true;
    }
    MORV_DEBUG_STREAM::print(1, "PLUMRIX: Error - Unrecognized command sent from Plumrix.");
    link->send_text("Received unrecognized command.");
    return true;
}

void MORV_PLUMRIX::upload_netlist(const char* name)
{
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    if (link == nullptr) return;
    CDB_ATOM_NETLIST* netlist = m_fsyn_api->get_atom_netlist();
    MORV_ASSERT_TEXT(netlist, "netlist");
    link->send_netlist_start(name);
    // Nothing is worth building for a tool that is not listening.
    if (link->is_connected()) {
        TDB_NETLIST* tdb = morv_env_get_tdb_netlist();
        for (CDB_ATOM_NODE* node : *netlist) upload_node(node, tdb);
    }
    link->send_code(MORV_PLX_NETLIST_END);
}

void MORV_PLUMRIX::upload_node(CDB_ATOM_NODE* node, TDB_NETLIST* tdb)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    MORV_PLX_NODE_RECORD record;
    const CDB_ATOM_OTERM* chosen = chosen_output(node);
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        const CDB_ATOM_OTERM* source = iterm->get_source();
        if (source == nullptr || source->get_my_node() == nullptr) continue;
        MORV_PLX_EDGE_RECORD edge;
        fill_edge(iterm, chosen, tdb, edge);
        link->send_edge(edge);
        record.input_slack = std::min(record.input_slack, edge.slack);
        record.input_slack_ratio = std::min(record.input_slack_ratio, edge.slack_ratio);
    }
    fill_node(node, tdb, record);
    link->send_node(record);
}

void MORV_PLUMRIX::fill_edge(CDB_ATOM_ITERM* iterm, const CDB_ATOM_OTERM* chosen, TDB_NETLIST* tdb,
                             MORV_PLX_EDGE_RECORD& edge)
{
    const CDB_ATOM_OTERM* source = iterm->get_source();
    const CDB_ATOM_NODE* src_node = source->get_my_node();
    const CDB_ATOM_NODE* dst_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(dst_node, "dst_node");
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    const int input_type = iterm->get_any_usage_as();
    edge.source_id = src_node->get_id();
    edge.destination_id = dst_node->get_id();
    edge.slack = timing->get_slack(iterm);
    edge.slack_ratio = timing->get_slack_ratio(iterm);
    edge.input_port_type = static_cast<uint32_t>(input_type);
    if (chosen != nullptr) {
        edge.output_port_type = static_cast<uint32_t>(source->get_usage());
        edge.delay = edge_delay(tdb, source, chosen, iterm);
    } else {
        edge.output_port_type = DB_MAX_OUTPUT_PORT_TYPE;
        edge.delay = -1;
    }
    edge.inverted = iterm->is_inverted() ? 1 : 0;
    edge.port_predicate = dst_node->implements(input_type) ? 1 : 0;
    edge.source_registered = is_source_registered(src_node, source->get_usage()) ? 1 : 0;
    edge.input_registered = is_input_registered(dst_node, input_type) ? 1 : 0;
}

void MORV_PLUMRIX::fill_node(CDB_ATOM_NODE* node, TDB_NETLIST* tdb, MORV_PLX_NODE_RECORD& record)
{
    const int id = static_cast<int>(node->get_id());
    record.name = atom_name(node);
    record.atom_id = node->get_id();
    record.cell_type = static_cast<uint32_t>(node->get_atom_type());
    record.category = category_of(node);
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) {
            record.fanout_slack = std::min(record.fanout_slack, timing->get_slack(*f));
            record.fanout_slack_ratio = std::min(record.fanout_slack_ratio, timing->get_slack_ratio(*f));
        }
    }
    MORV_NET_UTIL* net_util = m_fsyn_api->peek_fsyn_net_util();
    if (record.category == MORV_PLX_CATEGORY_LUT && net_util != nullptr) record.lut_mask = net_util->get_lutmask(node);
    const int dont_touch_port = record.category == MORV_PLX_CATEGORY_LUT        ? DB_COMB_OUT
                                : record.category == MORV_PLX_CATEGORY_REGISTER ? DB_REG_OUT
                                                                                : -1;
    CDB_ATOM_OTERM* guarded = dont_touch_port >= 0 ? node->get_output_term_by_type(dont_touch_port) : nullptr;
    if (guarded != nullptr) {
        const uint8_t retime = m_fsyn_api->is_oterm_dont_touch(guarded, AMM_OP_FITTER_FSYN_RETIME) ? 1 : 0;
        const uint8_t duplicate = m_fsyn_api->is_oterm_dont_touch(guarded, AMM_OP_FITTER_FSYN_DUPLICATE) ? 1 : 0;
        (record.category == MORV_PLX_CATEGORY_LUT ? record.comb_dont_touch_retime : record.reg_dont_touch_retime) =
            retime;
        (record.category == MORV_PLX_CATEGORY_LUT ? record.comb_dont_touch_duplicate
                                                  : record.reg_dont_touch_duplicate) = duplicate;
    }
    record.modification_count = static_cast<uint32_t>(get_modification_count(id));
    record.visit_count = static_cast<uint32_t>(get_visit_count(id));
    fill_location(node, record);
    TDB_UTILITY tdb_utility;
    for (auto it = node->begin_oterm(); tdb != nullptr && it != node->end_oterm() && record.tsu == -1; ++it) {
        const TDB_NODE* timing_node = tdb->get_tdb_node_from_oterm(*it);
        if (timing_node == nullptr || !timing_node->is_reg()) continue;
        record.tsu = std::max(record.tsu, tdb_utility.get_tsu_delay(timing_node));
        record.tco = std::max(record.tco, tdb_utility.get_tco_delay(timing_node));
    }
}

void MORV_PLUMRIX::fill_location(CDB_ATOM_NODE* node, MORV_PLX_NODE_RECORD& record)
{
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    bool in_flow = false;
    for (int flow = SYN_EARLY_FSYN_FLOW; expert != nullptr && flow <= LATE_FSYN_FLOW; ++flow)
        in_flow = in_flow || expert->is_fsyn_running(static_cast<e_fsyn_flow>(flow));
    if (in_flow) {
        MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
        MORV_LOC location;
        if (chip_map != nullptr && chip_map->get_node_location(static_cast<int>(node->get_id()), &location)) {
            record.x = location.x;
            record.y = location.y;
            record.sub_loc = location.sub_loc;
        }
        return;
    }
    int location[3] = {-1, -1, -1};
    m_fsyn_api->get_node_device_location(node, location);
    record.x = location[0];
    record.y = location[1];
    record.sub_loc = location[2];
}

void MORV_PLUMRIX::dump_node_info(int atom_id, const char* breakpoint_name)
{
    MORV_PLUMRIX_INTERFACE* link = get_interface();
    CDB_ATOM_NODE* node = atom_id >= 0 ? m_fsyn_api->get_morv_env()->get_node(atom_id) : nullptr;
    if (node == nullptr) {
        link->send_text("An error occured while trying to find the atom with id %d.", atom_id);
        return;
    }
    {
        std::ofstream out(MORV_PLX_NODE_DUMP_FILE, std::ios::out | std::ios::trunc);
        if (!out) {
            link->send_text("An error occured while trying to open a temporary node dump file.");
            return;
        }
        CUT_ATOM_DUMPER::dump_atom(node, out);
    }
    std::ifstream in(MORV_PLX_NODE_DUMP_FILE);
    if (!in) {
        link->send_text("An error occured while trying to read from the temporary node dump file.");
        return;
    }
    std::ostringstream dump;
    dump << in.rdbuf();
    in.close();
    link->send_long_text(morv_plx_format_dump(dump.str()));
    link->send_text("NOTE - The above information describes node %d in the netlist:", atom_id);
    link->send_text("         %s", breakpoint_name);
    link->send_text("       It is not accurate for other netlists.\n");
    std::remove(MORV_PLX_NODE_DUMP_FILE);
}

void MORV_PLUMRIX::note_node_modified(int atom_id)
{
    if (m_enabled) ++m_modified_nodes[atom_id];
}

int MORV_PLUMRIX::get_modification_count(int atom_id) const
{
    auto found = m_modified_nodes.find(atom_id);
    return found == m_modified_nodes.end() ? 0 : found->second;
}
