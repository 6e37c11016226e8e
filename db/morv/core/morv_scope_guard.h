#pragma once

// Runs an action when the scope ends, whether it ends normally or because an
// exception passes: state set for the length of a call is put back either way.
//   MORV_SCOPE_GUARD running([&] { m_running = false; });
// The action must not throw: it may run while another exception unwinds.

#include <utility>

template <typename ACTION>
class MORV_SCOPE_GUARD
{
public:
    explicit MORV_SCOPE_GUARD(ACTION action) : m_action(std::move(action)) {}
    ~MORV_SCOPE_GUARD()
    {
        if (m_active) m_action();
    }
    // Runs the action now instead of at the end of the scope.
    void run_now()
    {
        if (!m_active) return;
        m_active = false;
        m_action();
    }
    MORV_SCOPE_GUARD(const MORV_SCOPE_GUARD&) = delete;
    MORV_SCOPE_GUARD& operator=(const MORV_SCOPE_GUARD&) = delete;

private:
    ACTION m_action;
    bool m_active = true;
};
