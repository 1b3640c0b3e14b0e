#include <fcntl.h>
#include <locale.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cwchar>
#include <string_view>

#include "platform/os_run_state.h"
#include "platform/posix/input_wait_descriptors.h"
#include "platform/posix/terminal_modes.h"

namespace {

// Raises `signal_number` again from its own handler, where it is blocked, so
// that its action now in place takes effect at once.
void RaiseUnblocked(int signal_number) {
    sigset_t this_signal;
    sigemptyset(&this_signal);
    sigaddset(&this_signal, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &this_signal, nullptr);
    raise(signal_number);
}

// Ctrl-\ (SIGQUIT) too: it ends the run with the library stopped, at a
// terminal as from a pipe.
constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

int wake_pipe[2] = {-1, -1};
std::atomic<bool> input_wait_woken{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Apart from the wake pipe, which the editor's wait also polls: an interrupt
// wakes only a read of standard input, and only once.
int interrupt_pipe[2] = {-1, -1};
std::atomic<bool> input_interrupted{false};

// Set before any handler is installed.
OsRunEvents run_events{};

// A second request while the first is being served: end now, as the signal
// would have without a handler, on a terminal as it was found.
void EndAtOnce(int signal_number) {
    RestoreTerminalModes();
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    RaiseUnblocked(signal_number);
}

// Standard input is a terminal: the Ctrl-C it sends may interrupt.
bool input_is_terminal = false;

// Ctrl-C typed at the terminal: the terminal's driver sends SIGINT as the
// kernel, where `kill -INT` comes from a process and stays a stop request.
bool TypedInterrupt(int signal_number, const siginfo_t* info) {
    return signal_number == SIGINT && input_is_terminal && info != nullptr &&
           info->si_code == SI_KERNEL;
}

void OnStopSignal(int signal_number, siginfo_t* info, void*) {
    const int saved_errno = errno;
    const OsInterrupt interrupt =
        TypedInterrupt(signal_number, info) ? run_events.interrupted() : OsInterrupt::kNotTaken;
    // 128 plus the signal's number: what a shell shows for a process it ended.
    if (interrupt == OsInterrupt::kAgain ||
        (interrupt == OsInterrupt::kNotTaken && !run_events.stop_requested(128 + signal_number))) {
        EndAtOnce(signal_number);
    }
    errno = saved_errno;
}

// Signals whose default ends the process, and that nothing else here
// handles. A crash also says on standard error what was running.
struct FatalSignal {
    int number;
    std::string_view cause;
    bool crash;
};

constexpr FatalSignal kFatalSignals[] = {
    {SIGSEGV, "signal SIGSEGV", true},      {SIGBUS, "signal SIGBUS", true},
    {SIGABRT, "signal SIGABRT", true},      {SIGFPE, "signal SIGFPE", true},
    {SIGILL, "signal SIGILL", true},        {SIGTRAP, "signal SIGTRAP", true},
    {SIGSYS, "signal SIGSYS", true},        {SIGUSR1, "signal SIGUSR1", false},
    {SIGUSR2, "signal SIGUSR2", false},     {SIGALRM, "signal SIGALRM", false},
    {SIGVTALRM, "signal SIGVTALRM", false}, {SIGPROF, "signal SIGPROF", false},
    {SIGXCPU, "signal SIGXCPU", false},     {SIGIO, "signal SIGIO", false},
    {SIGSTKFLT, "signal SIGSTKFLT", false}, {SIGPWR, "signal SIGPWR", false},
};

// What each signal did before: the process ends by it once ours is done.
std::array<struct sigaction, NSIG> previous_actions{};
std::atomic<bool> fatal_signal_served{false};
static_assert(std::atomic<bool>::is_always_lock_free);
pthread_t program_thread;

// Room to run the handler when the program's thread overflowed its stack.
alignas(16) std::array<char, 65536> fatal_signal_stack;

const FatalSignal* FindFatalSignal(int number) {
    for (const FatalSignal& entry : kFatalSignals) {
        if (entry.number == number) {
            return &entry;
        }
    }
    return nullptr;
}

// A fault of an instruction comes back when the instruction runs again.
bool FaultRecursOnReturn(int number, const siginfo_t* info) {
    return info != nullptr && info->si_code > 0 &&
           (number == SIGSEGV || number == SIGBUS || number == SIGILL || number == SIGFPE);
}

void OnFatalSignal(int number, siginfo_t* info, void*) {
    const int saved_errno = errno;
    if (!fatal_signal_served.exchange(true)) {
        const FatalSignal* entry = FindFatalSignal(number);
        run_events.ending(entry != nullptr ? entry->cause : "a signal",
                          entry != nullptr && entry->crash,
                          pthread_equal(pthread_self(), program_thread) != 0);
        RestoreTerminalModes();
    }
    sigaction(number, &previous_actions[static_cast<std::size_t>(number)], nullptr);
    if (!FaultRecursOnReturn(number, info)) {
        RaiseUnblocked(number);
    }
    errno = saved_errno;
}

void WatchFatalSignal(int number) {
    struct sigaction found {};
    // One the parent had ignored stays ignored.
    if (sigaction(number, nullptr, &found) != 0 ||
        ((found.sa_flags & SA_SIGINFO) == 0 && found.sa_handler == SIG_IGN)) {
        return;
    }
    if (found.sa_sigaction == OnFatalSignal) {
        return;  // a second run in one process keeps the first's
    }
    previous_actions[static_cast<std::size_t>(number)] = found;
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigaction(number, &action, nullptr);
}

void WatchFatalSignals() {
    program_thread = pthread_self();
    fatal_signal_served.store(false);
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
        stack_t ours{};
        ours.ss_sp = fatal_signal_stack.data();
        ours.ss_size = fatal_signal_stack.size();
        sigaltstack(&ours, nullptr);
    }
    for (const FatalSignal& entry : kFatalSignals) {
        WatchFatalSignal(entry.number);
    }
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) {
        WatchFatalSignal(number);
    }
}

void MakePipe(int (&ends)[2]) {
    if (ends[0] >= 0) {
        return;
    }
    if (pipe(ends) != 0) {
        ends[0] = ends[1] = -1;
        return;
    }
    for (const int end : ends) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    }
}

// Empties a pipe of bytes that woke a wait, or that no wait took.
void Drain(int read_end) {
    char drained[64];
    while (read_end >= 0 && read(read_end, drained, sizeof drained) > 0) {
    }
}

}  // namespace

bool OsOpenMissingStandardStreams() {
    bool output_missing = false;
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (fcntl(stream, F_GETFD) == -1 && errno == EBADF) {
            output_missing = output_missing || stream == STDOUT_FILENO;
            // The lowest free descriptor is `stream` itself, as the ones
            // below it are open by now.
            open("/dev/null", O_RDWR);
        }
    }
    return output_missing;
}

bool OsWatchStopRequests(OsRunEvents events) {
    run_events = events;
    input_wait_woken.store(false);
    input_interrupted.store(false);
    input_is_terminal = isatty(STDIN_FILENO) == 1;
    MakePipe(wake_pipe);
    MakePipe(interrupt_pipe);
    // Empties the pipes of a previous run in the same process.
    Drain(wake_pipe[0]);
    Drain(interrupt_pipe[0]);
    struct sigaction action {};
    action.sa_sigaction = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns, and the wake pipe ends a wait.
    action.sa_flags = SA_SIGINFO;
    for (const int signal_number : kStopSignals) {
        sigaction(signal_number, &action, nullptr);
    }
    // Writes past a file size limit fail like a full disk instead of ending
    // the process in the middle of the tunnel.cfg rewrite.
    signal(SIGXFSZ, SIG_IGN);
    // Whatever else ends the process leaves what was printed, and the
    // terminal, as they should be.
    WatchFatalSignals();
    return input_is_terminal;
}

namespace {

// Writes a byte to the pipe a wait polls; safe in a signal handler.
void WakeThrough(int pipe_end) {
    if (pipe_end >= 0) {
        const char byte = 1;
        // A full pipe already wakes the wait.
        [[maybe_unused]] const ssize_t written = write(pipe_end, &byte, 1);
    }
}

}  // namespace

void OsWakeInputWait() {
    input_wait_woken.store(true);
    WakeThrough(wake_pipe[1]);
}

bool OsInputWaitWoken() {
    return input_wait_woken.load();
}

int OsInputWakeDescriptor() {
    return wake_pipe[0];
}

void OsInterruptInputWait() {
    input_interrupted.store(true);
    WakeThrough(interrupt_pipe[1]);
}

void OsForgetInputInterrupt() {
    // Before every command: a byte left behind costs the next wait a turn,
    // not every command a system call.
    static_cast<void>(OsTakeInputInterrupt(false));
}

int OsInputInterruptDescriptor() {
    return interrupt_pipe[0];
}

bool OsTakeInputInterrupt(bool woken) {
    if (!woken && !input_interrupted.load()) {
        return false;
    }
    // The latch is set before the byte is written: a byte left behind wakes a
    // later wait, which drains it and goes on.
    Drain(interrupt_pipe[0]);
    return input_interrupted.exchange(false);
}

unsigned long long OsMonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000 +
           static_cast<unsigned long long>(now.tv_nsec) / 1000000;
}

bool OsReaderWentAway(int error) {
    return error == EPIPE;
}

OsTextPoint OsDecodeTextPoint(std::string_view text) {
    // The locale the environment names, for text only: the program's own
    // stays "C". Asked once; without it, text is ASCII.
    static const locale_t text_locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (text_locale == static_cast<locale_t>(0) || text.empty()) {
        return {};
    }
    const locale_t previous = uselocale(text_locale);
    std::mbstate_t state{};
    wchar_t character = 0;
    const std::size_t length = std::mbrtowc(&character, text.data(), text.size(), &state);
    uselocale(previous);
    if (length == 0 || length > text.size()) {
        return {};
    }
    return {length, static_cast<char32_t>(character)};
}
