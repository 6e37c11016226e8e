// The control mux of 6-LUT retiming: its masks against the register rule,
// and demuxed registers proved equivalent to the original ones.

#include <functional>

#include "morv/core/morv_setting_ids.h"
#include "retiming_6lut_bench.h"

namespace retiming_6lut_demux_test {

namespace {

using BUILD = std::function<void(RTM6_NET&)>;

std::unique_ptr<CDB_ATOM_NETLIST> build(const BUILD& b)
{
    RTM6_NET n;
    b(n);
    return n.take();
}

// r0 from i0 through c0 (a buffer), controls added by the case.
CDB_ATOM_NODE* plain_register(RTM6_NET& n)
{
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0")}, 0x2);
    CDB_ATOM_NODE* r0 = n.reg("r0", RTM6_NET::out(c0));
    n.output(RTM6_NET::out(r0), "o0");
    return r0;
}

struct CASE
{
    const char* name;
    BUILD build;
};

const CASE k_cases[] = {
    {"enable", [](RTM6_NET& n) { n.control(plain_register(n), DB_CLOCK_ENABLE, n.input("e")); }},
    {"inverted_enable", [](RTM6_NET& n) { n.control(plain_register(n), DB_CLOCK_ENABLE, n.input("e"))->set_invert(); }},
    {"sclear", [](RTM6_NET& n) { n.control(plain_register(n), DB_SYNCH_CLEAR, n.input("s")); }},
    {"all_controls",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = plain_register(n);
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
         n.control(r0, DB_SYNCH_CLEAR, n.input("s"))->set_invert();
         n.control(r0, DB_SYNCH_DATA, n.input("sd"));
         n.control(r0, DB_SYNCH_LOAD, n.input("ld"));
     }},
    // The data inversion stays on the data path alone, not on the hold path.
    {"inverted_data_input",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = plain_register(n);
         RTM6_NET::in(r0, DB_DATAIN)->set_invert();
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
     }},
    // Synchronous data without a load: never loaded.
    {"sdata_without_load",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = plain_register(n);
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
         n.control(r0, DB_SYNCH_DATA, n.input("sd"));
     }},
    // A data input tied high reads 1, through the mux as well.
    {"vcc_data_input",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = n.reg("r0", nullptr);
         RTM6_NET::in(r0, DB_DATAIN)->set_vcc();
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
         n.output(RTM6_NET::out(r0), "o0");
     }},
    // Synchronous data tied high under a live load: the register loads 1.
    {"vcc_synchronous_data",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = plain_register(n);
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
         n.control(r0, DB_SYNCH_DATA, nullptr)->set_vcc();
         n.control(r0, DB_SYNCH_LOAD, n.input("ld"));
     }},
    // A live load with open synchronous data loads 0, with an enable or
    // with a clear alone.
    {"live_load_open_sdata",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = plain_register(n);
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
         n.control(r0, DB_SYNCH_DATA, nullptr);
         n.control(r0, DB_SYNCH_LOAD, n.input("ld"));
     }},
    {"live_load_no_sdata_term",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = plain_register(n);
         n.control(r0, DB_SYNCH_CLEAR, n.input("s"));
         n.control(r0, DB_SYNCH_LOAD, n.input("ld"))->set_invert();
     }},
    // An unconnected data input reads 0.
    {"unconnected_data_input",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* r0 = n.reg("r0", nullptr);
         n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
         n.control(r0, DB_SYNCH_DATA, n.input("sd"));
         n.control(r0, DB_SYNCH_LOAD, n.input("ld"));
         n.output(RTM6_NET::out(r0), "o0");
     }},
};

class Retiming6LutDemux : public ::testing::TestWithParam<CASE>
{};

}  // namespace

TEST_P(Retiming6LutDemux, DemuxedRegisterIsEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const CASE& c = GetParam();
    RTM6_RUN run(build(c.build));
    CDB_ATOM_NODE* r0 = run.find("r0");
    // Through the demuxer that retiming's demux step and the manual demux run.
    run.rtm().queue(r0);
    ASSERT_EQ(run.rtm().run_demuxer(), 1);
    for (int port : {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA}) {
        CDB_ATOM_ITERM* t = r0->get_input_term_by_type(port);
        EXPECT_TRUE(t == nullptr || !t->is_connected()) << port;
    }
    // A synchronous data without a load is left off the mux.
    CDB_ATOM_NODE* mux = RTM6_NET::in(r0, DB_DATAIN)->get_source()->get_my_node();
    const bool loads = std::string(c.name).find("without_load") == std::string::npos;
    const CDB_ATOM_ITERM* sdata_in = mux->get_input_term_by_type(DB_DATA_E);
    EXPECT_TRUE(loads || sdata_in == nullptr || !sdata_in->is_connected());
    std::unique_ptr<CDB_ATOM_NETLIST> before = build(c.build);
    const SEQ_VERDICT v = seq_check(*before, run.netlist(), std::string("rtm6_mux_") + c.name, true, 200);
    EXPECT_TRUE(v.equivalent()) << c.name << ": " << v.describe();
}

INSTANTIATE_TEST_SUITE_P(Cases, Retiming6LutDemux, ::testing::ValuesIn(k_cases),
                         [](const ::testing::TestParamInfo<CASE>& c) { return std::string(c.param.name); });

// Each mask against the register rule for every input combination; inputs
// of absent controls must not matter.
TEST(Retiming6LutMux, SevenMasksFollowTheRegisterRule)
{
    for (int use = 1; use < 8; ++use) {
        const bool clear = use & 4, enable = use & 2, sdata = use & 1;
        const uint64_t mask = morv_retiming_6lut_mux_mask(clear, enable, sdata);
        for (unsigned i = 0; i < 64; ++i) {
            CDB_REGISTER_INPUTS in;
            in.d = i & 1u;
            const unsigned q = (i >> 1) & 1u;
            in.ena = enable ? (i >> 2) & 1u : 1u;
            in.sclr = clear ? (i >> 3) & 1u : 0u;
            in.sdata = (i >> 4) & 1u;
            in.sload = sdata ? (i >> 5) & 1u : 0u;
            EXPECT_EQ((mask >> (63 - i)) & 1u, cdb_register_next_state(in, q)) << "use " << use << " index " << i;
        }
    }
}

TEST(Retiming6LutMux, OnlyControlsInUseAreDemuxed)
{
    // Enable tied to VCC and nothing else: nothing to demux.
    RTM6_RUN vcc(build([](RTM6_NET& n) { n.control(plain_register(n), DB_CLOCK_ENABLE, nullptr)->set_vcc(); }));
    EXPECT_FALSE(vcc.rtm().create_control_mux(vcc.find("r0")));
    // Enable tied to GND (a physical VCC read inverted): never loads, never demuxed.
    RTM6_RUN gnd(build([](RTM6_NET& n) {
        CDB_ATOM_ITERM* e = n.control(plain_register(n), DB_CLOCK_ENABLE, nullptr);
        e->set_vcc();
        e->set_invert();
        n.control(seq_find(n.netlist(), "r0"), DB_SYNCH_CLEAR, n.input("s"));
    }));
    EXPECT_FALSE(gnd.rtm().create_control_mux(gnd.find("r0")));
    // A clear alone: inputs A and D, the clear-only mask.
    RTM6_RUN sclr(build([](RTM6_NET& n) { n.control(plain_register(n), DB_SYNCH_CLEAR, n.input("s")); }));
    CDB_ATOM_NODE* r0 = sclr.find("r0");
    ASSERT_TRUE(sclr.rtm().create_control_mux(r0));
    CDB_ATOM_NODE* mux = RTM6_NET::in(r0, DB_DATAIN)->get_source()->get_my_node();
    EXPECT_EQ(mux->get_lutmask().get_value(), 0x5500550055005500ULL);
    for (int port = DB_DATA_A; port <= DB_DATA_G; ++port)
        EXPECT_EQ(mux->get_input_term_by_type(port) != nullptr, port == DB_DATA_A || port == DB_DATA_D) << port;
}

// The demuxer skips a register whose enable carries option 371 and one
// that is no longer alive; it demuxes the others.
TEST(Retiming6LutMux, DemuxerHonoursTheNoDemuxOption)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        CDB_ATOM_OTERM* e = n.input("e");
        n.control(plain_register(n), DB_CLOCK_ENABLE, e);
        CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
        n.control(r1, DB_CLOCK_ENABLE, n.input("f"));
        n.output(RTM6_NET::out(r1), "o1");
    }));
    CDB_ATOM_NODE* r0 = run.find("r0");
    CDB_ATOM_NODE* r1 = run.find("r1");
    run.design().options();
    run.design()
        .action_point()
        .edit_instance_options(run.find("e")->get_instance_name())
        .set_bool(MORV_SETTING_RETIMING_NO_DEMUX, true);
    run.rtm().queue(r0);
    run.rtm().queue(r1);
    EXPECT_EQ(run.rtm().run_demuxer(), 1);
    EXPECT_TRUE(RTM6_NET::in(r0, DB_CLOCK_ENABLE)->is_connected());
    EXPECT_FALSE(RTM6_NET::in(r1, DB_CLOCK_ENABLE)->is_connected());
}

}  // namespace retiming_6lut_demux_test
