#include "morv/resyn/morv_remux.h"

#include "mem_alloc_sys.h"

std::set<int>* MORV_REMUX::s_demuxed_nodes = nullptr;

void MORV_REMUX::create_demuxed_nodes()
{
    // A second facade in the same process starts from an empty set too.
    delete_demuxed_nodes();
    s_demuxed_nodes = MORV_NEW(std::set<int>);
}

void MORV_REMUX::delete_demuxed_nodes()
{
    MORV_DELETE(s_demuxed_nodes);
    s_demuxed_nodes = nullptr;
}
