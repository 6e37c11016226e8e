#include "cdb/cdb_db_entries.h"

namespace {

template <typename ENTRY>
ENTRY* find_entry(const std::unordered_map<int, ENTRY*>& entries, int key)
{
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : it->second;
}

template <typename ENTRY>
void set_entry(std::unordered_map<int, ENTRY*>& entries, int key, ENTRY* entry)
{
    if (entry) entries[key] = entry;
    else entries.erase(key);
}

}  // namespace

CDB_CHIP_DB_ENTRY* CDB_DB_ENTRIES::get_chip_db_entry(int partition_id) const
{
    return find_entry(m_chip_entries, partition_id);
}

void CDB_DB_ENTRIES::set_chip_db_entry(int partition_id, CDB_CHIP_DB_ENTRY* entry)
{
    set_entry(m_chip_entries, partition_id, entry);
}

CDB_HIERARCHY_DB_ENTRY* CDB_DB_ENTRIES::get_hierarchy_db_entry(int index) const
{
    return find_entry(m_hierarchy_entries, index);
}

void CDB_DB_ENTRIES::set_hierarchy_db_entry(int index, CDB_HIERARCHY_DB_ENTRY* entry)
{
    set_entry(m_hierarchy_entries, index, entry);
}
