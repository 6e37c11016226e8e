// The DSP slice table of the skew-driven engine and the records of the
// registers a DSP block carries on its data output.
#include <set>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/rtm/morv_rtm.h"
#include "morv/rtm/morv_rtm_internal.h"

const char* MORV_RTM::mac_mode_name(int mode)
{
    switch (mode) {
    case 0: return "simple multiplier mode";
    case 1: return "multiply/accumulate mode";
    case 3: return "two mult -> add mode";
    case 5: return "four mult -> add mode";
    case 7: return "36-bit adder mode";
    case 8: return "dynamic mode";
    default: return "";
    }
}

void MORV_RTM::check_mac_node(const CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_mac_mult() || node->is_mac_out(), "node->is_mac_mult() || node->is_mac_out()");
}

void MORV_RTM::generate_mac_slice_info()
{
    MORV_DEBUG_STREAM::print(2, "-GENERATING MAC SLICE RETIMING INFO-");
    m_mac_slices.clear();
    for (CDB_ATOM_NODE* mac_out : *m_fsyn_api->get_atom_netlist()) {
        if (!mac_out->is_mac_out()) continue;
        std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>> mac_mults;
        for (int type : m_mac_out_data_iterms) {
            for (int index = 0; index < m_mac_port_width; ++index) {
                CDB_ATOM_ITERM* iterm = mac_out->get_input_term_by_type(type, index);
                if (iterm == nullptr || iterm->get_source() == nullptr) continue;
                CDB_ATOM_NODE* source_node = iterm->get_source()->get_my_node();
                MORV_ASSERT_TEXT(source_node, "source_node");
                MORV_ASSERT_TEXT(source_node->is_mac_mult(), "source_node->is_mac_mult()");
                mac_mults.insert(source_node);
            }
        }
        MORV_ASSERT_TEXT(mac_mults.size() <= 4 && mac_mults.size() > 0,
                         "mac_mult_set.size() <= 4 && mac_mult_set.size() > 0");
        MORV_RTM_MAC_SLICE slice;
        slice.m_mac_mults.assign(mac_mults.begin(), mac_mults.end());
        slice.m_mac_out = mac_out;
        slice.m_mode = CUT_MAC_UTIL::get_mode(mac_out);
        MORV_DEBUG_STREAM::print(2, "Inserting MAC { %d } in mode {%s} with {%d} MAC_MULTS",
                                 static_cast<int>(mac_out->get_id()), mac_mode_name(slice.m_mode),
                                 static_cast<int>(slice.m_mac_mults.size()));
        m_mac_slices.push_back(slice);
    }
    MORV_DEBUG_STREAM::print(2, "MAC Slices Found: %d", static_cast<int>(m_mac_slices.size()));
    MORV_DEBUG_STREAM::print(2, "------------------------------------");
}

bool MORV_RTM::find_mac_slice(CDB_ATOM_NODE* node, MORV_RTM_MAC_SLICE* slice_ret) const
{
    check_mac_node(node);
    MORV_ASSERT_TEXT(slice_ret, "slice_ret");
    for (const MORV_RTM_MAC_SLICE& slice : m_mac_slices) {
        bool found = slice.m_mac_out == node;
        for (CDB_ATOM_NODE* mult : slice.m_mac_mults) found = found || mult == node;
        if (!found) continue;
        *slice_ret = slice;
        return true;
    }
    return false;
}

CDB_ATOM_OTERM* MORV_RTM::get_mac_output_ref_oterm(CDB_ATOM_NODE* node) const
{
    check_mac_node(node);
    for (int index = 0; index < 2 * m_mac_port_width; ++index) {
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_DATA_OUT, index);
        if (oterm != nullptr && oterm->has_fanout()) return oterm;
    }
    return nullptr;
}

bool MORV_RTM::have_compatible_timing(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2) const
{
    MORV_ASSERT_TEXT(reg_1 && reg_1->m_ref_oterm, "reg_1");
    MORV_ASSERT_TEXT(reg_2 && reg_2->m_ref_oterm, "reg_2");
    const int answer = m_fsyn_api->compare_oterms_for_timing(reg_1->m_ref_oterm, reg_2->m_ref_oterm);
    return answer == MORV_RTM_TIMING_ALIKE_EXACT || answer == MORV_API::s_TIMING_EQUIVALENT;
}

MORV_OWNER<MORV_RTM_REG> MORV_RTM::new_mac_output_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* ref_oterm) const
{
    MORV_RTM_PACK_INFO slots;
    slots.m_clock_index = CUT_MAC_UTIL::get_output_port_clock(node, DB_DATA_OUT);
    slots.m_clear_index = CUT_MAC_UTIL::get_output_port_clear(node, DB_DATA_OUT);
    slots.m_output_type = DB_DATA_OUT;
    MORV_OWNER<MORV_RTM_REG> reg(MORV_NEW(MORV_RTM_REG, node, &m_register_secondary_signals, slots));
    MORV_ASSERT_TEXT(reg, "reg");
    reg->m_ref_oterm = ref_oterm;
    return reg;
}

// Output bits with different timing assignments are ordinary data: the
// move that asks for the register fails with the timing reason instead of
// stopping the run.
MORV_OWNER<MORV_RTM_REG> MORV_RTM::create_mac_output_register(CDB_ATOM_NODE* node, MORV_RTM_OP* retiming_operation)
{
    check_mac_node(node);
    MORV_ASSERT_TEXT(retiming_operation, "retiming_operation");
    if (!CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT)) return nullptr;
    MORV_OWNER<MORV_RTM_REG> reg;
    for (int index = 0; index < 2 * m_mac_port_width; ++index) {
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_DATA_OUT, index);
        if (oterm == nullptr || !oterm->has_fanout()) continue;
        if (!reg) {
            reg = new_mac_output_register(node, oterm);
            continue;
        }
        MORV_OWNER<MORV_RTM_REG> bit = reg->clone();
        MORV_ASSERT_TEXT(bit, "tmp_reg");
        bit->m_ref_oterm = oterm;
        MORV_ASSERT_TEXT(MORV_RTM_REG::have_same_secondary_signals(reg.get(), bit.get(), &m_register_secondary_signals),
                         "What is this???");
        if (!have_compatible_timing(reg.get(), bit.get())) {
            retiming_operation->m_failure_reason = MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
            return nullptr;
        }
    }
    return reg;
}

MORV_RTM_REG* MORV_RTM::add_mac_output_register_to_unpack(MORV_RTM_OP* retiming_operation, CDB_ATOM_NODE* node)
{
    check_mac_node(node);
    MORV_ASSERT_TEXT(retiming_operation, "retiming_operation");
    MORV_OWNER<MORV_RTM_REG> reg = create_mac_output_register(node, retiming_operation);
    if (!reg) {
        if (retiming_operation->is_legal()) retiming_operation->m_failure_reason = MORV_RTM_NO_REG_ON_OUTPUT;
        return nullptr;
    }
    CDB_ATOM_OTERM* ref_oterm = get_mac_output_ref_oterm(node);
    MORV_ASSERT_TEXT(ref_oterm, "ref_oterm");
    reg->m_pack_info.m_clock_index = CUT_MAC_UTIL::get_output_port_clock(node, DB_DATA_OUT);
    reg->m_pack_info.m_clear_index = CUT_MAC_UTIL::get_output_port_clear(node, DB_DATA_OUT);
    reg->m_pack_info.m_input_type = DB_MAX_INPUT_PORT_TYPE;
    reg->m_pack_info.m_output_type = DB_DATA_OUT;
    reg->m_mac_oterm = ref_oterm;
    reg->m_ref_oterm = ref_oterm;
    MORV_RTM_REG* added = reg.get();
    retiming_operation->add_register_to_unpack(std::move(reg));
    return added;
}
