#pragma once

// The flow drivers of the supported families. Each is a class of its own,
// derived directly from MORV_EXPERT with no data of its own (the host and the
// tests name them); what sets one family's driver apart from another's is
// read from the family's row of the traits table.

#include "dev/dev_device.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_expert.h"

template <int FAMILY>
class MORV_EXPERT_FAMILY : public MORV_EXPERT
{
public:
    explicit MORV_EXPERT_FAMILY(MORV_ENV* env);
    ~MORV_EXPERT_FAMILY() override {}

    void find_and_set_which_algorithms_are_to_run() override;
    bool is_fsyn_allowed_in_flat_flow() override { return false; }
    void set_user_option_algorithms_to_run() override;
    bool run_fsyn_replay_log_flow() override;
    bool run_fsyn_flat_flow(e_fsyn_flow fsyn_flow_id) override;
    // The family's default lists (morv_default_lists.cpp).
    void add_cluster_retry_fsyn_algorithms() override;
    void add_syn_early_fsyn_algorithms() override;
    void add_fit_early_fsyn_algorithms(e_fsyn_flow fsyn_flow_id) override;
    void add_late_fsyn_algorithms_for_circuit_characteristic() override;
    void add_late_fsyn_algorithms() override;
    bool check_if_log_file_exists() override;
    bool tune_stability_threshold() override;
    void run_netlist_sweeper() override;
    bool create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters) override;

protected:
    const char* get_family_class_name() const override;

private:
    static const MORV_FAMILY_DRIVER_TRAITS& driver();
    static const MORV_DEFAULT_LISTS& lists();
};

extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_BRENNOCK>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_ZEPLA>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_TEV>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_MORLIN>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_KESTLIN>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_RZK>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_OBRAN>;
extern template class MORV_EXPERT_FAMILY<DEV_FAMILY_UVO>;

using MORV_EXPERT_BRK = MORV_EXPERT_FAMILY<DEV_FAMILY_BRENNOCK>;
using MORV_EXPERT_ZEPLA = MORV_EXPERT_FAMILY<DEV_FAMILY_ZEPLA>;
using MORV_EXPERT_TEV = MORV_EXPERT_FAMILY<DEV_FAMILY_TEV>;
using MORV_EXPERT_MRL = MORV_EXPERT_FAMILY<DEV_FAMILY_MORLIN>;
using MORV_EXPERT_KESTLIN = MORV_EXPERT_FAMILY<DEV_FAMILY_KESTLIN>;
using MORV_EXPERT_RZK = MORV_EXPERT_FAMILY<DEV_FAMILY_RZK>;
using MORV_EXPERT_OBRAN = MORV_EXPERT_FAMILY<DEV_FAMILY_OBRAN>;
using MORV_EXPERT_UVO = MORV_EXPERT_FAMILY<DEV_FAMILY_UVO>;
