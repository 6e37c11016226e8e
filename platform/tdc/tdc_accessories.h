#pragma once
// The host's timing analyser: the current timing netlist of the atom
// netlist, its refresh from the changed atoms, the analysis ("TAN") and the
// timing-utility handle.
//
// Settings (cfg service, read at each analysis):
//   tdc_clock_period_ps              default clock period, ps (10000)
//   tdc_clock_period_ps.<clock name> period of one clock; the clock's name is
//                                    the name of the output term at its root
//                                    (the clock net), else its atom's name
//   tdc_input_delay_ps               input delay of input pins (0)
//   tdc_output_delay_ps              output delay of output pins (0)
//   tdc_tpd_requirement_ps           pin-to-pin requirement (the default
//                                    period minus both I/O delays)
//   tdc_early_timing                 timing before the fitter's own early
//                                    point (on)
// Setters below take precedence over the settings (command line).
//
// Timing assignments: named values made to an instance name (the host keeps
// assignments on names, so a register and its output term named alike share
// them). The analysis honours TDC_ASSIGNMENT_CUT_FROM ("ON" or "1"): paths
// launched from the keeper carrying the name are not analysed (a false path
// from it); the other keys are only kept, copied and compared.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tdb/tdb_atom_builder.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_analysis.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class HDB_INSTANCE_NAME;

using TDC_TIMING_ASSIGNMENTS = std::map<std::string, std::string>;
inline constexpr const char* TDC_ASSIGNMENT_CUT_FROM = "CUT_FROM";

// Analysis parameters as the host hands them out (printed and adjusted by
// the caller; the stand-in analysis does not depend on them).
struct TAN_PARAMETERS
{
    int m_i1 = 0, m_i2 = 0;
    float m_f1 = 0.0f, m_f2 = 0.0f;
    int m_i3 = 0, m_i4 = 0;
    float m_f3 = 0.0f, m_f4 = 0.0f;
    int m_i5 = 0;
    bool m_b1 = false, m_b2 = false, m_b3 = true, m_b4 = false, m_b5 = true, m_b6 = false;
    const char* m_s = nullptr;  // absent
};

struct TAN_RESULT
{
    double m_figure_of_merit = 0.0;
    int m_worst_slack = TDB_NO_PATH;
};

// Name of the clock whose root is the timing node root: the name of the
// output term there (an input pin's: the term its internal edge reaches),
// else its atom's name, else "clock_<atom id>".
std::string tdc_clock_name(const TDB_NODE* root, const CDB_ATOM_NETLIST* atoms);

// Timing-utility handle: slack queries by atom input, legacy analysis. The
// slack queries answer from a current analysis: when the timing netlist or
// its delays changed since the last one, they analyse first.
class TDC_UTILITY
{
public:
    explicit TDC_UTILITY(class TDC_ACCESSORIES* owner) : m_owner(owner) {}
    // Runs the analysis; true when a timing netlist exists.
    bool run_legacy_analysis(bool annotate);
    // Worst slack of the last analysis (0x7fffffff when nothing is constrained).
    int get_legacy_figure_of_merit(bool force_legacy) const;
    // Least slack / slack ratio of the edges standing for the atom's input
    // of that port type and index; 0x7fffffff and 1.0 when none.
    int get_slack(const CDB_ATOM_NODE* node, int port_type, int port_index) const;
    double get_slack_ratio(const CDB_ATOM_NODE* node, int port_type, int port_index) const;
    // The same read from the edges as they stand, without analysing first:
    // what the last writer of the annotations (an analysis, or an estimator
    // that annotated since) left there.
    int get_annotated_slack(const CDB_ATOM_NODE* node, int port_type, int port_index) const;
    double get_annotated_slack_ratio(const CDB_ATOM_NODE* node, int port_type, int port_index) const;
    // The least slack annotated on any edge: the worst slack as the last
    // writer of the annotations found it (0x7fffffff when none).
    int get_annotated_worst_slack() const;
    // True once an analysis of the current timing netlist has run.
    bool has_analysis() const;
    // The assignments of from's name replace those of to's name (to ends
    // with none when from has none). False, with nothing changed, when
    // either term or name is null or has no name.
    bool copy_oterm_timing_assignment(const CDB_ATOM_OTERM* from, const CDB_ATOM_OTERM* to);
    bool copy_oterm_timing_assignment(const HDB_INSTANCE_NAME* from, const HDB_INSTANCE_NAME* to);

private:
    TDC_ACCESSORIES* m_owner;
};

class TDC_ACCESSORIES
{
public:
    TDC_ACCESSORIES();
    ~TDC_ACCESSORIES();

    // ---- host side
    // The atom netlist to analyse (not owned); a change discards the timing netlist.
    void set_atom_netlist(CDB_ATOM_NETLIST* atoms);
    CDB_ATOM_NETLIST* get_atom_netlist() const { return m_atoms; }
    // Replaces the pending change set (atom ids changed, added or deleted).
    void set_taint_change_set(const std::vector<unsigned>& atom_ids);
    const std::vector<unsigned>& get_taint_change_set() const { return m_taint; }
    void set_full_taint() { m_full_taint = true; }
    // The next build starts from scratch; its ids continue above every id
    // of the discarded netlist, so that no id is reused in a run.
    void discard_timing_netlist();
    // Builds the timing netlist when there is none or after a full taint,
    // else refreshes it from the change set; then clears the taints.
    TDB_NETLIST* build_timing_netlist();
    // After placement: every interconnect delay from the locations.
    void refresh_interconnect_delays();
    // The same for the edges at these atoms only (the atoms that moved).
    void refresh_interconnect_delays(const std::vector<unsigned>& atom_ids);
    TDC_UTILITY* get_tdc_utility() { return &m_utility; }

    // ---- queries of physical synthesis
    TDB_NETLIST* get_tdb_netlist() const { return m_tdb.get(); }
    bool is_estimation_supported() const { return true; }
    // Whether timing is offered before the fitter's own early point; the
    // setter wins over the setting tdc_early_timing (default on).
    bool is_early_timing_enabled() const;
    void set_early_timing_enabled(bool on) { m_early_timing = on ? 1 : 0; }
    bool is_analysis_running() const { return m_running; }
    // Tests: what the query answers outside an analysis.
    void set_analysis_running(bool running) { m_running = running; }
    TAN_PARAMETERS* get_tan_parameters() { return &m_params; }
    // Runs the analysis when a timing netlist exists and the last analysis
    // no longer describes it; true when the annotations are current.
    bool ensure_current_analysis();
    // Analyses the current timing netlist (built first when missing),
    // annotates every edge and hands out the timed edges
    // (TDB_NETLIST::get_vec_of_edges); obj is ignored.
    TAN_RESULT run_tan(void* obj, const TAN_PARAMETERS& params, bool annotate);
    TAN_RESULT run_tan(const TAN_PARAMETERS& params, bool annotate) { return run_tan(nullptr, params, annotate); }
    // The next analyses keep their per-sub-domain edge data.
    void set_collect_sub_domain_data(bool on) { m_collect = on; }
    bool get_collect_sub_domain_data() const { return m_collect; }
    // Null when the last analysis did not collect or the data was released.
    const std::vector<TDC_SUB_DOMAIN_DATA>* get_sub_domain_data() const;
    void release_sub_domain_data();

    // ---- timing assignments
    // An empty value removes the key; a name left without keys has none.
    void set_timing_assignment(const std::string& target, const std::string& key, const std::string& value);
    // Null when the name (or the term's name) carries none.
    const TDC_TIMING_ASSIGNMENTS* get_timing_assignments(const std::string& target) const;
    const TDC_TIMING_ASSIGNMENTS* get_timing_assignments(const CDB_ATOM_OTERM* oterm) const;
    // The name assignments of a term are kept under: its own instance name,
    // else its node's; empty when neither is named.
    static std::string assignment_target(const CDB_ATOM_OTERM* oterm);
    bool copy_timing_assignments(const std::string& from, const std::string& to);
    // Equivalent for timing: the same term, the same name, or names carrying
    // equal assignments (none counts as equal to none).
    bool are_oterms_timing_equivalent(const CDB_ATOM_OTERM* a, const CDB_ATOM_OTERM* b) const;
    void clear_timing_assignments();

    // ---- settings
    // A changed period makes the last analysis stale.
    void set_clock_period_ps(const std::string& clock_name, int ps);
    void set_default_clock_period_ps(int ps);
    void clear_clock_periods();
    int get_clock_period_ps(const std::string& clock_name) const;
    TDC_ANALYSIS_SETTINGS get_settings() const;

    TDC_ANALYSIS* get_analysis() { return m_analysis.get(); }
    double get_figure_of_merit() const { return m_fom; }
    int get_num_full_builds() const { return m_num_full_builds; }
    int get_num_refreshes() const { return m_num_refreshes; }
    // Timing analyses run by these accessories (every run_tan that analysed).
    long get_num_analyses() const { return m_num_analyses; }

private:
    // The setter's default period, else the setting (not yet checked for a
    // usable value: the pin-to-pin requirement takes it as it is).
    int default_period_setting() const;
    bool is_cut_source(const TDB_NODE* keeper) const;
    void assignment_changed(const std::string& target, bool was_cut);
    bool is_target_cut(const std::string& target) const;

    CDB_ATOM_NETLIST* m_atoms = nullptr;
    std::unique_ptr<TDB_NETLIST> m_tdb;
    std::unique_ptr<TDC_ANALYSIS> m_analysis;
    std::unique_ptr<TDB_ATOM_BUILDER> m_builder;
    std::vector<unsigned> m_taint;
    bool m_full_taint = false;
    bool m_running = false;
    bool m_collect = false;
    TAN_PARAMETERS m_params;
    TDC_UTILITY m_utility{this};
    std::map<std::string, int> m_periods;
    int m_default_period = 0;  // 0: from the settings
    double m_fom = 0.0;
    int m_num_full_builds = 0;
    int m_num_refreshes = 0;
    long m_num_analyses = 0;
    int m_next_node_id = 0;   // id bounds of discarded netlists
    int m_early_timing = -1;  // -1: from the setting
    std::map<std::string, TDC_TIMING_ASSIGNMENTS> m_assignments;
    int m_num_cut_from = 0;  // names whose CUT_FROM is on
    int m_next_edge_id = 0;
};

TDC_ACCESSORIES* tdc_get_accessories();
// Drops the process-wide accessories (tests; a new compile).
void tdc_reset_accessories();
