// config.ini lookups compared between the POSIX stand-in and Win32. Every
// row is asked with the call the program makes unless it says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace differential {

using namespace std::string_view_literals;

struct IniCase {
    const char* name;       // gtest-safe identifier: letters, digits, underscores
    std::string_view file;  // bytes of the INI file (use string_view literals with sv for NULs)
    const char* section = "config";
    const char* key = "device_id";
    const char* default_value = "undefined";
    uint32_t size = 128;
    // nullptr: the POSIX lookup must return exactly what Win32 returns (bytes and count).
    // Otherwise, why the POSIX result is meant to differ; the test then checks the
    // two still differ and that POSIX gives `posix_expected`.
    const char* intended_difference = nullptr;
    std::string_view posix_expected = {};
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
    static const std::string value_at_size =
        "[config]\r\ndevice_id=" + std::string(300, 'v') + "\r\n";

    return {
        // Keys, values and the blanks around them.
        {.name = "Plain", .file = "[config]\r\ndevice_id=abc\r\n"},
        {.name = "SpacesAroundEquals", .file = "[config]\r\n  device_id \t=\t abc  \r\n"},
        {.name = "InnerBlanksOfValueKept", .file = "[config]\r\ndevice_id=a b\tc\r\n"},
        {.name = "InnerBlanksOfKeyKept",
         .file = "[config]\r\ndevice id=abc\r\n",
         .key = "device id"},
        {.name = "InnerBlanksOfKeyMustMatch",
         .file = "[config]\r\ndevice\tid=abc\r\n",
         .key = "device id"},
        {.name = "EmptyValue", .file = "[config]\r\ndevice_id=\r\n"},
        {.name = "BlankValue", .file = "[config]\r\ndevice_id = \t \r\n"},
        {.name = "EqualsInValueKept", .file = "[config]\r\ndevice_id==a=b\r\n"},
        {.name = "EmptyKeyName", .file = "[config]\r\n=abc\r\n", .key = ""},
        {.name = "BlankKeyName", .file = "[config]\r\n = abc\r\n", .key = "  "},
        {.name = "RequestedNamesTrimmed",
         .file = "[config]\r\ndevice_id=abc\r\n",
         .section = " config\t",
         .key = "\x1A"
                "device_id\f"},

        // Quotes.
        {.name = "DoubleQuotes", .file = "[config]\r\ndevice_id=\"abc\"\r\n"},
        {.name = "SingleQuotes", .file = "[config]\r\ndevice_id='abc'\r\n"},
        {.name = "QuotesKeepInnerBlanks", .file = "[config]\r\ndevice_id = \" a b \" \r\n"},
        {.name = "MismatchedQuotesKept", .file = "[config]\r\ndevice_id=\"abc'\r\n"},
        {.name = "OpeningQuoteOnlyKept", .file = "[config]\r\ndevice_id=\"abc\r\n"},
        {.name = "ClosingQuoteOnlyKept", .file = "[config]\r\ndevice_id=abc\"\r\n"},
        {.name = "LoneQuoteKept", .file = "[config]\r\ndevice_id=\"\r\n"},
        {.name = "EmptyQuotes", .file = "[config]\r\ndevice_id=\"\"\r\n"},
        {.name = "OnlyOnePairOfQuotesGoes", .file = "[config]\r\ndevice_id=\"\"abc\"\"\r\n"},
        {.name = "InnerQuotesKept", .file = "[config]\r\ndevice_id=a\"b\"c\r\n"},

        // Letter case.
        {.name = "SectionCaseIgnored", .file = "[CoNfIg]\r\ndevice_id=abc\r\n"},
        {.name = "KeyCaseIgnored", .file = "[config]\r\nDevice_ID=abc\r\n"},
        {.name = "RequestedCaseIgnored",
         .file = "[config]\r\ndevice_id=abc\r\n",
         .section = "CONFIG",
         .key = "Device_Id"},
        {.name = "ValueCaseKept", .file = "[config]\r\ndevice_id=AbC\r\n"},
        {.name = "NonAsciiLettersKeepCase",
         .file = "[config]\r\nCAF\xC9=abc\r\n",
         .key = "caf\xE9"},

        // Comments.
        {.name = "CommentLineSkipped", .file = "[config]\r\n;device_id=no\r\ndevice_id=abc\r\n"},
        {.name = "CommentLineIsKeyWithSemicolon",
         .file = "[config]\r\n;device_id=abc\r\n",
         .key = ";device_id"},
        {.name = "HashLineIsKey", .file = "[config]\r\n#device_id=abc\r\n", .key = "#device_id"},
        {.name = "SemicolonInValueKept", .file = "[config]\r\ndevice_id=abc ; note\r\n"},
        {.name = "CommentedHeader", .file = ";[config]\r\ndevice_id=abc\r\n"},

        // Sections.
        {.name = "MissingSection", .file = "[other]\r\ndevice_id=abc\r\n"},
        {.name = "MissingKey", .file = "[config]\r\nname=abc\r\n"},
        {.name = "EmptyFile", .file = ""},
        {.name = "KeyOfEarlierSectionIgnored",
         .file = "[a]\r\ndevice_id=no\r\n[config]\r\ndevice_id=abc\r\n"},
        {.name = "KeyOfLaterSectionIgnored",
         .file = "[config]\r\nname=1\r\n[b]\r\ndevice_id=no\r\n"},
        {.name = "LinesBeforeHeaderAreNoSection", .file = "device_id=abc\r\n[config]\r\n"},
        {.name = "LinesBeforeHeaderFormEmptySection",
         .file = "device_id=abc\r\n[config]\r\n",
         .section = ""},
        {.name = "EmptyHeaderIsSecondEmptySection",
         .file = "[]\r\ndevice_id=abc\r\n",
         .section = ""},
        {.name = "BlankHeaderIsSecondEmptySection",
         .file = "[a]\r\n[ ]\r\ndevice_id=abc\r\n",
         .section = " "},
        {.name = "BlanksInsideBrackets", .file = "[ \tconfig\t ]\r\ndevice_id=abc\r\n"},
        {.name = "InnerBlanksOfSectionKept", .file = "[con fig]\r\ndevice_id=abc\r\n"},
        {.name = "IndentedHeader", .file = " \t[config]\r\ndevice_id=abc\r\n"},
        {.name = "TextAfterBracketIgnored", .file = "[config] ; note\r\ndevice_id=abc\r\n"},
        {.name = "LastBracketClosesHeader", .file = "[config] x ]\r\ndevice_id=abc\r\n"},
        {.name = "BracketInsideSectionName",
         .file = "[con]fig]\r\ndevice_id=abc\r\n",
         .section = "con]fig"},
        {.name = "UnclosedHeaderIsKeyLine", .file = "[config]\r\n[broken\r\ndevice_id=abc\r\n"},
        {.name = "UnclosedHeaderStartsNoSection",
         .file = "[other]\r\n[config\r\ndevice_id=abc\r\n"},
        {.name = "UnclosedHeaderIsKeyName", .file = "[config]\r\n[x=abc\r\n", .key = "[x"},
        {.name = "HeaderWithEquals", .file = "[config]\r\n[device_id=abc]\r\n"},

        // Duplicates.
        {.name = "FirstKeyWins", .file = "[config]\r\ndevice_id=first\r\ndevice_id=second\r\n"},
        {.name = "FirstEmptyKeyWins", .file = "[config]\r\ndevice_id=\r\ndevice_id=second\r\n"},
        {.name = "FirstSectionUsed",
         .file = "[config]\r\ndevice_id=first\r\n[CONFIG]\r\ndevice_id=second\r\n"},
        {.name = "SecondSameSectionIgnored",
         .file = "[config]\r\nname=1\r\n[other]\r\n[config]\r\ndevice_id=abc\r\n"},

        // Key lines without '='.
        {.name = "BareKeyHidesLaterOne", .file = "[config]\r\ndevice_id\r\ndevice_id=abc\r\n"},
        {.name = "BlankPaddedBareKeyHidesLaterOne",
         .file = "[config]\r\n \tdevice_id\x1A \r\ndevice_id=abc\r\n"},
        {.name = "BareKeyAlone", .file = "[config]\r\ndevice_id\r\n"},
        {.name = "BareKeyInOtherSection",
         .file = "[other]\r\ndevice_id\r\n[config]\r\ndevice_id=abc\r\n"},
        {.name = "BareOtherKey", .file = "[config]\r\ndevice\r\ndevice_id=abc\r\n"},
        {.name = "BareKeyAfterValue", .file = "[config]\r\ndevice_id=abc\r\ndevice_id\r\n"},

        // Line breaks.
        {.name = "LfBreaks", .file = "[config]\ndevice_id=abc\nnext=1\n"},
        {.name = "CrBreaks", .file = "[config]\rdevice_id=abc\rnext=1\r"},
        {.name = "LfCrBreaks", .file = "[config]\n\rdevice_id=abc\n\r"},
        {.name = "MixedBreaks", .file = "[a]\rdevice_id=no\n[config]\r\n\r\ndevice_id=abc\r\r\n"},
        {.name = "LastLineWithoutBreak", .file = "[config]\r\ndevice_id=abc"},
        {.name = "CrOnlyEndsSection", .file = "[config]\rname=1\r[other]\rdevice_id=no"},
        {.name = "BlankLinesIgnored", .file = "\r\n \t\r\n[config]\r\n\r\n\t\r\ndevice_id=abc\r\n"},

        // Ctrl-Z, vertical tab and form feed are blanks.
        {.name = "CtrlZAfterValueAtEnd", .file = "[config]\r\ndevice_id=abc\x1A"},
        {.name = "CtrlZAroundValue",
         .file = "[config]\r\ndevice_id=\x1A"
                 "abc\x1A\x1A\r\n"},
        {.name = "CtrlZInsideValueKept",
         .file = "[config]\r\ndevice_id=a\x1A"
                 "bc\r\n"},
        {.name = "FormFeedBeforeKey", .file = "[config]\r\n\fdevice_id=abc\r\n"},
        {.name = "FormFeedAfterKey", .file = "[config]\r\ndevice_id\f=abc\r\n"},
        {.name = "VerticalTabAroundValue", .file = "[config]\r\ndevice_id=\vabc\v\r\n"},
        {.name = "ControlBlanksAroundHeader",
         .file = "\v[\x1A"
                 "config\f]\x1A\r\ndevice_id=abc\r\n"},
        {.name = "ControlBlanksAfterQuotes", .file = "[config]\r\ndevice_id=\"abc\"\v\x1A\r\n"},
        {.name = "OtherControlsKept",
         .file = "[config]\r\ndevice_id=\x01"
                 "abc\x1B\x7F\r\n"},
        {.name = "NoBreakSpaceIsNoBlank",
         .file = "[config]\r\ndevice_id=\xA0"
                 "abc\xA0\r\n"},

        // NUL bytes end a name or value where they stand.
        {.name = "NulEndsValue", .file = "[config]\r\ndevice_id=ab\0c\r\n"sv},
        {.name = "NulKeepsBlanksBeforeIt", .file = "[config]\r\ndevice_id=ab  \0 c \r\n"sv},
        {.name = "NulBeforeQuotesGo", .file = "[config]\r\ndevice_id=\"ab\"\0c\r\n"sv},
        {.name = "NulCutsQuotedValue", .file = "[config]\r\ndevice_id=\"ab\0c\"\r\n"sv},
        {.name = "NulStartsValue", .file = "[config]\r\ndevice_id= \0abc\r\n"sv},
        {.name = "NulEndsKeyName", .file = "[config]\r\ndevice_id\0x=abc\r\n"sv},
        {.name = "NulAfterBlankInKeyName", .file = "[config]\r\ndevice_id \0x=abc\r\n"sv},
        {.name = "NulStartsKeyName", .file = "[config]\r\n\0device_id=no\r\ndevice_id=abc\r\n"sv},
        {.name = "NulEndsSectionName", .file = "[config\0x]\r\ndevice_id=abc\r\n"sv},
        {.name = "NulAfterBlankInSectionName", .file = "[ config \0x]\r\ndevice_id=abc\r\n"sv},

        // Byte order marks.
        {.name = "Utf8BomSkipped", .file = "\xEF\xBB\xBF[config]\r\ndevice_id=abc\r\n"},
        {.name = "Utf8BomOnlyAtStart",
         .file = "[config]\r\n\xEF\xBB\xBF"
                 "device_id=abc\r\n"},
        {.name = "Utf8BomTwice", .file = "\xEF\xBB\xBF\xEF\xBB\xBF[config]\r\ndevice_id=abc\r\n"},
        {.name = "Utf8BomAlone", .file = "\xEF\xBB\xBF"},
        {.name = "Utf8BomCut", .file = "\xEF\xBB[config]\r\ndevice_id=abc\r\n"},
        {.name = "Utf8ValueWithoutBomKept", .file = "[config]\r\ndevice_id=caf\xC3\xA9\r\n"},
        {.name = "Utf8BomNonAsciiValue",
         .file = "\xEF\xBB\xBF[config]\r\ndevice_id=caf\xC3\xA9\r\n",
         .intended_difference = "Win32 converts a UTF-8 value to the ANSI code page; POSIX text "
                                "is UTF-8, so the bytes are kept",
         .posix_expected = "caf\xC3\xA9"},
        {.name = "Utf8BomValueOutsideCodePage",
         .file = "\xEF\xBB\xBF[config]\r\ndevice_id=\xE4\xB8\xAD\r\n",
         .intended_difference = "Win32 gives '?' for a character outside the ANSI code page; "
                                "POSIX keeps the UTF-8 bytes",
         .posix_expected = "\xE4\xB8\xAD"},
        {.name = "Utf8BomInvalidBytes",
         .file = "\xEF\xBB\xBF[config]\r\ndevice_id=a\xC3\r\n",
         .intended_difference = "Win32 replaces bytes that are not UTF-8 with '?'; POSIX "
                                "keeps the bytes as they are",
         .posix_expected = "a\xC3"},

        // UTF-16 files.
        {.name = "Utf16Le", .file = utf16_le},
        {.name = "Utf16Be", .file = utf16_be},
        {.name = "Utf16ControlBlanksAndQuotes", .file = utf16_blanks},
        {.name = "Utf16BareKeyHidesLaterOne", .file = utf16_bare_key},
        {.name = "Utf16Nul", .file = utf16_nul},
        {.name = "Utf16LongValueCut", .file = utf16_long_value},
        {.name = "Utf16OddByteAfterValueLine", .file = utf16_odd_tail},
        {.name = "Utf16WithoutBomIsBytes",
         .file = "d\0e\0v\0i\0c\0e\0_\0i\0d\0=\0a\0b\0c\0"sv,
         .section = "",
         .key = "d"},
        {.name = "Utf16BomAlone", .file = "\xFF\xFE"},
        {.name = "Utf16NonAsciiValue",
         .file = utf16_non_ascii,
         .intended_difference = "Win32 converts UTF-16 to the ANSI code page ('?' outside it); "
                                "POSIX gives UTF-8, as from a UTF-8 file",
         .posix_expected = "caf\xC3\xA9-\xE4\xB8\xAD"},
        {.name = "Utf16BeNonAsciiValue",
         .file = utf16_be_non_ascii,
         .intended_difference = "Win32 converts UTF-16 to the ANSI code page; POSIX gives UTF-8",
         .posix_expected = "\xC3\x9Ftra\xC3\x9F"
                           "e"},
        {.name = "Utf16SurrogatePair",
         .file = utf16_pair,
         .intended_difference = "Win32 gives '?' for each half of the pair; POSIX gives the "
                                "character in UTF-8",
         .posix_expected = "a\xF0\x9F\x98\x80"
                           "b"},
        {.name = "Utf16LoneSurrogates",
         .file = utf16_lone,
         .intended_difference = "Win32 gives '?' for half a pair; POSIX gives U+FFFD in UTF-8",
         .posix_expected = "a\xEF\xBF\xBDz\xEF\xBF\xBD"},
        {.name = "Utf16NonAsciiKey",
         .file = utf16_non_ascii_key,
         .key = "caf\xC3\xA9",
         .intended_difference = "Win32 reads the requested name in the ANSI code page; POSIX "
                                "names are UTF-8 like the text",
         .posix_expected = "abc"},

        // Sizes and long lines.
        {.name = "ValueCutToSize", .file = value_200},
        {.name = "ValueFillsSize", .file = value_127},
        {.name = "ValueOneOverSize", .file = value_128},
        {.name = "SmallSize", .file = "[config]\r\ndevice_id=abcdef\r\n", .size = 4},
        {.name = "SizeOne", .file = "[config]\r\ndevice_id=abcdef\r\n", .size = 1},
        {.name = "DefaultCutToSize", .file = "", .size = 4},
        {.name = "QuotedValueShorterThanSize", .file = quoted_126},
        {.name = "QuotedValueOneOverSize", .file = quoted_128},
        {.name = "QuotedValueCutBeforeClosingQuote",
         .file = "[config]\r\ndevice_id=\"abcdef\"\r\n",
         .size = 4},
        {.name = "QuotedValueFillsSize",
         .file = quoted_127,
         .intended_difference = "Win32 drops one character too many from a quoted value that "
                                "fills the buffer exactly",
         .posix_expected = q_127},
        {.name = "SingleQuotedValueFillsSize",
         .file = quoted_127_single,
         .intended_difference = "Win32 drops one character too many from a quoted value that "
                                "fills the buffer exactly",
         .posix_expected = q_127},
        {.name = "SmallQuotedValueFillsSize",
         .file = "[config]\r\ndevice_id=\"ab\"\r\n",
         .size = 3,
         .intended_difference = "Win32 drops one character too many from a quoted value that "
                                "fills the buffer exactly",
         .posix_expected = "ab"},
        {.name = "HugeValue", .file = huge_value},
        {.name = "HugeValueWhole", .file = huge_value, .size = 30000},
        {.name = "HugeQuotedValueWhole", .file = huge_quoted_value, .size = 30000},
        {.name = "HugeLeadingBlanks", .file = huge_leading_blanks},
        {.name = "HugeBlanksAroundEquals", .file = huge_blanks_around_equals},
        {.name = "HugeTrailingBlanks", .file = huge_trailing_blanks},
        {.name = "HugeHeaderBlanks", .file = huge_header_blanks},
        {.name = "HugeHeaderTail", .file = huge_header_tail},
        {.name = "HugeComment", .file = huge_comment},
        {.name = "ManyLines", .file = many_lines},
        {.name = "LongValueBigSize", .file = value_at_size, .size = 4096},

        // The default.
        {.name = "DefaultLosesTrailingSpaces", .file = "", .default_value = "undefined  "},
        {.name = "DefaultKeepsTrailingTab", .file = "", .default_value = "undefined\t"},
        {.name = "DefaultKeepsLeadingSpaces", .file = "", .default_value = "  undefined"},
        {.name = "DefaultOfSpacesKeepsOne", .file = "", .default_value = "   "},
        {.name = "DefaultLosesQuotes", .file = "", .default_value = "'undefined' "},
        {.name = "EmptyDefault", .file = "", .default_value = ""},
        {.name = "QuotedDefaultFillsSize",
         .file = "",
         .default_value = "\"ab\"",
         .size = 3,
         .intended_difference = "Win32 drops one character too many from a quoted default that "
                                "fills the buffer exactly",
         .posix_expected = "ab"},
    };
}

}  // namespace differential
