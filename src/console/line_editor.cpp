#include "console/line_editor.h"

#include <array>

#include "console/history_file.h"
#include "console/line_model.h"
#include "console/vt_keys.h"
#include "console/vt_render.h"
#include "platform/os_run_state.h"
#include "platform/os_terminal.h"

namespace {

struct Editor {
    EditorOutput output{};
    bool by_calls = false;  // a console drawn with the system's calls
    bool ended = false;
    std::array<char, 256> prompt{};
    std::size_t prompt_length = 0;
    LineModel model;
    VtDecoder decoder;
    VtScreen screen;
    // The line is off the screen for a message that is still arriving.
    bool line_off = false;
    // Keys read and not taken yet: those after an Enter wait for the next line.
    std::array<char, 4096> bytes{};
    std::size_t bytes_at = 0;
    std::size_t bytes_length = 0;
    std::array<Key, 128> keys{};
    std::size_t keys_at = 0;
    std::size_t keys_length = 0;
};

Editor editor;
CommandHistory command_history;
LineView view;
std::array<char, 2 * sizeof(LineView::bytes)> drawing;

std::string_view Prompt() {
    return std::string_view(editor.prompt.data(), editor.prompt_length);
}

void WriteDrawing(std::size_t length) {
    if (length > 0) {
        editor.output.write_locked(std::string_view(drawing.data(), length));
    }
}

void Draw() {
    if (editor.line_off) {
        return;
    }
    ModelView(editor.model, Prompt(), view);
    if (editor.by_calls) {
        editor.output.write_locked({});
        OsConsoleDrawLine(view.Text(), view.cells, view.cursor);
        return;
    }
    WriteDrawing(VtDraw(editor.screen, view, drawing));
}

void Erase() {
    if (editor.by_calls) {
        editor.output.write_locked({});
        OsConsoleEraseLine();
        return;
    }
    WriteDrawing(VtErase(editor.screen, drawing));
}

void EndLine() {
    if (editor.line_off) {
        return;
    }
    if (editor.by_calls) {
        editor.output.write_locked({});
        OsConsoleEndLine();
        return;
    }
    WriteDrawing(VtEnd(editor.screen, drawing));
}

// Messages handed off meanwhile go out where the line was, and the line
// is drawn again below them once the last is whole.
void WriteMessages() {
    if (!editor.output.messages_waiting_locked()) {
        return;
    }
    if (!editor.line_off) {
        Erase();
        editor.line_off = true;
    }
    if (editor.output.write_messages_locked()) {
        editor.line_off = false;
        Draw();
    }
}

KeyOutcome Apply(Key key) {
    const KeyOutcome outcome = ModelKey(editor.model, key);
    if (outcome != KeyOutcome::kListNames) {
        return outcome;
    }
    // Several names: listed below the line, which is drawn again under them.
    Draw();
    EndLine();
    std::array<char, 2048> listed;
    const int columns = OsTerminalColumns();
    editor.output.write_locked(
        std::string_view(listed.data(), ModelListNames(editor.model, columns, listed)));
    editor.screen.drawn = false;
    return KeyOutcome::kGoOn;
}

// Takes the keys read so far, up to one that ends the line.
KeyOutcome ApplyPendingKeys() {
    while (editor.bytes_at < editor.bytes_length) {
        Key key;
        if (VtDecode(editor.decoder, editor.bytes[editor.bytes_at++], key)) {
            if (const KeyOutcome outcome = Apply(key); outcome != KeyOutcome::kGoOn) {
                return outcome;
            }
        }
    }
    while (editor.keys_at < editor.keys_length) {
        if (const KeyOutcome outcome = Apply(editor.keys[editor.keys_at++]);
            outcome != KeyOutcome::kGoOn) {
            return outcome;
        }
    }
    return KeyOutcome::kGoOn;
}

// Reads and takes keys until the line ends, drawing as they act; the output
// lock is held except while waiting. kEnded also for a stop request.
KeyOutcome EditLine() {
    for (;;) {
        const KeyOutcome outcome = ApplyPendingKeys();
        if (outcome != KeyOutcome::kGoOn) {
            return outcome;
        }
        Draw();
        editor.output.unlock();
        const TerminalRead read =
            OsTerminalWait(editor.bytes, editor.keys, VtEscapePending(editor.decoder));
        editor.output.lock();
        WriteMessages();
        switch (read.input) {
            case TerminalInput::kBytes:
                editor.bytes_at = 0;
                editor.bytes_length = read.count;
                break;
            case TerminalInput::kKeys:
                editor.keys_at = 0;
                editor.keys_length = read.count;
                break;
            case TerminalInput::kResized:
                VtResize(editor.screen, OsTerminalColumns());
                break;
            case TerminalInput::kResumed:
                editor.screen.drawn = false;
                break;
            case TerminalInput::kQuiet: {
                Key key;
                if (VtEscapeAlone(editor.decoder, key)) {
                    editor.keys[0] = key;
                    editor.keys_at = 0;
                    editor.keys_length = 1;
                }
                break;
            }
            case TerminalInput::kWoken:
                break;
            case TerminalInput::kStopped:
            case TerminalInput::kEnded:
                return KeyOutcome::kEnded;
        }
    }
}

}  // namespace

bool LineEditorStart(EditorOutput output) {
    if (!OsTerminalStart()) {
        return false;
    }
    editor.output = output;
    editor.by_calls = OsTerminalDrawsByCalls();
    LoadHistoryFile(command_history);
    return true;
}

EditorRead LineEditorReadLine(std::string_view prompt,
                              std::span<const std::string_view> command_names, Echo echo,
                              std::span<char> line) {
    if (editor.ended || line.empty()) {
        return {};
    }
    editor.prompt_length = prompt.copy(editor.prompt.data(), editor.prompt.size());
    const bool at_command_prompt = !command_names.empty();
    ModelStart(editor.model, at_command_prompt ? &command_history : nullptr, command_names,
               echo == Echo::kHidden, OsTerminalText());
    editor.output.lock();
    OsTerminalLineBegins();
    editor.screen.drawn = false;
    editor.screen.columns = OsTerminalColumns();
    editor.line_off = false;
    const KeyOutcome outcome = EditLine();
    // A message still arriving in parts is let out whole before the line ends.
    while (editor.line_off && editor.output.messages_waiting_locked()) {
        WriteMessages();
    }
    // Ctrl-C is a stop request again before the screen shows the line ended.
    OsTerminalLineEnds();
    // Keys typed ahead with the Enter show as typed.
    Draw();
    EndLine();
    editor.output.unlock();
    switch (outcome) {
        case KeyOutcome::kDone:
            // A line typed before a stop request is not run.
            if (OsInputWaitWoken()) {
                editor.ended = true;
                return {};
            }
            break;
        case KeyOutcome::kAbandoned:
            return {EditorEnd::kAbandoned, {}};
        default:
            editor.ended = true;
            return {};
    }
    const auto text = TakeTypedLine(LineText(editor.model.line), line, editor.ended);
    if (!text) {
        return {};
    }
    if (at_command_prompt && NamesCommand(*text, command_names) &&
        HistoryAdd(command_history, *text)) {
        SaveHistoryLine(*text);
    }
    return {EditorEnd::kLine, *text};
}
