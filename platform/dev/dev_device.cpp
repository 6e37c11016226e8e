#include "dev/dev_device.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace {

constexpr int ILLEGAL_DELAY = (int)0x80000001;

struct FAMILY_ROW
{
    int family;
    const char* name;
    int lut_size;
    int nx, ny, lab_capacity, lab_type;
    int comb_type, reg_type;
    DEV_TIMING_MODEL model;
    int small_ram_bits;
};

// The last column is the bits of a small RAM block.
// LUT pin delays fall from A to the last input; the 6-input families are a
// generation faster in routing than the 4-input ones. Values are plausible,
// not measured.
// clang-format off
const FAMILY_ROW FAMILIES[] = {
    {DEV_FAMILY_BRENNOCK, "BRK", 6, 84, 84, 20, DEV_BLOCK_LAB_589, 0, 1,
     {{420, 400, 330, 300, 190, 120, 400}, 35, 160, 260, 60, 180, 90, 110, 240, 40, 520, 600, 700, 450, 60, 600, 80}, 4096},
    {DEV_FAMILY_ZEPLA, "ZEPLA", 4, 64, 64, 16, DEV_BLOCK_LAB, 2, 3,
     {{480, 440, 310, 200, 0, 0, 0}, 60, 210, 300, 0, 230, 110, 140, 300, 60, 650, 800, 900, 500, 80, 700, 100}, 8192},
    {DEV_FAMILY_TEV, "TEV", 4, 64, 64, 16, DEV_BLOCK_LAB_499, 257, 258,
     {{460, 420, 300, 190, 0, 0, 0}, 55, 200, 290, 0, 220, 100, 130, 280, 55, 620, 780, 880, 480, 75, 680, 95}, 4096},
    {DEV_FAMILY_MORLIN, "MRL", 6, 64, 64, 16, DEV_BLOCK_LAB_500, 270, 272,
     {{440, 420, 350, 320, 210, 140, 420}, 40, 170, 270, 70, 190, 95, 120, 250, 45, 540, 620, 720, 460, 65, 620, 85}, 8192},
    {DEV_FAMILY_KESTLIN, "KESTLIN", 6, 72, 72, 20, DEV_BLOCK_LAB_538, 145, 126,
     {{410, 390, 320, 290, 180, 115, 390}, 33, 155, 250, 58, 175, 85, 105, 235, 38, 500, 590, 690, 440, 58, 590, 78}, 8192},
    {DEV_FAMILY_ZEPLA_II, "ZEPLA", 4, 64, 64, 16, DEV_BLOCK_LAB, 2, 3,
     {{470, 430, 305, 195, 0, 0, 0}, 58, 205, 295, 0, 225, 105, 135, 290, 58, 640, 790, 890, 490, 78, 690, 98}, 8192},
    {DEV_FAMILY_RZK, "RZK", 6, 72, 72, 20, DEV_BLOCK_LAB_538, 145, 146,
     {{400, 380, 315, 285, 175, 110, 380}, 32, 150, 245, 56, 170, 82, 100, 230, 36, 490, 580, 680, 430, 56, 580, 76}, 8192},
    {DEV_FAMILY_OBRAN, "OBRAN", 6, 72, 72, 20, DEV_BLOCK_LAB_538, 186, 187,
     {{390, 370, 305, 275, 170, 105, 370}, 30, 145, 240, 54, 165, 80, 98, 225, 35, 480, 570, 670, 420, 54, 570, 74}, 8192},
    {DEV_FAMILY_UVO, "UVO", 4, 40, 40, 10, DEV_BLOCK_LAB, 10, 10,
     {{520, 480, 340, 230, 0, 0, 0}, 70, 240, 330, 0, 260, 130, 160, 330, 70, 720, 900, 1000, 560, 90, 760, 110}, 4096},
};
// clang-format on

const FAMILY_ROW* find_family(int family)
{
    for (const FAMILY_ROW& row : FAMILIES)
        if (row.family == family) return &row;
    return nullptr;
}

bool is_lut_data_port(int port)
{
    return port >= DEV_PORT_DATA_A && port <= DEV_PORT_DATA_G;
}

}  // namespace

bool dev_is_ram_block_kind(int kind)
{
    return kind == DEV_RAM_BLOCK_SMALL || kind == DEV_RAM_BLOCK_MEDIUM || kind == DEV_RAM_BLOCK_LARGE;
}

bool dev_is_usable_lab_type(int t)
{
    return t == DEV_BLOCK_LAB || t == DEV_BLOCK_LAB_499 || t == DEV_BLOCK_LAB_500 || t == DEV_BLOCK_LAB_538 ||
           t == DEV_BLOCK_LAB_589 || t == DEV_BLOCK_LAB_590;
}

const char* dev_family_name(int family)
{
    const FAMILY_ROW* row = find_family(family);
    return row ? row->name : "UNKNOWN";
}

bool dev_is_known_family(int family)
{
    return find_family(family) != nullptr;
}

int dev_base_family_of(int family)
{
    return family == DEV_FAMILY_ZEPLA_II ? DEV_FAMILY_ZEPLA : family;
}

int dev_family_lut_size(int family)
{
    const FAMILY_ROW* row = find_family(family);
    return row ? row->lut_size : 6;
}

// ---------------------------------------------------------------- basic info

bool DEV_BASIC_INFO::get_bool(int id, bool* value) const
{
    for (const auto& [key, v] : m_bools)
        if (key == id) {
            if (value) *value = v;
            return true;
        }
    return false;
}

void DEV_BASIC_INFO::set_bool(int id, bool value)
{
    for (auto& entry : m_bools)
        if (entry.first == id) {
            entry.second = value;
            return;
        }
    m_bools.emplace_back(id, value);
}

// ---------------------------------------------------------------- device

DEV_DEVICE::DEV_DEVICE(int family)
{
    if (!find_family(family)) throw std::runtime_error("unknown device family " + std::to_string(family));
    m_die = new DEV_DIE_INFO(this);
    init_family(family);
}

DEV_DEVICE::~DEV_DEVICE()
{
    delete m_die;
    delete m_fl;
}

void DEV_DEVICE::init_family(int family)
{
    const FAMILY_ROW* row = find_family(family);
    m_family = family;
    m_base_family = dev_base_family_of(family);
    m_part = family * 100;
    m_nx = row->nx;
    m_ny = row->ny;
    m_lab_capacity = row->lab_capacity;
    m_lab_type = row->lab_type;
    m_model = row->model;
    m_small_ram_bits = row->small_ram_bits;
    // Mostly small blocks, a medium one every fourth site, no large ones.
    m_ram_kinds = {DEV_RAM_BLOCK_SMALL, DEV_RAM_BLOCK_SMALL, DEV_RAM_BLOCK_SMALL, DEV_RAM_BLOCK_MEDIUM};
    m_ram_columns.clear();
    m_dsp_columns.clear();
    for (int x = 8; x < m_nx - 1; x += 16) m_ram_columns.push_back(x);
    for (int x = 12; x < m_nx - 1; x += 16) m_dsp_columns.push_back(x);
    m_basic.m_device_enum = (DEV_DEVICE_ENUM)(family * 10);
    m_basic.m_name = std::string(row->name) + "_DEV";
    m_resources = {{row->comb_type, 0}, {row->reg_type, 0}};
    delete m_fl;
    m_fl = family == DEV_FAMILY_MORLIN ? new DEV_FL_INFO() : nullptr;
    build_grid();
}

void DEV_DEVICE::build_grid()
{
    m_blocks.assign((size_t)m_nx * m_ny, DEV_BLOCK_NONE);
    for (int x = 0; x < m_nx; ++x)
        for (int y = 0; y < m_ny; ++y) {
            bool border_x = x == 0 || x == m_nx - 1, border_y = y == 0 || y == m_ny - 1;
            int t;
            if (border_x && border_y) t = DEV_BLOCK_NONE;
            else if (border_x || border_y) t = DEV_BLOCK_IO;
            else if (std::find(m_ram_columns.begin(), m_ram_columns.end(), x) != m_ram_columns.end()) t = DEV_BLOCK_RAM;
            else if (std::find(m_dsp_columns.begin(), m_dsp_columns.end(), x) != m_dsp_columns.end()) t = DEV_BLOCK_DSP;
            else if (m_lab_type == DEV_BLOCK_LAB_589 && x % 10 == 5)
                t = DEV_BLOCK_LAB_590;  // memory-capable LAB columns
            else t = m_lab_type;
            m_blocks[(size_t)x * m_ny + y] = t;
        }
}

int DEV_DEVICE::get_block_type(int x, int y, int) const
{
    if (x < 0 || y < 0 || x >= m_nx || y >= m_ny) return DEV_BLOCK_NONE;
    return m_blocks[(size_t)x * m_ny + y];
}

int DEV_DEVICE::get_ram_block_kind(int x, int y) const
{
    if (get_block_type(x, y) != DEV_BLOCK_RAM) return 0;
    return m_ram_kinds[static_cast<size_t>(std::max(y - 1, 0)) % m_ram_kinds.size()];
}

int DEV_DEVICE::get_ram_block_bits(int kind) const
{
    switch (kind) {
    case DEV_RAM_BLOCK_SMALL: return m_small_ram_bits;
    case DEV_RAM_BLOCK_MEDIUM: return 4 * m_small_ram_bits;
    case DEV_RAM_BLOCK_LARGE: return 16 * m_small_ram_bits;
    default: return 0;
    }
}

int DEV_DEVICE::get_num_usable_labs() const
{
    int n = 0;
    for (int t : m_blocks) n += dev_is_usable_lab_type(t);
    return n;
}

int DEV_DEVICE::get_resource_count(int atom_type) const
{
    for (const auto& [type, count] : m_resources)
        if (type == atom_type) return count > 0 ? count : get_le_count();
    return 0;
}

int DEV_DEVICE::get_routing_delay_ps(int x1, int y1, int x2, int y2) const
{
    int hops = std::abs(x1 - x2) + std::abs(y1 - y2);
    if (hops == 0) return m_model.intra_lab;
    return m_model.inter_lab_base + m_model.per_hop * hops;
}

int DEV_DEVICE::get_cell_delay_ps(int from, int to) const
{
    if (is_lut_data_port(from)) {
        int pin = m_model.lut_input[from - DEV_PORT_DATA_A];
        if (to == DEV_PORT_CARRY_OUT || to == DEV_PORT_SHARE_OUT) return std::min(pin, m_model.data_to_carry_out);
        return pin;
    }
    if (from == DEV_PORT_CARRY_IN)
        return to == DEV_PORT_CARRY_OUT ? m_model.carry_in_to_carry_out : m_model.carry_in_to_sum;
    if (from == DEV_PORT_SHARE_IN) return m_model.share_in_to_out;
    return 0;
}

// ---------------------------------------------------------------- die data

int DUVO_PLACE_INFO::get_nx() const
{
    return m_device->get_nx();
}
int DUVO_PLACE_INFO::get_ny() const
{
    return m_device->get_ny();
}
int DUVO_PLACE_INFO::get_block_type(int x, int y, int sub) const
{
    return m_device->get_block_type(x, y, sub);
}
int DUVO_PLACE_INFO::get_lab_capacity() const
{
    return m_device->get_lab_capacity();
}

int DUVO_PLACE_INFO::get_num_elements(int kind) const
{
    if (!dev_is_ram_block_kind(kind)) return 0;
    int n = 0;
    for (int x = 0; x < get_nx(); ++x)
        for (int y = 0; y < get_ny(); ++y) n += m_device->get_ram_block_kind(x, y) == kind;
    return n;
}

int DUVO_PLACE_INFO::get_global_id(int, int x, int y, int sub) const
{
    int cap = m_device->get_lab_capacity();
    if (x < 0 || y < 0 || x >= get_nx() || y >= get_ny()) return -1;
    if (sub < 0) sub = 0;
    if (sub >= cap) return -1;
    return (x * get_ny() + y) * cap + sub;
}

const DUVO_PLACE_BLOCK* DUVO_PLACE_INFO::get_place_block(int id) const
{
    thread_local DUVO_PLACE_BLOCK block;
    int cap = m_device->get_lab_capacity();
    if (id < 0 || id >= get_nx() * get_ny() * cap) return nullptr;
    block.sub = id % cap;
    int loc = id / cap;
    block.x = loc / get_ny();
    block.y = loc % get_ny();
    block.type = get_block_type(block.x, block.y, 0);
    return &block;
}

bool DUVO_FITTER_DELAY_INFO::load_data(bool)
{
    m_loaded = true;
    return true;
}
void DUVO_FITTER_DELAY_INFO::load_delay_query_data(bool)
{
    m_query_loaded = true;
}
void DUVO_FITTER_DELAY_INFO::free_delay_query_data()
{
    m_query_loaded = false;
}

DUVO_DELAY DUVO_FITTER_DELAY_INFO::get_cached_path_delay(int path_type) const
{
    const DEV_TIMING_MODEL& m = m_device->get_timing_model();
    float s = (float)((path_type == 0 ? m.clock_network : m.intra_lab) * 1e-12);
    return {s, s};
}

double DUVO_FITTER_DELAY_INFO::get_routing_delay(int x1, int y1, int x2, int y2) const
{
    return m_device->get_routing_delay_ps(x1, y1, x2, y2) * 1e-12;
}

int DTM_TIMING_INFO::get_p2p_node_delay(int from, int to, int, int nc0, int, int nc2, int nc3) const
{
    auto shift = [](int nc) { return nc == 59 ? 5 : nc == 58 ? -5 : 0; };
    if (nc0 == 2) return m_device->get_timing_model().tco;
    if (!is_lut_data_port(from) && from != DEV_PORT_CARRY_IN && from != DEV_PORT_SHARE_IN) return ILLEGAL_DELAY;
    if (m_device->get_lut_size() == 4 && is_lut_data_port(from) && from > DEV_PORT_DATA_A + 3) return ILLEGAL_DELAY;
    return m_device->get_cell_delay_ps(from, to) + shift(nc2) + shift(nc3);
}

// ---------------------------------------------------------------- FL records

DEV_FL_INFO::DEV_FL_INFO()
{
    // Record 0: the LUT cell (kind 0, field 14 = 0x8000); 1: a register cell;
    // 2: a latch cell.
    DEV_FL_RECORD lut;
    lut.kind = 0;
    lut.name = "FL_LUT";
    lut.fields[4] = 1;
    lut.fields[14] = 0x8000;
    DEV_FL_RECORD ff;
    ff.kind = 0;
    ff.name = "FL_FF";
    ff.fields[4] = 2;
    ff.fields[14] = 0x100;
    DEV_FL_RECORD latch;
    latch.kind = 0;
    latch.record_type = 1;
    latch.name = "FL_LATCH";
    latch.fields[4] = 3;
    latch.fields[14] = 0x200;
    m_records = {lut, ff, latch};
}

int DEV_FL_INFO::get_matching_records(int kind, int field, int value, std::vector<int>& out) const
{
    if (field < 0 || field >= 16) return 0;
    int n = 0;
    for (size_t i = 0; i < m_records.size(); ++i)
        if (m_records[i].kind == kind && m_records[i].fields[field] == value) {
            out.push_back((int)i);
            ++n;
        }
    return n;
}

int DEV_FL_INFO::get_cell_record_type(int id) const
{
    return id >= 0 && id < (int)m_records.size() ? m_records[id].record_type : -1;
}

const char* DEV_FL_INFO::get_cell_name(int id) const
{
    return id >= 0 && id < (int)m_records.size() ? m_records[id].name.c_str() : "";
}

bool DEV_FL_INFO::get_field(int id, int field, int* value) const
{
    if (id < 0 || id >= (int)m_records.size() || field < 0 || field >= 16) return false;
    if (value) *value = m_records[id].fields[field];
    return true;
}

// ---------------------------------------------------------------- current device

namespace {
// The current device and, when the slot owns it, its owner. A lent device
// belongs to someone else and is never freed here.
struct CURRENT_DEVICE_SLOT
{
    std::unique_ptr<DEV_DEVICE> owned;
    DEV_DEVICE* current = nullptr;
};

CURRENT_DEVICE_SLOT& current_device_slot()
{
    static CURRENT_DEVICE_SLOT slot;
    return slot;
}
}  // namespace

DEV_DEVICE* DMGR_UTILITY::get_current_device()
{
    CURRENT_DEVICE_SLOT& slot = current_device_slot();
    if (slot.current == nullptr) set_current_device(new DEV_DEVICE(DEV_FAMILY_BRENNOCK));
    return slot.current;
}

void DMGR_UTILITY::set_current_device(DEV_DEVICE* device)
{
    CURRENT_DEVICE_SLOT& slot = current_device_slot();
    slot.owned.reset(device);
    slot.current = device;
}

void DMGR_UTILITY::lend_current_device(DEV_DEVICE* device)
{
    CURRENT_DEVICE_SLOT& slot = current_device_slot();
    slot.owned.reset();
    slot.current = device;
}

void DMGR_UTILITY::withdraw_current_device(const DEV_DEVICE* device)
{
    CURRENT_DEVICE_SLOT& slot = current_device_slot();
    if (slot.current == device && slot.owned.get() != device) slot.current = nullptr;
}

DEV_DEVICE* DMGR_UTILITY::set_current_family(int family)
{
    set_current_device(new DEV_DEVICE(family));
    return get_current_device();
}

DTM_ROOT_NODE* DMGR_UTILITY::retrieve_dtm_root_node(bool)
{
    static DTM_ROOT_NODE root;
    return &root;
}

int dev_routing_delay_ps(int x1, int y1, int x2, int y2)
{
    return DMGR_UTILITY::get_current_device()->get_routing_delay_ps(x1, y1, x2, y2);
}

double dev_routing_delay_seconds(int x1, int y1, int x2, int y2)
{
    return dev_routing_delay_ps(x1, y1, x2, y2) * 1e-12;
}

// ---------------------------------------------------------------- PLDM

PLDM::PLDM(int part) : m_part(part) {}

bool PLDM::is_part_supported(int part)
{
    return find_family(DEV_PART_MANAGER::get_family_of(part)) != nullptr;
}

int PLDM::get_point_to_point_delay(int xs, int ys, int xt, int yt) const
{
    return dev_routing_delay_ps(xs, ys, xt, yt);
}

// ---------------------------------------------------------------- FL timing

FLT_MORLIN_TIMING* FLT_MORLIN_TIMING::get_instance()
{
    static FLT_MORLIN_TIMING instance;
    return &instance;
}

int FLT_MORLIN_TIMING::get_cell_delay(int, int in_port, int, int out_port, int, int, float scale, int) const
{
    int d = DMGR_UTILITY::get_current_device()->get_cell_delay_ps(in_port, out_port);
    return (int)(d * scale);
}
