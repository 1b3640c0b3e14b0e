#include "editor/editing_model.h"

#include <algorithm>
#include <cstring>

#include "editor/command_names.h"

namespace {

// Where the last cluster of `text` starts.
std::size_t LastClusterStart(const TextFacts& facts, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t next = 0; next < text.size();) {
        start = next;
        next += ClusterAt(facts, text.substr(next)).bytes;
    }
    return start;
}

bool IsSpace(char character) {
    return character == ' ' || character == '\t';
}

std::size_t WordStartBefore(const EditedLine& line, std::size_t at) {
    while (at > 0 && IsSpace(line.text[at - 1])) {
        --at;
    }
    while (at > 0 && !IsSpace(line.text[at - 1])) {
        --at;
    }
    return at;
}

std::size_t WordEndAfter(const EditedLine& line, std::size_t at) {
    while (at < line.length && IsSpace(line.text[at])) {
        ++at;
    }
    while (at < line.length && !IsSpace(line.text[at])) {
        ++at;
    }
    return at;
}

// Takes bytes `from` to `to` out of the line; the cursor goes to `from`.
void Erase(EditedLine& line, std::size_t from, std::size_t to) {
    if (from >= to) {
        return;
    }
    std::memmove(line.text.data() + from, line.text.data() + to, line.length - to);
    line.length -= to - from;
    line.text[line.length] = '\0';
    line.cursor = from;
}

std::string_view Query(const LineModel& model) {
    return std::string_view(model.query.data(), model.query_length);
}

KeyOutcome Act(LineModel& model, Key key);

// Looks back from entry `from` for the query; shows the entry found.
void SearchFrom(LineModel& model, std::size_t from) {
    model.search_failed = true;
    for (std::size_t back = from; back <= model.history->count; ++back) {
        const std::string_view entry = HistoryEntry(*model.history, back);
        const std::size_t at = entry.rfind(Query(model));
        if (at != std::string_view::npos) {
            model.found = back;
            model.search_failed = false;
            LineReplace(model.line, entry);
            model.line.cursor = at;
            return;
        }
    }
}

// Leaves the search with the line found, as it stands, for the key to act on.
void AcceptSearch(LineModel& model) {
    model.searching = false;
    model.position = {};
}

KeyOutcome SearchKey(LineModel& model, Key key) {
    switch (key.name) {
        case KeyName::kCharacter:
            if (model.query_length + key.length > model.query.size()) {
                return KeyOutcome::kFull;
            }
            model.query_length += key.Text().copy(model.query.data() + model.query_length,
                                                  model.query.size() - model.query_length);
            SearchFrom(model, model.found == 0 ? 1 : model.found);
            return KeyOutcome::kGoOn;
        case KeyName::kBackspace:
            if (model.query_length > 0) {
                model.query_length = LastClusterStart(model.text, Query(model));
                SearchFrom(model, 1);
            }
            return KeyOutcome::kGoOn;
        case KeyName::kSearch:
            if (model.query_length > 0) {
                SearchFrom(model, model.found + 1);
            }
            return KeyOutcome::kGoOn;
        case KeyName::kCancel:
        case KeyName::kClear:
            model.searching = false;
            model.line = model.before_search;
            ModelFindClusters(model);
            return KeyOutcome::kGoOn;
        case KeyName::kAbandon:
            return KeyOutcome::kAbandoned;
        case KeyName::kNone:
            return KeyOutcome::kGoOn;
        default:
            AcceptSearch(model);
            ModelFindClusters(model);
            return Act(model, key);
    }
}

// The cluster before the one at `index`, and where it starts, as the start
// of what an edit at `index` (ending at byte `at`) may change: a character
// typed may join the one before it.
struct EditStart {
    std::size_t first = 0;
    std::size_t start = 0;
};

EditStart EditStartBefore(const LineModel& model, std::size_t index, std::size_t at) {
    if (index == 0) {
        return {};
    }
    return {index - 1, at - model.clusters.list[index - 1].bytes};
}

KeyOutcome Insert(LineModel& model, std::string_view typed) {
    const std::size_t at = model.line.cursor;
    if (typed.empty()) {
        return KeyOutcome::kGoOn;
    }
    if (!LineInsert(model.line, typed)) {
        return KeyOutcome::kFull;
    }
    const EditStart edit = EditStartBefore(model, model.clusters.cursor, at);
    ModelRefindClusters(model, edit.first, edit.start, at, at + typed.size());
    return KeyOutcome::kGoOn;
}

// Takes out the cluster before the cursor (`before`) or at it.
void EraseCluster(LineModel& model, bool before) {
    ClusterTable& table = model.clusters;
    std::size_t index = table.cursor;
    std::size_t to = model.line.cursor;
    if (before) {
        if (index == 0) {
            return;
        }
        --index;
    } else {
        if (index == table.count) {
            return;
        }
        to += table.list[index].bytes;
    }
    const std::size_t from = to - table.list[index].bytes;
    const EditStart edit = EditStartBefore(model, index, from);
    Erase(model.line, from, to);
    ModelRefindClusters(model, edit.first, edit.start, to, from);
}

// The keys whose change to the line the table follows by itself.
bool KeptInStep(KeyName name) {
    switch (name) {
        case KeyName::kCharacter:
        case KeyName::kEnter:
        case KeyName::kLeft:
        case KeyName::kRight:
        case KeyName::kHome:
        case KeyName::kEnd:
        case KeyName::kBackspace:
        case KeyName::kDelete:
        case KeyName::kEndOrDelete:
        case KeyName::kTab:
        case KeyName::kAbandon:
        case KeyName::kRedrawAtTop:
        case KeyName::kCursorReport:
        case KeyName::kCancel:
        case KeyName::kNone:
            return true;
        default:
            return false;
    }
}

}  // namespace

void ModelStart(LineModel& model, const CommandHistory* history,
                std::span<const std::string_view> names, bool hidden, TextFacts text) {
    LineReplace(model.line, "");
    model.position = {};
    model.history = history;
    model.names = names;
    model.hidden = hidden;
    model.text = text;
    model.searching = false;
    model.query_length = 0;
    model.found = 0;
    model.clusters.count = 0;
    model.clusters.cursor = 0;
    model.clusters.guessed = 0;
    model.view_of = nullptr;
    model.view_valid = 0;
}

KeyOutcome ModelKey(LineModel& model, Key key) {
    if (model.searching) {
        const KeyOutcome outcome = SearchKey(model, key);
        ModelFindClusters(model);
        return outcome;
    }
    const KeyOutcome outcome = Act(model, key);
    if (!KeptInStep(key.name)) {
        ModelFindClusters(model);
    }
    return outcome;
}

namespace {

KeyOutcome Act(LineModel& model, Key key) {
    ClusterTable& table = model.clusters;
    EditedLine& line = model.line;
    switch (key.name) {
        case KeyName::kCharacter:
            return Insert(model, key.Text());
        case KeyName::kEnter:
            return KeyOutcome::kDone;
        case KeyName::kLeft:
            if (table.cursor > 0) {
                line.cursor -= table.list[--table.cursor].bytes;
            }
            break;
        case KeyName::kRight:
            if (table.cursor < table.count) {
                line.cursor += table.list[table.cursor++].bytes;
            }
            break;
        case KeyName::kHome:
            line.cursor = 0;
            table.cursor = 0;
            break;
        case KeyName::kEnd:
            line.cursor = line.length;
            table.cursor = table.count;
            break;
        case KeyName::kWordLeft:
            line.cursor = WordStartBefore(line, line.cursor);
            break;
        case KeyName::kWordRight:
            line.cursor = WordEndAfter(line, line.cursor);
            break;
        case KeyName::kBackspace:
            EraseCluster(model, true);
            break;
        case KeyName::kEndOrDelete:
            if (line.length == 0) {
                return KeyOutcome::kEnded;
            }
            [[fallthrough]];
        case KeyName::kDelete:
            EraseCluster(model, false);
            break;
        case KeyName::kKillToEnd:
            Erase(line, line.cursor, line.length);
            break;
        case KeyName::kKillToStart:
            Erase(line, 0, line.cursor);
            break;
        case KeyName::kEraseWord:
            Erase(line, WordStartBefore(line, line.cursor), line.cursor);
            break;
        case KeyName::kClear:
            LineClear(line);
            model.position = {};
            break;
        case KeyName::kUp:
        case KeyName::kDown:
            if (model.history != nullptr) {
                HistoryStep(*model.history, model.position, line, key.name == KeyName::kUp);
            }
            break;
        case KeyName::kSearch:
            if (model.history != nullptr) {
                model.searching = true;
                model.search_failed = false;
                model.query_length = 0;
                model.found = 0;
                model.before_search = line;
            }
            break;
        case KeyName::kTab:
            if (model.names.empty()) {
                return Insert(model, "\t");
            }
            {
                const Completion completion =
                    CompleteCommandName(LineText(line).substr(0, line.cursor), model.names);
                if (Insert(model, completion.added) == KeyOutcome::kFull) {
                    return KeyOutcome::kFull;
                }
                if (completion.matches > 1) {
                    return KeyOutcome::kListNames;
                }
            }
            break;
        case KeyName::kAbandon:
            return KeyOutcome::kAbandoned;
        case KeyName::kRedrawAtTop:
            return KeyOutcome::kRedrawAtTop;
        case KeyName::kCancel:
        case KeyName::kCursorReport:
        case KeyName::kNone:
            break;
    }
    return KeyOutcome::kGoOn;
}

}  // namespace

std::size_t ModelListNames(const LineModel& model, int columns, std::span<char> listed) {
    return ListCommandNames(LineText(model.line).substr(0, model.line.cursor), model.names, columns,
                            listed);
}
