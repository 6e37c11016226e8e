// The sequential harness on generated netlists of every family: rewrites
// known to keep the behaviour pass both ABC and co-simulation, and each
// planted fault is refuted by both, otherwise the harness proves nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"

namespace seq_harness_test {

namespace {

const int k_families[] = {CDB_FAMILY_ZEPLA, CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_UVO};

// Netlists per family: `ordinary` in the ordinary test run (each costs
// ABC runs per family); MORV_SEQ_HARNESS_NETLISTS=200 gives every case the
// full sweep.
int netlist_count(int ordinary = 20)
{
    const char* n = std::getenv("MORV_SEQ_HARNESS_NETLISTS");
    if (n) return std::max(1, std::atoi(n));
    // The sanitizer build keeps the first fifth: both LUT kinds of the moves,
    // and enough netlists that most of them get a control mux.
    return k_small_designs_only ? std::max(2, ordinary / 5) : ordinary;
}

std::string family_name(int family)
{
    return cdb_get_family_info(family)->name;
}

CDB_ATOM_NODE* add(CDB_ATOM_NETLIST& nl, int kind, const std::string& name)
{
    CDB_ATOM_NODE* node = cdb_create_atom(nl.get_family(), kind, nl.get_name_mgr()->create_unique_name(name, 0));
    nl.add_node(node);
    return node;
}

CDB_ATOM_ITERM* add_output(CDB_ATOM_NETLIST& nl, const std::string& port)
{
    CDB_ATOM_NODE* pin =
        cdb_create_output_pin(nl.get_family(), nl.get_name_mgr()->create_unique_name(port + BLIF_OUTPUT_PIN_SUFFIX, 0));
    nl.add_node(pin);
    return pin->get_input_term_by_type(DB_DATAIN);
}

CDB_ATOM_OTERM* out_of(CDB_ATOM_NETLIST& nl, const std::string& name, int port)
{
    return seq_find(nl, name)->get_output_term_by_type(port);
}

// A register on the shared clock; UVO's takes its data through its LUT.
CDB_ATOM_NODE* add_register(CDB_ATOM_NETLIST& nl, const std::string& name, CDB_ATOM_OTERM* d, bool invert_d)
{
    CDB_ATOM_NODE* reg = add(nl, CDB_KIND_REGISTER, name);
    CDB_ATOM_ITERM* in = reg->add_input_term(reg->is_register() ? DB_DATAIN : DB_DATA_A);
    if (!reg->is_register()) reg->set_lutmask(blif_family_lutmask(nl.get_family(), 1, 0x2));
    d->insert_fanout(in);
    in->set_invert(invert_d);
    out_of(nl, "clk", DB_DATA_OUT)->insert_fanout(reg->add_input_term(DB_CLOCK));
    reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
    return reg;
}

CDB_ATOM_OTERM* add_lut(CDB_ATOM_NETLIST& nl, const std::string& name, CDB_ATOM_OTERM* a, uint64_t truth)
{
    CDB_ATOM_NODE* cell = add(nl, CDB_KIND_LCELL_COMB, name);
    a->insert_fanout(cell->add_input_term(DB_DATA_A));
    cell->set_lutmask(blif_family_lutmask(nl.get_family(), 1, truth));
    return cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
}

// The pattern each register move is made on: i0 -> register x -> LUT -> "ox".
void add_pattern(CDB_ATOM_NETLIST& nl, uint64_t lut_truth, bool clear)
{
    CDB_ATOM_NODE* x = add_register(nl, "x", out_of(nl, "i0", DB_DATA_OUT), false);
    if (clear) out_of(nl, "rst", DB_DATA_OUT)->insert_fanout(x->add_input_term(DB_CLEAR));
    add_lut(nl, "lx", x->get_output_term_by_type(DB_REG_OUT), lut_truth)->insert_fanout(add_output(nl, "ox"));
}

enum class MOVE
{
    RIGHT,
    WRONG_POWER_UP,  // the register powers up to 0 where the LUT's output was 1
    DROPPED_INVERSION,
    ONE_CYCLE_LONGER,
    CLEAR_DROPPED,
};

// The register moved forward across the pattern's LUT: the LUT reads i0
// and a register y follows it. Across an inverter y must power up to 1:
// its data input and its reader both read it through an inversion bit.
void add_moved_pattern(CDB_ATOM_NETLIST& nl, uint64_t lut_truth, bool clear, MOVE move)
{
    const bool inverter = lut_truth == 0x1;
    CDB_ATOM_OTERM* l = add_lut(nl, "lx", out_of(nl, "i0", DB_DATA_OUT), lut_truth);
    const bool compensate = inverter && move != MOVE::WRONG_POWER_UP;
    CDB_ATOM_NODE* y = add_register(nl, "x_moved", l, compensate);
    if (clear && move != MOVE::CLEAR_DROPPED) {
        // A clear forces the output the LUT gave for a cleared register.
        out_of(nl, "rst", DB_DATA_OUT)->insert_fanout(y->add_input_term(DB_CLEAR));
    }
    CDB_ATOM_OTERM* q = y->get_output_term_by_type(DB_REG_OUT);
    if (move == MOVE::ONE_CYCLE_LONGER) q = add_register(nl, "x_late", q, false)->get_output_term_by_type(DB_REG_OUT);
    CDB_ATOM_ITERM* pin = add_output(nl, "ox");
    q->insert_fanout(pin);
    pin->set_invert(compensate && move != MOVE::DROPPED_INVERSION);
}

// The same connection as `from` (driver or constant, inversion) on `to`.
void copy_connection(const CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to)
{
    if (from->get_source()) from->get_source()->insert_fanout(to);
    else if (from->is_vcc()) to->set_vcc();
    else if (from->is_gnd()) to->set_gnd();
    to->set_invert(from->is_inverted());
}

// Every sink past the first of a plain LUT moves to a copy of its own.
int duplicate_per_fanout(CDB_ATOM_NETLIST& nl, CDB_ATOM_NODE* cell)
{
    CDB_ATOM_OTERM* out = cell->get_output_term_by_type(DB_COMB_OUT);
    std::vector<CDB_ATOM_ITERM*> sinks;
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) sinks.push_back(*it);
    for (size_t k = 1; k < sinks.size(); ++k) {
        const std::string name = cell->get_instance_name()->get_short_hpath() + "_dup" + std::to_string(k);
        CDB_ATOM_NODE* copy = add(nl, CDB_KIND_LCELL_COMB, name);
        for (auto it = cell->begin_iterm(); it != cell->end_iterm(); ++it)
            copy_connection(*it, copy->add_input_term((*it)->get_usage(0)));
        copy->set_bits(cell->get_bits());
        copy->set_lutmask(cell->get_lutmask());
        const bool invert = sinks[k]->is_inverted();
        sinks[k]->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        copy->add_output_term(DB_COMB_OUT, copy->get_instance_name())->insert_fanout(sinks[k]);
        sinks[k]->set_invert(invert);
    }
    return static_cast<int>(sinks.size()) - 1;
}

// Every LUT cell with one output copied once per extra sink; answers the
// copies made.
int duplicate_single_output_luts(CDB_ATOM_NETLIST& nl)
{
    std::vector<CDB_ATOM_NODE*> cells;
    for (CDB_ATOM_NODE* n : nl)
        if (n->get_lut_size() > 0 && !n->is_lcell_hsadder() && n->get_output_count() == 1 &&
            n->get_output_term_by_type(DB_COMB_OUT))
            cells.push_back(n);
    int copies = 0;
    for (CDB_ATOM_NODE* cell : cells) copies += duplicate_per_fanout(nl, cell);
    return copies;
}

// A register whose enable a signal drives loses it to a mux LUT built by
// hand in front of its data: d' = ena ? d : q. False when the register
// has no driven enable.
bool build_control_mux(CDB_ATOM_NETLIST& nl, CDB_ATOM_NODE* reg)
{
    CDB_ATOM_ITERM* ena = reg->get_input_term_by_type(DB_CLOCK_ENABLE);
    if (ena == nullptr || !ena->is_driven()) return false;
    CDB_ATOM_ITERM* d = reg->get_input_term_by_type(reg->is_register() ? DB_DATAIN : DB_DATA_A);
    CDB_ATOM_NODE* mux = add(nl, CDB_KIND_LCELL_COMB, reg->get_instance_name()->get_short_hpath() + "_mux");
    copy_connection(d, mux->add_input_term(DB_DATA_A));
    copy_connection(ena, mux->add_input_term(DB_DATA_B));
    reg->get_output_term_by_type(DB_REG_OUT)->insert_fanout(mux->add_input_term(DB_DATA_C));
    mux->set_lutmask(blif_family_lutmask(nl.get_family(), 3, 0xB8));  // b ? a : c
    reg->delete_input_term(ena);
    d->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    d->clear_invert();
    mux->add_output_term(DB_COMB_OUT, mux->get_instance_name())->insert_fanout(d);
    return true;
}

// A block bus input: bit k from the pin of names[k], read through an
// inversion bit where invert has bit k set.
void feed(CDB_ATOM_NETLIST& nl, CDB_ATOM_NODE* node, int port, const std::vector<std::string>& names,
          unsigned invert = 0)
{
    for (size_t k = 0; k < names.size(); ++k) {
        CDB_ATOM_ITERM* t = node->add_input_term(port, static_cast<int>(k));
        out_of(nl, names[k], DB_DATA_OUT)->insert_fanout(t);
        t->set_invert((invert >> k) & 1u);
    }
}

// Output bits of a block under names "<n><k>".
std::vector<CDB_ATOM_OTERM*> block_outputs(CDB_ATOM_NETLIST& nl, CDB_ATOM_NODE* node, int port, const std::string& n,
                                           int width)
{
    std::vector<CDB_ATOM_OTERM*> out;
    for (int k = 0; k < width; ++k)
        out.push_back(node->add_output_term(port, nl.get_name_mgr()->create_unique_name(n + std::to_string(k), 0), k));
    return out;
}

enum class UNPACK
{
    PACKED,
    UNPACKED,
    CLEAR_NOT_INVERTED,  // the RAM's clear acts at 1, a register's at 0
};

// A RAM written through port A, read through both ports, its port A output
// registered inside the block with the port's clock, enable and clear, or
// unpacked into ordinary registers with the same controls.
void add_ram_pattern(CDB_ATOM_NETLIST& nl, UNPACK how)
{
    CDB_ATOM_NODE* ram = add(nl, CDB_KIND_RAM, "ram_x");
    feed(nl, ram, DB_RAM_PORTA_ADDRESS, {"i0"});
    feed(nl, ram, DB_RAM_PORTB_ADDRESS, {"i1"});
    feed(nl, ram, DB_RAM_PORTA_DATAIN, {"i2", "i3"}, 1);
    feed(nl, ram, DB_RAM_PORTA_WE, {"i1"}, 1);
    feed(nl, ram, DB_RAM_CLK0, {"clk"});
    feed(nl, ram, DB_RAM_CLK1, {"clk"});
    feed(nl, ram, DB_RAM_CLR0, {"rst"});
    feed(nl, ram, DB_RAM_ENA0, {"i3"});
    if (how == UNPACK::PACKED) CUT_RAM_UTIL::set_ram_mode(ram, 0, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
    std::vector<CDB_ATOM_OTERM*> a = block_outputs(nl, ram, DB_RAM_PORTA_DATAOUT, "ram_x_a", 2);
    for (size_t k = 0; k < a.size(); ++k) {
        CDB_ATOM_OTERM* q = a[k];
        if (how != UNPACK::PACKED) {
            CDB_ATOM_NODE* reg = add_register(nl, "ram_x_r" + std::to_string(k), q, false);
            feed(nl, reg, DB_CLOCK_ENABLE, {"i3"});
            feed(nl, reg, DB_CLEAR, {"rst"}, how == UNPACK::UNPACKED ? 1 : 0);
            q = reg->get_output_term_by_type(DB_REG_OUT);
        }
        q->insert_fanout(add_output(nl, "oa" + std::to_string(k)));
    }
    for (CDB_ATOM_OTERM* b : block_outputs(nl, ram, DB_RAM_PORTB_DATAOUT, "ram_x_b", 2))
        b->insert_fanout(add_output(nl, "ob" + std::string(b->get_instance_name()->get_short_hpath()).substr(7)));
}

enum class DSP_FORM
{
    PACKED_INPUT,      // operand A's bit 0 inverted at the pin, A registered in the block
    OUTSIDE_INVERTED,  // the register outside in front of the pin's inversion
    OUTSIDE_PLAIN,     // the register outside behind it: 1 at the multiplier at power-up
    PACKED_OUTPUT,     // the product registered in the block with clear slot 0
    OUTSIDE_OUTPUT,    // that register outside with the clear
    OUTSIDE_NO_CLEAR,  // ... and without it
};

// A 2 x 2 multiplier of i0, i1 by i2 and 1 on the shared clock.
void add_dsp_pattern(CDB_ATOM_NETLIST& nl, DSP_FORM form)
{
    CDB_ATOM_NODE* mult = add(nl, CDB_KIND_MAC_MULT, "mac_x");
    feed(nl, mult, DB_CLOCK, {"clk"});
    feed(nl, mult, DB_CLEAR, {"rst"});
    if (form == DSP_FORM::PACKED_INPUT || form == DSP_FORM::PACKED_OUTPUT || form == DSP_FORM::OUTSIDE_OUTPUT ||
        form == DSP_FORM::OUTSIDE_NO_CLEAR) {
        feed(nl, mult, DB_DATA_A, {"i0", "i1"}, form == DSP_FORM::PACKED_INPUT ? 1 : 0);
        if (form == DSP_FORM::PACKED_INPUT) CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_A, 0);
    } else {
        const bool invert_d = form == DSP_FORM::OUTSIDE_INVERTED;
        for (int k = 0; k < 2; ++k) {
            const std::string pin = k == 0 ? "i0" : "i1";
            CDB_ATOM_NODE* reg =
                add_register(nl, "mac_x_a" + std::to_string(k), out_of(nl, pin, DB_DATA_OUT), k == 0 && invert_d);
            CDB_ATOM_ITERM* t = mult->add_input_term(DB_DATA_A, k);
            reg->get_output_term_by_type(DB_REG_OUT)->insert_fanout(t);
            t->set_invert(k == 0 && !invert_d);
        }
    }
    // B is odd, so that a wrong operand A shows in the product's bit 0 at once.
    mult->add_input_term(DB_DATA_B, 0)->set_vcc();
    out_of(nl, "i2", DB_DATA_OUT)->insert_fanout(mult->add_input_term(DB_DATA_B, 1));
    if (form == DSP_FORM::PACKED_OUTPUT) {
        CUT_MAC_UTIL::set_output_port_clock(mult, DB_DATA_OUT, 0);
        CUT_MAC_UTIL::set_output_port_clear(mult, DB_DATA_OUT, 0);
    }
    const bool outside = form == DSP_FORM::OUTSIDE_OUTPUT || form == DSP_FORM::OUTSIDE_NO_CLEAR;
    std::vector<CDB_ATOM_OTERM*> p = block_outputs(nl, mult, DB_DATA_OUT, "mac_x_p", 4);
    for (size_t k = 0; k < p.size(); ++k) {
        CDB_ATOM_OTERM* q = p[k];
        if (outside) {
            CDB_ATOM_NODE* reg = add_register(nl, "mac_x_q" + std::to_string(k), q, false);
            if (form == DSP_FORM::OUTSIDE_OUTPUT) feed(nl, reg, DB_CLEAR, {"rst"});
            q = reg->get_output_term_by_type(DB_REG_OUT);
        }
        q->insert_fanout(add_output(nl, "op" + std::to_string(k)));
    }
}

struct PAIR
{
    std::unique_ptr<CDB_ATOM_NETLIST> before, after;
};

PAIR generated_pair(const SEQ_GEN_OPTIONS& o, uint64_t seed)
{
    return {seq_generate(o, seed), seq_generate(o, seed)};
}

}  // namespace

class SeqHarness : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    }
    // Runs the check and expects the verdict. The tag starts with the family's name.
    void expect(const PAIR& p, const std::string& tag, bool equivalent)
    {
        const auto start = std::chrono::steady_clock::now();
        SEQ_VERDICT v = seq_check(*p.before, *p.after, tag, equivalent);
        const bool as_expected = equivalent ? v.equivalent() : v.refuted();
        EXPECT_TRUE(as_expected) << tag << ": " << v.describe();
        TALLY& t = m_tally[tag.substr(0, tag.find('_'))];
        ++t.checks;
        t.as_expected += as_expected ? 1 : 0;
        t.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    // Each family's checks, for the long sweeps' report.
    void TearDown() override
    {
        for (const auto& [family, t] : m_tally)
            std::cout << family << ": " << t.checks << " checks, " << t.as_expected << " as expected, " << t.seconds
                      << " s\n";
    }

private:
    struct TALLY
    {
        int checks = 0;
        int as_expected = 0;
        double seconds = 0;
    };
    std::map<std::string, TALLY> m_tally;
};

// A register moved across a buffer, and across an inverter with a power-up
// value of 1, keeps the behaviour (the register set changes: dsec).
TEST_F(SeqHarness, RegisterMovedAcrossABufferOrInverterLutIsEquivalent)
{
    for (int family : k_families)
        for (int i = 0; i < netlist_count(); ++i) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            const uint64_t truth = i % 2 ? 0x1 : 0x2;
            PAIR p = generated_pair(o, 1000 + i);
            add_pattern(*p.before, truth, false);
            add_moved_pattern(*p.after, truth, false, MOVE::RIGHT);
            expect(p, family_name(family) + "_move_" + std::to_string(i), true);
        }
}

// A LUT driving several sinks copied once per extra sink: the same
// registers, checked with registers matched by name.
TEST_F(SeqHarness, LutDuplicatedPerFanoutIsEquivalent)
{
    int total = 0;
    for (int family : k_families)
        for (int i = 0; i < netlist_count(); ++i) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            PAIR p = generated_pair(o, 2000 + i);
            total += duplicate_single_output_luts(*p.after);
            expect(p, family_name(family) + "_dup_" + std::to_string(i), true);
        }
    EXPECT_GT(total, netlist_count()) << "the rewrite must copy LUTs";
}

// A clock enable replaced by a mux built by hand in front of the data:
// same registers. Synchronous clears and loads are off here, since the
// mux would sit behind them.
TEST_F(SeqHarness, ControlMuxBuiltByHandIsEquivalent)
{
    int applied = 0;
    for (int family : k_families)
        for (int i = 0; i < netlist_count(); ++i) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            o.m_synch_controls = false;
            PAIR p = generated_pair(o, 3000 + i);
            std::vector<CDB_ATOM_NODE*> regs;
            for (CDB_ATOM_NODE* n : *p.after)
                if (n->get_output_term_by_type(DB_REG_OUT)) regs.push_back(n);
            int muxes = 0;
            for (CDB_ATOM_NODE* r : regs) muxes += build_control_mux(*p.after, r) ? 1 : 0;
            applied += muxes > 0;
            expect(p, family_name(family) + "_mux_" + std::to_string(i), true);
        }
    EXPECT_GT(applied * 2, netlist_count() * 4) << "most netlists must get a mux";
}

// Each planted fault is refuted by ABC and found by co-simulation: a
// register powering up to the wrong value, a dropped inversion bit, a path
// one cycle longer and a register moved without its clear.
TEST_F(SeqHarness, PlantedFaultsAreRefutedByAbcAndFoundByCoSimulation)
{
    const struct
    {
        MOVE move;
        const char* name;
        bool clear;
    } faults[] = {{MOVE::WRONG_POWER_UP, "power_up", false},
                  {MOVE::DROPPED_INVERSION, "inversion", false},
                  {MOVE::ONE_CYCLE_LONGER, "longer", false},
                  {MOVE::CLEAR_DROPPED, "clear", true}};
    for (int family : k_families)
        for (int i = 0; i < netlist_count(); ++i)
            for (const auto& f : faults) {
                SEQ_GEN_OPTIONS o;
                o.m_family = family;
                // Power-up and inversion faults show across an inverter.
                const uint64_t truth =
                    f.move == MOVE::WRONG_POWER_UP || f.move == MOVE::DROPPED_INVERSION || i % 2 ? 0x1 : 0x2;
                PAIR p = generated_pair(o, 4000 + i);
                add_pattern(*p.before, truth, f.clear);
                add_moved_pattern(*p.after, truth, f.clear, f.move);
                expect(p, family_name(family) + "_" + f.name + "_" + std::to_string(i), false);
            }
}

// The same pairs with the fault undone pass: the clear moved with the register.
TEST_F(SeqHarness, RegisterMovedWithItsClearIsEquivalent)
{
    for (int family : k_families)
        for (int i = 0; i < netlist_count(); ++i) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            const uint64_t truth = i % 2 ? 0x1 : 0x2;
            PAIR p = generated_pair(o, 5000 + i);
            add_pattern(*p.before, truth, true);
            add_moved_pattern(*p.after, truth, true, MOVE::RIGHT);
            expect(p, family_name(family) + "_clear_" + std::to_string(i), true);
        }
}

// A RAM's registered port A output unpacked into ordinary registers with
// the port's clock, enable and clear keeps the behaviour once the clear is
// inverted (the RAM's acts at 1); left as it was, it is refuted.
TEST_F(SeqHarness, RamOutputRegisterUnpackedWithItsClearInverted)
{
    for (int family : k_families)
        for (int i = 0; i < netlist_count(10); ++i) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            PAIR good = generated_pair(o, 6000 + i);
            add_ram_pattern(*good.before, UNPACK::PACKED);
            add_ram_pattern(*good.after, UNPACK::UNPACKED);
            expect(good, family_name(family) + "_ram_" + std::to_string(i), true);
            PAIR bad = generated_pair(o, 6000 + i);
            add_ram_pattern(*bad.before, UNPACK::PACKED);
            add_ram_pattern(*bad.after, UNPACK::CLEAR_NOT_INVERTED);
            expect(bad, family_name(family) + "_ram_clear_" + std::to_string(i), false);
        }
}

// An inverted data pin sits in front of a packed input register: the same
// as a register outside that takes the inverted value. A register outside
// behind the inversion would give the multiplier 1 at power-up: refuted.
// A DSP output register moved out with its clear keeps the behaviour, one
// moved without it is refuted.
TEST_F(SeqHarness, DspRegistersMovedOutOfTheBlock)
{
    const struct
    {
        DSP_FORM before, after;
        bool equivalent;
        const char* name;
    } cases[] = {{DSP_FORM::PACKED_INPUT, DSP_FORM::OUTSIDE_INVERTED, true, "dsp_in"},
                 {DSP_FORM::PACKED_INPUT, DSP_FORM::OUTSIDE_PLAIN, false, "dsp_power_up"},
                 {DSP_FORM::PACKED_OUTPUT, DSP_FORM::OUTSIDE_OUTPUT, true, "dsp_out"},
                 {DSP_FORM::PACKED_OUTPUT, DSP_FORM::OUTSIDE_NO_CLEAR, false, "dsp_clear"}};
    for (int family : k_families)
        for (int i = 0; i < netlist_count(); ++i)
            for (const auto& c : cases) {
                SEQ_GEN_OPTIONS o;
                o.m_family = family;
                PAIR p = generated_pair(o, 7000 + i);
                add_dsp_pattern(*p.before, c.before);
                add_dsp_pattern(*p.after, c.after);
                expect(p, family_name(family) + "_" + c.name + "_" + std::to_string(i), c.equivalent);
            }
}

// Generated netlists with a registered RAM and a DSP slice export, and
// with their LUTs duplicated per fanout are proved and co-simulated equal.
TEST_F(SeqHarness, GeneratedRamAndDspNetlistsExportAndCoSimulate)
{
    for (int family : k_families)
        for (int i = 0; i < netlist_count(10); ++i) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            o.m_rams = true;
            o.m_dsps = true;
            o.m_outputs = 8;
            PAIR p = generated_pair(o, 8000 + i);
            duplicate_single_output_luts(*p.after);
            expect(p, family_name(family) + "_blocks_" + std::to_string(i), true);
        }
}

// Generated netlists of every family: no used output of a LUT depends on
// an unconnected input, and a chain head's carry-in is unconnected.
TEST_F(SeqHarness, GeneratedMasksIgnoreUnconnectedInputs)
{
    const uint64_t seeds = k_small_designs_only ? 30 : 300;  // the sanitizer build keeps the first tenth
    for (int family : k_families)
        for (uint64_t seed = 0; seed < seeds; ++seed) {
            SEQ_GEN_OPTIONS o;
            o.m_family = family;
            std::unique_ptr<CDB_ATOM_NETLIST> nl = seq_generate(o, seed);
            EXPECT_EQ(seq_find_unconnected_dependence(*nl), "") << family_name(family) << " seed " << seed;
        }
}

// A case that does not go as expected keeps its files for the report, one
// that does leaves none; a reference file's don't-care latch inits read as 0.
TEST_F(SeqHarness, UnexpectedVerdictKeepsItsFilesAndDontCareInitsReadAsZero)
{
    SEQ_GEN_OPTIONS o;
    PAIR p = generated_pair(o, 7);
    add_pattern(*p.before, 0x1, false);
    add_moved_pattern(*p.after, 0x1, false, MOVE::DROPPED_INVERSION);
    SEQ_VERDICT bad = seq_check(*p.before, *p.after, "kept", true, 100);
    EXPECT_TRUE(bad.refuted());
    EXPECT_EQ(bad.m_kept, "seq_failed/kept");
    EXPECT_TRUE(std::filesystem::exists("seq_failed/kept/before.blif"));
    EXPECT_TRUE(std::filesystem::exists("seq_failed/kept/after.blif"));
    SEQ_VERDICT expected = seq_check(*p.before, *p.after, "gone", false, 100);
    EXPECT_EQ(expected.m_kept, "");
    EXPECT_FALSE(std::filesystem::exists("seq_failed/gone"));
    EXPECT_EQ(seq_zero_dont_care_inits(".latch a b re c 2\n.latch d e 3\n.latch f g\n.latch h i 1\n"),
              ".latch a b re c 0\n.latch d e 0\n.latch f g 0\n.latch h i 1\n");
}

}  // namespace seq_harness_test
