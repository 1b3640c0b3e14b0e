#include "startup/startup.h"

#include <array>

#include "platform/console.h"
#include "platform/crash_report.h"
#include "platform/diagnostics.h"
#include "platform/run_state.h"
#include "startup/command_loop.h"
#include "startup/log_callback.h"
#include "startup/tunnel_config.h"
#include "win32_standins/executable_folder.h"
#include "win32_standins/win32_calls.h"

namespace {

constexpr std::size_t kPathCapacity = 4096;
constexpr std::size_t kDeviceIdCapacity = 128;

// Standard output stays as the interface has it; standard error says why.
void ReportSubstitution(DeviceIdSubstitution substitution, const char* device_id_text) {
    if (substitution == DeviceIdSubstitution::kDoesNotFit) {
        ReportProblem("device id \"%s\" left out: the configuration text has no room for it",
                      device_id_text);
    } else if (substitution == DeviceIdSubstitution::kChangesItems) {
        ReportProblem("device id \"%s\" left out: it holds one of ( ) { }", device_id_text);
    }
}

// Said before anything that may fail for it.
void ReportFolderSpelling(FolderSpelling spelling, const char* program_dir) {
    if (spelling == FolderSpelling::kEndsItem) {
        ReportProblem(
            "Home item left out: the program folder \"%s\" holds } or a line break, "
            "which would end it",
            program_dir);
    } else if (spelling == FolderSpelling::kNotInCodePage) {
        ReportProblem(
            "the program folder \"%s\" has characters outside the ANSI code page and no short "
            "name",
            program_dir);
    } else if (spelling == FolderSpelling::kHoldsItemMarks) {
        ReportProblem("the program folder \"%s\" holds one of ( ) { and has no short name",
                      program_dir);
    }
}

constexpr int kFailureStatus = 1;

// The exit status: 0 unless the session ends at the first failure, then 1 for
// a failure or a standard stream that failed, and the platform's status for a
// stop request. A reader that went away is no failure: it took what it
// wanted, as `| head` does.
int EndStatus(bool failed) {
    if (!CurrentSessionOptions().exit_on_error) {
        return 0;
    }
    if (failed || StandardStreamFailed()) {
        return kFailureStatus;
    }
    return StopRequestStatus();
}

}  // namespace

int RunTunnelConsole(SessionOptions options) {
    RunStateInit();
    ConsoleInit();
    SetSessionOptions(options);

    std::array<char, kPathCapacity> program_dir{};
    std::array<char, kPathCapacity> config_path{};
    const FolderSpelling spelling = GetProgramFolder(program_dir);
    ReportFolderSpelling(spelling, program_dir.data());
    PathCombineA(config_path.data(), program_dir.data(), "config.ini");

    std::array<char, kDeviceIdCapacity> device_id_text{};
    GetPrivateProfileStringA("config", "device_id", "undefined", device_id_text.data(),
                             kDeviceIdCapacity, config_path.data());

    // Such a Home item would name some other folder; tunnel.cfg keeps its own.
    const bool prepared =
        spelling != FolderSpelling::kEndsItem && PrepareTunnelConfig(program_dir.data());
    if (!prepared) {
        NoteFailure();
        if (EndForFailure()) {
            return kFailureStatus;
        }
    }

    std::array<char, kConfigTextCapacity> config_text{};
    const ResultCode config_result = CallLibrary("TunnelConfigGet", TunnelConfigGet, "tunnel.cfg",
                                                 config_text.data(), kConfigTextCapacity);
    if (config_result != kTunnelOk) {
        ReportProblem("TunnelConfigGet failed, Error: %d", config_result);
        return EndStatus(true);
    }
    config_text.back() = '\0';
    ReportSubstitution(SubstituteDeviceId(config_text, device_id_text.data()),
                       device_id_text.data());
    ConsoleWrite({config_text.data(), "\n"});

    const ResultCode start_result =
        CallLibrary("TunnelStart", TunnelStart, "tunnel.cfg", config_text.data(), 0, LogCallback);
    if (start_result != kTunnelOk) {
        ConsoleFlush();
        ReportProblem("TunnelStart failed, Error: %d", start_result);
        return EndStatus(true);
    }
    const LoopEnd loop_end = RunCommandLoop();
    // What the last command printed goes out before the library's last words.
    ConsoleFlush();
    CallLibrary("TunnelStop", TunnelStop);
    return EndStatus(loop_end == LoopEnd::kFailure);
}
