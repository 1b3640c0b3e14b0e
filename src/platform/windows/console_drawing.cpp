// The line being typed drawn with the console's own calls: what typing
// added written as the console would echo it, anything else drawn again
// from where the line starts, found from the cursor.
#include "platform/windows/console_drawing.h"

#include <algorithm>
#include <array>

namespace {

HANDLE output = nullptr;

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

void StartDrawing(HANDLE console_output) {
    output = console_output;
}

void ForgetDrawnLine() {
    shown = 0;
    at = 0;
    last_length = 0;
}

void RingBell() {
    Write("\a");  // the console sounds its beep
}

int ConsoleColumns() {
    return static_cast<int>(ReadScreen().width);
}

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
            RingBell();
            break;
    }
    return 0;
}
