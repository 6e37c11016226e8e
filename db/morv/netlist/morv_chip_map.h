#pragma once

// The component's record of where every atom sits on the device's LAB grid.

#include <map>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"

class MORV_API;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NODE;

#define MORV_OPEN (-1)

struct MORV_LOC
{
    int x = MORV_OPEN;
    int y = MORV_OPEN;
    // MORV_OPEN: somewhere in the LAB, no exact position (stored as such).
    int sub_loc = MORV_OPEN;
    int saved_info_index = MORV_OPEN;

    bool operator==(const MORV_LOC& other) const
    {
        return x == other.x && y == other.y && sub_loc == other.sub_loc && saved_info_index == other.saved_info_index;
    }
};

struct MORV_CHIP_MAP_IMAGE;

class MORV_CHIP_MAP
{
public:
    typedef std::map<int, MORV_LOC> LAB_MAP;  // atom id -> location, one per occupied LAB

    MORV_CHIP_MAP(MORV_API* api, int nx, int ny);
    MORV_CHIP_MAP(const MORV_CHIP_MAP& other);
    // The map an image was taken of, as its copy would be.
    explicit MORV_CHIP_MAP(const MORV_CHIP_MAP_IMAGE& image);
    MORV_CHIP_MAP& operator=(const MORV_CHIP_MAP&) = delete;
    MORV_CHIP_MAP_IMAGE get_image() const;
    ~MORV_CHIP_MAP();

    void set_node_location(int node_id, MORV_LOC location);
    // A node made next to one at `near` goes into the same LAB, or the next
    // one inward when `near` is on the outermost column or row.
    void place_new_node_near(int node_id, const MORV_LOC& near);
    bool get_node_location(int node_id, MORV_LOC* location) const;
    bool get_node_xy(int node_id, int* x, int* y) const;
    bool get_atoms_preferred_location(int node_id, int* x, int* y, int* sub_loc, int* saved_info_index) const;
    bool remove_node(int node_id);
    void clear();
    // Combinational cells of the LAB (every atom in families whose logic
    // cells are all LUTs); 0 for a LAB never used.
    int get_num_luts_in_lab(MORV_LOC location) const;
    bool get_nodes_in_lab(MORV_LOC location, std::vector<int>* nodes_in_lab) const;
    // The lowest atom id of the LAB at the location's exact sub-location; -1
    // when there is none or no sub-location is given.
    int get_node_at_location(MORV_LOC location) const;
    // The logic cell sharing an ALE with the given one, or -1. After
    // placement by sub-location; before it, the neighbour along the carry
    // chain (cells pair up two by two from the chain's head).
    int find_ale_partner_node(int node_id) const;
    // LABs holding at least one logic cell or register.
    int get_number_of_used_labs() const;

    int get_nx() const { return m_nx; }
    int get_ny() const { return m_ny; }
    int get_lab_capacity() const { return m_lab_capacity; }
    int get_number_of_placed_nodes() const;
    // Every placed atom with its location: LABs in ascending location id,
    // atoms in ascending id.
    template <typename VISIT>
    void for_each_placed_node(VISIT visit) const
    {
        if (m_location_id_to_lab_map == nullptr) return;
        for (const auto& lab : *m_location_id_to_lab_map)
            for (const auto& atom : lab.second->m_atoms) visit(atom.first, atom.second);
    }

private:
    struct LAB
    {
        LAB_MAP m_atoms;
    };
    typedef std::map<int, MORV_OWNER<LAB>> LAB_INDEX;
    typedef std::map<int, LAB*> ATOM_INDEX;

    void create_maps();
    void verify_location(const MORV_LOC& location) const;
    int location_id(int x, int y) const { return x * m_ny + y; }
    const LAB* find_lab(const MORV_LOC& location) const;
    // Enters the atom with its location as given.
    void place(int node_id, MORV_LOC location);
    int find_ale_partner_after_placement(int node_id) const;
    int find_ale_partner_in_carry_chain(int node_id) const;
    CDB_ATOM_NODE* previous_in_carry_chain(CDB_ATOM_NODE* node) const;
    CDB_ATOM_NODE* next_in_carry_chain(CDB_ATOM_NODE* node) const;
    bool is_pre_placement() const;

    MORV_API* m_api;
    MORV_CDB_INTERFACE* m_cdb_interface;
    int m_nx;
    int m_ny;
    int m_lab_capacity;
    MORV_OWNER<ATOM_INDEX> m_atom_id_to_lab_map;
    MORV_OWNER<LAB_INDEX> m_location_id_to_lab_map;  // owns the LABs
};

// A chip map as a saved state keeps it: every placed atom with its location
// in the order a copy enters them, in a fraction of the map's room.
struct MORV_CHIP_MAP_IMAGE
{
    MORV_API* m_api = nullptr;
    MORV_CDB_INTERFACE* m_cdb_interface = nullptr;
    int m_nx = 0;
    int m_ny = 0;
    int m_lab_capacity = -1;
    bool m_has_maps = false;
    std::vector<std::pair<int, MORV_LOC>, MORV_ALLOCATOR<std::pair<int, MORV_LOC>>> m_placed;
};
