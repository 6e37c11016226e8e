#pragma once

// Fanout resplitting. Duplication leaves copies of a LUT or register that
// share the original's sinks; a copy only shortens wires once the sinks near
// it read it. The first pass hands every sink of a critical group of copies
// to the copy nearest to it; the second divides the sinks of copies that
// share a LAB between two of them by a small slack cost model.
//
// Files: the object, the cutoff, the reconnection and the inter-LAB pass
// (morv_resplit.cpp), the intra-LAB pass and its cost model
// (morv_resplit_intra.cpp).

#include <set>
#include <string>
#include <vector>

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_deterministic.h"

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_NET_UTIL;

// A sink of a group of copies, with its timing and location.
struct MORV_RESPLIT_SINK
{
    CDB_ATOM_ITERM* iterm = nullptr;
    double slack_ratio = 1.0;
    int slack = 0;  // ps
    int x = -1;
    int y = -1;
};

// Most critical first; equal ratios in the deterministic order of terms.
struct MORV_RESPLIT_SINK_LESS
{
    bool operator()(const MORV_RESPLIT_SINK& a, const MORV_RESPLIT_SINK& b) const;
};

typedef std::set<MORV_RESPLIT_SINK, MORV_RESPLIT_SINK_LESS> MORV_RESPLIT_SINK_SET;

// The intra-LAB cost model's verdict over one LAB's list.
struct MORV_RESPLIT_SPLIT
{
    int one_cost = 0;
    int best_cost = 0;
    // Entries before it go to the first copy, the rest to the second.
    int split_point = 0;
};

class MORV_RESPLIT : public MORV_ALGORITHM_BASE
{
public:
    // Slack that stands for "no sink yet" in the cost model, in ps.
    static constexpr int s_NO_SLACK = 1048576;
    static constexpr double s_DEFAULT_CUTOFF = 0.05;

    MORV_RESPLIT(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RESPLIT() override;

    std::string get_short_name() override { return "RESPLIT"; }
    std::string get_description() override { return "fanout splitting"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;

    // ---- the passes
    int interlab_split();
    int intralab_split();

    // The cost model over a LAB's list (slacks in list order, the external
    // representative among them when has_external): smallest is the
    // smallest slack over both lists, internal_count the internal sinks
    // before the representative joined.
    static MORV_RESPLIT_SPLIT compute_split(const std::vector<int>& slacks, int smallest, int internal_count,
                                            bool has_external);

    // The cutoff switch as a number; false (reported once) when its text is
    // not one.
    bool read_cutoff(double* cutoff);

    bool is_aggressive() const { return m_aggressive; }
    bool bypasses_constraint_check() const { return m_bypass_constraint_check; }
    int get_pass() const { return m_pass; }

private:
    // Groups of more than one member.
    void find_groups(std::vector<MORV_OTERM_SET>* groups) const;
    // False when the cutoff ends the pass.
    bool passes_cutoff(const std::vector<MORV_OTERM_SET>& groups);
    void location_of(CDB_ATOM_NODE* node, int* x, int* y);
    MORV_RESPLIT_SINK rate_sink(CDB_ATOM_ITERM* iterm);
    bool is_critical(const MORV_RESPLIT_SINK& sink) const;
    bool is_chain_sink(CDB_ATOM_ITERM* iterm) const;
    bool is_admitted(CDB_ATOM_OTERM* representative, CDB_ATOM_OTERM* member, bool interlab) const;
    // Moves a sink to the target output, announced and logged; false when
    // it reads the target already.
    bool reconnect(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* target);

    // ---- inter-LAB pass
    int interlab_group(const MORV_OTERM_SET& group);
    // The members' distinct locations, each with the first member there in
    // set order: a group of many copies on few LABs is searched per LAB.
    void collect_member_sites(const MORV_OTERM_SET& group);
    CDB_ATOM_OTERM* nearest_member(const MORV_RESPLIT_SINK& sink) const;

    // ---- intra-LAB pass
    int intralab_group(const MORV_OTERM_SET& group);
    int split_lab(const std::vector<CDB_ATOM_OTERM*>& members);
    void classify_sinks(CDB_ATOM_OTERM* member, int x, int y, MORV_RESPLIT_SINK_SET* internal,
                        MORV_RESPLIT_SINK_SET* external, bool* critical);
    int reconnect_lab(const std::vector<CDB_ATOM_OTERM*>& members, const MORV_RESPLIT_SINK_SET& internal,
                      const MORV_RESPLIT_SINK_SET& external, const MORV_RESPLIT_SINK* representative, int split_point);

    MORV_NET_UTIL* m_fsyn_net_util = nullptr;
    bool m_aggressive = false;
    bool m_bypass_constraint_check = false;
    int m_pass = 0;
    int m_guardband = 0;
    bool m_cutoff_error_reported = false;
    struct SITE
    {
        int x;
        int y;
        CDB_ATOM_OTERM* member;
    };
    std::vector<SITE> m_member_sites;
};
