#include "morv/log/morv_log.h"

#include "fio/fio.h"

#include "morv/core/morv_assert.h"

bool MORV_LOG_FILE::file_exists() const
{
    return !m_file_name.empty() && FIO_FILE_SYSTEM::exists(FIO_PATH(m_file_name));
}

MORV_LOG::MORV_LOG(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_fsyn_api);
}

// A snapshot copy keeps the file name and the chunk list; its file is closed.
MORV_LOG::MORV_LOG(const MORV_LOG& source, MORV_API* fsyn_api)
    : m_fsyn_api(fsyn_api),
      m_net_util(source.m_net_util),
      m_log_file(source.m_log_file),
      m_chunk_number(source.m_chunk_number),
      m_chunk_files(source.m_chunk_files)
{
    MORV_ASSERT(m_fsyn_api);
    m_log_file.close();
}

MORV_LOG::~MORV_LOG() {}
