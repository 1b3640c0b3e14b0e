// Starts a Windows program with standard handles that only a Windows parent
// can give it, and exits with the program's exit code:
//   std_handles_launcher.exe [--stdin=KIND] [--stdout=KIND] [--stderr=KIND] PROGRAM [ARG]...
// Each stream not named is this launcher's own. KIND is one of
//   null      the NULL handle
//   invalid   INVALID_HANDLE_VALUE
//   endless   (stdin) a pipe that stays open and empty until the program ends
//   versionget  (stdin) a pipe that stays open, given the one line
//             "versionget" once the reader of a leaving stdout has left
//   gone      (stdout) a pipe whose reader is gone before the program starts
//   file=PATH (stdout) a new file
//   leaves    (stdout) a pipe read until the program's first prompt, then
//             closed while the program waits for input
//   quit      (stdin) a pipe given the one line "quit" at the program's
//             first prompt, with --code-pages only
//   closed    (stdin) a pipe given the one line "versionget", its writer
//             closed before the program starts (a read past the line then
//             fails with ERROR_BROKEN_PIPE)
// With --keys=LINE, all streams its own, it types LINE, Enter, Ctrl-Z and
// Enter at the console it shares with the program, as a person would. In
// LINE, keys a terminal cannot send: '|' Enter, '<' Ctrl+Backspace, '@' é
// as Alt and the keypad's 0233 give it (on Alt's key-up), and '#' U+0101,
// which the ANSI code page cannot spell; and after a backslash: uXXXX and
// UXXXXXXXX a character by its code (two key events, a surrogate pair, past
// U+FFFF), L Left, W Alt+Left, B Backspace, D Delete, C Ctrl-L, *N the
// next key as one event with a repeat count of N, Ax Alt with the letter x,
// and . for events that
// mean nothing up to the next 128th, so that the keys before it and after it
// are read apart and drawn apart (the program reads at most 32 at a time,
// and all of them are there before it reads); _ at the end: no Enter,
// Ctrl-Z and Enter after LINE; =N at the start: the screen buffer made N
// columns wide first, once the program reads a line.
// With --screen=PATH, once the program ended, the console's rows up to the
// cursor's are written to PATH as UTF-8, a line each, blanks at the end cut.
// With --console-program it starts the console program beside PROGRAM (the
// same name ending in .com) on the console it shares with it (under the
// emulator, a console exists when a standard stream is a terminal); with
// --code-pages=IN,OUT it gives that console those input and output code
// pages first, and once the program ends writes
//   console code pages: IN OUT
// with the console's code pages then, after what the program wrote. Its
// standard output then goes through the launcher, which at the program's
// first prompt adds the line
//   console code pages at the prompt: IN OUT
// With --app-data=FOLDER the program gets that APPDATA (the emulator sets
// it from its own profile for a process a POSIX parent starts). Ctrl-C and
// Ctrl-Break at the console are the program's: the launcher waits on, as a
// shell does.
// PROGRAM may be a POSIX path, as the emulator's Z: drive shows it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

struct Stream {
    const char* option;
    DWORD standard;
    std::string_view kind;
};

HANDLE Inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return handle;
    }
    return copy;
}

std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        path = "Z:" + path;
    }
    return path;
}

void AddKey(INPUT_RECORD* records, DWORD& count, WCHAR character, WORD key, DWORD modifiers,
            WORD repeat = 1) {
    for (const BOOL down : {TRUE, FALSE}) {
        INPUT_RECORD& record = records[count++];
        record = INPUT_RECORD{};
        record.EventType = KEY_EVENT;
        record.Event.KeyEvent.bKeyDown = down;
        record.Event.KeyEvent.wRepeatCount = repeat;
        record.Event.KeyEvent.wVirtualKeyCode = key;
        record.Event.KeyEvent.uChar.UnicodeChar = character;
        record.Event.KeyEvent.dwControlKeyState = modifiers;
    }
}

// Makes the screen buffer `width` columns wide once the program's editor
// reads a line (line input and Ctrl-C's processing off, the mode it reads a
// line's keys in), so that the change reaches it as an event.
bool NarrowWhenEditing(HANDLE console, SHORT width) {
    DWORD mode = 0;
    while (GetConsoleMode(console, &mode) &&
           (mode & (ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT)) != 0) {
        SwitchToThread();
    }
    const HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(screen, &info)) {
        return false;
    }
    const SMALL_RECT window{0, 0, static_cast<SHORT>(width - 1),
                            static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top)};
    SetConsoleWindowInfo(screen, TRUE, &window);
    const bool narrowed = SetConsoleScreenBufferSize(screen, {width, info.dwSize.Y});
    CloseHandle(screen);
    return narrowed;
}

// LINE, Enter, Ctrl-Z, Enter as key presses on the console's input.
bool TypeLineThenCtrlZ(std::string_view line) {
    HANDLE console =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE || line.size() > 200) {
        return false;
    }
    if (line.starts_with("\\=")) {
        const auto width = static_cast<SHORT>(std::strtol(line.data() + 2, nullptr, 10));
        line.remove_prefix(std::min(line.find_first_not_of("0123456789", 2), line.size()));
        if (!NarrowWhenEditing(console, width)) {
            return false;
        }
    }
    INPUT_RECORD records[8192];
    DWORD count = 0;
    WORD repeat = 1;
    const bool ended = !line.ends_with("\\_");
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (count + 160 > std::size(records)) {
            return false;
        }
        if (c == '\\' && at + 1 < line.size()) {
            const char named = line[++at];
            const std::size_t digits = named == 'u' ? 4 : named == 'U' ? 8 : 0;
            if (named == '.') {
                while (count % 128 != 0) {
                    records[count] = INPUT_RECORD{};
                    records[count].EventType = KEY_EVENT;
                    records[count++].Event.KeyEvent.wVirtualKeyCode = VK_SHIFT;
                }
                continue;
            }
            if (named == 'A' && at + 1 < line.size()) {  // Alt with a letter
                const char letter = line[++at];
                AddKey(records, count, static_cast<WCHAR>(letter),
                       static_cast<WORD>(letter & ~0x20), LEFT_ALT_PRESSED);
                continue;
            }
            if (named == '*') {
                repeat = static_cast<WORD>(std::strtoul(line.data() + at + 1, nullptr, 10));
                at = line.find_first_not_of("0123456789", at + 1) - 1;
                continue;
            }
            if (digits > 0) {
                const unsigned long code =
                    std::strtoul(std::string(line.substr(at + 1, digits)).c_str(), nullptr, 16);
                at += digits;
                if (code > 0xffff) {
                    AddKey(records, count, static_cast<WCHAR>(0xd800 + ((code - 0x10000) >> 10)), 0,
                           0);
                }
                AddKey(records, count,
                       static_cast<WCHAR>(code > 0xffff ? 0xdc00 + (code & 0x3ff) : code), 0, 0,
                       repeat);
            } else {
                const struct {
                    char name;
                    WCHAR character;
                    WORD key;
                    DWORD modifiers;
                } named_keys[] = {{'L', 0, VK_LEFT, 0},
                                  {'W', 0, VK_LEFT, LEFT_ALT_PRESSED},
                                  {'B', 0x08, VK_BACK, 0},
                                  {'D', 0, VK_DELETE, 0},
                                  {'C', 0x0c, 'L', LEFT_CTRL_PRESSED}};
                for (const auto& key : named_keys) {
                    if (key.name == named) {
                        AddKey(records, count, key.character, key.key, key.modifiers, repeat);
                    }
                }
            }
            repeat = 1;
        } else if (c == '|') {
            AddKey(records, count, L'\r', VK_RETURN, 0);
        } else if (c == '<') {
            AddKey(records, count, 0x7f, VK_BACK, LEFT_CTRL_PRESSED);
        } else if (c == '#') {
            AddKey(records, count, 0x0101, 0, 0);
        } else if (c == '@') {
            AddKey(records, count, 0, VK_MENU, LEFT_ALT_PRESSED);
            for (const WORD digit : {VK_NUMPAD0, VK_NUMPAD2, VK_NUMPAD3, VK_NUMPAD3}) {
                AddKey(records, count, 0, digit, LEFT_ALT_PRESSED);
            }
            // Alt's key-up comes last and brings the character.
            INPUT_RECORD& alt_up = records[count - 9];
            alt_up.Event.KeyEvent.uChar.UnicodeChar = 0xe9;
            alt_up.Event.KeyEvent.dwControlKeyState = 0;
            std::rotate(&alt_up, &alt_up + 1, records + count);
        } else {
            AddKey(records, count, static_cast<WCHAR>(c), 0, 0, repeat);
            repeat = 1;
        }
    }
    if (ended) {
        AddKey(records, count, L'\r', VK_RETURN, 0);
        AddKey(records, count, 0x1A, 'Z', LEFT_CTRL_PRESSED);
        AddKey(records, count, L'\r', VK_RETURN, 0);
    }
    DWORD written = 0;
    const bool typed = WriteConsoleInputW(console, records, count, &written) && written == count;
    CloseHandle(console);
    return typed;
}

void WriteOut(std::string_view bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

// The console's rows up to the cursor's, as UTF-8 lines without their blanks
// at the end.
bool WriteScreen(const std::string& path) {
    const HANDLE console =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info) ||
        file == nullptr) {
        return false;
    }
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        WCHAR cells[1024];
        DWORD got = 0;
        ReadConsoleOutputCharacterW(console, cells, std::min<DWORD>(info.dwSize.X, 1024), {0, row},
                                    &got);
        while (got > 0 && cells[got - 1] == L' ') {
            --got;
        }
        char bytes[4 * 1024 + 1];
        const int length = WideCharToMultiByte(CP_UTF8, 0, cells, static_cast<int>(got), bytes,
                                               sizeof bytes - 1, nullptr, nullptr);
        bytes[std::max(length, 0)] = '\n';
        std::fwrite(bytes, 1, static_cast<std::size_t>(std::max(length, 0)) + 1, file);
    }
    std::fclose(file);
    CloseHandle(console);
    return true;
}

void WriteCodePages(const char* title) {
    char line[96];
    const int length = std::snprintf(line, sizeof line, "%s: %u %u\r\n", title, GetConsoleCP(),
                                     GetConsoleOutputCP());
    WriteOut({line, static_cast<std::size_t>(length)});
}

BOOL WINAPI LeaveStopKeysToTheProgram(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

int Fail(const char* what) {
    std::fprintf(stderr, "std_handles_launcher: %s failed, error %lu\n", what, GetLastError());
    return 125;
}

}  // namespace

int main(int argc, char** argv) {
    Stream streams[] = {{"--stdin=", STD_INPUT_HANDLE, {}},
                        {"--stdout=", STD_OUTPUT_HANDLE, {}},
                        {"--stderr=", STD_ERROR_HANDLE, {}}};
    SetConsoleCtrlHandler(LeaveStopKeysToTheProgram, TRUE);
    std::string_view keys;
    std::string screen;
    bool console_program = false;
    unsigned code_pages[2] = {};
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        for (Stream& stream : streams) {
            const std::size_t length = std::strlen(stream.option);
            if (std::strncmp(argv[first], stream.option, length) == 0) {
                stream.kind = argv[first] + length;
            }
        }
        if (std::strncmp(argv[first], "--keys=", 7) == 0) {
            keys = argv[first] + 7;
        }
        if (std::strncmp(argv[first], "--app-data=", 11) == 0 &&
            !SetEnvironmentVariableA("APPDATA", WindowsPath(argv[first] + 11).c_str())) {
            return Fail("SetEnvironmentVariable");
        }
        if (std::strncmp(argv[first], "--screen=", 9) == 0) {
            screen = WindowsPath(argv[first] + 9);
        }
        console_program = console_program || std::strcmp(argv[first], "--console-program") == 0;
        if (std::sscanf(argv[first], "--code-pages=%u,%u", &code_pages[0], &code_pages[1]) == 2 &&
            (!SetConsoleCP(code_pages[0]) || !SetConsoleOutputCP(code_pages[1]))) {
            return Fail("SetConsoleCP");
        }
    }
    if (first >= argc) {
        std::fprintf(stderr,
                     "usage: std_handles_launcher [--stdin=KIND]... [--keys=LINE] [--screen=PATH] "
                     "[--console-program] [--code-pages=IN,OUT] [--app-data=FOLDER] PROGRAM "
                     "[ARGUMENT]...\n");
        return 125;
    }

    HANDLE given[3] = {};
    HANDLE kept_open = nullptr;      // the writer of an endless input
    std::string_view answer;         // written to it once the prompt's reader left
    HANDLE prompt_pipe = nullptr;    // the reader that leaves at the first prompt
    HANDLE copied_output = nullptr;  // read through to the launcher's own
    for (int i = 0; i < 3; ++i) {
        // Read through the launcher, which notes the code pages at the prompt.
        const std::string_view kind =
            i == 1 && code_pages[0] != 0 ? std::string_view("copied") : streams[i].kind;
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        if (kind.empty()) {
            given[i] = Inheritable(GetStdHandle(streams[i].standard));
        } else if (kind == "null") {
            given[i] = nullptr;
        } else if (kind == "invalid") {
            given[i] = INVALID_HANDLE_VALUE;
        } else if (kind.starts_with("file=")) {
            SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
            given[i] = CreateFileA(WindowsPath(std::string(kind.substr(5))).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
        } else if (kind == "endless" || kind == "versionget" || kind == "quit" || kind == "gone" ||
                   kind == "leaves" || kind == "copied" || kind == "closed") {
            if (!CreatePipe(&read_end, &write_end, nullptr, 0)) {
                return Fail("CreatePipe");
            }
            const bool input = i == 0;
            given[i] = Inheritable(input ? read_end : write_end);
            CloseHandle(input ? read_end : write_end);
            HANDLE& kept = input ? write_end : read_end;
            if (kind == "closed") {
                DWORD written = 0;
                WriteFile(kept, "versionget\n", 11, &written, nullptr);
                CloseHandle(kept);
            } else if (input) {
                kept_open = kept;
                answer = kind == "versionget" ? "versionget\n" : kind == "quit" ? "quit\n" : "";
            } else if (kind == "copied") {
                copied_output = kept;
            } else if (kind == "leaves") {
                prompt_pipe = kept;
            } else {
                CloseHandle(kept);
            }
        } else {
            std::fprintf(stderr, "std_handles_launcher: unknown kind %.*s\n",
                         static_cast<int>(kind.size()), kind.data());
            return 125;
        }
    }

    std::string program = WindowsPath(argv[first]);
    if (console_program) {
        program = program.substr(0, program.rfind('.')) + ".com";
    }
    std::string command = "\"" + program + "\"";
    // The program's own arguments, as simple words.
    for (int i = first + 1; i < argc; ++i) {
        command += std::string(" \"") + argv[i] + "\"";
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = given[0];
    startup.hStdOutput = given[1];
    startup.hStdError = given[2];
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return Fail("CreateProcess");
    }
    for (HANDLE handle : given) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    if (!keys.empty() && !TypeLineThenCtrlZ(keys)) {
        return Fail("WriteConsoleInput");
    }
    if (prompt_pipe != nullptr) {
        std::string seen;
        char bytes[4096];
        DWORD got = 0;
        while (seen.find("\r\n> ") == std::string::npos &&
               ReadFile(prompt_pipe, bytes, sizeof bytes, &got, nullptr) && got > 0) {
            seen.append(bytes, got);
        }
        CloseHandle(prompt_pipe);
    }
    if (copied_output != nullptr) {
        std::string seen;
        char bytes[4096];
        DWORD got = 0;
        while (ReadFile(copied_output, bytes, sizeof bytes, &got, nullptr) && got > 0) {
            WriteOut({bytes, got});
            const bool first_prompt = seen.find("\r\n> ") == std::string::npos;
            seen.append(bytes, got);
            if (first_prompt && seen.find("\r\n> ") != std::string::npos) {
                WriteCodePages("console code pages at the prompt");
                if (kept_open != nullptr) {
                    DWORD written = 0;
                    WriteFile(kept_open, answer.data(), static_cast<DWORD>(answer.size()), &written,
                              nullptr);
                    answer = {};
                }
            }
        }
        CloseHandle(copied_output);
    }
    if (kept_open != nullptr && !answer.empty()) {
        DWORD written = 0;
        WriteFile(kept_open, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 125;
    GetExitCodeProcess(process.hProcess, &code);
    if (kept_open != nullptr) {
        CloseHandle(kept_open);
    }
    if (code_pages[0] != 0) {
        WriteCodePages("console code pages");
    }
    if (!screen.empty() && !WriteScreen(screen)) {
        return Fail("WriteScreen");
    }
    return static_cast<int>(code);
}
