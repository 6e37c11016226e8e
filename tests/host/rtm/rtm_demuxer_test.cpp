// The register demuxer: its seven mux functions against the register rule,
// the folding of inversions and constants, which registers it takes, and
// demuxed netlists proved equivalent to the originals by ABC.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "io/blif_writer.h"

#include "abc_equiv.h"
#include "morv/rtm/morv_rtm_demuxer.h"
#include "rtm_test_run.h"
#include "seq_harness.h"

namespace rtm_demuxer_test {

namespace {

const int k_modes[] = {3, 5, 7, 25, 27, 29, 31};
constexpr int k_enable = 2, k_sclr = 4, k_sload = 24;

SEQ_GEN_OPTIONS register_options(int controls, SEQ_CONTROL_STYLE style, int registers = 3)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_BRK;
    o.m_registers = registers;
    o.m_cells = 6;
    o.m_register_controls = controls;
    o.m_control_style = style;
    o.m_chains = false;
    return o;
}

// The mask in the order of rows A + 2B + ... + 32F.
CDB_LUTMASK logical_mask(const CDB_ATOM_NODE* mux, bool mirrored)
{
    CDB_LUTMASK mask = mux->get_lutmask();
    if (mirrored) mask.mirror_mask();
    return mask;
}

bool bit(int row, int k)
{
    return ((row >> k) & 1) != 0;
}

TEST(RtmDemuxerMasks, SevenModesFollowTheRegisterRule)
{
    RTM_RUN run(register_options(k_enable, SEQ_CONTROL_STYLE::DRIVEN, 1), 1);
    for (bool mirror : {false, true}) {
        MORV_RTM_DEMUXER demuxer(run.api(), mirror);
        for (int mode : k_modes) {
            CDB_LUTMASK mask;
            ASSERT_TRUE(demuxer.get_mode_lutmask(mode, &mask)) << mode;
            for (int row = 0; row < 64; ++row) {
                CDB_REGISTER_INPUTS in;
                in.d = bit(row, 0);
                in.ena = (mode & k_enable) ? bit(row, 2) : 1;
                in.sclr = (mode & k_sclr) ? bit(row, 3) : 0;
                in.sdata = (mode & k_sload) ? bit(row, 4) : 0;
                in.sload = (mode & k_sload) ? bit(row, 5) : 0;
                const unsigned expected = cdb_register_next_state(in, bit(row, 1));
                const int at = mirror ? 63 - row : row;
                ASSERT_EQ(mask.get_bit(at) ? 1u : 0u, expected)
                    << "mode " << mode << " row " << row << " mirror " << mirror;
            }
        }
        CDB_LUTMASK none;
        for (int other : {0, 1, 2, 9, 17, 19, 23}) EXPECT_FALSE(demuxer.get_mode_lutmask(other, &none)) << other;
    }
}

TEST(RtmDemuxerMasks, InputConstantHoldsTheInput)
{
    std::mt19937_64 rng(7);
    for (int size : {4, 6}) {
        for (int round = 0; round < 20; ++round) {
            const CDB_LUTMASK original(size, rng());
            for (int k = 0; k < size; ++k) {
                for (int c : {0, 1}) {
                    CDB_LUTMASK held = original;
                    MORV_RTM_DEMUXER::set_lutmask_input_constant(&held, k, c);
                    EXPECT_TRUE(held.is_independent_of(k));
                    EXPECT_EQ(held, original.cofactor(k, c == 1)) << size << " " << k << " " << c;
                }
            }
        }
    }
}

class RtmDemuxer : public ::testing::Test
{
protected:
    // Register r0 of a generated netlist with exactly `controls`.
    void make(int controls, SEQ_CONTROL_STYLE style = SEQ_CONTROL_STYLE::DRIVEN)
    {
        m_run = std::make_unique<RTM_RUN>(register_options(controls, style, 1), 3);
        m_reg = m_run->find("r0");
        m_mirror = m_run->rtm().is_mirroring_lutmasks();
        m_demuxer = std::make_unique<MORV_RTM_DEMUXER>(m_run->api(), m_mirror);
    }
    CDB_ATOM_ITERM* term(int port) { return m_reg->get_input_term_by_type(port); }
    void tie(int port, bool physical_vcc, bool inverted)
    {
        CDB_ATOM_ITERM* t = term(port);
        t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        physical_vcc ? t->set_vcc() : t->set_gnd();
        t->set_invert(inverted);
    }
    // Demuxes r0 through a pass and answers the mux.
    CDB_ATOM_NODE* demux()
    {
        EXPECT_EQ(m_demuxer->run({static_cast<int>(m_reg->get_id())}), 1);
        CDB_ATOM_OTERM* source = term(DB_DATAIN)->get_source();
        return source == nullptr ? nullptr : source->get_my_node();
    }

    std::unique_ptr<RTM_RUN> m_run;
    CDB_ATOM_NODE* m_reg = nullptr;
    bool m_mirror = false;
    std::unique_ptr<MORV_RTM_DEMUXER> m_demuxer;
};

TEST_F(RtmDemuxer, WhichRegistersAreTaken)
{
    make(k_enable);
    EXPECT_TRUE(m_demuxer->is_demuxable(m_reg));
    EXPECT_FALSE(m_demuxer->is_demuxable(m_run->find("c0")));
    CDB_ATOM_ITERM* aload = m_reg->add_input_term(DB_ASYNCH_LOAD);
    aload->set_gnd();
    EXPECT_TRUE(m_demuxer->is_demuxable(m_reg));
    aload->set_invert();  // reads VCC
    EXPECT_FALSE(m_demuxer->is_demuxable(m_reg));
    aload->set_vcc();
    m_run->find("i0")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(aload);
    aload->clear_invert();
    EXPECT_FALSE(m_demuxer->is_demuxable(m_reg));
    aload->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    term(DB_CLOCK_ENABLE)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_FALSE(m_demuxer->is_demuxable(m_reg));  // no control left
    EXPECT_EQ(m_demuxer->run({static_cast<int>(m_reg->get_id()), 99999}), 0);

    make(k_sload);
    term(DB_SYNCH_DATA)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_FALSE(m_demuxer->is_demuxable(m_reg));  // a load of nothing has no mux function
    make(k_sclr);
    term(DB_DATAIN)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    term(DB_DATAIN)->clear_invert();
    EXPECT_FALSE(m_demuxer->is_demuxable(m_reg));

    make(k_enable);
    CDB_ATOM_ASSIGNMENTS keep = m_reg->get_assignments();
    keep.dont_touch = true;
    m_reg->set_assignments(keep);
    EXPECT_FALSE(m_demuxer->is_demuxable(m_reg));
}

TEST_F(RtmDemuxer, EnableTiedOnIsTheIdentityWithFeedbackKept)
{
    make(k_enable);
    tie(DB_CLOCK_ENABLE, false, true);  // physical GND read through the bit: always enabled
    CDB_ATOM_OTERM* data = term(DB_DATAIN)->get_source();
    const bool data_inverted = term(DB_DATAIN)->is_inverted();
    CDB_ATOM_NODE* mux = demux();
    ASSERT_NE(mux, nullptr);
    ASSERT_TRUE(mux->is_lcell_comb());
    EXPECT_FALSE(term(DB_CLOCK_ENABLE)->is_connected());
    EXPECT_FALSE(term(DB_DATAIN)->is_inverted());
    CDB_ATOM_ITERM* feedback = mux->get_input_term_by_type(DB_DATA_B);
    ASSERT_NE(feedback, nullptr);
    EXPECT_EQ(feedback->get_source(), m_reg->get_output_term_by_type(DB_REG_OUT));
    EXPECT_EQ(mux->get_input_term_by_type(DB_DATA_C), nullptr);
    ASSERT_NE(mux->get_input_term_by_type(DB_DATA_A), nullptr);
    EXPECT_EQ(mux->get_input_term_by_type(DB_DATA_A)->get_source(), data);
    EXPECT_FALSE(mux->get_input_term_by_type(DB_DATA_A)->is_inverted());
    CDB_LUTMASK expected(6, 0xAAAAAAAAAAAAAAAAull);
    if (data_inverted) expected.invert_input(0);
    EXPECT_EQ(logical_mask(mux, m_mirror), expected);
}

TEST_F(RtmDemuxer, InvertedEnableGoesIntoTheMask)
{
    make(k_enable, SEQ_CONTROL_STYLE::INVERTED);
    CDB_ATOM_OTERM* enable = term(DB_CLOCK_ENABLE)->get_source();
    term(DB_DATAIN)->clear_invert();
    CDB_ATOM_NODE* mux = demux();
    ASSERT_NE(mux, nullptr);
    CDB_ATOM_ITERM* c = mux->get_input_term_by_type(DB_DATA_C);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->get_source(), enable);
    EXPECT_FALSE(c->is_inverted());
    CDB_LUTMASK expected(6, 0xACACACACACACACACull);
    expected.invert_input(2);
    EXPECT_EQ(logical_mask(mux, m_mirror), expected);
}

// A synchronous clear tied off through its inversion bit: the constant is
// applied once, so the register keeps loading its data.
TEST_F(RtmDemuxer, ClearTiedOffIsFoldedAway)
{
    for (bool physical_vcc : {false, true}) {
        make(k_sclr);
        tie(DB_SYNCH_CLEAR, physical_vcc, physical_vcc);  // reads GND either way
        term(DB_DATAIN)->clear_invert();
        CDB_ATOM_NODE* mux = demux();
        ASSERT_NE(mux, nullptr);
        EXPECT_EQ(mux->get_input_term_by_type(DB_DATA_D), nullptr);
        EXPECT_EQ(mux->get_input_term_by_type(DB_DATA_B), nullptr);  // no enable, no feedback
        EXPECT_FALSE(term(DB_SYNCH_CLEAR)->is_connected());
        EXPECT_EQ(logical_mask(mux, m_mirror), CDB_LUTMASK(6, 0xAAAAAAAAAAAAAAAAull)) << physical_vcc;
    }
}

// The same function whichever order the masks are stored in.
TEST_F(RtmDemuxer, MirroredMaskGivesTheSameFunction)
{
    for (bool mirror : {false, true}) {
        make(k_enable | k_sclr);
        tie(DB_CLOCK_ENABLE, false, true);
        term(DB_DATAIN)->clear_invert();
        MORV_RTM_DEMUXER demuxer(m_run->api(), mirror);
        demuxer.demux_register(m_reg);
        CDB_ATOM_NODE* mux = term(DB_DATAIN)->get_source()->get_my_node();
        CDB_LUTMASK expected(6, 0x00AA00AA00AA00AAull);  // enabled for ever: D ? 0 : A
        EXPECT_EQ(logical_mask(mux, mirror), expected) << mirror;
    }
}

// ------------------------------------------------------------ equivalence

class RtmDemuxerEquivalence : public ::testing::TestWithParam<int>
{};

void demux_and_prove(int mode, SEQ_CONTROL_STYLE style, uint64_t seed, const std::string& tag)
{
    const SEQ_GEN_OPTIONS options = register_options(mode & ~1, style);
    std::unique_ptr<CDB_ATOM_NETLIST> before = seq_generate(options, seed);
    RTM_RUN run(options, seed);
    MORV_RTM_DEMUXER demuxer(run.api(), run.rtm().is_mirroring_lutmasks());
    const std::set<int> registers = run.ids_of([](const CDB_ATOM_NODE* n) { return n->is_lcell_ff(); });
    int demuxable = 0;
    for (int id : registers) demuxable += demuxer.is_demuxable(run.api()->get_node(id)) ? 1 : 0;
    ASSERT_GT(demuxable, 0) << tag;
    EXPECT_EQ(demuxer.run(registers), demuxable) << tag;
    for (int id : registers) {
        CDB_ATOM_NODE* reg = run.api()->get_node(id);
        for (int port : {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA}) {
            CDB_ATOM_ITERM* t = reg->get_input_term_by_type(port);
            EXPECT_TRUE(t == nullptr || !t->is_connected()) << tag;
        }
    }
    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), tag, true);
    EXPECT_TRUE(verdict.m_same_registers) << tag;
    EXPECT_TRUE(verdict.equivalent()) << tag << ": " << verdict.describe();
    blif_write_netlist_file(*before, tag + "_before.blif");
    blif_write_netlist_file(run.netlist(), tag + "_after.blif");
    const ABC_RESULT dsec = abc_check_equivalence(tag + "_before.blif", tag + "_after.blif", true);
    EXPECT_TRUE(dsec.is_equivalent()) << tag << ": " << dsec.m_command << "\n" << dsec.m_output;
}

TEST_P(RtmDemuxerEquivalence, InvertedAndConstantControls)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const int mode = GetParam();
    for (uint64_t seed : {11u, 12u}) {
        demux_and_prove(mode, SEQ_CONTROL_STYLE::INVERTED, seed,
                        rtm_name("demux_inverted_", mode) + rtm_name("_", seed));
        demux_and_prove(mode, SEQ_CONTROL_STYLE::CONSTANT, seed,
                        rtm_name("demux_constant_", mode) + rtm_name("_", seed));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, RtmDemuxerEquivalence, ::testing::ValuesIn(k_modes),
                         [](const ::testing::TestParamInfo<int>& param_info) {
                             return rtm_name("Mode", param_info.param);
                         });

}  // namespace

}  // namespace rtm_demuxer_test
