#pragma once
// The structured-ASIC (MRL) atom legaliser of the utility library.
//
// FL cells: an atom's FL cell follows from its properties (a LUT cell, a
// flip-flop, a latch); the id the legaliser last stored for an atom travels
// with the atom (copies, saved netlists).
//
// Legality: which cells the device can build is the device's business. The
// stand-in answers with a fixed, documented rule that rejects some LUT masks
// of five and six inputs and some register and latch packings, and proposes
// function-preserving fixes as change records (below):
// - A LUT mask is legal as placed when it depends on at most four inputs, or
//   when its half with input F low has at least as many ones as its half
//   with F high. A mask is legal by rotation when one of the six cyclic
//   rotations of its inputs (input k moving to position k - r) is legal as
//   placed. Every mask of at most five inputs is legal by rotation; a mask
//   of six inputs that grows with every input (an AND, an OR) is not.
// - A plain combinational cell is legal when its mask is legal as placed.
//   Cells in a carry chain, in arithmetic or extended mode are always legal;
//   a latch cell is legal when its latch description matches its mask and
//   its data inputs (see is_latch_description_current).
// - A register is legal when its stored FL id is its computed one.
// - legalize_node rotates an illegal plain cell's inputs (one ITERMS_AND_
//   LUTMASK record, constants and unconnected inputs folded into the mask),
//   rewrites a stale latch description (one LUTMASK record), answers a
//   DO_NOTHING record for a cell it cannot fix and no record for a legal one.
// - decompose_node splits a cell on its highest input: two new cells compute
//   the two cofactors and the cell becomes a three-input multiplexer. A
//   constant cofactor gets no cell: the multiplexer's mask holds it and the
//   multiplexer reads two inputs.
// Scripted mode: a test installs functions that answer in place of the rule.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class BPM_BOUNDARY_PORT_MANAGER;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class DEV_FL_INFO;

// Kinds of change records.
enum CUT_ATOM_MODIFICATION_KIND : int
{
    CUT_MODIFICATION_DO_NOTHING = 0,          // refresh the node's FL id
    CUT_MODIFICATION_NEW_NODE = 1,            // a new combinational cell
    CUT_MODIFICATION_REMOVE_NODE = 2,         // delete the node
    CUT_MODIFICATION_ITERMS = 3,              // rewire input terms
    CUT_MODIFICATION_LUTMASK = 4,             // rewrite the LUT mask (and latch description)
    CUT_MODIFICATION_NEW_HSADDER = 5,         // a new high-speed adder with input and output terms
    CUT_MODIFICATION_ITERMS_AND_LUTMASK = 6,  // input terms, then the LUT mask
};

// What one input term of the record's node is to become.
struct CUT_ATOM_MODIFIED_ITERM_S
{
    int port_type = 0;
    // Driven by the cell made for the record of this id, when source_oterm is null.
    int source_id = -1;
    CDB_ATOM_OTERM* source_oterm = nullptr;
    bool connect = false;
    bool tie_to_gnd = false;
    bool tie_to_vcc = false;
    int global_type = 0;  // 5 bits
    int unordered_index = 0;
    bool connected_to_delay_chain = false;
    bool use_delay_chain = false;
    bool user_delay_chain = false;
    int delay_chain_index = -1;
    int boundary_port_id = -1;
};

// An output of the record's (new) node that takes over an existing term.
struct CUT_ATOM_MODIFIED_OTERM_S
{
    int port_type = 0;
    CDB_ATOM_OTERM* oterm = nullptr;
};

// One change record. The caller may write node (a new cell becomes the
// record's node).
struct CUT_ATOM_MODIFIED_NODE_S
{
    int id = 0;
    int kind = CUT_MODIFICATION_DO_NOTHING;
    CDB_ATOM_NODE* node = nullptr;
    uint64_t lutmask = 0;             // 6-input mask, bit k of the row is input k
    CDB_ATOM_OTERM* oterm = nullptr;  // NEW_NODE: the output the new cell takes over
    std::vector<CUT_ATOM_MODIFIED_ITERM_S> modified_iterms;
    std::vector<CUT_ATOM_MODIFIED_OTERM_S> modified_oterms;
};

typedef std::vector<CUT_ATOM_MODIFIED_NODE_S> CUT_ATOM_MODIFIED_NODE_LIST;
typedef std::unique_ptr<CUT_ATOM_MODIFIED_NODE_LIST> CUT_ATOM_MODIFIED_NODE_LIST_PTR;

// Answers in place of the rule; an empty function leaves the rule's answer.
struct CUT_MORLIN_SCRIPT
{
    std::function<bool(const CDB_ATOM_NODE*)> is_node_legal;
    std::function<bool(uint64_t)> is_lutmask_legal_by_rotation;
    std::function<CUT_ATOM_MODIFIED_NODE_LIST_PTR(CDB_ATOM_NODE*)> legalize_node;
    std::function<CUT_ATOM_MODIFIED_NODE_LIST_PTR(CDB_ATOM_NODE*)> decompose_node;
    std::function<CUT_ATOM_MODIFIED_NODE_LIST_PTR(CDB_ATOM_NODE*)> legalize_for_high_speed_adder_transformation;
    std::function<CUT_ATOM_MODIFIED_NODE_LIST_PTR(CDB_ATOM_NODE*)> turn_into_high_speed_adder;
};

class CUT_ATOM_MORLIN_LEGALIZER
{
public:
    // The FL records of the current device; a device without them (any
    // family but MRL) names no cell.
    CUT_ATOM_MORLIN_LEGALIZER();
    explicit CUT_ATOM_MORLIN_LEGALIZER(const DEV_FL_INFO* fl_info) : m_fl_info(fl_info) {}

    // The cell the atom's properties call for: the LUT cell for a
    // combinational cell, the latch cell for a register whose latch
    // description marks a latch, the flip-flop cell for any other register;
    // DEV_ILLEGAL_FL_ID for other atoms or without FL records.
    int get_fl_id_from_atom_properties(const CDB_ATOM_NODE* node) const;
    // DEV_ILLEGAL_FL_ID when none was stored.
    int get_stored_fl_id(const CDB_ATOM_NODE* node) const;
    void set_fl_id(CDB_ATOM_NODE* node, int fl_id) const;

    // ---- legality (cut_morlin_legality.cpp)
    bool is_node_legal(const CDB_ATOM_NODE* node) const;
    bool is_lutmask_legal_by_rotation(uint64_t lutmask) const;
    // Each answers a new list, empty when there is nothing to do.
    CUT_ATOM_MODIFIED_NODE_LIST_PTR legalize_node(CDB_ATOM_NODE* node) const;
    CUT_ATOM_MODIFIED_NODE_LIST_PTR decompose_node(CDB_ATOM_NODE* node) const;
    // Before a carry-chain cell becomes a high-speed adder: a DO_NOTHING
    // record for the cell. The replacement (cut_morlin_hsadder.cpp): a
    // NEW_HSADDER record for the cell and the cell its carry feeds, taking
    // both operands of each, the carry-in, both sums and the last carry-out,
    // then the removal of both; empty for a cell that does more than add.
    CUT_ATOM_MODIFIED_NODE_LIST_PTR legalize_for_high_speed_adder_transformation(CDB_ATOM_NODE* node) const;
    CUT_ATOM_MODIFIED_NODE_LIST_PTR turn_into_high_speed_adder(CDB_ATOM_NODE* node) const;

    // Proposals carry the boundary port assigned to each moved connection.
    void set_boundary_port_manager(const BPM_BOUNDARY_PORT_MANAGER* bpm) { m_bpm = bpm; }
    void set_script(const CUT_MORLIN_SCRIPT& script) { m_script = script; }
    void clear_script() { m_script = CUT_MORLIN_SCRIPT(); }

    // The rule's pieces, for the tests and the legaliser's callers.
    static bool is_lutmask_legal_as_placed(uint64_t lutmask);
    // Input k of the result is input (k + r) mod 6 of lutmask.
    static uint64_t rotate_lutmask(uint64_t lutmask, int r);
    // The latch kind a latch cell's mask calls for: 1 or 2 by its non-constant
    // 16-bit words (0xF0CC, 0xCCF0), 0 when every word is constant, -1 when
    // a word is neither.
    static int latch_kind_of_lutmask(uint64_t lutmask);
    // A latch cell's description is what its mask and data inputs call for.
    static bool is_latch_description_current(const CDB_ATOM_NODE* node);

private:
    int find_cell(const char* name) const;
    bool rule_says_legal(const CDB_ATOM_NODE* node) const;
    CUT_ATOM_MODIFIED_NODE_LIST_PTR rotation_record(CDB_ATOM_NODE* node, uint64_t function, int r) const;
    CUT_ATOM_MODIFIED_NODE_S cofactor_cell(const CDB_ATOM_NODE* node, uint64_t function, int split_input, bool value,
                                           int id) const;
    CUT_ATOM_MODIFIED_ITERM_S connection_like(int port_type, const CDB_ATOM_ITERM* source) const;

    const DEV_FL_INFO* m_fl_info;
    const BPM_BOUNDARY_PORT_MANAGER* m_bpm = nullptr;
    CUT_MORLIN_SCRIPT m_script;
};
