// Windows side of os_run_state.h: console control events stand for the POSIX
// stop signals, and an event ends a wait for standard input (see
// os_console.cpp).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/os_run_state.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/console_session.h"
#include "platform/windows/os_run_state_private.h"
#include "platform/windows/session_end_window.h"

namespace {

// Set by a stop request or lost output until the next run.
HANDLE input_wake = nullptr;
// Set by Ctrl-C that interrupts, until a read of standard input takes it.
HANDLE input_interrupt = nullptr;
LONG input_interrupted = 0;
// Standard input is a console: the Ctrl-C it sends may interrupt.
bool input_is_console = false;
// Set once the run is over and the process exits.
HANDLE run_ended = nullptr;
LONG input_wait_woken = 0;

// Set before any handler is installed.
OsRunEvents run_events{};

void MarkRunEnded() {
    SetEvent(run_ended);
}

bool IsStopEvent(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
           event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

DWORD program_thread_id = 0;
LONG crash_served = 0;

bool OnProgramThread() {
    return GetCurrentThreadId() == program_thread_id;
}

// The first crash only: one that comes while it is served ends as it would.
bool FirstCrash() {
    return InterlockedExchange(&crash_served, 1) == 0;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    if (FirstCrash()) {
        constexpr std::string_view kDigits = "0123456789ABCDEF";
        const DWORD code = exception->ExceptionRecord->ExceptionCode;
        std::array<char, 22> cause{};
        std::string_view("exception 0x").copy(cause.data(), cause.size());
        for (int digit = 0; digit < 8; ++digit) {
            cause[12 + static_cast<std::size_t>(digit)] = kDigits[(code >> (28 - 4 * digit)) & 0xF];
        }
        run_events.ending(std::string_view(cause.data(), 20), true, OnProgramThread());
        RestoreConsoleCodePages();
        RestoreConsoleInputMode();
    }
    // A debugger sees the exception as it came. Otherwise the process ends at
    // once with the exception's code as its exit status, as the system ends
    // it: the system's own way runs its report first, and on Wine (starting
    // its debugger) may end the process with status 0, which would tell a
    // script that all went well.
    if (IsDebuggerPresent()) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    AwaitSessionWindowSettled();
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The C runtime's abort ends the process with status 3 once this returns.
void OnAbortSignal(int) {
    if (FirstCrash()) {
        run_events.ending("signal SIGABRT", true, OnProgramThread());
        RestoreConsoleCodePages();
        RestoreConsoleInputMode();
    }
    AwaitSessionWindowSettled();
}

// The session's end is a stop request as a log-off event is.
void EndTheRunForTheSession() {
    run_events.stop_requested(static_cast<int>(STATUS_CONTROL_C_EXIT));
}

}  // namespace

// Runs on a thread of its own for each event.
BOOL WINAPI OsOnConsoleControl(DWORD event) {
    if (!IsStopEvent(event)) {
        return FALSE;
    }
    // While a line is typed Ctrl-C abandons it, whether the console hands it
    // on as a key or as this event.
    if (event == CTRL_C_EVENT && TakeCtrlCAsKey()) {
        return TRUE;
    }
    const OsInterrupt interrupt = event == CTRL_C_EVENT && input_is_console
                                      ? run_events.interrupted()
                                      : OsInterrupt::kNotTaken;
    if (interrupt == OsInterrupt::kTaken) {
        return TRUE;
    }
    // The status Windows gives a console program that Ctrl-C ends.
    if (interrupt == OsInterrupt::kAgain ||
        !run_events.stop_requested(static_cast<int>(STATUS_CONTROL_C_EXIT))) {
        // A second request while the first is being served: end now, as the
        // event would have without a handler, leaving the console as it was.
        RestoreConsoleCodePages();
        RestoreConsoleInputMode();
        AwaitSessionWindowSettled();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    }
    // After the close, log-off and shutdown events the system ends the
    // process once this returns: hold it until the library is stopped. The
    // system also ends it when its time for the event runs out (5 seconds
    // after a close); the request ends a wait for input at once and the
    // stress test at its next round, so the stop comes well within it.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        WaitForSingleObject(run_ended, INFINITE);
    }
    return TRUE;
}

namespace {

// A descriptor without a handle, or with a handle that names nothing (the
// emulator's view of a closed POSIX descriptor), is missing.
bool IsMissing(std::FILE* stream, int descriptor) {
    const intptr_t handle = _get_osfhandle(descriptor);
    if (_fileno(stream) < 0 || handle == -1 || handle == -2) {
        return true;
    }
    SetLastError(NO_ERROR);
    return GetFileType(reinterpret_cast<HANDLE>(handle)) == FILE_TYPE_UNKNOWN &&
           GetLastError() != NO_ERROR;
}

}  // namespace

bool OsOpenMissingStandardStreams() {
    bool output_missing = false;
    const struct {
        std::FILE* stream;
        int descriptor;
        DWORD standard;
        int access;
    } streams[] = {{stdin, 0, STD_INPUT_HANDLE, _O_RDONLY},
                   {stdout, 1, STD_OUTPUT_HANDLE, _O_WRONLY},
                   {stderr, 2, STD_ERROR_HANDLE, _O_WRONLY}};
    for (const auto& standard : streams) {
        // A windowed program started without redirections has none of them.
        if (!IsMissing(standard.stream, standard.descriptor)) {
            continue;
        }
        output_missing = output_missing || standard.descriptor == 1;
        const int null_device = _open("NUL", standard.access | _O_BINARY);
        if (null_device < 0) {
            continue;
        }
        if (null_device != standard.descriptor) {
            _dup2(null_device, standard.descriptor);
            _close(null_device);
        }
        // The C runtime gives the stream of a missing handle no descriptor
        // at all, which freopen cannot mend: point it at the new one.
        standard.stream->_file = standard.descriptor;
        SetStdHandle(standard.standard,
                     reinterpret_cast<HANDLE>(_get_osfhandle(standard.descriptor)));
    }
    return output_missing;
}

bool OsWatchStopRequests(OsRunEvents events) {
    run_events = events;
    InterlockedExchange(&input_wait_woken, 0);
    InterlockedExchange(&input_interrupted, 0);
    if (run_ended == nullptr) {
        run_ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        // Before the wake event, whose presence tells the Windows tests that
        // the run watches for stop requests.
        WatchSessionEnd(EndTheRunForTheSession, run_ended);
        input_wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        input_interrupt = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::atexit(MarkRunEnded);
    }
    ResetEvent(run_ended);
    ResetEvent(input_wake);
    ResetEvent(input_interrupt);
    DWORD mode = 0;
    input_is_console =
        GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))), &mode) != 0;
    // A parent that ignored Ctrl-C (`start /b`, a new process group) passes
    // that on: Ctrl-C typed at the console is ours to take again.
    if (input_is_console) {
        SetConsoleCtrlHandler(nullptr, FALSE);
    }
    SetConsoleCtrlHandler(OsOnConsoleControl, TRUE);
    program_thread_id = GetCurrentThreadId();
    crash_served = 0;
    SetUnhandledExceptionFilter(OnUnhandledException);
    std::signal(SIGABRT, OnAbortSignal);
    return input_is_console;
}

void OsWakeInputWait() {
    InterlockedExchange(&input_wait_woken, 1);
    SetEvent(input_wake);
    WakeConsoleRead();
}

bool OsInputWaitWoken() {
    return InterlockedCompareExchange(&input_wait_woken, 0, 0) != 0;
}

HANDLE OsInputWakeEvent() {
    return input_wake;
}

void OsInterruptInputWait() {
    InterlockedExchange(&input_interrupted, 1);
    SetEvent(input_interrupt);
}

void OsForgetInputInterrupt() {
    static_cast<void>(OsTakeInputInterrupt(false));
}

HANDLE OsInputInterruptEvent() {
    return input_interrupt;
}

bool OsTakeInputInterrupt(bool woken) {
    if (!woken && InterlockedCompareExchange(&input_interrupted, 0, 0) == 0) {
        return false;
    }
    // The latch is set before the event: an event left set wakes a later
    // wait, which resets it here and goes on.
    ResetEvent(input_interrupt);
    return InterlockedExchange(&input_interrupted, 0) != 0;
}

unsigned long long OsMonotonicMilliseconds() {
    return GetTickCount64();
}

// The C runtime reports a pipe without a reader as EPIPE, or as EINVAL for
// the errors it has no errno for; the system's own error tells them apart.
bool OsReaderWentAway(int error) {
    if (error == EPIPE) {
        return true;
    }
    const unsigned long system_error = _doserrno;
    return error == EINVAL && (system_error == ERROR_NO_DATA || system_error == ERROR_BROKEN_PIPE ||
                               system_error == ERROR_PIPE_NOT_CONNECTED);
}

OsTextPoint OsDecodeTextPoint(std::string_view text) {
    // The shortest run of bytes that converts whole is the character: a
    // lead byte alone, or a sequence cut short, is refused by the flag.
    wchar_t wide[2] = {};
    const std::size_t longest = text.size() < 4 ? text.size() : 4;
    for (std::size_t bytes = 1; bytes <= longest; ++bytes) {
        const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                              static_cast<int>(bytes), wide, 2);
        if (units == 1) {
            return {bytes, static_cast<char32_t>(wide[0])};
        }
        if (units == 2 && wide[0] >= 0xD800 && wide[0] < 0xDC00 && wide[1] >= 0xDC00 &&
            wide[1] < 0xE000) {
            return {bytes, 0x10000 + ((static_cast<char32_t>(wide[0]) - 0xD800) << 10) +
                               (static_cast<char32_t>(wide[1]) - 0xDC00)};
        }
        if (units == 2) {
            return {};  // two characters: the first byte alone is none
        }
    }
    return {};
}
