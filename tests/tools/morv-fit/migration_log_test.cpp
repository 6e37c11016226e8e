// A compile on a device with a migration part of the other family writes
// its change log: the compile's log file in db/, no chunk file left behind,
// each write-out in the order a replay needs, and a fit that is the same as
// without the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"
#include "test_files.h"

namespace migration_log_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

// The run's output with its error stream, and its exit status.
COMMAND_RUN run_with_output(const std::filesystem::path& folder, const std::string& args)
{
    std::string cmd = "cd '";
    cmd.append(folder.string()).append("' && ").append(MORV_FIT_BINARY).append(" -q ").append(args).append(" 2>&1");
    return run_command(cmd);
}

int run_in(const std::filesystem::path& folder, const std::string& args)
{
    return run_with_output(folder, args).status;
}

// "LUTs registers" of a row of the summary table.
std::string row_counts(const std::string& out, const std::string& step)
{
    const size_t at = out.find(std::string("\n").append(step).append(" "));
    if (at == std::string::npos) return std::string("no row ").append(step);
    std::istringstream row(out.substr(at + 1, out.find('\n', at + 1) - at - 1));
    std::vector<std::string> words;
    for (std::string word; row >> word;) words.push_back(word);
    const size_t first = words.size() > 1 && words[1] == "(off)" ? 2 : 1;
    if (words.size() < first + 3) return std::string("short row ").append(step);
    return words[first + 1] + " " + words[first + 2];
}

void write_text_log(const std::filesystem::path& name, const std::vector<std::string>& lines)
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name.string());
    file.delete_file();
    file.init(true);
    for (const std::string& line : lines) {
        std::string error;
        LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_record_from_text(line, error);
        ASSERT_TRUE(record) << error;
        ASSERT_TRUE(file.write_fsyn_log_entry(record.get()));
    }
    file.close();
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

// Each flow that logs opens with a revision record and closes with END_OF_LOG,
// the early flow marking itself after its revision record: the number of
// flows that logged, or -1 when a record stands outside that frame.
int flow_frames(const std::vector<uint32_t>& kinds)
{
    int frames = 0;
    bool revision = false;
    bool early = false;
    for (uint32_t kind : kinds) {
        if (kind == LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER) revision = true;
        if (kind == LOGDB_FSYN_LOG_OPERATION_PRE_PLACEMENT_FLOW) {
            if (!revision || early) return -1;
            early = true;
        }
        if (kind != LOGDB_FSYN_LOG_OPERATION_END_OF_LOG) continue;
        if (!revision) return -1;
        ++frames;
        revision = early = false;
    }
    return revision ? -1 : frames;
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
        EXPECT_EQ(flow_frames(kinds), 1) << c.family << ": the sweeper runs in the early flow alone";
        std::filesystem::remove_all(folder);
    }
}

// The user's migration: a log recorded on a morlin compile, replayed on a
// brennock compile of the same design, gives the recorded netlist.
TEST(MorvFitMigrationLog, AMorlinLogReplaysOnBrennockToTheRecordedNetlist)
{
    const std::filesystem::path folder = std::filesystem::absolute("migration_replay");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "rec");
    std::filesystem::create_directories(folder / "rep");
    std::ofstream(folder / "rec" / "mrl-brk.txt") << "family 24\nmigratable_part 600\n";
    const COMMAND_RUN rec = run_with_output(
        folder / "rec", "--family MRL --device mrl-brk.txt --set fsyn_netlist_sweeper=on -o rec.blif " + k_design);
    ASSERT_EQ(rec.status, 0) << rec.out;
    const std::string log = (folder / "rec" / "db" / "morv_fit.cmp.psl").string();
    const COMMAND_RUN rep =
        run_with_output(folder / "rep", "--family BRK --set 661=" + log + " -o rep.blif " + k_design);
    ASSERT_EQ(rep.status, 0) << rep.out;
    // The log holds every flow's edits: the replay's early flow ends where the recording ended.
    EXPECT_EQ(row_counts(rep.out, "FIT_EARLY"), row_counts(rec.out, "LATE")) << rep.out << rec.out;
    if (abc_is_available()) {
        const std::string replayed = (folder / "rep" / "rep.blif").string();
        EXPECT_TRUE(abc_check_equivalence(replayed, (folder / "rec" / "rec.blif").string(), true).is_equivalent());
        EXPECT_TRUE(abc_check_equivalence(replayed, k_design, true).is_equivalent());
    }

    // A replay that cannot be made names the file and writes nothing. The
    // errors, in order: a log of the other family that fails says so and
    // then that the migration cannot be reproduced; a log of this family is
    // not damaged and says only that.
    std::ifstream in(log, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(folder / "cut.psl", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    write_text_log(folder / "ghost.psl", {"43 0 \"7.2\" 24", "15 1 1 \"no_such_node\" 11 0", "0 2"});
    write_text_log(folder / "brk.psl", {"43 0 \"7.2\" 6", "0 2"});
    const std::string unreproduced = "EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL";
    const struct
    {
        const char* family;
        std::string log;
        std::vector<std::string> errors;
        std::string said;
    } failing[] = {
        {"BRK", "../cut.psl", {"EMORV_FSYN_LOG_FILE_DAMAGED", unreproduced}, "cut.psl: offset "},
        {"BRK", "../ghost.psl", {"EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED", unreproduced}, "ghost.psl"},
        {"MRL", log, {"EMORV_FSYN_LOG_FILE_OF_THIS_FAMILY"}, "recorded on a device of this family"},
        {"BRK", "../brk.psl", {"EMORV_FSYN_LOG_FILE_OF_THIS_FAMILY"}, "brk.psl"},
        {"BRK",
         "gone.psl",
         {"EMORV_FSYN_LOG_FILE_NOT_PRESENT", unreproduced},
         "no file " + (folder / "rep" / "gone.psl").string()},
        {"MRL", "gone.psl", {"EMORV_FSYN_LOG_FILE_NOT_PRESENT", unreproduced}, "on the Talvane II device, and then"},
    };
    for (const auto& row : failing) {
        const COMMAND_RUN run =
            run_with_output(folder / "rep", std::string("--family ") + row.family + " --set 661=" + row.log +
                                                " -o failed.blif " + k_design);
        EXPECT_EQ(run.status, 1) << row.log << run.out;
        std::vector<std::string> errors;
        for (size_t at = run.out.find("Error ("); at != std::string::npos; at = run.out.find("Error (", at + 1))
            errors.push_back(run.out.substr(at + 7, run.out.find(')', at) - at - 7));
        EXPECT_EQ(errors, row.errors) << row.family << " " << row.log << "\n" << run.out;
        EXPECT_NE(run.out.find(row.said), std::string::npos) << run.out;
        EXPECT_FALSE(std::filesystem::exists(folder / "rep" / "failed.blif")) << row.log;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace

}  // namespace migration_log_test
