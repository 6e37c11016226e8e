#include "pdb/pdb_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "fio/fio.h"

namespace {
// ": <the C library's reason>", or nothing when it gave none.
std::string reason_of(int error_number)
{
    return error_number != 0 ? std::string(": ") + std::strerror(error_number) : std::string();
}

constexpr char MAGIC[8] = {'M', 'O', 'R', 'V', 'P', 'D', 'B', '1'};
constexpr size_t HEADER_BYTES = 8 + 4 + 8;
constexpr size_t TRAILER_BYTES = 8;

constexpr uint64_t FNV_START = 1469598103934665603ull;

// Goes on from h, the hash of the bytes before p.
uint64_t fnv1a(const uint8_t* p, size_t n, uint64_t h = FNV_START)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}
template <typename OUT>
void put_le(OUT& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint64_t get_le(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}
}  // namespace

const char* pdb_segment_extension(PDB_SEGMENT_KIND kind)
{
    switch (kind) {
    case PDB_SEGMENT_NETLIST: return ".cdb";
    case PDB_SEGMENT_HIERARCHY: return ".hdb";
    }
    return ".seg";
}

std::string gen_generate_pdb_filename(const std::string& base, const std::string& extension)
{
    return base + extension;
}

void PDB_DATABASE_EXCEPTION::report() const
{
    std::cerr << "Error: " << what() << "\n";
}

void PDB_SEGMENT_BYTES::append(const void* p, size_t n)
{
    const auto* from = static_cast<const uint8_t*>(p);
    while (n > 0) {
        const size_t used = m_size % s_BLOCK;
        if (used == 0 && m_size / s_BLOCK == m_blocks.size()) m_blocks.emplace_back(new uint8_t[s_BLOCK]);
        const size_t take = std::min(n, s_BLOCK - used);
        std::memcpy(m_blocks[m_size / s_BLOCK].get() + used, from, take);
        from += take;
        m_size += take;
        n -= take;
    }
}

void PDB_SEGMENT_BYTES::patch(size_t at, const void* p, size_t n)
{
    const auto* from = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) m_blocks[(at + i) / s_BLOCK][(at + i) % s_BLOCK] = from[i];
}

void PDB_SEGMENT_BYTES::clear()
{
    m_blocks.clear();
    m_size = 0;
}

PDB_SEGMENT_WRITER::PDB_SEGMENT_WRITER(PDB_ARCHIVE& archive, PDB_SEGMENT_KIND kind) : m_archive(archive), m_kind(kind)
{
    fio_remove_on_interrupt(temporary_name());
}

PDB_SEGMENT_WRITER::~PDB_SEGMENT_WRITER()
{
    if (m_file != nullptr) {
        close_temporary();
        std::remove(temporary_name().c_str());
    }
    fio_forget_on_interrupt(temporary_name());
}

void PDB_SEGMENT_WRITER::note_failure(const char* what)
{
    if (!m_error.empty()) return;
    m_error = what;
    m_error_number = errno;
}

void PDB_SEGMENT_WRITER::close_temporary()
{
    if (m_file != nullptr && std::fclose(m_file) != 0) note_failure("cannot write");
    m_file = nullptr;
}

void PDB_SEGMENT_WRITER::write_u32(uint32_t v)
{
    put_le(m_data, v, 4);
    spill_if_full();
}
void PDB_SEGMENT_WRITER::write_u64(uint64_t v)
{
    put_le(m_data, v, 8);
    spill_if_full();
}
void PDB_SEGMENT_WRITER::write_bytes(const void* p, size_t n)
{
    m_data.append(p, n);
    spill_if_full();
}

void PDB_SEGMENT_WRITER::spill()
{
    if (!m_error.empty()) {
        m_spilled += m_data.size();
        m_data.clear();
        return;
    }
    if (m_file == nullptr) {
        m_file = std::fopen(temporary_name().c_str(), "w+b");
        if (m_file == nullptr) {
            note_failure("cannot create");
            return spill();
        }
        const std::vector<uint8_t> head(HEADER_BYTES, 0);
        std::fwrite(head.data(), 1, head.size(), m_file);
    }
    m_data.for_each_block([this](const uint8_t* p, size_t n) { std::fwrite(p, 1, n, m_file); });
    if (std::ferror(m_file)) note_failure("cannot write");
    m_spilled += m_data.size();
    m_data.clear();
}

// Bytes already in the file are overwritten there, the others where they are held.
void PDB_SEGMENT_WRITER::patch(uint64_t at, const void* p, size_t n)
{
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) {
        if (at + i >= m_spilled) {
            m_data.patch(static_cast<size_t>(at + i - m_spilled), bytes + i, 1);
        } else if (m_error.empty()) {
            const long offset = static_cast<long>(HEADER_BYTES + at + i);
            if (std::fseek(m_file, offset, SEEK_SET) != 0 || std::fputc(bytes[i], m_file) == EOF ||
                std::fseek(m_file, 0, SEEK_END) != 0)
                note_failure("cannot write");
        }
    }
}
void PDB_SEGMENT_WRITER::write_string(std::string_view s)
{
    write_u64(s.size());
    write_bytes(s.data(), s.size());
}

// Appends what is written to it to a segment.
class PDB_SEGMENT_APPENDER : public std::streambuf
{
public:
    explicit PDB_SEGMENT_APPENDER(PDB_SEGMENT_WRITER& writer) : m_writer(writer) {}

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) m_writer.write_u8(static_cast<uint8_t>(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* p, std::streamsize n) override
    {
        m_writer.write_bytes(p, static_cast<size_t>(n));
        return n;
    }

private:
    PDB_SEGMENT_WRITER& m_writer;
};

void PDB_SEGMENT_WRITER::write_streamed_string(const std::function<void(std::ostream&)>& produce)
{
    const uint64_t length_at = size();
    write_u64(0);
    PDB_SEGMENT_APPENDER buffer(*this);
    std::ostream out(&buffer);
    produce(out);
    const uint64_t length = size() - length_at - 8;
    std::vector<uint8_t> bytes;
    put_le(bytes, length, 8);
    patch(length_at, bytes.data(), bytes.size());
}

// A spilled segment is finished in its temporary file: the rest of the
// bytes, the checksum read back from the file, the length in the header.
void PDB_SEGMENT_WRITER::commit_spilled(const std::string& file, const std::string& tmp)
{
    spill();
    uint64_t hash = FNV_START;
    std::vector<uint8_t> chunk(PDB_SEGMENT_BYTES::s_BLOCK);
    if (m_error.empty() && std::fseek(m_file, static_cast<long>(HEADER_BYTES), SEEK_SET) != 0)
        note_failure("cannot write");
    for (uint64_t left = m_spilled; m_error.empty() && left > 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
        if (std::fread(chunk.data(), 1, want, m_file) != want) note_failure("cannot write");
        hash = fnv1a(chunk.data(), want, hash);
        left -= want;
    }
    std::vector<uint8_t> head(MAGIC, MAGIC + 8);
    put_le(head, m_kind, 4);
    put_le(head, m_spilled, 8);
    std::vector<uint8_t> tail;
    put_le(tail, hash, 8);
    if (m_error.empty() &&
        (std::fseek(m_file, 0, SEEK_END) != 0 || std::fwrite(tail.data(), 1, tail.size(), m_file) != tail.size() ||
         std::fseek(m_file, 0, SEEK_SET) != 0 || std::fwrite(head.data(), 1, head.size(), m_file) != head.size() ||
         std::fflush(m_file) != 0))
        note_failure("cannot write");
    close_temporary();
    if (!m_error.empty()) {
        std::remove(tmp.c_str());
        const std::string what = m_error + " archive file \"" + tmp + "\"" + reason_of(m_error_number);
        m_error.clear();
        m_error_number = 0;
        throw PDB_DATABASE_EXCEPTION(what);
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
        const int error_number = errno;
        std::remove(tmp.c_str());
        throw PDB_DATABASE_EXCEPTION("cannot rename \"" + tmp + "\" to \"" + file + "\"" + reason_of(error_number));
    }
}

void PDB_SEGMENT_WRITER::commit()
{
    const std::string file = m_archive.get_segment_file_name(m_kind);
    const std::string tmp = file + ".tmp";
    if (m_file != nullptr || !m_error.empty()) return commit_spilled(file, tmp);
    std::vector<uint8_t> head(MAGIC, MAGIC + 8);
    put_le(head, m_kind, 4);
    put_le(head, m_data.size(), 8);
    uint64_t hash = FNV_START;
    m_data.for_each_block([&hash](const uint8_t* p, size_t n) { hash = fnv1a(p, n, hash); });
    std::vector<uint8_t> tail;
    put_le(tail, hash, 8);
    {
        errno = 0;
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) throw PDB_DATABASE_EXCEPTION("cannot create archive file \"" + tmp + "\"" + reason_of(errno));
        f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        m_data.for_each_block([&f](const uint8_t* p, size_t n) {
            f.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
        });
        f.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
        f.flush();
        if (!f) {
            const int error_number = errno;
            std::remove(tmp.c_str());
            throw PDB_DATABASE_EXCEPTION("cannot write archive file \"" + tmp + "\"" + reason_of(error_number));
        }
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
        const int error_number = errno;
        std::remove(tmp.c_str());
        throw PDB_DATABASE_EXCEPTION("cannot rename \"" + tmp + "\" to \"" + file + "\"" + reason_of(error_number));
    }
}

PDB_SEGMENT_READER::PDB_SEGMENT_READER(PDB_ARCHIVE& archive, PDB_SEGMENT_KIND kind)
    : m_file(archive.get_segment_file_name(kind))
{
    std::string error;
    if (fio_check_user_file(m_file, error)) m_stream.reset(std::fopen(m_file.c_str(), "rb"));
    if (m_stream == nullptr)
        throw PDB_DATABASE_EXCEPTION("cannot read archive file \"" + m_file +
                                     "\": " + (error.empty() ? std::string("cannot open") : error));
    uint8_t head[HEADER_BYTES];
    if (std::fread(head, 1, HEADER_BYTES, m_stream.get()) != HEADER_BYTES || std::memcmp(head, MAGIC, 8) != 0)
        fail("\"" + m_file + "\" is not an archive segment or is truncated");
    if (get_le(head + 8, 4) != kind) fail("\"" + m_file + "\" holds another kind of segment");
    const uint64_t length = get_le(head + 12, 8);
    if (std::fseek(m_stream.get(), 0, SEEK_END) != 0) fail("cannot read archive file \"" + m_file + "\"");
    const long size = std::ftell(m_stream.get());
    if (size < 0 || static_cast<uint64_t>(size) < HEADER_BYTES + TRAILER_BYTES ||
        length != static_cast<uint64_t>(size) - HEADER_BYTES - TRAILER_BYTES)
        fail("\"" + m_file + "\" is truncated or has extra bytes");
    m_end = length;
    // The checksum over the payload, a block at a time, before a byte goes out.
    m_buffer.resize(static_cast<size_t>(std::min<uint64_t>(length + TRAILER_BYTES, PDB_SEGMENT_BYTES::s_BLOCK)));
    if (std::fseek(m_stream.get(), static_cast<long>(HEADER_BYTES), SEEK_SET) != 0)
        fail("cannot read \"" + m_file + "\"");
    uint64_t hash = FNV_START;
    for (uint64_t left = length; left > 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, m_buffer.size()));
        if (std::fread(m_buffer.data(), 1, want, m_stream.get()) != want) fail("cannot read \"" + m_file + "\"");
        hash = fnv1a(m_buffer.data(), want, hash);
        left -= want;
    }
    uint8_t tail[TRAILER_BYTES];
    if (std::fread(tail, 1, TRAILER_BYTES, m_stream.get()) != TRAILER_BYTES || hash != get_le(tail, 8))
        fail("\"" + m_file + "\" is damaged (checksum mismatch)");
    if (std::fseek(m_stream.get(), static_cast<long>(HEADER_BYTES), SEEK_SET) != 0)
        fail("cannot read \"" + m_file + "\"");
}

void PDB_SEGMENT_READER::fail(const std::string& what) const
{
    throw PDB_DATABASE_EXCEPTION(what);
}

size_t PDB_SEGMENT_READER::available()
{
    if (m_buffer_pos == m_buffer_end && m_pos < m_end) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(m_end - m_pos, m_buffer.size()));
        if (std::fread(m_buffer.data(), 1, want, m_stream.get()) != want)
            fail("\"" + m_file + "\" changed while it was read");
        m_buffer_pos = 0;
        m_buffer_end = want;
    }
    return m_buffer_end - m_buffer_pos;
}

void PDB_SEGMENT_READER::need(uint64_t n) const
{
    if (m_end - m_pos < n) fail("\"" + m_file + "\": read past the end of the segment");
}

uint8_t PDB_SEGMENT_READER::read_u8()
{
    need(1);
    available();
    ++m_pos;
    return m_buffer[m_buffer_pos++];
}

uint32_t PDB_SEGMENT_READER::read_u32()
{
    need(4);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(read_u8()) << (8 * i);
    return v;
}

uint64_t PDB_SEGMENT_READER::read_u64()
{
    need(8);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(read_u8()) << (8 * i);
    return v;
}

std::string PDB_SEGMENT_READER::read_string()
{
    const uint64_t n = read_u64();
    need(n);
    std::string s;
    s.reserve(static_cast<size_t>(n));
    while (s.size() < n) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(available(), n - s.size()));
        s.append(reinterpret_cast<const char*>(m_buffer.data() + m_buffer_pos), take);
        m_buffer_pos += take;
        m_pos += take;
    }
    return s;
}

PDB_SEGMENT_READER::LINES PDB_SEGMENT_READER::read_string_lines()
{
    const uint64_t n = read_u64();
    need(n);
    return LINES(*this, n);
}

bool PDB_SEGMENT_READER::LINES::next(std::string_view& line)
{
    m_carry.clear();
    while (m_left > 0) {
        PDB_SEGMENT_READER& r = m_reader;
        const size_t held = static_cast<size_t>(std::min<uint64_t>(r.available(), m_left));
        const char* from = reinterpret_cast<const char*>(r.m_buffer.data() + r.m_buffer_pos);
        const void* newline = std::memchr(from, '\n', held);
        const size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - from) + 1 : held;
        r.m_buffer_pos += take;
        r.m_pos += take;
        m_left -= take;
        if (newline == nullptr) {
            m_carry.append(from, take);
            continue;
        }
        // A line wholly in the buffer goes out without a copy.
        if (m_carry.empty()) line = std::string_view(from, take - 1);
        else line = std::string_view(m_carry.append(from, take - 1));
        return true;
    }
    if (m_carry.empty()) return false;
    line = m_carry;
    return true;
}

void PDB_SEGMENT_READER::expect_end() const
{
    if (!at_end()) throw PDB_DATABASE_EXCEPTION("\"" + m_file + "\": unexpected bytes after the content");
}
