#include "bpm/bpm_boundary_port_manager.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "cdb/cdb_atom_netlist.h"
#include "fio/fio.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"

namespace {
constexpr const char* SAVE_HEADER = "BPM 1";
}

BPM_BOUNDARY_PORT_MANAGER::BPM_BOUNDARY_PORT_MANAGER(HDB_ACTION_PT_INSTANCE* action_point)
    : m_action_point(action_point)
{}

// ------------------------------------------------------------------ partitions

int BPM_BOUNDARY_PORT_MANAGER::get_partition_id(const CDB_ATOM_NODE* atom) const
{
    if (atom == nullptr) return NO_PARTITION;
    auto it = m_entered_atoms.find(atom->get_id());
    if (it != m_entered_atoms.end()) return it->second;
    const int assigned = atom->get_assignments().partition_id;
    return assigned < 0 ? NO_PARTITION : assigned;
}

void BPM_BOUNDARY_PORT_MANAGER::add_atom_to_partition(uint32_t atom_id, int partition_id)
{
    m_entered_atoms[atom_id] = partition_id < 0 ? NO_PARTITION : partition_id;
}

std::string BPM_BOUNDARY_PORT_MANAGER::get_partition_name(int partition_id) const
{
    if (partition_id < 0) return std::string();
    auto it = m_partition_names.find(partition_id);
    return it != m_partition_names.end() ? it->second : "partition_" + std::to_string(partition_id);
}

void BPM_BOUNDARY_PORT_MANAGER::set_partition_name(int partition_id, const std::string& name)
{
    if (partition_id >= 0) m_partition_names[partition_id] = name;
}

void BPM_BOUNDARY_PORT_MANAGER::ignore_partition(int partition_id)
{
    m_ignored_partitions.insert(partition_id);
}

bool BPM_BOUNDARY_PORT_MANAGER::is_partition_ignored(int partition_id) const
{
    return m_ignored_partitions.count(partition_id) != 0;
}

int BPM_BOUNDARY_PORT_MANAGER::get_partition_count() const
{
    int highest = NO_PARTITION;
    auto see = [&highest](int partition_id) { highest = std::max(highest, partition_id); };
    if (!m_partitions.empty()) see(*m_partitions.rbegin());
    if (!m_partition_names.empty()) see(m_partition_names.rbegin()->first);
    if (!m_ignored_partitions.empty()) see(*m_ignored_partitions.rbegin());
    for (const auto& [atom, partition] : m_entered_atoms) see(partition);
    return highest + 1;
}

void BPM_BOUNDARY_PORT_MANAGER::add_partition(int partition_id)
{
    if (partition_id >= 0) m_partitions.insert(partition_id);
}

// ------------------------------------------------------------------ ports

HDB_NAME_MGR* BPM_BOUNDARY_PORT_MANAGER::names() const
{
    return m_action_point ? m_action_point->get_name_mgr() : nullptr;
}

int BPM_BOUNDARY_PORT_MANAGER::create_port(const std::string& short_path)
{
    HDB_NAME_MGR* mgr = names();
    if (mgr == nullptr || short_path.empty()) return NO_PORT;
    HDB_INSTANCE_NAME* name = mgr->find_or_create_path(short_path, HDB_INAME_FLAG_PROTECTED);
    if (name == nullptr) return NO_PORT;
    const int port_id = static_cast<int>(name->get_id());
    m_ports.try_emplace(port_id);
    return port_id;
}

bool BPM_BOUNDARY_PORT_MANAGER::is_port(int port_id) const
{
    HDB_NAME_MGR* mgr = names();
    // The root stands for the whole design, never for one port.
    return mgr != nullptr && port_id > 0 && mgr->get_iname(static_cast<uint32_t>(port_id)) != nullptr;
}

std::string BPM_BOUNDARY_PORT_MANAGER::get_port_name(int port_id) const
{
    if (!is_port(port_id)) return std::string();
    return names()->get_iname(static_cast<uint32_t>(port_id))->get_short_hpath();
}

int BPM_BOUNDARY_PORT_MANAGER::get_port_count() const
{
    return m_ports.empty() ? 0 : m_ports.rbegin()->first + 1;
}

int BPM_BOUNDARY_PORT_MANAGER::get_port_kind(int port_id) const
{
    auto it = m_ports.find(port_id);
    return it != m_ports.end() ? it->second.kind : NO_KIND;
}

bool BPM_BOUNDARY_PORT_MANAGER::set_port_kind(int port_id, int kind)
{
    auto it = m_ports.find(port_id);
    if (it == m_ports.end()) return false;
    it->second.kind = kind;
    return true;
}

// Walks up from of_id; a forest keeps the walk finite.
bool BPM_BOUNDARY_PORT_MANAGER::is_ancestor(int port_id, int of_id) const
{
    for (int at = of_id; at != NO_PORT; at = m_ports.at(at).parent)
        if (at == port_id) return true;
    return false;
}

bool BPM_BOUNDARY_PORT_MANAGER::add_child_port(int parent_id, int child_id)
{
    if (!is_made_port(parent_id) || !is_made_port(child_id)) return false;
    PORT& child = m_ports.at(child_id);
    if (child.parent != NO_PORT || is_ancestor(child_id, parent_id)) return false;
    child.parent = parent_id;
    m_ports.at(parent_id).children.push_back(child_id);
    return true;
}

const std::vector<int>& BPM_BOUNDARY_PORT_MANAGER::get_child_ports(int port_id) const
{
    static const std::vector<int> none;
    auto it = m_ports.find(port_id);
    return it != m_ports.end() ? it->second.children : none;
}

// ------------------------------------------------------------------ bindings

bool BPM_BOUNDARY_PORT_MANAGER::key_of(const CDB_ATOM_ITERM* iterm, KEY* key)
{
    if (iterm == nullptr || iterm->get_my_node() == nullptr) return false;
    *key = KEY(iterm->get_my_node()->get_id(), 0, iterm->get_any_usage_as(), iterm->get_port_index());
    return true;
}

bool BPM_BOUNDARY_PORT_MANAGER::key_of(const CDB_ATOM_OTERM* oterm, KEY* key)
{
    if (oterm == nullptr || oterm->get_my_node() == nullptr) return false;
    *key = KEY(oterm->get_my_node()->get_id(), 1, oterm->get_any_usage_as(), oterm->get_port_index());
    return true;
}

// An ignored partition hides the bindings of every term of its atoms.
template <typename TERM>
int BPM_BOUNDARY_PORT_MANAGER::read(const std::map<KEY, int>& table, const TERM* term) const
{
    KEY key;
    if (!key_of(term, &key) || is_partition_ignored(get_partition_id(term->get_my_node()))) return NO_PORT;
    auto it = table.find(key);
    return it == table.end() ? NO_PORT : it->second;
}

bool BPM_BOUNDARY_PORT_MANAGER::write(std::map<KEY, int>& table, const KEY& key, int port_id)
{
    if (!port_ok(port_id)) return false;
    if (port_id == NO_PORT) table.erase(key);
    else table[key] = port_id;
    return true;
}

int BPM_BOUNDARY_PORT_MANAGER::get_bound_port_id(const CDB_ATOM_OTERM* oterm) const
{
    return read(m_bound, oterm);
}
int BPM_BOUNDARY_PORT_MANAGER::get_assigned_port_id(const CDB_ATOM_OTERM* oterm) const
{
    return read(m_assigned, oterm);
}
int BPM_BOUNDARY_PORT_MANAGER::get_assigned_port_id(const CDB_ATOM_ITERM* iterm) const
{
    return read(m_assigned, iterm);
}

bool BPM_BOUNDARY_PORT_MANAGER::bind_port_id(const CDB_ATOM_OTERM* oterm, int port_id)
{
    KEY key;
    return key_of(oterm, &key) && write(m_bound, key, port_id);
}

bool BPM_BOUNDARY_PORT_MANAGER::assign_port_id(const CDB_ATOM_OTERM* oterm, int port_id)
{
    KEY key;
    return key_of(oterm, &key) && write(m_assigned, key, port_id);
}

bool BPM_BOUNDARY_PORT_MANAGER::assign_port_id(const CDB_ATOM_ITERM* iterm, int port_id)
{
    KEY key;
    return key_of(iterm, &key) && write(m_assigned, key, port_id);
}

bool BPM_BOUNDARY_PORT_MANAGER::move_bindings(const CDB_ATOM_OTERM* existing, const CDB_ATOM_OTERM* replacement)
{
    KEY from, to;
    if (!key_of(existing, &from) || !key_of(replacement, &to)) return false;
    if (from == to) return true;
    for (std::map<KEY, int>* table : {&m_bound, &m_assigned}) {
        auto it = table->find(from);
        if (it == table->end()) {
            table->erase(to);
            continue;
        }
        const int port = it->second;
        table->erase(it);
        (*table)[to] = port;
    }
    return true;
}

// ------------------------------------------------------------------ checks

bool BPM_BOUNDARY_PORT_MANAGER::check_node(const CDB_ATOM_NODE* node) const
{
    if (node == nullptr) return false;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if (!port_ok(get_assigned_port_id(*it))) return false;
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
        if (!port_ok(get_assigned_port_id(*ot)) || !port_ok(get_bound_port_id(*ot))) return false;
    return true;
}

bool BPM_BOUNDARY_PORT_MANAGER::check() const
{
    for (const auto& [key, port] : m_assigned)
        if (!is_port(port)) return false;
    std::set<int> bound_ports;
    for (const auto& [key, port] : m_bound)
        if (!is_port(port) || !bound_ports.insert(port).second) return false;
    return true;
}

// ------------------------------------------------------------------ saved states

bool BPM_BOUNDARY_PORT_MANAGER::save(const std::string& name) const
{
    std::ofstream out(name, std::ios::trunc);
    if (!out) return false;
    out << SAVE_HEADER << "\n";
    for (const auto& [atom, partition] : m_entered_atoms) out << "entered " << atom << " " << partition << "\n";
    for (int partition : m_ignored_partitions) out << "ignored " << partition << "\n";
    for (const auto& [partition, text] : m_partition_names) out << "name " << partition << " " << text << "\n";
    for (int partition : m_partitions) out << "partition " << partition << "\n";
    for (const auto& [port, info] : m_ports) out << "port " << port << " " << info.kind << "\n";
    for (const auto& [port, info] : m_ports)
        for (int child : info.children) out << "child " << port << " " << child << "\n";
    auto bindings = [&](const char* what, const std::map<KEY, int>& table) {
        for (const auto& [key, port] : table)
            out << what << " " << std::get<0>(key) << " " << std::get<1>(key) << " " << std::get<2>(key) << " "
                << std::get<3>(key) << " " << port << "\n";
    };
    bindings("bound", m_bound);
    bindings("assigned", m_assigned);
    out.flush();
    return static_cast<bool>(out);
}

bool BPM_BOUNDARY_PORT_MANAGER::load(const std::string& name)
{
    std::string text, error;
    if (!fio_read_user_file(name, text, error)) return false;
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != SAVE_HEADER) return false;
    std::map<KEY, int> bound, assigned;
    std::map<uint32_t, int> entered;
    std::map<int, std::string> partition_names;
    std::set<int> ignored, partitions;
    std::map<int, PORT> ports;
    std::vector<std::pair<int, int>> children;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string what;
        words >> what;
        if (what == "entered") {
            uint32_t atom = 0;
            int partition = 0;
            if (!(words >> atom >> partition)) return false;
            entered[atom] = partition;
        } else if (what == "ignored") {
            int partition = 0;
            if (!(words >> partition)) return false;
            ignored.insert(partition);
        } else if (what == "partition") {
            int partition = 0;
            if (!(words >> partition)) return false;
            partitions.insert(partition);
        } else if (what == "port") {
            int port = 0, kind = 0;
            if (!(words >> port >> kind)) return false;
            ports[port].kind = kind;
        } else if (what == "child") {
            int parent = 0, child = 0;
            if (!(words >> parent >> child)) return false;
            children.emplace_back(parent, child);
        } else if (what == "name") {
            int partition = 0;
            if (!(words >> partition) || words.get() != ' ') return false;
            std::getline(words, partition_names[partition]);
        } else if (what == "bound" || what == "assigned") {
            uint32_t atom = 0;
            int direction = 0, usage = 0, index = 0, port = 0;
            if (!(words >> atom >> direction >> usage >> index >> port)) return false;
            (what == "bound" ? bound : assigned)[KEY(atom, direction, usage, index)] = port;
        } else {
            return false;
        }
    }
    // Ports first, then the tree over them, checked as add_child_port does.
    std::map<int, PORT> saved_ports;
    saved_ports.swap(m_ports);
    m_ports = ports;
    for (const auto& [parent, child] : children)
        if (!add_child_port(parent, child)) {
            m_ports.swap(saved_ports);
            return false;
        }
    m_partitions.swap(partitions);
    m_bound.swap(bound);
    m_assigned.swap(assigned);
    m_entered_atoms.swap(entered);
    m_partition_names.swap(partition_names);
    m_ignored_partitions.swap(ignored);
    return true;
}

bool BPM_BOUNDARY_PORT_MANAGER::remove(const std::string& name) const
{
    const FIO_PATH path(name);
    FIO_FILE_SYSTEM::remove_if_exists(path);
    return !FIO_FILE_SYSTEM::exists(path);
}

void BPM_BOUNDARY_PORT_MANAGER::rebind(HDB_ACTION_PT_INSTANCE* action_point)
{
    if (action_point != nullptr) m_action_point = action_point;
}
