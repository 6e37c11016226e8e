#pragma once

// The algorithm that changes nothing: it walks the netlist once per
// iteration and reports no operation, so that a run list can exercise the
// whole run machinery without editing the netlist.

#include "morv/core/algorithm/morv_algorithm_base.h"

class MORV_NET_UTIL;

class MORV_TEST : public MORV_ALGORITHM_BASE
{
public:
    MORV_TEST(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_TEST() override;

    std::string get_short_name() override { return "TEST"; }
    std::string get_description() override { return "test algorithm"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;

private:
    MORV_NET_UTIL* m_net_util;
};
