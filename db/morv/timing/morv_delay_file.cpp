#include "morv/timing/morv_delay_file.h"

#include <charconv>
#include <cstring>

#include "cdb/cdb_types.h"

namespace {

// The thirteen tokens of a record, in order.
enum FIELD : int
{
    SOURCE_ID,
    SOURCE_OPEN,
    SOURCE_PORT,
    SOURCE_INDEX,
    SOURCE_CLOSE,
    ARROW,
    DEST_ID,
    DEST_OPEN,
    DEST_PORT,
    DEST_INDEX,
    DEST_CLOSE,
    EQUALS,
    DELAY,
    FIELD_COUNT
};

const char* punctuation_of(int field)
{
    switch (field) {
    case SOURCE_OPEN:
    case DEST_OPEN: return "(";
    case SOURCE_CLOSE:
    case DEST_CLOSE: return ")";
    case ARROW: return "->";
    case EQUALS: return "=";
    default: return nullptr;
    }
}

const char* name_of(int field)
{
    switch (field) {
    case SOURCE_ID: return "source atom id";
    case SOURCE_PORT: return "source port type";
    case SOURCE_INDEX: return "source port index";
    case DEST_ID: return "destination atom id";
    case DEST_PORT: return "destination port type";
    case DEST_INDEX: return "destination port index";
    default: return "delay";
    }
}

// The largest value a numeric field may hold.
int32_t limit_of(int field)
{
    if (field == SOURCE_PORT) return DB_MAX_OUTPUT_PORT_TYPE;
    if (field == DEST_PORT) return DB_MAX_INPUT_PORT_TYPE;
    return INT32_MAX;
}

// Splits a stream into whitespace-separated tokens of bounded length,
// counting lines. Any byte that is not ASCII whitespace belongs to a token,
// so binary garbage ends up in tokens that fail the checks.
class TOKENIZER
{
public:
    explicit TOKENIZER(std::istream& in) : m_buf(in.rdbuf()) {}

    // False at the end of the stream; too_long when the token did not fit.
    bool next(std::string& token, bool& too_long)
    {
        token.clear();
        too_long = false;
        int c = skip_space();
        if (c == EOF_CHAR) return false;
        m_token_line = m_line;
        while (c != EOF_CHAR && !is_space(c)) {
            if (static_cast<int>(token.size()) < MORV_DELAY_FILE_MAX_TOKEN) token.push_back(static_cast<char>(c));
            else too_long = true;
            m_buf->sbumpc();
            c = m_buf->sgetc();
        }
        return true;
    }
    int token_line() const { return m_token_line; }
    int line() const { return m_line; }

private:
    static constexpr int EOF_CHAR = std::char_traits<char>::eof();
    static bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    int skip_space()
    {
        if (m_buf == nullptr) return EOF_CHAR;
        int c = m_buf->sgetc();
        while (c != EOF_CHAR && is_space(c)) {
            if (c == '\n') ++m_line;
            m_buf->sbumpc();
            c = m_buf->sgetc();
        }
        return c;
    }

    std::streambuf* m_buf;
    int m_line = 1;
    int m_token_line = 1;
};

bool fail(MORV_DELAY_FILE_FAULT* fault, int line, const std::string& reason)
{
    if (fault != nullptr) {
        fault->m_line = line;
        fault->m_reason = reason;
    }
    return false;
}

// The whole token is a decimal number within [0, limit].
bool parse_field(const std::string& token, int field, int32_t& value, std::string& reason)
{
    const char* begin = token.data();
    const char* end = begin + token.size();
    int64_t wide = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, wide);
    if (ec == std::errc::result_out_of_range ||
        (ec == std::errc() && ptr == end && (wide > INT32_MAX || wide < INT32_MIN))) {
        reason = std::string(name_of(field)) + " out of range";
        return false;
    }
    if (ec != std::errc() || ptr != end) {
        reason = std::string("expected the ") + name_of(field) + ", found a token that is not a number";
        return false;
    }
    if (wide < 0 || wide > limit_of(field)) {
        reason = std::string(name_of(field)) + " " + token + (wide < 0 ? " is negative" : " is out of range");
        return false;
    }
    value = static_cast<int32_t>(wide);
    return true;
}

void store(MORV_DELAY_RECORD& record, int field, int32_t value)
{
    switch (field) {
    case SOURCE_ID: record.m_source_id = value; break;
    case SOURCE_PORT: record.m_source_port = value; break;
    case SOURCE_INDEX: record.m_source_index = value; break;
    case DEST_ID: record.m_dest_id = value; break;
    case DEST_PORT: record.m_dest_port = value; break;
    case DEST_INDEX: record.m_dest_index = value; break;
    default: record.m_delay = value; break;
    }
}

}  // namespace

bool morv_read_delay_records(std::istream& in, const std::function<void(const MORV_DELAY_RECORD&)>& on_record,
                             MORV_DELAY_FILE_FAULT* fault)
{
    TOKENIZER tokens(in);
    std::string token;
    bool too_long = false;
    MORV_DELAY_RECORD record;
    int field = SOURCE_ID;
    while (tokens.next(token, too_long)) {
        const int line = tokens.token_line();
        if (too_long)
            return fail(fault, line,
                        "a token longer than " + std::to_string(MORV_DELAY_FILE_MAX_TOKEN) + " characters");
        if (const char* expected = punctuation_of(field)) {
            if (token != expected) return fail(fault, line, std::string("expected '") + expected + "'");
        } else {
            int32_t value = 0;
            std::string reason;
            if (!parse_field(token, field, value, reason)) return fail(fault, line, reason);
            store(record, field, value);
            record.m_line = line;
        }
        if (++field == FIELD_COUNT) {
            on_record(record);
            field = SOURCE_ID;
        }
    }
    if (field != SOURCE_ID) return fail(fault, tokens.line(), "the file ends inside a record");
    return true;
}
