// Line editing for a person at a terminal: every prompt lets the line be
// edited, the command prompt also recalls earlier command lines and completes
// command names, and a message printed from another thread goes above the
// line being typed, which is drawn again below it. Only when standard input
// and output are both terminals and the platform has an editor; otherwise
// LineEditorStart declines and lines are read as text, as from a pipe.
#pragma once

#include <optional>
#include <span>
#include <string_view>

// The console's output as the editor uses it: the lock that keeps each print
// whole, which the editor holds whenever it draws and lets go of only while
// it waits for a key; and the console's writer, the one the terminal is
// written through, which the editor draws through too.
struct ConsoleOutput {
    void (*lock)();
    void (*unlock)();
    // Writes `bytes` as they stand, at once, after what the console had
    // pending. Called with the lock held.
    void (*write_locked)(std::string_view bytes);
};

// True when lines are to be read through the editor from now on. Called once,
// before the first read, with the output lock not held.
bool LineEditorStart(ConsoleOutput output);

// Whether what is typed is drawn: a hidden line draws nothing of it, and
// only characters, Backspace and Ctrl-U (Esc at a console) edit it.
enum class Echo { kShown, kHidden };

// Shows `prompt`, one line, and reads one edited line into `line` (NUL-terminated, cut
// to its capacity less one). With `command_names` not empty this is the
// command prompt: Tab completes those names, and a line naming one of them
// joins the history. nullopt at the end of input (Ctrl-D on an empty line, a
// stop request, a terminal that went away). Called with the output lock not
// held, and with all earlier output written.
std::optional<std::string_view> LineEditorReadLine(std::string_view prompt,
                                                   std::span<const std::string_view> command_names,
                                                   Echo echo, std::span<char> line);

// Called by another thread with the output lock held, before it prints: takes
// the line being typed off the screen and has it drawn again once the print
// is out. True when it did; the print must then end its line.
bool LineEditorClearLine();
