// The operating system's side of run_state.h: stop requests and the ways a
// process ends, as the platform delivers them.
#pragma once

#include <string_view>

// Opens the null device on any of standard input, output and error that is
// closed, so no file opened later takes its place.
void OsOpenMissingStandardStreams();

// What Ctrl-C typed at the terminal or console that standard input is came
// to (see AllowInterrupts in run/run_state.h).
enum class OsInterrupt {
    kTaken,     // it interrupts what is in progress
    kAgain,     // a second one while the first is served: the process ends at once
    kNotTaken,  // it is a stop request
};

// What the handlers report, as it happens. Both run in a signal handler or
// on a thread of the system's, and touch only what a signal handler may.
struct OsRunEvents {
    // A stop request (Ctrl-C, termination, hang-up, a console's close), with
    // the status a session ended by it ends with. False when one was already
    // recorded: the process then ends at once, as the request would have.
    bool (*stop_requested)(int exit_status);
    // Ctrl-C typed at the terminal or console that standard input is.
    OsInterrupt (*interrupted)();
    // The process is ending by `cause` ("signal SIGSEGV", "exception
    // 0xC0000005"): a crash of the program or the library when `crash`, on
    // the program's own thread or not.
    void (*ending)(std::string_view cause, bool crash, bool on_program_thread);
};

// Installs the handlers that report stop requests and endings to `events`,
// and that end the process at once on a second request.
void OsWatchStopRequests(OsRunEvents events);

// Makes a wait for standard input that is in progress, or the next one,
// return at once, until the next OsWatchStopRequests. Safe in a signal
// handler and from any thread.
void OsWakeInputWait();

// True once OsWakeInputWait was called: reading standard input gives its end.
bool OsInputWaitWoken();

// Makes a wait for standard input that is in progress, or the next one,
// return kOsInputInterrupted (os_console.h) once, with what the terminal or
// console holds of the line typed dropped. Safe in a signal handler and from
// any thread.
void OsInterruptInputWait();

// Forgets an OsInterruptInputWait that no wait took.
void OsForgetInputInterrupt();

// Whether a write that failed with `error` (an errno value), just now on
// this thread, failed because the reader of the pipe went away.
bool OsReaderWentAway(int error);
