// The stand-in library, through its interface and through its internal
// parsers and formatters (the environment is read once per process, so the
// switches are set through ReplaceSwitches instead).
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../common/scratch.h"
#include "sim_internal.h"
#include "sim_switches.h"
#include "tunnel/tunnel_api.h"

namespace fs = std::filesystem;
namespace ts = tunnel_sim;

namespace {

// A hang guard for waits on other threads, never a timing expectation.
constexpr auto kHangGuard = std::chrono::seconds(60);

// Everything the library reports, shared with its heartbeat thread.
struct LogSink {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> messages;
    std::atomic<int> entered{0};
    std::atomic<int> left{0};
} g_log;

int32_t RecordLog(int32_t, const char* message) {
    ++g_log.entered;
    {
        std::lock_guard lock(g_log.mutex);
        g_log.messages.emplace_back(message);
    }
    g_log.changed.notify_all();
    ++g_log.left;
    return static_cast<int32_t>(std::strlen(message));
}

std::vector<std::string> LoggedMessages() {
    std::lock_guard lock(g_log.mutex);
    return g_log.messages;
}

DataRecord EmptyData(uint32_t size = kDataCapacity) {
    DataRecord record{};
    record.size = size;
    return record;
}

std::string PushText(const DataRecord& record) {
    return std::string(record.data.data());
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ReplaceSwitches({});
        TunnelStop();
        std::lock_guard lock(g_log.mutex);
        g_log.messages.clear();
    }
    void TearDown() override {
        TunnelStop();
        ts::ReplaceSwitches({});
    }
    std::string Config(const std::string& dev_id) const {
        return "(DevID){" + dev_id + "}(Home){" + (temp_.path() / "Home").string() + "}";
    }
    ResultCode Start(const std::string& dev_id = "self-1") {
        const std::string config = Config(dev_id);
        return TunnelStart("tunnel.cfg", config.c_str(), 0, &RecordLog);
    }
    ResultCode Add(const char* peer, const char* listen, const char* client = "", int32_t type = 0,
                   int32_t encrypt = 0) {
        char local[kAddressCapacity] = {};
        const ResultCode result = TunnelConnectAdd("", peer, type, encrypt, listen, client, local);
        last_client_ = local;
        return result;
    }
    std::vector<std::string> EnumPeers() {
        std::vector<std::string> peers;
        ConnectRecord record;
        for (int32_t i = 0; TunnelConnectEnum(i, &record) == kSimOk; ++i) {
            peers.emplace_back(record.peer_id.data());
        }
        return peers;
    }

    Scratch temp_;
    std::string last_client_;
};

TEST_F(SimTest, EveryOperationButConfigGetAndStartNeedsAStartedTunnel) {
    char text[kCommentOutCapacity];
    PeerInfoRecord info;
    ConnectRecord record;
    DataRecord data = EmptyData();
    uint32_t status = 0;
    const std::vector<std::pair<const char*, std::function<ResultCode()>>> calls = {
        {"Stop", [&] { return TunnelStop(); }},
        {"VersionGet", [&] { return TunnelVersionGet(text); }},
        {"DomainSet", [&] { return TunnelDomainSet("d"); }},
        {"DomainGet", [&] { return TunnelDomainGet(text); }},
        {"CommentSet", [&] { return TunnelCommentSet("c"); }},
        {"CommentGet", [&] { return TunnelCommentGet(text); }},
        {"Set", [&] { return TunnelSet("p", "c"); }},
        {"PeerInfoGet", [&] { return TunnelPeerInfoGet("p", &info); }},
        {"ConnectAdd", [&] { return TunnelConnectAdd("", "p", 0, 0, "1.2.3.4:5", "", text); }},
        {"ConnectDelete", [&] { return TunnelConnectDelete("", "p", 0, 0, "1.2.3.4:5", ""); }},
        {"ConnectQuery", [&] { return TunnelConnectQuery("p", 0, 0, "1.2.3.4:5", text); }},
        {"ConnectLocalDelete", [&] { return TunnelConnectLocalDelete("", "1.2.3.4:5"); }},
        {"ConnectLocalQuery", [&] { return TunnelConnectLocalQuery("1.2.3.4:5", &record); }},
        {"UserExtend", [&] { return TunnelUserExtend("x", &data, 0); }},
        {"PushGet", [&] { return TunnelPushGet(&data, 0); }},
        {"SelfGet", [&] { return TunnelSelfGet(text); }},
        {"ConnectEnum", [&] { return TunnelConnectEnum(0, &record); }},
        {"StatusGet", [&] { return TunnelStatusGet(0, &status); }},
        // Even null arguments: the started check comes first.
        {"VersionGet(null)", [&] { return TunnelVersionGet(nullptr); }},
        {"PushGet(null)", [&] { return TunnelPushGet(nullptr, 0); }},
    };
    for (const auto& [name, call] : calls) {
        EXPECT_EQ(call(), kSimNotStarted) << name;
    }
}

TEST_F(SimTest, StartNeedsDevIdAndAUsableHome) {
    const std::string home = (temp_.path() / "Home").string();
    const std::string file = temp_.File("plain", "x");
    const struct {
        std::string config;
        ResultCode expected;
    } cases[] = {
        {"", kSimInvalidArgument},
        {"(Home){" + home + "}", kSimInvalidArgument},
        {"(DevID){}(Home){" + home + "}", kSimInvalidArgument},
        {"(DevID){" + std::string(kSelfIdCapacity, 'd') + "}(Home){" + home + "}",
         kSimInvalidArgument},
        {"(DevID){a}", kSimInvalidArgument},
        {"(DevID){a}(Home){}", kSimInvalidArgument},
        {"(DevID){a}(Home){" + file + "}", kSimConfigFile},
        // One level only: the parent must exist.
        {"(DevID){a}(Home){" + home + "/deeper}", kSimConfigFile},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TunnelStart("tunnel.cfg", c.config.c_str(), 0, &RecordLog), c.expected)
            << c.config;
        EXPECT_EQ(TunnelStop(), kSimNotStarted) << c.config;
    }
    EXPECT_EQ(TunnelStart(nullptr, "(DevID){a}", 0, nullptr), kSimInvalidArgument);
    EXPECT_EQ(TunnelStart("tunnel.cfg", nullptr, 0, nullptr), kSimInvalidArgument);
    EXPECT_TRUE(LoggedMessages().empty());

    // Items one per line work as well as concatenated ones.
    const std::string lines = "(DevID){dev-7}\r\n(Home){" + home + "}\r\n";
    ASSERT_EQ(TunnelStart("tunnel.cfg", lines.c_str(), 0, &RecordLog), kSimOk);
    EXPECT_TRUE(fs::is_directory(home));
    EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"tunnel started: dev-7\n"});
    EXPECT_EQ(TunnelStart("tunnel.cfg", lines.c_str(), 0, &RecordLog), kSimAlreadyStarted);
    char self[kSelfIdCapacity];
    ASSERT_EQ(TunnelSelfGet(self), kSimOk);
    EXPECT_STREQ(self, "dev-7");
    EXPECT_EQ(TunnelStop(), kSimOk);
    EXPECT_EQ(TunnelStop(), kSimNotStarted);
    // An existing Home is reused.
    EXPECT_EQ(TunnelStart("tunnel.cfg", lines.c_str(), 0, nullptr), kSimOk);
}

TEST(SimConfigText, BuildsDevIdFirstThenOneItemPerLine) {
    const struct {
        const char* name;
        std::string content;
        std::string expected;
    } cases[] = {
        {"empty", "", "(DevID){}"},
        {"crlf", "(Home){H}\r\n(DevID){d1}\r\n(Log){2}\r\n", "(DevID){d1}(Home){H}(Log){2}"},
        {"lf, no final break", "(A){1}\n(B){2}", "(DevID){}(A){1}(B){2}"},
        {"first item of a line", "x (A){1}(B){2}\n", "(DevID){}(A){1}"},
        {"lines without items", "junk\n\n(A{1}\n(A)1\n(B){2}\n", "(DevID){}(B){2}"},
        {"stray paren", "((A){1}\n", "(DevID){}(A){1}"},
        {"empty value", "(A){}\n", "(DevID){}(A){}"},
        {"item across a break", "(A){1\n}\n", "(DevID){}"},
        {"eof mark", "(A){1}\n(B){2}\x1a(C){3}\n\x1a\n(D){4}\n", "(DevID){}(A){1}(B){2}"},
        {"second DevID", "(DevID){a}\n(DevID){b}\n(X){y}\n", "(DevID){a}(X){y}"},
        {"lone cr stays in the line", "(A){1}\r(B){2}\n", "(DevID){}(A){1}"},
        {"lone cr ends no value", "(A){1\r2}\n", "(DevID){}"},
        {"value runs to its closing brace", "(Home){C:\\P (x86)\\{x}\n",
         "(DevID){}(Home){C:\\P (x86)\\{x}"},
        {"value ends at its first closing brace", "(A){x}y}\n", "(DevID){}(A){x}"},
        {"name holds no parenthesis", "(A(B){1}\n", "(DevID){}(B){1}"},
        {"empty name", "(){1}(A){2}\n", "(DevID){}(A){2}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ts::ConfigTextFromFile(c.content), c.expected) << c.name;
    }
}

TEST(SimConfigText, ParsesItemsConcatenatedOrOnLines) {
    const auto items = ts::ParseItems("(DevID){a}(Home){/h}\n(X){}  (Y){z}");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1].name, "Home");
    EXPECT_EQ(items[1].value, "/h");
    EXPECT_EQ(items[2].value, "");
    EXPECT_EQ(items[3].name, "Y");
    EXPECT_EQ(ts::FindItemValue("(Home){1}(Home){2}", "Home"), "1");
    EXPECT_EQ(ts::FindItemValue("(DevID){a}(Home){/b (1)/c}(X){y}", "Home"), "/b (1)/c");
    EXPECT_EQ(ts::FindItemValue("(DevID){a}(Home){/b (1)/c}(X){y}", "X"), "y");
    EXPECT_FALSE(ts::FindItemValue("(home){1}", "Home"));
}

TEST_F(SimTest, ConfigGetReadsAFileBeforeStart) {
    const std::string path =
        temp_.File("t.cfg", "# settings\r\n(Home){Home}\r\n(DevID){dev-9}\n(Log){2}\x1a(X){y}");
    const std::string expected = "(DevID){dev-9}(Home){Home}(Log){2}";
    char text[kConfigTextCapacity];
    ASSERT_EQ(TunnelConfigGet(path.c_str(), text, sizeof text), kSimOk);
    EXPECT_EQ(text, expected);

    const auto exact = static_cast<int32_t>(expected.size() + 1);
    EXPECT_EQ(TunnelConfigGet(path.c_str(), text, exact), kSimOk);
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(TunnelConfigGet(path.c_str(), text, exact - 1), kSimBufferTooSmall);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(TunnelConfigGet(path.c_str(), text, 0), kSimInvalidArgument);
    EXPECT_EQ(TunnelConfigGet(path.c_str(), text, -1), kSimInvalidArgument);
    EXPECT_EQ(TunnelConfigGet(path.c_str(), nullptr, 256), kSimInvalidArgument);
    EXPECT_EQ(TunnelConfigGet(nullptr, text, 256), kSimInvalidArgument);
    const std::string missing = (temp_.path() / "missing.cfg").string();
    EXPECT_EQ(TunnelConfigGet(missing.c_str(), text, 256), kSimConfigFile);
    EXPECT_EQ(TunnelConfigGet(temp_.path().c_str(), text, 256), kSimConfigFile);
}

TEST_F(SimTest, BareNamesResolveBesideTheExecutable) {
    const fs::path beside = fs::read_symlink("/proc/self/exe").parent_path();
    const std::string name = "sim_test_" + std::to_string(::getpid());
    std::ofstream(beside / (name + ".cfg")) << "(DevID){near}\n";
    char text[kConfigTextCapacity];
    const ResultCode result = TunnelConfigGet((name + ".cfg").c_str(), text, sizeof text);
    fs::remove(beside / (name + ".cfg"));
    ASSERT_EQ(result, kSimOk);
    EXPECT_STREQ(text, "(DevID){near}");

    const std::string config = "(DevID){a}(Home){" + name + "}";
    const ResultCode started = TunnelStart("tunnel.cfg", config.c_str(), 0, nullptr);
    const bool created = fs::is_directory(beside / name);
    fs::remove(beside / name);
    EXPECT_EQ(started, kSimOk);
    EXPECT_TRUE(created);
}

TEST(SimEndpoint, AcceptsOnlyCanonicalIpv4WithPort) {
    for (const char* valid :
         {"0.0.0.0:1", "255.255.255.255:65535", "10.0.0.2:6000", "100.20.3.0:10"}) {
        EXPECT_TRUE(ts::IsValidEndpoint(valid)) << valid;
    }
    for (const char* invalid :
         {"", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "256.0.0.1:80",
          "1.2.3:80", "1.2.3.4.5:80", "1..3.4:80", "01.2.3.4:80", "1.2.3.4:080", " 1.2.3.4:80",
          "1.2.3.4:80 ", "a.b.c.d:80", "1.2.3.4:-1", "1.2.3.4:+80", "1.2.3.4:80:81",
          "1.2.3.4:999999", "1.2.3.256:80"}) {
        EXPECT_FALSE(ts::IsValidEndpoint(invalid)) << invalid;
    }
}

TEST_F(SimTest, ConnectionsRejectBadArguments) {
    ASSERT_EQ(Start(), kSimOk);
    for (const char* bad : {"", "127.0.0.1", "1.2.3.4:0", "300.1.1.1:80", "localhost:80"}) {
        EXPECT_EQ(Add("p", bad), kSimInvalidArgument) << bad;
        EXPECT_EQ(Add("p", "1.2.3.4:80", bad[0] == '\0' ? "x" : bad), kSimInvalidArgument) << bad;
    }
    const std::string long_peer(kPeerIdCapacity, 'p');
    EXPECT_EQ(Add(long_peer.c_str(), "1.2.3.4:80"), kSimInvalidArgument);
    EXPECT_EQ(Add("", "1.2.3.4:80"), kSimInvalidArgument);
    char local[kAddressCapacity];
    EXPECT_EQ(TunnelConnectAdd(nullptr, "p", 0, 0, "1.2.3.4:80", "", local), kSimInvalidArgument);
    EXPECT_EQ(TunnelConnectAdd("", "p", 0, 0, "1.2.3.4:80", "", nullptr), kSimInvalidArgument);
    EXPECT_TRUE(EnumPeers().empty());
}

TEST_F(SimTest, AddQueryEnumDeleteStayConsistent) {
    ASSERT_EQ(Start(), kSimOk);
    ASSERT_EQ(Add("a", "10.0.0.1:80"), kSimOk);
    EXPECT_EQ(last_client_, "127.0.0.1:20000");
    ASSERT_EQ(Add("b", "10.0.0.1:80", "", 1, 1), kSimOk);
    EXPECT_EQ(last_client_, "127.0.0.1:20001");
    ASSERT_EQ(Add("c", "10.0.0.3:80", "127.0.0.1:20002", -1, 7), kSimOk);
    EXPECT_EQ(EnumPeers(), (std::vector<std::string>{"a", "b", "c"}));

    // Deleting from the middle keeps the others' order and frees its address.
    EXPECT_EQ(TunnelConnectDelete("", "b", 1, 1, "10.0.0.1:80", "127.0.0.1:20000"), kSimNotFound);
    ASSERT_EQ(TunnelConnectDelete("", "b", 1, 1, "10.0.0.1:80", ""), kSimOk);
    EXPECT_EQ(TunnelConnectDelete("", "b", 1, 1, "10.0.0.1:80", ""), kSimNotFound);
    EXPECT_EQ(EnumPeers(), (std::vector<std::string>{"a", "c"}));
    ASSERT_EQ(Add("d", "10.0.0.4:80"), kSimOk);
    EXPECT_EQ(last_client_, "127.0.0.1:20001");
    EXPECT_EQ(EnumPeers(), (std::vector<std::string>{"a", "c", "d"}));

    char client[kAddressCapacity];
    ASSERT_EQ(TunnelConnectQuery("c", -1, 7, "10.0.0.3:80", client), kSimOk);
    EXPECT_STREQ(client, "127.0.0.1:20002");
    EXPECT_EQ(TunnelConnectQuery("c", -1, 8, "10.0.0.3:80", client), kSimNotFound);

    ConnectRecord record;
    std::memset(&record, 0xab, sizeof record);
    ASSERT_EQ(TunnelConnectLocalQuery("127.0.0.1:20002", &record), kSimOk);
    EXPECT_STREQ(record.peer_id.data(), "c");
    EXPECT_EQ(record.type, 0xffffffffu);
    EXPECT_EQ(record.encrypt, 7u);
    EXPECT_STREQ(record.listen_addr.data(), "10.0.0.3:80");
    EXPECT_STREQ(record.client_addr.data(), "127.0.0.1:20002");
    EXPECT_EQ(record.peer_id.back(), '\0');
    EXPECT_EQ(record.client_addr.back(), '\0');
    for (int32_t index : {-1, 3}) {
        EXPECT_EQ(TunnelConnectEnum(index, &record), kSimNotFound) << index;
    }

    uint32_t status = 0;
    ASSERT_EQ(TunnelStatusGet(0, &status), kSimOk);
    EXPECT_EQ(status, 1u | (3u << 8));

    EXPECT_EQ(TunnelConnectLocalDelete("", "127.0.0.1:20000"), kSimOk);
    EXPECT_EQ(TunnelConnectLocalDelete("", "127.0.0.1:20000"), kSimNotFound);
    EXPECT_EQ(TunnelConnectLocalQuery("127.0.0.1:20000", &record), kSimNotFound);
    EXPECT_EQ(EnumPeers(), (std::vector<std::string>{"c", "d"}));
}

TEST_F(SimTest, DuplicatesAndAFullTableAreRefused) {
    ASSERT_EQ(Start(), kSimOk);
    ASSERT_EQ(Add("a", "10.0.0.1:80", "127.0.0.1:9000"), kSimOk);
    EXPECT_EQ(Add("a", "10.0.0.1:80"), kSimAlreadyExists);
    EXPECT_EQ(Add("b", "10.0.0.1:80", "127.0.0.1:9000"), kSimAlreadyExists);
    EXPECT_EQ(Add("a", "10.0.0.1:80", "", 0, 1), kSimOk);

    for (int port = 2; port < kSimMaxConnections; ++port) {
        const std::string listen = "10.0.0.1:" + std::to_string(port);
        ASSERT_EQ(Add("a", listen.c_str()), kSimOk) << port;
    }
    EXPECT_EQ(EnumPeers().size(), static_cast<std::size_t>(kSimMaxConnections));
    EXPECT_EQ(Add("a", "10.0.0.1:1"), kSimTableFull);
    // A duplicate is reported as such even when the table is full.
    EXPECT_EQ(Add("a", "10.0.0.1:80"), kSimAlreadyExists);
    uint32_t status = 0;
    ASSERT_EQ(TunnelStatusGet(0, &status), kSimOk);
    EXPECT_EQ(status >> 8, static_cast<uint32_t>(kSimMaxConnections));
}

// A connected peer's record is printed whole by the end-to-end rows.
TEST_F(SimTest, PeerInfoForSelfAndStranger) {
    ASSERT_EQ(Start("me"), kSimOk);
    PeerInfoRecord info;
    std::memset(&info, 0xab, sizeof info);
    ASSERT_EQ(TunnelPeerInfoGet("me", &info), kSimOk);
    EXPECT_STREQ(info.peer_id.data(), "me");
    EXPECT_EQ(info.type, 0u);
    EXPECT_STREQ(info.local_login_addr.data(), "127.0.0.1:6000");
    EXPECT_STREQ(info.remote_login_addr.data(), "");
    EXPECT_STREQ(info.remote_private_addr.data(), "");
    EXPECT_EQ(info.remote_private_addr.back(), '\0');

    std::memset(&info, 0xab, sizeof info);
    EXPECT_EQ(TunnelPeerInfoGet("stranger", &info), kSimNotFound);
    EXPECT_EQ(info.type, 0xababababu);
    EXPECT_EQ(TunnelPeerInfoGet("", &info), kSimInvalidArgument);
    EXPECT_EQ(TunnelPeerInfoGet(nullptr, &info), kSimInvalidArgument);
}

TEST_F(SimTest, SettingsKeepTheirLimitsAndShareTheComment) {
    ASSERT_EQ(Start(), kSimOk);
    const std::string longest(kDomainCapacity - 1, 'x');
    const std::string too_long(kDomainCapacity, 'x');
    char text[kCommentOutCapacity];
    EXPECT_EQ(TunnelDomainSet(too_long.c_str()), kSimInvalidArgument);
    ASSERT_EQ(TunnelDomainSet(longest.c_str()), kSimOk);
    ASSERT_EQ(TunnelDomainGet(text), kSimOk);
    EXPECT_EQ(text, longest);
    ASSERT_EQ(TunnelDomainSet(""), kSimOk);
    ASSERT_EQ(TunnelDomainGet(text), kSimOk);
    EXPECT_STREQ(text, "");

    ASSERT_EQ(TunnelCommentSet("first"), kSimOk);
    ASSERT_EQ(TunnelSet("secret", "second"), kSimOk);
    ASSERT_EQ(TunnelCommentGet(text), kSimOk);
    EXPECT_STREQ(text, "second");
    // A refused set changes neither value.
    EXPECT_EQ(TunnelSet(too_long.c_str(), "third"), kSimInvalidArgument);
    EXPECT_EQ(TunnelSet("secret", nullptr), kSimInvalidArgument);
    ASSERT_EQ(TunnelCommentGet(text), kSimOk);
    EXPECT_STREQ(text, "second");
    ASSERT_EQ(TunnelVersionGet(text), kSimOk);
    EXPECT_STREQ(text, "1.0.0-sim");
}

TEST_F(SimTest, UserExtendEchoesWithinTheReplySize) {
    ASSERT_EQ(Start(), kSimOk);
    // The echoes themselves are end-to-end rows.
    DataRecord reply = EmptyData();
    ASSERT_EQ(TunnelUserExtend("hi", &reply, 5), kSimOk);
    EXPECT_EQ(reply.size, 8u);
    reply = EmptyData(9);
    EXPECT_EQ(TunnelUserExtend("hi", &reply, 0), kSimOk);
    reply = EmptyData(8);
    EXPECT_EQ(TunnelUserExtend("hi", &reply, 0), kSimBufferTooSmall);
    EXPECT_EQ(reply.size, 8u);
    // A size beyond the record's array does not buy more room.
    const std::string request(kDataCapacity - 6, 'r');
    reply = EmptyData(1000);
    EXPECT_EQ(TunnelUserExtend(request.c_str(), &reply, 0), kSimBufferTooSmall);
    EXPECT_EQ(TunnelUserExtend(request.c_str() + 1, &reply, 0), kSimOk);
    EXPECT_EQ(TunnelUserExtend(nullptr, &reply, 0), kSimInvalidArgument);
}

TEST_F(SimTest, LookupsTellMalformedEndpointsFromMissingOnes) {
    ASSERT_EQ(Start(), kSimOk);
    ASSERT_EQ(Add("p", "1.2.3.4:80", "127.0.0.1:9000"), kSimOk);
    char client[kAddressCapacity] = {};
    ConnectRecord record{};
    const std::pair<const char*, ResultCode> endpoints[] = {{"1.2.3.4:080", kSimInvalidArgument},
                                                            {"", kSimInvalidArgument},
                                                            {"1.2.3.5:80", kSimNotFound}};
    for (const auto& [endpoint, expected] : endpoints) {
        const std::pair<const char*, ResultCode> calls[] = {
            {"ConnectDelete listen", TunnelConnectDelete("", "p", 0, 0, endpoint, "")},
            {"ConnectQuery", TunnelConnectQuery("p", 0, 0, endpoint, client)},
            {"ConnectLocalDelete", TunnelConnectLocalDelete("", endpoint)},
            {"ConnectLocalQuery", TunnelConnectLocalQuery(endpoint, &record)},
        };
        for (const auto& [call, result] : calls) {
            EXPECT_EQ(result, expected) << call << " " << endpoint;
        }
        // An empty client address matches any.
        if (*endpoint != '\0') {
            EXPECT_EQ(TunnelConnectDelete("", "p", 0, 0, "1.2.3.4:80", endpoint), expected)
                << "ConnectDelete client " << endpoint;
        }
    }
    EXPECT_EQ(EnumPeers(), std::vector<std::string>{"p"});
}

TEST_F(SimTest, PushQueueKeepsOrderAndHoldsWhatDoesNotFit) {
    ASSERT_EQ(Start(), kSimOk);
    DataRecord data = EmptyData();
    EXPECT_EQ(TunnelPushGet(&data, 0), kSimTimeout);
    EXPECT_EQ(TunnelPushGet(&data, -5), kSimTimeout);
    EXPECT_EQ(TunnelPushGet(&data, 1), kSimTimeout);

    ASSERT_EQ(Add("a", "10.0.0.1:80"), kSimOk);
    ASSERT_EQ(TunnelConnectLocalDelete("", "127.0.0.1:20000"), kSimOk);
    const std::string added = "connect added: a 10.0.0.1:80 127.0.0.1:20000";
    data = EmptyData(static_cast<uint32_t>(added.size()));
    EXPECT_EQ(TunnelPushGet(&data, 0), kSimBufferTooSmall);
    data = EmptyData();
    ASSERT_EQ(TunnelPushGet(&data, 0), kSimOk);
    EXPECT_EQ(PushText(data), added);
    EXPECT_EQ(data.size, added.size());
    data = EmptyData();
    ASSERT_EQ(TunnelPushGet(&data, 0), kSimOk);
    EXPECT_EQ(PushText(data), "connect deleted: a 10.0.0.1:80 127.0.0.1:20000");
    EXPECT_EQ(TunnelPushGet(&data, 0), kSimTimeout);
}

TEST_F(SimTest, TheLongestPushMessageArrivesWhole) {
    ASSERT_EQ(Start(), kSimOk);
    const std::string peer(kPeerIdCapacity - 1, 'p');
    ASSERT_EQ(Add(peer.c_str(), "255.255.255.255:65535", "255.255.255.254:65535"), kSimOk);
    ASSERT_EQ(TunnelConnectLocalDelete("", "255.255.255.254:65535"), kSimOk);
    for (const char* verb : {"added", "deleted"}) {
        DataRecord data = EmptyData();
        ASSERT_EQ(TunnelPushGet(&data, 0), kSimOk);
        EXPECT_EQ(PushText(data), std::string("connect ") + verb + ": " + peer +
                                      " 255.255.255.255:65535 255.255.255.254:65535");
    }
}

// The fill switch leaves the caller's whole buffer without a NUL.
TEST_F(SimTest, ConfigFillSwitchLeavesNoTerminator) {
    const std::string path = temp_.File("t.cfg", "(DevID){d}");
    ts::Switches switches;
    switches.config_fill = 'x';
    ts::ReplaceSwitches(switches);
    std::array<char, 16> text{};
    ASSERT_EQ(TunnelConfigGet(path.c_str(), text.data(), text.size()), kSimOk);
    EXPECT_EQ(std::string(text.data(), text.size()), "(DevID){d}xxxxxx");
    ts::ReplaceSwitches({});
}

// With any text taken as an address, the longest ones come back whole, and a
// message too long for a record stays queued (the queue holds it whole).
TEST_F(SimTest, AnyAddressSwitchTakesEveryTextThatFits) {
    ts::Switches switches;
    switches.any_address = true;
    ts::ReplaceSwitches(switches);
    ASSERT_EQ(Start(), kSimOk);
    const std::string peer(kPeerIdCapacity - 1, 'p');
    const std::string listen(kAddressCapacity - 1, 'l');
    const std::string client(kAddressCapacity - 1, 'c');
    const std::string unterminated(kAddressCapacity, 'u');
    EXPECT_EQ(Add("p", unterminated.c_str()), kSimInvalidArgument);
    EXPECT_EQ(Add("p", "l", unterminated.c_str()), kSimInvalidArgument);
    ASSERT_EQ(Add(peer.c_str(), listen.c_str(), client.c_str()), kSimOk);
    EXPECT_EQ(last_client_, client);
    ConnectRecord record;
    ASSERT_EQ(TunnelConnectLocalQuery(client.c_str(), &record), kSimOk);
    EXPECT_EQ(std::string(record.listen_addr.data()), listen);
    ASSERT_EQ(TunnelConnectLocalDelete("", client.c_str()), kSimOk);
    DataRecord data = EmptyData();
    EXPECT_EQ(TunnelPushGet(&data, 0), kSimBufferTooSmall);
    EXPECT_EQ(TunnelPushGet(&data, 0), kSimBufferTooSmall);

    ts::ReplaceSwitches({});
    EXPECT_EQ(Add("q", "l", "c"), kSimInvalidArgument);
}

TEST_F(SimTest, PushQueueDropsTheOldestWhenFull) {
    ASSERT_EQ(Start(), kSimOk);
    for (int i = 0; i <= kSimMaxPushQueue; ++i) {
        const std::string peer = std::string("p").append(std::to_string(i));
        ASSERT_EQ(Add(peer.c_str(), "10.0.0.1:80"), kSimOk);
    }
    DataRecord data = EmptyData();
    ASSERT_EQ(TunnelPushGet(&data, 0), kSimOk);
    EXPECT_EQ(PushText(data), "connect added: p1 10.0.0.1:80 127.0.0.1:20001");
    int rest = 0;
    // Each read leaves the length in `size`, so every read needs a fresh record.
    while ((data = EmptyData(), TunnelPushGet(&data, 0)) == kSimOk) {
        ++rest;
    }
    EXPECT_EQ(rest, kSimMaxPushQueue - 1);
}

TEST_F(SimTest, AWaitingPushGetWakesForAMessageOrAStop) {
    ASSERT_EQ(Start(), kSimOk);
    for (const bool stop : {false, true}) {
        ResultCode result = kSimOk;
        DataRecord data = EmptyData();
        std::thread waiter([&] { result = TunnelPushGet(&data, 600000); });
        while (ts::PushWaiterCount() == 0) {
            std::this_thread::yield();
        }
        EXPECT_EQ(stop ? TunnelStop() : Add("late", "10.0.0.9:80"), kSimOk);
        waiter.join();
        EXPECT_EQ(result, stop ? kSimNotStarted : kSimOk) << stop;
        if (!stop) {
            EXPECT_EQ(PushText(data), "connect added: late 10.0.0.9:80 127.0.0.1:20000");
        }
    }
}

TEST_F(SimTest, ConcurrentCallersLeaveAConsistentTable) {
    ASSERT_EQ(Start(), kSimOk);
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            const std::string peer = "w" + std::to_string(t);
            char local[kAddressCapacity];
            DataRecord data;
            for (int i = 0; i < 100; ++i) {
                failures +=
                    TunnelConnectAdd("", peer.c_str(), i, 0, "10.0.0.1:80", "", local) != kSimOk;
                failures += TunnelConnectLocalDelete("", local) != kSimOk;
                data = EmptyData();
                TunnelPushGet(&data, 0);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(failures.load(), 0);
    uint32_t status = 0;
    ASSERT_EQ(TunnelStatusGet(0, &status), kSimOk);
    EXPECT_EQ(status, 1u);
}

TEST_F(SimTest, StopForgetsEverythingAndNeverLogs) {
    ASSERT_EQ(Start("one"), kSimOk);
    ASSERT_EQ(TunnelDomainSet("d"), kSimOk);
    ASSERT_EQ(TunnelSet("p", "c"), kSimOk);
    ASSERT_EQ(Add("a", "10.0.0.1:80"), kSimOk);
    ASSERT_EQ(TunnelStop(), kSimOk);
    EXPECT_EQ(TunnelStop(), kSimNotStarted);
    EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"tunnel started: one\n"});

    ASSERT_EQ(Start("two"), kSimOk);
    char text[kCommentOutCapacity];
    ASSERT_EQ(TunnelDomainGet(text), kSimOk);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(TunnelCommentGet(text), kSimOk);
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(EnumPeers().empty());
    DataRecord data = EmptyData();
    EXPECT_EQ(TunnelPushGet(&data, 0), kSimTimeout);
    PeerInfoRecord info;
    EXPECT_EQ(TunnelPeerInfoGet("one", &info), kSimNotFound);
}

TEST(SimTrace, QuotesTextsAsCStringLiterals) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {nullptr, "null"},
        {"", R"("")"},
        {"plain text", R"("plain text")"},
        {"a\\b\"c", R"("a\\b\"c")"},
        {"\r\n\t", R"("\r\n\t")"},
        {"\x01\x1f\x7f", R"("\x01\x1f\x7f")"},
        {"\xc3\xa9", R"("\xc3\xa9")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ts::QuoteText(c.text), c.expected) << c.expected;
    }
}

// The end-to-end rows give the lines of the calls the program makes; these
// are calls it never makes.
TEST_F(SimTest, TraceWritesOneLinePerCall) {
    const fs::path trace = temp_.path() / "trace.log";
    ts::Switches switches;
    switches.trace_path = trace.string();
    ts::ReplaceSwitches(switches);

    char text[kConfigTextCapacity];
    TunnelVersionGet(text);
    ASSERT_EQ(Start("abc"), kSimOk);
    DataRecord data = EmptyData(10);
    TunnelPushGet(&data, 0);
    TunnelPeerInfoGet(nullptr, nullptr);
    TunnelStop();

    EXPECT_EQ(ReadBytes(trace), "TunnelVersionGet(out) = -1\nTunnelStart(\"tunnel.cfg\", \"" +
                                    Config("abc") +
                                    "\", 0, callback) = 0\nTunnelPushGet({size=10}, 0) = -6\n"
                                    "TunnelPeerInfoGet(null, null) = -2\nTunnelStop() = 0\n");
}

TEST(SimSwitches, FaultListsKeepGoodEntriesAndWarnOnceForEachBadOne) {
    const struct {
        const char* list;
        std::vector<std::pair<ts::Operation, int32_t>> faults;
        std::size_t warnings;
    } cases[] = {
        {"TunnelStart=-9,TunnelVersionGet=-5",
         {{ts::Operation::kStart, -9}, {ts::Operation::kVersionGet, -5}},
         0},
        {" TunnelStop = 3 ,,", {{ts::Operation::kStop, 3}}, 0},
        {"TunnelStatusGet=0", {{ts::Operation::kStatusGet, 0}}, 0},
        {"TunnelStart=-1,TunnelStart=-2", {{ts::Operation::kStart, -2}}, 0},
        {"TunnelStart", {}, 1},
        {"Bogus=-1,TunnelStop=-2", {{ts::Operation::kStop, -2}}, 1},
        {"tunnelstart=-1", {}, 1},
        {"TunnelStart=x,TunnelStart=1x,TunnelStart=,TunnelStart=99999999999", {}, 4},
        {"=-1", {}, 1},
    };
    for (const auto& c : cases) {
        ts::Switches switches;
        std::vector<std::string> warnings;
        ts::ParseFaults(c.list, switches, warnings);
        std::array<std::optional<int32_t>, ts::kOperationCount> expected{};
        for (const auto& [operation, code] : c.faults) {
            expected[static_cast<int>(operation)] = code;
        }
        EXPECT_EQ(switches.faults, expected) << c.list;
        ASSERT_EQ(warnings.size(), c.warnings) << c.list;
        for (const std::string& warning : warnings) {
            EXPECT_EQ(warning.back(), '\n');
            EXPECT_EQ(warning.find('\n'), warning.size() - 1) << warning;
        }
    }
}

TEST(SimSwitches, EveryOperationNameRoundTrips) {
    for (int i = 0; i < ts::kOperationCount; ++i) {
        const auto operation = static_cast<ts::Operation>(i);
        EXPECT_EQ(ts::FindOperation(ts::OperationName(operation)), operation) << i;
    }
    EXPECT_EQ(ts::OperationName(ts::Operation::kStatusGet), "TunnelStatusGet");
}

TEST(SimSwitches, ReadsTheThreeVariables) {
    std::vector<std::string> warnings;
    auto switches = ts::SwitchesFromValues("TunnelStop=-4", "/tmp/t", "250", warnings);
    EXPECT_EQ(switches.faults[static_cast<int>(ts::Operation::kStop)], -4);
    EXPECT_EQ(switches.trace_path, "/tmp/t");
    EXPECT_EQ(switches.heartbeat_interval_us, 250u);
    EXPECT_TRUE(warnings.empty());

    switches = ts::SwitchesFromValues(nullptr, nullptr, "", warnings);
    EXPECT_TRUE(switches.trace_path.empty());
    EXPECT_FALSE(switches.heartbeat_interval_us);
    EXPECT_TRUE(warnings.empty());
    for (const char* bad : {"-1", "1ms", "x"}) {
        warnings.clear();
        EXPECT_FALSE(ts::SwitchesFromValues(nullptr, nullptr, bad, warnings).heartbeat_interval_us)
            << bad;
        EXPECT_EQ(warnings.size(), 1u) << bad;
    }
}

TEST_F(SimTest, FaultedOperationsSkipTheirWork) {
    ts::Switches switches;
    switches.faults[static_cast<int>(ts::Operation::kStart)] = kSimConfigFile;
    switches.faults[static_cast<int>(ts::Operation::kConfigGet)] = kSimOk;
    ts::ReplaceSwitches(switches);
    char text[kConfigTextCapacity] = "untouched";
    EXPECT_EQ(Start(), kSimConfigFile);
    EXPECT_EQ(TunnelStop(), kSimNotStarted);
    EXPECT_EQ(TunnelConfigGet("/no/such/file", text, 256), kSimOk);
    EXPECT_STREQ(text, "untouched");
    EXPECT_TRUE(LoggedMessages().empty());
    EXPECT_FALSE(fs::exists(temp_.path() / "Home"));
}

TEST_F(SimTest, HeartbeatsFollowTheStartAndStopJoinsTheirThread) {
    for (const uint32_t interval_us : {0u, 50u}) {
        ts::Switches switches;
        switches.heartbeat_interval_us = interval_us;
        ts::ReplaceSwitches(switches);
        {
            std::lock_guard lock(g_log.mutex);
            g_log.messages.clear();
        }
        ASSERT_EQ(Start("hb"), kSimOk);
        {
            std::unique_lock lock(g_log.mutex);
            ASSERT_TRUE(g_log.changed.wait_for(lock, kHangGuard,
                                               [] { return g_log.messages.size() >= 3; }));
        }
        ASSERT_EQ(TunnelStop(), kSimOk);
        EXPECT_EQ(g_log.entered.load(), g_log.left.load()) << "a callback outlived the stop";
        const auto messages = LoggedMessages();
        EXPECT_EQ(messages[0], "tunnel started: hb\n");
        EXPECT_EQ(messages[1], "tunnel heartbeat 1\n");
        EXPECT_EQ(messages[2], "tunnel heartbeat 2\n");
    }
    // Without a callback there is nobody to beat for.
    EXPECT_EQ(TunnelStart("tunnel.cfg", Config("x").c_str(), 0, nullptr), kSimOk);
    EXPECT_EQ(TunnelStop(), kSimOk);
}

}  // namespace
