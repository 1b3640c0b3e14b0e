#include "editor/editor.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

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
    // A key did not fit and the bell rang: the keys that follow it without
    // fitting either (the rest of a paste, a key held down) ring no more.
    bool bell_rung = false;
};

Editor editor;

// The cells the terminal drew clusters of several code points in, asked of
// it once a kind (a cursor position report after the cluster alone): the
// terminal joins emoji or not. cells 0: asked, not (yet) answered.
struct LearnedCluster {
    std::array<char, 32> bytes{};
    std::size_t length = 0;
    std::size_t cells = 0;
};

struct Learning {
    std::array<LearnedCluster, 16> clusters{};
    std::size_t count = 0;
    // The one asked about, while its answer is awaited.
    std::size_t asked = 0;
    bool waiting = false;
    std::chrono::steady_clock::time_point asked_at;
};

// An answer later than this is taken for a terminal that does not answer.
constexpr std::chrono::milliseconds kAnswerTime{3000};

Learning learning;

LearnedCluster* FindLearned(std::string_view cluster) {
    for (std::size_t at = 0; at < learning.count; ++at) {
        LearnedCluster& known = learning.clusters[at];
        if (std::string_view(known.bytes.data(), known.length) == cluster) {
            return &known;
        }
    }
    return nullptr;
}

std::size_t LearnedCells(std::string_view cluster) {
    const LearnedCluster* known = FindLearned(cluster);
    return known != nullptr ? known->cells : 0;
}

// A cluster of the line whose cells are a guess the terminal was not asked
// about yet.
std::string_view ClusterToAsk(const LineModel& model) {
    if (model.hidden || model.clusters.guessed == 0 || learning.count == learning.clusters.size() ||
        (learning.waiting && std::chrono::steady_clock::now() - learning.asked_at < kAnswerTime)) {
        return {};
    }
    const std::string_view line = LineText(model.line);
    std::size_t at = 0;
    for (std::size_t index = 0; index < model.clusters.count; ++index) {
        const Cluster& cluster = model.clusters.list[index];
        const std::string_view bytes = line.substr(at, cluster.bytes);
        if (cluster.guessed && bytes.size() <= LearnedCluster{}.bytes.size() &&
            FindLearned(bytes) == nullptr) {
            return bytes;
        }
        at += cluster.bytes;
    }
    return {};
}

// Draws the cluster alone at the start of the line's first row and asks
// where the cursor went; the line is then drawn anew over it.
std::size_t AskCells(std::string_view cluster, std::span<char> out) {
    LearnedCluster& asked = learning.clusters[learning.count];
    asked.length = cluster.copy(asked.bytes.data(), asked.bytes.size());
    asked.cells = 0;
    learning.asked = learning.count++;
    learning.waiting = true;
    learning.asked_at = std::chrono::steady_clock::now();
    char up[32] = "";
    if (editor.screen.drawn && editor.screen.cursor_row > 0) {
        std::snprintf(up, sizeof up, "\x1b[%zuA", editor.screen.cursor_row);
    }
    std::size_t length = 0;
    for (const std::string_view part :
         {std::string_view("\r"), std::string_view(up), cluster, std::string_view("\x1b[6n\r")}) {
        length += part.copy(out.data() + length, out.size() - length);
    }
    editor.screen.drawn = true;
    editor.screen.cursor_row = 0;
    editor.screen.last.length = 0;
    editor.screen.last.cursor = static_cast<std::size_t>(-1);
    return length;
}

// The answer: the column after the cluster, from 1.
void TakeCursorReport(const Key& key) {
    if (!learning.waiting) {
        return;  // no question asked: a key, or an answer too late
    }
    learning.waiting = false;
    if (key.column >= 2 && key.column <= 9 &&
        std::chrono::steady_clock::now() - learning.asked_at < kAnswerTime) {
        learning.clusters[learning.asked].cells = key.column - 1u;
        ModelFindClusters(editor.model);
    }
}
const CommandHistory* command_history = nullptr;
LineView view;

// The steps of one answer, and the bytes a terminal draws them with.
struct Steps {
    // The most one answer holds is three (Tab's list of names: the line,
    // its end, the list); one more for room.
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
    std::size_t asked = 0;
    if (const std::string_view cluster = ClusterToAsk(editor.model); !cluster.empty()) {
        asked = AskCells(cluster, BytesRoom());
    }
    if (VtShows(editor.screen, view)) {
        return;
    }
    const std::size_t drawn = VtDraw(editor.screen, view, BytesRoom().subspan(asked));
    AddStep(DrawStep::kLine, asked + drawn, view.Text(), view.cells, view.cursor);
}

void EndLine() {
    AddStep(DrawStep::kEnd, VtEnd(editor.screen, BytesRoom()));
}

EditorEnd Act(Key key) {
    if (key.name == KeyName::kCursorReport) {
        TakeCursorReport(key);
        return EditorEnd::kGoesOn;
    }
    const KeyOutcome outcome = ModelKey(editor.model, key);
    if (outcome != KeyOutcome::kFull && key.name != KeyName::kNone) {
        editor.bell_rung = false;
    }
    switch (outcome) {
        case KeyOutcome::kGoOn:
            return EditorEnd::kGoesOn;
        case KeyOutcome::kDone:
            return EditorEnd::kLine;
        case KeyOutcome::kEnded:
            return EditorEnd::kEnded;
        case KeyOutcome::kAbandoned:
            return EditorEnd::kAbandoned;
        case KeyOutcome::kFull:
            if (!editor.bell_rung) {
                AddBytesStep(DrawStep::kBell, "\a");
                editor.bell_rung = true;
            }
            return EditorEnd::kGoesOn;
        case KeyOutcome::kRedrawAtTop:
            AddBytesStep(DrawStep::kClear, "\x1b[H\x1b[2J");
            editor.screen.drawn = false;
            editor.screen.cursor_row = 0;
            return EditorEnd::kGoesOn;
        case KeyOutcome::kListNames: {
            // Several names: listed below the line, which is drawn again
            // under them.
            DrawLine();
            EndLine();
            const std::string_view names(
                listed.data(), ModelListNames(editor.model, editor.screen.columns, listed));
            AddBytesStep(DrawStep::kWrite, names, names);
            return EditorEnd::kGoesOn;
        }
    }
    return EditorEnd::kGoesOn;
}

EditorAnswer Answer(EditorEnd end) {
    return {end, Answered()};
}

}  // namespace

void EditorInit(TextFacts text, const CommandHistory* history) {
    editor.text = text;
    editor.text.learned = LearnedCells;
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
    editor.bell_rung = false;
}

EditorAnswer EditorFeedByte(char byte) {
    NewAnswer();
    Key key;
    if (!VtDecode(editor.decoder, byte, key)) {
        return Answer(EditorEnd::kGoesOn);
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
        return Answer(EditorEnd::kGoesOn);
    }
    return Answer(Act(key));
}

bool EditorEscapePending() {
    return VtEscapePending(editor.decoder);
}

std::chrono::milliseconds EditorAnswerAwaited() {
    if (!learning.waiting) {
        return {};
    }
    const auto left = kAnswerTime - (std::chrono::steady_clock::now() - learning.asked_at);
    return std::max(std::chrono::milliseconds{},
                    std::chrono::ceil<std::chrono::milliseconds>(left));
}

void EditorTakeLateByte(char byte) {
    Key key;
    if (VtDecode(editor.decoder, byte, key) && key.name == KeyName::kCursorReport) {
        TakeCursorReport(key);
    }
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
    // The line as typed, whole: a cluster that goes on past `typed` is seen
    // to, and left out.
    const std::string_view line = LineText(editor.model.line);
    return WholeCharactersOf(editor.text, line.starts_with(typed) ? line : typed, room);
}
