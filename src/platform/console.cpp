#include "platform/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "platform/os_console.h"
#include "platform/run_state.h"
#include "platform/text_stream.h"

namespace {

// A failed write ends the run: nobody reads what follows.
void FlushStandardOutput() {
    if (std::fflush(stdout) != 0) {
        NoteOutputLost(errno);
    }
}

// Standard input has one reader for the whole run, as stdin has one buffer.
TextReader& StandardInput() {
    static TextReader reader = MakeTextReader(OsReadStandardInput, nullptr, FlushStandardOutput);
    return reader;
}

}  // namespace

void ConsoleInit() {
    OsConsoleInit();
    StandardInput() = MakeTextReader(OsReadStandardInput, nullptr, FlushStandardOutput);
}

void ConsoleWrite(std::string_view text) {
    OsLockStandardOutput();
    if (!WriteText(stdout, text)) {
        NoteOutputLost(errno);
    }
    OsUnlockStandardOutput();
}

void ConsoleWriteNow(std::string_view text) {
    OsLockStandardOutput();
    if (!WriteText(stdout, text) || std::fflush(stdout) != 0) {
        NoteOutputLost(errno);
    }
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
