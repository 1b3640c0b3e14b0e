#include <windows.h>

#include <algorithm>
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

WideToCodePageCall WideToCodePageCallFor(UINT code_page) {
    switch (code_page) {
        case CP_UTF8:
        case CP_UTF7:
        case 42:     // Symbol
        case 52936:  // HZ-GB2312
        case 54936:  // GB18030
            return {0, false};
        default:
            // ISO-2022 and ISCII.
            if ((code_page >= 50220 && code_page <= 50229) ||
                (code_page >= 57002 && code_page <= 57011)) {
                return {0, false};
            }
            return {WC_NO_BEST_FIT_CHARS, true};
    }
}

std::size_t SpellInCodePage(UINT code_page, std::wstring_view character,
                            std::span<char, 4> spelled) {
    if (character.empty() || character.size() > 2) {
        return 0;
    }
    const WideToCodePageCall call = WideToCodePageCallFor(code_page);
    BOOL defaulted = FALSE;
    char bytes[8];
    const int length = WideCharToMultiByte(code_page, call.flags, character.data(),
                                           static_cast<int>(character.size()), bytes, sizeof bytes,
                                           nullptr, call.asks_used_default ? &defaulted : nullptr);
    if (length <= 0 || static_cast<std::size_t>(length) > spelled.size() || defaulted) {
        return 0;
    }
    // Spelled only if it reads back as the character, not as a stand-in.
    WCHAR back[4];
    const int back_length = MultiByteToWideChar(code_page, 0, bytes, length, back, 4);
    if (back_length != static_cast<int>(character.size()) ||
        std::wstring_view(back, static_cast<std::size_t>(back_length)) != character) {
        return 0;
    }
    std::copy_n(bytes, length, spelled.begin());
    return static_cast<std::size_t>(length);
}
