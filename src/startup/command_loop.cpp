#include "startup/command_loop.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "commands/handlers.h"
#include "console/console.h"
#include "run/run_state.h"
#include "tunnel/library_call.h"

namespace {

CommandOutcome Quit() {
    return CommandOutcome::Quit;
}

CommandOutcome VersionGet() {
    TextField<kVersionCapacity> version{};
    if (Succeeded(CALL_LIBRARY(TunnelVersionGet, version.data()), "Get version failed")) {
        PrintTextLine("Version: ", version);
    }
    return CommandOutcome::Completed;
}

CommandOutcome StatusGet() {
    uint32_t status = 0;
    if (Succeeded(CALL_LIBRARY(TunnelStatusGet, 0, &status), "Get status failed")) {
        PrintNumberLine("Status: ", status);
    }
    return CommandOutcome::Completed;
}

struct Command {
    std::string_view name;
    CommandHandler handler;
    bool listed;
    std::span<const Prompt> prompts;  // the fields it asks for, as its handler does
};

// Matched against the whole line, case-sensitive. The listed rows, in this
// order, make the command list; the usage text shows every row.
constexpr std::array kCommandTable = {
    Command{"quit", Quit, true, {}},
    Command{"versionget", VersionGet, true, {}},
    Command{"statusget", StatusGet, true, {}},
    Command{"domainget", DomainGet, true, {}},
    Command{"domainset", DomainSet, true, kDomainSetPrompts},
    Command{"commentget", CommentGet, true, {}},
    Command{"commentset", CommentSet, true, kCommentSetPrompts},
    Command{"tunnelset", TunnelSetCommand, true, kTunnelSetPrompts},
    Command{"peerinfoget", PeerInfoGet, true, kPeerInfoGetPrompts},
    Command{"connectadd", ConnectAdd, true, kConnectPrompts},
    Command{"connectdelete", ConnectDelete, true, kConnectPrompts},
    Command{"connectquery", ConnectQuery, true, kConnectQueryPrompts},
    Command{"connectlocaldelete", ConnectLocalDelete, true, kClientAddrPrompts},
    Command{"connectlocalquery", ConnectLocalQuery, true, kClientAddrPrompts},
    Command{"userextend", UserExtend, true, kUserExtendPrompts},
    Command{"pushget", PushGet, true, {}},
    Command{"selfget", SelfGet, true, {}},
    Command{"connectenum", ConnectEnum, true, kConnectEnumPrompts},
    Command{"testconnect", RunConnectStressTest, false, kTestConnectPrompts},
};

// With every name different, the order of the rows cannot change which runs.
constexpr bool NamesAreDistinct() {
    for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
        for (std::size_t j = i + 1; j < kCommandTable.size(); ++j) {
            if (kCommandTable[i].name == kCommandTable[j].name) {
                return false;
            }
        }
    }
    return true;
}
static_assert(NamesAreDistinct());

// The names alone, for completion at a terminal.
constexpr auto kCommandNames = [] {
    std::array<std::string_view, kCommandTable.size()> names{};
    for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
        names[i] = kCommandTable[i].name;
    }
    return names;
}();

constexpr std::string_view kListIndent = "  ";

constexpr std::size_t CommandListLength() {
    std::size_t length = 0;
    for (const Command& command : kCommandTable) {
        if (command.listed) {
            length += kListIndent.size() + command.name.size() + 1;
        }
    }
    return length;
}

// The command list, made once from the table so that it goes out as one print.
constexpr auto kCommandList = [] {
    std::array<char, CommandListLength()> text{};
    std::size_t length = 0;
    for (const Command& command : kCommandTable) {
        if (command.listed) {
            for (const std::string_view piece :
                 {kListIndent, command.name, std::string_view("\n")}) {
                for (const char c : piece) {
                    text[length++] = c;
                }
            }
        }
    }
    return text;
}();
constexpr std::string_view kCommandListText(kCommandList.data(), kCommandList.size());

// A blank line, then the prompt the command is typed after. A prompt goes
// out as it stands: its line break is written CR LF here.
constexpr std::string_view kCommandPrompt = "\r\n> ";

// Prints the list of commands a user can type.
void PrintHelp() {
    ConsoleWrite(kCommandListText);
}

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

std::size_t WriteCommandUsage(std::span<char> text) {
    std::size_t name_width = 0;
    for (const Command& command : kCommandTable) {
        name_width = std::max(name_width, command.name.size());
    }
    std::size_t length = 0;
    const auto add = [&](std::string_view piece) {
        length += piece.copy(text.data() + length, text.size() - length);
    };
    for (const Command& command : kCommandTable) {
        add(kListIndent);
        add(command.name);
        for (std::size_t i = 0; i < command.prompts.size(); ++i) {
            if (i == 0) {
                for (std::size_t pad = command.name.size(); pad < name_width + 2; ++pad) {
                    add(" ");
                }
            } else {
                add(", ");
            }
            add(FieldName(command.prompts[i]));
        }
        add("\n");
    }
    return length;
}

LoopEnd RunCommandLoop() {
    TextField<256> command_line{};
    const std::string_view prompt =
        CurrentSessionOptions().quiet ? std::string_view() : kCommandPrompt;
    while (!RunShouldEnd()) {
        const auto line = ConsoleReadCommandLine(prompt, command_line, kCommandNames);
        if (!line || RunCommand(*line) != CommandOutcome::Completed) {
            // Ctrl-C at the editor drops the line, or the command it was
            // typed for, and the prompt comes back.
            if (ConsoleReadWasAbandoned()) {
                continue;
            }
            return LoopEnd::kInputOrQuit;
        }
        if (EndForFailure()) {
            return LoopEnd::kFailure;
        }
    }
    return LoopEnd::kInputOrQuit;
}
