#pragma once

// The family side of logic-to-RAM mapping: what the family's RAM block is,
// the free blocks left on the device, the family's cell factories, and the
// small LUTs and registers that make a RAM slice behave like the registered
// logic it replaces. One instance at a time, reached through get_instance;
// its owner (the RAM-mapping flow, or a test) decides how long it lives.

#include <string>

#include "cdb/cdb_types.h"
#include "mem_alloc_sys.h"

class BDD_JBDD_MGR;
class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class CDB_LUTMASK;
class HDB_INSTANCE_NAME;
class MEM_SEGMENT;
class MORV_API;
class MORV_CDB_INTERFACE;
class MORV_NET_UTIL;
class MORV_TIMING;

// Indices of the free-RAM counters; the last is printed, never counted.
enum MORV_RAM_COUNT_INDEX : int
{
    MORV_RAM_COUNT_SMALL = 0,
    MORV_RAM_COUNT_MEDIUM = 1,
    MORV_RAM_COUNT_LARGE = 2,
    MORV_RAM_COUNT_SLOTS = 4,
};

class MORV_RAM_MAP_UTIL
{
public:
    // Becomes the instance; the net utility is the family's.
    MORV_RAM_MAP_UTIL(MORV_API* api, MORV_NET_UTIL* net_util);
    virtual ~MORV_RAM_MAP_UTIL();
    MORV_RAM_MAP_UTIL(const MORV_RAM_MAP_UTIL&) = delete;
    MORV_RAM_MAP_UTIL& operator=(const MORV_RAM_MAP_UTIL&) = delete;

    // The utility of the API's base family; null for a family without one.
    static MORV_OWNER<MORV_RAM_MAP_UTIL> create_for_family(MORV_API* api);
    static MORV_RAM_MAP_UTIL* get_instance();
    static bool has_instance() { return m_instance != nullptr; }

    // Made on first request, never reordered: RAM contents rely on
    // variable k staying at level k.
    BDD_JBDD_MGR* get_bdd_manager();
    MORV_NET_UTIL* get_net_util() const { return m_fsyn_net_util; }

    // The next memory-initialisation file name, registered with the host
    // as a generated source file of the compile.
    std::string make_mif_file_name();

    // Free RAM blocks of the device by kind, after the RAMs of the netlist.
    void count_free_rams();
    int get_ram_count(int index) const { return m_ram_counts[index]; }
    // Kind 0 takes a small RAM, or a medium one when no small one is free;
    // kind 1 takes a medium one.
    void consume_ram(int kind);
    // The source's timing assignments onto every address-register output
    // of the RAM's port A.
    void copy_timing_to_input_registers(CDB_ATOM_OTERM* source, CDB_ATOM_NODE* ram);

    virtual void prepare_cluster_carry_chains() = 0;
    // The RAM's clear and power-up value are emulated by a clear-emulation
    // register and a wrapper LUT per output.
    virtual bool counts_outputs_in_gain() const = 0;
    virtual bool needs_vcc_data_in_fix() const = 0;
    virtual bool is_shared_arithmetic_node(CDB_ATOM_NODE* node) const = 0;
    virtual CDB_ATOM_OTERM* create_aclr_register(CDB_ATOM_NODE* node) = 0;
    // The three LUTs below differ between the branches only in their masks,
    // which family_mask writes in the family's size and bit order.
    virtual CDB_ATOM_ITERM* create_aclr_wrapper(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* aclr_oterm, bool invert);
    virtual CDB_ATOM_ITERM* insert_inverter_lut(CDB_ATOM_ITERM* iterm);
    virtual CDB_ATOM_OTERM* create_vcc_lut(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* shared_oterm);
    virtual void copy_register_control_input(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, int port_type) = 0;
    virtual CDB_ATOM_ITERM* create_carry_out_wire_lut(CDB_ATOM_ITERM* carry_in) = 0;
    virtual CDB_ATOM_OTERM* convert_to_carry_chain_wire_lut(CDB_ATOM_NODE* node) = 0;
    virtual CDB_ATOM_NODE* create_ram_atom(HDB_INSTANCE_NAME* name, const std::string& file_name,
                                           const CDB_RAM_FLAG_SET& flags) = 0;
    virtual bool is_ff(CDB_ATOM_NODE* node) const = 0;
    // A register or LUT that mapping may move into a RAM: not protected,
    // in no partition, on no global or boundary-port input, not in shared
    // arithmetic mode.
    bool is_packable_node(CDB_ATOM_NODE* node) const;
    MORV_API* get_api() const { return m_fsyn_api; }
    MORV_TIMING* get_timing() const { return m_fsyn_timing; }
    virtual bool is_lut(CDB_ATOM_NODE* node) const = 0;
    virtual int get_ram_block_bits() const = 0;
    virtual bool uses_block_type_3() const = 0;
    virtual bool has_carry_chain_parity(CDB_ATOM_OTERM* oterm) const = 0;
    virtual CDB_ATOM_NODE* create_lut_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) = 0;
    virtual CDB_ATOM_NODE* create_register_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) = 0;

protected:
    // Steps every new cell shares: its name, its terms, its wiring, and its
    // place and announcement.
    HDB_INSTANCE_NAME* cell_name(CDB_ATOM_NODE* base, const char* suffix) const;
    CDB_ATOM_ITERM* new_input(CDB_ATOM_NODE* node, int port_type);
    CDB_ATOM_OTERM* new_output(CDB_ATOM_NODE* node, int port_type);
    // The term leaves its source (announced) and reads the new driver.
    void rewire(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* driver);
    // The term moves to the new driver; the LUT input `properties_to` takes
    // its old source and its settings, inversion excepted.
    void rewire_keeping_properties(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* driver, CDB_ATOM_ITERM* properties_to);
    void place_and_announce(CDB_ATOM_NODE* cell, CDB_ATOM_NODE* origin);
    // A mask of one-, two- or four-input function rows, written in the
    // family's LUT size and bit order: bit k of `rows` is the value for
    // A = k & 1, B = k >> 1 & 1, and so on.
    CDB_LUTMASK family_mask(uint64_t rows, int row_inputs) const;
    void tie_to_vcc(CDB_ATOM_ITERM* iterm);
    // The register whose data input, tied to VCC, makes it read 0 until
    // its first enabled clock edge after power-up or a clear.
    CDB_ATOM_NODE* build_aclr_register(CDB_ATOM_NODE* node);
    // A control input of the old register on the new one, read the same
    // way: the same driver, or the same constant tie, with the old
    // inversion and global setting. Nothing for a missing term, nor for an
    // unconnected one when only connected terms are copied.
    void copy_control(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, int port_type, bool only_connected);

    static MORV_RAM_MAP_UTIL* m_instance;
    MORV_OWNER<BDD_JBDD_MGR> m_bdd_mgr;
    MORV_API* m_fsyn_api = nullptr;
    MORV_TIMING* m_fsyn_timing = nullptr;
    MORV_NET_UTIL* m_fsyn_net_util = nullptr;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface = nullptr;
    int m_ram_counts[MORV_RAM_COUNT_SLOTS] = {0, 0, 0, 0};
};
