#pragma once
// Register controls written as logic, read back into the register.
//
// Synthesis writes a register's clock enable as a mux in front of its data
// input that feeds the register's own output back. A latch whose data cover
// reads the latch's output and computes `e ? x : q` for one of its inputs e
// (or `e ? q : x`, an active-low enable) is given that enable; inside x a
// synchronous clear (an input whose one value forces 0) and then a
// synchronous load (an input choosing between two inputs) are taken the
// same way, in the register's own order of priority:
//   next = ena ? (sclr ? 0 : (sload ? sdata : d)) : q.
// What is left becomes the data: the net itself when it is one input,
// otherwise the cover rewritten to it when the latch alone reads the cover,
// else a new cover "<q>~d" beside it. A cover nothing reads any more is
// dropped. A clear or load is only taken together with an enable: without
// the register's own output in the cover, nothing tells a reset from data
// logic. Latches that power up at 1 keep their logic.
#include "io/blif_parser.h"

struct BLIF_CONTROL_COUNTS
{
    int enables = 0;  // latches given a clock enable
    int clears = 0;   // of those, given a synchronous clear
    int loads = 0;    // of those, given a synchronous load
    int covers_removed = 0;
    int covers_added = 0;
};

BLIF_CONTROL_COUNTS blif_fold_register_controls(BLIF_MODEL& model);
