// The rules of the config.ini lookup, one row each: the stand-in's answer is
// checked against `expected` (tests/unit/win32_calls_test.cpp), and Win32's
// against the stand-in's under an emulator (tests/differential). Every row is
// asked with the call the program makes unless it says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ini_rules {

using namespace std::string_view_literals;

struct IniCase {
    const char* name;       // gtest-safe identifier: letters, digits, underscores
    std::string_view file;  // bytes of the INI file (use string_view literals with sv for NULs)
    std::string expected = "abc";  // what the stand-in returns; its length is the count
    const char* section = "config";
    const char* key = "device_id";
    const char* default_value = "undefined";
    uint32_t size = 128;
    // Why Win32's answer is meant to differ from the stand-in's; the
    // differential test then checks the two still differ.
    const char* intended_difference = nullptr;
};

// The bytes of a UTF-16 file holding `text`, byte order mark first. Lone
// surrogates are written as they are.
inline std::string Utf16File(std::u16string_view text, bool big_endian) {
    std::string bytes;
    const auto put = [&bytes, big_endian](char16_t unit) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    };
    put(u'\uFEFF');
    for (const char16_t unit : text) {
        put(unit);
    }
    return bytes;
}

inline std::vector<IniCase> IniCases() {
    static const char* const kQuotedFill =
        "Win32 drops one character too many from a quoted value that fills the buffer exactly";
    static const std::string utf16_le = Utf16File(u"[config]\r\ndevice_id = abc\r\n", false);
    static const std::string utf16_be = Utf16File(u"[config]\r\ndevice_id = abc\r\n", true);
    static const std::string utf16_blanks =
        Utf16File(u"\f[\x1A config\v]\r\v device_id\x1A=\t\"abc\" \x1A", false);
    static const std::string utf16_bare_key =
        Utf16File(u"[config]\ndevice_id\ndevice_id=abc\n", true);
    static const std::string utf16_nul = Utf16File(u"[config]\r\ndevice_id\0x=ab\0c\r\n"sv, false);
    static const std::string utf16_non_ascii =
        Utf16File(u"[config]\r\ndevice_id=caf\u00E9-\u4E2D\r\n", false);
    static const std::string utf16_be_non_ascii =
        Utf16File(u"[config]\r\ndevice_id=\u00DFtra\u00DFe\r\n", true);
    static const std::string utf16_pair =
        Utf16File(u"[config]\r\ndevice_id=a\U0001F600b\r\n", false);
    static const std::string utf16_lone =
        Utf16File(u"[config]\r\ndevice_id=a\xD800z\xDC00\r\n", false);
    static const std::string utf16_non_ascii_key =
        Utf16File(u"[config]\r\ncaf\u00E9=abc\r\n", false);
    static const std::string utf16_odd_tail =
        Utf16File(u"[config]\r\ndevice_id=abc\r\n", false) + "x";
    static const std::string utf16_long_value =
        Utf16File(u"[config]\r\ndevice_id=" + std::u16string(300, u'v') + u"\r\n", false);
    static const std::string value_200 = "[config]\r\ndevice_id=" + std::string(200, 'v') + "\r\n";
    static const std::string value_127 = "[config]\r\ndevice_id=" + std::string(127, 'v') + "\r\n";
    static const std::string value_128 = "[config]\r\ndevice_id=" + std::string(128, 'v') + "\r\n";
    static const std::string quoted_126 =
        "[config]\r\ndevice_id=\"" + std::string(126, 'q') + "\"\r\n";
    static const std::string q_127(127, 'q');
    static const std::string quoted_127 = "[config]\r\ndevice_id=\"" + q_127 + "\"\r\n";
    static const std::string quoted_128 =
        "[config]\r\ndevice_id=\"" + std::string(128, 'q') + "\"\r\n";
    static const std::string quoted_127_single = "[config]\r\ndevice_id='" + q_127 + "'  \r\n";
    static const std::string huge_value =
        "[config]\r\ndevice_id=" + std::string(20000, 'v') + "\r\nnext=1\r\n";
    static const std::string huge_quoted_value =
        "[config]\r\ndevice_id=\"" + std::string(20000, 'v') + "\"\r\n";
    static const std::string huge_leading_blanks =
        "[config]\r\n" + std::string(10000, ' ') + "device_id=abc\r\n";
    static const std::string huge_blanks_around_equals = "[config]\r\ndevice_id" +
                                                         std::string(10000, '\t') + "=" +
                                                         std::string(10000, ' ') + "abc\r\n";
    static const std::string huge_trailing_blanks =
        "[config]\r\ndevice_id=abc" + std::string(10000, ' ') + "\r\n";
    static const std::string huge_header_blanks =
        "[config" + std::string(10000, ' ') + "]\r\ndevice_id=abc\r\n";
    static const std::string huge_header_tail =
        "[config]" + std::string(10000, 'x') + "\r\ndevice_id=abc\r\n";
    static const std::string huge_comment =
        "[config]\r\n;" + std::string(10000, 'x') + "device_id=no\r\ndevice_id=abc\r\n";
    static const std::string many_lines = [] {
        std::string file = "[config]\r\n";
        for (int i = 0; i < 5000; ++i) {
            file += "key" + std::to_string(i) + " = value" + std::to_string(i) + "\r\n";
        }
        return file + "device_id = abc\r\n";
    }();
    static const std::string many_lf = [] {
        std::string file = many_lines;
        std::erase(file, '\r');
        return file;
    }();
    static const std::string many_cr = [] {
        std::string file = many_lines;
        std::erase(file, '\n');
        return file;
    }();
    static const std::u16string many_lines_16(many_lines.begin(), many_lines.end());
    static const std::string many_utf16 = Utf16File(many_lines_16, false);
    static const std::string huge_line_before =
        "[config]\r\n" + std::string(20000, 'x') + "=1\r\ndevice_id=abc\r\n";
    static const std::string huge_bare_line_before =
        "[config]\r\n" + std::string(20000, 'x') + "\r\ndevice_id=abc\r\n";
    static const std::string huge_header_before =
        "[" + std::string(20000, 'x') + "]\r\n[config]\r\ndevice_id=abc\r\n";
    static const std::string huge_value_after =
        "[config]\r\ndevice_id=abc\r\nbig=" + std::string(20000, 'v') + "\r\n";
    static const std::string value_at_size =
        "[config]\r\ndevice_id=" + std::string(300, 'v') + "\r\n";

    return {
        // Keys, values and the blanks around them.
        {"Plain", "[config]\r\ndevice_id=abc\r\n"},
        {"SpacesAroundEquals", "[config]\r\n  device_id \t=\t abc  \r\n"},
        {"InnerBlanksOfValueKept", "[config]\r\ndevice_id=a b\tc\r\n", "a b\tc"},
        {"InnerBlanksOfKeyKept", "[config]\r\ndevice id=abc\r\n", "abc", "config", "device id"},
        {"InnerBlanksOfKeyMustMatch", "[config]\r\ndevice\tid=abc\r\n", "undefined", "config",
         "device id"},
        {"EmptyValue", "[config]\r\ndevice_id=\r\n", ""},
        {"BlankValue", "[config]\r\ndevice_id = \t \r\n", ""},
        {"EqualsInValueKept", "[config]\r\ndevice_id==a=b\r\n", "=a=b"},
        {"EmptyKeyName", "[config]\r\n=abc\r\n", "abc", "config", ""},
        {"BlankKeyName", "[config]\r\n = abc\r\n", "abc", "config", "  "},
        {"RequestedNamesTrimmed", "[config]\r\ndevice_id=abc\r\n", "abc", " config\t",
         "\032device_id\f"},

        // Quotes.
        {"DoubleQuotes", "[config]\r\ndevice_id=\"abc\"\r\n"},
        {"SingleQuotes", "[config]\r\ndevice_id='abc'\r\n"},
        {"QuotesKeepInnerBlanks", "[config]\r\ndevice_id = \" a b \" \r\n", " a b "},
        {"MismatchedQuotesKept", "[config]\r\ndevice_id=\"abc'\r\n", "\"abc'"},
        {"OpeningQuoteOnlyKept", "[config]\r\ndevice_id=\"abc\r\n", "\"abc"},
        {"ClosingQuoteOnlyKept", "[config]\r\ndevice_id=abc\"\r\n", "abc\""},
        {"LoneQuoteKept", "[config]\r\ndevice_id=\"\r\n", "\""},
        {"EmptyQuotes", "[config]\r\ndevice_id=\"\"\r\n", ""},
        {"OnlyOnePairOfQuotesGoes", "[config]\r\ndevice_id=\"\"abc\"\"\r\n", "\"abc\""},
        {"InnerQuotesKept", "[config]\r\ndevice_id=a\"b\"c\r\n", "a\"b\"c"},

        // Letter case.
        {"SectionCaseIgnored", "[CoNfIg]\r\ndevice_id=abc\r\n"},
        {"KeyCaseIgnored", "[config]\r\nDevice_ID=abc\r\n"},
        {"RequestedCaseIgnored", "[config]\r\ndevice_id=abc\r\n", "abc", "CONFIG", "Device_Id"},
        {"ValueCaseKept", "[config]\r\ndevice_id=AbC\r\n", "AbC"},
        {"NonAsciiLettersKeepCase", "[config]\r\nCAF\xC9=abc\r\n", "undefined", "config",
         "caf\xE9"},

        // Comments.
        {"CommentLineSkipped", "[config]\r\n;device_id=no\r\ndevice_id=abc\r\n"},
        {"CommentLineIsKeyWithSemicolon", "[config]\r\n;device_id=abc\r\n", "abc", "config",
         ";device_id"},
        {"HashLineIsKey", "[config]\r\n#device_id=abc\r\n", "abc", "config", "#device_id"},
        {"SemicolonInValueKept", "[config]\r\ndevice_id=abc ; note\r\n", "abc ; note"},
        {"IndentedSemicolonLineIsKey", "[config]\r\n \t;device_id=no\r\n", "no", "config",
         ";device_id"},
        {"CommentedHeader", ";[config]\r\ndevice_id=abc\r\n", "undefined"},

        // Sections.
        {"MissingSection", "[other]\r\ndevice_id=abc\r\n", "undefined"},
        {"MissingKey", "[config]\r\nname=abc\r\n", "undefined"},
        {"EmptyFile", "", "undefined"},
        {"KeyOfEarlierSectionIgnored", "[a]\r\ndevice_id=no\r\n[config]\r\ndevice_id=abc\r\n"},
        {"KeyOfLaterSectionIgnored", "[config]\r\nname=1\r\n[b]\r\ndevice_id=no\r\n", "undefined"},
        {"LinesBeforeHeaderAreNoSection", "device_id=abc\r\n[config]\r\n", "undefined"},
        {"LinesBeforeHeaderFormEmptySection", "device_id=abc\r\n[config]\r\n", "abc", ""},
        {"EmptyHeaderIsSecondEmptySection", "[]\r\ndevice_id=abc\r\n", "undefined", ""},
        {"BlankHeaderIsSecondEmptySection", "[a]\r\n[ ]\r\ndevice_id=abc\r\n", "undefined", " "},
        {"BlanksInsideBrackets", "[ \tconfig\t ]\r\ndevice_id=abc\r\n"},
        {"InnerBlanksOfSectionKept", "[con fig]\r\ndevice_id=abc\r\n", "undefined"},
        {"IndentedHeader", " \t[config]\r\ndevice_id=abc\r\n"},
        {"TextAfterBracketIgnored", "[config] ; note\r\ndevice_id=abc\r\n"},
        {"LastBracketClosesHeader", "[config] x ]\r\ndevice_id=abc\r\n", "undefined"},
        {"BracketInsideSectionName", "[con]fig]\r\ndevice_id=abc\r\n", "abc", "con]fig"},
        {"UnclosedHeaderIsKeyLine", "[config]\r\n[broken\r\ndevice_id=abc\r\n"},
        {"UnclosedHeaderStartsNoSection", "[other]\r\n[config\r\ndevice_id=abc\r\n", "undefined"},
        {"UnclosedHeaderIsKeyName", "[config]\r\n[x=abc\r\n", "abc", "config", "[x"},
        {"HeaderWithEquals", "[config]\r\n[device_id=abc]\r\n", "undefined"},

        // Duplicates.
        {"FirstKeyWins", "[config]\r\ndevice_id=first\r\ndevice_id=second\r\n", "first"},
        {"FirstEmptyKeyWins", "[config]\r\ndevice_id=\r\ndevice_id=second\r\n", ""},
        {"FirstSectionUsed", "[config]\r\ndevice_id=first\r\n[CONFIG]\r\ndevice_id=second\r\n",
         "first"},
        {"SecondSameSectionIgnored",
         "[config]\r\nname=1\r\n[other]\r\n[config]\r\ndevice_id=abc\r\n", "undefined"},

        // Key lines without '='.
        {"BareKeyHidesLaterOne", "[config]\r\ndevice_id\r\ndevice_id=abc\r\n", "undefined"},
        {"BlankPaddedBareKeyHidesLaterOne", "[config]\r\n \tdevice_id\x1A \r\ndevice_id=abc\r\n",
         "undefined"},
        {"BareKeyAlone", "[config]\r\ndevice_id\r\n", "undefined"},
        {"BareKeyInOtherSection", "[other]\r\ndevice_id\r\n[config]\r\ndevice_id=abc\r\n"},
        {"LongerKeyIsAnother", "[config]\r\ndevice_idx=no\r\ndevice_id=abc\r\n"},
        {"BareOtherKey", "[config]\r\ndevice\r\ndevice_id=abc\r\n"},
        {"BareKeyAfterValue", "[config]\r\ndevice_id=abc\r\ndevice_id\r\n"},

        // Line breaks.
        {"LfBreaks", "[config]\ndevice_id=abc\nnext=1\n"},
        {"CrBreaks", "[config]\rdevice_id=abc\rnext=1\r"},
        {"LfCrBreaks", "[config]\n\rdevice_id=abc\n\r"},
        {"MixedBreaks", "[a]\rdevice_id=no\n[config]\r\n\r\ndevice_id=abc\r\r\n"},
        {"LastLineWithoutBreak", "[config]\r\ndevice_id=abc"},
        {"CrOnlyEndsSection", "[config]\rname=1\r[other]\rdevice_id=no", "undefined"},
        {"BlankLinesIgnored", "\r\n \t\r\n[config]\r\n\r\n\t\r\ndevice_id=abc\r\n"},

        // Ctrl-Z, vertical tab and form feed are blanks.
        {"CtrlZAfterValueAtEnd", "[config]\r\ndevice_id=abc\x1A"},
        {"CtrlZAroundValue", "[config]\r\ndevice_id=\032abc\x1A\x1A\r\n"},
        {"CtrlZInsideValueKept", "[config]\r\ndevice_id=a\032bc\r\n", "a\032bc"},
        {"FormFeedBeforeKey", "[config]\r\n\fdevice_id=abc\r\n"},
        {"FormFeedAfterKey", "[config]\r\ndevice_id\f=abc\r\n"},
        {"VerticalTabAroundValue", "[config]\r\ndevice_id=\vabc\v\r\n"},
        {"ControlBlanksAroundHeader", "\v[\032config\f]\x1A\r\ndevice_id=abc\r\n"},
        {"ControlBlanksAfterQuotes", "[config]\r\ndevice_id=\"abc\"\v\x1A\r\n"},
        {"OtherControlsKept", "[config]\r\ndevice_id=\001abc\x1B\x7F\r\n", "\001abc\x1B\x7F"},
        {"NoBreakSpaceIsNoBlank", "[config]\r\ndevice_id=\240abc\xA0\r\n", "\240abc\xA0"},

        // NUL bytes end a name or value where they stand.
        {"NulEndsValue", "[config]\r\ndevice_id=ab\0c\r\n"sv, "ab"},
        {"NulKeepsBlanksBeforeIt", "[config]\r\ndevice_id=ab  \0 c \r\n"sv, "ab  "},
        {"NulBeforeQuotesGo", "[config]\r\ndevice_id=\"ab\"\0c\r\n"sv, "ab"},
        {"NulCutsQuotedValue", "[config]\r\ndevice_id=\"ab\0c\"\r\n"sv, "\"ab"},
        {"NulStartsValue", "[config]\r\ndevice_id= \0abc\r\n"sv, ""},
        {"NulEndsKeyName", "[config]\r\ndevice_id\0x=abc\r\n"sv},
        {"NulCutsKeyNameShort", "[config]\r\ndevice\0_id=no\r\ndevice_id=abc\r\n"sv},
        {"NulAfterBlankInKeyName", "[config]\r\ndevice_id \0x=abc\r\n"sv, "undefined"},
        {"NulStartsKeyName", "[config]\r\n\0device_id=no\r\ndevice_id=abc\r\n"sv},
        {"NulEndsSectionName", "[config\0x]\r\ndevice_id=abc\r\n"sv},
        {"NulAfterBlankInSectionName", "[ config \0x]\r\ndevice_id=abc\r\n"sv, "undefined"},

        // Byte order marks.
        {"Utf8BomSkipped", "\xEF\xBB\xBF[config]\r\ndevice_id=abc\r\n"},
        {"Utf8BomOnlyAtStart", "[config]\r\n\xEF\xBB\277device_id=abc\r\n", "undefined"},
        {"Utf8BomTwice", "\xEF\xBB\xBF\xEF\xBB\xBF[config]\r\ndevice_id=abc\r\n", "undefined"},
        {"Utf8BomAlone", "\xEF\xBB\xBF", "undefined"},
        {"Utf8BomCut", "\xEF\xBB[config]\r\ndevice_id=abc\r\n", "undefined"},
        {"Utf8ValueWithoutBomKept", "[config]\r\ndevice_id=caf\xC3\xA9\r\n", "caf\xC3\xA9"},
        {"Utf8BomNonAsciiValue", "\xEF\xBB\xBF[config]\r\ndevice_id=caf\xC3\xA9\r\n", "caf\xC3\xA9",
         "config", "device_id", "undefined", 128,
         "Win32 converts a UTF-8 value to the ANSI code page; POSIX text "
         "is UTF-8, so the bytes are kept"},
        {"Utf8BomValueOutsideCodePage", "\xEF\xBB\xBF[config]\r\ndevice_id=\xE4\xB8\xAD\r\n",
         "\xE4\xB8\xAD", "config", "device_id", "undefined", 128,
         "Win32 gives '?' for a character outside the ANSI code page; "
         "POSIX keeps the UTF-8 bytes"},
        {"Utf8BomInvalidBytes", "\xEF\xBB\xBF[config]\r\ndevice_id=a\xC3\r\n", "a\xC3", "config",
         "device_id", "undefined", 128,
         "Win32 replaces bytes that are not UTF-8 with '?'; POSIX "
         "keeps the bytes as they are"},

        // UTF-16 files.
        {"Utf16Le", utf16_le},
        {"Utf16Be", utf16_be},
        {"Utf16ControlBlanksAndQuotes", utf16_blanks},
        {"Utf16BareKeyHidesLaterOne", utf16_bare_key, "undefined"},
        {"Utf16Nul", utf16_nul, "ab"},
        {"Utf16LongValueCut", utf16_long_value, std::string(127, 'v')},
        {"Utf16OddByteAfterValueLine", utf16_odd_tail},
        {"Utf16WithoutBomIsBytes", "d\0e\0v\0i\0c\0e\0_\0i\0d\0=\0a\0b\0c\0"sv, "", "", "d"},
        {"Utf16OddByteEndsValue", "\xFE\xFF\0k\0=\0xy"sv, "x", "", "k", "undefined", 128,
         "Win32 keeps an odd last byte as a character of its own; POSIX drops half a character"},
        {"Utf16BomAlone", "\xFF\xFE", "undefined"},
        {"Utf16NonAsciiValue", utf16_non_ascii, "caf\xC3\xA9-\xE4\xB8\xAD", "config", "device_id",
         "undefined", 128,
         "Win32 converts UTF-16 to the ANSI code page ('?' outside it); "
         "POSIX gives UTF-8, as from a UTF-8 file"},
        {"Utf16BeNonAsciiValue", utf16_be_non_ascii, "\xC3\x9Ftra\xC3\237e", "config", "device_id",
         "undefined", 128, "Win32 converts UTF-16 to the ANSI code page; POSIX gives UTF-8"},
        {"Utf16SurrogatePair", utf16_pair, "a\xF0\x9F\x98\200b", "config", "device_id", "undefined",
         128,
         "Win32 gives '?' for each half of the pair; POSIX gives the "
         "character in UTF-8"},
        {"Utf16LoneSurrogates", utf16_lone, "a\xEF\xBF\xBDz\xEF\xBF\xBD", "config", "device_id",
         "undefined", 128, "Win32 gives '?' for half a pair; POSIX gives U+FFFD in UTF-8"},
        {"Utf16NonAsciiKey", utf16_non_ascii_key, "abc", "config", "caf\xC3\xA9", "undefined", 128,
         "Win32 reads the requested name in the ANSI code page; POSIX "
         "names are UTF-8 like the text"},

        // Sizes and long lines.
        {"ValueCutToSize", value_200, std::string(127, 'v')},
        {"ValueFillsSize", value_127, std::string(127, 'v')},
        {"ValueOneOverSize", value_128, std::string(127, 'v')},
        {"SmallSize", "[config]\r\ndevice_id=abcdef\r\n", "abc", "config", "device_id", "undefined",
         4},
        {"SizeOne", "[config]\r\ndevice_id=abcdef\r\n", "", "config", "device_id", "undefined", 1},
        {"DefaultCutToSize", "", "und", "config", "device_id", "undefined", 4},
        {"QuotedValueShorterThanSize", quoted_126, std::string(126, 'q')},
        {"QuotedValueOneOverSize", quoted_128, q_127},
        {"QuotedValueCutBeforeClosingQuote", "[config]\r\ndevice_id=\"abcdef\"\r\n", "abc",
         "config", "device_id", "undefined", 4},
        {"QuotedValueFillsSize", quoted_127, q_127, "config", "device_id", "undefined", 128,
         kQuotedFill},
        {"SingleQuotedValueFillsSize", quoted_127_single, q_127, "config", "device_id", "undefined",
         128, kQuotedFill},
        {"SmallQuotedValueFillsSize", "[config]\r\ndevice_id=\"ab\"\r\n", "ab", "config",
         "device_id", "undefined", 3, kQuotedFill},
        {"HugeValue", huge_value, std::string(127, 'v')},
        {"HugeValueWhole", huge_value, std::string(20000, 'v'), "config", "device_id", "undefined",
         30000},
        {"HugeQuotedValueWhole", huge_quoted_value, std::string(20000, 'v'), "config", "device_id",
         "undefined", 30000},
        {"HugeLeadingBlanks", huge_leading_blanks},
        {"HugeBlanksAroundEquals", huge_blanks_around_equals},
        {"HugeTrailingBlanks", huge_trailing_blanks},
        {"HugeHeaderBlanks", huge_header_blanks},
        {"HugeHeaderTail", huge_header_tail},
        {"HugeComment", huge_comment},
        {"ManyLines", many_lines},
        {"ManyLfLines", many_lf},
        {"ManyCrLines", many_cr},
        {"ManyUtf16Lines", many_utf16},
        {"KeyAfterHugeLine", huge_line_before},
        {"KeyAfterHugeBareLine", huge_bare_line_before},
        {"HeaderAfterHugeName", huge_header_before},
        {"HugeValueAfterWantedOne", huge_value_after},
        {"LongValueBigSize", value_at_size, std::string(300, 'v'), "config", "device_id",
         "undefined", 4096},

        // The default.
        {"DefaultLosesTrailingSpaces", "", "undefined", "config", "device_id", "undefined  "},
        {"DefaultKeepsTrailingTab", "", "undefined\t", "config", "device_id", "undefined\t"},
        {"DefaultKeepsLeadingSpaces", "", "  undefined", "config", "device_id", "  undefined"},
        {"DefaultOfSpacesKeepsOne", "", " ", "config", "device_id", "   "},
        {"DefaultLosesQuotes", "", "undefined", "config", "device_id", "'undefined' "},
        {"EmptyDefault", "", "", "config", "device_id", ""},
        {"QuotedDefaultFillsSize", "", "ab", "config", "device_id", "\"ab\"", 3,
         "Win32 drops one character too many from a quoted default that "
         "fills the buffer exactly"},
    };
}

}  // namespace ini_rules
