#pragma once
// A host whose gate answers tests can set, and a flow driver that exposes the
// mode-selection results and the protected dispatch helpers.

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

#include "morv/core/morv_expert.h"
#include "morv_test_env.h"

class MORV_GATE_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;

    bool is_tdc_on() override { return m_tdc_on; }
    bool is_fast_fit_on() override { return m_fast_fit; }
    bool is_reusing_post_fit_netlist() override { return m_reusing_post_fit; }
    bool is_atom_back_annotated(CDB_ATOM_NODE* node) override { return m_back_annotated.count(node->get_id()) != 0; }
    bool should_discard_fsyn_result() override { return m_discard; }
    bool is_fake_auto_device() override { return m_fake_device; }
    int get_resource_count(int atom_type) override
    {
        m_last_resource_type = atom_type;
        return m_resource_count;
    }
    // 100 ps per LAB step plus 50 ps, in seconds as the host answers.
    double get_routing_delay(int x1, int y1, int x2, int y2, int) override
    {
        return (std::abs(x1 - x2) + std::abs(y1 - y2)) * 100e-12 + 50e-12;
    }
    MORV_ICP_RESULT run_icp(bool full, bool second, double multiplier, bool, bool, bool, bool) override
    {
        ++m_icp_calls;
        m_last_icp_full = full;
        m_last_icp_second = second;
        m_last_icp_multiplier = multiplier;
        return m_icp_result;
    }
    void set_progress(int value) override { m_progress = value; }
    void get_progress_range(int* start, int* end) override { *start = 10, *end = 60; }

    bool m_tdc_on = true;
    bool m_fast_fit = false;
    bool m_reusing_post_fit = false;
    bool m_discard = false;
    bool m_fake_device = false;
    int m_resource_count = 1000;
    int m_last_resource_type = -1;
    std::set<uint32_t> m_back_annotated;
    MORV_ICP_RESULT m_icp_result{3, 4, 0, 0, 1};
    int m_icp_calls = 0;
    bool m_last_icp_full = false;
    bool m_last_icp_second = false;
    double m_last_icp_multiplier = 0.0;
    int m_progress = -1;
};

class MORV_PROBE_EXPERT : public MORV_EXPERT
{
public:
    explicit MORV_PROBE_EXPERT(MORV_ENV* env, bool flat_allowed = false)
        : MORV_EXPERT(env), m_flat_allowed(flat_allowed)
    {
        find_and_set_which_algorithms_are_to_run();
    }

    bool is_fsyn_allowed_in_flat_flow() override { return m_flat_allowed; }
    // Each user setting selects the algorithm most families give it.
    void set_user_option_algorithms_to_run() override
    {
        ++m_user_option_calls;
        m_algorithm_list[PIPE_ASYNC_ALGORITHM] = m_opx_async_pipelining;
        m_algorithm_list[REP_ALGORITHM] = m_opx_register_duplication;
        m_algorithm_list[RTM_ALGORITHM] = m_opx_register_retiming;
        m_algorithm_list[LIR_ALGORITHM] = m_opx_comb_logic;
        m_algorithm_list[BDD_SYN_ALGORITHM] = m_opx_comb_logic;
        m_algorithm_list[SAVE_RESTORE_ALGORITHM] = true;
    }
    bool run_fsyn_flat_flow(e_fsyn_flow) override { return true; }
    // The family list hooks record which flow asked for its list.
    void add_cluster_retry_fsyn_algorithms() override { m_lists_asked += "CR "; }
    void add_syn_early_fsyn_algorithms() override { m_lists_asked += "SYN_EARLY "; }
    void add_fit_early_fsyn_algorithms(e_fsyn_flow) override { m_lists_asked += "FIT_EARLY "; }
    void add_late_fsyn_algorithms_for_circuit_characteristic() override {}
    void add_late_fsyn_algorithms() override { m_lists_asked += "LATE "; }
    void run_netlist_sweeper() override {}
    bool create_and_run_algorithm(int, MORV_PARAMETER_MAP&) override
    {
        ++m_algorithms_run;
        return true;
    }

    using MORV_EXPERT::back_annotate_delays;
    using MORV_EXPERT::check_if_fsyn_flow_can_be_run;
    using MORV_EXPERT::get_interconnection_delay_on_iterm;
    using MORV_EXPERT::get_target_for_flow;

    bool flow_enabled(int flow) const { return m_fsyn_flow_is_enabled[flow]; }
    void set_flow_enabled(int flow, bool on) { m_fsyn_flow_is_enabled[flow] = on; }
    bool algorithm_may_run(int id) const { return m_algorithm_list[id]; }
    void set_algorithm_may_run(int id, bool on) { m_algorithm_list[id] = on; }
    void set_flow_type(int type) { m_flow_type = type; }
    const std::string& read_log_name() const { return m_opx_physical_synthesis_read_log; }
    void set_read_log_name(const std::string& name) { m_opx_physical_synthesis_read_log = name; }
    int effort() const { return m_opx_physical_synthesis_effort; }
    // The enabled flows 0..4 as a string of 0/1, SYN_EARLY first.
    std::string enabled_flows() const
    {
        std::string s;
        for (int flow = 0; flow <= LATE_FSYN_FLOW; ++flow) s += m_fsyn_flow_is_enabled[flow] ? '1' : '0';
        return s;
    }
    int count_algorithms_that_may_run() const
    {
        int n = 0;
        for (int id = 0; id < ALGORITHM_END; ++id) n += m_algorithm_list[id] ? 1 : 0;
        return n;
    }

    int m_user_option_calls = 0;
    std::string m_lists_asked;
    int m_algorithms_run = 0;

protected:
    const char* get_family_class_name() const override { return "MORV_PROBE_EXPERT"; }

private:
    bool m_flat_allowed;
};
