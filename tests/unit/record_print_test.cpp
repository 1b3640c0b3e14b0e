#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "commands/record_print.h"
#include "console/console.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

template <typename Record>
std::string Printed(const Record& record) {
    CaptureStdout();
    if constexpr (std::is_same_v<Record, ConnectRecord>) {
        PrintConnectRecord(record);
    } else {
        PrintPeerInfoRecord(record);
    }
    ConsoleFlush();
    return GetCapturedStdout();
}

template <std::size_t N>
void SetText(std::array<char, N>& field, const char* text) {
    std::strncpy(field.data(), text, N);
}

TEST(RecordPrintTest, ZeroFilledConnectRecord) {
    EXPECT_EQ(Printed(ConnectRecord{}),
              "peer id: \r\ntype: 0\r\nencrypt: 0\r\nlisten addr: \r\nclient addr: \r\n");
}

TEST(RecordPrintTest, ConnectRecordFieldsAndUnsignedNumbers) {
    ConnectRecord record{};
    SetText(record.peer_id, "peer-1");
    record.type = 0x80000000u;
    record.encrypt = 0xFFFFFFFFu;
    SetText(record.listen_addr, "127.0.0.1:8000");
    SetText(record.client_addr, "127.0.0.1:18000");
    EXPECT_EQ(Printed(record),
              "peer id: peer-1\r\ntype: 2147483648\r\nencrypt: 4294967295\r\n"
              "listen addr: 127.0.0.1:8000\r\nclient addr: 127.0.0.1:18000\r\n");
}

TEST(RecordPrintTest, PeerInfoRecordInFieldOrder) {
    PeerInfoRecord record{};
    SetText(record.peer_id, "p");
    record.type = 1;
    SetText(record.local_login_addr, "a");
    SetText(record.remote_login_addr, "b");
    SetText(record.local_tunnel_addr, "c");
    SetText(record.remote_tunnel_addr, "d");
    SetText(record.remote_private_addr, "e");
    EXPECT_EQ(Printed(record),
              "peer id: p\r\ntype: 1\r\nlocal login addr: a\r\nremote login addr: b\r\n"
              "local tunnel addr: c\r\nremote tunnel addr: d\r\nremote private addr: e\r\n");
}

TEST(RecordPrintTest, UnterminatedFieldsPrintExactlyTheirWidth) {
    ConnectRecord record;
    std::memset(&record, 'x', sizeof record);
    record.type = 3;
    record.encrypt = 4;
    const std::string expected = "peer id: " + std::string(128, 'x') +
                                 "\r\ntype: 3\r\nencrypt: 4\r\n" +
                                 "listen addr: " + std::string(64, 'x') +
                                 "\r\nclient addr: " + std::string(64, 'x') + "\r\n";
    EXPECT_EQ(Printed(record), expected);

    PeerInfoRecord info;
    std::memset(&info, 'y', sizeof info);
    info.type = 0;
    const std::string address(64, 'y');
    EXPECT_EQ(Printed(info),
              "peer id: " + std::string(128, 'y') + "\r\ntype: 0\r\n" +
                  "local login addr: " + address + "\r\nremote login addr: " + address +
                  "\r\nlocal tunnel addr: " + address + "\r\nremote tunnel addr: " + address +
                  "\r\nremote private addr: " + address + "\r\n");
}

}  // namespace
