// What the history file (console/history_file.h) needs of the operating
// system: its place, opening it without harm to what is not one, a lock
// shared by every session (shared to read, exclusive to change), and
// reading, adding and rewriting it in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Finds the file's place: ~/.tunnelconsole_history on POSIX,
// %APPDATA%\tunnelconsole\history on Windows (the folder made if missing),
// and writes it in `shown` for messages. False with `why` set ("HOME is not
// set", ...) when there is none. The calls below open the place found.
bool OsFindHistoryFile(std::span<char> shown, std::span<char> why);

struct OsHistoryFile {
    std::intptr_t handle = -1;
    bool locked = false;
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
HistoryOpen OsOpenHistoryFile(bool create, OsHistoryFile& file, std::span<char> why);

// Takes the lock every session takes, shared to read and exclusive to
// change the file, waiting at most `milliseconds` for it: false when another
// session still holds it then. Closing the file lets go of it.
bool OsLockHistoryFile(OsHistoryFile& file, bool exclusive, int milliseconds);

// The file's size in bytes, < 0 on failure.
std::int64_t OsHistoryFileSize(OsHistoryFile file);

// Reads from `offset`: the bytes read, 0 at the end, < 0 on failure.
std::ptrdiff_t OsReadHistoryFile(OsHistoryFile file, std::uint64_t offset, std::span<char> bytes);

// Adds `bytes` at the end; replaces all with `bytes`, in place.
bool OsAppendHistoryFile(OsHistoryFile file, std::string_view bytes);
bool OsRewriteHistoryFile(OsHistoryFile file, std::string_view bytes);

// Lets go of the lock, then closes the file.
void OsCloseHistoryFile(OsHistoryFile& file);

// Why the last of the calls above failed, in the system's words.
void OsHistoryFileError(std::span<char> why);

// Whether a file without the header is one this program wrote before it wrote
// the header: at a Windows console the file is in a folder of the program's
// own, and its earlier files had none. Such a file is read, and given the
// header at the next save.
bool OsHistoryFileMayLackHeader();
