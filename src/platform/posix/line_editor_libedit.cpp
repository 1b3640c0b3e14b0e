// The line editor on POSIX terminals, built on libedit.
#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/diagnostics.h"
#include "platform/line_editor.h"
#include "platform/posix/input_wake.h"
#include "platform/posix/terminal_modes.h"
#include "platform/run_state.h"

namespace {

constexpr int kHistoryEntries = 1000;
constexpr const char* kHistoryFileName = ".tunnelconsole_history";

struct Editor {
    EditLine* line = nullptr;
    History* command_lines = nullptr;  // kept in the history file
    History* no_lines = nullptr;       // what a field prompt recalls: nothing
    OutputLock output_lock{};
    // Written to when the line is to be drawn again: a message took it off
    // the screen, or the terminal came back or changed size.
    int redraw_pipe[2] = {-1, -1};
    std::array<char, 4096> history_path{};  // empty: no history file
    std::array<char, 256> prompt{};
    std::span<const std::string_view> command_names;
    std::mbstate_t key_state{};
    // Under the output lock: waiting for a key with the line on the screen,
    // and a message has taken the line off it.
    bool waiting = false;
    bool cleared = false;
    bool ended = false;
};

Editor editor;

// Set by signal handlers, acted on by the thread that reads keys.
std::atomic<bool> terminal_resized{false};
std::atomic<bool> terminal_resumed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void WakeForRedraw() {
    const char byte = 1;
    // A full pipe already wakes the reader.
    [[maybe_unused]] const ssize_t written = write(editor.redraw_pipe[1], &byte, 1);
}

void DrainRedrawPipe() {
    char drained[64];
    while (read(editor.redraw_pipe[0], drained, sizeof drained) > 0) {
    }
}

char* CurrentPrompt(EditLine*) {
    return editor.prompt.data();
}

// Where the cursor of a text drawn from `column` ends, as the editor draws
// it: a control character as ^X, a tab to the next multiple of eight.
int ColumnAfter(const wchar_t* from, const wchar_t* to, int column) {
    for (; from < to; ++from) {
        if (*from == L'\t') {
            column = (column / 8 + 1) * 8;
        } else if (*from < 0x20 || *from == 0x7f) {
            column += 2;
        } else {
            const int width = wcwidth(*from);
            column += width > 0 ? width : 1;
        }
    }
    return column;
}

const char* Capability(const char* name) {
    char* text = nullptr;
    if (el_get(editor.line, EL_GETTC, name, &text) != 0 || text == nullptr) {
        return "";
    }
    return text;
}

// Moves the cursor to the start of the prompt and clears from there down.
void EraseLine() {
    int columns = 0;
    if (el_get(editor.line, EL_GETTC, "co", &columns) != 0 || columns <= 0) {
        columns = 80;
    }
    const LineInfoW* typed = el_wline(editor.line);
    const int prompt_width = static_cast<int>(std::strlen(editor.prompt.data()));
    const int rows_above = ColumnAfter(typed->buffer, typed->cursor, prompt_width) / columns;
    std::fputs("\r", stdout);
    const char* up = Capability("up");
    for (int row = 0; row < rows_above && *up != '\0'; ++row) {
        std::fputs(up, stdout);
    }
    std::fputs(Capability("cd"), stdout);
    std::fflush(stdout);
}

// Draws the prompt and the line anew from the start of the cursor's row.
void RedrawIfAsked(EditLine* line) {
    const bool resized = terminal_resized.exchange(false);
    const bool resumed = terminal_resumed.exchange(false);
    if (resized) {
        el_resize(line);
    }
    if (editor.cleared || resumed) {
        editor.cleared = false;
        el_set(line, EL_REFRESH);
    }
}

// Reads one key. Waits without the output lock, so that messages are
// printed meanwhile, and holds it while the editor draws.
int ReadKey(EditLine* line, wchar_t* key) {
    for (;;) {
        if (RunShouldEnd()) {
            return 0;
        }
        std::fflush(stdout);
        const int stop_wake = OsInputWakeDescriptor();
        pollfd waits[3] = {
            {STDIN_FILENO, POLLIN, 0}, {editor.redraw_pipe[0], POLLIN, 0}, {stop_wake, POLLIN, 0}};
        editor.waiting = true;
        editor.output_lock.unlock();
        const int ready = poll(waits, stop_wake >= 0 ? 3 : 2, -1);
        editor.output_lock.lock();
        editor.waiting = false;
        if (waits[1].revents != 0) {
            DrainRedrawPipe();
        }
        RedrawIfAsked(line);
        if (ready <= 0 || waits[0].revents == 0) {
            continue;
        }
        char byte = 0;
        const ssize_t count = read(STDIN_FILENO, &byte, 1);
        if (count == 0) {
            return 0;
        }
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return -1;
        }
        wchar_t wide = 0;
        const std::size_t decoded = std::mbrtowc(&wide, &byte, 1, &editor.key_state);
        if (decoded == static_cast<std::size_t>(-2)) {
            continue;  // more bytes of the same character follow
        }
        if (decoded == static_cast<std::size_t>(-1)) {
            editor.key_state = {};  // not a character of the terminal's encoding
            continue;
        }
        *key = wide;
        return 1;
    }
}

// Tab at the command prompt: the text before the cursor grows to the longest
// start that the command names matching it share; when several match, they
// are listed below and the line is drawn again under them. A field prompt
// takes a tab as typed.
unsigned char CompleteCommandName(EditLine* line, int) {
    if (editor.command_names.empty()) {
        return el_insertstr(line, "\t") == 0 ? CC_REFRESH : CC_ERROR;
    }
    const LineInfo* typed = el_line(line);
    const std::string_view start(typed->buffer,
                                 static_cast<std::size_t>(typed->cursor - typed->buffer));
    std::string_view first;
    std::size_t shared = 0;
    int matches = 0;
    for (const std::string_view name : editor.command_names) {
        if (!name.starts_with(start)) {
            continue;
        }
        if (matches++ == 0) {
            first = name;
            shared = name.size();
        }
        while (shared > 0 && name.substr(0, shared) != first.substr(0, shared)) {
            --shared;
        }
    }
    if (matches == 0) {
        return CC_ERROR;
    }
    if (shared > start.size()) {
        std::array<char, 64> rest{};
        first.substr(start.size(), shared - start.size()).copy(rest.data(), rest.size() - 1);
        el_insertstr(line, rest.data());
    }
    if (matches == 1) {
        return CC_REFRESH;
    }
    int columns = 0;
    if (el_get(line, EL_GETTC, "co", &columns) != 0 || columns <= 0) {
        columns = 80;
    }
    std::fputs("\r\n", stdout);
    int column = 0;
    for (const std::string_view name : editor.command_names) {
        if (!name.starts_with(start)) {
            continue;
        }
        const int width = static_cast<int>(name.size());
        if (column > 0 && column + 2 + width >= columns) {
            std::fputs("\r\n", stdout);
            column = 0;
        } else if (column > 0) {
            std::fputs("  ", stdout);
            column += 2;
        }
        std::fwrite(name.data(), 1, name.size(), stdout);
        column += width;
    }
    std::fputs("\r\n", stdout);
    el_set(line, EL_REFRESH);
    return CC_NORM;
}

// Ctrl-D: the end of input on an empty line, shown as nothing (the editor's
// own would echo ^D); elsewhere it deletes the character under the cursor.
unsigned char EndOrDelete(EditLine* line, int) {
    const LineInfo* typed = el_line(line);
    if (typed->buffer == typed->lastchar) {
        return CC_EOF;
    }
    if (typed->cursor == typed->lastchar) {
        return CC_ERROR;
    }
    el_cursor(line, 1);
    el_deletestr(line, 1);
    return CC_REFRESH;
}

// The history file, shared by every session in one home: each adds its own
// command lines at the end under a lock, and it is cut back to the last
// kHistoryEntries now and then. A file that is not one is never written.
constexpr std::string_view kHistoryHeader = "_HiStOrY_V2_\n";
// A line longer than a command line is no command line: dropped on reading.
constexpr std::size_t kHistoryLineCapacity = 256;
// Cut back when a session has added this many more, so that a save rewrites
// the file only now and then.
constexpr int kHistorySlack = 100;
constexpr off_t kHistoryMostBytes = static_cast<off_t>(
    kHistoryHeader.size() + (kHistoryEntries + kHistorySlack) * kHistoryLineCapacity);

using HistoryLine = std::array<char, kHistoryLineCapacity>;

struct HistoryFileState {
    bool exists = false;   // found, or made by this session
    bool trimmed = false;  // cut back once by this session
};
HistoryFileState history_file;

// What the file keeps when it is cut back: its last lines.
std::array<char, kHistoryEntries * kHistoryLineCapacity> kept_history;

void ReportHistoryProblem(const char* doing, const char* why) {
    ReportProblem("history file %s was not %s: %s", editor.history_path.data(), doing, why);
    // One line says so; the session goes on without the file.
    editor.history_path[0] = '\0';
}

// Calls `take` with each line after the header that fits a command line
// (its text, no line break). False when a read fails.
template <typename Take>
bool ForEachHistoryLine(int file, Take take) {
    std::array<char, 4096> chunk;
    HistoryLine line{};
    std::size_t length = 0;
    bool too_long = false;
    off_t offset = static_cast<off_t>(kHistoryHeader.size());
    for (;;) {
        const ssize_t count = pread(file, chunk.data(), chunk.size(), offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;  // a last line without a line break is not complete
        }
        offset += count;
        for (const char byte : std::string_view(chunk.data(), static_cast<std::size_t>(count))) {
            if (byte != '\n') {
                too_long = too_long || length == line.size() - 1;
                if (!too_long) {
                    line[length++] = byte;
                }
                continue;
            }
            if (!too_long && length > 0) {
                line[length] = '\0';
                take(std::string_view(line.data(), length));
            }
            length = 0;
            too_long = false;
        }
    }
}

bool HasHistoryHeader(int file) {
    std::array<char, kHistoryHeader.size()> start{};
    return pread(file, start.data(), start.size(), 0) == static_cast<ssize_t>(start.size()) &&
           std::string_view(start.data(), start.size()) == kHistoryHeader;
}

bool WriteAll(int file, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = write(file, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// Cuts the file, held under its lock, back to its last kHistoryEntries
// lines, in place: a link, the owner and the permissions stay as they are.
bool TrimHistoryFile(int file) {
    int lines = 0;
    if (!ForEachHistoryLine(file, [&](std::string_view) { ++lines; })) {
        return false;
    }
    int skipped = 0;
    std::size_t kept = 0;
    const bool read = ForEachHistoryLine(file, [&](std::string_view line) {
        if (skipped < lines - kHistoryEntries) {
            ++skipped;
            return;
        }
        kept += line.copy(kept_history.data() + kept, kept_history.size() - kept - 1);
        kept_history[kept++] = '\n';
    });
    return read && ftruncate(file, 0) == 0 && WriteAll(file, kHistoryHeader) &&
           WriteAll(file, std::string_view(kept_history.data(), kept));
}

// Whether the file needs cutting back: it holds more lines than are kept
// and this session has not cut it yet, or it has grown by the slack since.
bool HistoryFileTooLong(int file, off_t size) {
    if (size > kHistoryMostBytes) {
        return true;
    }
    int lines = 0;
    static_cast<void>(ForEachHistoryLine(file, [&](std::string_view) { ++lines; }));
    return lines > kHistoryEntries + (history_file.trimmed ? kHistorySlack : 0);
}

void LoadHistory() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        ReportProblem("command lines are not kept: HOME is not set");
        return;
    }
    const int length = std::snprintf(editor.history_path.data(), editor.history_path.size(),
                                     "%s/%s", home, kHistoryFileName);
    if (length < 0 || static_cast<std::size_t>(length) >= editor.history_path.size()) {
        ReportProblem("command lines are not kept: HOME is too long");
        editor.history_path[0] = '\0';
        return;
    }
    struct stat named {};
    struct stat found {};
    const bool is_link = lstat(editor.history_path.data(), &named) == 0 && S_ISLNK(named.st_mode);
    if (stat(editor.history_path.data(), &found) != 0) {
        if (errno != ENOENT) {
            ReportHistoryProblem("read", std::strerror(errno));
        } else if (is_link) {
            editor.history_path[0] = '\0';  // a link to nothing: no history, quietly
        }
        return;
    }
    // A link to a device or to anything but a file turns the history off.
    if (!S_ISREG(found.st_mode)) {
        if (is_link) {
            editor.history_path[0] = '\0';
        } else {
            ReportHistoryProblem("read", S_ISDIR(found.st_mode) ? std::strerror(EISDIR)
                                                                : "it is not a regular file");
        }
        return;
    }
    const int file = open(editor.history_path.data(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    if (file < 0 || fstat(file, &opened) != 0) {
        ReportHistoryProblem("read", std::strerror(errno));
    } else if (!S_ISREG(opened.st_mode)) {
        editor.history_path[0] = '\0';
    } else if (opened.st_size != 0 && !HasHistoryHeader(file)) {
        ReportHistoryProblem("read", "it is not a history file");
    } else {
        HistEvent event;
        if (!ForEachHistoryLine(file, [&](std::string_view line) {
                history(editor.command_lines, &event, H_ENTER, line.data());
            })) {
            ReportHistoryProblem("read", std::strerror(errno));
        }
        history_file.exists = true;
    }
    if (file >= 0) {
        close(file);
    }
}

// Opens the history file for adding to it; made private from its first
// byte when this session is the first to keep one.
int OpenHistoryFile() {
    if (!history_file.exists) {
        const int made = open(editor.history_path.data(),
                              O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (made >= 0 || errno != EEXIST) {
            return made;
        }
        // Made meanwhile by another session, or a link laid meanwhile.
    }
    return open(editor.history_path.data(), O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC);
}

// Adds `line` at the end of the history file, under its lock.
void SaveHistory(std::string_view line) {
    if (editor.history_path[0] == '\0') {
        return;
    }
    const int file = OpenHistoryFile();
    struct stat info {};
    if (file < 0 || fstat(file, &info) != 0) {
        ReportHistoryProblem("written", std::strerror(errno));
        if (file >= 0) {
            close(file);
        }
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        editor.history_path[0] = '\0';
        close(file);
        return;
    }
    while (flock(file, LOCK_EX) != 0 && errno == EINTR) {
    }
    history_file.exists = true;
    HistoryLine entry{};
    const std::size_t length = line.copy(entry.data(), entry.size() - 1);
    entry[length] = '\n';
    if (fstat(file, &info) != 0) {
        ReportHistoryProblem("written", std::strerror(errno));
    } else if (info.st_size != 0 && !HasHistoryHeader(file)) {
        ReportHistoryProblem("written", "it is not a history file");
    } else if ((info.st_size == 0 && !WriteAll(file, kHistoryHeader)) ||
               !WriteAll(file, std::string_view(entry.data(), length + 1))) {
        ReportHistoryProblem("written", std::strerror(errno));
    } else if (fstat(file, &info) == 0 && HistoryFileTooLong(file, info.st_size)) {
        if (!TrimHistoryFile(file)) {
            ReportHistoryProblem("written", std::strerror(errno));
        }
        history_file.trimmed = true;
    }
    close(file);  // lets go of the lock
}

bool NamesCommand(std::string_view text, std::span<const std::string_view> names) {
    for (const std::string_view name : names) {
        if (name == text) {
            return true;
        }
    }
    return false;
}

// Ctrl-\ ends the process as it would without this handler, on a terminal
// put back as it was found.
void OnQuitSignal(int signal_number) {
    RestoreTerminalModes();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Ctrl-Z: the shell gets the terminal back as it was found; once continued,
// the editor's modes return and the line is drawn anew.
void OnSuspendSignal(int signal_number) {
    const int saved_errno = errno;
    termios editing{};
    const bool editing_saved = tcgetattr(STDIN_FILENO, &editing) == 0;
    RestoreTerminalModes();
    signal(signal_number, SIG_DFL);
    sigset_t this_signal;
    sigemptyset(&this_signal);
    sigaddset(&this_signal, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &this_signal, nullptr);
    raise(signal_number);
    // Continued.
    pthread_sigmask(SIG_BLOCK, &this_signal, nullptr);
    signal(signal_number, OnSuspendSignal);
    if (editing_saved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &editing);
    }
    terminal_resumed.store(true);
    WakeForRedraw();
    errno = saved_errno;
}

void OnResizeSignal(int) {
    const int saved_errno = errno;
    terminal_resized.store(true);
    WakeForRedraw();
    errno = saved_errno;
}

void WatchTerminalSignals() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = OnQuitSignal;
    sigaction(SIGQUIT, &action, nullptr);
    action.sa_handler = OnSuspendSignal;
    sigaction(SIGTSTP, &action, nullptr);
    action.sa_handler = OnResizeSignal;
    sigaction(SIGWINCH, &action, nullptr);
}

}  // namespace

bool LineEditorStart(OutputLock output_lock) {
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1 || !SaveTerminalModes()) {
        return false;
    }
    if (pipe2(editor.redraw_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    // Keys arrive in the terminal's encoding.
    std::setlocale(LC_CTYPE, "");
    editor.line = el_init("tunnelconsole", stdin, stdout, stderr);
    editor.command_lines = history_init();
    editor.no_lines = history_init();
    if (editor.line == nullptr || editor.command_lines == nullptr || editor.no_lines == nullptr) {
        return false;
    }
    // A terminal that cannot move the cursor up and clear what lies below it
    // (TERM dumb, unset or unknown) cannot have the typed line taken off for
    // a message and drawn again: it is read as a pipe is, with the modes the
    // editor's set-up changed put back.
    if (*Capability("up") == '\0' || *Capability("cd") == '\0') {
        RestoreTerminalModes();
        return false;
    }
    editor.output_lock = output_lock;
    el_set(editor.line, EL_EDITOR, "emacs");
    // Stop requests are the program's own (run_state.h).
    el_set(editor.line, EL_SIGNAL, 0);
    el_set(editor.line, EL_PROMPT, CurrentPrompt);
    el_set(editor.line, EL_GETCFN, ReadKey);
    el_set(editor.line, EL_ADDFN, "tc-complete-command", "Complete a command name",
           CompleteCommandName);
    el_set(editor.line, EL_BIND, "^I", "tc-complete-command", nullptr);
    el_set(editor.line, EL_ADDFN, "tc-end-or-delete", "End the input, or delete a character",
           EndOrDelete);
    el_set(editor.line, EL_BIND, "^D", "tc-end-or-delete", nullptr);
    // From now until the run ends the terminal stays as it is while a key is
    // awaited, between lines too: no canonical mode, in which a Ctrl-D typed
    // just before or after a line turns into an end-of-file mark read back as
    // a NUL, and no echo, which would draw keys typed ahead a second time.
    // Ctrl-C and the other signal keys act throughout. This sets the modes at
    // once, before the first prompt is drawn.
    if (el_set(editor.line, EL_SETTY, "-x", "-icanon", "-echo", "-iexten", "min=^A",
               "time=", nullptr) != 0) {
        RestoreTerminalModes();
        return false;
    }
    std::atexit(RestoreTerminalModes);
    HistEvent event;
    history(editor.command_lines, &event, H_SETSIZE, kHistoryEntries);
    history(editor.command_lines, &event, H_SETUNIQUE, 1);
    LoadHistory();
    WatchTerminalSignals();
    return true;
}

std::optional<std::string_view> LineEditorReadLine(std::string_view prompt,
                                                   std::span<const std::string_view> command_names,
                                                   std::span<char> line) {
    if (editor.ended || line.empty()) {
        return std::nullopt;
    }
    editor.prompt.fill('\0');
    prompt.copy(editor.prompt.data(), editor.prompt.size() - 1);
    editor.command_names = command_names;
    el_set(editor.line, EL_HIST, history,
           command_names.empty() ? editor.no_lines : editor.command_lines);
    // A return to the shell while a command ran leaves nothing to draw again:
    // the prompt is drawn anew.
    terminal_resumed.store(false);

    editor.output_lock.lock();
    int count = 0;
    const char* typed = el_gets(editor.line, &count);
    // A line typed before a stop request or the end of input is not run.
    if (typed == nullptr || count <= 0 || RunShouldEnd()) {
        editor.ended = true;
        // The shell's prompt that follows starts a line of its own.
        std::fputs("\r\n", stdout);
    }
    std::fflush(stdout);
    editor.output_lock.unlock();
    if (editor.ended) {
        return std::nullopt;
    }

    // In bytes: the count is in characters in some versions of the editor.
    std::string_view text(typed, std::strlen(typed));
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    // The text rules: a byte 0x1A ends the input, after the line before it.
    if (const std::size_t end = text.find('\x1a'); end != std::string_view::npos) {
        editor.ended = true;
        if (end == 0) {
            return std::nullopt;
        }
        text = text.substr(0, end);
    }
    const std::size_t stored = text.copy(line.data(), line.size() - 1);
    line[stored] = '\0';
    const std::string_view result(line.data(), stored);
    if (NamesCommand(result, command_names)) {
        // A command repeated at once is kept once, in the file as here.
        HistEvent event;
        const bool repeated = history(editor.command_lines, &event, H_FIRST) == 0 &&
                              event.str != nullptr && result == event.str;
        if (!repeated) {
            history(editor.command_lines, &event, H_ENTER, line.data());
            SaveHistory(result);
        }
    }
    return result;
}

bool LineEditorClearLine() {
    if (!editor.waiting) {
        return false;
    }
    if (!editor.cleared) {
        EraseLine();
        editor.cleared = true;
        WakeForRedraw();
    }
    return true;
}
