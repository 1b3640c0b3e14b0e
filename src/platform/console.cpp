#include "platform/console.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/line_editor.h"
#include "platform/os_console.h"
#include "platform/run_state.h"
#include "platform/text_stream.h"

namespace {

// Standard output goes through this one buffer whatever it is (a console, a
// terminal, the null device, a pipe, a file): a character device would
// otherwise be written a byte or a line per system call. It is written out
// before each read that may wait, after each log message, and when full.
struct PendingOutput {
    std::array<char, 16384> bytes;
    std::size_t length = 0;
};

// The one output lock: each print is added whole under it, so output from
// another thread never splits one.
std::mutex output_lock;
PendingOutput pending;

// A failed write ends the run: nobody reads what follows. What was pending
// is dropped then, as it has nowhere to go.
void WritePendingLocked() {
    if (pending.length == 0) {
        return;
    }
    const int error = OsWriteStandardOutput(pending.bytes.data(), pending.length);
    pending.length = 0;
    if (error != 0) {
        NoteOutputLost(error);
    }
}

std::span<char> RoomLocked() {
    return std::span(pending.bytes).subspan(pending.length);
}

void AddRawLocked(std::string_view bytes) {
    while (!bytes.empty()) {
        if (pending.length == pending.bytes.size()) {
            WritePendingLocked();
        }
        const std::size_t taken = bytes.copy(RoomLocked().data(), RoomLocked().size());
        pending.length += taken;
        bytes.remove_prefix(taken);
    }
}

void AddTextLocked(std::string_view text) {
    for (;;) {
        const StagedText step = StageText(text, RoomLocked());
        pending.length += step.stored;
        text.remove_prefix(step.taken);
        if (text.empty()) {
            return;
        }
        WritePendingLocked();
    }
}

// Whether lines are read, and log messages drawn, through the editor
// (line_editor.h): chosen when the console is set up, before the library
// starts, so before any other thread prints.
bool editing = false;

// A prompt, as the editor is handed it: the text after the last line break
// still pending. Longer text than this is left to go out as it stands.
constexpr std::size_t kPromptCapacity = 256;

using PromptText = std::array<char, kPromptCapacity>;

// Takes the pending text after the last line break out of the buffer into
// `prompt`; returns its length.
std::size_t TakeUnfinishedLineLocked(PromptText& prompt) {
    const std::string_view text(pending.bytes.data(), pending.length);
    const std::string_view unfinished = text.substr(text.rfind('\n') + 1);
    if (unfinished.size() > prompt.size()) {
        return 0;
    }
    pending.length -= unfinished.copy(prompt.data(), prompt.size());
    return unfinished.size();
}

// At a terminal a message takes lines of its own: above the line being typed,
// and above a prompt still pending, which follows it.
void WriteMessageAtTerminalLocked(std::string_view text) {
    const bool line_cleared = LineEditorClearLine();
    PromptText prompt;
    const std::size_t prompt_length = TakeUnfinishedLineLocked(prompt);
    AddTextLocked(text);
    if ((line_cleared || prompt_length > 0) && !text.ends_with('\n')) {
        AddTextLocked("\n");
    }
    WritePendingLocked();
    pending.length =
        std::string_view(prompt.data(), prompt_length).copy(pending.bytes.data(), prompt_length);
}

void LockOutput() {
    output_lock.lock();
}

void UnlockOutput() {
    output_lock.unlock();
}

constexpr TextReader NewStandardInput() {
    return TextReader{.read = OsReadStandardInput, .before_read = ConsoleFlush};
}

// Standard input has one reader for the whole run, as stdin has one buffer.
// Set up when compiled, so no call checks whether it is set up yet.
constinit TextReader standard_input = NewStandardInput();

// Apart from the text reader's path, which stays short.
[[gnu::noinline]] std::optional<std::string_view> ReadEditedLine(
    std::span<char> line, std::span<const std::string_view> command_names) {
    PromptText prompt;
    std::size_t prompt_length = 0;
    {
        const std::lock_guard lock(output_lock);
        prompt_length = TakeUnfinishedLineLocked(prompt);
        WritePendingLocked();
    }
    return LineEditorReadLine(std::string_view(prompt.data(), prompt_length), command_names, line);
}

}  // namespace

void ConsoleInit() {
    OsConsoleInit();
    standard_input = NewStandardInput();
    // Before the library starts: a message that came before the editor would
    // send the first prompt out on its own, where the editor cannot draw it
    // again.
    if (!editing) {
        editing = LineEditorStart({LockOutput, UnlockOutput});
    }
    const std::lock_guard lock(output_lock);
    pending.length = 0;
}

void ConsoleWrite(std::string_view text) {
    const std::lock_guard lock(output_lock);
    AddTextLocked(text);
}

void ConsoleWrite(std::initializer_list<std::string_view> pieces) {
    const std::lock_guard lock(output_lock);
    for (const std::string_view piece : pieces) {
        AddTextLocked(piece);
    }
}

void ConsoleWriteStaged(std::string_view staged) {
    const std::lock_guard lock(output_lock);
    AddRawLocked(staged);
}

void ConsoleWriteNow(std::string_view text) {
    const std::lock_guard lock(output_lock);
    if (editing) {
        WriteMessageAtTerminalLocked(text);
        return;
    }
    AddTextLocked(text);
    WritePendingLocked();
}

void ConsoleFlush() {
    const std::lock_guard lock(output_lock);
    WritePendingLocked();
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

void ConsoleWritePendingAfterCrash() {
    // The thread that holds the lock may be the one that crashed, or may be
    // writing this moment: a few tries, then the bytes go out regardless.
    constexpr int kTries = 1000;
    bool locked = false;
    for (int attempt = 0; attempt < kTries && !locked; ++attempt) {
        locked = output_lock.try_lock();
    }
    const std::size_t length = pending.length;
    pending.length = 0;
    if (length > 0 && length <= pending.bytes.size()) {
        static_cast<void>(OsWriteStandardOutput(pending.bytes.data(), length));
    }
    if (locked) {
        output_lock.unlock();
    }
}

std::optional<std::string_view> ConsoleReadCommandLine(
    std::span<char> line, std::span<const std::string_view> command_names) {
    // Kept to a test and a jump: a script's every line passes here.
    if (!editing) {
        return ReadTextLine(standard_input, line);
    }
    return ReadEditedLine(line, command_names);
}

std::optional<std::string_view> ConsoleReadLine(std::span<char> line) {
    if (!editing) {
        return ReadTextLine(standard_input, line);
    }
    return ReadEditedLine(line, {});
}
