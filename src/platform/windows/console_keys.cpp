#include "platform/windows/console_keys.h"

#include <string_view>

#include "platform/windows/console_code_page.h"

namespace {

bool IsHighSurrogate(WCHAR unit) {
    return unit >= 0xd800 && unit <= 0xdbff;
}

bool IsLowSurrogate(WCHAR unit) {
    return unit >= 0xdc00 && unit <= 0xdfff;
}

constexpr struct {
    WORD virtual_key;
    ConsoleKeyCode code;
} kNamedKeys[] = {
    {VK_LEFT, ConsoleKeyCode::kLeft},
    {VK_RIGHT, ConsoleKeyCode::kRight},
    {VK_HOME, ConsoleKeyCode::kHome},
    {VK_END, ConsoleKeyCode::kEnd},
    {VK_DELETE, ConsoleKeyCode::kDelete},
    {VK_UP, ConsoleKeyCode::kUp},
    {VK_DOWN, ConsoleKeyCode::kDown},
    {VK_ESCAPE, ConsoleKeyCode::kEscape},  // Wine's console gives it no character
    {VK_BACK, ConsoleKeyCode::kBackspace},
};

bool NamedKey(WORD virtual_key, ConsoleKeyCode& code) {
    for (const auto& named : kNamedKeys) {
        if (named.virtual_key == virtual_key) {
            code = named.code;
            return true;
        }
    }
    return false;
}

bool Spell(KeyDecoder& decoder, std::wstring_view character, ConsoleKey& key) {
    key.length =
        static_cast<unsigned char>(SpellInCodePage(decoder.code_page, character, key.bytes));
    if (key.length == 0) {
        return false;
    }
    decoder.last_length = character.copy(decoder.last.data(), decoder.last.size());
    return true;
}

// A character: its bytes; a mark the code page spells only with the letter
// before it, Backspace and the two as one; none the code page cannot spell.
DecodedKeys DecodeCharacter(KeyDecoder& decoder, std::wstring_view typed, const ConsoleKey& as) {
    DecodedKeys decoded;
    decoded.keys[0] = as;
    if (typed.size() == 1 && typed[0] < 0x80) {
        decoded.keys[0].bytes[0] = static_cast<char>(typed[0]);
        decoded.keys[0].length = 1;
        decoded.count = 1;
        decoder.last_length = typed.copy(decoder.last.data(), decoder.last.size());
        return decoded;
    }
    if (Spell(decoder, typed, decoded.keys[0])) {
        decoded.count = 1;
        return decoded;
    }
    std::array<WCHAR, 8> joined{};
    const std::size_t before = decoder.last_length;
    if (before > 0 && before + typed.size() <= joined.size()) {
        std::wstring_view(decoder.last.data(), before).copy(joined.data(), before);
        typed.copy(joined.data() + before, typed.size());
        if (Spell(decoder, {joined.data(), before + typed.size()}, decoded.keys[1])) {
            decoded.keys[0] = {};
            decoded.keys[0].code = ConsoleKeyCode::kBackspace;
            decoded.count = 2;
            return decoded;
        }
    }
    decoder.last_length = 0;
    decoded.unspelled = true;
    return decoded;
}

}  // namespace

// A character that comes on Alt's key-up (Alt and the keypad's digits, a
// pasted character the layout lacks) is taken.
DecodedKeys DecodeKeyEvent(KeyDecoder& decoder, const KEY_EVENT_RECORD& event) {
    const WCHAR character = event.uChar.UnicodeChar;
    ConsoleKey key;
    if (!event.bKeyDown) {
        if (event.wVirtualKeyCode != VK_MENU || character == 0) {
            return {};
        }
    } else {
        key.ctrl = (event.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
        key.alt = (event.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
        if (NamedKey(event.wVirtualKeyCode, key.code)) {
            decoder.last_length = 0;
            return {{key}, 1};
        }
        if (character == 0) {
            return {};
        }
    }
    if (IsHighSurrogate(character)) {
        decoder.high_surrogate = character;
        return {};
    }
    const WCHAR units[] = {decoder.high_surrogate, character};
    const bool pair = decoder.high_surrogate != 0 && IsLowSurrogate(character);
    decoder.high_surrogate = 0;
    if (IsLowSurrogate(character) && !pair) {
        return {};  // half a character whose first half was lost
    }
    return DecodeCharacter(
        decoder, pair ? std::wstring_view(units, 2) : std::wstring_view(units + 1, 1), key);
}
