#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "../../fuzz/text_model.h"
#include "text/text_stream.h"

namespace {

// Every line ReadTextLine yields until the end, with the capacity given.
std::vector<std::string> ReadAllLines(const std::string& bytes, std::size_t capacity,
                                      std::size_t chunk) {
    MemorySource memory{bytes, chunk};
    TextReader reader = MakeTextReader(ReadMemory, &memory);
    std::vector<char> line(capacity);
    std::vector<std::string> lines;
    while (const auto text = ReadTextLine(reader, line)) {
        lines.emplace_back(*text);
        EXPECT_EQ(line[text->size()], '\0');
    }
    return lines;
}

struct LineCase {
    const char* name;
    std::string input;
    std::size_t capacity;
    std::vector<std::string> lines;
};

const LineCase kLineCases[] = {
    {"Empty", "", 16, {}},
    {"LfAndCrLf", "a\nb\r\nc\n", 16, {"a", "b", "c"}},
    {"LastLineWithoutBreak", "a\nlast", 16, {"a", "last"}},
    {"EmptyLines", "\n\r\n\n", 16, {"", "", ""}},
    {"LoneCrIsOrdinary", "a\rb\n\r", 16, {"a\rb", "\r"}},
    {"CrCrLf", "a\r\r\nb", 16, {"a\r", "b"}},
    {"SubEndsInput", "a\nb\032c\nd\n", 16, {"a", "b"}},
    {"SubAtLineStart", "a\n\x1a\n", 16, {"a"}},
    {"CrBeforeSub", "a\r\x1a", 16, {"a\r"}},
    {"OverlongKeepsCapacityLessOne", "abcdefgh\nnext\n", 5, {"abcd", "next"}},
    {"ExactlyFillingLine", "abcd\nnext\n", 5, {"abcd", "next"}},
    {"OverlongLastLine", "abcdefgh", 5, {"abcd"}},
    {"NulKeptInsideLine", std::string("a\0b\n", 4), 16, {std::string("a\0b", 3)}},
    // Longer lines, read eight bytes at a time where the buffer allows.
    {"BreakAtEachOffset",
     "1\n12\n123\n1234\n12345\n123456\n1234567\n12345678\n123456789\n",
     16,
     {"1", "12", "123", "1234", "12345", "123456", "1234567", "12345678", "123456789"}},
    {"OtherControlBytesAreOrdinary",
     std::string("ab\tcd\x01\0efgh\x19ijklmn\x1bop\n\t\nlast line\n", 34),
     32,
     {std::string("ab\tcd\x01\0efgh\x19ijklmn\x1bop", 21), "\t", "last line"}},
    {"CrLfAndLoneCrInLongLines",
     "1234567\r\n12345678\r\nabc\rdefghijklm\r\n",
     32,
     {"1234567", "12345678", "abc\rdefghijklm"}},
    {"SubInLongLine", "abcdefghij\032klmnop\n", 32, {"abcdefghij"}},
    {"OverlongLongLine", "abcdefghijklmnopqrstuvwxyz\nnext\n", 11, {"abcdefghij", "next"}},
    {"BreaksWithinAWord", "ab\r\ncd\nef\r\n\r\ngh\ni\r\n", 16, {"ab", "cd", "ef", "", "gh", "i"}},
    {"WordsFillingTheLine",
     "12345678\n123456789abcdefgh\nnext line\n",
     9,
     {"12345678", "12345678", "next lin"}},
};

class ReadTextLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(ReadTextLineTest, SplitsLinesWhateverTheReadSizes) {
    const LineCase& c = GetParam();
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{4096}}) {
        EXPECT_EQ(ReadAllLines(c.input, c.capacity, chunk), c.lines) << "chunk " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadTextLineTest, testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadTextLineTest, NothingIsReadAfterTheEnd) {
    MemorySource memory{"a\032b\n", 4096};
    TextReader reader = MakeTextReader(ReadMemory, &memory);
    std::array<char, 8> line{};
    ASSERT_TRUE(ReadTextLine(reader, line));
    EXPECT_FALSE(ReadTextLine(reader, line));
    EXPECT_FALSE(ReadTextLine(reader, line));
    EXPECT_EQ(memory.reads, 1);
}

TEST(ReadTextLineTest, AFailingSourceEndsTheText) {
    MemorySource failing{"", 1, true};
    TextReader reader = MakeTextReader(ReadMemory, &failing);
    std::array<char, 8> line{};
    EXPECT_FALSE(ReadTextLine(reader, line));
    EXPECT_TRUE(reader.failed);
}

int before_read_calls = 0;
void CountBeforeRead() {
    ++before_read_calls;
}

TEST(ReadTextLineTest, HookRunsOnlyWhenTheBufferIsEmpty) {
    MemorySource memory{"one\ntwo\nthree\n", 4096};
    TextReader reader = MakeTextReader(ReadMemory, &memory, CountBeforeRead);
    std::array<char, 8> line{};
    before_read_calls = 0;
    ASSERT_TRUE(ReadTextLine(reader, line));
    ASSERT_TRUE(ReadTextLine(reader, line));
    ASSERT_TRUE(ReadTextLine(reader, line));
    EXPECT_EQ(before_read_calls, 1);
    EXPECT_FALSE(ReadTextLine(reader, line));
    EXPECT_EQ(before_read_calls, 2);
}

struct PieceCase {
    const char* name;
    std::string input;
    std::size_t capacity;
    std::vector<std::string> pieces;
};

const PieceCase kPieceCases[] = {
    {"KeepsLineBreaks", "a\r\nb\nc", 16, {"a\n", "b\n", "c"}},
    {"CrLfCountsAsOneCharacter", "abc\r\nd", 5, {"abc\n", "d"}},
    {"LongLineInPieces", "abcdefg\n", 4, {"abc", "def", "g\n"}},
    {"SubEnds", "ab\032cd", 16, {"ab"}},
};

class ReadTextPieceTest : public testing::TestWithParam<PieceCase> {};

TEST_P(ReadTextPieceTest, ReadsLikeFgets) {
    const PieceCase& c = GetParam();
    MemorySource memory{c.input, 1};
    TextReader reader = MakeTextReader(ReadMemory, &memory);
    std::vector<char> piece(c.capacity);
    std::vector<std::string> pieces;
    for (std::string_view text = ReadTextPiece(reader, piece); !text.empty();
         text = ReadTextPiece(reader, piece)) {
        pieces.emplace_back(text);
    }
    EXPECT_EQ(pieces, c.pieces);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadTextPieceTest, testing::ValuesIn(kPieceCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::string WrittenBytes(std::string_view text) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(WriteText(file, text));
    std::rewind(file);
    std::string bytes(4 * text.size() + 16, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
}

using model::WithCrLf;  // every LF as CR LF, the slow way

TEST(WriteTextTest, EveryLfGoesOutAsCrLf) {
    const std::string long_lines = [] {
        std::string text;
        for (int i = 0; i < 60; ++i) {
            text += std::string(static_cast<std::size_t>(i % 11), 'x') + "\n";
        }
        return text;
    }();
    const std::string every_byte = [] {
        std::string text;
        for (int i = 0; i < 256; ++i) {
            text += static_cast<char>(i);
        }
        return text;
    }();
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"already\r\n", "already\r\r\n"},
        {"lone\rcr", "lone\rcr"},
        {"100%s%d\n", "100%s%d\r\n"},
        // Line breaks on both sides of each eight-byte boundary.
        {"1234567\n89abcdef\n", "1234567\r\n89abcdef\r\n"},
        {"12345678\n9abcdefg\nh", "12345678\r\n9abcdefg\r\nh"},
        {"\n234567\n\n", "\r\n234567\r\n\r\n"},
        {std::string(17, '\n'), WithCrLf(std::string(17, '\n'))},
        {every_byte, WithCrLf(every_byte)},
        // Longer than the staging buffer, so written in several pieces.
        {long_lines, WithCrLf(long_lines)},
        {std::string(700, '\n'), WithCrLf(std::string(700, '\n'))},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(WrittenBytes(text), expected) << text;
    }
}

TEST(StageTextTest, StopsWhereTheNextCharacterDoesNotFit) {
    const struct {
        std::string_view text;
        std::size_t room;
        std::string_view staged;
    } cases[] = {
        {"abcdef", 4, "abcd"},   {"ab\ncd", 3, "ab"},
        {"ab\ncd", 4, "ab\r\n"}, {"ab\ncd", 5, "ab\r\nc"},
        {"\n", 1, ""},           {"\n\n", 3, "\r\n"},
        {"a\nb", 6, "a\r\nb"},   {"", 0, ""},
        {"abc", 0, ""},          {"abcdefghij\n", 12, "abcdefghij\r\n"},
    };
    for (const auto& c : cases) {
        std::vector<char> out(c.room);
        const StagedText step = StageText(c.text, out);
        EXPECT_EQ(std::string_view(out.data(), step.stored), c.staged) << c.text << " " << c.room;
        EXPECT_EQ(step.taken, c.staged.size() - static_cast<std::size_t>(std::count(
                                                    c.staged.begin(), c.staged.end(), '\r')))
            << c.text << " " << c.room;
    }
}

TEST(StageTextTest, WithRoomStagesWithinItsRoom) {
    for (const std::string_view text :
         {"", "a", "\n", "a\nb\nc\n", "\n\n\n\n\n\n\n", "1234567\n\n", "12345678abcdefg\n"}) {
        std::vector<char> out(StagingRoom(text.size()) + 1, '#');
        const char* const end = StageTextWithRoom(text, out.data());
        EXPECT_EQ(std::string(out.data(), static_cast<std::size_t>(end - out.data())),
                  WithCrLf(std::string(text)))
            << text;
        EXPECT_EQ(out.back(), '#') << text;
        const char* const copied = CopyWithRoom(text, out.data());
        EXPECT_EQ(std::string_view(out.data(), static_cast<std::size_t>(copied - out.data())),
                  text);
        EXPECT_EQ(out.back(), '#') << text;
    }
}

TEST(WriteTextTest, ReportsAFailedWrite) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    EXPECT_FALSE(WriteText(full, "a\nb"));
    std::fclose(full);
}

}  // namespace
