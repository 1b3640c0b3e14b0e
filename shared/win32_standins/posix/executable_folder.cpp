#include <cstring>

#include "win32_standins/executable_folder.h"
#include "win32_standins/win32_calls.h"

FolderSpelling GetProgramFolder(std::span<char> folder) {
    const DWORD length =
        GetModuleFileNameA(nullptr, folder.data(), static_cast<DWORD>(folder.size()));
    // A cut path would name some other folder.
    if (length == 0 || length >= folder.size()) {
        folder[0] = '\0';
        return FolderSpelling::kSafe;
    }
    PathRemoveFileSpecA(folder.data());
    // The only spelling there is; the library reads '(', ')' and '{' in a value.
    const FolderSpelling spelling = CheckFolderSpelling(folder.data(), true);
    return spelling == FolderSpelling::kHoldsItemMarks ? FolderSpelling::kSafe : spelling;
}
