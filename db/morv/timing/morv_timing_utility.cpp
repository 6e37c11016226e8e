#include "morv/timing/morv_timing_utility.h"

#include "cdb/cdb_atom_netlist.h"
#include "tdc/tdc_accessories.h"

void morv_timing_utility_analyse(TDC_UTILITY* utility)
{
    utility->run_legacy_analysis(true);
}

double morv_timing_utility_slack_ratio(TDC_UTILITY* utility, CDB_ATOM_ITERM* iterm)
{
    return utility->get_slack_ratio(iterm->get_my_node(), iterm->get_any_usage_as(), iterm->get_port_index());
}

int morv_timing_utility_figure_of_merit(TDC_UTILITY* utility)
{
    return utility->get_legacy_figure_of_merit(true);
}
