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
#include "platform/windows/console_code_page.h"
#include "platform/windows/os_run_state_private.h"
#include "platform/windows/os_terminal_private.h"

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

// The ANSI code page, which typed characters are spelled in.
UINT code_page = CP_ACP;
// The first half of a character outside the Basic Multilingual Plane, until
// its second half arrives.
WCHAR high_surrogate = 0;

bool IsHighSurrogate(WCHAR unit) {
    return unit >= 0xd800 && unit <= 0xdbff;
}

bool IsLowSurrogate(WCHAR unit) {
    return unit >= 0xdc00 && unit <= 0xdfff;
}

// A key event as a console key: false when it is none (a key-up, a shift key
// alone, half a character). A character that comes on Alt's key-up (Alt and
// the keypad's digits, a pasted character the layout lacks) is taken; a
// character the ANSI code page cannot spell is not.
bool DecodeKeyEvent(const KEY_EVENT_RECORD& event, ConsoleKey& key) {
    const WCHAR character = event.uChar.UnicodeChar;
    key = {};
    if (!event.bKeyDown) {
        if (event.wVirtualKeyCode != VK_MENU || character == 0) {
            return false;
        }
    } else {
        key.ctrl = (event.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
        key.alt = (event.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
        switch (event.wVirtualKeyCode) {
            case VK_LEFT:
                key.code = ConsoleKeyCode::kLeft;
                return true;
            case VK_RIGHT:
                key.code = ConsoleKeyCode::kRight;
                return true;
            case VK_HOME:
                key.code = ConsoleKeyCode::kHome;
                return true;
            case VK_END:
                key.code = ConsoleKeyCode::kEnd;
                return true;
            case VK_DELETE:
                key.code = ConsoleKeyCode::kDelete;
                return true;
            case VK_UP:
                key.code = ConsoleKeyCode::kUp;
                return true;
            case VK_DOWN:
                key.code = ConsoleKeyCode::kDown;
                return true;
            case VK_ESCAPE:  // Wine's console gives it no character
                key.code = ConsoleKeyCode::kEscape;
                return true;
            case VK_BACK:
                key.code = ConsoleKeyCode::kBackspace;
                return true;
            default:
                break;
        }
        if (character == 0) {
            return false;
        }
    }
    if (IsHighSurrogate(character)) {
        high_surrogate = character;
        return false;
    }
    const WCHAR units[] = {high_surrogate, character};
    const bool pair = high_surrogate != 0 && IsLowSurrogate(character);
    high_surrogate = 0;
    if (IsLowSurrogate(character) && !pair) {
        return false;  // half a character whose first half was lost
    }
    const std::wstring_view typed =
        pair ? std::wstring_view(units, 2) : std::wstring_view(units + 1, 1);
    if (character < 0x80) {
        key.bytes[0] = static_cast<char>(character);
        key.length = 1;
        return true;
    }
    key.length = static_cast<unsigned char>(SpellInCodePage(code_page, typed, key.bytes));
    // Not spelled: the key does nothing.
    return key.length > 0;
}

// How many cells the console draws a character in: East Asian wide and
// fullwidth characters take two, combining marks none.
struct CodeRange {
    char32_t first;
    char32_t last;
};

constexpr CodeRange kWideRanges[] = {
    {0x1100, 0x115f}, {0x2e80, 0x303e},   {0x3041, 0x33ff},   {0x3400, 0x4dbf},   {0x4e00, 0x9fff},
    {0xa000, 0xa4cf}, {0xac00, 0xd7a3},   {0xf900, 0xfaff},   {0xfe30, 0xfe4f},   {0xff00, 0xff60},
    {0xffe0, 0xffe6}, {0x1f300, 0x1f64f}, {0x1f900, 0x1f9ff}, {0x20000, 0x3fffd},
};

constexpr CodeRange kCombiningRanges[] = {
    {0x0300, 0x036f}, {0x0483, 0x0489}, {0x0591, 0x05bd}, {0x0610, 0x061a},
    {0x064b, 0x065f}, {0x0e31, 0x0e31}, {0x0e34, 0x0e3a}, {0x0e47, 0x0e4e},
    {0x1ab0, 0x1aff}, {0x1dc0, 0x1dff}, {0x200b, 0x200f}, {0x20d0, 0x20ff},
    {0x302a, 0x302f}, {0x3099, 0x309a}, {0xfe00, 0xfe0f}, {0xfe20, 0xfe2f},
};

bool InRanges(char32_t code, std::span<const CodeRange> ranges) {
    return std::any_of(ranges.begin(), ranges.end(), [code](const CodeRange& range) {
        return code >= range.first && code <= range.last;
    });
}

std::size_t CellsOf(char32_t code) {
    return InRanges(code, kCombiningRanges) ? 0 : InRanges(code, kWideRanges) ? 2 : 1;
}

// Whether the console gives every UTF-16 unit a cell of its own, a wide
// character one and a combining mark one (Wine's does), rather than drawing
// them as a terminal does.
bool cell_per_unit = false;

// Measured on a screen buffer of the console's that is never shown.
bool ConsoleGivesEachUnitACell() {
    const HANDLE buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                    CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool one = WriteConsoleW(buffer, L"\u4e2d", 1, &written, nullptr) && written == 1 &&
                     GetConsoleScreenBufferInfo(buffer, &info) && info.dwCursorPosition.X == 1;
    CloseHandle(buffer);
    return one;
}

// The character `text` starts with in `code_page`, read as UTF-16.
TextCharacter CodePageCharacter(std::string_view text) {
    std::size_t bytes = 1;
    if (code_page == CP_UTF8) {
        const auto lead = static_cast<unsigned char>(text[0]);
        bytes = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    } else if (IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[0]))) {
        bytes = 2;
    }
    // A character cut off by the text's end runs to its end, so a cut at a
    // field's room never keeps part of it.
    if (bytes > text.size()) {
        return {text.size(), 1};
    }
    WCHAR units[2];
    const int count = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(bytes), units, 2);
    if (count <= 0) {
        return {};
    }
    if (cell_per_unit) {
        return {bytes, static_cast<std::size_t>(count)};
    }
    // A double-byte code page's console draws each of its bytes in a cell.
    if (code_page != CP_UTF8 && bytes == 2) {
        return {2, 2};
    }
    const char32_t code =
        count == 2 ? 0x10000 + ((units[0] - 0xd800) << 10) + (units[1] - 0xdc00) : units[0];
    return {bytes, CellsOf(code)};
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
    WakeConsoleRead();
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
    code_page = GetACP();
    cell_per_unit = ConsoleGivesEachUnitACell();
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
    if (text.empty()) {
        return {};
    }
    return CodePageCharacter(text);
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
ConsoleKey repeated{};
WORD repeats_left = 0;

std::size_t TakeRecords(std::span<ConsoleKey> keys) {
    std::size_t count = 0;
    for (;;) {
        for (; repeats_left > 0 && count < keys.size(); --repeats_left) {
            keys[count++] = repeated;
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
        if (record.EventType == KEY_EVENT && DecodeKeyEvent(record.Event.KeyEvent, repeated)) {
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
    WriteConsoleInputW(input, &record, 1, &written);
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
