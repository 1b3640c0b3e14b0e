// Start-up, the command loop and the end of a run, as a user sees them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    std::vector<Case> cases = {
        Session("NewcomerSession", "versionget\nstatusget\nhelp\nquit\n",
                version + "Status: 1\r\n" + kPrompt + list),
        Session("QuitFirst", "quit\nversionget\n", ""),
        Session("EndOfInputActsAsQuit", "versionget\n", version),
        Session("EmptyInput", "", ""),
        Session("CrLfLineBreaks", "versionget\r\nquit\r\n", version),
        Session("LastLineWithoutBreak", "versionget", version),
        Session("SubEndsInput", "versionget\n\x1aversionget\n", version),
        Session("SubInsideLine", "versionget\x1a\n", version),
        Session("LoneCrIsPartOfTheLine", "versionget\rquit\n", list),
        Session("NearMissesPrintTheList", "QUIT\n quit\nquit \n\nVersionGet\n",
                list + list + list + list + list),
        Session("TestconnectIsNotListed", "help\n", list),
        Session("OverlongCommandIsOneCommand", std::string(300, 'x') + "\nversionget\n",
                list + version),
        Session("OverlongCommandStartingWithAName", "versionget" + std::string(300, ' ') + "\n",
                list),
        Session("CommandFillingTheBuffer", std::string(255, 'y') + "\nversionget\n",
                list + version),
        Session("NulInsideCommand", std::string("quit\0x\nquit\n", 12), list),
    };
    Case no_input = Session("NoStandardInput", "", "");
    no_input.no_input = true;
    cases.push_back(no_input);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Loop, StartupE2e, testing::ValuesIn(LoopCases()),
                         [](const auto& info) { return info.param.name; });

std::vector<Case> ConfigurationCases() {
    std::vector<Case> cases;
    Case c = Session("ConfigIniMissing", "quit\n", "");
    c.config_ini.reset();
    c.expected_output = Banner("undefined");
    cases.push_back(c);

    c = Session("DeviceIdKeyMissing", "quit\n", "");
    c.config_ini = "[config]\r\nname=x\r\n[other]\r\ndevice_id=wrong\r\n";
    c.expected_output = Banner("undefined");
    cases.push_back(c);

    c = Session("EmptyDeviceIdKeepsTheLibrarysValue", "quit\n", "");
    c.config_ini = ConfigIni("");
    c.tunnel_cfg = "(DevID){file-dev}\r\n(Home){x}\r\n";
    c.expected_output = "(DevID){file-dev}(Home){{HOME}}\r\ntunnel started: file-dev\r\n" + kPrompt;
    c.expected_tunnel_cfg = "(DevID){file-dev}\r\n(Home){{HOME}}\r\n";
    cases.push_back(c);

    c = Session("IniSyntax", "quit\n", "");
    c.config_ini = "\xEF\xBB\xBF; settings\n[ Config ]\n  DEVICE_ID =  \"my dev\"  \n";
    c.expected_output = Banner("my dev");
    cases.push_back(c);

    c = Session("PercentSignsArePlainData", "quit\n", "");
    c.config_ini = ConfigIni("50%s%d%n");
    c.expected_output = Banner("50%s%d%n");
    cases.push_back(c);

    const std::string padding(120, 'p');
    c = Session("DeviceIdTooLongForTheText", "quit\n", "");
    c.config_ini = ConfigIni(std::string(127, 'd'));
    c.tunnel_cfg = "(DevID){file-dev}\n(Home){x}\n(Pad){" + padding + "}\n";
    c.expected_output = "(DevID){file-dev}(Home){{HOME}}(Pad){" + padding +
                        "}\r\ntunnel started: file-dev\r\n" + kPrompt;
    c.expected_tunnel_cfg = "(DevID){file-dev}\r\n(Home){{HOME}}\r\n(Pad){" + padding + "}\r\n";
    c.expected_errors = "tunnelconsole: device id \"" + std::string(127, 'd') +
                        "\" left out: the configuration text has no room for it\r\n";
    cases.push_back(c);

    c = Session("DeviceIdOf128CharactersKeepsItsFirst127", "quit\n", "");
    c.config_ini = ConfigIni(std::string(128, 'd'));
    c.expected_output = Banner(std::string(127, 'd'));
    cases.push_back(c);

    // Braces or parentheses in the identifier would move or add items.
    for (const auto& [name, device_id] :
         {std::pair{"DeviceIdThatWouldMoveHome", "x}(Home){/elsewhere"},
          std::pair{"DeviceIdThatWouldCutItself", "ab}cd"},
          std::pair{"DeviceIdWithParenthesis", "a(b"}}) {
        c = Session(name, "quit\n", "");
        c.config_ini = ConfigIni(device_id);
        c.tunnel_cfg = "(DevID){file-dev}\r\n(Home){x}\r\n";
        c.expected_output =
            "(DevID){file-dev}(Home){{HOME}}\r\ntunnel started: file-dev\r\n" + kPrompt;
        c.expected_tunnel_cfg = "(DevID){file-dev}\r\n(Home){{HOME}}\r\n";
        c.expected_errors = std::string("tunnelconsole: device id \"") + device_id +
                            "\" left out: it holds one of ( ) { }\r\n";
        cases.push_back(c);
    }

    c = Session("NulByteInTunnelCfg", "quit\n", "");
    c.tunnel_cfg = std::string("(DevID){}\n(Home){x}\n(Log\0Level){2}\n", 30);
    c.expected_output = "(DevID){dev-1}(Home){{HOME}}\r\ntunnel started: dev-1\r\n" + kPrompt;
    c.expected_tunnel_cfg = std::string("(DevID){}\r\n(Home){{HOME}}\r\n(Log\0Level){2}\r\n", 37);
    c.expected_errors =
        "tunnelconsole: tunnel.cfg holds a NUL byte: the library reads its line only up to it\r\n";
    cases.push_back(c);

    c = Session("TunnelCfgWithoutHomeGainsIt", "quit\n", "");
    c.tunnel_cfg = "(DevID){}\n(LogLevel){2}";
    c.expected_output =
        "(DevID){dev-1}(LogLevel){2}(Home){{HOME}}\r\ntunnel started: dev-1\r\n" + kPrompt;
    c.expected_tunnel_cfg = "(DevID){}\r\n(LogLevel){2}\r\n(Home){{HOME}}";
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Configuration, StartupE2e, testing::ValuesIn(ConfigurationCases()),
                         [](const auto& info) { return info.param.name; });

// Start-up failures end the run at once; the trace shows the library was never stopped.
std::vector<Case> FailureCases() {
    std::vector<Case> cases;
    Case c = Session("TunnelCfgMissing", "versionget\n", "");
    c.tunnel_cfg.reset();
    c.expected_output = "";
    c.expected_tunnel_cfg.reset();
    c.expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -9\n";
    c.expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot open {DIR}/tunnel.cfg: No such file "
        "or directory\r\ntunnelconsole: TunnelConfigGet failed, Error: -9\r\n";
    cases.push_back(c);

    // The Home item of a deep program folder, or long items, leave the text no room.
    c = Session("ConfigTextTooLong", "versionget\n", "");
    c.tunnel_cfg = "(DevID){}\n(Home){x}\n(Pad){" + std::string(250, 'p') + "}\n";
    c.expected_output = "";
    c.expected_tunnel_cfg.reset();
    c.expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -5\n";
    c.expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -5\r\n";
    cases.push_back(c);

    // A program folder of 218 characters leaves the 256-byte text room for
    // the Home item but not for the device id, and the stand-in will not
    // start without one; one of 230 leaves no room for the Home item.
    c = Session("DeepFolderLeavesNoRoomForTheDeviceId", "versionget\n", "");
    c.program_folder_length = 218;
    c.expected_output = "(DevID){}(Home){{HOME}}(LogLevel){2}\r\n";
    c.expected_errors =
        "tunnelconsole: device id \"dev-1\" left out: the configuration text has no room for "
        "it\r\ntunnelconsole: TunnelStart failed, Error: -2\r\n";
    cases.push_back(c);

    c = Session("DeeperFolderLeavesNoRoomForTheText", "versionget\n", "");
    c.program_folder_length = 230;
    c.expected_output = "";
    c.expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -5\n";
    c.expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -5\r\n";
    cases.push_back(c);

    // Windows paths end at 259 characters: a folder of 249 leaves no room for
    // "\\tunnel.cfg", and the message names the folder.
    c = Session("FolderTooLongForItsPaths", "versionget\n", "");
    c.program_folder_length = 249;
    c.expected_output = "";
    c.expected_tunnel_cfg.reset();
    c.expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -5\r\n";
    c.windows_expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: the folder {DIR} is too long: a path in it "
        "may have at most 259 characters\r\ntunnelconsole: TunnelConfigGet failed, Error: -9\r\n";
    cases.push_back(c);

    c = Session("ConfigGetFails", "versionget\n", "");
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelConfigGet=-77"}};
    c.expected_output = "";
    c.expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -77\n";
    c.expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -77\r\n";
    cases.push_back(c);

    c = Session("StartFails", "versionget\n", "");
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelStart=-9"}};
    c.expected_output = ConfigText(kDev) + "\r\n";
    c.expected_trace =
        "TunnelConfigGet(\"tunnel.cfg\", out, 256) = 0\nTunnelStart(\"tunnel.cfg\", \"" +
        ConfigText(kDev) + "\", 0, callback) = -9\n";
    c.expected_errors = "tunnelconsole: TunnelStart failed, Error: -9\r\n";
    cases.push_back(c);

    c = Session("VersionAndStatusFail", "versionget\nstatusget\n",
                "Get version failed, Error: -5\r\n" + kPrompt +
                    "Get status failed, Error: -2147483648\r\n" + kPrompt);
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelVersionGet=-5,TunnelStatusGet=-2147483648"}};
    cases.push_back(c);

    for (const char* input : {"quit\n", "", "versionget"}) {
        c = Session("StopsOnceAtTheEnd", input, "");
        c.expected_output.clear();
        c.expected_trace =
            StartTrace(kDev) + (input[0] == 'v' ? "TunnelVersionGet(out) = 0\n" : "") + kStopTrace;
        c.name = input[0] == 'q'   ? "StopsOnceAtQuit"
                 : input[0] == 'v' ? "StopsOnceAfterLastLine"
                                   : "StopsOnceAtEndOfInput";
        c.expected_output =
            Banner(kDev) + (input[0] == 'v' ? "Version: 1.0.0-sim\r\n" + kPrompt : "");
        cases.push_back(c);
    }

    // Only 0 is success: a positive code is a failure like any other.
    c = Session("PositiveResultIsAFailure", "versionget\n",
                "Get version failed, Error: 5\r\n" + kPrompt);
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelVersionGet=5"}};
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Failures, StartupE2e, testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return info.param.name; });

// The emulator gives a standard stream that was closed a handle on which
// every write fails, so the Windows program cannot tell it from a broken one.
constexpr const char* kClosedUnderTheEmulator =
    "the emulator gives a closed descriptor a handle that fails every write";

// Standard streams that are closed or fail: the run still stops the library
// once, and nothing lands where it does not belong.
std::vector<Case> StreamCases() {
    const std::string commands = "versionget\nstatusget\n";
    const std::string all_calls =
        StartTrace(kDev) + "TunnelVersionGet(out) = 0\nTunnelStatusGet(0, out) = 0\n" + kStopTrace;
    std::vector<Case> cases;
    Case c = Session("OutputClosed", commands, "");
    c.posix_only = kClosedUnderTheEmulator;
    c.output = Output::kClosed;
    c.expected_output = "";
    c.expected_trace = all_calls;
    cases.push_back(c);

    c = Session("AllStreamsClosed", commands, "");
    c.posix_only = kClosedUnderTheEmulator;
    c.no_input = true;
    c.output = Output::kClosed;
    c.no_error_output = true;
    c.expected_output = "";
    c.expected_trace = StartTrace(kDev) + kStopTrace;
    cases.push_back(c);

    c = Session("ErrorsClosedAtAFailedStart", commands, "");
    c.no_error_output = true;
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelStart=-9"}};
    c.expected_output = ConfigText(kDev) + "\r\n";
    c.expected_trace =
        "TunnelConfigGet(\"tunnel.cfg\", out, 256) = 0\nTunnelStart(\"tunnel.cfg\", \"" +
        ConfigText(kDev) + "\", 0, callback) = -9\n";
    cases.push_back(c);

    // Nobody reads what follows: the run ends as at the end of input.
    c = Session("OutputReaderGoneBeforeStart", commands, "");
    c.output = Output::kPipeWithoutReader;
    c.expected_output = "";
    c.expected_trace = StartTrace(kDev) + kStopTrace;
    cases.push_back(c);

    c = Session("OutputDeviceFull", commands, "");
    c.output = Output::kFullDevice;
    c.expected_output = "";
    c.expected_trace = StartTrace(kDev) + kStopTrace;
    c.expected_errors = "tunnelconsole: standard output failed: No space left on device\r\n";
    cases.push_back(c);

    // A Windows parent may give no handle (NULL) or INVALID_HANDLE_VALUE:
    // each is opened on the null device, so the run goes on unseen.
    for (const auto& [name, handles] : {std::pair{"InputHandleNull", "--stdin=null"},
                                        std::pair{"InputHandleInvalid", "--stdin=invalid"}}) {
        c = Session(name, commands, "");
        c.windows_handles = handles;
        c.expected_trace = StartTrace(kDev) + kStopTrace;
        cases.push_back(c);
    }
    for (const auto& [name, handles] :
         {std::pair{"OutputHandleNull", "--stdout=null"},
          std::pair{"OutputHandleInvalid", "--stdout=invalid"},
          std::pair{"AllHandlesMissing", "--stdout=null --stderr=invalid"}}) {
        c = Session(name, commands, "");
        c.windows_handles = handles;
        c.expected_output = "";
        c.expected_trace = all_calls;
        cases.push_back(c);
    }

    // A Windows pipe whose reader is gone fails a write with ERROR_NO_DATA:
    // nobody reads what follows, and that is no failure to report.
    c = Session("OutputPipeReaderGoneBeforeStart", commands, "");
    c.windows_handles = "--stdout=gone";
    c.expected_output = "";
    c.expected_trace = StartTrace(kDev) + kStopTrace;
    cases.push_back(c);

    // The reader leaves while the program waits at the prompt; the output
    // of the next command, flushed before the next read, finds it gone, and
    // that read does not wait.
    c = Session("NoWaitForInputOnceAFlushFails", commands, "");
    c.windows_handles = "--stdin=versionget --stdout=leaves";
    c.expected_output = "";
    c.expected_trace = StartTrace(kDev) + "TunnelVersionGet(out) = 0\n" + kStopTrace;
    cases.push_back(c);

    // The reader leaves while the program waits at the prompt, and the
    // library's next message, from its own thread, is what finds it gone.
    c = Session("ReaderLeavesWhileIdleAndTheLibraryLogs", commands, "");
    c.windows_handles = "--stdin=endless --stdout=leaves";
    c.environment = {{"TUNNEL_SIM_LOG_THREAD", "1000"}};
    c.expected_output = "";
    c.expected_trace = StartTrace(kDev) + kStopTrace;
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Streams, StartupE2e, testing::ValuesIn(StreamCases()),
                         [](const auto& info) { return info.param.name; });

namespace fs = std::filesystem;

std::string FileText(const fs::path& path, const ProgramFolder& folder) {
    std::ifstream file(path, std::ios::binary);
    return WithPlaceholders(std::string(std::istreambuf_iterator<char>(file), {}), folder);
}

void Lay(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The rewrite keeps what tunnel.cfg was apart from its Home item, and leaves
// it alone when nothing would change.
// tunnel.cfg as the rewrite leaves it, dated at the epoch.
void LayRewrittenTunnelCfg(const ProgramFolder& f) {
    std::string rewritten = kTunnelCfgRewritten;
    rewritten.replace(rewritten.find("{HOME}"), 6, ProgramView(f.app / "Home"));
    Lay(f.app / "tunnel.cfg", rewritten);
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

// tunnel.cfg -> l1 -> ... -> l<count-1> -> real.cfg: `count` links.
void LayChainOfLinks(const ProgramFolder& f, int count) {
    Lay(f.app / "real.cfg", kTunnelCfg);
    std::string next = "real.cfg";
    for (int link = count - 1; link >= 1; --link) {
        const std::string name = "l" + std::to_string(link);
        fs::create_symlink(next, f.app / name);
        next = name;
    }
    fs::create_symlink(next, f.app / "tunnel.cfg");
}

void ExpectChainOfLinks(const ProgramFolder& f, int count) {
    std::string next = "real.cfg";
    for (int link = count - 1; link >= 1; --link) {
        EXPECT_EQ(fs::read_symlink(f.app / ("l" + std::to_string(link))), next);
        next = "l" + std::to_string(link);
    }
    EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), next);
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

// What a start says, besides the failure, when tunnel.cfg or its folder may
// not be written.
const std::string kFileMayNotBeWritten =
    "tunnelconsole: tunnel.cfg in {DIR} may not be written: make it writable, or unpack "
    "tunnelconsole into a folder you may write, such as ~/tunnelconsole\r\n";
const std::string kWindowsFileMayNotBeWritten =
    "tunnelconsole: tunnel.cfg in {DIR} may not be written: make it writable, or unpack "
    "tunnelconsole into a folder you may write, such as "
    "%LOCALAPPDATA%\\Programs\\tunnelconsole\r\n";

// What a run prints when tunnel.cfg kept its Home item.
const std::string kBannerOfOldHome =
    "(DevID){dev-1}(Home){Home}(LogLevel){2}\r\ntunnel started: dev-1\r\n" + kPrompt;

// The temp.cfg of a start that is rewriting tunnel.cfg this moment, as that
// start holds it.
int held_temp_cfg = -1;

std::vector<Case> TunnelCfgCases() {
    std::vector<Case> cases;
    Case c = Session("PermissionsKept", "quit\n", "");
    c.posix_only = "Windows files have no POSIX permission bits";
    c.lay = [](const ProgramFolder& f) {
        fs::permissions(f.app / "tunnel.cfg", fs::perms::owner_read | fs::perms::owner_write);
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(fs::status(f.app / "tunnel.cfg").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
    };
    cases.push_back(c);

    c = Session("LinkKeptAndItsFileRewritten", "quit\n", "");
    c.posix_only = "the emulator does not show POSIX symbolic links as links";
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) {
        Lay(f.app / "real.cfg", kTunnelCfg);
        fs::create_symlink("real.cfg", f.app / "tunnel.cfg");
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), "real.cfg");
        EXPECT_EQ(FileText(f.app / "real.cfg", f), kTunnelCfgRewritten);
    };
    cases.push_back(c);

    c = Session("ChainOfLinksToAnotherFolder", "quit\n", "");
    c.posix_only = "the emulator does not show POSIX symbolic links as links";
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) {
        fs::create_directory(f.root / "conf");
        Lay(f.root / "conf" / "real.cfg", kTunnelCfg);
        fs::create_symlink("real.cfg", f.root / "conf" / "link.cfg");
        fs::create_symlink(f.root / "conf" / "link.cfg", f.app / "tunnel.cfg");
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), f.root / "conf" / "link.cfg");
        EXPECT_EQ(fs::read_symlink(f.root / "conf" / "link.cfg"), "real.cfg");
        EXPECT_EQ(FileText(f.root / "conf" / "real.cfg", f), kTunnelCfgRewritten);
        EXPECT_FALSE(fs::exists(f.root / "conf" / "temp.cfg"));
    };
    cases.push_back(c);

    c = Session("UnchangedFileLeftUntouched", "quit\n", "");
    c.tunnel_cfg.reset();
    c.lay = LayRewrittenTunnelCfg;
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(fs::last_write_time(f.app / "tunnel.cfg"), fs::file_time_type());
    };
    cases.push_back(c);

    // Nothing is written, so a temp.cfg that cannot be made is no failure.
    c = Session("UnchangedFileNeedsNoTempFile", "quit\n", "");
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) {
        LayRewrittenTunnelCfg(f);
        fs::create_directory(f.app / "temp.cfg");
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(fs::last_write_time(f.app / "tunnel.cfg"), fs::file_time_type());
        fs::remove(f.app / "temp.cfg");
    };
    cases.push_back(c);

    c = Session("StaleTempFileReplaced", "quit\n", "");
    c.lay = [](const ProgramFolder& f) { Lay(f.app / "temp.cfg", "left by a killed run\n"); };
    cases.push_back(c);

    // Whatever temp.cfg is, a new file is made in its place.
    c = Session("TempCfgLinkNotWrittenThrough", "quit\n", "");
    c.posix_only = "the emulator shows a POSIX symbolic link as the file it leads to";
    c.lay = [](const ProgramFolder& f) {
        Lay(f.root / "precious.txt", "precious\n");
        fs::permissions(f.root / "precious.txt", fs::perms::owner_read | fs::perms::owner_write);
        fs::create_symlink(f.root / "precious.txt", f.app / "temp.cfg");
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(FileText(f.root / "precious.txt", f), "precious\n");
        EXPECT_EQ(fs::status(f.root / "precious.txt").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(f.app / "tunnel.cfg")));
    };
    cases.push_back(c);

    c = Session("TempCfgFifoReplaced", "quit\n", "");
    c.posix_only = "Windows has no FIFO in a folder";
    c.lay = [](const ProgramFolder& f) { mkfifo((f.app / "temp.cfg").c_str(), 0600); };
    cases.push_back(c);

    c = Session("StaleHiddenReadOnlyTempCfgReplaced", "quit\n", "");
    c.lay = [](const ProgramFolder& f) {
        Lay(f.app / "temp.cfg", "left by a killed run\n");
        SetHidden(f.app / "temp.cfg");
        fs::permissions(f.app / "temp.cfg", fs::perms::owner_read);
    };
    cases.push_back(c);

    c = Session("TempCfgHeldByAnotherStart", "quit\n", "");
    c.posix_only = "a start under the emulator holds its temp.cfg by the emulator's own rules";
    c.expected_output = kBannerOfOldHome;
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: another start is rewriting it "
        "({DIR}/temp.cfg "
        "stayed in use)\r\n";
    c.lay = [](const ProgramFolder& f) {
        Lay(f.app / "temp.cfg", "being written\n");
        held_temp_cfg = open((f.app / "temp.cfg").c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(flock(held_temp_cfg, LOCK_EX), 0);
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(FileText(f.app / "temp.cfg", f), "being written\n");
        close(held_temp_cfg);
        fs::remove(f.app / "temp.cfg");
    };
    cases.push_back(c);

    // Compared without asking to write: no word when nothing is to be written.
    c = Session("ReadableOnlyAndRewrittenAlready", "quit\n", "");
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) {
        LayRewrittenTunnelCfg(f);
        SetWritable(f.app / "tunnel.cfg", false);
    };
    c.inspect = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", true); };
    cases.push_back(c);

    c = Session("ReadableOnlyLeftAsItIs", "quit\n", "");
    c.lay = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", false); };
    c.inspect = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", true); };
    c.expected_output = kBannerOfOldHome;
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_errors = std::string(
                            "tunnelconsole: tunnel.cfg was not rewritten: cannot open "
                            "{DIR}/tunnel.cfg: ") +
                        NotWritableError() + "\r\n" + kFileMayNotBeWritten;
    c.windows_expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot open {DIR}/tunnel.cfg: Permission "
        "denied\r\n" +
        kWindowsFileMayNotBeWritten;
    cases.push_back(c);

    // Installed where the user may not write: temp.cfg cannot be made, and
    // the library cannot make Home either.
    c = Session("FolderMayNotBeWritten", "versionget\n", "");
    c.lay = [](const ProgramFolder& f) { SetWritable(f.app, false); };
    c.inspect = [](const ProgramFolder& f) { SetWritable(f.app, true); };
    c.expected_output = "(DevID){dev-1}(Home){Home}(LogLevel){2}\r\n";
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_errors = std::string(
                            "tunnelconsole: tunnel.cfg was not rewritten: cannot create "
                            "{DIR}/temp.cfg: ") +
                        NotWritableError() +
                        "\r\ntunnelconsole: the folder {DIR} may not be written: unpack "
                        "tunnelconsole into a folder you may write, such as "
                        "~/tunnelconsole\r\ntunnelconsole: TunnelStart failed, Error: -9\r\n";
    c.windows_expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot create {DIR}/temp.cfg: Permission "
        "denied\r\ntunnelconsole: the folder {DIR} may not be written: unpack tunnelconsole into "
        "a folder you may write, such as %LOCALAPPDATA%\\Programs\\tunnelconsole\r\n"
        "tunnelconsole: TunnelStart failed, Error: -9\r\n";
    cases.push_back(c);

    // The emulator shows a file without write permission as read-only.
    c = Session("HiddenAndReadOnlyAttributesKept", "quit\n", "");
    c.windows_only = "POSIX files have no hidden attribute";
    c.lay = [](const ProgramFolder& f) {
        SetHidden(f.app / "tunnel.cfg");
        fs::permissions(f.app / "tunnel.cfg", fs::perms::owner_read);
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(DosAttributes(f.app / "tunnel.cfg") & kHidden, kHidden);
        EXPECT_EQ(fs::status(f.app / "tunnel.cfg").permissions() & fs::perms::owner_write,
                  fs::perms::none);
    };
    cases.push_back(c);

    // Another process reads tunnel.cfg and lets nobody write it meanwhile.
    c = Session("TunnelCfgHeldForReadingAlreadyRewritten", "quit\n", "");
    c.windows_only = "a Windows process holding the file, through the emulator";
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) {
        LayRewrittenTunnelCfg(f);
        HoldOpen(f.app / "tunnel.cfg", kShareRead);
    };
    c.inspect = [](const ProgramFolder&) { LetGo(); };
    cases.push_back(c);

    // An open file cannot be replaced on Windows: after waiting for it, the
    // run goes on with the file as it is.
    c = Session("TunnelCfgHeldOpenCannotBeReplaced", "quit\n", "");
    c.windows_only = "a Windows process holding the file, through the emulator";
    c.lay = [](const ProgramFolder& f) {
        HoldOpen(f.app / "tunnel.cfg", kShareRead | kShareWrite);
    };
    c.inspect = [](const ProgramFolder&) { LetGo(); };
    c.expected_output = kBannerOfOldHome;
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot replace {DIR}/tunnel.cfg: Permission "
        "denied\r\n";
    cases.push_back(c);

    c = Session("BytesAfterCtrlZDropped", "quit\n", "");
    c.tunnel_cfg.reset();
    c.lay = LayRewrittenTunnelCfgWithTail;
    cases.push_back(c);

    c = Session("ChainOfExactlyFiveLinks", "quit\n", "");
    c.posix_only = "the emulator does not show POSIX symbolic links as links";
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) { LayChainOfLinks(f, 5); };
    c.inspect = [](const ProgramFolder& f) {
        ExpectChainOfLinks(f, 5);
        EXPECT_EQ(FileText(f.app / "real.cfg", f), kTunnelCfgRewritten);
    };
    cases.push_back(c);

    c = Session("ChainOfSixLinksLeftAlone", "quit\n", "");
    c.posix_only = "the emulator does not show POSIX symbolic links as links";
    c.tunnel_cfg.reset();
    c.expected_output = kBannerOfOldHome;
    c.expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: more than 5 symbolic links lead on from "
        "{DIR}/tunnel.cfg\r\n";
    c.expected_tunnel_cfg = kTunnelCfg;
    c.lay = [](const ProgramFolder& f) { LayChainOfLinks(f, 6); };
    c.inspect = [](const ProgramFolder& f) {
        ExpectChainOfLinks(f, 6);
        EXPECT_EQ(FileText(f.app / "real.cfg", f), kTunnelCfg);
    };
    cases.push_back(c);

    c = Session("LinkToAnotherFileSystem", "quit\n", "");
    c.posix_only = "the emulator does not show POSIX symbolic links as links";
    c.tunnel_cfg.reset();
    c.expected_tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) {
        const fs::path other = OtherFileSystemFolder(f);
        fs::create_directory(other);
        Lay(other / "real.cfg", kTunnelCfg);
        fs::create_symlink(other / "real.cfg", f.app / "tunnel.cfg");
    };
    c.inspect = [](const ProgramFolder& f) {
        const fs::path other = OtherFileSystemFolder(f);
        EXPECT_EQ(fs::read_symlink(f.app / "tunnel.cfg"), other / "real.cfg");
        EXPECT_EQ(FileText(other / "real.cfg", f), kTunnelCfgRewritten);
        EXPECT_FALSE(fs::exists(other / "temp.cfg"));
        fs::remove_all(other);
    };
    cases.push_back(c);

    c = Session("TunnelCfgIsAFolder", "quit\n", "");
    c.tunnel_cfg.reset();
    c.lay = [](const ProgramFolder& f) { fs::create_directory(f.app / "tunnel.cfg"); };
    c.inspect = [](const ProgramFolder& f) { EXPECT_TRUE(fs::is_directory(f.app / "tunnel.cfg")); };
    c.expected_output = "";
    c.expected_tunnel_cfg.reset();
    c.expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot open {DIR}/tunnel.cfg: Is a "
        "directory\r\ntunnelconsole: TunnelConfigGet failed, Error: -9\r\n";
    // Windows refuses to open a folder as a file for lack of access.
    c.windows_expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot open {DIR}/tunnel.cfg: Permission "
        "denied\r\ntunnelconsole: TunnelConfigGet failed, Error: -9\r\n";
    cases.push_back(c);

    // Read, these would wait for a writer or never end: the start goes on
    // without them, and so does the library's own read.
    for (const auto& [name, lay] :
         {std::pair<const char*, void (*)(const ProgramFolder&)>{
              "TunnelCfgIsAFifo",
              [](const ProgramFolder& f) { mkfifo((f.app / "tunnel.cfg").c_str(), 0600); }},
          std::pair<const char*, void (*)(const ProgramFolder&)>{
              "TunnelCfgLinksToAnEndlessDevice", [](const ProgramFolder& f) {
                  fs::create_symlink("/dev/zero", f.app / "tunnel.cfg");
              }}}) {
        c = Session(name, "quit\n", "");
        c.posix_only = "Windows has no FIFO or device in a folder";
        c.tunnel_cfg.reset();
        c.lay = lay;
        c.expected_output = "";
        c.expected_tunnel_cfg.reset();
        c.expected_errors =
            "tunnelconsole: tunnel.cfg was not rewritten: {DIR}/tunnel.cfg is not a regular "
            "file\r\ntunnelconsole: TunnelConfigGet failed, Error: -9\r\n";
        cases.push_back(c);
    }

    c = Session("SetgidAndStickyBitsKept", "quit\n", "");
    c.posix_only = "Windows files have no POSIX permission bits";
    c.lay = [](const ProgramFolder& f) {
        chmod((f.app / "tunnel.cfg").c_str(), S_ISGID | S_ISVTX | 0640);
    };
    c.inspect = [](const ProgramFolder& f) {
        struct stat info {};
        ASSERT_EQ(stat((f.app / "tunnel.cfg").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(S_ISGID | S_ISVTX | 0640));
    };
    cases.push_back(c);

    // What stands in temp.cfg's place and cannot be removed: tunnel.cfg is
    // left as it is, and the folder too.
    c = Session("TempCfgIsAFolderWithFilesInIt", "quit\n", "");
    c.lay = [](const ProgramFolder& f) {
        fs::create_directory(f.app / "temp.cfg");
        Lay(f.app / "temp.cfg" / "keep.txt", "kept\n");
    };
    c.inspect = [](const ProgramFolder& f) {
        EXPECT_EQ(FileText(f.app / "temp.cfg" / "keep.txt", f), "kept\n");
        fs::remove_all(f.app / "temp.cfg");
    };
    c.expected_output = kBannerOfOldHome;
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot remove {DIR}/temp.cfg: Is a "
        "directory\r\n";
    c.windows_expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot remove {DIR}/temp.cfg: Permission "
        "denied\r\n";
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(TunnelCfg, StartupE2e, testing::ValuesIn(TunnelCfgCases()),
                         [](const auto& info) { return info.param.name; });

// Folders a program is installed in. The Home item names the folder in a
// spelling the library reads back and the ANSI code page holds: on Windows
// the short name when the full one holds ( ) { } or characters the code page
// lacks. The library makes the Home folder it is given.
void HomeFolderMade(const ProgramFolder& f) {
    EXPECT_TRUE(fs::is_directory(f.app / "Home"));
}

std::vector<Case> FolderCases() {
    std::vector<Case> cases;
    for (const auto& [name, folder] :
         {std::pair{"ProgramFilesX86", "Program Files (x86)/tunnelconsole"},
          std::pair{"NumberedCopy", "tunnelconsole (1)"},
          std::pair{"OutsideTheAnsiCodePage", "\xE8\xB7\xAF\xE5\xBE\x84"}}) {
        Case c = Session(name, "quit\n", "");
        c.program_folder_name = folder;
        c.short_name_on_windows = true;
        // The code page 1252 under the emulator.
        c.environment = {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}};
        c.expected_trace = StartTrace(kDev) + kStopTrace;
        c.inspect = HomeFolderMade;
        cases.push_back(c);
    }

    // A valid short name already: it has no other spelling.
    Case c = Session("ParenthesesWithoutAShortName", "quit\n", "");
    c.program_folder_name = "tc(1)";
    c.expected_trace = StartTrace(kDev) + kStopTrace;
    c.inspect = HomeFolderMade;
    c.windows_expected_errors =
        "tunnelconsole: the program folder \"{DIR}\" holds one of ( ) { and has no short name\r\n";
    cases.push_back(c);

    // No spelling of it fits an item: tunnel.cfg keeps its own Home, which
    // the library takes from its folder.
    c = Session("ClosingBraceInTheFolder", "quit\n", "");
    c.program_folder_name = "tc}1";
    c.expected_output =
        "(DevID){dev-1}(Home){Home}(LogLevel){2}\r\ntunnel started: dev-1\r\n" + kPrompt;
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_errors =
        "tunnelconsole: Home item left out: the program folder \"{DIR}\" holds } or a line "
        "break, which would end it\r\n";
    c.inspect = HomeFolderMade;
    cases.push_back(c);

    c.name = "CarriageReturnInTheFolder";
    c.program_folder_name = "tc\r1";
    c.posix_only = "a Windows folder name holds no CR";
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Folders, StartupE2e, testing::ValuesIn(FolderCases()),
                         [](const auto& info) { return info.param.name; });

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

// A run that touches nothing: tunnel.cfg keeps its bytes, no Home is made
// and the library is never called.
Case TouchingNothing(std::string name, std::vector<std::string> arguments, std::string output,
                     std::string errors = "", int status = 0) {
    Case c = Session(std::move(name), "versionget\n", "");
    c.arguments = std::move(arguments);
    c.expected_output = std::move(output);
    c.expected_errors = std::move(errors);
    c.expected_status = status;
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_trace = "";
    c.inspect = NoHomeMade;
    return c;
}

std::string NotUnderstood(const std::string& what) {
    return "tunnelconsole: " + what + " not understood: see tunnelconsole --help\r\n";
}

std::vector<Case> CommandLineCases() {
    const std::string usage = ReadmeUsage();
    const std::string version = "tunnelconsole " + ProjectVersion() + "\r\n";
    std::vector<Case> cases = {
        TouchingNothing("HelpLong", {"--help"}, usage),
        TouchingNothing("HelpShort", {"-h"}, usage),
        TouchingNothing("HelpAmongOptions", {"-e", "--help", "-q"}, usage),
        TouchingNothing("VersionLong", {"--version"}, version),
        TouchingNothing("VersionShort", {"-V"}, version),
        TouchingNothing("UnknownShortOption", {"-x"}, "", NotUnderstood("option -x"), 2),
        TouchingNothing("UnknownOptionAmongKnownOnes", {"-qx"}, "", NotUnderstood("option -x"), 2),
        TouchingNothing("UnknownLongOption", {"--verbose"}, "", NotUnderstood("option --verbose"),
                        2),
        TouchingNothing("OptionGivenAValue", {"--quiet=yes"}, "",
                        NotUnderstood("option --quiet=yes"), 2),
        TouchingNothing("StrayArgument", {"tunnel.cfg"}, "",
                        "tunnelconsole: argument \"tunnel.cfg\" not expected: see tunnelconsole "
                        "--help\r\n",
                        2),
        TouchingNothing("StrayArgumentAfterHelp", {"--help", "now"}, "",
                        "tunnelconsole: argument \"now\" not expected: see tunnelconsole "
                        "--help\r\n",
                        2),
        // A line longer than standard error's line is cut, its line break kept.
        TouchingNothing("StrayArgumentCutToTheLine", {std::string(2000, 'a')}, "",
                        "tunnelconsole: argument \"" + std::string(996, 'a') + "\r\n", 2),
    };
    Case slash = TouchingNothing("SlashQuestionMarkIsHelpOnWindows", {"/?"}, usage);
    slash.windows_only = "/? is the Windows spelling of --help";
    cases.push_back(slash);
    slash = TouchingNothing("SlashQuestionMarkIsAStrayArgument", {"/?"}, "",
                            "tunnelconsole: argument \"/?\" not expected: see tunnelconsole "
                            "--help\r\n",
                            2);
    slash.posix_only = "/? is the Windows spelling of --help";
    cases.push_back(slash);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(CommandLine, StartupE2e, testing::ValuesIn(CommandLineCases()),
                         [](const auto& info) { return info.param.name; });

// With -e a failed start-up step ends the run at once, with status 1.
std::vector<Case> ExitOnErrorCases() {
    std::vector<Case> cases;
    Case c = Session("ExitOnErrorAtAFailedStart", "versionget\n", "");
    c.arguments = {"-e"};
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelStart=-9"}};
    c.expected_output = ConfigText(kDev) + "\r\n";
    c.expected_trace =
        "TunnelConfigGet(\"tunnel.cfg\", out, 256) = 0\nTunnelStart(\"tunnel.cfg\", \"" +
        ConfigText(kDev) + "\", 0, callback) = -9\n";
    c.expected_errors = "tunnelconsole: TunnelStart failed, Error: -9\r\n";
    c.expected_status = 1;
    cases.push_back(c);

    c = Session("ExitOnErrorWithoutTheConfigurationText", "versionget\n", "");
    c.arguments = {"-e"};
    c.environment = {{"TUNNEL_SIM_FAULTS", "TunnelConfigGet=-77"}};
    c.expected_output = "";
    c.expected_trace = "TunnelConfigGet(\"tunnel.cfg\", out, 256) = -77\n";
    c.expected_errors = "tunnelconsole: TunnelConfigGet failed, Error: -77\r\n";
    c.expected_status = 1;
    cases.push_back(c);

    // The library is never called when tunnel.cfg could not be rewritten.
    c = Session("ExitOnErrorWhenTunnelCfgIsNotRewritten", "versionget\n", "");
    c.arguments = {"--exit-on-error"};
    c.lay = [](const ProgramFolder& f) { SetWritable(f.app / "tunnel.cfg", false); };
    c.inspect = [](const ProgramFolder& f) {
        SetWritable(f.app / "tunnel.cfg", true);
        NoHomeMade(f);
    };
    c.expected_output = "";
    c.expected_tunnel_cfg = kTunnelCfg;
    c.expected_trace = "";
    c.expected_errors = std::string(
                            "tunnelconsole: tunnel.cfg was not rewritten: cannot open "
                            "{DIR}/tunnel.cfg: ") +
                        NotWritableError() + "\r\n" + kFileMayNotBeWritten;
    c.windows_expected_errors =
        "tunnelconsole: tunnel.cfg was not rewritten: cannot open {DIR}/tunnel.cfg: Permission "
        "denied\r\n" +
        kWindowsFileMayNotBeWritten;
    c.expected_status = 1;
    cases.push_back(c);

    c = Session("ExitOnErrorWithoutAFailure", "versionget\n", "Version: 1.0.0-sim\r\n" + kPrompt);
    c.arguments = {"-e"};
    c.expected_trace = StartTrace(kDev) + "TunnelVersionGet(out) = 0\n" + kStopTrace;
    cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ExitOnError, StartupE2e, testing::ValuesIn(ExitOnErrorCases()),
                         [](const auto& info) { return info.param.name; });

// With -e a stop request ends the run with 128 plus the signal's number.
TEST(ExitOnErrorE2e, AStopRequestEndsWithTheSignalsStatus) {
    if (TestingWindowsProgram()) {
        GTEST_SKIP() << "stop signals are POSIX (tests/win32/console_control_test.cpp has "
                        "Windows' status)";
    }
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        const ProgramFolder folder;
        Lay(folder.app / "config.ini", ConfigIni(kDev));
        Lay(folder.app / "tunnel.cfg", kTunnelCfg);
        int input[2];
        int output[2];
        ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
        const pid_t pid =
            StartProgram(folder, input[0], output[1], {}, STDERR_FILENO, nullptr, {"-e"});
        close(input[0]);
        close(output[1]);
        // Waiting at the prompt: the stop request is the only way out.
        std::string seen;
        char chunk[512];
        ssize_t count = 0;
        while (WithPlaceholders(seen, folder) != Banner(kDev) &&
               (count = read(output[0], chunk, sizeof chunk)) > 0) {
            seen.append(chunk, static_cast<std::size_t>(count));
        }
        EXPECT_EQ(WithPlaceholders(seen, folder), Banner(kDev));
        kill(pid, signal_number);
        EXPECT_EQ(WaitForExit(pid), 128 + signal_number);
        close(input[1]);
        close(output[0]);
    }
}

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
    std::ifstream file(calls);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    fs::remove(calls);
    EXPECT_EQ(result.tunnel_cfg, kTunnelCfgRewritten);
    const std::size_t rename = text.find("temp.cfg\", \"");
    ASSERT_NE(rename, std::string::npos) << text;
    EXPECT_NE(text.rfind("fsync(", rename), std::string::npos) << text;
    EXPECT_NE(text.find("fsync(", rename), std::string::npos) << text;
}

// Starts that begin together in one folder: one rewrites tunnel.cfg, the
// others wait for it and find it rewritten. None says anything.
TEST(TunnelCfgE2e, SimultaneousStartsInOneFolder) {
    constexpr int kStarts = 8;
    const ProgramFolder folder;
    Lay(folder.app / "config.ini", ConfigIni(kDev));
    Lay(folder.app / "tunnel.cfg", kTunnelCfg);
    Lay(folder.root / "input", "quit\n");
    std::array<pid_t, kStarts> starts{};
    for (int start = 0; start < kStarts; ++start) {
        const int input = open((folder.root / "input").c_str(), O_RDONLY | O_CLOEXEC);
        const std::string name = "errors" + std::to_string(start);
        const int errors =
            open((folder.root / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    EXPECT_EQ(FileText(folder.app / "tunnel.cfg", folder), kTunnelCfgRewritten);
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder.app / "temp.cfg")));
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

// A sanitizer's handler, which the program's hands a crash on to, reports
// after the program's line and ends the process its own way.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

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
    } rows[] = {
        {"SegvInAnOperation", "TunnelUserExtend=segv", SIGSEGV,
         "tunnelconsole: ended by signal SIGSEGV in TunnelUserExtend\r\n",
         "tunnelconsole: ended by exception 0xC0000005 in TunnelUserExtend\r\n"},
        {"AbortInAnOperation", "TunnelUserExtend=abort", SIGABRT,
         "tunnelconsole: ended by signal SIGABRT in TunnelUserExtend\r\n",
         "tunnelconsole: ended by signal SIGABRT in TunnelUserExtend\r\n"},
        {"SegvOnALibraryThread", "TunnelUserExtend=thread", SIGSEGV,
         "tunnelconsole: ended by signal SIGSEGV on a library thread\r\n",
         "tunnelconsole: ended by exception 0xC0000005 on a library thread\r\n"},
    };
    constexpr int kCommands = 300;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ProgramFolder folder;
        Lay(folder.app / "config.ini", ConfigIni(kDev));
        Lay(folder.app / "tunnel.cfg", kTunnelCfg);
        std::string input;
        std::string expected = Banner(kDev);
        for (int i = 0; i < kCommands; ++i) {
            input += "versionget\n";
            expected += "Version: 1.0.0-sim\r\n" + kPrompt;
        }
        Lay(folder.root / "input", input + "userextend\nhi\nversionget\n");
        expected += "request data: ";
        const int in = open((folder.root / "input").c_str(), O_RDONLY | O_CLOEXEC);
        const int out =
            open((folder.root / "output").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err =
            open((folder.root / "errors").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int status =
            WaitForEnd(StartProgram(folder, in, out, {{"TUNNEL_SIM_CRASH", row.crash}}, err));
        close(in);
        close(out);
        close(err);
        EXPECT_EQ(FileText(folder.root / "output", folder), expected);
        const std::string errors = FileText(folder.root / "errors", folder);
        if (TestingWindowsProgram()) {
            // The system may add its own report after the line.
            EXPECT_TRUE(errors.starts_with(row.windows_line)) << errors;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
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
