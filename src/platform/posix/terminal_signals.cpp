#include "platform/posix/terminal_signals.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/terminal_modes.h"

namespace {

// Set by the handlers, taken by the thread that reads keys.
std::atomic<bool> terminal_resized{false};
std::atomic<bool> terminal_resumed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

int key_reader_wake = -1;

void WakeKeyReader() {
    const char byte = 1;
    // A full pipe already wakes the reader.
    [[maybe_unused]] const ssize_t written = write(key_reader_wake, &byte, 1);
}

// Ctrl-\ ends the process as it would without this handler, on a terminal
// put back as it was found.
void OnQuitSignal(int signal_number) {
    RestoreTerminalModes();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Ctrl-Z: the shell gets the terminal back as it was found; once continued,
// the editor's modes return and the line is drawn anew.
void OnSuspendSignal(int signal_number) {
    const int saved_errno = errno;
    termios editing{};
    const bool editing_saved = tcgetattr(STDIN_FILENO, &editing) == 0;
    RestoreTerminalModes();
    signal(signal_number, SIG_DFL);
    sigset_t this_signal;
    sigemptyset(&this_signal);
    sigaddset(&this_signal, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &this_signal, nullptr);
    raise(signal_number);
    // Continued.
    pthread_sigmask(SIG_BLOCK, &this_signal, nullptr);
    signal(signal_number, OnSuspendSignal);
    if (editing_saved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &editing);
    }
    terminal_resumed.store(true);
    WakeKeyReader();
    errno = saved_errno;
}

void OnResizeSignal(int) {
    const int saved_errno = errno;
    terminal_resized.store(true);
    WakeKeyReader();
    errno = saved_errno;
}

}  // namespace

void WatchTerminalSignals(int wake_descriptor) {
    key_reader_wake = wake_descriptor;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = OnQuitSignal;
    sigaction(SIGQUIT, &action, nullptr);
    action.sa_handler = OnSuspendSignal;
    sigaction(SIGTSTP, &action, nullptr);
    action.sa_handler = OnResizeSignal;
    sigaction(SIGWINCH, &action, nullptr);
}

bool TakeTerminalResized() {
    return terminal_resized.exchange(false);
}

bool TakeTerminalResumed() {
    return terminal_resumed.exchange(false);
}
