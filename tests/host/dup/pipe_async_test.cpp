// The evaluation of asynchronous pipelining in the early flow on small
// fixtures whose slacks the test scripts, and its report table.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "fixture_netlist.h"
#include "host_env.h"
#include "host_settings.h"
#include "io/blif_reader.h"
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

namespace pipe_async_test {

namespace {

const char* const NOT_REQUIRED = "Asynchronous signal does not require pipelining";
const char* const NOT_PIPELINEABLE = "Asynchronous signal was not pipelineable";
const char* const LOCATION = "Skipping asynchronous signal because of location constraint";

// Synchronisers on a global clock whose outputs clear destination registers.
struct RESETS
{
    FIXTURE_NETLIST fx;
    CDB_ATOM_OTERM* clk;

    explicit RESETS(int family = CDB_FAMILY_BRK) : fx(family), clk(fx.input("clk")) {}

    // Two registers behind the input `name`; the second is the source "<name>_s".
    CDB_ATOM_OTERM* sync(const std::string& name, int global = 4)
    {
        CDB_ATOM_OTERM* meta = fx.reg(name + "_m", fx.input(name), clk);
        CDB_ATOM_OTERM* s = fx.reg(name + "_s", meta, clk);
        s->get_my_node()->get_input_term_by_type(DB_CLOCK)->set_global(global);
        return s;
    }
    CDB_ATOM_NODE* dest(const std::string& name, CDB_ATOM_OTERM* reset)
    {
        CDB_ATOM_OTERM* q = fx.reg(name, fx.input(name + "_d"), clk, nullptr, reset);
        fx.output(name + "_o", q);
        return q->get_my_node();
    }
};

// A fixture under a compile of its own in one flow, with scripted slacks.
class PIPE_RUN
{
public:
    explicit PIPE_RUN(FIXTURE_NETLIST& fx, int flow = FIT_EARLY_FSYN_FLOW)
    {
        m_design = std::make_unique<morv_host::HOST_DESIGN>(fx.family(), fx.release());
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_expert = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert());
        m_api = m_expert->get_fsyn_api();
        DRIVER_FLAGS::run_only(m_expert, flow);
        m_slack = std::make_unique<SCRIPTED_SLACK_SOURCE>(m_api->get_fsyn_timing());
        m_slack->set_default(5000, 0.9);
    }
    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(*m_design->netlist(), name); }
    CDB_ATOM_OTERM* source(const std::string& name) { return find(name)->get_output_term_by_type(DB_REG_OUT); }
    // Every fanout of the source gets this slack.
    void set_slack(CDB_ATOM_OTERM* source, int slack)
    {
        for (auto it = source->begin_iterm_fanout(); it != source->end_iterm_fanout(); ++it)
            m_slack->set_slack(*it, slack);
    }
    void option(const std::string& instance, int id, const std::string& value)
    {
        m_design->action_point().edit_instance_options(instance).set_string(id, value);
    }
    void run_only(int flow) { DRIVER_FLAGS::run_only(m_expert, flow); }
    // The object as the run driver sets up its one pass: in an early flow
    // the evaluation runs here.
    MORV_OWNER<MORV_PIPE_ASYNC> start()
    {
        MORV_OWNER<MORV_PIPE_ASYNC> pipe = MORV_MAKE_OWNER(MORV_PIPE_ASYNC, m_api, &m_params);
        int passes = -1, icp = -1, restore = -1, iters = -1, hci = -1;
        double fom = -1.0;
        pipe->set_default_algorithm_parameters(passes, icp, fom, restore);
        EXPECT_EQ(passes, 1);
        pipe->set_default_pass_parameters(0, iters, hci);
        return pipe;
    }
    void evaluate() { start(); }
    RDB_FOLDER* folder() { return m_design->cmp().get_report()->get_current_folder(); }
    MORV_API* api() { return m_api; }
    MORV_EXPERT* expert() { return m_expert; }

private:
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_EXPERT* m_expert = nullptr;
    MORV_API* m_api = nullptr;
    std::unique_ptr<SCRIPTED_SLACK_SOURCE> m_slack;
    MORV_PARAMETER_MAP m_params;
};

bool recorded(CDB_ATOM_OTERM* source)
{
    return MORV_PIPE_ASYNC::static_is_critical_asynchronous_source(source);
}

// The sub-messages posted under the signal message of `signal`, by id.
std::vector<std::string> reasons(const std::string& signal)
{
    std::vector<std::string> ids;
    bool inside = false;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages()) {
        if (m.depth == 1) inside = m.text == "Asynchronous signal " + signal;
        else if (m.depth == 2 && inside) ids.push_back(m.id);
    }
    return ids;
}

bool has(const std::vector<std::string>& ids, const std::string& id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::vector<std::string> row_notes()
{
    std::vector<std::string> notes;
    for (const PIPE_ASYNC_REPORT_ROW& row : MORV_PIPE_ASYNC::s_report_rows) notes.push_back(row.m_note);
    return notes;
}

std::string found_text()
{
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id == "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS") return m.text;
    return "";
}

class PipeAsync : public MORV_CLEAN_STATE_TEST
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

// The threshold is inclusive; option 666 forces a source without timing
// checks, also with the value 0; a forced source is still tested.
TEST_F(PipeAsync, TimingThresholdAndForcedSources)
{
    RESETS r;
    for (const char* name : {"at", "above", "forced", "forced_gclk"}) {
        CDB_ATOM_OTERM* s = r.sync(name, std::string(name) == "forced_gclk" ? 3 : 4);
        r.dest(std::string(name) + "_r1", s);
        r.dest(std::string(name) + "_r2", s);
    }
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("at_s"), 250);
    run.set_slack(run.source("above_s"), 251);
    run.option("forced_s", MORV_SETTING_PIPELINING, "0");
    run.option("forced_gclk_s", MORV_SETTING_PIPELINING, "3");
    run.evaluate();

    EXPECT_TRUE(recorded(run.source("at_s")));
    EXPECT_FALSE(recorded(run.source("above_s")));
    EXPECT_TRUE(recorded(run.source("forced_s")));
    EXPECT_FALSE(recorded(run.source("forced_gclk_s")));
    EXPECT_TRUE(has(reasons("at_s"), "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CRITICAL_SIGNAL"));
    EXPECT_TRUE(has(reasons("above_s"), "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NON_CRITICAL_SIGNAL"));
    const std::vector<std::string> forced = reasons("forced_s");
    EXPECT_TRUE(has(forced, "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_USER_REQUESTED"));
    EXPECT_FALSE(has(forced, "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CRITICAL_SIGNAL"));
    EXPECT_FALSE(has(forced, "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NON_CRITICAL_SIGNAL"));
    EXPECT_TRUE(has(reasons("forced_gclk_s"), "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NOT_GCLK"));
    EXPECT_EQ(row_notes(), (std::vector<std::string>{NOT_REQUIRED, NOT_PIPELINEABLE}));
    EXPECT_EQ(found_text(), "Found 4 asynchronous signals of which 2 will be pipelined");
}

TEST_F(PipeAsync, SkippedTimingChecksAttachNoTimingVerdict)
{
    cfg_set_value("fsyn_pipe_async_skip_timing_checks", "on");
    cfg_set_value("fsyn_pipe_async_slack_threshold", "100");
    RESETS r;
    CDB_ATOM_OTERM* a = r.sync("a");
    r.dest("ra", a);
    CDB_ATOM_OTERM* b = r.sync("b");
    r.dest("rb", b);
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("b_s"), -2000);
    MORV_OWNER<MORV_PIPE_ASYNC> pipe = run.start();
    EXPECT_EQ(pipe->get_slack_threshold(), 100);
    EXPECT_EQ(pipe->get_state(), MORV_PIPE_ASYNC::STATE_EVALUATED);
    EXPECT_FALSE(pipe->has_late_flow_members());
    for (const char* name : {"a_s", "b_s"}) {
        EXPECT_TRUE(recorded(run.source(name))) << name;
        const std::vector<std::string> ids = reasons(name);
        EXPECT_EQ(ids, (std::vector<std::string>{"IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_SIGNAL_WILL_BE_PIPELINED"}))
            << name;
    }
    EXPECT_TRUE(MORV_PIPE_ASYNC::s_report_rows.empty());
}

// A destination in a locked region drops its source, once, whether it is
// met first or after the source was recorded.
TEST_F(PipeAsync, LockedDestinationsDropTheirSource)
{
    RESETS r;
    CDB_ATOM_OTERM* late = r.sync("late");
    r.dest("late_free", late);
    FIXTURE_NETLIST::lock_to_region(r.dest("late_locked1", late), 1, 1, 2, 2);
    FIXTURE_NETLIST::lock_to_region(r.dest("late_locked2", late), 1, 1, 2, 2);
    CDB_ATOM_OTERM* first = r.sync("first");
    FIXTURE_NETLIST::lock_to_region(r.dest("first_locked", first), 1, 1, 2, 2);
    r.dest("first_free", first);
    CDB_ATOM_OTERM* free = r.sync("free");
    r.dest("free_r", free);
    PIPE_RUN run(r.fx);
    for (const char* name : {"late_s", "first_s", "free_s"}) run.set_slack(run.source(name), 0);
    run.evaluate();
    EXPECT_FALSE(recorded(run.source("late_s")));
    EXPECT_FALSE(recorded(run.source("first_s")));
    EXPECT_TRUE(recorded(run.source("free_s")));
    EXPECT_EQ(row_notes(), (std::vector<std::string>{LOCATION, LOCATION}));
    EXPECT_EQ(found_text(), "Found 3 asynchronous signals of which 1 will be pipelined");
}

// Behind a clock buffer the source is the buffer, the tests run on the
// synchroniser; a constant-tied clear is no source at all.
TEST_F(PipeAsync, ClockBufferedSourceAndConstantClears)
{
    RESETS r;
    CDB_ATOM_OTERM* s = r.sync("rst");
    CDB_ATOM_OTERM* buffer = r.fx.clock_buffer("rst_buf", s);
    r.dest("r1", buffer);
    r.dest("r2", buffer);
    for (bool value : {false, true}) {
        CDB_ATOM_NODE* tied = r.dest(value ? "tied1" : "tied0", nullptr);
        FIXTURE_NETLIST::tie(tied->add_input_term(DB_CLEAR), value);
    }
    PIPE_RUN run(r.fx);
    run.set_slack(run.find("rst_buf")->get_output_term_by_type(DB_CLKBUF_OUT), 0);
    run.evaluate();
    CDB_ATOM_OTERM* buffer_out = run.find("rst_buf")->get_output_term_by_type(DB_CLKBUF_OUT);
    EXPECT_TRUE(recorded(buffer_out));
    EXPECT_FALSE(recorded(run.source("rst_s")));
    ASSERT_EQ(MORV_PIPE_ASYNC::s_critical_async_sources.size(), 1u);
    EXPECT_EQ(MORV_PIPE_ASYNC::s_critical_async_sources.begin()->m_node_id, run.find("rst_buf")->get_id());
    EXPECT_EQ(found_text(), "Found 1 asynchronous signals of which 1 will be pipelined");
}

// The synchroniser's clock must be global, and the synchroniser must not be
// kept as it is by the user.
TEST_F(PipeAsync, SynchroniserTests)
{
    RESETS r;
    CDB_ATOM_OTERM* kept = r.sync("kept");
    r.dest("kept_r", kept);
    CDB_ATOM_ASSIGNMENTS a = kept->get_my_node()->get_assignments();
    a.dont_touch = true;
    kept->get_my_node()->set_assignments(a);
    CDB_ATOM_OTERM* comb = r.fx.lut("comb", {r.fx.input("x")}, 0x2);
    r.dest("comb_r", comb);
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("kept_s"), 0);
    run.set_slack(run.find("comb")->get_output_term_by_type(DB_COMB_OUT), 0);
    run.evaluate();
    EXPECT_TRUE(MORV_PIPE_ASYNC::s_critical_async_sources.empty());
    EXPECT_TRUE(has(reasons("kept_s"), "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_DONT_TOUCH"));
    EXPECT_TRUE(has(reasons("comb"), "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NO_SYNC_REGISTER"));
    EXPECT_EQ(row_notes(), (std::vector<std::string>{NOT_PIPELINEABLE, NOT_PIPELINEABLE}));
}

// Every fanout kind that may take an asynchronous net passes the test.
TEST_F(PipeAsync, AcceptedFanoutKinds)
{
    RESETS r;
    CDB_ATOM_OTERM* s = r.sync("rst");
    r.dest("clr", s);
    r.fx.output("rst_pin", s);  // an output pin's data input
    CDB_ATOM_NODE* io_clear = r.fx.output("io", r.fx.input("io_d"));
    s->insert_fanout(io_clear->add_input_term(8));
    r.fx.clock_buffer("buf", s);
    // Asynchronous loads of registers whose asynchronous data is constant.
    CDB_ATOM_OTERM* zero = r.fx.lut("k0", {}, 0x0);
    CDB_ATOM_OTERM* one = r.fx.lut("k1", {}, 0x1);
    for (int k = 0; k < 3; ++k) {
        CDB_ATOM_NODE* load = r.dest(k == 0 ? "load_tied" : k == 1 ? "load_k0" : "load_k1", nullptr);
        s->insert_fanout(load->add_input_term(DB_ASYNCH_LOAD));
        CDB_ATOM_ITERM* data = load->add_input_term(DB_ASYNCH_DATA);
        if (k == 0) FIXTURE_NETLIST::tie(data, true);
        else (k == 1 ? zero : one)->insert_fanout(data);
    }
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("rst_s"), 0);
    run.evaluate();
    EXPECT_TRUE(recorded(run.source("rst_s"))) << ::testing::PrintToString(reasons("rst_s"));
}

// An asynchronous load takes the net only on a register whose asynchronous
// data is constant.
TEST_F(PipeAsync, AsynchronousLoadsOfOtherCellsAreRejected)
{
    RESETS r;
    CDB_ATOM_OTERM* on_lut = r.sync("on_lut");
    r.dest("on_lut_r", on_lut);
    CDB_ATOM_NODE* lut = r.fx.lut("lut", {r.fx.input("x")}, 0x2)->get_my_node();
    on_lut->insert_fanout(lut->add_input_term(DB_ASYNCH_LOAD));
    FIXTURE_NETLIST::tie(lut->add_input_term(DB_ASYNCH_DATA), true);
    CDB_ATOM_OTERM* varying = r.sync("varying");
    r.dest("varying_r", varying);
    CDB_ATOM_NODE* load = r.dest("load", nullptr);
    varying->insert_fanout(load->add_input_term(DB_ASYNCH_LOAD));
    r.fx.lut("buf", {r.fx.input("y")}, 0x2)->insert_fanout(load->add_input_term(DB_ASYNCH_DATA));
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("on_lut_s"), 0);
    run.set_slack(run.source("varying_s"), 0);
    run.evaluate();
    EXPECT_FALSE(recorded(run.source("on_lut_s")));
    EXPECT_FALSE(recorded(run.source("varying_s")));
    EXPECT_EQ(row_notes(), (std::vector<std::string>{NOT_PIPELINEABLE, NOT_PIPELINEABLE}));
}

// Each rejected fanout is named, all of them with the dump switch (in the
// file too), only the first without it.
TEST_F(PipeAsync, RejectedFanoutsAndTheirDumpFile)
{
    for (bool dump : {false, true}) {
        SetUp();
        if (dump) cfg_set_value("fsyn_pipe_async_dump_all_non_async_fanouts", "on");
        RESETS r;
        CDB_ATOM_OTERM* s = r.sync("top|sub/rst");
        r.dest("clr", s);
        for (const char* name : {"l1", "l2", "l3"}) r.fx.output(std::string(name) + "_o", r.fx.lut(name, {s}, 0x1));
        PIPE_RUN run(r.fx);
        run.set_slack(run.source("top|sub/rst_s"), 0);
        const std::string file = "fsyn_pipe_async_dump_all_non_async_fanouts.top_sub_rst_s.txt";
        std::filesystem::remove(file);
        run.evaluate();
        EXPECT_FALSE(recorded(run.source("top|sub/rst_s")));
        const std::vector<std::string> ids = reasons("top|sub/rst_s");
        EXPECT_EQ(std::count(ids.begin(), ids.end(), "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_ILLEGAL_FANOUT_SIGNAL"),
                  dump ? 3 : 1);
        EXPECT_EQ(std::filesystem::exists(file), dump);
        if (!dump) continue;
        std::ifstream in(file);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        EXPECT_EQ(lines, (std::vector<std::string>{
                             "# List of nodes failing the asynchronous input test for reset signal < top|sub/rst_s > ",
                             "l1 ", "l2 ", "l3 "}));
        std::filesystem::remove(file);
    }
}

TEST_F(PipeAsync, FileNamesHoldNoPathCharacters)
{
    EXPECT_EQ(MORV_PIPE_ASYNC::file_name_safe("a|b/c\\d:e*f?g\"h<i>j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(MORV_PIPE_ASYNC::file_name_safe(""), "_");
    EXPECT_EQ(MORV_PIPE_ASYNC::file_name_safe("plain~name[3]"), "plain~name[3]");
}

// Option 667 passes the destination test with a warning, posted once after
// the evaluation message, also when the family runs two passes.
TEST_F(PipeAsync, DisabledDestinationCheckWarnsOnce)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        SetUp();
        RESETS r(family);
        CDB_ATOM_OTERM* s = r.sync("rst");
        r.dest("clr", s);
        r.fx.output("l_o", r.fx.lut("l", {s}, 0x1));
        PIPE_RUN run(r.fx);
        run.set_slack(run.source("rst_s"), 0);
        run.option("rst_s", MORV_SETTING_PIPELINING_NO_DST_CHECK, "on");
        run.evaluate();
        EXPECT_TRUE(recorded(run.source("rst_s"))) << family;
        EXPECT_EQ(count_posted("WMORV_FSYN_ASYNC_PIPELINING_DISABLE_DESTINATION_CHECK"), 1) << family;
        // Right after the first pass's messages.
        const std::vector<MSG_POSTED_MESSAGE>& posted = msg_posted_messages();
        size_t at = 0;
        while (at < posted.size() && posted[at].id != "WMORV_FSYN_ASYNC_PIPELINING_DISABLE_DESTINATION_CHECK") ++at;
        ASSERT_LT(at, posted.size());
        ASSERT_GT(at, 0u);
        EXPECT_EQ(posted[at].depth, 0);
        EXPECT_EQ(posted[at - 1].id, "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS");
        EXPECT_EQ(count_posted("IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_INFO"), family == CDB_FAMILY_UVO ? 2 : 1);
    }
}

// Evaluation, then the end of the LATE flow: the table has the header and
// the rows in the order they were added; a source swept in between has none;
// written once per compile.
TEST_F(PipeAsync, ReportTable)
{
    RESETS r;
    for (const char* name : {"a", "b", "gone", "c"}) r.dest(std::string(name) + "_r", r.sync(name));
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("c_s"), 0);
    run.evaluate();
    EXPECT_EQ(row_notes(), (std::vector<std::string>{NOT_REQUIRED, NOT_REQUIRED, NOT_REQUIRED}));
    run.api()->delete_node(run.find("gone_s"));

    run.run_only(LATE_FSYN_FLOW);
    MORV_OWNER<MORV_PIPE_ASYNC> late = run.start();
    EXPECT_EQ(late->get_state(), MORV_PIPE_ASYNC::STATE_READY);
    EXPECT_TRUE(late->has_late_flow_members());
    MORV_PIPE_ASYNC::add_report_row(run.source("c_s"), 2, 7, "");
    late->write_report_table();
    EXPECT_TRUE(MORV_PIPE_ASYNC::s_report_rows.empty());

    ASSERT_EQ(run.folder()->get_table_count(), 1u);
    const RDB_TABLE_OBJECT& table = run.folder()->get_table(0);
    EXPECT_EQ(table.get_name(), "Fitter Asynchronous Signal Pipelining");
    EXPECT_TRUE(table.is_last_cmp_flp_location_available());
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < table.get_row_count(); ++i) rows.push_back(table.get_row(i).texts());
    const std::vector<std::vector<std::string>> expected = {
        {"NET", "STAGES", "REGISTERS", "NOTE"},
        {"a_s", "0", "0", NOT_REQUIRED},
        {"b_s", "0", "0", NOT_REQUIRED},
        {"c_s", "2", "7", ""},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(internal_error_of([&] { late->write_report_table(); }),
              "!rdb_object_exists_in_folder( target_folder, table_object )");
}

// A second compile in the process starts its rows afresh.
TEST_F(PipeAsync, SecondCompileShowsOnlyItsOwnRows)
{
    {
        RESETS r;
        r.dest("first_r", r.sync("first"));
        PIPE_RUN run(r.fx);
        run.evaluate();
        EXPECT_EQ(MORV_PIPE_ASYNC::s_report_rows.size(), 1u);
    }
    RESETS r;
    r.dest("second_r", r.sync("second"));
    r.dest("third_r", r.sync("third"));
    PIPE_RUN run(r.fx);
    run.set_slack(run.source("third_s"), 0);
    run.evaluate();
    ASSERT_EQ(MORV_PIPE_ASYNC::s_report_rows.size(), 1u);
    EXPECT_EQ(MORV_PIPE_ASYNC::s_report_rows[0].m_node_id, run.find("second_s")->get_id());
    EXPECT_TRUE(recorded(run.source("third_s")));
}

// The sample design with pipelining of rst_a_s forced: after the early
// flows the host hears that only that reset will be pipelined.
TEST_F(PipeAsync, SampleDesignAnswersTheHostsQuery)
{
    const std::string dir = std::string(MORV_SOURCE_DIR) + "/designs/";
    BLIF_READER reader(CDB_FAMILY_BRK);
    morv_host::HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_file(dir + "async_reset.blif"));
    morv_host::HOST_SETTINGS settings;
    settings.load_file(dir + "async_reset.settings");
    settings.apply_options_and_switches(design.options());
    design.options().set_string(MORV_SETTING_TEST_STRING, "PIPE_ASYNC()|PIPE_ASYNC()");
    morv_host::HOST_ENV env(design);
    settings.apply_assignments(env);
    set_clock_below_critical_path(env);
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    for (e_fsyn_flow flow : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW})
        if (expert->will_fsyn_run(flow)) expert->do_physical_synthesis(flow);
    EXPECT_EQ(found_text(), "Found 3 asynchronous signals of which 1 will be pipelined");
    for (const char* name : {"rst_a_s", "rst_b_s", "rst_c_s", "rst_a_m"}) {
        CDB_ATOM_NODE* node = seq_find(*design.netlist(), name);
        ASSERT_NE(node, nullptr) << name;
        EXPECT_EQ(expert->will_fsyn_pipeline_net(node->get_output_term_by_type(DB_REG_OUT)),
                  std::string(name) == "rst_a_s")
            << name;
    }
}

}  // namespace

}  // namespace pipe_async_test
