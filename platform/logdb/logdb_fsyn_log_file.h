#pragma once
// A change-log file of the log database: records appended one by one, read
// back in the order written. Writing is on only after init(true); without it
// the object is a reader and writes are ignored (a replay must not add to the
// log it replays). Reading tells the end of the file apart from damage: a
// null record with no error() is the end, anything else names the file, the
// byte offset and the reason, so that a truncated log is never taken for a
// shorter good one. A file this object writes is a chained log (see
// logdb_record_stream.h): close() ends it with its closing record and a
// later write takes that record off again, so a closed file is complete and
// a file cut anywhere, or with a record dropped, repeated or moved, is
// refused as a whole. Logs of the earlier, unchained form read as before.

#include <cstdint>
#include <fstream>
#include <string>

#include "logdb/logdb_fsyn_log_entry.h"

struct LOGDB_RECORD_LINK;

struct LOGDB_READ_ERROR
{
    std::string m_file;
    uint64_t m_offset = 0;
    std::string m_reason;

    bool is_set() const { return !m_reason.empty(); }
    // "FILE: offset N: reason"
    std::string to_string() const;
};

class LOGDB_FSYN_LOG_FILE
{
public:
    LOGDB_FSYN_LOG_FILE() = default;
    // A copy names the same file with the same write switch; it has no open
    // stream and reads from the start.
    LOGDB_FSYN_LOG_FILE(const LOGDB_FSYN_LOG_FILE& other);
    LOGDB_FSYN_LOG_FILE& operator=(const LOGDB_FSYN_LOG_FILE& other);
    ~LOGDB_FSYN_LOG_FILE();

    // true enables writing; the file is never truncated here.
    void init(bool enable_writing);
    bool is_write_enabled() const { return m_write_enabled; }
    void set_file_name(const std::string& name);
    const std::string& get_file_name() const { return m_file_name; }

    // Appends one record, reopening the file in append mode after close().
    // False when writing is off, the record is too large to store, or the
    // file system refused a write (write_error() says why); a file that
    // cannot be opened throws FIO_WRITE_ERROR.
    bool write_fsyn_log_entry(const LOGDB_FSYN_LOG_ENTRY* entry);
    // Why a write failed ("No space left on device"); empty while all went
    // well. Kept until the file is deleted or another is named.
    const std::string& write_error() const { return m_write_error; }
    // The next record from the start of the file on, or null at the end or
    // at the first damaged record (see error()).
    LOGDB_FSYN_LOG_ENTRY_OWNER read_fsyn_log_entry();
    const LOGDB_READ_ERROR& error() const { return m_error; }
    // Where the next record starts: the offset of the record read next.
    uint64_t get_read_offset() const { return m_read_offset; }

    // True when the file read last is a chained log, checked as a whole;
    // kept after close() until the next read.
    bool is_chained() const { return m_read_chained; }

    // Appends every record of another log; false, with nothing appended,
    // when writing is off or the source is missing or damaged, and false
    // when a write failed. append_error() says which and why.
    bool append_file(const std::string& source_file_name);
    const std::string& append_error() const { return m_append_error; }
    // Removes the file; true when no file of that name is left.
    bool delete_file();
    bool file_exists() const;
    // Closes the streams, ending what was written with the closing record;
    // the next read starts again at the first record.
    void close();
    bool is_open() const { return m_write_fd >= 0 || m_reader.is_open(); }

    static std::string get_os_safe_file_name(const std::string& name) { return name; }

private:
    bool open_reader();
    void fail(uint64_t offset, const std::string& reason);
    bool open_writer();
    bool find_append_point();
    bool put_bytes(const std::string& bytes);
    bool flush_writer();
    void close_writer();
    bool check_link(const LOGDB_RECORD_LINK& link);
    bool reach_end();

    std::string m_file_name;
    bool m_write_enabled = false;
    int m_write_fd = -1;
    std::string m_write_buffer;
    bool m_write_chained = true;
    uint32_t m_write_number = 0;
    uint32_t m_write_previous_crc = 0;
    std::string m_write_error;
    std::string m_append_error;
    std::ifstream m_reader;
    uint64_t m_read_offset = 0;
    uint64_t m_read_size = 0;
    bool m_read_done = false;
    bool m_read_chained = false;
    bool m_read_plain = false;
    bool m_closing_read = false;
    uint64_t m_closing_offset = 0;
    uint32_t m_closing_link_previous = 0;
    uint32_t m_read_number = 0;
    uint32_t m_read_previous_crc = 0;
    // A file still being written may lack its closing record.
    bool m_open_end_allowed = false;
    LOGDB_READ_ERROR m_error;
};
