// The terminal's modes as the program found them. The line editor changes
// them while it waits for a key; they are put back after each line and on
// every way out, a signal that ends the process included.
#pragma once

// Remembers the modes of standard input's terminal. False when it is none.
bool SaveTerminalModes();

// Puts the remembered modes back; nothing when none were saved. Safe in a
// signal handler.
void RestoreTerminalModes();
