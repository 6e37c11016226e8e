#include "morv/debug/morv_manual.h"

#include <fstream>
#include <sys/stat.h>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/debug/morv_manual_script.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/timing/morv_timing.h"

namespace {

// The texts are plain words, never formats: every line is formatted by a
// literal at its call, where the compiler checks it.
struct MANUAL_COMMAND_TEXT
{
    const char* name;
    const char* description;
    const char* attempt;  // logged before a step, then " node <id>."
    const char* result;   // the console text after a step, then " succeeded." or " failed."
    const char* script;   // logged for a script line, then " (params: <argument>)"
};

const MANUAL_COMMAND_TEXT COMMANDS[MORV_MANUAL_COMMAND_COUNT] = {
    {"fom", "Returns the current figure-of-merit from fsyn_api.", nullptr, nullptr, nullptr},
    {"forward_push", "Forward push across a combinational node.", "Attempting a forward push on", "Forward push",
     "Forward push"},
    {"backward_push", "Backward push across a combinational node.", "Attempting a backward push on", "Backward push",
     "Backward push"},
    {"demux", "Demux a register.", "Attempting to demux", "Demux node", "Demux"},
    {"split", "Split the fanout of a node.", "Attempting to split", "Split node", "Split"},
    {"resyn", "Resynthesize a cone of logic.", "Attempting to resyn", "Resyn", "Resyn"},
    {"play", "Playback a manual fsyn script.", nullptr, nullptr, nullptr},
};

constexpr const char* DEFAULT_SCRIPT_FILE = "fsyn_manual.txt";
constexpr int RESYN_CLASS_INDEX = RESYN_ALGORITHM;
constexpr int RETIMING_CLASS_INDEX = RTM_ALGORITHM;

bool is_regular_file(const std::string& name)
{
    struct stat info;
    return stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

// ---------------------------------------------------------------- callbacks

void MORV_MANUAL_CALLBACKS::register_command(unsigned local_id, const char* name, const char* description)
{
    const int tool_id = m_fsyn_plx->register_command(name, description, this);
    m_command_ids[tool_id] = local_id;
}

void MORV_MANUAL_CALLBACKS::unregister_command(unsigned local_id)
{
    for (const auto& [tool_id, local] : m_command_ids) {
        if (local != local_id) continue;
        m_fsyn_plx->unregister_command(tool_id);
        return;
    }
    MORV_DEBUG_STREAM::print(100, "Unable to unregister command %u.", local_id);
}

void MORV_MANUAL_CALLBACKS::invoke(int command_id, std::string argument)
{
    auto found = m_command_ids.find(command_id);
    if (found == m_command_ids.end()) {
        MORV_DEBUG_STREAM::print(100, "Unrecognized command.");
        return;
    }
    m_owner->execute_command(found->second, argument);
}

// ---------------------------------------------------------------- algorithm

MORV_MANUAL::MORV_MANUAL(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(api, params)
{
    MORV_DEBUG_STREAM::print(100, "MORV_MANUAL Created.");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    MORV_ASSERT_TEXT(m_cdb_interface, "m_cdb_interface");
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    m_fsyn_plx = expert != nullptr ? expert->get_fsyn_plumrix() : nullptr;
    MORV_ASSERT_TEXT(m_fsyn_plx, "m_fsyn_plx");
    m_callback_functionoid = MORV_MAKE_OWNER(MORV_MANUAL_CALLBACKS, this, m_fsyn_plx);
    MORV_ASSERT_TEXT(m_callback_functionoid, "m_callback_functionoid");
    m_read_operations_file = cfg_is_on("fsyn_read_manual_ops_file", false);
    const std::string file = params != nullptr ? get_algorithm_param(*params, "FILE") : std::string();
    m_script_file_name = file.empty() ? DEFAULT_SCRIPT_FILE : file;
}

MORV_MANUAL::~MORV_MANUAL()
{
    MORV_ASSERT_TEXT(m_callback_functionoid, "m_callback_functionoid");
    m_callback_functionoid.reset();
    MORV_DEBUG_STREAM::print(100, "MORV_MANUAL Destroyed");
}

bool MORV_MANUAL::is_link_enabled() const
{
    return m_fsyn_api->is_plumrix_enabled() && m_fsyn_plx->is_enabled();
}

void MORV_MANUAL::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                   int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = -99999.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 0;
    if (!is_link_enabled()) return;
    for (int local = 0; local < MORV_MANUAL_COMMAND_COUNT; ++local)
        m_callback_functionoid->register_command(local, COMMANDS[local].name, COMMANDS[local].description);
}

void MORV_MANUAL::set_default_pass_parameters(int, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 99999;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = 99999;
}

int MORV_MANUAL::do_iter()
{
    m_operations_count = 0;
    if (m_read_operations_file && !m_played) {
        m_played = true;
        play_manual_file(m_script_file_name);
    }
    if (is_link_enabled()) m_fsyn_plx->breakpoint(morv_plx_breakpoint_name("MANUAL_%d", get_curr_iter()).c_str());
    return m_operations_count;
}

void MORV_MANUAL::finish_algorithm()
{
    if (!is_link_enabled()) return;
    for (int local = 0; local < MORV_MANUAL_COMMAND_COUNT; ++local) m_callback_functionoid->unregister_command(local);
}

void MORV_MANUAL::execute_command(unsigned local_id, const std::string& argument)
{
    if (local_id == MORV_MANUAL_FOM) send_fom();
    else if (local_id >= MORV_MANUAL_FORWARD_PUSH && local_id <= MORV_MANUAL_RESYN) run_single_step(local_id, argument);
    else if (local_id == MORV_MANUAL_PLAY) play_manual_file(argument);
    else MORV_DEBUG_STREAM::print(100, "Unrecognized command id: %u", local_id);
}

void MORV_MANUAL::send_fom()
{
    if (!is_link_enabled()) return;
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(timing, "timing");
    m_fsyn_plx->print("FOM = %f", static_cast<double>(timing->get_figure_of_merit(false)));
}

void MORV_MANUAL::run_single_step(unsigned local_id, const std::string& argument)
{
    const MANUAL_COMMAND_TEXT& text = COMMANDS[local_id];
    const int atom_id = morv_manual_parse_atom_id(argument);
    bool success = false;
    if (atom_id < 0) {
        MORV_DEBUG_STREAM::print(1, "A node ID is required.");
    } else {
        MORV_DEBUG_STREAM::print(100, "%s node %d.", text.attempt, atom_id);
        success = run_step_on_atom(local_id, atom_id);
        if (success) ++m_operations_count;
    }
    if (is_link_enabled()) m_fsyn_plx->print("%s %s.", text.result, success ? "succeeded" : "failed");
}

bool MORV_MANUAL::run_step_on_atom(unsigned local_id, int atom_id)
{
    // An id from the user that names no atom must not reach the steps,
    // which take their atom as given.
    if (m_fsyn_api->get_node(atom_id) == nullptr) {
        MORV_DEBUG_STREAM::print(1, "Node %d does not exist.", atom_id);
        return false;
    }
    const MORV_FAMILY_DRIVER_TRAITS* driver = morv_family_traits(m_fsyn_api->get_base_family_code()).m_driver;
    if (driver == nullptr || driver->m_algorithm_class_names == nullptr) {
        MSG_INTERNAL_ERROR::report("Family not supported!", "MORV", __FILE__, __LINE__);
        return false;
    }
    if (local_id == MORV_MANUAL_RESYN) return run_resyn_step(atom_id);
    return run_retiming_step(local_id, atom_id);
}

// The single retiming steps belong to the family's retiming class: a fresh
// object of it for each step, so that no state of one step reaches the next.
bool MORV_MANUAL::run_retiming_step(unsigned local_id, int atom_id)
{
    const MORV_FAMILY_DRIVER_TRAITS* driver = morv_family_traits(m_fsyn_api->get_base_family_code()).m_driver;
    const char* class_name = driver->m_algorithm_class_names[RETIMING_CLASS_INDEX];
    const MORV_PARAMETER_MAP empty;
    MORV_OWNER<MORV_ALGORITHM_BASE> algorithm;
    if (class_name == nullptr || !morv_make_family_algorithm(class_name, m_fsyn_api, &empty, &algorithm)) {
        MSG_INTERNAL_ERROR::report("Family not supported!", "MORV", __FILE__, __LINE__);
        return false;
    }
    MORV_RETIMING* retiming = dynamic_cast<MORV_RETIMING*>(algorithm.get());
    MORV_ASSERT_TEXT(retiming, "retiming");
    const auto id = static_cast<uint32_t>(atom_id);
    switch (local_id) {
    case MORV_MANUAL_FORWARD_PUSH: return retiming->single_forward_push(id);
    case MORV_MANUAL_BACKWARD_PUSH: return retiming->single_backward_push(id);
    case MORV_MANUAL_DEMUX: return retiming->single_demux(id);
    case MORV_MANUAL_SPLIT: return retiming->single_split(id);
    default: return false;
    }
}

bool MORV_MANUAL::run_resyn_step(int atom_id)
{
    const MORV_FAMILY_DRIVER_TRAITS* driver = morv_family_traits(m_fsyn_api->get_base_family_code()).m_driver;
    const char* class_name = driver->m_algorithm_class_names[RESYN_CLASS_INDEX];
    const MORV_PARAMETER_MAP empty;
    MORV_OWNER<MORV_ALGORITHM_BASE> algorithm;
    if (class_name == nullptr || !morv_make_family_algorithm(class_name, m_fsyn_api, &empty, &algorithm)) {
        MSG_INTERNAL_ERROR::report("Family not supported!", "MORV", __FILE__, __LINE__);
        return false;
    }
    MORV_RESYN* resyn = dynamic_cast<MORV_RESYN*>(algorithm.get());
    MORV_ASSERT_TEXT(resyn, "resyn");
    return resyn->resynthesize_node(atom_id);
}

void MORV_MANUAL::play_manual_file(const std::string& file_name)
{
    MORV_DEBUG_STREAM::print(100, "Opening FSYN manual file '%s' for playback.", file_name.c_str());
    std::ifstream in;
    if (is_regular_file(file_name)) in.open(file_name, std::ios::binary);
    if (!in.is_open()) {
        MORV_DEBUG_STREAM::print(1, "Could not open fsyn manual file.  No manual operations performed.");
        return;
    }
    const MORV_MANUAL_SCRIPT script = morv_read_manual_script(in);
    for (const MORV_MANUAL_SCRIPT_PROBLEM& problem : script.problems)
        MORV_DEBUG_STREAM::print(1, "fsyn manual file '%s' %s.", file_name.c_str(), problem.text.c_str());
    for (const MORV_MANUAL_SCRIPT_OP& op : script.ops) {
        const int local = morv_manual_script_command(op.keyword);
        MORV_DEBUG_STREAM::print(100, "Read: %s {%s}", op.keyword.c_str(), op.argument.c_str());
        MORV_DEBUG_STREAM::print(1, "%s (params: %s)", COMMANDS[local].script, op.argument.c_str());
        execute_command(local, op.argument);
    }
}
