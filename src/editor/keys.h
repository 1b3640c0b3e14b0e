// The keys the editor acts on, and the bindings that make them: the same
// control characters at a terminal and at a console, and a console's keys
// by name.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/os_terminal.h"

enum class KeyName : unsigned char {
    kNone,       // a key with no binding: consumed whole, does nothing
    kCharacter,  // `Key::Text()` is typed
    kEnter,
    kLeft,
    kRight,
    kHome,  // Home, Ctrl-A
    kEnd,   // End, Ctrl-E
    kWordLeft,
    kWordRight,
    kBackspace,
    kDelete,
    kEndOrDelete,  // Ctrl-D: the end of input on an empty line, else Delete
    kKillToEnd,    // Ctrl-K
    kKillToStart,  // Ctrl-U
    kEraseWord,    // Ctrl-W, Ctrl+Backspace
    kClear,        // Esc
    kUp,
    kDown,
    kSearch,  // Ctrl-R
    kCancel,  // Ctrl-G: leaves a search as it was before it
    kTab,
    kAbandon,       // Ctrl-C while a line is typed
    kRedrawAtTop,   // Ctrl-L
    kCursorReport,  // the terminal's answer to where its cursor is: `column`
};

// A key, and for kCharacter the bytes of one character in the text's
// encoding (one byte of a multi-byte character is never a key).
struct Key {
    KeyName name = KeyName::kNone;
    std::array<char, 4> bytes{};
    unsigned char length = 0;
    unsigned short column = 0;  // kCursorReport's, from 1

    std::string_view Text() const { return std::string_view(bytes.data(), length); }
};

constexpr Key CharacterKey(std::string_view character) {
    Key key{KeyName::kCharacter};
    for (const char byte : character.substr(0, key.bytes.size())) {
        key.bytes[key.length++] = byte;
    }
    return key;
}

constexpr Key NamedKey(KeyName name) {
    return Key{name};
}

// The key a control character (below 0x20) stands for; kNone for one
// without a binding.
KeyName ControlCharacterKey(unsigned char character);

// A console's key event as the editor takes it.
Key BindConsoleKey(const ConsoleKey& key);
