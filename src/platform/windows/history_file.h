// The file that keeps command lines from one session to the next,
// %APPDATA%\tunnelconsole\history, one command line a line, made with the
// rights of the profile folder it is in: its owner's. Each session adds its
// own lines at the end under a lock; it is cut back to the last
// kHistoryMostEntries now and then. Any problem is one line on standard
// error, and the session goes on without the file.
#pragma once

#include <string_view>

#include "console/line_editing.h"

// Finds the file and adds each command line it keeps to `command_history`.
void LoadHistoryFile(CommandHistory& command_history);

// Adds `line` at the end of the file, and now and then cuts the file back to
// its last kHistoryMostEntries lines, whichever session added them.
void SaveHistoryLine(std::string_view line);
