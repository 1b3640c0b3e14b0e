// Text as the program reads and writes it on every platform, over binary I/O:
// on reading, CR LF or a lone LF is one line break, a lone CR is an ordinary
// character and a byte 0x1A ends the text; on writing, every LF goes out as
// CR LF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

// The start of a text that holds whole characters: its bytes, and how many
// characters they are.
struct TextPrefix {
    std::size_t bytes = 0;
    std::size_t characters = 0;
};

// Fills `buffer` with raw bytes: returns how many, 0 at the end,
// kSourceInterrupted when a person dropped the line being typed, other values
// < 0 on error (errno set).
using ByteSource = std::ptrdiff_t (*)(void* source, char* buffer, std::size_t capacity);

inline constexpr std::ptrdiff_t kSourceInterrupted = -2;

struct TextReader {
    ByteSource read = nullptr;
    void* source = nullptr;
    // Runs before each read of the source, which may block.
    void (*before_read)() = nullptr;
    std::array<char, 4096> buffer{};
    std::size_t position = 0;
    std::size_t length = 0;
    bool ended = false;   // end, 0x1A or error seen: nothing more is read
    bool failed = false;  // the source reported an error
    int error = 0;        // its errno value
    // The source was interrupted: the line being read was dropped, and the
    // text goes on. Cleared by whoever reads it.
    bool interrupted = false;
};

TextReader MakeTextReader(ByteSource read, void* source, void (*before_read)() = nullptr);

// ByteSource over a stdio stream opened in binary mode.
std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t capacity);

// Reads one line into `line`, line break dropped, NUL-terminated. A line
// longer than capacity-1 keeps its first capacity-1 characters; the rest of it
// is discarded. Returns the stored text, or nullopt when the text had ended
// before the line began or the source was interrupted (`interrupted` set). A
// last line without a line break counts.
std::optional<std::string_view> ReadTextLine(TextReader& reader, std::span<char> line);

// Reads like fgets: up to capacity-1 characters, stopping after a line break,
// which is kept. Returns the piece read, empty at the end of the text. The
// piece may hold NUL bytes; it is also NUL-terminated.
std::string_view ReadTextPiece(TextReader& reader, std::span<char> piece);

// How much of a text StageText took, and how many bytes it stored for it.
struct StagedText {
    std::size_t taken = 0;
    std::size_t stored = 0;
};

// Copies the start of `text` into `out` with every LF as CR LF, as much as
// fits without splitting a CR LF pair.
StagedText StageText(std::string_view text, std::span<char> out);

// Bytes StageTextWithRoom may touch for a text of `size` bytes: every byte
// a line feed, and a word's slack.
constexpr std::size_t StagingRoom(std::size_t size) {
    return 2 * size + 8;
}

// Copies all of `text` to `to`, which has StagingRoom(text.size()) bytes,
// with every LF as CR LF; bytes past the end returned may be overwritten.
char* StageTextWithRoom(std::string_view text, char* to);

// Copies `bytes` as they stand to `to`, which has StagingRoom(bytes.size())
// bytes; bytes past the end returned may be overwritten.
char* CopyWithRoom(std::string_view bytes, char* to);

// Writes `text` with every LF as CR LF. Returns false if a write failed.
bool WriteText(std::FILE* stream, std::string_view text);
