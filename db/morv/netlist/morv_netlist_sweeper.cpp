#include "morv/netlist/morv_netlist_sweeper.h"

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "gen/gen.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"

MORV_NETLIST_SWEEPER::MORV_NETLIST_SWEEPER(MORV_API* api)
    : m_api(api), m_cdb_interface(nullptr), m_atom_netlist(nullptr), m_net_util(nullptr), m_max_lut_inputs(0),
      m_mask_bits_reversed(false)
{
    MORV_ASSERT(api);
    m_cdb_interface = api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_cdb_interface, "m_fsyn_cdb_interface");
    m_atom_netlist = api->get_atom_netlist();
    MORV_ASSERT(m_atom_netlist);
    m_net_util = api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_fsyn_net_util");
    m_mask_bits_reversed = morv_family_traits(api->get_base_family_code()).m_mask_bits_reversed;
}

MORV_NETLIST_SWEEPER::~MORV_NETLIST_SWEEPER() = default;

MORV_OWNER<MORV_NETLIST_SWEEPER> morv_make_netlist_sweeper(MORV_API* api)
{
    MORV_ASSERT(api);
    const MORV_FAMILY_TRAITS& family = morv_family_traits(api->get_base_family_code());
    MORV_ASSERT_TEXT(family.m_make_sweeper != nullptr, "Unsupported family");
    return family.m_make_sweeper(api);
}

// ---------------------------------------------------------------- the sweep

int MORV_NETLIST_SWEEPER::sweep()
{
    MORV_DEBUG_STREAM::print(1, "Netlist sweeper running...");
    const double cpu_start = gen_get_sec_cpu();
    m_api->dump_atom_netlist(".pre_fsyn_netlist_sweeper");
    const bool collapser_off = cfg_is_on("fsyn_disable_node_collapser", false);

    int total = 0;
    int passes = 0;
    bool dirty = true;
    while (dirty && passes < MORV_SWEEPER_MAX_PASSES) {
        dirty = false;
        auto add = [&](int count) {
            if (count <= 0) return;
            dirty = true;
            total += count;
        };
        if (!m_api->fsyn_debug_stopped() && !collapser_off) add(collapse_nodes());
        add(remove_unused_nodes());
        if (!m_api->fsyn_debug_stopped()) add(propagate_constants());
        ++passes;
    }
    total += post_sweep();
    total += remove_dangling_iterms();
    if (dirty)
        MORV_DEBUG_STREAM::print(0, "WARNING: Netlist sweeper has performed its max number of iterations but has not "
                                    "finished!");
    m_api->dump_atom_netlist(".post_fsyn_netlist_sweeper");
    if (cfg_is_on("fsyn_debug_mode", false)) MORV_ASSERT_TEXT(m_api->check_atom_netlist(), "netlist_is_valid");
    const int seconds = static_cast<int>(gen_get_sec_cpu() - cpu_start + 0.5);
    MORV_DEBUG_STREAM::print(1, "Exiting netlist sweeper (took %d sec (cpu time) for %d iterations)...", seconds,
                             passes);
    return total;
}

int MORV_NETLIST_SWEEPER::collapse_nodes()
{
    return collapser()->collapse_nodes();
}

int MORV_NETLIST_SWEEPER::remove_dangling_iterms()
{
    MORV_DEBUG_STREAM::print(1, "\tRemoving dangling iterms...");
    std::vector<CDB_ATOM_ITERM*> dangling;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!m_net_util->is_lcell(node) || !m_net_util->is_register_present(node)) continue;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            if (iterm->is_connected() || iterm->is_used_as(DB_CARRY_IN)) continue;
            if (m_api->get_assigned_boundary_port_id(iterm) != -1) continue;
            dangling.push_back(iterm);
        }
    }
    for (CDB_ATOM_ITERM* iterm : dangling) {
        MORV_ASSERT_TEXT(iterm, "curr_iterm");
        m_net_util->delete_iterm(iterm);
    }
    const int removed = static_cast<int>(dangling.size());
    MORV_DEBUG_STREAM::print(1, "\tRemoved {%d} iterms", removed);
    return removed;
}

// ---------------------------------------------------------------- collapser slots

// A slot called on its own answers for the source it is given: where the
// answer depends on the attempt (the merged output and list), the
// collapser first readies that source's attempt, as its passes do.

MORV_NODE_COLLAPSER* MORV_NETLIST_SWEEPER::collapser()
{
    if (!m_collapser) m_collapser = make_node_collapser();
    MORV_ASSERT(m_collapser);
    return m_collapser.get();
}

int MORV_NETLIST_SWEEPER::get_collapse_mode()
{
    return collapser()->get_collapse_mode();
}

bool MORV_NETLIST_SWEEPER::is_collapsible_source(CDB_ATOM_NODE* source)
{
    return collapser()->is_collapsible_source(source);
}

bool MORV_NETLIST_SWEEPER::is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    return collapser()->is_collapsible_fanout(source, fanout_iterm);
}

bool MORV_NETLIST_SWEEPER::can_collapse_into_normal_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    return collapser()->can_collapse_into_normal_sink(source, fanout_iterm);
}

bool MORV_NETLIST_SWEEPER::can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    return collapser()->can_collapse_into_arithmetic_sink(source, fanout_iterm);
}

bool MORV_NETLIST_SWEEPER::can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    collapser()->prepare_attempt(source);
    return collapser()->can_merge_inputs(source, fanout_iterm);
}

bool MORV_NETLIST_SWEEPER::get_lut_inputs(CDB_ATOM_NODE* node, MORV_SWEEPER_INPUT_LIST* list_of_inputs,
                                          uint32_t skip_atom_id, MORV_SWEEPER_INPUT_FLAGS* flags)
{
    // The skipped atom's output is the one a collapse merges: its comb-out
    // in use, else its sum-out.
    CDB_ATOM_OTERM* skip = nullptr;
    if (CDB_ATOM_NODE* skipped = m_atom_netlist->get_node_by_id(skip_atom_id)) {
        skip = skipped->get_output_term_by_type(DB_COMB_OUT);
        if (skip == nullptr || !skip->has_fanout()) skip = skipped->get_output_term_by_type(DB_SUM_OUT);
    }
    return collapser()->get_lut_inputs(node, list_of_inputs, skip, flags);
}

bool MORV_NETLIST_SWEEPER::is_sink_in_arithmetic_mode(CDB_ATOM_NODE* sink)
{
    return collapser()->is_sink_in_arithmetic_mode(sink);
}

void MORV_NETLIST_SWEEPER::collapse_node_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                                   const MORV_SWEEPER_INPUT_LIST& list_of_inputs,
                                                   const MORV_SWEEPER_INPUT_FLAGS& flags)
{
    collapser()->prepare_attempt(source);
    collapser()->collapse_node_into_sink(source, sink, list_of_inputs, flags);
}

void MORV_NETLIST_SWEEPER::collapse_node_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                                              const MORV_SWEEPER_INPUT_LIST& list_of_inputs,
                                                              const MORV_SWEEPER_INPUT_FLAGS& flags)
{
    collapser()->prepare_attempt(source);
    collapser()->collapse_node_into_arithmetic_sink(source, sink, list_of_inputs, flags);
}

void MORV_NETLIST_SWEEPER::reorder_inputs(const MORV_SWEEPER_INPUT_LIST& list_of_inputs,
                                          CDB_ATOM_OTERM** reordered_inputs, MORV_ITERM_PROPERTIES* flags,
                                          CDB_ATOM_NODE* sink, CDB_ATOM_NODE* source)
{
    MORV_ASSERT_TEXT(flags, "flags");
    const MORV_SWEEPER_INPUT_FLAGS listed(flags, flags + list_of_inputs.size());
    collapser()->prepare_attempt(source);
    collapser()->reorder_inputs(list_of_inputs, reordered_inputs, flags, listed, sink, source);
}

void MORV_NETLIST_SWEEPER::evaluate_merged_lut(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink, unsigned assignment,
                                               CDB_ATOM_OTERM* const* reordered_inputs,
                                               const MORV_ITERM_PROPERTIES* flags, unsigned* lut_inputs)
{
    collapser()->prepare_attempt(source);
    collapser()->evaluate_merged_lut(source, sink, assignment, reordered_inputs, flags, lut_inputs);
}

// ---------------------------------------------------------------- shared helpers

bool MORV_NETLIST_SWEEPER::is_in_qfbk_mode(CDB_ATOM_NODE* /*node*/)
{
    return false;
}

void MORV_NETLIST_SWEEPER::remove_regout(CDB_ATOM_OTERM* /*regout_oterm*/, CDB_ATOM_NODE* /*node*/)
{
    MORV_ASSERT_TEXT(false, "Function not supported by this family");
}

void MORV_NETLIST_SWEEPER::remove_combout(CDB_ATOM_OTERM* /*combout_oterm*/, CDB_ATOM_NODE* /*node*/)
{
    MORV_ASSERT_TEXT(false, "Function not supported by this family");
}

bool MORV_NETLIST_SWEEPER::is_dont_touch(CDB_ATOM_NODE* node, int op)
{
    return m_api->is_atom_dont_touch(static_cast<int>(node->get_id()), static_cast<AMM_OP>(op));
}

bool MORV_NETLIST_SWEEPER::is_pre_placement() const
{
    const MORV_EXPERT* expert = m_api->get_fsyn_expert();
    return expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn();
}

std::vector<CDB_ATOM_NODE*> MORV_NETLIST_SWEEPER::atoms_of_pass(bool first, std::vector<uint32_t>* ids) const
{
    std::vector<CDB_ATOM_NODE*> atoms;
    if (first) {
        atoms.reserve(m_atom_netlist->get_node_count());
        for (CDB_ATOM_NODE* node : *m_atom_netlist) atoms.push_back(node);
        return atoms;
    }
    std::sort(ids->begin(), ids->end());
    ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
    atoms.reserve(ids->size());
    for (uint32_t id : *ids)
        if (CDB_ATOM_NODE* node = m_atom_netlist->get_node_by_id(id)) atoms.push_back(node);
    ids->clear();
    return atoms;
}
