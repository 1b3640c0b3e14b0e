// The events a wait for standard input waits on beside the input: set by
// stop requests and Ctrl-C (os_run_state.cpp), waited on by the readers of
// standard input (os_console.cpp) and of the console's keys (os_terminal.cpp).
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
