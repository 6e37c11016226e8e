// The node collapser on random small networks of every family: plain LUTs
// with inverted inputs, inverting ports and constant inputs, adder chains
// (6-input halves with and without share-in, 4-input carry masks, UVO carry
// chains), extended-mode cells and UVO register cells. Every output of the
// network and every register's next state keeps its function through the
// collapse: by host evaluation on every input row, and by ABC on the written
// netlists. The same holds for a whole sweep by the family's sweeper, whose
// collapse step is the collapser.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_writer.h"
#include "msg/msg.h"
#include "test_files.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_netlist_sweeper.h"
#include "morv/netlist/morv_node_collapser.h"

namespace host_node_collapser_test {

using namespace morv_host;

namespace {

// The collapser of a family, told whether placement is done.
template <typename BASE>
class PLACED_COLLAPSER : public BASE
{
public:
    PLACED_COLLAPSER(MORV_API* api, bool pre_placement) : BASE(api), m_pre_placement(pre_placement) {}
    bool is_pre_placement() const override { return m_pre_placement; }

private:
    bool m_pre_placement;
};

std::unique_ptr<MORV_NODE_COLLAPSER> make_collapser(int family, MORV_API* api, bool pre_placement)
{
    switch (family) {
    case CDB_FAMILY_TEV:
    case CDB_FAMILY_ZEPLA: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_4LUT>>(api, pre_placement);
    case CDB_FAMILY_MRL: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_MRL>>(api, pre_placement);
    case CDB_FAMILY_UVO: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_UVO>>(api, pre_placement);
    default: return std::make_unique<PLACED_COLLAPSER<MORV_NODE_COLLAPSER_6LUT>>(api, pre_placement);
    }
}

bool is_six_input(int family)
{
    return cdb_family_lut_size(family) == 6;
}

// A random network, built in topological order.
class RANDOM_NETWORK
{
public:
    RANDOM_NETWORK(int family, uint64_t seed) : m_family(family), m_random(seed), m_design(family, nullptr) {}

    void build(int cells)
    {
        m_clock = pin("clk");
        for (int i = 0; i < 5; ++i) m_signals.push_back(pin(numbered("in", i)));
        m_inputs = m_signals;
        for (int i = 0; i < cells; ++i) add_random_cell();
        observe_every_signal();
    }

    int family() const { return m_family; }
    HOST_DESIGN& design() { return m_design; }
    CDB_ATOM_NETLIST* netlist() { return m_design.netlist(); }
    std::mt19937_64& random() { return m_random; }

    // Every observed value (output pins, register next states) for every
    // row of the inputs and register states.
    std::vector<std::vector<unsigned>> evaluate()
    {
        std::vector<CDB_ATOM_OTERM*> variables = m_inputs;
        variables.insert(variables.end(), m_states.begin(), m_states.end());
        std::vector<std::vector<unsigned>> table;
        for (unsigned row = 0; row < (1u << variables.size()); ++row) {
            m_value.clear();
            for (size_t v = 0; v < variables.size(); ++v) m_value[variables[v]] = (row >> v) & 1u;
            std::vector<unsigned> values;
            for (CDB_ATOM_ITERM* iterm : m_observed) values.push_back(seen(iterm));
            for (CDB_ATOM_NODE* reg : m_registers) values.push_back(lut_value(reg, DB_REG_OUT));
            table.push_back(values);
        }
        return table;
    }

    // The mask of every cell, to tell afterwards which ones a merge changed.
    std::map<uint32_t, uint64_t> masks()
    {
        std::map<uint32_t, uint64_t> result;
        for (CDB_ATOM_NODE* node : *m_design.netlist())
            if (node->get_kind() == CDB_KIND_LCELL_COMB || node->get_kind() == CDB_KIND_UVO_LCELL)
                result[node->get_id()] = node->get_lutmask().get_value() ^ (node->get_carry_lutmask().get_value() << 1);
        return result;
    }

    const std::vector<CDB_ATOM_NODE*>& adders() const { return m_adders; }

    // Whether every register cell still drives its state (a sweep folds a
    // register that can only hold 0 into its readers).
    bool registers_intact()
    {
        for (size_t r = 0; r < m_register_ids.size(); ++r) {
            CDB_ATOM_NODE* node = m_design.netlist()->get_node_by_id(m_register_ids[r]);
            if (node == nullptr || node->get_output_term_by_type(DB_REG_OUT) != m_states[r]) return false;
        }
        return true;
    }

    bool has_registers() const { return !m_register_ids.empty(); }

    int count_luts()
    {
        int luts = 0;
        for (CDB_ATOM_NODE* node : *m_design.netlist())
            luts += node->get_kind() == CDB_KIND_LCELL_COMB || node->get_kind() == CDB_KIND_UVO_LCELL ? 1 : 0;
        return luts;
    }

private:
    static std::string numbered(const char* prefix, int n) { return prefix + std::to_string(n); }

    HDB_INSTANCE_NAME* name(const std::string& text)
    {
        return m_design.netlist()->get_or_create_name_mgr()->find_or_create_path(text, 0);
    }

    CDB_ATOM_OTERM* pin(const std::string& text)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(m_family, CDB_KIND_IO, name(text));
        add(node);
        return node->add_output_term(DB_DATA_OUT, name(text));
    }

    void add(CDB_ATOM_NODE* node)
    {
        node->set_chip_db_entry(m_design.chip_entry());
        m_design.netlist()->add_node(node);
    }

    CDB_ATOM_NODE* cell(int kind = CDB_KIND_LCELL_COMB)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(m_family, kind, name(numbered("c", m_cells++)));
        add(node);
        return node;
    }

    CDB_ATOM_OTERM* output(CDB_ATOM_NODE* node, int port, bool as_signal = true)
    {
        CDB_ATOM_OTERM* oterm = node->add_output_term(port, name(numbered("n", m_nets++)));
        if (as_signal) m_signals.push_back(oterm);
        return oterm;
    }

    bool chance(int percent) { return static_cast<int>(m_random() % 100) < percent; }

    // A recent signal more often than an old one, so that the network is deep.
    CDB_ATOM_OTERM* pick_signal()
    {
        const size_t n = m_signals.size();
        if (n > 4 && chance(60)) return m_signals[n - 1 - m_random() % 4];
        return m_signals[m_random() % n];
    }

    // Drives the port from a signal or ties it, inverting now and then.
    void drive(CDB_ATOM_NODE* node, int port, int tie_percent = 6)
    {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr) iterm = node->add_input_term(port);
        if (chance(8)) iterm->set_active_high(false);
        if (chance(tie_percent)) {
            chance(50) ? iterm->set_vcc() : iterm->set_gnd();
        } else {
            pick_signal()->insert_fanout(iterm);
        }
        if (chance(12)) iterm->set_invert();
    }

    void add_random_cell()
    {
        const int kind = static_cast<int>(m_random() % 100);
        if (kind < 12) add_adder_chain();
        else if (kind < 16 && is_six_input(m_family)) add_extended_cell();
        else if (kind < 22 && m_family == CDB_FAMILY_UVO && m_states.size() < 3) add_register_cell();
        else add_lut();
    }

    void add_lut()
    {
        const int size = cdb_family_lut_size(m_family);
        CDB_ATOM_NODE* node = cell();
        std::vector<int> positions(size);
        for (int p = 0; p < size; ++p) positions[p] = p;
        std::shuffle(positions.begin(), positions.end(), m_random);
        const int inputs = 1 + static_cast<int>(m_random() % size);
        for (int i = 0; i < inputs; ++i) drive(node, DB_DATA_A + positions[i]);
        node->set_lutmask(CDB_LUTMASK(size, m_random()));
        // A 4-input LUT that reads its (unconnected) carry-in at C, or a UVO
        // LUT reading it there.
        if (!is_six_input(m_family) && chance(10)) {
            if (m_family == CDB_FAMILY_UVO) node->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
            else node->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        }
        output(node, DB_COMB_OUT);
    }

    void add_extended_cell()
    {
        CDB_ATOM_NODE* node = cell();
        for (int port = DB_DATA_A; port <= DB_DATA_G; ++port)
            if (port == DB_DATA_G || chance(70)) drive(node, port, 0);
        node->set_lutmask(CDB_LUTMASK(6, m_random()));
        output(node, DB_COMB_OUT);
    }

    void add_register_cell()
    {
        CDB_ATOM_NODE* node = cell(CDB_KIND_REGISTER);
        drive(node, DB_DATA_A, 0);
        if (chance(50)) drive(node, DB_DATA_B, 0);
        node->set_lutmask(CDB_LUTMASK(4, chance(50) ? 0xAAAA : m_random()));
        m_clock->insert_fanout(node->add_input_term(DB_CLOCK));
        CDB_ATOM_OTERM* q = output(node, DB_REG_OUT);
        m_states.push_back(q);
        m_registers.push_back(node);
        m_register_ids.push_back(node->get_id());
    }

    // Two or three cells whose carry (and share) outputs feed the next cell's
    // carry-in (and share-in) and nothing else.
    void add_adder_chain()
    {
        const int length = 2 + static_cast<int>(m_random() % 2);
        const bool share = is_six_input(m_family) && chance(35);
        CDB_ATOM_NODE* previous = nullptr;
        for (int i = 0; i < length; ++i) {
            CDB_ATOM_NODE* node = cell();
            if (is_six_input(m_family)) add_six_input_adder(node);
            else add_four_input_adder(node);
            if (previous != nullptr) {
                output(previous, DB_CARRY_OUT, false)->insert_fanout(node->add_input_term(DB_CARRY_IN));
                if (share) output(previous, DB_SHARE_OUT, false)->insert_fanout(node->add_input_term(DB_SHARE_IN));
            }
            m_adders.push_back(node);
            previous = node;
        }
    }

    void add_six_input_adder(CDB_ATOM_NODE* node)
    {
        for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_F})
            if (chance(65)) drive(node, port);
        node->set_lutmask(CDB_LUTMASK(6, m_random()));
        output(node, DB_SUM_OUT);
        if (chance(12)) output(node, DB_COMB_OUT);
    }

    void add_four_input_adder(CDB_ATOM_NODE* node)
    {
        drive(node, DB_DATA_A);
        if (chance(70)) drive(node, DB_DATA_B);
        CDB_ATOM_ITERM* d = node->add_input_term(DB_DATA_D);
        if (chance(85)) d->set_vcc();
        else pick_signal()->insert_fanout(d);
        // The LUT reads the carry-in at C, except now and then.
        const bool reads_carry = chance(85);
        if (m_family == CDB_FAMILY_UVO) {
            if (reads_carry) node->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
        } else if (reads_carry) {
            node->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        }
        if (!reads_carry && chance(50)) drive(node, DB_DATA_C);
        node->set_lutmask(CDB_LUTMASK(4, m_random()));
        node->set_carry_lutmask(CDB_LUTMASK(4, m_random()));
        output(node, DB_COMB_OUT);
    }

    // Every signal nobody reads, and some that others read too, drive an
    // output pin.
    void observe_every_signal()
    {
        int pins = 0;
        for (CDB_ATOM_OTERM* signal : std::vector<CDB_ATOM_OTERM*>(m_signals)) {
            if (signal->get_my_node()->is_pin()) continue;
            if (signal->has_fanout() && !chance(25)) continue;
            CDB_ATOM_NODE* out = cdb_create_output_pin(m_family, name(numbered("out", pins++)));
            add(out);
            signal->insert_fanout(out->get_input_term_by_type(DB_DATAIN));
            m_observed.push_back(out->get_input_term_by_type(DB_DATAIN));
        }
    }

    unsigned seen(const CDB_ATOM_ITERM* iterm)
    {
        if (iterm == nullptr || !iterm->is_connected()) return 0;
        if (!iterm->is_driven()) return iterm->is_logical_vcc() ? 1u : 0u;
        return value(iterm->get_source()) ^ (iterm->reads_complemented() ? 1u : 0u);
    }

    unsigned lut_value(CDB_ATOM_NODE* node, int port)
    {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
            in[k] = seen(node->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]));
        const unsigned v = node->evaluate_output(port, in);
        EXPECT_LE(v, 1u) << "atom " << node->get_id() << " output " << port;
        return v & 1u;
    }

    unsigned value(CDB_ATOM_OTERM* oterm)
    {
        auto known = m_value.find(oterm);
        if (known != m_value.end()) return known->second;
        const unsigned v = lut_value(oterm->get_my_node(), oterm->get_usage());
        m_value[oterm] = v;
        return v;
    }

    int m_family;
    std::mt19937_64 m_random;
    HOST_DESIGN m_design;
    CDB_ATOM_OTERM* m_clock = nullptr;
    std::vector<CDB_ATOM_OTERM*> m_signals;
    std::vector<CDB_ATOM_OTERM*> m_inputs;
    std::vector<CDB_ATOM_OTERM*> m_states;
    std::vector<CDB_ATOM_NODE*> m_registers;
    std::vector<uint32_t> m_register_ids;
    std::vector<CDB_ATOM_NODE*> m_adders;
    std::vector<CDB_ATOM_ITERM*> m_observed;
    std::map<const CDB_ATOM_OTERM*, unsigned> m_value;
    int m_cells = 0;
    int m_nets = 0;
};

// Puts every logic cell into the chip map, two LABs' worth at a time.
void place_cells(MORV_API* api, CDB_ATOM_NETLIST* netlist)
{
    api->reset_fsyn_chip_map(false);
    MORV_CHIP_MAP* chip_map = api->get_fsyn_chip_map();
    ASSERT_NE(chip_map, nullptr);
    int placed = 0;
    for (CDB_ATOM_NODE* node : *netlist) {
        if (node->is_pin()) continue;
        const int lab = placed / 8;
        chip_map->set_node_location(static_cast<int>(node->get_id()),
                                    MORV_LOC{1 + lab % 3, 1 + lab / 3, placed % 8, MORV_OPEN});
        ++placed;
    }
}

bool every_node_consistent(CDB_ATOM_NETLIST* netlist)
{
    for (CDB_ATOM_NODE* node : *netlist)
        if (!node->verify_fanin() || !node->verify_fanout()) return false;
    return true;
}

struct TALLY
{
    int collapsed = 0;
    int adders_merged = 0;
};

// Builds, collapses and checks one network; ABC compares the two netlists when asked.
void collapse_and_check(int family, uint64_t seed, bool pre_placement, bool with_abc, TALLY* tally)
{
    RANDOM_NETWORK network(family, seed);
    network.build(10 + static_cast<int>(seed % 12));
    const std::string what = "family " + std::to_string(family) + " seed " + std::to_string(seed);
    const std::vector<std::vector<unsigned>> before = network.evaluate();
    const std::map<uint32_t, uint64_t> masks_before = network.masks();
    if (with_abc) blif_write_netlist_file(*network.netlist(), "before.blif", "net");
    HOST_ENV env(network.design());
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr) << what;
    MORV_API* api = expert->get_fsyn_api();
    if (!pre_placement) place_cells(api, network.netlist());
    std::unique_ptr<MORV_NODE_COLLAPSER> collapser = make_collapser(family, api, pre_placement);
    tally->collapsed += collapser->collapse_nodes();
    // The passes after the first visited the neighbourhood of the edits
    // only: a walk of the whole netlist finds nothing they missed.
    EXPECT_EQ(collapser->collapse_nodes(), 0) << what;
    ASSERT_TRUE(every_node_consistent(network.netlist())) << what;
    ASSERT_EQ(network.evaluate(), before) << what;
    const std::map<uint32_t, uint64_t> masks_after = network.masks();
    for (CDB_ATOM_NODE* adder : network.adders())
        tally->adders_merged += masks_after.at(adder->get_id()) != masks_before.at(adder->get_id()) ? 1 : 0;
    if (!with_abc) return;
    blif_write_netlist_file(*network.netlist(), "after.blif", "net");
    const ABC_RESULT result = abc_check_equivalence("before.blif", "after.blif", family == CDB_FAMILY_UVO);
    EXPECT_TRUE(result.is_equivalent()) << what << "\n" << result.m_command << "\n" << result.m_output;
}

// Builds and sweeps one network with the family's sweeper; ABC compares the
// two netlists when asked. Adds the LUTs the sweep removed to `removed`.
void sweep_and_check(int family, uint64_t seed, bool with_abc, int* removed)
{
    RANDOM_NETWORK network(family, seed);
    network.build(10 + static_cast<int>(seed % 12));
    const std::string what = "family " + std::to_string(family) + " seed " + std::to_string(seed);
    const std::vector<std::vector<unsigned>> before = network.evaluate();
    const int luts_before = network.count_luts();
    const std::string stem = "sweep" + std::to_string(seed);
    if (with_abc) blif_write_netlist_file(*network.netlist(), stem + ".before.blif", "net");
    HOST_ENV env(network.design());
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr) << what;
    morv_make_netlist_sweeper(expert->get_fsyn_api())->sweep();
    ASSERT_TRUE(every_node_consistent(network.netlist())) << what;
    const int luts_after = network.count_luts();
    EXPECT_LE(luts_after, luts_before) << what;
    *removed += luts_before - luts_after;
    if (network.registers_intact()) {
        EXPECT_EQ(network.evaluate(), before) << what;
    }
    if (!with_abc) return;
    blif_write_netlist_file(*network.netlist(), stem + ".after.blif", "net");
    const ABC_RESULT result =
        abc_check_equivalence(stem + ".before.blif", stem + ".after.blif", network.has_registers());
    EXPECT_TRUE(result.is_equivalent()) << what << "\n" << result.m_command << "\n" << result.m_output;
}

const int kFamilies[] = {CDB_FAMILY_BRK,     CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV,   CDB_FAMILY_MRL,
                         CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK,   CDB_FAMILY_OBRAN, CDB_FAMILY_UVO};

TEST(HostNodeCollapser, RandomNetworksOfEveryFamilyKeepTheirFunction)
{
    msg_set_quiet(true);
    const bool abc = abc_is_available();
    for (int family : kFamilies) {
        TALLY tally;
        for (uint64_t seed = 1; seed <= 60; ++seed)
            collapse_and_check(family, family * 1000 + seed, seed % 2 == 0, abc && seed <= 3, &tally);
        EXPECT_GT(tally.collapsed, 100) << "family " << family;
        if (family != CDB_FAMILY_MRL) {
            EXPECT_GT(tally.adders_merged, 3) << "family " << family;
        }
    }
}

TEST(HostNodeCollapser, RandomNetworksOfEveryFamilyKeepTheirFunctionThroughASweep)
{
    msg_set_quiet(true);
    const bool abc = abc_is_available();
    for (int family : kFamilies) {
        int removed = 0;
        for (uint64_t seed = 1; seed <= 40; ++seed)
            sweep_and_check(family, family * 7000 + seed, abc && seed <= 3, &removed);
        // Sweeping without merges removes only dead and constant cells, which
        // these networks have few of.
        EXPECT_GT(removed, 40) << "family " << family;
    }
}

// An MRL cell in arithmetic mode outside any chain (its sum output used, no
// carry or share connection) takes no merge, while a plain sink of the same
// one-input source does: the source stays for the adder alone.
TEST(HostNodeCollapser, AnMrlSweepMergesNothingIntoALoneArithmeticCell)
{
    msg_set_quiet(true);
    HOST_DESIGN design(CDB_FAMILY_MRL, nullptr);
    CDB_ATOM_NETLIST* netlist = design.netlist();
    const auto name = [&](const std::string& text) {
        return netlist->get_or_create_name_mgr()->find_or_create_path(text, 0);
    };
    const auto add = [&](CDB_ATOM_NODE* node) {
        node->set_chip_db_entry(design.chip_entry());
        netlist->add_node(node);
        return node;
    };
    const auto pin = [&](const std::string& text) {
        return add(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_IO, name(text)))->add_output_term(DB_DATA_OUT, name(text));
    };
    const auto observe = [&](CDB_ATOM_OTERM* oterm, const std::string& text) {
        oterm->insert_fanout(add(cdb_create_output_pin(CDB_FAMILY_MRL, name(text)))->get_input_term_by_type(DB_DATAIN));
    };
    const auto lut = [&](const std::string& text, std::vector<CDB_ATOM_OTERM*> inputs, uint64_t mask, int out) {
        CDB_ATOM_NODE* node = add(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_LCELL_COMB, name(text)));
        for (size_t i = 0; i < inputs.size(); ++i)
            inputs[i]->insert_fanout(node->add_input_term(DB_DATA_A + static_cast<int>(i)));
        node->set_lutmask(CDB_LUTMASK(6, mask));
        observe(node->add_output_term(out, name(text)), text + "_pin");
        return node;
    };
    CDB_ATOM_OTERM* a = pin("a");
    CDB_ATOM_OTERM* c = pin("c");
    // not_a = !a; plain = not_a ^ c; adder sums not_a and c in its low half.
    CDB_ATOM_NODE* source = lut("not_a", {a}, 0x5555555555555555ull, DB_COMB_OUT);
    CDB_ATOM_OTERM* not_a = source->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_NODE* plain = lut("plain", {not_a, c}, 0x6666666666666666ull, DB_COMB_OUT);
    CDB_ATOM_NODE* adder = lut("adder", {not_a, c}, 0x0000000800000006ull, DB_SUM_OUT);
    blif_write_netlist_file(*netlist, "lone_adder.before.blif", "net");
    HOST_ENV env(design);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    morv_make_netlist_sweeper(expert->get_fsyn_api())->sweep();
    ASSERT_TRUE(every_node_consistent(netlist));
    // The plain sink reads a and c now: !a ^ c is 1 on rows 00 and 11.
    EXPECT_EQ(plain->get_input_term_by_type(DB_DATA_A)->get_source(), a);
    EXPECT_EQ(plain->get_input_term_by_type(DB_DATA_B)->get_source(), c);
    EXPECT_EQ(plain->get_lutmask().get_value(), 0x9999999999999999ull);
    // The adder still reads the source, whose function it keeps.
    EXPECT_EQ(netlist->get_node_by_id(source->get_id()), source);
    EXPECT_EQ(adder->get_input_term_by_type(DB_DATA_A)->get_source(), not_a);
    EXPECT_EQ(adder->get_input_term_by_type(DB_DATA_B)->get_source(), c);
    EXPECT_EQ(adder->get_lutmask().get_value(), 0x0000000800000006ull);
    EXPECT_EQ(source->get_lutmask().get_value(), 0x5555555555555555ull);
    if (!abc_is_available()) return;
    blif_write_netlist_file(*netlist, "lone_adder.after.blif", "net");
    const ABC_RESULT result = abc_check_equivalence("lone_adder.before.blif", "lone_adder.after.blif", false);
    EXPECT_TRUE(result.is_equivalent()) << result.m_command << "\n" << result.m_output;
}

// A sweep may fold every register of a network away; ABC still decides
// whether the register-free result is the same machine.
TEST(HostNodeCollapser, AbcDecidesASweepResultWithoutRegisters)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const std::string head = ".model m\n.inputs clk a b\n.outputs y\n";
    // The register only ever loads 0, so y is a AND b.
    write_file("held.blif", head + ".names z\n.latch z q re clk 0\n.names a b q y\n110 1\n.end\n");
    write_file("folded.blif", head + ".names a b y\n11 1\n.end\n");
    write_file("wrong.blif", head + ".names a b y\n10 1\n.end\n");
    const ABC_RESULT same = abc_check_equivalence("held.blif", "folded.blif", true);
    EXPECT_TRUE(same.is_equivalent()) << same.m_command << "\n" << same.m_output;
    const ABC_RESULT other = abc_check_equivalence("held.blif", "wrong.blif", true);
    EXPECT_TRUE(other.is_not_equivalent()) << other.m_command << "\n" << other.m_output;
}

}  // namespace

}  // namespace host_node_collapser_test
