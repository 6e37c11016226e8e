// The early timing model: before placement the host's timing netlist has no
// real interconnect delays, so every connection gets an estimate from the
// table timing model, corrected for clock buffers, design growth and
// delays read back from an earlier compile, and the host analyses with
// those.

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/morv_scope_guard.h"
#include "morv/timing/morv_delay_file.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_internal.h"
#include "morv_bit_vector.h"

namespace {

// A perturbed delay moves by up to a tenth either way.
constexpr double PERTURB_SPAN = 0.2;
constexpr double PERTURB_HALF_SPAN = 0.1;

int truncate_to_int(double value)
{
    return static_cast<int>(std::trunc(value));
}

}  // namespace

// ------------------------------------------------------------------ the analyser's edges

std::vector<TDB_EDGE*>& MORV_TIMING::tdb_edges(const char* netlist_text, const char* edges_text,
                                               const char* recreating_text) const
{
    MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
    TDB_NETLIST* tdb_netlist = tdc_get_accessories()->get_tdb_netlist();
    MORV_ASSERT_TEXT(tdb_netlist != nullptr, netlist_text);
    std::vector<TDB_EDGE*>* edges = tdb_netlist->get_vec_of_edges();
    if (edges == nullptr) {
        MORV_DEBUG_STREAM::print(100, "%s", recreating_text);
        edges = tdb_netlist->create_vec_of_edges();
    }
    MORV_ASSERT_TEXT(edges != nullptr, edges_text);
    return *edges;
}

// An edge that has the delay already is left alone, so that the host's
// incremental analysis sees only real changes.
void MORV_TIMING::set_edge_ic_delay(TDB_EDGE* edge, int delay)
{
    if (delay == edge->get_max_ic_delay() && delay == edge->get_min_ic_delay()) return;
    edge->get_delay()->set_delay(TDB_DELAY_IC, delay, delay, delay, delay);
}

// ------------------------------------------------------------------ one connection

int MORV_TIMING::get_early_delay(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(m_table_timing_model, "m_table_timing_model");
    bool clock_buffer_source = false;
    const int table = m_table_timing_model->get_corrected_table_delay(iterm, &clock_buffer_source);
    const double scale = m_timing_model_area_compensation * m_early_delay_scale;
    // The clock network does not grow with the design: its delay is the
    // device's, whatever the scale.
    const double clock_buffer = clock_buffer_source ? get_early_clock_buffer_delay() : 0.0;
    const int delay = clock_buffer_source ? truncate_to_int(clock_buffer / scale) : table;
    if (delay > 0) {
        const int held = backannotated_delay_or(iterm, -1);
        if (held >= 0) return held;
    }
    if (clock_buffer_source) return truncate_to_int(clock_buffer);
    return truncate_to_int(delay * scale);
}

int MORV_TIMING::backannotated_delay_or(CDB_ATOM_ITERM* iterm, int estimate) const
{
    if (estimate == 0) return 0;
    const auto found = m_backannotated_delays.find(iterm);
    // An entry holds only while the connection keeps its driver.
    if (found != m_backannotated_delays.end() && found->second.m_driver == iterm->get_source())
        return found->second.m_delay;
    return estimate;
}

double MORV_TIMING::get_early_clock_buffer_delay()
{
    if (m_clkbuf_delay != MORV_TIMING_DELAY_NOT_COMPUTED) return m_clkbuf_delay;
    // The table model fetches the device's clock network once per run.
    MORV_ASSERT_TEXT(m_table_timing_model, "m_table_timing_model");
    m_clkbuf_delay = m_table_timing_model->get_clock_buffer_delay();
    MORV_ASSERT_TEXT(m_clkbuf_delay != MORV_TIMING_DELAY_NOT_COMPUTED, "m_clkbuf_delay != CDB_ILLEGAL_TSM_DELAY");
    return m_clkbuf_delay;
}

// Delays grow with the logic the netlist gains over its start. A device
// without logic elements, or a count that would make the compensation zero
// or negative, leaves the delays as they are.
void MORV_TIMING::compute_area_compensation()
{
    double compensation = 1.0;
    if (cfg_is_on("fsyn_early_area_compensation", false) &&
        m_fsyn_api->get_device_le_type() != CDB_MAXIMUM_WYSIWYG_TYPE_ENUM) {
        const int device = m_fsyn_api->get_device_le_count();
        const double growth =
            device > 0 ? static_cast<double>(m_fsyn_api->get_used_le_count() - m_initial_le_count) / device + 1.0 : 1.0;
        if (growth > 0.0) compensation = std::pow(growth, 0.25);
        else MORV_DEBUG_STREAM::print(1, "early delay model: no area compensation for a growth of %f", growth);
    }
    m_timing_model_area_compensation = compensation;
    MORV_DEBUG_STREAM::print(100, "early delay model, area compensation: %f", m_timing_model_area_compensation);
}

// ------------------------------------------------------------------ the analysis

// A connection with a locked end is bounded by where that end may sit.
int MORV_TIMING::locked_location_delay(CDB_ATOM_ITERM* iterm, int delay, const MORV_BIT_VECTOR& locked)
{
    CDB_ATOM_OTERM* driver = iterm->get_source();
    if (driver == nullptr || driver->get_my_node() == nullptr) return delay;
    CDB_ATOM_NODE* ends[2] = {iterm->get_my_node(), driver->get_my_node()};
    auto is_locked = [&locked](CDB_ATOM_NODE* node) {
        return node->get_id() < locked.size() && locked.test(node->get_id());
    };
    if (!is_locked(ends[0]) && !is_locked(ends[1])) return delay;
    if (!morv_family_traits(m_fsyn_api->get_base_family_code()).m_placement_regions) return delay;
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    for (CDB_ATOM_NODE* node : ends) {
        int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
        if (m_fsyn_api->is_lcell_or_ff(node) && env->get_node_locked_region(node, &x1, &y1, &x2, &y2))
            return m_fsyn_api->get_point_to_point_delay(delay, iterm);
    }
    return delay;
}

void MORV_TIMING::perform_early_timing_analysis(bool perturb, bool use_locked_estimates)
{
    MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
    read_backannotated_delays_when_asked();
    std::vector<TDB_EDGE*>& edges =
        tdb_edges("tdb_netlist", "tdb_vec_of_edges != NULL", "Recreating the TDB_NETLIST vector of edges.");
    MORV_DEBUG_STREAM::print(100, "Early Timing Model Using t_pow=%f t_amp=%f t_passes=%d", 1.0, 0.0, 1);
    MORV_BIT_VECTOR locked;
    if (use_locked_estimates) m_fsyn_api->compute_locked_location_estimates(&locked);
    MORV_SCOPE_GUARD forget_estimates([this, use_locked_estimates] {
        if (use_locked_estimates) m_fsyn_api->clear_locked_location_estimates();
    });
    uint64_t state = m_fsyn_api->get_random_state();
    for (TDB_EDGE* edge : edges) {
        if (edge == nullptr || !edge->is_for_tdc()) continue;
        CDB_ATOM_ITERM* iterm = edge->get_iterm();
        int delay = get_early_delay(iterm);
        if (use_locked_estimates) delay = locked_location_delay(iterm, delay, locked);
        if (perturb) {
            state = state * MORV_TIMING_RANDOM_MULTIPLIER + 1;
            const double u = static_cast<double>(state) / 4294967296.0 / 4294967297.0;
            delay += truncate_to_int(u * PERTURB_SPAN * delay - PERTURB_HALF_SPAN * delay);
        }
        set_edge_ic_delay(edge, delay);
    }
    if (perturb) m_fsyn_api->set_random_state(state);
    if (m_use_itest) update_timing();
    else perform_timing_analysis();
    forget_estimates.run_now();
}

// ------------------------------------------------------------------ the delay file

void MORV_TIMING::match_delay_record(const MORV_DELAY_RECORD& record, int64_t max_atom_id,
                                     BACKANNOTATED_DELAYS& matched) const
{
    if (record.m_source_id > max_atom_id || record.m_dest_id > max_atom_id) return;
    CDB_ATOM_NODE* source = m_fsyn_api->get_node(record.m_source_id);
    CDB_ATOM_NODE* dest = m_fsyn_api->get_node(record.m_dest_id);
    if (source == nullptr || dest == nullptr) return;
    // Two connections between the same atoms keep their own delays: the
    // record names both terms.
    CDB_ATOM_ITERM* iterm = dest->get_input_term_by_type(record.m_dest_port, record.m_dest_index);
    if (iterm == nullptr) return;
    CDB_ATOM_OTERM* driver = iterm->get_source();
    if (driver == nullptr || driver->get_my_node() != source || driver->get_any_usage_as() != record.m_source_port ||
        driver->get_port_index() != record.m_source_index)
        return;
    matched[iterm] = MORV_TIMING_ITERM_BA_DELAY{driver, record.m_delay};
}

void MORV_TIMING::warn_delay_file(const std::string& path, int line, const std::string& reason) const
{
    const std::string where = line > 0 ? path + ", line " + std::to_string(line) : path;
    morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_MALFORMED_DELAY_FILE, where, reason));
}

void MORV_TIMING::read_backannotated_delays_when_asked()
{
    if (cfg_is_on("fsyn_read_backannotated_delays", false) && m_backannotated_delays.empty())
        read_backannotated_delays();
}

// The host routes a connection as one hop between the LABs of its ends, so
// the far corners of the grid bound every routed delay. A device that
// answers no routing delay at all bounds nothing.
int MORV_TIMING::longest_connection_delay() const
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    if (env == nullptr || env->get_grid_nx() < 1 || env->get_grid_ny() < 1) return INT32_MAX;
    const double seconds = std::max(env->get_routing_delay(0, 0, env->get_grid_nx() - 1, env->get_grid_ny() - 1),
                                    env->get_routing_delay(0, 0, 0, 0));
    const double ps = std::round(seconds * 1e12);
    return ps > 0 && ps < INT32_MAX ? static_cast<int>(ps) : INT32_MAX;
}

// The file is an earlier run's: a fault in it costs its delays, never the
// compile, and leaves the delays as they were. A delay no route of the
// device can take (a hand-edited file) is read as the longest there is:
// timing sums of larger ones overflow.
void MORV_TIMING::read_backannotated_delays()
{
    if (m_delay_file_read) return;
    m_delay_file_read = true;
    const std::string path = FIO_PATH(s_DELAY_FILE_NAME).fullpath();
    std::error_code ec;
    if (!std::filesystem::exists(s_DELAY_FILE_NAME, ec)) return;
    std::ifstream in;
    if (std::filesystem::is_regular_file(s_DELAY_FILE_NAME, ec)) in.open(s_DELAY_FILE_NAME, std::ios::binary);
    if (!in.is_open()) {
        warn_delay_file(path, 0, "not a readable file");
        return;
    }
    MORV_DEBUG_STREAM::print(2, "Reading backannotated delays from file <%s>", s_DELAY_FILE_NAME);
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    const int64_t max_atom_id = env != nullptr ? env->get_max_atom_id() : -1;
    BACKANNOTATED_DELAYS matched;
    int read = 0;
    const int longest = longest_connection_delay();
    int bounded = 0;
    MORV_DELAY_RECORD first_bounded;
    MORV_DELAY_FILE_FAULT fault;
    const bool ok = morv_read_delay_records(
        in,
        [&](MORV_DELAY_RECORD record) {
            ++read;
            if (record.m_delay > longest) {
                if (bounded++ == 0) first_bounded = record;
                record.m_delay = longest;
            }
            match_delay_record(record, max_atom_id, matched);
        },
        &fault);
    if (!ok) {
        warn_delay_file(path, fault.m_line, fault.m_reason);
        return;
    }
    if (bounded > 0) {
        const std::string more = bounded == 1 ? std::string()
                                 : bounded == 2
                                     ? std::string(" (and so is one more delay of the file)")
                                     : " (and so are " + std::to_string(bounded - 1) + " more delays of the file)";
        morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_DELAY_FILE_DELAY_BOUNDED,
                                   path + ", line " + std::to_string(first_bounded.m_line), first_bounded.m_delay,
                                   longest, more));
    }
    for (const auto& [iterm, delay] : matched) m_backannotated_delays[iterm] = delay;
    const int count = static_cast<int>(matched.size());
    MORV_DEBUG_STREAM::print(2, "Read <%d> delays", read);
    MORV_DEBUG_STREAM::print(2, "Matched <%d> delays ( %.2f %% )", count, read > 0 ? 100.0 * count / read : 0.0);
}
