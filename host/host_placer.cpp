#include "host_placer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace morv_host {

namespace {

struct BBOX {
  int xmin, xmax, ymin, ymax;
  int cxmin, cxmax, cymin, cymax;  // pins on each edge
};

// One dimension of the incremental bounding-box update. Returns false when a
// pin leaves an edge it held alone: the caller then rescans the net.
bool shift_edge(int from, int to, int& mn, int& cmn, int& mx, int& cmx)
{
  if (from == to) return true;
  if (from == mn) {
    if (cmn == 1) return false;
    --cmn;
  }
  if (from == mx) {
    if (cmx == 1) return false;
    --cmx;
  }
  if (to < mn) { mn = to; cmn = 1; } else if (to == mn) ++cmn;
  if (to > mx) { mx = to; cmx = 1; } else if (to == mx) ++cmx;
  return true;
}

class ANNEALER {
public:
  explicit ANNEALER(const PLACE_PROBLEM& p) : m_p(p), m_rng(p.seed) {}

  PLACE_RESULT run();

private:
  uint32_t rand_below(uint32_t n) { return n <= 1 ? 0 : static_cast<uint32_t>(m_rng() % n); }
  double rand_unit() { return (m_rng() >> 8) * (1.0 / 16777216.0); }

  bool initial_placement(std::string& error);
  BBOX scan_net(int net) const;
  long long net_cost(const BBOX& b) const { return (b.xmax - b.xmin + 1) + (b.ymax - b.ymin + 1); }
  double conn_cost(int c) const;
  void recompute_totals();
  void set_weights();
  bool try_move(double temperature, int rlim, double& delta_out, bool apply_always);

  const PLACE_PROBLEM& m_p;
  std::mt19937 m_rng;
  int m_nb = 0;
  std::vector<int> m_bx, m_by, m_bsite, m_bslot;
  std::vector<std::vector<int>> m_occupant;           // per site, per slot: block or -1
  std::vector<std::vector<int>> m_site_at;            // per class: x * ny + y -> site or -1
  std::vector<std::vector<int>> m_sites_of;           // per class: its sites
  std::vector<std::vector<int>> m_nets_of, m_conns_of;
  std::vector<BBOX> m_bb;
  std::vector<long long> m_ncost;
  std::vector<double> m_ccost, m_weight;
  std::vector<float> m_crit;
  std::vector<int> m_delay;                           // by |dx| * ny + |dy|
  std::vector<unsigned> m_net_stamp, m_shared_stamp, m_conn_stamp;
  unsigned m_stamp = 0;
  long long m_wl = 0;
  double m_tc = 0;
  double m_wl_norm = 1, m_tc_norm = 1;
  // Scratch of the move being evaluated.
  std::vector<int> m_touched_nets, m_touched_conns;
  std::vector<BBOX> m_new_bb;
  std::vector<double> m_new_ccost;
};

double ANNEALER::conn_cost(int c) const
{
  const PLACE_CONN& k = m_p.conns[c];
  int dx = std::abs(m_bx[k.from] - m_bx[k.to]);
  int dy = std::abs(m_by[k.from] - m_by[k.to]);
  return m_weight[c] * m_delay[dx * m_p.ny + dy];
}

BBOX ANNEALER::scan_net(int net) const
{
  BBOX b{1 << 30, -1, 1 << 30, -1, 0, 0, 0, 0};
  for (int blk : m_p.nets[net]) {
    int x = m_bx[blk], y = m_by[blk];
    if (x < b.xmin) { b.xmin = x; b.cxmin = 1; } else if (x == b.xmin) ++b.cxmin;
    if (x > b.xmax) { b.xmax = x; b.cxmax = 1; } else if (x == b.xmax) ++b.cxmax;
    if (y < b.ymin) { b.ymin = y; b.cymin = 1; } else if (y == b.ymin) ++b.cymin;
    if (y > b.ymax) { b.ymax = y; b.cymax = 1; } else if (y == b.ymax) ++b.cymax;
  }
  return b;
}

bool ANNEALER::initial_placement(std::string& error)
{
  int classes = 0;
  for (int c : m_p.block_class) classes = std::max(classes, c + 1);
  for (const PLACE_SITE& s : m_p.sites) classes = std::max(classes, s.block_class + 1);
  m_site_at.assign(classes, std::vector<int>(static_cast<size_t>(m_p.nx) * m_p.ny, -1));
  m_sites_of.assign(classes, {});
  m_occupant.resize(m_p.sites.size());
  // Free slots per class, shuffled so that the start is spread over the chip.
  std::vector<std::vector<std::pair<int, int>>> free_slots(classes);
  for (int s = 0; s < static_cast<int>(m_p.sites.size()); ++s) {
    const PLACE_SITE& site = m_p.sites[s];
    if (site.x < 0 || site.x >= m_p.nx || site.y < 0 || site.y >= m_p.ny || site.slots < 1) {
      error = "site outside the grid";
      return false;
    }
    m_site_at[site.block_class][site.x * m_p.ny + site.y] = s;
    m_sites_of[site.block_class].push_back(s);
    m_occupant[s].assign(site.slots, -1);
    for (int k = 0; k < site.slots; ++k) free_slots[site.block_class].emplace_back(s, k);
  }
  std::vector<int> needed(classes, 0);
  for (int c : m_p.block_class) ++needed[c];
  for (int c = 0; c < classes; ++c) {
    if (needed[c] > static_cast<int>(free_slots[c].size())) {
      error = std::to_string(needed[c]) + (c == 0 ? " LABs" : " I/O cells") + " needed but the device has " +
              std::to_string(free_slots[c].size());
      return false;
    }
    auto& v = free_slots[c];
    for (size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[rand_below(static_cast<uint32_t>(i))]);
  }
  std::vector<size_t> next(classes, 0);
  m_bx.resize(m_nb);
  m_by.resize(m_nb);
  m_bsite.resize(m_nb);
  m_bslot.resize(m_nb);
  for (int b = 0; b < m_nb; ++b) {
    int c = m_p.block_class[b];
    auto [s, k] = free_slots[c][next[c]++];
    m_bsite[b] = s;
    m_bslot[b] = k;
    m_occupant[s][k] = b;
    m_bx[b] = m_p.sites[s].x;
    m_by[b] = m_p.sites[s].y;
  }
  return true;
}

void ANNEALER::set_weights()
{
  m_weight.resize(m_crit.size());
  for (size_t c = 0; c < m_crit.size(); ++c) {
    // A sharp exponent keeps the few critical connections short without
    // letting the many slack ones distort the wirelength.
    m_weight[c] = std::pow(std::clamp<double>(m_crit[c], 0.0, 1.0), 8.0);
  }
}

void ANNEALER::recompute_totals()
{
  m_wl = 0;
  for (size_t n = 0; n < m_p.nets.size(); ++n) {
    m_bb[n] = scan_net(static_cast<int>(n));
    m_ncost[n] = net_cost(m_bb[n]);
    m_wl += m_ncost[n];
  }
  m_tc = 0;
  for (size_t c = 0; c < m_p.conns.size(); ++c) {
    m_ccost[c] = conn_cost(static_cast<int>(c));
    m_tc += m_ccost[c];
  }
  m_wl_norm = 1.0 / std::max<double>(1.0, static_cast<double>(m_wl));
  m_tc_norm = 1.0 / std::max(1e-9, m_tc);
}

// Proposes moving a random block to a random slot within rlim of it (swapping
// with the slot's occupant), evaluates the cost change and keeps or undoes it.
bool ANNEALER::try_move(double temperature, int rlim, double& delta_out, bool apply_always)
{
  int b = static_cast<int>(rand_below(static_cast<uint32_t>(m_nb)));
  int cls = m_p.block_class[b];
  // A target inside the window: first by sampling the window (dense
  // classes), then by sampling the class's sites (sparse classes such as the
  // I/O ring, where most window cells hold no site of the class).
  int ts = -1, tx = 0, ty = 0;
  for (int attempt = 0; attempt < 16 && ts < 0; ++attempt) {
    if (attempt < 8) {
      tx = m_bx[b] + static_cast<int>(rand_below(2 * rlim + 1)) - rlim;
      ty = m_by[b] + static_cast<int>(rand_below(2 * rlim + 1)) - rlim;
      if (tx < 0 || ty < 0 || tx >= m_p.nx || ty >= m_p.ny) continue;
      ts = m_site_at[cls][tx * m_p.ny + ty];
    } else {
      const std::vector<int>& list = m_sites_of[cls];
      int s = list[rand_below(static_cast<uint32_t>(list.size()))];
      tx = m_p.sites[s].x;
      ty = m_p.sites[s].y;
      if (std::abs(tx - m_bx[b]) <= rlim && std::abs(ty - m_by[b]) <= rlim) ts = s;
    }
  }
  if (ts < 0) return false;
  int tk = static_cast<int>(rand_below(static_cast<uint32_t>(m_occupant[ts].size())));
  int b2 = m_occupant[ts][tk];
  if (b2 == b || (ts == m_bsite[b] && b2 < 0)) return false;

  const int ox = m_bx[b], oy = m_by[b], os = m_bsite[b], ok = m_bslot[b];
  // Tentatively move.
  m_bx[b] = tx; m_by[b] = ty;
  if (b2 >= 0) { m_bx[b2] = ox; m_by[b2] = oy; }

  ++m_stamp;
  m_touched_nets.clear();
  m_new_bb.clear();
  m_touched_conns.clear();
  m_new_ccost.clear();
  double dwl = 0, dtc = 0;
  auto visit_nets = [&](int blk) {
    for (int n : m_nets_of[blk]) {
      if (m_net_stamp[n] == m_stamp) continue;
      m_net_stamp[n] = m_stamp;
      BBOX nb = m_bb[n];
      bool good = shift_edge(blk == b ? ox : tx, m_bx[blk], nb.xmin, nb.cxmin, nb.xmax, nb.cxmax) &&
                  shift_edge(blk == b ? oy : ty, m_by[blk], nb.ymin, nb.cymin, nb.ymax, nb.cymax);
      // A net holding both swapped blocks sees two moves: rescan it.
      if (blk == b && m_shared_stamp[n] == m_stamp) good = false;
      if (!good) nb = scan_net(n);
      m_touched_nets.push_back(n);
      m_new_bb.push_back(nb);
      dwl += static_cast<double>(net_cost(nb) - m_ncost[n]);
    }
    for (int c : m_conns_of[blk]) {
      if (m_conn_stamp[c] == m_stamp) continue;
      m_conn_stamp[c] = m_stamp;
      double nc = conn_cost(c);
      m_touched_conns.push_back(c);
      m_new_ccost.push_back(nc);
      dtc += nc - m_ccost[c];
    }
  };
  if (b2 >= 0)
    for (int n : m_nets_of[b2]) m_shared_stamp[n] = m_stamp;
  visit_nets(b);
  if (b2 >= 0) visit_nets(b2);

  const double lambda = m_p.timing_tradeoff;
  double delta = (1.0 - lambda) * dwl * m_wl_norm + lambda * dtc * m_tc_norm;
  delta_out = delta;
  bool accept = apply_always || delta <= 0 ||
                (temperature > 0 && rand_unit() < std::exp(-delta / temperature));
  if (!accept) {
    m_bx[b] = ox; m_by[b] = oy;
    if (b2 >= 0) { m_bx[b2] = tx; m_by[b2] = ty; }
    return false;
  }
  m_occupant[os][ok] = b2;
  m_occupant[ts][tk] = b;
  m_bsite[b] = ts; m_bslot[b] = tk;
  if (b2 >= 0) { m_bsite[b2] = os; m_bslot[b2] = ok; }
  for (size_t i = 0; i < m_touched_nets.size(); ++i) {
    int n = m_touched_nets[i];
    long long nc = net_cost(m_new_bb[i]);
    m_wl += nc - m_ncost[n];
    m_ncost[n] = nc;
    m_bb[n] = m_new_bb[i];
  }
  for (size_t i = 0; i < m_touched_conns.size(); ++i) {
    int c = m_touched_conns[i];
    m_tc += m_new_ccost[i] - m_ccost[c];
    m_ccost[c] = m_new_ccost[i];
  }
  return true;
}

PLACE_RESULT ANNEALER::run()
{
  PLACE_RESULT r;
  m_nb = static_cast<int>(m_p.block_class.size());
  if (m_p.nx <= 0 || m_p.ny <= 0) {
    r.error = "empty grid";
    return r;
  }
  if (!initial_placement(r.error)) return r;

  m_nets_of.assign(m_nb, {});
  m_conns_of.assign(m_nb, {});
  for (size_t n = 0; n < m_p.nets.size(); ++n)
    for (int blk : m_p.nets[n]) m_nets_of[blk].push_back(static_cast<int>(n));
  m_crit.resize(m_p.conns.size());
  for (size_t c = 0; c < m_p.conns.size(); ++c) {
    const PLACE_CONN& k = m_p.conns[c];
    m_crit[c] = k.criticality;
    m_conns_of[k.from].push_back(static_cast<int>(c));
    if (k.to != k.from) m_conns_of[k.to].push_back(static_cast<int>(c));
  }
  set_weights();
  m_delay.assign(static_cast<size_t>(m_p.nx) * m_p.ny, 0);
  for (int dx = 0; dx < m_p.nx; ++dx)
    for (int dy = 0; dy < m_p.ny; ++dy) m_delay[dx * m_p.ny + dy] = m_p.delay_ps ? m_p.delay_ps(0, 0, dx, dy) : dx + dy;
  m_bb.resize(m_p.nets.size());
  m_ncost.resize(m_p.nets.size());
  m_ccost.resize(m_p.conns.size());
  m_net_stamp.assign(m_p.nets.size(), 0);
  m_shared_stamp.assign(m_p.nets.size(), 0);
  m_conn_stamp.assign(m_p.conns.size(), 0);
  recompute_totals();

  const int rmax = std::max(m_p.nx, m_p.ny);
  if (m_nb > 1) {
    // Starting temperature from the spread of random-move costs.
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
    recompute_totals();
    double var = count > 1 ? (sum2 - sum * sum / count) / (count - 1) : 0;
    double temperature = 20.0 * std::sqrt(std::max(0.0, var));
    // Every sampled move cost the same: start warm enough to move anyway.
    if (temperature <= 0) temperature = 1.0;
    long long per_temp =
        std::max<long long>(1, static_cast<long long>(m_p.inner_num * std::pow(static_cast<double>(m_nb), 4.0 / 3.0)));
    double rlim = rmax;
    const double t_exit = 0.005 / std::max<size_t>(1, m_p.nets.size() + m_p.conns.size());
    while (temperature > t_exit && r.temperatures < 400) {
      long long accepted = 0;
      int ir = std::max(1, static_cast<int>(rlim));
      for (long long m = 0; m < per_temp; ++m) {
        double d;
        if (try_move(temperature, ir, d, false)) ++accepted;
      }
      r.moves += per_temp;
      ++r.temperatures;
      double rate = static_cast<double>(accepted) / static_cast<double>(per_temp);
      rlim = std::clamp(rlim * (1.0 - 0.44 + rate), 1.0, static_cast<double>(rmax));
      if (rate > 0.96) temperature *= 0.5;
      else if (rate > 0.8) temperature *= 0.9;
      else if (rate > 0.15 || rlim > 1.0) temperature *= 0.95;
      else temperature *= 0.8;
      if (m_p.recompute_criticality && m_p.recompute_every > 0 && r.temperatures % m_p.recompute_every == 0) {
        m_p.recompute_criticality(m_bsite, m_crit);
        m_crit.resize(m_p.conns.size(), 0.0f);
        set_weights();
      }
      recompute_totals();  // also bounds floating drift of the running sums
    }
    // Greedy quench.
    for (long long m = 0; m < per_temp; ++m) {
      double d;
      try_move(0, 1, d, false);
    }
    r.moves += per_temp;
    recompute_totals();
  }
  r.ok = true;
  r.site = m_bsite;
  r.slot = m_bslot;
  r.wirelength = m_wl;
  r.timing_cost = m_tc;
  return r;
}

}  // namespace

PLACE_RESULT place_blocks(const PLACE_PROBLEM& problem)
{
  for (const PLACE_CONN& c : problem.conns) {
    int n = static_cast<int>(problem.block_class.size());
    if (c.from < 0 || c.to < 0 || c.from >= n || c.to >= n) {
      PLACE_RESULT r;
      r.error = "connection names a block that does not exist";
      return r;
    }
  }
  ANNEALER a(problem);
  return a.run();
}

}  // namespace morv_host
