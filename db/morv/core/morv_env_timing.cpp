#include "morv/core/morv_env_timing.h"

#include "tdc/tdc_accessories.h"

bool morv_env_is_early_timing_enabled()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    return accessories != nullptr && accessories->is_early_timing_enabled();
}

TDB_NETLIST* morv_env_get_tdb_netlist()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    return accessories ? accessories->get_tdb_netlist() : nullptr;
}
