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

#include "platform/os_run_state.h"
#include "platform/os_terminal.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/console_input_mode.h"
#include "platform/windows/input_wake.h"

namespace {

HANDLE input = nullptr;
HANDLE output = nullptr;
HANDLE reader_wake = nullptr;  // auto-reset
DWORD saved_input_mode = 0;
DWORD editing_mode = 0;
LONG input_mode_changed = 0;
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

// A key event as the editor's key: false when it is none (a key-up, a shift
// key alone). A character that comes on Alt's key-up (Alt and the keypad's
// digits, a pasted character the layout lacks) is taken; a control character
// never enters the line; a character the ANSI code page cannot spell is not
// taken.
bool DecodeKeyEvent(const KEY_EVENT_RECORD& event, Key& key) {
    const WCHAR character = event.uChar.UnicodeChar;
    key = {};
    if (!event.bKeyDown) {
        if (event.wVirtualKeyCode != VK_MENU || character == 0) {
            return false;
        }
    } else {
        const bool ctrl = (event.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
        const bool alt = (event.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
        switch (event.wVirtualKeyCode) {
            case VK_LEFT:
                key.name = ctrl || alt ? KeyName::kWordLeft : KeyName::kLeft;
                return true;
            case VK_RIGHT:
                key.name = ctrl || alt ? KeyName::kWordRight : KeyName::kRight;
                return true;
            case VK_HOME:
                key.name = KeyName::kHome;
                return true;
            case VK_END:
                key.name = KeyName::kEnd;
                return true;
            case VK_DELETE:
                key.name = KeyName::kDelete;
                return true;
            case VK_UP:
                key.name = KeyName::kUp;
                return true;
            case VK_DOWN:
                key.name = KeyName::kDown;
                return true;
            case VK_ESCAPE:  // Wine's console gives it no character
                key.name = KeyName::kClear;
                return true;
            case VK_BACK:
                key.name = ctrl ? KeyName::kEraseWord : KeyName::kBackspace;
                return true;
            default:
                break;
        }
        if (character == 0) {
            return false;
        }
    }
    if (character == 0x1a) {  // Ctrl-Z: ends the input once Enter follows
        key = {KeyName::kCharacter, '\x1a'};
        return true;
    }
    // Ctrl+Backspace, as some consoles deliver it.
    if (character == 0x7f) {
        key.name = KeyName::kEraseWord;
        return true;
    }
    if (character < 0x20) {
        key.name = ControlCharacterKey(static_cast<unsigned char>(character));
        return true;
    }
    char converted = 0;
    if (AnsiCharacter(character, &converted)) {
        key = {KeyName::kCharacter, converted};
    }
    return true;
}

void RestoreAtExit() {
    RestoreConsoleInputMode();
}

}  // namespace

void RestoreConsoleInputMode() {
    if (InterlockedExchange(&input_mode_changed, 0) != 0) {
        SetConsoleMode(input, saved_input_mode);
    }
}

bool TakeCtrlCAsKey() {
    if (InterlockedCompareExchange(&line_typed, 0, 0) == 0) {
        return false;
    }
    InterlockedExchange(&ctrl_c_taken, 1);
    SetEvent(reader_wake);
    return true;
}

bool OsTerminalStart() {
    input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
    output = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD output_mode = 0;
    if (!GetConsoleMode(input, &saved_input_mode) || !GetConsoleMode(output, &output_mode)) {
        return false;
    }
    reader_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (reader_wake == nullptr) {
        return false;
    }
    // Keys one by one, Ctrl-C and Ctrl-Break the console's stop requests
    // between lines; a change of the window's size arrives as an event.
    editing_mode = ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS |
                   (saved_input_mode & ENABLE_QUICK_EDIT_MODE);
    InterlockedExchange(&input_mode_changed, 1);
    std::atexit(RestoreAtExit);
    if (!SetConsoleMode(input, editing_mode)) {
        RestoreConsoleInputMode();
        return false;
    }
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
    return TextKind::kSingleByte;
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

TerminalRead OsTerminalWait(std::span<char>, std::span<Key> keys, bool) {
    const HANDLE stop = OsInputWakeEvent();
    const HANDLE waits[] = {input, reader_wake, stop};
    for (;;) {
        if (OsInputWaitWoken()) {
            return {TerminalInput::kStopped, 0};
        }
        if (InterlockedExchange(&ctrl_c_taken, 0) != 0) {
            keys[0] = {KeyName::kAbandon, 0};
            return {TerminalInput::kKeys, 1};
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
        DWORD pending = 0;
        if (!GetNumberOfConsoleInputEvents(input, &pending)) {
            return {TerminalInput::kEnded, 0};
        }
        if (pending == 0) {
            continue;
        }
        std::array<INPUT_RECORD, 32> records{};
        DWORD got = 0;
        if (!ReadConsoleInputW(input, records.data(),
                               std::min<DWORD>(pending, static_cast<DWORD>(records.size())),
                               &got)) {
            return {TerminalInput::kEnded, 0};
        }
        std::size_t count = 0;
        for (const INPUT_RECORD& record : std::span(records).first(got)) {
            if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) {
                resized = true;
                continue;
            }
            Key key;
            if (record.EventType != KEY_EVENT || !DecodeKeyEvent(record.Event.KeyEvent, key)) {
                continue;
            }
            const WORD repeat = std::max<WORD>(record.Event.KeyEvent.wRepeatCount, 1);
            for (WORD time = 0; time < repeat && count < keys.size(); ++time) {
                keys[count++] = key;
            }
        }
        if (count > 0) {
            return {TerminalInput::kKeys, count};
        }
    }
}

void OsTerminalWakeReader() {
    if (reader_wake != nullptr) {
        SetEvent(reader_wake);
    }
}

bool OsTerminalDrawsByCalls() {
    return true;
}

void OsConsoleDrawLine(std::string_view drawn, std::size_t cells, std::size_t cursor) {
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

void OsConsoleEraseLine() {
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

void OsConsoleEndLine() {
    if (at != shown) {
        const Screen screen = ReadScreen();
        SetConsoleCursorPosition(output, Position(screen.cursor - at + shown, screen.width));
    }
    Write("\r\n");
    shown = 0;
    at = 0;
    last_length = 0;
}
