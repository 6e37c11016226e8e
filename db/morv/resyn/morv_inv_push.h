#pragma once

// Inverter pushing. A timing-critical LUT gives up the inversion of its
// output: its own mask is complemented and every sink LUT inverts the data
// input it reads the LUT on, so the function of the netlist stays the same
// while the masks (and with them the cells the legaliser picks) change.
// Each pass proposes pushes on the critical LUTs, lets the run driver
// re-time the netlist, and then restores the netlist and performs only the
// pushes whose estimated slacks around them did not get worse.

#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/timing/morv_timing.h"

class MORV_NET_UTIL;
class MORV_INV_PUSH;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

// The output term that drives a connection: atom id, output port type, port index.
typedef std::tuple<int, int, int> MORV_DRIVER_KEY;
// Slack in ps per driver; each key keeps the smallest value stored under it.
typedef std::map<MORV_DRIVER_KEY, int> MORV_SLACK_MAP;

// One proposed push, from its proposal to its evaluation.
struct MORV_INV_PUSH_OP
{
    MORV_INV_PUSH_OP(MORV_INV_PUSH* owner, int id);

    // The first call records the present slacks into slacks (and the
    // driver-side values); every later call estimates the slacks after the
    // push from the recorded values and the new delays. The worst slack.
    int estimate_worst_slack(MORV_SLACK_MAP* slacks);

    int node_id;
    // Every node whose mask the push rewrote: the LUT and its sinks.
    std::set<int> nodes;
    MORV_API* api;
    int old_worst_slack;
    MORV_SLACK_MAP old_slacks;
    // Slack + delay of a connection into a rewritten node.
    MORV_SLACK_MAP l1_slacks;
    // Slack + delay of a connection into the pushed LUT + its largest delay to a sink.
    MORV_SLACK_MAP l2_slacks;

private:
    // One call of estimate_worst_slack.
    struct SWEEP
    {
        bool recording;
        MORV_SLACK_MAP* slacks;
        int worst;
        // The largest delay from the pushed LUT to a sink seen so far.
        int max_sink_delay;
    };
    // Each timed data input of node; into_pushed for the pushed LUT's own,
    // pushed_out (else null) collects the delays to the pushed LUT's sinks.
    void sweep_node(CDB_ATOM_NODE* node, bool into_pushed, CDB_ATOM_OTERM* pushed_out, SWEEP* sweep);
    // Records or estimates one connection; false when an estimate finds
    // nothing recorded for its driver.
    bool account_connection(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* source, int delay, bool into_pushed, SWEEP* sweep);

    // Answers the timing queries.
    MORV_INV_PUSH* m_owner;
};

class MORV_INV_PUSH : public MORV_ALGORITHM_BASE
{
public:
    MORV_INV_PUSH(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_INV_PUSH() override;

    std::string get_short_name() override { return "INV_PUSH"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    void finish_algorithm() override;

    // Critical LUTs whose every sink can take the inversion, most critical first.
    std::vector<int> collect_critical_nodes();
    // Pushes node's output inversion into its sinks; the number of masks
    // written, 0 when the push was given up (then nothing is written).
    // Without apply the push is recorded as a proposal.
    int push_inverter(CDB_ATOM_NODE* node, bool apply);
    // The mask that computes the same function with input k inverted.
    static uint64_t invert_lutmask_input(uint64_t mask, int k);
    // -1, 0 or 1 as the old sorted slack list is lexicographically smaller
    // than, equal to or greater than the new one.
    static int compare_slacks(const MORV_SLACK_MAP& old_slacks, const MORV_SLACK_MAP& new_slacks);

    // ---- state, for the tests
    int get_save_id() const { return m_save_id; }
    int get_pending_count() const { return static_cast<int>(m_pending_ops.size()); }
    const std::set<int>& get_decided_nodes() const { return m_decided_nodes; }
    const std::set<int>& get_touched_nodes() const { return m_touched_nodes; }

    // The answer of the timing queries for a connection without a constraining path.
    static constexpr int s_NO_PATH = MORV_TIMING::s_NO_PATH;

protected:
    // The timing of one input term; tests replace them to script timing.
    virtual double input_slack_ratio(CDB_ATOM_ITERM* iterm);
    virtual int input_slack(CDB_ATOM_ITERM* iterm);
    virtual int input_delay(CDB_ATOM_ITERM* iterm);

private:
    friend struct MORV_INV_PUSH_OP;

    // A LUT cell whose mask is its plain 6-input function.
    bool is_plain_lut_cell(CDB_ATOM_NODE* node) const;
    // Such a LUT that drives something.
    bool is_plain_lut(CDB_ATOM_NODE* node) const;
    // The slack ratio of node's first data input below threshold whose
    // every sink can take the inversion; false when there is none.
    bool find_critical_input(CDB_ATOM_NODE* node, double threshold, double* slack_ratio);
    bool can_sink_take_inversion(CDB_ATOM_ITERM* sink) const;
    // Fills masks with the node's new mask and every sink's; false when the push is given up.
    bool plan_push(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, std::map<int, uint64_t>* masks);
    bool plan_sink(CDB_ATOM_ITERM* sink, std::map<int, uint64_t>* masks);
    int write_masks(const std::map<int, uint64_t>& masks, MORV_INV_PUSH_OP* op);
    int propose();
    int evaluate();
    // Drops the netlist state the proposals saved, when one is held.
    void drop_saved_state();
    void clear_pending_ops();

    MORV_NET_UTIL* m_net_util;
    MORV_LEGALIZER m_legalizer;
    int m_iteration;
    int m_pass_index;
    // The state before the first push of a proposal iteration, -1 when none is held.
    int m_save_id;
    std::vector<MORV_OWNER<MORV_INV_PUSH_OP>> m_pending_ops;
    std::set<int> m_touched_nodes;
    // A node whose push was judged is not proposed again in the run.
    std::set<int> m_decided_nodes;
};
