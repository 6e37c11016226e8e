#include "cut/cut_morlin_legalizer.h"

#include <cstring>

#include "cdb/cdb_atom_node.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

CUT_ATOM_MORLIN_LEGALIZER::CUT_ATOM_MORLIN_LEGALIZER() : m_fl_info(DMGR_UTILITY::get_current_device()->get_fl_info()) {}

int CUT_ATOM_MORLIN_LEGALIZER::find_cell(const char* name) const
{
    if (m_fl_info == nullptr) return DEV_ILLEGAL_FL_ID;
    for (int id = 0; id < m_fl_info->get_num_records(); ++id)
        if (std::strcmp(m_fl_info->get_cell_name(id), name) == 0) return id;
    return DEV_ILLEGAL_FL_ID;
}

int CUT_ATOM_MORLIN_LEGALIZER::get_fl_id_from_atom_properties(const CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    if (node->is_lcell_comb()) return find_cell("FL_LUT");
    if (!node->is_register()) return DEV_ILLEGAL_FL_ID;
    const CDB_ATOM_LATCH_INFO* latch = node->get_latch_info();
    return find_cell(latch != nullptr && latch->is_latch ? "FL_LATCH" : "FL_FF");
}

int CUT_ATOM_MORLIN_LEGALIZER::get_stored_fl_id(const CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    return node->get_block_param(CDB_PARAM_FL_ID, 0, DEV_ILLEGAL_FL_ID);
}

void CUT_ATOM_MORLIN_LEGALIZER::set_fl_id(CDB_ATOM_NODE* node, int fl_id) const
{
    MSG_ASSERT(node, "CUT");
    node->set_block_param(CDB_PARAM_FL_ID, 0, fl_id);
}
