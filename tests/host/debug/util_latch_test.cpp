// The latch-legaliser test of the utility algorithm on a structured-ASIC
// compile: latches of every control kind built as the host leaves them
// (data A, clear B, feedback C, enable D, preset E), the edits it makes and
// the checks that must hold after each.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cut/cut_atom_util.h"
#include "log_capture.h"
#include "morv_test_util.h"
#include "plx_link_run.h"
#include "test_files.h"

#include "morv/debug/morv_util.h"

namespace util_latch_test {

namespace {

constexpr int NONE = -1;

// What a latch is made of; clear and preset give the level they are
// asserted at, NONE for no such control.
struct LATCH_KIND
{
    bool enable_real = true;
    bool enable_high = true;
    int clear = NONE;
    int preset = NONE;
    bool clear_dominant = true;
    bool data = true;
};

// The cell's function: rows read A = data, B = clear, C = the held value,
// D = enable, E = preset.
uint64_t latch_rows(const LATCH_KIND& kind)
{
    uint64_t rows = 0;
    for (int row = 0; row < 64; ++row) {
        auto in = [row](int k) { return (row >> k) & 1; };
        const bool clear = kind.clear != NONE && in(1) == kind.clear;
        const bool preset = kind.preset != NONE && in(4) == kind.preset;
        const bool enabled = kind.enable_real && kind.data && in(3) == (kind.enable_high ? 1 : 0);
        bool out = enabled ? in(0) : in(2);
        if (preset) out = true;
        if (clear && (!preset || kind.clear_dominant)) out = false;
        if (out) rows |= uint64_t{1} << row;
    }
    return rows;
}

CDB_ATOM_NODE* add_latch(FIXTURE_NETLIST& f, const std::string& name, const LATCH_KIND& kind)
{
    CDB_ATOM_OTERM* q = f.lut(name, {}, 0);
    CDB_ATOM_NODE* cell = q->get_my_node();
    if (kind.data) f.input(name + "_d")->insert_fanout(cell->add_input_term(DB_DATA_A));
    if (kind.clear != NONE) f.input(name + "_clr")->insert_fanout(cell->add_input_term(DB_DATA_B));
    q->insert_fanout(cell->add_input_term(DB_DATA_C));
    CDB_ATOM_ITERM* enable = cell->add_input_term(DB_DATA_D);
    if (kind.enable_real) f.input(name + "_en")->insert_fanout(enable);
    else enable->set_gnd();
    if (kind.preset != NONE) f.input(name + "_prs")->insert_fanout(cell->add_input_term(DB_DATA_E));
    cell->set_lutmask(CDB_LUTMASK(6, latch_rows(kind)));
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(kind.data ? DB_DATA_A : DB_MAX_INPUT_PORT_TYPE, DB_MAX_INPUT_PORT_TYPE, DB_DATA_D,
                              DB_DATA_C, DB_COMB_OUT, 0);
    info->enable_mode = kind.enable_high ? CDB_LATCH_ENABLE_MODE_NON_INVERTED : CDB_LATCH_ENABLE_MODE_INVERTED;
    if (kind.clear != NONE) info->clear_port = DB_DATA_B;
    if (kind.preset != NONE) info->preset_port = DB_DATA_E;
    cut_set_atom_latch_info(cell, info);
    f.output(name + "_q", q);
    return cell;
}

const LATCH_KIND PLAIN{};
const LATCH_KIND ALL_CONTROLS{true, false, 1, 0, true, true};
const LATCH_KIND SET_RESET_CLEAR_WINS{false, true, 0, 1, true, false};
const LATCH_KIND SET_RESET_PRESET_WINS{false, true, 1, 1, false, false};
// Enable tied off and no data: the held value is its one input with a source.
const LATCH_KIND ONE_PATH{false, true, NONE, NONE, true, false};

// Four latches, one of each kind above but the one-path one, beside a
// plain LUT the test must leave alone.
FIXTURE_NETLIST latch_netlist(const std::vector<std::pair<std::string, LATCH_KIND>>& latches)
{
    FIXTURE_NETLIST f(CDB_FAMILY_MRL);
    CDB_ATOM_OTERM* a = f.input("a");
    CDB_ATOM_OTERM* b = f.input("b");
    f.output("o", f.lut("g", {a, b}, 0x8));
    for (const auto& [name, kind] : latches) add_latch(f, name, kind);
    return f;
}

const std::vector<std::pair<std::string, LATCH_KIND>> FOUR_KINDS = {
    {"plain", PLAIN}, {"full", ALL_CONTROLS}, {"sr_clr", SET_RESET_CLEAR_WINS}, {"sr_prs", SET_RESET_PRESET_WINS}};

// What an edit may change: sources, inversions, mask and description.
struct LATCH_STATE
{
    std::vector<CDB_ATOM_OTERM*> sources;
    std::vector<bool> inverted;
    uint64_t mask;
    CDB_ATOM_LATCH_INFO info;
    bool operator==(const LATCH_STATE&) const = default;
};

LATCH_STATE state_of(CDB_ATOM_NODE* node)
{
    LATCH_STATE state{{}, {}, node->get_lutmask().get_value(), *cut_get_atom_latch_info(node)};
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
        CDB_ATOM_ITERM* t = node->get_input_term_by_type(port);
        state.sources.push_back(t && t->is_driven() ? t->get_source() : nullptr);
        state.inverted.push_back(t && t->is_inverted());
    }
    return state;
}

MORV_PARAMETER_MAP latch_params(std::initializer_list<std::pair<const std::string, std::string>> knobs)
{
    MORV_PARAMETER_MAP params{{"REG_TEST_LATCH_LEG", "1"}};
    for (const auto& knob : knobs) params[knob.first] = knob.second;
    return params;
}

// One edit alone, taken once.
MORV_PARAMETER_MAP only(const std::string& knob)
{
    return latch_params(
        {{"LLT_DEFAULT_NO_OPS", "1"}, {"LLT_RAND_NUM_MOVES", "0"}, {"LLT_NUM_MOVES", "1"}, {knob, "1"}});
}

int sum_of_counts(const MORV_UTIL& util)
{
    int sum = 0;
    for (int type = 0; type < LLT_LATCH_TYPE_ARRAY_SIZE; ++type) sum += util.get_latch_test()->get_count(type);
    return sum;
}

}  // namespace

TEST(UtilLatch, NoOpMovesOnlyCheckAndClassifyAndTheReportCountsEachType)
{
    PLX_RUN run(latch_netlist(FOUR_KINDS));
    std::map<std::string, LATCH_STATE> before;
    for (const auto& [name, kind] : FOUR_KINDS) before[name] = state_of(run.find(name));
    MORV_LOG_CAPTURE log(1);
    {
        MORV_PARAMETER_MAP params = latch_params({{"LLT_DEFAULT_NO_OPS", "1"}, {"LLT_RAND_NUM_MOVES", "0"}});
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(util.do_iter(), 4);
        for (const auto& [name, kind] : FOUR_KINDS) EXPECT_EQ(state_of(run.find(name)), before[name]) << name;
        const MORV_UTIL_LATCH_TEST* test = util.get_latch_test();
        EXPECT_EQ(test->get_count(MORV_LLT_ENABLE | MORV_LLT_ENABLE_HIGH), 1);
        EXPECT_EQ(test->get_count(MORV_LLT_ENABLE | MORV_LLT_CLEAR | MORV_LLT_CLEAR_HIGH | MORV_LLT_PRESET), 1);
        EXPECT_EQ(test->get_count(MORV_LLT_CLEAR | MORV_LLT_PRESET | MORV_LLT_PRESET_HIGH | MORV_LLT_CLEAR_DOMINANT),
                  1);
        EXPECT_EQ(test->get_count(MORV_LLT_CLEAR | MORV_LLT_CLEAR_HIGH | MORV_LLT_PRESET | MORV_LLT_PRESET_HIGH), 1);
        EXPECT_EQ(sum_of_counts(util), 4);
    }
    const std::vector<std::string> lines = log.lines();
    auto has = [&](const std::string& text) {
        for (const std::string& line : lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("FSYN UTIL LLT: is not using random number of moves"));
    EXPECT_TRUE(has("FSYN UTIL LLT: probability of port swap = 0.000"));
    EXPECT_TRUE(has("= en0 clr1 prs0 "));
    int report = -1, type_lines = 0, met = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("LLT: latch types covered") != std::string::npos) report = static_cast<int>(i);
        if (report < 0 || lines[i].find("\tlatch type: ") == std::string::npos) continue;
        ++type_lines;
        if (lines[i].find("# of cases = 1") != std::string::npos) ++met;
    }
    ASSERT_GE(report, 0);
    // Three enable forms by three clear forms by three preset forms, the
    // four set-reset forms each split by dominance.
    EXPECT_EQ(type_lines, 31);
    EXPECT_EQ(met, 4);
    // Absent parts keep their columns.
    EXPECT_TRUE(has("\tlatch type: en1" + std::string(19, ' ') + ": # of cases = 1"));
    EXPECT_TRUE(has("\tlatch type:     clr0 prs1 clr_dom : # of cases = 1"));
    EXPECT_TRUE(has("\tlatch type:     clr1 prs1 prs_dom : # of cases = 1"));
}

// A latch with one input path has nothing to swap, and a count of moves
// of 0 (random or not) or below means no moves rather than a division by it.
TEST(UtilLatch, OnePathLatchesAndZeroMovesFinishUnchanged)
{
    PLX_RUN run(latch_netlist({{"one", ONE_PATH}, {"full", ALL_CONTROLS}}));
    const LATCH_STATE one = state_of(run.find("one"));
    const LATCH_STATE full = state_of(run.find("full"));
    {
        MORV_PARAMETER_MAP params = only("LLT_PROB_PORT_SWAP");
        params["LLT_NUM_MOVES"] = "6";
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(util.do_iter(), 2);
        EXPECT_EQ(state_of(run.find("one")), one);
        EXPECT_NE(state_of(run.find("full")).sources, full.sources);
    }
    const LATCH_STATE swapped = state_of(run.find("full"));
    for (const char* moves : {"0", "-3"})
        for (const char* random : {"1", "0"}) {
            MORV_PARAMETER_MAP params = latch_params({{"LLT_NUM_MOVES", moves}, {"LLT_RAND_NUM_MOVES", random}});
            MORV_UTIL util(run.api(), &params);
            EXPECT_EQ(util.do_iter(), 2);
            EXPECT_EQ(state_of(run.find("full")), swapped) << moves << random;
            EXPECT_EQ(sum_of_counts(util), 2);
        }
}

TEST(UtilLatch, SwapExchangesTwoSourcesAndKeepsMaskAndSettings)
{
    for (const char* seed : {"1", "2", "5", "11", "40"}) {
        PLX_RUN run(latch_netlist({{"full", ALL_CONTROLS}}));
        CDB_ATOM_NODE* node = run.find("full");
        // A setting the swap must leave on its term: tied to power.
        FIXTURE_NETLIST::tie(node->add_input_term(DB_DATA_F), true);
        const LATCH_STATE before = state_of(node);
        MORV_PARAMETER_MAP params = only("LLT_PROB_PORT_SWAP");
        params["RAND_SEED"] = seed;
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(util.do_iter(), 1);
        const LATCH_STATE after = state_of(node);
        EXPECT_EQ(after.mask, before.mask);
        EXPECT_EQ(after.inverted, before.inverted);
        EXPECT_EQ(after.info, before.info);
        std::vector<size_t> changed;
        for (size_t i = 0; i < before.sources.size(); ++i)
            if (after.sources[i] != before.sources[i]) changed.push_back(i);
        ASSERT_EQ(changed.size(), 2u) << seed;
        EXPECT_EQ(after.sources[changed[0]], before.sources[changed[1]]);
        EXPECT_EQ(after.sources[changed[1]], before.sources[changed[0]]);
    }
}

// The generator is seeded once per run: a second iteration that replayed
// the first one's draws would swap the same inputs back every time.
TEST(UtilLatch, LaterIterationsGoOnWithFreshDraws)
{
    int restored = 0;
    for (int seed = 1; seed <= 6; ++seed) {
        PLX_RUN run(latch_netlist({{"l", ALL_CONTROLS}}));
        const LATCH_STATE before = state_of(run.find("l"));
        MORV_PARAMETER_MAP params = only("LLT_PROB_PORT_SWAP");
        params["RAND_SEED"] = std::to_string(seed);
        MORV_UTIL util(run.api(), &params);
        util.do_iter();
        util.do_iter();
        if (state_of(run.find("l")) == before) ++restored;
    }
    EXPECT_LT(restored, 6);
}

// Each removal and the dominance switch leave the latch the host would
// have built without what was removed, or with the other dominance.
TEST(UtilLatch, EachEditLeavesTheLatchOfTheReducedKind)
{
    struct CASE
    {
        const char* knob;
        LATCH_KIND before;
        LATCH_KIND after;
        std::vector<int> disconnected;
    };
    LATCH_KIND no_clear = ALL_CONTROLS, no_preset = ALL_CONTROLS, holding = ALL_CONTROLS,
               preset_wins = SET_RESET_CLEAR_WINS, plain_clear = PLAIN;
    no_clear.clear = NONE;
    no_preset.preset = NONE;
    holding.enable_real = false;
    holding.data = false;
    preset_wins.clear_dominant = false;
    plain_clear.clear = 0;
    const std::vector<CASE> cases = {
        {"LLT_PROB_CLR_REMOVE", ALL_CONTROLS, no_clear, {DB_DATA_B}},
        {"LLT_PROB_PRS_REMOVE", ALL_CONTROLS, no_preset, {DB_DATA_E}},
        {"LLT_PROB_DATA_EN_REMOVE", ALL_CONTROLS, holding, {DB_DATA_A, DB_DATA_D}},
        {"LLT_PROB_DOM_SWITCH", SET_RESET_CLEAR_WINS, preset_wins, {}},
        {"LLT_PROB_DOM_SWITCH",
         SET_RESET_PRESET_WINS,
         [] {
             LATCH_KIND k = SET_RESET_PRESET_WINS;
             k.clear_dominant = true;
             return k;
         }(),
         {}},
        // Edits that do not apply to the latch change nothing.
        {"LLT_PROB_CLR_REMOVE", SET_RESET_CLEAR_WINS, SET_RESET_CLEAR_WINS, {}},
        {"LLT_PROB_DATA_EN_REMOVE", plain_clear, plain_clear, {}},
        {"LLT_PROB_DOM_SWITCH", ALL_CONTROLS, ALL_CONTROLS, {}},
    };
    for (const CASE& c : cases) {
        PLX_RUN run(latch_netlist({{"l", c.before}}));
        CDB_ATOM_NODE* node = run.find("l");
        MORV_PARAMETER_MAP params = only(c.knob);
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(util.do_iter(), 1) << c.knob;
        EXPECT_EQ(node->get_lutmask().get_value(), latch_rows(c.after)) << c.knob;
        const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
        EXPECT_EQ(info->clear_port, c.after.clear == NONE ? DB_MAX_INPUT_PORT_TYPE : DB_DATA_B) << c.knob;
        EXPECT_EQ(info->preset_port, c.after.preset == NONE ? DB_MAX_INPUT_PORT_TYPE : DB_DATA_E) << c.knob;
        for (int port : c.disconnected) {
            CDB_ATOM_ITERM* term = node->get_input_term_by_type(port);
            ASSERT_NE(term, nullptr);
            EXPECT_FALSE(term->is_connected()) << c.knob << " " << port;
        }
        EXPECT_TRUE(cut_sanity_check_atom_latch_info(node)) << c.knob;
    }
}

// Every edit at every move over many seeds: the checks after each edit
// hold, and each latch ends in exactly one type.
TEST(UtilLatch, EveryEditOverManySeedsKeepsEachLatchLegal)
{
    for (int seed = 1; seed <= 12; ++seed) {
        PLX_RUN run(latch_netlist(FOUR_KINDS));
        MORV_PARAMETER_MAP params = latch_params({{"LLT_PROB_CLR_REMOVE", "0.5"},
                                                  {"LLT_PROB_PRS_REMOVE", "0.5"},
                                                  {"LLT_PROB_DATA_EN_REMOVE", "0.5"},
                                                  {"LLT_PROB_DOM_SWITCH", "0.5"},
                                                  {"RAND_SEED", std::to_string(seed)}});
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(internal_error_of([&] { EXPECT_EQ(util.do_iter(), 4); }), "<no internal error>") << seed;
        EXPECT_EQ(sum_of_counts(util), 4);
        for (const auto& [name, kind] : FOUR_KINDS) EXPECT_TRUE(cut_sanity_check_atom_latch_info(run.find(name)));
    }
}

TEST(UtilLatch, ABrokenLatchIsAnInternalError)
{
    {
        // A clear the mask ignores.
        PLX_RUN run(latch_netlist({{"l", ALL_CONTROLS}}));
        CDB_ATOM_NODE* node = run.find("l");
        LATCH_KIND no_clear = ALL_CONTROLS;
        no_clear.clear = NONE;
        node->set_lutmask(CDB_LUTMASK(6, latch_rows(no_clear)));
        MORV_PARAMETER_MAP params = latch_params({{"LLT_DEFAULT_NO_OPS", "1"}});
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(internal_error_of([&] { util.do_iter(); }), "clear_active_high ^ clear_active_low");
    }
    {
        // An inverted input with a source, met after a swap.
        PLX_RUN run(latch_netlist({{"l", PLAIN}}));
        run.find("l")->get_input_term_by_type(DB_DATA_A)->set_invert(true);
        MORV_PARAMETER_MAP params = only("LLT_PROB_PORT_SWAP");
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(internal_error_of([&] { util.do_iter(); }), "!iterm->is_inverted() || iterm->is_gnd()");
    }
    {
        // A description the host's sanity check refuses: no enable mode.
        PLX_RUN run(latch_netlist({{"l", PLAIN}}));
        cut_get_atom_latch_info(run.find("l"))->enable_mode = CDB_LATCH_ENABLE_MODE_NONE;
        MORV_PARAMETER_MAP params = latch_params({{"LLT_DEFAULT_NO_OPS", "1"}});
        MORV_UTIL util(run.api(), &params);
        EXPECT_EQ(internal_error_of([&] { util.do_iter(); }), "cut_sanity_check_atom_latch_info( node )");
    }
}

// Only structured-ASIC devices describe their latch cells.
TEST(UtilLatch, WithoutStructuredAsicInformationTheTestIsAnInternalError)
{
    PLX_RUN run;
    MORV_PARAMETER_MAP params = latch_params({});
    MORV_UTIL util(run.api(), &params);
    EXPECT_NE(internal_error_of([&] { util.do_iter(); }), "<no internal error>");
}

// The sample morv-fit reads from designs/latch_mrl.txt: the four kinds
// beside a one-path latch.
TEST(UtilLatch, SampleDesignIsTheFixturesOwn)
{
    std::vector<std::pair<std::string, LATCH_KIND>> latches = FOUR_KINDS;
    latches.emplace_back("one", ONE_PATH);
    const std::string text = canonical_ids(native_text(latch_netlist(latches).netlist()));
    const std::string path = std::string(MORV_SOURCE_DIR) + "/designs/latch_mrl.txt";
    EXPECT_TRUE(sample_design_is_current(path, text));
}

}  // namespace util_latch_test
