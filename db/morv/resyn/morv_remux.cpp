#include "morv/resyn/morv_remux.h"

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "cfg/cfg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_format.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

const char* const FAILURE_LABELS[MORV_REMUX_FAILURE_COUNT] = {
    "unavailable iterms",  "critical mux",     "no combout oterm", "multiple fanout",
    "no fanout to datain", "no reg on fanout", "lutmask check",    "wrong feedback register"};

bool is_wire_of(const CDB_LUTMASK& m, int input)
{
    int wire = -1;
    return m.is_wire(&wire) && wire == input;
}

bool is_inverted_wire(const CDB_LUTMASK& m)
{
    return (~m).is_wire();
}

void print_mask_failure(uint64_t v)
{
    MORV_DEBUG_STREAM::print(100, "      Failed: lutmask check: %04X.%04X.%04X.%04X", unsigned((v >> 48) & 0xFFFF),
                             unsigned((v >> 32) & 0xFFFF), unsigned((v >> 16) & 0xFFFF), unsigned(v & 0xFFFF));
}

}  // namespace

// ---------------------------------------------------------------- statistics and pattern

MORV_REMUX_STATS::MORV_REMUX_STATS()
{
    for (int r = 0; r < MORV_REMUX_FAILURE_COUNT; ++r) m_fail_counts[r] = 0;
}

void MORV_REMUX_STATS::add_failure(int reason)
{
    ++m_fail_counts[reason];
    ++m_failures;
}

std::string MORV_REMUX_PATTERN::text() const
{
    std::string out;
    auto part = [&out](int port, bool inverted, const char* letter) {
        out += port != MORV_NO_INPUT_PORT ? letter : "-";
        if (port != MORV_NO_INPUT_PORT && inverted) out += "'";
    };
    part(ena, ena_inverted, "E");
    out += ".";
    part(sclr, sclr_inverted, "C");
    out += ".";
    part(sload, sload_inverted, "L");
    return out;
}

// ---------------------------------------------------------------- registry

MORV_OWNER<MORV_DEMUXED_NODE_SET> MORV_REMUX::create_demuxed_nodes()
{
    MORV_OWNER<MORV_DEMUXED_NODE_SET> nodes = MORV_MAKE_OWNER(MORV_DEMUXED_NODE_SET);
    MORV_ASSERT_TEXT(nodes, "m_demuxed_nodes");
    return nodes;
}

void MORV_REMUX::add_demuxed_node(MORV_API* api, int node_id)
{
    MORV_ASSERT_TEXT(api, "fsyn_api");
    MORV_DEMUXED_NODE_SET* nodes = api->get_demuxed_nodes();
    MORV_ASSERT_TEXT(nodes, "m_demuxed_nodes");
    MORV_ASSERT_TEXT(nodes->find(node_id) == nodes->end(), "m_demuxed_nodes->find(node_id) == m_demuxed_nodes->end()");
    MORV_DEBUG_STREAM::print(100, "REMUX: adding mux < %d >", node_id);
    nodes->insert(node_id);
}

bool MORV_REMUX::is_demuxed_node(MORV_API* api, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(api, "fsyn_api");
    MORV_DEMUXED_NODE_SET* nodes = api->get_demuxed_nodes();
    MORV_ASSERT_TEXT(nodes, "m_demuxed_nodes");
    MORV_ASSERT_TEXT(node, "node");
    return nodes->count(static_cast<int>(node->get_id())) != 0;
}

void MORV_REMUX::clear_demuxed_nodes(MORV_API* api)
{
    MORV_ASSERT_TEXT(api, "fsyn_api");
    MORV_DEMUXED_NODE_SET* nodes = api->get_demuxed_nodes();
    MORV_ASSERT_TEXT(nodes, "m_demuxed_nodes");
    MORV_DEBUG_STREAM::print(2, "REMUX: clearing map");
    nodes->clear();
}

// ---------------------------------------------------------------- algorithm

MORV_REMUX::MORV_REMUX(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_mirror_lutmask(false), m_net_util(nullptr)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    m_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_fsyn_net_util");
    MORV_DEBUG_STREAM::print(100, "MORV_REMUX Created.");
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
    const MORV_FAMILY_TRAITS& traits = morv_family_traits(m_fsyn_api->get_base_family_code());
    if (traits.m_lut_size != MORV_REMUX_LUT_INPUTS) MORV_ASSERT_TEXT(false, "REMUX: Unsupported family!");
    m_mirror_lutmask = traits.m_mask_bits_reversed;
}

MORV_REMUX::~MORV_REMUX()
{
    MORV_DEBUG_STREAM::print(100, "MORV_REMUX Destroyed");
}

void MORV_REMUX::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                  int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_REMUX::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    if (num_iters == s_UNSET_INT) num_iters = 1;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
}

void MORV_REMUX::add_failure(int reason, CDB_ATOM_NODE* mux)
{
    m_stats.add_failure(reason);
    if (reason == MORV_REMUX_LUTMASK_CHECK) print_mask_failure(m_net_util->get_lutmask(mux));
    else MORV_DEBUG_STREAM::print(100, "      Failed: %s", FAILURE_LABELS[reason]);
}

int MORV_REMUX::do_iter()
{
    MORV_DEBUG_STREAM::print(2, "REMUX: running remux routine...");
    MORV_DEBUG_STREAM::print(2, "REMUX: slack ratio: %f ", m_slack_ratio_threshold);
    CDB_ATOM_NETLIST* atom_netlist = m_fsyn_api->get_atom_netlist();
    MORV_ASSERT_TEXT(atom_netlist, "atom_netlist");
    const bool check_criticality = !cfg_is_on("fsyn_remux_dont_check_criticality", false);
    int remuxed = 0;
    for (auto it = atom_netlist->begin_node_list(); it != atom_netlist->end_node_list(); ++it) {
        CDB_ATOM_NODE* node = *it;
        MORV_ASSERT_TEXT(node, "node");
        if (!is_demuxed_node(m_fsyn_api, node)) continue;
        MORV_DEBUG_STREAM::print(100, "   Checking mux < %d >", static_cast<int>(node->get_id()));
        MORV_REMUX_PATTERN pm;
        CDB_ATOM_NODE* reg = nullptr;
        if (check_criticality && is_critical_mux(node)) {
            add_failure(MORV_REMUX_CRITICAL_MUX, node);
        } else if (analyse_mux(node, &pm, &reg)) {
            if (are_control_inputs_free(reg, pm)) {
                fold(node, reg, pm);
                ++m_stats.m_successes;
                ++remuxed;
            } else {
                add_failure(MORV_REMUX_UNAVAILABLE_ITERMS, node);
            }
        }
    }
    // Register controls changed: the host's timing netlist is rebuilt in full.
    if (remuxed > 0) m_fsyn_api->taint(nullptr);
    print_report();
    return remuxed;
}

bool MORV_REMUX::is_critical_mux(CDB_ATOM_NODE* mux)
{
    for (int k = 0; k < MORV_REMUX_LUT_INPUTS; ++k) {
        CDB_ATOM_ITERM* iterm = mux->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        if (m_fsyn_timing->get_slack_ratio(iterm) < m_slack_ratio_threshold) return true;
    }
    return false;
}

CDB_ATOM_NODE* MORV_REMUX::get_register_behind(CDB_ATOM_NODE* mux) const
{
    CDB_ATOM_OTERM* combout = mux->get_output_term_by_type(DB_COMB_OUT);
    if (combout == nullptr || combout->get_number_of_fanout() != 1) return nullptr;
    CDB_ATOM_ITERM* dst_iterm = combout->get_first_fanout();
    MORV_ASSERT_TEXT(dst_iterm, "dst_iterm");
    CDB_ATOM_NODE* dst_node = dst_iterm->get_my_node();
    MORV_ASSERT_TEXT(dst_node, "dst_node");
    if (!dst_iterm->is_used_as(DB_DATAIN) || !m_net_util->is_ff(dst_node)) return nullptr;
    return dst_node;
}

bool MORV_REMUX::analyse_mux(CDB_ATOM_NODE* mux_node, MORV_REMUX_PATTERN* pm, CDB_ATOM_NODE** reg_out)
{
    MORV_ASSERT_TEXT(mux_node, "mux_node");
    MORV_ASSERT_TEXT(pm, "pm");
    CDB_ATOM_OTERM* combout = mux_node->get_output_term_by_type(DB_COMB_OUT);
    if (combout == nullptr) {
        add_failure(MORV_REMUX_NO_COMBOUT, mux_node);
        return false;
    }
    CDB_ATOM_NODE* reg = get_register_behind(mux_node);
    if (reg == nullptr) {
        int reason = MORV_REMUX_NO_FANOUT_TO_DATAIN;
        if (combout->get_number_of_fanout() != 1) reason = MORV_REMUX_MULTIPLE_FANOUT;
        else if (combout->get_first_fanout()->is_used_as(DB_DATAIN)) reason = MORV_REMUX_NO_REG_ON_FANOUT;
        add_failure(reason, mux_node);
        return false;
    }
    if (reg_out != nullptr) *reg_out = reg;
    // A register reading its data inverted would toggle where the mux holds.
    CDB_ATOM_ITERM* reg_datain = reg->get_input_term_by_type(DB_DATAIN);
    if (!recognise_pattern(mux_node, pm) || (reg_datain != nullptr && reg_datain->reads_complemented())) {
        add_failure(MORV_REMUX_LUTMASK_CHECK, mux_node);
        return false;
    }
    if (pm->ena == MORV_NO_INPUT_PORT) return true;
    MORV_ASSERT_TEXT(pm->feedback != MORV_NO_INPUT_PORT, "pm->feedback != DB_MAX_INPUT_PORT_TYPE");
    CDB_ATOM_ITERM* fb_iterm = mux_node->get_input_term_by_type(pm->feedback);
    MORV_ASSERT_TEXT(fb_iterm, "fb_iterm");
    if (fb_iterm->reads_complemented()) {
        add_failure(MORV_REMUX_LUTMASK_CHECK, mux_node);
        return false;
    }
    if (fb_iterm->get_source() == nullptr || fb_iterm->get_source()->get_my_node() != reg) {
        add_failure(MORV_REMUX_WRONG_FEEDBACK, mux_node);
        return false;
    }
    return true;
}

int MORV_REMUX::find_feedback_input(CDB_ATOM_NODE* mux) const
{
    int fb_index = -1;
    int found = 0;
    for (int k = 0; k < MORV_REMUX_LUT_INPUTS; ++k) {
        CDB_ATOM_ITERM* iterm = mux->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        CDB_ATOM_NODE* src = iterm->get_source()->get_my_node();
        if (src == nullptr || !m_net_util->is_ff(src)) continue;
        CDB_ATOM_ITERM* din = src->get_input_term_by_type(DB_DATAIN);
        if (din == nullptr || din->get_source() == nullptr || din->get_source()->get_my_node() != mux) continue;
        fb_index = k;
        ++found;
    }
    if (found != 1) return -1;
    MORV_ASSERT_TEXT(fb_index < MORV_REMUX_LUT_INPUTS, "fb_index < MORV_REMUX_LUT_INPUTS");
    return fb_index;
}

bool MORV_REMUX::recognise_pattern(CDB_ATOM_NODE* mux, MORV_REMUX_PATTERN* pm) const
{
    CDB_LUTMASK m(MORV_REMUX_LUT_INPUTS, m_net_util->get_lutmask(mux));
    if (m_mirror_lutmask) m.mirror_mask();
    const int f = find_feedback_input(mux);
    if (f >= 0) {
        int e = 0;
        for (; e < MORV_REMUX_LUT_INPUTS; ++e) {
            if (m.is_independent_of(e)) continue;
            const bool high = is_wire_of(m.cofactor(e, false), f);
            if (!high && !is_wire_of(m.cofactor(e, true), f)) continue;
            pm->feedback = DB_DATA_A + f;
            pm->ena = DB_DATA_A + e;
            pm->ena_inverted = !high;
            m = m.cofactor(e, high);
            break;
        }
        if (e == MORV_REMUX_LUT_INPUTS) return false;
    }
    for (int s = 0; s < MORV_REMUX_LUT_INPUTS && !m.is_wire(); ++s) {
        if (m.is_independent_of(s)) continue;
        const CDB_LUTMASK c0 = m.cofactor(s, false), c1 = m.cofactor(s, true);
        const bool high = !c0.is_gnd() && c1.is_gnd() && !is_inverted_wire(c0);
        const bool low = c0.is_gnd() && !is_inverted_wire(c1);
        if (!high && !low) continue;
        pm->sclr = DB_DATA_A + s;
        pm->sclr_inverted = low;
        m = high ? c0 : c1;
        break;
    }
    for (int l = 0; l < MORV_REMUX_LUT_INPUTS && !m.is_wire(); ++l) {
        if (m.is_independent_of(l)) continue;
        const CDB_LUTMASK c0 = m.cofactor(l, false), c1 = m.cofactor(l, true);
        int sdata = -1;
        if (!c0.is_wire() || !c1.is_wire(&sdata)) continue;
        pm->sload = DB_DATA_A + l;
        pm->sdata = DB_DATA_A + sdata;
        m = c0;
        break;
    }
    int datain = -1;
    if (!m.is_wire(&datain)) return false;
    pm->datain = DB_DATA_A + datain;
    return true;
}

bool MORV_REMUX::are_control_inputs_free(CDB_ATOM_NODE* reg, const MORV_REMUX_PATTERN& pm) const
{
    if (reg == nullptr) return false;
    auto busy = [&](int port) { return m_net_util->is_connected(reg, port); };
    if (pm.ena != MORV_NO_INPUT_PORT && busy(DB_CLOCK_ENABLE)) return false;
    if (pm.sclr != MORV_NO_INPUT_PORT && busy(DB_SYNCH_CLEAR)) return false;
    if (pm.sload != MORV_NO_INPUT_PORT && busy(DB_SYNCH_LOAD)) return false;
    if (pm.sdata != MORV_NO_INPUT_PORT && (busy(DB_SYNCH_DATA) || busy(DB_ASYNCH_DATA))) return false;
    return true;
}

void MORV_REMUX::move_input(CDB_ATOM_NODE* mux, int mux_port, CDB_ATOM_NODE* reg, int reg_port, int invert,
                            const char* names[4])
{
    CDB_ATOM_ITERM* mux_iterm = mux->get_input_term_by_type(mux_port);
    MORV_ASSERT_TEXT(mux_iterm, names[0]);
    CDB_ATOM_OTERM* src = mux_iterm->get_source();
    MORV_ASSERT_TEXT(src, names[1]);
    CDB_ATOM_ITERM* reg_iterm = reg->get_input_term_by_type(reg_port);
    if (reg_iterm == nullptr && reg_port != DB_DATAIN) reg_iterm = m_net_util->create_iterm(reg, reg_port);
    MORV_ASSERT_TEXT(reg_iterm, names[2]);
    if (reg_port == DB_DATAIN) m_net_util->disconnect_iterm(reg_iterm, CDB_NET_ITERM::UNCONNECTED);
    else MORV_ASSERT_TEXT(!reg_iterm->is_connected(), names[3]);
    m_net_util->insert_fanout(src, reg_iterm);
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(mux_iterm, &properties);
    // The register reads the control as the mux did (its own inversion and
    // an active-low term included), then the pattern's polarity on top.
    if (invert >= 0)
        properties.inverted = ((invert != 0) != mux_iterm->reads_complemented()) != !reg_iterm->is_active_high();
    m_net_util->restore_iterm_properties(properties, reg_iterm);
}

void MORV_REMUX::fold(CDB_ATOM_NODE* mux, CDB_ATOM_NODE* reg, const MORV_REMUX_PATTERN& pm)
{
    MORV_ASSERT_TEXT(reg, "reg_node");
    MORV_DEBUG_STREAM::print(100, "      Remuxing node < %d > into reg < %d > (%s)", static_cast<int>(mux->get_id()),
                             static_cast<int>(reg->get_id()), pm.text().c_str());
    MORV_ASSERT_TEXT(pm.datain != MORV_NO_INPUT_PORT, "pm.datain != DB_MAX_INPUT_PORT_TYPE");
    const char* data_names[4] = {"mux_datain_iterm", "mux_datain_src_oterm", "reg_datain_iterm", ""};
    move_input(mux, pm.datain, reg, DB_DATAIN, -1, data_names);
    if (pm.ena != MORV_NO_INPUT_PORT) {
        const char* names[4] = {"mux_enable_iterm", "mux_enable_src_oterm", "reg_enable_iterm",
                                "!reg_enable_iterm->is_connected()"};
        move_input(mux, pm.ena, reg, DB_CLOCK_ENABLE, pm.ena_inverted ? 1 : 0, names);
        MORV_ASSERT_TEXT(pm.feedback != MORV_NO_INPUT_PORT, "pm.feedback != DB_MAX_INPUT_PORT_TYPE");
        MORV_ASSERT_TEXT(mux->get_input_term_by_type(pm.feedback), "mux_feedback_iterm");
    }
    if (pm.sclr != MORV_NO_INPUT_PORT) {
        const char* names[4] = {"mux_sclr_iterm", "mux_sclr_src_oterm", "reg_sclr_iterm",
                                "!reg_sclr_iterm->is_connected()"};
        move_input(mux, pm.sclr, reg, DB_SYNCH_CLEAR, pm.sclr_inverted ? 1 : 0, names);
    }
    if (pm.sload != MORV_NO_INPUT_PORT) {
        const char* names[4] = {"mux_sload_iterm", "mux_sload_src_oterm", "reg_sload_iterm",
                                "!reg_sload_iterm->is_connected()"};
        move_input(mux, pm.sload, reg, DB_SYNCH_LOAD, pm.sload_inverted ? 1 : 0, names);
        MORV_ASSERT_TEXT(pm.sdata != MORV_NO_INPUT_PORT, "pm.sdata != DB_MAX_INPUT_PORT_TYPE");
        const char* sdata_names[4] = {"mux_sdata_iterm", "mux_sdata_src_oterm", "reg_sdata_iterm",
                                      "!reg_sdata_iterm->is_connected()"};
        move_input(mux, pm.sdata, reg, DB_SYNCH_DATA, -1, sdata_names);
    }
}

void MORV_REMUX::print_report() const
{
    const int attempts = m_stats.m_successes + m_stats.m_failures;
    MORV_DEBUG_STREAM::print(2, "****************************");
    MORV_DEBUG_STREAM::print(2, "%s", "");
    MORV_DEBUG_STREAM::print(2, "FSYN REMUX STATS");
    MORV_DEBUG_STREAM::print(2, "%s", "");
    MORV_DEBUG_STREAM::print(2, "   Attempts: %d ", attempts);
    MORV_DEBUG_STREAM::print(2, "      Success: %d ( %2.2f%% ) ", m_stats.m_successes,
                             morv_percent(m_stats.m_successes, attempts));
    MORV_DEBUG_STREAM::print(2, "      Failure: %d ( %2.2f%% ) ", m_stats.m_failures,
                             morv_percent(m_stats.m_failures, attempts));
    for (const auto& [reason, count] : m_stats.m_fail_counts) {
        const char* label = reason >= 0 && reason < MORV_REMUX_FAILURE_COUNT ? FAILURE_LABELS[reason] : "";
        MORV_DEBUG_STREAM::print(2, "         %s: %d ( %2.2f%% ) ", label, count,
                                 morv_percent(count, m_stats.m_failures));
    }
    MORV_DEBUG_STREAM::print(2, "%s", "");
    MORV_DEBUG_STREAM::print(2, "****************************");
}
