#include "morv/rtm/morv_rtm_edit.h"

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"

namespace {

MORV_LOG* change_log(MORV_API* api)
{
    MORV_CDB_INTERFACE* cdb = api->get_fsyn_cdb_interface();
    return cdb != nullptr && cdb->is_logging() ? cdb->get_fsyn_log() : nullptr;
}

}  // namespace

void morv_rtm_disconnect(MORV_API* api, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    api->modify_edge(iterm, true);
    if (MORV_LOG* log = change_log(api); log != nullptr && iterm->is_connected()) log->log_disconnection(iterm);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
}

void morv_rtm_connect(MORV_API* api, CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(source, "src_oterm");
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (MORV_LOG* log = change_log(api)) log->log_connection(source, iterm);
    source->insert_fanout(iterm);
    api->modify_edge(iterm, false);
}

void morv_rtm_move_iterm(MORV_API* api, CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* source)
{
    morv_rtm_disconnect(api, iterm);
    morv_rtm_connect(api, source, iterm);
}

void morv_rtm_place_like(MORV_API* api, CDB_ATOM_NODE* node, CDB_ATOM_NODE* origin)
{
    MORV_ASSERT_TEXT(node, "new_node");
    MORV_ASSERT_TEXT(origin, "origin");
    MORV_CHIP_MAP* chip_map = api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map == nullptr || !chip_map->get_node_location(static_cast<int>(origin->get_id()), &location)) return;
    if (location.x == MORV_OPEN || location.y == MORV_OPEN) return;
    chip_map->place_new_node_near(static_cast<int>(node->get_id()), location);
}
