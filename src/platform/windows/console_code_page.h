// The code pages of the console the program runs in, if any.
#pragma once

#include <windows.h>

// Sets the console's input and output code pages to the ANSI code page, the
// one the library and config.ini use, so a typed character reaches the
// library as the same byte. Restored by RestoreConsoleCodePages, which also
// runs at exit. Without a console (the windowed program) it does nothing.
void UseAnsiCodePageOnConsole();

// Gives the console back the code pages it had. Safe to call more than once
// and from any thread; also before a process ends without running exit.
void RestoreConsoleCodePages();

// A character typed at the console, in the ANSI code page; false when that
// code page does not spell it in one byte (no best fit is taken).
bool AnsiCharacter(WCHAR typed, char* converted);
