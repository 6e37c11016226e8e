#pragma once

// LUT-input remapping. Inputs of a LUT whose exchange leaves the function
// unchanged form a group; within a group the most critical signal is moved
// onto the fastest input, the next most critical onto the next fastest, and
// so on. Only connections move (with the settings of their input terms), the
// mask never changes, so every remap keeps the function by construction.

#include <list>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_net_util.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

class MORV_LIR : public MORV_ALGORITHM_BASE
{
public:
    // Indices (0..5) of LUT inputs that may be exchanged freely.
    typedef std::set<int> EQUIVALENCE_SET;
    typedef std::list<MORV_OWNER<EQUIVALENCE_SET>> EQUIVALENCE_SET_LIST;
    typedef std::vector<std::pair<int, int>> DELAY_LIST;           // (port type, delay ps)
    typedef std::vector<std::pair<int, double>> SLACK_RATIO_LIST;  // (port type, slack ratio)
    typedef std::map<int, CDB_ATOM_OTERM*> PORT_TO_OTERM_MAP;
    typedef std::map<int, MORV_ITERM_PROPERTIES> PORT_TO_FLAGS_MAP;

    // Data inputs of a 6-input LUT.
    static constexpr int s_INPUT_NUMBER = 6;

    MORV_LIR(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_LIR() override;

    std::string get_short_name() override { return "LIR"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;

    // The node qualifies for remapping.
    bool is_candidate(CDB_ATOM_NODE* node) const;
    void find_equivalent_inputs(CDB_ATOM_NODE* node, EQUIVALENCE_SET_LIST* list) const;
    static void add_equivalence(int i, int j, EQUIVALENCE_SET_LIST* list);
    bool remap_node_inputs(CDB_ATOM_NODE* node, EQUIVALENCE_SET_LIST* list);
    bool remap_equivalence_set(CDB_ATOM_NODE* node, EQUIVALENCE_SET* set);
    void collect_input_timing(CDB_ATOM_NODE* node, EQUIVALENCE_SET* set, DELAY_LIST* input_delay_list,
                              SLACK_RATIO_LIST* input_slack_ratio_list, PORT_TO_OTERM_MAP* port_to_oterm_map,
                              PORT_TO_FLAGS_MAP* port_to_flags_map);
    static void clear_equivalence_sets(EQUIVALENCE_SET_LIST* list);

protected:
    // The timing of one input term; tests replace them to script timing.
    virtual double input_slack_ratio(CDB_ATOM_ITERM* iterm);
    virtual int input_delay(CDB_ATOM_ITERM* iterm);

private:
    // Moves the signal captured under src_port onto the input of target_port.
    void move_signal(CDB_ATOM_NODE* node, int src_port, int target_port, const PORT_TO_OTERM_MAP& oterms,
                     const PORT_TO_FLAGS_MAP& flags);

    MORV_NET_UTIL* m_net_util;
};
