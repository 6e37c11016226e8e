#include "morv/core/morv_env_timing.h"

#include "tdc/tdc_accessories.h"

// The host's accessories report no separate early-timing switch; early
// timing is available exactly when the host can estimate timing before
// placement.
bool morv_env_is_early_timing_enabled()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    return accessories != nullptr && accessories->is_estimation_supported();
}

TDB_NETLIST* morv_env_get_tdb_netlist()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    return accessories ? accessories->get_tdb_netlist() : nullptr;
}
