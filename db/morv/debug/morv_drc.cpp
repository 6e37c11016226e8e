#include "morv/debug/morv_drc.h"

#include <string>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"

// The checks themselves come with the verification logic. Asking for them
// while they are switched on is reported rather than silently skipped, so a
// run that relies on them cannot pass unchecked.

namespace {

bool is_family_without_drc(int base_family)
{
    return !morv_family_traits(base_family).m_drc;
}

void drc_step(MORV_API* fsyn_api, const char* flow_name, const char* step)
{
    MORV_ASSERT(fsyn_api);
    if (!cfg_is_on("fsyn_use_drc", false)) return;
    if (is_family_without_drc(fsyn_api->get_base_family_code())) {
        MORV_DEBUG_STREAM::print(1, "DRC is not supported for this family (%s)", flow_name ? flow_name : "");
        return;
    }
    const std::string text = std::string(step) + " is not available yet";
    MSG_INTERNAL_ERROR::report(text.c_str(), "MORV", __FILE__, __LINE__);
}

}  // namespace

void morv_drc_reference(MORV_API* fsyn_api, const char* flow_name)
{
    drc_step(fsyn_api, flow_name, "morv_drc_reference");
}

void morv_drc_verify(MORV_API* fsyn_api, const char* flow_name)
{
    drc_step(fsyn_api, flow_name, "morv_drc_verify");
}
