// The net utility's small netlist edits. Each edit is made in the one
// order the facade and the change log rely on: a disconnection or removal
// is announced, then logged, then made on the host netlist; a connection is
// logged, made, then announced. Connections, term creation and term
// properties go through the atom-editing interface, which logs them.

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "mem_alloc_sys.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

// ---------------------------------------------------------------- announcements and the log

void MORV_NET_UTIL::announce_edge(CDB_ATOM_ITERM* iterm, bool disconnected)
{
    if (iterm != nullptr && iterm->get_my_node() != nullptr) m_api->modify_edge(iterm, disconnected);
}

void MORV_NET_UTIL::announce_node_modified(CDB_ATOM_NODE* node)
{
    m_api->modify_node(node);
}

void MORV_NET_UTIL::announce_node_added(CDB_ATOM_NODE* node, CDB_ATOM_NODE* from_node)
{
    MORV_ASSERT(node && from_node);
    m_api->node_added(node, from_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, nullptr);
}

MORV_LOG* MORV_NET_UTIL::change_log() const
{
    return m_cdb_interface->is_logging() ? m_cdb_interface->get_fsyn_log() : nullptr;
}

int MORV_NET_UTIL::atom_partition_id(CDB_ATOM_NODE* node) const
{
    return m_api->get_atom_partition_id(node);
}

// ---------------------------------------------------------------- atoms

HDB_INSTANCE_NAME* MORV_NET_UTIL::new_lcell_comb_name(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return make_unique_instance_name(node->get_instance_name(), "_NEW");
}

HDB_INSTANCE_NAME* MORV_NET_UTIL::new_register_name(CDB_ATOM_NODE* node, HDB_INSTANCE_NAME* base_name) const
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* new_name =
        make_unique_instance_name(base_name != nullptr ? base_name : node->get_instance_name(), "_NEW_REG");
    MORV_ASSERT(new_name);
    return new_name;
}

// ---------------------------------------------------------------- terms

CDB_ATOM_OTERM* MORV_NET_UTIL::create_named_oterm(HDB_INSTANCE_NAME* base_name, CDB_ATOM_NODE* node, int port_type,
                                                  int index)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* new_name =
        make_unique_instance_name(base_name != nullptr ? base_name : node->get_instance_name(), "_OTERM");
    MORV_ASSERT(new_name);
    CDB_ATOM_OTERM* oterm = nullptr;
    m_cdb_interface->create_oterm(nullptr, oterm, node, port_type, new_name);
    if (index != 0) node->set_output_term_by_type(oterm, port_type, index);
    return oterm;
}

CDB_ATOM_OTERM* MORV_NET_UTIL::create_oterm(HDB_INSTANCE_NAME* base_name, CDB_ATOM_NODE* node, int port_type)
{
    return create_named_oterm(base_name, node, port_type, 0);
}

CDB_ATOM_OTERM* MORV_NET_UTIL::create_oterm(CDB_ATOM_NODE* model_node, CDB_ATOM_NODE* node, int port_type, int index)
{
    return create_named_oterm(model_node != nullptr ? model_node->get_instance_name() : nullptr, node, port_type,
                              index);
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
    m_cdb_interface->create_input_term(nullptr, iterm, node, port_type, 0);
    MORV_ASSERT(iterm);
    return iterm;
}

void MORV_NET_UTIL::delete_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
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
    m_cdb_interface->set_iterm_properties(iterm, record.inverted, record.global_setting, DB_DELAY_CHAIN_INPUT,
                                          record.connected_to_delay_chain, record.use_delay_chain,
                                          record.delay_chain_index, record.user_delay_chain);
    set_boundary_port_id(iterm, record.boundary_port_id);
}

void MORV_NET_UTIL::reset_iterm_properties(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    clear_invert(iterm);
    m_cdb_interface->reset_iterm_delay_chain(iterm);
    m_cdb_interface->set_iterm_connected_to_delay_chain(iterm, false);
    m_cdb_interface->set_iterm_global(iterm, 0);
}

void MORV_NET_UTIL::clear_invert(CDB_ATOM_ITERM* iterm)
{
    if (!iterm->is_inverted()) return;
    if (MORV_LOG* log = change_log()) log->log_clear_invert(iterm);
    iterm->clear_invert();
}

void MORV_NET_UTIL::disconnect_iterm(CDB_ATOM_ITERM* iterm, int connect_state)
{
    MORV_ASSERT(iterm);
    announce_edge(iterm, true);
    m_cdb_interface->disconnect_fanin(iterm, connect_state);
}

void MORV_NET_UTIL::insert_fanout(CDB_ATOM_OTERM* oterm, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(oterm && iterm);
    m_cdb_interface->insert_fanin(iterm, oterm);
    announce_edge(iterm, false);
}

void MORV_NET_UTIL::take_input_term_off(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    if (MORV_LOG* log = change_log()) log->log_replace_input_term_by_type(node, nullptr, port_type);
    // A term of an unordered port may sit at another index than 0.
    if (iterm == nullptr || node->get_input_term_by_type(port_type) == iterm)
        node->replace_input_term_by_type(nullptr, port_type);
    else node->remove_input_term(iterm);
}

void MORV_NET_UTIL::remove_input_term(CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT(node);
    remove_input_term(node, node->get_input_term_by_type(port_type), port_type);
}

void MORV_NET_UTIL::remove_input_term(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    MORV_ASSERT(node);
    if (iterm == nullptr) iterm = node->get_input_term_by_type(port_type);
    MORV_ASSERT(iterm == nullptr || iterm->get_my_node() == node);
    announce_edge(iterm, false);
    take_input_term_off(node, iterm, port_type);
}

void MORV_NET_UTIL::adopt_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm)
{
    MORV_ASSERT(new_oterm && old_oterm);
    for (auto it = old_oterm->begin_iterm_fanout(); it != old_oterm->end_iterm_fanout(); ++it)
        announce_edge(*it, false);
    if (MORV_LOG* log = change_log()) log->log_adopt_fanouts(new_oterm, old_oterm);
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
        take_input_term_off(lcell_atom, iterm, iterm->get_any_usage_as());
        delete iterm;
    }
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
    if (oterm_mask(source) != (vcc ? 0xFFFFu : 0u)) return false;
    // A cell standing in for an I/O pin is not a constant, whatever its mask.
    return !check_virtual_io || !source_node->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO) ||
           !source_node->test_bit(CDB_ATOM_BIT_VIRTUAL_IO);
}

// ---------------------------------------------------------------- boundary ports

int MORV_NET_UTIL::boundary_port_id(CDB_ATOM_ITERM* iterm) const
{
    return m_api->get_assigned_boundary_port_id(iterm);
}

void MORV_NET_UTIL::set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id)
{
    m_api->set_boundary_port_id(iterm, port_id);
}

void MORV_NET_UTIL::clear_boundary_port_id(CDB_ATOM_ITERM* iterm)
{
    set_boundary_port_id(iterm, -1);
}

// ---------------------------------------------------------------- equivalent outputs

void MORV_NET_UTIL::find_equivalent_oterms(MORV_OTERM_SET_SET* out_groups, bool with_singles) const
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
    group_by_canonical_form(candidates, out_groups, with_singles);
}

namespace {

// A digest of the parts every form compares: whether it is canonical (and
// if not, its cell), and the inputs it reads with how it reads them. Equal
// forms have equal digests.
uint64_t form_digest(const MORV_CANONICAL_NODE_INFO& form)
{
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
    mix(form.is_canonicalised() ? 0 : 1 + uint64_t(form.get_oterm()->get_my_node()->get_id()));
    for (const CDB_ATOM_OTERM* input : form.get_inputs()) {
        if (input == nullptr) {
            mix(0);
            continue;
        }
        mix(input->get_my_node()->get_id());
        mix(static_cast<uint32_t>(input->get_any_usage_as()));
        mix(static_cast<uint32_t>(input->get_port_index() & 0xffff));
    }
    for (bool inverted : form.get_input_inverted()) mix(inverted ? 3 : 2);
    return h;
}

}  // namespace

// The forms of a whole netlist are never held at once: each candidate's
// form is made and dropped for its digest, and only candidates that share
// a digest are made again and compared in full.
void MORV_NET_UTIL::group_by_canonical_form(const std::vector<CDB_ATOM_OTERM*>& candidates,
                                            MORV_OTERM_SET_SET* out_groups, bool with_singles) const
{
    std::vector<std::pair<uint64_t, size_t>> digests;
    digests.reserve(candidates.size());
    for (size_t i = 0; i < candidates.size(); ++i) {
        MORV_OWNER<MORV_CANONICAL_NODE_INFO> form = create_canonical_node_info(candidates[i]);
        MORV_ASSERT(form);
        digests.emplace_back(form_digest(*form), i);
    }
    std::sort(digests.begin(), digests.end());
    for (size_t first = 0, last = 0; first < digests.size(); first = last) {
        while (last < digests.size() && digests[last].first == digests[first].first) ++last;
        if (last - first == 1) {
            if (with_singles) out_groups->insert(MORV_OTERM_SET{candidates[digests[first].second]});
            continue;
        }
        // The forms must outlive the map that orders by them.
        std::vector<MORV_OWNER<MORV_CANONICAL_NODE_INFO>> forms;
        std::map<MORV_CANONICAL_NODE_INFO*, MORV_OTERM_SET, DETERMINISTIC_LESS<MORV_CANONICAL_NODE_INFO*>> groups;
        for (size_t k = first; k < last; ++k) {
            CDB_ATOM_OTERM* oterm = candidates[digests[k].second];
            forms.push_back(create_canonical_node_info(oterm));
            MORV_ASSERT(forms.back());
            groups[forms.back().get()].insert(oterm);
        }
        for (auto& group : groups)
            if (with_singles || group.second.size() > 1) out_groups->insert(std::move(group.second));
    }
}

bool MORV_NET_UTIL::has_bound_input(CDB_ATOM_NODE* node) const
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if (boundary_port_id(*it) != -1) return true;
    return false;
}

bool MORV_NET_UTIL::is_oterm_dont_touch(CDB_ATOM_OTERM* oterm) const
{
    return m_api->is_oterm_dont_touch(oterm, AMM_OP_FITTER_FSYN_DUPLICATE);
}
