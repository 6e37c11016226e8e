#include "morv/rammap/morv_ram_encode.h"

#include <cstdio>
#include <unordered_set>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_atom_terms.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_global.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_cluster_legalizer.h"
#include "morv/rammap/morv_ram_map_util.h"

namespace {

// Column lengths stay far below this: the cluster limits allow fewer than
// 20 address bits.
constexpr size_t k_max_address_bits = 24;

int node_id(const CDB_ATOM_OTERM* oterm)
{
    return static_cast<int>(oterm->get_my_node()->get_atom_id());
}

const char* output_port_name(const CDB_ATOM_OTERM* oterm)
{
    return cdb_output_port_name(oterm->get_usage());
}

bool is_true_input(const MORV_CLUSTER_NODE_INFO& info)
{
    return !info.is_included() && info.get_buried_fanout_count() > 0;
}

int count_inputs(const MORV_CLUSTER* cluster)
{
    int count = 0;
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) ++count;
    return count;
}

}  // namespace

MORV_CLUSTER_RAM_STATE_ENCODING::MORV_CLUSTER_RAM_STATE_ENCODING(MORV_RAM_MAP_UTIL* util)
{
    MORV_ASSERT(util);
    m_bdd_mgr = util->get_bdd_manager();
    m_net_util = util->get_net_util();
    MORV_ASSERT(m_bdd_mgr);
    MORV_ASSERT(m_net_util);
    reset();
}

MORV_CLUSTER_RAM_STATE_ENCODING::~MORV_CLUSTER_RAM_STATE_ENCODING()
{
    reset();
}

void MORV_CLUSTER_RAM_STATE_ENCODING::reset()
{
    m_inputs.clear();
    m_outputs.clear();
    m_states.clear();
    m_address_oterms.clear();
    m_data_oterms.clear();
    m_data_bdds.clear();
    m_contents.clear();
    m_power_up_values.clear();
    m_input_index.clear();
    m_state_index.clear();
    for (auto& cache : m_bdd_cache) cache.clear();
}

// ---------------------------------------------------------------- encode

void MORV_CLUSTER_RAM_STATE_ENCODING::encode(MORV_CLUSTER* cluster)
{
    MORV_ASSERT(cluster);
    reset();
    m_cluster_manager = cluster->get_cluster_manager();
    MORV_ASSERT_TEXT(m_cluster_manager, "m_cluster_manager");
    cluster->set_encoding(this);
    if (cluster->is_dirty()) cluster->update_distances();
    MORV_ASSERT_TEXT(m_cluster_manager->get_legalizer()->is_legal(cluster),
                     "m_cluster_manager->get_legalizer()->is_legal(cluster)");
    collect_inputs(cluster);
    collect_outputs(cluster);
    choose_state_mode(cluster);
    collect_states(cluster);
    for (auto& cache : m_bdd_cache) cache.clear();

    std::vector<BDD_JBDD> bdds;
    for (size_t i = 0; i < m_outputs.size(); ++i) {
        MORV_DEBUG_STREAM::print(100, "Getting BDD for output[%d] %d", static_cast<int>(i), node_id(m_outputs[i]));
        bdds.push_back(get_oterm_bdd(cluster, m_outputs[i], 0));
    }
    for (size_t j = 0; j < m_states.size(); ++j) {
        MORV_DEBUG_STREAM::print(100, "Getting BDD for states[%d] %d", static_cast<int>(j), node_id(m_states[j]));
        bdds.push_back(get_oterm_bdd(cluster, m_states[j], 0));
    }
    std::vector<int> order;
    for (size_t k = 0; k < m_inputs.size() + m_states.size(); ++k) order.push_back(static_cast<int>(k));

    m_data_oterms = m_outputs;
    m_data_bdds.assign(bdds.begin(), bdds.begin() + static_cast<long>(m_outputs.size()));
    const std::unordered_set<const CDB_ATOM_OTERM*> outputs(m_outputs.begin(), m_outputs.end());
    for (size_t j = 0; j < m_states.size(); ++j) {
        if (outputs.count(m_states[j])) continue;
        m_data_oterms.push_back(m_states[j]);
        m_data_bdds.push_back(bdds[m_outputs.size() + j]);
    }
    m_address_oterms = m_inputs;
    m_address_oterms.insert(m_address_oterms.end(), m_states.begin(), m_states.end());

    // Sized from the address bits themselves: a length taken from another
    // count would let the writes below leave the column.
    MORV_ASSERT(m_address_oterms.size() <= k_max_address_bits);
    const MORV_OWNER<MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE> token =
        m_cluster_manager->get_cost_function()->as_cost_by_size()->compute_size(cluster);
    MORV_ASSERT(token->m_inputs == static_cast<int>(m_address_oterms.size()));
    const size_t length = size_t{1} << m_address_oterms.size();

    compute_power_up_values(cluster);
    for (size_t k = 0; k < m_data_oterms.size(); ++k) {
        MORV_RAM_COLUMN column(length, false);
        fill_contents(m_data_oterms[k]->get_my_node(), m_data_bdds[k], order, 0, column, 0);
        m_contents.push_back(std::move(column));
    }
    if (s_morv_ram_map_debug) dump_bdds(bdds);
}

void MORV_CLUSTER_RAM_STATE_ENCODING::collect_inputs(MORV_CLUSTER* cluster)
{
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        if (!is_true_input(cluster->get_node_info(oterm))) continue;
        MORV_DEBUG_STREAM::print(100, "Input is oterm ID %d (%s)", node_id(oterm), output_port_name(oterm));
        m_input_index[oterm] = static_cast<int>(m_inputs.size());
        m_inputs.push_back(oterm);
    }
    MORV_DEBUG_STREAM::print(100, "CLUSTER_STATE_ENCODING: got %d inputs", static_cast<int>(m_inputs.size()));
}

bool MORV_CLUSTER_RAM_STATE_ENCODING::is_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm) const
{
    return cluster->get_node_info(oterm).is_true_output() && !cluster->is_input_fed_output_register(oterm);
}

void MORV_CLUSTER_RAM_STATE_ENCODING::collect_outputs(MORV_CLUSTER* cluster)
{
    for (auto it = cluster->begin_outputs(); it != cluster->end_outputs(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        if (!cluster->get_node_info(oterm).is_true_output()) continue;
        if (cluster->is_input_fed_output_register(oterm)) {
            MORV_DEBUG_STREAM::print(100, "AVOIDED MAKING %d an output!", node_id(oterm));
            continue;
        }
        m_outputs.push_back(oterm);
    }
    MORV_DEBUG_STREAM::print(100, "CLUSTER_STATE_ENCODING: got %d outputs", static_cast<int>(m_outputs.size()));
}

// The state mode that makes the input iterator yield fewer entries wins; a
// tie relaxes it. Without relaxation the strict mode stays.
void MORV_CLUSTER_RAM_STATE_ENCODING::choose_state_mode(MORV_CLUSTER* cluster)
{
    cluster->set_boundary_mode(true);
    const int strict = count_inputs(cluster);
    if (!cluster->is_state_candidate_free()) return;
    cluster->set_boundary_mode(false);
    const int relaxed = count_inputs(cluster);
    if (strict < relaxed) cluster->set_boundary_mode(true);
}

void MORV_CLUSTER_RAM_STATE_ENCODING::collect_states(MORV_CLUSTER* cluster)
{
    int unique = 0;
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        if (is_true_input(cluster->get_node_info(oterm))) continue;
        MORV_DEBUG_STREAM::print(100, "State is oterm ID %d (%s)", node_id(oterm), output_port_name(oterm));
        m_state_index[oterm] = static_cast<int>(m_states.size());
        m_states.push_back(oterm);
        if (!is_output(cluster, oterm)) ++unique;
    }
    MORV_DEBUG_STREAM::print(100, "CLUSTER_STATE_ENCODING: %d state bits required, of which %d are unique",
                             static_cast<int>(m_states.size()), unique);
}

void MORV_CLUSTER_RAM_STATE_ENCODING::compute_power_up_values(MORV_CLUSTER* cluster)
{
    for (CDB_ATOM_OTERM* oterm : m_data_oterms) {
        MORV_DEBUG_STREAM::print(100, "calculating oterm state");
        const BDD_JBDD p = get_oterm_bdd(cluster, oterm, -1);
        const bool imp_true = p == m_bdd_mgr->true_bdd();
        const bool imp_false = p == m_bdd_mgr->false_bdd();
        if (!imp_true && !imp_false) {
            if (std::FILE* fp = std::fopen("broken_bdd.dot", "w")) {
                m_bdd_mgr->fprint_bdds_as_dot(fp, {p});
                std::fclose(fp);
            }
            MORV_DEBUG_STREAM::print(100, "imp_true = %d, imp_false = %d", imp_true, imp_false);
            MORV_ASSERT_TEXT(false, "Cannot determine power-up condition of oterm!");
        }
        MORV_DEBUG_STREAM::print(100, "Power-up condition is %d", imp_true);
        m_power_up_values.push_back(imp_true);
    }
}

void MORV_CLUSTER_RAM_STATE_ENCODING::dump_bdds(const std::vector<BDD_JBDD>& bdds) const
{
    char name[32];
    std::snprintf(name, sizeof name, "bdds.%05d.dot", morv_ram_counter());
    MORV_DEBUG_STREAM::print(100, "dumping BDDs to %s", name);
    if (std::FILE* fp = std::fopen(name, "w")) {
        m_bdd_mgr->fprint_bdds_as_dot(fp, bdds);
        std::fclose(fp);
    }
}

// ---------------------------------------------------------------- functions

BDD_JBDD MORV_CLUSTER_RAM_STATE_ENCODING::get_oterm_bdd(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, int depth)
{
    MORV_ASSERT_TEXT(depth == 0 || depth == 1 || depth == -1, "depth == 0 || depth == 1 || depth == -1");
    MORV_ASSERT(oterm);
    std::map<const CDB_ATOM_OTERM*, BDD_JBDD>& cache = m_bdd_cache[depth + 1];
    if (auto found = cache.find(oterm); found != cache.end()) return found->second;
    MORV_DEBUG_STREAM::print(100, "Getting BDD for oterm ID %d (%s) [%d]", node_id(oterm), output_port_name(oterm),
                             depth);
    MORV_ASSERT_TEXT(cluster->has_node_info(oterm), "cluster->has_node_info(oterm)");
    const MORV_CLUSTER_NODE_INFO& node_info = cluster->get_node_info(oterm);
    BDD_JBDD result;
    if (depth >= 0 && is_true_input(node_info) && m_input_index.count(oterm)) {
        result = m_bdd_mgr->ithvar(m_input_index[oterm]);
    } else if (depth == -1 && is_true_input(node_info) && oterm->get_usage() == DB_REG_OUT) {
        // A cluster whose register stage is the registers feeding it powers
        // up as those registers do.
        result = register_power_up(oterm);
    } else if (depth == 1 && node_info.is_state(cluster->get_boundary_mode()) && m_state_index.count(oterm)) {
        result = m_bdd_mgr->ithvar(static_cast<int>(m_inputs.size()) + m_state_index[oterm]);
    } else {
        MORV_ASSERT(node_info.is_included());
        const int usage = oterm->get_usage();
        if (usage == DB_REG_OUT) {
            if (depth == -1) {
                result = register_power_up(oterm);
            } else {
                result = get_register_bdd(cluster, oterm, depth + 1);
            }
        } else if (usage == DB_CARRY_OUT || usage == DB_SUM_OUT || usage == DB_COMB_OUT || usage == DB_SHARE_OUT) {
            result = get_comb_bdd(cluster, oterm, depth);
        } else {
            MORV_ASSERT_TEXT(false, "unsupported oterm type");
        }
    }
    cache.emplace(oterm, result);
    return result;
}

BDD_JBDD MORV_CLUSTER_RAM_STATE_ENCODING::register_power_up(CDB_ATOM_OTERM* regout)
{
    CDB_ATOM_NODE* node = regout->get_my_node();
    CDB_ATOM_ITERM* aload = node->implements(DB_ASYNCH_LOAD) ? node->get_input_term_by_type(DB_ASYNCH_LOAD) : nullptr;
    return aload != nullptr && aload->get_source() != nullptr ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd();
}

BDD_JBDD MORV_CLUSTER_RAM_STATE_ENCODING::get_register_bdd(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* regout, int depth)
{
    MORV_ASSERT_TEXT(regout->get_any_usage_as() == ::DB_REG_OUT, "oterm->get_any_usage_as() == ::DB_REG_OUT");
    CDB_ATOM_NODE* node = regout->get_my_node();
    MORV_ASSERT(node);
    const BDD_JBDD d = get_input_port_bdd(cluster, node, DB_DATAIN, depth);
    const BDD_JBDD sdata = get_input_port_bdd(cluster, node, DB_SYNCH_DATA, depth);
    const BDD_JBDD sload = get_input_port_bdd(cluster, node, DB_SYNCH_LOAD, depth);
    const BDD_JBDD sclr = get_input_port_bdd(cluster, node, DB_SYNCH_CLEAR, depth);
    const BDD_JBDD loaded = sload.Ite(sdata, d);
    return (!sclr) & loaded;
}

BDD_JBDD MORV_CLUSTER_RAM_STATE_ENCODING::get_input_port_bdd(MORV_CLUSTER* cluster, CDB_ATOM_NODE* node, int port_type,
                                                             int depth)
{
    return get_iterm_bdd(cluster, node->get_input_term_by_type(port_type), port_type, depth);
}

// A tie reads as the host reads it: the physical constant through the
// term's inversion and the port's polarity, as a driven term does.
BDD_JBDD MORV_CLUSTER_RAM_STATE_ENCODING::get_iterm_bdd(MORV_CLUSTER* cluster, CDB_ATOM_ITERM* iterm, int, int depth)
{
    if (iterm == nullptr || !iterm->is_connected()) return m_bdd_mgr->false_bdd();
    if (iterm->get_source() == nullptr) {
        MORV_ASSERT_TEXT(iterm->is_vcc() || iterm->is_gnd(), "iterm->is_gnd()");
        return iterm->is_logical_vcc() ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd();
    }
    const BDD_JBDD source = get_oterm_bdd(cluster, iterm->get_source(), depth);
    return iterm->reads_complemented() ? !source : source;
}

BDD_JBDD MORV_CLUSTER_RAM_STATE_ENCODING::get_comb_bdd(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, int depth)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT(node);
    const int usage = oterm->get_usage();
    unsigned present = 0;
    BDD_JBDD inputs[MORV_EVALUATE_INPUT_COUNT];
    for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) {
        const bool implemented = node->implements(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]);
        if (implemented && node->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]) != nullptr)
            present |= 1u << k;
        inputs[k] = implemented ? get_input_port_bdd(cluster, node, CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k], depth)
                                : m_bdd_mgr->false_bdd();
    }
    // The cell's truth table over the inputs it has; absent inputs read 0.
    std::vector<bool> truth(1u << MORV_EVALUATE_INPUT_COUNT, false);
    for (unsigned m = 0; m < truth.size(); ++m) {
        if ((m & ~present) != 0) continue;
        unsigned values[MORV_EVALUATE_INPUT_COUNT];
        for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) values[k] = (m >> k) & 1u;
        unsigned v = 0;
        switch (usage) {
        case DB_CARRY_OUT: v = m_net_util->evaluate_carry_out(node, values); break;
        case DB_SUM_OUT: v = m_net_util->evaluate_sum_out(node, values); break;
        case DB_COMB_OUT: v = m_net_util->evaluate_comb_out(node, values); break;
        case DB_SHARE_OUT: v = m_net_util->evaluate_share_out(node, values); break;
        default: MORV_ASSERT_TEXT(false, "Shouldn't get here");
        }
        MORV_ASSERT(v != MORV_NO_LUT_VALUE);
        truth[m] = v != 0;
    }
    // The OR of the table's minterms, built by splitting on one present
    // input at a time rather than minterm by minterm.
    std::vector<BDD_JBDD> level;
    for (unsigned m = 0; m < truth.size(); ++m)
        level.push_back(truth[m] ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd());
    for (int k = MORV_EVALUATE_INPUT_COUNT - 1; k >= 0; --k) {
        std::vector<BDD_JBDD> next;
        const unsigned half = 1u << k;
        for (unsigned m = 0; m < half; ++m)
            next.push_back((present >> k) & 1u ? inputs[k].Ite(level[m | half], level[m]) : level[m]);
        level = std::move(next);
    }
    return level[0];
}

void MORV_CLUSTER_RAM_STATE_ENCODING::fill_contents(CDB_ATOM_NODE* node, const BDD_JBDD& bdd,
                                                    const std::vector<int>& order, int level, MORV_RAM_COLUMN& column,
                                                    size_t address)
{
    if (static_cast<size_t>(level) >= order.size()) {
        if (bdd == m_bdd_mgr->true_bdd()) column.at(address) = true;
        return;
    }
    if (bdd.variable() < 0) {
        // A constant below this level: every address that agrees on the
        // lower bits takes it, without a walk down to each of them.
        if (bdd != m_bdd_mgr->true_bdd()) return;
        const size_t below = order.size() - static_cast<size_t>(level);
        for (size_t j = 0; j < (size_t{1} << below); ++j) column.at(address + (j << level)) = true;
        return;
    }
    const bool splits = bdd.variable() == order[static_cast<size_t>(level)];
    const BDD_JBDD low = splits ? bdd.low_child() : bdd;
    const BDD_JBDD high = splits ? bdd.high_child() : bdd;
    fill_contents(node, low, order, level + 1, column, address);
    fill_contents(node, high, order, level + 1, column, address + (size_t{1} << level));
}
