#include "tdc/tdc_analysis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "msg/msg.h"

#define TDC_ASSERT(cond) MSG_ASSERT(cond, "TDC")

namespace {

constexpr int NO_ARRIVAL = INT_MIN;
constexpr int NO_REQUIRED = INT_MAX;
constexpr int NOT_COMPUTED = INT_MIN + 1;

inline int sat_add(int a, int b)
{
    long long s = (long long)a + b;
    if (s > INT_MAX - 1) return INT_MAX - 1;
    if (s < INT_MIN + 2) return INT_MIN + 2;
    return (int)s;
}

float clamp01(double v)
{
    if (!(v < 1.0)) return 1.0f;  // NaN too
    if (!(v > 0.0)) return 0.0f;
    return (float)v;
}

}  // namespace

double tdc_slack_weight(int s)
{
    if (s < 0) return s;
    double w = 0.5 * std::min(s, 250);
    if (s > 250) w += 0.25 * std::min(s - 250, 250);
    if (s > 500) w += 0.0625 * std::min(s - 500, 1500);
    if (s > 2000) w += 0.00390625 * (s - 2000.0);
    return w;
}

TDC_ANALYSIS::TDC_ANALYSIS(TDB_NETLIST* netlist)
    : m_netlist(netlist), m_node_base(netlist ? netlist->get_node_id_base() : 0),
      m_edge_base(netlist ? netlist->get_edge_id_base() : 0)
{
    TDC_ASSERT(netlist);
    netlist->set_listener(this);
}

TDC_ANALYSIS::~TDC_ANALYSIS()
{
    m_netlist->set_listener(nullptr);
}

void TDC_ANALYSIS::release_sub_domain_data()
{
    m_collected = false;
}

int TDC_ANALYSIS::get_clock_worst_slack(int c) const
{
    int w = TDB_NO_PATH;
    for (const TDC_SUB_DOMAIN_DATA& d : m_domains)
        if (d.m_capture_clock == c && d.m_type == TDC_DOMAIN_CLOCK) w = std::min(w, d.m_worst_slack);
    return w;
}

// Depth-first walk over the data edges between non-keeper nodes, roots in
// node-id order; the reverse post-order is a topological order. An edge that
// closes a cycle is cut.
void TDC_ANALYSIS::levelise()
{
    const std::vector<TDB_NODE*>& nodes = m_netlist->node_table();
    const std::vector<TDB_EDGE*>& edges = m_netlist->edge_table();
    size_t nn = nodes.size();
    m_cut.assign(edges.size(), 0);
    m_num_cut = 0;
    std::vector<char> state(nn, 0);  // 0 new, 1 on stack, 2 done
    std::vector<int> post;
    post.reserve(nn);
    std::vector<std::pair<int, int>> stack;  // node id, next fan-out position
    int first_cut_node = -1;
    for (size_t root = 0; root < nn; ++root) {
        const TDB_NODE* r = nodes[root];
        if (!r || r->is_keeper() || state[root]) continue;
        stack.emplace_back((int)root, 0);
        state[root] = 1;
        while (!stack.empty()) {
            auto& [id, pos] = stack.back();
            const TDB_NODE* n = nodes[id];
            if (pos < n->get_num_of_fanout()) {
                TDB_EDGE* e = n->fanout()[pos++];
                const TDB_NODE* d = e->get_dst_node();
                if (d->is_keeper()) continue;
                int did = (int)ni(d);
                if (state[did] == 1) {
                    m_cut[ei(e)] = 1;
                    ++m_num_cut;
                    if (first_cut_node < 0) first_cut_node = did;
                } else if (state[did] == 0) {
                    state[did] = 1;
                    stack.emplace_back(did, 0);
                }
            } else {
                state[id] = 2;
                post.push_back(id);
                stack.pop_back();
            }
        }
    }
    m_topo.assign(post.rbegin(), post.rend());
    if (m_num_cut > 0) {
        MSG_W warning;
        warning.fill_args(
            "Timing analysis found combinational loops and ignored %1!d! timing edge(s) to cut them; the first "
            "loop runs through timing node %2!d! (atom %3!d!)/WTDC_COMBINATIONAL_LOOP",
            m_num_cut, m_node_base + first_cut_node, nodes[first_cut_node]->get_atom_id());
        warning.post();
    }
    ++m_num_levelisations;
    m_levelised_version = m_netlist->get_structure_version();
}

void TDC_ANALYSIS::find_clocks(const TDC_ANALYSIS_SETTINGS& settings)
{
    const std::vector<TDB_NODE*>& nodes = m_netlist->node_table();
    size_t nn = nodes.size();
    m_clocks.clear();
    m_launch_class.assign(nn, -1);
    m_capture_class.assign(nn, -1);
    std::unordered_map<int, int> root_clock;  // clock index by root position
    for (size_t i = 0; i < nn; ++i) {
        const TDB_NODE* n = nodes[i];
        if (!n || !n->is_keeper()) continue;
        if (n->get_num_of_clkin() == 0) continue;
        // Walk back to the root of the clock path (bounded by the node count
        // so that a loop in the clock path cannot hang the walk).
        const TDB_NODE* r = n->clkin()[0]->get_src_node();
        for (size_t steps = 0; steps < nn && !r->is_keeper(); ++steps) {
            const TDB_EDGE* f = nullptr;
            for (const TDB_EDGE* e : r->fanin())
                if (!m_cut[ei(e)]) {
                    f = e;
                    break;
                }
            if (!f) break;
            r = f->get_src_node();
        }
        int& c = root_clock.try_emplace((int)ni(r), -1).first->second;
        if (c < 0) {
            c = (int)m_clocks.size();
            TDC_CLOCK_INFO info;
            info.m_root_node_id = r->get_id();
            info.m_name = m_namer ? m_namer(r) : "clock_" + std::to_string(r->get_id());
            m_clocks.push_back(info);
        }
        m_clocks[c].m_num_registers++;
        m_launch_class[i] = m_capture_class[i] = c;
    }
    // Clocks in a stable order: by root node id.
    std::vector<int> order(m_clocks.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return m_clocks[a].m_root_node_id < m_clocks[b].m_root_node_id; });
    std::vector<int> rank(order.size());
    std::vector<TDC_CLOCK_INFO> sorted;
    for (size_t k = 0; k < order.size(); ++k) {
        rank[order[k]] = (int)k;
        sorted.push_back(m_clocks[order[k]]);
    }
    m_clocks.swap(sorted);
    int io = (int)m_clocks.size();
    for (size_t i = 0; i < nn; ++i) {
        if (!nodes[i] || !nodes[i]->is_keeper()) continue;
        const TDB_NODE* n = nodes[i];
        if (m_launch_class[i] >= 0) {
            m_launch_class[i] = m_capture_class[i] = rank[m_launch_class[i]];
        } else if (n->is_input_pin()) {
            m_launch_class[i] = io;
        } else if (n->is_output_pin()) {
            m_capture_class[i] = io;
        } else {
            // A keeper without a clock acts as an unclocked pin both ways.
            m_launch_class[i] = io;
            m_capture_class[i] = io;
        }
        if (settings.is_cut_source && settings.is_cut_source(n)) m_launch_class[i] = -1;
    }
    for (TDC_CLOCK_INFO& c : m_clocks) c.m_period_ps = std::max(1, settings.clock_period_ps(c.m_name));
}

int TDC_ANALYSIS::clock_path_delay(const TDB_NODE* node, int which)
{
    if (node->is_keeper() || node->get_num_of_fanin() == 0) return 0;
    // Element references stay valid while the recursion adds entries.
    int& memo = m_clock_memo[which].try_emplace((int)ni(node), NOT_COMPUTED).first->second;
    if (memo != NOT_COMPUTED) return memo;
    if (!m_clock_visiting.insert((int)ni(node)).second) return 0;  // loop in the clock path: already reported
    int best = 0;  // the largest over the fan-ins, starting from 0, for TDB_MIN as well
    for (const TDB_EDGE* f : node->fanin()) {
        if (m_cut[ei(f)]) continue;
        best = std::max(best, sat_add(f->get_clock_delay(which), clock_path_delay(f->get_src_node(), which)));
    }
    m_clock_visiting.erase((int)ni(node));
    memo = best;
    return best;
}

int TDC_ANALYSIS::register_clock_delay(const TDB_NODE* node, int which)
{
    if (node->get_num_of_clkin() == 0) return 0;
    const TDB_EDGE* c = node->clkin()[0];
    return sat_add(c->get_clock_delay(which), clock_path_delay(c->get_src_node(), which));
}

// Launch (TDB_MAX) or capture (TDB_MIN) clock arrival of a clocked keeper.
int TDC_ANALYSIS::keeper_clock(const TDB_NODE* node, int which, const TDC_ANALYSIS_SETTINGS& settings)
{
    int arrival = register_clock_delay(node, which);
    if (settings.clock_offset) arrival = sat_add(arrival, settings.clock_offset(node, which == TDB_MAX));
    return arrival;
}

int TDC_ANALYSIS::requirement(int launch, int capture, const TDC_ANALYSIS_SETTINGS& s) const
{
    int io = (int)m_clocks.size();
    if (launch < io && capture < io) return std::gcd(m_clocks[launch].m_period_ps, m_clocks[capture].m_period_ps);
    if (launch == io && capture < io) return m_clocks[capture].m_period_ps - s.input_delay_ps;
    if (launch < io && capture == io) return m_clocks[launch].m_period_ps - s.output_delay_ps;
    return s.tpd_requirement_ps;
}

double TDC_ANALYSIS::run(const TDC_ANALYSIS_SETTINGS& settings, bool collect)
{
    TDC_ASSERT(settings.clock_period_ps);
    ++m_num_runs;
    if (m_levelised_version != m_netlist->get_structure_version()) levelise();
    find_clocks(settings);
    const std::vector<TDB_NODE*>& nodes = m_netlist->node_table();
    const std::vector<TDB_EDGE*>& edges = m_netlist->edge_table();
    size_t nn = nodes.size();
    int nclk = (int)m_clocks.size();
    int nclass = nclk + 1;  // clocks, then the I/O class
    for (int w = 0; w < 2; ++w) m_clock_memo[w].clear();
    m_clock_visiting.clear();

    // Launch and capture bases of the keepers.
    std::vector<int> launch_base(nn, NO_ARRIVAL), capture_base(nn, NO_REQUIRED);
    std::vector<char> launch_used(nclass, 0), capture_used(nclass, 0);
    for (size_t i = 0; i < nn; ++i) {
        const TDB_NODE* n = nodes[i];
        if (!n || !n->is_keeper()) continue;
        if (m_launch_class[i] >= 0 && n->get_num_of_fanout() > 0) {
            launch_base[i] = m_launch_class[i] < nclk ? sat_add(n->get_tco(), keeper_clock(n, TDB_MAX, settings)) : 0;
            launch_used[m_launch_class[i]] = 1;
        }
        if (m_capture_class[i] >= 0 && n->get_num_of_fanin() > 0) {
            capture_base[i] =
                m_capture_class[i] < nclk ? sat_add(-n->get_tsu(), keeper_clock(n, TDB_MIN, settings)) : 0;
            capture_used[m_capture_class[i]] = 1;
        }
    }

    // Arrival per launch class at the outputs of non-keeper nodes, and
    // requirement-free required times per capture class; arrays by class so
    // that each pass walks the graph once.
    std::vector<int> launches, captures;
    for (int c = 0; c < nclass; ++c) {
        if (launch_used[c]) launches.push_back(c);
        if (capture_used[c]) captures.push_back(c);
    }
    std::vector<std::vector<int>> arrival(launches.size()), required(captures.size());
    auto src_arrival = [&](size_t li, const TDB_EDGE* e) {
        const TDB_NODE* u = e->get_src_node();
        size_t uid = ni(u);
        if (u->is_keeper()) return m_launch_class[uid] == launches[li] ? launch_base[uid] : NO_ARRIVAL;
        return arrival[li][uid];
    };
    auto sink_required = [&](size_t ci, const TDB_EDGE* e) {
        const TDB_NODE* v = e->get_dst_node();
        size_t vid = ni(v);
        if (v->is_keeper()) return m_capture_class[vid] == captures[ci] ? capture_base[vid] : NO_REQUIRED;
        return required[ci][vid];
    };
    for (size_t li = 0; li < launches.size(); ++li) {
        std::vector<int>& arr = arrival[li];
        arr.assign(nn, NO_ARRIVAL);
        for (int id : m_topo) {
            int best = NO_ARRIVAL;
            for (const TDB_EDGE* e : nodes[id]->fanin()) {
                if (m_cut[ei(e)]) continue;
                int a = src_arrival(li, e);
                if (a != NO_ARRIVAL) best = std::max(best, sat_add(a, e->get_data_delay()));
            }
            arr[id] = best;
        }
    }
    for (size_t ci = 0; ci < captures.size(); ++ci) {
        std::vector<int>& req = required[ci];
        req.assign(nn, NO_REQUIRED);
        for (auto it = m_topo.rbegin(); it != m_topo.rend(); ++it) {
            int best = NO_REQUIRED;
            for (const TDB_EDGE* e : nodes[*it]->fanout()) {
                if (m_cut[ei(e)] || e->is_clock()) continue;
                int r = sink_required(ci, e);
                if (r != NO_REQUIRED) best = std::min(best, sat_add(r, -e->get_data_delay()));
            }
            req[*it] = best;
        }
    }

    // Domains in the published order: per capture clock the core domain,
    // the other launch clocks, the inputs; then the outputs group.
    m_domains.clear();
    std::vector<int> domain_of((size_t)nclass * nclass, -1);
    for (size_t ci = 0; ci < captures.size(); ++ci) {
        int c = captures[ci];
        std::vector<int> order;
        if (c < nclk && launch_used[c]) order.push_back(c);
        for (int a : launches)
            if (a != c || c == nclk) order.push_back(a);
        for (int a : order) {
            TDC_SUB_DOMAIN_DATA d;
            d.m_launch_clock = a < nclk ? a : -1;
            d.m_capture_clock = c < nclk ? c : -1;
            d.m_type = a < nclk && c < nclk ? TDC_DOMAIN_CLOCK
                       : c < nclk           ? TDC_DOMAIN_TSU
                       : a < nclk           ? TDC_DOMAIN_TCO
                                            : TDC_DOMAIN_TPD;
            d.m_not_core_1 = d.m_type != TDC_DOMAIN_CLOCK;
            d.m_not_core_2 = d.m_type == TDC_DOMAIN_CLOCK && a != c;
            d.m_group_key = c;
            d.m_requirement = requirement(a, c, settings);
            domain_of[(size_t)a * nclass + c] = (int)m_domains.size();
            m_domains.push_back(std::move(d));
        }
    }

    // Edge slacks per domain, visited twice: once for each domain's worst
    // slack and least raw ratio, once to annotate. Keeping every (edge,
    // domain) slack in between would take 12 bytes a pair; only an analysis
    // that collects the sub-domain data keeps them.
    std::vector<int> arr_at(launches.size()), req_at(captures.size()), requirements;
    for (const TDC_SUB_DOMAIN_DATA& d : m_domains) requirements.push_back(d.m_requirement);
    auto visit_slacks = [&](auto&& f) {
        for (TDB_EDGE* e : edges) {
            if (!e || e->is_clock() || m_cut[ei(e)]) continue;
            int d = e->get_data_delay();
            bool any_a = false, any_c = false;
            for (size_t li = 0; li < launches.size(); ++li) {
                arr_at[li] = src_arrival(li, e);
                any_a |= arr_at[li] != NO_ARRIVAL;
            }
            if (!any_a) continue;
            for (size_t ci = 0; ci < captures.size(); ++ci) {
                req_at[ci] = sink_required(ci, e);
                any_c |= req_at[ci] != NO_REQUIRED;
            }
            if (!any_c) continue;
            for (size_t li = 0; li < launches.size(); ++li) {
                if (arr_at[li] == NO_ARRIVAL) continue;
                for (size_t ci = 0; ci < captures.size(); ++ci) {
                    if (req_at[ci] == NO_REQUIRED) continue;
                    const int dom = domain_of[(size_t)launches[li] * nclass + captures[ci]];
                    f(e, dom, sat_add(sat_add(requirements[(size_t)dom], req_at[ci]), -sat_add(arr_at[li], d)));
                }
            }
        }
    };
    std::vector<double> rmin(m_domains.size(), 0.0);
    std::vector<size_t> count(m_domains.size(), 0);
    visit_slacks([&](const TDB_EDGE* e, int dom, int slack) {
        TDC_SUB_DOMAIN_DATA& d = m_domains[dom];
        rmin[dom] = std::min(rmin[dom], slack / (double)std::max(d.m_requirement, 1));
        d.m_worst_slack = std::min(d.m_worst_slack, slack);
        ++count[dom];
        if (collect) d.m_edges.push_back({e->get_id(), slack, 0.0f});
    });

    // Drop empty domains and renumber; then ratios. The ratio grows with the
    // slack, so a domain's least ratio is the one of its worst slack.
    std::vector<TDC_SUB_DOMAIN_DATA> kept;
    std::vector<double> kept_rmin;
    std::vector<int> renumbered(m_domains.size(), -1);
    for (size_t i = 0; i < m_domains.size(); ++i)
        if (count[i] > 0) {
            renumbered[i] = m_domains[i].m_sub_domain_id = (int)kept.size();
            kept.push_back(std::move(m_domains[i]));
            kept_rmin.push_back(rmin[i]);
        }
    m_domains.swap(kept);
    double g = 1.0;
    m_worst_slack = TDB_NO_PATH;
    for (TDC_SUB_DOMAIN_DATA& d : m_domains) {
        const double div = std::max(d.m_requirement, 1), r = kept_rmin[(size_t)d.m_sub_domain_id];
        m_worst_slack = std::min(m_worst_slack, d.m_worst_slack);
        for (TDC_SUB_DOMAIN_EDGE& x : d.m_edges) x.m_slack_ratio = clamp01((x.m_slack / div - r) / (1.0 - r));
        g = std::min(g, (double)clamp01((d.m_worst_slack / div - r) / (1.0 - r)));
    }
    bool tighten = g > 0.0 && g < 1.0;
    m_worst_period_ps = 0;
    for (const TDC_SUB_DOMAIN_DATA& d : m_domains)
        if (d.m_worst_slack == m_worst_slack) {
            m_worst_period_ps = period_of(d, settings);
            break;
        }

    // Annotation: least slack and least tightened ratio over the domains.
    for (TDB_EDGE* e : edges)
        if (e) {
            e->set_slack(TDB_NO_PATH);
            e->set_slack_ratio(1.0f);
        }
    visit_slacks([&](TDB_EDGE* e, int dom, int slack) {
        const int k = renumbered[(size_t)dom];
        const double div = std::max(m_domains[(size_t)k].m_requirement, 1), r = kept_rmin[(size_t)k];
        const float ratio = clamp01((slack / div - r) / (1.0 - r));
        const float t = tighten ? clamp01((ratio - g) / (1.0 - g)) : ratio;
        e->set_slack(std::min(e->get_slack(), slack));
        e->set_slack_ratio(std::min(e->get_slack_ratio(), t));
    });

    m_fom = compute_figure_of_merit();
    m_collected = collect;
    m_dirty = false;
    m_run_version = m_netlist->get_structure_version();
    return m_fom;
}

int TDC_ANALYSIS::period_of(const TDC_SUB_DOMAIN_DATA& d, const TDC_ANALYSIS_SETTINGS& s) const
{
    if (d.m_type == TDC_DOMAIN_CLOCK || d.m_type == TDC_DOMAIN_TSU)
        return m_clocks[(size_t)d.m_capture_clock].m_period_ps;
    if (d.m_type == TDC_DOMAIN_TCO) return m_clocks[(size_t)d.m_launch_clock].m_period_ps;
    return s.tpd_requirement_ps + s.input_delay_ps + s.output_delay_ps;
}

// Figure of merit: per clock group (capture clock) the weight of the worst
// slack of its clock domains, summed over the groups; plus, for each of the
// TSU, TCO and TPD types, the least weight among its domains (a type without
// domains adds nothing). The weight grows with the slack, so the least
// weight is the weight of the worst slack. No constrained path at all gives 0.
double TDC_ANALYSIS::compute_figure_of_merit() const
{
    // A kept domain has edges, and edge slacks stay below TDB_NO_PATH.
    std::vector<int> group_worst(m_clocks.size() + 1, TDB_NO_PATH);
    int io_worst[4] = {TDB_NO_PATH, TDB_NO_PATH, TDB_NO_PATH, TDB_NO_PATH};
    for (const TDC_SUB_DOMAIN_DATA& d : m_domains) {
        int& w = d.m_type == TDC_DOMAIN_CLOCK ? group_worst[d.m_group_key] : io_worst[d.m_type];
        w = std::min(w, d.m_worst_slack);
    }
    double fom = 0.0;
    for (int g : group_worst)
        if (g != TDB_NO_PATH) fom += tdc_slack_weight(g);
    for (int t = TDC_DOMAIN_TSU; t <= TDC_DOMAIN_TPD; ++t)
        if (io_worst[t] != TDB_NO_PATH) fom += tdc_slack_weight(io_worst[t]);
    return fom;
}

#undef TDC_ASSERT
