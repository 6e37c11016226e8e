// Canonical forms of cell outputs: equal for one function of the same
// signals however the cells are wired (permuted inputs, inputs the function
// ignores, constants folded in), unequal as soon as the function, a signal,
// the way a signal is read or a register control differs; cells in a chain
// are equal only to themselves.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "morv/core/family/morv_family_traits.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "net_util_fixture.h"

namespace morv_canonical_node_info_test {

namespace {

typedef std::function<bool(unsigned)> FUNCTION;

// The mask of a LUT reading f's input i at position position_of[i], in the
// family's bit order; positions f does not read are ignored.
uint64_t family_mask(int family, const FUNCTION& f, const std::vector<int>& position_of)
{
    const MORV_FAMILY_TRAITS& traits = morv_family_traits(family);
    const unsigned rows = 1u << traits.m_lut_size;
    uint64_t mask = 0;
    for (unsigned row = 0; row < rows; ++row) {
        unsigned args = 0;
        for (size_t i = 0; i < position_of.size(); ++i) args |= ((row >> position_of[i]) & 1u) << i;
        if (f(args)) mask |= uint64_t(1) << (traits.m_mask_bits_reversed ? rows - 1 - row : row);
    }
    return mask;
}

class CANONICAL_NETLIST : public NET_UTIL_NETLIST
{
public:
    explicit CANONICAL_NETLIST(int family) : NET_UTIL_NETLIST(family) {}

    int lut_size() const { return morv_family_traits(family()).m_lut_size; }

    // A LUT computing f of sources, source i read at position_of[i]; its
    // comb-out drives a sink. UVO cells are made as comb cells too.
    CDB_ATOM_NODE* lut(const FUNCTION& f, const std::vector<CDB_ATOM_OTERM*>& sources,
                       const std::vector<int>& position_of)
    {
        CDB_ATOM_NODE* node = atom(CDB_KIND_LCELL_COMB, numbered("lut", m_luts++));
        for (size_t i = 0; i < sources.size(); ++i) drive(node, DB_DATA_A + position_of[i], sources[i]);
        node->set_lutmask(CDB_LUTMASK(lut_size(), family_mask(family(), f, position_of)));
        load(node, DB_COMB_OUT);
        return node;
    }

    MORV_OWNER<MORV_CANONICAL_NODE_INFO> form(CDB_ATOM_NODE* node, int output = DB_COMB_OUT)
    {
        return util()->create_canonical_node_info(node->get_output_term_by_type(output));
    }

    std::vector<CDB_ATOM_OTERM*> sources(int count)
    {
        std::vector<CDB_ATOM_OTERM*> made;
        for (int i = 0; i < count; ++i) made.push_back(new_source());
        return made;
    }

private:
    int m_luts = 0;
};

bool equal_forms(const MORV_CANONICAL_NODE_INFO& a, const MORV_CANONICAL_NODE_INFO& b)
{
    return !a.compare(&b) && !b.compare(&a);
}

class CanonicalNodeInfoTest : public MORV_CLEAN_STATE_TEST
{
protected:
    std::mt19937_64 m_random{20260517};
};

TEST_F(CanonicalNodeInfoTest, PermutedWiringAndIgnoredInputsGiveOneForm)
{
    for (int family : kNetUtilFamilies) {
        CANONICAL_NETLIST n(family);
        const int size = n.lut_size();
        for (int trial = 0; trial < 24; ++trial) {
            const int used = 2 + trial % (size - 1);
            const uint64_t table = m_random();
            const unsigned reads = (1u << used) - 1;  // f ignores further inputs
            const FUNCTION f = [table, reads](unsigned args) { return ((table >> (args & reads)) & 1u) != 0; };
            const std::vector<CDB_ATOM_OTERM*> signals = n.sources(used);
            std::vector<int> first(size), second(size);
            for (int i = 0; i < size; ++i) first[i] = second[i] = i;
            std::shuffle(first.begin(), first.end(), m_random);
            std::shuffle(second.begin(), second.end(), m_random);
            // The second cell also reads signals its function ignores.
            std::vector<CDB_ATOM_OTERM*> wider = signals;
            while (static_cast<int>(wider.size()) < size) wider.push_back(n.new_source());
            CDB_ATOM_NODE* a = n.lut(f, signals, std::vector<int>(first.begin(), first.begin() + used));
            CDB_ATOM_NODE* b = n.lut(f, wider, second);
            auto form_a = n.form(a);
            auto form_b = n.form(b);
            const std::string what = numbered("family ", family) + numbered(" trial ", trial);
            EXPECT_TRUE(form_a->is_canonicalised()) << what;
            EXPECT_TRUE(equal_forms(*form_a, *form_b)) << what;
            for (CDB_ATOM_OTERM* ignored : std::vector<CDB_ATOM_OTERM*>(wider.begin() + used, wider.end())) {
                const auto& listed = form_b->get_inputs();
                EXPECT_EQ(std::count(listed.begin(), listed.end(), ignored), 0) << what;
            }
            // One flipped row of the function is another function.
            const unsigned flipped_row = static_cast<unsigned>(m_random() % (1u << used));
            const FUNCTION g = [f, flipped_row, reads](unsigned args) {
                return f(args) != ((args & reads) == flipped_row);
            };
            auto form_c = n.form(n.lut(g, signals, std::vector<int>(second.begin(), second.begin() + used)));
            EXPECT_FALSE(equal_forms(*form_a, *form_c)) << what;
        }
    }
}

TEST_F(CanonicalNodeInfoTest, TheTableIsTheFunctionInEveryBitOrder)
{
    for (int family : kNetUtilFamilies) {
        CANONICAL_NETLIST n(family);
        // Not a and b: true only for a = 0, b = 1.
        const std::vector<CDB_ATOM_OTERM*> ab = n.sources(2);
        auto form = n.form(n.lut([](unsigned args) { return args == 2; }, ab, {3, 0}));
        ASSERT_EQ(form->get_inputs().size(), 2u) << family;
        // The greater source comes first.
        EXPECT_EQ(form->get_inputs()[0], ab[1]) << family;
        for (int k = 0; k < 4; ++k) EXPECT_EQ(form->get_truth_table_entry(k), k == 1) << family << " entry " << k;
    }
}

TEST_F(CanonicalNodeInfoTest, ConstantInputsReadTheirLogicalValue)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_UVO}) {
        CANONICAL_NETLIST n(family);
        const FUNCTION both = [](unsigned args) { return args == 3; };
        std::vector<CDB_ATOM_OTERM*> a = n.sources(1);
        // a and c with c at logical 1 is a; with c at logical 0 it is 0.
        CDB_ATOM_NODE* with_vcc = n.lut(both, {a[0], n.new_source()}, {0, 1});
        with_vcc->get_input_term_by_type(DB_DATA_B)->set_logical_vcc();
        CDB_ATOM_NODE* with_gnd = n.lut(both, {a[0], n.new_source()}, {1, 0});
        with_gnd->get_input_term_by_type(DB_DATA_A)->set_logical_gnd();
        // VCC read through an inverting port is a logical 0 too.
        CDB_ATOM_NODE* with_low_vcc = n.lut(both, {a[0], n.new_source()}, {0, 2});
        with_low_vcc->set_port_active_high(DB_DATA_C, false);
        with_low_vcc->get_input_term_by_type(DB_DATA_C)->set_vcc();
        CDB_ATOM_NODE* wire = n.lut([](unsigned args) { return args == 1; }, a, {3});
        EXPECT_TRUE(equal_forms(*n.form(with_vcc), *n.form(wire))) << family;
        EXPECT_FALSE(equal_forms(*n.form(with_gnd), *n.form(wire))) << family;
        EXPECT_TRUE(equal_forms(*n.form(with_gnd), *n.form(with_low_vcc))) << family;
        EXPECT_TRUE(n.form(with_gnd)->get_inputs().empty()) << family;
    }
}

TEST_F(CanonicalNodeInfoTest, ComplementedReadingsAndRepeatedSignals)
{
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_RZK}) {
        CANONICAL_NETLIST n(family);
        const FUNCTION both = [](unsigned args) { return args == 3; };
        const std::vector<CDB_ATOM_OTERM*> ab = n.sources(2);
        CDB_ATOM_NODE* plain = n.lut(both, ab, {0, 1});
        CDB_ATOM_NODE* inverted = n.lut(both, ab, {0, 1});
        inverted->get_input_term_by_type(DB_DATA_B)->set_invert();
        CDB_ATOM_NODE* low_port = n.lut(both, ab, {0, 1});
        low_port->set_port_active_high(DB_DATA_B, false);
        EXPECT_FALSE(equal_forms(*n.form(plain), *n.form(inverted))) << family;
        EXPECT_TRUE(equal_forms(*n.form(inverted), *n.form(low_port))) << family;
        // a read at two positions is one input: a and a and b is a and b.
        CDB_ATOM_NODE* twice = n.lut([](unsigned args) { return args == 7; }, {ab[0], ab[0], ab[1]}, {2, 0, 3});
        EXPECT_TRUE(equal_forms(*n.form(plain), *n.form(twice))) << family;
    }
}

TEST_F(CanonicalNodeInfoTest, RegistersCompareByDataAndControls)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_BRK, CDB_FAMILY_OBRAN}) {
        CANONICAL_NETLIST n(family);
        const std::vector<CDB_ATOM_OTERM*> s = n.sources(4);  // data, other data, clock, other clock
        int registers = 0;
        auto reg = [&](CDB_ATOM_OTERM* data, CDB_ATOM_OTERM* clock) {
            CDB_ATOM_NODE* node = n.atom(CDB_KIND_REGISTER, numbered("reg", registers++));
            n.drive(node, DB_DATAIN, data);
            n.drive(node, DB_CLOCK, clock);
            n.load(node, DB_REG_OUT);
            return node;
        };
        CDB_ATOM_NODE* r1 = reg(s[0], s[2]);
        auto form_r1 = n.form(r1, DB_REG_OUT);
        EXPECT_TRUE(form_r1->is_canonicalised()) << family;
        EXPECT_TRUE(equal_forms(*form_r1, *n.form(reg(s[0], s[2]), DB_REG_OUT))) << family;
        EXPECT_FALSE(equal_forms(*form_r1, *n.form(reg(s[0], s[3]), DB_REG_OUT))) << family;
        EXPECT_FALSE(equal_forms(*form_r1, *n.form(reg(s[1], s[2]), DB_REG_OUT))) << family;
        CDB_ATOM_NODE* low_clock = reg(s[0], s[2]);
        low_clock->set_port_active_high(DB_CLOCK, false);
        EXPECT_FALSE(equal_forms(*form_r1, *n.form(low_clock, DB_REG_OUT))) << family;
        // A synchronous load tied off reads as 0: the register still passes its data.
        CDB_ATOM_NODE* tied_load = reg(s[0], s[2]);
        tied_load->add_input_term(DB_SYNCH_LOAD)->set_logical_gnd();
        EXPECT_TRUE(equal_forms(*form_r1, *n.form(tied_load, DB_REG_OUT))) << family;
        // Without a clock a register still is no wire.
        CDB_ATOM_NODE* unclocked = n.atom(CDB_KIND_REGISTER, "unclocked");
        n.drive(unclocked, DB_DATAIN, s[0]);
        n.load(unclocked, DB_REG_OUT);
        CDB_ATOM_NODE* wire = n.lut([](unsigned args) { return args == 1; }, {s[0]}, {0});
        EXPECT_FALSE(equal_forms(*n.form(unclocked, DB_REG_OUT), *n.form(wire))) << family;
    }
}

TEST_F(CanonicalNodeInfoTest, UvoOutputsOfOneCellDiffer)
{
    CANONICAL_NETLIST n(CDB_FAMILY_UVO);
    const std::vector<CDB_ATOM_OTERM*> s = n.sources(3);
    CDB_ATOM_NODE* cell = n.lut([](unsigned args) { return args == 3; }, {s[0], s[1]}, {0, 1});
    n.drive(cell, DB_CLOCK, s[2]);
    n.load(cell, DB_REG_OUT);
    auto comb = n.form(cell, DB_COMB_OUT);
    auto reg = n.form(cell, DB_REG_OUT);
    EXPECT_TRUE(comb->is_canonicalised());
    EXPECT_TRUE(reg->is_canonicalised());
    EXPECT_FALSE(equal_forms(*comb, *reg));
    // The register's synchronous data is an input of its function.
    n.drive(cell, DB_SYNCH_DATA, n.new_source());
    n.drive(cell, DB_SYNCH_LOAD, n.new_source());
    EXPECT_EQ(n.form(cell, DB_REG_OUT)->get_inputs().size(), 4u);
    EXPECT_EQ(n.form(cell, DB_COMB_OUT)->get_inputs().size(), 2u);
}

// A UVO LUT that reads its (unconnected) carry-in at position C computes
// its function with C at 0, whatever drives input C.
TEST_F(CanonicalNodeInfoTest, AUvoLutReadingItsCarryAtCIgnoresInputC)
{
    CANONICAL_NETLIST n(CDB_FAMILY_UVO);
    const std::vector<CDB_ATOM_OTERM*> s = n.sources(3);
    const FUNCTION f = [](unsigned args) { return args == 1 || args == 6; };
    CDB_ATOM_NODE* carry_at_c = n.lut(f, s, {0, 1, 2});
    carry_at_c->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
    CDB_ATOM_NODE* c_at_zero = n.lut([&f](unsigned args) { return f(args & 3u); }, {s[0], s[1]}, {0, 1});
    CDB_ATOM_NODE* reading_c = n.lut(f, s, {0, 1, 2});
    EXPECT_TRUE(equal_forms(*n.form(carry_at_c), *n.form(c_at_zero)));
    EXPECT_FALSE(equal_forms(*n.form(carry_at_c), *n.form(reading_c)));
    EXPECT_EQ(n.form(carry_at_c)->get_inputs().size(), 2u);  // f(a, b, 0) is a and not b
}

TEST_F(CanonicalNodeInfoTest, CellsInAChainEqualOnlyThemselves)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        CANONICAL_NETLIST n(family);
        const std::vector<CDB_ATOM_OTERM*> ab = n.sources(2);
        const FUNCTION both = [](unsigned args) { return args == 3; };
        CDB_ATOM_NODE* chained = n.lut(both, ab, {0, 1});
        CDB_ATOM_NODE* twin = n.lut(both, ab, {0, 1});
        n.drive(chained, DB_CARRY_IN);
        n.drive(twin, DB_CARRY_IN);
        auto form = n.form(chained);
        EXPECT_FALSE(form->is_canonicalised()) << family;
        EXPECT_TRUE(equal_forms(*form, *n.form(chained))) << family;
        EXPECT_FALSE(equal_forms(*form, *n.form(twin))) << family;
    }
}

}  // namespace

}  // namespace morv_canonical_node_info_test
