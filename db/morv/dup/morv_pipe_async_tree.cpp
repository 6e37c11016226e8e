// The pipeline-register tree: each level lays a staggered lattice over the
// destinations' box, takes the candidates that serve most destinations
// first, and makes the new registers the next level's destinations until a
// single register drives them all. In families with DSP blocks, the
// destinations of one block share a register through cliques.

#include <algorithm>
#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/dup/morv_pipe_async.h"

namespace {

// Candidates must serve at least this many destinations, pass by pass.
constexpr int FIRST_THRESHOLD = 4;

}  // namespace

void MORV_PIPE_ASYNC::build_potential_cliques()
{
    if (!morv_pipe_async_uses_cliques(m_fsyn_api->get_base_family_code())) return;
    MORV_DEBUG_STREAM::print(100, "Building potential cliques...");
    int made = 0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (node == nullptr || !node->is_mac_out()) continue;
        m_clique_store.push_back(MORV_MAKE_OWNER(PIPE_ASYNC_CLIQUE));
        PIPE_ASYNC_CLIQUE* clique = m_clique_store.back().get();
        ++made;
        MORV_DEBUG_STREAM::print(100, "   NEW CLIQUE %d", made);
        clique->insert(node->get_id());
        m_potential_cliques[node->get_id()] = clique;
        MORV_DEBUG_STREAM::print(100, "      added node < %d >", static_cast<int>(node->get_id()));
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            CDB_ATOM_OTERM* source = iterm != nullptr ? iterm->get_source() : nullptr;
            CDB_ATOM_NODE* mult = source != nullptr ? source->get_my_node() : nullptr;
            if (mult == nullptr || !mult->is_mac_mult() || clique->count(mult->get_id()) != 0) continue;
            clique->insert(mult->get_id());
            m_potential_cliques[mult->get_id()] = clique;
            MORV_DEBUG_STREAM::print(100, "      added node < %d >", static_cast<int>(mult->get_id()));
        }
    }
    MORV_DEBUG_STREAM::print(2, "Created < %d > potential cliques", made);
}

void MORV_PIPE_ASYNC::release_effective_cliques()
{
    m_effective_cliques.clear();
    m_effective_clique_store.clear();
}

void MORV_PIPE_ASYNC::find_all_dest_regs(ASYNC_SOURCE& source, bool with_grid)
{
    source.dst_regs.clear();
    MORV_ASSERT_TEXT(source.src_oterm, "src_oterm");
    release_effective_cliques();
    for (auto it = source.src_oterm->begin_iterm_fanout(); it != source.src_oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fanout = *it;
        MORV_ASSERT_TEXT(fanout, "fiterm");
        CDB_ATOM_NODE* node = fanout->get_my_node();
        MORV_ASSERT_TEXT(node, "fnode");
        add_to_effective_clique(node);
        DST_REG entry;
        entry.node = node;
        entry.port_type = fanout->get_any_usage_as();
        get_location(node, &entry.x, &entry.y);
        if (with_grid && in_grid(entry.x, entry.y)) {
            LOCATION_CELL& cell = grid_cell(entry.x, entry.y);
            cell.dst_regs.push_back(entry);
            cell.has_dst_regs = true;
        }
        source.dst_regs.push_back(entry);
    }
    MORV_DEBUG_STREAM::print(100, "find_all_dest_regs(): inserted %d nodes", static_cast<int>(source.dst_regs.size()));
    MORV_ASSERT_TEXT(!source.dst_regs.empty(), "m_curr_async_source->dst_regs.size() != 0");
}

bool MORV_PIPE_ASYNC::add_to_effective_clique(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    auto potential = m_potential_cliques.find(node->get_id());
    if (potential == m_potential_cliques.end()) return false;
    MORV_ASSERT_TEXT(potential->second, "potential_clique");
    for (uint32_t member : *potential->second) {
        auto effective = m_effective_cliques.find(member);
        if (effective == m_effective_cliques.end()) continue;
        effective->second->insert(node->get_id());
        MORV_DEBUG_STREAM::print(100, "   Added node < %d > to Effective CLIQUE: < %u >",
                                 static_cast<int>(node->get_id()), member);
        return true;
    }
    m_effective_clique_store.push_back(MORV_MAKE_OWNER(PIPE_ASYNC_CLIQUE));
    PIPE_ASYNC_CLIQUE* clique = m_effective_clique_store.back().get();
    MORV_ASSERT_TEXT(clique, "effective_clique");
    clique->insert(node->get_id());
    m_effective_cliques[node->get_id()] = clique;
    MORV_DEBUG_STREAM::print(100, "Created new Effective CLIQUE: < %u >", node->get_id());
    MORV_DEBUG_STREAM::print(100, "   Added node < %d > to Effective CLIQUE: < %u >", static_cast<int>(node->get_id()),
                             node->get_id());
    return true;
}

void MORV_PIPE_ASYNC::clear_location_grid()
{
    for (LOCATION_CELL& cell : m_location_grid) cell = LOCATION_CELL();
}

int MORV_PIPE_ASYNC::insert_pipeline_register_tree()
{
    ASYNC_SOURCE& source = *m_curr_async_source;
    find_all_dest_regs(source, false);
    BOUNDING_BOX box = get_bounding_box_around_dst_regs(source);
    int n = static_cast<int>(source.dst_regs.size());
    if (n == 1) return 0;
    int total = 0;
    while (n > 1) {
        clear_location_grid();
        find_all_dest_regs(source, true);
        m_pipe_regs.resize(static_cast<size_t>(m_pipe_stage) + 1);
        create_candidate_pipe_regs(box);
        sort_candidate_pipe_regs((box.min_x + box.max_x) / 2, (box.min_y + box.max_y) / 2);
        const int k = assign_pipe_regs_children(n);
        std::vector<PIPE_REG>& stage = m_pipe_regs[static_cast<size_t>(m_pipe_stage)];
        MORV_ASSERT_TEXT(static_cast<size_t>(k) == stage.size(),
                         "(unsigned int) num_pipe_regs == m_pipe_regs[m_pipe_stage].size()");
        MORV_ASSERT_TEXT(k >= 1, "num_pipe_regs >= 1");
        MORV_ASSERT_TEXT(!(box.min_x == box.max_x && box.min_y == box.max_y) || k == 1, "num_pipe_regs == 1");
        box = shrink_bounding_box(box);
        for (PIPE_REG& candidate : stage) candidate.node = create_pipe_reg_for_children(source.src_oterm, candidate);
        total += k;
        ++m_pipe_stage;
        n = k;
    }
    return total;
}

BOUNDING_BOX MORV_PIPE_ASYNC::get_bounding_box_around_dst_regs(const ASYNC_SOURCE& source) const
{
    BOUNDING_BOX box;
    for (const DST_REG& dst : source.dst_regs) {
        box.min_x = std::min(box.min_x, dst.x);
        box.max_x = std::max(box.max_x, dst.x);
        box.min_y = std::min(box.min_y, dst.y);
        box.max_y = std::max(box.max_y, dst.y);
    }
    MORV_ASSERT_TEXT(box.min_x != MORV_PIPE_ASYNC_INFINITY, "bounding_box.min_x != MORV_PIPE_ASYNC_INFINITY");
    MORV_ASSERT_TEXT(box.max_x != -1, "bounding_box.max_x != -1");
    MORV_ASSERT_TEXT(box.min_y != MORV_PIPE_ASYNC_INFINITY, "bounding_box.min_y != MORV_PIPE_ASYNC_INFINITY");
    MORV_ASSERT_TEXT(box.max_y != -1, "bounding_box.max_y != -1");
    MORV_DEBUG_STREAM::print(100, "get_bounding_box_around_dst_regs(): (min_x, min_y) = (%d, %d)", box.min_x,
                             box.min_y);
    MORV_DEBUG_STREAM::print(100, "get_bounding_box_around_dst_regs(): (max_x, max_y) = (%d, %d)", box.max_x,
                             box.max_y);
    return box;
}

// A checkerboard of pitch r whose diamonds of radius r cover the box; the
// points past the box are clamped onto its edge.
void MORV_PIPE_ASYNC::create_candidate_pipe_regs(const BOUNDING_BOX& box)
{
    const int r = m_pipeline_register_reach;
    std::vector<PIPE_REG>& stage = m_pipe_regs[static_cast<size_t>(m_pipe_stage)];
    for (int j = 0, y = box.min_y; y <= box.max_y + r; ++j, y += r) {
        for (int x = box.min_x + (j % 2 == 1 ? r : 0); x <= box.max_x + r; x += 2 * r) {
            PIPE_REG candidate;
            candidate.x = std::min(x, box.max_x);
            candidate.y = std::min(y, box.max_y);
            stage.push_back(candidate);
        }
    }
}

void MORV_PIPE_ASYNC::sort_candidate_pipe_regs(int cx, int cy)
{
    std::vector<PIPE_REG>& stage = m_pipe_regs[static_cast<size_t>(m_pipe_stage)];
    for (PIPE_REG& candidate : stage) candidate.distance = std::abs(cx - candidate.x) + std::abs(cy - candidate.y);
    std::stable_sort(stage.begin(), stage.end(), [](const PIPE_REG& a, const PIPE_REG& b) {
        if (a.distance != b.distance) return a.distance < b.distance;
        if (a.x != b.x) return a.x < b.x;
        return a.y < b.y;
    });
}

void MORV_PIPE_ASYNC::collect_uncovered(const PIPE_REG& candidate, std::vector<DST_REG>& found)
{
    found.clear();
    const int r = m_pipeline_register_reach;
    for (int gx = candidate.x - r; gx <= candidate.x + r; ++gx) {
        const int w = r - std::abs(gx - candidate.x);
        for (int gy = candidate.y - w; gy <= candidate.y + w; ++gy) {
            if (!in_grid(gx, gy)) continue;
            const LOCATION_CELL& cell = grid_cell(gx, gy);
            if (cell.has_dst_regs && !cell.covered)
                found.insert(found.end(), cell.dst_regs.begin(), cell.dst_regs.end());
        }
    }
}

void MORV_PIPE_ASYNC::take_candidate(PIPE_REG& candidate, std::vector<DST_REG>& found, int& covered)
{
    std::vector<PIPE_ASYNC_CLIQUE*> cliques;
    for (const DST_REG& dst : found) {
        candidate.children.push_back(dst);
        grid_cell(dst.x, dst.y).covered = true;
        ++covered;
        auto effective = m_effective_cliques.find(dst.node->get_id());
        if (effective != m_effective_cliques.end() &&
            std::find(cliques.begin(), cliques.end(), effective->second) == cliques.end())
            cliques.push_back(effective->second);
    }
    pull_cliques(candidate, cliques, covered);
}

// The other members of a DSP block join the register its first member took,
// however far they are.
void MORV_PIPE_ASYNC::pull_cliques(PIPE_REG& candidate, const std::vector<PIPE_ASYNC_CLIQUE*>& cliques, int& covered)
{
    for (PIPE_ASYNC_CLIQUE* clique : cliques) {
        for (uint32_t id : *clique) {
            CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(id));
            MORV_ASSERT_TEXT(node, "clique_node");
            int x = -1, y = -1;
            if (!get_location(node, &x, &y)) continue;
            LOCATION_CELL& cell = grid_cell(x, y);
            if (!cell.has_dst_regs || cell.covered) continue;
            candidate.children.insert(candidate.children.end(), cell.dst_regs.begin(), cell.dst_regs.end());
            cell.covered = true;
            covered += static_cast<int>(cell.dst_regs.size());
        }
    }
}

int MORV_PIPE_ASYNC::assign_pipe_regs_children(int expected)
{
    std::vector<PIPE_REG>& stage = m_pipe_regs[static_cast<size_t>(m_pipe_stage)];
    int used = 0;
    int covered = 0;
    std::vector<DST_REG> found;
    for (int threshold = FIRST_THRESHOLD; threshold >= 0; --threshold) {
        // Candidates that reach nothing and serve nothing leave the stage;
        // the others keep their order.
        size_t kept = 0;
        for (size_t i = 0; i < stage.size(); ++i) {
            PIPE_REG& candidate = stage[i];
            collect_uncovered(candidate, found);
            const bool enough = !found.empty() && static_cast<int>(found.size()) >= threshold;
            if (enough && (threshold == 0 || m_fsyn_api->can_lcell_go_to_location(candidate.x, candidate.y))) {
                take_candidate(candidate, found, covered);
                ++used;
            } else if (found.empty() && candidate.children.empty()) {
                continue;
            }
            if (kept != i) stage[kept] = std::move(candidate);
            ++kept;
        }
        stage.resize(kept);
    }
    MORV_ASSERT_TEXT(covered == expected, "registers_covered == (unsigned int) expected_number_of_registers_to_cover");
    MORV_DEBUG_STREAM::print(100, "assign_pipe_regs_children(): %d pipe registers were used to cover %d children", used,
                             covered);
    return used;
}

BOUNDING_BOX MORV_PIPE_ASYNC::shrink_bounding_box(const BOUNDING_BOX& box) const
{
    BOUNDING_BOX out = box;
    const int r = m_pipeline_register_reach;
    const int w = box.max_x - box.min_x;
    const int h = box.max_y - box.min_y;
    if (h <= w) {
        if (w - 2 * r < 0) out.min_x = out.max_x = (box.min_x + box.max_x) / 2;
        else {
            out.min_x += r;
            out.max_x -= r;
        }
    } else {
        if (h - 2 * r < 0) out.min_y = out.max_y = (box.min_y + box.max_y) / 2;
        else {
            out.min_y += r;
            out.max_y -= r;
        }
    }
    MORV_DEBUG_STREAM::print(100, "shrink_bounding_box(): bounding box now:");
    MORV_DEBUG_STREAM::print(100, "\t(min_x, min_y) = (%d, %d)", out.min_x, out.min_y);
    MORV_DEBUG_STREAM::print(100, "\t(max_x, max_y) = (%d, %d)", out.max_x, out.max_y);
    return out;
}

CDB_ATOM_NODE* MORV_PIPE_ASYNC::create_pipe_reg_for_children(CDB_ATOM_OTERM* src_oterm, const PIPE_REG& candidate)
{
    std::vector<CDB_ATOM_ITERM*> iterms;
    iterms.reserve(candidate.children.size());
    for (const DST_REG& child : candidate.children) {
        CDB_ATOM_ITERM* iterm = child.node->get_input_term_by_type(child.port_type);
        MORV_ASSERT_TEXT(iterm, "curr_iterm");
        iterms.push_back(iterm);
    }
    return create_pipeline_register(src_oterm, iterms, candidate.x, candidate.y);
}
