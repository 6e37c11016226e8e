#include "morv/rammap/morv_ram_map_util.h"

#include "bdd/bdd_jbdd.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

MORV_RAM_MAP_UTIL* MORV_RAM_MAP_UTIL::m_instance = nullptr;

MORV_RAM_MAP_UTIL::MORV_RAM_MAP_UTIL(MORV_API* api, MORV_NET_UTIL* net_util)
    : m_fsyn_api(api), m_fsyn_net_util(net_util)
{
    MORV_ASSERT(m_fsyn_api);
    m_fsyn_timing = m_fsyn_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(m_fsyn_timing, "m_fsyn_timing");
    m_fsyn_cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
    MORV_ASSERT(m_fsyn_net_util);
    m_instance = this;
}

MORV_RAM_MAP_UTIL::~MORV_RAM_MAP_UTIL()
{
    if (m_bdd_mgr) m_bdd_mgr->garbage_collect();
    m_bdd_mgr.reset();
    if (m_instance == this) m_instance = nullptr;
}

MORV_RAM_MAP_UTIL* MORV_RAM_MAP_UTIL::get_instance()
{
    MORV_ASSERT_TEXT(m_instance, "m_instance");
    return m_instance;
}

BDD_JBDD_MGR* MORV_RAM_MAP_UTIL::get_bdd_manager()
{
    if (!m_bdd_mgr) {
        m_bdd_mgr = MORV_MAKE_OWNER(BDD_JBDD_MGR, 50, 5000, 1000, false, false);
        m_bdd_mgr->disable_reorder();
    }
    return m_bdd_mgr.get();
}

// ---------------------------------------------------------------- cell steps

HDB_INSTANCE_NAME* MORV_RAM_MAP_UTIL::cell_name(CDB_ATOM_NODE* base, const char* suffix) const
{
    MORV_ASSERT(base);
    return HDB_INSTANCE_NAME::create_synthesized_name(base->get_instance_name(), suffix, true);
}

CDB_ATOM_ITERM* MORV_RAM_MAP_UTIL::new_input(CDB_ATOM_NODE* node, int port_type)
{
    CDB_ATOM_ITERM* iterm = nullptr;
    m_fsyn_cdb_interface->create_input_term(nullptr, iterm, node, port_type, 0);
    MORV_ASSERT(iterm);
    return iterm;
}

CDB_ATOM_OTERM* MORV_RAM_MAP_UTIL::new_output(CDB_ATOM_NODE* node, int port_type)
{
    CDB_ATOM_OTERM* oterm = nullptr;
    m_fsyn_cdb_interface->create_oterm(nullptr, oterm, node, port_type, node->get_instance_name());
    MORV_ASSERT(oterm);
    return oterm;
}

void MORV_RAM_MAP_UTIL::rewire(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* driver)
{
    if (iterm->is_connected()) m_fsyn_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    m_fsyn_net_util->insert_fanout(driver, iterm);
}

void MORV_RAM_MAP_UTIL::rewire_keeping_properties(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* driver,
                                                  CDB_ATOM_ITERM* properties_to)
{
    MORV_ITERM_PROPERTIES saved;
    m_fsyn_net_util->save_iterm_properties(iterm, &saved);
    CDB_ATOM_OTERM* source = iterm->get_source();
    rewire(properties_to, source);
    rewire(iterm, driver);
    m_fsyn_net_util->restore_iterm_properties(saved, properties_to);
    // The moved term keeps its own inversion, so the LUT reads the value plainly.
    m_fsyn_net_util->clear_invert(properties_to);
}

void MORV_RAM_MAP_UTIL::place_and_announce(CDB_ATOM_NODE* cell, CDB_ATOM_NODE* origin)
{
    if (MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map()) {
        MORV_LOC loc;
        loc.x = 0;
        loc.y = 0;
        chip_map->set_node_location(static_cast<int>(cell->get_id()), loc);
    }
    m_fsyn_api->node_added(cell, origin, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, nullptr);
}

CDB_LUTMASK MORV_RAM_MAP_UTIL::family_mask(uint64_t rows, int row_inputs) const
{
    const MORV_FAMILY_TRAITS& traits = morv_family_traits(m_fsyn_api->get_base_family_code());
    const int inputs = traits.m_lut_size;
    const int period = 1 << row_inputs;
    uint64_t value = 0;
    for (int row = 0; row < (1 << inputs); ++row)
        if ((rows >> (row % period)) & 1u) value |= uint64_t(1) << row;
    CDB_LUTMASK mask(inputs, value);
    if (traits.m_mask_bits_reversed) mask.mirror_mask();
    return mask;
}

void MORV_RAM_MAP_UTIL::tie_to_vcc(CDB_ATOM_ITERM* iterm)
{
    if (iterm->get_source() != nullptr) m_fsyn_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    m_fsyn_cdb_interface->set_iterm_vcc(iterm);
}

void MORV_RAM_MAP_UTIL::copy_timing_to_input_registers(CDB_ATOM_OTERM* source, CDB_ATOM_NODE* ram)
{
    const int width = CUT_RAM_UTIL::get_address_width(ram, 0);
    const int port_type = CUT_RAM_UTIL::get_observable_port_type(DB_RAM_PORTA_ADDRESS);
    for (int k = 0; k < width; ++k) {
        CDB_ATOM_OTERM* regout = ram->get_output_term_by_type(port_type, k);
        MORV_ASSERT_TEXT(regout, "regout");
        m_fsyn_api->copy_oterm_timing_assignment(source, regout);
        MORV_DEBUG_STREAM::print(100, "RAM_MAP: copying timing constraint to input register {%s}",
                                 MORV_NET_UTIL::get_hpath_name(regout).c_str());
    }
}
