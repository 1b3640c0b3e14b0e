#include "platform/posix/history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/diagnostics.h"

namespace {

constexpr const char* kHistoryFileName = ".tunnelconsole_history";

// Empty: no history file.
std::array<char, 4096> history_path{};

constexpr std::string_view kHistoryHeader = "_HiStOrY_V2_\n";
// A line longer than a command line is no command line: dropped on reading.
constexpr std::size_t kHistoryLineCapacity = 256;
// Cut back when a session has added this many more, so that a save rewrites
// the file only now and then.
constexpr int kHistorySlack = 100;
constexpr off_t kHistoryMostBytes = static_cast<off_t>(
    kHistoryHeader.size() + (kHistoryEntries + kHistorySlack) * kHistoryLineCapacity);

using HistoryLine = std::array<char, kHistoryLineCapacity>;

struct HistoryFileState {
    bool exists = false;   // found, or made by this session
    bool trimmed = false;  // cut back once by this session
};
HistoryFileState history_file;

// What the file keeps when it is cut back: its last lines.
std::array<char, kHistoryEntries * kHistoryLineCapacity> kept_history;

void ReportHistoryProblem(const char* doing, const char* why) {
    ReportProblem("history file %s was not %s: %s", history_path.data(), doing, why);
    // One line says so; the session goes on without the file.
    history_path[0] = '\0';
}

// Calls `take` with each line after the header that fits a command line
// (its text, no line break). False when a read fails.
template <typename Take>
bool ForEachHistoryLine(int file, Take take) {
    std::array<char, 4096> chunk;
    HistoryLine line{};
    std::size_t length = 0;
    bool too_long = false;
    off_t offset = static_cast<off_t>(kHistoryHeader.size());
    for (;;) {
        const ssize_t count = pread(file, chunk.data(), chunk.size(), offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;  // a last line without a line break is not complete
        }
        offset += count;
        for (const char byte : std::string_view(chunk.data(), static_cast<std::size_t>(count))) {
            if (byte != '\n') {
                too_long = too_long || length == line.size() - 1;
                if (!too_long) {
                    line[length++] = byte;
                }
                continue;
            }
            if (!too_long && length > 0) {
                line[length] = '\0';
                take(std::string_view(line.data(), length));
            }
            length = 0;
            too_long = false;
        }
    }
}

bool HasHistoryHeader(int file) {
    std::array<char, kHistoryHeader.size()> start{};
    return pread(file, start.data(), start.size(), 0) == static_cast<ssize_t>(start.size()) &&
           std::string_view(start.data(), start.size()) == kHistoryHeader;
}

bool WriteAll(int file, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = write(file, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// Cuts the file, held under its lock, back to its last kHistoryEntries
// lines, in place: a link, the owner and the permissions stay as they are.
bool TrimHistoryFile(int file) {
    int lines = 0;
    if (!ForEachHistoryLine(file, [&](std::string_view) { ++lines; })) {
        return false;
    }
    int skipped = 0;
    std::size_t kept = 0;
    const bool read = ForEachHistoryLine(file, [&](std::string_view line) {
        if (skipped < lines - kHistoryEntries) {
            ++skipped;
            return;
        }
        kept += line.copy(kept_history.data() + kept, kept_history.size() - kept - 1);
        kept_history[kept++] = '\n';
    });
    return read && ftruncate(file, 0) == 0 && WriteAll(file, kHistoryHeader) &&
           WriteAll(file, std::string_view(kept_history.data(), kept));
}

// Whether the file needs cutting back: it holds more lines than are kept
// and this session has not cut it yet, or it has grown by the slack since.
bool HistoryFileTooLong(int file, off_t size) {
    if (size > kHistoryMostBytes) {
        return true;
    }
    int lines = 0;
    static_cast<void>(ForEachHistoryLine(file, [&](std::string_view) { ++lines; }));
    return lines > kHistoryEntries + (history_file.trimmed ? kHistorySlack : 0);
}

// Opens the history file for adding to it; made private from its first
// byte when this session is the first to keep one.
int OpenHistoryFile() {
    if (!history_file.exists) {
        const int made = open(history_path.data(),
                              O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (made >= 0 || errno != EEXIST) {
            return made;
        }
        // Made meanwhile by another session, or a link laid meanwhile.
    }
    return open(history_path.data(), O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace

void LoadHistoryFile(void (*enter)(const char* line)) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        ReportProblem("command lines are not kept: HOME is not set");
        return;
    }
    const int length =
        std::snprintf(history_path.data(), history_path.size(), "%s/%s", home, kHistoryFileName);
    if (length < 0 || static_cast<std::size_t>(length) >= history_path.size()) {
        ReportProblem("command lines are not kept: HOME is too long");
        history_path[0] = '\0';
        return;
    }
    struct stat named {};
    struct stat found {};
    const bool is_link = lstat(history_path.data(), &named) == 0 && S_ISLNK(named.st_mode);
    if (stat(history_path.data(), &found) != 0) {
        if (errno != ENOENT) {
            ReportHistoryProblem("read", std::strerror(errno));
        } else if (is_link) {
            history_path[0] = '\0';  // a link to nothing: no history, quietly
        }
        return;
    }
    // A link to a device or to anything but a file turns the history off.
    if (!S_ISREG(found.st_mode)) {
        if (is_link) {
            history_path[0] = '\0';
        } else {
            ReportHistoryProblem("read", S_ISDIR(found.st_mode) ? std::strerror(EISDIR)
                                                                : "it is not a regular file");
        }
        return;
    }
    const int file = open(history_path.data(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    if (file < 0 || fstat(file, &opened) != 0) {
        ReportHistoryProblem("read", std::strerror(errno));
    } else if (!S_ISREG(opened.st_mode)) {
        history_path[0] = '\0';
    } else if (opened.st_size != 0 && !HasHistoryHeader(file)) {
        ReportHistoryProblem("read", "it is not a history file");
    } else {
        if (!ForEachHistoryLine(file, [&](std::string_view line) { enter(line.data()); })) {
            ReportHistoryProblem("read", std::strerror(errno));
        }
        history_file.exists = true;
    }
    if (file >= 0) {
        close(file);
    }
}

void SaveHistoryLine(std::string_view line) {
    if (history_path[0] == '\0') {
        return;
    }
    const int file = OpenHistoryFile();
    struct stat info {};
    if (file < 0 || fstat(file, &info) != 0) {
        ReportHistoryProblem("written", std::strerror(errno));
        if (file >= 0) {
            close(file);
        }
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        history_path[0] = '\0';
        close(file);
        return;
    }
    while (flock(file, LOCK_EX) != 0 && errno == EINTR) {
    }
    history_file.exists = true;
    HistoryLine entry{};
    const std::size_t length = line.copy(entry.data(), entry.size() - 1);
    entry[length] = '\n';
    if (fstat(file, &info) != 0) {
        ReportHistoryProblem("written", std::strerror(errno));
    } else if (info.st_size != 0 && !HasHistoryHeader(file)) {
        ReportHistoryProblem("written", "it is not a history file");
    } else if ((info.st_size == 0 && !WriteAll(file, kHistoryHeader)) ||
               !WriteAll(file, std::string_view(entry.data(), length + 1))) {
        ReportHistoryProblem("written", std::strerror(errno));
    } else if (fstat(file, &info) == 0 && HistoryFileTooLong(file, info.st_size)) {
        if (!TrimHistoryFile(file)) {
            ReportHistoryProblem("written", std::strerror(errno));
        }
        history_file.trimmed = true;
    }
    close(file);  // lets go of the lock
}
