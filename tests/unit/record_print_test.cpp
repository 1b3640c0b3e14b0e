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

// Records the stand-in never gives; the end-to-end rows print those it gives.
TEST(RecordPrintTest, ZeroFilledConnectRecord) {
    EXPECT_EQ(Printed(ConnectRecord{}),
              "peer id: \r\ntype: 0\r\nencrypt: 0\r\nlisten addr: \r\nclient addr: \r\n");
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

TEST(RecordPrintTest, PrintsWholeAcrossAFullBuffer) {
    ConnectRecord record;
    std::memset(&record, 'z', sizeof record);
    record.peer_id[0] = '\n';
    const std::string one = Printed(record);
    std::string many;
    CaptureStdout();
    for (int i = 0; i < 500; ++i) {
        PrintConnectRecord(record);
        many += one;
    }
    ConsoleFlush();
    EXPECT_EQ(GetCapturedStdout(), many);
}

}  // namespace
