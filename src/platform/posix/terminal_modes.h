// The terminal's modes as the program found them. The line editor changes
// them for the whole run; they are put back on every way out, a signal that
// ends the process included, and while the program is suspended.
#pragma once

// Remembers the modes of standard input's terminal. False when it is none.
bool SaveTerminalModes();

// Puts the remembered modes back; nothing when none were saved. Safe in a
// signal handler.
void RestoreTerminalModes();
