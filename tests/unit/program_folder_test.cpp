#include <gtest/gtest.h>

#include <optional>

#include "win32_standins/executable_folder.h"

namespace {

TEST(ProgramFolderTest, ChoosesASpellingAnItemCanHold) {
    using enum FolderSpelling;
    const struct {
        const char* name;
        FolderName full;
        std::optional<FolderName> short_name;
        const char* chosen;
        FolderSpelling spelling;
    } cases[] = {
        {"plain", {"C:\\tc"}, std::nullopt, "C:\\tc", kSafe},
        {"plain, short name not taken",
         {"C:\\tunnelconsole"},
         FolderName{"C:\\TUNNEL~1"},
         "C:\\tunnelconsole",
         kSafe},
        {"parentheses",
         {"C:\\Program Files (x86)\\tc"},
         FolderName{"C:\\PROGRA~2\\tc"},
         "C:\\PROGRA~2\\tc",
         kSafe},
        {"opening brace", {"C:\\a{b"}, FolderName{"C:\\AB~1"}, "C:\\AB~1", kSafe},
        {"closing brace", {"C:\\a}b"}, FolderName{"C:\\AB~1"}, "C:\\AB~1", kSafe},
        {"line break", {"/a\nb"}, std::nullopt, "/a\nb", kEndsItem},
        {"not in the code page",
         {"C:\\??", false},
         FolderName{"C:\\__~~~A05"},
         "C:\\__~~~A05",
         kSafe},
        {"short names off", {"C:\\P (x86)"}, std::nullopt, "C:\\P (x86)", kHoldsItemMarks},
        // A volume with short names off gives the long name back.
        {"no short name, the long one given back",
         {"C:\\Program Files (x86)\\tc"},
         FolderName{"C:\\Program Files (x86)\\tc"},
         "C:\\Program Files (x86)\\tc",
         kHoldsItemMarks},
        {"short name holds parentheses",
         {"C:\\tc(1)"},
         FolderName{"C:\\tc(1)"},
         "C:\\tc(1)",
         kHoldsItemMarks},
        {"short name not in the code page",
         {"C:\\??", false},
         FolderName{"C:\\?", false},
         "C:\\??",
         kNotInCodePage},
        {"closing brace, no short name", {"C:\\a}b"}, FolderName{"C:\\a}b"}, "C:\\a}b", kEndsItem},
        {"closing brace outranks the code page",
         {"C:\\?}", false},
         std::nullopt,
         "C:\\?}",
         kEndsItem},
    };
    for (const auto& c : cases) {
        const FolderChoice choice = ChooseFolderSpelling(c.full, c.short_name);
        EXPECT_EQ(choice.path, c.chosen) << c.name;
        EXPECT_EQ(choice.spelling, c.spelling) << c.name;
    }
}

}  // namespace
