#pragma once

// The few questions the timing front end asks the host's timing-utility
// handle, kept in one place so the front end does not depend on its layout.

class TDC_UTILITY;
class CDB_ATOM_ITERM;

void morv_timing_utility_analyse(TDC_UTILITY* utility);
double morv_timing_utility_slack_ratio(TDC_UTILITY* utility, CDB_ATOM_ITERM* iterm);
int morv_timing_utility_figure_of_merit(TDC_UTILITY* utility);
