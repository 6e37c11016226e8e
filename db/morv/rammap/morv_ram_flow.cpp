// The RAM flow of logic-to-RAM mapping: candidate clusters per register
// type, a lazy greedy choice by gain, and the RAMs built for the chosen
// clusters within the free RAM budget.

#include <algorithm>
#include <queue>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_global.h"
#include "morv/core/morv_msgs.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/rammap/morv_ram_build.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_cluster_growth.h"
#include "morv/rammap/morv_ram_cluster_legalizer.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_encode.h"
#include "morv/rammap/morv_ram_flow.h"
#include "morv/rammap/morv_ram_map_util.h"
#include "morv/rammap/morv_ram_mif.h"
#include "morv/rammap/morv_register_type.h"
#include "cut/cut_block_util.h"

namespace {

using NODE_SET = std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>;
using TOKEN = MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE;

constexpr int k_max_inputs = 20;
constexpr long long k_small_ram_bits = 512;
constexpr int k_growth_max_bits = 16384;

// One run of the flow: its working state and its phases.
class RAM_FLOW_RUN
{
public:
    explicit RAM_FLOW_RUN(MORV_CLUSTER_RAM_FLOW* flow);
    ~RAM_FLOW_RUN();
    RAM_FLOW_RUN(const RAM_FLOW_RUN&) = delete;
    RAM_FLOW_RUN& operator=(const RAM_FLOW_RUN&) = delete;
    int run();

private:
    void set_up();
    void find_candidates();
    // False when the free RAMs ran out.
    bool scan_register_type(const MORV_REGISTER_TYPE& type);
    bool is_seed(CDB_ATOM_NODE* node) const;
    void try_seed(CDB_ATOM_NODE* node);
    bool rams_exhausted();
    bool reads_new_logic(MORV_CLUSTER* cluster) const;
    bool has_ram_for(const TOKEN& token) const;
    void choose();
    bool selection_step();
    void take(int index, const TOKEN& token);
    int evaluate_gain(MORV_CLUSTER* cluster);
    void map_chosen();
    void map_candidate(int index);
    void consume_ram(bool medium);
    void post_memory_message() const;
    void fix_enables() const;
    void fix_vcc_data_ins() const;
    void report_score() const;
    MORV_OWNER<TOKEN> token_of(int index);

    MORV_CLUSTER_RAM_FLOW* m_flow;
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER* m_manager;
    MORV_CLUSTER_RAM_LEGALIZER* m_legalizer;
    MORV_RAM_MAP_UTIL* m_util;
    CDB_ATOM_NETLIST* m_netlist;
    long long m_capacity = 0;
    std::set<MORV_REGISTER_TYPE> m_register_types;
    int m_lut_count = 0;
    std::vector<MORV_CLUSTER_REGISTER_PAIR> m_candidates;
    std::priority_queue<MORV_PRIORITY_CLUSTER> m_queue;
    std::vector<int> m_chosen;
    NODE_SET m_chosen_nodes;
    int m_evaluations = 0;
    int m_total_outputs = 0;
    int m_total_gain = 0;
    double m_total_bits = 0.0;
    // Nodes from this id on were made by this run.
    uint32_t m_first_new_id = 0;
    std::vector<std::string> m_memory_names;
    int m_mapped = 0;
};

RAM_FLOW_RUN::RAM_FLOW_RUN(MORV_CLUSTER_RAM_FLOW* flow)
    : m_flow(flow), m_manager(flow->m_cluster_manager->as_area_cluster_manager()),
      m_legalizer(m_manager->get_ram_legalizer()), m_util(MORV_RAM_MAP_UTIL::get_instance()),
      m_netlist(m_util->get_api()->get_atom_netlist())
{
    MORV_ASSERT_TEXT(m_legalizer, "m_legalizer");
    MORV_ASSERT_TEXT(m_manager->get_cost_by_size(), "m_cost_function");
    MORV_ASSERT_TEXT(m_netlist, "atom_netlist");
}

RAM_FLOW_RUN::~RAM_FLOW_RUN()
{
    for (MORV_CLUSTER_REGISTER_PAIR& candidate : m_candidates) m_manager->delete_cluster(candidate.m_cluster);
}

int RAM_FLOW_RUN::run()
{
    set_up();
    find_candidates();
    choose();
    map_chosen();
    post_memory_message();
    fix_enables();
    fix_vcc_data_ins();
    report_score();
    return m_mapped;
}

void RAM_FLOW_RUN::set_up()
{
    m_capacity = m_util->get_ram_block_bits();
    for (CDB_ATOM_NODE* node : *m_netlist) {
        m_first_new_id = std::max(m_first_new_id, static_cast<uint32_t>(node->get_id()) + 1);
        if (m_util->is_ff(node)) m_register_types.insert(MORV_REGISTER_TYPE(node));
        else if (m_util->is_lut(node)) ++m_lut_count;
    }
}

// ---------------------------------------------------------------- phase 1

void RAM_FLOW_RUN::find_candidates()
{
    for (const MORV_REGISTER_TYPE& type : m_register_types) {
        MORV_DEBUG_STREAM::print(100, "NEW REGISTER TYPE");
        type.print();
        MORV_DEBUG_STREAM::print(100, "%s", "");
        if (!scan_register_type(type) || rams_exhausted()) return;
    }
}

bool RAM_FLOW_RUN::scan_register_type(const MORV_REGISTER_TYPE& type)
{
    // The RAM's address register cannot load a value asynchronously: an
    // aload without a driver must read as inactive (an inverted ground).
    if (type.m_aload.m_oterm != nullptr || !type.m_aload.m_inverted) {
        MORV_DEBUG_STREAM::print(100, "Cannot pack this register type, it has weird ALOADs!");
        return true;
    }
    m_manager->m_register_type = type;
    m_legalizer->pre_cache(type, m_netlist);
    m_manager->m_max_bits = k_growth_max_bits;
    MORV_DEBUG_STREAM::print(100, "Doing real work");
    std::vector<CDB_ATOM_NODE*> nodes(m_netlist->begin(), m_netlist->end());
    for (CDB_ATOM_NODE* node : nodes) {
        if (m_manager->can_pack(node)) {
            if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "seed id is %d", static_cast<int>(node->get_id()));
            if (is_seed(node)) try_seed(node);
        }
        if (rams_exhausted()) return false;
    }
    return true;
}

bool RAM_FLOW_RUN::is_seed(CDB_ATOM_NODE* node) const
{
    if (m_util->is_ff(node)) {
        const CDB_ATOM_ITERM* port1 = node->get_input_term_by_type(1);
        return MORV_REGISTER_TYPE(node) == m_manager->m_register_type && (port1 == nullptr || !port1->is_connected());
    }
    MORV_ASSERT_TEXT(m_util->is_lut(node), "shouldn't be here");
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        if (!MORV_CLUSTER::is_data_oterm(node, oterm) || !oterm->has_fanout()) continue;
        if (!m_legalizer->is_input_legalizable(oterm) && !m_legalizer->is_output_legalizable(oterm)) return false;
    }
    return true;
}

void RAM_FLOW_RUN::try_seed(CDB_ATOM_NODE* node)
{
    MORV_CLUSTER* cluster = m_flow->grow_cluster(node);
    if (cluster == nullptr) return;
    bool kept = false;
    if (m_legalizer->is_legal(cluster)) {
        const MORV_OWNER<TOKEN> token = m_manager->get_cost_by_size()->compute_size(cluster);
        const int gain = token->get_score(m_util->counts_outputs_in_gain());
        if (gain > 0) MORV_DEBUG_STREAM::print(2, "POSITIVE CLUSTER GAIN %d", gain);
        if (token->m_inputs >= 1 && token->m_inputs < k_max_inputs && m_capacity >= token->get_bits() &&
            !reads_new_logic(cluster)) {
            m_candidates.push_back({cluster, m_manager->m_register_type});
            kept = true;
        }
    }
    MORV_DEBUG_STREAM::print(100, "\n********");
    if (!kept) m_manager->delete_cluster(cluster);
}

bool RAM_FLOW_RUN::rams_exhausted()
{
    const auto none = [&] {
        return m_util->get_ram_count(MORV_RAM_COUNT_SMALL) < 1 && m_util->get_ram_count(MORV_RAM_COUNT_MEDIUM) < 1;
    };
    if (!none()) return false;
    m_util->count_free_rams();
    return none();
}

// The contents of a cluster are computed from the registers at its inputs;
// a RAM, or a cell made around one, that an earlier build put there has no
// register the encoding can read its power-up value from.
bool RAM_FLOW_RUN::reads_new_logic(MORV_CLUSTER* cluster) const
{
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) {
        const CDB_ATOM_NODE* node = (*it)->get_my_node();
        if (node->is_ram() || node->get_id() >= m_first_new_id) return true;
    }
    return false;
}

// ---------------------------------------------------------------- phase 2

bool RAM_FLOW_RUN::has_ram_for(const TOKEN& token) const
{
    if (morv_ram_needs_medium(token.m_inputs, token.get_bits()))
        return m_util->get_ram_count(MORV_RAM_COUNT_MEDIUM) > 0;
    return m_util->get_ram_count(MORV_RAM_COUNT_SMALL) > 0 || m_util->get_ram_count(MORV_RAM_COUNT_MEDIUM) > 0;
}

MORV_OWNER<TOKEN> RAM_FLOW_RUN::token_of(int index)
{
    return m_manager->get_cost_by_size()->compute_size(m_candidates[static_cast<size_t>(index)].m_cluster);
}

int RAM_FLOW_RUN::evaluate_gain(MORV_CLUSTER* cluster)
{
    if (!m_legalizer->is_legal(cluster)) return 0;
    const MORV_OWNER<TOKEN> token = m_manager->get_cost_by_size()->compute_size(cluster);
    int gain = token->m_comb_nodes - token->m_carryout_nodes - token->m_carryin_nodes;
    NODE_SET counted;
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) {
        CDB_ATOM_NODE* node = (*it)->get_my_node();
        if (!counted.insert(node).second) continue;
        if (m_util->is_lut(node) && m_chosen_nodes.count(node) != 0) --gain;
    }
    if (m_util->counts_outputs_in_gain()) gain -= token->m_outputs;
    return gain;
}

void RAM_FLOW_RUN::choose()
{
    MORV_DEBUG_STREAM::print(1, "Selecting from %d candidate clusters.", static_cast<int>(m_candidates.size()));
    for (size_t i = 0; i < m_candidates.size(); ++i) {
        m_manager->m_register_type = m_candidates[i].m_register_type;
        m_queue.push({evaluate_gain(m_candidates[i].m_cluster), static_cast<int>(i)});
        ++m_evaluations;
    }
    while (!m_queue.empty() && selection_step()) {}
    MORV_DEBUG_STREAM::print(1, "Total of %d evaluations required to find %d clusters.", m_evaluations,
                             static_cast<int>(m_chosen.size()));
}

// True when the step chose a cluster.
bool RAM_FLOW_RUN::selection_step()
{
    MORV_PRIORITY_CLUSTER best{0, -1};
    while (!m_queue.empty()) {
        const MORV_PRIORITY_CLUSTER top = m_queue.top();
        m_queue.pop();
        if (top.m_gain <= best.m_gain) {
            m_queue.push(top);
            break;
        }
        MORV_CLUSTER_REGISTER_PAIR& candidate = m_candidates[static_cast<size_t>(top.m_index)];
        m_manager->m_register_type = candidate.m_register_type;
        const int gain = evaluate_gain(candidate.m_cluster);
        ++m_evaluations;
        if (s_morv_ram_map_debug)
            MORV_DEBUG_STREAM::print(100, "gain of cluster %p is %d", static_cast<void*>(candidate.m_cluster), gain);
        // An overtaken best stays out of the queue.
        if (gain <= best.m_gain) m_queue.push({gain, top.m_index});
        else best = {gain, top.m_index};
    }
    if (best.m_gain < 1) return false;
    if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "best gain is %d, mapping", best.m_gain);
    m_manager->m_register_type = m_candidates[static_cast<size_t>(best.m_index)].m_register_type;
    const MORV_OWNER<TOKEN> token = token_of(best.m_index);
    if (!has_ram_for(*token)) return false;
    take(best.m_index, *token);
    m_total_gain += best.m_gain;
    return true;
}

void RAM_FLOW_RUN::take(int index, const TOKEN& token)
{
    m_chosen.push_back(index);
    MORV_CLUSTER* cluster = m_candidates[static_cast<size_t>(index)].m_cluster;
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it)
        m_chosen_nodes.insert((*it)->get_my_node());
    if (m_util->counts_outputs_in_gain()) m_total_outputs += token.m_outputs;
    m_total_bits += static_cast<double>(token.get_bits());
}

// ---------------------------------------------------------------- phase 3

void RAM_FLOW_RUN::map_chosen()
{
    for (int index : m_chosen) {
        if (rams_exhausted()) return;
        map_candidate(index);
    }
}

void RAM_FLOW_RUN::map_candidate(int index)
{
    MORV_CLUSTER_REGISTER_PAIR& candidate = m_candidates[static_cast<size_t>(index)];
    m_manager->m_register_type = candidate.m_register_type;
    MORV_CLUSTER* cluster = candidate.m_cluster;
    // Earlier RAMs may have changed the netlist around it.
    cluster->reset_topology();
    if (!m_legalizer->is_legal(cluster) || reads_new_logic(cluster)) return;
    const MORV_OWNER<TOKEN> token = token_of(index);
    const bool medium = morv_ram_needs_medium(token->m_inputs, token->get_bits());
    if (!has_ram_for(*token) || token->m_inputs >= k_max_inputs || m_capacity < token->get_bits()) return;
    cluster->print();
    MORV_DEBUG_STREAM::print(100, "I AM MAPPING THE FOLLOWING TOKEN:");
    token->print();
    MORV_CLUSTER_RAM_STATE_ENCODING encoding(m_util);
    encoding.m_cluster_manager = m_manager;
    encoding.encode(cluster);
    MORV_DEBUG_STREAM::print(2, "CC: %05d", m_manager->get_cluster_count());
    // The file goes first: a cluster whose contents cannot be stored stays
    // logic, untouched.
    const std::string file_name = morv_write_cluster_mif(m_util, encoding);
    if (file_name.empty()) {
        cluster->set_encoding(nullptr);
        return;
    }
    m_manager->m_mif_file_name = file_name;
    std::string name;
    const bool built = m_manager->create_simple_ram(cluster, name);
    m_manager->m_mif_file_name.clear();
    cluster->set_encoding(nullptr);
    if (!built) return;
    m_legalizer->invalidate(cluster);
    m_memory_names.push_back(name);
    consume_ram(medium);
    m_util->get_api()->debug_checkpoint(__FILE__, __LINE__);
    ++m_mapped;
}

void RAM_FLOW_RUN::consume_ram(bool medium)
{
    m_util->consume_ram(medium ? 1 : 0);
}

// ---------------------------------------------------------------- after the phases

void RAM_FLOW_RUN::post_memory_message() const
{
    MSG_POST* msg = new_msg_fsyn_logic_to_memory_mapping_memory_count(static_cast<int>(m_memory_names.size()));
    if (msg == nullptr) return;
    for (const std::string& name : m_memory_names)
        msg->attach_sub_msg(new_msg_fsyn_logic_to_memory_mapping_memory_name(name.c_str()));
    morv_send_msg(msg);
}

void RAM_FLOW_RUN::fix_enables() const
{
    DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    MORV_ASSERT_TEXT(device, "device != NULL");
    DEV_BASIC_INFO* basic_info = device->get_basic_info();
    MORV_ASSERT_TEXT(basic_info, "basic_info != NULL");
    // The stand-in host's RAMs never take the extra clock enable.
    const bool tv3_ram_allows_extra_ce = false;
    bool needs_fix = false;
    if (tv3_ram_allows_extra_ce || !basic_info->get_bool(125, &needs_fix) || !needs_fix) return;
    MORV_DEBUG_STREAM::print(2, "Fixing enables required on RAM nodes!");
    for (CDB_ATOM_NODE* node : *m_netlist) {
        if (!node->is_ram()) continue;
        MORV_DEBUG_STREAM::print(2, "  -- fixing enables on RAM node %d", static_cast<int>(node->get_id()));
        cut_rewire_enable_for_tv3_rams(node);
    }
}

void RAM_FLOW_RUN::fix_vcc_data_ins() const
{
    if (!m_util->needs_vcc_data_in_fix()) return;
    MORV_DEBUG_STREAM::print(2, "Fixing up VCC DATA_INs...");
    const std::vector<CDB_ATOM_NODE*> nodes(m_netlist->begin(), m_netlist->end());
    CDB_ATOM_OTERM* shared = nullptr;
    int fixed = 0;
    for (CDB_ATOM_NODE* node : nodes) {
        if (!m_util->is_ff(node) || !m_util->is_packable_node(node)) continue;
        const CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_DATAIN);
        if (data == nullptr || !data->is_vcc()) continue;
        shared = m_util->create_vcc_lut(node, shared);
        ++fixed;
    }
    MORV_DEBUG_STREAM::print(2, "   Total of %d VCC DATA_INs fixed.", fixed);
}

void RAM_FLOW_RUN::report_score() const
{
    const int chosen = static_cast<int>(m_chosen_nodes.size());
    MORV_DEBUG_STREAM::print(2, "%s", "");
    MORV_DEBUG_STREAM::print(2, "TOTAL CLUSTER SCORE: %d = %d - %d (%d) of %d nodes in %f bits",
                             chosen - m_total_outputs, chosen, m_total_outputs, m_total_gain, m_lut_count,
                             m_total_bits);
    MORV_DEBUG_STREAM::print(2, "%s", "");
}

}  // namespace

bool morv_ram_needs_medium(int inputs, long long bits)
{
    return inputs >= k_max_inputs || bits > k_small_ram_bits;
}

std::string morv_write_cluster_mif(MORV_RAM_MAP_UTIL* util, const MORV_CLUSTER_RAM_STATE_ENCODING& encoding)
{
    const std::string file_name = util->make_mif_file_name();
    const std::vector<MORV_RAM_COLUMN> columns = morv_ram_stored_columns(encoding, util->counts_outputs_in_gain());
    const int width = static_cast<int>(encoding.get_data_oterms().size());
    const int depth = 1 << encoding.get_address_oterms().size();
    if (morv_write_mif_file(file_name, width, depth, columns)) return file_name;
    morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MIF_NOT_WRITTEN, file_name));
    return std::string();
}

int MORV_CLUSTER_RAM_FLOW::run()
{
    RAM_FLOW_RUN run(this);
    return run.run();
}
