// Whether the run should end before its input does: a stop was requested
// (Ctrl-C, termination, hang-up; on Windows the console's control events) or
// standard output can no longer be written. Either ends the run as the end of
// input does: the command in progress finishes, the library is stopped once,
// the exit status is 0 (for a session that ends at the first failure, see
// StopRequestStatus and StandardStreamFailed).
#pragma once

// Clears the state and starts watching for stop requests and crashes, which
// write out the output still pending with `write_pending_output` (touching
// only what a signal handler may) first. Runs first, before anything is
// opened, so closed standard streams are replaced too.
void RunStateInit(void (*write_pending_output)());

// True once the run should end; checked between commands and between rounds
// of the stress test, and by every wait for input.
bool RunShouldEnd();

// Records a stop request, and `exit_status`, the status a session that ends
// at the first failure then ends with (POSIX: 128 plus the signal's number).
// Safe in a signal handler. False when one was already recorded: a second
// request ends the process at once.
bool NoteStopRequest(int exit_status);

// The status recorded with the stop request; 0 when there was none.
int StopRequestStatus();

// Records that writing standard output failed with `error` (an errno value).
// Any thread may call it. A reader that went away (EPIPE) ends the run
// silently; any other failure also says why on standard error.
void NoteOutputLost(int error);

// Records that reading standard input failed with `error` (an errno value),
// which ends the input: said once on standard error.
void NoteInputFailed(int error);

// True when standard output was closed when the run began: what it was
// to get goes to the null device.
bool StandardOutputWasClosed();

// True once standard input or output failed for another reason than a reader
// that went away: what the run was to read or write was lost.
bool StandardStreamFailed();

// Ctrl-C typed at the terminal or console that standard input is, while the
// command loop runs, interrupts what is in progress instead of ending the
// run: a line typed without the editor is dropped, a command stops at its
// next safe point, and the prompt comes back. Elsewhere, and from a pipe or
// a file, Ctrl-C stays a stop request.

// Whether standard input is a terminal or console, so that Ctrl-C may
// interrupt: otherwise the calls below have nothing to do, and a command
// loop reading a script skips them.
bool InterruptsPossible();

// From now on Ctrl-C interrupts; one that came before is forgotten, and so is
// a wait for input it would have ended. The command loop calls it before each
// command, so an interrupt belongs to one command only.
void AllowInterrupts();

// From now on Ctrl-C is a stop request again: the run is ending.
void DisallowInterrupts();

// True once Ctrl-C interrupted the command in progress. Ctrl-C again while
// it stops is the same request, said once on standard error; only while a
// library operation has not returned for a second since a Ctrl-C saw it
// does Ctrl-C end the process at once.
bool InterruptRequested();

// True when the command in progress should stop at this safe point: the run
// ends, or the command was interrupted.
bool CommandShouldStop();
