#include "morv/netlist/morv_region_segment.h"

#include "morv/core/morv_assert.h"

namespace {

// Where a child's side lies: on the segment's side (S_MIN, S_MAX), on the
// rectangle's side (R_MIN, R_MAX), or just outside the rectangle (R_BEFORE,
// one before its low side; R_AFTER, one after its high side).
enum SIDE : unsigned char
{
    S_MIN,
    S_MAX,
    R_MIN,
    R_MAX,
    R_BEFORE,
    R_AFTER
};

struct CHILD
{
    SIDE x_from, x_to, y_from, y_to;
    bool carries_id;  // the part the rectangle covers
};

struct SPLIT_CASE
{
    int count;
    CHILD children[5];
};

// The children of a leaf by the sides the rectangle reaches (8 left, 4
// bottom, 2 right, 1 top), in the order they are made. Without the left
// side reached the rectangle starts right of the segment's left side, and
// so on: every piece is non-empty, and the pieces tile the segment.
// clang-format off
const SPLIT_CASE SPLIT_CASES[15] = {
    /* 0 none */ {5, {{S_MIN, R_BEFORE, R_MIN, S_MAX, false}, {R_MIN, S_MAX, R_AFTER, S_MAX, false},
                      {R_AFTER, S_MAX, S_MIN, R_MAX, false}, {S_MIN, R_MAX, S_MIN, R_BEFORE, false},
                      {R_MIN, R_MAX, R_MIN, R_MAX, true}}},
    /* 1 top */ {4, {{S_MIN, R_BEFORE, S_MIN, S_MAX, false}, {R_MIN, R_MAX, S_MIN, R_BEFORE, false},
                     {R_AFTER, S_MAX, S_MIN, S_MAX, false}, {R_MIN, R_MAX, R_MIN, S_MAX, true}}},
    /* 2 right */ {4, {{S_MIN, S_MAX, S_MIN, R_BEFORE, false}, {S_MIN, R_BEFORE, R_MIN, R_MAX, false},
                       {S_MIN, S_MAX, R_AFTER, S_MAX, false}, {R_MIN, S_MAX, R_MIN, R_MAX, true}}},
    /* 3 right, top */ {3, {{S_MIN, R_BEFORE, S_MIN, S_MAX, false}, {R_MIN, S_MAX, S_MIN, R_BEFORE, false},
                            {R_MIN, S_MAX, R_MIN, S_MAX, true}}},
    /* 4 bottom */ {4, {{S_MIN, R_BEFORE, S_MIN, S_MAX, false}, {R_MIN, R_MAX, R_AFTER, S_MAX, false},
                        {R_AFTER, S_MAX, S_MIN, S_MAX, false}, {R_MIN, R_MAX, S_MIN, R_MAX, true}}},
    /* 5 bottom, top */ {3, {{S_MIN, R_BEFORE, S_MIN, S_MAX, false}, {R_AFTER, S_MAX, S_MIN, S_MAX, false},
                             {R_MIN, R_MAX, S_MIN, S_MAX, true}}},
    /* 6 bottom, right */ {3, {{S_MIN, R_BEFORE, S_MIN, S_MAX, false}, {R_MIN, S_MAX, R_AFTER, S_MAX, false},
                               {R_MIN, S_MAX, S_MIN, R_MAX, true}}},
    /* 7 bottom, right, top */ {2, {{S_MIN, R_BEFORE, S_MIN, S_MAX, false}, {R_MIN, S_MAX, S_MIN, S_MAX, true}}},
    /* 8 left */ {4, {{S_MIN, S_MAX, S_MIN, R_BEFORE, false}, {R_AFTER, S_MAX, R_MIN, R_MAX, false},
                      {S_MIN, S_MAX, R_AFTER, S_MAX, false}, {S_MIN, R_MAX, R_MIN, R_MAX, true}}},
    /* 9 left, top */ {3, {{S_MIN, S_MAX, S_MIN, R_BEFORE, false}, {R_AFTER, S_MAX, R_MIN, S_MAX, false},
                           {S_MIN, R_MAX, R_MIN, S_MAX, true}}},
    /* 10 left, right */ {3, {{S_MIN, S_MAX, S_MIN, R_BEFORE, false}, {S_MIN, S_MAX, R_AFTER, S_MAX, false},
                              {S_MIN, S_MAX, R_MIN, R_MAX, true}}},
    /* 11 left, right, top */ {2, {{S_MIN, S_MAX, S_MIN, R_BEFORE, false}, {S_MIN, S_MAX, R_MIN, S_MAX, true}}},
    /* 12 left, bottom */ {3, {{R_AFTER, S_MAX, S_MIN, S_MAX, false}, {S_MIN, R_MAX, R_AFTER, S_MAX, false},
                               {S_MIN, R_MAX, S_MIN, R_MAX, true}}},
    /* 13 left, bottom, top */ {2, {{R_AFTER, S_MAX, S_MIN, S_MAX, false}, {S_MIN, R_MAX, S_MIN, S_MAX, true}}},
    /* 14 left, bottom, right */ {2, {{S_MIN, S_MAX, R_AFTER, S_MAX, false}, {S_MIN, S_MAX, S_MIN, R_MAX, true}}},
};
// clang-format on

int side_value(SIDE side, int segment_min, int segment_max, int rectangle_min, int rectangle_max)
{
    switch (side) {
    case S_MIN: return segment_min;
    case S_MAX: return segment_max;
    case R_MIN: return rectangle_min;
    case R_MAX: return rectangle_max;
    case R_BEFORE: return rectangle_min - 1;
    case R_AFTER: return rectangle_max + 1;
    }
    return segment_min;
}

}  // namespace

MORV_REGION_SEGMENT::MORV_REGION_SEGMENT(const MORV_REGION_COORDINATES& bounds, int state)
    : m_bounds(bounds), m_state(state)
{}

MORV_REGION_SEGMENT::~MORV_REGION_SEGMENT() = default;

bool MORV_REGION_SEGMENT::overlaps(const MORV_REGION_COORDINATES& r) const
{
    return !(r.xmin > m_bounds.xmax || r.xmax < m_bounds.xmin || r.ymin > m_bounds.ymax || r.ymax < m_bounds.ymin);
}

int MORV_REGION_SEGMENT::case_code(const MORV_REGION_COORDINATES& r) const
{
    return 8 * (r.xmin <= m_bounds.xmin) + 4 * (r.ymin <= m_bounds.ymin) + 2 * (r.xmax >= m_bounds.xmax) +
           1 * (r.ymax >= m_bounds.ymax);
}

void MORV_REGION_SEGMENT::insert(const MORV_REGION_COORDINATES& rectangle, int id)
{
    if (!overlaps(rectangle)) return;
    const int code = case_code(rectangle);
    if (code == 15) {
        m_region_ids.push_back(id);
        return;
    }
    if (m_state == SPLIT) {
        for (auto& child : m_children) child->insert(rectangle, id);
        return;
    }
    split(rectangle, id);
}

void MORV_REGION_SEGMENT::split(const MORV_REGION_COORDINATES& r, int id)
{
    const SPLIT_CASE& pieces = SPLIT_CASES[case_code(r)];
    for (int i = 0; i < pieces.count; ++i) {
        const CHILD& c = pieces.children[i];
        MORV_REGION_COORDINATES bounds;
        bounds.xmin = side_value(c.x_from, m_bounds.xmin, m_bounds.xmax, r.xmin, r.xmax);
        bounds.xmax = side_value(c.x_to, m_bounds.xmin, m_bounds.xmax, r.xmin, r.xmax);
        bounds.ymin = side_value(c.y_from, m_bounds.ymin, m_bounds.ymax, r.ymin, r.ymax);
        bounds.ymax = side_value(c.y_to, m_bounds.ymin, m_bounds.ymax, r.ymin, r.ymax);
        add_child(bounds, c.carries_id ? id : 0);
    }
    m_state = SPLIT;
}

void MORV_REGION_SEGMENT::add_child(const MORV_REGION_COORDINATES& bounds, int id)
{
    MORV_ASSERT(bounds.xmin <= bounds.xmax && bounds.ymin <= bounds.ymax);
    MORV_OWNER<MORV_REGION_SEGMENT> child = MORV_MAKE_OWNER(MORV_REGION_SEGMENT, bounds, id);
    if (id != 0) child->m_region_ids.push_back(id);
    m_children.push_back(std::move(child));
}

void MORV_REGION_SEGMENT::lookup(int x, int y, std::vector<int>* ids) const
{
    if (!contains(x, y)) return;
    ids->insert(ids->end(), m_region_ids.begin(), m_region_ids.end());
    if (m_state != SPLIT) return;
    for (const auto& child : m_children) child->lookup(x, y, ids);
}
