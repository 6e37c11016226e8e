// Device model: grid, block types, the delay model's shape and the queries
// that must agree with it.

#include <gtest/gtest.h>

#include "dev/dev_device.h"

namespace dev_device_test {

namespace {
const int ALL_FAMILIES[] = {6, 9, 10, 24, 34, 35, 41, 42, 47};
}  // namespace

TEST(DevDevice, EveryFamilyHasAPlausibleGridAndDelays)
{
    for (int f : ALL_FAMILIES) {
        DEV_DEVICE dev(f);
        SCOPED_TRACE(dev_family_name(f));
        EXPECT_EQ(dev.get_base_family(), f == 35 ? 9 : f);
        EXPECT_GT(dev.get_num_usable_labs(), 100);
        // Corners are empty, the border is I/O, the inside has usable LABs.
        EXPECT_EQ(dev.get_block_type(0, 0), DEV_BLOCK_NONE);
        EXPECT_EQ(dev.get_block_type(0, 5), DEV_BLOCK_IO);
        EXPECT_TRUE(dev_is_usable_lab_type(dev.get_block_type(1, 1)));
        EXPECT_EQ(dev.get_block_type(-1, 3), DEV_BLOCK_NONE);
        EXPECT_FALSE(dev.get_ram_columns().empty());
        // LUT inputs: A slowest, the last data input fastest.
        const DEV_TIMING_MODEL& m = dev.get_timing_model();
        int last = dev.get_lut_size() - 1;
        for (int k = 0; k < last; ++k) EXPECT_GT(m.lut_input[k], m.lut_input[k + 1]);
        EXPECT_GT(m.tco, 0);
        EXPECT_GT(m.tsu, 0);
        // Routing grows with distance; one LAB costs the intra-LAB delay.
        EXPECT_EQ(dev.get_routing_delay_ps(4, 4, 4, 4), m.intra_lab);
        EXPECT_LT(dev.get_routing_delay_ps(4, 4, 5, 4), dev.get_routing_delay_ps(4, 4, 9, 4));
        EXPECT_EQ(dev.get_routing_delay_ps(4, 4, 6, 7), dev.get_routing_delay_ps(6, 7, 4, 4));
        EXPECT_TRUE(PLDM::is_part_supported(dev.get_part()));
        EXPECT_EQ(dev.get_fl_info() != nullptr, f == DEV_FAMILY_MORLIN);
    }
    EXPECT_FALSE(PLDM::is_part_supported(DEV_PART_INVALID));
    EXPECT_THROW(DEV_DEVICE(7), std::runtime_error);
}

TEST(DevDevice, CellDelayQueriesAgreeWithTheModel)
{
    DEV_DEVICE dev(DEV_FAMILY_OBRAN);
    DTM_TIMING_INFO* ti = dev.get_timing_info();
    const DEV_TIMING_MODEL& m = dev.get_timing_model();
    EXPECT_EQ(ti->get_p2p_node_delay(DEV_PORT_DATA_A, 8, 0, 94), m.lut_input[0]);
    EXPECT_EQ(ti->get_p2p_node_delay(DEV_PORT_DATA_F, 8, 0, 3), m.lut_input[5]);
    // The four secondary class combinations average to the pin delay.
    int sum = ti->get_p2p_node_delay(12, 8, 0, 159, 94, 59, 59) + ti->get_p2p_node_delay(12, 8, 0, 159, 94, 59, 58) +
              ti->get_p2p_node_delay(12, 8, 0, 159, 94, 58, 59) + ti->get_p2p_node_delay(12, 8, 0, 159, 94, 58, 58);
    EXPECT_EQ(sum / 4, m.lut_input[1]);
    EXPECT_EQ(ti->get_p2p_node_delay(99, 8, 0, 94), (int)0x80000001);
    EXPECT_EQ(dev.get_cell_delay_ps(DEV_PORT_CARRY_IN, DEV_PORT_CARRY_OUT), m.carry_in_to_carry_out);
    EXPECT_EQ(dev.get_cell_delay_ps(DEV_PORT_CARRY_IN, DEV_PORT_SUM_OUT), m.carry_in_to_sum);
    // A 4-input family has no E or F input.
    DEV_DEVICE zepla(DEV_FAMILY_ZEPLA);
    EXPECT_EQ(zepla.get_timing_info()->get_p2p_node_delay(15, 8, 0, 3), (int)0x80000001);
    // Clock-buffer path delay in seconds, as the fitter's delay tables hold it.
    DUVO_FITTER_DELAY_INFO* fd = dev.get_die_info()->get_duvo_die_info()->get_fitter_delay_info();
    ASSERT_TRUE(fd->load_data(false));
    DUVO_DELAY d = fd->get_cached_path_delay(0);
    EXPECT_NEAR((d.first + d.second) * 0.5 * 1e12, m.clock_network, 1e-3);
}

TEST(DevDevice, PlaceBlocksRoundTripThroughGlobalIds)
{
    DEV_DEVICE dev(DEV_FAMILY_BRENNOCK);
    DUVO_PLACE_INFO* pi = dev.get_die_info()->get_duvo_die_info()->get_place_info();
    int id = pi->get_global_id(0, 7, 9, 3);
    ASSERT_GE(id, 0);
    const DUVO_PLACE_BLOCK* b = pi->get_place_block(id);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->x, 7);
    EXPECT_EQ(b->y, 9);
    EXPECT_EQ(b->sub, 3);
    EXPECT_EQ(pi->get_global_id(0, dev.get_nx(), 0, 0), -1);
    EXPECT_EQ(pi->get_place_block(-5), nullptr);
}

TEST(DevDevice, CurrentDeviceDrivesTheSharedRoutingDelay)
{
    DMGR_UTILITY::set_current_family(DEV_FAMILY_UVO);
    DEV_DEVICE* dev = DMGR_UTILITY::get_current_device();
    EXPECT_EQ(dev->get_family(), DEV_FAMILY_UVO);
    PLDM pldm(dev->get_part());
    EXPECT_EQ(pldm.get_point_to_point_delay(1, 1, 5, 2), dev_routing_delay_ps(1, 1, 5, 2));
    EXPECT_NEAR(dev_routing_delay_seconds(1, 1, 5, 2), dev->get_routing_delay_ps(1, 1, 5, 2) * 1e-12, 1e-18);
    DMGR_UTILITY::set_current_device(nullptr);
    EXPECT_EQ(DMGR_UTILITY::get_current_device()->get_family(), DEV_FAMILY_BRENNOCK);
}

}  // namespace dev_device_test
