#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <set>

#include "host_cluster.h"
#include "host_options.h"
#include "host_placer.h"

namespace host_pack_place_test {

using namespace morv_host;

namespace {

// A random netlist of LUT/register pairs with local and some global nets.
PACK_PROBLEM random_pack_problem(int cells, uint32_t seed, int cap)
{
    std::mt19937 rng(seed);
    PACK_PROBLEM p;
    p.lab_capacity = cap;
    for (int i = 0; i < cells; ++i) p.kinds.push_back(i % 3 == 2 ? PACK_KIND::REG : PACK_KIND::COMB);
    p.kinds[0] = PACK_KIND::IO;
    p.kinds[1] = PACK_KIND::SOLO;
    for (int i = 0; i < cells; ++i) {
        PACK_NET n;
        n.driver = i;
        int fanout = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < fanout; ++k) n.sinks.push_back(static_cast<int>(rng() % cells));
        p.nets.push_back(n);
    }
    PACK_NET clock;  // a global net must not stall or skew packing
    for (int i = 2; i < cells; i += 3) clock.sinks.push_back(i);
    p.nets.push_back(clock);
    return p;
}

TEST(HostPack, RespectsCapacityAndCoversEveryCell)
{
    for (int cap : {1, 4, 10}) {
        PACK_PROBLEM p = random_pack_problem(500, 7, cap);
        PACK_RESULT r = pack_cells(p);
        ASSERT_EQ(r.cluster_of.size(), p.kinds.size());
        std::vector<int> combs(r.clusters.size()), regs(r.clusters.size());
        for (size_t c = 0; c < p.kinds.size(); ++c) {
            if (p.kinds[c] == PACK_KIND::IO) {
                EXPECT_EQ(r.cluster_of[c], -1);
                continue;
            }
            ASSERT_GE(r.cluster_of[c], 0) << "cell " << c << " left unclustered";
            combs[r.cluster_of[c]] += p.kinds[c] == PACK_KIND::COMB;
            regs[r.cluster_of[c]] += p.kinds[c] == PACK_KIND::REG;
        }
        for (size_t k = 0; k < r.clusters.size(); ++k) {
            EXPECT_LE(combs[k], cap);
            EXPECT_LE(regs[k], cap);
            for (int c : r.clusters[k]) EXPECT_EQ(r.cluster_of[c], static_cast<int>(k));
        }
        // A block that needs a LAB of its own stays alone.
        EXPECT_EQ(r.clusters[r.cluster_of[1]].size(), 1u);
        // Filling keeps the LAB count near the lower bound.
        int lower = (static_cast<int>(p.kinds.size()) * 2 / 3 + cap - 1) / cap;
        EXPECT_LE(static_cast<int>(r.clusters.size()), lower + 3) << "cap " << cap;
    }
}

TEST(HostPack, PacksConnectedCellsTogether)
{
    // Two independent chains of four: with a capacity of four each chain must
    // end up in one LAB.
    PACK_PROBLEM p;
    p.lab_capacity = 4;
    p.kinds.assign(8, PACK_KIND::COMB);
    for (int chain = 0; chain < 2; ++chain)
        for (int k = 0; k < 3; ++k) p.nets.push_back({chain + 2 * k, {chain + 2 * (k + 1)}});
    PACK_RESULT r = pack_cells(p);
    ASSERT_EQ(r.clusters.size(), 2u);
    for (int chain = 0; chain < 2; ++chain)
        for (int k = 1; k < 4; ++k) EXPECT_EQ(r.cluster_of[chain], r.cluster_of[chain + 2 * k]);
}

PLACE_PROBLEM grid_problem(int nx, int ny, int labs, int ios, uint32_t seed)
{
    PLACE_PROBLEM p;
    p.nx = nx;
    p.ny = ny;
    for (int x = 0; x < nx; ++x)
        for (int y = 0; y < ny; ++y) {
            bool border = x == 0 || y == 0 || x == nx - 1 || y == ny - 1;
            p.sites.push_back({x, y, border ? 1 : 0, border ? 4 : 1});
        }
    std::mt19937 rng(99);
    for (int i = 0; i < labs; ++i) p.block_class.push_back(0);
    for (int i = 0; i < ios; ++i) p.block_class.push_back(1);
    int n = labs + ios;
    for (int i = 0; i < n; ++i) {
        std::vector<int> net{i};
        for (int k = 0; k < 3; ++k) net.push_back(static_cast<int>(rng() % n));
        std::sort(net.begin(), net.end());
        net.erase(std::unique(net.begin(), net.end()), net.end());
        p.nets.push_back(net);
        for (size_t k = 1; k < net.size(); ++k)
            p.conns.push_back({net[0], net[k], static_cast<float>((rng() % 100) / 100.0)});
    }
    p.delay_ps = [](int x1, int y1, int x2, int y2) { return 100 + 50 * (std::abs(x1 - x2) + std::abs(y1 - y2)); };
    p.seed = seed;
    return p;
}

long long hpwl(const PLACE_PROBLEM& p, const PLACE_RESULT& r)
{
    long long total = 0;
    for (const auto& net : p.nets) {
        int xmin = 1 << 30, xmax = -1, ymin = 1 << 30, ymax = -1;
        for (int b : net) {
            const PLACE_SITE& s = p.sites[r.site[b]];
            xmin = std::min(xmin, s.x);
            xmax = std::max(xmax, s.x);
            ymin = std::min(ymin, s.y);
            ymax = std::max(ymax, s.y);
        }
        total += (xmax - xmin + 1) + (ymax - ymin + 1);
    }
    return total;
}

TEST(HostPlace, LegalDeterministicAndBetterThanRandom)
{
    PLACE_PROBLEM p = grid_problem(12, 12, 90, 30, 5);
    PLACE_RESULT a = place_blocks(p);
    ASSERT_TRUE(a.ok) << a.error;
    std::set<std::pair<int, int>> used;
    for (size_t b = 0; b < p.block_class.size(); ++b) {
        ASSERT_GE(a.site[b], 0);
        const PLACE_SITE& s = p.sites[a.site[b]];
        EXPECT_EQ(s.block_class, p.block_class[b]) << "block " << b << " on a site of another class";
        ASSERT_LT(a.slot[b], s.slots);
        EXPECT_TRUE(used.insert({a.site[b], a.slot[b]}).second) << "two blocks share a slot";
    }
    // The reported wirelength is the placement's real wirelength.
    EXPECT_EQ(a.wirelength, hpwl(p, a));

    PLACE_RESULT again = place_blocks(p);
    EXPECT_EQ(again.site, a.site);
    EXPECT_EQ(again.slot, a.slot);

    PLACE_PROBLEM other = p;
    other.seed = 6;
    EXPECT_NE(place_blocks(other).site, a.site);

    // Annealing must beat a placement that never moved.
    PLACE_PROBLEM frozen = p;
    frozen.inner_num = 0;  // one move per temperature: effectively the start
    PLACE_RESULT start = place_blocks(frozen);
    EXPECT_LT(a.wirelength, start.wirelength * 9 / 10);
}

TEST(HostPlace, ReportsDesignsThatDoNotFit)
{
    PLACE_PROBLEM p = grid_problem(4, 4, 5, 2, 1);  // 4 interior LAB sites
    PLACE_RESULT r = place_blocks(p);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("5 LABs needed"), std::string::npos) << r.error;
}

TEST(HostPlace, CriticalConnectionsEndUpShort)
{
    // A ring of blocks where one pair is critical: timing-driven placement
    // keeps it adjacent.
    PLACE_PROBLEM p = grid_problem(10, 10, 40, 0, 3);
    for (auto& c : p.conns) c.criticality = 0.1f;
    p.conns.push_back({0, 39, 1.0f});
    p.timing_tradeoff = 0.9;
    PLACE_RESULT r = place_blocks(p);
    ASSERT_TRUE(r.ok);
    const PLACE_SITE& a = p.sites[r.site[0]];
    const PLACE_SITE& b = p.sites[r.site[39]];
    EXPECT_LE(std::abs(a.x - b.x) + std::abs(a.y - b.y), 2);
}

// What the placer told the timing side at each criticality update.
struct UPDATE
{
    std::vector<int> site;   // per block
    std::vector<int> moved;  // blocks moved since the update before
};

// Criticalities that follow the placement: connections get more critical
// the longer they are, as a timing analysis would make them.
void follow_lengths(PLACE_PROBLEM& p, std::vector<UPDATE>* log)
{
    p.recompute_criticality = [&p, log](const std::vector<int>& site, const std::vector<int>& moved,
                                        std::vector<float>& crit) {
        if (log) log->push_back({site, moved});
        crit.assign(p.conns.size(), 0.0f);
        for (size_t c = 0; c < p.conns.size(); ++c) {
            const PLACE_SITE& a = p.sites[site[p.conns[c].from]];
            const PLACE_SITE& b = p.sites[site[p.conns[c].to]];
            crit[c] = std::min(1.0f, static_cast<float>(std::abs(a.x - b.x) + std::abs(a.y - b.y)) / 8.0f);
        }
    };
    p.recompute_every = 2;
}

TEST(HostPlace, RunningCostsMatchAFullRecomputationEveryTemperature)
{
    PLACE_PROBLEM p = grid_problem(10, 10, 60, 20, 4);
    // Repeated pins and a wide net with per-column counts.
    p.nets.push_back({1, 1, 2, 3, 3, 3});
    std::vector<int> wide;
    for (int b = 0; b < 80; b += 3) wide.push_back(b);
    p.nets.push_back(wide);
    // Connections repeated and reversed between the same two blocks are
    // costed together; each must still count.
    for (size_t c = 0; c < 40; c += 2) {
        const PLACE_CONN k = p.conns[c];
        p.conns.push_back({k.to, k.from, k.criticality});
        p.conns.push_back(k);
    }
    p.check_costs = true;
    follow_lengths(p, nullptr);
    PLACE_RESULT r = place_blocks(p);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GE(r.cost_checks, r.temperatures);
    EXPECT_GT(r.criticality_updates, 1);
    EXPECT_EQ(r.cost_mismatches, 0);
    EXPECT_EQ(r.wirelength, hpwl(p, r));
}

TEST(HostPlace, SameSeedSamePlacementAndEveryMovedBlockReportedOnce)
{
    PLACE_PROBLEM p = grid_problem(9, 9, 45, 16, 8);
    std::vector<UPDATE> updates;
    follow_lengths(p, &updates);
    PLACE_RESULT a = place_blocks(p);
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_GT(updates.size(), 2u);
    // The first update places every block for the caller; later ones list
    // each moved block once, and every block whose site changed since the
    // update before (the timing side re-times only those).
    const int blocks = static_cast<int>(p.block_class.size());
    EXPECT_EQ(static_cast<int>(updates.front().moved.size()), blocks);
    for (size_t k = 0; k < updates.size(); ++k) {
        const std::vector<int>& list = updates[k].moved;
        std::set<int> unique(list.begin(), list.end());
        EXPECT_EQ(unique.size(), list.size());
        EXPECT_TRUE(unique.empty() || (*unique.begin() >= 0 && *unique.rbegin() < blocks));
        for (int blk = 0; k > 0 && blk < blocks; ++blk) {
            if (updates[k].site[blk] != updates[k - 1].site[blk]) {
                EXPECT_TRUE(unique.count(blk)) << "block " << blk << " moved unreported before update " << k;
            }
        }
    }
    updates.clear();
    PLACE_RESULT b = place_blocks(p);
    EXPECT_EQ(a.site, b.site);
    EXPECT_EQ(a.slot, b.slot);
    EXPECT_EQ(a.moves, b.moves);
    EXPECT_EQ(a.timing_cost, b.timing_cost);
}

TEST(HostPlace, MalformedProblemsAreRefused)
{
    PLACE_PROBLEM p = grid_problem(6, 6, 10, 4, 1);
    PLACE_PROBLEM self = p;
    self.conns.push_back({3, 3, 1.0f});
    EXPECT_FALSE(place_blocks(self).ok);
    PLACE_PROBLEM stray = p;
    stray.nets.push_back({0, 99});
    EXPECT_FALSE(place_blocks(stray).ok);
    PLACE_PROBLEM outside = p;
    outside.sites.push_back({6, 0, 0, 1});
    EXPECT_EQ(place_blocks(outside).error, "site outside the grid");
}

// A mesh netlist (each block joined to its right and lower neighbour) has a
// known best wirelength: every net between neighbours costs 3. A working
// schedule gets close to it on a grid with room to spare, which takes moves
// into empty sites as well as swaps.
TEST(HostPlace, MeshComesOutNearItsBestWirelength)
{
    const int side = 6, blocks = side * side;
    PLACE_PROBLEM p;
    p.nx = p.ny = 10;
    for (int x = 0; x < p.nx; ++x)
        for (int y = 0; y < p.ny; ++y) p.sites.push_back({x, y, 0, 1});
    p.block_class.assign(blocks, 0);
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            if (c + 1 < side) p.nets.push_back({r * side + c, r * side + c + 1});
            if (r + 1 < side) p.nets.push_back({r * side + c, (r + 1) * side + c});
        }
    const long long best = 3 * static_cast<long long>(p.nets.size());
    p.timing_tradeoff = 0;
    for (uint32_t seed : {1u, 2u}) {
        p.seed = seed;
        PLACE_RESULT r = place_blocks(p);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_LE(r.wirelength, best * 5 / 4) << "seed " << seed;
        // The budget is spent as announced: one round per temperature and the quench.
        EXPECT_GT(r.temperatures, 10);
        EXPECT_EQ(r.moves, place_moves_per_temperature(blocks, p.inner_num) * (r.temperatures + 1));
    }
}

TEST(HostPlace, BlockClassWithoutSitesIsReported)
{
    PLACE_PROBLEM p = grid_problem(6, 6, 4, 2, 1);
    p.block_class.push_back(3);  // no site of class 3
    PLACE_RESULT r = place_blocks(p);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("1 blocks needed but the device has 0"), std::string::npos) << r.error;
}

// A small design on a large chip: its few I/O cells on a long ring must
// end on the part of the ring nearest the logic they feed, whatever side of
// the chip the hot phase left them on.
TEST(HostPlace, FewIoCellsOnALargeRingFindTheirLogic)
{
    PLACE_PROBLEM p;
    p.nx = p.ny = 40;
    for (int x = 0; x < p.nx; ++x)
        for (int y = 0; y < p.ny; ++y) {
            const bool border = x == 0 || y == 0 || x == p.nx - 1 || y == p.ny - 1;
            p.sites.push_back({x, y, border ? 1 : 0, border ? 4 : 1});
        }
    const int labs = 6, ios = 6;
    p.block_class.assign(labs, 0);
    p.block_class.resize(labs + ios, 1);
    for (int i = 0; i + 1 < labs; ++i)
        for (int k = 0; k < 3; ++k) p.nets.push_back({i, i + 1});  // a tight chain of LABs
    for (int i = 0; i < ios; ++i) p.nets.push_back({labs + i, i});
    p.timing_tradeoff = 0;
    int worst = 0;
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        p.seed = seed;
        PLACE_RESULT r = place_blocks(p);
        ASSERT_TRUE(r.ok) << r.error;
        for (int i = 0; i < ios; ++i) {
            const PLACE_SITE& io = p.sites[r.site[labs + i]];
            const PLACE_SITE& lab = p.sites[r.site[i]];
            const int to_ring = std::min({lab.x, lab.y, p.nx - 1 - lab.x, p.ny - 1 - lab.y});
            const int excess = std::abs(io.x - lab.x) + std::abs(io.y - lab.y) - to_ring;
            worst = std::max(worst, excess);
        }
    }
    // How much farther each I/O cell is from its LAB than the nearest ring site.
    EXPECT_LE(worst, 6);
}

TEST(HostOptions, ParsesEveryOption)
{
    const char* argv[] = {"morv-fit",
                          "--family",
                          "tev",
                          "--device=dev.txt",
                          "--clock-period",
                          "2500",
                          "--effort",
                          "extra",
                          "--test-string",
                          "LIR(NP=1)",
                          "--settings",
                          "s.txt",
                          "--set",
                          "fsyn_debug_msg=on",
                          "--set",
                          "566=3",
                          "--seed",
                          "42",
                          "-q",
                          "-o",
                          "out.blif",
                          "--native",
                          "out.txt",
                          "in.blif"};
    FIT_OPTIONS o;
    std::string error;
    ASSERT_TRUE(parse_fit_options(static_cast<int>(std::size(argv)), argv, o, error)) << error;
    EXPECT_EQ(o.family, "TEV");
    EXPECT_EQ(o.device_file, "dev.txt");
    EXPECT_EQ(o.clock_period_ps, 2500);
    EXPECT_EQ(o.effort, FIT_EFFORT::EXTRA);
    EXPECT_EQ(effort_setting_value(o.effort), 152);
    EXPECT_TRUE(o.has_test_string);
    EXPECT_EQ(o.test_string, "LIR(NP=1)");
    ASSERT_EQ(o.sets.size(), 2u);
    EXPECT_EQ(o.sets[0].first, "fsyn_debug_msg");
    EXPECT_EQ(o.sets[1].second, "3");
    EXPECT_EQ(o.seed, 42u);
    EXPECT_EQ(o.verbosity, 0);
    EXPECT_EQ(o.output_blif, "out.blif");
    EXPECT_EQ(o.output_native, "out.txt");
    EXPECT_EQ(o.design, "in.blif");
}

TEST(HostOptions, RejectsBadInputWithTheReason)
{
    struct CASE
    {
        std::vector<const char*> args;
        const char* expect;
    };
    const CASE cases[] = {
        {{"--bogus", "a.blif"}, "unknown option '--bogus'"},
        {{"--seed", "12x", "a.blif"}, "--seed: '12x' is not a number"},
        {{"--seed", "99999999999999999999999", "a.blif"}, "is not a number"},
        {{"--clock-period", "0", "a.blif"}, "--clock-period"},
        {{"--clock-period", "-5", "a.blif"}, "--clock-period"},
        {{"--effort", "max", "a.blif"}, "--effort: 'max'"},
        {{"--family", "XYZ", "a.blif"}, "unknown family 'XYZ'"},
        {{"--set", "novalue", "a.blif"}, "not KEY=VALUE"},
        {{"--set", "=v", "a.blif"}, "not KEY=VALUE"},
        {{"a.blif", "b.blif"}, "more than one design"},
        {{"-o"}, "-o needs a value"},
        {{"--help=yes"}, "takes no value"},
        {{}, "no design file"},
    };
    for (const CASE& c : cases) {
        std::vector<const char*> argv{"morv-fit"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        FIT_OPTIONS o;
        std::string error;
        EXPECT_FALSE(parse_fit_options(static_cast<int>(argv.size()), argv.data(), o, error)) << c.expect;
        EXPECT_NE(error.find(c.expect), std::string::npos) << "got: " << error;
    }
    // Help needs no design; "--" ends the options.
    const char* help[] = {"morv-fit", "--help"};
    FIT_OPTIONS o;
    std::string error;
    EXPECT_TRUE(parse_fit_options(2, help, o, error));
    const char* dash[] = {"morv-fit", "--", "-odd.blif"};
    FIT_OPTIONS d;
    EXPECT_TRUE(parse_fit_options(3, dash, d, error));
    EXPECT_EQ(d.design, "-odd.blif");
}

}  // namespace

}  // namespace host_pack_place_test
