#include "startup/program_options.h"

#include <array>
#include <initializer_list>
#include <string_view>

#include "commands/command_table.h"
#include "platform/os_console.h"
#include "platform/os_user_conventions.h"
#include "run/diagnostics.h"
#include "run/run_state.h"
#include "startup/startup.h"
#include "text/text_stream.h"

namespace {

// The usage text around the command table's own lines. README shows it as
// it stands, so a change here is a change there.
constexpr std::string_view kUsageHead =
    "Usage: tunnelconsole [-e] [-q]\n"
    "       tunnelconsole -h | -V\n"
    "\n"
    "Reads commands from standard input, one a line, hands each to the tunnel\n"
    "library veskDllTunnel and prints what it returns. Without options every\n"
    "command prompts for its fields and the exit status is 0.\n"
    "\n"
    "Options:\n"
    "  -e, --exit-on-error  end the run at the first failure, with status 1\n"
    "  -q, --quiet          print no prompts, neither \"> \" nor the fields'\n"
    "  -h, --help           print this help and exit (on Windows also /?)\n"
    "  -V, --version        print the version and exit\n"
    "Of -h and -V the first given is done. Any other argument is ignored and\n"
    "named on standard error, and the run goes on as without it.\n"
    "\n"
    "Files beside the program:\n"
    "  config.ini  read only: device_id in section [config]\n"
    "  tunnel.cfg  rewritten at each start so that its Home item names Home\n"
    "  Home        the library's folder, made by the library\n"
    "Unpack the program into a folder you may write, such as\n"
    "%LOCALAPPDATA%\\Programs\\tunnelconsole on Windows or ~/tunnelconsole on\n"
    "Linux.\n"
    "\n"
    "Commands, and the fields each asks for, one line each:\n";

constexpr std::string_view kUsageTail =
    "Any other line prints the list of commands; with -e it is a failure.\n"
    "\n"
    "Exit status:\n"
    "  0           quit, the end of input, or a reader of standard output\n"
    "              that went away (as with | head); a session without -e\n"
    "              always ends with 0\n"
    "  1           the help or the version not written; with -e: tunnel.cfg\n"
    "              not rewritten, the library not started, a command's\n"
    "              failure line, a line that is no command, or standard\n"
    "              input or output failed\n"
    "  128+N       with -e on Linux: ended by signal N (Ctrl-C 130)\n"
    "  3221225786  with -e on Windows: ended by Ctrl-C, Ctrl-Break or the\n"
    "              console's closing (0xC000013A)\n"
    "Ctrl-C at a terminal or console drops the line being typed, or stops the\n"
    "command that runs at its next safe point (testconnect deletes what it\n"
    "added) and gives the prompt back. Ctrl-C again is the same request; only\n"
    "while a library call has not returned for a second after a Ctrl-C does\n"
    "the next end the run at once. Ctrl-\\ (Linux), Ctrl-Break (Windows),\n"
    "closing the window, SIGTERM and SIGHUP end the run: the library is\n"
    "stopped once and the exit status is 0 (with -e, the signal's status).\n"
    "From a pipe or a file, Ctrl-C ends the run as they do.\n";

constexpr std::string_view kVersionLine = "tunnelconsole " TUNNEL_VERSION "\n";

constexpr int kOutputFailedStatus = 1;

// Writes `text` to standard output with every LF as CR LF, as all output
// goes, without setting up the console for a session. Returns the exit
// status: 1 when the text was lost, said on standard error; 0 when written,
// or when the reader went away, as `| head` does.
int WriteOut(std::string_view text) {
    std::array<char, 512> staged;
    while (!text.empty()) {
        const StagedText step = StageText(text, staged);
        if (const int error = OsWriteStandardOutput(staged.data(), step.stored); error != 0) {
            NoteOutputLost(error);
            return StandardStreamFailed() ? kOutputFailedStatus : 0;
        }
        text.remove_prefix(step.taken);
    }
    return 0;
}

int PrintUsage() {
    std::array<char, 4096> text;
    std::size_t length = kUsageHead.copy(text.data(), text.size());
    length += WriteCommandUsage(std::span(text).subspan(length));
    length += kUsageTail.copy(text.data() + length, text.size() - length);
    return WriteOut(std::string_view(text.data(), length));
}

// What one argument asks for, as the letters of its short form: "eq" for
// -eq or for --exit-on-error then --quiet. Empty when it is no option.
std::string_view OptionLetters(std::string_view argument) {
    constexpr std::string_view kLetters = "eqhV";
    constexpr std::array<std::string_view, 4> kLongForms = {"--exit-on-error", "--quiet", "--help",
                                                            "--version"};
    for (std::size_t i = 0; i < kLongForms.size(); ++i) {
        if (argument == kLongForms[i]) {
            return kLetters.substr(i, 1);
        }
    }
    if (IsPlatformHelpSwitch(argument)) {
        return "h";
    }
    // A mistyped letter makes the whole argument a mistake: none of it is
    // taken, so that the run is the run without it.
    if (argument.size() < 2 || argument[0] != '-' || argument[1] == '-' ||
        argument.find_first_not_of(kLetters, 1) != std::string_view::npos) {
        return {};
    }
    return argument.substr(1);
}

// The arguments that are no option, each as typed (quoted when it holds a
// blank or nothing) and separated by blanks, cut to what fits.
struct IgnoredArguments {
    std::array<char, 1024> text;
    std::size_t length = 0;
};

void AddIgnored(IgnoredArguments& ignored, std::string_view argument) {
    const bool quoted = argument.empty() || argument.find(' ') != std::string_view::npos;
    for (const std::string_view piece : std::initializer_list<std::string_view>{
             ignored.length == 0 ? "" : " ", quoted ? "\"" : "", argument, quoted ? "\"" : ""}) {
        ignored.length +=
            piece.copy(ignored.text.data() + ignored.length, ignored.text.size() - ignored.length);
    }
}

}  // namespace

int RunFromProgramOptions(int argc, char** argv) {
    // Untranslated bytes before anything is written.
    OsConsoleInit();
    SessionOptions options;
    // Help or the version, whichever is given first.
    char asked = '\0';
    IgnoredArguments ignored;
    // After "--", as by the usual convention, every argument is one.
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        if (!options_ended && std::string_view(argv[i]) == "--") {
            options_ended = true;
            continue;
        }
        const std::string_view letters = options_ended ? "" : OptionLetters(argv[i]);
        if (letters.empty()) {
            AddIgnored(ignored, argv[i]);
        }
        for (const char letter : letters) {
            if (letter == 'e') {
                options.exit_on_error = true;
            } else if (letter == 'q') {
                options.quiet = true;
            } else if (asked == '\0') {
                asked = letter;
            }
        }
    }
    // Said first, so that a mistyped option is seen whatever follows.
    if (ignored.length != 0) {
        ReportProblem("ignored: %.*s", static_cast<int>(ignored.length), ignored.text.data());
    }
    if (asked == 'h') {
        return PrintUsage();
    }
    if (asked == 'V') {
        return WriteOut(kVersionLine);
    }
    return RunTunnelConsole(options);
}
