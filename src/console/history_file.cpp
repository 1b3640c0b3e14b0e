#include "console/history_file.h"

#include <array>
#include <cstdint>

#include "console/history_tail.h"
#include "platform/os_history_file.h"
#include "run/diagnostics.h"
#include "text/unicode_text.h"

namespace {

constexpr std::string_view kHistoryHeader = "_HiStOrY_V2_\n";

struct HistoryFileState {
    std::array<char, 4096> shown{};  // empty: no history file
    bool trimmed = false;            // cut back once by this session
};
HistoryFileState history_file;

// The blocks the file is read in, from its end: as large as a pipe's.
std::array<char, 65536 + kCommandLineCapacity> tail_buffer;

// What the file keeps when it is cut back: the header, then its last lines,
// laid from the end of the buffer backwards as they are read.
std::array<char, kHistoryHeader.size() + kHistoryMostEntries * kCommandLineCapacity> kept_history;

void ReportHistoryProblem(const char* doing, const char* why) {
    ReportProblem("history file %s was not %s: %s", history_file.shown.data(), doing, why);
    // One line says so; the session goes on without the file.
    history_file.shown[0] = '\0';
}

void ReportSystemProblem(const char* doing) {
    std::array<char, 256> why{};
    OsHistoryFileError(why);
    ReportHistoryProblem(doing, why.data());
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

// A header ending in CR LF leaves its LF: an empty line, passed over.
HistoryTail TailOf(OsHistoryFile file, bool headed, std::int64_t size) {
    HistoryTail tail{.file = file,
                     .start = headed ? kHistoryHeader.size() : 0,
                     .end = static_cast<std::uint64_t>(size),
                     .buffer = tail_buffer};
    StartHistoryTail(tail);
    return tail;
}

// What a save finds reading back from the end: the last kept lines, laid at
// the end of kept_history from `first`, and whether the file needs cutting
// back (more lines than are kept, past the slack once this session cut it,
// or a line too long to be a command line).
struct TailFound {
    bool read = true;
    bool needs_cut = false;
    std::size_t first = kept_history.size();
};

TailFound ReadKeptLines(HistoryTail& tail) {
    TailFound found;
    const std::size_t most = kHistoryMostEntries + (history_file.trimmed ? kHistorySlack : 0);
    std::size_t lines = 0;
    std::string_view line;
    for (;;) {
        switch (OlderHistoryLine(tail, line)) {
            case TailLine::kLine:
                if (++lines > most) {
                    found.needs_cut = true;
                    return found;
                }
                if (lines <= kHistoryMostEntries) {
                    kept_history[--found.first] = '\n';
                    found.first -= line.size();
                    line.copy(kept_history.data() + found.first, line.size());
                }
                break;
            case TailLine::kTooLong:
                found.needs_cut = true;
                break;
            case TailLine::kDone:
                return found;
            case TailLine::kFailed:
                found.read = false;
                return found;
        }
    }
}

// Cuts the file, held under its lock, back to the lines found.
bool TrimHistoryFile(OsHistoryFile file, const TailFound& found) {
    const std::size_t from = found.first - kHistoryHeader.size();
    kHistoryHeader.copy(kept_history.data() + from, kHistoryHeader.size());
    return OsRewriteHistoryFile(
        file, std::string_view(kept_history.data() + from, kept_history.size() - from));
}

// Opens the file and takes its lock; false, having said why when it is to be
// said, when the session goes on without it.
bool OpenHistoryFile(bool to_save, OsHistoryFile& file) {
    const char* doing = to_save ? "written" : "read";
    std::array<char, 256> why{};
    switch (OsOpenHistoryFile(to_save, file, why)) {
        case HistoryOpen::kOpened:
            break;
        case HistoryOpen::kMissing:
            if (to_save) {
                history_file.shown[0] = '\0';
            }
            return false;
        case HistoryOpen::kQuietOff:
            history_file.shown[0] = '\0';
            return false;
        case HistoryOpen::kFailed:
            ReportHistoryProblem(doing, why.data());
            return false;
    }
    if (!OsLockHistoryFile(file, to_save, kHistoryLockMilliseconds)) {
        ReportHistoryProblem(doing, "another session held its lock too long");
        OsCloseHistoryFile(file);
        return false;
    }
    return true;
}

}  // namespace

void LoadHistoryFile(CommandHistory& history, bool utf8) {
    history_file.trimmed = false;
    std::array<char, 128> why{};
    if (!OsFindHistoryFile(history_file.shown, why)) {
        ReportProblem("command lines are not kept: %s", why.data());
        history_file.shown[0] = '\0';
        return;
    }
    OsHistoryFile file;
    if (!OpenHistoryFile(false, file)) {
        return;
    }
    const HistoryStart start = ReadHistoryStart(file);
    const std::int64_t size = OsHistoryFileSize(file);
    if (start == HistoryStart::kOtherFile) {
        ReportHistoryProblem("read", "it is not a history file");
    } else if (size < 0) {
        ReportSystemProblem("read");
    } else {
        HistoryTail tail = TailOf(file, start == HistoryStart::kHeader, size);
        std::string_view line;
        for (TailLine got; (got = OlderHistoryLine(tail, line)) != TailLine::kDone;) {
            if (got == TailLine::kFailed) {
                ReportSystemProblem("read");
                break;
            }
            // At a UTF-8 terminal a line that is not UTF-8 could not be
            // edited as text: it is not offered.
            if (got == TailLine::kLine && (!utf8 || IsWellFormedUtf8(line)) &&
                !HistoryAddOlder(history, line)) {
                break;
            }
        }
    }
    OsCloseHistoryFile(file);
}

void SaveHistoryLine(std::string_view line) {
    if (history_file.shown[0] == '\0' || line.size() >= kCommandLineCapacity) {
        return;
    }
    OsHistoryFile file;
    if (!OpenHistoryFile(true, file)) {
        return;
    }
    std::array<char, kCommandLineCapacity + 1> entry{};
    const std::size_t length = line.copy(entry.data(), entry.size() - 1);
    entry[length] = '\n';
    const HistoryStart start = ReadHistoryStart(file);
    // An empty file gets the header first.
    const bool headed = start == HistoryStart::kHeader || start == HistoryStart::kEmpty;
    std::int64_t size = OsHistoryFileSize(file);
    char last = '\n';
    if (start == HistoryStart::kOtherFile) {
        ReportHistoryProblem("written", "it is not a history file");
    } else if (size < 0 ||
               (size > 0 && OsReadHistoryFile(file, static_cast<std::uint64_t>(size - 1),
                                              std::span(&last, 1)) != 1) ||
               (start == HistoryStart::kEmpty && !OsAppendHistoryFile(file, kHistoryHeader)) ||
               // A last line without a line break is ended first.
               (last != '\n' && !OsAppendHistoryFile(file, "\n")) ||
               !OsAppendHistoryFile(file, std::string_view(entry.data(), length + 1)) ||
               (size = OsHistoryFileSize(file)) < 0) {
        ReportSystemProblem("written");
    } else {
        HistoryTail tail = TailOf(file, headed, size);
        const TailFound found = ReadKeptLines(tail);
        // A former file is rewritten with the header: cut back as any other.
        if (!found.read || ((found.needs_cut || !headed) && !TrimHistoryFile(file, found))) {
            ReportSystemProblem("written");
        } else if (found.needs_cut || !headed) {
            history_file.trimmed = true;
        }
    }
    OsCloseHistoryFile(file);  // lets go of the lock
}
