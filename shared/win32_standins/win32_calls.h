// The Win32 calls the program and the stand-in tunnel library make. On
// Windows they are the system's own; elsewhere this library brings stand-ins
// that behave the same for their uses.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shlwapi.h needs the types windows.h declares.
#include <shlwapi.h>

#else

#include <cstdint>

using DWORD = uint32_t;
using BOOL = int;
using HMODULE = void*;
using LPSTR = char*;
using LPCSTR = const char*;

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// The longest path PathCombineA gives, its NUL included (Windows: 260).
inline constexpr DWORD MAX_PATH = 4096;

// Full path of the running executable (`module` must be null). Returns the
// length copied; a path that does not fit is cut to size-1 characters and
// `size` is returned.
DWORD GetModuleFileNameA(HMODULE module, LPSTR file_name, DWORD size);

// Removes the last component of `path` in place ("/a/b" -> "/a", "/a" -> "/").
// Returns nonzero when something was removed.
BOOL PathRemoveFileSpecA(LPSTR path);

// Joins `directory` and `name` with one '/' into `destination` (4096 bytes).
// Returns `destination`, or null (and an empty destination) when the result
// does not fit.
LPSTR PathCombineA(LPSTR destination, LPCSTR directory, LPCSTR name);

// Looks up `key` in `section` of the INI file `file_name`, as Windows does;
// copies the value, or `default_value`, cut to size-1 bytes. Returns the
// number of bytes copied. Names match ignoring ASCII case once blanks (space,
// tab, VT, FF, CR, LF, Ctrl-Z) are trimmed from both ends, and one pair of
// quotes around the value or default goes. A UTF-16 file (byte order mark
// first) comes back as UTF-8; any other file's bytes are returned as they
// are. A null section or key gives the empty string (Windows would list the
// names instead).
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name);

// Renames `existing` to `target`, replacing an existing target; with
// MOVEFILE_WRITE_THROUGH the target's folder is flushed before it returns.
// (Windows documents that flag as returning once the file is moved on the
// disk, and promises the flush only for a move made as a copy and a delete;
// the stand-in does at least that for a rename.) Without MOVEFILE_REPLACE_EXISTING it fails
// with EINVAL: the stand-in makes no other move. Returns nonzero on success,
// else 0 with errno set.
BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);

void Sleep(DWORD milliseconds);

#endif
