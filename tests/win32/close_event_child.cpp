// The program itself, given the console's close event once its run has set
// up its handler, as closing its window would; once the handler returns, the
// system ends the process. Started by console_control_test in a folder of
// its own, beside the stand-in library, whose trace shows what came first.
#include <windows.h>

#include "platform/windows/os_run_state_private.h"
#include "platform/windows/session_end_window.h"
#include "startup/program_options.h"

namespace {

DWORD WINAPI CloseTheConsole(void*) {
    while (OsInputWakeEvent() == nullptr) {
        SwitchToThread();
    }
    // Or the session's end, as its window would get it.
    if (GetEnvironmentVariableA("CLOSE_EVENT_CHILD_SESSION_END", nullptr, 0) != 0) {
        OnSessionEndMessage(nullptr, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    } else {
        OsOnConsoleControl(CTRL_CLOSE_EVENT);
    }
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CreateThread(nullptr, 0, CloseTheConsole, nullptr, 0, nullptr);
    return RunFromProgramOptions(argc, argv);
}
