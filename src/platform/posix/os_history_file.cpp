#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os_history_file.h"

namespace {

// The place OsFindHistoryFile found.
std::array<char, 4096> history_path{};

void Say(std::span<char> why, const char* text) {
    std::snprintf(why.data(), why.size(), "%s", text);
}

int Descriptor(OsHistoryFile file) {
    return static_cast<int>(file.handle);
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

}  // namespace

bool OsFindHistoryFile(std::span<char> shown, std::span<char> why) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        Say(why, home == nullptr ? "HOME is not set" : "HOME is empty");
        return false;
    }
    const int length =
        std::snprintf(history_path.data(), history_path.size(), "%s/.tunnelconsole_history", home);
    if (length < 0 || static_cast<std::size_t>(length) >= history_path.size()) {
        Say(why, "HOME is too long");
        return false;
    }
    std::snprintf(shown.data(), shown.size(), "%s", history_path.data());
    return true;
}

HistoryOpen OsOpenHistoryFile(bool create, OsHistoryFile& file, std::span<char> why) {
    const char* path = history_path.data();
    file = {};
    int opened = -1;
    if (create) {
        opened = open(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (opened < 0 && errno != EEXIST) {
            Say(why, std::strerror(errno));
            return HistoryOpen::kFailed;
        }
    }
    if (opened < 0) {
        struct stat named {};
        struct stat found {};
        const bool is_link = lstat(path, &named) == 0 && S_ISLNK(named.st_mode);
        if (stat(path, &found) != 0) {
            if (errno == ENOENT) {
                return is_link ? HistoryOpen::kQuietOff : HistoryOpen::kMissing;
            }
            Say(why, std::strerror(errno));
            return HistoryOpen::kFailed;
        }
        // A link to a device or to anything but a file turns the history off.
        if (!S_ISREG(found.st_mode)) {
            if (is_link) {
                return HistoryOpen::kQuietOff;
            }
            Say(why, S_ISDIR(found.st_mode) ? std::strerror(EISDIR) : "it is not a regular file");
            return HistoryOpen::kFailed;
        }
        opened = open(path, (create ? O_RDWR | O_APPEND : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    }
    struct stat info {};
    if (opened < 0 || fstat(opened, &info) != 0) {
        Say(why, std::strerror(errno));
        if (opened >= 0) {
            close(opened);
        }
        return HistoryOpen::kFailed;
    }
    if (!S_ISREG(info.st_mode)) {
        close(opened);
        return HistoryOpen::kQuietOff;
    }
    file.handle = opened;
    return HistoryOpen::kOpened;
}

bool OsLockHistoryFile(OsHistoryFile& file, bool exclusive, int milliseconds) {
    // Tried again every few milliseconds: flock has no wait with a bound.
    constexpr long kPauseNanoseconds = 5'000'000;
    for (int waited = 0;; waited += 5) {
        if (flock(Descriptor(file), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
            file.locked = true;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (waited >= milliseconds) {
            errno = EWOULDBLOCK;
            return false;
        }
        const timespec pause{0, kPauseNanoseconds};
        nanosleep(&pause, nullptr);
    }
}

std::int64_t OsHistoryFileSize(OsHistoryFile file) {
    struct stat info {};
    return fstat(Descriptor(file), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

std::ptrdiff_t OsReadHistoryFile(OsHistoryFile file, std::uint64_t offset, std::span<char> bytes) {
    for (;;) {
        const ssize_t count =
            pread(Descriptor(file), bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

bool OsAppendHistoryFile(OsHistoryFile file, std::string_view bytes) {
    return WriteAll(Descriptor(file), bytes);
}

bool OsRewriteHistoryFile(OsHistoryFile file, std::string_view bytes) {
    return ftruncate(Descriptor(file), 0) == 0 && WriteAll(Descriptor(file), bytes);
}

void OsCloseHistoryFile(OsHistoryFile& file) {
    if (file.locked) {
        flock(Descriptor(file), LOCK_UN);
    }
    if (file.handle >= 0) {
        close(Descriptor(file));
    }
    file = {};
}

void OsHistoryFileError(std::span<char> why) {
    Say(why, std::strerror(errno));
}

bool OsHistoryFileMayLackHeader() {
    return false;
}
