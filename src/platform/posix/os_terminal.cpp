// A terminal for the line editor: its modes (no canonical mode and no echo
// for the whole run, Ctrl-C a key only while a line is typed), its signals
// (Ctrl-Z hands the terminal back to the shell as
// it was found, a change of size is drawn again), and waits for bytes beside
// the wake latch and a pipe that wakes the reader for a message.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "platform/os_console.h"
#include "platform/os_run_state.h"
#include "platform/os_terminal.h"
#include "platform/posix/input_wait_descriptors.h"
#include "platform/posix/terminal_modes.h"

namespace {

// The modes the editor reads keys in, with Ctrl-C a stop request.
termios editing_modes{};
bool editing = false;
TextKind text_kind = TextKind::kAscii;
// The locale's character type, for the text typed; the program's own locale
// stays "C".
locale_t text_locale = static_cast<locale_t>(0);

// Written to wake the reader: a message, a return from the shell, a resize.
int reader_wake[2] = {-1, -1};
std::atomic<bool> terminal_resized{false};
std::atomic<bool> terminal_resumed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// How long a lone ESC byte waits for the rest of a key's sequence.
constexpr int kEscapeMilliseconds = 50;

void WakeReader() {
    const char byte = 1;
    // A full pipe already wakes the reader.
    [[maybe_unused]] const ssize_t written = write(reader_wake[1], &byte, 1);
}

// Ctrl-Z: the shell gets the terminal back as it was found; once continued,
// the editor's modes return and the line is drawn anew.
void OnSuspendSignal(int signal_number) {
    const int saved_errno = errno;
    termios current{};
    const bool current_saved = tcgetattr(STDIN_FILENO, &current) == 0;
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
    if (current_saved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &current);
    }
    terminal_resumed.store(true);
    WakeReader();
    errno = saved_errno;
}

void OnResizeSignal(int) {
    const int saved_errno = errno;
    terminal_resized.store(true);
    WakeReader();
    errno = saved_errno;
}

void WatchTerminalSignals() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = OnSuspendSignal;
    sigaction(SIGTSTP, &action, nullptr);
    action.sa_handler = OnResizeSignal;
    sigaction(SIGWINCH, &action, nullptr);
}

bool HasTerminfoEntry(const char* folder, std::string_view term) {
    if (folder == nullptr || *folder == '\0') {
        return false;
    }
    char path[4096];
    struct stat found {};
    // Entries go in a folder named for their first letter, or its code in hex.
    for (const char* format : {"%s/%c/%.*s", "%s/%x/%.*s"}) {
        const int length = std::snprintf(path, sizeof path, format, folder, term[0],
                                         static_cast<int>(term.size()), term.data());
        if (length > 0 && static_cast<std::size_t>(length) < sizeof path &&
            stat(path, &found) == 0) {
            return true;
        }
    }
    return false;
}

// A terminal the editor can draw on: TERM names one that the system
// describes, and that is no dumb terminal, which cannot move the cursor up
// and clear what lies below it.
bool TerminalKnown() {
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::string_view(term) == "dumb" ||
        std::strchr(term, '/') != nullptr) {
        return false;
    }
    char home_folder[4096];
    const char* home = std::getenv("HOME");
    std::snprintf(home_folder, sizeof home_folder, "%s/.terminfo", home != nullptr ? home : "");
    const char* const folders[] = {std::getenv("TERMINFO"),
                                   home_folder,
                                   "/etc/terminfo",
                                   "/lib/terminfo",
                                   "/usr/share/terminfo",
                                   "/usr/lib/terminfo",
                                   "/usr/local/share/terminfo"};
    for (const char* folder : folders) {
        if (HasTerminfoEntry(folder, term)) {
            return true;
        }
    }
    return false;
}

// The encoding the locale gives typed bytes, asked once.
TextKind FindTextKind() {
    text_locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (text_locale == static_cast<locale_t>(0)) {
        return TextKind::kAscii;
    }
    const std::string_view codeset = nl_langinfo_l(CODESET, text_locale);
    return codeset == "UTF-8"                                       ? TextKind::kUtf8
           : codeset.starts_with("ANSI_X3.4") || codeset == "ASCII" ? TextKind::kAscii
                                                                    : TextKind::kCodePage;
}

void SetModes(const termios& modes) {
    while (tcsetattr(STDIN_FILENO, TCSANOW, &modes) != 0 && errno == EINTR) {
    }
}

}  // namespace

bool OsTerminalStart() {
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1 || !TerminalKnown() ||
        !SaveTerminalModes() || tcgetattr(STDIN_FILENO, &editing_modes) != 0) {
        return false;
    }
    if (pipe2(reader_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    text_kind = FindTextKind();
    // From now until the run ends the terminal stays so, between lines too:
    // no canonical mode, in which a Ctrl-D typed just before or after a line
    // turns into an end-of-file mark, and no echo, which would draw keys
    // typed ahead a second time. The signal keys act throughout.
    editing_modes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | IEXTEN));
    editing_modes.c_cc[VMIN] = 1;
    editing_modes.c_cc[VTIME] = 0;
    std::atexit(RestoreTerminalModes);
    SetModes(editing_modes);
    WatchTerminalSignals();
    editing = true;
    return true;
}

bool OsInputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool OsEchoOff() {
    termios modes{};
    if (editing || isatty(STDIN_FILENO) != 1 || !SaveTerminalModes() ||
        tcgetattr(STDIN_FILENO, &modes) != 0) {
        return false;
    }
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(RestoreTerminalModes);
    }
    // The line break still shows, as getpass draws it.
    modes.c_lflag &= static_cast<tcflag_t>(~ECHO);
    modes.c_lflag |= ECHONL;
    SetModes(modes);
    return true;
}

void OsEchoRestore() {
    RestoreTerminalModes();
}

TextKind OsTerminalText() {
    return text_kind;
}

TextCharacter OsTextCharacter(std::string_view text) {
    if (text.empty() || text_locale == static_cast<locale_t>(0)) {
        return {};
    }
    const locale_t previous = uselocale(text_locale);
    std::mbstate_t state{};
    wchar_t character = 0;
    const std::size_t length = std::mbrtowc(&character, text.data(), text.size(), &state);
    TextCharacter found;
    // A byte that starts no whole character stands alone, one cell wide, as
    // a terminal shows it; a character the text's end cuts off spans the
    // rest, so that a field cut there never keeps a part of it.
    if (length != 0 && length <= text.size()) {
        found.bytes = length;
        const int width = wcwidth(character);
        found.cells = width < 0 ? 1 : static_cast<std::size_t>(width);
    } else if (length == static_cast<std::size_t>(-2)) {
        found.bytes = text.size();
    }
    uselocale(previous);
    return found;
}

int OsTerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return 80;
    }
    return size.ws_col;
}

void OsTerminalLineBegins() {
    termios modes = editing_modes;
    modes.c_cc[VINTR] = _POSIX_VDISABLE;
    SetModes(modes);
}

void OsTerminalLineEnds() {
    SetModes(editing_modes);
}

TerminalRead OsTerminalWait(std::span<char> bytes, std::span<ConsoleKey>, bool escape_pending) {
    for (;;) {
        if (OsInputWaitWoken()) {
            return {TerminalInput::kStopped, 0};
        }
        if (terminal_resumed.exchange(false)) {
            return {TerminalInput::kResumed, 0};
        }
        if (terminal_resized.exchange(false)) {
            return {TerminalInput::kResized, 0};
        }
        const int stop_wake = OsInputWakeDescriptor();
        pollfd waits[3] = {
            {STDIN_FILENO, POLLIN, 0}, {reader_wake[0], POLLIN, 0}, {stop_wake, POLLIN, 0}};
        const int ready =
            poll(waits, stop_wake >= 0 ? 3 : 2, escape_pending ? kEscapeMilliseconds : -1);
        if (ready == 0) {
            return {TerminalInput::kQuiet, 0};
        }
        if (ready < 0) {
            continue;  // a signal: the flags above say which
        }
        const bool woken = waits[1].revents != 0;
        if (woken) {
            char drained[64];
            while (read(reader_wake[0], drained, sizeof drained) > 0) {
            }
            // Keys that came too are read now: a flood of messages, each
            // batch of them waking the reader, must not keep keys waiting.
            // The console writes what was handed off after any wait.
            if (terminal_resumed.load() || terminal_resized.load()) {
                continue;
            }
            if (waits[0].revents == 0) {
                return {TerminalInput::kWoken, 0};
            }
        }
        if (waits[0].revents == 0) {
            continue;
        }
        const ssize_t count = read(STDIN_FILENO, bytes.data(), bytes.size());
        if (count > 0) {
            return {TerminalInput::kBytes, static_cast<std::size_t>(count)};
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (woken) {
                return {TerminalInput::kWoken, 0};
            }
            continue;
        }
        return {TerminalInput::kEnded, 0};
    }
}

std::size_t OsTerminalReadWithin(std::span<char> bytes, int milliseconds) {
    pollfd wait = {STDIN_FILENO, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&wait, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    if (ready <= 0) {
        return 0;
    }
    const ssize_t count = read(STDIN_FILENO, bytes.data(), bytes.size());
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

void OsTerminalWakeReader() {
    if (reader_wake[1] >= 0) {
        WakeReader();
    }
}

int OsTerminalDraw(const TerminalDrawing& drawing) {
    return OsWriteStandardOutput(drawing.vt_bytes.data(), drawing.vt_bytes.size());
}
