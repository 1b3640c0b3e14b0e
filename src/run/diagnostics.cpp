#include "run/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

void ReportProblem(const char* format, ...) {
    constexpr std::string_view kPrefix = "tunnelconsole: ";
    constexpr std::string_view kLineBreak = "\r\n";
    char line[1024];
    kPrefix.copy(line, kPrefix.size());
    const std::size_t room = sizeof line - kPrefix.size() - kLineBreak.size();
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line + kPrefix.size(), room, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    // A text that did not fit is cut; its line break still ends the line.
    const std::size_t text_length =
        static_cast<std::size_t>(length) < room ? static_cast<std::size_t>(length) : room - 1;
    const std::size_t end = kPrefix.size() + text_length;
    kLineBreak.copy(line + end, kLineBreak.size());
    std::fwrite(line, 1, end + kLineBreak.size(), stderr);
    std::fflush(stderr);
}
