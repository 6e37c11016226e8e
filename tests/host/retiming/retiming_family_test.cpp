// The family classes of retiming: the critical-slack limit from the LUT
// rotation delay and RF, the two pass schedules, the class each family's
// factory builds with its log lines and device constants, and the inverter
// and buffer cells and inverter tests in each bit order, proved against
// reference netlists.

#include <cmath>
#include <limits>

#include "cfg/cfg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/retiming/morv_retiming_family.h"
#include "log_capture.h"
#include "retiming_6lut_bench.h"

namespace retiming_family_test {

namespace {

MORV_PARAMETER_MAP params_of(const std::string& text)
{
    MORV_PARAMETER_MAP params;
    MORV_ALGORITHM_BASE::parse_algorithm_params(params, text);
    return params;
}

// The netlist under a compile of its own, every node placed, and the
// retiming class the family's factory builds for it.
class LEAF_RUN
{
public:
    LEAF_RUN(std::unique_ptr<CDB_ATOM_NETLIST> netlist, int family, const std::string& params = "",
             bool build_now = true)
        : m_family(family), m_params(params_of(params))
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist));
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        place_every_node(m_api, *m_design->netlist());
        if (build_now) build();
    }
    void build()
    {
        const char* name = morv_family_traits(m_family).m_driver->m_algorithm_class_names[RTM_ALGORITHM];
        EXPECT_TRUE(morv_make_family_algorithm(name, m_api, &m_params, &m_rtm)) << name;
    }
    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(netlist(), name); }
    MORV_API* api() { return m_api; }
    MORV_ALGORITHM_BASE* algorithm() { return m_rtm.get(); }
    MORV_RETIMING* rtm() { return dynamic_cast<MORV_RETIMING*>(m_rtm.get()); }
    MORV_RETIMING_6LUT_FAMILY* rtm6() { return dynamic_cast<MORV_RETIMING_6LUT_FAMILY*>(m_rtm.get()); }
    MORV_RETIMING_4LUT_FAMILY* rtm4() { return dynamic_cast<MORV_RETIMING_4LUT_FAMILY*>(m_rtm.get()); }
    void drop() { m_rtm.reset(); }

private:
    int m_family;
    MORV_PARAMETER_MAP m_params;
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    MORV_OWNER<MORV_ALGORITHM_BASE> m_rtm;
};

// c0 = i0 AND i1 (or the truth given) into register r0, out at o0.
std::unique_ptr<CDB_ATOM_NETLIST> and_into_register(int family, uint64_t truth = 0x8)
{
    RTM6_NET n(family);
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, truth);
    n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(c0))), "o0");
    return n.take();
}

// A one-input LUT w0 on i0 (truth 0b01 inverts, 0b10 buffers) into r0.
std::unique_ptr<CDB_ATOM_NETLIST> wire_into_register(int family, uint64_t truth)
{
    RTM6_NET n(family);
    CDB_ATOM_NODE* w0 = n.lut("w0", {n.input("i0")}, truth);
    n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(w0))), "o0");
    return n.take();
}

// The cell that now drives the term: the one the insertion made.
CDB_ATOM_NODE* driver_of(CDB_ATOM_ITERM* iterm)
{
    return iterm->get_source() != nullptr ? iterm->get_source()->get_my_node() : nullptr;
}

const int k_families_6[] = {CDB_FAMILY_BRK, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK, CDB_FAMILY_OBRAN};
const int k_families_4[] = {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV};

}  // namespace

// ------------------------------------------------------------------ constants

TEST(RetimingFamilyConstants, CriticalSlackIsTheRotationDelayTimesRfTruncatedTowardZero)
{
    EXPECT_EQ(morv_retiming_max_critical_slack(150, 4.0f), 600);
    EXPECT_EQ(morv_retiming_max_critical_slack(150, 2.5f), 375);
    EXPECT_EQ(morv_retiming_max_critical_slack(101, 0.5f), 50);
    EXPECT_EQ(morv_retiming_max_critical_slack(-101, 0.5f), -50);
    // In single precision 0.1 is a little above a tenth: 300 x 0.1f is 30.
    EXPECT_EQ(morv_retiming_max_critical_slack(300, 0.1f), 30);
    EXPECT_EQ(morv_retiming_lut_rotation_delay(nullptr, MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F), 0);
}

// Each family's factory builds its class, which logs its creation, takes
// the device's rotation delay and RF and TRADE from the parameters, and
// logs its destruction.
TEST(RetimingFamilyConstants, EachFamilyBuildsItsClassWithTheDeviceRotationDelay)
{
    struct CASE
    {
        int family;
        const char* tag;
        int cell_kind;
        int last_port;
    };
    const CASE cases[] = {
        {CDB_FAMILY_BRK, "brk", MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F},
        {CDB_FAMILY_KESTLIN, "kestlin", MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F},
        {CDB_FAMILY_RZK, "rzk", MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F},
        {CDB_FAMILY_OBRAN, "obran", MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F},
        {CDB_FAMILY_ZEPLA, "zepla", MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_D},
        {CDB_FAMILY_TEV, "tev", MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_D},
    };
    for (const CASE& c : cases) {
        for (const char* rf : {"", "RF=2.5:TRADE=12.5"}) {
            SCOPED_TRACE(std::string(c.tag) + " " + rf);
            // The compile resets the logger: the capture starts after it.
            LEAF_RUN run(and_into_register(c.family), c.family, rf, false);
            MORV_LOG_CAPTURE log(100);
            run.build();
            ASSERT_NE(run.rtm(), nullptr);
            EXPECT_EQ(run.algorithm()->get_short_name(), "RTM");
            MORV_TIMING* timing = run.api()->get_fsyn_timing();
            const int rotation = timing->get_internal_delay(c.cell_kind, DB_DATA_A, DB_COMB_OUT) -
                                 timing->get_internal_delay(c.cell_kind, c.last_port, DB_COMB_OUT);
            EXPECT_GT(rotation, 0);
            const bool given = rf[0] != '\0';
            const int slack = static_cast<int>(static_cast<float>(rotation) * (given ? 2.5f : 4.0f));
            const MORV_RETIMING_FAMILY_CONSTANTS& k =
                run.rtm6() != nullptr ? run.rtm6()->get_family_constants() : run.rtm4()->get_family_constants();
            EXPECT_EQ(k.rotation_delay, rotation);
            EXPECT_EQ(k.max_critical_slack, slack);
            EXPECT_DOUBLE_EQ(k.trade, given ? 12.5 : 50.0);
            run.drop();
            const std::vector<std::string> lines = log.lines();
            const std::string created = std::string("creating fsyn_retiming_") + c.tag;
            const std::string destroyed = std::string("destroying fsyn_retiming_") + c.tag;
            const std::string rotation_line = "lut rotation delay: " + std::to_string(rotation) + " ps";
            const std::string slack_line = "max critical slack: " + std::to_string(slack) + " ps";
            auto at = [&](const std::string& text) {
                return std::find(lines.begin(), lines.end(), text) - lines.begin();
            };
            EXPECT_LT(at(created), at(rotation_line));
            EXPECT_LT(at(rotation_line), at(slack_line));
            EXPECT_LT(at(slack_line), static_cast<long>(lines.size()));
            EXPECT_LT(at(destroyed), static_cast<long>(lines.size()));
        }
    }
}

// ------------------------------------------------------------------ schedules

TEST(RetimingFamilySchedule, DefaultsFillOnlyWhatTheUserLeftUnset)
{
    for (MORV_RETIMING_SCHEDULE schedule : {MORV_RETIMING_SCHEDULE_A, MORV_RETIMING_SCHEDULE_B}) {
        SCOPED_TRACE(schedule);
        const int expected_ni[] = {16, 48, 16, 16, 16};
        const int expected_hci[] = {8, 8, 2, 2, 2};
        for (int pass = 0; pass < 5; ++pass) {
            MORV_RETIMING_PASS_DEFAULTS unset;
            unset.backwards = pass % 2 != 0;  // the wrong way round: the pass decides
            morv_retiming_pass_defaults(schedule, pass, unset);
            EXPECT_EQ(unset.backwards, pass % 2 == 0) << pass;
            EXPECT_EQ(unset.num_iters, expected_ni[pass]) << pass;
            EXPECT_EQ(unset.hill_climb_iters, expected_hci[pass]) << pass;
            const double srt = schedule == MORV_RETIMING_SCHEDULE_B && pass >= 2 ? 0.05 : 0.125;
            EXPECT_DOUBLE_EQ(unset.slack_ratio_threshold, srt) << pass;

            MORV_RETIMING_PASS_DEFAULTS given{true, 0.2, 5, 0};
            morv_retiming_pass_defaults(schedule, pass, given);
            EXPECT_EQ(given.num_iters, 5) << pass;
            EXPECT_EQ(given.hill_climb_iters, 0) << pass;
            const double kept = schedule == MORV_RETIMING_SCHEDULE_B && pass >= 2 ? 0.05 : 0.2;
            EXPECT_DOUBLE_EQ(given.slack_ratio_threshold, kept) << pass;
        }
    }
    // A NaN is a value the user gave, not "none".
    MORV_RETIMING_PASS_DEFAULTS nan{true, std::numeric_limits<double>::quiet_NaN(), -1, -1};
    morv_retiming_pass_defaults(MORV_RETIMING_SCHEDULE_B, 1, nan);
    EXPECT_TRUE(std::isnan(nan.slack_ratio_threshold));
}

// The classes use their family's schedule: SRT=0.2 stays 0.2 in every pass
// of a 6-LUT family and becomes 0.05 from pass 2 on in a 4-LUT family.
TEST(RetimingFamilySchedule, FourLutFamiliesOverwriteTheUsersSrtFromPassTwo)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV, CDB_FAMILY_OBRAN}) {
        LEAF_RUN run(and_into_register(family), family, "SRT=0.2");
        ASSERT_NE(run.rtm(), nullptr);
        const bool four = run.rtm4() != nullptr;
        for (int pass = 0; pass < 4; ++pass) {
            int ni = 7, hci = -1;
            run.algorithm()->set_default_pass_parameters(pass, ni, hci);
            EXPECT_EQ(ni, 7);
            EXPECT_EQ(hci, pass < 2 ? 8 : 2);
            EXPECT_DOUBLE_EQ(run.algorithm()->get_slack_ratio_threshold(), four && pass >= 2 ? 0.05 : 0.2)
                << family << " pass " << pass;
        }
    }
}

// ------------------------------------------------------------------ cells

// A buffer LUT (mask bit 0 set in the reversed order of the 6-LUT families,
// clear in the 4-LUT order) does not invert; an inverter does. Reading bit
// 0 in the wrong order swaps the answers.
TEST(RetimingFamilyCells, WireLutsInvertByTheFamilysBitOrder)
{
    std::vector<int> families(std::begin(k_families_6), std::end(k_families_6));
    families.insert(families.end(), std::begin(k_families_4), std::end(k_families_4));
    for (int family : families) {
        SCOPED_TRACE(family);
        for (uint64_t truth : {0x1, 0x2}) {
            LEAF_RUN run(wire_into_register(family, truth), family);
            ASSERT_NE(run.rtm(), nullptr);
            CDB_ATOM_NODE* w0 = run.find("w0");
            const bool inverts = truth == 0x1;
            EXPECT_EQ(run.rtm()->is_inverting_wire_lut(w0), inverts);
            EXPECT_EQ(run.rtm()->is_inverter_lut(w0), inverts);
        }
    }
}

// One-input cells whose mask bit 0 misleads: a cell is a wire only when,
// evaluated as the writer evaluates it, it buffers or inverts its one
// driven input. The expected answers are worked out by hand from each
// cell's truth table.
TEST(RetimingFamilyCells, OneInputCellsAreWiresOnlyWhenTheirFunctionPassesTheInputOn)
{
    struct ROW
    {
        const char* what;
        int open_before;   // unconnected inputs in front of the driven one
        int width;         // inputs of the truth table
        uint64_t truth;    // canonical, first input = row bit 0
        int tie_slot;      // input tied to VCC, -1 for none
        bool invert_term;  // inversion bit on the driven input
        bool clear_four_input;
        bool wire, inverting, inverter;
        bool wire_4;  // the answer for a 4-LUT family where it differs
    };
    const ROW rows[] = {
        {"buffer", 0, 1, 0b10, -1, false, false, true, false, false, true},
        {"inverter", 0, 1, 0b01, -1, false, false, true, true, true, true},
        {"constant one over its input", 0, 1, 0b11, -1, false, false, false, false, false, false},
        {"reads only the open B", 0, 2, 0b1100, -1, false, false, false, false, false, false},
        {"buffer behind an inverted term", 0, 1, 0b10, -1, true, false, true, false, true, true},
        {"A xor B, B tied to VCC", 0, 2, 0b0110, 1, false, false, false, false, false, false},
        {"its one input tied to VCC", 0, 1, 0b10, 0, false, false, false, false, false, false},
        {"buffer of C, absent carry-in read at C", 2, 3, 0xf0, -1, false, true, true, false, false, false},
    };
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV, CDB_FAMILY_BRK, CDB_FAMILY_OBRAN}) {
        const bool four = family == CDB_FAMILY_ZEPLA || family == CDB_FAMILY_TEV;
        for (const ROW& row : rows) {
            SCOPED_TRACE(std::to_string(family) + ": " + row.what);
            RTM6_NET n(family);
            std::vector<CDB_ATOM_OTERM*> ins(static_cast<size_t>(row.width), nullptr);
            if (row.tie_slot != 0) ins[static_cast<size_t>(row.open_before)] = n.input("i0");
            CDB_ATOM_NODE* w0 = n.lut("w0", ins, row.truth);
            n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(w0))), "o0");
            if (row.tie_slot >= 0) w0->get_input_term_by_type(DB_DATA_A + row.tie_slot)->set_logical_vcc();
            if (row.invert_term) w0->get_input_term_by_type(DB_DATA_A + row.open_before)->set_invert();
            if (row.clear_four_input) w0->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
            LEAF_RUN run(n.take(), family);
            ASSERT_NE(run.rtm(), nullptr);
            w0 = run.find("w0");
            const bool wire = four ? row.wire_4 : row.wire;
            EXPECT_EQ(run.rtm()->is_wire_lut(w0), wire);
            if (wire) {
                EXPECT_EQ(run.rtm()->is_inverting_wire_lut(w0), row.inverting);
            }
            EXPECT_EQ(run.rtm()->is_inverter_lut(w0), row.inverter);
        }
    }
}

// An inverter inserted by a 6-LUT class carries 0xaaaa... in the reversed
// order (the cell the netlist reads as NOT i0), a buffer 0x5555...; the
// design with the inverter equals the one whose LUT reads NOT i0.
TEST(RetimingFamilyCells, InvertersAndBuffersOfSixLutFamiliesKeepTheDesign)
{
    for (int family : k_families_6) {
        SCOPED_TRACE(family);
        {
            LEAF_RUN run(and_into_register(family), family);
            CDB_ATOM_ITERM* a = RTM6_NET::in(run.find("c0"), DB_DATA_A);
            run.rtm()->insert_inverter_lcell(a);
            CDB_ATOM_NODE* cell = driver_of(a);
            ASSERT_NE(cell, nullptr);
            EXPECT_NE(std::string(cell->get_instance_name()->get_leaf()).find("_RTM0"), std::string::npos);
            EXPECT_EQ(run.api()->get_fsyn_net_util()->get_lutmask(cell), 0xaaaaaaaaaaaaaaaaULL);
            EXPECT_EQ(cell->get_lab_x(), run.find("c0")->get_lab_x());
            std::unique_ptr<CDB_ATOM_NETLIST> reference = and_into_register(family, 0x4);
            const SEQ_VERDICT v = seq_check(*reference, run.netlist(), "rtm_family_inverter", true, 100);
            EXPECT_TRUE(v.equivalent()) << v.describe();
        }
        {
            LEAF_RUN run(and_into_register(family), family);
            CDB_ATOM_ITERM* b = RTM6_NET::in(run.find("c0"), DB_DATA_B);
            run.rtm()->insert_buffer_lcell(b);
            EXPECT_EQ(run.api()->get_fsyn_net_util()->get_lutmask(driver_of(b)), 0x5555555555555555ULL);
            // Twice inverted is the design again.
            CDB_ATOM_ITERM* a = RTM6_NET::in(run.find("c0"), DB_DATA_A);
            run.rtm()->insert_inverter_lcell(a);
            run.rtm()->insert_inverter_lcell(a);
            std::unique_ptr<CDB_ATOM_NETLIST> reference = and_into_register(family);
            const SEQ_VERDICT v = seq_check(*reference, run.netlist(), "rtm_family_buffer", true, 100);
            EXPECT_TRUE(v.equivalent()) << v.describe();
        }
    }
}

// A constant input is inverted by flipping it: no cell is made.
TEST(RetimingFamilyCells, AnInvertedConstantFlipsWithoutACell)
{
    LEAF_RUN run(and_into_register(CDB_FAMILY_BRK), CDB_FAMILY_BRK);
    CDB_ATOM_ITERM* b = RTM6_NET::in(run.find("c0"), DB_DATA_B);
    run.api()->get_fsyn_cdb_interface()->set_iterm_vcc(b);
    const size_t nodes = run.netlist().get_node_count();
    run.rtm()->insert_inverter_lcell(b);
    EXPECT_TRUE(b->is_gnd());
    run.rtm()->insert_inverter_lcell(b);
    EXPECT_TRUE(b->is_vcc());
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
}

}  // namespace retiming_family_test
