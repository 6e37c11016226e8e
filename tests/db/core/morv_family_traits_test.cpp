// The family-traits table against the classes it chooses: what a row says
// about a family must be what that family's classes do.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dev/dev_device.h"
#include "mem/mem.h"

#include "morv/core/family/morv_expert_family.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv_test_util.h"
#include "../netlist/net_util_fixture.h"

namespace morv_family_traits_test {

namespace {

class MorvFamilyTraitsTest : public MORV_CLEAN_STATE_TEST
{};

std::vector<const MORV_FAMILY_TRAITS*> rows()
{
    int count = 0;
    const MORV_FAMILY_TRAITS* table = morv_family_traits_table(&count);
    std::vector<const MORV_FAMILY_TRAITS*> all;
    for (int i = 0; i < count; ++i) all.push_back(&table[i]);
    return all;
}

// Rows are found by their own code, and the rules that pair families agree
// from both ends.
TEST_F(MorvFamilyTraitsTest, RowsAreUniqueAndPairsAgreeFromBothEnds)
{
    std::set<int> codes;
    for (const MORV_FAMILY_TRAITS* row : rows()) {
        EXPECT_TRUE(codes.insert(row->m_base_family).second) << row->m_base_family;
        EXPECT_EQ(&morv_family_traits(row->m_base_family), row);
        EXPECT_TRUE(morv_is_known_family(row->m_base_family));
        // A change log is kept exactly by the families that migrate, and
        // the family migrated to keeps one back.
        EXPECT_EQ(morv_family_keeps_change_log(*row), row->m_migration_partner != DEV_FAMILY_INVALID)
            << row->m_base_family;
        EXPECT_EQ(row->m_copy_log != nullptr, row->m_make_log != nullptr) << row->m_base_family;
        if (row->m_migration_partner != DEV_FAMILY_INVALID) {
            EXPECT_EQ(morv_family_traits(row->m_migration_partner).m_migration_partner, row->m_base_family);
        }
        // A family with a driver has everything a run needs.
        const bool driven = row->m_make_driver != nullptr;
        EXPECT_EQ(row->m_driver != nullptr, driven) << row->m_base_family;
        EXPECT_EQ(row->m_make_net_util != nullptr, driven) << row->m_base_family;
        EXPECT_EQ(row->m_lab_capacity > 0, driven) << row->m_base_family;
        if (driven) {
            EXPECT_STREQ(row->m_driver->m_algorithm_class_names[TEST_ALGORITHM], "MORV_TEST");
        }
    }
    EXPECT_FALSE(morv_is_known_family(99));
    EXPECT_EQ(morv_family_traits(99).m_make_driver, nullptr);
    EXPECT_EQ(morv_family_traits(DEV_FAMILY_INVALID).m_lab_capacity, -1);
}

// The LUT size and mask bit order of a row are what the family's net utility
// reads: mask 1 sets the row of all ones in the reversed order and the row of
// all zeros in the direct one.
TEST_F(MorvFamilyTraitsTest, LutSizeAndMaskOrderMatchTheNetUtility)
{
    for (const MORV_FAMILY_TRAITS* row : rows()) {
        if (row->m_make_net_util == nullptr) continue;
        NET_UTIL_NETLIST n(row->m_base_family);
        ASSERT_NE(n.util(), nullptr) << row->m_base_family;
        EXPECT_EQ(n.util()->get_max_lut_inputs(), row->m_lut_size) << row->m_base_family;
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        cell->set_lutmask(CDB_LUTMASK(row->m_lut_size, 1));
        n.load(cell, DB_COMB_OUT);
        MORV_PORT_VALUES ones;
        for (int k = 0; k < row->m_lut_size; ++k) ones.push_back({DB_DATA_A + k, 1u});
        EXPECT_EQ(n.util()->evaluate_comb_out(cell, ones), row->m_mask_bits_reversed ? 1u : 0u) << row->m_base_family;
        EXPECT_EQ(n.util()->evaluate_comb_out(cell, MORV_PORT_VALUES{}), row->m_mask_bits_reversed ? 0u : 1u)
            << row->m_base_family;
    }
}

// The chip-map capacities the placed flows work with, as the family
// documentation gives them: a row that drifts from these is caught here.
int documented_lab_capacity(int base_family)
{
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_ZEPLA:
    case DEV_FAMILY_ZEPLA_II:
    case DEV_FAMILY_TEV: return 32;
    case DEV_FAMILY_MORLIN: return 1;
    case DEV_FAMILY_KESTLIN:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_OBRAN: return 40;
    case DEV_FAMILY_UVO: return 10;
    default: return -1;
    }
}

// Each driven code builds the driver its row names, whose facade has the
// documented chip-map capacity in the placed flows; any other code gets the
// no-op driver and leaves nothing allocated.
TEST_F(MorvFamilyTraitsTest, EachCodeGetsTheDriverAndChipMapOfItsRow)
{
    for (const MORV_FAMILY_TRAITS* row : rows()) {
        MORV_TEST_HOST host(row->m_base_family);
        MORV_TEST_ENV env(&host.cmp);
        const MEM_TAG_STATS before = mem_get_tag_stats("MORV");
        MORV_EXPERT_INTERFACE* driver = env.get_fsyn_expert();
        auto* expert = dynamic_cast<MORV_EXPERT*>(driver);
        if (row->m_make_driver == nullptr) {
            EXPECT_NE(dynamic_cast<MORV_EXPERT_NOP*>(driver), nullptr) << row->m_base_family;
            env.free_fsyn_expert();
            EXPECT_EQ(mem_get_tag_stats("MORV").live_objects, before.live_objects) << row->m_base_family;
            continue;
        }
        ASSERT_NE(expert, nullptr) << row->m_base_family;
        EXPECT_TRUE(expert->is_device_supported_by_fsyn());
        MORV_API* api = expert->get_fsyn_api();
        api->reset_fsyn_chip_map(false);
        EXPECT_EQ(api->get_fsyn_chip_map()->get_lab_capacity(), documented_lab_capacity(row->m_base_family))
            << row->m_base_family;
        EXPECT_EQ(api->get_device_le_type(), row->m_le_type);
    }
    // The two ZEPLA codes share one driver class.
    MORV_TEST_HOST second(DEV_FAMILY_ZEPLA_II);
    MORV_TEST_ENV env(&second.cmp);
    EXPECT_NE(dynamic_cast<MORV_EXPERT_ZEPLA*>(env.get_fsyn_expert()), nullptr);
}

}  // namespace

}  // namespace morv_family_traits_test
