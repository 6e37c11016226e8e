// The fanout splitter: clusters a LUT's fanout registers by their controls
// and gives every cluster but the first a duplicate of the LUT.
#include "morv/rtm/morv_rtm_splitter.h"

#include <map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/rtm/morv_rtm_edit.h"

MORV_RTM_SPLITTER::MORV_RTM_SPLITTER(MORV_API* api)
    : m_fsyn_api(api), m_net_util(nullptr), m_fsyn_cdb_interface(nullptr)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_fsyn_cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
}

int MORV_RTM_SPLITTER::run(const std::set<int>& atom_ids)
{
    MORV_ASSERT_TEXT(m_register_secondary_signals.size() > 0, "m_register_secondary_signals.size() > 0");
    MORV_ASSERT_TEXT(m_register_asynchronous_signals.size() > 0, "m_register_asynchronous_signals.size() > 0");
    MORV_DEBUG_STREAM::print(2, "Running the Splitter...");
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "m_morv_env");
    int count = 0;
    for (int id : atom_ids) {
        CDB_ATOM_NODE* node = env->get_node(id);
        if (node != nullptr && is_splittable(node)) count += split_node(node);
    }
    MORV_DEBUG_STREAM::print(2, "Split < %d > nodes", count);
    return count;
}

bool MORV_RTM_SPLITTER::is_splittable(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell_comb() || m_net_util->is_lcell_part_of_a_carry_chain(node)) return false;
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
    return combout != nullptr && !m_fsyn_api->is_oterm_dont_touch(combout, AMM_OP_FITTER_FSYN_RETIME);
}

bool MORV_RTM_SPLITTER::is_register_data_fanout(CDB_ATOM_ITERM* fanout) const
{
    CDB_ATOM_NODE* fnode = fanout->get_my_node();
    MORV_ASSERT_TEXT(fnode, "fnode");
    if (!fnode->is_lcell_ff()) return false;
    if (fanout->is_used_as(DB_DATAIN)) return true;
    if (!fanout->is_used_as(DB_SYNCH_DATA)) return false;
    CDB_ATOM_ITERM* sload = fnode->get_input_term_by_type(DB_SYNCH_LOAD, 0);
    return sload != nullptr && sload->is_logical_vcc();
}

int MORV_RTM_SPLITTER::cluster_of(CDB_ATOM_NODE* reg_node, MORV_RTM_REG_LIST* representatives)
{
    ++m_registers_sorted;
    MORV_RTM_REG candidate(reg_node, &m_register_secondary_signals);
    int cluster = 1;
    for (const MORV_OWNER<MORV_RTM_REG>& representative : *representatives) {
        if (MORV_RTM_REG::have_same_secondary_signals(&candidate, representative.get(), &m_register_secondary_signals))
            return cluster;
        ++cluster;
    }
    MORV_OWNER<MORV_RTM_REG> fresh(MORV_NEW(MORV_RTM_REG, reg_node, &m_register_secondary_signals));
    MORV_ASSERT_TEXT(fresh, "new_reg");
    representatives->push_back(std::move(fresh));
    return cluster;
}

int MORV_RTM_SPLITTER::split_node(CDB_ATOM_NODE* node)
{
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT_TEXT(combout, "combout");
    // Refused before its registers are sorted: sorting the fanouts of a
    // cell that loads thousands of registers under as many controls would
    // compare each with every other.
    if (combout->get_number_of_fanout() > s_MAX_FANOUT_TERMS) return 0;
    MORV_RTM_CLUSTER_MAP clusters;
    MORV_RTM_REG_LIST representatives;
    bool global = false;
    for (auto it = combout->begin_iterm_fanout(); it != combout->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fanout = *it;
        if (fanout->get_global() != 0) global = true;
        const bool reg = is_register_data_fanout(fanout);
        clusters[fanout] = reg ? cluster_of(fanout->get_my_node(), &representatives) : 0;
    }
    if (global || clusters.size() > static_cast<size_t>(s_MAX_FANOUT_TERMS)) return 0;
    return split_fanouts(node, &clusters);
}

int MORV_RTM_SPLITTER::split_fanouts(CDB_ATOM_NODE* node, const MORV_RTM_CLUSTER_MAP* iterm_to_cluster_map)
{
    MORV_ASSERT_TEXT(iterm_to_cluster_map, "iterm_to_cluster_map");
    std::map<int, CDB_ATOM_OTERM*> cluster_oterms;
    int count = 0;
    for (const auto& [fanout, cluster] : *iterm_to_cluster_map) {
        MORV_ASSERT_TEXT(fanout, "iterm");
        CDB_ATOM_OTERM* source = fanout->get_source();
        MORV_ASSERT_TEXT(source, "src_oterm");
        if (cluster_oterms.empty()) {
            cluster_oterms[cluster] = source;
            continue;
        }
        auto known = cluster_oterms.find(cluster);
        if (known != cluster_oterms.end()) {
            MORV_ASSERT_TEXT(known->second, "dup_oterm");
            if (known->second != source) morv_rtm_move_iterm(m_fsyn_api, fanout, known->second);
            continue;
        }
        CDB_ATOM_NODE* src_node = source->get_my_node();
        MORV_ASSERT_TEXT(src_node, "src_node");
        const int usage = source->get_any_usage_as();
        CDB_ATOM_NODE* copy = m_fsyn_api->duplicate_oterm(src_node, usage, true);
        MORV_ASSERT_TEXT(copy, "new_node");
        morv_rtm_place_like(m_fsyn_api, copy, src_node);
        m_fsyn_api->node_added(copy, src_node, MORV_MODIFICATION_DUPLICATE, MORV_MODIFICATION_CODE);
        CDB_ATOM_OTERM* copy_oterm = copy->get_output_term_by_type(usage, 0);
        MORV_ASSERT_TEXT(copy_oterm, "dup_oterm");
        morv_rtm_move_iterm(m_fsyn_api, fanout, copy_oterm);
        cluster_oterms[cluster] = copy_oterm;
        ++count;
        MORV_DEBUG_STREAM::print(2, "Created split node < %d > from < %d >", static_cast<int>(copy->get_id()),
                                 static_cast<int>(node->get_id()));
        m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    }
    return count;
}
