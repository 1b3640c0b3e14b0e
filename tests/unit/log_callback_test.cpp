#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "startup/log_callback.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Longer than any print the program stages at once.
std::string LongMessage(const char* line_end) {
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text += "line " + std::to_string(i) + line_end;
    }
    return text;
}

TEST(LogCallbackTest, WritesPlainDataAndReturnsItsLength) {
    const std::string long_message = LongMessage("\n");
    const std::string long_written = LongMessage("\r\n");
    const struct {
        const char* message;
        std::string written;
    } cases[] = {
        {"", ""},
        {"tunnel started\n", "tunnel started\r\n"},
        {"100%s %d %n\n", "100%s %d %n\r\n"},
        {"a\r\nb\rc\n\n", "a\r\r\nb\rc\r\n\r\n"},
        {"no line break", "no line break"},
        {long_message.c_str(), long_written},
    };
    for (const auto& c : cases) {
        CaptureStdout();
        const int32_t length = LogCallback(3, c.message);
        EXPECT_EQ(GetCapturedStdout(), c.written) << c.message;
        EXPECT_EQ(length, static_cast<int32_t>(std::strlen(c.message))) << c.message;
    }
}

TEST(LogCallbackTest, NullMessageWritesNothing) {
    CaptureStdout();
    EXPECT_EQ(LogCallback(0, nullptr), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
