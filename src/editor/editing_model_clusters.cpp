// The line's clusters: found where a character ends and how many cells the
// terminal gives it, joined by the grapheme cluster rules (text/unicode_text.h),
// and kept as the line changes by finding again only what an edit touched.
#include <algorithm>
#include <cstring>

#include "editor/editing_model.h"
#include "text/unicode_text.h"

namespace {

// One character of a cluster.
struct Piece {
    std::size_t bytes = 1;
    std::size_t cells = 1;
    ClusterBreak kind = ClusterBreak::kOther;
    Shown shown = Shown::kAsIs;
    bool emoji = false;  // a selector, modifier or joiner of emoji
};

Piece PieceAt(const TextFacts& facts, std::string_view text) {
    const auto value = static_cast<unsigned char>(text[0]);
    if (value < 0x20 || value == 0x7f) {
        return {1, 2, ClusterBreak::kControl, Shown::kControl};
    }
    if (value < 0x80) {
        return {};
    }
    if (facts.kind == TextKind::kAscii) {
        return {1, 1, ClusterBreak::kControl, Shown::kUnknownByte};
    }
    if (facts.character == nullptr) {
        return {};
    }
    if (facts.kind == TextKind::kCodePage) {
        const TextCharacter character = facts.character(text);
        const std::size_t bytes = std::clamp<std::size_t>(character.bytes, 1, text.size());
        return {bytes, character.cells,
                character.cells == 0 ? ClusterBreak::kExtend : ClusterBreak::kOther};
    }
    const Utf8CodePoint code = DecodeUtf8(text);
    if (!code.valid) {
        // A character the text's end cuts off spans the rest, so that a field
        // cut there never keeps a part of it.
        return {Utf8CutShort(text) ? text.size() : 1, 1, ClusterBreak::kControl,
                Shown::kUnknownByte};
    }
    if (code.code <= 0x9f) {
        return {code.bytes, 4, ClusterBreak::kControl, Shown::kC1};
    }
    const std::size_t cells = facts.character(text.substr(0, code.bytes)).cells;
    const ClusterBreak kind = ClusterBreakOf(code.code, cells == 0);
    const bool emoji = code.code == 0xfe0f || code.code == 0x200d ||
                       (code.code >= 0x1f3fb && code.code <= 0x1f3ff);
    return {code.bytes, kind == ClusterBreak::kExtend || kind == ClusterBreak::kZwj ? 0 : cells,
            kind, Shown::kAsIs, emoji};
}

// An emoji's code point may be drawn two cells wide whatever the locale says.
std::size_t WidestCells(const Piece& piece) {
    const bool emoji =
        piece.kind == ClusterBreak::kPictographic || piece.kind == ClusterBreak::kRegionalIndicator;
    return emoji ? std::max<std::size_t>(piece.cells, 2) : piece.cells;
}

std::size_t CursorIndexFrom(LineModel& model, std::size_t index, std::size_t at) {
    const ClusterTable& table = model.clusters;
    while (index < table.count && at < model.line.cursor) {
        at += table.list[index++].bytes;
    }
    model.line.cursor = at;
    return index;
}

std::size_t GuessedIn(const Cluster* list, std::size_t count) {
    return static_cast<std::size_t>(
        std::count_if(list, list + count, [](const Cluster& cluster) { return cluster.guessed; }));
}

}  // namespace

Cluster ClusterAt(const TextFacts& facts, std::string_view text) {
    const Piece first = PieceAt(facts, text);
    ClusterState state = ClusterStart(first.kind);
    std::size_t bytes = first.bytes;
    std::size_t widest = WidestCells(first);
    std::size_t cells = first.cells;
    bool emoji = first.emoji || first.kind == ClusterBreak::kRegionalIndicator ||
                 first.kind == ClusterBreak::kPictographic;
    std::size_t pieces = 1;
    while (bytes < text.size() && facts.kind != TextKind::kAscii) {
        const Piece next = PieceAt(facts, text.substr(bytes));
        if (!ClusterJoins(state, next.kind)) {
            break;
        }
        bytes += next.bytes;
        cells += next.cells;
        widest += WidestCells(next);
        emoji = emoji || next.emoji || next.kind == ClusterBreak::kPictographic ||
                next.kind == ClusterBreak::kRegionalIndicator;
        ++pieces;
    }
    Cluster cluster;
    cluster.bytes = static_cast<std::uint16_t>(bytes);
    cluster.shown = first.shown;
    // Emoji joined, or a flag's half: as many cells as a terminal that does
    // not join them draws, never fewer than two.
    cluster.guessed = emoji && (pieces > 1 || first.kind == ClusterBreak::kRegionalIndicator);
    cluster.cells =
        static_cast<std::uint16_t>(cluster.guessed ? std::max<std::size_t>(widest, 2) : cells);
    if (cluster.guessed && facts.learned != nullptr) {
        if (const std::size_t learned = facts.learned(text.substr(0, bytes)); learned > 0) {
            cluster.cells = static_cast<std::uint16_t>(learned);
            cluster.guessed = false;
        }
    }
    return cluster;
}

void ModelFindClusters(LineModel& model) {
    ClusterTable& table = model.clusters;
    const std::string_view text = LineText(model.line);
    table.count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Cluster cluster = ClusterAt(model.text, text.substr(at));
        table.list[table.count++] = cluster;
        at += cluster.bytes;
    }
    table.guessed = GuessedIn(table.list.data(), table.count);
    table.cursor = CursorIndexFrom(model, 0, 0);
    model.view_valid = 0;
}

void ModelRefindClusters(LineModel& model, std::size_t first, std::size_t start, std::size_t old_to,
                         std::size_t new_to) {
    static std::array<Cluster, kEditedLineCapacity> found;
    std::size_t found_count = 0;
    ClusterTable& table = model.clusters;
    const std::string_view text = LineText(model.line);
    std::size_t old_index = first;
    std::size_t old_end = start;
    std::size_t at = start;
    bool lined_up = false;
    while (at < text.size() && !lined_up) {
        const Cluster cluster = ClusterAt(model.text, text.substr(at));
        found[found_count++] = cluster;
        at += cluster.bytes;
        if (at >= new_to) {
            // An edge the old clusters had too: the rest is as it was, for a
            // cluster after an edge depends on nothing before it.
            const std::size_t old_at = at - new_to + old_to;
            while (old_index < table.count && old_end < old_at) {
                old_end += table.list[old_index++].bytes;
            }
            lined_up = old_end == old_at;
        }
    }
    if (!lined_up) {
        old_index = table.count;
    }
    table.guessed -= GuessedIn(table.list.data() + first, old_index - first);
    table.guessed += GuessedIn(found.data(), found_count);
    std::memmove(table.list.data() + first + found_count, table.list.data() + old_index,
                 (table.count - old_index) * sizeof(Cluster));
    std::copy_n(found.data(), found_count, table.list.data() + first);
    table.count = table.count - (old_index - first) + found_count;
    table.cursor = CursorIndexFrom(model, first, start);
    model.view_valid = std::min(model.view_valid, first);
}

TextPrefix WholeCharactersOf(const TextFacts& facts, std::string_view text, std::size_t room) {
    TextPrefix prefix;
    while (prefix.bytes < text.size()) {
        const std::size_t next = prefix.bytes + ClusterAt(facts, text.substr(prefix.bytes)).bytes;
        if (next > room) {
            break;
        }
        prefix.bytes = next;
        ++prefix.characters;
    }
    return prefix;
}
