// Acceptance and netlist rebuild of a decomposition. m_vars holds, in
// order, the cone's input signals, the absorbed drivers, the encoding LUTs
// and last the final function. Each encoding record becomes a new LUT in the
// base node's LAB; the base node is rewired to compute the final function.
// The absorbed drivers stay: the sweep after the iteration removes those
// left without fanout.

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/resyn/morv_bdd_syn.h"
#include "morv/resyn/morv_resyn.h"

namespace {

bool is_new_lut(const MORV_BDD_SYN_ITERM_SRC& r)
{
    return r.oterm == nullptr && !r.is_vcc && !r.is_gnd;
}

}  // namespace

double MORV_BDD_SYN::get_area_ratio(int expansions, int duplications)
{
    int count = 0;
    for (const MORV_OWNER<MORV_BDD_SYN_ITERM_SRC>& r : m_vars) {
        if (is_new_lut(*r)) ++count;
        else if (r->oterm != nullptr && r->times_expanded != 0 && source_keeps_node(r->oterm)) ++count;
    }
    return static_cast<double>(count + duplications) / (expansions + 1);
}

bool MORV_BDD_SYN::accept_and_commit(CDB_ATOM_NODE* base_node, int expansions, int duplications, int available_inputs)
{
    MORV_ASSERT_TEXT(!m_vars.empty(), "!m_vars.empty()");
    const double ratio = get_area_ratio(expansions, duplications);
    MORV_DEBUG_STREAM::print(100, "  decomp area ratio: %f", ratio);
    if (!(m_area_accept_curr > ratio)) {
        MORV_DEBUG_STREAM::print(100, "  area exceeds limits, rejecting.");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "  area within limits, accepting.");
    const size_t last = m_vars.size() - 1;
    for (size_t v = 0; v < last; ++v) {
        MORV_BDD_SYN_ITERM_SRC& r = *m_vars[v];
        if (is_new_lut(r)) {
            build_lut_node(r, base_node);
        } else if (r.oterm != nullptr && r.times_expanded != 0) {
            CDB_ATOM_NODE* node = r.oterm->get_my_node();
            MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
            m_done_nodes.insert(static_cast<int>(node->get_id()));
        }
    }
    m_done_nodes.insert(static_cast<int>(base_node->get_id()));
    rebuild_base_node(*m_vars[last], base_node, available_inputs);
    return true;
}

void MORV_BDD_SYN::build_lut_node(MORV_BDD_SYN_ITERM_SRC& r, CDB_ATOM_NODE* base_node)
{
    CDB_ATOM_NODE* node = create_lut_node(base_node);
    MORV_ASSERT_TEXT(node, "node");
    // From here on the record is a signal later LUTs and the base node read.
    r.oterm = MORV_RESYN::create_lut_oterm(m_fsyn_api, node, DB_COMB_OUT);
    m_fsyn_api->node_added(node, base_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, nullptr);
    const std::vector<int> support = r.bdd.build_support();
    MORV_ASSERT_TEXT(static_cast<int>(support.size()) <= m_num_data_ports, "num_support_vars <= m_num_data_ports");
    for (size_t p = 0; p < support.size(); ++p) {
        CDB_ATOM_ITERM* iterm = m_net_util->create_iterm(node, m_data_port_types[p]);
        connect_lut_input(iterm, static_cast<int>(p), *m_vars[support[p]]);
    }
    commit_lut_node(node, get_node_lutmask(node, r.bdd, support));
}

void MORV_BDD_SYN::rebuild_base_node(const MORV_BDD_SYN_ITERM_SRC& root, CDB_ATOM_NODE* base_node, int available_inputs)
{
    for (int i = 0; i < m_num_data_ports; ++i) {
        CDB_ATOM_ITERM* iterm = base_node->get_input_term_by_type(m_data_port_types[i]);
        if (iterm != nullptr) disconnect_lut_input(iterm, i);
    }
    const bool swap = prepare_base_node(base_node, available_inputs);
    const std::vector<int> support = root.bdd.build_support();
    MORV_ASSERT_TEXT(static_cast<int>(support.size()) <= available_inputs, "num_support_vars <= available_ports");
    for (size_t p = 0; p < support.size(); ++p) {
        // A cell that offers three inputs reads its third variable at D.
        const int port = swap && p == 2 ? DB_DATA_D : m_data_port_types[p];
        CDB_ATOM_ITERM* iterm = base_node->get_input_term_by_type(port);
        if (iterm == nullptr) iterm = m_net_util->create_iterm(base_node, port);
        connect_lut_input(iterm, static_cast<int>(p), *m_vars[support[p]]);
    }
    CDB_LUTMASK lutmask = get_node_lutmask(base_node, root.bdd, support);
    if (swap) lutmask.switch_inputs(2, 3);
    commit_lut_node(base_node, lutmask);
    m_fsyn_api->modify_node(base_node);
}

void MORV_BDD_SYN::connect_lut_input(CDB_ATOM_ITERM* iterm, int position, const MORV_BDD_SYN_ITERM_SRC& s)
{
    if (s.oterm != nullptr) {
        if (is_tracing())
            MORV_DEBUG_STREAM::print(100, "  lut input %d: var %d, name %s", position, s.var_index,
                                     get_oterm_name(s.oterm).c_str());
        m_net_util->insert_fanout(s.oterm, iterm);
    } else if (s.is_vcc) {
        MORV_DEBUG_STREAM::print(100, "  lut input %d: var %d, VCC", position, s.var_index);
        m_cdb_interface->set_iterm_vcc(iterm);
    } else {
        MORV_ASSERT_TEXT(s.is_gnd, "syn_iterm_src->is_gnd");
        MORV_DEBUG_STREAM::print(100, "  lut input %d: var %d, GND", position, s.var_index);
        m_cdb_interface->set_iterm_gnd(iterm);
    }
    if (s.has_iterm_properties) {
        // The cone function already reads through the inversion.
        MORV_ITERM_PROPERTIES props = s.iterm_properties;
        props.inverted = false;
        m_net_util->restore_iterm_properties(props, iterm);
    }
    // The facade logs the binding (or its removal) when logging is on.
    if (m_has_boundary_ports) m_fsyn_api->set_boundary_port_id(iterm, s.bp_id);
}

void MORV_BDD_SYN::compute_lutmask(CDB_ATOM_NODE* node, const BDD_JBDD& g, const std::vector<int>& support, int i,
                                   uint64_t& mask, uint64_t index) const
{
    if (i >= m_num_data_ports) {
        if (g == m_bdd_mgr->true_bdd()) mask |= uint64_t(1) << index;
        return;
    }
    BDD_JBDD half0 = g;
    BDD_JBDD half1 = g;
    const bool constant = g == m_bdd_mgr->true_bdd() || g == m_bdd_mgr->false_bdd();
    if (!constant && i < static_cast<int>(support.size()) && g.variable() == support[i]) {
        const bool direct = node->is_lut_index_direct(m_data_port_types[i]);
        half0 = direct ? g.low_child() : g.high_child();
        half1 = direct ? g.high_child() : g.low_child();
    }
    compute_lutmask(node, half0, support, i + 1, mask, index);
    compute_lutmask(node, half1, support, i + 1, mask, index + (uint64_t(1) << i));
}

CDB_LUTMASK MORV_BDD_SYN::get_node_lutmask(CDB_ATOM_NODE* node, const BDD_JBDD& g,
                                           const std::vector<int>& support) const
{
    uint64_t rows = 0;
    compute_lutmask(node, g, support, 0, rows, 0);
    // The families that read masks in reverse order store row r at the
    // mirrored bit; reading the mask back (get_row_mask) mirrors it again.
    return CDB_LUTMASK(m_num_data_ports, get_row_mask(rows));
}
