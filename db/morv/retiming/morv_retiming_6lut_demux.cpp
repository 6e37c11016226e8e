// Demuxing a register whose enable or synchronous clear is critical: one
// 6-input LUT computes the register's next value,
// C ? (D ? 0 : (F ? E : A)) : B, from its data (A), its own output (B), its
// enable (C), synchronous clear (D), synchronous data (E) and load (F), and
// the register keeps only its clock and clear.
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_remux.h"
#include "morv/retiming/morv_retiming_6lut.h"
#include "morv/timing/morv_opt_skew.h"

uint64_t morv_retiming_6lut_mux_mask(bool clear, bool enable, bool sdata)
{
    static const uint64_t k_masks[8] = {
        0x0,                    // nothing in use: no mux
        0x555555550000ffffULL,  // synchronous data
        0x3535353535353535ULL,  // enable
        0x3535353530303f3fULL,  // enable, synchronous data
        0x5500550055005500ULL,  // clear
        0x550055000000ff00ULL,  // clear, synchronous data
        0x3530353035303530ULL,  // clear, enable
        0x3530353030303f30ULL,  // clear, enable, synchronous data
    };
    return k_masks[(clear ? 4 : 0) | (enable ? 2 : 0) | (sdata ? 1 : 0)];
}

uint64_t morv_retiming_fold_input_high(uint64_t mask, int bit, bool reversed)
{
    uint64_t folded = 0;
    for (unsigned index = 0; index < 64; ++index) {
        const unsigned from = index | (1u << bit);
        const uint64_t value = (mask >> (reversed ? 63 - from : from)) & 1u;
        folded |= value << (reversed ? 63 - index : index);
    }
    return folded;
}

uint64_t MORV_RETIMING_6LUT::control_mux_mask(bool clear, bool enable, bool sdata, bool clear_high)
{
    const uint64_t mask = morv_retiming_6lut_mux_mask(clear || clear_high, enable, sdata);
    // The synchronous clear is the mux's DB_DATA_D, index bit 3.
    return clear_high ? morv_retiming_fold_input_high(mask, 3, true) : mask;
}

void MORV_RETIMING_6LUT::queue_for_demux(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_ff(node)) return;
    if (!is_input_critical(node, DB_CLOCK_ENABLE) && !is_input_critical(node, DB_SYNCH_CLEAR)) return;
    if (is_input_critical(node, DB_DATAIN)) return;
    m_demux_queue.insert(node);
    MORV_DEBUG_STREAM::print(100, "Inserted node %d to be demuxed", static_cast<int>(node->get_id()));
}

int MORV_RETIMING_6LUT::run_demuxer()
{
    MORV_DEBUG_STREAM::print(100, "Running the Demuxa");
    int demuxed = 0;
    for (CDB_ATOM_NODE* node : m_demux_queue) {
        if (!m_live_nodes.contains(node) || !m_net_util->is_ff(node)) continue;
        if (!m_net_util->is_connected(node, DB_CLOCK_ENABLE) && !m_net_util->is_connected(node, DB_SYNCH_CLEAR) &&
            !m_net_util->is_connected(node, DB_SYNCH_DATA))
            continue;
        CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
        if (morv_iterm_connected(aload) && !aload->is_logical_gnd()) continue;
        if (!can_demux_enable(node) || !create_control_mux(node)) continue;
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        MORV_DEBUG_STREAM::print(100, "DEMUXING {%s}", path_of(node));
        if (m_sload_demuxing && m_skew_mode && m_opt_skew) {
            m_opt_skew->reset_bwd_mobility(node);
            m_opt_skew->reset_fwd_mobility(node);
        }
        ++demuxed;
    }
    return demuxed;
}

void MORV_RETIMING_6LUT::tie_to_generator(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* iterm, bool value)
{
    CDB_ATOM_NODE* generator = m_net_util->create_lcell_comb(reg_node);
    MORV_ASSERT_TEXT(generator, "constant_generator");
    CDB_ATOM_OTERM* out = nullptr;
    m_cdb_interface->create_oterm(nullptr, out, generator, DB_COMB_OUT, generator->get_instance_name());
    MORV_ASSERT_TEXT(out, "constant_comb_out");
    m_cdb_interface->set_lutmask(generator, CDB_LUTMASK(6, value ? ~0ULL : 0ULL), 0);
    place_next_to(reg_node, generator);
    if (iterm->is_connected()) disconnect_iterm(iterm);
    if (iterm->is_inverted()) toggle_invert(iterm);
    m_net_util->insert_fanout(out, iterm);
    m_fsyn_api->modify_edge(iterm, false);
}

// The mux input reads what the register input read: its driver and saved
// properties, with the inversion bit kept only where asked (the data); a
// control's inversion comes back as an inverter cell afterwards.
void MORV_RETIMING_6LUT::feed_mux_input(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to,
                                        bool keep_invert, bool with_port)
{
    if (!morv_iterm_connected(from)) {
        // The design makes the mux's data input a constant 1 when the
        // register's data input is unconnected; here it is a constant 0, as
        // for any unconnected register input. By the register rule an open
        // data input reads 0, and the mux reads DB_DATA_A just when the
        // register would read its data input (enabled, not cleared, not
        // loading): a 1 there would load 1 where the register loads 0.
        tie_to_generator(reg_node, to, false);
        return;
    }
    if (!from->is_driven()) {
        tie_to_generator(reg_node, to, from->is_logical_vcc());
        return;
    }
    take_driver_of(from, to, keep_invert, with_port);
}

namespace {

struct MUX_CONTROLS
{
    CDB_ATOM_ITERM* enable = nullptr;
    CDB_ATOM_ITERM* sclear = nullptr;
    CDB_ATOM_ITERM* sdata = nullptr;
    CDB_ATOM_ITERM* sload = nullptr;
    bool enable_used = false, sclear_used = false, load_used = false;
    // A synchronous clear tied high clears on every enabled clock edge.
    bool sclear_high = false;
};

}  // namespace

bool MORV_RETIMING_6LUT::create_control_mux(CDB_ATOM_NODE* node)
{
    return build_control_mux(node, CONTROL_MUX_STYLE());
}

bool MORV_RETIMING_6LUT::build_control_mux(CDB_ATOM_NODE* node, const CONTROL_MUX_STYLE& style)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "create control_mux(): %s", path_of(node));
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr || m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return false;
    MUX_CONTROLS c;
    c.enable = node->get_input_term_by_type(DB_CLOCK_ENABLE);
    c.sclear = node->get_input_term_by_type(DB_SYNCH_CLEAR);
    c.sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    c.sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    MORV_ASSERT_TEXT(morv_iterm_connected(c.enable) || morv_iterm_connected(c.sclear) || morv_iterm_connected(c.sdata),
                     "enable_connected || sclear_connected || sdata_connected");
    if (morv_iterm_connected(c.enable) && c.enable->is_logical_gnd()) return false;
    c.enable_used = morv_iterm_connected(c.enable) && !c.enable->is_logical_vcc();
    // The design gives any connected clear DB_DATA_D, from a constant cell
    // when tied, and builds the mux for such a clear alone; here a clear tied
    // low counts as absent and one tied high is folded into the mask. A
    // constant needs no mux input, and a mux for a clear that never acts
    // would only put a cell and a LUT delay in front of the data input.
    c.sclear_used = morv_iterm_connected(c.sclear) && c.sclear->is_driven();
    c.sclear_high = morv_iterm_connected(c.sclear) && !c.sclear->is_driven() && c.sclear->is_logical_vcc();
    // The design stops with an internal error on synchronous data without a
    // connected load, feeds a load tied low to DB_DATA_F, and gives the load
    // a mux input only when the synchronous data is connected (disconnecting
    // it from the register all the same); here the load decides. A register
    // whose load is open or tied low never loads (a valid netlist, not a
    // fault): its synchronous data changes nothing and takes no mux input.
    // A live load with open synchronous data loads 0 by the register rule:
    // DB_DATA_E reads a constant 0, where the design's mux would drop the
    // load and compute the register as if it never loaded. The register is
    // not refused (as the 4-LUT mux refuses a live load): a constant cell
    // gives the mux its 0, and the critical controls still leave the path.
    c.load_used = morv_iterm_connected(c.sload) && !c.sload->is_logical_gnd();
    if (!c.enable_used && !c.sclear_used && !c.sclear_high && !c.load_used) return false;
    // A mux with nothing to drive would take the controls and lose them.
    CDB_ATOM_ITERM* data_in = node->get_input_term_by_type(DB_DATAIN);
    if (data_in == nullptr && !style.makes_data_input) return false;

    CDB_ATOM_NODE* mux = m_net_util->create_lcell_comb(node);
    MORV_ASSERT_TEXT(mux, "mux");
    CDB_ATOM_OTERM* mux_out = nullptr;
    m_cdb_interface->create_oterm(nullptr, mux_out, mux, DB_COMB_OUT, mux->get_instance_name());
    MORV_ASSERT_TEXT(mux_out, "mux_out");
    m_cdb_interface->set_lutmask(
        mux, CDB_LUTMASK(6, control_mux_mask(c.sclear_used, c.enable_used, c.load_used, c.sclear_high)), 0);
    place_next_to(node, mux);
    MORV_REMUX::add_demuxed_node(m_fsyn_api, static_cast<int>(mux->get_id()));

    // The register's data inversion goes onto the mux's data input alone.
    CDB_ATOM_ITERM* mux_data = create_mux_input(mux, DB_DATA_A);
    if (morv_iterm_connected(data_in) || style.open_data_tied_low)
        feed_mux_input(node, data_in, mux_data, true, style.mux_takes_ports);
    std::vector<std::pair<CDB_ATOM_ITERM*, CDB_ATOM_ITERM*>> inverted;  // mux input, register input
    const auto feed = [&](CDB_ATOM_ITERM* from, int port) {
        CDB_ATOM_ITERM* to = create_mux_input(mux, port);
        if (morv_iterm_driven_inverted(from)) inverted.emplace_back(to, from);
        feed_mux_input(node, from, to, false, style.mux_takes_ports);
    };
    if (c.enable_used) {
        feed(c.enable, DB_DATA_C);
        m_net_util->insert_fanout(regout, create_mux_input(mux, DB_DATA_B));
    }
    if (c.sclear_used) feed(c.sclear, DB_DATA_D);
    if (c.load_used) {
        feed(c.sdata, DB_DATA_E);
        feed(c.sload, DB_DATA_F);
    }
    for (CDB_ATOM_ITERM* control : {c.sclear, c.enable, c.sload, c.sdata}) {
        if (control == nullptr) continue;
        m_fsyn_api->set_boundary_port_id(control, -1);
        if (control->is_connected()) disconnect_iterm(control);
    }
    if (data_in == nullptr) m_cdb_interface->create_input_term(nullptr, data_in, node, DB_DATAIN, 0);
    if (data_in->is_connected()) disconnect_iterm(data_in);
    clear_inverted_term_routing(data_in);
    MORV_ASSERT_TEXT(data_in && !data_in->is_connected(), "data_in && !m_net_util->is_connected(data_in)");
    if (data_in->is_inverted()) toggle_invert(data_in);
    m_net_util->insert_fanout(mux_out, data_in);
    for (const auto& [mux_input, reg_input] : inverted) {
        insert_inverter_lcell(mux_input);
        m_fsyn_api->set_boundary_port_id(mux_input, -1);
    }
    if (style.announces_register) m_fsyn_api->modify_node(node);
    else m_fsyn_api->modify_edge(data_in, false);
    return true;
}
