// Random and mutated tool streams against an interactive breakpoint: the
// link must neither crash nor hang, whatever the tool sends or when it
// hangs up. PLX_FUZZ_ITERATIONS and PLX_FUZZ_SEED set a longer run of
// another seed (scripts/plx-fuzz.sh).

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "plx_link_run.h"
#include "plx_tool.h"

namespace plx_fuzz_test {

namespace {

class COUNTING_COMMAND : public MORV_PLUMRIX_FUNCTIONOID
{
public:
    void invoke(int, std::string argument) override { length += argument.size(); }
    size_t length = 0;
};

int from_environment(const char* name, int quick)
{
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoi(text) : quick;
}

// Plays one tool stream at a fresh link of the run's process; the
// component's replies are drained as they come.
void play(PLX_RUN& run, const std::vector<uint8_t>& stream, COUNTING_COMMAND& command)
{
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    MORV_PLUMRIX link(run.api());
    link.initialize();
    link.register_command("count", "counts", &command);
    MORV_PLUMRIX::get_interface()->adopt_socket(sv[0]);
    std::thread tool([&] {
        size_t at = 0;
        while (at < stream.size()) {
            const ssize_t n = ::send(sv[1], stream.data() + at, std::min<size_t>(stream.size() - at, 7), MSG_NOSIGNAL);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        ::shutdown(sv[1], SHUT_WR);
        uint8_t sink[4096];
        while (::recv(sv[1], sink, sizeof(sink), 0) > 0) {}
    });
    link.breakpoint("FUZZ");
    MORV_PLUMRIX::get_interface()->disconnect();
    tool.join();
    ::close(sv[1]);
}

std::vector<uint8_t> random_stream(std::mt19937& rng)
{
    std::vector<uint8_t> stream;
    const int packets = static_cast<int>(rng() % 8);
    for (int p = 0; p < packets; ++p) {
        switch (rng() % 5) {
        case 0: {  // garbage
            const int n = static_cast<int>(rng() % 12);
            for (int i = 0; i < n; ++i) stream.push_back(static_cast<uint8_t>(rng()));
            break;
        }
        case 1: {  // unknown header
            const uint32_t code = 1 + rng() % 0xffff;
            for (int i = 0; i < 4; ++i) stream.push_back(static_cast<uint8_t>(code >> (8 * i)));
            break;
        }
        default: {  // a command, maybe with an argument without terminator
            const uint32_t id = rng() % 4 == 0 ? static_cast<uint32_t>(rng()) : 1 + rng() % 5;
            std::string argument;
            const int n = static_cast<int>(rng() % 40);
            for (int i = 0; i < n; ++i) argument += static_cast<char>(rng() % 3 == 0 ? '0' + rng() % 10 : rng() % 256);
            const std::vector<uint8_t> bytes = plx_command(id, argument);
            stream.insert(stream.end(), bytes.begin(), bytes.end());
        }
        }
    }
    if (rng() % 3 == 0) {
        const std::vector<uint8_t> run = plx_command(0, "");
        stream.insert(stream.end(), run.begin(), run.end());
    }
    // Mutate a few bytes, then hang up somewhere.
    for (int m = static_cast<int>(rng() % 3); m > 0 && !stream.empty(); --m)
        stream[rng() % stream.size()] ^= 1u << (rng() % 8);
    if (!stream.empty() && rng() % 2 == 0) stream.resize(rng() % stream.size());
    return stream;
}

}  // namespace

TEST(PlxFuzz, RandomAndMutatedToolStreams)
{
    PLX_SWITCHES on;
    COUNTING_COMMAND command;
    {
        PLX_RUN run;
        std::mt19937 rng(static_cast<uint32_t>(from_environment("PLX_FUZZ_SEED", 20261208)));
        for (int i = 0, n = from_environment("PLX_FUZZ_ITERATIONS", 1000); i < n; ++i)
            play(run, random_stream(rng), command);
    }
    EXPECT_EQ(MORV_PLUMRIX::get_interface_users(), 0);
}

TEST(PlxFuzz, HangUpAtEveryOffsetOfASession)
{
    PLX_SWITCHES on;
    COUNTING_COMMAND command;
    std::vector<uint8_t> session;
    for (const std::vector<uint8_t>& packet :
         {plx_command(1, "abc"), plx_command(3, std::string(32, 'x')), plx_command(9, ""), plx_command(0, "")}) {
        session.insert(session.end(), {5, 0, 0, 0});
        session.insert(session.end(), packet.begin(), packet.end());
    }
    PLX_RUN run;
    for (size_t cut = 0; cut <= session.size(); ++cut)
        play(run, std::vector<uint8_t>(session.begin(), session.begin() + static_cast<long>(cut)), command);
    // The counting command is read whole from the cut at its last byte on.
    EXPECT_EQ(command.length, 31u * (session.size() - 2 * 44 + 1));
}

}  // namespace plx_fuzz_test
