#include "run/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "platform/os_run_state.h"

namespace {

constexpr std::string_view kPrefix = "tunnelconsole: ";
constexpr std::string_view kLineBreak = "\r\n";

// A control (C0, DEL, C1), a surrogate or no code point at all: shown as
// escapes, so that no text from outside moves the cursor, sets a title or
// starts a line of its own on the terminal that standard error may be.
bool Shown(OsTextPoint point) {
    const char32_t code = point.code;
    return point.bytes != 0 && code >= 0x20 && !(code >= 0x7F && code < 0xA0) &&
           !(code >= 0xD800 && code < 0xE000) && code <= 0x10FFFF;
}

struct NoteLine {
    char bytes[1024];
    std::size_t length = 0;
    // Room kept for the line break; the line, 1023 bytes at most, as ever.
    static constexpr std::size_t kRoom = sizeof bytes - kLineBreak.size() - 1;

    // Whole or not at all: a note cut short never ends inside a character
    // or an escape.
    bool Append(std::string_view piece) {
        if (piece.size() > kRoom - length) {
            return false;
        }
        length += piece.copy(bytes + length, piece.size());
        return true;
    }
};

// Each byte of what is not shown as `\xHH`, lower-case hex.
bool AppendEscaped(NoteLine& line, unsigned char byte) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    const char escape[] = {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
    return line.Append({escape, sizeof escape});
}

void AppendShowable(NoteLine& line, std::string_view text) {
    while (!text.empty()) {
        const unsigned char first = static_cast<unsigned char>(text.front());
        // ASCII needs no decoding, in every encoding the program takes.
        const OsTextPoint point = first < 0x80 ? OsTextPoint{1, first} : OsDecodeTextPoint(text);
        const bool fits =
            Shown(point) ? line.Append(text.substr(0, point.bytes)) : AppendEscaped(line, first);
        if (!fits) {
            return;
        }
        text.remove_prefix(Shown(point) ? point.bytes : 1);
    }
}

}  // namespace

void ReportProblem(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    // A text that did not fit is cut; its line break still ends the line.
    const std::size_t text_length = static_cast<std::size_t>(length) < sizeof text
                                        ? static_cast<std::size_t>(length)
                                        : sizeof text - 1;
    NoteLine line;
    line.Append(kPrefix);
    AppendShowable(line, {text, text_length});
    line.length += kLineBreak.copy(line.bytes + line.length, kLineBreak.size());
    std::fwrite(line.bytes, 1, line.length, stderr);
    std::fflush(stderr);
}
