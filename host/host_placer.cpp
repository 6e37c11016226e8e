#include "host_placer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "host_place_boxes.h"

namespace morv_host {

namespace {

std::string place_misfit_text(int block_class, int needed, size_t slots)
{
    const char* what = block_class == 0 ? " LABs" : block_class == 1 ? " I/O cells" : " blocks";
    return std::to_string(needed) + what + " needed but the device has " + std::to_string(slots);
}

// Connections lighter than this (criticality below about 0.18) weigh less
// than a millionth of a critical one: moves do not re-cost them. Their sum
// still scales the timing cost against wirelength.
constexpr double WEIGHT_CUTOFF = 1e-6;
constexpr double CRITICALITY_EXPONENT = 8.0;
// Designs up to this many blocks get the classic n^(4/3) moves per temperature.
constexpr double LINEAR_FROM = 1000;

class ANNEALER
{
public:
    explicit ANNEALER(const PLACE_PROBLEM& p) : m_p(p), m_rng(p.seed), m_nb(static_cast<int>(p.block_class.size())) {}

    PLACE_RESULT run();

private:
    // The weighed connections between two blocks, in either direction, move
    // together: one pair stands for them all with the sum of their weights.
    struct PAIR
    {
        int a, b;
        double weight;
    };
    struct PAIR_REF
    {
        int pair;
        int other;  // the block at the other end
        double weight;
    };

    uint32_t rand_below(uint32_t n) { return n <= 1 ? 0 : static_cast<uint32_t>(m_rng() % n); }
    template <typename T>
    void shuffle(std::vector<T>& v)
    {
        for (size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[rand_below(static_cast<uint32_t>(i))]);
    }
    double rand_unit() { return (m_rng() >> 8) * (1.0 / 16777216.0); }

    bool check_grid(std::string& error);
    bool initial_placement(std::string& error);
    bool roams(int cls, int blocks, size_t slots) const;
    void build_delay_table();
    double delay(int b, int other) const
    {
        return m_delay[std::abs(m_pos[b].x - m_pos[other].x) * m_p.ny + std::abs(m_pos[b].y - m_pos[other].y)];
    }
    // A connection weighs in the moves from the cut-off up; the lighter ones
    // only count in the running sum's normalisation.
    bool weighs(size_t c) const { return !(m_weight[c] < WEIGHT_CUTOFF); }
    bool is_light(size_t c) const { return m_weight[c] < WEIGHT_CUTOFF && m_weight[c] != 0.0; }
    double conn_cost(int c) const { return weighs(c) ? m_weight[c] * delay(m_p.conns[c].from, m_p.conns[c].to) : 0.0; }
    void set_weights();
    void make_pairs();
    void recompute_timing_cost();
    void normalise();
    int pick_target(int b, int rlim, int& tk);
    bool try_move(double temperature, int rlim, double& delta_out, bool apply_always);
    void accept(int b, int b2, int ts, int tk);
    double starting_temperature();
    void end_of_temperature(PLACE_RESULT& r);
    void update_criticality(PLACE_RESULT& r);
    void check_costs(PLACE_RESULT& r);
    void anneal(PLACE_RESULT& r);
    long long moves_per_temperature() const;

    const PLACE_PROBLEM& m_p;
    std::mt19937 m_rng;
    const int m_nb;
    int m_rmax = 1;             // largest move window: the chip
    std::vector<char> m_roams;  // per class: its blocks move anywhere, whatever the window
    std::vector<PLACE_XY> m_pos;
    std::vector<int> m_bsite, m_bslot;
    std::vector<int> m_slot_start;             // per site: its first slot in m_occupant
    std::vector<int> m_occupant;               // per slot: block or -1
    std::vector<std::vector<int>> m_site_at;   // per class: x * ny + y -> site or -1
    std::vector<std::vector<int>> m_sites_of;  // per class: its sites
    std::unique_ptr<PLACE_NET_BOXES> m_boxes;
    // Timing: the weighed connections of each block, as pairs of blocks.
    std::vector<float> m_crit;
    std::vector<double> m_weight;  // per connection, the light ones too
    double m_tc_light = 0;
    std::vector<PAIR> m_pairs;
    std::vector<double> m_pair_cost;
    std::vector<int> m_pair_start;  // pairs of block b: m_pair_refs[m_pair_start[b] .. m_pair_start[b + 1])
    std::vector<PAIR_REF> m_pair_refs;
    std::vector<int> m_delay;  // by |dx| * ny + |dy|
    double m_tc = 0;
    double m_wl_norm = 1, m_tc_norm = 1;
    // Blocks moved since the last criticality update.
    std::vector<char> m_moved_flag;
    std::vector<int> m_moved;
    // Scratch of the move being evaluated.
    std::vector<std::pair<int, double>> m_new_ccost;
};

bool ANNEALER::check_grid(std::string& error)
{
    if (m_p.nx <= 0 || m_p.ny <= 0) {
        error = "empty grid";
        return false;
    }
    for (const PLACE_SITE& s : m_p.sites)
        if (s.x < 0 || s.x >= m_p.nx || s.y < 0 || s.y >= m_p.ny || s.slots < 1 || s.block_class < 0) {
            error = "site outside the grid";
            return false;
        }
    for (size_t b = 0; b < m_p.block_class.size(); ++b)
        if (m_p.block_class[b] < 0) {
            error = "block without a class";
            return false;
        }
    return true;
}

// A class spread thinly over the chip (the I/O ring: its sites fill little
// of the box around them) with room to spare: once the window has shrunk, a
// block left on the far side of the chip from its partners could never come
// back, and the anneal's outcome would hang on where the hot phase happened
// to leave it. Crowded, its far moves would be swaps that are hardly ever
// taken, so it keeps the window then; so does a compact class (a locked
// rectangle), which the window covers anyway.
bool ANNEALER::roams(int cls, int blocks, size_t slots) const
{
    const std::vector<int>& sites = m_sites_of[cls];
    if (blocks == 0 || slots < 2 * static_cast<size_t>(blocks)) return false;
    int x1 = m_p.nx, y1 = m_p.ny, x2 = -1, y2 = -1;
    for (int s : sites) {
        x1 = std::min(x1, m_p.sites[s].x);
        x2 = std::max(x2, m_p.sites[s].x);
        y1 = std::min(y1, m_p.sites[s].y);
        y2 = std::max(y2, m_p.sites[s].y);
    }
    return 4 * sites.size() < static_cast<size_t>(x2 - x1 + 1) * static_cast<size_t>(y2 - y1 + 1);
}

bool ANNEALER::initial_placement(std::string& error)
{
    int classes = 0;
    for (int c : m_p.block_class) classes = std::max(classes, c + 1);
    for (const PLACE_SITE& s : m_p.sites) classes = std::max(classes, s.block_class + 1);
    m_site_at.assign(classes, std::vector<int>(static_cast<size_t>(m_p.nx) * m_p.ny, -1));
    m_sites_of.assign(classes, {});
    // Free slots per class, shuffled so that the start is spread over the chip.
    std::vector<std::vector<std::pair<int, int>>> free_slots(classes);
    m_slot_start.assign(m_p.sites.size() + 1, 0);
    for (int s = 0; s < static_cast<int>(m_p.sites.size()); ++s) {
        const PLACE_SITE& site = m_p.sites[s];
        m_site_at[site.block_class][site.x * m_p.ny + site.y] = s;
        m_sites_of[site.block_class].push_back(s);
        m_slot_start[s + 1] = m_slot_start[s] + site.slots;
        for (int k = 0; k < site.slots; ++k) free_slots[site.block_class].emplace_back(s, k);
    }
    m_occupant.assign(m_slot_start.back(), -1);
    m_rmax = std::max(m_p.nx, m_p.ny);
    std::vector<int> needed(classes, 0);
    for (int c : m_p.block_class) ++needed[c];
    m_roams.assign(classes, 0);
    for (int c = 0; c < classes; ++c) m_roams[c] = roams(c, needed[c], free_slots[c].size());
    for (int c = 0; c < classes; ++c) {
        if (needed[c] > static_cast<int>(free_slots[c].size())) {
            error = place_misfit_text(c, needed[c], free_slots[c].size());
            return false;
        }
        shuffle(free_slots[c]);
    }
    std::vector<size_t> next(classes, 0);
    m_pos.resize(m_nb);
    m_bsite.resize(m_nb);
    m_bslot.resize(m_nb);
    for (int b = 0; b < m_nb; ++b) {
        const int c = m_p.block_class[b];
        auto [s, k] = free_slots[c][next[c]++];
        m_bsite[b] = s;
        m_bslot[b] = k;
        m_occupant[m_slot_start[s] + k] = b;
        m_pos[b] = {m_p.sites[s].x, m_p.sites[s].y};
    }
    return true;
}

void ANNEALER::build_delay_table()
{
    m_delay.assign(static_cast<size_t>(m_p.nx) * m_p.ny, 0);
    for (int dx = 0; dx < m_p.nx; ++dx)
        for (int dy = 0; dy < m_p.ny; ++dy)
            m_delay[dx * m_p.ny + dy] = m_p.delay_ps ? m_p.delay_ps(0, 0, dx, dy) : dx + dy;
}

// Weights from criticalities; only the connections that weigh are listed at
// their blocks, so a move re-costs a handful of block pairs instead of every
// connection.
void ANNEALER::set_weights()
{
    const size_t n = m_p.conns.size();
    m_weight.resize(n);
    // A sharp exponent keeps the few critical connections short without
    // letting the many slack ones distort the wirelength.
    for (size_t c = 0; c < n; ++c)
        m_weight[c] = std::pow(std::clamp<double>(m_crit[c], 0.0, 1.0), CRITICALITY_EXPONENT);
    make_pairs();
    recompute_timing_cost();
}

// Pairs numbered by their lower block, then by the first connection between
// them; every pair is listed at both of its blocks.
void ANNEALER::make_pairs()
{
    std::vector<int> start(m_nb + 1, 0);
    for (size_t c = 0; c < m_p.conns.size(); ++c)
        if (weighs(c)) ++start[std::min(m_p.conns[c].from, m_p.conns[c].to) + 1];
    for (int b = 0; b < m_nb; ++b) start[b + 1] += start[b];
    std::vector<int> by_lower(start.back());
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (size_t c = 0; c < m_p.conns.size(); ++c)
        if (weighs(c)) by_lower[fill[std::min(m_p.conns[c].from, m_p.conns[c].to)]++] = static_cast<int>(c);
    m_pairs.clear();
    std::vector<int> pair_of(m_nb, -1);  // higher block -> pair, valid when made for the current lower block
    std::vector<int> degree(m_nb + 1, 0);
    for (int a = 0; a < m_nb; ++a) {
        const int first = static_cast<int>(m_pairs.size());
        for (int k = start[a]; k < start[a + 1]; ++k) {
            const int c = by_lower[k];
            const int b = std::max(m_p.conns[c].from, m_p.conns[c].to);
            if (pair_of[b] < first) {
                pair_of[b] = static_cast<int>(m_pairs.size());
                m_pairs.push_back({a, b, 0.0});
                ++degree[a];
                ++degree[b];
            }
            m_pairs[pair_of[b]].weight += m_weight[c];
        }
    }
    m_pair_start.assign(m_nb + 1, 0);
    for (int b = 0; b < m_nb; ++b) m_pair_start[b + 1] = m_pair_start[b] + degree[b];
    m_pair_refs.resize(m_pair_start.back());
    fill.assign(m_pair_start.begin(), m_pair_start.end() - 1);
    for (int i = 0; i < static_cast<int>(m_pairs.size()); ++i) {
        const PAIR& pr = m_pairs[i];
        m_pair_refs[fill[pr.a]++] = {i, pr.b, pr.weight};
        m_pair_refs[fill[pr.b]++] = {i, pr.a, pr.weight};
    }
}

// The running sum covers the weighed connections; the light ones are summed
// here too, so that timing is normalised against the whole design's delay
// and the cut-off does not shift the balance against wirelength.
void ANNEALER::recompute_timing_cost()
{
    m_pair_cost.resize(m_pairs.size());
    m_tc = 0;
    for (size_t i = 0; i < m_pairs.size(); ++i) {
        m_pair_cost[i] = m_pairs[i].weight * delay(m_pairs[i].a, m_pairs[i].b);
        m_tc += m_pair_cost[i];
    }
    m_tc_light = 0;
    for (size_t c = 0; c < m_p.conns.size(); ++c)
        if (is_light(c)) m_tc_light += m_weight[c] * delay(m_p.conns[c].from, m_p.conns[c].to);
}

void ANNEALER::normalise()
{
    m_wl_norm = 1.0 / std::max<double>(1.0, static_cast<double>(m_boxes->total_cost()));
    m_tc_norm = 1.0 / std::max(1e-9, m_tc + m_tc_light);
}

// A target slot inside the window around block b: first by sampling the
// window (dense classes), then by sampling the class's sites (sparse
// classes such as the I/O ring, where most window cells hold no site of the
// class). -1 when none was found.
int ANNEALER::pick_target(int b, int rlim, int& tk)
{
    const int cls = m_p.block_class[b];
    const PLACE_XY at = m_pos[b];
    if (m_roams[cls]) rlim = m_rmax;
    int ts = -1;
    for (int attempt = 0; attempt < 16 && ts < 0; ++attempt) {
        if (attempt < 8) {
            const int tx = at.x + static_cast<int>(rand_below(2 * rlim + 1)) - rlim;
            const int ty = at.y + static_cast<int>(rand_below(2 * rlim + 1)) - rlim;
            if (tx < 0 || ty < 0 || tx >= m_p.nx || ty >= m_p.ny) continue;
            ts = m_site_at[cls][tx * m_p.ny + ty];
        } else {
            const std::vector<int>& list = m_sites_of[cls];
            const int s = list[rand_below(static_cast<uint32_t>(list.size()))];
            if (std::abs(m_p.sites[s].x - at.x) <= rlim && std::abs(m_p.sites[s].y - at.y) <= rlim) ts = s;
        }
    }
    if (ts >= 0) tk = static_cast<int>(rand_below(static_cast<uint32_t>(m_p.sites[ts].slots)));
    return ts;
}

// Proposes moving a random block to a random slot within rlim of it (swapping
// with the slot's occupant), evaluates the cost change and keeps or undoes it.
bool ANNEALER::try_move(double temperature, int rlim, double& delta_out, bool apply_always)
{
    const int b = static_cast<int>(rand_below(static_cast<uint32_t>(m_nb)));
    int tk = 0;
    const int ts = pick_target(b, rlim, tk);
    if (ts < 0) return false;
    const int b2 = m_occupant[m_slot_start[ts] + tk];
    if (b2 == b || (ts == m_bsite[b] && b2 < 0)) return false;

    const PLACE_XY from = m_pos[b];
    const PLACE_XY to{m_p.sites[ts].x, m_p.sites[ts].y};
    m_pos[b] = to;
    if (b2 >= 0) m_pos[b2] = from;
    const double dwl = static_cast<double>(m_boxes->propose(m_pos, b, from, to, b2));

    // A connection between the two swapped blocks keeps its length.
    m_new_ccost.clear();
    double dtc = 0;
    for (int blk : {b, b2}) {
        if (blk < 0) continue;
        const int partner = blk == b ? b2 : b;
        for (int r = m_pair_start[blk]; r < m_pair_start[blk + 1]; ++r) {
            const PAIR_REF& ref = m_pair_refs[r];
            if (ref.other == partner) continue;
            const double nc = ref.weight * delay(blk, ref.other);
            m_new_ccost.emplace_back(ref.pair, nc);
            dtc += nc - m_pair_cost[ref.pair];
        }
    }

    const double lambda = m_p.timing_tradeoff;
    const double delta = (1.0 - lambda) * dwl * m_wl_norm + lambda * dtc * m_tc_norm;
    delta_out = delta;
    const bool take = apply_always || delta <= 0 || (temperature > 0 && rand_unit() < std::exp(-delta / temperature));
    if (!take) {
        m_pos[b] = from;
        if (b2 >= 0) m_pos[b2] = to;
        return false;
    }
    accept(b, b2, ts, tk);
    return true;
}

void ANNEALER::accept(int b, int b2, int ts, int tk)
{
    const int os = m_bsite[b], ok = m_bslot[b];
    m_occupant[m_slot_start[os] + ok] = b2;
    m_occupant[m_slot_start[ts] + tk] = b;
    m_bsite[b] = ts;
    m_bslot[b] = tk;
    if (b2 >= 0) {
        m_bsite[b2] = os;
        m_bslot[b2] = ok;
    }
    m_boxes->commit();
    for (const auto& [pair, cost] : m_new_ccost) {
        m_tc += cost - m_pair_cost[pair];
        m_pair_cost[pair] = cost;
    }
    for (int blk : {b, b2})
        if (blk >= 0 && !m_moved_flag[blk]) {
            m_moved_flag[blk] = 1;
            m_moved.push_back(blk);
        }
}

// From the spread of the costs of random moves, all taken: hot enough that
// nearly every move is accepted at first.
double ANNEALER::starting_temperature()
{
    const int rmax = m_rmax;
    double sum = 0, sum2 = 0;
    int count = 0;
    for (int i = 0; i < m_nb; ++i) {
        double d = 0;
        if (try_move(0, rmax, d, true)) {
            sum += d;
            sum2 += d * d;
            ++count;
        }
    }
    recompute_timing_cost();
    normalise();
    const double var = count > 1 ? (sum2 - sum * sum / count) / (count - 1) : 0;
    const double t = 20.0 * std::sqrt(std::max(0.0, var));
    // Every sampled move cost the same: start warm enough to move anyway.
    return t > 0 ? t : 1.0;
}

void ANNEALER::check_costs(PLACE_RESULT& r)
{
    ++r.cost_checks;
    bool same = true;
    long long wl = 0;
    for (int n = 0; n < m_boxes->net_count(); ++n) {
        const PLACE_BOX b = m_boxes->scan(m_pos, n);
        same = same && b == m_boxes->box(n);
        wl += place_box_cost(b);
    }
    same = same && wl == m_boxes->total_cost();
    double tc = 0;
    for (size_t c = 0; c < m_p.conns.size(); ++c)
        if (weighs(c)) tc += conn_cost(static_cast<int>(c));
    same = same && std::abs(tc - m_tc) <= 1e-9 * std::max(1.0, std::abs(tc));
    if (!same) ++r.cost_mismatches;
}

void ANNEALER::update_criticality(PLACE_RESULT& r)
{
    m_p.recompute_criticality(m_bsite, m_moved, m_crit);
    m_crit.resize(m_p.conns.size(), 0.0f);
    for (int b : m_moved) m_moved_flag[b] = 0;
    m_moved.clear();
    set_weights();
    ++r.criticality_updates;
}

void ANNEALER::end_of_temperature(PLACE_RESULT& r)
{
    if (m_p.check_costs) check_costs(r);
    if (m_p.recompute_criticality && m_p.recompute_every > 0 && r.temperatures % m_p.recompute_every == 0)
        update_criticality(r);
    else recompute_timing_cost();  // bounds the floating drift of the running sum
    normalise();
}

// The classic budget, inner_num * n^(4/3) moves per temperature, up to a
// design of LINEAR_FROM blocks; beyond, every block is tried the same number
// of times per temperature as there, so that the anneal grows with the design
// instead of faster than it.
long long ANNEALER::moves_per_temperature() const
{
    return place_moves_per_temperature(m_nb, m_p.inner_num);
}

void ANNEALER::anneal(PLACE_RESULT& r)
{
    const int rmax = m_rmax;
    double temperature = starting_temperature();
    const long long per_temp = moves_per_temperature();
    double rlim = rmax;
    const double t_exit = 0.005 / std::max<size_t>(1, m_p.nets.size() + m_p.conns.size());
    while (temperature > t_exit && r.temperatures < 400) {
        long long accepted = 0;
        const int ir = std::max(1, static_cast<int>(rlim));
        for (long long m = 0; m < per_temp; ++m) {
            double d;
            if (try_move(temperature, ir, d, false)) ++accepted;
        }
        r.moves += per_temp;
        ++r.temperatures;
        const double rate = static_cast<double>(accepted) / static_cast<double>(per_temp);
        // The window keeps the acceptance rate near 0.44, where annealing
        // makes the most progress per move.
        rlim = std::clamp(rlim * (1.0 - 0.44 + rate), 1.0, static_cast<double>(rmax));
        if (rate > 0.96) temperature *= 0.5;
        else if (rate > 0.8) temperature *= 0.9;
        else if (rate > 0.15 || rlim > 1.0) temperature *= 0.95;
        else temperature *= 0.8;
        end_of_temperature(r);
    }
    // Greedy quench.
    for (long long m = 0; m < per_temp; ++m) {
        double d;
        try_move(0, 1, d, false);
    }
    r.moves += per_temp;
    if (m_p.check_costs) check_costs(r);
}

PLACE_RESULT ANNEALER::run()
{
    PLACE_RESULT r;
    if (!check_grid(r.error) || !initial_placement(r.error)) return r;
    build_delay_table();
    m_boxes = std::make_unique<PLACE_NET_BOXES>(m_p.nets, m_nb, m_p.nx, m_p.ny);
    m_boxes->reset(m_pos);
    m_crit.resize(m_p.conns.size());
    for (size_t c = 0; c < m_p.conns.size(); ++c) m_crit[c] = m_p.conns[c].criticality;
    // Nothing is placed for the caller yet: the first update takes every block.
    m_moved_flag.assign(m_nb, 1);
    m_moved.resize(m_nb);
    for (int b = 0; b < m_nb; ++b) m_moved[b] = b;
    set_weights();
    normalise();
    if (m_nb > 1) anneal(r);
    recompute_timing_cost();
    r.ok = true;
    r.site = m_bsite;
    r.slot = m_bslot;
    r.wirelength = m_boxes->total_cost();
    r.timing_cost = m_tc;
    return r;
}

}  // namespace

long long place_moves_per_temperature(int blocks, double inner_num)
{
    const double n = static_cast<double>(std::max(blocks, 0));
    const double per_block = std::cbrt(std::min(n, LINEAR_FROM));
    return std::max<long long>(1, static_cast<long long>(inner_num * per_block * n));
}

bool place_problem_fits(const PLACE_PROBLEM& problem, std::string& error)
{
    std::vector<int> needed;
    std::vector<size_t> slots;
    auto grow = [&](int cls) {
        if (cls >= static_cast<int>(needed.size())) {
            needed.resize(static_cast<size_t>(cls) + 1, 0);
            slots.resize(static_cast<size_t>(cls) + 1, 0);
        }
    };
    for (int c : problem.block_class) {
        if (c < 0) continue;
        grow(c);
        ++needed[static_cast<size_t>(c)];
    }
    for (const PLACE_SITE& s : problem.sites) {
        if (s.block_class < 0 || s.slots < 1) continue;
        grow(s.block_class);
        slots[static_cast<size_t>(s.block_class)] += static_cast<size_t>(s.slots);
    }
    for (size_t c = 0; c < needed.size(); ++c)
        if (static_cast<size_t>(needed[c]) > slots[c]) {
            error = place_misfit_text(static_cast<int>(c), needed[c], slots[c]);
            return false;
        }
    return true;
}

PLACE_RESULT place_blocks(const PLACE_PROBLEM& problem)
{
    const int n = static_cast<int>(problem.block_class.size());
    auto bad_block = [n](int b) { return b < 0 || b >= n; };
    PLACE_RESULT r;
    for (const PLACE_CONN& c : problem.conns)
        if (bad_block(c.from) || bad_block(c.to) || c.from == c.to) {
            r.error = "connection names a block that does not exist or joins a block to itself";
            return r;
        }
    for (const std::vector<int>& net : problem.nets)
        for (int b : net)
            if (bad_block(b)) {
                r.error = "net names a block that does not exist";
                return r;
            }
    ANNEALER a(problem);
    return a.run();
}

}  // namespace morv_host
