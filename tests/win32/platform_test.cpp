// The Windows side of the platform layer, row by row, on the system itself:
// final paths, the system's errors as errno values, the scratch file, and a
// safe replace of a read-only file that is saved while it is rewritten.
// Exits 0 when every row holds, else 1 with a line per failure.
#include <windows.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "files/durable_file.h"
#include "platform/os_durable_file.h"
#include "platform/os_history_file.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/os_durable_file_private.h"
#include "row_check.h"

namespace {

void CheckFinalPaths() {
    const struct {
        const char* final_path;
        std::size_t capacity;
        const char* path;  // null: does not fit
    } rows[] = {
        {"\\\\?\\C:\\tc\\real.cfg", 64, "C:\\tc\\real.cfg"},
        {"\\\\?\\UNC\\server\\share\\real.cfg", 64, "\\\\server\\share\\real.cfg"},
        {"C:\\tc\\real.cfg", 64, "C:\\tc\\real.cfg"},
        {"\\\\server\\share\\x", 64, "\\\\server\\share\\x"},
        // Only the whole prefix counts.
        {"\\\\?\\UNCx\\y", 64, "UNCx\\y"},
        {"\\\\?C:\\x", 64, "\\\\?C:\\x"},
        // Exactly room for the path and its NUL, then one short.
        {"\\\\?\\C:\\ab", 6, "C:\\ab"},
        {"\\\\?\\C:\\abc", 6, nullptr},
        {"\\\\?\\UNC\\s\\t", 6, "\\\\s\\t"},
        {"\\\\?\\UNC\\s\\tu", 6, nullptr},
    };
    for (const auto& row : rows) {
        std::array<char, 65> target;
        target.fill('#');
        const bool fits = PathFromFinalPath(row.final_path, std::span(target.data(), row.capacity));
        const std::string name = std::string("final path ") + row.final_path;
        Check(fits == (row.path != nullptr), name, "fits wrongly");
        if (fits && row.path != nullptr) {
            Check(std::string_view(target.data()) == row.path, name, target.data());
        }
        Check(target[row.capacity] == '#', name, "written past its capacity");
    }
}

void CheckErrors() {
    const struct {
        DWORD error;
        int expected;
    } rows[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},
        {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_SHARING_VIOLATION, EBUSY},
        {ERROR_LOCK_VIOLATION, EBUSY},
        {ERROR_DISK_FULL, ENOSPC},
        {ERROR_HANDLE_DISK_FULL, ENOSPC},
        {ERROR_NOT_SAME_DEVICE, EXDEV},
        {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
        {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_ALREADY_EXISTS, EEXIST},
        {ERROR_INVALID_FUNCTION, EIO},
    };
    for (const auto& row : rows) {
        SetLastError(row.error);
        Check(OsLastFileError() == row.expected, "error " + std::to_string(row.error),
              "another errno");
    }
    // A file another process replaces or reads may be replaced a moment later.
    Check(OsReplaceBlockedByAnOpenFile(EBUSY) && OsReplaceBlockedByAnOpenFile(EACCES) &&
              !OsReplaceBlockedByAnOpenFile(ENOENT) && !OsReplaceBlockedByAnOpenFile(ENOSPC),
          "a replace blocked by an open file", "told wrongly");
}

// How typed characters are spelled in the ANSI code page: the flags each
// code page takes, and a spelling only where it reads back as typed.
void CheckCodePages() {
    const struct {
        UINT code_page;
        DWORD flags;
        bool asks_used_default;
    } calls[] = {
        {1252, WC_NO_BEST_FIT_CHARS, true},
        {932, WC_NO_BEST_FIT_CHARS, true},
        {936, WC_NO_BEST_FIT_CHARS, true},
        {CP_UTF8, 0, false},
        {CP_UTF7, 0, false},
        {54936, 0, false},
        {50220, 0, false},
        {57002, 0, false},
    };
    for (const auto& row : calls) {
        const WideToCodePageCall call = WideToCodePageCallFor(row.code_page);
        Check(call.flags == row.flags && call.asks_used_default == row.asks_used_default,
              "call for code page " + std::to_string(row.code_page), "other flags");
    }
    const struct {
        UINT code_page;
        std::wstring_view character;
        std::string_view spelled;  // empty: not spelled
    } spellings[] = {
        {932, L"\u4e2d", "\x92\x86"},
        {932, L"\u00e9", ""},
        {932, L"\u00a5", ""},  // Windows's best fit: a backslash
        {936, L"\u00e9", "\xa8\xa6"},
        {936, L"\u4e2d", "\xd6\xd0"},
        {1252, L"\u00e9", "\xe9"},
        {1252, L"\u0101", ""},  // Windows's best fit: a
        {1252, L"\u20ac", "\x80"},
        {CP_UTF8, L"\u20ac", "\xe2\x82\xac"},
        {CP_UTF8, L"\U0001f600", "\xf0\x9f\x98\x80"},
        {CP_UTF8, std::wstring_view(L"\xd83d", 1), ""},  // half a character
    };
    for (const auto& row : spellings) {
        std::array<char, 4> spelled{};
        const std::size_t length = SpellInCodePage(row.code_page, row.character, spelled);
        Check(std::string_view(spelled.data(), length) == row.spelled,
              "spelling " + std::to_string(&row - spellings) + " in code page " +
                  std::to_string(row.code_page),
              "spelled otherwise");
    }
}

std::string folder;  // this run's own, under the temporary folder

std::string InFolder(const char* name) {
    return folder + "\\" + name;
}

void Lay(const std::string& path, std::string_view bytes, DWORD attributes = 0) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    if (attributes != 0) {
        SetFileAttributesA(path.c_str(), attributes);
    }
}

std::string Content(const std::string& path) {
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[512];
        std::size_t count = 0;
        while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.append(chunk, count);
        }
        std::fclose(file);
    }
    return bytes;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CheckScratchFiles() {
    const std::string scratch = InFolder("temp.cfg");
    {
        OsScratchFile made;
        errno = 0;
        const ScratchCreation creation =
            OsCreateScratchFile(InFolder("missing\\temp.cfg").c_str(), made);
        Check(creation != ScratchCreation::kCreated && creation != ScratchCreation::kInUse &&
                  errno == ENOENT,
              "scratch file in a missing folder", "not a failure for a missing file");
        Check(made.stream == nullptr, "scratch file in a missing folder", "a stream");
    }
    {
        CreateDirectoryA(scratch.c_str(), nullptr);
        OsScratchFile made;
        const ScratchCreation creation = OsCreateScratchFile(scratch.c_str(), made);
        Check(creation == ScratchCreation::kRemoveFailed && errno == EACCES,
              "scratch file where a folder is", "not a failed removal");
        RemoveDirectoryA(scratch.c_str());
    }
    {
        Lay(scratch, "left by a killed run\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        OsScratchFile made;
        const ScratchCreation creation = OsCreateScratchFile(scratch.c_str(), made);
        Check(creation == ScratchCreation::kCreated, "stale read-only scratch file",
              "not made afresh");
        if (creation == ScratchCreation::kCreated) {
            Check(std::fputs("new", made.stream) >= 0, "stale read-only scratch file",
                  "cannot be written");
            // Another start finds it in use until it is let go.
            OsScratchFile other;
            Check(OsCreateScratchFile(scratch.c_str(), other) == ScratchCreation::kInUse,
                  "scratch file of another start", "not in use");
            OsReleaseScratchFile(made);
            Check(Content(scratch) == "new", "stale read-only scratch file", "not its bytes");
            Check(OsCreateScratchFile(scratch.c_str(), other) == ScratchCreation::kCreated,
                  "scratch file let go", "not made afresh");
            OsDiscardScratchFile(scratch.c_str(), other);
            Check(!Exists(scratch), "scratch file discarded", "still there");
        }
    }
    {
        // Read-only as the file it replaces: discarded all the same.
        Lay(InFolder("original"), "x", FILE_ATTRIBUTE_READONLY);
        OsScratchFile made;
        std::FILE* original = std::fopen(InFolder("original").c_str(), "rb");
        if (OsCreateScratchFile(scratch.c_str(), made) == ScratchCreation::kCreated &&
            original != nullptr) {
            Check(OsKeepFileAttributes(original, made.stream), "read-only scratch file",
                  "attributes not kept");
            std::fclose(made.stream);
            made.stream = nullptr;
            Check((GetFileAttributesA(scratch.c_str()) & FILE_ATTRIBUTE_READONLY) != 0,
                  "read-only scratch file", "not read-only");
            OsDiscardScratchFile(scratch.c_str(), made);
            Check(!Exists(scratch), "read-only scratch file discarded", "still there");
        } else {
            Check(false, "read-only scratch file", "not made");
        }
        if (original != nullptr) {
            std::fclose(original);
        }
        SetFileAttributesA(InFolder("original").c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(InFolder("original").c_str());
    }
    Lay(InFolder("plain"), "x");
    Lay(InFolder("read-only"), "x", FILE_ATTRIBUTE_READONLY);
    Check(OsOpenBlockedForAMoment(InFolder("plain").c_str(), EACCES) &&
              OsOpenBlockedForAMoment(InFolder("plain").c_str(), EBUSY) &&
              !OsOpenBlockedForAMoment(InFolder("plain").c_str(), ENOENT) &&
              !OsOpenBlockedForAMoment(InFolder("read-only").c_str(), EACCES) &&
              !OsOpenBlockedForAMoment(folder.c_str(), EACCES),
          "an open blocked for a moment", "told wrongly");
    SetFileAttributesA(InFolder("read-only").c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(InFolder("read-only").c_str());
    DeleteFileA(InFolder("plain").c_str());
}

// Copies the file and adds a line; the first time it writes, an editor saves
// the file meanwhile (taking off its read-only attribute for the save, and
// putting it back).
struct EditedDuringTheRewrite {
    std::string path;
    mutable int writes = 0;
};

Production AddLineWhileSaved(const void* context, std::FILE* current, ReplacementOutput& output) {
    const auto& edit = *static_cast<const EditedDuringTheRewrite*>(context);
    if (!output.compare && edit.writes++ == 0) {
        Lay(edit.path, "saved by an editor\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    }
    Production production;
    char chunk[256];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, current)) > 0) {
        if (!WriteReplacementText(output, {chunk, count})) {
            production.status = Production::kWriteFailed;
            production.error = errno;
            return production;
        }
    }
    if (!WriteReplacementText(output, "added\n")) {
        production.status = Production::kWriteFailed;
        production.error = errno;
    }
    return production;
}

void CheckReadOnlyFileSavedDuringTheRewrite() {
    const std::string target = InFolder("tunnel.cfg");
    Lay(target, "first\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const EditedDuringTheRewrite edit{target};
    const bool replaced =
        ReplaceFileIfUnchanged(folder.c_str(), "tunnel.cfg", "temp.cfg", {AddLineWhileSaved, &edit})
            .code == ReplaceResult::kReplaced;
    const std::string row = "read-only file saved during the rewrite";
    Check(replaced, row, "not replaced");
    Check(edit.writes == 2, row, "not made again from the save");
    Check(Content(target) == "saved by an editor\r\nadded\r\n", row, Content(target).c_str());
    const DWORD attributes = GetFileAttributesA(target.c_str());
    Check(attributes != INVALID_FILE_ATTRIBUTES &&
              (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) ==
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
          row, "attributes not kept");
    Check(!Exists(InFolder("temp.cfg")), row, "temp.cfg left");
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target.c_str());
}

// A link is followed to the file it leads to, spelled without the final
// path's prefix, where the system gives the final path of a link's file (the
// emulator makes a link, but gives the link's own path as the final one).
bool GivesTheFinalPath(const std::string& link) {
    const HANDLE file = CreateFileA(link.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    std::array<char, MAX_PATH> final_path{};
    const DWORD length =
        GetFinalPathNameByHandleA(file, final_path.data(), MAX_PATH, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    return length > 0 && length < MAX_PATH &&
           std::string_view(final_path.data()).find("link.cfg") == std::string_view::npos;
}

void CheckLinks() {
    const std::string real = InFolder("real.cfg");
    const std::string link = InFolder("link.cfg");
    Lay(real, "x");
    std::array<char, MAX_PATH> resolved{};
    if (!CreateSymbolicLinkA(link.c_str(), real.c_str(), 0) || !GivesTheFinalPath(link)) {
        std::printf("links: this system does not give a link's final path\n");
        DeleteFileA(link.c_str());
    } else {
        Check(OsResolveLink(link.c_str(), resolved) == LinkResolution::kResolved, "link",
              "not resolved");
        Check(real == resolved.data(), "link", resolved.data());
        DeleteFileA(link.c_str());
    }
    Check(OsResolveLink(real.c_str(), resolved) == LinkResolution::kResolved &&
              real == resolved.data(),
          "no link", "not the path given");
    DeleteFileA(real.c_str());
}

// The history file in a profile folder the ANSI code page cannot spell: a
// second session's read waits while the first saves, under the lock, and
// then reads all it saved; readers share the lock.
void CheckHistoryLock() {
    const std::wstring profile =
        std::wstring(folder.begin(), folder.end()) + L"\\\u043f\u0440\u043e";
    CreateDirectoryW(profile.c_str(), nullptr);
    SetEnvironmentVariableW(L"APPDATA", profile.c_str());
    std::array<char, MAX_PATH> shown{};
    std::array<char, 256> why{};
    Check(OsFindHistoryFile(shown, why), "history in a profile of any name", why.data());
    OsHistoryFile saving;
    OsHistoryFile reading;
    OsHistoryFile also_reading;
    const std::string_view saved = "_HiStOrY_V2_\nversionget\n";
    Check(OsOpenHistoryFile(true, saving, why) == HistoryOpen::kOpened &&
              OsLockHistoryFile(saving, true, 0) && OsAppendHistoryFile(saving, saved),
          "history saved", why.data());
    Check(OsOpenHistoryFile(false, reading, why) == HistoryOpen::kOpened, "history read",
          why.data());
    Check(!OsLockHistoryFile(reading, false, 20), "history read while saved", "did not wait");
    OsCloseHistoryFile(saving);
    std::array<char, 64> read{};
    Check(OsLockHistoryFile(reading, false, 0) &&
              OsReadHistoryFile(reading, 0, read) == static_cast<std::ptrdiff_t>(saved.size()),
          "history read after the save", "not all read");
    Check(OsOpenHistoryFile(false, also_reading, why) == HistoryOpen::kOpened &&
              OsLockHistoryFile(also_reading, false, 0),
          "history read by two", "the lock is not shared");
    OsCloseHistoryFile(also_reading);
    OsCloseHistoryFile(reading);
    DeleteFileW((profile + L"\\tunnelconsole\\history").c_str());
    RemoveDirectoryW((profile + L"\\tunnelconsole").c_str());
    RemoveDirectoryW(profile.c_str());
}

}  // namespace

int main() {
    // A name no other run has, taken as a file and made a folder.
    std::array<char, MAX_PATH> temp{};
    std::array<char, MAX_PATH> unique{};
    GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
    if (GetTempFileNameA(temp.data(), "tcp", 0, unique.data()) == 0 ||
        !DeleteFileA(unique.data()) || !CreateDirectoryA(unique.data(), nullptr)) {
        std::printf("FAIL: cannot make a folder in %s\n", temp.data());
        return 1;
    }
    folder = unique.data();
    CheckFinalPaths();
    CheckCodePages();
    CheckErrors();
    CheckScratchFiles();
    CheckReadOnlyFileSavedDuringTheRewrite();
    CheckLinks();
    CheckHistoryLock();
    // What a failed row left.
    for (const char* name :
         {"temp.cfg", "tunnel.cfg", "original", "plain", "read-only", "real.cfg", "link.cfg"}) {
        SetFileAttributesA(InFolder(name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(InFolder(name).c_str());
        RemoveDirectoryA(InFolder(name).c_str());
    }
    RemoveDirectoryA(folder.c_str());
    return Report("platform rows ok");
}
