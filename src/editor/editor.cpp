#include "editor/editor.h"

#include <array>

#include "editor/command_names.h"
#include "editor/vt_key_decoder.h"
#include "editor/vt_renderer.h"

namespace {

struct Editor {
    TextFacts text;
    std::array<char, 256> prompt{};
    std::size_t prompt_length = 0;
    bool at_command_prompt = false;
    LineModel model;
    VtDecoder decoder;
    VtScreen screen;
    // The line is off the screen for messages.
    bool hidden = false;
};

Editor editor;
const CommandHistory* command_history = nullptr;
LineView view;

// The steps of one answer, and the bytes a terminal draws them with.
struct Steps {
    std::array<TerminalDrawing, 4> list{};
    std::size_t count = 0;
    std::array<char, 2 * sizeof(LineView::bytes) + 2048> bytes{};
    std::size_t used = 0;
};

Steps steps;
std::array<char, 2048> listed;

std::span<char> BytesRoom() {
    return std::span(steps.bytes).subspan(steps.used);
}

// Adds a step whose terminal bytes were just written at BytesRoom().
void AddStep(DrawStep step, std::size_t vt_length, std::string_view text = {},
             std::size_t cells = 0, std::size_t cursor = 0) {
    if (steps.count == steps.list.size()) {
        return;
    }
    const std::string_view vt_bytes(steps.bytes.data() + steps.used, vt_length);
    steps.used += vt_length;
    steps.list[steps.count++] = {step, vt_bytes, text, cells, cursor};
}

void AddBytesStep(DrawStep step, std::string_view bytes, std::string_view text = {}) {
    AddStep(step, bytes.copy(BytesRoom().data(), BytesRoom().size()), text);
}

std::span<const TerminalDrawing> Answered() {
    return std::span(steps.list).first(steps.count);
}

void NewAnswer() {
    steps.count = 0;
    steps.used = 0;
}

std::string_view Prompt() {
    return std::string_view(editor.prompt.data(), editor.prompt_length);
}

void DrawLine() {
    if (editor.hidden) {
        return;
    }
    ModelView(editor.model, Prompt(), editor.screen.columns, view);
    if (VtShows(editor.screen, view)) {
        return;
    }
    AddStep(DrawStep::kLine, VtDraw(editor.screen, view, BytesRoom()), view.Text(), view.cells,
            view.cursor);
}

void EndLine() {
    AddStep(DrawStep::kEnd, VtEnd(editor.screen, BytesRoom()));
}

EditorEnd Act(Key key) {
    switch (ModelKey(editor.model, key)) {
        case KeyOutcome::kGoOn:
            return EditorEnd::kTyping;
        case KeyOutcome::kDone:
            return EditorEnd::kLine;
        case KeyOutcome::kEnded:
            return EditorEnd::kEnded;
        case KeyOutcome::kAbandoned:
            return EditorEnd::kAbandoned;
        case KeyOutcome::kFull:
            AddBytesStep(DrawStep::kBell, "\a");
            return EditorEnd::kTyping;
        case KeyOutcome::kRedrawAtTop:
            AddBytesStep(DrawStep::kClear, "\x1b[H\x1b[2J");
            editor.screen.drawn = false;
            editor.screen.cursor_row = 0;
            return EditorEnd::kTyping;
        case KeyOutcome::kListNames: {
            // Several names: listed below the line, which is drawn again
            // under them.
            DrawLine();
            EndLine();
            const std::string_view names(
                listed.data(), ModelListNames(editor.model, editor.screen.columns, listed));
            AddBytesStep(DrawStep::kWrite, names, names);
            return EditorEnd::kTyping;
        }
    }
    return EditorEnd::kTyping;
}

EditorAnswer Answer(EditorEnd end) {
    return {end, Answered()};
}

}  // namespace

void EditorInit(TextFacts text, const CommandHistory* history) {
    editor.text = text;
    editor.decoder.utf8 = text.kind == TextKind::kUtf8;
    command_history = history;
}

void EditorBegin(std::string_view prompt, std::span<const std::string_view> command_names,
                 Echo echo, int columns) {
    editor.prompt_length = prompt.copy(editor.prompt.data(), editor.prompt.size());
    editor.at_command_prompt = !command_names.empty();
    ModelStart(editor.model, editor.at_command_prompt ? command_history : nullptr, command_names,
               echo == Echo::kHidden, editor.text);
    editor.screen.drawn = false;
    editor.screen.cursor_row = 0;
    editor.screen.columns = columns > 0 ? columns : 80;
    editor.hidden = false;
}

EditorAnswer EditorFeedByte(char byte) {
    NewAnswer();
    Key key;
    if (!VtDecode(editor.decoder, byte, key)) {
        return Answer(EditorEnd::kTyping);
    }
    return Answer(Act(key));
}

EditorAnswer EditorFeedKey(const ConsoleKey& key) {
    NewAnswer();
    return Answer(Act(BindConsoleKey(key)));
}

EditorAnswer EditorEscapeAlone() {
    NewAnswer();
    Key key;
    if (!VtEscapeAlone(editor.decoder, key)) {
        return Answer(EditorEnd::kTyping);
    }
    return Answer(Act(key));
}

bool EditorEscapePending() {
    return VtEscapePending(editor.decoder);
}

std::span<const TerminalDrawing> EditorDraw() {
    NewAnswer();
    DrawLine();
    return Answered();
}

std::span<const TerminalDrawing> EditorHide() {
    NewAnswer();
    if (!editor.hidden) {
        AddStep(DrawStep::kHide, VtErase(editor.screen, BytesRoom()));
        editor.hidden = true;
    }
    return Answered();
}

std::span<const TerminalDrawing> EditorShow() {
    NewAnswer();
    editor.hidden = false;
    DrawLine();
    return Answered();
}

void EditorResize(int columns) {
    VtResize(editor.screen, columns);
}

void EditorResumed() {
    editor.screen.drawn = false;
}

std::span<const TerminalDrawing> EditorFinish() {
    NewAnswer();
    if (!editor.hidden) {
        // Keys typed ahead with the Enter show as typed.
        DrawLine();
        EndLine();
    }
    editor.hidden = false;
    return Answered();
}

std::optional<std::string_view> EditorTakeLine(std::span<char> line, bool& ended,
                                               bool& for_history) {
    const auto text = TakeTypedLine(LineText(editor.model.line), line, ended);
    for_history = text && editor.at_command_prompt && NamesCommand(*text, editor.model.names);
    return text;
}

TextPrefix EditorWholeCharacters(std::string_view typed, std::size_t room) {
    return WholeCharactersOf(editor.text, typed, room);
}
