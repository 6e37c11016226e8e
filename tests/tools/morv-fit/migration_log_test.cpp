// A compile on a device with a migration part of the other family writes
// its change log: the compile's log file in db/, no chunk file left behind,
// each write-out in the order a replay needs, and a fit that is the same as
// without the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
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

// The place of a record kind in a write-out; -1 for a marker, which ends one.
int write_out_rank(uint32_t type)
{
    switch (type) {
    case LOGDB_FSYN_LOG_OPERATION_END_OF_LOG:
    case LOGDB_FSYN_LOG_OPERATION_END_OF_LOG_PRINT:
    case LOGDB_FSYN_LOG_OPERATION_PRE_PLACEMENT_FLOW:
    case LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER: return -1;
    case LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO:
    case LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF: return 0;
    case LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM: return 1;
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_COMB:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_FF:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_IO:
    case LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM: return 3;
    case LOGDB_FSYN_LOG_OPERATION_IGNORE_PARTITION_BP_INFO: return 4;
    case LOGDB_FSYN_LOG_OPERATION_DELETE_ATOM: return 5;
    default: return 2;
    }
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
        std::set<int32_t> ids;
        std::set<uint32_t> stored_nodes;
        int32_t last_marker_id = -1;
        int last_rank = 0;
        while (LOGDB_FSYN_LOG_ENTRY_OWNER record = log.read_fsyn_log_entry()) {
            EXPECT_TRUE(ids.insert(record->m_entry_id).second) << c.family << ": entry id used twice";
            kinds.push_back(record->m_type);
            // Within a write-out, states come before everything that depends on them.
            const int rank = write_out_rank(record->m_type);
            if (rank < 0) {
                EXPECT_GT(record->m_entry_id, last_marker_id) << c.family << ": marker ids rise";
                last_marker_id = record->m_entry_id;
                last_rank = 0;
            } else {
                EXPECT_LE(last_rank, rank) << c.family << ": record of kind " << record->m_type << " out of order";
                last_rank = rank;
            }
            if (record->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO) {
                const auto* state = static_cast<LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record.get());
                EXPECT_TRUE(stored_nodes.insert(state->m_node_id).second) << c.family << ": a second state";
            }
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
