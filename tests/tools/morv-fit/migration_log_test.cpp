// A compile on a device with a migration part of the other family writes
// its change log: the compile's log file in db/, no chunk file left behind,
// and a fit that is the same as without the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logdb/logdb_fsyn_log_file.h"
#include "test_files.h"

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

int run_in(const std::filesystem::path& folder, const std::string& args)
{
    const std::string cmd =
        "cd '" + folder.string() + "' && " + std::string(MORV_FIT_BINARY) + " -q " + args + " >/dev/null 2>&1";
    return run_command(cmd).status;
}

struct CASE
{
    const char* family;
    int family_code;
    int part;
};

TEST(MorvFitMigrationLog, TheCompileLeavesItsLogAndNoChunks)
{
    for (const CASE& c : {CASE{"BRK", 6, 2400}, CASE{"MRL", 24, 600}}) {
        const std::filesystem::path folder = std::filesystem::absolute(std::string("migration_") + c.family);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "plain");
        std::ofstream(folder / "device.txt") << "family " << c.family_code << "\nmigratable_part " << c.part << "\n";
        const std::string common = std::string("--family ") + c.family + " --set fsyn_netlist_sweeper=on ";
        ASSERT_EQ(run_in(folder, common + "--device device.txt -o out.blif " + k_design), 0) << c.family;
        ASSERT_EQ(run_in(folder / "plain", common + "-o out.blif " + k_design), 0) << c.family;
        EXPECT_EQ(slurp((folder / "out.blif").string()), slurp((folder / "plain" / "out.blif").string())) << c.family;

        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(folder / "db"))
            left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"morv_fit.cmp.psl"}) << c.family;
        EXPECT_FALSE(std::filesystem::exists(folder / "plain" / "db" / "morv_fit.cmp.psl")) << c.family;

        LOGDB_FSYN_LOG_FILE log;
        log.set_file_name((folder / "db" / "morv_fit.cmp.psl").string());
        std::vector<uint32_t> kinds;
        int32_t last_id = -1;
        while (LOGDB_FSYN_LOG_ENTRY_OWNER record = log.read_fsyn_log_entry()) {
            EXPECT_GT(record->m_entry_id, last_id) << c.family << ": entry ids rise";
            last_id = record->m_entry_id;
            kinds.push_back(record->m_type);
            if (auto* revision = dynamic_cast<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER*>(record.get())) {
                EXPECT_EQ(revision->get_version(), "7.2") << c.family;
            }
        }
        EXPECT_FALSE(log.error().is_set()) << log.error().to_string();
        ASSERT_FALSE(kinds.empty()) << c.family;
        EXPECT_EQ(kinds.front(), LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER) << c.family;
        EXPECT_EQ(kinds.back(), LOGDB_FSYN_LOG_OPERATION_END_OF_LOG) << c.family;
        std::filesystem::remove_all(folder);
    }
}

}  // namespace
