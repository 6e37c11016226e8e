#include "logdb/logdb_fsyn_log_file.h"

#include <filesystem>
#include <vector>

#include "fio/fio.h"
#include "logdb/logdb_record_stream.h"

std::string LOGDB_READ_ERROR::to_string() const
{
    return m_file + ": offset " + std::to_string(m_offset) + ": " + m_reason;
}

LOGDB_FSYN_LOG_FILE::LOGDB_FSYN_LOG_FILE(const LOGDB_FSYN_LOG_FILE& other)
    : m_file_name(other.m_file_name), m_write_enabled(other.m_write_enabled)
{}

LOGDB_FSYN_LOG_FILE& LOGDB_FSYN_LOG_FILE::operator=(const LOGDB_FSYN_LOG_FILE& other)
{
    if (this == &other) return *this;
    set_file_name(other.m_file_name);
    m_write_enabled = other.m_write_enabled;
    return *this;
}

void LOGDB_FSYN_LOG_FILE::init(bool enable_writing)
{
    m_write_enabled = enable_writing;
}

void LOGDB_FSYN_LOG_FILE::set_file_name(const std::string& name)
{
    close();
    m_file_name = name;
}

void LOGDB_FSYN_LOG_FILE::close()
{
    if (m_writer.is_open()) m_writer.close();
    if (m_reader.is_open()) m_reader.close();
    m_writer.clear();
    m_reader.clear();
    m_read_offset = 0;
    m_read_size = 0;
    m_read_done = false;
    m_error = LOGDB_READ_ERROR();
}

void LOGDB_FSYN_LOG_FILE::open_writer()
{
    if (!m_writer.is_open()) fio_open_for_writing(m_writer, FIO_PATH(m_file_name), true);
}

bool LOGDB_FSYN_LOG_FILE::write_fsyn_log_entry(const LOGDB_FSYN_LOG_ENTRY* entry)
{
    if (!m_write_enabled || entry == nullptr || m_file_name.empty()) return false;
    const std::string bytes = logdb_encode_record(*entry);
    if (bytes.empty()) return false;
    open_writer();
    m_writer.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(m_writer);
}

void LOGDB_FSYN_LOG_FILE::fail(uint64_t offset, const std::string& reason)
{
    m_error.m_file = m_file_name;
    m_error.m_offset = offset;
    m_error.m_reason = reason;
    m_read_done = true;
}

bool LOGDB_FSYN_LOG_FILE::open_reader()
{
    if (m_reader.is_open()) return true;
    // What this object wrote must be there to read.
    if (m_writer.is_open()) m_writer.flush();
    std::string error;
    if (!fio_check_user_file(m_file_name, error)) {
        fail(0, error);
        return false;
    }
    std::error_code ec;
    m_read_size = std::filesystem::file_size(m_file_name, ec);
    m_reader.open(m_file_name, std::ios::binary);
    if (ec || !m_reader.is_open()) {
        fail(0, "cannot open for reading");
        return false;
    }
    m_reader.seekg(static_cast<std::streamoff>(m_read_offset));
    return true;
}

LOGDB_FSYN_LOG_ENTRY_OWNER LOGDB_FSYN_LOG_FILE::read_fsyn_log_entry()
{
    if (m_read_done || !open_reader()) return nullptr;
    const uint64_t available = m_read_size - m_read_offset;
    if (available == 0) {
        m_read_done = true;
        return nullptr;
    }
    if (available < LOGDB_RECORD_PREFIX_BYTES) {
        fail(m_read_offset, "truncated record (" + std::to_string(available) + " bytes left)");
        return nullptr;
    }
    unsigned char prefix[LOGDB_RECORD_PREFIX_BYTES];
    if (!m_reader.read(reinterpret_cast<char*>(prefix), sizeof(prefix))) {
        fail(m_read_offset, "read failed");
        return nullptr;
    }
    const std::string prefix_fault = logdb_check_record_prefix(prefix, available);
    if (!prefix_fault.empty()) {
        fail(m_read_offset, prefix_fault);
        return nullptr;
    }
    // The length is within the fixed bound and the file: safe to allocate.
    std::string bytes(logdb_read_u32(prefix + 4), '\0');
    std::copy(prefix, prefix + sizeof(prefix), bytes.begin());
    if (!m_reader.read(bytes.data() + sizeof(prefix), static_cast<std::streamsize>(bytes.size() - sizeof(prefix)))) {
        fail(m_read_offset, "read failed");
        return nullptr;
    }
    std::size_t fault_pos = 0;
    std::string reason;
    LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_decode_record(bytes, fault_pos, reason);
    if (!record) {
        fail(m_read_offset + fault_pos, reason);
        return nullptr;
    }
    m_read_offset += bytes.size();
    return record;
}

bool LOGDB_FSYN_LOG_FILE::append_file(const std::string& source_file_name)
{
    if (!m_write_enabled || m_file_name.empty()) return false;
    LOGDB_FSYN_LOG_FILE source;
    source.set_file_name(source_file_name);
    while (source.read_fsyn_log_entry()) {}
    if (source.error().is_set()) return false;
    source.close();
    std::string bytes, error;
    if (!fio_read_stored_file(source_file_name, bytes, error)) return false;
    open_writer();
    m_writer.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    m_writer.flush();
    return static_cast<bool>(m_writer);
}

bool LOGDB_FSYN_LOG_FILE::delete_file()
{
    close();
    if (m_file_name.empty()) return true;
    FIO_FILE_SYSTEM::remove_if_exists(FIO_PATH(m_file_name));
    return !file_exists();
}

bool LOGDB_FSYN_LOG_FILE::file_exists() const
{
    return !m_file_name.empty() && FIO_FILE_SYSTEM::exists(FIO_PATH(m_file_name));
}
