#pragma once

// Logic-to-RAM mapping as an algorithm of the run driver: one iteration
// makes the family's RAM utility and a cluster manager, and the manager's
// RAM flow finds, chooses and builds the RAMs.

#include <string>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"

class MORV_CDB_INTERFACE;
class MORV_NET_UTIL;
class MORV_RAM_MAP_UTIL;

class MORV_RAM_MAP : public MORV_ALGORITHM_BASE
{
public:
    MORV_RAM_MAP(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RAM_MAP() override;

    std::string get_short_name() override { return "RAM_MAP_PLUS"; }
    std::string get_description() override { return "logic to memory mapping"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    // The number of RAMs built.
    int do_iter() override;

    // The utility of the API's base family, or null (with one warning line)
    // for a family that has none.
    static MORV_OWNER<MORV_RAM_MAP_UTIL> create_ram_map_util(MORV_API* api);

private:
    // Builds nothing when RAM edits cannot be logged or the family has no
    // RAM utility: both end the iteration before any edit.
    bool may_map() const;

    MORV_NET_UTIL* m_net_util = nullptr;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface = nullptr;
};
