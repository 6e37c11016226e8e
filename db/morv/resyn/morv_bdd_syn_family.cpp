#include "morv/resyn/morv_bdd_syn_family.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/resyn/morv_uvo_lut_hooks.h"
#include "morv/timing/morv_timing.h"

namespace {

// A LUT's average delay as a multiple of its delay from input D.
constexpr double LUT_DELAY_FACTOR = 2.5;

int internal_delay(MORV_TIMING* timing, int cell_kind, int port)
{
    const int delay = timing->get_internal_delay(cell_kind, port, DB_COMB_OUT);
    // A delay the model does not know counts as none rather than as a
    // number far out of range.
    return delay == CDB_ILLEGAL_TSM_DELAY ? 0 : delay;
}

int scaled_lut_delay(int delay)
{
    return static_cast<int>(std::trunc(LUT_DELAY_FACTOR * delay));
}

int lut_delay_6lut(MORV_TIMING* timing)
{
    return scaled_lut_delay(internal_delay(timing, MORV_TIMING::s_CELL_KIND_6LUT, DB_DATA_D));
}

}  // namespace

// ---------------------------------------------------------------- shared

CDB_ATOM_NODE* MORV_BDD_SYN::create_lut_node_near(CDB_ATOM_NODE* base_node,
                                                  const std::function<CDB_ATOM_NODE*(HDB_INSTANCE_NAME*)>& factory)
{
    return create_lut_node_near(m_fsyn_api, base_node, "_BDD", factory);
}

CDB_ATOM_NODE* MORV_BDD_SYN::create_lut_node_near(MORV_API* api, CDB_ATOM_NODE* base_node, const char* suffix,
                                                  const std::function<CDB_ATOM_NODE*(HDB_INSTANCE_NAME*)>& factory)
{
    MORV_ASSERT_TEXT(base_node, "base_node");
    HDB_INSTANCE_NAME* name =
        api->get_fsyn_net_util()->make_unique_instance_name(base_node->get_instance_name(), suffix);
    CDB_ATOM_NODE* node = factory(name);
    MORV_ASSERT_TEXT(node, "node");
    MORV_CHIP_MAP* chip_map = api->get_fsyn_chip_map();
    MORV_LOC loc;
    const bool found = chip_map != nullptr && chip_map->get_node_location(static_cast<int>(base_node->get_id()), &loc);
    MORV_ASSERT_TEXT(found && loc.x != MORV_OPEN && loc.y != MORV_OPEN, "x_loc != MORV_OPEN && y_loc != MORV_OPEN");
    chip_map->set_node_location(static_cast<int>(node->get_id()), MORV_LOC{loc.x, loc.y, MORV_OPEN, MORV_OPEN});
    return node;
}

// ---------------------------------------------------------------- the plain families

MORV_BDD_SYN_BRK::MORV_BDD_SYN_BRK(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_BDD_SYN_6LUT(api, params)
{
    init_family("brennock", 6, lut_delay_6lut(m_fsyn_timing), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_BRK::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_brk(nullptr, n); });
}

MORV_BDD_SYN_ZEPLA::MORV_BDD_SYN_ZEPLA(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_BDD_SYN_4LUT(api, params)
{
    init_family("zepla", 4, lut_delay_6lut(m_fsyn_timing), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_ZEPLA::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_zepla(nullptr, n); });
}

MORV_BDD_SYN_TEV::MORV_BDD_SYN_TEV(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_BDD_SYN_4LUT(api, params)
{
    init_family("tevaro", 4, lut_delay_6lut(m_fsyn_timing), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_TEV::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_sorvexii(nullptr, n); });
}

MORV_BDD_SYN_KESTLIN::MORV_BDD_SYN_KESTLIN(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_BDD_SYN_6LUT(api, params)
{
    init_family("kestlin", 6, lut_delay_6lut(m_fsyn_timing), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_KESTLIN::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_rzk(nullptr, n); });
}

MORV_BDD_SYN_RZK::MORV_BDD_SYN_RZK(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_BDD_SYN_6LUT(api, params)
{
    init_family("rzk", 6, lut_delay_6lut(m_fsyn_timing), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_RZK::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_rzk(nullptr, n); });
}

MORV_BDD_SYN_OBRAN::MORV_BDD_SYN_OBRAN(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_BDD_SYN_6LUT(api, params)
{
    init_family("obran", 6, lut_delay_6lut(m_fsyn_timing), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_OBRAN::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_obran(nullptr, n); });
}

// ---------------------------------------------------------------- MRL

MORV_BDD_SYN_MRL::MORV_BDD_SYN_MRL(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_BDD_SYN_6LUT(api, params), m_legalizer(api)
{
    int fl_delay = m_fsyn_timing->get_fl_lut_delay();
    if (fl_delay == CDB_ILLEGAL_TSM_DELAY) fl_delay = 0;
    init_family("morlin", 6, scaled_lut_delay(fl_delay), 0);
}

CDB_ATOM_NODE* MORV_BDD_SYN_MRL::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(
        base_node, [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_comb_mrl(nullptr, n); });
}

int MORV_BDD_SYN_MRL::get_encoding_bits(int num_cut_nodes)
{
    // One cut node needs no code at all.
    if (num_cut_nodes <= 1) return 0;
    return MORV_NET_UTIL::ceil_log2(static_cast<uint64_t>(num_cut_nodes));
}

bool MORV_BDD_SYN_MRL::is_bdd_legal(const BDD_JBDD& g)
{
    const std::vector<int> support = g.build_support();
    if (support.size() <= 4) return true;
    // Wider than a LUT: no mask of it exists to be legal.
    if (static_cast<int>(support.size()) > m_num_data_ports) return false;
    uint64_t mask = 0;
    compute_rotation_mask(g, support, 0, mask, 0);
    if (m_legalizer.is_lutmask_legal_by_rotation(mask)) return true;
    MORV_DEBUG_STREAM::print(100, "VKT_DEBUG: PROPOSED Lutmask %" PRIX64 " created by BDD_SYN is non-legal!", mask);
    return false;
}

void MORV_BDD_SYN_MRL::compute_rotation_mask(const BDD_JBDD& f, const std::vector<int>& s, int p, uint64_t& mask,
                                             uint64_t b) const
{
    if (p >= m_num_data_ports) {
        if (f == m_bdd_mgr->true_bdd()) mask |= uint64_t(1) << b;
        return;
    }
    BDD_JBDD low = f;
    BDD_JBDD high = f;
    const bool constant = f == m_bdd_mgr->true_bdd() || f == m_bdd_mgr->false_bdd();
    if (!constant && p < static_cast<int>(s.size()) && f.variable() == s[p]) {
        low = f.low_child();
        high = f.high_child();
    }
    compute_rotation_mask(low, s, p + 1, mask, b);
    compute_rotation_mask(high, s, p + 1, mask, b + (uint64_t(1) << p));
}

bool MORV_BDD_SYN_MRL::is_lut_function_legal(const BDD_JBDD& f, int cut_level, bool fits)
{
    const bool legal = test_lut_function(f, cut_level, fits);
    // The test's functions are gone by now; their nodes go with them.
    m_bdd_mgr->garbage_collect();
    return legal;
}

bool MORV_BDD_SYN_MRL::test_lut_function(const BDD_JBDD& f, int cut_level, bool fits)
{
    const std::vector<BDD_JBDD> cuts = f.get_cut_nodes(cut_level);
    const int n = static_cast<int>(cuts.size());
    MORV_ASSERT_TEXT(n != 0, "num_cut_nodes");
    const int k = get_encoding_bits(n);
    std::vector<BDD_JBDD> encodings;
    for (int j = 0; j < k; ++j) encodings.push_back(get_encoding_function(f, cut_level, j, cuts));
    for (const BDD_JBDD& g : encodings)
        if (!is_bdd_legal(g)) return false;
    if (!fits) return true;
    // The image over fresh code variables, numbered as the decomposition
    // would number them; spare codes repeat the last cut node.
    const int first = static_cast<int>(m_vars.size());
    BDD_JBDD image = m_bdd_mgr->false_bdd();
    for (int c = 0; c < (1 << k); ++c) {
        BDD_JBDD code = m_bdd_mgr->true_bdd();
        for (int m = 0; m < k; ++m)
            code &= ((c >> m) & 1) ? m_bdd_mgr->ithvar(first + m) : m_bdd_mgr->nithvar(first + m);
        image |= cuts[std::min(c, n - 1)] & code;
    }
    return is_bdd_legal(image);
}

void MORV_BDD_SYN_MRL::commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask)
{
    MORV_ASSERT_TEXT(node, "node");
    // Written all the same: the sweep's legalisation repairs the cell.
    if (!m_legalizer.is_lutmask_legal_by_rotation(lutmask.get_value()))
        MORV_DEBUG_STREAM::print(100, "Warning: Lutmask %" PRIX64 " on %d created by BDD_SYN is non-legal!",
                                 lutmask.get_value(), static_cast<int>(node->get_id()));
    m_cdb_interface->set_lutmask(node, lutmask, false);
    m_fsyn_api->modify_node(node);
}

// ---------------------------------------------------------------- UVO

MORV_BDD_SYN_UVO::MORV_BDD_SYN_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_BDD_SYN(api, params)
{
    // Weighted by how often each input carries the critical signal.
    const int weighted = (60 * internal_delay(m_fsyn_timing, MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_D) +
                          12 * internal_delay(m_fsyn_timing, MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_B) +
                          6 * internal_delay(m_fsyn_timing, MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_A) +
                          22 * internal_delay(m_fsyn_timing, MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_C)) /
                         100;
    const int fast = internal_delay(m_fsyn_timing, MORV_TIMING::s_CELL_KIND_4LUT, DB_DATA_D) +
                     m_net_util->get_sample_location_delay();
    init_family("uvonel", 4, scaled_lut_delay(weighted), fast);
}

bool MORV_BDD_SYN_UVO::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    return uvo_is_resynthesizable_node(m_net_util, node);
}

int MORV_BDD_SYN_UVO::get_max_lut_size(CDB_ATOM_NODE* node)
{
    return uvo_available_inputs(m_net_util, node, m_num_data_ports);
}

bool MORV_BDD_SYN_UVO::uses_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->is_in_qfbk_mode(node);
}

bool MORV_BDD_SYN_UVO::lut_feeds_register(CDB_ATOM_OTERM* oterm)
{
    return uvo_lut_feeds_register(m_net_util, oterm);
}

bool MORV_BDD_SYN_UVO::source_keeps_node(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->is_register_present(node);
}

CDB_ATOM_NODE* MORV_BDD_SYN_UVO::create_lut_node(CDB_ATOM_NODE* base_node)
{
    return create_lut_node_near(base_node,
                                [this](HDB_INSTANCE_NAME* n) { return m_cdb_interface->create_lcell_uvo(nullptr, n); });
}

void MORV_BDD_SYN_UVO::disconnect_lut_input(CDB_ATOM_ITERM* iterm, int position)
{
    if (!uvo_release_register_shared_input(m_cdb_interface, iterm, position)) free_lut_input(iterm);
}

bool MORV_BDD_SYN_UVO::prepare_base_node(CDB_ATOM_NODE* base_node, int available_inputs)
{
    return uvo_prepare_base_node(m_cdb_interface, m_net_util, base_node, available_inputs);
}

void MORV_BDD_SYN_UVO::commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask)
{
    MORV_ASSERT_TEXT(node, "node");
    m_cdb_interface->set_lutmask(node, lutmask, false);
    m_fsyn_api->modify_node(node);
}
