#include "console/line_model.h"

#include <cstring>

namespace {

bool IsContinuation(const LineModel& model, std::size_t at) {
    return model.text == TextKind::kUtf8 && at < model.line.length &&
           (static_cast<unsigned char>(model.line.text[at]) & 0xc0) == 0x80;
}

// Where the character before or after `at` starts.
std::size_t CharacterBefore(const LineModel& model, std::size_t at) {
    if (at == 0) {
        return 0;
    }
    --at;
    while (at > 0 && IsContinuation(model, at)) {
        --at;
    }
    return at;
}

std::size_t CharacterAfter(const LineModel& model, std::size_t at) {
    if (at >= model.line.length) {
        return model.line.length;
    }
    ++at;
    while (IsContinuation(model, at)) {
        ++at;
    }
    return at;
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
            if (model.query_length < model.query.size()) {
                model.query[model.query_length++] = key.character;
                SearchFrom(model, model.found == 0 ? 1 : model.found);
            }
            return KeyOutcome::kGoOn;
        case KeyName::kBackspace:
            if (model.query_length > 0) {
                --model.query_length;
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
            return KeyOutcome::kGoOn;
        case KeyName::kAbandon:
            return KeyOutcome::kAbandoned;
        case KeyName::kNone:
            return KeyOutcome::kGoOn;
        default:
            AcceptSearch(model);
            return ModelKey(model, key);
    }
}

void Insert(LineModel& model, std::string_view typed) {
    static_cast<void>(LineInsert(model.line, typed));
}

}  // namespace

void ModelStart(LineModel& model, const CommandHistory* history,
                std::span<const std::string_view> names, bool hidden, TextKind text) {
    LineReplace(model.line, "");
    model.position = {};
    model.history = history;
    model.names = names;
    model.hidden = hidden;
    model.text = text;
    model.searching = false;
    model.query_length = 0;
    model.found = 0;
}

KeyOutcome ModelKey(LineModel& model, Key key) {
    if (model.searching) {
        return SearchKey(model, key);
    }
    EditedLine& line = model.line;
    switch (key.name) {
        case KeyName::kCharacter:
            Insert(model, std::string_view(&key.character, 1));
            break;
        case KeyName::kEnter:
            return KeyOutcome::kDone;
        case KeyName::kLeft:
            line.cursor = CharacterBefore(model, line.cursor);
            break;
        case KeyName::kRight:
            line.cursor = CharacterAfter(model, line.cursor);
            break;
        case KeyName::kHome:
            line.cursor = 0;
            break;
        case KeyName::kEnd:
            line.cursor = line.length;
            break;
        case KeyName::kWordLeft:
            line.cursor = WordStartBefore(line, line.cursor);
            break;
        case KeyName::kWordRight:
            line.cursor = WordEndAfter(line, line.cursor);
            break;
        case KeyName::kBackspace:
            Erase(line, CharacterBefore(model, line.cursor), line.cursor);
            break;
        case KeyName::kEndOrDelete:
            if (line.length == 0) {
                return KeyOutcome::kEnded;
            }
            [[fallthrough]];
        case KeyName::kDelete:
            Erase(line, line.cursor, CharacterAfter(model, line.cursor));
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
                Insert(model, "\t");
                break;
            }
            {
                const Completion completion =
                    CompleteCommandName(LineText(line).substr(0, line.cursor), model.names);
                Insert(model, completion.added);
                if (completion.matches > 1) {
                    return KeyOutcome::kListNames;
                }
            }
            break;
        case KeyName::kAbandon:
            return KeyOutcome::kAbandoned;
        case KeyName::kCancel:
        case KeyName::kNone:
            break;
    }
    return KeyOutcome::kGoOn;
}

namespace {

struct ViewWriter {
    LineView& view;
    TextKind text;

    void Add(char byte, std::size_t cells) {
        if (view.length < view.bytes.size()) {
            view.bytes[view.length++] = byte;
        }
        view.cells += cells;
    }

    // A control character is drawn as ^ and a letter; a byte of 0x80 and
    // above as the terminal shows it, or as '?' where the text is ASCII.
    void Draw(std::string_view bytes) {
        for (const char byte : bytes) {
            const auto value = static_cast<unsigned char>(byte);
            if (value < 0x20 || value == 0x7f) {
                Add('^', 1);
                Add(static_cast<char>(value ^ 0x40), 1);
            } else if (value < 0x80 || text == TextKind::kSingleByte) {
                Add(byte, 1);
            } else if (text == TextKind::kAscii) {
                Add('?', 1);
            } else {
                Add(byte, (value & 0xc0) == 0x80 ? 0 : 1);
            }
        }
    }
};

}  // namespace

void ModelView(const LineModel& model, std::string_view prompt, LineView& view) {
    view.length = 0;
    view.cells = 0;
    ViewWriter writer{view, model.text};
    const std::string_view line = LineText(model.line);
    if (model.searching) {
        writer.Draw(model.search_failed ? "(failed reverse-i-search)`" : "(reverse-i-search)`");
        writer.Draw(Query(model));
        writer.Draw("': ");
    } else {
        writer.Draw(prompt);
    }
    if (model.hidden) {
        view.cursor = view.cells;
        return;
    }
    const std::size_t start = view.cells;
    writer.Draw(line.substr(0, model.line.cursor));
    view.cursor = view.cells;
    writer.Draw(line.substr(model.line.cursor));
    if (model.searching && model.found == 0) {
        view.cursor = start;
    }
}

std::size_t ModelListNames(const LineModel& model, int columns, std::span<char> listed) {
    return ListCommandNames(LineText(model.line).substr(0, model.line.cursor), model.names, columns,
                            listed);
}
