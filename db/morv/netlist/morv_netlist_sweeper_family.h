#pragma once

// The family sweepers. The 4-input-LUT families (TEV, ZEPLA) share one
// branch, the 6-input-LUT families (BRK, OBRAN, RZK, KESTLIN) another; MRL
// keeps 6-input masks with rules of its own, and UVO, whose logic cell
// holds a LUT and a register, answers everything itself. The families
// differ in what counts as a removable atom and how a constant is read
// from a driver; the bit order of their masks comes from the family
// traits.

#include "morv/netlist/morv_netlist_sweeper.h"

class MORV_NETLIST_SWEEPER_4LUT : public MORV_NETLIST_SWEEPER
{
public:
    explicit MORV_NETLIST_SWEEPER_4LUT(MORV_API* api);

    bool get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val) override;
    bool get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant) override;
    bool get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val) override;
    uint64_t fold_constant_input_in_arithmetic_mode(uint64_t lutmask, int input, int constant,
                                                    bool share_in_connected) override;
    void set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask) override;
    // A logic cell; one in a chain only before placement; a combinational
    // cell only outside arithmetic mode.
    bool is_removal_candidate(CDB_ATOM_NODE* node);

protected:
    REMOVAL get_removal(CDB_ATOM_NODE* node) override;
    bool is_foldable_input(CDB_ATOM_NODE* node, int input, bool arithmetic, bool share_in_connected) override;
    MORV_OWNER<MORV_NODE_COLLAPSER> make_node_collapser() override;
};

class MORV_NETLIST_SWEEPER_6LUT : public MORV_NETLIST_SWEEPER
{
public:
    explicit MORV_NETLIST_SWEEPER_6LUT(MORV_API* api);

    bool get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val) override;
    bool get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant) override;
    bool get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val) override;
    // The two 16-bit adder halves (L at bits 0..15, H at 32..47) folded
    // where the adder reads the input.
    uint64_t fold_constant_input_in_arithmetic_mode(uint64_t lutmask, int input, int constant,
                                                    bool share_in_connected) override;
    void set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask) override;
    // Which atoms the node remover looks at.
    virtual bool is_node_sweepable(CDB_ATOM_NODE* node);
    // The value of a LUT whose mask is one value on every row.
    virtual bool get_constant_of_lutmask(uint64_t lutmask, int* constant);

protected:
    REMOVAL get_removal(CDB_ATOM_NODE* node) override;
    bool is_foldable_input(CDB_ATOM_NODE* node, int input, bool arithmetic, bool share_in_connected) override;
    MORV_OWNER<MORV_NODE_COLLAPSER> make_node_collapser() override;
    // The output rule of a combinational cell: its comb-out removable and
    // no adder output in use.
    REMOVAL get_combinational_cell_removal(CDB_ATOM_NODE* node);
    REMOVAL get_register_removal(CDB_ATOM_NODE* node);
    // Output of that type absent or removable.
    bool is_absent_or_removable(CDB_ATOM_NODE* node, int output_port_type);
};

// Defines a family class that only binds its branch to a family.
#define MORV_DECLARE_FAMILY_SWEEPER(NAME, BRANCH)                                                                      \
    class NAME : public BRANCH                                                                                         \
    {                                                                                                                  \
    public:                                                                                                            \
        explicit NAME(MORV_API* api) : BRANCH(api) {}                                                                  \
    };

MORV_DECLARE_FAMILY_SWEEPER(MORV_NETLIST_SWEEPER_TEV, MORV_NETLIST_SWEEPER_4LUT)
MORV_DECLARE_FAMILY_SWEEPER(MORV_NETLIST_SWEEPER_ZEPLA, MORV_NETLIST_SWEEPER_4LUT)
MORV_DECLARE_FAMILY_SWEEPER(MORV_NETLIST_SWEEPER_BRK, MORV_NETLIST_SWEEPER_6LUT)
MORV_DECLARE_FAMILY_SWEEPER(MORV_NETLIST_SWEEPER_OBRAN, MORV_NETLIST_SWEEPER_6LUT)
MORV_DECLARE_FAMILY_SWEEPER(MORV_NETLIST_SWEEPER_RZK, MORV_NETLIST_SWEEPER_6LUT)
MORV_DECLARE_FAMILY_SWEEPER(MORV_NETLIST_SWEEPER_KESTLIN, MORV_NETLIST_SWEEPER_6LUT)
#undef MORV_DECLARE_FAMILY_SWEEPER

// MRL: any logic cell may go, high-speed adders included; no cell in a
// carry chain or in arithmetic or extended mode takes a fold; after the
// pass loop the family legalizer runs.
class MORV_NETLIST_SWEEPER_MRL : public MORV_NETLIST_SWEEPER_6LUT
{
public:
    explicit MORV_NETLIST_SWEEPER_MRL(MORV_API* api) : MORV_NETLIST_SWEEPER_6LUT(api) {}

    int post_sweep() override;
    bool get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val) override;
    uint64_t fold_constant_input_in_arithmetic_mode(uint64_t lutmask, int input, int constant,
                                                    bool share_in_connected) override;
    bool is_node_sweepable(CDB_ATOM_NODE* node) override;

protected:
    REMOVAL get_removal(CDB_ATOM_NODE* node) override;
    bool keeps_cells_fed_by_special_sources() const override { return false; }
    MORV_OWNER<MORV_NODE_COLLAPSER> make_node_collapser() override;
};

// UVO: a 4-input LUT and a register in one cell. The remover can take
// just one of the two outputs; a register output that can only be 0 and a
// RAM that can only put out 0 are constants.
class MORV_NETLIST_SWEEPER_UVO : public MORV_NETLIST_SWEEPER
{
public:
    explicit MORV_NETLIST_SWEEPER_UVO(MORV_API* api);

    bool is_in_qfbk_mode(CDB_ATOM_NODE* node) override;
    bool get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val) override;
    bool get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant) override;
    bool get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val) override;
    uint64_t fold_constant_input_in_arithmetic_mode(uint64_t lutmask, int input, int constant,
                                                    bool share_in_connected) override;
    void set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask) override;
    // A logic cell outside carry chains, register cascades and arithmetic mode.
    bool is_uvo_removal_candidate(CDB_ATOM_NODE* node);

protected:
    REMOVAL get_removal(CDB_ATOM_NODE* node) override;
    void remove_regout(CDB_ATOM_OTERM* regout_oterm, CDB_ATOM_NODE* node) override;
    void remove_combout(CDB_ATOM_OTERM* combout_oterm, CDB_ATOM_NODE* node) override;
    bool is_foldable_input(CDB_ATOM_NODE* node, int input, bool arithmetic, bool share_in_connected) override;
    void add_constant_dependents(CDB_ATOM_NODE* reader, std::vector<uint32_t>* next) override;
    MORV_OWNER<MORV_NODE_COLLAPSER> make_node_collapser() override;

private:
    // The constant of a register output or of a RAM's output.
    bool get_register_constant(CDB_ATOM_NODE* node, int* constant);
    bool get_ram_constant(CDB_ATOM_NODE* node, int* constant);
    // The value an input of the cell always has: its floating value when
    // missing or unconnected, its logical constant when tied or driven by
    // a constant comb-out; -1 when unknown (or bound to a boundary port).
    int get_input_value(CDB_ATOM_NODE* node, int port_type);
    int get_term_value(CDB_ATOM_ITERM* iterm, int floating);
    // The register's data and synchronous controls can only load 0 into a
    // register that holds 0.
    bool loads_only_zero(CDB_ATOM_NODE* node);
    void keep_or_remove_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm);
};
