// A change log recorded on one family and replayed on the other, as a user
// migrates a design: the replay ends where the recording ended, computes
// the design's function (proved by ABC), and says so when the design was
// changed since the recording.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "dsp_gen.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "test_files.h"

namespace migration_replay_test {

namespace {

const std::string k_alu4 = std::string(MORV_SOURCE_DIR) + "/bench/mcnc_k4/alu4.blif";
const std::string k_counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
constexpr int k_chain_length = 2000;

COMMAND_RUN fit(const std::filesystem::path& folder, const std::string& args)
{
    std::string cmd = "cd '";
    cmd.append(folder.string()).append("' && ").append(MORV_FIT_BINARY).append(" -q ").append(args).append(" 2>&1");
    return run_command(cmd);
}

// The LUT count of a row of the summary table; -1 when there is none.
int row_luts(const std::string& out, const std::string& step)
{
    const size_t at = out.find(std::string("\n").append(step).append(" "));
    if (at == std::string::npos) return -1;
    std::istringstream row(out.substr(at + 1, out.find('\n', at + 1) - at - 1));
    std::vector<std::string> words;
    for (std::string word; row >> word;) words.push_back(word);
    const size_t first = words.size() > 1 && words[1] == "(off)" ? 2 : 1;
    if (words.size() < first + 2) return -1;
    return std::stoi(words[first + 1]);
}

// A chain of inverters from input a to output y, tapped halfway by output
// z (both buffers); the cells named in `flipped` compute the other one.
void write_chain(const std::filesystem::path& file, const std::set<std::string>& flipped)
{
    std::ofstream out(file);
    const auto cell = [&](const std::string& from, const std::string& name, bool inverter) {
        out << ".names " << from << " " << name << "\n" << (inverter != (flipped.count(name) != 0) ? "0 1\n" : "1 1\n");
    };
    out << ".model chain\n.inputs a\n.outputs y z\n";
    std::string previous = "a";
    for (int i = 1; i <= k_chain_length; ++i) {
        const std::string name = "n" + std::to_string(i);
        cell(previous, name, true);
        previous = name;
    }
    cell(previous, "y", false);
    cell("n" + std::to_string(k_chain_length / 2), "z", false);
    out << ".end\n";
}

// Names of the nodes whose prior state the log stores (constant drivers aside).
std::vector<std::string> stored_nodes(const std::string& log_name)
{
    LOGDB_FSYN_LOG_FILE log;
    log.set_file_name(log_name);
    std::vector<std::string> names;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = log.read_fsyn_log_entry()) {
        if (record->m_type != LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO) continue;
        const auto* state = static_cast<const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record.get());
        if (!state->m_is_constant_driver) names.push_back(state->m_node_name);
    }
    return names;
}

// How many records of the kind the log holds.
int records_of_kind(const std::string& log_name, uint32_t kind)
{
    LOGDB_FSYN_LOG_FILE log;
    log.set_file_name(log_name);
    int n = 0;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = log.read_fsyn_log_entry()) n += record->m_type == kind ? 1 : 0;
    return n;
}

// The observable output terms (one per bit of a packed operand register)
// that a netlist in the native text form holds.
int observable_terms(const std::string& native)
{
    int n = 0;
    std::istringstream in(native);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string keyword;
        int index = -1, type = -1;
        if (words >> keyword >> index >> type && keyword == "out")
            n += type == DB_MAC_OBSERVABLE_DATAA || type == DB_MAC_OBSERVABLE_DATAB ? 1 : 0;
    }
    return n;
}

std::filesystem::path fresh_folder(const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::absolute(name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "rec");
    std::filesystem::create_directories(folder / "rep");
    return folder;
}

}  // namespace

// The user's migration with every physical-synthesis setting on, then the
// LUT-input remapping that follows a replay: nodes made in one batch of the
// log and rebuilt in a later one are whole nodes of the compile. Each source
// of a rebuilt cell is found around the cell it replaces: the replay's trace
// names no source it had to look up by name alone.
TEST(MorvFitMigrationReplay, ABrennockLogWithTheUsersSettingsReplaysOnMorlinWithSourcesFoundAroundEachCell)
{
    const std::filesystem::path folder = fresh_folder("replay_alu4");
    std::ofstream(folder / "rec" / "brk-mrl.txt") << "family 6\nmigratable_part 2400\n";
    const std::string settings = "--set 659=on --set 660=on --set 662=on --set 663=on --set 664=on --set 665=on ";
    const COMMAND_RUN rec =
        fit(folder / "rec", "--family BRK --device brk-mrl.txt " + settings + "-o rec.blif " + k_alu4);
    ASSERT_EQ(rec.status, 0) << rec.out;
    const std::string log = (folder / "rec" / "db" / "morv_fit.cmp.psl").string();
    ASSERT_FALSE(stored_nodes(log).empty()) << "the recording changed nothing";
    const COMMAND_RUN rep =
        fit(folder / "rep",
            "--family MRL " + settings + "--set fsyn_debug_msg_full=on --set 661=" + log + " -o rep.blif " + k_alu4);
    ASSERT_EQ(rep.status, 0) << rep.out;
    // The design is the one recorded from: no node differs from its state.
    EXPECT_EQ(count_of(rep.out, "WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING"), 0) << rep.out;
    const std::string trace = slurp((folder / "rep" / "fsyn_debug_dump.txt").string());
    EXPECT_GT(count_of(trace, "Reproducing store node info "), 0) << "the replay rebuilt no cell";
    EXPECT_EQ(count_of(trace, "could not be found through a traversal"), 0);
    if (abc_is_available()) {
        for (const char* written : {"rec/rec.blif", "rep/rep.blif"}) {
            const ABC_RESULT proof = abc_check_equivalence((folder / written).string(), k_alu4, true);
            EXPECT_TRUE(proof.is_equivalent()) << proof.m_command << "\n" << proof.m_output;
        }
    }
    std::filesystem::remove_all(folder);
}

// A chain the morlin recording sweeps down to a few cells, deleting each
// cell after its sink stopped reading it: the brennock replay deletes the
// same cells, and a replay onto a design edited since says which node it
// overwrote.
TEST(MorvFitMigrationReplay, AMorlinChainReplaysOnBrennockToWhereTheRecordingEnded)
{
    const std::filesystem::path folder = fresh_folder("replay_chain");
    write_chain(folder / "chain.blif", {});
    std::ofstream(folder / "rec" / "mrl-brk.txt") << "family 24\nmigratable_part 600\n";
    const std::string design = (folder / "chain.blif").string();
    const COMMAND_RUN rec =
        fit(folder / "rec", "--family MRL --device mrl-brk.txt --set fsyn_netlist_sweeper=on -o rec.blif " + design);
    ASSERT_EQ(rec.status, 0) << rec.out;
    const int recorded = row_luts(rec.out, "LATE");
    ASSERT_GT(recorded, 0) << rec.out;
    ASSERT_LT(recorded, 10) << "the recording no longer sweeps the chain\n" << rec.out;

    const std::string log = (folder / "rec" / "db" / "morv_fit.cmp.psl").string();
    const COMMAND_RUN rep = fit(folder / "rep", "--family BRK --set 661=" + log + " -o rep.blif " + design);
    ASSERT_EQ(rep.status, 0) << rep.out;
    EXPECT_LE(row_luts(rep.out, "FIT_EARLY"), recorded) << rep.out;
    EXPECT_EQ(count_of(rep.out, "WMORV_FSYN_LOG_NODE_STILL_HAS_FANOUT"), 0) << rep.out;
    EXPECT_EQ(count_of(rep.out, "WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING"), 0) << rep.out;
    if (abc_is_available()) {
        const ABC_RESULT proof = abc_check_equivalence((folder / "rep" / "rep.blif").string(), design, false);
        EXPECT_TRUE(proof.is_equivalent()) << proof.m_command << "\n" << proof.m_output;
    }

    // One cover edited since the recording, in a node the log rebuilds: the
    // replay still succeeds, and one warning names that node.
    const std::vector<std::string> stored = stored_nodes(log);
    ASSERT_FALSE(stored.empty());
    const std::string edited = stored.front();
    write_chain(folder / "edited.blif", {edited});
    const COMMAND_RUN changed =
        fit(folder / "rep", "--family BRK --set 661=" + log + " -o edited.blif " + (folder / "edited.blif").string());
    EXPECT_EQ(changed.status, 0) << changed.out;
    EXPECT_EQ(count_of(changed.out, "WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING"), 1) << changed.out;
    EXPECT_NE(changed.out.find("Node " + edited + " differs"), std::string::npos) << changed.out;
    std::filesystem::remove_all(folder);
}

// A constant with two sinks: the sweeper folds it into each sink's mask
// before it takes the sink's input away. The log stores each sink as the
// design has it, so a replay onto the unchanged design finds nothing
// changed, in either direction.
TEST(MorvFitMigrationReplay, ASinkWhoseMaskAConstantChangesReplaysAsUnchanged)
{
    const std::filesystem::path folder = fresh_folder("replay_constant");
    const std::string design = (folder / "constant.blif").string();
    std::ofstream(design) << ".model constant\n.inputs a b\n.outputs y z\n.names k\n1\n"
                          << ".names a b k y\n11- 1\n-11 1\n.names a b k z\n1-1 1\n-1- 1\n.end\n";
    struct DIRECTION
    {
        const char* recorded;
        const char* device;
        const char* replayed;
    };
    for (const DIRECTION& d : {DIRECTION{"BRK", "family 6\nmigratable_part 2400\n", "MRL"},
                               DIRECTION{"MRL", "family 24\nmigratable_part 600\n", "BRK"}}) {
        const std::filesystem::path rec_folder = folder / "rec" / d.recorded;
        const std::filesystem::path rep_folder = folder / "rep" / d.replayed;
        std::filesystem::create_directories(rec_folder);
        std::filesystem::create_directories(rep_folder);
        std::ofstream(rec_folder / "device.txt") << d.device;
        const COMMAND_RUN rec =
            fit(rec_folder, std::string("--family ") + d.recorded +
                                " --device device.txt --set fsyn_netlist_sweeper=on -o rec.blif " + design);
        ASSERT_EQ(rec.status, 0) << rec.out;
        const std::string log = (rec_folder / "db" / "morv_fit.cmp.psl").string();
        ASSERT_EQ(stored_nodes(log), (std::vector<std::string>{"y", "z"})) << d.recorded;
        const COMMAND_RUN rep =
            fit(rep_folder, std::string("--family ") + d.replayed + " --set 661=" + log + " -o rep.blif " + design);
        ASSERT_EQ(rep.status, 0) << rep.out;
        EXPECT_EQ(count_of(rep.out, "WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING"), 0) << d.recorded << rep.out;
        if (abc_is_available()) {
            const ABC_RESULT proof = abc_check_equivalence((rep_folder / "rep.blif").string(), design, false);
            EXPECT_TRUE(proof.is_equivalent()) << proof.m_command << "\n" << proof.m_output;
        }
    }
    std::filesystem::remove_all(folder);
}

// A morlin recording that retimes the counter makes registers: the brennock
// replay makes them too and computes the design's function. The log with one
// new register's connection record dropped and sealed again reads as whole,
// so the replay refuses the register it leaves without inputs, naming the
// file and the record that made it.
TEST(MorvFitMigrationReplay, RetimedRegistersReplayAndOneLeftWithoutInputsIsRefused)
{
    const std::filesystem::path folder = fresh_folder("replay_retimed");
    std::ofstream(folder / "rec" / "mrl-brk.txt") << "family 24\nmigratable_part 600\n";
    const COMMAND_RUN rec =
        fit(folder / "rec", "--family MRL --device mrl-brk.txt --optimize -o rec.blif " + k_counter);
    ASSERT_EQ(rec.status, 0) << rec.out;
    const std::string log = (folder / "rec" / "db" / "morv_fit.cmp.psl").string();
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> kept;
    std::string dropped;
    LOGDB_FSYN_LOG_FILE in;
    in.set_file_name(log);
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = in.read_fsyn_log_entry()) {
        const auto* connection = dynamic_cast<const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION*>(record.get());
        if (dropped.empty() && connection != nullptr && connection->m_node_name.find("_NEW_REG") != std::string::npos)
            dropped = connection->m_node_name;
        else kept.push_back(std::move(record));
    }
    ASSERT_FALSE(dropped.empty()) << "the recording made no register";

    const COMMAND_RUN rep = fit(folder / "rep", "--family BRK --set 661=" + log + " -o rep.blif " + k_counter);
    ASSERT_EQ(rep.status, 0) << rep.out;
    if (abc_is_available()) {
        const ABC_RESULT proof = abc_check_equivalence((folder / "rep" / "rep.blif").string(), k_counter, true);
        EXPECT_TRUE(proof.is_equivalent()) << proof.m_command << "\n" << proof.m_output;
    }

    LOGDB_FSYN_LOG_FILE out;
    out.set_file_name((folder / "edited.psl").string());
    out.init(true);
    for (const LOGDB_FSYN_LOG_ENTRY_OWNER& record : kept) ASSERT_TRUE(out.write_fsyn_log_entry(record.get()));
    out.close();
    const COMMAND_RUN edited = fit(folder / "rep", "--family BRK --set 661=../edited.psl -o edited.blif " + k_counter);
    EXPECT_EQ(edited.status, 1) << edited.out;
    EXPECT_NE(edited.out.find("EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED"), std::string::npos) << edited.out;
    EXPECT_NE(edited.out.find("edited.psl: offset "), std::string::npos) << edited.out;
    EXPECT_NE(edited.out.find("INSERT_ATOM record of node " + dropped + ": it makes register " + dropped),
              std::string::npos)
        << edited.out;
    EXPECT_FALSE(std::filesystem::exists(folder / "rep" / "edited.blif"));
    std::filesystem::remove_all(folder);
}

// A brennock recording whose retiming moves the multipliers' packed operand
// registers forward into their product registers removes the operands'
// observable outputs; the log says so, one record a bit, and the morlin
// replay removes them too. Both netlists compute the design's function.
TEST(MorvFitMigrationReplay, PackedOperandRegistersMovedOnBrennockLeaveNoObservableOutputsOnMorlin)
{
    const std::filesystem::path folder = fresh_folder("replay_dsp");
    DSP_GEN_OPTIONS o = dsp_sample_options(CDB_FAMILY_BRK);
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    o.m_packed_output = false;
    const std::string brk = (folder / "dsp_brk.txt").string();
    const std::string design = native_text(*dsp_generate(o));
    write_file(brk, design);
    o.m_family = CDB_FAMILY_MRL;
    const std::string mrl = (folder / "dsp_mrl.txt").string();
    write_file(mrl, native_text(*dsp_generate(o)));
    const int bits = o.m_mults * (o.m_width_a + o.m_width_b);
    ASSERT_EQ(observable_terms(design), bits);

    std::ofstream(folder / "rec" / "brk-mrl.txt") << "family 6\nmigratable_part 2400\n";
    const COMMAND_RUN rec = fit(folder / "rec", "--family BRK --device brk-mrl.txt --test-string 'RTM()|RTM()' "
                                                "--native rec.txt -o rec.blif " +
                                                    brk);
    ASSERT_EQ(rec.status, 0) << rec.out;
    ASSERT_EQ(observable_terms(slurp((folder / "rec" / "rec.txt").string())), 0)
        << "the recording no longer moves the packed operand registers";
    const std::string log = (folder / "rec" / "db" / "morv_fit.cmp.psl").string();
    EXPECT_EQ(records_of_kind(log, LOGDB_FSYN_LOG_OPERATION_REMOVE_UNORDERED_FANOUT_TERM), bits);

    const COMMAND_RUN rep =
        fit(folder / "rep", "--family MRL --set 661=" + log + " --native rep.txt -o rep.blif " + mrl);
    ASSERT_EQ(rep.status, 0) << rep.out;
    EXPECT_EQ(observable_terms(slurp((folder / "rep" / "rep.txt").string())), 0);
    const COMMAND_RUN plain = fit(folder, "--family BRK -o plain.blif " + brk);
    ASSERT_EQ(plain.status, 0) << plain.out;
    if (abc_is_available()) {
        for (const char* written : {"rec/rec.blif", "rep/rep.blif"}) {
            const ABC_RESULT proof =
                abc_check_equivalence((folder / written).string(), (folder / "plain.blif").string(), true);
            EXPECT_TRUE(proof.is_equivalent()) << written << "\n" << proof.m_command << "\n" << proof.m_output;
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace migration_replay_test
