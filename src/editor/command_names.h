// The command names at the command prompt: Tab's completion, the list of
// the names a start leaves, and whether a line names a command.
#pragma once

#include <span>
#include <string_view>

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

// Whether `text` is one of `names`, as the command table compares them.
bool NamesCommand(std::string_view text, std::span<const std::string_view> names);
