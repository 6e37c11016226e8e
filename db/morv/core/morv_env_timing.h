#pragma once

// The two questions the entry code asks the host's timing accessories.

class TDB_NETLIST;

// Whether the host reports early (pre-placement) timing as enabled.
bool morv_env_is_early_timing_enabled();
// The host's current timing netlist, or null.
TDB_NETLIST* morv_env_get_tdb_netlist();
