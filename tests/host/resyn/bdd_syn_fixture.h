#pragma once
// Shared by the BDD resynthesis tests: a compile of one netlist in one
// family with timing, a resynthesis object of the family's branch with the
// shared defaults that inspects each decomposition and commits none, and
// the checks every successful decomposition must pass.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_bdd_syn.h"
#include "morv/timing/morv_timing.h"
#include "test_compile_setup.h"

namespace bdd_syn_test {

using namespace morv_host;

// The node's name as the netlist file gave it.
inline std::string short_name(const CDB_ATOM_NODE* node)
{
    return node->get_instance_name() != nullptr ? node->get_instance_name()->get_short_hpath() : std::string();
}

inline std::string source(const std::string& rel)
{
    return std::string(MORV_SOURCE_DIR) + "/" + rel;
}

// One design compiled in one family and timed before placement (inside
// FIT_EARLY) at 90 % of its critical path, or after placement (LATE).
// `edit` may change the netlist before the compile sees it.
struct BDD_COMPILE
{
    BDD_COMPILE(const std::string& path, int family, bool placed = false,
                const std::function<void(CDB_ATOM_NETLIST&)>& edit = nullptr,
                const std::function<void(HOST_DESIGN&)>& edit_design = nullptr)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_file(path));
        if (edit) edit(*design->netlist());
        if (edit_design) edit_design(*design);
        env = std::make_unique<HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        if (placed) {
            env->place_unplaced_atoms();
            env->set_placed(true);
        }
        expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        timing = api->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, placed ? LATE_FSYN_FLOW : FIT_EARLY_FSYN_FLOW);
        // The placed flows see the atoms' locations in the chip map.
        if (placed) api->reset_fsyn_chip_map(true);
        timing->sync_timing_netlist(false, true);
        if (placed) timing->perform_timing_analysis();
        else timing->perform_pre_placement_timing_analysis(false);
    }

    CDB_ATOM_NODE* node_named(const std::string& name) const
    {
        for (CDB_ATOM_NODE* node : *design->netlist())
            if (node->is_lcell_comb() && short_name(node) == name) return node;
        return nullptr;
    }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_EXPERT* expert = nullptr;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
};

// What one successful decomposition is handed to the check with.
struct DECOMPOSITION
{
    CDB_ATOM_NODE* base = nullptr;
    int expansions = 0;
    int duplications = 0;
    int available_inputs = 0;
};

// The family's branch with the shared defaults and the family's delays.
template <typename BRANCH>
class TEST_BDD_SYN : public BRANCH
{
public:
    TEST_BDD_SYN(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr) : BRANCH(api, params)
    {
        const int family = api->get_base_family_code();
        int delay = family == CDB_FAMILY_MRL ? this->m_fsyn_timing->get_fl_lut_delay()
                                             : this->m_fsyn_timing->get_internal_delay(499, DB_DATA_D, DB_COMB_OUT);
        if (delay == CDB_ILLEGAL_TSM_DELAY) delay = 0;
        this->init_family(family_word(family), cdb_family_lut_size(family), static_cast<int>(std::trunc(2.5 * delay)),
                          0);
    }
    static const char* family_word(int family)
    {
        if (family == CDB_FAMILY_BRK) return "brennock";
        if (family == CDB_FAMILY_MRL) return "morlin";
        if (family == CDB_FAMILY_ZEPLA) return "zepla";
        return "test";
    }

    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* /*base*/) override
    {
        ADD_FAILURE() << "the inspecting object commits nothing";
        return nullptr;
    }
    bool accept_and_commit(CDB_ATOM_NODE* base, int expansions, int duplications, int available) override
    {
        ++accepted;
        if (on_accept) on_accept(DECOMPOSITION{base, expansions, duplications, available});
        // The decomposition checks look at the cone and its pieces only.
        return false;
    }

    std::function<void(const DECOMPOSITION&)> on_accept;
    int accepted = 0;

    using MORV_BDD_SYN::m_area_accept_curr;
    using MORV_BDD_SYN::m_avg_logic_level_delay;
    using MORV_BDD_SYN::m_avg_lut_delay;
    using MORV_BDD_SYN::m_bdd_mgr;
    using MORV_BDD_SYN::m_conn_delay_count;
    using MORV_BDD_SYN::m_conn_delay_sum;
    using MORV_BDD_SYN::m_curr_logic_level_delay;
    using MORV_BDD_SYN::m_decomp_succeeded;
    using MORV_BDD_SYN::m_decomp_tried;
    using MORV_BDD_SYN::m_done_nodes;
    using MORV_BDD_SYN::m_expanded_cone;
    using MORV_BDD_SYN::m_max_bdd_nodes;
    using MORV_BDD_SYN::m_max_expansions;
    using MORV_BDD_SYN::m_max_iterations;
    using MORV_BDD_SYN::m_num_data_ports;
    using MORV_BDD_SYN::m_pass;
    using MORV_BDD_SYN::m_slack_bound;
    using MORV_BDD_SYN::m_slack_ratio_curr;
    using MORV_BDD_SYN::m_slack_ratio_factor;
    using MORV_BDD_SYN::m_syn_nodes;
    using MORV_BDD_SYN::m_var_map;
    using MORV_BDD_SYN::m_vars;
    using MORV_BDD_SYN::make_root_record;
    using MORV_BDD_SYN::score_node;
};

typedef TEST_BDD_SYN<MORV_BDD_SYN_6LUT> TEST_BDD_SYN_6LUT;
typedef TEST_BDD_SYN<MORV_BDD_SYN_4LUT> TEST_BDD_SYN_4LUT;

// The family's object (branch by LUT size).
inline std::unique_ptr<MORV_BDD_SYN> make_test_syn(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr)
{
    if (cdb_family_lut_size(api->get_base_family_code()) == 4) return std::make_unique<TEST_BDD_SYN_4LUT>(api, params);
    return std::make_unique<TEST_BDD_SYN_6LUT>(api, params);
}

// The value of a BDD under one value per variable; `one` is the constant true.
inline unsigned bdd_value(BDD_JBDD g, const std::vector<unsigned>& values, const BDD_JBDD& one)
{
    while (g.variable() >= 0) g = values[g.variable()] ? g.high_child() : g.low_child();
    return g == one ? 1u : 0u;
}

// The cone as the host evaluates it: the base node and the absorbed LUTs
// in an order where each gate follows the gates it reads.
class CONE_SIMULATION
{
public:
    // records: the cone's input and absorbed variables (index = variable).
    CONE_SIMULATION(CDB_ATOM_NODE* base, const std::vector<const MORV_BDD_SYN_ITERM_SRC*>& records)
    {
        for (const MORV_BDD_SYN_ITERM_SRC* r : records)
            if (r->oterm != nullptr && r->times_expanded == 0) m_leaf_of[r->oterm] = m_leaf_count++;
        for (const MORV_BDD_SYN_ITERM_SRC* r : records)
            if (r->oterm != nullptr && r->times_expanded != 0) m_absorbed[r->oterm] = true;
        m_base = add_gate(base->get_output_term_by_type(DB_COMB_OUT));
    }
    int leaf_count() const { return m_leaf_count; }
    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    int leaf_of(CDB_ATOM_OTERM* o) const { return m_leaf_of.at(o); }
    int gate_of(CDB_ATOM_OTERM* o) const { return m_gate_of.at(o); }

    // Every gate's value for the leaves' values (bit i of `leaves` is leaf i).
    void run(unsigned leaves, std::vector<unsigned>& values) const
    {
        values.assign(m_gates.size(), 0);
        for (size_t g = 0; g < m_gates.size(); ++g) {
            unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
            for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k) {
                const INPUT& i = m_gates[g].in[k];
                unsigned v = i.constant;
                if (i.leaf >= 0) v = (leaves >> i.leaf) & 1u;
                if (i.gate >= 0) v = values[i.gate];
                in[k] = v ^ i.complement;
            }
            values[g] = m_gates[g].node->evaluate_output(m_gates[g].port, in) & 1u;
        }
    }
    int base_gate() const { return m_base; }

private:
    struct INPUT
    {
        int leaf = -1;
        int gate = -1;
        unsigned constant = 0;
        unsigned complement = 0;
    };
    struct GATE
    {
        CDB_ATOM_NODE* node = nullptr;
        int port = 0;
        INPUT in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
    };

    int add_gate(CDB_ATOM_OTERM* o)
    {
        auto known = m_gate_of.find(o);
        if (known != m_gate_of.end()) return known->second;
        GATE gate;
        gate.node = o->get_my_node();
        gate.port = o->get_usage();
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k) {
            CDB_ATOM_ITERM* t = gate.node->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]);
            INPUT& i = gate.in[k];
            if (t == nullptr || !t->is_connected()) continue;
            if (!t->is_driven()) {
                i.constant = t->is_logical_vcc() ? 1u : 0u;
                continue;
            }
            i.complement = t->reads_complemented() ? 1u : 0u;
            CDB_ATOM_OTERM* s = t->get_source();
            if (m_leaf_of.count(s) != 0 && m_absorbed.count(s) == 0) i.leaf = m_leaf_of[s];
            else if (m_absorbed.count(s) != 0) i.gate = add_gate(s);
            else {
                m_ok = false;
                m_error = "the cone reads " + MORV_NET_UTIL::get_hpath_name(s) + " without a variable";
            }
        }
        m_gates.push_back(gate);
        return m_gate_of[o] = static_cast<int>(m_gates.size()) - 1;
    }

    std::unordered_map<CDB_ATOM_OTERM*, int> m_leaf_of;
    std::unordered_map<CDB_ATOM_OTERM*, bool> m_absorbed;
    std::unordered_map<CDB_ATOM_OTERM*, int> m_gate_of;
    std::vector<GATE> m_gates;
    int m_leaf_count = 0;
    int m_base = -1;
    bool m_ok = true;
    std::string m_error;
};

// The cone function f of a base node against the host's evaluation of the
// absorbed LUTs, over every value of the leaves. A variable whose driver
// was absorbed and that entered the cone again takes its driver's value.
// Empty when they agree, else the first difference.
inline std::string compare_cone_with_host(CDB_ATOM_NODE* base, const BDD_JBDD& f,
                                          const std::vector<const MORV_BDD_SYN_ITERM_SRC*>& records,
                                          const BDD_JBDD& one)
{
    CONE_SIMULATION sim(base, records);
    if (!sim.ok()) return sim.error();
    if (sim.leaf_count() > 20) return "too many leaves";
    std::vector<unsigned> gates;
    std::vector<unsigned> vars(records.size(), 0);
    for (unsigned leaves = 0; leaves < (1u << sim.leaf_count()); ++leaves) {
        sim.run(leaves, gates);
        for (size_t v = 0; v < records.size(); ++v) {
            const MORV_BDD_SYN_ITERM_SRC& r = *records[v];
            if (r.is_vcc) vars[v] = 1;
            else if (r.is_gnd) vars[v] = 0;
            else if (r.times_expanded == 0) vars[v] = (leaves >> sim.leaf_of(r.oterm)) & 1u;
            else vars[v] = gates[sim.gate_of(r.oterm)];
        }
        const unsigned value = bdd_value(f, vars, one);
        if (value != gates[sim.base_gate()])
            return "leaves " + std::to_string(leaves) + ": BDD " + std::to_string(value) + ", host " +
                   std::to_string(gates[sim.base_gate()]);
    }
    return "";
}

}  // namespace bdd_syn_test
