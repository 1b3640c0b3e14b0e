// What a line editor keeps, apart from keys and the screen: the typed line
// and its cursor, the command lines typed before, and the completion of
// command names. Text is bytes of the program's code page, one byte a
// character.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

// The longest line typed, terminator included: wider than any field, so a
// field typed longer than its room is seen to be, and cut with a note.
constexpr std::size_t kEditedLineCapacity = 1024;

// As long as the command line the loop reads, terminator included: the
// longest line the history keeps.
constexpr std::size_t kCommandLineCapacity = 256;

struct EditedLine {
    std::array<char, kEditedLineCapacity> text{};
    std::size_t length = 0;
    std::size_t cursor = 0;  // 0 to length
};

std::string_view LineText(const EditedLine& line);
// Each returns false, changing nothing, when the key has nothing to do.
bool LineInsert(EditedLine& line, std::string_view typed);  // false when it does not all fit
bool LineClear(EditedLine& line);
// Replaces the line, with the cursor at its end.
void LineReplace(EditedLine& line, std::string_view text);

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

// Tab: the command names that start with the text before the cursor, and
// the text the line grows by, the longest start they all share.
struct Completion {
    int matches = 0;
    std::string_view added;  // within one of the names
};
Completion CompleteCommandName(std::string_view start, std::span<const std::string_view> names);

// The names that start with `start`, two spaces apart, in lines of at most
// `columns` cells, each ending in CR LF; returns the bytes stored (cut at the
// capacity of `listed`).
std::size_t ListCommandNames(std::string_view start, std::span<const std::string_view> names,
                             int columns, std::span<char> listed);

// A line an editor read, handed on under the text rules: a byte 0x1A ends
// the input (`ended` is set), after the text before it. The text is copied
// into `line`, NUL-terminated and cut to its capacity less one. nullopt when
// nothing comes before the 0x1A.
std::optional<std::string_view> TakeTypedLine(std::string_view text, std::span<char> line,
                                              bool& ended);

// Whether `text` is one of `names`, as the command table compares them.
bool NamesCommand(std::string_view text, std::span<const std::string_view> names);
