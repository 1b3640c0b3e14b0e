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

// The handler of the console's control events that OsWatchStopRequests
// installs. Declared for the Windows tests: Wine's terminal console raises
// Ctrl-C only, so they give it the other events directly. Takes Ctrl-C,
// Ctrl-Break, close, log-off and shutdown as stop requests; after the last
// three it returns only once the run has ended.
BOOL WINAPI OsOnConsoleControl(DWORD event);
