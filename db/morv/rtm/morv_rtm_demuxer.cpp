// The register demuxer: one mux LUT per queued register computes what the
// register's controls would have made of its next state (a low enable
// holds, the synchronous clear wins over the synchronous load), and the
// register keeps only its clock, clear and data input.
#include "morv/rtm/morv_rtm_demuxer.h"

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/rtm/morv_rtm_edit.h"

namespace {

constexpr int k_mux_inputs = 6;

// Row r = A + 2B + 4C + 8D + 16E + 32F with A the data, B the register's
// own output, C the enable, D the synchronous clear, E the synchronous data
// and F the synchronous load.
struct MODE_MASK
{
    int m_mode;
    uint64_t m_mask;
};
constexpr MODE_MASK k_mode_masks[] = {
    {3, 0xACACACACACACACACull},  {5, 0x00AA00AA00AA00AAull},  {7, 0x0CAC0CAC0CAC0CACull},  {25, 0xFFFF0000AAAAAAAAull},
    {27, 0xFCFC0C0CACACACACull}, {29, 0x00FF000000AA00AAull}, {31, 0x0CFC0C0C0CAC0CACull},
};

}  // namespace

MORV_RTM_DEMUXER::MORV_RTM_DEMUXER(MORV_API* api, bool mirror)
    : m_fsyn_api(api), m_net_util(nullptr), m_fsyn_cdb_interface(nullptr), m_mirror_lutmasks(mirror)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_fsyn_cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
    m_reg_to_comb_port_map = {{DB_DATAIN, DB_DATA_A},
                              {DB_CLOCK_ENABLE, DB_DATA_C},
                              {DB_SYNCH_CLEAR, DB_DATA_D},
                              {DB_SYNCH_DATA, DB_DATA_E},
                              {DB_SYNCH_LOAD, DB_DATA_F}};
    m_port_to_bit_map = {{DB_DATAIN, 1 << 0},
                         {DB_CLOCK_ENABLE, 1 << 1},
                         {DB_SYNCH_CLEAR, 1 << 2},
                         {DB_SYNCH_DATA, 1 << 3},
                         {DB_SYNCH_LOAD, 1 << 4}};
}

int MORV_RTM_DEMUXER::run(const std::set<int>& atom_ids)
{
    MORV_DEBUG_STREAM::print(2, "Running the Demuxer...");
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "m_morv_env");
    int count = 0;
    for (int id : atom_ids) {
        CDB_ATOM_NODE* node = env->get_node(id);
        if (node == nullptr || !is_demuxable(node)) continue;
        demux_register(node);
        ++count;
    }
    MORV_DEBUG_STREAM::print(2, "Demuxed < %d > nodes", count);
    return count;
}

// Beyond the register tests, the connected controls must form one of the
// seven modes: any other combination (a synchronous load without its data,
// say) has no mux function, and the register is left as it is.
bool MORV_RTM_DEMUXER::is_demuxable(CDB_ATOM_NODE* node) const
{
    if (node == nullptr || !node->is_lcell_ff()) return false;
    bool has_control = false;
    for (int type : {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_DATA, DB_SYNCH_LOAD})
        has_control = has_control || morv_iterm_connected(node->get_input_term_by_type(type, 0));
    if (!has_control) return false;
    CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD, 0);
    if (morv_iterm_connected(aload) && !aload->is_logical_gnd()) return false;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr || m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return false;
    int mode = 0;
    for (const auto& [type, bit] : m_port_to_bit_map)
        if (morv_iterm_connected(node->get_input_term_by_type(type, 0))) mode |= bit;
    CDB_LUTMASK unused;
    return get_mode_lutmask(mode, &unused);
}

void MORV_RTM_DEMUXER::add_port_to_mode(int port_type, int* mode) const
{
    auto found = m_port_to_bit_map.find(port_type);
    MORV_ASSERT_TEXT(found != m_port_to_bit_map.end(), "m_port_to_bit_map.find(type) != m_port_to_bit_map.end()");
    *mode |= found->second;
}

int MORV_RTM_DEMUXER::get_input_signals_and_mode(CDB_ATOM_NODE* reg_node, MORV_RTM_SIGNAL_LIST* input_signals) const
{
    MORV_ASSERT_TEXT(input_signals, "input_signals");
    int mode = 0;
    for (const auto& [type, comb_type] : m_reg_to_comb_port_map) {
        CDB_ATOM_ITERM* iterm = reg_node->get_input_term_by_type(type, 0);
        if (!morv_iterm_connected(iterm)) continue;
        MORV_OWNER<MORV_RTM_SIGNAL> signal(MORV_NEW(MORV_RTM_SIGNAL, type, iterm));
        MORV_ASSERT_TEXT(signal, "signal");
        input_signals->push_back(std::move(signal));
        add_port_to_mode(type, &mode);
    }
    return mode;
}

bool MORV_RTM_DEMUXER::get_mode_lutmask(int mode, CDB_LUTMASK* lutmask_ret) const
{
    for (const MODE_MASK& entry : k_mode_masks) {
        if (entry.m_mode != mode) continue;
        *lutmask_ret = CDB_LUTMASK(k_mux_inputs, entry.m_mask);
        if (m_mirror_lutmasks) lutmask_ret->mirror_mask();
        return true;
    }
    return false;
}

int MORV_RTM_DEMUXER::mux_position(int reg_port_type) const
{
    auto found = m_reg_to_comb_port_map.find(reg_port_type);
    MORV_ASSERT_TEXT(found != m_reg_to_comb_port_map.end(),
                     "m_reg_to_comb_port_map.find(reg_type) != m_reg_to_comb_port_map.end()");
    return found->second - DB_DATA_A;
}

void MORV_RTM_DEMUXER::demux_register(CDB_ATOM_NODE* reg_node)
{
    MORV_ASSERT_TEXT(reg_node && reg_node->is_lcell_ff(), "reg_node->is_lcell_ff()");
    MORV_RTM_SIGNAL_LIST signals;
    const int mode = get_input_signals_and_mode(reg_node, &signals);
    MORV_DEBUG_STREAM::print(2, "   Demuxing node < %d > in mode < %d >", static_cast<int>(reg_node->get_id()), mode);
    CDB_LUTMASK mask;
    MORV_ASSERT_TEXT(get_mode_lutmask(mode, &mask), "get_mode_lutmask(mode)");
    // Folded before the register's terms are disconnected: the fold reads
    // the polarity of the register's ports.
    fold_signal_properties(reg_node, &signals, &mask);
    CDB_ATOM_NODE* mux = create_mux(reg_node);
    connect_mux_inputs(mux, reg_node, &signals);
    m_fsyn_cdb_interface->set_lutmask(mux, mask, 0);
    m_fsyn_api->modify_node(mux);
    rewire_register(reg_node, mux, mode);
}

CDB_ATOM_NODE* MORV_RTM_DEMUXER::create_mux(CDB_ATOM_NODE* reg_node)
{
    CDB_ATOM_NODE* mux = m_net_util->create_lcell_comb(reg_node);
    MORV_ASSERT_TEXT(mux, "mux_node");
    m_net_util->create_oterm(mux, mux, DB_COMB_OUT, 0);
    morv_rtm_place_like(m_fsyn_api, mux, reg_node);
    m_fsyn_api->node_added(mux, reg_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    return mux;
}

void MORV_RTM_DEMUXER::rewire_register(CDB_ATOM_NODE* reg_node, CDB_ATOM_NODE* mux_node, int mode)
{
    CDB_ATOM_ITERM* datain = reg_node->get_input_term_by_type(DB_DATAIN, 0);
    MORV_ASSERT_TEXT(datain, "datain");
    CDB_ATOM_OTERM* combout = mux_node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(combout, "combout");
    morv_rtm_move_iterm(m_fsyn_api, datain, combout);
    m_net_util->reset_iterm_properties(datain);
    if ((mode & m_port_to_bit_map.at(DB_CLOCK_ENABLE)) == 0) return;
    CDB_ATOM_OTERM* regout = reg_node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    CDB_ATOM_ITERM* feedback = m_net_util->create_iterm(mux_node, DB_DATA_B);
    MORV_ASSERT_TEXT(feedback, "iterm_fb");
    morv_rtm_connect(m_fsyn_api, regout, feedback);
}

void MORV_RTM_DEMUXER::connect_mux_inputs(CDB_ATOM_NODE* mux_node, CDB_ATOM_NODE* reg_node,
                                          const MORV_RTM_SIGNAL_LIST* input_signals)
{
    MORV_ASSERT_TEXT(mux_node, "mux_node");
    MORV_ASSERT_TEXT(reg_node, "reg_node");
    MORV_ASSERT_TEXT(input_signals, "input_signals");
    for (const MORV_OWNER<MORV_RTM_SIGNAL>& signal : *input_signals) {
        CDB_ATOM_ITERM* reg_iterm = reg_node->get_input_term_by_type(signal->get_port_type(), 0);
        MORV_ASSERT_TEXT(reg_iterm, "reg_iterm");
        if (signal->get_src_oterm() != nullptr) {
            const int comb_type = DB_DATA_A + mux_position(signal->get_port_type());
            CDB_ATOM_ITERM* mux_iterm = m_net_util->create_iterm(mux_node, comb_type);
            MORV_ASSERT_TEXT(mux_iterm, "mux_iterm");
            morv_rtm_connect(m_fsyn_api, signal->get_src_oterm(), mux_iterm);
            m_net_util->restore_iterm_properties(signal->get_iterm_properties(), mux_iterm);
            // The inversion is in the mask.
            m_net_util->clear_invert(mux_iterm);
        } else {
            MORV_ASSERT_TEXT(signal->is_gnd() || signal->is_vcc(), "signal->is_gnd() || signal->is_vcc()");
        }
        morv_rtm_disconnect(m_fsyn_api, reg_iterm);
    }
}

// A driven input reaches the mux without its inversion bit, so the mask
// complements what the register read through the bit and an active-low
// port. A constant is the value the register read (the record keeps no
// inversion bit beside it), held once.
void MORV_RTM_DEMUXER::fold_signal_properties(CDB_ATOM_NODE* reg_node, const MORV_RTM_SIGNAL_LIST* input_signals,
                                              CDB_LUTMASK* lutmask_ret) const
{
    MORV_ASSERT_TEXT(lutmask_ret, "lutmask_ret");
    MORV_ASSERT_TEXT(input_signals, "input_signals");
    for (const MORV_OWNER<MORV_RTM_SIGNAL>& signal : *input_signals) {
        const int k = mux_position(signal->get_port_type());
        if (signal->is_vcc() || signal->is_gnd()) {
            const bool high = signal->is_vcc() != m_mirror_lutmasks;
            set_lutmask_input_constant(lutmask_ret, k, high ? 1 : 0);
            continue;
        }
        const bool active_low = !reg_node->is_active_high(signal->get_port_type());
        if (signal->is_inverted() != active_low) lutmask_ret->invert_input(k);
    }
}

void MORV_RTM_DEMUXER::set_lutmask_input_constant(CDB_LUTMASK* lutmask, int index, int constant)
{
    MORV_ASSERT_TEXT(lutmask, "lutmask");
    MORV_ASSERT_TEXT(constant == 0 || constant == 1, "constant == 0 || constant == 1");
    const int size = lutmask->get_num_inputs();
    MORV_ASSERT_TEXT(index >= 0 && index < size, "index >= 0 && index < mask_size");
    const int bit = 1 << index;
    for (int row = 0; row < lutmask->get_num_rows(); ++row) {
        const int from = constant == 1 ? (row | bit) : (row & ~bit);
        lutmask->set_bit(row, lutmask->get_bit(from));
    }
}
