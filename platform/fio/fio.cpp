#include "fio/fio.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

std::string FIO_PATH::fullpath() const
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(m_path, ec);
    if (ec) return m_path.string();
    return absolute.lexically_normal().string();
}

bool FIO_FILE_SYSTEM::exists(const FIO_PATH& path)
{
    std::error_code ec;
    return std::filesystem::exists(path.get_path(), ec) && !ec;
}

bool FIO_FILE_SYSTEM::remove_if_exists(const FIO_PATH& path)
{
    std::error_code ec;
    // A folder under a file's name is someone else's, even when empty.
    if (std::filesystem::symlink_status(path.get_path(), ec).type() == std::filesystem::file_type::directory)
        return false;
    return std::filesystem::remove(path.get_path(), ec) && !ec;
}

bool FIO_FILE_SYSTEM::move(const FIO_PATH& from, const FIO_PATH& to, bool overwrite, bool keep_source_times)
{
    (void)keep_source_times;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(from.get_path(), ec)) return false;
    if (!overwrite && std::filesystem::exists(to.get_path(), ec)) return false;
    std::filesystem::rename(from.get_path(), to.get_path(), ec);
    if (!ec) return true;
    ec.clear();
    std::filesystem::copy_file(from.get_path(), to.get_path(), std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    std::filesystem::remove(from.get_path(), ec);
    return !ec;
}

namespace {
// The reason of the last failed open, as the C library words it.
std::string open_failure_reason(int error)
{
    return error != 0 ? std::strerror(error) : "cannot be opened";
}
}  // namespace

FIO_WRITE_ERROR::FIO_WRITE_ERROR(const std::string& path, const std::string& reason)
    : std::runtime_error("cannot write file '" + path + "': " + reason), m_path(path)
{}

void fio_open_for_writing(std::ofstream& stream, const FIO_PATH& path, bool append)
{
    errno = 0;
    stream.open(path.get_path(), std::ios::out | (append ? std::ios::app : std::ios::trunc));
    if (!stream.is_open()) throw FIO_WRITE_ERROR(path.str(), open_failure_reason(errno));
}

std::FILE* fio_fopen_for_writing(const FIO_PATH& path)
{
    errno = 0;
    std::FILE* file = std::fopen(path.str().c_str(), "w");
    if (file == nullptr) throw FIO_WRITE_ERROR(path.str(), open_failure_reason(errno));
    return file;
}

namespace {

std::string reason(int err)
{
    return std::strerror(err);
}

// Permission bits a plain new file would get, or those of the file it replaces.
mode_t new_file_mode(const std::string& target)
{
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// What a path names when it is not a regular file, as an error.
std::string not_a_file(mode_t mode)
{
    if (S_ISDIR(mode)) return "is a folder, not a file";
    if (S_ISFIFO(mode)) return "is a named pipe, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

// A descriptor of the regular file at path, or -1 with `error` set. Opening
// a named pipe for reading waits for a writer, so the open does not wait,
// and the kind is taken from the opened file, not from an earlier look.
int open_user_file(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = "cannot open: " + reason(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = "cannot read: " + reason(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = not_a_file(st.st_mode);
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

// The line of text[at]: one more than the line breaks before it.
int line_of(std::string_view text, std::size_t at)
{
    int line = 1;
    for (std::size_t pos = 0;;) {
        fio_next_line(text, pos);
        if (pos > at || pos >= text.size()) return line;
        ++line;
    }
}

// Where a text read stands: how long its last line is so far, so that a
// file that never ends its line is refused as soon as the line is longer
// than any line of text, not once memory runs out. Only the bytes just read
// are searched; the line of a fault is counted once, when one is found.
struct TEXT_CHECK
{
    std::size_t line_bytes = 0;

    // `text` is all that was read, its last `n` bytes just now, fewer than
    // a line may have. False, with `error` and the line, at a NUL byte or a
    // line too long, whichever comes first.
    bool take(std::string_view text, std::size_t n, std::string& error, int* bad_line)
    {
        const std::size_t start = text.size() - n;
        const char* fresh = text.data() + start;
        const auto offset = [fresh, n](const void* found) {
            return found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - fresh) : n;
        };
        const std::size_t nul = offset(std::memchr(fresh, '\0', n));
        const std::size_t first_break =
            std::min(offset(std::memchr(fresh, '\n', n)), offset(std::memchr(fresh, '\r', n)));
        const std::size_t too_long =
            line_bytes + first_break > FIO_MAX_LINE_BYTES ? FIO_MAX_LINE_BYTES - line_bytes : n;
        if (nul < n && nul <= too_long) {
            const int line = line_of(text, start + nul);
            return fail("NUL byte in line " + std::to_string(line), line, error, bad_line);
        }
        if (too_long < n) {
            const int line = line_of(text, start + too_long);
            return fail("line " + std::to_string(line) + " is longer than " + std::to_string(FIO_MAX_LINE_BYTES >> 20) +
                            " MiB",
                        line, error, bad_line);
        }
        if (first_break == n) {
            line_bytes += n;
        } else {
            const void* last_lf = ::memrchr(fresh, '\n', n);
            const void* last_cr = ::memrchr(fresh, '\r', n);
            const std::size_t last = std::max(last_lf ? offset(last_lf) : 0, last_cr ? offset(last_cr) : 0);
            line_bytes = n - last - 1;
        }
        return true;
    }
    static bool fail(const std::string& what, int line, std::string& error, int* bad_line)
    {
        error = what + " (is this a text file?)";
        if (bad_line) *bad_line = line;
        return false;
    }
};

// Reads the whole regular file; with `text_only`, stops at the first NUL
// byte or line too long.
bool read_regular_file(const std::string& path, std::string& out, std::string& error, bool text_only, int* bad_line)
{
    out.clear();
    if (bad_line) *bad_line = 0;
    const int fd = open_user_file(path, error);
    if (fd < 0) return false;
    // No room is taken for the size the file states: a sparse or lying file
    // would cost that memory before its text is checked. The text grows as
    // its bytes come.
    TEXT_CHECK check;
    char buffer[65536];
    static_assert(sizeof buffer < FIO_MAX_LINE_BYTES, "a read holds less than a line may");
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = "cannot read: " + reason(errno);
            ::close(fd);
            return false;
        }
        out.append(buffer, static_cast<size_t>(n));
        if (text_only && !check.take(out, static_cast<std::size_t>(n), error, bad_line)) {
            out.clear();
            out.shrink_to_fit();
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

}  // namespace

bool fio_check_user_file(const std::string& path, std::string& error)
{
    const int fd = open_user_file(path, error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool fio_read_user_file(const std::string& path, std::string& text, std::string& error, int* bad_line)
{
    return read_regular_file(path, text, error, true, bad_line);
}

bool fio_read_stored_file(const std::string& path, std::string& bytes, std::string& error)
{
    return read_regular_file(path, bytes, error, false, nullptr);
}

std::string_view fio_next_line(std::string_view text, std::size_t& pos)
{
    const std::size_t start = pos;
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        pos = text.size();
        return text.substr(start);
    }
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    return text.substr(start, end - start);
}

bool fio_write_all(int fd, const char* data, std::size_t size, int& error_number)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_number = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string fio_error_text(int error_number)
{
    return error_number != 0 ? std::strerror(error_number) : "write failed";
}

FIO_FD_STREAMBUF::FIO_FD_STREAMBUF(int fd) : m_fd(fd), m_buffer(1U << 16, '\0')
{
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
}

bool FIO_FD_STREAMBUF::drain()
{
    const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    if (m_error_number != 0) return false;
    return fio_write_all(m_fd, m_buffer.data(), size, m_error_number);
}

FIO_FD_STREAMBUF::int_type FIO_FD_STREAMBUF::overflow(int_type ch)
{
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int FIO_FD_STREAMBUF::sync()
{
    return drain() ? 0 : -1;
}

namespace {

constexpr const char* FIO_TEMP_SUFFIX = ".tmp.";
constexpr std::size_t FIO_TEMP_RANDOM_CHARS = 6;

// The folder of a path, "." for a bare file name.
std::filesystem::path fio_folder_of(const std::string& target)
{
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// What a temporary's name holds before its random letters: the target's
// name and the suffix, the target's name cut short where the whole would be
// longer than a folder takes, so that every legal target has a temporary.
std::string fio_temp_prefix(const std::string& target)
{
    const std::filesystem::path path(target);
    std::string name = path.filename().string();
    constexpr std::size_t longest = NAME_MAX - std::char_traits<char>::length(FIO_TEMP_SUFFIX) - FIO_TEMP_RANDOM_CHARS;
    if (name.size() > longest) name.resize(longest);
    return (path.parent_path() / (name + FIO_TEMP_SUFFIX)).string();
}

// True when fd still is the file that `name` names: a stale-temporary sweep
// may have removed the name between its creation and its lock.
bool fio_names_same_file(int fd, const std::string& name)
{
    struct stat by_fd, by_name;
    return ::fstat(fd, &by_fd) == 0 && ::stat(name.c_str(), &by_name) == 0 && by_fd.st_dev == by_name.st_dev &&
           by_fd.st_ino == by_name.st_ino;
}

// The files to remove on an interrupt. A signal handler may read a slot at
// any moment, also while another thread changes one, so a slot is only
// read or written by whoever moved it from FREE or NAMED to BUSY; the
// names are fixed arrays, since the handler may not allocate.
enum : int
{
    SLOT_FREE = 0,
    SLOT_BUSY = 1,
    SLOT_NAMED = 2
};
struct INTERRUPT_SLOT
{
    std::atomic<int> state{SLOT_FREE};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs lock-free atomics");
// A compile holds a few temporaries, chunks and saved states at a time.
constexpr int FIO_INTERRUPT_SLOTS = 128;
INTERRUPT_SLOT g_interrupt_slots[FIO_INTERRUPT_SLOTS];

// Files first, then folders, which only go once they are empty.
void fio_interrupt_handler(int signal_number)
{
    for (INTERRUPT_SLOT& slot : g_interrupt_slots) {
        int named = SLOT_NAMED;
        // Left busy: the process ends here.
        if (slot.state.compare_exchange_strong(named, SLOT_BUSY) && ::unlink(slot.path) != 0 && errno == EISDIR)
            slot.state.store(SLOT_NAMED);
    }
    // A folder inside another empties it: again until none goes.
    for (bool removed = true; removed;) {
        removed = false;
        for (INTERRUPT_SLOT& slot : g_interrupt_slots) {
            int named = SLOT_NAMED;
            if (!slot.state.compare_exchange_strong(named, SLOT_BUSY)) continue;
            if (::rmdir(slot.path) == 0) removed = true;
            else slot.state.store(SLOT_NAMED);
        }
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

void fio_remove_on_interrupt(const std::string& path)
{
    const std::string full = FIO_PATH(path).fullpath();
    if (full.size() >= PATH_MAX) return;
    for (INTERRUPT_SLOT& slot : g_interrupt_slots) {
        int free_slot = SLOT_FREE;
        if (!slot.state.compare_exchange_strong(free_slot, SLOT_BUSY)) continue;
        std::memcpy(slot.path, full.c_str(), full.size() + 1);
        slot.state.store(SLOT_NAMED);
        return;
    }
}

void fio_forget_on_interrupt(const std::string& path)
{
    const std::string full = FIO_PATH(path).fullpath();
    // Each named slot is taken while its name is compared, and an interrupt
    // skips a taken slot: one that came then would leave that file behind.
    const FIO_INTERRUPTS_HELD held;
    for (INTERRUPT_SLOT& slot : g_interrupt_slots) {
        int named = SLOT_NAMED;
        if (!slot.state.compare_exchange_strong(named, SLOT_BUSY)) continue;
        const bool match = full == slot.path;
        slot.state.store(match ? SLOT_FREE : SLOT_NAMED);
        if (match) return;
    }
}

// Every signal whose default ends the process and that comes from outside
// it: a user, a job scheduler, a timer, a limit of CPU time. The faults of
// the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) and the
// debugger's SIGTRAP are left as they are.
void fio_interrupt_signals(sigset_t& signals)
{
    sigemptyset(&signals);
    for (const int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                                    SIGXCPU, SIGIO, SIGPWR, SIGSTKFLT})
        sigaddset(&signals, signal_number);
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) sigaddset(&signals, signal_number);
}

FIO_INTERRUPTS_HELD::FIO_INTERRUPTS_HELD()
{
    sigset_t held;
    fio_interrupt_signals(held);
    ::pthread_sigmask(SIG_BLOCK, &held, &m_before);
}

FIO_INTERRUPTS_HELD::~FIO_INTERRUPTS_HELD()
{
    ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
}

void fio_install_interrupt_cleanup()
{
    sigset_t signals;
    fio_interrupt_signals(signals);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (sigismember(&signals, signal_number) != 1) continue;
        struct sigaction action = {};
        // A signal the caller ignores (nohup, a background job) stays
        // ignored, and one a profiler handles stays its.
        if (::sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler != SIG_DFL) continue;
        action = {};
        action.sa_handler = fio_interrupt_handler;
        // A second signal waits: the first one's removals are not cut short.
        action.sa_mask = signals;
        ::sigaction(signal_number, &action, nullptr);
    }
}

void fio_ignore_write_signals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool fio_open_closed_standard_streams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // An open takes the lowest free number: this one, as those below are open.
        if (::open("/dev/null", O_RDWR) != fd) return false;
    }
    return true;
}

FIO_TEMP_FILE::~FIO_TEMP_FILE()
{
    discard();
}

bool FIO_TEMP_FILE::create(const std::string& target, std::string& error)
{
    discard();
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string pattern = fio_temp_prefix(target) + std::string(FIO_TEMP_RANDOM_CHARS, 'X');
        // Its name is known only once the file is made: an interrupt waits
        // until it is named for removal too.
        const FIO_INTERRUPTS_HELD held;
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            error = reason(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && fio_names_same_file(fd, pattern)) {
            m_full_name = FIO_PATH(pattern).fullpath();
            fio_remove_on_interrupt(m_full_name);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fchmod(fd, new_file_mode(target));
            m_name = pattern;
            m_fd = fd;
            return true;
        }
        ::close(fd);
    }
    error = "no temporary file could be made beside it";
    return false;
}

bool FIO_TEMP_FILE::commit(const std::string& target, std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        error = "cannot write '" + target + "': " + reason(errno);
        discard();
        return false;
    }
    if (::rename(m_name.c_str(), target.c_str()) != 0) {
        error = "cannot replace '" + target + "': " + reason(errno);
        discard();
        return false;
    }
    fio_forget_on_interrupt(m_full_name);
    m_name.clear();
    m_full_name.clear();
    return true;
}

void FIO_TEMP_FILE::discard()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_name.empty()) ::unlink(m_name.c_str());
    if (!m_full_name.empty()) fio_forget_on_interrupt(m_full_name);
    m_name.clear();
    m_full_name.clear();
}

void fio_remove_stale_temporaries(const std::string& target)
{
    const std::string prefix = std::filesystem::path(fio_temp_prefix(target)).filename().string();
    std::error_code ec;
    std::filesystem::directory_iterator it(fio_folder_of(target), ec);
    if (ec) return;
    for (const std::filesystem::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.size() != prefix.size() + FIO_TEMP_RANDOM_CHARS || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st;
        // Held by no one: its writer is gone.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fio_names_same_file(fd, entry.path().string()))
            ::unlink(entry.path().c_str());
        ::close(fd);
    }
}

bool fio_check_folder_writable(const std::string& folder, std::string& error)
{
    const std::string name = (std::filesystem::path(folder) / ".write-check").string();
    fio_remove_stale_temporaries(name);
    FIO_TEMP_FILE probe;
    if (!probe.create(name, error)) return false;
    int error_number = 0;
    if (fio_write_all(probe.get_fd(), "\n", 1, error_number)) return true;
    error = fio_error_text(error_number);
    return false;
}

bool fio_follow_links(std::filesystem::path& path, std::string& error)
{
    // As many links as the kernel follows in one name.
    constexpr int most_links = 40;
    for (int followed = 0; followed <= most_links; ++followed) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(path, ec)) return true;
        const std::filesystem::path to = std::filesystem::read_symlink(path, ec);
        if (ec) {
            error = ec.message();
            return false;
        }
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    error = reason(ELOOP);
    return false;
}

FIO_REPLACING_FILE::~FIO_REPLACING_FILE()
{
    discard();
}

bool FIO_REPLACING_FILE::open(const std::string& target, std::string& error)
{
    discard();
    std::error_code ec;
    std::filesystem::path path(target);
    // Replacing a link would cut it; the file it points to is the one meant.
    if (!fio_follow_links(path, error)) {
        error = "cannot write '" + target + "': " + error;
        return false;
    }
    // Kept absolute: the caller may change its working folder before commit.
    path = std::filesystem::absolute(path, ec);
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status)) {
        error = "cannot write '" + target + "': it is a folder";
        return false;
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return open_in_place(target, path, error);
    if (std::filesystem::exists(status) && ::access(path.c_str(), W_OK) != 0) {
        error = "cannot write '" + target + "': " + reason(errno);
        return false;
    }
    fio_remove_stale_temporaries(path.string());
    if (!m_temp.create(path.string(), error)) {
        error = "cannot create '" + target + "': " + error;
        return false;
    }
    m_buffer = std::make_unique<FIO_FD_STREAMBUF>(m_temp.get_fd());
    m_out = std::make_unique<std::ostream>(m_buffer.get());
    m_target = path.string();
    return true;
}

// Opening a named pipe for writing waits for a reader: with none there, the
// open fails at once instead of hanging the compile before it starts.
bool FIO_REPLACING_FILE::open_in_place(const std::string& target, const std::filesystem::path& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd < 0) {
        const int open_error = errno;
        const bool pipe = ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
        error = "cannot write '" + target +
                "': " + (open_error == ENXIO && pipe ? "it is a named pipe that nothing reads" : reason(open_error));
        return false;
    }
    // Only what cannot be replaced is written in place: a file or folder
    // that took the name meanwhile is not.
    if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = "cannot write '" + target + "': it changed while it was opened";
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_in_place_fd = fd;
    m_buffer = std::make_unique<FIO_FD_STREAMBUF>(fd);
    m_out = std::make_unique<std::ostream>(m_buffer.get());
    m_target = path.string();
    return true;
}

std::ostream& FIO_REPLACING_FILE::stream()
{
    return *m_out;
}

bool FIO_REPLACING_FILE::finish(std::string& error)
{
    if (!is_open()) {
        error = "no file is open";
        return false;
    }
    m_out->flush();
    const int error_number = m_buffer->error_number();
    if (error_number != 0 || !*m_out) {
        error = "cannot write '" + m_target + "': " + fio_error_text(error_number);
        discard();
        return false;
    }
    return true;
}

bool FIO_REPLACING_FILE::commit(std::string& error)
{
    if (!finish(error)) return false;
    m_out.reset();
    m_buffer.reset();
    if (m_in_place_fd < 0) return m_temp.commit(m_target, error);
    const int closed = ::close(m_in_place_fd);
    m_in_place_fd = -1;
    if (closed == 0) return true;
    error = "cannot write '" + m_target + "': " + reason(errno);
    return false;
}

void FIO_REPLACING_FILE::discard()
{
    m_out.reset();
    m_buffer.reset();
    if (m_in_place_fd >= 0) ::close(m_in_place_fd);
    m_in_place_fd = -1;
    m_temp.discard();
}
