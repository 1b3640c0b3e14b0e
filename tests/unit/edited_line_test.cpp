#include "editor/edited_line.h"
#include "editor/command_history.h"
#include "editor/command_names.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace {

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
