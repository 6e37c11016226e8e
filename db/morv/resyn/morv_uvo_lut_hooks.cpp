#include "morv/resyn/morv_uvo_lut_hooks.h"

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "dev/dev_device.h"

#include "morv/core/morv_assert.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

bool uvo_release_register_shared_input(MORV_CDB_INTERFACE* cdb_interface, CDB_ATOM_ITERM* iterm, int position)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (position != 2 || !(iterm->is_used_as(DB_SYNCH_DATA) || iterm->is_used_as(DB_ASYNCH_DATA))) return false;
    if (cdb_interface->is_logging()) cdb_interface->get_fsyn_log()->log_clear_usage_as(iterm, DB_DATA_C);
    iterm->clear_usage_as(DB_DATA_C);
    return true;
}

bool uvo_prepare_base_node(MORV_CDB_INTERFACE* cdb_interface, MORV_NET_UTIL* net_util, CDB_ATOM_NODE* base_node,
                           int available_inputs)
{
    MORV_ASSERT_TEXT(base_node, "base_node");
    if (net_util->is_in_qfbk_mode(base_node)) {
        cdb_interface->clear_node_bit(base_node, CDB_ATOM_BIT_QFBK_MODE);
        cdb_interface->set_node_bit(base_node, CDB_ATOM_BIT_FOUR_INPUT_COMB);
    }
    return available_inputs == 3;
}

// A cell flagged to read its carry-in in place of data C, also outside a
// chain (where that input is a constant 0), computes another function than
// its mask over the data inputs, which is all resynthesis reads and
// writes: the design takes any cell outside a chain, which loses the flag's
// meaning, so such a cell is left as it is.
bool uvo_is_resynthesizable_node(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell() && !net_util->is_lcell_part_of_a_carry_chain(node) &&
           !node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG) && cut_get_atom_latch_info(node) == nullptr;
}

bool uvo_lut_feeds_register(MORV_NET_UTIL* net_util, CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell() && oterm->is_used_as(DB_COMB_OUT) && net_util->does_lut_feed_register(node);
}

int uvo_available_inputs(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node, int num_data_ports)
{
    MORV_ASSERT_TEXT(node, "node");
    const bool shared = net_util->is_connected(node, DB_ASYNCH_DATA) || net_util->is_connected(node, DB_SYNCH_DATA);
    return shared ? num_data_ports - 1 : num_data_ports;
}

int uvo_lut_delay(int port)
{
    // The device model's node class of a combinational cell.
    constexpr int comb_node_class = 3;
    DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    MORV_ASSERT_TEXT(device, "current_device");
    return device->get_timing_info()->get_p2p_node_delay(port, DB_COMB_OUT, 0, comb_node_class);
}
