// The file that keeps command lines from one session to the next,
// ~/.tunnelconsole_history, shared by every session in one home: each adds
// its own command lines at the end under a lock, and it is cut back to the
// last kHistoryEntries now and then. A file that is not one is never written.
// Any problem is one line on standard error, and the session goes on without
// the file.
#pragma once

#include <string_view>

// How many command lines the editor recalls, and the file keeps.
inline constexpr int kHistoryEntries = 1000;

// Finds the file in the home folder and hands each command line it keeps to
// `enter`, oldest first, NUL-terminated.
void LoadHistoryFile(void (*enter)(const char* line));

// Adds `line` at the end of the file, when there is one to keep.
void SaveHistoryLine(std::string_view line);
