#include "morv/timing/morv_table_timing_model.h"

#include <algorithm>
#include <iterator>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_internal.h"

namespace {

// Sink atom types that a clock buffer reaches over the global network.
const int CLOCK_BUFFER_SINK_TYPES[] = {0, 1, 10, 13, 14, 15, 243, 244, 249, 257, 258, 261, 262, 263};

bool is_clock_buffer_sink(int atom_type)
{
    return std::find(std::begin(CLOCK_BUFFER_SINK_TYPES), std::end(CLOCK_BUFFER_SINK_TYPES), atom_type) !=
           std::end(CLOCK_BUFFER_SINK_TYPES);
}

bool is_clock_port(int port)
{
    return port == DB_CLOCK || port == DB_RAM_CLK0 || port == DB_RAM_CLK1;
}

// The host's boundary-port atom is the node itself; the stand-in has no
// class of its own for it.
CDB_ATOM_BOUNDARY_PORT* as_boundary_port(CDB_ATOM_NODE* node)
{
    return reinterpret_cast<CDB_ATOM_BOUNDARY_PORT*>(node);
}

}  // namespace

MORV_TABLE_TIMING_MODEL::MORV_TABLE_TIMING_MODEL(MORV_API* api, const MORV_TIMING* timing)
    : m_api(api), m_timing(timing), m_clkbuf_delay(MORV_TIMING_DELAY_NOT_COMPUTED), m_duvo_fitter_delay_info(nullptr)
{
    MORV_ASSERT(m_api);
    MORV_ASSERT(m_timing);
}

MORV_TABLE_TIMING_MODEL::~MORV_TABLE_TIMING_MODEL() = default;

int MORV_TABLE_TIMING_MODEL::table_delay(int src_type, int src_port, int dst_type, int dst_port) const
{
    return get_ic_delay(CSU_IC_TIMING_ELEMENT{src_type, src_port, dst_type, dst_port, 0, 0}).m_delay_2;
}

int MORV_TABLE_TIMING_MODEL::get_ic_delay(CDB_ATOM_ITERM* iterm)
{
    bool clock_buffer_source = false;
    const int delay = get_corrected_table_delay(iterm, &clock_buffer_source);
    return m_timing->backannotated_delay_or(iterm,
                                            clock_buffer_source ? static_cast<int>(get_clock_buffer_delay()) : delay);
}

int MORV_TABLE_TIMING_MODEL::get_corrected_table_delay(CDB_ATOM_ITERM* iterm, bool* clock_buffer_source)
{
    *clock_buffer_source = false;
    if (iterm == nullptr || iterm->get_my_node() == nullptr) return 0;
    CDB_ATOM_OTERM* driver = iterm->get_source();
    if (driver == nullptr || driver->get_my_node() == nullptr) return 0;
    CDB_ATOM_NODE* src_node = driver->get_my_node();
    int src_type = src_node->get_atom_type();
    int src_port = driver->get_any_usage_as();
    const int dst_type = iterm->get_my_node()->get_atom_type();
    const int dst_port = iterm->get_any_usage_as();
    if (dst_type == CDB_ATOM_BOUNDARY_PORT_ENUM || dst_type == CDB_ATOM_BLACKBOX_ENUM) return 0;

    const bool replaced = src_type == CDB_ATOM_BOUNDARY_PORT_ENUM || src_type == CDB_ATOM_BLACKBOX_ENUM;
    if (replaced) {
        MORV_ENV* env = m_api->get_morv_env();
        MORV_ASSERT_TEXT(env, "env");
        if (src_type == CDB_ATOM_BOUNDARY_PORT_ENUM)
            env->get_boundary_port_source(as_boundary_port(src_node), &src_type, &src_port);
        else env->get_blackbox_source(driver, &src_type, &src_port);
    }

    const MORV_EXPERT* expert = m_api->get_fsyn_expert();
    int delay = 0;
    if (!replaced && expert != nullptr && expert->is_fsyn_running(POST_CLUSTERING_FSYN_FLOW)) {
        const MORV_CLUSTER_MAP* clusters = m_api->get_fsyn_cluster_map();
        const bool same_cluster = clusters != nullptr && clusters->are_in_same_cluster(src_node, iterm->get_my_node());
        delay = same_cluster ? 0 : table_delay(src_type, src_port, dst_type, dst_port);
    } else {
        if (is_clock_port(dst_port) && expert != nullptr && expert->is_fsyn_running(SYN_EARLY_FSYN_FLOW)) {
            // The clock buffers are not placed yet: the family's own times the port.
            const int clock_source = morv_family_traits(m_api->get_base_family_code()).m_timing.m_syn_early_clock_type;
            if (clock_source >= 0) {
                src_type = clock_source;
                src_port = DB_CLKBUF_OUT;
            }
        }
        delay = table_delay(src_type, src_port, dst_type, dst_port);
        if (replaced) return delay;
    }
    *clock_buffer_source = src_node->is_clkbuf() && is_clock_buffer_sink(dst_type);
    return delay;
}

double MORV_TABLE_TIMING_MODEL::get_clock_buffer_delay()
{
    if (m_clkbuf_delay != MORV_TIMING_DELAY_NOT_COMPUTED) return m_clkbuf_delay;
    if (m_duvo_fitter_delay_info == nullptr) {
        DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
        MORV_ASSERT_TEXT(device, "current_device");
        m_duvo_fitter_delay_info = device->get_die_info()->get_duvo_die_info()->get_fitter_delay_info();
        MORV_ASSERT_TEXT(m_duvo_fitter_delay_info->load_data(false), "m_duvo_fitter_delay_info->load_data()");
    }
    m_duvo_fitter_delay_info->load_delay_query_data(false);
    const DUVO_DELAY path = m_duvo_fitter_delay_info->get_cached_path_delay(0);
    m_duvo_fitter_delay_info->free_delay_query_data();
    const float seconds = (path.first + path.second) * 0.5f;
    m_clkbuf_delay = static_cast<double>(seconds) * 1e12;
    MORV_ASSERT_TEXT(m_clkbuf_delay != MORV_TIMING_DELAY_NOT_COMPUTED, "m_clkbuf_delay != CDB_ILLEGAL_TSM_DELAY");
    return m_clkbuf_delay;
}
