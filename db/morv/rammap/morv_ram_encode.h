#pragma once

// What a RAM that replaces a legal cluster must hold. The cluster's true
// inputs and its state registers become the address bits (variable k of
// the utility's BDD manager is address bit k), its outputs and next-state
// values the data bits. Every data bit is a BDD over the address variables,
// expanded into a column of 2^(address bits) entries, and has the value the
// replaced logic holds at power-up.
//
// Depth counts register stages back from the RAM's output: 0 is the value
// at the RAM's output (outputs and next state), 1 the value at its address
// register (true inputs and current state), -1 the value at power-up. The
// cluster legaliser guarantees that every path from an input to an output,
// and every feedback path, crosses exactly one register, so a register
// needed at depth 1 that is no state asks for depth 2 and is refused.

#include <map>
#include <unordered_map>
#include <vector>

#include "bdd/bdd_jbdd.h"

#include "morv/rammap/morv_cluster_delegate.h"
#include "morv/rammap/morv_ram_mif.h"

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_CLUSTER;
class MORV_NET_UTIL;
class MORV_RAM_MAP_UTIL;

class MORV_CLUSTER_RAM_STATE_ENCODING : public MORV_CLUSTER_STATE_ENCODING
{
public:
    // Takes the utility's BDD manager and net utility; owns neither.
    explicit MORV_CLUSTER_RAM_STATE_ENCODING(MORV_RAM_MAP_UTIL* util);
    ~MORV_CLUSTER_RAM_STATE_ENCODING() override;
    MORV_CLUSTER_RAM_STATE_ENCODING(const MORV_CLUSTER_RAM_STATE_ENCODING&) = delete;
    MORV_CLUSTER_RAM_STATE_ENCODING& operator=(const MORV_CLUSTER_RAM_STATE_ENCODING&) = delete;

    std::vector<CDB_ATOM_OTERM*>& get_inputs() override { return m_inputs; }
    std::vector<CDB_ATOM_OTERM*>& get_outputs() override { return m_outputs; }
    std::vector<CDB_ATOM_OTERM*>& get_states() override { return m_states; }
    MORV_CLUSTER_RAM_STATE_ENCODING* as_ram_state_encoding() override { return this; }
    // Fills every list, column and power-up value from a legal cluster of a
    // manager, whose state mode it chooses and leaves set; results stay
    // valid until the next encode or reset.
    void encode(MORV_CLUSTER* cluster) override;
    void reset() override;

    BDD_JBDD get_oterm_bdd(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, int depth);
    // The register's next value from its synchronous inputs at that depth.
    BDD_JBDD get_register_bdd(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* regout, int depth);
    BDD_JBDD get_input_port_bdd(MORV_CLUSTER* cluster, CDB_ATOM_NODE* node, int port_type, int depth);
    BDD_JBDD get_iterm_bdd(MORV_CLUSTER* cluster, CDB_ATOM_ITERM* iterm, int port_type, int depth);
    BDD_JBDD get_comb_bdd(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, int depth);
    // Entry a of the column is the BDD's value where variable order[k]
    // takes bit k of a.
    void fill_contents(CDB_ATOM_NODE* node, const BDD_JBDD& bdd, const std::vector<int>& order, int level,
                       MORV_RAM_COLUMN& column, size_t address);

    const std::vector<CDB_ATOM_OTERM*>& get_address_oterms() const { return m_address_oterms; }
    const std::vector<CDB_ATOM_OTERM*>& get_data_oterms() const { return m_data_oterms; }
    const std::vector<MORV_RAM_COLUMN>& get_contents() const { return m_contents; }
    const std::vector<bool>& get_power_up_values() const { return m_power_up_values; }
    // The BDD of each data bit, in data-bit order.
    const std::vector<BDD_JBDD>& get_data_bdds() const { return m_data_bdds; }

private:
    void collect_inputs(MORV_CLUSTER* cluster);
    void collect_outputs(MORV_CLUSTER* cluster);
    void choose_state_mode(MORV_CLUSTER* cluster);
    void collect_states(MORV_CLUSTER* cluster);
    bool is_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm) const;
    // True when the register's aload input has a source.
    BDD_JBDD register_power_up(CDB_ATOM_OTERM* regout);
    void compute_power_up_values(MORV_CLUSTER* cluster);
    void dump_bdds(const std::vector<BDD_JBDD>& bdds) const;

    BDD_JBDD_MGR* m_bdd_mgr;
    MORV_NET_UTIL* m_net_util;
    std::vector<CDB_ATOM_OTERM*> m_inputs;
    std::vector<CDB_ATOM_OTERM*> m_outputs;
    std::vector<CDB_ATOM_OTERM*> m_states;
    std::vector<CDB_ATOM_OTERM*> m_address_oterms;
    std::vector<CDB_ATOM_OTERM*> m_data_oterms;
    std::vector<BDD_JBDD> m_data_bdds;
    std::vector<MORV_RAM_COLUMN> m_contents;
    std::vector<bool> m_power_up_values;
    // Positions in m_inputs and m_states, so that a variable is found
    // without a walk over the lists.
    std::unordered_map<const CDB_ATOM_OTERM*, int> m_input_index;
    std::unordered_map<const CDB_ATOM_OTERM*, int> m_state_index;
    // get_oterm_bdd's memo for depths -1, 0 and 1.
    std::map<const CDB_ATOM_OTERM*, BDD_JBDD> m_bdd_cache[3];
};
