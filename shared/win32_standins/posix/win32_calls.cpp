// POSIX stand-ins for the Win32 path, module, move and sleep calls in
// win32_calls.h; the INI lookup is in profile_string.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "win32_standins/win32_calls.h"

namespace {

// PathCombineA's destination size, as the header promises its callers.
constexpr std::size_t kPathCapacity = MAX_PATH;

// The rename is an entry of the target's folder: flushing the folder makes it
// last.
bool FlushFolderOf(const char* path) {
    std::array<char, kPathCapacity> folder{};
    const std::size_t length = std::strlen(path);
    if (length >= folder.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(folder.data(), path, length + 1);
    if (std::strchr(folder.data(), '/') == nullptr) {
        folder[0] = '.';
        folder[1] = '\0';
    } else {
        PathRemoveFileSpecA(folder.data());
    }
    int fd;
    do {
        fd = open(folder.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    int flushed;
    do {
        flushed = fsync(fd);
    } while (flushed != 0 && errno == EINTR);
    const int saved_errno = errno;
    close(fd);
    errno = saved_errno;
    return flushed == 0;
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, LPSTR file_name, DWORD size) {
    if (module != nullptr || file_name == nullptr || size == 0) {
        return 0;
    }
    // One spare byte tells a path that filled the buffer from one that was cut.
    std::array<char, kPathCapacity + 1> path;
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) == path.size()) {
        return 0;
    }
    const auto full = static_cast<DWORD>(length);
    if (full < size) {
        std::memcpy(file_name, path.data(), full);
        file_name[full] = '\0';
        return full;
    }
    std::memcpy(file_name, path.data(), size - 1);
    file_name[size - 1] = '\0';
    return size;
}

// Cuts at the last '/', keeping a leading '/' as the root. A trailing '/' is
// itself the last separator, so "/a/b/" only loses it, as on Windows; "a//b"
// becomes "a/", which still names "a".
BOOL PathRemoveFileSpecA(LPSTR path) {
    if (path == nullptr || path[0] == '\0') {
        return 0;
    }
    char* const slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        path[0] = '\0';
        return 1;
    }
    if (slash == path) {
        if (path[1] == '\0') {
            return 0;
        }
        path[1] = '\0';
        return 1;
    }
    *slash = '\0';
    return 1;
}

// No "." or ".." folding: the program only joins a folder with a file name.
LPSTR PathCombineA(LPSTR destination, LPCSTR directory, LPCSTR name) {
    if (destination == nullptr || (directory == nullptr && name == nullptr)) {
        return nullptr;
    }
    std::string_view dir = directory != nullptr ? directory : "";
    const std::string_view file = name != nullptr ? name : "";
    if (file.starts_with('/')) {
        dir = "";
    }
    const bool separator = !dir.empty() && !file.empty() && !dir.ends_with('/');
    const std::size_t total = dir.size() + (separator ? 1 : 0) + file.size();
    if (total >= kPathCapacity) {
        destination[0] = '\0';
        return nullptr;
    }
    // The name goes first and the folder stays at the front, so `destination`
    // may be `directory` or `name` itself.
    std::memmove(destination + dir.size() + (separator ? 1 : 0), file.data(), file.size());
    std::memmove(destination, dir.data(), dir.size());
    if (separator) {
        destination[dir.size()] = '/';
    }
    destination[total] = '\0';
    return destination;
}

// Only the replacing move is stood in for: the program makes no other.
BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    if (existing == nullptr || target == nullptr || (flags & MOVEFILE_REPLACE_EXISTING) == 0) {
        errno = EINVAL;
        return 0;
    }
    if (std::rename(existing, target) != 0) {
        return 0;
    }
    return (flags & MOVEFILE_WRITE_THROUGH) == 0 || FlushFolderOf(target) ? 1 : 0;
}

void Sleep(DWORD milliseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
