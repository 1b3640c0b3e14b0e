// An independent statement of the text rules, for the fuzz targets to hold
// the program's readers and writers against: plain strings, no buffers.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace model {

// The text as the program sees it: up to the first 0x1A, each CR LF as LF.
inline std::string TextOf(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\x1a'));
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;  // the LF that follows stands for the pair
        }
        text += bytes[i];
    }
    return text;
}

// Lines without their breaks; a last line without a break counts.
inline std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Pieces as fgets gives them: up to `longest` characters, a line break kept.
inline std::vector<std::string> PiecesOf(const std::string& text, std::size_t longest) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        end = std::min(end, start + longest);
        pieces.push_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

inline std::string WithCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

}  // namespace model

// Serves `bytes` in reads of at most `chunk` bytes, then reports an error
// (EIO) if `fails`, else the end. Counts the reads asked for.
struct MemorySource {
    std::string_view bytes;
    std::size_t chunk = 1;
    bool fails = false;
    int reads = 0;
};

inline std::ptrdiff_t ReadMemory(void* source, char* buffer, std::size_t capacity) {
    auto& memory = *static_cast<MemorySource*>(source);
    ++memory.reads;
    if (memory.bytes.empty()) {
        return memory.fails ? (errno = EIO, -1) : 0;
    }
    const std::size_t count = std::min({capacity, memory.chunk, memory.bytes.size()});
    std::memcpy(buffer, memory.bytes.data(), count);
    memory.bytes.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
}
