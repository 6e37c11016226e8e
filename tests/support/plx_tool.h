// A stand-in of the interactive tool for the tool-link tests: it listens on
// a socket, sends a scripted command stream (in pieces when asked, then
// optionally hangs up its sending side) and records every byte it receives,
// which plx_parse splits into packets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct PLX_PACKET
{
    uint32_t code = 0;
    std::vector<uint8_t> body;
    // The body's text up to its first NUL, from offset at.
    std::string text(size_t at = 0, size_t size = 256) const
    {
        std::string s;
        for (size_t i = at; i < body.size() && i < at + size && body[i] != 0; ++i) s += static_cast<char>(body[i]);
        return s;
    }
    uint32_t u32(size_t at) const
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(body[at + i]) << (8 * i);
        return v;
    }
    int32_t i32(size_t at) const { return static_cast<int32_t>(u32(at)); }
    double f64(size_t at) const
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(body[at + i]) << (8 * i);
        double d = 0;
        std::memcpy(&d, &v, sizeof(d));
        return d;
    }
    // The whole text of a long text (code 11).
    std::string long_text() const
    {
        const uint32_t n = u32(0);
        std::string s;
        for (size_t c = 0; s.size() < n && 4 + c * 32 < body.size(); ++c) s += text(4 + c * 32, 31);
        return s;
    }
};

// Body size of a packet the component sends; -1 for an unknown code.
inline long plx_body_size(uint32_t code, const uint8_t* rest, size_t available)
{
    static const long sizes[] = {32, 0, 112, 40, 0, 292, 256, 0, 8, 40, 0, -2, 4, 4, 4, 4};
    if (code >= 16) return -1;
    if (sizes[code] != -2) return sizes[code];
    if (available < 4) return -1;
    const uint32_t n = rest[0] | rest[1] << 8 | rest[2] << 16 | static_cast<uint32_t>(rest[3]) << 24;
    const uint64_t chunks = n == 0 ? 1 : (n + 30ull) / 31;
    return static_cast<long>(4 + chunks * 32);
}

// The packets of a stream; *complete is false when it ends inside a packet
// or holds an unknown code.
inline std::vector<PLX_PACKET> plx_parse(const std::vector<uint8_t>& bytes, bool* complete = nullptr)
{
    std::vector<PLX_PACKET> packets;
    size_t at = 0;
    bool ok = true;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) {
            ok = false;
            break;
        }
        PLX_PACKET p;
        std::memcpy(&p.code, &bytes[at], 4);
        const long size = plx_body_size(p.code, bytes.data() + at + 4, bytes.size() - at - 4);
        if (size < 0 || bytes.size() - at - 4 < static_cast<size_t>(size)) {
            ok = false;
            break;
        }
        p.body.assign(bytes.begin() + static_cast<long>(at) + 4, bytes.begin() + static_cast<long>(at) + 4 + size);
        packets.push_back(std::move(p));
        at += 4 + static_cast<size_t>(size);
    }
    if (complete) *complete = ok;
    return packets;
}

// Texts (code 6) of a packet list, in order.
inline std::vector<std::string> plx_texts(const std::vector<PLX_PACKET>& packets)
{
    std::vector<std::string> texts;
    for (const PLX_PACKET& p : packets)
        if (p.code == 6) texts.push_back(p.text());
    return texts;
}

// A command packet of the tool: header 0, id, 32-byte argument.
inline std::vector<uint8_t> plx_command(uint32_t id, const std::string& argument)
{
    std::vector<uint8_t> bytes(40, 0);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(id >> (8 * i));
    std::memcpy(&bytes[8], argument.data(), std::min<size_t>(argument.size(), 32));
    return bytes;
}

class PLX_FAKE_TOOL
{
public:
    // Pieces of the script are sent one at a time with a short pause between.
    explicit PLX_FAKE_TOOL(const std::string& path, std::vector<std::vector<uint8_t>> script = {}, bool hang_up = true)
        : m_path(path), m_script(std::move(script)), m_hang_up(hang_up)
    {
        ::unlink(path.c_str());
        m_listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(m_listener, 4), 0);
        m_thread = std::thread([this] { serve(); });
    }
    ~PLX_FAKE_TOOL()
    {
        join();
        ::close(m_listener);
        ::unlink(m_path.c_str());
    }
    PLX_FAKE_TOOL(const PLX_FAKE_TOOL&) = delete;
    PLX_FAKE_TOOL& operator=(const PLX_FAKE_TOOL&) = delete;

    // Waits until the component closed its end; the bytes it sent.
    const std::vector<uint8_t>& received()
    {
        join();
        return m_received;
    }

private:
    void join()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    void serve()
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0) return;
        for (const std::vector<uint8_t>& piece : m_script) {
            if (!piece.empty()) (void)::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (m_hang_up) ::shutdown(fd, SHUT_WR);
        uint8_t buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            m_received.insert(m_received.end(), buffer, buffer + n);
        }
        ::close(fd);
    }

    std::string m_path;
    std::vector<std::vector<uint8_t>> m_script;
    bool m_hang_up;
    int m_listener = -1;
    std::thread m_thread;
    std::vector<uint8_t> m_received;
};
