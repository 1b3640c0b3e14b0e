// The library commands and the connection stress test, as a user sees them,
// with the exact arguments each passes to the library (from its trace).
#include <gtest/gtest.h>

#include "e2e_harness.h"
#include "transcript.h"

namespace e2e {
namespace {

const std::string kConnectPrompts = "peer id: type: encrypt: listen addr: client addr: ";
const std::string kQueryPrompts = "peer id: type: encrypt: listen addr: ";

// A session whose library calls between start and stop are `calls`, with the
// faults given injected.
Case Session(std::string name, std::string input, std::string output, std::string calls,
             std::string faults = "") {
    Case c = e2e::Session(std::move(name), std::move(input), std::move(output));
    c.expected_trace = StartTrace(kDeviceId) + calls + kStopTrace;
    if (!faults.empty()) {
        c.environment = {{"TUNNEL_SIM_FAULTS", faults}};
    }
    return c;
}

const std::string kAddInput = "connectadd\npeer1\n0\n7\n127.0.0.1:8000\n127.0.0.1:18000\n";
const std::string kAddOutput =
    kConnectPrompts + "The connect's local client addr: 127.0.0.1:18000\r\n" + kPrompt;
const std::string kAddCall =
    "TunnelConnectAdd(\"\", \"peer1\", 0, 7, \"127.0.0.1:8000\", \"127.0.0.1:18000\", out) = 0\n";

class CommandsE2e : public testing::TestWithParam<Case> {};

TEST_P(CommandsE2e, Transcript) {
    RunAndCheck(GetParam());
}

std::string Name(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

std::vector<Case> SuccessCases() {
    const std::string record = Record("peer1", 0, 7, "127.0.0.1:8000", "127.0.0.1:18000");
    return {
        Session("DomainSetAndGet", "domainset\nexample.org\ndomainget\n",
                "passcode: Set domain success\r\n" + kPrompt + "Domain: example.org\r\n" + kPrompt,
                "TunnelDomainSet(\"example.org\") = 0\nTunnelDomainGet(out) = 0\n"),
        Session("CommentSetAndGet", "commentset\nhello world\ncommentget\n",
                "comment: Set comment success\r\n" + kPrompt + "Comment: hello world\r\n" + kPrompt,
                "TunnelCommentSet(\"hello world\") = 0\nTunnelCommentGet(out) = 0\n"),
        Session(
            "TunnelSetPassesPasscodeThenComment", "tunnelset\nsecret\nnote\ncommentget\n",
            "passcode: comment: Set tunnel success\r\n" + kPrompt + "Comment: note\r\n" + kPrompt,
            "TunnelSet(\"secret\", \"note\") = 0\nTunnelCommentGet(out) = 0\n"),
        Session("SelfGet", "selfget\n", "Self get success\r\nSelf ID: dev-1\r\n" + kPrompt,
                "TunnelSelfGet(out) = 0\n"),
        Session("ConnectAddThenEveryLookup",
                kAddInput + "connectquery\npeer1\n0\n7\n127.0.0.1:8000\n" +
                    "connectlocalquery\n127.0.0.1:18000\nconnectenum\n0\n",
                kAddOutput + kQueryPrompts + "The connect's client addr: 127.0.0.1:18000\r\n" +
                    kPrompt + "client addr: Query connect by local address success\r\n" + record +
                    kPrompt + "index: Connect enum success\r\n" + record + kPrompt,
                kAddCall + "TunnelConnectQuery(\"peer1\", 0, 7, \"127.0.0.1:8000\", out) = 0\n"
                           "TunnelConnectLocalQuery(\"127.0.0.1:18000\", out) = 0\n"
                           "TunnelConnectEnum(0, out) = 0\n"),
        Session("ConnectDeleteByTuple",
                kAddInput + "connectdelete\npeer1\n0\n7\n127.0.0.1:8000\n127.0.0.1:18000\n",
                kAddOutput + kConnectPrompts + "Delete connect success\r\n" + kPrompt,
                kAddCall + "TunnelConnectDelete(\"\", \"peer1\", 0, 7, \"127.0.0.1:8000\", "
                           "\"127.0.0.1:18000\") = 0\n"),
        Session("ConnectDeleteByLocalAddress",
                kAddInput + "connectlocaldelete\n127.0.0.1:18000\nconnectenum\n0\n",
                kAddOutput + "client addr: Delete connect by local address success\r\n" + kPrompt +
                    "index: Connect enum failed, Error: -3\r\n" + kPrompt,
                kAddCall + "TunnelConnectLocalDelete(\"\", \"127.0.0.1:18000\") = 0\n"
                           "TunnelConnectEnum(0, out) = -3\n"),
        Session("NumbersConvertLikeTheStandardConversion",
                "connectadd\np\nabc\n 7x\n127.0.0.1:8001\n\nconnectenum\n-1\nconnectenum\n+0\n",
                kConnectPrompts + "The connect's local client addr: 127.0.0.1:20000\r\n" + kPrompt +
                    "index: Connect enum failed, Error: -3\r\n" + kPrompt +
                    "index: Connect enum success\r\n" +
                    Record("p", 0, 7, "127.0.0.1:8001", "127.0.0.1:20000") + kPrompt,
                "TunnelConnectAdd(\"\", \"p\", 0, 7, \"127.0.0.1:8001\", \"\", out) = 0\n"
                "TunnelConnectEnum(-1, out) = -3\nTunnelConnectEnum(0, out) = 0\n"),
        Session("TypeAndEncryptPrintUnsigned",
                "connectadd\np\n-1\n-2147483648\n127.0.0.1:8002\n127.0.0.1:9\nconnectenum\n0\n",
                kConnectPrompts + "The connect's local client addr: 127.0.0.1:9\r\n" + kPrompt +
                    "index: Connect enum success\r\n" +
                    Record("p", 4294967295u, 2147483648u, "127.0.0.1:8002", "127.0.0.1:9") +
                    kPrompt,
                "TunnelConnectAdd(\"\", \"p\", -1, -2147483648, \"127.0.0.1:8002\", "
                "\"127.0.0.1:9\", out) = 0\nTunnelConnectEnum(0, out) = 0\n"),
        Session("UserExtendEchoes", "userextend\nhello\nuserextend\n\n",
                "request data: User extend request success\r\nreply data: echo: hello\r\n" +
                    kPrompt +
                    "request data: User extend request success\r\nreply data: echo: \r\n" + kPrompt,
                "TunnelUserExtend(\"hello\", {size=252}, 0) = 0\n"
                "TunnelUserExtend(\"\", {size=252}, 0) = 0\n"),
        Session("PushGetDeliversConnectionEvents", kAddInput + "pushget\n",
                kAddOutput + "Push get success\r\npush data: connect added: peer1 127.0.0.1:8000 " +
                    "127.0.0.1:18000\r\n" + kPrompt,
                kAddCall + "TunnelPushGet({size=252}, 1000) = 0\n"),
    };
}

INSTANTIATE_TEST_SUITE_P(Success, CommandsE2e, testing::ValuesIn(SuccessCases()), Name);

// Every command's failure line, with the library's code in signed decimal.
std::vector<Case> FailureCases() {
    const struct {
        const char* name;
        const char* command;
        const char* fields;
        const char* prompts;
        const char* failure;
        const char* call;
    } rows[] = {
        {"DomainSet", "domainset", "d\n", "passcode: ", "Set domain failed",
         "TunnelDomainSet(\"d\")"},
        {"DomainGet", "domainget", "", "", "Get domain failed", "TunnelDomainGet(out)"},
        {"CommentSet", "commentset", "c\n", "comment: ", "Set comment failed",
         "TunnelCommentSet(\"c\")"},
        {"CommentGet", "commentget", "", "", "Get comment failed", "TunnelCommentGet(out)"},
        {"TunnelSet", "tunnelset", "p\nc\n", "passcode: comment: ", "Set tunnel failed",
         "TunnelSet(\"p\", \"c\")"},
        {"PeerInfoGet", "peerinfoget", "x\n", "peer id: ", "Get peer info failed",
         "TunnelPeerInfoGet(\"x\", out)"},
        {"ConnectAdd", "connectadd", "p\n1\n2\nl\nc\n",
         "peer id: type: encrypt: listen addr: client addr: ", "Add connect failed",
         "TunnelConnectAdd(\"\", \"p\", 1, 2, \"l\", \"c\", out)"},
        {"ConnectDelete", "connectdelete", "p\n1\n2\nl\nc\n",
         "peer id: type: encrypt: listen addr: client addr: ", "Delete connect failed",
         "TunnelConnectDelete(\"\", \"p\", 1, 2, \"l\", \"c\")"},
        {"ConnectQuery", "connectquery", "p\n1\n2\nl\n", "peer id: type: encrypt: listen addr: ",
         "Query connect failed", "TunnelConnectQuery(\"p\", 1, 2, \"l\", out)"},
        {"ConnectLocalDelete", "connectlocaldelete", "c\n", "client addr: ",
         "Delete connect by local address failed", "TunnelConnectLocalDelete(\"\", \"c\")"},
        {"ConnectLocalQuery", "connectlocalquery", "c\n", "client addr: ",
         "Query connect by local address failed", "TunnelConnectLocalQuery(\"c\", out)"},
        {"UserExtend", "userextend", "r\n", "request data: ", "User extend request failed",
         "TunnelUserExtend(\"r\", {size=252}, 0)"},
        {"PushGet", "pushget", "", "", "Push get failed", "TunnelPushGet({size=252}, 1000)"},
        {"SelfGet", "selfget", "", "", "Self get failed", "TunnelSelfGet(out)"},
        {"ConnectEnum", "connectenum", "5\n", "index: ", "Connect enum failed",
         "TunnelConnectEnum(5, out)"},
    };
    std::vector<Case> cases;
    for (const auto& row : rows) {
        const std::string operation =
            std::string(row.call).substr(0, std::string(row.call).find('('));
        Case c = Session(row.name, std::string(row.command) + "\n" + row.fields,
                         std::string(row.prompts) + row.failure + ", Error: -1234567\r\n" + kPrompt,
                         std::string(row.call) + " = -1234567\n", operation + "=-1234567");
        cases.push_back(c);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Failure, CommandsE2e, testing::ValuesIn(FailureCases()), Name);

// Lines longer than their fields, and input that ends inside a command.
std::vector<Case> InputCases() {
    const std::string long_peer(200, 'q');
    const std::string peer_127(127, 'q');
    std::vector<Case> cases = {
        Session("OverlongFieldKeepsItsStartAndDropsTheRest",
                "peerinfoget\n" + long_peer + "\nversionget\n",
                "peer id: Get peer info failed, Error: -3\r\n" + kPrompt +
                    "Version: 1.0.0-sim\r\n" + kPrompt,
                "TunnelPeerInfoGet(\"" + peer_127 + "\", out) = -3\nTunnelVersionGet(out) = 0\n"),
        Session("FieldExactlyFilled", "peerinfoget\n" + peer_127 + "\nversionget\n",
                "peer id: Get peer info failed, Error: -3\r\n" + kPrompt +
                    "Version: 1.0.0-sim\r\n" + kPrompt,
                "TunnelPeerInfoGet(\"" + peer_127 + "\", out) = -3\nTunnelVersionGet(out) = 0\n"),
        Session("OverlongNumberField", "connectenum\n" + std::string(100, '0') + "1\nversionget\n",
                "index: Connect enum failed, Error: -3\r\n" + kPrompt + "Version: 1.0.0-sim\r\n" +
                    kPrompt,
                "TunnelConnectEnum(0, out) = -3\nTunnelVersionGet(out) = 0\n"),
        Session("EndOfInputInsidePromptsAbandonsTheCommand", "connectadd\npeer1\n0\n",
                "peer id: type: encrypt: ", ""),
        Session("SubInsidePromptsAbandonsTheCommand",
                "tunnelset\npw\x1a"
                "comment\n",
                "passcode: comment: ", ""),
        Session("LastFieldWithoutLineBreakCounts", "domainset\nexample",
                "passcode: Set domain success\r\n" + kPrompt, "TunnelDomainSet(\"example\") = 0\n"),
        Session("CrLfInFields", "commentset\r\nwith cr\r\ncommentget\r\n",
                "comment: Set comment success\r\n" + kPrompt + "Comment: with cr\r\n" + kPrompt,
                "TunnelCommentSet(\"with cr\") = 0\nTunnelCommentGet(out) = 0\n"),
    };
    // The end of input at a command's first prompt ends the run right there.
    for (const auto& [command, prompt] :
         {std::pair{"domainset", "passcode: "}, std::pair{"commentset", "comment: "},
          std::pair{"tunnelset", "passcode: "}, std::pair{"peerinfoget", "peer id: "},
          std::pair{"connectadd", "peer id: "}, std::pair{"connectlocalquery", "client addr: "},
          std::pair{"connectenum", "index: "}, std::pair{"userextend", "request data: "},
          std::pair{"testconnect", "test times: "}}) {
        cases.push_back(Session(std::string("EndOfInputAtTheFirstPromptOf_") + command,
                                std::string(command) + "\n", prompt, ""));
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Input, CommandsE2e, testing::ValuesIn(InputCases()), Name);

std::vector<Case> StressCases() {
    const std::string prompts = "test times: peer id: ";
    std::string fallback_output;
    std::string both_fail_output;
    for (int i = 0; i < 10; ++i) {
        const std::string n = std::to_string(i);
        fallback_output += "Connect enum failed, Error: -3\r\nConnect local query success\r\n" +
                           Record("p", 0, 0, "127.0.0.1:800" + n, "127.0.0.1:1800" + n);
        both_fail_output += "Connect enum failed, Error: -3\r\n";
    }
    const std::string round = StressRound("p");
    const auto with_list = [&](const std::string& list) {
        return round.substr(0, round.find("Connect enum")) + list +
               round.substr(round.find("Delete connect success"));
    };

    std::string fallback_calls = StressCalls("p", -3, true);
    // The fallback query finds the connection: its result is 0, not the fault's.
    for (std::size_t at = fallback_calls.find("LocalQuery"); at != std::string::npos;
         at = fallback_calls.find("LocalQuery", at + 1)) {
        fallback_calls.replace(fallback_calls.find("= -3", at), 4, "= 0");
    }

    Case three_rounds =
        Session("ThreeRoundsLeaveNothingBehind", "testconnect\n3\np\nstatusget\n",
                prompts + round + round + round + kPrompt + "Status: 1\r\n" + kPrompt,
                StressCalls("p", 0, false) + StressCalls("p", 0, false) +
                    StressCalls("p", 0, false) + "TunnelStatusGet(0, out) = 0\n");
    // Two pauses of 200 ms in every round.
    three_rounds.min_duration = std::chrono::milliseconds(3 * 400);
    std::vector<Case> cases = {
        Session("OneRound", "testconnect\n1\np\n", prompts + round + kPrompt,
                StressCalls("p", 0, false)),
        three_rounds,
        Session("EnumFailsFallbackSucceeds", "testconnect\n1\np\n",
                prompts + with_list(fallback_output) + kPrompt, fallback_calls,
                "TunnelConnectEnum=-3"),
        Session("EnumAndFallbackFail", "testconnect\n1\np\n",
                prompts + with_list(both_fail_output) + kPrompt, StressCalls("p", -3, true),
                "TunnelConnectEnum=-3,TunnelConnectLocalQuery=-3"),
        Session("EndOfInputAfterCount", "testconnect\n1\n", "test times: peer id: ", ""),
    };
    const std::pair<const char*, const char*> counts[] = {
        {"Zero", "0"},
        {"Empty", ""},
        {"Letters", "abc"},
        {"MinusOne", "-1"},
        {"Minimum", "-2147483648"},
        {"SpaceMinusFive", " -5"},
    };
    for (const auto& [name, count] : counts) {
        cases.push_back(Session(std::string("CountRunsNothing") + name,
                                std::string("testconnect\n") + count + "\np\n", prompts + kPrompt,
                                ""));
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Stress, CommandsE2e, testing::ValuesIn(StressCases()), Name);

}  // namespace
}  // namespace e2e
