#include "platform/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/os_console.h"
#include "platform/text_stream.h"

namespace {

void FlushStandardOutput() {
    std::fflush(stdout);
}

// Standard input has one reader for the whole run, as stdin has one buffer.
TextReader& StandardInput() {
    static TextReader reader = MakeTextReader(OsReadStandardInput, nullptr, FlushStandardOutput);
    return reader;
}

}  // namespace

void ConsoleInit() {
    OsConsoleInit();
}

void ConsoleWrite(std::string_view text) {
    OsLockStandardOutput();
    WriteText(stdout, text);
    OsUnlockStandardOutput();
}

void ConsoleWriteNow(std::string_view text) {
    OsLockStandardOutput();
    WriteText(stdout, text);
    std::fflush(stdout);
    OsUnlockStandardOutput();
}

void ConsolePrint(const char* format, ...) {
    char text[2048];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    const auto stored = static_cast<std::size_t>(length) < sizeof text
                            ? static_cast<std::size_t>(length)
                            : sizeof text - 1;
    ConsoleWrite(std::string_view(text, stored));
}

std::optional<std::string_view> ConsoleReadLine(std::span<char> line) {
    return ReadTextLine(StandardInput(), line);
}
