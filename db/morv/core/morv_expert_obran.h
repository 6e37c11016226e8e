#ifndef MORV_EXPERT_OBRAN_H
#define MORV_EXPERT_OBRAN_H

#include "morv/core/morv_expert.h"

// Flow driver of the OBRAN family. All state lives in MORV_EXPERT.
class MORV_EXPERT_OBRAN : public MORV_EXPERT
{
public:
    explicit MORV_EXPERT_OBRAN(MORV_ENV* env);
    ~MORV_EXPERT_OBRAN() override;

    // The class built for each algorithm id (see create_and_run_from_table).
    static const char* const s_ALGORITHM_CLASS_NAMES[ALGORITHM_END];

    bool is_fsyn_allowed_in_flat_flow() override { return false; }
    void set_user_option_algorithms_to_run() override;
    bool run_fsyn_replay_log_flow() override;
    bool check_if_log_file_exists() override;
    bool run_fsyn_flat_flow(e_fsyn_flow fsyn_flow_id) override;
    void add_cluster_retry_fsyn_algorithms() override;
    void add_syn_early_fsyn_algorithms() override;
    void add_fit_early_fsyn_algorithms(e_fsyn_flow fsyn_flow_id) override;
    void add_late_fsyn_algorithms_for_circuit_characteristic() override;
    void add_late_fsyn_algorithms() override;
    void run_netlist_sweeper() override;
    bool create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters) override;

protected:
    const char* get_family_class_name() const override { return "MORV_EXPERT_OBRAN"; }
};

#endif
