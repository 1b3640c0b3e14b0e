// The file that keeps command lines from one session to the next, on both
// platforms (its place: os_history_file.h). It starts with the line
// "_HiStOrY_V2_", then one command line a line, LF (a CR before it is
// dropped on reading), the oldest first. Every session in one home shares
// it: each reads it under a shared lock and adds its own command lines at
// the end under an exclusive one, and the file is cut back in place to its
// last kHistoryMostEntries lines at the first save of a session that finds
// it longer, and again once sessions added kHistorySlack more. Both read it
// from its end, only as far as the kept lines need. A line longer than a
// command line is dropped on reading. Field values never reach it: only
// command lines are saved. A file that is not one is never written; any
// problem, a lock another session holds past kHistoryLockMilliseconds
// included, is one line on standard error, and the session goes on without
// the file.
#pragma once

#include <string_view>

#include "editor/command_history.h"

inline constexpr std::size_t kHistorySlack = 100;
inline constexpr int kHistoryLockMilliseconds = 1000;

// Finds the file and adds the last command lines it keeps to `history`;
// with `utf8`, only those that are well-formed UTF-8.
void LoadHistoryFile(CommandHistory& history, bool utf8);

// Adds `line` at the end of the file, when there is one to keep.
void SaveHistoryLine(std::string_view line);
