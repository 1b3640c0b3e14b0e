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

// A word's bytes as they lie in memory; where a set bit in LineFeedBits
// points to the first line feed depends on the byte order.
static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

// Sets the high bit of the first byte of `word` (in memory order) that is a
// line feed, and possibly of bytes after it; 0 when none is.
std::uint64_t LineFeedBits(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    const std::uint64_t zero_where_lf = word ^ (kOnes * '\n');
    return (zero_where_lf - kOnes) & ~zero_where_lf & kHighBits;
}

// Index in memory order of the first line feed LineFeedBits found.
int FirstMarkedByte(std::uint64_t bits) {
    if constexpr (std::endian::native == std::endian::little) {
        return std::countr_zero(bits) / 8;
    } else {
        return std::countl_zero(bits) / 8;
    }
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
    for (;;) {
        // Ordinary bytes straight from the buffer; ReadTextChar takes the rest.
        std::size_t position = reader.position;
        const std::size_t length = reader.length;
        const std::size_t capacity = line.empty() ? 0 : line.size() - 1;
        for (; position < length; ++position) {
            const char c = reader.buffer[position];
            // The three bytes that need care all lie at or below 0x1A.
            if (static_cast<unsigned char>(c) <= kEndOfText &&
                (c == '\n' || c == '\r' || c == kEndOfText)) {
                break;
            }
            if (stored < capacity) {
                line[stored++] = c;
            }
        }
        any = any || position != reader.position;
        reader.position = position;
        const std::optional<char> c = ReadTextChar(reader);
        if (!c) {
            break;
        }
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

StagedText StageText(std::string_view text, std::span<char> out) {
    const char* from = text.data();
    const char* const from_end = from + text.size();
    char* to = out.data();
    if (2 * text.size() <= out.size()) {
        // Room for the worst case, all line feeds, so no room to check on the
        // way: eight bytes at a time, each word stored whole and the bytes
        // from its first line feed, if any, overwritten.
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
        for (; from != from_end; ++from) {
            if (*from == '\n') {
                *to++ = '\r';
            }
            *to++ = *from;
        }
        return {text.size(), static_cast<std::size_t>(to - out.data())};
    }
    char* const to_end = to + out.size();
    while (from != from_end) {
        const auto* line_break = static_cast<const char*>(
            std::memchr(from, '\n', static_cast<std::size_t>(from_end - from)));
        const char* const run_end = line_break != nullptr ? line_break : from_end;
        const auto run = std::min(run_end - from, to_end - to);
        to = std::copy_n(from, run, to);
        from += run;
        if (from != line_break || to_end - to < 2) {
            break;
        }
        *to++ = '\r';
        *to++ = '\n';
        ++from;
    }
    return {static_cast<std::size_t>(from - text.data()),
            static_cast<std::size_t>(to - out.data())};
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
