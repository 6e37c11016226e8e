#pragma once

// The family classes of duplication: the 4-LUT and 6-LUT branches and UVO
// answer the hooks; the leaves give the placement defaults and the grid.

#include "morv/dup/morv_rep.h"

class MORV_REP_4LUT : public MORV_REP
{
public:
    MORV_REP_4LUT(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication)
        : MORV_REP(api, params, allow_register_duplication)
    {}

    bool is_duplicable_node(CDB_ATOM_NODE* node) override;
    bool is_register_output(CDB_ATOM_OTERM* oterm) override;
    bool is_lab_wide_input_type(int port_type) override;
    bool is_duplicable_oterm(CDB_ATOM_OTERM* oterm) override;
    void init_usage_grid_size() override;
};

class MORV_REP_6LUT : public MORV_REP
{
public:
    MORV_REP_6LUT(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication)
        : MORV_REP(api, params, allow_register_duplication)
    {}

    bool is_duplicable_node(CDB_ATOM_NODE* node) override;
    bool is_register_output(CDB_ATOM_OTERM* oterm) override;
    bool is_lab_wide_input_type(int port_type) override;
    bool is_duplicable_oterm(CDB_ATOM_OTERM* oterm) override;
    void init_usage_grid_size() override;
};

class MORV_REP_UVO : public MORV_REP
{
public:
    MORV_REP_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication = false);

    bool is_duplicable_node(CDB_ATOM_NODE* node) override;
    bool is_register_output(CDB_ATOM_OTERM* oterm) override;
    bool is_lab_wide_input_type(int port_type) override;
    bool is_duplicable_oterm(CDB_ATOM_OTERM* oterm) override;
    void init_usage_grid_size() override;
};

#define MORV_REP_LEAF(NAME, BRANCH)                                                                                    \
    class NAME : public BRANCH                                                                                         \
    {                                                                                                                  \
    public:                                                                                                            \
        NAME(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication = false);                \
    }

MORV_REP_LEAF(MORV_REP_TEV, MORV_REP_4LUT);
MORV_REP_LEAF(MORV_REP_ZEPLA, MORV_REP_4LUT);
MORV_REP_LEAF(MORV_REP_BRK, MORV_REP_6LUT);
MORV_REP_LEAF(MORV_REP_OBRAN, MORV_REP_6LUT);
MORV_REP_LEAF(MORV_REP_RZK, MORV_REP_6LUT);
MORV_REP_LEAF(MORV_REP_KESTLIN, MORV_REP_6LUT);

// The morlin family bins the grid ten LABs to a side.
class MORV_REP_MRL : public MORV_REP_6LUT
{
public:
    MORV_REP_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication = false);

    void init_usage_grid_size() override;
};

#undef MORV_REP_LEAF
