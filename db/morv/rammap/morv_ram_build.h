#pragma once

// Construction of the RAM slices that replace an encoded cluster (the
// manager's create_simple_ram) and what the flow needs to know of it before
// the first edit: the columns exactly as the slices will hold them.

#include <vector>

#include "morv/rammap/morv_ram_mif.h"

class MORV_CLUSTER_RAM_STATE_ENCODING;

// The base name every built RAM starts from.
inline constexpr const char* MORV_RAM_BASE_NAME = "_FSYN_RAM";
// Suffix of one slice, after the name of the data bit it replaces.
inline constexpr const char* MORV_RAM_SLICE_SUFFIX = "_RAM";

// The encoding's columns as the memory-initialisation file must hold them:
// where the family cannot emulate a power-up value, a data bit that powers
// up at 1 is stored inverted and read back through an inverter.
std::vector<MORV_RAM_COLUMN> morv_ram_stored_columns(const MORV_CLUSTER_RAM_STATE_ENCODING& encoding,
                                                     bool emulates_clear);
