// What the skew-driven engine reads when many registers share one cell:
// the backward moves of the registers a cell loads read its fanouts once
// between commits, not once per register, and end exactly as a walk per
// register ends (the walk is what the engine does with the survey off);
// a register that moves forward across each of its fanouts in turn is
// bypassed on one term each time without a walk over its fanouts.

#include <gtest/gtest.h>

#include <functional>
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

namespace {

using NETLIST_BUILDER = std::function<std::unique_ptr<CDB_ATOM_NETLIST>()>;

// One move phase over the named registers, every cell critical; the
// queues are read before the demuxer and the splitter empty them.
struct PHASE
{
    int moves = 0;
    std::set<int> demux;
    std::set<int> split;
};

PHASE move_all(RTM_RUN& run, const std::vector<std::string>& names, int skew)
{
    MORV_RTM& rtm = run.rtm();
    rtm.clear_iteration_state();
    for (CDB_ATOM_NODE* node : run.netlist())
        if (node->is_lcell_comb()) rtm.critical_nodes().insert(static_cast<int>(node->get_id()));
    MORV_RTM_REG_LIST list;
    for (const std::string& name : names) {
        CDB_ATOM_NODE* node = run.find(name);
        EXPECT_NE(node, nullptr) << name;
        if (node != nullptr) rtm.add_candidate(&list, node, skew, true);
    }
    PHASE phase;
    phase.moves = rtm.retime_registers(&list);
    phase.demux = rtm.nodes_to_demux();
    phase.split = rtm.nodes_to_split();
    rtm.run_demux_and_split();
    return phase;
}

int reason_count(MORV_RTM& rtm, int reason)
{
    return rtm.get_outcome_counts().at(static_cast<size_t>(reason));
}

std::string blif_of(CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream text;
    blif_write_netlist(netlist, text);
    return text.str();
}

// The netlist as BLIF with every name replaced by the order of its first
// appearance: new cells take numbers from a counter of the process, which
// two runs in one test do not share.
std::string shape_of(CDB_ATOM_NETLIST& netlist)
{
    std::istringstream lines(blif_of(netlist));
    std::map<std::string, int> names;
    std::string shape;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream tokens(line);
        for (std::string token; tokens >> token;) {
            const bool row = token.find_first_not_of("01-") == std::string::npos;
            if (token[0] != '.' && !row) token = rtm_name("s", names.emplace(token, names.size()).first->second);
            shape += token;
            shape += ' ';
        }
        shape += '\n';
    }
    return shape;
}

std::vector<std::string> numbered(const char* prefix, int count)
{
    std::vector<std::string> names;
    for (int k = 0; k < count; ++k) names.push_back(rtm_name(prefix, k));
    return names;
}

// ---------------------------------------------------------------- one cell, many registers

// n = a & b loads `count` registers, each cleared by its own input: no two
// can move together, so every backward move across n fails.
NETLIST_BUILDER own_clears(int count)
{
    return [count] {
        FIXTURE_NETLIST f(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* n = f.lut("n", {f.input("a"), f.input("b")}, 0x8);
        for (int k = 0; k < count; ++k) {
            CDB_ATOM_OTERM* q = f.reg(rtm_name("q", k), n, clk, nullptr, f.input(rtm_name("c", k)));
            f.output(rtm_name("o", k), q);
        }
        return f.release();
    };
}

TEST(RtmFanoutSurvey, RegistersOfOneCellReadItsFanoutsOnce)
{
    for (int count : {12, 48}) {
        for (bool survey : {true, false}) {
            SCOPED_TRACE(std::to_string(count) + (survey ? " surveyed" : " walked"));
            RTM_RUN run(own_clears(count)());
            run.rtm().set_survey_fanouts(survey);
            const std::string before = blif_of(run.netlist());
            const PHASE phase = move_all(run, numbered("q", count), 100);
            EXPECT_EQ(phase.moves, 0);
            EXPECT_EQ(run.rtm().get_fanouts_examined(), survey ? count : count * count);
            EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_REG_INCOMPATIBLE_SIGNALS), count);
            EXPECT_EQ(phase.split, std::set<int>{static_cast<int>(run.find("n")->get_id())});
            EXPECT_TRUE(phase.demux.empty());
            // The splitter leaves a cell with more than four fanouts alone.
            EXPECT_EQ(blif_of(run.netlist()), before);
        }
    }
}

// n's fanouts in order: rA (clear c1), rE (loads its synchronous data: it
// cannot move), rB (clear c2), an output, rC (clear c1, loads n inverted:
// the power-up value contradicts rA's) and rD (clear c1). The move of a
// register fails with the reason of the last fanout that fails for it:
// rC's for rA, rC and rD (compatible with them, but of the wrong power-up
// value), rD's for rB (another clear).
std::unique_ptr<CDB_ATOM_NETLIST> build_mixed()
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* c1 = f.input("c1");
    CDB_ATOM_OTERM* c2 = f.input("c2");
    CDB_ATOM_OTERM* n = f.lut("n", {f.input("a"), f.input("b")}, 0x6);
    f.output("oa", f.reg("rA", n, clk, nullptr, c1));
    CDB_ATOM_OTERM* e = f.reg("rE", n, clk);
    CDB_ATOM_NODE* e_node = e->get_my_node();
    FIXTURE_NETLIST::tie(e_node->add_input_term(DB_SYNCH_LOAD), true);
    f.input("d")->insert_fanout(e_node->add_input_term(DB_SYNCH_DATA));
    f.output("oe", e);
    f.output("ob", f.reg("rB", n, clk, nullptr, c2));
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
        EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_BAD_IC), 3);
        EXPECT_EQ(reason_count(run.rtm(), MORV_RTM_REG_INCOMPATIBLE_SIGNALS), 1);
        EXPECT_EQ(run.rtm().get_fanouts_examined(), survey ? 6 : 24);
        EXPECT_EQ(phase.demux, std::set<int>{static_cast<int>(run.find("rE")->get_id())});
        EXPECT_EQ(phase.split, std::set<int>{static_cast<int>(run.find("n")->get_id())});
    }
}

// A commit changes what a survey read: the move that goes ahead is planned
// by the walk, and the registers after it see the netlist it left.
TEST(RtmFanoutSurvey, GeneratedDesignsEndAlikeSurveyedOrWalked)
{
    for (bool chains : {false, true}) {
        for (uint64_t seed = 1; seed <= 8; ++seed) {
            SCOPED_TRACE(std::to_string(seed) + (chains ? " chains" : ""));
            SEQ_GEN_OPTIONS options;
            options.m_family = CDB_FAMILY_BRK;
            options.m_cells = 10;
            options.m_registers = 24;
            options.m_chains = chains;
            std::string text[2];
            std::vector<int> outcomes[2];
            for (int survey = 0; survey < 2; ++survey) {
                RTM_RUN run(options, seed);
                run.rtm().set_survey_fanouts(survey == 1);
                std::vector<std::string> names;
                for (CDB_ATOM_NODE* node : run.netlist())
                    if (node->is_lcell_ff()) names.push_back(std::string(node->get_instance_name()->get_short_hpath()));
                for (int skew : {100, -100, 100, 100}) move_all(run, names, skew);
                text[survey] = shape_of(run.netlist());
                outcomes[survey] = run.rtm().get_outcome_counts();
                if (survey == 1) {
                    std::unique_ptr<CDB_ATOM_NETLIST> before = seq_generate(options, seed);
                    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), "rtm_survey_gen", true);
                    EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
                }
            }
            EXPECT_EQ(text[1], text[0]);
            EXPECT_EQ(outcomes[1], outcomes[0]);
        }
    }
}

// ---------------------------------------------------------------- one register, many cells

// r loads `count` cells t_k = r ^ q_k, each into its own register q_k:
// r moves forward across every one of them.
NETLIST_BUILDER toggles(int count)
{
    return [count] {
        FIXTURE_NETLIST f(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* r = f.reg("r", f.input("a"), clk);
        for (int k = 0; k < count; ++k) {
            CDB_ATOM_NODE* q = f.reg(rtm_name("q", k), f.input(rtm_name("i", k)), clk)->get_my_node();
            CDB_ATOM_OTERM* regout = q->get_output_term_by_type(DB_REG_OUT);
            CDB_ATOM_OTERM* t = f.lut(rtm_name("t", k), {r, regout}, 0x6);
            CDB_ATOM_ITERM* datain = q->get_input_term_by_type(DB_DATAIN);
            datain->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            t->insert_fanout(datain);
            f.output(rtm_name("o", k), regout);
        }
        return f.release();
    };
}

TEST(RtmFanoutSurvey, RegisterMovedAcrossEachFanoutIsBypassedOnOneTermEachTime)
{
    for (int count : {8, 32}) {
        SCOPED_TRACE(count);
        const NETLIST_BUILDER build = toggles(count);
        RTM_RUN run(build());
        const PHASE phase = move_all(run, {"r"}, -100);
        EXPECT_EQ(phase.moves, count);
        // Each move takes r and q_k off one term of t_k.
        EXPECT_EQ(run.rtm().get_fanouts_examined(), 2 * count);
        std::unique_ptr<CDB_ATOM_NETLIST> before = build();
        const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), "rtm_survey_toggles", true);
        EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
    }
}

}  // namespace
