// The brennock change log's recording: a changed cell's prior state, and
// for a cell on a carry chain the state of the whole chain from its head,
// since replay rebuilds a chain as one.

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"

namespace {

bool is_on_carry_chain(const CDB_ATOM_NODE* node)
{
    const CDB_ATOM_ITERM* carry_in = node->get_input_term_by_type(DB_CARRY_IN);
    return morv_output_has_fanout(node, DB_CARRY_OUT) || (carry_in != nullptr && carry_in->is_connected());
}

}  // namespace

MORV_LOG_BRK::MORV_LOG_BRK(MORV_API* fsyn_api) : MORV_LOG(fsyn_api)
{
    open_first_chunk();
}

MORV_LOG_BRK::MORV_LOG_BRK(const MORV_LOG_BRK& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api)
{
    open_first_chunk();
}

MORV_LOG_BRK::~MORV_LOG_BRK()
{
    MORV_LOG_BRK::clear_pending_entries();
    m_log_file.reset();
}

void MORV_LOG_BRK::clear_pending_entries()
{
    clear_pending_containers();
}

void MORV_LOG_BRK::write_pending_entries()
{
    write_pending_in_replay_order();
}

// A cell whose combinational output is used beside its sum or carry is
// rebuilt from its neighbours' states, not from its own.
bool MORV_LOG_BRK::skips_chain_cell(CDB_ATOM_NODE* cell) const
{
    return morv_output_has_fanout(cell, DB_COMB_OUT) &&
           (morv_output_has_fanout(cell, DB_SUM_OUT) || morv_output_has_fanout(cell, DB_CARRY_OUT));
}

void MORV_LOG_BRK::store_node_info_before_change(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    if (!node->is_lcell_comb()) return;
    MORV_ASSERT(m_net_util);
    const uint32_t kind = m_net_util->is_latch(node) ? MORV_LOG_LATCH_NODE : MORV_LOG_NORMAL_NODE;
    if (!may_store_prior_state(node)) return;
    const bool chained = is_on_carry_chain(node);
    CDB_ATOM_NODE* start = chained ? get_carry_chain_head(node) : node;
    // A chain behind a high-speed adder has no head this log can replay.
    if (start == nullptr) return;
    // Every cell is stored once: a cell stored before keeps the state it had
    // then, which a second record would overwrite with a changed one.
    for (CDB_ATOM_NODE* cell = start; cell != nullptr;) {
        if (cell == node || may_store_prior_state(cell))
            if (!skips_chain_cell(cell)) store_node_info(cell, kind);
        if (!chained) break;
        cell = get_next_in_carry_chain(cell);
        if (cell == start) break;
    }
}

void MORV_LOG_BRK::store_node_info(CDB_ATOM_NODE* node, uint32_t kind)
{
    LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry = file_store_node_info(node, kind);
    if (entry == nullptr) return;
    record_input_states(entry, node, true);
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if ((*it)->has_fanout() || has_boundary_port(*it)) record_output(entry, *it);
    if (entry->m_output_ports.empty())
        if (CDB_ATOM_OTERM* primary = get_primary_oterm(node)) record_output(entry, primary);
    record_node_properties(entry, node);
    m_store_node_info_entries.push_back(entry);
    if (kind == MORV_LOG_LATCH_NODE) record_latch_roles(entry, node);
}

void MORV_LOG_BRK::log_confirm_clkbuf(CDB_ATOM_NODE* clkbuf)
{
    MORV_ASSERT(clkbuf);
    if (clkbuf->get_atom_type() != CDB_ATOM_BRK_CLKBUF_ENUM)
        MSG_INTERNAL_ERROR::report("node->get_atom_type() == CDB_ATOM_BRK_CLKBUF_ENUM", "MORV", __FILE__, __LINE__);
    file_confirm_clkbuf(clkbuf);
}
