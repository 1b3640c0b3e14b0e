// The code pages of the console the program runs in, if any.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string_view>

// Sets the console's input code page to the ANSI code page, the one the
// library and config.ini use, when standard input is the console, and its
// output code page when standard output is: a console shared with the other
// programs of a pipeline keeps the code pages they print with. Says on
// standard error when one cannot be set. Restored by RestoreConsoleCodePages,
// which also runs at exit. Without a console (the windowed program) it does
// nothing.
void UseAnsiCodePageOnConsole();

struct ConsoleCodePages {
    UINT input = 0;  // 0: no console
    UINT output = 0;
};
struct ConsoleCodePagePlan {
    bool set_input = false;
    bool set_output = false;
};
// Which of the console's code pages UseAnsiCodePageOnConsole changes.
ConsoleCodePagePlan PlanConsoleCodePages(const ConsoleCodePages& now, bool input_is_console,
                                         bool output_is_console, UINT ansi);

// Gives the console back the code pages it had. Safe to call more than once
// and from any thread; also before a process ends without running exit.
void RestoreConsoleCodePages();

// How WideCharToMultiByte is called for `code_page`: some code pages refuse
// every flag, and UTF-8 and UTF-7 also a used-default pointer, failing the
// call.
struct WideToCodePageCall {
    DWORD flags = 0;
    bool asks_used_default = false;
};
WideToCodePageCall WideToCodePageCallFor(UINT code_page);

// One character typed at the console (a UTF-16 unit, a surrogate pair, or a
// letter with its marks) spelled in `code_page`: the bytes stored in
// `spelled`, or 0 when that code page has no spelling of it (no best fit is
// taken: what is spelled must read back as the character, composed or not).
// A letter the code page writes as a letter and a mark is spelled so.
std::size_t SpellInCodePage(UINT code_page, std::wstring_view character,
                            std::span<char, 4> spelled);

// The most bytes a UTF-16 unit of a line becomes in a code page (UTF-8:
// three; a letter written with its mark: two).
inline constexpr std::size_t kMostBytesPerUnit = 3;

// A line read from the console in UTF-16, spelled in `code_page` character
// by character, each letter with its marks where the code page can; what it
// cannot spell becomes '?'. Returns the bytes stored, which stop where
// `bytes` is full.
std::size_t SpellLineInCodePage(UINT code_page, std::wstring_view line, std::span<char> bytes);
