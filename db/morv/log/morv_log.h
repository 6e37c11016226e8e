#pragma once

// The change log of a migration compile: every netlist edit of the run as a
// typed record of the log database. Records are held in the pending
// containers until the run driver has the family write them out after an
// iteration; they go into numbered chunk files, which the flow driver merges
// into the compile's log file at the end of each physical-synthesis call.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
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
class MORV_CDB_INTERFACE;

// Sources of log_connection other than an output term.
constexpr int MORV_LOG_GND_SOURCE = -2;
constexpr int MORV_LOG_VCC_SOURCE = -3;

// The input port that no port is.
constexpr int MORV_LOG_NO_PORT = 3016;

// Roles of a latch's inputs; the latch information's clear, preset, enable
// and feedback ports, in that order, then any other input.
enum MORV_LOG_LATCH_ROLE : int
{
    MORV_LOG_LATCH_CLEAR = 0,
    MORV_LOG_LATCH_PRESET = 1,
    MORV_LOG_LATCH_ENABLE = 2,
    MORV_LOG_LATCH_FEEDBACK = 3,
    MORV_LOG_LATCH_OTHER = 4,
};

// What each LUT input of a cell reads, by evaluation slot (data inputs,
// carry in, share in): nothing, a constant, or an output term. A replay
// takes it of the node a stored state stands for, before it rebuilds that
// state over it.
struct MORV_LOG_LUT_READS
{
    static constexpr int SLOTS = 9;
    CDB_ATOM_NODE* node = nullptr;  // null: no cell to compare with
    uintptr_t reads[SLOTS] = {};
};

// A node that replay made for an INSERT_ATOM and has not announced yet.
struct MORV_LOG_NEW_NODE_TO_INSERT
{
    CDB_ATOM_NODE* m_new_node = nullptr;
    CDB_ATOM_NODE* m_old_node = nullptr;
    bool m_is_kind3 = false;
};

class MORV_LOG
{
public:
    using RECORD_OWNER = LOGDB_FSYN_LOG_ENTRY_OWNER;
    using RECORD_LIST = std::vector<RECORD_OWNER, MORV_ALLOCATOR<RECORD_OWNER>>;
    template <typename V>
    using ID_MAP = std::map<int32_t, V, std::less<int32_t>, MORV_ALLOCATOR<std::pair<const int32_t, V>>>;
    using RECORD_MAP = ID_MAP<RECORD_OWNER>;
    // Records owned elsewhere (the store-node-info map), in creation order.
    using RECORD_VIEW = std::vector<LOGDB_FSYN_LOG_ENTRY*, MORV_ALLOCATOR<LOGDB_FSYN_LOG_ENTRY*>>;

    MORV_LOG(const MORV_LOG&) = delete;
    MORV_LOG& operator=(const MORV_LOG&) = delete;
    virtual ~MORV_LOG();

    // ---- family slots
    // Deletes every pending record; the stored-node set and the chunk list stay.
    virtual void clear_pending_entries() = 0;
    // Writes the pending records to the current chunk, then an
    // END_OF_LOG_PRINT marker, and empties the pending containers.
    virtual void write_pending_entries() = 0;
    // Records a node's state before its first change in this log.
    virtual void store_node_info_before_change(CDB_ATOM_NODE* node) = 0;
    // Records the node's present state under the kind (4 latch, 0 other;
    // the morlin walk adds 1 to 3); a node already stored keeps its first
    // state, the one before any change.
    virtual void store_node_info(CDB_ATOM_NODE* node, uint32_t kind) = 0;
    // Records that the source of a connection is a clock buffer.
    virtual void log_confirm_clkbuf(CDB_ATOM_NODE* clkbuf) = 0;

    // ---- replay slots; a family without a replay of its own answers false
    // with one warning naming what is missing.
    // Indexes the netlist's nodes and used output terms by name.
    virtual void index_nodes_by_name_id();
    virtual bool reproduce_confirm_clkbuf(LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry);
    virtual bool reproduce_store_node_info(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry);
    virtual bool register_logged_output_node(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry);
    virtual bool reproduce_add_remove_connection(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry);
    // Every entry about a node that replay rebuilt as a high-speed-adder pair.
    virtual bool reproduce_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_NODE_BASE* entry);
    virtual void sweep_after_replay(bool remove_unused_nodes);
    virtual CDB_ATOM_NODE* create_lcell_comb(HDB_INSTANCE_NAME* name);
    virtual CDB_ATOM_NODE* create_lcell_ff(HDB_INSTANCE_NAME* name);

    // ---- replay of a stored log (morv_log_replay.cpp)
    // Reads and checks the whole log before the first edit, then reproduces
    // it entry by entry; false when the log was refused or an entry failed.
    bool reproduce_log();
    // The last replay refused the log as one recorded on this family: no
    // edit was made and its error is posted already.
    bool was_recorded_on_this_family() const { return m_recorded_on_this_family; }
    void insert_pending_nodes();
    // Announces a node the replay made from origin; a still pending origin
    // is announced first, since the new node takes its chip entry.
    void announce_replayed_node(CDB_ATOM_NODE* node, CDB_ATOM_NODE* origin, const int* partition);
    void delete_dangling_clkbufs();
    int restore_hs_adders();
    // Every record of the stored log, checked; false, with the file, the
    // offset and the reason in out_error, when the log cannot be replayed.
    bool read_stored_log(RECORD_LIST& out_records, std::string& out_error);
    const std::string& get_log_version() const { return m_log_version; }
    size_t get_pending_insert_count() const { return m_nodes_to_insert.size(); }

    // ---- replay handlers (morv_log_handlers.cpp)
    bool reproduce_insert_atom(LOGDB_FSYN_LOG_ENTRY_INSERT_ATOM* entry);
    bool reproduce_delete_atom(LOGDB_FSYN_LOG_ENTRY_DELETE_ATOM* entry);
    bool reproduce_create_iterm(LOGDB_FSYN_LOG_ENTRY_CREATE_ITERM* entry);
    bool reproduce_create_oterm(LOGDB_FSYN_LOG_ENTRY_CREATE_OTERM* entry);
    bool reproduce_set_lutmask(LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK* entry);
    bool reproduce_set_usage_as(LOGDB_FSYN_LOG_ENTRY_SET_USAGE_AS* entry);
    bool reproduce_reset_delay_chain(LOGDB_FSYN_LOG_ENTRY_RESET_DELAY_CHAIN* entry);
    bool reproduce_set_connected_to_delay_chain(LOGDB_FSYN_LOG_ENTRY_SET_CONNECTED_TO_DELAY_CHAIN* entry);
    bool reproduce_clear_invert(LOGDB_FSYN_LOG_ENTRY_CLEAR_INVERT* entry);
    bool reproduce_set_invert(LOGDB_FSYN_LOG_ENTRY_SET_INVERT* entry);
    bool reproduce_set_global(LOGDB_FSYN_LOG_ENTRY_SET_GLOBAL* entry);
    bool reproduce_clear_global(LOGDB_FSYN_LOG_ENTRY_CLEAR_GLOBAL* entry);
    bool reproduce_replace_input_term_by_type(LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE* entry);
    bool reproduce_remove_unordered_fanout_term(LOGDB_FSYN_LOG_ENTRY_REMOVE_UNORDERED_FANOUT_TERM* entry);
    bool reproduce_move_boundary_port_id(LOGDB_FSYN_LOG_ENTRY_MOVE_BOUNDARY_PORT_ID* entry);
    bool reproduce_set_boundary_port_id(LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID* entry);
    bool reproduce_disconnect_boundary_port_id(LOGDB_FSYN_LOG_ENTRY_DISCONNECT_BOUNDARY_PORT_ID* entry);
    bool reproduce_set_iterm_properties(LOGDB_FSYN_LOG_ENTRY_SET_ITERM_PROPERTIES* entry);
    // The five DSP port settings (types 32 to 36).
    bool reproduce_mac_port_setting(LOGDB_FSYN_LOG_ENTRY_NODE_BASE* entry);
    bool reproduce_clear_node_assignments(LOGDB_FSYN_LOG_ENTRY_CLEAR_NODE_ASSIGNMENTS* entry);
    bool reproduce_copy_node_assignments(LOGDB_FSYN_LOG_ENTRY_COPY_NODE_ASSIGNMENTS* entry);
    bool reproduce_copy_oterm_timing_assignments(LOGDB_FSYN_LOG_ENTRY_COPY_OTERM_TIMING_ASSIGNMENTS* entry);
    bool reproduce_set_user_lcell(LOGDB_FSYN_LOG_ENTRY_SET_USER_LCELL* entry);
    bool reproduce_set_invert_observable(LOGDB_FSYN_LOG_ENTRY_SET_INVERT_OBSERVABLE* entry);
    // The connection array of a node that is no cell or I/O of the family
    // (RAM and the like), or the RAM form's lists.
    bool apply_connection_array(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry, CDB_ATOM_NODE* node);
    // A mask logged by the other family in this cell's bit order.
    static CDB_LUTMASK convert_lutmask_bit_order(uint64_t mask, bool extended, bool arithmetic);
    HDB_INSTANCE_NAME* find_instance_name(const std::string& name) const;
    // Created under the action point's root when missing.
    HDB_INSTANCE_NAME* get_or_create_instance_name(const std::string& name) const;

    LOGDB_FSYN_LOG_FILE* get_log_file() { return m_log_file.get(); }
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

    // ---- pending records, for the family write-out and for tests
    const RECORD_LIST& get_pending_entries() const { return m_pending_entries; }
    const RECORD_LIST& get_partition_entries() const { return m_partition_entries; }
    const RECORD_MAP& get_insert_atom_map() const { return m_insert_atom_map; }
    const RECORD_MAP& get_delete_atom_map() const { return m_delete_atom_map; }
    const RECORD_MAP& get_connection_map() const { return m_connection_map; }
    const RECORD_VIEW& get_store_node_info_entries() const { return m_store_node_info_entries; }
    const RECORD_MAP& get_store_node_info_map() const { return m_store_node_info_map; }
    // Every pending record of every container, by entry id.
    std::vector<const LOGDB_FSYN_LOG_ENTRY*> get_all_pending_entries() const;
    size_t get_pending_entry_count() const { return get_all_pending_entries().size(); }
    const std::set<int32_t>& get_stored_node_ids() const { return m_stored_node_ids; }

    // ---- entry ids, chunks and the final file
    static uint32_t next_entry_id() { return s_log_entry_id++; }
    static uint32_t peek_entry_id() { return s_log_entry_id; }
    static int32_t get_chunk_counter() { return s_log_chunk_number; }
    // "db/" + project name + chunk number + ".kas"; counts the chunk.
    std::string make_chunk_file_name();
    // Deletes the file the log file names, then writes its REVISION_NUMBER.
    void begin_chunk_file();
    // Goes on in a new chunk: the records written so far stay in the old one.
    void start_new_log_chunk();
    // A new chunk when the last merge took every chunk of this log.
    void ensure_open_chunk();
    const std::vector<std::string>& get_chunk_file_names() const { return m_chunk_file_names; }
    // Writes a marker record straight to the current chunk.
    void write_marker(uint32_t type);
    // Writes a record to the current chunk; a write the file system refused
    // stops the compile (see fail_stored_file).
    void write_to_chunk(const LOGDB_FSYN_LOG_ENTRY* record);
    // Stops the compile with a user error naming the file and the reason,
    // removing the chunk files.
    [[noreturn]] static void fail_stored_file(const std::string& file_name, const std::string& reason);
    // A write to the current chunk that failed since it was opened stops the compile.
    void check_chunk_written() const;
    // Appends this log's chunks to final_name (see the .cpp for the steps).
    void merge_log_files(const std::string& final_name);
    void register_log_in_database(const std::string& final_name);
    // Once the host knows how the compile ended: a compile that succeeded
    // puts the logs it merged under their final names; one that failed
    // drops them, so that no log of a compile cut short is ever a final
    // file. The reason when a log could not be put in place.
    static std::string settle_final_files(bool compile_succeeded);
    // Whether this compile merged a log for final_name that waits to be settled.
    static bool is_final_file_pending(const std::string& final_name);
    // Writes a copy of a log beside target and renames it over target; the
    // reason when that fails (target is then as it was).
    static std::string copy_log_file(const std::string& source, const std::string& target);
    // Removes every chunk file this process made and has not removed yet.
    static void delete_chunk_files();
    // Chunk files made and not yet removed, oldest first.
    static std::vector<std::string> get_created_chunk_files();
    // Empties the pending records, the stored-node set and the chunk list.
    void reset_log();
    // Bytes of a log file (of what this compile merged, for a final name it
    // merged into); -1 when there is none.
    static int64_t get_log_file_size(const std::string& name);
    // Cuts a log file (the same one) back to a size it had: the records
    // merged after go.
    static void cut_log_file(const std::string& name, int64_t size);

    // ---- names, ports and partitions
    static int get_connection_slot(int port_type, int atom_type);
    static int get_port_type_of_slot(int slot, int atom_type);
    // Slots of a connection record of that atom type; 0 for no such group.
    static int get_connection_slot_count(int atom_type);
    int get_latch_port_role(CDB_ATOM_ITERM* iterm) const;
    int get_latch_port_of_role(int role, CDB_ATOM_NODE* node) const;
    CDB_ATOM_NODE* get_next_in_carry_chain(CDB_ATOM_NODE* node) const;
    CDB_ATOM_NODE* get_previous_in_carry_chain(CDB_ATOM_NODE* node) const;
    CDB_ATOM_NODE* get_carry_chain_head(CDB_ATOM_NODE* node) const;
    // The lookup tables replay builds before its first record.
    void build_boundary_port_map();
    // Enters the ports listed under bp_id, depth first, then bp_id itself.
    void add_boundary_port_tree(int bp_id);
    void build_partition_map();
    void build_boundary_port_term_map();
    // Enters the ports listed under bp_id, depth first, then bp_id itself,
    // each as carried by oterm.
    void add_boundary_port_term(int bp_id, CDB_ATOM_OTERM* oterm);
    // Enters a node and its output terms under their instance-name ids.
    void index_node_by_name_id(CDB_ATOM_NODE* node);
    CDB_ATOM_NODE* find_node_by_logged_name(const std::string& name) const;
    int find_boundary_port_id(const std::string& name) const;
    CDB_ATOM_OTERM* find_oterm_by_logged_name(const std::string& name);
    const std::map<std::string, uint32_t>& get_boundary_port_map() const { return m_bp_name_to_bp_id_map; }
    const std::map<std::string, CDB_ATOM_OTERM*>& get_boundary_port_term_map() const { return m_bp_name_to_oterm_map; }
    const std::map<std::string, int>& get_partition_map() const { return m_part_name_to_part_id_map; }
    const std::map<CDB_ATOM_OTERM*, std::vector<uint32_t>>& get_boundary_port_ids_by_term() const
    {
        return m_oterm_to_bp_ids_map;
    }

    // ---- records of the facade
    void log_insert_atom(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* from_node, bool is_kind3);
    void log_delete_atom(CDB_ATOM_NODE* node);
    void log_new_node(CDB_ATOM_NODE* node, CDB_ATOM_NODE* new_node, int output_port_type, int flag);
    void log_copy_oterm_timing_assignments(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to);
    void log_ignore_partition_bp_info(int partition_id);

    // ---- records of the editing interface, the net utility and the sweeper
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
    void log_clear_global(CDB_ATOM_ITERM* iterm);
    void log_clear_invert(CDB_ATOM_ITERM* iterm);
    void log_set_invert(CDB_ATOM_ITERM* iterm);
    void log_set_delay_chain_index(CDB_ATOM_ITERM* iterm, int delay_chain, int index);
    void log_set_user_delay_chain(CDB_ATOM_ITERM* iterm, int delay_chain, bool user);
    void log_remove_unordered_fanout_term(CDB_ATOM_NODE* node, int port_type, int index);
    void log_set_instance_name(CDB_ATOM_NODE* node, int output_port_type, const std::string& new_name);
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
    void log_set_user_lcell(CDB_ATOM_NODE* node);
    void log_set_invert_observable(CDB_ATOM_NODE* node, int output_port_type);

protected:
    // A live log: chunk file, first record and compile token are the family
    // constructor's to make.
    explicit MORV_LOG(MORV_API* fsyn_api);
    // A snapshot copy: clones every pending record and copies the containers;
    // it writes a chunk of its own (see open_first_chunk).
    MORV_LOG(const MORV_LOG& source, MORV_API* fsyn_api);
    // Makes the log file, names a new chunk, writes its first record.
    void open_first_chunk();
    // The write-out of both families (morv_log_record.cpp): prior states
    // and clock buffers, inserts, the other records, connections, partition
    // records, deletes in logging order, then END_OF_LOG_PRINT.
    void write_pending_in_replay_order();
    void clear_pending_containers();
    // The connection record of a node deleted in the same batch, turned into
    // the disconnection of every input it changed; false when the node was
    // made during the log and the record is not written.
    bool release_inputs_of_deleted_node(LOGDB_FSYN_LOG_ENTRY& record) const;

    // ---- prior states, shared by the families (morv_log_record.cpp)
    // Whether the node's state may be stored: not stored yet, not made or
    // inserted during this log, known to the host, not a virtual I/O cell.
    bool may_store_prior_state(CDB_ATOM_NODE* node) const;
    bool has_stored_state(int32_t node_id) const
    {
        return m_store_node_info_map.count(node_id) != 0 || m_stored_node_ids.count(node_id) != 0;
    }
    // Files a new STORE_NODE_INFO record under the node; null when the node
    // has one already (its first state stays).
    LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* file_store_node_info(CDB_ATOM_NODE* node, uint32_t kind);
    // The node's input port indices and source texts, and the property and
    // boundary-port records of the terms that need them. With
    // visit_sources, a constant-driver source stores its own state first and
    // a pure clock-buffer source is confirmed.
    void record_input_states(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* node, bool visit_sources);
    void record_output(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_OTERM* oterm) const;
    bool has_boundary_port(CDB_ATOM_OTERM* oterm) const;
    // The output a node with no used one is logged by.
    static CDB_ATOM_OTERM* get_primary_oterm(CDB_ATOM_NODE* node);
    // Mask, partition name and the constant-driver flag.
    void record_node_properties(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* node);
    void record_latch_roles(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* node);
    // The clock buffer's CONFIRM_CLKBUF, filed like a stored state.
    void file_confirm_clkbuf(CDB_ATOM_NODE* clkbuf);
    // The boundary-port name of the term when it has one, else the short
    // name of its source's output term.
    std::string get_iterm_source_name(CDB_ATOM_ITERM* iterm) const;
    bool is_constant_gnd_lcell(CDB_ATOM_NODE* node) const;
    bool is_constant_vcc_lcell(CDB_ATOM_NODE* node) const;
    bool is_constant_driver(CDB_ATOM_NODE* node) const
    {
        return is_constant_gnd_lcell(node) || is_constant_vcc_lcell(node);
    }

    RECORD_LIST m_partition_entries;
    RECORD_LIST m_pending_entries;
    RECORD_MAP m_insert_atom_map;
    RECORD_MAP m_delete_atom_map;
    RECORD_MAP m_connection_map;
    // Keyed by node id: the pending prior state or clock-buffer record of a
    // node. The map owns these records.
    RECORD_MAP m_store_node_info_map;
    // The same records in creation order, for the write-out; a change made
    // through the map (the morlin kind) is the one written.
    RECORD_VIEW m_store_node_info_entries;
    std::vector<std::string> m_chunk_file_names;
    std::unordered_map<uint32_t, CDB_ATOM_OTERM*> m_oterm_by_name_id;
    std::unordered_map<uint32_t, CDB_ATOM_NODE*> m_node_by_name_id;
    std::set<int32_t> m_stored_node_ids;
    std::map<std::string, uint32_t> m_bp_name_to_bp_id_map;
    std::map<std::string, int> m_part_name_to_part_id_map;
    std::map<std::string, CDB_ATOM_OTERM*> m_bp_name_to_oterm_map;
    std::map<CDB_ATOM_OTERM*, std::vector<uint32_t>> m_oterm_to_bp_ids_map;
    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util = nullptr;
    int32_t m_max_node_id_at_start = -1;
    MORV_OWNER<LOGDB_FSYN_LOG_FILE> m_log_file;
    std::string m_log_version;
    std::map<uint32_t, MORV_LOG_NEW_NODE_TO_INSERT> m_nodes_to_insert;
    // The new and the made-from nodes of m_nodes_to_insert, for the test
    // before a deletion.
    std::unordered_set<const CDB_ATOM_NODE*> m_nodes_in_pending_inserts;
    // Where each record of the stored log starts, for messages that name one.
    std::vector<uint64_t> m_record_offsets;
    bool m_recorded_on_this_family = false;
    // Why the entry being replayed failed, when its handler could tell.
    std::string m_replay_fault;
    // The registers the replay made, by name, with the record that made them.
    std::map<std::string, size_t> m_replayed_registers;
    std::set<std::string> m_hs_adder_names;
    std::set<int32_t> m_hs_adder_node_ids;
    std::set<std::string> m_not_available_reported;
    // ---- what the replay handlers share (morv_log_handlers.cpp)
    bool replay_logging() const;
    MORV_CDB_INTERFACE* cdb() const;
    // Announced, logged when logging, disconnected.
    void replay_disconnect(CDB_ATOM_ITERM* iterm);
    // Logged when logging, connected, announced.
    void replay_connect(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm);
    void replay_tie(CDB_ATOM_ITERM* iterm, bool vcc);
    void replay_clear_invert(CDB_ATOM_ITERM* iterm);
    bool replay_connection_text(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type, const std::string& text);
    bool connection_slot_ready(CDB_ATOM_NODE* node, int port_type, const std::string& text);
    // How a logged "GND" reaches an input term: a tie, unless the family says otherwise.
    virtual void replay_ground_text(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm);
    // The node a stored state stands for in this netlist, as its LUT reads
    // its inputs now; and, once the rebuilt cell has its mask, one warning
    // naming the node when the two are not the same logic.
    MORV_LOG_LUT_READS read_recorded_node(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry);
    void warn_if_changed_since_recording(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry,
                                         const MORV_LOG_LUT_READS& before, CDB_ATOM_NODE* cell);
    // A node the entry names that replay cannot find fails the entry.
    CDB_ATOM_NODE* require_node(const std::string& name, const char* kind);
    CDB_ATOM_ITERM* require_iterm(CDB_ATOM_NODE* node, const LOGDB_FSYN_LOG_ENTRY_TERM_BASE* entry, const char* kind);
    void delete_logged_node(CDB_ATOM_NODE* node);
    void release_fanouts(CDB_ATOM_OTERM* oterm);
    void place_in_same_lab(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node);
    // The boundary ports the replay found on one output go with its fanouts to another.
    void move_logged_boundary_ports(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to);
    // The node is gone: no index, no pending announcement may keep it.
    void forget_node(CDB_ATOM_NODE* node);
    bool dispatch_entry(LOGDB_FSYN_LOG_ENTRY* entry, bool& first_delete);
    // Keeps the first reason an entry cannot be reproduced; answers false.
    bool refuse_entry(const std::string& reason);
    // A name the entry needs that the replay has not made or found yet.
    bool refuse_missing_name(const char* what, const std::string& name);
    void report_failed_entry(const RECORD_LIST& records, size_t index);
    // A register the replay made must have its data and its clock: a log
    // that lacks the register's connections would leave it reading nothing.
    bool check_replayed_registers(const RECORD_LIST& records);
    void note_replayed_register(const LOGDB_FSYN_LOG_ENTRY& record, size_t index);
    // One warning per missing replay part.
    void warn_replay_not_available(const char* what);
    // One per compile, kept by snapshot copies: which compile started the
    // final file, so that only a compile's first merge starts it afresh.
    uint64_t m_compile_token = 0;

private:
    template <typename T>
    T* new_record();
    template <typename T>
    T* node_record(CDB_ATOM_NODE* node, bool store_prior_state);
    template <typename T>
    T* term_record(CDB_ATOM_ITERM* iterm, bool store_prior_state);
    void add_pending(RECORD_OWNER record);
    LOGDB_FSYN_LOG_ENTRY* find_or_make_connection_record(CDB_ATOM_NODE* node);
    void set_connection_slot(CDB_ATOM_ITERM* iterm, const std::string& source_text);
    void log_ram_connection(const std::string& source_text, CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm);
    void before_real_source(CDB_ATOM_OTERM* source);
    void log_new_node_iterm(CDB_ATOM_ITERM* iterm);
    void log_new_node_oterm(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm);
    void enter_boundary_port(int bp_id);
    std::string merge_start_file(const std::string& final_name, bool first_merge) const;
    bool is_first_merge(const std::string& final_name) const;

    static uint32_t s_log_entry_id;
    static int32_t s_log_chunk_number;
    static uint64_t s_compile_tokens;
};

// The brennock log: the prior state of a changed cell, and of its whole
// carry chain from the head when it sits on one.
class MORV_LOG_BRK : public MORV_LOG
{
public:
    explicit MORV_LOG_BRK(MORV_API* fsyn_api);
    MORV_LOG_BRK(const MORV_LOG_BRK& source, MORV_API* fsyn_api);
    ~MORV_LOG_BRK() override;
    void clear_pending_entries() override;
    void write_pending_entries() override;
    void store_node_info_before_change(CDB_ATOM_NODE* node) override;
    void store_node_info(CDB_ATOM_NODE* node, uint32_t kind) override;
    void log_confirm_clkbuf(CDB_ATOM_NODE* clkbuf) override;

    // ---- replay onto a brennock device (morv_log_brk_replay.cpp)
    void index_nodes_by_name_id() override;
    bool reproduce_confirm_clkbuf(LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry) override;
    bool reproduce_store_node_info(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry) override;
    bool register_logged_output_node(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry) override;
    bool reproduce_add_remove_connection(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry) override;
    void sweep_after_replay(bool remove_unused_nodes) override;
    CDB_ATOM_NODE* create_lcell_comb(HDB_INSTANCE_NAME* name) override;
    CDB_ATOM_NODE* create_lcell_ff(HDB_INSTANCE_NAME* name) override;

private:
    bool skips_chain_cell(CDB_ATOM_NODE* cell) const;
    // The parts of the rebuild of a stored cell, in order.
    bool find_rebuild_sources(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry,
                              std::vector<CDB_ATOM_OTERM*>& out_sources);
    CDB_ATOM_NODE* rebuild_inputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell,
                                  const std::vector<CDB_ATOM_OTERM*>& sources);
    CDB_ATOM_NODE* rebuild_outputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell,
                                   std::vector<CDB_ATOM_NODE*>& replaced);
    void rebuild_output(CDB_ATOM_NODE* cell, int port_type, const std::string& logged_name,
                        std::vector<CDB_ATOM_NODE*>& replaced, CDB_ATOM_NODE*& origin);
    void rebuild_latch(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell);
    void delete_replaced_nodes(const std::vector<CDB_ATOM_NODE*>& replaced);
    bool find_clkbuf_sources(const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry, CDB_ATOM_OTERM*& clk,
                             CDB_ATOM_OTERM*& ena);
    CDB_ATOM_NODE* find_existing_clkbuf(const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry) const;
    int connection_slot_port(CDB_ATOM_NODE* node, int slot) const;
    bool apply_connection_slot(CDB_ATOM_NODE* node, int slot, const std::string& text);
    void replay_ground_text(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm) override;
    void tie_to_ground_cell(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm);

    // ---- a high-speed adder of the other family as a pair of cells
    // (morv_log_brk_adder.cpp)
public:
    bool reproduce_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_NODE_BASE* entry) override;
    // The pair's term that an adder input port stands for: cell 0 or 1, and
    // its port type there.
    struct ADDER_TERM
    {
        int cell = 0;
        int port_type = 0;
    };
    static bool map_adder_port(int adder_port, ADDER_TERM& out);
    // The second cell's carry input: the pair's own carry link.
    static bool is_carry_link(const ADDER_TERM& term);

private:
    struct ADDER_INPUT
    {
        ADDER_TERM term;
        std::string text;
        CDB_ATOM_OTERM* source = nullptr;
    };
    struct ADDER_OUTPUT
    {
        int port = 0;
        std::string name;
        CDB_ATOM_OTERM* existing = nullptr;
    };
    struct ADDER_PLAN
    {
        std::vector<ADDER_INPUT> inputs;
        std::vector<ADDER_OUTPUT> outputs;
        CDB_ATOM_NODE* origin = nullptr;
    };
    bool find_adder_pair(const std::string& adder, CDB_ATOM_NODE* (&cells)[2]) const;
    static uint64_t pair_mask_half(CDB_ATOM_ITERM* iterm, bool high);
    void release_folded_constant(CDB_ATOM_ITERM* iterm);
    void set_pair_mask(CDB_ATOM_NODE* cell, bool keep_unconnected);
    CDB_ATOM_ITERM* get_or_create_pair_term(CDB_ATOM_NODE* cell, int port_type);
    bool plan_adder_inputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, ADDER_PLAN& plan);
    bool plan_adder_outputs(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, ADDER_PLAN& plan);
    void build_adder_inputs(const ADDER_PLAN& plan, CDB_ATOM_NODE* const (&cells)[2]);
    std::string low_carry_out_name(const ADDER_OUTPUT& output) const;
    void build_adder_output(const ADDER_OUTPUT& output, CDB_ATOM_NODE* const (&cells)[2],
                            std::vector<CDB_ATOM_NODE*>& replaced);
    void build_carry_link(CDB_ATOM_NODE* const (&cells)[2]);
    void delete_adder_replaced_nodes(const std::vector<CDB_ATOM_NODE*>& replaced);
    bool reproduce_store_node_info_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry);
    bool reproduce_add_remove_connection_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry);
    void apply_adder_connection(CDB_ATOM_NODE* cell, const ADDER_INPUT& change);
    bool find_adder_term(const LOGDB_FSYN_LOG_ENTRY_TERM_BASE* entry, CDB_ATOM_ITERM*& out_iterm, ADDER_TERM& out_term);
    bool reproduce_term_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_TERM_BASE* entry);
    bool reproduce_set_boundary_port_id_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_SET_BOUNDARY_PORT_ID* entry,
                                                     CDB_ATOM_ITERM* iterm, const ADDER_TERM& term);
    bool reproduce_replace_input_term_by_type_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_REPLACE_INPUT_TERM_BY_TYPE* entry);
};

// Kinds of the morlin prior states.
enum MORV_LOG_NODE_KIND : uint32_t
{
    MORV_LOG_NORMAL_NODE = 0,
    MORV_LOG_FEEDS_STORED_NODE = 1,
    MORV_LOG_FED_BY_STORED_NODE = 2,
    MORV_LOG_HS_ADDER_NODE = 3,
    MORV_LOG_LATCH_NODE = 4,
};

// The morlin log: the prior state of a changed cell together with the
// cells around it that a replay rebuilds with it.
class MORV_LOG_MRL : public MORV_LOG
{
public:
    explicit MORV_LOG_MRL(MORV_API* fsyn_api);
    MORV_LOG_MRL(const MORV_LOG_MRL& source, MORV_API* fsyn_api);
    ~MORV_LOG_MRL() override;
    void clear_pending_entries() override;
    void write_pending_entries() override;
    void store_node_info_before_change(CDB_ATOM_NODE* node) override;
    void store_node_info(CDB_ATOM_NODE* node, uint32_t kind) override;
    void log_confirm_clkbuf(CDB_ATOM_NODE* clkbuf) override;

private:
    using ID_SET = std::set<int32_t>;
    uint32_t kind_of(CDB_ATOM_NODE* node) const;
    // False when the node's state may not be stored under the kind; a
    // pending state of another kind becomes a normal node's.
    bool accepts(CDB_ATOM_NODE* node, uint32_t kind);
    void store_node_info_with_related(CDB_ATOM_NODE* node, uint32_t kind, bool from_fed_cell, ID_SET& visited,
                                      ID_SET& queue);
    void walk_forward(CDB_ATOM_NODE* node, ID_SET& visited, ID_SET& queue);
    void walk_backward(CDB_ATOM_NODE* node, ID_SET& visited, ID_SET& queue);
    void walk_onward(CDB_ATOM_NODE* node, ID_SET& visited, ID_SET& queue);

public:
    // ---- replay onto a morlin device (morv_log_mrl_replay.cpp)
    void index_nodes_by_name_id() override;
    bool reproduce_confirm_clkbuf(LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry) override;
    bool reproduce_store_node_info(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry) override;
    bool register_logged_output_node(LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry) override;
    bool reproduce_add_remove_connection(LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION* entry) override;
    [[noreturn]] bool reproduce_entry_for_hs_adder(LOGDB_FSYN_LOG_ENTRY_NODE_BASE* entry) override;
    // Runs the node remover whatever the flag says.
    void sweep_after_replay(bool remove_unused_nodes) override;
    CDB_ATOM_NODE* create_lcell_comb(HDB_INSTANCE_NAME* name) override;
    CDB_ATOM_NODE* create_lcell_ff(HDB_INSTANCE_NAME* name) override;
    // The first combinational cell at the top of the hierarchy.
    CDB_ATOM_NODE* find_root_lcell_comb() const;

private:
    // What a rebuild reads, resolved before its first edit: the source texts
    // and terms by logged input index, the existing output of each logged
    // output (null for a share output made anew), the node it is made from.
    struct REBUILD_PLAN
    {
        std::vector<std::string> sources;
        std::vector<CDB_ATOM_OTERM*> source_terms;
        std::vector<CDB_ATOM_OTERM*> existing;
        CDB_ATOM_NODE* origin = nullptr;
    };
    bool fill_source_table(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry,
                           std::vector<std::string>& out_table) const;
    bool plan_rebuild(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, REBUILD_PLAN& plan);
    bool resolve_rebuild_sources(REBUILD_PLAN& plan);
    bool names_a_source(const std::string& text) const;
    CDB_ATOM_OTERM* find_rebuild_source(size_t slot, const REBUILD_PLAN& plan);
    CDB_ATOM_OTERM* rebuild_output(CDB_ATOM_NODE* cell, int port_type, const std::string& logged_name,
                                   CDB_ATOM_OTERM* existing, std::vector<int32_t>& replaced);
    void rebuild_inputs(CDB_ATOM_NODE* cell, const REBUILD_PLAN& plan, const std::vector<CDB_ATOM_OTERM*>& made);

    // ---- the search for a rebuilt cell's sources around the nodes it replaces (morv_log_mrl_search.cpp)
    void search_rebuild_sources(REBUILD_PLAN& plan);
    bool fill_from_source(CDB_ATOM_OTERM* source, const std::vector<CDB_ATOM_OTERM*>& named, REBUILD_PLAN& plan);
    bool is_entered_by_search(CDB_ATOM_NODE* node) const;
    void rebuild_latch(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry, CDB_ATOM_NODE* cell);
    void delete_replaced_nodes(std::vector<int32_t> work);
    bool confirm_existing_clkbuf(const LOGDB_FSYN_LOG_ENTRY_CONFIRM_CLKBUF* entry);
    void move_clock_sinks(CDB_ATOM_OTERM* source, CDB_ATOM_NODE* clkbuf, CDB_ATOM_OTERM* out);
    bool connection_slot_port(CDB_ATOM_NODE* node, int slot, int& out_port) const;
    bool apply_connection_slot(CDB_ATOM_NODE* node, int port_type, const std::string& text);

    // Set while a state is being recorded: the property records made for it
    // are no change of the node and leave its kind alone.
    bool m_recording_state = false;
};
