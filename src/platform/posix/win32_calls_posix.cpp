// POSIX stand-ins for the Win32 calls in win32_calls.h. Nothing here touches
// the heap: the INI reader streams the file through fixed buffers.
#include "platform/win32_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

// PathCombineA's destination size, as the header promises its callers.
constexpr std::size_t kPathCapacity = 4096;

// A line longer than this keeps only its first kLineCapacity characters for
// matching; the rest up to the line break is skipped, so the next line is read
// intact. A cut section header loses its ']' and so stops being a header, and
// a cut value (or quoted value that lost its closing quote) is returned as cut.
constexpr std::size_t kLineCapacity = 4096;
constexpr std::size_t kChunkCapacity = 4096;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
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

// Only ASCII letters fold, so a name matches the same way under any locale.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

struct IniReader {
    int fd = -1;
    std::size_t position = 0;
    std::size_t end = 0;
    std::array<char, kChunkCapacity> chunk;
    std::array<char, kLineCapacity> line;
};

bool FillChunk(IniReader& reader) {
    for (;;) {
        const ssize_t got = read(reader.fd, reader.chunk.data(), reader.chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        reader.position = 0;
        reader.end = static_cast<std::size_t>(got);
        return true;
    }
}

// CR, LF and CR LF all end a line; CR LF just yields an extra empty line,
// which nobody looks at. A read error ends the file early.
bool NextIniLine(IniReader& reader, std::string_view& line) {
    std::size_t length = 0;
    bool started = false;
    for (;;) {
        if (reader.position == reader.end && !FillChunk(reader)) {
            line = std::string_view(reader.line.data(), length);
            return started;
        }
        const char c = reader.chunk[reader.position++];
        if (c == '\r' || c == '\n') {
            line = std::string_view(reader.line.data(), length);
            return true;
        }
        started = true;
        if (length < reader.line.size()) {
            reader.line[length++] = c;
        }
    }
}

// Copies the value found into `value_out` (which then points into `storage`).
bool FindProfileValue(std::string_view section, std::string_view key, const char* file_name,
                      std::array<char, kLineCapacity>& storage, std::string_view& value_out) {
    int fd;
    do {
        fd = open(file_name, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }

    IniReader reader;
    reader.fd = fd;
    std::string_view line;
    bool first_line = true;
    bool in_section = false;
    bool found = false;
    while (!found && NextIniLine(reader, line)) {
        if (first_line) {
            first_line = false;
            if (line.starts_with(kUtf8Bom)) {
                line.remove_prefix(kUtf8Bom.size());
            }
        }
        line = TrimBlanks(line);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            // The last ']' on the line closes the name; whatever follows is ignored.
            const std::size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                if (in_section) {
                    break;  // a later section of the same name is not searched
                }
                in_section = EqualIgnoringAsciiCase(TrimBlanks(line.substr(1, close - 1)), section);
                continue;
            }
            // No ']': an ordinary line of the current section.
        }
        if (!in_section) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;  // a bare name is no key at all
        }
        if (EqualIgnoringAsciiCase(TrimBlanks(line.substr(0, equals)), key)) {
            const std::string_view value = Unquote(TrimBlanks(line.substr(equals + 1)));
            // The line buffer is reused by the reader; keep the value apart.
            std::memcpy(storage.data(), value.data(), value.size());
            value_out = std::string_view(storage.data(), value.size());
            found = true;
        }
    }
    close(fd);
    return found;
}

DWORD CopyCut(std::string_view text, LPSTR out, DWORD size) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    // A NUL inside the file would otherwise make the count disagree with strlen.
    text = text.substr(0, text.find('\0'));
    const std::size_t count = text.size() < size ? text.size() : size - 1;
    std::memcpy(out, text.data(), count);
    out[count] = '\0';
    return static_cast<DWORD>(count);
}

bool PathExists(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0;
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

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name) {
    if (section == nullptr || key == nullptr) {
        return CopyCut("", returned, size);
    }
    if (returned == nullptr || size == 0) {
        return 0;
    }
    std::array<char, kLineCapacity> storage;
    std::string_view value;
    if (file_name != nullptr && FindProfileValue(section, key, file_name, storage, value)) {
        return CopyCut(value, returned, size);
    }
    return CopyCut(default_value != nullptr ? default_value : "", returned, size);
}

namespace {

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

BOOL RenameReplacing(LPCSTR existing, LPCSTR target, DWORD flags) {
    if (std::rename(existing, target) != 0) {
        return 0;
    }
    return (flags & MOVEFILE_WRITE_THROUGH) == 0 || FlushFolderOf(target) ? 1 : 0;
}

}  // namespace

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    if (existing == nullptr || target == nullptr) {
        errno = EINVAL;
        return 0;
    }
    if ((flags & MOVEFILE_REPLACE_EXISTING) != 0) {
        return RenameReplacing(existing, target, flags);
    }
#if defined(RENAME_NOREPLACE)
    // Atomic where the file system allows it, so a target made meanwhile is
    // not lost.
    if (renameat2(AT_FDCWD, existing, AT_FDCWD, target, RENAME_NOREPLACE) == 0) {
        return (flags & MOVEFILE_WRITE_THROUGH) == 0 || FlushFolderOf(target) ? 1 : 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return 0;
    }
#endif
    if (PathExists(target)) {
        errno = EEXIST;
        return 0;
    }
    return RenameReplacing(existing, target, flags);
}

void Sleep(DWORD milliseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
