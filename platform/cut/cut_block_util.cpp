#include "cut/cut_block_util.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"

namespace {

bool is_mac(const CDB_ATOM_NODE* n)
{
    return n != nullptr && (n->is_mac_mult() || n->is_mac_out());
}

void require_mac(const CDB_ATOM_NODE* n)
{
    if (!is_mac(n))
        MSG_INTERNAL_ERROR::report("mac && (mac->is_mac_mult() || mac->is_mac_out())", "CUT", __FILE__, __LINE__);
}

CDB_ATOM_RAM* require_ram(const CDB_ATOM_NODE* n)
{
    if (n == nullptr || !n->is_ram()) MSG_INTERNAL_ERROR::report("ram && ram->is_ram()", "CUT", __FILE__, __LINE__);
    return static_cast<CDB_ATOM_RAM*>(const_cast<CDB_ATOM_NODE*>(n));
}

int param(const CDB_ATOM_NODE* n, int key, int port, int dflt)
{
    return n ? n->get_block_param(key, port, dflt) : dflt;
}

template <typename ITERATOR>
int width_of_terms(ITERATOR begin, ITERATOR end, int port_type)
{
    int width = 0;
    for (auto it = begin; it != end; ++it)
        if ((*it)->is_used_as(port_type)) width = std::max(width, (*it)->get_port_index() + 1);
    return width;
}

bool has_input(const CDB_ATOM_NODE* n, int port_type)
{
    for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it)
        if ((*it)->is_used_as(port_type)) return true;
    return false;
}

int scan_in_port(int input_port_type)
{
    if (input_port_type == DB_DATA_A) return DB_MAC_SCANIN_A;
    if (input_port_type == DB_DATA_B) return DB_MAC_SCANIN_B;
    return DB_MAX_INPUT_PORT_TYPE;
}

int scan_out_port(int input_port_type)
{
    if (input_port_type == DB_DATA_A) return DB_MAC_SCANOUT_A;
    if (input_port_type == DB_DATA_B) return DB_MAC_SCANOUT_B;
    return DB_MAX_OUTPUT_PORT_TYPE;
}

// RAM port (0 = A, 1 = B) a data output or input belongs to; -1 when none.
int ram_side(int port_type)
{
    switch (port_type) {
    case DB_RAM_PORTA_DATAOUT:
    case DB_RAM_PORTA_DATAIN:
    case DB_RAM_PORTA_WE:
    case DB_RAM_PORTA_RE:
    case DB_RAM_PORTA_ADDRESS: return 0;
    case DB_RAM_PORTB_DATAOUT:
    case DB_RAM_PORTB_DATAIN:
    case DB_RAM_PORTB_WE:
    case DB_RAM_PORTB_RE:
    case DB_RAM_PORTB_ADDRESS: return 1;
    default: return -1;
    }
}

int ram_control(const CDB_ATOM_NODE* ram, int port_type, int port_a, int port_b)
{
    require_ram(ram);
    int side = ram_side(port_type);
    if (side < 0) return DB_MAX_INPUT_PORT_TYPE;
    int control = side == 0 ? port_a : port_b;
    return has_input(ram, control) ? control : int(DB_MAX_INPUT_PORT_TYPE);
}

}  // namespace

int cut_input_terms_width(const CDB_ATOM_NODE* node, int port_type)
{
    return width_of_terms(node->begin_iterm(), node->end_iterm(), port_type);
}

int cut_output_terms_width(const CDB_ATOM_NODE* node, int port_type)
{
    return width_of_terms(node->begin_oterm(), node->end_oterm(), port_type);
}

// ---------------------------------------------------------------- MAC

int CUT_MAC_UTIL::get_mode(const CDB_ATOM_NODE* mac)
{
    require_mac(mac);
    if (mac->is_mac_mult())
        if (const CDB_ATOM_NODE* out = get_mac_out_from_mac_mult(mac)) return param(out, CDB_PARAM_MAC_MODE, 0, 0);
    return param(mac, CDB_PARAM_MAC_MODE, 0, 0);
}

void CUT_MAC_UTIL::set_mode(CDB_ATOM_NODE* mac, int mode)
{
    require_mac(mac);
    mac->set_block_param(CDB_PARAM_MAC_MODE, 0, mode);
}

bool CUT_MAC_UTIL::is_input_port_registered(const CDB_ATOM_NODE* mac, int t)
{
    return get_input_port_clock(mac, t) >= 0;
}
bool CUT_MAC_UTIL::is_pipeline_registered(const CDB_ATOM_NODE* mac, int t)
{
    return get_pipeline_clock(mac, t) >= 0;
}
bool CUT_MAC_UTIL::is_output_port_registered(const CDB_ATOM_NODE* mac, int t)
{
    return get_output_port_clock(mac, t) >= 0;
}

bool CUT_MAC_UTIL::is_output_register_used(const CDB_ATOM_NODE* mac, int t)
{
    require_mac(mac);
    return param(mac, CDB_PARAM_MAC_OUTPUT_REGISTER_USED, t, 0) != 0;
}

void CUT_MAC_UTIL::set_output_register_used(CDB_ATOM_NODE* mac, int t, bool used)
{
    require_mac(mac);
    mac->set_block_param(CDB_PARAM_MAC_OUTPUT_REGISTER_USED, t, used ? 1 : 0);
}

#define CUT_MAC_SLOT(GET, SET, KEY, NONE)                                                                              \
    int CUT_MAC_UTIL::GET(const CDB_ATOM_NODE* mac, int t)                                                             \
    {                                                                                                                  \
        require_mac(mac);                                                                                              \
        return param(mac, KEY, t, NONE);                                                                               \
    }                                                                                                                  \
    void CUT_MAC_UTIL::SET(CDB_ATOM_NODE* mac, int t, int index)                                                       \
    {                                                                                                                  \
        require_mac(mac);                                                                                              \
        mac->set_block_param(KEY, t, index < 0 ? NONE : index);                                                        \
    }
CUT_MAC_SLOT(get_input_port_clock, set_input_port_clock, CDB_PARAM_MAC_INPUT_CLOCK, CUT_MAC_NO_CLOCK)
CUT_MAC_SLOT(get_input_port_clear, set_input_port_clear, CDB_PARAM_MAC_INPUT_CLEAR, CUT_MAC_NO_CLEAR)
CUT_MAC_SLOT(get_pipeline_clock, set_pipeline_clock, CDB_PARAM_MAC_PIPELINE_CLOCK, CUT_MAC_NO_CLOCK)
CUT_MAC_SLOT(get_pipeline_clear, set_pipeline_clear, CDB_PARAM_MAC_PIPELINE_CLEAR, CUT_MAC_NO_CLEAR)
CUT_MAC_SLOT(get_output_port_clock, set_output_port_clock, CDB_PARAM_MAC_OUTPUT_CLOCK, CUT_MAC_NO_CLOCK)
CUT_MAC_SLOT(get_output_port_clear, set_output_port_clear, CDB_PARAM_MAC_OUTPUT_CLEAR, CUT_MAC_NO_CLEAR)
#undef CUT_MAC_SLOT

int CUT_MAC_UTIL::get_input_port_width(const CDB_ATOM_NODE* mac, int t)
{
    require_mac(mac);
    int w = param(mac, CDB_PARAM_MAC_INPUT_WIDTH, t, -1);
    return w >= 0 ? w : cut_input_terms_width(mac, t);
}

int CUT_MAC_UTIL::get_output_port_width(const CDB_ATOM_NODE* mac, int t)
{
    require_mac(mac);
    int w = param(mac, CDB_PARAM_MAC_OUTPUT_WIDTH, t, -1);
    return w >= 0 ? w : cut_output_terms_width(mac, t);
}

void CUT_MAC_UTIL::set_input_port_width(CDB_ATOM_NODE* mac, int t, int width)
{
    require_mac(mac);
    mac->set_block_param(CDB_PARAM_MAC_INPUT_WIDTH, t, std::max(width, 0));
}

void CUT_MAC_UTIL::set_output_port_width(CDB_ATOM_NODE* mac, int t, int width)
{
    require_mac(mac);
    mac->set_block_param(CDB_PARAM_MAC_OUTPUT_WIDTH, t, std::max(width, 0));
}

int CUT_MAC_UTIL::get_observable_port_type(int input_port_type, bool, bool)
{
    switch (input_port_type) {
    case DB_DATA_A: return DB_MAC_OBSERVABLE_DATAA;
    case DB_DATA_B: return DB_MAC_OBSERVABLE_DATAB;
    case DB_DATA_C: return DB_MAC_OBSERVABLE_DATAC;
    case DB_DATA_D: return DB_MAC_OBSERVABLE_DATAD;
    default: return DB_MAX_OUTPUT_PORT_TYPE;
    }
}

CDB_ATOM_NODE* CUT_MAC_UTIL::get_scan_in_mult(const CDB_ATOM_NODE* mac, int input_port_type)
{
    require_mac(mac);
    int scan = scan_in_port(input_port_type);
    if (scan == DB_MAX_INPUT_PORT_TYPE) return nullptr;
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* t = *it;
        if (!t->is_used_as(scan) || t->get_source() == nullptr) continue;
        CDB_ATOM_NODE* src = t->get_source()->get_my_node();
        if (src != nullptr && src->is_mac_mult()) return src;
    }
    return nullptr;
}

CDB_ATOM_NODE* CUT_MAC_UTIL::get_scan_out_mult(const CDB_ATOM_NODE* mac, int input_port_type)
{
    require_mac(mac);
    int scan_out = scan_out_port(input_port_type);
    int scan_in = scan_in_port(input_port_type);
    if (scan_out == DB_MAX_OUTPUT_PORT_TYPE) return nullptr;
    for (auto it = mac->begin_oterm(); it != mac->end_oterm(); ++it) {
        if (!(*it)->is_used_as(scan_out)) continue;
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) {
            CDB_ATOM_NODE* sink = (*f)->get_my_node();
            if (sink != nullptr && sink->is_mac_mult() && (*f)->is_used_as(scan_in)) return sink;
        }
    }
    return nullptr;
}

CDB_ATOM_NODE* CUT_MAC_UTIL::get_mac_out_from_mac_mult(const CDB_ATOM_NODE* mult)
{
    if (mult == nullptr || !mult->is_mac_mult()) return nullptr;
    for (auto it = mult->begin_oterm(); it != mult->end_oterm(); ++it) {
        if (!(*it)->is_used_as(DB_DATA_OUT)) continue;
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) {
            CDB_ATOM_NODE* sink = (*f)->get_my_node();
            if (sink != nullptr && sink->is_mac_out()) return sink;
        }
    }
    return nullptr;
}

bool CUT_MAC_UTIL::is_output_prog_invert(const CDB_ATOM_NODE* mac, int output_port_type, int bit)
{
    require_mac(mac);
    return param(mac, CDB_PARAM_MAC_OUTPUT_INVERT, output_port_type * 256 + bit, 0) != 0;
}

void CUT_MAC_UTIL::set_output_prog_invert(CDB_ATOM_NODE* mac, int output_port_type, int bit, bool invert)
{
    require_mac(mac);
    mac->set_block_param(CDB_PARAM_MAC_OUTPUT_INVERT, output_port_type * 256 + bit, invert ? 1 : 0);
}

// ---------------------------------------------------------------- RAM

std::string CUT_RAM_UTIL::get_logical_name_str(const CDB_ATOM_NODE* ram)
{
    require_ram(ram);
    const HDB_INSTANCE_NAME* name = ram->get_instance_name();
    if (name == nullptr) return std::string();
    const HDB_INSTANCE_NAME* parent = name->get_parent();
    if (parent == nullptr || parent->is_root()) return name->get_short_hpath();
    return parent->get_short_hpath();
}

bool CUT_RAM_UTIL::ram_mode_is(const CDB_ATOM_NODE* ram, int ram_port, const CDB_RAM_FLAG_SET& flags)
{
    CDB_RAM_FLAG_SET mode = require_ram(ram)->get_ram_mode_flags(ram_port);
    for (int w = 0; w < 3; ++w)
        if ((mode.word(w) & flags.word(w)) != flags.word(w)) return false;
    return true;
}

bool CUT_RAM_UTIL::ram_mode_is(const CDB_ATOM_NODE* ram, int ram_port, int flag)
{
    return require_ram(ram)->ram_mode_is(flag, ram_port);
}

void CUT_RAM_UTIL::set_ram_mode(CDB_ATOM_NODE* ram, int ram_port, const CDB_RAM_FLAG_SET& flags)
{
    CDB_ATOM_RAM* r = require_ram(ram);
    CDB_RAM_FLAG_SET mode = r->get_ram_mode_flags(ram_port);
    for (int w = 0; w < 3; ++w) mode.set_word(w, mode.word(w) | flags.word(w));
    r->set_ram_mode_flags(ram_port, mode);
}

void CUT_RAM_UTIL::clear_ram_mode(CDB_ATOM_NODE* ram, int ram_port, const CDB_RAM_FLAG_SET& flags)
{
    CDB_ATOM_RAM* r = require_ram(ram);
    CDB_RAM_FLAG_SET mode = r->get_ram_mode_flags(ram_port);
    for (int w = 0; w < 3; ++w) mode.set_word(w, mode.word(w) & ~flags.word(w));
    r->set_ram_mode_flags(ram_port, mode);
}

int CUT_RAM_UTIL::get_ram_mode(const CDB_ATOM_NODE* ram, int ram_port)
{
    return static_cast<int>(require_ram(ram)->get_ram_mode_flags(ram_port).word(0));
}

int CUT_RAM_UTIL::get_physical_port_clock(const CDB_ATOM_NODE* ram, int port_type)
{
    return ram_control(ram, port_type, DB_RAM_CLK0, DB_RAM_CLK1);
}

int CUT_RAM_UTIL::get_physical_port_clear(const CDB_ATOM_NODE* ram, int port_type)
{
    return ram_control(ram, port_type, DB_RAM_CLR0, DB_RAM_CLR1);
}

int CUT_RAM_UTIL::get_physical_port_clock_enable(const CDB_ATOM_NODE* ram, int port_type)
{
    return ram_control(ram, port_type, DB_RAM_ENA0, DB_RAM_ENA1);
}

int CUT_RAM_UTIL::get_observable_port_type(int input_port_type, bool, bool)
{
    switch (input_port_type) {
    case DB_RAM_PORTA_DATAIN: return DB_RAM_OBSERVABLE_PORTA_DATAIN;
    case DB_RAM_PORTA_ADDRESS: return DB_RAM_OBSERVABLE_PORTA_ADDRESS;
    case DB_RAM_PORTB_ADDRESS: return DB_RAM_OBSERVABLE_PORTB_ADDRESS;
    default: return DB_MAX_OUTPUT_PORT_TYPE;
    }
}

int CUT_RAM_UTIL::get_address_width(const CDB_ATOM_NODE* ram, int ram_port)
{
    require_ram(ram);
    int w = param(ram, CDB_PARAM_RAM_ADDRESS_WIDTH, ram_port, -1);
    if (w >= 0) return w;
    return cut_input_terms_width(ram, ram_port == 0 ? DB_RAM_PORTA_ADDRESS : DB_RAM_PORTB_ADDRESS);
}

void CUT_RAM_UTIL::set_address_width(CDB_ATOM_NODE* ram, int ram_port, int width)
{
    require_ram(ram)->set_block_param(CDB_PARAM_RAM_ADDRESS_WIDTH, ram_port, std::max(width, 0));
}

#define CUT_RAM_PARAM(NAME, KEY)                                                                                       \
    int CUT_RAM_UTIL::get_##NAME(const CDB_ATOM_NODE* ram, int ram_port)                                               \
    {                                                                                                                  \
        return param(require_ram(ram), KEY, ram_port, -1);                                                             \
    }                                                                                                                  \
    void CUT_RAM_UTIL::set_##NAME(CDB_ATOM_NODE* ram, int ram_port, int value)                                         \
    {                                                                                                                  \
        require_ram(ram)->set_block_param(KEY, ram_port, value);                                                       \
    }
CUT_RAM_PARAM(block_type, CDB_PARAM_RAM_BLOCK_TYPE)
CUT_RAM_PARAM(target_block_type, CDB_PARAM_RAM_TARGET_BLOCK_TYPE)
CUT_RAM_PARAM(physical_port, CDB_PARAM_RAM_PHYSICAL_PORT)
CUT_RAM_PARAM(content_view, CDB_PARAM_RAM_CONTENT_VIEW)
CUT_RAM_PARAM(mixed_port_feed_through_mode, CDB_PARAM_RAM_MIXED_PORT_FEED_THROUGH_MODE)
CUT_RAM_PARAM(logical_depth, CDB_PARAM_RAM_LOGICAL_DEPTH)
CUT_RAM_PARAM(logical_width, CDB_PARAM_RAM_LOGICAL_WIDTH)
CUT_RAM_PARAM(first_address, CDB_PARAM_RAM_FIRST_ADDRESS)
CUT_RAM_PARAM(last_address, CDB_PARAM_RAM_LAST_ADDRESS)
CUT_RAM_PARAM(first_bit_number, CDB_PARAM_RAM_FIRST_BIT_NUMBER)
CUT_RAM_PARAM(data_width, CDB_PARAM_RAM_DATA_WIDTH)
CUT_RAM_PARAM(data_width_mode, CDB_PARAM_RAM_DATA_WIDTH_MODE)
CUT_RAM_PARAM(data_interleave_offset_in_bits, CDB_PARAM_RAM_DATA_INTERLEAVE_OFFSET)
CUT_RAM_PARAM(data_interleave_width_in_bits, CDB_PARAM_RAM_DATA_INTERLEAVE_WIDTH)
#undef CUT_RAM_PARAM

long long CUT_RAM_UTIL::get_slice_depth(const CDB_ATOM_NODE* ram, int ram_port)
{
    const int first = get_first_address(ram, ram_port), last = get_last_address(ram, ram_port);
    if (first >= 0 && last >= first) return static_cast<long long>(last) - first + 1;
    return 1LL << std::min(get_address_width(ram, ram_port), 40);
}

int CUT_RAM_UTIL::get_slice_width(const CDB_ATOM_NODE* ram, int ram_port)
{
    const int width = get_data_width(ram, ram_port);
    if (width >= 0) return width;
    return cut_output_terms_width(ram, ram_port == 0 ? DB_RAM_PORTA_DATAOUT : DB_RAM_PORTB_DATAOUT);
}

int cut_add_observable_oterms(CDB_ATOM_NODE* ram)
{
    require_ram(ram);
    // Collected first: adding output terms while walking the inputs is safe,
    // but the list keeps the creation order independent of slot layout.
    std::vector<std::pair<int, int>> wanted;
    for (auto it = ram->begin_iterm(); it != ram->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* t = *it;
        for (int u = 0; u < CDB_ATOM_ITERM::MAX_USAGES; ++u) {
            int obs = CUT_RAM_UTIL::get_observable_port_type(t->get_usage(u));
            if (obs != DB_MAX_OUTPUT_PORT_TYPE) wanted.emplace_back(obs, t->get_port_index());
        }
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    int created = 0;
    for (auto [obs, index] : wanted) {
        if (ram->get_output_term_by_type(obs, index) != nullptr) continue;
        HDB_INSTANCE_NAME* name = nullptr;
        if (HDB_INSTANCE_NAME* base = ram->get_instance_name()) {
            std::string suffix =
                std::string("~") + cdb_output_port_name(obs) + std::to_string(obs) + "_" + std::to_string(index);
            name = HDB_INSTANCE_NAME::create_synthesized_name(base, suffix.c_str(), true);
        }
        ram->add_output_term(obs, name, index);
        ++created;
    }
    return created;
}

namespace {
int s_rewired_enables = 0;
}  // namespace

void cut_rewire_enable_for_tv3_rams(CDB_ATOM_NODE* ram)
{
    if (ram != nullptr && ram->is_ram()) ++s_rewired_enables;
}

int cut_rewired_enable_count()
{
    return s_rewired_enables;
}
