// Placement-based delay adjustment: in the LATE flow the host's placement
// and timing call is expensive, so between real calls every connection's
// delay is estimated from the current placement, corrected by what the
// last real analysis taught about the estimate, and analysed (the virtual
// analysis).

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "gen/gen.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_internal.h"

namespace {

// Where an atom sits: LAB x, y and sub-location, all -1 when unplaced (or
// when there is no atom).
struct PLACE
{
    int x = -1;
    int y = -1;
    int sub = -1;
};

PLACE place_of(const MORV_CHIP_MAP* chip_map, const CDB_ATOM_NODE* node)
{
    PLACE place;
    MORV_LOC location;
    if (chip_map != nullptr && node != nullptr &&
        chip_map->get_node_location(static_cast<int>(node->get_id()), &location)) {
        place.x = location.x;
        place.y = location.y;
        place.sub = location.sub_loc;
    }
    return place;
}

// A register and the combinational cell of the same logic element meet
// inside it: no routing between them.
bool is_cell_register_pair(const CDB_ATOM_NODE* driver, const CDB_ATOM_NODE* sink)
{
    return (driver->is_lcell_ff() && sink->is_lcell_comb()) || (driver->is_lcell_comb() && sink->is_lcell_ff());
}

// The six identifying fields of a connection: sink, its port, driver, its
// port (driver fields 0 without a driver).
MORV_ADJUSTMENT_FACTOR connection_fields(CDB_ATOM_ITERM* iterm, int sink_id_or_type)
{
    MORV_ADJUSTMENT_FACTOR fields;
    fields.m_sink_id_or_type = sink_id_or_type;
    fields.m_sink_port_usage = iterm->get_any_usage_as();
    fields.m_sink_port_index = iterm->get_port_index();
    const CDB_ATOM_OTERM* driver = iterm->get_source();
    if (driver != nullptr && driver->get_my_node() != nullptr) {
        fields.m_driver_id = static_cast<int32_t>(driver->get_my_node()->get_id());
        fields.m_driver_port_usage = driver->get_any_usage_as();
        fields.m_driver_port_index = driver->get_port_index();
    }
    return fields;
}

bool same_connection(const MORV_ADJUSTMENT_FACTOR& a, const MORV_ADJUSTMENT_FACTOR& b)
{
    return a.m_sink_id_or_type == b.m_sink_id_or_type && a.m_sink_port_usage == b.m_sink_port_usage &&
           a.m_sink_port_index == b.m_sink_port_index && a.m_driver_id == b.m_driver_id &&
           a.m_driver_port_usage == b.m_driver_port_usage && a.m_driver_port_index == b.m_driver_port_index;
}

bool same_sink_port(const MORV_ADJUSTMENT_FACTOR& a, const MORV_ADJUSTMENT_FACTOR& b)
{
    return a.m_sink_id_or_type == b.m_sink_id_or_type && a.m_sink_port_usage == b.m_sink_port_usage &&
           a.m_sink_port_index == b.m_sink_port_index;
}

}  // namespace

// ------------------------------------------------------------------ keys

// In 64 bits, so that no atom id overflows the key; never negative, so that
// no connection meets a class key.
int64_t MORV_TIMING::get_adjustment_connection_key(int64_t sink_id, int port_index, int port_usage)
{
    return (sink_id << 12) + port_index + static_cast<int64_t>(port_usage) * 41;
}

// The class of a connection: its sink's kind and port, the sink's carry or
// extended mode, the driver's kind and port, and whether both ends share a
// LAB. Always negative.
int64_t MORV_TIMING::get_adjustment_class_key(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* sink = iterm->get_my_node();
    MORV_ASSERT_TEXT(sink, "node");
    uint32_t mode = 0;
    if (sink->is_lcell_comb() && m_fsyn_net_util != nullptr) {
        if (m_fsyn_net_util->is_lcell_part_of_a_carry_chain(sink)) mode = 2;
        else if (m_fsyn_net_util->is_in_extended_mode(sink)) mode = 1;
    }
    uint32_t k = static_cast<uint32_t>(iterm->get_port_index()) * 3u +
                 static_cast<uint32_t>(iterm->get_any_usage_as()) * 121u + mode +
                 static_cast<uint32_t>(sink->get_atom_type()) * 10001u;
    const CDB_ATOM_OTERM* driver = iterm->get_source();
    const CDB_ATOM_NODE* driver_node = driver != nullptr ? driver->get_my_node() : nullptr;
    if (driver_node != nullptr)
        k = k * 10001u + (static_cast<uint32_t>(driver->get_port_index()) +
                          static_cast<uint32_t>(driver_node->get_atom_type()) * 273u +
                          static_cast<uint32_t>(driver->get_any_usage_as()) * 27u) *
                             3u;
    const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    const PLACE a = place_of(chip_map, sink);
    const PLACE b = place_of(chip_map, driver_node);
    const bool same_lab = a.x == b.x && a.y == b.y;
    return ~static_cast<int64_t>(k) - (same_lab ? 1 : 0);
}

// ------------------------------------------------------------------ placement delays

void MORV_TIMING::compute_placement_delays()
{
    GEN_PROFILER profile("compute_placement_delays");
    m_backannotated_delays.clear();
    // Without a delay model for the part the early estimates stand.
    const PLDM* pldm = m_fsyn_api->get_pldm();
    if (pldm == nullptr) return;
    const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (node->is_mac_out()) continue;
        const PLACE sink = place_of(chip_map, node);
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            CDB_ATOM_OTERM* driver = iterm != nullptr ? iterm->get_source() : nullptr;
            if (driver == nullptr || driver->get_my_node() == nullptr || iterm->is_global()) continue;
            const CDB_ATOM_NODE* driver_node = driver->get_my_node();
            if (driver_node->is_clkbuf()) continue;
            const PLACE source = place_of(chip_map, driver_node);
            int delay = pldm->get_point_to_point_delay(sink.x, sink.y, source.x, source.y);
            if (is_cell_register_pair(driver_node, node) && sink.x == source.x && sink.y == source.y) {
                if (sink.sub < 0 || source.sub < 0) {
                    if (driver->get_number_of_fanout() == 1) delay = 0;
                } else if (sink.sub == source.sub) {
                    delay = 0;
                }
            }
            m_backannotated_delays[iterm] = MORV_TIMING_ITERM_BA_DELAY{driver, delay};
        }
    }
}

// ------------------------------------------------------------------ adjustment factors

MORV_ADJUSTMENT_TABLE::const_iterator& MORV_ADJUSTMENT_TABLE::const_iterator::operator++()
{
    const LIST& classes = m_table->m_classes;
    const LIST& connections = m_table->m_connections;
    ++m_at;
    if (!classes.empty() && m_at == classes.data() + classes.size())
        m_at = connections.empty() ? nullptr : connections.data();
    else if (!connections.empty() && m_at == connections.data() + connections.size()) m_at = nullptr;
    return *this;
}

MORV_ADJUSTMENT_TABLE::const_iterator MORV_ADJUSTMENT_TABLE::begin() const
{
    if (!m_classes.empty()) return const_iterator(this, m_classes.data());
    return const_iterator(this, m_connections.empty() ? nullptr : m_connections.data());
}

MORV_ADJUSTMENT_TABLE::const_iterator MORV_ADJUSTMENT_TABLE::find(int64_t key) const
{
    const LIST& list = key < 0 ? m_classes : m_connections;
    const auto found =
        std::lower_bound(list.begin(), list.end(), key, [](const ENTRY& entry, int64_t k) { return entry.first < k; });
    return found != list.end() && found->first == key ? const_iterator(this, &*found) : end();
}

void MORV_ADJUSTMENT_TABLE::assign(LIST&& classes, LIST&& connections)
{
    m_classes = std::move(classes);
    m_connections = std::move(connections);
}

void MORV_TIMING::learn_adjustment_factor(CDB_ATOM_ITERM* iterm, int64_t diff, ADJUSTMENT_FACTORS::LIST& connections,
                                          std::map<int64_t, MORV_ADJUSTMENT_FACTOR>& classes) const
{
    const CDB_ATOM_NODE* sink = iterm->get_my_node();
    MORV_ADJUSTMENT_FACTOR own = connection_fields(iterm, static_cast<int32_t>(sink->get_id()));
    own.m_sum = diff;
    own.m_count = 1;
    // Every key has its place already; a connection learned twice keeps
    // the later correction.
    const int64_t key = get_adjustment_connection_key(sink->get_id(), own.m_sink_port_index, own.m_sink_port_usage);
    const auto slot = std::lower_bound(connections.begin(), connections.end(), key,
                                       [](const auto& entry, int64_t k) { return entry.first < k; });
    MORV_ASSERT(slot != connections.end() && slot->first == key);
    slot->second = own;

    MORV_ADJUSTMENT_FACTOR kind = connection_fields(iterm, sink->get_atom_type());
    auto [found, added] = classes.try_emplace(get_adjustment_class_key(iterm), kind);
    MORV_ADJUSTMENT_FACTOR& entry = found->second;
    // A class entry goes on learning only from connections of its first driver.
    if (added || (same_sink_port(entry, kind) && entry.m_driver_id == kind.m_driver_id)) {
        entry.m_sum += diff;
        ++entry.m_count;
    }
}

// The keys of the connections come first, so that the table is made in
// one block of the size it keeps.
void MORV_TIMING::create_adjustment_factors()
{
    GEN_PROFILER profile("create_adjustment_factors");
    compute_placement_delays();
    std::vector<TDB_EDGE*>& edges =
        tdb_edges("tdb_netlist != NULL", "tdb_vec_of_edges != NULL", MORV_TIMING_RECREATING_EDGES);
    auto learns = [](const TDB_EDGE* edge) {
        return edge != nullptr && edge->is_for_tdc() && edge->get_iterm()->get_source() != nullptr;
    };
    std::vector<int64_t> keys;
    for (const TDB_EDGE* edge : edges) {
        if (!learns(edge)) continue;
        const CDB_ATOM_ITERM* iterm = edge->get_iterm();
        keys.push_back(get_adjustment_connection_key(iterm->get_my_node()->get_id(), iterm->get_port_index(),
                                                     iterm->get_any_usage_as()));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    ADJUSTMENT_FACTORS::LIST connections;
    connections.reserve(keys.size());
    for (int64_t key : keys) connections.emplace_back(key, MORV_ADJUSTMENT_FACTOR{});
    std::vector<int64_t>().swap(keys);

    std::map<int64_t, MORV_ADJUSTMENT_FACTOR> classes;
    for (TDB_EDGE* edge : edges) {
        if (!learns(edge)) continue;
        CDB_ATOM_ITERM* iterm = edge->get_iterm();
        const int64_t actual = edge->get_delay()->get_delay(TDB_DELAY_IC, TDB_MAX, 2);
        learn_adjustment_factor(iterm, actual - get_early_delay(iterm), connections, classes);
    }
    // A snapshot's table stays as it was saved.
    if (m_adjustment_factors.use_count() > 1) m_adjustment_factors = make_adjustment_factors();
    m_adjustment_factors->assign(ADJUSTMENT_FACTORS::LIST(classes.begin(), classes.end()), std::move(connections));
}

void MORV_TIMING::clear_adjustment_factors()
{
    m_adjustment_factors = make_adjustment_factors();
    m_backannotated_delays.clear();
}

std::shared_ptr<MORV_TIMING::ADJUSTMENT_FACTORS> MORV_TIMING::make_adjustment_factors()
{
    return std::allocate_shared<ADJUSTMENT_FACTORS>(MORV_ALLOCATOR<ADJUSTMENT_FACTORS>());
}

void MORV_TIMING::save_adjustment_factors(int snapshot_id)
{
    m_saved_adjustment_factors[snapshot_id] = m_adjustment_factors;
}

bool MORV_TIMING::restore_adjustment_factors(int snapshot_id)
{
    const auto saved = m_saved_adjustment_factors.find(snapshot_id);
    if (saved == m_saved_adjustment_factors.end()) return false;
    m_adjustment_factors = saved->second;
    return true;
}

void MORV_TIMING::drop_saved_adjustment_factors(int snapshot_id)
{
    m_saved_adjustment_factors.erase(snapshot_id);
}

int MORV_TIMING::count_adjustment_factor_tables() const
{
    std::set<const ADJUSTMENT_FACTORS*> distinct{m_adjustment_factors.get()};
    for (const auto& entry : m_saved_adjustment_factors) distinct.insert(entry.second.get());
    return static_cast<int>(distinct.size());
}

// The connection's own correction when its ends are the ones it was learned
// on, else the mean correction of its class, else none.
int MORV_TIMING::apply_adjustment_factors(CDB_ATOM_ITERM* iterm, int delay) const
{
    const CDB_ATOM_NODE* sink = iterm->get_my_node();
    const MORV_ADJUSTMENT_FACTOR own = connection_fields(iterm, static_cast<int32_t>(sink->get_id()));
    const ADJUSTMENT_FACTORS& factors = *m_adjustment_factors;
    const auto found =
        factors.find(get_adjustment_connection_key(sink->get_id(), own.m_sink_port_index, own.m_sink_port_usage));
    if (found != factors.end() && same_connection(found->second, own))
        return morv_timing_clamp_to_int(delay + found->second.m_sum);
    const auto kind = factors.find(get_adjustment_class_key(iterm));
    const MORV_ADJUSTMENT_FACTOR fields = connection_fields(iterm, sink->get_atom_type());
    if (kind != factors.end() && kind->second.m_count > 0 && same_sink_port(kind->second, fields))
        return morv_timing_clamp_to_int(delay + kind->second.m_sum / kind->second.m_count);
    return delay;
}

void MORV_TIMING::perform_virtual_icp_timing_analysis()
{
    GEN_PROFILER profile("perform_virtual_icp_timing_analysis");
    compute_placement_delays();
    std::vector<TDB_EDGE*>& edges =
        tdb_edges("tdb_netlist != NULL", "tdb_vec_of_edges != NULL", MORV_TIMING_RECREATING_EDGES);
    for (TDB_EDGE* edge : edges) {
        if (edge == nullptr || !edge->is_for_tdc()) continue;
        CDB_ATOM_ITERM* iterm = edge->get_iterm();
        set_edge_ic_delay(edge, apply_adjustment_factors(iterm, get_early_delay(iterm)));
    }
    perform_timing_analysis();
}
