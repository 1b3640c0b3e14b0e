#include "console/line_editing.h"

#include <algorithm>
#include <cstring>

std::string_view LineText(const EditedLine& line) {
    return std::string_view(line.text.data(), line.length);
}

bool LineInsert(EditedLine& line, std::string_view typed) {
    if (typed.empty() || line.length + typed.size() > line.text.size() - 1) {
        return false;
    }
    char* at = line.text.data() + line.cursor;
    std::memmove(at + typed.size(), at, line.length - line.cursor);
    typed.copy(at, typed.size());
    line.length += typed.size();
    line.cursor += typed.size();
    line.text[line.length] = '\0';
    return true;
}

bool LineClear(EditedLine& line) {
    if (line.length == 0) {
        return false;
    }
    LineReplace(line, "");
    return true;
}

void LineReplace(EditedLine& line, std::string_view text) {
    line.length = text.copy(line.text.data(), line.text.size() - 1);
    line.text[line.length] = '\0';
    line.cursor = line.length;
}

bool HistoryAdd(CommandHistory& history, std::string_view text) {
    if (text.empty() || text.size() > kCommandLineCapacity - 1 ||
        (history.count > 0 && HistoryEntry(history, 1) == text)) {
        return false;
    }
    std::size_t slot = (history.oldest + history.count) % kHistoryMostEntries;
    if (history.count == kHistoryMostEntries) {
        history.oldest = (history.oldest + 1) % kHistoryMostEntries;
    } else {
        ++history.count;
    }
    auto& entry = history.entries[slot];
    entry[text.copy(entry.data(), entry.size() - 1)] = '\0';
    return true;
}

std::string_view HistoryEntry(const CommandHistory& history, std::size_t back) {
    if (back == 0 || back > history.count) {
        return {};
    }
    const std::size_t slot = (history.oldest + history.count - back) % kHistoryMostEntries;
    return std::string_view(history.entries[slot].data());
}

bool HistoryStep(const CommandHistory& history, HistoryPosition& position, EditedLine& line,
                 bool older) {
    if (older ? position.back >= history.count : position.back == 0) {
        return false;
    }
    if (position.back == 0) {
        position.typed = line;
    }
    position.back += older ? 1 : -1;
    if (position.back == 0) {
        line = position.typed;
    } else {
        LineReplace(line, HistoryEntry(history, position.back));
    }
    return true;
}

Completion CompleteCommandName(std::string_view start, std::span<const std::string_view> names) {
    Completion completion;
    std::string_view first;
    std::size_t shared = 0;
    for (const std::string_view name : names) {
        if (!name.starts_with(start)) {
            continue;
        }
        if (completion.matches++ == 0) {
            first = name;
            shared = name.size();
        }
        while (name.substr(0, shared) != first.substr(0, shared)) {
            --shared;
        }
    }
    if (completion.matches > 0) {
        completion.added = first.substr(start.size(), shared - start.size());
    }
    return completion;
}

std::size_t ListCommandNames(std::string_view start, std::span<const std::string_view> names,
                             int columns, std::span<char> listed) {
    std::size_t stored = 0;
    const auto add = [&](std::string_view text) {
        stored += text.copy(listed.data() + stored, listed.size() - stored);
    };
    int column = 0;
    for (const std::string_view name : names) {
        if (!name.starts_with(start)) {
            continue;
        }
        const int width = static_cast<int>(name.size());
        if (column > 0 && column + 2 + width >= columns) {
            add("\r\n");
            column = 0;
        } else if (column > 0) {
            add("  ");
            column += 2;
        }
        add(name);
        column += width;
    }
    add("\r\n");
    return stored;
}

std::optional<std::string_view> TakeTypedLine(std::string_view text, std::span<char> line,
                                              bool& ended) {
    if (const std::size_t end = text.find('\x1a'); end != std::string_view::npos) {
        ended = true;
        if (end == 0) {
            return std::nullopt;
        }
        text = text.substr(0, end);
    }
    const std::size_t stored = text.copy(line.data(), line.size() - 1);
    line[stored] = '\0';
    return std::string_view(line.data(), stored);
}

bool NamesCommand(std::string_view text, std::span<const std::string_view> names) {
    return std::find(names.begin(), names.end(), text) != names.end();
}
