#include <gtest/gtest.h>

#include "win32_standins/win32_calls.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;

constexpr std::size_t kCombineCapacity = 4096;

// Bytes after the area a call may write must keep this.
constexpr char kCanary = '\x7f';

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::path(testing::TempDir()) / "win32_calls_XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        if (made == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
        } else {
            path_ = made;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// gtest case names allow letters, digits and '_' only.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// ---------------------------------------------------------------------------

enum class Storage { kAsWritten, kUtf16Le, kUtf16Be };

struct IniCase {
    const char* name;
    std::optional<std::string_view> file;  // nullopt: no file at all
    const char* section;
    const char* key;
    const char* default_value;
    DWORD capacity;
    const char* expected;  // null: the buffer must stay untouched
    DWORD expected_return;
    Storage storage = Storage::kAsWritten;  // how `file`, written as UTF-8, is stored
};

// `text` is UTF-8; a UTF-16 file starts with its byte order mark.
std::string Stored(std::string_view text, Storage storage) {
    if (storage == Storage::kAsWritten) {
        return std::string(text);
    }
    std::u16string units = u"\uFEFF";
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            code_point = code_point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (code_point >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
        } else {
            units += static_cast<char16_t>(code_point);
        }
    }
    std::string bytes;
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += storage == Storage::kUtf16Le ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

void PrintTo(const IniCase& c, std::ostream* os) {
    *os << c.name;
}

const IniCase kIniCases[] = {
    {"Found", "[config]\nkey=value\n", "config", "key", "def", 64, "value", 5},
    {"MissingFile", std::nullopt, "config", "key", "def", 64, "def", 3},
    {"EmptyFile", "", "config", "key", "def", 64, "def", 3},
    {"MissingSection", "[other]\nkey=value\n", "config", "key", "def", 64, "def", 3},
    {"MissingKey", "[config]\nother=value\n", "config", "key", "def", 64, "def", 3},
    {"NullDefaultActsAsEmpty", "[config]\n", "config", "key", nullptr, 64, "", 0},
    {"EmptyValueIsNotDefault", "[config]\nkey=\n", "config", "key", "def", 64, "", 0},
    {"BlankValueIsEmpty", "[config]\nkey = \t \n", "config", "key", "def", 64, "", 0},
    {"ValueCutToCapacity", "[config]\nkey=abcdef\n", "config", "key", "def", 4, "abc", 3},
    {"ValueExactlyFits", "[config]\nkey=abc\n", "config", "key", "def", 4, "abc", 3},
    {"CapacityOneGivesEmpty", "[config]\nkey=abc\n", "config", "key", "def", 1, "", 0},
    {"CapacityZeroWritesNothing", "[config]\nkey=abc\n", "config", "key", "def", 0, nullptr, 0},
    {"DefaultCutToCapacity", "[config]\n", "config", "key", "default", 4, "def", 3},
    {"LastLineWithoutBreak", "[config]\nkey=value", "config", "key", "def", 64, "value", 5},
    {"CrLfBreaks", "[config]\r\nkey=value\r\nnext=1\r\n", "config", "key", "def", 64, "value", 5},
    {"CrOnlyBreaks", "[config]\rkey=value\rnext=1\r", "config", "key", "def", 64, "value", 5},
    {"CrOnlyEndsSection", "[other]\rkey=no\r[config]\rkey=yes", "config", "key", "def", 64, "yes",
     3},
    {"LfCrBreaks", "[config]\n\rkey=value\n\r", "config", "key", "def", 64, "value", 5},
    {"BlankLinesIgnored", "\n\n[config]\n\n  \t\nkey=value\n\n", "config", "key", "def", 64,
     "value", 5},
    {"BlankPaddedKeyAndValue", "[config]\n \t key \t = \t value \t \n", "config", "key", "def", 64,
     "value", 5},
    {"InnerBlanksOfValueKept", "[config]\nkey=a \t b\n", "config", "key", "def", 64, "a \t b", 5},
    {"InnerBlanksOfKeyKept", "[config]\nmy key=value\n", "config", "mykey", "def", 64, "def", 3},
    {"IndentedSectionHeader", "  \t[config]\nkey=value\n", "config", "key", "def", 64, "value", 5},
    {"BlanksInsideBrackets", "[ \tconfig\t ]\nkey=value\n", "config", "key", "def", 64, "value", 5},
    {"InnerBlanksOfSectionKept", "[con fig]\nkey=value\n", "config", "key", "def", 64, "def", 3},
    {"TextAfterBracketIgnored", "[config] ; note\nkey=value\n", "config", "key", "def", 64, "value",
     5},
    {"UnclosedBracketIsNoHeader", "[config]\n[broken\nkey=value\n", "config", "key", "def", 64,
     "value", 5},
    {"UnclosedBracketStartsNoSection", "[other]\n[config\nkey=value\n", "config", "key", "def", 64,
     "def", 3},
    {"SectionCaseIgnored", "[CoNfIg]\nkey=value\n", "config", "key", "def", 64, "value", 5},
    {"RequestedSectionCaseIgnored", "[config]\nkey=value\n", "CONFIG", "key", "def", 64, "value",
     5},
    {"KeyCaseIgnored", "[config]\nKeY=value\n", "config", "kEy", "def", 64, "value", 5},
    {"ValueCaseKept", "[config]\nkey=VaLuE\n", "config", "key", "def", 64, "VaLuE", 5},
    {"DoubleQuotesRemoved", "[config]\nkey=\"value\"\n", "config", "key", "def", 64, "value", 5},
    {"SingleQuotesRemoved", "[config]\nkey='value'\n", "config", "key", "def", 64, "value", 5},
    {"QuotesKeepInnerBlanks", "[config]\nkey = \" a b \" \n", "config", "key", "def", 64, " a b ",
     5},
    {"EmptyQuotesGiveEmpty", "[config]\nkey=\"\"\n", "config", "key", "def", 64, "", 0},
    {"OnlyOnePairRemoved", "[config]\nkey=\"\"v\"\"\n", "config", "key", "def", 64, "\"v\"", 3},
    {"MismatchedQuotesKept", "[config]\nkey=\"value'\n", "config", "key", "def", 64, "\"value'", 7},
    {"OpeningQuoteOnlyKept", "[config]\nkey=\"value\n", "config", "key", "def", 64, "\"value", 6},
    {"SingleQuoteCharKept", "[config]\nkey=\"\n", "config", "key", "def", 64, "\"", 1},
    {"InnerQuotesKept", "[config]\nkey=a\"b\"c\n", "config", "key", "def", 64, "a\"b\"c", 5},
    {"SemicolonInValueKept", "[config]\nkey=a ; b\n", "config", "key", "def", 64, "a ; b", 5},
    {"EqualsInValueKept", "[config]\nkey=a=b\n", "config", "key", "def", 64, "a=b", 3},
    {"CommentLineSkipped", "[config]\n;key=commented\nkey=value\n", "config", "key", "def", 64,
     "value", 5},
    {"SemicolonLineIsKeyLikeAnyOther", "[config]\n;key=commented\n", "config", ";key", "def", 64,
     "commented", 9},
    {"IndentedCommentSkipped", "[config]\n \t;key=commented\n", "config", "key", "def", 64, "def",
     3},
    {"CommentedHeaderIsNoSection", ";[config]\nkey=value\n", "config", "key", "def", 64, "def", 3},
    {"KeyWithoutEqualsSkipped", "[config]\nkey\n", "config", "key", "def", 64, "def", 3},
    {"KeyWithoutEqualsHidesLaterOne", "[config]\nkey\nkey=value\n", "config", "key", "def", 64,
     "def", 3},
    {"FirstKeyOccurrenceWins", "[config]\nkey=first\nkey=second\n", "config", "key", "def", 64,
     "first", 5},
    {"SecondSameNamedSectionIgnored", "[config]\na=1\n[other]\nb=2\n[config]\nkey=value\n",
     "config", "key", "def", 64, "def", 3},
    {"FirstSameNamedSectionUsed", "[config]\nkey=first\n[CONFIG]\nkey=second\n", "config", "key",
     "def", 64, "first", 5},
    {"KeyOfEarlierSectionIgnored", "[a]\nkey=no\n[config]\nkey=yes\n", "config", "key", "def", 64,
     "yes", 3},
    {"KeyOfLaterSectionIgnored", "[config]\nother=1\n[b]\nkey=no\n", "config", "key", "def", 64,
     "def", 3},
    {"LinesBeforeAnySectionIgnored", "key=value\n[config]\n", "config", "key", "def", 64, "def", 3},
    {"LinesBeforeAnySectionFormEmptySection", "key=value\n[config]\n", "", "key", "def", 64,
     "value", 5},
    {"EmptyHeaderIsSecondEmptySection", "[]\nkey=value\n", "", "key", "def", 64, "def", 3},
    {"Utf8BomSkipped", "\xEF\xBB\xBF[config]\nkey=value\n", "config", "key", "def", 64, "value", 5},
    {"Utf8BomOnlyAtStart", "[config]\n\xEF\xBB\xBFkey=value\n", "config", "key", "def", 64, "def",
     3},
    {"Utf8ValueKept", "[config]\nkey=gr\xC3\xBC\xC3\x9F\n", "config", "key", "def", 64,
     "gr\xC3\xBC\xC3\x9F", 6},
    {"ControlBlanksAroundSection",
     "[\f\x1A"
     "config\v]\nkey=value\n",
     "config", "key", "def", 64, "value", 5},
    {"ControlBlanksAroundKey", "[config]\n\fkey\x1A=value\n", "config", "key", "def", 64, "value",
     5},
    {"ControlBlanksAroundValue", "[config]\nkey=\v\x1Avalue\f\x1A", "config", "key", "def", 64,
     "value", 5},
    {"RequestedNamesTrimmed", "[config]\nkey=value\n", " config\t", "\x1Akey ", "def", 64, "value",
     5},
    {"NulEndsSectionName", "[config\0junk]\nkey=value\n"sv, "config", "key", "def", 64, "value", 5},
    {"NulEndsKeyName", "[config]\nkey\0junk=value\n"sv, "config", "key", "def", 64, "value", 5},
    {"NulEndsValueBeforeQuotesGo", "[config]\nkey=\"ab\"\0c\"\n"sv, "config", "key", "def", 64,
     "ab", 2},
    {"QuotedValueExactlyFits", "[config]\nkey=\"abc\"\n", "config", "key", "def", 4, "abc", 3},
    {"DefaultLosesTrailingSpaces", "[config]\n", "config", "key", "def \t  ", 64, "def \t", 5},
    {"DefaultOfSpacesKeepsOne", "[config]\n", "config", "key", "   ", 64, " ", 1},
    {"DefaultLosesQuotes", "[config]\n", "config", "key", "'def' ", 64, "def", 3},
    {"Utf16LeRead", "[config]\r\nkey = value\r\n", "config", "key", "def", 64, "value", 5,
     Storage::kUtf16Le},
    {"Utf16BeRead", "[config]\r\nkey = value\r\n", "config", "key", "def", 64, "value", 5,
     Storage::kUtf16Be},
    {"Utf16ValueComesBackAsUtf8", "[config]\nkey=caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\n",
     "config", "key", "def", 64, "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", 14,
     Storage::kUtf16Le},
    {"Utf16LoneSurrogatesReplaced", "\xFF\xFEk\0=\0x\0\x00\xD8y\0\x00\xDC"sv, "", "k", "def", 64,
     "x\xEF\xBF\xBDy\xEF\xBF\xBD", 8},
    {"Utf16OddLastByteDropped", "\xFE\xFF\0k\0=\0xy"sv, "", "k", "def", 64, "x", 1},
    {"NullSectionGivesEmpty", "[config]\nkey=value\n", nullptr, "key", "def", 64, "", 0},
    {"NullKeyGivesEmpty", "[config]\nkey=value\n", "config", nullptr, "def", 64, "", 0},
    {"NullSectionCapacityZero", "[config]\nkey=value\n", nullptr, "key", "def", 0, nullptr, 0},
};

class Win32IniTest : public testing::TestWithParam<IniCase> {
protected:
    TempDir dir_;
};

TEST_P(Win32IniTest, ReadsValue) {
    const IniCase& c = GetParam();
    const fs::path file = dir_.path() / "settings.ini";
    if (c.file) {
        WriteFile(file, Stored(*c.file, c.storage));
    }
    std::vector<char> buffer(c.capacity + 16, kCanary);

    const DWORD result = GetPrivateProfileStringA(c.section, c.key, c.default_value, buffer.data(),
                                                  c.capacity, file.c_str());

    EXPECT_EQ(result, c.expected_return);
    if (c.expected == nullptr) {
        EXPECT_EQ(std::string(buffer.size(), kCanary), std::string(buffer.begin(), buffer.end()));
        return;
    }
    const std::string expected = c.expected;
    ASSERT_LT(expected.size(), c.capacity);
    EXPECT_EQ(std::string(buffer.data(), expected.size()), expected);
    EXPECT_EQ(buffer[expected.size()], '\0');
    for (std::size_t i = expected.size() + 1; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], kCanary) << "written past the terminator at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, Win32IniTest, testing::ValuesIn(kIniCases), CaseName<IniCase>);

// Files and lines far larger than any buffer the reader may hold.
struct IniStreamCase {
    const char* name;
    std::string (*file)();
    DWORD capacity;
    std::string (*expected)();
};

void PrintTo(const IniStreamCase& c, std::ostream* os) {
    *os << c.name;
}

std::string ManyLines(const char* line_break) {
    std::ostringstream out;
    out << "[config]" << line_break;
    for (int i = 0; i < 100000; ++i) {
        out << "key" << i << " = value" << i << line_break;
    }
    out << "wanted = found" << line_break;
    return out.str();
}

const IniStreamCase kIniStreamCases[] = {
    {"KeyAfterMegabytesOfLf", [] { return ManyLines("\n"); }, 64,
     [] { return std::string("found"); }},
    {"KeyAfterMegabytesOfCrLf", [] { return ManyLines("\r\n"); }, 64,
     [] { return std::string("found"); }},
    {"KeyAfterMegabytesOfCr", [] { return ManyLines("\r"); }, 64,
     [] { return std::string("found"); }},
    {"KeyAfterHugeLine",
     [] { return "[config]\n" + std::string(100000, 'x') + "=1\nwanted=found\n"; }, 64,
     [] { return std::string("found"); }},
    {"KeyAfterHugeLineWithoutEquals",
     [] { return "[config]\n" + std::string(100000, 'x') + "\nwanted=found\n"; }, 64,
     [] { return std::string("found"); }},
    {"HugeCommentDoesNotLeakIntoNextLine",
     [] { return "[config]\n;" + std::string(10000, 'x') + "wanted=wrong\nwanted=found\n"; }, 64,
     [] { return std::string("found"); }},
    {"HugeValueAfterWantedIsNotRead",
     [] { return "[config]\nwanted=found\nbig=" + std::string(100000, 'v') + "\n"; }, 64,
     [] { return std::string("found"); }},
    {"LongValueReturnedWhole", [] { return "[config]\nwanted=" + std::string(4000, 'v') + "\n"; },
     8192, [] { return std::string(4000, 'v'); }},
    {"LongValueCutToCapacity", [] { return "[config]\nwanted=" + std::string(4000, 'v') + "\n"; },
     100, [] { return std::string(99, 'v'); }},
    {"KeyAfterMegabytesOfUtf16", [] { return Stored(ManyLines("\r\n"), Storage::kUtf16Le); }, 64,
     [] { return std::string("found"); }},
    {"KeyAfterHugeBlanks",
     [] { return "[config]\n" + std::string(100000, ' ') + "wanted=found\n"; }, 64,
     [] { return std::string("found"); }},
    {"HugeTrailingBlanksDropped",
     [] { return "[config]\nwanted=found" + std::string(100000, '\t') + "\n"; }, 64,
     [] { return std::string("found"); }},
    {"HeaderAfterHugeName",
     [] { return "[" + std::string(100000, 'x') + "]\n[config]\nwanted=found\n"; }, 64,
     [] { return std::string("found"); }},
    {"HugeValueReturnedWhole",
     [] { return "[config]\nwanted=" + std::string(100000, 'v') + "\nnext=1\n"; }, 100001,
     [] { return std::string(100000, 'v'); }},
    {"HugeQuotedValueLosesQuotes",
     [] { return "[config]\nwanted=\"" + std::string(100000, 'v') + "\"\n"; }, 100001,
     [] { return std::string(100000, 'v'); }},
};

class Win32IniStreamTest : public testing::TestWithParam<IniStreamCase> {
protected:
    TempDir dir_;
};

TEST_P(Win32IniStreamTest, FindsValue) {
    const IniStreamCase& c = GetParam();
    const fs::path file = dir_.path() / "settings.ini";
    WriteFile(file, c.file());
    std::vector<char> buffer(c.capacity, kCanary);

    const DWORD result = GetPrivateProfileStringA("config", "wanted", "default", buffer.data(),
                                                  c.capacity, file.c_str());

    const std::string expected = c.expected();
    EXPECT_EQ(result, expected.size());
    EXPECT_EQ(std::string(buffer.data()), expected);
}

INSTANTIATE_TEST_SUITE_P(Large, Win32IniStreamTest, testing::ValuesIn(kIniStreamCases),
                         CaseName<IniStreamCase>);

// ---------------------------------------------------------------------------

struct RemoveFileSpecCase {
    const char* name;
    const char* path;  // null: a null pointer is passed
    const char* expected;
    bool removed;
};

void PrintTo(const RemoveFileSpecCase& c, std::ostream* os) {
    *os << c.name;
}

const RemoveFileSpecCase kRemoveFileSpecCases[] = {
    {"ThreeLevels", "/a/b/c", "/a/b", true},
    {"FileInFolder", "/dir/file.txt", "/dir", true},
    {"UnderRoot", "/a", "/", true},
    {"RootStays", "/", "/", false},
    {"Relative", "a/b", "a", true},
    {"RelativeDeeper", "a/b/c", "a/b", true},
    {"BareName", "name", "", true},
    {"TrailingSlashOnly", "/a/b/", "/a/b", true},
    {"RelativeTrailingSlash", "a/", "a", true},
    {"Empty", "", "", false},
    {"DoubleSlashUnderRoot", "//a", "/", true},
    {"Null", nullptr, nullptr, false},
};

class Win32PathRemoveFileSpecTest : public testing::TestWithParam<RemoveFileSpecCase> {};

TEST_P(Win32PathRemoveFileSpecTest, RemovesLastComponent) {
    const RemoveFileSpecCase& c = GetParam();
    if (c.path == nullptr) {
        EXPECT_EQ(PathRemoveFileSpecA(nullptr), 0);
        return;
    }
    std::string path = c.path;
    path.push_back('\0');  // the call writes into a NUL-terminated buffer

    const BOOL result = PathRemoveFileSpecA(path.data());

    EXPECT_EQ(result != 0, c.removed);
    EXPECT_STREQ(path.c_str(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, Win32PathRemoveFileSpecTest,
                         testing::ValuesIn(kRemoveFileSpecCases), CaseName<RemoveFileSpecCase>);

// ---------------------------------------------------------------------------

enum class Alias { kNone, kDirectory, kName };

struct CombineCase {
    std::string name;
    std::optional<std::string> directory;  // nullopt: a null pointer is passed
    std::optional<std::string> file;
    Alias alias;
    std::optional<std::string> expected;  // nullopt: the call returns null
};

void PrintTo(const CombineCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<CombineCase> CombineCases() {
    const std::string long_dir(4093, 'd');
    return {
        {"Join", "/a", "b", Alias::kNone, "/a/b"},
        {"JoinRelative", "a/b", "c.ini", Alias::kNone, "a/b/c.ini"},
        {"NoDoubledSlash", "/a/", "b", Alias::kNone, "/a/b"},
        {"Root", "/", "b", Alias::kNone, "/b"},
        {"EmptyDirectory", "", "b", Alias::kNone, "b"},
        {"NullDirectory", std::nullopt, "b", Alias::kNone, "b"},
        {"AbsoluteName", "/a", "/b/c", Alias::kNone, "/b/c"},
        {"EmptyName", "/a", "", Alias::kNone, "/a"},
        {"NullName", "/a", std::nullopt, Alias::kNone, "/a"},
        {"BothEmpty", "", "", Alias::kNone, ""},
        {"BothNull", std::nullopt, std::nullopt, Alias::kNone, std::nullopt},
        {"FillsExactly", long_dir, "n", Alias::kNone, long_dir + "/n"},
        {"OneTooLong", long_dir, "nn", Alias::kNone, std::nullopt},
        {"FarTooLong", std::string(5000, 'd'), "n", Alias::kNone, std::nullopt},
        {"LongAbsoluteNameFits", std::string(5000, 'd'), "/" + std::string(4000, 'n'), Alias::kNone,
         "/" + std::string(4000, 'n')},
        {"DestinationIsDirectory", "/a/b", "c.ini", Alias::kDirectory, "/a/b/c.ini"},
        {"DestinationIsDirectoryWithSlash", "/a/b/", "c.ini", Alias::kDirectory, "/a/b/c.ini"},
        {"DestinationIsDirectoryTooLong", long_dir, "nn", Alias::kDirectory, std::nullopt},
        {"DestinationIsName", "/a/b", "c.ini", Alias::kName, "/a/b/c.ini"},
    };
}

class Win32PathCombineTest : public testing::TestWithParam<CombineCase> {};

TEST_P(Win32PathCombineTest, Joins) {
    const CombineCase& c = GetParam();
    std::vector<char> destination(kCombineCapacity + 16, kCanary);
    std::string directory = c.directory.value_or("");
    std::string file = c.file.value_or("");
    const char* directory_arg = c.directory ? directory.c_str() : nullptr;
    const char* file_arg = c.file ? file.c_str() : nullptr;
    if (c.alias == Alias::kDirectory) {
        std::copy(directory.begin(), directory.end(), destination.begin());
        destination[directory.size()] = '\0';
        directory_arg = destination.data();
    } else if (c.alias == Alias::kName) {
        std::copy(file.begin(), file.end(), destination.begin());
        destination[file.size()] = '\0';
        file_arg = destination.data();
    }

    const char* result = PathCombineA(destination.data(), directory_arg, file_arg);

    if (c.expected) {
        EXPECT_EQ(result, destination.data());
        EXPECT_EQ(std::string(destination.data()), *c.expected);
    } else {
        EXPECT_EQ(result, nullptr);
        if (c.directory || c.file) {
            EXPECT_EQ(destination[0], '\0');
        }
    }
    for (std::size_t i = kCombineCapacity; i < destination.size(); ++i) {
        ASSERT_EQ(destination[i], kCanary) << "written past 4096 bytes at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Win32PathCombineTest, testing::ValuesIn(CombineCases()),
                         [](const testing::TestParamInfo<CombineCase>& info) {
                             return info.param.name;
                         });

// ---------------------------------------------------------------------------

struct ModuleFileNameCase {
    const char* name;
    bool with_module;
    DWORD (*size)(DWORD path_length);
    DWORD (*expected_chars)(DWORD path_length);  // characters of the path written
    DWORD (*expected_return)(DWORD path_length);
};

void PrintTo(const ModuleFileNameCase& c, std::ostream* os) {
    *os << c.name;
}

const ModuleFileNameCase kModuleFileNameCases[] = {
    {"Roomy", false, [](DWORD) -> DWORD { return 4096; }, [](DWORD n) { return n; },
     [](DWORD n) { return n; }},
    {"FitsExactly", false, [](DWORD n) { return n + 1; }, [](DWORD n) { return n; },
     [](DWORD n) { return n; }},
    {"OneShort", false, [](DWORD n) { return n; }, [](DWORD n) { return n - 1; },
     [](DWORD n) { return n; }},
    {"FiveBytes", false, [](DWORD) -> DWORD { return 5; }, [](DWORD) -> DWORD { return 4; },
     [](DWORD) -> DWORD { return 5; }},
    {"OneByte", false, [](DWORD) -> DWORD { return 1; }, [](DWORD) -> DWORD { return 0; },
     [](DWORD) -> DWORD { return 1; }},
    {"ZeroBytes", false, [](DWORD) -> DWORD { return 0; }, nullptr,
     [](DWORD) -> DWORD { return 0; }},
    {"OtherModule", true, [](DWORD) -> DWORD { return 4096; }, nullptr,
     [](DWORD) -> DWORD { return 0; }},
};

class Win32ModuleFileNameTest : public testing::TestWithParam<ModuleFileNameCase> {};

TEST_P(Win32ModuleFileNameTest, GivesOwnPath) {
    const ModuleFileNameCase& c = GetParam();
    const std::string own = fs::read_symlink("/proc/self/exe").string();
    ASSERT_GT(own.size(), 5u);
    const auto length = static_cast<DWORD>(own.size());
    const DWORD size = c.size(length);
    std::vector<char> buffer(size + 16, kCanary);
    int some_module = 0;

    const DWORD result =
        GetModuleFileNameA(c.with_module ? &some_module : nullptr, buffer.data(), size);

    EXPECT_EQ(result, c.expected_return(length));
    std::size_t untouched_from = 0;
    if (c.expected_chars != nullptr) {
        const DWORD chars = c.expected_chars(length);
        EXPECT_EQ(std::string(buffer.data(), chars), own.substr(0, chars));
        EXPECT_EQ(buffer[chars], '\0');
        untouched_from = chars + 1;
    }
    for (std::size_t i = untouched_from; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], kCanary) << "unexpected write at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Self, Win32ModuleFileNameTest, testing::ValuesIn(kModuleFileNameCases),
                         CaseName<ModuleFileNameCase>);

// ---------------------------------------------------------------------------

enum class Entry { kMissing, kFile, kNull };

struct MoveCase {
    const char* name;
    Entry source;
    Entry target;
    DWORD flags;
    bool succeeds;
};

void PrintTo(const MoveCase& c, std::ostream* os) {
    *os << c.name;
}

// The stand-in makes only the replacing move, the one the program makes.
const MoveCase kMoveCases[] = {
    {"WithoutReplacingRefused", Entry::kFile, Entry::kMissing, 0, false},
    {"ToNewNameReplacing", Entry::kFile, Entry::kMissing, MOVEFILE_REPLACE_EXISTING, true},
    {"OntoExistingRefused", Entry::kFile, Entry::kFile, 0, false},
    {"OntoExistingReplaced", Entry::kFile, Entry::kFile, MOVEFILE_REPLACE_EXISTING, true},
    {"MissingSource", Entry::kMissing, Entry::kMissing, 0, false},
    {"MissingSourceKeepsTarget", Entry::kMissing, Entry::kFile, MOVEFILE_REPLACE_EXISTING, false},
    {"NullSource", Entry::kNull, Entry::kMissing, MOVEFILE_REPLACE_EXISTING, false},
    {"NullTarget", Entry::kFile, Entry::kNull, MOVEFILE_REPLACE_EXISTING, false},
};

class Win32MoveFileTest : public testing::TestWithParam<MoveCase> {
protected:
    TempDir dir_;
};

TEST_P(Win32MoveFileTest, Renames) {
    const MoveCase& c = GetParam();
    const fs::path source = dir_.path() / "source.txt";
    const fs::path target = dir_.path() / "target.txt";
    if (c.source == Entry::kFile) {
        WriteFile(source, "new contents");
    }
    if (c.target == Entry::kFile) {
        WriteFile(target, "old contents");
    }

    const BOOL result = MoveFileExA(c.source == Entry::kNull ? nullptr : source.c_str(),
                                    c.target == Entry::kNull ? nullptr : target.c_str(), c.flags);

    EXPECT_EQ(result != 0, c.succeeds);
    if (c.succeeds) {
        EXPECT_FALSE(fs::exists(source));
        EXPECT_EQ(ReadFile(target), "new contents");
        return;
    }
    EXPECT_EQ(fs::exists(source), c.source == Entry::kFile);
    if (c.source == Entry::kFile) {
        EXPECT_EQ(ReadFile(source), "new contents");
    }
    if (c.target == Entry::kFile) {
        EXPECT_EQ(ReadFile(target), "old contents");
    } else {
        EXPECT_FALSE(fs::exists(target));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Win32MoveFileTest, testing::ValuesIn(kMoveCases),
                         CaseName<MoveCase>);

// ---------------------------------------------------------------------------

class Win32SleepTest : public testing::TestWithParam<DWORD> {};

// It comes back no sooner than asked. How much later is up to the scheduler,
// so there is no upper bound.
TEST_P(Win32SleepTest, Returns) {
    const auto asked = std::chrono::milliseconds(GetParam());
    const auto start = std::chrono::steady_clock::now();
    Sleep(GetParam());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, asked)
        << std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() << " us for "
        << GetParam() << " ms";
}

INSTANTIATE_TEST_SUITE_P(Durations, Win32SleepTest, testing::Values(0u, 1u, 20u));

}  // namespace
