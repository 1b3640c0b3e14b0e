// The code pages of the console the program runs in, if any.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string_view>

// Sets the console's input and output code pages to the ANSI code page, the
// one the library and config.ini use, so a typed character reaches the
// library as the same byte. Restored by RestoreConsoleCodePages, which also
// runs at exit. Without a console (the windowed program) it does nothing.
void UseAnsiCodePageOnConsole();

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

// One character typed at the console (a UTF-16 unit, or a surrogate pair)
// spelled in `code_page`: the bytes stored in `spelled`, or 0 when that code
// page has no spelling of it (no best fit is taken: what is spelled must
// read back as the character).
std::size_t SpellInCodePage(UINT code_page, std::wstring_view character,
                            std::span<char, 4> spelled);
