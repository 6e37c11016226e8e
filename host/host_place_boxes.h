#pragma once
// Bounding boxes of the placer's nets, kept up to date move by move.
//
// Each box counts the pins on each of its four edges, so a pin that leaves
// an edge costs a rescan only when it was the last one there. Nets with many
// pins also keep a pin count per column and per row, so that even then the
// new edge is found by stepping inward instead of rescanning every pin. A
// net may list a block more than once; such a block counts once per listing.
//
// Nets that join the same blocks (common between clusters: several signals
// from one LAB to another) share one box that counts once per net, so a move
// visits each distinct set of blocks once.

#include <cstdint>
#include <vector>

namespace morv_host {

struct PLACE_XY
{
    int x = 0, y = 0;
    bool operator==(const PLACE_XY& o) const { return x == o.x && y == o.y; }
};

struct PLACE_BOX
{
    int xmin = 0, xmax = -1, ymin = 0, ymax = -1;
    int on_xmin = 0, on_xmax = 0, on_ymin = 0, on_ymax = 0;  // pins on each edge
    bool operator==(const PLACE_BOX& o) const
    {
        return xmin == o.xmin && xmax == o.xmax && ymin == o.ymin && ymax == o.ymax && on_xmin == o.on_xmin &&
               on_xmax == o.on_xmax && on_ymin == o.on_ymin && on_ymax == o.on_ymax;
    }
};

// Half-perimeter cost of a box, counted in grid cells (a one-cell net costs 2).
inline long long place_box_cost(const PLACE_BOX& b)
{
    return (b.xmax - b.xmin + 1) + (b.ymax - b.ymin + 1);
}

class PLACE_NET_BOXES
{
public:
    // nets: the blocks of each net (repeats allowed); nx, ny: the grid.
    PLACE_NET_BOXES(const std::vector<std::vector<int>>& nets, int blocks, int nx, int ny);

    // Every box from scratch for these block positions.
    void reset(const std::vector<PLACE_XY>& pos);

    // Evaluates block b moving from `from` to `to` and, when b2 >= 0, block b2
    // moving the other way (a swap). `pos` already holds the new positions.
    // Returns the change of the total cost; commit() keeps the proposal, the
    // next propose() drops it.
    long long propose(const std::vector<PLACE_XY>& pos, int b, PLACE_XY from, PLACE_XY to, int b2);
    void commit();

    // Nets by the caller's index.
    const PLACE_BOX& box(int net) const { return m_net[m_shared[net]].box; }
    long long total_cost() const { return m_total; }
    int net_count() const { return static_cast<int>(m_shared.size()); }
    // How many boxes the nets share out (nets with the same blocks share one).
    int box_count() const { return static_cast<int>(m_net.size()); }
    // The box a full scan of the net's pins gives (the reference of the tests).
    PLACE_BOX scan(const std::vector<PLACE_XY>& pos, int net) const { return scan_shared(pos, m_shared[net]); }

private:
    struct PIN
    {
        int block;
        int count;  // how often the net lists the block
    };
    struct REF
    {
        int net;
        int count;
    };
    // One shared box: the moves read and write it together with where its
    // pins are, so it is one record.
    struct NET
    {
        PLACE_BOX box;
        int first_pin = 0, pins = 0;  // m_pins[first_pin .. first_pin + pins)
        int weight = 1;               // how many of the caller's nets it stands for
        int hist = -1;                // offset of its column and row counts, -1 when none
    };
    struct CHANGE
    {
        int net;
        PLACE_BOX box;
        int count;  // pins that moved from -> to (the net effect of a swap)
        PLACE_XY from, to;
    };
    // Per net: which proposal saw the second block of a swap on it, and its pin count there.
    struct MARK
    {
        uint32_t stamp = 0;
        int count = 0;
    };

    void share_nets(const std::vector<std::vector<int>>& nets, int blocks);
    PLACE_BOX scan_shared(const std::vector<PLACE_XY>& pos, int net) const;
    long long cost(int net) const { return place_box_cost(m_net[net].box) * m_net[net].weight; }
    bool has_histogram(int net) const { return m_net[net].hist >= 0; }
    int* column_counts(int net) { return &m_hist[m_net[net].hist]; }
    const int* column_counts(int net) const { return &m_hist[m_net[net].hist]; }
    int* row_counts(int net) { return column_counts(net) + m_nx; }
    const int* row_counts(int net) const { return column_counts(net) + m_nx; }
    void fill_histogram(const std::vector<PLACE_XY>& pos, int net);
    // One axis of a move of `count` pins: false when a rescan is needed.
    bool shift(int from, int to, int count, int& mn, int& on_mn, int& mx, int& on_mx, const int* counts,
               int size) const;
    void visit(const std::vector<PLACE_XY>& pos, int net, int count, PLACE_XY from, PLACE_XY to);

    int m_nx, m_ny;
    std::vector<int> m_shared;  // per caller's net: its shared box
    std::vector<NET> m_net;
    std::vector<PIN> m_pins;
    std::vector<int> m_block_start;  // nets of block b: m_refs[m_block_start[b] .. m_block_start[b + 1])
    std::vector<REF> m_refs;
    std::vector<int> m_hist;
    long long m_total = 0;
    // The proposal being evaluated.
    std::vector<CHANGE> m_changes;
    std::vector<MARK> m_mark;
    uint32_t m_stamp_now = 0;
    long long m_delta = 0;
};

}  // namespace morv_host
