// A small family leaf that lets the retiming engine really move registers
// in netlists of plain LUT cells and separate registers (no chains, no
// synchronous loads). A push is refused when the new registers could not
// power up at 0: the LUT must give 0 when every register it reads is 0.
#pragma once

#include <set>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"
#include "retiming_test_leaf.h"

class PUSH_TEST_LEAF : public TEST_RETIMING_LEAF
{
public:
    using TEST_RETIMING_LEAF::TEST_RETIMING_LEAF;

    bool is_plain_register(CDB_ATOM_NODE* node) const
    {
        if (node == nullptr || !m_net_util->is_ff(node)) return false;
        CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
        CDB_ATOM_ITERM* d = node->get_input_term_by_type(DB_DATAIN);
        return (sload == nullptr || !sload->is_connected()) && d != nullptr && d->get_source() != nullptr &&
               !d->is_inverted() && node->get_output_term_by_type(DB_REG_OUT) != nullptr;
    }
    bool is_plain_lut(CDB_ATOM_NODE* node) const
    {
        return node->is_lcell_comb() && m_net_util->is_lut(node) && !m_net_util->is_lcell_part_of_a_carry_chain(node);
    }

    CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool) override
    {
        CDB_ATOM_NODE* node = iterm->get_my_node();
        if (!iterm->is_used_as(DB_DATAIN) || !is_plain_register(node)) return nullptr;
        reg = describe_register(node);
        return reg.regout;
    }
    bool is_push_allowed(CDB_ATOM_NODE* node) override { return is_plain_lut(node) && !m_refused.count(node); }

    // The LUT's value with every driven input at its inversion bit (what a
    // register at 0 gives through it) and constants at their values.
    bool zero_in_gives_zero(CDB_ATOM_NODE* node)
    {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        for (int slot = 0; slot < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++slot) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(node->get_evaluate_input_port(slot));
            if (t == nullptr || !t->is_connected()) continue;
            in[slot] = t->get_source() != nullptr ? t->is_inverted() : t->is_logical_vcc();
        }
        return node->evaluate_output(DB_COMB_OUT, in) == 0;
    }

    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool&, bool&) override
    {
        if (!zero_in_gives_zero(node)) return false;
        for (int k = 0; k < m_num_lut_inputs; ++k) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_A + k);
            if (t == nullptr || t->get_source() == nullptr) continue;
            RETIME_ITERM element;
            element.iterm = t;
            element.reg = reg;
            insert_set0.insert(element);
        }
        return true;
    }
    void get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* ports) override
    {
        count = 0;
        for (int k = 0; k < m_num_lut_inputs; ++k) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_A + k);
            if (t != nullptr && t->get_source() != nullptr) ports[count++] = DB_DATA_A + k;
        }
    }
    bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) override
    {
        CDB_ATOM_OTERM* source = iterm->get_source();
        if (source == nullptr || !source->is_used_as(DB_REG_OUT)) return false;
        CDB_ATOM_NODE* node = source->get_my_node();
        if (!is_plain_register(node) || m_new_registers.contains(node)) return false;
        reg = describe_register(node);
        return true;
    }
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool&, bool&) override
    {
        if (!zero_in_gives_zero(node)) return false;
        for (int k = 0; k < m_num_lut_inputs; ++k) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_A + k);
            if (t != nullptr && t->get_source() != nullptr) m_iterms_to_disconnect.insert(t);
        }
        m_output_registers[node->get_output_term_by_type(DB_COMB_OUT)] = reg;
        return true;
    }

    // ---- commit
    void remove_register(CDB_ATOM_NODE* node) override
    {
        CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        CDB_ATOM_OTERM* data = node->get_input_term_by_type(DB_DATAIN)->get_source();
        std::vector<CDB_ATOM_ITERM*> sinks;
        for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it) sinks.push_back(*it);
        for (CDB_ATOM_ITERM* sink : sinks) move_iterm(sink, data);
        ++m_removed;
        delete_node(node);
    }
    void disconnect_register(CDB_ATOM_ITERM* iterm) override
    {
        CDB_ATOM_NODE* reg = iterm->get_source()->get_my_node();
        move_iterm(iterm, reg->get_input_term_by_type(DB_DATAIN)->get_source());
        m_registers_to_check.insert(reg);
    }
    CDB_ATOM_NODE* new_register(const RETIME_REG& reg, CDB_ATOM_NODE* model, CDB_ATOM_OTERM* data)
    {
        CDB_ATOM_NODE* copy = m_net_util->create_register(model);
        CDB_ATOM_OTERM* out = nullptr;
        m_cdb_interface->create_oterm(nullptr, out, copy, DB_REG_OUT, copy->get_instance_name());
        m_fsyn_api->node_added(copy, model, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
        for (int control = 0; control < RETIME_NUM_CONTROLS; ++control)
            connect_register_input(copy, reg.signals[control], k_retime_control_ports[control], 0);
        CDB_ATOM_ITERM* d = nullptr;
        m_cdb_interface->create_input_term(nullptr, d, copy, DB_DATAIN, 0);
        m_net_util->insert_fanout(data, d);
        m_fsyn_api->modify_edge(d, false);
        m_new_registers.insert(copy);
        m_live_nodes.insert(copy);
        record_tracking(copy, MORV_NT_TYPE_SPLIT);
        ++m_created;
        return copy;
    }
    void insert_register(const RETIME_ITERM& e) override
    {
        CDB_ATOM_NODE* copy = new_register(e.reg, e.iterm->get_my_node(), e.iterm->get_source());
        move_iterm(e.iterm, copy->get_output_term_by_type(DB_REG_OUT));
    }
    void add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg) override
    {
        std::vector<CDB_ATOM_ITERM*> sinks;
        for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) sinks.push_back(*it);
        CDB_ATOM_NODE* copy = new_register(reg, oterm->get_my_node(), oterm);
        // Registers pushed forward stand for the ones they replace, which
        // live until the demux pass.
        if (reg.regout != nullptr) alias_regout(copy->get_output_term_by_type(DB_REG_OUT), reg.regout);
        for (CDB_ATOM_ITERM* sink : sinks) move_iterm(sink, copy->get_output_term_by_type(DB_REG_OUT));
    }
    void delete_node(CDB_ATOM_NODE* node) override
    {
        m_live_nodes.erase(node);
        m_fsyn_api->delete_node(node);
    }
    bool has_critical_input(CDB_ATOM_NODE* node) override
    {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if ((*it)->is_connected() && m_fsyn_timing->get_slack_ratio(*it) <= m_slack_ratio_threshold) return true;
        return false;
    }
    void queue_for_demux(CDB_ATOM_NODE*) override { ++m_demux_queries; }

    // ---- test access
    void set_backwards(bool on) { m_retime_backwards = on; }
    void set_max_age(int age) { m_max_age = age; }
    void set_age(CDB_ATOM_NODE* reg, int age) { m_register_age[static_cast<int>(reg->get_id())] = age; }
    void set_sload_push(bool on) { m_sload_push = on; }
    void set_skew_mode(bool on) { m_skew_mode = on; }
    void queue_split(CDB_ATOM_NODE* node) { m_split_set.insert(node); }
    void make_live(CDB_ATOM_NODE* node) { m_live_nodes.insert(node); }
    void new_register(CDB_ATOM_NODE* node) { m_new_registers.insert(node); }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& split_set() const { return m_split_set; }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& demux_queue() const { return m_demux_queue; }
    const std::vector<CDB_ATOM_NODE*>& topological_order() const { return m_topological_order; }
    int push_max_age() const { return m_push_max_age; }
    std::set<CDB_ATOM_NODE*> m_refused;
    int m_created = 0;
    int m_removed = 0;
    int m_demux_queries = 0;
};
