// A stored prior state is the node as the recording compile found it. A
// replay rebuilds it over the node of the same name here; when the design
// was changed since the recording, that node is other logic, and the
// rebuild puts the recorded logic in place of the user's change. The replay
// goes on (the log is what the user asked for), but says so, naming the node.

#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_msgs.h"
#include "morv/log/morv_log.h"

namespace {

constexpr uintptr_t PRIOR_STATE_UNCONNECTED = 0;
constexpr uintptr_t PRIOR_STATE_GND = 1;
constexpr uintptr_t PRIOR_STATE_VCC = 2;
// The node's own output (a latch's feedback): the rebuild moves it to the
// new cell, so it is the same read on both sides.
constexpr uintptr_t PRIOR_STATE_OWN_OUTPUT = 3;

// A cell whose outputs are functions of its LUT inputs alone.
bool prior_state_comparable(const CDB_ATOM_NODE* node)
{
    return node != nullptr && node->is_lcell_comb() && !node->is_lcell_hsadder();
}

uintptr_t prior_state_read(const CDB_ATOM_NODE* node, int slot)
{
    const CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(node->get_evaluate_input_port(slot));
    if (iterm == nullptr || !iterm->is_connected()) return PRIOR_STATE_UNCONNECTED;
    if (const CDB_ATOM_OTERM* source = iterm->get_source())
        return source->get_my_node() == node ? PRIOR_STATE_OWN_OUTPUT : reinterpret_cast<uintptr_t>(source);
    if (iterm->is_vcc()) return PRIOR_STATE_VCC;
    return iterm->is_gnd() ? PRIOR_STATE_GND : PRIOR_STATE_UNCONNECTED;
}

bool prior_state_is_signal(uintptr_t read)
{
    return read >= PRIOR_STATE_OWN_OUTPUT;
}

// The same source on every input that carries a signal, and the same value
// on every logged output for every value of those inputs; a constant or an
// open input counts by its value alone. Inversions of the inputs are
// records of their own after the state and are left out on both sides.
bool prior_state_same_logic(const MORV_LOG_LUT_READS& before, const CDB_ATOM_NODE* cell,
                            const std::vector<int32_t>& outputs)
{
    int signals[MORV_LOG_LUT_READS::SLOTS];
    int signal_count = 0;
    unsigned old_in[MORV_LOG_LUT_READS::SLOTS] = {};
    unsigned new_in[MORV_LOG_LUT_READS::SLOTS] = {};
    for (int slot = 0; slot < MORV_LOG_LUT_READS::SLOTS; ++slot) {
        const uintptr_t old_read = before.reads[slot];
        const uintptr_t new_read = prior_state_read(cell, slot);
        if (prior_state_is_signal(old_read) || prior_state_is_signal(new_read)) {
            if (old_read != new_read) return false;
            signals[signal_count++] = slot;
            continue;
        }
        old_in[slot] = old_read == PRIOR_STATE_VCC ? 1u : 0u;
        new_in[slot] = new_read == PRIOR_STATE_VCC ? 1u : 0u;
    }
    for (unsigned row = 0; row < (1u << signal_count); ++row) {
        for (int k = 0; k < signal_count; ++k) old_in[signals[k]] = new_in[signals[k]] = (row >> k) & 1u;
        for (int32_t port : outputs) {
            const unsigned old_value = before.node->evaluate_output(port, old_in);
            const unsigned new_value = cell->evaluate_output(port, new_in);
            if (old_value == CDB_ATOM_NODE::NO_LUT_VALUE || new_value == CDB_ATOM_NODE::NO_LUT_VALUE) continue;
            if (old_value != new_value) return false;
        }
    }
    return true;
}

}  // namespace

MORV_LOG_LUT_READS MORV_LOG::read_recorded_node(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry)
{
    MORV_LOG_LUT_READS before;
    CDB_ATOM_NODE* node = find_node_by_logged_name(entry->m_node_name);
    if (node == nullptr && !entry->m_output_port_name.empty())
        if (CDB_ATOM_OTERM* oterm = find_oterm_by_logged_name(entry->m_output_port_name.front()))
            node = oterm->get_my_node();
    if (!prior_state_comparable(node)) return before;
    before.node = node;
    for (int slot = 0; slot < MORV_LOG_LUT_READS::SLOTS; ++slot) before.reads[slot] = prior_state_read(node, slot);
    return before;
}

void MORV_LOG::warn_if_changed_since_recording(const LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO* entry,
                                               const MORV_LOG_LUT_READS& before, CDB_ATOM_NODE* cell)
{
    if (before.node == nullptr || !prior_state_comparable(cell)) return;
    if (prior_state_same_logic(before, cell, entry->m_output_ports)) return;
    morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING, entry->m_node_name));
}
