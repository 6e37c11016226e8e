#include "cfg/cfg_file.h"

#include <fstream>
#include <string_view>

namespace {

std::string_view trim(std::string_view text, std::string_view blanks) {
    const std::size_t b = text.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    return text.substr(b, text.find_last_not_of(blanks) - b + 1);
}

}  // namespace

bool cfg_read_settings_file(const std::string& path, const std::function<void(const CFG_FILE_LINE&)>& on_line,
                            const char* blanks) {
    std::ifstream in(path);
    if (!in) return false;
    std::string raw;
    int line_no = 0;
    while (std::getline(in, raw)) {
        ++line_no;
        const std::string_view text = trim(raw, blanks);
        if (text.empty() || text.front() == '#') continue;
        CFG_FILE_LINE line;
        line.where = path + ":" + std::to_string(line_no);
        line.text = std::string(text);
        const std::size_t eq = text.find('=');
        line.has_equals = eq != std::string_view::npos;
        if (line.has_equals) {
            line.key = std::string(trim(text.substr(0, eq), blanks));
            line.value = std::string(trim(text.substr(eq + 1), blanks));
        }
        on_line(line);
    }
    return true;
}
