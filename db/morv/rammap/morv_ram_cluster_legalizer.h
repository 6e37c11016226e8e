#pragma once

// The legaliser of logic-to-RAM clusters. A RAM block is synchronous: the
// logic it replaces must start and end at registers. The legaliser tells
// whether a cluster is legal, pulls missing logic into a cluster up to
// registers, and keeps per-oterm caches of boundaries that can never be
// legalised. A refusal is kept for the whole run; the caches are filled per
// register type (pre_cache) and re-checked around each RAM built
// (invalidate).
//
// The walks through LUT fan-in and fan-out keep a state per atom for the
// current pass: a node is walked once per pass, and a node met again while
// its own walk is still open sits on a combinational loop, which refuses
// the boundary.

#include <cstdint>
#include <map>
#include <vector>

#include "vtl_hash_lite_sys.h"

#include "morv/rammap/morv_cluster_delegate.h"

class MORV_CLUSTER_NODE_INFO;

class MORV_CLUSTER_RAM_LEGALIZER : public MORV_CLUSTER_LEGALIZER
{
public:
    // Above this many registers reached, a LUT output is never a boundary.
    static constexpr int s_MAX_SIGNATURE_BITS = 12;
    // Forced legalisation gives up at this many inputs, or this many bits.
    static constexpr int s_MAX_INPUTS = 20;
    static constexpr int64_t s_MAX_FORCED_BITS = 40961;
    // Stepwise legalisation gives up beyond this many nested steps.
    static constexpr int s_MAX_PULL_DEPTH = 1024;

    bool is_legal(MORV_CLUSTER* cluster) override;
    bool legalize(MORV_CLUSTER* cluster) override;
    void pre_cache(const MORV_REGISTER_TYPE& register_type, CDB_ATOM_NETLIST* netlist) override;
    void invalidate(MORV_CLUSTER* cluster) override;
    bool is_input_legalizable(CDB_ATOM_OTERM* oterm) const override;
    bool is_output_legalizable(CDB_ATOM_OTERM* oterm) const override;
    bool legalize_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm) override;
    bool legalize_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm) override;
    MORV_CLUSTER_RAM_LEGALIZER* as_ram_legalizer() override { return this; }

    // Whether the fan-in cone of the oterm reaches registers only through
    // packable LUTs (cluster may be null). With counting, the registers
    // reached that the cluster does not hold are added to the expected
    // input increase.
    bool can_legalize_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting);
    // The forward counterpart: the fan-out cone reaches registers' data
    // inputs only through packable LUTs.
    bool propagate_output_arrivals(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting);
    // The registers made states by the cluster, their fan-in pulled in.
    bool register_states(MORV_CLUSTER* cluster);
    // The inputs the pending illegal true inputs would add; -1 when one of
    // them cannot be legalised.
    int expected_input_increase(MORV_CLUSTER* cluster);
    int get_expected_input_increase() const { return m_expected_input_increase; }

    // 64-bit sketches of the registers a node's fan-in and fan-out cones
    // reach (bit: atom id mod 64).
    uint64_t register_signature(CDB_ATOM_NODE* node);
    uint64_t fanout_register_signature(CDB_ATOM_NODE* node);

    // A fresh pass of the walks.
    void reset();

private:
    enum WALK_STATE : uint8_t
    {
        UNSEEN = 0,
        OPEN = 1,
        PASSED = 2,
        FAILED = 3
    };
    struct ATOM_STATE
    {
        uint32_t m_pass = 0;
        int m_visits = 0;
        WALK_STATE m_backward = UNSEEN;
        WALK_STATE m_forward = UNSEEN;
    };

    MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager() const;
    ATOM_STATE& state_of(CDB_ATOM_NODE* node);
    bool walk_backward(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting);
    bool walk_forward(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting);
    bool walk_fanin_node(MORV_CLUSTER* cluster, CDB_ATOM_NODE* node, bool counting);
    bool walk_fanout_node(MORV_CLUSTER* cluster, CDB_ATOM_ITERM* iterm, bool counting);
    // An open step of a pull: its boundary and the boundaries it has still
    // to legalise first (on the output side, m_members: the outputs of the
    // nodes it added).
    struct PULL_STEP
    {
        CDB_ATOM_OTERM* m_oterm = nullptr;
        std::vector<CDB_ATOM_OTERM*> m_next;
        size_t m_at = 0;
        bool m_members = false;
    };

    static bool too_deep(const std::vector<PULL_STEP>& open);
    bool enter_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, std::vector<PULL_STEP>& open);
    CDB_ATOM_OTERM* next_input(MORV_CLUSTER* cluster, PULL_STEP& step, bool& ok);
    void fail_input(CDB_ATOM_OTERM* oterm);
    bool input_failed(CDB_ATOM_OTERM* oterm);
    bool enter_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, std::vector<PULL_STEP>& open);
    CDB_ATOM_OTERM* next_output(MORV_CLUSTER* cluster, PULL_STEP& step);
    bool output_failed(CDB_ATOM_OTERM* oterm);
    bool core_legalize(MORV_CLUSTER* cluster);
    int core_inputs(MORV_CLUSTER* cluster, bool& changed);
    bool core_outputs(MORV_CLUSTER* cluster, bool& changed);
    bool forced_input_fits(MORV_CLUSTER* cluster, int increase);
    bool add_fanouts(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, std::vector<CDB_ATOM_NODE*>& added);
    bool legalize_all(MORV_CLUSTER* cluster, bool inputs);
    uint64_t signature(CDB_ATOM_NODE* node, bool fanout);
    void refuse_input(CDB_ATOM_OTERM* oterm) { m_input_cache[oterm] = false; }
    void refuse_output(CDB_ATOM_OTERM* oterm) { m_output_cache[oterm] = false; }
    void invalidate_side(MORV_CLUSTER* cluster, const std::vector<CDB_ATOM_OTERM*>& work, bool output,
                         std::vector<CDB_ATOM_OTERM*>& next);

    int m_expected_input_increase = 0;
    // One record per atom id, valid for the pass it was stamped with.
    std::vector<ATOM_STATE> m_atom_states;
    uint32_t m_pass = 1;
    std::map<int, uint64_t> m_register_signatures;
    VTL_HASH_LITE<CDB_ATOM_OTERM*, bool> m_input_cache{48};
    VTL_HASH_LITE<CDB_ATOM_OTERM*, bool> m_output_cache{48};
};
