// The netlist sweeper: constant folds agree with the host's evaluation in
// every family, whatever the constant's source and the input's inversion;
// dead logic goes in one remover call while what must stay stays; and whole
// random LUT networks compute what they computed before a sweep.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_atom_util.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/netlist/morv_netlist_sweeper_family.h"
#include "log_capture.h"
#include "net_util_fixture.h"
#include "placement_fixture.h"

namespace morv_netlist_sweeper_test {

namespace {

constexpr int kPositions = CDB_ATOM_NODE::EVALUATE_INPUT_COUNT;

// Values of a combinational network: input pins take their values from a
// table, every other output is the host's evaluation of its cell.
class SIMULATOR
{
public:
    std::unordered_map<const CDB_ATOM_OTERM*, unsigned> m_pin_values;

    unsigned read(const CDB_ATOM_ITERM* iterm)
    {
        if (iterm == nullptr || !iterm->is_connected()) return 0;
        if (!iterm->is_driven()) return iterm->is_logical_vcc() ? 1u : 0u;
        return value(iterm->get_source()) ^ (iterm->reads_complemented() ? 1u : 0u);
    }
    unsigned value(const CDB_ATOM_OTERM* oterm)
    {
        auto found = m_memo.find(oterm);
        if (found != m_memo.end()) return found->second;
        const CDB_ATOM_NODE* node = oterm->get_my_node();
        unsigned result = 0;
        if (node->is_pin()) {
            auto pin = m_pin_values.find(oterm);
            EXPECT_NE(pin, m_pin_values.end()) << "a pin the test did not drive";
            result = pin == m_pin_values.end() ? 0 : pin->second;
        } else {
            unsigned in[kPositions];
            for (int k = 0; k < kPositions; ++k)
                in[k] = read(node->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]));
            result = node->evaluate_output(oterm->get_usage(), in);
        }
        m_memo[oterm] = result;
        return result;
    }
    void clear() { m_memo.clear(); }

private:
    std::unordered_map<const CDB_ATOM_OTERM*, unsigned> m_memo;
};

// One output of a cell over every row of the nets: net k carries row bit k.
std::vector<unsigned> table_of(const CDB_ATOM_OTERM* output, const std::vector<CDB_ATOM_OTERM*>& nets)
{
    std::vector<unsigned> table;
    SIMULATOR sim;
    for (unsigned row = 0; row < (1u << nets.size()); ++row) {
        sim.clear();
        for (size_t k = 0; k < nets.size(); ++k) sim.m_pin_values[nets[k]] = (row >> k) & 1u;
        table.push_back(sim.value(output));
    }
    return table;
}

// Every sweeper family and the family whose bit order is reversed.
bool reversed(int family)
{
    return morv_family_traits(family).m_mask_bits_reversed;
}

// A cell whose comb-out computes `value` whatever its inputs.
CDB_ATOM_OTERM* constant_cell(NET_UTIL_NETLIST& n, unsigned value, const std::string& name)
{
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
    const int inputs = n.util()->get_max_lut_inputs();
    cell->set_lutmask(CDB_LUTMASK(inputs, value ? CDB_LUTMASK::full_mask(inputs) : 0));
    return cell->add_output_term(DB_COMB_OUT);
}

// The cell's input of that type; a 6-input cell may already have its
// input F, made when a mask reading F was written.
CDB_ATOM_ITERM* input_of(CDB_ATOM_NODE* cell, int port_type)
{
    CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(port_type);
    return iterm != nullptr ? iterm : cell->add_input_term(port_type);
}

class SweeperTest : public MORV_CLEAN_STATE_TEST
{
protected:
    static MORV_OWNER<MORV_NETLIST_SWEEPER> sweeper_of(NET_UTIL_NETLIST& n)
    {
        return morv_make_netlist_sweeper(n.api());
    }
    std::mt19937_64 m_random{20261118};
};

// ---------------------------------------------------------------- folds

// Every family, every position, a constant from a LUT or from a tie, of
// value 0 or 1, read straight or inverted: the fold keeps the cell's
// function of its other inputs and the constant input goes.
TEST_F(SweeperTest, FoldsEqualHostEvaluationForEveryFamilySourceAndValue)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        auto sweeper = sweeper_of(n);
        const int inputs = sweeper->get_max_lut_inputs();
        int trial = 0;
        for (int position = 0; position < inputs; ++position)
            for (int from_lut = 0; from_lut < 2; ++from_lut)
                for (unsigned value = 0; value < 2; ++value)
                    for (int inverted = 0; inverted < 2; ++inverted) {
                        const std::string what = numbered("family ", family) + numbered(" position ", position) +
                                                 numbered(" lut ", from_lut) + numbered(" value ", value) +
                                                 numbered(" inverted ", inverted);
                        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", trial++));
                        cell->set_lutmask(CDB_LUTMASK(inputs, m_random()));
                        std::vector<CDB_ATOM_OTERM*> nets;
                        for (int k = 0; k < inputs; ++k)
                            if (k != position) nets.push_back(n.drive(cell, DB_DATA_A + k)->get_source());
                        CDB_ATOM_ITERM* constant_input = input_of(cell, DB_DATA_A + position);
                        constant_input->set_invert(inverted == 1);
                        // The input reads `value`: through its inversion from a LUT, or tied.
                        if (from_lut) constant_cell(n, value ^ inverted, what)->insert_fanout(constant_input);
                        else if (value) constant_input->set_logical_vcc();
                        else constant_input->set_logical_gnd();
                        CDB_ATOM_OTERM* out = n.load(cell, DB_COMB_OUT);
                        const std::vector<unsigned> before = table_of(out, nets);
                        n.env().m_events.clear();
                        EXPECT_GE(sweeper->propagate_constants_into_node(cell), 1) << what;
                        const std::string announced = "record " + std::to_string(cell->get_id()) + " none";
                        EXPECT_TRUE(std::any_of(n.env().m_events.begin(), n.env().m_events.end(),
                                                [&](const std::string& e) { return e.rfind(announced, 0) == 0; }))
                            << what;
                        EXPECT_EQ(table_of(out, nets), before) << what;
                        CDB_ATOM_ITERM* left = cell->get_input_term_by_type(DB_DATA_A + position);
                        EXPECT_TRUE(left == nullptr || !left->is_connected()) << what;
                    }
    }
}

// The classic case: a 4-input AND of inputs 0 and 1 (rows 3 and 7, 11, 15)
// with input 0 tied high becomes input 1 alone; the trace shows both masks.
TEST_F(SweeperTest, AndWithInputATiedHighBecomesInputBAndTheTraceShowsBothMasks)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA}) {
        NET_UTIL_NETLIST n(family);
        MORV_LOG_CAPTURE capture(100);  // after the flow driver, which sets the logger up
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "and");
        cell->set_lutmask(CDB_LUTMASK(4, 0x8888));
        n.drive(cell, DB_DATA_B);
        cell->add_input_term(DB_DATA_A)->set_logical_vcc();
        n.load(cell, DB_COMB_OUT);
        EXPECT_EQ(sweeper_of(n)->propagate_constants_into_node(cell), 1);
        EXPECT_EQ(cell->get_lutmask().get_value(), 0xCCCCu);
        EXPECT_EQ(cell->get_input_term_by_type(DB_DATA_A), nullptr);
        const std::string line =
            "Collapsing input 0 with constant 1 for atom " + std::to_string(cell->get_id()) + ". 8888 => CCCC";
        const std::vector<std::string> lines = capture.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << family;
    }
}

TEST_F(SweeperTest, CofactorCopiesTheHalfWhereTheInputHasTheConstant)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    auto sweeper = sweeper_of(n);
    EXPECT_EQ(sweeper->cofactor_lutmask(8, 0, 1), 12u);
    EXPECT_EQ(sweeper->cofactor_lutmask(8, 0, 0), 0u);
    EXPECT_EQ(sweeper->cofactor_lutmask(0xF0F0F0F0F0F0F0F0ull, 5, 1), 0xF0F0F0F0F0F0F0F0ull);
    EXPECT_EQ(sweeper->cofactor_lutmask(0xFFFFFFFF00000000ull, 5, 0), 0u);
    EXPECT_EQ(sweeper->cofactor_lutmask(0xFFFFFFFF00000000ull, 5, 1), ~uint64_t(0));
    EXPECT_EQ(internal_error_of([&] { sweeper->cofactor_lutmask(8, 6, 1); }),
              "(input >= 0) && (input < m_max_lut_inputs)");
    EXPECT_EQ(internal_error_of([&] { sweeper->cofactor_lutmask(8, 0, 2); }), "(constant == 1) || (constant == 0)");
}

// A LUT of mask 0 puts out 0 in every family, whatever its bit order.
TEST_F(SweeperTest, AZeroMaskDriverIsTheConstantZeroInEveryBitOrder)
{
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        auto sweeper = sweeper_of(n);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "reader");
        cell->set_lutmask(CDB_LUTMASK(6, 0));
        CDB_ATOM_ITERM* iterm = cell->add_input_term(DB_DATA_A);
        constant_cell(n, 0, "zero")->insert_fanout(iterm);
        int constant = -1;
        EXPECT_TRUE(sweeper->get_constant_driving_iterm(iterm, &constant));
        EXPECT_EQ(constant, 0) << "family " << family << (reversed(family) ? " (reversed)" : "");
        iterm->set_invert();
        EXPECT_TRUE(sweeper->get_constant_driving_iterm(iterm, &constant));
        EXPECT_EQ(constant, 1) << "family " << family;
    }
}

// Inputs the fold must leave: a bound constant, a latch's data input, the
// inputs of a don't-touch cell, cells in carry chains, and positions that
// read another signal (the carry-in, the register fed back).
TEST_F(SweeperTest, BoundConstantsLatchDataDontTouchCellsAndCarryPositionsAreNotFolded)
{
    NET_UTIL_NETLIST bound(CDB_FAMILY_BRK, NET_UTIL_PARTITIONS);
    CDB_ATOM_NODE* cell = bound.atom(CDB_KIND_LCELL_COMB, "bound");
    cell->set_lutmask(CDB_LUTMASK(6, 0x8888888888888888ull));
    bound.drive(cell, DB_DATA_B);
    CDB_ATOM_ITERM* tied = cell->add_input_term(DB_DATA_A);
    tied->set_logical_vcc();
    bound.api()->set_boundary_port_id(tied, bound.bpm()->create_port("p|x"));
    bound.load(cell, DB_COMB_OUT);
    EXPECT_EQ(sweeper_of(bound)->propagate_constants_into_node(cell), 0);
    EXPECT_TRUE(tied->is_connected());

    // A latch: the data input stays, without the internal error of a fold
    // that removes nothing.
    NET_UTIL_NETLIST latch(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* held = latch.atom(CDB_KIND_LCELL_COMB, "latch");
    held->set_lutmask(CDB_LUTMASK(6, 0xF0CCF0CCF0CCF0CCull));
    latch.drive(held, DB_DATA_B);
    latch.drive(held, DB_DATA_C);
    held->add_input_term(DB_DATA_A)->set_logical_gnd();
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_DATA_C, DB_DATA_B, DB_COMB_OUT, 1);
    held->set_latch_info(info);
    ASSERT_TRUE(latch.util()->is_latch(held));
    latch.load(held, DB_COMB_OUT);
    EXPECT_EQ(internal_error_of([&] { EXPECT_EQ(sweeper_of(latch)->propagate_constants(), 0); }),
              "<no internal error>");
    EXPECT_TRUE(held->get_input_term_by_type(DB_DATA_A)->is_connected());
    EXPECT_EQ(held->get_lutmask().get_value(), 0xF0CCF0CCF0CCF0CCull);

    // A cell the user does not let the fitter touch keeps its constant input.
    NET_UTIL_NETLIST untouchable(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* kept = untouchable.atom(CDB_KIND_LCELL_COMB, "untouchable");
    kept->set_lutmask(CDB_LUTMASK(6, 0x8888888888888888ull));
    untouchable.drive(kept, DB_DATA_B);
    kept->add_input_term(DB_DATA_A)->set_logical_vcc();
    untouchable.load(kept, DB_COMB_OUT);
    CDB_ATOM_ASSIGNMENTS dont_touch;
    dont_touch.dont_touch = true;
    kept->set_assignments(dont_touch);
    EXPECT_EQ(sweeper_of(untouchable)->propagate_constants(), 0);
    EXPECT_TRUE(kept->get_input_term_by_type(DB_DATA_A)->is_connected());

    // Cells in carry chains: every 4-input LUT and MRL cell, and a 6-input
    // cell whose share-out is read without a share-in.
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_MRL, CDB_FAMILY_BRK}) {
        NET_UTIL_NETLIST n(family);
        const int inputs = n.util()->get_max_lut_inputs();
        CDB_ATOM_NODE* chained = n.atom(CDB_KIND_LCELL_COMB, "chained");
        const uint64_t mask = inputs == 4 ? 0x8888 : 0x8888888888888888ull;
        chained->set_lutmask(CDB_LUTMASK(inputs, mask));
        n.drive(chained, DB_DATA_B);
        n.drive(chained, DB_CARRY_IN);
        chained->add_input_term(DB_DATA_A)->set_logical_vcc();
        n.load(chained, DB_COMB_OUT);
        if (family == CDB_FAMILY_BRK) n.load(chained, DB_SHARE_OUT);
        EXPECT_EQ(internal_error_of([&] { EXPECT_EQ(sweeper_of(n)->propagate_constants_into_node(chained), 0); }),
                  "<no internal error>")
            << family;
        EXPECT_EQ(chained->get_lutmask().get_value(), mask) << family;
    }

    // An adder cell whose comb-out is read too: the comb-out reads the whole
    // mask, the adder its halves.
    NET_UTIL_NETLIST both(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* adder = both.atom(CDB_KIND_LCELL_COMB, "adder");
    adder->set_lutmask(CDB_LUTMASK(6, 0x0000F0F00000F0F0ull));
    both.drive(adder, DB_DATA_B);
    both.drive(adder, DB_CARRY_IN);
    adder->add_input_term(DB_DATA_A)->set_logical_vcc();
    both.load(adder, DB_SUM_OUT);
    both.load(adder, DB_COMB_OUT);
    ASSERT_TRUE(both.util()->is_in_arithmetic_mode(adder));
    EXPECT_EQ(sweeper_of(both)->propagate_constants_into_node(adder), 0);
    EXPECT_EQ(adder->get_lutmask().get_value(), 0x0000F0F00000F0F0ull);

    // UVO: position C reads the carry-in under the LUT-mask flag, and the
    // register in QFBK mode.
    for (int bit : {CDB_ATOM_BIT_LUTMASK_FLAG, CDB_ATOM_BIT_QFBK_MODE}) {
        NET_UTIL_NETLIST uvo(CDB_FAMILY_UVO);
        CDB_ATOM_NODE* fed_back = uvo.atom(CDB_KIND_LCELL_COMB, "fed_back");
        fed_back->set_lutmask(CDB_LUTMASK(4, 0xF0F0));
        fed_back->set_bit(bit);
        fed_back->add_input_term(DB_DATA_C)->set_logical_vcc();
        uvo.load(fed_back, DB_COMB_OUT);
        EXPECT_EQ(sweeper_of(uvo)->propagate_constants_into_node(fed_back), 0) << bit;
        EXPECT_EQ(fed_back->get_lutmask().get_value(), 0xF0F0u) << bit;
    }

    NET_UTIL_NETLIST tev(CDB_FAMILY_TEV);
    CDB_ATOM_NODE* carry = tev.atom(CDB_KIND_LCELL_COMB, "carry");
    carry->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    carry->set_lutmask(CDB_LUTMASK(4, 0xF0F0));  // reads position C: the carry-in
    carry->add_input_term(DB_DATA_C)->set_logical_vcc();
    tev.load(carry, DB_COMB_OUT);
    EXPECT_EQ(sweeper_of(tev)->propagate_constants_into_node(carry), 0);
    EXPECT_EQ(carry->get_lutmask().get_value(), 0xF0F0u);
}

// A 6-input cell in arithmetic mode: a constant folds into the adder
// halves that read it, and sum and carry keep their functions; inputs the
// adder never reads are left without an internal error.
TEST_F(SweeperTest, ArithmeticFoldsKeepSumAndCarryOfTheAdderHalves)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_RZK, CDB_FAMILY_KESTLIN}) {
        NET_UTIL_NETLIST n(family);
        auto sweeper = sweeper_of(n);
        for (int trial = 0; trial < 48; ++trial) {
            const int position = trial % 6;
            const bool share_in = trial % 12 >= 6;
            const unsigned value = (trial / 12) % 2;
            const std::string what = numbered("family ", family) + numbered(" trial ", trial);
            CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, numbered("adder", trial));
            cell->set_lutmask(CDB_LUTMASK(6, m_random() & 0x0000FFFF0000FFFFull));
            std::vector<CDB_ATOM_OTERM*> nets;
            for (int k = 0; k < 6; ++k)
                if (k != position) nets.push_back(n.drive(cell, DB_DATA_A + k)->get_source());
            nets.push_back(n.drive(cell, DB_CARRY_IN)->get_source());
            if (share_in) nets.push_back(n.drive(cell, DB_SHARE_IN)->get_source());
            CDB_ATOM_ITERM* constant_input = input_of(cell, DB_DATA_A + position);
            value ? constant_input->set_logical_vcc() : constant_input->set_logical_gnd();
            CDB_ATOM_OTERM* sum = n.load(cell, DB_SUM_OUT);
            CDB_ATOM_OTERM* carry = n.load(cell, DB_CARRY_OUT);
            const std::vector<unsigned> sum_before = table_of(sum, nets);
            const std::vector<unsigned> carry_before = table_of(carry, nets);
            int removed = -1;
            EXPECT_EQ(internal_error_of([&] { removed = sweeper->propagate_constants_into_node(cell); }),
                      "<no internal error>")
                << what;
            const bool read_by_adder = position != 4 && (position != 5 || !share_in);
            EXPECT_EQ(removed > 0, read_by_adder) << what;
            EXPECT_EQ(table_of(sum, nets), sum_before) << what;
            EXPECT_EQ(table_of(carry, nets), carry_before) << what;
        }
    }
}

// ---------------------------------------------------------------- removal

// A chain of dead LUTs (listed last first, so each pass frees the next)
// and a dead register go in one remover call; pins, kept cells, don't-touch
// cells, the LUTs they read and a register that is read stay.
TEST_F(SweeperTest, DeadChainsVanishInOneRemoverCallWhileProtectedCellsStay)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        const std::string what = numbered("family ", family);
        CDB_ATOM_OTERM* pin = n.new_source();
        // The chain's head is made last: a walk in list order meets it last.
        std::vector<CDB_ATOM_NODE*> chain(6);
        for (int i = 5; i >= 0; --i) chain[i] = n.atom(CDB_KIND_LCELL_COMB, numbered("dead", i));
        for (int i = 0; i < 6; ++i) {
            chain[i]->set_lutmask(CDB_LUTMASK(n.util()->get_max_lut_inputs(), 0x2));
            CDB_ATOM_OTERM* out = chain[i]->add_output_term(DB_COMB_OUT);
            if (i == 0) pin->insert_fanout(chain[i]->add_input_term(DB_DATA_A));
            if (i + 1 < 6) out->insert_fanout(chain[i + 1]->add_input_term(DB_DATA_A));
        }
        CDB_ATOM_NODE* kept = n.atom(CDB_KIND_LCELL_COMB, "kept");
        kept->add_output_term(DB_COMB_OUT);
        CDB_ATOM_ASSIGNMENTS keep;
        keep.must_keep = true;
        kept->set_assignments(keep);
        CDB_ATOM_NODE* untouchable = n.atom(CDB_KIND_LCELL_COMB, "untouchable");
        untouchable->add_output_term(DB_COMB_OUT);
        CDB_ATOM_ASSIGNMENTS dont_touch;
        dont_touch.dont_touch = true;
        untouchable->set_assignments(dont_touch);
        CDB_ATOM_NODE* feeding = n.atom(CDB_KIND_LCELL_COMB, "feeding_kept");
        feeding->add_output_term(DB_COMB_OUT)->insert_fanout(kept->add_input_term(DB_DATA_A));
        // A register nobody reads goes; one that is read stays.
        CDB_ATOM_NODE* dead_reg = n.atom(CDB_KIND_REGISTER, "dead_reg");
        n.drive(dead_reg, DB_CLOCK);
        dead_reg->add_output_term(DB_REG_OUT);
        CDB_ATOM_NODE* read_reg = n.atom(CDB_KIND_REGISTER, "read_reg");
        n.drive(read_reg, DB_CLOCK);
        n.load(read_reg, DB_REG_OUT);

        const size_t before = n.netlist()->get_node_count();
        auto sweeper = sweeper_of(n);
        EXPECT_EQ(sweeper->remove_unused_nodes(), 7) << what;
        EXPECT_EQ(n.netlist()->get_node_count(), before - 7) << what;
        for (CDB_ATOM_NODE* stays : {kept, untouchable, feeding, read_reg, pin->get_my_node()})
            EXPECT_EQ(n.netlist()->get_node_by_id(stays->get_id()), stays) << what;
        EXPECT_FALSE(pin->has_fanout()) << what;
        EXPECT_EQ(sweeper->remove_unused_nodes(), 0) << what;
        EXPECT_TRUE(n.netlist()->verify()) << what;
    }
}

// A register whose output only its own LUT reads back (QFBK) stays, and so
// does the LUT; a UVO cell loses just the output nobody reads.
TEST_F(SweeperTest, UvoCellsLoseOnlyTheirUnusedOutputAndQfbkRegistersStay)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    auto make_cell = [&](const char* name) {
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
        cell->set_lutmask(CDB_LUTMASK(4, 0x6));
        n.drive(cell, DB_DATA_A);
        n.drive(cell, DB_DATA_B);
        cell->add_output_term(DB_COMB_OUT);
        cell->add_output_term(DB_REG_OUT);
        n.drive(cell, DB_CLOCK);
        return cell;
    };
    CDB_ATOM_NODE* comb_used = make_cell("comb_used");
    n.load(comb_used, DB_COMB_OUT);
    CDB_ATOM_NODE* reg_used = make_cell("reg_used");
    n.load(reg_used, DB_REG_OUT);
    // In a carry chain a cell stays, whatever it puts out.
    CDB_ATOM_NODE* chained = make_cell("chained");
    n.drive(chained, DB_CARRY_IN);
    CDB_ATOM_NODE* qfbk = make_cell("qfbk");
    qfbk->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    qfbk->get_output_term_by_type(DB_REG_OUT)->insert_fanout(qfbk->add_input_term(DB_DATA_C));
    // The LUT reads its register back inside the cell: no net shows it.
    CDB_ATOM_NODE* qfbk_inside = make_cell("qfbk_inside");
    qfbk_inside->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    n.load(qfbk_inside, DB_COMB_OUT);

    MORV_LOG_CAPTURE capture(2);
    EXPECT_EQ(sweeper_of(n)->remove_unused_nodes(), 2);
    EXPECT_EQ(comb_used->get_output_term_by_type(DB_REG_OUT), nullptr);
    EXPECT_EQ(comb_used->get_input_term_by_type(DB_CLOCK), nullptr) << "the register's inputs go with it";
    EXPECT_NE(comb_used->get_output_term_by_type(DB_COMB_OUT), nullptr);
    EXPECT_EQ(reg_used->get_output_term_by_type(DB_COMB_OUT), nullptr);
    EXPECT_NE(reg_used->get_output_term_by_type(DB_REG_OUT), nullptr);
    EXPECT_EQ(reg_used->get_lutmask().get_value(), 0x6u) << "the LUT still feeds the register";
    EXPECT_NE(n.netlist()->get_node_by_id(qfbk->get_id()), nullptr);
    EXPECT_NE(qfbk_inside->get_output_term_by_type(DB_REG_OUT), nullptr);
    EXPECT_NE(n.netlist()->get_node_by_id(chained->get_id()), nullptr);
    const std::vector<std::string> lines = capture.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\tnum regout removed = 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\tnum combout removed = 1"), lines.end());
    EXPECT_TRUE(n.netlist()->verify());
}

// Single-output removals that edit the cell: a register data input that is
// also the LUT's input C stays as input C; a LUT that no longer feeds its
// register (loaded synchronously from VCC) goes with its inputs, and a QFBK
// cell gives position C back to the carry-in or to input C.
TEST_F(SweeperTest, UvoSingleOutputRemovalsKeepWhatTheOtherOutputReads)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* shared = n.atom(CDB_KIND_LCELL_COMB, "shared");
    shared->set_lutmask(CDB_LUTMASK(4, 0xF0F0));  // input C
    CDB_ATOM_ITERM* data = n.drive(shared, DB_DATA_C);
    data->set_usage_as(DB_SYNCH_DATA);
    n.drive(shared, DB_CLOCK);
    n.load(shared, DB_COMB_OUT);
    shared->add_output_term(DB_REG_OUT);

    auto unread_lut = [&](const char* name, bool carry_in) {
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
        cell->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        cell->clear_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
        cell->set_lutmask(CDB_LUTMASK(4, 0x6));
        n.drive(cell, DB_DATA_A);
        n.drive(cell, DB_DATA_B);
        n.drive(cell, DB_CLOCK);
        n.drive(cell, DB_SYNCH_DATA);
        cell->add_input_term(DB_SYNCH_LOAD)->set_logical_vcc();
        if (carry_in) cell->add_input_term(DB_CARRY_IN);
        cell->set_bit(CDB_ATOM_BIT_QFBK_MODE);
        cell->add_output_term(DB_COMB_OUT);
        n.load(cell, DB_REG_OUT);
        return cell;
    };
    CDB_ATOM_NODE* plain = unread_lut("plain", false);
    CDB_ATOM_NODE* carried = unread_lut("carried", true);

    EXPECT_EQ(sweeper_of(n)->remove_unused_nodes(), 3);
    EXPECT_EQ(shared->get_output_term_by_type(DB_REG_OUT), nullptr);
    ASSERT_EQ(shared->get_input_term_by_type(DB_DATA_C), data);
    EXPECT_TRUE(data->is_connected());
    EXPECT_FALSE(data->is_used_as(DB_SYNCH_DATA));
    for (CDB_ATOM_NODE* cell : {plain, carried}) {
        EXPECT_EQ(cell->get_output_term_by_type(DB_COMB_OUT), nullptr);
        EXPECT_EQ(cell->get_lutmask().get_value(), 0u);
        EXPECT_EQ(cell->get_input_term_by_type(DB_DATA_A), nullptr) << "the LUT's inputs go with it";
        EXPECT_FALSE(cell->test_bit(CDB_ATOM_BIT_QFBK_MODE));
    }
    EXPECT_TRUE(plain->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
    EXPECT_FALSE(plain->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG));
    EXPECT_TRUE(carried->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG));
    EXPECT_TRUE(n.netlist()->verify());
}

// A host that refuses RAM removal, and nothing else, for some atoms.
class RAM_REMOVAL_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;
    bool can_modify_oterm(CDB_ATOM_OTERM* oterm, AMM_OP op, int, int, int, int) override
    {
        return op != AMM_OP_FITTER_FSYN_RAM_REMOVE || m_refused.count(oterm->get_my_node()->get_id()) == 0;
    }
    std::set<uint32_t> m_refused;
};

// A RAM goes when none of its outputs is read, unless one of them may not
// be removed as a RAM or the host must keep it; one output in use keeps it.
TEST_F(SweeperTest, RamRemovalHonoursItsOperationAndTheHostsKeep)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        MORV_TEST_HOST host(family);
        RAM_REMOVAL_ENV env(&host.cmp);
        MORV_API* api = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())->get_fsyn_api();
        auto ram = [&](const char* name, bool used) {
            CDB_ATOM_NODE* node = cdb_create_atom(family, CDB_KIND_RAM, host.names.find_or_create_path(name, 0));
            node->set_chip_db_entry(&host.chip_entry);
            host.netlist->add_node(node);
            node->add_output_term(DB_RAM_PORTA_DATAOUT);
            CDB_ATOM_OTERM* out = node->add_output_term(DB_RAM_PORTB_DATAOUT);
            if (used) {
                CDB_ATOM_NODE* sink = cdb_create_atom(family, CDB_KIND_IO, nullptr);
                host.netlist->add_node(sink);
                out->insert_fanout(sink->add_input_term(DB_DATAIN));
            }
            return node->get_id();
        };
        const uint32_t unused = ram("unused", false);
        const uint32_t used = ram("used", true);
        const uint32_t refused = ram("refused", false);
        const uint32_t kept = ram("kept", false);
        env.m_refused.insert(refused);
        CDB_ATOM_ASSIGNMENTS keep;
        keep.must_keep = true;
        host.netlist->get_node_by_id(kept)->set_assignments(keep);
        EXPECT_EQ(morv_make_netlist_sweeper(api)->remove_unused_rams(), 1) << family;
        EXPECT_EQ(host.netlist->get_node_by_id(unused), nullptr);
        for (uint32_t stays : {used, refused, kept}) EXPECT_NE(host.netlist->get_node_by_id(stays), nullptr);
    }
}

// Cells the placement has fixed in a chain, or an extended-mode 6-input
// cell, go only before placement.
TEST_F(SweeperTest, ChainedAndExtendedCellsGoOnlyBeforePlacement)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_BRK})
        for (int flow : {LATE_FSYN_FLOW, FIT_EARLY_FSYN_FLOW}) {
            NET_UTIL_NETLIST n(family);
            PLACEMENT_FLOW_FLAGS::run_only(dynamic_cast<MORV_EXPERT*>(n.env().get_fsyn_expert()), flow);
            CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
            cell->set_lutmask(CDB_LUTMASK(n.util()->get_max_lut_inputs(), 0x2));
            cell->add_output_term(DB_COMB_OUT);
            n.drive(cell, DB_DATA_A);
            n.drive(cell, family == CDB_FAMILY_TEV ? DB_CARRY_IN : DB_DATA_G);
            const bool before_placement = flow == FIT_EARLY_FSYN_FLOW;
            const uint32_t id = cell->get_id();
            EXPECT_EQ(sweeper_of(n)->remove_unused_nodes(), before_placement ? 1 : 0) << family << " " << flow;
            EXPECT_EQ(n.netlist()->get_node_by_id(id) == nullptr, before_placement) << family << " " << flow;
        }
}

// A dead cell fed by a clock buffer stays, except on MRL, whose clock
// buffers are ordinary drivers.
TEST_F(SweeperTest, DeadCellsFedByAClockBufferStayExceptOnMrl)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* clkbuf = n.atom(CDB_KIND_CLKBUF, "clkbuf");
        n.drive(clkbuf, DB_CLKBUF_IN);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "fed_by_clock");
        cell->set_lutmask(CDB_LUTMASK(n.util()->get_max_lut_inputs(), 0x2));
        cell->add_output_term(DB_COMB_OUT);
        clkbuf->add_output_term(DB_CLKBUF_OUT)->insert_fanout(cell->add_input_term(DB_DATA_A));
        const bool removable = family == CDB_FAMILY_MRL;
        const uint32_t id = cell->get_id();
        EXPECT_EQ(sweeper_of(n)->remove_unused_nodes(), removable ? 1 : 0) << family;
        EXPECT_EQ(n.netlist()->get_node_by_id(id) == nullptr, removable) << family;
    }
}

// MRL's adder cell goes when none of the outputs it carries is read.
TEST_F(SweeperTest, MrlAdderCellsGoOnlyWithEveryOutputUnused)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* idle = n.atom(CDB_KIND_HSADDER, "idle");
    idle->add_output_term(DB_HSADDER_SUM_0);
    idle->add_output_term(DB_CHAIN_OUT_0);
    CDB_ATOM_NODE* summing = n.atom(CDB_KIND_HSADDER, "summing");
    summing->add_output_term(DB_CHAIN_OUT_0);
    summing->add_output_term(DB_HSADDER_SUM_0);
    n.load(summing, DB_HSADDER_SUM_1);
    EXPECT_EQ(sweeper_of(n)->remove_unused_nodes(), 1);
    EXPECT_NE(n.netlist()->get_node_by_id(summing->get_id()), nullptr);
}

// ---------------------------------------------------------------- the sweep

// A register held cleared, and a UVO register loading only zeros, are
// constants their readers fold.
TEST_F(SweeperTest, UvoRegistersThatCanOnlyHoldZeroAreConstants)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    auto sweeper = sweeper_of(n);
    auto reg = [&](const char* name, uint64_t mask) {
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
        cell->set_lutmask(CDB_LUTMASK(4, mask));
        n.drive(cell, DB_DATA_A);
        n.drive(cell, DB_CLOCK);
        cell->add_output_term(DB_REG_OUT);
        return cell;
    };
    int readers = 0;
    auto reads = [&](CDB_ATOM_NODE* cell) {
        CDB_ATOM_NODE* reader = n.atom(CDB_KIND_LCELL_COMB, numbered("reader", readers++));
        CDB_ATOM_ITERM* iterm = reader->add_input_term(DB_DATA_A);
        cell->get_output_term_by_type(DB_REG_OUT)->insert_fanout(iterm);
        int constant = -1;
        return sweeper->get_constant_driving_iterm(iterm, &constant) ? constant : -1;
    };
    EXPECT_EQ(reads(reg("zero_lut", 0)), 0);
    EXPECT_EQ(reads(reg("passes_a", 0xAAAA)), -1);
    CDB_ATOM_NODE* cleared = reg("cleared", 0xAAAA);
    cleared->add_input_term(DB_CLEAR)->set_logical_vcc();  // a VCC clear never acts
    EXPECT_EQ(reads(cleared), -1);
    cleared->get_input_term_by_type(DB_CLEAR)->set_logical_gnd();
    EXPECT_EQ(reads(cleared), 0);
    CDB_ATOM_NODE* sync_cleared = reg("sync_cleared", 0xAAAA);
    sync_cleared->add_input_term(DB_SYNCH_CLEAR)->set_logical_vcc();
    EXPECT_EQ(reads(sync_cleared), 0);
    // An asynchronous load of a 1 beats the synchronous clear.
    n.drive(sync_cleared, DB_ASYNCH_LOAD);
    sync_cleared->add_input_term(DB_ASYNCH_DATA)->set_logical_vcc();
    EXPECT_EQ(reads(sync_cleared), -1);
    CDB_ATOM_NODE* loads_zero = reg("loads_zero", 0xAAAA);
    loads_zero->add_input_term(DB_SYNCH_LOAD)->set_logical_vcc();
    EXPECT_EQ(reads(loads_zero), 0);
    n.drive(loads_zero, DB_SYNCH_DATA);
    EXPECT_EQ(reads(loads_zero), -1);
    // A synchronous load that may switch: both data must be 0.
    CDB_ATOM_NODE* either = reg("either", 0);
    n.drive(either, DB_SYNCH_LOAD);
    n.drive(either, DB_SYNCH_DATA);
    EXPECT_EQ(reads(either), -1);
    // The synchronous load tied low: only the zero LUT is ever loaded.
    CDB_ATOM_NODE* lut_loads = reg("lut_loads", 0);
    lut_loads->add_input_term(DB_SYNCH_LOAD)->set_logical_gnd();
    n.drive(lut_loads, DB_SYNCH_DATA);
    EXPECT_EQ(reads(lut_loads), 0);

    // A carry-out is no register output, whatever the cell's mask.
    CDB_ATOM_NODE* adder = n.atom(CDB_KIND_LCELL_COMB, "adder");
    adder->set_lutmask(CDB_LUTMASK(4, 0));
    CDB_ATOM_NODE* carry_reader = n.atom(CDB_KIND_LCELL_COMB, "carry_reader");
    CDB_ATOM_ITERM* carry = carry_reader->add_input_term(DB_DATA_A);
    adder->add_output_term(DB_CARRY_OUT)->insert_fanout(carry);
    int constant = -1;
    EXPECT_FALSE(sweeper->get_constant_driving_iterm(carry, &constant));
}

// A UVO RAM whose mode allows it and whose data inputs are all 0 puts out
// 0; a data input that carries a signal, or the mode, makes it no constant.
TEST_F(SweeperTest, AUvoRamThatCanOnlyPutOutZeroIsAConstant)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    auto sweeper = sweeper_of(n);
    CDB_ATOM_NODE* ram = n.atom(CDB_KIND_RAM, "ram");
    CDB_ATOM_OTERM* out = ram->add_output_term(DB_RAM_PORTA_DATAOUT);
    ram->add_input_term(DB_RAM_PORTA_DATAIN)->set_logical_gnd();
    CDB_ATOM_ITERM* second = ram->add_input_term(DB_RAM_DATAIN_2);
    constant_cell(n, 0, "zero")->insert_fanout(second);
    CDB_ATOM_NODE* reader = n.atom(CDB_KIND_LCELL_COMB, "reader");
    CDB_ATOM_ITERM* iterm = reader->add_input_term(DB_DATA_A);
    out->insert_fanout(iterm);
    iterm->set_invert();
    int constant = -1;
    EXPECT_TRUE(sweeper->get_constant_driving_iterm(iterm, &constant));
    EXPECT_EQ(constant, 1) << "0 read through the inversion";

    n.drive(ram, DB_RAM_DATAIN_2, n.new_source());
    EXPECT_FALSE(sweeper->get_constant_driving_iterm(iterm, &constant));
    constant_cell(n, 0, "zero_again")->insert_fanout(ram->get_input_term_by_type(DB_RAM_DATAIN_2));
    auto* uvo_ram = dynamic_cast<CDB_ATOM_RAM*>(ram);
    ASSERT_NE(uvo_ram, nullptr);
    uvo_ram->set_ram_mode_flags(1, CDB_RAM_FLAG_SET{2});
    EXPECT_FALSE(sweeper->get_constant_driving_iterm(iterm, &constant));
}

// Random networks of LUTs over four pins, with constants from LUTs and
// ties, inverted inputs and dead cells: the sweep keeps every output pin's
// function, leaves no LUT reading a constant and no LUT nobody reads.
TEST_F(SweeperTest, RandomLutNetworksComputeTheSameBeforeAndAfterASweep)
{
    for (int family : kNetUtilFamilies) {
        for (int network = 0; network < 6; ++network) {
            const std::string what = numbered("family ", family) + numbered(" network ", network);
            NET_UTIL_NETLIST n(family);
            const int inputs = n.util()->get_max_lut_inputs();
            std::vector<CDB_ATOM_OTERM*> pins, signals;
            for (int i = 0; i < 4; ++i) pins.push_back(n.new_source());
            signals = pins;
            signals.push_back(constant_cell(n, 0, "gnd_lut"));
            signals.push_back(constant_cell(n, 1, "vcc_lut"));
            std::vector<CDB_ATOM_NODE*> cells;
            for (int c = 0; c < 24; ++c) {
                CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", c));
                cell->set_lutmask(CDB_LUTMASK(inputs, m_random()));
                const int used = 1 + static_cast<int>(m_random() % inputs);
                for (int k = 0; k < used; ++k) {
                    CDB_ATOM_ITERM* iterm = input_of(cell, DB_DATA_A + k);
                    if (m_random() % 8 == 0) {
                        m_random() % 2 ? iterm->set_logical_vcc() : iterm->set_logical_gnd();
                        continue;
                    }
                    signals[m_random() % signals.size()]->insert_fanout(iterm);
                    if (m_random() % 4 == 0) iterm->set_invert();
                }
                signals.push_back(cell->add_output_term(DB_COMB_OUT));
                cells.push_back(cell);
            }
            std::vector<CDB_ATOM_OTERM*> outputs;
            for (int o = 0; o < 4; ++o) {
                CDB_ATOM_OTERM* driver = signals[signals.size() - 1 - static_cast<size_t>(m_random() % 12)];
                CDB_ATOM_NODE* sink = n.atom(CDB_KIND_IO, numbered("out", o));
                driver->insert_fanout(sink->add_input_term(DB_DATAIN));
                outputs.push_back(driver);
            }
            auto output_tables = [&] {
                std::vector<std::vector<unsigned>> tables;
                for (CDB_ATOM_NODE* node : *n.netlist())
                    if (node->is_pin() && node->get_input_term_by_type(DB_DATAIN) != nullptr) {
                        std::vector<unsigned> table;
                        SIMULATOR sim;
                        for (unsigned row = 0; row < 16; ++row) {
                            sim.clear();
                            for (int k = 0; k < 4; ++k) sim.m_pin_values[pins[k]] = (row >> k) & 1u;
                            table.push_back(sim.read(node->get_input_term_by_type(DB_DATAIN)));
                        }
                        tables.push_back(table);
                    }
                return tables;
            };
            const auto before = output_tables();
            auto sweeper = sweeper_of(n);
            // MRL's legaliser runs after the pass loop and may leave what the
            // next sweep cleans (a driver its fixes stopped reading): MRL
            // sweeps until a sweep changes nothing.
            int sweeps = 1;
            for (int changed = sweeper->sweep(); family == CDB_FAMILY_MRL && changed > 0 && sweeps < 8; ++sweeps)
                changed = sweeper->sweep();
            EXPECT_LT(sweeps, 8) << what;
            EXPECT_EQ(output_tables(), before) << what;
            EXPECT_TRUE(n.netlist()->verify()) << what;
            for (CDB_ATOM_NODE* node : *n.netlist()) {
                if (node->is_pin()) continue;
                bool read = false;
                for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot) read = read || (*ot)->has_fanout();
                EXPECT_TRUE(read) << what << ": atom " << node->get_id() << " is left unread";
                for (int k = 0; k < inputs; ++k) {
                    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
                    int constant = -1;
                    if (iterm == nullptr || !iterm->is_connected()) continue;
                    EXPECT_FALSE(sweeper->get_constant_driving_iterm(iterm, &constant))
                        << what << ": atom " << node->get_id() << " input " << k;
                }
            }
        }
    }
}

// A tie makes one LUT constant, which makes its reader constant: both fold
// in one propagator call, the first LUT then goes, and the sweep counts
// every fold and removal.
TEST_F(SweeperTest, ConstantsFoldThroughChainsAndTheSweepCountsEveryOperation)
{
    // The collapser would merge the first LUT into its reader before it folds.
    cfg_set_value("fsyn_disable_node_collapser", "on");
    for (int family : kNetUtilFamilies)
        for (bool whole_sweep : {false, true}) {
            NET_UTIL_NETLIST n(family);
            const int inputs = n.util()->get_max_lut_inputs();
            // Made reader first, so that one walk in list order meets it before its driver folds.
            CDB_ATOM_NODE* reader = n.atom(CDB_KIND_LCELL_COMB, "reader");
            CDB_ATOM_NODE* first = n.atom(CDB_KIND_LCELL_COMB, "first");
            first->set_lutmask(CDB_LUTMASK(inputs, 0xAAAAAAAAAAAAAAAAull));  // input A, or its mirror
            first->add_input_term(DB_DATA_A)->set_logical_vcc();
            reader->set_lutmask(CDB_LUTMASK(inputs, 0x6666666666666666ull));  // A xor B
            first->add_output_term(DB_COMB_OUT)->insert_fanout(input_of(reader, DB_DATA_A));
            n.drive(reader, DB_DATA_B);
            CDB_ATOM_OTERM* out = n.load(reader, DB_COMB_OUT);
            const std::vector<CDB_ATOM_OTERM*> nets = {reader->get_input_term_by_type(DB_DATA_B)->get_source()};
            const std::vector<unsigned> before = table_of(out, nets);
            const uint32_t first_id = first->get_id();
            if (whole_sweep) {
                EXPECT_EQ(sweeper_of(n)->sweep(), 3) << family;  // two folds, one removal
                EXPECT_EQ(n.netlist()->get_node_by_id(first_id), nullptr) << family;
            } else {
                EXPECT_EQ(sweeper_of(n)->propagate_constants(), 2) << family;
                CDB_ATOM_ITERM* left = reader->get_input_term_by_type(DB_DATA_A);
                EXPECT_TRUE(left == nullptr || !left->is_connected()) << family;
            }
            EXPECT_EQ(table_of(out, nets), before) << family;
        }
}

// A register held cleared by a LUT that a tie makes constant becomes a
// constant itself: its readers fold in the same propagator call.
TEST_F(SweeperTest, AUvoRegisterMadeConstantByAFoldIsFoldedIntoItsReadersInTheSameCall)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* reader = n.atom(CDB_KIND_LCELL_COMB, "reader");
    CDB_ATOM_NODE* reg = n.atom(CDB_KIND_LCELL_COMB, "reg");
    CDB_ATOM_NODE* clear = n.atom(CDB_KIND_LCELL_COMB, "clear");
    clear->set_lutmask(CDB_LUTMASK(4, 0xAAAA));
    clear->add_input_term(DB_DATA_A)->set_logical_gnd();  // the clear reads 0: it acts
    reg->set_lutmask(CDB_LUTMASK(4, 0xAAAA));
    n.drive(reg, DB_DATA_A);
    n.drive(reg, DB_CLOCK);
    clear->add_output_term(DB_COMB_OUT)->insert_fanout(reg->add_input_term(DB_CLEAR));
    reader->set_lutmask(CDB_LUTMASK(4, 0x6666));
    reg->add_output_term(DB_REG_OUT)->insert_fanout(reader->add_input_term(DB_DATA_A));
    n.drive(reader, DB_DATA_B);
    n.load(reader, DB_COMB_OUT);
    EXPECT_EQ(sweeper_of(n)->propagate_constants(), 2);
    EXPECT_EQ(reader->get_input_term_by_type(DB_DATA_A), nullptr);
    EXPECT_EQ(reader->get_lutmask().get_value(), 0xCCCCu);  // B alone: the register reads 0
}

// Once a debug stop is reached while constants fold, the step ends there
// and later passes of the sweep only remove.
TEST_F(SweeperTest, ADebugStopInsideTheConstantPropagatorEndsFoldingThere)
{
    cfg_set_value("fsyn_enable_debug_checkpoints", "on");
    cfg_set_value("fsyn_debug_checkpoint_stop_late", "on");
    cfg_set_value("fsyn_debug_checkpoint_stop_count", "2");
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    std::vector<CDB_ATOM_NODE*> cells;
    for (int i = 0; i < 3; ++i) {
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", i));
        cell->set_lutmask(CDB_LUTMASK(6, 0x6666666666666666ull));
        cell->add_input_term(DB_DATA_A)->set_logical_vcc();
        n.drive(cell, DB_DATA_B);
        n.load(cell, DB_COMB_OUT);
        cells.push_back(cell);
    }
    sweeper_of(n)->sweep();
    EXPECT_TRUE(n.api()->fsyn_debug_stopped());
    EXPECT_FALSE(cells[0]->get_input_term_by_type(DB_DATA_A)->is_connected());
    EXPECT_FALSE(cells[1]->get_input_term_by_type(DB_DATA_A)->is_connected());
    EXPECT_TRUE(cells[2]->get_input_term_by_type(DB_DATA_A)->is_connected()) << "folded after the stop";
}

TEST_F(SweeperTest, ACleanNetlistTakesOnePassAndCountsOnlyDanglingInputs)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_LOG_CAPTURE capture(2);
    CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, "reg");
    n.drive(reg, DB_DATAIN);
    n.drive(reg, DB_CLOCK);
    CDB_ATOM_ITERM* dangling = reg->add_input_term(DB_CLOCK_ENABLE);
    (void)dangling;
    n.load(reg, DB_REG_OUT);
    EXPECT_EQ(sweeper_of(n)->sweep(), 1);
    EXPECT_EQ(reg->get_input_term_by_type(DB_CLOCK_ENABLE), nullptr);
    const std::vector<std::string> lines = capture.lines();
    const bool one_pass = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("for 1 iterations)...") != std::string::npos;
    });
    EXPECT_TRUE(one_pass);
    // The remover and the propagator each stop after their first, clean pass.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "\tnum iterations = 1"), 2);
}

// The sweep dumps the netlist before and after when dumps are on; with
// the collapser on or switched off nothing is named as not available, and
// removal and folding run either way.
TEST_F(SweeperTest, DumpsAroundTheSweepAndTheCollapserSwitch)
{
    for (bool collapser_off : {false, true}) {
        cfg_set_value("fsyn_enable_netlist_dump", "on");
        cfg_set_value("fsyn_disable_node_collapser", collapser_off ? "on" : "off");
        msg_clear_posted_messages();
        NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        cell->set_lutmask(CDB_LUTMASK(6, 0x6666666666666666ull));
        cell->add_input_term(DB_DATA_A)->set_logical_vcc();
        n.drive(cell, DB_DATA_B);
        n.load(cell, DB_COMB_OUT);
        CDB_ATOM_NODE* dead = n.atom(CDB_KIND_LCELL_COMB, "dead");
        dead->add_output_term(DB_COMB_OUT);
        const std::string project = n.env().get_project_name();
        EXPECT_EQ(sweeper_of(n)->sweep(), 2) << collapser_off;
        EXPECT_EQ(sweeper_of(n)->sweep(), 0) << collapser_off;
        for (const char* suffix : {".pre_fsyn_netlist_sweeper", ".post_fsyn_netlist_sweeper"}) {
            EXPECT_TRUE(std::ifstream(project + suffix).good()) << suffix;
            std::remove((project + suffix).c_str());
        }
        int warnings = 0;
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            warnings += m.id == "WMORV_FSYN_NOT_AVAILABLE_YET" ? 1 : 0;
        EXPECT_EQ(warnings, 0) << collapser_off;
    }
}

TEST_F(SweeperTest, EveryFamilyHasItsSweeperAndOthersNone)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        auto sweeper = sweeper_of(n);
        EXPECT_EQ(sweeper->get_max_lut_inputs(), n.util()->get_max_lut_inputs()) << family;
    }
    NET_UTIL_NETLIST zepla_b(CDB_FAMILY_ZEPLA_B);
    EXPECT_NE(dynamic_cast<MORV_NETLIST_SWEEPER_ZEPLA*>(sweeper_of(zepla_b).get()), nullptr);
    NET_UTIL_NETLIST mrl(CDB_FAMILY_MRL);
    EXPECT_NE(dynamic_cast<MORV_NETLIST_SWEEPER_MRL*>(sweeper_of(mrl).get()), nullptr);
}

}  // namespace

}  // namespace morv_netlist_sweeper_test
