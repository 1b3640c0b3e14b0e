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
#include <cstring>

#include "platform/diagnostics.h"
#include "platform/line_editing.h"
#include "platform/line_editor.h"
#include "platform/os_console.h"
#include "platform/run_state.h"
#include "platform/windows/input_wake.h"

namespace {

struct Editor {
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE redraw = nullptr;  // auto-reset: a message took the line off the screen
    DWORD saved_input_mode = 0;
    OutputLock output_lock{};
    std::array<char, 256> prompt{};
    std::size_t prompt_length = 0;
    std::span<const std::string_view> command_names;
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
    if (bytes.empty()) {
        return;
    }
    if (const int error = OsWriteStandardOutput(bytes.data(), bytes.size()); error != 0) {
        NoteOutputLost(error);
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

long CursorCells() {
    return static_cast<long>(Prompt().size()) +
           CellsOf(LineText(editor.line).substr(0, editor.line.cursor));
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
    length += DrawnText(LineText(editor.line), std::span(drawn).subspan(length));
    Write(std::string_view(drawn.data(), length));
    const long cells = static_cast<long>(Prompt().size()) + CellsOf(LineText(editor.line));
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
    if (!LineInsert(editor.line, typed)) {
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

// A character typed, in the ANSI code page; false when it spells none there
// in one byte.
bool AnsiCharacter(WCHAR typed, char* converted) {
    BOOL defaulted = FALSE;
    char bytes[8];
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &typed, 1, bytes,
                                           sizeof bytes, nullptr, &defaulted);
    if (length != 1 || defaulted) {
        return false;
    }
    *converted = bytes[0];
    return true;
}

enum class KeyResult { kGoOn, kLineEnded };

KeyResult OnKey(const KEY_EVENT_RECORD& key) {
    const bool at_command_prompt = !editor.command_names.empty();
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
                Redraw();
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
                Redraw();
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
        if (RunShouldEnd()) {
            return Wait::kStop;
        }
        editor.waiting = true;
        editor.output_lock.unlock();
        const DWORD woken = WaitForMultipleObjects(stop != nullptr ? 3 : 2, waits, FALSE, INFINITE);
        editor.output_lock.lock();
        editor.waiting = false;
        // A line taken off for a message is not drawn again after a stop.
        if (RunShouldEnd()) {
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

// The history file: %APPDATA%\tunnelconsole\history, one command line a
// line. Each session adds its own lines at the end; it is cut back to the
// last kHistoryMostEntries now and then.
constexpr std::size_t kHistorySlack = 100;
std::array<char, MAX_PATH> history_path{};  // empty: no history file
std::size_t history_file_lines = 0;

void ReportHistoryProblem(const char* doing, DWORD error) {
    ReportProblem("history file %s was not %s: error %lu", history_path.data(), doing,
                  static_cast<unsigned long>(error));
    // One line says so; the session goes on without the file.
    history_path[0] = '\0';
}

void LoadHistory() {
    std::array<char, MAX_PATH> folder{};
    const DWORD length = GetEnvironmentVariableA("APPDATA", folder.data(), folder.size());
    if (length == 0 || length >= folder.size()) {
        ReportProblem("command lines are not kept: APPDATA is not set");
        return;
    }
    const int made =
        std::snprintf(history_path.data(), history_path.size(), "%s\\tunnelconsole", folder.data());
    if (made < 0 || static_cast<std::size_t>(made) + 8 >= history_path.size()) {
        ReportProblem("command lines are not kept: APPDATA is too long");
        history_path[0] = '\0';
        return;
    }
    // Made with the rights of the profile folder it is in: its owner's.
    if (!CreateDirectoryA(history_path.data(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        ReportHistoryProblem("made", GetLastError());
        return;
    }
    std::strcat(history_path.data(), "\\history");
    const HANDLE file =
        CreateFileA(history_path.data(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            ReportHistoryProblem("read", GetLastError());
        }
        return;
    }
    std::array<char, 4096> chunk;
    EditedLine line;
    bool too_long = false;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), chunk.size(), &got, nullptr)) {
            ReportHistoryProblem("read", GetLastError());
            break;
        }
        if (got == 0) {
            break;  // a last line without a line break is not complete
        }
        for (const char byte : std::string_view(chunk.data(), got)) {
            if (byte == '\r') {
                continue;
            }
            if (byte != '\n') {
                too_long = too_long || !LineInsert(line, std::string_view(&byte, 1));
                continue;
            }
            ++history_file_lines;
            if (!too_long) {
                HistoryAdd(command_history, LineText(line));
            }
            LineReplace(line, "");
            too_long = false;
        }
    }
    CloseHandle(file);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Adds `line` at the end of the history file, under a lock on it.
void SaveHistory(std::string_view line) {
    if (history_path[0] == '\0') {
        return;
    }
    const HANDLE file = CreateFileA(history_path.data(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportHistoryProblem("written", GetLastError());
        return;
    }
    OVERLAPPED whole{};
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    bool written = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                   WriteAll(file, line) && WriteAll(file, "\r\n");
    ++history_file_lines;
    // Cut back to this session's history, the file's last lines as read at
    // the start and the lines added since.
    if (written && history_file_lines > kHistoryMostEntries + kHistorySlack) {
        written = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file);
        for (std::size_t back = command_history.count; written && back > 0; --back) {
            written = WriteAll(file, HistoryEntry(command_history, back)) && WriteAll(file, "\r\n");
        }
        history_file_lines = command_history.count;
    }
    if (!written) {
        ReportHistoryProblem("written", GetLastError());
    }
    if (locked) {
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    }
    CloseHandle(file);
}

void RestoreInputMode() {
    SetConsoleMode(editor.input, editor.saved_input_mode);
}

}  // namespace

bool LineEditorStart(OutputLock output_lock) {
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
    editor.output_lock = output_lock;
    LoadHistory();
    return true;
}

std::optional<std::string_view> LineEditorReadLine(std::string_view prompt,
                                                   std::span<const std::string_view> command_names,
                                                   std::span<char> line) {
    if (editor.ended || line.empty()) {
        return std::nullopt;
    }
    editor.prompt_length = prompt.copy(editor.prompt.data(), editor.prompt.size());
    editor.command_names = command_names;
    LineReplace(editor.line, "");
    editor.position = {};

    editor.output_lock.lock();
    editor.shown = 0;
    editor.at = 0;
    Redraw();
    const bool entered = EditLine();
    // A line typed before a stop request is not run.
    if (!entered || RunShouldEnd()) {
        editor.ended = true;
        if (editor.shown > 0) {
            // The shell's prompt that follows starts a line of its own.
            EndScreenLine();
        }
    }
    editor.output_lock.unlock();
    if (editor.ended) {
        return std::nullopt;
    }

    std::string_view text = LineText(editor.line);
    // The text rules: a byte 0x1A ends the input, after the line before it.
    if (const std::size_t end = text.find('\x1a'); end != std::string_view::npos) {
        editor.ended = true;
        if (end == 0) {
            return std::nullopt;
        }
        text = text.substr(0, end);
    }
    const std::size_t stored = text.copy(line.data(), line.size() - 1);
    line[stored] = '\0';
    const std::string_view result(line.data(), stored);
    if (NamesCommand(result, command_names) && HistoryAdd(command_history, result)) {
        SaveHistory(result);
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
