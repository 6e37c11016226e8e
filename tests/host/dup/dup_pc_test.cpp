// The post-clustering mode of duplication on hand-clustered fixtures.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "dup_test_run.h"
#include "log_capture.h"

#include "morv/dup/morv_rep_family.h"
#include "morv/netlist/morv_cluster_map.h"

namespace dup_pc_test {

namespace {

const uint64_t AND2 = 0x8;

int count_lines(const MORV_LOG_CAPTURE& log, const std::string& text)
{
    const std::vector<std::string> lines = log.lines();
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

int id(const CDB_ATOM_NODE* node)
{
    return static_cast<int>(node->get_id());
}

// s (cluster 0) feeds u1 and u2 in cluster 1, which also reads a and b, and
// v in cluster 2, which does not read b. `fillers` more LUTs join cluster 1.
struct CLUSTERS
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_BRK};
    std::unique_ptr<DUP_RUN> run;
    MORV_PARAMETER_MAP params{{"PC_MODE", "1"}};

    explicit CLUSTERS(int fillers = 0, bool own_cluster_only = false)
    {
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* b = fixture.input("b");
        CDB_ATOM_OTERM* s = fixture.lut("s", {a, b}, AND2);
        fixture.output("o1", fixture.lut("u1", {s, a}, 0x6));
        fixture.output("o2", fixture.lut("u2", {s, b}, 0x6));
        fixture.output("o3", fixture.lut("w", {a, b}, 0x6));
        fixture.output("o4", fixture.lut("v", {s, a}, 0xE));
        for (int i = 0; i < fillers; ++i) fixture.output(numbered("f", i), fixture.lut("fl", {a, b}, 0x1));
        run = std::make_unique<DUP_RUN>(fixture, POST_CLUSTERING_FSYN_FLOW);
        const int foreign = own_cluster_only ? 0 : 1;
        run->cluster(run->find("s"), 0, 0);
        run->cluster(run->find("u1"), foreign, 1);
        run->cluster(run->find("u2"), foreign, 2);
        run->cluster(run->find("w"), foreign, 3);
        run->cluster(run->find("v"), own_cluster_only ? 0 : 2, 4);
        int ale = 5;
        for (CDB_ATOM_NODE* node : run->netlist())
            if (node->get_instance_name()->get_short_hpath().rfind("fl", 0) == 0) run->cluster(node, foreign, ale++);
        CDB_ATOM_OTERM* s_out = run->find("s")->get_output_term_by_type(DB_COMB_OUT);
        for (auto it = s_out->begin_iterm_fanout(); it != s_out->end_iterm_fanout(); ++it)
            run->slack().set(*it, -300, 0.0);
    }
    CDB_ATOM_NODE* driver_of(const char* name)
    {
        return run->find(name)->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node();
    }
    int run_iteration()
    {
        MORV_REP_BRK rep(run->api(), &params, false);
        int ni = -1, hci = -1;
        rep.set_default_pass_parameters(0, ni, hci);
        const int ops = rep.do_iter();
        stats = rep.get_pc_stats();
        return ops;
    }
    MORV_REP_PC_STATS stats;
};

}  // namespace

TEST(DupPostClustering, OneCopyPerForeignClusterThatAlreadyHasItsInputs)
{
    CLUSTERS n;
    const std::vector<unsigned> before = n.run->trace(16);
    MORV_LOG_CAPTURE log(2);
    EXPECT_EQ(n.run_iteration(), 1);
    CDB_ATOM_NODE* s = n.run->find("s");
    CDB_ATOM_NODE* copy = n.driver_of("u1");
    ASSERT_NE(copy, s);
    EXPECT_EQ(n.driver_of("u2"), copy);
    EXPECT_EQ(n.driver_of("v"), s);
    EXPECT_EQ(n.run->api()->get_fsyn_cluster_map()->get_cluster_id(copy), 1);
    EXPECT_EQ(n.stats.attempted, 2);
    EXPECT_EQ(n.stats.success, 1);
    EXPECT_EQ(n.stats.failed_common_inputs, 1);
    EXPECT_EQ(count_lines(log, "already duplicated in cluster <1>"), 1);
    EXPECT_EQ(count_lines(log, "   Success: 1"), 1);
    EXPECT_EQ(n.run->trace(16), before);
    // Both dumps of the iteration are written.
    for (const char* file : {"fsyn_cluster_map_0_0_before.txt", "fsyn_cluster_map_0_0_after.txt"}) {
        FILE* f = std::fopen(file, "r");
        EXPECT_NE(f, nullptr) << file;
        if (f) std::fclose(f);
        std::remove(file);
    }
}

TEST(DupPostClustering, MaxOperationsZeroNegativeAndOne)
{
    {
        CLUSTERS n;
        n.params["PC_MAX_OPS"] = "0";
        MORV_LOG_CAPTURE log(2);
        EXPECT_EQ(n.run_iteration(), 0);
        EXPECT_EQ(n.stats.attempted, 0);
        EXPECT_EQ(count_lines(log, "Hit max operations per iteration (0)"), 1);
    }
    {
        CLUSTERS n;
        n.params["PC_MAX_OPS"] = "-1";
        MORV_LOG_CAPTURE log(2);
        EXPECT_EQ(n.run_iteration(), 1);
        EXPECT_EQ(count_lines(log, "Hit max operations"), 0);
    }
    {
        CLUSTERS n;
        n.params["PC_MAX_OPS"] = "1";
        MORV_LOG_CAPTURE log(2);
        EXPECT_EQ(n.run_iteration(), 1);
        EXPECT_EQ(count_lines(log, "Hit max operations per iteration (1)"), 1);
    }
}

TEST(DupPostClustering, FanoutsInTheOwnClusterOnlyGiveNoOperation)
{
    CLUSTERS n(0, true);
    EXPECT_EQ(n.run_iteration(), 0);
    EXPECT_EQ(n.stats.attempted, 0);
}

TEST(DupPostClustering, HalfALabHoldsEightLuts)
{
    {
        CLUSTERS n(5);  // u1, u2, w and five more: eight LUTs
        n.params["PC_MAX_LAB_USAGE"] = "0.5";
        EXPECT_EQ(n.run_iteration(), 0);
        EXPECT_EQ(n.stats.failed_lab_full, 2);  // u1's turn and again u2's
    }
    {
        CLUSTERS n(4);
        n.params["PC_MAX_LAB_USAGE"] = "0.5";
        EXPECT_EQ(n.run_iteration(), 1);
    }
}

TEST(DupPostClustering, RunsOnlyInThePostClusteringFlow)
{
    FIXTURE_NETLIST fixture(CDB_FAMILY_BRK);
    fixture.output("o", fixture.lut("s", {fixture.input("a")}, 0x1));
    DUP_RUN run(fixture, LATE_FSYN_FLOW);
    MORV_PARAMETER_MAP params{{"PC_MODE", "1"}};
    MORV_REP_BRK rep(run.api(), &params, false);
    EXPECT_ANY_THROW(rep.do_iter());
}

namespace {

// A register r (cluster 0) with synchronous data x feeds l3 in cluster 1,
// whose ALEs hold l1 (its C input reads y), l2 (its C input reads x), and
// l3 with the register r2.
struct PACKING
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_BRK};
    std::unique_ptr<DUP_RUN> run;

    explicit PACKING(int extra_ales = 0)
    {
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* x = fixture.input("x");
        CDB_ATOM_OTERM* y = fixture.input("y");
        CDB_ATOM_OTERM* clk = fixture.input("clk");
        CDB_ATOM_OTERM* g = fixture.lut("g", {a, x}, AND2);
        CDB_ATOM_OTERM* r = fixture.reg("r", g, clk);
        x->insert_fanout(r->get_my_node()->add_input_term(DB_SYNCH_DATA));
        fixture.output("o1", fixture.lut("l1", {a, g, y}, 0x80));
        fixture.output("o2", fixture.lut("l2", {a, g, x}, 0x80));
        CDB_ATOM_OTERM* l3 = fixture.lut("l3", {r, g}, 0x6);
        fixture.output("o3", fixture.reg("r2", l3, clk));
        for (int i = 0; i < extra_ales; ++i) fixture.output(numbered("e", i), fixture.lut("ex", {a, g}, 0x1));
        run = std::make_unique<DUP_RUN>(fixture, POST_CLUSTERING_FSYN_FLOW);
        run->cluster(run->find("g"), 0, 0);
        run->cluster(run->find("r"), 0, 0);
        run->cluster(run->find("l1"), 1, 10);
        run->cluster(run->find("l2"), 1, 11);
        run->cluster(run->find("l3"), 1, 12);
        run->cluster(run->find("r2"), 1, 12);
        int ale = 13;
        for (CDB_ATOM_NODE* node : run->netlist())
            if (node->get_instance_name()->get_short_hpath().rfind("ex", 0) == 0) run->cluster(node, 1, ale++);
        run->slack().set(run->find("l3")->get_input_term_by_type(DB_DATA_A), -300, 0.0);
    }
    int run_iteration(MORV_REP_PC_STATS* stats)
    {
        MORV_PARAMETER_MAP params{{"PC_MODE", "1"}, {"PC_STRICT_CHECKS", "1"}};
        MORV_REP_BRK rep(run->api(), &params, false);
        int ni = -1, hci = -1;
        rep.set_default_pass_parameters(0, ni, hci);
        const int ops = rep.do_iter();
        *stats = rep.get_pc_stats();
        return ops;
    }
};

}  // namespace

TEST(DupPostClustering, StrictChecksPackARegisterBesideTheLutThatCarriesItsSynchronousData)
{
    PACKING n;
    MORV_LOG_CAPTURE log(2);
    MORV_REP_PC_STATS stats;
    ASSERT_EQ(n.run_iteration(&stats), 1);
    CDB_ATOM_NODE* copy = n.run->find("l3")->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node();
    ASSERT_NE(copy, n.run->find("r"));
    MORV_CLUSTER_MAP* map = n.run->api()->get_fsyn_cluster_map();
    EXPECT_EQ(map->get_ale_id(id(copy)), 11);
    EXPECT_EQ(map->get_companion_node(id(copy), true), id(n.run->find("l2")));
    std::string pair("found packable pair: <");
    pair.append(std::to_string(id(n.run->find("l2")))).append("> <-> <");
    pair.append(std::to_string(id(n.run->find("r")))).append(">");
    EXPECT_EQ(count_lines(log, pair), 1);
}

TEST(DupPostClustering, StrictChecksRefuseAClusterOfMoreAlesThanALabHas)
{
    PACKING n(14);  // 3 + 14 ALEs
    MORV_REP_PC_STATS stats;
    EXPECT_EQ(n.run_iteration(&stats), 0);
    EXPECT_EQ(stats.failed_strict_check, 1);
}

// s reads a and t; t is made in the LAB of s's fanout u, so a copy of s
// there needs no new LAB input, while a copy in a third LAB would.
TEST(DupPostClustering, ASignalMadeInTheDestinationClusterCountsAsCommon)
{
    for (const int t_cluster : {1, 2}) {
        SCOPED_TRACE(t_cluster);
        FIXTURE_NETLIST fixture{CDB_FAMILY_BRK};
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* b = fixture.input("b");
        CDB_ATOM_OTERM* t = fixture.lut("t", {a, b}, 0x6);
        CDB_ATOM_OTERM* s = fixture.lut("s", {a, t}, AND2);
        fixture.output("o1", fixture.lut("u", {s, a}, 0x6));
        fixture.output("o2", fixture.lut("w", {s, b}, 0x6));
        DUP_RUN run(fixture, POST_CLUSTERING_FSYN_FLOW);
        run.cluster(run.find("s"), 0, 0);
        run.cluster(run.find("w"), 0, 1);
        run.cluster(run.find("u"), 1, 0);
        run.cluster(run.find("t"), t_cluster, 1);
        CDB_ATOM_OTERM* s_out = run.find("s")->get_output_term_by_type(DB_COMB_OUT);
        for (auto it = s_out->begin_iterm_fanout(); it != s_out->end_iterm_fanout(); ++it)
            run.slack().set(*it, -300, 0.0);
        const std::vector<unsigned> before = run.trace(16);
        MORV_PARAMETER_MAP params{{"PC_MODE", "1"}};
        MORV_REP_BRK rep(run.api(), &params, false);
        int ni = -1, hci = -1;
        rep.set_default_pass_parameters(0, ni, hci);
        const int ops = rep.do_iter();
        const MORV_REP_PC_STATS stats = rep.get_pc_stats();
        CDB_ATOM_NODE* u_driver = run.find("u")->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node();
        if (t_cluster == 1) {
            EXPECT_EQ(ops, 1);
            EXPECT_EQ(stats.success, 1);
            EXPECT_NE(u_driver, run.find("s"));
            EXPECT_EQ(run.api()->get_fsyn_cluster_map()->get_cluster_id(u_driver), 1);
        } else {
            EXPECT_EQ(ops, 0);
            EXPECT_EQ(stats.failed_common_inputs, 1);
            EXPECT_EQ(u_driver, run.find("s"));
        }
        EXPECT_EQ(run.trace(16), before);
        std::remove("fsyn_cluster_map_0_0_before.txt");
        std::remove("fsyn_cluster_map_0_0_after.txt");
    }
}

}  // namespace dup_pc_test
