#include "cfg/cfg_known_keys.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <sys/un.h>

#include "cfg/cfg_file.h"
#include "msg/msg.h"

namespace {

constexpr long k_max_period_ps = 1000000000;
constexpr long k_max_socket_path = sizeof(sockaddr_un::sun_path) - 1;

// The component's developer switches, and the few keys it reads as numbers
// or text.
constexpr CFG_KNOWN_KEY k_keys[] = {
    {"FSYN_PRINT_ATOM_MOD_STATS_FOR_DUPLICATION", CFG_KEY_KIND::SWITCH},
    {"FSYN_PRINT_ATOM_MOD_STATS_FOR_RETIMING", CFG_KEY_KIND::SWITCH},
    {"FSYN_PRINT_ATOM_MOD_STATS_VERBOSE", CFG_KEY_KIND::SWITCH},
    {"fsyn_debug_checkpoint_stop_late", CFG_KEY_KIND::SWITCH},
    {"fsyn_debug_mode", CFG_KEY_KIND::SWITCH},
    {"fsyn_debug_msg", CFG_KEY_KIND::SWITCH},
    {"fsyn_debug_msg_full", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_experimental_icp", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_fit_fsyn", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_fsyn_in_flat_flow", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_fsyn_instance_assignments", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_ia2t", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_late_fsyn", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_lir_after_migration", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_lir_in_flat_flow", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_ll_timing", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_location_copying", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_mac_retiming", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_mac_retiming_back_pushes", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_mac_retiming_fwd_pushes", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_netlist_sweeper", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_nevra", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_node_collapser", CFG_KEY_KIND::SWITCH},
    {"fsyn_disable_sload_demuxing", CFG_KEY_KIND::SWITCH},
    {"fsyn_do_last_timing_analysis_on_mode_switch", CFG_KEY_KIND::SWITCH},
    {"fsyn_dump_drc_tracking", CFG_KEY_KIND::SWITCH},
    {"fsyn_dump_instance_assignments", CFG_KEY_KIND::SWITCH},
    {"fsyn_dump_node_tracking", CFG_KEY_KIND::SWITCH},
    {"fsyn_dump_plumrix_netlist_after_every_iteration", CFG_KEY_KIND::SWITCH},
    {"fsyn_dump_qor_stats", CFG_KEY_KIND::SWITCH},
    {"fsyn_early_area_compensation", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_debug_checkpoints", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_experimental_icp", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_ite", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_iter_netlist_dump", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_late_mac_retiming", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_netlist_dump", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_nevra", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_new_retiming", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_plumrix", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_ram_retiming", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_sload_push", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_tdb_netlist_dump", CFG_KEY_KIND::SWITCH},
    {"fsyn_enable_timing_snapshots", CFG_KEY_KIND::SWITCH},
    {"fsyn_fail_if_icp_fails", CFG_KEY_KIND::SWITCH},
    {"fsyn_fix_tdb_netlist_for_virtual_nodes", CFG_KEY_KIND::SWITCH},
    {"fsyn_for_density", CFG_KEY_KIND::SWITCH},
    {"fsyn_force_init_full_icp", CFG_KEY_KIND::SWITCH},
    {"fsyn_force_restore", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_debug_compute_sr_lr_r2", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_debug_dump_domain_info", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_debug_dump_tdb_netlists", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_debug_filter", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_debug_full", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_do_sr_compare", CFG_KEY_KIND::SWITCH},
    {"fsyn_ite_do_sr_compare_detail", CFG_KEY_KIND::SWITCH},
    {"fsyn_lir_return_zero_operations", CFG_KEY_KIND::SWITCH},
    {"fsyn_magic_decoder_ring", CFG_KEY_KIND::SWITCH},
    {"fsyn_manual_after_cluster_retry", CFG_KEY_KIND::SWITCH},
    {"fsyn_manual_after_early", CFG_KEY_KIND::SWITCH},
    {"fsyn_manual_after_late", CFG_KEY_KIND::SWITCH},
    {"fsyn_netlist_sweeper", CFG_KEY_KIND::SWITCH},
    {"fsyn_nevra_dump_timing", CFG_KEY_KIND::SWITCH},
    {"fsyn_pipe_async_dump_all_non_async_fanouts", CFG_KEY_KIND::SWITCH},
    {"fsyn_pipe_async_skip_timing_checks", CFG_KEY_KIND::SWITCH},
    {"fsyn_plumrix_dump_algorithm_netlists", CFG_KEY_KIND::SWITCH},
    {"fsyn_plumrix_dump_post_route_netlist", CFG_KEY_KIND::SWITCH},
    {"fsyn_print_slack_ratio_histogram", CFG_KEY_KIND::SWITCH},
    {"fsyn_ram_map_debug", CFG_KEY_KIND::SWITCH},
    {"fsyn_ram_map_use_aggressive_srt", CFG_KEY_KIND::SWITCH},
    {"fsyn_read_backannotated_delays", CFG_KEY_KIND::SWITCH},
    {"fsyn_read_manual_ops_file", CFG_KEY_KIND::SWITCH},
    {"fsyn_redirect_plx_to_file", CFG_KEY_KIND::SWITCH},
    {"fsyn_reg_unpack_for_all_families", CFG_KEY_KIND::SWITCH},
    {"fsyn_remux_dont_check_criticality", CFG_KEY_KIND::SWITCH},
    {"fsyn_resplit_bypass_constraint_check", CFG_KEY_KIND::SWITCH},
    {"fsyn_resyn_do_everything", CFG_KEY_KIND::SWITCH},
    {"fsyn_resyn_dump_dot", CFG_KEY_KIND::SWITCH},
    {"fsyn_resyn_use_guardband_slack", CFG_KEY_KIND::SWITCH},
    {"fsyn_retime_side_clocks", CFG_KEY_KIND::SWITCH},
    {"fsyn_shift_reg_opts", CFG_KEY_KIND::SWITCH},
    {"fsyn_tune_dont_repslit", CFG_KEY_KIND::SWITCH},
    {"fsyn_tune_stability_threshold", CFG_KEY_KIND::SWITCH},
    {"fsyn_tune_strings", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_drc", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_late_fsyn_overuse_cutoff", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_legacy_fom", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_new_timing_flow", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_routing_estimate", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_seed", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_smart_tainting", CFG_KEY_KIND::SWITCH},
    {"fsyn_use_sr_skew", CFG_KEY_KIND::SWITCH},
    {"iwap_disable_fit_fsyn", CFG_KEY_KIND::SWITCH},
    {"ssyn_fsyn", CFG_KEY_KIND::SWITCH},
    {"very_late_fsyn", CFG_KEY_KIND::SWITCH},
    {"vnid_debug_ini", CFG_KEY_KIND::SWITCH},
    {"fsyn_debug_checkpoint_stop_count", CFG_KEY_KIND::INT},
    {"fsyn_pipe_async_register_reach", CFG_KEY_KIND::INT},
    {"fsyn_pipe_async_slack_threshold", CFG_KEY_KIND::INT},
    {"fsyn_blp_multiplier", CFG_KEY_KIND::NUMBER},
    {"fsyn_cutoff_resplit_msr", CFG_KEY_KIND::NUMBER},
    {"fsyn_cutoff_resyn_msr", CFG_KEY_KIND::NUMBER},
    {"fsyn_overuse_ratio", CFG_KEY_KIND::NUMBER},
    {"fsyn_stress_icp", CFG_KEY_KIND::NUMBER},
    {"fsyn_tune_fast_threshold", CFG_KEY_KIND::NUMBER},
    {"fsyn_tune_slow_threshold", CFG_KEY_KIND::NUMBER},
    {"fsyn_tune_stability_threshold_value", CFG_KEY_KIND::NUMBER},
    {"fsyn_tune_work_string_early", CFG_KEY_KIND::TEXT},
    {"fsyn_tune_work_string_extra", CFG_KEY_KIND::TEXT},
    {"fsyn_tune_work_string_fast", CFG_KEY_KIND::TEXT},
    {"fsyn_tune_work_string_normal", CFG_KEY_KIND::TEXT},
    {"fsyn_tune_work_string_normal_late", CFG_KEY_KIND::TEXT},
    // The socket the interactive tool listens on: a path the system can bind.
    {"fsyn_plumrix_endpoint", CFG_KEY_KIND::TEXT, 1, k_max_socket_path},

    // The stand-in timing analyser: the default clock period, one clock's
    // period ("tdc_clock_period_ps.<clock>"), I/O delays and the
    // combinational requirement.
    {"tdc_clock_period_ps", CFG_KEY_KIND::INT, 1, k_max_period_ps},
    {"tdc_clock_period_ps.", CFG_KEY_KIND::INT, 1, k_max_period_ps},
    {"tdc_early_timing", CFG_KEY_KIND::SWITCH},
    {"tdc_input_delay_ps", CFG_KEY_KIND::INT},
    {"tdc_output_delay_ps", CFG_KEY_KIND::INT},
    {"tdc_tpd_requirement_ps", CFG_KEY_KIND::INT},
    // The stand-in's general services.
    {"tst_regtest_mode", CFG_KEY_KIND::SWITCH},
};

bool matches(const CFG_KNOWN_KEY& known, std::string_view key)
{
    const std::string_view name(known.name);
    if (!name.empty() && name.back() == '.') return key.size() > name.size() && key.substr(0, name.size()) == name;
    return key == name;
}

std::string found(std::string_view value)
{
    return ", found '" + msg_cut_word(value) + "'";
}

bool is_number(std::string_view value)
{
    const std::string text(cfg_trim(value));
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(v);
}

}  // namespace

const CFG_KNOWN_KEY* cfg_find_known_key(std::string_view key)
{
    for (const CFG_KNOWN_KEY& known : k_keys)
        if (matches(known, key)) return &known;
    return nullptr;
}

std::string cfg_check_value(const CFG_KNOWN_KEY& key, std::string_view value)
{
    switch (key.kind) {
    case CFG_KEY_KIND::SWITCH:
        if (cfg_parse_switch(value)) return {};
        return "takes on or off (or true/false, 1/0)" + found(value);
    case CFG_KEY_KIND::INT: {
        const std::optional<int> v = cfg_parse_int(value);
        if (v && *v >= key.min_value && *v <= key.max_value) return {};
        if (key.min_value == INT_MIN && key.max_value == INT_MAX) return "takes a whole number" + found(value);
        return "takes a whole number from " + std::to_string(key.min_value) + " to " + std::to_string(key.max_value) +
               found(value);
    }
    case CFG_KEY_KIND::NUMBER:
        if (is_number(value)) return {};
        return "takes a number" + found(value);
    case CFG_KEY_KIND::TEXT:
        if (key.max_value == INT_MAX || static_cast<long>(value.size()) <= key.max_value) return {};
        return "takes a text of at most " + std::to_string(key.max_value) + " characters" + found(value.substr(0, 40));
    }
    return {};
}

std::span<const CFG_KNOWN_KEY> cfg_known_keys()
{
    return k_keys;
}
