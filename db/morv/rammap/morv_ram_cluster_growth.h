#pragma once

// Growth of a logic-to-RAM cluster from a seed: forced legalisation, then
// neighbours across the outputs and the inputs, the maximum fanout-free
// cone, and trimmed inputs; every legal state is scored and the best one
// kept. The RAM flow that drives the growth per register type is built on
// top of it.

#include "morv/rammap/morv_cluster_delegate.h"

class MORV_CLUSTER_RAM_FLOW : public MORV_CLUSTER_FLOW
{
public:
    // Candidates per register type, the greedy choice and the RAMs built
    // within the free RAM budget (morv_ram_flow.cpp); the RAMs built.
    int run() override;
    // A legal cluster as profitable as growth finds, or the cluster as a
    // failed legalisation left it (the caller rejects it), or null for a
    // seed without any driven data input. The caller owns the result.
    virtual MORV_CLUSTER* grow_cluster(CDB_ATOM_NODE* seed);
};

enum MORV_GRAB_SIDE : int
{
    MORV_GRAB_OUTPUTS = 0,
    MORV_GRAB_INPUTS = 1
};

// True when the cluster is the best seen in this growth (ties replace it).
bool morv_evaluate_cluster(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster);
// Fewer than 20 inputs and no more bits than the manager's limit.
bool morv_fits_max_bits(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster);
// Adds the sinks of boundary oterms that bring no new input; false when a
// legalisation on the way failed.
bool morv_grab_neighbours(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster, int side);
// Nodes added / removed.
int morv_expand_mffc(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster);
int morv_trim_inputs(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster, int capacity);
