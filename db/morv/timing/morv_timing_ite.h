#pragma once

// The incremental timing estimator (iTEst) as the timing front end sees it:
// what it is told of netlist edits, and the two ways it brings timing up to
// date. The front end owns the engine while iTEst is in use.

#include "mem_alloc_sys.h"

class MORV_API;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;

class MORV_TIMING_ITE
{
public:
    virtual ~MORV_TIMING_ITE() = default;
    // The node changed (or is about to be deleted): the next estimation
    // re-times the logic around it.
    virtual void mark_node_for_analysis(CDB_ATOM_NODE* node, bool deleted) = 0;
    // A timing assignment was copied from one output term to another.
    virtual void track_oterm_copy(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to) = 0;
    // A full analysis of the netlist, then an estimation after edits.
    virtual void perform_full_timing_analysis() = 0;
    virtual void perform_timing_estimation() = 0;
    virtual double get_figure_of_merit() const = 0;
};

// The engine for a run; null while this build has none.
MORV_OWNER<MORV_TIMING_ITE> morv_create_timing_ite(MORV_API* api);
