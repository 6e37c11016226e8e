// How critical the two sides of a sequential element are, and the clock
// step that moves its clock toward the less critical side: strongly when
// the element is critical, hardly at all when it is not. The input side of
// an element is the connections ending at its data and control inputs, the
// output side the connections its outputs drive; a side's criticality is
// its smallest slack ratio.

#include <algorithm>
#include <cmath>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr double k_slack_ratio_not_computed = -1.0;

// The RAM input the host numbers 90, on the write side beside the data-in
// of port A (DB_RAM_PORTA_DATAIN, 78).
constexpr int RAM_WRITE_SIDE_INPUT_90 = 90;

// Inputs of a register whose connections make its input side.
constexpr int REGISTER_INPUTS[] = {DB_DATAIN, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA};
// A logic cell holding its register: the register controls, and the LUT's
// data inputs too unless the LUT cannot feed the register (synchronous load
// tied high, or the register cascade in use).
constexpr int CELL_REGISTER_INPUTS[] = {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA};
constexpr int CELL_REGISTER_AND_LUT_INPUTS[] = {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA,
                                                DB_DATA_A,       DB_DATA_B,      DB_DATA_C,     DB_DATA_D};

// A full imbalance of a fully critical element moves its clock this far (ps).
constexpr double FULL_STEP_PS = 1000.0;
// How fast the step fades as the element gets less critical.
constexpr double CRITICALITY_POWER = 5.0;

}  // namespace

void MORV_OPT_SKEW::reset_slack_ratio_caches()
{
    m_input_sr_map.assign(m_skews.size(), k_slack_ratio_not_computed);
    m_output_sr_map.assign(m_input_sr_map.size(), k_slack_ratio_not_computed);
    m_feeding_chain_sr.clear();
    m_fed_chain_sr.clear();
    m_chain_heads.clear();
}

// ------------------------------------------------------------------ step

int MORV_OPT_SKEW::skew_step(double a, double b, double sr_threshold)
{
    if (a >= 1.0 || b >= 1.0) return 0;
    const double m = std::min(a, b);
    const double d = m < sr_threshold ? b - a : 0.0;
    return static_cast<int>(FULL_STEP_PS * d * std::pow(1.0 - m, CRITICALITY_POWER));
}

int MORV_OPT_SKEW::compute_skew_step(CDB_ATOM_NODE* node, double sr_threshold)
{
    MORV_ASSERT_TEXT(node != nullptr &&
                         (is_register_element(node) || node->is_lcell() || morv_is_mac_atom(node) || node->is_ram()),
                     "m_fsyn_api->get_fsyn_net_util()->is_ff(node) || node->is_lcell() || node->is_mac_mult() || "
                     "node->is_mac_out() || node->is_ram()");
    double a = 1.0;
    double b = 1.0;
    if (node->is_ram()) {
        a = get_ram_input_slack_ratio(node);
        b = get_ram_output_slack_ratio(node);
    } else if (morv_is_mac_atom(node)) {
        a = get_mac_input_slack_ratio(node);
        b = get_mac_output_slack_ratio(node);
    } else if (!is_register_element(node)) {
        a = get_input_slack_ratio(node);
        b = get_output_slack_ratio(node);
    } else {
        register_side_ratios(node, a, b);
    }
    return skew_step(a, b, sr_threshold);
}

bool MORV_OPT_SKEW::is_skew_limited(CDB_ATOM_NODE* node, double sr_threshold)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(is_register_element(node) || morv_is_mac_atom(node) || node->is_ram(),
                     "m_fsyn_api->get_fsyn_net_util()->is_ff(node) || node->is_mac_mult() || node->is_mac_out() || "
                     "node->is_ram()");
    double a = 1.0;
    double b = 1.0;
    if (node->is_ram()) {
        a = get_ram_input_slack_ratio(node);
        b = get_ram_output_slack_ratio(node);
    } else if (!morv_is_mac_atom(node)) {
        a = get_input_slack_ratio(node);
        b = get_output_slack_ratio(node);
    } else {
        a = get_mac_input_slack_ratio(node);
        b = get_mac_output_slack_ratio(node);
    }
    return sr_threshold > a || sr_threshold > b;
}

// ------------------------------------------------------------------ registers around carry chains

// A register on a carry chain's sum output, or feeding a chain, moves with
// the chain's other registers: it takes their group's ratios unless its own
// side is the one that decides.
void MORV_OPT_SKEW::register_side_ratios(CDB_ATOM_NODE* node, double& a, double& b)
{
    a = 1.0;
    b = 1.0;
    if (feeding_chain_ratios(node, a, b) || fed_chain_ratios(node, a, b)) return;
    a = get_input_slack_ratio(node);
    b = get_output_slack_ratio(node);
}

// A cell a carry chain can run through in this family.
bool MORV_OPT_SKEW::is_chain_cell(CDB_ATOM_NODE* node) const
{
    return node != nullptr && m_fsyn_net_util->is_lcell(node) && !m_fsyn_net_util->is_ff(node);
}

// True when the chain feeding the register decided a and b.
bool MORV_OPT_SKEW::feeding_chain_ratios(CDB_ATOM_NODE* node, double& a, double& b)
{
    const CDB_ATOM_ITERM* data_in = node->get_input_term_by_type(DB_DATAIN);
    const CDB_ATOM_OTERM* source = data_in != nullptr ? data_in->get_source() : nullptr;
    if (source == nullptr || !source->is_used_as(DB_SUM_OUT)) return false;
    CDB_ATOM_NODE* cell = source->get_my_node();
    if (!is_chain_cell(cell) || !m_fsyn_net_util->is_lcell_part_of_a_carry_chain(cell)) return false;
    const auto [group_a, group_b] = chain_group_ratios(chain_head_of(cell), true);
    if (group_a > group_b) {
        // Its output side is the group's critical one: as if fed by no chain.
        a = b = 1.0;
        return false;
    }
    if (group_a < group_b) {
        a = get_input_slack_ratio(node);
        b = get_output_slack_ratio(node);
    } else {
        a = group_a;
        b = group_b;
    }
    return true;
}

// True when the chain the register feeds decided a and b.
bool MORV_OPT_SKEW::fed_chain_ratios(CDB_ATOM_NODE* node, double& a, double& b)
{
    const CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr) return false;
    CDB_ATOM_NODE* cell = nullptr;
    for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout() && cell == nullptr; ++it) {
        CDB_ATOM_NODE* sink = (*it)->get_my_node();
        if (sink != nullptr && m_fsyn_net_util->is_lcell(sink) && m_fsyn_net_util->is_lcell_in_a_chain(sink))
            cell = sink;
    }
    if (cell == nullptr) return false;
    const auto [group_a, group_b] = chain_group_ratios(chain_head_of(cell), false);
    if (group_b > group_a) return false;
    a = group_a;
    b = group_b;
    return true;
}

// Every register on a chain's sum outputs asks for the chain's head: a
// chain of L cells would be walked back L times.
CDB_ATOM_NODE* MORV_OPT_SKEW::chain_head_of(CDB_ATOM_NODE* cell)
{
    const auto found = m_chain_heads.find(cell->get_id());
    if (found != m_chain_heads.end()) return found->second;
    ++m_chain_walks;
    CDB_ATOM_NODE* head = m_fsyn_net_util->get_carry_chain_head(cell);
    for (CDB_ATOM_NODE* at = head; is_chain_cell(at) && m_chain_heads.emplace(at->get_id(), head).second;
         at = m_fsyn_net_util->get_next_node_in_carry_chain(at)) {}
    return head;
}

// The smallest ratios of the registers on a chain's sum outputs (feeding) or
// of the registers feeding its cells; once per chain and pass.
std::pair<double, double> MORV_OPT_SKEW::chain_group_ratios(CDB_ATOM_NODE* head, bool feeding)
{
    auto& cache = feeding ? m_feeding_chain_sr : m_fed_chain_sr;
    const auto cached = cache.find(head->get_id());
    if (cached != cache.end()) return cached->second;
    double a = 1.0;
    double b = 1.0;
    auto take = [&](CDB_ATOM_NODE* reg) {
        if (reg == nullptr || !is_register_element(reg)) return;
        a = std::min(a, get_input_slack_ratio(reg));
        b = std::min(b, get_output_slack_ratio(reg));
    };
    // A broken netlist could close the chain into a loop.
    size_t steps = m_fsyn_api->get_atom_netlist()->get_node_count() + 1;
    for (CDB_ATOM_NODE* cell = head; is_chain_cell(cell) && steps-- > 0;
         cell = m_fsyn_net_util->get_next_node_in_carry_chain(cell)) {
        if (!feeding) {
            for (auto it = cell->begin_iterm(); it != cell->end_iterm(); ++it)
                if ((*it)->get_source() != nullptr) take((*it)->get_source()->get_my_node());
            continue;
        }
        if (const CDB_ATOM_OTERM* sum = cell->get_output_term_by_type(DB_SUM_OUT))
            for (auto it = sum->begin_iterm_fanout(); it != sum->end_iterm_fanout(); ++it) take((*it)->get_my_node());
    }
    cache.emplace(head->get_id(), std::make_pair(a, b));
    return {a, b};
}

// ------------------------------------------------------------------ side ratios

double MORV_OPT_SKEW::get_input_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && (is_register_element(node) || node->is_lcell()),
                     "m_fsyn_api->get_fsyn_net_util()->is_ff(node) || node->is_lcell()");
    MORV_ASSERT_TEXT(node->get_id() >= m_id_base && node->get_id() - m_id_base < m_input_sr_map.size(),
                     "node->get_id() < m_input_sr_map.size()");
    double& cached = m_input_sr_map[node->get_id() - m_id_base];
    if (cached < 0.0) cached = uncached_input_slack_ratio(node);
    return cached;
}

double MORV_OPT_SKEW::get_output_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && (is_register_element(node) || node->is_lcell()),
                     "m_fsyn_api->get_fsyn_net_util()->is_ff(node) || node->is_lcell()");
    MORV_ASSERT_TEXT(node->get_id() >= m_id_base && node->get_id() - m_id_base < m_output_sr_map.size(),
                     "node->get_id() < m_output_sr_map.size()");
    double& cached = m_output_sr_map[node->get_id() - m_id_base];
    if (cached < 0.0) {
        const CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(regout, "regout");
        cached = fanout_slack_ratio(regout, 1.0);
    }
    return cached;
}

double MORV_OPT_SKEW::uncached_input_slack_ratio(CDB_ATOM_NODE* node)
{
    const int* ports = REGISTER_INPUTS;
    size_t count = std::size(REGISTER_INPUTS);
    if (m_one_cell_holds_lut_and_ff) {
        const bool lut_feeds_register =
            !m_fsyn_net_util->is_sload_tied_to_vcc(node) && !m_fsyn_net_util->is_connected(node, DB_REG_CASCADE_IN);
        ports = lut_feeds_register ? CELL_REGISTER_AND_LUT_INPUTS : CELL_REGISTER_INPUTS;
        count = lut_feeds_register ? std::size(CELL_REGISTER_AND_LUT_INPUTS) : std::size(CELL_REGISTER_INPUTS);
    }
    double ratio = 1.0;
    for (size_t i = 0; i < count; ++i)
        if (CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(ports[i], 0))
            ratio = std::min(ratio, m_fsyn_timing->get_slack_ratio(iterm));
    return ratio;
}

double MORV_OPT_SKEW::fanout_slack_ratio(const CDB_ATOM_OTERM* oterm, double ratio)
{
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        ratio = std::min(ratio, m_fsyn_timing->get_slack_ratio(*it));
    return ratio;
}

double MORV_OPT_SKEW::get_ram_input_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && node->is_ram(), "node->is_ram()");
    double ratio = 1.0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->is_used_as(DB_RAM_PORTA_DATAIN) || (*it)->is_used_as(RAM_WRITE_SIDE_INPUT_90))
            ratio = std::min(ratio, m_fsyn_timing->get_slack_ratio(*it));
    return ratio;
}

double MORV_OPT_SKEW::get_ram_output_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && node->is_ram(), "node->is_ram()");
    double ratio = 1.0;
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if ((*it)->has_fanout() && ((*it)->is_used_as(DB_RAM_PORTA_DATAOUT) || (*it)->is_used_as(DB_RAM_PORTB_DATAOUT)))
            ratio = fanout_slack_ratio(*it, ratio);
    return ratio;
}

double MORV_OPT_SKEW::get_mac_input_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && morv_is_mac_atom(node), "node->is_mac_mult() || node->is_mac_out()");
    double ratio = 1.0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->is_used_as(DB_DATA_A) || (*it)->is_used_as(DB_DATA_B))
            ratio = std::min(ratio, m_fsyn_timing->get_slack_ratio(*it));
    return ratio;
}

double MORV_OPT_SKEW::get_mac_output_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && morv_is_mac_atom(node), "node->is_mac_mult() || node->is_mac_out()");
    double ratio = 1.0;
    for (int bit = 0; bit < CUT_MAC_UTIL::get_output_port_width(node, DB_DATA_OUT); ++bit) {
        const CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_DATA_OUT, bit);
        if (oterm != nullptr && oterm->has_fanout()) ratio = fanout_slack_ratio(oterm, ratio);
    }
    return ratio;
}
