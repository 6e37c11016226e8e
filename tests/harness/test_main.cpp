// Test entry shared by every test program. The component writes fixed file
// names into the working folder (debug dump, statistics, saved netlist
// states), and several programs run at once; each process therefore works in
// a scratch folder of its own under the system's temporary folder
// ($TMPDIR, else /tmp), never in the folder it was started from. The folder
// is removed again when every test in it passed, and named when one failed.
// It holds a db/ folder, as a project folder does.
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
    const char* tmpdir = std::getenv("TMPDIR");
    const fs::path base = tmpdir != nullptr && *tmpdir != '\0' ? fs::path(tmpdir) : fs::path("/tmp");
    std::string pattern = (base / "morv-test.XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made == nullptr || ::chdir(made) != 0) {
        std::fprintf(stderr, "cannot make a scratch folder under %s\n", base.c_str());
        return 1;
    }
    ::setenv("MORV_TEST_SCRATCH_DIR", made, 1);
    // The host's project set-up makes db/, where the change log writes.
    fs::create_directories("db", ec);
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (status == 0) {
        fs::current_path(base, ec);
        fs::remove_all(made, ec);
    } else {
        std::fprintf(stderr, "the files of this run are kept in %s\n", made);
    }
    return status;
}
