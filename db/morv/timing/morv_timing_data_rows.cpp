// The rows of the exported timing tables.
//
// The row counts and the first, last and middle rows the tables are known by
// are fixed; the other numbers are this build's device characterisation,
// derived from the stand-in device's delay model so that the timing
// estimator (which reads these tables) and the timing analyser (which reads
// the device model) agree:
//  - cell rows: the device's pin delay from each input to each output of a
//    logic cell, 0 through registers, blocks and clock buffers, the pin
//    buffers of I/O cells; "variant" rows repeat a logic cell's pin delays
//    once per LUT mode;
//  - register micro-timing: the device's tco and tsu of registers, RAM and
//    DSP blocks;
//  - interconnect: what the device's routing model gives a typical route of
//    that kind: 0 on carry, share and cascade chains, the intra-LAB delay
//    from a LUT into a register, one hop to a neighbouring LAB between logic,
//    four hops to and from RAM and DSP columns, eight to and from the I/O
//    ring, and the global clock network into clock ports and out of clock
//    buffers.
// Family 1 has no stand-in device: its rows carry its constant interconnect
// delay (chains 0). Keys are the stand-in family's atom types and ports;
// when a family needs more rows than its atoms make, the rest are rows of
// further block ports. Two known rows name ports the stand-in device times
// itself (TEV's carry chain, ZEPLA's register): the characterised tables
// give them 71 ps and tsu -15 / tco 199 ps, but they carry the device's
// numbers, because the table estimator reads these rows where the analyser
// reads the device, and the two would otherwise disagree on every carry
// chain and register of those families.

#include "morv/timing/morv_timing_data_rows.h"

#include <array>
#include <memory>
#include <set>

#include "cdb/cdb_types.h"

namespace {

constexpr int NO_INPUT_PORT = DB_MAX_INPUT_PORT_TYPE;
constexpr int NO_OUTPUT_PORT = DB_MAX_OUTPUT_PORT_TYPE;

// The family whose stand-in atoms and device make each timing family's rows.
struct PROFILE
{
    int device_family;      // 0: no stand-in device
    int atom_family;        // atom types and ports
    int clock_buffer_type;  // the family's clock-buffer source type in the known rows; -1 none
    int ic_rows;
    int ic_alt_rows;
    int cell_rows;
    int reg_micro_rows;
};

// Indexed by timing family.
const PROFILE PROFILES[MORV_TIMING_DATA_FAMILY_COUNT] = {
    {0, 0, -1, 0, 0, 0, 0},                                           // 0 constant model
    {0, CDB_FAMILY_UVO, -1, 46, 0, 0, 0},                             // 1
    {DEV_FAMILY_UVO, CDB_FAMILY_UVO, -1, 144, 0, 0, 0},               // 2 UVO
    {DEV_FAMILY_BRENNOCK, CDB_FAMILY_BRK, 250, 310, 0, 393, 32},      // 3 BRK
    {DEV_FAMILY_OBRAN, CDB_FAMILY_OBRAN, 194, 297, 323, 382, 36},     // 4 OBRAN
    {DEV_FAMILY_RZK, CDB_FAMILY_RZK, 152, 311, 0, 442, 41},           // 5 RZK
    {0, 0, -1, 0, 0, 0, 0},                                           // 6: family 2's tables
    {DEV_FAMILY_TEV, CDB_FAMILY_TEV, -1, 138, 0, 194, 16},            // 7 TEV
    {DEV_FAMILY_ZEPLA, CDB_FAMILY_ZEPLA, 224, 165, 0, 210, 18},       // 8 ZEPLA
    {DEV_FAMILY_MORLIN, CDB_FAMILY_MRL, -1, 225, 0, 0, 0},            // 9 MRL
    {DEV_FAMILY_KESTLIN, CDB_FAMILY_KESTLIN, 152, 270, 0, 414, 39},   // 10 KESTLIN
    {DEV_FAMILY_ZEPLA_II, CDB_FAMILY_ZEPLA_B, 224, 113, 0, 164, 13},  // 11 ZEPLA
};

// A known row; derived ones take their delays from the device.
struct KNOWN_IC
{
    int family;
    MORV_IC_TIMING_ELEMENT row;
};
struct KNOWN_CELL
{
    int family;
    MORV_CELL_TIMING_ELEMENT row;
    bool derived;
};
struct KNOWN_REG
{
    int family;
    MORV_REG_MICRO_TIMING_ELEMENT row;
    bool derived;
};

// First, middle and last rows, in that order per family.
const KNOWN_IC KNOWN_IC_ROWS[] = {
    {3, {0, 0, 0, 2, 0, 0}},     {3, {245, 2, 0, 16, 1229, 1229}},    {3, {251, 135, 0, 15, 4039, 4039}},
    {5, {145, 0, 145, 2, 0, 0}}, {5, {152, 21, 178, 33, 1142, 1142}}, {5, {215, 259, 155, 6, 253, 253}},
    {8, {2, 0, 2, 2, 0, 0}},     {8, {224, 21, 227, 33, 1136, 1136}}, {8, {234, 2, 229, 8, 0, 0}},
};
// First and last rows.
const KNOWN_CELL KNOWN_CELL_ROWS[] = {
    {3, {0, -1, 2, 4149, 0, 35}, false},
    {3, {250, -1, 67, 4149, 21, 0}, false},
    {7, {257, -1, 2, 4149, 0, 0}, true},
    {7, {264, -1, 6, 4149, 21, -5395}, false},
};
const KNOWN_REG KNOWN_REG_ROWS[] = {
    {3, {0, 8, 1125, 0}, false},
    {3, {249, 127, 22, 138}, false},
    {8, {3, 9, 0, 0}, true},
    {8, {236, 132, 0, 5353}, false},
};

// Ports of the stand-in atoms, by atom kind.
struct KIND_PORTS
{
    std::vector<int> outputs;
    std::vector<int> inputs;
};

KIND_PORTS kind_ports(int kind, int lut_size)
{
    const bool six = lut_size == 6;
    switch (kind) {
    case CDB_KIND_LCELL_COMB:
        if (six) return {{8, 7, 0, 251}, {11, 12, 13, 14, 15, 16, 17, 2, 268}};
        return {{8, 0}, {11, 12, 13, 14, 2}};
    case CDB_KIND_REGISTER: return {{9}, {18, 6, 7, 5, 28, 30, 29, 1, 0}};
    case CDB_KIND_HSADDER: return {{437, 438, 43}, {11, 12, 13, 14, 102, 103}};
    case CDB_KIND_UVO_LCELL:
        return {{8, 9, 0, 43, 44}, {11, 12, 13, 14, 2, 6, 7, 5, 28, 30, 1, 0, 29, 102, 103, 164, 165}};
    case CDB_KIND_IO: return {{2}, {18}};
    case CDB_KIND_RAM: return {{40, 41}, {32, 33, 34, 35, 36, 37, 78, 79, 85, 86, 97, 98, 104, 105}};
    case CDB_KIND_MAC_MULT: return {{2}, {11, 12, 6, 7, 5}};
    case CDB_KIND_MAC_OUT: return {{2}, {11, 6, 7, 5}};
    case CDB_KIND_CLKBUF: return {{21}, {67, 7}};
    default: return {};
    }
}

bool is_chain_output(int port)
{
    return port == DB_CARRY_OUT || port == DB_SHARE_OUT || port == DB_CHAIN_OUT_0 || port == DB_CHAIN_OUT_1;
}

bool is_chain_input(int port)
{
    return port == DB_CARRY_IN || port == DB_SHARE_IN || port == DB_CHAIN_IN_0 || port == DB_CHAIN_IN_1 ||
           port == DB_REG_CASCADE_IN;
}

bool is_clock_input(int port)
{
    return port == DB_CLOCK || port == DB_RAM_CLK0 || port == DB_RAM_CLK1 || port == DB_CLKBUF_IN;
}

bool is_logic_kind(int kind)
{
    return kind == CDB_KIND_LCELL_COMB || kind == CDB_KIND_REGISTER || kind == CDB_KIND_HSADDER ||
           kind == CDB_KIND_UVO_LCELL || kind == CDB_KIND_IO;
}

bool is_block_kind(int kind)
{
    return kind == CDB_KIND_RAM || kind == CDB_KIND_MAC_MULT || kind == CDB_KIND_MAC_OUT;
}

// A port of an atom type, with the kind it belongs to.
struct END
{
    int type;
    int port;
    int kind;
};

// The device model's delays, or the family's constant where it has no device.
struct DELAYS
{
    bool has_device = false;
    DEV_TIMING_MODEL model{};
    int constant = 0;
    int lut_size = 4;

    int routing(int hops) const
    {
        if (!has_device) return constant;
        return hops == 0 ? model.intra_lab : model.inter_lab_base + model.per_hop * hops;
    }
    int clock() const { return has_device ? model.clock_network : constant; }
};

int ic_delay_of(const DELAYS& d, const END& src, const END& dst)
{
    if (is_chain_output(src.port) && is_chain_input(dst.port)) return 0;
    if (src.port == DB_CLKBUF_OUT || is_clock_input(dst.port)) return d.clock();
    if (src.kind == CDB_KIND_IO || dst.kind == CDB_KIND_IO) return d.routing(8);
    if (is_block_kind(src.kind) || is_block_kind(dst.kind)) return d.routing(4);
    if (src.port == DB_COMB_OUT && dst.port == DB_DATAIN) return d.routing(0);
    return d.routing(1);
}

DELAYS delays_of(const PROFILE& p, int family)
{
    DELAYS d;
    d.constant = MORV_TIMING_DATA::get_ic_timing_model_constant_delay(static_cast<MORV_TIMING_DATA_FAMILY_ENUM>(family),
                                                                      MORV_TIMING_DATA_DEVICE_NONE, true);
    d.lut_size = cdb_family_lut_size(p.atom_family);
    if (p.device_family == 0) return d;
    const DEV_DEVICE device(p.device_family);
    d.has_device = true;
    d.model = device.get_timing_model();
    return d;
}

// Every output and input port of the family's atoms, in kind order.
void family_ends(const PROFILE& p, std::vector<END>& sources, std::vector<END>& sinks)
{
    const CDB_FAMILY_INFO* info = cdb_get_family_info(p.atom_family);
    if (info == nullptr) return;
    std::set<int> seen_types;
    for (int kind = 0; kind < CDB_KIND_COUNT; ++kind) {
        const int type = info->atom_type[kind];
        if (type == CDB_ATOM_TYPE_NONE || !seen_types.insert(type).second) continue;
        // UVO's one logic cell stands for its comb, register and cell kinds.
        const int ports_kind =
            p.atom_family == CDB_FAMILY_UVO && kind <= CDB_KIND_UVO_LCELL ? CDB_KIND_UVO_LCELL : kind;
        const KIND_PORTS ports = kind_ports(ports_kind, info->lut_size);
        for (int port : ports.outputs) sources.push_back({type, port, ports_kind});
        for (int port : ports.inputs) sinks.push_back({type, port, ports_kind});
    }
}

// Collects unique rows in the order offered, inside the known first and last
// rows, up to a count.
template <typename ROW>
class ROW_COLLECTOR
{
public:
    ROW_COLLECTOR(size_t wanted, const ROW* first, const ROW* last) : m_wanted(wanted), m_first(first), m_last(last) {}
    bool full() const { return m_rows.size() >= m_wanted; }
    void offer(const ROW& row)
    {
        if (full()) return;
        if (m_first && row < *m_first) return;
        if (m_last && *m_last < row) return;
        if (m_keys.insert(row).second) m_rows.push_back(row);
    }
    std::vector<ROW> take() { return std::move(m_rows); }

private:
    size_t m_wanted;
    const ROW* m_first;
    const ROW* m_last;
    std::set<ROW> m_keys;  // ordered by key only
    std::vector<ROW> m_rows;
};

template <typename KNOWN, size_t N>
std::vector<decltype(KNOWN::row)> known_rows_of(const KNOWN (&table)[N], int family)
{
    std::vector<decltype(KNOWN::row)> rows;
    for (const KNOWN& k : table)
        if (k.family == family) rows.push_back(k.row);
    return rows;
}

// Interconnect rows: known rows, chains, logic to logic, clocks, blocks,
// then every other pair.
std::vector<MORV_IC_TIMING_ELEMENT> make_ic_rows(const PROFILE& p, int family, size_t count)
{
    const std::vector<MORV_IC_TIMING_ELEMENT> known = known_rows_of(KNOWN_IC_ROWS, family);
    ROW_COLLECTOR<MORV_IC_TIMING_ELEMENT> rows(count, known.empty() ? nullptr : &known.front(),
                                               known.empty() ? nullptr : &known.back());
    for (const MORV_IC_TIMING_ELEMENT& k : known) rows.offer(k);
    const DELAYS d = delays_of(p, family);
    std::vector<END> sources, sinks;
    family_ends(p, sources, sinks);
    if (p.clock_buffer_type >= 0) sources.push_back({p.clock_buffer_type, DB_CLKBUF_OUT, CDB_KIND_CLKBUF});
    auto offer = [&](const END& s, const END& t) {
        const int delay = ic_delay_of(d, s, t);
        rows.offer({s.type, s.port, t.type, t.port, delay, delay});
    };
    auto pairs = [&](auto wanted) {
        for (const END& s : sources)
            for (const END& t : sinks)
                if ((is_chain_output(s.port) == is_chain_input(t.port)) && wanted(s, t)) offer(s, t);
    };
    pairs([](const END& s, const END&) { return is_chain_output(s.port); });
    pairs([](const END& s, const END& t) {
        return is_logic_kind(s.kind) && is_logic_kind(t.kind) && s.port != DB_CLKBUF_OUT && !is_clock_input(t.port);
    });
    pairs([](const END& s, const END& t) {
        return (s.port == DB_CLKBUF_OUT || s.kind == CDB_KIND_IO) && is_clock_input(t.port);
    });
    pairs([](const END& s, const END& t) { return is_block_kind(s.kind) || is_block_kind(t.kind); });
    pairs([](const END&, const END&) { return true; });
    return rows.take();
}

// Cell rows: known rows, every pin path of every atom, then the pin paths of
// the logic cells once per LUT mode.
std::vector<MORV_CELL_TIMING_ELEMENT> make_cell_rows(const PROFILE& p, int family, size_t count)
{
    std::vector<MORV_CELL_TIMING_ELEMENT> known = known_rows_of(KNOWN_CELL_ROWS, family);
    const DEV_DEVICE device(p.device_family);
    for (const KNOWN_CELL& k : KNOWN_CELL_ROWS)
        for (MORV_CELL_TIMING_ELEMENT& row : known)
            if (k.family == family && k.derived && row == k.row)
                row.m_delay = device.get_cell_delay_ps(row.m_input_port_type, row.m_output_port_type_2);
    ROW_COLLECTOR<MORV_CELL_TIMING_ELEMENT> rows(count, known.empty() ? nullptr : &known.front(),
                                                 known.empty() ? nullptr : &known.back());
    for (const MORV_CELL_TIMING_ELEMENT& k : known) rows.offer(k);
    const CDB_FAMILY_INFO* info = cdb_get_family_info(p.atom_family);
    const DEV_TIMING_MODEL& m = device.get_timing_model();
    std::vector<MORV_CELL_TIMING_ELEMENT> lut_paths;
    for (int kind = 0; kind < CDB_KIND_COUNT; ++kind) {
        const int type = info->atom_type[kind];
        if (type == CDB_ATOM_TYPE_NONE) continue;
        const KIND_PORTS ports = kind_ports(kind, info->lut_size);
        if (kind == CDB_KIND_IO) {
            rows.offer({type, -1, DB_DATAIN, NO_OUTPUT_PORT, DB_PAD_OUT, m.io_out});
            rows.offer({type, -1, NO_INPUT_PORT, NO_OUTPUT_PORT, DB_DATA_OUT, m.io_in});
            continue;
        }
        for (int in : ports.inputs)
            for (int out : ports.outputs) {
                const int delay = kind == CDB_KIND_LCELL_COMB ? device.get_cell_delay_ps(in, out) : 0;
                const MORV_CELL_TIMING_ELEMENT row{type, -1, in, NO_OUTPUT_PORT, out, delay};
                rows.offer(row);
                if (kind == CDB_KIND_LCELL_COMB) lut_paths.push_back(row);
            }
    }
    for (int variant = 0; variant < 30 && !rows.full(); ++variant)
        for (MORV_CELL_TIMING_ELEMENT row : lut_paths) {
            row.m_variant = variant;
            rows.offer(row);
        }
    return rows.take();
}

// Register micro rows: known rows, the register and block outputs, then
// further block ports.
std::vector<MORV_REG_MICRO_TIMING_ELEMENT> make_reg_micro_rows(const PROFILE& p, int family, size_t count)
{
    const DEV_DEVICE device(p.device_family);
    const DEV_TIMING_MODEL& m = device.get_timing_model();
    std::vector<MORV_REG_MICRO_TIMING_ELEMENT> known = known_rows_of(KNOWN_REG_ROWS, family);
    for (const KNOWN_REG& k : KNOWN_REG_ROWS)
        for (MORV_REG_MICRO_TIMING_ELEMENT& row : known)
            if (k.family == family && k.derived && row == k.row) row.m_tsu = m.tsu, row.m_tco = m.tco;
    ROW_COLLECTOR<MORV_REG_MICRO_TIMING_ELEMENT> rows(count, known.empty() ? nullptr : &known.front(),
                                                      known.empty() ? nullptr : &known.back());
    for (const MORV_REG_MICRO_TIMING_ELEMENT& k : known) rows.offer(k);
    const CDB_FAMILY_INFO* info = cdb_get_family_info(p.atom_family);
    const int reg = info->atom_type[CDB_KIND_REGISTER];
    rows.offer({reg, DB_REG_OUT, m.tsu, m.tco});
    const std::array<std::pair<int, bool>, 3> blocks = {{{info->atom_type[CDB_KIND_RAM], true},
                                                         {info->atom_type[CDB_KIND_MAC_MULT], false},
                                                         {info->atom_type[CDB_KIND_MAC_OUT], false}}};
    for (const auto& [type, ram] : blocks)
        for (int port : kind_ports(ram ? CDB_KIND_RAM : CDB_KIND_MAC_OUT, info->lut_size).outputs)
            rows.offer({type, port, ram ? m.ram_tsu : m.dsp_tsu, ram ? m.ram_tco : m.dsp_tco});
    for (int port = DB_MAC_OBSERVABLE_DATAA; port < 200 && !rows.full(); ++port)
        for (const auto& [type, ram] : blocks)
            rows.offer({type, port, ram ? m.ram_tsu : m.dsp_tsu, ram ? m.ram_tco : m.dsp_tco});
    return rows.take();
}

std::unique_ptr<MORV_TIMING_DATA_TABLES> make_tables(int family)
{
    auto tables = std::make_unique<MORV_TIMING_DATA_TABLES>();
    const PROFILE& p = PROFILES[family];
    if (p.ic_rows > 0) tables->ic = make_ic_rows(p, family, static_cast<size_t>(p.ic_rows));
    if (p.ic_alt_rows > 0) tables->ic_alt = make_ic_rows(p, family, static_cast<size_t>(p.ic_alt_rows));
    if (p.cell_rows > 0) tables->cell = make_cell_rows(p, family, static_cast<size_t>(p.cell_rows));
    if (p.reg_micro_rows > 0) tables->reg_micro = make_reg_micro_rows(p, family, static_cast<size_t>(p.reg_micro_rows));
    return tables;
}

}  // namespace

MORV_TIMING_DATA_TABLES& morv_timing_data_tables(MORV_TIMING_DATA_FAMILY_ENUM family)
{
    static std::array<std::unique_ptr<MORV_TIMING_DATA_TABLES>, MORV_TIMING_DATA_FAMILY_COUNT> s_tables;
    int index = family > 0 && family < MORV_TIMING_DATA_FAMILY_COUNT ? family : 0;
    // Family 6 has only an interconnect table, family 2's.
    if (index == MORV_TIMING_DATA_FAMILY_43) index = MORV_TIMING_DATA_FAMILY_UVO;
    std::unique_ptr<MORV_TIMING_DATA_TABLES>& slot = s_tables[index];
    if (!slot) slot = make_tables(index);
    return *slot;
}
