#include "host_place_boxes.h"

#include <algorithm>

namespace morv_host {

namespace {

// Nets with at least this many distinct blocks keep per-column and per-row
// pin counts: for them a rescan would cost more than stepping inward.
constexpr int HISTOGRAM_MIN_PINS = 16;

constexpr int EMPTY_MIN = 1 << 30;

}  // namespace

PLACE_NET_BOXES::PLACE_NET_BOXES(const std::vector<std::vector<int>>& nets, int blocks, int nx, int ny)
    : m_nx(nx), m_ny(ny)
{
    const int n = static_cast<int>(nets.size());
    m_net_start.reserve(n + 1);
    m_net_start.push_back(0);
    std::vector<int> degree(blocks + 1, 0);
    std::vector<int> seen(blocks, -1);
    for (int i = 0; i < n; ++i) {
        const size_t first = m_pins.size();
        for (int b : nets[i]) {
            if (seen[b] >= static_cast<int>(first)) {
                ++m_pins[seen[b]].count;
                continue;
            }
            seen[b] = static_cast<int>(m_pins.size());
            m_pins.push_back({b, 1});
            ++degree[b];
        }
        m_net_start.push_back(static_cast<int>(m_pins.size()));
    }
    m_block_start.assign(blocks + 1, 0);
    for (int b = 0; b < blocks; ++b) m_block_start[b + 1] = m_block_start[b] + degree[b];
    m_refs.resize(m_pins.size());
    std::vector<int> fill(m_block_start.begin(), m_block_start.end() - 1);
    for (int i = 0; i < n; ++i)
        for (int p = m_net_start[i]; p < m_net_start[i + 1]; ++p)
            m_refs[fill[m_pins[p].block]++] = {i, m_pins[p].count};
    m_hist_start.assign(n, -1);
    size_t hist_size = 0;
    for (int i = 0; i < n; ++i)
        if (m_net_start[i + 1] - m_net_start[i] >= HISTOGRAM_MIN_PINS) {
            m_hist_start[i] = static_cast<int>(hist_size);
            hist_size += static_cast<size_t>(nx) + ny;
        }
    m_hist.assign(hist_size, 0);
    m_box.resize(n);
    m_stamp.assign(n, 0);
}

PLACE_BOX PLACE_NET_BOXES::scan(const std::vector<PLACE_XY>& pos, int net) const
{
    PLACE_BOX b{EMPTY_MIN, -1, EMPTY_MIN, -1, 0, 0, 0, 0};
    for (int p = m_net_start[net]; p < m_net_start[net + 1]; ++p) {
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
    for (int p = m_net_start[net]; p < m_net_start[net + 1]; ++p) {
        cols[pos[m_pins[p].block].x] += m_pins[p].count;
        rows[pos[m_pins[p].block].y] += m_pins[p].count;
    }
}

void PLACE_NET_BOXES::reset(const std::vector<PLACE_XY>& pos)
{
    m_total = 0;
    for (int n = 0; n < net_count(); ++n) {
        m_box[n] = scan(pos, n);
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
    CHANGE c{net, m_box[net], count, from, to};
    const bool hist = has_histogram(net);
    PLACE_BOX& b = c.box;
    const bool ok =
        shift(from.x, to.x, count, b.xmin, b.on_xmin, b.xmax, b.on_xmax, hist ? column_counts(net) : nullptr, m_nx) &&
        shift(from.y, to.y, count, b.ymin, b.on_ymin, b.ymax, b.on_ymax, hist ? row_counts(net) : nullptr, m_ny);
    if (!ok) b = scan(pos, net);
    m_delta += place_box_cost(b) - cost(net);
    m_changes.push_back(c);
}

long long PLACE_NET_BOXES::propose(const std::vector<PLACE_XY>& pos, int b, PLACE_XY from, PLACE_XY to, int b2)
{
    m_changes.clear();
    m_delta = 0;
    if (++m_stamp_now == 0) {
        std::fill(m_stamp.begin(), m_stamp.end(), 0);
        m_stamp_now = 1;
    }
    // A net holding both blocks of a swap sees only the difference of their
    // pin counts move.
    if (b2 >= 0)
        for (int r = m_block_start[b2]; r < m_block_start[b2 + 1]; ++r) m_stamp[m_refs[r].net] = m_stamp_now;
    for (int r = m_block_start[b]; r < m_block_start[b + 1]; ++r) {
        const REF& ref = m_refs[r];
        int count = ref.count;
        if (m_stamp[ref.net] == m_stamp_now) {
            for (int r2 = m_block_start[b2]; r2 < m_block_start[b2 + 1]; ++r2)
                if (m_refs[r2].net == ref.net) count -= m_refs[r2].count;
            m_stamp[ref.net] = m_stamp_now - 1;  // handled: b2's pass skips it
            if (count == 0) continue;
        }
        visit(pos, ref.net, count, from, to);
    }
    if (b2 >= 0)
        for (int r = m_block_start[b2]; r < m_block_start[b2 + 1]; ++r)
            if (m_stamp[m_refs[r].net] == m_stamp_now) visit(pos, m_refs[r].net, m_refs[r].count, to, from);
    return m_delta;
}

void PLACE_NET_BOXES::commit()
{
    for (const CHANGE& c : m_changes) {
        m_total += place_box_cost(c.box) - cost(c.net);
        m_box[c.net] = c.box;
        if (has_histogram(c.net)) {
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
