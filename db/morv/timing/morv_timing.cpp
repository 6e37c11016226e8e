// The timing object's lifecycle: construction, initialisation with the
// placer-seed perturbation of the table model, and the choice of back end.

#include "morv/timing/morv_timing.h"

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "nevra/nevra_estimator.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing_internal.h"
#include "morv/timing/morv_timing_ite.h"

namespace {

// Rows at or below this many ps are too short to perturb.
constexpr int MIN_PERTURBED_DELAY = 20;

}  // namespace

MORV_TIMING::MORV_TIMING(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "m_fsyn_api");
    m_use_legacy_fom = cfg_is_on("fsyn_use_legacy_fom", false);
    if (m_use_legacy_fom) MORV_DEBUG_STREAM::print(1, "FSYN is using LEGACY FOM");
    m_use_smart_tainting = cfg_is_on("fsyn_use_smart_tainting", true);
    if (m_use_smart_tainting) MORV_DEBUG_STREAM::print(1, "FSYN is using SMRT TAINTING");
    m_sr_skew = 0.125;
    if (cfg_is_on("fsyn_use_sr_skew", true)) {
        m_sr_skew = morv_family_traits(m_fsyn_api->get_base_family_code()).m_timing.m_slack_ratio_skew;
        MORV_DEBUG_STREAM::print(1, "FSYN SR skew X = %f", m_sr_skew);
    }
}

// The engines go before the model they time with.
MORV_TIMING::~MORV_TIMING()
{
    m_nevra.reset();
    m_itest.reset();
    m_table_timing_model.reset();
}

void MORV_TIMING::init_tdc_timing()
{
    // A family without a net utility still gets a facade (it warned); its
    // timing answers what needs no net utility.
    m_fsyn_net_util = m_fsyn_api->peek_fsyn_net_util();
    m_fsyn_expert = m_fsyn_api->get_fsyn_expert();
    MORV_ASSERT_TEXT(m_fsyn_expert, "m_fsyn_expert");

    m_table_timing_model = MORV_MAKE_OWNER(MORV_TABLE_TIMING_MODEL, m_fsyn_api, this);
    m_table_timing_model->initialize(m_fsyn_api->get_base_family_code(), m_fsyn_api->get_device_enum(),
                                     m_fsyn_api->has_name_pattern(), true, false);
    perturb_characteristic_delays();

    m_early_delay_scale = 1.0;
    m_timing_model_area_compensation = 1.0;
    // A family without a logic-element type counts none.
    if (m_fsyn_api->get_device_le_type() != CDB_MAXIMUM_WYSIWYG_TYPE_ENUM)
        m_initial_le_count = m_fsyn_api->get_used_le_count();
    compute_area_compensation();

    const bool changed = m_timing_mode != MORV_TIMING_MODE_TDC;
    m_default_timing_mode = MORV_TIMING_MODE_TDC;
    m_timing_mode = MORV_TIMING_MODE_TDC;
    log_mode(m_timing_mode);
    if (changed) m_mode_switched = true;
}

// The placer seed nudges the model's own interconnect rows by a picosecond
// up or down, so that two seeds explore two nearby timing landscapes; the
// process-wide tables are never touched.
void MORV_TIMING::perturb_characteristic_delays()
{
    const int seed = m_fsyn_api->get_placer_seed();
    const bool use_seed = cfg_is_on("fsyn_use_seed", true);
    MORV_DEBUG_STREAM::print(1, use_seed ? "FSYN timing is using the placer seed."
                                         : "FSYN timing is NOT using the placer seed.");
    if (is_in_migration_chain()) {
        MORV_DEBUG_STREAM::print(1, "Disabling placer seed because in a Obran/RZK/DWX migration chain.");
        return;
    }
    if (!use_seed) return;
    if (seed == 1) {
        MORV_DEBUG_STREAM::print(1, "Seed is 1. No perturbation necessary.");
        return;
    }
    MORV_DEBUG_STREAM::print(1, "Seed is %d. Perturbing characteristic delays.", seed);
    uint64_t state = m_fsyn_api->get_random_state();
    MORV_TABLE_TIMING_MODEL& model = *m_table_timing_model;
    for (int row = 0; row < model.get_ic_timing_data_size(); ++row) {
        const int delay = model.get_ic_timing_data(row).m_delay_2;
        if (delay <= MIN_PERTURBED_DELAY) continue;
        state = state * MORV_TIMING_RANDOM_MULTIPLIER + 1;
        const uint64_t r = state % 5;
        if (r == 0) model.modify_ic_timing_data(row, delay + 1);
        else if (r == 1) model.modify_ic_timing_data(row, delay - 1);
    }
    m_fsyn_api->set_random_state(state);
}

// A migration target, or a migratable part of a family whose migrations
// keep the placer seed out of timing.
bool MORV_TIMING::is_in_migration_chain() const
{
    if (m_fsyn_api->has_migration_target_device()) return true;
    int count = 0;
    const MORV_FAMILY_TRAITS* families = morv_family_traits_table(&count);
    for (int i = 0; i < count; ++i)
        if (families[i].m_timing.m_migration_fixes_seed &&
            m_fsyn_api->has_migratable_part_of_family(families[i].m_base_family))
            return true;
    return false;
}

void MORV_TIMING::log_mode(int mode) const
{
    switch (mode) {
    case MORV_TIMING_MODE_TDC: MORV_DEBUG_STREAM::print(2, "MORV timing is using TDC for timing analysis"); break;
    case MORV_TIMING_MODE_NEVRA: MORV_DEBUG_STREAM::print(2, "MORV timing is using NEVRA for timing analysis"); break;
    case MORV_TIMING_MODE_DEFAULT:
        MORV_DEBUG_STREAM::print(2, "MORV timing is using an undefined default mode for timing analysis");
        break;
    default: MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    }
}

void MORV_TIMING::select_timing_mode(e_fsyn_flow flow)
{
    MORV_ASSERT_TEXT(m_nevra == nullptr, "m_nevra == NULL");
    end_timing_snapshot();
    m_estimate_current = false;
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "morv_env");
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    const bool estimate = flow == MORV_ENV::where_does_early_fsyn_run(env->get_cmp()) && m_fsyn_expert != nullptr &&
                          m_fsyn_expert->enable_nevra() && accessories != nullptr &&
                          accessories->is_estimation_supported();
    if (estimate) {
        // The design reads the delays in the early analysis only; the
        // estimator stands in for the early model here, so it times with
        // the delays the early model would read.
        read_backannotated_delays_when_asked();
        m_nevra = MORV_MAKE_OWNER(NEVRA, m_table_timing_model.get());
        m_nevra->initialize_and_sync_to_netlist(m_fsyn_api->get_atom_netlist(), accessories->get_tdb_netlist(), 0);
    }
    m_mode_switched = false;
    const int before = m_timing_mode;
    m_default_timing_mode = estimate ? MORV_TIMING_MODE_NEVRA : MORV_TIMING_MODE_TDC;
    m_timing_mode = m_default_timing_mode;
    log_mode(m_timing_mode);
    if (m_timing_mode != before) m_mode_switched = true;
}

// The estimator keys its offsets by term, and the restored netlist is made
// of new terms: an offset kept would time nothing it was meant for, or a
// new register that happens to take a freed term's place.
void MORV_TIMING::note_netlist_restored()
{
    ++m_netlist_restores;
    m_estimate_current = false;
    if (m_nevra != nullptr) m_nevra->clear_all_clock_offsets();
    mark_refresh_pending();
}

void MORV_TIMING::switch_to_tdc_mode(bool rebuild)
{
    leave_timing_snapshot();
    m_estimate_current = false;
    m_nevra.reset();
    const int before = m_timing_mode;
    m_default_timing_mode = MORV_TIMING_MODE_TDC;
    m_timing_mode = MORV_TIMING_MODE_TDC;
    log_mode(m_timing_mode);
    if (m_timing_mode == before) return;
    m_mode_switched = true;
    if (!rebuild) return;
    MORV_DEBUG_STREAM::print(1, "Switching back to TDC mode - doing full rebuild of TDB netlist");
    sync_timing_netlist(false, true);
    if (cfg_is_on("fsyn_do_last_timing_analysis_on_mode_switch", false) && m_tdc_utility != nullptr)
        perform_early_timing_analysis(false, false);
}

bool MORV_TIMING::set_timing_mode(int mode)
{
    if (mode != MORV_TIMING_MODE_DEFAULT && mode != MORV_TIMING_MODE_TDC && mode != MORV_TIMING_MODE_NEVRA)
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    const int wanted = mode == MORV_TIMING_MODE_DEFAULT ? m_default_timing_mode : mode;
    log_mode(wanted);
    const bool changed = wanted != m_timing_mode;
    // The estimator's graph must describe the restored netlist before
    // another engine takes over from the snapshot.
    if (changed) {
        end_timing_snapshot();
        m_estimate_current = false;
        m_mode_switched = true;
    }
    m_timing_mode = wanted;
    return changed;
}

void MORV_TIMING::acquire_tdc_utility()
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "morv_env");
    env->build_timing_netlist(this, true, false, false, true, true, true);
    MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
}

void MORV_TIMING::rebuild_tdc_utility()
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "morv_env");
    env->reset_timing_netlist();
    acquire_tdc_utility();
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    if (accessories != nullptr && accessories->get_tdb_netlist() != nullptr) perform_timing_analysis();
    m_itest_is_current = false;
}

void MORV_TIMING::request_full_update()
{
    m_mode_switched = true;
    m_refresh_pending = true;
    m_itest_is_current = false;
    m_itest_annotated = false;
}

bool MORV_TIMING::is_pre_placement() const
{
    return m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running_pre_placement_fsyn();
}
