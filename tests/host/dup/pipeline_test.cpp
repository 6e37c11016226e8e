// Per-instance pipelining: the registers a user asks for behind a register,
// clocked and controlled like it, on its location, with its fanouts moved to
// the end of the chain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dup_test_run.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_options.h"

#include "morv/core/morv_setting_ids.h"
#include "morv/dup/morv_pipeline.h"

namespace pipeline_test {

namespace {

// r: data a, clock clk, clear clr, enable en; it drives two outputs.
FIXTURE_NETLIST assigned_register(bool with_clear = true)
{
    FIXTURE_NETLIST f(CDB_FAMILY_OBRAN);
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* en = f.input("en");
    CDB_ATOM_OTERM* clr = with_clear ? f.input("clr") : nullptr;
    CDB_ATOM_OTERM* r = f.reg("r", a, clk, en, clr);
    f.output("o1", r);
    f.output("o2", r, true);
    return f;
}

class PIPELINE_TEST : public ::testing::Test
{
protected:
    void ask(DUP_RUN& run, const char* name, int registers)
    {
        HDB_OPTION_SET& options =
            run.env().design().action_point().edit_instance_options(run.find(name)->get_instance_name());
        options.set_string(MORV_SETTING_PIPELINE_REGISTERS, std::to_string(registers));
    }
    int pipeline(DUP_RUN& run)
    {
        MORV_PARAMETER_MAP params;
        MORV_PIPELINE algorithm(run.api(), &params);
        return algorithm.do_iter();
    }
    // The registers following r through their data inputs, in chain order.
    std::vector<CDB_ATOM_NODE*> chain_after(CDB_ATOM_NODE* reg)
    {
        std::vector<CDB_ATOM_NODE*> chain;
        for (;;) {
            CDB_ATOM_OTERM* out = reg->get_output_term_by_type(DB_REG_OUT);
            CDB_ATOM_NODE* next = nullptr;
            for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
                if ((*it)->is_used_as(DB_DATAIN) && (*it)->get_my_node()->is_ff()) next = (*it)->get_my_node();
            if (next == nullptr) return chain;
            chain.push_back(next);
            reg = next;
        }
    }
};

}  // namespace

TEST_F(PIPELINE_TEST, ThreeRegistersOnTheLocationWithTheFanoutsAtTheEnd)
{
    FIXTURE_NETLIST f = assigned_register();
    DUP_RUN run(f);
    CDB_ATOM_NODE* r = run.find("r");
    run.place(r, 2, 3);
    run.place_rest(1, 1);
    ask(run, "r", 3);
    EXPECT_EQ(pipeline(run), 3);

    const std::vector<CDB_ATOM_NODE*> chain = chain_after(r);
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(r->get_output_term_by_type(DB_REG_OUT)->get_number_of_fanout(), 1);
    for (CDB_ATOM_NODE* reg : chain) {
        EXPECT_NE(reg->get_instance_name()->get_short_hpath().find("_pipeline"), std::string::npos);
        EXPECT_EQ(reg->get_mode(), DEV_PHYS_IMPL_REGISTER_MODE);
        const MORV_LOC at = run.location_of(reg);
        EXPECT_EQ(at.x, 2);
        EXPECT_EQ(at.y, 3);
        for (int port : {DB_CLOCK, DB_CLEAR, DB_CLOCK_ENABLE})
            EXPECT_EQ(reg->get_input_term_by_type(port)->get_source(), r->get_input_term_by_type(port)->get_source());
    }
    CDB_ATOM_OTERM* last = chain.back()->get_output_term_by_type(DB_REG_OUT);
    EXPECT_EQ(last->get_number_of_fanout(), 2);
    for (auto it = last->begin_iterm_fanout(); it != last->end_iterm_fanout(); ++it)
        EXPECT_TRUE((*it)->get_my_node()->is_pin());
    // The new registers carry no option: a second walk would only find r again.
    EXPECT_EQ(run.netlist().get_node_count(), 7u + 3u);
}

TEST_F(PIPELINE_TEST, ControlsKeepInversionGlobalAndAbsence)
{
    FIXTURE_NETLIST f = assigned_register(false);
    DUP_RUN run(f);
    CDB_ATOM_NODE* r = run.find("r");
    run.place_rest(1, 1);
    CDB_ATOM_ITERM* clock = r->get_input_term_by_type(DB_CLOCK);
    clock->set_invert();
    clock->set_global(2);
    ask(run, "r", 2);
    EXPECT_EQ(pipeline(run), 2);
    const std::vector<CDB_ATOM_NODE*> chain = chain_after(r);
    ASSERT_EQ(chain.size(), 2u);
    for (CDB_ATOM_NODE* reg : chain) {
        EXPECT_TRUE(reg->get_input_term_by_type(DB_CLOCK)->is_inverted());
        EXPECT_EQ(reg->get_input_term_by_type(DB_CLOCK)->get_global(), 2);
        EXPECT_FALSE(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->is_inverted());
        // Made, but left as unconnected as r's.
        ASSERT_NE(reg->get_input_term_by_type(DB_CLEAR), nullptr);
        EXPECT_FALSE(reg->get_input_term_by_type(DB_CLEAR)->is_connected());
    }
}

// A tied control has no driver to connect to: the tie is what is copied.
TEST_F(PIPELINE_TEST, ConstantControlsAreTiedTheSameWay)
{
    FIXTURE_NETLIST f = assigned_register();
    DUP_RUN run(f);
    CDB_ATOM_NODE* r = run.find("r");
    run.place_rest(1, 1);
    r->get_input_term_by_type(DB_CLOCK_ENABLE)->set_vcc();
    CDB_ATOM_ITERM* clear = r->get_input_term_by_type(DB_CLEAR);
    clear->set_gnd();
    clear->set_invert();
    ask(run, "r", 2);
    EXPECT_EQ(pipeline(run), 2);
    for (CDB_ATOM_NODE* reg : chain_after(r)) {
        EXPECT_TRUE(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->is_vcc());
        EXPECT_FALSE(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->is_inverted());
        EXPECT_TRUE(reg->get_input_term_by_type(DB_CLEAR)->is_gnd());
        EXPECT_TRUE(reg->get_input_term_by_type(DB_CLEAR)->is_inverted());
        EXPECT_EQ(reg->get_input_term_by_type(DB_CLEAR)->is_logical_gnd(), clear->is_logical_gnd());
    }
}

TEST_F(PIPELINE_TEST, OnlyAssignedChangeableRegistersOfTheRegisterMode)
{
    FIXTURE_NETLIST f(CDB_FAMILY_OBRAN);
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* clk = f.input("clk");
    for (const char* name : {"kept", "other_mode", "zero", "negative", "unasked"}) f.output(name, f.reg(name, a, clk));
    DUP_RUN run(f);
    run.place_rest(1, 1);
    CDB_ATOM_NODE* kept = run.find("kept");
    CDB_ATOM_ASSIGNMENTS assignments = kept->get_assignments();
    assignments.dont_touch = true;
    kept->set_assignments(assignments);
    run.find("other_mode")->set_mode(0);
    ask(run, "kept", 2);
    ask(run, "other_mode", 2);
    ask(run, "zero", 0);
    ask(run, "negative", -1);
    const size_t before = run.netlist().get_node_count();
    EXPECT_EQ(pipeline(run), 0);
    EXPECT_EQ(run.netlist().get_node_count(), before);
}

// Before placement nothing has a location: the registers are added unplaced,
// and a register without the option is no reason to stop.
TEST_F(PIPELINE_TEST, AnUnplacedRegisterGetsAnUnplacedChain)
{
    FIXTURE_NETLIST f = assigned_register();
    f.output("o3", f.reg("unplaced", f.input("b"), f.input("clk2")));
    DUP_RUN run(f);
    CDB_ATOM_NODE* r = run.find("r");
    ask(run, "r", 2);
    EXPECT_EQ(pipeline(run), 2);
    const std::vector<CDB_ATOM_NODE*> chain = chain_after(r);
    ASSERT_EQ(chain.size(), 2u);
    MORV_LOC at;
    for (CDB_ATOM_NODE* reg : chain)
        EXPECT_FALSE(run.api()->get_fsyn_chip_map()->get_node_location(static_cast<int>(reg->get_id()), &at));
}

TEST_F(PIPELINE_TEST, TheEarlyFlowHasNoChipMap)
{
    FIXTURE_NETLIST f = assigned_register();
    DUP_RUN run(f, FIT_EARLY_FSYN_FLOW);
    ask(run, "r", 1);
    EXPECT_EQ(pipeline(run), 1);
    EXPECT_EQ(chain_after(run.find("r")).size(), 1u);
}

}  // namespace pipeline_test
