// The program at a terminal: a pseudo-terminal drives it as a person would,
// with keys in and the terminal's bytes out. Lines are edited, command lines
// recalled and completed, and the library's messages go above the line being
// typed. The terminal's modes are as found after every way out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "e2e_harness.h"
#include "transcript.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUp = "\x1b[A";
constexpr const char* kLeft = "\x1b[D";
constexpr const char* kCtrlC = "\x03";
constexpr const char* kCtrlD = "\x04";
constexpr const char* kCtrlBackslash = "\x1c";
// What TERM=xterm clears the rest of the screen with.
constexpr const char* kClearDown = "\x1b[J";

void ExpectSameModes(const termios& found, const termios& now) {
    EXPECT_EQ(found.c_iflag, now.c_iflag);
    EXPECT_EQ(found.c_oflag, now.c_oflag);
    EXPECT_EQ(found.c_cflag, now.c_cflag);
    EXPECT_EQ(found.c_lflag, now.c_lflag);
    EXPECT_EQ(std::string(std::begin(found.c_cc), std::end(found.c_cc)),
              std::string(std::begin(now.c_cc), std::end(now.c_cc)));
}

// The program on a pseudo-terminal of 80 columns, with its own home folder
// (kept by the caller across runs) and the library's trace taken.
class TerminalRun {
public:
    explicit TerminalRun(const fs::path& home,
                         std::vector<std::pair<std::string, std::string>> environment = {}) {
        LaySettings(folder_);
        environment.insert(environment.begin(), {"TERM", "xterm"});
        environment.emplace_back("TUNNEL_SIM_TRACE", (folder_.root / "trace").string());
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        // A new terminal's modes, with one that a terminal may well have and
        // the editor's idea of a terminal between lines has not: control
        // characters not echoed.
        termios modes{};
        int ends[2];
        if (openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) != 0 ||
            tcgetattr(ends[1], &modes) != 0) {
            throw std::runtime_error("openpty failed");
        }
        close(ends[0]);
        close(ends[1]);
        modes.c_lflag &= ~ECHOCTL;
        // The modes are read back before the program starts: it changes them
        // as soon as it runs.
        int program_end = -1;
        if (openpty(&terminal_, &program_end, nullptr, &modes, &size) != 0 ||
            tcgetattr(terminal_, &found_modes_) != 0) {
            throw std::runtime_error("openpty failed");
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(terminal_);
            if (login_tty(program_end) != 0) {
                _exit(126);
            }
            // Ctrl-\ leaves no core file behind.
            const rlimit no_core{};
            setrlimit(RLIMIT_CORE, &no_core);
            unsetenv("TUNNEL_SIM_LOG_THREAD");
            unsetenv("TUNNEL_SIM_FAULTS");
            // An empty value unsets the variable.
            for (const auto& [name, value] : environment) {
                if (value.empty()) {
                    unsetenv(name.c_str());
                } else {
                    setenv(name.c_str(), value.c_str(), 1);
                }
            }
            setenv("HOME", home.c_str(), 1);
            // Standard output through a pipe, the terminal still standard
            // input (as with `tunnelconsole | tee -i log`: the shell and the
            // pipe's reader outlive Ctrl-C, the program takes its own).
            if (const char* pipe = getenv("E2E_STDOUT_PIPE"); pipe != nullptr) {
                unsetenv("E2E_STDOUT_PIPE");
                execl("/bin/sh", "sh", "-c", "trap '' INT; \"$0\" | cat", folder_.program.c_str(),
                      nullptr);
            }
            // Under a shell with job control, as typed at one: once stopped,
            // the shell says so, and a line typed to it runs `fg`.
            if (getenv("E2E_JOB_CONTROL") != nullptr) {
                unsetenv("E2E_JOB_CONTROL");
                execl("/bin/bash", "bash", "-m", "-c", "\"$0\"; echo stopped; read -r; fg",
                      folder_.program.c_str(), nullptr);
            }
            // Then a shell reads a line from the terminal, as a shell's
            // prompt would, and shows it.
            if (getenv("E2E_READ_AFTER") != nullptr) {
                unsetenv("E2E_READ_AFTER");
                execl("/bin/sh", "sh", "-c",
                      "\"$0\"; echo ended; IFS= read -r line; echo \"[$line]\"",
                      folder_.program.c_str(), nullptr);
            }
            // One argument for the program, as `-q`, when given.
            execl(folder_.program.c_str(), folder_.program.c_str(), getenv("E2E_ARGUMENT"),
                  nullptr);
            _exit(127);
        }
        close(program_end);
        if (pid_ < 0) {
            throw std::runtime_error("fork failed");
        }
    }
    ~TerminalRun() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            WaitForEnd(pid_);
        }
        close(terminal_);
    }

    // Reads until `text` shows up after what earlier calls found, and moves
    // past it. False when the program's output ended first, or at the give-up
    // time: a program that never shows it fails its case rather than hanging
    // the suite.
    bool Shows(const std::string& text) {
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMilliseconds);
        for (;;) {
            const std::size_t at = seen_.find(text, checked_);
            if (at != std::string::npos) {
                checked_ = at + text.size();
                return true;
            }
            if (std::chrono::steady_clock::now() > give_up || !ReadMore()) {
                return false;
            }
        }
    }

    // Keys go in at once, as a person types ahead: the terminal holds them
    // until the program reads them, whatever it is doing meanwhile.
    void Type(const std::string& keys) {
        ASSERT_EQ(write(terminal_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // The thread sanitizer holds back a signal that comes while a thread runs
    // between two calls, and under load has been seen never to hand it on:
    // in its build a signal goes once the program waits in the kernel.
    void LetSignalsThrough() {
#if defined(__SANITIZE_THREAD__)
        // Under a shell, the program is the shell's child.
        std::ifstream children("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) +
                               "/children");
        pid_t program = pid_;
        children >> program;
        WaitUntilAsleepOrEnded(program);
#endif
    }

    void Signal(int signal_number) {
        LetSignalsThrough();
        kill(pid_, signal_number);
    }

    // Both arrive before the program runs on: it is stopped meanwhile.
    void SignalTwice(int first, int second) {
        LetSignalsThrough();
        kill(pid_, SIGSTOP);
        int status = 0;
        waitpid(pid_, &status, WUNTRACED);
        kill(pid_, first);
        kill(pid_, second);
        kill(pid_, SIGCONT);
    }

    // A new window width; the program hears of it by SIGWINCH.
    void Resize(unsigned short columns) {
        LetSignalsThrough();
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        ASSERT_EQ(ioctl(terminal_, TIOCSWINSZ, &size), 0);
    }

    // Waits for the end of the run, reading all it printed; its wait status.
    int End() {
        while (ReadMore()) {
        }
        ended_ = true;
        return WaitForEnd(pid_);
    }

    termios Modes() const {
        termios modes{};
        tcgetattr(terminal_, &modes);
        return modes;
    }

    const termios& FoundModes() const {
        return found_modes_;
    }
    const std::string& Seen() const {
        return seen_;
    }
    pid_t Pid() const {
        return pid_;
    }
    std::string Trace() const {
        return ReadBytes(folder_.root / "trace");
    }

private:
    bool ReadMore() {
        const std::size_t before = seen_.size();
        if (!e2e::ReadMore(terminal_, seen_)) {
            return false;
        }
        // The terminal sends each LF on as CR LF, as it does for any program
        // (ONLCR), so the program's CR LF arrives as CR CR LF. Only what came
        // now is searched (from two bytes back, for one cut by the read), so
        // a flood costs no more to read the longer it runs.
        std::string fresh = seen_.substr(before >= 2 ? before - 2 : 0);
        seen_.resize(seen_.size() - fresh.size());
        for (std::size_t at = 0; (at = fresh.find("\r\r\n", at)) != std::string::npos;) {
            fresh.erase(at, 1);
        }
        seen_ += fresh;
        return true;
    }

    ProgramFolder folder_;
    int terminal_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    termios found_modes_{};
    std::string seen_;
    std::size_t checked_ = 0;
};

// A home folder of its own for each case, removed afterwards.
struct HomeFolder {
    Scratch scratch;
    fs::path path = scratch.path();
    fs::path History() const { return path / ".tunnelconsole_history"; }
};

void ExpectEndsWell(TerminalRun& run) {
    const int status = run.End();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    ExpectSameModes(run.FoundModes(), run.Modes());
}

TEST(TerminalE2e, AnEditedLineRunsAsEdited) {
    const HomeFolder home;
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("statusgt" + std::string(kLeft) + "e\r");
    EXPECT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    // Ctrl-D with a line typed ends nothing; at its end it deletes nothing.
    run.Type(std::string("status") + kCtrlD + "get\r");
    EXPECT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    // Insert, Page Up and Down and the function keys add nothing; Home, End
    // and Delete in their other spellings act.
    run.Type("xvers\x1b[2~\x1b[5~\x1b[6~\x1bOP\x1b[15~\x1b[24~ion\x1b[1~\x1b[3~\x1b[4~get\r");
    EXPECT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
    // A line longer than its field is cut to it (the sanitizers' build
    // watches the copy).
    run.Type("commentset\r" + std::string(300, 'c') + "\r");
    EXPECT_TRUE(run.Shows("Set comment success\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
    // A first run, with no history file yet, has nothing to say about it.
    EXPECT_EQ(run.Seen().find("history"), std::string::npos) << run.Seen();
    EXPECT_NE(run.Trace().find("TunnelCommentSet(\"" + std::string(127, 'c') + "\") = 0\n"),
              std::string::npos)
        << run.Trace();
}

// A passcode is read unseen whenever the keys come from a terminal: with
// the editor (nothing of it drawn, the same keys as at any field, the Linux
// console's F1 adding nothing), and with the editor off (TERM=dumb, standard
// output a pipe), with the terminal's echo off, and back on for the next
// field. It reaches the library as typed, in every locale. domainset's
// "passcode" is the domain, no secret: it is shown. The typed text holds
// "#pw!", which no scratch folder's random name spells, and is looked for
// only where it would be drawn: after its prompt.
TEST(TerminalE2e, APasscodeIsNeverShownAndArrivesAsTyped) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> environment;
        std::string keys;  // at the passcode
        std::string call =
            "TunnelSet(\"#pw!\\xc3\\xa9\\xe2\\x82\\xacx\\t\", \"n\\xc3\\xa9\") = 0\n";
    } rows[] = {
        {"at the editor", {}, "#pw!\xc3\xa9x\x1b[[A\x1b[D\x1b[5~\xe2\x82\xac\x1b[C\t\r"},
        {"at the editor, C locale", {{"LC_ALL", "C"}}, "#pw!\xc3\xa9x\x1b[D\xe2\x82\xac\x1b[C\t\r"},
        {"TERM=dumb", {{"TERM", "dumb"}, {"LC_ALL", "C"}}, "#pw!\xc3\xa9\xe2\x82\xacx\t\r"},
        {"standard output a pipe", {{"E2E_STDOUT_PIPE", "1"}}, "#pw!\xc3\xa9\xe2\x82\xacx\t\r"},
        {"domainset, shown", {}, "#pw!x\r", "TunnelDomainSet(\"#pw!x\") = 0\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bool domain = row.call.starts_with("TunnelDomainSet");
        const HomeFolder home;
        TerminalRun run(home.path, row.environment);
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type(domain ? "domainset\r" : "tunnelset\r");
        ASSERT_TRUE(run.Shows("passcode: ")) << run.Seen();
        const std::size_t prompt = run.Seen().size();
        run.Type(row.keys);
        if (domain) {
            EXPECT_TRUE(run.Shows("Set domain success\r\n")) << run.Seen();
        } else {
            // Enter ends the screen line the prompt is on.
            ASSERT_TRUE(run.Shows("\r\ncomment: ")) << run.Seen();
            const std::size_t comment = run.Seen().size();
            run.Type("n\xc3\xa9\r");
            EXPECT_TRUE(run.Shows("Set tunnel success\r\n")) << run.Seen();
            // The comment is shown as typed: the echo is back.
            EXPECT_EQ(run.Seen().substr(comment, 1), "n") << run.Seen();
        }
        run.Type(kCtrlD);
        ExpectEndsWell(run);
        EXPECT_EQ(run.Seen().find("#pw!", prompt) != std::string::npos, domain) << run.Seen();
        EXPECT_NE(run.Trace().find(row.call), std::string::npos) << run.Trace();
        EXPECT_EQ(ReadBytes(home.History()).find("#pw!"), std::string::npos);
    }
}

// Ctrl-C at the terminal never ends the run, with the editor or without it
// (TERM=dumb, standard output a pipe, where what the terminal echoed is
// ended by a line break): a line typed is dropped, and at a command's field
// the whole command; a command that runs stops at its next safe point
// (testconnect after the round in progress, which deletes what it added),
// and a library call in progress returns and is printed. The prompt comes
// back each time, and the next command runs.
TEST(TerminalE2e, CtrlCDropsTheLineOrStopsTheCommand) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> environment;
    } rows[] = {
        {"at the editor", {}},
        {"TERM=dumb", {{"TERM", "dumb"}}},
        {"standard output a pipe", {{"E2E_STDOUT_PIPE", "1"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HomeFolder home;
        TerminalRun run(home.path, row.environment);
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        // The terminal drops its echo still unsent at Ctrl-C, as output.
        run.Type("statusg");
        ASSERT_TRUE(run.Shows("statusg")) << run.Seen();
        run.Type(kCtrlC);
        ASSERT_TRUE(run.Shows("\r\n\r\n> ")) << run.Seen();
        run.Type("tunnelset\r");
        ASSERT_TRUE(run.Shows("passcode: ")) << run.Seen();
        run.Type(std::string("abc") + kCtrlC);
        ASSERT_TRUE(run.Shows("\r\n\r\n> ")) << run.Seen();
        run.Type("testconnect\r50\rpeer\r");
        // Each round's adds are shown before its first pause.
        ASSERT_TRUE(run.Shows("The connect's local client addr: 127.0.0.1:18000\r\n"))
            << run.Seen();
        run.LetSignalsThrough();
        run.Type(kCtrlC);
        ASSERT_TRUE(run.Shows("tunnelconsole: testconnect stopped after ")) << run.Seen();
        ASSERT_TRUE(run.Shows("\r\n> ")) << run.Seen();
        run.Type("versionget\r");
        ASSERT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
        run.Type(kCtrlD);
        ExpectEndsWell(run);
        const std::string trace = run.Trace();
        EXPECT_EQ(trace.find("TunnelSet("), std::string::npos) << trace;
        EXPECT_EQ(trace.find("TunnelStatusGet"), std::string::npos) << trace;
        // The rounds said are the rounds run, each of them whole.
        std::smatch said;
        ASSERT_TRUE(
            std::regex_search(run.Seen(), said, std::regex("stopped after ([0-9]+) (rounds?)\r\n")))
            << run.Seen();
        EXPECT_EQ(said[2], said[1] == "1" ? "round" : "rounds") << run.Seen();
        const auto count = [&](const char* call) {
            const std::regex pattern(call);
            return std::distance(std::sregex_iterator(trace.begin(), trace.end(), pattern),
                                 std::sregex_iterator());
        };
        EXPECT_EQ(count("TunnelConnectAdd\\(.*\\) = 0\n"), 10 * std::stol(said[1])) << trace;
        EXPECT_EQ(count("TunnelConnectDelete\\(.*\\) = 0\n"), 10 * std::stol(said[1])) << trace;
        EXPECT_EQ(count("TunnelStop"), 1) << trace;
        EXPECT_TRUE(trace.ends_with("TunnelVersionGet(out) = 0\nTunnelStop() = 0\n")) << trace;
    }
}

// A library call in progress is not cut short: an empty push queue keeps the
// program in the library for a second, whose result is printed, and the
// prompt comes back.
TEST(TerminalE2e, CtrlCLetsALibraryCallReturn) {
    const HomeFolder home;
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("pushget\r");
    ASSERT_TRUE(run.Shows("pushget\r\n")) << run.Seen();
    run.LetSignalsThrough();
    run.Type(kCtrlC);
    ASSERT_TRUE(run.Shows("Push get failed, Error: -6\r\n\r\n> ")) << run.Seen();
    run.Type(std::string("versionget\r") + kCtrlD);
    ExpectEndsWell(run);
    EXPECT_TRUE(run.Trace().ends_with(") = -6\nTunnelVersionGet(out) = 0\nTunnelStop() = 0\n"))
        << run.Trace();
}

// How many times the program's main thread went to sleep: a signal handled
// while it waits wakes it, and it sleeps once more.
long Sleeps(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

// Types `key` once the program sleeps, and returns once it has taken it.
void TypeWhenAsleep(TerminalRun& run, const char* key) {
    WaitUntilAsleepOrEnded(run.Pid());
    const long before = Sleeps(run.Pid());
    run.Type(key);
    while (Sleeps(run.Pid()) == before) {
        sched_yield();
    }
}

long Calls(const std::string& trace, const char* call) {
    const std::regex pattern(call);
    return std::distance(std::sregex_iterator(trace.begin(), trace.end(), pattern),
                         std::sregex_iterator());
}

// A call that never returns can still be left: once it has been held a while
// after a Ctrl-C, the next Ctrl-C ends the process at once, as the signal
// would, with the terminal as it was found. Before that, Ctrl-C again is the
// same request, said once.
TEST(TerminalE2e, ASecondCtrlCEndsACallThatNeverReturns) {
    const HomeFolder home;
    TerminalRun run(home.path, {{"TUNNEL_SIM_WAIT", "TunnelUserExtend"}});
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("userextend\rx\r");
    ASSERT_TRUE(run.Shows("x\r\n")) << run.Seen();
    // In the call; each Ctrl-C is taken before the next comes, the last once
    // the call has been held longer than the second the program allows.
    TypeWhenAsleep(run, kCtrlC);
    TypeWhenAsleep(run, kCtrlC);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    run.Type(kCtrlC);
    const int status = run.End();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "wait status " << status;
    ExpectSameModes(run.FoundModes(), run.Modes());
    EXPECT_EQ(Calls(run.Seen(), "tunnelconsole: stopping the command at its next safe point"), 1)
        << run.Seen();
}

// Stopping testconnect keeps its clean-up: a second Ctrl-C a moment after the
// first is the same request (said once), and Ctrl-\ ends the run with the
// library stopped once, status 0, or with -e the signal's.
TEST(TerminalE2e, StopKeysDuringTestconnectDeleteWhatItAdded) {
    const struct {
        const char* name;
        const char* argument;
        const char* second_key;  // after a first Ctrl-C, or alone
        int status;
    } rows[] = {
        {"two Ctrl-C a moment apart", "-q", kCtrlC, 0},
        {"Ctrl-\\", "-q", kCtrlBackslash, 0},
        {"Ctrl-\\ with -e", "-e", kCtrlBackslash, 128 + SIGQUIT},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HomeFolder home;
        TerminalRun run(home.path, {{"E2E_ARGUMENT", row.argument}});
        run.Type("testconnect\r50\rpeer\r");
        ASSERT_TRUE(run.Shows("The connect's local client addr: 127.0.0.1:18000\r\n"))
            << run.Seen();
        const bool twice = row.second_key == std::string_view(kCtrlC);
        if (twice) {
            TypeWhenAsleep(run, kCtrlC);
        }
        TypeWhenAsleep(run, row.second_key);
        if (twice) {
            ASSERT_TRUE(run.Shows("tunnelconsole: stopping the command")) << run.Seen();
            ASSERT_TRUE(run.Shows("stopped after ")) << run.Seen();
            run.Type(kCtrlD);
        }
        const int status = run.End();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.status)
            << "wait status " << status;
        ExpectSameModes(run.FoundModes(), run.Modes());
        const std::string trace = run.Trace();
        EXPECT_GE(Calls(trace, "TunnelConnectAdd\\("), 10) << trace;
        EXPECT_EQ(Calls(trace, "TunnelConnectAdd\\("), Calls(trace, "TunnelConnectDelete\\("))
            << trace;
        EXPECT_EQ(Calls(trace, "TunnelStop"), 1) << trace;
        EXPECT_LE(Calls(run.Seen(), "stopping the command"), 1) << run.Seen();
    }
}

// A line wider than the window wraps, at the width the window has now.
TEST(TerminalE2e, ALineWrapsAtTheWidthAfterAResize) {
    const HomeFolder home;
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("commentset\r");
    ASSERT_TRUE(run.Shows("comment: ")) << run.Seen();
    // The line is drawn again for the new width.
    run.Resize(20);
    ASSERT_TRUE(run.Shows("\rcomment: \x1b[J")) << run.Seen();
    // 9 + 21 cells: the Home key goes back up a row to the line's start.
    run.Type(std::string(21, 'w'));
    ASSERT_TRUE(run.Shows(std::string(21, 'w'))) << run.Seen();
    run.Type("\x01s");
    EXPECT_TRUE(run.Shows("\r\x1b[1Acomment: sw")) << run.Seen();
    run.Type("\r");
    EXPECT_TRUE(run.Shows("Set comment success\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
}

// In a UTF-8 locale, step by step: the keys typed (at a new width, when
// the step gives one), then the exact bytes drawn; and what the library got
// as the comment, and the note that it was cut to so many characters.
TEST(TerminalE2e, KeysActOnWholeCharactersInTheirCells) {
    struct Step {
        std::string keys;
        unsigned short columns = 0;
        std::string shown;
    };
    const std::string comment = "commentset\r";
    const std::string cut(126, 'a');
    const std::string x1023(1023, 'x');
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string comment;
        const char* note = nullptr;
        int bells = -1;  // where counted
    } rows[] = {
        {"End, Left after wide ones",
         {{comment, 0, "comment: "},
          {"漢字ab\x05\x1b[D", 0, "\rcomment: 漢字ab\x1b[J\r\x1b[14C"},
          {"x\r", 0, "Set comment success\r\n"}},
         "漢字axb"},
        {"a combining mark",
         {{comment, 0, "comment: "},
          {"e\xcc\x81x\x1b[D", 0, "\rcomment: e\xcc\x81x\x1b[J\r\x1b[10C"},
          {"y\r", 0, "Set comment success\r\n"}},
         "e\xcc\x81yx"},
        {"wide ones wrapped at 5 columns",
         {{"", 5, "\r> \x1b[J"},
          {"漢字漢字漢字", 0, "> 漢字漢字漢字"},
          {"\x01", 0, "\r\x1b[3A> 漢字漢字漢字\x1b[J\x1b[3A\r\x1b[2C"}},
         ""},
        {"a resize, the cursor a row down",
         {{std::string(21, 'w'), 0, std::string(21, 'w')},
          {"", 20, "\r\x1b[1A> " + std::string(21, 'w') + "\x1b[J"}},
         ""},
        {"a Tab list as wide as the window",
         {{"", 37, "\r> \x1b[J"},
          {"connectl\t", 0, "\r\nconnectlocaldelete\r\nconnectlocalquery\r\n> connectlocal"}},
         ""},
        {"cut before a 2-byte character",
         {{comment, 0, "comment: "}, {cut + "é\r", 0, "Set comment success\r\n"}},
         cut,
         "126"},
        {"cut across a 3-byte character",
         {{comment, 0, "comment: "}, {cut + "€\r", 0, "Set comment success\r\n"}},
         cut,
         "126"},
        {"Alt, or ESC [, with a character types it",
         {{comment, 0, "comment: "}, {"a\x1bébx\x1b[€\r", 0, "Set comment success\r\n"}},
         "aébx€"},
        {"Alt-b, Ctrl-D within the line",
         {{comment, 0, "comment: "},
          {"ab cd\x1b"
           "bx\x02\x02\x04\r",
           0, "Set comment success\r\n"}},
         "abxcd"},
        {"Backspace over the first character",
         {{comment, 0, "comment: "}, {"漢éx\x01\x1b[C\x7f\r", 0, "Set comment success\r\n"}},
         "éx"},
        {"Ctrl-L",
         {{"versi\x0c", 0, "\x1b[H\x1b[2J> versi"}, {"onget\r", 0, "Version: 1.0.0-sim\r\n"}},
         ""},
        {"a full line rings the bell",
         {{x1023 + "x", 0, "\a"}, {"\x01", 0, "\r\x1b[12A> " + x1023 + "\x1b[J\x1b[12A\r\x1b[2C"}},
         ""},
        {"a paste that does not fit rings once",
         {{comment, 0, "comment: "},
          {x1023 + "漢漢漢漢漢漢漢漢漢漢\r", 0, "Set comment success\r\n"}},
         std::string(127, 'x'),
         "127",
         1},
        {"ill-formed UTF-8 is not taken",
         {{comment, 0, "comment: "},
          {"a\xed\xa0\x80"
           "b\xe0\x80\xaf"
           "c\xf4\x90\x80\x80"
           "d\r",
           0, "Set comment success\r\n"}},
         "abcd"},
        {"C1 controls drawn visibly",
         {{comment, 0, "comment: "}, {"a\xc2\x9b", 0, "aM-^["}, {"\r", 0, "success\r\n"}},
         "a\xc2\x9b"},
        {"the cut leaves out a letter with its mark",
         {{comment, 0, "comment: "}, {cut + "e\xcc\x81\r", 0, "Set comment success\r\n"}},
         cut,
         "126"},
        {"the cut leaves out jamo that join",
         {{comment, 0, "comment: "},
          {std::string(124, 'a') + "\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab\r", 0,
           "Set comment success\r\n"}},
         std::string(124, 'a'),
         "124"},
        {"the cut leaves out an emoji with its joiner",
         {{comment, 0, "comment: "},
          {std::string(120, 'a') + "👩‍💻\r", 0, "Set comment success\r\n"}},
         std::string(120, 'a'),
         "120"},
        {"a flag under Backspace, a ZWJ sequence under Left and Delete",
         {{comment, 0, "comment: "},
          {"a🇫🇷\x7f👨‍👩‍👧b\x1b[D\x1b[Dx\x1b[3~\r", 0, "Set comment success\r\n"}},
         "axb"},
        {"joined emoji: the cells the terminal answers are taken",
         {{comment, 0, "comment: "},
          {"👩‍💻", 0, "👩‍💻\x1b[6n\r"},
          {"\x1b[1;5Rx\x1b[D", 0, "comment: 👩‍💻x\x1b[J\r\x1b[13C"},
          {"\r", 0, "Set comment success\r\n"}},
         "👩‍💻x"},
        {"joined emoji, no answer: the cursor's row drawn again up to it",
         {{comment, 0, "comment: "},
          {"👩‍💻x\x1b[D", 0, "comment: 👩‍💻x\x1b[J\rcomment: 👩‍💻"},
          {"\r", 0, "Set comment success\r\n"}},
         "👩‍💻x"},
        {"a Tab at a field, then Backspace",
         {{comment, 0, "comment: "}, {"a\t\x7f\r", 0, "Set comment success\r\n"}},
         "a"},
        {"a lone Esc, Esc Esc",
         {{"versi\x1b", 0, "\r> \x1b[J"}, {"ver\x1b\x1bstatusget\r", 0, "Status: 1\r\n"}},
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HomeFolder home;
        TerminalRun run(home.path, {{"LC_ALL", "C.UTF-8"}});
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        for (const Step& step : row.steps) {
            if (step.columns != 0) {
                run.Resize(step.columns);
            }
            run.Type(step.keys);
            ASSERT_TRUE(run.Shows(step.shown)) << run.Seen();
        }
        run.Type("\x05\x15\x04");
        ExpectEndsWell(run);
        std::string traced;
        for (const char byte : row.comment) {
            char quoted[5];
            std::snprintf(quoted, sizeof quoted, byte < 0 ? "\\x%02x" : "%c", byte & 0xff);
            traced += quoted;
        }
        EXPECT_EQ(
            run.Trace().find("TunnelCommentSet(\"" + traced + "\") = 0\n") != std::string::npos,
            !row.comment.empty())
            << run.Trace();
        const std::string note =
            row.note == nullptr
                ? "was cut"
                : std::string("tunnelconsole: the comment typed was cut to its first ") + row.note +
                      " characters\r\n";
        EXPECT_EQ(run.Seen().find(note) != std::string::npos, row.note != nullptr) << run.Seen();
        if (row.bells >= 0) {
            EXPECT_EQ(std::count(run.Seen().begin(), run.Seen().end(), '\a'), row.bells);
        }
    }
}

// The screen of a tmux session, row by row, once it shows `text`; empty when
// the session ended first.
std::vector<std::string> TmuxScreenShowing(const std::string& tmux, const std::string& text) {
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMilliseconds);
    while (std::chrono::steady_clock::now() < give_up) {
        FILE* pane = popen((tmux + " capture-pane -p 2>/dev/null").c_str(), "r");
        std::string screen;
        char piece[4096];
        for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, pane)) > 0;) {
            screen.append(piece, got);
        }
        if (pclose(pane) != 0) {
            return {};
        }
        if (screen.find(text) != std::string::npos) {
            std::vector<std::string> rows;
            for (std::size_t at = 0, end; at < screen.size(); at = end + 1) {
                end = std::min(screen.find('\n', at), screen.size());
                rows.push_back(screen.substr(at, end - at));
            }
            return rows;
        }
        usleep(20000);  // tmux tells no one when its screen changes
    }
    return {};
}

// At a terminal that joins emoji with a joiner into one cluster of two cells
// (tmux), a line of them wider than the window, then Backspace: every row
// above the prompt is as it was, and the rows are filled as tmux said it
// draws such a cluster when asked.
TEST(TerminalE2e, JoinedEmojiLeaveTheRowsAboveThePrompt) {
    if (std::system("tmux -V > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no tmux";
    }
    ProgramFolder folder;
    LaySettings(folder);
    const HomeFolder home;
    const std::string tmux = "tmux -S '" + (folder.root / "tmux").string() + "'";
    ASSERT_EQ(std::system((tmux + " new-session -d -x 30 -y 20 'HOME=\"" + home.path.string() +
                           "\" LC_ALL=C.UTF-8 exec \"" + folder.program.string() + "\"'")
                              .c_str()),
              0);
    ASSERT_FALSE(TmuxScreenShowing(tmux, "\n>").empty());
    ASSERT_EQ(std::system((tmux + " send-keys -l versionget \\; send-keys Enter").c_str()), 0);
    const std::vector<std::string> before = TmuxScreenShowing(tmux, "1.0.0-sim\n\n>");
    std::string emoji;
    for (int typed = 0; typed < 30; ++typed) {
        emoji += "👩‍💻";
    }
    // Drawn once, then drawn again from the row the editor thinks the
    // cursor is on.
    ASSERT_EQ(std::system((tmux + " send-keys -l '" + emoji + "Z'").c_str()), 0);
    ASSERT_FALSE(TmuxScreenShowing(tmux, "Z").empty());
    ASSERT_EQ(std::system((tmux + " send-keys BSpace BSpace \\; send-keys -l Y").c_str()), 0);
    // tmux says, when asked, that it draws one in two cells: 14 fill the
    // prompt's row.
    std::string row_of_14 = "\n> ";
    for (int drawn = 0; drawn < 14; ++drawn) {
        row_of_14 += "👩‍💻";
    }
    ASSERT_FALSE(TmuxScreenShowing(tmux, "Y").empty());
    const std::vector<std::string> after = TmuxScreenShowing(tmux, row_of_14 + "\n");
    std::system((tmux + " kill-server").c_str());
    const auto prompt = std::find_if(before.rbegin(), before.rend(),
                                     [](const std::string& row) { return row.starts_with(">"); });
    ASSERT_NE(prompt, before.rend());
    const auto rows_above = before.rend() - prompt - 1;
    ASSERT_GE(after.size(), static_cast<std::size_t>(rows_above));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + rows_above, after.begin()));
    EXPECT_EQ("\n" + after[static_cast<std::size_t>(rows_above)], row_of_14);
}

// With -q no prompt is drawn, and Enter on the empty line still ends it.
TEST(TerminalE2e, WithoutPromptsEnterStillEndsTheLine) {
    const HomeFolder home;
    TerminalRun run(home.path, {{"E2E_ARGUMENT", "-q"}});
    ASSERT_TRUE(run.Shows("tunnel started: dev-1\r\n")) << run.Seen();
    run.Type("\r");
    ASSERT_TRUE(run.Shows("\r\n  quit\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
}

TEST(TerminalE2e, TabCompletesCommandNames) {
    const HomeFolder home;
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    // A unique start completes.
    run.Type("versi\t\r");
    EXPECT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
    // An ambiguous one grows as far as the names agree, and lists them.
    run.Type("connectl\t");
    EXPECT_TRUE(run.Shows("\r\nconnectlocaldelete  connectlocalquery\r\n")) << run.Seen();
    run.Type("query\r");
    EXPECT_TRUE(run.Shows("client addr: ")) << run.Seen();
    // A field takes a tab as typed.
    run.Type("peer\t\r");
    EXPECT_TRUE(run.Shows("Query connect by local address failed, Error: -2\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
    EXPECT_NE(run.Trace().find("TunnelConnectLocalQuery(\"peer\\t\", out) = -2\n"),
              std::string::npos)
        << run.Trace();
}

// Keys typed while a command runs wait for the next prompt: drawn there once,
// by the editor, and a Ctrl-D among them ends the input there. (An empty push
// queue keeps the program in the library for a second.)
TEST(TerminalE2e, KeysTypedWhileACommandRunsActAtTheNextPrompt) {
    const HomeFolder home;
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("pushget\r");
    ASSERT_TRUE(run.Shows("pushget\r\n")) << run.Seen();
    run.Type(std::string("statusget\r") + kCtrlD);
    EXPECT_TRUE(run.Shows("Push get failed, Error: -6\r\n\r\n> statusget\r\nStatus: 1\r\n"))
        << run.Seen();
    EXPECT_EQ(run.Seen().find("statusget"), run.Seen().rfind("statusget")) << run.Seen();
    ExpectEndsWell(run);
    EXPECT_TRUE(run.Trace().ends_with(") = -6\nTunnelStatusGet(0, out) = 0\nTunnelStop() = 0\n"))
        << run.Trace();
}

// A terminal the editor cannot redraw on is read as a pipe is: its own line
// editing keeps the typed line, and a message never returns the cursor over
// it, which would leave the line's tail on the screen.
TEST(TerminalE2e, ATerminalWithoutRedrawIsReadAsAPipe) {
    for (const char* term : {"dumb", "", "no-such-terminal"}) {
        SCOPED_TRACE(term);
        const HomeFolder home;
        TerminalRun run(home.path, {{"TERM", term}, {"TUNNEL_SIM_LOG_THREAD", "20000"}});
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type("versi");
        ASSERT_TRUE(run.Shows("versi")) << run.Seen();
        ASSERT_TRUE(run.Shows("tunnel heartbeat")) << run.Seen();
        run.Type("onget\r");
        EXPECT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
        run.Type(kCtrlD);
        ExpectEndsWell(run);
        EXPECT_EQ(run.Seen().find("\rtunnel heartbeat"), std::string::npos) << run.Seen();
        EXPECT_EQ(run.Seen().find('\x1b'), std::string::npos) << run.Seen();
    }
}

// Command lines only: never what was typed at a field.
TEST(TerminalE2e, HistoryRecallsCommandLinesAcrossRuns) {
    const HomeFolder home;
    {
        TerminalRun run(home.path);
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type("versionget\r");
        run.Type("domainset\r");
        ASSERT_TRUE(run.Shows("passcode: ")) << run.Seen();
        run.Type("s3cret\r");
        ASSERT_TRUE(run.Shows("Set domain success\r\n")) << run.Seen();
        // Up recalls the last command; at its field, Up recalls nothing.
        run.Type(std::string(kUp) + "\r");
        ASSERT_TRUE(run.Shows("passcode: ")) << run.Seen();
        run.Type(std::string(kUp) + "x\r");
        run.Type("domainget\r");
        EXPECT_TRUE(run.Shows("Domain: x\r\n")) << run.Seen();
        run.Type(kCtrlD);
        ExpectEndsWell(run);
    }
    struct stat file {};
    ASSERT_EQ(stat(home.History().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    const std::string history = ReadBytes(home.History());
    EXPECT_NE(history.find("\ndomainset\n"), std::string::npos) << history;
    EXPECT_EQ(history.find("s3cret"), std::string::npos) << history;
    EXPECT_EQ(history.find("\nx\n"), std::string::npos) << history;

    TerminalRun again(home.path);
    ASSERT_TRUE(again.Shows("> ")) << again.Seen();
    again.Type(std::string(kUp) + kUp + "\r");
    EXPECT_TRUE(again.Shows("passcode: ")) << again.Seen();
    again.Type("d\r");
    // Ctrl-R finds the last command line with the text typed after it.
    again.Type("\x12vers");
    EXPECT_TRUE(again.Shows("(reverse-i-search)`vers': versionget")) << again.Seen();
    again.Type("\r");
    EXPECT_TRUE(again.Shows("Version: 1.0.0-sim\r\n")) << again.Seen();
    again.Type(kCtrlD);
    ExpectEndsWell(again);
}

// A history file that cannot be read costs one line on standard error (the
// same terminal here), never the session; it is not tried again.
TEST(TerminalE2e, AHistoryFileThatCannotBeUsedCostsALine) {
    const HomeFolder home;
    fs::create_directory(home.History());
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("tunnelconsole: history file " + home.History().string() +
                          " was not read: Is a directory\r\n"))
        << run.Seen();
    run.Type("statusget\r");
    EXPECT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    EXPECT_EQ(run.Seen().find("was not written"), std::string::npos) << run.Seen();
    run.Type(std::string(kUp) + "\r");
    EXPECT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
}

// A message that arrives while a line is half typed goes above it, whole and
// on lines of its own; the prompt and the typed text are drawn again below it,
// and the line runs as typed.
// Messages every 20 ms, and one after another without a pause, so that some
// come between a prompt's print and the read that shows it.
class TerminalMessagesE2e : public testing::TestWithParam<const char*> {};

TEST_P(TerminalMessagesE2e, ALogMessageLeavesTheTypedLineWhole) {
    const HomeFolder home;
    TerminalRun run(home.path, {{"TUNNEL_SIM_LOG_THREAD", GetParam()}});
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("versi");
    ASSERT_TRUE(run.Shows("versi")) << run.Seen();
    // The typed text leaves the screen, the message takes its line, the line
    // comes back below.
    EXPECT_TRUE(run.Shows(std::string("\r") + kClearDown + "tunnel heartbeat ")) << run.Seen();
    EXPECT_TRUE(run.Shows("\r\n> versi")) << run.Seen();
    // Right below the messages, no blank line between.
    EXPECT_TRUE(std::regex_search(run.Seen(),
                                  std::regex("\r\x1b\\[J(tunnel heartbeat [0-9]+\r\n)+> versi")))
        << run.Seen();
    run.Type("onget\r");
    EXPECT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
    for (int i = 0; i < 20; ++i) {
        run.Type("statusget\r");
        ASSERT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    }
    run.Type(kCtrlD);
    ExpectEndsWell(run);
    // Each command as it runs follows its prompt on its line.
    std::size_t commands = 0;
    for (std::size_t at = 0; (at = run.Seen().find("> statusget\r\n", at)) != std::string::npos;
         ++at) {
        ++commands;
    }
    EXPECT_EQ(commands, 20u) << run.Seen();
    // Each message whole, each on a line that it starts: the prompt's line
    // was cleared for it, or a line break came before it.
    const std::regex message("tunnel heartbeat [0-9]+");
    const std::string& seen = run.Seen();
    int messages = 0;
    for (std::sregex_iterator it(seen.begin(), seen.end(), message), end; it != end; ++it) {
        const std::string before = seen.substr(0, static_cast<std::size_t>(it->position()));
        const std::string after =
            seen.substr(static_cast<std::size_t>(it->position() + it->length()));
        EXPECT_TRUE(before.ends_with("\r\n") || before.ends_with(std::string("\r") + kClearDown))
            << seen;
        EXPECT_TRUE(after.starts_with("\r\n")) << seen;
        ++messages;
    }
    EXPECT_GT(messages, 0);
}

INSTANTIATE_TEST_SUITE_P(Interval, TerminalMessagesE2e, testing::Values("20000", "0"),
                         [](const auto& info) {
                             return std::string(info.param) == "0" ? "Flood" : "Every20ms";
                         });

// A message without a line break of its own still takes a line above the
// typed one: the line it ends is the program's.
TEST(TerminalE2e, AMessageWithoutALineBreakStillTakesALine) {
    const HomeFolder home;
    TerminalRun run(home.path,
                    {{"TUNNEL_SIM_LOG_THREAD", "20000"}, {"TUNNEL_SIM_LOG_UNENDED", "1"}});
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("versi");
    ASSERT_TRUE(run.Shows("versi")) << run.Seen();
    ASSERT_TRUE(run.Shows(std::string("\r") + kClearDown + "tunnel heartbeat ")) << run.Seen();
    ASSERT_TRUE(run.Shows("\r\n> versi")) << run.Seen();
    EXPECT_TRUE(
        std::regex_search(run.Seen(), std::regex("\r\x1b\\[Jtunnel heartbeat [0-9]+\r\n> versi")))
        << run.Seen();
    run.Type("onget\r");
    EXPECT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
}

// Every way out stops the library once, or ends the process at once on a
// second request, and leaves the terminal's modes as they were found.
TEST(TerminalE2e, EveryWayOutLeavesTheTerminalAsFound) {
    const struct {
        const char* name;
        std::string keys;  // typed at the command prompt
        const char* key;   // then typed, once the editor has drawn them
        int signal;        // or then sent, 0 for none
        int second_signal;
    } rows[] = {
        {"Ctrl-D on an empty line", "", kCtrlD, 0, 0},
        {"SIGINT with a line half typed", "statusg", "", SIGINT, 0},
        {"termination with a line half typed", "statusg", "", SIGTERM, 0},
        {"hang-up", "", "", SIGHUP, 0},
        // The second comes while the editor still has the terminal, and ends
        // the process at once.
        {"a second request", "statusg", "", SIGTERM, SIGINT},
        {"Ctrl-\\", "statusg", kCtrlBackslash, 0, 0},
        {"Ctrl-\\ at an empty line", "", kCtrlBackslash, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HomeFolder home;
        TerminalRun run(home.path);
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type(row.keys);
        ASSERT_TRUE(run.Shows(row.keys)) << run.Seen();
        run.LetSignalsThrough();
        run.Type(row.key);
        if (row.second_signal != 0) {
            run.SignalTwice(row.signal, row.second_signal);
        } else if (row.signal != 0) {
            run.Signal(row.signal);
        }
        const int status = run.End();
        if (row.second_signal != 0) {
            EXPECT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
            // Stopped once; the half-typed line never ran.
            EXPECT_TRUE(run.Trace().ends_with(") = 0\nTunnelStop() = 0\n")) << run.Trace();
            EXPECT_EQ(run.Trace().find("TunnelStatusGet"), std::string::npos) << run.Trace();
            // The last line, the prompt's, is ended for the shell's prompt.
            EXPECT_TRUE(std::regex_search(run.Seen(), std::regex("\r\n> [a-z]*\r\n$")))
                << run.Seen();
        }
        ExpectSameModes(run.FoundModes(), run.Modes());
    }
}

// A question the editor asked the terminal (the cells of a joined emoji)
// whose answer comes after the input ended: the answer is taken before the
// program ends, never left for the shell to read.
TEST(TerminalE2e, ALateAnswerIsNotLeftForTheShell) {
    const HomeFolder home;
    TerminalRun run(home.path, {{"LC_ALL", "C.UTF-8"}, {"E2E_READ_AFTER", "1"}});
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("👩‍💻");
    ASSERT_TRUE(run.Shows("\x1b[6n\r")) << run.Seen();
    run.Type(std::string("\x15") + kCtrlD);
    ASSERT_TRUE(run.Shows("\r\n")) << run.Seen();
    run.Type("\x1b[1;3R");
    ASSERT_TRUE(run.Shows("ended\r\n")) << run.Seen();
    run.Type("\r");
    ASSERT_TRUE(run.Shows("]")) << run.Seen();
    EXPECT_NE(run.Seen().find("ended\r\n\r\n[]"), std::string::npos) << run.Seen();
    EXPECT_EQ(run.End(), 0);
}

// Signals the program has no use for end it as they would, but the terminal
// is left as it was found, with a line half typed or not.
TEST(TerminalE2e, AnUntrappedSignalLeavesTheTerminalAsFound) {
    for (const int signal_number : {SIGUSR1, SIGALRM, SIGBUS, SIGSEGV, SIGABRT}) {
        SCOPED_TRACE(strsignal(signal_number));
        const HomeFolder home;
        TerminalRun run(home.path);
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type("statusg");
        ASSERT_TRUE(run.Shows("statusg")) << run.Seen();
        run.Signal(signal_number);
        const int status = run.End();
        EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == signal_number) ||
                    (kSanitized && status != 0))
            << "wait status " << status;
        ExpectSameModes(run.FoundModes(), run.Modes());
    }
}

// A history file that is not the program's is left as it is: one that is not
// read as history costs a line and the session keeps none; a link to a
// device or to anything but a file turns the history off without a word.
TEST(TerminalE2e, AHistoryFileNotTheProgramsIsLeftAlone) {
    const struct {
        const char* name;
        bool link;             // the history file links to "other" beside it
        const char* contents;  // of "other" (or of the history file); null: a FIFO
        bool said;             // a line on standard error
    } rows[] = {
        {"another format", false, "#1700000000\nls -l\n", true},
        {"a link to another format", true, "#1700000000\nls -l\n", true},
        {"a link to a FIFO", true, nullptr, false},
        {"a link to /dev/null", true, "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HomeFolder home;
        fs::path other = home.path / "other";
        if (row.contents == nullptr) {
            ASSERT_EQ(mkfifo(other.c_str(), 0644), 0);
        } else if (std::string_view(row.name).ends_with("/dev/null")) {
            // A privileged run gets a null device of its own to harm, not
            // the machine's.
            if (geteuid() != 0 || mknod(other.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
                other = "/dev/null";
            }
        } else {
            WriteBytes(row.link ? other : home.History(), row.contents);
            fs::permissions(row.link ? other : home.History(), fs::perms(0644));
        }
        if (row.link) {
            fs::create_symlink(other, home.History());
        }
        const fs::path file = row.link ? other : home.History();
        struct stat before {};
        ASSERT_EQ(stat(file.c_str(), &before), 0);
        TerminalRun run(home.path);
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type("versionget\r");
        ASSERT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
        run.Type("statusget\r");
        ASSERT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
        run.Type(kCtrlD);
        ExpectEndsWell(run);
        const bool said =
            run.Seen().find("tunnelconsole: history file " + home.History().string() +
                            " was not read: it is not a history file\r\n") != std::string::npos;
        EXPECT_EQ(said, row.said) << run.Seen();
        EXPECT_EQ(run.Seen().find("was not written"), std::string::npos) << run.Seen();
        struct stat after {};
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        if (row.contents != nullptr && *row.contents != '\0') {
            EXPECT_EQ(ReadBytes(file), row.contents);
        }
        EXPECT_EQ(fs::is_symlink(home.History()), row.link);
    }
}

// Two sessions in one home: each adds its own lines, and neither loses the
// other's.
TEST(TerminalE2e, TwoSessionsKeepEachOthersHistory) {
    const HomeFolder home;
    TerminalRun first(home.path);
    TerminalRun second(home.path);
    ASSERT_TRUE(first.Shows("> ")) << first.Seen();
    ASSERT_TRUE(second.Shows("> ")) << second.Seen();
    first.Type("versionget\r");
    ASSERT_TRUE(first.Shows("Version: 1.0.0-sim\r\n")) << first.Seen();
    second.Type("statusget\r");
    ASSERT_TRUE(second.Shows("Status: 1\r\n")) << second.Seen();
    first.Type("selfget\r");
    ASSERT_TRUE(first.Shows("Self ID: dev-1\r\n")) << first.Seen();
    first.Type(kCtrlD);
    ExpectEndsWell(first);
    second.Type(kCtrlD);
    ExpectEndsWell(second);
    EXPECT_EQ(ReadBytes(home.History()), "_HiStOrY_V2_\nversionget\nstatusget\nselfget\n");
}

// A save waits a while for the lock every session takes, no longer: while
// another holder keeps it, the line is not saved, one line says so, and the
// prompt goes on without the file.
TEST(TerminalE2e, ASaveWaitsForTheHistoryFilesLockAWhile) {
    const HomeFolder home;
    const std::string found = "_HiStOrY_V2_\nversionget\nstatusget\n";
    WriteBytes(home.History(), found);
    const int held = open(home.History().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(held >= 0);
    TerminalRun run(home.path);
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    run.Type("selfget\r");
    const std::string note = "tunnelconsole: history file " + home.History().string() +
                             " was not written: another session held its lock too long\r\n";
    ASSERT_TRUE(run.Shows(note)) << run.Seen();
    ASSERT_TRUE(run.Shows("Self ID: dev-1\r\n")) << run.Seen();
    run.Type("statusget\r");
    ASSERT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    close(held);
    run.Type(kCtrlD);
    ExpectEndsWell(run);
    EXPECT_EQ(run.Seen().find(note), run.Seen().rfind(note));
    EXPECT_EQ(ReadBytes(home.History()), found);
}

std::string HistoryLines(int count) {
    std::string lines = "_HiStOrY_V2_\n";
    for (int i = 0; i < count; ++i) {
        lines += i % 2 == 0 ? "versionget\n" : "statusget\n";
    }
    return lines;
}

// The file as found, what is typed, and the file after: it keeps the last
// 1000 command lines, cut at the first save however far over it is; a line
// longer than a command line is dropped when the file is read, and goes from
// the file at the next save; a command repeated at once is kept once.
TEST(TerminalE2e, TheHistoryFileKeepsTheLast1000CommandLines) {
    const std::string x255(255, 'x');
    const struct {
        const char* name;
        std::string found;
        std::string keys;
        std::string kept;  // or, with `lines`, how it ends
        std::size_t lines = 0;
    } rows[] = {
        {"1200 lines", HistoryLines(1200), "selfget\r", "\nstatusget\nselfget\n", 1 + 1000},
        {"1050 lines", HistoryLines(1050), "selfget\r", "\nstatusget\nselfget\n", 1 + 1000},
        {"a line of a mebibyte",
         "_HiStOrY_V2_\nversionget\n" + std::string(1 << 20, 'x') + "\nstatusget\n",
         std::string(kUp) + kUp + "\rselfget\rselfget\r",
         "_HiStOrY_V2_\nversionget\nstatusget\nversionget\nselfget\n"},
        {"lines of 255 and 256 bytes", "_HiStOrY_V2_\n" + x255 + "\n" + x255 + "y\n", "selfget\r",
         "_HiStOrY_V2_\n" + x255 + "\nselfget\n"},
        {"a last line without a line break", "_HiStOrY_V2_\nversionget\nstatusget", "selfget\r",
         "_HiStOrY_V2_\nversionget\nstatusget\nselfget\n"},
        {"CR LF lines, the header's too", "_HiStOrY_V2_\r\nversionget\r\nstatusget\r\n",
         std::string(kUp) + kUp + "\rselfget\r",
         "_HiStOrY_V2_\r\nversionget\r\nstatusget\r\nversionget\nselfget\n"},
        {"a line that is not UTF-8 is not offered",
         "_HiStOrY_V2_\nversionget\nstatusget\nstatus\xffget\n",
         std::string(kUp) + kUp + "\rselfget\r",
         "_HiStOrY_V2_\nversionget\nstatusget\nstatus\xffget\nversionget\nselfget\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HomeFolder home;
        WriteBytes(home.History(), row.found);
        TerminalRun run(home.path, {{"LC_ALL", "C.UTF-8"}});
        ASSERT_TRUE(run.Shows("> ")) << run.Seen();
        run.Type(row.keys);
        ASSERT_TRUE(run.Shows("Self ID: dev-1\r\n")) << run.Seen();
        run.Type(kCtrlD);
        ExpectEndsWell(run);
        const std::string history = ReadBytes(home.History());
        if (row.lines == 0) {
            EXPECT_EQ(history, row.kept);
        } else {
            EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), row.lines);
            EXPECT_TRUE(history.ends_with(row.kept)) << history;
        }
    }
}

// With HOME empty there is no file to keep command lines in: one line says
// so, and nothing is written at the top of the file system.
TEST(TerminalE2e, AnEmptyHomeKeepsNoHistory) {
    TerminalRun run("");
    ASSERT_TRUE(run.Shows("tunnelconsole: command lines are not kept: HOME is empty\r\n"))
        << run.Seen();
    run.Type("statusget\r");
    ASSERT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    run.Type(std::string(kUp) + "\r");
    ASSERT_TRUE(run.Shows("Status: 1\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
    EXPECT_FALSE(fs::exists("/.tunnelconsole_history"));
}

// Ctrl-Z hands the shell the terminal as it was found; `fg` gives the editor
// its modes back, and the half-typed line is drawn again.
TEST(TerminalE2e, CtrlZAndFgHandTheTerminalOverAndBack) {
    const HomeFolder home;
    TerminalRun run(home.path, {{"E2E_JOB_CONTROL", "1"}});
    ASSERT_TRUE(run.Shows("> ")) << run.Seen();
    run.Type("versi");
    ASSERT_TRUE(run.Shows("versi")) << run.Seen();
    run.LetSignalsThrough();
    run.Type("\x1a");
    ASSERT_TRUE(run.Shows("stopped\r\n")) << run.Seen();
    ExpectSameModes(run.FoundModes(), run.Modes());
    run.Type("\n");
    ASSERT_TRUE(run.Shows("> versi")) << run.Seen();
    EXPECT_EQ(run.Modes().c_lflag & (ICANON | ECHO), 0u);
    run.Type("onget\r");
    EXPECT_TRUE(run.Shows("Version: 1.0.0-sim\r\n")) << run.Seen();
    run.Type(kCtrlD);
    ExpectEndsWell(run);
}

}  // namespace
}  // namespace e2e
