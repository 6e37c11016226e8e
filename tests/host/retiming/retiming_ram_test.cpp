// RAM output registers for retiming, through the 4-LUT (ZEPLA) and 6-LUT
// (BRK) branches: a generated RAM with a registered port A output (port B
// registered or not, 1 or 4 data bits) is made critical and unpacked in a
// forward iteration; every result is proved by ABC (the BLIF writer models
// the RAM gate by gate, its registers as latches) and by co-simulation from
// the all-zero power-up state, and the new registers are counted bit by bit.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_block_util.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "retiming_4lut_test_leaf.h"
#include "retiming_6lut_test_leaf.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "seq_harness.h"

namespace retiming_ram_test {

namespace {

// The 6-LUT test leaf with the inverter count the shared runner reads.
class RAM_6LUT_LEAF : public TEST_RETIMING_6LUT_LEAF
{
public:
    using TEST_RETIMING_6LUT_LEAF::TEST_RETIMING_6LUT_LEAF;
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override
    {
        TEST_RETIMING_6LUT_LEAF::insert_inverter_lcell(iterm);
        ++m_counts.inverters;
    }

private:
    COUNTS m_counts;
};

class RetimingRam : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
    }
    void TearDown() override { cfg_clear_all(); }
};

constexpr int k_data_outputs[2] = {DB_RAM_PORTA_DATAOUT, DB_RAM_PORTB_DATAOUT};

bool has_flag(const CDB_ATOM_NODE* ram, int port, int flag)
{
    return CUT_RAM_UTIL::ram_mode_is(ram, port, CDB_RAM_FLAG_SET{flag});
}

std::vector<CDB_ATOM_NODE*> rams_of(const CDB_ATOM_NETLIST& netlist)
{
    std::vector<CDB_ATOM_NODE*> rams;
    for (CDB_ATOM_NODE* node : netlist)
        if (node->is_ram()) rams.push_back(node);
    return rams;
}

// Slacks where only the connections out of RAM data outputs are critical
// (ratio 0); with `unit_delay` the unit-delay slacks of every other term
// first, so that the unpacked registers move on.
RETIMING_SLACK_SCRIPT ram_critical_slacks(bool unit_delay)
{
    return [unit_delay](CDB_ATOM_NETLIST& netlist, SCRIPTED_SLACK_SOURCE& slacks) {
        slacks.set_default(10000, 1.0);
        if (unit_delay) script_unit_delay_slacks(netlist, slacks);
        for (CDB_ATOM_NODE* ram : rams_of(netlist))
            for (auto out = ram->begin_oterm(); out != ram->end_oterm(); ++out)
                for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it)
                    slacks.set(*it, 0, 0.0);
    };
}

// The last data bit of each port read by an output pin of its own, so that
// a bit above 0 always has fanout.
void observe_last_bits(CDB_ATOM_NETLIST& netlist)
{
    for (CDB_ATOM_NODE* ram : rams_of(netlist))
        for (int port_type : k_data_outputs) {
            const int width = cut_output_terms_width(ram, port_type);
            CDB_ATOM_OTERM* last = width > 0 ? ram->get_output_term_by_type(port_type, width - 1) : nullptr;
            if (last == nullptr) continue;
            std::string name = last->get_instance_name()->get_short_hpath();
            name += "_seen";
            name += BLIF_OUTPUT_PIN_SUFFIX;
            CDB_ATOM_NODE* pin =
                cdb_create_output_pin(netlist.get_family(), netlist.get_name_mgr()->create_unique_name(name, 0));
            netlist.add_node(pin);
            last->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
        }
}

// What a RAM port looked like before the run: registered or not, and the
// fanout count of each data bit.
struct PORT_BEFORE
{
    bool registered = false;
    std::vector<int> fanouts;
};

PORT_BEFORE port_before(const CDB_ATOM_NODE* ram, int port)
{
    PORT_BEFORE p;
    p.registered = has_flag(ram, port, CDB_RAM_FLAG_OUTPUT_REGISTERED);
    const int width = cut_output_terms_width(ram, k_data_outputs[port]);
    for (int k = 0; k < width; ++k) {
        const CDB_ATOM_OTERM* o = ram->get_output_term_by_type(k_data_outputs[port], k);
        p.fanouts.push_back(o != nullptr ? o->get_number_of_fanout() : 0);
    }
    return p;
}

// The register whose data input is the bit's only sink; null otherwise.
CDB_ATOM_NODE* sole_register_sink(const CDB_ATOM_OTERM* o)
{
    if (o == nullptr || o->get_number_of_fanout() != 1) return nullptr;
    CDB_ATOM_ITERM* sink = o->get_first_fanout();
    CDB_ATOM_NODE* node = sink->get_my_node();
    const bool reg = sink->is_used_as(DB_DATAIN) && node->get_output_term_by_type(DB_REG_OUT) != nullptr;
    return reg ? node : nullptr;
}

// Checks one port after the unpack against its state before; answers the
// new registers found on it.
int check_port(const CDB_ATOM_NODE* ram, int port, const PORT_BEFORE& before, const std::string& tag)
{
    int registers = 0;
    for (size_t k = 0; k < before.fanouts.size(); ++k) {
        const CDB_ATOM_OTERM* o = ram->get_output_term_by_type(k_data_outputs[port], static_cast<int>(k));
        const std::string bit = tag + " port " + std::to_string(port) + " bit " + std::to_string(k);
        if (!before.registered || before.fanouts[k] == 0) {
            EXPECT_EQ(o != nullptr ? o->get_number_of_fanout() : 0, before.fanouts[k]) << bit;
            EXPECT_EQ(before.fanouts[k] > 0 ? sole_register_sink(o) : nullptr, nullptr) << bit;
            continue;
        }
        CDB_ATOM_NODE* reg = sole_register_sink(o);
        EXPECT_NE(reg, nullptr) << bit << ": no register of its own";
        if (reg == nullptr) continue;
        ++registers;
        const CDB_ATOM_OTERM* q = reg->get_output_term_by_type(DB_REG_OUT);
        EXPECT_EQ(q->get_number_of_fanout(), before.fanouts[k]) << bit << ": the register took every sink";
    }
    // Flags 9 and 21 go together, and only on a port that had its register.
    for (int flag : {CDB_RAM_FLAG_OUTPUT_REGISTERED, CDB_RAM_FLAG_OUTPUT_CLEAR})
        EXPECT_EQ(has_flag(ram, port, flag), !before.registered && flag == CDB_RAM_FLAG_OUTPUT_CLEAR)
            << tag << " port " << port << " flag " << flag;
    return registers;
}

SEQ_GEN_OPTIONS ram_options(int family, int width, bool port_b_registered)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = family;
    o.m_rams = true;
    o.m_ram_width = width;
    o.m_ram_port_b_registered = port_b_registered ? 1 : 0;
    o.m_chains = false;
    o.m_cells = 10;
    o.m_registers = 5;
    o.m_outputs = 4;
    return o;
}

// The same generated netlist twice (one kept as the reference), the last
// data bits observed and flag 21 set on both ports: on a registered port
// it must go with flag 9, on an unregistered one it must stay.
std::unique_ptr<CDB_ATOM_NETLIST> make_ram_netlist(const SEQ_GEN_OPTIONS& o, uint64_t seed)
{
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = seq_generate(o, seed);
    observe_last_bits(*netlist);
    for (CDB_ATOM_NODE* ram : rams_of(*netlist))
        for (int port = 0; port < 2; ++port)
            CUT_RAM_UTIL::set_ram_mode(ram, port, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_CLEAR});
    return netlist;
}

struct UNPACK_FIGURES
{
    int expected = 0;  // used bits of registered ports
    int found = 0;     // new registers found on them
    int upper = 0;     // of which on bits above 0
};

// One forward iteration with only the RAM outputs critical (the unpack),
// proved and counted; then a forward pass with unit-delay slacks, in which
// the unpacked registers move on, proved again.
template <typename LEAF>
UNPACK_FIGURES unpack_and_prove(int family, const SEQ_GEN_OPTIONS& o, uint64_t seed, const std::string& tag)
{
    std::unique_ptr<CDB_ATOM_NETLIST> reference = make_ram_netlist(o, seed);
    auto unit_delay = std::make_shared<bool>(false);
    RETIMING_SEQ_RUN<LEAF> run(
        family, make_ram_netlist(o, seed), "",
        [unit_delay](CDB_ATOM_NETLIST& n, SCRIPTED_SLACK_SOURCE& s) { ram_critical_slacks (*unit_delay)(n, s); });
    place_every_node(run.api(), run.netlist());
    CDB_ATOM_NODE* ram = rams_of(run.netlist()).at(0);
    const PORT_BEFORE before[2] = {port_before(ram, 0), port_before(ram, 1)};
    UNPACK_FIGURES f;
    for (const PORT_BEFORE& p : before)
        for (int n : p.fanouts) f.expected += p.registered && n > 0 ? 1 : 0;
    run.run_pass(1, 1);
    EXPECT_EQ(run.retimed_notes(), 1) << tag;
    for (int port = 0; port < 2; ++port) {
        f.found += check_port(ram, port, before[port], tag);
        for (int k = 1; before[port].registered && k < static_cast<int>(before[port].fanouts.size()); ++k)
            f.upper += sole_register_sink(ram->get_output_term_by_type(k_data_outputs[port], k)) != nullptr ? 1 : 0;
    }
    const SEQ_VERDICT unpacked = seq_check(*reference, run.netlist(), tag + "_unpacked", true, 300, seed);
    EXPECT_TRUE(unpacked.equivalent()) << tag << " unpacked: " << unpacked.describe();
    *unit_delay = true;
    run.run_pass(1, 6);
    const SEQ_VERDICT moved = seq_check(*reference, run.netlist(), tag + "_moved", true, 300, seed);
    EXPECT_TRUE(moved.equivalent()) << tag << " moved on: " << moved.describe();
    return f;
}

template <typename LEAF>
void unpack_generated_rams(int family, const char* family_name)
{
    cfg_set_value("fsyn_enable_ram_retiming", "on");
    int cases = 0, upper = 0;
    for (int width : {1, 4})
        for (bool port_b : {false, true})
            for (uint64_t seed = 1; seed <= 3; ++seed) {
                const std::string tag = std::string("ram_") + family_name + "_w" + std::to_string(width) +
                                        (port_b ? "_ab_" : "_a_") + std::to_string(seed);
                const UNPACK_FIGURES f =
                    unpack_and_prove<LEAF>(family, ram_options(family, width, port_b), 4300 + seed, tag);
                EXPECT_EQ(f.found, f.expected) << tag;
                ++cases;
                upper += f.upper;
            }
    EXPECT_EQ(cases, 12);
    // Every 4-bit case observes bit 3 of each registered port.
    EXPECT_GE(upper, 9) << family_name;
}

}  // namespace

// Every used bit of each registered port gets one register with the port's
// clock, clear and enable; an unregistered port B keeps its modes and gets
// none. Reading only bit 0, or unpacking port B without its own flag, is
// refuted by ABC and the simulation.
TEST_F(RetimingRam, GeneratedRamsUnpackOneRegisterPerUsedBitOfEachRegisteredPort)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    unpack_generated_rams<TEST_RETIMING_4LUT_LEAF>(CDB_FAMILY_ZEPLA, "zepla");
    unpack_generated_rams<RAM_6LUT_LEAF>(CDB_FAMILY_BRK, "brk");
}

namespace {

// How a test drives the clears of both RAM ports.
enum class RAM_CLEAR
{
    DRIVEN,
    DRIVEN_INVERTED,
    NEVER,   // physical GND: logical 0, the RAM never clears
    ALWAYS,  // physical GND through the inversion bit: logical 1
    UNCONNECTED
};

CDB_ATOM_ITERM* term_of(CDB_ATOM_NODE* node, int port)
{
    CDB_ATOM_ITERM* t = node->get_input_term_by_type(port);
    return t != nullptr ? t : node->add_input_term(port);
}

CDB_ATOM_OTERM* pin_out(const CDB_ATOM_NETLIST& netlist, const char* name)
{
    return seq_find(netlist, name)->get_output_term_by_type(DB_DATA_OUT);
}

// Both clears in the chosen way; both enables from pin i1, inverted when
// the clear is.
void drive_controls(CDB_ATOM_NETLIST& netlist, RAM_CLEAR clear)
{
    CDB_ATOM_NODE* ram = rams_of(netlist).at(0);
    const bool inverted = clear == RAM_CLEAR::DRIVEN_INVERTED || clear == RAM_CLEAR::ALWAYS;
    for (int port : {DB_RAM_CLR0, DB_RAM_CLR1}) {
        CDB_ATOM_ITERM* t = term_of(ram, port);
        t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        t->set_invert(inverted);
        if (clear == RAM_CLEAR::DRIVEN || clear == RAM_CLEAR::DRIVEN_INVERTED)
            pin_out(netlist, "rst")->insert_fanout(t);
        if (clear == RAM_CLEAR::NEVER || clear == RAM_CLEAR::ALWAYS) t->set_gnd();
        if (clear == RAM_CLEAR::UNCONNECTED) t->clear_invert();
    }
    for (int port : {DB_RAM_ENA0, DB_RAM_ENA1}) {
        CDB_ATOM_ITERM* t = term_of(ram, port);
        t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        pin_out(netlist, "i1")->insert_fanout(t);
        t->set_invert(inverted);
    }
}

// The clear and enable of a register unpacked from the RAM: the clear the
// other way round from the RAM's, the enable as the RAM's.
void expect_unpacked_controls(const CDB_ATOM_NODE* reg, RAM_CLEAR clear, const std::string& tag)
{
    const CDB_ATOM_ITERM* clr = reg->get_input_term_by_type(DB_CLEAR);
    const bool connected = clr != nullptr && clr->is_connected();
    switch (clear) {
    case RAM_CLEAR::DRIVEN:
    case RAM_CLEAR::DRIVEN_INVERTED:
        ASSERT_TRUE(connected && clr->is_driven()) << tag;
        EXPECT_EQ(clr->get_source()->get_my_node()->get_instance_name()->get_short_hpath(), "rst") << tag;
        EXPECT_EQ(clr->is_inverted(), clear == RAM_CLEAR::DRIVEN) << tag;
        break;
    case RAM_CLEAR::NEVER: EXPECT_TRUE(connected && clr->is_logical_vcc()) << tag; break;
    case RAM_CLEAR::ALWAYS: EXPECT_TRUE(connected && clr->is_logical_gnd()) << tag; break;
    case RAM_CLEAR::UNCONNECTED: EXPECT_FALSE(connected) << tag; break;
    }
    const CDB_ATOM_ITERM* ena = reg->get_input_term_by_type(DB_CLOCK_ENABLE);
    ASSERT_TRUE(ena != nullptr && ena->is_driven()) << tag;
    EXPECT_EQ(ena->get_source()->get_my_node()->get_instance_name()->get_short_hpath(), "i1") << tag;
    EXPECT_EQ(ena->is_inverted(), clear == RAM_CLEAR::DRIVEN_INVERTED || clear == RAM_CLEAR::ALWAYS) << tag;
}

template <typename LEAF>
void unpack_with_clear(int family, RAM_CLEAR clear, const std::string& tag)
{
    const SEQ_GEN_OPTIONS o = ram_options(family, 2, true);
    auto make = [&] {
        std::unique_ptr<CDB_ATOM_NETLIST> n = make_ram_netlist(o, 4400);
        drive_controls(*n, clear);
        return n;
    };
    std::unique_ptr<CDB_ATOM_NETLIST> reference = make();
    RETIMING_SEQ_RUN<LEAF> run(family, make(), "", ram_critical_slacks(false));
    place_every_node(run.api(), run.netlist());
    CDB_ATOM_NODE* ram = rams_of(run.netlist()).at(0);
    run.run_pass(1, 1);
    int registers = 0;
    for (int port_type : k_data_outputs)
        for (int k = 0; k < cut_output_terms_width(ram, port_type); ++k) {
            const CDB_ATOM_NODE* reg = sole_register_sink(ram->get_output_term_by_type(port_type, k));
            if (reg == nullptr) continue;
            ++registers;
            expect_unpacked_controls(reg, clear, tag);
        }
    EXPECT_GE(registers, 2) << tag;
    const SEQ_VERDICT v = seq_check(*reference, run.netlist(), tag, true, 300, 7);
    EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
}

}  // namespace

// A RAM clear acts at logical 1, a register clear at logical 0: the new
// registers read the RAM's clear the other way round (a toggling clear
// through either inversion, a RAM that never or always clears) and take
// the port's enable; an unconnected RAM clear gives no clear at all.
TEST_F(RetimingRam, UnpackedRegistersReadTheClearInvertedAndThePortEnable)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    cfg_set_value("fsyn_enable_ram_retiming", "on");
    const std::pair<RAM_CLEAR, const char*> clears[] = {{RAM_CLEAR::DRIVEN, "driven"},
                                                        {RAM_CLEAR::DRIVEN_INVERTED, "inverted"},
                                                        {RAM_CLEAR::NEVER, "never"},
                                                        {RAM_CLEAR::ALWAYS, "always"},
                                                        {RAM_CLEAR::UNCONNECTED, "unconnected"}};
    for (const auto& [clear, name] : clears) {
        unpack_with_clear<TEST_RETIMING_4LUT_LEAF>(CDB_FAMILY_ZEPLA, clear, std::string("ram_clear_zepla_") + name);
        unpack_with_clear<RAM_6LUT_LEAF>(CDB_FAMILY_BRK, clear, std::string("ram_clear_brk_") + name);
    }
}

// A registered port whose output has no fanout gets no register, yet both
// ports lose their registered-output modes.
TEST_F(RetimingRam, RegisteredOutputWithoutFanoutGetsNoRegisterButItsModeIsCleared)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    cfg_set_value("fsyn_enable_ram_retiming", "on");
    auto make = [] {
        std::unique_ptr<CDB_ATOM_NETLIST> n = make_ram_netlist(ram_options(CDB_FAMILY_BRK, 1, true), 4500);
        CDB_ATOM_OTERM* b0 = rams_of(*n).at(0)->get_output_term_by_type(DB_RAM_PORTB_DATAOUT, 0);
        std::vector<CDB_ATOM_ITERM*> sinks;
        for (auto it = b0->begin_iterm_fanout(); it != b0->end_iterm_fanout(); ++it) sinks.push_back(*it);
        for (CDB_ATOM_ITERM* t : sinks) t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        return n;
    };
    std::unique_ptr<CDB_ATOM_NETLIST> reference = make();
    RETIMING_SEQ_RUN<RAM_6LUT_LEAF> run(CDB_FAMILY_BRK, make(), "", ram_critical_slacks(false));
    place_every_node(run.api(), run.netlist());
    CDB_ATOM_NODE* ram = rams_of(run.netlist()).at(0);
    const PORT_BEFORE a = port_before(ram, 0), b = port_before(ram, 1);
    ASSERT_TRUE(a.registered && b.registered);
    ASSERT_EQ(b.fanouts, std::vector<int>{0});
    ASSERT_GT(a.fanouts.at(0), 0);
    run.run_pass(1, 1);
    EXPECT_EQ(check_port(ram, 0, a, "port A"), 1);
    EXPECT_EQ(check_port(ram, 1, b, "port B"), 0);
    const SEQ_VERDICT v = seq_check(*reference, run.netlist(), "ram_no_fanout", true, 300, 3);
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

// Off by default: no slice, the RAM never enters the critical set, and
// nothing is unpacked however critical its outputs are.
TEST_F(RetimingRam, SwitchedOffBuildsNoSliceAndUnpacksNothing)
{
    RETIMING_SEQ_RUN<RAM_6LUT_LEAF> run(CDB_FAMILY_BRK, make_ram_netlist(ram_options(CDB_FAMILY_BRK, 4, true), 4600),
                                        "", ram_critical_slacks(false));
    place_every_node(run.api(), run.netlist());
    CDB_ATOM_NODE* ram = rams_of(run.netlist()).at(0);
    const PORT_BEFORE a = port_before(ram, 0), b = port_before(ram, 1);
    run.run_pass(1, 1);
    EXPECT_TRUE(run.leaf().get_ram_slices().empty());
    for (int port = 0; port < 2; ++port) {
        EXPECT_TRUE(has_flag(ram, port, CDB_RAM_FLAG_OUTPUT_REGISTERED)) << port;
        EXPECT_EQ(port_before(ram, port).fanouts, (port == 0 ? a : b).fanouts) << port;
    }
}

// Two atoms of one logical RAM form one slice; visiting either unpacks
// both, and the second visit in the same iteration does nothing. An atom
// whose port A output is not registered is not filed, even with port B's.
TEST_F(RetimingRam, AtomsOfOneLogicalRamAreOneSliceUnpackedOnce)
{
    cfg_set_value("fsyn_enable_ram_retiming", "on");
    SEQ_GEN_OPTIONS o = ram_options(CDB_FAMILY_BRK, 2, false);
    o.m_ram_atoms = 2;
    std::unique_ptr<CDB_ATOM_NETLIST> reference = make_ram_netlist(o, 4700);
    RETIMING_SEQ_RUN<RAM_6LUT_LEAF> run(CDB_FAMILY_BRK, make_ram_netlist(o, 4700));
    place_every_node(run.api(), run.netlist());
    SCRIPTED_SLACK_SOURCE slacks(run.api()->get_fsyn_timing());
    ram_critical_slacks(false)(run.netlist(), slacks);
    const std::vector<CDB_ATOM_NODE*> rams = rams_of(run.netlist());
    ASSERT_EQ(rams.size(), 2u);
    RAM_6LUT_LEAF& leaf = run.leaf();
    leaf.set_backwards(false);
    leaf.topological_sort();
    ASSERT_EQ(leaf.get_ram_slices().size(), 1u);
    const MORV_RAM_SLICE& slice = leaf.get_ram_slices().begin()->second;
    EXPECT_EQ(slice.name, "m0");
    EXPECT_EQ(slice.nodes, rams);
    EXPECT_FALSE(slice.unpacked);
    // Critical only strictly below the pass's threshold.
    leaf.set_srt(0.25);
    auto ram_fanouts_at = [&](double ratio) {
        for (CDB_ATOM_NODE* ram : rams)
            for (auto out = ram->begin_oterm(); out != ram->end_oterm(); ++out)
                for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it)
                    slacks.set_slack_ratio(*it, ratio);
    };
    ram_fanouts_at(0.25);
    EXPECT_FALSE(leaf.is_ram_output_critical(rams[1]));
    ram_fanouts_at(0.2499);
    EXPECT_TRUE(leaf.is_ram_output_critical(rams[1]));
    EXPECT_EQ(leaf.retime_critical_nodes({rams[1], rams[0]}), 1);
    EXPECT_TRUE(slice.unpacked);
    for (CDB_ATOM_NODE* ram : rams) {
        EXPECT_FALSE(has_flag(ram, 0, CDB_RAM_FLAG_OUTPUT_REGISTERED));
        EXPECT_FALSE(leaf.is_ram_output_critical(ram));
    }
    if (abc_is_available()) {
        const SEQ_VERDICT v = seq_check(*reference, run.netlist(), "ram_two_atoms", true, 300, 5);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
    // Port B registered alone: not filed, not critical.
    for (CDB_ATOM_NODE* ram : rams)
        CUT_RAM_UTIL::set_ram_mode(ram, 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
    leaf.topological_sort();
    EXPECT_TRUE(leaf.get_ram_slices().empty());
    EXPECT_FALSE(leaf.is_ram_output_critical(rams[0]));
}

}  // namespace retiming_ram_test
