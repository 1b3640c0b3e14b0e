#include <windows.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/os_history_file.h"

namespace {

DWORD last_error = NO_ERROR;

HANDLE Handle(OsHistoryFile file) {
    return reinterpret_cast<HANDLE>(file.handle);
}

void SayError(std::span<char> why, DWORD error) {
    std::snprintf(why.data(), why.size(), "error %lu", static_cast<unsigned long>(error));
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    const bool done =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    last_error = done ? NO_ERROR : GetLastError();
    return done;
}

}  // namespace

bool OsHistoryFilePath(std::span<char> path, std::span<char> why) {
    std::array<char, MAX_PATH> folder{};
    const DWORD length = GetEnvironmentVariableA("APPDATA", folder.data(), folder.size());
    if (length == 0 || length >= folder.size()) {
        std::snprintf(why.data(), why.size(), "APPDATA is not set");
        return false;
    }
    const int made = std::snprintf(path.data(), path.size(), "%s\\tunnelconsole", folder.data());
    if (made < 0 || static_cast<std::size_t>(made) + 9 >= path.size() || made + 9 >= MAX_PATH) {
        std::snprintf(why.data(), why.size(), "APPDATA is too long");
        return false;
    }
    // Made with the rights of the profile folder it is in: its owner's.
    if (!CreateDirectoryA(path.data(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        std::snprintf(why.data(), why.size(), "its folder %s was not made: error %lu", path.data(),
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    std::strcat(path.data(), "\\history");
    return true;
}

HistoryOpen OsOpenHistoryFile(const char* path, bool create, OsHistoryFile& file,
                              std::span<char> why) {
    const HANDLE opened =
        CreateFileA(path, create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!create && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            return HistoryOpen::kMissing;
        }
        SayError(why, error);
        return HistoryOpen::kFailed;
    }
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        CloseHandle(opened);
        return HistoryOpen::kQuietOff;
    }
    file.handle = reinterpret_cast<std::intptr_t>(opened);
    return HistoryOpen::kOpened;
}

void OsLockHistoryFile(OsHistoryFile file) {
    OVERLAPPED whole{};
    LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
}

std::ptrdiff_t OsReadHistoryFile(OsHistoryFile file, std::uint64_t offset, std::span<char> bytes) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    if (!SetFilePointerEx(Handle(file), at, nullptr, FILE_BEGIN) ||
        !ReadFile(Handle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
        last_error = GetLastError();
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

bool OsAppendHistoryFile(OsHistoryFile file, std::string_view bytes) {
    const LARGE_INTEGER none{};
    if (!SetFilePointerEx(Handle(file), none, nullptr, FILE_END)) {
        last_error = GetLastError();
        return false;
    }
    return WriteAll(Handle(file), bytes);
}

bool OsRewriteHistoryFile(OsHistoryFile file, std::string_view bytes) {
    const LARGE_INTEGER none{};
    if (!SetFilePointerEx(Handle(file), none, nullptr, FILE_BEGIN) || !SetEndOfFile(Handle(file))) {
        last_error = GetLastError();
        return false;
    }
    return WriteAll(Handle(file), bytes);
}

void OsCloseHistoryFile(OsHistoryFile file) {
    if (file.handle != -1) {
        CloseHandle(Handle(file));  // lets go of the lock
    }
}

void OsHistoryFileError(std::span<char> why) {
    SayError(why, last_error);
}

bool OsHistoryFileMayLackHeader() {
    return true;
}
