#include "console/console.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "console/history_file.h"
#include "console/message_handoff.h"
#include "console/output_buffer.h"
#include "editor/editor.h"
#include "platform/os_console.h"
#include "platform/os_run_state.h"
#include "platform/os_terminal.h"
#include "run/run_state.h"
#include "text/text_stream.h"
#include "text/unicode_text.h"

namespace {

// Whether lines are read through the editor (editor/editor.h): chosen when
// the console is set up, before the library starts, so before any other
// thread prints.
bool editing = false;

// Under the output lock: a line is being read through the editor, whose
// thread alone writes meanwhile; messages are handed to it.
bool line_in_editor = false;

// Set before the first read, on the main thread.
bool prompts_shown = true;

// Whether drawing steps are bytes in standard output (OsDrawingIsOutput).
bool drawing_is_output = false;

// The last read ended by Ctrl-C at the editor.
bool read_abandoned = false;

// The command lines the editor recalls, kept here with their file.
CommandHistory command_history;

bool LineInEditorLocked() {
    return line_in_editor;
}

// Draws the editor's steps after what is pending, with the lock held: at a
// terminal their bytes join the output buffer, written out before the wait.
void DrawLocked(std::span<const TerminalDrawing> steps) {
    for (const TerminalDrawing& step : steps) {
        if (drawing_is_output) {
            AddRawLocked(step.vt_bytes);
            continue;
        }
        WritePendingLocked();
        if (const int error = OsTerminalDraw(step); error != 0) {
            NoteOutputLost(error);
        }
    }
}

// Keys read and not taken yet: those after an Enter wait for the next line.
struct TypedAhead {
    std::array<char, 4096> bytes{};
    std::size_t bytes_at = 0;
    std::size_t bytes_length = 0;
    std::array<ConsoleKey, 128> keys{};
    std::size_t keys_at = 0;
    std::size_t keys_length = 0;
};

TypedAhead typed_ahead;

// Writes the messages handed off, whole as any print is, and empties the
// hand-off; whether the last of them is whole.
bool WriteHandedOffLocked() {
    AddTextLocked(HandedOffBytes());
    WritePendingLocked();
    const bool whole = HandedOffWhole();
    HandedOffWritten();
    return whole;
}

constexpr std::chrono::milliseconds kBatchGap{4};
std::chrono::steady_clock::time_point last_batch;

// The messages handed off meanwhile go out where the line was, and the line
// is drawn again below them once the last is whole. All that waits goes at
// once: the line off, the messages, the line back, in one write. While a line is edited this thread
// alone adds to the output buffer, so the write is made with the lock let go: threads handing off
// more messages meanwhile are not held up by it.
//
// A batch follows the one before by kBatchGap at the least: a flood of
// messages then goes out in a few large batches, the line drawn once for
// each, instead of a wake-up, a line taken off and drawn again a message,
// and a message that comes alone goes out at once.
void WriteMessagesLocked(std::unique_lock<OutputLock>& lock) {
    // One batch a call: those handed off during its write wake the thread
    // again, and keys are read between batches of a flood.
    if (!HandedOffBytes().empty()) {
        const auto since = std::chrono::steady_clock::now() - last_batch;
        if (since < kBatchGap) {
            lock.unlock();
            std::this_thread::sleep_for(kBatchGap - since);
            lock.lock();
        }
        last_batch = std::chrono::steady_clock::now();
        DrawLocked(EditorHide());
        AddTextLocked(HandedOffBytes());
        const bool whole = HandedOffWhole();
        HandedOffWritten();
        if (whole) {
            DrawLocked(EditorShow());
        }
        const std::string_view batch = TakePendingLocked();
        lock.unlock();
        const int error = OsWriteStandardOutput(batch.data(), batch.size());
        lock.lock();
        if (error != 0) {
            NoteOutputLost(error);
        }
    }
}

// Takes the keys read so far, up to one that ends the line.
EditorEnd TakeTypedAheadLocked() {
    while (typed_ahead.bytes_at < typed_ahead.bytes_length) {
        const EditorAnswer answer = EditorFeedByte(typed_ahead.bytes[typed_ahead.bytes_at++]);
        DrawLocked(answer.steps);
        if (answer.end != EditorEnd::kGoesOn) {
            return answer.end;
        }
    }
    while (typed_ahead.keys_at < typed_ahead.keys_length) {
        const EditorAnswer answer = EditorFeedKey(typed_ahead.keys[typed_ahead.keys_at++]);
        DrawLocked(answer.steps);
        if (answer.end != EditorEnd::kGoesOn) {
            return answer.end;
        }
    }
    return EditorEnd::kGoesOn;
}

// Waits for keys and feeds them to the editor until the line ends, drawing
// what it answers; the output lock is held except while waiting. kEnded also
// for a stop request and a terminal that went away.
EditorEnd EditLineLocked(std::unique_lock<OutputLock>& lock) {
    for (;;) {
        if (const EditorEnd end = TakeTypedAheadLocked(); end != EditorEnd::kGoesOn) {
            return end;
        }
        DrawLocked(EditorDraw());
        WritePendingLocked();
        lock.unlock();
        const TerminalRead read =
            OsTerminalWait(typed_ahead.bytes, typed_ahead.keys, EditorEscapePending());
        lock.lock();
        WriteMessagesLocked(lock);
        switch (read.input) {
            case TerminalInput::kBytes:
                typed_ahead.bytes_at = 0;
                typed_ahead.bytes_length = read.count;
                break;
            case TerminalInput::kKeys:
                typed_ahead.keys_at = 0;
                typed_ahead.keys_length = read.count;
                break;
            case TerminalInput::kResized:
                EditorResize(OsTerminalColumns());
                break;
            case TerminalInput::kResumed:
                EditorResumed();
                break;
            case TerminalInput::kQuiet: {
                const EditorAnswer answer = EditorEscapeAlone();
                DrawLocked(answer.steps);
                if (answer.end != EditorEnd::kGoesOn) {
                    return answer.end;
                }
                break;
            }
            case TerminalInput::kWoken:
                break;
            case TerminalInput::kStopped:
            case TerminalInput::kEnded:
                return EditorEnd::kEnded;
        }
    }
}

// The input ended at the editor: a stop request, Ctrl-D, a 0x1A typed, a
// terminal that went away. Later reads give the end at once.
bool editor_ended = false;

constexpr TextReader NewStandardInput() {
    return TextReader{.read = OsReadStandardInput, .before_read = ConsoleFlush};
}

// Standard input has one reader for the whole run, as stdin has one buffer.
// Set up when compiled, so no call checks whether it is set up yet.
constinit TextReader standard_input = NewStandardInput();

static_assert(kOsInputInterrupted == kSourceInterrupted);

// Ctrl-C dropped the line typed at a terminal or console, as the editor drops
// it: the next output starts below the line the terminal echoed, and the
// command whose field it was is dropped too.
[[gnu::noinline]] void DropInterruptedLine() {
    standard_input.interrupted = false;
    read_abandoned = true;
    ConsoleWrite(Crlf<"\n">());
}

std::optional<std::string_view> ReadTextAfterPrompt(std::string_view prompt, std::span<char> line) {
    if (!prompt.empty()) {
        const std::lock_guard lock(output_lock);
        AddRawLocked(prompt);
    }
    read_abandoned = false;
    const auto read = ReadTextLine(standard_input, line);
    if (standard_input.failed) {
        NoteInputFailed(standard_input.error);
    }
    if (standard_input.interrupted) {
        DropInterruptedLine();
    }
    return read;
}

// A hidden line read without the editor: with echo off whenever standard
// input is a terminal or console, whatever standard output is.
std::optional<std::string_view> ReadHiddenAfterPrompt(std::string_view prompt,
                                                      std::span<char> line) {
    const bool echo_off = OsEchoOff();
    const auto read = ReadTextAfterPrompt(prompt, line);
    if (echo_off) {
        OsEchoRestore();
    }
    return read;
}

// Apart from the text reader's path, which stays short. The prompt's last
// line is the editor's to draw, and to draw again; what comes before it goes
// out as it stands.
[[gnu::noinline]] std::optional<std::string_view> ReadEditedLine(
    std::string_view prompt, std::span<char> line, std::span<const std::string_view> command_names,
    Echo echo) {
    read_abandoned = false;
    if (editor_ended || line.empty()) {
        return std::nullopt;
    }
    const std::size_t last_line = prompt.rfind('\n') + 1;
    std::unique_lock lock(output_lock);
    AddRawLocked(prompt.substr(0, last_line));
    WritePendingLocked();
    line_in_editor = true;
    EditorBegin(prompt.substr(last_line), command_names, echo, OsTerminalColumns());
    OsTerminalLineBegins();
    const EditorEnd end = EditLineLocked(lock);
    // A message still arriving in parts is let out whole before the line ends.
    WriteMessagesLocked(lock);
    // Ctrl-C is a stop request again before the screen shows the line ended.
    OsTerminalLineEnds();
    DrawLocked(EditorFinish());
    line_in_editor = false;
    // Messages handed off as the line ended go out now, in order.
    static_cast<void>(WriteHandedOffLocked());
    lock.unlock();
    switch (end) {
        case EditorEnd::kLine:
            // A line typed before a stop request is not run.
            if (OsInputWaitWoken()) {
                editor_ended = true;
                return std::nullopt;
            }
            break;
        case EditorEnd::kAbandoned:
            read_abandoned = true;
            return std::nullopt;
        default:
            editor_ended = true;
            return std::nullopt;
    }
    bool for_history = false;
    const auto taken = EditorTakeLine(line, editor_ended, for_history);
    if (for_history && HistoryAdd(command_history, *taken)) {
        SaveHistoryLine(*taken);
    }
    return taken;
}

// At the end of the run, before the terminal's modes go back: an answer the
// terminal still owes the editor is waited for, for the time it has left,
// and dropped; it would otherwise arrive at the shell as typed text.
void DropLateAnswer() {
    // Keys typed ahead of the line that ended the run may hold it already.
    for (const char byte : std::span(typed_ahead.bytes)
                               .first(typed_ahead.bytes_length)
                               .subspan(typed_ahead.bytes_at)) {
        EditorTakeLateByte(byte);
    }
    for (std::chrono::milliseconds left; (left = EditorAnswerAwaited()).count() > 0;) {
        const std::size_t count =
            OsTerminalReadWithin(typed_ahead.bytes, static_cast<int>(left.count()));
        if (count == 0) {
            return;
        }
        for (const char byte : std::span(typed_ahead.bytes).first(count)) {
            EditorTakeLateByte(byte);
        }
    }
}

}  // namespace

void ConsoleInit() {
    OsConsoleInit();
    standard_input = NewStandardInput();
    // Before the library starts: a message that came before the editor would
    // send the first prompt out on its own, where the editor cannot draw it
    // again.
    if (!editing && OsTerminalStart()) {
        editing = true;
        drawing_is_output = OsDrawingIsOutput();
        LoadHistoryFile(command_history, OsTerminalText() == TextKind::kUtf8);
        EditorInit({OsTerminalText(), OsTextCharacter}, &command_history);
        // Registered after the terminal's modes are saved, so run before
        // they are put back.
        std::atexit(DropLateAnswer);
    }
    const std::lock_guard lock(output_lock);
    static_cast<void>(TakePendingLocked());
}

void ConsoleWrite(std::string_view text) {
    const std::lock_guard lock(output_lock);
    AddTextLocked(text);
}

void ConsoleShowPrompts(bool shown) {
    prompts_shown = shown;
}

void ConsoleWrite(CrlfText text) {
    const std::lock_guard lock(output_lock);
    AddRawLocked(text.bytes);
}

void ConsoleWrite(std::initializer_list<PrintPiece> pieces) {
    const std::lock_guard lock(output_lock);
    AddPiecesLocked(pieces);
}

void ConsoleWriteNow(std::string_view text) {
    std::unique_lock lock(output_lock);
    // While a line is edited the editor's thread writes it; otherwise it goes
    // out at once, as does what is left of it when the line ends meanwhile.
    if (line_in_editor && HandOffMessage(lock, text, LineInEditorLocked, OsTerminalWakeReader)) {
        return;
    }
    AddTextLocked(text);
    WritePendingLocked();
}

void ConsoleFlush() {
    const std::lock_guard lock(output_lock);
    WritePendingLocked();
}

void ConsoleWritePendingAfterCrash() {
    // The thread that holds the lock may be the one that crashed, or may be
    // writing this moment: a few tries, then the bytes go out regardless.
    constexpr int kTries = 1000;
    bool locked = false;
    for (int attempt = 0; attempt < kTries && !locked; ++attempt) {
        locked = output_lock.try_lock();
    }
    const std::string_view left = TakePendingLocked();
    if (!left.empty()) {
        static_cast<void>(OsWriteStandardOutput(left.data(), left.size()));
    }
    // Messages handed to the editor's thread, which will not write them now.
    const std::string_view handed_off = HandedOffBytes();
    if (!handed_off.empty()) {
        static_cast<void>(OsWriteStandardOutput(handed_off.data(), handed_off.size()));
    }
    if (locked) {
        output_lock.unlock();
    }
}

TextPrefix ConsoleWholeCharacters(std::string_view typed, std::size_t room) {
    if (!editing) {
        if (const auto whole = Utf8WholeClusters(typed, room)) {
            return *whole;
        }
        room = std::min(room, typed.size());
        return {room, room};
    }
    return EditorWholeCharacters(typed, room);
}

bool ConsoleReadWasAbandoned() {
    return read_abandoned;
}

std::optional<std::string_view> ConsoleReadCommandLine(
    std::string_view prompt, std::span<char> line,
    std::span<const std::string_view> command_names) {
    // Kept to a test and a jump: a script's every line passes here.
    if (!prompts_shown) {
        prompt = {};
    }
    if (!editing) {
        return ReadTextAfterPrompt(prompt, line);
    }
    return ReadEditedLine(prompt, line, command_names, Echo::kShown);
}

std::optional<std::string_view> ConsoleReadLine(std::string_view prompt, std::span<char> line) {
    if (!prompts_shown) {
        prompt = {};
    }
    if (!editing) {
        return ReadTextAfterPrompt(prompt, line);
    }
    return ReadEditedLine(prompt, line, {}, Echo::kShown);
}

std::optional<std::string_view> ConsoleReadHiddenLine(std::string_view prompt,
                                                      std::span<char> line) {
    if (!prompts_shown) {
        prompt = {};
    }
    if (!editing) {
        return ReadHiddenAfterPrompt(prompt, line);
    }
    return ReadEditedLine(prompt, line, {}, Echo::kHidden);
}
