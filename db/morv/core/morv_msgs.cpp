#include "morv/core/morv_msgs.h"

#include <cstring>
#include <new>

#include "morv/core/morv_assert.h"

namespace {

const MORV_MSG_DEF s_msg_defs[MORV_MSG_COUNT] = {
#define MORV_MSG_DEF_ROW(kind, id, text) {MSG_KIND::kind, #id, text},
    MORV_MSG_LIST(MORV_MSG_DEF_ROW)
#undef MORV_MSG_DEF_ROW
};

// A message on the default report; null when the allocation fails.
template <typename MSG_T>
MSG_T* alloc()
{
    try {
        return MORV_NEW(MSG_T, nullptr);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Allocates a message of the factory's kind and fills it; null when the
// allocation fails.
template <typename MSG_T, typename... ARGS>
MSG_T* build(MORV_MSG_ID msg_id, const ARGS&... args)
{
    MSG_T* msg = alloc<MSG_T>();
    if (msg) msg->fill_args(morv_msg_text(msg_id), args...);
    return msg;
}

}  // namespace

const MORV_MSG_DEF& morv_msg_def(MORV_MSG_ID msg_id)
{
    MORV_ASSERT(msg_id >= 0 && msg_id < MORV_MSG_COUNT);
    return s_msg_defs[msg_id];
}

const char* morv_msg_text(MORV_MSG_ID msg_id)
{
    return morv_msg_def(msg_id).text_and_id;
}

const MORV_MSG_DEF* morv_find_msg_def(const char* id)
{
    if (!id) return nullptr;
    for (const MORV_MSG_DEF& def : s_msg_defs)
        if (std::strcmp(def.id, id) == 0) return &def;
    return nullptr;
}

MSG_POST* morv_alloc_msg(MSG_KIND kind)
{
    switch (kind) {
    case MSG_KIND::INFO: return alloc<MSG_I>();
    case MSG_KIND::WARNING: return alloc<MSG_W>();
    case MSG_KIND::ERROR: return alloc<MSG_E>();
    }
    return nullptr;
}

void morv_send_msg(MSG_POST* msg, bool suppressed)
{
    if (!msg) return;
    if (!suppressed) msg->post(nullptr);
    MORV_DELETE(msg);
}

void morv_delete_msg(MSG_POST* msg)
{
    MORV_DELETE(msg);
}

MSG_I* new_msg_physical_synthesis_start(const char* flow_name)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_START, flow_name);
}

MSG_I* new_msg_physical_synthesis_end(const char* flow_name, const char* elapsed_time)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_END, flow_name, elapsed_time);
}

MSG_I* new_msg_physical_synthesis_algo_start(const char* description)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_ALGO_START, description);
}

MSG_I* new_msg_physical_synthesis_algo_end_slack(const char* description, int improvement_ps)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK, description, improvement_ps);
}

MSG_I* new_msg_physical_synthesis_algo_end_area(const char* description, int le_reduction, int register_reduction)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_ALGO_END_AREA, description, le_reduction, register_reduction);
}

MSG_I* new_msg_physical_synthesis_algo_end_short(const char* description)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SHORT, description);
}

MSG_I* new_msg_physical_synthesis_algo_progress(const char* description, int pass, int num_passes, int iteration,
                                                int num_iterations)
{
    return build<MSG_I>(MORV_MSG_IMORV_PHYSICAL_SYNTHESIS_ALGO_PROGRESS, description, pass, num_passes, iteration,
                        num_iterations);
}

MSG_I* new_msg_fsyn_early_fsyn_async_pipelining_checking_signal(const char* signal_name)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CHECKING_SIGNAL, signal_name);
}

MSG_I* new_msg_fsyn_early_fsyn_async_pipelining_illegal_fanout_signal(const char* node_name)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_ILLEGAL_FANOUT_SIGNAL, node_name);
}

MSG_I* new_msg_fsyn_early_fsyn_async_pipelining_dont_touch()
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_DONT_TOUCH);
}

MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_current_signal(const char* signal_name)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_CURRENT_SIGNAL, signal_name);
}

MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_register_reach(int reach)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTER_REACH, reach);
}

MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_overridden_register_reach(int computed_reach, int assigned_reach)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_OVERRIDDEN_REGISTER_REACH, computed_reach,
                        assigned_reach);
}

MSG_I* new_msg_fsyn_late_fsyn_async_pipelining_registers_and_stages(int registers, int stages)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTERS_AND_STAGES, registers, stages);
}

MSG_I* new_msg_fsyn_logic_to_memory_mapping_memory_count(int count)
{
    return build<MSG_I>(MORV_MSG_IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_COUNT, count);
}

MSG_I* new_msg_fsyn_logic_to_memory_mapping_memory_name(const char* memory_name)
{
    MSG_I* msg = build<MSG_I>(MORV_MSG_IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_NAME, memory_name);
    if (msg) msg->set_severity_level(1);
    return msg;
}

MSG_W* new_msg_fsyn_cannot_run_too_many_ba_nodes(int percentage)
{
    return build<MSG_W>(MORV_MSG_WMORV_FSYN_CANNOT_RUN_TOO_MANY_BA_NODES, percentage, MORV_MAX_BACK_ANNOTATED_PERCENT);
}

MSG_W* new_msg_fsyn_demoting_global_signal(const char* signal_name)
{
    return build<MSG_W>(MORV_MSG_WMORV_FSYN_DEMOTING_GLOBAL_SIGNAL, signal_name);
}

MSG_W* new_msg_fsyn_async_pipelining_disable_destination_check(const char* signal_name)
{
    return build<MSG_W>(MORV_MSG_WMORV_FSYN_ASYNC_PIPELINING_DISABLE_DESTINATION_CHECK, signal_name);
}
