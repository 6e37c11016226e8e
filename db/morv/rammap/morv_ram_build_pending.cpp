// Until the RAM builder lands the flow builds nothing: a chosen cluster is
// reported as not built and the netlist stays as it is.

#include "morv/core/morv_debug_stream.h"
#include "morv/rammap/morv_ram_cluster_manager.h"

bool MORV_RAM_MAP_AREA_CLUSTER_MANAGER::create_simple_ram(MORV_CLUSTER*, std::string&)
{
    MORV_DEBUG_STREAM::print(1, "RAM_MAP: the RAM builder is not available yet in this build; the cluster is skipped.");
    return false;
}
