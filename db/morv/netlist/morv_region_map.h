#pragma once

// Locked and floating placement regions of the run. The regions themselves
// are collected when the region logic asks for them; the map starts empty.

class MORV_ENV;
class MORV_API;
class CDB_ATOM_NODE;

class MORV_REGION_MAP
{
public:
    MORV_REGION_MAP(MORV_ENV* env, MORV_API* fsyn_api);
    ~MORV_REGION_MAP() {}
    MORV_REGION_MAP(const MORV_REGION_MAP&) = delete;
    MORV_REGION_MAP& operator=(const MORV_REGION_MAP&) = delete;

    MORV_ENV* get_env() const { return m_env; }
    MORV_API* get_fsyn_api() const { return m_fsyn_api; }
    int get_number_of_regions() const { return m_num_regions; }

    // A node joins or leaves the counts of every region that contains it.
    void node_added(CDB_ATOM_NODE* node);
    void node_deleted(CDB_ATOM_NODE* node);
    // No region keeps a node from being changed yet: which regions should
    // (a locked one, one at capacity) is still open.
    bool is_node_locked_by_region(CDB_ATOM_NODE* node) const;

private:
    MORV_ENV* m_env;
    MORV_API* m_fsyn_api;
    int m_num_regions = 0;
};
