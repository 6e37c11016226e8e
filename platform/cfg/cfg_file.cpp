#include "cfg/cfg_file.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "fio/fio.h"

namespace {

bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::string_view cfg_trim(std::string_view text, const char* blanks)
{
    const std::size_t b = text.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    return text.substr(b, text.find_last_not_of(blanks) - b + 1);
}

std::optional<bool> cfg_parse_switch(std::string_view text)
{
    const std::string_view v = cfg_trim(text);
    if (iequals(v, "on") || iequals(v, "true") || v == "1") return true;
    if (iequals(v, "off") || iequals(v, "false") || v == "0") return false;
    return std::nullopt;
}

std::optional<int> cfg_parse_int(std::string_view text)
{
    // strtol needs a terminated string.
    const std::string digits(cfg_trim(text));
    if (digits.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(digits.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

bool cfg_read_settings_file(const std::string& path, const std::function<void(const CFG_FILE_LINE&)>& on_line,
                            const char* blanks, std::string* error)
{
    std::string contents, why;
    if (!fio_read_user_file(path, contents, why)) {
        if (error) *error = why;
        return false;
    }
    const std::string_view all(contents);
    // A byte-order mark that an editor put first is no part of the first key.
    constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
    std::size_t pos = all.substr(0, utf8_bom.size()) == utf8_bom ? utf8_bom.size() : 0;
    int line_no = 0;
    while (pos < all.size()) {
        ++line_no;
        const std::string_view text = cfg_trim(fio_next_line(all, pos), blanks);
        if (text.empty() || text.front() == '#') continue;
        CFG_FILE_LINE line;
        line.where = path + ":" + std::to_string(line_no);
        line.text = std::string(text);
        const std::size_t eq = text.find('=');
        line.has_equals = eq != std::string_view::npos;
        if (line.has_equals) {
            line.key = std::string(cfg_trim(text.substr(0, eq), blanks));
            line.value = std::string(cfg_trim(text.substr(eq + 1), blanks));
        }
        on_line(line);
    }
    return true;
}
