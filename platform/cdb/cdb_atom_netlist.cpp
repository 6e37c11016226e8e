#include "cdb/cdb_atom_netlist.h"

#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#define CDB_CHECK(cond) MSG_ASSERT(cond, "CDB")

CDB_ATOM_NETLIST::CDB_ATOM_NETLIST(int family) : m_family(family) {}

CDB_ATOM_NETLIST::~CDB_ATOM_NETLIST()
{
    if (m_own_nodes) {
        clear();
    } else {
        while (m_head) remove_node(m_head);
    }
    if (m_own_name_mgr) delete m_name_mgr;
}

void CDB_ATOM_NETLIST::add_node(CDB_ATOM_NODE* node)
{
    CDB_CHECK(node && node->m_netlist == nullptr);
    const uint32_t id = node->get_id();
    CDB_CHECK(id != 0);
    // Ids are process-wide: index from the smallest id seen, not from 0.
    if (m_by_id.empty()) {
        m_id_base = id;
    } else if (id < m_id_base) {
        m_by_id.insert(m_by_id.begin(), m_id_base - id, nullptr);
        m_id_base = id;
    }
    const size_t slot = id - m_id_base;
    if (slot >= m_by_id.size()) m_by_id.resize(slot + 1 + m_by_id.size() / 2, nullptr);
    CDB_CHECK(m_by_id[slot] == nullptr);
    m_by_id[slot] = node;
    node->m_netlist = this;
    node->m_prev = m_tail;
    node->m_next = nullptr;
    if (m_tail) m_tail->m_next = node;
    else m_head = node;
    m_tail = node;
    ++m_count;
    if (id > m_max_id) m_max_id = id;
}

void CDB_ATOM_NETLIST::remove_node(CDB_ATOM_NODE* node)
{
    CDB_CHECK(node && node->m_netlist == this);
    if (node->m_prev) node->m_prev->m_next = node->m_next;
    else m_head = node->m_next;
    if (node->m_next) node->m_next->m_prev = node->m_prev;
    else m_tail = node->m_prev;
    // The links stay readable: a walk standing on a removed node can still advance.
    node->m_prev = nullptr;
    node->m_netlist = nullptr;
    m_by_id[node->get_id() - m_id_base] = nullptr;
    --m_count;
}

void CDB_ATOM_NETLIST::delete_node(CDB_ATOM_NODE* node)
{
    CDB_CHECK(node && node->m_netlist == this);
    node->disconnect_all();
    remove_node(node);
    delete node;
}

void CDB_ATOM_NETLIST::clear()
{
    // Disconnect everything first so that no node's destructor walks into a freed one.
    for (CDB_ATOM_NODE* n = m_head; n; n = n->m_next) n->disconnect_all();
    while (m_head) {
        CDB_ATOM_NODE* n = m_head;
        remove_node(n);
        delete n;
    }
}

CDB_ATOM_NODE* CDB_ATOM_NETLIST::get_node_by_id(uint32_t id) const
{
    if (id < m_id_base || id - m_id_base >= m_by_id.size()) return nullptr;
    return m_by_id[id - m_id_base];
}

uint32_t CDB_ATOM_NETLIST::get_max_id() const
{
    if (m_count == 0) return 0;
    while (m_max_id > m_id_base && get_node_by_id(m_max_id) == nullptr) --m_max_id;
    return m_max_id;
}

void CDB_ATOM_NETLIST::assimilate(CDB_ATOM_NETLIST* other)
{
    CDB_CHECK(other && other != this);
    while (CDB_ATOM_NODE* n = other->m_head) {
        other->remove_node(n);
        add_node(n);
    }
    if (m_family == CDB_FAMILY_NONE) m_family = other->m_family;
}

void CDB_ATOM_NETLIST::set_name_mgr(HDB_NAME_MGR* mgr, bool owned)
{
    if (m_own_name_mgr && m_name_mgr != mgr) delete m_name_mgr;
    m_name_mgr = mgr;
    m_own_name_mgr = owned;
}

void CDB_ATOM_NETLIST::rebind_created_from(const HDB_NAME_MGR& names)
{
    auto same_in = [&names](const HDB_INSTANCE_NAME* name) -> HDB_INSTANCE_NAME* {
        if (name == nullptr || name->get_name_mgr() == &names) return const_cast<HDB_INSTANCE_NAME*>(name);
        return names.find_name(name->get_short_hpath());
    };
    size_t kept = 0;
    for (const auto& [made, from] : m_created_from) {
        HDB_INSTANCE_NAME* new_made = same_in(made);
        HDB_INSTANCE_NAME* new_from = same_in(from);
        if ((made != nullptr && new_made == nullptr) || (from != nullptr && new_from == nullptr)) continue;
        m_created_from[kept++] = {new_made, new_from};
    }
    m_created_from.resize(kept);
}

HDB_NAME_MGR* CDB_ATOM_NETLIST::get_or_create_name_mgr()
{
    if (m_name_mgr == nullptr) set_name_mgr(new HDB_NAME_MGR("top"), true);
    return m_name_mgr;
}

void CDB_ATOM_NETLIST::add_new_atom_to_created_from_map(HDB_INSTANCE_NAME* new_name, HDB_INSTANCE_NAME* from_name)
{
    m_created_from.emplace_back(new_name, from_name);
}

bool CDB_ATOM_NETLIST::verify() const
{
    size_t n = 0;
    for (CDB_ATOM_NODE* node = m_head; node; node = node->get_next_in_list(), ++n) {
        if (node->get_netlist() != this || get_node_by_id(node->get_id()) != node) return false;
        if (!node->verify_fanin() || !node->verify_fanout()) return false;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_OTERM* src = (*it)->get_source();
            if (src && (src->get_my_node() == nullptr || src->get_my_node()->get_netlist() != this)) return false;
        }
    }
    return n == m_count;
}

// ---------------------------------------------------------------- LUT-mask cache

CDB_ATOM_LUTMASK_CACHE* CDB_ATOM_LUTMASK_CACHE::s_current = nullptr;

CDB_ATOM_LUTMASK_CACHE::CDB_ATOM_LUTMASK_CACHE(const CDB_ATOM_NETLIST* netlist) : m_previous(s_current)
{
    if (netlist != nullptr)
        for (CDB_ATOM_NODE* node : *netlist) {
            if (node->get_lut_size() == 0) continue;
            for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
                int port = (*it)->get_usage();
                m_masks.emplace(key(node->get_id(), port), node->get_output_lutmask(port));
            }
        }
    s_current = this;
}

CDB_ATOM_LUTMASK_CACHE::~CDB_ATOM_LUTMASK_CACHE()
{
    // Caches nest like scopes; one deleted out of order leaves the newest live one current.
    if (s_current == this) s_current = m_previous;
}

CDB_ATOM_LUTMASK_CACHE* CDB_ATOM_LUTMASK_CACHE::init_lutmask_cache(const CDB_ATOM_NETLIST* netlist, MEM_SEGMENT*)
{
    return new CDB_ATOM_LUTMASK_CACHE(netlist);
}

CDB_LUTMASK CDB_ATOM_LUTMASK_CACHE::get_lutmask(const CDB_ATOM_NODE* node, int output_port_type) const
{
    if (node == nullptr) return CDB_LUTMASK();
    auto it = m_masks.find(key(node->get_id(), output_port_type));
    return it != m_masks.end() ? it->second : node->get_output_lutmask(output_port_type);
}

bool CDB_ATOM_LUTMASK_CACHE::is_cached(const CDB_ATOM_NODE* node, int output_port_type) const
{
    return node != nullptr && m_masks.count(key(node->get_id(), output_port_type)) != 0;
}

#undef CDB_CHECK
