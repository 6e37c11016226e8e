#pragma once
// File-system helpers of the host over std::filesystem. None of them throws
// for a missing file; failures are reported by the return value, except for
// the openers for writing at the end, whose failure is the user's to mend.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
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

// A file that could not be opened for writing: the user named a place that is
// not writable (a folder of that name, no permission, a full disk), so the
// compile stops with an error naming the file rather than an internal error.
class FIO_WRITE_ERROR : public std::runtime_error {
public:
    FIO_WRITE_ERROR(const std::string& path, const std::string& reason);
    const std::string& get_path() const { return m_path; }

private:
    std::string m_path;
};

// Opens path for writing, appending when asked; throws FIO_WRITE_ERROR.
void fio_open_for_writing(std::ofstream& stream, const FIO_PATH& path, bool append);
// The same for C streams: a file the caller closes with fclose.
std::FILE* fio_fopen_for_writing(const FIO_PATH& path);
