#pragma once

// A rectangle segment tree over the LAB grid: each segment knows the
// regions whose rectangle covers it whole, and a segment that a rectangle
// only partly covers splits into the part covered and up to four pieces of
// the rest, so that the regions of a grid position are found on one path
// from the root.

#include <vector>

#include "mem_alloc_sys.h"

// An inclusive rectangle; ordered lexicographically by xmin, ymin, xmax, ymax.
struct MORV_REGION_COORDINATES
{
    int xmin = 0;
    int ymin = 0;
    int xmax = 0;
    int ymax = 0;

    bool operator<(const MORV_REGION_COORDINATES& other) const
    {
        if (xmin != other.xmin) return xmin < other.xmin;
        if (ymin != other.ymin) return ymin < other.ymin;
        if (xmax != other.xmax) return xmax < other.xmax;
        return ymax < other.ymax;
    }
    bool operator==(const MORV_REGION_COORDINATES& other) const
    {
        return xmin == other.xmin && ymin == other.ymin && xmax == other.xmax && ymax == other.ymax;
    }
};

class MORV_REGION_SEGMENT
{
public:
    static constexpr int SPLIT = -1;

    // A leaf covering the rectangle; state is the id it was made for (or 0).
    MORV_REGION_SEGMENT(const MORV_REGION_COORDINATES& bounds, int state);
    MORV_REGION_SEGMENT(const MORV_REGION_SEGMENT&) = delete;
    MORV_REGION_SEGMENT& operator=(const MORV_REGION_SEGMENT&) = delete;
    ~MORV_REGION_SEGMENT();

    // Files region id (1-based) under every segment the rectangle covers,
    // splitting the leaves it covers in part.
    void insert(const MORV_REGION_COORDINATES& rectangle, int id);
    // Appends the ids of the regions covering (x, y), from the root down.
    void lookup(int x, int y, std::vector<int>* ids) const;

    // Which sides of this segment the rectangle reaches: 8 left, 4 bottom,
    // 2 right, 1 top; 15 when it covers the segment whole.
    int case_code(const MORV_REGION_COORDINATES& rectangle) const;
    bool overlaps(const MORV_REGION_COORDINATES& rectangle) const;
    bool contains(int x, int y) const
    {
        return x >= m_bounds.xmin && x <= m_bounds.xmax && y >= m_bounds.ymin && y <= m_bounds.ymax;
    }

    const MORV_REGION_COORDINATES& get_bounds() const { return m_bounds; }
    const std::vector<int>& get_region_ids() const { return m_region_ids; }
    int get_state() const { return m_state; }
    int get_number_of_children() const { return static_cast<int>(m_children.size()); }
    const MORV_REGION_SEGMENT* get_child(int i) const { return m_children[static_cast<size_t>(i)].get(); }

private:
    void split(const MORV_REGION_COORDINATES& rectangle, int id);
    void add_child(const MORV_REGION_COORDINATES& bounds, int id);

    MORV_REGION_COORDINATES m_bounds;
    std::vector<MORV_OWNER<MORV_REGION_SEGMENT>> m_children;
    std::vector<int> m_region_ids;
    int m_state;
};
