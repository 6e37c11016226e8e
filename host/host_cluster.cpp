#include "host_cluster.h"

#include <algorithm>
#include <numeric>

namespace morv_host {

namespace {

int comb_use(PACK_KIND k)
{
    return (k == PACK_KIND::COMB || k == PACK_KIND::LCELL) ? 1 : 0;
}
int reg_use(PACK_KIND k)
{
    return (k == PACK_KIND::REG || k == PACK_KIND::LCELL) ? 1 : 0;
}

}  // namespace

PACK_RESULT pack_cells(const PACK_PROBLEM& p)
{
    const int n = static_cast<int>(p.kinds.size());
    PACK_RESULT r;
    r.cluster_of.assign(n, -1);

    // Nets of each cell (as attraction sources); pins counted for seeding.
    std::vector<std::vector<int>> nets_of(n);
    std::vector<int> pins(n, 0);
    for (int ni = 0; ni < static_cast<int>(p.nets.size()); ++ni) {
        const PACK_NET& net = p.nets[ni];
        auto touch = [&](int c) {
            if (c < 0 || c >= n) return;
            ++pins[c];
            if (static_cast<int>(net.sinks.size()) + 1 <= p.max_attracting_pins) nets_of[c].push_back(ni);
        };
        touch(net.driver);
        for (int s : net.sinks) touch(s);
    }

    // Seeds in order of falling connectivity, ties by index: deterministic.
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return pins[a] > pins[b]; });

    std::vector<int> gain(n, 0);
    std::vector<int> touched;
    size_t next_seed = 0;
    const int cap = std::max(1, p.lab_capacity);

    auto next_unclustered = [&](size_t& cursor, int combs, int regs) -> int {
        // Skips cells that are taken; a cell that does not fit stays for later.
        // Filling looks a bounded distance ahead so that packing stays linear
        // when the remaining cells are all of the kind that is already full.
        const size_t limit = combs < 0 ? order.size() : std::min(order.size(), cursor + 512);
        for (size_t k = cursor; k < limit; ++k) {
            int c = order[k];
            if (r.cluster_of[c] >= 0 || p.kinds[c] == PACK_KIND::IO) {
                if (k == cursor) ++cursor;
                continue;
            }
            if (combs < 0) return c;  // any cell may seed
            if (p.kinds[c] == PACK_KIND::SOLO) continue;
            if (combs + comb_use(p.kinds[c]) <= cap && regs + reg_use(p.kinds[c]) <= cap) return c;
        }
        return -1;
    };

    for (;;) {
        int seed = next_unclustered(next_seed, -1, -1);
        if (seed < 0) break;
        const int cid = static_cast<int>(r.clusters.size());
        r.clusters.emplace_back();
        std::vector<int>& members = r.clusters.back();
        int combs = 0, regs = 0;

        auto add = [&](int c) {
            r.cluster_of[c] = cid;
            members.push_back(c);
            combs += comb_use(p.kinds[c]);
            regs += reg_use(p.kinds[c]);
            for (int ni : nets_of[c]) {
                const PACK_NET& net = p.nets[ni];
                auto attract = [&](int o) {
                    if (o < 0 || o >= n || r.cluster_of[o] >= 0 || p.kinds[o] == PACK_KIND::IO ||
                        p.kinds[o] == PACK_KIND::SOLO)
                        return;
                    if (gain[o] == 0) touched.push_back(o);
                    ++gain[o];
                };
                attract(net.driver);
                for (int s : net.sinks) attract(s);
            }
        };

        add(seed);
        if (p.kinds[seed] != PACK_KIND::SOLO) {
            for (;;) {
                int best = -1;
                for (int c : touched) {
                    if (r.cluster_of[c] >= 0) continue;
                    if (combs + comb_use(p.kinds[c]) > cap || regs + reg_use(p.kinds[c]) > cap) continue;
                    if (best < 0 || gain[c] > gain[best] || (gain[c] == gain[best] && c < best)) best = c;
                }
                if (best < 0) {
                    // Nothing connected fits: fill with the next cell in seed order so
                    // that the design uses as few LABs as it can.
                    size_t cursor = next_seed;
                    best = next_unclustered(cursor, combs, regs);
                    if (best < 0) break;
                }
                add(best);
                if (combs >= cap && regs >= cap) break;
            }
        }
        for (int c : touched) gain[c] = 0;
        touched.clear();
    }
    return r;
}

}  // namespace morv_host
