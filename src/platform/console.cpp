#include "platform/console.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "platform/os_console.h"
#include "platform/run_state.h"
#include "platform/text_stream.h"

namespace {

// Holds any print the program makes itself, so that each is one write.
constexpr std::size_t kStagingCapacity = 1024;

// A failed write ends the run: nobody reads what follows.
void FlushStandardOutput() {
    if (std::fflush(stdout) != 0) {
        NoteOutputLost(errno);
    }
}

void WriteOut(const char* bytes, std::size_t length) {
    if (std::fwrite(bytes, 1, length, stdout) != length) {
        NoteOutputLost(errno);
    }
}

constexpr TextReader NewStandardInput() {
    return TextReader{.read = OsReadStandardInput, .before_read = FlushStandardOutput};
}

// Standard input has one reader for the whole run, as stdin has one buffer.
// Set up when compiled, so no call checks whether it is set up yet.
constinit TextReader standard_input = NewStandardInput();

// One fwrite holds the stream's lock by itself; a print longer than the
// staging buffer takes several, and holds the lock across them.
void WritePrint(std::initializer_list<std::string_view> pieces) {
    std::array<char, kStagingCapacity> staged;
    std::size_t worst = 0;
    for (const std::string_view piece : pieces) {
        worst += 2 * piece.size();
    }
    // The usual print: short enough to stage whole without checking for room.
    if (worst <= staged.size()) {
        WriteOut(staged.data(), StagePieces(pieces, staged.data()));
        return;
    }
    std::size_t length = 0;
    bool locked = false;
    for (std::string_view rest : pieces) {
        for (;;) {
            const StagedText step = StageText(rest, std::span(staged).subspan(length));
            length += step.stored;
            rest.remove_prefix(step.taken);
            if (rest.empty()) {
                break;
            }
            if (!locked) {
                OsLockStandardOutput();
                locked = true;
            }
            WriteOut(staged.data(), length);
            length = 0;
        }
    }
    if (length > 0) {
        WriteOut(staged.data(), length);
    }
    if (locked) {
        OsUnlockStandardOutput();
    }
}

}  // namespace

void ConsoleInit() {
    OsConsoleInit();
    standard_input = NewStandardInput();
}

void ConsoleWrite(std::string_view text) {
    // A text without line breaks, as most prompts are, needs no staging.
    if (text.find('\n') == std::string_view::npos) {
        WriteOut(text.data(), text.size());
        return;
    }
    WritePrint({text});
}

void ConsoleWrite(std::initializer_list<std::string_view> pieces) {
    WritePrint(pieces);
}

void ConsoleWriteStaged(std::string_view staged) {
    WriteOut(staged.data(), staged.size());
}

void ConsoleWriteNow(std::string_view text) {
    WritePrint({text});
    FlushStandardOutput();
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
    return ReadTextLine(standard_input, line);
}
