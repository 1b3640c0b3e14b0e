// The editor as the console drives it (editor.h): keys in as a terminal
// sends them, and out every drawing step of every answer, the way the line
// ended and the line taken. One row a prompt.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "editor/editor.h"

namespace {

constexpr std::string_view kNames[] = {"versionget", "statusget", "selfget"};

std::string Drawn(std::span<const TerminalDrawing> steps) {
    std::string drawn;
    for (const TerminalDrawing& step : steps) {
        drawn += step.vt_bytes;
    }
    return drawn;
}

TEST(Editor, KeysInStepsAndEndsOut) {
    // '|' in `keys` stands for a message written while the line is off.
    const struct {
        const char* name;
        char prompt;  // 'c' the command prompt, 's' a field, 'h' a hidden field
        std::string_view keys;
        EditorEnd end;
        std::string drawn;  // every step's bytes, the last EditorFinish's too
        std::string_view line = {};
    } rows[] = {
        {"a line typed and Enter", 's', "ab\r", EditorEnd::kLine, "> ab\r\n", "ab"},
        {"Ctrl-C abandons", 's', "ab\x03", EditorEnd::kAbandoned, "> ab\r\n"},
        {"Ctrl-D on an empty line ends", 's', "\x04", EditorEnd::kEnded, "> \r\n"},
        {"a hidden line draws nothing typed", 'h', "pw\r", EditorEnd::kLine, "> \r\n", "pw"},
        {"a message: the line off and back", 's', "ab|c\r", EditorEnd::kLine,
         "> ab\r\x1b[J[message]> abc\r\n", "abc"},
        {"Tab completes a command name", 'c', "ver\t\r", EditorEnd::kLine, "> versionget\r\n",
         "versionget"},
        {"Tab lists names: the line, its end and the list", 'c', "s\t\x15\r", EditorEnd::kLine,
         "> s\r\nstatusget  selfget\r\n> s\r> \x1b[J\r\n", ""},
        {"Up recalls the last command line", 'c', "\x1b[A\r", EditorEnd::kLine, "> statusget\r\n",
         "statusget"},
    };
    static CommandHistory history;
    ASSERT_TRUE(HistoryAdd(history, "statusget"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EditorInit({TextKind::kAscii, nullptr}, &history);
        EditorBegin("> ", std::span(kNames).first(row.prompt == 'c' ? std::size(kNames) : 0),
                    row.prompt == 'h' ? Echo::kHidden : Echo::kShown, 80);
        std::string drawn;
        EditorEnd end = EditorEnd::kGoesOn;
        for (const char key : row.keys) {
            if (key == '|') {
                drawn += Drawn(EditorHide()) + "[message]";
                drawn += Drawn(EditorShow());
                continue;
            }
            const EditorAnswer answer = EditorFeedByte(key);
            drawn += Drawn(answer.steps);
            end = answer.end;
            if (end != EditorEnd::kGoesOn) {
                break;
            }
            drawn += Drawn(EditorDraw());
        }
        drawn += Drawn(EditorFinish());
        EXPECT_EQ(end, row.end);
        EXPECT_EQ(drawn, row.drawn);
        std::array<char, 64> line{};
        bool ended = false;
        bool for_history = false;
        if (end == EditorEnd::kLine) {
            EXPECT_EQ(EditorTakeLine(line, ended, for_history), row.line);
        }
    }
}

}  // namespace
