// The netlist checks end to end on the two-clock design: OBRAN pipelines
// the first register of the synchroniser on request (instance option 668)
// with fsyn_use_drc on. The synchronisers the checks find before and after
// the flow are those the design was drawn with, the pipelined one gains
// the added stage and keeps its class, and ABC proves the output equal to
// the design with one more synchroniser register, written by hand here.
// On the DSP sample, registers retiming moves into and out of the blocks
// are followed from the nodes of the blocks' register stages.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace drc_flow_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/two_clock_sync.blif";

COMMAND_RUN fit(const std::string& dir, const std::string& args, const std::string& design = k_design,
                const std::string& family = "OBRAN")
{
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string command = MORV_FIT_BINARY;
    command.append(" -q --family ").append(family).append(" --aux-dir ").append(dir);
    command.append(" --set fsyn_use_drc=on --set fsyn_debug_msg=on --set fsyn_dump_drc_tracking=on ");
    command.append(args).append(" --native ").append(dir).append("/out.txt -o ").append(dir).append("/out.blif ");
    return run_command(command.append(design) + " 2>&1");
}

int count_lines_starting(const std::string& text, const std::string& start)
{
    int n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) n += line.rfind(start, 0) == 0 ? 1 : 0;
    return n;
}

// Atom id -> instance name, from a netlist in the native text form.
std::map<std::string, std::string> atom_names(const std::string& native)
{
    std::map<std::string, std::string> names, by_id;
    std::istringstream in(native);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string keyword, a, b, c, d;
        words >> keyword >> a >> b;
        if (keyword == "name") {
            std::getline(words, c);
            names[a] = c.substr(c.find('"') + 1, c.rfind('"') - c.find('"') - 1);
        } else if (keyword == "node") {
            words >> c >> d;
            by_id[a] = names[d];
        }
    }
    return by_id;
}

// One line per synchroniser of a tracking dump: "class source->dest stages".
std::string synchronizers(const std::string& dump, const std::map<std::string, std::string>& names)
{
    std::string result, klass;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line) && !line.empty();) {
        std::istringstream words(line);
        std::string first, second, third, fourth;
        words >> first >> second >> third >> fourth;
        if (first != "From") {
            klass = second;
            continue;
        }
        const size_t comma = line.rfind(", ");
        const std::string stages = line.substr(comma + 2, line.find(' ', comma + 2) - comma - 2);
        auto name = [&](const std::string& id) { return names.count(id) ? names.at(id) : "#" + id; };
        result += klass + " " + name(second) + "->" + name(fourth) + " " + stages + "\n";
    }
    return result;
}

bool has_line(const std::string& text, const std::string& line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace

TEST(MorvFitNetlistChecks, APipelinedSynchroniserKeepsItsClassAndGainsItsStage)
{
    write_file("sync0.settings", "instance_option=sync0 668 1\n");
    const COMMAND_RUN r = fit("drc_pipeline", "--settings sync0.settings --test-string 'PIPELINE()'");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::map<std::string, std::string> names = atom_names(slurp("drc_pipeline/out.txt"));
    // As drawn: tx reaches sync0 directly, sync0 feeds only sync1; ta
    // reaches na through one LUT; tb reaches rb by two routes.
    EXPECT_EQ(synchronizers(slurp("drc_pipeline/fsyn_drc_tracking_PRE_LATE.txt"), names),
              "trivial tx->sync0 2\nnon-reconvergent ta->na 1\nreconvergent tb->rb 1\n");
    const std::string after = synchronizers(slurp("drc_pipeline/fsyn_drc_tracking_POST_LATE.txt"), names);
    EXPECT_TRUE(has_line(after, "trivial tx->sync0 3")) << after;
    const std::string debug = slurp("drc_pipeline/fsyn_debug_dump.txt");
    EXPECT_NE(debug.find("***** DRC COMPLETE"), std::string::npos);
    for (const char* line :
         {"0 synchronizer reclassification error", "0 synchronizer weakening warning", "0 total error"})
        EXPECT_TRUE(has_line(debug, line)) << line;
    if (!abc_is_available()) return;
    // The design with one more register between sync0 and sync1.
    std::string reference = slurp(k_design);
    const std::string stage = ".latch sync0 sync1 re clkb 0\n";
    const size_t at = reference.find(stage);
    ASSERT_NE(at, std::string::npos);
    reference.replace(at, stage.size(), ".latch sync0 added re clkb 0\n.latch added sync1 re clkb 0\n");
    write_file("drc_pipeline/reference.blif", reference);
    const ABC_RESULT proved = abc_check_equivalence("drc_pipeline/reference.blif", "drc_pipeline/out.blif", true);
    EXPECT_TRUE(proved.is_equivalent()) << abc_verdict_name(proved.m_verdict) << "\n" << proved.m_output;
    const ABC_RESULT unchanged = abc_check_equivalence(k_design, "drc_pipeline/out.blif", true);
    EXPECT_EQ(unchanged.m_verdict, ABC_VERDICT::NOT_EQUIVALENT) << unchanged.m_output;
}

// Early retiming on MRL used to split the register launching the crossing
// into sync0, so that sync0 read a LUT: the checks counted the synchroniser
// reclassified and the compile ended in an internal error. The host keeps
// the registers of a crossing out of retiming, in every family the
// checks support.
TEST(MorvFitNetlistChecks, OptimisingLeavesEveryFamilysCrossingsAsTheyWere)
{
    for (const char* family : {"BRK", "ZEPLA", "TEV", "MRL", "KESTLIN", "RZK", "OBRAN"}) {
        const std::string dir = std::string("drc_optimize_") + family;
        const COMMAND_RUN r = fit(dir, "--optimize", k_design, family);
        ASSERT_EQ(r.status, 0) << family << "\n" << r.out;
        const std::string debug = slurp(dir + "/fsyn_debug_dump.txt");
        EXPECT_EQ(count_lines_starting(debug, "0 total error"), count_lines_starting(debug, "***** DRC COMPLETE"))
            << family;
        if (!abc_is_available()) continue;
        const ABC_RESULT proved = abc_check_equivalence(k_design, dir + "/out.blif", true);
        EXPECT_TRUE(proved.is_equivalent()) << family << " " << abc_verdict_name(proved.m_verdict);
    }
}

// The DSP sample on ZEPLA: retiming moves registers into and out of the
// blocks. Each moved register is followed from its stage node to where it
// went, its clear with it, so no flow counts an error.
TEST(MorvFitNetlistChecks, DspRegistersMovedByRetimingKeepTheirClears)
{
    const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/dsp_mac_zepla.txt";
    const COMMAND_RUN r = fit("drc_dsp", "--optimize", design, "ZEPLA");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string debug = slurp("drc_dsp/fsyn_debug_dump.txt");
    const int verified = count_lines_starting(debug, "***** DRC COMPLETE");
    EXPECT_GE(verified, 2);
    EXPECT_EQ(count_lines_starting(debug, "0 total error"), verified);
    const std::string before = slurp("drc_dsp/fsyn_drc_tracking_PRE_SYN_EARLY.txt");
    EXPECT_NE(before.find("Node <4 (packed input reg A)> clock colour: node 1 "), std::string::npos);
    EXPECT_NE(before.find("usage INTERNAL MAC CONNECTION"), std::string::npos);
}

}  // namespace drc_flow_test
