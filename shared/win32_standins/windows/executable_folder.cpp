#include <array>
#include <cwchar>

#include "win32_standins/executable_folder.h"
#include "win32_standins/win32_calls.h"

namespace {

constexpr DWORD kPathCapacity = 4096;

using WidePath = std::array<wchar_t, kPathCapacity>;
using AnsiPath = std::array<char, kPathCapacity>;

// `wide` in the ANSI code page. Exact when it converts back to the same
// characters: a '?' or a best-fit look-alike does not.
bool ToAnsi(const wchar_t* wide, AnsiPath& ansi, bool& exact) {
    const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi.data(),
                                           static_cast<int>(ansi.size()), nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    WidePath back{};
    const int back_length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), -1,
                                                back.data(), static_cast<int>(back.size()));
    exact = back_length > 0 && std::wcscmp(back.data(), wide) == 0;
    return true;
}

}  // namespace

FolderSpelling GetProgramFolder(std::span<char> folder) {
    folder[0] = '\0';
    WidePath wide{};
    const DWORD length = GetModuleFileNameW(nullptr, wide.data(), kPathCapacity);
    if (length == 0 || length >= kPathCapacity) {
        return FolderSpelling::kSafe;
    }
    PathRemoveFileSpecW(wide.data());

    AnsiPath full{};
    bool full_exact = false;
    if (!ToAnsi(wide.data(), full, full_exact)) {
        return FolderSpelling::kSafe;
    }
    // Only asked for when needed: it reads every folder on the way.
    std::optional<FolderName> short_name;
    AnsiPath short_ansi{};
    if (CheckFolderSpelling(full.data(), full_exact) != FolderSpelling::kSafe) {
        WidePath short_wide{};
        const DWORD short_length = GetShortPathNameW(wide.data(), short_wide.data(), kPathCapacity);
        bool short_exact = false;
        if (short_length > 0 && short_length < kPathCapacity &&
            ToAnsi(short_wide.data(), short_ansi, short_exact)) {
            short_name = FolderName{short_ansi.data(), short_exact};
        }
    }
    const FolderChoice choice = ChooseFolderSpelling({full.data(), full_exact}, short_name);
    if (choice.path.size() >= folder.size()) {
        return FolderSpelling::kSafe;
    }
    choice.path.copy(folder.data(), choice.path.size());
    folder[choice.path.size()] = '\0';
    return choice.spelling;
}
