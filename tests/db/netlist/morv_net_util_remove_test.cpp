// Removal of unused LUT inputs: whatever the branch, the mode and the
// outputs in use, every used output computes what it computed before (host
// evaluation, each input driven by a net of its own), and each removal is
// announced, logged and clears the term's boundary-port binding.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cut/cut_atom_util.h"

#include "net_util_fixture.h"

namespace morv_net_util_remove_test {

namespace {

// Positions of the host evaluator's input array.
constexpr int kPositions = CDB_ATOM_NODE::EVALUATE_INPUT_COUNT;
constexpr unsigned kRows = 1u << kPositions;

// Each LUT position is driven by its own net; net k carries bit k of the row.
struct DRIVEN_CELL
{
    CDB_ATOM_NODE* node = nullptr;
    const CDB_ATOM_OTERM* net[kPositions] = {};
};

// What a position reads for a row: a driven input its net (through its
// inversion and polarity), a tied input its logical constant, anything else 0.
unsigned seen_value(const DRIVEN_CELL& cell, int position, unsigned row)
{
    const CDB_ATOM_ITERM* iterm = cell.node->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[position]);
    if (iterm == nullptr || !iterm->is_connected()) return 0;
    if (!iterm->is_driven()) return iterm->is_logical_vcc() ? 1u : 0u;
    for (int k = 0; k < kPositions; ++k)
        if (cell.net[k] == iterm->get_source()) return ((row >> k) & 1u) ^ (iterm->reads_complemented() ? 1u : 0u);
    ADD_FAILURE() << "input " << position << " reads a net the test did not make";
    return 0;
}

// The output's value on every row of the nets.
std::vector<unsigned> truth_table(const DRIVEN_CELL& cell, int output)
{
    std::vector<unsigned> table(kRows);
    unsigned in[kPositions];
    for (unsigned row = 0; row < kRows; ++row) {
        for (int k = 0; k < kPositions; ++k) in[k] = seen_value(cell, k, row);
        table[row] = cell.node->evaluate_output(output, in);
    }
    return table;
}

// Drives the positions and loads the outputs; inputs invert at random.
DRIVEN_CELL wire(NET_UTIL_NETLIST& n, CDB_ATOM_NODE* node, const std::vector<int>& positions,
                 const std::vector<int>& used_outputs, std::mt19937_64& random)
{
    DRIVEN_CELL cell;
    cell.node = node;
    for (int k : positions) {
        CDB_ATOM_ITERM* iterm = n.drive(node, CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]);
        cell.net[k] = iterm->get_source();
        if (k <= 5 && random() % 4 == 0) iterm->set_invert();
    }
    for (int out : used_outputs) n.load(node, out);
    return cell;
}

// Row k (of `rows`) with input k set copies the row without it: the table
// no longer depends on that input. offset selects a 16-bit half.
uint64_t ignore_input(uint64_t mask, int input, int rows, int offset = 0)
{
    for (int r = 0; r < rows; ++r) {
        if ((r & (1 << input)) == 0) continue;
        const uint64_t from = (mask >> (offset + (r & ~(1 << input)))) & 1u;
        mask = (mask & ~(uint64_t(1) << (offset + r))) | (from << (offset + r));
    }
    return mask;
}

// A random 6-input mask ignoring a random set of inputs, whose adder halves
// ignore some more.
uint64_t sparse_six_input_mask(std::mt19937_64& random)
{
    uint64_t mask = random();
    for (int input = 0; input < 6; ++input)
        if (random() % 2 == 0) mask = ignore_input(mask, input, 64);
    for (int position = 0; position < 4; ++position)
        if (random() % 2 == 0) mask = ignore_input(ignore_input(mask, position, 16, 0), position, 16, 32);
    return mask;
}

uint64_t sparse_four_input_mask(std::mt19937_64& random, int rows)
{
    uint64_t mask = random() & ((uint64_t(1) << rows) - 1);
    for (int input = 0; (1 << input) < rows; ++input)
        if (random() % 2 == 0) mask = ignore_input(mask, input, rows);
    return mask;
}

// Removes the unused inputs and checks every listed output kept its table.
int expect_function_kept(MORV_NET_UTIL* util, const DRIVEN_CELL& cell, const std::vector<int>& checked,
                         const std::string& what)
{
    std::vector<std::vector<unsigned>> before;
    for (int out : checked) before.push_back(truth_table(cell, out));
    const int removed = util->remove_unused_lut_inputs(cell.node);
    for (size_t i = 0; i < checked.size(); ++i)
        EXPECT_EQ(truth_table(cell, checked[i]), before[i]) << what << ", output " << checked[i];
    return removed;
}

class NetUtilRemoveTest : public MORV_CLEAN_STATE_TEST
{
protected:
    std::mt19937_64 m_random{20261101};
};

TEST_F(NetUtilRemoveTest, SixInputCellsKeepEveryUsedOutputInEveryModeAndUse)
{
    const int outputs[] = {DB_COMB_OUT, DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT};
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        int removed = 0;
        for (int trial = 0; trial < 96; ++trial) {
            const unsigned use = 1 + trial % 15;  // every combination of the four outputs
            std::vector<int> used;
            for (int i = 0; i < 4; ++i)
                if ((use >> i) & 1u) used.push_back(outputs[i]);
            std::vector<int> positions = {0, 1, 2, 3, 4, 5, 7};
            if (trial % 2 == 1) positions.push_back(8);    // share-in
            if (trial % 16 == 15) positions.push_back(6);  // extended mode
            CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", trial));
            node->set_lutmask(CDB_LUTMASK(6, sparse_six_input_mask(m_random)));
            const DRIVEN_CELL cell = wire(n, node, positions, used, m_random);
            removed +=
                expect_function_kept(n.util(), cell, used, numbered("family ", family) + numbered(" trial ", trial));
        }
        EXPECT_GT(removed, 50) << "family " << family;  // the masks leave inputs to remove
    }
}

TEST_F(NetUtilRemoveTest, FourInputCellsKeepTheirFunctionsAndTheRegisterData)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA}) {
        NET_UTIL_NETLIST n(family);
        int removed = 0;
        for (int trial = 0; trial < 48; ++trial) {
            CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", trial));
            node->set_lutmask(CDB_LUTMASK(4, sparse_four_input_mask(m_random, 16)));
            node->set_carry_lutmask(CDB_LUTMASK(4, sparse_four_input_mask(m_random, 8)));
            if (trial % 3 == 0) node->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);  // the carry-in is the third input
            node->add_output_term(DB_COMB_OUT);                                 // the branch reads its mask
            std::vector<int> used;
            if (trial % 4 != 1) used.push_back(DB_COMB_OUT);
            if (trial % 4 != 0) used.push_back(DB_CARRY_OUT);
            const DRIVEN_CELL cell = wire(n, node, {0, 1, 2, 3, 7}, used, m_random);
            CDB_ATOM_ITERM* data_c = node->get_input_term_by_type(DB_DATA_C);
            if (trial % 5 == 0) data_c->set_usage_as(DB_SYNCH_DATA);
            removed += expect_function_kept(n.util(), cell, used, numbered("trial ", trial));
            if (trial % 5 == 0) {
                EXPECT_TRUE(data_c->is_connected()) << trial;  // the register still reads it
                EXPECT_TRUE(data_c->is_used_as(DB_SYNCH_DATA)) << trial;
            }
        }
        EXPECT_GT(removed, 20) << "family " << family;
    }
}

TEST_F(NetUtilRemoveTest, UvoCellsKeepTheirFunctionsInNormalArithmeticAndCascadeModes)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    int removed = 0;
    for (int trial = 0; trial < 64; ++trial) {
        CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", trial));
        node->set_lutmask(CDB_LUTMASK(4, sparse_four_input_mask(m_random, 16)));
        node->set_carry_lutmask(CDB_LUTMASK(4, sparse_four_input_mask(m_random, 8)));
        if (trial % 2 == 0) node->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);  // the carry-in is the third input
        const bool cascade = trial % 4 == 3;
        std::vector<int> used;
        for (int out : {DB_COMB_OUT, DB_REG_OUT, DB_CARRY_OUT})
            if (m_random() % 2 == 0) used.push_back(out);
        if (used.empty()) used.push_back(DB_COMB_OUT);
        const DRIVEN_CELL cell = wire(n, node, {0, 1, 2, 3, 7}, used, m_random);
        if (trial % 6 == 0) node->get_input_term_by_type(DB_DATA_C)->set_usage_as(DB_SYNCH_DATA);
        // In a register cascade the register takes its data from the cascade, not the LUT.
        std::vector<int> checked = used;
        if (cascade) {
            n.drive(node, DB_REG_CASCADE_IN);
            std::erase(checked, DB_REG_OUT);
        }
        removed += expect_function_kept(n.util(), cell, checked, numbered("trial ", trial));
    }
    EXPECT_GT(removed, 30);
}

// The measured case: comb-out and sum of one BRK cell, whose mask
// is written as a comb mask and then as adder halves.
TEST_F(NetUtilRemoveTest, ArithmeticCellWithUsedCombOutKeepsWhatTheCombOutReads)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_RZK, CDB_FAMILY_KESTLIN}) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, "adder");
        MORV_CDB_INTERFACE* cdb = n.api()->get_fsyn_cdb_interface();
        cdb->set_lutmask(node, CDB_LUTMASK(6, 0xAAAA0000AAAA0000ull), 0);
        cdb->set_sum_lutmask(node, CDB_LUTMASK(5, 0x0000AAAAull), 0);
        const DRIVEN_CELL cell = wire(n, node, {0, 1, 2, 3, 4, 5}, {DB_COMB_OUT, DB_SUM_OUT}, m_random);
        for (int k = 0; k <= 5; ++k) node->get_input_term_by_type(DB_DATA_A + k)->clear_invert();
        // The sum reads a (carry-in 0): the low half is "not a" in this order and the upper half is 0.
        const std::vector<unsigned> sum = truth_table(cell, DB_SUM_OUT);
        for (unsigned row = 0; row < 64; ++row) ASSERT_EQ(sum[row], row & 1u) << family << " row " << row;
        expect_function_kept(n.util(), cell, {DB_COMB_OUT, DB_SUM_OUT}, numbered("family ", family));
        EXPECT_TRUE(n.util()->is_connected(node, DB_DATA_A)) << family;
    }
}

// A latch's data input tied to a constant is still the latch's data input.
TEST_F(NetUtilRemoveTest, ALatchKeepsAConstantDataInput)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_RZK);
    CDB_ATOM_NODE* latch = n.atom(CDB_KIND_LCELL_COMB, "latch");
    latch->set_lutmask(CDB_LUTMASK(6, 0xF0F0F0F0F0F0F0F0ull));  // reads c only
    CDB_ATOM_ITERM* data = latch->add_input_term(DB_DATA_A);
    data->set_vcc();
    n.drive(latch, DB_DATA_B);
    n.drive(latch, DB_DATA_C);
    n.load(latch, DB_COMB_OUT);
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_DATA_B, DB_DATA_C, DB_COMB_OUT, 1);
    cut_set_atom_latch_info(latch, info);
    EXPECT_EQ(n.util()->remove_unused_lut_inputs(latch), 1);  // b only
    EXPECT_TRUE(data->is_vcc());
    EXPECT_FALSE(n.util()->is_connected(latch, DB_DATA_B));
}

// ------------------------------------------------------------------ logged removals

TEST_F(NetUtilRemoveTest, SixInputRemovalLogsTheDisconnectionAndTheClearedInversion)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_LOGGING);
    CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, "cell");
    node->set_lutmask(CDB_LUTMASK(6, 0xFFFFFFFF00000000ull));  // reads f only
    for (int port = DB_DATA_A; port <= DB_DATA_B; ++port) n.drive(node, port);
    n.drive(node, DB_DATA_F);
    n.load(node, DB_COMB_OUT);
    CDB_ATOM_ITERM* a = node->get_input_term_by_type(DB_DATA_A);
    CDB_ATOM_ITERM* b = node->get_input_term_by_type(DB_DATA_B);
    a->set_invert();
    n.take_log_entries();
    EXPECT_EQ(n.util()->remove_unused_lut_inputs(node), 2);
    (void)b;
    EXPECT_EQ(n.take_log_entries(),
              (std::vector<std::string>{log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", node,
                                                 slot_list(11, {{0, "DISCONNECT"}, {1, "DISCONNECT"}})),
                                        log_line("CLEAR_INVERT", node, "11 0")}));
    // An arithmetic cell's removal is logged the same way.
    CDB_ATOM_NODE* adder = n.atom(CDB_KIND_LCELL_COMB, "adder");
    adder->set_sum_lutmask(CDB_LUTMASK(5, 0xFFFF5555ull));  // sum reads a only
    n.drive(adder, DB_DATA_C)->set_invert();
    n.drive(adder, DB_DATA_A);
    n.load(adder, DB_SUM_OUT);
    n.take_log_entries();
    EXPECT_EQ(n.util()->remove_unused_lut_inputs(adder), 1);
    EXPECT_EQ(n.take_log_entries(), (std::vector<std::string>{log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", adder,
                                                                       slot_list(11, {{2, "DISCONNECT"}})),
                                                              log_line("CLEAR_INVERT", adder, "13 0")}));
}

// No 4-input family keeps a change log: the removal is checked on the
// netlist, and a log forced on such a family refuses the first connection
// record, since its cells have no connection form.
TEST_F(NetUtilRemoveTest, FourInputRemovalLogsTheRemovedTermsAndTheClearedUsage)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_UVO}) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, "cell");
        node->set_lutmask(CDB_LUTMASK(4, 0xFF00));  // reads d only
        for (int port = DB_DATA_B; port <= DB_DATA_D; ++port) n.drive(node, port);
        n.load(node, DB_COMB_OUT);
        CDB_ATOM_ITERM* c = node->get_input_term_by_type(DB_DATA_C);
        c->set_usage_as(DB_SYNCH_DATA);
        EXPECT_EQ(n.util()->remove_unused_lut_inputs(node), 2) << family;
        EXPECT_EQ(node->get_input_term_by_type(DB_DATA_B), nullptr) << family;
        EXPECT_TRUE(c->is_connected()) << family;
        EXPECT_FALSE(c->is_used_as(DB_DATA_C)) << family;
        EXPECT_TRUE(n.api()->is_atom_modified_for_icp(static_cast<int>(node->get_id()))) << family;
        // A DB_DATA_C that serves only the LUT goes with its term.
        CDB_ATOM_NODE* plain = n.atom(CDB_KIND_LCELL_COMB, "plain");
        plain->set_lutmask(CDB_LUTMASK(4, 0xFF00));
        CDB_ATOM_OTERM* source = n.new_source();
        n.drive(plain, DB_DATA_C, source);
        n.load(plain, DB_COMB_OUT);
        EXPECT_EQ(n.util()->remove_unused_lut_inputs(plain), 1) << family;
        EXPECT_EQ(source->get_number_of_fanout(), 0) << family;

        // A UVO logic cell is none of the three slotted kinds: it takes the
        // list form, which every node kind has.
        if (family == CDB_FAMILY_UVO) continue;
        NET_UTIL_NETLIST logged(family, NET_UTIL_LOGGING);
        CDB_ATOM_NODE* cell = logged.atom(CDB_KIND_LCELL_COMB, "cell");
        cell->set_lutmask(CDB_LUTMASK(4, 0xFF00));
        logged.drive(cell, DB_DATA_B);
        logged.load(cell, DB_COMB_OUT);
        EXPECT_EQ(internal_error_of([&] { logged.util()->remove_unused_lut_inputs(cell); }),
                  "Unsupported node type found in log")
            << family;
    }
}

// In arithmetic mode a and b go only when neither the carry nor the comb
// mask reads them; c goes when the comb mask does not read it.
TEST_F(NetUtilRemoveTest, FourInputArithmeticCellsWeighBothMasks)
{
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO}) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, "adder");
        node->set_lutmask(CDB_LUTMASK(4, 0xFF00));      // comb reads d
        node->set_carry_lutmask(CDB_LUTMASK(4, 0xCC));  // carry reads b
        CDB_ATOM_OTERM* a_source = n.new_source();
        n.drive(node, DB_DATA_A, a_source);
        for (int port : {DB_DATA_B, DB_DATA_C, DB_DATA_D}) n.drive(node, port);
        n.load(node, DB_COMB_OUT);
        n.load(node, DB_CARRY_OUT);
        EXPECT_EQ(n.util()->remove_unused_lut_inputs(node), 2) << family;
        EXPECT_EQ(node->get_input_term_by_type(DB_DATA_A), nullptr) << family;
        EXPECT_EQ(a_source->get_number_of_fanout(), 0) << family;
        EXPECT_NE(node->get_input_term_by_type(DB_DATA_B), nullptr) << family;
        EXPECT_EQ(node->get_input_term_by_type(DB_DATA_C), nullptr) << family;
        EXPECT_NE(node->get_input_term_by_type(DB_DATA_D), nullptr) << family;
    }
}

TEST_F(NetUtilRemoveTest, RemovedFourInputTermsLoseTheirBoundaryPortBinding)
{
    for (unsigned options : {unsigned(NET_UTIL_PARTITIONS), unsigned(NET_UTIL_PARTITIONS | NET_UTIL_LOGGING)}) {
        NET_UTIL_NETLIST n(CDB_FAMILY_ZEPLA, options);
        const int port = n.bpm()->create_port("p|bus0");
        CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, "cell");
        node->set_lutmask(CDB_LUTMASK(4, 0xAAAA));  // reads a only
        n.drive(node, DB_DATA_A);
        CDB_ATOM_ITERM* b = n.drive(node, DB_DATA_B);
        n.load(node, DB_COMB_OUT);
        ASSERT_TRUE(n.bpm()->assign_port_id(b, port));
        if ((options & NET_UTIL_LOGGING) == 0) {
            EXPECT_EQ(n.util()->remove_unused_lut_inputs(node), 1);
            EXPECT_EQ(n.bpm()->get_binding_count(), 0);
            continue;
        }
        // The binding's record comes first; the disconnection is then
        // refused (a 4-input family keeps no change log).
        n.take_log_entries();
        EXPECT_EQ(internal_error_of([&] { n.util()->remove_unused_lut_inputs(node); }),
                  "Unsupported node type found in log");
        const std::vector<std::string> entries = n.take_log_entries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.front(), log_line("DISCONNECT_BOUNDARY_PORT_ID", node, "12 0"));
    }
}

}  // namespace

}  // namespace morv_net_util_remove_test
