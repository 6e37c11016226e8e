// The files a user hands morv-fit: inputs that are not readable files,
// designs with nothing in them, undriven nets, and outputs that cannot be
// written, all found before the compile and never at the cost of a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_format.h"
#include "host_compile.h"
#include "host_env.h"
#include "host_settings.h"
#include "test_build.h"
#include "test_files.h"

namespace input_checks_test {

namespace {

using RUN = COMMAND_RUN;  // stdout and stderr together

// A run that waits for ever shows as exit 124 instead of hanging the test.
RUN run(const std::string& args)
{
    return run_command("timeout 60 " + std::string(MORV_FIT_BINARY) + " " + args + " 2>&1");
}

size_t files_in(const std::string& folder)
{
    namespace fs = std::filesystem;
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

const std::string k_counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

// Exit 1 with `text`, before any compile work (no summary table).
#define EXPECT_FAILS_WITH(run_call, text)                                                                              \
    do {                                                                                                               \
        const RUN r_ = (run_call);                                                                                     \
        EXPECT_EQ(r_.status, 1) << r_.out;                                                                             \
        EXPECT_NE(r_.out.find(text), std::string::npos) << r_.out;                                                     \
        EXPECT_EQ(r_.out.find("clock period"), std::string::npos) << r_.out;                                           \
    } while (0)

TEST(MorvFitInputs, FoldersAreNotFiles)
{
    std::filesystem::create_directories("a_folder");
    EXPECT_FAILS_WITH(run("-q a_folder"), "cannot read design file 'a_folder': is a folder, not a file");
    EXPECT_FAILS_WITH(run("-q --device a_folder " + k_counter), "a_folder: cannot read the device file: is a folder");
    EXPECT_FAILS_WITH(run("-q --settings a_folder " + k_counter),
                      "a_folder: cannot read the settings file: is a folder");
}

// A device or a named pipe would be read until memory runs out or wait for
// a writer for ever: only regular files are inputs, with or without -q.
TEST(MorvFitInputs, DevicesAndPipesAreNotFiles)
{
    using namespace std::string_literals;
    ::mkfifo("a_pipe", 0600);
    for (const std::string quiet : {"", "-q "}) {
        EXPECT_FAILS_WITH(run(quiet + "/dev/zero"),
                          "cannot read design file '/dev/zero': is a device, not a regular file");
        EXPECT_FAILS_WITH(run(quiet + "-o z.blif /dev/zero"),
                          "cannot read design file '/dev/zero': is a device, not a regular file");
        EXPECT_FAILS_WITH(run(quiet + "-o z.blif a_pipe"),
                          "cannot read design file 'a_pipe': is a named pipe, not a regular file");
        EXPECT_FAILS_WITH(run(quiet + "--device a_pipe " + k_counter),
                          "a_pipe: cannot read the device file: is a named pipe, not a regular file");
        EXPECT_FAILS_WITH(run(quiet + "--settings a_pipe " + k_counter),
                          "a_pipe: cannot read the settings file: is a named pipe, not a regular file");
        EXPECT_FAILS_WITH(run(quiet + "--device /dev/zero " + k_counter),
                          "/dev/zero: cannot read the device file: is a device, not a regular file");
        EXPECT_FAILS_WITH(run(quiet + "--settings /dev/zero " + k_counter),
                          "/dev/zero: cannot read the settings file: is a device, not a regular file");
    }
    // No output and no temporary file beside it.
    for (const auto& entry : std::filesystem::directory_iterator("."))
        EXPECT_NE(entry.path().filename().string().rfind("z.blif", 0), 0u) << entry.path();
    // A NUL byte stops the read of any input where it stands.
    write_file("nul.blif", ".model t\n.inputs a\n\0"s);
    EXPECT_FAILS_WITH(run("-q nul.blif"), "nul.blif:3: NUL byte in the line (is this a text file?)");
    write_file("nul_settings.txt", "566=1\n\0"s);
    EXPECT_FAILS_WITH(run("-q --settings nul_settings.txt " + k_counter),
                      "nul_settings.txt: cannot read the settings file: NUL byte in line 2");
    write_file("nul_device.txt", "grid 10 10\n\0"s);
    EXPECT_FAILS_WITH(run("-q --device nul_device.txt " + k_counter),
                      "nul_device.txt: cannot read the device file: NUL byte in line 2");
    // Files that state terabytes they have not got (holes, which read as NUL
    // bytes) and a line that never ends are refused where that shows, at
    // once, without memory for what the file states.
    const std::uintmax_t terabytes = std::uintmax_t(8) << 40;
    for (const auto& [name, text] : {std::pair<const char*, std::string>{"holes.blif", ""},
                                     {"holes_after.blif", ".model t\n"},
                                     {"holes.settings", "566=1\n"},
                                     {"holes_device.txt", "grid 10 10\n"}}) {
        write_file(name, text);
        std::filesystem::resize_file(name, terabytes);
    }
    EXPECT_FAILS_WITH(run("-q holes.blif"), "holes.blif:1: NUL byte in the line (is this a text file?)");
    EXPECT_FAILS_WITH(run("-q holes_after.blif"), "holes_after.blif:2: NUL byte in the line (is this a text file?)");
    EXPECT_FAILS_WITH(run("-q --settings holes.settings " + k_counter),
                      "holes.settings: cannot read the settings file: NUL byte in line 2");
    EXPECT_FAILS_WITH(run("-q --device holes_device.txt " + k_counter),
                      "holes_device.txt: cannot read the device file: NUL byte in line 2");
    write_file("one_line.blif", ".model t\n.inputs " + std::string(std::size_t(17) << 20, 'a'));
    EXPECT_FAILS_WITH(run("-q one_line.blif"),
                      "one_line.blif:2: the line is longer than 16 MiB (is this a text file?)");
    for (const char* name : {"holes.blif", "holes_after.blif", "holes.settings", "holes_device.txt", "one_line.blif"})
        std::filesystem::remove(name);
}

// Readers of settings and switches fall back to their defaults without a
// word, so a value of the wrong kind or a switch nothing reads is an error
// naming the setting, and the line when it came from a file.
TEST(MorvFitInputs, BadSettingValuesAndUnknownSwitchesAreErrors)
{
    for (const std::string quiet : {"", "-q "}) {
        const std::string tail = " -o settings_out.blif " + k_counter;
        EXPECT_FAILS_WITH(run(quiet + "--set fsyn_no_such_switch=on" + tail),
                          "--set fsyn_no_such_switch: unknown switch 'fsyn_no_such_switch'");
        EXPECT_FAILS_WITH(run(quiet + "--set 566=abc" + tail),
                          "--set 566: setting 566 takes a whole number, found 'abc'");
        EXPECT_FAILS_WITH(run(quiet + "--set 696=foo" + tail), "--set 696: setting 696 takes 81 (fast), 65 (normal)");
        EXPECT_FAILS_WITH(run(quiet + "--set 12345=1" + tail), "--set 12345: no project setting has the id '12345'");
        EXPECT_FAILS_WITH(run(quiet + "--set tdc_clock_period_ps=-5" + tail),
                          "switch 'tdc_clock_period_ps' takes a whole number from 1 to 1000000000, found '-5'");
        EXPECT_FAILS_WITH(run(quiet + "--set tdc_clock_period_ps=5000x" + tail), "found '5000x'");
        EXPECT_FAILS_WITH(run(quiet + "--set fsyn_use_drc=yes" + tail),
                          "switch 'fsyn_use_drc' takes on or off (or true/false, 1/0), found 'yes'");
    }
    write_file("typo.txt", "# settings\n566=3\n\nfsyn_use_dcr=on\n");
    EXPECT_FAILS_WITH(run("-q --settings typo.txt -o settings_out.blif " + k_counter),
                      "typo.txt:4: unknown switch 'fsyn_use_dcr'");
    write_file("seed.txt", "662=on\n566=abc\n");
    EXPECT_FAILS_WITH(run("-q --settings seed.txt -o settings_out.blif " + k_counter),
                      "seed.txt:2: setting 566 takes a whole number, found 'abc'");
    EXPECT_FALSE(std::filesystem::exists("settings_out.blif"));

    const RUN good = run("-q --set 696=81 --set tdc_clock_period_ps.clk=5000 --set fsyn_overuse_ratio=0.9 "
                         "--set 566=-1 -o good.blif " +
                         k_counter);
    EXPECT_EQ(good.status, 0) << good.out;
}

TEST(MorvFitInputs, DesignsWithoutContentsAreErrors)
{
    write_file("empty.blif", "");
    EXPECT_FAILS_WITH(run("-q -o out.blif empty.blif"), "empty.blif: the file holds no model");
    write_file("shell.blif", ".model shell\n.end\n");
    EXPECT_FAILS_WITH(run("-q -o out.blif shell.blif"), "shell.blif:1: model 'shell' declares no outputs");
    EXPECT_FALSE(std::filesystem::exists("out.blif"));
    // One lost line break used to read as a design without inputs.
    write_file("joined.blif", ".model top .inputs a b clk\n.outputs q\n.latch a q re clk 0\n.end\n");
    EXPECT_FAILS_WITH(run("-q joined.blif"), "joined.blif:1: '.inputs' inside a '.model' line");
}

TEST(MorvFitInputs, UndrivenNetsAreShownEvenQuietOrAreAnError)
{
    write_file("typo.blif", ".model top\n.inputs d clk\n.outputs q\n.latch d q re clck 0\n.end\n");
    RUN r = run("-q -o typo.out.blif typo.blif");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("typo.blif: 1 undriven net tied to constant 0: clck (line 4)"), std::string::npos) << r.out;
    EXPECT_FAILS_WITH(run("-q --error-on-undriven typo.blif"), "typo.blif:4: net 'clck' is read but never driven");
}

TEST(MorvFitInputs, OutputsThatCannotBeWrittenAreFoundBeforeTheCompile)
{
    std::filesystem::create_directories("out_folder");
    // A missing output folder is made; a file in its way is an error naming both.
    EXPECT_EQ(run("-q -o new/sub/folder/x.blif " + k_counter).status, 0);
    EXPECT_TRUE(std::filesystem::exists("new/sub/folder/x.blif"));
    write_file("plain", "not a folder\n");
    EXPECT_FAILS_WITH(run("-q -o plain/x.blif " + k_counter), "cannot create folder 'plain' for 'plain/x.blif'");
    EXPECT_EQ(slurp("plain"), "not a folder\n");
    EXPECT_FAILS_WITH(run("-q -o out_folder " + k_counter), "cannot write 'out_folder': it is a folder");
    EXPECT_FAILS_WITH(run("-q --native out_folder " + k_counter), "cannot write 'out_folder': it is a folder");
    EXPECT_EQ(files_in("out_folder"), 0u);
    if (::geteuid() != 0) {  // permissions do not stop root
        write_file("locked.blif", "older\n");
        ::chmod("locked.blif", 0444);
        EXPECT_FAILS_WITH(run("-q -o locked.blif " + k_counter), "cannot write 'locked.blif': Permission denied");
        EXPECT_EQ(slurp("locked.blif"), "older\n");
    }
    // Outputs never replace the run's inputs.
    write_file("settings.txt", "566=3\n");
    EXPECT_FAILS_WITH(run("-q --settings settings.txt -o settings.txt " + k_counter),
                      "output file 'settings.txt' is the settings file");
    EXPECT_EQ(slurp("settings.txt"), "566=3\n");
    EXPECT_FAILS_WITH(run("-q -o same.txt --native ./same.txt " + k_counter), "-o and --native name the same file");
}

// A run that fails after the outputs were opened leaves older outputs as
// they were and no temporary file behind.
TEST(MorvFitInputs, FailedRunKeepsOlderOutputs)
{
    std::filesystem::create_directories("older");
    write_file("older/out.blif", "older blif\n");
    write_file("older/out.txt", "older native\n");
    const char* argv[] = {"morv-fit", "-q", "-o", "older/out.blif", "--native", "older/out.txt", k_counter.c_str()};
    std::ostringstream out, err;
    const int rc = morv_host::fit_main(
        7, argv, out, err, [](morv_host::HOST_ENV&) { throw morv_host::HOST_INPUT_ERROR("injected failure"); });
    EXPECT_EQ(rc, 1);
    EXPECT_NE(err.str().find("injected failure"), std::string::npos) << err.str();
    EXPECT_EQ(slurp("older/out.blif"), "older blif\n");
    EXPECT_EQ(slurp("older/out.txt"), "older native\n");
    EXPECT_EQ(files_in("older"), 2u);

    const RUN r = run("-q --aux-dir older_aux -o older/out.blif --native older/out.txt " + k_counter);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(slurp("older/out.blif").rfind(".model top\n", 0), 0u);
    EXPECT_NE(slurp("older/out.txt"), "older native\n");
    EXPECT_EQ(files_in("older"), 2u);
}

// The lines of a sample netlist, and the index of its first mask line with
// that of the node line it belongs to.
struct NATIVE_LINES
{
    std::vector<std::string> lines;
    size_t mask = 0;
    size_t node = 0;

    explicit NATIVE_LINES(const std::string& design)
    {
        std::istringstream in(slurp(std::string(MORV_SOURCE_DIR) + "/designs/" + design));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        while (mask < lines.size() && lines[mask].rfind("  mask ", 0) != 0) ++mask;
        node = mask;
        while (node > 0 && lines[node].rfind("node ", 0) != 0) --node;
    }
    std::string id() const { return lines[node].substr(5, lines[node].find(' ', 5) - 5); }
    void write(const std::string& path) const
    {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        write_file(path, text);
    }
};

// Atom ids far beyond the atom count, LUT cells without a function and
// masks that do not fit their cell: each an error naming the line, found
// before memory grows with the id (issue's case: 18.7 GB for one id).
TEST(MorvFitInputs, NativeNetlistsWithUnboundedIdsOrMalformedMasksAreErrorsNamingTheLine)
{
    using std::to_string;
    NATIVE_LINES big("hsadder_mrl.txt");
    ASSERT_EQ(big.lines[1057].rfind("node 175 ", 0), 0u);
    big.lines[1057].replace(5, 3, "2147483648");
    big.write("big_id.txt");
    EXPECT_FAILS_WITH(run("-q --family MRL big_id.txt"), "big_id.txt:1058: atom id 2147483648 is out of range");
    write_file("one_node.txt", "morv-atom-netlist 1\nfamily 6\nnode 2147483648 6 0 -\n  mask 6 0\nend\n");
    EXPECT_FAILS_WITH(run("-q --family BRK one_node.txt"), "one_node.txt:3: atom id 2147483648 is out of range");
    if (!k_small_designs_only) {
        const RUN timed = run_command("/usr/bin/time -f 'peak-kb %M' " + std::string(MORV_FIT_BINARY) +
                                      " -q --family BRK one_node.txt 2>&1");
        const size_t at = timed.out.find("peak-kb ");
        ASSERT_NE(at, std::string::npos) << timed.out;
        EXPECT_LT(std::stol(timed.out.substr(at + 8)), 50L * 1024) << timed.out;
    }

    NATIVE_LINES brk("dsp_mac_brk.txt");
    const std::string mask_line = to_string(brk.mask + 1);
    NATIVE_LINES no_mask = brk;
    no_mask.lines.erase(no_mask.lines.begin() + static_cast<long>(brk.mask));
    no_mask.write("no_mask.txt");
    EXPECT_FAILS_WITH(run("-q --family BRK no_mask.txt"),
                      "no_mask.txt:" + to_string(brk.node + 1) + ": LUT cell " + brk.id() + " has no mask");
    NATIVE_LINES narrow = brk;
    narrow.lines[brk.mask] = "  mask 0 0";
    narrow.write("narrow.txt");
    EXPECT_FAILS_WITH(run("-q --family BRK narrow.txt"),
                      "narrow.txt:" + mask_line + ": mask of 0 inputs on atom " + brk.id() + ", a 6-input LUT cell");
    NATIVE_LINES twice = brk;
    twice.lines.insert(twice.lines.begin() + static_cast<long>(brk.mask), "  mask 6 ffff");
    twice.write("twice.txt");
    EXPECT_FAILS_WITH(run("-q --family BRK twice.txt"), "twice.txt:" + to_string(brk.mask + 2) +
                                                            ": second mask of atom " + brk.id() +
                                                            " (the first is on line " + mask_line + ")");
    NATIVE_LINES zepla("dsp_mac_zepla.txt");
    zepla.lines[zepla.mask] = "  mask 4 1ffff";
    zepla.write("wide.txt");
    EXPECT_FAILS_WITH(run("-q --family ZEPLA wide.txt"),
                      "wide.txt:" + to_string(zepla.mask + 1) + ": mask value is wider than 4 inputs allow");

    // A constant is a function like any other.
    for (const auto& [design, constant] : {std::pair<std::string, std::string>{"dsp_mac_brk.txt", "  mask 6 0"},
                                           {"dsp_mac_brk.txt", "  mask 6 ffffffffffffffff"},
                                           {"dsp_mac_zepla.txt", "  mask 4 ffff"}}) {
        NATIVE_LINES fixed(design);
        fixed.lines[fixed.mask] = constant;
        fixed.write("constant.txt");
        std::string error;
        std::unique_ptr<CDB_ATOM_NETLIST> netlist(cdb_read_native_netlist_file("constant.txt", nullptr, &error));
        EXPECT_NE(netlist, nullptr) << design << constant << ": " << error;
    }
}

}  // namespace

}  // namespace input_checks_test
