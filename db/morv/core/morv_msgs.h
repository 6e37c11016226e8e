#pragma once
// The component's user-visible messages. Each is a fixed text with the
// host's numbered placeholders ("%1!s!", "%2!d!"), then '/', then its id;
// the id's first letter gives the kind (I info, W warning, E error).
// A message is built (factory or morv_new_msg), filled, posted unless the
// flow driver suppresses messages, and deleted at once (morv_send_msg).

#include <cstddef>

#include "mem_alloc_sys.h"
#include "msg/msg.h"

// Every message of the component: X(kind, id, "text/id").
#define MORV_MSG_LIST(X)                                                                                               \
    X(ERROR, EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL,                                                                      \
      "Physical Synthesis was unable to reproduce operations performed on the %1!s! device, and then on the %2!s! "    \
      "device after the design has been migrated.  Please recompile this circuit for the %1!s! device with all "       \
      "Physical Synthesis options turned off./EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL")                                    \
    X(ERROR, EMORV_FSYN_LOG_FILE_NOT_PRESENT,                                                                          \
      "Physical Synthesis was unable to find the log file required to perform Physical Synthesis on %1!s!.  Please "   \
      "recompile this circuit for the %2!s! device.  Then migrate to the %1!s! "                                       \
      "device./EMORV_FSYN_LOG_FILE_NOT_PRESENT")                                                                       \
    X(ERROR, EMORV_FSYN_LOG_CREATED_FROM_WRONG_VELMORA_REVISION,                                                       \
      "The Physical Synthesis Log file was created using a different Velmora II revision from the one currently "      \
      "running.  Please recompile the original revision using the current Velmora II "                                 \
      "revision./EMORV_FSYN_LOG_CREATED_FROM_WRONG_VELMORA_REVISION")                                                  \
    X(ERROR, EMORV_FSYN_LOG_FILE_DAMAGED,                                                                              \
      "Physical Synthesis cannot replay the log file %1!s!: %2!s!/EMORV_FSYN_LOG_FILE_DAMAGED")                        \
    X(WARNING, WMORV_FSYN_LOG_NODE_STILL_HAS_FANOUT,                                                                   \
      "The replayed log deletes node %1!s!, which still drives other nodes here: the node is "                         \
      "kept/WMORV_FSYN_LOG_NODE_STILL_HAS_FANOUT")                                                                     \
    X(WARNING, WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING,                                                            \
      "Node %1!s! differs from the node the replayed log was recorded from: the replay rebuilds the recorded logic "   \
      "and the change made to the design since then is lost/WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING")              \
    X(ERROR, EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH,                                                  \
      "The supplied Physical Synthesis optimization signature is not valid for this "                                  \
      "circuit./EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH")                                              \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_START,                                                                            \
      "Starting physical synthesis optimizations for %1!s!/IMORV_PHYSICAL_SYNTHESIS_START")                            \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_END,                                                                              \
      "Physical synthesis optimizations for %1!s! complete: elapsed CPU time is %2!s!/IMORV_PHYSICAL_SYNTHESIS_END")   \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_ALGO_START,                                                                       \
      "Starting physical synthesis algorithm %1!s!/IMORV_PHYSICAL_SYNTHESIS_ALGO_START")                               \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK,                                                                   \
      "Physical synthesis algorithm %1!s! complete: estimated slack improvement of %2!d! "                             \
      "ps/IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK")                                                                    \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_ALGO_END_AREA,                                                                    \
      "Physical synthesis algorithm %1!s! complete: estimated area improvement of %2!d! combinational logic elements " \
      "and %3!d! registers/IMORV_PHYSICAL_SYNTHESIS_ALGO_END_AREA")                                                    \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SHORT,                                                                   \
      "Physical synthesis algorithm %1!s! complete/IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SHORT")                           \
    X(INFO, IMORV_PHYSICAL_SYNTHESIS_ALGO_PROGRESS,                                                                    \
      "Algorithm %1!s! is on pass %2!d! of %3!d! and iteration %4!d! of %5!d!/IMORV_PHYSICAL_SYNTHESIS_ALGO_PROGRESS") \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_INFO,                                                               \
      "Automatic asynchronous signal pipelining - Evaluation Phase/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_INFO")       \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CHECKING_SIGNAL,                                                    \
      "Asynchronous signal %1!s!/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CHECKING_SIGNAL")                              \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS,                                                      \
      "Found %1!d! asynchronous signals of which %2!d! will be "                                                       \
      "pipelined/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS")                                                \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NON_CRITICAL_SIGNAL,                                                \
      "Signal not critical. No action is required/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NON_CRITICAL_SIGNAL")         \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CRITICAL_SIGNAL,                                                    \
      "Signal is critical/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CRITICAL_SIGNAL")                                     \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_USER_REQUESTED,                                                     \
      "Pipelining requested by user assignment. No timing check will be "                                              \
      "performed/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_USER_REQUESTED")                                               \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_ILLEGAL_FANOUT_SIGNAL,                                              \
      "Signal fans out to non asynchronous inputs at node %1!s!. No action will be "                                   \
      "taken/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_ILLEGAL_FANOUT_SIGNAL")                                            \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_DONT_TOUCH,                                                         \
      "Netlist optimizations are not allowed on this signal (either by user assignment or because of partition "       \
      "boundaries). No action will be taken/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_DONT_TOUCH")                        \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NOT_GCLK,                                                           \
      "Synchronization register's clock is not a global signal. No action will be "                                    \
      "taken/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NOT_GCLK")                                                         \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NO_SYNC_REGISTER,                                                   \
      "No synchronization register generates this signal. No action will be "                                          \
      "taken./IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NO_SYNC_REGISTER")                                                \
    X(INFO, IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_SIGNAL_WILL_BE_PIPELINED,                                           \
      "The signal will be pipelined in the Execution "                                                                 \
      "Phase/IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_SIGNAL_WILL_BE_PIPELINED")                                         \
    X(INFO, IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_INFO,                                                                \
      "Automatic asynchronous signal pipelining - Execution Phase/IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_INFO")         \
    X(INFO, IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_CURRENT_SIGNAL,                                                      \
      "Pipelining signal %1!s!/IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_CURRENT_SIGNAL")                                  \
    X(INFO, IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTER_REACH,                                                      \
      "Register reach: %1!d!/IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTER_REACH")                                    \
    X(INFO, IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_OVERRIDDEN_REGISTER_REACH,                                           \
      "Computed register reach of %1!d! overridden to %2!d! by user "                                                  \
      "assignment/IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_OVERRIDDEN_REGISTER_REACH")                                    \
    X(INFO, IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTERS_AND_STAGES,                                                \
      "Inserted %1!d! registers on %2!d! stages/IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTERS_AND_STAGES")           \
    X(INFO, IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_COUNT,                                                           \
      "Logic to memory mapping created %1!d! memory blocks/IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_COUNT")           \
    X(INFO, IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_NAME,                                                            \
      "Created memory %1!s!/IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_NAME")                                           \
    X(ERROR, EMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MIF_NOT_WRITTEN,                                                       \
      "Logic to memory mapping cannot write the memory initialization file %1!s!; the logic it would replace is "      \
      "kept/EMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MIF_NOT_WRITTEN")                                                       \
    X(INFO, IMORV_MORV_TURN_OFF_FIT_FSYN_FOR_IWAP,                                                                     \
      "Turning off physical synthesis to increase netlist reuse for "                                                  \
      "\"Rebrisk\"./IMORV_MORV_TURN_OFF_FIT_FSYN_FOR_IWAP")                                                            \
    X(WARNING, WMORV_CANNOT_RUN_FSYN_WHEN_TDC_IS_OFF,                                                                  \
      "Can't perform netlist optimizations when timing-driven compilation is turned "                                  \
      "off/WMORV_CANNOT_RUN_FSYN_WHEN_TDC_IS_OFF")                                                                     \
    X(WARNING, WMORV_CANNOT_RUN_FSYN_WHEN_USING_POST_FITTING_NETLISTS,                                                 \
      "Can't perform netlist optimizations during compilations that start from post-fitting "                          \
      "results/WMORV_CANNOT_RUN_FSYN_WHEN_USING_POST_FITTING_NETLISTS")                                                \
    X(WARNING, WMORV_CANNOT_RUN_FSYN_WHEN_FAST_FIT_IS_ON,                                                              \
      "Can't perform fitting netlist optimizations during fast fit "                                                   \
      "compilation/WMORV_CANNOT_RUN_FSYN_WHEN_FAST_FIT_IS_ON")                                                         \
    X(WARNING, WMORV_FSYN_CANNOT_RUN_TOO_MANY_BA_NODES,                                                                \
      "Design has %1!d! percent of logic elements back-annotated -- can't perform fitter netlist optimizations when "  \
      "more than %2!d! percent of LEs are back-annotated/WMORV_FSYN_CANNOT_RUN_TOO_MANY_BA_NODES")                     \
    X(WARNING, WMORV_FSYN_CANNOT_RUN_NO_AREA_FSYN_FOR_MIGRATION_FLOW,                                                  \
      "Can't perform physical synthesis for fitting when a Fermlock II migration device is "                           \
      "selected/WMORV_FSYN_CANNOT_RUN_NO_AREA_FSYN_FOR_MIGRATION_FLOW")                                                \
    X(WARNING, WMORV_PHYSICAL_SYNTHESIS_SKIPPED_DUE_TO_TIMING_NETLIST,                                                 \
      "Physical synthesis is skipping optimizations because it could not initialize the timing "                       \
      "netlist/WMORV_PHYSICAL_SYNTHESIS_SKIPPED_DUE_TO_TIMING_NETLIST")                                                \
    X(WARNING, WMORV_FSYN_DEMOTING_GLOBAL_SIGNAL,                                                                      \
      "Automatic asynchronous signal pipelining is demoting global signal %1!s!/WMORV_FSYN_DEMOTING_GLOBAL_SIGNAL")    \
    X(WARNING, WMORV_FSYN_ASYNC_PIPELINING_DISABLE_DESTINATION_CHECK,                                                  \
      "Checks on destinations of asynchronous signal %1!s! have been disabled by user assignment. The design may not " \
      "behave as expected./WMORV_FSYN_ASYNC_PIPELINING_DISABLE_DESTINATION_CHECK")                                     \
    X(WARNING, WMORV_FSYN_MALFORMED_DELAY_FILE, "Ignoring delay file %1!s!: %2!s!/WMORV_FSYN_MALFORMED_DELAY_FILE")    \
    X(WARNING, WMORV_FSYN_LOG_FILE_NOT_CHECKED,                                                                        \
      "The log file %1!s! is of an earlier form that cannot be checked for dropped, repeated or moved records; it is " \
      "replayed as it is/WMORV_FSYN_LOG_FILE_NOT_CHECKED")                                                             \
    X(WARNING, WMORV_FSYN_DELAY_FILE_NOT_WRITTEN,                                                                      \
      "The delay file was not written and is left as it was: %1!s!/WMORV_FSYN_DELAY_FILE_NOT_WRITTEN")                 \
    X(ERROR, EMORV_FSYN_LOG_FILE_NOT_FOUND,                                                                            \
      "Physical Synthesis cannot find the log file to replay: %1!s!/EMORV_FSYN_LOG_FILE_NOT_FOUND")                    \
    X(INFO, IMORV_FSYN_LOG_FILE_LOOKED_FOR,                                                                            \
      "The log file to replay was looked for: %1!s!/IMORV_FSYN_LOG_FILE_LOOKED_FOR")                                   \
    X(ERROR, EMORV_FSYN_LOG_FILE_OF_THIS_FAMILY,                                                                       \
      "Physical Synthesis cannot replay the log file %1!s!: it was recorded on a device of this family, and a log "    \
      "replays only on the migration device of the other family/EMORV_FSYN_LOG_FILE_OF_THIS_FAMILY")                   \
    X(ERROR, EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED,                                                                      \
      "Physical Synthesis cannot reproduce the log file %1!s!: %2!s!/EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED")             \
    X(WARNING, WMORV_FSYN_DELAY_FILE_DELAY_BOUNDED,                                                                    \
      "Delay file %1!s!: the delay of %2!d! ps is longer than the device's longest connection and is read as %3!d! "   \
      "ps%4!s!/WMORV_FSYN_DELAY_FILE_DELAY_BOUNDED")

enum MORV_MSG_ID
{
#define MORV_MSG_ENUMERATOR(kind, id, text) MORV_MSG_##id,
    MORV_MSG_LIST(MORV_MSG_ENUMERATOR)
#undef MORV_MSG_ENUMERATOR
        MORV_MSG_COUNT
};

struct MORV_MSG_DEF
{
    MSG_KIND kind;
    const char* id;
    const char* text_and_id;
};

// Indexed by MORV_MSG_ID.
const MORV_MSG_DEF& morv_msg_def(MORV_MSG_ID msg_id);
const char* morv_msg_text(MORV_MSG_ID msg_id);
// nullptr for an id the component does not have.
const MORV_MSG_DEF* morv_find_msg_def(const char* id);

// The back-annotation limit named by WMORV_FSYN_CANNOT_RUN_TOO_MANY_BA_NODES.
constexpr int MORV_MAX_BACK_ANNOTATED_PERCENT = 80;

// A message object of the given kind on the default report, allocated under
// the component's memory tag; the caller owns it. Null only when the
// allocation fails.
MSG_POST* morv_alloc_msg(MSG_KIND kind);

// Builds any message of the list inline: allocates its kind, fills the text
// with the arguments in placeholder order.
template <typename... ARGS>
MSG_POST* morv_new_msg(MORV_MSG_ID msg_id, const ARGS&... args)
{
    const MORV_MSG_DEF& def = morv_msg_def(msg_id);
    MSG_POST* msg = morv_alloc_msg(def.kind);
    if (msg) msg->fill_args(def.text_and_id, args...);
    return msg;
}

// Posts on the default report unless suppressed, then deletes; null is
// ignored.
void morv_send_msg(MSG_POST* msg, bool suppressed = false);

// Releases a message built by this module without posting it.
void morv_delete_msg(MSG_POST* msg);

// ---------------------------------------------------------------- factories

MSG_I* new_msg_physical_synthesis_start(const char* flow_name);
MSG_I* new_msg_physical_synthesis_end(const char* flow_name, const char* elapsed_time);
MSG_I* new_msg_physical_synthesis_algo_start(const char* description);
MSG_I* new_msg_physical_synthesis_algo_end_slack(const char* description, int improvement_ps);
MSG_I* new_msg_physical_synthesis_algo_end_area(const char* description, int le_reduction, int register_reduction);
MSG_I* new_msg_physical_synthesis_algo_end_short(const char* description);
MSG_I* new_msg_physical_synthesis_algo_progress(const char* description, int pass, int num_passes, int iteration,
                                                int num_iterations);
MSG_I* new_msg_fsyn_early_fsyn_async_pipelining_checking_signal(const char* signal_name);
MSG_I* new_msg_fsyn_early_fsyn_async_pipelining_illegal_fanout_signal(const char* node_name);
MSG_I* new_msg_fsyn_early_fsyn_async_pipelining_dont_touch();
MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_current_signal(const char* signal_name);
MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_register_reach(int reach);
MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_overridden_register_reach(int computed_reach, int assigned_reach);
MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_registers_and_stages(int registers, int stages);
MSG_I* new_msg_fsyn_logic_to_memory_mapping_memory_count(int count);
// Also carries severity level 1.
MSG_I* new_msg_fsyn_logic_to_memory_mapping_memory_name(const char* memory_name);
// The limit is always MORV_MAX_BACK_ANNOTATED_PERCENT.
MSG_W* new_msg_fsyn_cannot_run_too_many_ba_nodes(int percentage);
MSG_W* new_msg_fsyn_demoting_global_signal(const char* signal_name);
MSG_W* new_msg_fsyn_async_pipelining_disable_destination_check(const char* signal_name);
