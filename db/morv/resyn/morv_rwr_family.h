#pragma once

// The family classes of the rewiring algorithm: the 4-input and 6-input LUT
// branches and UVO answer the hooks; the family leaves set ALG's default,
// the delays, the LAB threshold of the duplication penalty and the LUT size.

#include "morv/resyn/morv_rwr.h"

class MORV_RWR_4LUT : public MORV_RWR
{
public:
    MORV_RWR_4LUT(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RWR(api, params) {}

    bool is_rewire_candidate(CDB_ATOM_NODE* node) override;
    // A cell whose LUT still reads the carry-in as its third input is
    // marked as a plain 4-input cell on its first new mask.
    bool get_lutmask_flag(CDB_ATOM_NODE* node) override;
    int get_ale_input_count(CDB_ATOM_NODE* node) override;
    bool is_excluded_node(CDB_ATOM_NODE* node) override;
    bool is_swappable_oterm(CDB_ATOM_OTERM* oterm) override;
    bool is_excluded_port_a(CDB_ATOM_NODE* node, int port) override;
    bool is_excluded_port_b(CDB_ATOM_NODE* node, int port) override;
    bool needs_duplication(MORV_RWR_SWAP* swap) override;
    bool is_lcell_a_lut(CDB_ATOM_NODE* node) override;
    int get_max_lut_size() override { return 4; }
    bool is_duplication_blocked(CDB_ATOM_NODE* node) override;
    int get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout) override;
    bool can_duplicate_node(CDB_ATOM_NODE* node) override;
};

class MORV_RWR_6LUT : public MORV_RWR
{
public:
    MORV_RWR_6LUT(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RWR(api, params) {}

    bool is_rewire_candidate(CDB_ATOM_NODE* node) override;
    bool get_lutmask_flag(CDB_ATOM_NODE* node) override;
    // Distinct signals the node's ALE (the node and its partner) reads.
    int get_ale_input_count(CDB_ATOM_NODE* node) override;
    bool is_excluded_node(CDB_ATOM_NODE* node) override;
    bool is_swappable_oterm(CDB_ATOM_OTERM* oterm) override;
    // Only critical inputs leave node_a, only non-critical ones leave node_b.
    bool is_excluded_port_a(CDB_ATOM_NODE* node, int port) override;
    bool is_excluded_port_b(CDB_ATOM_NODE* node, int port) override;
    bool needs_duplication(MORV_RWR_SWAP* swap) override;
    bool is_lcell_a_lut(CDB_ATOM_NODE* node) override;
    int get_max_lut_size() override { return 6; }
    bool is_duplication_blocked(CDB_ATOM_NODE* node) override;
    int get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout) override;
    bool can_duplicate_node(CDB_ATOM_NODE* node) override;
};

class MORV_RWR_UVO : public MORV_RWR
{
public:
    MORV_RWR_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params);

    bool is_rewire_candidate(CDB_ATOM_NODE* node) override;
    bool get_lutmask_flag(CDB_ATOM_NODE* node) override;
    int get_ale_input_count(CDB_ATOM_NODE* node) override;
    bool is_excluded_node(CDB_ATOM_NODE* node) override;
    bool is_swappable_oterm(CDB_ATOM_OTERM* oterm) override;
    bool is_excluded_port_a(CDB_ATOM_NODE* node, int port) override;
    bool is_excluded_port_b(CDB_ATOM_NODE* node, int port) override;
    // The LUT also feeds the cell's register: a shared LUT is never rewritten.
    bool needs_duplication(MORV_RWR_SWAP* swap) override;
    bool is_lcell_a_lut(CDB_ATOM_NODE* node) override;
    int get_max_lut_size() override { return 4; }
    bool is_duplication_blocked(CDB_ATOM_NODE* node) override;
    int get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout) override;
    bool can_duplicate_node(CDB_ATOM_NODE* node) override;
};

class MORV_RWR_MRL : public MORV_RWR_6LUT
{
public:
    MORV_RWR_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params);

    bool is_rewire_candidate(CDB_ATOM_NODE* node) override;
    int get_ale_input_count(CDB_ATOM_NODE* node) override;
    bool is_excluded_node(CDB_ATOM_NODE* node) override;
    bool is_swappable_oterm(CDB_ATOM_OTERM* oterm) override;
};

// The 6-input families other than MRL share one body: ALG GREEDY, the
// rotation delay d(A) - d(F) and the level delay d(D).
class MORV_RWR_6LUT_FAMILY : public MORV_RWR_6LUT
{
public:
    MORV_RWR_6LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params);
};

// The 4-input families: ALG RECURSIVE, rotation d(A) - d(D), level 2.5 d(D).
class MORV_RWR_4LUT_FAMILY : public MORV_RWR_4LUT
{
public:
    MORV_RWR_4LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params);
};

#define MORV_RWR_DECLARE_FAMILY(NAME, BASE)                                                                            \
    class NAME : public BASE                                                                                           \
    {                                                                                                                  \
    public:                                                                                                            \
        NAME(MORV_API* api, const MORV_PARAMETER_MAP* params) : BASE(api, params) {}                                   \
    };

MORV_RWR_DECLARE_FAMILY(MORV_RWR_BRK, MORV_RWR_6LUT_FAMILY)
MORV_RWR_DECLARE_FAMILY(MORV_RWR_KESTLIN, MORV_RWR_6LUT_FAMILY)
MORV_RWR_DECLARE_FAMILY(MORV_RWR_RZK, MORV_RWR_6LUT_FAMILY)
MORV_RWR_DECLARE_FAMILY(MORV_RWR_OBRAN, MORV_RWR_6LUT_FAMILY)
MORV_RWR_DECLARE_FAMILY(MORV_RWR_ZEPLA, MORV_RWR_4LUT_FAMILY)
MORV_RWR_DECLARE_FAMILY(MORV_RWR_TEV, MORV_RWR_4LUT_FAMILY)
#undef MORV_RWR_DECLARE_FAMILY
