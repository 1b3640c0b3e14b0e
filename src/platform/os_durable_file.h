// What replacing a file safely (durable_file.h) needs of the operating system:
// the new bytes on stable storage before the rename, the old file's
// permissions kept, a symbolic link kept as a link, and a scratch file that is
// ours alone. posix/os_durable_file.cpp and windows/os_durable_file.cpp give
// them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

// Writes out the stream's buffer and has the system put the file's bytes on
// stable storage. False (errno set) if either fails.
bool OsFlushToDisk(std::FILE* file);

// Gives `replacement` the permissions (and, where allowed, the owner) of
// `original`, before any bytes are written to it. False (errno set) on
// failure, or when `replacement` is no regular file.
bool OsKeepFileAttributes(std::FILE* original, std::FILE* replacement);

enum class LinkResolution { kResolved, kTooLong, kTooManyLinks };

// At most this many symbolic links are followed from a path.
inline constexpr int kMaxLinksFollowed = 5;

// The file that `path` names once symbolic links are followed, into `target`:
// `path` itself when it is no link. A relative link is taken from the link's
// folder. kTooManyLinks when the file reached after kMaxLinksFollowed links
// is a link still; kTooLong when `target` is too small.
LinkResolution OsResolveLink(const char* path, std::span<char> target);

// Whether `path` names (through any links) something that is neither a
// file nor a folder: a FIFO, a device, a socket, which a read may wait on
// or never end.
bool OsIsSpecialFile(const char* path);

// Which file a path names, and what a write to it changes.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // in the system's own units
};

// False (errno set) when the file cannot be asked.
bool OsIdentifyFile(std::FILE* file, FileIdentity& identity);
bool OsIdentifyPath(const char* path, FileIdentity& identity);

// A scratch file made afresh: `stream` is written and closed; `hold` keeps
// the file marked as in use (a lock, an open handle) until released, after
// the file has been renamed. `identity` tells the file, once renamed, from
// any other (its size and time are those of its making).
struct OsScratchFile {
    std::FILE* stream = nullptr;
    std::intptr_t hold = -1;
    FileIdentity identity{};
};

enum class ScratchCreation {
    kCreated,
    kInUse,         // another process is writing a scratch file by that name
    kRemoveFailed,  // what stood there could not be removed (errno set)
    kCreateFailed,  // errno set
};

// Removes whatever stands at `path` (a file left by a killed run, whatever
// its attributes, a link, a FIFO, a device node) unless another process holds
// it as its scratch file, then creates a new, empty file there exclusively,
// without following links.
ScratchCreation OsCreateScratchFile(const char* path, OsScratchFile& scratch);

// Closes the stream if still open and lets the file go.
void OsReleaseScratchFile(OsScratchFile& scratch);

// Removes the scratch file at `path`, whatever attributes it was given, and
// lets it go.
void OsDiscardScratchFile(const char* path, OsScratchFile& scratch);

// Whether a rename that failed with `error` may have been kept from
// replacing its target only while another process has that file open (on
// Windows an open file cannot be replaced; the system says so as a denied
// access or a sharing violation).
bool OsReplaceBlockedByAnOpenFile(int error);

// Whether opening the file at `path`, refused with `error`, may succeed a
// moment later: on Windows a file that another process is replacing or has
// open for writing is refused as a denied access, as a read-only file or a
// folder is for good.
bool OsOpenBlockedForAMoment(const char* path, int error);

// Renames `replacement` over `target`, replacing it: Win32's MoveFileExA,
// shared by both platforms in os_win32_calls.cpp. Its write-through flag
// promises a flush only for a move made as a copy and a delete; a rename on
// one volume is as lasting as the file system's journal makes it, the new
// bytes having been flushed before. False on failure: OsLastFileError says why.
bool OsReplaceFile(const char* replacement, const char* target);

// The errno value for the failure that the last file operation of the
// platform (MoveFileExA included) reported.
int OsLastFileError();
