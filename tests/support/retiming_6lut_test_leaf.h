// A leaf of the 6-LUT retiming branch for tests, until the family classes
// exist: the BRK, KESTLIN, RZK and OBRAN constants (6 inputs, 64
// combinations, the pass schedule with SRT 0.125, inverters 0xaaaa...,
// buffers 0x5555..., "inverting" meaning LUT-mask bit 0 clear), with the
// test access every branch leaf has and a few switches more.
#pragma once

#include <cstdint>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_6lut.h"
#include "morv/timing/morv_timing.h"
#include "retiming_branch_test_leaf.h"

class TEST_RETIMING_6LUT_LEAF : public TEST_RETIMING_BRANCH_LEAF<MORV_RETIMING_6LUT>
{
public:
    static constexpr uint64_t k_inverter_mask = 0xaaaaaaaaaaaaaaaaULL;
    static constexpr uint64_t k_buffer_mask = 0x5555555555555555ULL;

    TEST_RETIMING_6LUT_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr)
        : TEST_RETIMING_BRANCH_LEAF(api, params)
    {
        m_trade = 50.0;
        m_slack_ratio_threshold = 0.125;
        if (m_fsyn_timing != nullptr) {
            m_rotation_delay =
                m_fsyn_timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_A, DB_COMB_OUT) -
                m_fsyn_timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_F, DB_COMB_OUT);
        }
        m_max_critical_slack = static_cast<int>(static_cast<float>(m_rotation_delay) * 4.0f);
    }
    int get_rotation_delay() const { return m_rotation_delay; }
    int get_max_critical_slack() const { return m_max_critical_slack; }

    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override
    {
        m_retime_backwards = pass % 2 == 0;
        if (m_slack_ratio_threshold == -1.0) m_slack_ratio_threshold = 0.125;
        if (num_iters == -1) num_iters = pass == 1 ? 48 : 16;
        if (hill_climb_iters == -1) hill_climb_iters = pass < 2 ? 8 : 2;
    }
    bool is_inverting_wire_lut(CDB_ATOM_NODE* node) override
    {
        return is_wire_lut(node) && (m_net_util->get_lutmask(node) & 1u) == 0;
    }
    bool is_inverter_lut(CDB_ATOM_NODE* node) override
    {
        return m_net_util->is_lut(node) && count_connected_data_inputs(node) == 1 && is_inverting_wire_lut(node);
    }
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override { insert_cell(iterm, k_inverter_mask); }
    void insert_buffer_lcell(CDB_ATOM_ITERM* iterm) override { insert_cell(iterm, k_buffer_mask); }

    // ---- test access
    void set_sload_push(bool on) { m_sload_push = on; }
    void set_greedy(bool on) { m_greedy = on; }
    void set_mac_retiming(bool on) { m_mac_retiming_enabled = on; }
    void set_srt(double srt) { m_slack_ratio_threshold = srt; }
    void touch(CDB_ATOM_ITERM* iterm) { m_touched_iterms.insert(iterm); }
    int inserted_cells() const { return m_inserted_cells; }

private:
    // The cell reads the term's former source on DB_DATA_A; the term keeps
    // its inversion bit.
    void insert_cell(CDB_ATOM_ITERM* iterm, uint64_t mask)
    {
        CDB_ATOM_OTERM* former = iterm->get_source();
        CDB_ATOM_NODE* model = iterm->get_my_node();
        CDB_ATOM_NODE* cell = m_net_util->create_lcell_comb(model);
        CDB_ATOM_OTERM* out = nullptr;
        m_cdb_interface->create_oterm(nullptr, out, cell, DB_COMB_OUT, cell->get_instance_name());
        CDB_ATOM_ITERM* in = nullptr;
        m_cdb_interface->create_input_term(nullptr, in, cell, DB_DATA_A, 0);
        m_cdb_interface->set_lutmask(cell, CDB_LUTMASK(6, mask), 0);
        place_next_to(model, cell);
        const bool constant = former == nullptr && iterm->is_connected();
        if (former != nullptr) m_net_util->insert_fanout(former, in);
        else if (constant && iterm->is_logical_vcc()) m_cdb_interface->set_iterm_logical_vcc(in);
        else if (constant) m_cdb_interface->set_iterm_logical_gnd(in);
        move_iterm(iterm, out);
        // A constant's inversion is in its logical value, which the cell read.
        if (constant && iterm->is_inverted()) toggle_invert(iterm);
        ++m_inserted_cells;
    }
    int m_inserted_cells = 0;
    int m_rotation_delay = 0;
};
