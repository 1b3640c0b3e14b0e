// Windows side of durable_file.h. MoveFileExA with MOVEFILE_WRITE_THROUGH is
// the system's own.
#include <windows.h>

#include <io.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/durable_file.h"

namespace {

HANDLE HandleOf(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

int ErrnoFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        default:
            return EIO;
    }
}

}  // namespace

bool OsFlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
    if (!FlushFileBuffers(HandleOf(file))) {
        errno = ErrnoFor(GetLastError());
        return false;
    }
    return true;
}

// Both files inherit their access rights from the folder; what a user sets on
// the file itself are its attributes.
bool OsKeepFileAttributes(std::FILE* original, std::FILE* replacement) {
    const HANDLE replacement_handle = HandleOf(replacement);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(HandleOf(original), &info)) {
        errno = ErrnoFor(GetLastError());
        return false;
    }
    if (GetFileType(replacement_handle) != FILE_TYPE_DISK) {
        errno = EINVAL;
        return false;
    }
    constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};  // zero times stay as they are
    basic.FileAttributes = info.dwFileAttributes & kKeptAttributes;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    if (!SetFileInformationByHandle(replacement_handle, FileBasicInfo, &basic, sizeof basic)) {
        errno = ErrnoFor(GetLastError());
        return false;
    }
    return true;
}

// A path that is no link stays as given; a link is replaced by the final path
// of the file it leads to, without the "\\?\" prefix the system adds.
bool OsResolveLink(const char* path, std::span<char> target) {
    const std::size_t path_length = std::strlen(path);
    if (path_length >= target.size()) {
        return false;
    }
    std::memcpy(target.data(), path, path_length + 1);
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;
    }
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return true;
    }
    std::array<char, 4096> final_path{};
    const DWORD final_length =
        GetFinalPathNameByHandleA(file, final_path.data(), static_cast<DWORD>(final_path.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (final_length == 0 || final_length >= final_path.size()) {
        return true;
    }
    std::string_view resolved(final_path.data(), final_length);
    std::string_view prefix;
    if (resolved.starts_with("\\\\?\\UNC\\")) {
        resolved.remove_prefix(8);
        prefix = "\\\\";
    } else if (resolved.starts_with("\\\\?\\")) {
        resolved.remove_prefix(4);
    }
    if (prefix.size() + resolved.size() >= target.size()) {
        return false;
    }
    std::memcpy(target.data(), prefix.data(), prefix.size());
    std::memcpy(target.data() + prefix.size(), resolved.data(), resolved.size());
    target[prefix.size() + resolved.size()] = '\0';
    return true;
}

int OsLastFileError() {
    return ErrnoFor(GetLastError());
}
