// Register enables, synchronous clears and loads written as logic are read
// into the register: each form lands on the register's ports with the data
// the register is left to load, logic that others still read stays, and
// near misses stay logic. ABC proves every netlist, read and written back,
// equivalent to its file.
#include "io/blif_register_controls.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "abc_equiv.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

namespace blif_register_controls_test {

namespace {

CDB_ATOM_NODE* node_named(const CDB_ATOM_NETLIST& nl, const std::string& name)
{
    for (CDB_ATOM_NODE* n : nl)
        if (n->get_instance_name() && n->get_instance_name()->get_short_hpath() == name) return n;
    return nullptr;
}

// What drives the port: the driving atom's name, "!" in front when the
// port inverts it; "" when the port is absent or not driven.
std::string port_source(const CDB_ATOM_NODE* reg, int port)
{
    const CDB_ATOM_ITERM* t = reg->get_input_term_by_type(port);
    if (t == nullptr || t->get_source() == nullptr) return "";
    const CDB_ATOM_NODE* src = t->get_source()->get_my_node();
    return std::string(t->is_inverted() ? "!" : "") + src->get_instance_name()->get_short_hpath();
}

int count_luts(const CDB_ATOM_NETLIST& nl)
{
    int luts = 0;
    for (const CDB_ATOM_NODE* n : nl) luts += n->is_lcell_comb() ? 1 : 0;
    return luts;
}

struct CONTROL_CASE
{
    const char* name;
    const char* logic;  // covers and latches between the header and ".end"
    // Expected ports of register "q", as port_source gives them.
    const char* ena;
    const char* sclr;
    const char* sload;
    const char* sdata;
    const char* data;
    int luts;  // logic cells of the netlist read
};

const char* const k_header = ".model t\n.inputs clk en r ld a b x\n.outputs y\n";

// y reads q unless the case gives y another driver.
const CONTROL_CASE k_cases[] = {
    {"enable", ".names en a q n\n11- 1\n0-1 1\n.names q y\n1 1\n.latch n q re clk 0\n", "en", "", "", "", "a", 1},
    {"active-low enable, the mux read elsewhere too", ".names en a q y\n01- 1\n1-1 1\n.latch y q re clk 0\n", "!en", "",
     "", "", "a", 1},
    {"enable and clear over data logic",
     ".names en r a b q n\n1001- 1\n1010- 1\n0---1 1\n.names q y\n1 1\n"
     ".latch n q re clk 0\n",
     "en", "r", "", "", "n", 2},
    {"enable and load", ".names en ld a x q n\n101-- 1\n11-1- 1\n0---1 1\n.names q y\n1 1\n.latch n q re clk 0\n", "en",
     "", "ld", "x", "a", 1},
    {"enable over data logic read elsewhere too", ".names en a b q y\n110- 1\n101- 1\n0--1 1\n.latch y q re clk 0\n",
     "en", "", "", "", "q~d", 2},
    {"toggle", ".names en q n\n10 1\n01 1\n.names q y\n1 1\n.latch n q re clk 0\n", "en", "", "", "", "n", 2},
    // Near misses: no register controls may come of these.
    {"mux fed back from another register",
     ".names en a p n\n11- 1\n0-1 1\n.names q y\n1 1\n.latch n q re clk 0\n.latch a p re clk 0\n", "", "", "", "", "n",
     2},
    {"reset over the enable", ".names r en a q n\n011- 1\n00-1 1\n.names q y\n1 1\n.latch n q re clk 0\n", "", "", "",
     "", "n", 2},
    {"clear without feedback", ".names r a n\n01 1\n.names q y\n1 1\n.latch n q re clk 0\n", "", "", "", "", "n", 2},
};

class BlifRegisterControls : public ::testing::Test
{
protected:
    void SetUp() override { msg_set_quiet(true); }
};

TEST_F(BlifRegisterControls, EachFormLandsOnTheRegisterAndStaysEquivalent)
{
    for (const CONTROL_CASE& c : k_cases) {
        SCOPED_TRACE(c.name);
        const std::string text = std::string(k_header) + c.logic + ".end\n";
        BLIF_READER reader(CDB_FAMILY_BRK);
        reader.set_fold_register_controls(true);
        std::unique_ptr<CDB_ATOM_NETLIST> nl = reader.read_text(text, "t.blif");
        CDB_ATOM_NODE* q = node_named(*nl, "q");
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(port_source(q, DB_CLOCK_ENABLE), c.ena);
        EXPECT_EQ(port_source(q, DB_SYNCH_CLEAR), c.sclr);
        EXPECT_EQ(port_source(q, DB_SYNCH_LOAD), c.sload);
        EXPECT_EQ(port_source(q, DB_SYNCH_DATA), c.sdata);
        EXPECT_EQ(port_source(q, DB_DATAIN), c.data);
        EXPECT_EQ(count_luts(*nl), c.luts);
        EXPECT_TRUE(nl->verify());
        const BLIF_CONTROL_COUNTS& n = reader.get_control_counts();
        EXPECT_EQ(n.enables, *c.ena ? 1 : 0);
        EXPECT_EQ(n.clears, *c.sclr ? 1 : 0);
        EXPECT_EQ(n.loads, *c.sload ? 1 : 0);
        if (!abc_is_available()) continue;
        const std::string in = "controls_in.blif", out = "controls_out.blif";
        std::ofstream(in) << text;
        blif_write_netlist_file(*nl, out, "t");
        const ABC_RESULT r = abc_check_equivalence(in, out, true);
        EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

// A clear that acts through a complemented input, and data left complemented,
// on a 4-input family whose masks keep the other bit order.
TEST_F(BlifRegisterControls, ActiveLowClearOnAFourInputFamily)
{
    const std::string text = std::string(k_header) +
                             ".names en r a q n\n111- 1\n0--1 1\n.names q y\n1 1\n.latch n q re clk 0\n"
                             ".names en a p m\n10- 1\n0-1 1\n.latch m p re clk 0\n.names p w\n1 1\n.end\n";
    BLIF_READER reader(CDB_FAMILY_ZEPLA);
    reader.set_fold_register_controls(true);
    std::unique_ptr<CDB_ATOM_NETLIST> nl = reader.read_text(text, "t.blif");
    CDB_ATOM_NODE* q = node_named(*nl, "q");
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(port_source(q, DB_CLOCK_ENABLE), "en");
    EXPECT_EQ(port_source(q, DB_SYNCH_CLEAR), "!r");
    EXPECT_EQ(port_source(q, DB_DATAIN), "a");
    // p loads !a when enabled: the enable is taken, the data keeps a LUT.
    CDB_ATOM_NODE* p = node_named(*nl, "p");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(port_source(p, DB_CLOCK_ENABLE), "en");
    EXPECT_EQ(port_source(p, DB_SYNCH_CLEAR), "");
    EXPECT_EQ(port_source(p, DB_DATAIN), "m");
    if (!abc_is_available()) return;
    std::ofstream("controls_k4_in.blif") << text;
    blif_write_netlist_file(*nl, "controls_k4_out.blif", "t");
    const ABC_RESULT r = abc_check_equivalence("controls_k4_in.blif", "controls_k4_out.blif", true);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

// Where the logic cell holds the register, the controls stay logic; and the
// reader folds nothing unless asked.
TEST_F(BlifRegisterControls, UvoAndTheDefaultKeepTheLogic)
{
    const std::string text =
        std::string(k_header) + ".names en a q n\n11- 1\n0-1 1\n.names q y\n1 1\n.latch n q re clk 0\n.end\n";
    BLIF_READER uvo(CDB_FAMILY_UVO);
    uvo.set_fold_register_controls(true);
    std::unique_ptr<CDB_ATOM_NETLIST> nl = uvo.read_text(text, "t.blif");
    EXPECT_EQ(uvo.get_control_counts().enables, 0);
    BLIF_READER plain(CDB_FAMILY_BRK);
    nl = plain.read_text(text, "t.blif");
    EXPECT_EQ(port_source(node_named(*nl, "q"), DB_CLOCK_ENABLE), "");
    EXPECT_EQ(count_luts(*nl), 2);
}

// A real design with every form: s38417's enables, clears and loads read
// into its registers and written back. Registers keep their names, so the
// combinational check matches their next states one to one.
TEST_F(BlifRegisterControls, BenchDesignWithEveryFormStaysEquivalent)
{
    const std::string in = std::string(MORV_BENCH_DIR) + "/mcnc_k4/s38417.blif";
    BLIF_READER reader(CDB_FAMILY_ZEPLA);
    reader.set_fold_register_controls(true);
    std::unique_ptr<CDB_ATOM_NETLIST> nl = reader.read_file(in);
    const BLIF_CONTROL_COUNTS& n = reader.get_control_counts();
    EXPECT_EQ(n.enables, 784);
    EXPECT_EQ(n.clears, 63);
    EXPECT_EQ(n.loads, 12);
    int enabled = 0;
    for (const CDB_ATOM_NODE* node : *nl) {
        const CDB_ATOM_ITERM* ena = node->get_input_term_by_type(DB_CLOCK_ENABLE);
        enabled += ena != nullptr && ena->is_driven() ? 1 : 0;
    }
    EXPECT_EQ(enabled, 784);
    if (!abc_is_available()) return;
    blif_write_netlist_file(*nl, "controls_s38417.blif", reader.get_model_name());
    const ABC_RESULT r = abc_check_equivalence(in, "controls_s38417.blif", false);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

}  // namespace

}  // namespace blif_register_controls_test
