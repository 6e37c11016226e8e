#pragma once

// The project settings the component reads by number, and the values of the
// effort setting. The stand-in compiler sets them by the same names, so the
// numbers live here and nowhere else.

enum MORV_SETTING_ID : int
{
    MORV_SETTING_RETIMING_NO_DEMUX = 371,        // bool, per instance: keep a register's controls as they are
    MORV_SETTING_MIGRATION_TARGET_DEVICE = 479,  // string on the chip; "<None>" or empty: none
    MORV_SETTING_PLACER_SEED = 566,              // int
    MORV_SETTING_TEST_STRING = 634,              // string
    MORV_SETTING_COMB_LOGIC_FOR_FITTING = 659,   // bool
    MORV_SETTING_COMB_LOGIC = 660,               // bool
    MORV_SETTING_READ_LOG = 661,                 // string: the change log to replay, "OFF" for none
    MORV_SETTING_REGISTER_DUPLICATION = 662,     // bool
    MORV_SETTING_LOGIC_TO_MEMORY = 663,          // bool
    MORV_SETTING_REGISTER_RETIMING = 664,        // bool
    MORV_SETTING_ASYNC_PIPELINING = 665,         // bool
    MORV_SETTING_PIPELINING = 666,               // int, per instance
    MORV_SETTING_PIPELINING_NO_DST_CHECK = 667,  // bool, per instance
    MORV_SETTING_PIPELINE_REGISTERS = 668,       // int, per instance: registers added behind a register
    MORV_SETTING_EFFORT = 696,                   // enum, MORV_EFFORT below
};

// Values of MORV_SETTING_EFFORT; 0 (absent) selects the normal lists.
enum MORV_EFFORT : int
{
    MORV_EFFORT_NORMAL = 65,
    MORV_EFFORT_FAST = 81,
    MORV_EFFORT_EXTRA = 152,
};
