// The console program (tunnelconsole.com) in a terminal under Wine, as a
// person at a console uses it: commands typed at the console's own line
// editing, the console's code page, and the stop keys.
#include <gtest/gtest.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>

#include "e2e_harness.h"
#include "transcript.h"

extern char** environ;

namespace e2e {
namespace {

class ConsoleProgramE2e : public testing::Test {
    void SetUp() override {
        if (!TestingWindowsProgram()) {
            GTEST_SKIP() << "the console program runs under Wine only";
        }
    }
};

// What the terminal shows, as text: the console draws each character with
// the cursor hidden, a blank as "erase, then one to the right", and ends
// lines in CR CR LF.
std::string AsText(const std::string& drawn) {
    std::string text = std::regex_replace(drawn, std::regex("\x1b\\[K\x1b\\[1C"), " ");
    text = std::regex_replace(text, std::regex("\x1b\\[[0-9;?]*[A-Za-z]"), "");
    return std::regex_replace(text, std::regex("\r"), "");
}

// How the program is started on its terminal. Each way gives it a profile
// folder (APPDATA) of its own, so that the history file of the emulator's
// own profile is never touched.
enum class Start {
    kDirectly,        // by the Win32 launcher, which only sets APPDATA
    kFromAShell,      // that sets APPDATA and shows the console's code page
                      // before and after the program
    kWithKeysTyped,   // by the Win32 launcher, which also types the keys
                      // given, Enter, Ctrl-Z and Enter at the console they share
    kOutputToAFile,   // by the Win32 launcher, which also sends standard
                      // output to the file "out" beside the program
    kInputFromAPipe,  // by the Win32 launcher, with standard input a pipe that
                      // stays open and empty
};

// A user's profile folder of its own for each case, removed afterwards.
struct ProfileFolder {
    Scratch scratch;
    std::filesystem::path path = scratch.path();
    std::filesystem::path History() const { return path / "tunnelconsole" / "history"; }
};

// The program started on a new terminal of its own, with the usual files
// and the library's trace taken; with `app_data` empty, a profile of its own.
struct TerminalRun {
    explicit TerminalRun(std::vector<std::string> settings = {}, Start start = Start::kDirectly,
                         std::filesystem::path app_data = {},
                         const std::string& keys = "versionget") {
        LaySettings(folder);
        const std::string profile = ProgramView(app_data.empty() ? own_profile.path : app_data);
        const std::string program = ProgramView(folder.program);
        // Everything the child needs is made before the fork.
        std::vector<std::string> arguments = Words(std::getenv("E2E_LAUNCHER"));
        if (start == Start::kFromAShell) {
            arguments.insert(
                arguments.end(),
                {"cmd", "/c", "set APPDATA=" + profile + "& chcp & " + program + " & chcp"});
        } else {
            arguments.insert(arguments.end(), {std::getenv("E2E_WIN32_LAUNCHER"),
                                               "--app-data=" + profile, folder.program.string()});
            if (start == Start::kOutputToAFile) {
                arguments.insert(arguments.end() - 1,
                                 "--stdout=file=" + (folder.app / "out").string());
            }
            if (start == Start::kInputFromAPipe) {
                arguments.insert(arguments.end() - 1, "--stdin=endless");
            }
            if (start == Start::kWithKeysTyped) {
                arguments.insert(
                    arguments.end() - 1,
                    {"--keys=" + keys, "--screen=" + (folder.root / "screen").string()});
            }
        }
        std::vector<std::string> variables;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string_view text(*variable);
            if (!text.starts_with("TUNNEL_SIM_") && !text.starts_with("LANG=")) {
                variables.emplace_back(text);
            }
        }
        // UTF-8 on the terminal; the ANSI code page Wine derives from it is 1252.
        variables.emplace_back("LANG=C.UTF-8");
        variables.emplace_back("TUNNEL_SIM_TRACE=" + (folder.root / "trace").string());
        variables.insert(variables.end(), settings.begin(), settings.end());
        std::vector<char*> argv = Pointers(arguments);
        std::vector<char*> envp = Pointers(variables);

        winsize size{};
        size.ws_row = 25;
        size.ws_col = 200;
        // Keys pass as typed, but Ctrl-C interrupts, as once the console has
        // set up the terminal; so keys typed before that reach it alike.
        termios terminal_settings{};
        cfmakeraw(&terminal_settings);
        terminal_settings.c_lflag |= ISIG;
        terminal_settings.c_cc[VINTR] = 0x03;
        pid = forkpty(&terminal, nullptr, &terminal_settings, &size);
        if (pid == 0) {
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        if (pid < 0) {
            ADD_FAILURE() << "forkpty failed";
        }
    }
    ~TerminalRun() {
        if (terminal >= 0) {
            close(terminal);
        }
    }

    // Reads until `text` shows after what earlier calls found, and moves past
    // it; false when the terminal closed first. A program that never shows it
    // fails here, after the harness's give-up time, rather than hanging the
    // suite.
    // With `unless`, also false when that shows first: a program that
    // keeps printing otherwise never lets the give-up time pass.
    bool ReadUntilShown(const std::string& text, const std::string& unless = {}) {
        for (;;) {
            const std::string shown = AsText(drawn);
            const std::size_t at = shown.find(text, checked);
            const std::size_t other =
                unless.empty() ? std::string::npos : shown.find(unless, checked);
            if (other != std::string::npos && (at == std::string::npos || other < at)) {
                return false;
            }
            if (at != std::string::npos) {
                checked = at + text.size();
                return true;
            }
            if (!ReadMore(terminal, drawn)) {
                return false;
            }
        }
    }
    // What the terminal shows after the last text found, up to the end of the
    // run: the screen is read until the terminal closes, so bytes that came
    // in one read with the text found are counted too.
    std::string RestOfScreen() {
        const std::size_t shown = checked;
        ReadUntilShown("never shown");
        return AsText(drawn).substr(shown);
    }
    // Types quit, reads the rest of the screen and sees the run exit with 0.
    std::string Quit() {
        Type("quit\r");
        const std::string rest = RestOfScreen();
        EXPECT_EQ(WaitForExit(pid), 0);
        return rest;
    }
    void Type(const std::string& keys) {
        ASSERT_EQ(write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    std::string Trace() const { return WithPlaceholders(ReadBytes(folder.root / "trace"), folder); }
    // The console's rows at the end, read back by the launcher (kWithKeysTyped).
    std::string Screen() const { return ReadBytes(folder.root / "screen"); }

    ProfileFolder own_profile;
    ProgramFolder folder;
    int terminal = -1;
    pid_t pid = -1;
    std::string drawn;
    std::size_t checked = 0;  // in AsText(drawn): what was found ends here
};

const std::string kTypedPrompt = "\n> ";

TEST_F(ConsoleProgramE2e, TypedCommandsAnswerAtTheConsole) {
    TerminalRun run;
    ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
    run.Type("statusget\r");
    ASSERT_TRUE(run.ReadUntilShown("statusget\nStatus: 1\n" + kTypedPrompt)) << run.drawn;
    // Typed as UTF-8 at the terminal, it reaches the library in the ANSI
    // code page (1252), not the console's OEM one (437: 0x82).
    run.Type("commentset\r");
    ASSERT_TRUE(run.ReadUntilShown("comment: ")) << run.drawn;
    run.Type("\xC3\xA9\r");
    ASSERT_TRUE(run.ReadUntilShown("Set comment success\n" + kTypedPrompt)) << run.drawn;
    EXPECT_EQ(run.Quit(), "quit\n");
    EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + "TunnelStatusGet(0, out) = 0\n" +
                               "TunnelCommentSet(\"\\xe9\") = 0\n" + kStopTrace);
}

// The code page a shell's `chcp` showed last, empty when none.
std::string CodePageShown(const std::string& screen) {
    std::smatch shown;
    std::string last;
    for (std::string rest = screen;
         std::regex_search(rest, shown, std::regex("Active code page: ([0-9]+)"));
         rest = shown.suffix()) {
        last = shown[1];
    }
    return last;
}

// The console is shared with the shell that started the program: its code
// pages are the shell's again once the program ends.
TEST_F(ConsoleProgramE2e, TheConsoleGetsItsCodePagesBack) {
    TerminalRun run({}, Start::kFromAShell);
    ASSERT_TRUE(run.ReadUntilShown(kTypedPrompt)) << run.drawn;
    const std::string before = CodePageShown(AsText(run.drawn));
    EXPECT_NE(before, "");
    run.Quit();
    EXPECT_EQ(CodePageShown(AsText(run.drawn)), before) << AsText(run.drawn);
}

// As at the end of a file, the console's Ctrl-Z then Enter ends the input.
// Keys no terminal sends reach the line as typed: a character on Alt's
// key-up (Alt and the keypad), Ctrl+Backspace erasing a word; one the ANSI
// code page cannot spell is not taken. (Wine's terminal console takes a
// typed Ctrl-Z as a line edit, so the launcher puts the keys into the
// console's input; see std_handles_launcher.cpp for the keys' letters.)
TEST_F(ConsoleProgramE2e, KeysPutIntoTheConsoleActAsTyped) {
    const struct {
        std::string keys;
        std::string screen_end;
        std::string call;
        std::string locale = {};       // LC_ALL, whence Wine's ANSI code page
        std::string screen_line = {};  // a row of the console's screen at the end
        bool at_top = false;           // the screen's first row
    } rows[] = {
        {"versionget", "Version: 1.0.0-sim\n\n> ^Z\n", "TunnelVersionGet(out) = 0\n"},
        {"tunnelset|a@b#|x yz<c", "comment: x c\nSet tunnel success\n\n> ^Z\n",
         "TunnelSet(\"a\\xe9b\", \"x c\") = 0\n"},
        // ANSI code pages 932, 936 and 65001 (UTF-8); é is not in 932.
        {"commentset|a\\u4e2d\\u00e9b", "", "TunnelCommentSet(\"a\\x92\\x86b\") = 0\n",
         "ja_JP.UTF-8", "comment: a\u4e2db"},
        {"commentset|a\\u00e9\\u4e2d\\u6587b", "",
         "TunnelCommentSet(\"a\\xa8\\xa6\\xd6\\xd0\\xce\\xc4b\") = 0\n", "zh_CN.UTF-8"},
        {"commentset|a\\u00e9\\u20acb\\U0001f600", "",
         "TunnelCommentSet(\"a\\xc3\\xa9\\xe2\\x82\\xacb\\xf0\\x9f\\x98\\x80\") = 0\n",
         "hi_IN.UTF-8"},
        // A field cut at a character's edge: € would end past the comment's room.
        {"commentset|\\*126a\\u20ac", "",
         "TunnelCommentSet(\"" + std::string(126, 'a') + "\") = 0\n", "hi_IN.UTF-8"},
        // Drawn in the console's own cells: one a character under Wine.
        {"commentset|\\u4e2d\\.\\L\\.x|", "", "TunnelCommentSet(\"x\\x92\\x86\") = 0\n",
         "ja_JP.UTF-8", "comment: x\u4e2d"},
        {"commentset|\\U0001f600\\.\\L\\.x", "",
         "TunnelCommentSet(\"x\\xf0\\x9f\\x98\\x80\") = 0\n", "hi_IN.UTF-8",
         "comment: x\U0001f600"},
        // Nothing erased stays on the screen; a repeat count types as often.
        {"versionxget\\.\\L\\L\\L\\.\\B", "", "TunnelVersionGet(out) = 0\n", "", "> versionget"},
        {"xversionget\\.\\W\\.\\D", "", "TunnelVersionGet(out) = 0\n", "", "> versionget"},
        {"xx versionget\\.\\W\\.\\*3\\B", "", "TunnelVersionGet(out) = 0\n", "", "> versionget"},
        {"commentset|\\*3z", "", "TunnelCommentSet(\"zzz\") = 0\n", "", "comment: zzz"},
        // A repeat count past the keys' room, and Enter on an earlier row of
        // a line wrapped at the console's 200 cells: what follows goes below.
        {"\\*230z\\.\\*100\\L", "", "", "",
         "> " + std::string(198, 'z') + "\n" + std::string(32, 'z') + "\n  quit"},
        {"\\*198z", "", "", "", "> " + std::string(198, 'z') + "\n  quit"},
        // Ctrl-L: the window cleared, the line drawn at its top.
        {"versionget\\.\\C", "", "TunnelVersionGet(out) = 0\n", "", "> versionget", true},
        // The console made 60 columns wide: names listed in lines that fit.
        {"\\=60conn\t", "", "", "", "connectlocalquery  connectenum"},
        // A full line (1023 bytes): the bell for each key more leaves no mark.
        {"\\*1030z", "", "", "", std::string(25, 'z')},
        // Alt with a letter as at a terminal: Alt-b a word left.
        {"xversionget\\.\\Ab\\.\\D", "", "TunnelVersionGet(out) = 0\n", "", "> versionget"},
        // Whole characters: 1258 writes U+1EC7 as U+00EA U+0323; a mark typed
        // after its letter joins it (1252 é, 1251 й).
        {"commentset|Vi\\u1ec7t", "", "TunnelCommentSet(\"Vi\\xea\\xf2t\") = 0\n", "vi_VN.UTF-8"},
        {"commentset|Cafe\\u0301", "", "TunnelCommentSet(\"Caf\\xe9\") = 0\n"},
        {"commentset|\\u0438\\u0306", "", "TunnelCommentSet(\"\\xe9\") = 0\n", "ru_RU.UTF-8"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keys);
        TerminalRun run(row.locale.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{"LC_ALL=" + row.locale},
                        Start::kWithKeysTyped, {}, row.keys);
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n")) << run.drawn;
        EXPECT_TRUE(run.RestOfScreen().ends_with(row.screen_end)) << AsText(run.drawn);
        EXPECT_EQ(WaitForExit(run.pid), 0);
        EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + row.call + kStopTrace);
        if (!row.screen_line.empty()) {
            const std::size_t at = ("\n" + run.Screen()).find("\n" + row.screen_line + "\n");
            EXPECT_TRUE(row.at_top ? at == 0 : at != std::string::npos) << run.Screen();
        }
    }
}

// Ctrl-C while a line is typed drops it, and at a command's field the whole
// command: the prompt comes back, whether the console hands Ctrl-C on as a
// key or as a control event (Wine's terminal console: the latter). While a
// command runs it stops the command at its next safe point: testconnect
// after the round in progress, a library call once it returns, printed.
// Each time the prompt comes back and the next command runs.
TEST_F(ConsoleProgramE2e, CtrlCAbandonsALineAndStopsACommand) {
    const struct {
        const char* name;
        const char* typed;                   // before Ctrl-C
        const char* waiting_at;              // what the program shows when Ctrl-C comes
        bool heartbeats;                     // the library logs from its own thread meanwhile
        const char* said;                    // then, before the prompt
        const char* second_after = nullptr;  // a second Ctrl-C once this shows
    } rows[] = {
        {"at the prompt", "", "", false, ""},
        {"inside a command", "domainset\r", "passcode: ", false, ""},
        {"while the library logs", "", "", true, ""},
        {"with a line half typed", "versio", "versio", false, ""},
        {"while a call runs", "pushget\r", "pushget\n", false, "Push get failed, Error: -6"},
        {"while testconnect runs", "testconnect\r50\rpeer\r", "127.0.0.1:18000\n", false,
         "tunnelconsole: testconnect stopped after "},
        // The second a moment after the first is the same request.
        {"twice while testconnect runs", "testconnect\r50\rpeer\r", "127.0.0.1:18000\n", false,
         "tunnelconsole: testconnect stopped after ", "Delete connect success\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TerminalRun run(row.heartbeats ? std::vector<std::string>{"TUNNEL_SIM_LOG_THREAD=1000"}
                                       : std::vector<std::string>{});
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
        run.Type(row.typed);
        ASSERT_TRUE(run.ReadUntilShown(row.waiting_at)) << run.drawn;
        run.Type("\x03");
        if (row.second_after != nullptr) {
            ASSERT_TRUE(run.ReadUntilShown(row.second_after)) << AsText(run.drawn);
            run.Type("\x03");
        }
        ASSERT_TRUE(run.ReadUntilShown(row.said)) << AsText(run.drawn);
        ASSERT_TRUE(run.ReadUntilShown("\n\n> ")) << AsText(run.drawn);
        run.Type("versionget\r");
        ASSERT_TRUE(run.ReadUntilShown("Version: 1.0.0-sim\n")) << AsText(run.drawn);
        run.Quit();
        const std::string trace = run.Trace();
        EXPECT_TRUE(trace.starts_with(StartTrace(kDeviceId))) << trace;
        EXPECT_TRUE(trace.ends_with("TunnelVersionGet(out) = 0\n" + kStopTrace)) << trace;
        EXPECT_EQ(trace.find("TunnelVersionGet"), trace.rfind("TunnelVersionGet")) << trace;
        EXPECT_EQ(trace.find("TunnelDomainSet"), std::string::npos) << trace;
        // A round stopped whole: what it added, it deleted.
        const auto calls = [&](const std::string& name) {
            std::ptrdiff_t count = 0;
            for (std::size_t at = 0; (at = trace.find(name, at)) != std::string::npos; ++at) {
                ++count;
            }
            return count;
        };
        EXPECT_EQ(calls("TunnelConnectAdd("), calls("TunnelConnectDelete(")) << trace;
    }
}

// From a pipe, Ctrl-C at the console ends the run instead of waiting as if a
// command were stopped.
TEST_F(ConsoleProgramE2e, CtrlCEndsARunReadingAPipe) {
    TerminalRun run({}, Start::kInputFromAPipe);
    ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
    run.Type("\x03");
    run.RestOfScreen();
    EXPECT_EQ(WaitForExit(run.pid), 0);
    EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + kStopTrace);
}

// Keys as a terminal sends them, which Wine's console turns into key events.
const std::string kLeft = "\x1b[D";
const std::string kUp = "\x1b[A";
const std::string kDown = "\x1b[B";
const std::string kHome = "\x1b[H";
const std::string kEnd = "\x1b[F";
const std::string kDelete = "\x1b[3~";
const std::string kBackspace = "\x7f";
const std::string kEsc = "\x1b";

// The console program's own line editor: what is typed, edited with the
// keys, is the line that runs.
TEST_F(ConsoleProgramE2e, EditedLinesRunAsEdited) {
    struct Step {
        std::string keys;
        std::string shown;  // after what the step before showed
    };
    const std::string status = "TunnelStatusGet(0, out) = 0\n";
    const std::string version = "TunnelVersionGet(out) = 0\n";
    const std::string self = "TunnelSelfGet(out) = 0\n";
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string calls;
    } rows[] = {
        {"typed at the end", {{"statusget\r", "statusget\nStatus: 1\n"}}, status},
        {"Left, then typed",
         {{"statsget" + kLeft + kLeft + kLeft + kLeft + "u\r", "statusget\nStatus: 1\n"}},
         status},
        {"Backspace",
         {{"versionxget" + kLeft + kLeft + kLeft + kBackspace + "\r",
           "versionget\nVersion: 1.0.0-sim\n"}},
         version},
        {"Home, Delete, End",
         {{"xselfge" + kHome + kDelete + kEnd + "t\r", "selfget\nSelf get success\n"}},
         self},
        // A lone Esc is told from the start of a key's sequence by what
        // follows it, so it is typed on its own.
        {"Esc",
         {{"junk", "junk"}, {kEsc, "> "}, {"versionget\r", "versionget\nVersion: 1.0.0-sim\n"}},
         version},
        {"Tab, one name", {{"vers\t\r", "versionget\nVersion: 1.0.0-sim\n"}}, version},
        {"Tab, names listed",
         {{"conn\t",
           "connect\nconnectadd  connectdelete  connectquery  connectlocaldelete  "
           "connectlocalquery  connectenum\n> connect"},
          {std::string(7, kBackspace[0]) + "selfget\r", "> selfget\nSelf get success\n"}},
         self},
        {"Tab, names listed, nothing shared",
         {{"s\t", "s\nstatusget  selfget\n> s"}, {"elfget\r", "elfget\nSelf get success\n"}},
         self},
        // The same keys act on a passcode, unseen.
        {"a passcode, not shown",
         {{"tunnelset\r", "tunnelset\n"},
          {"s3cr" + kLeft + kHome + "x" + kBackspace + "et\r", "passcode: \ncomment: "},
          {"note\r", "Set tunnel success\n"}},
         "TunnelSet(\"ets3cr\", \"note\") = 0\n"},
        {"Up and Down",
         {{"versionget\r", "Version: 1.0.0-sim\n"},
          {"statusget\r", "Status: 1\n"},
          {kUp + kUp + kDown + "\r", "statusget\nStatus: 1\n"}},
         version + status + status},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TerminalRun run;
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
        for (const Step& step : row.steps) {
            run.Type(step.keys);
            ASSERT_TRUE(run.ReadUntilShown(step.shown)) << AsText(run.drawn);
        }
        run.Quit();
        EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + row.calls + kStopTrace);
    }
}

// With standard output in a file the console echoes what is typed, but for a
// passcode: the line break that ends it is written still, so what is typed
// next starts on a line of its own.
TEST_F(ConsoleProgramE2e, APasscodeIsNotEchoedWithOutputInAFile) {
    TerminalRun run({}, Start::kOutputToAFile);
    run.Type("tunnelset\r");
    ASSERT_TRUE(run.ReadUntilShown("tunnelset\n")) << AsText(run.drawn);
    run.Type("#pw!\r");
    run.Type("note\r");
    ASSERT_TRUE(run.ReadUntilShown("note\n")) << AsText(run.drawn);
    EXPECT_EQ(run.Quit(), "quit\n");
    EXPECT_EQ(AsText(run.drawn), "tunnelset\n\nnote\nquit\n");
    EXPECT_EQ(run.Trace(),
              StartTrace(kDeviceId) + "TunnelSet(\"#pw!\", \"note\") = 0\n" + kStopTrace);
}

// True once the file at `path` ends with `text`; false after the harness's
// give-up time.
bool WaitUntilFileEndsWith(const std::filesystem::path& path, const std::string& text) {
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMilliseconds);
    while (!ReadBytes(path).ends_with(text)) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        sched_yield();
    }
    return true;
}

// With standard output in a file, Ctrl-C drops what was typed of a line, a
// passcode too: none of it reaches the next line, the library or a file.
TEST_F(ConsoleProgramE2e, CtrlCDropsTheLineWithOutputInAFile) {
    const struct {
        const char* command;
        const char* prompt;
        const char* typed;
        const char* echoed;  // what the console shows of it
    } rows[] = {
        {"commentset", "comment: ", "abc", "abc"},
        {"tunnelset", "passcode: ", "s3cr3t", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command);
        TerminalRun run({}, Start::kOutputToAFile);
        run.Type(row.command + std::string("\r"));
        ASSERT_TRUE(run.ReadUntilShown(row.command + std::string("\n"))) << AsText(run.drawn);
        // A Ctrl-C that comes before the command asks for its field is the
        // command line's: the field's prompt in the file says it was asked.
        ASSERT_TRUE(WaitUntilFileEndsWith(run.folder.app / "out", row.prompt))
            << ReadBytes(run.folder.app / "out");
        run.Type(row.typed);
        ASSERT_TRUE(run.ReadUntilShown(row.echoed)) << AsText(run.drawn);
        run.Type("\x03");
        // The line's end: the console's echo of it, or after a passcode the
        // program's own.
        ASSERT_TRUE(run.ReadUntilShown("\n")) << AsText(run.drawn);
        run.Type("versionget\r");
        ASSERT_TRUE(run.ReadUntilShown("versionget\n")) << AsText(run.drawn);
        run.Quit();
        EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + "TunnelVersionGet(out) = 0\n" + kStopTrace);
        const std::string out = ReadBytes(run.folder.app / "out");
        EXPECT_TRUE(out.ends_with("Version: 1.0.0-sim\r\n" + kPrompt)) << out;
        EXPECT_EQ((out + run.drawn).find("s3cr3t"), std::string::npos);
    }
}

// Command lines are kept across runs in a file in the user's profile; what
// is typed at a field prompt never is.
TEST_F(ConsoleProgramE2e, CommandLinesAreRecalledInTheNextRun) {
    const ProfileFolder profile;
    const std::filesystem::path history = profile.History();
    {
        TerminalRun run({}, Start::kDirectly, profile.path);
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
        run.Type("commentset\r");
        ASSERT_TRUE(run.ReadUntilShown("comment: ")) << AsText(run.drawn);
        run.Type("versionget\r");
        ASSERT_TRUE(run.ReadUntilShown("Set comment success\n")) << AsText(run.drawn);
        for (int repeat = 0; repeat < 2; ++repeat) {
            run.Type("versionget\r");
            ASSERT_TRUE(run.ReadUntilShown("Version: 1.0.0-sim\n")) << AsText(run.drawn);
        }
        run.Quit();
    }
    EXPECT_EQ(ReadBytes(history), "_HiStOrY_V2_\ncommentset\nversionget\nquit\n");
    {
        TerminalRun run({}, Start::kDirectly, profile.path);
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
        // Up past the oldest stays there; Down comes back one.
        run.Type(kUp + kUp + kUp + kUp + kDown + "\r");
        // Wine's console sends the terminal only the cells that changed, when
        // it chooses: the prompt drawn before the recalled line may not come
        // again with it.
        ASSERT_TRUE(run.ReadUntilShown("versionget\nVersion: 1.0.0-sim\n")) << AsText(run.drawn);
        run.Quit();
        EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + "TunnelVersionGet(out) = 0\n" + kStopTrace);
    }
    EXPECT_EQ(ReadBytes(history), "_HiStOrY_V2_\ncommentset\nversionget\nquit\nversionget\nquit\n");
    // A file of the console's earlier releases, without the header, is read,
    // and written again with it.
    std::ofstream(history, std::ios::binary | std::ios::trunc) << "statusget\r\nselfget\r\n";
    {
        TerminalRun run({}, Start::kDirectly, profile.path);
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
        run.Type(kUp + "\r");
        ASSERT_TRUE(run.ReadUntilShown("Self get success\n")) << AsText(run.drawn);
        run.Quit();
    }
    EXPECT_EQ(ReadBytes(history), "_HiStOrY_V2_\nstatusget\nselfget\nquit\n");
}

// Sessions that share the profile share the file: a cut keeps the file's
// last lines, whichever session added them.
TEST_F(ConsoleProgramE2e, AnotherSessionsCommandLinesSurviveACut) {
    const ProfileFolder profile;
    const std::filesystem::path history = profile.History();
    std::filesystem::create_directories(history.parent_path());
    std::string lines = "_HiStOrY_V2_\n";
    for (int line = 0; line < 1100; ++line) {
        lines += line % 2 == 0 ? "versionget\n" : "statusget\r\n";
    }
    std::ofstream(history, std::ios::binary) << lines;
    {
        TerminalRun run({}, Start::kDirectly, profile.path);
        ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n" + kTypedPrompt)) << run.drawn;
        // Another session adds its line; this one's next line cuts the file.
        std::ofstream(history, std::ios::binary | std::ios::app) << "commentget\n";
        run.Type("selfget\r");
        ASSERT_TRUE(run.ReadUntilShown("Self get success\n")) << AsText(run.drawn);
        run.Quit();
    }
    const std::string kept = ReadBytes(history);
    // The header and the last 1000 lines, then quit.
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 1002);
    EXPECT_TRUE(kept.ends_with("\nstatusget\ncommentget\nselfget\nquit\n"))
        << kept.substr(kept.size() - std::min<std::size_t>(kept.size(), 80));
}

// A message from the library's thread goes above the line being typed,
// which is drawn again below it and runs as typed.
TEST_F(ConsoleProgramE2e, MessagesGoAboveTheTypedLine) {
    TerminalRun run({"TUNNEL_SIM_LOG_THREAD=20000"});
    ASSERT_TRUE(run.ReadUntilShown("tunnel started: dev-1\n")) << run.drawn;
    run.Type("versio");
    ASSERT_TRUE(run.ReadUntilShown("versio")) << AsText(run.drawn);
    ASSERT_TRUE(run.ReadUntilShown("tunnel heartbeat")) << AsText(run.drawn);
    ASSERT_TRUE(run.ReadUntilShown("\n> versio", "tunnel heartbeat 100\n")) << AsText(run.drawn);
    // Quit typed ahead ends the run whatever the line did.
    run.Type(kLeft + kLeft + "x" + kBackspace + kEnd + "nget\rquit\r");
    EXPECT_NE(run.RestOfScreen().find("Version: 1.0.0-sim\n"), std::string::npos);
    EXPECT_EQ(WaitForExit(run.pid), 0);
    EXPECT_EQ(run.Trace(), StartTrace(kDeviceId) + "TunnelVersionGet(out) = 0\n" + kStopTrace);
}

// A message shorter than the line leaves nothing of the line beside it.
TEST_F(ConsoleProgramE2e, AMessageLeavesNoTailOfTheLine) {
    TerminalRun run({"TUNNEL_SIM_LOG_THREAD=100000"}, Start::kWithKeysTyped, {}, "\\*60z\\_");
    const std::string line = "> " + std::string(60, 'z');
    ASSERT_TRUE(run.ReadUntilShown(line)) << AsText(run.drawn);
    ASSERT_TRUE(run.ReadUntilShown("tunnel heartbeat")) << AsText(run.drawn);
    ASSERT_TRUE(run.ReadUntilShown(line)) << AsText(run.drawn);
    run.Type("\x15quit\r");
    EXPECT_EQ(WaitForExit(run.pid), 0);
    EXPECT_FALSE(std::regex_search(run.Screen(), std::regex("heartbeat [0-9]+ *z")))
        << run.Screen();
}

// Lines typed at a cmd prompt: `tunnelconsole` names the console program,
// which cmd waits for, so %ERRORLEVEL% and out.txt are the run's once it ends.
TEST_F(ConsoleProgramE2e, ExitStatusThroughCmdAndAPipe) {
    const struct {
        const char* line;
        const char* input;  // cmds.txt
        const char* status;
        std::string output;
    } rows[] = {
        {"type cmds.txt | tunnelconsole -e > out.txt", "comentset\nversionget\n", "1",
         Banner(kDeviceId) + kCommandList},
        {"tunnelconsole -e < cmds.txt > out.txt", "comentset\nversionget\n", "1",
         Banner(kDeviceId) + kCommandList},
        {"type cmds.txt | tunnelconsole -e > out.txt", "versionget\n", "0",
         Banner(kDeviceId) + "Version: 1.0.0-sim\r\n" + kPrompt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const ProgramFolder folder;
        // The windowed program beside it too, as the package has it.
        std::filesystem::copy_file(
            std::filesystem::path(std::getenv("E2E_PROGRAM_DIR")) / "tunnelconsole.exe",
            folder.app / "tunnelconsole.exe");
        LaySettings(folder);
        std::ofstream(folder.app / "cmds.txt", std::ios::binary) << row.input;
        std::vector<std::string> arguments = Words(std::getenv("E2E_LAUNCHER"));
        arguments.insert(arguments.end(), {"cmd", "/v:on", "/c",
                                           "cd /d " + ProgramView(folder.app) + " & " + row.line +
                                               " & >status.txt echo !ERRORLEVEL!"});
        std::vector<char*> argv = Pointers(arguments);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        WaitForEnd(pid);
        EXPECT_EQ(ReadBytes(folder.app / "status.txt"), std::string(row.status) + "\r\n");
        EXPECT_EQ(WithPlaceholders(ReadBytes(folder.app / "out.txt"), folder), row.output);
    }
}

}  // namespace
}  // namespace e2e
