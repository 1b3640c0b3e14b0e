#include "startup/command_line.h"

#include <getopt.h>

#include <array>
#include <string_view>

#include "commands/command_table.h"
#include "console/text_stream.h"
#include "platform/os_console.h"
#include "platform/os_system.h"
#include "run/diagnostics.h"
#include "run/run_state.h"
#include "startup/startup.h"

namespace {

constexpr int kUsageErrorStatus = 2;

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
    "  2           an option or argument not understood; nothing was run\n"
    "  128+N       with -e on Linux: ended by signal N (Ctrl-C 130)\n"
    "  3221225786  with -e on Windows: ended by Ctrl-C, Ctrl-Break or the\n"
    "              console's closing (0xC000013A)\n"
    "Ctrl-C at a terminal or console drops the line being typed, or stops the\n"
    "command that runs and gives the prompt back; a second Ctrl-C while the\n"
    "same command runs ends the run at once. Ctrl-\\ (Linux), Ctrl-Break\n"
    "(Windows), closing the window, SIGTERM and SIGHUP end the run: the\n"
    "library is stopped once and the exit status is 0 (with -e, the signal's\n"
    "status). From a pipe or a file, Ctrl-C ends the run as they do.\n";

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

constexpr std::array<option, 5> kLongOptions = {{
    {"exit-on-error", no_argument, nullptr, 'e'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
}};

}  // namespace

int RunFromCommandLine(int argc, char** argv) {
    // Untranslated bytes before anything is written, a usage error included.
    OsConsoleInit();
    SessionOptions options;
    bool help = false;
    bool version = false;
    // getopt_long reports nothing itself, and stops at the first argument
    // that is not an option.
    opterr = 0;
    for (;;) {
        const int element = optind;
        const int found = getopt_long(argc, argv, "+eqhV", kLongOptions.data(), nullptr);
        if (found == -1) {
            break;
        }
        switch (found) {
            case 'e':
                options.exit_on_error = true;
                break;
            case 'q':
                options.quiet = true;
                break;
            case 'h':
                help = true;
                break;
            case 'V':
                version = true;
                break;
            default:
                // A long option is named as typed; a short one may share its
                // argument with others.
                if (std::string_view(argv[element]).starts_with("--")) {
                    ReportProblem("option %s not understood: see tunnelconsole --help",
                                  argv[element]);
                } else {
                    ReportProblem("option -%c not understood: see tunnelconsole --help", optopt);
                }
                return kUsageErrorStatus;
        }
    }
    for (int i = optind; i < argc; ++i) {
        if (!IsPlatformHelpSwitch(argv[i])) {
            ReportProblem("argument \"%s\" not expected: see tunnelconsole --help", argv[i]);
            return kUsageErrorStatus;
        }
        help = true;
    }
    if (help) {
        return PrintUsage();
    }
    if (version) {
        return WriteOut(kVersionLine);
    }
    return RunTunnelConsole(options);
}
