// The cycle simulator against the cells' own evaluation and the register
// rule, and the BLIF writer against the simulator: the written file run by
// a small BLIF interpreter here agrees with the simulator cycle by cycle.
#include <gtest/gtest.h>

#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "cycle_sim.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "seq_gen.h"
#include "test_build.h"

namespace cycle_sim_test {

namespace {

// Just enough BLIF: .inputs, .outputs, .names with cubes, .latch with init 0.
// Nets are numbered as they are read, so that the exhaustive walks stay quick.
class BLIF_SIM
{
public:
    explicit BLIF_SIM(const std::string& text)
    {
        std::istringstream in(text);
        std::string line;
        int cover = -1;
        while (std::getline(in, line)) {
            std::istringstream w(line);
            std::vector<std::string> t;
            for (std::string s; w >> s;) t.push_back(s);
            if (t.empty()) continue;
            if (t[0] == ".inputs") m_inputs.assign(t.begin() + 1, t.end());
            else if (t[0] == ".latch") m_latches.push_back({net(t[1]), net(t[2])});
            else if (t[0] == ".names") {
                std::vector<int> ins;  // numbered first: numbering grows m_covers
                for (size_t k = 1; k + 1 < t.size(); ++k) ins.push_back(net(t[k]));
                cover = net(t.back());
                m_covers[cover].ins = ins;
                m_covers[cover].present = true;
            } else if (t[0][0] != '.' && cover >= 0) {
                m_covers[cover].cubes.push_back(t.size() == 2 ? t[0] : "");
                m_covers[cover].on = t.back() == "1";
            }
        }
    }
    const std::vector<std::string>& inputs() const { return m_inputs; }
    void set(const std::string& name, unsigned v)
    {
        m_value[net(name)] = v & 1u;
        std::fill(m_settled.begin(), m_settled.end(), UNSETTLED);
    }
    unsigned get(const std::string& name) { return get(net(name)); }
    void clock()
    {
        std::vector<unsigned> next;
        for (const auto& l : m_latches) next.push_back(get(l.first));
        set_state(next);
    }
    // The latches' values, in the file's order.
    std::vector<unsigned> state() const
    {
        std::vector<unsigned> s;
        for (const auto& l : m_latches) s.push_back(m_value[l.second]);
        return s;
    }
    void set_state(const std::vector<unsigned>& s)
    {
        for (size_t i = 0; i < m_latches.size(); ++i) m_value[m_latches[i].second] = s.at(i) & 1u;
        std::fill(m_settled.begin(), m_settled.end(), UNSETTLED);
    }

private:
    static constexpr uint8_t UNSETTLED = 2;
    struct COVER
    {
        bool present = false;
        std::vector<int> ins;
        std::vector<std::string> cubes;
        bool on = true;
    };
    int net(const std::string& name)
    {
        auto [it, added] = m_nets.emplace(name, static_cast<int>(m_value.size()));
        if (added) {
            m_value.push_back(0);
            m_settled.push_back(UNSETTLED);
            m_covers.emplace_back();
        }
        return it->second;
    }
    unsigned get(int n)
    {
        const COVER& c = m_covers[n];
        if (!c.present) return m_value[n];
        if (m_settled[n] != UNSETTLED) return m_settled[n];
        bool hit = false;
        for (const std::string& cube : c.cubes) {
            bool match = true;
            for (size_t k = 0; k < cube.size() && match; ++k)
                if (cube[k] != '-') match = get(c.ins[k]) == unsigned(cube[k] - '0');
            hit = hit || match;
        }
        const unsigned v = c.cubes.empty() ? 0u : (hit == c.on ? 1u : 0u);
        m_settled[n] = static_cast<uint8_t>(v);
        return v;
    }
    std::vector<std::string> m_inputs;
    std::vector<std::pair<int, int>> m_latches;  // next-state net, output net
    std::unordered_map<std::string, int> m_nets;
    std::vector<COVER> m_covers;  // by net; `present` for a net a cover drives
    std::vector<unsigned> m_value;
    std::vector<uint8_t> m_settled;
};

const int k_families[] = {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV, CDB_FAMILY_BRK,
                          CDB_FAMILY_MRL,   CDB_FAMILY_RZK, CDB_FAMILY_UVO};

}  // namespace

// Every generated cell kind of every family (LUTs in each bit order, carry
// chains, shared arithmetic, extended mode, the MRL adder, registers with
// every control, UVO packed registers): the written file and the simulator
// agree on every output in every cycle.
TEST(CycleSim, WrittenBlifAndSimulatorAgreeCycleByCycle)
{
    for (int family : k_families)
        for (uint64_t seed = 0; seed < 40; ++seed) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            o.m_cells = 16;
            o.m_outputs = 8;
            std::unique_ptr<CDB_ATOM_NETLIST> nl = seq_generate(o, seed);
            std::ostringstream text;
            blif_write_netlist(*nl, text);
            BLIF_SIM blif(text.str());
            CYCLE_SIM sim(*nl);
            std::mt19937_64 rng(seed);
            for (int cycle = 0; cycle < 64; ++cycle) {
                for (size_t i = 0; i < sim.input_names().size(); ++i) {
                    const unsigned v = rng() & 1u;
                    sim.set_input(i, v);
                    blif.set(sim.input_names()[i], v);
                }
                for (size_t k = 0; k < sim.output_names().size(); ++k)
                    ASSERT_EQ(sim.output(k), blif.get(sim.output_names()[k]))
                        << "family " << family << " seed " << seed << " cycle " << cycle << " "
                        << sim.output_names()[k];
                sim.clock();
                blif.clock();
            }
        }
}

// DSP modes without a function (multiply-accumulate, dynamic) are refused by name.
TEST(CycleSim, BlocksWithoutAFunctionAreRefusedByName)
{
    SEQ_GEN_OPTIONS o;
    std::unique_ptr<CDB_ATOM_NETLIST> nl = seq_generate(o, 3);
    CDB_ATOM_NODE* mac =
        cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_MAC_OUT, nl->get_name_mgr()->create_unique_name("mac", 0));
    CUT_MAC_UTIL::set_mode(mac, CUT_MAC_MODE_DYNAMIC);
    nl->add_node(mac);
    EXPECT_THROW(CYCLE_SIM sim(*nl), std::runtime_error);
    std::unique_ptr<CDB_ATOM_NETLIST> other = seq_generate(o, 3);
    COSIM_RESULT r = cosimulate(*nl, *other, 10, 1);
    EXPECT_FALSE(r.m_agree);
    EXPECT_NE(r.m_error.find("'mac': DSP mode 8"), std::string::npos) << r.describe();

    // A RAM output the model gives no function (an observable address) is
    // refused when something reads it, by the simulator and the writer alike.
    std::unique_ptr<CDB_ATOM_NETLIST> ram_nl = seq_generate(o, 3);
    CDB_ATOM_NODE* ram =
        cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_RAM, ram_nl->get_name_mgr()->create_unique_name("ram", 0));
    ram_nl->add_node(ram);
    CDB_ATOM_OTERM* observed = ram->add_output_term(DB_RAM_OBSERVABLE_PORTA_ADDRESS);
    CDB_ATOM_NODE* reader = seq_find(*ram_nl, std::string("o0") + BLIF_OUTPUT_PIN_SUFFIX);
    ASSERT_NE(reader, nullptr);
    CYCLE_SIM unread(*ram_nl);  // no fanout yet: nothing to refuse
    CDB_ATOM_ITERM* pin = reader->get_input_term_by_type(DB_DATAIN);
    pin->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    observed->insert_fanout(pin);
    for (int writer = 0; writer < 2; ++writer) try {
            if (writer) {
                std::ostringstream text;
                blif_write_netlist(*ram_nl, text);
            } else {
                CYCLE_SIM sim(*ram_nl);
            }
            ADD_FAILURE() << "an output without a function was accepted";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find("'ram': output"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("has no function"), std::string::npos) << e.what();
        }
}

namespace {

// A netlist of hand-built blocks: input pins by name, one output pin per
// block output bit.
class BLOCK_BENCH
{
public:
    explicit BLOCK_BENCH(int family = CDB_FAMILY_BRK) : m_nl(std::make_unique<CDB_ATOM_NETLIST>(family))
    {
        m_nl->set_name_mgr(new HDB_NAME_MGR("top"), true);
    }
    CDB_ATOM_NETLIST& netlist() { return *m_nl; }
    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(m_nl->get_family(), kind, m_nl->get_name_mgr()->create_unique_name(n, 0));
        m_nl->add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* input(const std::string& n)
    {
        if (m_inputs.count(n)) return m_inputs[n];
        CDB_ATOM_NODE* pin = add(CDB_KIND_IO, n);
        return m_inputs[n] = pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    }
    // Bits of a bus input from pins "<n><k>".
    void bus(CDB_ATOM_NODE* node, int port, const std::string& n, int width)
    {
        for (int k = 0; k < width; ++k) input(n + std::to_string(k))->insert_fanout(node->add_input_term(port, k));
    }
    // A one-bit input from pin "<n>".
    void pin(CDB_ATOM_NODE* node, int port, const std::string& n)
    {
        input(n)->insert_fanout(node->add_input_term(port));
    }
    // A RAM "ram" with its port A address from pins "wa<k>", its port B
    // address from "ra<k>" and its port A data from "d<k>".
    CDB_ATOM_NODE* ram(int address_a_bits, int address_b_bits, int data_bits)
    {
        CDB_ATOM_NODE* node = add(CDB_KIND_RAM, "ram");
        bus(node, DB_RAM_PORTA_ADDRESS, "wa", address_a_bits);
        bus(node, DB_RAM_PORTB_ADDRESS, "ra", address_b_bits);
        bus(node, DB_RAM_PORTA_DATAIN, "d", data_bits);
        return node;
    }
    // Output bits to pins "<n><k>".
    void out(CDB_ATOM_NODE* node, int port, const std::string& n, int width)
    {
        for (int k = 0; k < width; ++k) {
            const std::string name = n + std::to_string(k);
            drive(node->add_output_term(port, m_nl->get_name_mgr()->create_unique_name(name + "_q", 0), k), name);
        }
    }
    // An output pin "<n>" reading `o`.
    void drive(CDB_ATOM_OTERM* o, const std::string& n)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(
            m_nl->get_family(), m_nl->get_name_mgr()->create_unique_name(n + BLIF_OUTPUT_PIN_SUFFIX, 0));
        m_nl->add_node(pin);
        o->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
    }

private:
    std::unique_ptr<CDB_ATOM_NETLIST> m_nl;
    std::map<std::string, CDB_ATOM_OTERM*> m_inputs;
};

// The simulator and the written file side by side, driven by name.
struct BOTH
{
    explicit BOTH(const CDB_ATOM_NETLIST& nl) : sim(nl), blif(written(nl)) {}
    static std::string written(const CDB_ATOM_NETLIST& nl)
    {
        std::ostringstream text;
        blif_write_netlist(nl, text);
        return text.str();
    }
    void set(const std::string& name, unsigned v)
    {
        for (size_t i = 0; i < sim.input_names().size(); ++i)
            if (sim.input_names()[i] == name) sim.set_input(i, v);
        blif.set(name, v);
    }
    void set_bus(const std::string& n, int width, unsigned v)
    {
        for (int k = 0; k < width; ++k) set(n + std::to_string(k), (v >> k) & 1u);
    }
    // The bus value; the written file must agree bit by bit.
    unsigned get_bus(const std::string& n, int width)
    {
        unsigned v = 0;
        for (int k = 0; k < width; ++k) {
            const std::string port = n + std::to_string(k);
            unsigned bit = 2;
            for (size_t i = 0; i < sim.output_names().size(); ++i)
                if (sim.output_names()[i] == port) bit = sim.output(i);
            EXPECT_EQ(bit, blif.get(port)) << port;
            v |= (bit & 1u) << k;
        }
        return v;
    }
    void clock()
    {
        sim.clock();
        blif.clock();
    }
    CYCLE_SIM sim;
    BLIF_SIM blif;
};

// What one logic cell of a family reads (evaluate_output's input slots)
// and gives.
struct CELL_SHAPE
{
    const char* what;
    int kind;
    std::vector<int> slots;
    std::vector<int> outputs;
};

std::vector<CELL_SHAPE> cell_shapes(int family)
{
    const int size = cdb_family_lut_size(family);
    std::vector<int> lut;
    for (int k = 0; k < size; ++k) lut.push_back(k);
    const int carry = CDB_ATOM_NODE::EVALUATE_CARRY_SLOT;
    std::vector<CELL_SHAPE> shapes{{"lut", CDB_KIND_LCELL_COMB, lut, {DB_COMB_OUT}}};
    if (size == 4 && family != CDB_FAMILY_UVO)
        shapes.push_back({"carry", CDB_KIND_LCELL_COMB, {0, 1, 2, 3, carry}, {DB_COMB_OUT, DB_CARRY_OUT}});
    if (size == 6) {
        shapes.push_back({"arithmetic",
                          CDB_KIND_LCELL_COMB,
                          {0, 1, 2, 3, 5, carry, carry + 1},
                          {DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT}});
        shapes.push_back({"extended", CDB_KIND_LCELL_COMB, {0, 1, 2, 3, 4, 5, 6}, {DB_COMB_OUT}});
    }
    if (family == CDB_FAMILY_MRL)
        shapes.push_back(
            {"adder", CDB_KIND_HSADDER, {0, 1, 2, 3, carry}, {DB_HSADDER_SUM_0, DB_HSADDER_SUM_1, DB_CHAIN_OUT_0}});
    return shapes;
}

std::string slot_pin(int slot)
{
    return "x" + std::to_string(slot);
}

std::string output_bus(int port)
{
    return "p" + std::to_string(port) + "_";
}

// Every logic cell kind of every family (LUTs in the family's bit order,
// carry cells, arithmetic cells with their share chain, extended mode, the
// MRL adder), each input slot it reads on a pin of its own with random
// masks: the simulator and the written file give the cell's own
// evaluation on every input row.
TEST(CycleSim, EveryCellKindAgreesWithItsEvaluationOverEveryRow)
{
    std::mt19937_64 rng(38);
    for (int family : k_families)
        for (const CELL_SHAPE& shape : cell_shapes(family))
            for (int masks = 0; masks < 3; ++masks) {
                BLOCK_BENCH b(family);
                CDB_ATOM_NODE* cell = b.add(shape.kind, "cell");
                for (int slot : shape.slots)
                    b.input(slot_pin(slot))->insert_fanout(cell->add_input_term(cell->get_evaluate_input_port(slot)));
                const int size = cdb_family_lut_size(family);
                cell->set_lutmask(CDB_LUTMASK(size, size == 6 ? rng() : rng() & 0xffffu));
                if (shape.kind == CDB_KIND_LCELL_COMB && size == 4)
                    cell->set_carry_lutmask(CDB_LUTMASK(4, rng() & 0xffffu));
                for (int port : shape.outputs) b.out(cell, port, output_bus(port), 1);
                BOTH s(b.netlist());
                for (unsigned row = 0; row < (1u << shape.slots.size()); ++row) {
                    unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
                    for (size_t k = 0; k < shape.slots.size(); ++k) {
                        in[shape.slots[k]] = (row >> k) & 1u;
                        s.set(slot_pin(shape.slots[k]), in[shape.slots[k]]);
                    }
                    for (int port : shape.outputs) {
                        const unsigned expected = cell->evaluate_output(port, in);
                        ASSERT_NE(expected, CDB_ATOM_NODE::NO_LUT_VALUE) << shape.what << " " << port;
                        ASSERT_EQ(s.get_bus(output_bus(port), 1), expected)
                            << "family " << family << " " << shape.what << " output " << port << " row " << row;
                    }
                }
            }
}

// One register of every family with every control on a pin of its own
// (UVO's packed register takes its data through its LUT, on four more
// pins): over every input row and both states, the simulator and the
// written file follow the register rule, the clear acting at 0.
TEST(CycleSim, RegisterFollowsTheRegisterRuleOverEveryRowAndState)
{
    const int ports[] = {DB_DATAIN,     DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD,
                         DB_SYNCH_DATA, DB_CLEAR,        DB_ASYNCH_LOAD, DB_ASYNCH_DATA};
    for (int family : k_families) {
        BLOCK_BENCH b(family);
        CDB_ATOM_NODE* reg = b.add(CDB_KIND_REGISTER, "r");
        const bool packed = !reg->is_register();
        std::vector<std::pair<std::string, int>> pins;  // pin, input port; the row's bits in order
        if (packed)
            for (int slot = 0; slot < 4; ++slot) pins.push_back({slot_pin(slot), reg->get_evaluate_input_port(slot)});
        for (int k = packed ? 1 : 0; k < 8; ++k) pins.push_back({"c" + std::to_string(k), ports[k]});
        for (const auto& [pin, port] : pins) b.input(pin)->insert_fanout(reg->add_input_term(port));
        b.pin(reg, DB_CLOCK, "clk");
        if (packed) reg->set_lutmask(CDB_LUTMASK(4, 0x6a5c));
        b.out(reg, DB_REG_OUT, "q", 1);
        if (packed) b.out(reg, DB_COMB_OUT, "y", 1);  // the LUT's own output beside its register
        BOTH s(b.netlist());
        ASSERT_EQ(s.sim.state().size(), 1u);
        ASSERT_EQ(s.blif.state().size(), 1u);
        for (unsigned state = 0; state < 2; ++state)
            for (unsigned row = 0; row < (1u << pins.size()); ++row) {
                s.sim.set_state({state});
                s.blif.set_state({state});
                unsigned v[16] = {}, lut[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
                for (size_t k = 0; k < pins.size(); ++k) {
                    v[k] = (row >> k) & 1u;
                    s.set(pins[k].first, v[k]);
                }
                const unsigned* c = packed ? v + 3 : v;  // c[1..7]: the controls after the data input
                for (int slot = 0; packed && slot < 4; ++slot) lut[slot] = v[slot];
                CDB_REGISTER_INPUTS in;
                in.d = packed ? reg->evaluate_output(DB_REG_OUT, lut) : v[0];
                in.ena = c[1];
                in.sclr = c[2];
                in.sload = c[3];
                in.sdata = c[4];
                in.clr = c[5];
                in.aload = c[6];
                in.adata = c[7];
                const unsigned expected = cdb_register_next_value(in, state);
                if (in.clr == 0) {
                    EXPECT_EQ(expected, 0u) << "the clear acts at 0";
                }
                ASSERT_EQ(s.get_bus("q", 1), state);
                if (packed) {
                    ASSERT_EQ(s.get_bus("y", 1), reg->evaluate_output(DB_COMB_OUT, lut)) << "row " << row;
                }
                s.clock();
                ASSERT_EQ(s.get_bus("q", 1), expected) << "family " << family << " state " << state << " row " << row;
            }
    }
}

// A register whose clock term is missing its driver (unconnected, or tied
// to a constant) is never clocked: it keeps its power-up 0, in the
// simulator and the written file alike; so do a RAM's words when port A's
// clock is tied.
TEST(CycleSim, RegistersWithoutADrivenClockKeepTheirPowerUpValue)
{
    for (int family : k_families)
        for (int tie = 0; tie < 3; ++tie) {
            BLOCK_BENCH b(family);
            CDB_ATOM_NODE* reg = b.add(CDB_KIND_REGISTER, "r");
            if (reg->is_register()) {
                b.pin(reg, DB_DATAIN, "d");
            } else {
                b.pin(reg, DB_DATA_A, "d");
                reg->set_lutmask(blif_family_lutmask(family, 1, 0x2));
            }
            CDB_ATOM_ITERM* clock = reg->add_input_term(DB_CLOCK);
            if (tie == 1) clock->set_vcc();
            if (tie == 2) clock->set_gnd();
            b.out(reg, DB_REG_OUT, "q", 1);
            BOTH s(b.netlist());
            s.set("d", 1);
            for (int cycle = 0; cycle < 3; ++cycle, s.clock())
                ASSERT_EQ(s.get_bus("q", 1), 0u) << "family " << family << " tie " << tie << " cycle " << cycle;
        }
    BLOCK_BENCH b;
    CDB_ATOM_NODE* ram = b.ram(1, 0, 1);
    ram->add_input_term(DB_RAM_PORTA_WE)->set_vcc();
    ram->add_input_term(DB_RAM_CLK0)->set_vcc();
    b.out(ram, DB_RAM_PORTA_DATAOUT, "qa", 1);
    BOTH s(b.netlist());
    s.set("d0", 1);
    for (int cycle = 0; cycle < 3; ++cycle, s.clock()) ASSERT_EQ(s.get_bus("qa", 1), 0u) << "cycle " << cycle;
}

namespace {

// i0 -> register r -> "o1", i1 -> "o0"; with `direct`, i0 -> "o1" at once;
// `reversed` creates the inputs in the other order; `extra` adds "o2".
std::unique_ptr<BLOCK_BENCH> cosim_bench(bool direct, bool reversed, bool drop_o1 = false, bool extra = false)
{
    auto b = std::make_unique<BLOCK_BENCH>();
    CDB_ATOM_OTERM* i0 = reversed ? nullptr : b->input("i0");
    CDB_ATOM_OTERM* i1 = b->input("i1");
    if (reversed) i0 = b->input("i0");
    b->drive(i1, "o0");
    CDB_ATOM_OTERM* q = i0;
    if (!direct) {
        CDB_ATOM_NODE* reg = b->add(CDB_KIND_REGISTER, "r");
        i0->insert_fanout(reg->add_input_term(DB_DATAIN));
        b->input("clk")->insert_fanout(reg->add_input_term(DB_CLOCK));
        q = reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
    }
    if (!drop_o1) b->drive(q, "o1");
    if (extra) b->drive(i1, "o2");
    return b;
}

}  // namespace

// Co-simulation matches inputs and outputs by name, reports the first cycle
// and output that differ (replayed here from the same random stream), and
// refuses netlists whose outputs do not match.
TEST(CycleSim, CoSimulationReportsTheFirstDifferenceAndUnmatchedPorts)
{
    auto plain = cosim_bench(false, false);
    auto reversed = cosim_bench(false, true);
    COSIM_RESULT same = cosimulate(plain->netlist(), reversed->netlist(), 200, 7);
    EXPECT_TRUE(same.m_agree) << same.describe();
    EXPECT_EQ(same.describe(), "agree");
    for (uint64_t seed = 1; seed < 6; ++seed) {
        auto direct = cosim_bench(true, true);
        COSIM_RESULT r = cosimulate(plain->netlist(), direct->netlist(), 200, seed);
        // The register's output lags i0 by a cycle: they first differ where i0 changes.
        std::mt19937_64 rng(seed);
        int expected = -1;
        unsigned last = 0;
        for (int cycle = 0; cycle < 200 && expected < 0; ++cycle) {
            const unsigned i0 = rng() & 1u;
            rng();  // i1
            if (i0 != last) expected = cycle;
            last = i0;
        }
        ASSERT_FALSE(r.m_agree);
        EXPECT_TRUE(r.m_error.empty()) << r.m_error;
        EXPECT_EQ(r.m_cycle, expected) << "seed " << seed;
        EXPECT_EQ(r.m_port, "o1");
        EXPECT_EQ(r.describe(), "first difference at cycle " + std::to_string(expected) + " on output o1");
    }
    auto missing = cosim_bench(false, false, true, true);
    COSIM_RESULT r = cosimulate(plain->netlist(), missing->netlist(), 10, 1);
    EXPECT_FALSE(r.m_agree);
    EXPECT_EQ(r.describe(), "output o1 is missing in the second netlist");
    auto fewer = cosim_bench(false, false, true);
    r = cosimulate(plain->netlist(), fewer->netlist(), 10, 1);
    EXPECT_FALSE(r.m_agree);
    EXPECT_EQ(r.describe(), "output ports differ");
}

// Port A writes on the clock edge; port A reads its address at once, port
// B through its clocked address: a word written in one cycle is read there
// from the next cycle on, the old word still in the writing cycle. Port B
// reading the slot written on the same edge gets the new word, or with its
// old-data flag the word it replaces.
TEST(CycleSim, RamReadsAfterWriteInOrder)
{
    for (bool old_data : {false, true}) {
        BLOCK_BENCH b;
        CDB_ATOM_NODE* ram = b.ram(2, 2, 2);
        b.pin(ram, DB_RAM_PORTA_WE, "we");
        b.pin(ram, DB_RAM_CLK0, "clk");
        b.pin(ram, DB_RAM_CLK1, "clk");
        if (old_data) CUT_RAM_UTIL::set_ram_mode(ram, 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_READ_OLD_DATA});
        b.out(ram, DB_RAM_PORTA_DATAOUT, "qa", 2);
        b.out(ram, DB_RAM_PORTB_DATAOUT, "qb", 2);
        BOTH s(b.netlist());
        auto step = [&](unsigned we, unsigned wa, unsigned d, unsigned ra) {
            s.set("we", we);
            s.set_bus("wa", 2, wa);
            s.set_bus("d", 2, d);
            s.set_bus("ra", 2, ra);
        };
        step(1, 2, 3, 2);
        EXPECT_EQ(s.get_bus("qa", 2), 0u) << "contents start at 0";
        EXPECT_EQ(s.get_bus("qb", 2), 0u);
        s.clock();
        step(1, 2, 1, 2);
        EXPECT_EQ(s.get_bus("qa", 2), 3u) << "port A reads the word written in the last cycle";
        EXPECT_EQ(s.get_bus("qb", 2), old_data ? 0u : 3u) << "port B's address was taken with the write";
        s.clock();
        step(0, 2, 2, 1);
        EXPECT_EQ(s.get_bus("qa", 2), 1u) << "the second write replaced the word";
        EXPECT_EQ(s.get_bus("qb", 2), old_data ? 3u : 1u);
        s.clock();
        step(0, 2, 2, 2);
        EXPECT_EQ(s.get_bus("qa", 2), 1u) << "a write without its enable changes nothing";
        EXPECT_EQ(s.get_bus("qb", 2), 0u) << "port B read word 1, never written";
        s.clock();
        EXPECT_EQ(s.get_bus("qb", 2), 1u) << "no write: port B reads the word either way";
    }
}

// Port A's output registered with port A's clear and enable, port B's
// read directly at an unclocked address: A follows one cycle late and
// clears at 1, B at once.
TEST(CycleSim, RegisteredPortAWithUnregisteredPortB)
{
    BLOCK_BENCH b;
    CDB_ATOM_NODE* ram = b.ram(1, 1, 1);
    ram->add_input_term(DB_RAM_PORTA_WE)->set_vcc();
    b.pin(ram, DB_RAM_CLK0, "clk");
    b.pin(ram, DB_RAM_CLR0, "clr");
    b.pin(ram, DB_RAM_ENA0, "ena");
    CUT_RAM_UTIL::set_ram_mode(ram, 0, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
    b.out(ram, DB_RAM_PORTA_DATAOUT, "qa", 1);
    b.out(ram, DB_RAM_PORTB_DATAOUT, "qb", 1);
    BOTH s(b.netlist());
    s.set("ena", 1);
    s.set("d0", 1);
    s.clock();  // word 0 := 1, A's register took the old word 0
    EXPECT_EQ(s.get_bus("qa", 1), 0u);
    EXPECT_EQ(s.get_bus("qb", 1), 1u) << "port B reads the new word in the same cycle";
    s.clock();
    EXPECT_EQ(s.get_bus("qa", 1), 1u) << "port A's register follows a cycle late";
    s.set("ena", 0);
    s.set("d0", 0);
    s.clock();
    EXPECT_EQ(s.get_bus("qa", 1), 1u) << "port A's enable holds its register and its write";
    EXPECT_EQ(s.get_bus("qb", 1), 1u);
    s.set("clr", 1);
    s.set("ena", 1);
    s.clock();
    EXPECT_EQ(s.get_bus("qa", 1), 0u) << "the RAM's clear acts at 1";
    EXPECT_EQ(s.get_bus("qb", 1), 0u) << "the write went on: the clear leaves the contents alone";
}

// The unsigned product of a multiplier and the sums of an output block in
// each mode it can express, exhaustive over the inputs, with an output bit
// inverted behind the function; modes 1 and 8 are refused by name.
TEST(CycleSim, DspProductsAndSumsMatchArithmetic)
{
    {
        BLOCK_BENCH b;
        CDB_ATOM_NODE* mult = b.add(CDB_KIND_MAC_MULT, "mult");
        b.bus(mult, DB_DATA_A, "a", 3);
        b.bus(mult, DB_DATA_B, "b", 3);
        b.out(mult, DB_DATA_OUT, "p", 6);
        BOTH s(b.netlist());
        for (unsigned a = 0; a < 8; ++a)
            for (unsigned x = 0; x < 8; ++x) {
                s.set_bus("a", 3, a);
                s.set_bus("b", 3, x);
                ASSERT_EQ(s.get_bus("p", 6), a * x) << a << " * " << x;
            }
    }
    const struct
    {
        int mode;
        int ports;
    } modes[] = {{CUT_MAC_MODE_SIMPLE_MULTIPLIER, 1},
                 {CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER, 2},
                 {CUT_MAC_MODE_FOUR_MULTIPLIERS_ADDER, 4},
                 {CUT_MAC_MODE_36_BIT_ADDER, 2}};
    for (const auto& m : modes) {
        BLOCK_BENCH b;
        CDB_ATOM_NODE* out = b.add(CDB_KIND_MAC_OUT, "out");
        CUT_MAC_UTIL::set_mode(out, m.mode);
        for (int p = 0; p < 4; ++p) b.bus(out, DB_DATA_A + p, std::string(1, char('w' + p)), 2);
        b.out(out, DB_DATA_OUT, "s", 4);
        CUT_MAC_UTIL::set_output_prog_invert(out, DB_DATA_OUT, 1, true);
        BOTH s(b.netlist());
        for (unsigned v = 0; v < 256; ++v) {
            unsigned sum = 0;
            for (int p = 0; p < 4; ++p) {
                s.set_bus(std::string(1, char('w' + p)), 2, (v >> (2 * p)) & 3u);
                if (p < m.ports) sum += (v >> (2 * p)) & 3u;
            }
            ASSERT_EQ(s.get_bus("s", 4), (sum & 15u) ^ 2u) << "mode " << m.mode << " inputs " << v;
        }
    }
    for (int mode : {int(CUT_MAC_MODE_MULTIPLY_ACCUMULATE), int(CUT_MAC_MODE_DYNAMIC), 2}) {
        BLOCK_BENCH b;
        CUT_MAC_UTIL::set_mode(b.add(CDB_KIND_MAC_OUT, "out"), mode);
        try {
            CYCLE_SIM sim(b.netlist());
            ADD_FAILURE() << "mode " << mode << " was simulated";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find("'out': DSP mode " + std::to_string(mode)), std::string::npos)
                << e.what();
        }
    }
}

// Generated RAM and DSP slices of every family: the written file and the
// simulator agree cycle by cycle.
TEST(CycleSim, GeneratedBlocksWrittenAndSimulatedAgree)
{
    for (int family : k_families)
        for (uint64_t seed = 0; seed < 12; ++seed) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            o.m_rams = true;
            o.m_dsps = true;
            o.m_outputs = 10;
            std::unique_ptr<CDB_ATOM_NETLIST> nl = seq_generate(o, seed);
            BOTH s(*nl);
            std::mt19937_64 rng(seed);
            for (int cycle = 0; cycle < 48; ++cycle) {
                for (const std::string& n : s.sim.input_names()) s.set(n, rng() & 1u);
                for (size_t k = 0; k < s.sim.output_names().size(); ++k)
                    ASSERT_EQ(s.sim.output(k), s.blif.get(s.sim.output_names()[k]))
                        << "family " << family << " seed " << seed << " cycle " << cycle;
                s.clock();
            }
        }
}

// The small RAM of the exhaustive check: two address bits per port, one bit
// wide; its data inputs are the bits of one input row.
const char* const k_ram_row_inputs[] = {"wa0", "wa1", "ra0", "ra1", "d0", "we", "ena0", "clr0", "ena1", "clr1"};

struct RAM_SHAPE
{
    bool reg_a;    // port A's output registered
    bool reg_b;    // port B's output registered
    bool clock_b;  // port B has a clock: its address is registered
    bool we;       // the write enable is connected
};

// The RAM as the issue states it, written out on its own: four one-bit
// words, port A writing and reading at its address, port B reading at its
// address (registered on port B's clock and enable), each registered output
// an ordinary register on its port's controls with a clear acting at 1. A
// port's enable also holds its write. A register that no clock reaches
// keeps its power-up 0.
struct RAM_MODEL
{
    RAM_SHAPE shape;
    unsigned mem = 0;  // bit w: word w
    unsigned breg = 0, qa = 0, qb = 0;

    static unsigned bits(unsigned row, int at, int n) { return (row >> at) & ((1u << n) - 1u); }
    unsigned word(unsigned address) const { return (mem >> address) & 1u; }
    unsigned b_address(unsigned row) const { return shape.clock_b ? breg : bits(row, 2, 2); }
    unsigned out_a(unsigned row) const { return shape.reg_a ? qa : word(bits(row, 0, 2)); }
    unsigned out_b(unsigned row) const { return shape.reg_b ? qb : word(b_address(row)); }
    unsigned out(int port, unsigned row) const { return port ? out_b(row) : out_a(row); }
    RAM_MODEL next(unsigned row) const
    {
        const unsigned wa = bits(row, 0, 2), ra = bits(row, 2, 2), d = bits(row, 4, 1), we = bits(row, 5, 1);
        const unsigned ena0 = bits(row, 6, 1), clr0 = bits(row, 7, 1), ena1 = bits(row, 8, 1), clr1 = bits(row, 9, 1);
        RAM_MODEL n = *this;
        if (shape.we && we && ena0) n.mem = (mem & ~(1u << wa)) | (d << wa);
        if (shape.reg_a) n.qa = clr0 ? 0u : ena0 ? word(wa) : qa;
        if (shape.clock_b) {
            n.breg = ena1 ? ra : breg;
            if (shape.reg_b) n.qb = clr1 ? 0u : ena1 ? word(breg) : qb;
        }
        return n;
    }
    unsigned key() const { return mem | breg << 4 | qa << 6 | qb << 7; }
    // Every state the shape can reach: without writes the words and the
    // registers behind them stay 0.
    size_t state_count() const
    {
        const size_t address = shape.clock_b ? 4u : 1u;
        if (!shape.we) return address;
        return 16u * address * (shape.reg_a ? 2u : 1u) * (shape.reg_b && shape.clock_b ? 2u : 1u);
    }
};

void build_small_ram(BLOCK_BENCH& b, const RAM_SHAPE& shape)
{
    CDB_ATOM_NODE* ram = b.ram(2, 2, 1);
    if (shape.we) b.pin(ram, DB_RAM_PORTA_WE, "we");
    b.pin(ram, DB_RAM_CLK0, "clk");
    if (shape.clock_b) b.pin(ram, DB_RAM_CLK1, "clk");
    b.pin(ram, DB_RAM_ENA0, "ena0");
    b.pin(ram, DB_RAM_CLR0, "clr0");
    b.pin(ram, DB_RAM_ENA1, "ena1");
    b.pin(ram, DB_RAM_CLR1, "clr1");
    if (shape.reg_a) CUT_RAM_UTIL::set_ram_mode(ram, 0, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
    if (shape.reg_b) CUT_RAM_UTIL::set_ram_mode(ram, 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
    b.out(ram, DB_RAM_PORTA_DATAOUT, "qa", 1);
    b.out(ram, DB_RAM_PORTB_DATAOUT, "qb", 1);
}

int index_of(const std::vector<std::string>& names, const std::string& n)
{
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == n) return static_cast<int>(i);
    return -1;
}

std::string describe(const RAM_SHAPE& s)
{
    return std::string("A ") + (s.reg_a ? "registered" : "direct") + ", B " + (s.reg_b ? "registered" : "direct") +
           (s.clock_b ? " at a clocked address" : " without a clock") + (s.we ? "" : ", no write enable");
}

// Walks every triple of model, simulator and file states reachable from
// power-up under every input row (the row's bit k on pin row_pins[k]),
// comparing the outputs out_pins[p] with the model's out(p, row) at every
// step; answers the model states reached.
template <class MODEL>
size_t walk_every_state(const CDB_ATOM_NETLIST& nl, const std::vector<std::string>& row_pins,
                        const std::vector<std::string>& out_pins, const MODEL& power_up, const std::string& what)
{
    BOTH s(nl);
    std::vector<int> sim_in, sim_out;
    for (const std::string& n : row_pins) sim_in.push_back(index_of(s.sim.input_names(), n));
    for (const std::string& n : out_pins) sim_out.push_back(index_of(s.sim.output_names(), n));
    struct STATE
    {
        MODEL model;
        std::vector<unsigned> sim, blif;
    };
    std::deque<STATE> queue{{power_up, s.sim.state(), s.blif.state()}};
    std::set<std::vector<unsigned>> seen;
    std::set<unsigned> model_states;
    while (!queue.empty()) {
        const STATE st = queue.front();
        queue.pop_front();
        model_states.insert(st.model.key());
        for (unsigned row = 0; row < (1u << row_pins.size()); ++row) {
            s.sim.set_state(st.sim);
            s.blif.set_state(st.blif);
            for (size_t k = 0; k < row_pins.size(); ++k) {
                if (sim_in[k] >= 0) s.sim.set_input(sim_in[k], (row >> k) & 1u);
                s.blif.set(row_pins[k], (row >> k) & 1u);
            }
            for (size_t p = 0; p < out_pins.size(); ++p) {
                const unsigned expected = st.model.out(static_cast<int>(p), row);
                const unsigned sim = s.sim.output(sim_out[p]), blif = s.blif.get(out_pins[p]);
                if (sim == expected && blif == expected) continue;
                ADD_FAILURE() << what << ": state " << st.model.key() << " row " << row << " output " << out_pins[p]
                              << ": model " << expected << ", simulator " << sim << ", file " << blif;
                return model_states.size();
            }
            s.clock();
            STATE n{st.model.next(row), s.sim.state(), s.blif.state()};
            std::vector<unsigned> key{n.model.key()};
            key.insert(key.end(), n.sim.begin(), n.sim.end());
            key.insert(key.end(), n.blif.begin(), n.blif.end());
            if (seen.insert(key).second) queue.push_back(std::move(n));
        }
    }
    return model_states.size();
}

// A small RAM against the model, exhaustive over every state it can reach
// and every input row: the simulator and the written file give the model's
// outputs from every state, and the walk reaches every state the model can
// hold. The sanitizer build walks the fullest shape only.
TEST(CycleSim, SmallRamMatchesItsModelOverEveryStateAndRow)
{
    std::vector<RAM_SHAPE> shapes{{true, true, true, true}};
    if (!k_small_designs_only)
        for (unsigned v = 0; v < 8; ++v)
            if (v != 7) shapes.push_back({bool(v & 1u), bool(v & 2u), bool(v & 4u), true});
    shapes.push_back({true, true, true, false});
    const std::vector<std::string> pins(std::begin(k_ram_row_inputs), std::end(k_ram_row_inputs));
    for (const RAM_SHAPE& shape : shapes) {
        BLOCK_BENCH b;
        build_small_ram(b, shape);
        const size_t reached = walk_every_state(b.netlist(), pins, {"qa0", "qb0"}, RAM_MODEL{shape}, describe(shape));
        EXPECT_EQ(reached, RAM_MODEL{shape}.state_count()) << describe(shape);
    }
}

// A 2 x 2 multiplier as the issue states it, written out on its own:
// operand A's bit 0 inverted at its pin in front of A's packed register,
// the product registered behind the multiplier, both registers on one
// clock, enable and clear (a DSP clear acts at 0), product bit 1 inverted
// behind the output register. Row bits: a0 a1 b0 b1 ena clr.
struct DSP_MODEL
{
    unsigned areg = 0, q = 0;

    unsigned out(int bit, unsigned) const { return ((q ^ 2u) >> bit) & 1u; }
    DSP_MODEL next(unsigned row) const
    {
        const unsigned a = row & 3u, b = (row >> 2) & 3u, ena = (row >> 4) & 1u, clr = (row >> 5) & 1u;
        DSP_MODEL n = *this;
        n.areg = !clr ? 0u : ena ? a ^ 1u : areg;
        n.q = !clr ? 0u : ena ? (areg * b) & 15u : q;
        return n;
    }
    unsigned key() const { return areg | q << 2; }
};

// The multiplier against its model over every state it reaches and every
// input row: the power-up 0 of the packed register reaches the multiplier
// as 0 (not as the pin's inverted 1), the clear acts at 0 on both registers.
TEST(CycleSim, SmallDspMatchesItsModelOverEveryStateAndRow)
{
    BLOCK_BENCH b;
    CDB_ATOM_NODE* mult = b.add(CDB_KIND_MAC_MULT, "mult");
    b.bus(mult, DB_DATA_A, "a", 2);
    b.bus(mult, DB_DATA_B, "b", 2);
    b.input("clk")->insert_fanout(mult->add_input_term(DB_CLOCK, 0));
    b.input("ena")->insert_fanout(mult->add_input_term(DB_CLOCK_ENABLE, 0));
    b.input("clr")->insert_fanout(mult->add_input_term(DB_CLEAR, 0));
    mult->get_input_term_by_type(DB_DATA_A, 0)->set_invert(true);
    CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_A, 0);
    CUT_MAC_UTIL::set_input_port_clear(mult, DB_DATA_A, 0);
    CUT_MAC_UTIL::set_output_port_clock(mult, DB_DATA_OUT, 0);
    CUT_MAC_UTIL::set_output_port_clear(mult, DB_DATA_OUT, 0);
    b.out(mult, DB_DATA_OUT, "p", 4);
    CUT_MAC_UTIL::set_output_prog_invert(mult, DB_DATA_OUT, 1, true);
    const size_t reached = walk_every_state(b.netlist(), {"a0", "a1", "b0", "b1", "ena", "clr"},
                                            {"p0", "p1", "p2", "p3"}, DSP_MODEL{}, "multiplier");
    EXPECT_EQ(reached, 4u * 7u) << "every operand A beside every product of two 2-bit operands";
}

}  // namespace

}  // namespace cycle_sim_test
