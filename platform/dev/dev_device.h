#pragma once
// Stand-in device database: one built-in device per family, the LAB grid
// with block types, resource counts, migration data, and the one delay
// model (cell, register, chain and routing delays in integer picoseconds)
// that every delay query of the host answers from, so that bounds, estimates
// and the timing analyser agree.
//
// Delay model (picoseconds; see DEV_TIMING_MODEL for the per-family values):
//  - LUT cell delay depends on the input pin: A is the slowest, the last data
//    input (D on 4-input families, F on 6-input families) the fastest, so
//    that input remapping has something to gain. The extended input G is as
//    slow as B. Carry-in and share-in reach the outputs through the chain
//    delays.
//  - Registers: clock-to-output tco and setup tsu; register data, control
//    and clock inputs add no cell delay.
//  - Routing between LABs (x1, y1) and (x2, y2): the intra-LAB delay when
//    both are the same LAB, else inter_lab_base + per_hop * (|dx| + |dy|).
//  - Clock inputs ride the global clock network: a fixed delay after
//    placement, 0 before.

#include <cstdint>
#include <string>
#include <vector>

enum DEV_FAMILY_ENUM : int
{
    DEV_FAMILY_INVALID = -1,
    DEV_FAMILY_BRENNOCK = 6,      // BRK
    DEV_FAMILY_ZEPLA = 9,         // ZEPLA
    DEV_FAMILY_TEV = 10,          // TEV
    DEV_FAMILY_MORLIN = 24,       // MRL
    DEV_FAMILY_UNDRIVEN_25 = 25,  // families the component has no flow driver for;
    DEV_FAMILY_UNDRIVEN_26 = 26,  // a few of its rules still name them
    DEV_FAMILY_KESTLIN = 34,      // KESTLIN
    DEV_FAMILY_ZEPLA_II = 35,     // ZEPLA (second generation)
    DEV_FAMILY_RZK = 41,          // RZK
    DEV_FAMILY_OBRAN = 42,        // OBRAN
    DEV_FAMILY_UNDRIVEN_43 = 43,
    DEV_FAMILY_UNDRIVEN_44 = 44,
    DEV_FAMILY_UVO = 47,  // UVO
};

enum DEV_DEVICE_ENUM : int
{
    DEV_DEVICE_INVALID = -1
};
enum DEV_PART_ENUM : int
{
    DEV_PART_INVALID = -1
};
enum DEV_PHYS_IMPL_ENUM : int
{
    DEV_PHYS_IMPL_INVALID = -1
};

constexpr int DEV_ILLEGAL_FL_ID = -1;

// Block types of the LAB grid. The usable LAB types are the ones the
// placement queries accept.
enum DEV_BLOCK_TYPE : int
{
    DEV_BLOCK_NONE = 0,
    DEV_BLOCK_IO = 2,
    DEV_BLOCK_LAB = 7,
    DEV_BLOCK_LAB_499 = 499,
    DEV_BLOCK_LAB_500 = 500,
    DEV_BLOCK_LAB_538 = 538,
    DEV_BLOCK_LAB_589 = 589,
    DEV_BLOCK_LAB_590 = 590,
    DEV_BLOCK_RAM = 700,
    DEV_BLOCK_DSP = 701,
};

// Kinds of the RAM blocks on RAM-column sites, as the placement
// information counts its elements.
enum DEV_RAM_BLOCK_KIND : int
{
    DEV_RAM_BLOCK_SMALL = 256,
    DEV_RAM_BLOCK_MEDIUM = 257,
    DEV_RAM_BLOCK_LARGE = 258,
};
bool dev_is_ram_block_kind(int kind);

bool dev_is_usable_lab_type(int block_type);
const char* dev_family_name(int family);  // "BRK", ..., "UVO"; "UNKNOWN"
bool dev_is_known_family(int family);     // one of the built-in families
int dev_base_family_of(int family);       // 35 -> 9, others themselves
int dev_family_lut_size(int family);      // 4 or 6

// Per-family delays in ps. Index of lut_input: data input k (port type 11 + k);
// index 6 is the extended input G (port type 17).
struct DEV_TIMING_MODEL
{
    int lut_input[7];
    int carry_in_to_carry_out;
    int carry_in_to_sum;
    int data_to_carry_out;
    int share_in_to_out;
    int tco;
    int tsu;
    int intra_lab;
    int inter_lab_base;
    int per_hop;
    int clock_network;
    int io_in;   // input buffer: pad to the pin's output
    int io_out;  // output buffer: pin input to pad
    int ram_tco, ram_tsu, dsp_tco, dsp_tsu;
};

// Port types the delay model knows (the host's numbering).
enum DEV_PORT_TYPE : int
{
    DEV_PORT_CARRY_OUT = 0,
    DEV_PORT_CARRY_IN = 2,
    DEV_PORT_CLK = 6,
    DEV_PORT_SUM_OUT = 7,
    DEV_PORT_COMB_OUT = 8,
    DEV_PORT_REG_OUT = 9,
    DEV_PORT_DATA_A = 11,
    DEV_PORT_DATA_F = 16,
    DEV_PORT_DATA_G = 17,
    DEV_PORT_CLK_32 = 32,
    DEV_PORT_CLK_33 = 33,
    DEV_PORT_SHARE_OUT = 251,
    DEV_PORT_SHARE_IN = 268,
};

inline bool dev_is_clock_port(int port_type)
{
    return port_type == DEV_PORT_CLK || port_type == DEV_PORT_CLK_32 || port_type == DEV_PORT_CLK_33;
}

class DEV_DEVICE;

class DEV_BASIC_INFO
{
public:
    DEV_DEVICE_ENUM get_device_enum() const { return m_device_enum; }
    const std::string& get_name() const { return m_name; }
    // Boolean property by id; false when the id is not held (value untouched).
    bool get_bool(int id, bool* value) const;
    void set_bool(int id, bool value);

private:
    friend class DEV_DEVICE;
    friend class DEV_DEVICE_FILE_READER;
    DEV_DEVICE_ENUM m_device_enum = DEV_DEVICE_INVALID;
    std::string m_name;
    std::vector<std::pair<int, bool>> m_bools;
};

class DEV_MIGRATION_INFO
{
public:
    const std::vector<int>& get_migratable_parts() const { return m_parts; }
    int get_migration_target() const { return m_target; }  // DEV_PART_INVALID when none
    bool has_migration_target() const { return m_target != DEV_PART_INVALID; }

private:
    friend class DEV_DEVICE;
    friend class DEV_DEVICE_FILE_READER;
    std::vector<int> m_parts;
    int m_target = DEV_PART_INVALID;
};

// Parts are numbered family * 100 + index; this recovers the family.
class DEV_PART_MANAGER
{
public:
    static int get_family_of(int part) { return part < 0 ? DEV_FAMILY_INVALID : part / 100; }
};

// Delay pair in seconds (single precision), as the fitter's delay tables hold.
struct DUVO_DELAY
{
    float first;
    float second;
};

class DUVO_PLACE_BLOCK
{
public:
    int x = -1, y = -1, sub = -1, type = DEV_BLOCK_NONE;
};

class DUVO_PLACE_INFO
{
public:
    explicit DUVO_PLACE_INFO(const DEV_DEVICE* device) : m_device(device) {}
    int get_nx() const;
    int get_ny() const;
    int get_block_type(int x, int y, int sub = 0) const;
    int get_lab_capacity() const;
    // Sites of a RAM block kind (DEV_RAM_BLOCK_*); 0 for any other kind.
    int get_num_elements(int kind) const;
    // Global id of a place block (kind 0 = LAB slot); -1 outside the grid.
    int get_global_id(int kind, int x, int y, int sub) const;
    // Null for an id that names no block; the pointer is to a thread-local
    // scratch record, valid until the next call.
    const DUVO_PLACE_BLOCK* get_place_block(int global_id) const;

private:
    const DEV_DEVICE* m_device;
};

class DUVO_FITTER_DELAY_INFO
{
public:
    explicit DUVO_FITTER_DELAY_INFO(const DEV_DEVICE* device) : m_device(device) {}
    bool load_data(bool verbose = false);
    bool is_loaded() const { return m_loaded; }
    void load_delay_query_data(bool verbose = false);
    void free_delay_query_data();
    // Path type 0: the clock buffer (global network) delay. Other types: the
    // intra-LAB delay. Both halves equal; in seconds.
    DUVO_DELAY get_cached_path_delay(int path_type) const;
    // Routing delay in seconds between two LABs (same model as everywhere).
    double get_routing_delay(int x1, int y1, int x2, int y2) const;

private:
    const DEV_DEVICE* m_device;
    bool m_loaded = false;
    bool m_query_loaded = false;
};

class DUVO_DIE_INFO
{
public:
    explicit DUVO_DIE_INFO(const DEV_DEVICE* device) : m_place(device), m_fitter(device) {}
    DUVO_PLACE_INFO* get_place_info() { return &m_place; }
    DUVO_FITTER_DELAY_INFO* get_fitter_delay_info() { return &m_fitter; }

private:
    DUVO_PLACE_INFO m_place;
    DUVO_FITTER_DELAY_INFO m_fitter;
};

class DEV_DIE_INFO
{
public:
    explicit DEV_DIE_INFO(const DEV_DEVICE* device) : m_duvo(device) {}
    // The placement-grid die record.
    DUVO_DIE_INFO* get_duvo_die_info() { return &m_duvo; }
    int get_num_dies() const { return 1; }

private:
    DUVO_DIE_INFO m_duvo;
};

// Cell delays by node class. get_p2p_node_delay (from_port, to_port,
// delay_kind, node classes...): the LUT pin delay of from_port for the
// combinational node classes (3, 94, 95, 159 and the secondary classes 58
// and 59, which shift the delay by -5 and +5 ps so that averages over the
// four class combinations give the pin delay); the register tco for class 2.
// Ports the model does not know answer 0x80000001.
class DTM_TIMING_INFO
{
public:
    explicit DTM_TIMING_INFO(const DEV_DEVICE* device) : m_device(device) {}
    int get_p2p_node_delay(int from_port, int to_port, int delay_kind, int node_class0, int node_class1 = 0,
                           int node_class2 = 0, int node_class3 = 0) const;

private:
    const DEV_DEVICE* m_device;
};

class DTM_ROOT_NODE
{
public:
    // The table pair the timing dump reports the scaling of.
    static constexpr int DUMP_SCALING_TABLE = 668;
    static constexpr int DUMP_SCALING_CORNER = 170;

    // Scaling of a timing table (id pair); the stand-in scales nothing.
    double get_scaling_factor(int, int) const { return 1.0; }
};

// Structured-ASIC cell records (MRL only). Each record: kind, type and 16
// integer fields.
struct DEV_FL_RECORD
{
    int kind = 0;
    int record_type = 0;
    std::string name;
    int fields[16] = {};
};

class DEV_FL_INFO
{
public:
    DEV_FL_INFO();
    // Ids of the records of this kind whose field equals value, appended to
    // out; returns how many matched.
    int get_matching_records(int kind, int field, int value, std::vector<int>& out) const;
    int get_cell_record_type(int fl_id) const;
    const char* get_cell_name(int fl_id) const;
    bool get_field(int fl_id, int field, int* value) const;
    int get_num_records() const { return (int)m_records.size(); }

private:
    std::vector<DEV_FL_RECORD> m_records;
};

class DEV_DEVICE
{
public:
    // Built-in device of the family (any of the family codes).
    explicit DEV_DEVICE(int family);
    ~DEV_DEVICE();
    DEV_DEVICE(const DEV_DEVICE&) = delete;
    DEV_DEVICE& operator=(const DEV_DEVICE&) = delete;

    int get_family() const { return m_family; }
    int get_base_family() const { return m_base_family; }
    int get_part() const { return m_part; }
    int get_lut_size() const { return dev_family_lut_size(m_family); }

    DEV_BASIC_INFO* get_basic_info() { return &m_basic; }
    DEV_MIGRATION_INFO* get_migration_info() { return m_has_migration ? &m_migration : nullptr; }
    DEV_DIE_INFO* get_die_info() { return m_die; }
    DTM_TIMING_INFO* get_timing_info() { return &m_timing_info; }
    DEV_FL_INFO* get_fl_info() { return m_fl; }  // null outside MRL

    // Grid.
    int get_nx() const { return m_nx; }
    int get_ny() const { return m_ny; }
    int get_block_type(int x, int y, int sub = 0) const;
    int get_lab_capacity() const { return m_lab_capacity; }
    const std::vector<int>& get_ram_columns() const { return m_ram_columns; }
    const std::vector<int>& get_dsp_columns() const { return m_dsp_columns; }
    // RAM sites take their kinds from a pattern repeated up each RAM column
    // from row 1. The kind of the RAM block at a site, 0 when it holds none.
    int get_ram_block_kind(int x, int y) const;
    const std::vector<int>& get_ram_kind_pattern() const { return m_ram_kinds; }
    // Bits a RAM block of the kind holds: the family's small block, medium
    // four times that, large sixteen times; 0 for another kind.
    int get_ram_block_bits(int kind) const;
    int get_num_usable_labs() const;
    // Resource count per atom type (atoms of that type the device holds).
    int get_resource_count(int atom_type) const;
    int get_le_count() const { return get_num_usable_labs() * m_lab_capacity; }

    // Delays.
    const DEV_TIMING_MODEL& get_timing_model() const { return m_model; }
    DEV_TIMING_MODEL& edit_timing_model() { return m_model; }
    int get_routing_delay_ps(int x1, int y1, int x2, int y2) const;
    // Cell delay of a combinational cell from an input port to an output
    // port; 0 for ports without a modelled path.
    int get_cell_delay_ps(int from_port, int to_port) const;

    // Reads "key value..." lines overriding the built-in values:
    //   family F | part P | device_enum N | name S | grid NX NY | lab_capacity N
    //   lab_type T | block X Y T | ram_column X | dsp_column X | resource TYPE COUNT
    //   ram_kinds KIND... (256 small, 257 medium, 258 large, up each RAM column)
    //   migratable_part P | migration_target P | bool ID 0|1 | delay KEY VALUE
    // ('#' starts a comment; `family` comes first, `grid` before the columns;
    // a key, or a key for one subject, is given once). Throws
    // std::runtime_error "<path>:<line>: ..." on an unknown key or a value
    // out of its kind or range, and "<path>: ..." for a path that is not a
    // readable file; no device is made then.
    static DEV_DEVICE* load_from_file(const char* path);

private:
    void init_family(int family);
    void build_grid();
    friend class DEV_DEVICE_FILE_READER;

    int m_family = DEV_FAMILY_INVALID;
    int m_base_family = DEV_FAMILY_INVALID;
    int m_part = DEV_PART_INVALID;
    int m_nx = 0, m_ny = 0;
    int m_lab_capacity = 10;
    int m_lab_type = DEV_BLOCK_LAB;
    std::vector<int> m_ram_columns, m_dsp_columns;
    std::vector<int> m_ram_kinds;  // never empty
    int m_small_ram_bits = 0;
    std::vector<int> m_blocks;  // x * ny + y
    std::vector<std::pair<int, int>> m_resources;
    DEV_BASIC_INFO m_basic;
    DEV_MIGRATION_INFO m_migration;
    bool m_has_migration = false;
    DEV_DIE_INFO* m_die = nullptr;
    DTM_TIMING_INFO m_timing_info{this};
    DEV_FL_INFO* m_fl = nullptr;
    DEV_TIMING_MODEL m_model{};
};

// The current device of the compile.
class DMGR_UTILITY
{
public:
    // Built-in device of the default family (BRK) when none was set.
    static DEV_DEVICE* get_current_device();
    // Takes ownership; null restores the default on next use.
    static void set_current_device(DEV_DEVICE* device);
    // Makes a device current without taking it: its owner keeps it and
    // withdraws it (withdraw_current_device) before freeing it.
    static void lend_current_device(DEV_DEVICE* device);
    // Ends a loan: when device is current, the default comes back on next use.
    static void withdraw_current_device(const DEV_DEVICE* device);
    static DEV_DEVICE* set_current_family(int family);
    static DTM_ROOT_NODE* retrieve_dtm_root_node(bool create);
};

// Routing delay of the current device, for the host environment:
// picoseconds and seconds.
int dev_routing_delay_ps(int x1, int y1, int x2, int y2);
double dev_routing_delay_seconds(int x1, int y1, int x2, int y2);

// Point-to-point delay model between LAB locations (the same routing model).
class PLDM
{
public:
    explicit PLDM(int part);
    // Parts of every built-in family are supported; DEV_PART_INVALID is not.
    static bool is_part_supported(int part);
    int get_point_to_point_delay(int xs, int ys, int xt, int yt) const;
    int get_part() const { return m_part; }

private:
    int m_part;
};

// Structured-ASIC cell timing (MRL): cell delay of an FL cell.
class FLT_MORLIN_TIMING
{
public:
    static FLT_MORLIN_TIMING* get_instance();
    int get_int_setting() const { return 0; }
    float get_float_setting() const { return 1.0f; }
    // Delay of the cell from in_port to out_port, scaled by the float setting.
    int get_cell_delay(int fl_id, int in_port, int in_index, int out_port, int out_index, int int_setting,
                       float float_setting, int lut_size) const;
};
