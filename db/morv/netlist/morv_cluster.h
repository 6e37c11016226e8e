#pragma once

// The working cluster of logic-to-RAM mapping: a set of atoms grown and
// shrunk one node at a time while the mapping looks for logic (typically a
// state machine with its registers) that a RAM block can replace. For every
// output term inside the set or directly feeding it, the cluster keeps a
// record: whether its node is in the cluster, how many of its fanouts stay
// inside, how many cluster registers it feeds, and register distances from
// the cluster's outputs (backwards) and from its inputs (forwards). From the
// records it tells cluster inputs and outputs apart and answers the
// structural questions of the mapping. A membership can be taken
// (get_added_oterms) and put back (pop_to_stack).
//
// Distances are recomputed on request only: every change marks the cluster
// dirty, and reading the filtered iterators of a dirty cluster is refused.

#include <cstdint>
#include <functional>
#include <vector>

#include "vtl_hash_lite_sys.h"

#include "morv/netlist/morv_deterministic.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class MORV_CLUSTER_MANAGER;
class MORV_CLUSTER_STATE_ENCODING;

// Register distances are not followed past this many registers.
constexpr int s_MORV_CLUSTER_MAX_DISTANCE = 16;

class MORV_CLUSTER_NODE_INFO
{
public:
    MORV_CLUSTER_NODE_INFO() = default;
    // A record for an oterm that has that many fanouts now.
    explicit MORV_CLUSTER_NODE_INFO(int total_fanout_count) : m_total_fanout_count(total_fanout_count) {}

    bool is_included() const { return m_is_included; }
    bool is_ff() const { return m_is_ff; }
    // The first data oterm (with fanout) of a node added to the cluster:
    // the cluster's membership is saved through these.
    bool is_added() const { return m_is_added; }
    int get_feeding_ff_count() const { return m_feeding_ff_count; }
    int get_buried_fanout_count() const { return m_buried_fanout_count; }
    int get_total_fanout_count() const { return m_total_fanout_count; }
    int get_buried_fanin_count() const { return m_buried_fanin_count; }
    int get_total_fanin_count() const { return m_total_fanin_count; }
    int get_min_output_distance() const { return m_min_output_distance; }
    int get_max_output_distance() const { return m_max_output_distance; }
    int get_min_input_distance() const { return m_min_input_distance; }
    int get_max_input_distance() const { return m_max_input_distance; }
    int get_lowest_fanin_output_distance() const { return m_lowest_fanin_output_distance; }
    int get_highest_fanout_output_distance() const { return m_highest_fanout_output_distance; }

    // Outside the cluster with fanout into it.
    bool is_true_input() const { return !m_is_included && m_buried_fanout_count > 0; }
    // Inside the cluster with fanout leaving it.
    bool is_true_output() const
    {
        return m_is_included && m_total_fanout_count >= 1 && m_buried_fanout_count != m_total_fanout_count;
    }
    // A true input or output that a RAM's single register stage can take:
    // every path through the cluster between it and the other boundary
    // crosses exactly one register (see update_registration).
    bool is_legal_input() const { return is_true_input() && m_is_registered; }
    bool is_legal_output() const { return is_true_output() && m_is_registered; }
    // An included register on a loop inside the cluster: a state bit of the
    // RAM, read back as an address bit.
    bool is_feedback_register() const { return m_is_included && m_is_feedback; }
    bool is_registered_state() const { return is_feedback_register() && m_is_registered; }
    // An included oterm that acts as state of the cluster: it feeds back
    // inside, under the boundary mode's rules.
    bool is_state(bool boundary_mode) const;
    bool is_output(bool boundary_mode) const { return is_true_output() || is_state(boundary_mode); }
    bool is_input(bool boundary_mode) const
    {
        return m_is_included ? is_state(boundary_mode) : m_buried_fanout_count > 0;
    }

    // The record's lines at logger level 100.
    void print() const;

private:
    friend class MORV_CLUSTER;

    bool m_is_included = false;
    int m_feeding_ff_count = 0;
    bool m_is_ff = false;
    bool m_is_added = false;
    int m_buried_fanout_count = 0;
    int m_total_fanout_count = 0;
    int m_buried_fanin_count = 0;
    int m_total_fanin_count = 0;
    int m_min_output_distance = -1;
    int m_max_output_distance = -1;
    int m_min_input_distance = -1;
    int m_max_input_distance = -1;
    int m_lowest_fanin_output_distance = -1;
    int m_highest_fanout_output_distance = -1;
    bool m_is_feedback = false;
    bool m_is_registered = false;
};

class MORV_CLUSTER
{
public:
    enum ITERATOR_TYPE : int
    {
        INCLUDED = 0,
        OUTPUTS = 1,
        INPUTS = 2
    };

    // Walks the known oterms in their order, yielding those that pass the
    // iterator type's filter.
    class NODE_ITERATOR
    {
    public:
        NODE_ITERATOR(const MORV_CLUSTER* cluster, MORV_OTERM_SET::const_iterator at, int type);
        CDB_ATOM_OTERM* operator*() const { return *m_at; }
        NODE_ITERATOR& operator++();
        bool operator==(const NODE_ITERATOR& other) const { return m_at == other.m_at; }
        bool operator!=(const NODE_ITERATOR& other) const { return m_at != other.m_at; }

    private:
        void skip_filtered();

        const MORV_CLUSTER* m_cluster;
        MORV_OTERM_SET::const_iterator m_at;
        int m_type;
    };

    // manager: the cluster manager that owns the cluster (may be null).
    explicit MORV_CLUSTER(MORV_CLUSTER_MANAGER* manager = nullptr);
    MORV_CLUSTER(const MORV_CLUSTER&) = delete;
    MORV_CLUSTER& operator=(const MORV_CLUSTER&) = delete;

    MORV_CLUSTER_MANAGER* get_cluster_manager() const { return m_cluster_manager; }
    bool get_boundary_mode() const { return m_boundary_mode; }
    void set_boundary_mode(bool boundary_mode) { m_boundary_mode = boundary_mode; }
    // The encoding that last encoded this cluster (not owned; valid while
    // that encoding lives): the RAM builder reads its contents.
    MORV_CLUSTER_STATE_ENCODING* get_encoding() const { return m_encoding; }
    void set_encoding(MORV_CLUSTER_STATE_ENCODING* encoding) { m_encoding = encoding; }
    bool is_dirty() const { return m_dirty; }

    void add_node(CDB_ATOM_NODE* node);
    void remove_node(CDB_ATOM_NODE* node);
    // Removes a member for good when keep, asked with the node gone, says
    // so; puts it back otherwise. Only the registration is brought up to
    // date before keep is asked, so keep may read membership, boundaries
    // and registration but no distance. A refused removal costs no distance
    // walk: the records it touched are put back as they were. True when the
    // node left (distances fresh again either way).
    bool try_remove_node(CDB_ATOM_NODE* node, const std::function<bool()>& keep);

    // The membership: the included oterms that carry their node's added flag.
    MORV_OTERM_SET get_added_oterms() const;
    // Back to a membership taken with get_added_oterms: removals first, then
    // additions, then fresh distances.
    void pop_to_stack(const MORV_OTERM_SET& target);
    // Every record rebuilt from the membership (after netlist edits).
    void reset_topology();

    // Distances from the outputs (following fanins) and from the inputs
    // (following fanouts; step counts every included oterm as a register
    // level, not only registers). update_distances runs both, and the
    // registration below, when dirty.
    void compute_fanin_distances();
    void compute_fanout_distances(bool step);
    void update_distances();

    // Which boundaries are registered. Registers on a loop of members are
    // state bits and cut the paths. Every other path, from a true input or
    // a state bit to a true output or a state bit's data input, must cross
    // exactly one register: a register driving a true input counts (the
    // RAM takes it as its address register), so does a member register,
    // and so does the state bit a path starts from or ends at, once. A
    // loop without a register makes every boundary unregistered.
    void update_registration();
    bool has_combinational_loop() const { return m_combinational_loop; }

    bool has_node_info(CDB_ATOM_OTERM* oterm) const { return m_node_info.contains(oterm); }
    const MORV_CLUSTER_NODE_INFO& get_node_info(CDB_ATOM_OTERM* oterm) const;
    // The writable form marks the distances stale. It has a name of its own
    // so that reading through a non-const cluster does not.
    MORV_CLUSTER_NODE_INFO& edit_node_info(CDB_ATOM_OTERM* oterm);
    int get_num_known_oterms() const { return static_cast<int>(m_known_oterms.size()); }

    NODE_ITERATOR begin_included() const { return begin(INCLUDED); }
    NODE_ITERATOR end_included() const { return end(INCLUDED); }
    NODE_ITERATOR begin_outputs() const { return begin(OUTPUTS); }
    NODE_ITERATOR end_outputs() const { return end(OUTPUTS); }
    NODE_ITERATOR begin_inputs() const { return begin(INPUTS); }
    NODE_ITERATOR end_inputs() const { return end(INPUTS); }

    // An included register with fanout outside whose every data input comes
    // from outside the cluster.
    bool is_input_fed_output_register(CDB_ATOM_OTERM* oterm) const;
    // False when an included oterm feeding a cluster register sits at input
    // distance 0 while it is a register or lies deeper than the inputs.
    bool check_input_distances() const;

    // Port types 1 and 5 to 7 of a register.
    static bool is_register_control_port(const CDB_ATOM_NODE* node, int port_type);
    // The outputs every walk of the cluster follows: a register's register
    // output; a combinational cell's carry, sum, comb and share outputs.
    static bool is_data_oterm(const CDB_ATOM_NODE* node, const CDB_ATOM_OTERM* oterm);
    // No included oterm feeds a cluster register while being a register or
    // lying past a register from the outputs, at input distance 0: the
    // cluster may then count its boundary in mode 0.
    bool is_state_candidate_free() const;

    void print() const;

private:
    using NODE_INFO_MAP = VTL_HASH_LITE<CDB_ATOM_OTERM*, MORV_CLUSTER_NODE_INFO>;

    NODE_ITERATOR begin(int type) const;
    NODE_ITERATOR end(int type) const;
    bool passes(int type, CDB_ATOM_OTERM* oterm) const;
    MORV_CLUSTER_NODE_INFO& find_or_create(CDB_ATOM_OTERM* oterm);
    void erase_record(CDB_ATOM_OTERM* oterm);
    MORV_CLUSTER_NODE_INFO& record_of(CDB_ATOM_OTERM* oterm);
    void visit_output_level(std::vector<CDB_ATOM_OTERM*>& current, std::vector<CDB_ATOM_OTERM*>& next, int d);
    void visit_input_level(std::vector<CDB_ATOM_OTERM*>& current, std::vector<CDB_ATOM_OTERM*>& next, int d, bool step);
    void set_fanin_output_distances();
    std::vector<uint8_t> registration_flags() const;
    void put_back_registration(const std::vector<uint8_t>& flags);

    MORV_CLUSTER_MANAGER* m_cluster_manager;
    NODE_INFO_MAP m_node_info;
    MORV_OTERM_SET m_known_oterms;
    bool m_dirty = false;
    bool m_boundary_mode = true;
    MORV_CLUSTER_STATE_ENCODING* m_encoding = nullptr;
    bool m_combinational_loop = false;
};
