#include "console/line_editing.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Keys as letters: L Left, R Right, H Home, E End, B Backspace, D Delete,
// C Esc (clear); anything else is typed.
bool Press(EditedLine& line, char key) {
    switch (key) {
        case 'L':
            return LineMoveLeft(line);
        case 'R':
            return LineMoveRight(line);
        case 'H':
            return LineMoveHome(line);
        case 'E':
            return LineMoveEnd(line);
        case 'B':
            return LineDeleteBefore(line);
        case 'D':
            return LineDeleteAt(line);
        case 'C':
            return LineClear(line);
        default:
            return LineInsert(line, std::string_view(&key, 1));
    }
}

TEST(LineEditingTest, KeysEditTheLineAtTheCursor) {
    const struct {
        std::string_view keys;
        std::string_view text;
        std::size_t cursor;
        bool last_key_acted;
    } rows[] = {
        {"abc", "abc", 3, true},     {"abcLLx", "axbc", 2, true}, {"abcHx", "xabc", 1, true},
        {"abcHRRE", "abc", 3, true}, {"abcB", "ab", 2, true},     {"abcLB", "ac", 1, true},
        {"abcHB", "abc", 0, false},  {"abcHD", "bc", 0, true},    {"abcD", "abc", 3, false},
        {"abcLLD", "ac", 1, true},   {"abcLC", "", 0, true},      {"C", "", 0, false},
        {"L", "", 0, false},         {"abR", "ab", 2, false},     {"abcHL", "abc", 0, false},
        {"aE", "a", 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keys);
        EditedLine line;
        bool acted = false;
        for (const char key : row.keys) {
            acted = Press(line, key);
        }
        EXPECT_EQ(LineText(line), row.text);
        EXPECT_EQ(line.cursor, row.cursor);
        EXPECT_EQ(acted, row.last_key_acted);
        EXPECT_EQ(line.text[line.length], '\0');
    }
}

TEST(LineEditingTest, ALineHoldsWhatACommandLineHolds) {
    EditedLine line;
    const std::string longest(kEditedLineCapacity - 1, 'x');
    EXPECT_TRUE(LineInsert(line, longest));
    EXPECT_FALSE(LineInsert(line, "y"));
    EXPECT_EQ(LineText(line), longest);
    LineReplace(line, std::string(kEditedLineCapacity + 5, 'z'));
    EXPECT_EQ(line.length, kEditedLineCapacity - 1);
    EXPECT_EQ(line.cursor, line.length);
}

TEST(LineEditingTest, ControlCharactersAreDrawnAsCaretAndLetter) {
    const struct {
        std::string_view text;
        std::string_view drawn;
    } rows[] = {
        {"abc", "abc"}, {"\x1a", "^Z"}, {"a\tb", "a^Ib"}, {"\x7f", "^?"}, {"\xe9", "\xe9"},
    };
    for (const auto& row : rows) {
        std::array<char, 16> drawn;
        const std::size_t length = DrawnText(row.text, drawn);
        EXPECT_EQ(std::string_view(drawn.data(), length), row.drawn);
        EXPECT_EQ(CellsOf(row.text), static_cast<int>(row.drawn.size()));
    }
}

TEST(LineEditingTest, HistoryKeepsARepeatedCommandOnceAndTheLastThousand) {
    static CommandHistory history;
    history = {};
    EXPECT_TRUE(HistoryAdd(history, "versionget"));
    EXPECT_FALSE(HistoryAdd(history, "versionget"));
    EXPECT_FALSE(HistoryAdd(history, ""));
    EXPECT_TRUE(HistoryAdd(history, "statusget"));
    EXPECT_TRUE(HistoryAdd(history, "versionget"));
    EXPECT_EQ(history.count, 3u);
    EXPECT_EQ(HistoryEntry(history, 1), "versionget");
    EXPECT_EQ(HistoryEntry(history, 3), "versionget");
    EXPECT_EQ(HistoryEntry(history, 4), "");

    for (int added = 0; added < 1005; ++added) {
        HistoryAdd(history, std::to_string(added));
    }
    EXPECT_EQ(history.count, kHistoryMostEntries);
    EXPECT_EQ(HistoryEntry(history, 1), "1004");
    EXPECT_EQ(HistoryEntry(history, kHistoryMostEntries), "5");
}

TEST(LineEditingTest, UpAndDownWalkTheHistoryAndComeBackToTheTypedLine) {
    static CommandHistory history;
    history = {};
    HistoryAdd(history, "selfget");
    HistoryAdd(history, "statusget");
    // U Up, D Down: the line shown after each.
    const struct {
        std::string_view keys;
        std::string_view shown;
        bool last_key_acted;
    } rows[] = {
        {"U", "statusget", true},   {"UU", "selfget", true}, {"UUU", "selfget", false},
        {"UD", "ver", true},        {"UUDD", "ver", true},   {"D", "ver", false},
        {"UUD", "statusget", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keys);
        EditedLine line;
        LineInsert(line, "ver");
        HistoryPosition position;
        bool acted = false;
        for (const char key : row.keys) {
            acted = HistoryStep(history, position, line, key == 'U');
        }
        EXPECT_EQ(LineText(line), row.shown);
        EXPECT_EQ(line.cursor, line.length);
        EXPECT_EQ(acted, row.last_key_acted);
    }
}

constexpr std::string_view kNames[] = {"quit",       "versionget",   "statusget",
                                       "connectadd", "connectquery", "connectlocalquery"};

TEST(LineEditingTest, TabCompletesTheSharedStartOfTheMatchingNames) {
    const struct {
        std::string_view start;
        int matches;
        std::string_view added;
        std::string_view listed;  // at 30 columns
    } rows[] = {
        {"vers", 1, "ionget", "versionget\r\n"},
        {"versionget", 1, "", "versionget\r\n"},
        {"conn", 3, "ect", "connectadd  connectquery\r\nconnectlocalquery\r\n"},
        {"connectq", 1, "uery", "connectquery\r\n"},
        {"x", 0, "", "\r\n"},
        {"", 6, "",
         "quit  versionget  statusget\r\nconnectadd  connectquery\r\nconnectlocalquery\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.start);
        const Completion completion = CompleteCommandName(row.start, kNames);
        EXPECT_EQ(completion.matches, row.matches);
        EXPECT_EQ(completion.added, row.added);
        std::array<char, 256> listed;
        EXPECT_EQ(std::string_view(listed.data(), ListCommandNames(row.start, kNames, 30, listed)),
                  row.listed);
    }
    EXPECT_TRUE(NamesCommand("quit", kNames));
    EXPECT_FALSE(NamesCommand("qui", kNames));
}

// A byte 0x1A ends the input after the text before it; the rest is cut to
// the room the caller has.
TEST(LineEditingTest, ATypedLineIsHandedOnUnderTheTextRules) {
    const struct {
        std::string_view typed;
        std::optional<std::string_view> handed;
        bool ended;
    } rows[] = {
        {"statusget", "statusget", false},
        {"status\x1aget", "status", true},
        {"\x1aversionget", std::nullopt, true},
        {"0123456789AB", "0123456789", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        std::array<char, 11> line;
        bool ended = false;
        EXPECT_EQ(TakeTypedLine(row.typed, line, ended), row.handed);
        EXPECT_EQ(ended, row.ended);
        if (row.handed) {
            EXPECT_EQ(line[row.handed->size()], '\0');
        }
    }
}

}  // namespace
