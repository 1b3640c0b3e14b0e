#include "platform/text_stream.h"

#include <algorithm>

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

// Next character with line breaks as '\n', or nullopt at the end of the text.
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

std::optional<std::string_view> ReadTextLine(TextReader& reader, std::span<char> line) {
    const std::size_t capacity = line.empty() ? 0 : line.size() - 1;
    std::size_t stored = 0;
    const auto keep = [&](std::string_view text) {
        stored += text.copy(line.data() + stored, capacity - stored);
    };
    bool any = false;
    // A CR that ended the last buffer: a line break if a LF comes next.
    bool carriage_return = false;
    for (;;) {
        if (reader.position == reader.length && !FillBuffer(reader)) {
            if (carriage_return) {
                keep("\r");
            }
            break;
        }
        std::string_view rest(reader.buffer.data() + reader.position,
                              reader.length - reader.position);
        if (carriage_return) {
            carriage_return = false;
            if (rest.starts_with('\n')) {
                ++reader.position;
                break;
            }
            keep("\r");
        }
        // Up to the line feed, or the whole buffer; a 0x1A before it ends the text.
        const std::size_t line_feed = rest.find('\n');
        const std::string_view text = rest.substr(0, line_feed);
        if (const std::size_t end = text.find(kEndOfText); end != std::string_view::npos) {
            keep(text.substr(0, end));
            any = any || end > 0;
            reader.ended = true;
            reader.position = reader.length;
            break;
        }
        any = true;
        if (line_feed != std::string_view::npos) {
            keep(text.ends_with('\r') ? text.substr(0, text.size() - 1) : text);
            reader.position += line_feed + 1;
            break;
        }
        carriage_return = text.ends_with('\r');
        keep(carriage_return ? text.substr(0, text.size() - 1) : text);
        reader.position = reader.length;
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

StagedText StageText(std::string_view text, std::span<char> out) {
    StagedText step;
    while (step.taken < text.size()) {
        const std::string_view rest = text.substr(step.taken);
        const std::size_t line_feed = rest.find('\n');
        const std::size_t run =
            rest.copy(out.data() + step.stored, std::min(line_feed, out.size() - step.stored));
        step.taken += run;
        step.stored += run;
        if (run != line_feed || out.size() - step.stored < 2) {
            break;
        }
        out[step.stored++] = '\r';
        out[step.stored++] = '\n';
        ++step.taken;
    }
    return step;
}

bool WriteText(std::FILE* stream, std::string_view text) {
    std::array<char, 512> staged;
    while (!text.empty()) {
        const StagedText step = StageText(text, staged);
        if (std::fwrite(staged.data(), 1, step.stored, stream) != step.stored) {
            return false;
        }
        text.remove_prefix(step.taken);
    }
    return true;
}
