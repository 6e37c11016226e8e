#pragma once

// Rebuilds registers with synchronous controls (clock enable, synchronous
// clear, synchronous load and data) as plain registers behind a 6-input
// LUT that computes their next state, so that the skew-driven engine can
// move and merge them. Made for one pass.

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/rtm/morv_rtm_types.h"

class MORV_API;
class MORV_CDB_INTERFACE;
class CDB_LUTMASK;

using MORV_RTM_SIGNAL_LIST = std::vector<MORV_OWNER<MORV_RTM_SIGNAL>>;

class MORV_RTM_DEMUXER
{
public:
    // `mirror` for families that store LUT masks in the reversed row order.
    MORV_RTM_DEMUXER(MORV_API* api, bool mirror);

    int run(const std::set<int>& atom_ids);
    bool is_demuxable(CDB_ATOM_NODE* node) const;
    void demux_register(CDB_ATOM_NODE* reg_node);

    // The connected register inputs (their signals, in port order) and the
    // mode: the OR of their bits.
    int get_input_signals_and_mode(CDB_ATOM_NODE* reg_node, MORV_RTM_SIGNAL_LIST* input_signals) const;
    // The mode's mask in the order this pass writes masks; false for a
    // combination of controls that has no mux function.
    bool get_mode_lutmask(int mode, CDB_LUTMASK* lutmask_ret) const;
    void connect_mux_inputs(CDB_ATOM_NODE* mux_node, CDB_ATOM_NODE* reg_node,
                            const MORV_RTM_SIGNAL_LIST* input_signals);
    void fold_signal_properties(CDB_ATOM_NODE* reg_node, const MORV_RTM_SIGNAL_LIST* input_signals,
                                CDB_LUTMASK* lutmask_ret) const;
    static void set_lutmask_input_constant(CDB_LUTMASK* lutmask, int index, int constant);

    // Mux input position (0 for DB_DATA_A) of a register input.
    int mux_position(int reg_port_type) const;

private:
    void add_port_to_mode(int port_type, int* mode) const;
    CDB_ATOM_NODE* create_mux(CDB_ATOM_NODE* reg_node);
    void rewire_register(CDB_ATOM_NODE* reg_node, CDB_ATOM_NODE* mux_node, int mode);

    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface;
    bool m_mirror_lutmasks;
    std::map<int, int> m_reg_to_comb_port_map;
    std::map<int, int> m_port_to_bit_map;
};
