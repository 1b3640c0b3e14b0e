#include "editor/command_names.h"

#include <algorithm>

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

bool NamesCommand(std::string_view text, std::span<const std::string_view> names) {
    return std::find(names.begin(), names.end(), text) != names.end();
}
