#pragma once

// Process-wide state of the remux algorithm that outlives one run: the set
// of nodes it has demuxed. The facade creates the set when it is built and
// deletes it when it is torn down.

#include <set>

class MORV_REMUX
{
public:
    static void create_demuxed_nodes();
    static void delete_demuxed_nodes();
    static std::set<int>* get_demuxed_nodes() { return s_demuxed_nodes; }

private:
    static std::set<int>* s_demuxed_nodes;
};
