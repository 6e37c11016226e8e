// The stand-in legality rule of the MRL atom legaliser and the shape of the
// records it proposes. That carrying the records out keeps each cell's
// function is checked where the component's legaliser carries them out.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_morlin_legalizer.h"
#include "dev/dev_device.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

namespace morlin_legality_test {

namespace {

// The mask of one input k: rows whose bit k is set.
uint64_t wire(int k)
{
    uint64_t mask = 0;
    for (unsigned row = 0; row < 64; ++row)
        if ((row >> k) & 1u) mask |= uint64_t(1) << row;
    return mask;
}

// AND of the inputs whose bits are set in inputs.
uint64_t and_of(unsigned inputs)
{
    uint64_t mask = 0;
    for (unsigned row = 0; row < 64; ++row)
        if ((row & inputs) == inputs) mask |= uint64_t(1) << row;
    return mask;
}

struct MRL_NETLIST
{
    HDB_NAME_MGR names{"top"};
    CDB_ATOM_NETLIST netlist{CDB_FAMILY_MRL};
    MRL_NETLIST()
    {
        netlist.set_name_mgr(&names);
        DMGR_UTILITY::set_current_family(CDB_FAMILY_MRL);
    }
    CDB_ATOM_NODE* make(int kind, const char* name)
    {
        CDB_ATOM_NODE* n = cdb_create_atom(CDB_FAMILY_MRL, kind, names.find_or_create_path(name, 0));
        netlist.add_node(n);
        return n;
    }
    CDB_ATOM_OTERM* source(const char* name) { return make(CDB_KIND_IO, name)->add_output_term(DB_DATA_OUT); }
};

}  // namespace

TEST(MorlinLegality, MasksOfAtMostFourInputsAndBalancedHalvesAreLegalAsPlaced)
{
    EXPECT_TRUE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(and_of(0x0F)));
    EXPECT_TRUE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(and_of(0x3C)));
    // Five inputs without F: both halves alike.
    EXPECT_TRUE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(and_of(0x1F)));
    // Five inputs with F, more ones with F high: rejected as placed, not by rotation.
    EXPECT_FALSE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(and_of(0x3E)));
    CUT_ATOM_MORLIN_LEGALIZER legalizer(static_cast<const DEV_FL_INFO*>(nullptr));
    EXPECT_TRUE(legalizer.is_lutmask_legal_by_rotation(and_of(0x3E)));
    // Six inputs: an AND and an OR grow with every input, so no rotation helps.
    EXPECT_FALSE(legalizer.is_lutmask_legal_by_rotation(and_of(0x3F)));
    EXPECT_FALSE(legalizer.is_lutmask_legal_by_rotation(~uint64_t(1)));
    uint64_t parity = 0;
    for (int k = 0; k < 6; ++k) parity ^= wire(k);
    EXPECT_TRUE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(parity));
    // A six-input mask with a falling input is legal once that input is F.
    const uint64_t falling_a = and_of(0x3F) | (~wire(0) & wire(5));
    EXPECT_FALSE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(falling_a));
    EXPECT_TRUE(legalizer.is_lutmask_legal_by_rotation(falling_a));
}

TEST(MorlinLegality, EveryMaskOfFiveInputsIsLegalByRotation)
{
    CUT_ATOM_MORLIN_LEGALIZER legalizer(static_cast<const DEV_FL_INFO*>(nullptr));
    std::mt19937_64 random(7);
    for (int i = 0; i < 300; ++i) {
        const int unused = static_cast<int>(random() % 6);
        CDB_LUTMASK mask(6, random());
        // Make the mask ignore one input: copy the half where it is low.
        for (int row = 0; row < 64; ++row)
            if ((row >> unused) & 1) mask.set_bit(row, mask.get_bit(row & ~(1 << unused)));
        EXPECT_TRUE(legalizer.is_lutmask_legal_by_rotation(mask.get_value())) << std::hex << mask.get_value();
    }
}

TEST(MorlinLegality, RotationMovesInputKToPositionKMinusR)
{
    for (int k = 0; k < 6; ++k)
        for (int r = 0; r < 6; ++r)
            EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::rotate_lutmask(wire(k), r), wire((k - r + 6) % 6)) << k << " " << r;
    std::mt19937_64 random(11);
    const uint64_t mask = random();
    EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::rotate_lutmask(mask, 6), mask);
    EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::rotate_lutmask(CUT_ATOM_MORLIN_LEGALIZER::rotate_lutmask(mask, 2), 3),
              CUT_ATOM_MORLIN_LEGALIZER::rotate_lutmask(mask, 5));
}

TEST(MorlinLegality, LatchKindFollowsTheLastNonConstantWord)
{
    EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::latch_kind_of_lutmask(0xFFFF00000000FFFFull), 0);
    EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::latch_kind_of_lutmask(0x00000000F0CC0000ull), 1);
    EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::latch_kind_of_lutmask(0xCCF000000000F0CCull), 2);
    EXPECT_EQ(CUT_ATOM_MORLIN_LEGALIZER::latch_kind_of_lutmask(0x000000000000F0CDull), -1);
}

TEST(MorlinLegality, RegistersAreLegalOnceTheirFLIdIsStored)
{
    MRL_NETLIST n;
    CUT_ATOM_MORLIN_LEGALIZER legalizer;
    CDB_ATOM_NODE* reg = n.make(CDB_KIND_REGISTER, "reg");
    EXPECT_FALSE(legalizer.is_node_legal(reg));
    const int fl_id = legalizer.get_fl_id_from_atom_properties(reg);
    ASSERT_NE(fl_id, DEV_ILLEGAL_FL_ID);
    legalizer.set_fl_id(reg, fl_id + 1);
    EXPECT_FALSE(legalizer.is_node_legal(reg));
    legalizer.set_fl_id(reg, fl_id);
    EXPECT_TRUE(legalizer.is_node_legal(reg));
    EXPECT_TRUE(legalizer.legalize_node(reg)->empty());
}

TEST(MorlinLegality, IllegalCellIsRotatedOrDecomposed)
{
    MRL_NETLIST n;
    CUT_ATOM_MORLIN_LEGALIZER legalizer;
    CDB_ATOM_NODE* cell = n.make(CDB_KIND_LCELL_COMB, "cell");
    const char* names[6] = {"s0", "s1", "s2", "s3", "s4", "s5"};
    CDB_ATOM_OTERM* sources[6];
    for (int k = 0; k < 6; ++k) {
        sources[k] = n.source(names[k]);
        cell->add_input_term(DB_DATA_A + k)->insert_fanin(sources[k]);
    }
    cell->add_output_term(DB_COMB_OUT);
    // Five driven inputs B..F: one rotation record that puts the unused A at F.
    cell->get_input_term_by_type(DB_DATA_A)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    cell->set_lutmask(CDB_LUTMASK(6, and_of(0x3E)));
    ASSERT_FALSE(legalizer.is_node_legal(cell));
    CUT_ATOM_MODIFIED_NODE_LIST_PTR list = legalizer.legalize_node(cell);
    ASSERT_EQ(list->size(), 1u);
    const CUT_ATOM_MODIFIED_NODE_S& rotation = (*list)[0];
    EXPECT_EQ(rotation.kind, CUT_MODIFICATION_ITERMS_AND_LUTMASK);
    EXPECT_EQ(rotation.node, cell);
    EXPECT_TRUE(CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(rotation.lutmask));
    EXPECT_EQ(rotation.lutmask, and_of(0x1F));
    ASSERT_EQ(rotation.modified_iterms.size(), 6u);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(rotation.modified_iterms[k].source_oterm, sources[k + 1]) << k;
    EXPECT_FALSE(rotation.modified_iterms[5].connect);

    // Six inputs: no rotation helps, the cell is split on F.
    cell->get_input_term_by_type(DB_DATA_A)->insert_fanin(sources[0]);
    cell->set_lutmask(CDB_LUTMASK(6, and_of(0x3F)));
    list = legalizer.legalize_node(cell);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].kind, CUT_MODIFICATION_DO_NOTHING);
    // The AND with F low is constant 0: no cell for it, the multiplexer
    // becomes F AND the new cell.
    list = legalizer.decompose_node(cell);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].kind, CUT_MODIFICATION_NEW_NODE);
    EXPECT_EQ((*list)[0].id, 2);
    EXPECT_EQ((*list)[0].lutmask, and_of(0x1F));
    EXPECT_EQ((*list)[0].modified_iterms.size(), 5u) << "the inputs but F";
    const CUT_ATOM_MODIFIED_NODE_S& mux = (*list)[1];
    EXPECT_EQ(mux.node, cell);
    EXPECT_EQ(mux.lutmask, and_of(0x22)) << "B and F";
    ASSERT_EQ(mux.modified_iterms.size(), 5u);
    EXPECT_FALSE(mux.modified_iterms[0].connect) << "the constant side reads nothing";
    EXPECT_TRUE(mux.modified_iterms[1].connect);
    EXPECT_EQ(mux.modified_iterms[1].source_id, 2);

    // Neither cofactor constant: two new cells and a three-input multiplexer.
    const uint64_t two_ands = and_of(0x07) | and_of(0x38);  // ABC | DEF
    cell->set_lutmask(CDB_LUTMASK(6, two_ands));
    list = legalizer.decompose_node(cell);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[0].lutmask, and_of(0x07)) << "F low";
    EXPECT_EQ((*list)[1].lutmask, and_of(0x07) | and_of(0x18)) << "F high";
    EXPECT_EQ((*list)[2].modified_iterms[0].source_id, 1);
    EXPECT_EQ((*list)[2].modified_iterms[1].source_id, 2);
    EXPECT_EQ(__builtin_popcountll((*list)[2].lutmask), 32) << "a multiplexer of three inputs";
}

TEST(MorlinLegality, ScriptAnswersInPlaceOfTheRule)
{
    MRL_NETLIST n;
    CUT_ATOM_MORLIN_LEGALIZER legalizer;
    CDB_ATOM_NODE* cell = n.make(CDB_KIND_LCELL_COMB, "cell");
    EXPECT_TRUE(legalizer.is_node_legal(cell));
    CUT_MORLIN_SCRIPT script;
    script.is_node_legal = [](const CDB_ATOM_NODE*) { return false; };
    script.legalize_node = [](CDB_ATOM_NODE*) { return CUT_ATOM_MODIFIED_NODE_LIST_PTR(); };
    legalizer.set_script(script);
    EXPECT_FALSE(legalizer.is_node_legal(cell));
    EXPECT_EQ(legalizer.legalize_node(cell), nullptr);
    // What the script leaves out is the rule's.
    EXPECT_TRUE(legalizer.decompose_node(cell) != nullptr);
    legalizer.clear_script();
    EXPECT_TRUE(legalizer.is_node_legal(cell));
}

TEST(MorlinLegality, LatchCellIsLegalWhileItsDescriptionMatchesItsMaskAndDataInputs)
{
    MRL_NETLIST n;
    CUT_ATOM_MORLIN_LEGALIZER legalizer;
    CDB_ATOM_NODE* latch = n.make(CDB_KIND_LCELL_COMB, "latch");
    CDB_ATOM_OTERM* d = n.source("d");
    for (int port : {DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F}) latch->add_input_term(port)->insert_fanin(d);
    latch->add_output_term(DB_COMB_OUT);
    latch->set_lutmask(CDB_LUTMASK(6, 0x000000000000F0CCull));
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_F, DB_DATA_E, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, 1);
    latch->set_latch_info(info);
    EXPECT_TRUE(legalizer.is_node_legal(latch));
    EXPECT_TRUE(legalizer.legalize_node(latch)->empty());
    // Each field of the description counts.
    info->feedback_port = DB_DATA_B;
    EXPECT_FALSE(legalizer.is_node_legal(latch));
    info->feedback_port = DB_DATA_C;
    info->kind = 2;
    EXPECT_FALSE(legalizer.is_node_legal(latch));
    // A stale description is rewritten from the mask.
    CUT_ATOM_MODIFIED_NODE_LIST_PTR list = legalizer.legalize_node(latch);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].kind, CUT_MODIFICATION_LUTMASK);
    EXPECT_EQ((*list)[0].lutmask, 0x000000000000F0CCull);
    // ... unless the mask holds no latch words or F is missing beside E.
    latch->set_lutmask(CDB_LUTMASK(6, 0x000000000000F0CDull));
    EXPECT_EQ((*legalizer.legalize_node(latch))[0].kind, CUT_MODIFICATION_DO_NOTHING);
    latch->set_lutmask(CDB_LUTMASK(6, 0x000000000000F0CCull));
    latch->get_input_term_by_type(DB_DATA_F)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_EQ((*legalizer.legalize_node(latch))[0].kind, CUT_MODIFICATION_DO_NOTHING);
    info->is_latch = false;
    EXPECT_FALSE(CUT_ATOM_MORLIN_LEGALIZER::is_latch_description_current(latch));
    EXPECT_FALSE(CUT_ATOM_MORLIN_LEGALIZER::is_latch_description_current(n.make(CDB_KIND_LCELL_COMB, "plain")));
}

}  // namespace morlin_legality_test
