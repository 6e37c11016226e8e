#pragma once

// The net utility of the 6-input-LUT families (BRK, MRL, OBRAN, RZK,
// KESTLIN). A combinational cell in arithmetic mode computes a sum and a
// carry from two 16-bit halves of its mask (the carry chain also runs
// through the share-in and share-out); in extended mode a seventh input
// selects between quarters of the mask. The bodies here read masks in the
// reversed bit order of BRK, OBRAN, RZK and KESTLIN; MRL overrides the
// evaluations with the direct order.

#include "morv/netlist/morv_net_util.h"

class MORV_NET_UTIL_6LUT : public MORV_NET_UTIL
{
public:
    MORV_NET_UTIL_6LUT(CDB_ATOM_NETLIST* netlist, MORV_API* api);

    bool is_lcell_in_a_chain(CDB_ATOM_NODE* node) const override;
    bool is_lcell_part_of_a_carry_chain(CDB_ATOM_NODE* node) const override;
    bool is_in_register_cascade(CDB_ATOM_NODE* node) const override;
    bool is_in_arithmetic_mode(CDB_ATOM_NODE* node) const override;
    bool is_in_qfbk_mode(CDB_ATOM_NODE* node) const override;
    bool is_sload_tied_to_vcc(CDB_ATOM_NODE* node) const override;
    bool is_lut_data_input(CDB_ATOM_ITERM* iterm) const override;
    bool is_lcell(CDB_ATOM_NODE* node) const override;
    bool is_lcell_hsadder(CDB_ATOM_NODE* node) const override;
    bool is_ff(CDB_ATOM_NODE* node) const override;
    bool is_lut(CDB_ATOM_NODE* node) const override;
    bool is_in_extended_mode(CDB_ATOM_NODE* node) const override;
    bool is_register_control_input(CDB_ATOM_ITERM* iterm) const override;
    bool is_register_present(CDB_ATOM_NODE* node) const override;
    void tie_inputs_to_vcc_lcells() override;
    CDB_LUTMASK create_or_lutmask(int number_of_inputs) const override;
    bool is_carry_in_connected(CDB_ATOM_NODE* node) const override;
    bool has_carry_out_fanout(CDB_ATOM_NODE* node) const override;
    bool does_lut_feed_register(CDB_ATOM_NODE* node) const override;
    bool is_driven_by_constant_gnd(CDB_ATOM_ITERM* iterm) const override;
    bool is_driven_by_constant_vcc(CDB_ATOM_ITERM* iterm) const override;
    int remove_unused_lut_inputs(CDB_ATOM_NODE* node) override;
    uint64_t get_lcell_lutmask(CDB_ATOM_NODE* node) const override;
    // Comb-out first: the cell's own mask while its comb-out drives
    // something, else the spread adder mask of an arithmetic cell.
    uint64_t get_lutmask(CDB_ATOM_NODE* node) const override;
    uint64_t get_carry_lutmask(CDB_ATOM_NODE* node) const override;
    unsigned evaluate_comb_out(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_sum_out(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_carry_out(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_share_out(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    int get_average_neighbour_delay() const override;
    int get_sample_location_delay() const override;
    CDB_ATOM_NODE* get_next_node_in_carry_chain(CDB_ATOM_NODE* node) const override;
    CDB_ATOM_NODE* get_previous_node_in_carry_chain(CDB_ATOM_NODE* node) const override;
    MORV_OWNER<MORV_CANONICAL_NODE_INFO> create_canonical_node_info(CDB_ATOM_OTERM* oterm) const override;

    // The mask halves and quarters the evaluations read.
    virtual unsigned evaluate_comb_out_normal_mode(CDB_ATOM_NODE* node, const unsigned* input_values) const;
    virtual unsigned evaluate_comb_out_extended_mode(CDB_ATOM_NODE* node, const unsigned* input_values) const;
    virtual unsigned evaluate_sum_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const;
    virtual unsigned evaluate_sum_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const;
    virtual unsigned evaluate_carry_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const;
    virtual unsigned evaluate_carry_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const;

    using MORV_NET_UTIL::evaluate_carry_out;
    using MORV_NET_UTIL::evaluate_comb_out;
    using MORV_NET_UTIL::evaluate_share_out;
    using MORV_NET_UTIL::evaluate_sum_out;

protected:
    // The adder mask spread so that its halves sit at bits 0..15 and 32..47.
    uint64_t get_spread_adder_lutmask(CDB_ATOM_NODE* node) const;
    // The three adder operands: the low-half bit, the second operand (the
    // share-in value or the complemented upper-half bit) and the carry-in.
    struct ADDER_OPERANDS
    {
        unsigned low;
        unsigned other;
        unsigned carry_in;
        unsigned sum() const { return (low + other + carry_in) & 1u; }
        unsigned carry() const { return low + other + carry_in >= 2 ? 1u : 0u; }
    };
    ADDER_OPERANDS adder_operands(CDB_ATOM_NODE* node, const unsigned* in, bool with_share_in, bool reversed) const;
    unsigned comb_out_normal_mode(CDB_ATOM_NODE* node, const unsigned* in, bool reversed) const;
    unsigned comb_out_extended_mode(CDB_ATOM_NODE* node, const unsigned* in, bool reversed) const;
    unsigned share_out(CDB_ATOM_NODE* node, const unsigned* in, bool reversed) const;

private:
    int remove_unused_arithmetic_inputs_6lut(CDB_ATOM_NODE* node);
    int remove_unused_normal_inputs_6lut(CDB_ATOM_NODE* node);
};
