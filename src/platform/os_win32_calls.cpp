// The os_*.h functions that are Win32 calls themselves. win32_calls.h gives
// the system's own on Windows and their stand-ins, shared with the stand-in
// library, elsewhere: one file serves both.
#include "platform/os_durable_file.h"
#include "platform/os_ini_file.h"
#include "platform/os_paths.h"
#include "platform/os_sleep.h"

#include "win32_standins/win32_calls.h"

FolderSpelling OsProgramFolder(std::span<char> folder) {
    return GetProgramFolder(folder);
}

bool OsJoinPath(PathText& joined, const char* folder, const char* name) {
    // Windows' PathCombineA writes at most MAX_PATH bytes, however large the
    // buffer.
    static_assert(MAX_PATH <= kPathCapacity);
    return PathCombineA(joined.data(), folder, name) != nullptr;
}

unsigned OsLongestJoinedPath() {
    return MAX_PATH - 1;
}

void OsRemoveLastComponent(char* path) {
    PathRemoveFileSpecA(path);
}

void OsReadIniValue(const char* file, const char* section, const char* key,
                    const char* default_value, std::span<char> value) {
    GetPrivateProfileStringA(section, key, default_value, value.data(),
                             static_cast<DWORD>(value.size()), file);
}

bool OsReplaceFile(const char* replacement, const char* target) {
    return MoveFileExA(replacement, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           0;
}

void OsSleep(unsigned milliseconds) {
    Sleep(milliseconds);
}
