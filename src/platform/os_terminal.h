// The operating system's side of a person typing at a terminal (POSIX) or a
// console (Windows): its modes, waiting for keys beside the wake latch and the
// editor's own wake-up, its width, and, at a console, its decoded keys and its
// drawing calls. The line editor (console/line_editor.h) is built on this.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// A key as the editor takes it, from either platform's decoder.
enum class KeyName : unsigned char {
    kNone,       // a key with no binding: consumed whole, does nothing
    kCharacter,  // `character` is typed
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
    kAbandon,  // Ctrl-C while a line is typed
};

struct Key {
    KeyName name = KeyName::kNone;
    char character = 0;
};

// The key a control character (below 0x20) stands for, the same at a
// terminal and at a console; kNone for one without a binding.
constexpr KeyName ControlCharacterKey(unsigned char character) {
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

// How typed bytes take the screen: UTF-8 (a character is one to four bytes),
// one byte a character in a code page, or ASCII only (the C locale), where a
// byte of 0x80 and above is kept but drawn as '?'.
enum class TextKind { kUtf8, kSingleByte, kAscii };

// True when standard input and output are both a terminal or console that
// the editor can draw on (not TERM=dumb): the terminal's modes are saved and
// put back on every way out, keys are read one by one without echo from now
// on, and a resize or a return from the shell wakes OsTerminalWait.
bool OsTerminalStart();

// Whether standard input is a terminal or console, whatever standard output is.
bool OsInputIsTerminal();

// Echo off for a hidden line read without the editor; OsEchoRestore puts the
// modes back (also done on every way out). False when nothing was changed.
bool OsEchoOff();
void OsEchoRestore();

TextKind OsTerminalText();

// The width of the window in cells.
int OsTerminalColumns();

// Between these, Ctrl-C is a key (KeyName::kAbandon) instead of a stop
// request, and waits report it as such.
void OsTerminalLineBegins();
void OsTerminalLineEnds();

enum class TerminalInput {
    kBytes,    // bytes to decode (a terminal's key sequences)
    kKeys,     // keys decoded already (a console's key events)
    kWoken,    // OsTerminalWakeReader was called
    kResized,  // the window changed width: draw again
    kResumed,  // back from the shell (Ctrl-Z, fg): draw again
    kQuiet,    // nothing followed a lone escape byte for a moment
    kStopped,  // the wake latch (OsInputWaitWoken) is set
    kEnded,    // the terminal went away
};

struct TerminalRead {
    TerminalInput input = TerminalInput::kEnded;
    std::size_t count = 0;  // bytes or keys
};

// Waits for keys, a wake-up, a resize or a stop. With `escape_pending`, a
// wait that nothing ends for a moment gives kQuiet.
TerminalRead OsTerminalWait(std::span<char> bytes, std::span<Key> keys, bool escape_pending);

// Wakes OsTerminalWait from any thread (a message to draw).
void OsTerminalWakeReader();

// True where the console is drawn with the system's calls (Windows), not
// with escape sequences written to standard output.
bool OsTerminalDrawsByCalls();

// At such a console: draws `shown` (the prompt and the line, as bytes to
// print) from where the line starts, blanks what the last drawing left
// beyond it, and puts the cursor `cursor` cells from the start.
void OsConsoleDrawLine(std::string_view shown, std::size_t cells, std::size_t cursor);
// Takes the line off, leaving the cursor where it started.
void OsConsoleEraseLine();
// Moves past the line's end and starts a new screen line.
void OsConsoleEndLine();
