// Handles and managers: argument checks around the kernel.

#include "bdd/bdd_jbdd.h"

#include <utility>

#include "msg/msg.h"

using bdd_detail::BDD_KERNEL;
using bdd_detail::EDGE;

// ------------------------------------------------------------------ BDD_JBDD

BDD_JBDD::BDD_JBDD(BDD_JBDD_MGR* mgr) : m_kernel(mgr ? mgr->m_kernel : nullptr), m_edge(bdd_detail::EDGE_FALSE)
{
    MSG_ASSERT(mgr != nullptr, "BDD");
    acquire();
}

BDD_JBDD& BDD_JBDD::operator=(const BDD_JBDD& other)
{
    BDD_JBDD copy(other);
    return *this = std::move(copy);
}

BDD_JBDD& BDD_JBDD::operator=(BDD_JBDD&& other) noexcept
{
    if (this != &other) {
        release();
        m_kernel = other.m_kernel;
        m_edge = other.m_edge;
        other.m_kernel = nullptr;
    }
    return *this;
}

BDD_KERNEL* BDD_JBDD::usable() const
{
    MSG_ASSERT(m_kernel != nullptr, "BDD");
    MSG_ASSERT(!m_kernel->is_orphaned(), "BDD");
    return m_kernel;
}

BDD_KERNEL* BDD_JBDD::usable_with(const BDD_JBDD& other) const
{
    MSG_ASSERT(m_kernel == other.m_kernel, "BDD");
    return usable();
}

BDD_JBDD BDD_JBDD::operator!() const
{
    return BDD_JBDD(usable(), bdd_detail::edge_not(m_edge));
}

BDD_JBDD BDD_JBDD::operator&(const BDD_JBDD& g) const
{
    BDD_KERNEL* k = usable_with(g);
    return BDD_JBDD(k, k->apply_and(m_edge, g.m_edge));
}

BDD_JBDD BDD_JBDD::operator|(const BDD_JBDD& g) const
{
    BDD_KERNEL* k = usable_with(g);
    return BDD_JBDD(k, k->apply_or(m_edge, g.m_edge));
}

BDD_JBDD BDD_JBDD::operator^(const BDD_JBDD& g) const
{
    BDD_KERNEL* k = usable_with(g);
    return BDD_JBDD(k, k->apply_xor(m_edge, g.m_edge));
}

BDD_JBDD BDD_JBDD::Ite(const BDD_JBDD& g, const BDD_JBDD& h) const
{
    BDD_KERNEL* k = usable_with(g);
    usable_with(h);
    return BDD_JBDD(k, k->apply_ite(m_edge, g.m_edge, h.m_edge));
}

BDD_JBDD BDD_JBDD::Compose(const BDD_JBDD& g, int var) const
{
    BDD_KERNEL* k = usable_with(g);
    return BDD_JBDD(k, k->apply_compose(m_edge, g.m_edge, var));
}

BDD_JBDD BDD_JBDD::Constrain(const BDD_JBDD& c) const
{
    BDD_KERNEL* k = usable_with(c);
    return BDD_JBDD(k, k->apply_constrain(m_edge, c.m_edge));
}

BDD_JBDD BDD_JBDD::Exist(const BDD_JBDD& cube) const
{
    BDD_KERNEL* k = usable_with(cube);
    return BDD_JBDD(k, k->apply_exist(m_edge, cube.m_edge));
}

BDD_JBDD BDD_JBDD::Exist(int var) const
{
    BDD_KERNEL* k = usable();
    if (var < 0 || var >= k->var_count()) return *this;
    return BDD_JBDD(k, k->apply_exist(m_edge, k->var_edge(var)));
}

BDD_JBDD BDD_JBDD::ForAll(const BDD_JBDD& cube) const
{
    BDD_KERNEL* k = usable_with(cube);
    return BDD_JBDD(k, bdd_detail::edge_not(k->apply_exist(bdd_detail::edge_not(m_edge), cube.m_edge)));
}

BDD_JBDD BDD_JBDD::ForAll(int var) const
{
    BDD_KERNEL* k = usable();
    if (var < 0 || var >= k->var_count()) return *this;
    return BDD_JBDD(k, bdd_detail::edge_not(k->apply_exist(bdd_detail::edge_not(m_edge), k->var_edge(var))));
}

std::vector<int> BDD_JBDD::build_support() const
{
    return usable()->support(m_edge);
}

int BDD_JBDD::support_size() const
{
    return static_cast<int>(build_support().size());
}

int BDD_JBDD::size() const
{
    return usable()->count_nodes(m_edge);
}

int BDD_JBDD::level() const
{
    BDD_KERNEL* k = usable();
    return bdd_detail::edge_constant(m_edge) ? k->var_count() : static_cast<int>(k->level(m_edge));
}

int BDD_JBDD::variable() const
{
    return usable()->variable(m_edge);
}

BDD_JBDD BDD_JBDD::low_child() const
{
    BDD_KERNEL* k = usable();
    return BDD_JBDD(k, bdd_detail::edge_constant(m_edge) ? m_edge : k->low(m_edge));
}

BDD_JBDD BDD_JBDD::high_child() const
{
    BDD_KERNEL* k = usable();
    return BDD_JBDD(k, bdd_detail::edge_constant(m_edge) ? m_edge : k->high(m_edge));
}

std::vector<BDD_JBDD> BDD_JBDD::get_cut_nodes(int cut_level) const
{
    BDD_KERNEL* k = usable();
    std::vector<BDD_JBDD> cuts;
    for (EDGE e : k->cut_edges(m_edge, cut_level)) cuts.push_back(BDD_JBDD(k, e));
    return cuts;
}

unsigned BDD_JBDD::node_index() const
{
    usable();
    return m_edge;
}

// ------------------------------------------------------------------ BDD_JBDD_MGR

BDD_JBDD_MGR::BDD_JBDD_MGR(int initial_nodes, int cache_entries, int growth_step, bool auto_reorder, bool verbose)
    : m_kernel(new BDD_KERNEL(initial_nodes, cache_entries, growth_step, verbose))
{
    if (auto_reorder)
        std::fprintf(stderr, "bdd: automatic reordering is not built; the variable order changes only by swaps\n");
}

BDD_JBDD_MGR::~BDD_JBDD_MGR()
{
    if (m_kernel->orphan()) bdd_detail::delete_kernel(m_kernel);
}

void BDD_JBDD_MGR::begin_reorder()
{
    MSG_ASSERT(!m_in_reorder, "BDD");
    m_in_reorder = true;
}

void BDD_JBDD_MGR::end_reorder()
{
    MSG_ASSERT(m_in_reorder, "BDD");
    m_in_reorder = false;
}

void BDD_JBDD_MGR::swap_adjacent_variables(int var_a, int var_b)
{
    int la = m_kernel->level_of_var(var_a), lb = m_kernel->level_of_var(var_b);
    MSG_ASSERT(la >= 0 && lb >= 0 && (la - lb == 1 || lb - la == 1), "BDD");
    m_kernel->swap_levels(la < lb ? la : lb);
}

void BDD_JBDD_MGR::fprint_bdds_as_dot(FILE* fp, const std::vector<BDD_JBDD>& bdds)
{
    MSG_ASSERT(fp != nullptr, "BDD");
    std::vector<EDGE> roots;
    for (const BDD_JBDD& f : bdds) {
        MSG_ASSERT(f.m_kernel == m_kernel, "BDD");
        roots.push_back(f.m_edge);
    }
    m_kernel->write_dot(fp, roots);
}
