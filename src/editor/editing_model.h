// The editing model behind every prompt at a terminal or console, with no
// I/O and no lock: keys in, and out the line, the cursor, what to draw and
// whether the line is done, the input ended or the line was abandoned. A
// hidden field is the same model with nothing of the line drawn.
#pragma once

#include <array>
#include <cstddef>
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
};

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
};

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
struct LineView {
    std::array<char, 256 + 2 * kEditedLineCapacity + 96> bytes{};
    std::size_t length = 0;
    std::size_t cells = 0;
    std::size_t cursor = 0;
    std::string_view Text() const { return std::string_view(bytes.data(), length); }
};

void ModelView(const LineModel& model, std::string_view prompt, int columns, LineView& view);

// The start of `text` that holds whole characters in at most `room` bytes: its
// bytes, and how many characters they are (a combining mark goes with the
// character before it).
TextPrefix WholeCharactersOf(const TextFacts& facts, std::string_view text, std::size_t room);

// The names the text before the cursor starts, listed in lines of at most
// `columns` cells, for kListNames.
std::size_t ModelListNames(const LineModel& model, int columns, std::span<char> listed);
