// What os_run_state.cpp shares with the Windows tests; the input's wait
// events, which it shares with the other Windows files too.
#pragma once

#include <windows.h>

#include "platform/windows/input_wait_events.h"

// The handler of the console's control events that OsWatchStopRequests
// installs. Declared for the Windows tests: Wine's terminal console raises
// Ctrl-C only, so they give it the other events directly. Takes Ctrl-C,
// Ctrl-Break, close, log-off and shutdown as stop requests (Ctrl-C at a
// console while commands run as an interrupt, run_state.h); after close,
// log-off and shutdown it returns only once the run has ended.
BOOL WINAPI OsOnConsoleControl(DWORD event);
