#include "startup/startup.h"

#include <array>

#include "console/console.h"
#include "platform/os_ini_file.h"
#include "platform/os_paths.h"
#include "run/diagnostics.h"
#include "run/run_state.h"
#include "startup/command_loop.h"
#include "startup/log_callback.h"
#include "startup/tunnel_config.h"
#include "tunnel/library_call.h"

namespace {

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
int EndStatus(SessionOptions options, bool failed) {
    if (!options.exit_on_error) {
        return 0;
    }
    if (failed || StandardStreamFailed()) {
        return kFailureStatus;
    }
    return StopRequestStatus();
}

}  // namespace

int RunTunnelConsole(SessionOptions options) {
    RunStateInit(ConsoleWritePendingAfterCrash);
    // Where the session ends at the first failure, output that cannot be
    // kept is one, found before anything runs, as a full device's is at its
    // first write.
    if (options.exit_on_error && StandardOutputWasClosed()) {
        ReportProblem("standard output is closed");
        return kFailureStatus;
    }
    ConsoleInit();
    ConsoleShowPrompts(!options.quiet);

    PathText program_dir{};
    PathText config_path{};
    const FolderSpelling spelling = OsProgramFolder(program_dir);
    ReportFolderSpelling(spelling, program_dir.data());
    OsJoinPath(config_path, program_dir.data(), "config.ini");

    std::array<char, kDeviceIdCapacity> device_id_text{};
    OsReadIniValue(config_path.data(), "config", "device_id", "undefined", device_id_text);

    // Such a Home item would name some other folder; tunnel.cfg keeps its own.
    const bool prepared =
        spelling != FolderSpelling::kEndsItem && PrepareTunnelConfig(program_dir.data());
    if (!prepared && options.exit_on_error) {
        return kFailureStatus;
    }

    std::array<char, kConfigTextCapacity> config_text{};
    const ResultCode config_result =
        CALL_LIBRARY(TunnelConfigGet, "tunnel.cfg", config_text.data(), kConfigTextCapacity);
    if (config_result != kTunnelOk) {
        ReportProblem("TunnelConfigGet failed, Error: %d", config_result);
        return EndStatus(options, true);
    }
    config_text.back() = '\0';
    ReportSubstitution(SubstituteDeviceId(config_text, device_id_text.data()),
                       device_id_text.data());
    ConsoleWrite({config_text.data(), "\n"});

    const ResultCode start_result =
        CALL_LIBRARY(TunnelStart, "tunnel.cfg", config_text.data(), 0, LogCallback);
    if (start_result != kTunnelOk) {
        ConsoleFlush();
        ReportProblem("TunnelStart failed, Error: %d", start_result);
        return EndStatus(options, true);
    }
    const LoopEnd loop_end = RunCommandLoop(options);
    // What the last command printed goes out before the library's last words.
    ConsoleFlush();
    CALL_LIBRARY(TunnelStop);
    return EndStatus(options, loop_end == LoopEnd::kFailure);
}
