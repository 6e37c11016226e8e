#pragma once

// The net utility of the 4-input-LUT families (TEV, ZEPLA): a logic cell is
// a combinational cell or a register atom, and a cell in a carry chain has
// a 16-bit carry mask beside its LUT mask.

#include "morv/netlist/morv_net_util.h"

class MORV_NET_UTIL_4LUT : public MORV_NET_UTIL
{
public:
    MORV_NET_UTIL_4LUT(CDB_ATOM_NETLIST* netlist, MORV_API* api);

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
    CDB_LUTMASK create_or_lutmask(int number_of_inputs) const override;
    bool is_carry_in_connected(CDB_ATOM_NODE* node) const override;
    bool reads_carry_in_at_c(CDB_ATOM_NODE* node) const override;
    bool has_carry_out_fanout(CDB_ATOM_NODE* node) const override;
    bool does_lut_feed_register(CDB_ATOM_NODE* node) const override;
    bool is_driven_by_constant_gnd(CDB_ATOM_ITERM* iterm) const override;
    bool is_driven_by_constant_vcc(CDB_ATOM_ITERM* iterm) const override;
    int remove_unused_lut_inputs(CDB_ATOM_NODE* node) override;
    uint64_t get_lcell_lutmask(CDB_ATOM_NODE* node) const override;
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

    using MORV_NET_UTIL::evaluate_carry_out;
    using MORV_NET_UTIL::evaluate_comb_out;
    using MORV_NET_UTIL::evaluate_share_out;
    using MORV_NET_UTIL::evaluate_sum_out;

private:
    // The comb-out term's mask (the cell must have a comb-out).
    uint64_t get_comb_lutmask(CDB_ATOM_NODE* node) const;
};
