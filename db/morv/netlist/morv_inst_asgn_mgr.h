#ifndef MORV_INST_ASGN_MGR_H
#define MORV_INST_ASGN_MGR_H

// Per-instance physical-synthesis assignments. The flow driver installs the
// option mask of each algorithm before it runs.

class MORV_API;

class MORV_INST_ASGN_MGR
{
public:
    explicit MORV_INST_ASGN_MGR(MORV_API* fsyn_api);
    ~MORV_INST_ASGN_MGR() {}
    MORV_INST_ASGN_MGR(const MORV_INST_ASGN_MGR&) = delete;
    MORV_INST_ASGN_MGR& operator=(const MORV_INST_ASGN_MGR&) = delete;

    void initialize();
    bool is_initialized() const { return m_initialized; }
    void set_flag_mask(unsigned mask) { m_flag_mask = mask; }
    unsigned get_flag_mask() const { return m_flag_mask; }

private:
    MORV_API* m_fsyn_api;
    unsigned m_flag_mask = 0;
    bool m_initialized = false;
};

#endif
