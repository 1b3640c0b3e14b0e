// The operating system's side of run_state.h: stop requests and the ways a
// process ends, as the platform delivers them.
#pragma once

#include <string_view>

// Opens the null device on any of standard input, output and error that is
// closed, so no file opened later takes its place. True when standard output
// was one of them.
bool OsOpenMissingStandardStreams();

// What Ctrl-C typed at the terminal or console that standard input is came
// to (see AllowInterrupts in run/run_state.h).
enum class OsInterrupt {
    kTaken,     // it interrupts what is in progress
    kAgain,     // one more while a library operation holds the first: the process ends at once
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
// and that end the process at once on a second request. True when standard
// input is a terminal or console, whose Ctrl-C may interrupt.
bool OsWatchStopRequests(OsRunEvents events);

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

// A clock that only goes forward, in milliseconds. Safe in a signal handler.
unsigned long long OsMonotonicMilliseconds();

// Whether a write that failed with `error` (an errno value), just now on
// this thread, failed because the reader of the pipe went away.
bool OsReaderWentAway(int error);

// One character of text from outside the program (an argument, a line read,
// a file's name, a library's text) as a note on standard error is to show
// it: in the encoding the program's text is in (the locale's, or the ANSI
// code page's), the bytes it spans and its code point. `bytes` is 0 when the
// first byte starts no whole character of that encoding.
struct OsTextPoint {
    std::size_t bytes = 0;
    char32_t code = 0;
};
OsTextPoint OsDecodeTextPoint(std::string_view text);
