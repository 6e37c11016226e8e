#pragma once

// The run's side of the link to the interactive tool. Created and owned by
// the flow driver; enabled by "fsyn_enable_plumrix". At named breakpoints it
// uploads the netlist with its timing and, unless told to run on, obeys the
// tool's commands. Every link of the process shares one endpoint
// (MORV_PLUMRIX_INTERFACE): the first link set up opens it, the last one
// shut down closes it.

#include <cstdint>
#include <map>
#include <string>

#include "morv/core/morv_debug_stream.h"

class MORV_API;
class MORV_PLUMRIX_INTERFACE;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class TDB_NETLIST;
struct MORV_PLX_NODE_RECORD;
struct MORV_PLX_EDGE_RECORD;

// A command other parts register with the tool.
class MORV_PLUMRIX_FUNCTIONOID
{
public:
    virtual void invoke(int command_id, std::string argument) = 0;
    virtual ~MORV_PLUMRIX_FUNCTIONOID() = default;
};

// Built-in commands, and the first id given to a registered one.
constexpr int MORV_PLX_CMD_RUN = 0;
constexpr int MORV_PLX_CMD_NODEINFO = 1;
constexpr int MORV_PLX_CMD_RUNALL = 2;
constexpr int MORV_PLX_FIRST_USER_COMMAND = 3;

// Node categories of the node record.
enum MORV_PLX_CATEGORY : int
{
    MORV_PLX_CATEGORY_LUT = 0,
    MORV_PLX_CATEGORY_REGISTER = 1,
    MORV_PLX_CATEGORY_IO = 2,
    MORV_PLX_CATEGORY_CLOCK_BUFFER = 3,
    MORV_PLX_CATEGORY_MAC_MULT = 4,
    MORV_PLX_CATEGORY_MAC_OUT = 5,
    MORV_PLX_CATEGORY_RAM = 6,
    MORV_PLX_CATEGORY_OTHER = 8,
};

// The temporary file of the atom dump sent for "nodeinfo".
constexpr const char* MORV_PLX_NODE_DUMP_FILE = "plx_node_dump.tmp";

// A breakpoint name for the wire: formatted printf-style, or the fallback
// when the result does not fit the 31-character name field. The format is
// checked against its arguments at every call.
std::string morv_plx_breakpoint_name(const char* format, ...) MORV_PRINTF_FORMAT(1, 2);

// The tool's text of an atom dump: leading tabs indent by two blanks, other
// tabs separate fields with " | "; one line feed after every line.
std::string morv_plx_format_dump(const std::string& dump);

class MORV_PLUMRIX
{
public:
    explicit MORV_PLUMRIX(MORV_API* fsyn_api);
    ~MORV_PLUMRIX();
    MORV_PLUMRIX(const MORV_PLUMRIX&) = delete;
    MORV_PLUMRIX& operator=(const MORV_PLUMRIX&) = delete;

    void initialize();
    void shutdown();
    bool is_enabled() const { return m_enabled; }
    // The shared endpoint, socket or session file, is open.
    bool is_connected() const;
    bool is_attached() const { return m_attached; }
    bool is_run_all() const { return m_run_all; }
    void breakpoint(const char* name);

    int register_command(std::string name, std::string description, MORV_PLUMRIX_FUNCTIONOID* functionoid);
    void unregister_command(int id);
    void print(const char* format, ...) MORV_PRINTF_FORMAT(2, 3);

    void note_node_modified(int atom_id);
    int get_modification_count(int atom_id) const;
    // Retiming's count of visits to a critical node, beside the
    // modification counts.
    void note_node_visited(int atom_id) { ++m_visited_nodes[atom_id]; }
    int get_visit_count(int atom_id) const
    {
        auto found = m_visited_nodes.find(atom_id);
        return found == m_visited_nodes.end() ? 0 : found->second;
    }

    void upload_netlist(const char* name);
    void dump_node_info(int atom_id, const char* breakpoint_name);

    // Users attached to the shared interface, process-wide.
    static int get_interface_users() { return s_interface_users; }
    static MORV_PLUMRIX_INTERFACE* get_interface();
    static bool is_interface_set_up() { return s_setup_done; }

private:
    void set_up_interface();
    void send_name_tables();
    // One command of an interactive breakpoint; false when the breakpoint ends.
    bool obey_command(int id, const std::string& argument, const char* name);
    void upload_node(CDB_ATOM_NODE* node, TDB_NETLIST* tdb);
    void fill_edge(CDB_ATOM_ITERM* iterm, const CDB_ATOM_OTERM* chosen, TDB_NETLIST* tdb, MORV_PLX_EDGE_RECORD& edge);
    void fill_node(CDB_ATOM_NODE* node, TDB_NETLIST* tdb, MORV_PLX_NODE_RECORD& record);
    void fill_location(CDB_ATOM_NODE* node, MORV_PLX_NODE_RECORD& record);

    MORV_API* m_fsyn_api;
    bool m_enabled;
    bool m_attached = false;
    bool m_run_all = false;
    int m_next_command_id = MORV_PLX_FIRST_USER_COMMAND;
    std::map<int, MORV_PLUMRIX_FUNCTIONOID*> m_commands;
    std::map<int, int> m_modified_nodes;
    std::map<int, int> m_visited_nodes;

    static int s_interface_users;
    // The shared interface has been connected and has had the commands and
    // name tables; it goes with the interface.
    static bool s_setup_done;
};
