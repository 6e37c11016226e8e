#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "cdb/cdb_db_entries.h"
#include "cmp/cmp_facade.h"
#include "hdb/hdb_action_pt_instance.h"
#include "idu/idu_partition_manager.h"

namespace cmp_facade_test {

namespace {

TEST(CmpFacadeTest, ChainFromFacadeToNetlistAndBrokenLinks)
{
    int netlist_storage = 0;
    auto* netlist = reinterpret_cast<CDB_ATOM_NETLIST*>(&netlist_storage);
    CDB_CHIP_DB_ENTRY chip;
    chip.set_atom_netlist(netlist);
    CDB_DB_ENTRIES entries;
    entries.set_chip_db_entry(0, &chip);
    CDB_CMP_ENTRY cmp_entry;
    cmp_entry.set_db_entries(&entries);
    HDB_ACTION_PT_INSTANCE ap;
    CMP_FACADE cmp;
    cmp.set_cmp_entry(&cmp_entry);
    cmp.set_action_point_instance(&ap);
    cmp.set_base_family_code(41);
    cmp.set_family_code(43);
    cmp.set_project_name("top");
    cmp.set_compile_base_name("top_rev");

    EXPECT_EQ(cmp.get_base_family_code(), 41);
    EXPECT_EQ(cmp.get_family_code(), 43);
    EXPECT_STREQ(cmp.get_project_name(), "top");
    EXPECT_STREQ(cmp.get_compile_base_name(), "top_rev");
    EXPECT_FALSE(cmp.is_check_io_only());
    EXPECT_FALSE(cmp.is_limited_fsyn_mode());
    EXPECT_EQ(cmp.get_action_point_instance(), &ap);
    EXPECT_EQ(cmp.get_cmp_entry()->get_db_entries()->get_chip_db_entry(0)->get_atom_netlist(), netlist);

    EXPECT_EQ(entries.get_chip_db_entry(1), nullptr);
    entries.set_chip_db_entry(0, nullptr);
    EXPECT_EQ(entries.get_chip_db_entry(0), nullptr);
    cmp_entry.set_db_entries(nullptr);
    EXPECT_EQ(cmp_entry.get_db_entries(), nullptr);
    chip.set_atom_netlist(nullptr);
    EXPECT_EQ(chip.get_atom_netlist(), nullptr);
}

TEST(IduTest, BuiltInManagerReportsNoReuseAndTestsCanReplaceIt)
{
    IDU_PARTITION_MANAGER* builtin = IDU_PARTITION_MANAGER::get_instance(1, 0, 0);
    ASSERT_NE(builtin, nullptr);
    ASSERT_NE(builtin->get_project_info(), nullptr);
    EXPECT_EQ(builtin->get_project_info()->get_effective_incremental_reuse_mode(), 0);

    IDU_PROJECT_INFO info;
    info.set_effective_incremental_reuse_mode(2);
    IDU_PARTITION_MANAGER mine;
    mine.set_project_info(&info);
    IDU_PARTITION_MANAGER::install_instance(&mine);
    EXPECT_EQ(IDU_PARTITION_MANAGER::get_instance(1, 0, 0)->get_project_info()->get_effective_incremental_reuse_mode(),
              2);
    IDU_PARTITION_MANAGER::install_instance(nullptr);
    EXPECT_EQ(IDU_PARTITION_MANAGER::get_instance(1, 0, 0), nullptr);
    IDU_PARTITION_MANAGER::reset_instance();
    EXPECT_EQ(IDU_PARTITION_MANAGER::get_instance(1, 0, 0), builtin);
}

}  // namespace

// The facade's report: tables go to the current results folder, which
// holds one table of a name; a table prints as aligned columns.
TEST(CmpFacadeReport, TablesOfTheCurrentFolder)
{
    CMP_FACADE cmp;
    RDB_REPORT* report = cmp.get_report();
    EXPECT_EQ(report->get_current_folder(), nullptr);
    report->open_folder("Synthesis");
    RDB_FOLDER* fitter = report->open_folder("Fitter");
    EXPECT_EQ(report->get_current_folder(), fitter);
    EXPECT_EQ(rdb_create_table(""), nullptr);
    RDB_TABLE_OBJECT* table = rdb_create_table("Fitter Stats");
    table->add_row(rdb_create_row({"NET", "N", "NOTE"}));
    auto* row = new RDB_TABLE_ROW;
    row->add_element(new RDB_TABLE_INAME_ELEMENT(nullptr));
    row->add_element(new RDB_TABLE_INT_ELEMENT(-12));
    row->add_element(new RDB_TABLE_STRING_ELEMENT("why"));
    table->add_row(row);
    EXPECT_FALSE(rdb_object_exists_in_folder(fitter, table));
    fitter->add_table(table);
    EXPECT_TRUE(rdb_object_exists_in_folder(fitter, table));
    std::unique_ptr<RDB_TABLE_OBJECT> same(rdb_create_table("Fitter Stats"));
    EXPECT_TRUE(rdb_object_exists_in_folder(fitter, same.get()));
    EXPECT_FALSE(rdb_object_exists_in_folder(&report->get_folder(0), same.get()));
    std::ostringstream out;
    rdb_print_table(out, *table);
    EXPECT_EQ(out.str(), "Fitter Stats\nNET | N   | NOTE\n    | -12 | why\n");
}

}  // namespace cmp_facade_test
