// Read-only walks: node count, support, cut nodes and the dot form. Each walk
// marks what it has seen with a fresh epoch number, so no clearing is needed:
// a node's mark holds the epoch above two bits that tell whether the walk met
// its plain and its complemented edge.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "bdd/bdd_kernel.h"

namespace bdd_detail {

uint32_t BDD_KERNEL::next_epoch()
{
    if (m_marks.size() < m_capacity) m_marks.resize(m_capacity, 0);
    if (m_var_marks.size() < m_level2var.size()) m_var_marks.resize(m_level2var.size(), 0);
    if (++m_epoch == (1u << 30)) {
        std::fill(m_marks.begin(), m_marks.end(), 0);
        std::fill(m_var_marks.begin(), m_var_marks.end(), 0);
        m_epoch = 1;
    }
    return m_epoch;
}

bool BDD_KERNEL::mark(EDGE e)
{
    uint32_t& m = m_marks[edge_index(e)];
    uint32_t seen = (m >> 2) == m_epoch ? m : m_epoch << 2;
    uint32_t bit = 1u << (e & 1u);
    if (seen & bit) return false;
    m = seen | bit;
    return true;
}

// Internal nodes only; f and !f share theirs.
int BDD_KERNEL::count_nodes(EDGE f)
{
    next_epoch();
    int count = 0;
    std::vector<EDGE> stack{edge_regular(f)};
    while (!stack.empty()) {
        EDGE e = stack.back();
        stack.pop_back();
        if (edge_constant(e) || !mark(e)) continue;
        ++count;
        stack.push_back(m_nodes[edge_index(e)].hi);
        stack.push_back(edge_regular(m_nodes[edge_index(e)].lo));
    }
    return count;
}

std::vector<int> BDD_KERNEL::support(EDGE f)
{
    uint32_t epoch = next_epoch();
    std::vector<int> vars;
    std::vector<EDGE> stack{edge_regular(f)};
    while (!stack.empty()) {
        EDGE e = stack.back();
        stack.pop_back();
        if (edge_constant(e) || !mark(e)) continue;
        const BDD_NODE& n = m_nodes[edge_index(e)];
        if (m_var_marks[n.var] != epoch) {
            m_var_marks[n.var] = epoch;
            vars.push_back(n.var);
        }
        stack.push_back(n.hi);
        stack.push_back(edge_regular(n.lo));
    }
    std::sort(vars.begin(), vars.end(),
              [this](int a, int b) { return m_var2level[size_t(a)] < m_var2level[size_t(b)]; });
    return vars;
}

// Functions, not nodes: a node met once plain and once complemented below
// the cut gives two cut functions. The order is that of a depth-first walk,
// low branch first, so it depends on the graph alone.
std::vector<EDGE> BDD_KERNEL::cut_edges(EDGE f, int cut_level)
{
    next_epoch();
    std::vector<EDGE> cuts;
    std::vector<EDGE> stack{f};
    while (!stack.empty()) {
        EDGE e = stack.back();
        stack.pop_back();
        if (!mark(e)) continue;
        if (edge_constant(e) || cut_level <= 0 || level(e) >= uint32_t(cut_level)) {
            cuts.push_back(e);
            continue;
        }
        stack.push_back(high(e));
        stack.push_back(low(e));
    }
    return cuts;
}

// One dot node per function reached (complements drawn as functions of
// their own, so the picture reads like a plain diagram with two leaves);
// solid lines lead to the high branch, dashed ones to the low branch.
void BDD_KERNEL::write_dot(FILE* fp, const std::vector<EDGE>& roots)
{
    auto name = [](EDGE e) {
        char text[16];
        std::snprintf(text, sizeof text, e == EDGE_TRUE ? "one" : e == EDGE_FALSE ? "zero" : "n%u", unsigned(e));
        return std::string(text);
    };
    next_epoch();
    std::map<uint32_t, std::vector<EDGE>> by_level;
    std::fprintf(fp, "digraph bdd {\n  one [shape=box,label=\"1\"];\n  zero [shape=box,label=\"0\"];\n");
    std::vector<EDGE> stack;
    for (size_t i = 0; i < roots.size(); ++i) {
        std::fprintf(fp, "  f%zu [shape=plaintext];\n  f%zu -> %s;\n", i, i, name(roots[i]).c_str());
        stack.push_back(roots[i]);
    }
    while (!stack.empty()) {
        EDGE e = stack.back();
        stack.pop_back();
        if (edge_constant(e) || !mark(e)) continue;
        by_level[level(e)].push_back(e);
        std::fprintf(fp, "  %s [label=\"v%d\"];\n  %s -> %s;\n  %s -> %s [style=dashed];\n", name(e).c_str(),
                     variable(e), name(e).c_str(), name(high(e)).c_str(), name(e).c_str(), name(low(e)).c_str());
        stack.push_back(high(e));
        stack.push_back(low(e));
    }
    for (const auto& [lvl, edges] : by_level) {
        std::fprintf(fp, "  { rank=same;");
        for (EDGE e : edges) std::fprintf(fp, " %s;", name(e).c_str());
        std::fprintf(fp, " }\n");
    }
    std::fprintf(fp, "}\n");
}

}  // namespace bdd_detail
