#pragma once

// The change log of a migration compile: every netlist edit of the run as a
// typed record. Until the log's records and their replay are built, each
// writer keeps its call (writer name and arguments, in order) in the
// pending list, which is what write_pending_entries will put into the file;
// tests read the list to see what an edit logged and in which order.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "logdb/logdb_fsyn_log_file.h"
#include "mem_alloc_sys.h"

class MORV_API;
class MORV_NET_UTIL;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class CDB_LUTMASK;
class HDB_INSTANCE_NAME;

// One writer call: node arguments are atom ids, term arguments
// "<atom id>:<port usage>:<port index>", a missing node or term "none", the
// GND and VCC sources -2 and -3, masks in hexadecimal.
struct MORV_LOG_ENTRY
{
    std::string m_writer;
    std::vector<std::string> m_args;
};

// Sources of log_connection other than an output term.
constexpr int MORV_LOG_GND_SOURCE = -2;
constexpr int MORV_LOG_VCC_SOURCE = -3;

class MORV_LOG
{
public:
    explicit MORV_LOG(MORV_API* fsyn_api);
    MORV_LOG(const MORV_LOG& source, MORV_API* fsyn_api);
    virtual ~MORV_LOG();
    MORV_LOG& operator=(const MORV_LOG&) = delete;

    LOGDB_FSYN_LOG_FILE* get_log_file() { return &m_log_file; }
    void set_net_util(MORV_NET_UTIL* net_util) { m_net_util = net_util; }
    MORV_NET_UTIL* get_net_util() const { return m_net_util; }
    MORV_API* get_fsyn_api() const { return m_fsyn_api; }

    // The largest atom id when the current flow began: a node above it was
    // made during this log and has no prior state to store.
    void set_max_node_id_at_start(int32_t id) { m_max_node_id_at_start = id; }
    int32_t get_max_node_id_at_start() const { return m_max_node_id_at_start; }
    bool is_node_made_during_log(uint32_t atom_id) const
    {
        return static_cast<int64_t>(atom_id) > m_max_node_id_at_start;
    }

    void start_new_log_chunk() { ++m_chunk_number; }
    int get_chunk_number() const { return m_chunk_number; }
    void clear_chunk_files() { m_chunk_files.clear(); }
    const std::vector<std::string>& get_chunk_files() const { return m_chunk_files; }

    // Records written since the file last took them, oldest first.
    std::vector<MORV_LOG_ENTRY> get_pending_entries() const;
    size_t get_pending_entry_count() const;
    void clear_pending_entries();

    // ---- records of the facade
    void log_insert_atom(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* from_node, bool is_duplication);
    void log_delete_atom(CDB_ATOM_NODE* node);
    void log_new_node(CDB_ATOM_NODE* node, CDB_ATOM_NODE* new_node, int output_port_type, int flag);
    void log_copy_oterm_timing_assignments(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to);
    void log_ignore_partition_bp_info(int partition_id);

    // ---- records of the editing interface, the net utility and the sweeper
    // Keeps the node's form before its first change (its prior state); a
    // node keeps the first form stored.
    void store_node_info_before_change(CDB_ATOM_NODE* node);
    // The stored prior state of an atom: its LUT mask and, per input term,
    // "usage:index" and what drives it; "" when none was stored.
    std::string get_prior_state(uint32_t atom_id) const;
    void log_connection(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm);
    // source: MORV_LOG_GND_SOURCE or MORV_LOG_VCC_SOURCE
    void log_connection(int source, CDB_ATOM_ITERM* iterm);
    void log_disconnection(CDB_ATOM_ITERM* iterm);
    void log_connect_to_gnd(CDB_ATOM_ITERM* iterm);
    void log_connect_to_vcc(CDB_ATOM_ITERM* iterm);
    void log_adopt_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm);
    void log_create_iterm(CDB_ATOM_NODE* node, int input_port_type, int unordered_index);
    void log_create_oterm(CDB_ATOM_NODE* node, int output_port_type, HDB_INSTANCE_NAME* name);
    void log_set_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag);
    void log_set_lutmask_via_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag);
    void log_set_sum_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask, int flag);
    void log_set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type, int delay_chain,
                                  bool connected_to_delay_chain, bool use_delay_chain, int delay_chain_index,
                                  bool user_delay_chain);
    void log_set_usage_as(CDB_ATOM_ITERM* iterm, int input_port_type);
    void log_clear_usage_as(CDB_ATOM_ITERM* iterm, int input_port_type);
    void log_replace_input_term_by_type(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int input_port_type);
    void log_reset_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain);
    void log_set_connected_to_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain, bool connected);
    void log_set_global(CDB_ATOM_ITERM* iterm, int global_type);
    void log_clear_invert(CDB_ATOM_ITERM* iterm);
    void log_set_invert(CDB_ATOM_ITERM* iterm);
    void log_move_boundary_port_id(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to);
    void log_set_boundary_port_id(CDB_ATOM_OTERM* oterm, int port_id);
    void log_set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id);
    void log_disconnect_boundary_port_id(CDB_ATOM_OTERM* oterm);
    void log_disconnect_boundary_port_id(CDB_ATOM_ITERM* iterm);
    void log_set_output_port_clock(CDB_ATOM_NODE* node, int port_type, int value);
    void log_set_output_port_clear(CDB_ATOM_NODE* node, int port_type, int value);
    void log_set_input_port_clock(CDB_ATOM_NODE* node, int port_type, int value);
    void log_set_input_port_clear(CDB_ATOM_NODE* node, int port_type, int value);
    void log_set_input_port_width(CDB_ATOM_NODE* node, int port_type, int value);

protected:
    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util = nullptr;
    LOGDB_FSYN_LOG_FILE m_log_file;
    int m_chunk_number = 0;
    std::vector<std::string> m_chunk_files;
    int32_t m_max_node_id_at_start = -1;

private:
    using SEALED_ENTRIES = std::vector<MORV_LOG_ENTRY, MORV_ALLOCATOR<MORV_LOG_ENTRY>>;
    void record(const char* writer, std::vector<std::string> args);
    // A copy for a snapshot shares the records written so far rather than
    // copying them: they are sealed into a block both logs point at, and
    // each log goes on with an open block of its own.
    void seal_pending() const;

    mutable std::vector<std::shared_ptr<const SEALED_ENTRIES>> m_sealed;
    mutable SEALED_ENTRIES m_pending;
    // The prior states stored so far, shared with snapshot copies the same way.
    using PRIOR_STATES =
        std::map<uint32_t, std::string, std::less<uint32_t>, MORV_ALLOCATOR<std::pair<const uint32_t, std::string>>>;
    const std::string* find_prior_state(uint32_t atom_id) const;
    mutable std::vector<std::shared_ptr<const PRIOR_STATES>> m_sealed_prior_states;
    mutable PRIOR_STATES m_prior_states;
};

class MORV_LOG_BRK : public MORV_LOG
{
public:
    explicit MORV_LOG_BRK(MORV_API* fsyn_api) : MORV_LOG(fsyn_api) {}
    MORV_LOG_BRK(const MORV_LOG_BRK& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api) {}
};

class MORV_LOG_MRL : public MORV_LOG
{
public:
    explicit MORV_LOG_MRL(MORV_API* fsyn_api) : MORV_LOG(fsyn_api) {}
    MORV_LOG_MRL(const MORV_LOG_MRL& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api) {}
};
