// The console's key events as the editor's keys: a character in the ANSI
// code page's bytes, whole with its marks, or a named key with its modifiers.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "platform/os_terminal.h"

// What the keys before the next event leave behind: the first half of a
// character outside the Basic Multilingual Plane, and the character typed
// last, which a mark typed next joins.
struct KeyDecoder {
    UINT code_page = CP_ACP;
    WCHAR high_surrogate = 0;
    std::array<WCHAR, 6> last{};
    std::size_t last_length = 0;
};

// The keys one event makes: none (a key-up, a shift key alone, half a
// character), one, or two when a mark joins the character typed before it
// (Backspace, then the letter with its mark). `unspelled`: a character the
// code page cannot spell, for which the bell sounds.
struct DecodedKeys {
    std::array<ConsoleKey, 2> keys{};
    std::size_t count = 0;
    bool unspelled = false;
};

DecodedKeys DecodeKeyEvent(KeyDecoder& decoder, const KEY_EVENT_RECORD& event);
