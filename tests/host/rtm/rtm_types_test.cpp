// The engine's records: signal equality, register comparison and copies,
// and an operation's bookkeeping of registers and initial conditions.

#include <gtest/gtest.h>

#include "cdb/cdb_atom_netlist.h"

#include "morv/rtm/morv_rtm_types.h"
#include "rtm_test_run.h"

namespace rtm_types_test {

namespace {

// Two plain registers r0 and r1 whose enables the cases rewire, plus a
// DSP slice for records of a node that has no synchronous controls.
class RtmTypes : public ::testing::Test
{
protected:
    RtmTypes() : m_run(options(), 5)
    {
        m_r0 = m_run.find("r0");
        m_r1 = m_run.find("r1");
        m_in0 = m_run.find("i0")->get_output_term_by_type(DB_DATA_OUT);
        m_in1 = m_run.find("i1")->get_output_term_by_type(DB_DATA_OUT);
        m_e0 = enable(m_r0);
        m_e1 = enable(m_r1);
    }
    static SEQ_GEN_OPTIONS options()
    {
        SEQ_GEN_OPTIONS o;
        o.m_registers = 2;
        o.m_cells = 3;
        o.m_register_controls = 2;
        o.m_dsps = true;
        return o;
    }
    static CDB_ATOM_ITERM* enable(CDB_ATOM_NODE* reg)
    {
        CDB_ATOM_ITERM* e = reg->get_input_term_by_type(DB_CLOCK_ENABLE);
        e->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        e->clear_invert();
        return e;
    }
    static void drive(CDB_ATOM_OTERM* from, CDB_ATOM_ITERM* to, bool inverted = false)
    {
        to->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        from->insert_fanout(to);
        to->set_invert(inverted);
    }
    static void tie(CDB_ATOM_ITERM* t, bool physical_vcc, bool inverted)
    {
        t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        physical_vcc ? t->set_vcc() : t->set_gnd();
        t->set_invert(inverted);
    }
    bool same_controls(const MORV_RTM_PORT_LIST& ports)
    {
        MORV_RTM_REG a(m_r0, &ports), b(m_r1, &ports);
        return MORV_RTM_REG::have_same_secondary_signals(&a, &b, &ports);
    }

    RTM_RUN m_run;
    CDB_ATOM_NODE* m_r0;
    CDB_ATOM_NODE* m_r1;
    CDB_ATOM_OTERM* m_in0;
    CDB_ATOM_OTERM* m_in1;
    CDB_ATOM_ITERM* m_e0;
    CDB_ATOM_ITERM* m_e1;
};

TEST_F(RtmTypes, SameSignalOnTwoTerms)
{
    EXPECT_TRUE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
    EXPECT_TRUE(MORV_RTM_SIGNAL::is_same_signal(nullptr, m_e1));
    drive(m_in0, m_e1);
    EXPECT_FALSE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
    EXPECT_FALSE(MORV_RTM_SIGNAL::is_same_signal(m_e1, m_e0));
    drive(m_in0, m_e0, true);
    EXPECT_TRUE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));  // the source decides, not the inversion
    drive(m_in1, m_e0);
    EXPECT_FALSE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
    // Constants compare by the value the port reads.
    tie(m_e0, true, false);
    tie(m_e1, false, true);
    EXPECT_TRUE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
    tie(m_e1, false, false);
    EXPECT_FALSE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
    tie(m_e0, true, true);
    EXPECT_TRUE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
    drive(m_in0, m_e1);
    EXPECT_FALSE(MORV_RTM_SIGNAL::is_same_signal(m_e0, m_e1));
}

// A constant reached through the inversion bit is recorded as the value the
// register reads, with no inversion left beside it to be applied again.
TEST_F(RtmTypes, ConstantRecordedAsReadWithoutInversion)
{
    tie(m_e0, false, true);
    MORV_RTM_SIGNAL vcc(DB_CLOCK_ENABLE, m_e0);
    EXPECT_TRUE(vcc.is_vcc());
    EXPECT_FALSE(vcc.is_gnd());
    EXPECT_FALSE(vcc.is_inverted());
    EXPECT_EQ(vcc.get_src_oterm(), nullptr);
    tie(m_e0, true, true);
    MORV_RTM_SIGNAL gnd(DB_CLOCK_ENABLE, m_e0);
    EXPECT_TRUE(gnd.is_gnd());
    EXPECT_FALSE(gnd.is_vcc());
    EXPECT_FALSE(gnd.is_inverted());
    drive(m_in0, m_e0, true);
    MORV_RTM_SIGNAL driven(DB_CLOCK_ENABLE, m_e0);
    EXPECT_EQ(driven.get_src_oterm(), m_in0);
    EXPECT_TRUE(driven.is_inverted());
    EXPECT_FALSE(driven.is_vcc() || driven.is_gnd());
    MORV_RTM_SIGNAL absent(DB_CLOCK_ENABLE, m_e1);
    EXPECT_EQ(absent.get_src_oterm(), nullptr);
    EXPECT_FALSE(absent.is_vcc() || absent.is_gnd());
    EXPECT_EQ(absent.get_iterm_properties().delay_chain_index, -1);
}

TEST_F(RtmTypes, SecondarySignalComparison)
{
    const MORV_RTM_PORT_LIST enable_only = {DB_CLOCK_ENABLE};
    EXPECT_TRUE(same_controls({}));
    EXPECT_TRUE(same_controls(enable_only));  // both unconnected
    drive(m_in0, m_e0);
    EXPECT_FALSE(same_controls(enable_only));  // one absent
    drive(m_in0, m_e1, true);
    EXPECT_FALSE(same_controls(enable_only));  // opposite inversion
    m_e1->clear_invert();
    EXPECT_TRUE(same_controls(enable_only));
    m_e1->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    m_e1->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, 3);
    EXPECT_TRUE(same_controls(enable_only));  // routing does not count
    m_e1->set_global(2);
    EXPECT_FALSE(same_controls(enable_only));
    m_e1->set_global(0);
    tie(m_e0, false, true);
    tie(m_e1, true, false);
    EXPECT_TRUE(same_controls(enable_only));
    // The walk stops at the first unequal type, in list order.
    drive(m_in0, m_r0->get_input_term_by_type(DB_CLOCK));
    EXPECT_FALSE(same_controls({DB_CLOCK_ENABLE, DB_CLOCK}));
}

// A register has no LUT input: no record, against the DSP block's absent one.
TEST_F(RtmTypes, NotImplementedPortHasNoRecord)
{
    CDB_ATOM_NODE* mult = m_run.find("d0_m0");
    ASSERT_NE(mult, nullptr);
    ASSERT_FALSE(m_r0->implements(DB_DATA_C));
    ASSERT_TRUE(mult->implements(DB_DATA_C));
    const MORV_RTM_PORT_LIST ports = {DB_DATA_C};
    MORV_RTM_REG dsp(mult, &ports), lcell(m_r0, &ports), other(m_r1, &ports);
    EXPECT_EQ(lcell.get_secondary_signal(DB_DATA_C), nullptr);
    ASSERT_NE(dsp.get_secondary_signal(DB_DATA_C), nullptr);
    EXPECT_EQ(dsp.get_secondary_signal(DB_DATA_C)->get_src_oterm(), nullptr);
    EXPECT_FALSE(MORV_RTM_REG::have_same_secondary_signals(&dsp, &lcell, &ports));
    EXPECT_FALSE(MORV_RTM_REG::have_same_secondary_signals(&lcell, &dsp, &ports));
    EXPECT_TRUE(MORV_RTM_REG::have_same_secondary_signals(&lcell, &other, &ports));
}

TEST_F(RtmTypes, CloneCopiesNodeReferenceAndSignalsOnly)
{
    drive(m_in1, m_e0, true);
    const MORV_RTM_PORT_LIST& ports = m_run.rtm().get_register_secondary_signals();
    MORV_RTM_REG reg(m_r0, &ports);
    reg.m_ref_oterm = m_r0->get_output_term_by_type(DB_REG_OUT);
    reg.m_type = MORV_RTM_REG_LCELL;
    reg.m_direction = 2;
    reg.m_ic = MORV_RTM_REG_IC_HIGH;
    reg.m_bypass_all_fanouts = true;
    reg.m_pack_info.m_clock_index = 1;
    reg.m_add_on_oterm = m_in0;
    MORV_OWNER<MORV_RTM_REG> copy = reg.clone();
    EXPECT_EQ(copy->m_node, m_r0);
    EXPECT_EQ(copy->m_ref_oterm, reg.m_ref_oterm);
    EXPECT_EQ(copy->get_instance_name(), reg.m_ref_oterm->get_instance_name());
    EXPECT_EQ(copy->m_type, MORV_RTM_REG_NONE);
    EXPECT_EQ(copy->m_direction, 0);
    EXPECT_EQ(copy->m_ic, MORV_RTM_REG_IC_NONE);
    EXPECT_FALSE(copy->m_bypass_all_fanouts);
    EXPECT_EQ(copy->m_pack_info.m_clock_index, -1);
    EXPECT_EQ(copy->m_add_on_oterm, nullptr);
    ASSERT_EQ(copy->m_secondary_signals_map.size(), reg.m_secondary_signals_map.size());
    for (const auto& [type, signal] : reg.m_secondary_signals_map) {
        const MORV_RTM_SIGNAL* twin = copy->get_secondary_signal(type);
        ASSERT_NE(twin, nullptr);
        EXPECT_NE(twin, signal.get());
        EXPECT_TRUE(twin->is_equivalent(*signal));
    }
    EXPECT_TRUE(MORV_RTM_REG::have_same_secondary_signals(&reg, copy.get(), &ports));
    EXPECT_TRUE(copy->get_secondary_signal(DB_CLOCK_ENABLE)->is_inverted());
}

TEST_F(RtmTypes, BypassedTerms)
{
    MORV_RTM_REG reg(m_r0, &m_run.rtm().get_register_secondary_signals());
    EXPECT_FALSE(reg.is_bypassed_iterm(m_e0));
    reg.m_bypassed_iterms.insert(m_e0);
    EXPECT_TRUE(reg.is_bypassed_iterm(m_e0));
    EXPECT_FALSE(reg.is_bypassed_iterm(m_e1));
    reg.m_bypass_all_fanouts = true;
    EXPECT_TRUE(reg.is_bypassed_iterm(m_e1));
}

TEST_F(RtmTypes, OperationRegistersAndInitialConditions)
{
    const MORV_RTM_PORT_LIST& ports = m_run.rtm().get_register_secondary_signals();
    MORV_RTM_REG moved(m_r0, &ports);
    MORV_RTM_OP op(&moved);
    EXPECT_TRUE(op.is_legal());
    auto on_iterm = [&](CDB_ATOM_ITERM* t) {
        MORV_OWNER<MORV_RTM_REG> r = moved.clone();
        r->m_add_on_iterm = t;
        return r;
    };
    MORV_OWNER<MORV_RTM_REG> first = on_iterm(m_e0), second = on_iterm(m_e0), other = on_iterm(m_e1);
    MORV_RTM_REG* later = second.get();
    MORV_RTM_REG* elsewhere = other.get();
    op.add_register_to_add(std::move(first));
    op.add_register_to_add(std::move(second));
    op.add_register_to_add(std::move(other));
    EXPECT_EQ(op.m_regs_to_add.size(), 3u);
    EXPECT_EQ(op.get_register_added_on_iterm(m_e0), later);
    EXPECT_EQ(op.get_register_added_on_iterm(m_e1), elsewhere);
    EXPECT_EQ(op.get_register_added_on_iterm(m_r1->get_input_term_by_type(DB_CLOCK)), nullptr);
    MORV_OWNER<MORV_RTM_REG> out = moved.clone();
    out->m_add_on_oterm = m_in0;
    MORV_RTM_REG* on_out = out.get();
    op.add_register_to_add(std::move(out));
    EXPECT_EQ(op.get_register_added_on_oterm(m_in0), on_out);
    EXPECT_EQ(op.get_register_added_on_oterm(m_in1), nullptr);

    EXPECT_EQ(op.get_node_ic(m_r1), MORV_RTM_REG_IC_NONE);
    EXPECT_TRUE(op.m_node_to_ic_map.empty());  // reading inserts nothing
    op.set_node_ic(m_r1, MORV_RTM_REG_IC_HIGH);
    EXPECT_EQ(op.get_node_ic(m_r1), MORV_RTM_REG_IC_HIGH);
    EXPECT_EQ(op.get_node_ic(m_r0), MORV_RTM_REG_IC_NONE);
    EXPECT_EQ(op.get_iterm_ic(m_e0), MORV_RTM_REG_IC_NONE);
    op.set_iterm_ic(m_e0, MORV_RTM_REG_IC_LOW);
    EXPECT_EQ(op.get_iterm_ic(m_e0), MORV_RTM_REG_IC_LOW);
    EXPECT_EQ(op.get_iterm_ic(m_e1), MORV_RTM_REG_IC_NONE);

    op.add_register_to_remove(moved.clone());
    op.add_register_to_pack(moved.clone());
    op.add_register_to_unpack(moved.clone());
    EXPECT_EQ(op.m_regs_to_remove.size() + op.m_regs_to_pack.size() + op.m_regs_to_unpack.size(), 3u);
}

}  // namespace

}  // namespace rtm_types_test
