// The operating system's side of a person typing at a terminal (POSIX) or a
// console (Windows): its modes, the encoding and widths of typed text,
// waiting for keys beside the wake latch and the reader's own wake-up, its
// width, and one drawing step for both ways of drawing. The console drives
// the line editor (editor/editor.h) with these.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

// A key event of a console (Windows), by what the key is; the editor binds
// it (editor/keys.h). A character comes as the bytes of the ANSI code page.
enum class ConsoleKeyCode : unsigned char {
    kCharacter,
    kLeft,
    kRight,
    kHome,
    kEnd,
    kDelete,
    kUp,
    kDown,
    kEscape,
    kBackspace,
    kAbandon,  // Ctrl-C, taken as a key while a line is typed
};

struct ConsoleKey {
    ConsoleKeyCode code = ConsoleKeyCode::kCharacter;
    bool ctrl = false;
    bool alt = false;
    std::array<char, 4> bytes{};
    unsigned char length = 0;
};

// How typed bytes take the screen: UTF-8 (a character is one to four bytes),
// a code page (one byte a character, or one or two in a double-byte code
// page), or ASCII only (the C locale), where a byte of 0x80 and above is kept
// but drawn as '?'.
enum class TextKind { kUtf8, kCodePage, kAscii };

// One character of typed text: how many bytes it spans (at least one; a byte
// that starts no whole character stands alone) and how many cells the
// terminal draws it in (2 for a wide one, 0 for a combining mark, which
// joins the character before it).
struct TextCharacter {
    std::size_t bytes = 1;
    std::size_t cells = 1;
};

// The character `text` starts with, in the terminal's encoding, for a
// printable character (control bytes are the editor's to show). Called on
// the thread that reads keys.
TextCharacter OsTextCharacter(std::string_view text);

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
TerminalRead OsTerminalWait(std::span<char> bytes, std::span<ConsoleKey> keys, bool escape_pending);

// Bytes the terminal sends within `milliseconds`, for an answer still due
// as the run ends; 0 when none came (a console: at once, it answers nothing).
std::size_t OsTerminalReadWithin(std::span<char> bytes, int milliseconds);

// Wakes OsTerminalWait from any thread (a message to draw).
void OsTerminalWakeReader();

// One step of drawing the line being typed, given for both ways of drawing:
// a terminal writes `vt_bytes`, its escape sequences; a console drawn with
// the system's calls (Windows) takes the step, the text, its cells and the
// cursor's cell instead.
enum class DrawStep : unsigned char {
    kLine,   // `text` (the prompt and the line) where the line is, cursor `cursor` cells in
    kHide,   // the line off, the cursor where it started
    kEnd,    // past the line's end, and a new screen line
    kWrite,  // `text` as it stands, at the start of a screen line (a list of names)
    kClear,  // the screen cleared, the cursor at its top left corner
    kBell,   // a sign that a key was not taken
};

struct TerminalDrawing {
    DrawStep step = DrawStep::kLine;
    std::string_view vt_bytes;
    std::string_view text;
    std::size_t cells = 0;
    std::size_t cursor = 0;
};

// Draws one step, after all the output written before it. 0, or the errno
// value of a write that failed.
int OsTerminalDraw(const TerminalDrawing& drawing);
