#pragma once
// File-system helpers of the host over std::filesystem. None of them throws
// for a missing file; failures are reported by the return value.

#include <filesystem>
#include <string>

class FIO_PATH {
public:
    FIO_PATH() = default;
    FIO_PATH(const char* path) : m_path(path ? path : "") {}
    FIO_PATH(const std::string& path) : m_path(path) {}
    FIO_PATH(const std::filesystem::path& path) : m_path(path) {}

    const std::filesystem::path& get_path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    // Absolute, lexically normalised form; the path itself when that fails.
    std::string fullpath() const;
    FIO_PATH operator/(const FIO_PATH& rhs) const { return FIO_PATH(m_path / rhs.m_path); }
    bool empty() const { return m_path.empty(); }

private:
    std::filesystem::path m_path;
};

class FIO_FILE_SYSTEM {
public:
    static bool exists(const FIO_PATH& path);
    // True when the file was there and is gone now; false when it was absent
    // or could not be removed.
    static bool remove_if_exists(const FIO_PATH& path);
};
