#include "platform/text_stream.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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

// Output is staged a word at a time: memchr and memcpy, called for each of
// the many short pieces a print is made of, made the scripted throughput
// 40% slower (bench/run.sh throughput). The first marked byte is found from
// the low end of a word: exact on a little-endian machine (x86 and i686, the
// targets), where a borrow can only set false marks above it.
static_assert(std::endian::native == std::endian::little);

// Sets the high bit of the first byte of `word` (in memory order) that is a
// line feed, and possibly of bytes after it; 0 when none is.
std::uint64_t LineFeedBits(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    const std::uint64_t zero_where_lf = word ^ (kOnes * '\n');
    return (zero_where_lf - kOnes) & ~zero_where_lf & kHighBits;
}

// Index in memory order of the first byte a mask of high bits marks.
int FirstMarkedByte(std::uint64_t bits) {
    return std::countr_zero(bits) / 8;
}

// Stages all of `text` at `to`, which has room for twice its length: no room
// to check on the way. Returns the end of what it stored.
char* StageWithRoom(std::string_view text, char* to) {
    const char* from = text.data();
    const char* const from_end = from + text.size();
    // Eight bytes at a time, each word stored whole and the bytes from its
    // first line feed, if any, overwritten.
    while (from_end - from >= 8) {
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        std::memcpy(to, &word, 8);
        const std::uint64_t line_feeds = LineFeedBits(word);
        if (line_feeds == 0) {
            from += 8;
            to += 8;
            continue;
        }
        const int before = FirstMarkedByte(line_feeds);
        to[before] = '\r';
        to[before + 1] = '\n';
        from += before + 1;
        to += before + 2;
    }
    // The CR stays only in front of a line feed; any other byte overwrites it.
    for (; from != from_end; ++from) {
        const bool line_feed = *from == '\n';
        to[0] = '\r';
        to[line_feed ? 1 : 0] = *from;
        to += line_feed ? 2 : 1;
    }
    return to;
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
    if (2 * text.size() <= out.size()) {
        const char* const end = StageWithRoom(text, out.data());
        return {text.size(), static_cast<std::size_t>(end - out.data())};
    }
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
