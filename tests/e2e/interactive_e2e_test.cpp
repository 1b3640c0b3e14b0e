// The program driven through pipes, as another program would drive it, and
// with the library sending log messages from its own thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "e2e_harness.h"
#include "transcript.h"

namespace e2e {
namespace {

// Pipe ends that close themselves.
struct Pipe {
    Pipe() {
        // Writing to a program that ended fails its case instead of ending
        // the test program.
        signal(SIGPIPE, SIG_IGN);
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

// Reads until `text` ends what was read, or the program's output ends.
bool ReadUntilEndsWith(int fd, std::string& seen, const std::string& text) {
    while (!seen.ends_with(text)) {
        if (!ReadMore(fd, seen)) {
            return false;
        }
    }
    return true;
}

// Reads until `text` shows up, or the program's output ends.
bool ReadUntilContains(int fd, std::string& seen, const std::string& text) {
    while (seen.find(text) == std::string::npos) {
        if (!ReadMore(fd, seen)) {
            return false;
        }
    }
    return true;
}

// Everything the program still writes, up to the end of its output. A program
// that logs on and never ends is given up on at the give-up time.
std::string ReadToEnd(int fd, std::string seen) {
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMilliseconds);
    while (ReadMore(fd, seen) && std::chrono::steady_clock::now() < give_up) {
    }
    return seen;
}

// `output` without the library's heartbeat messages, which arrive at any time.
std::string WithoutHeartbeats(const std::string& output) {
    return std::regex_replace(output, std::regex("tunnel heartbeat [0-9]+\r\n"), "");
}

void Send(int fd, const std::string& text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// The program on two pipes, as a parent program drives it, with the library's
// trace taken and standard error kept apart (or closed).
struct DriveOptions {
    std::vector<std::pair<std::string, std::string>> environment = {};
    std::vector<std::string> arguments = {};
    bool errors_closed = false;
    bool input_non_blocking = false;  // as the parent left them
    bool output_non_blocking = false;
};

struct DrivenRun {
    explicit DrivenRun(DriveOptions options = {}) {
        LaySettings(folder);
        options.environment.emplace_back("TUNNEL_SIM_TRACE", (folder.root / "trace").string());
        if (options.input_non_blocking) {
            fcntl(input.ends[0], F_SETFL, fcntl(input.ends[0], F_GETFL) | O_NONBLOCK);
        }
        if (options.output_non_blocking) {
            fcntl(output.ends[1], F_SETFL, fcntl(output.ends[1], F_GETFL) | O_NONBLOCK);
            output_watch = fcntl(output.ends[1], F_DUPFD_CLOEXEC, 0);
        }
        const int errors = options.errors_closed ? -1 : CreateForWriting(folder.root / "errors");
        pid = StartProgram(folder, input.ends[0], output.ends[1], options.environment, errors,
                           nullptr, options.arguments);
        close(errors);
        input.CloseRead();
        output.CloseWrite();
    }
    std::string Trace() const { return FileText(folder.root / "trace", folder); }
    std::string Errors() const { return FileText(folder.root / "errors", folder); }
    // What the program wrote until its output ended, as the cases spell it.
    std::string Transcript() {
        return WithoutHeartbeats(WithPlaceholders(ReadToEnd(output.ends[0], seen), folder));
    }

    ProgramFolder folder;
    Pipe input;
    Pipe output;
    int output_watch = -1;  // the output's writing end, kept to see when it is full
    pid_t pid = -1;
    std::string seen;
};

// Also when the parent left the pipe non-blocking: the program waits for
// input all the same.
class PromptsE2e : public testing::TestWithParam<bool> {};

TEST_P(PromptsE2e, EachPromptReachesAPipeBeforeTheProgramWaits) {
    DrivenRun run({.input_non_blocking = GetParam()});

    // Each line goes out once the program waits for it, so a program that
    // takes an empty non-blocking pipe for the end of input never sees it.
    for (const auto& [shown, line] :
         {std::pair{kPrompt, "domainset\n"}, std::pair{std::string("passcode: "), "example.org\n"},
          std::pair{"Set domain success\r\n" + kPrompt, "quit\n"}}) {
        ASSERT_TRUE(ReadUntilEndsWith(run.output.ends[0], run.seen, shown)) << run.seen;
        WaitUntilAsleepOrEnded(run.pid);
        Send(run.input.ends[1], line);
    }
    run.input.CloseWrite();
    EXPECT_EQ(run.Transcript(), Banner("dev-1") + "passcode: Set domain success\r\n" + kPrompt);
    EXPECT_EQ(WaitForExit(run.pid), 0);
}

INSTANTIATE_TEST_SUITE_P(Input, PromptsE2e, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "NonBlocking" : "Blocking"; });

// Messages from the library's own thread may fall between any two writes of
// the program, but never split one, and none is lost.
TEST(InteractiveE2e, LogMessagesFromAnotherThreadStayWhole) {
    Case c = Session("", "", "");
    for (int i = 0; i < 50; ++i) {
        c.input += "versionget\nselfget\nhelp\n";
        c.expected_output += "Version: 1.0.0-sim\r\n" + kPrompt +
                             "Self get success\r\nSelf ID: dev-1\r\n" + kPrompt + kCommandList +
                             kPrompt;
    }
    // An empty push queue keeps the program waiting in the library for a
    // second while the messages flow.
    c.input += "pushget\n";
    c.expected_output += "Push get failed, Error: -6\r\n" + kPrompt;
    c.environment = {{"TUNNEL_SIM_LOG_THREAD", "0"}};
    const Result result = e2e::Run(c);
    EXPECT_EQ(result.exit_status, 0);

    const std::string& output = result.output;
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
    EXPECT_EQ(rest, c.expected_output);
}

const std::vector<std::pair<std::string, std::string>> kHeartbeats = {
    {"TUNNEL_SIM_LOG_THREAD", "1000"}};

// A stop request ends the run as the end of input does: a command waiting for
// a field is abandoned, the library is stopped once, the exit status is 0;
// with -e it is 128 plus the signal's number, and a line cut short by the
// request is no command typed: it fails nothing.
// Standard input stays open throughout, so only the request can end the run.
// Stop signals are POSIX; the Windows program gets console control events
// instead, which a windowed program under the emulator has no console for.
constexpr const char* kSignalsArePosix = "stop signals are POSIX";

// The library's logging thread: the one besides the main thread that takes
// SIGINT (a sanitizer's own threads block every signal). Asked once the thread
// has logged, as a thread starts with every signal blocked.
pid_t LibraryThread(pid_t pid) {
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        const pid_t thread = std::stoi(task.path().filename().string());
        std::ifstream status(task.path() / "status");
        std::string line;
        while (thread != pid && std::getline(status, line)) {
            if (line.starts_with("SigBlk:") &&
                (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) == 0) {
                return thread;
            }
        }
    }
    return -1;
}

TEST(StopSignalsE2e, EndTheRunAsTheEndOfInputDoes) {
    if (TestingWindowsProgram()) {
        GTEST_SKIP() << kSignalsArePosix;
    }
    const struct {
        const char* name;
        int signal;
        const char* typed;       // before the signal
        const char* waiting_at;  // what the program shows when the signal comes
        bool heartbeats;         // the library logs from its own thread meanwhile
        bool to_library_thread;  // the signal goes to that thread, not the waiting one
        bool exit_on_error = false;
    } rows[] = {
        {"interrupt at the prompt", SIGINT, "", "", false, false},
        {"termination at the prompt", SIGTERM, "", "", false, false},
        {"hang-up at the prompt", SIGHUP, "", "", false, false},
        {"interrupt inside a command", SIGINT, "domainset\n", "passcode: ", false, false},
        {"interrupt while the library logs", SIGINT, "", "", true, false},
        {"termination inside a command while the library logs", SIGTERM, "connectenum\n",
         "index: ", true, false},
        {"interrupt on the library's thread at the prompt", SIGINT, "", "", true, true},
        {"interrupt on the library's thread inside a command", SIGINT, "commentset\n",
         "comment: ", true, true},
        {"interrupt with -e and a line cut short", SIGINT, "vers", "", false, false, true},
        {"termination with -e and a line cut short", SIGTERM, "vers", "", false, false, true},
        {"hang-up with -e and a line cut short", SIGHUP, "vers", "", false, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        using Words = std::vector<std::string>;
        DrivenRun run({.environment = row.heartbeats ? kHeartbeats : decltype(kHeartbeats){},
                       .arguments = row.exit_on_error ? Words{"-e"} : Words{}});
        ASSERT_TRUE(ReadUntilContains(run.output.ends[0], run.seen, kPrompt)) << run.seen;
        Send(run.input.ends[1], row.typed);
        // A message may fall between the prompt and the field's prompt.
        while (WithoutHeartbeats(run.seen).find(kPrompt + row.waiting_at) == std::string::npos) {
            ASSERT_TRUE(ReadMore(run.output.ends[0], run.seen)) << run.seen;
        }
        // What was typed is taken in, and the program back at the wait.
        for (int pending = 1; ioctl(run.input.ends[1], FIONREAD, &pending) == 0 && pending > 0;) {
            sched_yield();
        }
        WaitUntilAsleepOrEnded(run.pid);
        if (row.to_library_thread) {
            ASSERT_TRUE(ReadUntilContains(run.output.ends[0], run.seen, "tunnel heartbeat"));
            const pid_t thread = LibraryThread(run.pid);
            ASSERT_GT(thread, 0);
            ASSERT_EQ(syscall(SYS_tgkill, run.pid, thread, row.signal), 0);
        } else {
            kill(run.pid, row.signal);
        }
        EXPECT_EQ(run.Transcript(), Banner("dev-1") + row.waiting_at);
        EXPECT_EQ(WaitForExit(run.pid), row.exit_on_error ? 128 + row.signal : 0);
        EXPECT_EQ(run.Trace(), StartTrace("dev-1") + kStopTrace);
        EXPECT_EQ(run.Errors(), "");
    }
}

// The library's messages hand the rounds' output to the pipe as they go.
void StartLongStressTest(DrivenRun& run) {
    Send(run.input.ends[1], "testconnect\n1000000\np\n");
    ASSERT_TRUE(ReadUntilContains(run.output.ends[0], run.seen,
                                  "The connect's local client addr: 127.0.0.1:18000\r\n"));
}

TEST(StopSignalsE2e, AStressTestStopsAfterTheRoundInProgress) {
    if (TestingWindowsProgram()) {
        GTEST_SKIP() << kSignalsArePosix;
    }
    DrivenRun run({.environment = kHeartbeats});
    StartLongStressTest(run);
    kill(run.pid, SIGTERM);
    const std::string transcript = run.Transcript();
    EXPECT_EQ(WaitForExit(run.pid), 0);

    const std::string start = Banner("dev-1") + "test times: peer id: ";
    const std::string round = StressRound("p");
    ASSERT_TRUE(transcript.starts_with(start)) << transcript;
    const std::size_t rounds = (transcript.size() - start.size()) / round.size();
    EXPECT_GE(rounds, 1u);
    std::string whole_rounds = start;
    std::string calls = StartTrace("dev-1");
    for (std::size_t i = 0; i < rounds; ++i) {
        whole_rounds += round;
        calls += StressCalls("p", 0, false);
    }
    EXPECT_EQ(transcript, whole_rounds);
    EXPECT_EQ(run.Trace(), calls + kStopTrace);
}

TEST(StopSignalsE2e, ASecondRequestEndsTheProcessAtOnce) {
    if (TestingWindowsProgram()) {
        GTEST_SKIP() << kSignalsArePosix;
    }
    DrivenRun run({.environment = kHeartbeats});
    StartLongStressTest(run);
    // Two kinds of signal, so the second is not merged into the first; both
    // arrive before the program runs on, as it is stopped meanwhile.
    kill(run.pid, SIGSTOP);
    int stopped = 0;
    ASSERT_EQ(waitpid(run.pid, &stopped, WUNTRACED), run.pid);
    kill(run.pid, SIGTERM);
    kill(run.pid, SIGINT);
    kill(run.pid, SIGCONT);
    const int status = WaitForEnd(run.pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
    EXPECT_EQ(run.Trace().find("TunnelStop"), std::string::npos);
}

// A standard error closed at start is the null device while the program runs,
// not whatever the program happened to open first.
TEST(InteractiveE2e, ClosedStandardErrorIsTheNullDevice) {
    if (TestingWindowsProgram()) {
        GTEST_SKIP() << "descriptors are POSIX";
    }
    DrivenRun run({.errors_closed = true});
    ASSERT_TRUE(ReadUntilEndsWith(run.output.ends[0], run.seen, kPrompt)) << run.seen;
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(run.pid) + "/fd/2", error),
              "/dev/null");
    run.input.CloseWrite();
    run.Transcript();
    EXPECT_EQ(WaitForExit(run.pid), 0);
}

// `yes statusget | tunnelconsole | head -c 100`: once the reader is gone, the
// run ends as at the end of input, though input never ends.
TEST(InteractiveE2e, AReaderThatGoesAwayEndsTheRun) {
    DrivenRun run;
    ASSERT_TRUE(ReadUntilEndsWith(run.output.ends[0], run.seen, kPrompt));
    run.output.CloseRead();
    std::string commands;
    for (int i = 0; i < 2000; ++i) {
        commands += "statusget\n";
    }
    Send(run.input.ends[1], commands);
    run.input.CloseWrite();
    EXPECT_EQ(WaitForExit(run.pid), 0);
    const std::string trace = run.Trace();
    EXPECT_TRUE(trace.ends_with("TunnelStatusGet(0, out) = 0\n" + kStopTrace));
    // Once a write failed, no more commands are read and run: far fewer run
    // than the output buffer's worth after the first flush.
    std::ptrdiff_t runs = 0;
    for (std::size_t at = 0; (at = trace.find("TunnelStatusGet(", at)) != std::string::npos; ++at) {
        ++runs;
    }
    EXPECT_LT(runs, 1000) << trace;
    EXPECT_EQ(run.Errors(), "");
}

// A parent that left the output pipe non-blocking (at a terminal, making
// standard input non-blocking does that too): when the pipe is full, the
// program waits for room. Nothing is lost or doubled.
TEST(InteractiveE2e, OutputLeftNonBlockingLosesNothing) {
    if (TestingWindowsProgram()) {
        GTEST_SKIP() << "non-blocking descriptors are POSIX";
    }
    DrivenRun run({.output_non_blocking = true});
    constexpr int kCommands = 20000;
    std::string commands;
    for (int i = 0; i < kCommands; ++i) {
        commands += "statusget\n";
    }
    // Written by a thread of its own: the program answers as it reads, and
    // nobody reads its answers yet.
    std::thread writer([&] {
        Send(run.input.ends[1], commands);
        run.input.CloseWrite();
    });
    // The pipe fills up, so a write of the program finds no room.
    for (pollfd room{run.output_watch, POLLOUT, 0}; poll(&room, 1, 0) == 1; room.revents = 0) {
        sched_yield();
    }
    close(run.output_watch);
    const std::string transcript = run.Transcript();
    writer.join();
    EXPECT_EQ(WaitForExit(run.pid), 0);
    std::string expected = Banner("dev-1");
    for (int i = 0; i < kCommands; ++i) {
        expected += "Status: 1\r\n" + kPrompt;
    }
    const auto [differs, _] =
        std::mismatch(transcript.begin(), transcript.end(), expected.begin(), expected.end());
    EXPECT_EQ(transcript.size(), expected.size());
    EXPECT_EQ(differs - transcript.begin(), static_cast<std::ptrdiff_t>(transcript.size()))
        << "first difference";
    EXPECT_EQ(run.Errors(), "");
}

// Each message reaches a reading program when it is written, whole, while the
// console waits for input; never a buffer's worth at a time, cut anywhere.
TEST(InteractiveE2e, LogMessagesReachAPipeOneByOne) {
    DrivenRun run({.environment = {{"TUNNEL_SIM_LOG_THREAD", "0"}}});
    ASSERT_TRUE(ReadUntilContains(run.output.ends[0], run.seen, kPrompt));
    const std::regex message("tunnel heartbeat [0-9]+\r\n");
    long messages = 0;
    while (messages < 3000) {
        std::string more;
        ASSERT_TRUE(ReadMore(run.output.ends[0], more));
        ASSERT_TRUE(more.ends_with("\r\n")) << "a read ended inside a message: " << more;
        messages += std::distance(std::sregex_iterator(more.begin(), more.end(), message),
                                  std::sregex_iterator());
    }
    run.input.CloseWrite();
    // Messages keep coming until the library stops: read them, or it waits.
    run.Transcript();
    EXPECT_EQ(WaitForExit(run.pid), 0);
}

}  // namespace
}  // namespace e2e
