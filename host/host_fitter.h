#pragma once
// The host's fitter steps between flow points: clustering into LABs and
// simulated-annealing placement, on the environment's netlist, with the
// results handed to the component through its exported interface.

#include <cstdint>
#include <string>
#include <vector>

class MORV_EXPERT_INTERFACE;

namespace morv_host {

class HOST_ENV;

struct HOST_CLUSTERING
{
    // Atom ids per cluster; atoms made or deleted later are handled at placement.
    std::vector<std::vector<uint32_t>> clusters;
    int io_atoms = 0;
};

// Packs the netlist's logic cells and registers into LABs of the device's
// capacity; I/O cells stay apart.
HOST_CLUSTERING cluster_netlist(HOST_ENV& env);
// Gives the component a fresh cluster map holding these clusters.
void hand_clusters_to_component(HOST_ENV& env, const HOST_CLUSTERING& clustering, MORV_EXPERT_INTERFACE* expert);

// Why the clusters cannot all be placed on the device (too few LABs, I/O
// or RAM sites, a locked region too small), in the words placement would
// fail with; empty when they fit.
std::string clustering_misfit(HOST_ENV& env, const HOST_CLUSTERING& clustering);

struct HOST_PLACEMENT
{
    bool ok = false;
    std::string error;
    long long moves = 0;
    int temperatures = 0;
    long long wirelength = 0;
    int labs = 0;
    int placed_later = 0;  // atoms placed next to their origin after the annealer
    int starts = 0;        // anneals run
};

// How hard placement tries. Independent anneals (starts), each from a seed
// of its own, with the one that times best kept, make the result depend far
// less on the seed; they run while all of them together stay within
// `start_budget` moves per temperature, so that they cost little on small
// designs and nothing extra on large ones.
struct HOST_PLACE_EFFORT
{
    double moves = 1.0;  // factor of the annealer's move budget
    int max_starts = 1;
    double start_budget = 0;  // moves per temperature the starts share
};

// Places the clusters (and the atoms that joined the netlist since
// clustering) with the annealer; the seed is the placer-seed setting. Sets every
// atom's location and re-times with routing delays.
HOST_PLACEMENT place_netlist(HOST_ENV& env, const HOST_CLUSTERING& clustering, uint32_t seed,
                             const HOST_PLACE_EFFORT& effort);
// Tells the component where every placed atom is.
void hand_locations_to_component(HOST_ENV& env, MORV_EXPERT_INTERFACE* expert);

// Title of the report table of the reset nets the component will pipeline.
constexpr const char* HOST_PIPELINED_RESETS_TABLE = "Reset Nets Pipelined After Placement";

// Asks the component, for every net that drives asynchronous clears,
// whether its LATE flow will pipeline it, and files those nets in the
// compile's report (no table when there are none); the answer is the
// component's as its early flow left it.
void report_reset_nets_to_pipeline(HOST_ENV& env, MORV_EXPERT_INTERFACE* expert);

}  // namespace morv_host
