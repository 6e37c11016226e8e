#pragma once

// SAVE_RESTORE exercises the saved-state machinery from a run list: it saves
// the netlist with its figure of merit and restores an earlier one, always
// the first one saved or, with BEST=1, the last one whose figure of merit
// beats the present netlist's. What it saved is kept in the facade's tables
// for the rest of the compile, across runs and flows.

#include "morv/core/algorithm/morv_algorithm_base.h"

class MORV_NET_UTIL;
struct MORV_SAVE_RESTORE_TABLES;

class MORV_SAVE_RESTORE : public MORV_ALGORITHM_BASE
{
public:
    MORV_SAVE_RESTORE(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_SAVE_RESTORE() override;

    std::string get_short_name() override { return "SAVE_RESTORE"; }
    std::string get_description() override { return "evaluation"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    // Saves and restores; never reports an operation.
    int do_iter() override;

    bool is_best() const { return m_best; }

private:
    // Saves the present netlist: into entry 0 with overwrite, else as a new
    // entry. Returns the entry's number (0 with overwrite, else the new count).
    int save_netlist(bool overwrite);
    void restore_netlist(int entry);
    void clean_up();

    MORV_NET_UTIL* m_net_util;
    MORV_SAVE_RESTORE_TABLES& m_tables;
    bool m_best = false;
};
