#include "run/run_state.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/os_console.h"
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
// Standard input is a terminal or console: Ctrl-C may interrupt.
bool interrupts_possible = false;
bool output_closed = false;

// Whether Ctrl-C interrupts (between AllowInterrupts and DisallowInterrupts),
// and whether it did since.
enum InterruptState : int { kNotAllowed, kAllowed, kInterrupted };
std::atomic<int> interrupt_state{kNotAllowed};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// How long a library operation must have gone on, after a Ctrl-C that saw
// it, before another Ctrl-C ends the process: longer than any of the
// library's own waits that a command makes after an interrupt, short enough
// for a person who waits for a call that never returns.
constexpr unsigned kHeldMilliseconds = 1000;

// The operation the last Ctrl-C of the command saw, and when.
// Milliseconds, kept in 32 bits for a lock-free atomic everywhere: the
// difference of two is right across a wrap.
std::atomic<unsigned> interrupt_seen_at{0};
std::atomic<unsigned> interrupt_seen_steps{0};
std::atomic<bool> stopping_said{false};

unsigned Now() {
    return static_cast<unsigned>(OsMonotonicMilliseconds());
}

void NoteInterruptSeen() {
    interrupt_seen_steps.store(CurrentLibraryOperation().steps);
    interrupt_seen_at.store(Now());
}

// A Ctrl-C after the first: the process ends at once only when the library
// holds the program's thread in an operation that has not returned for a
// while since a Ctrl-C saw it; otherwise it is the same request, said once.
OsInterrupt NoteInterruptAgain() {
    const LibraryOperationState operation = CurrentLibraryOperation();
    if (operation.running && operation.steps == interrupt_seen_steps.load() &&
        Now() - interrupt_seen_at.load() >= kHeldMilliseconds) {
        return OsInterrupt::kAgain;
    }
    if (operation.steps != interrupt_seen_steps.load()) {
        NoteInterruptSeen();
    }
    if (!stopping_said.exchange(true)) {
        constexpr std::string_view kStopping =
            "tunnelconsole: stopping the command at its next safe point; "
            "Ctrl-\\ (Linux) or Ctrl-Break (Windows) ends the run\r\n";
        OsWriteStandardError(kStopping.data(), kStopping.size());
    }
    return OsInterrupt::kTaken;
}

// From the platform's handler of Ctrl-C: safe in a signal handler.
OsInterrupt NoteInterrupt() {
    // While the run ends, Ctrl-C is a second stop request.
    if (stop_requested.load()) {
        return OsInterrupt::kNotTaken;
    }
    int allowed = kAllowed;
    if (interrupt_state.compare_exchange_strong(allowed, kInterrupted)) {
        NoteInterruptSeen();
        OsInterruptInputWait();
        return OsInterrupt::kTaken;
    }
    return allowed == kInterrupted ? NoteInterruptAgain() : OsInterrupt::kNotTaken;
}

}  // namespace

void RunStateInit(void (*write_pending_output)()) {
    SetPendingOutputWriter(write_pending_output);
    output_closed = OsOpenMissingStandardStreams();
    stop_requested.store(false);
    output_lost.store(false);
    input_failed.store(false);
    stream_failed.store(false);
    stop_status.store(0);
    interrupt_state.store(kNotAllowed);
    interrupts_possible = OsWatchStopRequests({NoteStopRequest, NoteInterrupt, ReportEnding});
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

bool StandardOutputWasClosed() {
    return output_closed;
}

bool StandardStreamFailed() {
    return stream_failed.load();
}

bool InterruptsPossible() {
    return interrupts_possible;
}

void AllowInterrupts() {
    stopping_said.store(false);
    // The input's wake is forgotten first: a Ctrl-C that comes in between
    // keeps its wake, and one that comes after both keeps its state and its
    // wake, so the next read of a line ends.
    OsForgetInputInterrupt();
    interrupt_state.store(kAllowed);
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
