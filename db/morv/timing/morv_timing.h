#pragma once

// The run's timing front end. The facade creates it first among its
// services; it hands out slacks, slack ratios and the figure of merit and
// keeps the host's timing netlist in step with the atom netlist.

#include <map>
#include <set>
#include <vector>

class MORV_API;
class MORV_ENV;
class TDC_UTILITY;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;

enum e_morv_timing_mode : int
{
    MORV_TIMING_MODE_DEFAULT = -1,
    MORV_TIMING_MODE_TDC = 0,
    MORV_TIMING_MODE_NEVRA = 1
};

class MORV_TIMING
{
public:
    static constexpr int s_NO_VALID_FOM = 0x7fffffff;

    explicit MORV_TIMING(MORV_API* fsyn_api);
    ~MORV_TIMING();
    MORV_TIMING(const MORV_TIMING&) = delete;
    MORV_TIMING& operator=(const MORV_TIMING&) = delete;

    void init_tdc_timing();
    bool set_timing_mode(int mode);
    int get_timing_mode() const { return m_timing_mode; }
    bool sync_timing_netlist(bool incremental, bool refresh);
    void acquire_tdc_utility();
    void perform_timing_analysis();

    // Slack ratio of the connection into iterm, in [0, 1]; smaller is more critical.
    double get_slack_ratio(CDB_ATOM_ITERM* iterm);
    // Greater is better; s_NO_VALID_FOM without valid timing data.
    int get_figure_of_merit(bool force_legacy);

    void mark_node_changed(CDB_ATOM_NODE* node, bool deleted);
    void mark_iterm_changed(CDB_ATOM_ITERM* iterm, bool disconnected);
    bool is_node_changed(int node_id) const { return m_changed_nodes.count(node_id) != 0; }

    // Attached and replaced by the host through MORV_ENV::build_timing_netlist.
    void set_tdc_utility(TDC_UTILITY* utility) { m_tdc_utility = utility; }
    TDC_UTILITY* get_tdc_utility() const { return m_tdc_utility; }

    void set_full_recompute(bool on) { m_full_recompute = on; }
    bool is_full_recompute() const { return m_full_recompute; }
    void set_mode_switched(bool on) { m_mode_switched = on; }
    bool is_mode_switched() const { return m_mode_switched; }
    void set_icp_ran(bool on) { m_icp_ran = on; }
    bool did_icp_run() const { return m_icp_ran; }
    bool is_itest_enabled() const { return m_itest_enabled; }
    bool is_using_timing_snapshot() const { return m_use_timing_snapshot; }

    // Per-edge delay adjustment factors (xICP mode) and the copies saved with snapshots.
    typedef std::map<std::pair<int, int>, double> ADJUSTMENT_FACTORS;
    ADJUSTMENT_FACTORS& get_adjustment_factors() { return m_adjustment_factors; }
    std::vector<ADJUSTMENT_FACTORS>& get_saved_adjustment_factors() { return m_saved_adjustment_factors; }

private:
    MORV_API* m_fsyn_api;
    MORV_ENV* m_morv_env;
    TDC_UTILITY* m_tdc_utility = nullptr;
    int m_timing_mode = MORV_TIMING_MODE_TDC;
    int m_default_timing_mode = MORV_TIMING_MODE_TDC;
    bool m_full_recompute = false;
    bool m_mode_switched = false;
    bool m_icp_ran = false;
    bool m_itest_enabled = false;
    bool m_itest_on = false;
    bool m_refresh_mark_a = false;
    bool m_refresh_mark_b = false;
    bool m_use_timing_snapshot = false;
    bool m_fom_from_env = false;
    std::vector<unsigned> m_taint_change_set;
    std::set<int> m_changed_nodes;
    std::set<std::pair<int, int>> m_changed_edges;
    ADJUSTMENT_FACTORS m_adjustment_factors;
    std::vector<ADJUSTMENT_FACTORS> m_saved_adjustment_factors;
};
