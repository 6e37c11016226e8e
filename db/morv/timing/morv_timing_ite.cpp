#include "morv/timing/morv_timing_ite.h"

// No engine in this build: the timing front end stays with full analyses.
MORV_OWNER<MORV_TIMING_ITE> morv_create_timing_ite(MORV_API*)
{
    return nullptr;
}
