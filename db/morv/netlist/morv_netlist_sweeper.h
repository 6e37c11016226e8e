#pragma once

// The netlist sweeper: cleans the atom netlist after every edit step. Each
// pass collapses LUTs into the LUTs they feed, removes atoms and outputs
// nobody uses, and folds LUT inputs that carry a constant into the LUT
// masks; passes repeat until one changes nothing. A sweeper lives for one
// sweep: the caller builds the family's class, runs it and deletes it.
//
// The steps repeat internally too, pass by pass. The first pass of a step
// walks the whole netlist; a later pass visits only the atoms next to an
// edit of the pass before (the drivers of a removed atom, the readers of a
// changed mask), since nothing else can have changed. The result is the
// one a walk of the whole netlist per pass finds, without its quadratic
// cost on long chains.

#include <cstdint>
#include <vector>

#include "mem_alloc_sys.h"

#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_node_collapser.h"

class MORV_API;
class MORV_CDB_INTERFACE;
class MORV_NET_UTIL;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

// The working records of one collapse attempt: the merged inputs (source
// outputs) and the settings each new sink input gets.
typedef MORV_COLLAPSE_INPUTS MORV_SWEEPER_INPUT_LIST;
typedef MORV_COLLAPSE_FLAGS MORV_SWEEPER_INPUT_FLAGS;

// Slots of a reordered input list and of one LUT evaluation.
constexpr int MORV_SWEEPER_LUT_SLOTS = MORV_COLLAPSE_SLOTS;

// Passes after which each step, and the sweep itself, stops unfinished.
constexpr int MORV_SWEEPER_MAX_PASSES = 3000;

class MORV_NETLIST_SWEEPER
{
public:
    explicit MORV_NETLIST_SWEEPER(MORV_API* api);
    virtual ~MORV_NETLIST_SWEEPER();
    MORV_NETLIST_SWEEPER(const MORV_NETLIST_SWEEPER&) = delete;
    MORV_NETLIST_SWEEPER& operator=(const MORV_NETLIST_SWEEPER&) = delete;

    // The whole clean-up; the number of operations performed.
    int sweep();
    int collapse_nodes();
    // Constant inputs folded; at most MORV_SWEEPER_MAX_PASSES passes.
    int propagate_constants();
    int remove_unused_rams();
    int remove_dangling_iterms();

    // ---- family operations, in dispatch order
    // Atoms and outputs removed (RAM atoms included).
    virtual int remove_unused_nodes();
    // Runs once after the pass loop; its count joins the sweep's.
    virtual int post_sweep() { return 0; }
    // The node collapser's questions and steps, answered by the family's
    // collapser (morv_node_collapser.h).
    virtual bool is_collapsible_source(CDB_ATOM_NODE* source);
    virtual bool is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm);
    virtual bool can_collapse_into_normal_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm);
    virtual bool can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm);
    virtual bool can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm);
    virtual bool get_lut_inputs(CDB_ATOM_NODE* node, MORV_SWEEPER_INPUT_LIST* list_of_inputs, uint32_t skip_atom_id,
                                MORV_SWEEPER_INPUT_FLAGS* flags);
    virtual bool is_sink_in_arithmetic_mode(CDB_ATOM_NODE* sink);
    virtual void collapse_node_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                         const MORV_SWEEPER_INPUT_LIST& list_of_inputs,
                                         const MORV_SWEEPER_INPUT_FLAGS& flags);
    virtual void collapse_node_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                                    const MORV_SWEEPER_INPUT_LIST& list_of_inputs,
                                                    const MORV_SWEEPER_INPUT_FLAGS& flags);
    // flags: the settings of list entry i on entry, of slot i on return
    // (MORV_SWEEPER_LUT_SLOTS records).
    virtual void reorder_inputs(const MORV_SWEEPER_INPUT_LIST& list_of_inputs, CDB_ATOM_OTERM** reordered_inputs,
                                MORV_ITERM_PROPERTIES* flags, CDB_ATOM_NODE* sink, CDB_ATOM_NODE* source);
    // flags: the slots' settings from reorder_inputs (a merged input is read
    // through its inversion).
    virtual void evaluate_merged_lut(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink, unsigned assignment,
                                     CDB_ATOM_OTERM* const* reordered_inputs, const MORV_ITERM_PROPERTIES* flags,
                                     unsigned* lut_inputs);
    // The register feeds the LUT back (only UVO cells can).
    virtual bool is_in_qfbk_mode(CDB_ATOM_NODE* node);
    // The mask constants may be folded into; false refuses the node.
    virtual bool get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val) = 0;
    // The logical value (0 or 1) the input reads, when it is a constant.
    virtual bool get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant) = 0;
    // The mask behind a driver's output; false when it must not be read as
    // a constant (the mask is written either way).
    virtual bool get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val) = 0;
    virtual uint64_t fold_constant_input_in_arithmetic_mode(uint64_t lutmask, int input, int constant,
                                                            bool share_in_connected) = 0;
    // Writes the node's mask and announces the node modified.
    virtual void set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask) = 0;

    // ---- shared operations
    // Inputs the node lost to constants folded into its mask.
    int propagate_constants_into_node(CDB_ATOM_NODE* node);
    // The positional fold: the half of the mask where the input has the
    // constant's value, copied over the other half.
    uint64_t cofactor_lutmask(uint64_t lutmask, int input, int constant) const;
    bool is_oterm_removable(CDB_ATOM_OTERM* oterm);

    int get_max_lut_inputs() const { return m_max_lut_inputs; }
    // 0 while a source is collapsed into its single sink, 1 into each sink.
    int get_collapse_mode();

protected:
    // What the node remover does with one atom.
    enum REMOVAL
    {
        KEEP_NODE,
        REMOVE_NODE,
        REMOVE_REGOUT,  // only the register output (UVO)
        REMOVE_COMBOUT  // only the combinational output (UVO)
    };
    // The family's candidate and output rules for one atom.
    virtual REMOVAL get_removal(CDB_ATOM_NODE* node) = 0;
    // Single-output removals of the families whose cells hold both.
    virtual void remove_regout(CDB_ATOM_OTERM* regout_oterm, CDB_ATOM_NODE* node);
    virtual void remove_combout(CDB_ATOM_OTERM* combout_oterm, CDB_ATOM_NODE* node);
    // A cell fed by a special source is never swept away, except in the
    // family whose special sources are ordinary drivers.
    virtual bool keeps_cells_fed_by_special_sources() const { return true; }
    // Whether LUT position `input` reads the node's data input of that
    // position: a position the family gives to another signal (a carry-in,
    // the register fed back) or that no used output reads takes no fold.
    virtual bool is_foldable_input(CDB_ATOM_NODE* node, int input, bool arithmetic, bool share_in_connected);
    // Atoms whose constants may change when node's outputs do, beyond
    // node's own readers (added to next).
    virtual void add_constant_dependents(CDB_ATOM_NODE* reader, std::vector<uint32_t>* next);

    // The fold of `cofactor_lutmask` in the family's bit order: in the
    // reversed order a row's bit i is the complement of the mask position's.
    uint64_t cofactor_in_family_order(uint64_t lutmask, int input, int constant) const;
    // A mask of one value on every row of the LUT: that value.
    bool get_constant_of_mask(uint64_t lutmask, int mask_inputs, int* constant) const;
    // The value a driven input reads from a driver of constant value.
    static int read_through(const CDB_ATOM_ITERM* iterm, int driver_value);
    // The logical constant of a term tied to VCC or GND.
    static bool get_tied_constant(const CDB_ATOM_ITERM* iterm, int* constant);
    bool is_dont_touch(CDB_ATOM_NODE* node, int op);
    // A flow before placement is running.
    bool is_pre_placement() const;
    // The family's node collapser, built on first use.
    MORV_NODE_COLLAPSER* collapser();
    virtual MORV_OWNER<MORV_NODE_COLLAPSER> make_node_collapser() = 0;

    MORV_API* m_api;
    MORV_CDB_INTERFACE* m_cdb_interface;
    CDB_ATOM_NETLIST* m_atom_netlist;
    MORV_NET_UTIL* m_net_util;
    int m_max_lut_inputs;
    // The family reads mask row k at position 2^n - 1 - k.
    bool m_mask_bits_reversed;

private:
    // One pass of the node remover over `visit`; fills next with the
    // atoms its edits may have freed.
    bool remove_unused_nodes_pass(const std::vector<CDB_ATOM_NODE*>& visit, std::vector<uint32_t>* next, int* removed);
    void execute_removal(CDB_ATOM_NODE* node, REMOVAL removal, std::vector<uint32_t>* next, int* removed);
    // One pass of the constant propagator; false when a debug stop ended it.
    bool propagate_constants_pass(const std::vector<CDB_ATOM_NODE*>& visit, std::vector<uint32_t>* next, int* folded,
                                  bool* dirty);
    bool has_foldable_constant(CDB_ATOM_NODE* node);
    void add_readers(CDB_ATOM_NODE* node, std::vector<uint32_t>* next);
    // The atoms of the next pass: every atom for the first one, else the
    // listed ids that still name an atom, by atom id.
    std::vector<CDB_ATOM_NODE*> atoms_of_pass(bool first, std::vector<uint32_t>* ids) const;
    void print_remover_statistics(int removed_nodes, int passes) const;

    int m_regouts_removed = 0;
    int m_combouts_removed = 0;
    MORV_OWNER<MORV_NODE_COLLAPSER> m_collapser;
};

// The sweeper of the facade's base family; internal error "Unsupported
// family" for a family without one.
MORV_OWNER<MORV_NETLIST_SWEEPER> morv_make_netlist_sweeper(MORV_API* api);
