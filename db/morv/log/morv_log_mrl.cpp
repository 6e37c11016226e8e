// The morlin change log's recording: a changed cell's prior state with the
// states of the cells around it (the cells feeding it, the cells its
// combinational output feeds, the rest of its adder chain), which a replay
// on the other family rebuilds together.

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_net_util.h"

namespace {

[[noreturn]] void mrl_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

bool is_cell(const CDB_ATOM_NODE* node)
{
    return node->is_lcell_comb() || node->is_lcell_hsadder();
}

// The cells an output feeds, each once, in fanout order.
std::vector<CDB_ATOM_NODE*> fed_cells(const CDB_ATOM_NODE* node, int output_port_type)
{
    std::vector<CDB_ATOM_NODE*> cells;
    const CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(output_port_type);
    if (oterm == nullptr) return cells;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_NODE* fanout = (*it)->get_my_node();
        if (is_cell(fanout) && std::find(cells.begin(), cells.end(), fanout) == cells.end()) cells.push_back(fanout);
    }
    return cells;
}

// A signal probe only observes the output: it is no real fanout. The walk
// stops at the second real fanout, so a clock-sized net costs no more.
bool has_several_real_fanouts(const CDB_ATOM_OTERM* oterm)
{
    if (oterm == nullptr) return false;
    int count = 0;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout() && count < 2; ++it)
        if (!(*it)->is_signal_probe()) ++count;
    return count >= 2;
}

bool is_latch_cell(const CDB_ATOM_NODE* node)
{
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    return info != nullptr && info->is_latch;
}

}  // namespace

MORV_LOG_MRL::MORV_LOG_MRL(MORV_API* fsyn_api) : MORV_LOG(fsyn_api)
{
    open_first_chunk();
}

MORV_LOG_MRL::MORV_LOG_MRL(const MORV_LOG_MRL& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api)
{
    open_first_chunk();
}

MORV_LOG_MRL::~MORV_LOG_MRL()
{
    MORV_LOG_MRL::clear_pending_entries();
    m_log_file.reset();
}

// The store-node-info list only names the records of the map, which frees
// them: each is freed once.
void MORV_LOG_MRL::clear_pending_entries()
{
    clear_pending_containers();
}

void MORV_LOG_MRL::write_pending_entries()
{
    write_pending_in_replay_order();
}

uint32_t MORV_LOG_MRL::kind_of(CDB_ATOM_NODE* node) const
{
    if (is_latch_cell(node)) return MORV_LOG_LATCH_NODE;
    return node->is_lcell_hsadder() ? MORV_LOG_HS_ADDER_NODE : MORV_LOG_NORMAL_NODE;
}

bool MORV_LOG_MRL::accepts(CDB_ATOM_NODE* node, uint32_t kind)
{
    if (!is_cell(node) || CUT_VIRTUAL_IO_UTIL::is_virtual_io(node)) return false;
    auto stored = m_store_node_info_map.find(static_cast<int32_t>(node->get_id()));
    if (stored != m_store_node_info_map.end()) {
        if (stored->second->m_type != LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO)
            mrl_error("log_entry->m_type == LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO", __LINE__);
        auto* entry = static_cast<LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO*>(stored->second.get());
        // A cell reached as a neighbour and then as another's neighbour, or
        // changed itself, is replayed as a normal cell.
        if (entry->m_node_kind != kind && entry->m_node_kind != MORV_LOG_HS_ADDER_NODE)
            entry->m_node_kind = MORV_LOG_NORMAL_NODE;
        return false;
    }
    return may_store_prior_state(node);
}

void MORV_LOG_MRL::store_node_info_before_change(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    if (m_recording_state) return;
    if (!accepts(node, kind_of(node))) return;
    ID_SET visited;
    ID_SET queue;
    store_node_info_with_related(node, kind_of(node), false, visited, queue);
    while (!queue.empty()) {
        const int32_t id = *queue.begin();
        queue.erase(queue.begin());
        if (CDB_ATOM_NODE* next = m_fsyn_api->get_node(id))
            store_node_info_with_related(next, kind_of(next), false, visited, queue);
    }
}

void MORV_LOG_MRL::store_node_info_with_related(CDB_ATOM_NODE* node, uint32_t kind, bool from_fed_cell, ID_SET& visited,
                                                ID_SET& queue)
{
    if (!accepts(node, kind) || !visited.insert(static_cast<int32_t>(node->get_id())).second) return;
    if (!from_fed_cell) walk_forward(node, visited, queue);
    if (!accepts(node, kind)) return;
    walk_backward(node, visited, queue);
    if (!accepts(node, kind)) return;
    store_node_info(node, kind);
    walk_onward(node, visited, queue);
}

// The cells this one's outputs feed: a plain cell's combinational fanouts,
// an adder cell's chain successor.
void MORV_LOG_MRL::walk_forward(CDB_ATOM_NODE* node, ID_SET& visited, ID_SET& queue)
{
    MORV_ASSERT(m_net_util);
    if (node->is_lcell_hsadder()) {
        for (CDB_ATOM_NODE* next : fed_cells(node, DB_CHAIN_OUT_0))
            store_node_info_with_related(next, MORV_LOG_HS_ADDER_NODE, false, visited, queue);
        return;
    }
    if (m_net_util->is_in_arithmetic_mode(node)) {
        for (CDB_ATOM_NODE* next : fed_cells(node, DB_CARRY_OUT))
            store_node_info_with_related(next, MORV_LOG_NORMAL_NODE, false, visited, queue);
        return;
    }
    if (is_latch_cell(node) || is_constant_driver(node)) return;
    for (CDB_ATOM_NODE* fanout : fed_cells(node, DB_COMB_OUT)) {
        const uint32_t kind = is_latch_cell(fanout)        ? MORV_LOG_LATCH_NODE
                              : fanout->is_lcell_hsadder() ? MORV_LOG_HS_ADDER_NODE
                                                           : MORV_LOG_FED_BY_STORED_NODE;
        store_node_info_with_related(fanout, kind, false, visited, queue);
    }
}

// The cells feeding this one, and the clock buffers it reads.
void MORV_LOG_MRL::walk_backward(CDB_ATOM_NODE* node, ID_SET& visited, ID_SET& queue)
{
    std::vector<CDB_ATOM_ITERM*> iterms(node->begin_iterm(), node->end_iterm());
    for (CDB_ATOM_ITERM* iterm : iterms) {
        if (!iterm->is_driven() || iterm->get_source() == nullptr) continue;
        CDB_ATOM_NODE* source = iterm->get_source()->get_my_node();
        if (CUT_CLKBUF_UTIL::is_pure_clkbuf(source)) {
            log_confirm_clkbuf(source);
            continue;
        }
        if (source == node || is_latch_cell(source) || !is_cell(source)) continue;
        const uint32_t kind = source->is_lcell_hsadder() ? MORV_LOG_HS_ADDER_NODE : MORV_LOG_FEEDS_STORED_NODE;
        store_node_info_with_related(source, kind, true, visited, queue);
    }
}

// After a plain cell whose output has several real fanouts, those fanouts
// are walked from afresh; an adder cell takes the rest of its chain along.
void MORV_LOG_MRL::walk_onward(CDB_ATOM_NODE* node, ID_SET& visited, ID_SET& queue)
{
    if (!m_net_util->is_in_arithmetic_mode(node)) {
        if (!node->is_lcell_comb()) mrl_error("node->is_lcell_comb()", __LINE__);
        if (!has_several_real_fanouts(node->get_output_term_by_type(DB_COMB_OUT))) return;
        for (CDB_ATOM_NODE* fanout : fed_cells(node, DB_COMB_OUT)) {
            const int32_t id = static_cast<int32_t>(fanout->get_id());
            if (visited.count(id) == 0 && accepts(fanout, kind_of(fanout))) queue.insert(id);
        }
        return;
    }
    const bool hs_adder = node->is_lcell_hsadder();
    for (CDB_ATOM_NODE* next : fed_cells(node, hs_adder ? DB_CHAIN_OUT_0 : DB_CARRY_OUT))
        store_node_info_with_related(next, hs_adder ? MORV_LOG_HS_ADDER_NODE : MORV_LOG_NORMAL_NODE, true, visited,
                                     queue);
}

void MORV_LOG_MRL::store_node_info(CDB_ATOM_NODE* node, uint32_t kind)
{
    LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry = file_store_node_info(node, kind);
    if (entry == nullptr) return;
    m_store_node_info_entries.push_back(entry);
    m_recording_state = true;
    record_input_states(entry, node, false);
    m_recording_state = false;
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if (!has_boundary_port(*it)) record_output(entry, *it);
    record_node_properties(entry, node);
    // A constant driver is rebuilt from its mask and output alone.
    if (entry->m_is_constant_driver) return;
    if (kind == MORV_LOG_LATCH_NODE) record_latch_roles(entry, node);
}

void MORV_LOG_MRL::log_confirm_clkbuf(CDB_ATOM_NODE* clkbuf)
{
    MORV_ASSERT(clkbuf);
    if (clkbuf->get_atom_type() != CDB_ATOM_MORLIN_CLKBUF_ENUM)
        mrl_error("node->get_atom_type() == CDB_ATOM_MORLIN_CLKBUF_ENUM", __LINE__);
    file_confirm_clkbuf(clkbuf);
}
