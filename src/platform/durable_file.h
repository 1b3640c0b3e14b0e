// What replacing a file safely needs of the operating system: the new bytes
// on stable storage before the rename, the old file's permissions kept, and a
// symbolic link kept as a link.
#pragma once

#include <cstdio>
#include <span>

// Writes out the stream's buffer and has the system put the file's bytes on
// stable storage. False (errno set) if either fails.
bool OsFlushToDisk(std::FILE* file);

// Gives `replacement` the permissions (and, where allowed, the owner) of
// `original`, before any bytes are written to it. False (errno set) on
// failure, or when `replacement` is no regular file.
bool OsKeepFileAttributes(std::FILE* original, std::FILE* replacement);

// The file that `path` names once symbolic links are followed, into `target`:
// `path` itself when it is no link. A relative link is taken from the link's
// folder; at most five links are followed. False when `target` is too small.
bool OsResolveLink(const char* path, std::span<char> target);

// The errno value for the failure that the last file operation of the
// platform (MoveFileExA included) reported.
int OsLastFileError();
