#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_checks.h"
#include "cdb_test_netlist.h"
#include "msg/msg.h"

namespace netlist_test {

namespace {

struct NET
{
    HDB_NAME_MGR names;
    CDB_ATOM_NETLIST netlist{CDB_FAMILY_BRK};
    CDB_ATOM_NODE* add(int kind)
    {
        CDB_ATOM_NODE* n = cdb_create_atom(CDB_FAMILY_BRK, kind, nullptr);
        netlist.add_node(n);
        return n;
    }
};

std::vector<CDB_ATOM_ITERM*> fanouts(const CDB_ATOM_OTERM* o)
{
    return {o->begin_iterm_fanout(), o->end_iterm_fanout()};
}

TEST(CdbTerms, LogicalConstantsFollowInversionAndPortPolarity)
{
    NET n;
    CDB_ATOM_NODE* lut = n.add(CDB_KIND_LCELL_COMB);
    CDB_ATOM_ITERM* t = lut->add_input_term(DB_DATA_A);
    EXPECT_FALSE(t->is_connected());
    EXPECT_FALSE(t->is_logical_vcc() || t->is_logical_gnd());  // unconnected is no constant
    for (bool inverted : {false, true})
        for (bool high : {true, false}) {
            t->set_invert(inverted);
            t->set_active_high(high);
            t->set_logical_vcc();
            EXPECT_TRUE(t->is_connected());
            EXPECT_TRUE(t->is_logical_vcc());
            EXPECT_FALSE(t->is_logical_gnd());
            EXPECT_EQ(t->is_vcc(), !(inverted ^ !high)) << inverted << high;
            t->set_logical_gnd();
            EXPECT_TRUE(t->is_logical_gnd());
            EXPECT_EQ(t->is_gnd(), !(inverted ^ !high)) << inverted << high;
        }
    // The node's polarity query reads the term.
    EXPECT_FALSE(lut->is_active_high(DB_DATA_A));
    EXPECT_FALSE(lut->is_lut_index_direct(DB_DATA_A));
    EXPECT_TRUE(lut->is_active_high(DB_DATA_B));
    // A physical constant with a flipped inversion bit reads as the other logical constant.
    t->set_active_high(true);
    t->clear_invert();
    t->set_vcc();
    t->set_invert();
    EXPECT_TRUE(t->is_logical_gnd());
}

TEST(CdbTerms, ConstantTieLeavesTheDriver)
{
    NET n;
    CDB_ATOM_NODE* src = n.add(CDB_KIND_IO);
    CDB_ATOM_OTERM* o = src->add_output_term(DB_DATA_OUT);
    CDB_ATOM_ITERM* t = n.add(CDB_KIND_LCELL_COMB)->add_input_term(DB_DATA_A);
    o->insert_fanout(t);
    t->set_gnd();
    EXPECT_EQ(t->get_source(), nullptr);
    EXPECT_EQ(o->get_number_of_fanout(), 0);
    EXPECT_TRUE(t->is_connected());
    o->insert_fanout(t);
    EXPECT_FALSE(t->is_gnd());
    t->disconnect_from_source(CDB_NET_ITERM::CONNECT_VCC);
    EXPECT_TRUE(t->is_vcc());
    EXPECT_FALSE(o->has_fanout());
    t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_FALSE(t->is_connected());
}

TEST(CdbTerms, UsageSetsHoldSeveralPortsAndIndexFieldsStayApart)
{
    NET n;
    CDB_ATOM_NODE* u = cdb_create_atom(CDB_FAMILY_UVO, CDB_KIND_LCELL_COMB, nullptr);
    n.netlist.add_node(u);
    CDB_ATOM_ITERM* c = u->add_input_term(DB_DATA_C);
    c->set_usage_as(DB_SYNCH_DATA);
    c->set_usage_as(DB_SYNCH_DATA);  // once only
    EXPECT_EQ(c->get_usage_count(), 2);
    EXPECT_EQ(u->get_input_term_by_type(DB_SYNCH_DATA), c);
    EXPECT_EQ(u->get_input_term_by_type(DB_DATA_C), c);
    c->clear_usage_as(DB_DATA_C);
    EXPECT_EQ(c->get_any_usage_as(), DB_SYNCH_DATA);
    c->clear_usage_as(DB_SYNCH_DATA);
    EXPECT_EQ(c->get_any_usage_as(), DB_MAX_INPUT_PORT_TYPE);
    for (int p : {1, 2, 3, 4}) c->set_usage_as(p);
    EXPECT_THROW(c->set_usage_as(5), MSG_INTERNAL_ERROR_EXCEPTION);

    CDB_ATOM_ITERM* t = u->add_input_term(DB_DATA_A);
    t->set_port_index(0xfffe);
    t->set_global(-16);
    t->set_invert();
    t->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, 300);
    t->set_gnd();
    EXPECT_EQ(t->get_port_index(), 0xfffe);
    EXPECT_EQ(t->get_global(), -16);
    t->set_global(15);
    EXPECT_EQ(t->get_global(), 15);
    t->set_global(17);  // only the low 5 bits are kept
    EXPECT_EQ(t->get_global(), -15);
    EXPECT_TRUE(t->is_inverted() && t->is_gnd());
    EXPECT_TRUE(t->use_delay_chain(DB_DELAY_CHAIN_INPUT));
    EXPECT_EQ(t->get_delay_chain_index(DB_DELAY_CHAIN_INPUT), 300);
    EXPECT_EQ(t->get_delay_chain_index(7), -1);  // other chains do not exist
    t->reset_delay_chain(DB_DELAY_CHAIN_INPUT);
    EXPECT_FALSE(t->use_delay_chain(DB_DELAY_CHAIN_INPUT));
    EXPECT_EQ(t->get_port_index(), 0xfffe);
}

TEST(CdbTerms, FanoutListsKeepOrderThroughInsertRemoveAndAdopt)
{
    NET n;
    CDB_ATOM_OTERM* o1 = n.add(CDB_KIND_IO)->add_output_term(DB_DATA_OUT);
    CDB_ATOM_OTERM* o2 = n.add(CDB_KIND_IO)->add_output_term(DB_DATA_OUT);
    CDB_ATOM_NODE* lut = n.add(CDB_KIND_LCELL_COMB);
    std::vector<CDB_ATOM_ITERM*> t;
    for (int p = DB_DATA_A; p <= DB_DATA_F; ++p) t.push_back(lut->add_input_term(p));
    for (int i = 0; i < 4; ++i) o1->insert_fanout(t[i]);
    o1->insert_fanout(t[1]);  // already a sink: no change
    EXPECT_EQ(fanouts(o1), (std::vector<CDB_ATOM_ITERM*>{t[0], t[1], t[2], t[3]}));
    o1->remove_fanout(t[1]);
    EXPECT_EQ(fanouts(o1), (std::vector<CDB_ATOM_ITERM*>{t[0], t[2], t[3]}));
    EXPECT_EQ(t[0]->get_next_fanout(), t[2]);
    o2->insert_fanout(t[4]);
    o2->insert_fanout(t[2]);  // moves from o1
    EXPECT_EQ(fanouts(o1), (std::vector<CDB_ATOM_ITERM*>{t[0], t[3]}));
    o2->adopt_fanouts(o1);
    EXPECT_EQ(fanouts(o2), (std::vector<CDB_ATOM_ITERM*>{t[4], t[2], t[0], t[3]}));
    EXPECT_EQ(o2->get_number_of_fanout(), 4);
    EXPECT_EQ(o2->get_number_of_fanout_nodes(), 1);
    EXPECT_FALSE(o1->has_fanout());
    EXPECT_EQ(t[3]->get_source(), o2);
    o1->adopt_fanouts(o2, true);
    EXPECT_EQ(o1->get_last_fanout(), t[3]);
    EXPECT_TRUE(n.netlist.verify());
    EXPECT_THROW(o2->remove_fanout(t[0]), MSG_INTERNAL_ERROR_EXCEPTION);  // not its sink
}

TEST(CdbNetlist, DeletingANodeLeavesItsSinksUnconnectedOnTheirNodes)
{
    NET n;
    CDB_ATOM_NODE* drv = n.add(CDB_KIND_LCELL_COMB);
    CDB_ATOM_NODE* src = n.add(CDB_KIND_IO);
    src->add_output_term(DB_DATA_OUT)->insert_fanout(drv->add_input_term(DB_DATA_A));
    CDB_ATOM_OTERM* o = drv->add_output_term(DB_COMB_OUT);
    CDB_ATOM_NODE* r1 = n.add(CDB_KIND_REGISTER);
    CDB_ATOM_NODE* r2 = n.add(CDB_KIND_REGISTER);
    CDB_ATOM_ITERM* d1 = r1->add_input_term(DB_DATAIN);
    CDB_ATOM_ITERM* d2 = r2->add_input_term(DB_DATAIN);
    o->insert_fanout(d1);
    o->insert_fanout(d2);
    n.netlist.delete_node(drv);
    EXPECT_EQ(r1->get_input_term_by_type(DB_DATAIN), d1);
    EXPECT_FALSE(d1->is_connected());
    EXPECT_EQ(d2->get_source(), nullptr);
    EXPECT_FALSE(src->get_output_term_by_type(DB_DATA_OUT)->has_fanout());
    EXPECT_TRUE(n.netlist.verify());
}

TEST(CdbNetlist, IdsAreNeverReusedAndDeletedIdsLookUpNull)
{
    NET n;
    CDB_ATOM_NODE* a = n.add(CDB_KIND_LCELL_COMB);
    CDB_ATOM_NODE* b = n.add(CDB_KIND_REGISTER);
    const uint32_t ida = a->get_id(), idb = b->get_id();
    EXPECT_LT(ida, idb);
    EXPECT_EQ(n.netlist.get_max_id(), idb);
    n.netlist.delete_node(b);
    EXPECT_EQ(n.netlist.get_node_by_id(idb), nullptr);
    EXPECT_EQ(n.netlist.get_max_id(), ida);
    CDB_ATOM_NODE* c = n.add(CDB_KIND_LCELL_COMB);
    EXPECT_GT(c->get_id(), idb);
    EXPECT_EQ(n.netlist.get_node_by_id(c->get_id()), c);
    EXPECT_EQ(n.netlist.get_node_by_id(0), nullptr);
    EXPECT_EQ(n.netlist.get_node_by_id(0xffffffffu), nullptr);
    EXPECT_THROW(n.netlist.add_node(c), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(CdbNetlist, WalkKeepsCreationOrderAndToleratesEditsOnTheWay)
{
    NET n;
    // Compared by id: deleted nodes are freed, and a later node may reuse an address.
    std::vector<CDB_ATOM_NODE*> made;
    std::vector<int> ids;
    for (int i = 0; i < 6; ++i) {
        made.push_back(n.add(i % 2 ? CDB_KIND_REGISTER : CDB_KIND_LCELL_COMB));
        ids.push_back(made.back()->get_id());
    }
    std::vector<int> seen;
    int appended = 0;
    for (auto it = n.netlist.begin_node_list(); it != n.netlist.end_node_list();) {
        CDB_ATOM_NODE* node = *it;
        ++it;
        seen.push_back(node->get_id());
        const int id = node->get_id();
        if (id == ids[1]) n.netlist.delete_node(made[3]);  // a later node
        if (id == ids[2]) n.netlist.delete_node(node);     // the current one, after advancing
        if (appended < 1 && id == ids[4]) {                // not the last: the advanced iterator still reaches the tail
            ids.push_back(n.add(CDB_KIND_LCELL_COMB)->get_id());
            ++appended;
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{ids[0], ids[1], ids[2], ids[4], ids[5], ids[6]}));
    EXPECT_EQ(n.netlist.get_node_count(), 5u);
}

TEST(CdbNetlist, AssimilateMovesNodesInOrder)
{
    NET a, b;
    CDB_ATOM_NODE* x = a.add(CDB_KIND_LCELL_COMB);
    CDB_ATOM_NODE* y = b.add(CDB_KIND_LCELL_COMB);
    CDB_ATOM_NODE* z = b.add(CDB_KIND_REGISTER);
    y->add_output_term(DB_COMB_OUT)->insert_fanout(z->add_input_term(DB_DATAIN));
    a.netlist.assimilate(&b.netlist);
    EXPECT_EQ(b.netlist.get_node_count(), 0u);
    EXPECT_EQ(std::vector<CDB_ATOM_NODE*>(a.netlist.begin(), a.netlist.end()), (std::vector<CDB_ATOM_NODE*>{x, y, z}));
    EXPECT_EQ(a.netlist.get_node_by_id(z->get_id()), z);
    EXPECT_EQ(b.netlist.get_node_by_id(z->get_id()), nullptr);
    EXPECT_TRUE(a.netlist.verify());
}

TEST(CdbNetlist, FactoriesGiveFamilyTypesAndPredicates)
{
    struct ROW
    {
        int family, comb, reg;
        bool lcell_ff;
    };
    for (ROW r : {ROW{CDB_FAMILY_BRK, 0, 1, true}, ROW{CDB_FAMILY_ZEPLA, 2, 3, false},
                  ROW{CDB_FAMILY_ZEPLA_B, 2, 3, false}, ROW{CDB_FAMILY_TEV, 257, 258, true},
                  ROW{CDB_FAMILY_MRL, 270, 272, true}, ROW{CDB_FAMILY_KESTLIN, 145, 126, false},
                  ROW{CDB_FAMILY_RZK, 145, 146, false}, ROW{CDB_FAMILY_OBRAN, 186, 187, false}}) {
        std::unique_ptr<CDB_ATOM_NODE> c(cdb_create_atom(r.family, CDB_KIND_LCELL_COMB, nullptr));
        std::unique_ptr<CDB_ATOM_NODE> f(cdb_create_atom(r.family, CDB_KIND_REGISTER, nullptr));
        ASSERT_TRUE(c && f);
        EXPECT_EQ(c->get_atom_type(), r.comb);
        EXPECT_EQ(f->get_atom_type(), r.reg);
        EXPECT_TRUE(c->is_lcell_comb());
        EXPECT_EQ(f->is_lcell_ff(), r.lcell_ff);
        EXPECT_EQ(f->is_ff(), !r.lcell_ff);
        EXPECT_EQ(f->get_mode(), r.lcell_ff ? 0 : DEV_PHYS_IMPL_REGISTER_MODE);
        EXPECT_EQ(c->test_bit(29), cdb_family_lut_size(r.family) == 4);
        EXPECT_EQ(c->get_lut_size(), cdb_family_lut_size(r.family));
        std::unique_ptr<CDB_ATOM_NODE> again(cdb_create_atom_of_type(r.family, r.reg));
        ASSERT_TRUE(again);
        EXPECT_EQ(again->get_kind(), CDB_KIND_REGISTER);
    }
    std::unique_ptr<CDB_ATOM_NODE> ram(cdb_create_atom(CDB_FAMILY_UVO, CDB_KIND_RAM, nullptr));
    EXPECT_EQ(ram->get_atom_type(), CDB_ATOM_UVO_EC_ENUM);
    EXPECT_TRUE(ram->is_ram());
    std::unique_ptr<CDB_ATOM_NODE> mult(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_MAC_MULT, nullptr));
    std::unique_ptr<CDB_ATOM_NODE> mout(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_MAC_OUT, nullptr));
    EXPECT_TRUE(mult->is_mac_mult() && !mult->is_mac_out() && mout->is_mac_out());
    std::unique_ptr<CDB_ATOM_NODE> hs(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr));
    EXPECT_TRUE(hs->is_lcell_hsadder());
    EXPECT_EQ(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_HSADDER, nullptr), nullptr);
    EXPECT_EQ(cdb_create_atom(77, CDB_KIND_LCELL_COMB, nullptr), nullptr);
    EXPECT_EQ(cdb_family_from_name("obran"), CDB_FAMILY_OBRAN);
    EXPECT_EQ(cdb_family_from_name("41"), CDB_FAMILY_RZK);
    EXPECT_EQ(cdb_family_from_name("NOPE"), CDB_FAMILY_NONE);
}

TEST(CdbNetlist, OutputPinsComeWithTheirPadAndOnlyPinsTakeOne)
{
    HDB_NAME_MGR names("top");
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_TEV, CDB_FAMILY_MRL, CDB_FAMILY_UVO}) {
        SCOPED_TRACE(family);
        HDB_INSTANCE_NAME* name = names.create_unique_name("y~output", 0);
        std::unique_ptr<CDB_ATOM_NODE> pin(cdb_create_output_pin(family, name));
        ASSERT_TRUE(pin);
        EXPECT_TRUE(pin->is_pin());
        EXPECT_EQ(pin->get_family(), family);
        EXPECT_EQ(pin->get_instance_name(), name);
        CDB_ATOM_ITERM* d = pin->get_input_term_by_type(DB_DATAIN);
        ASSERT_TRUE(d);
        EXPECT_FALSE(d->is_connected());
        ASSERT_EQ(pin->get_output_count(), 1);
        CDB_ATOM_OTERM* pad = pin->get_output_term(0);
        EXPECT_TRUE(pad->is_used_as(DB_PAD_OUT));
        EXPECT_FALSE(pad->is_registered());
        EXPECT_EQ(pad->get_instance_name(), name);
        EXPECT_FALSE(pad->has_fanout());
        EXPECT_STREQ(pad->get_wysiwyg_port_name(), "padout");
        // Asking again gives the same term, not a second pad.
        EXPECT_EQ(cdb_add_pad_output(pin.get()), pad);
        EXPECT_EQ(pin->get_output_count(), 1);
    }
    EXPECT_EQ(cdb_create_output_pin(77, nullptr), nullptr);
    std::unique_ptr<CDB_ATOM_NODE> lut(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, nullptr));
    EXPECT_EQ(cdb_add_pad_output(lut.get()), nullptr);
    EXPECT_EQ(lut->get_output_count(), 0);
    EXPECT_EQ(cdb_add_pad_output(nullptr), nullptr);
    // An input pin gains the pad on request, beside its core-side output.
    std::unique_ptr<CDB_ATOM_NODE> in(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_IO, nullptr));
    CDB_ATOM_OTERM* core = in->add_output_term(DB_DATA_OUT);
    CDB_ATOM_OTERM* pad = cdb_add_pad_output(in.get());
    ASSERT_TRUE(pad && pad != core);
    EXPECT_EQ(in->get_output_term_by_type(DB_DATA_OUT), core);
}

TEST(CdbNetlist, FixedSlotsAndReplaceByType)
{
    NET n;
    CDB_ATOM_NODE* lut = n.add(CDB_KIND_LCELL_COMB);
    EXPECT_EQ(lut->get_input_port_number(DB_DATA_C), 2);
    EXPECT_GE(lut->get_input_port_number(DB_CLOCK), lut->get_ordered_input_count());
    CDB_ATOM_ITERM* c = lut->add_input_term(DB_DATA_C);
    EXPECT_EQ(lut->get_input_term(2), c);
    CDB_ATOM_ITERM* fresh = nullptr;
    lut->create_input_term(nullptr, fresh, lut, DB_DATA_C);
    EXPECT_TRUE(fresh->is_used_as(DB_DATA_C));
    CDB_ATOM_ITERM* old = lut->replace_input_term_by_type(fresh, DB_DATA_C);
    EXPECT_EQ(old, c);
    EXPECT_EQ(lut->get_input_term(2), fresh);
    delete old;
    EXPECT_EQ(lut->replace_input_term_by_type(nullptr, DB_DATA_C), fresh);
    int count = 0;
    for (auto it = lut->begin_iterm(); it != lut->end_iterm(); ++it) ++count;
    EXPECT_EQ(count, 0);  // empty slots are skipped
    delete fresh;
}

// Input and output slots share one block: growing either kind, in any
// order and far past the first size, keeps every term of both in its slot.
TEST(CdbNetlist, InputAndOutputSlotsSurviveEachOthersGrowth)
{
    NET n;
    for (int kind : {CDB_KIND_LCELL_COMB, CDB_KIND_REGISTER}) {
        CDB_ATOM_NODE* a = n.add(kind);
        std::vector<CDB_ATOM_ITERM*> ins(a->get_input_count(), nullptr);
        std::vector<CDB_ATOM_OTERM*> outs;
        for (int step = 0; step < 60; ++step) {
            switch (step % 4) {
            case 0: outs.push_back(a->add_output_term(DB_COMB_OUT, nullptr, step)); break;
            case 1: ins.push_back(a->add_input_term(DB_DATAIN, step)); break;
            case 2: {
                // A slot far past the end: the slots between stay empty.
                const int slot = static_cast<int>(ins.size()) + 2;
                CDB_ATOM_ITERM* t = nullptr;
                a->create_input_term(nullptr, t, a, DB_SYNCH_DATA);
                a->set_input_term(slot, t);
                ins.resize(slot + 1, nullptr);
                ins[slot] = t;
                break;
            }
            default:
                // An output leaves its slot empty, and a later one fills it again.
                a->delete_output_term(outs[step / 8]);
                outs[step / 8] = nullptr;
                if (step % 8 == 7) {
                    CDB_ATOM_OTERM* o = new CDB_ATOM_OTERM(nullptr, DB_SUM_OUT);
                    a->set_output_term_by_type(o, DB_SUM_OUT, 100 + step);
                    outs[step / 8] = o;
                }
            }
            ASSERT_EQ(a->get_input_count(), static_cast<int>(ins.size())) << step;
            ASSERT_EQ(a->get_output_count(), static_cast<int>(outs.size())) << step;
            for (size_t i = 0; i < ins.size(); ++i) ASSERT_EQ(a->get_input_term(static_cast<int>(i)), ins[i]) << step;
            for (size_t i = 0; i < outs.size(); ++i)
                ASSERT_EQ(a->get_output_term(static_cast<int>(i)), outs[i]) << step;
        }
        std::vector<CDB_ATOM_ITERM*> walked(a->begin_iterm(), a->end_iterm()), present;
        for (CDB_ATOM_ITERM* t : ins)
            if (t) present.push_back(t);
        EXPECT_EQ(walked, present);
        EXPECT_TRUE(a->verify_fanin() && a->verify_fanout());
    }
}

// ------------------------------------------------------------------ native text form

TEST(CdbNative, RoundTripIsByteIdenticalAndRestoresEveryProperty)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    for (CDB_ATOM_NODE* n : *t.netlist)
        if (n->is_lcell_comb()) n->get_output_term_by_type(DB_SUM_OUT)->set_invert_observable(true);
    std::ostringstream first;
    cdb_write_native_netlist(*t.netlist, first);
    HDB_NAME_MGR fresh("chip");
    std::istringstream in(first.str());
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> back(cdb_read_native_netlist(in, "rich.atoms", &fresh, &error));
    ASSERT_TRUE(back) << error;
    std::ostringstream second;
    cdb_write_native_netlist(*back, second);
    EXPECT_EQ(first.str(), second.str());
    EXPECT_TRUE(back->verify());

    // Spot checks that the text really carried the properties.
    CDB_ATOM_NODE* lut = nullptr;
    for (CDB_ATOM_NODE* n : *back)
        if (n->is_lcell_comb()) lut = n;
    ASSERT_TRUE(lut);
    EXPECT_EQ(lut->get_instance_name()->get_short_hpath(), "sub|lut1");
    EXPECT_EQ(lut->get_instance_name()->get_flags(), unsigned(HDB_INAME_FLAG_FROM_NETLIST | HDB_INAME_FLAG_PROTECTED));
    EXPECT_TRUE(lut->test_bit(41));
    EXPECT_TRUE(lut->is_user_lcell());
    EXPECT_EQ(lut->get_location(), (CDB_ATOM_LOCATION{3, 4, 1, -1}));
    EXPECT_EQ(lut->get_assignments().partition_id, 2);
    EXPECT_EQ(lut->get_adder_lutmask(), 0x1234abcdu);
    CDB_ATOM_ITERM* b = lut->get_input_term_by_type(DB_DATA_B);
    EXPECT_TRUE(b->is_inverted());
    EXPECT_EQ(b->get_global(), -3);
    EXPECT_EQ(b->get_delay_chain_index(DB_DELAY_CHAIN_INPUT), 5);
    EXPECT_TRUE(lut->get_input_term_by_type(DB_DATA_C)->is_logical_vcc());
    EXPECT_NE(lut->get_input_term_by_type(DB_DATA_F), nullptr);
    EXPECT_LT(lut->get_output_term_by_type(DB_SUM_OUT)->get_host_index(), 0);
    EXPECT_TRUE(lut->get_output_term_by_type(DB_SUM_OUT)->is_invert_observable());
    EXPECT_FALSE(lut->get_output_term_by_type(DB_COMB_OUT)->is_invert_observable());
    // Fanout order of the input pin: A, B, then the register clock.
    CDB_ATOM_OTERM* pin_out = back->begin_node_list().operator*()->get_output_term_by_type(DB_DATA_OUT);
    std::vector<CDB_ATOM_ITERM*> f = fanouts(pin_out);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_TRUE(f[0]->is_used_as(DB_DATA_A));
    EXPECT_TRUE(f[2]->is_used_as(DB_CLOCK));
    // The output pin's pad: type, name, host index and no fanout survive.
    CDB_ATOM_NODE* out = nullptr;
    for (CDB_ATOM_NODE* n : *back) out = n;
    ASSERT_TRUE(out && out->is_pin());
    CDB_ATOM_OTERM* pad = out->get_output_term_by_type(DB_PAD_OUT);
    ASSERT_TRUE(pad);
    EXPECT_EQ(pad->get_instance_name(), out->get_instance_name());
    EXPECT_EQ(pad->get_host_index(), 2);
    EXPECT_FALSE(pad->has_fanout());
    EXPECT_EQ(out->get_output_term_by_type(DB_DATA_OUT), nullptr);
    EXPECT_FALSE(out->is_user_lcell());
    EXPECT_FALSE(out->get_input_term_by_type(DB_DATAIN)->is_signal_probe());
    // The register output feeds the RAM address only as a probe.
    CDB_ATOM_ITERM* probe = out->get_input_term_by_type(DB_DATAIN)->get_source()->get_first_fanout();
    ASSERT_TRUE(probe && probe->get_my_node()->is_ram());
    EXPECT_TRUE(probe->is_signal_probe());
    // Same ids as written.
    for (CDB_ATOM_NODE* n : *t.netlist) EXPECT_NE(back->get_node_by_id(n->get_id()), nullptr);
}

// A design whose text is megabytes long goes out in pieces: every name, node
// and fanout line arrives once and in order, and reads back to the same text.
TEST(CdbNative, TextLongerThanOneChunkRoundTrips)
{
    HDB_NAME_MGR names("chip");
    CDB_ATOM_NETLIST netlist(CDB_FAMILY_BRK);
    netlist.set_name_mgr(&names);
    CDB_ATOM_OTERM* prev = nullptr;
    const int luts = 12000;
    for (int i = 0; i < luts; ++i) {
        const std::string path = "a_rather_long_hierarchy|of_several_levels|lut_" + std::to_string(i);
        HDB_INSTANCE_NAME* name = names.find_or_create_path(path, HDB_INAME_FLAG_FROM_NETLIST);
        CDB_ATOM_NODE* lut = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, name);
        netlist.add_node(lut);
        CDB_ATOM_ITERM* a = lut->add_input_term(DB_DATA_A);
        lut->set_lutmask(CDB_LUTMASK(6, 0x5555555555555555ull));
        CDB_ATOM_OTERM* o = lut->add_output_term(DB_COMB_OUT, name);
        if (prev) prev->insert_fanout(a);
        prev = o;
    }
    std::ostringstream first;
    cdb_write_native_netlist(netlist, first);
    const std::string text = first.str();
    ASSERT_GT(text.size(), size_t(1) << 20);  // more than one piece
    size_t nodes = 0, fanouts = 0;
    for (size_t at = text.find("\nnode "); at != std::string::npos; at = text.find("\nnode ", at + 1)) ++nodes;
    for (size_t at = text.find("\nfanout "); at != std::string::npos; at = text.find("\nfanout ", at + 1)) ++fanouts;
    EXPECT_EQ(nodes, size_t(luts));
    EXPECT_EQ(fanouts, size_t(luts - 1));
    EXPECT_EQ(text.substr(text.size() - 4), "end\n");
    HDB_NAME_MGR fresh("chip");
    std::istringstream in(text);
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> back(cdb_read_native_netlist(in, "long.atoms", &fresh, &error));
    ASSERT_TRUE(back) << error;
    std::ostringstream second;
    cdb_write_native_netlist(*back, second);
    EXPECT_TRUE(second.str() == text);
}

// Names of two managers in one netlist: each name is numbered once, in
// first-use order, whichever manager holds it.
TEST(CdbNative, NamesOfSeveralManagersAreNumberedInFirstUseOrder)
{
    HDB_NAME_MGR own("chip"), other("elsewhere");
    CDB_ATOM_NETLIST netlist(CDB_FAMILY_BRK);
    netlist.set_name_mgr(&own);
    HDB_INSTANCE_NAME* a = own.find_or_create_path("a", 0);
    HDB_INSTANCE_NAME* b = other.find_or_create_path("b", 0);
    // Same path in both managers, and ids that coincide across them.
    HDB_INSTANCE_NAME* c = other.find_or_create_path("a", 0);
    for (HDB_INSTANCE_NAME* name : {b, a, c, b}) {
        CDB_ATOM_NODE* lut = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, name);
        netlist.add_node(lut);
        lut->add_output_term(DB_COMB_OUT, name == b ? a : name);
    }
    std::ostringstream text;
    cdb_write_native_netlist(netlist, text);
    const std::string t = text.str();
    EXPECT_NE(t.find("name 0 0 \"b\"\nname 1 0 \"a\"\nname 2 0 \"a\"\n"), std::string::npos) << t;
    EXPECT_EQ(t.find("name 3 "), std::string::npos) << t;
    // The name each node and output refers to: the last field of its line.
    std::vector<std::string> node_refs, out_refs;
    std::istringstream lines(t);
    for (std::string line; std::getline(lines, line);) {
        const std::string last = line.substr(line.rfind(' ') + 1);
        if (line.rfind("node ", 0) == 0) node_refs.push_back(last);
        if (line.rfind("  out ", 0) == 0) out_refs.push_back(last);
    }
    EXPECT_EQ(node_refs, (std::vector<std::string>{"0", "1", "2", "0"}));
    EXPECT_EQ(out_refs, (std::vector<std::string>{"1", "1", "2", "1"}));
}

TEST(CdbNative, ErrorsNameFileAndLine)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    std::ostringstream os;
    cdb_write_native_netlist(*t.netlist, os);
    const std::string good = os.str();
    struct CASE
    {
        std::string text;
        std::string expect;
    };
    std::vector<CASE> cases = {
        {"garbage\n", "f.atoms:1: not a native atom netlist"},
        {good.substr(0, good.size() - 4), "missing \"end\""},  // truncated
        {"morv-atom-netlist 1\nnode 5 6 999 -\nend\n", "f.atoms:2: unknown atom type 999"},
        {"morv-atom-netlist 1\nnode 5 6 0 -\nnode 5 6 0 -\nend\n", "f.atoms:3: atom id 5 appears twice"},
        {"morv-atom-netlist 1\nnode 5 6 0 7\nend\n", "f.atoms:2: unknown name reference"},
        {"morv-atom-netlist 1\nnode 5 6 0 -\n  mask 6 xyz\nend\n", "f.atoms:3: bad number"},
        {"morv-atom-netlist 1\nnode 5 6 0 -\n  aux 12\nend\n",
         "f.atoms:3: a 6-input combinational cell has no separate adder mask"},
        {"morv-atom-netlist 1\nnode 5 6 0 -\n  in 0 11 0 0 1 -1\nend\n", "marked driven but appears in no fanout list"},
        {"morv-atom-netlist 1\nnode 5 6 0 -\n  out 0 8 0 -1 -\nfanout 5 0 : 9.0\nend\n",
         "f.atoms:4: sink \"9.0\" does not exist"},
        {"morv-atom-netlist 1\n  bits 1\nend\n", "f.atoms:2: \"bits\" outside a node"},
        {"morv-atom-netlist 1\nnode 5 6 0 -\n  out 0 8 0 -1 -\n  invobs 1\nend\n",
         "f.atoms:4: invobs names no output slot"},
        {"morv-atom-netlist 1\nend\nnode 1 6 0 -\n", "f.atoms:3: text after \"end\""},
    };
    for (const CASE& c : cases) {
        std::istringstream in(c.text);
        std::string error;
        std::unique_ptr<CDB_ATOM_NETLIST> n(cdb_read_native_netlist(in, "f.atoms", nullptr, &error));
        EXPECT_EQ(n, nullptr) << c.text;
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(cdb_read_native_netlist_file("/nonexistent/x.atoms", nullptr, &error), nullptr);
    EXPECT_NE(error.find("/nonexistent/x.atoms"), std::string::npos);
}

TEST(CdbNative, DumperWritesTheNativeFormAndReadingMovesTheNextId)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    ASSERT_TRUE(CUT_ATOM_DUMPER::dump_current_atom_netlist(t.netlist.get(), "dump.atoms"));
    const uint32_t max_id = t.netlist->get_max_id();
    CDB_ATOM_NODE::s_next_id = 1;  // as in a fresh process
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> back(cdb_read_native_netlist_file("dump.atoms", nullptr, &error));
    ASSERT_TRUE(back) << error;
    EXPECT_GT(CDB_ATOM_NODE::s_next_id, max_id);
    std::ostringstream dumped;
    CUT_ATOM_DUMPER::dump_atom(back->get_node_by_id(max_id), dumped);
    EXPECT_NE(dumped.str().find("out1"), std::string::npos);
    EXPECT_FALSE(CUT_ATOM_DUMPER::dump_current_atom_netlist(t.netlist.get(), "/nonexistent/dir/x", &error));
}

TEST(CdbNative, ReadingAgainAndAFailedReadSpendNoIds)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    ASSERT_TRUE(CUT_ATOM_DUMPER::dump_current_atom_netlist(t.netlist.get(), "again.atoms"));
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> first(cdb_read_native_netlist_file("again.atoms", nullptr, &error));
    ASSERT_TRUE(first) << error;
    const uint32_t next_after_first = CDB_ATOM_NODE::s_next_id;
    EXPECT_GT(next_after_first, t.netlist->get_max_id());
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<CDB_ATOM_NETLIST> again(cdb_read_native_netlist_file("again.atoms", nullptr, &error));
        ASSERT_TRUE(again) << error;
        EXPECT_EQ(CDB_ATOM_NODE::s_next_id, next_after_first) << "round " << round;
    }
    std::istringstream truncated("morv-atom-netlist 1\nnode 900000 6 0 -\n");
    EXPECT_EQ(cdb_read_native_netlist(truncated, "t.atoms", nullptr, &error), nullptr);
    EXPECT_EQ(CDB_ATOM_NODE::s_next_id, next_after_first);
}

TEST(CdbNetlist, LowerIdsJoiningLaterAreStillFoundAndVerifyCatchesBrokenLinks)
{
    NET old_net;
    CDB_ATOM_NODE* early = old_net.add(CDB_KIND_LCELL_COMB);  // smaller id
    NET live;
    CDB_ATOM_NODE* late = live.add(CDB_KIND_REGISTER);
    live.netlist.assimilate(&old_net.netlist);
    EXPECT_EQ(live.netlist.get_node_by_id(early->get_id()), early);
    EXPECT_EQ(live.netlist.get_node_by_id(late->get_id()), late);
    EXPECT_EQ(live.netlist.get_node_by_id(early->get_id() - 1), nullptr);
    EXPECT_EQ(live.netlist.get_max_id(), late->get_id());
    live.netlist.delete_node(late);
    EXPECT_EQ(live.netlist.get_max_id(), early->get_id());

    // A sink driven from a node outside the netlist is reported.
    NET other;
    CDB_ATOM_OTERM* foreign = other.add(CDB_KIND_IO)->add_output_term(DB_DATA_OUT);
    foreign->insert_fanout(early->add_input_term(DB_DATA_A));
    EXPECT_FALSE(live.netlist.verify());
    early->get_input_term_by_type(DB_DATA_A)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_TRUE(live.netlist.verify());
}

TEST(CdbNetlist, NotOwningNetlistLetsGoOfItsNodes)
{
    CDB_ATOM_NODE* keep = cdb_create_atom(CDB_FAMILY_RZK, CDB_KIND_LCELL_COMB, nullptr);
    {
        CDB_ATOM_NETLIST shell;
        shell.add_node(keep);
        shell.set_own_all_nodes(false);
    }
    EXPECT_EQ(keep->get_netlist(), nullptr);
    CDB_ATOM_NETLIST owner;
    owner.add_node(keep);  // deleted with owner (AddressSanitizer reports a leak otherwise)
    EXPECT_EQ(owner.get_node_count(), 1u);
}

}  // namespace

// Slot counts are 16 bits wide: an atom refuses a slot past them instead of
// losing the terms it has.
TEST(CdbNetlist, SlotsPastTheirLimitAreRefused)
{
    CDB_ATOM_NODE* ram = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_RAM, nullptr);
    ASSERT_NE(ram, nullptr);
    CDB_ATOM_ITERM* first = nullptr;
    ram->create_input_term(nullptr, first, ram, DB_DATAIN);
    ram->set_input_term(50000, first);
    CDB_ATOM_ITERM* t = nullptr;
    ram->create_input_term(nullptr, t, ram, DB_DATAIN);
    ram->set_input_term(65534, t);  // grows to the very limit
    EXPECT_EQ(ram->get_input_term(50000), first);
    EXPECT_EQ(ram->get_input_term(65534), t);
    EXPECT_EQ(ram->get_input_count(), 65535);
    CDB_ATOM_ITERM* past = nullptr;
    ram->create_input_term(nullptr, past, ram, DB_DATAIN);
    EXPECT_THROW(ram->set_input_term(65535, past), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_EQ(ram->get_input_term(65534), t);
    delete past;
    delete ram;
}

// The loop search finishes each cell once. A chain listed sink first is
// where a walk that opened finished cells again would walk the rest of the
// chain from every cell: some 10^10 steps for 150,000 cells, where once is
// a moment. A loop closed over the whole chain is still found.
TEST(CdbNative, LoopSearchWalksALongChainListedSinkFirstOnce)
{
    NET net;
    const size_t cells = 150000;
    std::vector<CDB_ATOM_NODE*> chain(cells);
    for (size_t i = cells; i-- > 0;) {
        chain[i] = net.add(CDB_KIND_LCELL_COMB);
        chain[i]->add_input_term(DB_DATA_A);
        chain[i]->add_output_term(DB_COMB_OUT);
        chain[i]->set_lutmask(CDB_LUTMASK(6, 0x5555555555555555ull));
    }
    for (size_t i = 0; i + 1 < cells; ++i)
        chain[i]->get_output_term_by_type(DB_COMB_OUT)->insert_fanout(chain[i + 1]->get_input_term_by_type(DB_DATA_A));
    ASSERT_EQ(*net.netlist.begin(), chain.back());
    EXPECT_EQ(cdb_native_find_loop(net.netlist, net.netlist.get_max_id()), nullptr);
    chain.back()->get_output_term_by_type(DB_COMB_OUT)->insert_fanout(chain[0]->add_input_term(DB_DATA_B));
    EXPECT_NE(cdb_native_find_loop(net.netlist, net.netlist.get_max_id()), nullptr);
}

}  // namespace netlist_test
