// The editing model behind every prompt at a terminal or console, with no
// I/O and no lock: keys in, and out the line, the cursor, what to draw and
// whether the line is done, the input ended or the line was abandoned. A
// hidden field is the same model with nothing of the line drawn.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "editor/command_history.h"
#include "editor/edited_line.h"
#include "editor/keys.h"
#include "platform/os_terminal.h"
#include "text/text_stream.h"

// What the editor knows of the text's encoding, from the terminal: the kind,
// and where a character ends and how many cells it takes (OsTextCharacter at
// a terminal; tests give their own).
struct TextFacts {
    TextKind kind = TextKind::kAscii;
    TextCharacter (*character)(std::string_view text) = nullptr;
    // The cells the terminal was seen to draw a cluster of several code
    // points in; 0 where not known.
    std::size_t (*learned)(std::string_view cluster) = nullptr;
};

// How a cluster is drawn: as it is, a control character as ^ and a letter,
// a C1 control as M-^ and a letter, a byte that is no character as '?'.
enum class Shown : unsigned char { kAsIs, kControl, kC1, kUnknownByte };

// One unit of the line for the cursor, Backspace, Delete and the cut: a
// character with the marks, joiners and selectors that join it (a grapheme
// cluster). `guessed`: the terminal may join it into fewer cells than
// `cells`, the most it can take.
struct Cluster {
    std::uint16_t bytes = 1;
    std::uint16_t cells = 1;
    Shown shown = Shown::kAsIs;
    bool guessed = false;
};

// The cluster `text` starts with (at least one byte).
Cluster ClusterAt(const TextFacts& facts, std::string_view text);

// The line's clusters, kept as the line changes: the cursor's index, and how
// many have guessed cells.
struct ClusterTable {
    std::array<Cluster, kEditedLineCapacity> list{};
    std::size_t count = 0;
    std::size_t cursor = 0;
    std::size_t guessed = 0;
};

struct LineView;

struct LineModel {
    EditedLine line;
    HistoryPosition position;
    const CommandHistory* history = nullptr;  // the command prompt's; null at a field
    std::span<const std::string_view> names;  // Tab completes these; empty at a field
    bool hidden = false;
    TextFacts text;
    // Ctrl-R: the text searched for, and the history entry that has it
    // (0: none yet, or none found).
    bool searching = false;
    bool search_failed = false;
    std::array<char, 64> query{};
    std::size_t query_length = 0;
    std::size_t found = 0;
    EditedLine before_search;
    ClusterTable clusters;
    // The view last drawn from this model, and how many of its clusters it
    // still shows where they are.
    mutable const LineView* view_of = nullptr;
    mutable std::size_t view_valid = 0;
};

// The clusters found again from the line's whole text, the cursor moved to
// the end of the cluster it stands in.
void ModelFindClusters(LineModel& model);

// The table after bytes [from, old_to) of the line became [from, new_to):
// found again from cluster `first` (starting at byte `start`, at or before
// `from`) up to where the old clusters line up again; the cursor, at or after
// `start`, goes to a cluster's edge.
void ModelRefindClusters(LineModel& model, std::size_t first, std::size_t start, std::size_t old_to,
                         std::size_t new_to);

// Starts a line: empty, the search off. `history` and `names` only at the
// command prompt.
void ModelStart(LineModel& model, const CommandHistory* history,
                std::span<const std::string_view> names, bool hidden, TextFacts text);

enum class KeyOutcome {
    kGoOn,         // draw the line again if it changed
    kListNames,    // Tab found several names: list them, then draw the line again
    kDone,         // Enter: the line is typed
    kEnded,        // Ctrl-D on an empty line: the end of input
    kAbandoned,    // Ctrl-C: the line, and the command it belongs to, are dropped
    kFull,         // the key did not fit in the line: a sign that it was not taken
    kRedrawAtTop,  // Ctrl-L: clear the screen, then draw the line again
};

KeyOutcome ModelKey(LineModel& model, Key key);

// What the screen shows: the prompt and the line (or the search) as bytes to
// print, how many cells they take, and the cell the cursor is in. Cells are
// counted as a terminal `columns` wide fills them: a wide character that does
// not fit in a row's last cell goes to the next row, leaving the cell blank.
// Where a cluster starts in the view: its byte in the line and in the view,
// its cell, and the row it is on (the view's byte where the row starts, and
// the cells used on it).
struct ViewMark {
    std::uint16_t line_byte = 0;
    std::uint16_t byte = 0;
    std::uint16_t cell = 0;
    std::uint16_t row_start = 0;
    std::uint16_t row_used = 0;
};

// With `explicit_rows` (a cluster's cells are guessed), each row ends in CR
// LF where the line's cells say, so a terminal that draws a cluster in fewer
// cells never has the rows differ; the cursor is put back by drawing its row
// again up to it: bytes [cursor_row_start, cursor_byte).
struct LineView {
    std::array<char, 256 + 3 * kEditedLineCapacity + 96> bytes{};
    std::size_t length = 0;
    std::size_t cells = 0;
    std::size_t cursor = 0;
    bool explicit_rows = false;
    std::size_t cursor_row_start = 0;
    std::size_t cursor_byte = 0;
    std::string_view Text() const { return std::string_view(bytes.data(), length); }
    // For drawing again only what changed.
    std::array<ViewMark, kEditedLineCapacity + 1> marks{};
    std::size_t columns = 0;
    std::string_view prompt;
};

void ModelView(const LineModel& model, std::string_view prompt, int columns, LineView& view);

// The start of `text` that holds whole characters in at most `room` bytes: its
// bytes, and how many characters they are (a character keeps what joins it:
// marks, joiners, selectors; what does not fit is left out whole).
TextPrefix WholeCharactersOf(const TextFacts& facts, std::string_view text, std::size_t room);

// The names the text before the cursor starts, listed in lines of at most
// `columns` cells, for kListNames.
std::size_t ModelListNames(const LineModel& model, int columns, std::span<char> listed);
