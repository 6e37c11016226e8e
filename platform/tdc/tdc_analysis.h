#pragma once
// Static timing analysis over a TDB_NETLIST (no atom netlist needed).
//
// Semantics (one definition, used by every query):
//  - Clocks are the roots of the keepers' clock paths: from a register's
//    clock-input edge walk back through first fan-in edges of non-keeper
//    nodes until a keeper or a node without fan-in; that node is the clock.
//  - Launch: a register's data leaves at tco + its clock delay at TDB_MAX
//    (clock-input edge at TDB_MAX plus the largest path delay back to the
//    root); an input pin launches at 0. Capture: a register requires data by
//    requirement - tsu + its clock delay at TDB_MIN (clock path delays take
//    the largest fan-in at TDB_MIN too); an output pin by the requirement.
//  - Sub-domains per capture clock: core (same clock), inter-clock,
//    input-to-register (TSU), register-to-output (TCO) and pin-to-pin (TPD).
//    Requirements: same clock P; clocks of periods Pa -> Pb: gcd(Pa, Pb)
//    (the tightest launch-to-capture edge distance); TSU: Pcapture - input
//    delay; TCO: Plaunch - output delay; TPD: the pin-to-pin requirement.
//  - Per domain, edge slack = required - (arrival + delay) at the edge's
//    sink; raw ratio r = slack / requirement; m = min(0, least r of the
//    domain); ratio = clamp((r - m) / (1 - m)). Then g = least ratio over all
//    domains; when 0 < g < 1 every ratio becomes clamp((ratio - g)/(1 - g)).
//    Each edge is annotated with its least slack and least tightened ratio;
//    edges in no domain get 0x7fffffff and 1.0.
//  - Figure of merit (greater is better): see tdc_slack_weight and
//    TDC_ANALYSIS::compute_figure_of_merit.
//  - Combinational loops are cut (the closing edge of each loop found by a
//    depth-first walk in node-id order is ignored) with one warning.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tdb/tdb_netlist.h"

// Sub-domain types.
enum TDC_DOMAIN_TYPE : int
{
    TDC_DOMAIN_CLOCK = 0,
    TDC_DOMAIN_TSU = 1,
    TDC_DOMAIN_TCO = 2,
    TDC_DOMAIN_TPD = 3
};

struct TDC_SUB_DOMAIN_EDGE
{
    int m_edge_id;
    int m_slack;
    float m_slack_ratio;  // domain ratio before the cross-domain tightening
};

// Per-sub-domain edge data of one analysis, in the analysis' domain order.
struct TDC_SUB_DOMAIN_DATA
{
    int m_type = TDC_DOMAIN_CLOCK;
    int m_requirement = 0;
    int m_sub_domain_id = 0;    // index in the list
    int m_group_key = 0;        // capture clock index; the I/O group after the clocks
    bool m_not_core_1 = false;  // input or output domain
    bool m_not_core_2 = false;  // inter-clock domain
    int m_launch_clock = -1;    // clock index, -1 for input pins
    int m_capture_clock = -1;   // clock index, -1 for output pins
    int m_worst_slack = TDB_NO_PATH;
    std::vector<TDC_SUB_DOMAIN_EDGE> m_edges;
};

struct TDC_CLOCK_INFO
{
    int m_root_node_id = -1;
    std::string m_name;
    int m_period_ps = 0;
    int m_num_registers = 0;
};

// Slack weight of the figure of merit: a negative slack counts one for one;
// positive slack is worth less and less (0.5 per ps up to 250 ps, 0.25 up to
// 500, 0.0625 up to 2000, 1/256 beyond), so that fixing a failing path
// always outweighs adding margin to a passing one. 250 ps weigh 125, 500 ps
// 187.5, 2000 ps 281.25.
double tdc_slack_weight(int slack);

// Settings the analysis reads per run (see TDC_ACCESSORIES for the keys).
struct TDC_ANALYSIS_SETTINGS
{
    std::function<int(const std::string& clock_name)> clock_period_ps;  // required
    int input_delay_ps = 0;
    int output_delay_ps = 0;
    int tpd_requirement_ps = 0;
    // Keepers whose launched paths are not analysed (false paths from them);
    // null for none.
    std::function<bool(const TDB_NODE* keeper)> is_cut_source;
    // Extra clock arrival (ps) at a clocked keeper when it launches (launch
    // true) or captures; a later clock gives more time into the keeper and
    // less out of it. Null for none.
    std::function<int(const TDB_NODE* keeper, bool launch)> clock_offset;
};

class TDC_ANALYSIS : public TDB_NETLIST_LISTENER
{
public:
    explicit TDC_ANALYSIS(TDB_NETLIST* netlist);
    ~TDC_ANALYSIS() override;

    // Name of a clock root node (default "clock_<node id>").
    void set_clock_namer(std::function<std::string(const TDB_NODE*)> namer) { m_namer = std::move(namer); }

    // Full analysis; annotates every edge and returns the figure of merit.
    // With collect, keeps the sub-domain data until release.
    double run(const TDC_ANALYSIS_SETTINGS& settings, bool collect);

    const std::vector<TDC_SUB_DOMAIN_DATA>& get_sub_domain_data() const { return m_domains; }
    bool has_sub_domain_data() const { return m_collected; }
    void release_sub_domain_data();

    double get_figure_of_merit() const { return m_fom; }
    int get_worst_slack() const { return m_worst_slack; }  // TDB_NO_PATH when nothing is constrained
    // The clock period the worst slack is measured against: the capture
    // clock's, a launch clock's into an output, the default period's for a
    // pin-to-pin path; 0 when nothing is constrained.
    int get_worst_slack_period_ps() const { return m_worst_period_ps; }
    const std::vector<TDC_CLOCK_INFO>& get_clocks() const { return m_clocks; }
    // Worst slack of the domains captured by clock index c (TDB_NO_PATH when none).
    int get_clock_worst_slack(int c) const;
    int get_num_cut_loop_edges() const { return m_num_cut; }
    bool is_edge_cut(int edge_id) const
    {
        const int i = edge_id - m_edge_base;
        return i >= 0 && i < (int)m_cut.size() && m_cut[(size_t)i];
    }
    // Number of times the graph was levelised (tests and statistics).
    int get_num_levelisations() const { return m_num_levelisations; }
    int get_num_runs() const { return m_num_runs; }
    // True when nothing changed since the last run: no delay, register
    // timing or constraint edit, and no node or edge added or removed.
    bool is_current() const { return !m_dirty && m_run_version == m_netlist->get_structure_version(); }

    void on_delays_changed() override { m_dirty = true; }
    void on_structure_changed() override { m_dirty = true; }

private:
    void levelise();
    void find_clocks(const TDC_ANALYSIS_SETTINGS& settings);
    int clock_path_delay(const TDB_NODE* node, int which);
    int register_clock_delay(const TDB_NODE* node, int which);
    int keeper_clock(const TDB_NODE* node, int which, const TDC_ANALYSIS_SETTINGS& settings);
    int requirement(int launch, int capture, const TDC_ANALYSIS_SETTINGS& settings) const;
    double compute_figure_of_merit() const;
    int period_of(const TDC_SUB_DOMAIN_DATA& domain, const TDC_ANALYSIS_SETTINGS& settings) const;

    // Table positions of a node and an edge (their netlist's ids start at a base).
    size_t ni(const TDB_NODE* n) const { return (size_t)(n->get_id() - m_node_base); }
    size_t ei(const TDB_EDGE* e) const { return (size_t)(e->get_id() - m_edge_base); }

    TDB_NETLIST* m_netlist;
    int m_node_base;
    int m_edge_base;
    std::function<std::string(const TDB_NODE*)> m_namer;
    uint64_t m_levelised_version = ~0ull;
    std::vector<int> m_topo;  // table positions of the non-keeper nodes, sources first
    std::vector<char> m_cut;  // by edge position
    int m_num_cut = 0;
    std::vector<int> m_launch_class;   // by node position; -1 none
    std::vector<int> m_capture_class;  // by node position; -1 none
    std::vector<TDC_CLOCK_INFO> m_clocks;
    // Clock path delay by node position: few nodes lie on clock paths.
    std::unordered_map<int, int> m_clock_memo[2];
    std::unordered_set<int> m_clock_visiting;
    std::vector<TDC_SUB_DOMAIN_DATA> m_domains;
    bool m_collected = false;
    double m_fom = 0.0;
    int m_worst_slack = TDB_NO_PATH;
    int m_worst_period_ps = 0;
    int m_num_levelisations = 0;
    int m_num_runs = 0;
    bool m_dirty = true;
    uint64_t m_run_version = ~0ull;  // structure version of the last run
};
