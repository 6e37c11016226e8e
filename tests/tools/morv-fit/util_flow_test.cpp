// The debugging algorithms through morv-fit, on the bundled counter and
// latch samples: every mode of the utility algorithm and the breakpoint of
// the manual-operations algorithm, each in the flow that runs it. ABC proves
// each output the utility changes; the timing dump is held against the
// device's own figures, the timing estimator's dump and the compile's delay
// file.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "abc_equiv.h"
#include "dev/dev_device.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "plx_tool.h"
#include "test_files.h"

namespace util_flow_test {

namespace {

const std::string k_counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
const std::string k_latches = std::string(MORV_SOURCE_DIR) + "/designs/latch_mrl.txt";

// morv-fit in a fresh folder of its own, with the debug log on; the
// standard output and error together.
COMMAND_RUN fit(const std::string& dir, const std::string& args, const std::string& design = k_counter)
{
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string command = "cd '" + dir + "' && " + MORV_FIT_BINARY + " -q --set fsyn_debug_msg=on ";
    command.append(args).append(" --native out.txt -o out.blif ").append(design).append(" 2>&1");
    return run_command(command);
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& start)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(start, 0) == 0) lines.push_back(line);
    return lines;
}

// Atom id by instance name, from a netlist in the native text form.
std::map<std::string, int> atom_ids(const std::string& native)
{
    std::map<int, std::string> names;
    std::map<std::string, int> ids;
    std::istringstream in(native);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string keyword;
        int a = 0, b = 0;
        words >> keyword >> a >> b;
        if (keyword == "name") {
            const size_t open = line.find('"');
            names[a] = line.substr(open + 1, line.rfind('"') - open - 1);
        } else if (keyword == "node") {
            int type = 0, name = 0;
            words >> type >> name;
            ids[names[name]] = a;
        }
    }
    return ids;
}

// Names of the breakpoints of a tool session, in order.
std::vector<std::string> breakpoints(const std::string& session_file)
{
    const std::string bytes = slurp(session_file);
    bool complete = false;
    std::vector<std::string> names;
    for (const PLX_PACKET& p : plx_parse(std::vector<uint8_t>(bytes.begin(), bytes.end()), &complete))
        if (p.code == 0) names.push_back(p.text(0, 32));
    EXPECT_TRUE(complete);
    return names;
}

void expect_equivalent(const std::string& a, const std::string& b)
{
    if (!abc_is_available()) return;
    const ABC_RESULT proved = abc_check_equivalence(a, b, true);
    EXPECT_TRUE(proved.is_equivalent()) << b << ": " << abc_verdict_name(proved.m_verdict) << "\n" << proved.m_output;
}

std::string absolute(const std::string& dir)
{
    return std::filesystem::absolute(dir).string();
}

}  // namespace

// The breakpoint at the end of each manual iteration is named by the
// iteration, counted from 0, between the stages the other switches add. An
// iteration that changes nothing ends the pass; one that splits a node's
// fan-out (from a script) is followed by a second.
TEST(MorvFitUtil, TheManualBreakpointIsNamedByItsIteration)
{
    const std::string dir = absolute("util_manual");
    const std::string link = " --set fsyn_enable_plumrix=on --set fsyn_redirect_plx_to_file=on "
                             "--set fsyn_plumrix_dump_algorithm_netlists=on "
                             "--set fsyn_dump_plumrix_netlist_after_every_iteration=on";
    COMMAND_RUN r = fit(dir, "--test-string 'MANUAL(NI=2)|'" + link);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(breakpoints(dir + "/plumrix_session.plx"),
              (std::vector<std::string>{"PRE-MANUAL(0)", "MANUAL_0", "POST-MANUAL_0_0", "POST-MANUAL(0)"}));
    // The carry LUT c1 feeds c2 and n1: a fan-out to split.
    const std::string script = dir + "_split.txt";
    write_file(script, "split " + std::to_string(atom_ids(slurp(dir + "/out.txt")).at("c1")) + "\n");
    r = fit(dir, "--set fsyn_read_manual_ops_file=on --test-string 'MANUAL(NI=2:FILE=" + script + ")|'" + link);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(breakpoints(dir + "/plumrix_session.plx"),
              (std::vector<std::string>{"PRE-MANUAL(0)", "MANUAL_0", "POST-MANUAL_0_0", "MANUAL_1", "POST-MANUAL_0_1",
                                        "POST-MANUAL(0)"}));
}

// Asked to, the utility ends the compile from the flow it runs in as every
// broken invariant does: exit 2 naming it, and no output, whole or partial.
TEST(MorvFitUtil, KillEndsTheCompileAsAnInternalErrorAndLeavesNothing)
{
    for (const char* test_string : {"UTIL(KILL=1)|", "|||UTIL(KILL=1)"}) {
        const std::string dir = absolute("util_kill");
        const COMMAND_RUN r = fit(dir, std::string("--test-string '") + test_string + "'");
        EXPECT_EQ(r.status, 2) << test_string << "\n" << r.out;
        EXPECT_NE(r.out.find("morv-fit: internal error: MORV_UTIL is KILLING Velmora... right...  NOW ! ! ! !  "
                             "(module MORV, "),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("terminate"), std::string::npos) << r.out;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            EXPECT_EQ(entry.path().filename().string().rfind("out.", 0), std::string::npos)
                << test_string << ": " << entry.path();
    }
}

// An atom that must be kept may be copied but not replaced: the utility
// replaces it all the same, before and after placement, and the copy does
// everything the atom did. An atom the user protected from every change
// cannot be copied, which leaves the utility nothing to break: the string
// is refused before the compile, and nothing is written.
TEST(MorvFitUtil, BreakingADontTouchRuleReplacesAKeptAtomByAnEqualCopy)
{
    for (const char* test_string : {"UTIL(BREAK_DONT_TOUCH=1)|", "|||UTIL(BREAK_DONT_TOUCH=1)"}) {
        const std::string dir = absolute("util_dont_touch");
        const COMMAND_RUN r = fit(dir, std::string("--set must_keep=r3 --test-string '") + test_string + "'");
        ASSERT_EQ(r.status, 0) << test_string << "\n" << r.out;
        const std::map<std::string, int> ids = atom_ids(slurp(dir + "/out.txt"));
        EXPECT_EQ(ids.count("r3"), 0u) << test_string;
        EXPECT_EQ(ids.count("r3~dup"), 1u) << test_string;
        const std::string debug = slurp(dir + "/fsyn_debug_dump.txt");
        EXPECT_EQ(lines_starting(debug, "MORV_UTIL is intentionally violating a dont touch condition on (").size(), 1u);
        expect_equivalent(k_counter, dir + "/out.blif");
    }
    for (const char* settings : {"--set dont_touch=r3 ", ""}) {
        const COMMAND_RUN r =
            fit(absolute("util_dont_touch"), std::string(settings) + "--test-string 'UTIL(BREAK_DONT_TOUCH=1)|'");
        EXPECT_EQ(r.status, 1) << settings << "\n" << r.out;
        EXPECT_NE(r.out.find("parameter BREAK_DONT_TOUCH of UTIL needs a LUT or register that a must_keep line"),
                  std::string::npos)
            << r.out;
        EXPECT_FALSE(std::filesystem::exists(absolute("util_dont_touch") + "/out.blif")) << settings;
    }
}

// Breaking the function swaps two inputs of as many LUTs as asked: the
// compile goes through, and ABC tells the result from the design.
TEST(MorvFitUtil, BreakingTheFunctionChangesWhatTheDesignComputes)
{
    const std::string dir = absolute("util_break");
    const COMMAND_RUN r = fit(dir, "--test-string 'UTIL(BREAK=16)|'");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string debug = slurp(dir + "/fsyn_debug_dump.txt");
    // Asked for more than there are: the eight sum LUTs of three data inputs
    // and the seven carry LUTs of two; the first carry reads only the enable.
    EXPECT_EQ(lines_starting(debug, "MORV_UTIL Successfully swapped inputs on 15 nodes.").size(), 1u) << debug;
    if (!abc_is_available()) return;
    const ABC_RESULT differs = abc_check_equivalence(k_counter, dir + "/out.blif", true);
    EXPECT_TRUE(differs.is_not_equivalent()) << abc_verdict_name(differs.m_verdict) << "\n" << differs.m_output;
}

// The dump of both flows lists the registers with their set-up and
// clock-to-output times, the cells, and every connection with the delay and
// slack ratio the flow was timed with. The early flow is timed by the
// timing estimator, whose tables describe the family's standard device:
// each connection carries what the estimator's own dump gives it. After
// placement the analyser times the device file's figures, and each data
// connection carries the delay the compile back-annotates for it (a clock
// input has the clock network's delay in the one, its route in the other).
TEST(MorvFitUtil, TheTimingDumpListsTheTimedNetlistOfBothFlows)
{
    const std::string dir = absolute("util_dump_timing");
    std::filesystem::create_directories(dir + "_device");
    write_file(dir + "_device/device.txt", "family 6\ndelay tsu 77\ndelay tco 133\n");
    const COMMAND_RUN r = fit(dir, "--device " + dir +
                                       "_device/device.txt --set fsyn_nevra_dump_timing=on --test-string "
                                       "'UTIL(DUMP_TIMING=1)|||UTIL(DUMP_TIMING=1)'");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string debug = slurp(dir + "/fsyn_debug_dump.txt");
    EXPECT_TRUE(lines_starting(debug, "TDB_NETLIST vector of edges not found.").empty());
    const size_t late = debug.find("Welcome to LATE-FSYN");
    ASSERT_NE(late, std::string::npos);
    const std::string early_flow = debug.substr(0, late), late_flow = debug.substr(late);
    const DEV_DEVICE standard_device(DEV_FAMILY_BRENNOCK);
    const DEV_TIMING_MODEL& standard = standard_device.get_timing_model();
    const std::string early_reg = "reg: 1 9 " + std::to_string(standard.tsu) + " " + std::to_string(standard.tco);
    // The counter's connections: clock, data, enable and clear of eight
    // registers, the carry and sum LUTs and the output pins.
    const std::vector<std::string> delays = lines_starting(slurp(dir + "/fsyn_delays.txt"), "");
    const std::pair<const std::string*, std::string> flows[] = {{&early_flow, early_reg},
                                                                {&late_flow, "reg: 1 9 77 133"}};
    for (const auto& [flow, reg] : flows) {
        EXPECT_EQ(lines_starting(*flow, "scaling_factor: ").size(), 1u);
        EXPECT_EQ(lines_starting(*flow, "reg: "), std::vector<std::string>(8, reg));
        EXPECT_FALSE(lines_starting(*flow, "cell_dump_oo: ").empty());
        EXPECT_EQ(lines_starting(*flow, "dump: ").size(), delays.size());
    }
    // "src ( port index ) -> sink ( port index ) ic delay cell delay slack
    // slack ratio ratio", connection by connection in the dump's order.
    const std::vector<std::string> early = lines_starting(early_flow, "dump: ");
    const std::vector<std::string> estimated = lines_starting(slurp(dir + "/nevra_timing_data.txt"), "");
    ASSERT_EQ(estimated.size(), early.size() + 1);  // and the figure of merit
    for (size_t i = 0; i < early.size(); ++i) {
        int src_type = 0, src_port = 0, sink_type = 0, sink_port = 0, delay = 0, timed = 0;
        int src = 0, e_src_port = 0, src_index = 0, sink = 0, e_sink_port = 0, sink_index = 0, e_delay = 0;
        int cell = 0, slack = 0;
        double ratio = -1, e_ratio = -2;
        ASSERT_EQ(std::sscanf(early[i].c_str(), "dump: %d %d %d %d %d %lf %d", &src_type, &src_port, &sink_type,
                              &sink_port, &delay, &ratio, &timed),
                  7)
            << early[i];
        ASSERT_EQ(std::sscanf(estimated[i + 1].c_str(), "%d ( %d %d ) -> %d ( %d %d ) ic %d cell %d slack %d ratio %lf",
                              &src, &e_src_port, &src_index, &sink, &e_sink_port, &sink_index, &e_delay, &cell, &slack,
                              &e_ratio),
                  10)
            << estimated[i + 1];
        EXPECT_EQ(std::make_tuple(src_port, sink_port, delay), std::make_tuple(e_src_port, e_sink_port, e_delay))
            << early[i] << " against " << estimated[i + 1];
        EXPECT_NEAR(ratio, e_ratio, 1e-4) << early[i] << " against " << estimated[i + 1];
    }
    // "src ( port index ) -> sink ( port index ) = delay" against "dump:
    // src-type src-port sink-type sink-port delay ratio timed".
    const int clock_port = 6;
    std::multiset<std::string> annotated, dumped;
    for (const std::string& line : delays) {
        int src = 0, src_port = 0, src_index = 0, sink = 0, sink_port = 0, sink_index = 0, delay = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d ( %d %d ) -> %d ( %d %d ) = %d", &src, &src_port, &src_index, &sink,
                              &sink_port, &sink_index, &delay),
                  7)
            << line;
        if (sink_port != clock_port)
            annotated.insert(std::to_string(src_port) + " " + std::to_string(sink_port) + " " + std::to_string(delay));
    }
    for (const std::string& line : lines_starting(late_flow, "dump: ")) {
        int src_type = 0, src_port = 0, sink_type = 0, sink_port = 0, delay = 0, timed = 0;
        double ratio = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "dump: %d %d %d %d %d %lf %d", &src_type, &src_port, &sink_type, &sink_port,
                              &delay, &ratio, &timed),
                  7)
            << line;
        EXPECT_GE(ratio, 0.0) << line;
        EXPECT_LE(ratio, 1.0) << line;
        if (sink_port != clock_port)
            dumped.insert(std::to_string(src_port) + " " + std::to_string(sink_port) + " " + std::to_string(delay));
    }
    EXPECT_GT(dumped.size(), 40u);
    EXPECT_EQ(dumped, annotated);
}

// The optimisation signature belongs to the compile's project, whatever
// the letter case; another project's is an error of the user's, found
// before the compile, which writes nothing.
TEST(MorvFitUtil, TheSignatureCheckNamesAnotherProjectsSignature)
{
    EXPECT_EQ(fit(absolute("util_project"), "--test-string 'UTIL(CHECK_PROJECT=MORV_FIT)|'").status, 0);
    const COMMAND_RUN other = fit(absolute("util_project"), "--test-string 'UTIL(CHECK_PROJECT=other)|'");
    EXPECT_EQ(other.status, 1) << other.out;
    EXPECT_NE(other.out.find("the name of this compile, morv_fit"), std::string::npos) << other.out;
    EXPECT_NE(other.out.find("while choosing the physical synthesis flow"), std::string::npos) << other.out;
    EXPECT_FALSE(std::filesystem::exists(absolute("util_project") + "/out.blif"));
}

// The latch modes on the latch sample of a morlin device that migrates:
// the migration mode records every latch's state in the change log (the
// compile alone records only the latches it edits), and the legaliser test
// without moves classifies each latch and changes nothing.
TEST(MorvFitUtil, TheLatchModesRecordAndClassifyEveryLatch)
{
    const std::string device = absolute("util_latch_device.txt");
    write_file(device, "family 24\nmigratable_part 600\n");
    const std::string common = "--family MRL --device " + device + " --test-string ";
    const std::set<std::string> latches = {"plain", "full", "sr_clr", "sr_prs", "one"};
    auto stored_states = [](const std::string& dir) {
        std::set<uint32_t> nodes;
        LOGDB_FSYN_LOG_FILE log;
        log.set_file_name(dir + "/db/morv_fit.cmp.psl");
        while (LOGDB_FSYN_LOG_ENTRY_OWNER record = log.read_fsyn_log_entry())
            if (record->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO)
                nodes.insert(static_cast<LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(record.get())->m_node_id);
        return nodes;
    };

    const std::string plain = absolute("util_latch_plain");
    ASSERT_EQ(fit(plain, common + "'TEST()'", k_latches).status, 0);
    const std::string logged = absolute("util_latch_logged");
    const COMMAND_RUN r = fit(logged, common + "'UTIL(REG_TEST_MIG_LATCH=1)'", k_latches);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::map<std::string, int> ids = atom_ids(slurp(logged + "/out.txt"));
    std::set<std::string> logged_lines, expected_lines;
    for (const std::string& line : lines_starting(slurp(logged + "/fsyn_debug_dump.txt"), "Logging Latch: "))
        logged_lines.insert(line);
    std::set<uint32_t> latch_ids;
    for (const std::string& name : latches) {
        ASSERT_EQ(ids.count(name), 1u) << name;
        expected_lines.insert("Logging Latch: " + std::to_string(ids.at(name)) + " ");
        latch_ids.insert(static_cast<uint32_t>(ids.at(name)));
    }
    // Each iteration logs them all again.
    EXPECT_EQ(logged_lines, expected_lines);
    const std::set<uint32_t> with_mode = stored_states(logged), without = stored_states(plain);
    for (uint32_t id : latch_ids) EXPECT_EQ(with_mode.count(id), 1u) << id;
    EXPECT_LT(without.size(), with_mode.size());

    const std::string classified = absolute("util_latch_classified");
    const COMMAND_RUN c =
        fit(classified, common + "'UTIL(REG_TEST_LATCH_LEG=1:LLT_DEFAULT_NO_OPS=1:RAND_SEED=5)'", k_latches);
    ASSERT_EQ(c.status, 0) << c.out;
    const std::string debug = slurp(classified + "/fsyn_debug_dump.txt");
    EXPECT_EQ(lines_starting(debug, "FSYN UTIL setting RAND SEED to: 5 ").size(), 1u);
    std::set<uint32_t> classified_ids;
    for (const std::string& line : lines_starting(debug, "LLT: latch type for node "))
        classified_ids.insert(
            static_cast<uint32_t>(std::stoul(line.substr(std::string("LLT: latch type for node ").size()))));
    EXPECT_EQ(classified_ids, latch_ids);
    EXPECT_EQ(lines_starting(debug, "LLT: latch types covered").size(), 1u);
    EXPECT_EQ(slurp(classified + "/out.txt"), slurp(plain + "/out.txt"));
}

}  // namespace util_flow_test
