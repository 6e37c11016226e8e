#include "morv/netlist/morv_cdb_interface.h"

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_assert.h"
#include "morv/log/morv_log.h"

namespace {

// The only delay chain the interface reads or writes.
constexpr int DELAY_CHAIN = DB_DELAY_CHAIN_INPUT;

// Combinational cells of the 6-input families: BRK, RZK and KESTLIN,
// OBRAN, MRL.
bool has_adder_lutmask(int atom_type)
{
    return atom_type == CDB_ATOM_BRK_LCELL_COMB_ENUM || atom_type == CDB_ATOM_RZK_LCELL_COMB_ENUM ||
           atom_type == CDB_ATOM_OBRAN_LCELL_COMB_ENUM || atom_type == CDB_ATOM_MORLIN_LCELL_COMB_ENUM;
}

template <typename ATOM>
ATOM* new_atom(HDB_INSTANCE_NAME* name)
{
    // The stand-in's atoms are set up with their fixed input slots when made.
    ATOM* atom = new ATOM();
    atom->set_instance_name(name);
    return atom;
}

template <typename ATOM>
ATOM* new_register(HDB_INSTANCE_NAME* name)
{
    ATOM* atom = new_atom<ATOM>(name);
    atom->set_mode(DEV_PHYS_IMPL_REGISTER_MODE);
    return atom;
}

template <typename ATOM>
ATOM* new_four_input_comb(HDB_INSTANCE_NAME* name)
{
    ATOM* atom = new_atom<ATOM>(name);
    atom->set_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    return atom;
}

// Global types are 5-bit fields: only the low bits of an argument count.
int global_bits(int global_type)
{
    return global_type & 0x1f;
}

void require_mac(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(mac && (mac->is_mac_mult() || mac->is_mac_out()),
                     "mac && (mac->is_mac_mult() || mac->is_mac_out())");
}

}  // namespace

// ------------------------------------------------------------------ factories

CDB_ATOM_UVO_LCELL* MORV_CDB_INTERFACE::create_lcell_uvo(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    CDB_ATOM_UVO_LCELL* cell = new_four_input_comb<CDB_ATOM_UVO_LCELL>(name);
    cell->clear_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
    cell->clear_bit(CDB_ATOM_BIT_QFBK_MODE);
    return cell;
}

CDB_ATOM_BRK_LCELL_COMB* MORV_CDB_INTERFACE::create_lcell_comb_brk(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_BRK_LCELL_COMB>(name);
}

CDB_ATOM_BRK_LCELL_FF* MORV_CDB_INTERFACE::create_lcell_ff_brk(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_BRK_LCELL_FF>(name);
}

CDB_ATOM_SORVEXII_LCELL_COMB* MORV_CDB_INTERFACE::create_lcell_comb_sorvexii(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_four_input_comb<CDB_ATOM_SORVEXII_LCELL_COMB>(name);
}

CDB_ATOM_SORVEXII_LCELL_FF* MORV_CDB_INTERFACE::create_lcell_ff_sorvexii(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_SORVEXII_LCELL_FF>(name);
}

CDB_ATOM_MORLIN_LCELL_COMB* MORV_CDB_INTERFACE::create_lcell_comb_mrl(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_MORLIN_LCELL_COMB>(name);
}

CDB_ATOM_MORLIN_LCELL_HSADDER* MORV_CDB_INTERFACE::create_lcell_hsadder_mrl(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_MORLIN_LCELL_HSADDER>(name);
}

CDB_ATOM_MORLIN_LCELL_FF* MORV_CDB_INTERFACE::create_lcell_ff_mrl(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_MORLIN_LCELL_FF>(name);
}

CDB_ATOM_OBRAN_LCELL_COMB* MORV_CDB_INTERFACE::create_lcell_comb_obran(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_OBRAN_LCELL_COMB>(name);
}

CDB_ATOM_OBRAN_FF* MORV_CDB_INTERFACE::create_ff_obran(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_register<CDB_ATOM_OBRAN_FF>(name);
}

CDB_ATOM_RZK_LCELL_COMB* MORV_CDB_INTERFACE::create_lcell_comb_rzk(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_atom<CDB_ATOM_RZK_LCELL_COMB>(name);
}

CDB_ATOM_RZK_FF* MORV_CDB_INTERFACE::create_ff_rzk(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_register<CDB_ATOM_RZK_FF>(name);
}

CDB_ATOM_KESTLIN_FF* MORV_CDB_INTERFACE::create_ff_kestlin(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_register<CDB_ATOM_KESTLIN_FF>(name);
}

CDB_ATOM_ZEPLA_LCELL_COMB* MORV_CDB_INTERFACE::create_lcell_comb_zepla(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_four_input_comb<CDB_ATOM_ZEPLA_LCELL_COMB>(name);
}

CDB_ATOM_ZEPLA_FF* MORV_CDB_INTERFACE::create_ff_zepla(MEM_SEGMENT*, HDB_INSTANCE_NAME* name)
{
    return new_register<CDB_ATOM_ZEPLA_FF>(name);
}

// ------------------------------------------------------------------ queries

uint64_t MORV_CDB_INTERFACE::get_adder_lutmask(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    MORV_ASSERT_TEXT(has_adder_lutmask(node->get_atom_type()), "Function called for an illegal family");
    return node->get_adder_lutmask(true);
}

bool MORV_CDB_INTERFACE::is_ram_mode(CDB_ATOM_NODE* node, int ram_flag, int port)
{
    auto* ram = node && node->get_atom_type() == CDB_ATOM_UVO_EC_ENUM ? dynamic_cast<CDB_ATOM_UVO_EC*>(node) : nullptr;
    MORV_ASSERT_TEXT(
        ram, "Either the node passed in is not a ram, or this function is not implemented for the given family");
    return ram->ram_mode_is(ram_flag, port);
}

// ------------------------------------------------------------------ terms

void MORV_CDB_INTERFACE::insert_input_term(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* new_iterm, int port_type,
                                           int unordered_index)
{
    MORV_ASSERT(node && new_iterm);
    MORV_ASSERT(node->implements(port_type));
    MORV_ASSERT(new_iterm->is_used_as(port_type));
    const int ordered = node->get_ordered_input_count();
    const int slot = node->get_input_port_number(port_type);
    if (slot < ordered) {
        MORV_ASSERT(unordered_index == 0);
        // A netlist may hold another port's term in this slot: that term
        // stays, and the new one goes where loose terms go.
        CDB_ATOM_ITERM* held = node->get_input_term(slot);
        if (held == nullptr || held == new_iterm || held->is_used_as(port_type)) {
            node->set_input_term(slot, new_iterm);
            return;
        }
    }
    new_iterm->set_port_index(unordered_index);
    for (int free_slot = ordered; free_slot < node->get_input_count(); ++free_slot) {
        if (node->get_input_term(free_slot) == nullptr) {
            node->set_input_term(free_slot, new_iterm);
            return;
        }
    }
    node->insert_unordered_fanin_term(new_iterm);
}

CDB_ATOM_ITERM* MORV_CDB_INTERFACE::create_input_term(MEM_SEGMENT* segment, CDB_ATOM_ITERM*& out_iterm,
                                                      CDB_ATOM_NODE* node, int port_type, int unordered_index)
{
    MORV_ASSERT(node);
    store_prior_state(node);
    node->create_input_term(segment, out_iterm, node, port_type);
    insert_input_term(node, out_iterm, port_type, unordered_index);
    out_iterm->set_usage_as(port_type);
    out_iterm->set_connected_to_delay_chain(DELAY_CHAIN, false);
    if (logging) m_fsyn_log->log_create_iterm(node, port_type, unordered_index);
    return out_iterm;
}

CDB_ATOM_OTERM* MORV_CDB_INTERFACE::create_oterm(MEM_SEGMENT* segment, CDB_ATOM_OTERM*& out_oterm, CDB_ATOM_NODE* node,
                                                 int port_type, HDB_INSTANCE_NAME* name)
{
    MORV_ASSERT(node);
    store_prior_state(node);
    node->create_output_term(segment, out_oterm, node, port_type);
    node->set_output_term_by_type(out_oterm, port_type, 0);
    out_oterm->set_instance_name(name);
    if (logging) m_fsyn_log->log_create_oterm(node, port_type, name);
    return out_oterm;
}

// ------------------------------------------------------------------ connections

void MORV_CDB_INTERFACE::disconnect_fanin(CDB_ATOM_ITERM* iterm, int state)
{
    MORV_ASSERT(iterm);
    if (logging && (iterm->is_connected() || state != CDB_NET_ITERM::UNCONNECTED)) m_fsyn_log->log_disconnection(iterm);
    if (state == CDB_NET_ITERM::CONNECT_GND || state == CDB_NET_ITERM::CONNECT_VCC)
        log_constant(iterm, state == CDB_NET_ITERM::CONNECT_GND);
    iterm->disconnect_from_source(state);
}

void MORV_CDB_INTERFACE::insert_fanin(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(iterm && oterm);
    if (logging) m_fsyn_log->log_connection(oterm, iterm);
    iterm->insert_fanin(oterm);
}

// The log stores a node's state when it records the node's first change;
// an edit made before it is recorded stores the state with the edit in it.
void MORV_CDB_INTERFACE::store_prior_state(CDB_ATOM_NODE* node)
{
    if (logging) m_fsyn_log->store_node_info_before_change(node);
}

void MORV_CDB_INTERFACE::store_prior_state(CDB_ATOM_ITERM* iterm)
{
    store_prior_state(iterm->get_my_node());
}

void MORV_CDB_INTERFACE::log_constant(CDB_ATOM_ITERM* iterm, bool gnd)
{
    if (!logging) return;
    if (gnd) m_fsyn_log->log_connect_to_gnd(iterm);
    else m_fsyn_log->log_connect_to_vcc(iterm);
}

void MORV_CDB_INTERFACE::relog_constant(CDB_ATOM_ITERM* iterm, bool gnd)
{
    m_fsyn_log->log_disconnection(iterm);
    log_constant(iterm, gnd);
}

// A tie stores the node's prior state before anything about it changes:
// that is the form a replay starts from.
void MORV_CDB_INTERFACE::set_iterm_gnd(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    store_prior_state(iterm);
    if (iterm->is_connected()) {
        if (logging) m_fsyn_log->log_disconnection(iterm);
        iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    }
    iterm->set_gnd();
    log_constant(iterm, true);
}

void MORV_CDB_INTERFACE::set_iterm_vcc(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    store_prior_state(iterm);
    if (iterm->is_connected()) {
        if (logging) m_fsyn_log->log_disconnection(iterm);
        iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    }
    iterm->set_vcc();
    log_constant(iterm, false);
}

// The log keeps physical constants: what a logical constant is depends on
// the port's polarity.
void MORV_CDB_INTERFACE::set_iterm_logical_vcc(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm && iterm->get_my_node());
    store_prior_state(iterm);
    // The term's old source or tie goes first, as with every reconnection.
    if (logging && iterm->is_connected()) m_fsyn_log->log_disconnection(iterm);
    iterm->set_logical_vcc();
    const bool high = iterm->get_my_node()->is_active_high(iterm->get_any_usage_as());
    log_constant(iterm, !high);
}

void MORV_CDB_INTERFACE::set_iterm_logical_gnd(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm && iterm->get_my_node());
    store_prior_state(iterm);
    // The term's old source or tie goes first, as with every reconnection.
    if (logging && iterm->is_connected()) m_fsyn_log->log_disconnection(iterm);
    iterm->set_logical_gnd();
    const bool high = iterm->get_my_node()->is_active_high(iterm->get_any_usage_as());
    log_constant(iterm, high);
}

// ------------------------------------------------------------------ LUT masks

void MORV_CDB_INTERFACE::set_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask, int flag)
{
    MORV_ASSERT(node);
    store_prior_state(node);
    const bool had_f = logging && node->get_input_term_by_type(DB_DATA_F) != nullptr;
    node->set_lutmask(lutmask, flag);
    if (!logging) return;
    if (!had_f && node->get_input_term_by_type(DB_DATA_F) != nullptr) m_fsyn_log->log_create_iterm(node, DB_DATA_F, 0);
    m_fsyn_log->log_set_lutmask(node, lutmask, flag);
}

void MORV_CDB_INTERFACE::set_sum_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask, int flag)
{
    MORV_ASSERT(node);
    store_prior_state(node);
    const bool had_f = logging && node->get_input_term_by_type(DB_DATA_F) != nullptr;
    node->set_sum_lutmask(lutmask, flag);
    if (!logging) return;
    if (!had_f && node->get_input_term_by_type(DB_DATA_F) != nullptr) m_fsyn_log->log_create_iterm(node, DB_DATA_F, 0);
    m_fsyn_log->log_set_sum_lutmask(node, lutmask, flag);
}

void MORV_CDB_INTERFACE::set_carry_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask, int flag)
{
    MORV_ASSERT(node);
    store_prior_state(node);
    node->set_carry_lutmask(lutmask, flag);
    if (logging) m_fsyn_log->log_set_lutmask_via_node(node, lutmask, flag);
}

// ------------------------------------------------------------------ term properties

void MORV_CDB_INTERFACE::set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type,
                                              bool connected_to_delay_chain, bool use_delay_chain,
                                              int delay_chain_index, bool user_delay_chain)
{
    MORV_ASSERT(iterm);
    const bool unchanged = iterm->is_inverted() == invert &&
                           global_bits(iterm->get_global()) == global_bits(global_type) &&
                           iterm->is_connected_to_delay_chain(DELAY_CHAIN) == connected_to_delay_chain &&
                           iterm->use_delay_chain(DELAY_CHAIN) == use_delay_chain &&
                           (!use_delay_chain || iterm->get_delay_chain_index(DELAY_CHAIN) == delay_chain_index) &&
                           iterm->has_user_delay_chain(DELAY_CHAIN) == user_delay_chain;
    if (unchanged) return;
    if (logging)
        m_fsyn_log->log_set_iterm_properties(iterm, invert, global_type, DELAY_CHAIN, connected_to_delay_chain,
                                             use_delay_chain, delay_chain_index, user_delay_chain);
    // An inverted constant reads as the other constant: the logged tie
    // changes, which is a disconnection and a connection like any other.
    if (invert) {
        if (logging && iterm->is_vcc()) relog_constant(iterm, true);
        iterm->set_invert();
    } else {
        if (logging && iterm->is_gnd()) relog_constant(iterm, false);
        iterm->clear_invert();
    }
    iterm->set_global(global_bits(global_type));
    iterm->reset_delay_chain(DELAY_CHAIN);
    iterm->set_connected_to_delay_chain(DELAY_CHAIN, connected_to_delay_chain);
    if (use_delay_chain) iterm->set_delay_chain_index(DELAY_CHAIN, delay_chain_index);
    iterm->set_user_delay_chain(DELAY_CHAIN, user_delay_chain);
}

void MORV_CDB_INTERFACE::set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type, int delay_chain,
                                              bool connected_to_delay_chain, bool use_delay_chain,
                                              int delay_chain_index, bool user_delay_chain)
{
    MORV_ASSERT(delay_chain == DELAY_CHAIN);
    set_iterm_properties(iterm, invert, global_type, connected_to_delay_chain, use_delay_chain, delay_chain_index,
                         user_delay_chain);
}

void MORV_CDB_INTERFACE::set_iterm_connected_to_delay_chain(CDB_ATOM_ITERM* iterm, bool connected)
{
    MORV_ASSERT(iterm);
    if (logging) m_fsyn_log->log_set_connected_to_delay_chain(iterm, DELAY_CHAIN, connected);
    iterm->set_connected_to_delay_chain(DELAY_CHAIN, connected);
}

void MORV_CDB_INTERFACE::set_iterm_global(CDB_ATOM_ITERM* iterm, int global_type)
{
    MORV_ASSERT(iterm);
    if (global_bits(iterm->get_global()) == global_bits(global_type)) return;
    if (logging) m_fsyn_log->log_set_global(iterm, global_type);
    iterm->set_global(global_bits(global_type));
}

void MORV_CDB_INTERFACE::set_iterm_usage_as(CDB_ATOM_ITERM* iterm, int port_type)
{
    MORV_ASSERT(iterm);
    store_prior_state(iterm);
    iterm->set_usage_as(port_type);
    if (logging) m_fsyn_log->log_set_usage_as(iterm, port_type);
}

void MORV_CDB_INTERFACE::reset_iterm_delay_chain(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    if (logging) m_fsyn_log->log_reset_delay_chain(iterm, DELAY_CHAIN);
    iterm->reset_delay_chain(DELAY_CHAIN);
}

void MORV_CDB_INTERFACE::set_node_bit(CDB_ATOM_NODE* node, int bit)
{
    MORV_ASSERT(node);
    node->set_bit(bit);
    MORV_ASSERT_TEXT(!logging, "This function is not yet implemented and should never have to be logged");
}

void MORV_CDB_INTERFACE::clear_node_bit(CDB_ATOM_NODE* node, int bit)
{
    MORV_ASSERT(node);
    node->clear_bit(bit);
    MORV_ASSERT_TEXT(!logging, "This function is not yet implemented and should never have to be logged");
}

// ------------------------------------------------------------------ DSP ports

void MORV_CDB_INTERFACE::set_input_port_width(CDB_ATOM_NODE* mac, int port_type, int value)
{
    require_mac(mac);
    CUT_MAC_UTIL::set_input_port_width(mac, port_type, value);
    if (logging) m_fsyn_log->log_set_input_port_width(mac, port_type, value);
}

void MORV_CDB_INTERFACE::set_input_port_clear(CDB_ATOM_NODE* mac, int port_type, int value)
{
    require_mac(mac);
    CUT_MAC_UTIL::set_input_port_clear(mac, port_type, value);
    if (logging) m_fsyn_log->log_set_input_port_clear(mac, port_type, value);
}

void MORV_CDB_INTERFACE::set_input_port_clock(CDB_ATOM_NODE* mac, int port_type, int value)
{
    require_mac(mac);
    CUT_MAC_UTIL::set_input_port_clock(mac, port_type, value);
    if (logging) m_fsyn_log->log_set_input_port_clock(mac, port_type, value);
}

void MORV_CDB_INTERFACE::set_output_port_clear(CDB_ATOM_NODE* mac, int port_type, int value)
{
    require_mac(mac);
    CUT_MAC_UTIL::set_output_port_clear(mac, port_type, value);
    if (logging) m_fsyn_log->log_set_output_port_clear(mac, port_type, value);
}

void MORV_CDB_INTERFACE::set_output_port_clock(CDB_ATOM_NODE* mac, int port_type, int value)
{
    require_mac(mac);
    CUT_MAC_UTIL::set_output_port_clock(mac, port_type, value);
    if (logging) m_fsyn_log->log_set_output_port_clock(mac, port_type, value);
}

// ------------------------------------------------------------------ boundary ports

bool MORV_CDB_INTERFACE::move_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, CDB_ATOM_OTERM* from,
                                               CDB_ATOM_OTERM* to)
{
    MORV_ASSERT(manager && from && to);
    if (logging) m_fsyn_log->log_move_boundary_port_id(from, to);
    const int port_id = manager->get_bound_port_id(from);
    manager->bind_port_id(from, BPM_BOUNDARY_PORT_MANAGER::NO_PORT);
    return manager->bind_port_id(to, port_id);
}

template <typename TERM>
bool MORV_CDB_INTERFACE::assign_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, TERM* term, int port_id)
{
    MORV_ASSERT(manager && term);
    if (logging) {
        if (port_id != BPM_BOUNDARY_PORT_MANAGER::NO_PORT) m_fsyn_log->log_set_boundary_port_id(term, port_id);
        else if (manager->get_assigned_port_id(term) != BPM_BOUNDARY_PORT_MANAGER::NO_PORT)
            m_fsyn_log->log_disconnect_boundary_port_id(term);
    }
    return manager->assign_port_id(term, port_id);
}

bool MORV_CDB_INTERFACE::set_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, CDB_ATOM_OTERM* oterm, int port_id)
{
    return assign_boundary_port_id(manager, oterm, port_id);
}

bool MORV_CDB_INTERFACE::set_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, CDB_ATOM_ITERM* iterm, int port_id)
{
    return assign_boundary_port_id(manager, iterm, port_id);
}
