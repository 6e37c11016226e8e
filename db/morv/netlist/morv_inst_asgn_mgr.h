#pragma once

// Per-instance switches of the optimisations. Users turn single
// optimisations on or off per design instance with six boolean options; the
// manager reads them once per run, keeps one flag word per output term, and
// answers whether the algorithm now running may change a term or a node.
// The flow driver installs each algorithm's flag mask before it runs and
// reads which options some instance switched on when it picks the flows.
//
// The words are keyed by (atom id, port usage, port index), so they hold for
// a restored netlist; a term made later gets its word on its first query.

#include <cstdint>

#include "vtl_hash_sys.h"
#include "morv/netlist/morv_deterministic.h"

class MORV_API;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class HDB_ACTION_PT_INSTANCE;

// Bit positions of the flag word, one per per-instance option.
enum MORV_INSTANCE_ASSIGNMENT_ENUM : int
{
    MORV_INST_ASGN_REGISTER_DUPLICATION = 0,
    MORV_INST_ASGN_LOGIC_TO_MEMORY = 1,
    MORV_INST_ASGN_REGISTER_RETIMING = 2,
    MORV_INST_ASGN_ASYNC_PIPELINING = 3,
    MORV_INST_ASGN_COMB_LOGIC_FOR_FITTING = 4,
    MORV_INST_ASGN_COMB_LOGIC = 5,
    MORV_INST_ASGN_COUNT = 6
};

// Bucket of a term key: (port usage * 41 + atom id * 4095 + port index).
struct MORV_INST_ASGN_KEY_HASH
{
    uint32_t operator()(const MORV_CANONICAL_OTERM& key) const
    {
        return static_cast<uint32_t>(key.m_port_type) * 41u + static_cast<uint32_t>(key.m_atom_id) * 4095u +
               static_cast<uint32_t>(key.m_port_index);
    }
};

class MORV_INST_ASGN_MGR
{
public:
    static constexpr uint32_t s_INITIAL_BUCKETS = 61;

    // The project option behind each bit of the flag word.
    static int get_option_id(MORV_INSTANCE_ASSIGNMENT_ENUM bit);

    explicit MORV_INST_ASGN_MGR(MORV_API* fsyn_api);
    ~MORV_INST_ASGN_MGR() {}
    MORV_INST_ASGN_MGR(const MORV_INST_ASGN_MGR&) = delete;
    MORV_INST_ASGN_MGR& operator=(const MORV_INST_ASGN_MGR&) = delete;

    // Reads the project defaults and every output term's options; stays
    // active only when some term differs from the defaults.
    void initialize();
    // Stores the term's word; true when its instance differs from a default.
    // Does nothing (false) while the manager does not answer.
    bool load_oterm_assignments(CDB_ATOM_OTERM* oterm);
    bool is_oterm_modifiable(CDB_ATOM_OTERM* oterm);
    // Every output term of the node is modifiable.
    bool is_node_modifiable(CDB_ATOM_NODE* node);
    // The mask, the defaults and every output term's word, at level 1.
    void dump();

    // 0 gates nothing.
    void set_flag_mask(uint32_t mask) { m_flag_mask = mask; }
    uint32_t get_flag_mask() const { return m_flag_mask; }
    uint32_t get_default_flags() const { return m_default_flags; }
    // Some instance switched the option on while its project default is off.
    bool is_option_used(MORV_INSTANCE_ASSIGNMENT_ENUM bit) const { return m_option_used[bit]; }
    bool is_enabled() const { return m_enabled; }
    bool is_active() const { return m_active; }

private:
    bool answers() const { return m_enabled && m_active; }
    HDB_ACTION_PT_INSTANCE* action_point() const;

    MORV_API* m_fsyn_api;
    bool m_enabled = true;
    bool m_active = false;
    bool m_option_used[MORV_INST_ASGN_COUNT] = {};
    uint32_t m_flag_mask = 0;
    uint32_t m_default_flags = 0;
    VTL_HASH<MORV_CANONICAL_OTERM, uint32_t, MORV_INST_ASGN_KEY_HASH> m_hash_map{s_INITIAL_BUCKETS};
};
