#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cut/cut_atom_util.h"

#include "net_util_fixture.h"

namespace morv_net_util_edit_test {

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
    NET_UTIL_NETLIST n(CDB_FAMILY_MRL, NET_UTIL_PARTITIONS);
    const int port = n.bpm()->create_port("p|bus3");
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    CDB_ATOM_ITERM* from = cell->add_input_term(DB_DATA_A);
    from->set_invert();
    from->set_global(-5);
    from->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, 3);
    from->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    from->set_user_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    ASSERT_TRUE(n.bpm()->assign_port_id(from, port));
    MORV_ITERM_PROPERTIES record;
    n.util()->save_iterm_properties(record, from);
    EXPECT_EQ(record.global_setting, -5);
    EXPECT_EQ(record.delay_chain_index, 3);
    EXPECT_EQ(record.boundary_port_id, port);
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
    EXPECT_EQ(again.boundary_port_id, port);
    EXPECT_EQ(n.bpm()->get_assigned_port_id(to), port);
    n.util()->reset_iterm_properties(to);
    n.util()->save_iterm_properties(&again, to);
    EXPECT_FALSE(again.inverted || again.connected_to_delay_chain || again.use_delay_chain);
    EXPECT_EQ(again.global_setting, 0);
    EXPECT_EQ(again.delay_chain_index, -1);
    // A term without a binding restores none, clearing the one it had.
    MORV_ITERM_PROPERTIES plain;
    n.util()->save_iterm_properties(plain, cell->add_input_term(DB_DATA_C));
    EXPECT_EQ(plain.boundary_port_id, -1);
    n.util()->restore_iterm_properties(plain, to);
    EXPECT_EQ(n.bpm()->get_assigned_port_id(to), -1);
}

TEST_F(NetUtilEditTest, TermEditsAreAnnouncedAndLogged)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_LOGGING);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    const std::string id = std::to_string(cell->get_id());
    CDB_ATOM_OTERM* source = n.new_source();
    n.take_log_entries();

    // New terms: logged once they exist, named after the node.
    CDB_ATOM_OTERM* out = u->create_oterm(static_cast<HDB_INSTANCE_NAME*>(nullptr), cell, DB_COMB_OUT);
    const std::string out_name = out->get_instance_name()->get_short_hpath();
    EXPECT_EQ(out_name.rfind("cell_OTERM", 0), 0u);
    CDB_ATOM_ITERM* b = u->create_iterm(cell, DB_DATA_B);
    EXPECT_EQ(cell->get_input_term_by_type(DB_DATA_B), b);
    const std::string bt = term_text(b);
    EXPECT_EQ(n.take_log_entries(), (std::vector<std::string>{log_line("CREATE_OTERM", cell, "\"" + out_name + "\" 8"),
                                                              log_line("CREATE_ITERM", cell, "12 0")}));
    // Named after a model node, at the port index asked for.
    CDB_ATOM_NODE* model = n.atom(CDB_KIND_LCELL_COMB, "model");
    CDB_ATOM_OTERM* share = u->create_oterm(model, cell, DB_SHARE_OUT, 2);
    EXPECT_EQ(share->get_port_index(), 2);
    EXPECT_EQ(cell->get_output_term_by_type(DB_SHARE_OUT, 2), share);
    EXPECT_EQ(share->get_instance_name()->get_short_hpath().rfind("model_OTERM", 0), 0u);
    // A base name, when given, wins over the model.
    CDB_ATOM_OTERM* sum = u->create_oterm(model, cell, DB_SUM_OUT, n.names().find_or_create_path("base", 0));
    EXPECT_EQ(sum->get_instance_name()->get_short_hpath().rfind("base_OTERM", 0), 0u);
    n.take_log_entries();

    // A disconnection taints the node without marking it changed for placement.
    CDB_ATOM_NODE* lone = n.atom(CDB_KIND_LCELL_COMB, "lone");
    CDB_ATOM_ITERM* lone_a = n.drive(lone, DB_DATA_A);
    n.api()->reset_taint();
    u->disconnect_iterm(lone_a, CDB_NET_ITERM::UNCONNECTED);
    EXPECT_NE(n.api()->get_taint(), 0u);
    EXPECT_FALSE(n.api()->is_atom_modified_for_icp(static_cast<int>(lone->get_id())));
    n.take_log_entries();

    // Connections: logged before they are made; disconnections too. The
    // facade hears of each changed edge.
    n.api()->reset_taint();
    u->insert_fanout(source, b);
    EXPECT_EQ(b->get_source(), source);
    EXPECT_NE(n.api()->get_taint(), 0u);
    EXPECT_TRUE(n.api()->is_atom_modified_for_icp(static_cast<int>(cell->get_id())));
    u->disconnect_iterm(b, CDB_NET_ITERM::CONNECT_GND);
    EXPECT_TRUE(b->is_gnd());
    const std::string src =
        std::to_string(source->get_my_node()->get_id()) + ":" + std::to_string(source->get_any_usage_as()) + ":0";
    // One record for the node: the input's slot ends with its last source.
    EXPECT_EQ(n.take_log_entries(), (std::vector<std::string>{log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", cell,
                                                                       slot_list(11, {{1, "GND"}}))}));
}

TEST_F(NetUtilEditTest, PropertiesFanoutMovesAndRemovalsAreLogged)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_LOGGING);
    MORV_NET_UTIL* u = n.util();
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
    const std::string id = std::to_string(cell->get_id());
    CDB_ATOM_OTERM* source = n.new_source();
    const std::string src =
        std::to_string(source->get_my_node()->get_id()) + ":" + std::to_string(source->get_any_usage_as()) + ":0";
    CDB_ATOM_ITERM* b = cell->add_input_term(DB_DATA_B);
    b->set_gnd();
    const std::string bt = term_text(b);
    n.take_log_entries();

    // Properties: written back through the interface, cleared one by one.
    MORV_ITERM_PROPERTIES record;
    record.inverted = true;
    record.global_setting = 3;
    u->restore_iterm_properties(record, b);
    u->reset_iterm_properties(b);
    EXPECT_EQ(n.take_log_entries(),
              (std::vector<std::string>{
                  log_line("SET_ITERM_PROPERTIES", cell, "12 0 1 3 0 0 0 0"), log_line("CLEAR_INVERT", cell, "12 0"),
                  log_line("RESET_DELAY_CHAIN", cell, "12 0 8"),
                  log_line("SET_CONNECTED_TO_DELAY_CHAIN", cell, "12 0 8 0"), log_line("SET_GLOBAL", cell, "12 0 0")}));

    // Fanout moves and removals.
    CDB_ATOM_OTERM* other = n.new_source();
    CDB_ATOM_ITERM* c = cell->add_input_term(DB_DATA_C);
    u->insert_fanout(source, c);
    n.take_log_entries();
    n.api()->reset_taint();
    u->adopt_fanouts(other, source);
    EXPECT_NE(n.api()->get_taint(), 0u);
    EXPECT_EQ(other->get_number_of_fanout(), 1);
    u->remove_input_term(cell, DB_DATA_C);
    EXPECT_EQ(cell->get_input_term_by_type(DB_DATA_C), nullptr);
    EXPECT_EQ(c->get_source(), other);  // taken off the node, not deleted
    delete c;
    u->delete_iterm(b);
    EXPECT_EQ(cell->get_input_term_by_type(DB_DATA_B), nullptr);
    EXPECT_EQ(n.take_log_entries(),
              (std::vector<std::string>{log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", cell,
                                                 slot_list(11, {{1, "DISCONNECT"}, {2, short_name_of(other)}})),
                                        log_line("REPLACE_INPUT_TERM_BY_TYPE", cell, "13"),
                                        log_line("REPLACE_INPUT_TERM_BY_TYPE", cell, "12")}));
    // A term of an unordered port goes by itself, whatever its index.
    CDB_ATOM_NODE* mac = n.atom(CDB_KIND_MAC_MULT, "mac");
    CDB_ATOM_ITERM* first = mac->add_input_term(DB_DATA_A, 0);
    CDB_ATOM_ITERM* second = mac->add_input_term(DB_DATA_A, 1);
    u->remove_input_term(mac, second, DB_DATA_A);
    EXPECT_EQ(mac->get_input_term_by_type(DB_DATA_A, 0), first);
    EXPECT_EQ(mac->get_input_term_by_type(DB_DATA_A, 1), nullptr);
    delete second;
}

TEST_F(NetUtilEditTest, RegisterControlsGoWithTheirBindingsAndAreLogged)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_RZK, NET_UTIL_PARTITIONS | NET_UTIL_LOGGING);
    const int port = n.bpm()->create_port("p|enable");
    CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, "reg");
    CDB_ATOM_ITERM* data = n.drive(reg, DB_DATAIN);
    CDB_ATOM_ITERM* enable = n.drive(reg, DB_CLOCK_ENABLE);
    CDB_ATOM_ITERM* sload = n.drive(reg, DB_SYNCH_LOAD);
    CDB_ATOM_ITERM* sclr = reg->add_input_term(DB_SYNCH_CLEAR);  // not connected: stays
    ASSERT_TRUE(n.bpm()->assign_port_id(enable, port));
    const std::string id = std::to_string(reg->get_id());
    const std::string enable_text = term_text(enable);
    n.take_log_entries();
    n.util()->remove_register_control_inputs(reg);
    EXPECT_EQ(reg->get_input_term_by_type(DB_CLOCK_ENABLE), nullptr);
    EXPECT_EQ(reg->get_input_term_by_type(DB_SYNCH_LOAD), nullptr);
    EXPECT_EQ(reg->get_input_term_by_type(DB_SYNCH_CLEAR), sclr);
    EXPECT_EQ(reg->get_input_term_by_type(DB_DATAIN), data);
    EXPECT_EQ(n.bpm()->get_binding_count(), 0);
    (void)sload;
    EXPECT_EQ(n.take_log_entries(), (std::vector<std::string>{log_line("DISCONNECT_BOUNDARY_PORT_ID", reg, "7 0"),
                                                              log_line("REPLACE_INPUT_TERM_BY_TYPE", reg, "7"),
                                                              log_line("REPLACE_INPUT_TERM_BY_TYPE", reg, "30")}));
}

// Each VCC tie makes a driver cell: its output, the move of the input and
// its mask are logged, then the facade records the new atom.
TEST_F(NetUtilEditTest, BrkVccTiesAreLoggedAndAnnounced)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_LOGGING);
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    lut->set_lutmask(CDB_LUTMASK(6, 0x8000000000000000ull));
    n.load(lut, DB_COMB_OUT);
    CDB_ATOM_ITERM* a = lut->add_input_term(DB_DATA_A);
    a->set_vcc();
    lut->add_input_term(DB_CARRY_IN)->set_vcc();  // chain inputs keep their ties
    const std::string at = term_text(a);
    const size_t nodes = n.netlist()->get_node_count();
    n.take_log_entries();
    n.util()->tie_inputs_to_vcc_lcells();
    ASSERT_NE(a->get_source(), nullptr);
    CDB_ATOM_NODE* cell = a->get_source()->get_my_node();
    EXPECT_EQ(n.netlist()->get_node_count(), nodes + 1);
    EXPECT_EQ(cell->get_netlist(), n.netlist());
    EXPECT_TRUE(lut->get_input_term_by_type(DB_CARRY_IN)->is_vcc());
    const std::string id = std::to_string(cell->get_id());
    const std::string name = cell->get_instance_name()->get_short_hpath();
    EXPECT_EQ(name.rfind("lut_VCC", 0), 0u);
    // The new cell's insert record names the cell it was made from.
    EXPECT_EQ(n.take_log_entries(),
              (std::vector<std::string>{log_line("CREATE_OTERM", cell, "\"" + name + "\" 8"),
                                        log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", lut, slot_list(11, {{0, name}})),
                                        log_line("SET_LUTMASK", cell, "0 0xffffffffffffffff 0"),
                                        log_line("INSERT_ATOM", cell, "\"lut\" 1 0")}));
}

TEST_F(NetUtilEditTest, NewCellsComeFromTheFamilyFactories)
{
    // The same atom type, bits and mode as the host makes for the family.
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* model = n.atom(CDB_KIND_LCELL_COMB, "model");
        for (int kind : {CDB_KIND_LCELL_COMB, CDB_KIND_REGISTER}) {
            if (family == CDB_FAMILY_UVO && kind == CDB_KIND_REGISTER) {
                EXPECT_EQ(internal_error_of([&] { n.util()->create_register(model); }),
                          "Function not supported by this family");
                continue;
            }
            std::unique_ptr<CDB_ATOM_NODE> made(kind == CDB_KIND_REGISTER ? n.util()->create_register(model)
                                                                          : n.util()->create_lcell_comb(model));
            std::unique_ptr<CDB_ATOM_NODE> host(cdb_create_atom(family, kind));
            const std::string what = numbered("family ", family) + numbered(" kind ", kind);
            EXPECT_EQ(made->get_atom_type(), host->get_atom_type()) << what;
            EXPECT_EQ(made->get_bits(), host->get_bits()) << what;
            EXPECT_EQ(made->get_mode(), host->get_mode()) << what;
        }
    }
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

}  // namespace morv_net_util_edit_test
