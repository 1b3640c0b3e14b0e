// Drawing the line being typed on the console (OsTerminalDraw).
#pragma once

#include <windows.h>

#include "platform/os_terminal.h"

void StartDrawing(HANDLE console_output);

// A new line begins: nothing of it is on the screen yet.
void ForgetDrawnLine();

void RingBell();

// The width of the console's screen buffer in cells.
int ConsoleColumns();
