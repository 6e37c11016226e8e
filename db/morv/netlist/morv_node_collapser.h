#pragma once

// The node collapser, the first step of every sweep pass: it merges a LUT
// (the source) into the LUTs its output feeds (the sinks). Each sink gets
// the source's inputs in place of the source's output and a mask recomputed
// over the merged inputs, so that it computes what it computed before. A
// source that fed one sink is merged into it; one with a single connected
// data input, or one in arithmetic mode, is merged into each sink that takes
// it. Which sources and sinks qualify, how many inputs the merged LUT may
// have and where each input lands are family rules (one subclass per LUT
// branch and family).
//
// A merged mask is built by evaluating the source and the sink as the host
// does for every value of the merged inputs: the value of input i is the
// signal after the term's inversion, each LUT reads it through its own
// port's polarity, and a sink input fed by the source reads the source's
// output through that input's inversion and polarity. The mask is written in
// the family's bit order.
//
// Later passes of one call visit only the LUTs next to an edit of the pass
// before (the sink, the source and the drivers of both, and the sink's LAB
// after placement): nothing else can have become collapsible, so the result
// is the one a walk of the whole netlist per pass finds.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "mem_alloc_sys.h"

#include "morv/netlist/morv_net_util.h"

class MORV_API;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

// The merged inputs of one attempt (source outputs, the source's inputs
// first) and the settings each new sink input gets.
typedef std::vector<CDB_ATOM_OTERM*> MORV_COLLAPSE_INPUTS;
typedef std::vector<MORV_ITERM_PROPERTIES> MORV_COLLAPSE_FLAGS;

// Slots of a reordered input list and of one LUT evaluation.
constexpr int MORV_COLLAPSE_SLOTS = MORV_EVALUATE_INPUT_COUNT;

// What the rows of one merge read, looked up once for all of them: the
// source's terms by evaluation slot, the sink's terms with the slot each
// fills, the assignment bit each reordered slot takes, and the slots whose
// position the rows vary (bit i: slot i).
struct MORV_COLLAPSE_TERMS
{
    CDB_ATOM_ITERM* m_source[MORV_COLLAPSE_SLOTS];
    CDB_ATOM_ITERM* m_sink[MORV_COLLAPSE_SLOTS];
    int m_sink_slot[MORV_COLLAPSE_SLOTS];
    int m_sink_count;
    int m_bit[MORV_COLLAPSE_SLOTS];
    unsigned m_enumerated;
};
// No merged LUT has more inputs in any family.
constexpr int MORV_COLLAPSE_MAX_INPUTS = 6;

class MORV_NODE_COLLAPSER
{
public:
    explicit MORV_NODE_COLLAPSER(MORV_API* api);
    virtual ~MORV_NODE_COLLAPSER();
    MORV_NODE_COLLAPSER(const MORV_NODE_COLLAPSER&) = delete;
    MORV_NODE_COLLAPSER& operator=(const MORV_NODE_COLLAPSER&) = delete;

    // Collapses until a pass takes no source out of a sink; the number of
    // sources collapsed.
    int collapse_nodes();

    // 0 while a source is collapsed into its single sink, 1 into each sink.
    int get_collapse_mode() const { return m_collapse_mode; }
    int get_max_lut_inputs() const { return m_max_lut_inputs; }
    // Nodes the last call looked at to choose the LUTs of its later passes
    // (repeats counted): the work of choosing them.
    long get_neighbour_notes() const { return m_notes; }

    bool collapse_node_into_single_sink(CDB_ATOM_NODE* source);
    bool collapse_node_into_all_sinks(CDB_ATOM_NODE* source);
    bool is_collapsible_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm);
    bool host_allows_collapse(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink);
    bool collapse_source_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink);

    // ---- family rules
    virtual bool is_collapsible_source(CDB_ATOM_NODE* source) = 0;
    virtual bool is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) = 0;
    virtual bool can_collapse_into_normal_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) = 0;
    virtual bool can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) = 0;
    virtual bool can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) = 0;
    // Appends the sources of the node's driven LUT data inputs not yet
    // listed, except the output being collapsed (skip); false when a source
    // is read with other settings than where it was listed, or the list
    // would grow past MORV_COLLAPSE_MAX_INPUTS.
    virtual bool get_lut_inputs(CDB_ATOM_NODE* node, MORV_COLLAPSE_INPUTS* list_of_inputs, CDB_ATOM_OTERM* skip,
                                MORV_COLLAPSE_FLAGS* flags);
    // Sinks merged through their adder halves (6-LUT branch only).
    virtual bool is_sink_in_arithmetic_mode(CDB_ATOM_NODE* /*sink*/) { return false; }
    virtual void collapse_node_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                         const MORV_COLLAPSE_INPUTS& list_of_inputs, const MORV_COLLAPSE_FLAGS& flags);
    virtual void collapse_node_into_arithmetic_sink(CDB_ATOM_NODE* /*source*/, CDB_ATOM_NODE* /*sink*/,
                                                    const MORV_COLLAPSE_INPUTS& /*list_of_inputs*/,
                                                    const MORV_COLLAPSE_FLAGS& /*flags*/)
    {}
    // Slot i: the source output that will drive LUT position i of the sink,
    // with the settings its input gets (null: position unused).
    virtual void reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs, CDB_ATOM_OTERM** reordered_inputs,
                                MORV_ITERM_PROPERTIES* records, const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                                CDB_ATOM_NODE* source);
    // The sink's LUT inputs (lut_inputs, MORV_COLLAPSE_SLOTS of 0 or 1) when
    // merged input i has bit i of the assignment.
    virtual void evaluate_merged_lut(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink, unsigned assignment,
                                     CDB_ATOM_OTERM* const* reordered_inputs, const MORV_ITERM_PROPERTIES* records,
                                     unsigned* lut_inputs);

    // Every LUT data input of the node used as port 14 or 16 is driven by
    // oterm, and no other is.
    bool drives_only_shared_inputs(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm) const;

    // Readies the records of an attempt on the source (its merged output and
    // how many list entries are its own inputs) for a caller that steps
    // through a merge itself; the passes set them as they go.
    void prepare_attempt(CDB_ATOM_NODE* source);

protected:
    // ---- family hooks of the shared merge
    // The input port the sink's LUT reads at position i.
    virtual int position_port(CDB_ATOM_NODE* sink, int position) const;
    // The evaluation slot a sink input of that port fills; -1: none (the
    // LUT does not read it).
    virtual int sink_slot(CDB_ATOM_NODE* sink, int port) const;
    // Whether an unused position's input goes (carry-ins and inputs the
    // family keeps for the adder stay).
    virtual bool deletes_unused_position(CDB_ATOM_NODE* sink, int port) const;
    // Whether the sink's carry mask is rebuilt with the LUT mask.
    virtual bool has_carry_mask(CDB_ATOM_NODE* /*sink*/) const { return false; }
    // The flags of the sink's mask and carry-mask writes.
    virtual int lutmask_flag(CDB_ATOM_NODE* /*sink*/) const { return 0; }
    virtual int carry_lutmask_flag(CDB_ATOM_NODE* /*sink*/) const { return 0; }
    // Changes the sink needs before its new mask is written (after it was evaluated).
    virtual void prepare_sink(CDB_ATOM_NODE* /*sink*/) {}
    // The node repeats an input read at two positions in its list (a 6-LUT
    // adder reads its third operand bit at D and at F).
    virtual bool lists_shared_adder_inputs(CDB_ATOM_NODE* /*node*/) const { return false; }
    // The bit of the assignment that merged input i takes.
    virtual int merged_input_bit(CDB_ATOM_NODE* sink, int i) const;
    // The merged mask varies the position's value (a signal placed twice is
    // read where it does).
    virtual bool is_enumerated_position(CDB_ATOM_NODE* sink, int position) const;
    // The placement is not done yet (the host's flow says so).
    virtual bool is_pre_placement() const;

    // ---- shared steps
    bool is_dont_touch(CDB_ATOM_NODE* node) const;
    // The cells of the node's carry chain, from its head.
    std::vector<CDB_ATOM_NODE*> carry_chain_of(CDB_ATOM_NODE* node) const;
    // Every connected input's global-signal setting allows a merge.
    bool input_settings_allow_merge(CDB_ATOM_NODE* source) const;
    // The merged list of one attempt; false when the inputs cannot be merged.
    bool build_input_list(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink, MORV_COLLAPSE_INPUTS* list_of_inputs,
                          MORV_COLLAPSE_FLAGS* flags, int* source_inputs);
    // The value the term gives its LUT position: a constant's logical value,
    // the source's output or a merged input, through the term's inversion
    // and polarity.
    // signal: the value of each reordered slot's signal in this row.
    unsigned term_value(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* const* reordered_inputs, unsigned enumerated,
                        const unsigned* signal, unsigned source_value) const;
    MORV_COLLAPSE_TERMS collapse_terms(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink) const;
    // evaluate_merged_lut over terms looked up beforehand.
    void evaluate_row(const MORV_COLLAPSE_TERMS& terms, CDB_ATOM_NODE* source, unsigned assignment,
                      CDB_ATOM_OTERM* const* reordered_inputs, const MORV_ITERM_PROPERTIES* records,
                      unsigned* lut_inputs);
    // Bit i set: the port at position i inverts.
    unsigned inverting_positions(CDB_ATOM_NODE* sink) const;
    // The mask bit of row index in the family's order over `inputs` inputs.
    int mask_bit(unsigned index, int inputs) const;
    // Connects every used position of the sink to its new source and drops
    // the inputs of unused positions.
    void rewire_sink(CDB_ATOM_NODE* sink, CDB_ATOM_OTERM* const* reordered_inputs,
                     const MORV_ITERM_PROPERTIES* records);
    void rewire_position(CDB_ATOM_NODE* sink, int port, CDB_ATOM_OTERM* source, const MORV_ITERM_PROPERTIES& record);
    // The settings of the source's inputs for the settings guard and lists.
    MORV_ITERM_PROPERTIES settings_of(CDB_ATOM_ITERM* iterm) const;
    static bool same_settings(const MORV_ITERM_PROPERTIES& a, const MORV_ITERM_PROPERTIES& b);

    MORV_API* m_api;
    MORV_CDB_INTERFACE* m_cdb_interface;
    CDB_ATOM_NETLIST* m_atom_netlist;
    MORV_NET_UTIL* m_net_util;
    int m_max_lut_inputs;
    int m_collapse_mode = 0;
    // The family reads row k of a mask at 2^n - 1 - k.
    bool m_mask_bits_reversed;
    // The source output being merged in the current attempt, and how many
    // entries of its merged list are the source's own inputs.
    CDB_ATOM_OTERM* m_source_output = nullptr;
    int m_source_inputs = 0;

private:
    bool collapse_one(CDB_ATOM_NODE* node);
    // The sinks of the outputs a merge takes the node out of (comb and sum out).
    static int merged_fanout(CDB_ATOM_NODE* node);
    bool collapse_pass(const std::vector<CDB_ATOM_NODE*>& visit, int* count);
    // The LUTs of the next pass, in netlist order.
    std::vector<CDB_ATOM_NODE*> next_pass_nodes();
    void forget_touched();
    // Enters a LUT for the next pass (once).
    void note_node(CDB_ATOM_NODE* node);
    void note_neighbourhood(CDB_ATOM_NODE* node);
    void note_lab_of(CDB_ATOM_NODE* node);

    // Every LUT in netlist order, from the first pass, and its position
    // there; the positions an edit of this pass touched, each once.
    std::vector<CDB_ATOM_NODE*> m_luts;
    std::unordered_map<uint32_t, int> m_lut_position;
    std::vector<int> m_touched;
    std::vector<bool> m_is_touched;
    long m_notes = 0;
};

// TEV and ZEPLA: 4-input cells whose LUT reads its carry-in at position C
// unless node bit 29 is set; an arithmetic cell has a carry mask beside its
// LUT mask.
class MORV_NODE_COLLAPSER_4LUT : public MORV_NODE_COLLAPSER
{
public:
    explicit MORV_NODE_COLLAPSER_4LUT(MORV_API* api) : MORV_NODE_COLLAPSER(api) {}

    bool is_collapsible_source(CDB_ATOM_NODE* source) override;
    bool is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_normal_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool get_lut_inputs(CDB_ATOM_NODE* node, MORV_COLLAPSE_INPUTS* list_of_inputs, CDB_ATOM_OTERM* skip,
                        MORV_COLLAPSE_FLAGS* flags) override;
    void reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs, CDB_ATOM_OTERM** reordered_inputs,
                        MORV_ITERM_PROPERTIES* records, const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                        CDB_ATOM_NODE* source) override;

protected:
    int position_port(CDB_ATOM_NODE* sink, int position) const override;
    int sink_slot(CDB_ATOM_NODE* sink, int port) const override;
    bool deletes_unused_position(CDB_ATOM_NODE* sink, int port) const override;
    bool has_carry_mask(CDB_ATOM_NODE* sink) const override;
    int lutmask_flag(CDB_ATOM_NODE* sink) const override;
    int carry_lutmask_flag(CDB_ATOM_NODE* /*sink*/) const override { return 1; }
    void prepare_sink(CDB_ATOM_NODE* sink) override;
    // The LUT reads its carry-in where it would read input C.
    virtual bool lut_reads_carry(CDB_ATOM_NODE* sink) const;
    // After the merge the carry-in keeps LUT position C.
    virtual bool reads_carry_at_c(CDB_ATOM_NODE* sink) const;
};

// BRK, OBRAN, RZK and KESTLIN: 6-input cells; arithmetic sinks take the
// source through their two 16-bit adder halves.
class MORV_NODE_COLLAPSER_6LUT : public MORV_NODE_COLLAPSER
{
public:
    explicit MORV_NODE_COLLAPSER_6LUT(MORV_API* api) : MORV_NODE_COLLAPSER(api) {}

    bool is_collapsible_source(CDB_ATOM_NODE* source) override;
    bool is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_normal_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool is_sink_in_arithmetic_mode(CDB_ATOM_NODE* sink) override;
    void collapse_node_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                            const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                            const MORV_COLLAPSE_FLAGS& flags) override;
    void reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs, CDB_ATOM_OTERM** reordered_inputs,
                        MORV_ITERM_PROPERTIES* records, const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                        CDB_ATOM_NODE* source) override;

    // Inputs an arithmetic sink's ALE still has for the source, and inputs
    // its LAB has left.
    int count_free_ale_inputs(CDB_ATOM_NODE* sink, CDB_ATOM_ITERM* fanout_iterm, bool share_in_connected);
    int count_free_lab_inputs(CDB_ATOM_NODE* sink);

protected:
    bool lists_shared_adder_inputs(CDB_ATOM_NODE* node) const override;
    int merged_input_bit(CDB_ATOM_NODE* sink, int i) const override;
    bool is_enumerated_position(CDB_ATOM_NODE* sink, int position) const override;
    // Places the source's inputs on the positions of an arithmetic sink;
    // false when they do not all fit.
    bool place_arithmetic_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs, const MORV_COLLAPSE_FLAGS& flags,
                                 int source_inputs, CDB_ATOM_NODE* sink, CDB_ATOM_OTERM** reordered_inputs,
                                 MORV_ITERM_PROPERTIES* records);
    bool can_merge_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm,
                                        const MORV_COLLAPSE_INPUTS& list_of_inputs, const MORV_COLLAPSE_FLAGS& flags,
                                        int source_inputs);
};

// MRL: 6-input masks in the direct bit order, at most four merged inputs,
// never into a cell of a carry chain or in arithmetic mode.
class MORV_NODE_COLLAPSER_MRL : public MORV_NODE_COLLAPSER_6LUT
{
public:
    explicit MORV_NODE_COLLAPSER_MRL(MORV_API* api) : MORV_NODE_COLLAPSER_6LUT(api) {}

    bool is_collapsible_source(CDB_ATOM_NODE* source) override;
    bool is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool is_sink_in_arithmetic_mode(CDB_ATOM_NODE* sink) override;
    void reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs, CDB_ATOM_OTERM** reordered_inputs,
                        MORV_ITERM_PROPERTIES* records, const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                        CDB_ATOM_NODE* source) override;
};

// UVO: a 4-input LUT and a register in one cell; the LUT reads its
// carry-in at position C while node bit 28 is set.
class MORV_NODE_COLLAPSER_UVO : public MORV_NODE_COLLAPSER_4LUT
{
public:
    explicit MORV_NODE_COLLAPSER_UVO(MORV_API* api) : MORV_NODE_COLLAPSER_4LUT(api) {}

    bool is_collapsible_source(CDB_ATOM_NODE* source) override;
    bool is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_normal_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    bool can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm) override;
    // UVO adders need no VCC tie on input D.
    bool get_lut_inputs(CDB_ATOM_NODE* node, MORV_COLLAPSE_INPUTS* list_of_inputs, CDB_ATOM_OTERM* skip,
                        MORV_COLLAPSE_FLAGS* flags) override
    {
        return MORV_NODE_COLLAPSER::get_lut_inputs(node, list_of_inputs, skip, flags);
    }

protected:
    bool deletes_unused_position(CDB_ATOM_NODE* sink, int port) const override;
    int lutmask_flag(CDB_ATOM_NODE* sink) const override;
    int carry_lutmask_flag(CDB_ATOM_NODE* sink) const override { return lutmask_flag(sink); }
    void prepare_sink(CDB_ATOM_NODE* /*sink*/) override {}
    bool lut_reads_carry(CDB_ATOM_NODE* sink) const override;
    bool reads_carry_at_c(CDB_ATOM_NODE* sink) const override { return lut_reads_carry(sink); }
};
