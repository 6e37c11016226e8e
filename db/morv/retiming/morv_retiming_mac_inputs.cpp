// The registers in front of a multiplier's operand buses that a forward
// push packs into the DSP block, and the power-up value the block must
// keep when they move.

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_retiming_internal.h"
#include "morv/retiming/morv_retiming_mac.h"

namespace {

// Bits below the lowest set bit; the width when none is set.
int trailing_zeros(const std::vector<bool>& bits)
{
    for (size_t k = 0; k < bits.size(); ++k)
        if (bits[k]) return static_cast<int>(k);
    return static_cast<int>(bits.size());
}

}  // namespace

bool MORV_RETIMING::collect_mac_input_register(CDB_ATOM_NODE* mult, RETIME_REG& reg, int port_type)
{
    MORV_ASSERT_TEXT(mult && mult->is_mac_mult(), "mac && mac->is_mac_mult()");
    bool found = false, differs = false;
    for (auto it = mult->begin_iterm(); it != mult->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm->get_any_usage_as() != port_type || !iterm->is_driven()) continue;
        RETIME_REG bit_reg;
        if (!get_input_register(iterm, bit_reg)) return false;
        if (!found) {
            reg = bit_reg;
            found = true;
            continue;
        }
        if (!morv_retiming_same_clear_and_clock(reg, bit_reg)) return false;
        if (!is_register_compatible(reg, bit_reg)) differs = true;
    }
    if (!differs) return found;
    // Registers that differ only in their enables or synchronous controls
    // may become compatible once demuxed.
    for (auto it = mult->begin_iterm(); it != mult->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm->get_any_usage_as() != port_type || !iterm->is_driven()) continue;
        CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
        if (m_demux_queue.insert(driver))
            MORV_DEBUG_STREAM::print(100, "Inserted node %d to be demuxed", static_cast<int>(driver->get_id()));
    }
    return false;
}

bool MORV_RETIMING::mac_inputs_have_slack(CDB_ATOM_NODE* mult, int port_type)
{
    if (m_skew_mode) return true;
    for (auto it = mult->begin_iterm(); it != mult->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm->get_any_usage_as() != port_type || !iterm->is_driven()) continue;
        CDB_ATOM_NODE* reg_node = iterm->get_source()->get_my_node();
        if (oslack_less_islack(reg_node, m_mac_slack_threshold, true)) continue;
        MORV_DEBUG_STREAM::print(
            100, "MAC: Not enough input slack on external register {%s} to warrant forward push across MAC",
            MORV_NET_UTIL::get_hpath_name(reg_node).c_str());
        return false;
    }
    return true;
}

// The moved registers power up to 0 and the new output register does too,
// so the block must put out 0 from those registers at 0 and its constant
// pins. A packed register hides its pins' constants; an external one does
// not, and constant-1 bits of both operands make a product that is not 0.
bool MORV_RETIMING::mac_powers_up_to_zero(CDB_ATOM_NODE* mac)
{
    // The multipliers' output registers all power up to 0, and so does their sum.
    if (!mac->is_mac_mult()) return true;
    std::vector<bool> operand[2];
    for (int p = 0; p < 2; ++p) {
        const int port = p == 0 ? DB_DATA_A : DB_DATA_B;
        operand[p].assign(static_cast<size_t>(CUT_MAC_UTIL::get_input_port_width(mac, port)), false);
        if (CUT_MAC_UTIL::is_input_port_registered(mac, port)) continue;
        for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            const size_t bit = static_cast<size_t>(iterm->get_port_index());
            if (iterm->get_any_usage_as() == port && bit < operand[p].size() && iterm->is_logical_vcc())
                operand[p][bit] = true;
        }
    }
    // The product of two numbers is 2^(tz(a) + tz(b)) times an odd number,
    // so its low `width` bits are all 0 exactly when either is 0 or the
    // trailing zeros add up to the width.
    const int za = trailing_zeros(operand[0]);
    const int zb = trailing_zeros(operand[1]);
    if (za == static_cast<int>(operand[0].size()) || zb == static_cast<int>(operand[1].size())) return true;
    return za + zb >= CUT_MAC_UTIL::get_output_port_width(mac, DB_DATA_OUT);
}
