// What a crash leaves behind: everything already printed reaches standard
// output, and one line on standard error says what was running. The
// platform's handler (a signal handler, an unhandled-exception filter) calls
// ReportCrash, then ends the process as the crash would have.
#pragma once

#include <string_view>

// Marks the library operation the program's thread is in; nullptr when it
// is in none.
void NoteLibraryOperation(const char* name);

// Writes out the pending output and the line "tunnelconsole: ended by
// <cause> in <operation>" (or "on a library thread", or neither when the
// program's thread was in no operation). Touches only what a signal handler
// may. `cause` is "signal SIGSEGV", "exception 0xC0000005" and the like.
void ReportCrash(std::string_view cause, bool on_program_thread);
