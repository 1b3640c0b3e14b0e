#include <gtest/gtest.h>

#include "../common/ini_cases.h"
#include "../common/scratch.h"
#include "win32_standins/win32_calls.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCombineCapacity = 4096;

// Bytes after the area a call may write must keep this.
constexpr char kCanary = '\x7f';

// gtest case names allow letters, digits and '_' only.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// A row is shown by its name.
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// ---------------------------------------------------------------------------

// Looks `key` up in a file of `file`'s bytes (none: no file at all) and
// checks the answer: `expected` and its length, its terminator and no byte
// written past it (null `expected`: no byte written at all).
void ExpectLookup(const fs::path& path, std::optional<std::string_view> file, const char* section,
                  const char* key, const char* default_value, DWORD size, const char* expected,
                  std::size_t expected_size) {
    if (file) {
        WriteBytes(path, std::string(*file));
    }
    std::vector<char> buffer(size + 16, kCanary);
    const DWORD result =
        GetPrivateProfileStringA(section, key, default_value, buffer.data(), size, path.c_str());
    if (expected == nullptr) {
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(std::string(buffer.size(), kCanary), std::string(buffer.begin(), buffer.end()));
        return;
    }
    EXPECT_EQ(result, expected_size);
    ASSERT_LT(expected_size, size);
    EXPECT_EQ(std::string(buffer.data(), expected_size), std::string(expected, expected_size));
    EXPECT_EQ(buffer[expected_size], '\0');
    for (std::size_t i = expected_size + 1; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], kCanary) << "written past the terminator at " << i;
    }
}

// The rules, row by row, shared with the comparison against Win32.
class Win32IniTest : public testing::TestWithParam<std::size_t> {
protected:
    Scratch dir_;
};

TEST_P(Win32IniTest, ReadsValue) {
    const ini_rules::IniCase c = ini_rules::IniCases()[GetParam()];
    ExpectLookup(dir_.path() / "config.ini", c.file, c.section, c.key, c.default_value, c.size,
                 c.expected.c_str(), c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(Rules, Win32IniTest,
                         testing::Range<std::size_t>(0, ini_rules::IniCases().size()),
                         [](const auto& info) { return ini_rules::IniCases()[info.param].name; });

// What the call makes of the arguments the program never passes.
struct IniCallCase {
    const char* name;
    std::optional<std::string_view> file;  // nullopt: no file at all
    const char* section;
    const char* key;
    const char* default_value;
    DWORD size;
    const char* expected;  // null: the buffer stays untouched
};

const IniCallCase kIniCallCases[] = {
    {"MissingFile", std::nullopt, "config", "key", "def", 64, "def"},
    {"NullDefaultActsAsEmpty", "[config]\n", "config", "key", nullptr, 64, ""},
    {"SizeZeroWritesNothing", "[config]\nkey=abc\n", "config", "key", "def", 0, nullptr},
    {"NullSectionGivesEmpty", "[config]\nkey=value\n", nullptr, "key", "def", 64, ""},
    {"NullKeyGivesEmpty", "[config]\nkey=value\n", "config", nullptr, "def", 64, ""},
    {"NullSectionSizeZero", "[config]\nkey=value\n", nullptr, "key", "def", 0, nullptr},
};

class Win32IniCallTest : public testing::TestWithParam<IniCallCase> {
protected:
    Scratch dir_;
};

TEST_P(Win32IniCallTest, Answers) {
    const IniCallCase& c = GetParam();
    ExpectLookup(dir_.path() / "config.ini", c.file, c.section, c.key, c.default_value, c.size,
                 c.expected, c.expected != nullptr ? std::strlen(c.expected) : 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, Win32IniCallTest, testing::ValuesIn(kIniCallCases),
                         CaseName<IniCallCase>);

// ---------------------------------------------------------------------------

struct RemoveFileSpecCase {
    const char* name;
    const char* path;  // null: a null pointer is passed
    const char* expected;
    bool removed;
};

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
    Scratch dir_;
};

TEST_P(Win32MoveFileTest, Renames) {
    const MoveCase& c = GetParam();
    const fs::path source = dir_.path() / "source.txt";
    const fs::path target = dir_.path() / "target.txt";
    if (c.source == Entry::kFile) {
        WriteBytes(source, "new contents");
    }
    if (c.target == Entry::kFile) {
        WriteBytes(target, "old contents");
    }

    const BOOL result = MoveFileExA(c.source == Entry::kNull ? nullptr : source.c_str(),
                                    c.target == Entry::kNull ? nullptr : target.c_str(), c.flags);

    EXPECT_EQ(result != 0, c.succeeds);
    if (c.succeeds) {
        EXPECT_FALSE(fs::exists(source));
        EXPECT_EQ(ReadBytes(target), "new contents");
        return;
    }
    EXPECT_EQ(fs::exists(source), c.source == Entry::kFile);
    if (c.source == Entry::kFile) {
        EXPECT_EQ(ReadBytes(source), "new contents");
    }
    if (c.target == Entry::kFile) {
        EXPECT_EQ(ReadBytes(target), "old contents");
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
