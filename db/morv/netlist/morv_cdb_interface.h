#ifndef MORV_CDB_INTERFACE_H
#define MORV_CDB_INTERFACE_H

// The atom-editing interface: every atom creation and edit of the run goes
// through it, and it writes change-log records while logging is on.

class MORV_LOG;

class MORV_CDB_INTERFACE
{
public:
    MORV_CDB_INTERFACE(bool is_logging_on, MORV_LOG* log) : logging(is_logging_on), m_fsyn_log(log) {}
    ~MORV_CDB_INTERFACE() {}
    MORV_CDB_INTERFACE(const MORV_CDB_INTERFACE&) = delete;
    MORV_CDB_INTERFACE& operator=(const MORV_CDB_INTERFACE&) = delete;

    bool is_logging() const { return logging; }
    MORV_LOG* get_fsyn_log() const { return m_fsyn_log; }
    void set_fsyn_log(MORV_LOG* log) { m_fsyn_log = log; }

    bool logging;

private:
    MORV_LOG* m_fsyn_log;
};

#endif
