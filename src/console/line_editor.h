// Line editing for a person at a terminal or console: every prompt lets the
// line be edited (line_model.h), the command prompt also recalls earlier
// command lines and completes command names. The thread that reads lines is
// the only one that draws: a message that another thread prints while a line
// is edited is handed to it (message_handoff.h), and it takes the line off,
// writes the message whole and draws the line again. Only when standard input
// and output are both a terminal or console it can draw on; otherwise
// LineEditorStart declines and lines are read as text, as from a pipe.
#pragma once

#include <span>
#include <string_view>

// The console's output as the editor uses it: the lock that keeps each print
// whole, which the editor holds whenever it draws and lets go of while it
// waits for a key; and the console's writer, which the editor draws through.
struct EditorOutput {
    void (*lock)();
    void (*unlock)();
    // Writes `bytes` as they stand, at once, after what the console had
    // pending. Called with the lock held.
    void (*write_locked)(std::string_view bytes);
    // Whether messages were handed off meanwhile, and writes them out; the
    // latter is false while a long message is still arriving in parts, and
    // the line is not drawn again before its end. Called with the lock held.
    bool (*messages_waiting_locked)();
    bool (*write_messages_locked)();
};

// True when lines are to be read through the editor from now on. Called once,
// before the first read and before other threads print.
bool LineEditorStart(EditorOutput output);

// Whether what is typed is drawn: a hidden line draws nothing of it.
enum class Echo { kShown, kHidden };

enum class EditorEnd { kLine, kEnded, kAbandoned };

struct EditorRead {
    EditorEnd end = EditorEnd::kEnded;
    std::string_view text;  // within `line`, for kLine
};

// Shows `prompt`, one screen line, and reads one edited line into `line`
// (NUL-terminated, cut to its capacity less one). With `command_names` not
// empty this is the command prompt: Tab completes those names, Up, Down and
// Ctrl-R recall command lines, and a line naming a command joins the
// history. kEnded at the end of input (Ctrl-D on an empty line, a stop
// request, a terminal that went away), kAbandoned for Ctrl-C. Called with
// the output lock not held, and with all earlier output written.
EditorRead LineEditorReadLine(std::string_view prompt,
                              std::span<const std::string_view> command_names, Echo echo,
                              std::span<char> line);
