// Where the program is installed and the paths joined to it: the Windows
// program gets them from the system's own Win32 calls (GetModuleFileNameA,
// PathRemoveFileSpecA, PathCombineA), the POSIX program from their stand-ins
// in shared/win32_standins, which the stand-in library shares. Portable code
// reaches the operating system only through the os_*.h headers.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "win32_standins/executable_folder.h"

// A path, NUL-terminated: the program's folder and every path joined to it.
inline constexpr std::size_t kPathCapacity = 4096;
using PathText = std::array<char, kPathCapacity>;

// Writes the running program's folder into `folder`, NUL-terminated (see
// GetProgramFolder): empty when it cannot be had or does not fit. Returns
// what is wrong with the spelling written when no safe one exists.
FolderSpelling OsProgramFolder(std::span<char> folder);

// Joins `folder` and `name` with the platform's separator into `joined`.
// False, leaving it empty, when the result does not fit.
bool OsJoinPath(PathText& joined, const char* folder, const char* name);

// The most characters a path OsJoinPath gives may hold (Windows: 259).
unsigned OsLongestJoinedPath();

// Cuts the last component off `path`, in place.
void OsRemoveLastComponent(char* path);
