// The commit of a legal skew-driven move: the registers it takes out are
// bypassed, the registers it adds are created (between inverters when they
// must power up high), and after a carry chain was crossed the chain's new
// input registers that hold the same value are merged again.
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/rtm/morv_rtm.h"
#include "morv/rtm/morv_rtm_edit.h"

namespace {

// The host's modification kind of a register a move created.
constexpr int k_moved_register_kind = 4;
constexpr uint64_t k_all_ones = ~uint64_t{0};
constexpr uint64_t k_inverter_mirrored = 0xAAAAAAAAAAAAAAAAull;
constexpr uint64_t k_inverter = 0x5555555555555555ull;

std::vector<CDB_ATOM_ITERM*> fanouts_of(CDB_ATOM_OTERM* oterm)
{
    return std::vector<CDB_ATOM_ITERM*>(oterm->begin_iterm_fanout(), oterm->end_iterm_fanout());
}

}  // namespace

// ---------------------------------------------------------------- removal

void MORV_RTM::remove_registers(MORV_RTM_OP* op)
{
    for (MORV_OWNER<MORV_RTM_REG>& reg : op->m_regs_to_remove) bypass_register(reg.get());
}

// In fanout order. A move bypasses a register on one term or on all of
// them: one term is taken as it is, without a walk over the register's
// fanouts, which a register that moves across many cells one by one
// would otherwise pay for each of them.
std::vector<CDB_ATOM_ITERM*> MORV_RTM::bypassed_fanouts(const MORV_RTM_REG* reg, CDB_ATOM_OTERM* regout)
{
    std::vector<CDB_ATOM_ITERM*> bypassed;
    if (!reg->m_bypass_all_fanouts && reg->m_bypassed_iterms.size() <= 1) {
        for (CDB_ATOM_ITERM* fanout : reg->m_bypassed_iterms) {
            ++m_fanouts_examined;
            if (fanout->get_source() == regout) bypassed.push_back(fanout);
        }
        return bypassed;
    }
    for (CDB_ATOM_ITERM* fanout : fanouts_of(regout)) {
        ++m_fanouts_examined;
        if (reg->is_bypassed_iterm(fanout)) bypassed.push_back(fanout);
    }
    return bypassed;
}

// A bypassed fanout reads the register's data source through both
// inversions, the data input's and its own: the two compose, so two
// inversions cancel.
void MORV_RTM::bypass_register(MORV_RTM_REG* reg)
{
    MORV_ASSERT_TEXT(reg && reg->m_node && reg->m_node->is_lcell_ff(), "reg_node->is_lcell_ff()");
    CDB_ATOM_ITERM* datain = reg->m_node->get_input_term_by_type(DB_DATAIN, 0);
    MORV_ASSERT_TEXT(datain, "datain");
    CDB_ATOM_OTERM* regout = reg->m_node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(datain, &properties);
    for (CDB_ATOM_ITERM* fanout : bypassed_fanouts(reg, regout)) {
        const bool own_inversion = fanout->is_inverted();
        m_net_util->disconnect_iterm(fanout, CDB_NET_ITERM::UNCONNECTED);
        if (CDB_ATOM_OTERM* source = datain->get_source()) {
            m_net_util->insert_fanout(source, fanout);
            MORV_ITERM_PROPERTIES composed = properties;
            composed.inverted = properties.inverted != own_inversion;
            m_net_util->restore_iterm_properties(composed, fanout);
            continue;
        }
        MORV_ASSERT_TEXT(datain->is_vcc() || datain->is_gnd(), "datain->is_gnd()");
        connect_to_constant(fanout, datain->is_logical_vcc() ? 1 : 0);
    }
}

void MORV_RTM::connect_to_constant(CDB_ATOM_ITERM* iterm, int constant)
{
    CDB_ATOM_NODE* node = create_constant_node(iterm->get_my_node(), constant);
    m_net_util->insert_fanout(node->get_output_term_by_type(DB_COMB_OUT), iterm);
}

CDB_ATOM_NODE* MORV_RTM::create_constant_node(CDB_ATOM_NODE* template_node, int constant)
{
    MORV_ASSERT_TEXT(template_node, "template_node");
    MORV_ASSERT_TEXT(constant == 0 || constant == 1, "constant == 0 || constant == 1");
    CDB_ATOM_NODE* node = m_net_util->create_lcell_comb(template_node);
    MORV_ASSERT_TEXT(node, "const_node");
    m_net_util->create_oterm(template_node, node, DB_COMB_OUT, 0);
    morv_rtm_place_like(m_fsyn_api, node, template_node);
    m_fsyn_api->node_added(node, template_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(6, constant == 1 ? k_all_ones : 0), 0);
    m_fsyn_api->modify_node(node);
    MORV_DEBUG_STREAM::print(2, "Created constant node < %d > for constant < %d >", static_cast<int>(node->get_id()),
                             constant);
    return node;
}

CDB_ATOM_NODE* MORV_RTM::create_inverter_node(CDB_ATOM_NODE* template_node)
{
    MORV_ASSERT_TEXT(template_node, "template_node");
    CDB_ATOM_NODE* node = m_net_util->create_lcell_comb(template_node);
    MORV_ASSERT_TEXT(node, "new_inverter");
    CDB_ATOM_ITERM* dataa = m_net_util->create_iterm(node, DB_DATA_A);
    MORV_ASSERT_TEXT(dataa, "dataa");
    m_net_util->create_oterm(template_node, node, DB_COMB_OUT, 0);
    morv_rtm_place_like(m_fsyn_api, node, template_node);
    m_fsyn_api->node_added(node, template_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(6, m_mirror_lutmasks ? k_inverter_mirrored : k_inverter), 0);
    m_fsyn_api->modify_node(node);
    return node;
}

// ---------------------------------------------------------------- creation

void MORV_RTM::add_registers(MORV_RTM_OP* op)
{
    for (MORV_OWNER<MORV_RTM_REG>& reg : op->m_regs_to_add) add_register(reg.get());
}

CDB_ATOM_OTERM* MORV_RTM::add_register(MORV_RTM_REG* reg)
{
    MORV_ASSERT_TEXT(reg, "reg");
    CDB_ATOM_OTERM* regout = nullptr;
    if (reg->m_add_on_iterm != nullptr) {
        MORV_ASSERT_TEXT(reg->m_add_on_oterm == nullptr, "!add_on_oterm");
        regout = add_register_on_iterm(reg);
    } else {
        MORV_ASSERT_TEXT(reg->m_add_on_oterm, "add_on_oterm");
        regout = add_register_on_oterm(reg);
    }
    if (regout == nullptr) return nullptr;
    set_regout_parent(regout, reg->m_ref_oterm);
    m_fsyn_api->copy_oterm_timing_assignment(reg->m_ref_oterm, regout);
    return regout;
}

// A constant control is tied so that the port reads the recorded value with
// the restored properties, whose inversion the record holds cleared; an
// enable that reads high is left open, as it floats high.
CDB_ATOM_NODE* MORV_RTM::create_register_from_template(MORV_RTM_REG* reg, CDB_ATOM_NODE* template_node)
{
    MORV_ASSERT_TEXT(template_node, "template_node");
    MORV_ASSERT_TEXT(reg->m_node, "original_reg");
    HDB_INSTANCE_NAME* base_name = reg->get_instance_name();
    MORV_ASSERT_TEXT(base_name, "base_instance_name");
    CDB_ATOM_NODE* node = m_net_util->create_register(template_node, base_name);
    MORV_ASSERT_TEXT(node, "new_reg_node");
    MORV_ASSERT_TEXT(m_net_util->create_iterm(node, DB_DATAIN), "new_reg_datain");
    MORV_ASSERT_TEXT(m_net_util->create_oterm(template_node, node, DB_REG_OUT, 0), "new_reg_regout");
    morv_rtm_place_like(m_fsyn_api, node, template_node);
    m_fsyn_api->node_added(node, reg->m_node, k_moved_register_kind, DB_MAX_OUTPUT_PORT_TYPE, true);
    for (const auto& [type, signal] : reg->m_secondary_signals_map) {
        MORV_ASSERT_TEXT(signal, "signal");
        if (signal->is_vcc() && type == DB_CLOCK_ENABLE) continue;
        if (!signal->is_vcc() && !signal->is_gnd() && signal->get_src_oterm() == nullptr) continue;
        CDB_ATOM_ITERM* iterm = m_net_util->create_iterm(node, type);
        MORV_ASSERT_TEXT(iterm, "new_iterm");
        if (signal->get_src_oterm() != nullptr) m_net_util->insert_fanout(signal->get_src_oterm(), iterm);
        m_net_util->restore_iterm_properties(signal->get_iterm_properties(), iterm);
        if (signal->is_vcc()) m_cdb_interface->set_iterm_logical_vcc(iterm);
        else if (signal->is_gnd()) m_cdb_interface->set_iterm_logical_gnd(iterm);
        if (signal->get_src_oterm() == nullptr) m_fsyn_api->modify_edge(iterm, false);
    }
    return node;
}

// The new register reads what the term read: the term's properties go to
// the register's data input, and an inversion among them becomes an
// inverter in front of it, so that the register holds the value the cell
// reads and its power-up value is the cell's.
CDB_ATOM_OTERM* MORV_RTM::add_register_on_iterm(MORV_RTM_REG* reg)
{
    CDB_ATOM_ITERM* iterm = reg->m_add_on_iterm;
    // Low for ever: the cell reads the same with no register.
    if (!iterm->is_driven() && iterm->is_logical_gnd()) return nullptr;
    const bool tied_high = !iterm->is_driven();
    CDB_ATOM_NODE* node = create_register_from_template(reg, iterm->get_my_node());
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    CDB_ATOM_ITERM* datain = node->get_input_term_by_type(DB_DATAIN, 0);
    MORV_ASSERT_TEXT(regout && datain, "data_in");
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(iterm, &properties);
    CDB_ATOM_OTERM* source = iterm->get_source();
    m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    m_net_util->insert_fanout(regout, iterm);
    m_net_util->reset_iterm_properties(iterm);
    if (tied_high) {
        m_cdb_interface->set_iterm_logical_vcc(datain);
        m_fsyn_api->modify_edge(datain, false);
        return regout;
    }
    MORV_ASSERT_TEXT(source, "is_vcc");
    m_net_util->insert_fanout(source, datain);
    m_net_util->restore_iterm_properties(properties, datain);
    if (reg->m_ic == MORV_RTM_REG_IC_HIGH) wrap_register_in_inverters(node);
    if (datain->is_inverted()) {
        m_net_util->clear_invert(datain);
        insert_inverter_on_iterm(datain);
    }
    return regout;
}

CDB_ATOM_OTERM* MORV_RTM::add_register_on_oterm(MORV_RTM_REG* reg)
{
    CDB_ATOM_OTERM* oterm = reg->m_add_on_oterm;
    CDB_ATOM_NODE* node = create_register_from_template(reg, oterm->get_my_node());
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    CDB_ATOM_ITERM* datain = node->get_input_term_by_type(DB_DATAIN, 0);
    MORV_ASSERT_TEXT(regout && datain, "data_in");
    for (CDB_ATOM_ITERM* fanout : fanouts_of(oterm)) {
        m_net_util->disconnect_iterm(fanout, CDB_NET_ITERM::UNCONNECTED);
        m_net_util->insert_fanout(regout, fanout);
    }
    m_net_util->insert_fanout(oterm, datain);
    if (reg->m_ic == MORV_RTM_REG_IC_HIGH) wrap_register_in_inverters(node);
    return regout;
}

void MORV_RTM::wrap_register_in_inverters(CDB_ATOM_NODE* reg_node)
{
    insert_inverter_on_iterm(reg_node->get_input_term_by_type(DB_DATAIN, 0));
    insert_inverter_on_oterm(reg_node->get_output_term_by_type(DB_REG_OUT));
}

void MORV_RTM::insert_inverter_on_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "inv_iterm");
    CDB_ATOM_OTERM* source = iterm->get_source();
    MORV_ASSERT_TEXT(source, "src_oterm");
    CDB_ATOM_NODE* inverter = create_inverter_node(iterm->get_my_node());
    CDB_ATOM_ITERM* dataa = inverter->get_input_term_by_type(DB_DATA_A, 0);
    CDB_ATOM_OTERM* combout = inverter->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(combout, "combout");
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(iterm, &properties);
    m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    m_net_util->insert_fanout(combout, iterm);
    m_net_util->insert_fanout(source, dataa);
    m_net_util->restore_iterm_properties(properties, dataa);
    m_net_util->reset_iterm_properties(iterm);
}

void MORV_RTM::insert_inverter_on_oterm(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* inverter = create_inverter_node(oterm->get_my_node());
    CDB_ATOM_ITERM* dataa = inverter->get_input_term_by_type(DB_DATA_A, 0);
    CDB_ATOM_OTERM* combout = inverter->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(combout, "combout");
    for (CDB_ATOM_ITERM* fanout : fanouts_of(oterm)) {
        m_net_util->disconnect_iterm(fanout, CDB_NET_ITERM::UNCONNECTED);
        m_net_util->insert_fanout(combout, fanout);
    }
    m_net_util->insert_fanout(oterm, dataa);
}

// ---------------------------------------------------------------- parent forest

// A register output made by a move stands for the root it descends from;
// terms the forest does not hold are their own roots.
CDB_ATOM_OTERM* MORV_RTM::find_regout_root(CDB_ATOM_OTERM* oterm) const
{
    auto it = m_regout_parent.find(oterm);
    if (it == m_regout_parent.end()) return oterm;
    MORV_ASSERT_TEXT(it->second, "root_regout");
    return it->second;
}

void MORV_RTM::set_regout_parent(CDB_ATOM_OTERM* oterm, CDB_ATOM_OTERM* parent)
{
    MORV_ASSERT_TEXT(oterm && parent, "oterm");
    if (oterm == parent) return;
    m_regout_parent[oterm] = find_regout_root(parent);
}

// ---------------------------------------------------------------- carry-chain merge

void MORV_RTM::merge_carry_chain_inputs(MORV_RTM_OP* op)
{
    if (op->m_carry_chain_head == nullptr) return;
    const MORV_RTM_CHAIN chain = collect_carry_chain(op->m_carry_chain_head);
    CDB_ATOM_OTERM* vcc = nullptr;
    CDB_ATOM_OTERM* gnd = nullptr;
    // Registers loading a source directly, and those built between two
    // inverters for a high power-up value, keyed by the source behind the
    // front inverter: only registers of one kind share an output.
    MORV_RTM_BUCKETS oterm_to_reg_map;
    MORV_RTM_BUCKETS oterm_to_inv_reg_map;
    for (CDB_ATOM_NODE* node : chain) {
        for (int type : m_retimeable_iterms) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
            if (iterm == nullptr || iterm->get_source() == nullptr) continue;
            if (!share_constant_source(iterm, &vcc, &gnd))
                merge_source_register(iterm, &oterm_to_reg_map, &oterm_to_inv_reg_map);
        }
    }
}

// The design shares every LCELL_COMB source whose mask is all ones or zero;
// here the cell must also read nothing and lie outside a carry chain, as the
// constant cells the commit makes do. A chain cell's outputs are its adder's
// sum and carry, which follow the carry-in and the adder halves, not the LUT
// mask. A cell that reads signals is timed through them whatever its mask:
// inputs moved onto it would take on paths their constant does not have.
bool MORV_RTM::share_constant_source(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM** vcc, CDB_ATOM_OTERM** gnd)
{
    CDB_ATOM_OTERM* source = iterm->get_source();
    CDB_ATOM_NODE* node = source->get_my_node();
    if (!node->is_lcell_comb() || m_net_util->is_lcell_part_of_a_carry_chain(node)) return false;
    bool any_input = false;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) any_input |= (*it)->is_connected();
    if (any_input) return false;
    const uint64_t mask = m_net_util->get_lutmask(node);
    if (mask != k_all_ones && mask != 0) return false;
    CDB_ATOM_OTERM** kept = mask == k_all_ones ? vcc : gnd;
    if (*kept == nullptr) {
        *kept = source;
    } else if (*kept != source) {
        m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
        m_net_util->insert_fanout(*kept, iterm);
    }
    return true;
}

// Two registers hold the same value when they load the same source through
// the same data-input polarity, under the same controls (asynchronous load
// and data included) and timing.
bool MORV_RTM::can_merge(CDB_ATOM_NODE* reg_node, const MORV_RTM_REG* bucket_reg) const
{
    CDB_ATOM_NODE* other = bucket_reg->m_node;
    if (other == reg_node) return false;
    if (reg_node->get_input_term_by_type(DB_DATAIN, 0)->is_inverted() !=
        other->get_input_term_by_type(DB_DATAIN, 0)->is_inverted())
        return false;
    for (int type : {DB_ASYNCH_DATA, DB_ASYNCH_LOAD}) {
        const CDB_ATOM_ITERM* a = reg_node->get_input_term_by_type(type, 0);
        const CDB_ATOM_ITERM* b = other->get_input_term_by_type(type, 0);
        const bool open_a = a == nullptr || !a->is_connected();
        const bool open_b = b == nullptr || !b->is_connected();
        if (open_a != open_b) return false;
        if (open_a) continue;
        if (a->get_source() != b->get_source() || a->get_property_word() != b->get_property_word()) return false;
    }
    MORV_OWNER<MORV_RTM_REG> record = new_lcell_record(reg_node);
    int why = 0;
    return check_register_compatibility(record.get(), bucket_reg, &why);
}

void MORV_RTM::merge_source_register(CDB_ATOM_ITERM* iterm, MORV_RTM_BUCKETS* oterm_to_reg_map,
                                     MORV_RTM_BUCKETS* oterm_to_inv_reg_map)
{
    bool through_inverter = false;
    CDB_ATOM_NODE* reg_node = find_source_register(iterm, &through_inverter);
    if (reg_node == nullptr) return;
    CDB_ATOM_ITERM* datain = reg_node->get_input_term_by_type(DB_DATAIN, 0);
    if (datain == nullptr || datain->get_source() == nullptr) return;
    CDB_ATOM_OTERM* key = datain->get_source();
    MORV_RTM_BUCKETS* buckets = oterm_to_reg_map;
    if (through_inverter) {
        // Only the inverter pair of a register that powers up high.
        bool wire_inverted = false;
        CDB_ATOM_NODE* front = key->get_my_node();
        const int wire_type = is_wire_lut(front, &wire_inverted);
        if (wire_type == 0 || !wire_inverted) return;
        key = front->get_input_term_by_type(wire_type, 0)->get_source();
        if (key == nullptr) return;
        buckets = oterm_to_inv_reg_map;
    }
    MORV_RTM_REG_LIST& bucket = (*buckets)[key];
    for (MORV_OWNER<MORV_RTM_REG>& held : bucket) {
        MORV_ASSERT_TEXT(held, "reg_vec");
        if (!can_merge(reg_node, held.get())) continue;
        CDB_ATOM_OTERM* merge_oterm = held->m_ref_oterm;
        if (through_inverter) {
            CDB_ATOM_ITERM* first = merge_oterm->get_first_fanout();
            MORV_ASSERT_TEXT(first, "merge_node");
            merge_oterm = first->get_my_node()->get_output_term_by_type(DB_COMB_OUT);
        }
        MORV_ASSERT_TEXT(merge_oterm, "merge_oterm");
        if (iterm->get_source() == merge_oterm) return;
        m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
        m_net_util->insert_fanout(merge_oterm, iterm);
        MORV_DEBUG_STREAM::print(2, "Merging src reg < %d > into < %d >", static_cast<int>(reg_node->get_id()),
                                 static_cast<int>(merge_oterm->get_my_node()->get_id()));
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
        return;
    }
    bucket.push_back(new_lcell_record(reg_node));
}
