#include "run/run_state.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/os_run_state.h"
#include "run/crash_report.h"
#include "run/diagnostics.h"

namespace {

// Read and written from signal handlers and the library's threads.
std::atomic<bool> stop_requested{false};
std::atomic<bool> output_lost{false};
std::atomic<bool> input_failed{false};
std::atomic<bool> stream_failed{false};
std::atomic<int> stop_status{0};

// Whether Ctrl-C interrupts (between AllowInterrupts and DisallowInterrupts),
// and whether it did since.
enum InterruptState : int { kNotAllowed, kAllowed, kInterrupted };
std::atomic<int> interrupt_state{kNotAllowed};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// From the platform's handler of Ctrl-C: safe in a signal handler.
OsInterrupt NoteInterrupt() {
    // While the run ends, Ctrl-C is a second stop request.
    if (stop_requested.load()) {
        return OsInterrupt::kNotTaken;
    }
    int allowed = kAllowed;
    if (interrupt_state.compare_exchange_strong(allowed, kInterrupted)) {
        OsInterruptInputWait();
        return OsInterrupt::kTaken;
    }
    return allowed == kInterrupted ? OsInterrupt::kAgain : OsInterrupt::kNotTaken;
}

}  // namespace

void RunStateInit(void (*write_pending_output)()) {
    SetPendingOutputWriter(write_pending_output);
    OsOpenMissingStandardStreams();
    stop_requested.store(false);
    output_lost.store(false);
    input_failed.store(false);
    stream_failed.store(false);
    stop_status.store(0);
    interrupt_state.store(kNotAllowed);
    OsWatchStopRequests({NoteStopRequest, NoteInterrupt, ReportEnding});
}

bool RunShouldEnd() {
    return stop_requested.load() || output_lost.load();
}

bool NoteStopRequest(int exit_status) {
    // Before the request shows: whoever sees it sees its status. The first
    // request's status stays.
    int none = 0;
    stop_status.compare_exchange_strong(none, exit_status);
    const bool first = !stop_requested.exchange(true);
    OsWakeInputWait();
    return first;
}

int StopRequestStatus() {
    return stop_requested.load() ? stop_status.load() : 0;
}

void NoteOutputLost(int error) {
    if (output_lost.exchange(true)) {
        return;
    }
    OsWakeInputWait();
    if (!OsReaderWentAway(error)) {
        stream_failed.store(true);
        ReportProblem("standard output failed: %s", std::strerror(error));
    }
}

void NoteInputFailed(int error) {
    if (input_failed.exchange(true)) {
        return;
    }
    stream_failed.store(true);
    ReportProblem("standard input failed: %s", std::strerror(error));
}

bool StandardStreamFailed() {
    return stream_failed.load();
}

void AllowInterrupts() {
    interrupt_state.store(kAllowed);
    OsForgetInputInterrupt();
}

void DisallowInterrupts() {
    interrupt_state.store(kNotAllowed);
}

bool InterruptRequested() {
    return interrupt_state.load() == kInterrupted;
}

bool CommandShouldStop() {
    return RunShouldEnd() || InterruptRequested();
}
