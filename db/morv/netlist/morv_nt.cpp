#include "morv/netlist/morv_nt.h"

void MORV_NT::record_operation(int kind, const char* name, int from_id, int to_id)
{
    m_operations.push_back(MORV_NT_OPERATION{kind, name ? name : "", from_id, to_id});
}
