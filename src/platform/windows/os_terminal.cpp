// A console for the line editor: key events decoded into the editor's keys,
// the line drawn with the console's calls, the input mode given back on
// every way out, and waits on the console's input beside the stop event and
// an event that wakes the reader for a message.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/os_run_state.h"
#include "platform/os_terminal.h"
#include "platform/windows/console_cells.h"
#include "platform/windows/console_keys.h"
#include "platform/windows/console_session.h"
#include "platform/windows/os_run_state_private.h"

namespace {

HANDLE input = nullptr;
HANDLE output = nullptr;
HANDLE reader_wake = nullptr;  // auto-reset
DWORD saved_input_mode = 0;
DWORD saved_output_mode = 0;
DWORD editing_mode = 0;
LONG input_mode_changed = 0;
LONG output_mode_changed = 0;
KeyDecoder key_decoder;
// Focus events put in by the wakes, and those read: what is left is taken
// off the input at the end, so that the next program does not get them.
LONG focus_events_written = 0;
LONG focus_events_read = 0;
bool started = false;
// Set while a line is typed: Ctrl-C is a key then.
LONG line_typed = 0;
LONG ctrl_c_taken = 0;
bool resized = false;

// The line on the screen, in cells from its start: how far it reaches, where
// the cursor is, and what was drawn (to add only what typing added).
long shown = 0;
long at = 0;
std::array<char, 4096> last_drawn{};
std::size_t last_length = 0;

struct Screen {
    long cursor = 0;  // cells from the buffer's top left corner
    long width = 80;
};

Screen ReadScreen() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info) || info.dwSize.X <= 0) {
        return {};
    }
    return {static_cast<long>(info.dwCursorPosition.Y) * info.dwSize.X + info.dwCursorPosition.X,
            info.dwSize.X};
}

COORD Position(long cell, long width) {
    cell = std::max(cell, 0L);
    return {static_cast<SHORT>(cell % width), static_cast<SHORT>(cell / width)};
}

void Write(std::string_view bytes) {
    DWORD written = 0;
    if (!bytes.empty()) {
        WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

void RestoreAtExit() {
    if (started) {
        TakeFocusEventsOff(input, InterlockedCompareExchange(&focus_events_written, 0, 0) -
                                      InterlockedCompareExchange(&focus_events_read, 0, 0));
    }
    RestoreConsoleInputMode();
}

}  // namespace

void TakeFocusEventsOff(HANDLE console_input, LONG most) {
    std::array<INPUT_RECORD, 64> pending{};
    DWORD count = 0;
    if (most <= 0 ||
        !PeekConsoleInputW(console_input, pending.data(), static_cast<DWORD>(pending.size()),
                           &count) ||
        std::none_of(pending.begin(), pending.begin() + count,
                     [](const INPUT_RECORD& record) { return record.EventType == FOCUS_EVENT; }) ||
        !ReadConsoleInputW(console_input, pending.data(), count, &count)) {
        return;
    }
    const auto kept = std::remove_if(pending.begin(), pending.begin() + count,
                                     [&most](const INPUT_RECORD& record) {
                                         return record.EventType == FOCUS_EVENT && most-- > 0;
                                     });
    DWORD written = 0;
    if (kept != pending.begin()) {
        WriteConsoleInputW(console_input, pending.data(),
                           static_cast<DWORD>(kept - pending.begin()), &written);
    }
}

DWORD EditingInputMode(DWORD saved) {
    // Keys one by one, Ctrl-C and Ctrl-Break the console's stop requests
    // between lines; a change of the window's size arrives as an event.
    // QuickEdit, Insert and AutoPosition are set only with the extended
    // flags, all three at once: passed through as they were, or, where the
    // mode did not say them, left alone.
    constexpr DWORD kExtended =
        ENABLE_EXTENDED_FLAGS | ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE | ENABLE_AUTO_POSITION;
    return ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT |
           ((saved & ENABLE_EXTENDED_FLAGS) != 0 ? saved & kExtended : 0);
}

DWORD EditingOutputMode(DWORD saved) {
    // The cursor on the next row once a row is full, where the drawing
    // expects it, whatever a program before left.
    return (saved | ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT) &
           ~static_cast<DWORD>(DISABLE_NEWLINE_AUTO_RETURN);
}

void RestoreConsoleInputMode() {
    if (InterlockedExchange(&input_mode_changed, 0) != 0) {
        SetConsoleMode(input, saved_input_mode);
    }
    if (InterlockedExchange(&output_mode_changed, 0) != 0) {
        SetConsoleMode(output, saved_output_mode);
    }
}

bool TakeCtrlCAsKey() {
    if (InterlockedCompareExchange(&line_typed, 0, 0) == 0) {
        return false;
    }
    InterlockedExchange(&ctrl_c_taken, 1);
    SetEvent(reader_wake);
    WakeConsoleRead();
    return true;
}

bool OsTerminalStart() {
    input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
    output = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    if (!GetConsoleMode(input, &saved_input_mode) || !GetConsoleMode(output, &saved_output_mode)) {
        return false;
    }
    reader_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (reader_wake == nullptr) {
        return false;
    }
    editing_mode = EditingInputMode(saved_input_mode);
    InterlockedExchange(&input_mode_changed, 1);
    std::atexit(RestoreAtExit);
    if (!SetConsoleMode(input, editing_mode)) {
        RestoreConsoleInputMode();
        return false;
    }
    const DWORD output_mode = EditingOutputMode(saved_output_mode);
    if (output_mode != saved_output_mode) {
        InterlockedExchange(&output_mode_changed, 1);
        if (!SetConsoleMode(output, output_mode)) {
            RestoreConsoleInputMode();
            return false;
        }
    }
    key_decoder.code_page = GetACP();
    StartMeasuringCells(key_decoder.code_page);
    started = true;
    return true;
}

bool OsInputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))), &mode) != 0;
}

bool OsEchoOff() {
    input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
    DWORD mode = 0;
    if (started || !GetConsoleMode(input, &mode)) {
        return false;
    }
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(RestoreAtExit);
    }
    saved_input_mode = mode;
    InterlockedExchange(&input_mode_changed, 1);
    return SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

void OsEchoRestore() {
    RestoreConsoleInputMode();
    // The line break the console did not echo.
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
}

TextKind OsTerminalText() {
    return GetACP() == CP_UTF8 ? TextKind::kUtf8 : TextKind::kCodePage;
}

TextCharacter OsTextCharacter(std::string_view text) {
    return ConsoleTextCharacter(text);
}

int OsTerminalColumns() {
    return static_cast<int>(ReadScreen().width);
}

void OsTerminalLineBegins() {
    InterlockedExchange(&line_typed, 1);
    SetConsoleMode(input, editing_mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
    shown = 0;
    at = 0;
    last_length = 0;
}

void OsTerminalLineEnds() {
    SetConsoleMode(input, editing_mode);
    InterlockedExchange(&line_typed, 0);
    InterlockedExchange(&ctrl_c_taken, 0);
}

namespace {

// Input records read and not taken yet, and a key whose repeat count the
// keys' room could not hold: what is left goes out at the next wait.
std::array<INPUT_RECORD, 32> records{};
DWORD records_got = 0;
DWORD records_at = 0;
DecodedKeys repeated{};
WORD repeats_left = 0;

std::size_t TakeRecords(std::span<ConsoleKey> keys) {
    std::size_t count = 0;
    for (;;) {
        for (; repeats_left > 0 && count + repeated.count <= keys.size(); --repeats_left) {
            for (std::size_t key = 0; key < repeated.count; ++key) {
                keys[count++] = repeated.keys[key];
            }
        }
        if (repeats_left > 0 || records_at == records_got) {
            return count;
        }
        const INPUT_RECORD& record = records[records_at];
        if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) {
            // The keys before a change of size, then the change: the keys
            // after it are drawn at the new size.
            if (count > 0) {
                return count;
            }
            ++records_at;
            resized = true;
            return 0;
        }
        ++records_at;
        if (record.EventType != KEY_EVENT) {
            continue;
        }
        repeated = DecodeKeyEvent(key_decoder, record.Event.KeyEvent);
        if (repeated.unspelled) {
            Write("\a");  // the console sounds its beep, as at a full line
        }
        if (repeated.count > 0) {
            repeats_left = std::max<WORD>(record.Event.KeyEvent.wRepeatCount, 1);
        }
    }
}

}  // namespace

TerminalRead OsTerminalWait(std::span<char>, std::span<ConsoleKey> keys, bool) {
    const HANDLE stop = OsInputWakeEvent();
    const HANDLE waits[] = {input, reader_wake, stop};
    for (;;) {
        if (OsInputWaitWoken()) {
            return {TerminalInput::kStopped, 0};
        }
        if (InterlockedExchange(&ctrl_c_taken, 0) != 0) {
            keys[0] = {};
            keys[0].code = ConsoleKeyCode::kAbandon;
            return {TerminalInput::kKeys, 1};
        }
        if (const std::size_t count = TakeRecords(keys); count > 0) {
            return {TerminalInput::kKeys, count};
        }
        if (resized) {
            resized = false;
            return {TerminalInput::kResized, 0};
        }
        const DWORD woken = WaitForMultipleObjects(stop != nullptr ? 3 : 2, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 + 1) {
            if (InterlockedCompareExchange(&ctrl_c_taken, 0, 0) == 0) {
                return {TerminalInput::kWoken, 0};
            }
            continue;
        }
        if (woken != WAIT_OBJECT_0) {
            if (woken == WAIT_FAILED) {
                return {TerminalInput::kEnded, 0};
            }
            continue;
        }
        // Read at once, without first asking how many events wait: that
        // would be one more round trip to the console a key. Should the
        // input be signalled with nothing in it, every waker puts a focus
        // event in (WakeConsoleRead), so the read never outwaits a stop
        // request or a message.
        records_at = 0;
        records_got = 0;
        if (!ReadConsoleInputW(input, records.data(), static_cast<DWORD>(records.size()),
                               &records_got)) {
            return {TerminalInput::kEnded, 0};
        }
        InterlockedExchangeAdd(
            &focus_events_read,
            static_cast<LONG>(std::count_if(
                records.begin(), records.begin() + records_got,
                [](const INPUT_RECORD& record) { return record.EventType == FOCUS_EVENT; })));
    }
}

void OsTerminalWakeReader() {
    if (reader_wake != nullptr) {
        SetEvent(reader_wake);
        WakeConsoleRead();
    }
}

void WakeConsoleRead() {
    if (!started) {
        return;
    }
    // A focus event: a read returns with it, and no key comes of it.
    INPUT_RECORD record{};
    record.EventType = FOCUS_EVENT;
    record.Event.FocusEvent.bSetFocus = TRUE;
    DWORD written = 0;
    if (WriteConsoleInputW(input, &record, 1, &written) && written == 1) {
        InterlockedIncrement(&focus_events_written);
    }
}

namespace {

void DrawLine(std::string_view drawn, std::size_t cells, std::size_t cursor) {
    const std::string_view last(last_drawn.data(), last_length);
    // Typed at the end, as most keys are: written as the console would echo it.
    if (last_length > 0 && at == shown && static_cast<long>(cells) >= shown && cursor == cells &&
        drawn.starts_with(last)) {
        Write(drawn.substr(last.size()));
    } else {
        // The start is found from the cursor, so a console that scrolled or
        // changed width moves it along; where the text ends tells where it
        // started, even when writing it scrolled the buffer.
        Screen screen = ReadScreen();
        SetConsoleCursorPosition(output, Position(screen.cursor - at, screen.width));
        Write(drawn);
        screen = ReadScreen();
        if (shown > static_cast<long>(cells)) {
            DWORD blanked = 0;
            FillConsoleOutputCharacterA(output, ' ', static_cast<DWORD>(shown - cells),
                                        Position(screen.cursor, screen.width), &blanked);
        }
        const long start = screen.cursor - static_cast<long>(cells);
        if (cursor != cells) {
            SetConsoleCursorPosition(output,
                                     Position(start + static_cast<long>(cursor), screen.width));
        }
    }
    shown = static_cast<long>(cells);
    at = static_cast<long>(cursor);
    last_length = drawn.copy(last_drawn.data(), last_drawn.size());
}

void EraseLine() {
    const Screen screen = ReadScreen();
    const long start = screen.cursor - at;
    DWORD blanked = 0;
    FillConsoleOutputCharacterA(output, ' ', static_cast<DWORD>(shown),
                                Position(start, screen.width), &blanked);
    SetConsoleCursorPosition(output, Position(start, screen.width));
    shown = 0;
    at = 0;
    last_length = 0;
}

void EndLine() {
    const Screen screen = ReadScreen();
    const long end = screen.cursor - at + shown;
    if (at != shown) {
        SetConsoleCursorPosition(output, Position(end, screen.width));
    }
    // A line that fills its last row to the end has the cursor on the next
    // row already: the console wraps as soon as the row's last cell is
    // written.
    if (shown == 0 || end % screen.width != 0) {
        Write("\r\n");
    }
    shown = 0;
    at = 0;
    last_length = 0;
}

// Clears the window's rows and puts the cursor at its top left corner.
void ClearWindow() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info)) {
        return;
    }
    const COORD top{0, info.srWindow.Top};
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) *
                        static_cast<DWORD>(info.srWindow.Bottom - info.srWindow.Top + 1);
    DWORD done = 0;
    FillConsoleOutputCharacterA(output, ' ', cells, top, &done);
    FillConsoleOutputAttribute(output, info.wAttributes, cells, top, &done);
    SetConsoleCursorPosition(output, top);
    shown = 0;
    at = 0;
    last_length = 0;
}

}  // namespace

int OsTerminalDraw(const TerminalDrawing& drawing) {
    switch (drawing.step) {
        case DrawStep::kLine:
            DrawLine(drawing.text, drawing.cells, drawing.cursor);
            break;
        case DrawStep::kHide:
            EraseLine();
            break;
        case DrawStep::kEnd:
            EndLine();
            break;
        case DrawStep::kWrite:
            Write(drawing.text);
            break;
        case DrawStep::kClear:
            ClearWindow();
            break;
        case DrawStep::kBell:
            Write("\a");  // the console sounds its beep
            break;
    }
    return 0;
}
