#include "commands/command_table.h"

#include <algorithm>
#include <array>

#include "commands/handlers.h"
#include "console/console.h"

namespace {

constexpr bool kListed = true;

// The fields, each with the name its handler takes it by. "domainset" asks
// for the domain as "passcode: ", so what is typed there is shown;
// "tunnelset"'s passcode is a secret.
constexpr Prompt kDomain(Field::kDomain, "passcode: ", kDomainCapacity);
constexpr Prompt kComment(Field::kComment, "comment: ", kCommentInCapacity);
constexpr Prompt kPasscode(Field::kPasscode, "passcode: ", kPasscodeCapacity, Typed::kSecret);
constexpr Prompt kPeerId(Field::kPeerId, "peer id: ", kPeerIdCapacity);
constexpr Prompt kType(Field::kType, "type: ", kNumberFieldCapacity);
constexpr Prompt kEncrypt(Field::kEncrypt, "encrypt: ", kNumberFieldCapacity);
constexpr Prompt kListenAddr(Field::kListenAddr, "listen addr: ", kAddressCapacity);
constexpr Prompt kClientAddr(Field::kClientAddr, "client addr: ", kAddressCapacity);
constexpr Prompt kRequestData(Field::kRequestData, "request data: ", kRequestCapacity);
constexpr Prompt kIndex(Field::kIndex, "index: ", kIndexFieldCapacity);
constexpr Prompt kTestTimes(Field::kTestTimes, "test times: ", kIndexFieldCapacity);

// Matched against the whole line, case-sensitive. The listed rows, in this
// order, make the command list; the usage text shows every row, its fields in
// the order they are asked for.
constexpr std::array kCommandTable = {
    Command{"quit", kListed, {}, Quit},
    Command{"versionget", kListed, {}, VersionGet},
    Command{"statusget", kListed, {}, StatusGet},
    Command{"domainget", kListed, {}, DomainGet},
    Command{"domainset", kListed, {kDomain}, DomainSet},
    Command{"commentget", kListed, {}, CommentGet},
    Command{"commentset", kListed, {kComment}, CommentSet},
    Command{"tunnelset", kListed, {kPasscode, kComment}, TunnelSetCommand},
    Command{"peerinfoget", kListed, {kPeerId}, PeerInfoGet},
    Command{
        "connectadd", kListed, {kPeerId, kType, kEncrypt, kListenAddr, kClientAddr}, ConnectAdd},
    Command{"connectdelete",
            kListed,
            {kPeerId, kType, kEncrypt, kListenAddr, kClientAddr},
            ConnectDelete},
    Command{"connectquery", kListed, {kPeerId, kType, kEncrypt, kListenAddr}, ConnectQuery},
    Command{"connectlocaldelete", kListed, {kClientAddr}, ConnectLocalDelete},
    Command{"connectlocalquery", kListed, {kClientAddr}, ConnectLocalQuery},
    Command{"userextend", kListed, {kRequestData}, UserExtend},
    Command{"pushget", kListed, {}, PushGet},
    Command{"selfget", kListed, {}, SelfGet},
    Command{"connectenum", kListed, {kIndex}, ConnectEnum},
    Command{"testconnect", !kListed, {kTestTimes, kPeerId}, RunConnectStressTest},
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

constexpr auto kCommandNames = [] {
    std::array<std::string_view, kCommandTable.size()> names{};
    for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
        names[i] = kCommandTable[i].name;
    }
    return names;
}();

constexpr std::string_view kListIndent = "  ";
constexpr std::string_view kListLineEnd = "\r\n";

constexpr std::size_t CommandListLength() {
    std::size_t length = 0;
    for (const Command& command : kCommandTable) {
        if (command.listed) {
            length += kListIndent.size() + command.name.size() + kListLineEnd.size();
        }
    }
    return length;
}

// The command list, made from the table when compiled, with its line breaks
// CR LF already, so that it goes out as one print of bytes as they stand.
constexpr auto kCommandList = [] {
    std::array<char, CommandListLength()> text{};
    std::size_t length = 0;
    for (const Command& command : kCommandTable) {
        if (command.listed) {
            for (const std::string_view piece : {kListIndent, command.name, kListLineEnd}) {
                length = static_cast<std::size_t>(
                    std::copy(piece.begin(), piece.end(), text.begin() + length) - text.begin());
            }
        }
    }
    return text;
}();

}  // namespace

const Command* FindCommand(std::string_view line) {
    for (const Command& command : kCommandTable) {
        if (command.name == line) {
            return &command;
        }
    }
    return nullptr;
}

CommandOutcome RunCommand(const Command& command, CommandRun& run) {
    run.prompts = &command.prompts;
    if (command.prompts[0].capacity() != 0) {
        const CommandOutcome read = PromptFields(command.prompts, run);
        if (read != CommandOutcome::kCompleted) {
            return read;
        }
    }
    return command.handler(run);
}

void PrintCommandList() {
    ConsoleWrite(CrlfText{std::string_view(kCommandList.data(), kCommandList.size())});
}

std::span<const std::string_view> CommandNames() {
    return kCommandNames;
}

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
        if (command.prompts[0].capacity() != 0) {
            for (std::size_t pad = command.name.size(); pad < name_width + 2; ++pad) {
                add(" ");
            }
            length += WriteFieldNames(command.prompts, text.subspan(length));
        }
        add("\n");
    }
    return length;
}
