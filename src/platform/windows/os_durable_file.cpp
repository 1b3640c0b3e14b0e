// Windows side of os_durable_file.h. MoveFileExA with MOVEFILE_WRITE_THROUGH is
// the system's own.
#include <windows.h>

#include <io.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/os_durable_file.h"
#include "platform/windows/os_durable_file_private.h"

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
            return EACCES;
        // Another process has the file open in a way that excludes ours.
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            return EIO;
    }
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return FileIdentity{
        .volume = info.dwVolumeSerialNumber,
        .index = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow,
        .size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow,
        .modified = static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                    info.ftLastWriteTime.dwLowDateTime,
    };
}

bool IdentifyHandle(HANDLE file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        errno = ErrnoFor(GetLastError());
        return false;
    }
    identity = IdentityOf(info);
    return true;
}

// Opening a file with no sharing at all succeeds only when no other process
// has it open: a start writing its scratch file keeps it open until renamed.
// Closing that handle then deletes the file. A read-only file must lose the
// attribute before it may be deleted.
ScratchCreation RemoveUnlessHeld(const char* path) {
    for (int attempt = 0;; ++attempt) {
        const HANDLE file =
            CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return ScratchCreation::kCreated;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return ScratchCreation::kCreated;
        }
        if (error == ERROR_SHARING_VIOLATION) {
            return ScratchCreation::kInUse;
        }
        const DWORD attributes = GetFileAttributesA(path);
        if (error != ERROR_ACCESS_DENIED || attempt > 0 || attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            !SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY)) {
            errno = ErrnoFor(error);
            return ScratchCreation::kRemoveFailed;
        }
    }
}

}  // namespace

bool PathFromFinalPath(std::string_view final_path, std::span<char> target) {
    std::string_view prefix;
    if (final_path.starts_with("\\\\?\\UNC\\")) {
        final_path.remove_prefix(8);
        prefix = "\\\\";
    } else if (final_path.starts_with("\\\\?\\")) {
        final_path.remove_prefix(4);
    }
    if (prefix.size() + final_path.size() >= target.size()) {
        return false;
    }
    std::memcpy(target.data(), prefix.data(), prefix.size());
    std::memcpy(target.data() + prefix.size(), final_path.data(), final_path.size());
    target[prefix.size() + final_path.size()] = '\0';
    return true;
}

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
    // Read-only too: whoever may replace a read-only file (an emulator's
    // privileged user) leaves it read-only, as a privileged POSIX run does.
    constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
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
// of the file it leads to, without the "\\?\" prefix the system adds. The
// system follows a chain of links itself, up to its own limit.
LinkResolution OsResolveLink(const char* path, std::span<char> target) {
    const std::size_t path_length = std::strlen(path);
    if (path_length >= target.size()) {
        return LinkResolution::kTooLong;
    }
    std::memcpy(target.data(), path, path_length + 1);
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return LinkResolution::kResolved;
    }
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LinkResolution::kResolved;
    }
    std::array<char, 4096> final_path{};
    const DWORD final_length =
        GetFinalPathNameByHandleA(file, final_path.data(), static_cast<DWORD>(final_path.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (final_length == 0 || final_length >= final_path.size()) {
        return LinkResolution::kResolved;
    }
    return PathFromFinalPath({final_path.data(), final_length}, target) ? LinkResolution::kResolved
                                                                        : LinkResolution::kTooLong;
}

bool OsIdentifyFile(std::FILE* file, FileIdentity& identity) {
    return IdentifyHandle(HandleOf(file), identity);
}

bool OsIdentifyPath(const char* path, FileIdentity& identity) {
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return false;
    }
    const bool identified = IdentifyHandle(file, identity);
    CloseHandle(file);
    return identified;
}

// The handle kept is the one made here, with write access and shared for
// deletion only, so that the rename (which opens the file for deletion)
// succeeds while another start's check for a free file fails. The stream
// writes through a duplicate of it.
ScratchCreation OsCreateScratchFile(const char* path, OsScratchFile& scratch) {
    const ScratchCreation removal = RemoveUnlessHeld(path);
    if (removal != ScratchCreation::kCreated) {
        return removal;
    }
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = ErrnoFor(error);
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? ScratchCreation::kInUse
                   : ScratchCreation::kCreateFailed;
    }
    HANDLE stream_handle = INVALID_HANDLE_VALUE;
    const HANDLE process = GetCurrentProcess();
    std::FILE* stream = nullptr;
    if (DuplicateHandle(process, file, process, &stream_handle, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(stream_handle), 0);
        if (fd < 0) {
            CloseHandle(stream_handle);
        } else {
            stream = _fdopen(fd, "wb");
            if (stream == nullptr) {
                _close(fd);
            }
        }
    }
    if (stream == nullptr) {
        const int error = errno != 0 ? errno : EIO;
        DeleteFileA(path);
        CloseHandle(file);
        errno = error;
        return ScratchCreation::kCreateFailed;
    }
    scratch.stream = stream;
    scratch.hold = reinterpret_cast<std::intptr_t>(file);
    // Unknown, it matches no file: a failed rename is then taken as failed.
    static_cast<void>(IdentifyHandle(file, scratch.identity));
    return ScratchCreation::kCreated;
}

void OsReleaseScratchFile(OsScratchFile& scratch) {
    if (scratch.stream != nullptr) {
        std::fclose(scratch.stream);
        scratch.stream = nullptr;
    }
    if (scratch.hold != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(scratch.hold));
        scratch.hold = -1;
    }
}

// A read-only file cannot be deleted: the attributes go first.
void OsDiscardScratchFile(const char* path, OsScratchFile& scratch) {
    if (scratch.stream != nullptr) {
        std::fclose(scratch.stream);
        scratch.stream = nullptr;
    }
    if (scratch.hold != -1) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(reinterpret_cast<HANDLE>(scratch.hold), FileBasicInfo, &basic,
                                   sizeof basic);
    }
    DeleteFileA(path);
    OsReleaseScratchFile(scratch);
}

bool OsReplaceBlockedByAnOpenFile(int error) {
    return error == EBUSY || error == EACCES;
}

bool OsOpenBlockedForAMoment(const char* path, int error) {
    if (error != EACCES && error != EBUSY) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

int OsLastFileError() {
    return ErrnoFor(GetLastError());
}

// A Windows folder holds files and folders only.
bool OsIsSpecialFile(const char*) {
    return false;
}
