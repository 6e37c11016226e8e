// The process-wide objects of the component, in the order they are built at
// load; the runtime destroys them in the reverse order at unload. Keep them
// in this one file: across files the language fixes no order.

#include "morv/core/morv_global.h"

#include "cfg/cfg.h"
#include "mem/mem.h"

namespace {
// 1. Registered first, unregistered last: every other object below
// allocates under the tag.
MEM_INITIALIZER s_morv_mem_initializer(MORV_MEM_TAG::name);
}  // namespace

// 2.
const std::string s_morv_cluster_map_node_type_names[3] = {"UNDEF", "COMB", "FF"};

// 3. File name "fsyn_debug_dump.txt", threshold 1, every switch off, no
// file open until a line is written with file output on.
MORV_DEBUG_STREAM MORV_DEBUG_STREAM::s_stream;

// 4.
PIPE_ASYNC_OTERM_SET s_morv_critical_async_sources;
PIPE_ASYNC_REPORT_ROWS s_morv_pipe_async_report_rows;

// 5.
const bool s_morv_ram_map_debug = cfg_is_on("fsyn_ram_map_debug", false);
