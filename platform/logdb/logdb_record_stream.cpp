#include "logdb/logdb_record_stream.h"

#include <array>
#include <cstring>

namespace {

std::array<uint32_t, 256> make_crc_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1U) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

class BYTE_WRITER : public LOGDB_FIELD_VISITOR
{
public:
    explicit BYTE_WRITER(std::string& out) : m_out(out) {}
    void put(uint64_t value, int bytes)
    {
        for (int i = 0; i < bytes; ++i) m_out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFU));
    }
    void field(uint32_t& value) override { put(value, 4); }
    void field(int32_t& value) override { put(static_cast<uint32_t>(value), 4); }
    void field(uint16_t& value) override { put(value, 2); }
    void field(uint64_t& value) override { put(value, 8); }
    void field(bool& value) override { put(value ? 1 : 0, 1); }
    void field(std::string& value) override
    {
        put(value.size(), 4);
        m_out += value;
    }
    void field(std::vector<std::string>& value) override { list(value); }
    void field(std::vector<uint32_t>& value) override { list(value); }
    void field(std::vector<int32_t>& value) override { list(value); }
    void field(std::vector<uint16_t>& value) override { list(value); }

private:
    template <typename T>
    void list(std::vector<T>& items)
    {
        put(items.size(), 4);
        for (T& item : items) field(item);
    }
    std::string& m_out;
};

class BYTE_READER : public LOGDB_FIELD_VISITOR
{
public:
    BYTE_READER(std::string_view bytes, std::size_t pos, std::size_t end) : m_bytes(bytes), m_pos(pos), m_end(end) {}
    bool failed() const { return !m_reason.empty(); }
    const std::string& reason() const { return m_reason; }
    std::size_t pos() const { return m_pos; }
    std::size_t fault_pos() const { return m_fault_pos; }

    void field(uint32_t& value) override { value = static_cast<uint32_t>(get(4)); }
    void field(int32_t& value) override { value = static_cast<int32_t>(static_cast<uint32_t>(get(4))); }
    void field(uint16_t& value) override { value = static_cast<uint16_t>(get(2)); }
    void field(uint64_t& value) override { value = get(8); }
    void field(bool& value) override
    {
        const std::size_t at = m_pos;
        const uint64_t byte = get(1);
        if (byte > 1) fail(at, "bad boolean value " + std::to_string(byte));
        value = byte == 1;
    }
    void field(std::string& value) override
    {
        const uint32_t size = count(1);
        if (failed()) return;
        value.assign(m_bytes.substr(m_pos, size));
        m_pos += size;
    }
    void field(std::vector<std::string>& value) override { list(value, 4); }
    void field(std::vector<uint32_t>& value) override { list(value, 4); }
    void field(std::vector<int32_t>& value) override { list(value, 4); }
    void field(std::vector<uint16_t>& value) override { list(value, 2); }

private:
    void fail(std::size_t at, const std::string& reason)
    {
        if (failed()) return;
        m_fault_pos = at;
        m_reason = reason;
    }
    uint64_t get(int bytes)
    {
        if (failed()) return 0;
        if (m_end - m_pos < static_cast<std::size_t>(bytes)) {
            fail(m_pos, "field runs past the end of the record");
            return 0;
        }
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(static_cast<unsigned char>(m_bytes[m_pos + i])) << (8 * i);
        m_pos += bytes;
        return value;
    }
    // A count of items of at least item_bytes each that fit in the record.
    uint32_t count(std::size_t item_bytes)
    {
        const std::size_t at = m_pos;
        const uint32_t n = static_cast<uint32_t>(get(4));
        if (!failed() && n > (m_end - m_pos) / item_bytes)
            fail(at, "count " + std::to_string(n) + " runs past the end of the record");
        return failed() ? 0 : n;
    }
    template <typename T>
    void list(std::vector<T>& items, std::size_t item_bytes)
    {
        const uint32_t n = count(item_bytes);
        items.clear();
        items.reserve(n);
        for (uint32_t i = 0; i < n && !failed(); ++i) field(items.emplace_back());
    }

    std::string_view m_bytes;
    std::size_t m_pos;
    std::size_t m_end;
    std::size_t m_fault_pos = 0;
    std::string m_reason;
};

void put_u32_at(std::string& out, std::size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
}

}  // namespace

uint32_t logdb_crc32(const void* data, std::size_t size)
{
    static const std::array<uint32_t, 256> table = make_crc_table();
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t c = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xFFU] ^ (c >> 8);
    return c ^ 0xFFFFFFFFU;
}

uint32_t logdb_read_u32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

namespace {

// magic, length 0 (filled in at the end), kind, entry id
void logdb_put_record_head(BYTE_WRITER& writer, uint32_t magic, uint32_t kind, int32_t entry_id)
{
    writer.put(magic, 4);
    writer.put(0, 4);
    writer.put(kind, 4);
    writer.put(static_cast<uint32_t>(entry_id), 4);
}

// Sets the length and appends the CRC; empty when over the bound.
std::string logdb_seal_record(std::string& out, BYTE_WRITER& writer)
{
    if (out.size() + 4 > LOGDB_MAX_RECORD_BYTES) return std::string();
    put_u32_at(out, 4, static_cast<uint32_t>(out.size() + 4));
    writer.put(logdb_crc32(out.data(), out.size()), 4);
    return out;
}

}  // namespace

std::string logdb_encode_record(const LOGDB_FSYN_LOG_ENTRY& record)
{
    std::string out;
    BYTE_WRITER writer(out);
    logdb_put_record_head(writer, LOGDB_RECORD_MAGIC, record.m_type, record.m_entry_id);
    // The writer only reads the fields; the walk is shared with the reader.
    const_cast<LOGDB_FSYN_LOG_ENTRY&>(record).visit_fields(writer);
    return logdb_seal_record(out, writer);
}

std::string logdb_encode_chained_record(const LOGDB_FSYN_LOG_ENTRY* record, uint32_t number, uint32_t previous_crc,
                                        uint32_t closing_count)
{
    std::string out;
    BYTE_WRITER writer(out);
    if (record != nullptr) {
        logdb_put_record_head(writer, LOGDB_CHAINED_RECORD_MAGIC, record->m_type, record->m_entry_id);
        const_cast<LOGDB_FSYN_LOG_ENTRY*>(record)->visit_fields(writer);
    } else {
        logdb_put_record_head(writer, LOGDB_CHAINED_RECORD_MAGIC, LOGDB_CLOSING_RECORD_KIND,
                              static_cast<int32_t>(closing_count));
    }
    writer.put(number, 4);
    writer.put(previous_crc, 4);
    return logdb_seal_record(out, writer);
}

std::string logdb_check_record_prefix(const unsigned char* prefix, uint64_t available)
{
    const uint32_t magic = logdb_read_u32(prefix);
    if (magic != LOGDB_RECORD_MAGIC && magic != LOGDB_CHAINED_RECORD_MAGIC) return "bad record magic";
    const uint32_t length = logdb_read_u32(prefix + 4);
    const uint32_t min_bytes = LOGDB_RECORD_MIN_BYTES + (magic == LOGDB_CHAINED_RECORD_MAGIC ? LOGDB_CHAIN_BYTES : 0);
    if (length < min_bytes || length > LOGDB_MAX_RECORD_BYTES)
        return "record length " + std::to_string(length) + " out of range";
    if (length > available)
        return "record of " + std::to_string(length) + " bytes runs past the end of the file (" +
               std::to_string(available) + " left)";
    return std::string();
}

LOGDB_FSYN_LOG_ENTRY_OWNER logdb_decode_record(std::string_view bytes, std::size_t& fault_pos, std::string& reason,
                                               LOGDB_RECORD_LINK* link)
{
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t crc_at = bytes.size() - 4;
    if (logdb_crc32(raw, crc_at) != logdb_read_u32(raw + crc_at)) {
        // A changed length moves the CRC too: the record's start is the place.
        fault_pos = 0;
        reason = "record fails its CRC check";
        return nullptr;
    }
    const bool chained = logdb_read_u32(raw) == LOGDB_CHAINED_RECORD_MAGIC;
    const std::size_t fields_end = chained ? crc_at - LOGDB_CHAIN_BYTES : crc_at;
    const uint32_t type = logdb_read_u32(raw + 8);
    const bool closing = chained && type == LOGDB_CLOSING_RECORD_KIND;
    if (link != nullptr) {
        link->chained = chained;
        link->closing = closing;
        link->number = chained ? logdb_read_u32(raw + fields_end) : 0;
        link->previous_crc = chained ? logdb_read_u32(raw + fields_end + 4) : 0;
        link->crc = logdb_read_u32(raw + crc_at);
    }
    const uint32_t made_type = closing ? static_cast<uint32_t>(LOGDB_FSYN_LOG_OPERATION_END_OF_LOG) : type;
    LOGDB_FSYN_LOG_ENTRY_OWNER record =
        logdb_make_fsyn_log_entry(made_type, static_cast<int32_t>(logdb_read_u32(raw + 12)));
    if (!record) {
        fault_pos = 8;
        reason = "unknown record type " + std::to_string(type);
        return nullptr;
    }
    BYTE_READER reader(bytes, 16, fields_end);
    record->visit_fields(reader);
    if (!reader.failed() && reader.pos() != fields_end) {
        fault_pos = reader.pos();
        reason = std::to_string(fields_end - reader.pos()) + " bytes after the last field";
        return nullptr;
    }
    if (reader.failed()) {
        fault_pos = reader.fault_pos();
        reason = reader.reason();
        return nullptr;
    }
    if (const char* fault = record->check_fields()) {
        fault_pos = 16;
        reason = fault;
        return nullptr;
    }
    return record;
}
