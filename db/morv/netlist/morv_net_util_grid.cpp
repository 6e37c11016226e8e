// Routing delay samples of the LAB grid.

#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// The samples need the facade's placement delay and location queries,
// which come with the placement model; until then they answer 0.
int not_built(const char* what)
{
    static bool warned = false;
    if (!warned)
        MORV_DEBUG_STREAM::print(1, "WARNING: %s needs the placement delay queries, not built yet; using 0", what);
    warned = true;
    return 0;
}

}  // namespace

int MORV_NET_UTIL::grid_average_neighbour_delay() const
{
    return not_built("get_average_neighbour_delay");
}

int MORV_NET_UTIL::grid_sample_location_delay() const
{
    return not_built("get_sample_location_delay");
}
