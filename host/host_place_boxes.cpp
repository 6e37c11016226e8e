#include "host_place_boxes.h"

#include <algorithm>

namespace morv_host {

namespace {

// Nets with at least this many distinct blocks keep per-column and per-row
// pin counts: for them a rescan would cost more than stepping inward.
constexpr int HISTOGRAM_MIN_PINS = 16;

constexpr int EMPTY_MIN = 1 << 30;

}  // namespace

// Pins of every net, each block once with its count and in block order, so
// that nets with the same blocks compare equal; equal nets then share one
// box, numbered in the order of their first appearance.
void PLACE_NET_BOXES::share_nets(const std::vector<std::vector<int>>& nets, int blocks)
{
    const int n = static_cast<int>(nets.size());
    std::vector<int> start(1, 0);
    std::vector<PIN> pins;
    std::vector<int> seen(blocks, -1);
    start.reserve(n + 1);
    for (int i = 0; i < n; ++i) {
        const int first = static_cast<int>(pins.size());
        for (int b : nets[i]) {
            if (seen[b] >= first) {
                ++pins[seen[b]].count;
                continue;
            }
            seen[b] = static_cast<int>(pins.size());
            pins.push_back({b, 1});
        }
        std::sort(pins.begin() + first, pins.end(), [](const PIN& a, const PIN& b) { return a.block < b.block; });
        start.push_back(static_cast<int>(pins.size()));
    }
    auto same = [&](int a, int b) {
        return start[a + 1] - start[a] == start[b + 1] - start[b] &&
               std::equal(pins.begin() + start[a], pins.begin() + start[a + 1], pins.begin() + start[b],
                          [](const PIN& x, const PIN& y) { return x.block == y.block && x.count == y.count; });
    };
    auto less = [&](int a, int b) {
        const int na = start[a + 1] - start[a], nb = start[b + 1] - start[b];
        if (na != nb) return na < nb;
        for (int k = 0; k < na; ++k) {
            const PIN& pa = pins[start[a] + k];
            const PIN& pb = pins[start[b] + k];
            if (pa.block != pb.block) return pa.block < pb.block;
            if (pa.count != pb.count) return pa.count < pb.count;
        }
        return a < b;
    };
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), less);
    // Equal nets sort together, the first to appear leading.
    std::vector<int> leader(n);
    for (int k = 0; k < n; ++k)
        leader[order[k]] = k > 0 && same(order[k - 1], order[k]) ? leader[order[k - 1]] : order[k];
    m_shared.assign(n, -1);
    for (int i = 0; i < n; ++i) {
        if (leader[i] != i) {
            m_shared[i] = m_shared[leader[i]];
            ++m_net[m_shared[i]].weight;
            continue;
        }
        m_shared[i] = static_cast<int>(m_net.size());
        NET net;
        net.first_pin = static_cast<int>(m_pins.size());
        net.pins = start[i + 1] - start[i];
        m_pins.insert(m_pins.end(), pins.begin() + start[i], pins.begin() + start[i + 1]);
        m_net.push_back(net);
    }
}

PLACE_NET_BOXES::PLACE_NET_BOXES(const std::vector<std::vector<int>>& nets, int blocks, int nx, int ny)
    : m_nx(nx), m_ny(ny)
{
    share_nets(nets, blocks);
    const int n = box_count();
    std::vector<int> degree(blocks + 1, 0);
    for (const PIN& p : m_pins) ++degree[p.block];
    m_block_start.assign(blocks + 1, 0);
    for (int b = 0; b < blocks; ++b) m_block_start[b + 1] = m_block_start[b] + degree[b];
    m_refs.resize(m_pins.size());
    std::vector<int> fill(m_block_start.begin(), m_block_start.end() - 1);
    for (int i = 0; i < n; ++i)
        for (int p = m_net[i].first_pin; p < m_net[i].first_pin + m_net[i].pins; ++p)
            m_refs[fill[m_pins[p].block]++] = {i, m_pins[p].count};
    size_t hist_size = 0;
    for (NET& net : m_net)
        if (net.pins >= HISTOGRAM_MIN_PINS) {
            net.hist = static_cast<int>(hist_size);
            hist_size += static_cast<size_t>(nx) + ny;
        }
    m_hist.assign(hist_size, 0);
    m_mark.assign(n, MARK{});
}

PLACE_BOX PLACE_NET_BOXES::scan_shared(const std::vector<PLACE_XY>& pos, int net) const
{
    PLACE_BOX b{EMPTY_MIN, -1, EMPTY_MIN, -1, 0, 0, 0, 0};
    const int end = m_net[net].first_pin + m_net[net].pins;
    for (int p = m_net[net].first_pin; p < end; ++p) {
        const PLACE_XY at = pos[m_pins[p].block];
        const int k = m_pins[p].count;
        if (at.x < b.xmin) {
            b.xmin = at.x;
            b.on_xmin = k;
        } else if (at.x == b.xmin) b.on_xmin += k;
        if (at.x > b.xmax) {
            b.xmax = at.x;
            b.on_xmax = k;
        } else if (at.x == b.xmax) b.on_xmax += k;
        if (at.y < b.ymin) {
            b.ymin = at.y;
            b.on_ymin = k;
        } else if (at.y == b.ymin) b.on_ymin += k;
        if (at.y > b.ymax) {
            b.ymax = at.y;
            b.on_ymax = k;
        } else if (at.y == b.ymax) b.on_ymax += k;
    }
    return b;
}

void PLACE_NET_BOXES::fill_histogram(const std::vector<PLACE_XY>& pos, int net)
{
    int* cols = column_counts(net);
    int* rows = row_counts(net);
    std::fill(cols, cols + m_nx + m_ny, 0);
    const int end = m_net[net].first_pin + m_net[net].pins;
    for (int p = m_net[net].first_pin; p < end; ++p) {
        cols[pos[m_pins[p].block].x] += m_pins[p].count;
        rows[pos[m_pins[p].block].y] += m_pins[p].count;
    }
}

void PLACE_NET_BOXES::reset(const std::vector<PLACE_XY>& pos)
{
    m_total = 0;
    for (int n = 0; n < box_count(); ++n) {
        m_net[n].box = scan_shared(pos, n);
        if (has_histogram(n)) fill_histogram(pos, n);
        m_total += cost(n);
    }
    m_changes.clear();
}

// Takes `count` pins off coordinate `from` and puts them on `to`. The
// counts (per coordinate, before the move) let a vacated edge step inward to
// the next occupied coordinate; without them a vacated edge needs a rescan.
bool PLACE_NET_BOXES::shift(int from, int to, int count, int& mn, int& on_mn, int& mx, int& on_mx, const int* counts,
                            int size) const
{
    if (from == to) return true;
    const bool vacates_min = from == mn && on_mn == count;
    const bool vacates_max = from == mx && on_mx == count;
    if ((vacates_min || vacates_max) && counts == nullptr) return false;
    const int old_mn = mn, old_mx = mx;
    if (from == old_mn && !vacates_min) on_mn -= count;
    if (from == old_mx && !vacates_max) on_mx -= count;
    if (vacates_min) {
        mn = EMPTY_MIN;
        for (int c = old_mn + 1; c <= old_mx && c < size; ++c)
            if (counts[c] > 0) {
                mn = c;
                on_mn = counts[c];
                break;
            }
    }
    if (vacates_max) {
        mx = -1;
        for (int c = old_mx - 1; c >= old_mn && c >= 0; --c)
            if (counts[c] > 0) {
                mx = c;
                on_mx = counts[c];
                break;
            }
    }
    if (mx < mn) {  // every pin was on the moving coordinate
        mn = mx = to;
        on_mn = on_mx = count;
        return true;
    }
    if (to < mn) {
        mn = to;
        on_mn = count;
    } else if (to == mn) on_mn += count;
    if (to > mx) {
        mx = to;
        on_mx = count;
    } else if (to == mx) on_mx += count;
    return true;
}

void PLACE_NET_BOXES::visit(const std::vector<PLACE_XY>& pos, int net, int count, PLACE_XY from, PLACE_XY to)
{
    if (count < 0) {
        std::swap(from, to);
        count = -count;
    }
    CHANGE c{net, m_net[net].box, count, from, to};
    const bool hist = has_histogram(net);
    PLACE_BOX& b = c.box;
    const bool ok =
        shift(from.x, to.x, count, b.xmin, b.on_xmin, b.xmax, b.on_xmax, hist ? column_counts(net) : nullptr, m_nx) &&
        shift(from.y, to.y, count, b.ymin, b.on_ymin, b.ymax, b.on_ymax, hist ? row_counts(net) : nullptr, m_ny);
    if (!ok) b = scan_shared(pos, net);
    m_delta += (place_box_cost(b) - place_box_cost(m_net[net].box)) * m_net[net].weight;
    m_changes.push_back(c);
}

long long PLACE_NET_BOXES::propose(const std::vector<PLACE_XY>& pos, int b, PLACE_XY from, PLACE_XY to, int b2)
{
    m_changes.clear();
    m_delta = 0;
    if (++m_stamp_now == 0) {
        std::fill(m_mark.begin(), m_mark.end(), MARK{});
        m_stamp_now = 1;
    }
    // A net holding both blocks of a swap sees only the difference of their
    // pin counts move.
    if (b2 >= 0)
        for (int r = m_block_start[b2]; r < m_block_start[b2 + 1]; ++r)
            m_mark[m_refs[r].net] = {m_stamp_now, m_refs[r].count};
    for (int r = m_block_start[b]; r < m_block_start[b + 1]; ++r) {
        const REF& ref = m_refs[r];
        int count = ref.count;
        MARK& mark = m_mark[ref.net];
        if (mark.stamp == m_stamp_now) {
            count -= mark.count;
            mark.stamp = m_stamp_now - 1;  // handled: b2's pass skips it
            if (count == 0) continue;
        }
        visit(pos, ref.net, count, from, to);
    }
    if (b2 >= 0)
        for (int r = m_block_start[b2]; r < m_block_start[b2 + 1]; ++r)
            if (m_mark[m_refs[r].net].stamp == m_stamp_now) visit(pos, m_refs[r].net, m_refs[r].count, to, from);
    return m_delta;
}

void PLACE_NET_BOXES::commit()
{
    for (const CHANGE& c : m_changes) {
        NET& net = m_net[c.net];
        m_total += (place_box_cost(c.box) - place_box_cost(net.box)) * net.weight;
        net.box = c.box;
        if (net.hist >= 0) {
            int* cols = column_counts(c.net);
            int* rows = row_counts(c.net);
            cols[c.from.x] -= c.count;
            cols[c.to.x] += c.count;
            rows[c.from.y] -= c.count;
            rows[c.to.y] += c.count;
        }
    }
    m_changes.clear();
}

}  // namespace morv_host
