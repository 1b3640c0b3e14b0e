// The Windows side of the platform layer, row by row, on the system itself:
// final paths, the system's errors as errno values, the scratch file, and a
// safe replace of a read-only file that is saved while it is rewritten.
// Exits 0 when every row holds, else 1 with a line per failure.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "files/durable_file.h"
#include "platform/os_durable_file.h"
#include "platform/os_history_file.h"
#include "platform/windows/console_cells.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/console_session.h"
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

// A console line read in UTF-16, as the program gets it: spelled in the
// ANSI code page (a console's ReadFile at 65001 gives 0 for each of these).
void CheckConsoleLines() {
    const struct {
        UINT code_page;
        std::wstring_view line;
        std::string_view spelled;
    } rows[] = {
        {CP_UTF8, L"caf\u00e9\r\n", "caf\xc3\xa9\r\n"},
        {CP_UTF8, L"\U0001f680!", "\xf0\x9f\x9a\x80!"},
        {1258, L"Vi\u1ec7t", "Vi\xea\xf2t"},
        {1252, L"Cafe\u0301\u0101", "Caf\xe9?"},
        {1252, L"a\u0323b", "a?b"},
    };
    for (const auto& row : rows) {
        std::array<char, 16> bytes{};
        const std::size_t length = SpellLineInCodePage(row.code_page, row.line, bytes);
        Check(std::string_view(bytes.data(), length) == row.spelled,
              "console line in code page " + std::to_string(row.code_page), bytes.data());
    }
}

// A console that answers two cells for a CJK character, one for an
// ambiguous one and two for an emoji; then one that cannot be asked.
int measured = 0;
int MeasureAsAConsoleHost(std::wstring_view character) {
    ++measured;
    return character == L"\u4e2d" || character == L"\U0001f680" ? 2 : 1;
}
int MeasureNothing(std::wstring_view) {
    return -1;
}

void CheckCells() {
    const struct {
        MeasureCells measure;
        std::wstring_view character;
        std::size_t cells;
        int measured;  // how many times the console was asked, in all
    } rows[] = {
        {MeasureAsAConsoleHost, L"\u4e2d", 2, 1},
        {MeasureAsAConsoleHost, L"\u00e9", 1, 2},
        {MeasureAsAConsoleHost, L"\U0001f680", 2, 3},
        {MeasureAsAConsoleHost, L"\u4e2d", 2, 3},
        {MeasureNothing, L"\u4e2d", 2, 3},
        {MeasureNothing, L"\u0301", 0, 3},
    };
    CellCache cache;
    for (const auto& row : rows) {
        cache.measure = row.measure;
        const std::size_t cells = CachedCells(cache, row.character);
        const std::string name = "cells of U+" + std::to_string(row.character[0]);
        Check(cells == row.cells, name, std::to_string(cells).c_str());
        Check(measured == row.measured, name, "measured other times");
    }
    // Input modes: cmd's own (QuickEdit, Insert, AutoPosition passed through),
    // QuickEdit and AutoPosition off, no extended flags (left alone); output
    // modes: DISABLE_NEWLINE_AUTO_RETURN off, wrapping on.
    Check(EditingInputMode(0x1f7) == 0x1e9 && EditingInputMode(0xa7) == 0xa9 &&
              EditingInputMode(0x7) == 0x9,
          "input modes", "other modes");
    Check(EditingOutputMode(0xf) == 0x7 && EditingOutputMode(0x1) == 0x3, "output modes",
          "other modes");
}

// The wakes' focus events taken off the console's input at the end, the
// keys around them kept in their order.
void CheckFocusEventsTakenOff() {
    const HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    std::array<INPUT_RECORD, 5> events{};
    for (std::size_t at = 0; at < events.size(); ++at) {
        events[at].EventType = at % 2 == 0 ? KEY_EVENT : FOCUS_EVENT;
        events[at].Event.KeyEvent.uChar.UnicodeChar = static_cast<WCHAR>(L'a' + at);
    }
    DWORD count = 0;
    if (!FlushConsoleInputBuffer(input) ||
        !WriteConsoleInputW(input, events.data(), events.size(), &count)) {
        std::printf("focus events: no console here\n");
        return;
    }
    // Ours, in order, among the terminal's own events; the emulator's
    // console may show them a moment later.
    const auto ours = [input, &count](bool& focus) {
        std::array<INPUT_RECORD, 64> seen{};
        PeekConsoleInputW(input, seen.data(), seen.size(), &count);
        std::wstring keys;
        focus = false;
        for (const INPUT_RECORD& event : std::span(seen.data(), count)) {
            focus = focus || event.EventType == FOCUS_EVENT;
            keys += event.EventType == KEY_EVENT ? event.Event.KeyEvent.uChar.UnicodeChar : L'-';
        }
        std::erase_if(keys, [](WCHAR key) { return key < L'a' || key > L'e'; });
        return keys;
    };
    bool focus = false;
    while (!ours(focus).ends_with(L'e')) {
        SwitchToThread();
    }
    TakeFocusEventsOff(input, 2);
    Check(ours(focus) == L"ace" && !focus, "focus events", "not taken off, or keys lost");
    FlushConsoleInputBuffer(input);
    CloseHandle(input);
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
    const struct {
        ConsoleCodePages now;
        bool input_is_console, output_is_console;
        bool set_input, set_output;
    } plans[] = {
        {{437, 437}, true, true, true, true},   {{437, 850}, false, true, false, true},
        {{437, 437}, true, false, true, false}, {{437, 437}, false, false, false, false},
        {{1252, 437}, true, true, false, true}, {{0, 0}, true, true, false, false},
    };
    for (const auto& row : plans) {
        const ConsoleCodePagePlan plan =
            PlanConsoleCodePages(row.now, row.input_is_console, row.output_is_console, 1252);
        Check(plan.set_input == row.set_input && plan.set_output == row.set_output,
              "code pages " + std::to_string(row.now.input) + "," + std::to_string(row.now.output) +
                  (row.input_is_console ? " in" : "") + (row.output_is_console ? " out" : ""),
              "other code pages set");
    }
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

// Copies the file and adds a line; the first time, an editor saves the file
// meanwhile (taking off its read-only attribute for the save, and putting it
// back), and the commit says so.
ReplaceResult CopyAndAddLine(FileReplacement& replacement, bool saved_meanwhile) {
    const std::string target = InFolder("tunnel.cfg");
    ReplaceResult result = ReplaceOpen(replacement, folder.c_str(), "tunnel.cfg", "temp.cfg");
    char chunk[256];
    std::size_t count = 0;
    while (result.code == ReplaceResult::kDone &&
           (count = std::fread(chunk, 1, sizeof chunk, replacement.current)) > 0) {
        result = ReplaceWrite(replacement, {chunk, count});
    }
    if (result.code == ReplaceResult::kDone) {
        result = ReplaceWrite(replacement, "added\r\n");
    }
    if (saved_meanwhile) {
        Lay(target, "saved by an editor\r\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    }
    return result.code == ReplaceResult::kDone ? ReplaceCommit(replacement) : result;
}

void CheckReadOnlyFileSavedDuringTheRewrite() {
    const std::string target = InFolder("tunnel.cfg");
    Lay(target, "first\r\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const std::string row = "read-only file saved during the rewrite";
    FileReplacement replacement;
    Check(CopyAndAddLine(replacement, true).code == ReplaceResult::kChanged, row, "save not seen");
    Check(!Exists(InFolder("temp.cfg")), row, "temp.cfg left after the save");
    replacement = FileReplacement{};
    Check(CopyAndAddLine(replacement, false).code == ReplaceResult::kDone, row, "not replaced");
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
    CheckCells();
    CheckConsoleLines();
    CheckFocusEventsTakenOff();
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
