#pragma once

// Netlist checks around each flow: a reference is taken at the start of a
// flow and the netlist is verified against it after a successful flow. The
// verification fails the compile with an internal error when the flow
// touched logic feeding asynchronous controls, lost or rewired such a
// connection, made a synchronizer more complex or added a global signal.

#include <cstdint>
#include <iosfwd>

class MORV_API;

void morv_drc_reference(MORV_API* fsyn_api, const char* flow_name);
void morv_drc_verify(MORV_API* fsyn_api, const char* flow_name);

enum MORV_DRC_COUNTER : int
{
    MORV_DRC_TRACKED_DONT_TOUCH_ERRORS = 0,
    MORV_DRC_MISSING_ITERM_ERRORS = 1,
    MORV_DRC_MISMATCHED_ITERM_ERRORS = 2,
    MORV_DRC_SYNC_RECLASSIFICATION_ERRORS = 3,
    MORV_DRC_GLOBAL_COUNT_ERRORS = 4,
    MORV_DRC_VERIFY_TOTAL_ERRORS = 5,
    MORV_DRC_NODE_DELETION_WARNINGS = 6,
    MORV_DRC_SYNC_WEAKENING_WARNINGS = 7,
    MORV_DRC_VERIFY_TOTAL_WARNINGS = 8,
    MORV_DRC_COUNTER_COUNT = 9
};

struct MORV_DRC_COUNTS
{
    uint32_t m_counts[MORV_DRC_COUNTER_COUNT] = {};

    uint32_t operator[](int counter) const { return m_counts[counter]; }
    // Adds to one counter and to the total it belongs to.
    void add(int counter, uint32_t amount);
};

// One line per counter ("value name"), the two totals last.
std::ostream& operator<<(std::ostream& out, const MORV_DRC_COUNTS& counts);

// The counters of the most recent verification step, also when it failed.
const MORV_DRC_COUNTS& morv_drc_last_counts();
