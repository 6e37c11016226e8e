// The iTEst engine's driver: its switches, the full analysis that fills the
// domain records, the estimation with its fall-back to a full analysis, the
// reset and the figure of merit.

#include "morv/timing/morv_timing_ite.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_internal.h"

namespace {
constexpr int k_GROUP_NOT_COMPUTED = CDB_ILLEGAL_TSM_DELAY;
constexpr size_t k_BIT_VECTOR_POOL_BLOCK_BYTES = 4096;
}  // namespace

int MORV_TIMING_ITE::s_tdb_netlist_dump_count = 0;

MORV_TIMING_ITE_DOMAIN_INFO::MORV_TIMING_ITE_DOMAIN_INFO()
    : m_full_min_slack_ratio(MORV_ITE_NAN), m_sr_lr_slope(MORV_ITE_NAN), m_sr_lr_intercept(MORV_ITE_NAN)
{}

MORV_TIMING_ITE_EDGE_SLACK_RATIOS* MORV_TIMING_ITE_DOMAIN_INFO::edge_record(int edge_id) const
{
    auto it = m_edge_slack_ratios.find(edge_id);
    MORV_ASSERT_TEXT(it != m_edge_slack_ratios.end() && it->second != nullptr,
                     "domain_info->m_edge_slack_ratios.exists( edge_id )");
    return it->second;
}

bool MORV_TIMING_ITE_DOMAIN_INFO::has_keeper_role(int node_id, int role) const
{
    auto it = m_keeper_types.find(node_id);
    return it != m_keeper_types.end() && (it->second & role) != 0;
}

int MORV_TIMING_ITE_DOMAIN_INFO::keeper_type(int keeper_id) const
{
    auto it = m_keeper_types.find(keeper_id);
    MORV_ASSERT_TEXT(it != m_keeper_types.end(), "keeper_type_iter");
    return it->second;
}

void MORV_TIMING_ITE_NODE_SLACKS::init(int id_base, int id_bound)
{
    m_base = id_base;
    m_size = 0;
    m_values.assign(static_cast<size_t>(std::max(0, id_bound - id_base)), k_ABSENT);
}

int MORV_TIMING_ITE_NODE_SLACKS::value_or_no_slack(int node_id) const
{
    const int32_t* value = find(node_id);
    return value != nullptr ? *value : ITE_NO_SLACK;
}

int32_t& MORV_TIMING_ITE_NODE_SLACKS::operator[](int node_id)
{
    MORV_ASSERT_TEXT(node_id >= m_base, "node_id >= m_node_id_base");
    const size_t i = index(node_id);
    if (i >= m_values.size()) m_values.resize(i + 1, k_ABSENT);
    if (m_values[i] == k_ABSENT) {
        m_values[i] = 0;
        ++m_size;
    }
    return m_values[i];
}

bool MORV_TIMING_ITE_NODE_SLACKS::erase(int node_id)
{
    int32_t* value = find(node_id);
    if (value == nullptr) return false;
    *value = k_ABSENT;
    --m_size;
    return true;
}

void MORV_TIMING_ITE_NODE_MEMO::set(int node_id, int32_t value)
{
    MORV_ASSERT_TEXT(node_id >= m_base && value != k_ABSENT, "node_id >= m_node_id_base");
    const size_t i = index(node_id);
    if (i >= m_values.size()) m_values.resize(std::max(i + 1, m_values.size() * 2), k_ABSENT);
    if (m_values[i] == k_ABSENT) m_held.push_back(i);
    m_values[i] = value;
}

void MORV_TIMING_ITE_NODE_MEMO::clear_keeping_capacity()
{
    for (size_t i : m_held) m_values[i] = k_ABSENT;
    m_held.clear();
}

const char* morv_ite_keeper_type_name(int type)
{
    switch (type) {
    case DKT_SRC: return "SRC";
    case DKT_DST: return "DST";
    case DKT_BOTH: return "SRC+DST";
    default: return "UNKNOWN";
    }
}

MORV_TIMING_ITE::MORV_TIMING_ITE(MORV_API* fsyn_api)
    : m_fsyn_api(fsyn_api), m_global_min_domain_sr(MORV_ITE_NAN), m_tdb_utility(MORV_MAKE_OWNER(TDB_UTILITY))
{
    MORV_ASSERT_TEXT(fsyn_api != nullptr, "fsyn_api != NULL");
    m_debug_full = cfg_is_on("fsyn_ite_debug_full", false);
    m_debug_filter = cfg_is_on("fsyn_ite_debug_filter", false);
    m_debug_compute_sr_lr_r2 = cfg_is_on("fsyn_ite_debug_compute_sr_lr_r2", false);
    m_debug_dump_domain_info = cfg_is_on("fsyn_ite_debug_dump_domain_info", false);
    m_do_sr_compare = cfg_is_on("fsyn_ite_do_sr_compare", false);
    m_do_sr_compare_detail = cfg_is_on("fsyn_ite_do_sr_compare_detail", false);
    m_debug_dump_tdb_netlists = cfg_is_on("fsyn_ite_debug_dump_tdb_netlists", false);
    m_debug = m_debug_full && !m_debug_filter;
    m_dump_tdb_netlists = m_debug_dump_tdb_netlists && !m_debug_filter;
    // The front end reads the switch with the same default and refuses to
    // switch iTEst on while it is on; reaching here with it on is a fault.
    MORV_ASSERT_TEXT(!cfg_is_on("fsyn_disable_ia2t", false),
                     "!!! ERROR: iTEst cannot be used if iA2T is disabled (set fsyn_disable_ia2t=off) !!!");
}

MORV_TIMING_ITE::~MORV_TIMING_ITE()
{
    m_tdb_utility.reset();
    reset();
}

MORV_OWNER<MORV_TIMING_ITE> morv_create_timing_ite(MORV_API* api)
{
    return MORV_MAKE_OWNER(MORV_TIMING_ITE, api);
}

void MORV_TIMING_ITE::attach_tdb_netlist(TDB_NETLIST* netlist)
{
    m_tdb_netlist = netlist;
    m_tdb_edges = netlist != nullptr ? &netlist->edge_table() : nullptr;
    m_edge_id_base = netlist != nullptr ? netlist->get_edge_id_base() : 0;
    m_node_id_base = netlist != nullptr ? netlist->get_node_id_base() : 0;
    m_num_edge_ids = netlist != nullptr ? netlist->get_edge_id_bound() : 0;
    m_num_node_ids = netlist != nullptr ? netlist->get_node_id_bound() : 0;
}

void MORV_TIMING_ITE::reset()
{
    m_domain_info.clear();
    m_domain_group_clock_domains.clear();
    m_has_domain_group_clock_domains = false;
    // The pools free every pooled output-term info and edge record at once.
    m_oterm_info_mem_pool.reset();
    m_edge_sr_mem_pool.reset();
    m_num_edge_ids = m_num_node_ids = m_num_domains = m_num_domain_groups = 0;
    m_deleted_node_flags.clear();
    m_deletion_candidate_nodes.clear();
    m_deletion_candidate_edges.clear();
    m_atoms_marked_for_analysis.clear();
    m_deleted_atoms.clear();
    m_driver_atoms.clear();
    m_oterm_copies = std::vector<MORV_TIMING_ITE_OTERM_COPY_INFO>();
    m_oterm_copy_roots.clear();
    m_records_netlist = nullptr;
    m_shared_edge_hash.clear();
    m_edge_domain_vec.clear();
    m_edge_notes.clear();
    m_global_min_domain_sr = MORV_ITE_NAN;
    m_touched_edges.clear();
    check_idle_state();
}

void MORV_TIMING_ITE::check_idle_state() const
{
    MORV_ASSERT_TEXT(m_domain_bit_vec_pool == nullptr, "m_domain_bit_vec_pool == NULL");
    MORV_ASSERT_TEXT(m_walk_fork_touched[0].empty(), "m_backward_visited_nodes.size() == 0");
    MORV_ASSERT_TEXT(m_walk_fork_touched[1].empty(), "m_forward_visited_nodes.size() == 0");
    MORV_ASSERT_TEXT(m_node_clock_delay_hash[TDB_MIN].size() == 0, "m_node_clock_delay_hash[TDB_MIN].size() == 0");
    MORV_ASSERT_TEXT(m_node_clock_delay_hash[TDB_MAX].size() == 0, "m_node_clock_delay_hash[TDB_MAX].size() == 0");
    MORV_ASSERT_TEXT(m_touched_edges.empty(), "m_touched_edges.empty()");
    MORV_ASSERT_TEXT(!m_has_edge_timing_data_array, "m_edge_timing_data_array == NULL");
}

void MORV_TIMING_ITE::run_front_end_full_analysis() const
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(timing != nullptr, "m_fsyn_timing");
    timing->perform_timing_analysis();
}

void MORV_TIMING_ITE::perform_full_timing_analysis()
{
    GEN_PROFILER profile("fsyn_ite_perform_full_timing_analysis");
    MORV_DEBUG_STREAM::print(1, "iTEst: full_timing_analysis: starting");
    reset();
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    accessories->set_collect_sub_domain_data(true);
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: full_timing_analysis: fsyn_timing->perform_timing_analysis()");
    {
        GEN_PROFILER analysis_profile("fsyn_ite_the_full_timing_analysis");
        run_front_end_full_analysis();
    }
    accessories->set_collect_sub_domain_data(false);
    const std::vector<TDC_SUB_DOMAIN_DATA>* sub_domain_data = accessories->get_sub_domain_data();

    attach_tdb_netlist(accessories->get_tdb_netlist());
    m_records_netlist = m_tdb_netlist;
    m_records_node_id_base = m_node_id_base;
    m_records_edge_id_base = m_edge_id_base;
    m_deleted_node_flags.assign(static_cast<size_t>(m_num_node_ids - m_node_id_base), 0);
    m_live_nodes = m_tdb_netlist->get_num_nodes();
    m_live_edges = m_tdb_netlist->get_num_edges();
    dump_tdb_netlist("full_annotate", true, false);
    build_domains(sub_domain_data);
    accessories->release_sub_domain_data();
    build_edge_domains();
    if (m_debug_dump_domain_info) dump_domain_info();

    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: full_timing_analysis: tightening slack ratios");
    m_global_min_domain_sr = MORV_ITE_NAN;
    fsyn_ite_tighten_slack_ratios();
    dump_tdb_netlist("full_annotate", true, false);

    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) domain.m_do_analysis = false;
    update_figure_of_merit();
    if (m_debug_dump_domain_info) dump_domain_analysis_info();
    MORV_DEBUG_STREAM::print(1, "iTEst: full_timing_analysis: complete");
    check_idle_state();
}

// The records describe the netlist they were built on; a rebuild from
// scratch renumbers every node and edge (its ids start above the old ones).
bool MORV_TIMING_ITE::is_timing_netlist_replaced(const TDB_NETLIST* netlist) const
{
    return netlist == nullptr || netlist != m_records_netlist ||
           netlist->get_node_id_base() != m_records_node_id_base ||
           netlist->get_edge_id_base() != m_records_edge_id_base || netlist->get_node_id_bound() < m_num_node_ids ||
           netlist->get_edge_id_bound() < m_num_edge_ids;
}

bool MORV_TIMING_ITE::fall_back_to_full_analysis(const char* why)
{
    MORV_DEBUG_STREAM::print(1, "iTEst: timing_estimation: aborting (%s)", why);
    ++m_num_fallbacks;
    m_last_fallback_reason = why;
    // A walk stopped part-way leaves regions half collected (start nodes of
    // a domain no edge was added to yet); the full analysis rebuilds every
    // domain, so they are dropped here rather than checked as finished.
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) domain.m_do_analysis = true;
    fsyn_ite_post_timing_estimation_cleanup();
    perform_full_timing_analysis();
    // The records are the analyser's own now: nothing differs.
    m_last_comparison = MORV_TIMING_ITE_COMPARISON();
    return false;
}

bool MORV_TIMING_ITE::perform_timing_estimation()
{
    GEN_PROFILER profile("fsyn_ite_perform_timing_estimation");
    MORV_DEBUG_STREAM::print(1, "iTEst: timing_estimation: starting");
    dump_tdb_netlist("ite", true, false);
    m_latch_analysis_needed = false;
    m_domains_grow = false;
    m_worst_path_lost = false;
    m_edge_left_all_domains = false;
    TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
    if (is_timing_netlist_replaced(netlist)) return fall_back_to_full_analysis("timing netlist rebuilt");
    m_tdb_netlist = netlist;
    m_tdb_edges = &netlist->edge_table();
    update_domain_information_from_copied_oterms();
    build_list_of_tdb_nodes_for_analysis();
    if (m_latch_analysis_needed) return fall_back_to_full_analysis("latch analysis needed");
    MORV_ASSERT_TEXT(m_domain_bit_vec_pool == nullptr, "m_domain_bit_vec_pool == NULL");
    m_domain_bit_vec_pool = MORV_MAKE_OWNER(MORV_SIMPLE_MEM_POOL, k_BIT_VECTOR_POOL_BLOCK_BYTES);
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: timing_estimation: updating new nodes and edges");
    update_new_nodes_and_edges();
    if (m_latch_analysis_needed) return fall_back_to_full_analysis("latch analysis needed");
    if (m_domains_grow) return fall_back_to_full_analysis("an edit extends a domain over existing edges");
    if (m_worst_path_lost) return fall_back_to_full_analysis("an edit removes an edge of a domain's worst path");
    if (m_edge_left_all_domains) return fall_back_to_full_analysis("an edit leaves an edge in no domain");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: timing_estimation: preparation steps");
    prepare_for_timing_estimation();
    if (m_latch_analysis_needed) return fall_back_to_full_analysis("latch analysis needed");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: timing_estimation: actual timing calculations");
    fsyn_ite_do_timing_estimation();
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: timing_estimation: update figure of merit");
    update_figure_of_merit();
    if (m_debug_dump_domain_info) dump_domain_analysis_info();
    dump_tdb_netlist("ite", false, true);
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: timing_estimation: cleanup");
    fsyn_ite_post_timing_estimation_cleanup();
    if (m_do_sr_compare) m_last_comparison = compare_with_full_timing_analysis();
    check_idle_state();
    MORV_DEBUG_STREAM::print(1, "iTEst: timing_estimation: complete");
    MORV_ASSERT_TEXT(!m_latch_analysis_needed, "!m_latch_analysis_needed");
    ++m_num_estimates;
    return true;
}

double MORV_TIMING_ITE::slack_weight(int s)
{
    if (s < 0) return s;
    double w = 0.5 * std::min(s, 250);
    if (s > 250) w += 0.25 * std::min(s - 250, 250);
    if (s > 500) w += 0.0625 * std::min(s - 500, 1500);
    if (s > 2000) w += 0.00390625 * (static_cast<double>(s) - 2000.0);
    return w;
}

const std::vector<std::pair<int, MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>>&
MORV_TIMING_ITE::region_records(MORV_TIMING_ITE_DOMAIN_INFO& domain) const
{
    if (!domain.m_region_records_built) {
        domain.m_region_records.clear();
        domain.m_region_records.reserve(domain.m_analysis_edges.size());
        for (int edge_id : domain.m_analysis_edges)
            domain.m_region_records.emplace_back(edge_id, required_record(&domain, edge_id));
        domain.m_region_records_built = true;
    }
    return domain.m_region_records;
}

// Only the region's records moved unless the worst edge is among them (a
// removed worst edge forgets the scan): the region is enough then.
void MORV_TIMING_ITE::recompute_wc_slack(MORV_TIMING_ITE_DOMAIN_INFO& domain) const
{
    int wc = ITE_NO_SLACK, wc_edge = -1;
    auto take = [&wc, &wc_edge](int edge_id, const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record) {
        if (record->m_slack < wc) {
            wc = record->m_slack;
            wc_edge = edge_id;
        }
    };
    if (domain.m_wc_slack_known && !domain.m_analysis_edges.contains(domain.m_wc_slack_edge)) {
        wc = domain.m_wc_slack;
        wc_edge = domain.m_wc_slack_edge;
        for (const auto& [edge_id, record] : region_records(domain)) take(edge_id, record);
    } else {
        ++m_record_scans;
        for (const auto& entry : domain.m_edge_slack_ratios) take(entry.first, entry.second);
    }
    domain.m_wc_slack = wc;
    domain.m_wc_slack_edge = wc_edge;
    domain.m_wc_slack_known = true;
}

namespace {
const char* const k_TYPE_NAMES[] = {"clock", "TSU", "TCO", "TPD"};
}

// Per group the worst slack of its clock domains, weighed and summed; for
// each of TSU, TCO and TPD the least weight of its domains. A domain without
// a bounded slack (no edge left) is left out: its 2147483647 ps would weigh
// millions.
void MORV_TIMING_ITE::update_figure_of_merit()
{
    GEN_PROFILER profile("fsyn_ite_update_figure_of_merit");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: updating figure of merit");
    std::vector<int> group_wc(static_cast<size_t>(m_num_domain_groups), k_GROUP_NOT_COMPUTED);
    double type_fom[4] = {0.0, MORV_ITE_NAN, MORV_ITE_NAN, MORV_ITE_NAN};
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        if (domain.m_do_analysis || domain.m_lost_edges) recompute_wc_slack(domain);
        domain.m_lost_edges = false;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    domain %d type %d (group %d/%d) wc slack = %d [updated=%d]",
                                     domain.m_id, domain.m_type, domain.m_group, m_num_domain_groups, domain.m_wc_slack,
                                     domain.m_do_analysis ? 1 : 0);
        if (domain.m_type < ITE_DOMAIN_CLOCK || domain.m_type > ITE_DOMAIN_TPD)
            MSG_INTERNAL_ERROR::report("ERROR: Unsupported domain type.", "MORV", __FILE__, __LINE__);
        if (domain.m_wc_slack == ITE_NO_SLACK) continue;
        if (domain.m_type == ITE_DOMAIN_CLOCK) {
            int& wc = group_wc.at(static_cast<size_t>(domain.m_group));
            wc = wc == k_GROUP_NOT_COMPUTED ? domain.m_wc_slack : std::min(wc, domain.m_wc_slack);
            continue;
        }
        const double fom = slack_weight(domain.m_wc_slack);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    %s FOM contribution (domain %d) wc slack = %d, fom = %f",
                                     k_TYPE_NAMES[domain.m_type], domain.m_id, domain.m_wc_slack, fom);
        double& least = type_fom[domain.m_type];
        if (std::isnan(least) || fom < least) least = fom;
    }
    for (int g = 0; g < m_num_domain_groups; ++g) {
        const int wc = group_wc[static_cast<size_t>(g)];
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    domain group %d wc slack = %d", g, wc);
        if (wc == k_GROUP_NOT_COMPUTED) continue;
        type_fom[ITE_DOMAIN_CLOCK] += slack_weight(wc);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    clock FOM contribution (domain group %d) wc slack = %d, fom = %f", g,
                                     wc, slack_weight(wc));
    }
    m_figure_of_merit = type_fom[ITE_DOMAIN_CLOCK];
    for (int t = ITE_DOMAIN_TSU; t <= ITE_DOMAIN_TPD; ++t)
        if (!std::isnan(type_fom[t])) m_figure_of_merit += type_fom[t];
    if (!m_debug) return;
    MORV_DEBUG_STREAM::print(2, "iTEst:    FOM clock domains = %f", type_fom[ITE_DOMAIN_CLOCK]);
    MORV_DEBUG_STREAM::print(2, "iTEst:    FOM TSU domains = %f", type_fom[ITE_DOMAIN_TSU]);
    MORV_DEBUG_STREAM::print(2, "iTEst:    FOM TCO domains = %f", type_fom[ITE_DOMAIN_TCO]);
    MORV_DEBUG_STREAM::print(2, "iTEst:    FOM TPD domains = %f", type_fom[ITE_DOMAIN_TPD]);
    MORV_DEBUG_STREAM::print(2, "iTEst:    final FOM = %f", m_figure_of_merit);
}

// ------------------------------------------------------------------ lookups

int MORV_TIMING_ITE::edge_index(int edge_id) const
{
    const int64_t index = static_cast<int64_t>(edge_id) - m_edge_id_base;
    if (m_tdb_edges == nullptr || index < 0 || index >= static_cast<int64_t>(m_tdb_edges->size()))
        MSG_INTERNAL_ERROR::report("invalid vector<T> subscript", "MORV", __FILE__, __LINE__);
    return static_cast<int>(index);
}

TDB_EDGE* MORV_TIMING_ITE::tdb_edge(int edge_id) const
{
    return (*m_tdb_edges)[static_cast<size_t>(edge_index(edge_id))];
}

MORV_TIMING_ITE_DOMAIN_INFO* MORV_TIMING_ITE::get_domain(int id)
{
    if (id < 0 || id >= m_num_domains)
        MSG_INTERNAL_ERROR::report("invalid vector<T> subscript", "MORV", __FILE__, __LINE__);
    return &m_domain_info[static_cast<size_t>(id)];
}

const MORV_TIMING_ITE_DOMAIN_GROUP_CLOCK_DOMAINS& MORV_TIMING_ITE::get_group_clock_domains(int group) const
{
    if (group < 0 || group >= m_num_domain_groups)
        MSG_INTERNAL_ERROR::report("invalid vector<T> subscript", "MORV", __FILE__, __LINE__);
    return m_domain_group_clock_domains[static_cast<size_t>(group)];
}

int MORV_TIMING_ITE::get_edge_domain(int edge_id) const
{
    const int64_t index = static_cast<int64_t>(edge_id) - m_edge_id_base;
    if (index < 0 || index >= static_cast<int64_t>(m_edge_domain_vec.size()))
        MSG_INTERNAL_ERROR::report("invalid vector<T> subscript", "MORV", __FILE__, __LINE__);
    return m_edge_domain_vec[static_cast<size_t>(index)];
}

const MORV_BIT_VECTOR* MORV_TIMING_ITE::get_shared_edge_domains(int edge_id) const
{
    auto it = m_shared_edge_hash.find(edge_id);
    return it == m_shared_edge_hash.end() ? nullptr : &it->second;
}
