#include "morv/resyn/morv_resyn.h"

#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_msgs.h"
#include "morv/netlist/morv_cdb_interface.h"

bool MORV_RESYN::s_dsr_warned = false;

MORV_RESYN::MORV_RESYN(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr), m_num_iterations(0), m_num_data_ports(0),
      m_stage_delay(0.0), m_stage_sr(0.0), m_default_stage_sr(0.0), m_area_fr_bgn(0.0), m_area_fr_end(0.0),
      m_area_sr_min(0.0), m_area_sr_max(0.0), m_sr_threshold(0.0), m_guardband_slack(0), m_duplicate_fr(0.0),
      m_duplicate_sr(0.0), m_noise_fr(0.0), m_noise_sr(0.0), m_max_expansions(0), m_max_vars(0), m_max_literals(0),
      m_knock_var_base(0), m_knock_var_mult0(0.0), m_knock_var_mult1(0.0), m_area_bound_bgn(0), m_area_bound_end(0),
      m_area_bound(0), m_soln(nullptr), m_input_area(0.0), m_cache_hits(0), m_cache_lookups(0), m_root_sr(1.0),
      m_num_expanded(0), m_num_duplicated(0), m_dot_file(nullptr), m_dot_graph_count(0), m_rtm_aware(false),
      m_use_guardband_slack(true), m_cutoff_error_reported(false)
{
    MORV_DEBUG_STREAM::print(100, "MORV_RESYN Created.");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_cdb_interface, "m_cdb_interface");
    // The variable order never changes, so a variable's number is its level
    // for the whole run and cached covers stay valid.
    m_bdd_mgr = MORV_MAKE_OWNER(BDD_JBDD_MGR, 100, 50000, 1000, false, false);
    m_bdd_mgr->disable_reorder();
    m_div_data = MORV_MAKE_OWNER(RESYN_DIV_DATA);
    RESYN_COVER_CACHE empty;
    empty.lower = m_bdd_mgr->false_bdd();
    empty.upper = m_bdd_mgr->true_bdd();
    empty.cover = m_bdd_mgr->false_bdd();
    m_cover_cache.assign(s_COVER_CACHE_SIZE, empty);
    // A dump that cannot be opened is off for the object.
    if (cfg_is_on("fsyn_resyn_dump_dot", false)) m_dot_file = std::fopen("resynth.dot", "w");
    if (params != nullptr && std::atoi(get_algorithm_param(*params, MORV_RESYN_PARAM_RTM_AWARE).c_str()) == 1) {
        MORV_DEBUG_STREAM::print(2, "**********************************");
        MORV_DEBUG_STREAM::print(2, "* Running in RETIMING AWARE MODE *");
        MORV_DEBUG_STREAM::print(2, "**********************************");
        m_rtm_aware = true;
    }
    m_use_guardband_slack = cfg_is_on("fsyn_resyn_use_guardband_slack", true);
    m_xicp_modify_dest_node_on_modify_edge = true;
}

MORV_RESYN::~MORV_RESYN()
{
    if (m_cache_lookups > 0)
        MORV_DEBUG_STREAM::print(100, "cache hit: %.2f",
                                 static_cast<double>(m_cache_hits) / static_cast<double>(m_cache_lookups));
    if (m_dot_file != nullptr) std::fclose(m_dot_file);
    clear_vars();
    free_iteration_records();
    m_cone = BDD_JBDD();
    m_cover_cache.clear();
    m_div_data.reset();
    m_bdd_mgr.reset();
    MORV_DEBUG_STREAM::print(100, "MORV_RESYN Destroyed");
}

void MORV_RESYN::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                  int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
    if (!cfg_is_on("fsyn_resyn_do_everything", false)) return;
    MORV_DEBUG_STREAM::print(1, "Putting resyn in 'do everything' mode.");
    MORV_DEBUG_STREAM::print(1, "WARNING: This will almost certainly hurt QoR!");
    m_area_bound_bgn = 10;
    m_area_sr_min = 1.0;
    m_area_sr_max = 1.0;
    m_area_bound_end = 20;
    fom_to_accept = -99999999.0;
}

void MORV_RESYN::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    if (num_iters == s_UNSET_INT) num_iters = 3;
    m_num_iterations = num_iters;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

namespace {

// The value of key when present and not empty.
bool param_text(const MORV_PARAMETER_MAP& params, const char* key, std::string& text)
{
    text = MORV_ALGORITHM_BASE::get_algorithm_param(params, key);
    return !text.empty();
}

// True when the key was given: the caller logs the value taken.
bool read_double(const MORV_PARAMETER_MAP& params, const char* key, double& member)
{
    std::string text;
    if (!param_text(params, key, text)) return false;
    member = std::atof(text.c_str());
    return true;
}

bool read_int(const MORV_PARAMETER_MAP& params, const char* key, int& member)
{
    std::string text;
    if (!param_text(params, key, text)) return false;
    member = std::atoi(text.c_str());
    return true;
}

}  // namespace

void MORV_RESYN::parse_parameters(const MORV_PARAMETER_MAP* params)
{
    if (params == nullptr) return;
    const MORV_PARAMETER_MAP& p = *params;
    if (read_double(p, MORV_RESYN_PARAM_STAGE_DELAY, m_stage_delay))
        MORV_DEBUG_STREAM::print(100, "stage delay changed to %.3f", m_stage_delay);
    if (read_double(p, MORV_RESYN_PARAM_STAGE_SR, m_default_stage_sr))
        MORV_DEBUG_STREAM::print(100, "default stage sr changed to %.3f", m_default_stage_sr);
    if (read_double(p, MORV_RESYN_PARAM_DUPLICATE_FR, m_duplicate_fr))
        MORV_DEBUG_STREAM::print(100, "duplicate fr changed to %.3f", m_duplicate_fr);
    if (read_double(p, MORV_RESYN_PARAM_NOISE_FR, m_noise_fr))
        MORV_DEBUG_STREAM::print(100, "noise fr changed to %.3f", m_noise_fr);
    if (read_double(p, MORV_RESYN_PARAM_AREA_FR_BGN, m_area_fr_bgn))
        MORV_DEBUG_STREAM::print(100, "area-timing tradeoff fr bgn changed to %.3f", m_area_fr_bgn);
    if (read_double(p, MORV_RESYN_PARAM_AREA_FR_END, m_area_fr_end))
        MORV_DEBUG_STREAM::print(100, "area-timing tradeoff fr end changed to %.3f", m_area_fr_end);
    if (read_double(p, MORV_RESYN_PARAM_AREA_SR_MIN, m_area_sr_min))
        MORV_DEBUG_STREAM::print(100, "area-timing tradeoff sr min changed to %.3f", m_area_sr_min);
    // The fast-effort lists spell ASRX and ABE as ASR and AB; the full key
    // wins when both are given.
    std::string text;
    const char* max_key = param_text(p, MORV_RESYN_PARAM_AREA_SR_MAX, text) ? MORV_RESYN_PARAM_AREA_SR_MAX
                                                                            : MORV_RESYN_PARAM_AREA_SR_MAX_ALIAS;
    if (read_double(p, max_key, m_area_sr_max))
        MORV_DEBUG_STREAM::print(100, "area-timing tradeoff sr max changed to %.3f", m_area_sr_max);
    if (read_int(p, MORV_RESYN_PARAM_GUARDBAND_SLACK, m_guardband_slack))
        MORV_DEBUG_STREAM::print(100, "guardband slack changed to %d", m_guardband_slack);
    if (read_int(p, MORV_RESYN_PARAM_MAX_EXPANSIONS, m_max_expansions))
        MORV_DEBUG_STREAM::print(100, "maximum number of expansions %d", m_max_expansions);
    if (read_int(p, MORV_RESYN_PARAM_MAX_VARS, m_max_vars))
        MORV_DEBUG_STREAM::print(100, "maximum vars during expansion changed to %d", m_max_vars);
    if (read_int(p, MORV_RESYN_PARAM_MAX_LITERALS, m_max_literals))
        MORV_DEBUG_STREAM::print(100, "maximum literals during expansion changed to %d", m_max_literals);
    if (read_int(p, MORV_RESYN_PARAM_KNOCK_VAR_BASE, m_knock_var_base))
        MORV_DEBUG_STREAM::print(100, "knock var base changed to %d", m_knock_var_base);
    if (read_double(p, MORV_RESYN_PARAM_KNOCK_VAR_MULT0, m_knock_var_mult0))
        MORV_DEBUG_STREAM::print(100, "knock var mult0 changed to %.2f", m_knock_var_mult0);
    if (read_double(p, MORV_RESYN_PARAM_KNOCK_VAR_MULT1, m_knock_var_mult1))
        MORV_DEBUG_STREAM::print(100, "knock var mult1 changed to %.2f", m_knock_var_mult1);
    if (read_int(p, MORV_RESYN_PARAM_AREA_BOUND_BGN, m_area_bound_bgn))
        MORV_DEBUG_STREAM::print(100, "area bound bgn changed to %d", m_area_bound_bgn);
    const char* end_key = param_text(p, MORV_RESYN_PARAM_AREA_BOUND_END, text) ? MORV_RESYN_PARAM_AREA_BOUND_END
                                                                               : MORV_RESYN_PARAM_AREA_BOUND_END_ALIAS;
    if (read_int(p, end_key, m_area_bound_end))
        MORV_DEBUG_STREAM::print(100, "area bound end changed to %d", m_area_bound_end);
    if (param_text(p, MORV_RESYN_PARAM_UNUSED_DSR, text) && !s_dsr_warned) {
        s_dsr_warned = true;
        MSG_W* msg = new MSG_W();
        msg->fill_args("RESYN parameter DSR=%1!s! has no effect and is ignored./WMORV_FSYN_RESYN_UNUSED_PARAMETER",
                       text);
        morv_send_msg(msg);
    }
}

CDB_ATOM_OTERM* MORV_RESYN::create_lut_oterm(MORV_API* api, CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT_TEXT(api, "m_fsyn_api");
    MORV_ASSERT_TEXT(node, "node");
    HDB_INSTANCE_NAME* name = api->get_fsyn_net_util()->make_unique_instance_name(node->get_instance_name(), "_BDD");
    CDB_ATOM_OTERM* oterm = nullptr;
    api->get_fsyn_cdb_interface()->create_oterm(nullptr, oterm, node, port_type, name);
    MORV_ASSERT_TEXT(oterm, "oterm");
    return oterm;
}
