#include "fio/fio.h"

#include <system_error>

std::string FIO_PATH::fullpath() const {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(m_path, ec);
    if (ec) return m_path.string();
    return absolute.lexically_normal().string();
}

bool FIO_FILE_SYSTEM::exists(const FIO_PATH& path) {
    std::error_code ec;
    return std::filesystem::exists(path.get_path(), ec) && !ec;
}

bool FIO_FILE_SYSTEM::remove_if_exists(const FIO_PATH& path) {
    std::error_code ec;
    return std::filesystem::remove(path.get_path(), ec) && !ec;
}
