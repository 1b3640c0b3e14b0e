#include "startup/command_loop.h"

#include <string_view>

#include "commands/command_table.h"
#include "console/console.h"
#include "run/diagnostics.h"
#include "run/run_state.h"

namespace {

// A blank line, then the prompt the command is typed after. A prompt goes
// out as it stands: its line break is written CR LF here.
constexpr std::string_view kCommandPrompt = "\r\n> ";

LoopEnd RunCommands(SessionOptions options) {
    TextField<256> command_line{};
    // Lines of input read, fields included: where the session ends at the
    // first failure, standard error names the line that stopped it, after
    // what the failure printed.
    unsigned long line_number = 0;
    // From a pipe or a file Ctrl-C ends the run: no command pays for it.
    const bool interruptible = InterruptsPossible();
    while (!RunShouldEnd()) {
        // Ctrl-C from here on drops the line typed, or stops the command.
        if (interruptible) {
            AllowInterrupts();
        }
        const auto line = ConsoleReadCommandLine(kCommandPrompt, command_line, CommandNames());
        if (!line) {
            if (ConsoleReadWasAbandoned()) {
                continue;
            }
            return LoopEnd::kInputOrQuit;
        }
        ++line_number;
        // A stop, or output lost, cuts the input where its read was: the
        // line it ended early is no command typed.
        if (RunShouldEnd()) {
            return LoopEnd::kInputOrQuit;
        }
        // One that came while the line was typed is not the command's.
        if (interruptible) {
            AllowInterrupts();
        }
        const Command* command = FindCommand(*line);
        if (command == nullptr) {
            PrintCommandList();
            // A typo in a script: where the session ends at the first
            // failure, it ends here.
            if (options.exit_on_error) {
                ConsoleFlush();
                ReportProblem("line %lu: \"%.*s\" is not a command", line_number,
                              static_cast<int>(line->size()), line->data());
                return LoopEnd::kFailure;
            }
            continue;
        }
        CommandRun run;
        run.stop_at_failure = options.exit_on_error;
        const CommandOutcome outcome = RunCommand(*command, run);
        line_number += run.fields_read;
        switch (outcome) {
            case CommandOutcome::kCompleted:
            case CommandOutcome::kAbandoned:
                break;
            case CommandOutcome::kFailed:
                if (options.exit_on_error) {
                    ConsoleFlush();
                    ReportProblem("line %lu: %.*s failed", line_number,
                                  static_cast<int>(command->name.size()), command->name.data());
                    return LoopEnd::kFailure;
                }
                break;
            case CommandOutcome::kInputEnded:
            case CommandOutcome::kQuit:
                return LoopEnd::kInputOrQuit;
        }
    }
    return LoopEnd::kInputOrQuit;
}

}  // namespace

LoopEnd RunCommandLoop(SessionOptions options) {
    const LoopEnd end = RunCommands(options);
    // The run is ending: Ctrl-C is a stop request again, as before the loop.
    DisallowInterrupts();
    return end;
}
