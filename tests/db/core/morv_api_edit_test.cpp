#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "thr/thr.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/log/morv_log.h"
#include "log_records.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/timing/morv_timing.h"
#include "morv_edit_netlist.h"
#include "morv_probe_expert.h"

namespace morv_api_edit_test {

namespace {

using MorvApiEditTest = MORV_EDIT_NETLIST_TEST;

TEST_F(MorvApiEditTest, TaintMarksTheKindOfChangeAndAFullTaintEverything)
{
    start();
    // The first mode choice asks for a full rebuild; only a full taint may ask again.
    api->get_fsyn_timing()->set_mode_switched(false);
    env->m_last_change_set = {1, 2, 3};
    api->taint(mid);
    EXPECT_EQ(api->get_taint(), MORV_TAINT_COMBINATIONAL);
    EXPECT_TRUE(env->m_last_change_set.empty());  // the host's change set is cleared
    EXPECT_FALSE(api->get_fsyn_timing()->is_node_changed(static_cast<int>(mid->get_id())));
    api->taint(r);
    EXPECT_EQ(api->get_taint(), MORV_TAINT_COMBINATIONAL | MORV_TAINT_REGISTER_OR_OTHER);

    CDB_ATOM_NODE* pin = cdb_create_output_pin(CDB_FAMILY_BRK, name("pin"));
    host->netlist->add_node(pin);
    std::unique_ptr<CDB_ATOM_NODE> ram(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_RAM, nullptr));
    for (CDB_ATOM_NODE* other : {pin, ram.get()}) {
        api->reset_taint();
        api->taint(other);
        EXPECT_EQ(api->get_taint(), MORV_TAINT_REGISTER_OR_OTHER);
    }
    EXPECT_EQ(env->m_full_taint_calls, 0);
    EXPECT_FALSE(api->get_fsyn_timing()->is_mode_switched());

    api->reset_taint();
    msg_clear_vdebug_lines();
    api->taint(nullptr);
    EXPECT_EQ(api->get_taint(), MORV_TAINT_REGISTER_OR_OTHER);
    EXPECT_EQ(env->m_full_taint_calls, 1);
    EXPECT_TRUE(api->get_fsyn_timing()->is_mode_switched());
    EXPECT_EQ(count_lines_with(trace_lines(), "WARNING: Full taint in FSYN."), 1);
}

// Which bit each notification sets, by the kind of its node.
TEST_F(MorvApiEditTest, EveryNotificationTaintsByItsNode)
{
    start();
    CDB_ATOM_NODE* r2 = reg("r2");
    struct CASE
    {
        const char* what;
        std::function<void()> edit;
        unsigned bits;
    } cases[] = {
        {"modify_edge into a LUT", [&] { api->modify_edge(mid->get_input_term_by_type(DB_DATA_A), false); },
         MORV_TAINT_COMBINATIONAL},
        {"modify_edge into a register", [&] { api->modify_edge(r->get_input_term_by_type(DB_DATAIN), true); },
         MORV_TAINT_REGISTER_OR_OTHER},
        {"modify_node of a LUT", [&] { api->modify_node(s1); }, MORV_TAINT_COMBINATIONAL},
        {"modify_node of a register", [&] { api->modify_node(r); }, MORV_TAINT_REGISTER_OR_OTHER},
        {"merge of two registers", [&] { api->merge_nodes(r, r2); }, MORV_TAINT_REGISTER_OR_OTHER},
        {"merge of a register with itself", [&] { api->merge_nodes(r, r); }, 0},
        {"merge of a LUT and a register", [&] { api->merge_nodes(s0, r); }, 0},
        {"node_added of a LUT",
         [&] {
             api->node_added(add(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, name("n")), DB_COMB_OUT), s1, 0,
                             MORV_MODIFICATION_CODE);
         },
         MORV_TAINT_COMBINATIONAL},
        {"delete_node of a register", [&] { api->delete_node(r2); }, MORV_TAINT_REGISTER_OR_OTHER},
    };
    for (const CASE& cs : cases) {
        api->reset_taint();
        cs.edit();
        EXPECT_EQ(api->get_taint(), cs.bits) << cs.what;
    }
}

TEST_F(MorvApiEditTest, MergesOfAnythingButTwoRegistersAreIgnored)
{
    start();
    CDB_ATOM_NODE* r2 = reg("r2");
    api->merge_nodes(r, r);
    api->merge_nodes(s0, r);
    api->merge_nodes(r, s0);
    EXPECT_TRUE(env->m_events.empty());
    EXPECT_EQ(count_lines_with(trace_lines(), "Merging node"), 0);

    api->get_fsyn_stats()->start_algorithm("MERGE");
    api->merge_nodes(r, r2);
    EXPECT_EQ(env->m_events, (std::vector<std::string>{"record " + id(r) + " " + id(r2) + " 6 9"}));
    EXPECT_EQ(
        count_lines_with(trace_lines(), "Merging node top|r (id " + id(r) + ") and node top|r2 (id " + id(r2) + ")"),
        1);
    EXPECT_EQ(api->get_fsyn_stats()->get_current_record()->m_atoms_modified.first, 1);
    EXPECT_TRUE(api->get_fsyn_timing()->is_node_changed(static_cast<int>(r->get_id())));
    EXPECT_TRUE(api->get_fsyn_timing()->is_node_changed(static_cast<int>(r2->get_id())));
}

TEST_F(MorvApiEditTest, DeletingANodeAnnouncesEveryEdgeBeforeTheHostFreesIt)
{
    start();
    api->get_fsyn_stats()->start_algorithm("DELETE");
    const int mid_id = static_cast<int>(mid->get_id());
    HDB_INSTANCE_NAME* mid_name = mid->get_instance_name();
    int edges_when_freed = -1;
    env->m_on_delete = [&](CDB_ATOM_NODE*) { edges_when_freed = count_lines_with(trace_lines(), "(disconnected=1)"); };
    api->delete_node(mid);

    EXPECT_EQ(edges_when_freed, 5);
    const std::vector<std::string> lines = trace_lines();
    const std::string from_a = "Modifying edge from oterm (4149, 0) of (id " + id(a) +
                               ") feeding iterm (11, 0) of (id " + std::to_string(mid_id) + ") (disconnected=1)";
    const std::string to_s1 = "Modifying edge from oterm (4149, 0) of (id " + std::to_string(mid_id) +
                              ") feeding iterm (11, 0) of (id " + id(s1) + ") (disconnected=1)";
    const auto at = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) - lines.begin();
    };
    ASSERT_LT(at(from_a), static_cast<long>(lines.size()));
    ASSERT_LT(at(to_s1), static_cast<long>(lines.size()));
    EXPECT_LT(at(to_s1), at("Deleting node top|mid (id " + std::to_string(mid_id) + ")"));

    EXPECT_EQ(env->get_node(mid_id), nullptr);
    EXPECT_TRUE(mid_name->has_flag(HDB_INAME_FLAG_DELETED_ATOM));
    EXPECT_EQ(env->m_events, (std::vector<std::string>{"record " + std::to_string(mid_id) + " none 1 4149",
                                                       "delete_node " + std::to_string(mid_id)}));
    EXPECT_FALSE(s0->get_input_term_by_type(DB_DATA_A)->is_connected());
    EXPECT_TRUE(api->get_fsyn_timing()->is_node_changed(mid_id));
    EXPECT_EQ(api->get_fsyn_stats()->get_current_record()->m_atoms_deleted.first, 1);
    EXPECT_FALSE(api->is_atom_modified_for_icp(static_cast<int>(s0->get_id())));
    EXPECT_EQ(internal_error_of([&] { api->delete_node(nullptr); }), "You are trying to delete an invalid atom_id!");
}

TEST_F(MorvApiEditTest, OnlyNewConnectionsMarkTheSinkForTheNextPlacement)
{
    start();
    CDB_ATOM_ITERM* into_s0 = s0->get_input_term_by_type(DB_DATA_A);
    api->modify_edge(into_s0, true);
    EXPECT_FALSE(api->is_atom_modified_for_icp(static_cast<int>(s0->get_id())));
    api->modify_edge(into_s0, false);
    EXPECT_TRUE(api->is_atom_modified_for_icp(static_cast<int>(s0->get_id())));

    CDB_ATOM_ITERM* tied = s1->add_input_term(DB_DATA_B);
    tied->set_vcc();
    api->modify_edge(tied, false);
    EXPECT_EQ(count_lines_with(trace_lines(),
                               "Modifying const edge feeding iterm (12, 0) of (id " + id(s1) + ") (disconnected=0)"),
              1);
}

// An algorithm whose changed-atom flag is clear keeps its new connections
// away from the next placement's set.
class EDGE_ALGORITHM : public MORV_ALGORITHM_BASE
{
public:
    EDGE_ALGORITHM(MORV_API* api, CDB_ATOM_ITERM* iterm) : MORV_ALGORITHM_BASE(api, &s_no_parameters), m_iterm(iterm) {}
    ~EDGE_ALGORITHM() override {}
    // Runs while the algorithm is the flow driver's current one; no pass follows.
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom, int& restore) override
    {
        m_fsyn_api->modify_edge(m_iterm, false);
        num_passes = 0;
        icp_at_end = 0;
        fom = 0.0;
        restore = 0;
    }
    static inline MORV_PARAMETER_MAP s_no_parameters;
    CDB_ATOM_ITERM* m_iterm;
};

class EDGE_EXPERT : public MORV_PROBE_EXPERT
{
public:
    using MORV_EXPERT::run_single_algorithm;
    using MORV_PROBE_EXPERT::MORV_PROBE_EXPERT;
};

// The run saves and restores netlists through the environment's own flow
// driver, which this test replaces: states are not kept.
class NO_STATE_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;
    int save_state() override { return 0; }
    void restore_state(int) override {}
    void clear_state(int) override {}
};

TEST_F(MorvApiEditTest, AlgorithmsWithoutChangedAtomRecordingLeaveTheSetAlone)
{
    NO_STATE_ENV probe_env(&host->cmp);
    EDGE_EXPERT expert(&probe_env);
    MORV_API* probe_api = expert.get_fsyn_api();
    expert.run_single_algorithm(MORV_MAKE_OWNER(EDGE_ALGORITHM, probe_api, s0->get_input_term_by_type(DB_DATA_A)));
    EXPECT_FALSE(probe_api->is_atom_modified_for_icp(static_cast<int>(s0->get_id())));
    probe_api->modify_edge(s0->get_input_term_by_type(DB_DATA_A), false);
    EXPECT_TRUE(probe_api->is_atom_modified_for_icp(static_cast<int>(s0->get_id())));
}

TEST_F(MorvApiEditTest, AnAddedNodeIsAnnouncedInOrderAndJoinsItsOriginsPartition)
{
    BPM_BOUNDARY_PORT_MANAGER bpm(&host->ap);
    bpm_drl_set_active_boundary_port_manager(&bpm);
    CDB_ATOM_ASSIGNMENTS in_three;
    in_three.partition_id = 3;
    in_three.kardel_region = 4;
    s1->set_assignments(in_three);
    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    api->get_fsyn_log()->clear_pending_entries();
    api->get_fsyn_stats()->start_algorithm("ADD");

    MORV_CDB_INTERFACE* cdb = api->get_fsyn_cdb_interface();
    CDB_ATOM_NODE* copy = cdb->create_lcell_comb_brk(nullptr, name("s1_copy"));
    EXPECT_EQ(copy->get_netlist(), nullptr);
    api->node_added(copy, s1, MORV_MODIFICATION_DUPLICATE, MORV_MODIFICATION_CODE);
    EXPECT_EQ(copy->get_netlist(), host->netlist.get());
    EXPECT_EQ(env->get_node(static_cast<int>(copy->get_id())), copy);
    EXPECT_EQ(copy->get_chip_db_entry(), s1->get_chip_db_entry());
    EXPECT_EQ(bpm.get_partition_id(copy), 3);
    EXPECT_EQ(copy->get_assignments().kardel_region, 4);
    EXPECT_EQ(env->m_events, (std::vector<std::string>{"node_added " + id(copy), "copy_node_assignments " + id(copy),
                                                       "record " + id(copy) + " " + id(s1) + " 3 4149"}));
    // The insert record names the node it was made from and the kind-3 flag.
    EXPECT_EQ(pending_record_lines(*api->get_fsyn_log()),
              (std::vector<std::string>{log_line("INSERT_ATOM", copy, "\"s1\" 1 1")}));
    EXPECT_EQ(count_lines_with(trace_lines(), "Adding node top|s1_copy (id " + id(copy) + ")"), 1);
    EXPECT_TRUE(api->is_atom_modified_for_icp(static_cast<int>(copy->get_id())));
    EXPECT_TRUE(api->get_fsyn_timing()->is_node_changed(static_cast<int>(copy->get_id())));
    EXPECT_EQ(api->get_fsyn_stats()->get_current_record()->m_atoms_added.first, 1);

    // A partition named by the caller wins; a plain creation is no duplication.
    const int five = 5;
    CDB_ATOM_NODE* other = cdb->create_lcell_comb_brk(nullptr, name("other"));
    api->node_added(other, s1, 0, MORV_MODIFICATION_CODE, true, &five);
    EXPECT_EQ(bpm.get_partition_id(other), 5);
    EXPECT_EQ(pending_record_lines(*api->get_fsyn_log()).back(), log_line("INSERT_ATOM", other, "\"s1\" 1 0"));
    env.reset();  // before the manager goes
}

}  // namespace

namespace {

std::string numbered_name(int partition)
{
    std::string name = "p";
    name += std::to_string(partition);
    return name;
}

// The partition records of a log, by the partition's number ("p3" -> "3").
std::vector<std::string> logged_partitions(const MORV_LOG& log)
{
    std::vector<std::string> partitions;
    for (const auto& record : log.get_partition_entries())
        partitions.push_back(
            static_cast<const LOGDB_FSYN_LOG_ENTRY_IGNORE_PARTITION_BP_INFO&>(*record).m_partition_name.substr(1));
    return partitions;
}

}  // namespace

// A saved state keeps the log's records as they were when it was taken; the
// live log goes on from there, and a restore brings back the saved records.
TEST_F(MorvApiEditTest, SnapshotsKeepTheLogRecordsOfTheirMoment)
{
    BPM_BOUNDARY_PORT_MANAGER bpm(&host->ap);
    bpm_drl_set_active_boundary_port_manager(&bpm);
    for (int partition = 1; partition <= 9; ++partition) bpm.set_partition_name(partition, numbered_name(partition));
    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    MORV_LOG* live = api->get_fsyn_log();
    live->clear_pending_entries();
    live->log_ignore_partition_bp_info(1);
    live->log_ignore_partition_bp_info(2);

    MORV_SAVE_RESTORE_SNAPSHOT first(0);
    api->take_snapshot(&first);
    live->log_ignore_partition_bp_info(3);
    MORV_SAVE_RESTORE_SNAPSHOT second(1);
    api->take_snapshot(&second);
    live->log_ignore_partition_bp_info(4);
    first.m_log->log_ignore_partition_bp_info(9);  // a saved log written to stays apart

    EXPECT_EQ(logged_partitions(*live), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(live->get_pending_entry_count(), 4u);
    EXPECT_EQ(logged_partitions(*second.m_log), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(logged_partitions(*first.m_log), (std::vector<std::string>{"1", "2", "9"}));

    api->restore_snapshot(&second);
    live = api->get_fsyn_log();
    EXPECT_EQ(logged_partitions(*live), (std::vector<std::string>{"1", "2", "3"}));
    live->log_ignore_partition_bp_info(5);
    EXPECT_EQ(logged_partitions(*second.m_log), (std::vector<std::string>{"1", "2", "3"}));
    live->clear_pending_entries();
    EXPECT_EQ(live->get_pending_entry_count(), 0u);
    EXPECT_EQ(logged_partitions(*first.m_log), (std::vector<std::string>{"1", "2", "9"}));
    api->delete_snapshot(&first);
    api->delete_snapshot(&second);
    env.reset();  // before the manager goes
}

}  // namespace morv_api_edit_test
