// The stand-in legaliser's high-speed adder proposal. The adder holds two
// bits of a carry chain, so a chain cell goes into one together with the
// cell its carry feeds. Only cells that add two inputs (or constants) and
// their carry-in can be replaced without changing what the chain computes;
// for any other cell the proposal is empty and the chain stays as it is.

#include <utility>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"
#include "cut/cut_morlin_legalizer.h"
#include "cut/cut_morlin_terms.h"
#include "msg/msg.h"

namespace {

constexpr uint64_t HALF_BITS = 0xffff;
constexpr int HALF_ROWS = 16;
// The rows of a 16-bit half where each of its four inputs is 1.
constexpr uint64_t INPUT_ROWS[4] = {0xaaaa, 0xcccc, 0xf0f0, 0xff00};
// The inputs the low half of an arithmetic cell reads, and those its high half reads.
constexpr int LOW_HALF_PORTS[4] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
constexpr int HIGH_HALF_PORTS[4] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_F};

// One operand of the sum a cell computes: a data input, a constant, or
// (neither) a function the adder cannot take.
struct ADDEND
{
    int port = -1;
    int constant = -1;
    bool known() const { return port >= 0 || constant >= 0; }
};

uint64_t in_row_order(uint64_t half, bool reversed)
{
    if (!reversed) return half;
    uint64_t rows = 0;
    for (int k = 0; k < HALF_ROWS; ++k)
        if ((half >> (HALF_ROWS - 1 - k)) & 1u) rows |= uint64_t{1} << k;
    return rows;
}

ADDEND addend_of(uint64_t rows, const int (&ports)[4])
{
    if (rows == 0) return {-1, 0};
    if (rows == HALF_BITS) return {-1, 1};
    for (int i = 0; i < 4; ++i)
        if (rows == INPUT_ROWS[i]) return {ports[i], -1};
    return {};
}

CUT_ATOM_MODIFIED_ITERM_S tie(int port_type, bool vcc)
{
    CUT_ATOM_MODIFIED_ITERM_S entry;
    entry.port_type = port_type;
    entry.connect = true;
    entry.tie_to_vcc = vcc;
    entry.tie_to_gnd = !vcc;
    return entry;
}

// The cell's sum is low(A, B, C, D) + not high(A, B, C, F) + carry-in; the
// adder's bit is A + B + carry-in. Both operands are found, or none.
bool adder_operands(const CDB_ATOM_NODE* cell, int (&operand_ports)[2], int (&operand_constants)[2])
{
    const CDB_FAMILY_INFO* family = cdb_get_family_info(cell->get_family());
    if (!cell->is_lcell_comb() || family == nullptr || family->lut_size != 6) return false;
    const CDB_ATOM_ITERM* share_in = cell->get_input_term_by_type(DB_SHARE_IN);
    if (share_in != nullptr && share_in->is_connected()) return false;
    if (cut_morlin_output_has_fanout(cell, DB_COMB_OUT) || cut_morlin_output_has_fanout(cell, DB_SHARE_OUT))
        return false;
    const bool reversed = family->reversed_bit_order;
    const uint64_t pair = cell->get_adder_lutmask();
    const ADDEND low = addend_of(in_row_order(pair & HALF_BITS, reversed), LOW_HALF_PORTS);
    const ADDEND high = addend_of(in_row_order(~(pair >> HALF_ROWS) & HALF_BITS, reversed), HIGH_HALF_PORTS);
    if (!low.known() || !high.known()) return false;
    const ADDEND both[2] = {low, high};
    for (int i = 0; i < 2; ++i) {
        operand_ports[i] = both[i].port;
        operand_constants[i] = both[i].constant;
    }
    return true;
}

// An adder input: the term whose source it takes, or (no term) a constant.
struct ADDER_INPUT
{
    int port;
    const CDB_ATOM_ITERM* term;
    bool vcc;
};

// An operand term moves to the adder's port with its source; an inverted
// one cannot, as the adder's terms carry no inversion.
bool plan_adder_input(const CDB_ATOM_NODE* cell, int from, int constant, int to, std::vector<ADDER_INPUT>& plan)
{
    if (from < 0) {
        plan.push_back({to, nullptr, constant == 1});
        return true;
    }
    const CDB_ATOM_ITERM* term = cell->get_input_term_by_type(from);
    // An unconnected input floats low.
    if (term == nullptr || !term->is_connected()) {
        plan.push_back({to, nullptr, false});
        return true;
    }
    if (!term->is_driven()) {
        plan.push_back({to, nullptr, term->is_logical_vcc()});
        return true;
    }
    if (term->reads_complemented()) return false;
    plan.push_back({to, term, false});
    return true;
}

// The cell the low cell's carry feeds and nothing else, or null when the
// carry feeds nothing; false when it feeds anything but one carry-in.
bool find_high_adder_cell(const CDB_ATOM_NODE* low, CDB_ATOM_NODE*& high)
{
    high = nullptr;
    const CDB_ATOM_OTERM* carry = low->get_output_term_by_type(DB_CARRY_OUT);
    if (carry == nullptr || !carry->has_fanout()) return true;
    if (carry->get_number_of_fanout() != 1) return false;
    CDB_ATOM_ITERM* sink = carry->get_first_fanout();
    if (sink == nullptr || !sink->is_used_as(DB_CARRY_IN) || sink->reads_complemented()) return false;
    high = sink->get_my_node();
    return high != low;
}

}  // namespace

CUT_ATOM_MODIFIED_NODE_LIST_PTR CUT_ATOM_MORLIN_LEGALIZER::turn_into_high_speed_adder(CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    if (m_script.turn_into_high_speed_adder) return m_script.turn_into_high_speed_adder(node);
    auto declined = std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>();
    CDB_ATOM_NODE* high = nullptr;
    if (!find_high_adder_cell(node, high)) return declined;
    CUT_ATOM_MODIFIED_NODE_S adder;
    adder.id = 1;
    adder.kind = CUT_MODIFICATION_NEW_HSADDER;
    int ports[2][2] = {{-1, -1}, {-1, -1}};
    int constants[2][2] = {{0, 0}, {0, 0}};
    if (!adder_operands(node, ports[0], constants[0])) return declined;
    if (high != nullptr && !adder_operands(high, ports[1], constants[1])) return declined;
    // Without a second cell the adder's high bit adds nothing; its carry-out
    // is then no carry of the cell's, which the cell must not have had.
    const int adder_ports[2][2] = {{DB_DATA_A, DB_DATA_B}, {DB_DATA_C, DB_DATA_D}};
    const CDB_ATOM_NODE* cells[2] = {node, high};
    std::vector<ADDER_INPUT> plan;
    for (int bit = 0; bit < 2; ++bit)
        for (int i = 0; i < 2; ++i)
            if (!plan_adder_input(cells[bit] != nullptr ? cells[bit] : node, ports[bit][i], constants[bit][i],
                                  adder_ports[bit][i], plan))
                return declined;
    const CDB_ATOM_ITERM* carry_in = node->get_input_term_by_type(DB_CARRY_IN);
    if (carry_in != nullptr && carry_in->is_connected() && !plan_adder_input(node, DB_CARRY_IN, 0, DB_CHAIN_IN_0, plan))
        return declined;
    for (const ADDER_INPUT& input : plan)
        adder.modified_iterms.push_back(input.term != nullptr ? connection_like(input.port, input.term)
                                                              : tie(input.port, input.vcc));
    const std::pair<const CDB_ATOM_NODE*, std::pair<int, int>> outputs[] = {
        {node, {DB_SUM_OUT, DB_HSADDER_SUM_0}},
        {high, {DB_SUM_OUT, DB_HSADDER_SUM_1}},
        {high, {DB_CARRY_OUT, DB_CHAIN_OUT_0}},
    };
    for (const auto& [cell, ports_pair] : outputs) {
        if (cell == nullptr) continue;
        CDB_ATOM_OTERM* term = cell->get_output_term_by_type(ports_pair.first);
        if (term != nullptr) adder.modified_oterms.push_back({ports_pair.second, term});
    }
    auto list = std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>();
    list->push_back(std::move(adder));
    int id = 2;
    for (CDB_ATOM_NODE* cell : {node, high}) {
        if (cell == nullptr) continue;
        CUT_ATOM_MODIFIED_NODE_S removal;
        removal.id = id++;
        removal.kind = CUT_MODIFICATION_REMOVE_NODE;
        removal.node = cell;
        list->push_back(std::move(removal));
    }
    return list;
}
