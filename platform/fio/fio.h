#pragma once
// File-system helpers of the host over std::filesystem. None of them throws
// for a missing file; failures are reported by the return value, except for
// the openers for writing at the end, whose failure is the user's to mend.

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <streambuf>
#include <string_view>

class FIO_PATH
{
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

class FIO_FILE_SYSTEM
{
public:
    static bool exists(const FIO_PATH& path);
    // True when the file was there and is gone now; false when it was absent,
    // is a folder, or could not be removed.
    static bool remove_if_exists(const FIO_PATH& path);
    // Renames a file (copies and removes it across file systems); an
    // existing target is replaced only when overwrite is set. The last flag
    // is the host's and changes nothing here. True when the file moved.
    static bool move(const FIO_PATH& from, const FIO_PATH& to, bool overwrite, bool keep_source_times);
};

// A file that could not be opened for writing: the user named a place that is
// not writable (a folder of that name, no permission, a full disk), so the
// compile stops with an error naming the file rather than an internal error.
class FIO_WRITE_ERROR : public std::runtime_error
{
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

// The whole contents of a text file the user named or the run stored. False,
// with `error` saying why ("is a folder, not a file", "is a named pipe, not a
// regular file", "cannot open: <reason>", ...), when it is not a readable
// regular file: a folder must never read as an empty file, nor a device or a
// pipe as an endless or blocking one. A NUL byte is no text, nor a line of
// more than FIO_MAX_LINE_BYTES: the read stops at the first and fails with
// "NUL byte in line N (is this a text file?)" or "line N is longer than 16
// MiB (is this a text file?)", N also in `bad_line` when given (0 for every
// other failure). No memory is taken for a size the file states but has
// not yet given.
constexpr std::size_t FIO_MAX_LINE_BYTES = std::size_t(16) << 20;
bool fio_read_user_file(const std::string& path, std::string& text, std::string& error, int* bad_line = nullptr);
// The same for a binary file the run stored: regular files only, any byte.
bool fio_read_stored_file(const std::string& path, std::string& bytes, std::string& error);
// The same checks without reading: the path names a regular file that can be
// opened.
bool fio_check_user_file(const std::string& path, std::string& error);

// The physical line of `text` that starts at `pos`, without its break, and
// moves `pos` past the break. A line ends at LF, CRLF or a lone CR, so that
// files from every system read with the same line numbers.
std::string_view fio_next_line(std::string_view text, std::size_t& pos);

// Writes all of `size` bytes to a descriptor, retrying short writes; false,
// with the C library's error number, when the file system refuses some.
bool fio_write_all(int fd, const char* data, std::size_t size, int& error_number);

// The C library's words for an error number ("No space left on device").
std::string fio_error_text(int error_number);

// A stream buffer over a descriptor that keeps the first write error, so
// that a failed write can say why (a full disk, a file-size limit).
class FIO_FD_STREAMBUF : public std::streambuf
{
public:
    explicit FIO_FD_STREAMBUF(int fd);
    // The error number of the first failed write, 0 while all went well.
    int error_number() const { return m_error_number; }

protected:
    int_type overflow(int_type ch) override;
    int sync() override;

private:
    bool drain();
    int m_fd;
    int m_error_number = 0;
    std::string m_buffer;
};

// Files a run writes that are no one's yet (temporaries, chunks, saved
// states): when a signal of fio_interrupt_signals ends the process, the
// handler that fio_install_interrupt_cleanup sets removes every file still
// named here, so that an interrupted run leaves nothing behind. A folder
// named here goes after the files, and only when it is empty. Relative
// names are taken in the current folder at the call.
void fio_remove_on_interrupt(const std::string& path);
void fio_forget_on_interrupt(const std::string& path);
// The signals that end a process by default and come from outside it (a
// user, a scheduler, a timer, a CPU-time limit), for a caller that holds
// them back while files replace each other.
void fio_interrupt_signals(sigset_t& signals);
// Holds those signals back while it lives, so that one that comes meanwhile
// finds a step of several whole: all files replaced or none, a file made
// and named for removal. The earlier mask comes back at its end, and with
// it a signal that waited.
class FIO_INTERRUPTS_HELD
{
public:
    FIO_INTERRUPTS_HELD();
    ~FIO_INTERRUPTS_HELD();
    FIO_INTERRUPTS_HELD(const FIO_INTERRUPTS_HELD&) = delete;
    FIO_INTERRUPTS_HELD& operator=(const FIO_INTERRUPTS_HELD&) = delete;

private:
    sigset_t m_before;
};
// For a program's entry: those signals remove the files named above, then
// end the process as the signal would have. A signal that is not in its
// default state (ignored, or handled by a profiler) is left as it is.
void fio_install_interrupt_cleanup();
// For a program's entry: a write to a pipe nobody reads any more, or past
// the file-size limit, fails with its reason (EPIPE, EFBIG) instead of
// ending the process, so that the writer names the file and cleans up.
void fio_ignore_write_signals();

// For a program's entry, before it opens anything: a standard stream the
// caller closed (`>&-`, `2>&-`) is opened on the null device, so that no
// file the program opens takes its number, and with it the text meant for
// the console. False when the null device cannot be opened.
bool fio_open_closed_standard_streams();

// A temporary file beside a target, named target + ".tmp.XXXXXX" (with the
// target's name cut short where that would be too long a name). It is
// locked while this object holds it: a temporary that nobody holds locked
// was left by a compile that was killed, and the next writer of the same
// target removes it. Removed on destruction unless renamed over the target.
class FIO_TEMP_FILE
{
public:
    FIO_TEMP_FILE() = default;
    ~FIO_TEMP_FILE();
    FIO_TEMP_FILE(const FIO_TEMP_FILE&) = delete;
    FIO_TEMP_FILE& operator=(const FIO_TEMP_FILE&) = delete;

    // False, with the reason in `error`.
    bool create(const std::string& target, std::string& error);
    const std::string& get_name() const { return m_name; }
    int get_fd() const { return m_fd; }
    // Closes and renames over the target; false, with `error`, when either
    // fails (the temporary file is removed then).
    bool commit(const std::string& target, std::string& error);
    void discard();

private:
    std::string m_name;
    std::string m_full_name;
    int m_fd = -1;
};

// Removes the temporaries of `target` that no live writer holds.
void fio_remove_stale_temporaries(const std::string& target);

// True when a file can be made in `folder` and take a byte; false, with the
// reason in `error` (no permission, a read-only or full file system).
bool fio_check_folder_writable(const std::string& folder, std::string& error);

// The name a link stands for, followed link by link: the file it names, also
// one not there yet (which writing through the link makes). False, with the
// reason in `error`, for a loop of links ("Too many levels of symbolic
// links") or a link that cannot be read.
bool fio_follow_links(std::filesystem::path& path, std::string& error);

// A file written under a temporary name beside its target and renamed over
// the target only once complete: a failed or partial write leaves an older
// target as it was, and opening early finds a target that cannot be written
// before any work is done. The temporary file is removed unless committed.
// A target that is there and is neither a file nor a folder (a device, a
// named pipe) is written in place instead, as a shell's redirection would:
// it cannot be replaced without destroying what it is, so `-o /dev/null`
// discards the text. A link is written through: the file it names is
// replaced or made, and the link stays.
class FIO_REPLACING_FILE
{
public:
    FIO_REPLACING_FILE() = default;
    ~FIO_REPLACING_FILE();
    FIO_REPLACING_FILE(const FIO_REPLACING_FILE&) = delete;
    FIO_REPLACING_FILE& operator=(const FIO_REPLACING_FILE&) = delete;

    // False, with `error` naming the target and the reason, when the target
    // is a folder, an existing file that is not writable, a named pipe that
    // nobody reads, a loop of links, or in a folder where no file can be
    // created.
    bool open(const std::string& target, std::string& error);
    bool is_open() const { return m_out != nullptr; }
    // True for a device or a named pipe: the text goes to it as written.
    bool writes_in_place() const { return m_in_place_fd >= 0; }
    const std::string& get_target() const { return m_target; }
    // The temporary file (or the target written in place); valid between
    // open and commit.
    std::ostream& stream();
    // Flushes the text and checks that all of it was written, so that
    // several files can all be complete before any is committed; false,
    // with `error` naming the target and the reason (the temporary file is
    // removed then).
    bool finish(std::string& error);
    // Finishes and renames over the target; false, with `error` naming the
    // target and the reason, when the text could not be written (the
    // temporary file is removed then).
    bool commit(std::string& error);
    void discard();

private:
    bool open_in_place(const std::string& target, const std::filesystem::path& path, std::string& error);

    std::string m_target;
    FIO_TEMP_FILE m_temp;
    int m_in_place_fd = -1;
    std::unique_ptr<FIO_FD_STREAMBUF> m_buffer;
    std::unique_ptr<std::ostream> m_out;
};
