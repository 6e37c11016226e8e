#pragma once

// Link to the external interactive tool. Created and owned by the flow
// driver; enabled by "fsyn_enable_plumrix". The named-pipe session itself is
// not established here, so the link is never connected.

#include <map>

class MORV_API;

class MORV_PLUMRIX
{
public:
    explicit MORV_PLUMRIX(MORV_API* fsyn_api);
    ~MORV_PLUMRIX();
    MORV_PLUMRIX(const MORV_PLUMRIX&) = delete;
    MORV_PLUMRIX& operator=(const MORV_PLUMRIX&) = delete;

    void initialize();
    void shutdown();
    bool is_enabled() const { return m_enabled; }
    bool is_connected() const { return m_connected; }
    bool is_attached() const { return m_attached; }
    void breakpoint(const char* tag);
    void note_node_modified(int atom_id);
    int get_modification_count(int atom_id) const;
    // Retiming's count of visits to a critical node, beside the
    // modification counts.
    void note_node_visited(int atom_id) { ++m_visited_nodes[atom_id]; }
    int get_visit_count(int atom_id) const
    {
        auto found = m_visited_nodes.find(atom_id);
        return found == m_visited_nodes.end() ? 0 : found->second;
    }

    // Users attached to the shared interface, process-wide.
    static int get_interface_users() { return s_interface_users; }

private:
    MORV_API* m_fsyn_api;
    bool m_enabled;
    bool m_connected = false;
    bool m_attached = false;
    std::map<int, int> m_modified_nodes;
    std::map<int, int> m_visited_nodes;

    static int s_interface_users;
};
