// The line editor behind every prompt at a terminal or console: the line
// being typed (editing_model.h), the command lines typed before and the
// completion of command names at the command prompt, and what to draw. It
// holds no lock, waits for nothing, touches no file and calls nothing back:
// the history is the console's, which loads and saves it; the console feeds
// it keys as they arrive, draws the steps it answers with (the same steps
// for a terminal and a console, os_terminal.h), and has it take the line off
// and put it back around messages.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string_view>

#include "editor/editing_model.h"
#include "editor/keys.h"
#include "platform/os_terminal.h"

// Once, before the first line: the terminal's text, and the command lines
// Up, Down and Ctrl-R recall at the command prompt (the caller keeps them).
void EditorInit(TextFacts text, const CommandHistory* history);

// Whether what is typed is drawn: a hidden line draws nothing of it.
enum class Echo { kShown, kHidden };

// A line begins: `prompt` is one screen line, drawn with the line at the
// first EditorDraw. With `command_names` not empty this is the command
// prompt: Tab completes those names, Up, Down and Ctrl-R recall command
// lines, and a line naming a command joins the history.
void EditorBegin(std::string_view prompt, std::span<const std::string_view> command_names,
                 Echo echo, int columns);

enum class EditorEnd {
    kGoesOn,     // not ended: the line goes on
    kLine,       // Enter: EditorTakeLine has it
    kEnded,      // Ctrl-D on an empty line: the end of input
    kAbandoned,  // Ctrl-C: the line, and the command it belongs to, are dropped
};

// What a key did, and the steps to draw for it, in order (valid until the
// next call). The line itself is drawn by EditorDraw, once the keys that
// arrived together are taken.
struct EditorAnswer {
    EditorEnd end = EditorEnd::kGoesOn;
    std::span<const TerminalDrawing> steps;
};

// A byte a terminal sent; a console's key; the Esc key alone, when nothing
// followed a lone ESC byte for a moment.
EditorAnswer EditorFeedByte(char byte);
EditorAnswer EditorFeedKey(const ConsoleKey& key);
EditorAnswer EditorEscapeAlone();

// Whether a lone ESC byte waits for the rest of a key's sequence.
bool EditorEscapePending();

// While the terminal has not yet answered a question the editor asked it
// (where its cursor went), the time its answer may still take; else zero.
std::chrono::milliseconds EditorAnswerAwaited();

// A byte the terminal sent once input ended: the awaited answer is taken,
// any other key dropped.
void EditorTakeLateByte(char byte);

// The line as it now stands, where it changed; nothing while it is hidden.
std::span<const TerminalDrawing> EditorDraw();

// Takes the line off (for messages written where it was); EditorShow puts it
// back below them.
std::span<const TerminalDrawing> EditorHide();
std::span<const TerminalDrawing> EditorShow();

// A new width, or a screen the shell had meanwhile: the line is drawn anew.
void EditorResize(int columns);
void EditorResumed();

// The line ends: the cursor goes past it, to a new screen line.
std::span<const TerminalDrawing> EditorFinish();

// After kLine: the line typed, handed on under the text rules (TakeTypedLine)
// into `line`, cut to its capacity less one (a character the cut goes through
// is left in part, for EditorWholeCharacters to leave out); `ended` is set
// when it held a byte 0x1A. `for_history` is set when it is a command line,
// for the caller to add to the history.
std::optional<std::string_view> EditorTakeLine(std::span<char> line, bool& ended,
                                               bool& for_history);

// How many bytes of `typed`, at most `room`, hold whole characters of the
// terminal's text, and how many characters they are; `typed` may be the
// start of the last line typed, whose characters then count whole.
TextPrefix EditorWholeCharacters(std::string_view typed, std::size_t room);
