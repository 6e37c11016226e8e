// Text-level BLIF reading: cover semantics and the messages for malformed
// files. Mapping onto atoms is covered by the round-trip tests.
#include "io/blif_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace blif_parse_test {

namespace {

BLIF_MODEL parse(const std::string& text, int k = 6)
{
    return parse_blif_text(text, "t.blif", k);
}

// Expects the text to be rejected with exactly "t.blif:LINE: ..." containing `part`.
void expect_error(const std::string& text, int line, const std::string& part, int k = 6)
{
    try {
        parse(text, k);
        FAIL() << "accepted: " << text;
    } catch (const BLIF_ERROR& e) {
        std::string what = e.what();
        EXPECT_EQ(e.get_line(), line) << what;
        EXPECT_EQ(what.rfind("t.blif:" + std::to_string(line) + ": ", 0), 0u) << what;
        EXPECT_NE(what.find(part), std::string::npos) << what;
    }
}

uint64_t truth_of(const BLIF_MODEL& m, const std::string& net)
{
    for (const BLIF_COVER& c : m.m_covers)
        if (m.m_nets[c.m_output].m_name == net) return c.m_truth;
    ADD_FAILURE() << "no cover for " << net;
    return 0;
}

TEST(BlifParse, CoverSemantics)
{
    BLIF_MODEL m = parse(".model t\n.inputs a b c\n.outputs f g h one zero\n"
                         ".names a b c f\n1-0 1\n-11 1\n"  // don't-cares; first input is bit 0
                         ".names a b g\n11 0\n"            // OFF-set cover: g = !(a & b)
                         ".names a h\n1 1\n"               // buffer
                         ".names one\n1\n"                 // constant 1
                         ".names zero\n"                   // no rows: constant 0
                         ".end\n");
    uint64_t f = 0;
    for (int k = 0; k < 8; ++k) {
        int a = k & 1, b = (k >> 1) & 1, c = (k >> 2) & 1;
        if ((a && !c) || (b && c)) f |= 1ull << k;
    }
    EXPECT_EQ(truth_of(m, "f"), f);
    EXPECT_EQ(truth_of(m, "g"), 0x7u);
    EXPECT_EQ(truth_of(m, "h"), 0x2u);
    EXPECT_EQ(truth_of(m, "one"), 0x1u);
    EXPECT_EQ(truth_of(m, "zero"), 0x0u);
    EXPECT_TRUE(m.m_undriven.empty());
}

TEST(BlifParse, SixInputOffSetStaysWithinSixtyFourRows)
{
    BLIF_MODEL m = parse(".model t\n.inputs a b c d e f\n.outputs y\n.names a b c d e f y\n111111 0\n.end\n");
    EXPECT_EQ(m.m_covers[0].m_truth, ~0ull >> 1);
}

TEST(BlifParse, ContinuationLinesCommentsAndLatches)
{
    BLIF_MODEL m = parse("# header comment\n"
                         ".model t   # trailing comment\n"
                         ".inputs a \\\n b \\\n  clk\n"
                         ".outputs q1 q2 q3 q4\n"
                         ".latch d q1 re clk 1\n"
                         ".latch d q2 re clk 2\n"
                         ".latch d q3 re clk 3\n"
                         ".latch d q4 fe clk 1\n"
                         ".names a \\\n b d\n11 1\n"
                         ".default_input_arrival 0 0\n"
                         ".end\n");
    ASSERT_EQ(m.m_inputs.size(), 3u);
    EXPECT_EQ(m.m_nets[m.m_inputs[2]].m_name, "clk");
    ASSERT_EQ(m.m_latches.size(), 4u);
    EXPECT_EQ(m.m_latches[0].m_init, 1);
    EXPECT_EQ(m.m_latches[1].m_init, 0);  // don't care reads as 0
    EXPECT_EQ(m.m_latches[2].m_init, 0);  // unknown reads as 0
    // What the writer writes for a register on the inverted clock.
    EXPECT_FALSE(m.m_latches[0].m_clock_falling);
    EXPECT_TRUE(m.m_latches[3].m_clock_falling);
    EXPECT_EQ(m.m_latches[3].m_init, 1);
    EXPECT_EQ(m.m_latches[0].m_line, 7);
    EXPECT_EQ(m.m_covers[0].m_line, 11);
    EXPECT_EQ(m.m_covers[0].m_inputs.size(), 2u);
    EXPECT_EQ(m.m_covers[0].m_truth, 0x8u);
    // Lines after a joined line keep their physical numbers.
    expect_error(".model t\n.inputs a \\\n b\n.outputs y\n.latch a y al b 0\n.end\n", 5, "'al'");
}

TEST(BlifParse, MissingModelNameComesFromTheFile)
{
    BLIF_MODEL m = parse_blif_text(".inputs a\n.outputs y\n.names a y\n0 1\n.end\n", "dir/adder.v1.blif", 6);
    EXPECT_EQ(m.m_name, "adder");
    EXPECT_EQ(m.m_covers[0].m_truth, 0x1u);
    expect_error(".model t\n.inputs a\n.end\n.model u\n.end\n", 4, "only one model");
    expect_error(".model t\n.inputs a\n.model u\n", 3, "only one model");
    expect_error(".model t\n.inputs a\n.end\n.names a b\n", 4, "after '.end'");
    expect_error(".model t\n.inputs a\n.end\n1 1\n", 4, "outside a '.names' block");
}

TEST(BlifParse, LatchErrors)
{
    const std::string head = ".model t\n.inputs d clk\n.outputs q\n";
    expect_error(head + ".latch d q ah clk 0\n.end\n", 4, "latch type 'ah' is not supported");
    expect_error(head + ".latch d q xx clk 0\n.end\n", 4, "unknown latch type 'xx'");
    expect_error(head + ".latch d q 0\n.end\n", 4, "has no clock");
    expect_error(head + ".latch d q re NIL 0\n.end\n", 4, "has no clock");
    expect_error(head + ".latch d q re clk 4\n.end\n", 4, "initial value '4'");
    expect_error(head + ".latch d\n.end\n", 4, "'.latch' takes");
}

TEST(BlifParse, CoverErrors)
{
    const std::string head = ".model t\n.inputs a b c d e\n.outputs y\n";
    expect_error(head + ".names a b c d e y\n11111 1\n.end\n", 4, "has 5 inputs; the LUT has only 4", 4);
    EXPECT_NO_THROW(parse(head + ".names a b c d e y\n11111 1\n.end\n", 6));
    expect_error(head + ".names a b y\n1 1\n.end\n", 5, "expected 2");
    expect_error(head + ".names a b y\n1x 1\n.end\n", 5, "'x'");
    expect_error(head + ".names a b y\n11 2\n.end\n", 5, "not 0 or 1");
    expect_error(head + ".names a b y\n11 1\n00 0\n.end\n", 6, "mixes 0 and 1");
    expect_error(head + ".names a b y\n11\n.end\n", 5, "input plane and an output");
    expect_error(head + ".names\n.end\n", 4, "needs an output");
    expect_error(head + ".subckt foo x=a\n.end\n", 4, "'.subckt' is not supported");
    expect_error(head + ".frobnicate\n.end\n", 4, "unknown directive '.frobnicate'");
    expect_error(head + ".outputs y\n.end\n", 4, "output 'y' is declared twice");
}

TEST(BlifParse, NetDrivenTwice)
{
    const std::string head = ".model t\n.inputs a clk\n.outputs y\n";
    expect_error(head + ".names a y\n1 1\n.names a y\n0 1\n.end\n", 6,
                 "net 'y' is driven twice (first driver on line 4)");
    expect_error(head + ".names y a\n1 1\n.end\n", 4, "net 'a' is driven twice (first driver on line 2)");
    expect_error(head + ".latch a y re clk 0\n.names a y\n1 1\n.end\n", 5, "net 'y' is driven twice");
    expect_error(".model t\n.inputs a a\n.end\n", 2, "net 'a' is driven twice");
}

TEST(BlifParse, CombinationalLoops)
{
    // Loop behind an acyclic prefix, so the walk back must find the cycle itself.
    expect_error(".model t\n.inputs a\n.outputs y\n"
                 ".names a p\n1 1\n"
                 ".names p x z y\n111 1\n"
                 ".names y x\n1 1\n"
                 ".names x z\n0 1\n.end\n",
                 6, "combinational loop through net 'y'");
    expect_error(".model t\n.inputs a\n.outputs y\n.names a y y\n11 1\n.end\n", 4,
                 "combinational loop through net 'y'");
    // A latch breaks the cycle.
    BLIF_MODEL m = parse(".model t\n.inputs clk\n.outputs q\n.names q n\n0 1\n.latch n q re clk 0\n.end\n");
    EXPECT_EQ(m.m_cover_order.size(), 1u);
}

TEST(BlifParse, CoverOrderPutsDriversFirst)
{
    BLIF_MODEL m = parse(".model t\n.inputs a\n.outputs y\n.names x y\n1 1\n.names w x\n1 1\n.names a w\n1 1\n.end\n");
    ASSERT_EQ(m.m_cover_order.size(), 3u);
    EXPECT_EQ(m.m_cover_order[0], 2);
    EXPECT_EQ(m.m_cover_order[1], 1);
    EXPECT_EQ(m.m_cover_order[2], 0);
}

TEST(BlifParse, UndrivenNetsAreListedOnceWithCountAndLines)
{
    BLIF_MODEL m = parse(".model t\n.inputs a\n.outputs y u7\n"
                         ".names a u1 u2 u3 u4 u5 y\n111111 1\n"
                         ".names u6 u1 z\n11 1\n.end\n");
    ASSERT_EQ(m.m_undriven.size(), 7u);
    EXPECT_EQ(blif_undriven_warning_text(m),
              "t.blif: 7 undriven nets tied to constant 0: u7 (line 3), u1 (line 4), u2 (line 4), u3 (line 4), "
              "u4 (line 4), u5 (line 4), u6 (line 6)");
    BLIF_ERROR e = blif_undriven_error(m);
    EXPECT_EQ(e.get_line(), 3);
    EXPECT_STREQ(e.what(),
                 "t.blif:3: net 'u7' is read but never driven (7 undriven nets; also u1 (line 4), u2 (line 4), "
                 "u3 (line 4), u4 (line 4), u5 (line 4), u6 (line 6))");
    // Past ten names the rest is a count.
    std::string many = ".model t\n.inputs a\n.outputs y\n.names a";
    for (int i = 0; i < 5; ++i) many += " n" + std::to_string(i);
    many += " y\n111111 1\n";
    for (int i = 5; i < 12; ++i) many += ".names m" + std::to_string(i) + " n" + std::to_string(i) + "\n1 1\n";
    m = parse(many + ".end\n");
    ASSERT_EQ(m.m_undriven.size(), 12u);
    const std::string text = blif_undriven_warning_text(m);
    EXPECT_NE(text.find("n4 (line 4), m5 (line 6)"), std::string::npos) << text;
    const std::string tail = ", m9 (line 14) and 2 more";
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail) << text;
}

TEST(BlifParse, MissingFile)
{
    try {
        parse_blif_file("no/such/file.blif", 6);
        FAIL();
    } catch (const BLIF_ERROR& e) {
        EXPECT_STREQ(e.what(), "no/such/file.blif: cannot open: No such file or directory");
    }
}

}  // namespace

TEST(BlifParse, ResetFlipFlopErrors)
{
    const std::string head = ".model t\n.inputs d clk r\n.outputs q\n";
    expect_error(head + ".subckt $_DFF_PP1_ C=clk D=d Q=q R=r\n.end\n", 4,
                 "'.subckt' is not supported for '$_DFF_PP1_'");
    expect_error(head + ".subckt $_DFF_P_ C=clk D=d Q=q\n.end\n", 4, "'.subckt' is not supported");
    expect_error(head + ".subckt $_DFF_PP0_ C=clk D=d Q=q\n.end\n", 4, "no connection for its pin R");
    expect_error(head + ".subckt $_DFF_PP0_ C=clk D=d Q=q R=r C=d\n.end\n", 4,
                 "pin C of $_DFF_PP0_ is connected twice");
    expect_error(head + ".subckt $_DFF_PP0_ C=clk D=d Q=q S=r\n.end\n", 4, "'S=r' is not a pin connection");
    expect_error(head + ".subckt $_DFF_PP0_ C=clk D=d Q=q R=\n.end\n", 4, "'R=' is not a pin connection");
    expect_error(head + ".latch d q re clk 0\n.subckt $_DFF_NN0_ C=clk D=d Q=q R=r\n.end\n", 5, "q");
}

TEST(BlifParse, ResetFlipFlopsKeepTheirPolarities)
{
    const BLIF_MODEL m = parse_blif_text(".model t\n.inputs d clk r\n.outputs a b c e\n"
                                         ".subckt $_DFF_PP0_ C=clk D=d Q=a R=r\n"
                                         ".subckt $_DFF_PN0_ R=r Q=b D=d C=clk\n"
                                         ".subckt $_DFF_NP0_ C=clk D=d Q=c R=r\n"
                                         ".subckt $_DFF_NN0_ C=clk D=d Q=e R=r\n.end\n",
                                         "t.blif", 4);
    ASSERT_EQ(m.m_latches.size(), 4u);
    const bool falling[] = {false, false, true, true};
    const bool high[] = {true, false, true, false};
    for (size_t i = 0; i < 4; ++i) {
        const BLIF_LATCH& l = m.m_latches[i];
        EXPECT_EQ(m.m_nets[l.m_reset].m_name, "r");
        EXPECT_EQ(m.m_nets[l.m_clock].m_name, "clk");
        EXPECT_EQ(m.m_nets[l.m_d].m_name, "d");
        EXPECT_EQ(l.m_clock_falling, falling[i]) << i;
        EXPECT_EQ(l.m_reset_active_high, high[i]) << i;
        EXPECT_EQ(l.m_init, 0);
    }
    EXPECT_EQ(m.m_nets[m.m_latches[1].m_q].m_name, "b");
}

// A latch with no control (ABC writes ".latch D Q 0") takes the clock the
// other latches share, or the one --clock names; with none or several to
// choose from the first such latch is named.
TEST(BlifParse, ClocklessLatchesTakeTheDesignsClock)
{
    const std::string head = ".model t\n.inputs d e clk clk2\n.outputs q r\n";
    auto clock_of = [](const BLIF_MODEL& m, const std::string& q) {
        for (const BLIF_LATCH& l : m.m_latches)
            if (m.m_nets[l.m_q].m_name == q) return l.m_clock < 0 ? std::string("none") : m.m_nets[l.m_clock].m_name;
        return std::string("no latch");
    };
    // The one clock of the other latch, in either order, with or without an
    // initial value, and for an explicit NIL control.
    for (const char* clockless : {".latch e r 1\n", ".latch e r\n", ".latch e r re NIL 0\n"}) {
        for (bool clocked_first : {true, false}) {
            const std::string clocked = ".latch d q re clk2 0\n";
            const BLIF_MODEL m = parse(head + (clocked_first ? clocked + clockless : clockless + clocked) + ".end\n");
            EXPECT_EQ(clock_of(m, "r"), "clk2") << clockless;
            EXPECT_EQ(clock_of(m, "q"), "clk2") << clockless;
        }
    }
}

TEST(BlifParse, ClocklessLatchErrorsNameTheLatch)
{
    const std::string head = ".model t\n.inputs d e clk clk2\n.outputs q r s\n";
    // No clocked latch: nothing to take the clock from.
    expect_error(head + ".latch d q 0\n.latch e r 0\n.end\n", 4, "latch 'q' has no clock");
    // Two clocks: which one is not for the reader to guess.
    expect_error(head + ".latch d q re clk 0\n.latch e r re clk2 0\n.latch d s 0\n.end\n", 6,
                 "latch 's' has no clock, and the design has 2 clocks ('clk', 'clk2')");
    // --clock names a net the design lacks, whether or not a latch needs it.
    for (const std::string& body : {std::string(".latch d q 0\n"), std::string(".latch d q re clk 0\n")}) {
        try {
            parse_blif_text(head + body + ".end\n", "t.blif", 6, "clk3");
            FAIL() << "accepted --clock clk3";
        } catch (const BLIF_ERROR& e) {
            EXPECT_NE(std::string(e.what()).find("no net 'clk3'"), std::string::npos) << e.what();
        }
    }
}

TEST(BlifParse, ClockNetClocksEveryClocklessLatch)
{
    const std::string head = ".model t\n.inputs d e clk clk2\n.outputs q r s\n";
    // Only clockless latches: the named net clocks them all.
    BLIF_MODEL m = parse_blif_text(".model t\n.inputs d e clk\n.outputs q r\n.latch d q 0\n.latch e r 1\n.end\n",
                                   "t.blif", 6, "clk");
    ASSERT_EQ(m.m_latches.size(), 2u);
    for (const BLIF_LATCH& l : m.m_latches) ASSERT_GE(l.m_clock, 0);
    EXPECT_EQ(m.m_nets[m.m_latches[0].m_clock].m_name, "clk");
    EXPECT_EQ(m.m_nets[m.m_latches[1].m_clock].m_name, "clk");
    EXPECT_EQ(m.m_latches[1].m_init, 1);
    EXPECT_TRUE(m.m_undriven.empty());
    // Several clocks: the named one settles it, and clocked latches keep theirs.
    m = parse_blif_text(head + ".latch d q re clk 0\n.latch e r re clk2 0\n.latch d s 0\n.end\n", "t.blif", 6, "clk2");
    ASSERT_EQ(m.m_latches.size(), 3u);
    EXPECT_EQ(m.m_nets[m.m_latches[0].m_clock].m_name, "clk");
    EXPECT_EQ(m.m_nets[m.m_latches[2].m_clock].m_name, "clk2");
}

}  // namespace blif_parse_test
