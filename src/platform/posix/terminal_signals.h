// The signals a terminal sends the program while the line editor has it:
// Ctrl-\ ends the process, on a terminal put back as it was found; Ctrl-Z
// hands the terminal back to the shell as found, and takes the editor's modes
// again once the program is continued; the window may change size. The thread
// that reads keys is woken to draw the line again.
#pragma once

// Watches for the three from now on; `wake_descriptor` is written a byte
// after a return from the shell or a change of size. Safe in a handler.
void WatchTerminalSignals(int wake_descriptor);

// True once after the window changed size.
bool TakeTerminalResized();

// True once after the program was continued.
bool TakeTerminalResumed();
