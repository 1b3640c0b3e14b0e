#include "platform/windows/history_file.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "run/diagnostics.h"

namespace {

// The file is cut back once it holds this many lines more than are kept.
constexpr std::size_t kHistorySlack = 100;
std::array<char, MAX_PATH> history_path{};  // empty: no history file
std::size_t history_file_lines = 0;

void ReportHistoryProblem(const char* doing, DWORD error) {
    ReportProblem("history file %s was not %s: error %lu", history_path.data(), doing,
                  static_cast<unsigned long>(error));
    // One line says so; the session goes on without the file.
    history_path[0] = '\0';
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Calls `take` with each line of `file` from its start that fits a command
// line (its text, no line break). False when a read fails.
template <typename Take>
bool ForEachHistoryLine(HANDLE file, Take take) {
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        return false;
    }
    std::array<char, 4096> chunk;
    EditedLine line;
    bool too_long = false;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), chunk.size(), &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;  // a last line without a line break is not complete
        }
        for (const char byte : std::string_view(chunk.data(), got)) {
            if (byte == '\r') {
                continue;
            }
            if (byte != '\n') {
                too_long = too_long || !LineInsert(line, std::string_view(&byte, 1));
                continue;
            }
            if (!too_long) {
                take(LineText(line));
            }
            LineReplace(line, "");
            too_long = false;
        }
    }
}

// What the file keeps when it is cut back: its last lines.
std::array<char, kHistoryMostEntries*(kEditedLineCapacity + 1)> kept_history;

// Cuts the file, held under its lock, back to its last kHistoryMostEntries
// lines, whichever session added them.
bool TrimHistoryFile(HANDLE file) {
    std::size_t lines = 0;
    if (!ForEachHistoryLine(file, [&](std::string_view) { ++lines; })) {
        return false;
    }
    std::size_t skipped = 0;
    std::size_t kept = 0;
    const bool read = ForEachHistoryLine(file, [&](std::string_view line) {
        if (skipped + kHistoryMostEntries < lines) {
            ++skipped;
            return;
        }
        kept += line.copy(kept_history.data() + kept, kept_history.size() - kept - 2);
        kept_history[kept++] = '\r';
        kept_history[kept++] = '\n';
    });
    history_file_lines = lines - skipped;
    return read && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file) &&
           WriteAll(file, std::string_view(kept_history.data(), kept));
}

}  // namespace

void LoadHistoryFile(CommandHistory& command_history) {
    std::array<char, MAX_PATH> folder{};
    const DWORD length = GetEnvironmentVariableA("APPDATA", folder.data(), folder.size());
    if (length == 0 || length >= folder.size()) {
        ReportProblem("command lines are not kept: APPDATA is not set");
        return;
    }
    const int made =
        std::snprintf(history_path.data(), history_path.size(), "%s\\tunnelconsole", folder.data());
    if (made < 0 || static_cast<std::size_t>(made) + 8 >= history_path.size()) {
        ReportProblem("command lines are not kept: APPDATA is too long");
        history_path[0] = '\0';
        return;
    }
    // Made with the rights of the profile folder it is in: its owner's.
    if (!CreateDirectoryA(history_path.data(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        ReportHistoryProblem("made", GetLastError());
        return;
    }
    std::strcat(history_path.data(), "\\history");
    const HANDLE file =
        CreateFileA(history_path.data(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            ReportHistoryProblem("read", GetLastError());
        }
        return;
    }
    const bool read = ForEachHistoryLine(file, [&](std::string_view line) {
        ++history_file_lines;
        HistoryAdd(command_history, line);
    });
    if (!read) {
        ReportHistoryProblem("read", GetLastError());
    }
    CloseHandle(file);
}

void SaveHistoryLine(std::string_view line) {
    if (history_path[0] == '\0') {
        return;
    }
    const HANDLE file = CreateFileA(history_path.data(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportHistoryProblem("written", GetLastError());
        return;
    }
    OVERLAPPED whole{};
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    bool written = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                   WriteAll(file, line) && WriteAll(file, "\r\n");
    ++history_file_lines;
    if (written && history_file_lines > kHistoryMostEntries + kHistorySlack) {
        written = TrimHistoryFile(file);
    }
    if (!written) {
        ReportHistoryProblem("written", GetLastError());
    }
    if (locked) {
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    }
    CloseHandle(file);
}
