// A console for the line editor: its input and output modes set for the
// session and given back whole on every way out, and waits on the console's
// input beside the stop event and an event that wakes the reader for a
// message. The keys are decoded in console_keys.cpp, the cells measured in
// console_cells.cpp, the line drawn in console_drawing.cpp.
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
#include "platform/windows/console_drawing.h"
#include "platform/windows/console_keys.h"
#include "platform/windows/console_session.h"
#include "platform/windows/input_wait_events.h"

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
    StartDrawing(output);
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
    return ConsoleColumns();
}

void OsTerminalLineBegins() {
    InterlockedExchange(&line_typed, 1);
    SetConsoleMode(input, editing_mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
    ForgetDrawnLine();
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
            RingBell();  // as at a full line
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

std::size_t OsTerminalReadWithin(std::span<char>, int) {
    return 0;
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
