// Start-up, the command loop and the end of a run, as a user sees them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "e2e_harness.h"
#include "transcript.h"

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
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Folders, StartupE2e, testing::ValuesIn(FolderCases()),
                         [](const auto& info) { return info.param.name; });

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

}  // namespace
}  // namespace e2e
