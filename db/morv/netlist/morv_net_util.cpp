#include "morv/netlist/morv_net_util.h"

#include <set>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/timing/morv_timing.h"

unsigned MORV_NET_UTIL::s_unique_name_counter = 0;

MORV_NET_UTIL::MORV_NET_UTIL(CDB_ATOM_NETLIST* netlist, MORV_API* api)
    : m_api(api), m_timing(nullptr), m_cdb_interface(nullptr), m_atom_netlist(netlist), m_max_lut_inputs(0)
{
    MORV_ASSERT(m_api);
    m_timing = m_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(m_timing, "m_fsyn_timing");
    m_cdb_interface = m_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_cdb_interface, "m_fsyn_cdb_interface");
}

MORV_NET_UTIL::~MORV_NET_UTIL() {}

void MORV_NET_UTIL::tie_inputs_to_vcc_lcells()
{
    MORV_ASSERT_TEXT(false, "This function is only implemented in Talvane II");
}

void MORV_NET_UTIL::unsupported(const char* text)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, __LINE__);
}

// ---------------------------------------------------------------- small helpers

CDB_ATOM_OTERM* MORV_NET_UTIL::connected_output(CDB_ATOM_NODE* node, int output_port_type)
{
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(output_port_type);
    return oterm != nullptr && oterm->has_fanout() ? oterm : nullptr;
}

bool MORV_NET_UTIL::any_output_connected(CDB_ATOM_NODE* node, std::initializer_list<int> output_port_types) const
{
    for (int port : output_port_types)
        if (connected_output(node, port) != nullptr) return true;
    return false;
}

bool MORV_NET_UTIL::any_input_connected(CDB_ATOM_NODE* node, std::initializer_list<int> input_port_types) const
{
    for (int port : input_port_types)
        if (is_connected(node, port)) return true;
    return false;
}

CDB_ATOM_NODE* MORV_NET_UTIL::first_fanout_node(CDB_ATOM_OTERM* oterm)
{
    CDB_ATOM_ITERM* carry_in_iterm = oterm->get_first_fanout();
    MORV_ASSERT_TEXT(carry_in_iterm && carry_in_iterm->is_connected(), "is_connected(carry_in_iterm)");
    return carry_in_iterm->get_my_node();
}

CDB_ATOM_NODE* MORV_NET_UTIL::source_node(CDB_ATOM_ITERM* iterm)
{
    if (iterm == nullptr || !iterm->is_connected() || iterm->get_source() == nullptr) return nullptr;
    return iterm->get_source()->get_my_node();
}

uint64_t MORV_NET_UTIL::oterm_mask(CDB_ATOM_OTERM* oterm)
{
    return oterm->get_lutmask().get_value();
}

uint64_t MORV_NET_UTIL::node_mask(CDB_ATOM_NODE* node)
{
    return node->get_lutmask().get_value();
}

uint64_t MORV_NET_UTIL::get_data_lutmask(CDB_ATOM_NODE* node) const
{
    const uint64_t mask = get_lutmask(node);
    if (!reads_carry_in_at_c(node) || is_carry_in_connected(node)) return mask;
    // Rows a + 2b + 4c + 8d: every row with c set takes the value of its
    // row with c clear.
    constexpr uint64_t c_clear = 0x0f0fULL;
    const uint64_t low = mask & c_clear;
    return (mask & ~uint64_t{0xffff}) | low | (low << 4);
}

// ---------------------------------------------------------------- evaluation from port pairs

namespace {

// The position of an input port in the evaluation array, -1 for other ports.
int evaluate_position(int port_type)
{
    if (port_type >= DB_DATA_A && port_type <= DB_DATA_G) return port_type - DB_DATA_A;
    if (port_type == DB_CARRY_IN) return MORV_EVALUATE_CARRY_IN;
    if (port_type == DB_SHARE_IN) return MORV_EVALUATE_SHARE_IN;
    return -1;
}

struct EVALUATE_INPUTS
{
    explicit EVALUATE_INPUTS(const MORV_PORT_VALUES& values)
    {
        for (const auto& pair : values) {
            const int position = evaluate_position(pair.first);
            MORV_ASSERT_TEXT(position >= 0, "Not an input of a LUT evaluation");
            in[position] = pair.second != 0 ? 1u : 0u;
        }
    }
    unsigned in[MORV_EVALUATE_INPUT_COUNT] = {};
};

}  // namespace

unsigned MORV_NET_UTIL::evaluate_comb_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const
{
    return evaluate_comb_out(node, EVALUATE_INPUTS(values).in);
}

unsigned MORV_NET_UTIL::evaluate_sum_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const
{
    return evaluate_sum_out(node, EVALUATE_INPUTS(values).in);
}

unsigned MORV_NET_UTIL::evaluate_carry_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const
{
    return evaluate_carry_out(node, EVALUATE_INPUTS(values).in);
}

unsigned MORV_NET_UTIL::evaluate_share_out(CDB_ATOM_NODE* node, const MORV_PORT_VALUES& values) const
{
    return evaluate_share_out(node, EVALUATE_INPUTS(values).in);
}

// ---------------------------------------------------------------- shared queries

bool MORV_NET_UTIL::is_latch(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    if (!node->is_lcell() && !node->is_lcell_comb()) return false;
    const CDB_ATOM_LATCH_INFO* latch_info = cut_get_atom_latch_info(node);
    return latch_info != nullptr && latch_info->is_latch;
}

bool MORV_NET_UTIL::is_register_data_path_free(CDB_ATOM_NODE* node) const
{
    if (is_sload_tied_to_vcc(node)) return false;
    return !is_connected(node, DB_REG_CASCADE_IN);
}

bool MORV_NET_UTIL::is_synch_load_unused(CDB_ATOM_NODE* node) const
{
    if (is_connected(node, DB_REG_CASCADE_IN)) return false;
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (sload == nullptr || !sload->is_connected()) return true;
    return sload->is_logical_gnd();
}

bool MORV_NET_UTIL::get_lcell_output_terms(CDB_ATOM_NODE* node, CDB_ATOM_OTERM** out_combout_oterm,
                                           CDB_ATOM_OTERM** out_regout_oterm) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(out_combout_oterm);
    MORV_ASSERT(out_regout_oterm);
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        if (oterm->is_used_as(DB_REG_OUT)) *out_regout_oterm = oterm;
        else if (oterm->is_used_as(DB_COMB_OUT)) *out_combout_oterm = oterm;
        else return false;
    }
    return true;
}

int MORV_NET_UTIL::get_number_of_connected_lut_inputs(CDB_ATOM_NODE* node) const
{
    int count = 0;
    for (int port = DB_DATA_A; port < DB_DATA_A + m_max_lut_inputs; ++port)
        if (is_connected(node, port)) ++count;
    return count;
}

bool MORV_NET_UTIL::has_input_driven_by_special_source(CDB_ATOM_NODE* node) const
{
    // The host's clock buffers: a cell fed by one is never swept away.
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_NODE* source = source_node(*it);
        if (source != nullptr && source->is_clkbuf()) return true;
    }
    return false;
}

namespace {

void insert_lut_sources(CDB_ATOM_NODE* node, int input_count, MORV_OTERM_SET* sources)
{
    if (node == nullptr) return;
    for (int port = DB_DATA_A; port < DB_DATA_A + input_count; ++port) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm != nullptr && iterm->is_connected() && iterm->get_source() != nullptr)
            sources->insert(iterm->get_source());
    }
}

}  // namespace

int MORV_NET_UTIL::count_common_lut_input_sources(CDB_ATOM_NODE* node1, CDB_ATOM_NODE* node2) const
{
    MORV_OTERM_SET sources;
    insert_lut_sources(node1, m_max_lut_inputs, &sources);
    insert_lut_sources(node2, m_max_lut_inputs, &sources);
    return static_cast<int>(sources.size());
}

int MORV_NET_UTIL::count_common_lut_input_sources_limited(CDB_ATOM_NODE* node1, CDB_ATOM_NODE* node2,
                                                          bool include_fourth_input) const
{
    const int count = include_fourth_input ? 4 : 3;
    MORV_OTERM_SET sources;
    insert_lut_sources(node1, count, &sources);
    insert_lut_sources(node2, count, &sources);
    return static_cast<int>(sources.size());
}

bool MORV_NET_UTIL::is_connected(CDB_ATOM_NODE* node, int port_type) const
{
    MORV_ASSERT(node && port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE);
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    return iterm != nullptr && iterm->is_connected();
}

bool MORV_NET_UTIL::is_output_connected(CDB_ATOM_NODE* node, int port_type) const
{
    MORV_ASSERT_TEXT(node, "node && port_type >= 0 && port_type < DB_MAX_OUTPUT_PORT_TYPE");
    return connected_output(node, port_type) != nullptr;
}

void MORV_NET_UTIL::sort_lut_inputs_by_slack_ratio(CDB_ATOM_NODE* node, int* out_ports) const
{
    MORV_ASSERT(node && out_ports);
    std::vector<double> ratios(m_max_lut_inputs);
    for (int i = 0; i < m_max_lut_inputs; ++i) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + i);
        ratios[i] = iterm != nullptr && iterm->is_connected() ? m_timing->get_slack_ratio(iterm) : 999999999.0;
    }
    std::vector<bool> taken(m_max_lut_inputs, false);
    for (int slot = 0; slot < m_max_lut_inputs; ++slot) {
        double best = 1e9;
        int best_index = -1;
        for (int i = 0; i < m_max_lut_inputs; ++i) {
            if (!taken[i] && ratios[i] < best) {
                best = ratios[i];
                best_index = i;
            }
        }
        if (best_index < 0) {
            out_ports[slot] = DB_MAX_INPUT_PORT_TYPE;
            continue;
        }
        taken[best_index] = true;
        out_ports[slot] = DB_DATA_A + best_index;
    }
}

void MORV_NET_UTIL::sort_lut_inputs_by_slack_ratio(int* out_ports, CDB_ATOM_NODE* node, bool /*flag*/) const
{
    sort_lut_inputs_by_slack_ratio(node, out_ports);
}

int MORV_NET_UTIL::get_most_critical_lut_input(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    double best = 1.0;
    int best_port = DB_MAX_INPUT_PORT_TYPE;
    for (int port = DB_DATA_A; port < DB_DATA_A + m_max_lut_inputs; ++port) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        const double ratio = m_timing->get_slack_ratio(iterm);
        if (ratio < best) {
            best = ratio;
            best_port = port;
        }
    }
    return best_port;
}

int MORV_NET_UTIL::ceil_log2(uint64_t v)
{
    if (v == 0) {
        MORV_ASSERT_TEXT(false, "Can't compute log(0)");
        return -1;
    }
    if (v > 128) {
        MORV_ASSERT_TEXT(false, "Can't compute log() of a value greater than 128");
        return 0;
    }
    int bits = 1;
    while ((uint64_t(1) << bits) < v) ++bits;
    return bits;
}

CDB_ATOM_NODE* MORV_NET_UTIL::get_carry_chain_head(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    CDB_ATOM_NODE* head = node;
    // A broken netlist could close a carry loop; a walk never needs more
    // steps than there are atoms.
    size_t steps = m_atom_netlist != nullptr ? m_atom_netlist->get_node_count() + 1 : SIZE_MAX;
    for (CDB_ATOM_NODE* previous = get_previous_node_in_carry_chain(head); previous != nullptr;
         previous = get_previous_node_in_carry_chain(head)) {
        MORV_ASSERT_TEXT(steps-- > 0, "Carry chain closes a loop");
        head = previous;
    }
    return head;
}

bool MORV_NET_UTIL::does_iterm_reach_oterm(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(node && oterm && iterm);
    if (iterm->get_usage_count() == 0) return false;
    return node->does_iterm_reach_oterm(oterm, iterm);
}

// ---------------------------------------------------------------- canonical input order

namespace {

// The 5-bit global setting, sign-extended, compared as an unsigned 64-bit
// value: negative settings sort after positive ones.
uint64_t global_key(const CDB_ATOM_ITERM* iterm)
{
    return static_cast<uint64_t>(static_cast<int64_t>(iterm->get_global()));
}

// -1 when a orders first, 1 when b does, 0 when this rule does not decide.
int compare_flag(bool a, bool b)
{
    if (a == b) return 0;
    return a ? -1 : 1;
}

}  // namespace

bool MORV_NET_UTIL::iterm_properties_less(CDB_ATOM_ITERM* a, CDB_ATOM_ITERM* b) const
{
    if (a == b) return false;
    if (a == nullptr) return true;
    if (b == nullptr) return false;
    for (int decided :
         {compare_flag(a->is_logical_vcc(), b->is_logical_vcc()),
          compare_flag(a->is_logical_gnd(), b->is_logical_gnd()), compare_flag(a->is_inverted(), b->is_inverted())})
        if (decided != 0) return decided < 0;
    const int port_a = boundary_port_id(a);
    const int port_b = boundary_port_id(b);
    if (port_a != port_b) return port_a < port_b;
    if (global_key(a) != global_key(b)) return global_key(a) < global_key(b);
    CDB_ATOM_OTERM* source_a = a->get_source();
    CDB_ATOM_OTERM* source_b = b->get_source();
    if (source_a == nullptr || source_b == nullptr) return source_a == nullptr && source_b != nullptr;
    MORV_ASSERT(a->get_source() && b->get_source());
    return DETERMINISTIC_LESS<CDB_ATOM_OTERM*>()(source_a, source_b);
}

bool MORV_NET_UTIL::iterm_properties_equal(CDB_ATOM_ITERM* a, CDB_ATOM_ITERM* b) const
{
    return !iterm_properties_less(a, b) && !iterm_properties_less(b, a);
}

// ---------------------------------------------------------------- names

std::string MORV_NET_UTIL::get_hpath_name(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name ? name->get_hpath_to_root() : std::string();
}

std::string MORV_NET_UTIL::get_hpath_name(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(oterm);
    HDB_INSTANCE_NAME* name = oterm->get_instance_name();
    return name ? name->get_hpath_to_root() : std::string();
}

std::string MORV_NET_UTIL::get_edge_name(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    std::string text;
    if (iterm->get_source() != nullptr) text = get_hpath_name(iterm->get_source());
    else if (iterm->is_logical_gnd()) text = "gnd";
    else if (iterm->is_logical_vcc()) text = "vcc";
    else text = "nil";
    text += " -> ";
    if (iterm->get_my_node() != nullptr) text += get_hpath_name(iterm->get_my_node());
    return text;
}
