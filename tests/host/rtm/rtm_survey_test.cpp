// Many registers on one cell: their backward moves read the cell's fanouts
// once between commits, not once per register, and end as the walk per
// register ends (the engine with its survey off); a register moved across
// each of its fanouts in turn is bypassed without a walk over its fanouts.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "fixture_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_writer.h"
#include "rtm_test_run.h"
#include "seq_harness.h"

namespace rtm_survey_test {

namespace {

// One move phase, every cell critical; the queues before the demuxer and
// the splitter empty them.
struct PHASE
{
    int moves = 0;
    std::set<int> demux, split;
};

PHASE move_all(RTM_RUN& run, const std::vector<std::string>& names, int skew)
{
    MORV_RTM& rtm = run.rtm();
    rtm.clear_iteration_state();
    for (CDB_ATOM_NODE* node : run.netlist())
        if (node->is_lcell_comb()) rtm.critical_nodes().insert(static_cast<int>(node->get_id()));
    MORV_RTM_REG_LIST list;
    for (const std::string& name : names) rtm.add_candidate(&list, run.find(name), skew, true);
    PHASE phase;
    phase.moves = rtm.retime_registers(&list);
    phase.demux = rtm.nodes_to_demux();
    phase.split = rtm.nodes_to_split();
    rtm.run_demux_and_split();
    return phase;
}

int reasons(RTM_RUN& run, int reason)
{
    return run.rtm().get_outcome_counts().at(static_cast<size_t>(reason));
}

std::set<int> ids(RTM_RUN& run, const char* name)
{
    return {static_cast<int>(run.find(name)->get_id())};
}

// BLIF with each name replaced by the order of its first appearance: new
// cells are numbered by a counter of the process, not of the run.
std::string shape_of(CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream blif;
    blif_write_netlist(netlist, blif);
    std::istringstream tokens(blif.str());
    std::map<std::string, int> names;
    std::string shape;
    for (std::string token; tokens >> token;) {
        const bool row = token.find_first_not_of("01-") == std::string::npos;
        shape += token[0] == '.' || row ? token : rtm_name("s", names.emplace(token, names.size()).first->second);
        shape += ' ';
    }
    return shape;
}

// n = a & b loads `count` registers, each cleared by its own input.
std::unique_ptr<CDB_ATOM_NETLIST> own_clears(int count, std::vector<std::string>* names)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* n = f.lut("n", {f.input("a"), f.input("b")}, 0x8);
    for (int k = 0; k < count; ++k) {
        names->push_back(rtm_name("q", k));
        f.output(rtm_name("o", k), f.reg(names->back(), n, clk, nullptr, f.input(rtm_name("c", k))));
    }
    return f.release();
}

TEST(RtmFanoutSurvey, RegistersOfOneCellReadItsFanoutsOnce)
{
    for (int count : {12, 48}) {
        for (bool survey : {true, false}) {
            SCOPED_TRACE(std::to_string(count) + (survey ? " surveyed" : " walked"));
            std::vector<std::string> names;
            RTM_RUN run(own_clears(count, &names));
            run.rtm().set_survey_fanouts(survey);
            const std::string before = shape_of(run.netlist());
            const PHASE phase = move_all(run, names, 100);
            EXPECT_EQ(phase.moves, 0);
            EXPECT_EQ(run.rtm().get_fanouts_examined(), survey ? count : count * count);
            EXPECT_EQ(reasons(run, MORV_RTM_REG_INCOMPATIBLE_SIGNALS), count);
            EXPECT_EQ(phase.split, ids(run, "n"));
            EXPECT_TRUE(phase.demux.empty());
            // The splitter leaves a cell with more than four fanouts alone.
            EXPECT_EQ(shape_of(run.netlist()), before);
        }
    }
}

// n's fanouts in order: rA (clear c1), rE (loads its synchronous data: it
// cannot move), rB (clear c2), an output, rC (clear c1, loads n inverted:
// a power-up value against rA's) and rD (clear c1). A move fails with the
// reason of the last fanout that fails for it: rC's for rA, rC and rD,
// rD's (another clear) for rB.
std::unique_ptr<CDB_ATOM_NETLIST> build_mixed()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* c1 = f.input("c1");
    CDB_ATOM_OTERM* n = f.lut("n", {f.input("a"), f.input("b")}, 0x6);
    f.output("oa", f.reg("rA", n, clk, nullptr, c1));
    CDB_ATOM_OTERM* e = f.reg("rE", n, clk);
    FIXTURE_NETLIST::tie(e->get_my_node()->add_input_term(DB_SYNCH_LOAD), true);
    f.input("d")->insert_fanout(e->get_my_node()->add_input_term(DB_SYNCH_DATA));
    f.output("oe", e);
    f.output("ob", f.reg("rB", n, clk, nullptr, f.input("c2")));
    f.output("on", n);
    CDB_ATOM_OTERM* c = f.reg("rC", n, clk, nullptr, c1);
    c->get_my_node()->get_input_term_by_type(DB_DATAIN)->set_invert(true);
    f.output("oc", c);
    f.output("od", f.reg("rD", n, clk, nullptr, c1));
    return f.release();
}

TEST(RtmFanoutSurvey, MoveFailsWithTheLastFanoutThatFailsForIt)
{
    for (bool survey : {true, false}) {
        SCOPED_TRACE(survey ? "surveyed" : "walked");
        RTM_RUN run(build_mixed());
        run.rtm().set_survey_fanouts(survey);
        const PHASE phase = move_all(run, {"rA", "rB", "rC", "rD"}, 100);
        EXPECT_EQ(phase.moves, 0);
        EXPECT_EQ(reasons(run, MORV_RTM_BAD_IC), 3);
        EXPECT_EQ(reasons(run, MORV_RTM_REG_INCOMPATIBLE_SIGNALS), 1);
        EXPECT_EQ(run.rtm().get_fanouts_examined(), survey ? 6 : 24);
        EXPECT_EQ(phase.demux, ids(run, "rE"));
        EXPECT_EQ(phase.split, ids(run, "n"));
    }
}

// Commits change what a survey read: the moves that go ahead are planned
// by the walk, and the registers after them meet the netlist they left.
TEST(RtmFanoutSurvey, GeneratedDesignsEndAlikeSurveyedOrWalked)
{
    for (bool chains : {false, true}) {
        for (uint64_t seed = 1; seed <= 8; ++seed) {
            SCOPED_TRACE(std::to_string(seed) + (chains ? " chains" : ""));
            SEQ_GEN_OPTIONS options;
            options.m_cells = 10;
            options.m_registers = 24;
            options.m_chains = chains;
            std::string shape[2];
            std::vector<int> outcomes[2];
            for (int survey = 0; survey < 2; ++survey) {
                RTM_RUN run(options, seed);
                run.rtm().set_survey_fanouts(survey == 1);
                std::vector<std::string> names;
                for (CDB_ATOM_NODE* node : run.netlist())
                    if (node->is_lcell_ff()) names.emplace_back(node->get_instance_name()->get_short_hpath());
                for (int skew : {100, -100, 100, 100}) move_all(run, names, skew);
                shape[survey] = shape_of(run.netlist());
                outcomes[survey] = run.rtm().get_outcome_counts();
                if (survey == 0) continue;
                const SEQ_VERDICT verdict = seq_check(*seq_generate(options, seed), run.netlist(), "rtm_survey", true);
                EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
            }
            EXPECT_EQ(shape[1], shape[0]);
            EXPECT_EQ(outcomes[1], outcomes[0]);
        }
    }
}

// r loads `count` cells t_k = r ^ q_k, each into its own register q_k.
std::unique_ptr<CDB_ATOM_NETLIST> toggles(int count)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* r = f.reg("r", f.input("a"), clk);
    for (int k = 0; k < count; ++k) {
        CDB_ATOM_OTERM* q = f.reg(rtm_name("q", k), f.input(rtm_name("i", k)), clk);
        CDB_ATOM_ITERM* datain = q->get_my_node()->get_input_term_by_type(DB_DATAIN);
        datain->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        f.lut(rtm_name("t", k), {r, q}, 0x6)->insert_fanout(datain);
        f.output(rtm_name("o", k), q);
    }
    return f.release();
}

TEST(RtmFanoutSurvey, RegisterMovedAcrossEachFanoutIsBypassedOnOneTermEachTime)
{
    for (int count : {8, 32}) {
        SCOPED_TRACE(count);
        RTM_RUN run(toggles(count));
        EXPECT_EQ(move_all(run, {"r"}, -100).moves, count);
        // Each move takes r and q_k off one term of t_k.
        EXPECT_EQ(run.rtm().get_fanouts_examined(), 2 * count);
        const SEQ_VERDICT verdict = seq_check(*toggles(count), run.netlist(), "rtm_survey_toggles", true);
        EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
    }
}

}  // namespace

}  // namespace rtm_survey_test
