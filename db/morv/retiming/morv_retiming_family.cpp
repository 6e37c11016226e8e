// The family classes of classic retiming: their constants, pass schedules
// and, on the 6-LUT branch, the inverter and buffer cells in the family's
// LUT-mask bit order.
#include "morv/retiming/morv_retiming_family.h"

#include <cstdlib>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "dev/dev_device.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr float k_DEFAULT_ROTATION_FACTOR = 4.0f;
constexpr double k_DEFAULT_TRADE = 50.0;
constexpr double k_DEFAULT_SLACK_RATIO_THRESHOLD = 0.125;
constexpr double k_UVO_SLACK_RATIO_THRESHOLD = 0.21;
constexpr double k_LATE_PASS_SLACK_RATIO_THRESHOLD = 0.05;
constexpr int k_FIRST_LATE_PASS = 2;
constexpr int k_ITERS_FIRST_FORWARD_PASS = 48;
constexpr int k_ITERS = 16;
constexpr int k_HILL_CLIMB_ITERS_EARLY = 8;
constexpr int k_HILL_CLIMB_ITERS_LATE = 2;

// Alternating bits: the output of a one-input cell that follows DB_DATA_A
// (or its inversion), in one of the two bit orders.
constexpr uint64_t k_ODD_BITS = 0xaaaaaaaaaaaaaaaaULL;
constexpr uint64_t k_EVEN_BITS = 0x5555555555555555ULL;

MORV_RETIMING_FAMILY_CONSTANTS read_family_constants(int rotation_delay, const MORV_PARAMETER_MAP* params)
{
    MORV_RETIMING_FAMILY_CONSTANTS constants;
    const std::string rf = params != nullptr
                               ? MORV_ALGORITHM_BASE::get_algorithm_param(*params, MORV_RTM_PARAM_ROTATION_FACTOR)
                               : std::string();
    constants.rotation_factor = rf.empty() ? k_DEFAULT_ROTATION_FACTOR : static_cast<float>(std::atof(rf.c_str()));
    constants.rotation_delay = rotation_delay;
    MORV_DEBUG_STREAM::print(2, "lut rotation delay: %d ps", constants.rotation_delay);
    constants.max_critical_slack =
        morv_retiming_max_critical_slack(constants.rotation_delay, constants.rotation_factor);
    MORV_DEBUG_STREAM::print(2, "max critical slack: %d ps", constants.max_critical_slack);
    const std::string trade =
        params != nullptr ? MORV_ALGORITHM_BASE::get_algorithm_param(*params, MORV_RTM_PARAM_TRADE) : std::string();
    constants.trade = trade.empty() ? k_DEFAULT_TRADE : std::atof(trade.c_str());
    MORV_DEBUG_STREAM::print(2, "RTM avg vs min slack threshold: %f", constants.trade);
    return constants;
}

void log_creation(const char* family)
{
    MORV_DEBUG_STREAM::print(2, "creating fsyn_retiming_%s", family);
}

void log_destruction(const char* family)
{
    MORV_DEBUG_STREAM::print(100, "destroying fsyn_retiming_%s", family);
}

}  // namespace

int morv_retiming_max_critical_slack(int rotation_delay_ps, float rotation_factor)
{
    return static_cast<int>(static_cast<float>(rotation_delay_ps) * rotation_factor);
}

int morv_retiming_lut_rotation_delay(const MORV_TIMING* timing, int cell_kind, int last_port)
{
    if (timing == nullptr) return 0;
    const int slowest = timing->get_internal_delay(cell_kind, DB_DATA_A, DB_COMB_OUT);
    const int fastest = timing->get_internal_delay(cell_kind, last_port, DB_COMB_OUT);
    // A delay the model does not have is a marker, not a number to subtract.
    if (slowest == CDB_ILLEGAL_TSM_DELAY || fastest == CDB_ILLEGAL_TSM_DELAY) return 0;
    return slowest - fastest;
}

void morv_retiming_pass_defaults(MORV_RETIMING_SCHEDULE schedule, int pass, MORV_RETIMING_PASS_DEFAULTS& values)
{
    values.backwards = pass % 2 == 0;
    if (schedule == MORV_RETIMING_SCHEDULE_B && pass >= k_FIRST_LATE_PASS)
        values.slack_ratio_threshold = k_LATE_PASS_SLACK_RATIO_THRESHOLD;
    else if (values.slack_ratio_threshold == MORV_ALGORITHM_BASE::s_UNSET_DOUBLE)
        values.slack_ratio_threshold = k_DEFAULT_SLACK_RATIO_THRESHOLD;
    if (values.num_iters == MORV_ALGORITHM_BASE::s_UNSET_INT)
        values.num_iters = pass == 1 ? k_ITERS_FIRST_FORWARD_PASS : k_ITERS;
    if (values.hill_climb_iters == MORV_ALGORITHM_BASE::s_UNSET_INT)
        values.hill_climb_iters = pass < k_FIRST_LATE_PASS ? k_HILL_CLIMB_ITERS_EARLY : k_HILL_CLIMB_ITERS_LATE;
}

void morv_retiming_apply_pass_defaults(MORV_RETIMING_SCHEDULE schedule, int pass, bool& backwards,
                                       double& slack_ratio_threshold, int& num_iters, int& hill_climb_iters)
{
    MORV_RETIMING_PASS_DEFAULTS values{backwards, slack_ratio_threshold, num_iters, hill_climb_iters};
    morv_retiming_pass_defaults(schedule, pass, values);
    backwards = values.backwards;
    slack_ratio_threshold = values.slack_ratio_threshold;
    num_iters = values.num_iters;
    hill_climb_iters = values.hill_climb_iters;
}

// ---------------------------------------------------------------- 4-LUT families

MORV_RETIMING_4LUT_FAMILY::MORV_RETIMING_4LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params,
                                                     const char* family)
    : MORV_RETIMING_4LUT(api, params), m_family(family)
{
    log_creation(m_family);
    m_constants = read_family_constants(
        morv_retiming_lut_rotation_delay(m_fsyn_timing, MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_D), params);
    m_max_critical_slack = m_constants.max_critical_slack;
    m_trade = m_constants.trade;
}

MORV_RETIMING_4LUT_FAMILY::~MORV_RETIMING_4LUT_FAMILY()
{
    log_destruction(m_family);
}

void MORV_RETIMING_4LUT_FAMILY::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    morv_retiming_apply_pass_defaults(MORV_RETIMING_SCHEDULE_B, pass, m_retime_backwards, m_slack_ratio_threshold,
                                      num_iters, hill_climb_iters);
}

MORV_RETIMING_ZEPLA::MORV_RETIMING_ZEPLA(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_4LUT_FAMILY(api, params, "zepla")
{}

CDB_ATOM_NODE* MORV_RETIMING_ZEPLA::create_lcell_comb(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_zepla(segment, name);
}

MORV_RETIMING_TEV::MORV_RETIMING_TEV(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_4LUT_FAMILY(api, params, "tev")
{}

CDB_ATOM_NODE* MORV_RETIMING_TEV::create_lcell_comb(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_sorvexii(segment, name);
}

// ---------------------------------------------------------------- 6-LUT families

MORV_RETIMING_6LUT_FAMILY::MORV_RETIMING_6LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params,
                                                     const char* family, bool timed_rotation)
    : MORV_RETIMING_6LUT(api, params), m_family(family),
      m_mask_bits_reversed(morv_family_traits(api->get_base_family_code()).m_mask_bits_reversed)
{
    log_creation(m_family);
    m_constants = read_family_constants(morv_retiming_lut_rotation_delay(timed_rotation ? m_fsyn_timing : nullptr,
                                                                         MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F),
                                        params);
    m_max_critical_slack = m_constants.max_critical_slack;
    m_trade = m_constants.trade;
}

MORV_RETIMING_6LUT_FAMILY::~MORV_RETIMING_6LUT_FAMILY()
{
    log_destruction(m_family);
}

void MORV_RETIMING_6LUT_FAMILY::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    morv_retiming_apply_pass_defaults(MORV_RETIMING_SCHEDULE_A, pass, m_retime_backwards, m_slack_ratio_threshold,
                                      num_iters, hill_climb_iters);
}

uint64_t MORV_RETIMING_6LUT_FAMILY::get_inverter_mask() const
{
    return m_mask_bits_reversed ? k_ODD_BITS : k_EVEN_BITS;
}

uint64_t MORV_RETIMING_6LUT_FAMILY::get_buffer_mask() const
{
    return m_mask_bits_reversed ? k_EVEN_BITS : k_ODD_BITS;
}

bool MORV_RETIMING_6LUT_FAMILY::is_inverter_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb() && inverts_its_source(node);
}

void MORV_RETIMING_6LUT_FAMILY::insert_wire_cell(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, uint64_t mask)
{
    HDB_INSTANCE_NAME* base_name = base_node->get_instance_name();
    MORV_ASSERT_TEXT(base_name, "base_name");
    CDB_ATOM_NODE* cell = create_family_lcell_comb(m_net_util->make_unique_instance_name(base_name, "_RTM0"));
    wire_cell_in_front_of(iterm, base_node, cell, CDB_LUTMASK(6, mask));
}

void MORV_RETIMING_6LUT_FAMILY::insert_inverter_lcell(CDB_ATOM_ITERM* iterm)
{
    if (flip_tied_term(iterm)) return;
    MORV_DEBUG_STREAM::print(100, "insert_inverter_lcell (): %s", MORV_NET_UTIL::get_edge_name(iterm).c_str());
    insert_wire_cell(iterm, inverter_base_node(iterm, &CDB_ATOM_NODE::is_lcell_comb), get_inverter_mask());
}

void MORV_RETIMING_6LUT_FAMILY::insert_buffer_lcell(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_DEBUG_STREAM::print(100, "insert_buffer_lcell (): %s", MORV_NET_UTIL::get_edge_name(iterm).c_str());
    insert_wire_cell(iterm, iterm->get_my_node(), get_buffer_mask());
}

MORV_RETIMING_BRK::MORV_RETIMING_BRK(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_6LUT_FAMILY(api, params, "brk")
{}

CDB_ATOM_NODE* MORV_RETIMING_BRK::create_family_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_brk(nullptr, name);
}

MORV_RETIMING_KESTLIN::MORV_RETIMING_KESTLIN(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_6LUT_FAMILY(api, params, "kestlin")
{}

// KESTLIN's logic cells are RZK cells.
CDB_ATOM_NODE* MORV_RETIMING_KESTLIN::create_family_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_rzk(nullptr, name);
}

MORV_RETIMING_RZK::MORV_RETIMING_RZK(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_6LUT_FAMILY(api, params, "rzk")
{}

CDB_ATOM_NODE* MORV_RETIMING_RZK::create_family_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_rzk(nullptr, name);
}

MORV_RETIMING_OBRAN::MORV_RETIMING_OBRAN(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_RETIMING_6LUT_FAMILY(api, params, "obran")
{}

CDB_ATOM_NODE* MORV_RETIMING_OBRAN::create_family_lcell_comb(HDB_INSTANCE_NAME* name)
{
    return m_cdb_interface->create_lcell_comb_obran(nullptr, name);
}

// ---------------------------------------------------------------- UVO

namespace {

// The LUT cell's node class in the device's delay model.
constexpr int k_UVO_LUT_NODE_CLASS = 3;

// Read from the device itself: the UVO cell has no entry in the timing
// layer's cell kinds.
int uvo_rotation_delay()
{
    DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    if (device == nullptr) return 0;
    const DTM_TIMING_INFO* info = device->get_timing_info();
    const int slowest = info->get_p2p_node_delay(DB_DATA_A, DB_COMB_OUT, 0, k_UVO_LUT_NODE_CLASS);
    const int fastest = info->get_p2p_node_delay(DB_DATA_D, DB_COMB_OUT, 0, k_UVO_LUT_NODE_CLASS);
    if (slowest == CDB_ILLEGAL_TSM_DELAY || fastest == CDB_ILLEGAL_TSM_DELAY) return 0;
    return slowest - fastest;
}

}  // namespace

MORV_RETIMING_UVO::MORV_RETIMING_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RETIMING(api, params)
{
    // Packing, unpacking and the mode bits have no change-log record.
    MORV_ASSERT_TEXT(!is_logging(), "!is_logging()");
    m_num_lut_inputs = 4;
    log_creation("uvo");
    m_constants = read_family_constants(uvo_rotation_delay(), params);
    m_max_critical_slack = m_constants.max_critical_slack;
    m_trade = m_constants.trade;
}

MORV_RETIMING_UVO::~MORV_RETIMING_UVO()
{
    log_destruction("uvo");
}

void MORV_RETIMING_UVO::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    if (m_slack_ratio_threshold == MORV_ALGORITHM_BASE::s_UNSET_DOUBLE)
        m_slack_ratio_threshold = k_UVO_SLACK_RATIO_THRESHOLD;
    morv_retiming_apply_pass_defaults(MORV_RETIMING_SCHEDULE_A, pass, m_retime_backwards, m_slack_ratio_threshold,
                                      num_iters, hill_climb_iters);
}
