#include "morv/core/stats/morv_qor_stats.h"

#include <cmath>
#include <cstring>

#include "cdb/cdb_atom_netlist.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "msg/msg.h"

#include "mem_alloc_sys.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_format.h"
#include "morv/timing/morv_timing.h"

namespace {
// The values are process-wide; a second manager alive at the same time
// shares them, and the last one to go frees them.
int s_live_managers = 0;

// Slack-ratio thresholds of the critical-node statistics, in id order.
constexpr double CRITICAL_THRESHOLDS[4] = {0.01, 0.05, 0.1, 0.5};

const char* type_suffix(int type)
{
    switch (type) {
    case MORV_QOR_STAT_TYPE_INT: return ",INT";
    case MORV_QOR_STAT_TYPE_DOUBLE: return ",DBL";
    default: return ",DLY";
    }
}

}  // namespace

// clang-format off
static MORV_QOR_STAT s_stats[MORV_QOR_STAT_MGR::s_NUM_STATS] = {
    {"Initial FOM", 0, MORV_QOR_STAGE_ALGORITHM_START | MORV_QOR_STAGE_EARLY_START | MORV_QOR_STAGE_LATE_START, MORV_QOR_STAT_TYPE_DELAY, nullptr},
    {"Final FOM", 1, MORV_QOR_STAGE_ALGORITHM_END | MORV_QOR_STAGE_EARLY_END | MORV_QOR_STAGE_LATE_END, MORV_QOR_STAT_TYPE_DELAY, nullptr},
    {"FOM Gain", 2, MORV_QOR_STAGE_ALGORITHM_END | MORV_QOR_STAGE_EARLY_END | MORV_QOR_STAGE_LATE_END, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"CDB Nodes", 3, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"DONT_TOUCH[DUP] Nodes", 4, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"DONT_TOUCH[RET] Nodes", 5, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"DONT_TOUCH Nodes", 6, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Nodes Added", 7, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"Nodes Deleted", 8, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"Nodes Modified", 9, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"Timing Analysis Calls", 10, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"Post ICP Calls", 11, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"ICP Calls", 12, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"ICP Failures", 13, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_INT, nullptr},
    {"Total Time in Algorithm", 14, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Timing Analysis Time", 15, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"ICP Time", 16, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Post ICP Time", 17, MORV_QOR_STAGE_ALGORITHM_END, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Total Flow Time", 18, MORV_QOR_STAGE_EARLY_END | MORV_QOR_STAGE_LATE_END, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Critical Nodes (SR < 0.01)", 19, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Critical Nodes (SR < 0.05)", 20, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Critical Nodes (SR < 0.1)", 21, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
    {"Critical Nodes (SR < 0.5)", 22, MORV_QOR_STAGE_EARLY_START, MORV_QOR_STAT_TYPE_DOUBLE, nullptr},
};
// clang-format on

const MORV_QOR_STAT& MORV_QOR_STAT_MGR::get_stat(int id)
{
    MORV_ASSERT(id >= 0 && id < s_NUM_STATS);
    return s_stats[id];
}

MORV_QOR_STAT_MGR::MORV_QOR_STAT_MGR(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_fsyn_api);
    // The file first: a place the user cannot write stops the compile with
    // an error naming the file, before anything is allocated.
    fio_open_for_writing(m_logfile, FIO_PATH(s_FILE_NAME), true);
    try {
        allocate_values();
    } catch (...) {
        if (s_live_managers == 0) free_values();
        throw;
    }
    ++s_live_managers;
}

MORV_QOR_STAT_MGR::~MORV_QOR_STAT_MGR()
{
    m_logfile.close();
    if (--s_live_managers == 0) free_values();
}

void MORV_QOR_STAT_MGR::allocate_values()
{
    for (int i = 0; i < s_NUM_STATS; ++i) {
        MORV_ASSERT_TEXT((int)s_stats[i].m_id == i, "(int)m_stats[i].m_id == i");
        if (s_stats[i].m_data != nullptr) continue;
        switch (s_stats[i].m_type) {
        case MORV_QOR_STAT_TYPE_INT:
        case MORV_QOR_STAT_TYPE_DELAY: s_stats[i].m_data = MORV_NEW(int, 0); break;
        case MORV_QOR_STAT_TYPE_DOUBLE: s_stats[i].m_data = MORV_NEW(double, 0.0); break;
        default: MSG_INTERNAL_ERROR::report("Unsupported MORV_QOR_STAT_TYPE.", "MORV", __FILE__, __LINE__);
        }
        MORV_ASSERT_TEXT(s_stats[i].m_data, "m_stats[i].m_data");
    }
}

void MORV_QOR_STAT_MGR::free_values()
{
    for (int i = 0; i < s_NUM_STATS; ++i) {
        if (s_stats[i].m_type == MORV_QOR_STAT_TYPE_DOUBLE) MORV_DELETE(static_cast<double*>(s_stats[i].m_data));
        else MORV_DELETE(static_cast<int*>(s_stats[i].m_data));
        s_stats[i].m_data = nullptr;
    }
}

MORV_QOR_STAT& MORV_QOR_STAT_MGR::checked(int id, int type) const
{
    MORV_ASSERT(id >= 0 && id < s_NUM_STATS);
    switch (type) {
    case MORV_QOR_STAT_TYPE_INT:
        MORV_ASSERT_TEXT(s_stats[id].m_type == MORV_QOR_STAT_TYPE_INT, "m_stats[id].m_type == MORV_QOR_STAT_TYPE_INT");
        break;
    case MORV_QOR_STAT_TYPE_DOUBLE:
        MORV_ASSERT_TEXT(s_stats[id].m_type == MORV_QOR_STAT_TYPE_DOUBLE,
                         "m_stats[id].m_type == MORV_QOR_STAT_TYPE_DOUBLE");
        break;
    default:
        MORV_ASSERT_TEXT(s_stats[id].m_type == MORV_QOR_STAT_TYPE_DELAY,
                         "m_stats[id].m_type == MORV_QOR_STAT_TYPE_DELAY");
        break;
    }
    MORV_ASSERT_TEXT(s_stats[id].m_data, "m_stats[id].m_data");
    return s_stats[id];
}

void MORV_QOR_STAT_MGR::increment_int(int id)
{
    ++*static_cast<int*>(checked(id, MORV_QOR_STAT_TYPE_INT).m_data);
}

int MORV_QOR_STAT_MGR::get_int(int id) const
{
    MORV_ASSERT(id >= 0 && id < s_NUM_STATS);
    MORV_ASSERT(s_stats[id].m_type != MORV_QOR_STAT_TYPE_DOUBLE);
    MORV_ASSERT(s_stats[id].m_data);
    return *static_cast<int*>(s_stats[id].m_data);
}

void MORV_QOR_STAT_MGR::add_double(int id, double value)
{
    *static_cast<double*>(checked(id, MORV_QOR_STAT_TYPE_DOUBLE).m_data) += value;
}

void MORV_QOR_STAT_MGR::set_double(int id, double value)
{
    *static_cast<double*>(checked(id, MORV_QOR_STAT_TYPE_DOUBLE).m_data) = value;
}

double MORV_QOR_STAT_MGR::get_double(int id) const
{
    return *static_cast<double*>(checked(id, MORV_QOR_STAT_TYPE_DOUBLE).m_data);
}

void MORV_QOR_STAT_MGR::set_delay(int id, int value)
{
    *static_cast<int*>(checked(id, MORV_QOR_STAT_TYPE_DELAY).m_data) = value;
}

void MORV_QOR_STAT_MGR::write_stat(int id)
{
    MORV_ASSERT(id >= 0 && id < s_NUM_STATS);
    MORV_QOR_STAT& stat = s_stats[id];
    MORV_ASSERT(stat.m_data);
    m_logfile << m_stage_column << ',' << m_algorithm_column << ',' << stat.m_name << ',';
    if (stat.m_type == MORV_QOR_STAT_TYPE_DOUBLE) {
        m_logfile << *static_cast<double*>(stat.m_data);
        *static_cast<double*>(stat.m_data) = 0.0;
    } else {
        m_logfile << *static_cast<int*>(stat.m_data);
        *static_cast<int*>(stat.m_data) = 0;
    }
    m_logfile << type_suffix(stat.m_type) << '\n';
    m_logfile.flush();
}

int MORV_QOR_STAT_MGR::present_figure_of_merit() const
{
    return m_fsyn_api->get_fsyn_timing()->get_figure_of_merit(false);
}

void MORV_QOR_STAT_MGR::write_stage(int stage_bit)
{
    for (int id = 0; id < s_NUM_STATS; ++id)
        if ((s_stats[id].m_stage_mask & stage_bit) != 0) write_stat(id);
}

void MORV_QOR_STAT_MGR::begin_point(POINT_KIND kind, int stage_bit)
{
    const int fom = present_figure_of_merit();
    if (kind == POINT_FLOW) {
        m_flow_start_fom = fom;
        set_double(MORV_QOR_TOTAL_FLOW_TIME, gen_get_sec_cpu());
    } else {
        m_algorithm_start_fom = fom;
        set_double(MORV_QOR_TOTAL_TIME_IN_ALGORITHM, gen_get_sec_cpu());
    }
    set_delay(MORV_QOR_INITIAL_FOM, fom);
    if (stage_bit == MORV_QOR_STAGE_EARLY_START) count_atoms();
    write_stage(stage_bit);
}

void MORV_QOR_STAT_MGR::end_point(POINT_KIND kind, int stage_bit)
{
    if (kind == POINT_FLOW) m_algorithm_column.clear();
    const int fom = present_figure_of_merit();
    const int start = kind == POINT_FLOW ? m_flow_start_fom : m_algorithm_start_fom;
    set_delay(MORV_QOR_FINAL_FOM, fom);
    set_double(MORV_QOR_FOM_GAIN,
               start == 0 ? 0.0 : (static_cast<double>(fom) - start) * 100.0 / std::fabs(static_cast<double>(start)));
    const int time_id = kind == POINT_FLOW ? MORV_QOR_TOTAL_FLOW_TIME : MORV_QOR_TOTAL_TIME_IN_ALGORITHM;
    set_double(time_id, gen_get_sec_cpu() - get_double(time_id));
    write_stage(stage_bit);
}

void MORV_QOR_STAT_MGR::count_atoms()
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT(env);
    CDB_ATOM_NETLIST* netlist = env->get_atom_netlist();
    MORV_ASSERT(netlist);
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    int atoms = 0;
    int dont_touch_dup = 0;
    int dont_touch_ret = 0;
    int dont_touch_any = 0;
    int critical[4] = {0, 0, 0, 0};
    for (CDB_ATOM_NODE* node : *netlist) {
        ++atoms;
        const int id = static_cast<int>(node->get_id());
        const bool dup = env->is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_DUPLICATE);
        const bool ret = env->is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_RETIME);
        if (dup) ++dont_touch_dup;
        if (ret) ++dont_touch_ret;
        if (dup || ret) ++dont_touch_any;
        if (node->get_output_count() == 0) continue;
        double smallest = 1.0;
        for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
            for (auto fo = (*ot)->begin_iterm_fanout(); fo != (*ot)->end_iterm_fanout(); ++fo) {
                const double ratio = timing->get_slack_ratio(*fo);
                if (ratio < smallest) smallest = ratio;
            }
        for (int t = 0; t < 4; ++t)
            if (smallest < CRITICAL_THRESHOLDS[t]) ++critical[t];
    }
    *static_cast<int*>(checked(MORV_QOR_CDB_NODES, MORV_QOR_STAT_TYPE_INT).m_data) = atoms;
    set_double(MORV_QOR_DONT_TOUCH_DUP_NODES, morv_percent(dont_touch_dup, atoms));
    set_double(MORV_QOR_DONT_TOUCH_RET_NODES, morv_percent(dont_touch_ret, atoms));
    set_double(MORV_QOR_DONT_TOUCH_NODES, morv_percent(dont_touch_any, atoms));
    for (int t = 0; t < 4; ++t) set_double(MORV_QOR_CRITICAL_NODES_001 + t, morv_percent(critical[t], atoms));
}

void MORV_QOR_STAT_MGR::begin_early_flow(bool syn_early)
{
    m_stage_column = syn_early ? "SYN-Early" : "FIT-Early";
    m_algorithm_column.clear();
    begin_point(POINT_FLOW, MORV_QOR_STAGE_EARLY_START);
}

void MORV_QOR_STAT_MGR::end_early_flow()
{
    end_point(POINT_FLOW, MORV_QOR_STAGE_EARLY_END);
}

void MORV_QOR_STAT_MGR::begin_late_flow()
{
    m_stage_column = "Late";
    m_algorithm_column.clear();
    begin_point(POINT_FLOW, MORV_QOR_STAGE_LATE_START);
}

void MORV_QOR_STAT_MGR::end_late_flow()
{
    end_point(POINT_FLOW, MORV_QOR_STAGE_LATE_END);
}

void MORV_QOR_STAT_MGR::begin_algorithm(const std::string& short_name, int run_number)
{
    m_algorithm_column = short_name + "(" + std::to_string(run_number) + ")";
    begin_point(POINT_ALGORITHM, MORV_QOR_STAGE_ALGORITHM_START);
}

void MORV_QOR_STAT_MGR::end_algorithm()
{
    end_point(POINT_ALGORITHM, MORV_QOR_STAGE_ALGORITHM_END);
}
