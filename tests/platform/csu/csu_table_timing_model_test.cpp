// The host's table timing model: look-ups by the ports of a connection, the
// answers for keys the tables lack, and the model's own interconnect copy.

#include <gtest/gtest.h>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "../timing_test_circuit.h"
#include "../timing_test_tables.h"

namespace csu_table_timing_model_test {

namespace {

using MODEL = CSU_TABLE_TIMING_MODEL<CSU_ATOM_NETLIST_TYPES>;

class CsuTableTimingModel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        DMGR_UTILITY::set_current_family(DEV_FAMILY_BRENNOCK);
    }
    void TearDown() override { DMGR_UTILITY::set_current_device(nullptr); }
    const DEV_TIMING_MODEL& device() { return DMGR_UTILITY::get_current_device()->get_timing_model(); }
};

}  // namespace

TEST_F(CsuTableTimingModel, ConnectionsAreLookedUpByTheirPortsAndMissingKeysGetTheConstant)
{
    TEST_TIMING_TABLES_INSTALLED source;
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* q = c.reg(nullptr, clk);
    CDB_ATOM_OTERM* y = c.lut({q, q, q});
    CDB_ATOM_OTERM* z = c.lut({y});
    CDB_ATOM_NODE* lut = y->get_my_node();
    MODEL model;
    ASSERT_TRUE(model.initialize(DEV_FAMILY_BRENNOCK, 0, false, true, false));
    EXPECT_EQ(model.get_ic_delay(lut->get_input_term_by_type(DB_DATA_A)), 310);
    EXPECT_EQ(model.get_ic_delay(lut->get_input_term_by_type(DB_DATA_B)), 320);
    EXPECT_EQ(model.get_ic_delay(lut->get_input_term_by_type(DB_DATA_C)), 435);  // no row: the constant
    EXPECT_EQ(model.get_ic_delay(z->get_my_node()->get_input_term_by_type(DB_DATA_A)), 250);
    EXPECT_EQ(model.get_ic_delay(q->get_my_node()->get_input_term_by_type(DB_DATAIN)), 0);  // undriven
    EXPECT_EQ(model.get_ic_delay(nullptr), 0);

    // Cells and registers: the row, else the device's own numbers.
    EXPECT_EQ(model.get_cell_delay(lut, DB_DATA_A, DB_MAX_OUTPUT_PORT_TYPE, DB_COMB_OUT, true), 777);
    EXPECT_EQ(model.get_cell_delay(lut, DB_DATA_B, DB_MAX_OUTPUT_PORT_TYPE, DB_COMB_OUT, true), device().lut_input[1]);
    EXPECT_EQ(model.get_cell_delay(lut, lut->get_input_term_by_type(DB_DATA_A), nullptr, y, true), 777);
    EXPECT_EQ(model.get_cell_delay(lut, DB_DATA_C, DB_MAX_OUTPUT_PORT_TYPE, DB_COMB_OUT, true), 999);
    EXPECT_EQ(model.get_reg_micro_tco_delay(q, true), 66);
    EXPECT_EQ(model.get_reg_micro_tsu_delay(q, true), 55);
    EXPECT_EQ(model.get_reg_micro_tco_delay(q->get_my_node(), DB_COMB_OUT, true), device().tco);
    // A pin's buffer is the device's.
    CDB_ATOM_NODE* pin = clk->get_my_node();
    EXPECT_EQ(model.get_cell_delay(pin, DB_MAX_INPUT_PORT_TYPE, DB_MAX_OUTPUT_PORT_TYPE, DB_DATA_OUT, true),
              device().io_in);
}

TEST_F(CsuTableTimingModel, TheModelChangesOnlyItsOwnCopyOfTheInterconnectRows)
{
    TEST_TIMING_TABLES_INSTALLED source;
    MODEL first, second;
    first.initialize(DEV_FAMILY_BRENNOCK, 0, true, true, false);
    EXPECT_TRUE(first.get_name_pattern());
    ASSERT_EQ(first.get_ic_timing_data_size(), 5);
    for (int row = 1; row < first.get_ic_timing_data_size(); ++row)
        EXPECT_TRUE(first.get_ic_timing_data(row - 1) < first.get_ic_timing_data(row));
    const CSU_IC_TIMING_ELEMENT key = first.get_ic_timing_data(2);
    first.modify_ic_timing_data(2, 1234);
    EXPECT_EQ(first.get_ic_delay(key).m_delay_2, 1234);
    EXPECT_EQ(first.get_ic_timing_data(2).m_delay, 1234);
    second.initialize(DEV_FAMILY_BRENNOCK, 0, false, true, false);
    EXPECT_EQ(second.get_ic_delay(key).m_delay_2, key.m_delay_2);
    for (const CSU_IC_TIMING_ELEMENT& row : source.tables.ic) EXPECT_NE(row.m_delay, 1234);
    EXPECT_THROW(first.modify_ic_timing_data(5, 1), MSG_INTERNAL_ERROR_EXCEPTION);  // outside the table
    EXPECT_THROW(first.modify_ic_timing_data(-1, 1), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST_F(CsuTableTimingModel, WithoutASourceOrTablesEveryConnectionGetsTheConstantDelay)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* y = c.lut({c.input_pin()});
    MODEL bare;
    EXPECT_FALSE(bare.initialize(DEV_FAMILY_BRENNOCK, 0, false, true, false));
    EXPECT_EQ(bare.get_ic_delay(y->get_my_node()->get_input_term_by_type(DB_DATA_A)), 500);
    TEST_TIMING_TABLES_INSTALLED source;
    MODEL other_family;
    EXPECT_FALSE(other_family.initialize(DEV_FAMILY_ZEPLA, 0, false, true, false));
    EXPECT_EQ(other_family.get_ic_timing_data_size(), 0);
}

}  // namespace csu_table_timing_model_test
