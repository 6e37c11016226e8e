#include "morv/core/morv_kardel_index.h"

#include "cdb/cdb_atom_node.h"

void MORV_KARDEL_INDEX::add(CDB_ATOM_NODE* node, int region)
{
    if (region == -1) return;
    m_cells[region][node->get_id()] = node;
}

void MORV_KARDEL_INDEX::remove(const CDB_ATOM_NODE* node, int region)
{
    auto it = m_cells.find(region);
    if (it == m_cells.end()) return;
    it->second.erase(node->get_id());
    if (it->second.empty()) m_cells.erase(it);
}

CDB_ATOM_NODE* MORV_KARDEL_INDEX::last_cell(int region, const CDB_ATOM_NODE* except) const
{
    auto it = m_cells.find(region);
    if (it == m_cells.end()) return nullptr;
    for (auto cell = it->second.rbegin(); cell != it->second.rend(); ++cell)
        if (cell->second != except) return cell->second;
    return nullptr;
}
