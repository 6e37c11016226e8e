// A leaf of the 4-LUT retiming branch for tests, until the family classes
// exist: the ZEPLA and TEV constants (4 inputs, 16 combinations, pass
// schedule B, the family's combinational-cell factory), with the test
// access every branch leaf has. It counts what the engine did
// through it: a push is a run of edit hooks after query hooks.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_4lut.h"
#include "morv/timing/morv_timing.h"
#include "retiming_branch_test_leaf.h"

class TEST_RETIMING_4LUT_LEAF : public TEST_RETIMING_BRANCH_LEAF<MORV_RETIMING_4LUT>
{
public:
    TEST_RETIMING_4LUT_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr)
        : TEST_RETIMING_BRANCH_LEAF(api, params)
    {
        m_trade = 50.0;
        m_slack_ratio_threshold = 0.125;
        // The 4-LUT cell's rotation delay (DB_DATA_A over DB_DATA_D) times RF.
        const std::string rf = params != nullptr ? get_algorithm_param(*params, "RF") : std::string();
        const float factor = rf.empty() ? 4.0f : static_cast<float>(std::atof(rf.c_str()));
        MORV_TIMING* timing = api->get_fsyn_timing();
        const int rotation = timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_A, DB_COMB_OUT) -
                             timing->get_internal_delay(MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_D, DB_COMB_OUT);
        m_max_critical_slack = static_cast<int>(static_cast<float>(rotation) * factor);
    }

    struct COUNTS
    {
        int pushes = 0;
        int inverters = 0;
        int demuxed = 0;
    };
    const COUNTS& counts() const { return m_counts; }

    CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag) override
    {
        m_committing = false;
        return MORV_RETIMING_4LUT::backward_push_get_reg(iterm, reg, flag);
    }
    bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) override
    {
        m_committing = false;
        return MORV_RETIMING_4LUT::get_input_register(iterm, reg);
    }
    void remove_register(CDB_ATOM_NODE* node) override
    {
        note_commit();
        MORV_RETIMING_4LUT::remove_register(node);
    }
    void disconnect_register(CDB_ATOM_ITERM* iterm) override
    {
        note_commit();
        MORV_RETIMING_4LUT::disconnect_register(iterm);
    }
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override
    {
        ++m_counts.inverters;
        MORV_RETIMING_4LUT::insert_inverter_lcell(iterm);
    }
    int run_demuxer() override
    {
        const int demuxed = MORV_RETIMING_4LUT::run_demuxer();
        m_counts.demuxed += demuxed;
        return demuxed;
    }
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override
    {
        m_retime_backwards = pass % 2 == 0;
        if (pass >= 2) m_slack_ratio_threshold = 0.05;
        else if (m_slack_ratio_threshold == -1.0) m_slack_ratio_threshold = 0.125;
        if (num_iters == -1) num_iters = pass == 1 ? 48 : 16;
        if (hill_climb_iters == -1) hill_climb_iters = pass < 2 ? 8 : 2;
    }
    CDB_ATOM_NODE* create_lcell_comb(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override
    {
        if (m_fsyn_api->get_base_family_code() == CDB_FAMILY_TEV)
            return m_cdb_interface->create_lcell_comb_sorvexii(segment, name);
        return m_cdb_interface->create_lcell_comb_zepla(segment, name);
    }

private:
    void note_commit()
    {
        if (!m_committing) ++m_counts.pushes;
        m_committing = true;
    }

    COUNTS m_counts;
    bool m_committing = false;
};
