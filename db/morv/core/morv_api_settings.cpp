// The facade's window on the host's project settings and device resources:
// settings by id, migration-log decisions, resource counts and overuse, the
// two flow-gate queries, progress, and the placement-and-timing call (ICP).

#include <cstdlib>
#include <optional>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "dev/dev_device.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_options.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_timing.h"

namespace {
constexpr int NO_WYSIWYG_TYPE = CDB_MAXIMUM_WYSIWYG_TYPE_ENUM;

HDB_ACTION_PT_INSTANCE* action_point_of(MORV_ENV* env)
{
    MORV_ASSERT_TEXT(env, "m_morv_env");
    CMP_FACADE* cmp = env->get_cmp();
    return cmp ? cmp->get_action_point_instance() : nullptr;
}

// The device's count of resources of type; a type the device lacks is an internal error.
int device_resource_count(MORV_ENV* env, int type, const char* failure)
{
    const int count = type == NO_WYSIWYG_TYPE ? -1 : env->get_resource_count(type);
    if (count == -1) MSG_INTERNAL_ERROR::report(failure, "MORV", __FILE__, __LINE__);
    return count;
}

int count_atoms_of_type(CDB_ATOM_NETLIST* netlist, int atom_type)
{
    int count = 0;
    for (CDB_ATOM_NODE* node : *netlist)
        if (node->get_atom_type() == atom_type) ++count;
    return count;
}

bool is_comb_or_ff(CDB_ATOM_NODE* node, int base_family)
{
    if (morv_family_traits(base_family).m_one_cell_holds_lut_and_ff) return node->is_lcell();
    return node->is_lcell_comb() || node->is_register();
}

// Without a real device there is nothing to compare the use with.
bool skips_overuse_check(MORV_ENV* env, const char* check)
{
    if (!env->is_fake_auto_device()) return false;
    MORV_DEBUG_STREAM::print(2, "Skipping %s check because we don't have a real device.", check);
    return true;
}

// LEs and FFs share the rule: past the minimum use, more than ratio of the
// device's count is overuse; a ratio of zero or less turns the check off.
bool crosses_overuse_ratio(const char* kind, int used, int device, int min_used, double ratio)
{
    if (used <= min_used || ratio <= 0.0) return false;
    if (used <= static_cast<int>(device * ratio)) return false;
    MORV_DEBUG_STREAM::print(2, "%s overuse triggered (%f)!", kind, ratio);
    return true;
}

}  // namespace

int MORV_API::s_icp_call_count = 0;

// ------------------------------------------------------------------ settings by id

std::optional<int> MORV_API::find_int_option(int id) const
{
    return HDB_INT_OPTION::get_int_option(action_point_of(m_morv_env), id);
}

int MORV_API::get_int_option(int id) const
{
    const std::optional<int> value = find_int_option(id);
    return value ? *value : -1;
}

bool MORV_API::get_bool_option(int id) const
{
    HDB_ACTION_PT_INSTANCE* ap = action_point_of(m_morv_env);
    std::optional<bool> value = HDB_BOOL_OPTION::get_bool_option(ap, id);
    return value ? *value : false;
}

int MORV_API::get_enum_option(int id) const
{
    HDB_ACTION_PT_INSTANCE* ap = action_point_of(m_morv_env);
    std::optional<int> value = HDB_ENUM_OPTION::get_enum_option(ap, id);
    return value ? *value : 0;
}

std::string MORV_API::get_string_option(int id) const
{
    HDB_ACTION_PT_INSTANCE* ap = action_point_of(m_morv_env);
    std::optional<std::string> value = HDB_STRING_OPTION::get_string_option(ap, id);
    return value ? *value : std::string();
}

int MORV_API::get_instance_int_option(HDB_INSTANCE_NAME* inst_name, int id) const
{
    MORV_ASSERT(inst_name);
    HDB_ACTION_PT_INSTANCE* ap = action_point_of(m_morv_env);
    std::optional<int> value = HDB_INT_OPTION::get_int_option(ap, inst_name, id);
    return value ? *value : -1;
}

std::optional<bool> MORV_API::find_instance_bool_option(const HDB_INSTANCE_NAME* inst_name, int id) const
{
    if (inst_name == nullptr) return std::nullopt;
    return HDB_BOOL_OPTION::get_bool_option(action_point_of(m_morv_env), inst_name, id);
}

int MORV_API::get_family_code()
{
    if (m_family == DEV_FAMILY_INVALID) {
        MORV_ASSERT(m_morv_env);
        m_family = m_morv_env->get_family_code();
        MORV_ASSERT(m_family != DEV_FAMILY_INVALID);
    }
    return m_family;
}

// An absent setting means no replay, exactly like "OFF": otherwise every
// compile would be taken for a replay. A setting that is present but empty
// still asks for one.
bool MORV_API::is_read_log_setting_given() const
{
    const std::optional<std::string> read_log =
        HDB_STRING_OPTION::get_string_option(action_point_of(m_morv_env), MORV_SETTING_READ_LOG);
    return read_log && *read_log != "OFF";
}

bool MORV_API::is_fsyn_read_log_required() const
{
    return is_read_log_setting_given() && morv_family_keeps_change_log(morv_family_traits(m_base_family));
}

bool MORV_API::has_migratable_part_of_family(int family) const
{
    DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    DEV_MIGRATION_INFO* info = device ? device->get_migration_info() : nullptr;
    if (info == nullptr) return false;
    for (int part : info->get_migratable_parts())
        if (DEV_PART_MANAGER::get_family_of(part) == family) return true;
    return false;
}

bool MORV_API::is_fsyn_write_log_required() const
{
    const int partner = morv_family_traits(m_base_family).m_migration_partner;
    const bool migration = partner != DEV_FAMILY_INVALID && has_migratable_part_of_family(partner);
    return migration && !is_fsyn_read_log_required();
}

bool MORV_API::has_migration_target_device() const
{
    HDB_ACTION_PT_INSTANCE* ap = action_point_of(m_morv_env);
    if (ap == nullptr) return false;
    std::optional<std::string> value =
        HDB_STRING_OPTION::get_string_option(&ap->get_chip(), MORV_SETTING_MIGRATION_TARGET_DEVICE);
    return value && !value->empty() && *value != "<None>";
}

// ------------------------------------------------------------------ resources

int MORV_API::get_device_le_type() const
{
    return morv_family_traits(m_base_family).m_le_type;
}

int MORV_API::get_device_ff_type() const
{
    return morv_family_traits(m_base_family).m_ff_type;
}

int MORV_API::get_device_le_count() const
{
    MORV_ASSERT(m_morv_env);
    return device_resource_count(m_morv_env, get_device_le_type(), "Error: get number of LEs failed!");
}

int MORV_API::get_device_ff_count() const
{
    MORV_ASSERT(m_morv_env);
    return device_resource_count(m_morv_env, get_device_ff_type(), "Error: get number of FFs failed!");
}

int MORV_API::get_used_le_count() const
{
    const int device_le_type = get_device_le_type();
    MORV_ASSERT(device_le_type != CDB_MAXIMUM_WYSIWYG_TYPE_ENUM);
    return count_atoms_of_type(m_atom_netlist, device_le_type);
}

int MORV_API::get_used_ff_count() const
{
    const int device_ff_type = get_device_ff_type();
    MORV_ASSERT(device_ff_type != CDB_MAXIMUM_WYSIWYG_TYPE_ENUM);
    return count_atoms_of_type(m_atom_netlist, device_ff_type);
}

bool MORV_API::are_les_overused() const
{
    if (skips_overuse_check(m_morv_env, "are_les_overused")) return false;
    const int used = get_used_le_count();
    const int device = get_device_le_count();
    return crosses_overuse_ratio("LE", used, device, m_min_used_for_overuse, m_le_overuse_ratio);
}

bool MORV_API::are_ffs_overused() const
{
    if (skips_overuse_check(m_morv_env, "are_ffs_overused")) return false;
    const int used = get_used_ff_count();
    const int device = get_device_ff_count();
    return crosses_overuse_ratio("FF", used, device, m_min_used_for_overuse, m_ff_overuse_ratio);
}

// ------------------------------------------------------------------ flow-gate queries

bool MORV_API::are_all_partitions_locked() const
{
    // Partitions exist only with a boundary-port manager; the stand-in
    // manager answers no partition queries, so no partition counts as locked.
    return false;
}

float MORV_API::get_back_annotated_fraction() const
{
    const bool may_be_back_annotated = morv_family_traits(m_base_family).m_back_annotation;
    int counted = 0;
    int back_annotated = 0;
    for (CDB_ATOM_NODE* atom : *m_atom_netlist) {
        MORV_ASSERT_TEXT(atom, "atom_node");
        if (!is_comb_or_ff(atom, m_base_family)) continue;
        ++counted;
        if (may_be_back_annotated && m_morv_env->is_atom_back_annotated(atom)) ++back_annotated;
    }
    if (counted == 0) return 0.0f;
    return static_cast<float>(back_annotated) / static_cast<float>(counted);
}

void MORV_API::set_progress_percent(int percent)
{
    MORV_ASSERT(m_morv_env);
    MORV_ASSERT((percent >= 0) && (percent <= 100));
    int fsyn_start_perc = MORV_OPEN;
    int fsyn_end_perc = MORV_OPEN;
    m_morv_env->get_progress_range(&fsyn_start_perc, &fsyn_end_perc);
    MORV_ASSERT(fsyn_start_perc != MORV_OPEN);
    MORV_ASSERT(fsyn_end_perc != MORV_OPEN);
    const float span = static_cast<float>(fsyn_end_perc - fsyn_start_perc);
    m_morv_env->set_progress(fsyn_start_perc + static_cast<int>((static_cast<float>(percent) / 100.0f) * span));
}

// ------------------------------------------------------------------ timing and ICP

bool MORV_API::run_timing_analysis(bool full, bool second_flag, double multiplier, bool fourth_flag,
                                   bool want_routing_estimate, bool sixth_flag)
{
    GEN_PROFILER whole_call("FSYN_timing_icp");
    MORV_ASSERT(m_fsyn_timing);

    const char* blp_text = cfg_get_value("fsyn_blp_multiplier");
    const double blp_multiplier = blp_text ? std::atof(blp_text) : 0.0;
    if (blp_multiplier > 0.0) multiplier *= blp_multiplier;

    const bool routing_estimate = morv_family_traits(m_base_family).m_routing_estimate &&
                                  cfg_is_on("fsyn_use_routing_estimate", false) && want_routing_estimate;
    const bool post_clustering = m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running(POST_CLUSTERING_FSYN_FLOW);
    if (post_clustering) download_clustering_to_chip_map();
    const bool pre_placement = m_fsyn_expert != nullptr && (m_fsyn_expert->is_fsyn_running_early_fsyn() ||
                                                            m_fsyn_expert->is_fsyn_running(CLUSTER_RETRY_FSYN_FLOW));
    const bool xicp = m_fsyn_expert != nullptr && m_fsyn_expert->use_xicp();
    const bool late = m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running(LATE_FSYN_FLOW);

    // Before placement, and between experimental-ICP iterations, the host
    // cannot place: timing comes from the component's own estimate.
    if (pre_placement || (xicp && !full)) {
        MORV_DEBUG_STREAM::print(1, "Ignoring call to ICP(%d, %d, %d, %f) -- Early-FSYN is running", full ? 1 : 0,
                                 second_flag ? 1 : 0, routing_estimate ? 1 : 0, multiplier);
        return run_timing_without_placement(full, late);
    }

    GEN_PROFILER normal_icp("FSYN_normal_icp");
    const double start = gen_get_sec_cpu();
    m_fsyn_timing->set_fom_from_env(true);
    MORV_DEBUG_STREAM::print(1, "Calling ICP(%d, %d, %d, %d, %f)", full ? 1 : 0, second_flag ? 1 : 0,
                             routing_estimate ? 1 : 0, sixth_flag ? 1 : 0, multiplier);
    ++s_icp_call_count;

    m_fsyn_timing->sync_timing_netlist(true, true);
    if (full) stress_icp_preferred_locations();

    const MORV_ICP_RESULT result =
        m_morv_env->run_icp(full, second_flag, multiplier, fourth_flag, routing_estimate, sixth_flag, post_clustering);
    relocate_stressed_atoms();
    const bool success = result.m_status == 1;
    if (!success && !full) MORV_DEBUG_STREAM::print(0, "Warning: FSYN timing analysis failed");

    refresh_timing_after_icp(routing_estimate, post_clustering);

    const int measured = static_cast<int>(gen_get_sec_cpu() - start + 0.5);
    MORV_DEBUG_STREAM::print(1, "ICP time for this iteration was %d sec ( vs. %d + %d = %d )", measured,
                             result.m_first_seconds, result.m_second_seconds,
                             result.m_first_seconds + result.m_second_seconds);

    record_icp_statistics(full, second_flag, success, result);

    if (xicp && late) {
        m_fsyn_timing->set_fom_from_env(true);
        if (full) m_modified_atoms_for_icp.clear();
    }
    return success;
}

// Before placement the host cannot place: timing comes from the component's
// own pre-placement analysis. Between experimental-ICP iterations of the
// LATE flow the virtual analysis stands in for the host's call, with the
// corrections learned from the last real analysis.
bool MORV_API::run_timing_without_placement(bool full, bool late)
{
    const bool pre_placement = m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running_pre_placement_fsyn();
    if (late || !pre_placement) {
        MORV_DEBUG_STREAM::print(1, "Running the experimental ICP timing analysis");
        if (!m_fsyn_timing->sync_timing_netlist(true, true)) return true;
        if (m_fsyn_timing->get_adjustment_factors().empty()) m_fsyn_timing->create_adjustment_factors();
        m_fsyn_timing->perform_virtual_icp_timing_analysis();
        return true;
    }
    bool success = true;
    m_fsyn_timing->perform_pre_placement_timing_analysis(uses_delay_model());
    if (full && (are_les_overused() || are_ffs_overused())) success = false;
    m_modified_atoms_for_icp.clear();
    return success;
}

void MORV_API::refresh_timing_after_icp(bool routing_estimate, bool post_clustering)
{
    if (routing_estimate) {
        m_fsyn_timing->acquire_tdc_utility();
        MORV_ASSERT_TEXT(m_fsyn_timing->get_tdc_utility(), "tdc_utility");
        m_fsyn_timing->perform_timing_analysis();
    }

    m_fsyn_timing->sync_timing_netlist(true, true);
    if (post_clustering) {
        m_fsyn_timing->perform_pre_placement_timing_analysis(uses_delay_model());
        return;
    }
    int percent = s_icp_call_count * 2;
    if (percent < 1) percent = 1;
    if (percent > 99) percent = 99;
    set_progress_percent(percent);
}

void MORV_API::record_icp_statistics(bool full, bool second_flag, bool success, const MORV_ICP_RESULT& result)
{
    if (m_fsyn_stats != nullptr)
        m_fsyn_stats->note_timing_analysis(full, second_flag, !success, result.m_first_seconds,
                                           result.m_second_seconds);
    if (m_fsyn_qor_stat_mgr == nullptr) return;
    if (full) {
        m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_ICP_CALLS);
        m_fsyn_qor_stat_mgr->add_double(MORV_QOR_ICP_TIME, result.m_first_seconds);
    } else {
        m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_TIMING_ANALYSIS_CALLS);
        m_fsyn_qor_stat_mgr->add_double(MORV_QOR_TIMING_ANALYSIS_TIME, result.m_first_seconds);
    }
    if (second_flag) {
        m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_POST_ICP_CALLS);
        m_fsyn_qor_stat_mgr->add_double(MORV_QOR_POST_ICP_TIME, result.m_second_seconds);
    }
    if (!success) m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_ICP_FAILURES);
}

void MORV_API::stress_icp_preferred_locations()
{
    const char* text = cfg_get_value("fsyn_stress_icp");
    if (text == nullptr) return;
    double fraction = std::atof(text);
    if (fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    if (fraction <= 0.0) return;
    const int every = static_cast<int>(1.0 / fraction);
    if (every < 1) return;
    MORV_DEBUG_STREAM::print(
        100, "FSYN_STRESS_ICP is going to remove every %dth pref loc to provide more entertainment for icp!", every);
    int seen = 0;
    int removed = 0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!node->is_lcell_comb() && !node->is_lcell()) continue;
        if (++seen % every != 0) continue;
        const int id = static_cast<int>(node->get_id());
        MORV_LOC location;
        if (m_fsyn_chip_map == nullptr || !m_fsyn_chip_map->get_node_location(id, &location)) continue;
        if (!m_fsyn_chip_map->remove_node(id)) continue;
        m_stressed_atoms.emplace_back(id, location.saved_info_index);
        ++removed;
    }
    MORV_DEBUG_STREAM::print(100, "FSYN_STRESS_ICP removed %d pref locations!", removed);
}

// Edits after the ICP find every atom in the map again, where the host put
// it; an atom the host left unplaced stays out, as any unplaced atom.
void MORV_API::relocate_stressed_atoms()
{
    if (m_fsyn_chip_map != nullptr)
        for (const auto& [id, saved_info_index] : m_stressed_atoms) {
            const CDB_ATOM_NODE* node = get_node(id);
            if (node == nullptr || node->get_lab_x() < 0 || node->get_lab_y() < 0) continue;
            m_fsyn_chip_map->set_node_location(
                id, MORV_LOC{node->get_lab_x(), node->get_lab_y(), node->get_sub_location(), saved_info_index});
        }
    m_stressed_atoms.clear();
}
