#pragma once
// Archive files. An archive is a base path; each segment kind is stored in
// its own file, the base path plus the kind's extension. A segment file is
//   "MORVPDB1", kind (u32), payload length (u64), payload, FNV-1a 64 checksum
// (all little-endian). Segments are written to a temporary file and renamed,
// so a failed write never leaves a half file under the segment's name.
// Reading checks magic, kind, length and checksum before handing out a byte.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum PDB_FILE_TYPE : int
{
    PDB_FILE_TYPE_DEFAULT = 0,
    PDB_FILE_TYPE_POST_MAP = 1,
    PDB_FILE_TYPE_POST_FIT = 2
};

enum PDB_SEGMENT_KIND : uint32_t
{
    PDB_SEGMENT_NETLIST = 1,    // ".cdb"
    PDB_SEGMENT_HIERARCHY = 2,  // ".hdb"
};
const char* pdb_segment_extension(PDB_SEGMENT_KIND kind);

// base + extension ("" allowed).
std::string gen_generate_pdb_filename(const std::string& base, const std::string& extension);

class PDB_DATABASE_EXCEPTION : public std::runtime_error
{
public:
    explicit PDB_DATABASE_EXCEPTION(const std::string& what) : std::runtime_error(what) {}
    // Prints "Error: <what>" to stderr.
    void report() const;
};

class PDB_ARCHIVE
{
public:
    explicit PDB_ARCHIVE(const std::string& base_path) : m_base(base_path) {}
    const std::string& get_base_path() const { return m_base; }
    std::string get_segment_file_name(PDB_SEGMENT_KIND kind) const { return m_base + pdb_segment_extension(kind); }
    void close() {}

private:
    std::string m_base;
};

// A segment's bytes in blocks of a fixed size: the segment grows without
// being moved to a larger block, which would hold a large netlist twice.
class PDB_SEGMENT_BYTES
{
public:
    static constexpr size_t s_BLOCK = size_t(1) << 20;

    void append(const void* p, size_t n);
    void push_back(uint8_t b) { append(&b, 1); }
    size_t size() const { return m_size; }
    // Overwrites bytes written before.
    void patch(size_t at, const void* p, size_t n);
    void clear();
    template <typename VISIT>
    void for_each_block(VISIT visit) const
    {
        for (size_t i = 0; i < m_blocks.size(); ++i)
            visit(m_blocks[i].get(), i + 1 < m_blocks.size() ? s_BLOCK : m_size - i * s_BLOCK);
    }

private:
    std::vector<std::unique_ptr<uint8_t[]>> m_blocks;
    size_t m_size = 0;
};

// A large segment goes to its temporary file while it is written, a few
// blocks at a time, so that a netlist's text is never held whole.
class PDB_SEGMENT_WRITER
{
public:
    // Bytes held before they go to the temporary file.
    static constexpr size_t s_HELD = 4 * PDB_SEGMENT_BYTES::s_BLOCK;

    // The temporary file goes also when an interrupt ends the process.
    PDB_SEGMENT_WRITER(PDB_ARCHIVE& archive, PDB_SEGMENT_KIND kind);
    PDB_SEGMENT_WRITER(const PDB_SEGMENT_WRITER&) = delete;
    PDB_SEGMENT_WRITER& operator=(const PDB_SEGMENT_WRITER&) = delete;
    // Without a commit the temporary file goes.
    ~PDB_SEGMENT_WRITER();
    void write_u8(uint8_t v)
    {
        m_data.push_back(v);
        spill_if_full();
    }
    void write_u32(uint32_t v);
    void write_i32(int32_t v) { write_u32(static_cast<uint32_t>(v)); }
    void write_u64(uint64_t v);
    void write_string(std::string_view s);  // u64 length, bytes
    // The same as write_string of everything `produce` writes to the stream,
    // without holding a second copy of it on the way.
    void write_streamed_string(const std::function<void(std::ostream&)>& produce);
    void write_bytes(const void* p, size_t n);
    // Writes the segment file; throws PDB_DATABASE_EXCEPTION on failure.
    void commit();
    // Payload bytes written so far, and those of them still held.
    uint64_t size() const { return m_spilled + m_data.size(); }
    size_t held() const { return m_data.size(); }

private:
    friend class PDB_SEGMENT_APPENDER;
    std::string temporary_name() const { return m_archive.get_segment_file_name(m_kind) + ".tmp"; }
    void spill_if_full()
    {
        if (m_data.size() >= s_HELD) spill();
    }
    // The held bytes go to the temporary file (made with a header to fill
    // in at commit); a failure is kept for commit to report.
    void spill();
    void patch(uint64_t at, const void* p, size_t n);
    void commit_spilled(const std::string& file, const std::string& tmp);
    void close_temporary();
    // Keeps the first failure, with the C library's error number.
    void note_failure(const char* what);

    PDB_ARCHIVE& m_archive;
    PDB_SEGMENT_KIND m_kind;
    PDB_SEGMENT_BYTES m_data;
    std::FILE* m_file = nullptr;
    uint64_t m_spilled = 0;
    std::string m_error;
    int m_error_number = 0;
};

class PDB_SEGMENT_READER
{
public:
    // Checks the whole segment; throws PDB_DATABASE_EXCEPTION when the file
    // is missing, truncated, of another kind or damaged. The segment is then
    // read from the file a block at a time: a netlist's text is never held
    // whole.
    PDB_SEGMENT_READER(PDB_ARCHIVE& archive, PDB_SEGMENT_KIND kind);
    PDB_SEGMENT_READER(const PDB_SEGMENT_READER&) = delete;
    PDB_SEGMENT_READER& operator=(const PDB_SEGMENT_READER&) = delete;
    uint8_t read_u8();
    uint32_t read_u32();
    int32_t read_i32() { return static_cast<int32_t>(read_u32()); }
    uint64_t read_u64();
    std::string read_string();
    // A string's text a line at a time, split at '\n' (a last line without
    // one counts; no empty line follows a final '\n'). Each line stays valid
    // until the next call; false after the last. The string's bytes must be
    // read to its end before anything else is read.
    class LINES
    {
    public:
        bool next(std::string_view& line);
        // True when nothing of the segment follows the string.
        bool ends_segment() const { return m_reader.m_end - m_reader.m_pos == m_left; }

    private:
        friend class PDB_SEGMENT_READER;
        explicit LINES(PDB_SEGMENT_READER& reader, uint64_t length) : m_reader(reader), m_left(length) {}
        PDB_SEGMENT_READER& m_reader;
        uint64_t m_left;
        std::string m_carry;
    };
    LINES read_string_lines();
    bool at_end() const { return m_pos == m_end; }
    // Throws unless every byte was read.
    void expect_end() const;
    const std::string& get_file_name() const { return m_file; }
    // The most bytes of the segment held at once.
    size_t get_buffer_size() const { return m_buffer.size(); }

private:
    void need(uint64_t n) const;
    // Bytes of the payload at the read position now held: at least one
    // unless the payload is all read.
    size_t available();
    [[noreturn]] void fail(const std::string& what) const;
    std::string m_file;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_stream{nullptr, &std::fclose};
    std::vector<uint8_t> m_buffer;
    size_t m_buffer_pos = 0;
    size_t m_buffer_end = 0;
    // Payload bytes read, of m_end.
    uint64_t m_pos = 0;
    uint64_t m_end = 0;
};
