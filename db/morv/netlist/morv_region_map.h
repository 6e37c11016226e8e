#pragma once

// Locked and floating placement regions of one flow: which regions the
// user's constraints make, how many LUTs and registers each holds against
// its capacity, and which regions contain a node. The flow dispatch fills
// the map from the host before each flow and empties it after.
//
// A locked region is a fixed rectangle of the LAB grid; a floating region
// is one the host names by number (a kardel region without a rectangle).
// After placement a node's regions are found by its grid position in a
// rectangle segment tree, before it by the node's own rectangle.

#include <map>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/netlist/morv_region_segment.h"

class MORV_ENV;
class MORV_API;
class CDB_ATOM_NODE;
class CDB_ATOM_NETLIST;

enum MORV_REGION_KIND : int
{
    MORV_REGION_KIND_LOCKED = 0,
    MORV_REGION_KIND_FLOATING = 1
};

class MORV_REGION
{
public:
    MORV_REGION(MORV_ENV* env, MORV_API* fsyn_api);
    virtual ~MORV_REGION();
    MORV_REGION(const MORV_REGION&) = delete;
    MORV_REGION& operator=(const MORV_REGION&) = delete;

    virtual int get_kind() const = 0;
    virtual bool is_same_region(const MORV_REGION* other) const = 0;
    virtual int get_capacity() const = 0;
    virtual bool contains(CDB_ATOM_NODE* node) const = 0;
    virtual void print() = 0;

    // Adds (sign 1) or takes away (sign -1) the node by the counting rule:
    // a LUT when the family counts it as one, a register otherwise.
    void count_node(CDB_ATOM_NODE* node, int sign);
    void reset_counts() { m_lut_count = m_ff_count = 0; }

    int get_lut_capacity() const { return m_lut_capacity; }
    int get_ff_capacity() const { return m_ff_capacity; }
    int get_lut_count() const { return m_lut_count; }
    int get_ff_count() const { return m_ff_count; }
    int get_elements_per_lab() const { return m_elements_per_lab; }

protected:
    // The capacities, the counts and their fractions (for print).
    void print_contents();

    MORV_ENV* m_env;
    MORV_API* m_fsyn_api;
    int m_ff_capacity = -1;
    int m_lut_capacity = -1;
    int m_ff_count = 0;
    int m_lut_count = 0;
    int m_elements_per_lab;
};

class MORV_REGION_LOCKED : public MORV_REGION
{
public:
    using MORV_REGION::MORV_REGION;

    void set_corners(int xmin, int xmax, int ymin, int ymax);
    void compute_capacity();
    int get_kind() const override { return MORV_REGION_KIND_LOCKED; }
    bool is_same_region(const MORV_REGION* other) const override;
    // Elements of the LAB blocks inside the rectangle.
    int get_capacity() const override;
    bool contains(CDB_ATOM_NODE* node) const override;
    void print() override;

    MORV_REGION_COORDINATES get_corners() const { return {m_xmin, m_ymin, m_xmax, m_ymax}; }

private:
    int m_xmin = -1;
    int m_xmax = -1;
    int m_ymin = -1;
    int m_ymax = -1;
};

class MORV_REGION_FLOATING : public MORV_REGION
{
public:
    MORV_REGION_FLOATING(MORV_ENV* env, MORV_API* fsyn_api, int region_id);

    void set_capacities(int capacity) { m_lut_capacity = m_ff_capacity = capacity; }
    int get_kind() const override { return MORV_REGION_KIND_FLOATING; }
    bool is_same_region(const MORV_REGION* other) const override;
    // Elements of the LABs the host gives the region.
    int get_capacity() const override;
    bool contains(CDB_ATOM_NODE* node) const override;
    void print() override;

    int get_region_id() const { return m_region_id; }

private:
    int m_region_id;
};

class MORV_REGION_MAP
{
public:
    MORV_REGION_MAP(MORV_ENV* env, MORV_API* fsyn_api);
    ~MORV_REGION_MAP();
    MORV_REGION_MAP(const MORV_REGION_MAP&) = delete;
    MORV_REGION_MAP& operator=(const MORV_REGION_MAP&) = delete;

    MORV_ENV* get_env() const { return m_env; }
    MORV_API* get_fsyn_api() const { return m_fsyn_api; }
    int get_number_of_regions() const { return static_cast<int>(m_regions.size()); }
    MORV_REGION* get_region(int position) const { return m_regions[static_cast<size_t>(position)].get(); }
    const MORV_REGION_SEGMENT* get_root_segment() const { return m_root_segment.get(); }

    // One region per distinct rectangle and per distinct floating id named
    // by the netlist's nodes, in the order the nodes first name them.
    void initialize(CDB_ATOM_NETLIST* netlist);
    void clear();
    // Appends the region; its id is its 1-based position.
    void add_region(MORV_OWNER<MORV_REGION> region, int xmin, int ymin, int xmax, int ymax);
    bool has_same_region(const MORV_REGION* candidate) const;
    // Appends the 0-based positions of the regions containing the node.
    void get_node_regions(CDB_ATOM_NODE* node, std::vector<int>* out) const;
    void recount_region_contents(CDB_ATOM_NETLIST* netlist);
    // A node joins or leaves the counts of every region that contains it.
    void node_added(CDB_ATOM_NODE* node);
    void node_deleted(CDB_ATOM_NODE* node);
    // Which regions should keep a node from being changed (a locked one,
    // one at capacity) is not settled; its users rely on none doing so.
    bool is_node_locked_by_region(CDB_ATOM_NODE* node) const;

private:
    void add_locked_region(const MORV_REGION_COORDINATES& corners);
    void add_floating_region(int region_id);
    bool is_late_flow() const;

    MORV_ENV* m_env;
    MORV_API* m_fsyn_api;
    std::vector<MORV_OWNER<MORV_REGION>> m_regions;
    MORV_OWNER<MORV_REGION_SEGMENT> m_root_segment;
    // Rectangle -> 1-based ids of the regions filed under it.
    std::map<MORV_REGION_COORDINATES, std::vector<int>> m_rectangle_index;
};
