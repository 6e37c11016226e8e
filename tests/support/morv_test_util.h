#pragma once
// Helpers shared by every test tree: internal errors raised, messages posted,
// and a clean configuration, run lock and message record per test.

#include <gtest/gtest.h>

#include <string>

#include "cfg/cfg.h"
#include "msg/msg.h"
#include "thr/thr.h"

// Runs f and answers the condition text of the internal error it raised.
template <typename F>
std::string internal_error_of(F&& f)
{
    try {
        f();
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        return e.get_condition();
    }
    return "<no internal error>";
}

// How many messages with this id were posted since the last clear.
inline int count_posted(const std::string& id)
{
    int n = 0;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id == id) ++n;
    return n;
}

// Runs f, which must neither raise an internal error nor post an error, and
// answers the texts of the not-yet-available warnings it posted, one per line.
template <typename F>
std::string not_available_warnings_of(F&& f)
{
    msg_clear_posted_messages();
    const std::string error = internal_error_of(f);
    if (error != "<no internal error>") return "internal error: " + error;
    std::string texts;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages()) {
        if (m.kind == MSG_KIND::ERROR) texts += "error: " + m.text + "\n";
        if (m.id == "WMORV_FSYN_NOT_AVAILABLE_YET") texts += m.text + "\n";
    }
    return texts;
}

// A test that starts with no settings, a fresh run lock and empty message
// records, and leaves no settings or boundary-port manager behind for the
// next one.
class MORV_CLEAN_STATE_TEST : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        thr_drl_reset();
        msg_set_quiet(true);
        msg_clear_posted_messages();
        msg_clear_vdebug_lines();
    }
    void TearDown() override
    {
        cfg_clear_all();
        // A boundary-port manager a test installed must not outlive it: the
        // next test's environment would fetch a dangling one.
        thr_drl_reset();
    }
};
