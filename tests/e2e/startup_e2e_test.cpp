// Start-up, the command loop and the end of a run, as a user sees them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>

#include "e2e_harness.h"
#include "transcript.h"

extern char** environ;

namespace e2e {
namespace {

const std::string& kDev = kDeviceId;

class StartupE2e : public testing::TestWithParam<Case> {};

TEST_P(StartupE2e, Transcript) {
    RunAndCheck(GetParam());
}

std::vector<Case> LoopCases() {
    const std::string list = kCommandList + kPrompt;
    const std::string version = "Version: 1.0.0-sim\r\n" + kPrompt;
    return {
        {.name = "NewcomerSession",
         .input = "versionget\nstatusget\nhelp\nquit\n",
         .expected_output = Banner(kDev) + version + "Status: 1\r\n" + kPrompt + list},
        // The library is stopped once, whatever ends the run.
        {.name = "QuitFirst",
         .input = "quit\nversionget\n",
         .expected_trace = StartTrace(kDev) + kStopTrace},
        {.name = "EndOfInputActsAsQuit",
         .input = "versionget\n",
         .expected_output = Banner(kDev) + version},
        {.name = "EmptyInput", .input = "", .expected_trace = StartTrace(kDev) + kStopTrace},
        {.name = "CrLfLineBreaks",
         .input = "versionget\r\nquit\r\n",
         .expected_output = Banner(kDev) + version},
        {.name = "LastLineWithoutBreak",
         .input = "versionget",
         .expected_output = Banner(kDev) + version,
         .expected_trace = StartTrace(kDev) + "TunnelVersionGet(out) = 0\n" + kStopTrace},
        {.name = "SubEndsInput",
         .input = "versionget\n\x1aversionget\n",
         .expected_output = Banner(kDev) + version},
        {.name = "SubInsideLine",
         .input = "versionget\x1a\n",
         .expected_output = Banner(kDev) + version},
        {.name = "LoneCrIsPartOfTheLine",
         .input = "versionget\rquit\n",
         .expected_output = Banner(kDev) + list},
        {.name = "NearMissesPrintTheList",
         .input = "QUIT\n quit\nquit \n\nVersionGet\n",
         .expected_output = Banner(kDev) + list + list + list + list + list},
        {.name = "TestconnectIsNotListed",
         .input = "help\n",
         .expected_output = Banner(kDev) + list},
        {.name = "OverlongCommandIsOneCommand",
         .input = std::string(300, 'x') + "\nversionget\n",
         .expected_output = Banner(kDev) + list + version},
        {.name = "OverlongCommandStartingWithAName",
         .input = "versionget" + std::string(300, ' ') + "\n",
         .expected_output = Banner(kDev) + list},
        {.name = "CommandFillingTheBuffer",
         .input = std::string(255, 'y') + "\nversionget\n",
         .expected_output = Banner(kDev) + list + version},
        {.name = "NulInsideCommand",
         .input = std::string("quit\0x\nquit\n", 12),
         .expected_output = Banner(kDev) + list},
        // Under the emulator a closed standard input is a folder it opened
        // (InputHandleNull has the Windows case).
        {.name = "NoStandardInput",
         .input = "",
         .no_input = true,
         .posix_only = "the emulator gives a closed standard input a folder to read"},
    };
}

INSTANTIATE_TEST_SUITE_P(Loop, StartupE2e, testing::ValuesIn(LoopCases()), CaseName);

std::vector<Case> ConfigurationCases() {
    // A tunnel.cfg with a DevID of its own, which the library keeps when
    // config.ini gives none it can take.
    const std::string own_id_cfg = "(DevID){file-dev}\r\n(Home){x}\r\n";
    const std::string own_id_rewritten = "(DevID){file-dev}\r\n(Home){{HOME}}\r\n";
    const std::string own_id_banner =
        "(DevID){file-dev}(Home){{HOME}}\r\ntunnel started: file-dev\r\n" + kPrompt;
    const std::string padding(120, 'p');
    std::vector<Case> cases = {
        {.name = "ConfigIniMissing",
         .config_ini = std::nullopt,
         .expected_output = Banner("undefined")},
        {.name = "DeviceIdKeyMissing",
         .config_ini = "[config]\r\nname=x\r\n[other]\r\ndevice_id=wrong\r\n",
         .expected_output = Banner("undefined")},
        {.name = "EmptyDeviceIdKeepsTheLibrarysValue",
         .config_ini = ConfigIni(""),
         .tunnel_cfg = own_id_cfg,
         .expected_output = own_id_banner,
         .expected_tunnel_cfg = own_id_rewritten},
        {.name = "IniSyntax",
         .config_ini = "\xEF\xBB\xBF; settings\n[ Config ]\n  DEVICE_ID =  \"my dev\"  \n",
         .expected_output = Banner("my dev")},
        {.name = "PercentSignsArePlainData",
         .config_ini = ConfigIni("50%s%d%n"),
         .expected_output = Banner("50%s%d%n")},
        {.name = "DeviceIdTooLongForTheText",
         .config_ini = ConfigIni(std::string(127, 'd')),
         .tunnel_cfg = "(DevID){file-dev}\n(Home){x}\n(Pad){" + padding + "}\n",
         .expected_output = "(DevID){file-dev}(Home){{HOME}}(Pad){" + padding +
                            "}\r\ntunnel started: file-dev\r\n" + kPrompt,
         .expected_errors = "tunnelconsole: device id \"" + std::string(127, 'd') +
                            "\" left out: the configuration text has no room for it\r\n",
         .expected_tunnel_cfg =
             "(DevID){file-dev}\r\n(Home){{HOME}}\r\n(Pad){" + padding + "}\r\n"},
        {.name = "DeviceIdOf128CharactersKeepsItsFirst127",
         .config_ini = ConfigIni(std::string(128, 'd')),
         .expected_output = Banner(std::string(127, 'd'))},
        {.name = "NulByteInTunnelCfg",
         .tunnel_cfg = std::string("(DevID){}\n(Home){x}\n(Log\0Level){2}\n", 30),
         .expected_output = "(DevID){dev-1}(Home){{HOME}}\r\ntunnel started: dev-1\r\n" + kPrompt,
         .expected_errors = "tunnelconsole: tunnel.cfg holds a NUL byte: the library reads its "
                            "line only up to it\r\n",
         .expected_tunnel_cfg =
             std::string("(DevID){}\r\n(Home){{HOME}}\r\n(Log\0Level){2}\r\n", 37)},
        {.name = "TunnelCfgWithoutHomeGainsIt",
         .tunnel_cfg = "(DevID){}\n(LogLevel){2}",
         .expected_output =
             "(DevID){dev-1}(LogLevel){2}(Home){{HOME}}\r\ntunnel started: dev-1\r\n" + kPrompt,
         .expected_tunnel_cfg = "(DevID){}\r\n(LogLevel){2}\r\n(Home){{HOME}}"},
    };
    // Braces or parentheses in the identifier would move or add items.
    for (const auto& [name, id] : {std::pair{"DeviceIdThatWouldMoveHome", "x}(Home){/elsewhere"},
                                   std::pair{"DeviceIdThatWouldCutItself", "ab}cd"},
                                   std::pair{"DeviceIdWithParenthesis", "a(b"}}) {
        cases.push_back({.name = name,
                         .config_ini = ConfigIni(id),
                         .tunnel_cfg = own_id_cfg,
                         .expected_output = own_id_banner,
                         .expected_errors = "tunnelconsole: device id \"" + std::string(id) +
                                            "\" left out: it holds one of ( ) { }\r\n",
                         .expected_tunnel_cfg = own_id_rewritten});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Configuration, StartupE2e, testing::ValuesIn(ConfigurationCases()),
                         CaseName);

// The library's trace of a start it refuses.
const std::string kStartRefused =
    "TunnelConfigGet(\"tunnel.cfg\", out, 256) = 0\nTunnelStart(\"tunnel.cfg\", \"" +
    ConfigText(kDeviceId) + "\", 0, callback) = -9\n";

// Start-up failures end the run at once; the trace shows the library was never stopped.
std::vector<Case> FailureCases() {
    const std::string own_id_cfg = "(DevID){file-dev}\r\n(Home){x}\r\n(LogLevel){2}\r\n";
    const std::string own_id_rewritten = "(DevID){file-dev}\r\n(Home){{HOME}}\r\n(LogLevel){2}\r\n";
    const std::string config_get_too_long = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -5\n";
    return {
        {.name = "TunnelCfgMissing",
         .tunnel_cfg = std::nullopt,
         .input = "versionget\n",
         .expected_output = "",
         .expected_errors = "tunnelconsole: tunnel.cfg was not rewritten: cannot open "
                            "{DIR}/tunnel.cfg: No such file or directory\r\n"
                            "tunnelconsole: TunnelConfigGet failed, Error: -9\r\n",
         .expected_tunnel_cfg = std::nullopt,
         .expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -9\n"},
        // The Home item of a deep program folder, or long items, leave the text no room.
        {.name = "ConfigTextTooLong",
         .tunnel_cfg = "(DevID){}\n(Home){x}\n(Pad){" + std::string(250, 'p') + "}\n",
         .input = "versionget\n",
         .expected_output = "",
         .expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -5\r\n",
         .expected_tunnel_cfg = std::nullopt,
         .expected_trace = config_get_too_long},
        // A program folder of 218 characters leaves the 256-byte text room for
        // the Home item but not for the device id, and the stand-in will not
        // start without one; one of 230 leaves no room for the Home item.
        {.name = "DeepFolderLeavesNoRoomForTheDeviceId",
         .input = "versionget\n",
         .program_folder_length = 218,
         .expected_output = "(DevID){}(Home){{HOME}}(LogLevel){2}\r\n",
         .expected_errors =
             "tunnelconsole: device id \"dev-1\" left out: the configuration text "
             "has no room for it\r\ntunnelconsole: TunnelStart failed, Error: -2\r\n"},
        {.name = "DeeperFolderLeavesNoRoomForTheText",
         .input = "versionget\n",
         .program_folder_length = 230,
         .expected_output = "",
         .expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -5\r\n",
         .expected_trace = config_get_too_long},
        // Windows paths end at 259 characters: a folder of 249 leaves no room for
        // "\\tunnel.cfg", and the message names the folder.
        {.name = "FolderTooLongForItsPaths",
         .input = "versionget\n",
         .program_folder_length = 249,
         .expected_output = "",
         .expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -5\r\n",
         .windows_expected_errors =
             "tunnelconsole: tunnel.cfg was not rewritten: the folder {DIR} is too long: a path "
             "in it may have at most 259 characters\r\n"
             "tunnelconsole: TunnelConfigGet failed, Error: -9\r\n",
         .expected_tunnel_cfg = std::nullopt},
        {.name = "ConfigGetFails",
         .input = "versionget\n",
         .environment = {{"TUNNEL_SIM_FAULTS", "TunnelConfigGet=-77"}},
         .expected_output = "",
         .expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -77\r\n",
         .expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -77\n"},
        {.name = "StartFails",
         .input = "versionget\n",
         .environment = {{"TUNNEL_SIM_FAULTS", "TunnelStart=-9"}},
         .expected_output = ConfigText(kDev) + "\r\n",
         .expected_errors = "tunnelconsole: TunnelStart failed, Error: -9\r\n",
         .expected_trace = kStartRefused},
        {.name = "VersionAndStatusFail",
         .input = "versionget\nstatusget\n",
         .environment = {{"TUNNEL_SIM_FAULTS", "TunnelVersionGet=-5,TunnelStatusGet=-2147483648"}},
         .expected_output = Banner(kDev) + "Get version failed, Error: -5\r\n" + kPrompt +
                            "Get status failed, Error: -2147483648\r\n" + kPrompt},
        // The library fills the text's whole buffer, with no NUL: the text is
        // its first 255 characters. (The folder's length fixes how many of
        // them are the fill.)
        {.name = "ConfigTextWithoutTerminator",
         .config_ini = ConfigIni(""),
         .tunnel_cfg = own_id_cfg,
         .input = "versionget\n",
         .environment = {{"TUNNEL_SIM_CONFIG_FILL", "p"}},
         .program_folder_length = 60,
         .expected_output = "(DevID){file-dev}(Home){{HOME}}(LogLevel){2}" +
                            std::string(255 - 43 - 60, 'p') + "\r\ntunnel started: file-dev\r\n" +
                            kPrompt + "Version: 1.0.0-sim\r\n" + kPrompt,
         .expected_tunnel_cfg = own_id_rewritten},
        // Only 0 is success: a positive code is a failure like any other.
        {.name = "PositiveResultIsAFailure",
         .input = "versionget\n",
         .environment = {{"TUNNEL_SIM_FAULTS", "TunnelVersionGet=5"}},
         .expected_output = Banner(kDev) + "Get version failed, Error: 5\r\n" + kPrompt},
    };
}

INSTANTIATE_TEST_SUITE_P(Failures, StartupE2e, testing::ValuesIn(FailureCases()), CaseName);

// The emulator gives a standard stream that was closed a handle on which
// every write fails, so the Windows program cannot tell it from a broken one.
constexpr const char* kClosedUnderTheEmulator =
    "the emulator gives a closed descriptor a handle that fails every write";

const std::string kDeviceFull =
    "tunnelconsole: standard output failed: No space left on device\r\n";
const std::string kBadDescriptor = "tunnelconsole: standard output failed: Bad file descriptor\r\n";
const std::string kInputIsAFolder = "tunnelconsole: standard input failed: Is a directory\r\n";

// Standard streams that are closed or fail: the run still stops the library
// once, and nothing lands where it does not belong.
std::vector<Case> StreamCases() {
    const std::string commands = "versionget\nstatusget\n";
    const std::string all_calls =
        StartTrace(kDev) + "TunnelVersionGet(out) = 0\nTunnelStatusGet(0, out) = 0\n" + kStopTrace;
    const std::string start_and_stop = StartTrace(kDev) + kStopTrace;
    // Every row types `commands`.
    std::vector<Case> cases = {
        {.name = "OutputClosed",
         .output = Output::kClosed,
         .posix_only = kClosedUnderTheEmulator,
         .expected_output = "",
         .expected_trace = all_calls},
        {.name = "AllStreamsClosed",
         .no_input = true,
         .output = Output::kClosed,
         .no_error_output = true,
         .posix_only = kClosedUnderTheEmulator,
         .expected_output = "",
         .expected_trace = start_and_stop},
        {.name = "ErrorsClosedAtAFailedStart",
         .no_error_output = true,
         .environment = {{"TUNNEL_SIM_FAULTS", "TunnelStart=-9"}},
         .expected_output = ConfigText(kDev) + "\r\n",
         .expected_trace = kStartRefused},
        // Nobody reads what follows: the run ends as at the end of input.
        {.name = "OutputReaderGoneBeforeStart",
         .output = Output::kPipeWithoutReader,
         .expected_output = "",
         .expected_trace = start_and_stop},
        {.name = "OutputDeviceFull",
         .output = Output::kFullDevice,
         .expected_output = "",
         .expected_errors = kDeviceFull,
         .expected_trace = start_and_stop},
        // The reader leaves while the program waits at the prompt; the output
        // of the next command, flushed before the next read, finds it gone, and
        // that read does not wait.
        {.name = "NoWaitForInputOnceAFlushFails",
         .windows_handles = "--stdin=versionget --stdout=leaves",
         .expected_output = "",
         .expected_trace = StartTrace(kDev) + "TunnelVersionGet(out) = 0\n" + kStopTrace},
        // A Windows pipe whose writer has gone: its end is the end of input,
        // no failure, with -e too.
        {.name = "ExitOnErrorAtTheEndOfAWindowsPipe",
         .arguments = {"-e"},
         .windows_handles = "--stdin=closed",
         .expected_output = Banner(kDev) + "Version: 1.0.0-sim\r\n" + kPrompt,
         .expected_trace = StartTrace(kDev) + "TunnelVersionGet(out) = 0\n" + kStopTrace},
        // The reader leaves while the program waits at the prompt, and the
        // library's next message, from its own thread, is what finds it gone.
        {.name = "ReaderLeavesWhileIdleAndTheLibraryLogs",
         .environment = {{"TUNNEL_SIM_LOG_THREAD", "1000"}},
         .windows_handles = "--stdin=endless --stdout=leaves",
         .expected_output = "",
         .expected_trace = start_and_stop},
    };
    // A Windows parent may give no handle (NULL) or INVALID_HANDLE_VALUE:
    // each is opened on the null device, so the run goes on unseen. A Windows
    // pipe whose reader is gone fails a write with ERROR_NO_DATA: nobody reads
    // what follows, and that is no failure to report.
    const struct {
        const char* name;
        std::string handles;
        const std::string& trace;
    } handle_rows[] = {
        {"InputHandleNull", "--stdin=null", start_and_stop},
        {"InputHandleInvalid", "--stdin=invalid", start_and_stop},
        {"OutputHandleNull", "--stdout=null", all_calls},
        {"OutputHandleInvalid", "--stdout=invalid", all_calls},
        {"AllHandlesMissing", "--stdout=null --stderr=invalid", all_calls},
        {"OutputPipeReaderGoneBeforeStart", "--stdout=gone", start_and_stop},
    };
    for (const auto& row : handle_rows) {
        const bool output_lost = row.handles.find("--stdout") != std::string::npos;
        cases.push_back({.name = row.name,
                         .windows_handles = row.handles,
                         .expected_output = output_lost ? "" : Banner(kDev),
                         .expected_trace = row.trace});
    }
    for (Case& c : cases) {
        c.input = commands;
    }
    // What was lost is said once; it is a failure with -e, and for the help
    // and the version. A reader that went away took what it wanted.
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        Output output;
        bool input_folder;
        std::string errors;
        int status;
    } lost[] = {
        {"ExitOnErrorOutputDeviceFull", {"-e"}, Output::kFullDevice, false, kDeviceFull, 1},
        {"ExitOnErrorOutputReaderGone", {"-e"}, Output::kPipeWithoutReader, false, "", 0},
        {"InputFolder", {}, Output::kFile, true, kInputIsAFolder, 0},
        {"ExitOnErrorInputFolder", {"-e"}, Output::kFile, true, kInputIsAFolder, 1},
        {"HelpToAFullDevice", {"--help"}, Output::kFullDevice, false, kDeviceFull, 1},
        {"HelpToAReaderGone", {"--help"}, Output::kPipeWithoutReader, false, "", 0},
        {"VersionWithOutputClosed", {"-V"}, Output::kClosed, false, kBadDescriptor, 1},
    };
    // With -e, output closed at start is a failure found before anything
    // runs; a Windows parent closes it by giving no handle.
    for (const bool windows : {false, true}) {
        cases.push_back(
            Case{.name = windows ? "ExitOnErrorOutputHandleNull" : "ExitOnErrorOutputClosed",
                 .arguments = {"-e"},
                 .input = commands,
                 .output = windows ? Output::kFile : Output::kClosed,
                 .windows_handles = windows ? "--stdout=null" : "",
                 .posix_only = windows ? nullptr : kClosedUnderTheEmulator,
                 .expected_output = "",
                 .expected_errors = "tunnelconsole: standard output is closed\r\n",
                 .expected_status = 1,
                 .expected_tunnel_cfg = kTunnelCfg,
                 .expected_trace = ""});
    }
    for (const auto& row : lost) {
        const bool session = row.arguments.empty() || row.arguments[0] == "-e";
        cases.push_back(Case{.name = row.name,
                             .arguments = row.arguments,
                             .input = commands,
                             .input_folder = row.input_folder,
                             .output = row.output,
                             .expected_output = session && row.input_folder ? Banner(kDev) : "",
                             .expected_errors = row.errors,
                             .expected_status = row.status,
                             .expected_tunnel_cfg = session ? kTunnelCfgRewritten : kTunnelCfg,
                             .expected_trace = session ? start_and_stop : ""});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Streams, StartupE2e, testing::ValuesIn(StreamCases()), CaseName);

// The ANSI code page under the emulator is then 1252.
const std::vector<std::pair<std::string, std::string>> kCodePage1252 = {{"LANG", "C.UTF-8"},
                                                                        {"LC_ALL", "C.UTF-8"}};

// The console program shares its console with whoever started it, and
// leaves alone the code pages of a console none of its streams is. The launcher says which code
// pages the console has once the program ended. (After a second Ctrl-C:
// tests/win32/console_control_test.cpp.)
std::vector<Case> ConsoleCodePageCases() {
    const struct {
        const char* name;
        const char* code_pages;  // input, output
    } rows[] = {
        {"CodePagesBackAfterTheRun", "437,437"},
        {"DifferentInputAndOutputCodePagesBack", "850,437"},
        {"OnlyTheOutputCodePageDiffers", "1252,850"},
        {"OnlyTheInputCodePageDiffers", "850,1252"},
    };
    std::vector<Case> cases;
    for (const auto& row : rows) {
        std::string pages = row.code_pages;
        const std::string handles = "--stdin=quit --console-program --code-pages=" + pages;
        pages[pages.find(',')] = ' ';
        // Neither stream is the console (a pipeline): its code pages stay
        // the other programs' while the program runs.
        cases.push_back({.name = row.name,
                         .environment = kCodePage1252,
                         .windows_handles = handles,
                         .console = true,
                         .expected_output = Banner(kDev) + "console code pages at the prompt: " +
                                            pages + "\r\nconsole code pages: " + pages + "\r\n"});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ConsoleCodePages, StartupE2e, testing::ValuesIn(ConsoleCodePageCases()),
                         CaseName);

namespace fs = std::filesystem;

// The rewrite keeps what tunnel.cfg was apart from its Home item, and leaves
// it alone when nothing would change.
// tunnel.cfg as the rewrite leaves it, dated at the epoch.
void LayRewrittenTunnelCfg(const ProgramFolder& f) {
    std::string rewritten = kTunnelCfgRewritten;
    rewritten.replace(rewritten.find("{HOME}"), 6, ProgramView(f.app / "Home"));
    WriteBytes(f.app / "tunnel.cfg", rewritten);
    fs::last_write_time(f.app / "tunnel.cfg", fs::file_time_type());
}

// A file this user may read but not write: immutable for a privileged run,
// which permissions do not stop, else without write permission.
void SetWritable(const fs::path& path, bool writable) {
    if (geteuid() == 0) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = writable ? flags & ~FS_IMMUTABLE_FL : flags | FS_IMMUTABLE_FL;
            EXPECT_EQ(ioctl(fd, FS_IOC_SETFLAGS, &flags), 0) << path;
        }
        close(fd);
    } else {
        fs::permissions(path, fs::perms::owner_write,
                        writable ? fs::perm_options::add : fs::perm_options::remove);
    }
}

const char* NotWritableError() {
    return geteuid() == 0 ? "Operation not permitted" : "Permission denied";
}

// The rewritten text followed by more bytes after a Ctrl-Z, which ends it.
void LayRewrittenTunnelCfgWithTail(const ProgramFolder& f) {
    LayRewrittenTunnelCfg(f);
    std::ofstream(f.app / "tunnel.cfg", std::ios::binary | std::ios::app) << "\x1a(Home){x}\r\n";
}

constexpr const char* kLinksArePosix = "the emulator does not show POSIX symbolic links as links";

// tunnel.cfg -> l1 -> ... -> l<kCount-1> -> real.cfg: kCount links.
template <int kCount>
void LayChainOfLinks(const ProgramFolder& f) {
    WriteBytes(f.app / "real.cfg", kTunnelCfg);
    std::string next = "real.cfg";
    for (int link = kCount - 1; link >= 1; --link) {
        const std::string name = "l" + std::to_string(link);
        fs::create_symlink(next, f.app / name);
        next = name;
    }
    fs::create_symlink(next, f.app / "tunnel.cfg");
}

// The links are kept; the file they lead to is rewritten when they are 5 at most.
template <int kCount>
void ExpectChainOfLinks(const ProgramFolder& f) {
    std::string next = "real.cfg";
    for (int link = kCount - 1; link >= 1; --link) {
        EXPECT_EQ(fs::read_symlink(f.app / ("l" + std::to_string(link))), next);
        next = "l" + std::to_string(link);
    }
    EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), next);
    EXPECT_EQ(FileText(f.app / "real.cfg", f), kCount <= 5 ? kTunnelCfgRewritten : kTunnelCfg);
}

// A folder on another file system than the program's, when there is one.
fs::path OtherFileSystemFolder(const ProgramFolder& f) {
    struct stat app_info;
    struct stat shm_info;
    if (stat(f.app.c_str(), &app_info) == 0 && stat("/dev/shm", &shm_info) == 0 &&
        app_info.st_dev != shm_info.st_dev && access("/dev/shm", W_OK) == 0) {
        return fs::path("/dev/shm") / ("tc-e2e-" + f.root.filename().string());
    }
    return f.root / "other";
}

// Where the emulator keeps a file's hidden and system attributes, as the
// hexadecimal number it writes there.
constexpr const char* kDosAttributes = "user.DOSATTRIB";
constexpr unsigned kHidden = 0x2;

void SetHidden(const fs::path& path) {
    EXPECT_EQ(setxattr(path.c_str(), kDosAttributes, "0x2", 3, 0), 0) << path;
}

unsigned DosAttributes(const fs::path& path) {
    std::array<char, 32> text{};
    if (getxattr(path.c_str(), kDosAttributes, text.data(), text.size() - 1) < 0) {
        return 0;
    }
    return static_cast<unsigned>(std::strtoul(text.data(), nullptr, 16));
}

// Another Windows process that holds a file open while the program runs: the
// probe of the differential tests, which answers once it has the file.
struct FileHolder {
    pid_t pid = -1;
    int requests = -1;
};
FileHolder file_holder;

constexpr unsigned kShareRead = 1;
constexpr unsigned kShareWrite = 2;

void HoldOpen(const fs::path& path, unsigned share) {
    const char* holder = std::getenv("E2E_FILE_HOLDER");
    const char* launcher = std::getenv("E2E_LAUNCHER");
    if (holder == nullptr || launcher == nullptr) {
        ADD_FAILURE() << "E2E_FILE_HOLDER and E2E_LAUNCHER name the holder and how to start it";
        return;
    }
    int requests[2];
    int answers[2];
    ASSERT_EQ(pipe2(requests, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(answers, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, requests[0], 0);
    posix_spawn_file_actions_adddup2(&actions, answers[1], 1);
    std::string launcher_text = launcher;
    std::string holder_text = holder;
    char* argv[] = {launcher_text.data(), holder_text.data(), nullptr};
    ASSERT_EQ(posix_spawnp(&file_holder.pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(requests[0]);
    close(answers[1]);
    file_holder.requests = requests[1];
    const std::string request = "hold " + std::to_string(share) + " " + ProgramView(path) + "\n";
    ASSERT_EQ(write(file_holder.requests, request.data(), request.size()),
              static_cast<ssize_t>(request.size()));
    std::string answer;
    char byte = 0;
    while (read(answers[0], &byte, 1) == 1 && byte != '\n') {
        answer += byte;
    }
    close(answers[0]);
    EXPECT_EQ(answer, "held");
}

void LetGo() {
    close(file_holder.requests);
    WaitForEnd(file_holder.pid);
}

// What a run prints when tunnel.cfg kept its Home item.
const std::string kBannerOfOldHome =
    "(DevID){dev-1}(Home){Home}(LogLevel){2}\r\ntunnel started: dev-1\r\n" + kPrompt;

// The temp.cfg of a start that is rewriting tunnel.cfg this moment, as that
// start holds it.
int held_temp_cfg = -1;

// Another start that holds temp.cfg, in a process of its own, and lets it go
// once the start under test has found it in use kTriesBeforeLettingGo times
// (each try opens it; the tries are 20 ms apart, so about a second). It ends
// with status 1 when told to go before that (`go` closed).
constexpr int kTriesBeforeLettingGo = 50;
struct TempCfgHolder {
    pid_t pid = -1;
    int go = -1;
};
TempCfgHolder temp_cfg_holder;

[[noreturn]] void HoldTempCfgUntilTriedOften(const fs::path& path, int held, int go) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX) != 0 || watch < 0 ||
        inotify_add_watch(watch, path.c_str(), IN_OPEN) < 0 || write(held, "h", 1) != 1) {
        _exit(2);
    }
    for (int tries = 0; tries < kTriesBeforeLettingGo;) {
        pollfd ready[] = {{watch, POLLIN, 0}, {go, POLLIN, 0}};
        if (poll(ready, 2, -1) <= 0 || ready[1].revents != 0) {
            _exit(1);
        }
        alignas(inotify_event) char events[4096];
        const ssize_t count = read(watch, events, sizeof events);
        for (ssize_t at = 0; at < count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            tries += (event->mask & IN_OPEN) != 0 ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    _exit(0);
}

void LayTempCfgHeldForASecond(const ProgramFolder& f) {
    WriteBytes(f.app / "temp.cfg", "being written\n");
    int held[2];
    int go[2];
    ASSERT_EQ(pipe2(held, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
    temp_cfg_holder.pid = fork();
    if (temp_cfg_holder.pid == 0) {
        HoldTempCfgUntilTriedOften(f.app / "temp.cfg", held[1], go[0]);
    }
    close(held[1]);
    close(go[0]);
    temp_cfg_holder.go = go[1];
    char byte = 0;
    EXPECT_EQ(read(held[0], &byte, 1), 1) << "the holder did not take temp.cfg";
    close(held[0]);
}

void HolderLetGoAfterTheTries(const ProgramFolder&) {
    close(temp_cfg_holder.go);
    EXPECT_EQ(WaitForExit(temp_cfg_holder.pid), 0) << "the start stopped trying too soon";
}

// A file-size limit that the usual output and a line on standard error fit
// in, and a tunnel.cfg that a comment line makes larger than it.
constexpr rlim_t kFileSizeLimit = 200;
const std::string kTunnelCfgOverTheLimit = kTunnelCfg + "# " + std::string(300, 'x') + "\r\n";
rlimit file_size_before{};

void LimitFileSize(const ProgramFolder&) {
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &file_size_before), 0);
    const rlimit limit{kFileSizeLimit, file_size_before.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
}

void LiftFileSizeLimit(const ProgramFolder&) {
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &file_size_before), 0);
}

// The line of a start whose rewrite of tunnel.cfg stopped, and why.
std::string NotRewritten(const std::string& reason) {
    return "tunnelconsole: tunnel.cfg was not rewritten: " + reason + "\r\n";
}

// What a start says when it may not write tunnel.cfg (`file`) or the folder
// (then the library fails too), with the advice: POSIX's or Windows' words.
std::string NotWritable(bool file, bool windows) {
    const std::string error = windows ? "Permission denied" : NotWritableError();
    const std::string advice =
        std::string("unpack tunnelconsole into a folder you may write, ") + "such as " +
        (windows ? "%LOCALAPPDATA%\\Programs\\tunnelconsole\r\n" : "~/tunnelconsole\r\n");
    if (file) {
        return NotRewritten("cannot write {DIR}/tunnel.cfg: " + error) +
               "tunnelconsole: tunnel.cfg in {DIR} may not be written: make it writable, or " +
               advice;
    }
    return NotRewritten("cannot create {DIR}/temp.cfg: " + error) +
           "tunnelconsole: the folder {DIR} may not be written: " + advice +
           "tunnelconsole: TunnelStart failed, Error: -9\r\n";
}

std::vector<Case> TunnelCfgCases() {
    const std::string not_a_regular_file = NotRewritten("{DIR}/tunnel.cfg is not a regular file") +
                                           "tunnelconsole: TunnelConfigGet failed, Error: -9\r\n";
    return {
        {.name = "PermissionsKept",
         .posix_only = "Windows files have no POSIX permission bits",
         .lay =
             [](const ProgramFolder& f) {
                 chmod((f.app / "tunnel.cfg").c_str(), S_ISGID | S_ISVTX | 0640);
             },
         .inspect =
             [](const ProgramFolder& f) {
                 struct stat info {};
                 ASSERT_EQ(stat((f.app / "tunnel.cfg").c_str(), &info), 0);
                 EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(S_ISGID | S_ISVTX | 0640));
             }},
        {.name = "LinkKeptAndItsFileRewritten",
         .tunnel_cfg = std::nullopt,
         .posix_only = kLinksArePosix,
         .lay = LayChainOfLinks<1>,
         .inspect = ExpectChainOfLinks<1>},
        {.name = "ChainOfLinksToAnotherFolder",
         .tunnel_cfg = std::nullopt,
         .posix_only = kLinksArePosix,
         .lay =
             [](const ProgramFolder& f) {
                 fs::create_directory(f.root / "conf");
                 WriteBytes(f.root / "conf" / "real.cfg", kTunnelCfg);
                 fs::create_symlink("real.cfg", f.root / "conf" / "link.cfg");
                 fs::create_symlink(f.root / "conf" / "link.cfg", f.app / "tunnel.cfg");
             },
         .inspect =
             [](const ProgramFolder& f) {
                 EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), f.root / "conf" / "link.cfg");
                 EXPECT_EQ(fs::read_symlink(f.root / "conf" / "link.cfg"), "real.cfg");
                 EXPECT_EQ(FileText(f.root / "conf" / "real.cfg", f), kTunnelCfgRewritten);
                 EXPECT_FALSE(fs::exists(f.root / "conf" / "temp.cfg"));
             }},
        // Left untouched: nothing is written, so a temp.cfg that cannot be made is
        // no failure.
        {.name = "UnchangedFileNeedsNoTempFile",
         .tunnel_cfg = std::nullopt,
         .lay =
             [](const ProgramFolder& f) {
                 LayRewrittenTunnelCfg(f);
                 fs::create_directory(f.app / "temp.cfg");
             },
         .inspect =
             [](const ProgramFolder& f) {
                 EXPECT_EQ(fs::last_write_time(f.app / "tunnel.cfg"), fs::file_time_type());
                 fs::remove(f.app / "temp.cfg");
             }},
        // Whatever temp.cfg is, a new file is made in its place.
        {.name = "TempCfgLinkNotWrittenThrough",
         .posix_only = "the emulator shows a POSIX symbolic link as the file it leads to",
         .lay =
             [](const ProgramFolder& f) {
                 WriteBytes(f.root / "precious.txt", "precious\n");
                 fs::permissions(f.root / "precious.txt",
                                 fs::perms::owner_read | fs::perms::owner_write);
                 fs::create_symlink(f.root / "precious.txt", f.app / "temp.cfg");
             },
         .inspect =
             [](const ProgramFolder& f) {
                 EXPECT_EQ(FileText(f.root / "precious.txt", f), "precious\n");
                 EXPECT_EQ(fs::status(f.root / "precious.txt").permissions(),
                           fs::perms::owner_read | fs::perms::owner_write);
                 EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(f.app / "tunnel.cfg")));
             }},
        {.name = "TempCfgFifoReplaced",
         .posix_only = "Windows has no FIFO in a folder",
         .lay = [](const ProgramFolder& f) { mkfifo((f.app / "temp.cfg").c_str(), 0600); }},
        {.name = "StaleHiddenReadOnlyTempCfgReplaced",
         .lay =
             [](const ProgramFolder& f) {
                 WriteBytes(f.app / "temp.cfg", "left by a killed run\n");
                 SetHidden(f.app / "temp.cfg");
                 fs::permissions(f.app / "temp.cfg", fs::perms::owner_read);
             }},
        {.name = "TempCfgHeldByAnotherStart",
         .posix_only = "a start under the emulator holds its temp.cfg by the emulator's own rules",
         .lay =
             [](const ProgramFolder& f) {
                 WriteBytes(f.app / "temp.cfg", "being written\n");
                 held_temp_cfg = open((f.app / "temp.cfg").c_str(), O_RDONLY | O_CLOEXEC);
                 EXPECT_EQ(flock(held_temp_cfg, LOCK_EX), 0);
             },
         .expected_output = kBannerOfOldHome,
         .expected_errors =
             NotRewritten("another start is rewriting it ({DIR}/temp.cfg stayed in use)"),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect =
             [](const ProgramFolder& f) {
                 EXPECT_EQ(FileText(f.app / "temp.cfg", f), "being written\n");
                 close(held_temp_cfg);
                 fs::remove(f.app / "temp.cfg");
             }},
        // This start waits for the other, which lets go, and rewrites.
        {.name = "TempCfgHeldForASecondByAnotherStart",
         .posix_only = "a start under the emulator holds its temp.cfg by the emulator's own rules",
         .lay = LayTempCfgHeldForASecond,
         .inspect = HolderLetGoAfterTheTries},
        // Compared without asking to write: no word when nothing is to be written.
        {.name = "ReadableOnlyAndRewrittenAlready",
         .tunnel_cfg = std::nullopt,
         .lay =
             [](const ProgramFolder& f) {
                 LayRewrittenTunnelCfg(f);
                 SetWritable(f.app / "tunnel.cfg", false);
             },
         .inspect = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", true); }},
        {.name = "ReadableOnlyLeftAsItIs",
         .lay = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", false); },
         .expected_output = kBannerOfOldHome,
         .expected_errors = NotWritable(true, false),
         .windows_expected_errors = NotWritable(true, true),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", true); }},
        // Installed where the user may not write: temp.cfg cannot be made, and
        // the library cannot make Home either.
        {.name = "FolderMayNotBeWritten",
         .input = "versionget\n",
         .lay = [](const ProgramFolder& f) { SetWritable(f.app, false); },
         .expected_output = "(DevID){dev-1}(Home){Home}(LogLevel){2}\r\n",
         .expected_errors = NotWritable(false, false),
         .windows_expected_errors = NotWritable(false, true),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect = [](const ProgramFolder& f) { SetWritable(f.app, true); }},
        // Whatever tunnel.cfg's own mode, the folder is what to mend.
        {.name = "FolderAndFileMayNotBeWritten",
         .lay =
             [](const ProgramFolder& f) {
                 SetWritable(f.app / "tunnel.cfg", false);
                 SetWritable(f.app, false);
             },
         .expected_output = "(DevID){dev-1}(Home){Home}(LogLevel){2}\r\n",
         .expected_errors = NotWritable(false, false),
         .windows_expected_errors = NotWritable(false, true),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect =
             [](const ProgramFolder& f) {
                 SetWritable(f.app, true);
                 SetWritable(f.app / "tunnel.cfg", true);
             }},
        // The emulator shows a file without write permission as read-only.
        {.name = "HiddenAndReadOnlyAttributesKept",
         .windows_only = "POSIX files have no hidden attribute",
         .lay =
             [](const ProgramFolder& f) {
                 SetHidden(f.app / "tunnel.cfg");
                 fs::permissions(f.app / "tunnel.cfg", fs::perms::owner_read);
             },
         .inspect =
             [](const ProgramFolder& f) {
                 EXPECT_EQ(DosAttributes(f.app / "tunnel.cfg") & kHidden, kHidden);
                 EXPECT_EQ(fs::status(f.app / "tunnel.cfg").permissions() & fs::perms::owner_write,
                           fs::perms::none);
             }},
        // Another process reads tunnel.cfg and lets nobody write it meanwhile.
        {.name = "TunnelCfgHeldForReadingAlreadyRewritten",
         .tunnel_cfg = std::nullopt,
         .windows_only = "a Windows process holding the file, through the emulator",
         .lay =
             [](const ProgramFolder& f) {
                 LayRewrittenTunnelCfg(f);
                 HoldOpen(f.app / "tunnel.cfg", kShareRead);
             },
         .inspect = [](const ProgramFolder&) { LetGo(); }},
        // An open file cannot be replaced on Windows: after waiting for it, the
        // run goes on with the file as it is.
        {.name = "TunnelCfgHeldOpenCannotBeReplaced",
         .windows_only = "a Windows process holding the file, through the emulator",
         .lay =
             [](const ProgramFolder& f) {
                 HoldOpen(f.app / "tunnel.cfg", kShareRead | kShareWrite);
             },
         .expected_output = kBannerOfOldHome,
         .expected_errors = NotRewritten("cannot replace {DIR}/tunnel.cfg: Permission denied"),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect = [](const ProgramFolder&) { LetGo(); }},
        // Compared byte by byte: a Home of another folder, as long, is rewritten.
        {.name = "HomeOfAnotherFolderOfTheSameLength",
         .tunnel_cfg = std::nullopt,
         .lay =
             [](const ProgramFolder& f) {
                 LayRewrittenTunnelCfg(f);
                 std::string text = ReadBytes(f.app / "tunnel.cfg");
                 text[text.find("Home}")] = 'X';
                 WriteBytes(f.app / "tunnel.cfg", text);
             }},
        {.name = "BytesAfterCtrlZDropped",
         .tunnel_cfg = std::nullopt,
         .lay = LayRewrittenTunnelCfgWithTail},
        {.name = "ChainOfExactlyFiveLinks",
         .tunnel_cfg = std::nullopt,
         .posix_only = kLinksArePosix,
         .lay = LayChainOfLinks<5>,
         .inspect = ExpectChainOfLinks<5>},
        {.name = "ChainOfSixLinksLeftAlone",
         .tunnel_cfg = std::nullopt,
         .posix_only = kLinksArePosix,
         .lay = LayChainOfLinks<6>,
         .expected_output = kBannerOfOldHome,
         .expected_errors =
             NotRewritten("more than 5 symbolic links lead on from {DIR}/tunnel.cfg"),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect = ExpectChainOfLinks<6>},
        {.name = "LinkToAnotherFileSystem",
         .tunnel_cfg = std::nullopt,
         .posix_only = kLinksArePosix,
         .lay =
             [](const ProgramFolder& f) {
                 const fs::path other = OtherFileSystemFolder(f);
                 fs::create_directory(other);
                 WriteBytes(other / "real.cfg", kTunnelCfg);
                 fs::create_symlink(other / "real.cfg", f.app / "tunnel.cfg");
             },
         .expected_tunnel_cfg = std::nullopt,
         .inspect =
             [](const ProgramFolder& f) {
                 const fs::path other = OtherFileSystemFolder(f);
                 EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), other / "real.cfg");
                 EXPECT_EQ(FileText(other / "real.cfg", f), kTunnelCfgRewritten);
                 EXPECT_FALSE(fs::exists(other / "temp.cfg"));
                 fs::remove_all(other);
             }},
        {.name = "TunnelCfgIsAFolder",
         .tunnel_cfg = std::nullopt,
         .lay = [](const ProgramFolder& f) { fs::create_directory(f.app / "tunnel.cfg"); },
         .expected_output = "",
         .expected_errors = NotRewritten("cannot open {DIR}/tunnel.cfg: Is a directory") +
                            "tunnelconsole: TunnelConfigGet failed, Error: -9\r\n",
         // Windows refuses to open a folder as a file for lack of access.
         .windows_expected_errors =
             NotRewritten("cannot open {DIR}/tunnel.cfg: Permission denied") +
             "tunnelconsole: TunnelConfigGet failed, Error: -9\r\n",
         .expected_tunnel_cfg = std::nullopt,
         .inspect =
             [](const ProgramFolder& f) { EXPECT_TRUE(fs::is_directory(f.app / "tunnel.cfg")); }},
        // Read, these would wait for a writer or never end: the start goes on
        // without them, and so does the library's own read.
        {.name = "TunnelCfgIsAFifo",
         .tunnel_cfg = std::nullopt,
         .posix_only = "Windows has no FIFO or device in a folder",
         .lay = [](const ProgramFolder& f) { mkfifo((f.app / "tunnel.cfg").c_str(), 0600); },
         .expected_output = "",
         .expected_errors = not_a_regular_file,
         .expected_tunnel_cfg = std::nullopt},
        {.name = "TunnelCfgLinksToAnEndlessDevice",
         .tunnel_cfg = std::nullopt,
         .posix_only = "Windows has no FIFO or device in a folder",
         .lay =
             [](const ProgramFolder& f) { fs::create_symlink("/dev/zero", f.app / "tunnel.cfg"); },
         .expected_output = "",
         .expected_errors = not_a_regular_file,
         .expected_tunnel_cfg = std::nullopt},
        // The write of temp.cfg fails past the limit; the run goes on (not
        // ended by SIGXFSZ) with tunnel.cfg as it was.
        {.name = "FileSizeLimitStopsTheRewrite",
         .tunnel_cfg = kTunnelCfgOverTheLimit,
         .input = "versionget\n",
         .posix_only = "a file-size limit is POSIX",
         .lay = LimitFileSize,
         .expected_output = kBannerOfOldHome + "Version: 1.0.0-sim\r\n" + kPrompt,
         .expected_errors = NotRewritten("cannot write {DIR}/temp.cfg: File too large"),
         .expected_tunnel_cfg = kTunnelCfgOverTheLimit,
         .inspect = LiftFileSizeLimit},
        // What stands in temp.cfg's place and cannot be removed: tunnel.cfg is
        // left as it is, and the folder too.
        {.name = "TempCfgIsAFolderWithFilesInIt",
         .lay =
             [](const ProgramFolder& f) {
                 fs::create_directory(f.app / "temp.cfg");
                 WriteBytes(f.app / "temp.cfg" / "keep.txt", "kept\n");
             },
         .expected_output = kBannerOfOldHome,
         .expected_errors = NotRewritten("cannot remove {DIR}/temp.cfg: Is a directory"),
         .windows_expected_errors = NotRewritten("cannot remove {DIR}/temp.cfg: Permission denied"),
         .expected_tunnel_cfg = kTunnelCfg,
         .inspect =
             [](const ProgramFolder& f) {
                 EXPECT_EQ(FileText(f.app / "temp.cfg" / "keep.txt", f), "kept\n");
                 fs::remove_all(f.app / "temp.cfg");
             }},
    };
}

INSTANTIATE_TEST_SUITE_P(TunnelCfg, StartupE2e, testing::ValuesIn(TunnelCfgCases()), CaseName);

// Folders a program is installed in. The Home item names the folder in a
// spelling the library reads back and the ANSI code page holds: on Windows
// the short name when the full one holds ( ) { } or characters the code page
// lacks. The library makes the Home folder it is given.
void HomeFolderMade(const ProgramFolder& f) {
    EXPECT_TRUE(fs::is_directory(f.app / "Home"));
}

// Every folder's run makes Home; one that tunnel.cfg names calls the library
// as usual.
std::vector<Case> FolderCases() {
    const std::string home_left_out =
        "tunnelconsole: Home item left out: the program folder \"{DIR}\" holds } or a line "
        "break, which would end it\r\n";
    std::vector<Case> cases = {
        {.name = "ProgramFilesX86",
         .environment = kCodePage1252,
         .program_folder_name = "Program Files (x86)/tunnelconsole",
         .short_name_on_windows = true},
        {.name = "NumberedCopy",
         .environment = kCodePage1252,
         .program_folder_name = "tunnelconsole (1)",
         .short_name_on_windows = true},
        {.name = "OutsideTheAnsiCodePage",
         .environment = kCodePage1252,
         .program_folder_name = "\xE8\xB7\xAF\xE5\xBE\x84",
         .short_name_on_windows = true},
        // The ANSI code page spells it: the full name stays, in that code page.
        {.name = "AnsiCodePageSpellsIt",
         .environment = kCodePage1252,
         .program_folder_name = "caf\xC3\xA9"},
        // A valid short name already: it has no other spelling.
        {.name = "ParenthesesWithoutAShortName",
         .program_folder_name = "tc(1)",
         .windows_expected_errors = "tunnelconsole: the program folder \"{DIR}\" holds one of ( "
                                    ") { and has no short name\r\n"},
        // No spelling of it fits an item: tunnel.cfg keeps its own Home, which
        // the library takes from its folder.
        {.name = "ClosingBraceInTheFolder",
         .program_folder_name = "tc}1",
         .expected_output = kBannerOfOldHome,
         .expected_errors = home_left_out,
         .expected_tunnel_cfg = kTunnelCfg},
        {.name = "CarriageReturnInTheFolder",
         .program_folder_name = "tc\r1",
         .posix_only = "a Windows folder name holds no CR",
         .expected_output = kBannerOfOldHome,
         .expected_errors = home_left_out,
         .expected_tunnel_cfg = kTunnelCfg},
    };
    for (Case& c : cases) {
        if (c.expected_tunnel_cfg == kTunnelCfgRewritten) {
            c.expected_trace = StartTrace(kDev) + kStopTrace;
        }
        c.inspect = HomeFolderMade;
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Folders, StartupE2e, testing::ValuesIn(FolderCases()), CaseName);

// A text file of the source tree, beside this test's own folder.
std::string SourceText(const std::string& name) {
    return FileText(fs::path(__FILE__).parent_path().parent_path().parent_path() / name,
                    ProgramFolder());
}

// The usage text as README shows it (indented by four), with CR LF: the
// program and README must agree.
std::string ReadmeUsage() {
    std::istringstream readme(SourceText("README.md"));
    std::string usage;
    std::string line;
    bool inside = false;
    while (std::getline(readme, line)) {
        inside = inside || line == "    Usage: tunnelconsole [-e] [-q]";
        if (inside && !line.empty() && !line.starts_with("    ")) {
            break;
        }
        if (inside) {
            usage += (line.empty() ? line : line.substr(4)) + "\r\n";
        }
    }
    while (usage.ends_with("\r\n\r\n")) {
        usage.resize(usage.size() - 2);
    }
    return usage;
}

// The one version, as the project's CMakeLists.txt declares it.
std::string ProjectVersion() {
    const std::string text = SourceText("CMakeLists.txt");
    const std::string declaration = "project(tunnelconsole VERSION ";
    const std::size_t start = text.find(declaration) + declaration.size();
    return text.substr(start, text.find(' ', start) - start);
}

void NoHomeMade(const ProgramFolder& f) {
    EXPECT_FALSE(fs::exists(f.app / "Home"));
}

std::string Ignored(const std::string& arguments) {
    return "tunnelconsole: ignored: " + arguments + "\r\n";
}

// Help and the version touch nothing: tunnel.cfg keeps its bytes, no Home is
// made and the library is never called. Any other argument is ignored, and
// named on standard error: the run is the run without it.
std::vector<Case> CommandLineCases() {
    const std::string usage = ReadmeUsage();
    const std::string version = "tunnelconsole " + ProjectVersion() + "\r\n";
    const char* slash_help = "/? is the Windows spelling of --help";
    const std::string session = Banner(kDev) + "Version: 1.0.0-sim\r\n" + kPrompt;
    const std::string quiet_session =
        ConfigText(kDev) + "\r\ntunnel started: " + kDev + "\r\nVersion: 1.0.0-sim\r\n";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string errors;
        std::string output = "";  // empty: the session of "versionget"
        const char* posix_only = nullptr;
        const char* windows_only = nullptr;
    } rows[] = {
        {"HelpLong", {"--help"}, "", usage},
        {"HelpShort", {"-h"}, "", usage},
        {"HelpAmongOptions", {"-e", "--help", "-q"}, "", usage},
        {"VersionLong", {"--version"}, "", version},
        {"VersionShort", {"-V"}, "", version},
        // The first of the two is done.
        {"VersionThenHelp", {"-V", "-h"}, "", version},
        {"HelpThenVersion", {"-h", "--version"}, "", usage},
        {"VersionThenHelpInOneArgument", {"-qVh"}, "", version},
        {"UnknownShortOption", {"-x"}, Ignored("-x")},
        // A mistyped letter leaves the whole argument out: no -q here.
        {"UnknownOptionAmongKnownOnes", {"-qx"}, Ignored("-qx")},
        {"UnknownLongOption", {"--frobnicate"}, Ignored("--frobnicate")},
        {"OptionGivenAValue", {"--quiet=yes"}, Ignored("--quiet=yes")},
        {"StrayWords", {"tunnel.cfg", "now"}, Ignored("tunnel.cfg now")},
        {"AWindowsPath", {"C:\\x\\y.txt"}, Ignored("C:\\x\\y.txt")},
        {"AnArgumentWithABlankAndAnEmptyOne", {"my file", ""}, Ignored("\"my file\" \"\"")},
        {"OptionsAmongIgnoredWords", {"x", "-q", "y"}, Ignored("x y"), quiet_session},
        {"ExitOnErrorAmongIgnoredWords", {"-e", "x"}, Ignored("x")},
        // "--" ends the options unnamed; all after it are arguments, a second "--" too.
        {"DoubleDashAlone", {"--"}, ""},
        {"DoubleDashEndsTheOptions",
         {"-q", "--", "-q", "--help", "--"},
         Ignored("-q --help --"),
         quiet_session},
        {"StrayArgumentAfterHelp", {"--help", "now"}, Ignored("now"), usage},
        // A line longer than standard error's line is cut, its line break kept.
        {"StrayArgumentCutToTheLine",
         {std::string(2000, 'a')},
         "tunnelconsole: ignored: " + std::string(997, 'a') + "\r\n"},
        {"SlashQuestionMarkIsHelpOnWindows", {"/?"}, "", usage, nullptr, slash_help},
        {"SlashQuestionMarkIsIgnoredElsewhere", {"/?"}, Ignored("/?"), "", slash_help},
    };
    std::vector<Case> cases;
    for (const auto& row : rows) {
        Case c{.name = row.name,
               .arguments = row.arguments,
               .input = "versionget\n",
               .posix_only = row.posix_only,
               .windows_only = row.windows_only,
               .expected_output = row.output.empty() ? session : row.output,
               .expected_errors = row.errors,
               .expected_trace = StartTrace(kDev) + "TunnelVersionGet(out) = 0\n" + kStopTrace};
        if (row.output == usage || row.output == version) {
            c.expected_tunnel_cfg = kTunnelCfg;
            c.expected_trace = "";
            c.inspect = NoHomeMade;
        }
        cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(CommandLine, StartupE2e, testing::ValuesIn(CommandLineCases()), CaseName);

// With -e a failed start-up step ends the run at once, with status 1.
std::vector<Case> ExitOnErrorCases() {
    std::vector<Case> cases = {
        // The library is never called when tunnel.cfg could not be rewritten.
        {.name = "ExitOnErrorWhenTunnelCfgIsNotRewritten",
         .arguments = {"--exit-on-error"},
         .input = "versionget\n",
         .lay = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", false); },
         .expected_output = "",
         .expected_errors = NotWritable(true, false),
         .windows_expected_errors = NotWritable(true, true),
         .expected_status = 1,
         .expected_tunnel_cfg = kTunnelCfg,
         .expected_trace = "",
         .inspect =
             [](const ProgramFolder& f) {
                 SetWritable(f.app / "tunnel.cfg", true);
                 NoHomeMade(f);
             }},
        // A typo in a script: nothing after it runs.
        {.name = "ExitOnErrorAtALineThatIsNoCommand",
         .arguments = {"-e"},
         .input = "comentset\nhello\nversionget\n",
         .expected_output = Banner(kDev) + kCommandList,
         .expected_errors = "tunnelconsole: line 1: \"comentset\" is not a command\r\n",
         .expected_status = 1,
         .expected_trace = StartTrace(kDev) + kStopTrace},
        // Notes show text from outside harmlessly: controls and bytes that
        // are no character of the text's encoding (UTF-8; the ANSI code page
        // 1252 under the emulator) as \xHH, letters as they are.
        {.name = "ExitOnErrorAtALineWithControls",
         .arguments = {"-e"},
         .input = "ab\x1b[2J\x07\x81\xc2\x9b\rx caf\xc3\xa9\n",
         .environment = {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}},
         .expected_output = Banner(kDev) + kCommandList,
         .expected_errors = "tunnelconsole: line 1: \"ab\\x1b[2J\\x07\\x81\\xc2\\x9b\\x0dx "
                            "caf\xc3\xa9\" is not a command\r\n",
         .windows_expected_errors = "tunnelconsole: line 1: \"ab\\x1b[2J\\x07\\x81\xc2\x9b\\x0dx "
                                    "caf\xc3\xa9\" is not a command\r\n",
         .expected_status = 1,
         .expected_trace = StartTrace(kDev) + kStopTrace},
        {.name = "ControlsInArgumentsAreEscaped",
         .arguments = {"\x1b]0;T\x07", "x\r\ny", "\x7f\x81\xc2\x9b", "caf\xc3\xa9"},
         .environment = {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}},
         .posix_only = "the emulator hands arguments on through UTF-16",
         .expected_errors = "tunnelconsole: ignored: \\x1b]0;T\\x07 x\\x0d\\x0ay "
                            "\\x7f\\x81\\xc2\\x9b caf\xc3\xa9\r\n"},
    };
    // A start that fails, from the failure rows: with -e, status 1.
    for (Case c : FailureCases()) {
        const bool start = c.name == "StartFails";
        if (start || c.name == "ConfigGetFails") {
            c.name = start ? "ExitOnErrorAtAFailedStart" : "ExitOnErrorWithoutTheConfigurationText";
            c.arguments = {"-e"};
            c.expected_status = 1;
            cases.push_back(c);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ExitOnError, StartupE2e, testing::ValuesIn(ExitOnErrorCases()), CaseName);

// temp.cfg reaches stable storage before it replaces tunnel.cfg, and the
// rename does before the run goes on, as the system calls show.
TEST(TunnelCfgE2e, ReachesStableStorageBeforeAndAfterTheRename) {
    if (std::getenv("E2E_LAUNCHER") != nullptr && *std::getenv("E2E_LAUNCHER") != '\0') {
        GTEST_SKIP() << "the program runs under a launcher already";
    }
    if (std::system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    const fs::path calls = fs::temp_directory_path() / ("tc-e2e-calls-" + std::to_string(getpid()));
    const std::string launcher =
        "strace -f -qq -e trace=fsync,fdatasync,rename,renameat,renameat2 -o " + calls.string();
    setenv("E2E_LAUNCHER", launcher.c_str(), 1);
    const Result result = e2e::Run(Session("Durable", "quit\n", ""));
    unsetenv("E2E_LAUNCHER");
    const std::string text = ReadBytes(calls);
    fs::remove(calls);
    EXPECT_EQ(result.tunnel_cfg, kTunnelCfgRewritten);
    const std::size_t rename = text.find("temp.cfg\", \"");
    ASSERT_NE(rename, std::string::npos) << text;
    EXPECT_NE(text.rfind("fsync(", rename), std::string::npos) << text;
    EXPECT_NE(text.find("fsync(", rename), std::string::npos) << text;
}

// Starts that begin together in one folder: one rewrites tunnel.cfg, the
// others wait for it and find it rewritten. None says anything, and the file
// holds the rewrite whole: a small one, and one whose writing takes a while.
TEST(TunnelCfgE2e, SimultaneousStartsInOneFolder) {
    constexpr int kStarts = 8;
    std::string comments;
    for (int line = 0; line < 20000; ++line) {
        comments += "# comment line " + std::to_string(line) + "\r\n";
    }
    for (const std::string& tail : {std::string(), comments}) {
        SCOPED_TRACE(tail.size());
        const ProgramFolder folder;
        LaySettings(folder, kTunnelCfg + tail);
        WriteBytes(folder.root / "input", "quit\n");
        std::array<pid_t, kStarts> starts{};
        for (int start = 0; start < kStarts; ++start) {
            const int input = open((folder.root / "input").c_str(), O_RDONLY | O_CLOEXEC);
            const std::string name = "errors" + std::to_string(start);
            const int errors = CreateForWriting(folder.root / name);
            const int output = open("/dev/null", O_WRONLY | O_CLOEXEC);
            starts[start] = StartProgram(folder, input, output, {}, errors);
            close(input);
            close(output);
            close(errors);
        }
        for (int start = 0; start < kStarts; ++start) {
            EXPECT_EQ(WaitForExit(starts[start]), 0);
            EXPECT_EQ(FileText(folder.root / ("errors" + std::to_string(start)), folder), "")
                << "start " << start;
        }
        EXPECT_TRUE(FileText(folder.app / "tunnel.cfg", folder) == kTunnelCfgRewritten + tail);
        EXPECT_FALSE(fs::exists(fs::symlink_status(folder.app / "temp.cfg")));
    }
}

// The Windows program asks the system for both flushes: FlushFileBuffers on
// temp.cfg, then MoveFileExA with MOVEFILE_WRITE_THROUGH, as the emulator's
// trace of the calls between the program and the system shows.
TEST(TunnelCfgE2e, WindowsProgramFlushesBeforeAndAfterTheRename) {
    if (!TestingWindowsProgram()) {
        GTEST_SKIP() << "a trace of the emulator's calls";
    }
    Case c = Session("Durable", "quit\n", "");
    c.environment = {{"WINEDEBUG", "+relay"}};
    const Result result = e2e::Run(c);
    EXPECT_EQ(result.tunnel_cfg, kTunnelCfgRewritten);
    const std::string& trace = result.errors;
    const std::size_t flush = trace.find("Ret  KERNEL32.FlushFileBuffers() retval=00000001");
    const std::size_t move =
        trace.find("KERNEL32.MoveFileExA(", flush == std::string::npos ? trace.size() : flush);
    ASSERT_NE(flush, std::string::npos) << trace;
    ASSERT_NE(move, std::string::npos) << trace;
    const std::string call = trace.substr(move, trace.find('\n', move) - move);
    EXPECT_NE(call.find("{DIR}/temp.cfg\","), std::string::npos) << call;
    EXPECT_NE(call.find("{DIR}/tunnel.cfg\",00000009)"), std::string::npos) << call;
}

// A crash in the library: what earlier commands printed, still in the
// output buffer, reaches the file; one line says what was running; the
// process ends by the crash.
TEST(CrashE2e, WhatWasPrintedSurvivesACrashInTheLibrary) {
    const struct {
        const char* name;
        const char* crash;  // the stand-in's switch
        int signal;         // what ends the POSIX program
        const char* line;   // on standard error, POSIX then Windows
        const char* windows_line;
        int windows_status;  // as a POSIX parent sees it: the low byte
    } rows[] = {
        {"SegvInAnOperation", "TunnelUserExtend=segv", SIGSEGV,
         "tunnelconsole: ended by signal SIGSEGV in TunnelUserExtend\r\n",
         "tunnelconsole: ended by exception 0xC0000005 in TunnelUserExtend\r\n", 0x05},
        {"AbortInAnOperation", "TunnelUserExtend=abort", SIGABRT,
         "tunnelconsole: ended by signal SIGABRT in TunnelUserExtend\r\n",
         "tunnelconsole: ended by signal SIGABRT in TunnelUserExtend\r\n", 3},
        {"SegvOnALibraryThread", "TunnelUserExtend=thread", SIGSEGV,
         "tunnelconsole: ended by signal SIGSEGV on a library thread\r\n",
         "tunnelconsole: ended by exception 0xC0000005 on a library thread\r\n", 0x05},
        {"AbortOnTheLibrarysLogThread", "TunnelUserExtend=logabort", SIGABRT,
         "tunnelconsole: ended by signal SIGABRT on a library thread\r\n",
         "tunnelconsole: ended by signal SIGABRT on a library thread\r\n", 3},
        // Once every call has returned (here as the process ends, after
        // TunnelStop), no operation is named.
        {"SegvAfterTheLastCallReturned", "TunnelUserExtend=atexit", SIGSEGV,
         "tunnelconsole: ended by signal SIGSEGV\r\n", nullptr, 0},
    };
    constexpr int kCommands = 300;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Case c = Session(row.name, "", "");
        for (int i = 0; i < kCommands; ++i) {
            c.input += "versionget\n";
            c.expected_output += "Version: 1.0.0-sim\r\n" + kPrompt;
        }
        c.input += "userextend\nhi\nversionget\n";
        // For logabort the log thread runs, and never logs within the run.
        c.environment = {
            {"TUNNEL_SIM_CRASH", row.crash},
            {"TUNNEL_SIM_LOG_THREAD", std::strstr(row.crash, "logabort") ? "4000000000" : ""}};
        const bool after_return = std::strstr(row.crash, "atexit") != nullptr;
        if (after_return && TestingWindowsProgram()) {
            continue;  // a library's exit handlers run as it is unloaded, unwatched
        }
        const Result result = e2e::Run(c);
        EXPECT_EQ(result.output,
                  c.expected_output + "request data: " +
                      (after_return ? "User extend request success\r\nreply data: "
                                      "echo: hi\r\n" +
                                          kPrompt + "Version: 1.0.0-sim\r\n" + kPrompt
                                    : ""));
        const std::string& errors = result.errors;
        const int status = result.wait_status;
        if (TestingWindowsProgram()) {
            // The system may add its own report after the line.
            EXPECT_TRUE(errors.starts_with(row.windows_line)) << errors;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.windows_status) << status;
        } else if (kSanitized) {
            EXPECT_NE(errors.find(row.line), std::string::npos) << errors;
            EXPECT_NE(status, 0);
        } else {
            EXPECT_EQ(errors, row.line);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
        }
    }
}

}  // namespace
}  // namespace e2e
