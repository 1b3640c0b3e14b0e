// The escape sequences terminals send for keys, as xterm, the Linux console,
// tmux and their kin send them: what the line editor binds each to beyond
// its own bindings, and how a reader that binds none skips one whole.
#pragma once

#include <cwchar>
#include <span>

struct KeyBinding {
    const char* keys;
    const char* function;  // an editor function, or "tc-nothing", which does nothing
};

// Home and End in their other spellings, Delete, words with Ctrl or Alt and
// the arrows; and nothing at all for Insert, Page Up and Down and the
// function keys. Unbound, the editor would take a sequence's head for an
// unknown key and insert its tail.
std::span<const KeyBinding> ExtraKeyBindings();

// Where a key's escape sequence has got to, for a hidden line, which skips
// each whole: ESC, then a control sequence (ESC [ ... final byte) or one
// character more (ESC O x, or ESC x for a key typed with Alt).
enum class Sequence { kNone, kEscape, kControl, kOneMore };

bool InSequence(Sequence& sequence, wchar_t key);
