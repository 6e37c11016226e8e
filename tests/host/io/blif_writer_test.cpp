// Writing netlists that did not come from BLIF: register controls lowered
// into next-state logic, inversions and constants folded, names kept unique.
// Checked against hand-written references with ABC.
#include "io/blif_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cut/cut_block_util.h"
#include "io/blif_parser.h"
#include "io/blif_reader.h"
#include "io/blif_str_cat.h"

namespace blif_writer_test {

namespace {

class NETLIST_BUILDER
{
public:
    explicit NETLIST_BUILDER(int family) : m_names("top"), m_netlist(family) { m_netlist.set_name_mgr(&m_names); }

    CDB_ATOM_NETLIST& netlist() { return m_netlist; }

    CDB_ATOM_OTERM* input(const std::string& name)
    {
        CDB_ATOM_NODE* pin = add(CDB_KIND_IO, name);
        return pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    }
    CDB_ATOM_ITERM* output(const std::string& port)
    {
        CDB_ATOM_NODE* pin =
            cdb_create_output_pin(m_netlist.get_family(), m_names.create_unique_name(port + BLIF_OUTPUT_PIN_SUFFIX, 0));
        m_netlist.add_node(pin);
        return pin->get_input_term_by_type(DB_DATAIN);
    }
    CDB_ATOM_NODE* add(int kind, const std::string& name)
    {
        HDB_INSTANCE_NAME* n = m_names.create_unique_name(name, 0);
        CDB_ATOM_NODE* node = cdb_create_atom(m_netlist.get_family(), kind, n);
        m_netlist.add_node(node);
        return node;
    }
    // A LUT over the given drivers with a canonical truth table.
    CDB_ATOM_OTERM* lut(const std::string& name, std::initializer_list<CDB_ATOM_OTERM*> ins, uint64_t truth)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, name);
        int i = 0;
        for (CDB_ATOM_OTERM* d : ins) {
            CDB_ATOM_ITERM* t = cell->add_input_term(DB_DATA_A + i++);
            if (d) d->insert_fanout(t);
        }
        cell->set_lutmask(blif_family_lutmask(m_netlist.get_family(), i, truth));
        return cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
    }

private:
    HDB_NAME_MGR m_names;
    CDB_ATOM_NETLIST m_netlist;
};

std::string write_to_string(const CDB_ATOM_NETLIST& nl)
{
    std::ostringstream out;
    blif_write_netlist(nl, out);
    return out.str();
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

void expect_equivalent(const std::string& written, const std::string& reference, bool sequential)
{
    ABC_RESULT r = abc_check_equivalence(written, reference, sequential);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

// Every control of a register in use, on a family of each register style.
TEST(BlifWriter, RegisterControlsLoweredIntoNextState)
{
    const std::string reference = ".model ref\n.inputs d ena sclr sload sdata clr aload adata clk\n.outputs q\n"
                                  ".latch nx q re clk 0\n"
                                  // The clear acts at 0:
                                  // nx = clr & (aload ? adata : (ena ? (!sclr & (sload ? sdata : d)) : q))
                                  ".names clr aload adata ena sclr sload sdata d q nx\n"
                                  "111------ 1\n"
                                  "10-1011-- 1\n"
                                  "10-100-1- 1\n"
                                  "10-0----1 1\n"
                                  ".end\n";
    write_text("reg_ref.blif", reference);
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_RZK, CDB_FAMILY_UVO}) {
        SCOPED_TRACE("family " + std::to_string(family));
        NETLIST_BUILDER b(family);
        const int ports[] = {DB_DATAIN, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA,
                             DB_CLEAR,  DB_ASYNCH_LOAD,  DB_ASYNCH_DATA, DB_CLOCK};
        const char* names[] = {"d", "ena", "sclr", "sload", "sdata", "clr", "aload", "adata", "clk"};
        CDB_ATOM_OTERM* pins[9];
        for (int i = 0; i < 9; ++i) pins[i] = b.input(names[i]);
        CDB_ATOM_NODE* reg = b.add(CDB_KIND_REGISTER, "r");
        for (int i = 0; i < 9; ++i) {
            int port = ports[i];
            if (!reg->is_register() && port == DB_DATAIN) {  // UVO: data through the LUT
                port = DB_DATA_A;
                reg->set_lutmask(blif_family_lutmask(family, 1, 0x2));
            }
            pins[i]->insert_fanout(reg->add_input_term(port));
        }
        reg->add_output_term(DB_REG_OUT, reg->get_instance_name())->insert_fanout(b.output("q"));
        blif_write_netlist_file(b.netlist(), "reg_controls.blif");
        expect_equivalent("reg_controls.blif", "reg_ref.blif", true);
    }
}

// A BRK arithmetic cell has one mask: its comb-out reads all 64 bits, its
// sum, carry and share-out the adder halves at bits 0..15 (L, read at
// 15 - kd) and 32..47 (H, read at 15 - kf; the share-out at 15 - kd).
// Here L = a b, H = c, and the comb-out is 1 in the rows e f = 00, c in the
// rows e f = 10 and a b in the rows e f = 11, which read those halves.
TEST(BlifWriter, ArithmeticCellOutputsReadOneMask)
{
    write_text("adder_ref.blif", ".model ref\n.inputs a b c d e f cin\n.outputs comb sum carry share\n"
                                 ".names a b ab\n11 1\n"
                                 ".names c nc\n0 1\n"
                                 ".names e f a b c comb\n1111- 1\n10--1 1\n00--- 1\n"
                                 ".names ab nc cin sum\n100 1\n010 1\n001 1\n111 1\n"
                                 ".names ab nc cin carry\n11- 1\n1-1 1\n-11 1\n"
                                 ".names c share\n1 1\n"
                                 ".end\n");
    NETLIST_BUILDER b(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* cell = b.add(CDB_KIND_LCELL_COMB, "adder");
    const char* inputs[] = {"a", "b", "c", "d", "e", "f"};
    for (int k = 0; k < 6; ++k) b.input(inputs[k])->insert_fanout(cell->add_input_term(DB_DATA_A + k));
    b.input("cin")->insert_fanout(cell->add_input_term(DB_CARRY_IN));
    // Bits 48..63 all ones, 16..31 zero; the halves come with the adder mask.
    cell->set_lutmask(CDB_LUTMASK(6, 0xFFFF123400005678ull));
    cell->set_sum_lutmask(CDB_LUTMASK(5, (0x0F0Full << 16) | 0x1111ull));
    for (int port : {DB_COMB_OUT, DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT}) {
        HDB_INSTANCE_NAME* name = b.netlist().get_name_mgr()->create_unique_name(cdb_output_port_name(port), 0);
        cell->add_output_term(port, name);
    }
    const char* outputs[] = {"comb", "sum", "carry", "share"};
    const int ports[] = {DB_COMB_OUT, DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT};
    for (int i = 0; i < 4; ++i) cell->get_output_term_by_type(ports[i])->insert_fanout(b.output(outputs[i]));
    blif_write_netlist_file(b.netlist(), "adder.blif");
    expect_equivalent("adder.blif", "adder_ref.blif", false);
}

// Inverted and active-low inputs, constant-tied controls and missing ones
// (clock enable floats high).
TEST(BlifWriter, InversionsConstantsAndFloatingInputs)
{
    write_text("inv_ref.blif",
               ".model ref\n.inputs a b clk\n.outputs q y\n"
               ".latch nx q re clk 0\n"
               ".names a b q nx\n"  // enable = !b (inverted term), data = a, sclr tied to logical 0
               "10- 1\n-11 1\n"
               ".names a b y\n00 1\n"  // y = !a & !b through an inverted and an active-low LUT input
               ".end\n");
    NETLIST_BUILDER b(CDB_FAMILY_MRL);
    CDB_ATOM_OTERM* a = b.input("a");
    CDB_ATOM_OTERM* bb = b.input("b");
    CDB_ATOM_OTERM* clk = b.input("clk");
    CDB_ATOM_NODE* reg = b.add(CDB_KIND_REGISTER, "q");
    a->insert_fanout(reg->add_input_term(DB_DATAIN));
    clk->insert_fanout(reg->add_input_term(DB_CLOCK));
    CDB_ATOM_ITERM* ena = reg->add_input_term(DB_CLOCK_ENABLE);
    bb->insert_fanout(ena);
    ena->set_invert();
    CDB_ATOM_ITERM* sclr = reg->add_input_term(DB_SYNCH_CLEAR);
    sclr->set_invert();
    sclr->set_logical_gnd();  // physically VCC, inverted
    EXPECT_TRUE(sclr->is_vcc());
    reg->add_input_term(DB_SYNCH_LOAD);  // present but unconnected: floats low
    reg->add_output_term(DB_REG_OUT, reg->get_instance_name())->insert_fanout(b.output("q"));
    CDB_ATOM_OTERM* y = b.lut("y", {a, bb}, 0x8);  // a & b on the cell's own inputs
    CDB_ATOM_NODE* cell = y->get_my_node();
    cell->get_input_term_by_type(DB_DATA_A)->set_invert();
    cell->set_port_active_high(DB_DATA_B, false);
    y->insert_fanout(b.output("y"));
    blif_write_netlist_file(b.netlist(), "inv.blif");
    expect_equivalent("inv.blif", "inv_ref.blif", true);
}

TEST(BlifWriter, ConstantsAreWrittenWithoutInputs)
{
    NETLIST_BUILDER b(CDB_FAMILY_TEV);
    CDB_ATOM_OTERM* a = b.input("a");
    CDB_ATOM_OTERM* one = b.lut("one", {a}, 0x3);  // a | !a
    one->insert_fanout(b.output("one"));
    CDB_ATOM_OTERM* zero = b.lut("zero", {a, nullptr}, 0x8);  // a & floating-low input
    zero->insert_fanout(b.output("zero"));
    CDB_ATOM_ITERM* tied = b.output("tied");
    tied->set_logical_vcc();
    b.output("open");
    CDB_ATOM_NODE* reg = b.add(CDB_KIND_REGISTER, "noclk");  // never clocked: stays 0
    a->insert_fanout(reg->add_input_term(DB_DATAIN));
    reg->add_output_term(DB_REG_OUT, reg->get_instance_name())->insert_fanout(b.output("noclk"));
    std::string text = write_to_string(b.netlist());
    EXPECT_NE(text.find(".names one\n1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(".names zero\n"), std::string::npos) << text;
    EXPECT_NE(text.find(".names tied\n1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(".names open\n"), std::string::npos) << text;
    EXPECT_NE(text.find(".names noclk\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(".latch"), std::string::npos) << text;
    write_text("const.blif", text);
    write_text("const_ref.blif", ".model ref\n.inputs a\n.outputs one zero tied open noclk\n"
                                 ".names one\n1\n.names zero\n.names tied\n1\n.names open\n.names noclk\n.end\n");
    expect_equivalent("const.blif", "const_ref.blif", false);
}

// Clashing, blank-containing and port-like names still give one driver per
// net, which our own reader checks.
TEST(BlifWriter, NetNamesAreUniqueAndClean)
{
    NETLIST_BUILDER b(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = b.input("a");
    CDB_ATOM_OTERM* x1 = b.lut("x", {a}, 0x1);
    CDB_ATOM_NODE* second = b.add(CDB_KIND_LCELL_COMB, "y");
    a->insert_fanout(second->add_input_term(DB_DATA_A));
    second->set_lutmask(blif_family_lutmask(CDB_FAMILY_BRK, 1, 0x2));
    // Same oterm name as the first cell, and one named like an output port it does not drive.
    CDB_ATOM_OTERM* x2 = second->add_output_term(DB_COMB_OUT, x1->get_instance_name());
    HDB_NAME_MGR* names = b.netlist().get_name_mgr();
    CDB_ATOM_OTERM* spaced = b.lut("s", {x1, x2}, 0x6);
    spaced->set_instance_name(names->create_name(nullptr, "has blank#and\\", 0));
    CDB_ATOM_OTERM* port_like = b.lut("p", {spaced}, 0x1);
    port_like->set_instance_name(names->find_name("a"));
    port_like->insert_fanout(b.output("out"));
    x1->insert_fanout(b.output("x"));
    x1->insert_fanout(b.output("x2"));
    std::string text = write_to_string(b.netlist());
    BLIF_MODEL m = parse_blif_text(text, "written", 6);
    EXPECT_TRUE(m.m_undriven.empty()) << text;
    EXPECT_EQ(m.m_outputs.size(), 3u);
    EXPECT_NE(text.find("has_blank_and_"), std::string::npos) << text;
    EXPECT_NE(text.find(".inputs a\n"), std::string::npos) << text;
    EXPECT_NE(text.find(".outputs out x x2\n"), std::string::npos) << text;
}

TEST(BlifWriter, UnwritableAtomsAndPortClashesAreErrors)
{
    {
        // Multiply-accumulate has no function the writer can express.
        NETLIST_BUILDER b(CDB_FAMILY_BRK);
        CUT_MAC_UTIL::set_mode(b.add(CDB_KIND_MAC_OUT, "mac"), CUT_MAC_MODE_MULTIPLY_ACCUMULATE);
        try {
            write_to_string(b.netlist());
            ADD_FAILURE() << "a multiply-accumulate block was written";
        } catch (const BLIF_ERROR& e) {
            EXPECT_NE(std::string(e.what()).find("'mac': DSP mode 1"), std::string::npos) << e.what();
        }
    }
    {
        NETLIST_BUILDER b(CDB_FAMILY_BRK);
        b.input("a");
        CDB_ATOM_OTERM* c = b.lut("c", {}, 0x1);
        c->insert_fanout(b.output("a"));  // output port "a" not driven by input "a"
        EXPECT_THROW(write_to_string(b.netlist()), BLIF_ERROR);
    }
    {
        NETLIST_BUILDER b(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* a = b.input("a");
        a->insert_fanout(b.output("a"));  // a feed-through keeps one net
        std::string text = write_to_string(b.netlist());
        EXPECT_NE(text.find(".inputs a\n.outputs a\n.end\n"), std::string::npos) << text;
    }
    EXPECT_THROW(blif_write_netlist_file(CDB_ATOM_NETLIST(CDB_FAMILY_BRK), "no/such/dir/x.blif"), BLIF_ERROR);
}

// Each output of a cell is its own net, also behind an emptied slot, and a
// signal from an atom of another netlist is an error naming the reader.
TEST(BlifWriter, EveryOutputFindsItsNetAndForeignDriversAreErrors)
{
    {
        NETLIST_BUILDER b(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* a = b.input("a");
        CDB_ATOM_OTERM* gone = b.lut("gone", {a}, 0x1);
        CDB_ATOM_NODE* cell = gone->get_my_node();
        HDB_NAME_MGR* names = b.netlist().get_name_mgr();
        CDB_ATOM_OTERM* second = cell->add_output_term(DB_COMB_OUT, names->create_name(nullptr, "second", 0), 1);
        CDB_ATOM_OTERM* third = cell->add_output_term(DB_COMB_OUT, names->create_name(nullptr, "third", 0), 2);
        cell->delete_output_term(gone);
        ASSERT_EQ(cell->get_output_term(0), nullptr);
        third->insert_fanout(b.output("t"));
        CDB_ATOM_OTERM* after = b.lut("after", {second}, 0x2);
        after->insert_fanout(b.output("s"));
        const std::string text = write_to_string(b.netlist());
        EXPECT_NE(text.find(".names a second\n"), std::string::npos) << text;
        EXPECT_NE(text.find(".names a third\n"), std::string::npos) << text;
        EXPECT_NE(text.find(".names second after\n1 1\n"), std::string::npos) << text;
        EXPECT_NE(text.find(".names third t\n1 1\n"), std::string::npos) << text;
    }
    {
        NETLIST_BUILDER b(CDB_FAMILY_BRK), elsewhere(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* foreign = elsewhere.lut("foreign", {}, 0x1);
        CDB_ATOM_OTERM* reader = b.lut("reader", {foreign}, 0x2);
        reader->insert_fanout(b.output("r"));
        try {
            write_to_string(b.netlist());
            ADD_FAILURE() << "a signal from another netlist was written";
        } catch (const BLIF_ERROR& e) {
            EXPECT_NE(std::string(e.what()).find("outside the netlist"), std::string::npos) << e.what();
        }
    }
}

// Many nets wanting few names: every one gets a name of its own, the
// suffixed ones included, however many the table of taken names holds.
TEST(BlifWriter, ManyNetsWantingOneNameGetDistinctNames)
{
    NETLIST_BUILDER b(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = b.input("a");
    HDB_NAME_MGR* names = b.netlist().get_name_mgr();
    HDB_INSTANCE_NAME* wanted[3] = {names->create_name(nullptr, "w", 0), names->create_name(nullptr, "w~2", 0),
                                    names->create_name(nullptr, "v", 0)};
    std::vector<CDB_ATOM_OTERM*> outs;
    for (int i = 0; i < 600; ++i) {
        CDB_ATOM_OTERM* o = b.lut(str_cat("cell", std::to_string(i)), {a}, 0x1);
        o->set_instance_name(wanted[i % 3]);
        outs.push_back(o);
    }
    for (size_t i = 0; i < outs.size(); i += 50) outs[i]->insert_fanout(b.output(str_cat("o", std::to_string(i))));
    const std::string text = write_to_string(b.netlist());
    std::set<std::string> driven;
    std::istringstream lines(text);
    size_t covers = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".names ", 0) != 0) continue;
        ++covers;
        driven.insert(line.substr(line.rfind(' ') + 1));
    }
    EXPECT_EQ(driven.size(), covers) << "a net name is driven twice";
    EXPECT_GE(covers, outs.size());
    EXPECT_TRUE(driven.count("w") && driven.count("w~2") && driven.count("v") && driven.count("w~1")) << text;
}

// The text goes to a temporary file renamed over the target when complete:
// a write that fails half way keeps the older file and leaves nothing behind.
TEST(BlifWriter, FailedWriteKeepsTheOlderFile)
{
    namespace fs = std::filesystem;
    fs::create_directories("keep_dir");
    write_text("keep_dir/out.blif", "older contents\n");
    NETLIST_BUILDER bad(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* a = bad.input("a");
    a->insert_fanout(bad.output("y"));
    // Fails after the ports are written.
    CUT_MAC_UTIL::set_mode(bad.add(CDB_KIND_MAC_OUT, "mac"), CUT_MAC_MODE_DYNAMIC);
    EXPECT_THROW(blif_write_netlist_file(bad.netlist(), "keep_dir/out.blif"), BLIF_ERROR);
    std::ifstream in("keep_dir/out.blif");
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "older contents");
    EXPECT_EQ(std::distance(fs::directory_iterator("keep_dir"), fs::directory_iterator()), 1);

    NETLIST_BUILDER good(CDB_FAMILY_BRK);
    good.input("a")->insert_fanout(good.output("a"));
    blif_write_netlist_file(good.netlist(), "keep_dir/out.blif");
    std::ifstream again("keep_dir/out.blif");
    std::getline(again, first);
    EXPECT_EQ(first, ".model top");
    EXPECT_EQ(std::distance(fs::directory_iterator("keep_dir"), fs::directory_iterator()), 1);
    // A folder is never a file to write.
    EXPECT_THROW(blif_write_netlist_file(good.netlist(), "keep_dir"), BLIF_ERROR);
}

// A pad is the .outputs entry itself: it takes no net name from a later
// net that wants the pin's name, and one driving a sink is refused even
// when the sink comes first in the netlist.
TEST(BlifWriter, PadTermsTakeNoNetAndCannotDrive)
{
    {
        NETLIST_BUILDER b(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* a = b.input("a");
        CDB_ATOM_ITERM* y = b.output("y");
        CDB_ATOM_NODE* pin = y->get_my_node();
        ASSERT_NE(pin->get_output_term_by_type(DB_PAD_OUT), nullptr);
        CDB_ATOM_OTERM* n = b.lut("n", {a}, 0x1);
        n->set_instance_name(pin->get_instance_name());  // the net wants "y~output"
        n->insert_fanout(y);
        std::string text = write_to_string(b.netlist());
        EXPECT_NE(text.find(".outputs y\n"), std::string::npos) << text;
        EXPECT_NE(text.find(".names a y~output\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("~1"), std::string::npos) << text;
    }
    {
        NETLIST_BUILDER b(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* sink = b.lut("sink", {nullptr}, 0x2);
        sink->insert_fanout(b.output("s"));
        CDB_ATOM_NODE* pin = b.output("y")->get_my_node();
        pin->get_output_term_by_type(DB_PAD_OUT)->insert_fanout(sink->get_my_node()->get_input_term_by_type(DB_DATA_A));
        try {
            write_to_string(b.netlist());
            ADD_FAILURE() << "a pad with fanout was written";
        } catch (const BLIF_ERROR& e) {
            EXPECT_NE(std::string(e.what()).find("padout"), std::string::npos) << e.what();
        }
    }
}

}  // namespace

// A register with no clear and no other control is a latch on its data net:
// a missing clear floats high, which is inactive, so no next-state cover.
TEST(BlifWriter, RegisterWithoutControlsIsALatchOnItsDataNet)
{
    NETLIST_BUILDER b(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* d = b.input("d");
    CDB_ATOM_OTERM* clk = b.input("clk");
    CDB_ATOM_NODE* reg = b.add(CDB_KIND_REGISTER, "q");
    d->insert_fanout(reg->add_input_term(DB_DATAIN));
    clk->insert_fanout(reg->add_input_term(DB_CLOCK));
    reg->add_output_term(DB_REG_OUT, reg->get_instance_name())->insert_fanout(b.output("q"));
    const std::string text = write_to_string(b.netlist());
    EXPECT_NE(text.find(".latch d q re clk 0\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("~next"), std::string::npos) << text;
    CDB_ATOM_ITERM* clear = reg->add_input_term(DB_CLEAR);
    clear->set_logical_vcc();  // tied inactive: still a plain latch
    EXPECT_EQ(write_to_string(b.netlist()).find("~next"), std::string::npos);
    clear->set_logical_gnd();  // held cleared
    EXPECT_NE(write_to_string(b.netlist()).find("~next"), std::string::npos);
}

// A UVO cell whose register loads its synchronous data on every clock
// through the term its LUT also reads as DB_DATA_C, in QFBK mode and out of
// it: the mode bit changes nothing the writer writes. A connected
// register-cascade input is refused, naming the cell.
TEST(BlifWriter, UvoSynchronousDataSharedWithDataC)
{
    write_text("uvo_sdata_ref.blif", ".model ref\n.inputs a sd clk\n.outputs comb q\n"
                                     ".names a sd comb\n11 1\n"
                                     ".latch sd q re clk 0\n.end\n");
    for (bool qfbk : {false, true}) {
        SCOPED_TRACE(qfbk ? "qfbk" : "plain");
        NETLIST_BUILDER b(CDB_FAMILY_UVO);
        CDB_ATOM_OTERM* a = b.input("a");
        CDB_ATOM_OTERM* sd = b.input("sd");
        CDB_ATOM_OTERM* clk = b.input("clk");
        CDB_ATOM_NODE* cell = b.add(CDB_KIND_LCELL_COMB, "c");
        a->insert_fanout(cell->add_input_term(DB_DATA_A));
        CDB_ATOM_ITERM* shared = cell->add_input_term(DB_DATA_C);
        shared->set_usage_as(DB_SYNCH_DATA);
        sd->insert_fanout(shared);
        cell->add_input_term(DB_SYNCH_LOAD)->set_vcc();
        clk->insert_fanout(cell->add_input_term(DB_CLOCK));
        cell->set_lutmask(CDB_LUTMASK(4, 0xA0A0));
        if (qfbk) cell->set_bit(CDB_ATOM_BIT_QFBK_MODE);
        cell->add_output_term(DB_COMB_OUT, cell->get_instance_name())->insert_fanout(b.output("comb"));
        cell->add_output_term(DB_REG_OUT, nullptr)->insert_fanout(b.output("q"));
        ASSERT_EQ(cell->get_input_term_by_type(DB_SYNCH_DATA), shared);
        blif_write_netlist_file(b.netlist(), "uvo_sdata.blif");
        expect_equivalent("uvo_sdata.blif", "uvo_sdata_ref.blif", true);
        if (!qfbk) continue;
        cell->add_input_term(DB_REG_CASCADE_IN)->set_gnd();
        try {
            write_to_string(b.netlist());
            ADD_FAILURE() << "a connected register-cascade input was written";
        } catch (const BLIF_ERROR& e) {
            EXPECT_NE(std::string(e.what()).find("register-cascade"), std::string::npos) << e.what();
        }
    }
}

}  // namespace blif_writer_test
