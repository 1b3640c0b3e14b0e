#include "editor/editing_model.h"

#include <algorithm>
#include <cstring>

#include "editor/command_names.h"

namespace {

// The character that starts at byte `at` of `text`: a control byte is drawn
// as ^ and a letter, ASCII is one cell, and the rest is as the terminal says,
// never past the text's end.
TextCharacter CharacterAt(const TextFacts& facts, std::string_view text, std::size_t at) {
    const auto value = static_cast<unsigned char>(text[at]);
    if (value < 0x20 || value == 0x7f) {
        return {1, 2};
    }
    if (value < 0x80 || facts.kind == TextKind::kAscii || facts.character == nullptr) {
        return {1, 1};
    }
    TextCharacter character = facts.character(text.substr(at));
    character.bytes = std::clamp<std::size_t>(character.bytes, 1, text.size() - at);
    return character;
}

// Where the character after `at` starts; a combining mark goes with the
// character before it.
std::size_t NextStart(const TextFacts& facts, std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return text.size();
    }
    at += CharacterAt(facts, text, at).bytes;
    while (at < text.size()) {
        const TextCharacter next = CharacterAt(facts, text, at);
        if (next.cells != 0) {
            break;
        }
        at += next.bytes;
    }
    return at;
}

// Where the character before `at` starts: found from the text's start, as
// a double-byte code page's trail byte may look like a lead byte.
std::size_t PreviousStart(const TextFacts& facts, std::string_view text, std::size_t at) {
    std::size_t start = 0;
    for (std::size_t next = 0; next < at;) {
        start = next;
        next = NextStart(facts, text, next);
    }
    return start;
}

std::size_t CharacterBefore(const LineModel& model, std::size_t at) {
    return PreviousStart(model.text, LineText(model.line), at);
}

std::size_t CharacterAfter(const LineModel& model, std::size_t at) {
    return NextStart(model.text, LineText(model.line), at);
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
            if (model.query_length + key.length > model.query.size()) {
                return KeyOutcome::kFull;
            }
            model.query_length += key.Text().copy(model.query.data() + model.query_length,
                                                  model.query.size() - model.query_length);
            SearchFrom(model, model.found == 0 ? 1 : model.found);
            return KeyOutcome::kGoOn;
        case KeyName::kBackspace:
            if (model.query_length > 0) {
                model.query_length = PreviousStart(model.text, Query(model), model.query_length);
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

KeyOutcome Insert(LineModel& model, std::string_view typed) {
    if (typed.empty() || LineInsert(model.line, typed)) {
        return KeyOutcome::kGoOn;
    }
    return KeyOutcome::kFull;
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
}

KeyOutcome ModelKey(LineModel& model, Key key) {
    if (model.searching) {
        return SearchKey(model, key);
    }
    EditedLine& line = model.line;
    switch (key.name) {
        case KeyName::kCharacter:
            return Insert(model, key.Text());
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
        case KeyName::kNone:
            break;
    }
    return KeyOutcome::kGoOn;
}

namespace {

struct ViewWriter {
    LineView& view;
    const TextFacts& facts;
    std::size_t columns;

    void Add(std::string_view bytes, std::size_t cells) {
        // A wide character does not split across rows: the terminal leaves
        // a row's last cell blank and draws it on the next.
        if (cells == 2 && columns >= 2 && view.cells % columns == columns - 1) {
            ++view.cells;
        }
        if (view.length + bytes.size() <= view.bytes.size()) {
            view.length += bytes.copy(view.bytes.data() + view.length, bytes.size());
        }
        view.cells += cells;
    }

    // A control character is drawn as ^ and a letter; a byte of 0x80 and
    // above as '?' where the text is ASCII; the rest as the terminal shows it.
    void Draw(std::string_view text) {
        for (std::size_t at = 0; at < text.size();) {
            const TextCharacter character = CharacterAt(facts, text, at);
            const auto value = static_cast<unsigned char>(text[at]);
            if (value < 0x20 || value == 0x7f) {
                const char shown[] = {'^', static_cast<char>(value ^ 0x40)};
                Add(std::string_view(shown, 2), 2);
            } else if (value >= 0x80 && facts.kind == TextKind::kAscii) {
                Add("?", 1);
            } else {
                Add(text.substr(at, character.bytes), character.cells);
            }
            at += character.bytes;
        }
    }
};

}  // namespace

void ModelView(const LineModel& model, std::string_view prompt, int columns, LineView& view) {
    view.length = 0;
    view.cells = 0;
    ViewWriter writer{view, model.text, columns > 0 ? static_cast<std::size_t>(columns) : 80};
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

TextPrefix WholeCharactersOf(const TextFacts& facts, std::string_view text, std::size_t room) {
    TextPrefix prefix;
    while (prefix.bytes < text.size()) {
        const std::size_t next = NextStart(facts, text, prefix.bytes);
        if (next > room) {
            break;
        }
        prefix.bytes = next;
        ++prefix.characters;
    }
    return prefix;
}
