// The evaluation of the early flow: every source of an asynchronous input
// is found, tested for timing, for a synchroniser register on a global
// clock, for destinations that are all asynchronous inputs and for locked
// destinations; the critical ones that pass are recorded for the LATE flow.

#include <cstdio>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_types.h"
#include "cfg/cfg.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/dup/morv_pipe_async.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

// The global-network setting of a clock input on a global clock.
constexpr int GLOBAL_CLOCK = 4;
// The clear of the I/O atom's registers. The stand-in builds no such input.
constexpr int MORV_PIPE_ASYNC_IO_CLEAR_INPUT = 8;

std::string node_hpath(const CDB_ATOM_NODE* node)
{
    const HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name != nullptr ? name->get_short_hpath() : std::string();
}

PIPE_ASYNC_OTERM key_of(const CDB_ATOM_OTERM* source)
{
    PIPE_ASYNC_OTERM key;
    key.m_node_id = source->get_my_node()->get_id();
    key.m_port_type = static_cast<uint32_t>(source->get_usage());
    return key;
}

// Attaches a message of the list under parent; none is attached without a parent.
template <typename... ARGS>
void attach(MSG_BASE* parent, MORV_MSG_ID id, const ARGS&... args)
{
    if (parent != nullptr) parent->attach_sub_msg(morv_new_msg(id, args...));
}

// The debug file of the rejected fanouts of one source, opened at the first.
class NON_ASYNC_FANOUT_DUMP
{
public:
    NON_ASYNC_FANOUT_DUMP() = default;
    NON_ASYNC_FANOUT_DUMP(const NON_ASYNC_FANOUT_DUMP&) = delete;
    NON_ASYNC_FANOUT_DUMP& operator=(const NON_ASYNC_FANOUT_DUMP&) = delete;
    ~NON_ASYNC_FANOUT_DUMP()
    {
        if (m_fp != nullptr) std::fclose(m_fp);
    }
    void write(const std::string& signal, const std::string& rejected)
    {
        if (m_fp == nullptr) {
            std::string file_name("fsyn_pipe_async_dump_all_non_async_fanouts.");
            file_name += MORV_PIPE_ASYNC::file_name_safe(signal);
            file_name += ".txt";
            m_fp = std::fopen(file_name.c_str(), "w");
            MORV_ASSERT_TEXT(m_fp, "fp");
            std::fprintf(m_fp, "# List of nodes failing the asynchronous input test for reset signal < %s > \n",
                         signal.c_str());
        }
        std::fprintf(m_fp, "%s \n", rejected.c_str());
    }

private:
    std::FILE* m_fp = nullptr;
};

}  // namespace

std::string morv_pipe_async_hpath(const CDB_ATOM_OTERM* oterm)
{
    const HDB_INSTANCE_NAME* name = oterm->get_instance_name();
    if (name == nullptr) name = oterm->get_my_node() ? oterm->get_my_node()->get_instance_name() : nullptr;
    return name != nullptr ? name->get_short_hpath() : std::string();
}

std::string MORV_PIPE_ASYNC::file_name_safe(const std::string& signal_name)
{
    std::string out = signal_name;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        const bool bad = u < ' ' || u == 127 || c == '|' || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
                         c == '"' || c == '<' || c == '>';
        if (bad) c = '_';
    }
    if (out.empty()) out.push_back('_');
    return out;
}

void MORV_PIPE_ASYNC::find_asynchronous_signals()
{
    const std::vector<int> ports = morv_pipe_async_searched_ports(m_fsyn_api->get_base_family_code());
    MORV_ASSERT_TEXT(!ports.empty(), "find_asynchronous_signals() unsupported for this family!");
    for (int port_type : ports) evaluate_port_type(port_type);
}

bool MORV_PIPE_ASYNC::is_destination_candidate(CDB_ATOM_NODE* node) const
{
    if (m_net_util->is_lcell(node) && m_net_util->is_register_present(node)) return true;
    if (!morv_pipe_async_has_dsp_destinations(m_fsyn_api->get_base_family_code())) return false;
    return node->is_mac_mult() || node->is_mac_out();
}

bool MORV_PIPE_ASYNC::is_in_locked_region(CDB_ATOM_NODE* node)
{
    if (!morv_pipe_async_respects_locked_regions(m_fsyn_api->get_base_family_code())) return false;
    if (!m_fsyn_api->is_lcell_or_ff(node)) return false;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    return m_fsyn_api->get_morv_env()->get_node_locked_region(node, &x1, &y1, &x2, &y2);
}

void MORV_PIPE_ASYNC::evaluate_port_type(int port_type)
{
    m_seen.clear();
    MSG_POST* phase_msg = morv_new_msg(MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_INFO);
    MORV_ASSERT_TEXT(phase_msg, "msg_i_early_fsyn_info");
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!is_destination_candidate(node)) continue;
        CDB_ATOM_ITERM* input = node->get_input_term_by_type(port_type);
        // A clear tied to a constant is connected but has no source.
        if (input == nullptr || !input->is_driven()) continue;
        CDB_ATOM_OTERM* source = input->get_source();
        MORV_ASSERT_TEXT(source && source->get_my_node(), "curr_source_oterm");
        const bool locked = is_in_locked_region(node);
        const PIPE_ASYNC_OTERM key = key_of(source);
        if (m_seen.insert(key).second) evaluate_source(source, locked, phase_msg);
        else if (locked && s_critical_async_sources.count(key) != 0) drop_locked_source(source);
    }
    const int found = static_cast<int>(m_seen.size());
    const int recorded = static_cast<int>(s_critical_async_sources.size());
    MORV_DEBUG_STREAM::print(
        1, "Asynchronous Pipelining: found %d asynchronous sources of which %d can be be pipelined", found, recorded);
    attach(phase_msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS, found, recorded);
    morv_send_msg(phase_msg);
    post_pending_warnings();
}

void MORV_PIPE_ASYNC::post_pending_warnings()
{
    std::vector<MSG_POST*> warnings;
    warnings.swap(m_pending_warnings);
    for (MSG_POST* warning : warnings) morv_send_msg(warning);
}

int MORV_PIPE_ASYNC::get_worst_fanout_slack(CDB_ATOM_OTERM* source) const
{
    int worst = MORV_PIPE_ASYNC_INFINITY;
    for (auto it = source->begin_iterm_fanout(); it != source->end_iterm_fanout(); ++it) {
        const int slack = m_fsyn_timing->get_slack(*it);
        if (slack < worst) worst = slack;
    }
    return worst;
}

void MORV_PIPE_ASYNC::evaluate_source(CDB_ATOM_OTERM* source, bool locked, MSG_BASE* phase_msg)
{
    const std::string name = morv_pipe_async_hpath(source);
    MSG_POST* signal_msg = new_msg_fsyn_early_fsyn_async_pipelining_checking_signal(name.c_str());
    MORV_ASSERT_TEXT(signal_msg, "msg_i_early_fsyn_signal");
    phase_msg->attach_sub_msg(signal_msg);
    HDB_INSTANCE_NAME* inst = source->get_instance_name();
    MORV_ASSERT_TEXT(inst, "src_oterm->get_instance_name()");
    const bool forced = m_fsyn_api->get_instance_int_option(inst, MORV_SETTING_PIPELINING) >= 0;
    if (forced) {
        MORV_DEBUG_STREAM::print(2, "fsyn_asynchronous_signals(): signal <%s> forced to be pipelined by OPX assignemnt",
                                 name.c_str());
        attach(signal_msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_USER_REQUESTED);
    }
    const int worst = get_worst_fanout_slack(source);
    if (!cfg_is_on("fsyn_pipe_async_skip_timing_checks") && !forced) {
        if (worst > m_slack_threshold) {
            attach(signal_msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NON_CRITICAL_SIGNAL);
            MORV_DEBUG_STREAM::print(
                100, "find_asynchronous_signals(): found asynchronous source...but it does not require pipelining");
            MORV_DEBUG_STREAM::print(100, "worst_slack = %d - threshold = %d", worst, m_slack_threshold);
            add_report_row(source, 0, 0, "Asynchronous signal does not require pipelining");
            return;
        }
        attach(signal_msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CRITICAL_SIGNAL);
    }
    if (!is_asynchronous_signal_pipelineable(source, signal_msg)) {
        MORV_DEBUG_STREAM::print(100,
                                 "find_asynchronous_signals(): found asynchronous source...but it is not pipelineable");
        add_report_row(source, 0, 0, "Asynchronous signal was not pipelineable");
    } else if (locked) {
        MORV_DEBUG_STREAM::print(
            2, "fsyn_asynchronous_signals(): signal <%s> is not being pipelined because of location constraint",
            name.c_str());
        add_report_row(source, 0, 0, "Skipping asynchronous signal because of location constraint");
    } else {
        attach(signal_msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_SIGNAL_WILL_BE_PIPELINED);
        s_critical_async_sources.insert(key_of(source));
    }
}

void MORV_PIPE_ASYNC::drop_locked_source(CDB_ATOM_OTERM* source)
{
    s_critical_async_sources.erase(key_of(source));
    MORV_DEBUG_STREAM::print(
        2, "fsyn_asynchronous_signals(): signal <%s> is being removed from signal set because of location constraint",
        morv_pipe_async_hpath(source).c_str());
    add_report_row(source, 0, 0, "Skipping asynchronous signal because of location constraint");
}

bool MORV_PIPE_ASYNC::is_dont_touch(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg)
{
    if (!m_fsyn_api->is_oterm_dont_touch(src_oterm, AMM_OP_FITTER_FSYN_PIPELINE_ASYNC)) return false;
    if (msg != nullptr) msg->attach_sub_msg(new_msg_fsyn_early_fsyn_async_pipelining_dont_touch());
    MORV_DEBUG_STREAM::print(100,
                             "is_asynchronous_signal_pipelineable(): synchronization register is marked don't touch.");
    MORV_DEBUG_STREAM::print(100, "is_asynchronous_signal_pipelineable(): will not pipeline asynchronous signal.");
    return true;
}

bool MORV_PIPE_ASYNC::is_asynchronous_signal_pipelineable(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg)
{
    MORV_ASSERT_TEXT(src_oterm, "async_source_oterm");
    CDB_ATOM_NODE* node = src_oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "src_node");
    if (node->is_clkbuf()) {
        if (is_dont_touch(src_oterm, msg)) return false;
        if (!fans_out_only_to_asynchronous_inputs(src_oterm, msg)) {
            MORV_DEBUG_STREAM::print(
                100, "is_asynchronous_signal_pipelineable(): buffer doesn't exclusively fanout to ASYNC iterms");
            MORV_DEBUG_STREAM::print(100,
                                     "is_asynchronous_signal_pipelineable(): will not pipeline asynchronous signal.");
            return false;
        }
        CDB_ATOM_ITERM* buffer_in = node->get_input_term_by_type(DB_CLKBUF_IN);
        MORV_ASSERT_TEXT(buffer_in, "src_iterm");
        src_oterm = buffer_in->get_source();
        MORV_ASSERT_TEXT(src_oterm, "src_oterm");
        node = src_oterm->get_my_node();
        MORV_ASSERT_TEXT(node, "src_node");
    }
    if (m_net_util->is_lcell(node) && m_net_util->is_register_present(node) && src_oterm->is_used_as(DB_REG_OUT))
        return is_pipelineable_sync_register(src_oterm, msg);
    attach(msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NO_SYNC_REGISTER);
    MORV_DEBUG_STREAM::print(100, "is_asynchronous_signal_pipelineable(): no synchronization register found.");
    MORV_DEBUG_STREAM::print(100, "is_asynchronous_signal_pipelineable(): will not pipeline asynchronous signal.");
    return false;
}

bool MORV_PIPE_ASYNC::is_pipelineable_sync_register(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg)
{
    CDB_ATOM_ITERM* clock = src_oterm->get_my_node()->get_input_term_by_type(DB_CLOCK);
    MORV_ASSERT_TEXT(clock, "clock_input");
    if (clock->get_global() != GLOBAL_CLOCK) {
        attach(msg, MORV_MSG_IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NOT_GCLK);
        return false;
    }
    if (is_dont_touch(src_oterm, msg)) return false;
    if (fans_out_only_to_asynchronous_inputs(src_oterm, msg)) return true;
    MORV_DEBUG_STREAM::print(
        100, "is_asynchronous_signal_pipelineable(): synch register doesn't exclusively fanout to ASYNC iterms");
    MORV_DEBUG_STREAM::print(100, "is_asynchronous_signal_pipelineable(): will not pipeline asynchronous signal.");
    return false;
}

bool MORV_PIPE_ASYNC::fans_out_only_to_asynchronous_inputs(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg)
{
    const std::string name = morv_pipe_async_hpath(src_oterm);
    HDB_INSTANCE_NAME* inst = src_oterm->get_instance_name();
    MORV_ASSERT_TEXT(inst, "src_oterm->get_instance_name()");
    if (m_fsyn_api->find_instance_bool_option(inst, MORV_SETTING_PIPELINING_NO_DST_CHECK).value_or(false)) {
        MSG_POST* warning = new_msg_fsyn_async_pipelining_disable_destination_check(name.c_str());
        if (warning != nullptr) m_pending_warnings.push_back(warning);
        return true;
    }
    m_dump_non_async_fanouts = cfg_is_on("fsyn_pipe_async_dump_all_non_async_fanouts");
    NON_ASYNC_FANOUT_DUMP dump;
    bool passed = true;
    for (auto it = src_oterm->begin_iterm_fanout(); it != src_oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fanout = *it;
        if (is_asynchronous_fanout(fanout)) continue;
        passed = false;
        CDB_ATOM_NODE* sink = fanout->get_my_node();
        MORV_DEBUG_STREAM::print(100, "Non asynchronous fanout: node <%d>", static_cast<int>(sink->get_id()));
        const std::string sink_name = node_hpath(sink);
        if (m_dump_non_async_fanouts) dump.write(name, sink_name);
        if (msg != nullptr)
            msg->attach_sub_msg(new_msg_fsyn_early_fsyn_async_pipelining_illegal_fanout_signal(sink_name.c_str()));
        if (!m_dump_non_async_fanouts) break;
    }
    return passed;
}

bool MORV_PIPE_ASYNC::is_constant_data_register(CDB_ATOM_NODE* node) const
{
    if (!m_net_util->is_lcell(node) || !m_net_util->is_register_present(node)) return false;
    CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_ASYNCH_DATA);
    if (data == nullptr) return false;
    if (data->is_vcc() || data->is_gnd()) return true;
    CDB_ATOM_OTERM* driver = data->get_source();
    if (driver == nullptr || driver->get_my_node() == nullptr || !driver->get_my_node()->is_lcell_comb()) return false;
    CDB_ATOM_NODE* lut = driver->get_my_node();
    const uint64_t mask = m_net_util->get_lutmask(lut);
    // All ones over the cell's LUT inputs is the constant 1 of a narrow LUT.
    return mask == 0 || mask == ~uint64_t{0} || mask == CDB_LUTMASK::full_mask(lut->get_lut_size());
}

bool MORV_PIPE_ASYNC::is_asynchronous_fanout(CDB_ATOM_ITERM* fanout)
{
    CDB_ATOM_NODE* node = fanout->get_my_node();
    if (fanout->is_used_as(DB_CLKBUF_IN)) return true;
    if (fanout->is_used_as(DB_DATAIN) && node->is_pin()) return true;
    // The I/O atom takes the net on the asynchronous clear of its registers.
    if (fanout->is_used_as(MORV_PIPE_ASYNC_IO_CLEAR_INPUT) && node->is_pin()) return true;
    if (fanout->is_used_as(DB_ASYNCH_LOAD) && is_constant_data_register(node)) return true;
    for (int port_type : m_async_port_types)
        if (fanout->is_used_as(port_type)) return true;
    return false;
}
