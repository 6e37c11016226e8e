// The execution of the LATE flow: the recorded sources are taken most
// critical first; each gets its register reach, loses its clock buffer, and
// is rebuilt as a register tree over its destinations plus a chain back to
// the synchroniser, every destination the same number of registers deep.

#include <algorithm>
#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"
#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/dup/morv_pipe_async.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

// The period assumed when no asynchronous fanout has a known slack and delay.
constexpr int DEFAULT_TARGET_PERIOD = 2500;
// What the timing answers for a slack or delay it does not know.
constexpr int UNKNOWN_DELAY = 2147483647;

bool is_register_node(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node)
{
    return net_util->is_lcell(node) && net_util->is_register_present(node);
}

}  // namespace

int MORV_PIPE_ASYNC::do_iter()
{
    if (!m_family_supported || m_state != STATE_READY) return 0;
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (expert == nullptr || !expert->is_fsyn_running(LATE_FSYN_FLOW)) return 0;
    // Sweeping, retiming and merging between the flows may legitimately take
    // a recorded source away: such a source is no longer there to pipeline.
    drop_vanished_sources();
    int operations = 0;
    while (!s_critical_async_sources.empty()) {
        m_state = STATE_IDLE;
        if (!choose_next_source()) break;
        operations += pipeline_current_source();
    }
    return operations;
}

void MORV_PIPE_ASYNC::drop_vanished_sources()
{
    for (auto it = s_critical_async_sources.begin(); it != s_critical_async_sources.end();) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(it->m_node_id));
        if (node != nullptr && node->get_output_term_by_type(static_cast<int>(it->m_port_type)) != nullptr) {
            ++it;
            continue;
        }
        MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: source {%u} no longer exists: not pipelined",
                                 it->m_node_id);
        it = s_critical_async_sources.erase(it);
    }
}

int MORV_PIPE_ASYNC::get_worst_source_slack(const PIPE_ASYNC_OTERM& key)
{
    CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(key.m_node_id));
    CDB_ATOM_OTERM* oterm = node ? node->get_output_term_by_type(static_cast<int>(key.m_port_type)) : nullptr;
    MORV_ASSERT_TEXT(oterm != nullptr, "oterm != NULL");
    return get_worst_fanout_slack(oterm);
}

// Most critical first; a source without a finite fanout slack still gets
// its turn, after every critical one, so the loop always ends.
bool MORV_PIPE_ASYNC::choose_next_source()
{
    auto chosen = s_critical_async_sources.end();
    int best = MORV_PIPE_ASYNC_INFINITY;
    for (auto it = s_critical_async_sources.begin(); it != s_critical_async_sources.end(); ++it) {
        const int slack = get_worst_source_slack(*it);
        if (slack < best) {
            best = slack;
            chosen = it;
        }
    }
    if (chosen == s_critical_async_sources.end()) chosen = s_critical_async_sources.begin();
    if (chosen == s_critical_async_sources.end()) return false;
    const PIPE_ASYNC_OTERM key = *chosen;
    s_critical_async_sources.erase(chosen);
    select_source(key);
    return true;
}

void MORV_PIPE_ASYNC::select_source(const PIPE_ASYNC_OTERM& key)
{
    m_curr_source = key;
    m_pipe_stage = 0;
    m_total_registers = 0;
    m_pipe_regs.clear();
    m_state = STATE_READY;
}

void MORV_PIPE_ASYNC::fill_current_source()
{
    MORV_ASSERT_TEXT(m_curr_async_source, "m_curr_async_source");
    ASYNC_SOURCE& source = *m_curr_async_source;
    source = ASYNC_SOURCE();
    CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(m_curr_source.m_node_id));
    CDB_ATOM_OTERM* oterm = node ? node->get_output_term_by_type(static_cast<int>(m_curr_source.m_port_type)) : nullptr;
    MORV_ASSERT_TEXT(oterm, "curr_oterm");
    node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "curr_node");
    if (node->is_clkbuf()) {
        source.clock_buf_oterm = oterm;
        source.clock_buf = node;
        CDB_ATOM_ITERM* input = node->get_input_term_by_type(DB_CLKBUF_IN);
        MORV_ASSERT_TEXT(input && input->get_source(), "clk_buf_iterm");
        oterm = input->get_source();
        node = oterm->get_my_node();
        MORV_ASSERT_TEXT(node, "curr_node");
    }
    MORV_ASSERT_TEXT(oterm->is_used_as(DB_REG_OUT), "curr_oterm->get_any_usage_as() == ::DB_REG_OUT");
    MORV_ASSERT_TEXT(is_register_node(m_net_util, node) || node->is_pin(),
                     "is_ff_node(curr_node) || curr_node->is_pin()");
    source.sync_reg_oterm = oterm;
    source.sync_reg = node;
    source.src_oterm = source.clock_buf_oterm != nullptr ? source.clock_buf_oterm : source.sync_reg_oterm;
}

int MORV_PIPE_ASYNC::pipeline_current_source()
{
    if (m_state != STATE_READY) return 0;
    fill_current_source();
    ASYNC_SOURCE& source = *m_curr_async_source;
    MORV_ASSERT_TEXT(m_msg_i_late_fsyn_info, "m_msg_i_late_fsyn_info");
    MORV_ASSERT_TEXT(source.sync_reg_oterm, "m_curr_async_source->sync_reg_oterm");
    const std::string name = morv_pipe_async_hpath(source.sync_reg_oterm);
    m_msg_i_late_fsyn_current_signal = new_msg_fsyn_late_fsyn_async_pipelining_current_signal(name.c_str());
    m_msg_i_late_fsyn_info->attach_sub_msg(m_msg_i_late_fsyn_current_signal);
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: Pipelining asynchronous signal {%s}", name.c_str());
    if (has_unplaced_destination()) {
        skip_unpipelineable_source();
        return 0;
    }
    if (source.src_oterm->get_number_of_fanout() == 0) {
        // Nothing left to pipeline: the row says so with no stage and no register.
        finish_current_source();
        return 0;
    }
    compute_register_reach();
    int operations = 0;
    if (m_global_demotion && demote_global()) ++operations;
    if (source.clock_buf == nullptr) {
        const int n = insert_pipeline_register_tree();
        legalize_pipe_regs();
        m_total_registers += n;
        operations += n;
        MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: pipe stage %d (TREE): inserted %d registers",
                                 m_pipe_stage, n);
    }
    MORV_ASSERT_TEXT(source.sync_reg, "m_curr_async_source->sync_reg");
    const int n = insert_pipeline_register_chain();
    legalize_pipe_regs();
    m_total_registers += n;
    operations += n;
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: pipe stage %d (CHAIN): inserted %d registers", m_pipe_stage,
                             n);
    finish_current_source();
    return operations;
}

// A register placed from an unplaced destination or synchroniser would
// have no place to go: such a source is left as it is.
bool MORV_PIPE_ASYNC::has_unplaced_destination()
{
    ASYNC_SOURCE& source = *m_curr_async_source;
    int x = -1, y = -1;
    if (!get_location(source.sync_reg, &x, &y)) return true;
    for (auto it = source.src_oterm->begin_iterm_fanout(); it != source.src_oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_NODE* node = (*it)->get_my_node();
        MORV_ASSERT_TEXT(node, "fnode");
        if (!get_location(node, &x, &y)) return true;
    }
    return false;
}

void MORV_PIPE_ASYNC::skip_unpipelineable_source()
{
    ASYNC_SOURCE& source = *m_curr_async_source;
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: signal {%s} has an unplaced destination: not pipelined",
                             morv_pipe_async_hpath(source.sync_reg_oterm).c_str());
    add_report_row(source.sync_reg_oterm, 0, 0, "Asynchronous signal was not pipelineable");
    m_state = STATE_IDLE;
    if (s_critical_async_sources.empty()) write_report_table();
}

void MORV_PIPE_ASYNC::finish_current_source()
{
    ASYNC_SOURCE& source = *m_curr_async_source;
    m_state = STATE_IDLE;
    copy_timing_assignments();
    add_report_row(source.sync_reg_oterm, static_cast<uint32_t>(m_pipe_stage), static_cast<uint32_t>(m_total_registers),
                   "");
    const std::string name = morv_pipe_async_hpath(source.sync_reg_oterm);
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining Finished for net {%s}", name.c_str());
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining Stats: %d pipe stages", m_pipe_stage);
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining Stats: %d registers", m_total_registers);
    m_msg_i_late_fsyn_current_signal->attach_sub_msg(
        new_msg_fsyn_late_fsyn_async_pipelining_registers_and_stages(m_total_registers, m_pipe_stage));
    if (s_critical_async_sources.empty()) write_report_table();
}

void MORV_PIPE_ASYNC::copy_timing_assignments()
{
    ASYNC_SOURCE& source = *m_curr_async_source;
    CDB_ATOM_OTERM* from = source.src_oterm;
    if (source.clock_buf != nullptr) {
        CDB_ATOM_ITERM* input = source.clock_buf->get_input_term_by_type(DB_CLKBUF_IN);
        if (input != nullptr && input->get_source() != nullptr) from = input->get_source();
    }
    for (const std::vector<PIPE_REG>& stage : m_pipe_regs)
        for (const PIPE_REG& reg : stage) {
            CDB_ATOM_OTERM* out = reg.node ? reg.node->get_output_term_by_type(DB_REG_OUT) : nullptr;
            if (out != nullptr) m_fsyn_api->copy_oterm_timing_assignment(from, out);
        }
}

void MORV_PIPE_ASYNC::finish_algorithm()
{
    if (m_msg_i_late_fsyn_info == nullptr) return;
    morv_send_msg(m_msg_i_late_fsyn_info);
    m_msg_i_late_fsyn_info = nullptr;
    // The signal messages went with their parent.
    m_msg_i_late_fsyn_current_signal = nullptr;
}

void MORV_PIPE_ASYNC::compute_register_reach()
{
    const int computed = compute_reach_from_period(get_target_period());
    int reach = computed;
    CDB_ATOM_OTERM* src_oterm = m_curr_async_source->src_oterm;
    MORV_ASSERT_TEXT(src_oterm && src_oterm->get_my_node(), "src_oterm");
    CDB_ATOM_NODE* target = src_oterm->get_my_node();
    if (target->is_clkbuf()) {
        CDB_ATOM_ITERM* input = target->get_input_term_by_type(DB_CLKBUF_IN);
        if (input != nullptr && input->get_source() != nullptr) target = input->get_source()->get_my_node();
    }
    HDB_INSTANCE_NAME* inst = target->get_instance_name();
    MORV_ASSERT_TEXT(inst, "inst_name");
    MORV_ASSERT_TEXT(m_msg_i_late_fsyn_current_signal, "m_msg_i_late_fsyn_current_signal");
    const int assigned = m_fsyn_api->get_instance_int_option(inst, MORV_SETTING_PIPELINING);
    if (assigned > 0) {
        MSG_POST* msg = new_msg_fsyn_late_fsyn_async_pipelining_overridden_register_reach(computed, assigned);
        MORV_ASSERT_TEXT(msg, "msg_i_late_fsyn_register_reach");
        m_msg_i_late_fsyn_current_signal->attach_sub_msg(msg);
        reach = assigned;
    } else {
        MSG_POST* msg = new_msg_fsyn_late_fsyn_async_pipelining_register_reach(computed);
        MORV_ASSERT_TEXT(msg, "msg_i_late_fsyn_register_reach");
        m_msg_i_late_fsyn_current_signal->attach_sub_msg(msg);
    }
    m_global_demotion = true;
    const int forced = cfg_get_int_value("fsyn_pipe_async_register_reach", 0);
    if (forced >= 1) {
        reach = forced;
        MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: pipeline register reach overriden to %d", reach);
    }
    if (reach < 1) {
        MORV_DEBUG_STREAM::print(
            1, "Asynchronous Pipelining: Warning: Pipeline register reach was too small...resetting to 1 !!!");
        reach = 1;
    }
    m_pipeline_register_reach = reach;
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: target node = %s", inst->get_short_hpath().c_str());
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: pipeline register reach = %d", reach);
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: Global demotions are %s", m_global_demotion ? "ON" : "OFF");
}

int MORV_PIPE_ASYNC::get_target_period()
{
    CDB_ATOM_OTERM* src_oterm = m_curr_async_source->src_oterm;
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    CDB_ATOM_NODE* node = src_oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "src_node");
    CDB_ATOM_NODE* src_reg = node;
    int buffer_delay = 0;
    if (node->is_clkbuf()) {
        CDB_ATOM_ITERM* input = node->get_input_term_by_type(DB_CLKBUF_IN);
        MORV_ASSERT_TEXT(input, "iterm");
        MORV_ASSERT_TEXT(input->get_source(), "oterm");
        src_reg = input->get_source()->get_my_node();
        MORV_ASSERT_TEXT(src_reg, "src_reg");
    }
    MORV_ASSERT_TEXT(is_register_node(m_net_util, src_reg), "is_ff_node(src_reg)");
    if (src_reg != node) {
        CDB_ATOM_OTERM* reg_oterm = src_reg->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(reg_oterm, "reg_oterm");
        buffer_delay = m_fsyn_timing->get_max_delay_to_node(reg_oterm, node);
    }
    int period = MORV_PIPE_ASYNC_INFINITY;
    bool found = false;
    for (auto it = src_oterm->begin_iterm_fanout(); it != src_oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fanout = *it;
        const bool asynchronous = std::any_of(m_async_port_types.begin(), m_async_port_types.end(),
                                              [fanout](int port) { return fanout->is_used_as(port); });
        if (!asynchronous) continue;
        const int delay = m_fsyn_timing->get_max_delay_to_node(src_oterm, fanout->get_my_node());
        const int slack = m_fsyn_timing->get_slack(fanout);
        if (delay == UNKNOWN_DELAY || slack == UNKNOWN_DELAY) continue;
        period = std::min(period, slack + delay + buffer_delay);
        found = true;
    }
    const int result = found ? period : DEFAULT_TARGET_PERIOD;
    MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining: target period = %d (with %f margin = %f)", result, 1.0,
                             static_cast<double>(result));
    return result;
}

// The longest distance, straight along either axis, whose delay stays
// below the period.
int MORV_PIPE_ASYNC::compute_reach_from_period(int period)
{
    const bool fl_routing = morv_pipe_async_reach_from_routing_delay(m_fsyn_api->get_family_code());
    int drive = -1;
    if (fl_routing) {
        CDB_ATOM_NODE* first_ff = nullptr;
        for (CDB_ATOM_NODE* node : *m_atom_netlist)
            if (node != nullptr && m_net_util->is_ff(node)) {
                first_ff = node;
                break;
            }
        if (first_ff == nullptr) return 0;
        drive = m_fsyn_api->get_fl_cell_value(first_ff);
    }
    const PLDM* pldm = m_fsyn_api->get_pldm();
    auto delay = [&](int xt, int yt) {
        if (fl_routing) return m_fsyn_api->get_routing_delay(1, 1, xt, yt, drive);
        return pldm != nullptr ? pldm->get_point_to_point_delay(1, 1, xt, yt) : 0;
    };
    int d = std::min(m_nx, m_ny) - 3;
    while (d > 0) {
        const int longest = std::max(delay(1, d + 1), delay(d + 1, 1));
        MORV_ASSERT_TEXT(longest >= 0, "delay_in_ps >= 0");
        if (period > longest) break;
        --d;
    }
    return fl_routing ? std::max(d, MORV_PIPE_ASYNC_MIN_FL_REACH) : d;
}

bool MORV_PIPE_ASYNC::demote_global()
{
    ASYNC_SOURCE& source = *m_curr_async_source;
    if (source.clock_buf == nullptr) return false;
    find_all_dest_regs(source, false);
    MORV_ASSERT_TEXT(m_msg_i_late_fsyn_current_signal, "m_msg_i_late_fsyn_current_signal");
    const std::string name = morv_pipe_async_hpath(source.clock_buf_oterm);
    MSG_POST* warning = new_msg_fsyn_demoting_global_signal(name.c_str());
    MORV_ASSERT_TEXT(warning, "msg_w_demoting_global");
    m_msg_i_late_fsyn_current_signal->attach_sub_msg(warning);
    MORV_DEBUG_STREAM::print(100, "demote_global(): demoting clock buffer {%s}", name.c_str());
    CDB_ATOM_ITERM* input = source.clock_buf->get_input_term_by_type(DB_CLKBUF_IN);
    MORV_ASSERT_TEXT(input, "clk_buf_iterm");
    CDB_ATOM_OTERM* new_source = input->get_source();
    MORV_ASSERT_TEXT(new_source, "new_src_oterm");
    m_net_util->disconnect_iterm(input, CDB_NET_ITERM::UNCONNECTED);
    while (source.clock_buf_oterm->get_number_of_fanout() > 0) {
        CDB_ATOM_ITERM* fanout = *source.clock_buf_oterm->begin_iterm_fanout();
        m_net_util->disconnect_iterm(fanout, CDB_NET_ITERM::UNCONNECTED);
        m_net_util->insert_fanout(new_source, fanout);
        set_global_zero_logged(fanout);
    }
    m_fsyn_api->delete_node(source.clock_buf);
    source.clock_buf = nullptr;
    source.clock_buf_oterm = nullptr;
    source.src_oterm = source.sync_reg_oterm;
    m_curr_source.m_node_id = new_source->get_my_node()->get_id();
    m_curr_source.m_port_type = static_cast<uint32_t>(new_source->get_usage());
    MORV_DEBUG_STREAM::print(100, "demote_global(): clock buffer was removed");
    return true;
}

// Built from the destination backwards: along its row first, then along
// the column reached, each new register taking over the previous term.
int MORV_PIPE_ASYNC::insert_pipeline_register_chain()
{
    CDB_ATOM_OTERM* src_oterm = m_curr_async_source->sync_reg_oterm;
    MORV_ASSERT_TEXT(src_oterm->get_number_of_fanout() == 1, "src_oterm->get_number_of_fanout() == 1");
    CDB_ATOM_ITERM* dst_iterm = *src_oterm->begin_iterm_fanout();
    MORV_ASSERT_TEXT(dst_iterm->get_source() == src_oterm, "dst_iterm->get_source() == src_oterm");
    MORV_ASSERT_TEXT(is_register_node(m_net_util, src_oterm->get_my_node()), "is_ff_node(src_node)");
    int x0 = -1, y0 = -1, x = -1, y = -1;
    get_location(src_oterm->get_my_node(), &x0, &y0);
    get_location(dst_iterm->get_my_node(), &x, &y);
    MORV_DEBUG_STREAM::print(100, "insert_pipeline_register_chain(): need chain from (%d, %d) to (%d %d)", x0, y0, x,
                             y);
    const int r = m_pipeline_register_reach;
    if (std::abs(x - x0) + std::abs(y - y0) <= r) {
        MORV_DEBUG_STREAM::print(100, "insert_pipeline_register_chain(): no pipeline registers required.");
        return 0;
    }
    const int sx = x > x0 ? -r : r;
    const int sy = y > y0 ? -r : r;
    int count = 0;
    while (!(x0 - r < x && x < x0 + r)) {
        x += sx;
        create_chain_register(dst_iterm, x, y);
        ++count;
        MORV_DEBUG_STREAM::print(100, "insert_pipeline_register_chain(): X direction...got to (%d, %d)", x, y);
    }
    MORV_ASSERT_TEXT(std::abs(x - x0) <= r, "(x_target_offset >= 0) && (x_target_offset <= m_pipeline_register_reach)");
    while (!(y0 - r < y && y < y0 + r)) {
        y += sy;
        create_chain_register(dst_iterm, x, y);
        ++count;
        MORV_DEBUG_STREAM::print(100, "insert_pipeline_register_chain(): Y direction...got to (%d, %d)", x, y);
    }
    return count;
}

CDB_ATOM_NODE* MORV_PIPE_ASYNC::create_chain_register(CDB_ATOM_ITERM*& dst_iterm, int x, int y)
{
    CDB_ATOM_OTERM* src_oterm = m_curr_async_source->sync_reg_oterm;
    MORV_ASSERT_TEXT(dst_iterm->get_source() == src_oterm, "dst_iterm->get_source() == src_oterm");
    CDB_ATOM_NODE* reg = create_pipeline_register(src_oterm, {dst_iterm}, x, y);
    dst_iterm = reg->get_input_term_by_type(m_reg_data_in_port);
    PIPE_REG entry;
    entry.x = x;
    entry.y = y;
    entry.node = reg;
    m_pipe_regs.resize(static_cast<size_t>(m_pipe_stage) + 1);
    m_pipe_regs[static_cast<size_t>(m_pipe_stage)].push_back(entry);
    ++m_pipe_stage;
    return reg;
}
