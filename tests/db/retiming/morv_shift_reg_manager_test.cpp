// The shift-register manager's preconditions and its scripted answers, which
// the skew analysis and retiming tests use: a RAM without any counter is no
// shift register, and nothing is reduced or deleted.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "morv/core/morv_api.h"

#include "morv/core/morv_expert.h"
#include "morv/rammap/morv_signal.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "../core/morv_test_env.h"
#include "morv_test_util.h"
#include "log_capture.h"

namespace morv_shift_reg_manager_test {

namespace {

class ShiftRegManagerTest : public MORV_CLEAN_STATE_TEST
{};

struct OBRAN_NETLIST
{
    OBRAN_NETLIST() : host(CDB_FAMILY_OBRAN), env(&host.cmp)
    {
        expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    }
    CDB_ATOM_NODE* add(int kind)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_OBRAN, kind);
        node->set_chip_db_entry(&host.chip_entry);
        host.netlist->add_node(node);
        return node;
    }
    MORV_API* api() { return expert->get_fsyn_api(); }

    MORV_TEST_HOST host;
    MORV_TEST_ENV env;
    MORV_EXPERT* expert = nullptr;
};

}  // namespace

TEST_F(ShiftRegManagerTest, ARamWithoutCounterIsNoShiftRegisterButTheScriptedOnes)
{
    OBRAN_NETLIST n;
    CDB_ATOM_NODE* ram0 = n.add(CDB_KIND_RAM);
    CDB_ATOM_NODE* ram1 = n.add(CDB_KIND_RAM);
    CDB_ATOM_NODE* lut = n.add(CDB_KIND_LCELL_COMB);
    MORV_LOG_CAPTURE log(100);
    {
        MORV_SHIFT_REG_MANAGER manager(n.api());
        EXPECT_EQ(internal_error_of([&] { manager.is_node_shift_register(ram0); }), "m_initialized");
        manager.script_shift_register(ram1, 3);
        EXPECT_EQ(not_available_warnings_of([&] {
                      EXPECT_TRUE(manager.initialize());
                      EXPECT_TRUE(manager.initialize());
                  }),
                  "");
        EXPECT_EQ(manager.is_node_shift_register(ram0), 0);
        EXPECT_EQ(manager.is_node_shift_register(ram1), 3);
        EXPECT_EQ(internal_error_of([&] { manager.is_node_shift_register(lut); }), "node->is_ram()");
        // A RAM that is no shift register cannot be reduced; the grouping
        // is gone after the deletions until the next initialize.
        EXPECT_EQ(internal_error_of([&] { manager.reduce_shift_register(ram0, true); }),
                  "is_node_shift_register(node)");
        EXPECT_EQ(manager.remove_queued_nodes(), 0);
        EXPECT_EQ(manager.is_node_shift_register(ram1), 0);
        manager.initialize();
        EXPECT_EQ(manager.is_node_shift_register(ram1), 3);
        manager.script_shift_register(ram1, 0);
        manager.initialize();
        EXPECT_EQ(manager.is_node_shift_register(ram1), 0);
        EXPECT_EQ(n.host.netlist->get_node_count(), 3u);
    }
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "MORV_SHIFT_REG_MANAGER Created."), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "MORV_SHIFT_REG_MANAGER Destroyed"), lines.end());
}

// Nodes still queued when an error unwinds through the manager leave that
// error to its caller, with nothing else to report; without one they are
// left with the facade.
TEST_F(ShiftRegManagerTest, QueuedNodesNeverHideTheErrorThatUnwindsThroughTheManager)
{
    OBRAN_NETLIST n;
    CDB_ATOM_NODE* ram = n.add(CDB_KIND_RAM);
    CDB_ATOM_NODE* lut = n.add(CDB_KIND_LCELL_COMB);
    auto queued = [&](MORV_SHIFT_REG_MANAGER& manager) {
        manager.script_shift_register(ram, 1);
        manager.script_reduction({lut->get_id()});
        manager.initialize();
        ASSERT_TRUE(manager.reduce_shift_register(ram, true));
    };
    EXPECT_EQ(internal_error_of([&] {
                  MORV_SHIFT_REG_MANAGER manager(n.api());
                  queued(manager);
                  manager.is_node_shift_register(lut);
              }),
              "node->is_ram()");
    EXPECT_EQ(internal_error_of([&] { n.api()->report_deferred_internal_error(); }), "<no internal error>");
    {
        MORV_SHIFT_REG_MANAGER manager(n.api());
        queued(manager);
    }
    EXPECT_EQ(internal_error_of([&] { n.api()->report_deferred_internal_error(); }), "!m_nodes_to_remove.size()");
}

TEST_F(ShiftRegManagerTest, ANetlistWithoutRamsHasNoGroups)
{
    OBRAN_NETLIST n;
    n.add(CDB_KIND_LCELL_COMB);
    MORV_SHIFT_REG_MANAGER manager(n.api());
    EXPECT_EQ(not_available_warnings_of([&] { manager.initialize(); }), "");
}

// Control signals compare by driver, inversion and global network; an input
// without a driver prints as the constant its inversion makes of it.
TEST_F(ShiftRegManagerTest, SignalsCompareDriverInversionAndGlobalType)
{
    OBRAN_NETLIST n;
    CDB_ATOM_NODE* lut = n.add(CDB_KIND_LCELL_COMB);
    CDB_ATOM_OTERM* out = lut->add_output_term(DB_COMB_OUT);
    CDB_ATOM_NODE* reg = n.add(CDB_KIND_REGISTER);
    CDB_ATOM_ITERM* clock = reg->add_input_term(DB_CLOCK);
    CDB_ATOM_ITERM* clear = reg->add_input_term(DB_CLEAR);
    out->insert_fanout(clock);
    out->insert_fanout(clear);
    EXPECT_TRUE(MORV_SIGNAL(clock) == MORV_SIGNAL(clear));
    clear->set_invert();
    EXPECT_FALSE(MORV_SIGNAL(clock) == MORV_SIGNAL(clear));
    clear->clear_invert();
    clear->set_global(3);
    EXPECT_FALSE(MORV_SIGNAL(clock) == MORV_SIGNAL(clear));
    EXPECT_EQ(MORV_SIGNAL(clear).m_global_type, 3u);
    CDB_ATOM_ITERM* tied = reg->add_input_term(DB_SYNCH_CLEAR);
    tied->set_gnd();
    EXPECT_FALSE(MORV_SIGNAL(tied) == MORV_SIGNAL(clock));
    EXPECT_TRUE(MORV_SIGNAL(tied) == MORV_SIGNAL());
    MORV_LOG_CAPTURE log(100);
    MORV_SIGNAL(clock).print();
    tied->set_invert();
    MORV_SIGNAL(tied).print();
    MORV_SIGNAL().print();
    const std::vector<std::string> expected = {"  oterm of node " + std::to_string(lut->get_id()) + " (non-inverted)",
                                               "  gnd", "  vcc"};
    EXPECT_EQ(log.lines(), expected);
}

}  // namespace morv_shift_reg_manager_test
