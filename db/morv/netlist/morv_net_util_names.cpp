#include <string>

#include "cmp/cmp_facade.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_net_util.h"

HDB_NAME_MGR* MORV_NET_UTIL::name_mgr() const
{
    MORV_ENV* env = m_api->get_morv_env();
    MORV_ASSERT(env);
    CMP_FACADE* cmp = env->get_cmp();
    MORV_ASSERT(cmp);
    HDB_ACTION_PT_INSTANCE* action_point = cmp->get_action_point_instance();
    MORV_ASSERT(action_point);
    HDB_NAME_MGR* names = action_point->get_name_mgr();
    MORV_ASSERT(names);
    return names;
}

HDB_INSTANCE_NAME* MORV_NET_UTIL::find_instance_name(const std::string& full_name) const
{
    return name_mgr()->find_name(full_name);
}

HDB_INSTANCE_NAME* MORV_NET_UTIL::create_instance_name(const std::string& full_name) const
{
    if (HDB_INSTANCE_NAME* existing = find_instance_name(full_name)) return existing;
    HDB_NAME_MGR* names = name_mgr();
    HDB_INSTANCE_NAME* ap_root = names->get_root();
    MORV_ASSERT(ap_root);
    const std::string temp_name = ap_root->get_hpath_to_root();
    MORV_ASSERT(!temp_name.empty());
    const std::string below_root = HDB_HPATH_remove_ap_hpath(full_name, temp_name);
    HDB_INSTANCE_NAME* name =
        below_root.empty() ? nullptr : names->find_or_create_path(below_root, HDB_INAME_FLAG_SYNTHESIZED);
    MORV_ASSERT_TEXT(name, "Could not generate valid instance name pointer in Hierarchy Database.");
    return name;
}

namespace {

// A found name may be taken over only when it stands for nothing and
// neither the host, the design nor an earlier edit of this process holds it.
bool is_reusable(const HDB_INSTANCE_NAME* name)
{
    return name->has_flag(HDB_INAME_FLAG_UNUSED) &&
           !name->has_flag(HDB_INAME_FLAG_PROTECTED | HDB_INAME_FLAG_SYNTHESIZED | HDB_INAME_FLAG_FROM_NETLIST);
}

}  // namespace

HDB_INSTANCE_NAME* MORV_NET_UTIL::make_unique_instance_name(HDB_INSTANCE_NAME* base_name,
                                                            const std::string& suffix) const
{
    const std::string base = base_name != nullptr ? base_name->get_short_hpath() : std::string();
    for (;;) {
        const std::string text = base + suffix + std::to_string(s_unique_name_counter);
        ++s_unique_name_counter;
        HDB_INSTANCE_NAME* found = find_instance_name(text);
        if (found == nullptr) return create_instance_name(text);
        if (is_reusable(found)) {
            found->set_flag(HDB_INAME_FLAG_SYNTHESIZED);
            return found;
        }
    }
}
