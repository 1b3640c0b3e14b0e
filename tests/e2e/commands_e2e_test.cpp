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

// What standard error says of a field typed longer than it holds.
std::string CutLine(const std::string& field, std::size_t kept) {
    return "tunnelconsole: the " + field + " typed was cut to its first " + std::to_string(kept) +
           " characters\r\n";
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

INSTANTIATE_TEST_SUITE_P(Success, CommandsE2e, testing::ValuesIn(SuccessCases()), CaseName);

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

INSTANTIATE_TEST_SUITE_P(Failure, CommandsE2e, testing::ValuesIn(FailureCases()), CaseName);

// Input that ends inside a command, and numbers past their range. (Lines
// longer than their fields: the capacity rows.)
std::vector<Case> InputCases() {
    std::vector<Case> cases = {
        // Past 64 bits the numbers clamp as any other: they do not wrap.
        Session("NumbersPast64BitsClamp",
                "connectenum\n18446744073709551617\nconnectenum\n-18446744073709551615\n",
                "index: Connect enum failed, Error: -3\r\n" + kPrompt +
                    "index: Connect enum failed, Error: -3\r\n" + kPrompt,
                "TunnelConnectEnum(2147483647, out) = -3\nTunnelConnectEnum(-2147483648, out) = "
                "-3\n"),
        Session("EndOfInputInsidePromptsAbandonsTheCommand", "connectadd\npeer1\n0\n",
                "peer id: type: encrypt: ", ""),
        Session("SubInsidePromptsAbandonsTheCommand", "tunnelset\npw\032comment\n",
                "passcode: comment: ", ""),
        Session("LastFieldWithoutLineBreakCounts", "domainset\nexample",
                "passcode: Set domain success\r\n" + kPrompt, "TunnelDomainSet(\"example\") = 0\n"),
        Session("CrLfInFields", "commentset\r\nwith cr\r\ncommentget\r\n",
                "comment: Set comment success\r\n" + kPrompt + "Comment: with cr\r\n" + kPrompt,
                "TunnelCommentSet(\"with cr\") = 0\nTunnelCommentGet(out) = 0\n"),
    };
    // A field is cut at a character's whole edge: a letter with its mark,
    // jamo that join, an emoji with its joiner are left out whole.
    for (const auto& [name, kept, rest] :
         {std::tuple{"Mark", 126, "e\xcc\x81"},
          std::tuple{"Jamo", 124, "\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab"},
          std::tuple{"ZwjEmoji", 120, "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb"}}) {
        const std::string typed(static_cast<std::size_t>(kept), 'a');
        Case c = Session(std::string("CutKeepsWholeCharacters_") + name,
                         "commentset\n" + typed + rest + "\n",
                         "comment: Set comment success\r\n" + kPrompt,
                         "TunnelCommentSet(\"" + typed + "\") = 0\n");
        c.expected_errors = CutLine("comment", static_cast<std::size_t>(kept));
        cases.push_back(c);
    }
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

INSTANTIATE_TEST_SUITE_P(Input, CommandsE2e, testing::ValuesIn(InputCases()), CaseName);

// Every typed field and every buffer the library fills, at one short of its
// capacity, at its capacity and beyond: the program keeps what fits, passes
// it whole and prints all that the library gives back. The capacities are
// spelled out, not taken from the program, so that a changed one shows.
std::string Kept(const std::string& typed, std::size_t capacity) {
    return typed.substr(0, capacity - 1);
}

// A number typed as `length` characters, zeros then `digit`: a field that
// keeps fewer keeps zeros only.
std::string Padded(std::size_t length, char digit) {
    return std::string(length - 1, '0') + digit;
}

Case WithAnyAddress(Case c) {
    c.environment = {{"TUNNEL_SIM_ANY_ADDRESS", "1"}};
    return c;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

const std::string kListen = "127.0.0.1:8000";
const std::string kClient = "127.0.0.1:18000";

std::string LocalClientLine(const std::string& client) {
    return "The connect's local client addr: " + client + "\r\n" + kPrompt;
}

std::string QueryLine(const std::string& client) {
    return "The connect's client addr: " + client + "\r\n" + kPrompt;
}

// "peerinfoget" for a peer with one connection.
std::string PeerInfoLines(const std::string& peer, const std::string& listen,
                          const std::string& client) {
    return "peer id: Get peer info success\r\npeer id: " + peer +
           "\r\ntype: 1\r\nlocal login addr: 127.0.0.1:6000\r\nremote login addr: "
           "127.0.0.2:6000\r\nlocal tunnel addr: " +
           client + "\r\nremote tunnel addr: " + listen +
           "\r\nremote private addr: 10.0.0.2:6000\r\n" + kPrompt;
}

std::string AddCall(const std::string& peer, int type, int encrypt, const std::string& listen,
                    const std::string& client) {
    return "TunnelConnectAdd(\"\", " + Quoted(peer) + ", " + std::to_string(type) + ", " +
           std::to_string(encrypt) + ", " + Quoted(listen) + ", " + Quoted(client) + ", out) = 0\n";
}

// "domainset" ('d') or "commentset" ('c'), the value read back.
template <char kWhat>
Case SetThenGetFilled(std::size_t length, std::size_t capacity) {
    const std::string name = kWhat == 'd' ? "domain" : "comment";
    const std::string title = kWhat == 'd' ? "Domain" : "Comment";
    const std::string typed(length, kWhat);
    const std::string kept = Kept(typed, capacity);
    return Session(
        "", name + "set\n" + typed + "\n" + name + "get\n",
        (kWhat == 'd' ? "passcode: " : "comment: ") + ("Set " + name + " success\r\n") + kPrompt +
            title + ": " + kept + "\r\n" + kPrompt,
        "Tunnel" + title + "Set(" + Quoted(kept) + ") = 0\nTunnel" + title + "Get(out) = 0\n");
}

Case TunnelSetPasscodeFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 's');
    return Session("", "tunnelset\n" + typed + "\nnote\n",
                   "passcode: comment: Set tunnel success\r\n" + kPrompt,
                   "TunnelSet(" + Quoted(Kept(typed, capacity)) + ", \"note\") = 0\n");
}

Case TunnelSetCommentFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 'n');
    const std::string kept = Kept(typed, capacity);
    return Session("", "tunnelset\nsecret\n" + typed + "\ncommentget\n",
                   "passcode: comment: Set tunnel success\r\n" + kPrompt + "Comment: " + kept +
                       "\r\n" + kPrompt,
                   "TunnelSet(\"secret\", " + Quoted(kept) + ") = 0\nTunnelCommentGet(out) = 0\n");
}

// The peer id of every connect command, of "peerinfoget" and of the records.
Case PeerIdFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 'p');
    const std::string kept = Kept(typed, capacity);
    const std::string tuple = typed + "\n0\n0\n" + kListen + "\n";
    return Session("",
                   "connectadd\n" + tuple + kClient + "\nconnectquery\n" + tuple +
                       "connectenum\n0\n" + "peerinfoget\n" + typed + "\nconnectdelete\n" + tuple +
                       kClient + "\n",
                   kConnectPrompts + LocalClientLine(kClient) + kQueryPrompts + QueryLine(kClient) +
                       "index: Connect enum success\r\n" + Record(kept, 0, 0, kListen, kClient) +
                       kPrompt + PeerInfoLines(kept, kListen, kClient) + kConnectPrompts +
                       "Delete connect success\r\n" + kPrompt,
                   AddCall(kept, 0, 0, kListen, kClient) + "TunnelConnectQuery(" + Quoted(kept) +
                       ", 0, 0, \"127.0.0.1:8000\", out) = 0\nTunnelConnectEnum(0, out) = 0\n"
                       "TunnelPeerInfoGet(" +
                       Quoted(kept) + ", out) = 0\nTunnelConnectDelete(\"\", " + Quoted(kept) +
                       ", 0, 0, \"127.0.0.1:8000\", \"127.0.0.1:18000\") = 0\n");
}

template <bool encrypt>
Case TypeOrEncryptFilled(std::size_t length, std::size_t capacity) {
    const std::string typed = Padded(length, '7');
    const int value = length < capacity ? 7 : 0;
    const int type = encrypt ? 0 : value;
    const int encrypt_value = encrypt ? value : 0;
    const std::string numbers = encrypt ? "0\n" + typed + "\n" : typed + "\n0\n";
    return Session("",
                   "connectadd\np\n" + numbers + kListen + "\n\nconnectquery\np\n" + numbers +
                       kListen + "\nconnectenum\n0\n",
                   kConnectPrompts + LocalClientLine("127.0.0.1:20000") + kQueryPrompts +
                       QueryLine("127.0.0.1:20000") + "index: Connect enum success\r\n" +
                       Record("p", type, encrypt_value, kListen, "127.0.0.1:20000") + kPrompt,
                   AddCall("p", type, encrypt_value, kListen, "") + "TunnelConnectQuery(\"p\", " +
                       std::to_string(type) + ", " + std::to_string(encrypt_value) +
                       ", \"127.0.0.1:8000\", out) = 0\nTunnelConnectEnum(0, out) = 0\n");
}

Case IndexFilled(std::size_t length, std::size_t capacity) {
    return Session(
        "", "connectenum\n" + Padded(length, '1') + "\n",
        "index: Connect enum failed, Error: -3\r\n" + kPrompt,
        "TunnelConnectEnum(" + std::string(length < capacity ? "1" : "0") + ", out) = -3\n");
}

Case ListenAddrFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 'l');
    const std::string kept = Kept(typed, capacity);
    return WithAnyAddress(Session(
        "",
        "connectadd\np\n0\n0\n" + typed + "\n" + kClient + "\nconnectquery\np\n0\n0\n" + typed +
            "\nconnectenum\n0\npeerinfoget\np\nconnectdelete\np\n0\n0\n" + typed + "\n\n",
        kConnectPrompts + LocalClientLine(kClient) + kQueryPrompts + QueryLine(kClient) +
            "index: Connect enum success\r\n" + Record("p", 0, 0, kept, kClient) + kPrompt +
            PeerInfoLines("p", kept, kClient) + kConnectPrompts + "Delete connect success\r\n" +
            kPrompt,
        AddCall("p", 0, 0, kept, kClient) + "TunnelConnectQuery(\"p\", 0, 0, " + Quoted(kept) +
            ", out) = 0\nTunnelConnectEnum(0, out) = 0\nTunnelPeerInfoGet(\"p\", out) = 0\n"
            "TunnelConnectDelete(\"\", \"p\", 0, 0, " +
            Quoted(kept) + ", \"\") = 0\n"));
}

// The client address typed, and the one the library writes back.
Case ClientAddrFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 'a');
    const std::string kept = Kept(typed, capacity);
    const std::string add = "connectadd\np\n0\n0\n" + kListen + "\n" + typed + "\n";
    return WithAnyAddress(
        Session("",
                add + "connectquery\np\n0\n0\n" + kListen + "\nconnectlocalquery\n" + typed +
                    "\npeerinfoget\np\nconnectdelete\np\n0\n0\n" + kListen + "\n" + typed + "\n" +
                    add + "connectlocaldelete\n" + typed + "\n",
                kConnectPrompts + LocalClientLine(kept) + kQueryPrompts + QueryLine(kept) +
                    "client addr: Query connect by local address success\r\n" +
                    Record("p", 0, 0, kListen, kept) + kPrompt + PeerInfoLines("p", kListen, kept) +
                    kConnectPrompts + "Delete connect success\r\n" + kPrompt + kConnectPrompts +
                    LocalClientLine(kept) +
                    "client addr: Delete connect by local address success\r\n" + kPrompt,
                AddCall("p", 0, 0, kListen, kept) +
                    "TunnelConnectQuery(\"p\", 0, 0, \"127.0.0.1:8000\", out) = 0\n"
                    "TunnelConnectLocalQuery(" +
                    Quoted(kept) + ", out) = 0\nTunnelPeerInfoGet(\"p\", out) = 0\n" +
                    "TunnelConnectDelete(\"\", \"p\", 0, 0, \"127.0.0.1:8000\", " + Quoted(kept) +
                    ") = 0\n" + AddCall("p", 0, 0, kListen, kept) +
                    "TunnelConnectLocalDelete(\"\", " + Quoted(kept) + ") = 0\n"));
}

// Requests this long get a reply too long for the record.
Case RequestFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 'r');
    return Session("", "userextend\n" + typed + "\n",
                   "request data: User extend request failed, Error: -5\r\n" + kPrompt,
                   "TunnelUserExtend(" + Quoted(Kept(typed, capacity)) + ", {size=252}, 0) = -5\n");
}

// `length` is that of the reply, "echo: " and the request.
Case ReplyFilled(std::size_t length, std::size_t capacity) {
    const std::string request(length - 6, 'e');
    const bool fits = length < capacity;
    return Session("", "userextend\n" + request + "\n",
                   "request data: " +
                       (fits ? "User extend request success\r\nreply data: echo: " + request
                             : std::string("User extend request failed, Error: -5")) +
                       "\r\n" + kPrompt,
                   "TunnelUserExtend(" + Quoted(request) + ", {size=252}, " +
                       (fits ? "0) = 0\n" : "0) = -5\n"));
}

// `length` is that of the pushed message: "connect added: ", the longest peer
// id and listen address, and a client address of the length that remains.
Case PushFilled(std::size_t length, std::size_t capacity) {
    const std::string peer(127, 'p');
    const std::string listen(63, 'l');
    const std::string message_start = "connect added: " + peer + " " + listen + " ";
    const std::string client(length - message_start.size(), 'a');
    const bool fits = length < capacity;
    return WithAnyAddress(
        Session("", "connectadd\n" + peer + "\n0\n0\n" + listen + "\n" + client + "\npushget\n",
                kConnectPrompts + LocalClientLine(client) +
                    (fits ? "Push get success\r\npush data: " + message_start + client
                          : std::string("Push get failed, Error: -5")) +
                    "\r\n" + kPrompt,
                AddCall(peer, 0, 0, listen, client) +
                    "TunnelPushGet({size=252}, 1000) = " + (fits ? "0\n" : "-5\n")));
}

Case StressCountFilled(std::size_t length, std::size_t capacity) {
    const bool runs = length < capacity;
    return Session("", "testconnect\n" + Padded(length, '1') + "\np\n",
                   "test times: peer id: " + (runs ? StressRound("p") : "") + kPrompt,
                   runs ? StressCalls("p", 0, false) : "");
}

Case StressPeerIdFilled(std::size_t length, std::size_t capacity) {
    const std::string typed(length, 'q');
    const std::string kept = Kept(typed, capacity);
    return Session("", "testconnect\n1\n" + typed + "\n",
                   "test times: peer id: " + StressRound(kept) + kPrompt,
                   StressCalls(kept, 0, false));
}

// The device id, from config.ini, as "selfget" reads it back.
Case SelfIdFilled(std::size_t length, std::size_t capacity) {
    const std::string configured(length, 'i');
    const std::string kept = Kept(configured, capacity);
    Case c = Session("", "selfget\n", "", "");
    c.config_ini = ConfigIni(configured);
    c.expected_output = Banner(kept) + "Self get success\r\nSelf ID: " + kept + "\r\n" + kPrompt;
    c.expected_trace = StartTrace(kept) + "TunnelSelfGet(out) = 0\n" + kStopTrace;
    return c;
}

std::vector<Case> CapacityCases() {
    // A typed field that is cut says so on standard error, once for each
    // time the case types it.
    const struct {
        const char* name;
        std::size_t capacity;
        std::size_t beyond;
        Case (*make)(std::size_t length, std::size_t capacity);
        const char* typed_field = nullptr;
        int times_typed = 0;
    } rows[] = {
        {"Domain", 128, 200, SetThenGetFilled<'d'>, "passcode", 1},
        {"Comment", 128, 300, SetThenGetFilled<'c'>, "comment", 1},
        {"TunnelSetPasscode", 128, 200, TunnelSetPasscodeFilled, "passcode", 1},
        {"TunnelSetComment", 128, 300, TunnelSetCommentFilled, "comment", 1},
        {"PeerId", 128, 200, PeerIdFilled, "peer id", 4},
        {"Type", 32, 60, TypeOrEncryptFilled<false>, "type", 2},
        {"Encrypt", 32, 60, TypeOrEncryptFilled<true>, "encrypt", 2},
        {"Index", 64, 100, IndexFilled, "index", 1},
        {"ListenAddr", 64, 100, ListenAddrFilled, "listen addr", 3},
        {"ClientAddr", 64, 100, ClientAddrFilled, "client addr", 5},
        {"RequestData", 256, 400, RequestFilled, "request data", 1},
        // The longest request makes a reply of 261 characters.
        {"ReplyData", 252, 255 + 6, ReplyFilled},
        // The longest peer id and addresses make a message of 270 characters.
        {"PushData", 252, 270, PushFilled},
        {"SelfId", 128, 200, SelfIdFilled},
        {"StressCount", 64, 100, StressCountFilled, "test times", 1},
        {"StressPeerId", 128, 200, StressPeerIdFilled, "peer id", 1},
    };
    std::vector<Case> cases;
    for (const auto& row : rows) {
        for (const std::size_t length : {row.capacity - 1, row.capacity, row.beyond}) {
            Case c = row.make(length, row.capacity);
            c.name = std::string(row.name) + "_" + std::to_string(length);
            for (int i = 0;
                 row.typed_field != nullptr && length >= row.capacity && i < row.times_typed; ++i) {
                c.expected_errors += CutLine(row.typed_field, row.capacity - 1);
            }
            cases.push_back(c);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Capacity, CommandsE2e, testing::ValuesIn(CapacityCases()), CaseName);

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
        {"MinusPast64Bits", "-18446744073709551615"},
    };
    for (const auto& [name, count] : counts) {
        cases.push_back(Session(std::string("CountRunsNothing") + name,
                                std::string("testconnect\n") + count + "\np\n", prompts + kPrompt,
                                ""));
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Stress, CommandsE2e, testing::ValuesIn(StressCases()), CaseName);

// -q leaves out every prompt; -e ends the run at the first failure line, with
// status 1, and standard error names the input line (fields counted) and
// the command. Until then the output is the same as without -e.
Case WithArguments(std::vector<std::string> arguments, Case c) {
    c.arguments = std::move(arguments);
    return c;
}

std::vector<Case> OptionCases() {
    const std::string banner = ConfigText(kDeviceId) + "\r\ntunnel started: " + kDeviceId + "\r\n";
    const std::string fields = "commentset\nhello\ncommentget\n" + kAddInput + "help\n";
    const std::string field_calls =
        "TunnelCommentSet(\"hello\") = 0\nTunnelCommentGet(out) = 0\n" + kAddCall;
    Case quiet = WithArguments({"-q"}, Session("QuietLeavesOutEveryPrompt", "versionget\n" + fields,
                                               "", "TunnelVersionGet(out) = 0\n" + field_calls));
    quiet.expected_output = banner +
                            "Version: 1.0.0-sim\r\nSet comment success\r\nComment: hello\r\n"
                            "The connect's local client addr: 127.0.0.1:18000\r\n" +
                            kCommandList;
    std::vector<Case> cases = {quiet};
    Case long_quiet = quiet;
    long_quiet.name = "QuietSpelledLong";
    long_quiet.arguments = {"--quiet"};
    cases.push_back(long_quiet);

    cases.push_back(WithArguments(
        {"-e"}, Session("ExitOnErrorWithoutAFailureChangesNothing",
                        fields.substr(0, fields.size() - std::string("help\n").size()),
                        "comment: Set comment success\r\n" + kPrompt + "Comment: hello\r\n" +
                            kPrompt + kAddOutput,
                        field_calls)));

    const std::string failing = "versionget\ncommentset\nc\nversionget\n";
    const std::string failing_calls = "TunnelVersionGet(out) = 0\nTunnelCommentSet(\"c\") = -3\n";
    for (const auto& arguments :
         {std::vector<std::string>{"-e"}, std::vector<std::string>{"--exit-on-error"}}) {
        Case c = WithArguments(arguments, Session("ExitOnErrorEndsAtTheFirstFailureLine", failing,
                                                  "Version: 1.0.0-sim\r\n" + kPrompt +
                                                      "comment: Set comment failed, Error: -3\r\n",
                                                  failing_calls, "TunnelCommentSet=-3"));
        c.name += arguments[0] == "-e" ? "" : "SpelledLong";
        c.expected_errors = "tunnelconsole: line 3: commentset failed\r\n";
        c.expected_status = 1;
        cases.push_back(c);
    }
    for (const auto& [name, arguments] :
         {std::pair{"Combined", std::vector<std::string>{"-eq"}},
          std::pair{"Apart", std::vector<std::string>{"-e", "-q"}},
          std::pair{"Reversed", std::vector<std::string>{"--quiet", "-e"}}}) {
        Case c =
            WithArguments(arguments, Session(std::string("QuietAndExitOnError") + name, failing, "",
                                             failing_calls, "TunnelCommentSet=-3"));
        c.expected_output = banner + "Version: 1.0.0-sim\r\nSet comment failed, Error: -3\r\n";
        c.expected_errors = "tunnelconsole: line 3: commentset failed\r\n";
        c.expected_status = 1;
        cases.push_back(c);
    }

    // A failure inside the stress test ends it after the round in progress.
    std::string both_fail_output = StressRound("p");
    const std::size_t list = both_fail_output.find("Connect enum");
    std::string failed_list;
    for (int i = 0; i < 10; ++i) {
        failed_list += "Connect enum failed, Error: -3\r\n";
    }
    both_fail_output.replace(list, both_fail_output.find("Delete connect success") - list,
                             failed_list);
    Case stress = WithArguments(
        {"-e"}, Session("ExitOnErrorEndsTheStressTestAfterTheRound", "testconnect\n3\np\nselfget\n",
                        "test times: peer id: " + both_fail_output, StressCalls("p", -3, true),
                        "TunnelConnectEnum=-3,TunnelConnectLocalQuery=-3"));
    stress.expected_errors = "tunnelconsole: line 3: testconnect failed\r\n";
    stress.expected_status = 1;
    cases.push_back(stress);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Options, CommandsE2e, testing::ValuesIn(OptionCases()), CaseName);

}  // namespace
}  // namespace e2e
