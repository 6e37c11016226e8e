#include <gtest/gtest.h>

#include "thr/thr.h"

namespace thr_test {

namespace {

int answer()
{
    return 42;
}

class ThrTest : public ::testing::Test
{
protected:
    void SetUp() override { thr_drl_reset(); }
    void TearDown() override { thr_drl_reset(); }
};

TEST_F(ThrTest, BoundaryPortEntryIsNullUntilInstalled)
{
    THR_DRL_LIBRARY* lib = thr_drl_load(THR_DRL_BPM_LIBRARY);
    ASSERT_NE(lib, nullptr);
    auto fn = reinterpret_cast<BPM_DRL_GET_ACTIVE_BOUNDARY_PORT_MANAGER_FN>(
        thr_drl_find_function(lib, "bpm_drl_get_active_boundary_port_manager"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), nullptr);
    int dummy = 0;
    auto* fake = reinterpret_cast<BPM_BOUNDARY_PORT_MANAGER*>(&dummy);
    bpm_drl_set_active_boundary_port_manager(fake);
    EXPECT_EQ(fn(), fake);
    thr_drl_reset();
    EXPECT_EQ(fn(), nullptr);
}

TEST_F(ThrTest, LoadFailuresCarryTheLoaderText)
{
    EXPECT_STREQ(thr_drl_get_error(), "");
    EXPECT_EQ(thr_drl_load("no_such_lib"), nullptr);
    EXPECT_NE(std::string(thr_drl_get_error()).find("no_such_lib"), std::string::npos);

    thr_drl_set_load_failure(THR_DRL_BPM_LIBRARY, true);
    EXPECT_EQ(thr_drl_load(THR_DRL_BPM_LIBRARY), nullptr);
    EXPECT_NE(std::string(thr_drl_get_error()).find(THR_DRL_BPM_LIBRARY), std::string::npos);
    thr_drl_set_load_failure(THR_DRL_BPM_LIBRARY, false);

    THR_DRL_LIBRARY* lib = thr_drl_load(THR_DRL_BPM_LIBRARY);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(thr_drl_find_function(lib, "missing_fn"), nullptr);
    EXPECT_NE(std::string(thr_drl_get_error()).find("missing_fn"), std::string::npos);
    EXPECT_EQ(thr_drl_find_function(nullptr, "x"), nullptr);

    thr_drl_unregister_library(THR_DRL_BPM_LIBRARY);
    EXPECT_EQ(thr_drl_load(THR_DRL_BPM_LIBRARY), nullptr);
    EXPECT_EQ(thr_drl_find_function(lib, THR_DRL_BPM_GET_ACTIVE_FUNCTION), nullptr);  // old handle
}

TEST_F(ThrTest, RegisteredFunctionsAreFound)
{
    thr_drl_register_function("mylib", "answer", reinterpret_cast<THR_DRL_FUNCTION>(&answer));
    THR_DRL_LIBRARY* lib = thr_drl_load("mylib");
    ASSERT_NE(lib, nullptr);
    auto fn = reinterpret_cast<int (*)()>(thr_drl_find_function(lib, "answer"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), 42);
    thr_drl_reset();
    EXPECT_EQ(thr_drl_load("mylib"), nullptr);
}

}  // namespace

}  // namespace thr_test
