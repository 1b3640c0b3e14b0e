// The line editor on POSIX terminals, built on libedit.
#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "console/line_editing.h"
#include "console/line_editor.h"
#include "platform/os_run_state.h"
#include "platform/posix/history_file.h"
#include "platform/posix/input_wake.h"
#include "platform/posix/key_sequences.h"
#include "platform/posix/terminal_modes.h"
#include "platform/posix/terminal_signals.h"
#include "platform/posix/terminal_stream.h"

namespace {

struct Editor {
    EditLine* line = nullptr;
    History* command_lines = nullptr;  // kept in the history file
    History* no_lines = nullptr;       // what a field prompt recalls: nothing
    ConsoleOutput output{};
    // Where the editor draws: a stream that writes through the console's
    // writer, so that the terminal has one writer.
    std::FILE* terminal = nullptr;
    // Written to when the line is to be drawn again: a message took it off
    // the screen, or the terminal came back or changed size.
    int redraw_pipe[2] = {-1, -1};
    std::array<char, 256> prompt{};
    std::span<const std::string_view> command_names;
    // A line read unseen, as a passcode: the editor does not draw it.
    bool hidden = false;
    std::mbstate_t key_state{};
    // Under the output lock: waiting for a key with the line on the screen,
    // and a message has taken the line off it.
    bool waiting = false;
    bool cleared = false;
    bool ended = false;
};

Editor editor;

void WakeForRedraw() {
    const char byte = 1;
    // A full pipe already wakes the reader.
    [[maybe_unused]] const ssize_t written = write(editor.redraw_pipe[1], &byte, 1);
}

void DrainRedrawPipe() {
    char drained[64];
    while (read(editor.redraw_pipe[0], drained, sizeof drained) > 0) {
    }
}

char* CurrentPrompt(EditLine*) {
    return editor.prompt.data();
}

// Where the cursor of a text drawn from `column` ends, as the editor draws
// it: a control character as ^X, a tab to the next multiple of eight.
int ColumnAfter(const wchar_t* from, const wchar_t* to, int column) {
    for (; from < to; ++from) {
        if (*from == L'\t') {
            column = (column / 8 + 1) * 8;
        } else if (*from < 0x20 || *from == 0x7f) {
            column += 2;
        } else {
            const int width = wcwidth(*from);
            column += width > 0 ? width : 1;
        }
    }
    return column;
}

const char* Capability(const char* name) {
    char* text = nullptr;
    if (el_get(editor.line, EL_GETTC, name, &text) != 0 || text == nullptr) {
        return "";
    }
    return text;
}

// Moves the cursor to the start of the prompt and clears from there down.
void EraseLine() {
    int columns = 0;
    if (el_get(editor.line, EL_GETTC, "co", &columns) != 0 || columns <= 0) {
        columns = 80;
    }
    const LineInfoW* typed = el_wline(editor.line);
    const int prompt_width = static_cast<int>(std::strlen(editor.prompt.data()));
    const int cursor_column =
        editor.hidden ? prompt_width : ColumnAfter(typed->buffer, typed->cursor, prompt_width);
    const int rows_above = cursor_column / columns;
    std::fputs("\r", editor.terminal);
    const char* up = Capability("up");
    for (int row = 0; row < rows_above && *up != '\0'; ++row) {
        std::fputs(up, editor.terminal);
    }
    std::fputs(Capability("cd"), editor.terminal);
    std::fflush(editor.terminal);
}

// Draws the prompt and the line anew from the start of the cursor's row.
void RedrawIfAsked(EditLine* line) {
    const bool resized = TakeTerminalResized();
    const bool resumed = TakeTerminalResumed();
    if (resized) {
        el_resize(line);
    }
    if (editor.hidden) {
        // Only the prompt is on the screen.
        if (editor.cleared || resumed) {
            editor.cleared = false;
            std::fputs("\r", editor.terminal);
            std::fputs(Capability("cd"), editor.terminal);
            std::fputs(editor.prompt.data(), editor.terminal);
        }
        return;
    }
    if (editor.cleared || resumed) {
        editor.cleared = false;
        el_set(line, EL_REFRESH);
    }
}

// Reads one key. Waits without the output lock, so that messages are
// printed meanwhile, and holds it while the editor draws.
int ReadKey(EditLine* line, wchar_t* key) {
    for (;;) {
        if (OsInputWaitWoken()) {
            return 0;
        }
        std::fflush(editor.terminal);
        const int stop_wake = OsInputWakeDescriptor();
        pollfd waits[3] = {
            {STDIN_FILENO, POLLIN, 0}, {editor.redraw_pipe[0], POLLIN, 0}, {stop_wake, POLLIN, 0}};
        editor.waiting = true;
        editor.output.unlock();
        const int ready = poll(waits, stop_wake >= 0 ? 3 : 2, -1);
        editor.output.lock();
        editor.waiting = false;
        if (waits[1].revents != 0) {
            DrainRedrawPipe();
        }
        RedrawIfAsked(line);
        if (ready <= 0 || waits[0].revents == 0) {
            continue;
        }
        char byte = 0;
        const ssize_t count = read(STDIN_FILENO, &byte, 1);
        if (count == 0) {
            return 0;
        }
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return -1;
        }
        wchar_t wide = 0;
        const std::size_t decoded = std::mbrtowc(&wide, &byte, 1, &editor.key_state);
        if (decoded == static_cast<std::size_t>(-2)) {
            continue;  // more bytes of the same character follow
        }
        if (decoded == static_cast<std::size_t>(-1)) {
            editor.key_state = {};  // not a character of the terminal's encoding
            continue;
        }
        *key = wide;
        return 1;
    }
}

// Tab at the command prompt: the text before the cursor grows to the longest
// start that the command names matching it share; when several match, they
// are listed below and the line is drawn again under them. A field prompt
// takes a tab as typed.
unsigned char CompleteAtPrompt(EditLine* line, int) {
    if (editor.command_names.empty()) {
        return el_insertstr(line, "\t") == 0 ? CC_REFRESH : CC_ERROR;
    }
    const LineInfo* typed = el_line(line);
    const std::string_view start(typed->buffer,
                                 static_cast<std::size_t>(typed->cursor - typed->buffer));
    const Completion completion = CompleteCommandName(start, editor.command_names);
    if (completion.matches == 0) {
        return CC_ERROR;
    }
    if (!completion.added.empty()) {
        std::array<char, kEditedLineCapacity> added{};
        completion.added.copy(added.data(), added.size() - 1);
        el_insertstr(line, added.data());
    }
    if (completion.matches == 1) {
        return CC_REFRESH;
    }
    int columns = 0;
    if (el_get(line, EL_GETTC, "co", &columns) != 0 || columns <= 0) {
        columns = 80;
    }
    std::array<char, 1024> listed;
    std::fputs("\r\n", editor.terminal);
    std::fwrite(listed.data(), 1, ListCommandNames(start, editor.command_names, columns, listed),
                editor.terminal);
    el_set(line, EL_REFRESH);
    return CC_NORM;
}

// A key that has nothing to do: its whole sequence is read, and nothing of
// it enters the line.
unsigned char DoNothing(EditLine*, int) {
    return CC_NORM;
}

// A hidden line as typed, in the terminal's encoding.
std::array<char, kEditedLineCapacity * MB_LEN_MAX> hidden_text;

// Reads a line that is not drawn, with the output lock held: a character is
// kept, Backspace takes the last one off and Ctrl-U all, Enter ends the
// line, Ctrl-D on an empty line ends the input; other keys do nothing.
// nullopt at the end of input.
std::optional<std::string_view> ReadHiddenLocked() {
    std::array<wchar_t, kEditedLineCapacity> typed;
    std::size_t count = 0;
    Sequence sequence = Sequence::kNone;
    std::fputs(editor.prompt.data(), editor.terminal);
    for (;;) {
        wchar_t key = 0;
        if (ReadKey(editor.line, &key) != 1) {
            return std::nullopt;
        }
        if (InSequence(sequence, key)) {
            continue;
        }
        if (key == L'\r' || key == L'\n') {
            break;
        }
        if (key == 0x7f || key == L'\b') {
            count -= count > 0 ? 1 : 0;
        } else if (key == 0x15) {
            count = 0;
        } else if (key == 0x04 && count == 0) {
            return std::nullopt;
        } else if ((key >= 0x20 || key == L'\t' || key == 0x1a) && count < typed.size()) {
            typed[count++] = key;
        }
    }
    std::fputs("\r\n", editor.terminal);
    std::mbstate_t state{};
    std::size_t length = 0;
    for (const wchar_t key : std::span(typed).first(count)) {
        // Each came from one character of the terminal's encoding, so each
        // goes back into as many bytes, and all fit.
        const std::size_t bytes = std::wcrtomb(hidden_text.data() + length, key, &state);
        if (bytes == static_cast<std::size_t>(-1)) {
            break;
        }
        length += bytes;
    }
    return std::string_view(hidden_text.data(), length);
}

// A line edited and drawn by the editor, with the output lock held. nullopt
// at the end of input.
std::optional<std::string_view> ReadShownLocked() {
    int count = 0;
    const char* typed = el_gets(editor.line, &count);
    if (typed == nullptr || count <= 0) {
        return std::nullopt;
    }
    // In bytes: the count is in characters in some versions of the editor.
    std::string_view text(typed, std::strlen(typed));
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// Ctrl-D: the end of input on an empty line, shown as nothing (the editor's
// own would echo ^D); elsewhere it deletes the character under the cursor.
unsigned char EndOrDelete(EditLine* line, int) {
    const LineInfo* typed = el_line(line);
    if (typed->buffer == typed->lastchar) {
        return CC_EOF;
    }
    if (typed->cursor == typed->lastchar) {
        return CC_ERROR;
    }
    el_cursor(line, 1);
    el_deletestr(line, 1);
    return CC_REFRESH;
}

}  // namespace

bool LineEditorStart(ConsoleOutput output) {
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1 || !SaveTerminalModes()) {
        return false;
    }
    if (pipe2(editor.redraw_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    // Keys arrive in the terminal's encoding.
    std::setlocale(LC_CTYPE, "");
    editor.output = output;
    editor.terminal = OpenTerminalStream(output.write_locked);
    if (editor.terminal == nullptr) {
        return false;
    }
    editor.line = el_init_fd("tunnelconsole", stdin, editor.terminal, stderr, STDIN_FILENO,
                             STDOUT_FILENO, STDERR_FILENO);
    editor.command_lines = history_init();
    editor.no_lines = history_init();
    if (editor.line == nullptr || editor.command_lines == nullptr || editor.no_lines == nullptr) {
        return false;
    }
    // A terminal that cannot move the cursor up and clear what lies below it
    // (TERM dumb, unset or unknown) cannot have the typed line taken off for
    // a message and drawn again: it is read as a pipe is, with the modes the
    // editor's set-up changed put back.
    if (*Capability("up") == '\0' || *Capability("cd") == '\0') {
        RestoreTerminalModes();
        return false;
    }
    el_set(editor.line, EL_EDITOR, "emacs");
    // Stop requests are the program's own (run_state.h).
    el_set(editor.line, EL_SIGNAL, 0);
    el_set(editor.line, EL_PROMPT, CurrentPrompt);
    el_set(editor.line, EL_GETCFN, ReadKey);
    el_set(editor.line, EL_ADDFN, "tc-complete-command", "Complete a command name",
           CompleteAtPrompt);
    el_set(editor.line, EL_BIND, "^I", "tc-complete-command", nullptr);
    el_set(editor.line, EL_ADDFN, "tc-end-or-delete", "End the input, or delete a character",
           EndOrDelete);
    el_set(editor.line, EL_BIND, "^D", "tc-end-or-delete", nullptr);
    el_set(editor.line, EL_ADDFN, "tc-nothing", "Do nothing", DoNothing);
    for (const KeyBinding& binding : ExtraKeyBindings()) {
        el_set(editor.line, EL_BIND, binding.keys, binding.function, nullptr);
    }
    // From now until the run ends the terminal stays as it is while a key is
    // awaited, between lines too: no canonical mode, in which a Ctrl-D typed
    // just before or after a line turns into an end-of-file mark read back as
    // a NUL, and no echo, which would draw keys typed ahead a second time.
    // Ctrl-C and the other signal keys act throughout. This sets the modes at
    // once, before the first prompt is drawn.
    if (el_set(editor.line, EL_SETTY, "-x", "-icanon", "-echo", "-iexten", "min=^A",
               "time=", nullptr) != 0) {
        RestoreTerminalModes();
        return false;
    }
    std::atexit(RestoreTerminalModes);
    HistEvent event;
    history(editor.command_lines, &event, H_SETSIZE, kHistoryEntries);
    history(editor.command_lines, &event, H_SETUNIQUE, 1);
    LoadHistoryFile([](const char* line) {
        HistEvent entered;
        history(editor.command_lines, &entered, H_ENTER, line);
    });
    WatchTerminalSignals(editor.redraw_pipe[1]);
    return true;
}

std::optional<std::string_view> LineEditorReadLine(std::string_view prompt,
                                                   std::span<const std::string_view> command_names,
                                                   Echo echo, std::span<char> line) {
    if (editor.ended || line.empty()) {
        return std::nullopt;
    }
    editor.prompt.fill('\0');
    prompt.copy(editor.prompt.data(), editor.prompt.size() - 1);
    editor.command_names = command_names;
    el_set(editor.line, EL_HIST, history,
           command_names.empty() ? editor.no_lines : editor.command_lines);
    // A return to the shell while a command ran leaves nothing to draw again:
    // the prompt is drawn anew.
    static_cast<void>(TakeTerminalResumed());

    editor.output.lock();
    editor.hidden = echo == Echo::kHidden;
    std::optional<std::string_view> text = editor.hidden ? ReadHiddenLocked() : ReadShownLocked();
    editor.hidden = false;
    // A line typed before a stop request or the end of input is not run.
    if (!text || OsInputWaitWoken()) {
        editor.ended = true;
        // The shell's prompt that follows starts a line of its own.
        std::fputs("\r\n", editor.terminal);
    }
    std::fflush(editor.terminal);
    editor.output.unlock();
    if (editor.ended) {
        return std::nullopt;
    }

    const auto result = TakeTypedLine(*text, line, editor.ended);
    if (result && NamesCommand(*result, command_names)) {
        // A command repeated at once is kept once, in the file as here.
        HistEvent event;
        const bool repeated = history(editor.command_lines, &event, H_FIRST) == 0 &&
                              event.str != nullptr && *result == event.str;
        if (!repeated) {
            history(editor.command_lines, &event, H_ENTER, line.data());
            SaveHistoryLine(*result);
        }
    }
    return result;
}

bool LineEditorClearLine() {
    if (!editor.waiting) {
        return false;
    }
    if (!editor.cleared) {
        EraseLine();
        editor.cleared = true;
        WakeForRedraw();
    }
    return true;
}
