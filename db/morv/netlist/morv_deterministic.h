#pragma once

// Orders and keys of atoms and terms that do not depend on where the host
// allocated them. Every ordered container of atoms or terms uses these, so
// that two runs on the same netlist walk their sets in the same order; the
// keys stand in for term pointers wherever a term may be rebuilt (netlist
// restores) while the key is kept.

#include <cstddef>
#include <set>

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class MORV_CANONICAL_NODE_INFO;

template <typename T>
struct DETERMINISTIC_LESS;

template <typename T>
struct DETERMINISTIC_GREATER;

// By atom id.
template <>
struct DETERMINISTIC_LESS<CDB_ATOM_NODE*>
{
    bool operator()(const CDB_ATOM_NODE* node_a, const CDB_ATOM_NODE* node_b) const;
};

// Highest atom id first.
template <>
struct DETERMINISTIC_GREATER<CDB_ATOM_NODE*>
{
    bool operator()(const CDB_ATOM_NODE* node_a, const CDB_ATOM_NODE* node_b) const;
};

// By owning atom id, then port usage, then port index. Two different terms
// with the same key are a broken netlist and reported as such.
template <>
struct DETERMINISTIC_LESS<CDB_ATOM_OTERM*>
{
    bool operator()(const CDB_ATOM_OTERM* oterm_a, const CDB_ATOM_OTERM* oterm_b) const;
};

// As for output terms; a term without usage sorts as the "no port" usage.
template <>
struct DETERMINISTIC_LESS<CDB_ATOM_ITERM*>
{
    bool operator()(const CDB_ATOM_ITERM* iterm_a, const CDB_ATOM_ITERM* iterm_b) const;
};

typedef std::set<CDB_ATOM_OTERM*, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>> MORV_OTERM_SET;

// Lexicographic over two ordered sets of output terms; a set that runs out
// first is the smaller.
template <>
struct DETERMINISTIC_LESS<MORV_OTERM_SET>
{
    bool operator()(const MORV_OTERM_SET& set_a, const MORV_OTERM_SET& set_b) const;
};

// Canonical forms order by their own comparison.
template <>
struct DETERMINISTIC_LESS<MORV_CANONICAL_NODE_INFO*>
{
    bool operator()(const MORV_CANONICAL_NODE_INFO* info_a, const MORV_CANONICAL_NODE_INFO* info_b) const;
};

typedef std::set<MORV_OTERM_SET, DETERMINISTIC_LESS<MORV_OTERM_SET>> MORV_OTERM_SET_SET;

// An output term named by (atom id, port usage, port index).
struct MORV_CANONICAL_OTERM
{
    int m_atom_id = -1;
    int m_port_type = -1;
    int m_port_index = -1;

    MORV_CANONICAL_OTERM() = default;
    explicit MORV_CANONICAL_OTERM(const CDB_ATOM_OTERM* oterm);
    static MORV_CANONICAL_OTERM of(const CDB_ATOM_OTERM* oterm) { return MORV_CANONICAL_OTERM(oterm); }

    bool operator==(const MORV_CANONICAL_OTERM& other) const
    {
        return m_atom_id == other.m_atom_id && m_port_type == other.m_port_type && m_port_index == other.m_port_index;
    }
    bool operator!=(const MORV_CANONICAL_OTERM& other) const { return !(*this == other); }
    bool operator<(const MORV_CANONICAL_OTERM& other) const;
};

// An input term named by (atom id, port usage, port index).
struct MORV_CANONICAL_ITERM
{
    int m_atom_id = -1;
    int m_port_type = -1;
    int m_port_index = -1;

    MORV_CANONICAL_ITERM() = default;
    explicit MORV_CANONICAL_ITERM(const CDB_ATOM_ITERM* iterm);
    static MORV_CANONICAL_ITERM of(const CDB_ATOM_ITERM* iterm) { return MORV_CANONICAL_ITERM(iterm); }

    bool operator==(const MORV_CANONICAL_ITERM& other) const
    {
        return m_atom_id == other.m_atom_id && m_port_type == other.m_port_type && m_port_index == other.m_port_index;
    }
    bool operator!=(const MORV_CANONICAL_ITERM& other) const { return !(*this == other); }
    bool operator<(const MORV_CANONICAL_ITERM& other) const;
};

// Hash of either key, for unordered containers.
struct MORV_CANONICAL_TERM_HASH
{
    static size_t combine(int atom_id, int port_type, int port_index)
    {
        size_t h = static_cast<size_t>(static_cast<unsigned>(atom_id));
        h = h * 1000003u ^ static_cast<size_t>(static_cast<unsigned>(port_type));
        return h * 1000003u ^ static_cast<size_t>(static_cast<unsigned>(port_index));
    }
    size_t operator()(const MORV_CANONICAL_ITERM& key) const
    {
        return combine(key.m_atom_id, key.m_port_type, key.m_port_index);
    }
    size_t operator()(const MORV_CANONICAL_OTERM& key) const
    {
        return combine(key.m_atom_id, key.m_port_type, key.m_port_index);
    }
};
typedef MORV_CANONICAL_TERM_HASH MORV_CANONICAL_ITERM_HASH;
typedef MORV_CANONICAL_TERM_HASH MORV_CANONICAL_OTERM_HASH;
