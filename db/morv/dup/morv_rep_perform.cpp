// The edit of the timing-driven mode: the copy, its location and the sinks
// it takes over.

#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/dup/morv_rep.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

bool MORV_REP::perform_duplication(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* iterm, int x, int y, int gain)
{
    CDB_ATOM_OTERM* oterm_old = iterm->get_source();
    MORV_ASSERT_TEXT(oterm_old != nullptr, "oterm_old != NULL");
    const int port_type = oterm_old->get_any_usage_as();
    CDB_ATOM_NODE* copy = m_fsyn_api->duplicate_oterm(source, port_type, true);
    if (copy == nullptr) return false;
    m_fsyn_api->node_added(copy, source, MORV_MODIFICATION_DUPLICATE, port_type, true, nullptr);
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_ASSERT_TEXT(chip_map, "chip_map");
    chip_map->set_node_location(static_cast<int>(copy->get_id()), MORV_LOC{x, y, -1, -1});
    note_node_location(copy, x, y);
    CDB_ATOM_OTERM* oterm_new = copy->get_output_term_by_type(port_type);
    MORV_ASSERT_TEXT(oterm_old && oterm_new && iterm, "oterm_old && oterm_new && iterm");
    adopt_fanouts(oterm_old, oterm_new, iterm, gain);
    add_node_usage(copy);
    return true;
}

// The copy serves every sink in the critical sink's LAB, not just that one.
void MORV_REP::adopt_fanouts(CDB_ATOM_OTERM* old_oterm, CDB_ATOM_OTERM* new_oterm, CDB_ATOM_ITERM* iterm, int gain)
{
    CDB_ATOM_NODE* dst_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(dst_node != nullptr, "dst_node != NULL");
    int dx = -1, dy = -1;
    m_fsyn_api->get_block_location(dst_node, &dx, &dy);
    std::vector<CDB_ATOM_ITERM*> adopted;
    for (auto it = old_oterm->begin_iterm_fanout(); it != old_oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_NODE* node = (*it)->get_my_node();
        MORV_ASSERT_TEXT(node, "node");
        int x = -1, y = -1;
        m_fsyn_api->get_block_location(node, &x, &y);
        if (x == dx && y == dy) adopted.push_back(*it);
    }
    for (CDB_ATOM_ITERM* sink : adopted) {
        MORV_DEBUG_STREAM::print(100, "adopting iterm: %s", iterm_label(sink).c_str());
        MORV_ITERM_PROPERTIES properties;
        m_fsyn_net_util->save_iterm_properties(sink, &properties);
        if (MORV_REP_CANDIDATE* record = find_candidate(sink); record != nullptr) {
            record->processed = true;
            record->gain = gain;
            note_gain(record);
        }
        move_iterm(sink, new_oterm);
        m_fsyn_net_util->restore_iterm_properties(properties, sink);
    }
}

void MORV_REP::move_iterm(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* new_source)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_CDB_INTERFACE* cdb = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_LOG* log = cdb != nullptr && cdb->is_logging() ? cdb->get_fsyn_log() : nullptr;
    m_fsyn_api->modify_edge(iterm, true);
    if (log != nullptr && iterm->is_connected()) log->log_disconnection(iterm);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    if (log != nullptr) log->log_connection(new_source, iterm);
    new_source->insert_fanout(iterm);
    m_fsyn_api->modify_edge(iterm, false);
}
