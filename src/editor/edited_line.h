// The typed line and its cursor, as bytes of the text's encoding; where its
// characters start is the editing model's to say.
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

// A line an editor read, handed on under the text rules: a byte 0x1A ends
// the input (`ended` is set), after the text before it. The text is copied
// into `line`, NUL-terminated and cut to its capacity less one. nullopt when
// nothing comes before the 0x1A.
std::optional<std::string_view> TakeTypedLine(std::string_view text, std::span<char> line,
                                              bool& ended);
