// What a user's command line gets from morv-fit: a request the compile
// cannot carry out is an error naming what and where (exit 1), never an
// internal error (exit 2), and a request it leaves aside is said once.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cfg/cfg.h"
#include "cfg/cfg_known_keys.h"
#include "flow_fit.h"
#include "host_setting_names.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/debug/morv_plumrix_interface.h"
#include "morv/core/morv_expert.h"
#include "msg/msg.h"
#include "test_build.h"
#include "test_files.h"

namespace flow_user_input_test {

namespace {

const std::string k_counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
const std::string k_tseng = std::string(MORV_BENCH_DIR) + "/mcnc_k4/tseng.blif";

const char* const k_families[] = {"BRK", "ZEPLA", "TEV", "MRL", "KESTLIN", "RZK", "OBRAN", "UVO"};

// The four parts of a test string, in the order the '|' separate them.
const char* const k_flow_points[] = {"EARLY", "CLUSTER RETRY", "POST CLUSTERING", "LATE"};

std::string write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
    return path;
}

// The texts of the messages of this kind the last run posted, sub-messages
// too, one per line.
std::string posted(MSG_KIND kind)
{
    std::string texts;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.kind == kind) texts += m.id + ": " + m.text + "\n";
    return texts;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class FlowUserInput : public ::testing::Test
{
protected:
    void TearDown() override { cfg_clear_all(); }
};

}  // namespace

// Every algorithm name on every family at every flow point: the family runs
// it, or the user hears which algorithm or flow point the family lacks.
TEST_F(FlowUserInput, EveryAlgorithmOnEveryFamilyAtEveryFlowPointEndsWithAnAnswer)
{
    int runs = 0, refused = 0;
    for (int family = 0; family < 8; ++family)
        for (int algorithm = 0; algorithm < ALGORITHM_END; ++algorithm)
            for (int point = 0; point < 4; ++point) {
                // Under the sanitizers each algorithm and flow point meets one family.
                if (k_small_designs_only && (algorithm + point) % 8 != family) continue;
                const std::string name = MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[algorithm];
                std::string test_string;
                for (int p = 0; p < 4; ++p) test_string += (p > 0 ? "|" : "") + (p == point ? name + "()" : "");
                const std::string label = std::string(k_families[family]) + " " + test_string;
                const FIT r = run_fit({"-q", "--family", k_families[family], "--effort", "fast", "--clock-period",
                                       "2000", "--test-string", test_string, k_counter});
                ++runs;
                ASSERT_TRUE(r.status == 0 || r.status == 1) << label << "\n" << r.err;
                // No family's list fills REG_PACK; only OBRAN has PIPELINE.
                if (name == "REG_PACK" || (name == "PIPELINE" && family != 6)) {
                    EXPECT_EQ(r.status, 1) << label;
                }
                if (r.status == 0) continue;
                ++refused;
                const std::string errors = posted(MSG_KIND::ERROR) + r.err;
                EXPECT_TRUE(contains(errors, name) || contains(errors, k_flow_points[point])) << label << "\n"
                                                                                              << errors;
                EXPECT_TRUE(contains(errors, std::string("the ") + k_families[family] + " family")) << label << "\n"
                                                                                                    << errors;
            }
    EXPECT_GT(runs, 0);
    EXPECT_GT(refused, 0);
}

// A clock's own period constrains that clock alone: the period derived for
// the others is still 90 % of the unoptimised path, and the clock's Fmax is
// taken against its own period.
TEST_F(FlowUserInput, AClocksOwnPeriodLeavesTheDerivedPeriodAndTimesFmaxAgainstItself)
{
    struct TABLE
    {
        long period = 0;
        double slack = 0, fmax = 0;
    };
    auto table_of = [](const std::string& out) {
        TABLE t;
        std::istringstream lines(out);
        std::string line, word;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            words >> word;
            if (word == "clock" && (words >> word) && word == "period") words >> t.period;
            double atoms = 0, luts = 0, registers = 0, fom = 0;
            if (word == "input") words >> atoms >> luts >> registers >> t.slack >> fom >> t.fmax;
        }
        return t;
    };
    const TABLE plain = table_of(run_fit({"-q", "--effort", "fast", k_counter}).out);
    const FIT own = run_fit({"-q", "--effort", "fast", "--set", "tdc_clock_period_ps.clk=500", k_counter});
    ASSERT_EQ(own.status, 0) << own.err;
    const TABLE t = table_of(own.out);
    EXPECT_EQ(t.period, plain.period) << own.out;
    EXPECT_GT(t.period, 1000);
    EXPECT_NEAR(t.slack, 500 - (plain.period - plain.slack), 1.0) << own.out;
    EXPECT_NEAR(t.fmax, 1e6 / (500 - t.slack), 0.06) << own.out;
}

// Every switch and setting the command line takes, alone and with -O, on
// two tiny designs: the compile runs or refuses with an error, never ends
// in an internal error. A value of the switch's kind that does something:
// on, a small number, a test string, a folder where a socket would be.
TEST_F(FlowUserInput, EverySwitchTheCommandLineTakesRunsOrIsRefusedNeverAnInternalError)
{
    // The dumps some switches ask for stay in a folder of their own.
    const std::string folder = "switch_matrix";
    std::filesystem::create_directories("switch_endpoint");
    const std::pair<std::string, const char*> designs[] = {
        {std::string(MORV_SOURCE_DIR) + "/designs/two_clock_sync.blif", "clka"},
        {std::string(MORV_SOURCE_DIR) + "/designs/counter.blif", "clk"}};
    std::vector<std::pair<std::string, std::string>> switches;
    for (const morv_host::HOST_SETTING_NAME& n : morv_host::host_setting_names())
        switches.emplace_back(n.name, n.id == MORV_SETTING_EFFORT        ? "81"
                                      : n.id == MORV_SETTING_TEST_STRING ? "TEST()|TEST()"
                                      : n.id == MORV_SETTING_READ_LOG    ? "replay.psl"
                                                                         : "on");
    for (const CFG_KNOWN_KEY& key : cfg_known_keys()) {
        const std::string name = key.name;
        if (key.kind == CFG_KEY_KIND::SWITCH) switches.emplace_back(name, "on");
        else if (key.kind == CFG_KEY_KIND::NUMBER) switches.emplace_back(name, "0.5");
        else if (name == "fsyn_plumrix_endpoint") switches.emplace_back(name, "switch_endpoint");
        else if (key.kind == CFG_KEY_KIND::TEXT) switches.emplace_back(name, "TEST()");
        else switches.emplace_back(name, std::to_string(std::max(key.min_value, 500L)));
    }
    // The tool link tries once, at once, where no tool listens.
    MORV_PLUMRIX_INTERFACE::set_timing({1, 0, 10});
    int runs = 0;
    for (size_t d = 0; d < std::size(designs); ++d)
        for (const auto& [key, value] : switches)
            for (const bool optimize : {false, true}) {
                // Under the sanitizers each switch meets one design.
                if (k_small_designs_only && (runs++ + optimize + d) % 2 != 0) continue;
                const std::string set = (key.back() == '.' ? key + designs[d].second : key) + "=" + value;
                std::vector<std::string> args = {"-q",   "--effort", "fast", "--aux-dir",
                                                 folder, "--set",    set,    designs[d].first};
                if (optimize) args.insert(args.begin(), "-O");
                const FIT r = run_fit(args);
                const std::string label = set + (optimize ? " -O " : " ") + designs[d].first;
                EXPECT_TRUE(r.status == 0 || r.status == 1) << label << "\n" << r.err;
                if (r.status == 1) {
                    EXPECT_TRUE(contains(r.err, "error")) << label << "\n" << r.err;
                }
            }
    MORV_PLUMRIX_INTERFACE::set_timing(MORV_PLX_TIMING());
    // MRL and UVO time their early flows with the analyser unless asked
    // otherwise: the estimator there left LIR without a timing netlist to
    // read delays from. Timing snapshots keep only the estimator's figures,
    // so their restores are timed again (skipping that once left RESYN
    // without a timing netlist).
    for (const char* family : {"MRL", "UVO"})
        for (const char* set : {"fsyn_enable_nevra=on", "fsyn_enable_timing_snapshots=on"})
            for (size_t d = k_small_designs_only ? 1 : 0; d < std::size(designs); ++d) {
                const FIT r = run_fit({"-q", "-O", "--family", family, "--effort", "fast", "--aux-dir", folder, "--set",
                                       set, designs[d].first});
                EXPECT_EQ(r.status, 0) << family << " " << set << " " << designs[d].first << "\n" << r.err;
            }
    // The ICP stress takes locations away that only the normal lists'
    // retiming asks for again.
    const FIT stressed = run_fit({"-q", "-O", "--aux-dir", folder, "--set", "fsyn_stress_icp=1", designs[1].first});
    EXPECT_EQ(stressed.status, 0) << stressed.err;
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all("switch_endpoint");
}

// One case per kind of request: its exit status, the texts the user reads
// (errors and posted messages together) and how often a message id is posted.
TEST_F(FlowUserInput, RequestsTheCompileCannotCarryOutAreSaidWithTheirExitStatus)
{
    const std::string small_device = write_text("misfit_device.txt", "family 6\ngrid 6 7\nlab_capacity 1\n");
    const std::string migration_device = write_text("migration_device.txt", "family 6\nmigratable_part 2400\n");
    const std::string bad_settings = write_text("first.settings", "fsyn_no_such_switch=on\n");
    const std::string one_run = write_text("one_run.settings", "634=TEST()\n");
    const std::string two_runs = write_text("two_runs.settings", "634=TEST();TEST()\n");
    std::error_code ignored;
    std::filesystem::create_symlink("loop_b.psl", "loop_a.psl", ignored);
    std::filesystem::create_symlink("loop_a.psl", "loop_b.psl", ignored);
    const std::string regions = write_text("regions.settings", "kardel_region=r5 3\nkardel_region=r3 3\n");
    const std::string bad_run = write_text("bad_run.settings", "634=RTM();RESYN(NP=two)\n");
    // A byte-order mark first, as some editors write UTF-8; one in the
    // middle of a file is named, never shown as an invisible character.
    const std::string bom = "\xEF\xBB\xBF";
    const std::string counter_text = slurp(k_counter);
    const std::string bom_design = write_text("bom_counter.blif", bom + counter_text);
    const std::string bom_inside = write_text("bom_inside.blif", ".model m\n" + bom + ".inputs a\n.outputs a\n.end\n");
    const std::string bom_settings = write_text("bom.settings", bom + "634=TEST()\n");
    const std::string inverted_region = write_text("inverted.settings", "\nlocked_region=r0 5 5 1 1\n");
    const std::string pin_region = write_text("pin_region.settings", "locked_region=clr 8 11 9 12\n");
    // A word of two million bytes is cut in the message that names it.
    const std::string long_word(2000000, 'w');
    const std::string long_directive = write_text("long_word.blif", ".model m\n." + long_word + "\n.end\n");
    const std::string long_switch = write_text("long_switch.settings", "fsyn_" + long_word + "=on\n");
    struct CASE
    {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> texts;  // each in the run's errors, warnings, information or error stream
        const char* id = nullptr;        // a message id posted exactly once, when given
        std::string design = k_counter;
    };
    const std::vector<std::string> every_setting = {"--set", "659=on", "--set", "660=on", "--set", "662=on",
                                                    "--set", "663=on", "--set", "664=on", "--set", "665=on"};
    std::vector<std::string> skew_retiming = every_setting;
    skew_retiming.insert(skew_retiming.end(), {"--set", "fsyn_enable_new_retiming=on", "-o", "tseng_skew.blif"});
    const CASE cases[] = {
        // Algorithms the family has no class for.
        {{"--family", "BRK", "--test-string", "PIPELINE()"},
         1,
         {"Invalid Algorithm entered", "PIPELINE", "the BRK family"},
         "EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY"},
        {{"--family", "MRL", "--test-string", "RAM_MAP()"},
         1,
         {"Unsupported family", "RAM_MAP", "the MRL family"},
         "EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY"},
        {{"--family", "ZEPLA", "--test-string", "TEST()|REG_PACK(NP=1)"},
         1,
         {"Invalid Algorithm entered", "REG_PACK(NP=1)", "the ZEPLA family"},
         "EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY"},
        {{"--family", "TEV", "--test-string", "REMUX()"}, 1, {"Invalid Algorithm entered", "REMUX", "the TEV family"}},
        {{"--family", "BRK", "--test-string", "UTIL(REG_TEST_LATCH_LEG=1)"},
         1,
         {"REG_TEST_LATCH_LEG", "UTIL", "the BRK family"},
         "EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY"},
        {{"--family", "MRL", "--test-string", "UTIL(REG_TEST_LATCH_LEG=1)"}, 0, {}},
        // Clusters the device cannot hold are found before any flow point lays them out.
        {{"--device", small_device, "--set", "fsyn_disable_experimental_icp=on", "--test-string",
          "TEST()|TEST()|TEST()"},
         1,
         {"24 LABs needed but the device has 20"}},
        // A locked region past the device's grid, or one that leaves the
        // other logic no room, is named as the region it is.
        {{"--device", small_device, "--set", "locked_region=r0 0 0 5 7"},
         1,
         {"--set locked_region", "(0, 0) - (5, 7) of 'r0'", "grid (0, 0) - (5, 6)"}},
        {{"--set", "locked_region=r0 0 0 200 200"}, 1, {"(0, 0) - (200, 200) of 'r0' reaches past the device's grid"}},
        {{"--device", small_device, "--set", "locked_region=r0 0 0 5 6"},
         1,
         {"--set locked_region: ", "LABs locked to no region", "has 0 there",
          "the locked region (0, 0) - (5, 6) holds the other 20"}},
        // A period for a clock the design does not have constrains nothing.
        {{"--set", "tdc_clock_period_ps.clka=500"},
         1,
         {"--set tdc_clock_period_ps.clka", "no clock 'clka'", "its clocks: clk"}},
        // Tune strings need every string and threshold their flows read.
        {{"--set", "fsyn_tune_strings=on", "--set", "fsyn_tune_work_string_early=TEST()"},
         1,
         {"fsyn_tune_strings=on", "at effort 81", "fsyn_tune_fast_threshold", "fsyn_tune_work_string_fast"},
         "EMORV_FSYN_TUNE_STRINGS_INCOMPLETE"},
        // The skew-driven engine's new cells before BDD resynthesis of the
        // same flow, which places its cells next to them.
        {skew_retiming, 0, {}, nullptr, k_tseng},
        // Cells made in the post-clustering flow keep their LAB when the
        // clusters are laid out again for the next analysis.
        {{"--family", "UVO", "--clock-period", "2000", "--test-string", "||RTM()|"}, 0, {}},
        // Asynchronous pipelining has nothing to do between EARLY and LATE.
        {{"--set", "fsyn_disable_experimental_icp=on", "--test-string", "||PIPE_ASYNC()|"},
         1,
         {"PIPE_ASYNC", "POST CLUSTERING", "the BRK family"},
         "EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY"},
        // Flow points the family does not run.
        {{"--family", "UVO", "--test-string", "TEST()|RTM()"},
         0,
         {"LATE part \"RTM()\"", "the UVO family"},
         "WMORV_FSYN_TEST_STRING_PART_NOT_RUN"},
        {{"--family", "MRL", "--test-string", "||TEST()|"},
         0,
         {"POST CLUSTERING part \"TEST()\"", "the MRL family"},
         "WMORV_FSYN_TEST_STRING_PART_NOT_RUN"},
        {{"--family", "BRK", "--test-string", "||TEST()|"},
         1,
         {"POST CLUSTERING", "the BRK family", "fsyn_disable_experimental_icp"},
         "EMORV_FSYN_POST_CLUSTERING_WITH_XICP"},
        // A replay log on a family that replays none.
        {{"--family", "ZEPLA", "--set", "661=recorded.psl"},
         0,
         {"the ZEPLA family", "recorded.psl"},
         "WMORV_FSYN_READ_LOG_IGNORED"},
        {{"--family", "OBRAN", "--set", "661=recorded.psl"},
         0,
         {"the OBRAN family", "recorded.psl"},
         "WMORV_FSYN_READ_LOG_IGNORED"},
        {{"--family", "UVO", "--set", "661=recorded.psl"}, 0, {"the UVO family"}, "WMORV_FSYN_READ_LOG_IGNORED"},
        // The incremental timing estimator outside the new timing flow,
        // though the early flow's retiming and resynthesis would take it.
        {{"-O", "--set", "fsyn_enable_ite=on"},
         0,
         {"fsyn_enable_ite=on has no effect", "without fsyn_use_new_timing_flow=on", "It stays off."},
         "WMORV_FSYN_ITEST_WITHOUT_NEW_TIMING_FLOW"},
        // A replay log that leads nowhere says why.
        {{"--family", "MRL", "--set", "661=loop_a.psl"},
         1,
         {"loop_a.psl: Too many levels of symbolic links"},
         "IMORV_FSYN_LOG_FILE_LOOKED_FOR"},
        // RAM mapping that builds nothing says why.
        {{"--device", migration_device, "--test-string", "RAM_MAP()"},
         0,
         {"the BRK family", "change log"},
         "IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_NOT_RUN"},
        {{"--family", "UVO", "--test-string", "RAM_MAP()|"},
         0,
         {"the UVO family", "no RAM utility"},
         "IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_NOT_RUN"},
        // Options: repeated settings files are all read, in order; other
        // options may be given once; an output needs a name.
        {{"--settings", bad_settings, "--settings", one_run}, 1, {"first.settings", "fsyn_no_such_switch"}},
        {{"--settings", one_run, "--settings", two_runs}, 0, {}},
        {{"--family", "BRK", "--family", "MRL"}, 1, {"--family is given more than once"}},
        {{"-o", "a.blif", "-o", "b.blif"}, 1, {"-o is given more than once"}},
        {{"-o", ""}, 1, {"-o: empty file name"}},
        {{"--native="}, 1, {"--native: empty file name"}},
        // A register retiming makes takes the region of the register it
        // comes from, or none; a reused one keeps its own. Proved by ABC.
        {{"-O", "--family", "BRK", "--set", "kardel_region=r5 1", "-o", "region_BRK.blif"}, 0, {}},
        {{"-O", "--family", "MRL", "--set", "kardel_region=r5 1", "-o", "region_MRL.blif"}, 0, {}},
        {{"-O", "--family", "KESTLIN", "--set", "kardel_region=r5 1", "-o", "region_KESTLIN.blif"}, 0, {}},
        {{"-O", "--family", "RZK", "--set", "kardel_region=r5 7", "-o", "region_RZK.blif"}, 0, {}},
        {{"-O", "--family", "OBRAN", "--set", "kardel_region=r5 1", "-o", "region_OBRAN.blif"}, 0, {}},
        {{"-O", "--settings", regions, "-o", "region_settings.blif"}, 0, {}},
        // Text after a run's ')' and parameters the algorithm does not read.
        {{"--test-string", "RTM() RESYN()"},
         1,
         {"character 7", "'R' after the run's closing ')'"},
         "EMORV_FSYN_MALFORMED_TEST_STRING"},
        {{"--test-string", "RTM()RESYN()"}, 1, {"character 6", "'R' after the run's closing ')'"}},
        {{"--test-string", "RTM();RTM()RTM()"}, 1, {"character 12", "'R' after the run's closing ')'"}},
        {{"--test-string", "RTM(x=1)"}, 1, {"character 5", "algorithm RTM has no parameter \"x\""}},
        {{"--test-string", "RTM(=)"}, 1, {"character 5", "a parameter without a key"}},
        {{"--test-string", "RTM(SKEW_RTM=99999999999999999999)"},
         1,
         {"parameter SKEW_RTM of RTM takes a whole number", "\"99999999999999999999\""}},
        {{"--settings", bad_run}, 1, {"parameter NP of RESYN takes a whole number", "\"two\""}},
        // Values that depend on the compile: its name (any letter case), and
        // an atom the user keeps that a don't-touch break may copy.
        {{"--test-string", "UTIL(CHECK_PROJECT=x)|"},
         1,
         {"(run \"UTIL(CHECK_PROJECT=x)\")", "not \"x\"", "morv_fit"},
         "EMORV_FSYN_MALFORMED_TEST_STRING"},
        {{"--test-string", "UTIL(CHECK_PROJECT=MORV_Fit)|", "-o", "project.blif"}, 0, {}},
        {{"--set", "must_keep=r3", "--set", "dont_touch=r3", "--test-string", "|||UTIL(BREAK_DONT_TOUCH=1)"},
         1,
         {"(run \"UTIL(BREAK_DONT_TOUCH=1)\")", "must_keep"}},
        // Byte-order marks, words too long to read, regions without a place.
        {{}, 0, {}, nullptr, bom_design},
        {{"--settings", bom_settings}, 0, {}},
        {{}, 1, {"bom_inside.blif:2", "'<byte-order mark>.inputs'"}, nullptr, bom_inside},
        {{},
         1,
         {"long_word.blif:2", "unknown directive '.wwww", "(cut; 2000001 bytes in all)"},
         nullptr,
         long_directive},
        {{"--settings", long_switch}, 1, {"long_switch.settings:1", "unknown switch 'fsyn_www", "bytes in all)"}},
        {{"--set", "fsyn_" + long_word + "=on"}, 1, {"--set", "unknown switch 'fsyn_www", "bytes in all)"}},
        {{"--set", "locked_region=r0 5 5 1 1"},
         1,
         {"--set locked_region", "the locked region (5, 5) - (1, 1) of 'r0'", "0 <= X1 <= X2"}},
        {{"--settings", inverted_region}, 1, {"inverted.settings:2", "(5, 5) - (1, 1) of 'r0'"}},
        {{"--set", "locked_region=r0 0 0 0 0"},
         1,
         {"--set locked_region", "the locked region (0, 0) - (0, 0) of 'r0' holds no LAB"}},
        // A DSP block (column 12) and a medium RAM block (column 8, row 4)
        // are no place for a register either.
        {{"--set", "locked_region=r0 12 1 12 3"}, 1, {"--set locked_region", "(12, 1) - (12, 3) of 'r0' holds no LAB"}},
        {{"--set", "locked_region=r0 8 4 8 4"}, 1, {"--set locked_region", "(8, 4) - (8, 4) of 'r0' holds no LAB"}},
        // A BEST restore of SAVE_RESTORE needs a netlist saved before it:
        // refused before the compile when no run of the string saves one,
        // and at its flow point when the part that saves was not run there
        // (MRL leaves POST CLUSTERING out). FlowSaveRestore runs one that
        // saves first.
        {{"--test-string", "RTM();SAVE_RESTORE(BEST=1)"},
         1,
         {"at character 7 (run \"SAVE_RESTORE(BEST=1)\")", "no run before it saves one"},
         "EMORV_FSYN_MALFORMED_TEST_STRING"},
        {{"--family", "MRL", "--test-string", "|SAVE_RESTORE()|SAVE_RESTORE(BEST=1)"},
         1,
         {"part \"SAVE_RESTORE(BEST=1)\" of the LATE flow point", "no run has saved one in this compile"},
         "EMORV_FSYN_NOTHING_SAVED_TO_RESTORE"},
        // A pin locked among LABs has no I/O cell to take.
        {{"--settings", pin_region, "-O"},
         1,
         {"pin_region.settings:1: the locked region (8, 11) - (9, 12) of 'clr' holds no I/O cell"}},
        {{"--set", "locked_region=clr 8 11 9 12"}, 1, {"--set locked_region: ", "of 'clr' holds no I/O cell"}},
    };
    for (const CASE& c : cases) {
        std::vector<std::string> args = {"-q", "--effort", "fast"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(c.design);
        std::string label;
        for (const std::string& a : args) label += "'" + a + "' ";
        const FIT r = run_fit(args);
        const std::string said = posted(MSG_KIND::ERROR) + posted(MSG_KIND::WARNING) + posted(MSG_KIND::INFO) + r.err;
        EXPECT_EQ(r.status, c.status) << label << "\n" << said.substr(0, 4000);
        EXPECT_LT(said.size(), 20000U) << label << ": a message echoes a word whole";
        for (const std::string& text : c.texts)
            EXPECT_TRUE(contains(said, text)) << label << ": " << text << "\n" << said;
        if (c.id != nullptr) {
            int count = 0;
            for (const MSG_POSTED_MESSAGE& m : msg_posted_messages()) count += m.id == c.id ? 1 : 0;
            EXPECT_EQ(count, 1) << label << ": " << c.id;
        }
        // Every netlist a compile wrote is the design's.
        const auto out = std::find(c.args.begin(), c.args.end(), "-o");
        if (r.status == 0 && out != c.args.end() && abc_is_available()) {
            const ABC_RESULT proof = abc_check_equivalence(c.design, *(out + 1), true);
            EXPECT_TRUE(proof.is_equivalent()) << label << ": " << abc_verdict_name(proof.m_verdict) << "\n"
                                               << proof.m_output;
        }
    }
    // The later of two settings files wins where both speak: two runs, not one.
    run_fit({"-q", "--effort", "fast", "--settings", one_run, "--settings", two_runs, k_counter});
    int started = 0;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        started += m.id == "IMORV_PHYSICAL_SYNTHESIS_ALGO_START" ? 1 : 0;
    EXPECT_EQ(started, 2);
}

// A compile that fails after it merged its change log leaves no log: not
// when it ends, and not when the same process compiles again elsewhere and
// that compile succeeds.
TEST_F(FlowUserInput, AFailedRecordingLeavesNoLogForTheNextCompile)
{
    namespace fs = std::filesystem;
    // Its clusters do not fit, which is found after the early flow merged.
    const std::string misfit =
        write_text("misfit_recording.txt", "family 6\ngrid 6 7\nlab_capacity 1\nmigratable_part 2400\n");
    fs::create_directories("failed_recording");
    fs::create_directories("next_compile");
    const FIT failed = run_fit({"-q", "--device", misfit, "--set", "fsyn_disable_experimental_icp=on", "--test-string",
                                "TEST()|TEST()|TEST()", "-o", "failed_recording/out.blif", k_counter});
    ASSERT_EQ(failed.status, 1) << failed.err;
    EXPECT_TRUE(contains(failed.err, "LABs needed")) << failed.err;
    ASSERT_TRUE(contains(posted(MSG_KIND::INFO), "IMORV_PHYSICAL_SYNTHESIS_ALGO_START")) << "no flow ran";
    const FIT next = run_fit({"-q", "-o", "next_compile/out.blif", k_counter});
    ASSERT_EQ(next.status, 0) << next.err;
    EXPECT_TRUE(fs::exists("next_compile/out.blif"));
    EXPECT_EQ(std::distance(fs::directory_iterator("failed_recording"), fs::directory_iterator()), 0)
        << "the failed compile left files";
}

}  // namespace flow_user_input_test
