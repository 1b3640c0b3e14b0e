#include "console/history_tail.h"

#include <cstring>

#include "editor/edited_line.h"

namespace {

// Reads the block before what is held, placing it before the held bytes.
bool ReadOlderBlock(HistoryTail& tail) {
    const std::size_t room = tail.buffer.size() - kCommandLineCapacity;
    const std::uint64_t left = tail.unread - tail.start;
    const std::size_t size = left < room ? static_cast<std::size_t>(left) : room;
    if (size == 0) {
        return false;
    }
    std::memmove(tail.buffer.data() + size, tail.buffer.data(), tail.held);
    tail.unread -= size;
    for (std::size_t got = 0; got < size;) {
        const std::ptrdiff_t count =
            OsReadHistoryFile(tail.file, tail.unread + got, tail.buffer.subspan(got, size - got));
        if (count <= 0) {
            return false;  // shorter than its size said: it changed under the lock
        }
        got += static_cast<std::size_t>(count);
    }
    tail.held += size;
    return true;
}

}  // namespace

void StartHistoryTail(HistoryTail& tail) {
    tail.unread = tail.end;
    tail.held = 0;
    tail.began = false;
    tail.skipping = false;
}

TailLine OlderHistoryLine(HistoryTail& tail, std::string_view& line) {
    for (;;) {
        const std::string_view held(tail.buffer.data(), tail.held);
        const std::size_t found = held.rfind('\n');
        const bool at_start = tail.unread == tail.start;
        if (found == std::string_view::npos && !at_start) {
            // A line too long to keep needs none of its bytes kept.
            if (tail.held >= kCommandLineCapacity) {
                tail.skipping = true;
                tail.held = 0;
            }
            if (!ReadOlderBlock(tail)) {
                return TailLine::kFailed;
            }
            continue;
        }
        if (found == std::string_view::npos && held.empty() && !tail.skipping) {
            return TailLine::kDone;
        }
        // The line after the break found, or the first line of all.
        const std::size_t begins = found == std::string_view::npos ? 0 : found + 1;
        line = held.substr(begins);
        tail.held = found == std::string_view::npos ? 0 : found;
        const bool skipped = tail.skipping;
        tail.skipping = false;
        if (!tail.began) {
            // What follows the last line break is not a line yet.
            tail.began = true;
            continue;
        }
        if (skipped || line.size() >= kCommandLineCapacity) {
            return TailLine::kTooLong;
        }
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            return TailLine::kLine;
        }
    }
}
