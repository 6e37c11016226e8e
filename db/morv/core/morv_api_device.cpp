// The facade's device data: the current device and its die, placement and
// structured-ASIC (FL) records, each fetched once, and the FL cells of the
// atoms of families that have them.

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_morlin_legalizer.h"
#include "dev/dev_device.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"

namespace {

// The FL record field that holds a cell's value.
constexpr int FL_CELL_VALUE_FIELD = 4;

}  // namespace

DEV_DEVICE* MORV_API::get_device()
{
    if (m_device == nullptr) m_device = DMGR_UTILITY::get_current_device();
    MORV_ASSERT_TEXT(m_device, "dev_device");
    return m_device;
}

DEV_DIE_INFO* MORV_API::get_device_die_info()
{
    if (m_dev_die_info == nullptr) m_dev_die_info = get_device()->get_die_info();
    return m_dev_die_info;
}

DUVO_DIE_INFO* MORV_API::get_duvo_die_info()
{
    if (m_duvo_die_info == nullptr) {
        DEV_DIE_INFO* dev_die_info = get_device_die_info();
        MORV_ASSERT(dev_die_info);
        m_duvo_die_info = dev_die_info->get_duvo_die_info();
    }
    return m_duvo_die_info;
}

DUVO_PLACE_INFO* MORV_API::get_duvo_place_info()
{
    if (m_duvo_place_info == nullptr) {
        DUVO_DIE_INFO* duvo_die_info = get_duvo_die_info();
        MORV_ASSERT(duvo_die_info);
        m_duvo_place_info = duvo_die_info->get_place_info();
    }
    return m_duvo_place_info;
}

DEV_FL_INFO* MORV_API::get_device_fl_info()
{
    if (m_device_fl_info == nullptr) {
        DEV_DEVICE* current_device = DMGR_UTILITY::get_current_device();
        MORV_ASSERT(current_device);
        m_device_fl_info = current_device->get_fl_info();
    }
    MORV_ASSERT(m_device_fl_info);
    return m_device_fl_info;
}

void MORV_API::assert_fl_family(const char* text) const
{
    MORV_ASSERT_TEXT(morv_family_traits(m_base_family).m_fl_cells, text);
}

CUT_ATOM_MORLIN_LEGALIZER* MORV_API::get_atom_legalizer()
{
    assert_fl_family("get_base_family_code() == DEV_FAMILY_MORLIN");
    if (m_atom_legalizer == nullptr) {
        m_atom_legalizer = MORV_MAKE_OWNER(CUT_ATOM_MORLIN_LEGALIZER, get_device_fl_info());
        MORV_ASSERT(m_morv_env);
        m_atom_legalizer->set_boundary_port_manager(m_morv_env->get_boundary_port_manager());
    }
    MORV_ASSERT(m_atom_legalizer);
    return m_atom_legalizer.get();
}

int MORV_API::get_fl_id_from_atom_properties(CDB_ATOM_NODE* node)
{
    assert_fl_family("get_base_family_code() == DEV_FAMILY_MORLIN");
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb() || node->is_lcell_ff());
    return get_atom_legalizer()->get_fl_id_from_atom_properties(node);
}

int MORV_API::get_stored_fl_id(CDB_ATOM_NODE* node)
{
    assert_fl_family("get_base_family_code() == DEV_FAMILY_MORLIN");
    MORV_ASSERT(node);
    return get_atom_legalizer()->get_stored_fl_id(node);
}

void MORV_API::set_fl_id(CDB_ATOM_NODE* node, int fl_id)
{
    assert_fl_family("get_base_family_code() == DEV_FAMILY_MORLIN");
    MORV_ASSERT(node);
    get_atom_legalizer()->set_fl_id(node, fl_id);
}

int MORV_API::get_fl_cell_record_type(CDB_ATOM_NODE* node)
{
    assert_fl_family("get_base_family_code() == DEV_FAMILY_MORLIN");
    return get_device_fl_info()->get_cell_record_type(get_stored_fl_id(node));
}

// A cell of a special record type has no value of its own.
int MORV_API::get_fl_cell_value(CDB_ATOM_NODE* node)
{
    if (!morv_family_traits(m_base_family).m_fl_cells) return -1;
    if (get_fl_cell_record_type(node) != 0) return 0;
    DEV_FL_INFO* device_fl_info = get_device_fl_info();
    MORV_ASSERT(device_fl_info);
    const int dev_fl_id = get_stored_fl_id(node);
    MORV_ASSERT(dev_fl_id != DEV_ILLEGAL_FL_ID);
    int value = -1;
    const bool success = device_fl_info->get_field(dev_fl_id, FL_CELL_VALUE_FIELD, &value);
    MORV_ASSERT(success);
    return value;
}

int MORV_API::get_oterm_fl_value(CDB_ATOM_OTERM* oterm)
{
    if (!morv_family_traits(m_base_family).m_fl_cells) return -1;
    return m_morv_env->get_oterm_fl_id(oterm);
}

int MORV_API::count_mac_nodes() const
{
    int count = 0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist)
        if (node->is_mac_out() || node->is_mac_mult()) ++count;
    return count;
}
