// Placement regions through a whole compile: locked atoms are placed inside
// their rectangles, the component's chip and cluster maps follow the host's
// clustering and placement, and the post-clustering flow lays the clusters
// onto the chip map.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_format.h"
#include "cfg/cfg.h"
#include "flow_fit.h"
#include "hdb/hdb_instance_name.h"
#include "host_compile.h"
#include "host_env.h"
#include "host_fitter.h"
#include "io/blif_reader.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv_test_util.h"
#include "msg/msg.h"

namespace flow_regions_test {

using namespace morv_host;

namespace {

const std::string k_frisc = std::string(MORV_BENCH_DIR) + "/mcnc_k4/frisc.blif";

// Registers (named after their outputs) and LUTs of frisc.
const char* const k_locked[][5] = {
    {"ndout", "3", "3", "6", "6"},         {"ppeakb_12_12_", "3", "3", "6", "6"}, {"[4244]", "3", "3", "6", "6"},
    {"ppeakb_1_1_", "10", "2", "12", "4"}, {"[4259]", "10", "2", "12", "4"},      {"ppeaka_6_6_", "5", "5", "5", "5"},
    {"[4274]", "20", "1", "20", "30"},
};

void write_regions_file(const std::string& path)
{
    std::ofstream out(path);
    for (const auto& line : k_locked)
        out << "locked_region=" << line[0] << " " << line[1] << " " << line[2] << " " << line[3] << " " << line[4]
            << "\n";
    out << "kardel_region=[4295] 5\nkardel_region=[4310] 5\nkardel_region=ppeakb_12_12_ 5\n";
    out << "floating_region=5 4\n";
}

std::unique_ptr<CDB_ATOM_NETLIST> read_native(const std::string& path)
{
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist(cdb_read_native_netlist_file(path, nullptr, &error));
    EXPECT_NE(netlist, nullptr) << error;
    return netlist;
}

// The atoms of a native netlist locked to a rectangle, each checked to lie in it.
int count_locked_inside(const std::string& path)
{
    std::unique_ptr<CDB_ATOM_NETLIST> placed = read_native(path);
    if (placed == nullptr) return -1;
    int locked = 0;
    for (CDB_ATOM_NODE* node : *placed) {
        const CDB_ATOM_ASSIGNMENTS& a = node->get_assignments();
        if (a.locked_x1 < 0) continue;
        ++locked;
        EXPECT_GE(node->get_lab_x(), a.locked_x1) << path << " " << node->get_id();
        EXPECT_LE(node->get_lab_x(), a.locked_x2) << path << " " << node->get_id();
        EXPECT_GE(node->get_lab_y(), a.locked_y1) << path << " " << node->get_id();
        EXPECT_LE(node->get_lab_y(), a.locked_y2) << path << " " << node->get_id();
    }
    return locked;
}

TEST(FlowRegions, LockedAtomsArePlacedInsideTheirRectanglesAndTheOutputStaysEquivalent)
{
    write_regions_file("regions.txt");
    std::string log;
    const int status = fit({"-q", "--family", "OBRAN", "--settings", "regions.txt", "--test-string", "TEST()|TEST()",
                            "-o", "frisc_regions.blif", "--native", "frisc_regions.native", k_frisc},
                           &log);
    ASSERT_EQ(status, 0) << log;
    EXPECT_EQ(count_locked_inside("frisc_regions.native"), static_cast<int>(std::size(k_locked)));
    if (!abc_is_available()) return;
    ABC_RESULT r = abc_check_equivalence(k_frisc, "frisc_regions.blif", true);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

// The eight registers of the counter locked to one LAB: the registers that
// retiming makes from them keep the lock, before placement (the early flow)
// and after it (LATE), and lie inside with the others.
TEST(FlowRegions, RegistersRetimingMakesFromLockedOnesKeepTheirRegion)
{
    const std::string counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
    std::ofstream out("counter_lock.txt");
    for (int r = 0; r < 8; ++r) out << "locked_region=r" << r << " 10 10 10 10\n";
    out.close();
    for (const char* flows : {"RTM()|", "|RTM()"}) {
        std::string log;
        ASSERT_EQ(fit({"-q", "--settings", "counter_lock.txt", "--test-string", flows, "-o", "counter_lock.blif",
                       "--native", "counter_lock.native", counter},
                      &log),
                  0)
            << log;
        EXPECT_GT(count_locked_inside("counter_lock.native"), 8) << flows;
        if (!abc_is_available()) continue;
        const ABC_RESULT r = abc_check_equivalence(counter, "counter_lock.blif", true);
        EXPECT_TRUE(r.is_equivalent()) << flows << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

// A register locked to one LAB that physical synthesis turns into a shift
// register in RAM and copies: the RAM and the copies cannot sit in the LAB,
// so they give the lock up with a warning, and the compile that succeeds
// plain succeeds optimised.
TEST(FlowRegions, WhatPhysicalSynthesisMakesBeyondARegionsRoomIsPlacedOutsideIt)
{
    const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/shift_ram_obran.txt";
    std::string log;
    const std::vector<std::string> common = {"--family", "OBRAN", "--set", "locked_region=s10_c0 4 1 4 1", design};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), common.begin(), common.end());
        return fit(args, &log);
    };
    ASSERT_EQ(run({"-q", "-o", "shift_plain.blif"}), 0) << log;
    EXPECT_EQ(count_posted("WHOST_LOCK_RELEASED"), 0);
    ASSERT_EQ(run({"-q", "-O", "-o", "shift_opt.blif", "--native", "shift_opt.native"}), 0) << log;
    EXPECT_EQ(count_posted("WHOST_LOCK_RELEASED"), 1);
    EXPECT_GE(count_locked_inside("shift_opt.native"), 1);
    if (!abc_is_available()) return;
    const ABC_RESULT r = abc_check_equivalence("shift_plain.blif", "shift_opt.blif", true);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

TEST(FlowRegions, RectangleWithTooFewLabsForItsAtomsIsAnInputError)
{
    // Thirty of frisc's LUTs ([4244], [4259], ... [4679]), which share few
    // signals, locked to the one LAB at (5, 5): they cluster into more than
    // the one block that LAB takes.
    std::ofstream out("crowded.txt");
    for (int k = 0; k < 30; ++k) out << "locked_region=[" << 4244 + 15 * k << "] 5 5 5 5\n";
    out.close();
    std::string log;
    const int status =
        fit({"-q", "--family", "OBRAN", "--settings", "crowded.txt", "-o", "crowded.blif", k_frisc}, &log);
    EXPECT_EQ(status, 1) << log;
    // Named by the first settings line that locks an atom there.
    EXPECT_NE(log.find("crowded.txt:1: the locked region (5, 5) - (5, 5) has room for 1 of the "), std::string::npos)
        << log;
    EXPECT_NE(log.find(" blocks locked to it"), std::string::npos) << log;
    EXPECT_FALSE(std::ifstream("crowded.blif").good());
}

// A RAM is locked to a RAM block of any size, a DSP block to a DSP block,
// and neither to the other's: on both families' grids, RAM blocks stand in
// column 8 (a medium one in row 4) and DSP blocks in column 12.
TEST(FlowRegions, BlocksAreLockedToBlocksOfTheirKind)
{
    const std::string designs = std::string(MORV_SOURCE_DIR) + "/designs/";
    struct CASE
    {
        const char* family;
        const char* design;
        const char* locks;
        const char* error;  // null: placed inside
    };
    const CASE cases[] = {
        {"OBRAN", "ram_outreg_obran.txt", "locked_region=mem|bit0 8 4 8 4\n", nullptr},
        {"OBRAN", "ram_outreg_obran.txt", "locked_region=mem|bit0 12 1 12 4\n", "holds no RAM block"},
        {"BRK", "dsp_mac_brk.txt", "locked_region=d_o 12 1 12 9\nlocked_region=d_m0 12 1 12 9\n", nullptr},
        {"BRK", "dsp_mac_brk.txt", "locked_region=d_m0 8 1 8 9\n", "holds no DSP block"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.locks);
        std::ofstream("blocks.txt") << c.locks;
        std::filesystem::remove("blocks.native");
        std::string log;
        const int status = fit(
            {"-q", "--family", c.family, "--settings", "blocks.txt", "--native", "blocks.native", designs + c.design},
            &log);
        if (c.error != nullptr) {
            EXPECT_EQ(status, 1) << log;
            EXPECT_NE(log.find("blocks.txt:1: the locked region"), std::string::npos) << log;
            EXPECT_NE(log.find(c.error), std::string::npos) << log;
            continue;
        }
        ASSERT_EQ(status, 0) << log;
        std::unique_ptr<CDB_ATOM_NETLIST> placed = read_native("blocks.native");
        ASSERT_NE(placed, nullptr);
        int locked = 0;
        for (CDB_ATOM_NODE* node : *placed) {
            const CDB_ATOM_ASSIGNMENTS& a = node->get_assignments();
            if (a.locked_x1 < 0) continue;
            ++locked;
            EXPECT_TRUE(node->get_lab_x() >= a.locked_x1 && node->get_lab_x() <= a.locked_x2 &&
                        node->get_lab_y() >= a.locked_y1 && node->get_lab_y() <= a.locked_y2)
                << node->get_id() << " at (" << node->get_lab_x() << ", " << node->get_lab_y() << ")";
        }
        EXPECT_GT(locked, 0);
    }
}

// The component's maps against the host's clustering (after the
// post-clustering flow laid it onto the chip map) and placement.
class FlowRegionsMaps : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        cfg_set_value("fsyn_disable_experimental_icp", "on");
    }
    void TearDown() override { cfg_clear_all(); }
};

TEST_F(FlowRegionsMaps, ChipAndClusterMapsAgreeWithTheHostsClusteringAndPlacement)
{
    BLIF_READER reader(CDB_FAMILY_OBRAN);
    HOST_DESIGN design(CDB_FAMILY_OBRAN, reader.read_file(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s1423.blif"));
    design.options().set_string(MORV_SETTING_TEST_STRING, "TEST()|TEST()|TEST()");
    std::unique_ptr<HOST_ENV> env = std::make_unique<HOST_ENV>(design);
    MORV_EXPERT_INTERFACE* expert = env->get_fsyn_expert();
    MORV_API* api = dynamic_cast<MORV_EXPERT*>(expert)->get_fsyn_api();
    for (e_fsyn_flow flow : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW})
        if (expert->will_fsyn_run(flow)) {
            ASSERT_TRUE(expert->do_physical_synthesis(flow));
        }
    HOST_CLUSTERING clustering = cluster_netlist(*env);
    hand_clusters_to_component(*env, clustering, expert);
    ASSERT_TRUE(expert->will_fsyn_run(POST_CLUSTERING_FSYN_FLOW));
    ASSERT_TRUE(expert->do_physical_synthesis(POST_CLUSTERING_FSYN_FLOW));

    MORV_CHIP_MAP* chip_map = api->get_fsyn_chip_map();
    MORV_CLUSTER_MAP* cluster_map = api->get_fsyn_cluster_map();
    std::map<int, int> cluster_of;
    std::set<std::pair<int, int>> labs_used;
    for (size_t c = 0; c < clustering.clusters.size(); ++c) {
        int lab_x = -1, lab_y = -1;
        for (uint32_t atom : clustering.clusters[c]) {
            cluster_of[static_cast<int>(atom)] = static_cast<int>(c);
            EXPECT_EQ(cluster_map->get_cluster_id(static_cast<int>(atom)), static_cast<int>(c)) << atom;
            int x = -1, y = -1;
            ASSERT_TRUE(chip_map->get_node_xy(static_cast<int>(atom), &x, &y)) << atom;
            if (lab_x == -1) {
                lab_x = x;
                lab_y = y;
                EXPECT_TRUE(labs_used.insert({x, y}).second) << "cluster " << c << " shares a LAB";
            }
            EXPECT_EQ(std::make_pair(x, y), std::make_pair(lab_x, lab_y)) << atom;
        }
    }
    for (CDB_ATOM_NODE* node : *design.netlist()) {
        const int atom = static_cast<int>(node->get_id());
        if (cluster_of.count(atom) != 0) continue;
        MORV_LOC location;
        EXPECT_FALSE(chip_map->get_node_location(atom, &location)) << "unclustered atom " << atom;
        EXPECT_EQ(cluster_map->get_cluster_id(atom), -1) << atom;
    }

    HOST_PLACEMENT placement = place_netlist(*env, clustering, 3, {0.3});
    ASSERT_TRUE(placement.ok) << placement.error;
    hand_locations_to_component(*env, expert);
    int walked = 0;
    for (CDB_ATOM_NODE* node : *design.netlist()) {
        MORV_LOC location;
        ASSERT_TRUE(api->get_fsyn_chip_map()->get_node_location(static_cast<int>(node->get_id()), &location));
        EXPECT_EQ(location, (MORV_LOC{node->get_lab_x(), node->get_lab_y(), node->get_sub_location(), -1}));
        ++walked;
    }
    EXPECT_GT(walked, 0);
    ASSERT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
}

TEST(FlowRegions, PostClusteringTestStringRunsWithTheExperimentalIcpOff)
{
    std::string log;
    const int status =
        fit({"-q", "--family", "OBRAN", "--set", "fsyn_disable_experimental_icp=on", "--test-string",
             "TEST()|TEST()|TEST()", "-o", "s1423_pc.blif", std::string(MORV_BENCH_DIR) + "/iscas89_k6/s1423.blif"},
            &log);
    ASSERT_EQ(status, 0) << log;
    EXPECT_NE(log.find("\nPOST_CLUSTERING "), std::string::npos) << log;
    EXPECT_EQ(log.find("POST_CLUSTERING (off)"), std::string::npos) << log;
}

}  // namespace

}  // namespace flow_regions_test
