#include "tdb/tdb_netlist.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "fio/fio.h"
#include "msg/msg.h"

#define TDB_ASSERT(cond) MSG_ASSERT(cond, "TDB")

// ---------------------------------------------------------------- delays

int TDB_DELAY::get_delay(int kind, int which, int transition) const
{
    if (which != TDB_MAX && which != TDB_MIN) return TDB_ILLEGAL_DELAY;
    auto one = [&](int k, int t) { return m_values[k][which][t]; };
    auto pick = [&](int k) {
        if (transition == 0 || transition == 1) return one(k, transition);
        return which == TDB_MAX ? std::max(one(k, 0), one(k, 1)) : std::min(one(k, 0), one(k, 1));
    };
    if (transition < 0 || transition > 2) return TDB_ILLEGAL_DELAY;
    if (kind == TDB_DELAY_IC || kind == TDB_DELAY_CELL) return pick(kind);
    if (kind != TDB_DELAY_TOTAL) return TDB_ILLEGAL_DELAY;
    if (transition == 0 || transition == 1) return one(0, transition) + one(1, transition);
    int a = one(0, 0) + one(1, 0), b = one(0, 1) + one(1, 1);
    return which == TDB_MAX ? std::max(a, b) : std::min(a, b);
}

bool TDB_DELAY::set_delay(int kind, int max_0, int max_1, int min_0, int min_1)
{
    if (kind != TDB_DELAY_IC && kind != TDB_DELAY_CELL) return false;
    int(&v)[2][2] = m_values[kind];
    if (v[TDB_MAX][0] == max_0 && v[TDB_MAX][1] == max_1 && v[TDB_MIN][0] == min_0 && v[TDB_MIN][1] == min_1)
        return true;
    v[TDB_MAX][0] = max_0;
    v[TDB_MAX][1] = max_1;
    v[TDB_MIN][0] = min_0;
    v[TDB_MIN][1] = min_1;
    if (m_owner) m_owner->notify_delays_changed();
    return true;
}

// ---------------------------------------------------------------- node

CDB_ATOM_OTERM* TDB_NODE::get_oterm(bool through_internal) const
{
    const TDB_NODE* n = this;
    // Internal chains are acyclic in a built netlist; the bound keeps a
    // hand-made cycle from hanging the walk.
    for (int steps = 0; steps < 64; ++steps) {
        if (n->m_oterm || !through_internal || n->m_fanout.size() != 1) return n->m_oterm;
        const TDB_EDGE* e = n->m_fanout[0];
        const TDB_NODE* next = e->get_dst_node();
        if (e->get_iterm() || next->m_atom_id != m_atom_id) return nullptr;
        n = next;
    }
    return nullptr;
}

// ---------------------------------------------------------------- iterator

TDB_EDGE_COMPOUND_ITER::TDB_EDGE_COMPOUND_ITER(const TDB_NODE* node, int selector) : m_node(node), m_selector(selector)
{
    if (!node) m_list = 3;
    skip_empty();
}

static const std::vector<TDB_EDGE*>* iter_list(const TDB_NODE* node, int list, int selector)
{
    static const int BITS[3] = {TDB_SELECT_DATA_FANIN, TDB_SELECT_CLOCK_FANIN, TDB_SELECT_FANOUT};
    if (!(selector & BITS[list])) return nullptr;
    return list == 0 ? &node->fanin() : list == 1 ? &node->clkin() : &node->fanout();
}

void TDB_EDGE_COMPOUND_ITER::skip_empty()
{
    while (m_list < 3) {
        const std::vector<TDB_EDGE*>* l = iter_list(m_node, m_list, m_selector);
        if (l && m_pos < l->size()) return;
        ++m_list;
        m_pos = 0;
    }
}

TDB_EDGE* TDB_EDGE_COMPOUND_ITER::get() const
{
    if (done()) return nullptr;
    return (*iter_list(m_node, m_list, m_selector))[m_pos];
}

TDB_EDGE_COMPOUND_ITER& TDB_EDGE_COMPOUND_ITER::operator++()
{
    if (!done()) {
        ++m_pos;
        skip_empty();
    }
    return *this;
}

TDB_EDGE* TDB_EDGE_COMPOUND_ITER::next()
{
    TDB_EDGE* e = get();
    ++*this;
    return e;
}

// ---------------------------------------------------------------- netlist

class TDB_NETLIST::OTERM_MAP : public std::unordered_map<const CDB_ATOM_OTERM*, int>
{};

const std::vector<int> TDB_NETLIST::s_no_nodes;

TDB_NETLIST::TDB_NETLIST(int first_node_id, int first_edge_id) : m_oterm_map(new OTERM_MAP)
{
    m_node_base = std::max(first_node_id, 0);
    m_edge_base = std::max(first_edge_id, 0);
}

TDB_NETLIST::~TDB_NETLIST()
{
    for (TDB_EDGE* e : m_edges) delete e;
    for (TDB_NODE* n : m_nodes) delete n;
    delete m_oterm_map;
}

TDB_NODE* TDB_NETLIST::find_node(int id) const
{
    return id >= m_node_base && id < get_node_id_bound() ? m_nodes[(size_t)(id - m_node_base)] : nullptr;
}

TDB_EDGE* TDB_NETLIST::find_edge(int id) const
{
    return id >= m_edge_base && id < get_edge_id_bound() ? m_edges[(size_t)(id - m_edge_base)] : nullptr;
}

std::vector<TDB_EDGE*>* TDB_NETLIST::create_vec_of_edges()
{
    m_has_edge_vec = true;
    return &m_edges;
}

TDB_NODE* TDB_NETLIST::get_tdb_node_from_oterm(const CDB_ATOM_OTERM* oterm) const
{
    if (!oterm) return nullptr;
    auto it = m_oterm_map->find(oterm);
    return it == m_oterm_map->end() ? nullptr : find_node(it->second);
}

const std::vector<int>& TDB_NETLIST::get_atom_nodes(int atom_id) const
{
    if (atom_id < m_atom_base || atom_id >= get_atom_id_bound()) return s_no_nodes;
    return m_atom_nodes[atom_id - m_atom_base];
}

void TDB_NETLIST::reserve_atom_ids(int lo, int hi)
{
    if (lo < 0 || hi < lo) return;
    atom_slot(hi);
    atom_slot(lo);
}

std::vector<int>& TDB_NETLIST::atom_slot(int atom_id)
{
    if (m_atom_nodes.empty()) {
        m_atom_base = atom_id;
    } else if (atom_id < m_atom_base) {
        m_atom_nodes.insert(m_atom_nodes.begin(), (size_t)(m_atom_base - atom_id), std::vector<int>());
        m_atom_base = atom_id;
    }
    const size_t slot = (size_t)(atom_id - m_atom_base);
    if (slot >= m_atom_nodes.size()) m_atom_nodes.resize(slot + 1);
    return m_atom_nodes[slot];
}

TDB_NODE* TDB_NETLIST::add_node(int atom_id, uint32_t flags, CDB_ATOM_OTERM* oterm, int port_type, int port_index,
                                int role, bool index_oterm)
{
    TDB_NODE* n = new TDB_NODE;
    n->m_id = get_node_id_bound();
    n->m_atom_id = atom_id;
    n->m_flags = flags;
    n->m_oterm = oterm;
    n->m_port_type = port_type;
    n->m_port_index = port_index;
    n->m_role = role;
    m_nodes.push_back(n);
    ++m_num_nodes;
    if (atom_id >= 0) atom_slot(atom_id).push_back(n->m_id);
    if (oterm && index_oterm) (*m_oterm_map)[oterm] = n->m_id;
    ++m_structure_version;
    return n;
}

void TDB_NETLIST::set_node_timing(TDB_NODE* node, int tco, int tsu)
{
    if (node->m_tco == tco && node->m_tsu == tsu) return;
    node->m_tco = tco;
    node->m_tsu = tsu;
    notify_delays_changed();
}

TDB_EDGE* TDB_NETLIST::add_edge(TDB_NODE* src, TDB_NODE* dst, CDB_ATOM_ITERM* iterm, bool is_clock, int ic_delay,
                                int cell_delay)
{
    TDB_ASSERT(src && dst);
    TDB_ASSERT(!is_clock || dst->is_keeper());
    TDB_EDGE* e = new TDB_EDGE;
    e->m_id = get_edge_id_bound();
    e->m_src = src;
    e->m_dst = dst;
    e->m_iterm = iterm;
    e->m_is_clock = is_clock;
    for (int w = 0; w < 2; ++w)
        for (int t = 0; t < 2; ++t) {
            e->m_delay.m_values[0][w][t] = ic_delay;
            e->m_delay.m_values[1][w][t] = cell_delay;
        }
    e->m_delay.m_owner = this;
    e->m_src_pos = (int)src->m_fanout.size();
    src->m_fanout.push_back(e);
    std::vector<TDB_EDGE*>& in = is_clock ? dst->m_clkin : dst->m_fanin;
    e->m_dst_pos = (int)in.size();
    in.push_back(e);
    m_edges.push_back(e);
    ++m_num_edges;
    ++m_structure_version;
    return e;
}

// Removal is O(1): the last edge of a list takes the removed one's slot
// (the order stays a function of the edit sequence, so walks stay
// deterministic).
static void swap_out(std::vector<TDB_EDGE*>& list, int pos, int TDB_EDGE::*pos_field)
{
    TDB_ASSERT(pos >= 0 && pos < (int)list.size());
    TDB_EDGE* last = list.back();
    list[pos] = last;
    last->*pos_field = pos;
    list.pop_back();
}

void TDB_NETLIST::remove_edge(TDB_EDGE* e)
{
    TDB_ASSERT(e && find_edge(e->m_id) == e);
    swap_out(e->m_src->m_fanout, e->m_src_pos, &TDB_EDGE::m_src_pos);
    swap_out(e->m_is_clock ? e->m_dst->m_clkin : e->m_dst->m_fanin, e->m_dst_pos, &TDB_EDGE::m_dst_pos);
    m_edges[(size_t)(e->m_id - m_edge_base)] = nullptr;
    --m_num_edges;
    ++m_structure_version;
    delete e;
}

void TDB_NETLIST::remove_node(TDB_NODE* n)
{
    TDB_ASSERT(n && find_node(n->m_id) == n);
    while (!n->m_fanin.empty()) remove_edge(n->m_fanin.back());
    while (!n->m_clkin.empty()) remove_edge(n->m_clkin.back());
    while (!n->m_fanout.empty()) remove_edge(n->m_fanout.back());
    if (n->m_oterm) {
        auto it = m_oterm_map->find(n->m_oterm);
        if (it != m_oterm_map->end() && it->second == n->m_id) m_oterm_map->erase(it);
    }
    if (n->m_atom_id >= m_atom_base && n->m_atom_id < get_atom_id_bound()) {
        std::vector<int>& ids = m_atom_nodes[n->m_atom_id - m_atom_base];
        ids.erase(std::remove(ids.begin(), ids.end(), n->m_id), ids.end());
    }
    m_nodes[(size_t)(n->m_id - m_node_base)] = nullptr;
    --m_num_nodes;
    ++m_structure_version;
    delete n;
}

void TDB_NETLIST::notify_delays_changed()
{
    if (m_listener) m_listener->on_delays_changed();
}

bool TDB_NETLIST::dump_to_file(const FIO_PATH& path, bool with_delays) const
{
    return dump_to_file(path.str().c_str(), with_delays);
}

bool TDB_NETLIST::dump_to_file(const char* path, bool with_delays) const
{
    FILE* f = std::fopen(path, "w");
    if (!f) return false;
    std::fprintf(f, "tdb_netlist nodes %d edges %d\n", m_num_nodes, m_num_edges);
    for (const TDB_NODE* n : m_nodes)
        if (n)
            std::fprintf(f, "node %d atom %d port %d flags 0x%x fanin %d clkin %d fanout %d\n", n->m_id, n->m_atom_id,
                         n->m_port_type, (unsigned)n->m_flags, n->get_num_of_fanin(), n->get_num_of_clkin(),
                         n->get_num_of_fanout());
    for (const TDB_EDGE* e : m_edges) {
        if (!e) continue;
        std::fprintf(f, "edge %d %d -> %d%s%s slack %d sr %.4f", e->m_id, e->m_src->m_id, e->m_dst->m_id,
                     e->m_is_clock ? " clock" : "", e->is_for_tdc() ? " tdc" : "", e->m_slack,
                     (double)e->m_slack_ratio);
        if (with_delays)
            std::fprintf(f, " ic %d/%d cell %d/%d", e->get_max_ic_delay(), e->get_min_ic_delay(),
                         e->get_max_cell_delay(), e->m_delay.get_delay(TDB_DELAY_CELL, TDB_MIN, 2));
        std::fprintf(f, "\n");
    }
    return std::fclose(f) == 0;
}
