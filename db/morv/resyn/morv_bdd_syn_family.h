#pragma once

// The family classes of BDD resynthesis: each sets the tuning fields from
// the run parameters, measures the family's delays and creates its new LUTs
// next to the base node. MRL only proposes masks its cell legaliser accepts;
// UVO, whose logic cell joins a 4-input LUT and a register, has hooks of its
// own, shared with Boolean-division resynthesis (morv_uvo_lut_hooks.h).

#include "morv/netlist/morv_legalizer.h"
#include "morv/resyn/morv_bdd_syn.h"

class HDB_INSTANCE_NAME;

class MORV_BDD_SYN_BRK : public MORV_BDD_SYN_6LUT
{
public:
    MORV_BDD_SYN_BRK(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
};

class MORV_BDD_SYN_ZEPLA : public MORV_BDD_SYN_4LUT
{
public:
    MORV_BDD_SYN_ZEPLA(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
};

class MORV_BDD_SYN_TEV : public MORV_BDD_SYN_4LUT
{
public:
    MORV_BDD_SYN_TEV(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
};

class MORV_BDD_SYN_KESTLIN : public MORV_BDD_SYN_6LUT
{
public:
    MORV_BDD_SYN_KESTLIN(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
};

class MORV_BDD_SYN_RZK : public MORV_BDD_SYN_6LUT
{
public:
    MORV_BDD_SYN_RZK(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
};

class MORV_BDD_SYN_OBRAN : public MORV_BDD_SYN_6LUT
{
public:
    MORV_BDD_SYN_OBRAN(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
};

class MORV_BDD_SYN_MRL : public MORV_BDD_SYN_6LUT
{
public:
    MORV_BDD_SYN_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params);
    bool is_lut_function_legal(const BDD_JBDD& bdd, int cut_level, bool fits) override;
    bool is_bdd_legal(const BDD_JBDD& bdd) override;
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
    void commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask) override;

    // The mask of f over support s with position p at weight 2^p, the
    // legaliser's bit order.
    void compute_rotation_mask(const BDD_JBDD& f, const std::vector<int>& s, int p, uint64_t& mask, uint64_t b) const;
    // Encoding bits of n cut nodes, as the decomposition builds them.
    static int get_encoding_bits(int num_cut_nodes);

protected:
    // The legality test without the garbage collection that follows it.
    bool test_lut_function(const BDD_JBDD& f, int cut_level, bool fits);

    MORV_LEGALIZER m_legalizer;
};

class MORV_BDD_SYN_UVO : public MORV_BDD_SYN
{
public:
    MORV_BDD_SYN_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params);
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    int get_max_lut_size(CDB_ATOM_NODE* node) override;
    bool uses_register_feedback(CDB_ATOM_NODE* node) override;
    bool lut_feeds_register(CDB_ATOM_OTERM* oterm) override;
    bool source_keeps_node(CDB_ATOM_OTERM* oterm) override;
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) override;
    void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) override;
    bool prepare_base_node(CDB_ATOM_NODE* base_node, int available_inputs) override;
    void commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask) override;
};
