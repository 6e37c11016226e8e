// BRK: constant-tied LUT inputs get real driver cells, so that the fitter
// sees every LUT input driven by a cell.

#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util_family.h"

namespace {

// The value the term's driver must put out so that the term reads what it
// reads today once its inversion bit is cleared.
bool needs_vcc_driver(const CDB_ATOM_ITERM* iterm)
{
    return iterm->is_logical_vcc() != !iterm->is_active_high();
}

}  // namespace

void MORV_NET_UTIL_BRK::tie_inputs_to_vcc_lcells()
{
    std::vector<CDB_ATOM_ITERM*> tied;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!is_lut(node)) continue;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            if (!iterm->is_connected() || iterm->get_source() != nullptr) continue;
            if (iterm->is_used_as(DB_CARRY_IN) || iterm->is_used_as(DB_SHARE_IN)) continue;
            tied.push_back(iterm);
        }
    }
    for (CDB_ATOM_ITERM* iterm : tied) {
        if (needs_vcc_driver(iterm)) tie_input_to_new_vcc_lcell(iterm);
        else tie_input_to_gnd_lcell(iterm);
    }
}

void MORV_NET_UTIL_BRK::tie_input_to_new_vcc_lcell(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    HDB_INSTANCE_NAME* name = make_unique_instance_name(node->get_instance_name(), "_VCC");
    CDB_ATOM_NODE* cell = m_cdb_interface->create_lcell_comb_brk(nullptr, name);
    CDB_ATOM_OTERM* combout = nullptr;
    m_cdb_interface->create_oterm(nullptr, combout, cell, DB_COMB_OUT, name);
    disconnect_lut_input(iterm);
    insert_fanout(combout, iterm);
    m_cdb_interface->set_lutmask(cell, CDB_LUTMASK(6, ~uint64_t(0)), 0);
    announce_node_modified(cell);
    // The new cell joins the partition of the cell it drives.
    announce_node_added(cell, node);
}

void MORV_NET_UTIL_BRK::tie_input_to_gnd_lcell(CDB_ATOM_ITERM* iterm)
{
    MORV_ENV* env = m_api->get_morv_env();
    const int partition = atom_partition_id(iterm->get_my_node());
    CDB_ATOM_NODE* gnd = nullptr;
    if (partition == -1) {
        env->prepare_gnd_lcell(-1);
        gnd = env->get_gnd_lcell(-1);
    } else {
        gnd = env->get_partition_gnd_lcell(partition);
    }
    MORV_ASSERT(gnd);
    CDB_ATOM_OTERM* combout = gnd->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT(combout);
    disconnect_lut_input(iterm);
    insert_fanout(combout, iterm);
}
