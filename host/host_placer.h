#pragma once
// Timing-driven simulated-annealing placement of blocks (LAB clusters and
// I/O cells) onto the sites of a LAB grid. Works on plain indices; the
// caller maps its clusters and I/O atoms to blocks and back.
//
// The schedule adapts to the acceptance rate: the move window shrinks and
// the temperature falls faster when few moves are taken, and the anneal ends
// when the temperature is small against the cost of a net. Moves are
// re-costed incrementally (net bounding boxes with edge counts, timing only
// on the connections critical enough to weigh), so a move costs about the
// same however large the design is.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace morv_host {

struct PLACE_SITE
{
    int x = 0, y = 0;
    int block_class = 0;  // blocks only go to sites of their own class
    int slots = 1;        // how many blocks the site holds
};

struct PLACE_CONN
{
    int from = -1, to = -1;  // block indices
    float criticality = 0;   // 0 .. 1, 1 most critical
};

struct PLACE_PROBLEM
{
    int nx = 0, ny = 0;
    std::vector<int> block_class;        // per block
    std::vector<std::vector<int>> nets;  // block indices of each net (a block may repeat)
    std::vector<PLACE_CONN> conns;       // timing connections between blocks
    std::vector<PLACE_SITE> sites;
    // Routing delay in ps between two grid locations; it is sampled once per
    // (dx, dy) offset, so it must depend on the distance only.
    std::function<int(int, int, int, int)> delay_ps;
    // Optional: recomputes every connection's criticality for the placement
    // so far (site per block; the blocks that moved since the last call, each
    // once); called every `recompute_every` temperatures.
    std::function<void(const std::vector<int>& site_of_block, const std::vector<int>& moved_blocks,
                       std::vector<float>& criticality)>
        recompute_criticality;
    int recompute_every = 8;
    uint32_t seed = 1;
    double inner_num = 1.0;        // move budget factor per temperature
    double timing_tradeoff = 0.5;  // 0 wirelength only, 1 timing only
    // Test aid: at the end of every temperature compare the running costs and
    // boxes with a computation from scratch (costs one pass over the nets).
    bool check_costs = false;
};

struct PLACE_RESULT
{
    bool ok = false;
    std::string error;
    std::vector<int> site;  // per block
    std::vector<int> slot;  // per block: index inside its site
    long long moves = 0;
    int temperatures = 0;
    int criticality_updates = 0;
    long long wirelength = 0;  // final bounding-box wirelength
    double timing_cost = 0;    // final criticality-weighted delay of the weighed connections
    // With check_costs: how many comparisons were made and how many differed.
    int cost_checks = 0;
    int cost_mismatches = 0;
};

PLACE_RESULT place_blocks(const PLACE_PROBLEM& problem);

// Whether every class has a slot for each of its blocks, without placing;
// otherwise the reason, in the words place_blocks fails with.
bool place_problem_fits(const PLACE_PROBLEM& problem, std::string& error);

// Moves the annealer makes per temperature for this many blocks.
long long place_moves_per_temperature(int blocks, double inner_num);

}  // namespace morv_host
