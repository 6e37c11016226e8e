#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv_edit_netlist.h"

namespace morv_api_dont_touch_test {

namespace {

using MorvApiDontTouchTest = MORV_EDIT_NETLIST_TEST;

void make_dont_touch(CDB_ATOM_NODE* node)
{
    CDB_ATOM_ASSIGNMENTS protect = node->get_assignments();
    protect.dont_touch = true;
    node->set_assignments(protect);
}

// The first rule that holds answers: the host's refusal first, the
// instance assignments last.
TEST_F(MorvApiDontTouchTest, TheRulesAnswerInTheirOrder)
{
    make_dont_touch(mid);
    host->ap.edit_instance_options(std::string("mid")).set_bool(662, true);  // would allow duplication
    host->ap.edit_instance_options(std::string("s0")).set_bool(662, true);
    start();
    MORV_INST_ASGN_MGR* mgr = api->get_inst_asgn_mgr();
    ASSERT_TRUE(mgr->is_active());
    mgr->set_flag_mask(1u << MORV_INST_ASGN_REGISTER_DUPLICATION);

    // The host's refusal beats the assignment that allows the change.
    EXPECT_TRUE(api->is_atom_dont_touch(nid(mid), AMM_OP_FITTER_FSYN_DUPLICATE));
    EXPECT_TRUE(api->is_oterm_dont_touch(out(mid), AMM_OP_FITTER_FSYN_DUPLICATE));
    // Allowed by the host, then decided by the assignments.
    EXPECT_FALSE(api->is_atom_dont_touch(nid(s0), AMM_OP_FITTER_FSYN_DUPLICATE));
    EXPECT_FALSE(api->is_oterm_dont_touch(out(s0), AMM_OP_FITTER_FSYN_DUPLICATE));
    EXPECT_TRUE(api->is_atom_dont_touch(nid(s1), AMM_OP_FITTER_FSYN_DUPLICATE));
    EXPECT_TRUE(api->is_oterm_dont_touch(out(s1), AMM_OP_FITTER_FSYN_DUPLICATE));
    mgr->set_flag_mask(0);
    EXPECT_FALSE(api->is_atom_dont_touch(nid(s1), AMM_OP_FITTER_FSYN_DUPLICATE));

    // A virtual node of the flow driver is never changed.
    api->get_fsyn_expert()->add_virtual_node(nid(s1));
    EXPECT_TRUE(api->is_atom_dont_touch(nid(s1), AMM_OP_FITTER_FSYN_RETIME));
    EXPECT_TRUE(api->is_oterm_dont_touch(out(s1), AMM_OP_FITTER_FSYN_RETIME));

    // An atom that is not there cannot be changed.
    EXPECT_TRUE(api->is_atom_dont_touch(999999, AMM_OP_FITTER_FSYN_RETIME));
    EXPECT_EQ(internal_error_of([&] { api->is_oterm_dont_touch(nullptr, AMM_OP_FITTER_FSYN_RETIME); }), "oterm");
}

// x drives both its LUT output and its sum output: a migration change log
// cannot carry a change to it or to its drivers.
class MorvMigrationRuleTest : public MORV_EDIT_NETLIST_TEST
{
protected:
    void SetUp() override
    {
        MORV_EDIT_NETLIST_TEST::SetUp();
        x = lut("x");
        CDB_ATOM_OTERM* sum = x->add_output_term(DB_SUM_OUT, name("x_sum"));
        connect(s1, x, DB_DATA_A);
        connect(x, lut("x_user"), DB_DATA_A);
        lut("sum_user")->add_input_term(DB_DATA_A)->insert_fanin(sum);
    }
    CDB_ATOM_NODE* x = nullptr;
};

TEST_F(MorvMigrationRuleTest, SensitiveCellsAndTheirDrivers)
{
    start();
    EXPECT_TRUE(api->is_migration_sensitive_node(x));
    EXPECT_TRUE(api->is_migration_sensitive_node(s1));  // drives x
    EXPECT_FALSE(api->is_migration_sensitive_node(mid));
    EXPECT_FALSE(api->is_migration_sensitive_node(s0));
    // Without its LUT output's fanout x is ordinary.
    out(x)->remove_all_fanouts();
    EXPECT_FALSE(api->is_migration_sensitive_node(x));
    EXPECT_FALSE(api->is_migration_sensitive_node(s1));
}

TEST_F(MorvMigrationRuleTest, AppliesOnlyWhileAMigrationLogIsWritten)
{
    start();
    EXPECT_FALSE(api->is_atom_dont_touch(nid(x), AMM_OP_FITTER_FSYN_DUPLICATE));
    env.reset();

    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    ASSERT_TRUE(api->is_fsyn_write_log_required());
    EXPECT_TRUE(api->is_atom_dont_touch(nid(x), AMM_OP_FITTER_FSYN_DUPLICATE));
    EXPECT_TRUE(api->is_oterm_dont_touch(out(s1), AMM_OP_FITTER_FSYN_DUPLICATE));
    EXPECT_FALSE(api->is_atom_dont_touch(nid(s0), AMM_OP_FITTER_FSYN_DUPLICATE));
    env.reset();

    // A replay reads the log and writes none.
    host->ap.get_options().set_string(661, "old.map.psl");
    start();
    EXPECT_FALSE(api->is_fsyn_write_log_required());
    EXPECT_FALSE(api->is_atom_dont_touch(nid(x), AMM_OP_FITTER_FSYN_DUPLICATE));
}

TEST_F(MorvApiDontTouchTest, SecondaryInputsAreToldByTheirGlobalNetwork)
{
    start();
    CDB_ATOM_ITERM* clock = connect(a, r, DB_CLOCK);
    for (int ordinary : {0, 2, 4}) {
        clock->set_global(ordinary);
        EXPECT_FALSE(api->has_connected_secondary_iterm(r, true)) << ordinary;
    }
    clock->set_global(9);
    EXPECT_FALSE(api->has_connected_secondary_iterm(r, false));
    EXPECT_TRUE(api->has_connected_secondary_iterm(r, true));
    clock->set_global(1);
    EXPECT_TRUE(api->has_connected_secondary_iterm(r, false));
    clock->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_FALSE(api->has_connected_secondary_iterm(r, true));
    clock->set_vcc();  // a tied input is connected too
    EXPECT_TRUE(api->has_connected_secondary_iterm(r, false));
    EXPECT_EQ(internal_error_of([&] { api->has_connected_secondary_iterm(nullptr, true); }), "node");
}

TEST_F(MorvApiDontTouchTest, LutsOutsideCarryChainsAndCellKinds)
{
    CDB_ATOM_NODE* chained = lut("chained");
    chained->add_input_term(DB_CARRY_IN)->insert_fanin(s1->add_output_term(DB_CARRY_OUT, name("s1_carry")));
    CDB_ATOM_NODE* pin = cdb_create_output_pin(CDB_FAMILY_BRK, name("pin"));
    host->netlist->add_node(pin);
    start();
    EXPECT_TRUE(api->is_lut_outside_carry_chain(mid));
    EXPECT_FALSE(api->is_lut_outside_carry_chain(chained));
    EXPECT_FALSE(api->is_lut_outside_carry_chain(r));
    EXPECT_TRUE(api->is_lcell_or_ff(mid));
    EXPECT_TRUE(api->is_lcell_or_ff(r));
    EXPECT_FALSE(api->is_lcell_or_ff(pin));
}

TEST(MorvApiFamilyRules, NoLutIsOutsideACarryChainOnMrl)
{
    MORV_TEST_HOST host(CDB_FAMILY_MRL);
    const std::vector<int> ids = host.build_chain(2);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())->get_fsyn_api();
    for (int atom : ids) EXPECT_FALSE(api->is_lut_outside_carry_chain(env.get_node(atom)));
    for (int atom : ids) EXPECT_TRUE(api->is_lcell_or_ff(env.get_node(atom)));

    MORV_TEST_HOST uvo(CDB_FAMILY_UVO);
    const std::vector<int> uvo_ids = uvo.build_chain(1);
    MORV_TEST_ENV uvo_env(&uvo.cmp);
    MORV_API* uvo_api = dynamic_cast<MORV_EXPERT*>(uvo_env.get_fsyn_expert())->get_fsyn_api();
    EXPECT_TRUE(uvo_api->is_lut_outside_carry_chain(uvo_env.get_node(uvo_ids[0])));
    EXPECT_TRUE(uvo_api->is_lcell_or_ff(uvo_env.get_node(uvo_ids[0])));
}

TEST_F(MorvApiDontTouchTest, StatisticsCountRefusalsOfAtomsCellsAndRegisters)
{
    make_dont_touch(mid);
    make_dont_touch(r);
    CDB_ATOM_NODE* pin = cdb_create_output_pin(CDB_FAMILY_BRK, name("pin"));
    host->netlist->add_node(pin);
    cfg_set_value("FSYN_PRINT_ATOM_MOD_STATS_VERBOSE", "on");
    start();
    api->print_dont_touch_statistics(AMM_OP_FITTER_FSYN_DUPLICATE);
    const std::vector<std::string> lines = trace_lines();
    EXPECT_EQ(count_lines_with(lines, "Results: 2 / 8 atoms : 2 / 7 lcells : 1 / 1 registers"), 1);
    EXPECT_EQ(count_lines_with(lines, " ... cannot modify " + id(mid) + ": atom" + id(mid) + ": 2"), 1);
    EXPECT_EQ(count_lines_with(lines, " ... cannot modify " + id(r) + ": atom" + id(r) + ": 2"), 1);
}

TEST_F(MorvApiDontTouchTest, TimingRefreshPrintsTheStatisticsThatAreSwitchedOn)
{
    make_dont_touch(s0);
    cfg_set_value("FSYN_PRINT_ATOM_MOD_STATS_FOR_RETIMING", "on");
    start();
    EXPECT_TRUE(api->refresh_timing_and_print_dont_touch_statistics());
    const std::vector<std::string> lines = trace_lines();
    EXPECT_EQ(count_lines_with(lines, "FSYN Don't Touch Algorithm: Retiming"), 1);
    EXPECT_EQ(count_lines_with(lines, "FSYN Don't Touch Algorithm: Duplication"), 0);
    EXPECT_EQ(count_lines_with(lines, "Results: 1 / 7 atoms : 1 / 7 lcells : 0 / 1 registers"), 1);
}

TEST(MorvApiEmptyNetlist, StatisticsOfNothingAreZeros)
{
    cfg_clear_all();
    std::remove("empty_trace.txt");
    MORV_DEBUG_STREAM::get_stream().reset("empty_trace.txt");
    cfg_set_value("fsyn_debug_msg_full", "on");
    {
        MORV_TEST_HOST host(CDB_FAMILY_BRK);
        MORV_TEST_ENV env(&host.cmp);
        dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())
            ->get_fsyn_api()
            ->print_dont_touch_statistics(AMM_OP_FITTER_FSYN_RETIME);
    }
    MORV_DEBUG_STREAM::get_stream().reset();
    std::ifstream in("empty_trace.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Results: 0 / 0 atoms : 0 / 0 lcells : 0 / 0 registers"), std::string::npos);
    cfg_clear_all();
    std::remove("empty_trace.txt");
}

}  // namespace

}  // namespace morv_api_dont_touch_test
