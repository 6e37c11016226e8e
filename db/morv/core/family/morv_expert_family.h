#ifndef MORV_EXPERT_FAMILY_H
#define MORV_EXPERT_FAMILY_H

#include "morv/core/morv_expert.h"

// The members every family driver declares alike. Each family stays a class of
// its own, derived from MORV_EXPERT directly (the host and the tests name it),
// so the shared part comes in as text rather than through a middle class.
// The default lists of each flow point come with the family's list rules;
// until then every family's user-option mode says so and runs nothing. The
// constructor, the user-option column and the factory are each family's own.
// Leaves the class in protected access.
#define MORV_EXPERT_FAMILY_MEMBERS(CLASS)                                                                                \
public:                                                                                                                  \
    explicit CLASS(MORV_ENV* env);                                                                                       \
    ~CLASS() override {}                                                                                                 \
                                                                                                                         \
    /* The class built for each algorithm id (see create_and_run_from_table). */                                         \
    static const char* const s_ALGORITHM_CLASS_NAMES[ALGORITHM_END];                                                     \
                                                                                                                         \
    bool is_fsyn_allowed_in_flat_flow() override { return false; }                                                       \
    void set_user_option_algorithms_to_run() override;                                                                   \
    bool run_fsyn_flat_flow(e_fsyn_flow fsyn_flow_id) override                                                           \
    {                                                                                                                    \
        run_shared_flat_flow(fsyn_flow_id);                                                                              \
        return true;                                                                                                     \
    }                                                                                                                    \
    void add_cluster_retry_fsyn_algorithms() override                                                                    \
    {                                                                                                                    \
        report_no_default_algorithm_list("add_cluster_retry_fsyn_algorithms");                                           \
    }                                                                                                                    \
    void add_syn_early_fsyn_algorithms() override { report_no_default_algorithm_list("add_syn_early_fsyn_algorithms"); } \
    void add_fit_early_fsyn_algorithms(e_fsyn_flow) override                                                             \
    {                                                                                                                    \
        report_no_default_algorithm_list("add_fit_early_fsyn_algorithms");                                               \
    }                                                                                                                    \
    void add_late_fsyn_algorithms_for_circuit_characteristic() override                                                  \
    {                                                                                                                    \
        report_no_default_algorithm_list("add_late_fsyn_algorithms_for_circuit_characteristic");                         \
    }                                                                                                                    \
    void add_late_fsyn_algorithms() override { report_no_default_algorithm_list("add_late_fsyn_algorithms"); }           \
    void run_netlist_sweeper() override { run_family_netlist_sweeper(); }                                                \
    bool create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters) override;                            \
                                                                                                                         \
protected:                                                                                                               \
    const char* get_family_class_name() const override { return #CLASS; }

#endif
