#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "../core/morv_test_env.h"
#include "log_records.h"
#include "morv_test_util.h"

namespace morv_cdb_interface_test {

namespace {

std::vector<std::string> entries_of(const MORV_LOG* log)
{
    return pending_record_lines(*log);
}

std::string term(const CDB_ATOM_ITERM* t)
{
    return std::to_string(t->get_my_node()->get_id()) + ":" + std::to_string(t->get_any_usage_as()) + ":" +
           std::to_string(t->get_port_index());
}

std::string id(const CDB_ATOM_NODE* n)
{
    return std::to_string(n->get_id());
}

// One record line: kind, node id and name, then the fields.
std::string rec(const char* kind, const CDB_ATOM_NODE* n, const std::string& fields)
{
    const HDB_INSTANCE_NAME* name = n->get_instance_name();
    std::string line = kind;
    line.append(" ").append(id(n)).append(" \"").append(name ? name->get_short_hpath() : "").append("\"");
    if (!fields.empty()) line.append(" ").append(fields);
    return line;
}

// The slots of a combinational cell's connection record: slot 0 (data A)
// holds `first`, every other slot is untouched.
std::string comb_slots(const std::string& first)
{
    std::string text = "[\"" + first + "\"";
    for (int slot = 1; slot < 11; ++slot) text += " \"UNCHANGED\"";
    return text + "]";
}

std::string oterm_name(const CDB_ATOM_OTERM* o)
{
    return o->get_instance_name()->get_short_hpath();
}

// A BRK compile with an MRL migration part: the facade logs every edit.
class MorvCdbInterfaceTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        host = std::make_unique<MORV_TEST_HOST>(CDB_FAMILY_BRK);
        ids = host->build_chain(2);
        morv_install_migration_device(CDB_FAMILY_BRK, 2401);
        // The log names boundary ports through the facade's manager.
        bpm = std::make_unique<BPM_BOUNDARY_PORT_MANAGER>(&host->ap);
        bpm_drl_set_active_boundary_port_manager(bpm.get());
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        auto* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        ASSERT_NE(expert, nullptr);
        api = expert->get_fsyn_api();
        cdb = api->get_fsyn_cdb_interface();
        ASSERT_TRUE(cdb->is_logging());
        // The interface writes into a log that also notes prior-state requests.
        test_log = std::make_unique<TEST_CHANGE_LOG>(api);
        cdb->set_fsyn_log(test_log.get());
        log = test_log.get();
        driver = env->get_node(ids[0]);
        sink = env->get_node(ids[1]);
    }
    void TearDown() override
    {
        if (cdb != nullptr) cdb->set_fsyn_log(api->get_fsyn_log());
        test_log.reset();
        env.reset();
        bpm.reset();
        host.reset();
        DMGR_UTILITY::set_current_device(nullptr);
        MORV_CLEAN_STATE_TEST::TearDown();
    }

    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> bpm;
    std::unique_ptr<MORV_TEST_ENV> env;
    std::vector<int> ids;
    MORV_API* api = nullptr;
    MORV_CDB_INTERFACE* cdb = nullptr;
    std::unique_ptr<TEST_CHANGE_LOG> test_log;
    TEST_CHANGE_LOG* log = nullptr;
    CDB_ATOM_NODE* driver = nullptr;
    CDB_ATOM_NODE* sink = nullptr;
};

TEST_F(MorvCdbInterfaceTest, FactoriesMakeTheFamilyAtomNamedAndSetUpWithoutLogging)
{
    HDB_INSTANCE_NAME* name = host->names.find_or_create_path("made", 0);
    struct CASE
    {
        CDB_ATOM_NODE* atom;
        int family;
        int kind;
        bool four_input_bit;
        bool register_mode;
    } cases[] = {
        {cdb->create_lcell_uvo(nullptr, name), CDB_FAMILY_UVO, CDB_KIND_UVO_LCELL, true, false},
        {cdb->create_lcell_comb_brk(nullptr, name), CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, false, false},
        {cdb->create_lcell_ff_brk(nullptr, name), CDB_FAMILY_BRK, CDB_KIND_REGISTER, false, false},
        {cdb->create_lcell_comb_sorvexii(nullptr, name), CDB_FAMILY_TEV, CDB_KIND_LCELL_COMB, true, false},
        {cdb->create_lcell_ff_sorvexii(nullptr, name), CDB_FAMILY_TEV, CDB_KIND_REGISTER, false, false},
        {cdb->create_lcell_comb_mrl(nullptr, name), CDB_FAMILY_MRL, CDB_KIND_LCELL_COMB, false, false},
        {cdb->create_lcell_hsadder_mrl(nullptr, name), CDB_FAMILY_MRL, CDB_KIND_HSADDER, false, false},
        {cdb->create_lcell_ff_mrl(nullptr, name), CDB_FAMILY_MRL, CDB_KIND_REGISTER, false, false},
        {cdb->create_lcell_comb_obran(nullptr, name), CDB_FAMILY_OBRAN, CDB_KIND_LCELL_COMB, false, false},
        {cdb->create_ff_obran(nullptr, name), CDB_FAMILY_OBRAN, CDB_KIND_REGISTER, false, true},
        {cdb->create_lcell_comb_rzk(nullptr, name), CDB_FAMILY_RZK, CDB_KIND_LCELL_COMB, false, false},
        {cdb->create_ff_rzk(nullptr, name), CDB_FAMILY_RZK, CDB_KIND_REGISTER, false, true},
        {cdb->create_ff_kestlin(nullptr, name), CDB_FAMILY_KESTLIN, CDB_KIND_REGISTER, false, true},
        {cdb->create_lcell_comb_zepla(nullptr, name), CDB_FAMILY_ZEPLA, CDB_KIND_LCELL_COMB, true, false},
        {cdb->create_ff_zepla(nullptr, name), CDB_FAMILY_ZEPLA, CDB_KIND_REGISTER, false, true},
    };
    for (const CASE& c : cases) {
        std::unique_ptr<CDB_ATOM_NODE> atom(c.atom);
        const std::string what = std::to_string(c.family) + "/" + std::to_string(c.kind);
        EXPECT_EQ(atom->get_family(), c.family) << what;
        EXPECT_EQ(atom->get_kind(), c.kind) << what;
        EXPECT_EQ(atom->get_instance_name(), name) << what;
        EXPECT_EQ(atom->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB), c.four_input_bit) << what;
        EXPECT_EQ(atom->get_mode() == DEV_PHYS_IMPL_REGISTER_MODE, c.register_mode) << what;
        EXPECT_FALSE(atom->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG)) << what;
        EXPECT_FALSE(atom->test_bit(CDB_ATOM_BIT_QFBK_MODE)) << what;
        EXPECT_EQ(atom->get_netlist(), nullptr) << what;
        EXPECT_GT(atom->get_ordered_input_count(), 0) << what << ": set up with its fixed input slots";
    }
    EXPECT_TRUE(log->get_all_pending_entries().empty());
}

TEST_F(MorvCdbInterfaceTest, TypeRestrictedQueriesRefuseOtherAtoms)
{
    CDB_LUTMASK adder(5, 0x1234abcd);
    sink->set_sum_lutmask(adder);
    EXPECT_EQ(cdb->get_adder_lutmask(sink), 0x1234abcdu);
    std::unique_ptr<CDB_ATOM_NODE> tev(cdb->create_lcell_comb_sorvexii(nullptr, nullptr));
    EXPECT_EQ(internal_error_of([&] { cdb->get_adder_lutmask(tev.get()); }), "Function called for an illegal family");

    std::unique_ptr<CDB_ATOM_RAM> ram(new CDB_ATOM_RAM(CDB_FAMILY_UVO));
    ram->set_ram_mode_flags(1, CDB_RAM_FLAG_SET{2});
    EXPECT_TRUE(cdb->is_ram_mode(ram.get(), 2, 1));
    EXPECT_FALSE(cdb->is_ram_mode(ram.get(), 2, 0));
    std::unique_ptr<CDB_ATOM_RAM> brk_ram(new CDB_ATOM_RAM(CDB_FAMILY_BRK));
    for (CDB_ATOM_NODE* not_uvo_ram : {static_cast<CDB_ATOM_NODE*>(brk_ram.get()), sink})
        EXPECT_EQ(internal_error_of([&] { cdb->is_ram_mode(not_uvo_ram, 2, 0); }),
                  "Either the node passed in is not a ram, or this function is not implemented for the given family");
}

TEST_F(MorvCdbInterfaceTest, InputTermsGoToTheirFixedSlotOrTheFirstFreeUnorderedOne)
{
    std::unique_ptr<CDB_ATOM_NODE> reg(cdb->create_ff_rzk(nullptr, nullptr));
    const int ordered = reg->get_ordered_input_count();
    ASSERT_TRUE(reg->implements(DB_CLOCK));

    // A fixed port lands in its slot.
    CDB_ATOM_ITERM* clock = nullptr;
    cdb->create_input_term(nullptr, clock, reg.get(), DB_CLOCK, 0);
    ASSERT_LT(reg->get_input_port_number(DB_CLOCK), ordered);
    EXPECT_EQ(reg->get_input_term(reg->get_input_port_number(DB_CLOCK)), clock);

    // Unordered ports: appended while no slot is free, then the freed slot is reused.
    std::unique_ptr<CDB_ATOM_NODE> mac(new CDB_ATOM_MAC_MULT(CDB_FAMILY_BRK));
    mac->create_atom_info();
    const int base = mac->get_input_count();
    CDB_ATOM_ITERM* a0 = nullptr;
    CDB_ATOM_ITERM* a1 = nullptr;
    cdb->create_input_term(nullptr, a0, mac.get(), DB_DATA_A, 0);
    cdb->create_input_term(nullptr, a1, mac.get(), DB_DATA_A, 1);
    EXPECT_EQ(mac->get_input_count(), base + 2);
    EXPECT_EQ(a1->get_port_index(), 1);
    mac->remove_input_term(a0);
    delete a0;
    CDB_ATOM_ITERM* a7 = nullptr;
    cdb->create_input_term(nullptr, a7, mac.get(), DB_DATA_A, 7);
    EXPECT_EQ(mac->get_input_count(), base + 2);
    EXPECT_EQ(mac->get_input_term(base), a7);
    EXPECT_EQ(a7->get_port_index(), 7);
    EXPECT_FALSE(a7->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT));

    // Broken placements.
    CDB_ATOM_ITERM loose(nullptr, DB_DATA_B);
    EXPECT_EQ(internal_error_of([&] { cdb->insert_input_term(sink, &loose, DB_CLKBUF_IN, 0); }),
              "node->implements(port_type)");
    EXPECT_EQ(internal_error_of([&] { cdb->insert_input_term(sink, &loose, DB_DATA_C, 0); }),
              "new_iterm->is_used_as(port_type)");
    EXPECT_EQ(internal_error_of([&] { cdb->insert_input_term(sink, &loose, DB_DATA_B, 3); }), "unordered_index == 0");
}

TEST_F(MorvCdbInterfaceTest, CreationIsLoggedAfterTheTermExists)
{
    CDB_ATOM_ITERM* c = nullptr;
    cdb->create_input_term(nullptr, c, sink, DB_DATA_C, 0);
    HDB_INSTANCE_NAME* name = host->names.find_or_create_path("lut1_share", 0);
    CDB_ATOM_OTERM* share = nullptr;
    cdb->create_oterm(nullptr, share, sink, DB_SHARE_OUT, name);
    EXPECT_EQ(sink->get_output_term_by_type(DB_SHARE_OUT), share);
    EXPECT_EQ(share->get_instance_name(), name);
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{rec("CREATE_ITERM", sink, "13 0"),
                                                         rec("CREATE_OTERM", sink, "\"lut1_share\" 251")}));
}

TEST_F(MorvCdbInterfaceTest, AMaskThatNeedsInputFLogsItsCreationFirst)
{
    const CDB_LUTMASK needs_f(6, 0x8000000000000001ull);
    cdb->set_lutmask(sink, needs_f, 0);
    ASSERT_NE(sink->get_input_term_by_type(DB_DATA_F), nullptr);
    cdb->set_lutmask(sink, CDB_LUTMASK(6, 0x8000000000000000ull), 1);
    cdb->set_sum_lutmask(driver, CDB_LUTMASK(5, 0xff), 0);
    // Masks are logged over six inputs: a smaller one repeats.
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{
                                   rec("CREATE_ITERM", sink, "16 0"),
                                   rec("SET_LUTMASK", sink, "0 0x8000000000000001 0"),
                                   rec("SET_LUTMASK", sink, "0 0x8000000000000000 1"),
                                   rec("SET_LUTMASK", driver, "1 0xff000000ff 0"),
                               }));
}

// A node has one connection record; each input's slot ends with its last
// source. A connection over a logged source with no disconnection between is
// refused; every change asks for the node's prior state first.
TEST_F(MorvCdbInterfaceTest, DisconnectionsAreLoggedBeforeConnectionsAfterAndConstantsWithTheNodeState)
{
    CDB_ATOM_ITERM* a = sink->get_input_term_by_type(DB_DATA_A);
    CDB_ATOM_OTERM* out = driver->get_output_term_by_type(DB_COMB_OUT);

    cdb->disconnect_fanin(a, CDB_NET_ITERM::UNCONNECTED);  // was driven
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("DISCONNECT"))}));
    cdb->disconnect_fanin(a, CDB_NET_ITERM::UNCONNECTED);  // nothing to log
    cdb->disconnect_fanin(a, CDB_NET_ITERM::CONNECT_VCC);
    EXPECT_TRUE(a->is_vcc());
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("VCC"))}));
    EXPECT_EQ(internal_error_of([&] { cdb->insert_fanin(a, out); }), "log_entry->m_connection_array[port_index]");
    cdb->disconnect_fanin(a, CDB_NET_ITERM::UNCONNECTED);
    cdb->insert_fanin(a, out);
    EXPECT_EQ(a->get_source(), out);
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots(oterm_name(out)))}));
    log->take_prior_state_requests();
    cdb->set_iterm_gnd(a);
    EXPECT_TRUE(a->is_gnd());
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("GND"))}));
    for (uint32_t asked : log->take_prior_state_requests()) EXPECT_EQ(asked, sink->get_id());

    // Logical constants are logged as the physical constant the port sees;
    // a tie over a tie is a disconnection and a connection.
    log->clear_pending_entries();
    a->set_active_high(false);
    cdb->set_iterm_logical_vcc(a);
    EXPECT_TRUE(a->is_gnd());
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("GND"))}));
    cdb->set_iterm_logical_gnd(a);
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("VCC"))}));
    a->set_active_high(true);
    cdb->set_iterm_logical_gnd(a);
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("GND"))}));
    cdb->set_iterm_vcc(a);
    EXPECT_EQ(entries_of(log),
              (std::vector<std::string>{rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("VCC"))}));
    EXPECT_FALSE(log->take_prior_state_requests().empty());
}

// A tie asks for the node's prior state before the connection record takes
// the constant, every time (the family keeps the first); the driver it left
// is not asked for. A snapshot's copy keeps the pending records.
TEST_F(MorvCdbInterfaceTest, ATieStoresThePriorStateBeforeTheTie)
{
    CDB_ATOM_ITERM* b = sink->add_input_term(DB_DATA_B);
    ASSERT_FALSE(b->is_connected());
    cdb->set_iterm_gnd(b);
    EXPECT_TRUE(b->is_gnd());
    const std::vector<uint32_t> asked = log->take_prior_state_requests();
    ASSERT_FALSE(asked.empty());
    for (uint32_t node_id : asked) EXPECT_EQ(node_id, sink->get_id());
    cdb->set_iterm_logical_vcc(b);
    EXPECT_TRUE(b->is_logical_vcc());
    cdb->set_iterm_logical_gnd(b);
    EXPECT_TRUE(b->is_logical_gnd());
    cdb->set_iterm_vcc(sink->get_input_term_by_type(DB_DATA_A));
    EXPECT_TRUE(sink->get_input_term_by_type(DB_DATA_A)->is_vcc());
    for (uint32_t node_id : log->take_prior_state_requests()) EXPECT_EQ(node_id, sink->get_id());
    const std::vector<std::string> before = entries_of(log);
    MORV_LOG_BRK copy(*log, api);
    EXPECT_EQ(entries_of(&copy), before);
    cdb->set_iterm_gnd(b);  // the copy has records of its own
    EXPECT_EQ(entries_of(&copy), before);
}

TEST_F(MorvCdbInterfaceTest, PropertySettersThatChangeNothingLogNothing)
{
    CDB_ATOM_ITERM* a = sink->get_input_term_by_type(DB_DATA_A);
    const std::string t = term(a);
    cdb->set_iterm_properties(a, false, 0, false, false, 5, false);  // index counts only for a used chain
    cdb->set_iterm_global(a, 0);
    cdb->set_iterm_global(a, 32);  // the same 5-bit field
    EXPECT_TRUE(log->get_all_pending_entries().empty());

    cdb->set_iterm_properties(a, true, -3, DB_DELAY_CHAIN_INPUT, true, true, 4, true);
    EXPECT_TRUE(a->is_inverted());
    EXPECT_EQ(a->get_global(), -3);
    EXPECT_TRUE(a->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT));
    EXPECT_EQ(a->get_delay_chain_index(DB_DELAY_CHAIN_INPUT), 4);
    EXPECT_TRUE(a->has_user_delay_chain(DB_DELAY_CHAIN_INPUT));
    cdb->set_iterm_properties(a, true, -3, true, true, 4, true);
    ASSERT_EQ(log->get_pending_entry_count(), 1u);

    cdb->set_iterm_properties(a, true, -3, true, true, 6, true);
    EXPECT_EQ(a->get_delay_chain_index(DB_DELAY_CHAIN_INPUT), 6);
    EXPECT_TRUE(a->is_inverted());
    cdb->set_iterm_properties(a, true, -3, true, false, 6, true);
    EXPECT_FALSE(a->use_delay_chain(DB_DELAY_CHAIN_INPUT));
    // The index counts only for a used chain.
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{
                                   rec("SET_ITERM_PROPERTIES", sink, "11 0 1 -3 1 1 4 1"),
                                   rec("SET_ITERM_PROPERTIES", sink, "11 0 1 -3 1 1 6 1"),
                                   rec("SET_ITERM_PROPERTIES", sink, "11 0 1 -3 1 0 0 1"),
                               }));

    // An inverted VCC tie reads as GND, and the log says so after the record.
    log->clear_pending_entries();
    a->disconnect_from_source(CDB_NET_ITERM::CONNECT_VCC);
    a->clear_invert();
    cdb->set_iterm_properties(a, true, 0, false, false, -1, false);
    EXPECT_TRUE(a->is_inverted());
    a->disconnect_from_source(CDB_NET_ITERM::CONNECT_GND);
    cdb->set_iterm_properties(a, false, 0, false, false, -1, false);
    EXPECT_FALSE(a->is_inverted());
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{
                                   rec("SET_ITERM_PROPERTIES", sink, "11 0 1 0 0 0 0 0"),
                                   rec("ADD_REMOVE_CONNECTION_LCELL_COMB", sink, comb_slots("VCC")),
                                   rec("SET_ITERM_PROPERTIES", sink, "11 0 0 0 0 0 0 0"),
                               }));
    EXPECT_EQ(internal_error_of([&] { cdb->set_iterm_properties(a, false, 0, 3, false, false, -1, false); }),
              "delay_chain == DELAY_CHAIN");
}

TEST_F(MorvCdbInterfaceTest, SettersLogBeforeOrAfterAsTheirEntryNeeds)
{
    CDB_ATOM_ITERM* a = sink->get_input_term_by_type(DB_DATA_A);
    const std::string t = term(a);
    cdb->set_iterm_connected_to_delay_chain(a, true);
    EXPECT_TRUE(a->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT));
    cdb->reset_iterm_delay_chain(a);
    EXPECT_FALSE(a->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT));
    cdb->set_iterm_global(a, 5);
    EXPECT_EQ(a->get_global(), 5);
    cdb->set_iterm_usage_as(a, DB_DATA_E);
    EXPECT_TRUE(a->is_used_as(DB_DATA_E));
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{
                                   rec("SET_CONNECTED_TO_DELAY_CHAIN", sink, "11 0 8 1"),
                                   rec("RESET_DELAY_CHAIN", sink, "11 0 8"),
                                   rec("SET_GLOBAL", sink, "11 0 5"),
                                   rec("SET_USAGE_AS", sink, "11 0 15"),
                               }));
}

TEST_F(MorvCdbInterfaceTest, NodeBitsCannotBeLoggedButChangeAnyway)
{
    EXPECT_EQ(internal_error_of([&] { cdb->set_node_bit(sink, CDB_ATOM_BIT_VIRTUAL_IO); }),
              "This function is not yet implemented and should never have to be logged");
    EXPECT_TRUE(sink->test_bit(CDB_ATOM_BIT_VIRTUAL_IO));
    EXPECT_EQ(internal_error_of([&] { cdb->clear_node_bit(sink, CDB_ATOM_BIT_VIRTUAL_IO); }),
              "This function is not yet implemented and should never have to be logged");
    EXPECT_FALSE(sink->test_bit(CDB_ATOM_BIT_VIRTUAL_IO));

    cdb->set_logging(false);
    cdb->set_node_bit(sink, CDB_ATOM_BIT_VIRTUAL_IO);
    EXPECT_TRUE(sink->test_bit(CDB_ATOM_BIT_VIRTUAL_IO));
}

// Logging switched off after construction: every edit is made, nothing logged.
TEST_F(MorvCdbInterfaceTest, WithLoggingOffNothingReachesTheLog)
{
    cdb->set_logging(false);
    EXPECT_FALSE(cdb->is_logging());
    CDB_ATOM_ITERM* a = sink->get_input_term_by_type(DB_DATA_A);
    CDB_ATOM_ITERM* c = nullptr;
    cdb->create_input_term(nullptr, c, sink, DB_DATA_C, 0);
    cdb->set_lutmask(sink, CDB_LUTMASK(6, 0x8000000000000001ull), 0);
    EXPECT_NE(sink->get_input_term_by_type(DB_DATA_F), nullptr);
    cdb->disconnect_fanin(a, CDB_NET_ITERM::CONNECT_GND);
    cdb->set_iterm_vcc(a);
    cdb->set_iterm_logical_gnd(c);
    cdb->set_iterm_properties(a, true, 3, true, true, 2, false);
    cdb->set_iterm_global(a, 1);
    cdb->set_iterm_usage_as(a, DB_DATA_D);
    cdb->reset_iterm_delay_chain(a);
    cdb->clear_node_bit(sink, 3);
    std::unique_ptr<CDB_ATOM_NODE> mac(new CDB_ATOM_MAC_MULT(CDB_FAMILY_BRK));
    cdb->set_input_port_clock(mac.get(), DB_DATA_A, 2);
    EXPECT_TRUE(log->get_all_pending_entries().empty());
    EXPECT_TRUE(a->is_vcc());
    EXPECT_TRUE(a->is_inverted());
    cdb->set_logging(true);
    EXPECT_TRUE(cdb->is_logging());
}

TEST_F(MorvCdbInterfaceTest, MacSettingsNeedADspAtomAndAreLoggedAfterwards)
{
    std::unique_ptr<CDB_ATOM_NODE> mult(new CDB_ATOM_MAC_MULT(CDB_FAMILY_BRK));
    std::unique_ptr<CDB_ATOM_NODE> out(new CDB_ATOM_MAC_OUT(CDB_FAMILY_BRK));
    cdb->set_input_port_clock(mult.get(), DB_DATA_A, 2);
    cdb->set_input_port_clear(mult.get(), DB_DATA_A, -1);
    cdb->set_input_port_clear(mult.get(), DB_DATA_B, 3);
    cdb->set_input_port_width(mult.get(), DB_DATA_B, 18);
    cdb->set_output_port_clock(out.get(), DB_DATA_OUT, 1);
    cdb->set_output_port_clear(out.get(), DB_DATA_OUT, 3);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clock(mult.get(), DB_DATA_A), 2);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clear(mult.get(), DB_DATA_A), CUT_MAC_NO_CLEAR);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clear(mult.get(), DB_DATA_B), 3);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_width(mult.get(), DB_DATA_B), 18);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clock(out.get(), DB_DATA_OUT), 1);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clear(out.get(), DB_DATA_OUT), 3);
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{
                                   rec("SET_INPUT_PORT_CLOCK", mult.get(), "11 2"),
                                   rec("SET_INPUT_PORT_CLEAR", mult.get(), "11 -1"),
                                   rec("SET_INPUT_PORT_CLEAR", mult.get(), "12 3"),
                                   rec("SET_INPUT_PORT_WIDTH", mult.get(), "12 18"),
                                   rec("SET_OUTPUT_PORT_CLOCK", out.get(), "2 1"),
                                   rec("SET_OUTPUT_PORT_CLEAR", out.get(), "2 3"),
                               }));
    // The block writers store no prior state.
    EXPECT_TRUE(log->take_prior_state_requests().empty());
    // The interface refuses before the block utility is reached: the
    // report names the component.
    auto refusal = [](auto&& edit) {
        try {
            edit();
        } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
            return e.get_module() + ": " + e.get_condition();
        }
        return std::string("<accepted>");
    };
    const std::string refused = "MORV: mac && (mac->is_mac_mult() || mac->is_mac_out())";
    for (CDB_ATOM_NODE* not_mac : {sink, static_cast<CDB_ATOM_NODE*>(nullptr)}) {
        EXPECT_EQ(refusal([&] { cdb->set_input_port_width(not_mac, DB_DATA_A, 1); }), refused);
        EXPECT_EQ(refusal([&] { cdb->set_input_port_clear(not_mac, DB_DATA_A, 1); }), refused);
        EXPECT_EQ(refusal([&] { cdb->set_input_port_clock(not_mac, DB_DATA_A, 1); }), refused);
        EXPECT_EQ(refusal([&] { cdb->set_output_port_clear(not_mac, DB_DATA_OUT, 1); }), refused);
        EXPECT_EQ(refusal([&] { cdb->set_output_port_clock(not_mac, DB_DATA_OUT, 1); }), refused);
    }
}

TEST_F(MorvCdbInterfaceTest, BoundaryPortEditsLogFirstAndClearingAnUnboundTermLogsNothing)
{
    BPM_BOUNDARY_PORT_MANAGER& manager = *bpm;
    const int port = manager.create_port("p|x");
    CDB_ATOM_OTERM* from = driver->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_OTERM* to = sink->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_ITERM* a = sink->get_input_term_by_type(DB_DATA_A);
    manager.bind_port_id(from, port);

    EXPECT_TRUE(cdb->move_boundary_port_id(&manager, from, to));
    EXPECT_EQ(manager.get_bound_port_id(from), -1);
    EXPECT_EQ(manager.get_bound_port_id(to), port);
    EXPECT_TRUE(cdb->set_boundary_port_id(&manager, a, -1));  // unbound: nothing to log
    EXPECT_TRUE(cdb->set_boundary_port_id(&manager, a, port));
    EXPECT_EQ(manager.get_assigned_port_id(a), port);
    EXPECT_TRUE(cdb->set_boundary_port_id(&manager, a, -1));
    EXPECT_EQ(manager.get_assigned_port_id(a), -1);
    // A port without a name cannot be logged: replay finds ports by name.
    EXPECT_EQ(internal_error_of([&] { cdb->set_boundary_port_id(&manager, to, 999999); }), "bp_name != \"\"");
    const std::string from_name = oterm_name(from), to_name = oterm_name(to);
    EXPECT_EQ(entries_of(log), (std::vector<std::string>{
                                   rec("MOVE_BOUNDARY_PORT_ID", driver, "\"" + from_name + "\" \"" + to_name + "\""),
                                   rec("SET_BOUNDARY_PORT_ID", sink, "11 0 \"" + manager.get_port_name(port) + "\""),
                                   rec("DISCONNECT_BOUNDARY_PORT_ID", sink, "11 0"),
                               }));
}

}  // namespace

}  // namespace morv_cdb_interface_test
