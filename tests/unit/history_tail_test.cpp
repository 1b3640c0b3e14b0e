#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "../common/scratch.h"
#include "console/history_tail.h"
#include "editor/edited_line.h"

namespace {

// The lines of a history file read from its end, newest first ("!" for one
// too long), with blocks of `block` bytes.
TEST(HistoryTailTest, ReadsTheLastLinesFromTheEnd) {
    const std::string header = "_HiStOrY_V2_\n";
    const std::string x300(300, 'x');
    const struct {
        const char* name;
        std::string file;
        std::size_t block;
        std::string lines;
    } rows[] = {
        {"lines across blocks' edges", header + "versionget\nstatusget\nselfget\n", 5,
         "selfget|statusget|versionget|"},
        {"CR LF", header + "a\r\nbb\r\n\r\nc\n", 3, "c|bb|a|"},
        {"an unended last line", header + "a\nb\nc", 2, "b|a|"},
        {"shorter than a block", header + "a\nb\n", 65536, "b|a|"},
        {"a header only", header, 4, ""},
        {"a line too long across blocks", header + "a\n" + x300 + "\nb\n", 7, "b|!|a|"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Scratch scratch;
        const std::string path = scratch.File("history", row.file);
        std::string buffer(kCommandLineCapacity + row.block, '#');
        HistoryTail tail{.file = {.handle = open(path.c_str(), O_RDONLY | O_CLOEXEC)},
                         .start = header.size(),
                         .end = row.file.size(),
                         .buffer = buffer};
        ASSERT_GE(tail.file.handle, 0);
        StartHistoryTail(tail);
        std::string lines;
        std::string_view line;
        for (TailLine got; (got = OlderHistoryLine(tail, line)) != TailLine::kDone;) {
            if (got == TailLine::kFailed) {
                lines += "failed";
                break;
            }
            lines += (got == TailLine::kTooLong ? "!" : std::string(line)) + "|";
        }
        EXPECT_EQ(lines, row.lines);
        close(static_cast<int>(tail.file.handle));
    }
}

}  // namespace
