// What os_run_state.cpp shares with the other Windows files and the Windows
// tests.
//
// The event that OsWakeInputWait sets: a wait for standard input waits on it
// beside the input, so a stop request or lost output that arrives on any
// thread, even right before the wait begins, still ends the wait.
#pragma once

#include <windows.h>

// A manual-reset event, set from the request until the next run; null when
// it could not be made.
HANDLE OsInputWakeEvent();

// A manual-reset event that OsInterruptInputWait sets: a wait for console
// input waits on it too. Null when it could not be made.
HANDLE OsInputInterruptEvent();

// True once after OsInterruptInputWait: the interrupt is taken. `woken`: the
// event above was seen set; it is reset whatever the answer.
bool OsTakeInputInterrupt(bool woken);

// The handler of the console's control events that OsWatchStopRequests
// installs. Declared for the Windows tests: Wine's terminal console raises
// Ctrl-C only, so they give it the other events directly. Takes Ctrl-C,
// Ctrl-Break, close, log-off and shutdown as stop requests (Ctrl-C at a
// console while commands run as an interrupt, run_state.h); after close,
// log-off and shutdown it returns only once the run has ended.
BOOL WINAPI OsOnConsoleControl(DWORD event);
