#pragma once
// A small netlist that sets every property the native form and the
// archives carry, shared by the atom-netlist and archive tests.

#include <memory>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"

struct CDB_TEST_NETLIST
{
    std::unique_ptr<HDB_NAME_MGR> names;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist;
};

inline CDB_TEST_NETLIST cdb_make_rich_netlist()
{
    CDB_TEST_NETLIST t;
    t.names = std::make_unique<HDB_NAME_MGR>("chip");
    t.netlist = std::make_unique<CDB_ATOM_NETLIST>(CDB_FAMILY_BRK);
    t.netlist->set_name_mgr(t.names.get());
    HDB_NAME_MGR& nm = *t.names;
    CDB_ATOM_NETLIST& nl = *t.netlist;

    auto* in_name = nm.find_or_create_path("in \"a\"", HDB_INAME_FLAG_FROM_NETLIST);
    CDB_ATOM_NODE* pin = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_IO, in_name);
    nl.add_node(pin);
    CDB_ATOM_OTERM* pin_out = pin->add_output_term(DB_DATA_OUT, in_name);
    pin_out->set_host_index(0);

    auto* lut_name = nm.find_or_create_path("sub|lut1", HDB_INAME_FLAG_FROM_NETLIST | HDB_INAME_FLAG_PROTECTED);
    CDB_ATOM_NODE* lut = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, lut_name);
    nl.add_node(lut);
    CDB_ATOM_ITERM* a = lut->add_input_term(DB_DATA_A);
    CDB_ATOM_ITERM* b = lut->add_input_term(DB_DATA_B);
    CDB_ATOM_ITERM* c = lut->add_input_term(DB_DATA_C);
    lut->set_lutmask(CDB_LUTMASK(6, 0x8000000000000001ull));  // depends on F: creates DB_DATA_F
    lut->set_sum_lutmask(CDB_LUTMASK(5, 0x1234abcd));
    pin_out->insert_fanout(a);
    pin_out->insert_fanout(b);
    b->set_invert();
    b->set_global(-3);
    b->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    b->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, 5);
    b->set_user_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    c->set_active_high(false);
    c->set_logical_vcc();
    c->set_literal_index(7);
    lut->set_bit(3);
    lut->set_bit(41);
    lut->set_user_lcell(true);
    lut->set_location(3, 4, 1, -1);
    CDB_ATOM_ASSIGNMENTS asg;
    asg.partition_id = 2;
    asg.dont_touch = true;
    asg.locked_x1 = 1;
    asg.locked_y1 = 2;
    asg.locked_x2 = 3;
    asg.locked_y2 = 4;
    lut->set_assignments(asg);
    CDB_ATOM_OTERM* comb = lut->add_output_term(DB_COMB_OUT, lut_name);
    comb->set_host_index(1);
    lut->add_output_term(DB_SUM_OUT, nullptr);  // made during a run: negative host index

    auto* reg_name = nm.find_or_create_path("sub|reg1", HDB_INAME_FLAG_SYNTHESIZED);
    CDB_ATOM_NODE* reg = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_REGISTER, reg_name);
    nl.add_node(reg);
    CDB_ATOM_ITERM* d = reg->add_input_term(DB_DATAIN);
    d->set_usage_as(DB_SYNCH_DATA);
    comb->insert_fanout(d);
    reg->add_input_term(DB_CLOCK);
    CDB_ATOM_ITERM* ena = reg->add_input_term(DB_CLOCK_ENABLE);
    ena->set_gnd();
    reg->set_mode(DEV_PHYS_IMPL_REGISTER_MODE);
    auto* latch = new CDB_ATOM_LATCH_INFO();
    latch->is_latch = true;
    latch->enable_port = DB_CLOCK;
    latch->enable_mode = CDB_LATCH_ENABLE_MODE_INVERTED;
    latch->output_port = DB_REG_OUT;
    cut_set_atom_latch_info(reg, latch);
    CDB_ATOM_OTERM* q = reg->add_output_term(DB_REG_OUT, reg_name);
    pin_out->insert_fanout(reg->get_input_term_by_type(DB_CLOCK));  // after the LUT inputs: order matters

    CDB_ATOM_NODE* ram = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_RAM, nm.find_or_create_path("ram0", 0));
    nl.add_node(ram);
    CDB_ATOM_ITERM* addr3 = ram->add_input_term(DB_RAM_PORTA_ADDRESS, 3);
    q->insert_fanout(addr3);
    addr3->set_signal_probe(true);
    ram->set_block_param(1, 0, 4);
    ram->set_block_param(2, 5, -7);
    ram->add_output_term(DB_RAM_PORTA_DATAOUT, nullptr, 1);

    CDB_ATOM_NODE* out =
        cdb_create_output_pin(CDB_FAMILY_BRK, nm.find_or_create_path("out1", HDB_INAME_FLAG_FROM_NETLIST));
    nl.add_node(out);
    q->insert_fanout(out->get_input_term_by_type(DB_DATAIN));
    out->get_output_term_by_type(DB_PAD_OUT)->set_host_index(2);
    return t;
}
