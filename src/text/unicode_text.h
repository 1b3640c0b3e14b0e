// UTF-8 and the few Unicode properties the line editor needs to keep a
// character with what joins it: a well-formed check, a decoder, and the
// grapheme cluster rules in a compact form (docs/text-rules.md).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "text/text_stream.h"

// One code point read from UTF-8: `valid` false for a byte that starts no
// well-formed sequence (an overlong form, a surrogate, above U+10FFFF, a
// sequence cut short), which then spans one byte.
struct Utf8CodePoint {
    char32_t code = 0;
    std::size_t bytes = 1;
    bool valid = false;
};

Utf8CodePoint DecodeUtf8(std::string_view text);

// Whether `text` is the start of a well-formed sequence that its end cut
// short.
bool Utf8CutShort(std::string_view text);

// Whether all of `text` is well-formed UTF-8.
bool IsWellFormedUtf8(std::string_view text);

// Whether `second` may follow `lead` in a well-formed sequence (Unicode's
// table 3-7); the bytes after the second are any of 0x80 to 0xBF.
constexpr bool Utf8SecondByteFits(unsigned char lead, unsigned char second) {
    const unsigned char low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
    return second >= low && second <= high;
}

// The grapheme cluster break property, as far as the editor uses it.
enum class ClusterBreak : unsigned char {
    kOther,
    kControl,
    kExtend,  // combining marks, variation selectors, emoji modifiers, tags
    kZwj,
    kRegionalIndicator,
    kPictographic,  // Extended_Pictographic
    kL,
    kV,
    kT,
    kLv,
    kLvt,
};

// The property of `code`; `zero_width` (the terminal's width is 0) makes an
// otherwise plain character Extend.
ClusterBreak ClusterBreakOf(char32_t code, bool zero_width);

// Whether a code point of property `next` joins the cluster so far; the
// state is the cluster's, started by ClusterStart.
struct ClusterState {
    ClusterBreak last = ClusterBreak::kControl;
    bool pictographic_zwj = false;  // Pictographic Extend* ZWJ so far
    bool pictographic = false;      // Pictographic Extend* so far
    int regional = 0;               // regional indicators in a row
};

ClusterState ClusterStart(ClusterBreak first);
bool ClusterJoins(ClusterState& state, ClusterBreak next);

// The start of UTF-8 `text` that holds whole grapheme clusters in at most
// `room` bytes, and how many; a sequence cut short by the text's end may
// join the cluster before it, which is then left out. nullopt when the text
// is no UTF-8.
std::optional<TextPrefix> Utf8WholeClusters(std::string_view text, std::size_t room);
