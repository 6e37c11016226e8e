#include "morv/resyn/morv_inv_push.h"

#include <algorithm>
#include <cinttypes>
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

// Passes share the slack-ratio threshold out in fifths, the first the most.
constexpr double THRESHOLD_STEPS = 5.0;
// Inverters are pushed through the masks of six-input LUTs.
constexpr int PUSHED_MASK_INPUTS = 6;

bool is_data_port(int port_type)
{
    return port_type >= DB_DATA_A && port_type <= DB_DATA_F;
}

}  // namespace

MORV_INV_PUSH::MORV_INV_PUSH(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr), m_legalizer(api), m_iteration(0), m_pass_index(0),
      m_save_id(-1)
{
    MORV_DEBUG_STREAM::print(100, "MORV_INV_PUSH Created.");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    MORV_ASSERT_TEXT(m_cdb_interface, "m_cdb_interface");
}

MORV_INV_PUSH::~MORV_INV_PUSH()
{
    MORV_DEBUG_STREAM::print(100, "MORV_INV_PUSH Destroyed");
    drop_saved_state();
    clear_pending_ops();
}

void MORV_INV_PUSH::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                     int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 5;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_INV_PUSH::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 2;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    m_iteration = 0;
    m_pass_index = pass;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

void MORV_INV_PUSH::finish_algorithm()
{
    drop_saved_state();
    clear_pending_ops();
}

double MORV_INV_PUSH::input_slack_ratio(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_timing(), "fsyn_timing");
    return m_fsyn_api->get_fsyn_timing()->get_slack_ratio(iterm);
}

int MORV_INV_PUSH::input_slack(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_timing(), "fsyn_timing");
    return m_fsyn_api->get_fsyn_timing()->get_slack(iterm);
}

int MORV_INV_PUSH::input_delay(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_timing(), "fsyn_timing");
    return m_fsyn_api->get_fsyn_timing()->get_connection_delay(iterm);
}

// ---------------------------------------------------------------- candidates

bool MORV_INV_PUSH::is_plain_lut_cell(CDB_ATOM_NODE* node) const
{
    if (!node->is_lcell_comb()) return false;
    return !m_net_util->is_in_extended_mode(node) && !m_net_util->is_lcell_part_of_a_carry_chain(node);
}

bool MORV_INV_PUSH::is_plain_lut(CDB_ATOM_NODE* node) const
{
    if (!is_plain_lut_cell(node)) return false;
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_COMB_OUT, 0);
    return oterm != nullptr && oterm->has_fanout();
}

bool MORV_INV_PUSH::can_sink_take_inversion(CDB_ATOM_ITERM* sink) const
{
    MORV_ASSERT_TEXT(sink && sink->get_my_node(), "fanout_iterm && fanout_iterm->get_my_node()");
    return is_data_port(sink->get_any_usage_as()) && is_plain_lut(sink->get_my_node());
}

bool MORV_INV_PUSH::find_critical_input(CDB_ATOM_NODE* node, double threshold, double* slack_ratio)
{
    // The inversion lands on every sink whichever input is pushed.
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_COMB_OUT, 0);
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        if (!can_sink_take_inversion(*it)) return false;
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port, 0);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        const double sr = input_slack_ratio(iterm);
        if (sr >= threshold) continue;
        *slack_ratio = sr;
        return true;
    }
    return false;
}

std::vector<int> MORV_INV_PUSH::collect_critical_nodes()
{
    MORV_ASSERT_TEXT(m_atom_netlist, "m_atom_netlist");
    const double threshold = (THRESHOLD_STEPS - m_pass_index) * m_slack_ratio_threshold / THRESHOLD_STEPS;
    std::vector<std::pair<double, int>> records;
    for (auto it = m_atom_netlist->begin_node_list(); it != m_atom_netlist->end_node_list(); ++it) {
        CDB_ATOM_NODE* node = *it;
        MORV_ASSERT_TEXT(node, "node");
        if (!is_plain_lut_cell(node)) continue;
        // A LUT cell without its comb-out term is broken.
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_COMB_OUT, 0);
        MORV_ASSERT_TEXT(oterm, "oterm");
        if (!oterm->has_fanout()) continue;
        double sr = 0.0;
        if (find_critical_input(node, threshold, &sr)) records.emplace_back(sr, static_cast<int>(node->get_id()));
    }
    std::sort(records.begin(), records.end());
    std::vector<int> ids;
    ids.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        MORV_DEBUG_STREAM::print(100, "crit_node[%d] = (%f, %d)", static_cast<int>(i), records[i].first,
                                 records[i].second);
        ids.push_back(records[i].second);
    }
    return ids;
}

// ---------------------------------------------------------------- the push

uint64_t MORV_INV_PUSH::invert_lutmask_input(uint64_t mask, int k)
{
    MORV_ASSERT_TEXT(k >= 0 && k < PUSHED_MASK_INPUTS, "input >= 0 && input < 6");
    CDB_LUTMASK lutmask(PUSHED_MASK_INPUTS, mask);
    lutmask.invert_input(k);
    return lutmask.get_value();
}

bool MORV_INV_PUSH::plan_sink(CDB_ATOM_ITERM* sink, std::map<int, uint64_t>* masks)
{
    MORV_ASSERT_TEXT(sink, "fanout_iterm");
    CDB_ATOM_NODE* sink_node = sink->get_my_node();
    MORV_ASSERT_TEXT(sink_node, "fanout_node");
    MORV_ASSERT_TEXT(sink_node->is_lcell_comb(), "fanout_node->is_lcell_comb()");
    const int port = sink->get_any_usage_as();
    MORV_ASSERT_TEXT(is_data_port(port), "fanout_input_type >= ::DB_DATA_A && fanout_input_type <= ::DB_DATA_F");
    const int id = static_cast<int>(sink_node->get_id());
    // A sink fed twice by the pushed output collects both inversions.
    auto found = masks->find(id);
    const uint64_t cur = found != masks->end() ? found->second : m_net_util->get_lutmask(sink_node);
    const uint64_t inverted = invert_lutmask_input(cur, port - DB_DATA_A);
    const char letter = static_cast<char>('A' + port - DB_DATA_A);
    MORV_DEBUG_STREAM::print(100, "          + LM: %" PRIX64 " (DATA_%c)", cur, letter);
    MORV_DEBUG_STREAM::print(100, "          + NM: %" PRIX64 " (DATA_%c)", inverted, letter);
    if (m_touched_nodes.count(id) != 0) return false;
    if (m_fsyn_api->is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_RESYNTHESIS)) {
        MORV_DEBUG_STREAM::print(100, "           x don't touch!");
        return false;
    }
    if (!m_legalizer.is_lutmask_legal_by_rotation(inverted)) {
        MORV_DEBUG_STREAM::print(100, "           x Not legal!");
        return false;
    }
    (*masks)[id] = inverted;
    return true;
}

bool MORV_INV_PUSH::plan_push(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, std::map<int, uint64_t>* masks)
{
    const int id = static_cast<int>(node->get_id());
    if (m_touched_nodes.count(id) != 0) {
        MORV_DEBUG_STREAM::print(100, "Already touched...");
        return false;
    }
    if (m_fsyn_api->is_oterm_dont_touch(oterm, AMM_OP_FITTER_FSYN_DUPLICATE)) {
        MORV_DEBUG_STREAM::print(100, "Don't touch...");
        return false;
    }
    const uint64_t mask = m_net_util->get_lutmask(node);
    const uint64_t complement = ~mask;
    MORV_DEBUG_STREAM::print(100, "Node %d", id);
    MORV_DEBUG_STREAM::print(100, "      - LM: %" PRIX64, mask);
    MORV_DEBUG_STREAM::print(100, "      - NM: %" PRIX64, complement);
    if (!m_legalizer.is_lutmask_legal_by_rotation(complement)) {
        MORV_DEBUG_STREAM::print(100, "      x Not legal!");
        return false;
    }
    (*masks)[id] = complement;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        if (!plan_sink(*it, masks)) return false;
    return true;
}

int MORV_INV_PUSH::write_masks(const std::map<int, uint64_t>& masks, MORV_INV_PUSH_OP* op)
{
    int count = 0;
    for (const auto& [id, value] : masks) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        MORV_ASSERT_TEXT(node, "node");
        CDB_LUTMASK mask;
        mask.set_value(PUSHED_MASK_INPUTS, value);
        m_cdb_interface->set_lutmask(node, mask, false);
        m_fsyn_api->modify_node(node);
        m_fsyn_api->modify_node(node);
        m_touched_nodes.insert(id);
        if (op != nullptr) op->nodes.insert(id);
        ++count;
    }
    return count;
}

int MORV_INV_PUSH::push_inverter(CDB_ATOM_NODE* node, bool apply)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "Trying inverter push of node %d", static_cast<int>(node->get_id()));
    MORV_ASSERT_TEXT(node->is_lcell_comb(), "node->is_lcell_comb()");
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_COMB_OUT, 0);
    MORV_ASSERT_TEXT(oterm, "oterm");
    std::map<int, uint64_t> masks;
    if (!plan_push(node, oterm, &masks)) return 0;
    // The proposals' netlist is saved only once a first push is written, so
    // that an iteration that proposes nothing holds no state.
    if (!apply && m_save_id < 0) m_save_id = m_fsyn_api->save_state();
    MORV_OWNER<MORV_INV_PUSH_OP> op;
    if (!apply) op = MORV_MAKE_OWNER(MORV_INV_PUSH_OP, this, static_cast<int>(node->get_id()));
    // The masks hold the node's own: writing them marks it touched too.
    const int count = write_masks(masks, op.get());
    if (!apply) {
        op->old_worst_slack = op->estimate_worst_slack(&op->old_slacks);
        m_pending_ops.push_back(std::move(op));
    }
    return count;
}

// ---------------------------------------------------------------- iterations

int MORV_INV_PUSH::propose()
{
    // With one iteration per pass no evaluation follows a proposal: the
    // pushes stay for the run driver to judge and the state they saved
    // would only be overwritten.
    drop_saved_state();
    clear_pending_ops();
    int count = 0;
    for (int id : collect_critical_nodes()) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        if (node == nullptr || m_decided_nodes.count(id) != 0) continue;
        count += push_inverter(node, false);
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    }
    if (count == 0) drop_saved_state();
    return count;
}

int MORV_INV_PUSH::evaluate()
{
    std::set<int> accepted;
    for (MORV_OWNER<MORV_INV_PUSH_OP>& op : m_pending_ops) {
        MORV_ASSERT_TEXT(op, "bub_op");
        MORV_SLACK_MAP estimated;
        const int worst = op->estimate_worst_slack(&estimated);
        MORV_DEBUG_STREAM::print(100, "new vs old, %d vs %d", worst, op->old_worst_slack);
        if (compare_slacks(op->old_slacks, estimated) < 1) {
            MORV_DEBUG_STREAM::print(100, "Good! Do %d...", op->node_id);
            accepted.insert(op->node_id);
        } else {
            MORV_DEBUG_STREAM::print(100, "BAD! Don't do %d...", op->node_id);
        }
        m_decided_nodes.insert(op->node_id);
        op.reset();
    }
    clear_pending_ops();
    if (accepted.empty()) {
        drop_saved_state();
        return 0;
    }
    int count = 0;
    if (m_save_id >= 0) {
        m_fsyn_api->restore_state(m_save_id);
        m_save_id = -1;
    }
    for (int id : accepted) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        if (node == nullptr) continue;
        count += push_inverter(node, true);
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    }
    return count;
}

int MORV_INV_PUSH::do_iter()
{
    m_touched_nodes.clear();
    const int count = m_iteration == 0 ? propose() : evaluate();
    ++m_iteration;
    return count;
}

void MORV_INV_PUSH::drop_saved_state()
{
    if (m_save_id < 0) return;
    m_fsyn_api->clear_state(m_save_id);
    m_save_id = -1;
}

void MORV_INV_PUSH::clear_pending_ops()
{
    m_pending_ops.clear();
}
