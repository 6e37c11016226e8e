#pragma once
// Hierarchical instance names and the manager that owns them.
//
// A name is a path of leaves joined by '|', starting below the manager's
// root (the action point's top instance). get_short_hpath() is that path;
// get_hpath_to_root() puts the root's leaf in front of it. Names are owned
// by their HDB_NAME_MGR and live until it is destroyed; ids are dense and
// never reused within one manager.
//
// A name that other names lie below is a level of the design hierarchy
// (HDB_HIERARCHY): the root once anything is named, "a" and "a|b" for the
// name "a|b|c". The manager makes a level when the first name below it is
// made, and keeps it as long as it keeps the names.

#include <cstdint>
#include <string>
#include <string_view>
#include <functional>
#include <vector>

class HDB_HIERARCHY;
class HDB_NAME_MGR;

// Flag word bits. The meanings that the rest of the system relies on:
enum HDB_INAME_FLAG : uint32_t
{
    HDB_INAME_FLAG_UNUSED = 0x1,              // name exists but stands for nothing: reusable
    HDB_INAME_FLAG_FROM_NETLIST = 0x2,        // read from an input netlist: never reused
    HDB_INAME_FLAG_SYNTHESIZED = 0x2000,      // made during physical synthesis
    HDB_INAME_FLAG_DELETED_ATOM = 0x2000000,  // belonged to an atom that was deleted
    HDB_INAME_FLAG_PROTECTED = 0x10000000,    // held by the host: never reused
};

constexpr char HDB_HPATH_SEPARATOR = '|';

class HDB_INSTANCE_NAME
{
public:
    HDB_INSTANCE_NAME(const HDB_INSTANCE_NAME&) = delete;
    HDB_INSTANCE_NAME& operator=(const HDB_INSTANCE_NAME&) = delete;

    uint32_t get_id() const { return m_id; }
    HDB_NAME_MGR* get_name_mgr() const { return m_mgr; }
    HDB_INSTANCE_NAME* get_parent() const { return m_parent; }
    bool is_root() const { return m_parent == nullptr; }

    // Last component (for the root: the root's own name).
    std::string_view get_leaf() const;
    // Path below the root ("a|b|c"); the root's short path is its own name.
    const std::string& get_short_hpath() const { return m_short_path; }
    // "root|a|b|c"; the root alone is "root".
    std::string get_hpath_to_root() const;

    uint32_t get_flags() const { return m_flags; }
    void set_flags(uint32_t flags) { m_flags = flags; }
    void set_flag(uint32_t flag) { m_flags |= flag; }
    void clear_flag(uint32_t flag) { m_flags &= ~flag; }
    bool has_flag(uint32_t flag) const { return (m_flags & flag) != 0; }

    // The level of the hierarchy this name stands for; null while no name
    // lies below it.
    HDB_HIERARCHY* get_hierarchy() const { return m_hierarchy; }

    // A new name next to base (same parent) whose leaf is base's leaf plus
    // suffix; when that is taken and make_unique is set, "_<n>" is appended
    // with the manager's counter until it is free. Flag word 0x2000.
    // Answers null when base is null or the name is taken and !make_unique.
    static HDB_INSTANCE_NAME* create_synthesized_name(HDB_INSTANCE_NAME* base, const char* suffix, bool make_unique);

private:
    friend class HDB_NAME_MGR;
    HDB_INSTANCE_NAME(HDB_NAME_MGR* mgr, HDB_INSTANCE_NAME* parent, std::string short_path, uint32_t flags,
                      uint32_t id);

    HDB_NAME_MGR* m_mgr;
    HDB_INSTANCE_NAME* m_parent;
    std::string m_short_path;
    uint32_t m_flags;
    uint32_t m_id;
    HDB_HIERARCHY* m_hierarchy = nullptr;
};

// One level of the design hierarchy. Its id is the id of its name.
class HDB_HIERARCHY
{
public:
    HDB_HIERARCHY(const HDB_HIERARCHY&) = delete;
    HDB_HIERARCHY& operator=(const HDB_HIERARCHY&) = delete;

    HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
    uint32_t get_id() const { return m_name->get_id(); }
    // The level above; null for the root's.
    HDB_HIERARCHY* get_parent() const { return m_parent; }
    // The levels right below, in the order they were made.
    const std::vector<HDB_HIERARCHY*>& get_children() const { return m_children; }
    // Every level below this one (not this one), depth first, each level's
    // children in the order they were made.
    std::vector<HDB_HIERARCHY*> get_hierarchy_subtree_list() const;

private:
    friend class HDB_NAME_MGR;
    HDB_HIERARCHY(HDB_INSTANCE_NAME* name, HDB_HIERARCHY* parent) : m_name(name), m_parent(parent) {}

    HDB_INSTANCE_NAME* m_name;
    HDB_HIERARCHY* m_parent;
    std::vector<HDB_HIERARCHY*> m_children;
};

class HDB_NAME_MGR
{
public:
    explicit HDB_NAME_MGR(const std::string& root_name = "top");
    ~HDB_NAME_MGR();
    HDB_NAME_MGR(const HDB_NAME_MGR&) = delete;
    HDB_NAME_MGR& operator=(const HDB_NAME_MGR&) = delete;

    HDB_INSTANCE_NAME* get_root() const { return m_names[0]; }

    // Lookup by short path ("a|b") or by path to the root ("top|a|b").
    HDB_INSTANCE_NAME* find_name(std::string_view path) const;
    // New name leaf under parent (null parent = root). Null when a name with
    // that short path exists already.
    HDB_INSTANCE_NAME* create_name(HDB_INSTANCE_NAME* parent, std::string_view leaf, uint32_t flags);
    // Finds the short path or creates it, creating missing ancestors with
    // flag word 0; only a newly created last component gets flags.
    HDB_INSTANCE_NAME* find_or_create_path(std::string_view short_path, uint32_t flags);
    // A fresh name under the root: base, then "_<n>" when base is taken.
    HDB_INSTANCE_NAME* create_unique_name(std::string_view base, uint32_t flags);

    uint32_t get_iname_id(const HDB_INSTANCE_NAME* name) const { return name ? name->get_id() : UINT32_MAX; }
    HDB_INSTANCE_NAME* get_iname(uint32_t id) const { return id < m_names.size() ? m_names[id] : nullptr; }
    // Names in creation order; id 0 is the root.
    const std::vector<HDB_INSTANCE_NAME*>& get_names() const { return m_names; }
    size_t get_name_count() const { return m_names.size(); }

    uint32_t next_unique_counter() { return m_unique_counter++; }

    // The levels of the hierarchy in the order they were made (the root's
    // first once anything is named).
    const std::vector<HDB_HIERARCHY*>& get_hierarchies() const { return m_hierarchies; }

private:
    // The name with that short path (the root is not indexed); null when none.
    HDB_INSTANCE_NAME* find_path(std::string_view path) const;
    HDB_INSTANCE_NAME* make_name(HDB_INSTANCE_NAME* parent, std::string path, uint32_t flags);
    void index(const HDB_INSTANCE_NAME* name);
    // Makes parent a level when it is not one yet.
    void make_level(HDB_INSTANCE_NAME* parent);
    size_t slot_of(std::string_view path) const { return std::hash<std::string_view>()(path) & (m_by_path.size() - 1); }

    std::vector<HDB_INSTANCE_NAME*> m_names;
    // Name ids by short path, open addressing (UINT32_MAX for a free slot;
    // a power of two long): names are never removed, and a design holds as
    // many names as atoms, so a node per name is too dear.
    std::vector<uint32_t> m_by_path;
    // Names live as long as the manager: they are carved from blocks.
    std::vector<void*> m_blocks;
    char* m_next_name = nullptr;
    size_t m_names_left = 0;
    uint32_t m_unique_counter = 0;
    std::vector<HDB_HIERARCHY*> m_hierarchies;  // owned
};

// Strips the action point's own path ("top" or "top|") from the front of a
// full path; a path that does not start with it is returned unchanged.
std::string HDB_HPATH_remove_ap_hpath(const std::string& full_path, const std::string& ap_hpath);
