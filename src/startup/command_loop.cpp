#include "startup/command_loop.h"

#include <array>
#include <string_view>

#include "commands/handlers.h"
#include "platform/console.h"
#include "platform/run_state.h"

namespace {

CommandOutcome VersionGet() {
    TextField<kVersionCapacity> version{};
    if (Succeeded(TunnelVersionGet(version.data()), "Get version failed")) {
        PrintTextLine("Version: ", version);
    }
    return CommandOutcome::Completed;
}

CommandOutcome StatusGet() {
    uint32_t status = 0;
    if (Succeeded(TunnelStatusGet(0, &status), "Get status failed")) {
        ConsolePrint("Status: %u\n", status);
    }
    return CommandOutcome::Completed;
}

struct Command {
    std::string_view name;
    CommandHandler handler;
};

// Matched against the whole line, case-sensitive; the first match runs.
constexpr std::array kCommandTable = {
    Command{"versionget", VersionGet},
    Command{"statusget", StatusGet},
    Command{"domainset", DomainSet},
    Command{"domainget", DomainGet},
    Command{"commentset", CommentSet},
    Command{"commentget", CommentGet},
    Command{"tunnelset", TunnelPasscodeSet},
    Command{"peerinfoget", PeerInfoGet},
    Command{"connectadd", ConnectAdd},
    Command{"connectdelete", ConnectDelete},
    Command{"connectquery", ConnectQuery},
    Command{"connectlocaldelete", ConnectLocalDelete},
    Command{"connectlocalquery", ConnectLocalQuery},
    Command{"userextend", UserExtend},
    Command{"pushget", PushGet},
    Command{"selfget", SelfGet},
    Command{"connectenum", ConnectEnum},
    Command{"testconnect", RunConnectStressTest},
};

// What the list shows, in its own order; "testconnect" stays unlisted.
constexpr std::array<std::string_view, 18> kListedCommands = {
    "quit",          "versionget",   "statusget",          "domainget",         "domainset",
    "commentget",    "commentset",   "tunnelset",          "peerinfoget",       "connectadd",
    "connectdelete", "connectquery", "connectlocaldelete", "connectlocalquery", "userextend",
    "pushget",       "selfget",      "connectenum",
};

CommandOutcome RunCommand(std::string_view line) {
    for (const Command& command : kCommandTable) {
        if (command.name == line) {
            return command.handler();
        }
    }
    PrintHelp();
    return CommandOutcome::Completed;
}

}  // namespace

void PrintHelp() {
    for (const std::string_view name : kListedCommands) {
        ConsolePrint("  %.*s\n", static_cast<int>(name.size()), name.data());
    }
}

void RunCommandLoop() {
    TextField<256> command_line{};
    while (!RunShouldEnd()) {
        ConsoleWrite("\n> ");
        const auto line = ConsoleReadLine(command_line);
        if (!line || *line == "quit") {
            return;
        }
        if (RunCommand(*line) == CommandOutcome::InputEnded) {
            return;
        }
    }
}
