#pragma once
// Objects that live for the whole process rather than for one compile.
// They are all defined in morv_global.cpp, in one translation unit, so that
// loading the library builds them in a fixed order and unloading tears them
// down in the reverse order:
//   1. the memory-tracker registration under "MORV"
//   2. the names of the cluster-map node types
//   3. the debug stream (morv_debug_stream.h)
//   4. the asynchronous-pipelining sources and report rows
//   5. the RAM-mapping debug flag, read once from "fsyn_ram_map_debug"
// Nothing else runs at load. The SAVE_RESTORE algorithm's saved netlists
// are not among them: a save id holds only within its compile, so the
// facade keeps them (MORV_SAVE_RESTORE_TABLES).

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"

// ---------------------------------------------------------------- 1. memory tracker

// The registration itself has no interface: mem_get_tag_stats("MORV")
// reports it as registered from load to unload.

// ---------------------------------------------------------------- 2. cluster-map node types

// Printed names of the cluster map's node types 0 (undefined), 1
// (combinational cell) and 2 (register): "UNDEF", "COMB", "FF".
extern const std::string s_morv_cluster_map_node_type_names[3];

// ---------------------------------------------------------------- 4. asynchronous pipelining

// Key of an asynchronous source: the node driving the net and the port type
// of its driving output term. Keys compare by node id alone, so two output
// terms of one node are the same source.
struct PIPE_ASYNC_OTERM
{
    uint32_t m_node_id = 0;
    uint32_t m_port_type = 0;

    bool operator<(const PIPE_ASYNC_OTERM& other) const { return m_node_id < other.m_node_id; }
};

// One row of the asynchronous-pipelining report.
struct PIPE_ASYNC_REPORT_ROW
{
    uint32_t m_node_id = 0;
    uint32_t m_port_type = 0;
    uint32_t m_stages = 0;     // 0 when not pipelined
    uint32_t m_registers = 0;  // 0 when not pipelined
    std::string m_note;        // reason; empty for a pipelined source
};

using PIPE_ASYNC_OTERM_SET = std::set<PIPE_ASYNC_OTERM, std::less<PIPE_ASYNC_OTERM>, MORV_ALLOCATOR<PIPE_ASYNC_OTERM>>;
using PIPE_ASYNC_REPORT_ROWS = std::vector<PIPE_ASYNC_REPORT_ROW, MORV_ALLOCATOR<PIPE_ASYNC_REPORT_ROW>>;

// Critical asynchronous sources chosen by the early flow for the LATE flow.
extern PIPE_ASYNC_OTERM_SET s_morv_critical_async_sources;
// Report rows gathered across the flows of the process.
extern PIPE_ASYNC_REPORT_ROWS s_morv_pipe_async_report_rows;

// ---------------------------------------------------------------- 5. RAM-mapping debug flag

// "fsyn_ram_map_debug" as it was when the library loaded; later changes of
// the setting do not reach it.
extern const bool s_morv_ram_map_debug;
