// The session's end (signing out, shutting down) for both Windows programs:
// a console program that loads user32, and a windowed one, get no console
// event for it, only the messages a top-level window gets. A hidden window
// on a thread of its own answers them, so the run ends with the library
// stopped before the session ends the process.
#pragma once

#include <windows.h>

// Once per process: starts the thread and its window. On WM_ENDSESSION that
// ends the session, calls `end_the_run` and holds the session's end until
// `run_ended` is set. Where no window can be made (no desktop), nothing is
// said and the run goes on as without it.
void WatchSessionEnd(void (*end_the_run)(), HANDLE run_ended);

// Before the process ends, on every way out (a crash too): waits, briefly,
// until the window is made or found impossible.
void AwaitSessionWindowSettled();

// The window's procedure. Declared for the Windows tests, which give it the
// session's messages where the emulator cannot end a session.
LRESULT CALLBACK OnSessionEndMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
