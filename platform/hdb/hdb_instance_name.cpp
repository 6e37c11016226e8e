#include "hdb/hdb_instance_name.h"

#include <algorithm>
#include <new>

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

std::vector<HDB_HIERARCHY*> HDB_HIERARCHY::get_hierarchy_subtree_list() const
{
    std::vector<HDB_HIERARCHY*> below;
    std::vector<HDB_HIERARCHY*> pending(m_children.rbegin(), m_children.rend());
    while (!pending.empty()) {
        HDB_HIERARCHY* level = pending.back();
        pending.pop_back();
        below.push_back(level);
        pending.insert(pending.end(), level->m_children.rbegin(), level->m_children.rend());
    }
    return below;
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

#if defined(__SANITIZE_ADDRESS__)
#define HDB_NAME_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HDB_NAME_POOL 0
#endif
#endif
#ifndef HDB_NAME_POOL
#define HDB_NAME_POOL 1
#endif

namespace {
constexpr uint32_t NO_NAME = UINT32_MAX;
constexpr size_t NAMES_PER_BLOCK = 1024;
}  // namespace

HDB_NAME_MGR::HDB_NAME_MGR(const std::string& root_name)
{
    make_name(nullptr, root_name, 0);
}

HDB_NAME_MGR::~HDB_NAME_MGR()
{
    for (HDB_HIERARCHY* h : m_hierarchies) delete h;
    for (HDB_INSTANCE_NAME* n : m_names) {
#if HDB_NAME_POOL
        n->~HDB_INSTANCE_NAME();
#else
        delete n;
#endif
    }
    for (void* b : m_blocks) ::operator delete(b);
}

// Outside sanitizer builds names come from blocks (no allocator header per
// name); sanitizer builds allocate each on its own.
HDB_INSTANCE_NAME* HDB_NAME_MGR::make_name(HDB_INSTANCE_NAME* parent, std::string path, uint32_t flags)
{
    const auto id = static_cast<uint32_t>(m_names.size());
#if HDB_NAME_POOL
    if (m_names_left == 0) {
        m_next_name = static_cast<char*>(::operator new(sizeof(HDB_INSTANCE_NAME) * NAMES_PER_BLOCK));
        m_blocks.push_back(m_next_name);
        m_names_left = NAMES_PER_BLOCK;
    }
    auto* n = ::new (m_next_name) HDB_INSTANCE_NAME(this, parent, std::move(path), flags, id);
    m_next_name += sizeof(HDB_INSTANCE_NAME);
    --m_names_left;
#else
    auto* n = new HDB_INSTANCE_NAME(this, parent, std::move(path), flags, id);
#endif
    m_names.push_back(n);
    if (parent != nullptr) make_level(parent);
    return n;
}

// A level's parent name has a name below it, this level's: it is a level
// already, made when this level's name was.
void HDB_NAME_MGR::make_level(HDB_INSTANCE_NAME* parent)
{
    if (parent->m_hierarchy != nullptr) return;
    HDB_HIERARCHY* above = parent->m_parent ? parent->m_parent->m_hierarchy : nullptr;
    auto* level = new HDB_HIERARCHY(parent, above);
    m_hierarchies.push_back(level);
    parent->m_hierarchy = level;
    if (above != nullptr) above->m_children.push_back(level);
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::find_path(std::string_view path) const
{
    if (m_by_path.empty()) return nullptr;
    for (size_t i = slot_of(path);; i = (i + 1) & (m_by_path.size() - 1)) {
        if (m_by_path[i] == NO_NAME) return nullptr;
        HDB_INSTANCE_NAME* n = m_names[m_by_path[i]];
        if (n->get_short_hpath() == path) return n;
    }
}

void HDB_NAME_MGR::index(const HDB_INSTANCE_NAME* name)
{
    // At most half full, so that searches stay short and always end.
    const size_t indexed = m_names.size() - 1;  // the root is not
    if (indexed * 2 > m_by_path.size()) {
        m_by_path.assign(std::max<size_t>(64, m_by_path.size() * 2), NO_NAME);
        for (size_t id = 1; id + 1 < m_names.size(); ++id) {
            size_t i = slot_of(m_names[id]->get_short_hpath());
            while (m_by_path[i] != NO_NAME) i = (i + 1) & (m_by_path.size() - 1);
            m_by_path[i] = static_cast<uint32_t>(id);
        }
    }
    size_t i = slot_of(name->get_short_hpath());
    while (m_by_path[i] != NO_NAME) i = (i + 1) & (m_by_path.size() - 1);
    m_by_path[i] = name->get_id();
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::find_name(std::string_view path) const
{
    if (HDB_INSTANCE_NAME* n = find_path(path)) return n;
    const std::string& root = get_root()->get_short_hpath();
    if (path == root) return get_root();
    if (path.size() > root.size() + 1 && path.substr(0, root.size()) == root &&
        path[root.size()] == HDB_HPATH_SEPARATOR) {
        return find_path(path.substr(root.size() + 1));
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
    if (find_path(path)) return nullptr;
    HDB_INSTANCE_NAME* n = make_name(parent ? parent : get_root(), std::move(path), flags);
    index(n);
    return n;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::find_or_create_path(std::string_view short_path, uint32_t flags)
{
    if (short_path.empty()) return nullptr;
    if (HDB_INSTANCE_NAME* n = find_path(short_path)) return n;
    // Create missing ancestors first, from the top.
    HDB_INSTANCE_NAME* parent = get_root();
    size_t start = 0;
    for (;;) {
        size_t bar = short_path.find(HDB_HPATH_SEPARATOR, start);
        if (bar == std::string_view::npos || bar == 0 || bar + 1 >= short_path.size()) break;
        std::string_view prefix = short_path.substr(0, bar);
        HDB_INSTANCE_NAME* next = find_path(prefix);
        if (next == nullptr) next = create_name(parent, short_path.substr(start, bar - start), 0);
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

#undef HDB_NAME_POOL
