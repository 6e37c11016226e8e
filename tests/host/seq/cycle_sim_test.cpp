// The cycle simulator against the cells' own evaluation and the register
// rule, and the BLIF writer against the simulator: the written file run by
// a small BLIF interpreter here agrees with the simulator cycle by cycle.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cycle_sim.h"
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

// RAM and DSP blocks are refused by name until their functions exist.
TEST(CycleSim, BlocksWithoutAFunctionAreRefusedByName)
{
    SEQ_GEN_OPTIONS o;
    std::unique_ptr<CDB_ATOM_NETLIST> nl = seq_generate(o, 3);
    nl->add_node(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_RAM, nl->get_name_mgr()->create_unique_name("ram", 0)));
    EXPECT_THROW(CYCLE_SIM sim(*nl), std::runtime_error);
    std::unique_ptr<CDB_ATOM_NETLIST> other = seq_generate(o, 3);
    COSIM_RESULT r = cosimulate(*nl, *other, 10, 1);
    EXPECT_FALSE(r.m_agree);
    EXPECT_NE(r.m_error.find("ram"), std::string::npos) << r.describe();
}
