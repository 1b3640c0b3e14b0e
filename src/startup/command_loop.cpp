#include "startup/command_loop.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "commands/handlers.h"
#include "platform/console.h"
#include "platform/text_stream.h"

namespace {

CommandOutcome Quit() {
    return CommandOutcome::Quit;
}

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

constexpr std::size_t kLongestName = [] {
    std::size_t longest = 0;
    for (const Command& command : kCommandTable) {
        longest = std::max(longest, command.name.size());
    }
    return longest;
}();

// Rows of the table by the length of their names, so that a line is compared
// with few names: a range of kRowsByLength for each length.
struct LengthRange {
    std::size_t first = 0;
    std::size_t count = 0;
};
constexpr std::array<std::size_t, kCommandTable.size()> kRowsByLength = [] {
    std::array<std::size_t, kCommandTable.size()> rows{};
    std::size_t count = 0;
    for (std::size_t length = 0; length <= kLongestName; ++length) {
        for (std::size_t row = 0; row < kCommandTable.size(); ++row) {
            if (kCommandTable[row].name.size() == length) {
                rows[count++] = row;
            }
        }
    }
    return rows;
}();
constexpr std::array<LengthRange, kLongestName + 1> kRangeOfLength = [] {
    std::array<LengthRange, kLongestName + 1> ranges{};
    std::size_t first = 0;
    for (std::size_t length = 0; length <= kLongestName; ++length) {
        ranges[length].first = first;
        for (const Command& command : kCommandTable) {
            if (command.name.size() == length) {
                ++ranges[length].count;
            }
        }
        first += ranges[length].count;
    }
    return ranges;
}();

CommandOutcome RunCommand(std::string_view line) {
    if (line.size() <= kLongestName) {
        const LengthRange range = kRangeOfLength[line.size()];
        for (std::size_t i = range.first; i < range.first + range.count; ++i) {
            const Command& command = kCommandTable[kRowsByLength[i]];
            if (command.name == line) {
                return command.handler();
            }
        }
    }
    PrintHelp();
    return CommandOutcome::Completed;
}

}  // namespace

void PrintHelp() {
    ConsoleWriteStaged(std::string_view(kStagedCommandList.data(), kStagedCommandList.size()));
}

void RunCommandLoop() {
    TextField<256> command_line{};
    for (;;) {
        ConsoleWriteStaged(std::string_view(kStagedPrompt.data(), kStagedPrompt.size()));
        const auto line = ConsoleReadLine(command_line);
        if (!line || RunCommand(*line) != CommandOutcome::Completed) {
            return;
        }
    }
}
