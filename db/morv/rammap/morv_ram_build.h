#pragma once

// Construction of the RAM slices that replace an encoded cluster: the
// manager's create_simple_ram and the pieces it is made of.

#include <string>

class MORV_CLUSTER;
class MORV_RAM_MAP_AREA_CLUSTER_MANAGER;

// The base name every built RAM starts from.
inline constexpr const char* MORV_RAM_BASE_NAME = "_FSYN_RAM";
// Suffix of one slice, before its bit number.
inline constexpr const char* MORV_RAM_SLICE_SUFFIX = "_RAM";
// Suffix of the shared clear-emulation register of a register type.
inline constexpr const char* MORV_RAM_REGGED_SUFFIX = "_REGGED";
