#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/os_durable_file.h"

namespace {

FileIdentity IdentityOf(const struct stat& info) {
    return FileIdentity{
        .volume = static_cast<std::uint64_t>(info.st_dev),
        .index = static_cast<std::uint64_t>(info.st_ino),
        .size = static_cast<std::uint64_t>(info.st_size),
        .modified = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000U +
                    static_cast<std::uint64_t>(info.st_mtim.tv_nsec),
    };
}

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void CloseKeepingErrno(int fd) {
    const int saved_errno = errno;
    close(fd);
    errno = saved_errno;
}

// Whether the regular file at `path` is a scratch file some process still
// holds (it keeps the file locked until it has renamed it), removing it when
// none does. Only the holder of the lock removes it, so a file made and
// locked meanwhile by another start is never taken away.
ScratchCreation RemoveUnlessHeld(const char* path) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Unreadable: nobody can be told from it, so it goes as any other.
        return unlink(path) == 0 || errno == ENOENT ? ScratchCreation::kCreated
                                                    : ScratchCreation::kRemoveFailed;
    }
    // A file system without locks cannot tell either: the file goes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return ScratchCreation::kInUse;
    }
    struct stat locked;
    struct stat named;
    ScratchCreation result = ScratchCreation::kCreated;
    if (fstat(fd, &locked) != 0 || lstat(path, &named) != 0 || !SameEntry(locked, named)) {
        // Renamed or replaced meanwhile: another start is at work.
        result = ScratchCreation::kInUse;
    } else if (unlink(path) != 0 && errno != ENOENT) {
        result = ScratchCreation::kRemoveFailed;
    }
    CloseKeepingErrno(fd);
    return result;
}

}  // namespace

bool OsFlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
    while (fsync(fileno(file)) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool OsKeepFileAttributes(std::FILE* original, std::FILE* replacement) {
    struct stat info;
    struct stat replacement_info;
    const int replacement_fd = fileno(replacement);
    if (fstat(fileno(original), &info) != 0 || fstat(replacement_fd, &replacement_info) != 0) {
        return false;
    }
    // A device or other special file that a stale link led to is no place
    // for the copy, and its permissions are not ours to change.
    if (!S_ISREG(replacement_info.st_mode)) {
        errno = EINVAL;
        return false;
    }
    // Only a privileged run may give the file back to its owner; anyone else
    // owns the new file already.
    [[maybe_unused]] const int owner_kept = fchown(replacement_fd, info.st_uid, info.st_gid);
    return fchmod(replacement_fd, info.st_mode & 07777) == 0;
}

// As git's lockfile resolves the file it locks: each link's target replaces
// the last component when relative, or the whole path when absolute; a
// component that is no link, or is missing, ends the walk. Unlike git, a
// chain longer than the limit is refused rather than cut, so that no link of
// it is replaced by a file.
LinkResolution OsResolveLink(const char* path, std::span<char> target) {
    const std::size_t path_length = std::strlen(path);
    if (path_length >= target.size()) {
        return LinkResolution::kTooLong;
    }
    std::memcpy(target.data(), path, path_length + 1);
    for (int depth = 0;; ++depth) {
        std::array<char, 4096> link{};
        const ssize_t link_length = readlink(target.data(), link.data(), link.size());
        if (link_length <= 0 || static_cast<std::size_t>(link_length) == link.size()) {
            return LinkResolution::kResolved;
        }
        if (depth == kMaxLinksFollowed) {
            return LinkResolution::kTooManyLinks;
        }
        const std::string_view link_text(link.data(), static_cast<std::size_t>(link_length));
        const std::string_view current(target.data());
        std::size_t keep = 0;
        if (link_text.front() != '/') {
            const std::size_t slash = current.rfind('/');
            keep = slash == std::string_view::npos ? 0 : slash + 1;
        }
        if (keep + link_text.size() >= target.size()) {
            return LinkResolution::kTooLong;
        }
        std::memcpy(target.data() + keep, link_text.data(), link_text.size());
        target[keep + link_text.size()] = '\0';
    }
}

bool OsIsSpecialFile(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool OsIdentifyFile(std::FILE* file, FileIdentity& identity) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0) {
        return false;
    }
    identity = IdentityOf(info);
    return true;
}

bool OsIdentifyPath(const char* path, FileIdentity& identity) {
    struct stat info;
    if (stat(path, &info) != 0) {
        return false;
    }
    identity = IdentityOf(info);
    return true;
}

// The lock lives on a descriptor of its own, so that closing the stream
// (which reports a late write error) keeps it until the rename is done.
ScratchCreation OsCreateScratchFile(const char* path, OsScratchFile& scratch) {
    struct stat entry;
    if (lstat(path, &entry) == 0) {
        if (S_ISREG(entry.st_mode)) {
            const ScratchCreation removal = RemoveUnlessHeld(path);
            if (removal != ScratchCreation::kCreated) {
                return removal;
            }
        } else if (unlink(path) != 0 && errno != ENOENT) {
            return ScratchCreation::kRemoveFailed;
        }
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno == EEXIST ? ScratchCreation::kInUse : ScratchCreation::kCreateFailed;
    }
    // Locked first by a start that took it for a stale one: it is gone or
    // about to go. (Without locks on this file system, it is not held.)
    struct stat created;
    struct stat named;
    if ((flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) || fstat(fd, &created) != 0 ||
        lstat(path, &named) != 0 || !SameEntry(created, named)) {
        close(fd);
        return ScratchCreation::kInUse;
    }
    const int stream_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    std::FILE* stream = stream_fd < 0 ? nullptr : fdopen(stream_fd, "wb");
    if (stream == nullptr) {
        if (stream_fd >= 0) {
            CloseKeepingErrno(stream_fd);
        }
        unlink(path);
        CloseKeepingErrno(fd);
        return ScratchCreation::kCreateFailed;
    }
    scratch.stream = stream;
    scratch.hold = fd;
    scratch.identity = IdentityOf(created);
    return ScratchCreation::kCreated;
}

void OsReleaseScratchFile(OsScratchFile& scratch) {
    if (scratch.stream != nullptr) {
        std::fclose(scratch.stream);
        scratch.stream = nullptr;
    }
    if (scratch.hold >= 0) {
        close(static_cast<int>(scratch.hold));
        scratch.hold = -1;
    }
}

void OsDiscardScratchFile(const char* path, OsScratchFile& scratch) {
    unlink(path);
    OsReleaseScratchFile(scratch);
}

// A rename replaces a file that others have open.
bool OsReplaceBlockedByAnOpenFile(int) {
    return false;
}

bool OsOpenBlockedForAMoment(const char*, int) {
    return false;
}

int OsLastFileError() {
    return errno;
}
