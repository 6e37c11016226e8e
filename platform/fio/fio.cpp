#include "fio/fio.h"

#include <cerrno>
#include <cstring>
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

namespace {
// The reason of the last failed open, as the C library words it.
std::string open_failure_reason(int error) {
    return error != 0 ? std::strerror(error) : "cannot be opened";
}
}  // namespace

FIO_WRITE_ERROR::FIO_WRITE_ERROR(const std::string& path, const std::string& reason)
    : std::runtime_error("cannot write file '" + path + "': " + reason), m_path(path) {}

void fio_open_for_writing(std::ofstream& stream, const FIO_PATH& path, bool append) {
    errno = 0;
    stream.open(path.get_path(), std::ios::out | (append ? std::ios::app : std::ios::trunc));
    if (!stream.is_open()) throw FIO_WRITE_ERROR(path.str(), open_failure_reason(errno));
}

std::FILE* fio_fopen_for_writing(const FIO_PATH& path) {
    errno = 0;
    std::FILE* file = std::fopen(path.str().c_str(), "w");
    if (file == nullptr) throw FIO_WRITE_ERROR(path.str(), open_failure_reason(errno));
    return file;
}
