// The handler of the console's control events that OsWatchStopRequests
// installs. Declared for the Windows tests: Wine's terminal console raises
// Ctrl-C only, so they give it the other events directly.
#pragma once

#include <windows.h>

// Takes Ctrl-C, Ctrl-Break, close, log-off and shutdown as stop requests;
// after the last three it returns only once the run has ended.
BOOL WINAPI OsOnConsoleControl(DWORD event);
