#include "cut/cut_mif_reader.h"

#include <cctype>
#include <fstream>
#include <optional>
#include <string_view>

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// A whole unsigned decimal number, at most 2^64 - 1.
std::optional<uint64_t> decimal(std::string_view s)
{
    s = trim(s);
    if (s.empty() || s.size() > 20) return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return std::nullopt;
        v = v * 10 + digit;
    }
    return v;
}

// A whole unsigned decimal number of any size, as little-endian 32-bit
// limbs without high zero limbs; at most `max_digits` digits.
std::optional<std::vector<uint32_t>> big_decimal(std::string_view s, size_t max_digits)
{
    s = trim(s);
    if (s.empty() || s.size() > max_digits) return std::nullopt;
    std::vector<uint32_t> limbs;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        uint64_t carry = static_cast<uint64_t>(c - '0');
        for (uint32_t& limb : limbs) {
            const uint64_t v = uint64_t{limb} * 10 + carry;
            limb = static_cast<uint32_t>(v);
            carry = v >> 32;
        }
        if (carry != 0) limbs.push_back(static_cast<uint32_t>(carry));
    }
    return limbs;
}

// Number of significant bits.
size_t bit_length(const std::vector<uint32_t>& limbs)
{
    if (limbs.empty()) return 0;
    size_t bits = 32 * (limbs.size() - 1);
    for (uint32_t top = limbs.back(); top != 0; top >>= 1) ++bits;
    return bits;
}

class MIF_READER
{
public:
    MIF_READER(const std::string& path, int width, int depth) : m_path(path), m_width(width), m_depth(depth) {}

    CUT_MIF_CONTENTS read()
    {
        m_in.open(m_path, std::ios::binary);
        if (!m_in) throw CUT_MIF_ERROR(m_path + ": cannot be read");
        CUT_MIF_CONTENTS c;
        c.width = header_number("WIDTH", 1, CUT_MIF_MAX_WIDTH, m_width);
        c.depth = header_number("DEPTH", 1, 1 << 24, m_depth);
        header_word("ADDRESS_RADIX=UNS;");
        header_word("DATA_RADIX=UNS;");
        header_word("CONTENT BEGIN");
        for (int a = 0; a < c.depth; ++a) content_line(a, c);
        if (next_line() != "END;") fail("expected 'END;' after the last address " + std::to_string(c.depth - 1));
        return c;
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        throw CUT_MIF_ERROR(m_path + ":" + std::to_string(m_line) + ": " + what);
    }

    // The next line that is neither empty nor a comment; "" at the end.
    std::string next_line()
    {
        while (std::getline(m_in, m_text)) {
            ++m_line;
            const std::string_view t = trim(m_text);
            if (t.empty() || t.substr(0, 2) == "--") continue;
            return std::string(t);
        }
        ++m_line;
        return std::string();
    }

    void header_word(const std::string& expected)
    {
        const std::string line = next_line();
        if (line.empty()) fail("the file ends before '" + expected + "'");
        if (line != expected) fail("expected '" + expected + "', found '" + line + "'");
    }

    int header_number(const std::string& key, int lo, int hi, int expected)
    {
        const std::string line = next_line();
        if (line.empty()) fail("the file ends before '" + key + "='");
        const std::string prefix = key + "=";
        if (line.rfind(prefix, 0) != 0 || line.back() != ';')
            fail("expected '" + key + "=<number>;', found '" + line + "'");
        const std::optional<uint64_t> v =
            decimal(std::string_view(line).substr(prefix.size(), line.size() - prefix.size() - 1));
        if (!v || *v < uint64_t(lo) || *v > uint64_t(hi))
            fail(key + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                 ", found '" + line + "'");
        if (expected >= 0 && *v != uint64_t(expected))
            fail(key + " is " + std::to_string(*v) + " where " + std::to_string(expected) + " is expected");
        return static_cast<int>(*v);
    }

    void content_line(int address, CUT_MIF_CONTENTS& c)
    {
        const std::string line = next_line();
        if (line.empty())
            fail("the file ends after " + std::to_string(address) + " of " + std::to_string(c.depth) + " addresses");
        const size_t colon = line.find(':');
        if (colon == std::string::npos || line.back() != ';')
            fail("expected '<address> : <word>;' for address " + std::to_string(address) + ", found '" + line + "'");
        const std::optional<uint64_t> a = decimal(std::string_view(line).substr(0, colon));
        // A decimal number of w bits has fewer than w * 0.302 + 1 digits.
        const size_t max_digits = static_cast<size_t>(c.width) * 302 / 1000 + 2;
        const std::optional<std::vector<uint32_t>> w =
            big_decimal(std::string_view(line).substr(colon + 1, line.size() - colon - 2), max_digits);
        if (!a || !w) fail("expected '<address> : <word>;' in unsigned decimal, found '" + line + "'");
        if (*a != uint64_t(address))
            fail("address " + std::to_string(*a) + " where address " + std::to_string(address) +
                 " comes next (one line per address, in order)");
        if (bit_length(*w) > static_cast<size_t>(c.width))
            fail("word " + std::string(trim(std::string_view(line).substr(colon + 1, line.size() - colon - 2))) +
                 " at address " + std::to_string(address) + " does not fit in " + std::to_string(c.width) + " bits");
        std::vector<bool> bits(static_cast<size_t>(c.width), false);
        for (size_t k = 0; k < bits.size() && k / 32 < w->size(); ++k) bits[k] = ((*w)[k / 32] >> (k % 32)) & 1u;
        uint64_t low = 0;
        for (size_t i = 0; i < 2 && i < w->size(); ++i) low |= uint64_t{(*w)[i]} << (32 * i);
        c.words.push_back(low);
        c.bits.push_back(std::move(bits));
    }

    std::string m_path;
    int m_width, m_depth;
    std::ifstream m_in;
    std::string m_text;
    int m_line = 0;
};

}  // namespace

std::vector<bool> CUT_MIF_CONTENTS::column(int bit) const
{
    std::vector<bool> entries;
    for (const std::vector<bool>& word : bits) entries.push_back(word.at(static_cast<size_t>(bit)));
    return entries;
}

CUT_MIF_CONTENTS cut_read_mif_file(const std::string& path, int width, int depth)
{
    return MIF_READER(path, width, depth).read();
}
