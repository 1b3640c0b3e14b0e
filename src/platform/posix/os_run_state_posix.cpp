#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_run_state.h"
#include "platform/posix/input_wake.h"
#include "platform/posix/terminal_modes.h"
#include "platform/run_state.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

int wake_pipe[2] = {-1, -1};

void OnStopSignal(int signal_number) {
    const int saved_errno = errno;
    // 128 plus the signal's number: what a shell shows for a process it ended.
    if (!NoteStopRequest(128 + signal_number)) {
        // A second request while the first is being served: end now, as the
        // signal would have without a handler, on a terminal as it was found.
        RestoreTerminalModes();
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        sigemptyset(&default_action.sa_mask);
        sigaction(signal_number, &default_action, nullptr);
        sigset_t this_signal;
        sigemptyset(&this_signal);
        sigaddset(&this_signal, signal_number);
        pthread_sigmask(SIG_UNBLOCK, &this_signal, nullptr);
        raise(signal_number);
    }
    errno = saved_errno;
}

void MakeWakePipe() {
    if (wake_pipe[0] >= 0) {
        return;
    }
    if (pipe(wake_pipe) != 0) {
        wake_pipe[0] = wake_pipe[1] = -1;
        return;
    }
    for (const int end : wake_pipe) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    }
}

}  // namespace

void OsOpenMissingStandardStreams() {
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (fcntl(stream, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free descriptor is `stream` itself, as the ones
            // below it are open by now.
            open("/dev/null", O_RDWR);
        }
    }
}

void OsWatchStopRequests() {
    MakeWakePipe();
    // Empties the pipe of a previous run in the same process.
    char drained[64];
    while (wake_pipe[0] >= 0 && read(wake_pipe[0], drained, sizeof drained) > 0) {
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns, and the wake pipe ends a wait.
    action.sa_flags = 0;
    for (const int signal_number : kStopSignals) {
        sigaction(signal_number, &action, nullptr);
    }
    // Writes past a file size limit fail like a full disk instead of ending
    // the process in the middle of the tunnel.cfg rewrite.
    signal(SIGXFSZ, SIG_IGN);
}

void OsWakeInputWait() {
    if (wake_pipe[1] >= 0) {
        const char byte = 1;
        // A full pipe already wakes the wait.
        [[maybe_unused]] const ssize_t written = write(wake_pipe[1], &byte, 1);
    }
}

int OsInputWakeDescriptor() {
    return wake_pipe[0];
}

bool OsReaderWentAway(int error) {
    return error == EPIPE;
}
