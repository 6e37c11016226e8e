#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "ipc/ipc_stream.h"

namespace ipc_stream_test {

namespace {

struct PAIR
{
    int tool = -1;
    IPC_STREAM stream;
    PAIR()
    {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        stream.adopt_socket(sv[0]);
        tool = sv[1];
    }
    ~PAIR()
    {
        if (tool >= 0) ::close(tool);
    }
    void hang_up()
    {
        ::close(tool);
        tool = -1;
    }
};

}  // namespace

TEST(IpcStream, ReadsExactlyWhatWasAskedHoweverThePeerSplitsIt)
{
    PAIR p;
    EXPECT_EQ(p.stream.wait_for_bytes(0), 0);
    std::thread tool([&] {
        for (char c : std::string("abcdefg")) {
            ::send(p.tool, &c, 1, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    char buffer[7];
    EXPECT_TRUE(p.stream.read_exact(buffer, sizeof(buffer)));
    tool.join();
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), "abcdefg");
    ::send(p.tool, "xy", 2, 0);
    EXPECT_EQ(p.stream.wait_for_bytes(100), 2);
}

TEST(IpcStream, EndOfStreamIsAFailureNotZeroBytesForever)
{
    PAIR p;
    ::send(p.tool, "ab", 2, 0);
    p.hang_up();
    // Bytes sent before the hang-up are still read; then the end shows.
    EXPECT_EQ(p.stream.wait_for_bytes(100), 2);
    char buffer[4];
    EXPECT_FALSE(p.stream.read_exact(buffer, 4));
    EXPECT_EQ(p.stream.wait_for_bytes(100), -1);
    EXPECT_FALSE(p.stream.read_exact(buffer, 1));
}

TEST(IpcStream, WritingToAToolThatLeftFailsWithoutSigpipe)
{
    // The default SIGPIPE action would end this test program.
    std::signal(SIGPIPE, SIG_DFL);
    PAIR p;
    p.hang_up();
    const std::string big(1 << 20, 'x');
    EXPECT_FALSE(p.stream.write_all(big.data(), big.size()));
    EXPECT_FALSE(p.stream.write_all("a", 1));
    p.stream.close();
    EXPECT_FALSE(p.stream.is_open());
    EXPECT_FALSE(p.stream.write_all("a", 1));
    EXPECT_EQ(p.stream.wait_for_bytes(0), -1);
}

TEST(IpcStream, ConnectsToAListeningSocketAndRefusesAPathTooLong)
{
    const std::string path = "ipc_test.sock";
    ::unlink(path.c_str());
    IPC_STREAM stream;
    std::string error;
    EXPECT_FALSE(stream.connect_socket(path, &error));
    EXPECT_FALSE(error.empty());

    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_TRUE(stream.connect_socket(path, &error)) << error;
    const int peer = ::accept(listener, nullptr, nullptr);
    EXPECT_TRUE(stream.write_all("hello", 5));
    char buffer[5];
    EXPECT_EQ(::recv(peer, buffer, 5, MSG_WAITALL), 5);
    ::close(peer);
    ::close(listener);
    ::unlink(path.c_str());

    const std::string longest(ipc_max_socket_path() + 1, 'p');
    EXPECT_FALSE(stream.connect_socket(longest, &error));
    EXPECT_NE(error.find("longer than"), std::string::npos);
    EXPECT_FALSE(stream.is_open());
}

TEST(IpcStream, SessionFileIsTruncatedAndHeldByOneWriter)
{
    const std::string path = "session.bin";
    {
        std::ofstream old(path);
        old << "an older session, longer than the new one";
    }
    IPC_STREAM first;
    std::string error;
    ASSERT_TRUE(first.create_file(path, &error)) << error;
    EXPECT_TRUE(first.is_file());
    EXPECT_TRUE(first.write_all("new", 3));
    EXPECT_EQ(first.wait_for_bytes(0), -1);  // nothing is ever read from it
    IPC_STREAM second;
    EXPECT_FALSE(second.create_file(path, &error));
    EXPECT_EQ(error, "held by another process");
    first.close();
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(second.create_file("no/such/folder/file", &error));
    std::remove(path.c_str());
}

}  // namespace ipc_stream_test
