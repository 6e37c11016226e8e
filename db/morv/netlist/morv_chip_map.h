#pragma once

// The component's record of where every atom sits on the device's LAB grid.

#include <map>
#include <vector>

class MORV_API;
class MORV_CDB_INTERFACE;

#define MORV_OPEN (-1)

struct MORV_LOC
{
    int x = MORV_OPEN;
    int y = MORV_OPEN;
    int sub_loc = MORV_OPEN;
    int saved_info_index = MORV_OPEN;

    bool operator==(const MORV_LOC& other) const
    {
        return x == other.x && y == other.y && sub_loc == other.sub_loc && saved_info_index == other.saved_info_index;
    }
};

class MORV_CHIP_MAP
{
public:
    typedef std::map<int, MORV_LOC> LAB_MAP;  // atom id -> location, one per occupied LAB
    typedef std::map<int, LAB_MAP*> LAB_INDEX;

    MORV_CHIP_MAP(MORV_API* api, int nx, int ny);
    MORV_CHIP_MAP(const MORV_CHIP_MAP& other);
    MORV_CHIP_MAP& operator=(const MORV_CHIP_MAP&) = delete;
    ~MORV_CHIP_MAP();

    void set_node_location(int node_id, MORV_LOC location);
    bool get_node_location(int node_id, MORV_LOC* location) const;
    bool get_node_xy(int node_id, int* x, int* y) const;
    bool get_atoms_preferred_location(int node_id, int* x, int* y, int* sub_loc, int* saved_info_index) const;
    bool remove_node(int node_id);
    void clear();
    bool get_nodes_in_lab(MORV_LOC location, std::vector<int>* nodes_in_lab) const;

    int get_nx() const { return m_nx; }
    int get_ny() const { return m_ny; }
    int get_lab_capacity() const { return m_lab_capacity; }
    int get_number_of_placed_nodes() const;

private:
    void create_maps();
    void verify_location(const MORV_LOC& location) const;
    int location_id(int x, int y) const { return x * m_ny + y; }

    MORV_API* m_api;
    MORV_CDB_INTERFACE* m_cdb_interface;
    int m_nx;
    int m_ny;
    int m_lab_capacity;
    LAB_INDEX* m_atom_id_to_lab_map;      // not owning
    LAB_INDEX* m_location_id_to_lab_map;  // owns the LAB maps
};
