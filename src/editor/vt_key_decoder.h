// The keys a terminal sends, as bytes, decoded into the editor's keys: the
// control characters of the emacs bindings and the escape sequences of
// xterm, the Linux console (ESC [ [ A to E for F1 to F5) and rxvt. A
// sequence the decoder does not know is consumed whole and does nothing. In
// UTF-8 a character's bytes make one key, and one that is broken off makes
// none; a control byte or a character that comes within an escape sequence
// ends it there, and acts as it would alone (Alt with a character types it).
#pragma once

#include <array>
#include <cstddef>

#include "editor/keys.h"

struct VtDecoder {
    enum class State : unsigned char {
        kGround,
        kEscape,
        kControl,
        kLinuxFunction,
        kSingle,
        kCharacter,
    };
    State state = State::kGround;
    bool utf8 = false;  // else one byte a character
    // The parameter bytes of a control sequence (ESC [ ...), cut at their room.
    char parameters[8] = {};
    std::size_t length = 0;
    // A UTF-8 character's bytes so far, and how many it has.
    std::array<char, 4> character{};
    std::size_t character_length = 0;
    std::size_t character_size = 0;
};

// Takes one byte; true with `key` set when the byte ends a key.
bool VtDecode(VtDecoder& decoder, char byte, Key& key);

// The terminal sent nothing more after a lone ESC: that was the Esc key.
bool VtEscapeAlone(VtDecoder& decoder, Key& key);

inline bool VtEscapePending(const VtDecoder& decoder) {
    return decoder.state == VtDecoder::State::kEscape;
}
