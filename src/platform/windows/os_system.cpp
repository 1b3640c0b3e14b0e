// Windows side of os_system.h: the system's own Win32 calls.
#include "platform/os_system.h"

#include "win32_standins/win32_calls.h"

FolderSpelling OsProgramFolder(std::span<char> folder) {
    return GetProgramFolder(folder);
}

// PathCombineA writes at most MAX_PATH bytes, however large the buffer.
bool OsJoinPath(PathText& joined, const char* folder, const char* name) {
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

const char kWritableFolderExample[] = "%LOCALAPPDATA%\\Programs\\tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view argument) {
    return argument == "/?";
}
