#pragma once
// The host's log database, in memory: the compile's register of the logs it
// made. The fitter adds one entry naming its change-log file.

#include <string>
#include <vector>

class LOGDB_DATABASE_ENTRY
{
public:
    LOGDB_DATABASE_ENTRY(int kind, std::vector<std::string> strings) : m_kind(kind), m_strings(std::move(strings)) {}
    int get_kind() const { return m_kind; }
    const std::vector<std::string>& get_strings() const { return m_strings; }
    bool operator==(const LOGDB_DATABASE_ENTRY&) const = default;

private:
    int m_kind;
    std::vector<std::string> m_strings;
};

class LOGDB_DATABASE
{
public:
    // Makes the process's database available; loading twice keeps it.
    static void load_database();
    // The loaded database, or null before load_database.
    static LOGDB_DATABASE* get_database();
    // Drops the database and its entries (a new compile in the same process).
    static void unload_database();

    void add_entry(const LOGDB_DATABASE_ENTRY& entry) { m_entries.push_back(entry); }
    const std::vector<LOGDB_DATABASE_ENTRY>& get_entries() const { return m_entries; }

private:
    std::vector<LOGDB_DATABASE_ENTRY> m_entries;
};
