// POSIX stand-in for GetPrivateProfileStringA, the INI lookup of config.ini.
// It follows these rules, as Windows does for the lookups the program makes:
// - CR, LF and any run of them end a line; a line's leading blanks (space,
//   tab, VT, FF, CR, LF, Ctrl-Z) are skipped.
// - A line starting with '[' that has a ']' further on is a section header,
//   named by what lies between the '[' and the last ']'. Lines before the
//   first header form a section with the empty name.
// - Any other line that is not blank names a key: up to its first '=', or the
//   whole line when it has none.
// - Section and key names match ignoring ASCII case, once blanks are trimmed
//   from both ends of both; a NUL ends a name, whatever follows it.
// - Only the first section of the wanted name is searched, and in it only the
//   first line naming the key counts: without an '=' it has no value.
// - The value loses its blanks at both ends (trailing ones stay when a NUL,
//   which ends the value, follows them) and one pair of like quotes, " or ',
//   around it; it is cut to size-1 bytes.
// - The default, returned when the file, the section, the key or its value is
//   missing, loses trailing spaces (never its first character) and one pair
//   of quotes.
// - A file starting with a UTF-16 byte order mark comes back as UTF-8 (half a
//   surrogate pair as U+FFFD, an odd last byte dropped); a UTF-8 mark is
//   skipped; any other file's bytes are returned as they are.
// - Anything but a regular file counts as missing; a read error ends the file.
// - A null section or key gives the empty string.
// Nothing here touches the heap: the file streams through fixed buffers, and
// the matching line is read a second time to copy its value.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "win32_standins/win32_calls.h"

namespace {

constexpr std::size_t kChunkCapacity = 4096;

// Where a UTF-16 file holds half a surrogate pair.
constexpr char32_t kReplacementCharacter = 0xFFFD;

// Names and values lose these at both ends; Ctrl-Z, the old end-of-file mark,
// counts as one.
bool IsBlank(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
        case '\x1A':
            return true;
        default:
            return false;
    }
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// One pair of like quotes around a value goes; they are one byte each.
bool HasQuotePair(char first, char last, std::uint64_t length) {
    return length >= 2 && IsQuote(first) && last == first;
}

enum class TextEncoding { kBytes, kUtf16Le, kUtf16Be };

// Hands out the file's text one byte at a time: as stored, or, for a UTF-16
// file, converted to UTF-8. Line breaks and every byte the lookup looks for
// are ASCII, which both forms spell the same.
struct IniReader {
    int fd = -1;
    TextEncoding encoding = TextEncoding::kBytes;
    off_t chunk_offset = 0;  // file offset of chunk[0]
    std::size_t position = 0;
    std::size_t end = 0;
    std::array<unsigned char, kChunkCapacity> chunk;
    // The UTF-8 form of the character last read from a UTF-16 file.
    std::array<char, 4> pending;
    std::size_t pending_position = 0;
    std::size_t pending_end = 0;
    // Read while looking for the second half of a surrogate pair that was not there.
    bool has_held_unit = false;
    char16_t held_unit = 0;
};

// A read error ends the file early.
bool ReadChunk(IniReader& reader) {
    reader.chunk_offset += static_cast<off_t>(reader.end);
    reader.position = 0;
    reader.end = 0;
    ssize_t got;
    do {
        got = read(reader.fd, reader.chunk.data(), reader.chunk.size());
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        return false;
    }
    reader.end = static_cast<std::size_t>(got);
    return true;
}

bool NextFileByte(IniReader& reader, unsigned char& byte) {
    if (reader.position == reader.end && !ReadChunk(reader)) {
        return false;
    }
    byte = reader.chunk[reader.position++];
    return true;
}

// The text only ever stops between characters, so this is where its next line
// starts when it has just handed out a line break.
off_t NextFileOffset(const IniReader& reader) {
    return reader.chunk_offset + static_cast<off_t>(reader.position);
}

bool RestartAt(IniReader& reader, off_t offset) {
    if (lseek(reader.fd, offset, SEEK_SET) != offset) {
        return false;
    }
    reader.chunk_offset = offset;
    reader.position = 0;
    reader.end = 0;
    reader.pending_position = 0;
    reader.pending_end = 0;
    reader.has_held_unit = false;
    return true;
}

// An odd last byte is half a character and is dropped.
bool NextUtf16Unit(IniReader& reader, char16_t& unit) {
    unsigned char first;
    unsigned char second;
    if (!NextFileByte(reader, first) || !NextFileByte(reader, second)) {
        return false;
    }
    const bool big_endian = reader.encoding == TextEncoding::kUtf16Be;
    const unsigned high = big_endian ? first : second;
    const unsigned low = big_endian ? second : first;
    unit = static_cast<char16_t>(high << 8 | low);
    return true;
}

std::size_t EncodeUtf8(char32_t code_point, std::array<char, 4>& out) {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | code_point >> 6);
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | code_point >> 12);
        out[1] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | code_point >> 18);
    out[1] = static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 4;
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

bool DecodeUtf16Character(IniReader& reader) {
    char16_t unit;
    if (reader.has_held_unit) {
        unit = reader.held_unit;
        reader.has_held_unit = false;
    } else if (!NextUtf16Unit(reader, unit)) {
        return false;
    }
    char32_t code_point = unit;
    if (IsHighSurrogate(unit)) {
        char16_t next;
        code_point = kReplacementCharacter;
        if (NextUtf16Unit(reader, next)) {
            if (IsLowSurrogate(next)) {
                code_point = 0x10000 + (static_cast<char32_t>(unit - 0xD800) << 10) +
                             static_cast<char32_t>(next - 0xDC00);
            } else {
                reader.held_unit = next;
                reader.has_held_unit = true;
            }
        }
    } else if (IsLowSurrogate(unit)) {
        code_point = kReplacementCharacter;
    }
    reader.pending_position = 0;
    reader.pending_end = EncodeUtf8(code_point, reader.pending);
    return true;
}

bool NextTextByte(IniReader& reader, char& c) {
    if (reader.encoding == TextEncoding::kBytes) {
        unsigned char byte;
        if (!NextFileByte(reader, byte)) {
            return false;
        }
        c = static_cast<char>(byte);
        return true;
    }
    if (reader.pending_position == reader.pending_end && !DecodeUtf16Character(reader)) {
        return false;
    }
    c = reader.pending[reader.pending_position++];
    return true;
}

// A byte order mark says how the text is stored. The UTF-8 one is skipped: a
// file with or without it reads the same.
void ReadByteOrderMark(IniReader& reader) {
    while (reader.end < 3) {
        ssize_t got;
        do {
            got =
                read(reader.fd, reader.chunk.data() + reader.end, reader.chunk.size() - reader.end);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            break;
        }
        reader.end += static_cast<std::size_t>(got);
    }
    const auto starts_with = [&reader](std::string_view mark) {
        return reader.end >= mark.size() &&
               std::memcmp(reader.chunk.data(), mark.data(), mark.size()) == 0;
    };
    if (starts_with("\xEF\xBB\xBF")) {
        reader.position = 3;
    } else if (starts_with("\xFF\xFE")) {
        reader.encoding = TextEncoding::kUtf16Le;
        reader.position = 2;
    } else if (starts_with("\xFE\xFF")) {
        reader.encoding = TextEncoding::kUtf16Be;
        reader.position = 2;
    }
}

// Compares a name as it streams past with the wanted one, ignoring ASCII case.
// Blanks before the name are skipped and blanks after it may follow; a NUL
// ends the name for good, whatever comes after it on the line.
struct NameMatcher {
    std::string_view wanted;  // already trimmed
    bool started = false;
    bool ended_by_nul = false;
    bool matched_at_nul = false;
    bool mismatched = false;          // a byte that is not the wanted one, then more name
    bool cursor_valid = true;         // every byte so far, blanks included, matched
    std::size_t cursor = 0;           // bytes of `wanted` matched, blanks included
    std::size_t matched_to_text = 0;  // ... up to the name's last non-blank byte
};

void FeedName(NameMatcher& matcher, char c) {
    if (matcher.ended_by_nul || (!matcher.started && IsBlank(c))) {
        return;
    }
    matcher.started = true;
    if (c == '\0') {
        matcher.ended_by_nul = true;
        matcher.matched_at_nul = matcher.cursor_valid && matcher.cursor == matcher.wanted.size();
        return;
    }
    if (matcher.cursor_valid && matcher.cursor < matcher.wanted.size() &&
        AsciiLower(matcher.wanted[matcher.cursor]) == AsciiLower(c)) {
        ++matcher.cursor;
    } else {
        matcher.cursor_valid = false;
    }
    if (!IsBlank(c)) {
        if (matcher.cursor_valid) {
            matcher.matched_to_text = matcher.cursor;
        } else {
            matcher.mismatched = true;
        }
    }
}

bool NameMatches(const NameMatcher& matcher) {
    if (matcher.ended_by_nul) {
        return matcher.matched_at_nul;
    }
    return !matcher.mismatched && matcher.matched_to_text == matcher.wanted.size();
}

// The value as returned: `length` bytes from `skip` bytes after its start.
struct ValueSpan {
    std::uint64_t skip = 0;
    std::uint64_t length = 0;
};

// Follows a value from its first non-blank byte; trailing blanks are dropped
// unless a NUL, which ends the value, comes after them.
struct ValueScanner {
    bool started = false;
    bool ended_by_nul = false;
    char first = 0;
    std::uint64_t length = 0;  // bytes so far
    char last = 0;
    std::uint64_t trimmed_length = 0;  // up to the last non-blank byte
    char trimmed_last = 0;
};

// Where the second reading of a value line copies it.
struct ValueWindow {
    char* out;
    ValueSpan span;
    std::uint64_t copied = 0;
};

void FeedValue(ValueScanner& value, char c, ValueWindow* window) {
    if (value.ended_by_nul || (!value.started && IsBlank(c))) {
        return;
    }
    if (c == '\0') {
        value.ended_by_nul = true;
        return;
    }
    if (!value.started) {
        value.started = true;
        value.first = c;
    }
    if (window != nullptr && value.length >= window->span.skip &&
        value.length - window->span.skip < window->span.length) {
        window->out[value.length - window->span.skip] = c;
        ++window->copied;
    }
    ++value.length;
    value.last = c;
    if (!IsBlank(c)) {
        value.trimmed_length = value.length;
        value.trimmed_last = c;
    }
}

ValueSpan ValueSpanOf(const ValueScanner& value) {
    const std::uint64_t length = value.ended_by_nul ? value.length : value.trimmed_length;
    const char last = value.ended_by_nul ? value.last : value.trimmed_last;
    if (HasQuotePair(value.first, last, length)) {
        return {1, length - 2};
    }
    return {0, length};
}

// What one line says, as far as the lookup cares. A line starting with '['
// that has a ']' further on is a section header, named by what lies between
// the '[' and the last ']'. Any other line that is not blank names a key: up
// to its first '=', or the whole line when it has none.
struct IniLine {
    bool is_header = false;
    bool header_matches = false;
    bool key_matches = false;
    bool has_value = false;
    ValueSpan value;
};

// CR, LF and any run of them end a line (the empty lines between are read
// and ignored). Returns false at the end of the file.
bool ReadIniLine(IniReader& reader, std::string_view section, std::string_view key,
                 ValueWindow* window, IniLine& line) {
    NameMatcher section_name{section};
    NameMatcher key_name{key};
    ValueScanner value;
    bool any_byte = false;
    bool leading = true;
    bool opens_bracket = false;
    bool closes_bracket = false;
    bool section_matches_to_bracket = false;
    bool after_equals = false;
    char c;
    while (NextTextByte(reader, c)) {
        any_byte = true;
        if (c == '\n' || c == '\r') {
            break;
        }
        if (leading) {
            if (IsBlank(c)) {
                continue;
            }
            leading = false;
            if (c == '[') {
                opens_bracket = true;
                FeedName(key_name, c);
                continue;
            }
        }
        if (opens_bracket) {
            if (c == ']') {
                closes_bracket = true;
                section_matches_to_bracket = NameMatches(section_name);
            }
            FeedName(section_name, c);
        }
        if (after_equals) {
            FeedValue(value, c, window);
        } else if (c == '=') {
            after_equals = true;
        } else {
            FeedName(key_name, c);
        }
    }
    if (!any_byte) {
        return false;
    }
    line.is_header = closes_bracket;
    line.header_matches = section_matches_to_bracket;
    line.key_matches = !leading && !closes_bracket && NameMatches(key_name);
    line.has_value = after_equals;
    line.value = ValueSpanOf(value);
    return true;
}

// Only the first section of the wanted name is searched, and in it only the
// first line naming the key counts: if that line has no '=', there is no
// value. Lines before the first header form a section with the empty name.
bool FindProfileValue(IniReader& reader, std::string_view section, std::string_view key,
                      off_t& line_start, ValueSpan& value) {
    bool in_section = section.empty();
    IniLine line;
    for (;;) {
        const off_t start = NextFileOffset(reader);
        if (!ReadIniLine(reader, section, key, nullptr, line)) {
            return false;
        }
        if (line.is_header) {
            if (in_section) {
                return false;
            }
            in_section = line.header_matches;
            continue;
        }
        if (in_section && line.key_matches) {
            line_start = start;
            value = line.value;
            return line.has_value;
        }
    }
}

// Anything but a regular file (a folder, a FIFO no one writes to) counts as
// missing rather than blocking the caller.
bool OpenIniFile(const char* file_name, IniReader& reader) {
    int fd;
    do {
        fd = open(file_name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    reader.fd = fd;
    return true;
}

// Copies the value of the matching line, read a second time now that its
// extent is known, so nothing past the terminator is written. Returns the
// length copied.
DWORD CopyFileValue(IniReader& reader, std::string_view section, std::string_view key,
                    off_t line_start, ValueSpan value, LPSTR out, DWORD size) {
    if (value.length > size - 1) {
        value.length = size - 1;
    }
    ValueWindow window{out, value};
    IniLine line;
    if (RestartAt(reader, line_start)) {
        ReadIniLine(reader, section, key, &window, line);
    }
    out[window.copied] = '\0';
    return static_cast<DWORD>(window.copied);
}

// The default loses trailing spaces (but not its first character) and, like
// a value, one pair of quotes.
DWORD CopyDefault(std::string_view text, LPSTR out, DWORD size) {
    while (text.size() > 1 && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (!text.empty() && HasQuotePair(text.front(), text.back(), text.size())) {
        text = text.substr(1, text.size() - 2);
    }
    const std::size_t count = text.size() < size ? text.size() : size - 1;
    std::memcpy(out, text.data(), count);
    out[count] = '\0';
    return static_cast<DWORD>(count);
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name) {
    if (returned == nullptr || size == 0) {
        return 0;
    }
    // Windows lists the sections or keys here; the program never asks for that.
    if (section == nullptr || key == nullptr) {
        returned[0] = '\0';
        return 0;
    }
    const std::string_view wanted_section = TrimBlanks(section);
    const std::string_view wanted_key = TrimBlanks(key);
    IniReader reader;
    if (file_name != nullptr && OpenIniFile(file_name, reader)) {
        ReadByteOrderMark(reader);
        off_t line_start = 0;
        ValueSpan value;
        const bool found = FindProfileValue(reader, wanted_section, wanted_key, line_start, value);
        const DWORD copied = found ? CopyFileValue(reader, wanted_section, wanted_key, line_start,
                                                   value, returned, size)
                                   : 0;
        close(reader.fd);
        if (found) {
            return copied;
        }
    }
    return CopyDefault(default_value != nullptr ? default_value : "", returned, size);
}
