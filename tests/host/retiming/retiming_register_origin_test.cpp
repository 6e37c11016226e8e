// The registers a backward push creates stand for the register it pushed,
// whose output the iteration's later comparisons read in their place. The
// pushed register lives on without fanout until the demux pass deletes it;
// from then on nothing may still lead to its output. A pushed register that
// always loads gives up its synchronous data term as such, in the change
// log too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "retiming_4lut_bench.h"
#include "retiming_6lut_bench.h"

namespace retiming_register_origin_test {

namespace {

template <typename NET, typename RUN, uint64_t AND_MASK, bool LOGS>
struct BRANCH
{
    using net = NET;
    using run = RUN;
    // The family writes a change log (brennock does, the 4-LUT families do not).
    static constexpr bool logs = LOGS;

    // i0 AND i1 -> c -> r -> o.
    static std::unique_ptr<CDB_ATOM_NETLIST> build()
    {
        NET n;
        CDB_ATOM_NODE* c = n.lut("c", {n.input("i0"), n.input("i1")}, AND_MASK);
        n.output(NET::out(n.reg("r", NET::out(c))), "o");
        return n.take();
    }
    // The same with r always loading its synchronous data, c's output; its
    // data input reads a pin that does not matter.
    static std::unique_ptr<CDB_ATOM_NETLIST> build_always_loading()
    {
        NET n;
        CDB_ATOM_NODE* c = n.lut("c", {n.input("i0"), n.input("i1")}, AND_MASK);
        CDB_ATOM_NODE* r = n.reg("r", n.input("i2"));
        n.control(r, DB_SYNCH_LOAD, nullptr)->set_vcc();
        n.control(r, DB_SYNCH_DATA, NET::out(c));
        n.output(NET::out(r), "o");
        return n.take();
    }
};

template <typename T>
class RetimingRegisterOrigin : public ::testing::Test
{};

using BRANCHES = ::testing::Types<BRANCH<RTM4_NET, RTM4_RUN, 0x8888, false>, BRANCH<RTM6_NET, RTM6_RUN, 0x8, true>>;
TYPED_TEST_SUITE(RetimingRegisterOrigin, BRANCHES);

}  // namespace

TYPED_TEST(RetimingRegisterOrigin, NewRegistersStandForThePushedOneOnlyUntilTheDemuxPassDeletesIt)
{
    using P = TypeParam;
    const std::unique_ptr<CDB_ATOM_NETLIST> before = P::build();
    typename P::run run(P::build());
    auto& rtm = run.rtm();
    CDB_ATOM_NODE* r = run.find("r");
    CDB_ATOM_OTERM* r_out = r->get_output_term_by_type(DB_REG_OUT);
    // The host knows the register it loaded; what a push makes it does not.
    r_out->set_host_index(0);

    ASSERT_TRUE(run.push_backward(P::net::in(r, DB_DATAIN), run.find("c"), true));
    ASSERT_EQ(run.find("r"), r) << "a push only removes the register it pushes";
    std::vector<CDB_ATOM_NODE*> made;
    for (CDB_ATOM_NODE* reg : rtm.get_new_registers()) made.push_back(reg);
    ASSERT_EQ(made.size(), 2u);
    for (CDB_ATOM_NODE* reg : made) {
        CDB_ATOM_OTERM* out = reg->get_output_term_by_type(DB_REG_OUT);
        EXPECT_LT(out->get_host_index(), 0);
        EXPECT_EQ(rtm.resolve_regout(out), r_out);
    }
    RETIME_REG a = rtm.describe_register(made[0]);
    RETIME_REG b = rtm.describe_register(made[1]);
    EXPECT_TRUE(rtm.is_register_compatible(a, b));

    EXPECT_GE(rtm.run_demux_pass(), 1);
    EXPECT_EQ(run.find("r"), nullptr);
    // The deleted output is no longer an answer; comparing the two again
    // reads nothing of it (the sanitizer build sees any read).
    for (CDB_ATOM_NODE* reg : made) EXPECT_EQ(rtm.resolve_regout(reg->get_output_term_by_type(DB_REG_OUT)), nullptr);
    EXPECT_TRUE(rtm.is_register_compatible(a, b));
    CDB_ATOM_OTERM* again = made[0]->get_output_term_by_type(DB_REG_OUT);
    rtm.alias_regout(again, made[1]->get_output_term_by_type(DB_REG_OUT));
    EXPECT_EQ(rtm.resolve_regout(again), nullptr);

    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), "origin", true, 200);
    EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
}

TYPED_TEST(RetimingRegisterOrigin, AnAlwaysLoadingRegisterPushedAwayGivesUpItsSynchronousDataTerm)
{
    using P = TypeParam;
    const std::unique_ptr<CDB_ATOM_NETLIST> before = P::build_always_loading();
    typename P::run run(P::build_always_loading());
    TEST_CHANGE_LOG* log = P::logs ? &run.log_changes() : nullptr;
    CDB_ATOM_NODE* r = run.find("r");
    CDB_ATOM_ITERM* sdata = P::net::in(r, DB_SYNCH_DATA);
    ASSERT_TRUE(run.push_backward(sdata, run.find("c"), true));
    EXPECT_FALSE(sdata->is_connected());
    EXPECT_FALSE(sdata->is_used_as(DB_SYNCH_DATA));
    EXPECT_EQ(P::net::in(r, DB_SYNCH_DATA), nullptr);
    if (log != nullptr) {
        // The record names the term by the usage it gives up and its index.
        const std::string cleared = log_line("CLEAR_USAGE_AS", r, std::to_string(DB_SYNCH_DATA) + " 0");
        const std::vector<std::string> lines = pending_record_lines(*log);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), cleared), 1) << cleared;
    }
    EXPECT_GE(run.rtm().run_demux_pass(), 1);
    EXPECT_EQ(run.find("r"), nullptr);
    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), "always_loading", true, 200);
    EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
}

}  // namespace retiming_register_origin_test
