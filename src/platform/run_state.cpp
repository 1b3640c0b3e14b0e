#include "platform/run_state.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/diagnostics.h"
#include "platform/os_run_state.h"

namespace {

// Read and written from signal handlers and the library's threads.
std::atomic<bool> stop_requested{false};
std::atomic<bool> output_lost{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void RunStateInit() {
    OsOpenMissingStandardStreams();
    stop_requested.store(false);
    output_lost.store(false);
    OsWatchStopRequests();
}

bool RunShouldEnd() {
    return stop_requested.load() || output_lost.load();
}

bool NoteStopRequest() {
    const bool first = !stop_requested.exchange(true);
    OsWakeInputWait();
    return first;
}

void NoteOutputLost(int error) {
    if (output_lost.exchange(true)) {
        return;
    }
    OsWakeInputWait();
    if (!OsReaderWentAway(error)) {
        ReportProblem("standard output failed: %s", std::strerror(error));
    }
}
