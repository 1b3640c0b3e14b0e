// The console control events the Windows program takes as stop requests,
// given to its handler directly: Wine's terminal console raises Ctrl-C only.
// Exits 0 when every row holds, else 1 with a line per failure.
#include <windows.h>

#include <cstdio>

#include "platform/run_state.h"
#include "platform/windows/console_control.h"

namespace {

int failures = 0;

void Check(bool holds, const char* event, const char* what) {
    if (!holds) {
        std::printf("FAIL: %s: %s\n", event, what);
        ++failures;
    }
}

DWORD WINAPI GiveEvent(void* event) {
    return OsOnConsoleControl(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(event)));
}

}  // namespace

int main() {
    const struct {
        const char* name;
        DWORD event;
        bool ends_with_the_process;  // the system ends the process once handled
    } rows[] = {
        {"Ctrl-C", CTRL_C_EVENT, false},         {"Ctrl-Break", CTRL_BREAK_EVENT, false},
        {"close", CTRL_CLOSE_EVENT, true},       {"log-off", CTRL_LOGOFF_EVENT, true},
        {"shutdown", CTRL_SHUTDOWN_EVENT, true},
    };
    for (const auto& row : rows) {
        RunStateInit();
        HANDLE handler =
            CreateThread(nullptr, 0, GiveEvent,
                         reinterpret_cast<void*>(static_cast<UINT_PTR>(row.event)), 0, nullptr);
        if (!row.ends_with_the_process) {
            WaitForSingleObject(handler, INFINITE);
            DWORD handled = FALSE;
            GetExitCodeThread(handler, &handled);
            Check(handled == TRUE, row.name, "not handled");
            Check(RunShouldEnd(), row.name, "no stop requested");
        } else {
            // Held until the run ends (at exit here), so the library is
            // stopped before the system ends the process.
            while (!RunShouldEnd() && WaitForSingleObject(handler, 0) == WAIT_TIMEOUT) {
                SwitchToThread();
            }
            Check(RunShouldEnd(), row.name, "no stop requested");
            Check(WaitForSingleObject(handler, 0) == WAIT_TIMEOUT, row.name,
                  "the handler returned before the run ended");
        }
        CloseHandle(handler);
    }
    if (failures == 0) {
        std::printf("console control events ok\n");
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
