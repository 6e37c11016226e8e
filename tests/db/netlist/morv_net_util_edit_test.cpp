#include <gtest/gtest.h>

#include <string>

#include "cut/cut_atom_util.h"

#include "net_util_fixture.h"

namespace {

class NetUtilEditTest : public MORV_CLEAN_STATE_TEST
{};

std::string counter_text(unsigned offset)
{
    return std::to_string(MORV_NET_UTIL::get_unique_name_counter() + offset);
}

TEST_F(NetUtilEditTest, UniqueNamesTakeTheCounterAndSkipNamesOthersHold)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_TEV);
    MORV_NET_UTIL* u = n.util();
    HDB_INSTANCE_NAME* base = n.names().find_or_create_path("blk|lut", 0);
    const unsigned start = MORV_NET_UTIL::get_unique_name_counter();
    HDB_INSTANCE_NAME* first = u->make_unique_instance_name(base, "_X");
    EXPECT_EQ(first->get_short_hpath(), "blk|lut_X" + std::to_string(start));
    EXPECT_TRUE(first->has_flag(HDB_INAME_FLAG_SYNTHESIZED));
    // The counter is shared by every base and suffix.
    HDB_INSTANCE_NAME* other = u->make_unique_instance_name(n.names().find_or_create_path("q", 0), "_Y");
    EXPECT_EQ(other->get_short_hpath(), "q_Y" + std::to_string(start + 1));

    // A name the design holds is never reused, even when marked unused.
    n.names().find_or_create_path("blk|lut_X" + counter_text(0), HDB_INAME_FLAG_UNUSED | HDB_INAME_FLAG_FROM_NETLIST);
    HDB_INSTANCE_NAME* skipped = u->make_unique_instance_name(base, "_X");
    EXPECT_EQ(skipped->get_short_hpath(), "blk|lut_X" + std::to_string(start + 3));
    // An unused name nobody holds is taken over.
    HDB_INSTANCE_NAME* unused = n.names().find_or_create_path("blk|lut_X" + counter_text(0), HDB_INAME_FLAG_UNUSED);
    EXPECT_EQ(u->make_unique_instance_name(base, "_X"), unused);
    EXPECT_TRUE(unused->has_flag(HDB_INAME_FLAG_SYNTHESIZED));
    // A name made earlier in this process is not handed out twice.
    first->set_flag(HDB_INAME_FLAG_UNUSED);
    EXPECT_NE(u->make_unique_instance_name(base, "_X"), first);
}

TEST_F(NetUtilEditTest, NewCellsAndRegistersAreNamedAfterTheirModel)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO}) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* model = n.atom(CDB_KIND_LCELL_COMB, "model");
        const std::string number = counter_text(0);
        CDB_ATOM_NODE* comb = n.util()->create_lcell_comb(model);
        ASSERT_NE(comb, nullptr);
        EXPECT_TRUE(n.util()->is_lut(comb));
        EXPECT_EQ(comb->get_family(), family);
        EXPECT_EQ(comb->get_instance_name()->get_short_hpath(), "model_NEW" + number);
        EXPECT_EQ(comb->get_netlist(), nullptr);  // the caller announces it
        delete comb;
        if (family == CDB_FAMILY_UVO) continue;
        HDB_INSTANCE_NAME* base = n.names().find_or_create_path("pipe", 0);
        const std::string next = counter_text(0);
        CDB_ATOM_NODE* reg = n.util()->create_register(model, base);
        EXPECT_TRUE(n.util()->is_ff(reg));
        EXPECT_EQ(reg->get_instance_name()->get_short_hpath(), "pipe_NEW_REG" + next);
        delete reg;
    }
}

TEST_F(NetUtilEditTest, InputOrderPutsConstantsFirstThenPropertiesThenSources)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    CDB_ATOM_ITERM* vcc = cell->add_input_term(DB_DATA_A);
    vcc->set_vcc();
    CDB_ATOM_ITERM* gnd = cell->add_input_term(DB_DATA_B);
    gnd->set_gnd();
    CDB_ATOM_ITERM* late = n.drive(cell, DB_DATA_C);
    CDB_ATOM_ITERM* early = n.drive(cell, DB_DATA_D, n.atom(CDB_KIND_IO, "aa")->add_output_term(DB_DATA_OUT));
    CDB_ATOM_ITERM* open = cell->add_input_term(DB_DATA_E);
    EXPECT_TRUE(u->iterm_properties_less(vcc, gnd));
    EXPECT_TRUE(u->iterm_properties_less(gnd, late));
    EXPECT_TRUE(u->iterm_properties_less(vcc, late));
    EXPECT_TRUE(u->iterm_properties_less(open, late));   // no source before a source
    EXPECT_TRUE(u->iterm_properties_less(late, early));  // sources by their atom ids
    EXPECT_FALSE(u->iterm_properties_less(early, late));
    EXPECT_TRUE(u->iterm_properties_less(nullptr, vcc));
    EXPECT_TRUE(u->iterm_properties_equal(late, late));
    early->set_invert();
    EXPECT_TRUE(u->iterm_properties_less(early, late));  // inversion decides before the sources
    late->set_global(-1);
    early->set_global(3);
    early->clear_invert();
    EXPECT_TRUE(u->iterm_properties_less(early, late));  // negative settings sort last
}

TEST_F(NetUtilEditTest, SavedPropertiesComeBackOnAnotherTerm)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    CDB_ATOM_ITERM* from = cell->add_input_term(DB_DATA_A);
    from->set_invert();
    from->set_global(-5);
    from->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, 3);
    from->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    from->set_user_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    MORV_ITERM_PROPERTIES record;
    n.util()->save_iterm_properties(record, from);
    EXPECT_EQ(record.global_setting, -5);
    EXPECT_EQ(record.delay_chain_index, 3);
    EXPECT_EQ(record.boundary_port_id, -1);
    CDB_ATOM_ITERM* to = cell->add_input_term(DB_DATA_B);
    n.util()->restore_iterm_properties(record, to);
    MORV_ITERM_PROPERTIES again;
    n.util()->save_iterm_properties(to, &again);
    EXPECT_TRUE(again.inverted);
    EXPECT_EQ(again.global_setting, -5);
    EXPECT_TRUE(again.connected_to_delay_chain);
    EXPECT_TRUE(again.use_delay_chain);
    EXPECT_TRUE(again.user_delay_chain);
    EXPECT_EQ(again.delay_chain_index, 3);
    n.util()->reset_iterm_properties(to);
    n.util()->save_iterm_properties(&again, to);
    EXPECT_FALSE(again.inverted || again.connected_to_delay_chain || again.use_delay_chain);
    EXPECT_EQ(again.global_setting, 0);
    EXPECT_EQ(again.delay_chain_index, -1);
}

// A cell with the given inputs driven and the comb-out used.
CDB_ATOM_NODE* lut(NET_UTIL_NETLIST& n, const char* name, int inputs, uint64_t mask)
{
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
    cell->set_lutmask(CDB_LUTMASK(n.util()->get_max_lut_inputs(), mask));
    for (int i = 0; i < inputs; ++i) n.drive(cell, DB_DATA_A + i);
    n.load(cell, DB_COMB_OUT);
    return cell;
}

TEST_F(NetUtilEditTest, FourInputCellsLoseTheInputsTheirMasksIgnore)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_TEV);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* and_ab = lut(n, "and_ab", 4, 0x8888);  // a AND b
    and_ab->set_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    EXPECT_EQ(u->remove_unused_lut_inputs(and_ab), 2);
    EXPECT_NE(and_ab->get_input_term_by_type(DB_DATA_B), nullptr);
    EXPECT_EQ(and_ab->get_input_term_by_type(DB_DATA_C), nullptr);
    EXPECT_EQ(and_ab->get_input_term_by_type(DB_DATA_D), nullptr);
    EXPECT_EQ(u->remove_unused_lut_inputs(and_ab), 0);

    // DB_DATA_C that also feeds the register keeps the term, losing only its LUT usage.
    CDB_ATOM_NODE* shared = lut(n, "shared", 3, 0x8888);
    CDB_ATOM_ITERM* c = shared->get_input_term_by_type(DB_DATA_C);
    c->set_usage_as(DB_SYNCH_DATA);
    EXPECT_EQ(u->remove_unused_lut_inputs(shared), 1);
    EXPECT_TRUE(c->is_used_as(DB_SYNCH_DATA));
    EXPECT_FALSE(c->is_used_as(DB_DATA_C));
    EXPECT_TRUE(c->is_connected());

    // Arithmetic: an input goes only when neither the carry nor the comb function reads it.
    CDB_ATOM_NODE* adder = lut(n, "adder", 3, 0xAAAA);  // comb = a
    adder->set_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    adder->set_carry_lutmask(CDB_LUTMASK(4, 0xCC));  // carry = b
    n.load(adder, DB_CARRY_OUT);
    EXPECT_EQ(u->remove_unused_lut_inputs(adder), 1);  // only c: a and b each feed one function
    EXPECT_NE(adder->get_input_term_by_type(DB_DATA_A), nullptr);
    EXPECT_NE(adder->get_input_term_by_type(DB_DATA_B), nullptr);
    EXPECT_EQ(adder->get_input_term_by_type(DB_DATA_C), nullptr);
}

TEST_F(NetUtilEditTest, SixInputCellsDisconnectIgnoredInputsButKeepLatchData)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = lut(n, "cell", 6, 0xFFFFFFFF00000000ull);  // reversed order: NOT f
    CDB_ATOM_ITERM* a = cell->get_input_term_by_type(DB_DATA_A);
    a->set_invert();
    EXPECT_EQ(u->remove_unused_lut_inputs(cell), 5);
    EXPECT_EQ(cell->get_input_term_by_type(DB_DATA_A), a);  // the term stays on the cell
    EXPECT_FALSE(a->is_connected());
    EXPECT_FALSE(a->is_inverted());
    EXPECT_TRUE(u->is_connected(cell, DB_DATA_F));

    // Extended mode: nothing is removed.
    CDB_ATOM_NODE* extended = lut(n, "extended", 2, 0);
    n.drive(extended, DB_DATA_G);
    EXPECT_EQ(u->remove_unused_lut_inputs(extended), 0);

    // A latch holds its data input even when the mask does not read it.
    CDB_ATOM_NODE* latch = lut(n, "latch", 4, 0);
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, 1);
    cut_set_atom_latch_info(latch, info);
    EXPECT_EQ(u->remove_unused_lut_inputs(latch), 3);
    EXPECT_TRUE(u->is_connected(latch, DB_DATA_A));
    EXPECT_FALSE(u->is_connected(latch, DB_DATA_B));

    // Arithmetic halves: input d stays while the share-out reads it from the upper half.
    CDB_ATOM_NODE* adder = n.atom(CDB_KIND_LCELL_COMB, "adder");
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) n.drive(adder, port);
    adder->set_sum_lutmask(CDB_LUTMASK(5, 0x00FF0000ull));  // upper half reads the fourth input only
    n.load(adder, DB_SUM_OUT);
    n.load(adder, DB_SHARE_OUT);
    EXPECT_EQ(u->remove_unused_lut_inputs(adder), 3);  // a, b, c; d and f are read, e never goes
    EXPECT_TRUE(u->is_connected(adder, DB_DATA_D));
    EXPECT_TRUE(u->is_connected(adder, DB_DATA_E));
    EXPECT_TRUE(u->is_connected(adder, DB_DATA_F));
}

TEST_F(NetUtilEditTest, SixInputAdderInputsGoOnlyWhenNeitherHalfReadsThem)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* adder = n.atom(CDB_KIND_LCELL_COMB, "adder");
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) n.drive(adder, port);
    // Low half reads a only (reversed order: rows with a = 1 at 15 - k); the
    // upper half reads d, which it takes from the fourth position.
    adder->set_sum_lutmask(CDB_LUTMASK(5, (0x00FFull << 16) | 0x5555ull));
    n.load(adder, DB_SUM_OUT);
    // Without a used share-out, d goes even though the upper half reads the fourth position.
    EXPECT_EQ(u->remove_unused_lut_inputs(adder), 3);  // b, c and d
    EXPECT_TRUE(u->is_connected(adder, DB_DATA_A));
    EXPECT_FALSE(u->is_connected(adder, DB_DATA_D));
    EXPECT_TRUE(u->is_connected(adder, DB_DATA_F));  // the upper half reads f
}

TEST_F(NetUtilEditTest, DataAndControlInputsPerBranch)
{
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        CDB_ATOM_NODE* comb = n.atom(CDB_KIND_LCELL_COMB, "comb");
        CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, "reg");
        const bool six = n.util()->get_max_lut_inputs() == 6;
        EXPECT_TRUE(u->is_lut_data_input(comb->add_input_term(DB_DATA_D))) << family;
        EXPECT_EQ(u->is_lut_data_input(comb->add_input_term(DB_DATA_F)), six) << family;
        EXPECT_FALSE(u->is_lut_data_input(comb->add_input_term(DB_DATA_G))) << family;
        EXPECT_FALSE(u->is_lut_data_input(comb->add_input_term(DB_CARRY_IN))) << family;
        CDB_ATOM_ITERM* enable = reg->get_input_term_by_type(DB_CLOCK_ENABLE);
        if (enable == nullptr) enable = reg->add_input_term(DB_CLOCK_ENABLE);
        EXPECT_TRUE(u->is_register_control_input(enable)) << family;
        CDB_ATOM_ITERM* clock = reg->get_input_term_by_type(DB_CLOCK);
        if (clock == nullptr) clock = reg->add_input_term(DB_CLOCK);
        EXPECT_FALSE(u->is_register_control_input(clock)) << family;
        EXPECT_FALSE(u->is_lcell_in_a_chain(reg)) << family;
        if (family != CDB_FAMILY_UVO) {
            EXPECT_FALSE(u->is_register_control_input(comb->add_input_term(DB_SYNCH_LOAD))) << family;
            EXPECT_FALSE(u->is_in_register_cascade(comb)) << family;
        }
        if (six) {
            EXPECT_FALSE(u->is_in_qfbk_mode(comb)) << family;
        }
    }
}

}  // namespace
