#pragma once
// A change-log file of the log database: records appended one by one, read
// back in the order written. Writing is on only after init(true); without it
// the object is a reader and writes are ignored (a replay must not add to the
// log it replays). Reading tells the end of the file apart from damage: a
// null record with no error() is the end, anything else names the file, the
// byte offset and the reason, so that a truncated log is never taken for a
// shorter good one.

#include <cstdint>
#include <fstream>
#include <string>

#include "logdb/logdb_fsyn_log_entry.h"

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
    ~LOGDB_FSYN_LOG_FILE() = default;

    // true enables writing; the file is never truncated here.
    void init(bool enable_writing);
    bool is_write_enabled() const { return m_write_enabled; }
    void set_file_name(const std::string& name);
    const std::string& get_file_name() const { return m_file_name; }

    // Appends one record, reopening the file in append mode after close().
    // False when writing is off or the record is too large to store; a file
    // that cannot be opened throws FIO_WRITE_ERROR.
    bool write_fsyn_log_entry(const LOGDB_FSYN_LOG_ENTRY* entry);
    // The next record from the start of the file on, or null at the end or
    // at the first damaged record (see error()).
    LOGDB_FSYN_LOG_ENTRY_OWNER read_fsyn_log_entry();
    const LOGDB_READ_ERROR& error() const { return m_error; }
    // Where the next record starts: the offset of the record read next.
    uint64_t get_read_offset() const { return m_read_offset; }

    // Appends every record of another log; false, with nothing appended,
    // when writing is off or the source is missing or damaged.
    bool append_file(const std::string& source_file_name);
    // Removes the file; true when no file of that name is left.
    bool delete_file();
    bool file_exists() const;
    // Closes the streams; the next read starts again at the first record.
    void close();
    bool is_open() const { return m_writer.is_open() || m_reader.is_open(); }

    static std::string get_os_safe_file_name(const std::string& name) { return name; }

private:
    bool open_reader();
    void fail(uint64_t offset, const std::string& reason);
    void open_writer();

    std::string m_file_name;
    bool m_write_enabled = false;
    std::ofstream m_writer;
    std::ifstream m_reader;
    uint64_t m_read_offset = 0;
    uint64_t m_read_size = 0;
    bool m_read_done = false;
    LOGDB_READ_ERROR m_error;
};
