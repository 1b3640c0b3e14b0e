#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <span>

#include "platform/os_console.h"
#include "platform/windows/console_code_page.h"

namespace {

// The console is shared with the shell that started the program, which
// expects its own code pages back.
ConsoleCodePages saved;
std::atomic<bool> changed_input{false};
std::atomic<bool> changed_output{false};

void RestoreAtExit() {
    RestoreConsoleCodePages();
}

}  // namespace

ConsoleCodePagePlan PlanConsoleCodePages(const ConsoleCodePages& now, bool input_is_console,
                                         bool output_is_console, UINT ansi) {
    // 0: the process has no console.
    return {input_is_console && now.input != 0 && now.input != ansi,
            output_is_console && now.output != 0 && now.output != ansi};
}

namespace {

bool IsConsole(DWORD standard) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standard), &mode) != 0;
}

void SayNotSet(std::string_view which) {
    constexpr std::string_view kStart = "tunnelconsole: the console's ";
    constexpr std::string_view kEnd = " code page could not be set to the ANSI code page\r\n";
    std::array<char, 128> line{};
    std::size_t length = kStart.copy(line.data(), line.size());
    length += which.copy(line.data() + length, line.size() - length);
    length += kEnd.copy(line.data() + length, line.size() - length);
    OsWriteStandardError(line.data(), length);
}

}  // namespace

void UseAnsiCodePageOnConsole() {
    if (changed_input.load() || changed_output.load()) {
        return;
    }
    saved = {GetConsoleCP(), GetConsoleOutputCP()};
    const UINT ansi = GetACP();
    const ConsoleCodePagePlan plan = PlanConsoleCodePages(saved, IsConsole(STD_INPUT_HANDLE),
                                                          IsConsole(STD_OUTPUT_HANDLE), ansi);
    if (plan.set_input) {
        if (SetConsoleCP(ansi)) {
            changed_input.store(true);
        } else {
            SayNotSet("input");
        }
    }
    if (plan.set_output) {
        if (SetConsoleOutputCP(ansi)) {
            changed_output.store(true);
        } else {
            SayNotSet("output");
        }
    }
    static bool registered = false;
    if (!registered && (changed_input.load() || changed_output.load())) {
        registered = true;
        std::atexit(RestoreAtExit);
    }
}

void RestoreConsoleCodePages() {
    if (changed_input.exchange(false)) {
        SetConsoleCP(saved.input);
    }
    if (changed_output.exchange(false)) {
        SetConsoleOutputCP(saved.output);
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

namespace {

constexpr std::size_t kMostUnits = 8;

// The text in normalization form `form`; empty when it does not fit.
std::wstring_view Normalized(NORM_FORM form, std::wstring_view text,
                             std::span<WCHAR, kMostUnits> room) {
    const int length = NormalizeString(form, text.data(), static_cast<int>(text.size()),
                                       room.data(), static_cast<int>(room.size()));
    return length > 0 ? std::wstring_view(room.data(), static_cast<std::size_t>(length))
                      : std::wstring_view();
}

// Whether two spellings are the same character, one composed, one not.
bool SameCharacter(std::wstring_view a, std::wstring_view b) {
    std::array<WCHAR, kMostUnits> a_room;
    std::array<WCHAR, kMostUnits> b_room;
    const std::wstring_view a_composed = Normalized(NormalizationC, a, a_room);
    return a == b || (!a_composed.empty() && a_composed == Normalized(NormalizationC, b, b_room));
}

// The bytes of `text` in `code_page`, if they read back as the same
// character: no best fit, no stand-in.
std::size_t SpellExactly(UINT code_page, std::wstring_view text, std::span<char, 4> spelled) {
    const WideToCodePageCall call = WideToCodePageCallFor(code_page);
    BOOL defaulted = FALSE;
    char bytes[16];
    const int length = WideCharToMultiByte(code_page, call.flags, text.data(),
                                           static_cast<int>(text.size()), bytes, sizeof bytes,
                                           nullptr, call.asks_used_default ? &defaulted : nullptr);
    if (length <= 0 || static_cast<std::size_t>(length) > spelled.size() || defaulted) {
        return 0;
    }
    WCHAR back[kMostUnits];
    const int back_length = MultiByteToWideChar(code_page, 0, bytes, length, back, kMostUnits);
    if (back_length <= 0 ||
        !SameCharacter(text, std::wstring_view(back, static_cast<std::size_t>(back_length)))) {
        return 0;
    }
    std::copy_n(bytes, length, spelled.begin());
    return static_cast<std::size_t>(length);
}

}  // namespace

std::size_t SpellInCodePage(UINT code_page, std::wstring_view character,
                            std::span<char, 4> spelled) {
    if (character.empty() || character.size() > kMostUnits) {
        return 0;
    }
    if (const std::size_t length = SpellExactly(code_page, character, spelled); length > 0) {
        return length;
    }
    // Spelled in parts: the base letter with each mark the code page has a
    // letter for, then the marks it writes apart (1258 writes U+1EC7 as
    // U+00EA and U+0323).
    std::array<WCHAR, kMostUnits> decomposed_room;
    const std::wstring_view decomposed = Normalized(NormalizationD, character, decomposed_room);
    if (decomposed.empty() || decomposed.size() > kMostUnits ||
        (decomposed[0] >= 0xd800 && decomposed[0] <= 0xdfff)) {
        return 0;
    }
    std::array<WCHAR, kMostUnits> parts{decomposed[0]};
    std::size_t count = 1;
    for (const WCHAR mark : decomposed.substr(1)) {
        const WCHAR pair[] = {parts[0], mark};
        std::array<WCHAR, kMostUnits> composed_room;
        const std::wstring_view composed = Normalized(NormalizationC, {pair, 2}, composed_room);
        std::array<char, 4> unused;
        if (composed.size() == 1 && SpellExactly(code_page, composed, unused) > 0) {
            parts[0] = composed[0];
        } else {
            parts[count++] = mark;
        }
    }
    const std::wstring_view spelt(parts.data(), count);
    return SameCharacter(character, spelt) ? SpellExactly(code_page, spelt, spelled) : 0;
}

namespace {

bool IsMark(WCHAR unit) {
    WORD type = 0;
    return GetStringTypeW(CT_CTYPE3, &unit, 1, &type) && (type & C3_NONSPACING) != 0;
}

// The bytes of `character`, or '?' where the code page has none, added at
// `length` while they fit.
void AddSpelled(UINT code_page, std::wstring_view character, std::span<char> bytes,
                std::size_t& length) {
    std::array<char, 4> spelled{};
    std::size_t count = SpellInCodePage(code_page, character, spelled);
    if (count == 0) {
        spelled[0] = '?';
        count = 1;
    }
    if (length + count <= bytes.size()) {
        std::copy_n(spelled.begin(), count, bytes.begin() + static_cast<std::ptrdiff_t>(length));
        length += count;
    }
}

}  // namespace

std::size_t SpellLineInCodePage(UINT code_page, std::wstring_view line, std::span<char> bytes) {
    std::size_t length = 0;
    while (!line.empty()) {
        const std::size_t base = line.size() > 1 && line[0] >= 0xd800 && line[0] <= 0xdbff &&
                                   line[1] >= 0xdc00 && line[1] <= 0xdfff
                               ? 2
                               : 1;
        std::size_t whole = base;
        while (whole < line.size() && IsMark(line[whole])) {
            ++whole;
        }
        std::array<char, 4> unused{};
        if (line[0] < 0x80 && whole == 1) {
            if (length < bytes.size()) {
                bytes[length++] = static_cast<char>(line[0]);
            }
        } else if (SpellInCodePage(code_page, line.substr(0, whole), unused) > 0) {
            AddSpelled(code_page, line.substr(0, whole), bytes, length);
        } else {
            for (std::size_t at = 0; at < whole; at += at == 0 ? base : 1) {
                AddSpelled(code_page, line.substr(at, at == 0 ? base : 1), bytes, length);
            }
        }
        line.remove_prefix(whole);
    }
    return length;
}
