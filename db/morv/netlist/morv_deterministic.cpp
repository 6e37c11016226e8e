#include "morv/netlist/morv_deterministic.h"

#include <cstdint>
#include <tuple>

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_canonical_node_info.h"

namespace {

// (atom id, usage, index) of a term whose node is known to exist.
template <typename TERM>
std::tuple<uint32_t, int, int> term_key(const TERM* term)
{
    return std::make_tuple(term->get_my_node()->get_id(), term->get_any_usage_as(), term->get_port_index() & 0xffff);
}

}  // namespace

bool DETERMINISTIC_LESS<CDB_ATOM_NODE*>::operator()(const CDB_ATOM_NODE* node_a, const CDB_ATOM_NODE* node_b) const
{
    MORV_ASSERT(node_a && node_b);
    return node_a->get_id() < node_b->get_id();
}

bool DETERMINISTIC_GREATER<CDB_ATOM_NODE*>::operator()(const CDB_ATOM_NODE* node_a, const CDB_ATOM_NODE* node_b) const
{
    MORV_ASSERT(node_a && node_b);
    return node_a->get_id() > node_b->get_id();
}

bool DETERMINISTIC_LESS<CDB_ATOM_OTERM*>::operator()(const CDB_ATOM_OTERM* oterm_a, const CDB_ATOM_OTERM* oterm_b) const
{
    MORV_ASSERT(oterm_a && oterm_b);
    const CDB_ATOM_NODE* oterm_a_node = oterm_a->get_my_node();
    const CDB_ATOM_NODE* oterm_b_node = oterm_b->get_my_node();
    MORV_ASSERT(oterm_a_node && oterm_b_node);
    const auto key_a = term_key(oterm_a);
    const auto key_b = term_key(oterm_b);
    if (key_a != key_b) return key_a < key_b;
    MORV_ASSERT(oterm_a == oterm_b);
    return false;
}

bool DETERMINISTIC_LESS<CDB_ATOM_ITERM*>::operator()(const CDB_ATOM_ITERM* iterm_a, const CDB_ATOM_ITERM* iterm_b) const
{
    MORV_ASSERT(iterm_a && iterm_b);
    const CDB_ATOM_NODE* iterm_a_node = iterm_a->get_my_node();
    const CDB_ATOM_NODE* iterm_b_node = iterm_b->get_my_node();
    MORV_ASSERT(iterm_a_node && iterm_b_node);
    const auto key_a = term_key(iterm_a);
    const auto key_b = term_key(iterm_b);
    if (key_a != key_b) return key_a < key_b;
    MORV_ASSERT(iterm_a == iterm_b);
    return false;
}

bool DETERMINISTIC_LESS<MORV_OTERM_SET>::operator()(const MORV_OTERM_SET& set_a, const MORV_OTERM_SET& set_b) const
{
    DETERMINISTIC_LESS<CDB_ATOM_OTERM*> less;
    auto it_a = set_a.begin();
    auto it_b = set_b.begin();
    for (; it_a != set_a.end() && it_b != set_b.end(); ++it_a, ++it_b) {
        if (less(*it_a, *it_b)) return true;
        if (less(*it_b, *it_a)) return false;
    }
    return it_a == set_a.end() && it_b != set_b.end();
}

bool DETERMINISTIC_LESS<MORV_CANONICAL_NODE_INFO*>::operator()(const MORV_CANONICAL_NODE_INFO* info_a,
                                                               const MORV_CANONICAL_NODE_INFO* info_b) const
{
    MORV_ASSERT(info_a && info_b);
    return info_a->compare(info_b);
}

MORV_CANONICAL_OTERM::MORV_CANONICAL_OTERM(const CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT(oterm);
    MORV_ASSERT(oterm->get_my_node());
    m_atom_id = static_cast<int>(oterm->get_my_node()->get_id());
    m_port_type = oterm->get_any_usage_as();
    m_port_index = oterm->get_port_index() & 0xffff;
}

bool MORV_CANONICAL_OTERM::operator<(const MORV_CANONICAL_OTERM& other) const
{
    return std::tie(m_atom_id, m_port_type, m_port_index) <
           std::tie(other.m_atom_id, other.m_port_type, other.m_port_index);
}

MORV_CANONICAL_ITERM::MORV_CANONICAL_ITERM(const CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    MORV_ASSERT(iterm->get_my_node());
    m_atom_id = static_cast<int>(iterm->get_my_node()->get_id());
    m_port_type = iterm->get_any_usage_as();
    m_port_index = iterm->get_port_index() & 0xffff;
}

bool MORV_CANONICAL_ITERM::operator<(const MORV_CANONICAL_ITERM& other) const
{
    return std::tie(m_atom_id, m_port_type, m_port_index) <
           std::tie(other.m_atom_id, other.m_port_type, other.m_port_index);
}
