#pragma once

// Timing-driven resynthesis by functional decomposition. Each iteration
// scores the LUTs that have a critical input, absorbs the drivers of their
// most critical inputs into one BDD (morv_bdd_syn_cone.cpp) and splits that
// function again at cuts of the variable order (morv_bdd_syn_decomp.cpp),
// so that the inputs with slack to spare are encoded by new LUTs while the
// critical ones feed the final LUT directly.
//
// A decomposition worth its area is committed (morv_bdd_syn_commit.cpp): one
// new LUT per encoding next to the base node, and the base node rewired to
// the final function. Absorbed drivers left without fanout go with the sweep
// that follows each iteration. The family classes are in
// morv_bdd_syn_family.{h,cpp}.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bdd/bdd_jbdd.h"
#include "mem_alloc_sys.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_net_util.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class MORV_CDB_INTERFACE;
class HDB_INSTANCE_NAME;

// One BDD variable of the node being resynthesized: a signal entering the
// cone, a LUT made by the decomposition, or the final root function. Its
// position in the variable list equals its BDD variable index.
struct MORV_BDD_SYN_ITERM_SRC
{
    CDB_ATOM_OTERM* oterm = nullptr;  // the source; null for constants and new LUTs
    int bp_id = -1;                   // boundary-port binding of the input it fed
    int var_index = 0;
    BDD_JBDD bdd;              // the variable, or the function of a new LUT
    double slack_ratio = 0.0;  // carried by the signal
    int init_slack = 0;        // ps, carried by the signal
    int curr_slack = 0;        // ps, were the signal to feed the base node directly
    int path_delay = 0;        // ps, from the source through the cone to the base output
    int fanout = 0;            // sinks of the source (plus duplications)
    int uses = 0;              // cone inputs reading it; 0 once its driver is expanded
    int times_expanded = 0;    // how often its driver was absorbed
    bool has_iterm_properties = false;
    bool is_vcc = false;
    bool is_gnd = false;
    MORV_ITERM_PROPERTIES iterm_properties;
    bool in_support = false;  // scratch of the redundant-signal test
};

// One candidate of an iteration.
struct MORV_BDD_SYN_SCORE
{
    CDB_ATOM_NODE* node = nullptr;
    double score = 0.0;
    int available_inputs = 0;
};

// Higher score first; equal scores by ascending node id.
struct MORV_BDD_SYN_SCORE_LESS
{
    bool operator()(const MORV_BDD_SYN_SCORE& a, const MORV_BDD_SYN_SCORE& b) const;
};

class MORV_BDD_SYN : public MORV_ALGORITHM_BASE
{
public:
    // Run parameters.
    static constexpr const char* s_PARAM_MAX_ITERATIONS = "I";
    static constexpr const char* s_PARAM_SLACK_RATIO_BGN = "SRB";
    static constexpr const char* s_PARAM_SLACK_RATIO_END = "SRE";
    static constexpr const char* s_PARAM_MAX_BDD_NODES = "MN";
    static constexpr const char* s_PARAM_MAX_BDD_VARS = "MV";
    static constexpr const char* s_PARAM_MAX_EXPANSIONS = "ME";
    static constexpr const char* s_PARAM_SLACK_RATIO_FACTOR = "SRF";
    static constexpr const char* s_PARAM_AREA_ACCEPT_BGN = "AAB";
    static constexpr const char* s_PARAM_AREA_ACCEPT_END = "AAE";
    static constexpr const char* s_PARAM_RTM_AWARE = "RTM_AWARE";

    // Defaults shared by every family.
    static constexpr int s_DEFAULT_MAX_ITERATIONS = 4;
    static constexpr double s_DEFAULT_SLACK_RATIO_BGN = 0.18;
    static constexpr double s_DEFAULT_SLACK_RATIO_END = 0.06;
    static constexpr int s_DEFAULT_MAX_BDD_NODES = 32;
    static constexpr int s_DEFAULT_MAX_BDD_VARS = 16;
    static constexpr int s_DEFAULT_MAX_EXPANSIONS = 8;
    static constexpr double s_DEFAULT_SLACK_RATIO_FACTOR = 4.0;
    static constexpr double s_DEFAULT_AREA_ACCEPT_BGN = 1.01;
    static constexpr double s_DEFAULT_AREA_ACCEPT_END = 2.51;

    // Slacks beyond this magnitude count as unbounded.
    static constexpr int s_SLACK_LIMIT = 1000000000;
    // The figure of merit counts as close to the lower bound within this margin.
    static constexpr int s_LB_FOM_MARGIN = 50;

    MORV_BDD_SYN(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_BDD_SYN() override;

    // ---- algorithm base operations
    std::string get_short_name() override { return "BDD_SYN"; }
    std::string get_description() override { return "combinational resynthesis using functional decomposition"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    bool is_fom_close_to_optimal() override;

    // ---- family hooks
    // May the bound set above cut_level be cut off; fits: the rest fits the node.
    virtual bool is_lut_function_legal(const BDD_JBDD& /*bdd*/, int /*cut_level*/, bool /*fits*/) { return true; }
    // May a function that fits go into one LUT unchanged.
    virtual bool is_bdd_legal(const BDD_JBDD& /*bdd*/) { return true; }
    virtual bool is_resynthesizable_node(CDB_ATOM_NODE* node) = 0;
    virtual int get_max_lut_size(CDB_ATOM_NODE* node) = 0;
    virtual bool uses_register_feedback(CDB_ATOM_NODE* node) = 0;
    virtual bool lut_feeds_register(CDB_ATOM_OTERM* oterm) = 0;
    virtual bool source_keeps_node(CDB_ATOM_OTERM* oterm) = 0;
    virtual CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* base_node) = 0;
    virtual void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) = 0;
    virtual bool prepare_base_node(CDB_ATOM_NODE* base_node, int available_inputs) = 0;
    virtual void commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask) = 0;

    // ---- driver (morv_bdd_syn.cpp)
    void score_nodes();
    bool resynthesize_node(const MORV_BDD_SYN_SCORE& entry);
    // The threshold and area limit of iteration `pass` of a pass (ramped).
    double ramp(double bgn, double end, int pass) const;

    // ---- cone (morv_bdd_syn_cone.cpp)
    BDD_JBDD build_node_bdd(MORV_BDD_SYN_ITERM_SRC& record, CDB_ATOM_NODE* base_node, int dup);
    MORV_BDD_SYN_ITERM_SRC* get_iterm_src(CDB_ATOM_OTERM* source, int bp_id, double slack_ratio, int init_slack,
                                          int curr_slack, int path_delay, bool real_input,
                                          const MORV_ITERM_PROPERTIES& props, int dup, bool is_vcc, bool is_gnd);
    // Grows f over the drivers of its most critical inputs; E and D counted.
    BDD_JBDD expand_cone(BDD_JBDD f, CDB_ATOM_NODE* base_node, int* expansions, int* duplications);
    MORV_BDD_SYN_ITERM_SRC* choose_expansion(const BDD_JBDD& f);
    int get_slack_bound(const BDD_JBDD& f) const;
    int get_connection_delay(CDB_ATOM_OTERM* source, CDB_ATOM_NODE* node) const;
    bool has_redundant_signals(const BDD_JBDD& f);
    void clear_vars();
    static std::string get_oterm_name(CDB_ATOM_OTERM* oterm);
    static std::string get_node_name(CDB_ATOM_NODE* node);

    // ---- decomposition (morv_bdd_syn_decomp.cpp)
    bool decompose(BDD_JBDD f, int available_inputs);
    void sift_vars(const BDD_JBDD& f, int m, const std::vector<MORV_BDD_SYN_ITERM_SRC*>& list);
    double get_order_cost(const BDD_JBDD& f, int m, int n) const;
    int get_cut_width(const BDD_JBDD& f, int c) const;
    int choose_cut(const BDD_JBDD& f, int k, int m, int available_inputs);
    BDD_JBDD decompose_at_cut(const BDD_JBDD& f, int c);
    BDD_JBDD get_encoding_function(const BDD_JBDD& g, int c, int j, const std::vector<BDD_JBDD>& cuts);
    void move_var(int from_level, int to_level);
    // Variable i back at level i, for every variable.
    void restore_identity_order();

    // ---- acceptance and rebuild (morv_bdd_syn_commit.cpp)
    // Commits the decomposition in m_vars when its area ratio is below the
    // iteration's limit; false (nothing edited) otherwise.
    virtual bool accept_and_commit(CDB_ATOM_NODE* base_node, int expansions, int duplications, int available_inputs);
    // (LUTs that will exist) / (LUTs replaced) of the decomposition in m_vars.
    double get_area_ratio(int expansions, int duplications);
    void build_lut_node(MORV_BDD_SYN_ITERM_SRC& record, CDB_ATOM_NODE* base_node);
    void rebuild_base_node(const MORV_BDD_SYN_ITERM_SRC& root, CDB_ATOM_NODE* base_node, int available_inputs);
    // Row `index` of the mask over `support` (input i = support[i]); the
    // rows are in port order, bit i of a row the value input i reads.
    void compute_lutmask(CDB_ATOM_NODE* node, const BDD_JBDD& g, const std::vector<int>& support, int i, uint64_t& mask,
                         uint64_t index) const;
    // The mask of g over its support as the node stores it.
    CDB_LUTMASK get_node_lutmask(CDB_ATOM_NODE* node, const BDD_JBDD& g, const std::vector<int>& support) const;
    // Input `position` of a rebuilt LUT reads the signal of `source`.
    void connect_lut_input(CDB_ATOM_ITERM* iterm, int position, const MORV_BDD_SYN_ITERM_SRC& source);

protected:
    // The family constructor's part shared by every family: banner, tuning
    // fields from the run parameters, LUT size, delays and the manager.
    void init_family(const char* family_word, int lut_size, int avg_lut_delay, int fast_logic_level_delay);
    int read_int_param(const char* key, int dflt) const;
    double read_double_param(const char* key, double dflt) const;
    // Scores of one node; false when it is not a candidate.
    bool score_node(CDB_ATOM_NODE* node, MORV_BDD_SYN_SCORE* out);
    // The record of the root output term of the base node.
    void make_root_record(CDB_ATOM_NODE* base_node, MORV_BDD_SYN_ITERM_SRC* root) const;
    // Step 9 of a node: decompose and count; the verdict of acceptance.
    bool try_decomposition(const MORV_BDD_SYN_SCORE& entry, const BDD_JBDD& f, int expansions, int duplications);
    // A mask read in the family's bit order, as bit r the value of row r.
    uint64_t get_row_mask(uint64_t mask) const;
    // Trace lines with names are built only when they print.
    static bool is_tracing();
    void print_iteration_counters(int tried, int succeeded) const;
    // A new LUT made by `factory` under a unique "_BDD" name of the base
    // node, placed in the base node's LAB (morv_bdd_syn_family.cpp).
    CDB_ATOM_NODE* create_lut_node_near(CDB_ATOM_NODE* base_node,
                                        const std::function<CDB_ATOM_NODE*(HDB_INSTANCE_NAME*)>& factory);

public:
    // The same under a unique name of the base node with the given suffix;
    // shared with Boolean-division resynthesis.
    static CDB_ATOM_NODE* create_lut_node_near(MORV_API* api, CDB_ATOM_NODE* base_node, const char* suffix,
                                               const std::function<CDB_ATOM_NODE*(HDB_INSTANCE_NAME*)>& factory);

protected:
    // Frees a data input of the base node before it is rewired, every
    // setting cleared and each change announced and logged.
    void free_lut_input(CDB_ATOM_ITERM* iterm);

    MORV_NET_UTIL* m_net_util;
    MORV_OWNER<BDD_JBDD_MGR> m_bdd_mgr;
    int m_base_family;
    int m_max_iterations = s_DEFAULT_MAX_ITERATIONS;
    double m_slack_ratio_bgn = s_DEFAULT_SLACK_RATIO_BGN;
    double m_slack_ratio_end = s_DEFAULT_SLACK_RATIO_END;
    double m_slack_ratio_curr = 0.0;
    int m_max_bdd_nodes = s_DEFAULT_MAX_BDD_NODES;
    int m_max_bdd_vars = s_DEFAULT_MAX_BDD_VARS;
    int m_max_expansions = s_DEFAULT_MAX_EXPANSIONS;
    double m_slack_ratio_factor = s_DEFAULT_SLACK_RATIO_FACTOR;
    double m_area_accept_bgn = s_DEFAULT_AREA_ACCEPT_BGN;
    double m_area_accept_end = s_DEFAULT_AREA_ACCEPT_END;
    double m_area_accept_curr = 0.0;
    int m_num_data_ports = 0;
    std::vector<int> m_data_port_types;
    int m_avg_lut_delay = 0;
    int m_avg_routing_delay = 0;
    int m_avg_logic_level_delay = 0;
    int m_fast_logic_level_delay = 0;
    int m_conn_delay_sum = 0;
    int m_conn_delay_count = 0;
    int m_curr_logic_level_delay = 0;
    int m_pass = 0;
    std::set<int> m_done_nodes;
    std::set<MORV_BDD_SYN_SCORE, MORV_BDD_SYN_SCORE_LESS> m_syn_nodes;
    std::map<std::pair<CDB_ATOM_OTERM*, int>, MORV_BDD_SYN_ITERM_SRC*> m_var_map;
    std::vector<MORV_OWNER<MORV_BDD_SYN_ITERM_SRC>> m_vars;
    // A fresh node's register-feedback slack floor: no bound is left over.
    int m_slack_bound = s_SLACK_LIMIT;
    int m_decomp_tried = 0;
    int m_decomp_succeeded = 0;
    bool m_has_boundary_ports = false;
    bool m_rtm_aware = false;
    int m_lb_fom = 0;
    bool m_has_lb_fom = false;  // the family has the bound and it was taken
    // The expanded cone function of the node being decomposed, as the
    // rebuild's checks compare it.
    BDD_JBDD m_expanded_cone;
};

// The 4-input-LUT families.
class MORV_BDD_SYN_4LUT : public MORV_BDD_SYN
{
public:
    using MORV_BDD_SYN::MORV_BDD_SYN;
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    int get_max_lut_size(CDB_ATOM_NODE* node) override;
    bool uses_register_feedback(CDB_ATOM_NODE* node) override;
    bool lut_feeds_register(CDB_ATOM_OTERM* oterm) override;
    bool source_keeps_node(CDB_ATOM_OTERM* /*oterm*/) override { return false; }
    void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) override;
    bool prepare_base_node(CDB_ATOM_NODE* /*base_node*/, int /*available_inputs*/) override { return false; }
    void commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask) override;
};

// The 6-input-LUT families.
class MORV_BDD_SYN_6LUT : public MORV_BDD_SYN
{
public:
    using MORV_BDD_SYN::MORV_BDD_SYN;
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override;
    int get_max_lut_size(CDB_ATOM_NODE* node) override;
    bool uses_register_feedback(CDB_ATOM_NODE* node) override;
    bool lut_feeds_register(CDB_ATOM_OTERM* oterm) override;
    bool source_keeps_node(CDB_ATOM_OTERM* /*oterm*/) override { return false; }
    void disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position) override;
    bool prepare_base_node(CDB_ATOM_NODE* /*base_node*/, int /*available_inputs*/) override { return false; }
    void commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask) override;
};
