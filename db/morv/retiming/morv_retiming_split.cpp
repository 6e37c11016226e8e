// Node splitting by fanout register class: a cell whose fanout registers
// cannot move together is copied so that each copy drives registers of one
// class only (or only terms without a movable register), and the next
// iteration can push each copy on its own.
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming.h"

namespace {

// Splits that would make this many copies or more are not done.
constexpr int k_max_split_copies = 5;

// The class of the list that rec belongs to, -1 when none.
int find_class(MORV_RETIMING* rtm, std::vector<RETIME_REG>& classes, RETIME_REG& rec)
{
    for (size_t k = 0; k < classes.size(); ++k)
        if (classes[k].clear_low == rec.clear_low && rtm->is_register_compatible(classes[k], rec))
            return static_cast<int>(k);
    return -1;
}

}  // namespace

// A cell that loads thousands of registers under as many controls would
// have each compared with every other: the count stops where the split is
// refused anyway.
int MORV_RETIMING::count_split_copies(const std::vector<CDB_ATOM_ITERM*>& fanouts, int limit)
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    const bool traced = stream.is_enabled() && stream.get_threshold() >= 100;
    std::vector<RETIME_REG> classes;
    int copies = 0;
    bool other_fanout = false;
    for (CDB_ATOM_ITERM* t : fanouts) {
        if (copies >= limit && !traced) break;
        ++m_split_fanouts_read;
        RETIME_REG rec;
        if (backward_push_get_reg(t, rec, true) != nullptr) {
            if (find_class(this, classes, rec) >= 0) continue;
            if (!classes.empty()) ++copies;
            classes.push_back(rec);
        } else if (!other_fanout) {
            other_fanout = true;
            ++copies;
        }
    }
    return copies;
}

// A copy of the cell for one output, placed beside it (when it is placed)
// and recorded as a split.
CDB_ATOM_NODE* MORV_RETIMING::make_split_copy(CDB_ATOM_NODE* node, const char* node_text, const char* oterm_text)
{
    CDB_ATOM_NODE* copy = m_fsyn_api->duplicate_oterm(node, DB_COMB_OUT, true);
    MORV_ASSERT_TEXT(copy, node_text);
    MORV_ASSERT_TEXT(copy->get_output_term_by_type(DB_COMB_OUT), oterm_text);
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_LOC location;
    const bool placed = chip_map != nullptr &&
                        chip_map->get_node_location(static_cast<int>(node->get_id()), &location) &&
                        location.x != MORV_OPEN && location.y != MORV_OPEN;
    if (placed) {
        copy_location(node, copy);
    } else {
        m_fsyn_api->node_added(copy, node, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
        m_live_nodes.insert(copy);
        ++m_created_node_count;
    }
    m_fsyn_api->get_fsyn_nt()->record_operation(static_cast<int>(node->get_id()), static_cast<int>(copy->get_id()),
                                                MORV_NT_TYPE_SPLIT, "SPLIT");
    return copy;
}

int MORV_RETIMING::split_node(CDB_ATOM_NODE* node, const std::vector<CDB_ATOM_ITERM*>& fanouts)
{
    MORV_ASSERT_TEXT(node, "node");
    std::vector<RETIME_REG> classes;
    std::vector<CDB_ATOM_NODE*> serving;
    CDB_ATOM_NODE* no_reg_node = nullptr;
    int handled = 0;
    for (CDB_ATOM_ITERM* t : fanouts) {
        RETIME_REG rec;
        if (backward_push_get_reg(t, rec, true) != nullptr) {
            const int k = find_class(this, classes, rec);
            CDB_ATOM_NODE* target = k >= 0 ? serving[static_cast<size_t>(k)] : node;
            if (k < 0 && !classes.empty()) target = make_split_copy(node, "new_node", "new_oterm");
            if (k < 0) {
                classes.push_back(rec);
                serving.push_back(target);
            }
            move_iterm(t, target->get_output_term_by_type(DB_COMB_OUT));
        } else {
            if (no_reg_node == nullptr) no_reg_node = make_split_copy(node, "no_reg_node", "no_reg_node_combout");
            move_iterm(t, no_reg_node->get_output_term_by_type(DB_COMB_OUT));
        }
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        ++handled;
    }
    return handled;
}

int MORV_RETIMING::split_nodes()
{
    MORV_DEBUG_STREAM::print(100, "split_nodes()");
    int count = 0;
    // Copied: a split adds its copies to the live set, never to this queue.
    std::vector<CDB_ATOM_NODE*> queued;
    for (CDB_ATOM_NODE* n : m_split_set) queued.push_back(n);
    for (CDB_ATOM_NODE* n : queued) {
        if (!m_live_nodes.contains(n) || !m_net_util->is_lcell(n) || m_net_util->is_lcell_hsadder(n)) continue;
        MORV_DEBUG_STREAM::print(100, "Attempting to split node: %u", n->get_id());
        // Chain cells stay whole, and a chain cell may have no combinational
        // output at all: ask about the chain before reading that output.
        if (m_net_util->is_carry_in_connected(n) || m_net_util->has_carry_out_fanout(n)) continue;
        CDB_ATOM_OTERM* combout = n->get_output_term_by_type(DB_COMB_OUT);
        if (combout == nullptr || m_fsyn_api->is_oterm_dont_touch(combout, AMM_OP_FITTER_FSYN_RETIME)) continue;
        std::vector<CDB_ATOM_ITERM*> fanouts;
        bool global = false;
        for (auto it = combout->begin_iterm_fanout(); it != combout->end_iterm_fanout(); ++it) {
            fanouts.push_back(*it);
            global = global || (*it)->get_global() != 0;
        }
        if (global || count_split_copies(fanouts, k_max_split_copies) >= k_max_split_copies) continue;
        count += split_node(n, fanouts);
    }
    return count;
}
