#pragma once

// What the RESYN tests share: a 6-LUT and a 4-LUT test subclass (the
// family classes come with the commit), a compile of a netlist with timing,
// and the check of a collapsed cone against the host's evaluation of the
// LUTs it absorbed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/resyn/morv_resyn_family.h"
#include "morv/timing/morv_timing.h"
#include "test_compile_setup.h"

namespace resyn_test {

using namespace morv_host;

// The family hooks of the 6-LUT branch (reversed masks on BRK), the 4-LUT
// branch and, on a UVO netlist, the UVO class; the defaults of BRK and ZEPLA.
class TEST_RESYN : public MORV_RESYN
{
public:
    TEST_RESYN(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RESYN(api, params)
    {
        m_uvo = api->get_base_family_code() == CDB_FAMILY_UVO;
        set_family_defaults(m_net_util->get_max_lut_inputs() >= 6 ? resyn_family_defaults::BRK
                                                                  : resyn_family_defaults::ZEPLA);
        MORV_TIMING* timing = api->get_fsyn_timing();
        int avg = 0;
        int comb_avg = 0;
        timing->get_average_annotated_delays(avg, comb_avg);
        m_stage_delay = comb_avg + 300.0;
        m_guardband_slack = timing->get_guardband_slack();
        parse_parameters(params);
    }

    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE*, int) override { return nullptr; }
    void disconnect_lut_input(CDB_ATOM_ITERM*, int) override {}
    bool prepare_base_node(CDB_ATOM_NODE*, int) override { return false; }
    bool is_resynthesizable_node(CDB_ATOM_NODE* node) override
    {
        const bool lut = m_uvo ? node->is_lcell() : node->is_lcell_comb();
        if (!lut || m_net_util->is_lcell_part_of_a_carry_chain(node) || node->get_latch_info() != nullptr) return false;
        return m_num_data_ports == 4 || !m_net_util->is_in_extended_mode(node);
    }
    bool is_lut_node(CDB_ATOM_NODE* node) override { return m_uvo ? node->is_lcell() : node->is_lcell_comb(); }
    bool lut_feeds_register(CDB_ATOM_OTERM* oterm) override
    {
        feeds_register_asked[oterm] += 1;
        CDB_ATOM_NODE* node = oterm->get_my_node();
        return m_uvo && node != nullptr && node->is_lcell() && oterm->is_used_as(DB_COMB_OUT) &&
               m_net_util->does_lut_feed_register(node);
    }
    bool uses_register_feedback(CDB_ATOM_NODE* node) override { return m_uvo && m_net_util->is_in_qfbk_mode(node); }
    int get_available_inputs(CDB_ATOM_NODE*) override { return m_num_data_ports; }
    void mark_node(CDB_ATOM_NODE*) override {}
    bool swaps_cofactors() override { return cdb_family_info_reversed(m_fsyn_api->get_base_family_code()); }
    bool is_lut_function_legal(BDD_JBDD, const std::vector<int>&) override { return true; }

    // Called where division would start, with the collapsed cone in place.
    std::function<void(TEST_RESYN&)> on_cone;
    // How often each output was asked about: once per evaluation of it
    // while no cone is built.
    std::map<CDB_ATOM_OTERM*, int> feeds_register_asked;
    // Division runs only when asked: the cone tests look at the cone alone.
    bool divide_enabled = false;
    bool divide() override
    {
        if (on_cone) on_cone(*this);
        return divide_enabled && MORV_RESYN::divide();
    }
    // Hand-made division state: variables of the given slack ratios (BDD
    // variables 0, 1, ...), an interval, the root's solution and budget.
    // Without sources the variables are told apart by their boundary port.
    void add_vars(const std::vector<double>& ratios, const std::vector<CDB_ATOM_OTERM*>& sources = {})
    {
        for (size_t i = 0; i < ratios.size(); ++i) {
            RESYN_VAR tmpl;
            tmpl.oterm = i < sources.size() ? sources[i] : nullptr;
            tmpl.bp_id = static_cast<int>(m_vars.size());
            tmpl.sr = ratios[i];
            tmpl.is_input = true;
            get_or_create_var(tmpl);
        }
    }
    void set_interval(const BDD_JBDD& lower, const BDD_JBDD& upper, int available)
    {
        m_div_data->lower = lower;
        m_div_data->upper = upper;
        m_div_data->available_inputs = available;
        int cubes = 0;
        m_div_data->cover = compute_cover(lower, upper, cubes, m_div_data->literals);
        m_div_data->support = m_div_data->cover.build_support();
    }
    void set_solution_state(RESYN_SOLN* soln, int area_bound, int expanded, int duplicated, double input_area)
    {
        m_soln = soln;
        m_area_bound = area_bound;
        m_num_expanded = expanded;
        m_num_duplicated = duplicated;
        m_input_area = input_area;
    }
    std::vector<MORV_OWNER<RESYN_VAR>>& mutable_vars() { return m_vars; }
    RESYN_DIV_DATA& div() { return *m_div_data; }
    double noise_sr() const { return m_noise_sr; }

    // What the tests read of the cone and set of the per-root state.
    const std::vector<MORV_OWNER<RESYN_VAR>>& vars() const { return m_vars; }
    const std::map<uint32_t, RESYN_SOLN>& solns() const { return m_solns; }
    const RESYN_OTERM& oterm_record(CDB_ATOM_OTERM* oterm) const { return m_oterms.at(oterm); }
    std::map<uint32_t, RESYN_SOLN>& solns() { return m_solns; }
    RESYN_SOLN* current_soln() const { return m_soln; }
    int num_expanded() const { return m_num_expanded; }
    int num_duplicated() const { return m_num_duplicated; }
    double input_area() const { return m_input_area; }
    double stage_sr() const { return m_stage_sr; }
    double root_sr() const { return m_root_sr; }
    void set_iteration(int iter) { m_curr_iter = iter; }
    void set_num_iterations(int n) { m_num_iterations = n; }
    void set_root_state(double root_sr, double stage_sr)
    {
        m_root_sr = root_sr;
        m_stage_sr = stage_sr;
        m_duplicate_sr = stage_sr * m_duplicate_fr;
        m_noise_sr = stage_sr * m_noise_fr;
    }
    void set_limits(int me, int mv, int ml)
    {
        m_max_expansions = me;
        m_max_vars = mv;
        m_max_literals = ml;
    }
    void set_threshold(double sr) { m_sr_threshold = sr; }
    void set_guardband(bool use, int slack)
    {
        m_use_guardband_slack = use;
        m_guardband_slack = slack;
    }
    double fom_to_accept() const { return m_fom_to_accept; }
    static bool cdb_family_info_reversed(int family)
    {
        const CDB_FAMILY_INFO* info = cdb_get_family_info(family);
        return info != nullptr && info->reversed_bit_order;
    }

private:
    bool m_uvo = false;
};

// A compile of one netlist timed at 90 % of its critical path, with its
// flow driver set to run the given flow: before placement, or placed for
// the LATE flow. before_env sees the
// design before the environment is made (a boundary-port manager must be
// installed by then).
struct RESYN_COMPILE
{
    RESYN_COMPILE(std::unique_ptr<CDB_ATOM_NETLIST> netlist, int family_code, int flow = FIT_EARLY_FSYN_FLOW,
                  const std::function<void(HOST_DESIGN&)>& before_env = nullptr)
        : family(family_code)
    {
        msg_set_quiet(true);
        design = std::make_unique<HOST_DESIGN>(family, std::move(netlist));
        if (before_env) before_env(*design);
        env = std::make_unique<HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        // The LATE flow runs on a placement, which new cells join.
        const bool placed = flow == LATE_FSYN_FLOW;
        if (placed) {
            env->place_unplaced_atoms();
            env->set_placed(true);
        }
        expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        set_flow(flow);
        if (placed) api->reset_fsyn_chip_map(true);
        api->get_fsyn_timing()->sync_timing_netlist(false, true);
        if (placed) api->get_fsyn_timing()->perform_timing_analysis();
        else api->get_fsyn_timing()->perform_pre_placement_timing_analysis(false);
    }
    void set_flow(int flow);

    int family;
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_EXPERT* expert = nullptr;
    MORV_API* api = nullptr;
};

inline std::unique_ptr<CDB_ATOM_NETLIST> read_blif(const std::string& path, int family)
{
    BLIF_READER reader(family);
    return reader.read_file(path);
}

inline std::string source(const std::string& rel)
{
    return std::string(MORV_SOURCE_DIR) + "/" + rel;
}

// A netlist from BLIF text, written into the test's scratch folder first.
inline std::unique_ptr<CDB_ATOM_NETLIST> blif_text(const std::string& text, int family)
{
    const std::string path = "resyn_text.blif";
    std::ofstream(path) << text;
    return read_blif(path, family);
}

inline bool printed(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// A LUT cell of any family by its short name.
inline CDB_ATOM_NODE* lut_named(CDB_ATOM_NETLIST* netlist, const std::string& name)
{
    for (CDB_ATOM_NODE* node : *netlist)
        if (node->get_instance_name() != nullptr && node->get_instance_name()->get_short_hpath() == name &&
            (node->is_lcell_comb() || node->is_lcell()))
            return node;
    return nullptr;
}

// A developer switch set for as long as the object lives.
class RESYN_SWITCH
{
public:
    RESYN_SWITCH(const char* key, const char* value) : m_key(key) { cfg_set_value(key, value); }
    ~RESYN_SWITCH() { cfg_unset(m_key); }
    RESYN_SWITCH(const RESYN_SWITCH&) = delete;
    RESYN_SWITCH& operator=(const RESYN_SWITCH&) = delete;

private:
    const char* m_key;
};

inline MORV_PARAMETER_MAP params_of(const std::string& text)
{
    MORV_PARAMETER_MAP params;
    MORV_ALGORITHM_BASE::parse_algorithm_params(params, text);
    return params;
}

// Statistics of the cones checked.
struct CONE_STATS
{
    int roots = 0;
    long support = 0;
    long literals = 0;
    int mismatches = 0;
    std::string first_mismatch;
};

// Checks the collapsed cone of the current root against the host's
// evaluation of every LUT it absorbed, over every assignment of its support.
void check_cone(TEST_RESYN& resyn, CDB_ATOM_NODE* root, CONE_STATS& stats);

}  // namespace resyn_test
