// The line editor at a Windows console: key events read with
// ReadConsoleInputW, the line drawn by the program itself. Text goes out
// through standard output, the console's one writer, in the ANSI code page
// the console is switched to; the cursor is placed with the console's calls.
// Everything that draws holds the output lock.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "console/line_editing.h"
#include "console/line_editor.h"
#include "platform/os_run_state.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/history_file.h"
#include "platform/windows/input_wake.h"

namespace {

struct Editor {
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE redraw = nullptr;  // auto-reset: a message took the line off the screen
    DWORD saved_input_mode = 0;
    ConsoleOutput console{};  // the output lock and the one writer
    std::array<char, 256> prompt{};
    std::size_t prompt_length = 0;
    std::span<const std::string_view> command_names;
    bool hidden = false;  // nothing of the line is drawn
    EditedLine line;
    HistoryPosition position;
    // On the screen, in cells from the start of the prompt: how far the
    // prompt and line drawn reach, and where the cursor is.
    long shown = 0;
    long at = 0;
    // Under the output lock: waiting for a key with the line on the screen,
    // and a message has taken the line off it.
    bool waiting = false;
    bool cleared = false;
    bool ended = false;
};

Editor editor;
CommandHistory command_history;

std::string_view Prompt() {
    return std::string_view(editor.prompt.data(), editor.prompt_length);
}

void Write(std::string_view bytes) {
    if (!bytes.empty()) {
        editor.console.write_locked(bytes);
    }
}

// Screen positions as cells counted from the buffer's top left corner.
struct Screen {
    long cursor = 0;
    long width = 80;
};

Screen ReadScreen() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(editor.output, &info) || info.dwSize.X <= 0) {
        return {};
    }
    return {static_cast<long>(info.dwCursorPosition.Y) * info.dwSize.X + info.dwCursorPosition.X,
            info.dwSize.X};
}

COORD Position(long cell, long width) {
    if (cell < 0) {
        cell = 0;
    }
    return {static_cast<SHORT>(cell % width), static_cast<SHORT>(cell / width)};
}

// What is drawn of the line: all of it, or for a hidden line nothing, with
// the cursor kept at the prompt's end.
std::string_view ShownText() {
    return editor.hidden ? std::string_view() : LineText(editor.line);
}

long CursorCells() {
    return static_cast<long>(Prompt().size()) + CellsOf(ShownText().substr(0, editor.line.cursor));
}

// Puts the cursor where the line's cursor is.
void PlaceCursor() {
    const Screen screen = ReadScreen();
    const long start = screen.cursor - editor.at;
    editor.at = CursorCells();
    SetConsoleCursorPosition(editor.output, Position(start + editor.at, screen.width));
}

// Draws the prompt and the line anew where they start, blanks what is left
// of the longer line drawn before, and places the cursor. The start is
// found from the cursor, so a console that scrolled or changed width moves
// it along.
void Redraw() {
    Screen screen = ReadScreen();
    SetConsoleCursorPosition(editor.output, Position(screen.cursor - editor.at, screen.width));
    std::array<char, 256 + 2 * kEditedLineCapacity> drawn;
    std::size_t length = Prompt().copy(drawn.data(), drawn.size());
    length += DrawnText(ShownText(), std::span(drawn).subspan(length));
    Write(std::string_view(drawn.data(), length));
    const long cells = static_cast<long>(Prompt().size()) + CellsOf(ShownText());
    // Where the text ended tells where it started, even when writing it
    // scrolled the buffer.
    screen = ReadScreen();
    if (editor.shown > cells) {
        DWORD blanked = 0;
        FillConsoleOutputCharacterA(editor.output, ' ', static_cast<DWORD>(editor.shown - cells),
                                    Position(screen.cursor, screen.width), &blanked);
    }
    editor.shown = cells;
    editor.at = cells;
    PlaceCursor();
}

// After a change of the line: a hidden one shows nothing of it to change.
void RedrawChanged() {
    if (!editor.hidden) {
        Redraw();
    }
}

// Takes the prompt and the line off the screen, leaving the cursor where
// they started.
void Erase() {
    const Screen screen = ReadScreen();
    const long start = screen.cursor - editor.at;
    DWORD blanked = 0;
    FillConsoleOutputCharacterA(editor.output, ' ', static_cast<DWORD>(editor.shown),
                                Position(start, screen.width), &blanked);
    SetConsoleCursorPosition(editor.output, Position(start, screen.width));
    editor.shown = 0;
    editor.at = 0;
}

// Moves to the line's end and ends the screen line there.
void EndScreenLine() {
    const Screen screen = ReadScreen();
    SetConsoleCursorPosition(editor.output,
                             Position(screen.cursor - editor.at + editor.shown, screen.width));
    Write("\r\n");
    editor.shown = 0;
    editor.at = 0;
}

void Insert(std::string_view typed) {
    const bool at_end = editor.line.cursor == editor.line.length;
    if (!LineInsert(editor.line, typed) || editor.hidden) {
        return;
    }
    if (!at_end) {
        Redraw();
        return;
    }
    // Typed at the end, as most keys are: drawn as the console would echo it.
    std::array<char, 2 * kEditedLineCapacity> drawn;
    Write(std::string_view(drawn.data(), DrawnText(typed, drawn)));
    editor.at += CellsOf(typed);
    editor.shown = editor.at;
}

// Tab at the command prompt: the text before the cursor grows to the
// longest start the names matching it share; when several match, they are
// listed below and the line is drawn again under them.
void Complete() {
    const std::string_view start = LineText(editor.line).substr(0, editor.line.cursor);
    const Completion completion = CompleteCommandName(start, editor.command_names);
    if (!completion.added.empty()) {
        Insert(completion.added);
    }
    if (completion.matches < 2) {
        return;
    }
    std::array<char, 1024> listed;
    const std::size_t length =
        ListCommandNames(start, editor.command_names, ReadScreen().width, listed);
    EndScreenLine();
    Write(std::string_view(listed.data(), length));
    Redraw();
}

enum class KeyResult { kGoOn, kLineEnded };

// The keys that move the cursor or recall a line, which a hidden line,
// whose cursor stays at its end, leaves to do nothing.
bool MovesOrRecalls(WORD virtual_key) {
    switch (virtual_key) {
        case VK_LEFT:
        case VK_RIGHT:
        case VK_HOME:
        case VK_END:
        case VK_DELETE:
        case VK_UP:
        case VK_DOWN:
            return true;
        default:
            return false;
    }
}

KeyResult OnKey(const KEY_EVENT_RECORD& key) {
    const bool at_command_prompt = !editor.command_names.empty();
    if (editor.hidden && MovesOrRecalls(key.wVirtualKeyCode)) {
        return KeyResult::kGoOn;
    }
    switch (key.wVirtualKeyCode) {
        case VK_LEFT:
            if (LineMoveLeft(editor.line)) {
                PlaceCursor();
            }
            return KeyResult::kGoOn;
        case VK_RIGHT:
            if (LineMoveRight(editor.line)) {
                PlaceCursor();
            }
            return KeyResult::kGoOn;
        case VK_HOME:
            if (LineMoveHome(editor.line)) {
                PlaceCursor();
            }
            return KeyResult::kGoOn;
        case VK_END:
            if (LineMoveEnd(editor.line)) {
                PlaceCursor();
            }
            return KeyResult::kGoOn;
        case VK_DELETE:
            if (LineDeleteAt(editor.line)) {
                Redraw();
            }
            return KeyResult::kGoOn;
        case VK_ESCAPE:  // Wine's console gives it no character
            if (LineClear(editor.line)) {
                RedrawChanged();
            }
            return KeyResult::kGoOn;
        case VK_UP:
        case VK_DOWN:
            if (at_command_prompt && HistoryStep(command_history, editor.position, editor.line,
                                                 key.wVirtualKeyCode == VK_UP)) {
                Redraw();
            }
            return KeyResult::kGoOn;
        default:
            break;
    }
    const WCHAR typed = key.uChar.UnicodeChar;
    switch (typed) {
        case L'\r':
        case L'\n':
            EndScreenLine();
            return KeyResult::kLineEnded;
        case L'\b':
            if (LineDeleteBefore(editor.line)) {
                RedrawChanged();
            }
            return KeyResult::kGoOn;
        case L'\t':
            if (at_command_prompt) {
                Complete();
            } else {
                Insert("\t");
            }
            return KeyResult::kGoOn;
        case 0x1a:  // Ctrl-Z: ends the input once Enter follows
            Insert("\x1a");
            return KeyResult::kGoOn;
        default:
            break;
    }
    char converted = 0;
    if (typed >= 0x20 && AnsiCharacter(typed, &converted)) {
        Insert(std::string_view(&converted, 1));
    }
    return KeyResult::kGoOn;
}

enum class Wait { kInput, kStop, kFailed };

// Waits for console input without the output lock, so that messages are
// printed meanwhile, and draws the line again when one took it off.
Wait WaitForInput() {
    const HANDLE stop = OsInputWakeEvent();
    const HANDLE waits[] = {editor.input, editor.redraw, stop};
    for (;;) {
        if (OsInputWaitWoken()) {
            return Wait::kStop;
        }
        editor.waiting = true;
        editor.console.unlock();
        const DWORD woken = WaitForMultipleObjects(stop != nullptr ? 3 : 2, waits, FALSE, INFINITE);
        editor.console.lock();
        editor.waiting = false;
        // A line taken off for a message is not drawn again after a stop.
        if (OsInputWaitWoken()) {
            return Wait::kStop;
        }
        if (editor.cleared) {
            editor.cleared = false;
            Redraw();
        }
        if (woken == WAIT_OBJECT_0) {
            return Wait::kInput;
        }
        if (woken == WAIT_FAILED) {
            return Wait::kFailed;
        }
    }
}

// Reads keys until Enter; false at a stop request or when the console fails.
bool EditLine() {
    for (;;) {
        const Wait woken = WaitForInput();
        if (woken != Wait::kInput) {
            return false;
        }
        DWORD pending = 0;
        if (!GetNumberOfConsoleInputEvents(editor.input, &pending)) {
            return false;
        }
        if (pending == 0) {
            continue;
        }
        // One event at a time: keys after Enter stay in the console's input
        // for the next read.
        INPUT_RECORD record{};
        DWORD got = 0;
        if (!ReadConsoleInputW(editor.input, &record, 1, &got)) {
            return false;
        }
        if (got == 1 && record.EventType == WINDOW_BUFFER_SIZE_EVENT) {
            Redraw();
            continue;
        }
        if (got != 1 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
            continue;
        }
        for (WORD repeat = 0; repeat < std::max<WORD>(record.Event.KeyEvent.wRepeatCount, 1);
             ++repeat) {
            if (OnKey(record.Event.KeyEvent) == KeyResult::kLineEnded) {
                return true;
            }
        }
    }
}

void RestoreInputMode() {
    SetConsoleMode(editor.input, editor.saved_input_mode);
}

}  // namespace

bool LineEditorStart(ConsoleOutput output) {
    editor.input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
    editor.output = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD output_mode = 0;
    if (!GetConsoleMode(editor.input, &editor.saved_input_mode) ||
        !GetConsoleMode(editor.output, &output_mode)) {
        return false;
    }
    editor.redraw = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (editor.redraw == nullptr) {
        return false;
    }
    // Ctrl-C and Ctrl-Break stay the console's stop requests; a change of
    // the window's size arrives as an event.
    if (!SetConsoleMode(editor.input, ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT |
                                          ENABLE_EXTENDED_FLAGS |
                                          (editor.saved_input_mode & ENABLE_QUICK_EDIT_MODE))) {
        return false;
    }
    std::atexit(RestoreInputMode);
    editor.console = output;
    LoadHistoryFile(command_history);
    return true;
}

std::optional<std::string_view> LineEditorReadLine(std::string_view prompt,
                                                   std::span<const std::string_view> command_names,
                                                   Echo echo, std::span<char> line) {
    if (editor.ended || line.empty()) {
        return std::nullopt;
    }
    editor.prompt_length = prompt.copy(editor.prompt.data(), editor.prompt.size());
    editor.command_names = command_names;
    editor.hidden = echo == Echo::kHidden;
    LineReplace(editor.line, "");
    editor.position = {};

    editor.console.lock();
    editor.shown = 0;
    editor.at = 0;
    Redraw();
    const bool entered = EditLine();
    // A line typed before a stop request is not run.
    if (!entered || OsInputWaitWoken()) {
        editor.ended = true;
        if (editor.shown > 0) {
            // The shell's prompt that follows starts a line of its own.
            EndScreenLine();
        }
    }
    editor.console.unlock();
    if (editor.ended) {
        return std::nullopt;
    }

    const auto result = TakeTypedLine(LineText(editor.line), line, editor.ended);
    if (result && NamesCommand(*result, command_names) && HistoryAdd(command_history, *result)) {
        SaveHistoryLine(*result);
    }
    return result;
}

bool LineEditorClearLine() {
    if (!editor.waiting) {
        return false;
    }
    if (!editor.cleared) {
        Erase();
        editor.cleared = true;
        SetEvent(editor.redraw);
    }
    return true;
}
