// RAM-based shift registers of generated OBRAN designs: grouping of RAMs
// with their counters, the length and offset measured by simulating the
// counter (against the generator's own count), the port rules one by one,
// and reductions on both sides, once and twice, each proved by ABC from the
// all-zero power-up state against the design as generated.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "log_capture.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "morv/retiming/morv_shift_reg_sim.h"
#include "morv_test_util.h"
#include "retiming_seq_run.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "shreg_gen.h"
#include "test_files.h"

namespace shreg_manager_test {

namespace {

class SHREG_RUN
{
public:
    explicit SHREG_RUN(std::vector<SHREG_LAYOUT> layouts) : m_layouts(std::move(layouts))
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(CDB_FAMILY_OBRAN, shreg_generate(m_layouts));
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        place_every_node(m_api, netlist());
        m_manager = std::make_unique<MORV_SHIFT_REG_MANAGER>(m_api);
        m_manager->initialize();
    }
    ~SHREG_RUN()
    {
        if (m_manager) m_manager->remove_queued_nodes();
        m_manager.reset();
    }

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    MORV_API* api() { return m_api; }
    MORV_SHIFT_REG_MANAGER& manager() { return *m_manager; }
    CDB_ATOM_NODE* node(const std::string& name)
    {
        CDB_ATOM_NODE* n = seq_find(netlist(), name);
        EXPECT_NE(n, nullptr) << name;
        return n;
    }
    int id(const std::string& ram) { return m_manager->is_node_shift_register(node(ram)); }
    // One reduction and the deletion of what it left, then a fresh grouping.
    bool reduce(const std::string& ram, bool on_output)
    {
        const bool done = m_manager->reduce_shift_register(node(ram), on_output);
        m_manager->remove_queued_nodes();
        m_manager->initialize();
        return done;
    }
    SEQ_VERDICT check(const std::string& tag, bool expect = true)
    {
        std::unique_ptr<CDB_ATOM_NETLIST> reference = shreg_generate(m_layouts);
        return seq_check(*reference, netlist(), tag, expect, 200);
    }
    // Registers the reductions made.
    int new_registers()
    {
        int n = 0;
        for (CDB_ATOM_NODE* node : netlist())
            n +=
                node->is_register() && node->get_instance_name()->get_short_hpath().find("_shred") != std::string::npos;
        return n;
    }

private:
    std::vector<SHREG_LAYOUT> m_layouts;
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    std::unique_ptr<MORV_SHIFT_REG_MANAGER> m_manager;
};

SHREG_LAYOUT layout(int length, int offset = 2)
{
    SHREG_LAYOUT s;
    s.m_length = length;
    s.m_offset = offset;
    return s;
}

// The last line of the log that starts with the prefix, "" when none.
std::string last_line(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->rfind(prefix, 0) == 0) return *it;
    return "";
}

int count_lines(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

}  // namespace

// The length and offset the manager measures, and the addresses its
// simulation sees state by state, are those of the generated counter.
TEST(ShiftRegManager, MeasuresEveryGeneratedCounterAsItCounts)
{
    std::vector<SHREG_LAYOUT> layouts = {layout(4), layout(5), layout(7), layout(10), layout(7, 0), layout(33, 0)};
    SHREG_LAYOUT phase = layout(0);
    phase.m_clear_phase = 3;  // three states with the clear on, then a cycle of four
    layouts.push_back(phase);
    SHREG_LAYOUT counted = layout(10);
    counted.m_clear_counter = true;  // nine states with the clear on, then a cycle of ten
    layouts.push_back(counted);
    for (size_t k = 0; k < layouts.size(); ++k) layouts[k].m_name = shreg_text("s", static_cast<int>(k));
    SHREG_RUN run(layouts);
    for (const SHREG_LAYOUT& s : layouts) {
        MORV_LOG_CAPTURE log(100);
        const int id = run.id(shreg_text(s.m_name, "_ram0"));
        EXPECT_GT(id, 0) << s.m_name;
        const std::vector<std::string> lines = log.lines();
        const int length = s.m_clear_phase > 0 ? s.m_clear_phase + 1 : s.m_length;
        EXPECT_EQ(last_line(lines, "SHIFT REGISTER OF LENGTH"), shreg_text("SHIFT REGISTER OF LENGTH ", length))
            << s.m_name;
        EXPECT_EQ(last_line(lines, "offset="), shreg_text("offset=", s.m_offset, " is ok")) << s.m_name;
        // A second question is answered from the cache.
        MORV_LOG_CAPTURE again(100);
        EXPECT_EQ(run.id(shreg_text(s.m_name, "_ram0")), id);
        EXPECT_EQ(again.lines().size(), 0u);
    }
    // The simulation itself against the generator's count.
    const SHREG_LAYOUT& s = layouts[3];
    MORV_SHIFT_REG_SIMULATION::NODE_SET set;
    for (CDB_ATOM_NODE* node : run.netlist()) {
        const std::string name = node->get_instance_name()->get_short_hpath();
        if (name.rfind(shreg_text(s.m_name, "_"), 0) == 0 && !node->is_pin()) set.insert(node);
    }
    MORV_SHIFT_REG_SIMULATION simulation(run.api()->get_fsyn_net_util());
    ASSERT_TRUE(simulation.simulate(set));
    const SHREG_ADDRESSES expected = shreg_expected_addresses(s, simulation.get_last_state());
    EXPECT_EQ(simulation.get_length(), 10);
    EXPECT_EQ(simulation.get_equiv_state(), 0);
    EXPECT_EQ(simulation.get_write_addresses(), expected.write);
    EXPECT_EQ(simulation.get_read_addresses(), expected.read);
}

// Each port rule failing alone makes the RAM no shift register, with its
// own (sometimes misleading) text.
TEST(ShiftRegManager, EachRamPortRuleRefusesAlone)
{
    struct CASE
    {
        void (*change)(SHREG_LAYOUT&);
        const char* text;
    };
    const CASE cases[] = {
        {[](SHREG_LAYOUT& s) { s.m_port_a_we = false; }, "port_a_we must be true!"},
        {[](SHREG_LAYOUT& s) { s.m_port_b_re = false; }, "port_b_re must be true!"},
        {[](SHREG_LAYOUT& s) { s.m_port_a_re = true; }, "port_a_re must be false!"},
        {[](SHREG_LAYOUT& s) { s.m_port_b_we = true; }, "port_b_we must be false!"},
        {[](SHREG_LAYOUT& s) { s.m_port_b_registered = false; }, "port b is not clocked and needs to be"},
        {[](SHREG_LAYOUT& s) { s.m_port_a_registered = true; }, "port a address is clocked and shouldn't be"},
    };
    for (const CASE& c : cases) {
        SHREG_LAYOUT s = layout(7);
        c.change(s);
        SHREG_RUN run({s});
        MORV_LOG_CAPTURE log(100);
        EXPECT_EQ(run.id("s_ram0"), 0) << c.text;
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(count_lines(lines, c.text), 1) << c.text;
        EXPECT_EQ(count_lines(lines, "ABORTED!"), 1) << c.text;
    }
    // The same design without a change passes every rule.
    SHREG_RUN run({layout(7)});
    EXPECT_GT(run.id("s_ram0"), 0);
    // An address bit tied to a constant is no counter bit.
    CDB_ATOM_ITERM* bit = run.node("s_ram0")->get_input_term_by_type(DB_RAM_PORTB_ADDRESS, 2);
    bit->disconnect_from_source(CDB_NET_ITERM::CONNECT_GND);
    run.manager().initialize();
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(run.id("s_ram0"), 0);
    EXPECT_EQ(count_lines(log.lines(), "address bits must all come from the counter"), 1);
}

// Register clears act at logical 0: one tied to VCC never acts and is
// ignored; one tied to GND holds its register, so no counter counts.
TEST(ShiftRegManager, AVccTiedRegisterClearIsIgnoredAndAGndTiedOneRefuses)
{
    SHREG_LAYOUT vcc = layout(7);
    vcc.m_register_clear = "vcc";
    SHREG_LAYOUT gnd = layout(7);
    gnd.m_name = shreg_text("g");
    gnd.m_register_clear = "gnd";
    SHREG_RUN run({vcc, gnd});
    EXPECT_GT(run.id("s_ram0"), 0);
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(run.id("g_ram0"), 0);
    EXPECT_EQ(count_lines(log.lines(), "ABORTED!"), 1);
}

// Two RAMs addressed by one counter are one shift register: the same id,
// and one reduction shortens both.
TEST(ShiftRegManager, RamsSharingACounterAreOneShiftRegisterReducedTogether)
{
    SHREG_LAYOUT s = layout(7);
    s.m_rams = 2;
    SHREG_RUN run({s});
    const int id = run.id("s_ram0");
    EXPECT_GT(id, 0);
    EXPECT_EQ(run.id("s_ram1"), id);
    EXPECT_TRUE(run.reduce("s_ram1", true));
    const SEQ_VERDICT v = run.check("shreg_two_rams");
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

// Lengths 4 (converted to registers) and 5, 7, 10 (counter rebuilt), on
// each side, once and twice; every result is the design as generated. With
// offset 0 the RAM reads the slot being written and returns the old word:
// its data comes two cycles later than the length says, and a length-4 RAM
// becomes six registers.
TEST(ShiftRegManager, ReductionsOnBothSidesKeepTheDesign)
{
    struct CASE
    {
        int length;
        int offset;
    };
    for (const CASE c : {CASE{4, 2}, CASE{5, 2}, CASE{7, 2}, CASE{10, 2}, CASE{4, 0}, CASE{7, 0}})
        for (bool on_output : {false, true}) {
            const int length = c.length;
            const std::string tag =
                shreg_text("shreg_", length, c.offset == 0 ? "_at0" : "", on_output ? "_out" : "_in");
            SHREG_LAYOUT s = layout(length, c.offset);
            s.m_read_old_data = c.offset == 0;
            SHREG_RUN run({s});
            ASSERT_GT(run.id("s_ram0"), 0) << tag;
            MORV_LOG_CAPTURE log(100);
            EXPECT_TRUE(run.reduce("s_ram0", on_output)) << tag;
            const std::vector<std::string> lines = log.lines();
            if (length > 4) {
                EXPECT_EQ(count_lines(lines, "reduction: ok"), 1) << tag;
                EXPECT_EQ(last_line(lines, "new shift register length"),
                          shreg_text("new shift register length = ", length - 1))
                    << tag;
                EXPECT_EQ(last_line(lines, "offset="), shreg_text("offset=", c.offset, " is ok")) << tag;
            } else {
                EXPECT_EQ(count_lines(lines, "converting fully to shift register"), 1) << tag;
            }
            // The RAM's delay in registers for the converted RAM, else the
            // new stage (the copies of the address registers are named as
            // duplicates).
            EXPECT_EQ(run.new_registers(), length == 4 ? length + 2 - c.offset : 1) << tag;
            SEQ_VERDICT v = run.check(tag);
            EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
            if (length == 4) continue;
            // Shortened again from the new counter.
            ASSERT_GT(run.id("s_ram0"), 0) << tag;
            EXPECT_TRUE(run.reduce("s_ram0", !on_output)) << tag;
            v = run.check(shreg_text(tag, "_twice"));
            EXPECT_TRUE(v.equivalent()) << tag << " twice: " << v.describe();
        }
}

// A constant write-data bit keeps its value in the register that takes the
// stage: a GND tie stays 0 and a VCC tie 1, read through the inversion bit
// or not.
TEST(ShiftRegManager, ConstantWriteDataKeepsItsValue)
{
    for (const char* data : {"gnd", "vcc", "!gnd", "!vcc", "!d"})
        for (int length : {4, 7}) {
            SHREG_LAYOUT s = layout(length);
            s.m_data = data;
            const std::string tag =
                shreg_text("shreg_data_", data[0] == '!' ? "not_" : "", data[0] == '!' ? data + 1 : data, "_", length);
            SHREG_RUN run({s});
            ASSERT_GT(run.id("s_ram0"), 0) << tag;
            EXPECT_TRUE(run.reduce("s_ram0", false)) << tag;
            const SEQ_VERDICT v = run.check(tag);
            EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
        }
}

// A counter bit the design also reads elsewhere: a rebuilt counter would
// change what that reader sees, so the reduction is refused and nothing is
// deleted; a full conversion leaves the counter as it is.
TEST(ShiftRegManager, ACounterReadOutsideIsNotRebuiltNorDeleted)
{
    for (int length : {4, 7}) {
        SHREG_LAYOUT s = layout(length);
        s.m_outside_bit = true;
        SHREG_RUN run({s});
        ASSERT_GT(run.id("s_ram0"), 0);
        const size_t before = run.netlist().get_node_count();
        EXPECT_EQ(run.reduce("s_ram0", true), length == 4);
        if (length == 7) {
            EXPECT_EQ(run.netlist().get_node_count(), before);
        }
        const SEQ_VERDICT v = run.check(shreg_text("shreg_outside_", length));
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

// Union by rank: a group of two RAMs outranks a RAM's group of one on
// either side of a merge, and the merged group keeps its id. Three RAMs
// on one counter; and t_ram1, moved to write on s's counter, still reads
// on t's, whose own RAM t_ram0 so joins s's group. The two counters run
// alike, so the five RAMs are one shift register.
TEST(ShiftRegManager, GroupsOfUnequalRankKeepTheHigherRanksId)
{
    SHREG_LAYOUT s = layout(7);
    s.m_rams = 3;
    SHREG_LAYOUT t = layout(7);
    t.m_name = shreg_text("t");
    t.m_rams = 2;
    for (bool rewired : {false, true}) {
        SCOPED_TRACE(rewired);
        SHREG_RUN run({s, t});
        if (rewired) {
            for (int k = 0; k < 3; ++k) {
                CDB_ATOM_ITERM* write = run.node("t_ram1")->get_input_term_by_type(DB_RAM_PORTA_ADDRESS, k);
                write->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                run.node("s_ram0")->get_input_term_by_type(DB_RAM_PORTA_ADDRESS, k)->get_source()->insert_fanout(write);
            }
            run.manager().initialize();
        }
        // Ids in netlist order: s's RAMs 1 to 3, t's 4 and 5.
        for (const char* ram : {"s_ram0", "s_ram1", "s_ram2"}) EXPECT_EQ(run.id(ram), 1) << ram;
        for (const char* ram : {"t_ram0", "t_ram1"}) EXPECT_EQ(run.id(ram), rewired ? 1 : 4) << ram;
        if (!rewired) continue;
        // The five RAMs are one shift register: one reduction shortens all
        // of them.
        MORV_LOG_CAPTURE log(100);
        EXPECT_TRUE(run.reduce("t_ram0", true));
        EXPECT_EQ(last_line(log.lines(), "new shift register length"), "new shift register length = 6");
        const SEQ_VERDICT v = run.check("shreg_rank_merge");
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

// A cell in extended mode (its seventh input used) in a RAM's address
// logic ends the walk there: the RAM is no shift register, and no
// evaluation is tried.
TEST(ShiftRegManager, AnExtendedModeCellEndsTheWalk)
{
    SHREG_RUN run({layout(7)});
    ASSERT_GT(run.id("s_ram0"), 0);
    run.node("s_c0")->get_output_term_by_type(DB_REG_OUT)->insert_fanout(run.node("s_r0")->add_input_term(DB_DATA_G));
    run.manager().initialize();
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(run.id("s_ram0"), 0);
    EXPECT_EQ(last_line(log.lines(), "Evaluating shift register"), "");
}

// A RAM merged into a valid group whose own counter walk then fails takes
// the whole group with it: its simulation would read a pin.
TEST(ShiftRegManager, AGroupWithARamWhoseWalkFailedIsNoShiftRegister)
{
    SHREG_RUN run({layout(7)});
    CDB_ATOM_NETLIST& netlist = run.netlist();
    CDB_ATOM_NODE* ram0 = run.node("s_ram0");
    // A second RAM on the same write counter, reading through a cell that
    // also reads an input pin.
    CDB_ATOM_NODE* ram1 =
        cdb_create_atom(CDB_FAMILY_OBRAN, CDB_KIND_RAM, netlist.get_name_mgr()->create_unique_name("x_ram", 0));
    netlist.add_node(ram1);
    CDB_ATOM_NODE* pin =
        cdb_create_atom(CDB_FAMILY_OBRAN, CDB_KIND_IO, netlist.get_name_mgr()->create_unique_name("x_in", 0));
    netlist.add_node(pin);
    CDB_ATOM_OTERM* pin_out = pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    CDB_ATOM_NODE* cell =
        cdb_create_atom(CDB_FAMILY_OBRAN, CDB_KIND_LCELL_COMB, netlist.get_name_mgr()->create_unique_name("x_lut", 0));
    netlist.add_node(cell);
    for (int k = 0; k < 3; ++k) {
        CDB_ATOM_ITERM* a = ram0->get_input_term_by_type(DB_RAM_PORTA_ADDRESS, k);
        a->get_source()->insert_fanout(ram1->add_input_term(DB_RAM_PORTA_ADDRESS, k));
    }
    run.node("s_c0")->get_output_term_by_type(DB_REG_OUT)->insert_fanout(cell->add_input_term(DB_DATA_A));
    pin_out->insert_fanout(cell->add_input_term(DB_DATA_B));
    cell->set_lutmask(CDB_LUTMASK(6, 0x8888888888888888ull));
    cell->add_output_term(DB_COMB_OUT, cell->get_instance_name())
        ->insert_fanout(ram1->add_input_term(DB_RAM_PORTB_ADDRESS, 0));
    run.manager().initialize();
    EXPECT_EQ(run.id("s_ram0"), 0);
    EXPECT_EQ(run.manager().is_node_shift_register(ram1), 0);
}

// The grouping is that of its initialize: a register added since (here a
// copy of a counter register that a read-address cell now reads) is
// outside the working set, and the simulation could not start it. The
// group is then no shift register, quietly and for good, until the next
// grouping takes the copy in.
TEST(ShiftRegManager, ACounterReadingFromOutsideItsWorkingSetIsNoShiftRegister)
{
    SHREG_RUN run({layout(7)});
    CDB_ATOM_NETLIST& netlist = run.netlist();
    CDB_ATOM_NODE* original = run.node("s_c0");
    CDB_ATOM_NODE* copy =
        cdb_create_atom(CDB_FAMILY_OBRAN, CDB_KIND_REGISTER, netlist.get_name_mgr()->create_unique_name("x_c0", 0));
    netlist.add_node(copy);
    original->get_input_term_by_type(DB_DATAIN)->get_source()->insert_fanout(copy->add_input_term(DB_DATAIN));
    original->get_input_term_by_type(DB_CLOCK)->get_source()->insert_fanout(copy->add_input_term(DB_CLOCK));
    CDB_ATOM_OTERM* copy_out = copy->add_output_term(DB_REG_OUT, copy->get_instance_name());
    CDB_ATOM_ITERM* read = run.node("s_r0")->get_input_term_by_type(DB_DATA_A);
    ASSERT_EQ(read->get_source()->get_my_node(), original);
    read->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    copy_out->insert_fanout(read);
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(run.id("s_ram0"), 0);
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(last_line(lines, "SHIFT REGISTER OF LENGTH"), "SHIFT REGISTER OF LENGTH 0");
    EXPECT_EQ(count_lines(lines, "ABORTED!"), 1);
    const std::string reads = shreg_text(static_cast<int>(run.node("s_r0")->get_id()), " reads ",
                                         static_cast<int>(copy->get_id()), " from outside the set");
    EXPECT_GT(count_lines(lines, reads), 0);
    MORV_LOG_CAPTURE again(100);
    EXPECT_EQ(run.id("s_ram0"), 0);
    EXPECT_EQ(again.lines().size(), 0u);
    // Grouped again, the copy belongs to the counter, which counts as before.
    run.manager().initialize();
    EXPECT_GT(run.id("s_ram0"), 0);
}

// Deletions: after them no RAM is a shift register until the grouping is
// made again; a node someone else deleted is skipped; nodes still queued
// when the manager goes are an internal error, which the facade reports.
TEST(ShiftRegManager, QueuedNodesGoOnceAndMustNotOutliveTheManager)
{
    SHREG_RUN run({layout(7)});
    CDB_ATOM_NODE* ram = run.node("s_ram0");
    const size_t before = run.netlist().get_node_count();
    EXPECT_TRUE(run.manager().reduce_shift_register(ram, true));
    EXPECT_GT(run.manager().remove_queued_nodes(), 0);
    EXPECT_EQ(run.manager().is_node_shift_register(ram), 0);
    EXPECT_EQ(run.manager().remove_queued_nodes(), 0);
    run.manager().initialize();
    EXPECT_GT(run.manager().is_node_shift_register(ram), 0);
    EXPECT_LE(run.netlist().get_node_count(), before + 40);
    const std::string error = internal_error_of([&] {
        {
            MORV_SHIFT_REG_MANAGER manager(run.api());
            manager.initialize();
            manager.script_reduction({ram->get_id()});
            manager.reduce_shift_register(ram, true);
        }
        run.api()->report_deferred_internal_error();
    });
    EXPECT_EQ(error, "!m_nodes_to_remove.size()");
}

// A clear phase: the write address steps with the RAM's output clear on,
// then the cycle. Registers in place of the RAM would pass on the data of
// the clear phase, and a clear counter the rebuild does not know (here a
// cell of several counter bits) cannot be rebuilt: both leave the group whole.
TEST(ShiftRegManager, ClearPhaseGroups)
{
    for (int phase : {3, 5}) {
        SHREG_LAYOUT s = layout(0);
        s.m_clear_phase = phase;
        SHREG_RUN run({s});
        ASSERT_GT(run.id("s_ram0"), 0);
        const size_t before = run.netlist().get_node_count();
        const bool reduced = run.reduce("s_ram0", false);
        const SEQ_VERDICT v = run.check(shreg_text("shreg_phase_", phase));
        EXPECT_TRUE(v.equivalent()) << phase << ": " << v.describe();
        EXPECT_FALSE(reduced) << phase;
        EXPECT_EQ(run.netlist().get_node_count(), before) << phase;
    }
}

// A clear phase timed by a carry-chain counter of its own: the rebuild
// starts that counter where the shorter phase needs it (the registers of
// the bits where L - 2 and L - 3 differ start from the other value); at
// length 4 the RAM becomes registers, as its addresses run through the
// cycle from power-up. Every result, reduced on either side, once and
// twice, is the design as generated.
TEST(ShiftRegManager, AClearCounterGroupIsRebuiltWithItsClearPhase)
{
    struct CASE
    {
        int length;
        int toggled;  // clear counter bits where L - 2 and L - 3 differ
    };
    for (const CASE c : {CASE{4, 0}, CASE{5, 1}, CASE{7, 1}, CASE{10, 4}})
        for (bool on_output : {false, true}) {
            const std::string tag = shreg_text("shreg_clear_counter_", c.length, on_output ? "_out" : "_in");
            SHREG_LAYOUT s = layout(c.length);
            s.m_clear_counter = true;
            SHREG_RUN run({s});
            ASSERT_GT(run.id("s_ram0"), 0) << tag;
            MORV_LOG_CAPTURE log(100);
            EXPECT_TRUE(run.reduce("s_ram0", on_output)) << tag;
            std::vector<std::string> lines = log.lines();
            if (c.length == 4) {
                EXPECT_EQ(count_lines(lines, "converting fully to shift register"), 1) << tag;
            } else {
                EXPECT_EQ(count_lines(lines, "reduction: ok"), 1) << tag;
                EXPECT_EQ(last_line(lines, "new shift register length"),
                          shreg_text("new shift register length = ", c.length - 1))
                    << tag;
            }
            const int toggled = static_cast<int>(std::count_if(
                lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("toggling clear[", 0) == 0; }));
            EXPECT_EQ(toggled, c.toggled) << tag;
            SEQ_VERDICT v = run.check(tag);
            EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
            if (c.length == 4) continue;
            // Again from the rebuilt counters (from length 5, into registers).
            ASSERT_GT(run.id("s_ram0"), 0) << tag;
            EXPECT_TRUE(run.reduce("s_ram0", !on_output)) << tag;
            v = run.check(shreg_text(tag, "_twice"));
            EXPECT_TRUE(v.equivalent()) << tag << " twice: " << v.describe();
        }
}

// The sample design morv-fit reads is the generator's own; every shift
// register in it is measured as generated.
TEST(ShiftRegManager, SampleDesignIsTheGeneratorsOwn)
{
    const std::vector<SHREG_LAYOUT> layouts = shreg_sample_layouts();
    const std::string text = shreg_native_text(*shreg_generate(layouts));
    const std::string path = shreg_text(MORV_SOURCE_DIR, "/designs/shift_ram_obran.txt");
    EXPECT_TRUE(sample_design_is_current(path, text));
    SHREG_RUN run(layouts);
    for (const SHREG_LAYOUT& s : layouts) EXPECT_GT(run.id(shreg_text(s.m_name, "_ram0")), 0) << s.m_name;
    EXPECT_EQ(run.id("m2_ram1"), run.id("m2_ram0"));
}

// A clear phase must be followed by a cycle one state longer, and the logic
// that drives the RAM clear may feed nothing but the shift register.
TEST(ShiftRegManager, AClearPhaseNeedsItsCycleAndAPrivateClear)
{
    SHREG_LAYOUT cycle = layout(0);
    cycle.m_clear_phase = 3;
    cycle.m_cycle = 5;
    SHREG_LAYOUT shared = layout(0);
    shared.m_name = shreg_text("c");
    shared.m_clear_phase = 3;
    SHREG_RUN run({cycle, shared});
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(run.id("s_ram0"), 0);
    EXPECT_EQ(count_lines(log.lines(), "Clear behaviour is not correct."), 1);
    // The phase flag drives the clear; an output pin reads it as well.
    CDB_ATOM_NODE* pin = cdb_create_output_pin(
        CDB_FAMILY_OBRAN,
        run.netlist().get_name_mgr()->create_unique_name(shreg_text("c_p_seen", BLIF_OUTPUT_PIN_SUFFIX), 0));
    run.netlist().add_node(pin);
    run.node("c_p")->get_output_term_by_type(DB_REG_OUT)->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
    run.manager().initialize();
    EXPECT_EQ(run.id("c_ram0"), 0);
    EXPECT_EQ(count_lines(log.lines(), "clear outputs to non-working set nodes"), 1);
}

// Every register of the counter runs on the RAM's clock: the same net read
// inverted is another clock.
TEST(ShiftRegManager, ACounterRegisterOnTheInvertedClockRefuses)
{
    SHREG_RUN run({layout(7)});
    run.node("s_c1")->get_input_term_by_type(DB_CLOCK)->set_invert();
    run.manager().initialize();
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(run.id("s_ram0"), 0);
    EXPECT_EQ(count_lines(log.lines(), "INCOMPATIBLE CLOCK SIGNAL"), 1);
}

// A RAM that returns the word written in the same cycle, read at the slot
// being written, delays by two cycles whatever the counter's length: neither
// registers nor a shorter counter would keep the design. Offset 0 reads
// there, and so does a counter that never moves (length 1, where offset 2
// holds as well). Two RAMs of one group that read that slot differently
// have no one delay either.
TEST(ShiftRegManager, AnOffsetZeroShiftRegisterIsMeasuredButNotReduced)
{
    struct CASE
    {
        int length;
        int offset;
    };
    for (const CASE c : {CASE{4, 0}, CASE{7, 0}, CASE{1, 2}}) {
        SHREG_RUN run({layout(c.length, c.offset)});
        ASSERT_GT(run.id("s_ram0"), 0);
        const size_t before = run.netlist().get_node_count();
        MORV_LOG_CAPTURE log(100);
        EXPECT_FALSE(run.reduce("s_ram0", true));
        EXPECT_EQ(count_lines(log.lines(), shreg_text("offset=", c.offset, ", read delay 2, not reduced")), 1)
            << c.length;
        EXPECT_EQ(run.netlist().get_node_count(), before);
        const SEQ_VERDICT v = run.check(shreg_text("shreg_offset", c.offset, "_", c.length));
        EXPECT_TRUE(v.equivalent()) << c.length << ": " << v.describe();
    }
    SHREG_LAYOUT mixed = layout(7, 0);
    mixed.m_rams = 2;
    mixed.m_read_old_data = true;
    SHREG_RUN run({mixed});
    CUT_RAM_UTIL::clear_ram_mode(run.node("s_ram1"), 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_READ_OLD_DATA});
    ASSERT_GT(run.id("s_ram0"), 0);
    const size_t before = run.netlist().get_node_count();
    MORV_LOG_CAPTURE log(100);
    EXPECT_FALSE(run.reduce("s_ram0", true));
    EXPECT_EQ(count_lines(log.lines(), "offset=0, read delay 0, not reduced"), 1);
    EXPECT_EQ(run.netlist().get_node_count(), before);
}

}  // namespace shreg_manager_test
