// A leaf of the retiming object for tests, until the family branches exist:
// every family hook answers "no" or does nothing, except the inverter
// insertion the input-inversion helpers need, which any family can do with
// a one-input LUT.
#pragma once

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"

class TEST_RETIMING_LEAF : public MORV_RETIMING
{
public:
    TEST_RETIMING_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params, double trade = 1.0, int max_critical_slack = 0)
        : MORV_RETIMING(api, params)
    {
        m_num_lut_inputs = cdb_family_lut_size(api->get_base_family_code());
        m_trade = trade;
        m_max_critical_slack = max_critical_slack;
    }

    // The one-input inverter in the family's bit order, unused inputs repeated.
    static CDB_LUTMASK inverter_mask(int family)
    {
        const CDB_FAMILY_INFO* info = cdb_get_family_info(family);
        uint64_t value = 0x1;
        for (int width = 2; width < (1 << info->lut_size); width <<= 1) value |= value << width;
        CDB_LUTMASK mask(info->lut_size, value);
        if (info->reversed_bit_order) mask.mirror_mask();
        return mask;
    }

    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override
    {
        CDB_ATOM_OTERM* former = iterm->get_source();
        CDB_ATOM_NODE* model = iterm->get_my_node();
        CDB_ATOM_NODE* cell = m_net_util->create_lcell_comb(model);
        CDB_ATOM_OTERM* out = nullptr;
        m_cdb_interface->create_oterm(nullptr, out, cell, DB_COMB_OUT, cell->get_instance_name());
        CDB_ATOM_ITERM* in = nullptr;
        m_cdb_interface->create_input_term(nullptr, in, cell, DB_DATA_A, 0);
        m_cdb_interface->set_lutmask(cell, inverter_mask(m_fsyn_api->get_base_family_code()), 0);
        m_fsyn_api->node_added(cell, model, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
        if (former != nullptr) m_net_util->insert_fanout(former, in);
        move_iterm(iterm, out);
        ++m_inverters;
    }

    void set_default_pass_parameters(int, int&, int&) override {}
    void collect_carry_chain_cone(CDB_ATOM_NODE*, RETIME_NODE_SET&) override {}
    void collect_fanin_cone(CDB_ATOM_NODE*, int, RETIME_NODE_SET&, int) override {}
    void queue_for_demux(CDB_ATOM_NODE*) override {}
    int run_demuxer() override { return 0; }
    bool is_lutout_feeding_regout(CDB_ATOM_NODE*) override { return false; }
    bool get_lutout_register(CDB_ATOM_NODE*, RETIME_REG&) override { return false; }
    CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* get_hsadder_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM*, RETIME_REG&, bool) override { return nullptr; }
    bool create_input_registers(CDB_ATOM_NODE*, RETIME_REG&, bool&, bool&) override { return false; }
    void get_forward_push_ports(CDB_ATOM_NODE*, int& count, int*) override { count = 0; }
    bool is_free_data_input(CDB_ATOM_NODE*, CDB_ATOM_ITERM*, int) override { return false; }
    bool is_excluded_iterm(CDB_ATOM_ITERM*) override { return false; }
    bool get_input_register(CDB_ATOM_ITERM*, RETIME_REG&) override { return false; }
    bool create_output_registers(CDB_ATOM_NODE*, RETIME_REG&, bool&, bool&) override { return false; }
    bool is_push_allowed(CDB_ATOM_NODE*) override { return false; }
    bool has_extra_input(CDB_ATOM_NODE* node) override { return m_extra_input_ids.count(node->get_id()) != 0; }
    bool is_inverting_wire_lut(CDB_ATOM_NODE*) override { return false; }
    bool is_register_complex(CDB_ATOM_NODE*, bool) override { return false; }
    bool has_register_feedback(CDB_ATOM_NODE*) override { return false; }
    void add_retime_iterm(const RETIME_REG&, CDB_ATOM_NODE*, int, bool) override {}
    bool is_inverter_lut(CDB_ATOM_NODE*) override { return false; }
    bool is_retimeable_iterm(CDB_ATOM_ITERM*) override { return false; }
    void remove_register(CDB_ATOM_NODE*) override {}
    void disconnect_register(CDB_ATOM_ITERM*) override {}
    void add_register_on_output(CDB_ATOM_OTERM*, const RETIME_REG&) override {}
    void insert_register(const RETIME_ITERM&) override {}
    void insert_buffer_lcell(CDB_ATOM_ITERM*) override {}
    void delete_node(CDB_ATOM_NODE*) override {}
    bool has_critical_input(CDB_ATOM_NODE*) override { return false; }
    bool oslack_less_islack(CDB_ATOM_NODE*, double, bool) override { return false; }

    // ---- test access
    using MORV_RETIMING::take_driver_of;
    void touch(CDB_ATOM_ITERM* iterm) { m_touched_iterms.insert(iterm); }
    void invert_node(CDB_ATOM_NODE* node) { m_inverted_nodes.insert(node); }
    void set_saved_invert(bool on) { m_saved_invert = on; }
    void set_srt(double srt) { m_slack_ratio_threshold = srt; }
    void set_no_lb(bool on) { m_no_lb = on; }
    void set_lb_fom(int lb) { m_lb_fom = lb; }
    void set_tracking(int op_type, const std::string& text, const MORV_NT_NODE_ID_LIST& consumed)
    {
        m_fsyn_nt_op_type = op_type;
        m_operation_text = text;
        m_consumed_register_ids = consumed;
    }
    int inverters() const { return m_inverters; }
    std::set<uint32_t> m_extra_input_ids;

private:
    int m_inverters = 0;
};
