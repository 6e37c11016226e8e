#include "logdb/logdb_fsyn_log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "fio/fio.h"
#include "logdb/logdb_record_stream.h"

namespace {

// Written out once this much is waiting.
constexpr std::size_t LOGDB_WRITE_BUFFER_BYTES = 1U << 16;

}  // namespace

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

LOGDB_FSYN_LOG_FILE::~LOGDB_FSYN_LOG_FILE()
{
    close_writer();
}

void LOGDB_FSYN_LOG_FILE::init(bool enable_writing)
{
    m_write_enabled = enable_writing;
}

void LOGDB_FSYN_LOG_FILE::set_file_name(const std::string& name)
{
    close();
    m_file_name = name;
    m_write_error.clear();
}

void LOGDB_FSYN_LOG_FILE::close()
{
    close_writer();
    if (m_reader.is_open()) m_reader.close();
    m_reader.clear();
    m_read_offset = 0;
    m_read_size = 0;
    m_read_done = false;
    m_closing_read = false;
    m_closing_offset = 0;
    m_read_number = 0;
    m_read_previous_crc = 0;
    m_error = LOGDB_READ_ERROR();
}

bool LOGDB_FSYN_LOG_FILE::flush_writer()
{
    if (m_write_fd < 0 || m_write_buffer.empty()) return m_write_error.empty();
    int error_number = 0;
    if (m_write_error.empty() && !fio_write_all(m_write_fd, m_write_buffer.data(), m_write_buffer.size(), error_number))
        m_write_error = fio_error_text(error_number);
    m_write_buffer.clear();
    return m_write_error.empty();
}

// A file that was written in full ends with its closing record; one whose
// write failed does not, so that it can never read as complete.
void LOGDB_FSYN_LOG_FILE::close_writer()
{
    if (m_write_fd < 0) return;
    if (m_write_chained && m_write_error.empty())
        put_bytes(logdb_encode_chained_record(nullptr, m_write_number, m_write_previous_crc, m_write_number));
    flush_writer();
    if (::close(m_write_fd) != 0 && m_write_error.empty()) m_write_error = fio_error_text(errno);
    m_write_fd = -1;
}

bool LOGDB_FSYN_LOG_FILE::put_bytes(const std::string& bytes)
{
    m_write_buffer += bytes;
    return m_write_buffer.size() < LOGDB_WRITE_BUFFER_BYTES ? m_write_error.empty() : flush_writer();
}

// Continues the numbering and the links of what the file holds, taking its
// closing record off; a file of the earlier form goes on in that form.
bool LOGDB_FSYN_LOG_FILE::find_append_point()
{
    m_write_chained = true;
    m_write_number = 0;
    m_write_previous_crc = 0;
    std::error_code ec;
    if (!std::filesystem::exists(m_file_name, ec) || std::filesystem::file_size(m_file_name, ec) == 0) return true;
    LOGDB_FSYN_LOG_FILE scan;
    scan.set_file_name(m_file_name);
    scan.m_open_end_allowed = true;
    while (scan.read_fsyn_log_entry()) {}
    if (scan.error().is_set()) {
        m_write_error = "cannot append to a damaged log (" + scan.error().to_string() + ")";
        return false;
    }
    m_write_chained = !scan.m_read_plain;
    m_write_number = scan.m_read_number;
    m_write_previous_crc = scan.m_read_previous_crc;
    if (scan.m_closing_read) {
        // The closing record was counted and linked: the next record takes
        // its place and links to the record before it.
        m_write_number = scan.m_read_number - 1;
        m_write_previous_crc = scan.m_closing_link_previous;
        std::filesystem::resize_file(m_file_name, scan.m_closing_offset, ec);
        if (ec) {
            m_write_error = ec.message();
            return false;
        }
    }
    return true;
}

bool LOGDB_FSYN_LOG_FILE::open_writer()
{
    if (m_write_fd >= 0) return true;
    if (!m_write_error.empty() || !find_append_point()) return false;
    errno = 0;
    m_write_fd = ::open(m_file_name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (m_write_fd < 0) throw FIO_WRITE_ERROR(m_file_name, fio_error_text(errno));
    return true;
}

bool LOGDB_FSYN_LOG_FILE::write_fsyn_log_entry(const LOGDB_FSYN_LOG_ENTRY* entry)
{
    if (!m_write_enabled || entry == nullptr || m_file_name.empty()) return false;
    if (!open_writer()) return false;
    if (!m_write_chained) {
        const std::string bytes = logdb_encode_record(*entry);
        return !bytes.empty() && put_bytes(bytes);
    }
    const std::string bytes = logdb_encode_chained_record(entry, m_write_number, m_write_previous_crc);
    if (bytes.empty()) return false;
    m_write_previous_crc = logdb_read_u32(reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() - 4);
    ++m_write_number;
    return put_bytes(bytes);
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
    flush_writer();
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
    if (m_read_offset == 0) {
        m_read_chained = false;
        m_read_plain = false;
    }
    return true;
}

// The end of the file: the end of the log only after its closing record.
bool LOGDB_FSYN_LOG_FILE::reach_end()
{
    if (m_read_chained && !m_closing_read && !m_open_end_allowed && m_write_fd < 0) {
        fail(m_read_offset, "the log ends without its closing record: it was cut short");
        return false;
    }
    m_read_done = true;
    return true;
}

bool LOGDB_FSYN_LOG_FILE::check_link(const LOGDB_RECORD_LINK& link)
{
    if (m_read_number == 0 && m_read_offset == 0) {
        m_read_chained = link.chained;
        m_read_plain = !link.chained;
    }
    if (link.chained != m_read_chained) {
        fail(m_read_offset, "a record of another log form than the records before it");
        return false;
    }
    if (!link.chained) return true;
    if (link.number != m_read_number) {
        fail(m_read_offset, "record number " + std::to_string(link.number) + " where record number " +
                                std::to_string(m_read_number) + " belongs: a record is missing, repeated or moved");
        return false;
    }
    if (link.previous_crc != m_read_previous_crc) {
        fail(m_read_offset, "the record does not follow the record before it: a record was changed, dropped or moved");
        return false;
    }
    ++m_read_number;
    m_read_previous_crc = link.crc;
    return true;
}

LOGDB_FSYN_LOG_ENTRY_OWNER LOGDB_FSYN_LOG_FILE::read_fsyn_log_entry()
{
    if (m_read_done || !open_reader()) return nullptr;
    for (;;) {
        const uint64_t available = m_read_size - m_read_offset;
        if (available == 0) {
            reach_end();
            return nullptr;
        }
        if (m_closing_read) {
            fail(m_read_offset, "data after the closing record of the log");
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
        if (!m_reader.read(bytes.data() + sizeof(prefix),
                           static_cast<std::streamsize>(bytes.size() - sizeof(prefix)))) {
            fail(m_read_offset, "read failed");
            return nullptr;
        }
        std::size_t fault_pos = 0;
        std::string reason;
        LOGDB_RECORD_LINK link;
        LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_decode_record(bytes, fault_pos, reason, &link);
        if (!record) {
            fail(m_read_offset + fault_pos, reason);
            return nullptr;
        }
        if (!check_link(link)) return nullptr;
        if (link.closing && static_cast<uint32_t>(record->m_entry_id) != link.number) {
            fail(m_read_offset, "the closing record counts " +
                                    std::to_string(static_cast<uint32_t>(record->m_entry_id)) + " records where " +
                                    std::to_string(link.number) + " precede it");
            return nullptr;
        }
        if (!link.closing) {
            m_read_offset += bytes.size();
            return record;
        }
        m_closing_read = true;
        m_closing_offset = m_read_offset;
        m_closing_link_previous = link.previous_crc;
        m_read_offset += bytes.size();
    }
}

bool LOGDB_FSYN_LOG_FILE::append_file(const std::string& source_file_name)
{
    m_append_error.clear();
    if (!m_write_enabled || m_file_name.empty()) {
        m_append_error = "writing is off";
        return false;
    }
    LOGDB_FSYN_LOG_FILE source;
    source.set_file_name(source_file_name);
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> records;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = source.read_fsyn_log_entry()) records.push_back(std::move(record));
    if (source.error().is_set()) {
        m_append_error = source.error().to_string();
        return false;
    }
    // Written again, so that the records take their numbers and links here.
    for (const LOGDB_FSYN_LOG_ENTRY_OWNER& record : records) {
        if (write_fsyn_log_entry(record.get())) continue;
        if (m_write_error.empty()) m_append_error = m_file_name + ": a record of " + source_file_name + " is too large";
        break;
    }
    if (flush_writer() && m_append_error.empty()) return true;
    if (m_append_error.empty()) m_append_error = m_file_name + ": " + m_write_error;
    return false;
}

bool LOGDB_FSYN_LOG_FILE::delete_file()
{
    close();
    m_write_error.clear();
    if (m_file_name.empty()) return true;
    FIO_FILE_SYSTEM::remove_if_exists(FIO_PATH(m_file_name));
    return !file_exists();
}

bool LOGDB_FSYN_LOG_FILE::file_exists() const
{
    return !m_file_name.empty() && FIO_FILE_SYSTEM::exists(FIO_PATH(m_file_name));
}
