// Register pushes: one group of equivalent registers moved across one cell
// or a whole carry chain. Collection asks the family hooks what would be
// consumed and created and changes nothing in the netlist (it may queue
// cells for splitting and registers for the demuxer); commit then makes the
// recorded edits through the hooks.
#include <algorithm>
#include <iterator>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_retiming_internal.h"

namespace {

constexpr int k_max_forward_ports = 64;

// The answers of compare_oterms_for_timing that make two register outputs
// interchangeable.
bool timing_equivalent(int answer)
{
    return answer == 1 || answer == 2;
}

void adopt_sload(RETIME_REG& ref, const RETIME_REG& cur)
{
    if (cur.signals[RETIME_SYNCH_LOAD].source != nullptr && ref.signals[RETIME_SYNCH_LOAD].source == nullptr)
        ref.signals[RETIME_SYNCH_LOAD] = cur.signals[RETIME_SYNCH_LOAD];
}

}  // namespace

// Every field of a control counts, the delay-chain fields included: a
// register whose clock reaches it through another delay setting is clocked
// at another time and cannot stand for this one.
bool MORV_RETIMING::is_register_compatible(RETIME_REG& a, RETIME_REG& b)
{
    for (int control : {RETIME_CLEAR, RETIME_SYNCH_CLEAR, RETIME_CLOCK, RETIME_CLOCK_ENABLE})
        if (!(a.signals[control] == b.signals[control])) return false;
    if (m_sload_push) {
        const RETIME_SIGNAL& sa = a.signals[RETIME_SYNCH_LOAD];
        const RETIME_SIGNAL& sb = b.signals[RETIME_SYNCH_LOAD];
        if (sa.source != nullptr && sb.source != nullptr && !(sa == sb)) return false;
    }
    CDB_ATOM_OTERM* ra = resolve_regout(a.regout);
    CDB_ATOM_OTERM* rb = resolve_regout(b.regout);
    if (ra == nullptr || rb == nullptr) return true;
    return timing_equivalent(m_fsyn_api->compare_oterms_for_timing(ra, rb));
}

CDB_ATOM_OTERM* MORV_RETIMING::resolve_regout(CDB_ATOM_OTERM* oterm)
{
    if (oterm == nullptr) return nullptr;
    if (oterm->get_host_index() >= 0) return oterm;
    auto found = m_regout_alias.find(oterm);
    return found == m_regout_alias.end() ? nullptr : found->second;
}

void MORV_RETIMING::alias_regout(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm)
{
    MORV_ASSERT_TEXT(new_oterm, "new_oterm");
    if (new_oterm == old_oterm || new_oterm->get_host_index() >= 0) return;
    if (old_oterm != nullptr && old_oterm->get_host_index() >= 0) {
        m_regout_alias[new_oterm] = old_oterm;
        return;
    }
    auto found = m_regout_alias.find(old_oterm);
    if (found != m_regout_alias.end()) m_regout_alias[new_oterm] = found->second;
    else m_regout_alias.erase(new_oterm);
}

void MORV_RETIMING::record_register_origin(CDB_ATOM_OTERM* new_out, CDB_ATOM_OTERM* pushed_out)
{
    auto origin = m_regout_alias.find(pushed_out);
    m_regout_alias[new_out] = origin != m_regout_alias.end() ? origin->second : pushed_out;
}

void MORV_RETIMING::forget_register_origins()
{
    m_regout_alias.clear();
}

bool MORV_RETIMING::passes_age_test(CDB_ATOM_NODE* reg_node)
{
    auto found = m_register_age.find(static_cast<int>(reg_node->get_id()));
    const int age = found == m_register_age.end() ? 0 : found->second;
    if (age <= m_push_max_age) return true;
    m_push_max_age = age;
    if (m_max_age != 0 && age >= m_max_age) {
        MORV_DEBUG_STREAM::print(100, "Push aborted due to maximum register age of %d", m_max_age);
        return false;
    }
    return true;
}

void MORV_RETIMING::reset_push()
{
    m_fsyn_nt_op_type = s_NT_OP_UNSET;
    m_operation_text = "NOPE";
    m_insert_list0.clear();
    m_insert_list1.clear();
    m_remove_set.clear();
    m_new_register_iterms.clear();
    m_iterms_to_disconnect.clear();
    m_output_registers.clear();
    m_inverted_nodes.clear();
    insert_set0.clear();
    insert_set1.clear();
    delete_set0.clear();
    m_mac_pending.clear();
    m_mac_iterms.clear();
    m_consumed_register_ids.clear();
    m_push_max_age = -1;
}

void MORV_RETIMING::prepare_commit()
{
    for (CDB_ATOM_NODE* node : delete_set0) m_remove_set.insert(node);
    for (const RETIME_ITERM& element : insert_set0) {
        m_insert_list0.insert(element);
        m_new_register_iterms.insert(element.iterm);
    }
    for (const RETIME_ITERM& element : insert_set1) {
        m_insert_list1.insert(element);
        m_new_register_iterms.insert(element.iterm);
    }
}

// Removals, disconnections and output registers, then insertions.
void MORV_RETIMING::commit()
{
    for (const auto& [mult, port] : m_mac_pending) retime_mac_input_port(mult, port);
    if (!m_retime_backwards) {
        for (CDB_ATOM_ITERM* iterm : m_iterms_to_disconnect) {
            MORV_ASSERT_TEXT(iterm, "iterm");
            disconnect_register(iterm);
        }
        for (const auto& [oterm, reg] : m_output_registers) {
            MORV_ASSERT_TEXT(oterm, "oterm");
            add_register_on_output(oterm, reg);
        }
        return;
    }
    for (CDB_ATOM_NODE* node : m_remove_set) remove_register(node);
    for (const RETIME_ITERM& element : m_insert_list0) insert_register(element);
    for (const RETIME_ITERM& element : m_insert_list1) {
        insert_register(element);
        m_new_register_iterms.erase(element.iterm);
    }
    // A multiplier gives up its packed input registers last, once the
    // registers that replace them are in.
    for (const auto& [mult, port] : m_mac_pending) unregister_mac_input_port(mult, port);
}

// ------------------------------------------------------------ backward

bool MORV_RETIMING::first_fanout_register(CDB_ATOM_OTERM* oterm, RETIME_REG& reg, bool mac_check)
{
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fiterm = *it;
        MORV_ASSERT_TEXT(fiterm->is_connected(), "m_net_util->is_connected (fiterm)");
        CDB_ATOM_OTERM* found = backward_push_get_reg(fiterm, reg, true);
        CDB_ATOM_NODE* node = fiterm->get_my_node();
        if (found == nullptr || m_remove_set.contains(node) || m_new_registers.contains(node)) continue;
        if (!m_skew_mode && mac_check && oslack_less_islack(found->get_my_node(), -m_mac_slack_threshold, false)) {
            MORV_DEBUG_STREAM::print(100, "MAC: Not enough output slack on register to warrant backward push");
            return false;
        }
        if (!m_skew_mode && m_greedy && oslack_less_islack(found->get_my_node(), 0.0, false)) return false;
        return true;
    }
    return false;
}

// One fanout term of the output a backward push takes its registers from.
bool MORV_RETIMING::check_fanout_register(CDB_ATOM_ITERM* fiterm, RETIME_REG& ref, bool& first)
{
    RETIME_REG rec;
    if (backward_push_get_reg(fiterm, rec, true) == nullptr || !is_register_compatible(ref, rec)) return false;
    CDB_ATOM_NODE* node = fiterm->get_my_node();
    if (m_remove_set.contains(node)) return false;
    if (fiterm->get_source()->get_usage() != DB_HSADDER_SUM_1) {
        if (ref.clear_low != rec.clear_low) return false;
    } else {
        if (!first && rec.clear_low != ref.secondary_clear_low) return false;
        if (m_sload_push) adopt_sload(ref, rec);
        ref.secondary_clear_low = rec.clear_low;
        first = false;
    }
    morv_retiming_share_locked_region(ref, rec);
    MORV_ASSERT_TEXT(node, "fiterm_node");
    if (node->is_lcell_comb()) {
        MORV_ASSERT_TEXT(is_wire_lut(node), "is_wire_lut(fiterm_node)");
        CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
        MORV_ASSERT_TEXT(combout, "fnode_combout");
        MORV_ASSERT_TEXT(combout->has_fanout(), "m_net_util->is_connected(fnode_combout)");
        node = combout->get_first_fanout()->get_my_node();
        MORV_ASSERT_TEXT(node, "fiterm_node");
        MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(fiterm_node)");
    }
    // A multiplier's packed input register goes with every packed input
    // register of its slice; the term reached here gets no new register.
    if (node->is_mac_mult()) {
        if (!collect_mac_slice_input_registers(node)) return false;
        m_mac_iterms.insert(fiterm);
        return true;
    }
    delete_set0.insert(node);
    m_consumed_register_ids.push_back(MORV_NT_NODE_ID(static_cast<int>(node->get_id()), 0));
    return true;
}

bool MORV_RETIMING::all_fanouts_compatible(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, RETIME_REG& ref)
{
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        if (m_new_registers.contains((*it)->get_my_node())) return false;
    bool first = true;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        if (check_fanout_register(*it, ref, first)) continue;
        m_split_set.insert(node);
        return false;
    }
    return true;
}

bool MORV_RETIMING::collect_output_register(CDB_ATOM_NODE* node, RETIME_REG& reg_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_OTERM* secondary = get_secondary_output_term(node);
    CDB_ATOM_OTERM* hsadder = get_hsadder_output_term(node);
    CDB_ATOM_OTERM* combout = m_net_util->is_lut(node) ? node->get_output_term_by_type(DB_COMB_OUT) : nullptr;
    auto has_fanout = [](CDB_ATOM_OTERM* o) { return o != nullptr && o->get_first_fanout() != nullptr; };
    bool found = false;
    if (is_lutout_feeding_regout(node)) found = get_lutout_register(node, reg_ret);
    else if (has_fanout(combout)) found = first_fanout_register(combout, reg_ret, false);
    else if (has_fanout(secondary)) found = first_fanout_register(secondary, reg_ret, false);
    else if (!has_fanout(hsadder)) {
        if (m_has_current_register) reg_ret = m_current_register;
        found = m_has_current_register;
    } else found = first_fanout_register(hsadder, reg_ret, false);
    if (!found) return false;
    for (CDB_ATOM_OTERM* out : {combout, secondary, hsadder})
        if (has_fanout(out) && !all_fanouts_compatible(node, out, reg_ret)) return false;
    if (reg_ret.regout == nullptr) return true;
    return passes_age_test(reg_ret.regout->get_my_node());
}

bool MORV_RETIMING::reuses_secondary_signal(const RETIME_REG& ref) const
{
    const CDB_ATOM_OTERM* sclr = ref.signals[RETIME_SYNCH_CLEAR].source;
    const CDB_ATOM_OTERM* ena = ref.signals[RETIME_CLOCK_ENABLE].source;
    for (const RETIME_ITERM_SET* set : {&insert_set0, &insert_set1}) {
        for (const RETIME_ITERM& element : *set) {
            const CDB_ATOM_OTERM* source = element.iterm->get_source();
            if (source != nullptr && (source == sclr || source == ena)) return true;
        }
    }
    return false;
}

void morv_retiming_share_locked_region(RETIME_REG& ref, const RETIME_REG& other)
{
    if (std::equal(std::begin(ref.locked), std::end(ref.locked), std::begin(other.locked))) return;
    std::fill(std::begin(ref.locked), std::end(ref.locked), -1);
}

namespace {

// A cell outside a carry chain is a chain of one.
CDB_ATOM_NODE* next_in_chain(MORV_NET_UTIL* util, CDB_ATOM_NODE* cell)
{
    return util->is_lcell_part_of_a_carry_chain(cell) ? util->get_next_node_in_carry_chain(cell) : nullptr;
}

// The pushes assume a chain's carry-in is 0 at power-up; a head whose
// carry-in is tied or driven breaks that assumption, so it is refused.
bool has_tied_carry_in(MORV_NET_UTIL* util, CDB_ATOM_NODE* head)
{
    if (!util->is_lcell_part_of_a_carry_chain(head) || !util->is_carry_in_connected(head)) return false;
    MORV_DEBUG_STREAM::print(100, "carry chain head %u has a connected carry-in: not pushed", head->get_id());
    return true;
}

}  // namespace

bool MORV_RETIMING::backward_push(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "backward_push (): %s", MORV_NET_UTIL::get_hpath_name(node).c_str());
    bool carry_low_ret = true, share_low_ret = true;
    reset_push();
    if (has_tied_carry_in(m_net_util, node)) return false;
    RETIME_REG ref;
    CDB_ATOM_NODE* cell = node;
    while (cell != nullptr && !collect_output_register(cell, ref)) cell = next_in_chain(m_net_util, cell);
    if (cell == nullptr) return false;
    m_has_current_register = true;
    ref.clear_low = true;
    m_current_register = ref;
    reset_push();
    m_operation_text = "BWD RTM across <" + std::to_string(node->get_id()) + ">";
    for (cell = node; cell != nullptr; cell = next_in_chain(m_net_util, cell)) {
        MORV_DEBUG_STREAM::print(100, "backward_push (): curr_node %s", MORV_NET_UTIL::get_hpath_name(cell).c_str());
        RETIME_REG cur;
        if (!is_push_allowed(cell) || !collect_output_register(cell, cur) || !is_register_compatible(ref, cur) ||
            !create_input_registers(cell, cur, carry_low_ret, share_low_ret))
            return false;
    }
    if (reuses_secondary_signal(ref)) {
        MORV_DEBUG_STREAM::print(100, "backward_push() : abort, secondary signal reuse");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "backward_push (): success");
    prepare_commit();
    commit();
    return true;
}

// ------------------------------------------------------------ forward

void MORV_RETIMING::clear_forward_collection()
{
    delete_set0.clear();
    m_iterms_to_disconnect.clear();
    m_output_registers.clear();
}

// The term of a forward-push port, with a free data input standing for
// the cell's synchronous data.
CDB_ATOM_ITERM* MORV_RETIMING::forward_port_term(CDB_ATOM_NODE* node, int port_type)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (is_free_data_input(node, iterm, port_type)) iterm = node->get_input_term_by_type(DB_SYNCH_DATA);
    return iterm;
}

// The first walk over the ports; false when a register cannot be read, its
// clear or clock differs, or it is too old.
bool MORV_RETIMING::read_input_registers(CDB_ATOM_NODE* node, const int* ports, int count, RETIME_REG& ref,
                                         bool& mismatch, int& connected)
{
    const int family = m_fsyn_api->get_base_family_code();
    bool first = true;
    for (int i = 0; i < count; ++i) {
        CDB_ATOM_ITERM* t = node->get_input_term_by_type(ports[i]);
        if (t != nullptr && morv_rtm_ignores_arith_vcc_d(family) && t->is_vcc() &&
            m_net_util->is_in_arithmetic_mode(node) && ports[i] == DB_DATA_D)
            continue;
        t = forward_port_term(node, ports[i]);
        if (t != nullptr && morv_rtm_ignores_hsadder_constants(family) && m_net_util->is_lcell_hsadder(node) &&
            (t->is_vcc() || t->is_gnd()))
            continue;
        if (t == nullptr || !t->is_connected()) continue;
        ++connected;
        RETIME_REG cur;
        RETIME_REG& into = first ? ref : cur;
        if (!get_input_register(t, into)) return false;
        if (!first) {
            if (!morv_retiming_same_clear_and_clock(cur, ref)) return false;
            if (!is_register_compatible(cur, ref)) mismatch = true;
            if (m_sload_push) adopt_sload(ref, cur);
            morv_retiming_share_locked_region(ref, cur);
        }
        MORV_ASSERT_TEXT(into.regout, first ? "refr_reg.regout" : "curr_reg.regout");
        first = false;
        CDB_ATOM_NODE* reg_node = into.regout->get_my_node();
        MORV_ASSERT_TEXT(reg_node, "reg_node");
        if (!passes_age_test(reg_node)) return false;
        m_consumed_register_ids.push_back(MORV_NT_NODE_ID(static_cast<int>(reg_node->get_id()), 0));
    }
    return true;
}

// After a mismatch: an adopted synchronous load can make the registers
// compatible after all.
bool MORV_RETIMING::rewalk_input_registers(CDB_ATOM_NODE* node, const int* ports, int count, RETIME_REG& ref)
{
    clear_forward_collection();
    for (int i = 0; i < count; ++i) {
        CDB_ATOM_ITERM* t = forward_port_term(node, ports[i]);
        if (t == nullptr || !t->is_connected()) continue;
        RETIME_REG cur;
        if (!get_input_register(t, cur) || !is_register_compatible(cur, ref)) return false;
        if (m_sload_push) adopt_sload(ref, cur);
    }
    return true;
}

void MORV_RETIMING::queue_input_sources_for_demux(CDB_ATOM_NODE* node, const int* ports, int count)
{
    for (int i = 0; i < count; ++i) {
        CDB_ATOM_ITERM* t = forward_port_term(node, ports[i]);
        if (t == nullptr || !t->is_connected() || t->get_source() == nullptr) continue;
        CDB_ATOM_NODE* queued = is_excluded_iterm(t) ? node : t->get_source()->get_my_node();
        m_demux_queue.insert(queued);
        MORV_DEBUG_STREAM::print(100, "Inserted node %u to be demuxed", queued->get_id());
    }
}

bool MORV_RETIMING::collect_input_register(CDB_ATOM_NODE* node, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(node, "node");
    int count = 0;
    int ports[k_max_forward_ports];
    get_forward_push_ports(node, count, ports);
    MORV_ASSERT_TEXT(count <= k_max_forward_ports, "count <= k_max_forward_ports");
    if (count < 1) {
        if (m_has_current_register) reg = m_current_register;
        return m_has_current_register;
    }
    RETIME_REG ref;
    bool mismatch = false;
    int connected = 0;
    if (!read_input_registers(node, ports, count, ref, mismatch, connected)) return false;
    if (connected == 0) {
        if (m_has_current_register) reg = m_current_register;
        return m_has_current_register;
    }
    if (!mismatch || rewalk_input_registers(node, ports, count, ref)) {
        reg = ref;
        return true;
    }
    queue_input_sources_for_demux(node, ports, count);
    return false;
}

bool MORV_RETIMING::forward_push(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "forward_push (): %s", MORV_NET_UTIL::get_hpath_name(node).c_str());
    bool carry_low_ret = true, share_low_ret = true;
    reset_push();
    m_operation_text = "FWD RTM across <" + std::to_string(node->get_id()) + ">";
    if (has_tied_carry_in(m_net_util, node)) return false;
    RETIME_REG ref;
    if (!collect_input_register(node, ref)) return false;
    clear_forward_collection();
    bool ok = true;
    for (CDB_ATOM_NODE* cell = node; cell != nullptr; cell = next_in_chain(m_net_util, cell)) {
        MORV_DEBUG_STREAM::print(100, "forward_push (): curr_node %s", MORV_NET_UTIL::get_hpath_name(cell).c_str());
        RETIME_REG cur;
        if (!is_push_allowed(cell) || !collect_input_register(cell, cur) || !is_register_compatible(ref, cur))
            ok = false;
        if (m_sload_push) adopt_sload(ref, cur);
        m_current_register = ref;
        m_has_current_register = true;
        if (ok && !create_output_registers(cell, ref, carry_low_ret, share_low_ret)) {
            MORV_DEBUG_STREAM::print(100, "fp: failing on create regs");
            ok = false;
        }
    }
    if (!ok) {
        MORV_DEBUG_STREAM::print(100, "forward_push(): failure");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "forward_push(): success");
    prepare_commit();
    commit();
    return true;
}
