#pragma once

// Duplicates a LUT whose fanout registers fall into groups with different
// controls, so that each group is fed by a copy of its own and a later
// backward move can take each group across its own copy. Made for one pass.

#include <map>
#include <set>

#include "mem_alloc_sys.h"
#include "morv/rtm/morv_rtm_types.h"

class MORV_API;
class MORV_CDB_INTERFACE;

// Fanout term -> cluster: 0 for a fanout that is not a register's data
// input, 1, 2, ... per group of registers with equal controls.
using MORV_RTM_CLUSTER_MAP = std::map<CDB_ATOM_ITERM*, int, DETERMINISTIC_LESS<CDB_ATOM_ITERM*>>;

class MORV_RTM_SPLITTER
{
public:
    explicit MORV_RTM_SPLITTER(MORV_API* api);

    int run(const std::set<int>& atom_ids);
    bool is_splittable(CDB_ATOM_NODE* node) const;
    int split_node(CDB_ATOM_NODE* node);
    int split_fanouts(CDB_ATOM_NODE* node, const MORV_RTM_CLUSTER_MAP* iterm_to_cluster_map);

    // Filled by the engine before run.
    MORV_RTM_PORT_LIST m_register_secondary_signals;
    MORV_RTM_PORT_LIST m_register_asynchronous_signals;

    // More fanout terms than this and the node is left alone.
    static constexpr int s_MAX_FANOUT_TERMS = 4;

    // Fanout registers sorted into clusters so far.
    int get_registers_sorted() const { return m_registers_sorted; }

private:
    bool is_register_data_fanout(CDB_ATOM_ITERM* fanout) const;
    // The fanout's cluster, making its registers the representative of a
    // new cluster when no earlier one has the same controls.
    int cluster_of(CDB_ATOM_NODE* reg_node, MORV_RTM_REG_LIST* representatives);

    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface;
    int m_registers_sorted = 0;
};
