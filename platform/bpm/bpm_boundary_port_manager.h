#pragma once
// The boundary-port manager of an incrementally compiled design: which
// partition each atom belongs to, and which boundary port (a named signal
// crossing a partition boundary) each atom term stands for.
//
// A term has two bindings: the port bound to it (the connection the netlist
// makes now; output terms only) and the port assigned to it (what the
// partition assignment asks for; input or output terms). Terms are keyed by
// (atom id, direction, port usage, port index), never by address, so the
// bindings hold for the new term objects of a restored netlist.
//
// A port id is the id of the port's instance name in the action point's
// name manager; -1 means no port. Terms of an ignored partition read as
// unbound.
//
// The component reaches the active manager through the run-time loader
// (thr.h); a compile without partitions or ports has none.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class HDB_ACTION_PT_INSTANCE;
class HDB_NAME_MGR;

class BPM_BOUNDARY_PORT_MANAGER
{
public:
    static constexpr int NO_PORT = -1;
    static constexpr int NO_PARTITION = -1;
    // The kind of an id that names no port made here.
    static constexpr int NO_KIND = -1;

    explicit BPM_BOUNDARY_PORT_MANAGER(HDB_ACTION_PT_INSTANCE* action_point);
    BPM_BOUNDARY_PORT_MANAGER(const BPM_BOUNDARY_PORT_MANAGER&) = delete;
    BPM_BOUNDARY_PORT_MANAGER& operator=(const BPM_BOUNDARY_PORT_MANAGER&) = delete;

    // ---- partitions
    // The partition the atom was entered in, else its partition assignment;
    // NO_PARTITION for a null atom or one in no partition.
    int get_partition_id(const CDB_ATOM_NODE* atom) const;
    // Enters an atom (an added one, usually) in a partition.
    void add_atom_to_partition(uint32_t atom_id, int partition_id);
    // "" for a negative or unknown partition; a known partition without a
    // name of its own is "partition_<id>".
    std::string get_partition_name(int partition_id) const;
    void set_partition_name(int partition_id, const std::string& name);
    // From now on the partition's terms read as unbound.
    void ignore_partition(int partition_id);
    bool is_partition_ignored(int partition_id) const;
    // Partitions are numbered from 0: one above the highest partition that
    // was declared, named, ignored or had an atom entered; 0 for none.
    int get_partition_count() const;
    // Makes a partition known (atoms assigned to it, usually).
    void add_partition(int partition_id);

    // ---- ports
    // The id of a port name (found or created below the root); NO_PORT for
    // an empty name or without a name manager.
    int create_port(const std::string& short_path);
    bool is_port(int port_id) const;
    // Short hierarchy path of the port's name; "" for NO_PORT or an unknown id.
    std::string get_port_name(int port_id) const;
    // Every port made by create_port has an id below this count; ids in
    // between that name no port have NO_KIND. 0 without ports.
    int get_port_count() const;
    // The host's kind of a port made by create_port (0 until set).
    int get_port_kind(int port_id) const;
    // False for an id create_port did not make.
    bool set_port_kind(int port_id, int kind);
    // A port (a bus, say) lists the ports it stands for under it, in the
    // order they were added. False, changing nothing, unless both were made
    // by create_port, the child is listed under no port yet and the child is
    // not the parent or one of its ancestors: the ports form a forest.
    bool add_child_port(int parent_id, int child_id);
    // The ports listed under a port; empty for a leaf or a non-port.
    const std::vector<int>& get_child_ports(int port_id) const;

    // ---- bindings; setters answer false (and change nothing) for an id
    // that is neither NO_PORT nor a port, or a term without a node.
    int get_bound_port_id(const CDB_ATOM_OTERM* oterm) const;
    bool bind_port_id(const CDB_ATOM_OTERM* oterm, int port_id);
    int get_assigned_port_id(const CDB_ATOM_OTERM* oterm) const;
    int get_assigned_port_id(const CDB_ATOM_ITERM* iterm) const;
    bool assign_port_id(const CDB_ATOM_OTERM* oterm, int port_id);
    bool assign_port_id(const CDB_ATOM_ITERM* iterm, int port_id);
    // Both bindings of existing move to replacement (existing keeps none).
    bool move_bindings(const CDB_ATOM_OTERM* existing, const CDB_ATOM_OTERM* replacement);
    // Number of bindings held (bound and assigned).
    int get_binding_count() const { return static_cast<int>(m_bound.size() + m_assigned.size()); }

    // ---- checks
    // Every binding of the node's terms names a port.
    bool check_node(const CDB_ATOM_NODE* node) const;
    // Every binding names a port, and no port is bound to two output terms.
    bool check() const;

    // ---- saved states (one file per name, in the working directory)
    bool save(const std::string& name) const;
    // Replaces every binding, partition entry, name, ignored partition,
    // port kind and port tree with the saved ones; false (nothing changed) when the file is
    // missing or damaged.
    bool load(const std::string& name);
    // True when no saved file is left; a folder under the name is kept.
    bool remove(const std::string& name) const;
    // A restore re-creates the action point's names: ports are read from
    // the restored name manager from now on.
    void rebind(HDB_ACTION_PT_INSTANCE* action_point);

private:
    // (atom id, 0 input / 1 output, port usage, port index)
    using KEY = std::tuple<uint32_t, int, int, int>;
    static bool key_of(const CDB_ATOM_ITERM* iterm, KEY* key);
    static bool key_of(const CDB_ATOM_OTERM* oterm, KEY* key);
    template <typename TERM>
    int read(const std::map<KEY, int>& table, const TERM* term) const;
    bool write(std::map<KEY, int>& table, const KEY& key, int port_id);
    HDB_NAME_MGR* names() const;
    bool port_ok(int port_id) const { return port_id == NO_PORT || is_port(port_id); }
    bool is_made_port(int port_id) const { return m_ports.count(port_id) != 0; }
    bool is_ancestor(int port_id, int of_id) const;

    struct PORT
    {
        int kind = 0;
        int parent = NO_PORT;
        std::vector<int> children;
    };

    HDB_ACTION_PT_INSTANCE* m_action_point;
    std::map<KEY, int> m_bound;
    std::map<KEY, int> m_assigned;
    std::map<uint32_t, int> m_entered_atoms;
    std::map<int, std::string> m_partition_names;
    std::set<int> m_ignored_partitions;
    std::set<int> m_partitions;
    std::map<int, PORT> m_ports;
};
