#include "idu/idu_partition_manager.h"

namespace {

struct IDU_STATE
{
    IDU_PROJECT_INFO builtin_info;
    IDU_PARTITION_MANAGER builtin_manager;
    bool installed = false;
    IDU_PARTITION_MANAGER* installed_manager = nullptr;

    IDU_STATE() { builtin_manager.set_project_info(&builtin_info); }
};

IDU_STATE& idu_state()
{
    static IDU_STATE s_state;
    return s_state;
}

}  // namespace

IDU_PARTITION_MANAGER* IDU_PARTITION_MANAGER::get_instance(int create, int, int)
{
    IDU_STATE& s = idu_state();
    if (s.installed) return s.installed_manager;
    return create ? &s.builtin_manager : nullptr;
}

void IDU_PARTITION_MANAGER::install_instance(IDU_PARTITION_MANAGER* manager)
{
    idu_state().installed = true;
    idu_state().installed_manager = manager;
}

void IDU_PARTITION_MANAGER::reset_instance()
{
    IDU_STATE& s = idu_state();
    s.installed = false;
    s.installed_manager = nullptr;
    s.builtin_info.set_effective_incremental_reuse_mode(0);
    s.builtin_manager.set_project_info(&s.builtin_info);
}
