#pragma once

// The leaves of the net utility, one per device family: each binds its
// branch to the family's atoms (new cells and registers are the family's
// own) and overrides what only that family does differently.

#include "cdb/cdb_atom_node.h"

#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util_4lut.h"
#include "morv/netlist/morv_net_util_6lut.h"
#include "morv/netlist/morv_net_util_uvo.h"

// New cells and registers of a leaf, made by the editing interface's
// factories of the family (COMB and FF name them).
template <typename BRANCH, auto COMB, auto FF>
class MORV_NET_UTIL_LEAF : public BRANCH
{
public:
    MORV_NET_UTIL_LEAF(CDB_ATOM_NETLIST* netlist, MORV_API* api) : BRANCH(netlist, api) {}
    CDB_ATOM_NODE* create_lcell_comb(CDB_ATOM_NODE* node) override
    {
        return (this->m_cdb_interface->*COMB)(nullptr, this->new_lcell_comb_name(node));
    }
    CDB_ATOM_NODE* create_register(CDB_ATOM_NODE* node, HDB_INSTANCE_NAME* base_name = nullptr) override
    {
        return (this->m_cdb_interface->*FF)(nullptr, this->new_register_name(node, base_name));
    }
};

// Registers of these families answer the host's logic-cell register test.
template <typename BRANCH, auto COMB, auto FF>
class MORV_NET_UTIL_LCELL_FF_LEAF : public MORV_NET_UTIL_LEAF<BRANCH, COMB, FF>
{
public:
    MORV_NET_UTIL_LCELL_FF_LEAF(CDB_ATOM_NETLIST* netlist, MORV_API* api)
        : MORV_NET_UTIL_LEAF<BRANCH, COMB, FF>(netlist, api)
    {}
    bool is_ff(CDB_ATOM_NODE* node) const override { return node->is_lcell_ff(); }
};

class MORV_NET_UTIL_TEV
    : public MORV_NET_UTIL_LCELL_FF_LEAF<MORV_NET_UTIL_4LUT, &MORV_CDB_INTERFACE::create_lcell_comb_sorvexii,
                                         &MORV_CDB_INTERFACE::create_lcell_ff_sorvexii>
{
public:
    MORV_NET_UTIL_TEV(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LCELL_FF_LEAF(netlist, api) {}
};

class MORV_NET_UTIL_ZEPLA : public MORV_NET_UTIL_LEAF<MORV_NET_UTIL_4LUT, &MORV_CDB_INTERFACE::create_lcell_comb_zepla,
                                                      &MORV_CDB_INTERFACE::create_ff_zepla>
{
public:
    MORV_NET_UTIL_ZEPLA(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LEAF(netlist, api) {}
};

class MORV_NET_UTIL_BRK
    : public MORV_NET_UTIL_LCELL_FF_LEAF<MORV_NET_UTIL_6LUT, &MORV_CDB_INTERFACE::create_lcell_comb_brk,
                                         &MORV_CDB_INTERFACE::create_lcell_ff_brk>
{
public:
    MORV_NET_UTIL_BRK(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LCELL_FF_LEAF(netlist, api) {}
    // Gives every LUT input tied to VCC a driver cell of its own and every
    // input tied to GND the host's ground cell of its partition.
    void tie_inputs_to_vcc_lcells() override;

private:
    void tie_input_to_new_vcc_lcell(CDB_ATOM_ITERM* iterm);
    void tie_input_to_gnd_lcell(CDB_ATOM_ITERM* iterm);
};

// MRL reads its masks in the direct bit order and looks at sum and carry
// before the comb-out.
class MORV_NET_UTIL_MRL
    : public MORV_NET_UTIL_LCELL_FF_LEAF<MORV_NET_UTIL_6LUT, &MORV_CDB_INTERFACE::create_lcell_comb_mrl,
                                         &MORV_CDB_INTERFACE::create_lcell_ff_mrl>
{
public:
    MORV_NET_UTIL_MRL(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LCELL_FF_LEAF(netlist, api) {}
    uint64_t get_lutmask(CDB_ATOM_NODE* node) const override;
    unsigned evaluate_share_out(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_comb_out_normal_mode(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_comb_out_extended_mode(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_sum_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_sum_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_carry_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    unsigned evaluate_carry_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* input_values) const override;
    using MORV_NET_UTIL::evaluate_share_out;
    // Sampled at the logic cells placed on the grid, by their drive strength.
    int get_average_neighbour_delay() const override;
    int get_sample_location_delay() const override;
};

class MORV_NET_UTIL_OBRAN : public MORV_NET_UTIL_LEAF<MORV_NET_UTIL_6LUT, &MORV_CDB_INTERFACE::create_lcell_comb_obran,
                                                      &MORV_CDB_INTERFACE::create_ff_obran>
{
public:
    MORV_NET_UTIL_OBRAN(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LEAF(netlist, api) {}
};

class MORV_NET_UTIL_RZK : public MORV_NET_UTIL_LEAF<MORV_NET_UTIL_6LUT, &MORV_CDB_INTERFACE::create_lcell_comb_rzk,
                                                    &MORV_CDB_INTERFACE::create_ff_rzk>
{
public:
    MORV_NET_UTIL_RZK(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LEAF(netlist, api) {}
};

// KESTLIN has no combinational factory of its own: its cells are RZK cells.
class MORV_NET_UTIL_KESTLIN : public MORV_NET_UTIL_LEAF<MORV_NET_UTIL_6LUT, &MORV_CDB_INTERFACE::create_lcell_comb_rzk,
                                                        &MORV_CDB_INTERFACE::create_ff_kestlin>
{
public:
    MORV_NET_UTIL_KESTLIN(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL_LEAF(netlist, api) {}
};
