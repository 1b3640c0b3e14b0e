#include "platform/text_stream.h"

namespace {

constexpr char kEndOfText = 0x1A;

bool FillBuffer(TextReader& reader) {
    if (reader.ended) {
        return false;
    }
    if (reader.before_read != nullptr) {
        reader.before_read();
    }
    const std::ptrdiff_t count =
        reader.read(reader.source, reader.buffer.data(), reader.buffer.size());
    if (count <= 0) {
        reader.ended = true;
        reader.failed = count < 0;
        return false;
    }
    reader.position = 0;
    reader.length = static_cast<std::size_t>(count);
    return true;
}

std::optional<char> ReadRawByte(TextReader& reader) {
    if (reader.position == reader.length && !FillBuffer(reader)) {
        return std::nullopt;
    }
    return reader.buffer[reader.position++];
}

std::optional<char> PeekRawByte(TextReader& reader) {
    if (reader.position == reader.length && !FillBuffer(reader)) {
        return std::nullopt;
    }
    return reader.buffer[reader.position];
}

}  // namespace

TextReader MakeTextReader(ByteSource read, void* source, void (*before_read)()) {
    TextReader reader;
    reader.read = read;
    reader.source = source;
    reader.before_read = before_read;
    return reader;
}

std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t capacity) {
    auto* stream = static_cast<std::FILE*>(file);
    const std::size_t count = std::fread(buffer, 1, capacity, stream);
    if (count == 0 && std::ferror(stream) != 0) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(count);
}

std::optional<char> ReadTextChar(TextReader& reader) {
    const std::optional<char> byte = ReadRawByte(reader);
    if (!byte) {
        return std::nullopt;
    }
    if (*byte == kEndOfText) {
        reader.ended = true;
        reader.position = reader.length;
        return std::nullopt;
    }
    if (*byte == '\r' && PeekRawByte(reader) == '\n') {
        ++reader.position;
        return '\n';
    }
    return byte;
}

std::optional<std::string_view> ReadTextLine(TextReader& reader, std::span<char> line) {
    std::size_t stored = 0;
    bool any = false;
    while (const std::optional<char> c = ReadTextChar(reader)) {
        any = true;
        if (*c == '\n') {
            break;
        }
        if (stored + 1 < line.size()) {
            line[stored++] = *c;
        }
    }
    if (!line.empty()) {
        line[stored] = '\0';
    }
    if (!any) {
        return std::nullopt;
    }
    return std::string_view(line.data(), stored);
}

std::string_view ReadTextPiece(TextReader& reader, std::span<char> piece) {
    std::size_t stored = 0;
    while (stored + 1 < piece.size()) {
        const std::optional<char> c = ReadTextChar(reader);
        if (!c) {
            break;
        }
        piece[stored++] = *c;
        if (*c == '\n') {
            break;
        }
    }
    if (!piece.empty()) {
        piece[stored] = '\0';
    }
    return std::string_view(piece.data(), stored);
}

bool WriteText(std::FILE* stream, std::string_view text) {
    while (!text.empty()) {
        const std::size_t line_end = text.find('\n');
        const std::string_view chunk = text.substr(0, line_end);
        if (std::fwrite(chunk.data(), 1, chunk.size(), stream) != chunk.size()) {
            return false;
        }
        if (line_end == std::string_view::npos) {
            break;
        }
        if (std::fwrite("\r\n", 1, 2, stream) != 2) {
            return false;
        }
        text.remove_prefix(line_end + 1);
    }
    return true;
}
