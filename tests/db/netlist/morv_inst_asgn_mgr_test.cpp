#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "../core/morv_test_env.h"
#include "morv_test_util.h"

namespace morv_inst_asgn_mgr_test {

namespace {

constexpr int DUPLICATION = 662;
constexpr int RETIMING = 664;
constexpr uint32_t DUPLICATION_BIT = 1u << MORV_INST_ASGN_REGISTER_DUPLICATION;
constexpr uint32_t RETIMING_BIT = 1u << MORV_INST_ASGN_REGISTER_RETIMING;

bool printed(const std::string& line)
{
    for (const MSG_VDEBUG_LINE& l : msg_vdebug_lines())
        if (l.text == line) return true;
    return false;
}

// A chain lut0 -> lut1 -> lut2 whose outputs carry the atoms' names; the
// options are set before the facade (and with it the manager) is made.
class MorvInstAsgnMgrTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        host = std::make_unique<MORV_TEST_HOST>(CDB_FAMILY_BRK);
        ids = host->build_chain(3);
    }
    void TearDown() override
    {
        env.reset();
        host.reset();
        MORV_CLEAN_STATE_TEST::TearDown();
    }
    MORV_INST_ASGN_MGR* start()
    {
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        return api->get_inst_asgn_mgr();
    }
    CDB_ATOM_NODE* node(int i) const { return env->get_node(ids[i]); }
    CDB_ATOM_OTERM* out(int i) const { return node(i)->get_output_term_by_type(DB_COMB_OUT); }
    HDB_OPTION_SET& instance(const char* name) { return host->ap.edit_instance_options(std::string(name)); }

    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<MORV_TEST_ENV> env;
    std::vector<int> ids;
    MORV_API* api = nullptr;
};

TEST_F(MorvInstAsgnMgrTest, SwitchedOffManagerStillReportsAndAllowsEverything)
{
    cfg_set_value("fsyn_disable_fsyn_instance_assignments", "on");
    instance("lut1").set_bool(DUPLICATION, true);
    MORV_INST_ASGN_MGR* mgr = start();
    EXPECT_FALSE(mgr->is_enabled());
    EXPECT_FALSE(mgr->is_active());
    EXPECT_TRUE(printed("FSYN instance assignments are disabled."));
    EXPECT_TRUE(printed("Initializing fsyn instance assignments."));
    EXPECT_TRUE(printed("Found instance assignments affecting 0 (of 3) oterms."));
    EXPECT_TRUE(printed("No nodes in the design are affected by FSYN instance assignments, disabling the instance "
                        "assignment manager."));
    mgr->set_flag_mask(DUPLICATION_BIT);
    EXPECT_TRUE(mgr->is_oterm_modifiable(out(0)));
    EXPECT_TRUE(mgr->is_node_modifiable(node(1)));
    EXPECT_FALSE(mgr->load_oterm_assignments(out(1)));
    EXPECT_FALSE(mgr->is_option_used(MORV_INST_ASGN_REGISTER_DUPLICATION));
}

TEST_F(MorvInstAsgnMgrTest, InstancesThatKeepTheDefaultsLeaveTheManagerInactive)
{
    host->ap.get_options().set_bool(DUPLICATION, true);
    instance("lut1").set_bool(DUPLICATION, true);  // same as the project
    instance("lut2").set_int(DUPLICATION, 7);      // not a boolean: absent
    MORV_INST_ASGN_MGR* mgr = start();
    EXPECT_TRUE(mgr->is_enabled());
    EXPECT_FALSE(mgr->is_active());
    EXPECT_EQ(mgr->get_default_flags(), DUPLICATION_BIT);
    mgr->set_flag_mask(RETIMING_BIT);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(mgr->is_oterm_modifiable(out(i))) << i;
}

TEST_F(MorvInstAsgnMgrTest, TheMaskGatesTermsWhoseWordLacksItsBits)
{
    instance("lut1").set_bool(DUPLICATION, true);
    MORV_INST_ASGN_MGR* mgr = start();
    ASSERT_TRUE(mgr->is_active());
    EXPECT_TRUE(printed("Found instance assignments affecting 1 (of 3) oterms."));
    EXPECT_TRUE(mgr->is_option_used(MORV_INST_ASGN_REGISTER_DUPLICATION));
    EXPECT_FALSE(mgr->is_option_used(MORV_INST_ASGN_REGISTER_RETIMING));

    // No mask: nothing is gated.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(mgr->is_oterm_modifiable(out(i))) << i;
    mgr->set_flag_mask(DUPLICATION_BIT);
    EXPECT_FALSE(mgr->is_oterm_modifiable(out(0)));
    EXPECT_TRUE(mgr->is_oterm_modifiable(out(1)));
    EXPECT_TRUE(mgr->is_node_modifiable(node(1)));
    mgr->set_flag_mask(DUPLICATION_BIT | RETIMING_BIT);  // any bit of the mask will do
    EXPECT_TRUE(mgr->is_oterm_modifiable(out(1)));
    mgr->set_flag_mask(RETIMING_BIT);
    EXPECT_FALSE(mgr->is_oterm_modifiable(out(1)));

    // A node is held back by any one of its outputs.
    mgr->set_flag_mask(DUPLICATION_BIT);
    CDB_ATOM_OTERM* share = node(1)->add_output_term(DB_SHARE_OUT, host->names.find_or_create_path("lut1_share", 0));
    EXPECT_FALSE(mgr->is_oterm_modifiable(share));
    EXPECT_FALSE(mgr->is_node_modifiable(node(1)));
    CDB_ATOM_NODE* bare = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, nullptr);
    host->netlist->add_node(bare);
    EXPECT_TRUE(mgr->is_node_modifiable(bare));
}

// A term made after the start is read on its first query, then kept.
TEST_F(MorvInstAsgnMgrTest, LaterTermsAreLoadedOnTheirFirstQuery)
{
    instance("lut1").set_bool(DUPLICATION, true);
    instance("late").set_bool(DUPLICATION, true);
    MORV_INST_ASGN_MGR* mgr = start();
    mgr->set_flag_mask(DUPLICATION_BIT);
    CDB_ATOM_OTERM* late = node(2)->add_output_term(DB_SHARE_OUT, host->names.find_or_create_path("late", 0));
    EXPECT_TRUE(mgr->is_oterm_modifiable(late));
    host->ap.clear_all_instance_options();
    EXPECT_TRUE(mgr->is_oterm_modifiable(late));  // answered from the table
    EXPECT_FALSE(mgr->load_oterm_assignments(late));
    EXPECT_FALSE(mgr->is_oterm_modifiable(late));  // reloaded: the options are gone
}

TEST_F(MorvInstAsgnMgrTest, SwitchingAnOptionOffCountsButIsNoUse)
{
    host->ap.get_options().set_bool(RETIMING, true);
    instance("lut0").set_bool(RETIMING, false);
    MORV_INST_ASGN_MGR* mgr = start();
    ASSERT_TRUE(mgr->is_active());
    EXPECT_FALSE(mgr->is_option_used(MORV_INST_ASGN_REGISTER_RETIMING));
    mgr->set_flag_mask(RETIMING_BIT);
    EXPECT_FALSE(mgr->is_oterm_modifiable(out(0)));
    EXPECT_TRUE(mgr->is_oterm_modifiable(out(1)));
}

TEST_F(MorvInstAsgnMgrTest, DumpShowsEveryTermWithItsWord)
{
    instance("lut1").set_bool(DUPLICATION, true);
    MORV_INST_ASGN_MGR* mgr = start();
    mgr->set_flag_mask(DUPLICATION_BIT);
    msg_clear_vdebug_lines();
    mgr->dump();
    EXPECT_TRUE(printed("Dumping instance assignments..."));
    EXPECT_TRUE(printed("INST_ASGN DUMP: flag mask: 0x1"));
    EXPECT_TRUE(printed("INST_ASGN DUMP: default assignments: 0x0"));
    EXPECT_TRUE(printed("INST_ASGN DUMP:  Enabled |    Value | Oterm Name"));
    EXPECT_TRUE(printed("INST_ASGN DUMP:        0 | 0x000000 | top|lut0"));
    EXPECT_TRUE(printed("INST_ASGN DUMP:        1 | 0x000001 | top|lut1"));

    mgr->set_flag_mask(0);
    cfg_set_value("fsyn_disable_fsyn_instance_assignments", "on");
    MORV_INST_ASGN_MGR off(api);
    off.initialize();
    msg_clear_vdebug_lines();
    off.dump();
    EXPECT_TRUE(printed("INST_ASGN DUMP: Assignment manager disabled, no dump."));
    EXPECT_FALSE(printed("INST_ASGN DUMP: flag mask: 0x0"));
}

// A restored netlist is made of new atoms and names with the old ids and
// paths: the answers stay, and a term made afterwards finds its options.
TEST_F(MorvInstAsgnMgrTest, AnswersHoldAfterTheNetlistIsRestored)
{
    instance("lut1").set_bool(DUPLICATION, true);
    instance("after").set_bool(DUPLICATION, true);
    MORV_INST_ASGN_MGR* mgr = start();
    const int state = api->save_state();
    ASSERT_TRUE(api->restore_state(state));
    ASSERT_NE(node(1), nullptr);
    EXPECT_NE(host->ap.get_name_mgr(), &host->names);
    mgr->set_flag_mask(DUPLICATION_BIT);
    EXPECT_FALSE(mgr->is_oterm_modifiable(out(0)));
    EXPECT_TRUE(mgr->is_oterm_modifiable(out(1)));
    CDB_ATOM_OTERM* after =
        node(2)->add_output_term(DB_SHARE_OUT, host->ap.get_name_mgr()->find_or_create_path("after", 0));
    EXPECT_TRUE(mgr->is_oterm_modifiable(after));
}

}  // namespace

}  // namespace morv_inst_asgn_mgr_test
