// The code pages of the console the program runs in, if any.
#pragma once

// Sets the console's input and output code pages to the ANSI code page, the
// one the library and config.ini use, so a typed character reaches the
// library as the same byte. Restored by RestoreConsoleCodePages, which also
// runs at exit. Without a console (the windowed program) it does nothing.
void UseAnsiCodePageOnConsole();

// Gives the console back the code pages it had. Safe to call more than once
// and from any thread; also before a process ends without running exit.
void RestoreConsoleCodePages();
