// The pipe that OsWakeInputWait writes to: a wait for standard input polls its
// read end beside standard input, so a stop request that arrives on any thread,
// even right before the wait begins, still ends the wait.
#pragma once

// The read end, or -1 when the pipe could not be made.
int OsInputWakeDescriptor();
