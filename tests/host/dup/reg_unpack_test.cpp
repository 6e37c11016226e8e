// Register unpacking on small placed fixtures: UVO cells holding a LUT and
// a register, 6-LUT registers beside their LUTs, scripted timing.

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "dup_test_run.h"
#include "io/blif_reader.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/dup/morv_reg_unpack.h"
#include "morv/netlist/morv_net_util.h"
#include "morv_test_util.h"

namespace reg_unpack_test {

namespace {

const uint64_t AND2 = 0x8;

std::unique_ptr<MORV_REG_UNPACK> make_unpack(DUP_RUN& run, const MORV_PARAMETER_MAP& params)
{
    auto unpack = std::make_unique<MORV_REG_UNPACK>(run.api(), &params);
    int ni = -1, hci = -1;
    unpack->set_default_pass_parameters(0, ni, hci);
    return unpack;
}

// UVO: cell p computes a AND b; its LUT output feeds t1 (far away), its
// register (of the LUT, or loaded from c through sdata) feeds t2.
struct UVO_CELL
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_UVO};
    std::unique_ptr<DUP_RUN> run;
    MORV_PARAMETER_MAP params;

    explicit UVO_CELL(bool synch_data = false)
    {
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* b = fixture.input("b");
        CDB_ATOM_OTERM* c = fixture.input("c");
        CDB_ATOM_OTERM* clk = fixture.input("clk");
        CDB_ATOM_OTERM* comb = fixture.lut("p", {a, b}, AND2);
        CDB_ATOM_NODE* p = comb->get_my_node();
        clk->insert_fanout(p->add_input_term(DB_CLOCK));
        if (synch_data) {
            c->insert_fanout(p->add_input_term(DB_SYNCH_DATA));
            p->add_input_term(DB_SYNCH_LOAD)->set_logical_vcc();
        }
        CDB_ATOM_OTERM* q = p->add_output_term(DB_REG_OUT, p->get_instance_name());
        fixture.output("o1", fixture.lut("t1", {comb, c}, 0x6));
        fixture.output("o2", fixture.lut("t2", {q, a}, 0x6));
        run = std::make_unique<DUP_RUN>(fixture);
    }
    CDB_ATOM_NODE* cell() { return run->find("p"); }
    CDB_ATOM_ITERM* lut_sink() { return run->find("t1")->get_input_term_by_type(DB_DATA_A); }
    void place()
    {
        run->place(run->find("t1"), 8, 8);
        run->place_rest(2, 2);
    }
    std::unique_ptr<MORV_REG_UNPACK> make() { return make_unpack(*run, params); }
};

// RZK: g<i> = a AND b feeds register r<i>, which feeds t<i>; x reads g0 too.
struct SIX_LUT
{
    FIXTURE_NETLIST fixture;
    std::unique_ptr<DUP_RUN> run;
    MORV_PARAMETER_MAP params;

    explicit SIX_LUT(int family = CDB_FAMILY_RZK, int registers = 4) : fixture(family)
    {
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* b = fixture.input("b");
        CDB_ATOM_OTERM* clk = fixture.input("clk");
        CDB_ATOM_OTERM* g0 = nullptr;
        for (int i = 0; i < registers; ++i) {
            CDB_ATOM_OTERM* g = fixture.lut(numbered("g", i), {a, b}, i == 0 ? AND2 : 0x6);
            if (i == 0) g0 = g;
            CDB_ATOM_OTERM* r = fixture.reg(numbered("r", i), g, clk);
            fixture.output(numbered("o", i), fixture.lut(numbered("t", i), {r, a}, 0x6));
        }
        fixture.output("ox", fixture.lut("x", {g0, b}, 0x6));
        run = std::make_unique<DUP_RUN>(fixture);
    }
    CDB_ATOM_NODE* reg(int i) { return run->find(numbered("r", i)); }
    std::unique_ptr<MORV_REG_UNPACK> make() { return make_unpack(*run, params); }
};

}  // namespace

// ---------------------------------------------------------------- limits

TEST(RegUnpackLimit, FivePercentOfTheLogicCellsPlusTheFirstRecord)
{
    EXPECT_EQ(MORV_REG_UNPACK::unpack_limit(100, 40), 6u);
    EXPECT_EQ(MORV_REG_UNPACK::unpack_limit(10, 40), 1u);
    EXPECT_EQ(MORV_REG_UNPACK::unpack_limit(100, 3), 3u);
    EXPECT_EQ(MORV_REG_UNPACK::unpack_limit(10, 0), 0u);
    EXPECT_EQ(MORV_REG_UNPACK::unpack_limit(139, 40), 7u);
}

// ---------------------------------------------------------------- 6-LUT families

TEST(RegUnpackSixLut, FoundCellsAreCountedAndOnlyTheFirstIsReplacedWithoutSubLocation)
{
    SIX_LUT n;
    n.run->place_rest(3, 3);
    for (int i = 0; i < 3; ++i) {
        CDB_ATOM_OTERM* q = n.reg(i)->get_output_term_by_type(DB_REG_OUT);
        n.run->slack().set(*q->begin_iterm_fanout(), -10, 0.1);
    }
    MORV_CHIP_MAP* map = n.run->api()->get_fsyn_chip_map();
    // Each in a LAB of its own at a fixed sub-location.
    map->set_node_location(static_cast<int>(n.reg(0)->get_id()), MORV_LOC{5, 5, 7, -1});
    map->set_node_location(static_cast<int>(n.reg(1)->get_id()), MORV_LOC{6, 6, 7, -1});
    const std::vector<unsigned> before = n.run->trace(32);
    auto unpack = n.make();
    EXPECT_EQ(unpack->do_iter(), 3);  // 13 logic cells: 5 % of them rounds to 0, the first still goes
    EXPECT_EQ(unpack->get_unpacked_count(), 1);
    // Placed again in its LAB, at no exact position: the placer picks one.
    EXPECT_EQ(n.run->location_of(n.reg(0)).x, 5);
    EXPECT_EQ(n.run->location_of(n.reg(0)).sub_loc, -1);
    EXPECT_EQ(n.run->location_of(n.reg(1)).sub_loc, 7);
    EXPECT_EQ(n.run->trace(32), before);
}

TEST(RegUnpackSixLut, ControlsDataInputSiblingsAndFanoutMakeARegisterCritical)
{
    SIX_LUT n(CDB_FAMILY_RZK, 1);
    n.run->place_rest(3, 3);
    CDB_ATOM_NODE* r = n.reg(0);
    MORV_UNPACK_INFO info;
    auto unpack = n.make();
    EXPECT_FALSE(unpack->can_unpack(r, &info));
    // A sibling of the data input (x reads g0) is critical: accepted.
    CDB_ATOM_ITERM* sibling = n.run->find("x")->get_input_term_by_type(DB_DATA_A);
    n.run->slack().set(sibling, -10, 0.2);
    ASSERT_TRUE(unpack->can_unpack(r, &info));
    EXPECT_EQ(info.node, r);
    EXPECT_EQ(info.reg_x, 3);
    EXPECT_EQ(info.comb_y, 3);
    // At the threshold (SRT 0.25) it is not critical.
    n.run->slack().set(sibling, -10, 0.25);
    EXPECT_FALSE(unpack->can_unpack(r, &info));
    n.run->slack().set(r->get_input_term_by_type(DB_DATAIN), -10, 0.1);
    EXPECT_TRUE(unpack->can_unpack(r, &info));
    n.run->slack().set(r->get_input_term_by_type(DB_DATAIN), 10, 0.9);
    n.run->slack().set(r->get_input_term_by_type(DB_CLOCK), -10, 0.1);  // the clock is no control here
    EXPECT_FALSE(unpack->can_unpack(r, &info));
    // A LUT is no register.
    EXPECT_FALSE(unpack->can_unpack(n.run->find("g0"), &info));
}

// Before the guard a register without a location was placed at (-1, -1),
// which the chip map refuses.
TEST(RegUnpackSixLut, RegisterWithoutLocationIsRefused)
{
    SIX_LUT n(CDB_FAMILY_KESTLIN, 1);
    CDB_ATOM_OTERM* q = n.reg(0)->get_output_term_by_type(DB_REG_OUT);
    n.run->slack().set(*q->begin_iterm_fanout(), -10, 0.1);
    auto unpack = n.make();
    MORV_UNPACK_INFO info;
    EXPECT_FALSE(unpack->can_unpack(n.reg(0), &info));
    EXPECT_EQ(unpack->do_iter(), 0);
    n.run->place_rest(1, 1);
    EXPECT_EQ(unpack->do_iter(), 1);
}

TEST(RegUnpackLocal, EvaluatePerformAndTheTouchedIdRefusal)
{
    SIX_LUT n(CDB_FAMILY_OBRAN, 1);
    n.run->place_rest(3, 3);
    CDB_ATOM_NODE* r = n.reg(0);
    CDB_ATOM_ITERM* data = r->get_input_term_by_type(DB_DATAIN);
    auto unpack = n.make();
    msg_clear_vdebug_lines();
    // A caller of the protocol knows the algorithm only as an algorithm.
    MORV_ALGORITHM_BASE& algorithm = *unpack;
    EXPECT_EQ(algorithm.evaluate_local_optimization(data), nullptr);
    n.run->slack().set(data, -10, 0.1);
    MORV_OWNER<MORV_LOCAL_OPT_INFO> info = algorithm.evaluate_local_optimization(data);
    ASSERT_NE(info, nullptr);
    const auto* record = dynamic_cast<const MORV_UNPACK_INFO*>(info.get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->estimate, MORV_UNPACK_INFO::s_ACCEPTED);
    std::set<int> touched{static_cast<int>(r->get_id())};
    n.run->api()->get_fsyn_chip_map()->set_node_location(static_cast<int>(r->get_id()), MORV_LOC{6, 6, 2, -1});
    EXPECT_FALSE(algorithm.perform_local_optimization(data, info.get(), &touched));
    EXPECT_EQ(n.run->location_of(r).sub_loc, 2);
    touched.clear();
    EXPECT_TRUE(algorithm.perform_local_optimization(data, info.get(), &touched));
    EXPECT_NE(n.run->location_of(r).sub_loc, 2);
    EXPECT_EQ(touched.count(static_cast<int>(r->get_id())), 1u);
    algorithm.cleanup_local_optimization(info);
    EXPECT_EQ(info, nullptr);
    EXPECT_TRUE(msg_vdebug_lines().empty()) << msg_vdebug_lines().front().text;
    const MORV_LOCAL_OPT_INFO foreign;
    EXPECT_EQ(internal_error_of([&] { algorithm.perform_local_optimization(data, &foreign, &touched); }), "opt_info");
}

// The morlin driver may build the class for every family; its registers
// are separate atoms with nothing to unpack.
TEST(RegUnpackLocal, MorlinFindsNothingAndRefusesLocalOptimisation)
{
    SIX_LUT n(CDB_FAMILY_MRL, 1);
    n.run->place_rest(3, 3);
    CDB_ATOM_ITERM* data = n.reg(0)->get_input_term_by_type(DB_DATAIN);
    n.run->slack().set(data, -10, 0.1);
    auto unpack = n.make();
    EXPECT_EQ(unpack->do_iter(), 0);
    EXPECT_EQ(unpack->evaluate_local_optimization(data), nullptr);
}

// ---------------------------------------------------------------- UVO

TEST(RegUnpackUvo, CriticalLutHalfMovesToANewCellThatComputesWhatThePackedOneDid)
{
    UVO_CELL n;
    n.place();
    n.run->slack().set(n.lut_sink(), -50, 0.05);
    const std::vector<unsigned> before = n.run->trace(64);
    const size_t atoms = n.run->netlist().get_node_count();
    auto unpack = n.make();
    EXPECT_EQ(unpack->do_iter(), 1);
    EXPECT_EQ(unpack->get_unpacked_count(), 1);
    EXPECT_EQ(n.run->netlist().get_node_count(), atoms + 1);
    CDB_ATOM_NODE* lut = n.lut_sink()->get_source()->get_my_node();
    EXPECT_NE(lut, n.cell());
    EXPECT_FALSE(n.run->api()->get_fsyn_net_util()->is_output_connected(n.cell(), DB_COMB_OUT));
    EXPECT_EQ(n.run->location_of(lut).x, 2);  // the LUT output's own LAB, for the placer to move
    EXPECT_EQ(n.run->trace(64), before);
}

// The register loads c for ever through sdata: the old cell keeps only the
// register, which takes c through its LUT as a buffer.
TEST(RegUnpackUvo, SynchronousDataBecomesTheLutBufferOfTheRegisterOnlyCell)
{
    UVO_CELL n(true);
    n.place();
    n.run->slack().set(n.lut_sink(), -50, 0.05);
    const std::vector<unsigned> before = n.run->trace(64);
    auto unpack = n.make();
    ASSERT_EQ(unpack->do_iter(), 1);
    CDB_ATOM_NODE* p = n.cell();
    EXPECT_EQ(p->get_input_term_by_type(DB_SYNCH_DATA) == nullptr ||
                  !p->get_input_term_by_type(DB_SYNCH_DATA)->is_connected(),
              true);
    CDB_ATOM_ITERM* a = p->get_input_term_by_type(DB_DATA_A);
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(a->is_connected());
    EXPECT_EQ(a->get_source()->get_my_node(), n.run->find("c"));
    EXPECT_FALSE(p->get_input_term_by_type(DB_DATA_B)->is_connected());
    EXPECT_TRUE(p->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
    EXPECT_EQ(n.run->trace(64), before);
}

// Input C is read by the LUT and also carries the register's synchronous
// data: the unpacked cell keeps it for the register, which then takes c
// through its LUT as a buffer.
TEST(RegUnpackUvo, InputCCarryingSynchronousDataStaysWithTheRegister)
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_UVO};
    CDB_ATOM_OTERM* a = fixture.input("a");
    CDB_ATOM_OTERM* b = fixture.input("b");
    CDB_ATOM_OTERM* c = fixture.input("c");
    CDB_ATOM_OTERM* clk = fixture.input("clk");
    CDB_ATOM_OTERM* comb = fixture.lut("p", {a, b, c}, 0x96);
    CDB_ATOM_NODE* p = comb->get_my_node();
    clk->insert_fanout(p->add_input_term(DB_CLOCK));
    p->get_input_term_by_type(DB_DATA_C)->set_usage_as(DB_SYNCH_DATA);
    p->add_input_term(DB_SYNCH_LOAD)->set_logical_vcc();
    CDB_ATOM_OTERM* q = p->add_output_term(DB_REG_OUT, p->get_instance_name());
    fixture.output("o1", fixture.lut("t1", {comb, a}, 0x6));
    fixture.output("o2", fixture.lut("t2", {q, b}, 0x6));
    DUP_RUN run(fixture);
    run.place(run.find("t1"), 8, 8);
    run.place_rest(2, 2);
    run.slack().set(run.find("t1")->get_input_term_by_type(DB_DATA_A), -50, 0.05);
    const std::vector<unsigned> before = run.trace(64);
    MORV_PARAMETER_MAP params;
    auto unpack = make_unpack(run, params);
    ASSERT_EQ(unpack->do_iter(), 1);
    CDB_ATOM_ITERM* data_a = run.find("p")->get_input_term_by_type(DB_DATA_A);
    ASSERT_NE(data_a, nullptr);
    ASSERT_NE(data_a->get_source(), nullptr);
    EXPECT_EQ(data_a->get_source()->get_my_node(), run.find("c"));
    EXPECT_EQ(run.trace(64), before);
}

// A register fed through the cascade input stays where the cascade puts
// it; only a critical LUT half is split off.
TEST(RegUnpackUvo, CascadeFedCellSplitsOnlyACriticalLutHalf)
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_UVO};
    CDB_ATOM_OTERM* a = fixture.input("a");
    CDB_ATOM_OTERM* b = fixture.input("b");
    CDB_ATOM_OTERM* clk = fixture.input("clk");
    CDB_ATOM_OTERM* head_comb = fixture.lut("head", {a}, 0x2);
    CDB_ATOM_NODE* head = head_comb->get_my_node();
    clk->insert_fanout(head->add_input_term(DB_CLOCK));
    CDB_ATOM_OTERM* head_q = head->add_output_term(DB_REG_OUT, head->get_instance_name());
    CDB_ATOM_OTERM* comb = fixture.lut("p", {a, b}, AND2);
    CDB_ATOM_NODE* p = comb->get_my_node();
    clk->insert_fanout(p->add_input_term(DB_CLOCK));
    head_q->insert_fanout(p->add_input_term(DB_REG_CASCADE_IN));
    fixture.output("o1", fixture.lut("t1", {comb, b}, 0x6));
    DUP_RUN run(fixture);
    run.place(run.find("t1"), 8, 8);
    run.place_rest(2, 2);
    MORV_PARAMETER_MAP params;
    auto unpack = make_unpack(run, params);
    MORV_UNPACK_INFO info;
    EXPECT_FALSE(unpack->can_unpack(run.find("p"), &info));
    run.slack().set(run.find("t1")->get_input_term_by_type(DB_DATA_A), -50, 0.05);
    ASSERT_TRUE(unpack->can_unpack(run.find("p"), &info));
    EXPECT_EQ(info.reg_x, -1);
    EXPECT_EQ(info.comb_x, 2);
    // The head's LUT output drives nothing: nothing to split there.
    EXPECT_FALSE(unpack->can_unpack(run.find("head"), &info));
    unpack->unpack(info);
    EXPECT_EQ(run.location_of(run.find("p")).x, 2);
    EXPECT_NE(run.find("t1")->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), run.find("p"));
}

TEST(RegUnpackUvo, FeedbackCellWithCalmLutInputsIsRefused)
{
    UVO_CELL n;
    n.place();
    n.run->slack().set(n.lut_sink(), -50, 0.05);
    n.cell()->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    auto unpack = n.make();
    MORV_UNPACK_INFO info;
    EXPECT_FALSE(unpack->can_unpack(n.cell(), &info));
    n.run->slack().set(n.cell()->get_input_term_by_type(DB_DATA_B), -50, 0.05);
    EXPECT_TRUE(unpack->can_unpack(n.cell(), &info));
    EXPECT_EQ(info.comb_x, 2);
    EXPECT_EQ(info.reg_x, 2);
}

TEST(RegUnpackUvo, NothingCriticalOrAnUnusedHalfIsRefused)
{
    UVO_CELL n;
    n.place();
    auto unpack = n.make();
    MORV_UNPACK_INFO info;
    EXPECT_FALSE(unpack->can_unpack(n.cell(), &info));
    // A plain LUT cell has no register half.
    n.run->slack().set(n.run->find("t2")->get_input_term_by_type(DB_DATA_A), -50, 0.05);
    EXPECT_FALSE(unpack->can_unpack(n.run->find("t1"), &info));
    // The register's critical fanout is enough for the cell.
    EXPECT_TRUE(unpack->can_unpack(n.cell(), &info));
}

TEST(RegUnpack, FactoryBuildsIt)
{
    SIX_LUT n;
    MORV_OWNER<MORV_ALGORITHM_BASE> made;
    MORV_PARAMETER_MAP none;
    ASSERT_TRUE(morv_make_family_algorithm("MORV_REG_UNPACK", n.run->api(), &none, &made));
    EXPECT_EQ(made->get_short_name(), "REG_UNPACK");
    EXPECT_EQ(made->get_description(), "register unpacking");
}

namespace {

// A design read for UVO, each register cell folded into the LUT cell that
// feeds it, as UVO synthesis packs them; the number folded into *packed,
// of them those whose LUT output drives other sinks too into *shared.
std::unique_ptr<CDB_ATOM_NETLIST> packed_uvo_design(const std::string& path, int* packed, int* shared)
{
    BLIF_READER reader(CDB_FAMILY_UVO);
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = reader.read_file(path);
    std::vector<CDB_ATOM_NODE*> registers;
    for (CDB_ATOM_NODE* n : *netlist)
        if (n->is_lcell() && n->get_output_term_by_type(DB_REG_OUT) != nullptr) registers.push_back(n);
    *packed = *shared = 0;
    for (CDB_ATOM_NODE* r : registers) {
        CDB_ATOM_ITERM* d = r->get_input_term_by_type(DB_DATA_A);
        CDB_ATOM_ITERM* clk = r->get_input_term_by_type(DB_CLOCK);
        if (d == nullptr || clk == nullptr || d->get_source() == nullptr || clk->get_source() == nullptr) continue;
        if (std::distance(r->begin_iterm(), r->end_iterm()) != 2 || d->is_inverted()) continue;
        CDB_ATOM_NODE* lut = d->get_source()->get_my_node();
        if (!lut->is_lcell() || lut == r || !d->get_source()->is_used_as(DB_COMB_OUT) ||
            lut->get_output_term_by_type(DB_REG_OUT) != nullptr ||
            lut->get_input_term_by_type(DB_CARRY_IN) != nullptr ||
            lut->get_output_term_by_type(DB_CARRY_OUT) != nullptr)
            continue;
        CDB_ATOM_ITERM* lut_clk = lut->add_input_term(DB_CLOCK);
        clk->get_source()->insert_fanout(lut_clk);
        if (clk->is_inverted()) lut_clk->set_invert(true);
        CDB_ATOM_OTERM* q = r->get_output_term_by_type(DB_REG_OUT);
        CDB_ATOM_OTERM* lut_q = lut->add_output_term(DB_REG_OUT, q->get_instance_name());
        std::vector<CDB_ATOM_ITERM*> sinks(q->begin_iterm_fanout(), q->end_iterm_fanout());
        for (CDB_ATOM_ITERM* sink : sinks) {
            sink->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            lut_q->insert_fanout(sink);
        }
        d->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        clk->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        netlist->delete_node(r);
        ++*packed;
        if (lut->get_output_term_by_type(DB_COMB_OUT)->get_number_of_fanout() > 0) ++*shared;
    }
    return netlist;
}

}  // namespace

// Every cell of a packed frisc whose halves both drive sinks is unpacked
// before placement, a twentieth of the logic cells and one per iteration:
// the design computes what it did.
TEST(RegUnpackUvo, PackedFriscUnpackedInIterationsKeepsItsFunction)
{
    int packed = 0, shared = 0;
    DUP_RUN run(CDB_FAMILY_UVO,
                packed_uvo_design(std::string(MORV_BENCH_DIR) + "/mcnc_k4/frisc.blif", &packed, &shared),
                POST_CLUSTERING_FSYN_FLOW);
    ASSERT_GT(packed, 500);
    ASSERT_GT(shared, 10);
    const std::vector<unsigned> before = run.trace(48);
    const size_t atoms = run.netlist().get_node_count();
    MORV_PARAMETER_MAP params;
    params["SRT"] = "1.0";  // every connection counts as critical
    auto unpack = make_unpack(run, params);
    int unpacked = 0, iterations = 0;
    for (int found = unpack->do_iter(); found > 0; found = unpack->do_iter()) {
        EXPECT_LE(unpack->get_unpacked_count(), found);
        unpacked += unpack->get_unpacked_count();
        ASSERT_LT(++iterations, 40);
    }
    EXPECT_EQ(unpacked, shared);
    EXPECT_EQ(run.netlist().get_node_count(), atoms + static_cast<size_t>(unpacked));
    EXPECT_EQ(run.trace(48), before);
}

}  // namespace reg_unpack_test
