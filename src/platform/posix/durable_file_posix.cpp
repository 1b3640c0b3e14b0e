#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/durable_file.h"

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
// component that is no link, or is missing, ends the walk.
bool OsResolveLink(const char* path, std::span<char> target) {
    const std::size_t path_length = std::strlen(path);
    if (path_length >= target.size()) {
        return false;
    }
    std::memcpy(target.data(), path, path_length + 1);
    constexpr int kMaxLinks = 5;
    for (int depth = 0; depth < kMaxLinks; ++depth) {
        std::array<char, 4096> link{};
        const ssize_t link_length = readlink(target.data(), link.data(), link.size());
        if (link_length <= 0 || static_cast<std::size_t>(link_length) == link.size()) {
            break;
        }
        const std::string_view link_text(link.data(), static_cast<std::size_t>(link_length));
        const std::string_view current(target.data());
        std::size_t keep = 0;
        if (link_text.front() != '/') {
            const std::size_t slash = current.rfind('/');
            keep = slash == std::string_view::npos ? 0 : slash + 1;
        }
        if (keep + link_text.size() >= target.size()) {
            return false;
        }
        std::memcpy(target.data() + keep, link_text.data(), link_text.size());
        target[keep + link_text.size()] = '\0';
    }
    return true;
}

int OsLastFileError() {
    return errno;
}
