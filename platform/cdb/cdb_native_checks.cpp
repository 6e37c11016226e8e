#include "cdb/cdb_native_checks.h"

#include <algorithm>
#include <initializer_list>
#include <set>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_function.h"

namespace {

const char* kind_name(int kind)
{
    switch (kind) {
    case CDB_KIND_LCELL_COMB: return "combinational cell";
    case CDB_KIND_REGISTER: return "register";
    case CDB_KIND_HSADDER: return "shared adder";
    case CDB_KIND_UVO_LCELL: return "logic cell";
    case CDB_KIND_IO: return "pin";
    case CDB_KIND_RAM: return "RAM block";
    case CDB_KIND_CLKBUF: return "clock buffer";
    case CDB_KIND_MAC_MULT: return "multiplier";
    case CDB_KIND_MAC_OUT: return "DSP output block";
    default: return "atom";
    }
}

std::string atom_text(const CDB_ATOM_NODE* node)
{
    return "atom " + std::to_string(node->get_id()) + " (a " + kind_name(node->get_kind()) + ")";
}

// The index check shared by inputs and outputs. Every query of the system
// finds a port held once by its type alone, so a term at another index
// would be read by some queries and not by others; a block's bits and
// slots end where its kind's do.
std::string check_index(const CDB_ATOM_NODE* node, const char* what, int port, int index, int indices)
{
    if (index < indices) return {};
    const std::string wrong = std::string(what) + " " + std::to_string(port) + " of " + atom_text(node) +
                              " has index " + std::to_string(index) + "; ";
    if (indices == 1) return wrong + "the ports of a " + kind_name(node->get_kind()) + " have index 0";
    return wrong + "that port of a " + kind_name(node->get_kind()) + " has indices 0 to " + std::to_string(indices - 1);
}

}  // namespace

std::string cdb_native_check_output(const CDB_ATOM_NODE* node, int usage, int index)
{
    if (index < 0 || index > 0xffff)
        return "output port index " + std::to_string(index) + " is out of range (0 to 65535)";
    const int indices = node->output_port_indices(usage);
    if (indices == 0) return atom_text(node) + " has no output of port type " + std::to_string(usage);
    std::string wrong = check_index(node, "output of port type", usage, index, indices);
    if (!wrong.empty()) return wrong;
    if (node->get_output_term_by_type(usage, index) != nullptr)
        return "second output of port type " + std::to_string(usage) + " index " + std::to_string(index) + " on " +
               atom_text(node);
    return {};
}

std::string cdb_native_check_input(const CDB_ATOM_NODE* node, const CDB_ATOM_ITERM* term)
{
    const int index = term->get_port_index();
    for (int u = 0; u < term->get_usage_count(); ++u) {
        const int port = term->get_usage(u);
        const int indices = node->input_port_indices(port);
        if (indices == 0) return atom_text(node) + " has no input of port type " + std::to_string(port);
        std::string wrong = check_index(node, "input of port type", port, index, indices);
        if (!wrong.empty()) return wrong;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if (*it != term && (*it)->is_used_as(port) && (*it)->get_port_index() == index)
                return "second input of port type " + std::to_string(port) + " index " + std::to_string(index) +
                       " on " + atom_text(node);
    }
    return {};
}

namespace {

bool any_connected(const CDB_ATOM_NODE* node, std::initializer_list<int> inputs, std::initializer_list<int> outputs)
{
    for (int port : inputs)
        if (const CDB_ATOM_ITERM* t = node->get_input_term_by_type(port); t != nullptr && t->is_connected())
            return true;
    for (int port : outputs)
        if (const CDB_ATOM_OTERM* t = node->get_output_term_by_type(port); t != nullptr && t->has_fanout()) return true;
    return false;
}

bool feeds_a_carry_in(const CDB_ATOM_NODE* node)
{
    const CDB_ATOM_OTERM* carry_out = node->get_output_term_by_type(DB_CARRY_OUT);
    for (auto it = carry_out->begin_iterm_fanout(); it != carry_out->end_iterm_fanout(); ++it)
        if ((*it)->is_used_as(DB_CARRY_IN) && !any_connected((*it)->get_my_node(), {DB_CHAIN_IN_0, DB_CHAIN_IN_1}, {}))
            return true;
    return false;
}

// The sink of a combinational cell's carry-out (share-out) that is not the
// carry-in (share-in) of a combinational cell, or null: those outputs lead
// only along the chain, to the next cell.
const CDB_ATOM_ITERM* off_chain_sink(const CDB_ATOM_NODE* node, int output, int input)
{
    const CDB_ATOM_OTERM* out = node->get_output_term_by_type(output);
    if (out == nullptr) return nullptr;
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
        if (!(*it)->is_used_as(input) || (*it)->get_my_node()->get_kind() != CDB_KIND_LCELL_COMB) return *it;
    return nullptr;
}

// The source of a combinational cell's carry-in (share-in) that is not the
// carry-out (share-out) of a combinational cell, or null: a chain is entered
// only from the cell before it.
const CDB_ATOM_OTERM* off_chain_source(const CDB_ATOM_NODE* node, int input, int output)
{
    const CDB_ATOM_ITERM* in = node->get_input_term_by_type(input);
    const CDB_ATOM_OTERM* source = in != nullptr ? in->get_source() : nullptr;
    if (source == nullptr) return nullptr;
    const bool chained = source->get_usage() == output && source->get_my_node()->get_kind() == CDB_KIND_LCELL_COMB;
    return chained ? nullptr : source;
}

// What a DSP output block reads must come from its multipliers, at least one
// and at most the four a block holds: the retiming of the block's slices
// counts on that.
std::string check_mac_out_sources(const CDB_ATOM_NODE* node)
{
    std::set<uint32_t> multipliers;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* term = *it;
        const bool data = term->is_used_as(DB_DATA_A) || term->is_used_as(DB_DATA_B) || term->is_used_as(DB_DATA_C) ||
                          term->is_used_as(DB_DATA_D);
        if (term->get_source() == nullptr || !data) continue;
        const CDB_ATOM_NODE* source = term->get_source()->get_my_node();
        if (!source->is_mac_mult())
            return atom_text(node) + " reads atom " + std::to_string(source->get_id()) + ", which is no multiplier";
        multipliers.insert(source->get_id());
    }
    if (multipliers.empty() || multipliers.size() > 4)
        return atom_text(node) + " reads " + std::to_string(multipliers.size()) + " multipliers (1 to 4)";
    return {};
}

// A DSP block's result bits run from 0 to its width without a gap.
std::string check_mac_out_bits(const CDB_ATOM_NODE* node)
{
    int widest = 0;
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if ((*it)->is_used_as(DB_DATA_OUT)) widest = std::max(widest, (*it)->get_port_index() + 1);
    const int width = node->get_block_param(CDB_PARAM_MAC_OUTPUT_WIDTH, DB_DATA_OUT, widest);
    if (widest > width)
        return atom_text(node) + " has result bit " + std::to_string(widest - 1) + " beyond its width " +
               std::to_string(width);
    for (int bit = 0; bit < width; ++bit)
        if (node->get_output_term_by_type(DB_DATA_OUT, bit) == nullptr)
            return atom_text(node) + " lacks result bit " + std::to_string(bit) + " of its " + std::to_string(width);
    return {};
}

}  // namespace

std::string cdb_native_check_node(const CDB_ATOM_NODE* node)
{
    // Outside a carry chain a combinational cell computes its LUT function
    // only, and that leaves by its comb-out.
    if (node->get_kind() == CDB_KIND_LCELL_COMB && node->get_output_term_by_type(DB_COMB_OUT) == nullptr &&
        !any_connected(node, {DB_CARRY_IN, DB_SHARE_IN}, {DB_CARRY_OUT, DB_SHARE_OUT}))
        return atom_text(node) + " has no comb-out and is in no carry chain";
    // A chain link leads from a cell's carry-out (share-out) only into the
    // next cell's carry-in (share-in), and enters a cell only from there.
    if (node->get_kind() == CDB_KIND_LCELL_COMB)
        for (const auto& [output, input] :
             {std::pair{DB_CARRY_OUT, DB_CARRY_IN}, std::pair{DB_SHARE_OUT, DB_SHARE_IN}}) {
            if (const CDB_ATOM_ITERM* sink = off_chain_sink(node, output, input))
                return atom_text(node) + " drives its " + cdb_output_port_name(output) + " into atom " +
                       std::to_string(sink->get_my_node()->get_id()) + ", which does not take it as its " +
                       cdb_input_port_name(input);
            if (const CDB_ATOM_OTERM* source = off_chain_source(node, input, output))
                return atom_text(node) + " takes its " + cdb_input_port_name(input) + " from atom " +
                       std::to_string(source->get_my_node()->get_id()) + ", which does not give it as its " +
                       cdb_output_port_name(output);
        }
    if (node->is_mac_mult() || node->is_mac_out())
        if (std::string wrong = check_mac_out_bits(node); !wrong.empty()) return wrong;
    if (node->is_mac_out())
        if (std::string wrong = check_mac_out_sources(node); !wrong.empty()) return wrong;
    // The block function is what the system simulates and writes of a block.
    if (node->is_ram() || node->is_mac_mult() || node->is_mac_out())
        if (std::string wrong = cut_block_unmodelled(node); !wrong.empty()) return wrong;
    // A pin's pad is the signal leaving the device: nothing inside reads it.
    if (const CDB_ATOM_OTERM* pad = node->is_pin() ? node->get_output_term_by_type(DB_PAD_OUT) : nullptr;
        pad != nullptr && pad->has_fanout())
        return atom_text(node) + " drives its pad into atom " +
               std::to_string(pad->get_first_fanout()->get_my_node()->get_id()) + "; a pad feeds nothing inside";
    // A logic cell's carry-out goes on to the next cell of its chain, which
    // takes it as its plain carry-in; it may feed other cells besides.
    if (node->get_kind() == CDB_KIND_UVO_LCELL && any_connected(node, {}, {DB_CARRY_OUT}) && !feeds_a_carry_in(node))
        return atom_text(node) + " drives its carry-out into no carry-in";
    // What a register loads through its cascade input has no function the
    // system evaluates or writes.
    if (node->get_kind() == CDB_KIND_UVO_LCELL && any_connected(node, {DB_REG_CASCADE_IN}, {}))
        return atom_text(node) + " reads its register-cascade input, whose loading the system does not model";
    // A logic cell that feeds its register back into its LUT reads the
    // register's output in place of its third data input.
    if (node->get_kind() == CDB_KIND_UVO_LCELL && node->test_bit(CDB_ATOM_BIT_QFBK_MODE)) {
        if (node->get_output_term_by_type(DB_REG_OUT) == nullptr)
            return atom_text(node) + " feeds its register back (bit 3) but has no register output";
        const CDB_ATOM_ITERM* third = node->get_input_term_by_type(DB_DATA_C);
        if (third != nullptr && third->is_connected())
            return atom_text(node) + " feeds its register back (bit 3) into its third input, which is connected";
    }
    return {};
}

std::string cdb_locked_region_text(const CDB_ATOM_ASSIGNMENTS& a)
{
    return "the locked region (" + std::to_string(a.locked_x1) + ", " + std::to_string(a.locked_y1) + ") - (" +
           std::to_string(a.locked_x2) + ", " + std::to_string(a.locked_y2) + ")";
}

std::string cdb_check_locked_corners(const CDB_ATOM_ASSIGNMENTS& a, const std::string& whose)
{
    if (a.locked_x1 >= 0 && a.locked_y1 >= 0 && a.locked_x2 >= a.locked_x1 && a.locked_y2 >= a.locked_y1) return {};
    return cdb_locked_region_text(a) + " of " + whose + ": corners must satisfy 0 <= X1 <= X2 and 0 <= Y1 <= Y2";
}

namespace {

bool is_logic_kind(const CDB_ATOM_NODE* node)
{
    const int kind = node->get_kind();
    return kind == CDB_KIND_LCELL_COMB || kind == CDB_KIND_HSADDER || kind == CDB_KIND_UVO_LCELL;
}

// Whether the sink passes its value on within its atom at once.
bool passes_on(const CDB_ATOM_ITERM* sink)
{
    const CDB_ATOM_NODE* node = sink->get_my_node();
    if (node == nullptr || !is_logic_kind(node)) return false;
    if (const CDB_ATOM_LATCH_INFO* latch = node->get_latch_info())
        if (latch->is_latch && sink->is_used_as(latch->feedback_port)) return false;
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if (!(*it)->is_registered() && node->does_iterm_reach_oterm(*it, sink)) return true;
    return false;
}

}  // namespace

const CDB_ATOM_NODE* cdb_native_find_loop(const CDB_ATOM_NETLIST& netlist, uint32_t max_id)
{
    // Depth first over the logic cells, without recursion: a chain of
    // thousands of cells is an ordinary design.
    enum : uint8_t
    {
        NEW,
        OPEN,
        DONE
    };
    std::vector<uint8_t> state(size_t(max_id) + 1, NEW);
    struct FRAME
    {
        const CDB_ATOM_NODE* node;
        CDB_ATOM_NODE::oterm_iterator out;
        const CDB_ATOM_ITERM* sink;  // the next sink of *out to follow
    };
    std::vector<FRAME> stack;
    auto open = [&](const CDB_ATOM_NODE* n) {
        state[n->get_id()] = OPEN;
        auto out = n->begin_oterm();
        stack.push_back({n, out, out != n->end_oterm() ? (*out)->get_first_fanout() : nullptr});
    };
    for (const CDB_ATOM_NODE* root : netlist) {
        if (!is_logic_kind(root) || state[root->get_id()] != NEW) continue;
        open(root);
        while (!stack.empty()) {
            FRAME& f = stack.back();
            if (f.out == f.node->end_oterm()) {
                state[f.node->get_id()] = DONE;
                stack.pop_back();
                continue;
            }
            if (f.sink == nullptr || (*f.out)->is_registered()) {
                ++f.out;
                f.sink = f.out != f.node->end_oterm() ? (*f.out)->get_first_fanout() : nullptr;
                continue;
            }
            const CDB_ATOM_ITERM* sink = f.sink;
            f.sink = sink->get_next_fanout();
            if (!passes_on(sink)) continue;
            const CDB_ATOM_NODE* next = sink->get_my_node();
            if (state[next->get_id()] == OPEN) return next;
            if (state[next->get_id()] == NEW) open(next);
        }
    }
    return nullptr;
}
