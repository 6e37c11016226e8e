#include "morv/rammap/morv_ram_map_util_family.h"

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "dev/dev_device.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

namespace {

template <typename RAM>
CDB_ATOM_NODE* new_ram(HDB_INSTANCE_NAME* name, const CDB_RAM_FLAG_SET& flags)
{
    // The stand-in's atoms are plain objects until the facade takes them in.
    RAM* ram = new RAM();
    ram->set_instance_name(name);
    CUT_RAM_UTIL::set_ram_mode(ram, 0, flags);
    return ram;
}

}  // namespace

// The memory-initialisation file name is carried by the slice and
// reconfiguration information the builder sets afterwards.
#define MORV_RAM_MAP_UTIL_DEFINE(NAME, RAM, GAIN, FF_TEST, BITS, LUT_FACTORY, REG_FACTORY)                             \
    bool NAME::counts_outputs_in_gain() const                                                                          \
    {                                                                                                                  \
        return GAIN;                                                                                                   \
    }                                                                                                                  \
    CDB_ATOM_NODE* NAME::create_ram_atom(HDB_INSTANCE_NAME* name, const std::string&, const CDB_RAM_FLAG_SET& flags)   \
    {                                                                                                                  \
        return new_ram<RAM>(name, flags);                                                                              \
    }                                                                                                                  \
    bool NAME::is_ff(CDB_ATOM_NODE* node) const                                                                        \
    {                                                                                                                  \
        return node->FF_TEST();                                                                                        \
    }                                                                                                                  \
    int NAME::get_ram_block_bits() const                                                                               \
    {                                                                                                                  \
        return BITS;                                                                                                   \
    }                                                                                                                  \
    CDB_ATOM_NODE* NAME::create_lut_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name)                                \
    {                                                                                                                  \
        return m_fsyn_cdb_interface->LUT_FACTORY(segment, name);                                                       \
    }                                                                                                                  \
    CDB_ATOM_NODE* NAME::create_register_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name)                           \
    {                                                                                                                  \
        return m_fsyn_cdb_interface->REG_FACTORY(segment, name);                                                       \
    }

// clang-format off
MORV_RAM_MAP_UTIL_DEFINE(MORV_RAM_MAP_UTIL_TEV, CDB_ATOM_SORVEXII_EC, true, is_lcell_ff, 4096, create_lcell_comb_sorvexii, create_lcell_ff_sorvexii)
MORV_RAM_MAP_UTIL_DEFINE(MORV_RAM_MAP_UTIL_ZEP, CDB_ATOM_ZEPLA_EC, false, is_ff, 8192, create_lcell_comb_zepla, create_ff_zepla)
MORV_RAM_MAP_UTIL_DEFINE(MORV_RAM_MAP_UTIL_BRK, CDB_ATOM_BRK_EC, true, is_lcell_ff, 4096, create_lcell_comb_brk, create_lcell_ff_brk)
MORV_RAM_MAP_UTIL_DEFINE(MORV_RAM_MAP_UTIL_OBR, CDB_ATOM_OBRAN_EC, false, is_ff, 8192, create_lcell_comb_obran, create_ff_obran)
MORV_RAM_MAP_UTIL_DEFINE(MORV_RAM_MAP_UTIL_KESTLIN, CDB_ATOM_RZK_EC, false, is_ff, 8192, create_lcell_comb_rzk, create_ff_kestlin)
MORV_RAM_MAP_UTIL_DEFINE(MORV_RAM_MAP_UTIL_RZK, CDB_ATOM_RZK_EC, false, is_ff, 8192, create_lcell_comb_rzk, create_ff_rzk)
// clang-format on
#undef MORV_RAM_MAP_UTIL_DEFINE

MORV_OWNER<MORV_RAM_MAP_UTIL> MORV_RAM_MAP_UTIL::create_for_family(MORV_API* api)
{
    MORV_NET_UTIL* net_util = api->get_fsyn_net_util();
    switch (api->get_base_family_code()) {
    case DEV_FAMILY_TEV: return MORV_MAKE_OWNER(MORV_RAM_MAP_UTIL_TEV, api, net_util);
    case DEV_FAMILY_ZEPLA:
    case DEV_FAMILY_ZEPLA_II: return MORV_MAKE_OWNER(MORV_RAM_MAP_UTIL_ZEP, api, net_util);
    case DEV_FAMILY_BRENNOCK: return MORV_MAKE_OWNER(MORV_RAM_MAP_UTIL_BRK, api, net_util);
    case DEV_FAMILY_OBRAN: return MORV_MAKE_OWNER(MORV_RAM_MAP_UTIL_OBR, api, net_util);
    case DEV_FAMILY_KESTLIN: return MORV_MAKE_OWNER(MORV_RAM_MAP_UTIL_KESTLIN, api, net_util);
    case DEV_FAMILY_RZK: return MORV_MAKE_OWNER(MORV_RAM_MAP_UTIL_RZK, api, net_util);
    default: return MORV_OWNER<MORV_RAM_MAP_UTIL>();
    }
}
