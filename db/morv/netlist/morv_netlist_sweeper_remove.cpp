// The node remover: atoms whose outputs nobody uses go, and with them the
// fanout of their drivers, so a dead chain vanishes within one call. Each
// pass lists the atoms to remove and removes them after the walk, so the
// atom list is never changed while it is walked.

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper.h"

namespace {

// The atoms driving node's inputs: what a removal of node may free.
void add_drivers(CDB_ATOM_NODE* node, std::vector<uint32_t>* next)
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if (CDB_ATOM_OTERM* source = (*it)->get_source())
            if (CDB_ATOM_NODE* driver = source->get_my_node()) next->push_back(driver->get_id());
}

}  // namespace

int MORV_NETLIST_SWEEPER::remove_unused_nodes()
{
    MORV_DEBUG_STREAM::print(1, "\tNode remover running...");
    int removed = remove_unused_rams();
    m_regouts_removed = 0;
    m_combouts_removed = 0;
    std::vector<uint32_t> next;
    int passes = 0;
    bool dirty = true;
    while (dirty && passes < MORV_SWEEPER_MAX_PASSES) {
        const std::vector<CDB_ATOM_NODE*> visit = atoms_of_pass(passes == 0, &next);
        dirty = remove_unused_nodes_pass(visit, &next, &removed);
        ++passes;
    }
    if (dirty)
        MORV_DEBUG_STREAM::print(0, "WARNING: Node remover has performed its max number of iterations but has not "
                                    "finished.");
    print_remover_statistics(removed, passes);
    return removed + m_regouts_removed + m_combouts_removed;
}

bool MORV_NETLIST_SWEEPER::remove_unused_nodes_pass(const std::vector<CDB_ATOM_NODE*>& visit,
                                                    std::vector<uint32_t>* next, int* removed)
{
    std::vector<std::pair<CDB_ATOM_NODE*, REMOVAL>> listed;
    MORV_ENV* env = m_api->get_morv_env();
    for (CDB_ATOM_NODE* node : visit) {
        if (node == nullptr || env->must_keep_node(node)) continue;
        const REMOVAL removal = get_removal(node);
        if (removal == KEEP_NODE) continue;
        // A log replay must repeat what was recorded; otherwise the user's
        // don't-touch keeps the atom.
        if (!m_api->is_fsyn_read_log_required() && is_dont_touch(node, AMM_OP_FITTER_FSYN_REMOVE)) continue;
        listed.emplace_back(node, removal);
    }
    for (const auto& [node, removal] : listed) execute_removal(node, removal, next, removed);
    return !listed.empty();
}

void MORV_NETLIST_SWEEPER::execute_removal(CDB_ATOM_NODE* node, REMOVAL removal, std::vector<uint32_t>* next,
                                           int* removed)
{
    add_drivers(node, next);
    const int id = static_cast<int>(node->get_id());
    switch (removal) {
    case REMOVE_NODE:
        MORV_DEBUG_STREAM::print(100, "Removing zero-fanout node %d", id);
        m_api->delete_node(node);
        ++*removed;
        return;
    case REMOVE_REGOUT:
        MORV_DEBUG_STREAM::print(100, "Removing zero-fanout regout of node %d", id);
        remove_regout(node->get_output_term_by_type(DB_REG_OUT), node);
        ++m_regouts_removed;
        return;
    case REMOVE_COMBOUT:
        MORV_DEBUG_STREAM::print(100, "Removing zero-fanout combout of node %d", id);
        remove_combout(node->get_output_term_by_type(DB_COMB_OUT), node);
        ++m_combouts_removed;
        return;
    case KEEP_NODE: return;
    }
}

void MORV_NETLIST_SWEEPER::print_remover_statistics(int removed_nodes, int passes) const
{
    MORV_DEBUG_STREAM::print(2, "********* Node Remover Statistics *************");
    MORV_DEBUG_STREAM::print(2, "\tnum nodes removed = %d", removed_nodes);
    MORV_DEBUG_STREAM::print(2, "\tnum regout removed = %d", m_regouts_removed);
    MORV_DEBUG_STREAM::print(2, "\tnum combout removed = %d", m_combouts_removed);
    MORV_DEBUG_STREAM::print(2, "\tnum iterations = %d", passes);
    MORV_DEBUG_STREAM::print(2, "***********************************************");
    MORV_DEBUG_STREAM::print(1, "\tExiting node remover...");
}

bool MORV_NETLIST_SWEEPER::is_oterm_removable(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(oterm);
    if (oterm->has_fanout() || m_api->get_boundary_port_id(oterm) != -1) return false;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT(node);
    const int port_type = oterm->get_usage();
    if (node->is_output_port_fixed(port_type)) return false;
    if (keeps_cells_fed_by_special_sources() && m_net_util->has_input_driven_by_special_source(node)) return false;
    if (port_type == DB_REG_OUT && is_in_qfbk_mode(node)) return false;
    // The LUT reads the register back: the LUT stays while it feeds the register.
    if (port_type == DB_COMB_OUT && is_in_qfbk_mode(node) && !m_net_util->is_sload_tied_to_vcc(node) &&
        !m_net_util->is_connected(node, DB_REG_CASCADE_IN))
        return false;
    return !m_api->is_oterm_dont_touch(oterm, AMM_OP_FITTER_FSYN_REMOVE);
}

int MORV_NETLIST_SWEEPER::remove_unused_rams()
{
    // A RAM the host must keep stays like any other atom it must keep.
    std::vector<CDB_ATOM_NODE*> rams;
    MORV_ENV* env = m_api->get_morv_env();
    for (CDB_ATOM_NODE* node : *m_atom_netlist)
        if (node->is_ram() && !env->must_keep_node(node)) rams.push_back(node);
    auto is_unused = [this](CDB_ATOM_NODE* ram) {
        for (auto it = ram->begin_oterm(); it != ram->end_oterm(); ++it)
            if ((*it)->has_fanout() || m_api->is_oterm_dont_touch(*it, AMM_OP_FITTER_FSYN_RAM_REMOVE)) return false;
        return true;
    };
    int removed = 0;
    for (bool listed = true; listed;) {
        std::vector<CDB_ATOM_NODE*> kept, gone;
        for (CDB_ATOM_NODE* ram : rams) (is_unused(ram) ? gone : kept).push_back(ram);
        for (CDB_ATOM_NODE* ram : gone) m_api->delete_node(ram);
        removed += static_cast<int>(gone.size());
        listed = !gone.empty();
        rams.swap(kept);
    }
    MORV_DEBUG_STREAM::print(2, "Removed %d ram atoms", removed);
    return removed;
}
