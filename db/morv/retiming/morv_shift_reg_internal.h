#pragma once

// What the shift-register manager's files share: the clock and clear a
// group's registers agree on.

#include "morv/rammap/morv_signal.h"
#include "morv/retiming/morv_shift_reg_manager.h"

struct MORV_SHIFT_REG_MANAGER::SIGNALS
{
    MORV_SIGNAL clock;
    MORV_SIGNAL clear;
    bool has_clock = false;  // the first clock found sets it
    bool has_clear = false;
};
