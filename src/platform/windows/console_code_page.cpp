#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "platform/windows/console_code_page.h"

namespace {

// The console is shared with the shell that started the program, which
// expects its own code pages back.
UINT saved_input_code_page = 0;
UINT saved_output_code_page = 0;
std::atomic<bool> changed{false};

void RestoreAtExit() {
    RestoreConsoleCodePages();
}

}  // namespace

void UseAnsiCodePageOnConsole() {
    if (changed.load()) {
        return;
    }
    // 0: the process has no console.
    saved_input_code_page = GetConsoleCP();
    saved_output_code_page = GetConsoleOutputCP();
    const UINT ansi = GetACP();
    if (saved_input_code_page == 0 || saved_output_code_page == 0 ||
        (saved_input_code_page == ansi && saved_output_code_page == ansi)) {
        return;
    }
    SetConsoleCP(ansi);
    SetConsoleOutputCP(ansi);
    changed.store(true);
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(RestoreAtExit);
    }
}

void RestoreConsoleCodePages() {
    if (changed.exchange(false)) {
        SetConsoleCP(saved_input_code_page);
        SetConsoleOutputCP(saved_output_code_page);
    }
}

bool AnsiCharacter(WCHAR typed, char* converted) {
    BOOL defaulted = FALSE;
    char bytes[8];
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &typed, 1, bytes,
                                           sizeof bytes, nullptr, &defaulted);
    if (length != 1 || defaulted) {
        return false;
    }
    *converted = bytes[0];
    return true;
}
