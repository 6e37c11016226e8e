// Each construct of the shared fixture, on both change-log families,
// computes what the host's evaluation says it should: the cycle simulator
// runs the cells' own evaluate_output and the register rule.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cycle_sim.h"
#include "fixture_netlist.h"
#include "host_env.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"

namespace fixture_netlist_test {

namespace {

class FixtureNetlist : public ::testing::TestWithParam<int>
{};

// A one-letter prefix and a number, built without the operator+ of a
// literal and a temporary, which GCC 12 misreads at -O3 (-Wrestrict).
std::string numbered(char prefix, size_t k)
{
    std::string s(1, prefix);
    s += std::to_string(k);
    return s;
}

size_t index_of(const std::vector<std::string>& names, const std::string& name)
{
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return i;
    ADD_FAILURE() << "no port " << name;
    return 0;
}

// Sets the inputs named i0.. from the bits of `row`.
void apply(CYCLE_SIM& sim, const std::vector<CDB_ATOM_OTERM*>& inputs, unsigned row)
{
    for (size_t k = 0; k < inputs.size(); ++k)
        sim.set_input(index_of(sim.input_names(), numbered('i', k)), (row >> k) & 1u);
}

}  // namespace

TEST_P(FixtureNetlist, LutsComputeTheirTruthTablesAndConstantsTheirValues)
{
    FIXTURE_NETLIST f(GetParam());
    std::vector<CDB_ATOM_OTERM*> in;
    for (int k = 0; k < 6; ++k) in.push_back(f.input(numbered('i', k)));
    std::mt19937_64 rng(52);
    std::vector<uint64_t> truths;
    for (int k = 1; k <= 6; ++k) {
        const uint64_t mask = k == 6 ? ~uint64_t{0} : (uint64_t{1} << (1u << k)) - 1;
        truths.push_back(rng() & mask);
        const std::vector<CDB_ATOM_OTERM*> used(in.begin(), in.begin() + k);
        f.output(numbered('o', k), f.lut(numbered('l', k), used, truths.back()));
    }
    f.output("zero", f.constant("gnd", false));
    f.output("one", f.constant("vcc", true));
    f.output("not_i0", in[0], true);
    CYCLE_SIM sim(f.netlist());
    for (unsigned row = 0; row < 64; ++row) {
        apply(sim, in, row);
        for (int k = 1; k <= 6; ++k) {
            const unsigned expected = (truths[k - 1] >> (row & ((1u << k) - 1))) & 1u;
            EXPECT_EQ(sim.output(index_of(sim.output_names(), numbered('o', k))), expected) << k << " " << row;
        }
        EXPECT_EQ(sim.output(index_of(sim.output_names(), "zero")), 0u);
        EXPECT_EQ(sim.output(index_of(sim.output_names(), "one")), 1u);
        EXPECT_EQ(sim.output(index_of(sim.output_names(), "not_i0")), (row & 1u) ^ 1u);
    }
}

TEST_P(FixtureNetlist, AdderAddsOverItsChain)
{
    for (int width : {1, 3, 4}) {
        FIXTURE_NETLIST f(GetParam());
        std::vector<CDB_ATOM_OTERM*> a, b, in;
        for (int k = 0; k < width; ++k) a.push_back(f.input(numbered('i', k)));
        for (int k = 0; k < width; ++k) b.push_back(f.input(numbered('i', width + k)));
        in = a;
        in.insert(in.end(), b.begin(), b.end());
        const std::vector<CDB_ATOM_OTERM*> sum = f.adder("add", a, b);
        ASSERT_EQ(sum.size(), static_cast<size_t>(width + 1));
        for (size_t k = 0; k < sum.size(); ++k) f.output(numbered('s', k), sum[k]);
        CYCLE_SIM sim(f.netlist());
        for (unsigned row = 0; row < (1u << (2 * width)); ++row) {
            apply(sim, in, row);
            const unsigned x = row & ((1u << width) - 1), y = row >> width;
            unsigned got = 0;
            for (size_t k = 0; k < sum.size(); ++k)
                got |= sim.output(index_of(sim.output_names(), numbered('s', k))) << k;
            EXPECT_EQ(got, x + y) << "width " << width << ": " << x << " + " << y;
        }
    }
}

TEST_P(FixtureNetlist, RegistersTakeTheirDataOnTheClockWhenEnabled)
{
    FIXTURE_NETLIST f(GetParam());
    CDB_ATOM_OTERM* d = f.input("i0");
    CDB_ATOM_OTERM* ena = f.input("i1");
    CDB_ATOM_OTERM* clk = f.input("clk");
    f.output("q", f.reg("r", d, clk, ena));
    f.output("q_free", f.reg("r_free", d, clk));
    CYCLE_SIM sim(f.netlist());
    const size_t q = index_of(sim.output_names(), "q"), q_free = index_of(sim.output_names(), "q_free");
    apply(sim, {d, ena}, 0b01);
    EXPECT_EQ(sim.output(q), 0u);  // power-up state
    sim.clock();
    EXPECT_EQ(sim.output(q), 0u);  // not enabled
    EXPECT_EQ(sim.output(q_free), 1u);
    apply(sim, {d, ena}, 0b11);
    sim.clock();
    EXPECT_EQ(sim.output(q), 1u);
}

// The latch's feedback loop is no cycle-simulator netlist: its cell is
// checked on the host's evaluation directly, with the latch recorded.
TEST_P(FixtureNetlist, LatchHoldsUnlessEnabledAndIsRecordedAsOne)
{
    FIXTURE_NETLIST f(GetParam());
    CDB_ATOM_OTERM* q = f.latch("lat", f.input("i0"), f.input("i1"));
    CDB_ATOM_NODE* cell = q->get_my_node();
    ASSERT_NE(cut_get_atom_latch_info(cell), nullptr);
    EXPECT_TRUE(cut_get_atom_latch_info(cell)->get_is_latch());
    for (unsigned row = 0; row < 8; ++row) {
        const unsigned d = row & 1u, held = (row >> 1) & 1u, en = (row >> 2) & 1u;
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        in[0] = d;
        in[2] = held;
        in[3] = en;
        EXPECT_EQ(cell->evaluate_output(DB_COMB_OUT, in), en ? d : held) << row;
    }
}

TEST_P(FixtureNetlist, ClockBuffersPartitionsAndLockedRegionsAreWhatTheHostSees)
{
    FIXTURE_NETLIST f(GetParam());
    CDB_ATOM_OTERM* global = f.clock_buffer("clkbuf", f.input("clk"));
    EXPECT_TRUE(global->get_my_node()->is_clkbuf());
    CDB_ATOM_NODE* r = f.reg("r", f.input("i0"), global)->get_my_node();
    CDB_ATOM_NODE* free_cell = f.lut("free", {f.input("i1")}, 0x1)->get_my_node();
    FIXTURE_NETLIST::set_partition(r, 3);
    FIXTURE_NETLIST::lock_to_region(r, 1, 2, 3, 4);
    morv_host::HOST_DESIGN design(GetParam(), f.release());
    morv_host::HOST_ENV env(design);
    EXPECT_EQ(r->get_assignments().partition_id, 3);
    EXPECT_EQ(global->get_my_node()->get_assignments().partition_id, -1);
    int box[4];
    ASSERT_TRUE(env.get_node_locked_region(r, &box[0], &box[1], &box[2], &box[3]));
    EXPECT_EQ(std::vector<int>(box, box + 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(env.get_node_locked_region(free_cell, &box[0], &box[1], &box[2], &box[3]));
    EXPECT_EQ(box[0], -1);
}

// A clock buffer passes its input on as data too: logic reading the
// buffered clock sees the clock pin's value, which is a data input then.
TEST_P(FixtureNetlist, LogicReadingABufferedClockSeesTheClockPin)
{
    FIXTURE_NETLIST f(GetParam());
    std::vector<CDB_ATOM_OTERM*> in{f.input("i0"), f.input("i1")};
    CDB_ATOM_OTERM* global = f.clock_buffer("clkbuf", in[0]);
    f.output("q", f.reg("r", in[1], global));
    f.output("x", f.lut("x", {global, in[1]}, 0x6));
    CYCLE_SIM sim(f.netlist());
    for (unsigned row = 0; row < 4; ++row) {
        apply(sim, in, row);
        EXPECT_EQ(sim.output(index_of(sim.output_names(), "x")), (row & 1u) ^ ((row >> 1) & 1u)) << row;
    }
}

// A boundary port hands its signal on unchanged; the host, asked through the
// component's facade, sees the port bound and assigned on the wire's output,
// assigned on the terms across the boundary, and the wire in its partition.
TEST_P(FixtureNetlist, BoundaryPortsPassTheirSignalOnAndAreWhatTheHostSees)
{
    FIXTURE_NETLIST f(GetParam());
    CDB_ATOM_OTERM* in = f.input("i0");
    CDB_ATOM_OTERM* crossing = f.boundary_port("core|bp_in", in, 2);
    CDB_ATOM_OTERM* inverted = f.lut("inv", {crossing}, 0x1);
    CDB_ATOM_OTERM* other = f.boundary_port("core|bp_out", inverted, 3);
    f.output("o0", crossing);
    f.output("o1", other);
    {
        CYCLE_SIM sim(f.netlist());
        for (unsigned row = 0; row < 2; ++row) {
            apply(sim, {in}, row);
            EXPECT_EQ(sim.output(index_of(sim.output_names(), "o0")), row);
            EXPECT_EQ(sim.output(index_of(sim.output_names(), "o1")), row ^ 1u);
        }
    }
    CDB_ATOM_ITERM* far_side = inverted->get_my_node()->get_input_term_by_type(DB_DATA_A);
    morv_host::HOST_DESIGN design(GetParam(), f.release());
    BPM_BOUNDARY_PORT_MANAGER* bpm = design.install_boundary_port_manager();
    ASSERT_TRUE(f.bind_boundary_ports(*bpm));
    morv_host::HOST_ENV env(design);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    MORV_API* api = expert->get_fsyn_api();
    const int port = api->get_boundary_port_id(crossing);
    EXPECT_GT(port, 0);
    EXPECT_EQ(api->get_assigned_boundary_port_id(crossing), port);
    EXPECT_EQ(api->get_boundary_port_name(crossing), "core|bp_in");
    EXPECT_EQ(api->get_assigned_boundary_port_id(far_side), port);
    EXPECT_EQ(api->get_atom_partition_id(crossing->get_my_node()), 2);
    EXPECT_EQ(api->get_boundary_port_name(other), "core|bp_out");
    EXPECT_NE(api->get_boundary_port_id(other), port);
    EXPECT_EQ(api->get_atom_partition_id(other->get_my_node()), 3);
    EXPECT_EQ(api->get_boundary_port_id(in), BPM_BOUNDARY_PORT_MANAGER::NO_PORT);
    EXPECT_TRUE(bpm->check());
}

INSTANTIATE_TEST_SUITE_P(BothLogFamilies, FixtureNetlist, ::testing::Values(CDB_FAMILY_BRK, CDB_FAMILY_MRL),
                         [](const auto& p) { return p.param == CDB_FAMILY_BRK ? "BRK" : "MRL"; });

}  // namespace fixture_netlist_test
