// What a crash leaves behind: everything already printed reaches standard
// output, and one line on standard error says what was running. The
// platform's handler (a signal handler, an unhandled-exception filter)
// reports the ending (platform/os_run_state.h), then ends the process as the
// crash would have.
#pragma once

#include <string_view>

// Marks the library operation the program's thread is in; nullptr when it
// is in none.
void NoteLibraryOperation(const char* name);

// Whether the program's thread is in a library operation, and a count that
// changes with every entry and return: the same count later means the same
// operation has not returned since. Safe in a signal handler.
struct LibraryOperationState {
    bool running = false;
    unsigned steps = 0;
};
LibraryOperationState CurrentLibraryOperation();

// Set once, before any handler may run: writes out the output still pending,
// touching only what a signal handler may.
void SetPendingOutputWriter(void (*write_pending_output)());

// The process is ending by `cause`: writes out the pending output and, for a
// crash, the line ReportCrash writes.
void ReportEnding(std::string_view cause, bool crash, bool on_program_thread);

// Writes out the pending output and the line "tunnelconsole: ended by
// <cause> in <operation>" (or "on a library thread", or neither when the
// program's thread was in no operation). Touches only what a signal handler
// may. `cause` is "signal SIGSEGV", "exception 0xC0000005" and the like.
void ReportCrash(std::string_view cause, bool on_program_thread);
