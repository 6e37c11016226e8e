#include "morv/netlist/morv_net_util.h"

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"

MORV_NET_UTIL::MORV_NET_UTIL(MORV_API* api, CDB_ATOM_NETLIST* atom_netlist, int max_lut_inputs)
    : m_api(api), m_timing(nullptr), m_cdb_interface(nullptr), m_atom_netlist(atom_netlist), m_max_lut_inputs(max_lut_inputs)
{
    MORV_ASSERT(m_api);
    m_timing = m_api->get_fsyn_timing();
    m_cdb_interface = m_api->get_fsyn_cdb_interface();
}

MORV_NET_UTIL::~MORV_NET_UTIL() {}

std::string MORV_NET_UTIL::get_hpath_name(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name ? name->get_hpath_to_root() : std::string();
}

std::string MORV_NET_UTIL::get_hpath_name(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(oterm);
    HDB_INSTANCE_NAME* name = oterm->get_instance_name();
    return name ? name->get_hpath_to_root() : std::string();
}
