// Damaged netlists: what one lost line break, a foreign line end, a cut or
// a stray byte does to a file must be an error naming its line, never a
// quietly different design.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "io/blif_parser.h"

namespace blif_damage_test {

namespace {

using namespace std::string_literals;

BLIF_MODEL parse(const std::string& text)
{
    return parse_blif_text(text, "d.blif", 6);
}

// The error's text, "" when the text is accepted.
std::string error_of(const std::string& text)
{
    try {
        parse(text);
    } catch (const BLIF_ERROR& e) {
        return e.what();
    }
    return "";
}

void expect_error(const std::string& text, const std::string& start)
{
    const std::string error = error_of(text);
    EXPECT_EQ(error.rfind(start, 0), 0u) << "text:\n" << text << "\nerror: " << error;
}

const std::string k_design = ".model top\n"
                             ".inputs a b clk\n"
                             ".outputs y q\n"
                             ".names a b y\n"
                             "11 1\n"
                             ".latch y q re clk 0\n"
                             ".end\n";

TEST(BlifDamage, LostLineBreakJoiningDirectivesIsAnError)
{
    expect_error(".model top .inputs a b clk\n.outputs y\n.names a b y\n11 1\n.end\n",
                 "d.blif:1: '.inputs' inside a '.model' line (is a line break missing?)");
    expect_error(".model top\n.inputs a b .outputs y\n.names a b y\n11 1\n.end\n",
                 "d.blif:2: '.outputs' inside a '.inputs' line");
    expect_error(".model top\n.inputs a b\n.outputs y\n.names a b y\n11 1 .end\n",
                 "d.blif:5: '.end' inside a '11' line");
    expect_error(".model top extra\n.inputs a\n.outputs a\n.end\n",
                 "d.blif:1: '.model' takes one name, found 'extra' after 'top'");
    expect_error(k_design.substr(0, k_design.size() - 1) + " junk\n", "d.blif:7: '.end' takes no words, found 'junk'");
    // A name that only starts with a dot is a name.
    BLIF_MODEL m = parse(".model top\n.inputs .a\n.outputs y\n.names .a y\n1 1\n.end\n");
    EXPECT_EQ(m.m_nets[m.m_inputs[0]].m_name, ".a");
}

TEST(BlifDamage, EveryLineEndReadsTheSameDesign)
{
    auto with_ends = [](const std::string& end) {
        std::string out;
        for (char c : k_design) out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    const BLIF_MODEL lf = parse(k_design);
    for (const char* end : {"\r\n", "\r"}) {
        SCOPED_TRACE(end[1] ? "CRLF" : "CR");
        const BLIF_MODEL m = parse(with_ends(end));
        EXPECT_EQ(m.m_name, "top");
        ASSERT_EQ(m.m_inputs.size(), 3u);
        ASSERT_EQ(m.m_covers.size(), 1u);
        EXPECT_EQ(m.m_covers[0].m_truth, lf.m_covers[0].m_truth);
        EXPECT_EQ(m.m_covers[0].m_line, 4);
        ASSERT_EQ(m.m_latches.size(), 1u);
        EXPECT_EQ(m.m_nets[m.m_latches[0].m_clock].m_name, "clk");
        EXPECT_TRUE(m.m_undriven.empty());
    }
    // Mixed ends count one line per break; errors name the right line.
    expect_error(".model top\r\n.inputs a\r.outputs y\n.names a y\r\n1 2\r.end\n", "d.blif:5: cover output value '2'");
}

// Every cut of a real netlist is either the whole model (the cut comes after
// '.end') or an error naming a line of what is left.
TEST(BlifDamage, EveryCutOfARealNetlistIsFoundOut)
{
    std::ifstream in(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s27.blif", std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    const size_t end = text.find(".end");
    ASSERT_NE(end, std::string::npos);
    for (size_t cut = 0; cut < text.size(); ++cut) {
        const std::string error = error_of(text.substr(0, cut));
        if (cut >= end + 4) {
            EXPECT_EQ(error, "") << "cut at " << cut;
            continue;
        }
        ASSERT_FALSE(error.empty()) << "cut at " << cut << " accepted";
        EXPECT_EQ(error.rfind("d.blif:", 0), 0u) << error;
    }
    expect_error(".model t\n.inputs a b\n.outputs y\n.names a b y\n11 1\n", "d.blif:5: the file ends without '.end'");
    expect_error(".model t\n.inputs a b\n.outputs y\n.names a b y\n11 1\n1", "d.blif:6: a cover row needs");
    expect_error(".model t\n.inputs a b\n.outputs y\n.names a b y\n.end\n",
                 "d.blif:4: cover of 'y' has inputs but no rows (a constant 0 lists no inputs; is a row missing?)");
}

TEST(BlifDamage, FilesWithoutADesignAreErrors)
{
    expect_error("", "d.blif: the file holds no model");
    expect_error("# nothing but a comment\n\n", "d.blif: the file holds no model");
    expect_error(".model t\n.end\n", "d.blif:1: model 't' declares no outputs");
    expect_error(".inputs a\n.end\n", "d.blif:2: model 'd' declares no outputs");
    expect_error(".model t\n.inputs a clk\n.latch a q re clk 0\n.end\n", "d.blif:1: model 't' declares no outputs");
}

TEST(BlifDamage, NamesMustSurviveBeingWritten)
{
    expect_error(std::string(".model t\n.inputs a\n.outputs y\n.names a y\x01\n1 1\n.end\n"),
                 "d.blif:4: control character 0x01 in 'y?'");
    expect_error(".model t\n.inputs a\n.outputs y\n.names a y\0z\n1 1\n.end\n"s, "d.blif:4: NUL byte in the line");
    expect_error("# a comment \0 cut short for other readers\n.model t\n.inputs a\n.outputs a\n.end\n"s,
                 "d.blif:1: NUL byte in the line");
    // The writer turns '\' into '_': the two nets would become one.
    expect_error(".model t\n.inputs a_b\n.outputs y\n.names a\\b y\n1 1\n.end\n",
                 "d.blif:4: nets 'a_b' (line 2) and 'a\\b' (line 4) would both be written as 'a_b'");
    expect_error(".model t\n.inputs a\n.outputs y\n.names a\\1 y\n1 1\n.names a a_1\n1 1\n.end\n",
                 "d.blif:6: nets 'a\\1' (line 4) and 'a_1' (line 6) would both be written as 'a_1'");
    // Two names that only meet once both are written.
    expect_error(".model t\n.inputs a\\_b a_\\b\n.outputs o p\n.names a\\_b o\n1 1\n.names a_\\b p\n0 1\n.end\n",
                 "d.blif:2: nets 'a\\_b' (line 2) and 'a_\\b' (line 2) would both be written as 'a__b'");
    // Tabs, form feeds and bytes beyond ASCII are not control characters.
    BLIF_MODEL m = parse(".model t\n.inputs\ta\f\xc3\xa9\n.outputs y\n.names a \xc3\xa9 y\n11 1\n.end\n");
    EXPECT_EQ(m.m_nets[m.m_inputs[1]].m_name, "\xc3\xa9");
}

}  // namespace

}  // namespace blif_damage_test
