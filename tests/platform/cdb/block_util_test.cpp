// DSP and RAM block settings, cell utilities, latch checks, the LUT-mask
// cache and device locations of atoms.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cdb_test_netlist.h"
#include "cut/cut_block_util.h"
#include "cut/cut_cell_util.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

namespace block_util_test {

namespace {

struct BLOCKS
{
    HDB_NAME_MGR names{"top"};
    CDB_ATOM_NETLIST netlist{CDB_FAMILY_BRK};
    BLOCKS() { netlist.set_name_mgr(&names); }
    CDB_ATOM_NODE* make(int kind, const char* name)
    {
        CDB_ATOM_NODE* n = cdb_create_atom(CDB_FAMILY_BRK, kind, names.find_or_create_path(name, 0));
        netlist.add_node(n);
        return n;
    }
};

std::unique_ptr<CDB_ATOM_NETLIST> native_round_trip(const CDB_ATOM_NETLIST& nl)
{
    std::ostringstream os;
    cdb_write_native_netlist(nl, os);
    std::istringstream in(os.str());
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> back(cdb_read_native_netlist(in, "b.atoms", nullptr, &error));
    EXPECT_TRUE(back) << error;
    return back;
}

}  // namespace

TEST(CutMac, RegistersFollowTheirClockSlotsAndSurviveTheNativeForm)
{
    BLOCKS b;
    CDB_ATOM_NODE* mult = b.make(CDB_KIND_MAC_MULT, "mult");
    EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A));
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clear(mult, DB_DATA_A), CUT_MAC_NO_CLEAR);

    CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_A, 2);
    CUT_MAC_UTIL::set_input_port_clear(mult, DB_DATA_A, 1);
    CUT_MAC_UTIL::set_pipeline_clock(mult, DB_DATA_B, 0);  // clock slot 0 is a real slot
    CUT_MAC_UTIL::set_output_port_clock(mult, DB_DATA_OUT, 3);
    CUT_MAC_UTIL::set_output_prog_invert(mult, DB_DATA_OUT, 71, true);
    EXPECT_TRUE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A));
    EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_B));
    EXPECT_TRUE(CUT_MAC_UTIL::is_pipeline_registered(mult, DB_DATA_B));
    EXPECT_FALSE(CUT_MAC_UTIL::is_pipeline_registered(mult, DB_DATA_A));
    EXPECT_TRUE(CUT_MAC_UTIL::is_output_port_registered(mult, DB_DATA_OUT));
    EXPECT_TRUE(CUT_MAC_UTIL::is_output_prog_invert(mult, DB_DATA_OUT, 71));
    EXPECT_FALSE(CUT_MAC_UTIL::is_output_prog_invert(mult, DB_DATA_OUT, 70));

    std::unique_ptr<CDB_ATOM_NETLIST> back = native_round_trip(b.netlist);
    CDB_ATOM_NODE* copy = back->get_node_by_id(mult->get_id());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clock(copy, DB_DATA_A), 2);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clear(copy, DB_DATA_A), 1);
    EXPECT_TRUE(CUT_MAC_UTIL::is_output_prog_invert(copy, DB_DATA_OUT, 71));

    // Unpacking: any negative slot means none, and the port stops being registered.
    CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_A, -7);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clock(mult, DB_DATA_A), CUT_MAC_NO_CLOCK);
    EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A));

    CDB_ATOM_NODE* lut = b.make(CDB_KIND_LCELL_COMB, "lut");
    EXPECT_THROW(CUT_MAC_UTIL::get_input_port_clock(lut, DB_DATA_A), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(CutMac, WidthsModesScanChainsAndObservablePorts)
{
    BLOCKS b;
    CDB_ATOM_NODE* m0 = b.make(CDB_KIND_MAC_MULT, "m0");
    CDB_ATOM_NODE* m1 = b.make(CDB_KIND_MAC_MULT, "m1");
    CDB_ATOM_NODE* out = b.make(CDB_KIND_MAC_OUT, "out");
    m0->add_input_term(DB_DATA_A, 0);
    m0->add_input_term(DB_DATA_A, 5);  // a gap: width counts up to the highest bit
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_width(m0, DB_DATA_A), 6);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_width(m0, DB_DATA_B), 0);
    CUT_MAC_UTIL::set_input_port_width(m0, DB_CLOCK, 3);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_width(m0, DB_CLOCK), 3);
    m0->add_output_term(DB_DATA_OUT, nullptr, 0)->insert_fanout(out->add_input_term(DB_DATA_A, 0));
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_width(m0, DB_DATA_OUT), 1);

    CUT_MAC_UTIL::set_mode(out, CUT_MAC_MODE_DYNAMIC);
    EXPECT_EQ(CUT_MAC_UTIL::get_mac_out_from_mac_mult(m0), out);
    EXPECT_EQ(CUT_MAC_UTIL::get_mode(m0), CUT_MAC_MODE_DYNAMIC);
    EXPECT_EQ(CUT_MAC_UTIL::get_mac_out_from_mac_mult(m1), nullptr);
    EXPECT_EQ(CUT_MAC_UTIL::get_mode(m1), CUT_MAC_MODE_SIMPLE_MULTIPLIER);

    // m0's scan output of operand A feeds m1's scan input of operand A only.
    m0->add_output_term(DB_MAC_SCANOUT_A)->insert_fanout(m1->add_input_term(DB_MAC_SCANIN_A));
    EXPECT_EQ(CUT_MAC_UTIL::get_scan_in_mult(m1, DB_DATA_A), m0);
    EXPECT_EQ(CUT_MAC_UTIL::get_scan_out_mult(m0, DB_DATA_A), m1);
    EXPECT_EQ(CUT_MAC_UTIL::get_scan_in_mult(m1, DB_DATA_B), nullptr);
    EXPECT_EQ(CUT_MAC_UTIL::get_scan_out_mult(m1, DB_DATA_A), nullptr);
    EXPECT_EQ(CUT_MAC_UTIL::get_scan_in_mult(m0, DB_DATA_A), nullptr);

    EXPECT_EQ(CUT_MAC_UTIL::get_observable_port_type(DB_DATA_A, false, false), DB_MAC_OBSERVABLE_DATAA);
    EXPECT_NE(CUT_MAC_UTIL::get_observable_port_type(DB_DATA_B), CUT_MAC_UTIL::get_observable_port_type(DB_DATA_A));
    EXPECT_EQ(CUT_MAC_UTIL::get_observable_port_type(DB_CLOCK), DB_MAX_OUTPUT_PORT_TYPE);
}

TEST(CutRam, ModeFlagsAcrossAllWordsAndOlderSettingsStillRead)
{
    BLOCKS b;
    CDB_ATOM_NODE* ram = b.make(CDB_KIND_RAM, "mem|slice0");
    ram->set_block_param(CDB_PARAM_RAM_MODE, 0, 4);  // written before the flag words existed: flag 2
    EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 2));

    CUT_RAM_UTIL::set_ram_mode(ram, 0, {1, 9, 31, 48, 63, 67, 80});
    CUT_RAM_UTIL::set_ram_mode(ram, 1, {9});
    for (int f : {1, 2, 9, 31, 48, 63, 67, 80}) EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(ram, 0, f)) << f;
    EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 32));
    EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 81));
    EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(ram, 0, CDB_RAM_FLAG_SET{9, 67}));
    EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(ram, 1, CDB_RAM_FLAG_SET{9, 67}));

    CUT_RAM_UTIL::clear_ram_mode(ram, 0, {9, 67});
    EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 9));
    EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 67));
    EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 63) && CUT_RAM_UTIL::ram_mode_is(ram, 0, 80));
    EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(ram, 1, 9));
    EXPECT_EQ(CUT_RAM_UTIL::get_ram_mode(ram, 0), int((1u << 1) | (1u << 2) | (1u << 31)));

    std::unique_ptr<CDB_ATOM_NETLIST> back = native_round_trip(b.netlist);
    EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(back->get_node_by_id(ram->get_id()), 0, 80));
}

TEST(CutRam, ControlsAddressesObservablesAndLogicalNames)
{
    BLOCKS b;
    CDB_ATOM_NODE* s0 = b.make(CDB_KIND_RAM, "mem|slice0");
    CDB_ATOM_NODE* s1 = b.make(CDB_KIND_RAM, "mem|slice1");
    CDB_ATOM_NODE* solo = b.make(CDB_KIND_RAM, "solo");
    EXPECT_EQ(CUT_RAM_UTIL::get_logical_name_str(s0), "mem");
    EXPECT_EQ(CUT_RAM_UTIL::get_logical_name_str(s1), CUT_RAM_UTIL::get_logical_name_str(s0));
    EXPECT_EQ(CUT_RAM_UTIL::get_logical_name_str(solo), "solo");

    s0->add_input_term(DB_RAM_CLK0);
    s0->add_input_term(DB_RAM_CLK1);
    s0->add_input_term(DB_RAM_CLR1);
    EXPECT_EQ(CUT_RAM_UTIL::get_physical_port_clock(s0, DB_RAM_PORTA_DATAOUT), DB_RAM_CLK0);
    EXPECT_EQ(CUT_RAM_UTIL::get_physical_port_clock(s0, DB_RAM_PORTB_ADDRESS), DB_RAM_CLK1);
    EXPECT_EQ(CUT_RAM_UTIL::get_physical_port_clear(s0, DB_RAM_PORTB_DATAOUT), DB_RAM_CLR1);
    EXPECT_EQ(CUT_RAM_UTIL::get_physical_port_clear(s0, DB_RAM_PORTA_DATAOUT), DB_MAX_INPUT_PORT_TYPE);
    EXPECT_EQ(CUT_RAM_UTIL::get_physical_port_clock_enable(s0, DB_RAM_PORTA_DATAOUT), DB_MAX_INPUT_PORT_TYPE);
    EXPECT_EQ(CUT_RAM_UTIL::get_physical_port_clock(s0, DB_DATA_OUT), DB_MAX_INPUT_PORT_TYPE);

    for (int k = 0; k < 3; ++k) s0->add_input_term(DB_RAM_PORTA_ADDRESS, k);
    s0->add_input_term(DB_RAM_PORTA_DATAIN, 0);
    EXPECT_EQ(CUT_RAM_UTIL::get_address_width(s0, 0), 3);
    EXPECT_EQ(CUT_RAM_UTIL::get_address_width(s0, 1), 0);
    CUT_RAM_UTIL::set_address_width(s0, 1, 8);
    EXPECT_EQ(CUT_RAM_UTIL::get_address_width(s0, 1), 8);

    EXPECT_EQ(cut_add_observable_oterms(s0), 4);
    EXPECT_EQ(cut_add_observable_oterms(s0), 0);  // a second call adds nothing
    int obs = CUT_RAM_UTIL::get_observable_port_type(DB_RAM_PORTA_ADDRESS);
    for (int k = 0; k < 3; ++k) {
        CDB_ATOM_OTERM* o = s0->get_output_term_by_type(obs, k);
        ASSERT_NE(o, nullptr) << k;
        ASSERT_NE(o->get_instance_name(), nullptr);
    }
    EXPECT_NE(s0->get_output_term_by_type(obs, 0)->get_instance_name(),
              s0->get_output_term_by_type(obs, 1)->get_instance_name());
    EXPECT_NE(s0->get_output_term_by_type(CUT_RAM_UTIL::get_observable_port_type(DB_RAM_PORTA_DATAIN), 0), nullptr);
    EXPECT_TRUE(b.netlist.verify());
}

TEST(CutCells, CombGndIsJudgedOverTheDrivenInputsOnly)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_ZEPLA}) {
        SCOPED_TRACE(family);
        HDB_NAME_MGR names;
        CDB_ATOM_NETLIST nl(family);
        CDB_ATOM_NODE* src = cdb_create_atom(family, CDB_KIND_IO, names.find_or_create_path("p", 0));
        nl.add_node(src);
        CDB_ATOM_OTERM* p = src->add_output_term(DB_DATA_OUT);
        CDB_ATOM_NODE* lut = cdb_create_atom(family, CDB_KIND_LCELL_COMB, names.find_or_create_path("l", 0));
        nl.add_node(lut);
        int n = lut->get_lut_size();
        p->insert_fanout(lut->add_input_term(DB_DATA_A));
        CDB_ATOM_ITERM* bterm = lut->add_input_term(DB_DATA_B);
        CDB_ATOM_OTERM* y = lut->add_output_term(DB_COMB_OUT);
        // A AND B written in the family's own bit order.
        CDB_LUTMASK and_ab(n, 0);
        for (int row = 0; row < (1 << n); ++row)
            if ((row & 3) == 3) and_ab.set_bit(row, true);
        if (cdb_get_family_info(family)->reversed_bit_order) and_ab.mirror_mask();
        lut->set_lutmask(and_ab);
        bterm->set_logical_gnd();
        EXPECT_TRUE(CUT_LCELL_UTIL::oterm_is_comb_gnd(y));
        bterm->set_logical_vcc();
        EXPECT_FALSE(CUT_LCELL_UTIL::oterm_is_comb_gnd(y));
        bterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);  // floats low
        EXPECT_TRUE(CUT_LCELL_UTIL::oterm_is_comb_gnd(y));
        EXPECT_FALSE(CUT_LCELL_UTIL::oterm_is_comb_gnd(p));

        CDB_ATOM_NODE* gnd =
            CUT_LCELL_UTIL::create_gnd_lcell_atom(nullptr, family, names.find_or_create_path("g", 0), &nl);
        ASSERT_NE(gnd, nullptr);
        EXPECT_EQ(gnd->get_netlist(), &nl);
        EXPECT_TRUE(CUT_LCELL_UTIL::oterm_is_comb_gnd(gnd->get_output_term_by_type(DB_COMB_OUT)));
    }
}

TEST(CutCells, PadsClockBuffersAndVirtualIo)
{
    BLOCKS b;
    CDB_ATOM_NODE* pad = b.make(CDB_KIND_IO, "pad");
    CDB_ATOM_NODE* buf = b.make(CDB_KIND_IO, "buf");
    CDB_ATOM_NODE* lone = b.make(CDB_KIND_IO, "lone");
    CDB_ATOM_NODE* lut = b.make(CDB_KIND_LCELL_COMB, "lut");
    pad->add_output_term(DB_DATA_OUT)->insert_fanout(buf->add_input_term(DB_DATAIN));
    buf->add_output_term(DB_DATA_OUT)->insert_fanout(lut->add_input_term(DB_DATA_A));
    EXPECT_EQ(CUT_ATOM_IO::get_pad_from_buffer(buf, true), pad);
    EXPECT_EQ(CUT_ATOM_IO::get_pad_from_buffer(lone, true), lone);
    EXPECT_EQ(CUT_ATOM_IO::get_pad_from_buffer(lut, true), nullptr);

    CDB_ATOM_NODE* ck = CUT_CLKBUF_UTIL::create_clkbuf_atom(&b.netlist, CUT_CLOCK_TYPE_REGIONAL, CDB_FAMILY_BRK);
    ASSERT_NE(ck, nullptr);
    EXPECT_EQ(ck->get_atom_type(), CDB_ATOM_BRK_CLKBUF_ENUM);
    EXPECT_EQ(ck->get_netlist(), &b.netlist);
    EXPECT_EQ(CUT_CLKBUF_UTIL::get_clock_type(ck), CUT_CLOCK_TYPE_REGIONAL);
    EXPECT_TRUE(CUT_CLKBUF_UTIL::is_pure_clkbuf(ck));
    pad->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(ck->add_input_term(DB_CLOCK_ENABLE));
    EXPECT_FALSE(CUT_CLKBUF_UTIL::is_pure_clkbuf(ck));
    EXPECT_FALSE(CUT_CLKBUF_UTIL::is_pure_clkbuf(lut));

    EXPECT_EQ(CUT_VIRTUAL_IO_UTIL::get_pad_iport_for_vio(lut), DB_MAX_INPUT_PORT_TYPE);
    lut->set_bit(CDB_ATOM_BIT_VIRTUAL_IO);
    EXPECT_EQ(CUT_VIRTUAL_IO_UTIL::get_pad_iport_for_vio(lut), DB_DATA_A);
}

// Only a logic cell can stand in for an I/O: on any other atom the
// virtual-I/O bit is not legal, so a stray bit read from a file does not make
// it one, while the neighbouring bits stay legal everywhere.
TEST(CutVirtualIo, OnlyLogicCellsCarryTheVirtualIoBit)
{
    BLOCKS b;
    CDB_ATOM_NODE* lut = b.make(CDB_KIND_LCELL_COMB, "lut");
    std::unique_ptr<CDB_ATOM_NODE> uvo(cdb_create_atom(CDB_FAMILY_UVO, CDB_KIND_UVO_LCELL, nullptr));
    ASSERT_NE(uvo, nullptr);
    EXPECT_TRUE(lut->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO));
    EXPECT_TRUE(uvo->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO));
    uvo->set_bit(CDB_ATOM_BIT_VIRTUAL_IO);
    EXPECT_TRUE(CUT_VIRTUAL_IO_UTIL::is_virtual_io(uvo.get()));

    std::unique_ptr<CDB_ATOM_NODE> adder(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr));
    ASSERT_NE(adder, nullptr);
    for (CDB_ATOM_NODE* other :
         {b.make(CDB_KIND_REGISTER, "reg"), b.make(CDB_KIND_RAM, "ram"), b.make(CDB_KIND_IO, "pin"), adder.get()}) {
        EXPECT_FALSE(other->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO)) << other->get_kind();
        EXPECT_TRUE(other->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO - 1));
        EXPECT_TRUE(other->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO + 1));
        other->set_bits(uint64_t(1) << CDB_ATOM_BIT_VIRTUAL_IO);
        EXPECT_FALSE(other->test_bit(CDB_ATOM_BIT_VIRTUAL_IO));
        EXPECT_FALSE(CUT_VIRTUAL_IO_UTIL::is_virtual_io(other)) << other->get_kind();
        EXPECT_EQ(CUT_VIRTUAL_IO_UTIL::get_pad_iport_for_vio(other), DB_MAX_INPUT_PORT_TYPE);
    }
    EXPECT_FALSE(lut->bit_is_legal(64));
    EXPECT_FALSE(lut->bit_is_legal(-1));
}

TEST(CutLatch, SanityCheckRejectsIncoherentDescriptions)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    CDB_ATOM_NODE* latch = nullptr;
    for (CDB_ATOM_NODE* n : *t.netlist)
        if (cut_get_atom_latch_info(n)) latch = n;
    ASSERT_NE(latch, nullptr);
    EXPECT_TRUE(cut_sanity_check_atom_latch_info(latch));
    CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(latch);
    info->clear_port = DB_CLEAR;  // the atom has no clear input
    EXPECT_FALSE(cut_sanity_check_atom_latch_info(latch));
    info->clear_port = DB_MAX_INPUT_PORT_TYPE;
    info->enable_mode = CDB_LATCH_ENABLE_MODE_NONE;
    EXPECT_FALSE(cut_sanity_check_atom_latch_info(latch));
    info->enable_mode = CDB_LATCH_ENABLE_MODE_NON_INVERTED;
    info->output_port = DB_COMB_OUT;
    EXPECT_FALSE(cut_sanity_check_atom_latch_info(latch));
    EXPECT_FALSE(cut_sanity_check_atom_latch_info(*t.netlist->begin()));  // no description at all
}

TEST(CdbLutmaskCache, KeepsTheMasksOfItsMomentAndNests)
{
    BLOCKS b;
    CDB_ATOM_NODE* lut = b.make(CDB_KIND_LCELL_COMB, "lut");
    lut->add_output_term(DB_COMB_OUT);
    lut->set_lutmask(CDB_LUTMASK(6, 0xf0));
    std::unique_ptr<CDB_ATOM_LUTMASK_CACHE> outer(CDB_ATOM_LUTMASK_CACHE::init_lutmask_cache(&b.netlist));
    EXPECT_EQ(CDB_ATOM_LUTMASK_CACHE::get_current(), outer.get());
    lut->set_lutmask(CDB_LUTMASK(6, 0x0f));
    EXPECT_EQ(outer->get_lutmask(lut).get_value(), 0xf0u);
    {
        CDB_ATOM_LUTMASK_CACHE inner(&b.netlist);
        EXPECT_EQ(CDB_ATOM_LUTMASK_CACHE::get_current(), &inner);
        EXPECT_EQ(inner.get_lutmask(lut).get_value(), 0x0fu);
    }
    EXPECT_EQ(CDB_ATOM_LUTMASK_CACHE::get_current(), outer.get());
    CDB_ATOM_NODE* late = b.make(CDB_KIND_LCELL_COMB, "late");
    late->set_lutmask(CDB_LUTMASK(6, 0x3));
    EXPECT_FALSE(outer->is_cached(late));
    EXPECT_EQ(outer->get_lutmask(late).get_value(), 0x3u);  // not cached: live
    outer.reset();
    EXPECT_EQ(CDB_ATOM_LUTMASK_CACHE::get_current(), nullptr);
}

TEST(CdbLocation, LocationIndexFieldsAndPlaceBlock)
{
    DEV_DEVICE dev(CDB_FAMILY_BRK);
    DUVO_DIE_INFO* die = dev.get_die_info()->get_duvo_die_info();
    BLOCKS b;
    CDB_ATOM_NODE* n = b.make(CDB_KIND_LCELL_COMB, "n");
    CDB_LOCATION_INDEX loc;
    EXPECT_FALSE(n->get_location_index(die, &loc));  // unplaced
    n->set_location(2, 3, 1);
    ASSERT_TRUE(n->get_location_index(die, &loc));
    EXPECT_EQ(loc[CDB_LOCATION_X], 2);
    EXPECT_EQ(loc[CDB_LOCATION_Y], 3);
    EXPECT_EQ(loc[CDB_LOCATION_SUB_LOC], 1);
    EXPECT_EQ(loc[CDB_LOCATION_SUB_LOC2], -1);
    const DUVO_PLACE_BLOCK* blk = die->get_place_info()->get_place_block(loc[CDB_LOCATION_GLOBAL_ID]);
    ASSERT_NE(blk, nullptr);
    EXPECT_EQ(blk->x, 2);
    EXPECT_EQ(blk->y, 3);
    EXPECT_EQ(blk->sub, 1);
    EXPECT_FALSE(n->get_location_index(nullptr, &loc));
}

}  // namespace block_util_test
