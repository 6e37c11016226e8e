#pragma once

// Retiming on families whose logic cell is a 6-input LUT with seven data
// ports, a register beside it and shared-arithmetic chains. The branch finds
// and judges registers for the pushes (morv_retiming_6lut_query.cpp), edits
// registers when a push is committed (morv_retiming_6lut_edit.cpp), chooses
// the power-up value of every register a push creates
// (morv_retiming_6lut_ic.cpp) and turns a register with critical controls
// into a LUT control mux (morv_retiming_6lut_demux.cpp).
//
// The value a register stores is its data input's source exclusive-or the
// data input's inversion bit, and the value a LUT sees on an input is the
// source exclusive-or that input's inversion bit: every hook reads values
// that way, so an inversion bit is never lost by a move.

#include <map>

#include "morv/retiming/morv_retiming.h"

class MORV_RETIMING_6LUT : public MORV_RETIMING
{
public:
    MORV_RETIMING_6LUT(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RETIMING_6LUT() override;

    // ---- family hooks filled here
    void collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone) override;
    void collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth) override;
    void queue_for_demux(CDB_ATOM_NODE* node) override;
    int run_demuxer() override;
    bool is_lutout_feeding_regout(CDB_ATOM_NODE*) override { return false; }
    bool get_lutout_register(CDB_ATOM_NODE*, RETIME_REG&) override { return false; }
    CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE* node) override;
    CDB_ATOM_OTERM* get_hsadder_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag) override;
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                bool& share_low_ret) override;
    void get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* port_types) override;
    bool is_free_data_input(CDB_ATOM_NODE*, CDB_ATOM_ITERM*, int) override { return false; }
    bool is_excluded_iterm(CDB_ATOM_ITERM*) override { return false; }
    bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) override;
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                 bool& share_low_ret) override;
    bool is_push_allowed(CDB_ATOM_NODE* node) override;
    bool has_extra_input(CDB_ATOM_NODE*) override { return false; }
    bool is_register_complex(CDB_ATOM_NODE* node, bool flag) override;
    bool has_register_feedback(CDB_ATOM_NODE* node) override;
    void add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type, bool clear_low) override;
    bool is_retimeable_iterm(CDB_ATOM_ITERM* iterm) override;
    void remove_register(CDB_ATOM_NODE* node) override;
    void disconnect_register(CDB_ATOM_ITERM* iterm) override;
    void add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg) override;
    void insert_register(const RETIME_ITERM& retime_iterm) override;
    void delete_node(CDB_ATOM_NODE* node) override;
    bool has_critical_input(CDB_ATOM_NODE* node) override;
    bool oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold) override;

    // ---- the slots this branch adds, in this order
    virtual bool share_ale_push_back(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret, bool& share_low_ret);
    virtual bool is_forward_push_candidate(CDB_ATOM_ITERM* iterm);
    virtual bool is_push_blocked_by_region_map(CDB_ATOM_NODE*) { return false; }
    virtual bool create_control_mux(CDB_ATOM_NODE* node);
    // The control mux's mask by the controls in use; clear_high: the
    // synchronous clear is tied high, so its input is folded in at 1.
    virtual uint64_t control_mux_mask(bool clear, bool enable, bool sdata, bool clear_high);

    // ---- state, for the core and the tests
    CDB_ATOM_NODE* get_duplicate(CDB_ATOM_NODE* node) const;
    int get_num_combinations() const { return m_num_combinations; }

protected:
    // Places a new node next to loc_node (one LAB in from the edge, open
    // sublocation), announces it and counts it alive.
    void place_next_to(CDB_ATOM_NODE* loc_node, CDB_ATOM_NODE* new_node);
    // The register the term feeds directly (its data input) or through a
    // wire LUT with a single fanout; null when none or refused.
    CDB_ATOM_NODE* find_register_at(CDB_ATOM_ITERM* iterm, bool flag, bool* through_invert);
    CDB_ATOM_OTERM* get_mac_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg);
    bool is_register_candidate(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* data_iterm, bool flag);

    // ---- initial-condition searches (morv_retiming_6lut_ic.cpp)
    bool search_lut(CDB_ATOM_NODE* node, const RETIME_REG& reg);
    bool search_share_ale_pair(CDB_ATOM_NODE* node, CDB_ATOM_NODE* next, const RETIME_REG& reg,
                               const RETIME_REG& next_reg, bool& carry_low_ret, bool& share_low_ret);
    bool search_share_ale_single(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret, bool& share_low_ret);
    void plan_inputs(CDB_ATOM_NODE* node, const RETIME_REG& reg, unsigned index, bool with_g, unsigned g_value);

    // ---- register edits (morv_retiming_6lut_edit.cpp)
    void disconnect_controls(CDB_ATOM_NODE* node, bool* sload_vcc);
    void hand_fanouts_to_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* input);
    void disconnect_sload_register(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* reg_node);
    CDB_ATOM_NODE* find_reusable_register(const RETIME_ITERM& retime_iterm);
    CDB_ATOM_NODE* create_inserted_register(const RETIME_ITERM& retime_iterm);
    CDB_ATOM_NODE* register_model(CDB_ATOM_NODE* node, const RETIME_REG& reg);
    void reset_packed_neighbours(CDB_ATOM_OTERM* oterm, CDB_ATOM_OTERM* reg_out);

    // ---- control mux (morv_retiming_6lut_demux.cpp)
    // Where a family's control mux departs from this branch's.
    struct CONTROL_MUX_STYLE
    {
        // A control's (and the data's) boundary port goes with its driver
        // onto the mux input; else the mux stands for none, the controls
        // lose theirs and the data input keeps its own.
        bool mux_takes_ports = true;
        // An unconnected register data input makes the mux's data input
        // constant 0; else that input stays unconnected (it reads 0 too).
        bool open_data_tied_low = true;
        // A register without a data input gets one to read the mux; else
        // it is refused.
        bool makes_data_input = true;
        // The register is announced modified once the mux drives it; else
        // only the edge into its data input is.
        bool announces_register = true;
    };
    bool build_control_mux(CDB_ATOM_NODE* node, const CONTROL_MUX_STYLE& style);
    void feed_mux_input(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to, bool keep_invert,
                        bool with_port);
    void tie_to_generator(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* iterm, bool value);

    int m_num_combinations = 64;
    std::map<CDB_ATOM_NODE*, CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>> m_node_to_duplicate_map;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_created_node_set;
};

// The control-mux LUT masks in the BRK, KESTLIN, RZK and OBRAN bit order,
// by the controls in use (clear, enable, synchronous data).
uint64_t morv_retiming_6lut_mux_mask(bool clear, bool enable, bool sdata);

// The mask with the input at bit `bit` of the input index held at 1; the
// input no longer matters. reversed: the index addresses bit 63 - index.
uint64_t morv_retiming_fold_input_high(uint64_t mask, int bit, bool reversed);
