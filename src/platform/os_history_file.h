// What the history file (console/history_file.h) needs of the operating
// system: its place, opening it without harm to what is not one, an
// exclusive lock shared by every session, and reading, adding and rewriting
// it in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The file's path: ~/.tunnelconsole_history on POSIX,
// %APPDATA%\tunnelconsole\history on Windows (the folder made if missing).
// False with `why` set ("HOME is not set", ...) when there is none.
bool OsHistoryFilePath(std::span<char> path, std::span<char> why);

struct OsHistoryFile {
    std::intptr_t handle = -1;
};

enum class HistoryOpen {
    kOpened,
    kMissing,   // no file there yet
    kQuietOff,  // a link to a device, a FIFO or to nothing: history off, no word said
    kFailed,    // `why` says why
};

// Opens the file to read it (`create` false) or to add to it (`create`
// true: made private from its first byte when missing, never through a
// link laid meanwhile).
HistoryOpen OsOpenHistoryFile(const char* path, bool create, OsHistoryFile& file,
                              std::span<char> why);

// Waits for the exclusive lock every session takes to change the file;
// closing the file lets go of it.
void OsLockHistoryFile(OsHistoryFile file);

// Reads from `offset`: the bytes read, 0 at the end, < 0 on failure.
std::ptrdiff_t OsReadHistoryFile(OsHistoryFile file, std::uint64_t offset, std::span<char> bytes);

// Adds `bytes` at the end; replaces all with `bytes`, in place.
bool OsAppendHistoryFile(OsHistoryFile file, std::string_view bytes);
bool OsRewriteHistoryFile(OsHistoryFile file, std::string_view bytes);

void OsCloseHistoryFile(OsHistoryFile file);

// Why the last of the calls above failed, in the system's words.
void OsHistoryFileError(std::span<char> why);

// Whether a file without the header is one this program wrote before it wrote
// the header: at a Windows console the file is in a folder of the program's
// own, and its earlier files had none. Such a file is read, and given the
// header at the next save.
bool OsHistoryFileMayLackHeader();
