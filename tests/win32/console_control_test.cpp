// The console control events the Windows program takes as stop requests,
// given to its handler directly (Wine's terminal console raises Ctrl-C only),
// and a second request, which ends the process at once and gives the console
// back its code pages. Run at a terminal, which the emulator makes a console.
// Exits 0 when every row holds, else 1 with a line per failure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "console/console.h"
#include "platform/os_terminal.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/os_run_state_private.h"
#include "platform/windows/session_end_window.h"
#include "row_check.h"
#include "run/run_state.h"

namespace {

// Not a console event: the session's end, given to the window's procedure.
constexpr DWORD kSessionEnd = 0xFFFF;

DWORD WINAPI GiveEvent(void* event) {
    const DWORD code = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(event));
    if (code == kSessionEnd) {
        return OnSessionEndMessage(nullptr, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) == TRUE &&
               OnSessionEndMessage(nullptr, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF) == 0;
    }
    return OsOnConsoleControl(code);
}

}  // namespace

// Started again with this argument, the program takes the console's code
// pages as the console program does, then gets two requests: the second
// ends it at once, with the status Ctrl-C gives a process.
constexpr char kSecondRequest[] = "second-request";

// Input and output code pages unlike each other and the ANSI one.
constexpr UINT kInputCodePage = 437;
constexpr UINT kOutputCodePage = 850;

void CheckASecondRequestEndsTheProcess(const char* self) {
    if (!SetConsoleCP(kInputCodePage) || !SetConsoleOutputCP(kOutputCodePage)) {
        Check(false, "a second Ctrl-C", "no console: run the test at a terminal");
        return;
    }
    char command[MAX_PATH + 32];
    std::snprintf(command, sizeof command, "\"%s\" %s", self, kSecondRequest);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Check(false, "a second Ctrl-C", "cannot start the test again");
        return;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    Check(status == static_cast<DWORD>(STATUS_CONTROL_C_EXIT), "a second Ctrl-C",
          "the process went on");
    Check(GetConsoleCP() == kInputCodePage && GetConsoleOutputCP() == kOutputCodePage,
          "a second Ctrl-C", "the console's code pages not given back");
}

// The program, in a folder of its own beside the stand-in library (from the
// build's bin folder) and its files, gets a close event while it waits for
// input that never comes: the library is stopped before the process ends.
void CheckACloseStopsTheLibraryFirst(const char* row) {
    char tests[MAX_PATH];
    GetModuleFileNameA(nullptr, tests, sizeof tests);
    *std::strrchr(tests, '\\') = '\0';
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof folder, "%s\\close-run", tests);
    CreateDirectoryA(folder, nullptr);
    char from[MAX_PATH];
    char to[MAX_PATH];
    for (const char* name : {"veskDllTunnel.dll", "config.ini", "tunnel.cfg"}) {
        std::snprintf(from, sizeof from, "%s\\..\\bin\\%s", tests, name);
        std::snprintf(to, sizeof to, "%s\\%s", folder, name);
        Check(CopyFileA(from, to, FALSE) != 0, row, "the library's files not laid");
    }
    std::snprintf(from, sizeof from, "%s\\close_event_child.exe", tests);
    std::snprintf(to, sizeof to, "%s\\tunnelconsole.exe", folder);
    Check(CopyFileA(from, to, FALSE) != 0, row, "the program not laid");
    char trace[MAX_PATH];
    std::snprintf(trace, sizeof trace, "%s\\trace", folder);
    DeleteFileA(trace);
    SetEnvironmentVariableA("TUNNEL_SIM_TRACE", trace);
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE input = nullptr;
    HANDLE kept_open = nullptr;
    CreatePipe(&input, &kept_open, &inherited, 0);
    SetHandleInformation(kept_open, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput =
        CreateFileA("NUL", GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    startup.hStdError = startup.hStdOutput;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(to, nullptr, nullptr, nullptr, TRUE, 0, nullptr, folder, &startup,
                        &process)) {
        Check(false, row, "cannot start the program");
        return;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(kept_open);
    char text[4096] = {};
    std::FILE* file = std::fopen(trace, "rb");
    if (file != nullptr) {
        static_cast<void>(std::fread(text, 1, sizeof text - 1, file));
        std::fclose(file);
    }
    Check(std::strstr(text, "TunnelStop() = 0\n") != nullptr, row,
          "the process ended before the library was stopped");
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kSecondRequest) == 0) {
        RunStateInit(ConsoleWritePendingAfterCrash);
        UseAnsiCodePageOnConsole();
        if (GetConsoleCP() == kInputCodePage) {
            std::printf("FAIL: the console's code pages were not changed\n");
            return 1;
        }
        OsOnConsoleControl(CTRL_C_EVENT);
        OsOnConsoleControl(CTRL_C_EVENT);
        return 0;
    }
    CheckASecondRequestEndsTheProcess(argv[0]);
    CheckACloseStopsTheLibraryFirst("close");
    SetEnvironmentVariableA("CLOSE_EVENT_CHILD_SESSION_END", "1");
    CheckACloseStopsTheLibraryFirst("session end");
    SetEnvironmentVariableA("CLOSE_EVENT_CHILD_SESSION_END", nullptr);
    const struct {
        const char* name;
        DWORD event;
        bool ends_with_the_process;  // the system ends the process once handled
        bool line_typed = false;     // given while a line is typed at the console
    } rows[] = {
        {"Ctrl-C", CTRL_C_EVENT, false},
        {"Ctrl-Break", CTRL_BREAK_EVENT, false},
        {"close", CTRL_CLOSE_EVENT, true},
        {"log-off", CTRL_LOGOFF_EVENT, true},
        {"shutdown", CTRL_SHUTDOWN_EVENT, true},
        {"session end", kSessionEnd, true},
        // Only Ctrl-C is a key while a line is typed; the others end the run.
        {"Ctrl-Break while a line is typed", CTRL_BREAK_EVENT, false, true},
        {"close while a line is typed", CTRL_CLOSE_EVENT, true, true},
    };
    for (const auto& row : rows) {
        RunStateInit(ConsoleWritePendingAfterCrash);
        if (row.line_typed) {
            OsTerminalLineBegins();
        }
        HANDLE handler =
            CreateThread(nullptr, 0, GiveEvent,
                         reinterpret_cast<void*>(static_cast<UINT_PTR>(row.event)), 0, nullptr);
        if (!row.ends_with_the_process) {
            WaitForSingleObject(handler, INFINITE);
            DWORD handled = FALSE;
            GetExitCodeThread(handler, &handled);
            Check(handled == TRUE, row.name, "not handled");
        } else {
            // Held until the run ends (at exit here), so the library is
            // stopped before the system ends the process.
            while (!RunShouldEnd() && WaitForSingleObject(handler, 0) == WAIT_TIMEOUT) {
                SwitchToThread();
            }
            Check(WaitForSingleObject(handler, 0) == WAIT_TIMEOUT, row.name,
                  "the handler returned before the run ended");
        }
        Check(RunShouldEnd(), row.name, "no stop requested");
        // The status of a session that ends at the first failure (-e).
        Check(StopRequestStatus() == static_cast<int>(STATUS_CONTROL_C_EXIT), row.name,
              "not the status Ctrl-C gives");
        CloseHandle(handler);
        if (row.line_typed) {
            OsTerminalLineEnds();
        }
    }
    return Report("console control events ok");
}
