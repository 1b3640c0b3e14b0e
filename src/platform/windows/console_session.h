// What the console's side of the editor (os_terminal.cpp) shares with the
// stop requests (os_run_state.cpp) and the Windows tests: the console's
// modes given back on every way out, a crash and a second Ctrl-C included,
// Ctrl-C taken as a key, and the wake of a console read.
#pragma once

#include <windows.h>

// The console's input and output modes the editor set, given back. Safe to
// call more than once and from any thread.
void RestoreConsoleInputMode();

// The modes the editor sets for a session, from the ones it found.
DWORD EditingInputMode(DWORD saved);
DWORD EditingOutputMode(DWORD saved);

// From the console control handler: a Ctrl-C that comes as an event while a
// line is typed abandons the line, as the key does. True when it was taken so.
bool TakeCtrlCAsKey();

// Puts an event of no consequence into the console's input, so that a read
// of it in progress returns: for every waker of the editor's wait. Safe from
// any thread; does nothing before the editor starts. Those no read took are
// taken off the input when the program ends.
void WakeConsoleRead();

// Takes up to `most` focus events off the console's input, so that the next
// program reading it does not get them; the events around them stay, in
// their order.
void TakeFocusEventsOff(HANDLE console_input, LONG most);
