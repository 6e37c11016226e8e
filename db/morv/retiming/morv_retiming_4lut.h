#pragma once

// Retiming on families whose logic is a separate 4-input LUT cell (ports
// DB_DATA_A to DB_DATA_D, 16-bit mask, carry chains through DB_CARRY_IN and
// DB_CARRY_OUT) beside separate register atoms. The branch finds and judges
// registers for the pushes (morv_retiming_4lut_query.cpp), edits registers
// when a push is committed (morv_retiming_4lut_edit.cpp), chooses the
// power-up value of every register a push creates
// (morv_retiming_4lut_ic.cpp) and turns a register with critical controls
// into a synchronous-load mux or a control mux (morv_retiming_4lut_demux.cpp).
//
// A register stores its data input's source exclusive-or the data input's
// inversion bit, and a LUT sees on an input the source exclusive-or that
// input's inversion bit: every hook reads values that way, so that no move
// loses an inversion bit.

#include <cstdint>

#include "morv/retiming/morv_retiming.h"

class MEM_SEGMENT;

class MORV_RETIMING_4LUT : public MORV_RETIMING
{
public:
    static constexpr uint64_t s_INVERTER_MASK = 0x5555;
    static constexpr uint64_t s_BUFFER_MASK = 0xAAAA;

    MORV_RETIMING_4LUT(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RETIMING_4LUT() override;

    // ---- family hooks filled here
    void collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone) override;
    void collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth) override;
    void queue_for_demux(CDB_ATOM_NODE* node) override;
    int run_demuxer() override;
    bool is_lutout_feeding_regout(CDB_ATOM_NODE*) override { return false; }
    bool get_lutout_register(CDB_ATOM_NODE*, RETIME_REG&) override { return false; }
    CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE*) override { return nullptr; }
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
    void add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type, bool initial_condition) override;
    bool is_inverter_lut(CDB_ATOM_NODE* node) override;
    bool is_retimeable_iterm(CDB_ATOM_ITERM* iterm) override;
    void remove_register(CDB_ATOM_NODE* node) override;
    void disconnect_register(CDB_ATOM_ITERM* iterm) override;
    void add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg) override;
    void insert_register(const RETIME_ITERM& retime_iterm) override;
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override;
    void insert_buffer_lcell(CDB_ATOM_ITERM* iterm) override;
    void delete_node(CDB_ATOM_NODE* node) override;
    bool has_critical_input(CDB_ATOM_NODE* node) override;
    bool oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold) override;

    // The family's factory of combinational cells.
    virtual CDB_ATOM_NODE* create_lcell_comb(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) = 0;

    // The forward-push filter; logs the reason of a refusal.
    bool is_forward_push_candidate(CDB_ATOM_ITERM* iterm);
    bool create_sload_mux(CDB_ATOM_NODE* node);
    bool create_control_mux(CDB_ATOM_NODE* node);
    void create_constant_generator(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, bool value);

    // ---- state, for the core and the tests
    int get_num_combinations() const { return m_num_combinations; }

protected:
    void place_next_to(CDB_ATOM_NODE* loc_node, CDB_ATOM_NODE* new_node);
    CDB_ATOM_NODE* find_register_at(CDB_ATOM_ITERM* iterm, bool flag, bool* through_invert);
    bool is_register_candidate(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* data_iterm, bool flag);
    bool feeds_own_control(CDB_ATOM_NODE* reg_node);
    // A one-input cell on DB_DATA_A that reads the term's former source and
    // now drives the term; the term keeps its inversion bit.
    CDB_ATOM_NODE* insert_wire_cell(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, uint64_t mask);

    // ---- initial-condition searches (morv_retiming_4lut_ic.cpp)
    bool search_lut(CDB_ATOM_NODE* node, const RETIME_REG& reg);
    bool search_carry(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret);
    void plan_input(CDB_ATOM_NODE* node, const RETIME_REG& reg, int port, unsigned value);
    void seen_inputs(CDB_ATOM_NODE* node, unsigned index, unsigned searched, unsigned carry_in, unsigned* values);

    // ---- register edits (morv_retiming_4lut_edit.cpp)
    void disconnect_controls(CDB_ATOM_NODE* node);
    CDB_ATOM_NODE* find_reusable_register(const RETIME_ITERM& retime_iterm);
    CDB_ATOM_NODE* create_inserted_register(const RETIME_ITERM& retime_iterm);

    // ---- muxes (morv_retiming_4lut_demux.cpp)
    CDB_ATOM_NODE* create_mux_cell(CDB_ATOM_NODE* reg_node, uint64_t mask);
    void feed_mux_input(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to, bool keep_invert);
    void drive_register_data(CDB_ATOM_NODE* reg_node, CDB_ATOM_OTERM* mux_out);

    int m_num_combinations = 16;
    // One constant cell per value serves every mux input tied to it.
    CDB_ATOM_OTERM* m_constant_outputs[2] = {nullptr, nullptr};
};

// The control-mux mask by the controls in use, next = C ? (D ? 0 : A) : B.
uint64_t morv_retiming_4lut_control_mask(bool clear, bool enable);
// The synchronous-load mux mask, C ? B : A, reversed for an inverted load.
uint64_t morv_retiming_4lut_sload_mask(bool inverted_load);
