// The netlist edits of the shift-register reduction: new OBRAN cells and
// registers next to a base node, inverters, connections, each announced.

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_internal.h"

namespace {

constexpr uint64_t k_inverter_mask = 0xAAAAAAAAAAAAAAAAull;  // NOT A, reversed bit order

}  // namespace

CDB_ATOM_ITERM* MORV_SHIFT_REG_MANAGER::new_iterm(CDB_ATOM_NODE* node, int port_type)
{
    CDB_ATOM_ITERM* iterm = nullptr;
    m_fsyn_cdb_interface->create_input_term(nullptr, iterm, node, port_type, 0);
    MORV_ASSERT_TEXT(iterm, "new_iterm");
    return iterm;
}

// Before placement the base node may have no LAB yet; the new node then
// waits for the placement like the rest.
void MORV_SHIFT_REG_MANAGER::place_and_announce(CDB_ATOM_NODE* node, CDB_ATOM_NODE* base_node)
{
    MORV_ASSERT_TEXT(node, "new_node");
    MORV_CHIP_MAP* chip_map = m_api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map != nullptr && chip_map->get_node_location(static_cast<int>(base_node->get_id()), &location) &&
        location.x != MORV_OPEN && location.y != MORV_OPEN) {
        MORV_LOC target;
        target.x = location.x;
        target.y = location.y;
        chip_map->set_node_location(static_cast<int>(node->get_id()), target);
    }
    m_api->node_added(node, base_node, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
}

CDB_ATOM_NODE* MORV_SHIFT_REG_MANAGER::create_shred_lcell(CDB_ATOM_NODE* base_node)
{
    HDB_INSTANCE_NAME* base = base_node->get_instance_name();
    HDB_INSTANCE_NAME* name = m_net_util->make_unique_instance_name(base, "_shred");
    CDB_ATOM_NODE* node = m_fsyn_cdb_interface->create_lcell_comb_obran(nullptr, name);
    MORV_ASSERT_TEXT(node, "new_node");
    const std::pair<int, const char*> outputs[] = {{DB_COMB_OUT, nullptr},
                                                   {DB_SUM_OUT, "_shred_sum"},
                                                   {DB_CARRY_OUT, "_shred_carry"},
                                                   {DB_SHARE_OUT, "_shred_share"}};
    for (const auto& [port, suffix] : outputs) {
        CDB_ATOM_OTERM* oterm = nullptr;
        HDB_INSTANCE_NAME* oterm_name = suffix == nullptr ? name : m_net_util->make_unique_instance_name(base, suffix);
        m_fsyn_cdb_interface->create_oterm(nullptr, oterm, node, port, oterm_name);
        MORV_ASSERT_TEXT(oterm, "combout");
    }
    place_and_announce(node, base_node);
    return node;
}

CDB_ATOM_NODE* MORV_SHIFT_REG_MANAGER::create_shred_register(CDB_ATOM_NODE* base_node, const SIGNALS& signals)
{
    HDB_INSTANCE_NAME* name = m_net_util->make_unique_instance_name(base_node->get_instance_name(), "_shred");
    CDB_ATOM_NODE* node = m_fsyn_cdb_interface->create_ff_obran(nullptr, name);
    MORV_ASSERT_TEXT(node, "new_node");
    CDB_ATOM_OTERM* regout = nullptr;
    m_fsyn_cdb_interface->create_oterm(nullptr, regout, node, DB_REG_OUT, name);
    MORV_ASSERT_TEXT(regout, "regout");
    CDB_ATOM_ITERM* clock = new_iterm(node, DB_CLOCK);
    CDB_ATOM_ITERM* clear = new_iterm(node, DB_CLEAR);
    new_iterm(node, DB_DATAIN);
    place_and_announce(node, base_node);
    const std::pair<CDB_ATOM_ITERM*, const MORV_SIGNAL*> controls[] = {{clock, &signals.clock},
                                                                       {clear, &signals.clear}};
    for (const auto& [iterm, signal] : controls) {
        if (signal->m_oterm == nullptr) continue;
        connect(signal->m_oterm, iterm);
        m_fsyn_cdb_interface->set_iterm_properties(iterm, signal->m_inverted, static_cast<int>(signal->m_global_type),
                                                   false, false, -1, false);
    }
    return node;
}

CDB_ATOM_NODE* MORV_SHIFT_REG_MANAGER::duplicate_register(CDB_ATOM_NODE* reg)
{
    CDB_ATOM_NODE* copy = m_api->duplicate_oterm(reg, DB_REG_OUT, true);
    MORV_ASSERT_TEXT(copy, "first_reg_node");
    place_and_announce(copy, reg);
    return copy;
}

CDB_ATOM_OTERM* MORV_SHIFT_REG_MANAGER::insert_inverter_after(NODE_SET* set, CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "the_oterm");
    CDB_ATOM_NODE* inverter = create_shred_lcell(oterm->get_my_node());
    CDB_ATOM_ITERM* in = new_iterm(inverter, DB_DATA_A);
    set_mask(inverter, CDB_LUTMASK(6, k_inverter_mask));
    CDB_ATOM_OTERM* out = inverter->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(out, "combout");
    m_net_util->adopt_fanouts(out, oterm);
    connect(oterm, in);
    if (set != nullptr) set->insert(inverter);
    return out;
}

void MORV_SHIFT_REG_MANAGER::insert_inverter_before(NODE_SET* set, CDB_ATOM_ITERM* the_iterm)
{
    MORV_ASSERT_TEXT(the_iterm && the_iterm->get_source(), "the_iterm && the_iterm->get_source()");
    CDB_ATOM_NODE* inverter = create_shred_lcell(the_iterm->get_my_node());
    CDB_ATOM_ITERM* in = new_iterm(inverter, DB_DATA_A);
    set_mask(inverter, CDB_LUTMASK(6, k_inverter_mask));
    CDB_ATOM_OTERM* source = the_iterm->get_source();
    connect(source, in);
    disconnect(the_iterm);
    connect(inverter->get_output_term_by_type(DB_COMB_OUT), the_iterm);
    if (set != nullptr) set->insert(inverter);
}

CDB_ATOM_ITERM* MORV_SHIFT_REG_MANAGER::get_single_data_input(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node && node->is_lcell_comb(), "node && node->is_lcell_comb()");
    CDB_ATOM_ITERM* single = nullptr;
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F, DB_DATA_G}) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (single != nullptr) return nullptr;
        single = iterm;
    }
    return single;
}

void MORV_SHIFT_REG_MANAGER::connect(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm)
{
    m_net_util->insert_fanout(source, iterm);
}

void MORV_SHIFT_REG_MANAGER::disconnect(CDB_ATOM_ITERM* iterm)
{
    m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
}

void MORV_SHIFT_REG_MANAGER::set_mask(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask)
{
    m_fsyn_cdb_interface->set_lutmask(node, mask, 0);
    m_api->modify_node(node);
}

// The physical tie and the inversion together give the logical value: a
// GND tie stays 0 and a VCC tie 1 whatever the inversion makes of them.
void MORV_SHIFT_REG_MANAGER::copy_tie(const CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to)
{
    if (from->is_vcc()) m_fsyn_cdb_interface->set_iterm_vcc(to);
    else if (from->is_gnd()) m_fsyn_cdb_interface->set_iterm_gnd(to);
    if (from->is_inverted()) m_fsyn_cdb_interface->set_iterm_properties(to, true, 0, false, false, -1, false);
}
