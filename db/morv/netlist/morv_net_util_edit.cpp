// The net utility's small netlist edits. Each edit is made in the one
// order the facade and the change log rely on: a disconnection or removal
// is announced, then logged, then made on the host netlist; a connection is
// logged, made, then announced.

#include <map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "hdb/hdb_instance_name.h"
#include "mem_alloc_sys.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

// ---------------------------------------------------------------- announcements

void MORV_NET_UTIL::announce_edge(CDB_ATOM_ITERM* iterm, bool disconnected)
{
    (void)disconnected;
    if (iterm != nullptr && iterm->get_my_node() != nullptr) m_api->taint(iterm->get_my_node());
}

void MORV_NET_UTIL::announce_node_modified(CDB_ATOM_NODE* node)
{
    m_api->taint(node);
}

void MORV_NET_UTIL::announce_node_added(CDB_ATOM_NODE* node, CDB_ATOM_NODE* from_node)
{
    MORV_ASSERT(node && from_node);
    if (node->get_netlist() == nullptr) m_atom_netlist->add_node(node);
    if (node->get_chip_db_entry() == nullptr) node->set_chip_db_entry(from_node->get_chip_db_entry());
    m_api->get_morv_env()->node_added(node, 0);
    m_api->taint(node);
}

int MORV_NET_UTIL::atom_partition_id(CDB_ATOM_NODE* node) const
{
    // Partitions exist only with the host's boundary-port manager.
    (void)node;
    return -1;
}

// ---------------------------------------------------------------- atoms

CDB_ATOM_NODE* MORV_NET_UTIL::create_family_atom(int kind, HDB_INSTANCE_NAME* name) const
{
    CDB_ATOM_NODE* atom = cdb_create_atom(m_api->get_base_family_code(), kind, name);
    MORV_ASSERT_TEXT(atom, "Function called for an illegal family");
    return atom;
}

CDB_ATOM_NODE* MORV_NET_UTIL::create_family_lcell_comb(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* new_name = make_unique_instance_name(node->get_instance_name(), "_NEW");
    return create_family_atom(CDB_KIND_LCELL_COMB, new_name);
}

CDB_ATOM_NODE* MORV_NET_UTIL::create_family_register(CDB_ATOM_NODE* node, HDB_INSTANCE_NAME* base_name)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* new_name =
        make_unique_instance_name(base_name != nullptr ? base_name : node->get_instance_name(), "_NEW_REG");
    MORV_ASSERT(new_name);
    return create_family_atom(CDB_KIND_REGISTER, new_name);
}

// ---------------------------------------------------------------- terms

CDB_ATOM_OTERM* MORV_NET_UTIL::create_oterm(HDB_INSTANCE_NAME* base_name, CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* new_name =
        make_unique_instance_name(base_name != nullptr ? base_name : node->get_instance_name(), "_OTERM");
    MORV_ASSERT(new_name);
    return node->add_output_term(port_type, new_name, 0);
}

CDB_ATOM_OTERM* MORV_NET_UTIL::create_oterm(CDB_ATOM_NODE* model_node, CDB_ATOM_NODE* node, int port_type, int index)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* base = model_node != nullptr ? model_node->get_instance_name() : nullptr;
    HDB_INSTANCE_NAME* new_name =
        make_unique_instance_name(base != nullptr ? base : node->get_instance_name(), "_OTERM");
    MORV_ASSERT(new_name);
    return node->add_output_term(port_type, new_name, index);
}

CDB_ATOM_OTERM* MORV_NET_UTIL::create_oterm(CDB_ATOM_NODE* model_node, CDB_ATOM_NODE* node, int port_type,
                                            HDB_INSTANCE_NAME* base_name)
{
    if (base_name != nullptr) return create_oterm(base_name, node, port_type);
    return create_oterm(model_node, node, port_type, 0);
}

CDB_ATOM_ITERM* MORV_NET_UTIL::create_iterm(CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT(node);
    CDB_ATOM_ITERM* iterm = nullptr;
    node->create_input_term(nullptr, iterm, node, port_type);
    MORV_ASSERT(iterm);
    node->set_input_term_by_type(iterm, port_type, 0);
    if (!iterm->is_used_as(port_type)) iterm->set_usage_as(port_type);
    iterm->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, false);
    return iterm;
}

void MORV_NET_UTIL::delete_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    announce_edge(iterm, true);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    clear_boundary_port_id(iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (node == nullptr || iterm->get_usage_count() == 0) return;
    remove_input_term(node, iterm, iterm->get_any_usage_as());
    delete iterm;
}

void MORV_NET_UTIL::save_iterm_properties(CDB_ATOM_ITERM* iterm, MORV_ITERM_PROPERTIES* out_record) const
{
    MORV_ASSERT(iterm);
    MORV_ASSERT(out_record);
    MORV_ASSERT(iterm->get_my_node());
    out_record->inverted = iterm->is_inverted();
    out_record->global_setting = iterm->get_global();
    out_record->connected_to_delay_chain = iterm->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT);
    out_record->delay_chain_index = iterm->get_delay_chain_index(DB_DELAY_CHAIN_INPUT);
    out_record->use_delay_chain = iterm->use_delay_chain(DB_DELAY_CHAIN_INPUT);
    out_record->user_delay_chain = iterm->has_user_delay_chain(DB_DELAY_CHAIN_INPUT);
    out_record->boundary_port_id = boundary_port_id(iterm);
}

void MORV_NET_UTIL::restore_iterm_properties(const MORV_ITERM_PROPERTIES& record, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    MORV_ASSERT(iterm->get_my_node());
    iterm->set_invert(record.inverted);
    iterm->set_global(record.global_setting);
    iterm->reset_delay_chain(DB_DELAY_CHAIN_INPUT);
    iterm->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, record.connected_to_delay_chain);
    if (record.delay_chain_index >= 0) iterm->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, record.delay_chain_index);
    iterm->set_user_delay_chain(DB_DELAY_CHAIN_INPUT, record.user_delay_chain);
    set_boundary_port_id(iterm, record.boundary_port_id);
}

void MORV_NET_UTIL::reset_iterm_properties(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    if (iterm->is_inverted()) iterm->clear_invert();
    iterm->reset_delay_chain(DB_DELAY_CHAIN_INPUT);
    iterm->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, false);
    if (iterm->get_global() != 0) iterm->set_global(0);
}

void MORV_NET_UTIL::disconnect_iterm(CDB_ATOM_ITERM* iterm, int connect_state)
{
    MORV_ASSERT(iterm);
    announce_edge(iterm, true);
    iterm->disconnect_from_source(connect_state);
}

void MORV_NET_UTIL::insert_fanout(CDB_ATOM_OTERM* oterm, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(oterm && iterm);
    oterm->insert_fanout(iterm);
    announce_edge(iterm, false);
}

void MORV_NET_UTIL::remove_input_term(CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT(node);
    announce_edge(node->get_input_term_by_type(port_type), false);
    node->replace_input_term_by_type(nullptr, port_type);
}

void MORV_NET_UTIL::remove_input_term(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    MORV_ASSERT(node);
    if (iterm == nullptr || node->get_input_term_by_type(port_type) == iterm) {
        remove_input_term(node, port_type);
        return;
    }
    // A term that sits in an unordered slot of another index.
    MORV_ASSERT(iterm->get_my_node() == node);
    announce_edge(iterm, false);
    node->remove_input_term(iterm);
}

void MORV_NET_UTIL::adopt_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm)
{
    MORV_ASSERT(new_oterm && old_oterm);
    for (auto it = old_oterm->begin_iterm_fanout(); it != old_oterm->end_iterm_fanout(); ++it)
        announce_edge(*it, false);
    new_oterm->adopt_fanouts(old_oterm);
}

void MORV_NET_UTIL::remove_register_control_inputs(CDB_ATOM_NODE* lcell_atom)
{
    MORV_ASSERT(lcell_atom != NULL);
    std::vector<CDB_ATOM_ITERM*> connected;
    for (auto it = lcell_atom->begin_iterm(); it != lcell_atom->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        MORV_ASSERT(iterm);
        bool control = false;
        for (int port : {DB_ASYNCH_LOAD, DB_CLEAR, DB_CLOCK, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD})
            control = control || iterm->is_used_as(port);
        if (!control) continue;
        clear_boundary_port_id(iterm);
        if (iterm->is_connected()) connected.push_back(iterm);
    }
    for (CDB_ATOM_ITERM* iterm : connected) {
        announce_edge(iterm, true);
        lcell_atom->replace_input_term_by_type(nullptr, iterm->get_any_usage_as());
        delete iterm;
    }
}

// ---------------------------------------------------------------- LUT input removal

void MORV_NET_UTIL::print_removed_input(int input, CDB_ATOM_NODE* node)
{
    MORV_DEBUG_STREAM::print(100, "Removing unused lut input %d of node %u", input, node->get_id());
}

void MORV_NET_UTIL::remove_and_delete_lut_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    set_boundary_port_id(iterm, -1);
    remove_input_term(node, port_type);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    delete iterm;
}

void MORV_NET_UTIL::disconnect_lut_input(CDB_ATOM_ITERM* iterm)
{
    announce_edge(iterm, true);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    if (iterm->is_inverted()) iterm->clear_invert();
}

void MORV_NET_UTIL::clear_data_c_usage(CDB_ATOM_ITERM* iterm)
{
    iterm->clear_usage_as(DB_DATA_C);
}

bool MORV_NET_UTIL::is_latch_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm)
{
    const CDB_ATOM_LATCH_INFO* latch_info = cut_get_atom_latch_info(node);
    if (latch_info == nullptr) return false;
    const int usage = iterm->get_any_usage_as();
    return usage == latch_info->data_port || usage == latch_info->data_port_2;
}

int MORV_NET_UTIL::remove_unused_arithmetic_inputs(CDB_ATOM_NODE* node, const CDB_LUTMASK& carry_mask,
                                                   const CDB_LUTMASK& comb_mask)
{
    int count = 0;
    for (int input = 0; input < 2; ++input) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + input);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (!carry_mask.is_independent_of(input) || !comb_mask.is_independent_of(input)) continue;
        print_removed_input(input, node);
        remove_and_delete_lut_input(node, iterm, DB_DATA_A + input);
        ++count;
    }
    if (!node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB)) return count;
    CDB_ATOM_ITERM* data_c = node->get_input_term_by_type(DB_DATA_C);
    if (data_c == nullptr || !data_c->is_connected() || !comb_mask.is_independent_of(2)) return count;
    print_removed_input(2, node);
    ++count;
    if (data_c->is_used_as(DB_SYNCH_DATA) || data_c->is_used_as(DB_ASYNCH_DATA)) clear_data_c_usage(data_c);
    else remove_and_delete_lut_input(node, data_c, DB_DATA_C);
    return count;
}

int MORV_NET_UTIL::remove_unused_normal_inputs(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask)
{
    int count = 0;
    for (int input = 0; input < 4; ++input) {
        const int port = DB_DATA_A + input;
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected() || !mask.is_independent_of(input)) continue;
        print_removed_input(input, node);
        ++count;
        if (port == DB_DATA_C && (iterm->is_used_as(DB_SYNCH_DATA) || iterm->is_used_as(DB_ASYNCH_DATA)))
            clear_data_c_usage(iterm);
        else remove_and_delete_lut_input(node, iterm, port);
    }
    return count;
}

// ---------------------------------------------------------------- constant drivers

bool MORV_NET_UTIL::is_driven_by_constant(CDB_ATOM_ITERM* iterm, bool vcc, bool check_virtual_io) const
{
    if (iterm == nullptr) return false;
    if (vcc ? iterm->is_vcc() : iterm->is_gnd()) return true;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return false;
    CDB_ATOM_NODE* source_node = source->get_my_node();
    if (source_node == nullptr || !is_lcell(source_node) || !source->is_used_as(DB_COMB_OUT)) return false;
    const uint64_t mask = oterm_mask(source);
    if (vcc) return mask == 0xFFFF;
    if (mask != 0) return false;
    // A cell standing in for an I/O pin is not a constant, whatever its mask.
    return !check_virtual_io || !source_node->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO) ||
           !source_node->test_bit(CDB_ATOM_BIT_VIRTUAL_IO);
}

// ---------------------------------------------------------------- boundary ports

void MORV_NET_UTIL::set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id)
{
    // Bindings exist only with the host's boundary-port manager, which this
    // compile has none of: there is nothing to set or clear.
    (void)iterm;
    (void)port_id;
}

void MORV_NET_UTIL::clear_boundary_port_id(CDB_ATOM_ITERM* iterm)
{
    set_boundary_port_id(iterm, -1);
}

// ---------------------------------------------------------------- equivalent outputs

void MORV_NET_UTIL::find_equivalent_oterms(MORV_OTERM_SET_SET* out_groups) const
{
    MORV_ASSERT(out_groups);
    std::vector<CDB_ATOM_OTERM*> candidates;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        MORV_ASSERT(node);
        if (!is_lcell(node) || has_bound_input(node)) continue;
        CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
        if (is_lut(node) && combout != nullptr && get_lutmask(node) != 0 && !is_oterm_dont_touch(combout))
            candidates.push_back(combout);
        CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        if (is_register_present(node) && regout != nullptr && !is_oterm_dont_touch(regout))
            candidates.push_back(regout);
    }
    group_by_canonical_form(candidates, out_groups);
}

void MORV_NET_UTIL::group_by_canonical_form(const std::vector<CDB_ATOM_OTERM*>& candidates,
                                            MORV_OTERM_SET_SET* out_groups) const
{
    std::map<MORV_CANONICAL_NODE_INFO*, MORV_OTERM_SET, DETERMINISTIC_LESS<MORV_CANONICAL_NODE_INFO*>> groups;
    std::vector<MORV_CANONICAL_NODE_INFO*> forms;
    for (CDB_ATOM_OTERM* oterm : candidates) {
        MORV_CANONICAL_NODE_INFO* form = create_canonical_node_info(oterm);
        if (form == nullptr) {
            MORV_DEBUG_STREAM::print(1, "WARNING: canonical node forms are not built yet; no equivalent outputs found");
            break;
        }
        forms.push_back(form);
        groups[form].insert(oterm);
    }
    for (const auto& group : groups) out_groups->insert(group.second);
    for (MORV_CANONICAL_NODE_INFO* form : forms) MORV_DELETE(form);
}

bool MORV_NET_UTIL::has_bound_input(CDB_ATOM_NODE* node) const
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if (boundary_port_id(*it) != -1) return true;
    return false;
}

bool MORV_NET_UTIL::is_oterm_dont_touch(CDB_ATOM_OTERM* oterm) const
{
    // The host's don't-touch assignment of the atom decides until the
    // facade's per-operation query takes over.
    return oterm->get_my_node()->get_assignments().dont_touch;
}
