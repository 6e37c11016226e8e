#pragma once

// The per-family layer of netlist queries and small netlist edits. One
// object per run, chosen by the base family and owned by the facade.
// Algorithms ask it what an atom is, read and evaluate LUT masks through
// it, and make through it the small edits that must always be announced to
// the facade and mirrored into the change log. The 4-LUT and 6-LUT
// branches and the UVO class answer the family questions; the family
// leaves add atom creation and a few overrides.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_lutmask.h"
#include "mem_alloc_sys.h"
#include "cdb/cdb_types.h"

#include "morv/netlist/morv_deterministic.h"

class MORV_API;
class MORV_LOG;
class MORV_TIMING;
class MORV_CDB_INTERFACE;
class MORV_CANONICAL_NODE_INFO;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class HDB_INSTANCE_NAME;
class HDB_NAME_MGR;

// The settings of one input term, saved before an algorithm replaces the
// term and written back onto its successor.
struct MORV_ITERM_PROPERTIES
{
    bool inverted = false;
    bool connected_to_delay_chain = false;
    bool use_delay_chain = false;
    bool user_delay_chain = false;
    int delay_chain_index = -1;
    int boundary_port_id = -1;
    int global_setting = 0;  // sign-extended from 5 bits
};

// Input values of the evaluate_* operations: one entry (0 or 1) per
// position, DB_DATA_A .. DB_DATA_G, then the carry-in and the share-in.
constexpr int MORV_EVALUATE_INPUT_COUNT = 9;
constexpr int MORV_EVALUATE_CARRY_IN = 7;
constexpr int MORV_EVALUATE_SHARE_IN = 8;
// What an evaluation answers for an output that drives nothing.
constexpr unsigned MORV_NO_LUT_VALUE = 0xFFFFFFFFu;
// (input port type, value) pairs, the form some callers hold their values in.
typedef std::vector<std::pair<int, unsigned>> MORV_PORT_VALUES;

class MORV_NET_UTIL
{
public:
    MORV_NET_UTIL(CDB_ATOM_NETLIST* netlist, MORV_API* api);
    virtual ~MORV_NET_UTIL();
    MORV_NET_UTIL(const MORV_NET_UTIL&) = delete;
    MORV_NET_UTIL& operator=(const MORV_NET_UTIL&) = delete;

    // ---- family questions, in dispatch order ----
    virtual bool is_lcell_in_a_chain(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_lcell_part_of_a_carry_chain(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_in_register_cascade(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_in_arithmetic_mode(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_in_qfbk_mode(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_sload_tied_to_vcc(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_lut_data_input(CDB_ATOM_ITERM* iterm) const = 0;
    virtual bool is_lcell(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_lcell_hsadder(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_ff(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_lut(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_in_extended_mode(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_register_control_input(CDB_ATOM_ITERM* iterm) const = 0;
    virtual bool is_register_present(CDB_ATOM_NODE* node) const = 0;
    // Replaces constant-tied LUT inputs by driver cells (one family only).
    virtual void tie_inputs_to_vcc_lcells();
    // OR of the first number_of_inputs inputs.
    virtual CDB_LUTMASK create_or_lutmask(int number_of_inputs) const = 0;
    virtual bool is_carry_in_connected(CDB_ATOM_NODE* node) const = 0;
    // The LUT reads its carry-in, 0 when it has none, where it would read
    // input C, so a term at port C goes unread. The writer and simulator
    // compute the cell so; every reader of its function must agree.
    virtual bool reads_carry_in_at_c(CDB_ATOM_NODE* /*node*/) const { return false; }
    virtual bool has_carry_out_fanout(CDB_ATOM_NODE* node) const = 0;
    virtual bool does_lut_feed_register(CDB_ATOM_NODE* node) const = 0;
    virtual bool is_driven_by_constant_gnd(CDB_ATOM_ITERM* iterm) const = 0;
    virtual bool is_driven_by_constant_vcc(CDB_ATOM_ITERM* iterm) const = 0;
    // Drops connected LUT data inputs the mask ignores; answers how many.
    // Every used output keeps its function. A latch keeps its data input
    // whatever the mask says, also when it is tied to a constant: the latch
    // description names it. So constant propagation leaves latches alone (a
    // fold into a latch's mask could never be followed by a removal, and
    // would take the mask away from the form its description reads).
    virtual int remove_unused_lut_inputs(CDB_ATOM_NODE* node) = 0;
    // A new unconnected, unannounced combinational cell of the family.
    virtual CDB_ATOM_NODE* create_lcell_comb(CDB_ATOM_NODE* node) = 0;
    // A new unconnected, unannounced register, named after base_name when given.
    virtual CDB_ATOM_NODE* create_register(CDB_ATOM_NODE* node, HDB_INSTANCE_NAME* base_name = nullptr) = 0;
    virtual uint64_t get_lcell_lutmask(CDB_ATOM_NODE* node) const = 0;
    virtual uint64_t get_lutmask(CDB_ATOM_NODE* node) const = 0;
    virtual uint64_t get_carry_lutmask(CDB_ATOM_NODE* node) const = 0;
    // Value (0 or 1) of an output for MORV_EVALUATE_INPUT_COUNT input
    // values; MORV_NO_LUT_VALUE when that output drives nothing.
    virtual unsigned evaluate_comb_out(CDB_ATOM_NODE* node, const unsigned* input_values) const = 0;
    virtual unsigned evaluate_sum_out(CDB_ATOM_NODE* node, const unsigned* input_values) const = 0;
    virtual unsigned evaluate_carry_out(CDB_ATOM_NODE* node, const unsigned* input_values) const = 0;
    virtual unsigned evaluate_share_out(CDB_ATOM_NODE* node, const unsigned* input_values) const = 0;
    // Routing delay samples of the grid, in picoseconds.
    virtual int get_average_neighbour_delay() const = 0;
    virtual int get_sample_location_delay() const = 0;
    virtual CDB_ATOM_NODE* get_next_node_in_carry_chain(CDB_ATOM_NODE* node) const = 0;
    virtual CDB_ATOM_NODE* get_previous_node_in_carry_chain(CDB_ATOM_NODE* node) const = 0;
    // The family's canonical form of an output.
    virtual MORV_OWNER<MORV_CANONICAL_NODE_INFO> create_canonical_node_info(CDB_ATOM_OTERM* oterm) const = 0;

    // Evaluation from (input port type, value) pairs; ports not listed are 0.
    unsigned evaluate_comb_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const;
    unsigned evaluate_sum_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const;
    unsigned evaluate_carry_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const;
    unsigned evaluate_share_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const;

    // The LUT mask as a function of the data terms. A LUT reading an absent
    // carry-in at C has its C = 0 half in both halves, so no reader of the
    // mask sees term C; a carry-in in use is not a data term, and callers
    // keep such a cell to its own handling.
    uint64_t get_data_lutmask(CDB_ATOM_NODE* node) const;
    // The port whose term the LUT reads as data input `port`: the carry-in
    // for input C of a LUT reading its carry-in there, `port` otherwise.
    int get_lut_read_port(CDB_ATOM_NODE* node, int port) const
    {
        return port == DB_DATA_C && reads_carry_in_at_c(node) ? DB_CARRY_IN : port;
    }

    int get_max_lut_inputs() const { return m_max_lut_inputs; }
    MORV_API* get_api() const { return m_api; }
    CDB_ATOM_NETLIST* get_atom_netlist() const { return m_atom_netlist; }

    // ---- queries shared by every family ----
    bool is_latch(CDB_ATOM_NODE* node) const;
    bool is_register_data_path_free(CDB_ATOM_NODE* node) const;
    bool is_synch_load_unused(CDB_ATOM_NODE* node) const;
    // Finds the comb-out and reg-out terms; false at the first output of another kind.
    bool get_lcell_output_terms(CDB_ATOM_NODE* node, CDB_ATOM_OTERM** out_combout_oterm,
                                CDB_ATOM_OTERM** out_regout_oterm) const;
    int get_number_of_connected_lut_inputs(CDB_ATOM_NODE* node) const;
    bool has_input_driven_by_special_source(CDB_ATOM_NODE* node) const;
    // Distinct sources the LUT data inputs of both nodes read (node2 may be null).
    int count_common_lut_input_sources(CDB_ATOM_NODE* node1, CDB_ATOM_NODE* node2) const;
    int count_common_lut_input_sources_limited(CDB_ATOM_NODE* node1, CDB_ATOM_NODE* node2,
                                               bool include_fourth_input) const;
    // The node's input of that type exists and is connected (a plain
    // number is an input port type).
    bool is_connected(CDB_ATOM_NODE* node, int input_port_type) const;
    bool is_connected(CDB_ATOM_NODE* node, DB_INPUT_PORT_TYPE input_port_type) const
    {
        return is_connected(node, static_cast<int>(input_port_type));
    }
    // The node's output of that type exists and has fanout.
    bool is_connected(CDB_ATOM_NODE* node, DB_OUTPUT_PORT_TYPE output_port_type) const
    {
        return is_output_connected(node, static_cast<int>(output_port_type));
    }
    bool is_output_connected(CDB_ATOM_NODE* node, int output_port_type) const;
    // LUT data input port types by increasing slack ratio, unconnected last.
    void sort_lut_inputs_by_slack_ratio(CDB_ATOM_NODE* node, int* out_ports) const;
    void sort_lut_inputs_by_slack_ratio(int* out_ports, CDB_ATOM_NODE* node, bool flag) const;
    // The connected LUT input with the smallest slack ratio below 1.0, or "no port".
    int get_most_critical_lut_input(CDB_ATOM_NODE* node) const;
    static int ceil_log2(uint64_t v);
    CDB_ATOM_NODE* get_carry_chain_head(CDB_ATOM_NODE* node) const;
    bool does_iterm_reach_oterm(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, CDB_ATOM_ITERM* iterm) const;
    // The order of input terms inside canonical forms.
    bool iterm_properties_less(CDB_ATOM_ITERM* a, CDB_ATOM_ITERM* b) const;
    bool iterm_properties_equal(CDB_ATOM_ITERM* a, CDB_ATOM_ITERM* b) const;

    // ---- names ----
    static std::string get_hpath_name(CDB_ATOM_NODE* node);
    static std::string get_hpath_name(CDB_ATOM_OTERM* oterm);
    static std::string get_edge_name(CDB_ATOM_ITERM* iterm);
    HDB_INSTANCE_NAME* find_instance_name(const std::string& full_name) const;
    HDB_INSTANCE_NAME* create_instance_name(const std::string& full_name) const;
    // Short path of base, suffix and the process-wide counter; never a
    // name the design or the host still holds.
    HDB_INSTANCE_NAME* make_unique_instance_name(HDB_INSTANCE_NAME* base_name, const std::string& suffix) const;
    static unsigned get_unique_name_counter() { return s_unique_name_counter; }

    // ---- edits, each announced to the facade and logged ----
    CDB_ATOM_OTERM* create_oterm(HDB_INSTANCE_NAME* base_name, CDB_ATOM_NODE* node, int port_type);
    CDB_ATOM_OTERM* create_oterm(CDB_ATOM_NODE* model_node, CDB_ATOM_NODE* node, int port_type, int index);
    CDB_ATOM_OTERM* create_oterm(CDB_ATOM_NODE* model_node, CDB_ATOM_NODE* node, int port_type,
                                 HDB_INSTANCE_NAME* base_name);
    CDB_ATOM_ITERM* create_iterm(CDB_ATOM_NODE* node, int port_type);
    void delete_iterm(CDB_ATOM_ITERM* iterm);
    void save_iterm_properties(CDB_ATOM_ITERM* iterm, MORV_ITERM_PROPERTIES* out_record) const;
    void save_iterm_properties(MORV_ITERM_PROPERTIES* out_record, CDB_ATOM_ITERM* iterm) const
    {
        save_iterm_properties(iterm, out_record);
    }
    void save_iterm_properties(MORV_ITERM_PROPERTIES& out_record, CDB_ATOM_ITERM* iterm) const
    {
        save_iterm_properties(iterm, &out_record);
    }
    void restore_iterm_properties(const MORV_ITERM_PROPERTIES& record, CDB_ATOM_ITERM* iterm);
    void reset_iterm_properties(CDB_ATOM_ITERM* iterm);
    void disconnect_iterm(CDB_ATOM_ITERM* iterm, int connect_state);
    // Clears the inversion bit, logged.
    void clear_invert(CDB_ATOM_ITERM* iterm);
    void insert_fanout(CDB_ATOM_OTERM* oterm, CDB_ATOM_ITERM* iterm);
    // Takes the node's input of that type off the node; the term is not deleted.
    void remove_input_term(CDB_ATOM_NODE* node, int port_type);
    void remove_input_term(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type);
    void adopt_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm);
    void remove_register_control_inputs(CDB_ATOM_NODE* node);
    // Groups LUT and register outputs of equal canonical form; without
    // with_singles only the groups of two or more.
    void find_equivalent_oterms(MORV_OTERM_SET_SET* out_groups, bool with_singles = true) const;

protected:
    // Stubs of operations a family does not support report this text.
    static constexpr const char* FUNCTION_NOT_SUPPORTED = "Function not supported by this family";
    static constexpr const char* FAMILY_NOT_SUPPORTED = "Family not supported by this function";
    [[noreturn]] static void unsupported(const char* text);

    // Output term of that type when it exists and has fanout, else null.
    static CDB_ATOM_OTERM* connected_output(CDB_ATOM_NODE* node, int output_port_type);
    // The first of up to three output types that exists and has fanout.
    bool any_output_connected(CDB_ATOM_NODE* node, std::initializer_list<int> output_port_types) const;
    bool any_input_connected(CDB_ATOM_NODE* node, std::initializer_list<int> input_port_types) const;
    // Node of the first fanout of an output (which must be connected).
    static CDB_ATOM_NODE* first_fanout_node(CDB_ATOM_OTERM* oterm);
    // The node behind the source of a connected input term, null otherwise.
    static CDB_ATOM_NODE* source_node(CDB_ATOM_ITERM* iterm);
    // Input removal of the 4-input cells (4-LUT branch and UVO): in
    // arithmetic mode from the carry and comb masks, else from the LUT mask.
    int remove_unused_arithmetic_inputs(CDB_ATOM_NODE* node, const CDB_LUTMASK& carry_mask,
                                        const CDB_LUTMASK& comb_mask);
    int remove_unused_normal_inputs(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask);
    static void print_removed_input(int input, CDB_ATOM_NODE* node);
    // The term is the data input the node's latch description names.
    static bool is_latch_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm);
    // A DB_DATA_C input that also serves the register keeps its other usages.
    void clear_data_c_usage(CDB_ATOM_ITERM* iterm);
    // Removal of one LUT input the mask ignores: cleared binding,
    // disconnected, taken off the node and deleted.
    void remove_and_delete_lut_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type);
    // One ignored input of a 4-input cell: deleted, or only its LUT usage
    // cleared when it also feeds the register.
    void remove_lut_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type);
    // Removal that keeps the term on the node: disconnected and uninverted.
    void disconnect_lut_input(CDB_ATOM_ITERM* iterm);
    // Logs the removal and takes the term off the node (not deleted).
    void take_input_term_off(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type);
    CDB_ATOM_OTERM* create_named_oterm(HDB_INSTANCE_NAME* base_name, CDB_ATOM_NODE* node, int port_type, int index);
    // The run's change log while the editing interface logs, else null.
    MORV_LOG* change_log() const;
    // The node's own mask value, or the comb-out term's mask.
    static uint64_t node_mask(CDB_ATOM_NODE* node);
    static uint64_t oterm_mask(CDB_ATOM_OTERM* oterm);
    // Constant-driver test shared by the 4-LUT branch and UVO: the term is
    // tied to the constant, or fed by a cell's comb-out of constant mask.
    bool is_driven_by_constant(CDB_ATOM_ITERM* iterm, bool vcc, bool check_virtual_io) const;
    // The term's boundary-port binding, -1 for none.
    int boundary_port_id(CDB_ATOM_ITERM* iterm) const;
    void set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id);
    void clear_boundary_port_id(CDB_ATOM_ITERM* iterm);
    bool has_bound_input(CDB_ATOM_NODE* node) const;
    bool is_oterm_dont_touch(CDB_ATOM_OTERM* oterm) const;
    void group_by_canonical_form(const std::vector<CDB_ATOM_OTERM*>& candidates, MORV_OTERM_SET_SET* out_groups,
                                 bool with_singles) const;
    // The facade learns of every changed input edge and changed node.
    void announce_edge(CDB_ATOM_ITERM* iterm, bool disconnected);
    void announce_node_modified(CDB_ATOM_NODE* node);
    // A new atom made from another one joins the netlist and the facade learns of it.
    void announce_node_added(CDB_ATOM_NODE* node, CDB_ATOM_NODE* from_node);
    // The atom's partition, -1 for none.
    int atom_partition_id(CDB_ATOM_NODE* node) const;
    // Names of new cells ("_NEW") and registers ("_NEW_REG", after base_name when given).
    HDB_INSTANCE_NAME* new_lcell_comb_name(CDB_ATOM_NODE* node) const;
    HDB_INSTANCE_NAME* new_register_name(CDB_ATOM_NODE* node, HDB_INSTANCE_NAME* base_name) const;
    // The action point's name manager, where every instance name lives.
    HDB_NAME_MGR* name_mgr() const;
    int grid_average_neighbour_delay() const;
    int grid_sample_location_delay() const;

    MORV_API* m_api;
    MORV_TIMING* m_timing;
    MORV_CDB_INTERFACE* m_cdb_interface;
    CDB_ATOM_NETLIST* m_atom_netlist;
    int m_max_lut_inputs;

private:
    // Shared by every run and family; only grows.
    static unsigned s_unique_name_counter;
};
