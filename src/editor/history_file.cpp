#include "editor/history_file.h"

#include <array>
#include <cstdint>

#include "platform/os_history_file.h"
#include "run/diagnostics.h"

namespace {

constexpr std::string_view kHistoryHeader = "_HiStOrY_V2_\n";

struct HistoryFileState {
    std::array<char, 4096> path{};  // empty: no history file
    bool trimmed = false;           // cut back once by this session
};
HistoryFileState history_file;

// What the file keeps when it is cut back: its last lines.
std::array<char, kHistoryHeader.size() + kHistoryMostEntries * kCommandLineCapacity> kept_history;

void ReportHistoryProblem(const char* doing, const char* why) {
    ReportProblem("history file %s was not %s: %s", history_file.path.data(), doing, why);
    // One line says so; the session goes on without the file.
    history_file.path[0] = '\0';
}

void ReportSystemProblem(const char* doing) {
    std::array<char, 256> why{};
    OsHistoryFileError(why);
    ReportHistoryProblem(doing, why.data());
}

// Calls `take` with each line after the header that fits a command line
// (its text, no line break), counting in `dropped` those that do not. False
// when a read fails.
template <typename Take>
bool ForEachHistoryLine(OsHistoryFile file, bool headed, Take take,
                        std::size_t* dropped = nullptr) {
    std::array<char, 4096> chunk;
    std::array<char, kCommandLineCapacity> line{};
    std::size_t length = 0;
    bool too_long = false;
    // A header ending in CR LF leaves its LF: an empty line, skipped.
    std::uint64_t offset = headed ? kHistoryHeader.size() : 0;
    for (;;) {
        const std::ptrdiff_t count = OsReadHistoryFile(file, offset, chunk);
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;  // a last line without a line break is not complete
        }
        offset += static_cast<std::uint64_t>(count);
        for (const char byte : std::string_view(chunk.data(), static_cast<std::size_t>(count))) {
            if (byte != '\n') {
                too_long = too_long || length == line.size() - 1;
                if (!too_long) {
                    line[length++] = byte;
                }
                continue;
            }
            if (length > 0 && line[length - 1] == '\r') {
                --length;
            }
            if (!too_long && length > 0) {
                line[length] = '\0';
                take(std::string_view(line.data(), length));
            } else if (too_long && dropped != nullptr) {
                ++*dropped;
            }
            length = 0;
            too_long = false;
        }
    }
}

// Whether the file is empty or ends with a line break: a last line without
// one is ended before the next is added after it.
bool EndsWithLineBreak(OsHistoryFile file) {
    std::array<char, 4096> chunk;
    std::uint64_t offset = 0;
    char last = '\n';
    for (std::ptrdiff_t count; (count = OsReadHistoryFile(file, offset, chunk)) > 0;) {
        offset += static_cast<std::uint64_t>(count);
        last = chunk[static_cast<std::size_t>(count) - 1];
    }
    return last == '\n';
}

enum class HistoryStart { kHeader, kEmpty, kFormerFile, kOtherFile };

HistoryStart ReadHistoryStart(OsHistoryFile file) {
    // The header's line may end in CR LF, as any other line may.
    std::array<char, kHistoryHeader.size() + 1> start{};
    const std::ptrdiff_t count = OsReadHistoryFile(file, 0, start);
    if (count == 0) {
        return HistoryStart::kEmpty;
    }
    const std::string_view found(start.data(), count > 0 ? static_cast<std::size_t>(count) : 0);
    if (found.starts_with(kHistoryHeader) || found == "_HiStOrY_V2_\r\n") {
        return HistoryStart::kHeader;
    }
    return OsHistoryFileMayLackHeader() ? HistoryStart::kFormerFile : HistoryStart::kOtherFile;
}

// Whether the file needs cutting back: it holds more lines than are kept and
// this session has not cut it yet, or it has grown by the slack since, or it
// holds lines too long to be command lines.
bool HistoryFileTooLong(OsHistoryFile file, bool headed, std::size_t& lines) {
    std::size_t dropped = 0;
    lines = 0;
    static_cast<void>(ForEachHistoryLine(
        file, headed, [&](std::string_view) { ++lines; }, &dropped));
    return dropped > 0 || lines > kHistoryMostEntries + (history_file.trimmed ? kHistorySlack : 0);
}

// Cuts the file, held under its lock, back to its last kHistoryMostEntries
// lines.
bool TrimHistoryFile(OsHistoryFile file, bool headed, std::size_t lines) {
    std::size_t skipped = 0;
    std::size_t kept = kHistoryHeader.copy(kept_history.data(), kept_history.size());
    const bool read = ForEachHistoryLine(file, headed, [&](std::string_view line) {
        if (skipped + kHistoryMostEntries < lines) {
            ++skipped;
            return;
        }
        kept += line.copy(kept_history.data() + kept, kept_history.size() - kept - 1);
        kept_history[kept++] = '\n';
    });
    return read && OsRewriteHistoryFile(file, std::string_view(kept_history.data(), kept));
}

bool FindHistoryFile() {
    std::array<char, 128> why{};
    if (!OsHistoryFilePath(history_file.path, why)) {
        ReportProblem("command lines are not kept: %s", why.data());
        history_file.path[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace

void LoadHistoryFile(CommandHistory& history) {
    history_file.trimmed = false;
    if (!FindHistoryFile()) {
        return;
    }
    std::array<char, 256> why{};
    OsHistoryFile file;
    switch (OsOpenHistoryFile(history_file.path.data(), false, file, why)) {
        case HistoryOpen::kOpened:
            break;
        case HistoryOpen::kMissing:
            return;
        case HistoryOpen::kQuietOff:
            history_file.path[0] = '\0';
            return;
        case HistoryOpen::kFailed:
            ReportHistoryProblem("read", why.data());
            return;
    }
    const HistoryStart start = ReadHistoryStart(file);
    if (start == HistoryStart::kOtherFile) {
        ReportHistoryProblem("read", "it is not a history file");
    } else if (!ForEachHistoryLine(file, start == HistoryStart::kHeader,
                                   [&](std::string_view line) { HistoryAdd(history, line); })) {
        ReportSystemProblem("read");
    }
    OsCloseHistoryFile(file);
}

void SaveHistoryLine(std::string_view line) {
    if (history_file.path[0] == '\0' || line.size() >= kCommandLineCapacity) {
        return;
    }
    std::array<char, 256> why{};
    OsHistoryFile file;
    switch (OsOpenHistoryFile(history_file.path.data(), true, file, why)) {
        case HistoryOpen::kOpened:
            break;
        case HistoryOpen::kMissing:
        case HistoryOpen::kQuietOff:
            history_file.path[0] = '\0';
            return;
        case HistoryOpen::kFailed:
            ReportHistoryProblem("written", why.data());
            return;
    }
    OsLockHistoryFile(file);
    std::array<char, kCommandLineCapacity + 1> entry{};
    const std::size_t length = line.copy(entry.data(), entry.size() - 1);
    entry[length] = '\n';
    const HistoryStart start = ReadHistoryStart(file);
    // An empty file gets the header first.
    const bool headed = start == HistoryStart::kHeader || start == HistoryStart::kEmpty;
    if (start == HistoryStart::kOtherFile) {
        ReportHistoryProblem("written", "it is not a history file");
    } else if ((start == HistoryStart::kEmpty && !OsAppendHistoryFile(file, kHistoryHeader)) ||
               (!EndsWithLineBreak(file) && !OsAppendHistoryFile(file, "\n")) ||
               !OsAppendHistoryFile(file, std::string_view(entry.data(), length + 1))) {
        ReportSystemProblem("written");
    } else if (std::size_t lines = 0; HistoryFileTooLong(file, headed, lines) || !headed) {
        // A former file is rewritten with the header: cut back as any other.
        if (!TrimHistoryFile(file, headed, lines)) {
            ReportSystemProblem("written");
        }
        history_file.trimmed = true;
    }
    OsCloseHistoryFile(file);  // lets go of the lock
}
