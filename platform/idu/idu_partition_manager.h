#pragma once
// Partition manager of the incremental compile and its project information.

class IDU_PROJECT_INFO
{
public:
    // Above 0 when the compile reuses netlists of an earlier one.
    int get_effective_incremental_reuse_mode() const { return m_incremental_reuse_mode; }
    void set_effective_incremental_reuse_mode(int mode) { m_incremental_reuse_mode = mode; }

private:
    int m_incremental_reuse_mode = 0;
};

class IDU_PARTITION_MANAGER
{
public:
    // The process's manager: the installed one when install_instance was
    // called (which may be null), otherwise a built-in manager whose project
    // information reports no incremental reuse. The arguments are accepted
    // for the callers' sake and do not change the answer.
    static IDU_PARTITION_MANAGER* get_instance(int create = 1, int = 0, int = 0);
    static void install_instance(IDU_PARTITION_MANAGER* manager);
    static void reset_instance();  // back to the built-in manager

    IDU_PROJECT_INFO* get_project_info() const { return m_project_info; }
    void set_project_info(IDU_PROJECT_INFO* info) { m_project_info = info; }

private:
    IDU_PROJECT_INFO* m_project_info = nullptr;
};
