#pragma once

// The skew-driven retiming engine: each iteration takes the registers whose
// optimal skew is large, plans a move of each by one combinational stage in
// the direction its skew asks for, commits the legal plans and lets the
// demuxer and the splitter repair what blocked the others.
//
// Files: the run loop (morv_rtm.cpp), logic-cell moves (morv_rtm_move.cpp),
// power-up values of moved registers (morv_rtm_ic.cpp), the commit and the
// carry-chain merge (morv_rtm_commit.cpp), DSP slices and DSP register
// records (morv_rtm_mac*.cpp).

#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/rtm/morv_rtm_types.h"

class MORV_API;
class MORV_OPT_SKEW;

// Failure reasons of a planned move (MORV_RTM_OP::m_failure_reason).
enum MORV_RTM_FAILURE_REASON : int
{
    MORV_RTM_NO_FAILURE = 0,
    MORV_RTM_COMB_NO_GOOD = 1,
    MORV_RTM_NO_RETIMEABLE_FANOUT = 2,
    MORV_RTM_REG_INCOMPATIBLE_SIGNALS = 3,
    MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS = 4,
    MORV_RTM_NO_REG_ON_INPUT = 5,
    MORV_RTM_BAD_IC = 6,
    MORV_RTM_NO_REG_ON_OUTPUT = 7,
    MORV_RTM_REG_NO_GOOD = 8,
    MORV_RTM_MULTI_OUTPUTS = 9,
    MORV_RTM_ALREADY_PROCESSED_CARRY_CHAIN = 10,
    MORV_RTM_NO_MAC_SECONDARY_SIGNAL = 11,
    MORV_RTM_REGISTERED_MAC_OUT = 12,
    MORV_RTM_REGISTERED_MAC_MULT = 13,
    MORV_RTM_UNRETIMEABLE_MAC_OUT = 14,
    MORV_RTM_UNRETIMEABLE_MAC_MULT = 15,
    MORV_RTM_FAILURE_REASON_END = 16
};

const char* morv_rtm_failure_reason_text(int reason);

enum MORV_RTM_DIRECTION : int
{
    MORV_RTM_UNDEFINED = 0,
    MORV_RTM_BACKWARD = 1,
    MORV_RTM_FORWARD = 2
};

const char* morv_rtm_direction_text(int direction);

using MORV_RTM_ID_SET = std::set<int>;
using MORV_RTM_CHAIN = std::vector<CDB_ATOM_NODE*>;
using MORV_RTM_OTERM_MAP = std::map<CDB_ATOM_OTERM*, CDB_ATOM_OTERM*, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>>;

class MORV_RTM : public MORV_ALGORITHM_BASE
{
public:
    explicit MORV_RTM(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr);
    ~MORV_RTM() override;
    MORV_RTM(const MORV_RTM&) = delete;
    MORV_RTM& operator=(const MORV_RTM&) = delete;

    // ---- the algorithm (morv_rtm.cpp)
    std::string get_short_name() override { return "NEW_RTM"; }
    std::string get_description() override { return "NEW register retiming"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    void finish_algorithm() override;

    bool is_critical_node(const CDB_ATOM_NODE* node) const;
    void build_critical_set();
    // Candidates of the skew analyser's heap, in heap order.
    void build_list_of_registers_to_retime(MORV_RTM_REG_LIST* list);
    // Appends the record a candidate makes, if any; exposed for tests.
    void add_candidate(MORV_RTM_REG_LIST* list, CDB_ATOM_NODE* node, int skew, bool critical);
    int retime_registers(MORV_RTM_REG_LIST* list);
    int retime_register(MORV_RTM_REG* reg);
    void reduce_mobility(const MORV_RTM_REG* reg);
    // Commits a legal operation; frees it in every case.
    bool process_retiming_operation(MORV_OWNER<MORV_RTM_OP> operation);
    int run_demux_and_split();

    // ---- logic-cell moves (morv_rtm_move.cpp)
    int try_forward_move(MORV_RTM_REG* reg);
    int try_backward_move(MORV_RTM_REG* reg);
    bool is_retimeable_register(CDB_ATOM_NODE* node) const;
    bool is_retimeable_comb(CDB_ATOM_NODE* node) const;
    // The port type of the one connected LUT data input, or 0 when the node
    // is no wire; `inverted_ret` when the wire inverts.
    int is_wire_lut(CDB_ATOM_NODE* node, bool* inverted_ret) const;
    CDB_ATOM_NODE* find_source_register(CDB_ATOM_ITERM* iterm, bool* inverted_ret,
                                        CDB_ATOM_ITERM** reg_fanout_ret = nullptr) const;
    CDB_ATOM_NODE* find_destination_register(CDB_ATOM_ITERM* iterm, bool* inverted_ret) const;
    bool check_register_compatibility(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2, int* why_ret) const;
    void queue_register_for_demux(CDB_ATOM_NODE* node);
    void queue_node_for_split(CDB_ATOM_NODE* node);
    void queue_input_registers_for_demux(CDB_ATOM_NODE* node);
    MORV_RTM_CHAIN collect_carry_chain(CDB_ATOM_NODE* node) const;
    // DB_SUM_OUT for a carry-chain cell, DB_COMB_OUT otherwise.
    int data_output_type(CDB_ATOM_NODE* node) const;

    // ---- power-up values (morv_rtm_ic.cpp)
    void forward_initial_conditions(MORV_RTM_OP* op, const MORV_RTM_CHAIN& chain);
    bool backward_initial_conditions(MORV_RTM_OP* op, const MORV_RTM_CHAIN& chain);
    // Output value of `port` for the LUT index (bit i: input i of the
    // retimeable list), with the carry and share values through the node.
    void evaluate_node(CDB_ATOM_NODE* node, int index, unsigned carry_in, unsigned share_in, unsigned* out_ret,
                       unsigned* carry_out_ret, unsigned* share_out_ret) const;

    // ---- commit (morv_rtm_commit.cpp)
    void remove_registers(MORV_RTM_OP* op);
    void add_registers(MORV_RTM_OP* op);
    void bypass_register(MORV_RTM_REG* reg);
    CDB_ATOM_OTERM* add_register(MORV_RTM_REG* reg);
    void merge_carry_chain_inputs(MORV_RTM_OP* op);
    CDB_ATOM_OTERM* find_regout_root(CDB_ATOM_OTERM* oterm) const;
    void set_regout_parent(CDB_ATOM_OTERM* oterm, CDB_ATOM_OTERM* parent);
    CDB_ATOM_NODE* create_constant_node(CDB_ATOM_NODE* template_node, int constant);
    CDB_ATOM_NODE* create_inverter_node(CDB_ATOM_NODE* template_node);

    // ---- state the tests look at
    MORV_OPT_SKEW* get_opt_skew() const { return m_opt_skew.get(); }
    MORV_RTM_ID_SET& critical_nodes() { return m_critical_nodes; }
    const MORV_RTM_ID_SET& moved_nodes() const { return m_moved_nodes; }
    const MORV_RTM_ID_SET& nodes_to_demux() const { return m_nodes_to_demux; }
    const MORV_RTM_ID_SET& nodes_to_split() const { return m_nodes_to_split; }
    void clear_iteration_state();
    // How many operations the report step saw with each failure reason
    // (index 0: the committed ones), over the engine's life.
    const std::vector<int>& get_outcome_counts() const { return m_outcome_counts; }
    void set_enable_mac_moves(bool on) { m_enable_mac_moves = on; }
    // Off: every backward move walks its cell's fanouts itself, as a traced
    // run does; the outcome is the same either way.
    void set_survey_fanouts(bool on) { m_survey_fanouts = on; }
    // Fanout terms read to plan backward moves and to bypass registers,
    // over the engine's life.
    long get_fanouts_examined() const { return m_fanouts_examined; }

    // ---- DSP slices and DSP register records (morv_rtm_mac.cpp)
    void generate_mac_slice_info();
    bool find_mac_slice(CDB_ATOM_NODE* node, MORV_RTM_MAC_SLICE* slice_ret) const;
    // None when the data output is unregistered or drives nothing, and none
    // with REG_INCOMPATIBLE_TIMING_CONSTRAINTS set on the operation when its
    // bits carry different timing assignments.
    MORV_OWNER<MORV_RTM_REG> create_mac_output_register(CDB_ATOM_NODE* node, MORV_RTM_OP* retiming_operation);
    CDB_ATOM_OTERM* get_mac_output_ref_oterm(CDB_ATOM_NODE* node) const;
    MORV_RTM_REG* add_mac_output_register_to_unpack(MORV_RTM_OP* retiming_operation, CDB_ATOM_NODE* node);
    // A copy of `reg` becomes the DSP node's output register to pack, or the
    // operation fails with REGISTERED MAC OUT or NO MAC SECONDARY SIGNAL.
    void add_register_to_pack_into_mac(MORV_RTM_OP* retiming_operation, CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    // The DSP clock slot (with its enable) and clear slot that carry the
    // register's clock, enable and clear, or free slots made ready for
    // them; recorded in the record's pack info. False when none is left.
    bool assign_mac_clock(CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    // Whether timing treats the two reference terms alike.
    bool have_compatible_timing(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2) const;

    static const char* mac_mode_name(int mode);

    // ---- DSP register moves (morv_rtm_mac_move.cpp), each 1 on a committed move
    int try_forward_move_mac_mult(MORV_RTM_REG* reg);
    int try_backward_move_mac_mult(MORV_RTM_REG* reg);
    int try_forward_move_mac_out(MORV_RTM_REG* reg);
    int try_backward_move_mac_out(MORV_RTM_REG* reg);
    // A logic-cell register entering a DSP block, planned into `op`.
    void forward_move_into_mac(MORV_RTM_OP* op, CDB_ATOM_NODE* node);
    void backward_move_into_mac(MORV_RTM_OP* op, CDB_ATOM_NODE* node);
    bool is_retimeable_mac_mult(CDB_ATOM_NODE* node) const;
    bool is_movable_mac_mult(CDB_ATOM_NODE* node) const;
    bool is_retimeable_mac_out(CDB_ATOM_NODE* node) const;
    bool is_movable_mac_out(CDB_ATOM_NODE* node) const;
    // The first port's record of the MAC_MULT's input registers, none with
    // a failure reason set; with clones a register in front of every bit.
    MORV_RTM_REG* collect_mac_input_registers(MORV_RTM_OP* op, CDB_ATOM_NODE* node, bool with_clones);
    MORV_RTM_REG* collect_mac_port_registers(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int port_type, bool with_clones);
    void plan_mac_input_pack(MORV_RTM_OP* op, CDB_ATOM_NODE* node, const MORV_RTM_REG* reg);

    // ---- DSP pack and unpack edits (morv_rtm_mac_pack.cpp)
    void pack_registers(MORV_RTM_OP* op);
    void unpack_registers(MORV_RTM_OP* op);
    void connect_mac_clock(CDB_ATOM_NODE* node, MORV_RTM_REG* reg);

    const std::vector<MORV_RTM_MAC_SLICE>& get_mac_slices() const { return m_mac_slices; }
    const MORV_RTM_PORT_LIST& get_register_secondary_signals() const { return m_register_secondary_signals; }
    const MORV_RTM_PORT_LIST& get_register_asynchronous_signals() const { return m_register_asynchronous_signals; }
    bool is_mirroring_lutmasks() const { return m_mirror_lutmasks; }

    // DSP ports are at most this many bits wide (outputs twice as many),
    // as the netlist holds them.
    static constexpr int s_MAC_PORT_WIDTH = CDB_MAC_MAX_PORT_BITS;
    static constexpr int s_MAC_NUMBER_OF_CLOCKS = CDB_MAC_REGISTER_SLOTS;

private:
    static void check_mac_node(const CDB_ATOM_NODE* node);
    // The output register record with its clock and clear slots.
    MORV_OWNER<MORV_RTM_REG> new_mac_output_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* ref_oterm) const;
    // Makes the terms of slot `index` of the DSP node's ports exist.
    void make_mac_slot(CDB_ATOM_NODE* node, int index, bool clock);

    // ---- DSP move helpers (morv_rtm_mac_move.cpp)
    bool is_blocked_mac(CDB_ATOM_NODE* node) const;
    bool has_dynamic_control(CDB_ATOM_NODE* node) const;
    bool has_scan_chain(CDB_ATOM_NODE* node) const;
    bool crosses_only_plain_stages(CDB_ATOM_NODE* node) const;
    bool products_feed_only(const MORV_RTM_MAC_SLICE& slice) const;
    void print_mac_registration(CDB_ATOM_NODE* node) const;
    int report_mac_move(MORV_OWNER<MORV_RTM_OP> op, CDB_ATOM_NODE* node);
    void push_mac_inputs_forward(MORV_RTM_OP* op, CDB_ATOM_NODE* node);
    void push_mac_outputs_forward(MORV_RTM_OP* op, CDB_ATOM_NODE* node);
    void into_mac_input_bit(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int port_type, CDB_ATOM_ITERM* iterm, bool* first,
                            bool* demux_queued);
    void into_mac_output_fanout(MORV_RTM_OP* op, CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, CDB_ATOM_ITERM* fanout,
                                bool* first);
    // ---- DSP edit helpers (morv_rtm_mac_pack.cpp)
    void feed_mac_control(CDB_ATOM_ITERM* iterm, const MORV_RTM_SIGNAL* signal);
    CDB_ATOM_ITERM* mac_slot_term(CDB_ATOM_NODE* node, int port_type, int index);
    void pack_output_register(CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    void pack_input_register(CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    void forget_regouts(const std::set<CDB_ATOM_OTERM*>& oterms);

    // ---- run loop helpers
    bool is_critical_lut(CDB_ATOM_NODE* node) const;
    bool is_critical_mac(CDB_ATOM_NODE* node) const;
    int retime_lcell_register(MORV_RTM_REG* reg);
    int retime_mac_register(MORV_RTM_REG* reg);
    void commit(MORV_RTM_OP* op);

    // ---- move helpers (morv_rtm_move.cpp)
    bool cross_chain(MORV_RTM_OP* op, CDB_ATOM_NODE* node);
    void forward_node_step(MORV_RTM_OP* op, CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    void backward_node_step(MORV_RTM_OP* op, CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    void backward_fanout_step(MORV_RTM_OP* op, CDB_ATOM_NODE* node, CDB_ATOM_ITERM* fanout, MORV_RTM_REG* reg);
    MORV_OWNER<MORV_RTM_REG> new_lcell_record(CDB_ATOM_NODE* node) const;
    void add_clone(MORV_RTM_OP* op, const MORV_RTM_REG* reg, CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* oterm);
    bool has_fanout(CDB_ATOM_NODE* node, int output_type) const;

    // ---- the fanouts behind a cell that backward moves meet (morv_rtm_survey.cpp)
    //
    // Every register that a cell loads asks, when it moves backward, what
    // the cell's other fanouts hold; with F of them the move phase would
    // read F fanouts F times. One survey per cell output answers them all
    // until a commit edits the netlist: the fanouts in order, what each
    // fails with whoever moves, and the registers sorted into classes that
    // can move together (the same controls, timing alike: both equivalences).
    struct FANOUT_SURVEY
    {
        struct ENTRY
        {
            int m_reason = MORV_RTM_NO_FAILURE;  // whoever moves
            int m_class = -1;                    // -1: no register that can move
            MORV_OWNER<MORV_RTM_REG> m_record;
        };
        std::vector<ENTRY> m_entries;
        std::vector<CDB_ATOM_NODE*> m_unmovable;  // registers for the demuxer, in fanout order
        std::unordered_map<const CDB_ATOM_NODE*, size_t> m_entry_of;
        std::vector<const MORV_RTM_REG*> m_class_records;
        int m_last_fixed_failure = -1;
        int m_last_register = -1;
        // The last register entry in another class than the last one's.
        int m_last_other_class = -1;
    };
    bool settle_backward_fanouts(MORV_RTM_OP* op, CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, MORV_RTM_REG* reg);
    FANOUT_SURVEY* survey_fanouts(CDB_ATOM_OTERM* oterm);
    void survey_fanout(FANOUT_SURVEY* survey, CDB_ATOM_ITERM* fanout, int* first_ic);
    int classify_record(FANOUT_SURVEY* survey, const MORV_RTM_REG* record,
                        std::unordered_map<size_t, std::vector<int>>* buckets) const;
    size_t control_signature(const MORV_RTM_REG* record) const;
    int incompatible_reason(MORV_RTM_REG* reg, const MORV_RTM_REG* record) const;

    // ---- power-up helpers (morv_rtm_ic.cpp)
    using SOURCE_VALUES = std::map<CDB_ATOM_OTERM*, unsigned, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>>;
    struct IC_CARRY
    {
        unsigned carry = 0;
        unsigned share = 0;
    };
    bool search_node(MORV_RTM_OP* op, CDB_ATOM_NODE* first, CDB_ATOM_NODE* second, IC_CARRY* carry);
    bool try_assignment(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int assignment, const std::vector<int>& positions,
                        const IC_CARRY& in, SOURCE_VALUES* sources, IC_CARRY* out, int* index_ret) const;
    void assign_input_values(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int index);
    static void drop_register_to_add(MORV_RTM_OP* op, MORV_RTM_REG* reg);
    unsigned chain_input(CDB_ATOM_NODE* node, int port_type, unsigned running) const;

    // ---- commit helpers (morv_rtm_commit.cpp)
    CDB_ATOM_NODE* create_register_from_template(MORV_RTM_REG* reg, CDB_ATOM_NODE* template_node);
    std::vector<CDB_ATOM_ITERM*> bypassed_fanouts(const MORV_RTM_REG* reg, CDB_ATOM_OTERM* regout);
    CDB_ATOM_OTERM* add_register_on_iterm(MORV_RTM_REG* reg);
    CDB_ATOM_OTERM* add_register_on_oterm(MORV_RTM_REG* reg);
    void wrap_register_in_inverters(CDB_ATOM_NODE* reg_node);
    void insert_inverter_on_iterm(CDB_ATOM_ITERM* iterm);
    void insert_inverter_on_oterm(CDB_ATOM_OTERM* oterm);
    void connect_to_constant(CDB_ATOM_ITERM* iterm, int constant);
    // False when the source is no constant cell.
    bool share_constant_source(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM** vcc, CDB_ATOM_OTERM** gnd);
    using MORV_RTM_BUCKETS = std::map<CDB_ATOM_OTERM*, MORV_RTM_REG_LIST, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>>;
    void merge_source_register(CDB_ATOM_ITERM* iterm, MORV_RTM_BUCKETS* oterm_to_reg_map,
                               MORV_RTM_BUCKETS* oterm_to_inv_reg_map);
    bool can_merge(CDB_ATOM_NODE* reg_node, const MORV_RTM_REG* bucket_reg) const;

    MORV_NET_UTIL* m_net_util;
    bool m_icp_pending = false;
    MORV_RTM_OTERM_MAP m_regout_parent;
    MORV_OWNER<MORV_OPT_SKEW> m_opt_skew;
    double m_skew_threshold = 100.0;
    bool m_ic_search_in_pairs = true;
    bool m_mirror_lutmasks;
    std::vector<MORV_RTM_MAC_SLICE> m_mac_slices;
    int m_mac_port_width = s_MAC_PORT_WIDTH;
    int m_mac_number_of_clocks = s_MAC_NUMBER_OF_CLOCKS;
    bool m_enable_mac_moves = true;
    MORV_RTM_ID_SET m_critical_nodes;
    MORV_RTM_ID_SET m_moved_nodes;
    MORV_RTM_ID_SET m_processed_carry_chains;
    MORV_RTM_ID_SET m_nodes_to_demux;
    MORV_RTM_ID_SET m_nodes_to_split;
    MORV_RTM_PORT_LIST m_retimeable_iterms;
    MORV_RTM_PORT_LIST m_extra_critical_iterms;
    MORV_RTM_PORT_LIST m_retimeable_oterms;
    MORV_RTM_PORT_LIST m_register_secondary_signals;
    MORV_RTM_PORT_LIST m_register_asynchronous_signals;
    MORV_RTM_PORT_LIST m_mac_out_data_iterms;
    MORV_RTM_PORT_LIST m_mac_mult_data_iterms;
    std::vector<int> m_outcome_counts;
    // Surveys live inside one walk over the register list, up to a commit.
    std::unordered_map<const CDB_ATOM_OTERM*, MORV_OWNER<FANOUT_SURVEY>> m_fanout_surveys;
    bool m_surveys_allowed = false;
    bool m_survey_fanouts = true;
    long m_fanouts_examined = 0;
};
