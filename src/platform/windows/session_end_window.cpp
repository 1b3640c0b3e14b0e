// Per "Shutting Down" and the WM_QUERYENDSESSION / WM_ENDSESSION pages of
// Microsoft's documentation: every top-level window, visible or not, gets
// both messages; once all have answered WM_ENDSESSION the session may end
// the process at any time, so the answer waits until the run has ended.
// A message-only window (HWND_MESSAGE) gets no broadcast, hence a hidden
// top-level one.
#include "platform/windows/session_end_window.h"

#include <cstdlib>

namespace {

void (*session_end_action)() = nullptr;
HANDLE session_run_ended = nullptr;
// Set once the window is made, or found impossible.
HANDLE window_settled = nullptr;

DWORD WINAPI ServeSessionEndWindow(void*) {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = OnSessionEndMessage;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "tunnelconsole session end";
    // Never shown: WS_VISIBLE is not given.
    const HWND window =
        RegisterClassExA(&window_class) == 0
            ? nullptr
            : CreateWindowExA(0, window_class.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                              nullptr, window_class.hInstance, nullptr);
    SetEvent(window_settled);
    if (window == nullptr) {
        return 0;
    }
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    return 0;
}

}  // namespace

// A process that ends while its thread is still making the window can leave
// the emulator's half-made connection to write a complaint to standard
// error, or to end the process with a status of its own: the end waits for
// it, which takes milliseconds, and never for long.
void AwaitSessionWindowSettled() {
    constexpr DWORD kLongestWait = 2000;
    if (window_settled != nullptr) {
        WaitForSingleObject(window_settled, kLongestWait);
    }
}

LRESULT CALLBACK OnSessionEndMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_QUERYENDSESSION) {
        return TRUE;  // the session may end: the program stops on its own
    }
    if (message == WM_ENDSESSION) {
        // FALSE: the end was called off, and the run goes on.
        if (wparam != FALSE && session_end_action != nullptr) {
            session_end_action();
            WaitForSingleObject(session_run_ended, INFINITE);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void WatchSessionEnd(void (*end_the_run)(), HANDLE run_ended) {
    if (session_end_action != nullptr) {
        return;
    }
    session_end_action = end_the_run;
    session_run_ended = run_ended;
    window_settled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (window_settled == nullptr) {
        return;
    }
    const HANDLE thread = CreateThread(nullptr, 0, ServeSessionEndWindow, nullptr, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
        std::atexit(AwaitSessionWindowSettled);
    }
}
