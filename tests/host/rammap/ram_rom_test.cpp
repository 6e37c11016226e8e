// A RAM slice with contents and no write enable behaves like a registered
// read-only memory: the same as the LUT and register it stands for, in the
// cycle simulator and, through the BLIF writer, under ABC. Its contents
// come from memory-initialisation files, which are read strictly.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cut/cut_mif_reader.h"
#include "io/blif_table_cover.h"
#include "io/blif_writer.h"

#include "rammap_rams.h"
#include "rammap_run.h"
#include "seq_harness.h"

namespace ram_rom_test {

namespace {

constexpr uint64_t k_truth = 0xB4;  // entry a of the slice: bit a

struct ROM_DESIGN
{
    bool as_ram;
    bool with_clear;
};

// Address registers on i0..i2; then either a ROM slice or a LUT and a
// register with the same clock, enable and clear.
RAMMAP_BUILD rom_design(ROM_DESIGN d)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* en = f.input("en");
        CDB_ATOM_OTERM* clr = d.with_clear ? f.input("clr") : nullptr;
        std::vector<CDB_ATOM_OTERM*> address;
        for (int k = 0; k < 3; ++k) address.push_back(f.reg(indexed("a", k), f.input(indexed("i", k)), clk));
        if (!d.as_ram) {
            f.output("o", f.reg("q", f.lut("f", address, k_truth), clk, en, clr));
            return;
        }
        CDB_ATOM_NODE* rom = add_ram_slice(f, "rom|s0", 3, 1, clk);
        for (int k = 0; k < 3; ++k) address[k]->insert_fanout(rom->add_input_term(DB_RAM_PORTA_ADDRESS, k));
        en->insert_fanout(rom->add_input_term(DB_RAM_CLK0_ENA));
        // The RAM clear acts at 1: it reads the register clear inverted.
        CDB_ATOM_ITERM* clear = rom->add_input_term(DB_RAM_CLR0);
        if (clr != nullptr) clr->insert_fanout(clear);
        else clear->set_vcc();
        clear->set_invert();
        std::vector<bool> column;
        for (int a = 0; a < 8; ++a) column.push_back((k_truth >> a) & 1u);
        static_cast<CDB_ATOM_RAM*>(rom)->set_content(column);
        f.output("o", rom->add_output_term(DB_RAM_PORTA_DATAOUT, rom->get_instance_name()));
    };
}

std::string mif_error(const std::string& text, int width = 2, int depth = 2)
{
    const std::string path = "case.mif";
    std::ofstream(path) << text;
    try {
        cut_read_mif_file(path, width, depth);
    } catch (const CUT_MIF_ERROR& e) {
        return e.what();
    }
    return "accepted";
}

const char* const k_header = "-- [PROTO] RAM Mapping Generated Memory Initialization File\n"
                             "WIDTH=2;\nDEPTH=2;\n\nADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\n\nCONTENT BEGIN\n";

}  // namespace

TEST(RamStandInRom, SliceMatchesTheLutAndRegisterItReplaces)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_OBRAN})
        for (bool with_clear : {false, true}) {
            SCOPED_TRACE(std::to_string(family) + (with_clear ? " with clear" : ""));
            FIXTURE_NETLIST ram(family), logic(family);
            rom_design({true, with_clear})(ram);
            rom_design({false, with_clear})(logic);
            const SEQ_VERDICT v = seq_check(logic.netlist(), ram.netlist(),
                                            "rom_" + std::to_string(family) + (with_clear ? "_clr" : ""), true, 300);
            EXPECT_TRUE(v.equivalent()) << v.describe();
        }
}

// Other contents are told apart.
TEST(RamStandInRom, DifferentContentsAreRefuted)
{
    FIXTURE_NETLIST ram(CDB_FAMILY_BRK), logic(CDB_FAMILY_BRK);
    rom_design({true, false})(ram);
    rom_design({false, false})(logic);
    for (CDB_ATOM_NODE* node : ram.netlist())
        if (node->is_ram()) {
            auto* rom = static_cast<CDB_ATOM_RAM*>(node);
            std::vector<bool> column = rom->get_content();
            column[5] = !column[5];
            rom->set_content(column);
        }
    const SEQ_VERDICT v = seq_check(logic.netlist(), ram.netlist(), "rom_refuted", false, 300);
    EXPECT_TRUE(v.refuted()) << v.describe();
}

// A slice that names a memory-initialisation file reads it; a faulty one
// stops the simulation (and the writer) naming atom, file and line.
TEST(RamStandInRom, ContentsFromTheNamedFile)
{
    FIXTURE_NETLIST ram(CDB_FAMILY_ZEPLA), logic(CDB_FAMILY_ZEPLA);
    rom_design({true, false})(ram);
    rom_design({false, false})(logic);
    CDB_ATOM_RAM* rom = nullptr;
    for (CDB_ATOM_NODE* node : ram.netlist())
        if (node->is_ram()) rom = static_cast<CDB_ATOM_RAM*>(node);
    ASSERT_NE(rom, nullptr);
    // Bit 1 of each word is the slice's entry; bit 0 is another slice's.
    std::string text = "WIDTH=2;\nDEPTH=8;\nADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\nCONTENT BEGIN\n";
    for (int a = 0; a < 8; ++a) text += indexed("", a) + " : " + indexed("", 2 * ((k_truth >> a) & 1u)) + ";\n";
    std::ofstream("rom.mif") << text << "END;\n";
    rom->set_content(std::vector<bool>(8, false));
    rom->set_reconfig_info({"rom.mif", 1});
    CUT_RAM_UTIL::set_logical_width(rom, 0, 2);
    CUT_RAM_UTIL::set_logical_depth(rom, 0, 8);
    CUT_RAM_UTIL::set_first_bit_number(rom, 0, 1);
    EXPECT_EQ(rom->get_reconfig_info().m_mif_file_name, "rom.mif");
    const SEQ_VERDICT v = seq_check(logic.netlist(), ram.netlist(), "rom_file", true, 300);
    EXPECT_TRUE(v.equivalent()) << v.describe();

    std::ofstream("rom.mif") << "WIDTH=2;\nDEPTH=8;\nADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\nCONTENT BEGIN\n0 : 7;\n";
    try {
        CYCLE_SIM sim(ram.netlist());
        ADD_FAILURE() << "a faulty file was loaded";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("rom.mif:6: word 7 at address 0 does not fit in 2 bits"),
                  std::string::npos)
            << e.what();
    }
}

TEST(RamStandInMif, ReadsTheWrittenForm)
{
    const std::string path = "good.mif";
    std::ofstream(path) << k_header << "    0  :  2;\n    1  :  3;\nEND;\n";
    const CUT_MIF_CONTENTS c = cut_read_mif_file(path, 2, 2);
    EXPECT_EQ(c.words, (std::vector<uint64_t>{2, 3}));
    EXPECT_EQ(c.column(0), (std::vector<bool>{false, true}));
    EXPECT_EQ(c.column(1), (std::vector<bool>{true, true}));
}

TEST(RamStandInMif, RefusesFilesThatDoNotMatch)
{
    EXPECT_NE(mif_error(std::string(k_header) + "    0  :  2;\n").find("case.mif:10: the file ends after 1 of 2"),
              std::string::npos);
    EXPECT_NE(mif_error(std::string(k_header) + "    0  :  4;\n    1  :  3;\nEND;\n")
                  .find("case.mif:9: word 4 at address 0 does not fit in 2 bits"),
              std::string::npos);
    EXPECT_NE(mif_error(std::string(k_header) + "    1  :  2;\n    0  :  3;\nEND;\n")
                  .find("case.mif:9: address 1 where address 0 comes next"),
              std::string::npos);
    EXPECT_NE(mif_error(std::string(k_header) + "    0  :  2;\n    1  :  3;\n").find("expected 'END;'"),
              std::string::npos);
    EXPECT_NE(mif_error(k_header, 3, 2).find("case.mif:2: WIDTH is 2 where 3 is expected"), std::string::npos);
    EXPECT_NE(mif_error("WIDTH=2;\nDEPTH=x;\n").find("case.mif:2: DEPTH must be a whole number"), std::string::npos);
    EXPECT_NE(mif_error("WIDTH=2;\nDEPTH=2;\nDATA_RADIX=UNS;\n").find("case.mif:3: expected 'ADDRESS_RADIX=UNS;'"),
              std::string::npos);
    EXPECT_EQ(mif_error("", 2, 2).find("case.mif:1: the file ends before 'WIDTH='"), 0u);
    try {
        cut_read_mif_file("no_such_file.mif");
        ADD_FAILURE() << "a missing file was read";
    } catch (const CUT_MIF_ERROR& e) {
        EXPECT_EQ(std::string(e.what()), "no_such_file.mif: cannot be read");
    }
}

namespace {

// Six address registers on i0..i5 reading either a ROM slice of `column`
// (address bits 2 and 5 through inverted terms when asked) or a 6-LUT of it and
// a register.
RAMMAP_BUILD wide_rom_design(uint64_t column, bool as_ram, bool inverted_bit)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        std::vector<CDB_ATOM_OTERM*> address;
        for (int k = 0; k < 6; ++k) address.push_back(f.reg(indexed("a", k), f.input(indexed("i", k)), clk));
        if (!as_ram) {
            f.output("o", f.reg("q", f.lut("f", address, column), clk));
            return;
        }
        CDB_ATOM_NODE* rom = add_ram_slice(f, "rom|s0", 6, 1, clk);
        for (int k = 0; k < 6; ++k) {
            CDB_ATOM_ITERM* term = rom->add_input_term(DB_RAM_PORTA_ADDRESS, k);
            address[k]->insert_fanout(term);
            if ((k == 2 || k == 5) && inverted_bit) term->set_invert();
        }
        std::vector<bool> entries;
        for (int a = 0; a < 64; ++a) entries.push_back((column >> (inverted_bit ? a ^ 0x24 : a)) & 1u);
        static_cast<CDB_ATOM_RAM*>(rom)->set_content(entries);
        f.output("o", rom->add_output_term(DB_RAM_PORTA_DATAOUT, rom->get_instance_name()));
    };
}

size_t cover_lines(const CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream text;
    blif_write_netlist(netlist, text);
    size_t lines = 0;
    for (char c : text.str()) lines += c == '\n';
    return lines;
}

}  // namespace

// A ROM slice is written as covers in the shortest form the planner finds,
// which ABC proves equal to the LUT it stands for: a column of no pattern,
// one whose halves repeat (a shared part), one of few ones (one cover), one
// with constant parts, each also with address bits read inverted (one of
// them a select bit of the tree form).
TEST(RamStandInRom, WrittenAsShortCoversThatAbcProves)
{
    const uint64_t columns[] = {0x9E3779B97F4A7C15ull, 0x6A09E6676A09E667ull, 0x0000000100000200ull,
                                0xFFFF00000000C3A5ull};
    for (uint64_t column : columns)
        for (bool inverted_bit : {false, true}) {
            SCOPED_TRACE(std::to_string(column) + (inverted_bit ? " inverted" : ""));
            FIXTURE_NETLIST ram(CDB_FAMILY_BRK), logic(CDB_FAMILY_BRK);
            wide_rom_design(column, true, inverted_bit)(ram);
            wide_rom_design(column, false, inverted_bit)(logic);
            const SEQ_VERDICT v = seq_check(logic.netlist(), ram.netlist(), "rom_wide", true, 200);
            EXPECT_TRUE(v.equivalent()) << v.describe();
            // The LUT's own cover or shorter: the slice's register only adds
            // two single-row covers (its next state and its output).
            EXPECT_LE(cover_lines(ram.netlist()), cover_lines(logic.netlist()) + 4);
        }
}

// The planner: a table of few ones is one cover; repeated parts share one
// cover under a select; constant parts take no cover.
TEST(RamStandInRom, TablePlannerPicksTheShortestForm)
{
    auto entries_of = [](uint64_t bits, int n) {
        std::vector<bool> e;
        for (int a = 0; a < (1 << n); ++a) e.push_back((bits >> a) & 1u);
        return e;
    };
    BLIF_TABLE_PLANNER planner;
    int lines = 0;
    EXPECT_EQ(planner.best_select_bits(entries_of(0x0000000100000200ull, 6), &lines), 0);
    EXPECT_EQ(lines, 3);
    // A table the high bits do not change is planned as its low part.
    EXPECT_EQ(planner.best_select_bits(entries_of(0x6A6A6A6A6A6A6A6Aull, 6), &lines), 0);
    EXPECT_EQ(lines, 5);
    // Parts P, Q, Q, P of 16 entries: one cover each under a select of the
    // two high bits, far fewer lines than the 26 ones of one cover.
    const uint64_t p = 0x1234, q = 0xF00F;
    const std::vector<bool> shared = entries_of(p | q << 16 | q << 32 | p << 48, 6);
    EXPECT_EQ(planner.best_select_bits(shared, &lines), 2);
    EXPECT_EQ(lines, 1 + 4 + 6 + 3);
    const BLIF_TABLE_PARTS parts = blif_table_parts(shared, 2);
    EXPECT_EQ(parts.distinct.size(), 2u);
    EXPECT_EQ(parts.part_of, (std::vector<int>{0, 1, 1, 0}));
    EXPECT_TRUE(blif_table_is_constant(entries_of(0, 3)));
    EXPECT_EQ(planner.best_select_bits(entries_of(0, 3), &lines), 0);
    EXPECT_EQ(lines, 0);
    // Half constant 1, half a single one: a select row for the constant
    // half and a short cover for the other.
    EXPECT_EQ(planner.best_select_bits(entries_of(0xFFFFFFFF00000010ull, 6), &lines), 1);
    EXPECT_EQ(lines, 1 + 2 + 2);
}

}  // namespace ram_rom_test
