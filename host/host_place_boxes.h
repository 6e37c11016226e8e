#pragma once
// Bounding boxes of the placer's nets, kept up to date move by move.
//
// Each box counts the pins on each of its four edges, so a pin that leaves
// an edge costs a rescan only when it was the last one there. Nets with many
// pins also keep a pin count per column and per row, so that even then the
// new edge is found by stepping inward instead of rescanning every pin. A
// net may list a block more than once; such a block counts once per listing.

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

    const PLACE_BOX& box(int net) const { return m_box[net]; }
    long long cost(int net) const { return place_box_cost(m_box[net]); }
    long long total_cost() const { return m_total; }
    int net_count() const { return static_cast<int>(m_box.size()); }
    // The box a full scan of the net's pins gives (the reference of the tests).
    PLACE_BOX scan(const std::vector<PLACE_XY>& pos, int net) const;

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
    struct CHANGE
    {
        int net;
        PLACE_BOX box;
        int count;  // pins that moved from -> to (the net effect of a swap)
        PLACE_XY from, to;
    };

    bool has_histogram(int net) const { return m_hist_start[net] >= 0; }
    int* column_counts(int net) { return &m_hist[m_hist_start[net]]; }
    const int* column_counts(int net) const { return &m_hist[m_hist_start[net]]; }
    int* row_counts(int net) { return column_counts(net) + m_nx; }
    const int* row_counts(int net) const { return column_counts(net) + m_nx; }
    void fill_histogram(const std::vector<PLACE_XY>& pos, int net);
    // One axis of a move of `count` pins: false when a rescan is needed.
    bool shift(int from, int to, int count, int& mn, int& on_mn, int& mx, int& on_mx, const int* counts,
               int size) const;
    void visit(const std::vector<PLACE_XY>& pos, int net, int count, PLACE_XY from, PLACE_XY to);

    int m_nx, m_ny;
    std::vector<int> m_net_start;  // pins of net n: m_pins[m_net_start[n] .. m_net_start[n + 1])
    std::vector<PIN> m_pins;
    std::vector<int> m_block_start;  // nets of block b: m_refs[m_block_start[b] .. m_block_start[b + 1])
    std::vector<REF> m_refs;
    std::vector<int> m_hist_start;  // per net: offset of its column and row counts, -1 when none
    std::vector<int> m_hist;
    std::vector<PLACE_BOX> m_box;
    long long m_total = 0;
    // The proposal being evaluated.
    std::vector<CHANGE> m_changes;
    std::vector<uint32_t> m_stamp;
    uint32_t m_stamp_now = 0;
    long long m_delta = 0;
};

}  // namespace morv_host
