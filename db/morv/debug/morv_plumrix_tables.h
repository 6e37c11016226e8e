#pragma once

// The three name tables sent to the tool once per connection: cell types,
// input-port types and output-port types, each ending in "Unknown".

#include <cstdint>
#include <string>

int morv_plx_table_size(uint32_t table_id);
// The entry's name before shortening; "TYPE_<n>" for a number the host
// gives no name.
std::string morv_plx_table_name(uint32_t table_id, int index);
