#include "ipc/ipc_stream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

std::string ipc_runtime_folder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') return runtime;
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && tmp[0] != '\0') return tmp;
    return "/tmp";
}

size_t ipc_max_socket_path()
{
    return sizeof(sockaddr_un::sun_path) - 1;
}

bool IPC_STREAM::connect_socket(const std::string& path, std::string* error)
{
    close();
    if (path.size() > ipc_max_socket_path()) {
        if (error) *error = "socket path longer than " + std::to_string(ipc_max_socket_path()) + " characters";
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (error) *error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_is_file = false;
    return true;
}

bool IPC_STREAM::create_file(const std::string& path, std::string* error)
{
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    // Truncating only once the lock is held leaves another holder's file whole.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        if (error) *error = errno == EWOULDBLOCK ? "held by another process" : std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_is_file = true;
    return true;
}

void IPC_STREAM::adopt_socket(int fd)
{
    close();
    m_fd = fd;
    m_is_file = false;
}

void IPC_STREAM::close()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_is_file = false;
}

bool IPC_STREAM::write_all(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0 && m_fd >= 0) {
        const ssize_t n = m_is_file ? ::write(m_fd, p, size) : ::send(m_fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return size == 0;
}

long IPC_STREAM::wait_for_bytes(int wait_ms)
{
    if (m_fd < 0 || m_is_file) return -1;
    pollfd entry{m_fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, wait_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0) return -1;
    // Readable with nothing to read: the peer has closed its end.
    if (waiting <= 0) return -1;
    return waiting;
}

bool IPC_STREAM::read_exact(void* data, size_t size)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        if (m_fd < 0 || m_is_file) return false;
        const ssize_t n = ::recv(m_fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
