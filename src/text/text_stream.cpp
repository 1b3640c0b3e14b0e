#include "text/text_stream.h"

#include <algorithm>
#include <bit>
#include <cerrno>
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
    if (count == kSourceInterrupted) {
        reader.interrupted = true;
        reader.position = reader.length = 0;
        return false;
    }
    if (count <= 0) {
        reader.ended = true;
        reader.failed = count < 0;
        reader.error = count < 0 ? errno : 0;
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

// Lines are read and output staged a word at a time, not with memchr: lines
// and the pieces of a print are short, and a call for each made the scripted
// throughput slower by about a fifth, reading and staging alike
// (bench/run.sh throughput). The first marked byte is found from the low end
// of a word: exact on a little-endian machine (x86 and i686, the targets),
// where a borrow can only set false marks above it.
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

// The `count` (< 8) bytes at `from` as the low bytes of a word, zeros above:
// a zero byte is no line feed, so no mark falls on them.
std::uint64_t LoadShort(const char* from, std::size_t count) {
    std::uint64_t word = 0;
    std::size_t at = 0;
    if ((count & 4) != 0) {
        std::uint32_t four;
        std::memcpy(&four, from, 4);
        word = four;
        at = 4;
    }
    if ((count & 2) != 0) {
        std::uint16_t two;
        std::memcpy(&two, from + at, 2);
        word |= std::uint64_t{two} << (at * 8);
        at += 2;
    }
    if ((count & 1) != 0) {
        word |= std::uint64_t{static_cast<unsigned char>(from[at])} << (at * 8);
    }
    return word;
}

}  // namespace

char* StageTextWithRoom(std::string_view text, char* to) {
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
    // The rest as one word, stored whole (the slack takes what lies beyond
    // it) and moved on past each line feed: most pieces of a print are short.
    auto left = static_cast<std::size_t>(from_end - from);
    std::uint64_t word = LoadShort(from, left);
    while (left != 0) {
        std::memcpy(to, &word, 8);
        const std::uint64_t line_feeds = LineFeedBits(word);
        if (line_feeds == 0) {
            return to + left;
        }
        const auto through = static_cast<std::size_t>(FirstMarkedByte(line_feeds)) + 1;
        to[through - 1] = '\r';
        to[through] = '\n';
        to += through + 1;
        left -= through;
        word >>= through * 8;  // through < 8: a shift within the word
    }
    return to;
}

char* CopyWithRoom(std::string_view bytes, char* to) {
    const char* from = bytes.data();
    const char* const from_end = from + bytes.size();
    for (; from_end - from >= 8; from += 8, to += 8) {
        std::memcpy(to, from, 8);
    }
    const std::uint64_t word = LoadShort(from, static_cast<std::size_t>(from_end - from));
    std::memcpy(to, &word, 8);
    return to + (from_end - from);
}

namespace {

// Marks the bytes of `word` below 0x1B. On a little-endian machine the lowest
// mark is exact; marks above it may be false.
std::uint64_t ControlBits(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    return (word - kOnes * (kEndOfText + 1)) & ~word & kHighBits;
}

bool NeedsCare(char c) {
    return c == '\n' || c == '\r' || c == kEndOfText;
}

// Position of the first line feed, CR or 0x1A in bytes[position, length), or
// `length`. The three all lie below 0x1B, so a word without such bytes is
// passed over whole.
std::size_t FindLineByte(const char* bytes, std::size_t position, std::size_t length) {
    while (length - position >= 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + position, 8);
        const std::uint64_t marks = ControlBits(word);
        if (marks == 0) {
            position += 8;
            continue;
        }
        position += static_cast<std::size_t>(FirstMarkedByte(marks));
        if (NeedsCare(bytes[position])) {
            return position;
        }
        ++position;
    }
    while (position < length && !NeedsCare(bytes[position])) {
        ++position;
    }
    return position;
}

// The usual line, taken a word at a time and copied as it is scanned: whole
// in the buffer, ended by LF or CR LF, with a word's room to spare in
// `line`. Returns its length, or nullopt with nothing taken when the line is
// not such (ReadTextLine's general path takes it then).
std::optional<std::size_t> TakeWholeLine(TextReader& reader, std::span<char> line) {
    const char* const bytes = reader.buffer.data();
    std::size_t position = reader.position;
    std::size_t stored = 0;
    while (reader.length - position >= 8 && line.size() - stored >= 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + position, 8);
        std::memcpy(line.data() + stored, &word, 8);
        const std::uint64_t marks = ControlBits(word);
        if (marks == 0) {
            position += 8;
            stored += 8;
            continue;
        }
        const auto at = static_cast<std::size_t>(FirstMarkedByte(marks));
        const char marked = bytes[position + at];
        const bool crlf =
            marked == '\r' && position + at + 1 < reader.length && bytes[position + at + 1] == '\n';
        if (marked == '\n' || crlf) {
            reader.position = position + at + (crlf ? 2 : 1);
            line[stored + at] = '\0';
            return stored + at;
        }
        // 0x1A ends the text. A lone CR is ordinary; one at the buffer's end
        // ends the loop, as no word is left.
        if (marked == kEndOfText) {
            return std::nullopt;
        }
        position += at + 1;
        stored += at + 1;
    }
    return std::nullopt;
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

namespace {

// Any line: at a buffer's edge, past the room, with 0x1A, or read a byte at
// a time. Apart, so that the usual line's path saves few registers.
[[gnu::noinline]] std::optional<std::string_view> ReadAnyLine(TextReader& reader,
                                                              std::span<char> line) {
    const std::size_t capacity = line.empty() ? 0 : line.size() - 1;
    std::size_t stored = 0;
    bool any = false;
    for (;;) {
        // Ordinary bytes straight from the buffer; ReadTextChar takes the rest.
        const char* const bytes = reader.buffer.data();
        const std::size_t start = reader.position;
        const std::size_t length = reader.length;
        const std::size_t end = FindLineByte(bytes, start, length);
        const std::size_t kept = std::min(end - start, capacity - stored);
        if (kept > 0) {
            std::memcpy(line.data() + stored, bytes + start, kept);
            stored += kept;
        }
        any = any || end != start;
        // A line break within the buffer, the usual end of a line.
        if (end < length && bytes[end] == '\n') {
            reader.position = end + 1;
            any = true;
            break;
        }
        if (end + 1 < length && bytes[end] == '\r' && bytes[end + 1] == '\n') {
            reader.position = end + 2;
            any = true;
            break;
        }
        reader.position = end;
        const std::optional<char> c = ReadTextChar(reader);
        if (!c) {
            break;
        }
        any = true;
        if (*c == '\n') {
            break;
        }
        if (stored < capacity) {
            line[stored++] = *c;
        }
    }
    if (!line.empty()) {
        line[stored] = '\0';
    }
    if (!any || reader.interrupted) {
        return std::nullopt;
    }
    return std::string_view(line.data(), stored);
}

}  // namespace

std::optional<std::string_view> ReadTextLine(TextReader& reader, std::span<char> line) {
    if (const auto whole = TakeWholeLine(reader, line)) {
        return std::string_view(line.data(), *whole);
    }
    return ReadAnyLine(reader, line);
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
    if (StagingRoom(text.size()) <= out.size()) {
        const char* const end = StageTextWithRoom(text, out.data());
        return {text.size(), static_cast<std::size_t>(end - out.data())};
    }
    const char* from = text.data();
    const char* const from_end = from + text.size();
    char* to = out.data();
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
