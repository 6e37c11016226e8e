#pragma once
// Greedy connectivity-driven packing of logic cells and registers into LABs.
// Works on a plain index graph so that it does not depend on how the caller
// holds its netlist.

#include <cstdint>
#include <vector>

namespace morv_host {

enum class PACK_KIND : uint8_t
{
    COMB,   // takes one logic-element slot
    REG,    // takes one register slot
    LCELL,  // a logic element holding both (UVO): one of each slot
    SOLO,   // a block that fills a LAB of its own (RAM, DSP, ...)
    IO,     // placed on I/O sites, never clustered
};

struct PACK_NET
{
    int driver = -1;         // cell index or -1
    std::vector<int> sinks;  // cell indices
};

struct PACK_PROBLEM
{
    std::vector<PACK_KIND> kinds;  // per cell
    std::vector<PACK_NET> nets;
    int lab_capacity = 10;  // logic elements (and registers) per LAB
    // Nets with more pins than this do not attract: a clock or reset would
    // otherwise make every register look related and make packing quadratic.
    int max_attracting_pins = 64;
};

struct PACK_RESULT
{
    std::vector<int> cluster_of;             // per cell, -1 for IO cells
    std::vector<std::vector<int>> clusters;  // cells per cluster, in packing order
};

PACK_RESULT pack_cells(const PACK_PROBLEM& problem);

}  // namespace morv_host
