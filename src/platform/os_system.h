// The system services the program is built on: where it is installed, its
// config.ini, paths, the move that replaces a file, and pausing. Portable
// code reaches the operating system only through the os_*.h headers; here
// the Windows program binds the system's own Win32 calls (GetModuleFileNameA,
// PathRemoveFileSpecA, PathCombineA, GetPrivateProfileStringA, MoveFileExA,
// Sleep), and the POSIX program their stand-ins in shared/win32_standins,
// which the stand-in library shares.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

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

// The value of `key` in `section` of the INI file `file`, or `default_value`,
// cut to the capacity of `value` less one, as Win32's lookup gives it.
void OsReadIniValue(const char* file, const char* section, const char* key,
                    const char* default_value, std::span<char> value);

// Renames `replacement` over `target`, replacing it, and returns once the
// rename is on stable storage. False on failure: OsLastFileError
// (os_durable_file.h) says why.
bool OsReplaceFile(const char* replacement, const char* target);

// Pauses the calling thread for at least `milliseconds`.
void OsSleep(unsigned milliseconds);

// A folder of the user's own to unpack the program into, for the advice given
// when the program's folder may not be written: on Windows one under
// %LOCALAPPDATA%, on POSIX one under the home folder.
extern const char kWritableFolderExample[];

// Whether `argument` asks for help in the platform's own spelling, besides -h
// and --help: "/?" on Windows.
bool IsPlatformHelpSwitch(std::string_view argument);
