#include "morv/debug/morv_util_latch_test.h"

#include <cstdlib>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "dev/dev_device.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"

namespace {

constexpr int MASK_INPUTS = 6;
constexpr int MASK_ROWS = 1 << MASK_INPUTS;

std::string keyword(const MORV_PARAMETER_MAP& params, const char* key)
{
    return MORV_ALGORITHM_BASE::get_algorithm_param(params, key);
}

int parse_bounded_int(const std::string& text, int fallback)
{
    if (text.empty()) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < -1000000000L || value > 1000000000L) return fallback;
    return static_cast<int>(value);
}

double parse_probability(const std::string& text, double fallback)
{
    if (text.empty()) return fallback;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(value == value)) return fallback;
    return value;
}

double uniform()
{
    return std::rand() / (RAND_MAX + 1.0);
}

int mask_input(int port)
{
    return port >= DB_DATA_A && port < DB_DATA_A + MASK_INPUTS ? port - DB_DATA_A : -1;
}

bool reversed_order(const CDB_ATOM_NODE* node)
{
    const CDB_FAMILY_INFO* info = cdb_get_family_info(node->get_family());
    return info != nullptr && info->reversed_bit_order;
}

// The cell's function over all six inputs, bit r for the row whose input k
// is bit k of r, whatever order the family stores its masks in.
uint64_t read_rows(const CDB_ATOM_NODE* node)
{
    CDB_LUTMASK mask = node->get_lutmask();
    uint64_t value = mask.get_value();
    for (int width = mask.get_num_rows(); width < MASK_ROWS; width <<= 1) value |= value << width;
    CDB_LUTMASK rows(MASK_INPUTS, value);
    if (reversed_order(node)) rows.mirror_mask();
    return rows.get_value();
}

bool row_bit(uint64_t rows, int row)
{
    return (rows >> row) & 1u;
}

bool input_bit(int row, int input)
{
    return (row >> input) & 1;
}

CDB_ATOM_ITERM* port_term(CDB_ATOM_NODE* node, int port)
{
    return port == MORV_NO_INPUT_PORT ? nullptr : node->get_input_term_by_type(port);
}

bool has_real_source(const CDB_ATOM_ITERM* iterm)
{
    return iterm != nullptr && iterm->is_driven() && iterm->get_source() != nullptr;
}

// Whether the input at that level forces the output to value in every row
// where the other control (when there is one) holds one fixed value.
bool forces(uint64_t rows, int input, int level, bool value, int other)
{
    for (int fixed = 0; fixed < (other < 0 ? 1 : 2); ++fixed) {
        bool all = true;
        for (int row = 0; row < MASK_ROWS && all; ++row) {
            if (input_bit(row, input) != (level == 1)) continue;
            if (other >= 0 && input_bit(row, other) != (fixed == 1)) continue;
            all = row_bit(rows, row) == value;
        }
        if (all) return true;
    }
    return false;
}

// A latch read from its description and its mask: the mask inputs of its
// roles (-1 when absent), the level each control is asserted at, and which
// one wins when both are.
struct LATCH_VIEW
{
    int clear = -1;
    int preset = -1;
    int feedback = -1;
    int enable = -1;
    int clear_level = 1;
    int preset_level = 1;
    bool real_enable = false;
    bool clear_dominant = true;

    bool clear_asserted(int row) const { return clear >= 0 && input_bit(row, clear) == (clear_level == 1); }
    bool preset_asserted(int row) const { return preset >= 0 && input_bit(row, preset) == (preset_level == 1); }
    bool is_role(int input) const { return input == clear || input == preset || input == feedback || input == enable; }
};

int role_input(CDB_ATOM_NODE* node, int port)
{
    if (port == MORV_NO_INPUT_PORT || node->get_input_term_by_type(port) == nullptr) return -1;
    const int input = mask_input(port);
    MORV_ASSERT_TEXT(input >= 0, "latch role on a LUT data input");
    return input;
}

LATCH_VIEW view_of(CDB_ATOM_NODE* node)
{
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    MORV_ASSERT_TEXT(info && info->is_latch, "latch_info && latch_info->is_latch()");
    LATCH_VIEW view;
    view.clear = role_input(node, info->clear_port);
    view.preset = role_input(node, info->preset_port);
    view.feedback = role_input(node, info->feedback_port);
    view.enable = role_input(node, info->enable_port);
    view.real_enable = has_real_source(port_term(node, info->enable_port));
    const uint64_t rows = read_rows(node);
    if (view.clear >= 0) {
        const bool clear_active_high = forces(rows, view.clear, 1, false, view.preset);
        const bool clear_active_low = forces(rows, view.clear, 0, false, view.preset);
        MORV_ASSERT_TEXT(clear_active_high ^ clear_active_low, "clear_active_high ^ clear_active_low");
        view.clear_level = clear_active_high ? 1 : 0;
    }
    if (view.preset >= 0) {
        const bool preset_active_high = forces(rows, view.preset, 1, true, view.clear);
        const bool preset_active_low = forces(rows, view.preset, 0, true, view.clear);
        MORV_ASSERT_TEXT(preset_active_high ^ preset_active_low, "preset_active_high ^ preset_active_low");
        view.preset_level = preset_active_high ? 1 : 0;
    }
    for (int row = 0; row < MASK_ROWS; ++row)
        if (view.clear_asserted(row) && view.preset_asserted(row)) {
            view.clear_dominant = !row_bit(rows, row);
            break;
        }
    return view;
}

}  // namespace

MORV_UTIL_LATCH_TEST::MORV_UTIL_LATCH_TEST(MORV_API* api, MORV_NET_UTIL* net_util, MORV_CDB_INTERFACE* cdb_interface,
                                           const MORV_PARAMETER_MAP& params)
    : m_api(api), m_net_util(net_util), m_cdb_interface(cdb_interface)
{
    read_knobs(params);
}

void MORV_UTIL_LATCH_TEST::read_knobs(const MORV_PARAMETER_MAP& params)
{
    const std::string random_moves = keyword(params, "LLT_RAND_NUM_MOVES");
    if (!random_moves.empty()) m_random_moves = random_moves == "1";
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: %s using random number of moves", m_random_moves ? "is" : "is not");
    m_num_moves = parse_bounded_int(keyword(params, "LLT_NUM_MOVES"), m_num_moves);
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: %d moves per latch", m_num_moves);
    if (keyword(params, "LLT_DEFAULT_NO_OPS") == "1") {
        m_prob_port_swap = m_prob_clear_remove = m_prob_preset_remove = 0.0;
        m_prob_data_enable_remove = m_prob_dominance_switch = 0.0;
    }
    m_prob_port_swap = parse_probability(keyword(params, "LLT_PROB_PORT_SWAP"), m_prob_port_swap);
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: probability of port swap = %0.3f", m_prob_port_swap);
    m_prob_clear_remove = parse_probability(keyword(params, "LLT_PROB_CLR_REMOVE"), m_prob_clear_remove);
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: probablity of clr remove = %0.3f", m_prob_clear_remove);
    m_prob_preset_remove = parse_probability(keyword(params, "LLT_PROB_PRS_REMOVE"), m_prob_preset_remove);
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: probability of prs remove = %0.3f", m_prob_preset_remove);
    m_prob_data_enable_remove =
        parse_probability(keyword(params, "LLT_PROB_DATA_EN_REMOVE"), m_prob_data_enable_remove);
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: probability of data enable remove = %0.3f", m_prob_data_enable_remove);
    m_prob_dominance_switch = parse_probability(keyword(params, "LLT_PROB_DOM_SWITCH"), m_prob_dominance_switch);
    MORV_DEBUG_STREAM::print(1, "FSYN UTIL LLT: probability of dominance switch = %0.3f", m_prob_dominance_switch);
}

int MORV_UTIL_LATCH_TEST::run(int seed)
{
    // Seeded once per run: a later iteration that drew the same numbers
    // would make the same swaps and so undo the first one's.
    if (!m_seeded) std::srand(static_cast<unsigned>(seed));
    m_seeded = true;
    DEV_FL_INFO* device_fl_info = m_api->get_device_fl_info();
    MORV_ASSERT_TEXT(device_fl_info, "device_fl_info");
    CDB_ATOM_NETLIST* netlist = m_api->get_atom_netlist();
    MORV_ASSERT_TEXT(netlist, "m_atom_netlist");
    std::vector<CDB_ATOM_NODE*> latches;
    for (CDB_ATOM_NODE* node : *netlist) {
        const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
        if (info != nullptr && info->is_latch) latches.push_back(node);
    }
    for (CDB_ATOM_NODE* node : latches) {
        const int latch_fl_id = m_api->get_fl_id_from_atom_properties(node);
        MORV_DEBUG_STREAM::print(2, "NODE: %d --- LATCH FL_ID: %d --- NAME: %s --- FL_ID: %d",
                                 static_cast<int>(node->get_id()), latch_fl_id,
                                 device_fl_info->get_cell_name(latch_fl_id), m_api->get_stored_fl_id(node));
        test_latch(node);
    }
    return static_cast<int>(latches.size());
}

void MORV_UTIL_LATCH_TEST::test_latch(CDB_ATOM_NODE* node)
{
    const CDB_ATOM_LATCH_INFO* latch_info = cut_get_atom_latch_info(node);
    MORV_ASSERT_TEXT(latch_info && latch_info->is_latch, "latch_info && latch_info->is_latch()");
    MORV_ASSERT_TEXT(cut_sanity_check_atom_latch_info(node), "cut_sanity_check_atom_latch_info( node )");
    int num_input_paths = 0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if (has_real_source(*it)) ++num_input_paths;
    MORV_ASSERT_TEXT(num_input_paths > 0, "num_input_paths > 0");
    const int moves = number_of_moves();
    for (int move = 0; move < moves; ++move) make_move(node);
    const int type = classify(node);
    MORV_ASSERT_TEXT(type >= 0 && type < LLT_LATCH_TYPE_ARRAY_SIZE, "latch_type < LLT_LATCH_TYPE_ARRAY_SIZE");
    MORV_DEBUG_STREAM::print(1, "LLT: latch type for node %d = %s", static_cast<int>(node->get_id()),
                             describe_type(type).c_str());
    ++m_counts[type];
}

// No moves at all for a count of 0 or less: a random count below it has no
// range to come from.
int MORV_UTIL_LATCH_TEST::number_of_moves()
{
    if (m_num_moves <= 0) return 0;
    return m_random_moves ? std::rand() % m_num_moves : m_num_moves;
}

void MORV_UTIL_LATCH_TEST::make_move(CDB_ATOM_NODE* node)
{
    // Every edit draws its number, taken or not, so that a seed replays the
    // same sequence whatever the latch allowed.
    if (m_prob_port_swap > uniform() && swap_inputs(node)) check_latch(node);
    if (m_prob_clear_remove > uniform() && remove_set_or_reset(node, true)) check_latch(node);
    if (m_prob_preset_remove > uniform() && remove_set_or_reset(node, false)) check_latch(node);
    if (m_prob_data_enable_remove > uniform() && remove_data_and_enable(node)) check_latch(node);
    if (m_prob_dominance_switch > uniform() && switch_dominance(node)) check_latch(node);
}

// Two distinct inputs with sources exchange them; a latch with a single
// such input has nothing to swap.
bool MORV_UTIL_LATCH_TEST::swap_inputs(CDB_ATOM_NODE* node)
{
    std::vector<CDB_ATOM_ITERM*> paths;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if (has_real_source(*it)) paths.push_back(*it);
    const int count = static_cast<int>(paths.size());
    if (count < 2) return false;
    const int first = std::rand() % count;
    const int second = (first + 1 + std::rand() % (count - 1)) % count;
    CDB_ATOM_ITERM* a = paths[first];
    CDB_ATOM_ITERM* b = paths[second];
    MORV_DEBUG_STREAM::print(2, "LATCH: Swapping latch %d inputs (%d <-> %d)", static_cast<int>(node->get_id()),
                             a->get_any_usage_as(), b->get_any_usage_as());
    CDB_ATOM_OTERM* source_a = a->get_source();
    CDB_ATOM_OTERM* source_b = b->get_source();
    MORV_ITERM_PROPERTIES props_a, props_b;
    m_net_util->save_iterm_properties(a, &props_a);
    m_net_util->save_iterm_properties(b, &props_b);
    m_net_util->disconnect_iterm(a, CDB_NET_ITERM::UNCONNECTED);
    m_net_util->disconnect_iterm(b, CDB_NET_ITERM::UNCONNECTED);
    m_net_util->insert_fanout(source_b, a);
    m_net_util->insert_fanout(source_a, b);
    m_net_util->restore_iterm_properties(props_a, a);
    m_net_util->restore_iterm_properties(props_b, b);
    return true;
}

void MORV_UTIL_LATCH_TEST::disconnect(CDB_ATOM_ITERM* iterm)
{
    if (iterm->is_connected()) m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    if (iterm->is_inverted()) m_net_util->clear_invert(iterm);
}

void MORV_UTIL_LATCH_TEST::write_mask(CDB_ATOM_NODE* node, uint64_t rows)
{
    CDB_LUTMASK mask(MASK_INPUTS, rows);
    if (reversed_order(node)) mask.mirror_mask();
    m_cdb_interface->set_lutmask(node, mask, 0);
    m_api->modify_node(node);
}

// Only a latch with a real enable loses a clear or preset: without one the
// controls are all that changes its state.
bool MORV_UTIL_LATCH_TEST::remove_set_or_reset(CDB_ATOM_NODE* node, bool clear)
{
    const LATCH_VIEW view = view_of(node);
    const int input = clear ? view.clear : view.preset;
    if (!view.real_enable || input < 0) return false;
    CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    int& port = clear ? info->clear_port : info->preset_port;
    if (clear) MORV_DEBUG_STREAM::print(2, "LATCH: Removing latch %d clear port %d", int(node->get_id()), port);
    else MORV_DEBUG_STREAM::print(2, "LATCH: Removing latch %d preset port %d", int(node->get_id()), port);
    disconnect(node->get_input_term_by_type(port));
    // Where the control was asserted the latch now does what it does
    // without it; where both were, the other one wins.
    const int level = clear ? view.clear_level : view.preset_level;
    const uint64_t old_rows = read_rows(node);
    uint64_t rows = old_rows;
    for (int row = 0; row < MASK_ROWS; ++row) {
        if (input_bit(row, input) != (level == 1)) continue;
        const int inactive_row = row ^ (1 << input);
        rows = (rows & ~(uint64_t{1} << row)) | (uint64_t{row_bit(old_rows, inactive_row)} << row);
    }
    port = MORV_NO_INPUT_PORT;
    write_mask(node, rows);
    return true;
}

// Only a latch with both controls and a real enable loses its data and
// enable; one without a feedback input would have nothing left to hold.
bool MORV_UTIL_LATCH_TEST::remove_data_and_enable(CDB_ATOM_NODE* node)
{
    const LATCH_VIEW view = view_of(node);
    if (view.clear < 0 || view.preset < 0 || view.enable < 0 || view.feedback < 0 || !view.real_enable) return false;
    MORV_DEBUG_STREAM::print(2, "LATCH: Removing latch %d data and enable ports", static_cast<int>(node->get_id()));
    const uint64_t old_rows = read_rows(node);
    CDB_LUTMASK old_mask(MASK_INPUTS, old_rows);
    disconnect(node->get_input_term_by_type(DB_DATA_A + view.enable));
    for (int input = 0; input < MASK_INPUTS; ++input) {
        if (view.is_role(input) || old_mask.is_independent_of(input)) continue;
        if (CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_DATA_A + input)) disconnect(data);
    }
    // Unless a control is asserted the latch keeps what it holds.
    uint64_t rows = 0;
    for (int row = 0; row < MASK_ROWS; ++row) {
        const bool controlled = view.clear_asserted(row) || view.preset_asserted(row);
        const bool value = controlled ? row_bit(old_rows, row) : input_bit(row, view.feedback);
        rows |= uint64_t{value} << row;
    }
    write_mask(node, rows);
    return true;
}

bool MORV_UTIL_LATCH_TEST::switch_dominance(CDB_ATOM_NODE* node)
{
    const LATCH_VIEW view = view_of(node);
    if (view.real_enable || view.clear < 0 || view.preset < 0) return false;
    MORV_DEBUG_STREAM::print(2, "LATCH: switching dominance of latch %d (from %s-dominant to %s-dominant)",
                             static_cast<int>(node->get_id()), view.clear_dominant ? "clear" : "preset",
                             view.clear_dominant ? "preset" : "clear");
    uint64_t rows = read_rows(node);
    for (int row = 0; row < MASK_ROWS; ++row)
        if (view.clear_asserted(row) && view.preset_asserted(row)) rows ^= uint64_t{1} << row;
    write_mask(node, rows);
    return true;
}

void MORV_UTIL_LATCH_TEST::check_latch(CDB_ATOM_NODE* node) const
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* iterm = *it;
        if (iterm != nullptr)
            MORV_ASSERT_TEXT(!iterm->is_inverted() || iterm->is_gnd(), "!iterm->is_inverted() || iterm->is_gnd()");
    }
    const LATCH_VIEW view = view_of(node);
    const uint64_t rows = read_rows(node);
    for (int row = 0; row < MASK_ROWS; ++row) {
        const bool clear = view.clear_asserted(row), preset = view.preset_asserted(row);
        const bool output_bit = row_bit(rows, row);
        if (preset && !(clear && view.clear_dominant)) MORV_ASSERT_TEXT(output_bit == 1, "output_bit == 1");
        if (clear && !(preset && !view.clear_dominant)) MORV_ASSERT_TEXT(output_bit == 0, "output_bit == 0");
    }
}

int MORV_UTIL_LATCH_TEST::classify(CDB_ATOM_NODE* node) const
{
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    const int enable_port = info->enable_port;
    const int enable_mode = info->enable_mode;
    MORV_ASSERT_TEXT(enable_port == DB_MAX_INPUT_PORT_TYPE || enable_mode == CDB_LATCH_ENABLE_MODE_NON_INVERTED ||
                         enable_mode == CDB_LATCH_ENABLE_MODE_INVERTED,
                     "enable_port == DB_MAX_INPUT_PORT_TYPE || enable_mode == CDB_LATCH_ENABLE_MODE_NON_INVERTED || "
                     "enable_mode == CDB_LATCH_ENABLE_MODE_INVERTED");
    const LATCH_VIEW view = view_of(node);
    int type = 0;
    if (view.real_enable) {
        type |= MORV_LLT_ENABLE;
        if (enable_mode == CDB_LATCH_ENABLE_MODE_NON_INVERTED) type |= MORV_LLT_ENABLE_HIGH;
    }
    if (view.clear >= 0) type |= MORV_LLT_CLEAR | (view.clear_level == 1 ? MORV_LLT_CLEAR_HIGH : 0);
    if (view.preset >= 0) type |= MORV_LLT_PRESET | (view.preset_level == 1 ? MORV_LLT_PRESET_HIGH : 0);
    if (!view.real_enable && view.clear >= 0 && view.preset >= 0 && view.clear_dominant)
        type |= MORV_LLT_CLEAR_DOMINANT;
    return type;
}

namespace {

// The printed parts of a latch type, each a name and a level: enable,
// clear, preset, and the dominance; an absent part is blank.
struct TYPE_PARTS
{
    const char* enable = "  ";
    const char* enable_level = " ";
    const char* clear = "   ";
    const char* clear_level = " ";
    const char* preset = "   ";
    const char* preset_level = " ";
    const char* dominance = "       ";
};

TYPE_PARTS parts_of(int type)
{
    TYPE_PARTS parts;
    if (type & MORV_LLT_ENABLE) {
        parts.enable = "en";
        parts.enable_level = type & MORV_LLT_ENABLE_HIGH ? "1" : "0";
    }
    if (type & MORV_LLT_CLEAR) {
        parts.clear = "clr";
        parts.clear_level = type & MORV_LLT_CLEAR_HIGH ? "1" : "0";
    }
    if (type & MORV_LLT_PRESET) {
        parts.preset = "prs";
        parts.preset_level = type & MORV_LLT_PRESET_HIGH ? "1" : "0";
    }
    if (!(type & MORV_LLT_ENABLE) && (type & MORV_LLT_CLEAR) && (type & MORV_LLT_PRESET))
        parts.dominance = type & MORV_LLT_CLEAR_DOMINANT ? "clr_dom" : "prs_dom";
    return parts;
}

// Bit sets no latch can have: a level without its port, dominance where
// it does not apply.
bool is_possible_type(int type)
{
    if ((type & MORV_LLT_ENABLE_HIGH) && !(type & MORV_LLT_ENABLE)) return false;
    if ((type & MORV_LLT_CLEAR_HIGH) && !(type & MORV_LLT_CLEAR)) return false;
    if ((type & MORV_LLT_PRESET_HIGH) && !(type & MORV_LLT_PRESET)) return false;
    const bool dominance_applies = !(type & MORV_LLT_ENABLE) && (type & MORV_LLT_CLEAR) && (type & MORV_LLT_PRESET);
    return dominance_applies || !(type & MORV_LLT_CLEAR_DOMINANT);
}

}  // namespace

std::string MORV_UTIL_LATCH_TEST::describe_type(int latch_type)
{
    const TYPE_PARTS p = parts_of(latch_type);
    std::string text;
    for (const char* part :
         {p.enable, p.enable_level, " ", p.clear, p.clear_level, " ", p.preset, p.preset_level, " ", p.dominance})
        text += part;
    return text;
}

void MORV_UTIL_LATCH_TEST::report_coverage() const
{
    MORV_DEBUG_STREAM::print(1, "LLT: latch types covered");
    for (int type = 0; type < LLT_LATCH_TYPE_ARRAY_SIZE; ++type) {
        if (!is_possible_type(type)) continue;
        const TYPE_PARTS p = parts_of(type);
        MORV_DEBUG_STREAM::print(1, "\tlatch type: %s%s %s%s %s%s %s : # of cases = %d", p.enable, p.enable_level,
                                 p.clear, p.clear_level, p.preset, p.preset_level, p.dominance, m_counts[type]);
    }
}
