// The engine's DSP slice table and the records of a DSP block's output
// register: the slots the record is read from and the refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log_capture.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"
#include "tdc/tdc_accessories.h"

#include "rtm_test_run.h"

namespace rtm_mac_test {

namespace {

SEQ_GEN_OPTIONS plain_options()
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_BRK;
    o.m_registers = 2;
    o.m_cells = 4;
    o.m_chains = false;
    return o;
}

CDB_ATOM_NODE* add(CDB_ATOM_NETLIST& netlist, int kind, const std::string& n)
{
    CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_BRK, kind, netlist.get_name_mgr()->create_unique_name(n, 0));
    netlist.add_node(node);
    return node;
}

void observe(CDB_ATOM_NETLIST& netlist, CDB_ATOM_OTERM* out, const std::string& n)
{
    CDB_ATOM_NODE* o = cdb_create_output_pin(CDB_FAMILY_BRK,
                                             netlist.get_name_mgr()->create_unique_name(n + BLIF_OUTPUT_PIN_SUFFIX, 0));
    netlist.add_node(o);
    out->insert_fanout(o->get_input_term_by_type(DB_DATAIN));
}

// An output block "x_o" in `mode` fed by `mults` multipliers "x_m<k>",
// each on its own data port, two product bits each; the multipliers are
// added after the block, so their ids are above its id, and in reverse
// order of their ports.
void add_slice(CDB_ATOM_NETLIST& netlist, int mults, int mode)
{
    CDB_ATOM_NODE* out = add(netlist, CDB_KIND_MAC_OUT, "x_o");
    CUT_MAC_UTIL::set_mode(out, mode);
    for (int k = mults - 1; k >= 0; --k) {
        CDB_ATOM_NODE* mult = add(netlist, CDB_KIND_MAC_MULT, rtm_name("x_m", k));
        for (int b = 0; b < 2; ++b) {
            CDB_ATOM_OTERM* p = mult->add_output_term(
                DB_DATA_OUT, netlist.get_name_mgr()->create_unique_name(rtm_name("x_p", k), 0), b);
            p->insert_fanout(out->add_input_term(DB_DATA_A + (k % 4), b + 2 * (k / 4)));
        }
    }
    observe(netlist, out->add_output_term(DB_DATA_OUT, netlist.get_name_mgr()->create_unique_name("x_q", 0), 0), "x_q");
}

TEST(RtmMacSlices, NoDspBlocks)
{
    RTM_RUN run(plain_options(), 1);
    MORV_LOG_CAPTURE log(2);
    run.rtm().generate_mac_slice_info();
    EXPECT_TRUE(run.rtm().get_mac_slices().empty());
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "MAC Slices Found: 0"), lines.end());
}

TEST(RtmMacSlices, OneToFourMultipliers)
{
    const int modes[] = {0, 3, 7, 5};
    for (int mults = 1; mults <= 4; ++mults) {
        std::unique_ptr<CDB_ATOM_NETLIST> netlist = seq_generate(plain_options(), 1);
        add_slice(*netlist, mults, modes[mults - 1]);
        RTM_RUN run(std::move(netlist));
        MORV_LOG_CAPTURE log(2);
        run.rtm().generate_mac_slice_info();
        run.rtm().generate_mac_slice_info();  // rebuilt, not added to
        ASSERT_EQ(run.rtm().get_mac_slices().size(), 1u) << mults;
        const MORV_RTM_MAC_SLICE& slice = run.rtm().get_mac_slices()[0];
        CDB_ATOM_NODE* out = run.find("x_o");
        EXPECT_EQ(slice.m_mac_out, out);
        EXPECT_EQ(slice.m_mode, modes[mults - 1]);
        ASSERT_EQ(slice.m_mac_mults.size(), static_cast<size_t>(mults));
        for (size_t k = 1; k < slice.m_mac_mults.size(); ++k)
            EXPECT_LT(slice.m_mac_mults[k - 1]->get_id(), slice.m_mac_mults[k]->get_id());
        for (int k = 0; k < mults; ++k) {
            MORV_RTM_MAC_SLICE found;
            ASSERT_TRUE(run.rtm().find_mac_slice(run.find(rtm_name("x_m", k)), &found)) << k;
            EXPECT_EQ(found.m_mac_out, out);
        }
        MORV_RTM_MAC_SLICE found;
        ASSERT_TRUE(run.rtm().find_mac_slice(out, &found));
        EXPECT_EQ(found.m_mac_mults, slice.m_mac_mults);
        std::string line = rtm_name("Inserting MAC { ", out->get_id());
        line += " } in mode {";
        line += MORV_RTM::mac_mode_name(modes[mults - 1]);
        line += rtm_name("} with {", mults);
        line += "} MAC_MULTS";
        const std::vector<std::string> lines = log.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    EXPECT_STREQ(MORV_RTM::mac_mode_name(5), "four mult -> add mode");
    EXPECT_STREQ(MORV_RTM::mac_mode_name(4), "");
}

TEST(RtmMacSlices, OnlyMultipliersMayFeedTheOutputBlock)
{
    std::unique_ptr<CDB_ATOM_NETLIST> five = seq_generate(plain_options(), 1);
    add_slice(*five, 5, 5);
    RTM_RUN too_many(std::move(five));
    EXPECT_ANY_THROW(too_many.rtm().generate_mac_slice_info());

    std::unique_ptr<CDB_ATOM_NETLIST> fed = seq_generate(plain_options(), 1);
    add_slice(*fed, 1, 0);
    CDB_ATOM_NODE* out = seq_find(*fed, "x_o");
    seq_find(*fed, "c0")->get_output_term_by_type(DB_COMB_OUT)->insert_fanout(out->add_input_term(DB_DATA_B, 0));
    RTM_RUN by_logic(std::move(fed));
    EXPECT_ANY_THROW(by_logic.rtm().generate_mac_slice_info());
}

// ------------------------------------------------------------ output register

class RtmMacOutputRegister : public ::testing::Test
{
protected:
    // The generated DSP slice, its output register on clock slot 2 and
    // clear slot 1, and (at least) two output bits observed.
    void make()
    {
        SEQ_GEN_OPTIONS o = plain_options();
        o.m_dsps = true;
        o.m_dsp_out_clock_slot = 2;
        o.m_dsp_out_clear_slot = 1;
        std::unique_ptr<CDB_ATOM_NETLIST> netlist = seq_generate(o, 2);
        CDB_ATOM_NODE* out = seq_find(*netlist, "d0_o");
        for (int b = 0; b < 2; ++b) {
            CDB_ATOM_OTERM* q = out->get_output_term_by_type(DB_DATA_OUT, b);
            if (!q->has_fanout()) observe(*netlist, q, rtm_name("q", b));
        }
        // Slot 0's clear reads the reset plainly, slot 1's through the bit.
        out->get_input_term_by_type(DB_CLEAR, 0)->clear_invert();
        m_run = std::make_unique<RTM_RUN>(std::move(netlist));
        m_out = m_run->find("d0_o");
        tdc_get_accessories()->clear_timing_assignments();
    }
    CDB_ATOM_ITERM* slot(int port, int index) { return m_out->get_input_term_by_type(port, index); }

    std::unique_ptr<RTM_RUN> m_run;
    CDB_ATOM_NODE* m_out = nullptr;
};

TEST_F(RtmMacOutputRegister, ReadsTheRegistersOwnSlots)
{
    make();
    ASSERT_TRUE(CUT_MAC_UTIL::is_output_port_registered(m_out, DB_DATA_OUT));
    MORV_RTM_OP op(nullptr);
    MORV_RTM_REG* reg = m_run->rtm().add_mac_output_register_to_unpack(&op, m_out);
    ASSERT_NE(reg, nullptr);
    EXPECT_TRUE(op.is_legal());
    ASSERT_EQ(op.m_regs_to_unpack.size(), 1u);
    EXPECT_EQ(op.m_regs_to_unpack.front().get(), reg);
    const MORV_RTM_PACK_INFO info = reg->get_pack_info();
    EXPECT_EQ(info.m_clock_index, 2);
    EXPECT_EQ(info.m_clear_index, 1);
    EXPECT_EQ(info.m_input_type, DB_MAX_INPUT_PORT_TYPE);
    EXPECT_EQ(info.m_output_type, DB_DATA_OUT);
    CDB_ATOM_OTERM* ref = m_run->rtm().get_mac_output_ref_oterm(m_out);
    EXPECT_EQ(ref, m_out->get_output_term_by_type(DB_DATA_OUT, 0));
    EXPECT_EQ(reg->m_ref_oterm, ref);
    EXPECT_EQ(reg->m_mac_oterm, ref);

    const MORV_RTM_SIGNAL* clock = reg->get_secondary_signal(DB_CLOCK);
    const MORV_RTM_SIGNAL* enable = reg->get_secondary_signal(DB_CLOCK_ENABLE);
    const MORV_RTM_SIGNAL* clear = reg->get_secondary_signal(DB_CLEAR);
    ASSERT_TRUE(clock && enable && clear);
    EXPECT_EQ(clock->get_src_oterm(), slot(DB_CLOCK, 2)->get_source());
    ASSERT_NE(slot(DB_CLOCK_ENABLE, 2), nullptr);
    EXPECT_EQ(enable->get_src_oterm(), slot(DB_CLOCK_ENABLE, 2)->get_source());
    EXPECT_EQ(clear->get_src_oterm(), slot(DB_CLEAR, 1)->get_source());
    EXPECT_TRUE(clear->is_inverted());
    // Slot 0 carries other nets: a record read there would differ.
    MORV_RTM_PACK_INFO slot0;
    slot0.m_clock_index = 0;
    slot0.m_clear_index = 0;
    MORV_RTM_REG at_slot0(m_out, &m_run->rtm().get_register_secondary_signals(), slot0);
    EXPECT_FALSE(
        MORV_RTM_REG::have_same_secondary_signals(reg, &at_slot0, &m_run->rtm().get_register_secondary_signals()));
    EXPECT_FALSE(at_slot0.get_secondary_signal(DB_CLEAR)->is_inverted());
    MORV_OWNER<MORV_RTM_REG> copy = reg->clone();
    EXPECT_TRUE(
        MORV_RTM_REG::have_same_secondary_signals(reg, copy.get(), &m_run->rtm().get_register_secondary_signals()));
}

TEST_F(RtmMacOutputRegister, WithoutAClearTheClearIsAbsent)
{
    make();
    CUT_MAC_UTIL::set_output_port_clear(m_out, DB_DATA_OUT, CUT_MAC_NO_CLEAR);
    MORV_RTM_OP op(nullptr);
    MORV_OWNER<MORV_RTM_REG> reg = m_run->rtm().create_mac_output_register(m_out, &op);
    ASSERT_TRUE(reg);
    ASSERT_NE(reg->get_secondary_signal(DB_CLEAR), nullptr);
    EXPECT_EQ(reg->get_secondary_signal(DB_CLEAR)->get_src_oterm(), nullptr);
}

// Output bits under different timing assignments fail the move that asks
// for the register, with the timing reason; the run goes on.
TEST_F(RtmMacOutputRegister, BitsWithDifferentTimingFailTheMove)
{
    make();
    const std::string bit1 = m_out->get_output_term_by_type(DB_DATA_OUT, 1)->get_instance_name()->get_short_hpath();
    tdc_get_accessories()->set_timing_assignment(bit1, "MULTICYCLE", "2");
    MORV_RTM_OP op(nullptr);
    EXPECT_FALSE(m_run->rtm().create_mac_output_register(m_out, &op));
    EXPECT_EQ(op.m_failure_reason, MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS);
    MORV_RTM_OP unpack(nullptr);
    EXPECT_EQ(m_run->rtm().add_mac_output_register_to_unpack(&unpack, m_out), nullptr);
    EXPECT_EQ(unpack.m_failure_reason, MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS);
    EXPECT_TRUE(unpack.m_regs_to_unpack.empty());

    for (int b = 0; b < 2 * MORV_RTM::s_MAC_PORT_WIDTH; ++b) {
        CDB_ATOM_OTERM* q = m_out->get_output_term_by_type(DB_DATA_OUT, b);
        if (q != nullptr)
            tdc_get_accessories()->set_timing_assignment(q->get_instance_name()->get_short_hpath(), "MULTICYCLE", "2");
    }
    MORV_RTM_OP alike(nullptr);
    EXPECT_TRUE(m_run->rtm().create_mac_output_register(m_out, &alike));
    EXPECT_TRUE(alike.is_legal());
    tdc_get_accessories()->clear_timing_assignments();
}

TEST_F(RtmMacOutputRegister, NoRegisterOnTheOutput)
{
    make();
    for (int b = 0; b < 2 * MORV_RTM::s_MAC_PORT_WIDTH; ++b) {
        CDB_ATOM_OTERM* q = m_out->get_output_term_by_type(DB_DATA_OUT, b);
        if (q == nullptr) continue;
        std::vector<CDB_ATOM_ITERM*> sinks;
        for (auto it = q->begin_iterm_fanout(); it != q->end_iterm_fanout(); ++it) sinks.push_back(*it);
        for (CDB_ATOM_ITERM* sink : sinks) sink->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    }
    EXPECT_EQ(m_run->rtm().get_mac_output_ref_oterm(m_out), nullptr);
    MORV_RTM_OP op(nullptr);
    EXPECT_EQ(m_run->rtm().add_mac_output_register_to_unpack(&op, m_out), nullptr);
    EXPECT_EQ(op.m_failure_reason, MORV_RTM_NO_REG_ON_OUTPUT);

    make();
    CUT_MAC_UTIL::set_output_port_clock(m_out, DB_DATA_OUT, CUT_MAC_NO_CLOCK);
    MORV_RTM_OP unregistered(nullptr);
    EXPECT_EQ(m_run->rtm().add_mac_output_register_to_unpack(&unregistered, m_out), nullptr);
    EXPECT_EQ(unregistered.m_failure_reason, MORV_RTM_NO_REG_ON_OUTPUT);
    EXPECT_ANY_THROW(m_run->rtm().get_mac_output_ref_oterm(m_run->find("r0")));
}

}  // namespace

// ------------------------------------------------------------ register to pack

class RtmMacPack : public RtmMacOutputRegister
{
protected:
    // Register r0 on the block's clock, enable and clear of slot 0, the
    // other slots free (slot 1's clear term gone), and the block's output
    // register taken off.
    void make_pack()
    {
        make();
        CUT_MAC_UTIL::set_output_port_clock(m_out, DB_DATA_OUT, CUT_MAC_NO_CLOCK);
        CUT_MAC_UTIL::set_output_port_clear(m_out, DB_DATA_OUT, CUT_MAC_NO_CLEAR);
        for (int port : {DB_CLOCK, DB_CLOCK_ENABLE}) slot(port, 2)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        m_out->delete_input_term(slot(DB_CLEAR, 1));
        m_reg = m_run->find("r0");
        copy(DB_CLOCK_ENABLE);
        copy(DB_CLEAR);
        m_record = std::make_unique<MORV_RTM_REG>(m_reg, &m_run->rtm().get_register_secondary_signals());
    }
    // r0's input of `port` reads what the block's slot 0 reads.
    void copy(int port)
    {
        CDB_ATOM_ITERM* from = slot(port, 0);
        if (from == nullptr) {
            from = m_out->add_input_term(port, 0);
            m_run->find("i1")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(from);
        }
        CDB_ATOM_ITERM* to = m_reg->get_input_term_by_type(port);
        if (to == nullptr) to = m_reg->add_input_term(port);
        to->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        from->get_source()->insert_fanout(to);
        to->set_invert(from->is_inverted());
    }

    CDB_ATOM_NODE* m_reg = nullptr;
    std::unique_ptr<MORV_RTM_REG> m_record;
};

TEST_F(RtmMacPack, MatchingSlotsAreTaken)
{
    make_pack();
    MORV_RTM_OP op(nullptr);
    m_run->rtm().add_register_to_pack_into_mac(&op, m_out, m_record.get());
    ASSERT_TRUE(op.is_legal());
    ASSERT_EQ(op.m_regs_to_pack.size(), 1u);
    const MORV_RTM_REG* packed = op.m_regs_to_pack.front().get();
    EXPECT_NE(packed, m_record.get());
    EXPECT_EQ(packed->m_node, m_reg);
    EXPECT_EQ(packed->m_pack_info.m_clock_index, 0);
    EXPECT_EQ(packed->m_pack_info.m_clear_index, 0);
    EXPECT_EQ(packed->m_pack_info.m_output_type, DB_DATA_OUT);
    EXPECT_EQ(packed->m_mac_oterm, m_run->rtm().get_mac_output_ref_oterm(m_out));
}

// A clear read the other way round is not the slot's clear: a free slot is
// made ready instead.
TEST_F(RtmMacPack, OppositeClearTakesAFreeSlot)
{
    make_pack();
    CDB_ATOM_ITERM* clear = m_reg->get_input_term_by_type(DB_CLEAR);
    clear->set_invert(!clear->is_inverted());
    MORV_RTM_REG record(m_reg, &m_run->rtm().get_register_secondary_signals());
    ASSERT_EQ(slot(DB_CLEAR, 1), nullptr);
    MORV_RTM_OP op(nullptr);
    m_run->rtm().add_register_to_pack_into_mac(&op, m_out, &record);
    ASSERT_TRUE(op.is_legal());
    EXPECT_EQ(op.m_regs_to_pack.front()->m_pack_info.m_clock_index, 0);
    EXPECT_EQ(op.m_regs_to_pack.front()->m_pack_info.m_clear_index, 1);  // the first free one
    ASSERT_NE(slot(DB_CLEAR, 1), nullptr);
    EXPECT_FALSE(slot(DB_CLEAR, 1)->is_connected());
    EXPECT_GE(CUT_MAC_UTIL::get_input_port_width(m_out, DB_CLEAR), 2);
}

// A clock no slot carries gets the first free slot, its clock and enable
// terms made; the first free clear slot is taken the same way.
TEST_F(RtmMacPack, NewClockSlotIsMadeReady)
{
    make_pack();
    CDB_ATOM_ITERM* clock = m_reg->get_input_term_by_type(DB_CLOCK);
    clock->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    m_run->find("i3")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(clock);
    slot(DB_CLEAR, 0)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    ASSERT_EQ(slot(DB_CLOCK, 1), nullptr);
    MORV_RTM_REG record(m_reg, &m_run->rtm().get_register_secondary_signals());
    MORV_RTM_OP op(nullptr);
    m_run->rtm().add_register_to_pack_into_mac(&op, m_out, &record);
    ASSERT_TRUE(op.is_legal());
    EXPECT_EQ(op.m_regs_to_pack.front()->m_pack_info.m_clock_index, 1);
    EXPECT_EQ(op.m_regs_to_pack.front()->m_pack_info.m_clear_index, 0);
    ASSERT_NE(slot(DB_CLOCK, 1), nullptr);
    ASSERT_NE(slot(DB_CLOCK_ENABLE, 1), nullptr);
    EXPECT_FALSE(slot(DB_CLOCK, 1)->is_connected());
    EXPECT_GE(CUT_MAC_UTIL::get_input_port_width(m_out, DB_CLOCK_ENABLE), 2);
}

TEST_F(RtmMacPack, Refusals)
{
    make_pack();
    CUT_MAC_UTIL::set_output_port_clock(m_out, DB_DATA_OUT, 2);
    MORV_RTM_OP registered(nullptr);
    m_run->rtm().add_register_to_pack_into_mac(&registered, m_out, m_record.get());
    EXPECT_EQ(registered.m_failure_reason, MORV_RTM_REGISTERED_MAC_OUT);
    EXPECT_TRUE(registered.m_regs_to_pack.empty());

    CUT_MAC_UTIL::set_output_port_clock(m_out, DB_DATA_OUT, CUT_MAC_NO_CLOCK);
    // Every clock slot taken by the clock with an enable r0 does not have.
    CDB_ATOM_OTERM* clk = m_run->find("clk")->get_output_term_by_type(DB_DATA_OUT);
    CDB_ATOM_OTERM* other = m_run->find("i3")->get_output_term_by_type(DB_DATA_OUT);
    for (int i = 0; i < MORV_RTM::s_MAC_NUMBER_OF_CLOCKS; ++i) {
        for (int port : {DB_CLOCK, DB_CLOCK_ENABLE}) {
            CDB_ATOM_ITERM* t = slot(port, i);
            if (t == nullptr) t = m_out->add_input_term(port, i);
            t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            (port == DB_CLOCK ? clk : other)->insert_fanout(t);
        }
    }
    CDB_ATOM_ITERM* enable = m_reg->get_input_term_by_type(DB_CLOCK_ENABLE);
    enable->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    m_run->find("i2")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(enable);
    MORV_RTM_REG record(m_reg, &m_run->rtm().get_register_secondary_signals());
    MORV_RTM_OP op(nullptr);
    m_run->rtm().add_register_to_pack_into_mac(&op, m_out, &record);
    EXPECT_EQ(op.m_failure_reason, MORV_RTM_NO_MAC_SECONDARY_SIGNAL);
    EXPECT_TRUE(op.m_regs_to_pack.empty());
}

}  // namespace rtm_mac_test
