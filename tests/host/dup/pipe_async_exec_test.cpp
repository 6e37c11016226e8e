// The execution of asynchronous pipelining in the LATE flow on small placed
// fixtures: the chain, the register tree, the reach, the demotion of a
// clock buffer, and the sources that cannot or need not be pipelined.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "fixture_netlist.h"
#include "host_env.h"
#include "morv_test_util.h"
#include "msg/msg.h"
#include "rdb/rdb.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "test_compile_setup.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/dup/morv_pipe_async.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_timing.h"

namespace pipe_async_exec_test {

namespace {

// A synchroniser on a global clock whose output clears placed registers,
// under a LATE-flow compile of its own.
class LATE_RUN
{
public:
    explicit LATE_RUN(int family = CDB_FAMILY_BRK) : m_fx(family), m_clk(m_fx.input("clk")) {}

    // The synchroniser "rst_s" behind "rst_m".
    void sync()
    {
        CDB_ATOM_OTERM* meta = m_fx.reg("rst_m", m_fx.input("rst"), m_clk);
        m_sync = m_fx.reg("rst_s", meta, m_clk);
        m_sync->get_my_node()->get_input_term_by_type(DB_CLOCK)->set_global(4);
    }
    // A synchroniser "idle_s" that drives nothing.
    void idle()
    {
        CDB_ATOM_OTERM* q = m_fx.reg("idle_s", m_fx.input("idle"), m_clk);
        q->get_my_node()->get_input_term_by_type(DB_CLOCK)->set_global(4);
    }
    // A second synchroniser "late_s", after "rst_s" in the netlist, whose
    // output clears the register "late_d".
    void second_sync()
    {
        CDB_ATOM_OTERM* q = m_fx.reg("late_s", m_fx.input("late"), m_clk);
        q->get_my_node()->get_input_term_by_type(DB_CLOCK)->set_global(4);
        m_fx.output("late_d_o", m_fx.reg("late_d", m_fx.input("late_d_d"), m_clk, nullptr, q));
    }
    CDB_ATOM_OTERM* buffer()
    {
        m_source = m_fx.clock_buffer("rst_buf", m_sync);
        return m_source;
    }
    void dest(const std::string& name)
    {
        CDB_ATOM_OTERM* q = m_fx.reg(name, m_fx.input(name + "_d"), m_clk, nullptr, m_source ? m_source : m_sync);
        m_fx.output(name + "_o", q);
        m_dests.push_back(name);
    }
    // A DSP block: a multiplier feeding an output block, both cleared by the
    // synchroniser, the output block first.
    void dsp(const std::string& name)
    {
        CDB_ATOM_NETLIST& netlist = m_fx.netlist();
        auto make = [&](int kind, const std::string& atom) {
            CDB_ATOM_NODE* node =
                cdb_create_atom(m_fx.family(), kind, netlist.get_name_mgr()->create_unique_name(atom, 0));
            netlist.add_node(node);
            return node;
        };
        CDB_ATOM_NODE* mult = make(CDB_KIND_MAC_MULT, name + "_mult");
        CDB_ATOM_NODE* out = make(CDB_KIND_MAC_OUT, name + "_out");
        CDB_ATOM_OTERM* product =
            mult->add_output_term(DB_DATA_OUT, netlist.get_name_mgr()->create_unique_name(name + "_p", 0));
        product->insert_fanout(out->add_input_term(DB_DATA_A));
        m_sync->insert_fanout(out->add_input_term(DB_CLEAR));
        m_sync->insert_fanout(mult->add_input_term(DB_CLEAR));
        m_fx.output(name + "_o",
                    out->add_output_term(DB_DATA_OUT, netlist.get_name_mgr()->create_unique_name(name + "_q", 0)));
        m_dests.push_back(name + "_out");
        m_dests.push_back(name + "_mult");
    }
    // Hands the netlist to the compile; every later call sees the design.
    void compile()
    {
        m_design = std::make_unique<morv_host::HOST_DESIGN>(m_fx.family(), m_fx.release());
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_expert = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert());
        m_api = m_expert->get_fsyn_api();
        DRIVER_FLAGS::run_only(m_expert, LATE_FSYN_FLOW);
        m_slack = std::make_unique<SCRIPTED_SLACK_SOURCE>(m_api->get_fsyn_timing());
        m_slack->set_default(5000, 0.9);
        // Only what a test places has a location.
        m_api->reset_fsyn_chip_map(false);
    }
    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(*m_design->netlist(), name); }
    void place(const std::string& name, int x, int y)
    {
        const MORV_LOC at{x, y, MORV_OPEN, MORV_OPEN};
        m_api->get_fsyn_chip_map()->set_node_location(static_cast<int>(find(name)->get_id()), at);
    }
    MORV_LOC location(CDB_ATOM_NODE* node)
    {
        MORV_LOC at;
        EXPECT_TRUE(m_api->get_fsyn_chip_map()->get_node_location(static_cast<int>(node->get_id()), &at));
        return at;
    }
    CDB_ATOM_OTERM* source_term(const std::string& name)
    {
        CDB_ATOM_NODE* node = find(name);
        CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_REG_OUT);
        return out != nullptr ? out : node->get_output_term_by_type(DB_CLKBUF_OUT);
    }
    void record(const std::string& name)
    {
        CDB_ATOM_OTERM* out = source_term(name);
        PIPE_ASYNC_OTERM key;
        key.m_node_id = out->get_my_node()->get_id();
        key.m_port_type = static_cast<uint32_t>(out->get_usage());
        MORV_PIPE_ASYNC::s_critical_async_sources.insert(key);
    }
    void set_slack(const std::string& name, int slack)
    {
        CDB_ATOM_OTERM* out = source_term(name);
        for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) m_slack->set_slack(*it, slack);
    }
    void option(const std::string& instance, int id, const std::string& value)
    {
        m_design->action_point().edit_instance_options(instance).set_string(id, value);
    }
    // The object as the run driver sets up its one pass.
    MORV_OWNER<MORV_PIPE_ASYNC> start()
    {
        MORV_OWNER<MORV_PIPE_ASYNC> pipe = MORV_MAKE_OWNER(MORV_PIPE_ASYNC, m_api, &m_params);
        int passes = -1, icp = -1, restore = -1, iters = -1, hci = -1;
        double fom = -1.0;
        pipe->set_default_algorithm_parameters(passes, icp, fom, restore);
        pipe->set_default_pass_parameters(0, iters, hci);
        return pipe;
    }
    // One LATE-flow run; the operations it counted.
    int run()
    {
        MORV_TIMING* timing = m_api->get_fsyn_timing();
        timing->set_mode_switched(true);
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
        MORV_OWNER<MORV_PIPE_ASYNC> pipe = start();
        const int operations = pipe->do_iter();
        m_stages = pipe->get_pipe_stage();
        m_registers = pipe->get_total_registers();
        m_reach = pipe->get_register_reach();
        m_regs.clear();
        for (const std::vector<PIPE_REG>& stage : pipe->get_pipe_regs())
            for (const PIPE_REG& reg : stage) m_regs.push_back(reg);
        pipe->finish_algorithm();
        return operations;
    }
    // Registers between the synchroniser and the destination's clear; -1
    // when the path meets anything but a register.
    int depth(const std::string& name)
    {
        CDB_ATOM_OTERM* sync_out = find("rst_s")->get_output_term_by_type(DB_REG_OUT);
        CDB_ATOM_OTERM* at = find(name)->get_input_term_by_type(DB_CLEAR)->get_source();
        int registers = 0;
        while (at != nullptr && at != sync_out) {
            CDB_ATOM_NODE* node = at->get_my_node();
            CDB_ATOM_ITERM* data = node->get_input_term_by_type(data_port());
            if (data == nullptr || at->get_usage() != DB_REG_OUT) return -1;
            at = data->get_source();
            ++registers;
        }
        return at == sync_out ? registers : -1;
    }
    // The pipeline register whose output clears the destination.
    CDB_ATOM_NODE* driver_of(const std::string& name)
    {
        return find(name)->get_input_term_by_type(DB_CLEAR)->get_source()->get_my_node();
    }
    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    int data_port() const { return m_design->family() == CDB_FAMILY_UVO ? DB_DATA_A : DB_DATAIN; }

    MORV_API* api() { return m_api; }
    const std::vector<std::string>& dests() const { return m_dests; }
    // The rows of the report table the last source filed, header first.
    std::vector<std::vector<std::string>> table()
    {
        std::vector<std::vector<std::string>> rows;
        RDB_FOLDER* folder = m_design->cmp().get_report()->get_current_folder();
        if (folder->get_table_count() == 0) return rows;
        const RDB_TABLE_OBJECT& table = folder->get_table(folder->get_table_count() - 1);
        for (size_t i = 0; i < table.get_row_count(); ++i) rows.push_back(table.get_row(i).texts());
        return rows;
    }
    int m_stages = 0;
    int m_registers = 0;
    int m_reach = 0;
    std::vector<PIPE_REG> m_regs;

private:
    FIXTURE_NETLIST m_fx;
    CDB_ATOM_OTERM* m_clk;
    CDB_ATOM_OTERM* m_sync = nullptr;
    CDB_ATOM_OTERM* m_source = nullptr;
    std::vector<std::string> m_dests;
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_EXPERT* m_expert = nullptr;
    MORV_API* m_api = nullptr;
    std::unique_ptr<SCRIPTED_SLACK_SOURCE> m_slack;
    MORV_PARAMETER_MAP m_params;
};

// GCC 12 at -O3 warns wrongly on a literal plus a string: appended instead.
std::string numbered(const char* prefix, int k)
{
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

std::vector<std::pair<int, int>> places(const std::vector<PIPE_REG>& regs)
{
    std::vector<std::pair<int, int>> out;
    for (const PIPE_REG& reg : regs) out.emplace_back(reg.x, reg.y);
    return out;
}

// The text of the last message posted with that id.
std::string posted_text(const std::string& id)
{
    std::string text;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id == id) text = m.text;
    return text;
}

class PipeAsyncExec : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        MORV_PIPE_ASYNC::s_critical_async_sources.clear();
        MORV_PIPE_ASYNC::s_report_rows.clear();
    }
    void TearDown() override
    {
        MORV_PIPE_ASYNC::s_critical_async_sources.clear();
        MORV_PIPE_ASYNC::s_report_rows.clear();
        MORV_CLEAN_STATE_TEST::TearDown();
    }
};

// One destination beyond the reach: the chain runs along the destination's
// row first, from the destination backwards, then along the column.
TEST_F(PipeAsyncExec, ChainAlongTheRowThenTheColumn)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN row;
    row.sync();
    row.dest("d");
    row.compile();
    row.place("rst_s", 2, 2);
    row.place("d", 10, 2);
    row.record("rst_s");
    EXPECT_EQ(row.run(), 2);
    EXPECT_EQ(places(row.m_regs), (std::vector<std::pair<int, int>>{{7, 2}, {4, 2}}));
    EXPECT_EQ(row.m_stages, 2);
    EXPECT_EQ(row.depth("d"), 2);
    EXPECT_EQ(posted_text("IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTERS_AND_STAGES"),
              "Inserted 2 registers on 2 stages");

    LATE_RUN corner;
    corner.sync();
    corner.dest("d");
    corner.compile();
    corner.place("rst_s", 2, 2);
    corner.place("d", 10, 11);
    corner.record("rst_s");
    EXPECT_EQ(corner.run(), 5);
    EXPECT_EQ(places(corner.m_regs), (std::vector<std::pair<int, int>>{{7, 11}, {4, 11}, {4, 8}, {4, 5}, {4, 2}}));
    EXPECT_EQ(corner.depth("d"), 5);
    // Each register, tree or chain, takes the source's timing assignments once.
    size_t copied = 0;
    for (const auto& created : corner.netlist().get_created_from_map())
        if (created.second == corner.source_term("rst_s")->get_instance_name()) ++copied;
    EXPECT_EQ(copied, corner.m_regs.size());
    // Every new register is clocked like the synchroniser.
    for (const PIPE_REG& reg : corner.m_regs) {
        CDB_ATOM_ITERM* clock = reg.node->get_input_term_by_type(DB_CLOCK);
        EXPECT_EQ(clock->get_source(), corner.find("clk")->get_output_term_by_type(DB_DATA_OUT));
        EXPECT_EQ(clock->get_global(), 4);
    }

    // Within the reach: no register, and the row says so.
    LATE_RUN near;
    near.sync();
    near.dest("d");
    near.compile();
    near.place("rst_s", 2, 2);
    near.place("d", 4, 3);
    near.record("rst_s");
    EXPECT_EQ(near.run(), 0);
    EXPECT_EQ(near.table(),
              (std::vector<std::vector<std::string>>{{"NET", "STAGES", "REGISTERS", "NOTE"}, {"rst_s", "0", "0", ""}}));
    EXPECT_EQ(near.depth("d"), 0);
}

// Two destinations 20 apart with reach 3: the box shrinks by 3 on each side
// per level; four levels of 2, 2, 2 and 1 registers meet in the middle.
TEST_F(PipeAsyncExec, TreeOverTwoDistantDestinations)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run;
    run.sync();
    run.dest("a");
    run.dest("b");
    run.compile();
    // Along a column, clear of the memory and DSP columns.
    run.place("a", 2, 1);
    run.place("b", 2, 21);
    run.place("rst_s", 2, 11);
    run.record("rst_s");
    EXPECT_EQ(run.run(), 7);
    EXPECT_EQ(run.m_stages, 4);
    EXPECT_EQ(run.m_registers, 7);
    ASSERT_EQ(run.m_regs.size(), 7u);
    EXPECT_EQ(places({run.m_regs[0], run.m_regs[1]}), (std::vector<std::pair<int, int>>{{2, 4}, {2, 19}}));
    EXPECT_EQ(run.m_regs[6].x, 2);
    EXPECT_EQ(run.m_regs[6].y, 10);
    EXPECT_EQ(run.depth("a"), 4);
    EXPECT_EQ(run.depth("b"), 4);
}

// The lattice starts odd rows r to the right: over the box (1, 1)..(7, 4)
// with reach 3 the centre-most candidate is (4, 4), which reaches (7, 4);
// (1, 1) takes the other destination.
TEST_F(PipeAsyncExec, LatticeStaggersOddRows)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run;
    run.sync();
    run.dest("a");
    run.dest("b");
    run.compile();
    run.place("a", 1, 1);
    run.place("b", 7, 4);
    run.place("rst_s", 4, 2);
    run.record("rst_s");
    EXPECT_EQ(run.run(), 3);
    EXPECT_EQ(places(run.m_regs), (std::vector<std::pair<int, int>>{{4, 4}, {1, 1}, {4, 1}}));
    EXPECT_EQ(run.depth("a"), 2);
    EXPECT_EQ(run.depth("b"), 2);
}

// Every destination on one location: one register takes them all.
TEST_F(PipeAsyncExec, PointBoxGivesOneRegister)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "2");
    LATE_RUN run;
    run.sync();
    for (int k = 0; k < 5; ++k) run.dest(numbered("d", k));
    run.compile();
    for (const std::string& d : run.dests()) run.place(d, 3, 3);
    run.place("rst_s", 3, 4);
    run.record("rst_s");
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(places(run.m_regs), (std::vector<std::pair<int, int>>{{3, 3}}));
    for (const std::string& d : run.dests()) EXPECT_EQ(run.depth(d), 1) << d;
}

// A candidate that reaches only three destinations waits for the first pass
// to end, and a later candidate reaching four takes them.
TEST_F(PipeAsyncExec, ThresholdFourPassesOverThreeDestinations)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run;
    run.sync();
    for (const char* name : {"n1", "n2", "n3", "far", "top", "low"}) run.dest(name);
    run.compile();
    for (const char* name : {"n1", "n2", "n3"}) run.place(name, 2, 9);
    run.place("far", 2, 12);
    run.place("top", 2, 13);
    run.place("low", 2, 1);
    run.place("rst_s", 2, 8);
    run.record("rst_s");
    run.run();
    // The centre candidate (2, 7) reaches n1..n3 but not four: (2, 10) takes them.
    ASSERT_GE(run.m_regs.size(), 2u);
    EXPECT_EQ(places({run.m_regs[0], run.m_regs[1]}), (std::vector<std::pair<int, int>>{{2, 4}, {2, 10}}));
    EXPECT_EQ(run.m_regs[0].children.size(), 1u);
    EXPECT_EQ(run.m_regs[1].children.size(), 5u);
    EXPECT_EQ(run.m_stages, 2);
    for (const std::string& d : run.dests()) EXPECT_EQ(run.depth(d), 2) << d;
}

// A memory column refuses logic cells: the lattice point on it is taken
// only by the last pass, and the register then moves to the first legal
// point of the ring: up and down are in the same column, right is taken.
TEST_F(PipeAsyncExec, RefusedLocationTakenLastThenMovedAlongTheRing)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "2");
    LATE_RUN run;
    run.sync();
    for (int k = 0; k < 3; ++k) run.dest(numbered("d", k));
    run.compile();
    ASSERT_FALSE(run.api()->can_lcell_go_to_location(8, 5));
    ASSERT_TRUE(run.api()->can_lcell_go_to_location(9, 5));
    for (const std::string& d : run.dests()) run.place(d, 8, 5);
    run.place("rst_s", 9, 6);
    run.record("rst_s");
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(places(run.m_regs), (std::vector<std::pair<int, int>>{{9, 5}}));
    const MORV_LOC at = run.location(run.m_regs[0].node);
    EXPECT_EQ(at.x, 9);
    EXPECT_EQ(at.y, 5);

    // The refused centre candidate (8, 5) reaches all five destinations
    // first, but (10, 5) takes them in the first pass.
    LATE_RUN other;
    other.sync();
    for (int k = 0; k < 5; ++k) other.dest(numbered("d", k));
    other.compile();
    for (int k = 0; k < 4; ++k) other.place(numbered("d", k), 8, 5);
    other.place("d4", 10, 5);
    other.place("rst_s", 10, 6);
    other.record("rst_s");
    EXPECT_EQ(other.run(), 1);
    EXPECT_EQ(places(other.m_regs), (std::vector<std::pair<int, int>>{{10, 5}}));
}

// MRL: the other members of a DSP block whose first destination is taken
// join the same register however far away they are; new registers have
// their clear tied inactive; the reach never falls below 12.
TEST_F(PipeAsyncExec, MrlCliquesShareARegister)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "2");
    LATE_RUN run(CDB_FAMILY_MRL);
    run.sync();
    run.dsp("mac");
    run.dest("near");
    run.dest("far");
    run.compile();
    run.place("mac_out", 5, 5);
    run.place("near", 5, 6);
    run.place("mac_mult", 30, 5);
    run.place("far", 30, 6);
    run.place("rst_s", 5, 7);
    run.record("rst_s");
    run.run();
    EXPECT_EQ(run.driver_of("mac_out"), run.driver_of("mac_mult"));
    EXPECT_NE(run.driver_of("mac_out"), run.driver_of("far"));
    for (const std::string& d : run.dests()) EXPECT_EQ(run.depth(d), run.m_stages) << d;
    for (const PIPE_REG& reg : run.m_regs) {
        CDB_ATOM_ITERM* clear = reg.node->get_input_term_by_type(DB_CLEAR);
        ASSERT_NE(clear, nullptr);
        EXPECT_TRUE(clear->is_vcc());
    }

    cfg_set_value("fsyn_pipe_async_register_reach", "0");
    LATE_RUN computed(CDB_FAMILY_MRL);
    computed.sync();
    computed.dest("d");
    computed.compile();
    computed.place("rst_s", 2, 2);
    computed.place("d", 40, 2);
    computed.set_slack("rst_s", -100000);
    computed.record("rst_s");
    computed.run();
    EXPECT_EQ(computed.m_reach, 12);
    EXPECT_EQ(computed.depth("d"), computed.m_stages);
}

// UVO: a pipeline register is a logic cell whose LUT passes input A to its
// register, the clear tied inactive.
TEST_F(PipeAsyncExec, UvoRegisterBody)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run(CDB_FAMILY_UVO);
    run.sync();
    run.dest("a");
    run.dest("b");
    run.compile();
    run.place("a", 2, 1);
    run.place("b", 2, 12);
    run.place("rst_s", 20, 6);
    run.record("rst_s");
    run.run();
    ASSERT_FALSE(run.m_regs.empty());
    EXPECT_EQ(run.depth("a"), run.m_stages);
    EXPECT_EQ(run.depth("b"), run.m_stages);
    for (const PIPE_REG& reg : run.m_regs) {
        EXPECT_TRUE(reg.node->is_lcell());
        EXPECT_EQ(reg.node->get_lutmask().get_value() & 0xFFFF, 0xAAAAu);
        EXPECT_TRUE(reg.node->get_input_term_by_type(DB_CLEAR)->is_vcc());
        EXPECT_TRUE(reg.node->get_input_term_by_type(DB_DATA_A)->is_connected());
    }
}

// The reach: the switch beats the per-instance value, which the message
// still shows; a computed reach of 0 becomes 1.
TEST_F(PipeAsyncExec, ReachOverridesAndTheSmallestReach)
{
    auto one = [](int slack, const char* option, const char* forced) {
        if (forced != nullptr) cfg_set_value("fsyn_pipe_async_register_reach", forced);
        LATE_RUN run;
        run.sync();
        run.dest("d");
        run.compile();
        run.place("rst_s", 2, 2);
        run.place("d", 3, 2);
        run.set_slack("rst_s", slack);
        if (option != nullptr) run.option("rst_s", MORV_SETTING_PIPELINING, option);
        run.record("rst_s");
        run.run();
        return run.m_reach;
    };
    const std::string overridden = "IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_OVERRIDDEN_REGISTER_REACH";
    EXPECT_EQ(one(0, "8", nullptr), 8);
    EXPECT_NE(posted_text(overridden).find(" overridden to 8 "), std::string::npos) << posted_text(overridden);
    EXPECT_EQ(one(0, "8", "5"), 5);
    EXPECT_EQ(count_posted(overridden), 2);
    EXPECT_NE(posted_text(overridden).find(" overridden to 8 "), std::string::npos) << posted_text(overridden);
    cfg_set_value("fsyn_pipe_async_register_reach", "0");
    // Option 666 at 0 forces but does not set the reach; a period no hop fits in gives 1.
    EXPECT_EQ(one(-100000, "0", nullptr), 1);
    EXPECT_EQ(count_posted("IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTER_REACH"), 1);
    // A fanout whose slack is unknown sets no period: the default 2,500 ps
    // gives the reach (56 LABs), where the unknown value taken as a slack
    // would overflow.
    EXPECT_EQ(one(2147483647, nullptr, nullptr), 56);
}

// A clock buffer in front of the net goes: its fanouts move to the
// synchroniser as plain (not global) inputs, and the demotion counts.
TEST_F(PipeAsyncExec, ClockBufferIsDemoted)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "40");
    LATE_RUN run;
    run.sync();
    run.buffer();
    run.dest("a");
    run.dest("b");
    run.compile();
    run.place("rst_s", 5, 5);
    run.place("rst_buf", 5, 6);
    run.place("a", 5, 7);
    run.place("b", 6, 7);
    for (const char* name : {"a", "b"}) run.find(name)->get_input_term_by_type(DB_CLEAR)->set_global(4);
    run.record("rst_buf");
    EXPECT_EQ(run.run(), 2);  // the buffer and the one tree register
    EXPECT_EQ(run.find("rst_buf"), nullptr);
    EXPECT_EQ(count_posted("WMORV_FSYN_DEMOTING_GLOBAL_SIGNAL"), 1);
    for (const char* name : {"a", "b"}) {
        EXPECT_EQ(run.depth(name), 1) << name;
        EXPECT_EQ(run.find(name)->get_input_term_by_type(DB_CLEAR)->get_global(), 0) << name;
    }
    EXPECT_EQ(run.table(),
              (std::vector<std::vector<std::string>>{{"NET", "STAGES", "REGISTERS", "NOTE"}, {"rst_s", "1", "1", ""}}));
}

// A source without a finite fanout slack or without any fanout is still
// handled, after the critical ones, and the loop ends; a source swept
// between the flows is dropped, in every family.
TEST_F(PipeAsyncExec, NeverChosenAndVanishedSources)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run;
    run.sync();
    run.dest("a");
    run.idle();
    run.compile();
    run.place("rst_s", 2, 2);
    run.place("a", 10, 2);
    run.place("idle_s", 3, 3);
    run.set_slack("rst_s", MORV_PIPE_ASYNC_INFINITY);
    run.record("rst_s");
    run.record("idle_s");
    PIPE_ASYNC_OTERM gone;
    gone.m_node_id = 987654;
    gone.m_port_type = DB_REG_OUT;
    MORV_PIPE_ASYNC::s_critical_async_sources.insert(gone);
    PIPE_ASYNC_OTERM wrong_port;
    wrong_port.m_node_id = run.find("rst_m")->get_id();
    wrong_port.m_port_type = DB_COMB_OUT;
    MORV_PIPE_ASYNC::s_critical_async_sources.insert(wrong_port);
    EXPECT_EQ(run.run(), 2);
    EXPECT_TRUE(MORV_PIPE_ASYNC::s_critical_async_sources.empty());
    EXPECT_EQ(run.depth("a"), 2);
    EXPECT_EQ(run.table(),
              (std::vector<std::vector<std::string>>{
                  {"NET", "STAGES", "REGISTERS", "NOTE"}, {"rst_s", "2", "2", ""}, {"idle_s", "0", "0", ""}}));
}

// The most critical source goes first, wherever it stands among the
// recorded ones: the rows follow the order the sources were handled in.
TEST_F(PipeAsyncExec, TheMostCriticalSourceIsPipelinedFirst)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run;
    run.sync();
    run.dest("a");
    run.second_sync();
    run.compile();
    run.place("rst_s", 2, 2);
    run.place("a", 10, 2);
    run.place("late_s", 3, 3);
    run.place("late_d", 3, 4);
    run.set_slack("rst_s", 100);
    run.set_slack("late_s", -50);
    run.record("rst_s");
    run.record("late_s");
    EXPECT_EQ(run.run(), 2);
    EXPECT_EQ(run.table(),
              (std::vector<std::vector<std::string>>{
                  {"NET", "STAGES", "REGISTERS", "NOTE"}, {"late_s", "0", "0", ""}, {"rst_s", "2", "2", ""}}));
}

// A destination without a location leaves its source as it is, with a row.
TEST_F(PipeAsyncExec, UnplacedDestinationIsNotPipelined)
{
    cfg_set_value("fsyn_pipe_async_register_reach", "3");
    LATE_RUN run;
    run.sync();
    run.dest("a");
    run.dest("b");
    run.compile();
    run.place("rst_s", 2, 2);
    run.place("a", 20, 2);
    run.record("rst_s");
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.depth("a"), 0);
    EXPECT_EQ(run.depth("b"), 0);
    EXPECT_EQ(run.table(),
              (std::vector<std::vector<std::string>>{{"NET", "STAGES", "REGISTERS", "NOTE"},
                                                     {"rst_s", "0", "0", "Asynchronous signal was not pipelineable"}}));
}

// On random destination sets and reaches every destination ends the same
// number of registers behind the synchroniser, each register stands where
// a logic cell may, and no hop is longer than the reach.
TEST_F(PipeAsyncExec, RandomDestinationsAreEquallyDeep)
{
    std::mt19937 random(59);
    for (int round = 0; round < 12; ++round) {
        SetUp();
        const int reach = 1 + static_cast<int>(random() % 6);
        cfg_set_value("fsyn_pipe_async_register_reach", std::to_string(reach).c_str());
        LATE_RUN run;
        run.sync();
        const int n = 1 + static_cast<int>(random() % 40);
        for (int k = 0; k < n; ++k) run.dest(numbered("d", k));
        run.compile();
        for (const std::string& d : run.dests())
            run.place(d, 1 + static_cast<int>(random() % 40), 1 + static_cast<int>(random() % 40));
        run.place("rst_s", 1 + static_cast<int>(random() % 40), 1 + static_cast<int>(random() % 40));
        run.record("rst_s");
        run.run();
        for (const std::string& d : run.dests()) EXPECT_EQ(run.depth(d), run.m_stages) << round << " " << d;
        EXPECT_EQ(static_cast<int>(run.m_regs.size()), run.m_registers) << round;
        for (const PIPE_REG& reg : run.m_regs) {
            const MORV_LOC at = run.location(reg.node);
            EXPECT_TRUE(run.api()->can_lcell_go_to_location(at.x, at.y)) << round << " " << at.x << "," << at.y;
        }
    }
}

}  // namespace

}  // namespace pipe_async_exec_test
