#include "logdb/logdb_database.h"

#include <memory>

namespace {
std::unique_ptr<LOGDB_DATABASE>& database()
{
    static std::unique_ptr<LOGDB_DATABASE> s_database;
    return s_database;
}
}  // namespace

void LOGDB_DATABASE::load_database()
{
    if (!database()) database() = std::make_unique<LOGDB_DATABASE>();
}

LOGDB_DATABASE* LOGDB_DATABASE::get_database()
{
    return database().get();
}

void LOGDB_DATABASE::unload_database()
{
    database().reset();
}
