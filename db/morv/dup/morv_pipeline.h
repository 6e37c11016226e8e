#pragma once

// Per-instance pipelining: a user asks, through an instance option on a
// register, for a number of extra registers behind it. Each one is clocked
// and controlled like the assigned register and sits on its location, and
// the register's former fanouts end on the last one of the chain.

#include "morv/core/algorithm/morv_algorithm_base.h"

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class MORV_NET_UTIL;
struct MORV_LOC;

class MORV_PIPELINE : public MORV_ALGORITHM_BASE
{
public:
    MORV_PIPELINE(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_PIPELINE() override;

    std::string get_short_name() override { return "PIPELINE"; }
    std::string get_description() override { return "pipeline algorithm"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    // The number of registers inserted.
    int do_iter() override;
    bool reports_estimated_improvement() override { return true; }
    bool is_fom_close_to_optimal() override { return false; }
    bool use_itest() override { return false; }

private:
    // The registers the user asked for behind a register, 0 when it is not
    // a candidate.
    int requested_registers(CDB_ATOM_NODE* node);
    // A chain of count registers behind assigned; location null when it has none.
    void add_chain(CDB_ATOM_NODE* assigned, int count, const MORV_LOC* location);
    CDB_ATOM_NODE* add_register(CDB_ATOM_NODE* assigned, CDB_ATOM_NODE* tail, const MORV_LOC* location);
    void copy_control(CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to);

    MORV_NET_UTIL* m_net_util;
};
