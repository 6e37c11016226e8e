// What the test leaves of the 4-LUT and 6-LUT retiming branches share: access
// to the switches and sets the hooks read and fill, and the steps of a push
// the core would make around the hooks.
#pragma once

#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"

template <typename BRANCH>
class TEST_RETIMING_BRANCH_LEAF : public BRANCH
{
public:
    using BRANCH::BRANCH;

    void set_backwards(bool on) { this->m_retime_backwards = on; }
    void make_live(CDB_ATOM_NODE* node) { this->m_live_nodes.insert(node); }
    void queue(CDB_ATOM_NODE* node) { this->m_demux_queue.insert(node); }
    // The registers a push consumes, which node tracking records new
    // registers as made from.
    void set_consumed(const std::vector<CDB_ATOM_NODE*>& registers)
    {
        this->m_consumed_register_ids.clear();
        for (CDB_ATOM_NODE* r : registers) this->m_consumed_register_ids.emplace_back(static_cast<int>(r->get_id()));
        this->m_operation_text = "RETIME";
    }
    void clear_plans()
    {
        this->insert_set1.clear();
        this->m_output_registers.clear();
        this->m_iterms_to_disconnect.clear();
        this->delete_set0.clear();
    }
    // What the core does with a pushed register left without fanout: the
    // origins go before the register, as in the demux pass.
    void drop_register(CDB_ATOM_NODE* node)
    {
        this->m_registers_to_check.erase(node);
        this->m_live_nodes.erase(node);
        this->m_new_registers.erase(node);
        this->forget_register_origins();
        this->m_fsyn_api->delete_node(node);
    }
    void mark_new_register_iterm(CDB_ATOM_ITERM* iterm) { this->m_new_register_iterms.insert(iterm); }
};
