// Runs the built program as a user does: a fresh folder holding a copy of the
// program and its library, the settings files a case lays beside them, bytes
// on standard input; then compares standard output, tunnel.cfg, the library's
// call trace and the exit status byte for byte.
//
// Which program runs is set from outside (the build sets these for ctest):
//   E2E_PROGRAM_DIR   folder holding the program and its library
//   E2E_PROGRAM_NAME  the program's file name in it
//   E2E_LAUNCHER      command that starts the program (empty: run directly)
//   E2E_PATH_STYLE    "posix", or "windows" for a program that sees the
//                     folder as Z:\... (an emulator's view of the file system)
//   E2E_WIN32_LAUNCHER  the Win32 launcher that gives the Windows program
//                     other standard handles (Case::windows_handles)
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "../common/scratch.h"

namespace e2e {

// How long a case waits for what it expects (bytes, the end of a run) before
// it fails. Only a hang ever reaches it: a machine running two suites at once
// included, nothing a program does in a case takes this long.
inline constexpr int kGiveUpMilliseconds = 5 * 60 * 1000;

// Where the program's standard output goes.
enum class Output {
    kFile,               // a file, compared with expected_output
    kClosed,             // no standard output at all
    kPipeWithoutReader,  // a pipe whose reader is gone before the program starts
    kFullDevice,         // a device where every write fails for lack of space
};

// What a usual session sees, byte for byte.
inline const std::string kPrompt = "\r\n> ";
inline const std::string kDeviceId = "dev-1";
inline const std::string kTunnelCfg = "(DevID){}\r\n(Home){Home}\r\n(LogLevel){2}\r\n";
inline const std::string kTunnelCfgRewritten = "(DevID){}\r\n(Home){{HOME}}\r\n(LogLevel){2}\r\n";

inline std::string ConfigIni(const std::string& device_id) {
    return "[config]\r\ndevice_id=" + device_id + "\r\n";
}

// The configuration text the library hands back for kTunnelCfg.
inline std::string ConfigText(const std::string& device_id) {
    return "(DevID){" + device_id + "}(Home){{HOME}}(LogLevel){2}";
}

// What a run prints before its first prompt, when the library starts.
inline std::string Banner(const std::string& device_id) {
    return ConfigText(device_id) + "\r\ntunnel started: " + device_id + "\r\n" + kPrompt;
}

// A run as one row of data: by default a usual session (config.ini naming
// kDeviceId, kTunnelCfg) that types "quit", sees the banner and leaves
// tunnel.cfg rewritten. Fields give first what the run is given, then what
// it must yield. In the texts a run yields, the Home folder beside the
// program reads "{HOME}" and the program's folder "{DIR}", whatever their
// spelling on the platform.
struct Case {
    std::string name;
    std::vector<std::string> arguments = {};                       // after the program's name
    std::optional<std::string> config_ini = ConfigIni(kDeviceId);  // nullopt: no file
    std::optional<std::string> tunnel_cfg = kTunnelCfg;            // nullopt: no file
    std::string input = "quit\n";                                  // bytes on standard input
    bool no_input = false;                                         // standard input closed instead
    bool input_folder = false;  // standard input a folder: every read fails
    Output output = Output::kFile;
    bool no_error_output = false;                                       // standard error closed
    std::vector<std::pair<std::string, std::string>> environment = {};  // the library's switches
    // The length of the program's folder as the program spells it; 0 for a
    // short one.
    std::size_t program_folder_length = 0;
    // The program's folder inside the scratch space, subfolders allowed
    // (empty: "app"), and whether the Windows program spells it by its short
    // name, as the system gives it.
    std::string program_folder_name = {};
    bool short_name_on_windows = false;
    // Standard handles only a Windows parent gives, as the Win32 launcher's
    // options (tests/win32/std_handles_launcher.cpp), say "--stdout=null";
    // such a case runs against the Windows program only (empty: none).
    std::string windows_handles = {};
    // Standard error a terminal, which the emulator makes the console that
    // the launcher and the console program share; what the console shows is
    // not compared.
    bool console = false;
    // Cases that have no meaning on one side (POSIX permissions, symbolic
    // links, a descriptor closed under the emulator), with the reason.
    const char* posix_only = nullptr;
    const char* windows_only = nullptr;
    // Lays what the fields above cannot (links, permissions, folders).
    void (*lay)(const struct ProgramFolder&) = nullptr;

    std::string expected_output = Banner(kDeviceId);
    std::string expected_errors = {};  // standard error, byte for byte
    // Where the Windows program legitimately differs: the system's own
    // words for a failure on standard error.
    std::optional<std::string> windows_expected_errors = {};
    int expected_status = 0;
    std::optional<std::string> expected_tunnel_cfg = kTunnelCfgRewritten;  // nullopt: not checked
    std::optional<std::string> expected_trace = {};                        // nullopt: not taken
    std::chrono::milliseconds min_duration{0};  // the run takes at least this long
    // Looks at the folder after the run, before it is removed.
    void (*inspect)(const struct ProgramFolder&) = nullptr;
};

// Test names show the case's name, not its bytes.
inline void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}
inline std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// A sanitizer's handler, which the program's hands a crash on to, reports
// after the program's line and ends the process its own way.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

struct Result {
    int exit_status = -1;  // -1: ended by a signal
    int wait_status = 0;
    std::string output;
    std::string errors;
    std::chrono::milliseconds duration{0};
    std::optional<std::string> tunnel_cfg;  // nullopt: no file after the run
    std::string trace;
    bool temp_cfg_left = false;
};

// A fresh folder holding a copy of the program and its libraries (not the
// settings files of its build folder), removed on destruction.
struct ProgramFolder {
    // The program's folder is named so that the program spells it with
    // `folder_length` characters (0: a short name), or `name` when given.
    explicit ProgramFolder(std::size_t folder_length = 0, const std::string& name = "",
                           bool short_name_on_windows = false);

    Scratch scratch;
    std::filesystem::path root = scratch.path();  // scratch space beside the program's folder
    std::filesystem::path app;                    // the program's folder
    std::filesystem::path program;                // the program in it
    std::string view;                             // the program's folder as the program spells it
};

// A file's text with the folder's paths as placeholders.
std::string FileText(const std::filesystem::path& path, const ProgramFolder& folder);

// A file made empty for a program's standard stream, closed on exec.
int CreateForWriting(const std::filesystem::path& path);

// Lays the usual config.ini, naming kDeviceId, and `tunnel_cfg` in the
// program's folder.
void LaySettings(const ProgramFolder& folder, const std::string& tunnel_cfg = kTunnelCfg);

// Starts the program with `input`, `output` and `errors` as its standard
// streams (each closed when < 0), with the library switches given, and any
// other variable given in place of the test's own, and `arguments` after
// its name; through the Win32 launcher (E2E_WIN32_LAUNCHER) when
// `windows_handles` are given.
pid_t StartProgram(const ProgramFolder& folder, int input, int output,
                   const std::vector<std::pair<std::string, std::string>>& environment,
                   int errors = STDERR_FILENO, const char* windows_handles = nullptr,
                   const std::vector<std::string>& arguments = {});

// The program's wait status: it ended by exit or by a signal. Gives up,
// killing the program, when it is still running after kGiveUpMilliseconds.
int WaitForEnd(pid_t pid);

// Appends the next bytes the program writes on `fd` to `seen`: false when
// its output ended. A program that never shows what it printed fails here,
// at the give-up time, rather than hanging the suite.
bool ReadMore(int fd, std::string& seen);

// The program's exit status; -1 (and a test failure) if it did not exit.
int WaitForExit(pid_t pid);

// Returns once the program no longer runs: asleep, as in a wait for input,
// or ended. Once it has shown a prompt, nothing else puts it to sleep.
void WaitUntilAsleepOrEnded(pid_t pid);

// `text` with the folder's paths, as the program spells them (`view`), replaced by the
// placeholders "{HOME}" and "{DIR}"; a path separator right after "{DIR}"
// reads "/" on every platform.
std::string WithPlaceholders(std::string text, const ProgramFolder& folder);

// The words of `text`, split at blanks; pointers to `texts`, then a null one,
// as exec takes its arguments.
std::vector<std::string> Words(const std::string& text);
std::vector<char*> Pointers(std::vector<std::string>& texts);

// `path` as the program spells it.
std::string ProgramView(const std::filesystem::path& path);

// True when the program under test is the Windows program (E2E_PATH_STYLE).
bool TestingWindowsProgram();

// Runs `c` in a fresh folder, removed afterwards.
Result Run(const Case& c);

// Runs `c` and checks everything it expects, its exit status included, and
// that no temp.cfg is left behind.
void RunAndCheck(const Case& c);

}  // namespace e2e
