#pragma once

// Boolean-division resynthesis ("RESYN"). Each iteration picks LUT nodes
// whose inputs are critical, collapses part of each one's fan-in cone into
// one function held as a BDD, and measures it by its sum-of-products cover.
// Boolean division rebuilds that function as a chain of LUT-sized
// functions; a chain that beats the root's logic in slack ratio or area
// becomes the root's solution, and the selected solutions are committed as
// new LUT cells next to their roots.
//
// The class is abstract: the family classes supply the hooks and the
// parameter defaults, then call parse_parameters.
//
// Files: morv_resyn.cpp (object, parameters), morv_resyn_driver.cpp
// (iteration, threshold, cut-off), morv_resyn_eval.cpp (candidate roots,
// estimates, marking), morv_resyn_cone.cpp (cone variables, expansion),
// morv_resyn_cover.cpp (covers and their cache), morv_resyn_divide.cpp
// (division), morv_resyn_accept.cpp (acceptance, solutions, masks),
// morv_resyn_commit.cpp (netlist commit), morv_resyn_node.cpp (single-node
// entry, dot dump); the family classes in morv_resyn_family.{h,cpp}.

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bdd/bdd_jbdd.h"
#include "mem_alloc_sys.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/netlist/morv_net_util.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
struct MORV_RESYN_FAMILY_DEFAULTS;

// Keys of the run's parameter map read by RESYN.
#define MORV_RESYN_PARAM_STAGE_DELAY "SSD"
#define MORV_RESYN_PARAM_STAGE_SR "SSR"
#define MORV_RESYN_PARAM_DUPLICATE_FR "DFR"
#define MORV_RESYN_PARAM_NOISE_FR "NFR"
#define MORV_RESYN_PARAM_AREA_FR_BGN "AFRB"
#define MORV_RESYN_PARAM_AREA_FR_END "AFRE"
#define MORV_RESYN_PARAM_AREA_SR_MIN "ASRN"
#define MORV_RESYN_PARAM_AREA_SR_MAX "ASRX"
#define MORV_RESYN_PARAM_GUARDBAND_SLACK "GBSL"
#define MORV_RESYN_PARAM_MAX_EXPANSIONS "ME"
#define MORV_RESYN_PARAM_MAX_VARS "MV"
#define MORV_RESYN_PARAM_MAX_LITERALS "ML"
#define MORV_RESYN_PARAM_KNOCK_VAR_BASE "KSRB"
#define MORV_RESYN_PARAM_KNOCK_VAR_MULT0 "KSRM0"
#define MORV_RESYN_PARAM_KNOCK_VAR_MULT1 "KSRM1"
#define MORV_RESYN_PARAM_AREA_BOUND_BGN "ABB"
#define MORV_RESYN_PARAM_AREA_BOUND_END "ABE"
#define MORV_RESYN_PARAM_RTM_AWARE "RTM_AWARE"
// What the fast-effort lists pass: read as ASRX and ABE; DSR drives nothing.
#define MORV_RESYN_PARAM_AREA_SR_MAX_ALIAS "ASR"
#define MORV_RESYN_PARAM_AREA_BOUND_END_ALIAS "AB"
#define MORV_RESYN_PARAM_UNUSED_DSR "DSR"

// Per-iteration estimate of one LUT output.
struct RESYN_OTERM
{
    CDB_ATOM_OTERM* oterm = nullptr;
    double sr = 1.0;      // worst slack ratio of the inputs reaching it
    double sr_new = 1.0;  // once its node's cone is resynthesized
    double area_share = 0.0;
    bool visited = false;
    bool queued = false;
};

// One signal a solution's network reads.
struct RESYN_SOLN_INPUT
{
    CDB_ATOM_OTERM* oterm = nullptr;
    bool is_input = false;
    MORV_ITERM_PROPERTIES props;
    int bp_id = -1;
    bool used = false;
};

struct RESYN_SOLN_LUT
{
    std::vector<int> inputs;
    uint64_t mask = 0;
};

// The evaluation of one node and, once division is accepted, its network.
struct RESYN_SOLN
{
    CDB_ATOM_NODE* node = nullptr;
    std::vector<RESYN_SOLN_INPUT> inputs;
    std::vector<RESYN_SOLN_LUT> luts;
    double sr = 1.0;
    double pre_sr = 1.0;
    double area = 1.0;
    bool selected = false;
    bool root_candidate = true;
    bool cuts_path = false;
};

// One input of the collapsed cone, or a divisor.
struct RESYN_VAR
{
    CDB_ATOM_OTERM* oterm = nullptr;
    int bp_id = -1;
    int var_index = -1;
    BDD_JBDD bdd;
    double sr = 1.0;
    double sr_to_base = 0.0;
    int fanout = 1;
    int refs = 0;
    bool expanded = false;
    bool behind_duplicate = false;
    bool is_input = false;
    MORV_ITERM_PROPERTIES props;
    bool in_support = false;
};

// Cone variables by source output (atom id, port, index), then boundary port.
struct RESYN_VAR_KEY_LESS
{
    bool operator()(const std::pair<CDB_ATOM_OTERM*, int>& a, const std::pair<CDB_ATOM_OTERM*, int>& b) const
    {
        if (a.first != b.first) return DETERMINISTIC_LESS<CDB_ATOM_OTERM*>()(a.first, b.first);
        return a.second < b.second;
    }
};

// One entry of the direct-mapped cover cache.
struct RESYN_COVER_CACHE
{
    BDD_JBDD lower;
    BDD_JBDD upper;
    BDD_JBDD cover;
    int cubes = 0;
    int literals = 0;
};

// The interval the division works on, and the root's input budget.
struct RESYN_DIV_DATA
{
    BDD_JBDD lower;
    BDD_JBDD upper;
    BDD_JBDD cover;
    std::vector<int> support;
    int literals = 0;
    int available_inputs = 0;
};

class MORV_RESYN : public MORV_ALGORITHM_BASE
{
public:
    static constexpr int s_COVER_CACHE_SIZE = 9973;
    static constexpr double s_DEFAULT_CUTOFF_MSR = 0.05;

    MORV_RESYN(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RESYN() override;

    std::string get_short_name() override { return "RESYN"; }
    std::string get_description() override { return "combinational resynthesis using boolean division"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    bool use_itest() override { return true; }

    // ---- family hooks ----
    virtual CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* root_node, int lut_index) = 0;
    virtual void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) = 0;
    virtual bool prepare_base_node(CDB_ATOM_NODE* root_node, int available_inputs) = 0;
    virtual bool is_resynthesizable_node(CDB_ATOM_NODE* node) = 0;
    virtual bool is_lut_node(CDB_ATOM_NODE* node) = 0;
    virtual bool lut_feeds_register(CDB_ATOM_OTERM* oterm) = 0;
    virtual bool uses_register_feedback(CDB_ATOM_NODE* node) = 0;
    virtual int get_available_inputs(CDB_ATOM_NODE* node) = 0;
    virtual void mark_node(CDB_ATOM_NODE* node) = 0;
    virtual bool swaps_cofactors() = 0;
    virtual bool is_lut_function_legal(BDD_JBDD function, const std::vector<int>& support) = 0;

    // ---- driver (morv_resyn_driver.cpp) ----
    void parse_parameters(const MORV_PARAMETER_MAP* params);
    double get_slack_ratio_quantile(double fraction);
    // The worst data-input slack of the LUT at the same quantile, the LUTs
    // ordered by worst slack ratio, then by that slack: at a threshold of 0
    // it ranks the LUTs whose ratio is 0.
    int get_zero_ratio_slack_quantile(double fraction);
    // The worst slack of the node's data inputs that have a source (10^9
    // without one).
    int get_min_data_input_slack(CDB_ATOM_NODE* node);
    bool passes_cutoff();
    int implement_selected_solutions();
    // Resynthesizes one node on command, without thresholds or marking.
    bool resynthesize_node(int node_id);
    // The quantile fraction and area bound of iteration iter of the pass.
    double get_quantile_fraction(int iter) const;
    int get_iteration_area_bound(int iter) const;

    // ---- evaluation and marking (morv_resyn_eval.cpp) ----
    void build_oterm_records();
    bool is_candidate_root(CDB_ATOM_NODE* node);
    void evaluate_candidates();
    RESYN_OTERM* evaluate_oterm(CDB_ATOM_OTERM* oterm);
    void evaluate_node(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, bool is_root, double& out_sr, double& out_area);
    double compute_stage_slack_ratio(CDB_ATOM_NODE* node);
    int select_solutions();
    void mark_root_solutions();
    void mark_solution(RESYN_SOLN* solution);
    void mark_from_oterm(RESYN_OTERM* record);
    void queue_oterm(CDB_ATOM_OTERM* oterm);
    void free_iteration_records();

    // ---- cone (morv_resyn_cone.cpp) ----
    bool resynthesize_root(CDB_ATOM_NODE* root);
    BDD_JBDD build_node_bdd(CDB_ATOM_NODE* node, double sr_to_base, bool behind_duplicate, int parent);
    RESYN_VAR* get_or_create_var(const RESYN_VAR& tmpl);
    RESYN_VAR* choose_expansion_var(const std::vector<int>& support);
    void compute_input_area();
    void clear_vars();
    // Names for the trace: the hierarchical name, else the node's, else its
    // id.
    static std::string get_node_name(CDB_ATOM_NODE* node);
    static std::string get_oterm_name(CDB_ATOM_OTERM* oterm);

    // ---- covers (morv_resyn_cover.cpp) ----
    BDD_JBDD compute_cover(BDD_JBDD lower, BDD_JBDD upper, int& cubes, int& literals);
    RESYN_COVER_CACHE& get_cover_cache_entry(const BDD_JBDD& lower, const BDD_JBDD& upper);
    static unsigned cover_cache_bucket(unsigned lower_index, unsigned upper_index);

    // ---- division (morv_resyn_divide.cpp) ----
    // Both bounds stay as they are only while smaller than this many nodes.
    static constexpr int s_DONT_CARE_NODE_LIMIT = 256;
    int evaluate_divisor(const BDD_JBDD& d, int* support_size);
    BDD_JBDD find_divisor(int& cost);
    BDD_JBDD refine_divisor(BDD_JBDD d, int& cost);
    void apply_divisor(const BDD_JBDD& d);
    double get_min_support_slack_ratio(const BDD_JBDD& f);
    int get_knock_weight(int var) const;
    int estimate_divisor_luts(int iteration) const;
    bool can_still_improve(int estimate, double min_sr) const;
    // The variable y of divisor d, appended to the cone's variables.
    RESYN_VAR* append_divisor_var(const BDD_JBDD& d);

    // ---- acceptance and solutions (morv_resyn_accept.cpp) ----
    bool accept_division();
    bool is_improvement(int divisors, double new_sr, bool print) const;
    void build_solution(int divisors, double new_sr);
    // Bit index of mask for input combination index (input k at bit k).
    void bdd_to_lutmask(BDD_JBDD f, const std::vector<int>& support, int k, uint64_t& mask, int index);

    // ---- netlist commit (morv_resyn_commit.cpp) ----
    void implement_lut(RESYN_SOLN& soln, int i, CDB_ATOM_NODE* root);
    void implement_root_lut(RESYN_SOLN& soln, int i, CDB_ATOM_NODE* root);
    void implement_solution(RESYN_SOLN& soln);

    // ---- netlist edits shared with BDD resynthesis ----
    // A new output term of the node, named after the node with "_BDD" and
    // logged; both resynthesis algorithms give their new LUTs outputs so.
    static CDB_ATOM_OTERM* create_lut_oterm(MORV_API* api, CDB_ATOM_NODE* node, int port_type);
    CDB_ATOM_OTERM* create_lut_oterm(CDB_ATOM_NODE* node, int port_type)
    {
        return create_lut_oterm(m_fsyn_api, node, port_type);
    }

    // ---- accessors for the family classes, the tools and the tests ----
    BDD_JBDD_MGR* get_bdd_mgr() const { return m_bdd_mgr.get(); }
    int get_num_data_ports() const { return m_num_data_ports; }
    double get_sr_threshold() const { return m_sr_threshold; }
    int get_area_bound() const { return m_area_bound; }
    double get_area_sr_min() const { return m_area_sr_min; }
    double get_area_sr_max() const { return m_area_sr_max; }
    int get_area_bound_bgn() const { return m_area_bound_bgn; }
    int get_area_bound_end() const { return m_area_bound_end; }
    int get_cache_hits() const { return m_cache_hits; }
    int get_cache_lookups() const { return m_cache_lookups; }
    bool admits_zero_ratio_ties() const { return m_admit_zero_ties; }
    int get_zero_ratio_tie_slack() const { return m_zero_tie_slack; }
    bool is_rtm_aware() const { return m_rtm_aware; }
    const RESYN_DIV_DATA& get_div_data() const { return *m_div_data; }
    // The unused-key warning is given once per process; tests start over.
    static void reset_unused_key_warning() { s_dsr_warned = false; }

protected:
    // The tuning every family starts from, the family's own part included;
    // parameters are parsed after it.
    void set_family_defaults(const MORV_RESYN_FAMILY_DEFAULTS& defaults);

    MORV_NET_UTIL* m_net_util;
    int m_num_iterations;
    int m_num_data_ports;
    double m_stage_delay;
    double m_stage_sr;
    double m_default_stage_sr;
    double m_area_fr_bgn;
    double m_area_fr_end;
    double m_area_sr_min;
    double m_area_sr_max;
    double m_sr_threshold;
    int m_guardband_slack;
    double m_duplicate_fr;
    double m_duplicate_sr;
    double m_noise_fr;
    double m_noise_sr;
    int m_max_expansions;
    int m_max_vars;
    int m_max_literals;
    int m_knock_var_base;
    double m_knock_var_mult0;
    double m_knock_var_mult1;
    int m_area_bound_bgn;
    int m_area_bound_end;
    int m_area_bound;
    std::map<CDB_ATOM_OTERM*, RESYN_OTERM, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>> m_oterms;
    std::map<uint32_t, RESYN_SOLN> m_solns;  // by the root's atom id
    std::deque<RESYN_OTERM*> m_oterm_queue;
    std::map<std::pair<CDB_ATOM_OTERM*, int>, RESYN_VAR*, RESYN_VAR_KEY_LESS> m_var_set;
    std::vector<MORV_OWNER<RESYN_VAR>> m_vars;
    RESYN_SOLN* m_soln;
    double m_input_area;
    MORV_OWNER<BDD_JBDD_MGR> m_bdd_mgr;
    MORV_OWNER<RESYN_DIV_DATA> m_div_data;
    std::vector<RESYN_COVER_CACHE> m_cover_cache;
    int m_cache_hits;
    int m_cache_lookups;
    double m_root_sr;
    int m_num_expanded;
    int m_num_duplicated;
    // The dot dump: the open "resynth.dot", graphs written, and the lines of
    // the current root, kept until its resynthesis is accepted.
    FILE* m_dot_file;
    int m_dot_graph_count;
    std::string m_dot_buffer;
    int m_dot_parent = -1;  // the node build_node_bdd is drawing
    bool m_rtm_aware;
    bool m_use_guardband_slack;
    bool m_cutoff_error_reported;
    // At a threshold of 0 the roots whose measured ratio is 0 are admitted
    // up to this slack (see set_zero_ratio_ties).
    bool m_admit_zero_ties = false;
    int m_zero_tie_slack = 0;

    // Division of the collapsed cone (m_div_data): true when the remaining
    // function fits the root.
    virtual bool divide();
    // The value a LUT data input reads when nothing drives or ties it, as the
    // host evaluates the cell.
    static constexpr bool s_UNCONNECTED_INPUT_VALUE = false;

private:
    void read_cutoff(double& cutoff, bool& valid);
    void set_zero_ratio_ties(double quantile, double fraction);
    bool admits_zero_ratio_tie(double measured_sr, int min_slack) const;
    BDD_JBDD input_bdd(CDB_ATOM_ITERM* iterm, double sr_to_base, bool behind_duplicate, RESYN_VAR*& last_source_var);
    BDD_JBDD register_feedback_bdd(CDB_ATOM_NODE* node, const RESYN_VAR* last_source_var, double sr_to_base,
                                   bool behind_duplicate);
    BDD_JBDD mask_to_bdd(CDB_ATOM_NODE* node, const std::vector<BDD_JBDD>& inputs);
    bool is_expandable(const RESYN_VAR* var, double score);
    bool expand_once();
    void evaluate_root_solution(CDB_ATOM_NODE* node, RESYN_SOLN* solution);
    void divided_interval(const BDD_JBDD& d, BDD_JBDD& lower, BDD_JBDD& upper);
    RESYN_SOLN_LUT make_solution_lut(const BDD_JBDD& f);
    void connect_lut_input(RESYN_SOLN& soln, CDB_ATOM_ITERM* iterm, int k, int v);
    void clear_root_input(CDB_ATOM_ITERM* iterm, int k);
    bool has_boundary_ports() const;
    void dot_node_line(int parent);
    void dot_edge_line(int var, int parent, double sr);
    void write_dot_graph();
    BDD_JBDD compute_cover_split(const BDD_JBDD& lower, const BDD_JBDD& upper, int& cubes, int& literals);

    // The run's root function and support while it expands.
    BDD_JBDD m_cone;
    std::vector<int> m_cone_support;
    static bool s_dsr_warned;
};
