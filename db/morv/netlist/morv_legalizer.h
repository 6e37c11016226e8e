#pragma once

// The MRL family's legaliser. Not every LUT mask, port usage or register
// configuration that the optimisations produce can be built on an MRL
// device: the host's atom legaliser judges each cell and answers with change
// records, which this class carries out through the facade, the net utility
// and the editing interface (new cells named "_LEGAL", removals, rewired
// terms, new masks and latch descriptions, register FL ids). It also drops
// LUT inputs a mask ignores, re-legalises carry chains a removal broke and
// turns carry-chain cells into high-speed adders on request. A legaliser is
// made for one use.

#include <cstdint>
#include <deque>
#include <map>
#include <set>

#include "cut/cut_morlin_legalizer.h"

class MORV_API;
class MORV_NET_UTIL;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class HDB_INSTANCE_NAME;

class MORV_LEGALIZER
{
public:
    explicit MORV_LEGALIZER(MORV_API* fsyn_api);
    ~MORV_LEGALIZER();
    MORV_LEGALIZER(const MORV_LEGALIZER&) = delete;
    MORV_LEGALIZER& operator=(const MORV_LEGALIZER&) = delete;

    // Legalises every cell the host rejects; the number of cells legalised.
    int legalize_netlist();
    // Replaces a carry-chain cell by a high-speed adder; whether the host
    // answered the replacement with any record.
    bool turn_into_high_speed_adder(CDB_ATOM_NODE* node);
    // Whether an MRL cell can realise the 6-input mask (bit k of the row is input k).
    bool is_lutmask_legal_by_rotation(uint64_t lutmask) const;

    // The MRL sweeper's step after its pass loop: the netlist is dumped
    // before (".pre_fsyn_netlist_legalizer") and after
    // (".post_fsyn_netlist_legalizer") a legalisation, and the host is told
    // of the change; the number of cells legalised, for the sweep's total.
    static int legalize_after_sweep(MORV_API* fsyn_api);

private:
    // Atom ids in id order: a record may delete a node that a set names.
    typedef std::set<int> NODE_ID_SET;

    int remove_useless_inputs();
    int remove_useless_inputs(CDB_ATOM_NODE* node);
    void legalize_broken_carry_chains();
    bool legalize_node(CDB_ATOM_NODE* node, bool allow_decompose);
    bool legalize_plain_node(CDB_ATOM_NODE* node, bool allow_decompose);
    void decompose_node(CDB_ATOM_NODE* node);
    bool legalize_special_node(CDB_ATOM_NODE* node);
    bool fix_ff_fl_id(CDB_ATOM_NODE* node);
    // After a special cell's or a high-speed adder's records: chain and
    // latch cells must be legal now, any other fixed cell is legalised.
    void check_fixed_nodes(const NODE_ID_SET& fixed, bool special);
    bool apply_legalized(CDB_ATOM_NODE* node, CUT_ATOM_MODIFIED_NODE_LIST* modified_node_list, bool special);
    void prepare_for_high_speed_adder(int node_id);

    void apply_changes(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_LIST* modified_node_list,
                       NODE_ID_SET* fixed_nodes, NODE_ID_SET* deleted_nodes);
    void apply_change(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed_nodes,
                      NODE_ID_SET* deleted_nodes);
    void apply_do_nothing(CUT_ATOM_MODIFIED_NODE_S* modified_node);
    void apply_new_node(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed);
    void apply_remove_node(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* deleted);
    void apply_iterms(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed);
    void apply_modified_iterm(CDB_ATOM_NODE* node, const CUT_ATOM_MODIFIED_ITERM_S& modified_iterm);
    void tie_iterm_to_gnd(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm);
    CDB_ATOM_OTERM* find_source(const CUT_ATOM_MODIFIED_ITERM_S& modified_iterm) const;
    void apply_lutmask(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed);
    void set_latch_structure(CDB_ATOM_NODE* node);
    void apply_new_hsadder(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed);
    void apply_oterms(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed);

    // Every sink of old_oterm moves to new_oterm.
    void take_over_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm);
    // A new cell sits in the LAB of the cell it was made for.
    void copy_location(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to);
    HDB_INSTANCE_NAME* make_legal_name(CDB_ATOM_NODE* legalized_node) const;
    void refresh_fl_id(CDB_ATOM_NODE* node);
    void check_family() const;
    CDB_ATOM_NODE* find_node(int atom_id) const;
    bool is_special_node(CDB_ATOM_NODE* node) const;
    bool is_carry_chain_or_latch(CDB_ATOM_NODE* node) const;

    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface;
    CUT_ATOM_MORLIN_LEGALIZER* m_atom_legalizer;
    int m_num_lut_inputs = 6;
    // Record id -> atom id of the cell made for that record, for one
    // single-node legalisation.
    std::map<int, int> m_new_nodes;
    // Cells whose carry chain a removal may have broken, oldest first.
    std::deque<int> m_carry_chain_work_list;
};
