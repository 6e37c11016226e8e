// The MRL legaliser: which cells the host rejects, in netlist order, and
// how each change record the host answers with is carried out. Every edit
// is announced to the facade and, while the run keeps a change log, logged
// there in the order the facade and the log rely on.

#include "morv/netlist/morv_legalizer.h"

#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "dev/dev_device.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// The trace text of each record kind.
const char* kind_text(int kind)
{
    switch (kind) {
    case CUT_MODIFICATION_DO_NOTHING: return "Type: DO_NOTHING";
    case CUT_MODIFICATION_NEW_NODE: return "Type: NEW_NODE";
    case CUT_MODIFICATION_REMOVE_NODE: return "Type: REMOVE_NODE";
    case CUT_MODIFICATION_ITERMS: return "Type: ITERMS";
    case CUT_MODIFICATION_LUTMASK: return "Type: LUTMASK";
    case CUT_MODIFICATION_NEW_HSADDER:
    case CUT_MODIFICATION_ITERMS_AND_LUTMASK: return "Type: ALL";
    default: return nullptr;
    }
}

// The host answers a list for every question; no list is a fault of the host.
CUT_ATOM_MODIFIED_NODE_LIST_PTR checked(CUT_ATOM_MODIFIED_NODE_LIST_PTR modified_node_list)
{
    MORV_ASSERT(modified_node_list);
    return modified_node_list;
}

// The latch kind a latch cell's mask calls for, read as four 16-bit words:
// the last word that is not constant decides.
int latch_kind_of(uint64_t lutmask)
{
    int kind = 0;
    for (int w = 0; w < 4; ++w) {
        const unsigned word = static_cast<unsigned>((lutmask >> (16 * w)) & 0xFFFFu);
        if (word == 0 || word == 0xFFFFu) continue;
        MORV_ASSERT_TEXT(word == 0xF0CCu || word == 0xCCF0u, "word == 0xF0CC");
        kind = word == 0xF0CCu ? 1 : 2;
    }
    return kind;
}

}  // namespace

MORV_LEGALIZER::MORV_LEGALIZER(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_fsyn_net_util");
    m_fsyn_cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
    m_atom_legalizer = m_fsyn_api->get_atom_legalizer();
    MORV_ASSERT_TEXT(m_atom_legalizer, "m_atom_legalizer");
    MORV_DEBUG_STREAM::print(100, "**************************");
    MORV_DEBUG_STREAM::print(100, "* MORV_LEGALIZER Created *");
    MORV_DEBUG_STREAM::print(100, "**************************");
}

MORV_LEGALIZER::~MORV_LEGALIZER()
{
    MORV_DEBUG_STREAM::print(100, "****************************");
    MORV_DEBUG_STREAM::print(100, "* MORV_LEGALIZER Destroyed *");
    MORV_DEBUG_STREAM::print(100, "****************************");
}

void MORV_LEGALIZER::check_family() const
{
    MORV_ASSERT_TEXT(morv_family_traits(m_fsyn_api->get_base_family_code()).m_fl_cells,
                     "m_fsyn_api->get_base_family_code() == DEV_FAMILY_MORLIN");
}

CDB_ATOM_NODE* MORV_LEGALIZER::find_node(int atom_id) const
{
    return m_fsyn_api->get_node(atom_id);
}

bool MORV_LEGALIZER::is_lutmask_legal_by_rotation(uint64_t lutmask) const
{
    return m_atom_legalizer->is_lutmask_legal_by_rotation(lutmask);
}

bool MORV_LEGALIZER::is_special_node(CDB_ATOM_NODE* node) const
{
    return m_net_util->is_lcell_part_of_a_carry_chain(node) || m_net_util->is_in_arithmetic_mode(node) ||
           m_net_util->is_in_extended_mode(node) || m_net_util->is_latch(node);
}

bool MORV_LEGALIZER::is_carry_chain_or_latch(CDB_ATOM_NODE* node) const
{
    if (!node->is_lcell_comb() && !node->is_lcell_hsadder()) return m_net_util->is_latch(node);
    return m_net_util->is_lcell_part_of_a_carry_chain(node) || m_net_util->is_in_arithmetic_mode(node) ||
           m_net_util->is_latch(node);
}

// ------------------------------------------------------------------ the netlist

int MORV_LEGALIZER::legalize_netlist()
{
    check_family();
    MORV_ASSERT_TEXT(m_atom_legalizer, "m_atom_legalizer");
    MORV_DEBUG_STREAM::print(2, "FSYN netlist LEGALIZER Running...");
    m_carry_chain_work_list.clear();
    remove_useless_inputs();

    // The list is complete before anything changes. An earlier cell's
    // records may delete a cell still waiting: it is skipped then.
    CDB_ATOM_NETLIST* netlist = m_fsyn_api->get_atom_netlist();
    MORV_ASSERT(netlist);
    std::vector<int> illegal_nodes;
    for (CDB_ATOM_NODE* node : *netlist) {
        MORV_ASSERT(node);
        if ((node->is_lcell_comb() || m_net_util->is_ff(node)) && !m_atom_legalizer->is_node_legal(node))
            illegal_nodes.push_back(morv_atom_id(node));
    }
    int legalized = 0;
    for (int id : illegal_nodes) {
        CDB_ATOM_NODE* node = find_node(id);
        if (node != nullptr && legalize_node(node, true)) ++legalized;
    }
    legalize_broken_carry_chains();
    MORV_DEBUG_STREAM::print(2, "Legalized nodes: %d", legalized);
    return legalized;
}

void MORV_LEGALIZER::legalize_broken_carry_chains()
{
    MORV_DEBUG_STREAM::print(100, "* Now legalizing broken carry chains *");
    while (!m_carry_chain_work_list.empty()) {
        const int id = m_carry_chain_work_list.front();
        m_carry_chain_work_list.pop_front();
        MORV_DEBUG_STREAM::print(100, "Pop-ed node id <%d>", id);
        CDB_ATOM_NODE* node = find_node(id);
        if (node == nullptr) continue;
        if (!m_net_util->is_lcell_part_of_a_carry_chain(node) && !m_net_util->is_in_arithmetic_mode(node))
            legalize_plain_node(node, true);
        else legalize_special_node(node);
    }
}

int MORV_LEGALIZER::remove_useless_inputs()
{
    MORV_DEBUG_STREAM::print(2, "FSYN useless inputs remover running...");
    int removed = 0;
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!node->is_lcell_comb() || m_net_util->is_lcell_part_of_a_carry_chain(node) ||
            m_net_util->is_in_arithmetic_mode(node) || m_net_util->is_in_extended_mode(node))
            continue;
        removed += remove_useless_inputs(node);
    }
    MORV_DEBUG_STREAM::print(2, "Inputs Removed: %d", removed);
    return removed;
}

int MORV_LEGALIZER::remove_useless_inputs(CDB_ATOM_NODE* node)
{
    const CDB_LUTMASK mask(m_num_lut_inputs, m_net_util->get_lutmask(node));
    int removed = 0;
    for (int k = 0; k < m_num_lut_inputs; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k, 0);
        if (iterm == nullptr || !iterm->is_connected() || !mask.is_independent_of(k)) continue;
        m_fsyn_api->modify_edge(iterm, true);
        m_fsyn_cdb_interface->disconnect_fanin(iterm, CDB_NET_ITERM::UNCONNECTED);
        ++removed;
    }
    return removed;
}

// ------------------------------------------------------------------ one node

bool MORV_LEGALIZER::legalize_node(CDB_ATOM_NODE* node, bool allow_decompose)
{
    check_family();
    MORV_ASSERT(node);
    MORV_ASSERT_TEXT(node->is_lcell_comb() || m_net_util->is_ff(node),
                     "node->is_lcell_comb() || m_net_util->is_ff(node)");
    if (m_net_util->is_ff(node)) return fix_ff_fl_id(node);
    if (is_special_node(node)) return legalize_special_node(node);
    return legalize_plain_node(node, allow_decompose);
}

bool MORV_LEGALIZER::legalize_plain_node(CDB_ATOM_NODE* node, bool allow_decompose)
{
    check_family();
    MORV_ASSERT_TEXT(node->is_lcell_comb(), "node->is_lcell_comb()");
    const int id = morv_atom_id(node);
    MORV_DEBUG_STREAM::print(100, "Trying to legalize node: %d ", id);
    CUT_ATOM_MODIFIED_NODE_LIST_PTR modified_node_list = checked(m_atom_legalizer->legalize_node(node));
    const bool result = !modified_node_list->empty();
    m_new_nodes.clear();
    NODE_ID_SET fixed_nodes;
    NODE_ID_SET deleted_nodes;
    apply_changes(node, modified_node_list.get(), &fixed_nodes, &deleted_nodes);
    if (deleted_nodes.count(id) != 0 || m_atom_legalizer->is_node_legal(node)) return result;
    MORV_ASSERT_TEXT(allow_decompose, "Couldn't legalize node");
    decompose_node(node);
    return result;
}

void MORV_LEGALIZER::decompose_node(CDB_ATOM_NODE* node)
{
    MORV_DEBUG_STREAM::print(100, "Decomposing node: %d ", morv_atom_id(node));
    CUT_ATOM_MODIFIED_NODE_LIST_PTR modified_node_list = checked(m_atom_legalizer->decompose_node(node));
    m_new_nodes.clear();
    NODE_ID_SET fixed_nodes;
    NODE_ID_SET deleted_nodes;
    apply_changes(node, modified_node_list.get(), &fixed_nodes, &deleted_nodes);
    // A fixed cell that a later legalisation took away is skipped.
    for (int fixed_id : fixed_nodes)
        if (CDB_ATOM_NODE* fixed_node = find_node(fixed_id)) legalize_node(fixed_node, false);
}

bool MORV_LEGALIZER::legalize_special_node(CDB_ATOM_NODE* node)
{
    check_family();
    MORV_ASSERT_TEXT(is_special_node(node),
                     "m_net_util->is_lcell_part_of_a_carry_chain(node) || m_net_util->is_in_arithmetic_mode(node) || "
                     "m_net_util->is_in_extended_mode(node) || m_net_util->is_latch(node)");
    MORV_DEBUG_STREAM::print(100, "Trying to legalize special node: %d ", morv_atom_id(node));
    CUT_ATOM_MODIFIED_NODE_LIST_PTR modified_node_list = checked(m_atom_legalizer->legalize_node(node));
    return apply_legalized(node, modified_node_list.get(), true);
}

// Whether the host changed anything; the changes are taken into the
// netlist model and the cells it fixed are checked.
bool MORV_LEGALIZER::apply_legalized(CDB_ATOM_NODE* node, CUT_ATOM_MODIFIED_NODE_LIST* modified_node_list, bool special)
{
    const bool result = !modified_node_list->empty();
    m_new_nodes.clear();
    NODE_ID_SET fixed_nodes;
    NODE_ID_SET deleted_nodes;
    apply_changes(node, modified_node_list, &fixed_nodes, &deleted_nodes);
    check_fixed_nodes(fixed_nodes, special);
    return result;
}

void MORV_LEGALIZER::check_fixed_nodes(const NODE_ID_SET& fixed, bool special)
{
    for (int fixed_id : fixed) {
        CDB_ATOM_NODE* fixed_node = find_node(fixed_id);
        if (fixed_node == nullptr) continue;
        const bool kept = special ? is_carry_chain_or_latch(fixed_node)
                                  : (fixed_node->is_lcell_comb() || fixed_node->is_lcell_hsadder()) &&
                                        m_net_util->is_lcell_part_of_a_carry_chain(fixed_node);
        if (!kept) {
            legalize_node(fixed_node, false);
            continue;
        }
        MORV_ASSERT_TEXT(m_atom_legalizer->is_node_legal(fixed_node), "m_atom_legalizer->is_node_legal(fixed_node)");
        if (m_net_util->is_latch(fixed_node))
            MORV_ASSERT_TEXT(cut_sanity_check_atom_latch_info(fixed_node),
                             "cut_sanity_check_atom_latch_info(fixed_node)");
    }
}

bool MORV_LEGALIZER::fix_ff_fl_id(CDB_ATOM_NODE* node)
{
    check_family();
    MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(node)");
    const int fl_id = m_fsyn_api->get_fl_id_from_atom_properties(node);
    const int stored_fl_id = m_fsyn_api->get_stored_fl_id(node);
    if (stored_fl_id != DEV_ILLEGAL_FL_ID && stored_fl_id == fl_id) return false;
    MORV_DEBUG_STREAM::print(100, "  -------------------");
    MORV_DEBUG_STREAM::print(100, "  Fixing FL_ID for illegal MORLIN FF node <%d>", morv_atom_id(node));
    MORV_ASSERT_TEXT(fl_id != DEV_ILLEGAL_FL_ID, "fl_id != DEV_ILLEGAL_FL_ID");
    m_fsyn_api->set_fl_id(node, fl_id);
    return true;
}

// ------------------------------------------------------------------ high-speed adders

bool MORV_LEGALIZER::turn_into_high_speed_adder(CDB_ATOM_NODE* node)
{
    check_family();
    MORV_ASSERT(node);
    MORV_ASSERT_TEXT(node->is_lcell_comb(), "node->is_lcell_comb()");
    MORV_ASSERT_TEXT(m_net_util->is_lcell_part_of_a_carry_chain(node),
                     "m_net_util->is_lcell_part_of_a_carry_chain(node)");
    const int id = morv_atom_id(node);
    int fed_id = -1;
    if (CDB_ATOM_OTERM* carry_out = node->get_output_term_by_type(DB_CARRY_OUT)) {
        if (carry_out->get_number_of_fanout() > 0) {
            CDB_ATOM_ITERM* carry_in = carry_out->get_first_fanout();
            MORV_ASSERT(carry_in);
            fed_id = morv_atom_id(carry_in->get_my_node());
        }
    }
    // Preparing one cell may replace the other: both are looked up afresh.
    prepare_for_high_speed_adder(id);
    if (fed_id != -1) prepare_for_high_speed_adder(fed_id);
    node = find_node(id);
    MORV_ASSERT(node);

    MORV_DEBUG_STREAM::print(100, "Replacing with HSADDER node: %d ", id);
    CUT_ATOM_MODIFIED_NODE_LIST_PTR modified_node_list = checked(m_atom_legalizer->turn_into_high_speed_adder(node));
    return apply_legalized(node, modified_node_list.get(), false);
}

void MORV_LEGALIZER::prepare_for_high_speed_adder(int node_id)
{
    CDB_ATOM_NODE* node = find_node(node_id);
    if (node == nullptr) return;
    MORV_DEBUG_STREAM::print(100, "Trying to legalize for HSADDER transformation node: %d ", node_id);
    CUT_ATOM_MODIFIED_NODE_LIST_PTR modified_node_list =
        checked(m_atom_legalizer->legalize_for_high_speed_adder_transformation(node));
    m_new_nodes.clear();
    NODE_ID_SET fixed_nodes;
    NODE_ID_SET deleted_nodes;
    apply_changes(node, modified_node_list.get(), &fixed_nodes, &deleted_nodes);
    check_fixed_nodes(fixed_nodes, false);
}

// ------------------------------------------------------------------ after a sweep

int MORV_LEGALIZER::legalize_after_sweep(MORV_API* fsyn_api)
{
    MORV_ASSERT_TEXT(fsyn_api, "fsyn_api");
    fsyn_api->dump_atom_netlist(".pre_fsyn_netlist_legalizer");
    MORV_LEGALIZER legalizer(fsyn_api);
    const int legalized = legalizer.legalize_netlist();
    fsyn_api->get_morv_env()->refresh_after_netlist_change();
    fsyn_api->dump_atom_netlist(".post_fsyn_netlist_legalizer");
    return legalized;
}

// ------------------------------------------------------------------ records

void MORV_LEGALIZER::apply_changes(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_LIST* modified_node_list,
                                   NODE_ID_SET* fixed_nodes, NODE_ID_SET* deleted_nodes)
{
    MORV_ASSERT_TEXT(legalized_node, "original_node");
    MORV_ASSERT(modified_node_list);
    MORV_ASSERT(fixed_nodes);
    MORV_ASSERT(deleted_nodes);
    for (CUT_ATOM_MODIFIED_NODE_S& modified_node : *modified_node_list)
        apply_change(legalized_node, &modified_node, fixed_nodes, deleted_nodes);
}

void MORV_LEGALIZER::apply_change(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_S* modified_node,
                                  NODE_ID_SET* fixed_nodes, NODE_ID_SET* deleted_nodes)
{
    const char* text = kind_text(modified_node->kind);
    MORV_ASSERT_TEXT(text, "Unknown transformation");
    MORV_DEBUG_STREAM::print(100, "%s", text);
    switch (modified_node->kind) {
    case CUT_MODIFICATION_DO_NOTHING: apply_do_nothing(modified_node); break;
    case CUT_MODIFICATION_NEW_NODE: apply_new_node(legalized_node, modified_node, fixed_nodes); break;
    case CUT_MODIFICATION_REMOVE_NODE: apply_remove_node(modified_node, deleted_nodes); break;
    case CUT_MODIFICATION_ITERMS: apply_iterms(modified_node, fixed_nodes); break;
    case CUT_MODIFICATION_LUTMASK: apply_lutmask(modified_node, fixed_nodes); break;
    case CUT_MODIFICATION_NEW_HSADDER: apply_new_hsadder(legalized_node, modified_node, fixed_nodes); break;
    default:
        apply_iterms(modified_node, fixed_nodes);
        apply_lutmask(modified_node, fixed_nodes);
        break;
    }
}

void MORV_LEGALIZER::refresh_fl_id(CDB_ATOM_NODE* node)
{
    const int fl_id = m_atom_legalizer->get_fl_id_from_atom_properties(node);
    m_fsyn_api->set_fl_id(node, fl_id);
    MORV_DEBUG_STREAM::print(100, "Setting FL_ID for node <%d> to -> %d", morv_atom_id(node), fl_id);
}

void MORV_LEGALIZER::apply_do_nothing(CUT_ATOM_MODIFIED_NODE_S* modified_node)
{
    MORV_ASSERT_TEXT(modified_node->node, "node");
    refresh_fl_id(modified_node->node);
}

HDB_INSTANCE_NAME* MORV_LEGALIZER::make_legal_name(CDB_ATOM_NODE* legalized_node) const
{
    HDB_INSTANCE_NAME* new_name = m_net_util->make_unique_instance_name(legalized_node->get_instance_name(), "_LEGAL");
    MORV_ASSERT_TEXT(new_name, "new_name");
    return new_name;
}

void MORV_LEGALIZER::apply_new_node(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_S* modified_node,
                                    NODE_ID_SET* fixed)
{
    CDB_ATOM_NODE* new_node = m_fsyn_cdb_interface->create_lcell_comb_mrl(nullptr, make_legal_name(legalized_node));
    MORV_ASSERT_TEXT(new_node, "new_node");
    MORV_DEBUG_STREAM::print(100, "Created new node: %d", morv_atom_id(new_node));
    if (CDB_ATOM_OTERM* old_oterm = modified_node->oterm) {
        HDB_INSTANCE_NAME* instance_name = old_oterm->get_instance_name();
        MORV_ASSERT_TEXT(instance_name, "instance_name");
        CDB_ATOM_OTERM* new_oterm = nullptr;
        m_fsyn_cdb_interface->create_oterm(nullptr, new_oterm, new_node, DB_COMB_OUT, instance_name);
        MORV_ASSERT_TEXT(new_oterm, "new_oterm");
        take_over_fanouts(new_oterm, old_oterm);
        CDB_ATOM_NODE* owner = old_oterm->get_my_node();
        owner->replace_output_term_by_type(nullptr, old_oterm->get_usage(), old_oterm->get_port_index());
        delete old_oterm;
        m_fsyn_api->modify_node(owner);
    } else {
        CDB_ATOM_OTERM* new_oterm = m_net_util->create_oterm(new_node->get_instance_name(), new_node, DB_COMB_OUT);
        MORV_ASSERT_TEXT(new_oterm, "new_oterm");
    }
    copy_location(legalized_node, new_node);
    m_fsyn_api->node_added(new_node, legalized_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    modified_node->node = new_node;
    apply_iterms(modified_node, fixed);
    apply_lutmask(modified_node, fixed);
    m_new_nodes[modified_node->id] = morv_atom_id(new_node);
    refresh_fl_id(new_node);
}

void MORV_LEGALIZER::apply_remove_node(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* deleted)
{
    CDB_ATOM_NODE* node = modified_node->node;
    MORV_ASSERT_TEXT(node, "node");
    const bool chain_cell =
        (node->is_lcell_comb() || node->is_lcell_hsadder()) && m_net_util->is_lcell_part_of_a_carry_chain(node);
    if (chain_cell) {
        // The chain loses a cell: its chain drivers are looked at again.
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_OTERM* source = (*it)->get_source();
            CDB_ATOM_NODE* driver = source != nullptr ? source->get_my_node() : nullptr;
            if (driver == nullptr || !driver->is_lcell_comb() || !m_net_util->is_lcell_part_of_a_carry_chain(driver))
                continue;
            MORV_DEBUG_STREAM::print(100, "Inserting potentially broken carry chain node: %d", morv_atom_id(driver));
            m_carry_chain_work_list.push_back(morv_atom_id(driver));
        }
    }
    MORV_DEBUG_STREAM::print(100, "Removing node: %d", morv_atom_id(node));
    deleted->insert(morv_atom_id(node));
    m_fsyn_api->delete_node(node);
    modified_node->node = nullptr;
}

void MORV_LEGALIZER::apply_iterms(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed)
{
    CDB_ATOM_NODE* node = modified_node->node;
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "Setting iterms on node: %d", morv_atom_id(node));
    for (const CUT_ATOM_MODIFIED_ITERM_S& modified_iterm : modified_node->modified_iterms)
        apply_modified_iterm(node, modified_iterm);
    fixed->insert(morv_atom_id(node));
}

void MORV_LEGALIZER::apply_modified_iterm(CDB_ATOM_NODE* node, const CUT_ATOM_MODIFIED_ITERM_S& modified_iterm)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(modified_iterm.port_type, modified_iterm.unordered_index);
    bool was_inverted = false;
    if (iterm != nullptr && iterm->is_connected()) {
        if (iterm->get_source() != nullptr) was_inverted = iterm->is_inverted();
        m_fsyn_api->modify_edge(iterm, true);
        m_fsyn_cdb_interface->disconnect_fanin(iterm, CDB_NET_ITERM::UNCONNECTED);
        if (m_fsyn_cdb_interface->is_logging()) m_fsyn_cdb_interface->get_fsyn_log()->log_clear_invert(iterm);
        iterm->clear_invert();
        m_fsyn_api->set_boundary_port_id(iterm, -1);
    }
    if (!modified_iterm.connect) return;
    if (iterm == nullptr) iterm = m_net_util->create_iterm(node, modified_iterm.port_type);
    MORV_ASSERT(iterm);

    const bool is_register = m_net_util->is_ff(node);
    if (modified_iterm.tie_to_gnd) {
        tie_iterm_to_gnd(node, iterm);
        if (is_register) refresh_fl_id(node);
    } else if (modified_iterm.tie_to_vcc) {
        m_fsyn_cdb_interface->set_iterm_vcc(iterm);
        if (is_register) refresh_fl_id(node);
    } else {
        m_net_util->insert_fanout(find_source(modified_iterm), iterm);
    }

    if (was_inverted) {
        MORV_LOG* log = m_fsyn_cdb_interface->is_logging() ? m_fsyn_cdb_interface->get_fsyn_log() : nullptr;
        if (iterm->is_inverted()) {
            if (log != nullptr) log->log_clear_invert(iterm);
            iterm->clear_invert();
        } else {
            if (log != nullptr) log->log_set_invert(iterm);
            iterm->set_invert();
        }
    }
    m_fsyn_cdb_interface->set_iterm_properties(iterm, iterm->is_inverted(), modified_iterm.global_type,
                                               DB_DELAY_CHAIN_INPUT, modified_iterm.connected_to_delay_chain,
                                               modified_iterm.use_delay_chain, modified_iterm.delay_chain_index,
                                               modified_iterm.user_delay_chain);
    m_fsyn_api->set_boundary_port_id(iterm, modified_iterm.boundary_port_id);
}

void MORV_LEGALIZER::tie_iterm_to_gnd(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm)
{
    // An asynchronous or synchronous load held at GND is no load at all:
    // its data input goes unless the other load still uses it.
    if (iterm->is_used_as(DB_ASYNCH_LOAD) || iterm->is_used_as(DB_SYNCH_LOAD)) {
        CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_ASYNCH_DATA);
        if (data == nullptr) data = node->get_input_term_by_type(DB_SYNCH_DATA);
        if (data != nullptr && data->is_connected() && !m_net_util->is_connected(node, DB_ASYNCH_LOAD) &&
            !m_net_util->is_connected(node, DB_SYNCH_LOAD))
            m_net_util->disconnect_iterm(data, CDB_NET_ITERM::UNCONNECTED);
        return;
    }
    if (!iterm->is_used_as(DB_SYNCH_CLEAR)) m_fsyn_cdb_interface->set_iterm_gnd(iterm);
}

CDB_ATOM_OTERM* MORV_LEGALIZER::find_source(const CUT_ATOM_MODIFIED_ITERM_S& modified_iterm) const
{
    if (modified_iterm.source_oterm != nullptr) return modified_iterm.source_oterm;
    auto found = m_new_nodes.find(modified_iterm.source_id);
    MORV_ASSERT_TEXT(found != m_new_nodes.end(), "m_new_nodes.find(modified_iterm->source_id) != m_new_nodes.end()");
    CDB_ATOM_NODE* source_node = find_node(found->second);
    MORV_ASSERT(source_node);
    CDB_ATOM_OTERM* source_oterm = source_node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT(source_oterm);
    return source_oterm;
}

void MORV_LEGALIZER::apply_lutmask(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed)
{
    CDB_ATOM_NODE* node = modified_node->node;
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "Setting lutmask on node: %d", morv_atom_id(node));
    m_fsyn_cdb_interface->set_lutmask(node, CDB_LUTMASK(m_num_lut_inputs, modified_node->lutmask), 0);
    m_fsyn_api->modify_node(node);
    if (m_net_util->is_latch(node)) set_latch_structure(node);
    fixed->insert(morv_atom_id(node));
    refresh_fl_id(node);
}

void MORV_LEGALIZER::set_latch_structure(CDB_ATOM_NODE* node)
{
    MORV_DEBUG_STREAM::print(100, "Setting latch structure on node: %d", morv_atom_id(node));
    CDB_ATOM_LATCH_INFO* latch_info = cut_get_atom_latch_info(node);
    MORV_ASSERT_TEXT(latch_info && latch_info->is_latch, "latch_info && latch_info->is_latch()");
    CDB_ATOM_ITERM* data_e = node->get_input_term_by_type(DB_DATA_E);
    CDB_ATOM_ITERM* data_f = node->get_input_term_by_type(DB_DATA_F);
    int data_port = DB_MAX_INPUT_PORT_TYPE;
    int data_port_2 = DB_MAX_INPUT_PORT_TYPE;
    if (data_e != nullptr && data_e->is_connected()) {
        MORV_ASSERT(data_f && data_f->is_connected());
        data_port = DB_DATA_F;
        data_port_2 = DB_DATA_E;
    } else {
        MORV_ASSERT(!data_f || !data_f->is_connected());
    }
    const int kind = latch_kind_of(m_net_util->get_lutmask(node));
    latch_info->set_full_latch_info(data_port, data_port_2, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, kind);
}

void MORV_LEGALIZER::apply_new_hsadder(CDB_ATOM_NODE* legalized_node, CUT_ATOM_MODIFIED_NODE_S* modified_node,
                                       NODE_ID_SET* fixed)
{
    CDB_ATOM_NODE* new_node = m_fsyn_cdb_interface->create_lcell_hsadder_mrl(nullptr, make_legal_name(legalized_node));
    MORV_ASSERT_TEXT(new_node, "new_node");
    modified_node->node = new_node;
    MORV_DEBUG_STREAM::print(100, "Created new node: %d", morv_atom_id(new_node));
    apply_iterms(modified_node, fixed);
    apply_oterms(modified_node, fixed);
    copy_location(legalized_node, new_node);
    m_fsyn_api->node_added(new_node, legalized_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    refresh_fl_id(new_node);
}

void MORV_LEGALIZER::apply_oterms(CUT_ATOM_MODIFIED_NODE_S* modified_node, NODE_ID_SET* fixed)
{
    CDB_ATOM_NODE* node = modified_node->node;
    MORV_DEBUG_STREAM::print(100, "Setting oterms on node: %d", morv_atom_id(node));
    for (const CUT_ATOM_MODIFIED_OTERM_S& modified_oterm : modified_node->modified_oterms) {
        MORV_ASSERT_TEXT(modified_oterm.oterm, "modified_oterm");
        HDB_INSTANCE_NAME* instance_name = modified_oterm.oterm->get_instance_name();
        MORV_ASSERT_TEXT(instance_name, "instance_name");
        CDB_ATOM_OTERM* new_oterm = nullptr;
        m_fsyn_cdb_interface->create_oterm(nullptr, new_oterm, node, modified_oterm.port_type, instance_name);
        MORV_ASSERT_TEXT(new_oterm, "new_oterm");
        take_over_fanouts(new_oterm, modified_oterm.oterm);
        m_fsyn_api->move_boundary_port_id(modified_oterm.oterm, new_oterm);
    }
    fixed->insert(morv_atom_id(node));
}

void MORV_LEGALIZER::take_over_fanouts(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm)
{
    std::vector<CDB_ATOM_ITERM*> fanouts;
    for (auto it = old_oterm->begin_iterm_fanout(); it != old_oterm->end_iterm_fanout(); ++it) fanouts.push_back(*it);
    for (CDB_ATOM_ITERM* fanout : fanouts) {
        m_fsyn_api->modify_edge(fanout, true);
        m_fsyn_cdb_interface->disconnect_fanin(fanout, CDB_NET_ITERM::UNCONNECTED);
        m_fsyn_cdb_interface->insert_fanin(fanout, new_oterm);
        m_fsyn_api->modify_edge(fanout, false);
    }
}

void MORV_LEGALIZER::copy_location(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map == nullptr) return;
    MORV_LOC location;
    if (!chip_map->get_node_location(morv_atom_id(from), &location)) return;
    if (location.x == MORV_OPEN || location.y == MORV_OPEN) return;
    MORV_LOC new_location;
    new_location.x = location.x;
    new_location.y = location.y;
    chip_map->set_node_location(morv_atom_id(to), new_location);
}
