#pragma once

// The family classes of Boolean-division resynthesis. The 4-input and
// 6-input branches and the UVO class supply the hooks; each family class
// sets the defaults, the stage delay from the family's LUT delays and the
// guardband slack, and creates the family's LUT cells ("_RESYN") in the
// root's LAB. MRL accepts only LUT functions its cell legaliser accepts.

#include <vector>

#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/resyn/morv_resyn.h"

// The tuning that differs between families.
struct MORV_RESYN_FAMILY_DEFAULTS
{
    int num_data_ports;
    double area_fr_bgn;  // AFRB
    double area_fr_end;  // AFRE
    double area_sr_max;  // ASRX
    int area_bound_end;  // ABE
};

// The tuning of each family.
namespace resyn_family_defaults {
//                                            ports AFRB  AFRE  ASRX  ABE
constexpr MORV_RESYN_FAMILY_DEFAULTS BRK = {6, 0.12, 0.06, 0.33, 2};
constexpr MORV_RESYN_FAMILY_DEFAULTS ZEPLA = {4, 0.12, 0.06, 1.0, 4};
constexpr MORV_RESYN_FAMILY_DEFAULTS MRL = {6, 0.12, 0.06, 1.0, 2};
constexpr MORV_RESYN_FAMILY_DEFAULTS TEV = {4, 0.16, 0.08, 1.0, 4};
constexpr MORV_RESYN_FAMILY_DEFAULTS KESTLIN = {6, 0.2, 0.1, 1.0, 2};
constexpr MORV_RESYN_FAMILY_DEFAULTS RZK = {6, 0.2, 0.1, 1.0, 2};
constexpr MORV_RESYN_FAMILY_DEFAULTS OBRAN = {6, 0.2, 0.1, 0.33, 2};
constexpr MORV_RESYN_FAMILY_DEFAULTS UVO = {4, 0.12, 0.06, 1.0, 4};
}  // namespace resyn_family_defaults

// What every family class shares: defaults, delays and the cell factory.
class MORV_RESYN_FAMILY_BASE : public MORV_RESYN
{
public:
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* root_node, int lut_index) override;
    void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) override;
    bool prepare_base_node(CDB_ATOM_NODE* root_node, int available_inputs) override;
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    bool is_lut_node(CDB_ATOM_NODE* node) override;
    bool lut_feeds_register(CDB_ATOM_OTERM* oterm) override;
    bool uses_register_feedback(CDB_ATOM_NODE* node) override;
    int get_available_inputs(CDB_ATOM_NODE* node) override;
    void mark_node(CDB_ATOM_NODE* node) override;
    bool swaps_cofactors() override { return false; }
    bool is_lut_function_legal(BDD_JBDD function, const std::vector<int>& support) override;

protected:
    MORV_RESYN_FAMILY_BASE(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RESYN(api, params) {}
    // Defaults, the stage delay (the combinational average plus the
    // family's LUT part), the guardband slack, then the run's parameters.
    void init_family(const MORV_RESYN_FAMILY_DEFAULTS& defaults, double lut_part, bool check_lut_part,
                     const MORV_PARAMETER_MAP* params);
    virtual CDB_ATOM_NODE* make_cell(HDB_INSTANCE_NAME* name) = 0;
    // The plain disconnection of a LUT input the rewiring frees.
    void free_lut_input(CDB_ATOM_ITERM* iterm);
};

class MORV_RESYN_4LUT : public MORV_RESYN_FAMILY_BASE
{
public:
    void mark_node(CDB_ATOM_NODE* node) override;

protected:
    using MORV_RESYN_FAMILY_BASE::MORV_RESYN_FAMILY_BASE;
    // (3 d(D) + 2 d(C)) / 5 of the combinational cell.
    double lut_part() const;
};

class MORV_RESYN_6LUT : public MORV_RESYN_FAMILY_BASE
{
public:
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    bool swaps_cofactors() override;

protected:
    using MORV_RESYN_FAMILY_BASE::MORV_RESYN_FAMILY_BASE;
    // (4 d(E) + d(F)) / 5 of the combinational cell.
    double lut_part() const;
};

class MORV_RESYN_MRL : public MORV_RESYN_6LUT
{
public:
    MORV_RESYN_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params);
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    bool swaps_cofactors() override { return false; }
    bool is_lut_function_legal(BDD_JBDD function, const std::vector<int>& support) override;
    // How often the legaliser was asked (the tests read it).
    int get_legality_queries() const { return m_legality_queries; }

protected:
    CDB_ATOM_NODE* make_cell(HDB_INSTANCE_NAME* name) override;

    MORV_LEGALIZER m_legalizer;
    int m_legality_queries = 0;
};

// A family whose only own parts are its tuning and its LUT cell: the
// branch supplies the hooks and the LUT part of the stage delay.
template <class BRANCH, MORV_RESYN_FAMILY_DEFAULTS DEFAULTS, auto CREATE_CELL, bool CHECK_LUT_PART = true>
class MORV_RESYN_LUT_FAMILY : public BRANCH
{
public:
    MORV_RESYN_LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params) : BRANCH(api, params)
    {
        this->init_family(DEFAULTS, this->lut_part(), CHECK_LUT_PART, params);
    }

protected:
    CDB_ATOM_NODE* make_cell(HDB_INSTANCE_NAME* name) override
    {
        return (this->m_cdb_interface->*CREATE_CELL)(nullptr, name);
    }
};

using MORV_RESYN_BRK = MORV_RESYN_LUT_FAMILY<MORV_RESYN_6LUT, resyn_family_defaults::BRK,
                                             &MORV_CDB_INTERFACE::create_lcell_comb_brk, false>;
using MORV_RESYN_KESTLIN =
    MORV_RESYN_LUT_FAMILY<MORV_RESYN_6LUT, resyn_family_defaults::KESTLIN, &MORV_CDB_INTERFACE::create_lcell_comb_rzk>;
using MORV_RESYN_RZK =
    MORV_RESYN_LUT_FAMILY<MORV_RESYN_6LUT, resyn_family_defaults::RZK, &MORV_CDB_INTERFACE::create_lcell_comb_rzk>;
using MORV_RESYN_OBRAN =
    MORV_RESYN_LUT_FAMILY<MORV_RESYN_6LUT, resyn_family_defaults::OBRAN, &MORV_CDB_INTERFACE::create_lcell_comb_obran>;
using MORV_RESYN_ZEPLA =
    MORV_RESYN_LUT_FAMILY<MORV_RESYN_4LUT, resyn_family_defaults::ZEPLA, &MORV_CDB_INTERFACE::create_lcell_comb_zepla>;
using MORV_RESYN_TEV =
    MORV_RESYN_LUT_FAMILY<MORV_RESYN_4LUT, resyn_family_defaults::TEV, &MORV_CDB_INTERFACE::create_lcell_comb_sorvexii>;

// The UVO cell joins a 4-input LUT and a register that may read the LUT's
// third input or feed itself back into it.
class MORV_RESYN_UVO : public MORV_RESYN_FAMILY_BASE
{
public:
    MORV_RESYN_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params);
    void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) override;
    bool prepare_base_node(CDB_ATOM_NODE* root_node, int available_inputs) override;
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    bool is_lut_node(CDB_ATOM_NODE* node) override;
    bool lut_feeds_register(CDB_ATOM_OTERM* oterm) override;
    bool uses_register_feedback(CDB_ATOM_NODE* node) override;
    int get_available_inputs(CDB_ATOM_NODE* node) override;

protected:
    CDB_ATOM_NODE* make_cell(HDB_INSTANCE_NAME* name) override;
};
