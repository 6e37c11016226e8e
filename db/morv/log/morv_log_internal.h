#pragma once

// What the change-log files share: the numbers a replay finds outputs by,
// the name a log line gives an instance, the latch roles, and the host
// services the log reaches through the API.

#include <cstdint>
#include <string>

#include "hdb/hdb_instance_name.h"

class BPM_BOUNDARY_PORT_MANAGER;
class HDB_ACTION_PT_INSTANCE;
class MORV_API;

// The output a name index leaves out.
inline constexpr int MORV_LOG_UNINDEXED_OUTPUT_PORT = 6;
// The low carry output of an MRL adder, as MRL numbers its ports.
inline constexpr int MORV_LOG_ADDER_LOW_CARRY_OUT = 44;
// The kind of a logged mask set on the node itself, not through the netlist interface.
inline constexpr uint32_t MORV_LOG_LUTMASK_VIA_NODE = 2;

// An instance's name in a log line: its short path, "" without a name.
inline std::string morv_log_short_name(const HDB_INSTANCE_NAME* name)
{
    return name != nullptr ? name->get_short_hpath() : std::string();
}

// The latch roles a logged source list ends with.
inline bool morv_log_is_latch_text(const std::string& text)
{
    return text == "ENABLE1" || text == "ENABLE0" || text == "CLEAR" || text == "PRESET" || text == "FEEDBACK";
}

BPM_BOUNDARY_PORT_MANAGER* morv_log_port_manager(MORV_API* api);
// Null without a compiler facade.
HDB_ACTION_PT_INSTANCE* morv_log_action_point(MORV_API* api);
