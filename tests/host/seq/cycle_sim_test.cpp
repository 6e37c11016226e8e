// The cycle simulator against the cells' own evaluation and the register
// rule, and the BLIF writer against the simulator: the written file run by
// a small BLIF interpreter here agrees with the simulator cycle by cycle.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "cycle_sim.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "seq_gen.h"

namespace {

// Just enough BLIF: .inputs, .outputs, .names with cubes, .latch with init 0.
class BLIF_SIM
{
public:
    explicit BLIF_SIM(const std::string& text)
    {
        std::istringstream in(text);
        std::string line;
        COVER* cover = nullptr;
        while (std::getline(in, line)) {
            std::istringstream w(line);
            std::vector<std::string> t;
            for (std::string s; w >> s;) t.push_back(s);
            if (t.empty()) continue;
            if (t[0] == ".inputs") m_inputs.assign(t.begin() + 1, t.end());
            else if (t[0] == ".outputs") m_outputs.assign(t.begin() + 1, t.end());
            else if (t[0] == ".latch") {
                m_latches.push_back({t[1], t[2]});
                m_value[t[2]] = 0;
            } else if (t[0] == ".names") {
                m_covers[t.back()] = {std::vector<std::string>(t.begin() + 1, t.end() - 1), {}, 1};
                cover = &m_covers[t.back()];
            } else if (t[0][0] != '.' && cover) {
                const std::string cube = t.size() == 2 ? t[0] : "";
                cover->cubes.push_back(cube);
                cover->on = t.back() == "1";
            }
        }
    }
    const std::vector<std::string>& inputs() const { return m_inputs; }
    void set(const std::string& net, unsigned v)
    {
        m_value[net] = v;
        m_settled.clear();
    }
    unsigned get(const std::string& net)
    {
        auto c = m_covers.find(net);
        if (c == m_covers.end()) return m_value[net];
        auto s = m_settled.find(net);
        if (s != m_settled.end()) return s->second;
        bool hit = false;
        for (const std::string& cube : c->second.cubes) {
            bool match = true;
            for (size_t k = 0; k < cube.size() && match; ++k)
                if (cube[k] != '-') match = get(c->second.ins[k]) == unsigned(cube[k] - '0');
            hit = hit || match;
        }
        const unsigned v = c->second.cubes.empty() ? 0u : (hit == c->second.on ? 1u : 0u);
        return m_settled[net] = v;
    }
    void clock()
    {
        std::vector<unsigned> next;
        for (const auto& l : m_latches) next.push_back(get(l.first));
        for (size_t i = 0; i < m_latches.size(); ++i) m_value[m_latches[i].second] = next[i];
        m_settled.clear();
    }

private:
    struct COVER
    {
        std::vector<std::string> ins;
        std::vector<std::string> cubes;
        bool on;
    };
    std::vector<std::string> m_inputs, m_outputs;
    std::vector<std::pair<std::string, std::string>> m_latches;
    std::map<std::string, COVER> m_covers;
    std::map<std::string, unsigned> m_value, m_settled;
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

// One register with every control driven by an input: its output follows
// the register rule over every input row and state, the clear acting at 0.
TEST(CycleSim, RegisterFollowsTheRegisterRuleOverEveryRowAndState)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_RZK, CDB_FAMILY_UVO}) {
        SEQ_GEN_OPTIONS o;
        o.m_family = family;
        o.m_cells = 0;
        o.m_registers = 0;
        o.m_inputs = 8;
        o.m_outputs = 0;
        std::unique_ptr<CDB_ATOM_NETLIST> nl = seq_generate(o, 1);
        HDB_NAME_MGR* names = nl->get_name_mgr();
        CDB_ATOM_NODE* reg = cdb_create_atom(family, CDB_KIND_REGISTER, names->create_unique_name("r", 0));
        nl->add_node(reg);
        const int ports[] = {DB_DATAIN,     DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD,
                             DB_SYNCH_DATA, DB_CLEAR,        DB_ASYNCH_LOAD, DB_ASYNCH_DATA};
        for (int k = 0; k < 8; ++k) {
            int port = ports[k];
            if (!reg->is_register() && port == DB_DATAIN) {
                port = DB_DATA_A;
                reg->set_lutmask(CDB_LUTMASK(4, 0xAAAA));
            }
            seq_find(*nl, std::string(1, 'i') + std::to_string(k))
                ->get_output_term_by_type(DB_DATA_OUT)
                ->insert_fanout(reg->add_input_term(port));
        }
        seq_find(*nl, "clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(reg->add_input_term(DB_CLOCK));
        CDB_ATOM_NODE* pin = cdb_create_output_pin(family, names->create_unique_name("q~output", 0));
        nl->add_node(pin);
        reg->add_output_term(DB_REG_OUT, reg->get_instance_name())
            ->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
        for (unsigned state = 0; state < 2; ++state)
            for (unsigned row = 0; row < 256; ++row) {
                CYCLE_SIM sim(*nl);
                // Reach the state: load it through the data input with everything else inactive.
                const unsigned idle[8] = {state, 1, 0, 0, 0, 1, 0, 0};
                for (int k = 0; k < 8; ++k) sim.set_input(k, idle[k]);
                sim.clock();
                ASSERT_EQ(sim.output(0), state);
                for (int k = 0; k < 8; ++k) sim.set_input(k, (row >> k) & 1u);
                sim.clock();
                CDB_REGISTER_INPUTS in;
                in.d = row & 1u;
                in.ena = (row >> 1) & 1u;
                in.sclr = (row >> 2) & 1u;
                in.sload = (row >> 3) & 1u;
                in.sdata = (row >> 4) & 1u;
                in.clr = (row >> 5) & 1u;
                in.aload = (row >> 6) & 1u;
                in.adata = (row >> 7) & 1u;
                unsigned expected = 0;
                if (!cdb_register_async_value(in, &expected)) expected = cdb_register_next_state(in, state);
                if (in.clr == 0) {
                    EXPECT_EQ(expected, 0u) << "the clear acts at 0";
                }
                ASSERT_EQ(sim.output(0), expected) << "family " << family << " state " << state << " row " << row;
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
    BLOCK_BENCH() : m_nl(std::make_unique<CDB_ATOM_NETLIST>(CDB_FAMILY_BRK))
    {
        m_nl->set_name_mgr(new HDB_NAME_MGR("top"), true);
    }
    CDB_ATOM_NETLIST& netlist() { return *m_nl; }
    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_BRK, kind, m_nl->get_name_mgr()->create_unique_name(n, 0));
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
    // Output bits to pins "<n><k>".
    void out(CDB_ATOM_NODE* node, int port, const std::string& n, int width)
    {
        for (int k = 0; k < width; ++k) {
            const std::string name = n + std::to_string(k);
            CDB_ATOM_OTERM* o =
                node->add_output_term(port, m_nl->get_name_mgr()->create_unique_name(name + "_q", 0), k);
            CDB_ATOM_NODE* pin = cdb_create_output_pin(
                CDB_FAMILY_BRK, m_nl->get_name_mgr()->create_unique_name(name + BLIF_OUTPUT_PIN_SUFFIX, 0));
            m_nl->add_node(pin);
            o->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
        }
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

// Port A writes on the clock edge; port A reads its address at once, port
// B through its clocked address: a word written in one cycle is read there
// from the next cycle on, the old word still in the writing cycle.
TEST(CycleSim, RamReadsAfterWriteInOrder)
{
    BLOCK_BENCH b;
    CDB_ATOM_NODE* ram = b.add(CDB_KIND_RAM, "ram");
    b.bus(ram, DB_RAM_PORTA_ADDRESS, "wa", 2);
    b.bus(ram, DB_RAM_PORTB_ADDRESS, "ra", 2);
    b.bus(ram, DB_RAM_PORTA_DATAIN, "d", 2);
    b.input("we")->insert_fanout(ram->add_input_term(DB_RAM_PORTA_WE));
    b.input("clk")->insert_fanout(ram->add_input_term(DB_RAM_CLK0));
    b.input("clk")->insert_fanout(ram->add_input_term(DB_RAM_CLK1));
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
    EXPECT_EQ(s.get_bus("qb", 2), 3u) << "port B's address was taken with the write";
    s.clock();
    step(0, 2, 2, 1);
    EXPECT_EQ(s.get_bus("qa", 2), 1u) << "the second write replaced the word";
    EXPECT_EQ(s.get_bus("qb", 2), 1u);
    s.clock();
    step(0, 2, 2, 2);
    EXPECT_EQ(s.get_bus("qa", 2), 1u) << "a write without its enable changes nothing";
    EXPECT_EQ(s.get_bus("qb", 2), 0u) << "port B read word 1, never written";
}

// Port A's output registered with port A's clear and enable, port B's
// read directly at an unclocked address: A follows one cycle late and
// clears at 1, B at once.
TEST(CycleSim, RegisteredPortAWithUnregisteredPortB)
{
    BLOCK_BENCH b;
    CDB_ATOM_NODE* ram = b.add(CDB_KIND_RAM, "ram");
    b.bus(ram, DB_RAM_PORTA_ADDRESS, "wa", 1);
    b.bus(ram, DB_RAM_PORTB_ADDRESS, "ra", 1);
    b.bus(ram, DB_RAM_PORTA_DATAIN, "d", 1);
    ram->add_input_term(DB_RAM_PORTA_WE)->set_vcc();
    b.input("clk")->insert_fanout(ram->add_input_term(DB_RAM_CLK0));
    b.input("clr")->insert_fanout(ram->add_input_term(DB_RAM_CLR0));
    b.input("ena")->insert_fanout(ram->add_input_term(DB_RAM_ENA0));
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

}  // namespace
