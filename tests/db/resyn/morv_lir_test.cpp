// LUT-input remapping: which inputs form groups, how a group's signals are
// sorted onto its inputs by criticality and delay, what travels with a
// signal, and which cells are never touched.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cfg/cfg.h"

#include "morv/resyn/morv_lir.h"
#include "../netlist/net_util_fixture.h"

namespace morv_lir_test {

namespace {

// Timing scripted per signal (slack ratio) and per input port (delay).
class SCRIPTED_LIR : public MORV_LIR
{
public:
    SCRIPTED_LIR(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_LIR(api, params) {}
    std::map<CDB_ATOM_OTERM*, double> ratios;
    std::map<int, int> delays;

protected:
    double input_slack_ratio(CDB_ATOM_ITERM* iterm) override
    {
        auto it = ratios.find(iterm->get_source());
        return it == ratios.end() ? 1.0 : it->second;
    }
    int input_delay(CDB_ATOM_ITERM* iterm) override
    {
        auto it = delays.find(iterm->get_any_usage_as());
        return it == delays.end() ? 300 : it->second;
    }
};

// MRL's data inputs, slowest at A and fastest at F.
const std::map<int, int> kMrlDelays = {{DB_DATA_A, 440}, {DB_DATA_B, 380}, {DB_DATA_C, 320},
                                       {DB_DATA_D, 260}, {DB_DATA_E, 200}, {DB_DATA_F, 140}};

class MorvLirTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        net = std::make_unique<NET_UTIL_NETLIST>(CDB_FAMILY_MRL);
        lir = std::make_unique<SCRIPTED_LIR>(net->api(), &params);
        lir->delays = kMrlDelays;
    }
    void TearDown() override
    {
        lir.reset();
        net.reset();
        MORV_CLEAN_STATE_TEST::TearDown();
    }

    // A LUT with the mask, its inputs given fresh drivers (one per entry of
    // used), and its output read by a sink.
    CDB_ATOM_NODE* lut(uint64_t mask, const std::vector<int>& used)
    {
        CDB_ATOM_NODE* node = net->lut6(numbered("lut", count++), mask, used);
        net->load(node, DB_COMB_OUT);
        return node;
    }
    static CDB_ATOM_OTERM* source_of(CDB_ATOM_NODE* node, int k)
    {
        return node->get_input_term_by_type(DB_DATA_A + k)->get_source();
    }
    static std::vector<CDB_ATOM_OTERM*> sources(CDB_ATOM_NODE* node)
    {
        std::vector<CDB_ATOM_OTERM*> out;
        for (int k = 0; k < 6; ++k) out.push_back(source_of(node, k));
        return out;
    }
    std::string groups(CDB_ATOM_NODE* node)
    {
        MORV_LIR::EQUIVALENCE_SET_LIST list;
        lir->find_equivalent_inputs(node, &list);
        std::string text;
        for (const auto& set : list) {
            text += "{";
            for (int k : *set) text += std::to_string(k);
            text += "}";
        }
        MORV_LIR::clear_equivalence_sets(&list);
        return text;
    }

    MORV_PARAMETER_MAP params;
    std::unique_ptr<NET_UTIL_NETLIST> net;
    std::unique_ptr<SCRIPTED_LIR> lir;
    int count = 0;
};

constexpr uint64_t AND6 = 0x8000000000000000ull;
// XOR of inputs 0 and 3, whatever the others.
constexpr uint64_t xor_0_3()
{
    uint64_t m = 0;
    for (int row = 0; row < 64; ++row)
        if (((row >> 0) ^ (row >> 3)) & 1) m |= uint64_t(1) << row;
    return m;
}

}  // namespace

TEST_F(MorvLirTest, SymmetricGroupsByTheSwapTest)
{
    EXPECT_EQ(groups(lut(AND6, {0, 1, 2, 3, 4, 5})), "{012345}");
    EXPECT_EQ(groups(lut(xor_0_3(), {0, 1, 2, 3, 4, 5})), "{03}");
    // (a & b) | (c & d): a~b and c~d, but not a~c.
    uint64_t ab_or_cd = 0;
    for (int row = 0; row < 64; ++row)
        if (((row & 3) == 3) || ((row & 12) == 12)) ab_or_cd |= uint64_t(1) << row;
    EXPECT_EQ(groups(lut(ab_or_cd, {0, 1, 2, 3})), "{01}{23}");
    // a & !b: no two inputs may change places.
    uint64_t a_not_b = 0;
    for (int row = 0; row < 64; ++row)
        if ((row & 3) == 1) a_not_b |= uint64_t(1) << row;
    EXPECT_EQ(groups(lut(a_not_b, {0, 1})), "");
    // A constant depends on nothing: no group.
    EXPECT_EQ(groups(lut(0, {0, 1})), "");
}

TEST_F(MorvLirTest, AnAndOfSixSortsAllItsSignalsByCriticalityOntoTheFastestInputs)
{
    CDB_ATOM_NODE* node = lut(AND6, {0, 1, 2, 3, 4, 5});
    const std::vector<CDB_ATOM_OTERM*> before = sources(node);
    // Signal k has slack ratio 0.1 * k: the signal on A is the most critical.
    for (int k = 0; k < 6; ++k) lir->ratios[before[k]] = 0.1 * k;
    EXPECT_EQ(lir->do_iter(), 1);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(source_of(node, 5 - k), before[k]) << k;
    // Now sorted: a second pass moves nothing and counts nothing.
    EXPECT_EQ(lir->do_iter(), 0);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(source_of(node, 5 - k), before[k]) << k;
}

TEST_F(MorvLirTest, OnlyTheGroupsInputsMoveAndUnusedInputsStay)
{
    CDB_ATOM_NODE* node = lut(xor_0_3(), {0, 1, 3});
    const std::vector<CDB_ATOM_OTERM*> before = sources(node);
    lir->ratios[before[0]] = 0.01;  // critical on A (slow), D is faster
    lir->ratios[before[1]] = 0.0;   // most critical of all, but B is not in the group
    lir->ratios[before[3]] = 0.5;
    EXPECT_EQ(lir->do_iter(), 1);
    EXPECT_EQ(source_of(node, 3), before[0]);
    EXPECT_EQ(source_of(node, 0), before[3]);
    EXPECT_EQ(source_of(node, 1), before[1]);
    EXPECT_EQ(source_of(node, 2), nullptr);
    EXPECT_EQ(node->get_lutmask().get_value(), xor_0_3()) << "the mask never changes";
}

TEST_F(MorvLirTest, TiesKeepIndexOrderAndTheSwitchHidesTheCount)
{
    CDB_ATOM_NODE* node = lut(AND6, {0, 1, 2});
    const std::vector<CDB_ATOM_OTERM*> before = sources(node);
    // Equal delays and equal ratios: nothing moves, nothing is counted.
    lir->delays = {{DB_DATA_A, 200}, {DB_DATA_B, 200}, {DB_DATA_C, 200}};
    for (int k = 0; k < 3; ++k) lir->ratios[before[k]] = 0.3;
    EXPECT_EQ(lir->do_iter(), 0);
    EXPECT_EQ(sources(node), before);
    // A's signal, the most critical, takes C (fastest); B's and C's signals tie
    // and keep their index order on the remaining B and A.
    lir->delays = {{DB_DATA_A, 400}, {DB_DATA_B, 300}, {DB_DATA_C, 100}};
    lir->ratios[before[0]] = 0.05;
    lir->ratios[before[1]] = 0.2;
    lir->ratios[before[2]] = 0.2;
    cfg_set_value("fsyn_lir_return_zero_operations", "on");
    EXPECT_EQ(lir->do_iter(), 0) << "remapped but not counted";
    EXPECT_EQ(source_of(node, 2), before[0]);
    EXPECT_EQ(source_of(node, 1), before[1]);
    EXPECT_EQ(source_of(node, 0), before[2]);
}

TEST_F(MorvLirTest, SettingsTravelWithTheirSignalAndTheFunctionHolds)
{
    // !a & !b & c with a and b symmetric (both read inverted in the mask).
    uint64_t mask = 0;
    for (int row = 0; row < 64; ++row)
        if ((row & 7) == 4) mask |= uint64_t(1) << row;
    CDB_ATOM_NODE* node = lut(mask, {0, 1, 2});
    EXPECT_EQ(groups(node), "{01}");
    const std::vector<CDB_ATOM_OTERM*> before = sources(node);
    node->get_input_term_by_type(DB_DATA_A)->set_invert();
    lir->ratios[before[0]] = 0.1;  // critical on the slower A
    lir->ratios[before[1]] = 0.9;
    MORV_NET_UTIL* util = net->util();
    std::vector<unsigned> truth;
    // Values by signal, so the table reads the same after the signals moved.
    auto table = [&](CDB_ATOM_NODE* n) {
        std::vector<unsigned> out;
        for (int v = 0; v < 8; ++v) {
            MORV_PORT_VALUES values;
            for (int k = 0; k < 3; ++k) {
                const CDB_ATOM_OTERM* s = source_of(n, k);
                const int signal = static_cast<int>(std::find(before.begin(), before.end(), s) - before.begin());
                values.emplace_back(DB_DATA_A + k, (v >> signal) & 1u);
            }
            out.push_back(util->evaluate_comb_out(n, values));
        }
        return out;
    };
    truth = table(node);
    EXPECT_EQ(lir->do_iter(), 1);
    EXPECT_EQ(source_of(node, 1), before[0]);
    EXPECT_TRUE(node->get_input_term_by_type(DB_DATA_B)->is_inverted()) << "the inversion moved with its signal";
    EXPECT_FALSE(node->get_input_term_by_type(DB_DATA_A)->is_inverted());
    EXPECT_EQ(table(node), truth);
}

TEST_F(MorvLirTest, InputsWithoutSourceOrDelayStayOut)
{
    CDB_ATOM_NODE* node = lut(AND6, {0, 1, 2});
    const std::vector<CDB_ATOM_OTERM*> before = sources(node);
    lir->ratios[before[2]] = 0.0;
    lir->delays[DB_DATA_A] = 0x7FFFFFFF;  // no path: A keeps its signal
    // B (380) and C (320): C's signal is the more critical and already on the faster input.
    EXPECT_EQ(lir->do_iter(), 0);
    EXPECT_EQ(sources(node), before);
    // Two usable inputs left out of three: a set reduced to one input stays.
    lir->delays[DB_DATA_B] = 0x7FFFFFFF;
    lir->ratios[before[0]] = 0.0;
    lir->ratios[before[2]] = 0.5;
    EXPECT_EQ(lir->do_iter(), 0);
    EXPECT_EQ(sources(node), before);
}

// A cell without input E (a native netlist's, or a replayed log's) reads a
// constant there: nothing moves onto or off it, and the rest sorts.
TEST_F(MorvLirTest, AnInputTheCellLacksStaysOut)
{
    CDB_ATOM_NODE* lacking = lut(AND6, {0, 1, 2, 3, 5});
    CDB_ATOM_ITERM* e = lacking->get_input_term_by_type(DB_DATA_E);
    lacking->remove_input_term(e);
    delete e;
    CDB_ATOM_OTERM* a = source_of(lacking, 0);
    lir->ratios[a] = 0.0;
    EXPECT_EQ(lir->do_iter(), 1);
    EXPECT_EQ(source_of(lacking, 5), a);
    EXPECT_EQ(lacking->get_input_term_by_type(DB_DATA_E), nullptr);
}

TEST_F(MorvLirTest, ChainsExtendedAndArithmeticCellsLatchesAndDeadCellsAreUntouched)
{
    auto reversed_ratios = [&](CDB_ATOM_NODE* node) {
        const std::vector<CDB_ATOM_OTERM*> s = sources(node);
        for (int k = 0; k < 6; ++k)
            if (s[k] != nullptr) lir->ratios[s[k]] = 0.1 * k;
    };
    // Extended mode: G connected, E and F pick quarters of the mask.
    CDB_ATOM_NODE* extended = lut(AND6, {0, 1, 2, 3, 4, 5});
    net->drive(extended, DB_DATA_G);
    // Arithmetic mode: the sum output is used.
    CDB_ATOM_NODE* arithmetic = lut(AND6, {0, 1, 2, 3, 4, 5});
    net->load(arithmetic, DB_SUM_OUT);
    // In a carry chain.
    CDB_ATOM_NODE* chained = lut(AND6, {0, 1, 2, 3, 4, 5});
    net->drive(chained, DB_CARRY_IN);
    // Without a used comb-out.
    CDB_ATOM_NODE* dead = net->atom(CDB_KIND_LCELL_COMB, "dead");
    for (int k = 0; k < 6; ++k) net->drive(dead, DB_DATA_A + k);
    dead->set_lutmask(CDB_LUTMASK(6, AND6));
    dead->add_output_term(DB_COMB_OUT);
    std::vector<std::vector<CDB_ATOM_OTERM*>> before;
    for (CDB_ATOM_NODE* n : {extended, arithmetic, chained, dead}) {
        reversed_ratios(n);
        before.push_back(sources(n));
    }
    EXPECT_EQ(lir->do_iter(), 0);
    int i = 0;
    for (CDB_ATOM_NODE* n : {extended, arithmetic, chained, dead}) EXPECT_EQ(sources(n), before[i++]) << i;
}

TEST_F(MorvLirTest, DefaultsAndInternalErrors)
{
    int np = -1, icp = -1, restore = -1, ni = -1, hci = -1;
    double fom = -1.0;
    lir->set_default_algorithm_parameters(np, icp, fom, restore);
    EXPECT_EQ(np, 1);
    EXPECT_EQ(icp, 0);
    EXPECT_EQ(fom, 0.0);
    EXPECT_EQ(restore, 1);
    lir->set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(ni, 10);
    EXPECT_EQ(hci, 10);
    EXPECT_EQ(lir->get_slack_ratio_threshold(), 0.125);
    np = 3;
    ni = 4;
    hci = -1;
    lir->set_default_algorithm_parameters(np, icp, fom, restore);
    lir->set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(np, 3);
    EXPECT_EQ(hci, 4);
    EXPECT_EQ(lir->get_short_name(), "LIR");
    EXPECT_EQ(lir->get_description(), "LIR");

    MORV_LIR::EQUIVALENCE_SET_LIST list;
    EXPECT_EQ(internal_error_of([&] { lir->find_equivalent_inputs(nullptr, &list); }), "node");
    EXPECT_EQ(internal_error_of([&] { MORV_LIR::add_equivalence(0, 1, nullptr); }), "equivalence_set_list");
    CDB_ATOM_NODE* node = lut(AND6, {0, 1});
    MORV_LIR::EQUIVALENCE_SET bad = {7};
    MORV_LIR::DELAY_LIST d;
    MORV_LIR::SLACK_RATIO_LIST s;
    MORV_LIR::PORT_TO_OTERM_MAP o;
    MORV_LIR::PORT_TO_FLAGS_MAP f;
    EXPECT_EQ(internal_error_of([&] { lir->collect_input_timing(node, &bad, &d, &s, &o, &f); }),
              "port_index >= 0 && port_index < input_number");
    // Pairs arriving in ascending order join the first set holding their first input.
    MORV_LIR::add_equivalence(0, 2, &list);
    MORV_LIR::add_equivalence(1, 3, &list);
    MORV_LIR::add_equivalence(0, 4, &list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(*list.front(), (MORV_LIR::EQUIVALENCE_SET{0, 2, 4}));
    MORV_LIR::clear_equivalence_sets(&list);
    EXPECT_TRUE(list.empty());
}

}  // namespace morv_lir_test
