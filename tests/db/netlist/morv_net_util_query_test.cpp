#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cut/cut_atom_util.h"

#include "net_util_fixture.h"

namespace morv_net_util_query_test {

namespace {

class NetUtilQueryTest : public MORV_CLEAN_STATE_TEST
{};

TEST_F(NetUtilQueryTest, EveryFamilyGetsItsLeafAndLutWidth)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        ASSERT_NE(n.util(), nullptr) << family;
        EXPECT_EQ(n.util()->get_max_lut_inputs(), cdb_family_lut_size(family)) << family;
    }
    NET_UTIL_NETLIST zepla_b(CDB_FAMILY_ZEPLA_B);
    EXPECT_NE(dynamic_cast<MORV_NET_UTIL_ZEPLA*>(zepla_b.util()), nullptr);
    NET_UTIL_NETLIST kestlin(CDB_FAMILY_KESTLIN);
    EXPECT_NE(dynamic_cast<MORV_NET_UTIL_KESTLIN*>(kestlin.util()), nullptr);
}

TEST_F(NetUtilQueryTest, RegistersAndCellsAreRecognisedPerFamily)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        CDB_ATOM_NODE* comb = n.atom(CDB_KIND_LCELL_COMB, "comb");
        CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, "reg");
        CDB_ATOM_NODE* pin = n.atom(CDB_KIND_IO, "pin");
        EXPECT_TRUE(u->is_lcell(comb)) << family;
        EXPECT_TRUE(u->is_lut(comb)) << family;
        EXPECT_FALSE(u->is_lcell(pin)) << family;
        if (family == CDB_FAMILY_UVO) {
            EXPECT_FALSE(u->is_lcell_hsadder(comb));
            EXPECT_FALSE(u->is_in_extended_mode(comb));
            EXPECT_FALSE(u->is_in_register_cascade(comb));
            // The register lives inside the logic cell: present only while its output is used.
            EXPECT_FALSE(u->is_ff(reg));
            EXPECT_FALSE(u->is_register_present(reg));
            n.load(reg, DB_REG_OUT);
            EXPECT_TRUE(u->is_register_present(reg));
            EXPECT_FALSE(u->is_in_register_cascade(reg));  // its register feeds no cascade
            CDB_ATOM_NODE* qfbk = n.atom(CDB_KIND_LCELL_COMB, "qfbk");
            qfbk->set_bit(CDB_ATOM_BIT_QFBK_MODE);
            EXPECT_TRUE(u->is_register_present(qfbk));
            continue;
        }
        EXPECT_TRUE(u->is_ff(reg)) << family;
        EXPECT_TRUE(u->is_lcell(reg)) << family;
        EXPECT_TRUE(u->is_register_present(reg)) << family;
        EXPECT_FALSE(u->is_ff(comb)) << family;
        EXPECT_FALSE(u->is_register_present(comb)) << family;
        EXPECT_FALSE(u->is_lut(reg)) << family;
    }
    NET_UTIL_NETLIST mrl(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* adder = mrl.atom(CDB_KIND_HSADDER, "adder");
    EXPECT_TRUE(mrl.util()->is_lcell(adder));
    EXPECT_TRUE(mrl.util()->is_lcell_hsadder(adder));
    EXPECT_FALSE(mrl.util()->is_lut(adder));
    EXPECT_TRUE(mrl.util()->is_lcell_part_of_a_carry_chain(adder));
    EXPECT_TRUE(mrl.util()->is_in_arithmetic_mode(adder));
}

TEST_F(NetUtilQueryTest, ConnectedMeansDrivenInputOrOutputWithFanout)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    lut->add_input_term(DB_DATA_B);
    lut->add_output_term(DB_COMB_OUT);
    EXPECT_FALSE(u->is_connected(lut, DB_DATA_A));    // no term
    EXPECT_FALSE(u->is_connected(lut, DB_DATA_B));    // term, not connected
    EXPECT_FALSE(u->is_connected(lut, DB_COMB_OUT));  // term without fanout
    lut->get_input_term_by_type(DB_DATA_B)->set_gnd();
    EXPECT_TRUE(u->is_connected(lut, DB_DATA_B));  // a constant tie counts
    n.load(lut, DB_COMB_OUT);
    EXPECT_TRUE(u->is_connected(lut, DB_COMB_OUT));
    // A plain number names an input port: input 8 is not the comb-out.
    EXPECT_FALSE(u->is_connected(lut, static_cast<int>(DB_COMB_OUT)));
    EXPECT_TRUE(u->is_output_connected(lut, DB_COMB_OUT));
    EXPECT_EQ(internal_error_of([&] { u->is_connected(lut, 3016); }),
              "node && port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE");
    EXPECT_EQ(u->get_number_of_connected_lut_inputs(lut), 1);
}

TEST_F(NetUtilQueryTest, CarryChainMembershipFollowsTheBranchPorts)
{
    NET_UTIL_NETLIST tev(CDB_FAMILY_TEV);
    CDB_ATOM_NODE* a = tev.atom(CDB_KIND_LCELL_COMB, "a");
    a->add_output_term(DB_CARRY_OUT);  // no fanout yet
    EXPECT_FALSE(tev.util()->is_lcell_part_of_a_carry_chain(a));
    EXPECT_FALSE(tev.util()->is_in_arithmetic_mode(a));
    tev.load(a, DB_CARRY_OUT);
    EXPECT_TRUE(tev.util()->is_lcell_part_of_a_carry_chain(a));
    EXPECT_TRUE(tev.util()->is_in_arithmetic_mode(a));
    EXPECT_TRUE(tev.util()->is_lcell_in_a_chain(a));
    CDB_ATOM_NODE* reg = tev.atom(CDB_KIND_REGISTER, "r");
    EXPECT_EQ(internal_error_of([&] { tev.util()->is_lcell_part_of_a_carry_chain(reg); }),
              "lcell_atom->is_lcell_comb()");

    NET_UTIL_NETLIST brk(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* b = brk.atom(CDB_KIND_LCELL_COMB, "b");
    EXPECT_FALSE(brk.util()->is_lcell_part_of_a_carry_chain(b));
    brk.drive(b, DB_SHARE_IN);
    EXPECT_TRUE(brk.util()->is_lcell_part_of_a_carry_chain(b));
    EXPECT_TRUE(brk.util()->is_carry_in_connected(b));
    EXPECT_FALSE(brk.util()->is_in_arithmetic_mode(b));  // share-in alone: no adder output used
    CDB_ATOM_NODE* c = brk.atom(CDB_KIND_LCELL_COMB, "c");
    brk.load(c, DB_SHARE_OUT);
    EXPECT_TRUE(brk.util()->is_lcell_part_of_a_carry_chain(c));
    EXPECT_TRUE(brk.util()->has_carry_out_fanout(c));
    EXPECT_TRUE(brk.util()->is_in_arithmetic_mode(c));
    CDB_ATOM_NODE* d = brk.atom(CDB_KIND_LCELL_COMB, "d");
    brk.drive(d, DB_DATA_G);
    EXPECT_TRUE(brk.util()->is_in_extended_mode(d));

    NET_UTIL_NETLIST uvo(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* u = uvo.atom(CDB_KIND_LCELL_COMB, "u");
    EXPECT_FALSE(uvo.util()->is_lcell_in_a_chain(u));
    uvo.drive(u, DB_CHAIN_IN_1);
    EXPECT_TRUE(uvo.util()->is_lcell_part_of_a_carry_chain(u));
    EXPECT_TRUE(uvo.util()->is_carry_in_connected(u));
    CDB_ATOM_NODE* v = uvo.atom(CDB_KIND_LCELL_COMB, "v");
    CDB_ATOM_NODE* w = uvo.atom(CDB_KIND_LCELL_COMB, "w");
    uvo.drive(w, DB_REG_CASCADE_IN, v->add_output_term(DB_REG_OUT));
    EXPECT_TRUE(uvo.util()->is_in_register_cascade(v));  // its reg-out feeds a cascade input
    EXPECT_TRUE(uvo.util()->is_in_register_cascade(w));
    EXPECT_TRUE(uvo.util()->is_lcell_in_a_chain(v));
    EXPECT_FALSE(uvo.util()->is_lcell_part_of_a_carry_chain(v));
}

// Cells 0 .. n-1 joined carry-out to carry-in (or by other port pairs).
std::vector<CDB_ATOM_NODE*> chain(NET_UTIL_NETLIST& n, int count, int out_port = DB_CARRY_OUT,
                                  int in_port = DB_CARRY_IN)
{
    std::vector<CDB_ATOM_NODE*> cells;
    for (int i = 0; i < count; ++i) {
        cells.push_back(n.atom(CDB_KIND_LCELL_COMB, numbered("c", i)));
        if (i > 0) n.drive(cells[i], in_port, cells[i - 1]->add_output_term(out_port));
    }
    return cells;
}

TEST_F(NetUtilQueryTest, CarryChainWalksFindNeighboursAndHead)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        std::vector<CDB_ATOM_NODE*> cells = chain(n, 4);
        EXPECT_EQ(u->get_next_node_in_carry_chain(cells[0]), cells[1]) << family;
        EXPECT_EQ(u->get_next_node_in_carry_chain(cells[3]), nullptr) << family;
        EXPECT_EQ(u->get_previous_node_in_carry_chain(cells[2]), cells[1]) << family;
        EXPECT_EQ(u->get_previous_node_in_carry_chain(cells[0]), nullptr) << family;
        EXPECT_EQ(u->get_carry_chain_head(cells[3]), cells[0]) << family;
        EXPECT_EQ(u->get_carry_chain_head(cells[0]), cells[0]) << family;
    }
    // 6-input cells continue through the share ports when the carry is unused.
    NET_UTIL_NETLIST brk(CDB_FAMILY_BRK);
    std::vector<CDB_ATOM_NODE*> shared = chain(brk, 3, DB_SHARE_OUT, DB_SHARE_IN);
    EXPECT_EQ(brk.util()->get_next_node_in_carry_chain(shared[0]), shared[1]);
    EXPECT_EQ(brk.util()->get_carry_chain_head(shared[2]), shared[0]);
    // UVO: the carry-out's first fanout may sit outside the chain.
    NET_UTIL_NETLIST uvo(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* first = uvo.atom(CDB_KIND_LCELL_COMB, "first");
    CDB_ATOM_OTERM* carry = first->add_output_term(DB_CARRY_OUT);
    CDB_ATOM_NODE* outside = uvo.atom(CDB_KIND_LCELL_COMB, "outside");
    uvo.drive(outside, DB_CARRY_IN, carry);
    uvo.drive(outside, DB_CHAIN_IN_0);
    CDB_ATOM_NODE* next = uvo.atom(CDB_KIND_LCELL_COMB, "next");
    uvo.drive(next, DB_CARRY_IN, carry);
    EXPECT_EQ(uvo.util()->get_next_node_in_carry_chain(first), next);
}

TEST_F(NetUtilQueryTest, LatchesAreLogicCellsWithALatchDescription)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    CDB_ATOM_NODE* pin = n.atom(CDB_KIND_IO, "pin");
    EXPECT_FALSE(n.util()->is_latch(lut));
    auto* info = new CDB_ATOM_LATCH_INFO();
    cut_set_atom_latch_info(lut, info);
    EXPECT_FALSE(n.util()->is_latch(lut));  // described, but not marked a latch
    info->set_full_latch_info(DB_DATA_F, DB_DATA_E, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, 1);
    EXPECT_TRUE(n.util()->is_latch(lut));
    auto* pin_info = new CDB_ATOM_LATCH_INFO();
    pin_info->is_latch = true;
    cut_set_atom_latch_info(pin, pin_info);
    EXPECT_FALSE(n.util()->is_latch(pin));
}

TEST_F(NetUtilQueryTest, CeilLog2AndItsLimits)
{
    EXPECT_EQ(MORV_NET_UTIL::ceil_log2(1), 1);
    EXPECT_EQ(MORV_NET_UTIL::ceil_log2(2), 1);
    EXPECT_EQ(MORV_NET_UTIL::ceil_log2(3), 2);
    EXPECT_EQ(MORV_NET_UTIL::ceil_log2(64), 6);
    EXPECT_EQ(MORV_NET_UTIL::ceil_log2(65), 7);
    EXPECT_EQ(MORV_NET_UTIL::ceil_log2(128), 7);
    EXPECT_EQ(internal_error_of([] { MORV_NET_UTIL::ceil_log2(0); }), "Can't compute log(0)");
    EXPECT_EQ(internal_error_of([] { MORV_NET_UTIL::ceil_log2(129); }),
              "Can't compute log() of a value greater than 128");
}

TEST_F(NetUtilQueryTest, CommonSourcesCountDistinctDrivers)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_TEV);
    CDB_ATOM_NODE* x = n.atom(CDB_KIND_LCELL_COMB, "x");
    CDB_ATOM_NODE* y = n.atom(CDB_KIND_LCELL_COMB, "y");
    CDB_ATOM_OTERM* s1 = n.new_source();
    CDB_ATOM_OTERM* s2 = n.new_source();
    n.drive(x, DB_DATA_A, s1);
    n.drive(x, DB_DATA_B, s2);
    n.drive(x, DB_DATA_C, s1);
    n.drive(y, DB_DATA_C, s2);
    n.drive(y, DB_DATA_D, s1);
    x->add_input_term(DB_DATA_D)->set_vcc();  // a constant has no source
    EXPECT_EQ(n.util()->count_common_lut_input_sources(x, y), 2);
    EXPECT_EQ(n.util()->count_common_lut_input_sources(x, nullptr), 2);
    n.drive(y, DB_DATA_B);
    EXPECT_EQ(n.util()->count_common_lut_input_sources(x, y), 3);
    // Limited to the first three inputs, y's D input and its source drop out.
    EXPECT_EQ(n.util()->count_common_lut_input_sources_limited(nullptr, y, false), 2);
    EXPECT_EQ(n.util()->count_common_lut_input_sources_limited(nullptr, y, true), 3);
}

TEST_F(NetUtilQueryTest, OutputTermsOfALogicCell)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    CDB_ATOM_OTERM* comb = nullptr;
    CDB_ATOM_OTERM* reg = nullptr;
    EXPECT_TRUE(n.util()->get_lcell_output_terms(cell, &comb, &reg));
    EXPECT_EQ(comb, nullptr);
    CDB_ATOM_OTERM* c = cell->add_output_term(DB_COMB_OUT);
    CDB_ATOM_OTERM* r = cell->add_output_term(DB_REG_OUT);
    EXPECT_TRUE(n.util()->get_lcell_output_terms(cell, &comb, &reg));
    EXPECT_EQ(comb, c);
    EXPECT_EQ(reg, r);
    cell->add_output_term(DB_CARRY_OUT);
    EXPECT_FALSE(n.util()->get_lcell_output_terms(cell, &comb, &reg));
}

// What each family answers to the operations it does not support.
TEST_F(NetUtilQueryTest, UnsupportedOperationsReportTheirText)
{
    const std::string function = "Function not supported by this family";
    const std::string family_text = "Family not supported by this function";
    const std::string talvane_in = "This function is only implemented in Talvane II";
    const std::string talvane_for = "This function is only implemented for Talvane II";
    unsigned in[MORV_EVALUATE_INPUT_COUNT] = {};
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        CDB_ATOM_ITERM* iterm = cell->add_input_term(DB_DATA_A);
        const bool four = family == CDB_FAMILY_TEV || family == CDB_FAMILY_ZEPLA;
        const bool uvo = family == CDB_FAMILY_UVO;
        const bool six = !four && !uvo;
        SCOPED_TRACE(family);
        if (four) {
            EXPECT_EQ(internal_error_of([&] { u->is_in_qfbk_mode(cell); }), function);
        }
        if (!uvo) {
            EXPECT_EQ(internal_error_of([&] { u->does_lut_feed_register(cell); }), family_text);
            EXPECT_EQ(internal_error_of([&] { u->get_lcell_lutmask(cell); }), family_text);
        }
        if (six) {
            EXPECT_EQ(internal_error_of([&] { u->is_driven_by_constant_gnd(iterm); }), family_text);
            EXPECT_EQ(internal_error_of([&] { u->is_driven_by_constant_vcc(iterm); }), family_text);
            EXPECT_EQ(internal_error_of([&] { u->get_carry_lutmask(cell); }), family_text);
        }
        if (four || uvo) {
            n.load(cell, DB_SUM_OUT);
            const std::string& text = four ? function : family_text;
            EXPECT_EQ(internal_error_of([&] { u->evaluate_sum_out(cell, in); }), text);
            EXPECT_EQ(internal_error_of([&] { u->evaluate_share_out(cell, in); }), text);
            EXPECT_EQ(internal_error_of([&] { u->tie_inputs_to_vcc_lcells(); }), talvane_in);
        }
        if (uvo) {
            EXPECT_EQ(internal_error_of([&] { u->create_register(cell); }), function);
            EXPECT_EQ(internal_error_of([&] { u->create_or_lutmask(2); }), "This function is not supported by UVO");
        }
        if (six && family != CDB_FAMILY_BRK) {
            EXPECT_EQ(internal_error_of([&] { u->tie_inputs_to_vcc_lcells(); }), talvane_for);
        }
    }
}

// A comb-out of constant mask drives a constant; so does a tie. UVO also
// asks whether the driver stands in for an I/O pin (node bit 41).
TEST_F(NetUtilQueryTest, ConstantDriversThroughTiesAndConstantCells)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO}) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        SCOPED_TRACE(family);
        CDB_ATOM_NODE* sink = n.atom(CDB_KIND_LCELL_COMB, "sink");
        auto cell_driving = [&](const char* name, uint64_t mask, int output) {
            CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
            cell->set_lutmask(CDB_LUTMASK(4, mask));
            cell->set_carry_lutmask(CDB_LUTMASK(4, mask));
            CDB_ATOM_ITERM* iterm = sink->add_input_term(DB_DATA_A);
            cell->add_output_term(output)->insert_fanout(iterm);
            return iterm;
        };
        EXPECT_FALSE(u->is_driven_by_constant_gnd(nullptr));
        EXPECT_FALSE(u->is_driven_by_constant_vcc(nullptr));
        CDB_ATOM_ITERM* tied = sink->add_input_term(DB_DATA_B);
        EXPECT_FALSE(u->is_driven_by_constant_gnd(tied));  // unconnected
        tied->set_gnd();
        EXPECT_TRUE(u->is_driven_by_constant_gnd(tied));
        EXPECT_FALSE(u->is_driven_by_constant_vcc(tied));
        tied->set_vcc();
        EXPECT_TRUE(u->is_driven_by_constant_vcc(tied));
        EXPECT_FALSE(u->is_driven_by_constant_gnd(tied));

        CDB_ATOM_ITERM* zero = cell_driving("zero", 0, DB_COMB_OUT);
        CDB_ATOM_ITERM* one = cell_driving("one", 0xFFFF, DB_COMB_OUT);
        CDB_ATOM_ITERM* other = cell_driving("other", 0x8000, DB_COMB_OUT);
        EXPECT_TRUE(u->is_driven_by_constant_gnd(zero));
        EXPECT_FALSE(u->is_driven_by_constant_vcc(zero));
        EXPECT_TRUE(u->is_driven_by_constant_vcc(one));
        EXPECT_FALSE(u->is_driven_by_constant_gnd(one));
        EXPECT_FALSE(u->is_driven_by_constant_gnd(other) || u->is_driven_by_constant_vcc(other));
        // Only a comb-out of a logic cell counts.
        CDB_ATOM_ITERM* carry = cell_driving("carry", 0, DB_CARRY_OUT);
        EXPECT_FALSE(u->is_driven_by_constant_gnd(carry));
        CDB_ATOM_ITERM* pin = sink->add_input_term(DB_DATA_A);
        n.atom(CDB_KIND_IO, "pin")->add_output_term(DB_COMB_OUT)->insert_fanout(pin);
        EXPECT_FALSE(u->is_driven_by_constant_gnd(pin));

        // A cell standing in for an I/O pin is not a constant in UVO, for either value.
        for (CDB_ATOM_ITERM* iterm : {zero, one}) iterm->get_source()->get_my_node()->set_bit(CDB_ATOM_BIT_VIRTUAL_IO);
        const bool uvo = family == CDB_FAMILY_UVO;
        EXPECT_EQ(u->is_driven_by_constant_gnd(zero), !uvo);
        EXPECT_EQ(u->is_driven_by_constant_vcc(one), !uvo);
    }
}

// The five steps: a used register (or a fed-back one), no cascade, then the
// load inputs decide.
TEST_F(NetUtilQueryTest, UvoLutFeedsItsRegisterUnlessTheRegisterLoadsSomethingElse)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    EXPECT_FALSE(u->does_lut_feed_register(cell));  // 1: no used register
    cell->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    EXPECT_TRUE(u->does_lut_feed_register(cell));  // 3: no loads at all
    cell->clear_bit(CDB_ATOM_BIT_QFBK_MODE);
    n.load(cell, DB_REG_OUT);
    CDB_ATOM_ITERM* cascade = n.drive(cell, DB_REG_CASCADE_IN);
    EXPECT_FALSE(u->does_lut_feed_register(cell));  // 2
    cascade->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    CDB_ATOM_ITERM* sload = cell->add_input_term(DB_SYNCH_LOAD);
    EXPECT_TRUE(u->does_lut_feed_register(cell));  // 3: the sync load is unconnected
    CDB_ATOM_ITERM* aload = n.drive(cell, DB_ASYNCH_LOAD);
    EXPECT_TRUE(u->does_lut_feed_register(cell));  // 4
    aload->set_gnd();
    EXPECT_FALSE(u->does_lut_feed_register(cell));  // 5: async load off, no sync load
    n.drive(cell, DB_SYNCH_LOAD);
    EXPECT_TRUE(u->does_lut_feed_register(cell));  // 5: the sync load may pass the LUT
    sload->set_vcc();
    EXPECT_FALSE(u->does_lut_feed_register(cell));  // 5: always loading
    aload->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_FALSE(u->does_lut_feed_register(cell));  // 5 without the async load
}

TEST_F(NetUtilQueryTest, SyncLoadAndRegisterCascadeQueries)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_UVO);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    EXPECT_FALSE(u->is_sload_tied_to_vcc(cell));
    EXPECT_TRUE(u->is_synch_load_unused(cell));
    EXPECT_TRUE(u->is_register_data_path_free(cell));
    CDB_ATOM_ITERM* sload = cell->add_input_term(DB_SYNCH_LOAD);
    EXPECT_TRUE(u->is_synch_load_unused(cell));
    n.drive(cell, DB_SYNCH_LOAD);
    EXPECT_FALSE(u->is_sload_tied_to_vcc(cell));
    EXPECT_FALSE(u->is_synch_load_unused(cell));
    EXPECT_TRUE(u->is_register_data_path_free(cell));
    sload->set_vcc();
    EXPECT_TRUE(u->is_sload_tied_to_vcc(cell));
    EXPECT_FALSE(u->is_register_data_path_free(cell));
    EXPECT_FALSE(u->is_synch_load_unused(cell));
    // An active-low port reads the physical GND as logical VCC.
    sload->set_active_high(false);
    sload->set_gnd();
    EXPECT_TRUE(u->is_sload_tied_to_vcc(cell));
    sload->set_vcc();
    EXPECT_TRUE(u->is_synch_load_unused(cell));  // logical GND
    EXPECT_TRUE(u->is_register_data_path_free(cell));
    n.drive(cell, DB_REG_CASCADE_IN);
    EXPECT_FALSE(u->is_register_data_path_free(cell));
    EXPECT_FALSE(u->is_synch_load_unused(cell));
}

TEST_F(NetUtilQueryTest, LutInputsBySlackRatioEdgeNamesAndSpecialSources)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "blk|cell");
    for (int port : {DB_DATA_F, DB_DATA_B, DB_DATA_D}) n.drive(cell, port);
    cell->add_input_term(DB_DATA_C);
    // Without a timing netlist every driven input reads 1.0: port order, the unconnected last.
    int ports[6] = {};
    u->sort_lut_inputs_by_slack_ratio(cell, ports);
    EXPECT_EQ(std::vector<int>(ports, ports + 6),
              (std::vector<int>{DB_DATA_B, DB_DATA_D, DB_DATA_F, DB_DATA_A, DB_DATA_C, DB_DATA_E}));
    int again[6] = {};
    u->sort_lut_inputs_by_slack_ratio(again, cell, true);
    EXPECT_EQ(std::vector<int>(again, again + 6), std::vector<int>(ports, ports + 6));
    EXPECT_EQ(u->get_most_critical_lut_input(cell), DB_MAX_INPUT_PORT_TYPE);  // nothing below 1.0

    CDB_ATOM_ITERM* c = cell->get_input_term_by_type(DB_DATA_C);
    EXPECT_EQ(MORV_NET_UTIL::get_edge_name(c), "nil -> top|blk|cell");
    c->set_gnd();
    EXPECT_EQ(MORV_NET_UTIL::get_edge_name(c), "gnd -> top|blk|cell");
    c->set_invert();
    EXPECT_EQ(MORV_NET_UTIL::get_edge_name(c), "vcc -> top|blk|cell");
    CDB_ATOM_NODE* driver = n.atom(CDB_KIND_LCELL_COMB, "drv");
    CDB_ATOM_OTERM* out = driver->add_output_term(DB_COMB_OUT, driver->get_instance_name());
    out->insert_fanout(cell->add_input_term(DB_DATA_E));
    EXPECT_EQ(MORV_NET_UTIL::get_edge_name(cell->get_input_term_by_type(DB_DATA_E)), "top|drv -> top|blk|cell");

    // A clock buffer is a special source; a LUT data input reaches the comb-out.
    EXPECT_FALSE(u->has_input_driven_by_special_source(cell));
    CDB_ATOM_NODE* clkbuf = n.atom(CDB_KIND_CLKBUF, "clkbuf");
    n.drive(cell, DB_DATA_A, clkbuf->add_output_term(DB_CLKBUF_OUT));
    EXPECT_TRUE(u->has_input_driven_by_special_source(cell));
    CDB_ATOM_OTERM* combout = n.load(cell, DB_COMB_OUT);
    EXPECT_TRUE(u->does_iterm_reach_oterm(cell, combout, c));
    c->clear_usage_as(DB_DATA_C);
    EXPECT_FALSE(u->does_iterm_reach_oterm(cell, combout, c));  // a term with no usage
}

TEST_F(NetUtilQueryTest, OrMasksPerBranch)
{
    NET_UTIL_NETLIST tev(CDB_FAMILY_TEV);
    NET_UTIL_NETLIST brk(CDB_FAMILY_BRK);
    for (int inputs = 2; inputs <= 6; ++inputs) {
        // Row k of an OR of the first n inputs is 0 only when those n bits of k are 0.
        const CDB_LUTMASK six = brk.util()->create_or_lutmask(inputs);
        for (int row = 0; row < 64; ++row) EXPECT_EQ(six.get_bit(row), (row & ((1 << inputs) - 1)) != 0) << inputs;
        if (inputs > 4) continue;
        const CDB_LUTMASK four = tev.util()->create_or_lutmask(inputs);
        for (int row = 0; row < 16; ++row) EXPECT_EQ(four.get_bit(row), (row & ((1 << inputs) - 1)) != 0) << inputs;
    }
    EXPECT_EQ(internal_error_of([&] { tev.util()->create_or_lutmask(5); }), "I should have NEVER gotten here!!!!");
    EXPECT_EQ(internal_error_of([&] { brk.util()->create_or_lutmask(1); }),
              "number_of_inputs >= 2 && number_of_inputs <= 6");
}

}  // namespace

}  // namespace morv_net_util_query_test
