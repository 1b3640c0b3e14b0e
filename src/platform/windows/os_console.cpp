// Standard input, output and error through the C runtime's descriptors, switched to
// binary so that the program's own text rules (text_stream.h) apply unchanged.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/os_console.h"
#include "platform/os_run_state.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/input_wait_events.h"

void OsConsoleInit() {
    // A windowed program may have no standard streams at all; then these fail
    // and every read sees the end of input.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    UseAnsiCodePageOnConsole();
}

namespace {

// A read of standard input that may wait runs on a thread of its own, and the
// thread that wants the bytes waits for them together with the stop event; on
// a stop it returns at once and leaves the read behind, unfinished, to end
// with the process. Nothing else ends such a read on Windows and Wine alike:
//   - standard input is opened for synchronous I/O by whoever made it (an
//     anonymous pipe always is), so an overlapped read blocks all the same;
//   - Wine 8 fails CancelSynchronousIo, and on Windows a cancel that lands
//     just before the read starts is lost;
//   - a console reads a whole line in one read, typed, edited and echoed
//     inside it, so waiting on the console handle first would leave the
//     typing of every line as a time in which a stop is not seen, and a
//     console signals on key releases and focus changes as well;
//   - peeking at a pipe means waking up to poll it.
// A file on disk never waits: it is read directly.
struct InputReader {
    HANDLE thread = nullptr;
    HANDLE wanted = nullptr;  // auto-reset: the reader thread reads once
    HANDLE done = nullptr;    // auto-reset: the read has ended
    // Written by the reader thread between `wanted` and `done` only.
    HANDLE input = nullptr;
    DWORD requested = 0;
    DWORD got = 0;
    BOOL succeeded = FALSE;
    DWORD error = NO_ERROR;
    std::array<char, 4096> bytes{};
    // Owned by the thread that asks for the bytes.
    bool in_flight = false;
    // Ctrl-C came while a console line was read: what comes back up to the
    // end of that line is dropped.
    bool dropping = false;
    bool from_console = false;
    std::size_t offset = 0;
    std::size_t remaining = 0;
};

InputReader input_reader;

// A console line, read in UTF-16 (a console's ReadFile loses what its code
// page cannot convert: every non-ASCII character at 65001 on Windows 10),
// then spelled in the ANSI code page by the program's own rules.
BOOL ReadConsoleLine(HANDLE input, std::span<char> bytes, DWORD& got) {
    std::array<WCHAR, 4096 / kMostBytesPerUnit> units;
    DWORD units_got = 0;
    const auto wanted = static_cast<DWORD>(
        std::clamp<std::size_t>(bytes.size() / kMostBytesPerUnit, 1, units.size()));
    if (!ReadConsoleW(input, units.data(), wanted, &units_got, nullptr)) {
        return FALSE;
    }
    got = static_cast<DWORD>(SpellLineInCodePage(GetACP(), {units.data(), units_got}, bytes));
    return TRUE;
}

DWORD WINAPI ReadWhenWanted(void*) {
    for (;;) {
        if (WaitForSingleObject(input_reader.wanted, INFINITE) != WAIT_OBJECT_0) {
            return 0;
        }
        DWORD got = 0;
        input_reader.succeeded =
            input_reader.from_console
                ? ReadConsoleLine(input_reader.input,
                                  std::span(input_reader.bytes.data(), input_reader.requested), got)
                : ReadFile(input_reader.input, input_reader.bytes.data(), input_reader.requested,
                           &got, nullptr);
        input_reader.error = input_reader.succeeded ? NO_ERROR : GetLastError();
        input_reader.got = got;
        SetEvent(input_reader.done);
    }
}

bool StartInputReader() {
    if (input_reader.thread != nullptr) {
        return true;
    }
    input_reader.wanted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    input_reader.done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (input_reader.wanted == nullptr || input_reader.done == nullptr) {
        return false;
    }
    constexpr SIZE_T kStackBytes = 64 * 1024;
    input_reader.thread = CreateThread(nullptr, kStackBytes, ReadWhenWanted, nullptr,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return input_reader.thread != nullptr;
}

// The errno value that names a failed read's system error in a message.
int ErrnoOfReadError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_INVALID_FUNCTION:  // a folder, read as a file
            return EISDIR;
        default:
            return EIO;
    }
}

// What a finished ReadFile means for the text: the end of a pipe, a file or a
// console line aborted by Ctrl-C is the end of input; anything else fails it,
// with errno set.
std::ptrdiff_t ReadResult(BOOL succeeded, DWORD got, DWORD error) {
    if (succeeded) {
        return static_cast<std::ptrdiff_t>(got);
    }
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ||
        error == ERROR_OPERATION_ABORTED) {
        return 0;
    }
    errno = ErrnoOfReadError(error);
    return -1;
}

std::ptrdiff_t ReadDirectly(HANDLE input, char* buffer, std::size_t capacity) {
    constexpr std::size_t kMostPerRead = 1 << 30;
    DWORD got = 0;
    const BOOL succeeded = ReadFile(
        input, buffer, static_cast<DWORD>(std::min(capacity, kMostPerRead)), &got, nullptr);
    return ReadResult(succeeded, got, succeeded ? NO_ERROR : GetLastError());
}

// Ctrl-C at the console: what it holds of the line typed goes, and so does
// what the read in flight brings back for it. Whether Ctrl-C ends a console
// read no document says (Windows ends it, Wine keeps the line being typed
// for the next Enter): an Enter put into the input ends it either way, and
// what comes back up to a line's end is dropped.
std::ptrdiff_t Interrupted(HANDLE input) {
    FlushConsoleInputBuffer(input);
    if (input_reader.in_flight && input_reader.from_console) {
        INPUT_RECORD enter[2]{};
        for (int event = 0; event < 2; ++event) {
            enter[event].EventType = KEY_EVENT;
            enter[event].Event.KeyEvent = {event == 0, 1, VK_RETURN, 0, {L'\r'}, 0};
        }
        DWORD written = 0;
        input_reader.dropping = WriteConsoleInputW(input, enter, 2, &written) && written == 2;
    }
    return kOsInputInterrupted;
}

// The read drops up to the end of the line Ctrl-C ended.
bool DroppedAfterCtrlC() {
    if (!input_reader.dropping) {
        return false;
    }
    if (!input_reader.succeeded && input_reader.error != ERROR_OPERATION_ABORTED) {
        input_reader.dropping = false;
        return false;
    }
    const std::string_view got(input_reader.bytes.data(),
                               input_reader.succeeded ? input_reader.got : 0);
    input_reader.dropping = !got.ends_with('\n');
    return true;
}

std::ptrdiff_t ReadOnInputReader(HANDLE input, char* buffer, std::size_t capacity) {
    while (input_reader.remaining == 0) {
        if (OsTakeInputInterrupt(false)) {
            return Interrupted(input);
        }
        // A read left behind by a stop is collected, not asked for twice.
        if (!input_reader.in_flight) {
            input_reader.input = input;
            input_reader.requested =
                static_cast<DWORD>(std::min(capacity, input_reader.bytes.size()));
            input_reader.in_flight = true;
            SetEvent(input_reader.wanted);
        }
        // The stop event first: when both are set, the stop wins.
        const HANDLE waits[] = {OsInputWakeEvent(), OsInputInterruptEvent(), input_reader.done};
        const DWORD woken = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            return 0;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            if (OsTakeInputInterrupt(true)) {
                return Interrupted(input);
            }
            continue;
        }
        if (woken != WAIT_OBJECT_0 + 2) {
            return -1;
        }
        input_reader.in_flight = false;
        if (DroppedAfterCtrlC()) {
            continue;
        }
        const std::ptrdiff_t result =
            ReadResult(input_reader.succeeded, input_reader.got, input_reader.error);
        if (result <= 0) {
            return result;
        }
        input_reader.offset = 0;
        input_reader.remaining = static_cast<std::size_t>(result);
    }
    const std::size_t count = std::min(capacity, input_reader.remaining);
    std::memcpy(buffer, input_reader.bytes.data() + input_reader.offset, count);
    input_reader.offset += count;
    input_reader.remaining -= count;
    return static_cast<std::ptrdiff_t>(count);
}

}  // namespace

std::ptrdiff_t OsReadStandardInput(void*, char* buffer, std::size_t capacity) {
    if (OsInputWaitWoken()) {
        return 0;
    }
    const auto input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
    // Standard input keeps its kind for the run: asked once, not per read.
    static const bool read_directly = GetFileType(input) == FILE_TYPE_DISK ||
                                      OsInputWakeEvent() == nullptr ||
                                      OsInputInterruptEvent() == nullptr || !StartInputReader();
    static const bool from_console = [input] {
        DWORD mode = 0;
        return GetConsoleMode(input, &mode) != 0;
    }();
    input_reader.from_console = from_console;
    if (read_directly) {
        return ReadDirectly(input, buffer, capacity);
    }
    return ReadOnInputReader(input, buffer, capacity);
}

bool OsDrawingIsOutput() {
    return false;
}

int OsWriteStandardOutput(const char* bytes, std::size_t length) {
    const int descriptor = _fileno(stdout);
    while (length > 0) {
        const unsigned int piece = length < INT_MAX ? static_cast<unsigned int>(length) : INT_MAX;
        const int count = _write(descriptor, bytes, piece);
        if (count < 0) {
            return errno;
        }
        if (count == 0) {
            return EIO;  // no progress: waiting would never end
        }
        bytes += count;
        length -= static_cast<std::size_t>(count);
    }
    return 0;
}

void OsWriteStandardError(const char* bytes, std::size_t length) {
    const int descriptor = _fileno(stderr);
    while (length > 0) {
        const unsigned int piece = length < INT_MAX ? static_cast<unsigned int>(length) : INT_MAX;
        const int count = _write(descriptor, bytes, piece);
        if (count <= 0) {
            return;
        }
        bytes += count;
        length -= static_cast<std::size_t>(count);
    }
}
