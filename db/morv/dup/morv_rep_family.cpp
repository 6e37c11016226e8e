#include "morv/dup/morv_rep_family.h"

#include "cdb/cdb_atom_netlist.h"

#include "morv/netlist/morv_net_util.h"

namespace {

constexpr MORV_REP_DEFAULTS COMMON_DEFAULTS = {100, 25, 0.8, 30, 0.9, 0.6};
constexpr MORV_REP_DEFAULTS MRL_DEFAULTS = {100, 8, 1.0, 16, 1.0, 1.0};
constexpr MORV_REP_DEFAULTS UVO_DEFAULTS = {100, 10, 0.3, 20, 0.7, 0.6};

bool is_lut_or_register_output(const CDB_ATOM_OTERM* oterm)
{
    return oterm->is_used_as(DB_COMB_OUT) || oterm->is_used_as(DB_REG_OUT);
}

// The stand-in's brennock, TEV and morlin registers are logic-cell registers
// (is_lcell_ff), which the net utility's is_ff does not count: without them
// register duplication could never run on those families.
bool is_duplicable_register(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node)
{
    return net_util->is_ff(node) || node->is_lcell_ff();
}

bool is_register_control(int port_type)
{
    return port_type == DB_CLEAR || port_type == DB_CLOCK || port_type == DB_CLOCK_ENABLE ||
           port_type == DB_SYNCH_CLEAR || port_type == DB_SYNCH_LOAD;
}

}  // namespace

// ---------------------------------------------------------------- 4-LUT branch

bool MORV_REP_4LUT::is_duplicable_node(CDB_ATOM_NODE* node)
{
    return node->is_lcell_comb() || is_duplicable_register(m_fsyn_net_util, node);
}

bool MORV_REP_4LUT::is_register_output(CDB_ATOM_OTERM* oterm)
{
    return oterm->is_used_as(DB_REG_OUT);
}

bool MORV_REP_4LUT::is_lab_wide_input_type(int port_type)
{
    return is_register_control(port_type);
}

bool MORV_REP_4LUT::is_duplicable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_lut_or_register_output(oterm);
}

void MORV_REP_4LUT::init_usage_grid_size()
{
    set_usage_grid_size(get_chip_width(), get_chip_height());
}

// ---------------------------------------------------------------- 6-LUT branch

bool MORV_REP_6LUT::is_duplicable_node(CDB_ATOM_NODE* node)
{
    return node->is_lcell_comb() || is_duplicable_register(m_fsyn_net_util, node);
}

bool MORV_REP_6LUT::is_register_output(CDB_ATOM_OTERM* oterm)
{
    return oterm->is_used_as(DB_REG_OUT);
}

bool MORV_REP_6LUT::is_lab_wide_input_type(int port_type)
{
    return port_type == DB_ASYNCH_LOAD || is_register_control(port_type);
}

bool MORV_REP_6LUT::is_duplicable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_lut_or_register_output(oterm);
}

void MORV_REP_6LUT::init_usage_grid_size()
{
    set_usage_grid_size(get_chip_width(), get_chip_height());
}

// ---------------------------------------------------------------- UVO

MORV_REP_UVO::MORV_REP_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication)
    : MORV_REP(api, params, allow_register_duplication)
{
    init_parameters(UVO_DEFAULTS);
}

bool MORV_REP_UVO::is_duplicable_node(CDB_ATOM_NODE* node)
{
    return node->is_lcell();
}

bool MORV_REP_UVO::is_register_output(CDB_ATOM_OTERM* oterm)
{
    return oterm->is_used_as(DB_REG_OUT);
}

bool MORV_REP_UVO::is_lab_wide_input_type(int port_type)
{
    return port_type == DB_ASYNCH_LOAD || is_register_control(port_type) || port_type == DB_REG_CONTROL;
}

bool MORV_REP_UVO::is_duplicable_oterm(CDB_ATOM_OTERM* oterm)
{
    return is_lut_or_register_output(oterm);
}

void MORV_REP_UVO::init_usage_grid_size()
{
    set_usage_grid_size(get_chip_width(), get_chip_height());
}

// ---------------------------------------------------------------- leaves

#define MORV_REP_LEAF_BODY(NAME, BRANCH, DEFAULTS)                                                                     \
    NAME::NAME(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication)                       \
        : BRANCH(api, params, allow_register_duplication)                                                              \
    {                                                                                                                  \
        init_parameters(DEFAULTS);                                                                                     \
    }

MORV_REP_LEAF_BODY(MORV_REP_TEV, MORV_REP_4LUT, COMMON_DEFAULTS)
MORV_REP_LEAF_BODY(MORV_REP_ZEPLA, MORV_REP_4LUT, COMMON_DEFAULTS)
MORV_REP_LEAF_BODY(MORV_REP_BRK, MORV_REP_6LUT, COMMON_DEFAULTS)
MORV_REP_LEAF_BODY(MORV_REP_OBRAN, MORV_REP_6LUT, COMMON_DEFAULTS)
MORV_REP_LEAF_BODY(MORV_REP_RZK, MORV_REP_6LUT, COMMON_DEFAULTS)
MORV_REP_LEAF_BODY(MORV_REP_KESTLIN, MORV_REP_6LUT, COMMON_DEFAULTS)
MORV_REP_LEAF_BODY(MORV_REP_MRL, MORV_REP_6LUT, MRL_DEFAULTS)

#undef MORV_REP_LEAF_BODY

void MORV_REP_MRL::init_usage_grid_size()
{
    set_usage_grid_size(get_chip_width() / 10, get_chip_height() / 10);
}
