// The program driven through pipes, as another program would drive it, and
// with the library sending log messages from its own thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "e2e_harness.h"
#include "transcript.h"

namespace e2e {
namespace {

// Pipe ends that close themselves.
struct Pipe {
    Pipe() {
        if (pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() {
        if (ends[0] >= 0) {
            close(ends[0]);
            ends[0] = -1;
        }
    }
    void CloseWrite() {
        if (ends[1] >= 0) {
            close(ends[1]);
            ends[1] = -1;
        }
    }
    int ends[2] = {-1, -1};
};

// Reads from `fd` until `text` ends what was read, or the program's output
// ends. A program that never shows what it printed fails here, after a
// minute, rather than hanging the suite.
bool ReadUntilEndsWith(int fd, std::string& seen, const std::string& text) {
    constexpr int kGiveUpMilliseconds = 60000;
    while (!(seen.size() >= text.size() && seen.ends_with(text))) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kGiveUpMilliseconds) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            return false;
        }
        seen.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

void Send(int fd, const std::string& text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void LaySettings(const ProgramFolder& folder) {
    std::ofstream(folder.app / "config.ini", std::ios::binary) << ConfigIni("dev-1");
    std::ofstream(folder.app / "tunnel.cfg", std::ios::binary) << kTunnelCfg;
}

TEST(InteractiveE2e, EachPromptReachesAPipeBeforeTheProgramWaits) {
    const ProgramFolder folder;
    LaySettings(folder);
    Pipe input;
    Pipe output;
    const pid_t pid = StartProgram(folder, input.ends[0], output.ends[1], {});
    input.CloseRead();
    output.CloseWrite();

    std::string seen;
    ASSERT_TRUE(ReadUntilEndsWith(output.ends[0], seen, kPrompt)) << seen;
    Send(input.ends[1], "domainset\n");
    ASSERT_TRUE(ReadUntilEndsWith(output.ends[0], seen, "passcode: ")) << seen;
    Send(input.ends[1], "example.org\n");
    ASSERT_TRUE(ReadUntilEndsWith(output.ends[0], seen, "Set domain success\r\n" + kPrompt))
        << seen;
    Send(input.ends[1], "quit\n");
    input.CloseWrite();
    EXPECT_FALSE(ReadUntilEndsWith(output.ends[0], seen, "never printed"));
    EXPECT_EQ(WaitForExit(pid), 0);
    EXPECT_EQ(WithPlaceholders(seen, folder),
              Banner("dev-1") + "passcode: Set domain success\r\n" + kPrompt);
}

TEST(InteractiveE2e, AReaderThatGoesAwayDoesNotEndTheRunEarly) {
    const ProgramFolder folder;
    LaySettings(folder);
    const std::string trace = (folder.root / "trace").string();
    std::ofstream(folder.root / "input", std::ios::binary)
        << "versionget\n" + std::string(100, 'x') + "\nquit\n";
    Pipe output;
    output.CloseRead();
    const int in = open((folder.root / "input").c_str(), O_RDONLY | O_CLOEXEC);
    const int status =
        WaitForExit(StartProgram(folder, in, output.ends[1], {{"TUNNEL_SIM_TRACE", trace}}));
    close(in);
    EXPECT_EQ(status, 0);
    std::ifstream file(trace, std::ios::binary);
    const std::string calls(std::istreambuf_iterator<char>(file), {});
    EXPECT_TRUE(calls.ends_with("TunnelVersionGet(out) = 0\nTunnelStop() = 0\n")) << calls;
}

// Messages from the library's own thread may fall between any two writes of
// the program, but never split one, and none is lost.
TEST(InteractiveE2e, LogMessagesFromAnotherThreadStayWhole) {
    const ProgramFolder folder;
    LaySettings(folder);
    std::string input;
    std::string expected = Banner("dev-1");
    for (int i = 0; i < 50; ++i) {
        input += "versionget\nselfget\nhelp\n";
        expected += "Version: 1.0.0-sim\r\n" + kPrompt + "Self get success\r\nSelf ID: dev-1\r\n" +
                    kPrompt + kCommandList + kPrompt;
    }
    // An empty push queue keeps the program waiting in the library for a
    // second while the messages flow.
    input += "pushget\n";
    expected += "Push get failed, Error: -6\r\n" + kPrompt;
    std::ofstream(folder.root / "input", std::ios::binary) << input;

    const int in = open((folder.root / "input").c_str(), O_RDONLY | O_CLOEXEC);
    const int out =
        open((folder.root / "output").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int status = WaitForExit(StartProgram(folder, in, out, {{"TUNNEL_SIM_LOG_THREAD", "0"}}));
    close(in);
    close(out);
    EXPECT_EQ(status, 0);

    std::ifstream file(folder.root / "output", std::ios::binary);
    const std::string output =
        WithPlaceholders(std::string(std::istreambuf_iterator<char>(file), {}), folder);
    const std::regex message("tunnel heartbeat ([0-9]+)\r\n");
    std::string rest;
    long messages = 0;
    auto last = output.cbegin();
    for (std::sregex_iterator it(output.begin(), output.end(), message), end; it != end; ++it) {
        rest.append(last, (*it)[0].first);
        last = (*it)[0].second;
        ++messages;
        ASSERT_EQ(std::stol((*it)[1].str()), messages) << "message lost or out of order";
    }
    rest.append(last, output.cend());
    EXPECT_GT(messages, 0);
    EXPECT_EQ(rest, expected);
}

}  // namespace
}  // namespace e2e
