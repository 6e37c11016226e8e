#pragma once
// A byte stream to an external tool: the client end of a Unix-domain stream
// socket, or a write-only session file. Every byte that arrives is the
// tool's, so reads never take a short or a closed stream for data, and
// writes to a tool that went away fail instead of raising SIGPIPE.

#include <cstddef>
#include <string>

// Folder for per-user sockets: $XDG_RUNTIME_DIR, else the temporary folder.
std::string ipc_runtime_folder();
// Longest socket path the system takes (sun_path less its terminator).
size_t ipc_max_socket_path();

class IPC_STREAM
{
public:
    IPC_STREAM() = default;
    ~IPC_STREAM() { close(); }
    IPC_STREAM(const IPC_STREAM&) = delete;
    IPC_STREAM& operator=(const IPC_STREAM&) = delete;

    // Connects to a listening socket; false with the reason in *error.
    bool connect_socket(const std::string& path, std::string* error);
    // Creates or truncates a file for writing, held under an exclusive lock
    // so that a second writer is refused rather than interleaved.
    bool create_file(const std::string& path, std::string* error);
    // Takes over an already connected socket (one end of a socket pair).
    void adopt_socket(int fd);

    bool is_open() const { return m_fd >= 0; }
    bool is_file() const { return m_is_file; }
    void close();

    // Writes every byte; false when the stream is closed or failed.
    bool write_all(const void* data, size_t size);
    // Waits up to wait_ms for bytes to read. Answers how many are waiting
    // (0 when none arrived in time), or -1 when the stream failed or the
    // peer closed its end: a stream at its end is readable yet holds nothing.
    long wait_for_bytes(int wait_ms);
    // Reads exactly size bytes, however the peer split them; false on an
    // error or when the stream ends first.
    bool read_exact(void* data, size_t size);

private:
    int m_fd = -1;
    bool m_is_file = false;
};
