#pragma once

// Helpers of the RAM flow that the RAM builder and the tests share.

#include <string>
#include <vector>

#include "morv/rammap/morv_ram_mif.h"

class MORV_CLUSTER_RAM_STATE_ENCODING;
class MORV_RAM_MAP_UTIL;

// A cluster of more than 512 bits, or of 20 inputs or more, needs a medium
// RAM; a smaller one takes a small RAM, or a medium one when no small one
// is left.
bool morv_ram_needs_medium(int inputs, long long bits);

// Writes the file of an encoded cluster under the utility's next name and
// returns that name; on failure posts an error naming the file and returns
// an empty string. Nothing of the netlist is touched either way.
std::string morv_write_cluster_mif(MORV_RAM_MAP_UTIL* util, const MORV_CLUSTER_RAM_STATE_ENCODING& encoding);
