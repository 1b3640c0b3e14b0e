// The console's input mode, which the line editor changes (os_terminal.cpp):
// given back on every way out, a crash and a second Ctrl-C included.
#pragma once

// Safe to call more than once and from any thread.
void RestoreConsoleInputMode();

// From the console control handler: a Ctrl-C that comes as an event while a
// line is typed abandons the line, as the key does. True when it was taken so.
bool TakeCtrlCAsKey();

// Puts an event of no consequence into the console's input, so that a read
// of it in progress returns: for every waker of the editor's wait. Safe from
// any thread; does nothing before the editor starts.
void WakeConsoleRead();
