// Test entry shared by every test program. ctest starts one process per test
// case, all in the program's working folder, and the component writes fixed
// file names there (debug dump, statistics, saved netlist states); each
// process therefore works in a scratch folder of its own, removed again when
// every test in it passed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

int main(int argc, char** argv)
{
    // A "threadsafe" death test re-executes this program in the folder the
    // process started in; the child moves to its parent's scratch folder so
    // that the parent sees the files it writes.
    bool death_test_child = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind("--gtest_internal_run_death_test", 0) == 0) death_test_child = true;
    }
    if (death_test_child) {
        if (const char* scratch = std::getenv("MORV_TEST_SCRATCH_DIR")) {
            if (::chdir(scratch) != 0) return 1;
        }
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }

    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::current_path(ec);
    std::string pattern = (base / "scratch.XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made == nullptr || ::chdir(made) != 0) {
        std::fprintf(stderr, "cannot make a scratch folder under %s\n", base.c_str());
        return 1;
    }
    ::setenv("MORV_TEST_SCRATCH_DIR", made, 1);
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (status == 0) {
        fs::current_path(base, ec);
        fs::remove_all(made, ec);
    }
    return status;
}
