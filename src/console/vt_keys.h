// The keys a terminal sends, as bytes, decoded into the editor's keys: the
// control characters of the emacs bindings and the escape sequences of
// xterm, the Linux console (ESC [ [ A to E for F1 to F5) and rxvt. A
// sequence the decoder does not know is consumed whole and does nothing.
#pragma once

#include <cstddef>

#include "platform/os_terminal.h"

struct VtDecoder {
    enum class State : unsigned char { kGround, kEscape, kControl, kLinuxFunction, kSingle };
    State state = State::kGround;
    // The parameter bytes of a control sequence (ESC [ ...), cut at their room.
    char parameters[8] = {};
    std::size_t length = 0;
};

// Takes one byte; true with `key` set when the byte ends a key.
bool VtDecode(VtDecoder& decoder, char byte, Key& key);

// The terminal sent nothing more after a lone ESC: that was the Esc key.
bool VtEscapeAlone(VtDecoder& decoder, Key& key);

inline bool VtEscapePending(const VtDecoder& decoder) {
    return decoder.state == VtDecoder::State::kEscape;
}
