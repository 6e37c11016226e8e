// The RAM-mapping flow on the S-box design: candidates found per register
// type and chosen within the free RAMs, the memory-count message, the
// memory-initialisation file written before any edit, and the iterations
// that must build nothing (change logging on).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <fstream>
#include <string>
#include <vector>

#include "io/blif_reader.h"
#include "cfg/cfg.h"
#include "cut/cut_block_util.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

#include "log_capture.h"
#include "morv/rammap/morv_ram_cluster_growth.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_flow.h"
#include "morv/rammap/morv_ram_map.h"
#include "rammap_run.h"
#include "seq_harness.h"

namespace ram_map_flow_test {

namespace {

std::unique_ptr<CDB_ATOM_NETLIST> read_design(int family, const std::string& design)
{
    return BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif");
}

std::unique_ptr<CDB_ATOM_NETLIST> read_sbox(int family)
{
    return read_design(family, cdb_family_lut_size(family) == 6 ? "sbox_rom_k6" : "sbox_rom_k4");
}

DEV_DEVICE* device_from(const std::string& text)
{
    const std::string path = "ram_map_device.txt";
    std::ofstream(path) << text;
    DEV_DEVICE* device = DEV_DEVICE::load_from_file(path.c_str());
    std::remove(path.c_str());
    return device;
}

// Runs in a folder of its own, with or without the "db" folder the
// memory-initialisation files go to.
class SCRATCH_FOLDER
{
public:
    SCRATCH_FOLDER(const std::string& name, bool with_db) : m_home(std::filesystem::current_path())
    {
        m_folder = m_home / name;
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        if (with_db) std::filesystem::create_directories(m_folder / "db");
        std::filesystem::current_path(m_folder);
    }
    ~SCRATCH_FOLDER()
    {
        std::filesystem::current_path(m_home);
        std::filesystem::remove_all(m_folder);
    }
    SCRATCH_FOLDER(const SCRATCH_FOLDER&) = delete;
    SCRATCH_FOLDER& operator=(const SCRATCH_FOLDER&) = delete;
    int count_files(const std::string& under) const
    {
        if (!std::filesystem::exists(m_folder / under)) return 0;
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder / under)) n += entry.is_regular_file();
        return n;
    }

private:
    std::filesystem::path m_home;
    std::filesystem::path m_folder;
};

int run_flow(RAMMAP_RUN& run, double threshold = 0.0)
{
    run.util()->prepare_cluster_carry_chains();
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER manager(threshold);
    return manager.get_ram_flow()->run();
}

std::vector<MSG_POSTED_MESSAGE> posted_with(const std::string& id_part)
{
    std::vector<MSG_POSTED_MESSAGE> found;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id.find(id_part) != std::string::npos) found.push_back(m);
    return found;
}

// LUTs that still feed something other than LUTs, through any chain of
// LUTs: the sweep of the replaced logic is the run driver's.
int count_luts(RAMMAP_RUN& run)
{
    std::set<CDB_ATOM_NODE*> live;
    std::vector<CDB_ATOM_NODE*> stack;
    const auto reach_inputs = [&](CDB_ATOM_NODE* node) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_OTERM* source = (*it)->get_source();
            if (source == nullptr) continue;
            CDB_ATOM_NODE* driver = source->get_my_node();
            if (run.util()->is_lut(driver) && live.insert(driver).second) stack.push_back(driver);
        }
    };
    for (CDB_ATOM_NODE* node : run.netlist())
        if (!run.util()->is_lut(node)) reach_inputs(node);
    while (!stack.empty()) {
        CDB_ATOM_NODE* node = stack.back();
        stack.pop_back();
        reach_inputs(node);
    }
    return static_cast<int>(live.size());
}

bool has_line(const std::vector<std::string>& lines, const std::string& text)
{
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// Four registered address bits read by four LUTs into four registers: a
// ROM small enough for one RAM. `edit` runs on the finished netlist.
RAMMAP_BUILD small_rom(const std::function<void(FIXTURE_NETLIST&, const std::vector<CDB_ATOM_NODE*>&)>& edit)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        std::vector<CDB_ATOM_OTERM*> address;
        for (int i = 0; i < 4; ++i) address.push_back(f.reg(indexed("r", i), f.input(indexed("a", i)), clk));
        const uint64_t masks[] = {0x6996, 0x8ff1, 0x3c5a, 0xe817};
        for (int i = 0; i < 4; ++i)
            f.output(indexed("o", i), f.reg(indexed("q", i), f.lut(indexed("f", i), address, masks[i]), clk));
        std::vector<CDB_ATOM_NODE*> registers;
        for (CDB_ATOM_NODE* node : f.netlist())
            if (node->is_register()) registers.push_back(node);
        edit(f, registers);
    };
}

}  // namespace

TEST(RamMapFlow, ClusterSizesAndTheRamTheyNeed)
{
    EXPECT_FALSE(morv_ram_needs_medium(9, 512));  // 9 inputs, 1 output
    EXPECT_TRUE(morv_ram_needs_medium(9, 1024));  // 9 inputs, 2 outputs
    EXPECT_TRUE(morv_ram_needs_medium(20, 1));
    EXPECT_FALSE(morv_ram_needs_medium(19, 1));
}

TEST(RamMapFlow, ANetlistWithoutRegistersPostsZeroMemoriesAndNoName)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* a = f.input("a");
        CDB_ATOM_OTERM* b = f.input("b");
        f.output("y", f.lut("and", {a, b}, 0x8));
    });
    msg_clear_posted_messages();
    EXPECT_EQ(run_flow(run), 0);
    const std::vector<MSG_POSTED_MESSAGE> count = posted_with("MEMORY_COUNT");
    ASSERT_EQ(count.size(), 1u);
    EXPECT_EQ(count[0].text, "Logic to memory mapping created 0 memory blocks");
    EXPECT_TRUE(posted_with("MEMORY_NAME").empty());
}

// Each S-box becomes RAM slices that read the file the flow wrote; the
// mapped design is proved against the design as read and simulated for
// 2,000 random cycles beside it.
TEST(RamMapFlow, SboxDesignsBecomeRamsThatComputeWhatTheLogicComputed)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_ZEPLA}) {
        const std::string tag = std::string("ram_map_sbox_") + cdb_get_family_info(family)->name;
        SCOPED_TRACE(tag);
        SCRATCH_FOLDER folder(tag, true);
        RAMMAP_RUN run(family, read_sbox(family));
        const int luts_before = count_luts(run);
        MORV_LOG_CAPTURE log(2);
        msg_clear_posted_messages();
        const int mapped = run_flow(run);
        EXPECT_GE(mapped, 4);
        const std::vector<std::string> lines = log.lines();
        EXPECT_TRUE(has_line(lines, "TOTAL CLUSTER SCORE: ")) << "the score line closes every run";
        EXPECT_EQ(folder.count_files("db"), mapped) << "one file per memory";
        EXPECT_TRUE(posted_with("MIF_NOT_WRITTEN").empty());
        ASSERT_EQ(posted_with("MEMORY_COUNT").size(), 1u);
        EXPECT_EQ(posted_with("MEMORY_COUNT")[0].text,
                  "Logic to memory mapping created " + std::to_string(mapped) + " memory blocks");
        EXPECT_EQ(static_cast<int>(posted_with("MEMORY_NAME").size()), mapped);
        const int luts_after = count_luts(run);
        EXPECT_GE(luts_before - luts_after, 100) << luts_before << " -> " << luts_after;
        const SEQ_VERDICT v = seq_check(*read_sbox(family), run.netlist(), tag, true, 2000);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

// frisc takes a minute under the sanitizers: the check script runs it.
TEST(RamMapFlow, FriscMappedOnBrkComputesWhatItComputed)
{
    if (std::getenv("MORV_RAMMAP_FRISC") == nullptr) GTEST_SKIP() << "MORV_RAMMAP_FRISC not set";
    SCRATCH_FOLDER folder("ram_map_frisc", true);
    const std::string path = std::string(MORV_SOURCE_DIR) + "/bench/mcnc_k4/frisc.blif";
    RAMMAP_RUN run(CDB_FAMILY_BRK, BLIF_READER(CDB_FAMILY_BRK).read_file(path));
    EXPECT_GE(run_flow(run), 1);
    const SEQ_VERDICT v =
        seq_check(*BLIF_READER(CDB_FAMILY_BRK).read_file(path), run.netlist(), "ram_map_frisc", true, 2000);
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

TEST(RamMapFlow, AFileThatCannotBeWrittenNamesItselfAndLeavesTheNetlistAsItWas)
{
    SCRATCH_FOLDER folder("ram_map_flow_unwritable", false);
    std::ofstream("db") << "a file where the folder should be\n";
    RAMMAP_RUN run(CDB_FAMILY_BRK, read_sbox(CDB_FAMILY_BRK));
    const size_t nodes = run.netlist().get_node_count();
    msg_clear_posted_messages();
    EXPECT_EQ(run_flow(run), 0);
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
    const std::vector<MSG_POSTED_MESSAGE> errors = posted_with("MIF_NOT_WRITTEN");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].kind, MSG_KIND::ERROR);
    EXPECT_NE(errors[0].text.find("db/"), std::string::npos) << errors[0].text;
    EXPECT_NE(errors[0].text.find(".rmp.mif"), std::string::npos) << errors[0].text;
    EXPECT_EQ(posted_with("MEMORY_COUNT").at(0).text, "Logic to memory mapping created 0 memory blocks");
    EXPECT_EQ(folder.count_files(""), 1) << "no partial file is left beside the one that blocks the folder";
}

TEST(RamMapFlow, ChangeLoggingOnBuildsNoRamBeforeAnyEdit)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, read_sbox(CDB_FAMILY_BRK), device_from("family 6\nmigratable_part 2401\n"));
    ASSERT_TRUE(run.api()->is_fsyn_logging_on());
    const size_t nodes = run.netlist().get_node_count();
    MORV_PARAMETER_MAP params;
    MORV_RAM_MAP algorithm(run.api(), &params);
    MORV_LOG_CAPTURE log(1);
    EXPECT_EQ(algorithm.do_iter(), 0);
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
    const std::vector<std::string> lines = log.lines();
    EXPECT_TRUE(has_line(lines, "change logging is on")) << lines.size();
    EXPECT_FALSE(has_line(lines, "Selecting from"));
}

// A second run meets the RAMs of the first among the logic it searches;
// the design still computes what it did.
TEST(RamMapFlow, ASecondRunOverTheRamsOfTheFirstStaysEquivalent)
{
    SCRATCH_FOLDER folder("ram_map_flow_twice", true);
    RAMMAP_RUN run(CDB_FAMILY_ZEPLA, read_design(CDB_FAMILY_ZEPLA, "async_reset"));
    EXPECT_GE(run_flow(run), 1);
    run_flow(run);
    const SEQ_VERDICT v =
        seq_check(*read_design(CDB_FAMILY_ZEPLA, "async_reset"), run.netlist(), "ram_map_twice", true, 300);
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

// A device whose RAMs need their enables rewired has every RAM atom handed
// to the host's rewiring once mapping is done, the new slices included.
TEST(RamMapFlow, TheEnableFixReachesEveryRamOfADeviceThatNeedsIt)
{
    SCRATCH_FOLDER folder("ram_map_flow_enables", true);
    RAMMAP_RUN run(CDB_FAMILY_BRK, read_sbox(CDB_FAMILY_BRK), device_from("family 6\nbool 125 1\n"));
    const int before = cut_rewired_enable_count();
    run_flow(run);
    int rams = 0;
    for (CDB_ATOM_NODE* node : run.netlist()) rams += node->is_ram();
    EXPECT_GE(rams, 32);
    EXPECT_EQ(cut_rewired_enable_count() - before, rams);
}

TEST(RamMapFlow, AFamilyWithoutARamUtilityBuildsNothing)
{
    RAMMAP_RUN run(CDB_FAMILY_UVO, read_design(CDB_FAMILY_UVO, "sbox_rom_k4"));
    const size_t nodes = run.netlist().get_node_count();
    MORV_PARAMETER_MAP params;
    MORV_RAM_MAP algorithm(run.api(), &params);
    MORV_LOG_CAPTURE log(1);
    EXPECT_EQ(algorithm.do_iter(), 0);
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
    EXPECT_TRUE(has_line(log.lines(), "has no RAM utility"));
}

TEST(RamMapFlow, TheSlackRatioThresholdFollowsTheAggressiveSwitch)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, read_sbox(CDB_FAMILY_BRK));
    MORV_PARAMETER_MAP params;
    for (const char* value : {"off", "on"}) {
        cfg_set_value("fsyn_ram_map_use_aggressive_srt", value);
        MORV_RAM_MAP algorithm(run.api(), &params);
        int passes = -1, icp = -1, restore = -1, iters = -1, hci = -1;
        double fom = -1.0;
        algorithm.set_default_algorithm_parameters(passes, icp, fom, restore);
        algorithm.set_default_pass_parameters(0, iters, hci);
        EXPECT_EQ(iters, 10);
        EXPECT_EQ(hci, 10);
        EXPECT_EQ(algorithm.get_slack_ratio_threshold(), std::string(value) == "on" ? 0.0 : 0.125);
        EXPECT_EQ(algorithm.get_short_name(), "RAM_MAP_PLUS");
    }
    cfg_unset("fsyn_ram_map_use_aggressive_srt");
}

// The RAM's registers cannot load a value asynchronously: registers whose
// load is driven (even active low), or left unconnected and so always
// active, must not be packed, while the same ROM without one is.
TEST(RamMapFlow, RegistersThatLoadAsynchronouslyAreNeverPacked)
{
    using REGISTERS = const std::vector<CDB_ATOM_NODE*>&;
    const std::pair<const char*, RAMMAP_BUILD> cases[] = {
        {"no load", small_rom([](FIXTURE_NETLIST&, REGISTERS) {})},
        {"driven, active low", small_rom([](FIXTURE_NETLIST& f, REGISTERS registers) {
             CDB_ATOM_OTERM* load = f.input("al");
             CDB_ATOM_OTERM* data = f.input("ad");
             for (CDB_ATOM_NODE* r : registers) {
                 CDB_ATOM_ITERM* aload = r->add_input_term(DB_ASYNCH_LOAD);
                 load->insert_fanout(aload);
                 aload->set_invert(true);
                 data->insert_fanout(r->add_input_term(DB_ASYNCH_DATA));
             }
         })},
        {"unconnected", small_rom([](FIXTURE_NETLIST&, REGISTERS registers) {
             for (CDB_ATOM_NODE* r : registers) r->add_input_term(DB_ASYNCH_LOAD);
         })},
    };
    for (const auto& [what, build] : cases) {
        SCOPED_TRACE(what);
        SCRATCH_FOLDER folder("ram_map_flow_aload", true);
        RAMMAP_RUN run(CDB_FAMILY_ZEPLA, build);
        const size_t nodes = run.netlist().get_node_count();
        const int mapped = run_flow(run);
        if (std::string(what) == "no load") {
            // The address registers feed all four LUTs: each is a ROM.
            EXPECT_EQ(mapped, 4);
            continue;
        }
        EXPECT_EQ(mapped, 0);
        EXPECT_EQ(run.netlist().get_node_count(), nodes);
    }
}

// A register reading VCC gets a LUT that drives 1 in its place, one LUT
// shared by all of them; a register the user keeps keeps its VCC.
TEST(RamMapFlow, VccDataInputsBecomeOneSharedLutExceptOnAKeptRegister)
{
    RAMMAP_RUN run(CDB_FAMILY_ZEPLA, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* d = f.input("d");
        for (const char* name : {"p1", "p2", "kept"}) {
            CDB_ATOM_OTERM* q = f.reg(name, d, clk);
            CDB_ATOM_ITERM* data = q->get_my_node()->get_input_term_by_type(DB_DATAIN);
            data->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            data->set_vcc();
            f.output(std::string("o_") + name, q);
            if (std::string(name) != "kept") continue;
            CDB_ATOM_ASSIGNMENTS kept = q->get_my_node()->get_assignments();
            kept.dont_touch = true;
            q->get_my_node()->set_assignments(kept);
        }
    });
    const size_t nodes = run.netlist().get_node_count();
    EXPECT_EQ(run_flow(run), 0);
    EXPECT_EQ(run.netlist().get_node_count(), nodes + 1);
    const auto data_of = [&](const char* name) { return run.node(name)->get_input_term_by_type(DB_DATAIN); };
    ASSERT_NE(data_of("p1")->get_source(), nullptr);
    EXPECT_EQ(data_of("p1")->get_source(), data_of("p2")->get_source());
    EXPECT_TRUE(run.util()->is_lut(data_of("p1")->get_source()->get_my_node()));
    EXPECT_EQ(data_of("kept")->get_source(), nullptr);
    EXPECT_TRUE(data_of("kept")->is_vcc());
}

// x reads r0 and a register z of another clock and drives a pin: it can be
// neither a RAM's input nor its output, so it seeds no cluster. A LUT
// refused both ways taken as a seed adds ten clusters to the five.
TEST(RamMapFlow, ALutRefusedBothWaysSeedsNoCandidate)
{
    const auto add_x = [](FIXTURE_NETLIST& f, const std::vector<CDB_ATOM_NODE*>& r) {
        CDB_ATOM_OTERM* z = f.reg("z", f.input("b"), f.input("clk2"));
        f.output("ox", f.lut("x", {z, r[0]->get_output_term_by_type(DB_REG_OUT)}, 0x6));
    };
    RAMMAP_RUN run(CDB_FAMILY_ZEPLA, small_rom(add_x));
    SCRATCH_FOLDER folder("ram_map_flow_seeds", true);
    MORV_LOG_CAPTURE log(1);
    run_flow(run);
    EXPECT_TRUE(has_line(log.lines(), "Selecting from 5 candidate clusters."));
}

}  // namespace ram_map_flow_test
