#include <windows.h>

#include <array>
#include <cstdio>
#include <cwchar>

#include "platform/os_history_file.h"

namespace {

DWORD last_error = NO_ERROR;

// The place OsFindHistoryFile found, in UTF-16: a profile folder any user
// name spells, whatever the ANSI code page can.
std::array<wchar_t, MAX_PATH> history_path{};

HANDLE Handle(OsHistoryFile file) {
    return reinterpret_cast<HANDLE>(file.handle);
}

void SayError(std::span<char> why, DWORD error) {
    std::snprintf(why.data(), why.size(), "error %lu", static_cast<unsigned long>(error));
}

// The path as the ANSI code page spells it, for messages only.
void Shown(const wchar_t* path, std::span<char> shown) {
    const int length = WideCharToMultiByte(CP_ACP, 0, path, -1, shown.data(),
                                           static_cast<int>(shown.size()), nullptr, nullptr);
    if (length <= 0) {
        std::snprintf(shown.data(), shown.size(), "%%APPDATA%%\\tunnelconsole\\history");
    }
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

bool OsFindHistoryFile(std::span<char> shown, std::span<char> why) {
    constexpr std::wstring_view kFolder = L"\\tunnelconsole";
    constexpr std::wstring_view kFile = L"\\history";
    std::array<wchar_t, MAX_PATH> folder{};
    const DWORD length =
        GetEnvironmentVariableW(L"APPDATA", folder.data(), static_cast<DWORD>(folder.size()));
    if (length == 0 || length >= folder.size()) {
        std::snprintf(why.data(), why.size(), "APPDATA is not set");
        return false;
    }
    if (length + kFolder.size() + kFile.size() >= history_path.size()) {
        std::snprintf(why.data(), why.size(), "APPDATA is too long");
        return false;
    }
    std::wstring_view(folder.data(), length).copy(history_path.data(), length);
    kFolder.copy(history_path.data() + length, kFolder.size());
    history_path[length + kFolder.size()] = L'\0';
    // Made with the rights of the profile folder it is in: its owner's.
    if (!CreateDirectoryW(history_path.data(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        const DWORD error = GetLastError();
        std::array<char, MAX_PATH> folder_shown{};
        Shown(history_path.data(), folder_shown);
        std::snprintf(why.data(), why.size(), "its folder %s was not made: error %lu",
                      folder_shown.data(), static_cast<unsigned long>(error));
        return false;
    }
    kFile.copy(history_path.data() + length + kFolder.size(), kFile.size());
    history_path[length + kFolder.size() + kFile.size()] = L'\0';
    Shown(history_path.data(), shown);
    return true;
}

HistoryOpen OsOpenHistoryFile(bool create, OsHistoryFile& file, std::span<char> why) {
    file = {};
    const HANDLE opened =
        CreateFileW(history_path.data(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
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

// The lock covers every byte the file may ever hold. LockFileEx locks are
// mandatory: a read of bytes another handle holds exclusively fails, so a
// reader takes the shared lock first.
bool OsLockHistoryFile(OsHistoryFile& file, bool exclusive, int milliseconds) {
    constexpr int kPauseMilliseconds = 5;
    for (int waited = 0;; waited += kPauseMilliseconds) {
        OVERLAPPED whole{};
        const DWORD flags =
            LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : DWORD{0});
        if (LockFileEx(Handle(file), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
            file.locked = true;
            return true;
        }
        last_error = GetLastError();
        if (last_error != ERROR_LOCK_VIOLATION || waited >= milliseconds) {
            return false;
        }
        Sleep(static_cast<DWORD>(kPauseMilliseconds));
    }
}

std::int64_t OsHistoryFileSize(OsHistoryFile file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(Handle(file), &size)) {
        last_error = GetLastError();
        return -1;
    }
    return size.QuadPart;
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

// Unlocked before the handle is closed: the documentation leaves the time at
// which closing lets go of a lock to the system.
void OsCloseHistoryFile(OsHistoryFile& file) {
    if (file.locked) {
        OVERLAPPED whole{};
        UnlockFileEx(Handle(file), 0, MAXDWORD, MAXDWORD, &whole);
    }
    if (file.handle != -1) {
        CloseHandle(Handle(file));
    }
    file = {};
}

void OsHistoryFileError(std::span<char> why) {
    SayError(why, last_error);
}

bool OsHistoryFileMayLackHeader() {
    return true;
}
