#pragma once
// The host's timing estimator: timing of the atom netlist from a table
// timing model instead of placed and routed delays.
//
// It builds its own timing graph of the atom netlist, the same graph the
// timing analyser builds (TDB_ATOM_BUILDER), with every delay taken from the
// table model: interconnect delays from get_ic_delay of each connection,
// cell delays and register micro-timing from the model's cell and register
// look-ups. The estimation is the analyser's own analysis (TDC_ANALYSIS)
// with the analyser's settings (clock periods, I/O delays, cut paths), so
// both report the same clocks, domains, slack ratios, tightening and figure
// of merit on the same delays. The estimator never changes the analyser's
// timing netlist.
//
// Clock offsets move the clock of a register: (capture max, capture min,
// launch max, launch min), in ps, added to the clock arrival when the
// register captures data and when it launches data. An offset given for an
// output term of a clocked block that does not capture (a launch register)
// applies its capture values to the block's capture register.

#include <memory>
#include <unordered_map>
#include <vector>

#include "csu/csu_table_timing_model.h"

class TDB_NETLIST;
class TDB_NODE;
class TDB_ATOM_BUILDER;
class TDC_ANALYSIS;

// Run hooks of a real estimator; the stand-in offers none.
class NEVRA_ESTIMATOR_HOOKS;

template <typename TYPES>
class NEVRA_ESTIMATOR
{
public:
    using NETLIST = typename TYPES::NETLIST;
    using NODE = typename TYPES::NODE;
    using ITERM = typename TYPES::ITERM;
    using OTERM = typename TYPES::OTERM;

    // The model is not owned and outlives the estimator.
    explicit NEVRA_ESTIMATOR(CSU_TABLE_TIMING_MODEL<TYPES>* model);
    ~NEVRA_ESTIMATOR();
    NEVRA_ESTIMATOR(const NEVRA_ESTIMATOR&) = delete;
    NEVRA_ESTIMATOR& operator=(const NEVRA_ESTIMATOR&) = delete;

    // Builds the estimator's timing graph of netlist. The analyser's timing
    // netlist (may be null) is not used by the stand-in. Annotation mode 0
    // (results kept by the estimator) is the only mode.
    void initialize_and_sync_to_netlist(NETLIST* netlist, TDB_NETLIST* analyser_netlist, int annotation_mode);
    // Brings the graph in step with netlist: from the atoms named in
    // changed_atom_ids (changed, added or deleted) when given, else rebuilt.
    // A netlist other than the one synchronised last is always rebuilt.
    void sync_to_netlist(NETLIST* netlist, int annotation_mode,
                         const std::vector<unsigned>* changed_atom_ids = nullptr);
    // One estimation of the synchronised graph; hooks must be null.
    void run_timing_estimation(NETLIST* netlist, NEVRA_ESTIMATOR_HOOKS* hooks = nullptr);

    // Of the last estimation; 0x7fffffff and 1.0 for a connection on no
    // constrained path (or before any estimation).
    int get_slack_of_connection(const ITERM* iterm) const;
    float get_slack_ratio_of_connection(const ITERM* iterm) const;
    // Interconnect delay of the connection into iterm (0 when it has none).
    int get_delay_of_connection(const ITERM* iterm) const;
    // Greater is better, truncated toward zero; 0x7fffffff before any estimation.
    int get_figure_of_merit() const;
    // One line per connection and the figure of merit; the default file name
    // is "nevra_timing_data.txt". False when the file cannot be written.
    bool dump_timing_data(const char* file_name) const;

    void add_clock_offset_to_register(const OTERM* oterm, int capture_max, int capture_min, int launch_max,
                                      int launch_min);
    void set_clock_offset_to_register(const OTERM* oterm, int capture_max, int capture_min, int launch_max,
                                      int launch_min);
    void clear_all_clock_offsets();
    // The four values the term's register was given, null when none; how
    // many terms have offsets (tests).
    const std::vector<int>* get_clock_offsets(const OTERM* oterm) const;
    size_t get_num_clock_offsets() const { return m_clock_offsets.size(); }

    // The estimator's own timing graph (tests, benchmarks); null before the first sync.
    const TDB_NETLIST* get_timing_graph() const { return m_tdb.get(); }
    bool has_estimation() const { return m_has_estimation; }

private:
    class DELAYS;
    struct OFFSETS
    {
        int capture = 0;
        int launch = 0;
    };
    void rebuild(NETLIST* netlist);
    const TDB_NODE* capture_keeper_of(const TDB_NODE* keeper) const;

    CSU_TABLE_TIMING_MODEL<TYPES>* m_model;
    std::unique_ptr<DELAYS> m_delays;
    NETLIST* m_netlist = nullptr;
    std::unique_ptr<TDB_NETLIST> m_tdb;
    std::unique_ptr<TDB_ATOM_BUILDER> m_builder;
    std::unique_ptr<TDC_ANALYSIS> m_analysis;
    // Offsets as given, by the term's register; the four values are kept,
    // the analysis uses the maximum-delay ones.
    std::unordered_map<const OTERM*, std::vector<int>> m_clock_offsets;
    bool m_has_estimation = false;
    double m_figure_of_merit = 0.0;
};

extern template class NEVRA_ESTIMATOR<CSU_ATOM_NETLIST_TYPES>;
