#include "editor/command_history.h"

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

bool HistoryAddOlder(CommandHistory& history, std::string_view text) {
    if (history.count == kHistoryMostEntries) {
        return false;
    }
    if (text.empty() || text.size() > kCommandLineCapacity - 1 ||
        (history.count > 0 && HistoryEntry(history, history.count) == text)) {
        return true;
    }
    history.oldest = (history.oldest + kHistoryMostEntries - 1) % kHistoryMostEntries;
    ++history.count;
    auto& entry = history.entries[history.oldest];
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
