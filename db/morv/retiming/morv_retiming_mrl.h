#pragma once

// Classic retiming on the MRL family. Its LUT masks address the output for
// input index i at bit i, and its logic holds a hard shared adder (the
// hsadder: two sum bits over A, B and C, D with a carry chain through its
// chain ports) besides the logic cells. A forward push may also take a
// register that reaches the cell through a wire LUT.
//
// Every power-up evaluation reads the value at an input as its source
// exclusive-or the term's inversion bit (and, through a wire LUT, the
// wire's own inversion and its input's), so that a register's power-up
// value survives any inversion on the way.

#include <cstdint>

#include "morv/retiming/morv_retiming_family.h"

class MORV_RETIMING_MRL : public MORV_RETIMING_6LUT_FAMILY
{
public:
    MORV_RETIMING_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RETIMING_MRL() override;

    CDB_ATOM_NODE* create_family_lcell_comb(HDB_INSTANCE_NAME* name) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;

    void collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone) override;
    void collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth) override;
    CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE* node) override;
    CDB_ATOM_OTERM* get_hsadder_output_term(CDB_ATOM_NODE* node) override;
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                bool& share_low_ret) override;
    void get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* port_types) override;
    bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) override;
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                 bool& share_low_ret) override;
    void disconnect_register(CDB_ATOM_ITERM* iterm) override;
    bool has_critical_input(CDB_ATOM_NODE* node) override;
    bool share_ale_push_back(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret, bool& share_low_ret) override;
    bool is_forward_push_candidate(CDB_ATOM_ITERM* iterm) override;
    bool is_push_blocked_by_region_map(CDB_ATOM_NODE* node) override;
    bool create_control_mux(CDB_ATOM_NODE* node) override;
    uint64_t control_mux_mask(bool clear, bool enable, bool sdata, bool clear_high) override;

    // The register a cell input reads, directly or through a wire LUT that
    // follows its one input; null when neither. through_invert: the wire
    // (with its input's inversion bit) inverts.
    CDB_ATOM_NODE* find_input_register(CDB_ATOM_ITERM* iterm, bool* through_invert);

private:
    // The carry into a chain's first hsadder at power-up: its chain input
    // unconnected or tied low reads 0, tied high 1; -1 when it is driven by
    // something other than a chain.
    int chain_head_carry_in(CDB_ATOM_NODE* node);
    // The carry into an hsadder: the tie at a chain's head, else what the
    // cell before it carried out.
    int hsadder_carry_in(CDB_ATOM_NODE* node, bool carry_low_ret);
    // Only an hsadder's carry-out into the next hsadder's chain input is a
    // chain; a carry-out read anywhere else would be an output the pushes
    // do not see.
    bool has_foreign_chain_connection(CDB_ATOM_NODE* node);
    // The values a forward push's cell reads at power-up from the registers
    // in front of its data inputs.
    void forward_input_values(CDB_ATOM_NODE* node, int last_port, unsigned* values);
    bool create_hsadder_input_registers(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret);
    bool create_hsadder_output_registers(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret);
    bool create_comb_output_registers(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret,
                                      bool& share_low_ret);
};

// The control-mux LUT masks in the MRL bit order, by the controls in use
// (clear, enable, synchronous data).
uint64_t morv_retiming_mrl_mux_mask(bool clear, bool enable, bool sdata);
