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
        bool command_prompt;
        Echo echo;
        std::string_view keys;
        EditorEnd end;
        std::string drawn;  // every step's bytes, the last EditorFinish's too
        std::string_view line = {};
    } rows[] = {
        {"a line typed and Enter", false, Echo::kShown, "ab\r", EditorEnd::kLine, "> ab\r\n", "ab"},
        {"Ctrl-C abandons", false, Echo::kShown, "ab\x03", EditorEnd::kAbandoned, "> ab\r\n"},
        {"Ctrl-D on an empty line ends", false, Echo::kShown, "\x04", EditorEnd::kEnded, "> \r\n"},
        {"a hidden line draws nothing typed", false, Echo::kHidden, "pw\r", EditorEnd::kLine,
         "> \r\n", "pw"},
        {"a message: the line off and back", false, Echo::kShown, "ab|c\r", EditorEnd::kLine,
         "> ab\r\x1b[J[message]> abc\r\n", "abc"},
        {"Tab completes a command name", true, Echo::kShown, "ver\t\r", EditorEnd::kLine,
         "> versionget\r\n", "versionget"},
        {"Tab lists names: the line, its end and the list", true, Echo::kShown, "s\t\x15\r",
         EditorEnd::kLine, "> s\r\nstatusget  selfget\r\n> s\r> \x1b[J\r\n", ""},
        {"Up recalls the last command line", true, Echo::kShown, "\x1b[A\r", EditorEnd::kLine,
         "> statusget\r\n", "statusget"},
    };
    static CommandHistory history;
    ASSERT_TRUE(HistoryAdd(history, "statusget"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EditorInit({TextKind::kAscii, nullptr}, &history);
        EditorBegin("> ",
                    row.command_prompt ? std::span<const std::string_view>(kNames)
                                       : std::span<const std::string_view>(),
                    row.echo, 80);
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
