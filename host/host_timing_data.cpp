#include "host_timing_data.h"

#include "csu/csu_timing_data_adapter.h"
#include "morv/timing/morv_timing_data.h"

namespace morv_host {

void install_component_timing_data()
{
    static const CSU_TIMING_DATA_ADAPTER<MORV_TIMING_DATA> s_component_tables;
    csu_set_timing_data_source(&s_component_tables);
}

}  // namespace morv_host
