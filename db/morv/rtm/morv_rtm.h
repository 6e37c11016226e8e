#pragma once

// The skew-driven retiming engine. So far it holds what its records, its
// demuxer and splitter passes and its DSP moves share: the run's net
// utility (handed to the records), the engine's port-type lists, and the
// table of DSP slices with the DSP register records built from it.

#include <vector>

#include "mem_alloc_sys.h"
#include "morv/rtm/morv_rtm_types.h"

class MORV_API;

// Failure reasons of a planned move (MORV_RTM_OP::m_failure_reason).
enum MORV_RTM_FAILURE_REASON : int
{
    MORV_RTM_NO_FAILURE = 0,
    MORV_RTM_REG_INCOMPATIBLE_SIGNALS = 3,
    MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS = 4,
    MORV_RTM_NO_REG_ON_OUTPUT = 7,
    MORV_RTM_NO_MAC_SECONDARY_SIGNAL = 11,
    MORV_RTM_REGISTERED_MAC_OUT = 12,
};

class MORV_RTM
{
public:
    explicit MORV_RTM(MORV_API* api);
    ~MORV_RTM();
    MORV_RTM(const MORV_RTM&) = delete;
    MORV_RTM& operator=(const MORV_RTM&) = delete;

    // ---- DSP slices and DSP register records (morv_rtm_mac.cpp)
    void generate_mac_slice_info();
    bool find_mac_slice(CDB_ATOM_NODE* node, MORV_RTM_MAC_SLICE* slice_ret) const;
    // None when the data output is unregistered or drives nothing, and none
    // with REG_INCOMPATIBLE_TIMING_CONSTRAINTS set on the operation when its
    // bits carry different timing assignments.
    MORV_OWNER<MORV_RTM_REG> create_mac_output_register(CDB_ATOM_NODE* node, MORV_RTM_OP* retiming_operation);
    CDB_ATOM_OTERM* get_mac_output_ref_oterm(CDB_ATOM_NODE* node) const;
    MORV_RTM_REG* add_mac_output_register_to_unpack(MORV_RTM_OP* retiming_operation, CDB_ATOM_NODE* node);
    // A copy of `reg` becomes the DSP node's output register to pack, or the
    // operation fails with REGISTERED MAC OUT or NO MAC SECONDARY SIGNAL.
    void add_register_to_pack_into_mac(MORV_RTM_OP* retiming_operation, CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    // The DSP clock slot (with its enable) and clear slot that carry the
    // register's clock, enable and clear, or free slots made ready for
    // them; recorded in the record's pack info. False when none is left.
    bool assign_mac_clock(CDB_ATOM_NODE* node, MORV_RTM_REG* reg);
    // Whether timing treats the two reference terms alike.
    bool have_compatible_timing(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2) const;

    static const char* mac_mode_name(int mode);

    const std::vector<MORV_RTM_MAC_SLICE>& get_mac_slices() const { return m_mac_slices; }
    const MORV_RTM_PORT_LIST& get_register_secondary_signals() const { return m_register_secondary_signals; }
    const MORV_RTM_PORT_LIST& get_register_asynchronous_signals() const { return m_register_asynchronous_signals; }
    bool is_mirroring_lutmasks() const { return m_mirror_lutmasks; }

    // DSP ports are at most this many bits wide (outputs twice as many).
    static constexpr int s_MAC_PORT_WIDTH = 36;
    static constexpr int s_MAC_NUMBER_OF_CLOCKS = 4;

private:
    static void check_mac_node(const CDB_ATOM_NODE* node);
    // The output register record with its clock and clear slots.
    MORV_OWNER<MORV_RTM_REG> new_mac_output_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* ref_oterm) const;
    // Makes the terms of slot `index` of the DSP node's ports exist.
    void make_mac_slot(CDB_ATOM_NODE* node, int index, bool clock);

    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util;
    bool m_mirror_lutmasks;
    MORV_RTM_PORT_LIST m_register_secondary_signals;
    MORV_RTM_PORT_LIST m_register_asynchronous_signals;
    MORV_RTM_PORT_LIST m_mac_out_data_iterms;
    int m_mac_port_width = s_MAC_PORT_WIDTH;
    std::vector<MORV_RTM_MAC_SLICE> m_mac_slices;
};
