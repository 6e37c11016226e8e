// The netlist commit of a selected solution: one new LUT per divisor next
// to the root, in list order, then the root rewired as the network's last
// LUT. Each edit is announced to the API; the net utility and the editing
// interface log it when change logging is on.

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/resyn/morv_resyn.h"

bool MORV_RESYN::has_boundary_ports() const
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    return env != nullptr && env->get_boundary_port_manager() != nullptr;
}

void MORV_RESYN::connect_lut_input(RESYN_SOLN& soln, CDB_ATOM_ITERM* iterm, int k, int v)
{
    MORV_ASSERT_TEXT(v >= 0 && v < static_cast<int>(soln.inputs.size()), "iterm_src");
    const RESYN_SOLN_INPUT& e = soln.inputs[static_cast<size_t>(v)];
    MORV_ASSERT_TEXT(e.oterm, "iterm_src");
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    if (stream.is_enabled() && stream.get_threshold() >= 100)
        MORV_DEBUG_STREAM::print(100, "  lut input %d: var %d, name %s", k, v, get_oterm_name(e.oterm).c_str());
    m_net_util->insert_fanout(e.oterm, iterm);
    if (e.is_input) {
        // The cone function already reads through the inversion.
        MORV_ITERM_PROPERTIES props = e.props;
        props.inverted = false;
        m_net_util->restore_iterm_properties(props, iterm);
    }
    // The facade logs the binding, or its removal, when logging is on.
    if (has_boundary_ports()) m_fsyn_api->set_boundary_port_id(iterm, e.bp_id);
}

void MORV_RESYN::implement_lut(RESYN_SOLN& soln, int i, CDB_ATOM_NODE* root)
{
    const RESYN_SOLN_LUT& lut = soln.luts[static_cast<size_t>(i)];
    CDB_ATOM_NODE* node = create_lut_node(root, i);
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_OTERM* out = create_lut_oterm(node, DB_COMB_OUT);
    // The LUT's output is the next variable number; later LUTs read it.
    soln.inputs.push_back(RESYN_SOLN_INPUT{out, false, MORV_ITERM_PROPERTIES(), -1, false});
    m_fsyn_api->node_added(node, root, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, nullptr);
    MORV_ASSERT_TEXT(static_cast<int>(lut.inputs.size()) <= m_num_data_ports, "num_support_vars <= m_num_data_ports");
    for (size_t k = 0; k < lut.inputs.size(); ++k) {
        CDB_ATOM_ITERM* iterm = m_net_util->create_iterm(node, DB_DATA_A + static_cast<int>(k));
        connect_lut_input(soln, iterm, static_cast<int>(k), lut.inputs[k]);
    }
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(m_num_data_ports, lut.mask), false);
    m_fsyn_api->modify_node(node);
}

// Settings of a root input that belonged to the signal it read.
void MORV_RESYN::clear_root_input(CDB_ATOM_ITERM* iterm, int k)
{
    m_net_util->clear_invert(iterm);
    m_cdb_interface->set_iterm_global(iterm, 0);
    m_cdb_interface->set_iterm_connected_to_delay_chain(iterm, false);
    if (has_boundary_ports() && m_fsyn_api->get_assigned_boundary_port_id(iterm) != -1)
        m_fsyn_api->set_boundary_port_id(iterm, -1);
    disconnect_lut_input(iterm, k);
}

void MORV_RESYN::implement_root_lut(RESYN_SOLN& soln, int i, CDB_ATOM_NODE* root)
{
    MORV_ASSERT_TEXT(root, "node");
    const RESYN_SOLN_LUT& lut = soln.luts[static_cast<size_t>(i)];
    const int available = get_available_inputs(root);
    for (int k = 0; k < m_num_data_ports; ++k)
        if (CDB_ATOM_ITERM* iterm = root->get_input_term_by_type(DB_DATA_A + k)) clear_root_input(iterm, k);
    const bool swapped = prepare_base_node(root, available);
    mark_node(root);
    MORV_ASSERT_TEXT(static_cast<int>(lut.inputs.size()) <= available, "num_support_vars <= available_ports");
    for (size_t k = 0; k < lut.inputs.size(); ++k) {
        // A cell that offers three inputs reads its third variable at D.
        const int port = swapped && k == 2 ? DB_DATA_D : DB_DATA_A + static_cast<int>(k);
        CDB_ATOM_ITERM* iterm = root->get_input_term_by_type(port);
        if (iterm == nullptr) iterm = m_net_util->create_iterm(root, port);
        connect_lut_input(soln, iterm, static_cast<int>(k), lut.inputs[k]);
    }
    CDB_LUTMASK mask(m_num_data_ports, lut.mask);
    if (swapped) mask.switch_inputs(2, 3);
    m_cdb_interface->set_lutmask(root, mask, false);
    // Once for the mask, once for the rewiring: each announcement counts.
    m_fsyn_api->modify_node(root);
    m_fsyn_api->modify_node(root);
}

// Every LUT of the solution in list order, the root's own last.
void MORV_RESYN::implement_solution(RESYN_SOLN& soln)
{
    const int last = static_cast<int>(soln.luts.size()) - 1;
    for (int i = 0; i < last; ++i) implement_lut(soln, i, soln.node);
    implement_root_lut(soln, last, soln.node);
}
