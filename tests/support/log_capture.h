#pragma once
// Captures the component's leveled logger into a file of the test's own and
// hands back the lines written, so tests can check what was printed.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "morv/core/morv_debug_stream.h"

class MORV_LOG_CAPTURE
{
public:
    explicit MORV_LOG_CAPTURE(int threshold)
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_file = std::string("log_") + info->test_suite_name() + "_" + info->name() + ".txt";
        std::remove(m_file.c_str());
        MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
        stream.reset(m_file.c_str());
        stream.set_enabled(true);
        stream.set_fstream(true);
        stream.set_threshold(threshold);
    }
    ~MORV_LOG_CAPTURE()
    {
        MORV_DEBUG_STREAM::get_stream().reset();
        std::remove(m_file.c_str());
    }
    MORV_LOG_CAPTURE(const MORV_LOG_CAPTURE&) = delete;
    MORV_LOG_CAPTURE& operator=(const MORV_LOG_CAPTURE&) = delete;

    // Every line written so far (the logger flushes each line).
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::ifstream in(m_file);
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

private:
    std::string m_file;
};
