#include "logdb/logdb_text.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace {

std::string quote(const std::string& text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\x%02x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

class TEXT_WRITER : public LOGDB_FIELD_VISITOR
{
public:
    std::string m_line;
    void add(const std::string& token) { m_line += (m_line.empty() ? "" : " ") + token; }
    void field(uint32_t& value) override { add(std::to_string(value)); }
    void field(int32_t& value) override { add(std::to_string(value)); }
    void field(uint16_t& value) override { add(std::to_string(value)); }
    void field(uint64_t& value) override
    {
        char buf[24];
        std::snprintf(buf, sizeof(buf), "0x%" PRIx64, value);
        add(buf);
    }
    void field(bool& value) override { add(value ? "1" : "0"); }
    void field(std::string& value) override { add(quote(value)); }
    void field(std::vector<std::string>& value) override { list(value); }
    void field(std::vector<uint32_t>& value) override { list(value); }
    void field(std::vector<int32_t>& value) override { list(value); }
    void field(std::vector<uint16_t>& value) override { list(value); }

private:
    template <typename T>
    void list(std::vector<T>& items)
    {
        TEXT_WRITER inner;
        for (T& item : items) inner.field(item);
        add("[" + inner.m_line + "]");
    }
};

class TEXT_READER : public LOGDB_FIELD_VISITOR
{
public:
    explicit TEXT_READER(std::string_view line) : m_line(line) {}
    const std::string& error() const { return m_error; }
    bool failed() const { return !m_error.empty(); }
    // True when only blanks are left.
    bool at_end()
    {
        skip_blanks();
        return m_pos == m_line.size();
    }
    void fail(const std::string& reason)
    {
        if (m_error.empty()) m_error = "column " + std::to_string(m_pos + 1) + ": " + reason;
    }

    void field(uint32_t& value) override { value = static_cast<uint32_t>(integer(0, UINT32_MAX)); }
    void field(int32_t& value) override { value = static_cast<int32_t>(integer(INT32_MIN, INT32_MAX)); }
    void field(uint16_t& value) override { value = static_cast<uint16_t>(integer(0, UINT16_MAX)); }
    void field(uint64_t& value) override;
    void field(bool& value) override { value = integer(0, 1) == 1; }
    void field(std::string& value) override;
    void field(std::vector<std::string>& value) override { list(value); }
    void field(std::vector<uint32_t>& value) override { list(value); }
    void field(std::vector<int32_t>& value) override { list(value); }
    void field(std::vector<uint16_t>& value) override { list(value); }

    int64_t integer(int64_t low, int64_t high);

private:
    void skip_blanks()
    {
        while (m_pos < m_line.size() && (m_line[m_pos] == ' ' || m_line[m_pos] == '\t')) ++m_pos;
    }
    bool take(char c)
    {
        skip_blanks();
        if (m_pos < m_line.size() && m_line[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    std::string_view token()
    {
        skip_blanks();
        const std::size_t start = m_pos;
        while (m_pos < m_line.size() && m_line[m_pos] != ' ' && m_line[m_pos] != '\t' && m_line[m_pos] != ']') ++m_pos;
        return m_line.substr(start, m_pos - start);
    }
    template <typename T>
    void list(std::vector<T>& items)
    {
        items.clear();
        if (failed()) return;
        if (!take('[')) return fail("expected a list in [ ]");
        while (!failed() && !take(']')) {
            if (at_end()) return fail("unterminated list");
            field(items.emplace_back());
        }
    }
    char escape(char c);

    std::string_view m_line;
    std::size_t m_pos = 0;
    std::string m_error;
};

int64_t TEXT_READER::integer(int64_t low, int64_t high)
{
    if (failed()) return 0;
    const std::string text(token());
    if (text.empty()) {
        fail("missing field");
        return 0;
    }
    std::size_t i = text[0] == '-' ? 1 : 0;
    int64_t value = 0;
    if (i == text.size()) fail("not a number: " + text);
    for (; i < text.size() && !failed(); ++i) {
        if (text[i] < '0' || text[i] > '9' || value > (int64_t{1} << 40)) fail("not a number in range: " + text);
        value = value * 10 + (text[i] - '0');
    }
    if (text[0] == '-') value = -value;
    if (!failed() && (value < low || value > high)) fail("number out of range: " + text);
    return failed() ? 0 : value;
}

void TEXT_READER::field(uint64_t& value)
{
    value = 0;
    if (failed()) return;
    const std::string text(token());
    if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return fail("expected a mask in 0x hex: " + text);
    for (std::size_t i = 2; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return fail("expected a mask in 0x hex: " + text);
        value = value << 4 | static_cast<uint64_t>(digit);
    }
}

char TEXT_READER::escape(char c)
{
    switch (c) {
    case 'n': return '\n';
    case 't': return '\t';
    case 'r': return '\r';
    case '"':
    case '\\': return c;
    case 'x': {
        if (m_line.size() - m_pos < 2) break;
        const std::string hex(m_line.substr(m_pos, 2));
        char* end = nullptr;
        const long byte = std::strtol(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 2) break;
        m_pos += 2;
        return static_cast<char>(byte);
    }
    default: break;
    }
    fail("bad escape in string");
    return 0;
}

void TEXT_READER::field(std::string& value)
{
    value.clear();
    if (failed()) return;
    if (!take('"')) return fail("expected a string in double quotes");
    while (!failed()) {
        if (m_pos == m_line.size()) return fail("unterminated string");
        const char c = m_line[m_pos++];
        if (c == '"') return;
        if (c != '\\') {
            value += c;
        } else if (m_pos == m_line.size()) {
            return fail("unterminated string");
        } else {
            const char e = escape(m_line[m_pos++]);
            if (!failed()) value += e;
        }
    }
}

}  // namespace

std::string logdb_record_to_text(const LOGDB_FSYN_LOG_ENTRY& record)
{
    TEXT_WRITER writer;
    writer.add(std::to_string(record.m_type));
    writer.add(std::to_string(record.m_entry_id));
    // The writer only reads the fields; the walk is shared with the reader.
    const_cast<LOGDB_FSYN_LOG_ENTRY&>(record).visit_fields(writer);
    return writer.m_line;
}

LOGDB_FSYN_LOG_ENTRY_OWNER logdb_record_from_text(std::string_view line, std::string& error)
{
    TEXT_READER reader(line);
    const auto type = static_cast<uint32_t>(reader.integer(0, UINT32_MAX));
    const auto entry_id = static_cast<int32_t>(reader.integer(INT32_MIN, INT32_MAX));
    LOGDB_FSYN_LOG_ENTRY_OWNER record;
    if (!reader.failed()) {
        record = logdb_make_fsyn_log_entry(type, entry_id);
        if (!record) reader.fail("unknown record type " + std::to_string(type));
    }
    if (record) record->visit_fields(reader);
    if (!reader.failed() && !reader.at_end()) reader.fail("text after the last field");
    if (!reader.failed() && record->check_fields()) reader.fail(record->check_fields());
    if (reader.failed()) {
        error = reader.error();
        return nullptr;
    }
    return record;
}
