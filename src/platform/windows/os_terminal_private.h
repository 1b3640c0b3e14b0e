// The console's input mode, which the line editor changes (os_terminal.cpp):
// given back on every way out, a crash and a second Ctrl-C included.
#pragma once

// Safe to call more than once and from any thread.
void RestoreConsoleInputMode();

// From the console control handler: a Ctrl-C that comes as an event while a
// line is typed abandons the line, as the key does. True when it was taken so.
bool TakeCtrlCAsKey();
