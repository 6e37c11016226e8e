#include "hdb/hdb_instance_name.h"

#include "msg/msg.h"

HDB_INSTANCE_NAME::HDB_INSTANCE_NAME(HDB_NAME_MGR* mgr, HDB_INSTANCE_NAME* parent, std::string short_path,
                                     uint32_t flags, uint32_t id)
    : m_mgr(mgr), m_parent(parent), m_short_path(std::move(short_path)), m_flags(flags), m_id(id)
{}

std::string_view HDB_INSTANCE_NAME::get_leaf() const
{
    std::string_view p(m_short_path);
    if (m_parent == nullptr || m_parent->is_root()) return p;
    return p.substr(m_parent->m_short_path.size() + 1);
}

std::string HDB_INSTANCE_NAME::get_hpath_to_root() const
{
    if (is_root()) return m_short_path;
    const std::string& root = m_mgr->get_root()->get_short_hpath();
    std::string out;
    out.reserve(root.size() + 1 + m_short_path.size());
    out += root;
    out += HDB_HPATH_SEPARATOR;
    out += m_short_path;
    return out;
}

namespace {

// leaf under parent, or the first free "leaf_<n>" with the manager's counter.
HDB_INSTANCE_NAME* create_numbered_name(HDB_NAME_MGR& mgr, HDB_INSTANCE_NAME* parent, std::string_view leaf,
                                        uint32_t flags)
{
    if (HDB_INSTANCE_NAME* n = mgr.create_name(parent, leaf, flags)) return n;
    for (;;) {
        std::string candidate(leaf);
        candidate += '_';
        candidate += std::to_string(mgr.next_unique_counter());
        if (HDB_INSTANCE_NAME* n = mgr.create_name(parent, candidate, flags)) return n;
    }
}

}  // namespace

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_synthesized_name(HDB_INSTANCE_NAME* base, const char* suffix,
                                                              bool make_unique)
{
    if (base == nullptr) return nullptr;
    HDB_NAME_MGR* mgr = base->m_mgr;
    HDB_INSTANCE_NAME* parent = base->is_root() ? nullptr : base->m_parent;
    std::string leaf(base->get_leaf());
    leaf += suffix ? suffix : "";
    if (!make_unique) return mgr->create_name(parent, leaf, HDB_INAME_FLAG_SYNTHESIZED);
    return create_numbered_name(*mgr, parent, leaf, HDB_INAME_FLAG_SYNTHESIZED);
}

HDB_NAME_MGR::HDB_NAME_MGR(const std::string& root_name)
{
    auto* root = new HDB_INSTANCE_NAME(this, nullptr, root_name, 0, 0);
    m_names.push_back(root);
}

HDB_NAME_MGR::~HDB_NAME_MGR()
{
    for (HDB_INSTANCE_NAME* n : m_names) delete n;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::find_name(std::string_view path) const
{
    auto it = m_by_path.find(path);
    if (it != m_by_path.end()) return it->second;
    const std::string& root = get_root()->get_short_hpath();
    if (path == root) return get_root();
    if (path.size() > root.size() + 1 && path.substr(0, root.size()) == root &&
        path[root.size()] == HDB_HPATH_SEPARATOR) {
        it = m_by_path.find(path.substr(root.size() + 1));
        if (it != m_by_path.end()) return it->second;
    }
    return nullptr;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::create_name(HDB_INSTANCE_NAME* parent, std::string_view leaf, uint32_t flags)
{
    if (parent != nullptr && parent->get_name_mgr() != this)
        MSG_INTERNAL_ERROR::report("parent->get_name_mgr() == this", "HDB", __FILE__, __LINE__);
    if (leaf.empty()) return nullptr;
    std::string path;
    if (parent != nullptr && !parent->is_root()) {
        path = parent->get_short_hpath();
        path += HDB_HPATH_SEPARATOR;
    }
    path += leaf;
    if (m_by_path.count(path)) return nullptr;
    auto* n = new HDB_INSTANCE_NAME(this, parent ? parent : get_root(), std::move(path), flags,
                                    static_cast<uint32_t>(m_names.size()));
    m_names.push_back(n);
    m_by_path.emplace(std::string_view(n->get_short_hpath()), n);
    return n;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::find_or_create_path(std::string_view short_path, uint32_t flags)
{
    if (short_path.empty()) return nullptr;
    auto it = m_by_path.find(short_path);
    if (it != m_by_path.end()) return it->second;
    // Create missing ancestors first, from the top.
    HDB_INSTANCE_NAME* parent = get_root();
    size_t start = 0;
    for (;;) {
        size_t bar = short_path.find(HDB_HPATH_SEPARATOR, start);
        if (bar == std::string_view::npos || bar == 0 || bar + 1 >= short_path.size()) break;
        std::string_view prefix = short_path.substr(0, bar);
        auto pit = m_by_path.find(prefix);
        HDB_INSTANCE_NAME* next =
            pit != m_by_path.end() ? pit->second : create_name(parent, short_path.substr(start, bar - start), 0);
        if (next == nullptr) break;  // empty component: keep the rest flat
        parent = next;
        start = bar + 1;
    }
    HDB_INSTANCE_NAME* n = create_name(parent, short_path.substr(start), flags);
    if (n == nullptr) n = create_name(get_root(), short_path, flags);  // unusual separators: flat
    return n;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::create_unique_name(std::string_view base, uint32_t flags)
{
    return create_numbered_name(*this, nullptr, base, flags);
}

std::string HDB_HPATH_remove_ap_hpath(const std::string& full_path, const std::string& ap_hpath)
{
    if (ap_hpath.empty()) return full_path;
    if (full_path.compare(0, ap_hpath.size(), ap_hpath) != 0) return full_path;
    if (full_path.size() == ap_hpath.size()) return std::string();
    if (full_path[ap_hpath.size()] == HDB_HPATH_SEPARATOR) return full_path.substr(ap_hpath.size() + 1);
    if (ap_hpath.back() == HDB_HPATH_SEPARATOR) return full_path.substr(ap_hpath.size());
    return full_path;
}
