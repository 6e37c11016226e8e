// The family classes. Their prior-state records and write-out order come
// with each family's recording; until then they store no prior state and
// write the pending records in the order they were made.

#include "morv/core/morv_assert.h"
#include "morv/log/morv_log.h"

#define MORV_LOG_FAMILY_CLASS(CLASS)                                                                                   \
    CLASS::CLASS(MORV_API* fsyn_api) : MORV_LOG(fsyn_api)                                                              \
    {                                                                                                                  \
        open_first_chunk();                                                                                            \
    }                                                                                                                  \
    CLASS::CLASS(const CLASS& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api)                                 \
    {                                                                                                                  \
        open_first_chunk();                                                                                            \
    }                                                                                                                  \
    CLASS::~CLASS()                                                                                                    \
    {                                                                                                                  \
        CLASS::clear_pending_entries();                                                                                \
        m_log_file.reset();                                                                                            \
    }                                                                                                                  \
    void CLASS::clear_pending_entries()                                                                                \
    {                                                                                                                  \
        clear_pending_containers();                                                                                    \
    }                                                                                                                  \
    void CLASS::write_pending_entries()                                                                                \
    {                                                                                                                  \
        write_pending_in_creation_order();                                                                             \
    }                                                                                                                  \
    void CLASS::store_node_info_before_change(CDB_ATOM_NODE*) {}                                                       \
    void CLASS::log_confirm_clkbuf(CDB_ATOM_NODE*) {}

MORV_LOG_FAMILY_CLASS(MORV_LOG_BRK)
MORV_LOG_FAMILY_CLASS(MORV_LOG_MRL)
