// The operating system's side of run_state.h.
#pragma once

// Opens the null device on any of standard input, output and error that is
// closed, so no file opened later takes its place.
void OsOpenMissingStandardStreams();

// Installs the handlers that turn the platform's stop requests into
// NoteStopRequest, and that end the process at once on a second request.
void OsWatchStopRequests();

// Makes a wait for standard input that is in progress, or the next one,
// return at once. Safe in a signal handler and from any thread.
void OsWakeInputWait();

// Whether a write that failed with `error` (an errno value), just now on
// this thread, failed because the reader of the pipe went away.
bool OsReaderWentAway(int error);
