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

// The columns a cluster's memory-initialisation file holds: the encoded
// contents, with the column of every data bit that powers up as 1 stored
// inverted when the family cannot emulate the power-up value (an inverter
// behind the slice undoes it).
std::vector<MORV_RAM_COLUMN> morv_ram_file_columns(const MORV_CLUSTER_RAM_STATE_ENCODING& encoding,
                                                   bool emulates_clear);

// Writes the file of an encoded cluster under the utility's next name and
// returns that name; on failure posts an error naming the file and returns
// an empty string. Nothing of the netlist is touched either way.
std::string morv_write_cluster_mif(MORV_RAM_MAP_UTIL* util, const MORV_CLUSTER_RAM_STATE_ENCODING& encoding);
