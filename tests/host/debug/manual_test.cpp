// Manual operations on a small compile: scripts played from a file, and the
// commands the tool link offers while the algorithm runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "log_capture.h"
#include "plx_link_run.h"
#include "plx_tool.h"
#include "seq_gen.h"
#include "seq_harness.h"

#include "morv/debug/morv_manual.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_timing.h"

namespace manual_test {

namespace {

bool has_line(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

int count_with(const std::vector<std::string>& lines, const std::string& part)
{
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& line) { return line.find(part) != std::string::npos; }));
}

void write_file(const std::string& name, const std::string& text)
{
    std::ofstream out(name, std::ios::binary);
    out << text;
}

class ManualRun : public ::testing::Test
{
protected:
    void TearDown() override
    {
        cfg_unset("fsyn_read_manual_ops_file");
        std::remove(m_script.c_str());
        EXPECT_EQ(MORV_PLUMRIX::get_interface_users(), 0);
    }
    const std::string m_script = "manual_test_script.txt";
};

}  // namespace

TEST_F(ManualRun, ScriptPlaysOnceReportsBadLinesAndRefusesMissingSteps)
{
    cfg_set_value("fsyn_read_manual_ops_file", "on");
    PLX_RUN run;
    MORV_LOG_CAPTURE log(100);
    const std::string g = std::to_string(run.id("g"));
    write_file(m_script, "fp " + g + "\nsplit\nresyn 17abc\nFP " + g + "\ndemux 999999\nbp\n");
    MORV_PARAMETER_MAP params{{"FILE", m_script}};
    MORV_MANUAL manual(run.api(), &params);
    EXPECT_EQ(manual.get_script_file_name(), m_script);
    EXPECT_EQ(manual.do_iter(), 0);
    EXPECT_EQ(manual.do_iter(), 0);
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_with(lines, "Opening FSYN manual file"), 1);
    const std::string prefix = "fsyn manual file '" + m_script + "' line ";
    EXPECT_EQ(count_with(lines, prefix + "2: 'split' has no node id"), 1);
    EXPECT_EQ(count_with(lines, prefix + "3: 'resyn' has no valid node id"), 1);
    EXPECT_EQ(count_with(lines, prefix + "6: 'bp' has no node id"), 1);
    EXPECT_EQ(count_with(lines, "fsyn manual file"), 3);
    // The capitalised keyword is skipped; the id naming no atom fails before any step.
    EXPECT_EQ(count_with(lines, "Forward push (params: " + g + ")"), 1);
    EXPECT_TRUE(has_line(lines, "Node 999999 does not exist."));
    EXPECT_EQ(count_with(lines, "Attempting to demux"), 1);
    EXPECT_EQ(count_with(lines, "Attempting to split"), 0);
}

// A script step reaches the family's retiming: the register behind g moves
// in front of it, one register on each input, and counts as one operation.
TEST_F(ManualRun, ScriptedBackwardPushMovesTheRegisterAcrossTheCell)
{
    cfg_set_value("fsyn_read_manual_ops_file", "on");
    PLX_RUN run;
    // The fixture is placed: every atom in one LAB, as retiming's new registers need.
    MORV_LOC lab;
    lab.x = 2;
    lab.y = 2;
    for (CDB_ATOM_NODE* node : run.netlist())
        run.api()->get_fsyn_chip_map()->set_node_location(static_cast<int>(node->get_id()), lab);
    write_file(m_script, "bp " + std::to_string(run.id("g")) + "\n");
    MORV_PARAMETER_MAP params{{"FILE", m_script}};
    MORV_MANUAL manual(run.api(), &params);
    EXPECT_EQ(manual.do_iter(), 1);
    int registers_on_inputs = 0;
    CDB_ATOM_NODE* g = run.find("g");
    for (auto it = g->begin_iterm(); it != g->end_iterm(); ++it) {
        CDB_ATOM_OTERM* source = (*it)->get_source();
        if (source != nullptr && source->get_my_node()->is_lcell_ff()) ++registers_on_inputs;
    }
    EXPECT_EQ(registers_on_inputs, 2);
}

namespace {

bool only_registers_feed(CDB_ATOM_NODE* cell)
{
    int registers = 0;
    for (auto it = cell->begin_iterm(); it != cell->end_iterm(); ++it) {
        CDB_ATOM_OTERM* source = (*it)->get_source();
        if (source == nullptr) continue;
        if (!source->get_my_node()->is_lcell_ff()) return false;
        ++registers;
    }
    return registers > 0;
}

bool only_registers_read(CDB_ATOM_NODE* cell)
{
    int registers = 0;
    for (auto out = cell->begin_oterm(); out != cell->end_oterm(); ++out)
        for (auto sink = (*out)->begin_iterm_fanout(); sink != (*out)->end_iterm_fanout(); ++sink) {
            if (!(*sink)->get_my_node()->is_lcell_ff()) return false;
            ++registers;
        }
    return registers > 0;
}

// The atoms retiming and resynthesis would pick on their own: cells fed only
// by registers to push forward, cells read only by registers to push back,
// registers to demux, and every cell to resynthesise.
std::string script_of_candidates(CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream script;
    for (CDB_ATOM_NODE* node : netlist) {
        const unsigned id = node->get_id();
        if (node->is_lcell_ff()) script << "demux " << id << "\n";
        if (!node->is_lcell_comb()) continue;
        if (only_registers_feed(node)) script << "fp " << id << "\n";
        if (only_registers_read(node)) script << "bp " << id << "\n";
        script << "resyn " << id << "\n";
    }
    return script.str();
}

// Successes by kind, read from the steps' own log: a retiming step's
// operation count follows the line that names it.
std::map<std::string, int> successes_by_kind(const std::vector<std::string>& lines)
{
    std::map<std::string, int> kinds;
    std::string attempted;
    for (const std::string& line : lines) {
        for (const char* kind : {"forward push", "backward push", "demux"})
            if (line.rfind(std::string("Attempting a single ") + kind, 0) == 0) attempted = kind;
        if (!attempted.empty() && line.find(" operations performed.") != std::string::npos) {
            if (line.rfind("0 ", 0) != 0) ++kinds[attempted];
            attempted.clear();
        }
        if (line.rfind("Resynthesis operation succeeded", 0) == 0) ++kinds["resyn"];
    }
    return kinds;
}

}  // namespace

// Whatever steps of such a script succeed, the netlist computes what it did
// from the all-zero power-up state. Plain registers let cells be pushed
// forward; registers with controls give the demuxer its work.
TEST_F(ManualRun, ScriptedStepsOnTheirOwnCandidatesKeepTheNetlistEquivalent)
{
    cfg_set_value("fsyn_read_manual_ops_file", "on");
    std::map<std::string, int> successes;
    for (int controls : {-1, 0})
        for (uint64_t seed : {1u, 2u, 3u}) {
            SEQ_GEN_OPTIONS options;
            options.m_cells = 16;
            options.m_registers = 8;
            options.m_register_controls = controls;
            options.m_clears = controls != 0;
            std::unique_ptr<CDB_ATOM_NETLIST> reference = seq_generate(options, seed);
            PLX_RUN run(options.m_family, seq_generate(options, seed));
            MORV_LOC lab;
            lab.x = 2;
            lab.y = 2;
            for (CDB_ATOM_NODE* node : run.netlist())
                run.api()->get_fsyn_chip_map()->set_node_location(static_cast<int>(node->get_id()), lab);
            // Resynthesis weighs delays the analysis annotates, as the flow leaves them.
            MORV_TIMING* timing = run.api()->get_fsyn_timing();
            timing->set_mode_switched(true);
            timing->sync_timing_netlist(false, true);
            timing->perform_timing_analysis();
            write_file(m_script, script_of_candidates(run.netlist()));
            MORV_PARAMETER_MAP params{{"FILE", m_script}};
            MORV_MANUAL manual(run.api(), &params);
            MORV_LOG_CAPTURE log(100);
            const int counted = manual.do_iter();
            int found = 0;
            for (const auto& [kind, count] : successes_by_kind(log.lines())) {
                successes[kind] += count;
                found += count;
            }
            EXPECT_EQ(counted, found);
            const std::string tag = "manual_" + std::to_string(controls) + "_" + std::to_string(seed);
            const SEQ_VERDICT verdict = seq_check(*reference, run.netlist(), tag, true);
            EXPECT_TRUE(verdict.equivalent()) << tag << ": " << verdict.describe();
        }
    for (const char* kind : {"forward push", "backward push", "demux", "resyn"}) EXPECT_GE(successes[kind], 1) << kind;
}

TEST_F(ManualRun, FoldersAndMissingFilesCannotBeOpened)
{
    cfg_set_value("fsyn_read_manual_ops_file", "on");
    PLX_RUN run;
    MORV_LOG_CAPTURE log(1);
    const std::string folder = "manual_test_folder";
    ::mkdir(folder.c_str(), 0755);
    for (const std::string& name : {folder, std::string("manual_test_missing.txt")}) {
        MORV_PARAMETER_MAP params{{"FILE", name}};
        MORV_MANUAL manual(run.api(), &params);
        EXPECT_EQ(manual.do_iter(), 0);
    }
    ::rmdir(folder.c_str());
    EXPECT_EQ(count_with(log.lines(), "Could not open fsyn manual file.  No manual operations performed."), 2);
}

TEST_F(ManualRun, WithoutTheSwitchNoScriptAndWithoutTheLinkNoCommands)
{
    PLX_RUN run;
    MORV_LOG_CAPTURE log(100);
    write_file("fsyn_manual.txt", "resyn 1\n");
    MORV_MANUAL manual(run.api(), nullptr);
    EXPECT_EQ(manual.get_script_file_name(), "fsyn_manual.txt");
    int passes = -1, icp = -1, restore = -1, iters = -1, hill = -1;
    double fom = -1.0;
    manual.set_default_algorithm_parameters(passes, icp, fom, restore);
    manual.set_default_pass_parameters(0, iters, hill);
    EXPECT_EQ(std::make_tuple(passes, icp, fom, restore, iters, hill),
              std::make_tuple(1, 0, -99999.0, 0, 99999, 99999));
    EXPECT_EQ(manual.do_iter(), 0);
    // "fom" with the link disabled sends nothing and reads no timing.
    manual.execute_command(MORV_MANUAL_FOM, "");
    manual.execute_command(MORV_MANUAL_DEMUX, "");
    manual.execute_command(42, "");
    manual.finish_algorithm();
    std::remove("fsyn_manual.txt");
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_with(lines, "Opening FSYN manual file"), 0);
    EXPECT_TRUE(has_line(lines, "A node ID is required."));
    EXPECT_TRUE(has_line(lines, "Unrecognized command id: 42"));
}

TEST_F(ManualRun, ToolCommandsAreOfferedOnlyWhileManualRuns)
{
    PLX_SWITCHES on;
    write_file(m_script, "split\ndemux 999999\n");
    // Tool ids 3 to 9: fom, forward_push, backward_push, demux, split, resyn, play.
    std::vector<std::vector<uint8_t>> script = {plx_command(9, m_script), plx_command(6, ""), plx_command(4, "12x"),
                                                plx_command(3, ""), plx_command(MORV_PLX_CMD_RUN, "")};
    PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, script, false);
    {
        PLX_RUN run;
        MORV_LOG_CAPTURE log(1);
        MORV_MANUAL manual(run.api(), nullptr);
        int passes = -1, icp = -1, restore = -1;
        double fom = -1.0;
        manual.set_default_algorithm_parameters(passes, icp, fom, restore);
        EXPECT_EQ(manual.do_iter(), 0);
        manual.finish_algorithm();
        // The switch is off: only the tool's "play" read the file.
        EXPECT_EQ(count_with(log.lines(), "line 1: 'split' has no node id"), 1);
    }
    const std::vector<PLX_PACKET> packets = plx_parse(tool.received());
    const std::vector<std::string> texts = plx_texts(packets);
    const std::vector<std::string> wanted = {"Demux node failed.", "Demux node failed.", "Forward push failed."};
    auto at = texts.begin();
    for (const std::string& text : wanted) {
        at = std::find(at, texts.end(), text);
        ASSERT_NE(at, texts.end()) << text;
        ++at;
    }
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind("FOM = ", 0) == 0; }),
              1);
    int registered = 0, unregistered = 0;
    for (const PLX_PACKET& p : packets) {
        if (p.code == 5 && p.u32(288) >= 3) ++registered;
        if (p.code == 15) ++unregistered;
    }
    EXPECT_EQ(registered, 7);
    EXPECT_EQ(unregistered, 7);
}

}  // namespace manual_test
