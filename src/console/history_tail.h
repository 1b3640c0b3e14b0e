// Reading a history file's lines from its end backwards, a block at a time,
// so that what a start or a save reads is what the kept lines need, however
// long the file is.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/os_history_file.h"

struct HistoryTail {
    OsHistoryFile file;
    // The lines lie in [start, end): `start` is where a line begins (after
    // the header), `end` the file's size. Bytes after the last line break are
    // a line not yet ended, and are not read as one.
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    // Where the blocks are read: larger than a command line.
    std::span<char> buffer;
    // Filled in as it goes: file bytes [unread, unread + held) are at the
    // start of `buffer`, not yet taken.
    std::uint64_t unread = 0;
    std::size_t held = 0;
    bool began = false;
    bool skipping = false;  // the line in `held` is too long already
};

enum class TailLine {
    kLine,     // `line` is the next older line, no line break
    kTooLong,  // the next older line is longer than a command line
    kDone,     // no older line
    kFailed,   // a read failed
};

// Starts `tail` at its file's end.
void StartHistoryTail(HistoryTail& tail);

// The next line from the end, empty lines passed over. `line`, CR dropped
// from its end, stays valid until the next call.
TailLine OlderHistoryLine(HistoryTail& tail, std::string_view& line);
