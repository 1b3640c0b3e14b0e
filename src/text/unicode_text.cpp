#include "text/unicode_text.h"

#include <array>

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Extended_Pictographic, in few ranges: the emoji blocks whole, and the
// symbols before them that take an emoji presentation.
constexpr std::array<Range, 26> kPictographic{{
    {0x00a9, 0x00a9},   {0x00ae, 0x00ae}, {0x203c, 0x203c}, {0x2049, 0x2049}, {0x2122, 0x2122},
    {0x2139, 0x2139},   {0x2194, 0x2199}, {0x21a9, 0x21aa}, {0x231a, 0x231b}, {0x2328, 0x2328},
    {0x23cf, 0x23cf},   {0x23e9, 0x23f3}, {0x23f8, 0x23fa}, {0x24c2, 0x24c2}, {0x25aa, 0x25ab},
    {0x25b6, 0x25b6},   {0x25c0, 0x25c0}, {0x25fb, 0x25fe}, {0x2600, 0x27bf}, {0x2934, 0x2935},
    {0x2b05, 0x2b07},   {0x2b1b, 0x2b1c}, {0x2b50, 0x2b55}, {0x3030, 0x303d}, {0x1f000, 0x1faff},
    {0x1fc00, 0x1fffd},
}};

// Extend beyond what the terminal draws in no cell: variation selectors,
// emoji modifiers, tags, and the marks most used.
constexpr std::array<Range, 9> kExtend{{
    {0x0300, 0x036f},
    {0x1ab0, 0x1aff},
    {0x1dc0, 0x1dff},
    {0x20d0, 0x20ff},
    {0xfe00, 0xfe0f},
    {0xfe20, 0xfe2f},
    {0x1f3fb, 0x1f3ff},
    {0xe0020, 0xe007f},
    {0xe0100, 0xe01ef},
}};

template <std::size_t size>
constexpr bool In(const std::array<Range, size>& ranges, char32_t code) {
    for (const Range& range : ranges) {
        if (code >= range.first && code <= range.last) {
            return true;
        }
    }
    return false;
}

constexpr char32_t kHangulSyllables = 0xac00;

}  // namespace

Utf8CodePoint DecodeUtf8(std::string_view text) {
    Utf8CodePoint found;
    if (text.empty()) {
        return found;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    const std::size_t size = lead >= 0xc2 && lead <= 0xdf   ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
    if (size == 0 || text.size() < size ||
        !Utf8SecondByteFits(lead, static_cast<unsigned char>(text[1]))) {
        return found;
    }
    char32_t code = lead & (0x7fu >> size);
    for (std::size_t at = 1; at < size; ++at) {
        const auto next = static_cast<unsigned char>(text[at]);
        if ((next & 0xc0) != 0x80) {
            return found;
        }
        code = code << 6 | (next & 0x3fu);
    }
    return {code, size, true};
}

bool IsWellFormedUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const Utf8CodePoint code = DecodeUtf8(text.substr(at));
        if (!code.valid) {
            return false;
        }
        at += code.bytes;
    }
    return true;
}

ClusterBreak ClusterBreakOf(char32_t code, bool zero_width) {
    if (code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x200b || code == 0x2028 ||
        code == 0x2029) {
        return ClusterBreak::kControl;
    }
    if (code < 0x300) {
        return code == 0xa9 || code == 0xae ? ClusterBreak::kPictographic : ClusterBreak::kOther;
    }
    if (code == 0x200d) {
        return ClusterBreak::kZwj;
    }
    if (code >= 0x1f1e6 && code <= 0x1f1ff) {
        return ClusterBreak::kRegionalIndicator;
    }
    if (In(kExtend, code)) {
        return ClusterBreak::kExtend;
    }
    if ((code >= 0x1100 && code <= 0x115f) || (code >= 0xa960 && code <= 0xa97c)) {
        return ClusterBreak::kL;
    }
    if ((code >= 0x1160 && code <= 0x11a7) || (code >= 0xd7b0 && code <= 0xd7c6)) {
        return ClusterBreak::kV;
    }
    if ((code >= 0x11a8 && code <= 0x11ff) || (code >= 0xd7cb && code <= 0xd7fb)) {
        return ClusterBreak::kT;
    }
    if (code >= kHangulSyllables && code <= 0xd7a3) {
        return (code - kHangulSyllables) % 28 == 0 ? ClusterBreak::kLv : ClusterBreak::kLvt;
    }
    if (In(kPictographic, code)) {
        return ClusterBreak::kPictographic;
    }
    return zero_width ? ClusterBreak::kExtend : ClusterBreak::kOther;
}

ClusterState ClusterStart(ClusterBreak first) {
    ClusterState state;
    state.last = first;
    state.pictographic = first == ClusterBreak::kPictographic;
    state.regional = first == ClusterBreak::kRegionalIndicator ? 1 : 0;
    return state;
}

bool ClusterJoins(ClusterState& state, ClusterBreak next) {
    using B = ClusterBreak;
    const B last = state.last;
    bool joins = false;
    if (last == B::kControl || next == B::kControl) {
        joins = false;
    } else if (next == B::kExtend || next == B::kZwj) {
        joins = true;
    } else if (last == B::kL) {
        joins = next == B::kL || next == B::kV || next == B::kLv || next == B::kLvt;
    } else if (last == B::kLv || last == B::kV) {
        joins = next == B::kV || next == B::kT;
    } else if (last == B::kLvt || last == B::kT) {
        joins = next == B::kT;
    } else if (last == B::kZwj) {
        joins = state.pictographic_zwj && next == B::kPictographic;
    } else if (last == B::kRegionalIndicator) {
        joins = next == B::kRegionalIndicator && state.regional % 2 == 1;
    }
    if (!joins) {
        return false;
    }
    state.pictographic_zwj = state.pictographic && next == B::kZwj;
    state.pictographic = (state.pictographic && next == B::kExtend) || next == B::kPictographic;
    state.regional = next == B::kRegionalIndicator ? state.regional + 1 : 0;
    state.last = next;
    return true;
}

bool Utf8CutShort(std::string_view rest) {
    if (rest.empty()) {
        return false;
    }
    const auto lead = static_cast<unsigned char>(rest[0]);
    const std::size_t size = lead >= 0xc2 && lead <= 0xdf   ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
    if (size <= rest.size()) {
        return false;
    }
    for (std::size_t at = 1; at < rest.size(); ++at) {
        const auto next = static_cast<unsigned char>(rest[at]);
        if (at == 1 ? !Utf8SecondByteFits(lead, next) : (next & 0xc0) != 0x80) {
            return false;
        }
    }
    return true;
}

std::optional<TextPrefix> Utf8WholeClusters(std::string_view text, std::size_t room) {
    TextPrefix prefix;
    std::size_t at = 0;
    while (at < text.size()) {
        Utf8CodePoint code = DecodeUtf8(text.substr(at));
        if (!code.valid) {
            if (Utf8CutShort(text.substr(at))) {
                return prefix;
            }
            return std::nullopt;
        }
        ClusterState state = ClusterStart(ClusterBreakOf(code.code, false));
        std::size_t end = at + code.bytes;
        bool open = false;  // a sequence cut short follows: the cluster may go on
        while (end < text.size()) {
            code = DecodeUtf8(text.substr(end));
            if (!code.valid) {
                open = Utf8CutShort(text.substr(end));
                break;
            }
            if (!ClusterJoins(state, ClusterBreakOf(code.code, false))) {
                break;
            }
            end += code.bytes;
        }
        if (open || end > room) {
            return prefix;
        }
        at = end;
        prefix = {at, prefix.characters + 1};
    }
    return prefix;
}
