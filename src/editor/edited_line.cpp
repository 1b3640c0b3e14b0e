#include "editor/edited_line.h"

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
