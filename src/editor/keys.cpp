#include "editor/keys.h"

KeyName ControlCharacterKey(unsigned char character) {
    switch (character) {
        case 0x01:
            return KeyName::kHome;
        case 0x02:
            return KeyName::kLeft;
        case 0x03:
            return KeyName::kAbandon;
        case 0x04:
            return KeyName::kEndOrDelete;
        case 0x05:
            return KeyName::kEnd;
        case 0x06:
            return KeyName::kRight;
        case 0x07:
            return KeyName::kCancel;
        case 0x08:
            return KeyName::kBackspace;
        case 0x09:
            return KeyName::kTab;
        case 0x0a:
        case 0x0d:
            return KeyName::kEnter;
        case 0x0b:
            return KeyName::kKillToEnd;
        case 0x0c:
            return KeyName::kRedrawAtTop;
        case 0x0e:
            return KeyName::kDown;
        case 0x10:
            return KeyName::kUp;
        case 0x12:
            return KeyName::kSearch;
        case 0x15:
            return KeyName::kKillToStart;
        case 0x17:
            return KeyName::kEraseWord;
        case 0x1b:
            return KeyName::kClear;
        default:
            return KeyName::kNone;
    }
}

Key BindConsoleKey(const ConsoleKey& key) {
    const bool word = key.ctrl || key.alt;
    switch (key.code) {
        case ConsoleKeyCode::kLeft:
            return NamedKey(word ? KeyName::kWordLeft : KeyName::kLeft);
        case ConsoleKeyCode::kRight:
            return NamedKey(word ? KeyName::kWordRight : KeyName::kRight);
        case ConsoleKeyCode::kHome:
            return NamedKey(KeyName::kHome);
        case ConsoleKeyCode::kEnd:
            return NamedKey(KeyName::kEnd);
        case ConsoleKeyCode::kDelete:
            return NamedKey(KeyName::kDelete);
        case ConsoleKeyCode::kUp:
            return NamedKey(KeyName::kUp);
        case ConsoleKeyCode::kDown:
            return NamedKey(KeyName::kDown);
        case ConsoleKeyCode::kEscape:
            return NamedKey(KeyName::kClear);
        case ConsoleKeyCode::kBackspace:
            return NamedKey(key.ctrl ? KeyName::kEraseWord : KeyName::kBackspace);
        case ConsoleKeyCode::kAbandon:
            return NamedKey(KeyName::kAbandon);
        case ConsoleKeyCode::kCharacter:
            break;
    }
    const std::string_view typed = std::string_view(key.bytes.data(), key.length);
    if (typed.size() != 1) {
        return CharacterKey(typed);
    }
    const auto byte = static_cast<unsigned char>(typed[0]);
    // Ctrl-Z ends the input once Enter follows, as a 0x1A byte does in a file.
    if (byte == 0x1a) {
        return CharacterKey(typed);
    }
    // Ctrl+Backspace, as some consoles deliver it.
    if (byte == 0x7f) {
        return NamedKey(KeyName::kEraseWord);
    }
    if (byte < 0x20) {
        return NamedKey(ControlCharacterKey(byte));
    }
    // Alt with a letter, as a terminal's Esc and the letter: Alt-b and Alt-f
    // move by words. Ctrl with Alt is AltGr, which types characters.
    if (key.alt && !key.ctrl) {
        return NamedKey(byte == 'b'   ? KeyName::kWordLeft
                        : byte == 'f' ? KeyName::kWordRight
                                      : KeyName::kNone);
    }
    return CharacterKey(typed);
}
