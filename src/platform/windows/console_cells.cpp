#include "platform/windows/console_cells.h"

#include <algorithm>
#include <span>

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

// What a terminal does, for when the console cannot be asked: East Asian
// wide and fullwidth characters take two cells, combining marks none.
constexpr CodeRange kWideRanges[] = {
    {0x1100, 0x115f}, {0x2e80, 0x303e},   {0x3041, 0x33ff},   {0x3400, 0x4dbf},   {0x4e00, 0x9fff},
    {0xa000, 0xa4cf}, {0xac00, 0xd7a3},   {0xf900, 0xfaff},   {0xfe30, 0xfe4f},   {0xff00, 0xff60},
    {0xffe0, 0xffe6}, {0x1f300, 0x1f64f}, {0x1f900, 0x1f9ff}, {0x20000, 0x3fffd},
};

constexpr CodeRange kCombiningRanges[] = {
    {0x0300, 0x036f}, {0x0483, 0x0489}, {0x0591, 0x05bd}, {0x0610, 0x061a},
    {0x064b, 0x065f}, {0x0e31, 0x0e31}, {0x0e34, 0x0e3a}, {0x0e47, 0x0e4e},
    {0x1ab0, 0x1aff}, {0x1dc0, 0x1dff}, {0x200b, 0x200f}, {0x20d0, 0x20ff},
    {0x302a, 0x302f}, {0x3099, 0x309a}, {0xfe00, 0xfe0f}, {0xfe20, 0xfe2f},
};

bool InRanges(char32_t code, std::span<const CodeRange> ranges) {
    return std::any_of(ranges.begin(), ranges.end(), [code](const CodeRange& range) {
        return code >= range.first && code <= range.last;
    });
}

std::size_t TableCells(char32_t code) {
    return InRanges(code, kCombiningRanges) ? 0 : InRanges(code, kWideRanges) ? 2 : 1;
}

char32_t CodeOf(std::wstring_view character) {
    if (character.size() == 2) {
        return 0x10000 + ((static_cast<char32_t>(character[0]) - 0xd800) << 10) +
               (static_cast<char32_t>(character[1]) - 0xdc00);
    }
    return character.empty() ? 0 : character[0];
}

HANDLE hidden = INVALID_HANDLE_VALUE;
UINT code_page = CP_ACP;

// Written after a blank at the start of the hidden buffer: where the cursor
// ends tells the cells, a mark joined to the blank included.
int MeasureOnHiddenBuffer(std::wstring_view character) {
    std::array<WCHAR, 3> units{L' '};
    const std::size_t count = character.copy(units.data() + 1, 2) + 1;
    DWORD written = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (hidden == INVALID_HANDLE_VALUE || !SetConsoleCursorPosition(hidden, {0, 0}) ||
        !WriteConsoleW(hidden, units.data(), static_cast<DWORD>(count), &written, nullptr) ||
        written != count || !GetConsoleScreenBufferInfo(hidden, &info) ||
        info.dwCursorPosition.Y != 0 || info.dwCursorPosition.X < 1) {
        return -1;
    }
    return info.dwCursorPosition.X - 1;
}

CellCache console_cells{MeasureOnHiddenBuffer};

}  // namespace

std::size_t CachedCells(CellCache& cache, std::wstring_view character) {
    const char32_t code = CodeOf(character);
    const std::size_t slot = code % CellCache::kSlots;
    if (code != 0 && cache.codes[slot] == code) {
        return cache.cells[slot];
    }
    const int measured = cache.measure != nullptr ? cache.measure(character) : -1;
    if (measured < 0 || measured > 2) {
        return TableCells(code);
    }
    cache.codes[slot] = code;
    cache.cells[slot] = static_cast<unsigned char>(measured);
    return static_cast<std::size_t>(measured);
}

void StartMeasuringCells(UINT ansi_code_page) {
    code_page = ansi_code_page;
    if (hidden == INVALID_HANDLE_VALUE) {
        hidden = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
    }
}

TextCharacter ConsoleTextCharacter(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    std::size_t bytes = 1;
    if (code_page == CP_UTF8) {
        const auto lead = static_cast<unsigned char>(text[0]);
        bytes = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    } else if (IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[0]))) {
        bytes = 2;
    }
    // A character cut off by the text's end runs to its end, so a cut at a
    // field's room never keeps part of it.
    if (bytes > text.size()) {
        return {text.size(), 1};
    }
    WCHAR units[2];
    const int count = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(bytes), units, 2);
    if (count <= 0) {
        return {};
    }
    return {bytes, CachedCells(console_cells, {units, static_cast<std::size_t>(count)})};
}
