// The files a user hands morv-fit: inputs that are not readable files,
// designs with nothing in them, undriven nets, and outputs that cannot be
// written, all found before the compile and never at the cost of a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_format.h"
#include "host_compile.h"
#include "host_env.h"
#include "host_settings.h"
#include "io/blif_reader.h"
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

namespace input_checks_test {

namespace {

// The native text of counter.blif as read into a family's atoms, one
// string a line; `edit` changes the netlist before it is written.
std::vector<std::string> native_counter(int family, const std::function<void(CDB_ATOM_NETLIST&)>& edit = {})
{
    BLIF_READER reader(family);
    reader.set_pack_registers(true);
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = reader.read_file(k_counter);
    if (edit) edit(*netlist);
    std::vector<std::string> lines;
    std::istringstream in(native_text(*netlist));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string joined(const std::vector<std::string>& lines, const std::string& end = "\n")
{
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

// Replaces the first line matching `pattern` by `replacement` (a regex
// format) and answers its line number.
size_t replace_first(std::vector<std::string>& lines, const std::string& pattern, const std::string& replacement)
{
    const std::regex re(pattern);
    for (size_t i = 0; i < lines.size(); ++i)
        if (std::regex_search(lines[i], re)) {
            lines[i] = std::regex_replace(lines[i], re, replacement, std::regex_constants::format_first_only);
            return i + 1;
        }
    ADD_FAILURE() << "no line matches " << pattern;
    return 0;
}

// The same at line `at`, which the pattern must match.
size_t replace_at(std::vector<std::string>& lines, size_t at, const std::string& pattern,
                  const std::string& replacement)
{
    const std::regex re(pattern);
    if (at == 0 || at > lines.size() || !std::regex_search(lines[at - 1], re)) {
        ADD_FAILURE() << "line " << at << " does not match " << pattern;
        return 0;
    }
    lines[at - 1] = std::regex_replace(lines[at - 1], re, replacement, std::regex_constants::format_first_only);
    return at;
}

bool is_logic_cell(const CDB_ATOM_NODE* n)
{
    return n->get_kind() == CDB_KIND_LCELL_COMB || n->get_kind() == CDB_KIND_UVO_LCELL;
}

// A cell whose comb-out feeds another cell's input A: the second cell's
// input A then reads the second cell itself, or (two_cells) the first.
void close_a_loop(CDB_ATOM_NETLIST& netlist, bool two_cells)
{
    for (CDB_ATOM_NODE* first : netlist) {
        CDB_ATOM_OTERM* comb = first->get_output_term_by_type(DB_COMB_OUT);
        if (!is_logic_cell(first) || comb == nullptr) continue;
        for (auto it = comb->begin_iterm_fanout(); it != comb->end_iterm_fanout(); ++it) {
            CDB_ATOM_NODE* second = (*it)->get_my_node();
            CDB_ATOM_OTERM* out = second->get_output_term_by_type(DB_COMB_OUT);
            CDB_ATOM_ITERM* a = first->get_input_term_by_type(DB_DATA_A);
            if (second == first || !is_logic_cell(second) || out == nullptr || a == nullptr) continue;
            out->insert_fanout(two_cells ? a : second->get_input_term_by_type(DB_DATA_A));
            return;
        }
    }
    ADD_FAILURE() << "no cell feeds another";
}

}  // namespace

// Values that an atom of some kind cannot hold, in every family: each
// refused naming the file, the line and what is wrong, where the compile
// used to read them one way and -O another (or stopped on an internal
// error). A text with CR LF line ends or a byte-order mark reads as without.
TEST(MorvFitInputs, NativeValuesAnAtomCannotHoldAreErrorsNamingTheLine)
{
    struct ROW
    {
        const char* what;
        const char* pattern;      // the line edited, and how
        std::string replacement;  // (empty pattern: the netlist is edited)
        const char* message;      // after "file:line: "
        const char* detail;       // further on in the message
        std::function<void(CDB_ATOM_NETLIST&)> edit;
        const char* families = "BRK ZEPLA TEV MRL KESTLIN RZK OBRAN UVO";
        bool names_the_atom = false;   // the error is the atom's, on its node line
        const char* design = nullptr;  // a sample edited at `at` instead (its family listed)
        size_t at = 0;
        const char* options = "";  // "-O": compiled with physical synthesis
    };
    // The samples' atoms: adder_chain_brk.txt's pins 2 (input) and 17
    // (output, whose pad is its slot 0), dsp_mac_brk.txt's output block 3
    // (mode 3, adding operands A and B; its output register on the clock
    // in slot 16 and the clear in slot 17) and multiplier 4,
    // ram_outreg_obran.txt's RAM 9 (port B reading a 3-bit address).
    const char* chain = "adder_chain_brk.txt";
    const char* mac = "dsp_mac_brk.txt";
    const char* ram = "ram_outreg_obran.txt";
    std::vector<ROW> rows = {
        {"comb-out index", R"(^(  out \d+ 8) 0 )", "$1 1 ", "output of port type 8 of atom ", "has index 1;", {}},
        {"register usage 5", R"(^(  out \d+) 9 0 )", "$1 5 0 ", "atom ", "has no output of port type 5", {}},
        {"register usage 7", R"(^(  out \d+) 9 0 )", "$1 7 0 ", "atom ", "has no output of port type 7", {}},
        {"register index 2", R"(^(  out \d+ 9) 0 )", "$1 2 ", "output of port type 9 of atom ", "has index 2;", {}},
        {"register index 4095",
         R"(^(  out \d+ 9) 0 )",
         "$1 4095 ",
         "output of port type 9 of atom ",
         "has index 4095;",
         {}},
        {"register index -1", R"(^(  out \d+ 9) 0 )", "$1 -1 ", "output port index -1 is out of range", "", {}},
        {"input slot 65535", R"(^  in 0 )", "  in 65535 ", "input slot 65535 is out of range (0 to 65534)", "", {}},
        {"output slot 65535", R"(^  out 0 )", "  out 65535 ", "output slot 65535 is out of range (0 to 65534)", "", {}},
        {"second input A", R"(^  in 1 12 )", "  in 1 11 ", "second input of port type 11 index 0 on atom ", "", {}},
        {"usage twice", R"(^  in 1 12 )", "  in 1 12,12 ", "bad port usage list \"12,12\"", "", {}},
        {"cell reading itself", "", "", "atom ", "is on a combinational loop", [](auto& n) { close_a_loop(n, false); }},
        {"two cells reading each other", "", "", "atom ", "is on a combinational loop",
         [](auto& n) { close_a_loop(n, true); }},
        {"comb-out as sum-out",
         R"(^(  out \d+) 8 0 )",
         "$1 7 0 ",
         "atom ",
         "has no comb-out and is in no carry chain",
         {},
         "BRK MRL KESTLIN RZK OBRAN",
         true},
        {"comb-out as carry-out",
         R"(^(  out \d+) 8 0 )",
         "$1 0 0 ",
         "atom ",
         "drives its carry-out into no carry-in",
         {},
         "UVO",
         true},
        {"comb-out as carry-out",
         R"(^(  out \d+) 8 0 )",
         "$1 0 0 ",
         "atom ",
         "drives its cout into atom ",
         {},
         "BRK ZEPLA TEV MRL KESTLIN RZK OBRAN",
         true},
        {"two pins of one name", R"(^(node \d+ \d+ \d+) 1$)", "$1 0", "pin ", "has the name of pin ", {}},
        {"register cascade",
         R"(^(  in \d+) 11 )",
         "$1 165 ",
         "atom ",
         "reads its register-cascade input",
         {},
         "UVO",
         true},
        {"pin output type",
         "^  out 0 2 ",
         "  out 0 15 ",
         "atom 2 (a pin) has no output of port type 15",
         "",
         {},
         "BRK",
         false,
         chain,
         30},
        {"pin output index",
         "^  out 0 2 0 ",
         "  out 0 2 1 ",
         "output of port type 2 of atom 2 (a pin) has index 1; the "
         "ports of a pin have index 0",
         "",
         {},
         "BRK",
         false,
         chain,
         30},
        {"pin input type",
         "^  in 0 18 ",
         "  in 0 11 ",
         "atom 17 (a pin) has no input of port type 11",
         "",
         {},
         "BRK",
         false,
         chain,
         88},
        {"pad read",
         "^fanout 18 0 ",
         "fanout 17 0 ",
         "atom 17 (a pin) drives its pad into atom 19",
         "",
         {},
         "BRK",
         true,
         chain,
         114},
        {"DSP input type 999",
         "^  in 0 11 ",
         "  in 0 999 ",
         "atom 3 (a DSP output block) has no input of port type 999",
         "",
         {},
         "BRK",
         false,
         mac,
         119},
        {"multiplier operand C",
         "^  in 0 11 ",
         "  in 0 13 ",
         "atom 4 (a multiplier) has no input of port type 13",
         "",
         {},
         "BRK",
         false,
         mac,
         147},
        {"DSP clock slot 4",
         "^  in 16 6 0 0 1 ",
         "  in 16 6 4 0 1001 ",
         "input of port type 6 of atom 3 (a DSP output "
         "block) has index 4; that port of a DSP output block has indices 0 to 3",
         "",
         {},
         "BRK",
         false,
         mac,
         135},
        {"multiplier operand bit 36",
         "^  in 3 11 3 0 c01 ",
         "  in 3 11 36 0 9001 ",
         "input of port type 11 of atom 4 (a "
         "multiplier) has index 36; that port of a multiplier has indices 0 to 35",
         "",
         {},
         "BRK",
         false,
         mac,
         150},
        {"DSP clock in its last slot",
         "^  in 16 6 0 0 1 -1$",
         "$&\n  in 18 6 3 0 c00 -1",
         nullptr,
         "",
         {},
         "BRK",
         false,
         mac,
         135},
        {"multiplier operand's last bit",
         "^  in 7 12 3 0 c01 -1$",
         "$&\n  in 8 11 35 0 8c00 -1",
         nullptr,
         "",
         {},
         "BRK",
         false,
         mac,
         154},
        {"DSP clock and clear no register uses",
         "^  param 277 2 0$",
         "  param 277 2 -1",
         nullptr,
         "",
         {},
         "BRK",
         false,
         mac,
         117},
        {"DSP mode 1",
         "^  param 272 0 3$",
         "  param 272 0 1",
         "atom 3 ",
         "DSP mode 1 cannot be modelled",
         {},
         "BRK",
         true,
         mac,
         116},
        {"DSP operand C outside its mode",
         "^  in 0 11 ",
         "  in 0 13 ",
         "atom 3 ",
         "input of port type 13 index 0 is "
         "connected, but the DSP block's function does not read it",
         {},
         "BRK",
         true,
         mac,
         119},
        {"RAM input type",
         "^  in 6 78 ",
         "  in 6 11 ",
         "atom 9 (a RAM block) has no input of port type 11",
         "",
         {},
         "OBRAN",
         false,
         ram,
         51},
        {"RAM output type",
         "^  out 0 41 ",
         "  out 0 2 ",
         "atom 9 (a RAM block) has no output of port type 2",
         "",
         {},
         "OBRAN",
         false,
         ram,
         56},
        {"RAM port B data",
         "^  in 6 78 ",
         "  in 6 79 ",
         "atom 9 ",
         "input of port type 79 index 0 is connected, but the "
         "RAM block's function does not read it",
         {},
         "OBRAN",
         true,
         ram,
         51},
        {"RAM observable output read",
         "^  out 0 41 ",
         "  out 0 64 ",
         "atom 9 ",
         "has no function in the model",
         {},
         "OBRAN",
         true,
         ram,
         56},
        {"RAM data bit 65535",
         "^  in 6 78 0 0 1 ",
         "  in 6 78 65535 0 3fffc01 ",
         "input of port type 78 of atom 9 (a RAM block) has index 65535; that port of a RAM block has indices 0 to 143",
         "",
         {},
         "OBRAN",
         false,
         ram,
         51},
        {"RAM data's last bit",
         "^  in 6 78 0 0 1 ",
         "  in 6 78 143 0 23c01 ",
         nullptr,
         "",
         {},
         "OBRAN",
         false,
         ram,
         51},
        {"RAM address bit 9",
         "^  in 4 104 2 0 801 ",
         "  in 4 104 9 0 2401 ",
         "atom 9 ",
         "deeper than the 8 the model "
         "holds",
         {},
         "OBRAN",
         true,
         ram,
         49},
    };
    // Locked regions, held to what a settings file's locked_region= is, on
    // the chain's LUT 10 (its mask on line 54), register 3 (line 32) and
    // pin 2 (line 30); an I/O cell is at (0, 3), a LAB at (3, 3).
    struct REGION
    {
        const char* what;
        size_t at;
        const char* corners;  // after the partition and region id
        const char* message;
        const char* options = "";
    };
    for (const REGION& g : std::initializer_list<REGION>{
             {"a corner open", 54, "0 0 3 3 -1 -1",
              "the locked region (3, 3) - (-1, -1) of atom 10: corners must satisfy"},
             {"a corner open", 54, "0 0 3 3 -1 -1",
              "the locked region (3, 3) - (-1, -1) of atom 10: corners must satisfy", "-O"},
             {"inverted", 32, "-1 -1 10 10 2 2", "the locked region (10, 10) - (2, 2) of atom 3: corners must satisfy",
              "-O"},
             {"negative", 30, "-1 -1 -7 -7 -7 -7",
              "the locked region (-7, -7) - (-7, -7) of atom 2: corners must satisfy"},
             {"past the grid", 30, "-1 -1 0 0 100000 100000",
              "the locked region (0, 0) - (100000, 100000) of atom 2 reaches past"},
             {"LUT on an I/O cell", 54, "-1 -1 0 3 0 3", "the locked region (0, 3) - (0, 3) of atom 10 holds no LAB",
              "-O"},
             {"LUT on a LAB", 54, "-1 -1 3 3 3 3", nullptr, "-O"},
         }) {
        const char* line = g.at == 54 ? "^  mask " : g.at == 32 ? "^  in 0 18 " : "^  out 0 2 ";
        rows.push_back({g.what,
                        line,
                        std::string("  asgn ") + g.corners + " 0 0 0\n$&",
                        g.message,
                        "",
                        {},
                        "BRK",
                        false,
                        chain,
                        g.at,
                        g.options});
    }
    for (const char* family : {"BRK", "ZEPLA", "TEV", "MRL", "KESTLIN", "RZK", "OBRAN", "UVO"}) {
        const int code = cdb_family_from_name(family);
        const std::vector<std::string> good = native_counter(code);
        for (const ROW& row : rows) {
            const std::string listed = std::string(" ") + row.families + " ";
            if (listed.find(std::string(" ") + family + " ") == std::string::npos) continue;
            SCOPED_TRACE(std::string(family) + ": " + row.what);
            std::vector<std::string> lines = row.design ? NATIVE_LINES(row.design).lines
                                             : row.edit ? native_counter(code, row.edit)
                                                        : good;
            size_t line = row.design     ? replace_at(lines, row.at, row.pattern, row.replacement)
                          : *row.pattern ? replace_first(lines, row.pattern, row.replacement)
                                         : 0;
            if (row.names_the_atom) line = 0;
            write_file("value.txt", joined(lines));
            const RUN r = run(std::string("-q --family ") + family + " " + row.options + " value.txt");
            if (row.message == nullptr) {
                EXPECT_EQ(r.status, 0) << r.out;  // a value the kind can hold
                continue;
            }
            EXPECT_EQ(r.status, 1) << r.out;
            EXPECT_NE(r.out.find(row.detail), std::string::npos) << r.out;
            // An atom's error names the atom's line.
            const size_t at = r.out.find("value.txt:");
            if (at == std::string::npos) {
                ADD_FAILURE() << "no line named: " << r.out;
                continue;
            }
            if (line == 0) {
                line = std::stoul(r.out.substr(at + 10));
                const std::string atom = r.out.substr(r.out.find(": atom ", at) + 7);
                EXPECT_EQ(lines[line - 1].rfind("node " + atom.substr(0, atom.find(' ')) + " ", 0), 0u) << r.out;
            }
            EXPECT_EQ(r.out.substr(at, r.out.find('\n', at) - at)
                          .rfind("value.txt:" + std::to_string(line) + ": " + row.message, 0),
                      0u)
                << r.out;
        }
        // Line ends and a byte-order mark change nothing.
        std::string error;
        for (const std::string& text : {joined(good, "\r\n"), "\xEF\xBB\xBF" + joined(good)}) {
            std::unique_ptr<CDB_ATOM_NETLIST> back(cdb_read_native_netlist_text(text, "ends.txt", nullptr, &error));
            EXPECT_NE(back, nullptr) << family << ": " << error;
            if (back) {
                EXPECT_EQ(native_text(*back), joined(good)) << family;
            }
        }
    }
    // An atom of another family that has the same atom types.
    for (const auto& [family, other] :
         {std::pair<const char*, const char*>{"ZEPLA", "35"}, {"KESTLIN", "41"}, {"RZK", "34"}}) {
        std::vector<std::string> lines = native_counter(cdb_family_from_name(family));
        const size_t line = replace_first(lines, R"(^(node \d+) \d+ )", std::string("$1 ") + other + " ");
        write_file("other.txt", joined(lines));
        EXPECT_FAILS_WITH(run(std::string("-q --family ") + family + " other.txt"),
                          "other.txt:" + std::to_string(line) + ": atom " +
                              lines[line - 1].substr(5, lines[line - 1].find(' ', 5) - 5) + " is of family " + other);
    }
    // KESTLIN builds its logic cells as RZK ones, so its saved states and
    // written netlists hold them: they read back.
    {
        std::vector<std::string> lines = native_counter(cdb_family_from_name("KESTLIN"));
        replace_first(lines, R"(^(node \d+) 34 145 )", "$1 41 145 ");
        write_file("rzk_cells.txt", joined(lines));
        const auto r = run("-q --family KESTLIN -o rzk_cells.blif rzk_cells.txt");
        EXPECT_EQ(r.status, 0) << r.out;
    }

    // An output pin named after the cell whose port another output pin is
    // ("q1", as "q1~output" is) gives two output ports one name: the BLIF
    // netlist cannot be written, and says so before the compile.
    {
        std::vector<std::string> lines = native_counter(CDB_FAMILY_BRK, [](CDB_ATOM_NETLIST& netlist) {
            HDB_INSTANCE_NAME* q1 = nullptr;
            CDB_ATOM_NODE* pin = nullptr;
            for (CDB_ATOM_NODE* n : netlist) {
                const std::string name = n->get_instance_name()->get_short_hpath();
                if (name == "q1" && !n->is_pin()) q1 = n->get_instance_name();
                if (name == "q0~output" && n->is_pin()) pin = n;
            }
            ASSERT_TRUE(q1 != nullptr && pin != nullptr);
            pin->set_instance_name(q1);
        });
        write_file("ports.txt", joined(lines));
        EXPECT_FAILS_WITH(run("-q --family BRK -o ports.blif ports.txt"),
                          "error: ports.txt: output port name 'q1' is used twice");
        EXPECT_EQ(run("-q --family BRK --native ports_out.txt ports.txt").status, 0);
    }
    // A ROM slice names its memory-initialisation file relative to the
    // compile's folder: where the file is not, the BLIF netlist cannot be
    // written, and that is said before the compile.
    {
        const std::string sbox = std::string(MORV_SOURCE_DIR) + "/designs/sbox_rom_shared_k6.blif";
        const RUN mapped = run("-q --family BRK --test-string 'RAM_MAP()|TEST()' --set "
                               "fsyn_ram_map_use_aggressive_srt=on --aux-dir mapped --native roms.txt " +
                               sbox);
        ASSERT_EQ(mapped.status, 0) << mapped.out;
        const RUN elsewhere = run("-q --family BRK -o roms.blif roms.txt");
        EXPECT_FAILS_WITH(elsewhere, "error: roms.txt: atom ");
        EXPECT_NE(elsewhere.out.find(".mif: cannot be read"), std::string::npos) << elsewhere.out;
        EXPECT_EQ(run("-q --family BRK --aux-dir mapped -o roms.blif roms.txt").status, 0);
    }
    // A chain entered from outside it, a DSP output block that reads no
    // multiplier, and a block's result bits with a gap: each ended in an
    // internal error under -O.
    {
        std::vector<std::string> lines = native_counter(cdb_family_from_name("BRK"));
        const size_t line = replace_first(lines, R"(^  in 0 11 )", "  in 0 2 ");
        size_t node_line = line;
        while (node_line > 1 && lines[node_line - 1].rfind("node ", 0) != 0) --node_line;
        write_file("cin.txt", joined(lines));
        EXPECT_FAILS_WITH(run("-q -O --family BRK cin.txt"), "cin.txt:" + std::to_string(node_line) + ": atom ");
        EXPECT_NE(run("-q -O --family BRK cin.txt").out.find("takes its cin from atom "), std::string::npos);
    }
    // A carry-in read from a cell's comb-out enters the chain from outside.
    NATIVE_LINES comb_cin("adder_chain_brk.txt");
    ASSERT_EQ(comb_cin.lines[63], "node 13 6 0 12");
    ASSERT_EQ(comb_cin.lines[65], "  in 0 11 0 0 1 -1");
    comb_cin.lines[65] = "  in 0 2 0 0 1 -1";
    comb_cin.write("comb_cin.txt");
    EXPECT_FAILS_WITH(run("-q --family BRK comb_cin.txt"), "comb_cin.txt:64: atom 13 ");
    EXPECT_NE(run("-q --family BRK comb_cin.txt").out.find("takes its cin from atom 10"), std::string::npos);
    NATIVE_LINES dsp("dsp_mac_zepla.txt");
    ASSERT_EQ(dsp.lines[97], "node 1 9 228 0");
    ASSERT_EQ(dsp.lines[118], "  out 5 2 5 -1 8");
    NATIVE_LINES no_mult = dsp;
    no_mult.lines[97] = "node 1 9 226 0";
    no_mult.write("no_mult.txt");
    EXPECT_FAILS_WITH(run("-q -O --family ZEPLA no_mult.txt"),
                      "no_mult.txt:98: atom 1 (a DSP output block) reads 0 multipliers (1 to 4)");
    dsp.lines[118] = "  out 5 2 11 -1 8";
    dsp.write("gap.txt");
    const RUN gap = run("-q -O --family ZEPLA gap.txt");
    EXPECT_FAILS_WITH(gap, "gap.txt:102: atom 3 (a DSP output block) ");
    EXPECT_TRUE(gap.out.find("lacks result bit 5") != std::string::npos ||
                gap.out.find("has result bit 11 beyond its width") != std::string::npos)
        << gap.out;

    // The samples' own cases: an adder's sum-out at index 1 (read as index 0
    // by the compile, as 1 by -O), a comb-out at index 4096, and register
    // feedback in a cell without a register.
    NATIVE_LINES adder("adder_chain_brk.txt");
    ASSERT_EQ(adder.lines[80], "  out 0 7 0 -1 17");
    adder.lines[80] = "  out 0 7 1 -1 17";
    adder.write("adder.txt");
    EXPECT_FAILS_WITH(run("-q -O --family BRK adder.txt"), "adder.txt:81: output of port type 7 of atom 15");
    std::vector<std::string> wide = NATIVE_LINES("hsadder_mrl.txt").lines;
    const size_t wide_line = replace_first(wide, R"(^(  out \d+ 8) 0 )", "$1 4096 ");
    write_file("wide.txt", joined(wide));
    EXPECT_FAILS_WITH(run("-q -O --family MRL wide.txt"),
                      "wide.txt:" + std::to_string(wide_line) + ": output of port type 8 of atom ");
    for (const char* bits : {"7fffffff", "1f", "3f"}) {
        std::vector<std::string> uvo = NATIVE_LINES("ctrl_regs_uvo.txt").lines;
        const size_t at = replace_first(uvo, R"(^  bits \w+$)", std::string("  bits ") + bits);
        write_file("bits.txt", joined(uvo));
        EXPECT_FAILS_WITH(run("-q -O --family UVO bits.txt"),
                          "bits.txt:" + std::to_string(at - 1) + ": atom " +
                              uvo[at - 2].substr(5, uvo[at - 2].find(' ', 5) - 5) +
                              " (a logic cell) feeds its register back (bit 3) but has no register output");
    }

    write_file("marked.txt", "\xEF\xBB\xBF" + joined(native_counter(CDB_FAMILY_BRK), "\r\n"));
    const RUN marked = run("-q --family BRK marked.txt");
    EXPECT_EQ(marked.status, 0) << marked.out;
}

}  // namespace input_checks_test

namespace input_checks_test {

// What morv-fit writes it reads: a falling-edge flip-flop is written as a
// latch of type 'fe', which compiles again with the same edges (the count of
// such lines) and, as ABC proves, the same function.
TEST(MorvFitInputs, FallingEdgeRegistersItWritesCompileAgain)
{
    write_file("falling.blif", ".model falling\n.inputs a b clk rstn\n.outputs q1 q2\n"
                               ".names a b n1\n10 1\n.names q1 b n2\n11 1\n"
                               ".subckt $_DFF_NN0_ C=clk D=n2 Q=q2 R=rstn\n"
                               ".subckt $_DFF_NP0_ C=clk D=n1 Q=q1 R=b\n.end\n");
    auto falling_lines = [](const std::string& path) {
        std::istringstream in(slurp(path));
        int lines = 0;
        for (std::string line; std::getline(in, line);)
            lines += line.rfind(".latch ", 0) == 0 && line.find(" fe ") != std::string::npos;
        return lines;
    };
    const RUN first = run("-q -o falling_1.blif falling.blif");
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(falling_lines("falling_1.blif"), 2);
    const RUN second = run("-q -o falling_2.blif falling_1.blif");
    ASSERT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(falling_lines("falling_2.blif"), 2);
    if (!abc_is_available()) return;
    const ABC_RESULT proved = abc_check_equivalence("falling_1.blif", "falling_2.blif", true);
    EXPECT_TRUE(proved.is_equivalent()) << proved.m_output;
}

// The native writer writes "-" for an atom without a name: such atoms read,
// get names of their own, and -O (which marks the names of the atoms it
// deletes) keeps the design equivalent, proved by ABC.
TEST(MorvFitInputs, NativeAtomsWithoutNamesAreNamedAndOptimisedEquivalently)
{
    for (const char* family : {"BRK", "OBRAN", "MRL"}) {
        SCOPED_TRACE(family);
        std::vector<std::string> lines = native_counter(cdb_family_from_name(family));
        for (std::string& line : lines)
            line = std::regex_replace(line, std::regex(R"(^(node \d+ \d+ \d+) \d+$)"), "$1 -");
        write_file("unnamed.txt", joined(lines));
        const std::string fam = std::string(" --family ") + family;
        const RUN plain = run("-q" + fam + " -o plain.blif unnamed.txt");
        EXPECT_EQ(plain.status, 0) << plain.out;
        const RUN optimised = run("-q -O" + fam + " -o optimised.blif unnamed.txt");
        EXPECT_EQ(optimised.status, 0) << optimised.out;
        if (plain.status != 0 || optimised.status != 0 || !abc_is_available()) continue;
        const ABC_RESULT proved = abc_check_equivalence("plain.blif", "optimised.blif", true);
        EXPECT_TRUE(proved.is_equivalent()) << proved.m_output;
    }
}

}  // namespace input_checks_test
