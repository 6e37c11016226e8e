#include <gtest/gtest.h>

#include <random>

#include "host_place_boxes.h"

namespace host_place_boxes_test {

using namespace morv_host;

namespace {

// Random moves and swaps on a small grid, each proposed and then kept or
// dropped, with the boxes compared to a full scan after every step.
struct WORLD
{
    WORLD(std::vector<std::vector<int>> nets_in, int blocks, int nx_in, int ny_in, uint32_t seed)
        : nets(std::move(nets_in)), nx(nx_in), ny(ny_in), rng(seed), pos(blocks), boxes(nets, blocks, nx, ny)
    {
        for (PLACE_XY& p : pos) p = {static_cast<int>(rng() % nx), static_cast<int>(rng() % ny)};
        boxes.reset(pos);
    }

    // Full recomputation from the pins, as the nets list them.
    PLACE_BOX reference(int net) const
    {
        PLACE_BOX b{1 << 30, -1, 1 << 30, -1, 0, 0, 0, 0};
        for (int blk : nets[net]) {
            const PLACE_XY p = pos[blk];
            if (p.x < b.xmin) {
                b.xmin = p.x;
                b.on_xmin = 0;
            }
            if (p.x > b.xmax) {
                b.xmax = p.x;
                b.on_xmax = 0;
            }
            if (p.y < b.ymin) {
                b.ymin = p.y;
                b.on_ymin = 0;
            }
            if (p.y > b.ymax) {
                b.ymax = p.y;
                b.on_ymax = 0;
            }
            b.on_xmin += p.x == b.xmin;
            b.on_xmax += p.x == b.xmax;
            b.on_ymin += p.y == b.ymin;
            b.on_ymax += p.y == b.ymax;
        }
        return b;
    }

    // One step: block a to a target (often an edge or a corner of the grid),
    // swapping with b when `swap`; kept or dropped. Returns false on the
    // first disagreement.
    ::testing::AssertionResult step(bool swap, bool keep)
    {
        const int n = static_cast<int>(pos.size());
        const int a = static_cast<int>(rng() % n);
        int b = swap ? static_cast<int>(rng() % n) : -1;
        if (b == a) b = -1;
        const PLACE_XY from = pos[a];
        PLACE_XY to;
        switch (rng() % 4) {
        case 0: to = {0, static_cast<int>(rng() % ny)}; break;  // onto the left edge
        case 1: to = {nx - 1, ny - 1}; break;                   // a corner
        case 2:
            to = b >= 0 ? pos[b] : from;
            to.x = (to.x + 1) % nx;
            break;  // a neighbour
        default: to = {static_cast<int>(rng() % nx), static_cast<int>(rng() % ny)};
        }
        if (b >= 0) to = pos[b];
        const std::vector<PLACE_XY> before = pos;
        long long before_total = 0, after_total = 0;
        for (int k = 0; k < static_cast<int>(nets.size()); ++k) before_total += place_box_cost(reference(k));
        pos[a] = to;
        if (b >= 0) pos[b] = from;
        for (int k = 0; k < static_cast<int>(nets.size()); ++k) after_total += place_box_cost(reference(k));
        const long long delta = boxes.propose(pos, a, from, to, b);
        if (delta != after_total - before_total)
            return ::testing::AssertionFailure()
                   << "delta " << delta << " but the nets changed by " << after_total - before_total;
        if (keep) boxes.commit();
        else pos = before;
        for (int k = 0; k < static_cast<int>(nets.size()); ++k)
            if (!(boxes.box(k) == reference(k)))
                return ::testing::AssertionFailure() << "net " << k << " differs from a full scan";
        long long total = 0;
        for (int k = 0; k < static_cast<int>(nets.size()); ++k) total += place_box_cost(reference(k));
        if (boxes.total_cost() != total)
            return ::testing::AssertionFailure() << "total " << boxes.total_cost() << " but the nets cost " << total;
        return ::testing::AssertionSuccess();
    }

    std::vector<std::vector<int>> nets;
    int nx, ny;
    std::mt19937 rng;
    std::vector<PLACE_XY> pos;
    PLACE_NET_BOXES boxes;
};

// Small nets (rescanned), nets that list a block twice or three times, and
// nets large enough to keep per-column counts.
std::vector<std::vector<int>> mixed_nets(int blocks, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::vector<int>> nets;
    for (int i = 0; i < 40; ++i) {
        std::vector<int> net;
        const int size = i % 8 == 0 ? 20 + static_cast<int>(rng() % 30) : 2 + static_cast<int>(rng() % 5);
        for (int k = 0; k < size; ++k) net.push_back(static_cast<int>(rng() % blocks));
        if (i % 3 == 0) net.push_back(net.front());  // a repeated pin
        if (i % 9 == 0) net.insert(net.end(), {net[1], net[1]});
        nets.push_back(net);
    }
    nets.push_back({0, 1, 0, 1});  // two blocks, each twice: swapping them changes nothing
    nets.push_back({2, 2, 2, 3});  // unequal repeats: a swap moves the difference
    return nets;
}

TEST(PlaceNetBoxes, IncrementalBoxesMatchFullScansAfterRandomMoves)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        // A narrow grid puts many pins on the same edge; a wide one leaves most
        // edges to a single pin.
        for (auto [nx, ny] : {std::pair{3, 3}, std::pair{12, 5}, std::pair{40, 40}}) {
            WORLD w(mixed_nets(30, seed), 30, nx, ny, seed);
            for (int i = 0; i < 1500; ++i) {
                const bool swap = i % 2 == 1;
                const bool keep = i % 5 != 0;
                ASSERT_TRUE(w.step(swap, keep)) << "seed " << seed << " grid " << nx << "x" << ny << " step " << i;
            }
        }
    }
}

TEST(PlaceNetBoxes, LastPinLeavingAnEdgeShrinksTheBox)
{
    // Three pins in a row: the end pin walks across the others and back.
    std::vector<std::vector<int>> nets{{0, 1, 2}};
    for (int k = 3; k < 20; ++k) nets.push_back({0, 1, 2, k, k});  // big enough for column counts
    for (int k = 3; k < 20; ++k) nets.back().push_back(k);
    WORLD w(nets, 20, 10, 10, 9);
    for (int b = 0; b < 20; ++b) w.pos[b] = {5, 5};
    w.pos[0] = {0, 0};
    w.pos[2] = {9, 9};
    w.boxes.reset(w.pos);
    for (PLACE_XY to : {PLACE_XY{5, 5}, PLACE_XY{9, 9}, PLACE_XY{4, 6}, PLACE_XY{0, 0}}) {
        const PLACE_XY from = w.pos[0];
        w.pos[0] = to;
        w.boxes.propose(w.pos, 0, from, to, -1);
        w.boxes.commit();
        for (int k = 0; k < static_cast<int>(nets.size()); ++k) ASSERT_EQ(w.boxes.box(k), w.reference(k)) << k;
    }
    EXPECT_EQ(w.boxes.box(0).xmin, 0);
    EXPECT_EQ(w.boxes.box(0).xmax, 9);
}

// A net wide enough for column counts with every pin but one on one column
// and one row: the lone pin leaving its edge must leave the box on that
// column and row, not on the pin's new place alone.
TEST(PlaceNetBoxes, LonePinLeavingAWideNetsEdge)
{
    std::vector<int> net;
    for (int b = 0; b < 20; ++b) net.push_back(b);
    WORLD w({net}, 20, 10, 10, 4);
    for (int b = 1; b < 20; ++b) w.pos[b] = {3, 6};
    for (PLACE_XY lone : {PLACE_XY{7, 8}, PLACE_XY{0, 1}}) {
        w.pos[0] = lone;
        w.boxes.reset(w.pos);
        for (PLACE_XY to : {PLACE_XY{5, 7}, PLACE_XY{1, 3}, PLACE_XY{3, 6}, PLACE_XY{9, 9}}) {
            const PLACE_XY from = w.pos[0];
            w.pos[0] = to;
            w.boxes.propose(w.pos, 0, from, to, -1);
            w.boxes.commit();
            ASSERT_EQ(w.boxes.box(0), w.reference(0)) << "from " << from.x << "," << from.y;
        }
    }
}

// Several signals between the same clusters make nets with the same blocks:
// they share one box, yet every net still counts in the total and in every
// move's change, whatever order or repeats the caller lists the blocks in.
TEST(PlaceNetBoxes, NetsWithTheSameBlocksShareOneBox)
{
    std::vector<int> wide, wide_reversed;
    for (int b = 0; b < 24; ++b) wide.push_back(b);
    wide_reversed.assign(wide.rbegin(), wide.rend());
    std::vector<std::vector<int>> nets{
        {0, 1},    {1, 0},        {0, 1},  // one box
        {0, 1, 1},                         // block 1 twice: a box of its own
        {1, 0, 1},                         // the same as the one before
        {2, 3, 4}, {4, 2, 3},              // one box
        {2, 3},                            // fewer blocks: its own
        wide,      wide_reversed,          // one box with column counts
    };
    for (uint32_t seed : {1u, 2u}) {
        WORLD w(nets, 24, 7, 6, seed);
        EXPECT_EQ(w.boxes.net_count(), static_cast<int>(nets.size()));
        EXPECT_EQ(w.boxes.box_count(), 5);
        for (int i = 0; i < 2000; ++i) ASSERT_TRUE(w.step(i % 3 != 0, i % 4 != 0)) << "seed " << seed << " step " << i;
    }
}

}  // namespace

}  // namespace host_place_boxes_test
