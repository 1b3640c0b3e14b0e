#include "startup/command_loop.h"

#include <array>
#include <span>
#include <string_view>

#include "commands/handlers.h"
#include "platform/console.h"
#include "platform/crash_report.h"
#include "platform/run_state.h"
#include "platform/text_stream.h"

namespace {

CommandOutcome Quit() {
    return CommandOutcome::Quit;
}

CommandOutcome VersionGet() {
    TextField<kVersionCapacity> version{};
    if (Succeeded(CallLibrary("TunnelVersionGet", TunnelVersionGet, version.data()),
                  "Get version failed")) {
        PrintTextLine("Version: ", version);
    }
    return CommandOutcome::Completed;
}

CommandOutcome StatusGet() {
    uint32_t status = 0;
    if (Succeeded(CallLibrary("TunnelStatusGet", TunnelStatusGet, 0, &status),
                  "Get status failed")) {
        PrintNumberLine("Status: ", status);
    }
    return CommandOutcome::Completed;
}

struct Command {
    std::string_view name;
    CommandHandler handler;
    bool listed;
};

// Matched against the whole line, case-sensitive. The listed rows, in this
// order, make the command list.
constexpr std::array kCommandTable = {
    Command{"quit", Quit, true},
    Command{"versionget", VersionGet, true},
    Command{"statusget", StatusGet, true},
    Command{"domainget", DomainGet, true},
    Command{"domainset", DomainSet, true},
    Command{"commentget", CommentGet, true},
    Command{"commentset", CommentSet, true},
    Command{"tunnelset", TunnelPasscodeSet, true},
    Command{"peerinfoget", PeerInfoGet, true},
    Command{"connectadd", ConnectAdd, true},
    Command{"connectdelete", ConnectDelete, true},
    Command{"connectquery", ConnectQuery, true},
    Command{"connectlocaldelete", ConnectLocalDelete, true},
    Command{"connectlocalquery", ConnectLocalQuery, true},
    Command{"userextend", UserExtend, true},
    Command{"pushget", PushGet, true},
    Command{"selfget", SelfGet, true},
    Command{"connectenum", ConnectEnum, true},
    Command{"testconnect", RunConnectStressTest, false},
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
// The list and the prompt are printed so often that they are staged here, once.
constexpr auto kStagedCommandList =
    StagedConstant<StagedLength(kCommandListText)>(kCommandListText);
constexpr std::string_view kPromptText = "\n> ";
constexpr auto kStagedPrompt = StagedConstant<StagedLength(kPromptText)>(kPromptText);

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

std::span<const std::string_view> CommandNames() {
    return kCommandNames;
}

void PrintHelp() {
    ConsoleWriteStaged(std::string_view(kStagedCommandList.data(), kStagedCommandList.size()));
}

void RunCommandLoop() {
    TextField<256> command_line{};
    const std::span<const std::string_view> names = CommandNames();
    while (!RunShouldEnd()) {
        ConsoleWriteStaged(std::string_view(kStagedPrompt.data(), kStagedPrompt.size()));
        const auto line = ConsoleReadCommandLine(command_line, names);
        if (!line || RunCommand(*line) != CommandOutcome::Completed) {
            return;
        }
    }
}
