// The pipes a wait for standard input polls beside the input: written by
// stop requests and Ctrl-C (os_run_state.cpp), polled by the readers of
// standard input (os_console.cpp) and of the terminal's keys (os_terminal.cpp).
//
// The pipe that OsWakeInputWait writes to: a wait for standard input polls its
// read end beside standard input, so a stop request that arrives on any thread,
// even right before the wait begins, still ends the wait.
#pragma once

// The read end, or -1 when the pipe could not be made.
int OsInputWakeDescriptor();

// The read end of the pipe that OsInterruptInputWait writes to, or -1.
int OsInputInterruptDescriptor();

// True once after OsInterruptInputWait: the interrupt is taken. `woken`: the
// pipe above was seen readable; its bytes go whatever the answer.
bool OsTakeInputInterrupt(bool woken);
