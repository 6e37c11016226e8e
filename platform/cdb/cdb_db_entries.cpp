#include "cdb/cdb_db_entries.h"

CDB_CHIP_DB_ENTRY* CDB_DB_ENTRIES::get_chip_db_entry(int partition_id) const
{
    auto it = m_chip_entries.find(partition_id);
    return it == m_chip_entries.end() ? nullptr : it->second;
}

void CDB_DB_ENTRIES::set_chip_db_entry(int partition_id, CDB_CHIP_DB_ENTRY* entry)
{
    if (entry) m_chip_entries[partition_id] = entry;
    else m_chip_entries.erase(partition_id);
}
