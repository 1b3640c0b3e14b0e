#include "commands/command_table.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "commands/handlers.h"
#include "console/console.h"

namespace {

constexpr bool kListed = true;

// The fields a handler names: the type of its second parameter.
template <Field... kNames>
FieldsOf<kNames...> FieldsNamedBy(CommandOutcome (*)(CommandRun&, FieldsOf<kNames...>));

template <auto kHandler>
CommandOutcome CallWithFields(CommandRun& run) {
    return kHandler(run, decltype(FieldsNamedBy(kHandler))(run));
}

// `kHandler` ready for a row, with the fields it names; one that takes the
// run alone names none.
template <auto kHandler>
consteval BoundHandler HandledBy() {
    if constexpr (std::is_convertible_v<decltype(kHandler), CommandOutcome (*)(CommandRun&)>) {
        return {kHandler, {}};
    } else {
        BoundHandler bound{&CallWithFields<kHandler>, {}};
        std::ranges::copy(decltype(FieldsNamedBy(kHandler))::kNamed, bound.fields.begin());
        return bound;
    }
}

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
    Command{"quit", kListed, {}, HandledBy<Quit>()},
    Command{"versionget", kListed, {}, HandledBy<VersionGet>()},
    Command{"statusget", kListed, {}, HandledBy<StatusGet>()},
    Command{"domainget", kListed, {}, HandledBy<DomainGet>()},
    Command{"domainset", kListed, {kDomain}, HandledBy<DomainSet>()},
    Command{"commentget", kListed, {}, HandledBy<CommentGet>()},
    Command{"commentset", kListed, {kComment}, HandledBy<CommentSet>()},
    Command{"tunnelset", kListed, {kPasscode, kComment}, HandledBy<TunnelSetCommand>()},
    Command{"peerinfoget", kListed, {kPeerId}, HandledBy<PeerInfoGet>()},
    Command{"connectadd",
            kListed,
            {kPeerId, kType, kEncrypt, kListenAddr, kClientAddr},
            HandledBy<ConnectAdd>()},
    Command{"connectdelete",
            kListed,
            {kPeerId, kType, kEncrypt, kListenAddr, kClientAddr},
            HandledBy<ConnectDelete>()},
    Command{"connectquery",
            kListed,
            {kPeerId, kType, kEncrypt, kListenAddr},
            HandledBy<ConnectQuery>()},
    Command{"connectlocaldelete", kListed, {kClientAddr}, HandledBy<ConnectLocalDelete>()},
    Command{"connectlocalquery", kListed, {kClientAddr}, HandledBy<ConnectLocalQuery>()},
    Command{"userextend", kListed, {kRequestData}, HandledBy<UserExtend>()},
    Command{"pushget", kListed, {}, HandledBy<PushGet>()},
    Command{"selfget", kListed, {}, HandledBy<SelfGet>()},
    Command{"connectenum", kListed, {kIndex}, HandledBy<ConnectEnum>()},
    Command{"testconnect", !kListed, {kTestTimes, kPeerId}, HandledBy<RunConnectStressTest>()},
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
