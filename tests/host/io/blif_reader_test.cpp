// Mapping BLIF onto atoms: masks in each family's bit order, registers with
// power-up 1, undriven nets, names and the family parameter.
#include "io/blif_reader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "morv_test_util.h"
#include "msg/msg.h"

namespace blif_reader_test {

namespace {

const int k_all_families[] = {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA,   CDB_FAMILY_TEV,
                              CDB_FAMILY_MRL, CDB_FAMILY_KESTLIN, CDB_FAMILY_ZEPLA_B,
                              CDB_FAMILY_RZK, CDB_FAMILY_OBRAN,   CDB_FAMILY_UVO};

CDB_ATOM_NODE* find_node(const CDB_ATOM_NETLIST& nl, const std::string& name)
{
    for (CDB_ATOM_NODE* n : nl)
        if (n->get_instance_name() && n->get_instance_name()->get_short_hpath() == name) return n;
    return nullptr;
}

CDB_ATOM_NODE* source_node(const CDB_ATOM_ITERM* t)
{
    return t && t->get_source() ? t->get_source()->get_my_node() : nullptr;
}

size_t undriven_warnings()
{
    return static_cast<size_t>(count_posted("WHOST_BLIF_UNDRIVEN_NETS"));
}

class BlifReader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        msg_clear_posted_messages();
    }
};

// Every family computes the cover's function through its own evaluation,
// whatever the order it keeps mask bits in, and ignores its unused inputs.
TEST_F(BlifReader, MaskFollowsEachFamilysBitOrder)
{
    const std::string text = ".model t\n.inputs a b c\n.outputs y\n.names a b c y\n1-0 1\n011 1\n.end\n";
    auto f = [](unsigned a, unsigned b, unsigned c) { return (a && !c) || (!a && b && c) ? 1u : 0u; };
    for (int family : k_all_families) {
        SCOPED_TRACE("family " + std::to_string(family));
        BLIF_READER reader(family);
        auto nl = reader.read_text(text, "t.blif");
        CDB_ATOM_NODE* y = find_node(*nl, "y");
        ASSERT_NE(y, nullptr);
        EXPECT_EQ(y->get_kind() == CDB_KIND_LCELL_COMB || y->is_lcell(), true);
        EXPECT_EQ(y->get_lutmask().get_num_inputs(), cdb_family_lut_size(family));
        for (unsigned row = 0; row < 128; ++row) {
            unsigned in[9] = {row & 1,
                              (row >> 1) & 1,
                              (row >> 2) & 1,
                              (row >> 3) & 1,
                              (row >> 4) & 1,
                              (row >> 5) & 1,
                              0,
                              (row >> 6) & 1,
                              0};
            ASSERT_EQ(y->evaluate_output(DB_COMB_OUT, in), f(in[0], in[1], in[2])) << "row " << row;
        }
    }
}

TEST_F(BlifReader, RawMaskBitsDifferBetweenBitOrders)
{
    // y = a & !b: true only on row k = 1.
    const std::string text = ".model t\n.inputs a b\n.outputs y\n.names a b y\n10 1\n.end\n";
    auto brk = BLIF_READER(CDB_FAMILY_BRK).read_text(text, "t.blif");
    auto mrl = BLIF_READER(CDB_FAMILY_MRL).read_text(text, "t.blif");
    auto tev = BLIF_READER(CDB_FAMILY_TEV).read_text(text, "t.blif");
    // Rows repeat over the unused inputs c..f (period 4).
    EXPECT_EQ(find_node(*mrl, "y")->get_lutmask().get_value(), 0x2222222222222222ull);
    EXPECT_EQ(find_node(*brk, "y")->get_lutmask().get_value(), 0x4444444444444444ull);
    EXPECT_EQ(find_node(*tev, "y")->get_lutmask().get_value(), 0x2222ull);
    EXPECT_EQ(blif_family_lutmask(CDB_FAMILY_OBRAN, 6, 1ull).get_value(), 1ull << 63);
    EXPECT_EQ(blif_family_lutmask(CDB_FAMILY_RZK, 0, 1ull).get_value(), ~0ull);
}

TEST_F(BlifReader, StructureNamesAndTerms)
{
    BLIF_READER reader("brk");
    EXPECT_EQ(reader.get_family(), CDB_FAMILY_BRK);
    auto nl = reader.read_text(".model top\n.inputs a clk\n.outputs q y\n"
                               ".latch n q re clk 2\n"
                               ".names a q n\n11 1\n"
                               ".names a y\n1 1\n.end\n",
                               "t.blif");
    EXPECT_EQ(reader.get_model_name(), "top");
    EXPECT_EQ(nl->get_node_count(), 7u);  // 2 input pins, 2 output pins, 2 cells, 1 register
    CDB_ATOM_NODE* q = find_node(*nl, "q");
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(q->is_lcell_ff());
    EXPECT_EQ(source_node(q->get_input_term_by_type(DB_DATAIN)), find_node(*nl, "n"));
    EXPECT_EQ(source_node(q->get_input_term_by_type(DB_CLOCK)), find_node(*nl, "clk"));
    EXPECT_EQ(q->get_input_term_by_type(DB_CLOCK_ENABLE), nullptr);
    CDB_ATOM_NODE* pin = find_node(*nl, "y~output");
    ASSERT_NE(pin, nullptr);
    EXPECT_TRUE(pin->is_pin());
    EXPECT_EQ(source_node(pin->get_input_term_by_type(DB_DATAIN)), find_node(*nl, "y"));
    EXPECT_EQ(blif_output_port_name("y~output"), "y");
    EXPECT_EQ(blif_output_port_name("y~output_12"), "y");
    EXPECT_EQ(blif_output_port_name("y~output_x"), "y~output_x");
    EXPECT_EQ(blif_output_port_name("y~output~output"), "y~output");
    for (CDB_ATOM_NODE* n : *nl) {
        ASSERT_NE(n->get_instance_name(), nullptr);
        EXPECT_TRUE(n->get_instance_name()->has_flag(HDB_INAME_FLAG_FROM_NETLIST))
            << n->get_instance_name()->get_short_hpath();
        for (auto it = n->begin_oterm(); it != n->end_oterm(); ++it) EXPECT_GE((*it)->get_host_index(), 0);
    }
    EXPECT_TRUE(nl->verify());
    EXPECT_EQ(undriven_warnings(), 0u);
}

// Only output pins carry a pad term; it is named like the pin, drives
// nothing and is numbered like the other terms read from the file.
TEST_F(BlifReader, OutputPinsCarryTheirPadTerm)
{
    for (int family : k_all_families) {
        SCOPED_TRACE("family " + std::to_string(family));
        auto nl =
            BLIF_READER(family).read_text(".model t\n.inputs a b\n.outputs y a\n.names a b y\n11 1\n.end\n", "t.blif");
        std::set<int> host_indices;
        size_t pads = 0, oterms = 0;
        for (CDB_ATOM_NODE* n : *nl)
            for (auto it = n->begin_oterm(); it != n->end_oterm(); ++it) {
                ++oterms;
                host_indices.insert((*it)->get_host_index());
                if ((*it)->is_used_as(DB_PAD_OUT)) ++pads;
            }
        EXPECT_EQ(pads, 2u);
        EXPECT_EQ(host_indices.size(), oterms);
        for (const char* name : {"y~output", "a~output"}) {
            CDB_ATOM_NODE* pin = find_node(*nl, name);
            ASSERT_NE(pin, nullptr) << name;
            EXPECT_TRUE(pin->is_pin());
            ASSERT_EQ(pin->get_output_count(), 1);
            CDB_ATOM_OTERM* pad = pin->get_output_term_by_type(DB_PAD_OUT);
            ASSERT_NE(pad, nullptr) << name;
            EXPECT_EQ(pad->get_instance_name(), pin->get_instance_name());
            EXPECT_FALSE(pad->has_fanout());
            EXPECT_GE(pad->get_host_index(), 0);
            EXPECT_NE(source_node(pin->get_input_term_by_type(DB_DATAIN)), nullptr);
        }
        // A feed-through output reads the input pin, which has no pad.
        CDB_ATOM_NODE* a = find_node(*nl, "a");
        EXPECT_EQ(source_node(find_node(*nl, "a~output")->get_input_term_by_type(DB_DATAIN)), a);
        EXPECT_EQ(a->get_output_term_by_type(DB_PAD_OUT), nullptr);
        EXPECT_EQ(find_node(*nl, "y")->get_output_term_by_type(DB_PAD_OUT), nullptr);
        EXPECT_TRUE(nl->verify());
    }
}

TEST_F(BlifReader, PowerUpOneBecomesInverterRegisterInverter)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        SCOPED_TRACE("family " + std::to_string(family));
        auto nl =
            BLIF_READER(family).read_text(".model t\n.inputs d clk\n.outputs q\n.latch d q re clk 1\n.end\n", "t.blif");
        CDB_ATOM_NODE* out_inv = find_node(*nl, "q");
        ASSERT_NE(out_inv, nullptr);
        ASSERT_FALSE(out_inv->is_register());
        CDB_ATOM_NODE* reg = source_node(out_inv->get_input_term_by_type(DB_DATA_A));
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg->get_instance_name()->get_short_hpath(), "q~init_reg");
        const int data_port = reg->is_register() ? DB_DATAIN : DB_DATA_A;
        CDB_ATOM_NODE* in_inv = source_node(reg->get_input_term_by_type(data_port));
        ASSERT_NE(in_inv, nullptr);
        EXPECT_EQ(source_node(in_inv->get_input_term_by_type(DB_DATA_A)), find_node(*nl, "d"));
        EXPECT_EQ(source_node(reg->get_input_term_by_type(DB_CLOCK)), find_node(*nl, "clk"));
        unsigned zero[9] = {}, one[9] = {1};
        EXPECT_EQ(in_inv->evaluate_output(DB_COMB_OUT, zero), 1u);
        EXPECT_EQ(in_inv->evaluate_output(DB_COMB_OUT, one), 0u);
        EXPECT_EQ(out_inv->evaluate_output(DB_COMB_OUT, one), 0u);
        if (!reg->is_register()) {  // a UVO register passes its LUT input through
            EXPECT_TRUE(reg->is_lcell());
            EXPECT_EQ(reg->evaluate_output(DB_REG_OUT, one), 1u);
            EXPECT_EQ(reg->evaluate_output(DB_REG_OUT, zero), 0u);
        }
    }
}

TEST_F(BlifReader, UndrivenNetsTiedToZeroWithOneWarningOrAnError)
{
    const std::string text = ".model t\n.inputs a\n.outputs y z\n.names a u1 y\n11 1\n.names u2 u1 z\n01 1\n.end\n";
    BLIF_READER reader(CDB_FAMILY_MRL);
    auto nl = reader.read_text(text, "t.blif");
    EXPECT_EQ(reader.get_undriven_count(), 2u);
    ASSERT_EQ(undriven_warnings(), 1u);
    EXPECT_NE(msg_posted_messages().back().text.find("2 undriven nets tied to constant 0: u1 (line 4), u2 (line 6)"),
              std::string::npos)
        << msg_posted_messages().back().text;
    CDB_ATOM_ITERM* b = find_node(*nl, "y")->get_input_term_by_type(DB_DATA_B);
    EXPECT_TRUE(b->is_logical_gnd());
    EXPECT_EQ(b->get_source(), nullptr);

    // Quiet mode hides information, not this warning: the design is a guess.
    testing::internal::CaptureStderr();
    reader.read_text(text, "t.blif");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("WHOST_BLIF_UNDRIVEN_NETS"), std::string::npos);

    msg_clear_posted_messages();
    reader.set_undriven_is_error(true);
    try {
        reader.read_text(text, "t.blif");
        ADD_FAILURE() << "undriven nets accepted";
    } catch (const BLIF_ERROR& e) {
        EXPECT_EQ(std::string(e.what()).rfind("t.blif:4: net 'u1' is read but never driven", 0), 0u) << e.what();
    }
    EXPECT_EQ(undriven_warnings(), 0u);
}

TEST_F(BlifReader, BenchmarkDesignsWithUndrivenNetsLoad)
{
    const std::string dir = std::string(MORV_BENCH_DIR) + "/misc_k6/";
    struct CASE
    {
        const char* file;
        size_t undriven, luts, registers;
    } cases[] = {{"riscv_core_lut6.blif", 35, 3157, 32}, {"stereovision0.lut6.blif", 99, 11349, 11708}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.file);
        msg_clear_posted_messages();
        BLIF_READER reader(CDB_FAMILY_BRK);
        auto nl = reader.read_file(dir + c.file);
        EXPECT_EQ(reader.get_undriven_count(), c.undriven);
        ASSERT_EQ(undriven_warnings(), 1u);
        EXPECT_NE(msg_posted_messages().back().text.find(std::to_string(c.undriven) + " undriven nets"),
                  std::string::npos);
        size_t luts = 0, registers = 0;
        for (CDB_ATOM_NODE* n : *nl) {
            luts += n->is_lcell_comb();
            registers += n->is_register();
        }
        EXPECT_EQ(luts, c.luts);
        EXPECT_EQ(registers, c.registers);
    }
}

TEST_F(BlifReader, ErrorsAndFamilies)
{
    EXPECT_THROW(BLIF_READER(99), std::invalid_argument);
    EXPECT_THROW(BLIF_READER("nosuchfamily"), std::invalid_argument);
    EXPECT_EQ(BLIF_READER("TEV").get_lut_size(), 4);
    EXPECT_EQ(BLIF_READER(CDB_FAMILY_KESTLIN).get_lut_size(), 6);
    const std::string wide = ".model t\n.inputs a b c d e\n.outputs y\n.names a b c d e y\n11111 1\n.end\n";
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO}) {
        try {
            BLIF_READER(family).read_text(wide, "w.blif");
            ADD_FAILURE() << "5-input cover accepted by family " << family;
        } catch (const BLIF_ERROR& e) {
            EXPECT_EQ(std::string(e.what()), "w.blif:4: cover of 'y' has 5 inputs; the LUT has only 4");
        }
    }
    EXPECT_NO_THROW(BLIF_READER(CDB_FAMILY_OBRAN).read_text(wide, "w.blif"));
    // Names of a failed read are not left behind as atoms in a shared manager.
    HDB_NAME_MGR names("top");
    EXPECT_THROW(
        BLIF_READER(CDB_FAMILY_BRK).read_text(".model t\n.inputs a\n.names a a\n1 1\n.end\n", "x.blif", &names),
        BLIF_ERROR);
    EXPECT_EQ(names.find_name("a"), nullptr);
}

}  // namespace

// A flip-flop's reset reaches the register's clear, which acts at logical 0:
// through the inversion for an active-high reset. Clocks are on a global
// network; a falling edge reads the clock inverted, whether a gate-level
// flip-flop or a latch of type 'fe' (what the writer writes) gives it.
TEST_F(BlifReader, ResetFlipFlopsDriveTheClear)
{
    BLIF_READER reader("brk");
    auto nl = reader.read_text(".model top\n.inputs d clk r\n.outputs a b c e u f g\n"
                               ".subckt $_DFF_PP0_ C=clk D=d Q=a R=r\n"
                               ".subckt $_DFF_PN0_ C=clk D=d Q=b R=r\n"
                               ".subckt $_DFF_NP0_ C=clk D=d Q=c R=r\n"
                               ".subckt $_DFF_NN0_ C=clk D=d Q=e R=r\n"
                               ".subckt $_DFF_PP0_ C=clk D=d Q=u R=nowhere\n"
                               ".latch d p re clk 0\n.names p u2\n1 1\n"
                               ".latch d f fe clk 0\n.latch d g fe clk 1\n.end\n",
                               "t.blif");
    struct CASE
    {
        const char* q;
        bool clear_inverted;
        bool clock_inverted;
    } cases[] = {{"a", true, false}, {"b", false, false}, {"c", true, true}, {"e", false, true}};
    for (const CASE& c : cases) {
        CDB_ATOM_NODE* q = find_node(*nl, c.q);
        ASSERT_NE(q, nullptr) << c.q;
        CDB_ATOM_ITERM* clear = q->get_input_term_by_type(DB_CLEAR);
        ASSERT_NE(clear, nullptr) << c.q;
        EXPECT_EQ(source_node(clear), find_node(*nl, "r")) << c.q;
        EXPECT_EQ(clear->is_inverted(), c.clear_inverted) << c.q;
        CDB_ATOM_ITERM* clock = q->get_input_term_by_type(DB_CLOCK);
        EXPECT_EQ(clock->is_inverted(), c.clock_inverted) << c.q;
        EXPECT_EQ(clock->get_global(), 4) << c.q;
    }
    // An undriven reset reads as 0: the clear of an active-high one stays idle.
    CDB_ATOM_ITERM* idle = find_node(*nl, "u")->get_input_term_by_type(DB_CLEAR);
    ASSERT_NE(idle, nullptr);
    EXPECT_TRUE(idle->is_logical_vcc());
    CDB_ATOM_NODE* plain = find_node(*nl, "p");
    EXPECT_EQ(plain->get_input_term_by_type(DB_CLEAR), nullptr);
    EXPECT_EQ(plain->get_input_term_by_type(DB_CLOCK)->get_global(), 4);
    EXPECT_FALSE(plain->get_input_term_by_type(DB_CLOCK)->is_inverted());
    // Power-up 1 keeps the edge on the register between its inverters.
    for (const char* falling : {"f", "g~init_reg"}) {
        CDB_ATOM_NODE* reg = find_node(*nl, falling);
        ASSERT_NE(reg, nullptr) << falling;
        EXPECT_EQ(reg->get_input_term_by_type(DB_CLEAR), nullptr) << falling;
        EXPECT_TRUE(reg->get_input_term_by_type(DB_CLOCK)->is_inverted()) << falling;
        EXPECT_EQ(source_node(reg->get_input_term_by_type(DB_CLOCK)), find_node(*nl, "clk")) << falling;
    }
    EXPECT_TRUE(nl->verify());
}

// Packed as synthesis hands UVO designs over: a register shares the cell
// whose LUT computes its data, one register to a cell, and the LUT goes on
// driving its other sinks; a register fed by a pin or by an occupied LUT
// keeps a cell of its own. Families with register atoms are unchanged.
TEST_F(BlifReader, PackedRegistersJoinTheLutComputingTheirData)
{
    const std::string text = ".model t\n.inputs a b d clk r\n.outputs y q1 q2 q3 q4 q5\n"
                             ".names a b x\n11 1\n.names x y\n0 1\n"
                             ".latch x q1 re clk 0\n.latch x q2 re clk 0\n.latch d q3 re clk 0\n"
                             ".names a b x4\n1- 1\n.latch x4 q4 re clk 1\n"
                             ".names a b x5\n01 1\n.subckt $_DFF_NP0_ C=clk D=x5 Q=q5 R=r\n.end\n";
    BLIF_READER reader(CDB_FAMILY_UVO);
    const size_t plain_count = reader.read_text(text, "t.blif")->get_node_count();
    reader.set_pack_registers(true);
    auto nl = reader.read_text(text, "t.blif");
    ASSERT_TRUE(nl->verify());
    // q1, q4's inner register and q5 joined their LUTs.
    EXPECT_EQ(nl->get_node_count() + 3, plain_count);

    CDB_ATOM_NODE* x = find_node(*nl, "x");
    CDB_ATOM_OTERM* q1 = x->get_output_term_by_type(DB_REG_OUT);
    ASSERT_NE(q1, nullptr);
    EXPECT_EQ(q1->get_instance_name()->get_short_hpath(), "q1");
    EXPECT_EQ(source_node(x->get_input_term_by_type(DB_CLOCK)), find_node(*nl, "clk"));
    EXPECT_EQ(x->get_input_term_by_type(DB_CLOCK)->get_global(), 4);
    EXPECT_EQ(source_node(find_node(*nl, "y")->get_input_term_by_type(DB_DATA_A)), x);
    EXPECT_EQ(source_node(find_node(*nl, "q1~output")->get_input_term_by_type(DB_DATAIN)), x);
    unsigned in[9] = {1, 1};
    EXPECT_EQ(x->evaluate_output(DB_REG_OUT, in), 1u);
    in[1] = 0;
    EXPECT_EQ(x->evaluate_output(DB_REG_OUT, in), 0u);

    for (const char* own : {"q2", "q3"}) {
        CDB_ATOM_NODE* reg = find_node(*nl, own);
        ASSERT_NE(reg, nullptr) << own;
        EXPECT_EQ(source_node(reg->get_input_term_by_type(DB_DATA_A)),
                  std::string(own) == "q2" ? x : find_node(*nl, "d"));
    }
    // Power-up 1: the inverter in front takes the register.
    CDB_ATOM_NODE* d_inv = find_node(*nl, "q4~init_d");
    ASSERT_NE(d_inv, nullptr);
    EXPECT_NE(d_inv->get_output_term_by_type(DB_REG_OUT), nullptr);
    EXPECT_EQ(source_node(find_node(*nl, "q4")->get_input_term_by_type(DB_DATA_A)), d_inv);
    // A falling clock and an active-high reset keep their inversions.
    CDB_ATOM_NODE* x5 = find_node(*nl, "x5");
    ASSERT_NE(x5->get_input_term_by_type(DB_CLEAR), nullptr);
    EXPECT_EQ(source_node(x5->get_input_term_by_type(DB_CLEAR)), find_node(*nl, "r"));
    EXPECT_TRUE(x5->get_input_term_by_type(DB_CLEAR)->is_inverted());
    EXPECT_TRUE(x5->get_input_term_by_type(DB_CLOCK)->is_inverted());

    BLIF_READER brk(CDB_FAMILY_BRK);
    const size_t brk_count = brk.read_text(text, "t.blif")->get_node_count();
    brk.set_pack_registers(true);
    EXPECT_EQ(brk.read_text(text, "t.blif")->get_node_count(), brk_count);
}

}  // namespace blif_reader_test
