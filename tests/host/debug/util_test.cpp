// The utility algorithm on a small compile: the signature check, the
// deliberate damage it does to a netlist, and the timing dump held against
// the analyser's own answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>

#include "log_capture.h"
#include "msg/msg.h"
#include "plx_link_run.h"
#include "tdc/tdc_accessories.h"
#include "test_compile_setup.h"

#include "morv/core/morv_debug_stream.h"
#include "morv/debug/morv_util.h"
#include "morv/timing/morv_timing.h"

namespace util_test {

namespace {

int count_errors(const std::string& id)
{
    const std::vector<MSG_POSTED_MESSAGE>& posted = msg_posted_messages();
    return static_cast<int>(std::count_if(posted.begin(), posted.end(), [&](const MSG_POSTED_MESSAGE& m) {
        return m.kind == MSG_KIND::ERROR && m.id == id;
    }));
}

std::string to_upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

TEST(Util, SignatureCheckIgnoresCaseAndAMismatchOnlyPostsAnError)
{
    PLX_RUN run;
    const std::string id = "EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH";
    msg_clear_posted_messages();
    const std::string project = run.api()->get_project_name();
    ASSERT_FALSE(project.empty());
    {
        MORV_PARAMETER_MAP params{{"CHECK_PROJECT", to_upper(project)}};
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(util.do_iter(), 0);
    }
    EXPECT_EQ(count_errors(id), 0);
    MORV_PARAMETER_MAP params{{"CHECK_PROJECT", project + "x"}};
    MORV_UTIL util(run.api(), &params);
    EXPECT_EQ(util.do_iter(), 0);
    EXPECT_EQ(count_errors(id), 1);
}

TEST(Util, BreakSwapsTwoDistinctSourcedInputsAndCountsOnlyLutsItChanged)
{
    PLX_RUN run;
    CDB_ATOM_NODE* g = run.find("g");
    CDB_ATOM_NODE* dead = run.find("dead");
    CDB_ATOM_OTERM* a = g->get_input_term_by_type(DB_DATA_A)->get_source();
    CDB_ATOM_OTERM* b = g->get_input_term_by_type(DB_DATA_B)->get_source();
    // dead: a, b and a constant tie, which has no source to trade.
    b->insert_fanout(dead->add_input_term(DB_DATA_B));
    dead->add_input_term(DB_DATA_C)->set_gnd();
    for (int seed : {0, 1, 2, 3, 7}) {
        run.api()->set_random_state(static_cast<uint64_t>(seed));
        MORV_PARAMETER_MAP params{{"BREAK", "3"}};
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(util.do_iter(), 2) << seed;
        // A second iteration must not swap the inputs back.
        EXPECT_EQ(util.do_iter(), 0) << seed;
        for (CDB_ATOM_NODE* node : {g, dead}) {
            // Two sourced inputs each: any real swap exchanges them.
            EXPECT_EQ(node->get_input_term_by_type(DB_DATA_A)->get_source(), b) << seed;
            EXPECT_EQ(node->get_input_term_by_type(DB_DATA_B)->get_source(), a) << seed;
        }
        EXPECT_TRUE(dead->get_input_term_by_type(DB_DATA_C)->is_gnd());
        std::swap(a, b);
    }
}

TEST(Util, BreakingADontTouchRuleWithNoCandidateIsAnInternalError)
{
    PLX_RUN run;
    MORV_PARAMETER_MAP params{{"BREAK_DONT_TOUCH", "1"}};
    MORV_UTIL util(run.api(), &params);
    EXPECT_THROW(util.do_iter(), MSG_INTERNAL_ERROR_EXCEPTION);
}

// Every connection of the dump carries the slack ratio the analyser gives
// that input after placement.
TEST(Util, TheTimingDumpCarriesTheAnalysersSlackRatioOfEveryConnection)
{
    PLACED_LATE_COMPILE compile(std::string(MORV_SOURCE_DIR) + "/designs/counter.blif");
    MORV_TIMING* timing = compile.api->get_fsyn_timing();
    timing->sync_timing_netlist(false, true);
    timing->perform_timing_analysis();
    TDC_UTILITY* analyser = timing->get_tdc_utility();
    ASSERT_NE(analyser, nullptr);
    std::multiset<std::string> expected, dumped;
    for (CDB_ATOM_NODE* node : *compile.design->netlist()) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const CDB_ATOM_OTERM* source = (*it)->get_source();
            if (source == nullptr) continue;
            const int port = (*it)->get_any_usage_as();
            expected.insert(morv_sprintf("%d %d %d %d %f", source->get_my_node()->get_atom_type(),
                                         source->get_any_usage_as(), node->get_atom_type(), port,
                                         analyser->get_slack_ratio(node, port, (*it)->get_port_index())));
        }
    }
    ASSERT_FALSE(expected.empty());
    MORV_LOG_CAPTURE log(2);
    {
        MORV_PARAMETER_MAP params{{"DUMP_TIMING", "1"}};
        MORV_UTIL util(compile.api, &params);
        EXPECT_EQ(util.do_iter(), 0);
    }
    for (const std::string& line : log.lines()) {
        int src_type = 0, src_port = 0, sink_type = 0, sink_port = 0, delay = 0, timed = 0;
        char ratio[32] = "";
        if (std::sscanf(line.c_str(), "dump: %d %d %d %d %d %31s %d", &src_type, &src_port, &sink_type, &sink_port,
                        &delay, ratio, &timed) != 7)
            continue;
        dumped.insert(morv_sprintf("%d %d %d %d %s", src_type, src_port, sink_type, sink_port, ratio));
    }
    EXPECT_EQ(dumped, expected);
}

}  // namespace util_test
