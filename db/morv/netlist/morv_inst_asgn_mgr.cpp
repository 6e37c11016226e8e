#include "morv/netlist/morv_inst_asgn_mgr.h"

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_options.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_setting_ids.h"

namespace {
const MORV_INSTANCE_ASSIGNMENT_ENUM s_bits[] = {MORV_INST_ASGN_REGISTER_DUPLICATION,   MORV_INST_ASGN_LOGIC_TO_MEMORY,
                                                MORV_INST_ASGN_REGISTER_RETIMING,      MORV_INST_ASGN_ASYNC_PIPELINING,
                                                MORV_INST_ASGN_COMB_LOGIC_FOR_FITTING, MORV_INST_ASGN_COMB_LOGIC};
}

int MORV_INST_ASGN_MGR::get_option_id(MORV_INSTANCE_ASSIGNMENT_ENUM bit)
{
    switch (bit) {
    case MORV_INST_ASGN_REGISTER_DUPLICATION: return MORV_SETTING_REGISTER_DUPLICATION;
    case MORV_INST_ASGN_LOGIC_TO_MEMORY: return MORV_SETTING_LOGIC_TO_MEMORY;
    case MORV_INST_ASGN_REGISTER_RETIMING: return MORV_SETTING_REGISTER_RETIMING;
    case MORV_INST_ASGN_ASYNC_PIPELINING: return MORV_SETTING_ASYNC_PIPELINING;
    case MORV_INST_ASGN_COMB_LOGIC_FOR_FITTING: return MORV_SETTING_COMB_LOGIC_FOR_FITTING;
    case MORV_INST_ASGN_COMB_LOGIC: return MORV_SETTING_COMB_LOGIC;
    default: return -1;
    }
}

MORV_INST_ASGN_MGR::MORV_INST_ASGN_MGR(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    if (cfg_is_on("fsyn_disable_fsyn_instance_assignments", false)) {
        m_enabled = false;
        MORV_DEBUG_STREAM::print(1, "FSYN instance assignments are disabled.");
    }
}

HDB_ACTION_PT_INSTANCE* MORV_INST_ASGN_MGR::action_point() const
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    CMP_FACADE* cmp = env ? env->get_cmp() : nullptr;
    return cmp ? cmp->get_action_point_instance() : nullptr;
}

void MORV_INST_ASGN_MGR::initialize()
{
    MORV_DEBUG_STREAM::print(1, "Initializing fsyn instance assignments.");
    m_active = true;
    m_default_flags = 0;
    for (bool& used : m_option_used) used = false;
    const HDB_ACTION_PT_INSTANCE* ap = action_point();
    for (MORV_INSTANCE_ASSIGNMENT_ENUM bit : s_bits)
        if (HDB_BOOL_OPTION::get_bool_option(ap, get_option_id(bit)).value_or(false)) m_default_flags |= 1u << bit;
    m_hash_map.clear();
    m_flag_mask = 0;

    int total = 0;
    int affected = 0;
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        MORV_ASSERT(node);
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            ++total;
            if (load_oterm_assignments(*it)) ++affected;
        }
    }
    MORV_DEBUG_STREAM::print(1, "Found instance assignments affecting %d (of %d) oterms.", affected, total);
    if (affected == 0) {
        MORV_DEBUG_STREAM::print(1, "No nodes in the design are affected by FSYN instance assignments, disabling the "
                                    "instance assignment manager.");
        m_active = false;
        m_hash_map.clear();
    }
}

bool MORV_INST_ASGN_MGR::load_oterm_assignments(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(oterm);
    if (!answers()) return false;
    uint32_t& word = m_hash_map[MORV_CANONICAL_OTERM(oterm)];
    word = m_default_flags;
    const HDB_ACTION_PT_INSTANCE* ap = action_point();
    // One lookup of the instance's options serves all six bits.
    const HDB_OPTION_SET* options = ap ? ap->get_instance_options(oterm->get_instance_name()) : nullptr;
    if (options == nullptr) return false;
    bool differs = false;
    for (MORV_INSTANCE_ASSIGNMENT_ENUM bit : s_bits) {
        const std::optional<bool> value = HDB_BOOL_OPTION::get_bool_option(options, get_option_id(bit));
        if (!value) continue;
        const uint32_t mask = 1u << bit;
        word = *value ? (word | mask) : (word & ~mask);
        if (*value != ((m_default_flags & mask) != 0)) {
            m_option_used[bit] = m_option_used[bit] || *value;
            differs = true;
        }
    }
    return differs;
}

bool MORV_INST_ASGN_MGR::is_oterm_modifiable(CDB_ATOM_OTERM* oterm)
{
    if (!answers()) return true;
    MORV_ASSERT(oterm);
    const MORV_CANONICAL_OTERM key(oterm);
    auto it = m_hash_map.find(key);
    if (it == m_hash_map.end()) {
        load_oterm_assignments(oterm);
        it = m_hash_map.find(key);
        MORV_ASSERT_TEXT(it != m_hash_map.end(), "iter != m_hash_map.end()");
    }
    return m_flag_mask == 0 || (it->second & m_flag_mask) != 0;
}

bool MORV_INST_ASGN_MGR::is_node_modifiable(CDB_ATOM_NODE* node)
{
    if (!answers()) return true;
    MORV_ASSERT(node);
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if (!is_oterm_modifiable(*it)) return false;
    return true;
}

void MORV_INST_ASGN_MGR::dump()
{
    MORV_DEBUG_STREAM::print(1, "Dumping instance assignments...");
    if (!answers()) {
        MORV_DEBUG_STREAM::print(1, "INST_ASGN DUMP: Assignment manager disabled, no dump.");
        return;
    }
    MORV_DEBUG_STREAM::print(1, "INST_ASGN DUMP: flag mask: 0x%X", m_flag_mask);
    MORV_DEBUG_STREAM::print(1, "INST_ASGN DUMP: default assignments: 0x%X", m_default_flags);
    MORV_DEBUG_STREAM::print(1, "INST_ASGN DUMP: %8s | %8s | Oterm Name", "Enabled", "Value");
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        MORV_ASSERT(node);
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            CDB_ATOM_OTERM* oterm = *it;
            const bool enabled = is_oterm_modifiable(oterm);  // loads a term made since
            const uint32_t word = m_hash_map.find(MORV_CANONICAL_OTERM(oterm))->second;
            HDB_INSTANCE_NAME* name = oterm->get_instance_name();
            MORV_DEBUG_STREAM::print(1, "INST_ASGN DUMP: %8d | 0x%06x | %s", enabled ? 1 : 0, word,
                                     name ? name->get_hpath_to_root().c_str() : "");
        }
    }
}
