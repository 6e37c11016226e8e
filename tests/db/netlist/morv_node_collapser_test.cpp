// The node collapser's rules on small hand-built netlists: which sources and
// sinks are merged and which are refused (own feedback, inputs read with
// other settings, the families' input limits beside a carry-in and in
// adders, adders before placement, a host veto), and that every merge keeps
// the function the sinks compute (host evaluation of each observed output
// on every row of its inputs).

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cfg/cfg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_netlist_sweeper.h"
#include "morv/netlist/morv_node_collapser.h"
#include "net_util_fixture.h"

namespace morv_node_collapser_test {

namespace {

typedef std::function<bool(unsigned)> FUNCTION;
typedef std::vector<std::pair<int, CDB_ATOM_OTERM*>> WIRING;  // (input port, source)

template <typename BASE>
class PLACED_COLLAPSER : public BASE
{
public:
    PLACED_COLLAPSER(MORV_API* api, bool pre_placement) : BASE(api), m_pre_placement(pre_placement) {}
    bool is_pre_placement() const override { return m_pre_placement; }

private:
    bool m_pre_placement;
};

class COLLAPSE_NETLIST : public NET_UTIL_NETLIST
{
public:
    explicit COLLAPSE_NETLIST(int family, unsigned options = NET_UTIL_PLAIN) : NET_UTIL_NETLIST(family, options) {}

    int lut_size() const { return morv_family_traits(family()).m_lut_size; }

    // The mask that computes f over the wired inputs (bit i of f's argument
    // is what input i gives its LUT position), in the family's bit order.
    uint64_t mask_of(const FUNCTION& f, const std::vector<int>& ports) const
    {
        const MORV_FAMILY_TRAITS& traits = morv_family_traits(family());
        const unsigned rows = 1u << traits.m_lut_size;
        uint64_t mask = 0;
        for (unsigned row = 0; row < rows; ++row) {
            unsigned args = 0;
            for (size_t i = 0; i < ports.size(); ++i) args |= ((row >> (ports[i] - DB_DATA_A)) & 1u) << i;
            if (f(args)) mask |= uint64_t(1) << (traits.m_mask_bits_reversed ? rows - 1 - row : row);
        }
        return mask;
    }

    // A LUT computing f of its wired inputs; its comb-out drives nothing yet.
    CDB_ATOM_NODE* lut(const WIRING& wiring, const FUNCTION& f, const std::string& name = std::string())
    {
        CDB_ATOM_NODE* node = atom(CDB_KIND_LCELL_COMB, name.empty() ? numbered("lut", m_luts++) : name);
        std::vector<int> ports;
        for (const auto& [port, source] : wiring) {
            CDB_ATOM_ITERM* iterm = node->add_input_term(port);
            if (source != nullptr) source->insert_fanout(iterm);
            ports.push_back(port);
        }
        node->set_lutmask(CDB_LUTMASK(lut_size(), mask_of(f, ports)));
        node->add_output_term(DB_COMB_OUT);
        return node;
    }

    static CDB_ATOM_OTERM* out(CDB_ATOM_NODE* node, int port = DB_COMB_OUT)
    {
        return node->get_output_term_by_type(port);
    }

    // An output pin reading the output.
    CDB_ATOM_ITERM* observe(CDB_ATOM_OTERM* oterm)
    {
        CDB_ATOM_NODE* pin = atom(CDB_KIND_IO, numbered("pin", m_pins++));
        CDB_ATOM_ITERM* iterm = pin->add_input_term(DB_DATAIN);
        oterm->insert_fanout(iterm);
        m_observed.push_back(iterm);
        return iterm;
    }

    CDB_ATOM_OTERM* signal()
    {
        m_variables.push_back(new_source());
        return m_variables.back();
    }

    // Every observed output on every row of the signals.
    std::vector<std::vector<unsigned>> table()
    {
        std::vector<std::vector<unsigned>> rows;
        for (unsigned row = 0; row < (1u << m_variables.size()); ++row) {
            m_value.clear();
            for (size_t v = 0; v < m_variables.size(); ++v) m_value[m_variables[v]] = (row >> v) & 1u;
            std::vector<unsigned> values;
            for (CDB_ATOM_ITERM* iterm : m_observed) values.push_back(seen(iterm));
            rows.push_back(values);
        }
        return rows;
    }

    std::unique_ptr<MORV_NODE_COLLAPSER> collapser(bool pre_placement = true)
    {
        switch (family()) {
        case CDB_FAMILY_TEV:
        case CDB_FAMILY_ZEPLA:
            return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_4LUT>>(api(), pre_placement);
        case CDB_FAMILY_MRL: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_MRL>>(api(), pre_placement);
        case CDB_FAMILY_UVO: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_UVO>>(api(), pre_placement);
        default: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_6LUT>>(api(), pre_placement);
        }
    }

    // Collapses everything and checks that every observed output kept its table.
    int collapse_keeping_function(bool pre_placement = true)
    {
        const auto before = table();
        const int collapsed = collapser(pre_placement)->collapse_nodes();
        EXPECT_EQ(table(), before) << "family " << family();
        for (CDB_ATOM_NODE* node : *netlist()) EXPECT_TRUE(node->verify_fanin() && node->verify_fanout());
        return collapsed;
    }

private:
    unsigned seen(const CDB_ATOM_ITERM* iterm)
    {
        if (iterm == nullptr || !iterm->is_connected()) return 0;
        if (!iterm->is_driven()) return iterm->is_logical_vcc() ? 1u : 0u;
        return value(iterm->get_source()) ^ (iterm->reads_complemented() ? 1u : 0u);
    }

    unsigned value(CDB_ATOM_OTERM* oterm)
    {
        auto known = m_value.find(oterm);
        if (known != m_value.end()) return known->second;
        CDB_ATOM_NODE* node = oterm->get_my_node();
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
            in[k] = seen(node->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]));
        const unsigned v = node->evaluate_output(oterm->get_usage(), in);
        EXPECT_LE(v, 1u);
        return m_value[oterm] = v & 1u;
    }

    std::vector<CDB_ATOM_OTERM*> m_variables;
    std::vector<CDB_ATOM_ITERM*> m_observed;
    std::map<const CDB_ATOM_OTERM*, unsigned> m_value;
    int m_luts = 0;
    int m_pins = 0;
};

const FUNCTION kAnd = [](unsigned args) { return (args & 3u) == 3u; };
const FUNCTION kXor = [](unsigned args) { return ((args ^ (args >> 1)) & 1u) != 0; };
const FUNCTION kNot = [](unsigned args) { return (args & 1u) == 0; };
// The parity of every argument.
const FUNCTION kParity = [](unsigned args) { return __builtin_popcount(args) % 2 == 1; };

std::vector<CDB_ATOM_ITERM*> readers(CDB_ATOM_OTERM* oterm)
{
    std::vector<CDB_ATOM_ITERM*> result;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) result.push_back(*it);
    return result;
}

class NodeCollapserTest : public MORV_CLEAN_STATE_TEST
{};

TEST_F(NodeCollapserTest, AnXorMergedIntoAnAndComputesItInTheReversedBitOrder)
{
    // x and y with x = a xor b: on BRK every row of the merged mask counts.
    COLLAPSE_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = n.signal();
    CDB_ATOM_OTERM* b = n.signal();
    CDB_ATOM_OTERM* c = n.signal();
    CDB_ATOM_NODE* x = n.lut({{DB_DATA_A, a}, {DB_DATA_B, b}}, kXor);
    CDB_ATOM_NODE* sink = n.lut({{DB_DATA_A, n.out(x)}, {DB_DATA_B, c}}, kAnd);
    n.observe(n.out(sink));
    EXPECT_EQ(n.collapse_keeping_function(), 1);
    EXPECT_FALSE(n.out(x)->has_fanout());
    EXPECT_EQ(n.util()->get_number_of_connected_lut_inputs(sink), 3);
}

TEST_F(NodeCollapserTest, EveryFamilyMergesAChainIntoItsLastLut)
{
    for (int family : kNetUtilFamilies) {
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
        CDB_ATOM_NODE* first = n.lut({{DB_DATA_A, s[0]}, {DB_DATA_B, s[1]}}, kXor);
        CDB_ATOM_NODE* middle = n.lut({{DB_DATA_C, n.out(first)}, {DB_DATA_B, s[2]}}, kXor);
        CDB_ATOM_NODE* last = n.lut({{DB_DATA_D, n.out(middle)}, {DB_DATA_A, s[3]}}, kXor);
        n.observe(n.out(last));
        EXPECT_EQ(n.collapse_keeping_function(), 2) << "family " << family;
        EXPECT_EQ(n.util()->get_number_of_connected_lut_inputs(last), 4) << "family " << family;
        // A dead LUT still reads its inputs: the node remover takes it away.
        EXPECT_FALSE(n.out(middle)->has_fanout()) << "family " << family;
    }
}

// A netlist read from a file may hold a port's term in the slot of another
// port. A merge that gives such a sink that other port keeps the term where
// it is: the source leaves the sink, and a later merge into it still works.
TEST_F(NodeCollapserTest, TermsInTheSlotsOfOtherPortsStayWhenTheSinkGetsThosePorts)
{
    for (int family : kNetUtilFamilies) {
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
        CDB_ATOM_NODE* first = n.lut({{DB_DATA_A, s[0]}, {DB_DATA_B, s[1]}}, kXor);
        CDB_ATOM_NODE* middle = n.lut({{DB_DATA_C, n.out(first)}, {DB_DATA_B, s[2]}}, kAnd);
        CDB_ATOM_NODE* last = n.lut({{DB_DATA_B, n.out(middle)}, {DB_DATA_C, s[3]}}, kXor);
        // Input C of middle and input B of last sit in slot 0, where input A's would.
        for (auto [node, port] : {std::pair{middle, DB_DATA_C}, std::pair{last, DB_DATA_B}}) {
            CDB_ATOM_ITERM* moved = node->get_input_term_by_type(port);
            node->remove_input_term(moved);
            node->set_input_term(0, moved);
        }
        n.observe(n.out(last));
        EXPECT_EQ(n.collapse_keeping_function(), 2) << "family " << family;
        EXPECT_FALSE(n.out(first)->has_fanout()) << "family " << family;
        EXPECT_FALSE(n.out(middle)->has_fanout()) << "family " << family;
        EXPECT_EQ(n.util()->get_number_of_connected_lut_inputs(last), 4) << "family " << family;
    }
}

// A merge that leaves the source feeding its sink has changed nothing a
// later pass could build on: the call ends instead of repeating it.
template <typename BASE>
class IDLE_COLLAPSER : public BASE
{
public:
    explicit IDLE_COLLAPSER(MORV_API* api) : BASE(api) {}
    void collapse_node_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink, const MORV_COLLAPSE_INPUTS& list,
                                 const MORV_COLLAPSE_FLAGS& flags) override
    {
        // Gives in after a while, so that an endless loop shows as a count.
        if (++m_merges >= 20) BASE::collapse_node_into_sink(source, sink, list, flags);
    }
    int m_merges = 0;
};

TEST_F(NodeCollapserTest, AMergeThatLeavesItsSourceInPlaceEndsTheCall)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_OBRAN);
    CDB_ATOM_OTERM* s[3] = {n.signal(), n.signal(), n.signal()};
    CDB_ATOM_NODE* source = n.lut({{DB_DATA_A, s[0]}, {DB_DATA_B, s[1]}}, kXor);
    CDB_ATOM_NODE* sink = n.lut({{DB_DATA_A, n.out(source)}, {DB_DATA_B, s[2]}}, kAnd);
    n.observe(n.out(sink));
    IDLE_COLLAPSER<MORV_NODE_COLLAPSER_6LUT> idle(n.api());
    EXPECT_EQ(idle.collapse_nodes(), 0);
    EXPECT_EQ(idle.m_merges, 1);
    EXPECT_TRUE(n.out(source)->has_fanout());
}

TEST_F(NodeCollapserTest, OwnFeedbackAndInputsReadWithOtherSettingsAreRefused)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* a = n.signal();
        CDB_ATOM_OTERM* b = n.signal();
        // A buffer of itself and a: it reads its own output.
        CDB_ATOM_NODE* looped = n.lut({{DB_DATA_A, a}, {DB_DATA_B, nullptr}}, kAnd);
        n.out(looped)->insert_fanout(looped->get_input_term_by_type(DB_DATA_B));
        // The source reads a plainly, the sink reads a inverted.
        CDB_ATOM_NODE* source = n.lut({{DB_DATA_A, a}, {DB_DATA_B, b}}, kXor);
        CDB_ATOM_NODE* sink = n.lut({{DB_DATA_C, n.out(source)}, {DB_DATA_A, a}}, kAnd);
        sink->get_input_term_by_type(DB_DATA_A)->set_invert();
        n.observe(n.out(sink));
        EXPECT_EQ(n.collapser()->collapse_nodes(), 0) << "family " << family;
        EXPECT_TRUE(n.out(source)->has_fanout()) << "family " << family;
        // Read the same way, they merge, but not while the source reads a
        // global signal of a kind the host does not merge.
        sink->get_input_term_by_type(DB_DATA_A)->clear_invert();
        source->get_input_term_by_type(DB_DATA_B)->set_global(1);
        EXPECT_EQ(n.collapser()->collapse_nodes(), 0) << "family " << family;
        source->get_input_term_by_type(DB_DATA_B)->set_global(2);
        EXPECT_EQ(n.collapse_keeping_function(), 1) << "family " << family;
        EXPECT_EQ(readers(n.out(looped)).size(), 1u) << "family " << family;
    }
}

TEST_F(NodeCollapserTest, AnInverterMergesIntoEverySinkThatTakesItAndStaysForTheOthers)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_ZEPLA);
    CDB_ATOM_OTERM* a = n.signal();
    CDB_ATOM_OTERM* b = n.signal();
    CDB_ATOM_NODE* inverter = n.lut({{DB_DATA_D, a}}, kNot);
    CDB_ATOM_NODE* first = n.lut({{DB_DATA_A, n.out(inverter)}, {DB_DATA_B, b}}, kAnd);
    // One sink reads it at two inputs: merged once, both positions get it.
    CDB_ATOM_NODE* twice = n.lut({{DB_DATA_B, n.out(inverter)}, {DB_DATA_C, b}, {DB_DATA_D, n.out(inverter)}},
                                 [](unsigned args) { return args == 5 || args == 2; });
    CDB_ATOM_NODE* untouchable = n.lut({{DB_DATA_A, n.out(inverter)}, {DB_DATA_B, b}}, kXor);
    CDB_ATOM_ASSIGNMENTS dont_touch;
    dont_touch.dont_touch = true;
    untouchable->set_assignments(dont_touch);
    for (CDB_ATOM_NODE* node : {first, twice, untouchable}) n.observe(n.out(node));
    n.observe(n.out(inverter));  // a pin is no LUT input
    EXPECT_EQ(n.collapse_keeping_function(), 1);
    std::vector<CDB_ATOM_ITERM*> left = readers(n.out(inverter));
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0]->get_my_node(), untouchable);
    EXPECT_TRUE(left[1]->get_my_node()->is_pin());
    EXPECT_EQ(n.util()->get_number_of_connected_lut_inputs(twice), 2);
}

TEST_F(NodeCollapserTest, MergedInputsStayWithinTheFamiliesLimits)
{
    // (family, inputs of the source, other inputs of the sink, whether the
    // sink reads a carry-in, merged): a carry-in takes position C from a
    // 4-input LUT; MRL merges at most four.
    struct CASE
    {
        int family;
        int source_inputs;
        int sink_inputs;
        bool carry_in;
        bool merged;
    };
    const CASE cases[] = {
        {CDB_FAMILY_TEV, 2, 2, false, true},  {CDB_FAMILY_TEV, 2, 2, true, false},
        {CDB_FAMILY_TEV, 2, 1, true, true},   {CDB_FAMILY_ZEPLA, 3, 2, false, false},
        {CDB_FAMILY_MRL, 3, 2, false, false}, {CDB_FAMILY_MRL, 2, 2, false, true},
        {CDB_FAMILY_BRK, 3, 3, false, true},  {CDB_FAMILY_RZK, 4, 3, false, false},
        {CDB_FAMILY_UVO, 2, 2, true, false},  {CDB_FAMILY_UVO, 2, 1, true, true},
    };
    for (const CASE& c : cases) {
        COLLAPSE_NETLIST n(c.family);
        WIRING source_wiring;
        for (int i = 0; i < c.source_inputs; ++i) source_wiring.push_back({DB_DATA_A + i, n.signal()});
        CDB_ATOM_NODE* source = n.lut(source_wiring, kParity);
        WIRING sink_wiring = {{DB_DATA_A, n.out(source)}};
        for (int i = 0; i < c.sink_inputs; ++i) sink_wiring.push_back({DB_DATA_B + i + (i >= 1 ? 1 : 0), n.signal()});
        CDB_ATOM_NODE* sink = n.lut(sink_wiring, kParity);
        if (c.carry_in) {
            // The LUT reads the carry-in at position C.
            n.drive(sink, DB_CARRY_IN, n.signal());
            if (c.family == CDB_FAMILY_UVO) sink->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
            else sink->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        }
        n.observe(n.out(sink));
        const std::string what = numbered("family ", c.family) + numbered(" source ", c.source_inputs) +
                                 numbered(" sink ", c.sink_inputs) + (c.carry_in ? " carry" : "");
        EXPECT_EQ(n.collapse_keeping_function(), c.merged ? 1 : 0) << what;
        if (c.carry_in && c.merged) {
            EXPECT_TRUE(sink->get_input_term_by_type(DB_CARRY_IN)->is_connected()) << what;
        }
    }
}

// A 4-input adder cell: D tied to VCC, the LUT reading the carry-in at C,
// a carry mask beside its LUT mask.
CDB_ATOM_NODE* four_input_adder(COLLAPSE_NETLIST& n, CDB_ATOM_OTERM* a, CDB_ATOM_OTERM* b, CDB_ATOM_OTERM* carry_in)
{
    CDB_ATOM_NODE* adder = n.lut({{DB_DATA_A, a}, {DB_DATA_B, b}}, kXor);
    adder->add_input_term(DB_DATA_D)->set_vcc();
    adder->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    adder->set_lutmask(CDB_LUTMASK(4, 0x9696));        // a xor b xor carry-in
    adder->set_carry_lutmask(CDB_LUTMASK(4, 0xE8E8));  // majority of a, b, carry-in
    if (carry_in != nullptr) carry_in->insert_fanout(adder->add_input_term(DB_CARRY_IN));
    return adder;
}

TEST_F(NodeCollapserTest, FourInputAddersTakeTwoInputsAndRebuildTheirCarryMask)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA}) {
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
        CDB_ATOM_NODE* inverter = n.lut({{DB_DATA_C, s[0]}}, kNot);
        CDB_ATOM_NODE* both = n.lut({{DB_DATA_A, s[1]}, {DB_DATA_B, s[2]}}, kAnd);
        CDB_ATOM_NODE* low = four_input_adder(n, n.out(inverter), s[3], nullptr);
        CDB_ATOM_NODE* high = four_input_adder(n, n.out(both), s[3], low->add_output_term(DB_CARRY_OUT));
        n.observe(n.out(low));
        n.observe(n.out(high));
        n.observe(high->add_output_term(DB_CARRY_OUT));
        const uint64_t high_mask = high->get_lutmask().get_value();
        // The inverter's one input fits; the AND would make three inputs.
        EXPECT_EQ(n.collapse_keeping_function(), 1) << "family " << family;
        EXPECT_FALSE(n.out(inverter)->has_fanout()) << "family " << family;
        EXPECT_TRUE(n.out(both)->has_fanout()) << "family " << family;
        EXPECT_EQ(high->get_lutmask().get_value(), high_mask) << "family " << family;
        EXPECT_TRUE(low->get_input_term_by_type(DB_DATA_D)->is_vcc()) << "family " << family;
    }
}

// An adder whose LUT reads input C while its carry-in is connected keeps
// the carry for its carry mask alone: a merge would put the carry where
// the LUT reads C.
TEST_F(NodeCollapserTest, AFourInputAdderReadingCBesideItsCarryTakesNoMerge)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_TEV);
    CDB_ATOM_OTERM* s[3] = {n.signal(), n.signal(), n.signal()};
    CDB_ATOM_NODE* inverter = n.lut({{DB_DATA_C, s[0]}}, kNot);
    CDB_ATOM_NODE* low = four_input_adder(n, s[1], s[2], nullptr);
    CDB_ATOM_NODE* high = four_input_adder(n, n.out(inverter), s[2], low->add_output_term(DB_CARRY_OUT));
    high->set_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    n.observe(n.out(low));
    n.observe(n.out(high));
    n.observe(high->add_output_term(DB_CARRY_OUT));
    EXPECT_EQ(n.collapse_keeping_function(), 0);
    EXPECT_TRUE(n.out(inverter)->has_fanout());
}

// A 16-bit adder half computing f of the row (a, b, c and d or f) in the
// family's bit order.
uint64_t adder_half(int family, const FUNCTION& f)
{
    const bool reversed = morv_family_traits(family).m_mask_bits_reversed;
    uint64_t half = 0;
    for (unsigned row = 0; row < 16; ++row)
        if (f(row)) half |= uint64_t(1) << (reversed ? 15 - row : row);
    return half;
}

// A 6-input adder cell: sum = low(a, b, c, d) + not high(a, b, c, f) + carry-in.
CDB_ATOM_NODE* six_input_adder(COLLAPSE_NETLIST& n, const WIRING& wiring, const FUNCTION& low, const FUNCTION& high,
                               CDB_ATOM_OTERM* carry_in)
{
    CDB_ATOM_NODE* adder =
        n.atom(CDB_KIND_LCELL_COMB, numbered("adder", static_cast<int>(wiring.size()) * 100 +
                                                          static_cast<int>(n.netlist()->get_node_count())));
    for (const auto& [port, source] : wiring) source->insert_fanout(adder->add_input_term(port));
    adder->set_lutmask(CDB_LUTMASK(6, adder_half(n.family(), low) | (adder_half(n.family(), high) << 32)));
    adder->add_output_term(DB_SUM_OUT);
    if (carry_in != nullptr) carry_in->insert_fanout(adder->add_input_term(DB_CARRY_IN));
    return adder;
}

TEST_F(NodeCollapserTest, SixInputAddersTakeOneInputBeforePlacementAndMoreWhenTheirAleHasRoom)
{
    const FUNCTION zero = [](unsigned) { return false; };
    for (bool pre_placement : {true, false}) {
        COLLAPSE_NETLIST n(CDB_FAMILY_OBRAN);
        CDB_ATOM_OTERM* s[5] = {n.signal(), n.signal(), n.signal(), n.signal(), n.signal()};
        CDB_ATOM_NODE* inverter = n.lut({{DB_DATA_E, s[0]}}, kNot);
        CDB_ATOM_NODE* both = n.lut({{DB_DATA_A, s[1]}, {DB_DATA_F, s[2]}}, kAnd);
        // The low cell reads the inverter at D and F: both halves see it.
        CDB_ATOM_NODE* low = six_input_adder(
            n, {{DB_DATA_A, s[3]}, {DB_DATA_D, n.out(inverter)}, {DB_DATA_F, n.out(inverter)}}, kXor, kAnd, nullptr);
        CDB_ATOM_NODE* high = six_input_adder(n, {{DB_DATA_B, n.out(both)}, {DB_DATA_C, s[4]}}, kParity, zero,
                                              low->add_output_term(DB_CARRY_OUT));
        n.observe(n.out(low, DB_SUM_OUT));
        n.observe(n.out(high, DB_SUM_OUT));
        EXPECT_EQ(n.collapse_keeping_function(pre_placement), pre_placement ? 1 : 2);
        EXPECT_FALSE(n.out(inverter)->has_fanout());
        EXPECT_EQ(n.out(both)->has_fanout(), pre_placement);
    }
}

TEST_F(NodeCollapserTest, AnAdderMergesItsSumIntoEverySinkAndStaysForItsChain)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_RZK}) {
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
        CDB_ATOM_NODE* head = six_input_adder(n, {{DB_DATA_A, s[0]}, {DB_DATA_B, s[1]}}, kXor, kAnd, nullptr);
        CDB_ATOM_NODE* next = six_input_adder(n, {{DB_DATA_A, s[2]}}, kNot, kNot, head->add_output_term(DB_CARRY_OUT));
        CDB_ATOM_NODE* first = n.lut({{DB_DATA_B, n.out(head, DB_SUM_OUT)}, {DB_DATA_A, s[3]}}, kAnd);
        CDB_ATOM_NODE* second = n.lut({{DB_DATA_A, n.out(head, DB_SUM_OUT)}, {DB_DATA_C, s[2]}}, kXor);
        for (CDB_ATOM_NODE* node : {first, second}) n.observe(n.out(node));
        n.observe(n.out(next, DB_SUM_OUT));
        EXPECT_EQ(n.collapse_keeping_function(), 1) << "family " << family;
        EXPECT_FALSE(n.out(head, DB_SUM_OUT)->has_fanout()) << "family " << family;
        EXPECT_TRUE(n.out(head, DB_CARRY_OUT)->has_fanout()) << "family " << family;
    }
}

// An adder whose comb-out is read as well keeps both: it is no source.
TEST_F(NodeCollapserTest, AnAdderWhoseCombOutIsReadIsNoSource)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_OBRAN);
    CDB_ATOM_OTERM* s[2] = {n.signal(), n.signal()};
    CDB_ATOM_NODE* adder = six_input_adder(n, {{DB_DATA_A, s[0]}}, kNot, kNot, nullptr);
    adder->add_output_term(DB_COMB_OUT);
    CDB_ATOM_NODE* sink = n.lut({{DB_DATA_A, n.out(adder)}, {DB_DATA_B, s[1]}}, kAnd);
    n.observe(n.out(adder, DB_SUM_OUT));
    n.observe(n.out(sink));
    EXPECT_EQ(n.collapse_keeping_function(), 0);
    EXPECT_TRUE(n.out(adder)->has_fanout());
}

TEST_F(NodeCollapserTest, FreeAleAndLabInputsCountWhatTheCellsAroundTheSinkRead)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_BRK);
    n.api()->reset_fsyn_chip_map(false);
    MORV_CHIP_MAP* chip_map = n.api()->get_fsyn_chip_map();
    ASSERT_NE(chip_map, nullptr);
    CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
    const FUNCTION zero = [](unsigned) { return false; };
    CDB_ATOM_NODE* source = n.lut({{DB_DATA_A, s[0]}, {DB_DATA_B, s[1]}}, kAnd);
    CDB_ATOM_NODE* sink = six_input_adder(n, {{DB_DATA_A, n.out(source)}, {DB_DATA_B, s[1]}}, kXor, zero, nullptr);
    CDB_ATOM_NODE* partner =
        six_input_adder(n, {{DB_DATA_A, s[2]}, {DB_DATA_B, s[0]}, {DB_DATA_C, s[3]}}, kXor, zero, nullptr);
    for (CDB_ATOM_NODE* cell : {sink, partner}) n.observe(n.out(cell, DB_SUM_OUT));
    auto collapser = std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_6LUT>>(n.api(), false);
    CDB_ATOM_ITERM* fanout = sink->get_input_term_by_type(DB_DATA_A);
    // Alone in its ALE: input C, and the one its source frees.
    chip_map->set_node_location(static_cast<int>(sink->get_id()), MORV_LOC{1, 1, 0, MORV_OPEN});
    EXPECT_EQ(collapser->count_free_ale_inputs(sink, fanout, false), 2);
    EXPECT_EQ(collapser->count_free_lab_inputs(sink), 36 - 2);
    // Beside an adder the pair reads five signals, more than its four.
    chip_map->set_node_location(static_cast<int>(partner->get_id()), MORV_LOC{1, 1, 2, MORV_OPEN});
    EXPECT_EQ(collapser->count_free_ale_inputs(sink, fanout, false), 1);
    EXPECT_EQ(collapser->count_free_ale_inputs(sink, fanout, true), 2);  // six with a share-in
    EXPECT_EQ(collapser->count_free_lab_inputs(sink), 36 - 5);
    // A partner still reading the source keeps it in the ALE.
    n.out(source)->insert_fanout(partner->get_input_term_by_type(DB_DATA_C));
    EXPECT_EQ(collapser->count_free_ale_inputs(sink, fanout, false), 0);
}

TEST_F(NodeCollapserTest, TheHostsVetoOnTheSinkOrItsChainKeepsTheSource)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_KESTLIN);
    CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
    const FUNCTION zero = [](unsigned) { return false; };
    CDB_ATOM_NODE* head = six_input_adder(n, {{DB_DATA_A, s[0]}}, kNot, zero, nullptr);
    CDB_ATOM_NODE* source = n.lut({{DB_DATA_A, s[1]}, {DB_DATA_B, s[2]}}, kXor);
    // The sink reads the chain's carry: it belongs to the chain.
    CDB_ATOM_NODE* sink = n.lut({{DB_DATA_A, n.out(source)}, {DB_DATA_B, s[3]}}, kAnd);
    head->add_output_term(DB_CARRY_OUT)->insert_fanout(sink->add_input_term(DB_CARRY_IN));
    n.observe(n.out(head, DB_SUM_OUT));
    n.observe(n.out(sink));
    n.env().veto_collapse(head->get_id());
    EXPECT_EQ(n.collapser()->collapse_nodes(), 0);
    EXPECT_GT(n.env().get_can_collapse_calls(), 0);
    n.env().m_collapse_vetoes.clear();
    n.env().veto_collapse(sink->get_id());
    EXPECT_EQ(n.collapser()->collapse_nodes(), 0);
    EXPECT_TRUE(n.out(source)->has_fanout());
    n.env().m_collapse_vetoes.clear();
    EXPECT_EQ(n.collapse_keeping_function(), 1);
}

TEST_F(NodeCollapserTest, ConstantsReadThroughInvertingPortsKeepTheirLogicalValue)
{
    for (int family : kNetUtilFamilies) {
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* x = n.signal();
        CDB_ATOM_OTERM* y = n.signal();
        // x and a GND tie read through an inverting port: x and 1.
        CDB_ATOM_NODE* source = n.lut({{DB_DATA_A, x}, {DB_DATA_D, nullptr}}, kAnd);
        CDB_ATOM_ITERM* tie = source->get_input_term_by_type(DB_DATA_D);
        tie->set_active_high(false);
        tie->set_gnd();
        ASSERT_TRUE(tie->is_logical_vcc());
        // The sink reads the source through an inverting port too.
        CDB_ATOM_NODE* sink = n.lut({{DB_DATA_B, n.out(source)}, {DB_DATA_A, y}}, kXor);
        sink->get_input_term_by_type(DB_DATA_B)->set_active_high(false);
        n.observe(n.out(sink));
        EXPECT_EQ(n.collapse_keeping_function(), 1) << "family " << family;
    }
}

TEST_F(NodeCollapserTest, TheDebugStopPointEndsThePass)
{
    cfg_set_value("fsyn_enable_debug_checkpoints", "on");
    cfg_set_value("fsyn_debug_checkpoint_stop_count", "1");
    cfg_set_value("fsyn_debug_checkpoint_stop_late", "on");
    COLLAPSE_NETLIST n(CDB_FAMILY_TEV);
    CDB_ATOM_NODE* sources[2];
    for (CDB_ATOM_NODE*& source : sources) {
        source = n.lut({{DB_DATA_A, n.signal()}, {DB_DATA_B, n.signal()}}, kXor);
        n.observe(n.out(n.lut({{DB_DATA_A, n.out(source)}, {DB_DATA_B, n.signal()}}, kAnd)));
    }
    EXPECT_EQ(n.collapse_keeping_function(), 1);
    EXPECT_FALSE(n.out(sources[0])->has_fanout());
    EXPECT_TRUE(n.out(sources[1])->has_fanout());
}

TEST_F(NodeCollapserTest, ChoosingTheLaterPassesOfALongChainBeforePlacementIsLinearInIt)
{
    // Alternating xors and ands over eight signals, every atom entered at
    // one LAB as the early flow enters them.
    for (int length : {400, 800}) {
        COLLAPSE_NETLIST n(CDB_FAMILY_BRK);
        std::vector<CDB_ATOM_OTERM*> s;
        for (int i = 0; i < 8; ++i) s.push_back(n.signal());
        CDB_ATOM_OTERM* previous = s[7];
        for (int i = 0; i < length; ++i)
            previous = n.out(n.lut({{DB_DATA_A, previous}, {DB_DATA_B, s[i % 8]}}, i % 2 ? kAnd : kXor));
        n.observe(previous);
        n.api()->reset_fsyn_chip_map(true);
        const auto before = n.table();
        auto collapser = n.collapser();
        const int collapsed = collapser->collapse_nodes();
        EXPECT_EQ(n.table(), before) << length;
        EXPECT_GT(collapsed, length / 2) << length;
        // A merge looks at its source, its sink and at most six drivers of each.
        EXPECT_LE(collapser->get_neighbour_notes(), 14L * collapsed) << length;
        // A walk of every LUT finds nothing the later passes left.
        EXPECT_EQ(collapser->collapse_nodes(), 0) << length;
    }
}

TEST_F(NodeCollapserTest, AnMrlCellOfACarryChainIsNoSource)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_MRL);
    CDB_ATOM_OTERM* s[3] = {n.signal(), n.signal(), n.signal()};
    CDB_ATOM_NODE* head = n.lut({{DB_DATA_A, s[0]}}, kNot);
    CDB_ATOM_NODE* chained = n.lut({{DB_DATA_A, s[1]}, {DB_DATA_B, s[2]}}, kXor);
    head->add_output_term(DB_CARRY_OUT)->insert_fanout(chained->add_input_term(DB_CARRY_IN));
    CDB_ATOM_NODE* sink = n.lut({{DB_DATA_A, n.out(chained)}, {DB_DATA_B, s[0]}}, kAnd);
    n.observe(n.out(head));
    n.observe(n.out(sink));
    EXPECT_EQ(n.collapse_keeping_function(), 0);
}

// UVO cells hold a register beside the LUT: a merge keeps away from cells
// whose register control (INVERTA) or feedback is in use, from a sink
// whose register loads the source, and from adders whose register or
// carry-in the merged LUT cannot serve.
TEST_F(NodeCollapserTest, UvoCellsRefuseMergesTheirRegisterOrCarryCannotTake)
{
    enum VARIANT
    {
        PLAIN,
        SOURCE_INVERTA,
        SOURCE_QFBK,
        SINK_INVERTA,
        SINK_QFBK,
        SINK_QFBK_WITHOUT_SYNCH_DATA,
        SINK_LOADS_SOURCE,
        SINK_LOADS_VCC,
        SINK_SYNCH_DATA_AND_CARRY_IN,
        SINK_ASYNCH_DATA,
        SINK_CHAIN_IN,
        ADDER,
        ADDER_SYNCH_DATA,
        ADDER_ASYNCH_DATA,
        ADDER_CARRY_IN_AT_C,
        ADDER_CARRY_IN_UNREAD
    };
    const std::pair<VARIANT, int> cases[] = {
        {PLAIN, 1},
        {SOURCE_INVERTA, 0},
        {SOURCE_QFBK, 0},
        {SINK_INVERTA, 0},
        {SINK_QFBK, 0},
        {SINK_QFBK_WITHOUT_SYNCH_DATA, 0},
        {SINK_LOADS_SOURCE, 0},
        {SINK_LOADS_VCC, 0},
        {SINK_SYNCH_DATA_AND_CARRY_IN, 0},
        {SINK_ASYNCH_DATA, 0},
        {SINK_CHAIN_IN, 0},
        {ADDER, 1},
        {ADDER_SYNCH_DATA, 0},
        {ADDER_ASYNCH_DATA, 0},
        {ADDER_CARRY_IN_AT_C, 1},
        {ADDER_CARRY_IN_UNREAD, 0},
    };
    for (const auto& [variant, merged] : cases) {
        COLLAPSE_NETLIST n(CDB_FAMILY_UVO);
        CDB_ATOM_NODE* source = n.lut({{DB_DATA_A, n.signal()}}, kNot);
        CDB_ATOM_NODE* sink = n.lut({{DB_DATA_A, n.out(source)}, {DB_DATA_B, n.signal()}}, kXor);
        n.observe(n.out(sink));
        switch (variant) {
        case SOURCE_INVERTA: n.drive(source, DB_REG_CONTROL, n.signal()); break;
        case SOURCE_QFBK: source->set_bit(CDB_ATOM_BIT_QFBK_MODE); break;
        case SINK_INVERTA: n.drive(sink, DB_REG_CONTROL, n.signal()); break;
        case SINK_QFBK:
            sink->set_bit(CDB_ATOM_BIT_QFBK_MODE);
            n.drive(sink, DB_SYNCH_DATA, n.signal());
            break;
        case SINK_QFBK_WITHOUT_SYNCH_DATA: sink->set_bit(CDB_ATOM_BIT_QFBK_MODE); break;
        case SINK_LOADS_SOURCE: n.drive(sink, DB_SYNCH_DATA, n.out(source)); break;
        case SINK_LOADS_VCC: sink->add_input_term(DB_SYNCH_LOAD)->set_vcc(); break;
        case SINK_SYNCH_DATA_AND_CARRY_IN:
            n.drive(sink, DB_SYNCH_DATA, n.signal());
            n.drive(sink, DB_CARRY_IN, n.signal());
            sink->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
            break;
        case SINK_ASYNCH_DATA: n.drive(sink, DB_ASYNCH_DATA, n.signal()); break;
        case SINK_CHAIN_IN: n.drive(sink, DB_CHAIN_IN_1, n.signal()); break;
        default: break;
        }
        if (variant >= ADDER) {
            // The sink's carry feeds the next cell of its chain.
            CDB_ATOM_NODE* next = n.lut({{DB_DATA_A, n.signal()}}, kXor);
            sink->add_output_term(DB_CARRY_OUT)->insert_fanout(next->add_input_term(DB_CARRY_IN));
            next->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
            n.observe(n.out(next));
        }
        if (variant == ADDER_SYNCH_DATA) n.drive(sink, DB_SYNCH_DATA, n.signal());
        if (variant == ADDER_ASYNCH_DATA) n.drive(sink, DB_ASYNCH_DATA, n.signal());
        if (variant == ADDER_CARRY_IN_AT_C || variant == ADDER_CARRY_IN_UNREAD) n.drive(sink, DB_CARRY_IN, n.signal());
        if (variant == ADDER_CARRY_IN_AT_C) sink->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
        EXPECT_EQ(n.collapse_keeping_function(), merged) << "case " << static_cast<int>(variant);
    }
}

// The family sweepers collapse through their slots: a sweep merges a chain
// into its last LUT and removes the rest, each slot answers as the family's
// collapser does, and the developer switch or a don't-touch source keeps
// the LUTs apart.
TEST_F(NodeCollapserTest, TheFamilySweepersCollapseThroughTheirSlots)
{
    for (int family : kNetUtilFamilies) {
        const std::string what = "family " + std::to_string(family);
        COLLAPSE_NETLIST n(family);
        CDB_ATOM_OTERM* s[4] = {n.signal(), n.signal(), n.signal(), n.signal()};
        CDB_ATOM_NODE* first = n.lut({{DB_DATA_A, s[0]}, {DB_DATA_B, s[1]}}, kXor);
        CDB_ATOM_NODE* middle = n.lut({{DB_DATA_B, n.out(first)}, {DB_DATA_A, s[2]}}, kAnd);
        CDB_ATOM_NODE* last = n.lut({{DB_DATA_C, n.out(middle)}, {DB_DATA_A, s[3]}}, kXor);
        n.observe(n.out(last));
        MORV_OWNER<MORV_NETLIST_SWEEPER> sweeper = morv_make_netlist_sweeper(n.api());
        CDB_ATOM_ITERM* fanout = middle->get_input_term_by_type(DB_DATA_B);
        EXPECT_TRUE(sweeper->is_collapsible_source(first)) << what;
        EXPECT_TRUE(sweeper->is_collapsible_fanout(first, fanout)) << what;
        EXPECT_TRUE(sweeper->can_collapse_into_normal_sink(first, fanout)) << what;
        EXPECT_FALSE(sweeper->is_sink_in_arithmetic_mode(middle)) << what;
        EXPECT_TRUE(sweeper->can_merge_inputs(first, fanout)) << what;
        // The merged list: the source's inputs, then the sink's other one;
        // reordered onto positions A, B, C, the rows give the sink a, b, c.
        MORV_SWEEPER_INPUT_LIST list;
        MORV_SWEEPER_INPUT_FLAGS flags;
        ASSERT_TRUE(sweeper->get_lut_inputs(first, &list, 0, &flags)) << what;
        ASSERT_TRUE(sweeper->get_lut_inputs(middle, &list, first->get_id(), &flags)) << what;
        ASSERT_EQ(list, (MORV_SWEEPER_INPUT_LIST{s[0], s[1], s[2]})) << what;
        // Another source's question in between: the slots that follow
        // answer for first still.
        EXPECT_TRUE(sweeper->can_merge_inputs(middle, last->get_input_term_by_type(DB_DATA_C))) << what;
        CDB_ATOM_OTERM* reordered[MORV_SWEEPER_LUT_SLOTS] = {};
        MORV_ITERM_PROPERTIES records[MORV_SWEEPER_LUT_SLOTS];
        for (size_t i = 0; i < flags.size(); ++i) records[i] = flags[i];
        sweeper->reorder_inputs(list, reordered, records, middle, first);
        EXPECT_EQ(std::vector<CDB_ATOM_OTERM*>(reordered, reordered + 4),
                  (std::vector<CDB_ATOM_OTERM*>{s[0], s[1], s[2], nullptr}))
            << what;
        for (unsigned row = 0; row < 8; ++row) {
            unsigned lut_inputs[MORV_SWEEPER_LUT_SLOTS];
            sweeper->evaluate_merged_lut(first, middle, row, reordered, records, lut_inputs);
            const unsigned expected = kAnd(((row >> 2) & 1u) | ((kXor(row) ? 1u : 0u) << 1)) ? 1u : 0u;
            EXPECT_EQ(n.util()->evaluate_comb_out(middle, lut_inputs), expected) << what << " row " << row;
        }

        const auto before = n.table();
        sweeper->collapse_node_into_sink(first, middle, list, flags);
        EXPECT_EQ(n.table(), before) << what;
        EXPECT_FALSE(n.out(first)->has_fanout()) << what;

        cfg_set_value("fsyn_disable_node_collapser", "on");
        EXPECT_EQ(morv_make_netlist_sweeper(n.api())->sweep(), 1) << what;  // first, unread, goes
        cfg_set_value("fsyn_disable_node_collapser", "off");
        CDB_ATOM_ASSIGNMENTS dont_touch;
        dont_touch.dont_touch = true;
        middle->set_assignments(dont_touch);
        EXPECT_EQ(sweeper->sweep(), 0) << what;
        middle->set_assignments(CDB_ATOM_ASSIGNMENTS());
        EXPECT_EQ(sweeper->sweep(), 2) << what;  // middle merged into last and removed
        EXPECT_EQ(n.table(), before) << what;
        int luts = 0;
        for (CDB_ATOM_NODE* node : *n.netlist()) luts += n.util()->is_lut(node) ? 1 : 0;
        EXPECT_EQ(luts, 1) << what;
        EXPECT_EQ(n.util()->get_number_of_connected_lut_inputs(last), 4) << what;
    }
}

// The adder slots of the 6-input sweepers: an adder's sum is the output its
// sink's list skips, and an inverter goes into an adder through its halves.
TEST_F(NodeCollapserTest, TheSixInputSweepersMergeAddersThroughTheirSlots)
{
    COLLAPSE_NETLIST n(CDB_FAMILY_RZK);
    CDB_ATOM_OTERM* s[3] = {n.signal(), n.signal(), n.signal()};
    CDB_ATOM_NODE* inverter = n.lut({{DB_DATA_A, s[0]}}, kNot);
    CDB_ATOM_NODE* adder = six_input_adder(n, {{DB_DATA_A, n.out(inverter)}, {DB_DATA_B, s[1]}}, kXor, kAnd, nullptr);
    CDB_ATOM_NODE* reader = n.lut({{DB_DATA_B, n.out(adder, DB_SUM_OUT)}, {DB_DATA_A, s[2]}}, kAnd);
    n.observe(n.out(reader));
    MORV_OWNER<MORV_NETLIST_SWEEPER> sweeper = morv_make_netlist_sweeper(n.api());
    MORV_SWEEPER_INPUT_LIST list;
    MORV_SWEEPER_INPUT_FLAGS flags;
    ASSERT_TRUE(sweeper->get_lut_inputs(reader, &list, adder->get_id(), &flags));
    EXPECT_EQ(list, MORV_SWEEPER_INPUT_LIST{s[2]});

    CDB_ATOM_ITERM* fanout = adder->get_input_term_by_type(DB_DATA_A);
    EXPECT_TRUE(sweeper->is_sink_in_arithmetic_mode(adder));
    EXPECT_TRUE(sweeper->can_collapse_into_arithmetic_sink(inverter, fanout));
    EXPECT_TRUE(sweeper->can_merge_inputs(inverter, fanout));
    list.clear();
    flags.clear();
    ASSERT_TRUE(sweeper->get_lut_inputs(inverter, &list, 0, &flags));
    ASSERT_TRUE(sweeper->get_lut_inputs(adder, &list, inverter->get_id(), &flags));
    // Another source's question in between: the merge is the inverter's still.
    sweeper->can_merge_inputs(adder, reader->get_input_term_by_type(DB_DATA_B));
    const auto before = n.table();
    sweeper->collapse_node_into_arithmetic_sink(inverter, adder, list, flags);
    EXPECT_EQ(n.table(), before);
    EXPECT_FALSE(n.out(inverter)->has_fanout());
}

}  // namespace

}  // namespace morv_node_collapser_test
