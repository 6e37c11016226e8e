#pragma once

// Port numbers and small helpers the DSP retiming files share.

#include "cdb/cdb_types.h"

struct RETIME_SIGNAL;

// Bits a DSP data port can have; slice discovery scans this many terms.
constexpr int MORV_MAC_MAX_PORT_BITS = CDB_MAC_MAX_PORT_BITS;

// Control inputs whose use keeps a DSP atom out of retiming: the first two
// on both atom kinds, the other two on multipliers only.
constexpr int MORV_MAC_CONTROL_PORT_0 = 166;
constexpr int MORV_MAC_CONTROL_PORT_1 = 167;
constexpr int MORV_MAC_MULT_CONTROL_PORT_0 = 280;
constexpr int MORV_MAC_MULT_CONTROL_PORT_1 = 286;

// The mode's name as the slice log prints it ("" for a mode without one).
const char* morv_mac_mode_name(int mode);
// Modes whose registers a push may move.
bool morv_mac_mode_is_retimeable(int mode);

// Logs why a push is refused; false, for the caller to return.
bool morv_mac_refuse(const char* text);
// The signal is a source or a constant.
bool morv_mac_signal_has_value(const RETIME_SIGNAL& signal);
