// The command lines typed before, and where Up and Down have led among them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "editor/edited_line.h"

// The command lines typed before, oldest first: a command repeated at once
// is kept once, and only the last kHistoryMostEntries are kept.
constexpr std::size_t kHistoryMostEntries = 1000;

struct CommandHistory {
    // NUL-terminated, in a ring that starts at `oldest`.
    std::array<std::array<char, kCommandLineCapacity>, kHistoryMostEntries> entries{};
    std::size_t oldest = 0;
    std::size_t count = 0;
};

// Adds `text`; false when it is not added (the same as the newest entry,
// empty, or longer than a line).
bool HistoryAdd(CommandHistory& history, std::string_view text);
// Adds `text` before the oldest entry, for a history read from its newest
// end; false once the history is full, when nothing more is added. An entry
// the same as the oldest is kept once, as HistoryAdd keeps it.
bool HistoryAddOlder(CommandHistory& history, std::string_view text);
// The entry `back` places from the end: 1 is the newest, `count` the oldest.
std::string_view HistoryEntry(const CommandHistory& history, std::size_t back);

// Where Up and Down have led within the history while a line is typed: 0 is
// the line being typed, kept aside in `typed` while an entry is shown.
struct HistoryPosition {
    std::size_t back = 0;
    EditedLine typed{};
};

// Up (`older`) or Down: replaces `line` with the entry reached; false at the
// oldest entry or back at the typed line.
bool HistoryStep(const CommandHistory& history, HistoryPosition& position, EditedLine& line,
                 bool older);
