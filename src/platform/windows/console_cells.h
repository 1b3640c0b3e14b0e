// How many cells the console draws a character in, as the console itself
// answers: measured on a screen buffer that is never shown, the first time
// the character is typed or drawn, and kept in a bounded table.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/os_terminal.h"

// The cells a character (one UTF-16 unit, or a surrogate pair) takes after
// a character already on the row, or -1 when it could not be measured.
using MeasureCells = int (*)(std::wstring_view character);

// Characters measured, by code; a character whose slot another took is
// measured again. Code 0 marks a free slot.
struct CellCache {
    static constexpr std::size_t kSlots = 512;
    MeasureCells measure = nullptr;
    std::array<char32_t, kSlots> codes{};
    std::array<unsigned char, kSlots> cells{};
};

// The character's cells from `cache`, measured when it is not there; where
// measuring fails, a table of East Asian wide characters and combining marks
// answers instead.
std::size_t CachedCells(CellCache& cache, std::wstring_view character);

// Starts measuring on the console's hidden screen buffer, for the ANSI code
// page `code_page` that typed text is spelled in. Without it (or when the
// buffer cannot be made) the table answers.
void StartMeasuringCells(UINT code_page);

// OsTextCharacter for the console: the character `text` starts with in the
// code page, and its cells.
TextCharacter ConsoleTextCharacter(std::string_view text);
