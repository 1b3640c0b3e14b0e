#include "editor/vt_key_decoder.h"

#include <string_view>

#include "text/unicode_text.h"

namespace {

// ESC [ parameters final: the arrows, Home and End in their spellings, and
// Ctrl or Alt with Left and Right (a modifier of 3 or 5).
KeyName ControlSequenceKey(std::string_view parameters, char final_byte) {
    const bool word =
        parameters == "1;5" || parameters == "1;3" || parameters == "5" || parameters == "3";
    switch (final_byte) {
        case 'A':
            return parameters.empty() ? KeyName::kUp : KeyName::kNone;
        case 'B':
            return parameters.empty() ? KeyName::kDown : KeyName::kNone;
        case 'C':
            return parameters.empty() ? KeyName::kRight
                   : word             ? KeyName::kWordRight
                                      : KeyName::kNone;
        case 'D':
            return parameters.empty() ? KeyName::kLeft : word ? KeyName::kWordLeft : KeyName::kNone;
        case 'H':
            return parameters.empty() || parameters == "1" ? KeyName::kHome : KeyName::kNone;
        case 'F':
            return parameters.empty() || parameters == "1" ? KeyName::kEnd : KeyName::kNone;
        case '~':
            if (parameters == "1" || parameters == "7") {
                return KeyName::kHome;
            }
            if (parameters == "4" || parameters == "8") {
                return KeyName::kEnd;
            }
            return parameters == "3" ? KeyName::kDelete : KeyName::kNone;
        default:
            return KeyName::kNone;
    }
}

// ESC O x: the arrows, Home and End in application mode, rxvt's Ctrl with
// Left and Right; F1 to F4 and the keypad do nothing.
constexpr KeyName SingleShiftKey(char byte) {
    switch (byte) {
        case 'A':
            return KeyName::kUp;
        case 'B':
            return KeyName::kDown;
        case 'C':
            return KeyName::kRight;
        case 'D':
            return KeyName::kLeft;
        case 'H':
            return KeyName::kHome;
        case 'F':
            return KeyName::kEnd;
        case 'c':
            return KeyName::kWordRight;
        case 'd':
            return KeyName::kWordLeft;
        default:
            return KeyName::kNone;
    }
}

// ESC x: Alt with a key. Alt-b and Alt-f move by words, as in emacs.
constexpr KeyName AltKey(char byte) {
    return byte == 'b' ? KeyName::kWordLeft : byte == 'f' ? KeyName::kWordRight : KeyName::kNone;
}

}  // namespace

namespace {

// How many bytes a UTF-8 character that starts with `lead` has; 0 for a byte
// that starts none.
std::size_t Utf8Size(unsigned char lead) {
    return lead >= 0xc2 && lead <= 0xdf   ? 2
           : lead >= 0xe0 && lead <= 0xef ? 3
           : lead >= 0xf0 && lead <= 0xf4 ? 4
                                          : 0;
}

// A byte with nothing before it.
bool DecodeAlone(VtDecoder& decoder, unsigned char value, Key& key) {
    using State = VtDecoder::State;
    const char byte = static_cast<char>(value);
    if (value == 0x1b) {
        decoder.state = State::kEscape;
        return false;
    }
    if (value == 0x7f) {
        key.name = KeyName::kBackspace;
    } else if (value < 0x20) {
        key.name = ControlCharacterKey(value);
    } else if (value < 0x80 || !decoder.utf8) {
        key = CharacterKey(std::string_view(&byte, 1));
    } else {
        decoder.character_size = Utf8Size(value);
        if (decoder.character_size == 0) {
            return true;  // no character starts so: nothing
        }
        decoder.character[0] = byte;
        decoder.character_length = 1;
        decoder.state = State::kCharacter;
        return false;
    }
    return true;
}

// Whether `value` ends an escape sequence before its time: a control byte or
// a character's first byte.
bool InterruptsSequence(unsigned char value) {
    return value < 0x20 || value >= 0x80;
}

}  // namespace

bool VtDecode(VtDecoder& decoder, char byte, Key& key) {
    using State = VtDecoder::State;
    const auto value = static_cast<unsigned char>(byte);
    key = {};
    switch (decoder.state) {
        case State::kGround:
            return DecodeAlone(decoder, value, key);
        case State::kCharacter:
            if ((value & 0xc0) != 0x80 ||
                (decoder.character_length == 1 &&
                 !Utf8SecondByteFits(static_cast<unsigned char>(decoder.character[0]), value))) {
                // Broken off, or no well-formed character (an overlong form, a
                // surrogate, above U+10FFFF): the bytes so far are dropped.
                decoder.state = State::kGround;
                return DecodeAlone(decoder, value, key);
            }
            decoder.character[decoder.character_length++] = byte;
            if (decoder.character_length < decoder.character_size) {
                return false;
            }
            decoder.state = State::kGround;
            key = CharacterKey(std::string_view(decoder.character.data(), decoder.character_size));
            return true;
        case State::kEscape:
            if (value == 0x1b) {
                decoder.state = State::kGround;
                key.name = KeyName::kClear;  // Esc, then another key's escape
                return true;
            }
            decoder.state = State::kGround;
            if (InterruptsSequence(value)) {
                return DecodeAlone(decoder, value, key);
            }
            decoder.length = 0;
            if (byte == '[') {
                decoder.state = State::kControl;
                return false;
            }
            if (byte == 'O') {
                decoder.state = State::kSingle;
                return false;
            }
            key.name = AltKey(byte);
            return true;
        case State::kControl:
            if (InterruptsSequence(value)) {
                decoder.state = State::kGround;
                return DecodeAlone(decoder, value, key);
            }
            if (byte == '[' && decoder.length == 0) {
                decoder.state = State::kLinuxFunction;
                return false;
            }
            if (value >= 0x20 && value <= 0x3f) {
                if (decoder.length < sizeof decoder.parameters) {
                    decoder.parameters[decoder.length] = byte;
                }
                ++decoder.length;
                return false;
            }
            decoder.state = State::kGround;
            if (value >= 0x40 && value <= 0x7e && decoder.length <= sizeof decoder.parameters) {
                const std::string_view parameters(decoder.parameters, decoder.length);
                key.name = ControlSequenceKey(parameters, byte);
                // ESC [ row ; column R: where the cursor is, when asked.
                if (const std::size_t semicolon = parameters.find(';');
                    byte == 'R' && semicolon != std::string_view::npos) {
                    key.name = KeyName::kCursorReport;
                    for (const char digit : parameters.substr(semicolon + 1)) {
                        key.column = static_cast<unsigned short>(
                            digit >= '0' && digit <= '9' ? key.column * 10 + (digit - '0') : 0);
                    }
                }
            }
            return true;
        case State::kLinuxFunction:
            decoder.state = State::kGround;
            if (InterruptsSequence(value)) {
                return DecodeAlone(decoder, value, key);
            }
            return true;  // F1 to F5 of the Linux console: nothing
        case State::kSingle:
            decoder.state = State::kGround;
            if (InterruptsSequence(value)) {
                return DecodeAlone(decoder, value, key);
            }
            key.name = SingleShiftKey(byte);
            return true;
    }
    return false;
}

bool VtEscapeAlone(VtDecoder& decoder, Key& key) {
    if (decoder.state != VtDecoder::State::kEscape) {
        return false;
    }
    decoder.state = VtDecoder::State::kGround;
    key = NamedKey(KeyName::kClear);
    return true;
}
